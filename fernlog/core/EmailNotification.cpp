#include "core/EmailNotification.h"

#include <QHash>
#include <QVariant>
#include <algorithm>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "core/Journal.h"
#include "core/Notices.h"
#include "core/Outbox.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace EmailNotification {
namespace {

const QString kCR = QStringLiteral("\r");
const QString kSenderName = QStringLiteral("Corvane Vantor-E");
const QString kMailErrorKey = QStringLiteral("Error sending Alarm Email");
// The outbox's names for a device failure notice: by tblServerFailures row,
// and by journal ref while the row waits to be written.
const QString kFailureReceipt = QStringLiteral("server-failure");
const QString kWaitingFailureReceipt = QStringLiteral("server-failure-ref");

// What the program knows of a device's open outage row, database or not.
using KnownFailure = Journal::Known;
// Per device: what the database said last, with what was written since.
QHash<qint64, KnownFailure>& LastFailures() {
    static QHash<qint64, KnownFailure> known;
    return known;
}

bool FailureChangesWaitFor(qint64 deviceId) {
    return Journal::ChangesWaitFor(deviceId, false);
}

KnownFailure WithWaiting(const KnownFailure& k, qint64 deviceId) {
    return Journal::WithWaiting(k, deviceId, false);
}

// The database's open row of the device; `read` false when it cannot say.
KnownFailure ReadFailure(qint64 deviceId, bool& read) {
    ServerDatabase::OpenRecord open;
    read = ServerDatabase::ReadOpenFailure(deviceId, open);
    if (!read || open.id == 0) return {};
    return KnownFailure{true, open.id, 0, open.start, open.emailSent};
}

KnownFailure CurrentFailure(qint64 deviceId) {
    bool read = false;
    const KnownFailure base = ReadFailure(deviceId, read);
    return WithWaiting(read ? base : LastFailures().value(deviceId), deviceId);
}

// Its e-mail was attempted, or is on its way: one e-mail per outage.
bool Mailed(const KnownFailure& k) {
    return (!k.emailSent.isEmpty() && k.emailSent != QLatin1String("False")) ||
           (k.row > 0 && Outbox::Pending(kFailureReceipt, k.row)) ||
           (k.ref > 0 && Outbox::Pending(kWaitingFailureReceipt, k.ref));
}

Journal::Change FailureChange(Journal::Kind kind, qint64 deviceId, const KnownFailure& k) {
    Journal::Change c;
    c.kind = kind;
    c.owner = deviceId;
    c.row = k.row;
    c.ref = k.row > 0 ? 0 : k.ref;
    return c;
}

void FailureMailed(qint64 row, qint64 ref, bool sent, const QString& reason) {
    Journal::Change c;
    c.kind = Journal::Kind::FailureUpdate;
    c.row = row;
    c.ref = ref;
    c.emailSent = sent ? Clock::DbStamp() : reason;
    Journal::Write(c);
    for (KnownFailure& k : LastFailures()) {
        if (row > 0 && k.row == row) k.emailSent = *c.emailSent;
    }
}

// Registered as the program loads (see Outbox::SetReceiptHandler and
// Journal::SetWrittenHandler).
[[maybe_unused]] const bool kReceiptKnown =
    Outbox::SetReceiptHandler(kFailureReceipt,
                              [](qint64 row, bool sent, const QString& reason) {
                                  FailureMailed(row, 0, sent, reason);
                              }) &&
    Outbox::SetReceiptHandler(kWaitingFailureReceipt,
                              [](qint64 ref, bool sent, const QString& reason) {
                                  FailureMailed(0, ref, sent, reason);
                              }) &&
    Journal::SetWrittenHandler(
        Journal::Kind::FailureOpen,
        [](const Journal::Change& c, qint64 row) {
            Outbox::Rebind(kWaitingFailureReceipt, c.ref, kFailureReceipt, row);
            LastFailures()[c.owner] = KnownFailure{true, row, 0, c.time, QStringLiteral("False")};
        }) &&
    Journal::SetWrittenHandler(Journal::Kind::FailureBack,
                               [](const Journal::Change& c, qint64 row) {
                                   if (LastFailures().value(c.owner).row == row) {
                                       LastFailures().remove(c.owner);
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
    ServerDatabase::ServerRow device;
    if (!ServerDatabase::ReadServer(deviceId, device)) {
        errorText = QStringLiteral("The device %1 was not found in the database.").arg(deviceId);
        return false;
    }
    return SendAlarmEmail(device.emailList, sensorName, device.name, cause, errorText);
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

QString DurationText(qint64 seconds) {
    const qint64 minutes = std::max<qint64>(0, seconds) / 60;
    const auto part = [](qint64 n, const char* unit) {
        return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(unit),
                                                    n == 1 ? QString() : QStringLiteral("s"));
    };
    if (minutes < 60) return part(minutes, "minute");
    if (minutes < 24 * 60) {
        return part(minutes / 60, "hour") +
               (minutes % 60 ? QStringLiteral(" ") + part(minutes % 60, "minute") : QString());
    }
    const qint64 hours = minutes / 60;
    return part(hours / 24, "day") +
           (hours % 24 ? QStringLiteral(" ") + part(hours % 24, "hour") : QString());
}

bool PostAlarmNotice(AlarmNotice kind, const QString& addresses, const QString& sensorName,
                     const QString& deviceName, const QDateTime& start,
                     const QString& latestReading, int number, QString& errorText) {
    Mail::Message message;
    if (!message.AddRecipients(addresses)) {
        errorText = message.LastError();
        return false;
    }
    const bool reminder = kind == AlarmNotice::Reminder;
    message.SetSubject(
        (reminder ? QStringLiteral("Reminder: Sensor: ") : QStringLiteral("Escalation: Sensor: ")) +
        sensorName + QStringLiteral(" is still in alarm"));
    message.SetFromAddress(ConfigParameters.FromAddress.Text());
    message.SetBody(QStringLiteral("This email has been sent by: ") + kCR +
                    ConfigParameters.OrgName.Text() + kCR + ConfigParameters.OrgAddress.Text() +
                    kCR + kCR + sensorName + QStringLiteral(" connected to server ") + deviceName +
                    QStringLiteral(" is still in alarm and nobody has acknowledged it.") + kCR +
                    kCR +
                    (reminder ? QStringLiteral("This is reminder %1.").arg(number)
                              : QStringLiteral("This alarm has been escalated to you.")) +
                    kCR + QStringLiteral("Alarm started: ") + Clock::GeneralDateText(start) + kCR +
                    QStringLiteral("In alarm for: ") + DurationText(start.secsTo(Clock::Now())) +
                    kCR + QStringLiteral("Latest reading: ") + latestReading);
    message.SetFromName(QStringLiteral("Corvane Vantor"));
    Outbox::Post(
        message, AlarmReportFileName(), QString::fromLatin1(Outbox::kNoReceipt), 0,
        reminder ? QStringLiteral("SendReminderEmail") : QStringLiteral("SendEscalationEmail"));
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

namespace {
// The outage's first failed cycle: booked, at once or through the journal.
void OpenFailure(const ServerDatabase::ServerRow& server, int attempts) {
    Journal::Change open;
    open.kind = Journal::Kind::FailureOpen;
    open.owner = server.id;
    open.ref = Journal::NewRef();
    open.time = Clock::DbStamp();
    open.server = server.name;
    const qint64 row = Journal::Write(open);
    LastFailures()[server.id] =
        KnownFailure{true, row, row > 0 ? 0 : open.ref, open.time, QStringLiteral("False")};
    EventLog::Warning(QStringLiteral("Device ") + server.name + QStringLiteral(" at ") + server.ip +
                      QStringLiteral(" did not answer ") + QString::number(attempts) +
                      QStringLiteral(" request(s) for data"));
}

// The outage's second failed cycle: its one e-mail (EmailSent is written
// when the delivery ends, or now when it cannot be made).
void MailFailure(const ServerDatabase::ServerRow& server, int attempts, const KnownFailure& k) {
    const QString text = QStringLiteral("The device: ") + server.name +
                         QStringLiteral(", did not respond to ") + QString::number(attempts) +
                         QStringLiteral(" request(s) for data.  The servers's IP address is: ") +
                         server.ip;
    QString errorText;
    // Held back while a silence or maintenance covers the device: the
    // record says why, and the end tells the failure if it goes on.
    QString silence;
    const bool silenced = Silences::Covers(server.id, Silences::kDevice, Clock::Now(), &silence);
    if (silenced) {
        errorText = QStringLiteral("No device failure email was sent: ") + silence;
        EventLog::Info(QStringLiteral("Device failure e-mail held back: ") + silence);
    }
    if (!silenced) {
        Notices::Tell(Notices::DeviceEvent(QStringLiteral("device.down"), server.id, server.name,
                                           server.ip, text));
    }
    const bool posted =
        !silenced &&
        PostTextEmail(text, errorText, k.row > 0 ? kFailureReceipt : kWaitingFailureReceipt,
                      k.row > 0 ? k.row : k.ref);
    Journal::Change mailed = FailureChange(Journal::Kind::FailureUpdate, server.id, k);
    mailed.serverName = server.name;
    if (!posted) mailed.emailSent = errorText;
    Journal::Write(mailed);
    if (!posted && LastFailures().value(server.id).row == k.row) {
        LastFailures()[server.id].emailSent = errorText;
    }
}
}  // namespace

QString FailureMailReceipt() {
    return kFailureReceipt;
}

bool RecordServerFailure(const ServerDatabase::ServerRow& server, int attempts) {
    using ServerDatabase::FailureRows;
    const qint64 deviceId = server.id;
    // While the journal holds part of the outage, or the database cannot be
    // read, what the program knows decides.
    const auto byWhatIsKnown = [&](const KnownFailure& k) {
        if (!k.open) {
            OpenFailure(server, attempts);
        } else if (!Mailed(k)) {
            MailFailure(server, attempts, k);
        }
        return true;
    };
    const auto unreadable = [&] {
        return byWhatIsKnown(WithWaiting(LastFailures().value(deviceId), deviceId));
    };
    if (FailureChangesWaitFor(deviceId)) return byWhatIsKnown(CurrentFailure(deviceId));

    ServerDatabase::OpenRecord row;
    if (!ServerDatabase::ReadFailureRow(deviceId, FailureRows::OpenNotMailed, row)) {
        return unreadable();
    }
    if (row.id == 0) {
        // A new outage is booked in its first cycle and mailed in the next;
        // an outage already mailed adds nothing.
        if (!ServerDatabase::ReadFailureRow(deviceId, FailureRows::OpenMailed, row)) {
            return unreadable();
        }
        if (row.id > 0) {
            LastFailures()[deviceId] = KnownFailure{true, row.id, 0, row.start, row.emailSent};
            return true;
        }
        if (!ServerDatabase::ReadFailureRow(deviceId, FailureRows::NotOffLineNotMailed, row)) {
            return unreadable();
        }
        if (row.id > 0) return true;
        OpenFailure(server, attempts);
        return true;
    }
    const KnownFailure k{true, row.id, 0, row.start, QStringLiteral("False")};
    LastFailures()[deviceId] = k;
    if (!Mailed(k)) MailFailure(server, attempts, k);
    return true;
}

std::optional<ServerDatabase::ClosedFailure> RecordServerBackOnline(
    const ServerDatabase::ServerRow& server) {
    const qint64 deviceId = server.id;
    bool read = false;
    KnownFailure k = ReadFailure(deviceId, read);
    if (!read) k = LastFailures().value(deviceId);
    if (!read || FailureChangesWaitFor(deviceId)) k = WithWaiting(k, deviceId);
    if (!k.open) {
        if (read) LastFailures().remove(deviceId);
        return std::nullopt;
    }
    Journal::Change back = FailureChange(Journal::Kind::FailureBack, deviceId, k);
    back.time = Clock::DbStamp();
    // The row is closed at once when nothing waits before it.
    std::optional<ServerDatabase::ClosedFailure> closed;
    QString error;
    if (!(read && Journal::Empty() &&
          ServerDatabase::RecordServerBackOnline(deviceId, &error, &closed))) {
        Journal::Write(back);
    }
    LastFailures().remove(deviceId);
    if (closed) return closed;
    return ServerDatabase::ClosedFailure{k.start, back.time, k.emailSent};
}

void Reset() {
    ProgramMailer() = Mail::Mailer();
}

}  // namespace EmailNotification
