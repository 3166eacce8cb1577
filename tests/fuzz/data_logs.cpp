// The three data log files of a sensor as found in the log directory, then
// one reading added to them. Input: the file kind (description, hourly
// statistics or instantaneous), the reading's value (4 bytes) and its time
// as seconds after the file's last hourly period began (2 bytes, signed),
// then the existing file. Whatever the file held, the reading is added
// without touching the records before the one it writes.
#include <QFile>
#include <QtEndian>
#include <cstring>

#include "FuzzSupport.h"
#include "common/Clock.h"
#include "core/DataLogs.h"
#include "support/FernlogState.h"

namespace {

constexpr qint64 kSensor = 7;
const QDateTime kBase(QDate(2024, 3, 9), QTime(14, 20));

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The start of the last hourly period the file records, when it reads.
QDateTime LastPeriod(const QByteArray& average) {
    const qsizetype n = average.size() / DataLogs::kAverageLength;
    if (n == 0) return {};
    const auto last = DataLogs::DecodeAverage(
        average.mid((n - 1) * DataLogs::kAverageLength, DataLogs::kAverageLength));
    return last ? Clock::FromGeneralDateText(last->dateText) : QDateTime();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    ResetFernlogState();
    Fuzz::ClearDir();
    const int kind = data[0] % 3;
    float value = 0;
    std::memcpy(&value, data + 1, sizeof value);
    const qint16 offset = qFromLittleEndian<qint16>(data + 5);
    const QByteArray old = Fuzz::Bytes(data + 7, size - 7);

    const QDateTime period = kind == 1 ? LastPeriod(old) : QDateTime();
    const QDateTime when = (period.isValid() ? period : kBase).addSecs(offset);
    const QString dir = Fuzz::Dir();
    const QString description = Fuzz::File(DataLogs::DescriptionFileName(kSensor));
    const QString average = Fuzz::File(DataLogs::AverageFileName(kSensor));
    const QString instant = Fuzz::File(DataLogs::InstantaneousFileName(kSensor, when));
    const QString path = kind == 0 ? description : kind == 1 ? average : instant;
    {
        QFile out(path);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly) && out.write(old) == old.size());
    }

    const QString sensor = QStringLiteral("Walk-in freezer");
    const QString device = QStringLiteral("Kitchen");
    const QString units = QStringLiteral("F");
    FUZZ_CHECK(DataLogs::SaveReading(dir, kSensor, sensor, device, units, value, when));

    // The description is one record, whatever was there.
    FUZZ_CHECK(Content(description) == DataLogs::EncodeDescription(device, sensor, units));

    // One record more, or the last one extended; the ones before untouched.
    const QByteArray averages = Content(average);
    const qint64 oldAverages = kind == 1 ? old.size() / DataLogs::kAverageLength : 0;
    const qint64 averageCount = averages.size() / DataLogs::kAverageLength;
    FUZZ_CHECK(averages.size() % DataLogs::kAverageLength == 0);
    FUZZ_CHECK(averageCount == oldAverages || averageCount == oldAverages + 1);
    const qint64 kept = (averageCount - 1) * DataLogs::kAverageLength;
    FUZZ_CHECK(averages.left(kept) == old.left(kept) || kind != 1);
    const auto last = DataLogs::DecodeAverage(averages.mid(kept));
    FUZZ_CHECK(last && last->count >= 1);
    if (averageCount == oldAverages) {
        const auto before = DataLogs::DecodeAverage(old.mid(kept, DataLogs::kAverageLength));
        FUZZ_CHECK(before && last->count == before->count + 1 &&
                   last->dateText == before->dateText);
    } else {
        FUZZ_CHECK(last->count == 1 && last->dateText == Clock::GeneralDateText(when));
    }

    // The reading goes after the last whole record; a torn one is replaced.
    const QByteArray instants = Content(instant);
    const qint64 whole = kind == 2 ? old.size() / DataLogs::kInstantLength : 0;
    FUZZ_CHECK(instants.size() == (whole + 1) * DataLogs::kInstantLength);
    FUZZ_CHECK(instants.left(whole * DataLogs::kInstantLength) ==
                   old.left(whole * DataLogs::kInstantLength) ||
               kind != 2);
    FUZZ_CHECK(instants.right(DataLogs::kInstantLength) == DataLogs::EncodeInstant(when, value));
    return 0;
}
