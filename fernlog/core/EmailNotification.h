#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "core/Mailer.h"
#include "core/Outbox.h"
#include "db/ServerDatabase.h"

// Every e-mail fernlog sends, and the device-failure bookkeeping that sends
// one of them. All go through the one program mailer, configured from the
// settings by SetupMailer.
namespace EmailNotification {

// The mailer log file in the program directory.
QString MailLogFileName();  // "Vantor-E_Sent_Mail.log"
// The report of the last exchange, saved after every attempt.
QString AlarmReportFileName();  // "Alarm Email Log.xml" (alarm e-mails)
QString ErrorReportFileName();  // "EmailErrors" (all others)

Mail::Mailer& ProgramMailer();

// Host, port, time-out, SSL and login from ConfigParameters. Without
// Authentication the method is NONE and no credentials are kept, whatever
// the settings still hold.
Mail::MailerSettings AppliedMailerSettings();
// The program mailer and the outbox set up with AppliedMailerSettings().
void SetupMailer();

// "There was an error sending an alarm email <time>", CR, "The email error
// is:", CR, the error: what EmailSent of an alarm or log record says.
QString MailErrorText(const QString& errorText);
// The status list's mail error line: removed after a delivery, `failure`
// after a failed one.
void ShowMailError(bool sent, const QString& failure);

// The stored address list (lines separated by CR LF, or addresses each
// followed by a comma) as one comma-separated text.
bool ParseEmailAddress(const QString& list, QString& result);

// The alarm e-mail to a device's address list. The first form looks the
// device's name and list up in tblServers.
bool SendAlarmEmail(qint64 deviceId, const QString& sensorName, const QString& cause,
                    QString& errorText);
bool SendAlarmEmail(const QString& emailList, const QString& sensorName, const QString& deviceName,
                    const QString& cause, QString& errorText);
// The same message handed to the outbox with the poster's receipt kind and
// row. False (with the reason) only when the message cannot be made (no
// valid address).
bool PostAlarmEmail(const QString& emailList, const QString& sensorName, const QString& deviceName,
                    const QString& cause, qint64 rowId, QString& errorText, const QString& receipt);
bool ComposeAlarmEmail(const QString& emailList, const QString& sensorName,
                       const QString& deviceName, const QString& cause, Mail::Message& message,
                       QString& errorText);

// Recovery notices, through the outbox (a failure goes to the error log when
// its delivery ends). The end of an alarm, to the same addresses as its alarm
// e-mail, with the alarm's start and end and the reading that ended it.
bool SendAlarmEndEmail(const QString& emailList, const QString& sensorName,
                       const QString& deviceName, const QDateTime& start, const QDateTime& end,
                       const QString& reading, QString& errorText);
// A reminder of an alarm still open and unacknowledged (`number`: which
// reminder), or its escalation, through the outbox to a comma-separated
// address list: which it is, since when, how long it has lasted and the
// latest reading.
enum class AlarmNotice { Reminder, Escalation };
bool PostAlarmNotice(AlarmNotice kind, const QString& addresses, const QString& sensorName,
                     const QString& deviceName, const QDateTime& start,
                     const QString& latestReading, int number, QString& errorText);
// "1 hour 5 minutes", "2 days 3 hours", "12 minutes".
QString DurationText(qint64 seconds);

// A device that failed (and whose failure was mailed) answers again; to the
// failure e-mail's address.
bool SendBackOnlineEmail(const QString& deviceName, const QString& address,
                         const QDateTime& offLine, QString& errorText);

// The daily "up and running" e-mail to ServerFailureEmailAddress, through
// the outbox; silent (false) when that is empty, failures go to the error log.
bool SendSytemOKEmail();

// The shutdown e-mail, like SendSytemOKEmail; the stop gives the outbox
// what is left of its time to send it (Startup::StopProgram).
void SendShutdownEmail();

// Device failure and log directory messages to ServerFailureEmailAddress:
// sent at once, or handed to the outbox with what its delivery writes. The
// posting form is false only when the message cannot be made.
bool SendTextEmail(const QString& message, QString& errorText);
bool PostTextEmail(const QString& message, QString& errorText, const QString& receipt,
                   qint64 rowId);
bool ComposeTextEmail(const QString& text, Mail::Message& message, QString& errorText);

// The test e-mail, through a mailer of its own with the program mailer's
// settings, or with `settings` (the settings dialog's copy, with the host
// typed there); the program's mailer and the outbox are not changed. The
// dialog passes the sender address it shows; an empty one means
// FromAddress of the settings.
bool SendTestEmail(const QString& address, QString& errorText,
                   const QString& fromAddress = QString());
bool SendTestEmail(const QString& address, QString& errorText, const QString& fromAddress,
                   const Mail::MailerSettings& settings);

// Called after a device failed every attempt of a polling cycle: books the
// outage in tblServerFailures and mails it once, in the second failed cycle
// (EmailSent is written when that e-mail's delivery ends). While the
// database cannot be read or written, the rows wait in the journal and what
// the program knows of them decides: one row and one e-mail per outage.
bool RecordServerFailure(const ServerDatabase::ServerRow& server, int attempts);
// The outbox receipt kind of a device failure e-mail for a written outage
// row: its delivery writes the row's EmailSent.
QString FailureMailReceipt();

// Called when the device answers: closes its open outage row (at once or
// through the journal) and returns what the row held, when one was open.
std::optional<ServerDatabase::ClosedFailure> RecordServerBackOnline(
    const ServerDatabase::ServerRow& server);

// Back to the state of a fresh start: the program mailer unconfigured.
void Reset();

}  // namespace EmailNotification
