#pragma once

#include <QHostAddress>
#include <QString>
#include <QTextStream>
#include <cstdlib>

#include "db/ServerDatabase.h"
#include "devsim/Simulator.h"

// The benchmarks' devices: simulated QX700-10s with their rows in the
// register, each sensor named and reading 20 + its port.

// A device on `address`, port 10001; the run ends when it cannot start.
inline devsim::Device* Simulate(devsim::Simulator& sim, const QString& address) {
    devsim::DeviceConfig config;
    config.address = QHostAddress(address);
    config.model = devsim::Model::QX700_10;
    QString error;
    devsim::Device* device = sim.addDevice(config, &error);
    if (!device) {
        QTextStream(stderr) << "bench: " << error << "\n";
        std::exit(1);
    }
    return device;
}

// Device `number` in the register with `sensors` named sensors; `device`,
// when given, reads 20 + the port on each.
inline void Register(int number, const QString& address, int sensors, devsim::Device* device,
                     const QString& emailList = QString()) {
    if (device) {
        for (int p = 0; p < sensors; ++p) device->setPortValue(p, 20 + p);
    }
    ServerDatabase::AddServer(QStringLiteral("Device %1").arg(number),
                              QStringLiteral("Model QX700-10"), address, QString(), 1, QString(),
                              emailList, -1);
    for (int p = 0; p < sensors; ++p) {
        ServerDatabase::AddSensor(number, QStringLiteral("Sensor %1.%2").arg(number).arg(p), p,
                                  QString(), QStringLiteral("Temperature"));
    }
}
