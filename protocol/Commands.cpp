#include "protocol/Commands.h"

#include <array>
#include <initializer_list>

namespace Protocol {
namespace {

struct Commands {
    QByteArray readings, identify, busy, ddccbb, factoryReset, log00, log02, readLog;
    std::array<QByteArray, 16> pages;
};

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values) out.append(static_cast<char>(v));
    return out;
}

Commands& Table() {
    static Commands table = [] {
        Commands c;
        c.readings = Bytes({0x3F, 0xCD, 0xDC, 0x00});
        c.identify = Bytes({0x2A, 0xCD, 0xDC, 0xBA});
        c.busy = Bytes({0xB5, 0x5E, 0xB5, 0x5E});
        c.ddccbb = Bytes({0xDD, 0xCC, 0xBB});
        c.factoryReset = Bytes({0xDE, 0xAD, 0xDE, 0xAD});
        c.log00 = Bytes({0xDE, 0xCA, 0xDE, 0x00});
        c.log02 = Bytes({0xDE, 0xCA, 0xDE, 0x02});
        c.readLog = Bytes({0xDE, 0xCA, 0xDE, 0x04});
        for (int n = 0; n < 16; ++n) c.pages[static_cast<size_t>(n)] = Bytes({0xAA, 0xBB, 0xCC, n});
        return c;
    }();
    return table;
}

}  // namespace

void InitCommands() {
    Table();
}

const QByteArray& CmdReadings() {
    return Table().readings;
}
const QByteArray& CmdIdentify() {
    return Table().identify;
}
const QByteArray& CmdPage(int page) {
    return Table().pages[static_cast<size_t>(page & 15)];
}
const QByteArray& ReplyBusy() {
    return Table().busy;
}
const QByteArray& CmdDDCCBB() {
    return Table().ddccbb;
}
const QByteArray& CmdFactoryReset() {
    return Table().factoryReset;
}
const QByteArray& CmdLog00() {
    return Table().log00;
}
const QByteArray& CmdLog02() {
    return Table().log02;
}
const QByteArray& CmdReadLog() {
    return Table().readLog;
}

void BuildRequest(QByteArray& request, const QByteArray& command) {
    request = command.left(kRequestLength);
    request.append(QByteArray(kRequestLength - request.size(), '\0'));
}

}  // namespace Protocol
