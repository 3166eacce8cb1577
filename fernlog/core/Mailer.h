#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// The mail component: SMTP over libcurl. One Mailer for the program, one
// Message per e-mail. The exchange with the server runs on a worker thread
// (common/Async) while the main thread waits in a local event loop, bounded
// by the configured time-out, or goes on and is called back. The mail log
// and the reports are written on the main thread only. Nothing here throws;
// failures leave a text in LastError().
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

struct Job;           // one exchange with the server (Mailer.cpp)
struct Cancellation;  // what Cancel reaches of the exchanges (Mailer.cpp)

class Mailer {
  public:
    Mailer();
    void Configure(const MailerSettings& settings) { settings_ = settings; }
    const MailerSettings& Settings() const { return settings_; }

    // The mail log: one line per attempt (time, recipients, subject, result).
    void SetLogFile(const QString& path) { logFile_ = path; }
    const QString& LogFile() const { return logFile_; }
    void LogAttempt(const Message& message, const QString& result);

    // Connects, says EHLO, logs in when configured, NOOP, QUIT. Sends no mail.
    bool VerifyConnection();
    // 1 when the server accepted the message, 0 otherwise (see LastError()).
    int Send(const Message& message);
    // What every e-mail does: the connection check, then the message; the
    // attempt's line goes into the mail log either way. True when sent.
    bool Deliver(const Message& message);
    // The same beside the caller, who goes on: `accepted(sent)` runs on the
    // main thread as soon as the server has answered the message (after the
    // mail log line, before QUIT), `ended()` once the exchange is over.
    // Neither runs once `context` is destroyed; the mailer must outlive it.
    void DeliverBeside(const Message& message, QObject* context,
                       std::function<void(bool sent)> accepted, std::function<void()> ended);

    QString LastError() const { return lastError_; }
    // Ends the exchange in progress at once, whatever it waits for (the
    // answer to QUIT too), and every later one, as unanswered; safe from any
    // thread (the program stops while a delivery runs beside it).
    void Cancel();

    // Writes the report of the last exchange (result, error text and the
    // server dialogue with credentials hidden) as a small XML file. False
    // with the reason in *error when it cannot be written whole; then the
    // previous report is left as it was.
    bool SaveLastError(const QString& path, QString* error = nullptr) const;

    // The result of one exchange with the server.
    struct Outcome;

  private:
    // The exchange for `message` (a connection check without one), or none
    // with the reason in `refused` when the settings or the message cannot go.
    std::shared_ptr<Job> Prepare(const Message* message, Outcome& refused) const;
    Outcome Run(const Message* message);
    void Remember(const Outcome& outcome, const Message* message);
    // Remembers and logs an attempt: the check's outcome when the message
    // was not sent for it (`send` null), else the send's; true when sent.
    bool Account(const Message& message, const Outcome& check, const Outcome* send);

    MailerSettings settings_;
    std::shared_ptr<Cancellation> cancelled_;
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
