#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>

#include "core/AlarmHandling.h"

// For modules that keep their tables in the alarm-handling store
// (core/Silences): its connection and its one way of writing an action,
// so their writes keep the store's rules (one transaction with the audit
// row, the chain intact).
namespace AlarmHandling {

// The open store, its tables made; nullopt with the reason (beginning with
// StoreRefusal()).
std::optional<QSqlDatabase> Connection(QString* error = nullptr);
// `sql` with `values`; false with the database's reason.
bool Run(QSqlQuery& query, const QString& sql, const QVariantList& values, QString& error);

// What the audit row of a change says beyond who and what: filled by the
// change, which may first have to read it.
struct AuditEntry {
    QString device, oldValue, newValue;
};
// The change inside the write's transaction: false with the database's
// reason, or with `refusal` set when the rules refuse it (a silence already
// removed).
using StoreChange =
    std::function<bool(QSqlDatabase db, AuditEntry& entry, QString& reason, QString& refusal)>;
// `change` and the action's audit row as one committed transaction;
// nothing is written when either fails.
bool WriteAudited(const Actor& actor, const QString& action, const StoreChange& change,
                  QString* error = nullptr);

}  // namespace AlarmHandling
