#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "core/AlarmHandling.h"

// Where notices go beside e-mail: webhooks, an Alertmanager, a local
// program, and a heartbeat that tells an outside service fernlog is alive.
// Kept in the alarm-handling store, whose file only fernlog's user can read
// (a webhook's secret is kept there too); every change is a row of its
// audit trail.
namespace Channels {

struct Channel {
    QString name, kind /*webhook|alertmanager|command|heartbeat*/;
    QString url;
    QStringList events, devices, command;  // empty events/devices: all
    int everyMinutes = 0;                  // heartbeat only
    bool fallback = false;                 // told when an e-mail could not be delivered
};

// Event names a channel may choose (--events).
const QStringList& EventNames();
QStringList Kinds();

// What `add` refuses: a name that is not 1-40 letters, digits, '.', '_' or
// '-', a URL that is not http/https, an unknown event, a command that is
// not an executable file, a heartbeat without a period. False with the
// reason.
bool Check(const Channel& channel, QString* error = nullptr);

// In order of their names.
bool List(QList<Channel>& channels, QString* error = nullptr);
bool Find(const QString& name, Channel& channel, QString* error = nullptr);
// The HMAC secret of a webhook; empty when it has none.
QString Secret(const QString& name);

// False with the reason (a name taken, the store's refusal); nothing is
// stored then. `secret` may be empty.
bool Add(const Channel& channel, const QString& secret, const AlarmHandling::Actor& actor,
         QString* error = nullptr);
bool Remove(const QString& name, const AlarmHandling::Actor& actor, QString* error = nullptr);

}  // namespace Channels
