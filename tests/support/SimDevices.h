#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "devsim/Device.h"
#include "support/Fixtures.h"

// A QX700-5 of build 23 on `address`, port 10001: the device most tests poll.
devsim::DeviceConfig Keeper(const QString& address);

// What a device's row in tblServers holds besides its name and address;
// texts left empty are stored empty, as the registry window stores them,
// not NULL.
struct Registration {
    QString model = kKeeperModel;
    QString notes = QStringLiteral("");
    int enabled = 1;
    QString password = QStringLiteral("");
    QString emails = QStringLiteral("");
    int comm = -1;
};

// Simulated devices of one test, each listening on its own loopback
// address, and their rows in the register. They stop when the set is
// cleared or destroyed.
class SimDevices {
  public:
    // Starts a device; one that cannot start fails the test.
    devsim::Device& Start(const devsim::DeviceConfig& config);
    devsim::Device& Start(const QString& address) { return Start(Keeper(address)); }

    // Adds the row of a device (not necessarily a started one) to the
    // register; its IDNum, or 0 when it was refused (which fails the test).
    static qint64 Register(const QString& name, const QString& address, const Registration& row);
    static qint64 Register(const QString& name, const QString& address,
                           const QString& emails = QString(), int enabled = 1);
    // A sensor row of the device `serverId`.
    static void AddSensor(qint64 serverId, const QString& name, int port,
                          const QString& type = QStringLiteral("Temperature"));

    devsim::Device* operator[](size_t index) const { return devices_.at(index).get(); }
    devsim::Device* back() const { return devices_.back().get(); }
    size_t size() const { return devices_.size(); }
    auto begin() const { return devices_.begin(); }
    auto end() const { return devices_.end(); }
    void clear() { devices_.clear(); }

  private:
    std::vector<std::unique_ptr<devsim::Device>> devices_;
};
