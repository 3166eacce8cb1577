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

QDateTime FromGeneralDateTextAsWritten(const QString& text) {
    // "M/d/yyyy h:mm:ss AP", read by hand: the locale's parser makes a
    // local time and looks up the zone each time.
    const QString t = text.trimmed();
    qsizetype pos = 0;
    auto number = [&](int minDigits, int maxDigits) {
        int value = 0;
        int digits = 0;
        while (pos < t.size() && digits < maxDigits && t[pos].isDigit() && t[pos].unicode() < 128) {
            value = value * 10 + (t[pos].unicode() - '0');
            ++pos;
            ++digits;
        }
        return digits >= minDigits ? value : -1;
    };
    auto literal = [&](char c) {
        if (pos >= t.size() || t[pos] != QLatin1Char(c)) return false;
        ++pos;
        return true;
    };
    const int month = number(1, 2);
    if (month < 0 || !literal('/')) return {};
    const int day = number(1, 2);
    if (day < 0 || !literal('/')) return {};
    const int year = number(4, 4);
    if (year < 0 || !literal(' ')) return {};
    int hour = number(1, 2);
    if (hour < 0 || !literal(':')) return {};
    const int minute = number(2, 2);
    if (minute < 0 || !literal(':')) return {};
    const int second = number(2, 2);
    if (second < 0 || !literal(' ')) return {};
    const QString half = t.mid(pos).toUpper();
    if (hour < 1 || hour > 12 || (half != QLatin1String("AM") && half != QLatin1String("PM"))) {
        return {};
    }
    hour = hour % 12 + (half == QLatin1String("PM") ? 12 : 0);
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, Qt::UTC);
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
