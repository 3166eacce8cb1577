#pragma once

// Where things are in the device's 60-byte answers. Positions count from 1,
// as the device's documentation counts them; Protocol::ByteAt and ValueAt
// take them as they are.
namespace Protocol {

// The answer to CmdIdentify: three 16-bit numbers, high byte first.
namespace IdentifyAnswer {
constexpr int kFamily = 5;  // 3: Zolo, 5: QX7xx
constexpr int kModel = 7;
constexpr int kBuild = 9;  // firmware build
}  // namespace IdentifyAnswer

// The answer to CmdReadings: ten 5-byte port groups, then the resolution
// flag and the temperature unit letter.
namespace ReadingsAnswer {
constexpr int kPortCount = 10;
constexpr int kFirstPort = 5;
constexpr int kPortLength = 5;
// Within a port group, counted from the group's first byte.
constexpr int kValue = 0;    // signed 16-bit
constexpr int kMinutes = 2;  // unsigned 16-bit: time in the present condition
constexpr int kStatus = 4;   // 0 normal, 1 or more in alarm
constexpr int kResolution = 59;
constexpr int kTenths = 10;  // the resolution flag's value when some values are in tenths
constexpr int kUnit = 60;

constexpr int PortStart(int port) {
    return kFirstPort + kPortLength * port;
}
}  // namespace ReadingsAnswer

}  // namespace Protocol
