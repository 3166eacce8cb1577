#pragma once

#include <QString>
#include <optional>

#include "web/Listener.h"
#include "web/ServiceNotify.h"

// The web side of a fernlog run: the listener asked for by --http (which
// wins) or by [Web] Listen= in FernlogOptions.ini, and the service
// manager's notifications.
namespace Web {

class Service {
  public:
    // Reads the options file. False with the reason for a bad --http value
    // (the program ends); a bad Listen= in the file only keeps the listener
    // off, which Start tells.
    bool Configure(const std::optional<QString>& httpOption, QString* error = nullptr);
    // Listens, and tells systemd about readiness and liveness; what it does
    // goes to the service log (or standard error without one).
    void Start();
    // The port listened on; 0 when off.
    quint16 Port() const { return listener_.Port(); }

  private:
    std::optional<Endpoint> endpoint_;
    QString refused_;
    Listener listener_;
    ServiceNotify notify_;
};

}  // namespace Web
