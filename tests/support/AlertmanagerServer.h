#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// Debian's Alertmanager on a free 127.0.0.1 port with a storage folder of
// its own and a configuration that notifies nobody, its gossip port off;
// killed at the end. Ready() once it answers /-/ready (bounded wait).
class AlertmanagerServer {
  public:
    AlertmanagerServer();
    ~AlertmanagerServer();
    AlertmanagerServer(const AlertmanagerServer&) = delete;
    AlertmanagerServer& operator=(const AlertmanagerServer&) = delete;

    // The program's path; empty when it is not installed.
    static QString Program();

    bool Ready() const { return ready_; }
    // Why it is not ready, with what it printed.
    QString Problem() const;
    QUrl Url() const { return url_; }

    // The alerts it holds and has not resolved, and every silence it lists
    // (expired ones too); empty arrays when it does not answer in time.
    QJsonArray Alerts() const;
    QJsonArray Silences() const;

  private:
    QJsonArray GetArray(const QString& path) const;

    QTemporaryDir dir_;
    mutable QProcess process_;
    QUrl url_;
    bool ready_ = false;
    QString problem_;
};
