#pragma once

#include <QDateTime>
#include <QJsonObject>

// The retry schedule of an outbox entry as both outboxes keep it in their
// files: failed attempts, the first attempt's time and the next one's, as
// UTC ISO 8601 text in whole seconds. What cannot be read counts as none
// (the entry is tried at once).
struct RetrySchedule {
    int attempts = 0;
    QDateTime firstAttempt;
    QDateTime nextAttempt;

    void WriteTo(QJsonObject& o) const;  // an entry not tried yet gets no keys
    static RetrySchedule ReadFrom(const QJsonObject& o);
};
