#include "core/EmailNotification.h"

#include <QVariant>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "core/Outbox.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace EmailNotification {
namespace {

const QString kCR = QStringLiteral("\r");
const QString kSenderName = QStringLiteral("Corvane Vantor-E");
const QString kMailErrorKey = QStringLiteral("Error sending Alarm Email");
// The outbox's name for a device failure notice, by tblServerFailures row.
const QString kFailureReceipt = QStringLiteral("server-failure");

// Registered as the program loads (see Outbox::SetReceiptHandler).
[[maybe_unused]] const bool kReceiptKnown =
    Outbox::SetReceiptHandler(kFailureReceipt, [](qint64 row, bool sent, const QString& reason) {
        QString error;
        if (!ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::ServerFailure, row,
                                          sent ? Clock::DbStamp() : reason, &error)) {
            ErrorLog::RecordError(QStringLiteral("Outbox"), error);
        }
    });

// "This email has been sent by:" with the organisation, heading the system
// e-mails.
QString Header() {
    return QStringLiteral("This email has been sent by:") + kCR + ConfigParameters.OrgName.Text() +
           kCR + ConfigParameters.OrgAddress.Text() + kCR + kCR;
}

QString Administrator() {
    return ConfigParameters.ServerFailureEmailAddress.Text();
}

// The administrator field may hold a comma-separated list; a single address
// gets the display name.
bool AddAdministrator(Mail::Message& message, const QString& displayName) {
    const QString address = Administrator();
    if (address.contains(u',')) return message.AddRecipients(address);
    return message.AddRecipient(displayName, address);
}

// Verify, send, save the report: the pattern every e-mail follows. The
// report is saved after a failed check too, so that every failure leaves one.
bool Deliver(const Mail::Message& message, const QString& reportFile, QString& errorText,
             Mail::Mailer& mailer = ProgramMailer()) {
    mailer.SetLogFile(ProgramDir::File(MailLogFileName()));
    const bool sent = mailer.Deliver(message);
    mailer.SaveLastError(ProgramDir::File(reportFile));
    errorText = sent ? QString() : mailer.LastError();
    if (sent) {
        EventLog::Info(QStringLiteral("E-mail sent to ") + message.RecipientText() +
                       QStringLiteral(": ") + message.Subject());
    } else {
        EventLog::Error(QStringLiteral("E-mail to ") + message.RecipientText() +
                        QStringLiteral(" failed (") + message.Subject() + QStringLiteral("): ") +
                        errorText);
    }
    return sent;
}

// Up and running and shutdown: to the administrator through the outbox,
// silent when no address is programmed, failures into the error log.
bool SendSystemEmail(const QString& function, const QString& subject, const QString& text) {
    if (Administrator().isEmpty()) return false;
    Mail::Message message;
    message.ClearRecipients();
    if (!AddAdministrator(message, QStringLiteral("IT Support Team"))) {
        ErrorLog::RecordError(function, message.LastError());
        return false;
    }
    message.SetSubject(subject);
    message.SetFromName(kSenderName);
    message.SetFromAddress(ConfigParameters.FromAddress.Text());
    message.SetBody(Header() + QStringLiteral(" ") + text);
    Outbox::Post(message, ErrorReportFileName(), QString::fromLatin1(Outbox::kNoReceipt), 0,
                 function);
    return true;
}

}  // namespace

QString MailLogFileName() {
    return QStringLiteral("Vantor-E_Sent_Mail.log");
}
QString AlarmReportFileName() {
    return QStringLiteral("Alarm Email Log.xml");
}
QString ErrorReportFileName() {
    return QStringLiteral("EmailErrors");
}

Mail::Mailer& ProgramMailer() {
    static Mail::Mailer mailer;
    return mailer;
}

