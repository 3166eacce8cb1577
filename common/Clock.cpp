#include "common/Clock.h"

#include <QLocale>

namespace Clock {
namespace {
QDateTime& Fixed() {
    static QDateTime fixed;
    return fixed;
}
const QString kDbFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kGeneralFormat = QStringLiteral("M/d/yyyy h:mm:ss AP");
}  // namespace

QDateTime Now() {
    if (Fixed().isValid()) return Fixed();
    return QDateTime::currentDateTime();
}

void SetForTest(const QDateTime& when) {
    Fixed() = when;
}

void AdvanceForTest(qint64 seconds) {
    if (Fixed().isValid()) Fixed() = Fixed().addSecs(seconds);
}

QString GeneralDateText(const QDateTime& when) {
    // The C locale keeps "AM"/"PM" and digits the same whatever the user's locale.
    return QLocale::c().toString(when, kGeneralFormat);
}

QDateTime FromGeneralDateText(const QString& text) {
    return QLocale::c().toDateTime(text.trimmed(), kGeneralFormat);
}

QString GeneralDateText() {
    return GeneralDateText(Now());
}

QString DbStamp(const QDateTime& when) {
    return QLocale::c().toString(when, kDbFormat);
}

QString DbStamp() {
    return DbStamp(Now());
}

QDateTime FromDbStamp(const QString& text) {
    return QDateTime::fromString(text.trimmed(), kDbFormat);
}

}  // namespace Clock
