#pragma once

#include <QList>
#include <QMap>
#include <QString>

// Sensor rows as the configuration windows keep them: all ports of one
// server at once, so that a failing database shows one message instead of
// one per port, and an upload stores every row or none.
namespace ServerDatabase {

struct SensorRow {
    int port = 0;
    QString name;
    QString notes;
    QString type;  // written only when the row is new, as AddSensor does
};

// SensorNotes of every row of the server, by PortNum (named or not). On
// failure: message box "Error adding server, the error is " + reason.
bool GetSensorNotesByPort(qint64 serverId, QMap<int, QString>& notes, QString* error = nullptr);

// AddSensor for each row in one transaction: an existing row of the server
// and port gets the new name and notes, a missing one is inserted with its
// type. Failure as GetSensorNotesByPort, and no row is changed.
bool AddSensors(qint64 serverId, const QList<SensorRow>& rows, QString* error = nullptr);

// Every sensor row of the server (named or not), by port; `id` is IDNum.
// False with the reason when the rows cannot be read; nothing is shown.
struct SensorListing {
    qint64 id = 0;
    int port = 0;
    QString name, notes, type;
};
bool ListSensors(qint64 serverId, QList<SensorListing>& sensors, QString* error = nullptr);

// Deletes the server's rows of the port: it is no longer polled. Its alarm
// rows and log files stay. False with the reason; nothing is shown.
bool RemoveSensor(qint64 serverId, int port, QString* error = nullptr);

}  // namespace ServerDatabase
