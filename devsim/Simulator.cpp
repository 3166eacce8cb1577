#include "Simulator.h"

namespace devsim {

Simulator::Simulator(QObject* parent) : QObject(parent) {}

Simulator::~Simulator() {
    removeAll();
}

Device* Simulator::addDevice(const DeviceConfig& config, QString* error) {
    auto* d = new Device(config, this);
    if (!d->start(error)) {
        delete d;
        return nullptr;
    }
    devices_.append(d);
    emit deviceAdded(d);
    return d;
}

Device* Simulator::addDevice(const QString& address, Model model, QString* error) {
    DeviceConfig c;
    c.address = QHostAddress(address);
    c.model = model;
    c.port = 0;
    return addDevice(c, error);
}

void Simulator::removeDevice(Device* device) {
    if (!devices_.removeOne(device)) return;
    emit deviceRemoved(device);
    // Stops listening now; the object goes once control is back in the event
    // loop, so removing a device from one of its own signals is safe.
    device->stop();
    device->deleteLater();
}

void Simulator::removeAll() {
    while (!devices_.isEmpty()) removeDevice(devices_.last());
}

Device* Simulator::device(const QHostAddress& address, quint16 port) const {
    for (Device* d : devices_)
        if (d->address().isEqual(address) && (port == 0 || d->port() == port)) return d;
    return nullptr;
}

int Simulator::totalConnections() const {
    int n = 0;
    for (const Device* d : devices_) n += d->connectionCount();
    return n;
}

int Simulator::totalRequests() const {
    int n = 0;
    for (const Device* d : devices_) n += d->requestCount();
    return n;
}

}  // namespace devsim
