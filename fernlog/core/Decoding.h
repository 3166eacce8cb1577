#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// Decoding of a device's identification and readings answers into the
// program-wide results that the processing of the device's data reads.
namespace Decoding {

// Identification of the device identified last (family 3: Zolo, 5: QX7xx).
extern qint16 DeviceFamily;
extern qint16 DeviceModel;
extern qint16 FirmwareBuild;

// Per port p (0-9): [3p] value, [3p+1] minutes, [3p+2] status byte.
// Entries 30-60 are never written by decoding.
constexpr int kReadingCount = 61;
extern std::array<float, kReadingCount> Readings;

// The unit letter of the last readings answer ("F" or "C").
extern QString TempUnit;

// Special values in a port's value slot.
constexpr float kNotConnected = 1000.0f;
constexpr float kNotConnectedAlt = 9999.0f;
constexpr float kSensorOpen = 999.0f;
constexpr float kSensorShorted = -999.0f;
constexpr float kNoData = -999991.0f;  // set by the program when a device did not answer

// Back to the state of a fresh start: no identification, readings 0.
void Reset();

// Sets every reading to the no-data value.
void SetNoData();

// Decodes an identification or readings answer; any other command changes
// nothing. False (with "ParseMessage" in the error log) for an answer too
// short for its layout or an identification number out of range; what was
// decoded before the fault keeps its new value.
bool ParseMessage(const QByteArray& command, const QByteArray& answer);

// The degree sign followed by the temperature unit letter.
QString DegreeText();

// Unit text beside a port's value, by the device's model text; the degree
// sign is followed by `unit` (by TempUnit in the two-argument form).
QString PortUnits(const QString& model, int port);
QString PortUnits(const QString& model, int port, const QString& unit);

// The measured value of a reading; nullopt for a special value (a fault,
// no data) or one that is no number. The double of the single's shortest
// decimal, so that 40.3 reads 40.3 and not 40.2999992370605.
std::optional<double> Measured(float value);

// A reading as the status grid and log files show numbers (72, 72.5, -200).
QString NumberText(float value);

}  // namespace Decoding
