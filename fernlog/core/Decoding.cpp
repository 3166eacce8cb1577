#include "Decoding.h"

#include <cmath>

#include "DeviceLink.h"
#include "ErrorLog.h"

namespace Decoding {

qint16 DeviceFamily = 0;
qint16 DeviceModel = 0;
qint16 FirmwareBuild = 0;
std::array<float, kReadingCount> Readings{};
QString TempUnit;

namespace {
int Byte(const QByteArray& answer, int position) {
    return static_cast<unsigned char>(answer.at(position - 1));
}

bool Fail(const QString& cause) {
    ErrorLog::RecordError(QStringLiteral("ParseMessage"), cause);
    return false;
}

QString TooShort(const QByteArray& answer, int needed) {
    return QStringLiteral("The answer is %1 bytes long; %2 are needed.")
        .arg(answer.size())
        .arg(needed);
}

// An identification number is a 16-bit integer; 32768 and above do not fit.
bool ReadNumber(const QByteArray& answer, int position, qint16& field) {
    if (answer.size() < position + 1) return Fail(TooShort(answer, position + 1));
    const int value = 256 * Byte(answer, position) + Byte(answer, position + 1);
    if (value > 32767) return Fail(QStringLiteral("Overflow: identification number %1").arg(value));
    field = static_cast<qint16>(value);
    return true;
}

bool InTenths(int start) {
    if (DeviceFamily == 3 && FirmwareBuild >= 5) return start == 5 || start == 10;
    if (DeviceFamily == 5 && FirmwareBuild >= 23) return start <= 40;
    return false;
}
}  // namespace

void SetNoData() {
    Readings.fill(kNoData);
}

bool ParseMessage(const QByteArray& command, const QByteArray& answer) {
    if (command == DeviceLink::CmdIdentify()) {
        return ReadNumber(answer, 5, DeviceFamily) && ReadNumber(answer, 7, DeviceModel) &&
               ReadNumber(answer, 9, FirmwareBuild);
    }
    if (command != DeviceLink::CmdReadings()) return true;

    // Every port group needs the resolution flag at byte 59.
    if (answer.size() < 59) return Fail(TooShort(answer, 60));
    const bool tenths = Byte(answer, 59) == 10;
    for (int s = 5; s <= 50; s += 5) {
        const int p = (s - 5) / 5;
        float v = SignedWord(answer, s);
        if (tenths && InTenths(s)) v /= 10.0f;
        Readings[3 * p] = v;
        Readings[3 * p + 1] = static_cast<float>(256 * Byte(answer, s + 2) + Byte(answer, s + 3));
        Readings[3 * p + 2] = static_cast<float>(Byte(answer, s + 4));
    }
    if (answer.size() < 60) return Fail(TooShort(answer, 60));
    TempUnit = QString(QChar(Byte(answer, 60)));
    return true;
}

float SignedWord(const QByteArray& answer, int position) {
    return static_cast<float>(ValueAt(answer, position, 2));
}

int ValueAt(const QByteArray& answer, int position, int width) {
    auto byteAt = [&](int pos) { return pos >= 1 && pos <= answer.size() ? Byte(answer, pos) : 0; };
    if (width != 2) return byteAt(position);
    const int word = 256 * byteAt(position) + byteAt(position + 1);
    return byteAt(position) >= 128 ? word - 65536 : word;
}

bool SplitWord(int value, int& high, int& low) {
    low = value & 255;
    high = static_cast<int>(std::lround((value & ~255) / 256.0)) & 255;
    return true;
}

QString DegreeText() {
    return QString(QChar(0xB0)) + TempUnit;
}

QString PortUnits(const QString& model, int port) {
    const QString degree = DegreeText();
    if (model.contains(QLatin1String("700-10")) || model.contains(QLatin1String("700-5"))) {
        return port == 8 || port == 9 ? QString() : degree;
    }
    if (model.contains(QLatin1String("604")) || model.contains(QLatin1String("603")) ||
        model.contains(QLatin1String("605"))) {
        return port == 2 || port == 3 ? QString() : degree;
    }
    if (model.contains(QLatin1String("700-8"))) {
        if (port == 8 || port == 9) return QString();
        return port % 2 == 0 ? degree : QStringLiteral("%RH");
    }
    if (model.contains(QLatin1String("740")) || model.contains(QLatin1String("720"))) {
        return port <= 3 ? degree : QString();
    }
    return QString();
}

QString NumberText(float value) {
    return QString::number(static_cast<double>(value), 'g', 7);
}

}  // namespace Decoding