Mail::MailerSettings AppliedMailerSettings() {
    Mail::MailerSettings s;
    s.host = ConfigParameters.Host.Text();
    // The record holds the port as a signed 16-bit number; ports above 32767
    // come back negative and are meant unsigned.
    s.port = static_cast<quint16>(ConfigParameters.SMTPPort);
    s.timeoutSeconds = ConfigParameters.ServerTimeOut;
    s.ssl = ConfigParameters.SSL == 1;
    if (ConfigParameters.Authentication == 1) {
        s.authMethod = ConfigParameters.AuthenticationMethod.Text();
        s.userName = ConfigParameters.UserName.Text();
        s.password = ConfigParameters.Password.Text();
        s.loginDomain = ConfigParameters.LoginDomain.Text();
    } else {
        s.authMethod = QStringLiteral("NONE");
    }
    return s;
}

void SetupMailer() {
    const Mail::MailerSettings s = AppliedMailerSettings();
    ProgramMailer().Configure(s);
    Outbox::SetMailer(s, ProgramDir::File(MailLogFileName()));
}

QString MailErrorText(const QString& errorText) {
    return QStringLiteral("There was an error sending an alarm email ") + Clock::GeneralDateText() +
           kCR + QStringLiteral("The email error is:") + kCR + errorText;
}

void ShowMailError(bool sent, const QString& failure) {
    StatusList::ShowStatus(kMailErrorKey, sent ? QStringLiteral("delete") : failure);
}

bool ParseEmailAddress(const QString& list, QString& result) {
    // Every line break, whichever form it takes, ends one address.
    result = list;
    result.replace(QStringLiteral("\r\n"), QStringLiteral(","));
    result.replace(u'\r', u',');
    result.replace(u'\n', u',');
    return true;
}

bool SendAlarmEmail(qint64 deviceId, const QString& sensorName, const QString& cause,
                    QString& errorText) {
    QVariant name, list;
    if (!ServerDatabase::GetFieldByID(deviceId, QStringLiteral("tblServers"),
                                      QStringLiteral("ServerName"), name) ||
        !ServerDatabase::GetFieldByID(deviceId, QStringLiteral("tblServers"),
                                      QStringLiteral("EmailAddress"), list)) {
        errorText = QStringLiteral("The device %1 was not found in the database.").arg(deviceId);
        return false;
    }
    return SendAlarmEmail(list.toString(), sensorName, name.toString(), cause, errorText);
}

bool SendAlarmEmail(const QString& emailList, const QString& sensorName, const QString& deviceName,
                    const QString& cause, QString& errorText) {
    Mail::Message message;
    return ComposeAlarmEmail(emailList, sensorName, deviceName, cause, message, errorText) &&
           Deliver(message, AlarmReportFileName(), errorText);
}

bool PostAlarmEmail(const QString& emailList, const QString& sensorName, const QString& deviceName,
                    const QString& cause, qint64 rowId, QString& errorText,
                    const QString& receipt) {
    Mail::Message message;
    if (!ComposeAlarmEmail(emailList, sensorName, deviceName, cause, message, errorText)) {
        return false;
    }
    Outbox::Post(message, AlarmReportFileName(), receipt, rowId);
    return true;
}

bool ComposeAlarmEmail(const QString& emailList, const QString& sensorName,
                       const QString& deviceName, const QString& cause, Mail::Message& message,
                       QString& errorText) {
    QString addresses;
    if (!ParseEmailAddress(emailList, addresses)) {
        errorText = QStringLiteral("Error in ParseEmailAddress()");
        return false;
    }
    if (!message.AddRecipients(addresses)) {
        errorText = message.LastError();
        return false;
    }
    message.SetSubject(QStringLiteral("Sensor: ") + sensorName +
                       QStringLiteral(" has generated an alarm!"));
    message.SetFromAddress(ConfigParameters.FromAddress.Text());
    message.SetBody(QStringLiteral("This email has been sent by: ") + kCR +
                    ConfigParameters.OrgName.Text() + kCR + ConfigParameters.OrgAddress.Text() +
                    kCR + kCR + sensorName + QStringLiteral(" connected to server ") + deviceName +
                    QStringLiteral(" has generated an alarm!") + kCR + kCR + cause);
    message.SetFromName(QStringLiteral("Corvane Vantor"));
    return true;
}

