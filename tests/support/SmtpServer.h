#pragma once

#include <QByteArray>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "support/FernlogFixtures.h"

// A real SMTP server for tests: Debian's aiosmtpd (tests/support/
// smtp_server.py) on a free loopback port, run as a child process for the
// fixture's lifetime. Tests read what it received: envelope, headers, body,
// and the commands of every session.
class SmtpServer {
  public:
    struct Options {
        bool auth = false;  // offer AUTH LOGIN, PLAIN and CRAM-MD5 (no TLS)
        QString user = QStringLiteral("monitor");
        QString password = QStringLiteral("s3cret");
        QString stall;        // a command the server never answers ("NOOP", "DATA", "QUIT", ...)
        QString reject;       // "RCPT" or "DATA": answered "550 5.7.1 Rejected"
        bool silent = false;  // accept connections, never greet
        bool tls = false;     // offer STARTTLS with a self-signed certificate
    };

    // One message as the server received it.
    struct Received {
        QString mailFrom;
        QStringList rcptTos;
        QString login;  // the authenticated user, empty without AUTH
        QByteArray raw;
        QList<QPair<QString, QString>> headers;  // decoded values
        QString body;                            // decoded, lines ended by "\n"
        QStringList defects;

        QString Header(const QString& name) const;  // the first, empty when absent
        int HeaderCount(const QString& name) const;
    };

    SmtpServer();
    explicit SmtpServer(const Options& options);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    bool IsRunning() const { return port_ != 0; }
    QString Error() const { return error_; }
    quint16 Port() const { return port_; }
    const Options& GetOptions() const { return options_; }

    std::vector<Received> Messages() const;
    // "EHLO host", "AUTH LOGIN ok monitor", "NOOP", "MAIL a@b", "RCPT c@d", "DATA", "QUIT".
    QStringList Commands() const;

    // Points ConfigParameters at this server: host 127.0.0.1, its port, the
    // given time-out, no SSL, and its account when it offers AUTH (method
    // LOGIN unless given).
    void UseInSettings(int timeoutSeconds = 5, const QString& method = QString()) const;

    // A loopback port with nothing listening on it.
    static quint16 ClosedPort();

  private:
    Options options_;
    QTemporaryDir spool_;
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
    QString error_;
};

// For tests that send e-mail: a provisioned program directory, libcurl set
// up, and fresh settings with the tests' organisation, sender and
// administrator address.
class MailingTest : public FernlogTest {
  protected:
    void SetUp() override;
    // Runs the event loop until the outbox has delivered what it holds
    // (bounded); false when it did not.
    static bool DeliverOutbox(int timeoutMs = 30000);
};
