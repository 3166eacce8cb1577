#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

// The mail component: SMTP over libcurl. One Mailer for the program, one
// Message per e-mail. The exchange with the server runs in a worker thread
// while the calling (UI) thread waits in a local event loop, bounded by the
// configured time-out. Nothing here throws; failures leave a text in
// LastError().
namespace Mail {

// libcurl's global set-up; call once from main() (and the tests) before any
// mail is sent. Later calls do nothing.
void GlobalInit();

// One recipient of a message.
struct Recipient {
    QString name;  // display name, may be empty
    QString address;
};

class Message {
  public:
    void ClearRecipients();
    // One recipient; false (with LastError) for an address that is not a
    // plain user@domain.
    bool AddRecipient(const QString& name, const QString& address);
    // A comma-separated list. Empty entries (a trailing comma) are skipped;
    // false (and nothing added) when an entry is not an address or the list
    // holds none.
    bool AddRecipients(const QString& list);
    const std::vector<Recipient>& Recipients() const { return recipients_; }

    void SetSubject(const QString& subject) { subject_ = subject; }
    void SetFromName(const QString& name) { fromName_ = name; }
    void SetFromAddress(const QString& address) { fromAddress_ = address.trimmed(); }
    void SetBody(const QString& body) { body_ = body; }
    const QString& Subject() const { return subject_; }
    const QString& FromName() const { return fromName_; }
    const QString& FromAddress() const { return fromAddress_; }
    const QString& Body() const { return body_; }

    QString LastError() const { return lastError_; }

    // The message as it goes over the wire: headers and a quoted-printable
    // UTF-8 text body, every line ended by CR LF.
    QByteArray Compose(const QDateTime& date) const;

    // "a@x, b@y" for logs and reports.
    QString RecipientText() const;

  private:
    std::vector<Recipient> recipients_;
    QString subject_;
    QString fromName_;
    QString fromAddress_;
    QString body_;
    QString lastError_;
};

struct MailerSettings {
    QString host;
    int port = 25;
    int timeoutSeconds = 30;
    // Implicit TLS on port 465; STARTTLS required on any other port.
    bool ssl = false;
    // LOGIN, PLAIN, CRAM-MD5, NTLM or NONE.
    QString authMethod = QStringLiteral("NONE");
    QString userName;
    QString password;
    QString loginDomain;  // NTLM only: sent as DOMAIN\user
};

class Mailer {
  public:
    void Configure(const MailerSettings& settings) { settings_ = settings; }
    const MailerSettings& Settings() const { return settings_; }
    // The settings dialog's test e-mail uses the host typed there.
    MailerSettings& Settings() { return settings_; }

    // The mail log: one line per attempt (time, recipients, subject, result).
    void SetLogFile(const QString& path) { logFile_ = path; }
    const QString& LogFile() const { return logFile_; }
    void LogAttempt(const Message& message, const QString& result);

    // Connects, says EHLO, logs in when configured, NOOP, QUIT. Sends no mail.
    bool VerifyConnection();
    // 1 when the server accepted the message, 0 otherwise (see LastError()).
    int Send(const Message& message);

    QString LastError() const { return lastError_; }
    // Ends the exchange in progress, and every later one, as unanswered; safe
    // from any thread (the program stops while a delivery runs beside it).
    void Cancel() { cancelled_->store(true); }

    // Writes the report of the last exchange (result, error text and the
    // server dialogue with credentials hidden) as a small XML file. False
    // with the reason in *error when it cannot be written whole; then the
    // previous report is left as it was.
    bool SaveLastError(const QString& path, QString* error = nullptr) const;

    // The result of one exchange with the server.
    struct Outcome;

  private:
    Outcome Run(const Message* message);
    void Remember(const Outcome& outcome, const Message* message);

    MailerSettings settings_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    QString logFile_;
    QString lastError_;
    // The last exchange, for SaveLastError().
    QString lastWhat_;
    QString lastRecipients_;
    QString lastSubject_;
    QDateTime lastTime_;
    bool lastOk_ = false;
    QStringList lastTranscript_;
};

}  // namespace Mail
