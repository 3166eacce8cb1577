#pragma once

#include <QObject>
#include <QTimer>

// Tells systemd (Type=notify) that fernlog is ready once its first polling
// cycle has ended, or once it knows there is nothing to poll yet, and feeds
// the watchdog while polling cycles end in time (the first half of the
// rule of /healthz); a hung program is then restarted. Without NOTIFY_SOCKET it does nothing.
namespace Web {

class ServiceNotify : public QObject {
  public:
    ServiceNotify();
    // Starts telling; false when no service manager listens.
    bool Start();

  private:
    void Check();
    QTimer timer_;
    bool ready_ = false;
    qint64 watchdogMs_ = 0;  // 0: no watchdog
    qint64 sinceFedMs_ = 0;
};

}  // namespace Web
