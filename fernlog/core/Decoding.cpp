#include "core/Decoding.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "db/ErrorLog.h"
#include "protocol/Answers.h"
#include "protocol/Bytes.h"
#include "protocol/Commands.h"
#include "protocol/Identification.h"

namespace Decoding {

qint16 DeviceFamily = 0;
qint16 DeviceModel = 0;
qint16 FirmwareBuild = 0;
std::array<float, kReadingCount> Readings{};
QString TempUnit;

namespace {
bool Fail(const QString& cause) {
    ErrorLog::RecordError(QStringLiteral("ParseMessage"), cause);
    return false;
}

bool InTenths(int start) {
    if (DeviceFamily == 3 && FirmwareBuild >= 5) return start == 5 || start == 10;
    if (DeviceFamily == 5 && FirmwareBuild >= 23) return start <= 40;
    return false;
}
}  // namespace

void Reset() {
    DeviceFamily = DeviceModel = FirmwareBuild = 0;
    Readings.fill(0);
    TempUnit.clear();
}

void SetNoData() {
    Readings.fill(kNoData);
}

bool ParseMessage(const QByteArray& command, const QByteArray& answer) {
    using namespace Protocol;
    if (command == CmdIdentify()) {
        Identification id{DeviceFamily, DeviceModel, FirmwareBuild};
        QString error;
        const bool ok = DecodeIdentification(answer, id, &error);
        DeviceFamily = id.family;
        DeviceModel = id.model;
        FirmwareBuild = id.build;
        return ok || Fail(error);
    }
    if (command != CmdReadings()) return true;

    // Every port group needs the resolution flag.
    if (answer.size() < ReadingsAnswer::kResolution) {
        return Fail(QStringLiteral("The answer is %1 bytes long; %2 are needed.")
                        .arg(answer.size())
                        .arg(kAnswerLength));
    }
    const bool tenths = ByteAt(answer, ReadingsAnswer::kResolution) == ReadingsAnswer::kTenths;
    for (int p = 0; p < ReadingsAnswer::kPortCount; ++p) {
        const int s = ReadingsAnswer::PortStart(p);
        float v = SignedWord(answer, s + ReadingsAnswer::kValue);
        if (tenths && InTenths(s)) v /= 10.0f;
        Readings[3 * p] = v;
        Readings[3 * p + 1] =
            static_cast<float>(256 * ByteAt(answer, s + ReadingsAnswer::kMinutes) +
                               ByteAt(answer, s + ReadingsAnswer::kMinutes + 1));
        Readings[3 * p + 2] = static_cast<float>(ByteAt(answer, s + ReadingsAnswer::kStatus));
    }
    if (answer.size() < kAnswerLength) {
        return Fail(QStringLiteral("The answer is %1 bytes long; %2 are needed.")
                        .arg(answer.size())
                        .arg(kAnswerLength));
    }
    TempUnit = QString(QChar(ByteAt(answer, ReadingsAnswer::kUnit)));
    return true;
}

QString DegreeText() {
    return QString(QChar(0xB0)) + TempUnit;
}

QString PortUnits(const QString& model, int port) {
    return PortUnits(model, port, TempUnit);
}

QString PortUnits(const QString& model, int port, const QString& unit) {
    const QString degree = QString(QChar(0xB0)) + unit;
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

std::optional<double> Measured(float v) {
    if (v == kNoData || v == kNotConnected || v == kNotConnectedAlt || v == kSensorOpen ||
        v == kSensorShorted || !std::isfinite(v)) {
        return std::nullopt;
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    *end = 0;
    return std::strtod(text, nullptr);
}

QString NumberText(float value) {
    return QString::number(static_cast<double>(value), 'g', 7);
}

}  // namespace Decoding