bool SendAlarmEndEmail(const QString& emailList, const QString& sensorName,
                       const QString& deviceName, const QDateTime& start, const QDateTime& end,
                       const QString& reading, QString& errorText) {
    QString addresses;
    ParseEmailAddress(emailList, addresses);
    Mail::Message message;
    if (!message.AddRecipients(addresses)) {
        errorText = message.LastError();
        return false;
    }
    message.SetSubject(QStringLiteral("Sensor: ") + sensorName +
                       QStringLiteral(" is back to normal"));
    message.SetFromAddress(ConfigParameters.FromAddress.Text());
    message.SetBody(QStringLiteral("This email has been sent by: ") + kCR +
                    ConfigParameters.OrgName.Text() + kCR + ConfigParameters.OrgAddress.Text() +
                    kCR + kCR + sensorName + QStringLiteral(" connected to server ") + deviceName +
                    QStringLiteral(" is back to normal.") + kCR + kCR +
                    QStringLiteral("Alarm started: ") + Clock::GeneralDateText(start) + kCR +
                    QStringLiteral("Alarm ended: ") + Clock::GeneralDateText(end) + kCR +
                    QStringLiteral("Reading: ") + reading);
    message.SetFromName(QStringLiteral("Corvane Vantor"));
    Outbox::Post(message, AlarmReportFileName(), QString::fromLatin1(Outbox::kNoReceipt), 0,
                 QStringLiteral("SendAlarmEndEmail"));
    return true;
}

bool SendBackOnlineEmail(const QString& deviceName, const QString& address,
                         const QDateTime& offLine, QString& errorText) {
    return PostTextEmail(QStringLiteral("The device: ") + deviceName +
                             QStringLiteral(", is back online and answering requests for data "
                                            "again.  It did not respond from ") +
                             Clock::GeneralDateText(offLine) + QStringLiteral(" to ") +
                             Clock::GeneralDateText() +
                             QStringLiteral(".  The servers's IP address is: ") + address,
                         errorText, QString::fromLatin1(Outbox::kNoReceipt), 0);
}

bool SendSytemOKEmail() {
    return SendSystemEmail(QStringLiteral("SendSytemOKEmail"),
                           QStringLiteral("Corvane Vantor-E is up and running!"),
                           QStringLiteral("Fernlog is up and running.") + kCR + kCR);
}

void SendShutdownEmail() {
    SendSystemEmail(QStringLiteral("SendShutdownEmail"),
                    QStringLiteral("Corvane Vantor-E has been shutdown!"),
                    QStringLiteral("Fernlog has been shut down ") + Clock::GeneralDateText() +
                        QStringLiteral(" and is no longer logging data.") + kCR + kCR);
}

bool SendTextEmail(const QString& text, QString& errorText) {
    Mail::Message message;
    if (!ComposeTextEmail(text, message, errorText)) return false;
    if (!Deliver(message, ErrorReportFileName(), errorText)) {
        ErrorLog::RecordToldError(QStringLiteral("SendTextEmail"), errorText);
        return false;
    }
    return true;
}

bool PostTextEmail(const QString& text, QString& errorText, const QString& receipt, qint64 rowId) {
    Mail::Message message;
    if (!ComposeTextEmail(text, message, errorText)) return false;
    Outbox::Post(message, ErrorReportFileName(), receipt, rowId, QStringLiteral("SendTextEmail"));
    return true;
}

bool ComposeTextEmail(const QString& text, Mail::Message& message, QString& errorText) {
    if (Administrator().isEmpty()) {
        errorText = QStringLiteral("Device failure email address has not been programmed.");
        return false;
    }
    message.ClearRecipients();
    if (!AddAdministrator(message, QStringLiteral("IT Support Team"))) {
        errorText = message.LastError();
        ErrorLog::RecordError(QStringLiteral("SendTextEmail"), errorText);
        return false;
    }
    message.SetSubject(QStringLiteral("Message from Corvane Vantor-E"));
    message.SetFromName(kSenderName);
    message.SetFromAddress(ConfigParameters.FromAddress.Text());
    message.SetBody(Header() + QStringLiteral(" ") + text + QStringLiteral("."));
    return true;
}

