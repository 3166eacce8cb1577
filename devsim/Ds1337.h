// The device's real-time clock: a DS1337 chip whose seven time-keeping
// registers (seconds .. year, BCD) travel in the clock commands.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <optional>

namespace devsim {

struct ClockRegisters {
    QDateTime time;
    bool twelveHour = true;  // the chip keeps the mode it was last written in
};

quint8 toBcd(int n);
std::optional<int> fromBcd(quint8 byte);

// Seven registers in chip order 00h-06h: seconds, minutes, hours, day of
// week (Sunday = 1), date, month, year - 2000.
QByteArray encodeClock(const QDateTime& time, bool twelveHour = true);

// Reads seven registers; nullopt when they do not hold a valid date and time.
// In 12-hour mode an hour of 0 is taken as 12, the way the desktop program
// writes midnight and noon.
std::optional<ClockRegisters> decodeClock(const QByteArray& registers);

// Log records carry the registers minutes .. year without seconds.
QByteArray encodeRecordStamp(const QDateTime& time, bool twelveHour = true);

}  // namespace devsim
