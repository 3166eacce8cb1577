// Hosts several simulated devices, each on its own loopback address and port.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include "Device.h"

namespace devsim {

class Simulator : public QObject {
    Q_OBJECT
  public:
    explicit Simulator(QObject* parent = nullptr);
    ~Simulator() override;

    // Creates the device and starts it listening; nullptr (and why, in
    // *error) when it cannot. Only loopback addresses are accepted.
    Device* addDevice(const DeviceConfig& config, QString* error = nullptr);
    // Shorthand for tests: the model on `address`, an ephemeral port.
    Device* addDevice(const QString& address, Model model, QString* error = nullptr);
    // The device stops listening at once and is deleted later; do not use it after this.
    void removeDevice(Device* device);
    void removeAll();

    Device* device(const QHostAddress& address, quint16 port = 0) const;
    QList<Device*> devices() const { return devices_; }

    int totalConnections() const;
    int totalRequests() const;

  signals:
    void deviceAdded(devsim::Device* device);
    void deviceRemoved(devsim::Device* device);

  private:
    QList<Device*> devices_;
};

}  // namespace devsim
