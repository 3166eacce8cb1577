#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "core/Windows.h"

// Where each model keeps its settings in its 60-byte configuration pages.
// Positions count from 1, as Protocol::ValueAt takes them. Bytes 1-4 of
// every page are the command echo (AA BB CC n on a read, DD CC BB n on a
// write); bytes no field names go back to the device exactly as it sent them.
namespace Pages {

constexpr int kPageLength = 60;
constexpr int kPageNumber = 4;     // the page number in the echo
constexpr int kHeadLength = 3;     // CmdDDCCBB over bytes 1-3 on a write
constexpr int kNameLength = 20;    // name fields: blank padded, cut at 20
constexpr int kReadingsPage = 20;  // stands for the readings answer

// The QX7xx family: limits of up to eight ports on page 0, the times of the
// ports without limits on page 1, names two to a page from page 3.
namespace QX7xxPage0 {
constexpr int LowerLimit(int port) {
    return 9 + 6 * port;
}
constexpr int UpperLimit(int port) {
    return 11 + 6 * port;
}
constexpr int Time(int port) {
    return 13 + 6 * port;
}
constexpr int kRelayLogic = 57;  // QX705: flag byte
// QX740 power ports 4-7 (j = 0-3); the two bytes between are not used.
constexpr int PowerNormalState(int j) {
    return 33 + 6 * j;
}
constexpr int PowerTime(int j) {
    return 37 + 6 * j;
}
}  // namespace QX7xxPage0

namespace QX7xxPage1 {
constexpr int kFirstTime = 9;    // door 1, water sensor or dry contact
constexpr int kSecondTime = 11;  // QX705: door 2
}  // namespace QX7xxPage1

namespace QX7xxNames {
constexpr int kFirstPage = 3;
constexpr int kLastPage = 7;
constexpr int kEvenPort = 9;  // the first name of a page
constexpr int kOddPort = 29;  // the second
constexpr int Page(int port) {
    return kFirstPage + port / 2;
}
constexpr int Position(int port) {
    return port % 2 == 0 ? kEvenPort : kOddPort;
}
}  // namespace QX7xxNames

namespace QX705Page12 {
constexpr int kPage = 12;
constexpr int kFirstBuild = 23;  // devices before this build have no page 12
constexpr int Correction(int port) {
    return 9 + 2 * port;
}
constexpr int kErroneousBits = 25;   // byte
constexpr int kErroneousCount = 26;  // byte
}  // namespace QX705Page12

// Zolo: two temperature ports and two doors.
namespace ZoloPage0 {
constexpr int LowerLimit(int port) {
    return 9 + 6 * port;
}
constexpr int UpperLimit(int port) {
    return 11 + 6 * port;
}
constexpr int Time(int port) {
    return 13 + 6 * port;
}
constexpr int DoorTime(int door) {
    return 21 + 2 * door;
}
constexpr int Correction(int port) {
    return 25 + 2 * port;
}
}  // namespace ZoloPage0

namespace ZoloNames {
constexpr int kTemperaturePage = 2;
constexpr int kDoorPage = 3;
}  // namespace ZoloNames

namespace ZoloPage4 {
constexpr int kPage = 4;
constexpr int kFirstModel = 5;  // older models have no alarm options
constexpr int kRelayLogic = 9;
constexpr int kReminderDelay = 10;
constexpr int kBuzzer = 11;  // 1 enables the buzzer
constexpr int kTwoStageDelay = 12;
}  // namespace ZoloPage4

// The device name page, which only the registry window writes.
namespace NamePage {
constexpr int Page(int deviceFamily) {
    return deviceFamily == 3 ? 1 : 2;
}
constexpr int kDeviceName = 9;
constexpr int kUnit = 29;
constexpr int kAddress = 30;
}  // namespace NamePage

// The readings answer as the windows read it.
namespace ReadingsPage {
constexpr int Value(int port) {
    return 5 + 5 * port;
}
constexpr int kResolution = 59;
constexpr int kTenths = 10;
}  // namespace ReadingsPage

// What a field holds, which decides how it is read and written.
enum class Box {
    Lower,           // word; in tenths where the model is tenths-aware
    Upper,           // word; as Lower
    Time,            // word, whole minutes
    Name,            // 20 bytes of text
    RelayLogic,      // flag byte: optRelayLogic 0 or 1
    NormalState,     // word: cmboNormalState 0 "On" or 1 "Off"
    Correction,      // word, always tenths
    ErroneousBits,   // byte
    ErroneousCount,  // byte
    ReminderDelay,   // byte
    Buzzer,          // byte: 1 for optEnableBuzzer 0, else 0
    TwoStageDelay,   // byte
};

struct Field {
    int page;
    int position;
    Box box;
    int index;  // the port (or correction port); -1 for window-wide fields
};

// Every field of every page a window reads and writes.
std::vector<Field> PageMap(Window window);

// Port captions (the type labels), one per port in port order.
QStringList PortTypes(Window window);

// The window's title bar caption.
QString WindowCaption(Window window);

// Whether the port has limit boxes that a page fills.
bool HasLimits(Window window, int port);

// Limits of frmQX705 and frmZolo follow the device's tenths flag.
bool TenthsAware(Window window);

// Ports whose readings are divided by ten when the device reports tenths.
bool TenthsReading(Window window, int port);

// Temperature ports offered by the calibration panel (none for most windows).
int CalibrationPorts(Window window);

}  // namespace Pages
