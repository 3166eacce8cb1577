#include "common/TestWaits.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <utility>

namespace TestWaits {

bool Parse(const QString& text, std::initializer_list<Key> keys, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QList<std::pair<int*, int>> values;
    QSet<QString> seen;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString key = item.left(equals).trimmed();
        int* field = nullptr;
        for (const Key& k : keys) {
            if (key == QLatin1String(k.name)) field = k.field;
        }
        if (equals < 0 || !field) {
            QStringList names;
            for (const Key& k : keys) names << QLatin1String(k.name) + QStringLiteral("=MS");
            const QString last = names.takeLast();
            return fail(QStringLiteral("'%1' is not %2 or %3").arg(item, names.join(u", "), last));
        }
        if (seen.contains(key)) return fail(QStringLiteral("%1 is given twice").arg(key));
        seen.insert(key);
        bool ok = false;
        const QString value = item.mid(equals + 1);
        const int ms = value.trimmed().toInt(&ok);
        if (!ok || ms < 1 || ms > kLongestMs) {
            return fail(QStringLiteral("%1 must be 1-%2 milliseconds, not '%3'")
                            .arg(key)
                            .arg(kLongestMs)
                            .arg(value));
        }
        values.append({field, ms});
    }
    for (const auto& [field, ms] : values) *field = ms;
    return true;
}

}  // namespace TestWaits
