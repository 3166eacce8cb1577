// Ways a simulated device can misbehave, to test how the desktop side copes.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace devsim {

enum class Fault {
    None,
    Busy,            // answers B5 5E B5 5E padded to 60 bytes
    Refuse,          // stops listening: connections are refused
    Silent,          // accepts and reads, never answers
    Short,           // sends only the first shortLength bytes of the answer
    Split,           // sends the answer in `pieces` parts, pauseMs apart
    Long,            // appends extraBytes bytes to the answer
    WrongEcho,       // first answer byte inverted, so the echo does not match
    ErrorText,       // the answer carries errorText in its last bytes
    CloseMidAnswer,  // sends half the answer and closes the connection
    Delay,           // sends the whole answer after delayMs
    Garbage,         // 60 pseudo-random bytes that never echo the request
    Huge,            // a correct answer followed by filler up to hugeBytes
};

struct FaultSettings {
    Fault fault = Fault::None;
    // Only requests whose first 4 bytes equal this are affected (empty: all).
    QByteArray onlyCommand;
    // Number of affected answers after which the fault clears itself; -1 keeps it.
    int count = -1;
    int shortLength = 30;
    int pieces = 3;
    int pauseMs = 50;
    int extraBytes = 60;
    int delayMs = 500;
    QByteArray errorText = "ERROR";
    qint64 hugeBytes = 1 << 20;
};

QString faultName(Fault fault);
std::optional<Fault> faultFromName(const QString& name);

}  // namespace devsim
