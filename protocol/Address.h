#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

// The one reading of an IPv4 address that a person typed or a file or the
// database holds: four dotted decimal numbers 0-255, nothing else. A number
// with a leading zero ("041") is refused: socket libraries and `ip` read it
// as octal (127.0.0.041 would reach 127.0.0.33), so its meaning is not
// certain. Only the rebuilt address (Text(), Value()) is handed on to a
// socket or a command, never the text it came from.
namespace Protocol {

struct IPv4 {
    std::array<quint8, 4> octets{};

    quint32 Value() const;  // host order, for QHostAddress(quint32)
    QString Text() const;   // plain dotted form, "127.0.0.41"
    bool operator==(const IPv4&) const = default;
};

IPv4 IPv4FromValue(quint32 value);

// The address, or nullopt with a message that names `text` in *error. No
// blanks are trimmed: callers trim what a person typed.
std::optional<IPv4> ParseIPv4(const QString& text, QString* error = nullptr);

}  // namespace Protocol
