#include "Ds1337.h"

namespace devsim {

quint8 toBcd(int n) {
    return quint8((n % 10) | ((n / 10 % 10) << 4));
}

std::optional<int> fromBcd(quint8 byte) {
    const int hi = byte >> 4, lo = byte & 0x0F;
    if (hi > 9 || lo > 9) return std::nullopt;
    return hi * 10 + lo;
}

namespace {

quint8 hoursRegister(int hour24, bool twelveHour) {
    if (!twelveHour) return toBcd(hour24);
    const bool pm = hour24 >= 12;
    int h = hour24 % 12;
    if (h == 0) h = 12;
    return quint8(0x40 | (pm ? 0x20 : 0) | toBcd(h));
}

int weekday(const QDate& date) {
    return date.dayOfWeek() % 7 + 1;
}  // Sunday = 1

}  // namespace

QByteArray encodeClock(const QDateTime& time, bool twelveHour) {
    const QDate d = time.date();
    const QTime t = time.time();
    QByteArray r(7, '\0');
    r[0] = char(toBcd(t.second()));
    r[1] = char(toBcd(t.minute()));
    r[2] = char(hoursRegister(t.hour(), twelveHour));
    r[3] = char(weekday(d));
    r[4] = char(toBcd(d.day()));
    r[5] = char(toBcd(d.month()));
    r[6] = char(toBcd(d.year() - 2000));
    return r;
}

QByteArray encodeRecordStamp(const QDateTime& time, bool twelveHour) {
    return encodeClock(time, twelveHour).mid(1);
}

std::optional<ClockRegisters> decodeClock(const QByteArray& r) {
    if (r.size() < 7) return std::nullopt;
    const auto sec = fromBcd(quint8(r[0]) & 0x7F);
    const auto min = fromBcd(quint8(r[1]) & 0x7F);
    const quint8 hourReg = quint8(r[2]);
    const bool twelveHour = hourReg & 0x40;
    std::optional<int> hour;
    if (twelveHour) {
        const auto h = fromBcd(hourReg & 0x1F);
        if (h && *h <= 12) hour = *h % 12 + ((hourReg & 0x20) ? 12 : 0);
    } else {
        hour = fromBcd(hourReg & 0x3F);
    }
    const auto day = fromBcd(quint8(r[4]) & 0x3F);
    const auto month = fromBcd(quint8(r[5]) & 0x1F);  // bit 7 is the century bit
    const auto year = fromBcd(quint8(r[6]));
    if (!sec || !min || !hour || !day || !month || !year) return std::nullopt;
    const QDate date(2000 + *year, *month, *day);
    const QTime time(*hour, *min, *sec);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return ClockRegisters{QDateTime(date, time), twelveHour};
}

}  // namespace devsim