bool SendTestEmail(const QString& address, QString& errorText, const QString& fromAddress) {
    return SendTestEmail(address, errorText, fromAddress, ProgramMailer().Settings());
}

bool SendTestEmail(const QString& address, QString& errorText, const QString& fromAddress,
                   const Mail::MailerSettings& settings) {
    Mail::Message message;
    message.ClearRecipients();
    if (!message.AddRecipient(QStringLiteral("Corvane Vantor-E Test Message"), address)) {
        errorText = message.LastError();
        ErrorLog::RecordError(QStringLiteral("SendTestEmail"), errorText);
        return false;
    }
    message.SetSubject(QStringLiteral("Message from Corvane Vantor-E"));
    message.SetFromName(kSenderName);
    message.SetFromAddress(fromAddress.trimmed().isEmpty() ? ConfigParameters.FromAddress.Text()
                                                           : fromAddress.trimmed());
    message.SetBody(QStringLiteral("This test email has been sent by ") +
                    ConfigParameters.OrgName.Text() + QStringLiteral(" located at ") +
                    ConfigParameters.OrgAddress.Text() + QStringLiteral(".  "));
    Mail::Mailer mailer;
    mailer.Configure(settings);
    if (!Deliver(message, ErrorReportFileName(), errorText, mailer)) {
        ErrorLog::RecordToldError(QStringLiteral("SendTestEmail"), errorText);
        return false;
    }
    return true;
}

bool RecordServerFailure(const ServerDatabase::ServerRow& server, int attempts) {
    using ServerDatabase::FailureRows;
    const qint64 deviceId = server.id;
    const QString& deviceName = server.name;
    const QString& ip = server.ip;

    ServerDatabase::Recordset unmailed;
    int count = 0;
    if (!ServerDatabase::ServerFailureRows(deviceId, FailureRows::OpenNotMailed, unmailed, count)) {
        return false;
    }
    if (count == 0) {
        // A new outage is booked in its first cycle and mailed in the next;
        // an outage already mailed adds nothing.
        unmailed.Release();
        ServerDatabase::Recordset rows;
        if (!ServerDatabase::ServerFailureRows(deviceId, FailureRows::OpenMailed, rows, count)) {
            return false;
        }
        if (count > 0) return true;
        rows.Release();
        if (!ServerDatabase::ServerFailureRows(deviceId, FailureRows::NotOffLineNotMailed, rows,
                                               count)) {
            return false;
        }
        if (count > 0) return true;
        rows.Release();
        // Told once the outage is booked: while the database refuses it, the
        // next cycle tries again, and the log would say it every cycle.
        if (!ServerDatabase::AddServerFailure(deviceId, deviceName)) return false;
        EventLog::Warning(QStringLiteral("Device ") + deviceName + QStringLiteral(" at ") + ip +
                          QStringLiteral(" did not answer ") + QString::number(attempts) +
                          QStringLiteral(" request(s) for data"));
        return true;
    }

    // Its e-mail is on its way: the row is written when the delivery ends.
    const qint64 rowId = unmailed.Value(QStringLiteral("IDNum")).toLongLong();
    if (Outbox::Pending(kFailureReceipt, rowId)) return true;
    const QString text = QStringLiteral("The device: ") + deviceName +
                         QStringLiteral(", did not respond to ") + QString::number(attempts) +
                         QStringLiteral(" request(s) for data.  The servers's IP address is: ") +
                         ip;
    QString errorText;
    const bool posted = PostTextEmail(text, errorText, kFailureReceipt, rowId);
    unmailed.SetValue(QStringLiteral("ServerName"), deviceName);
    if (!posted) unmailed.SetValue(QStringLiteral("EmailSent"), errorText);
    if (!unmailed.Update()) {
        ErrorLog::RecordError(QStringLiteral("RecordServerFailure"), unmailed.Error());
        return false;
    }
    return true;
}

void Reset() {
    ProgramMailer() = Mail::Mailer();
}

}  // namespace EmailNotification
