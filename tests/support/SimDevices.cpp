#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <algorithm>

#include "db/ServerDatabase.h"

devsim::DeviceConfig Keeper(const QString& address) {
    devsim::DeviceConfig config;
    config.address = QHostAddress(address);
    config.model = devsim::Model::QX700_5;
    config.build = 23;
    return config;
}

devsim::Device& SimDevices::Start(const devsim::DeviceConfig& config) {
    devices_.push_back(std::make_unique<devsim::Device>(config));
    QString error;
    EXPECT_TRUE(devices_.back()->start(&error)) << error.toStdString();
    return *devices_.back();
}

qint64 SimDevices::Register(const QString& name, const QString& address, const Registration& row) {
    QString error;
    const bool added = ServerDatabase::AddServer(name, row.model, address, row.notes, row.enabled,
                                                 row.password, row.emails, row.comm, &error);
    EXPECT_TRUE(added) << name.toStdString() << ": " << error.toStdString();
    QList<ServerDatabase::ServerRow> rows;
    if (!added || !ServerDatabase::ListServers(rows, &error)) return 0;
    // IDNum counts up: the new row has the largest.
    qint64 id = 0;
    for (const auto& server : rows) id = std::max(id, server.id);
    return id;
}

qint64 SimDevices::Register(const QString& name, const QString& address, const QString& emails,
                            int enabled) {
    Registration row;
    if (!emails.isNull()) row.emails = emails;
    row.enabled = enabled;
    return Register(name, address, row);
}

void SimDevices::AddSensor(qint64 serverId, const QString& name, int port, const QString& type) {
    EXPECT_TRUE(ServerDatabase::AddSensor(serverId, name, port, QString(), type))
        << name.toStdString();
}
