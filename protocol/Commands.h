#pragma once

#include <QByteArray>
#include <QtGlobal>

// The device's port-10001 commands: every request is a 4-byte command (3 for
// the page-write head) padded with zero bytes to 60 bytes. Positions in
// requests and answers count from 1.
namespace Protocol {

constexpr int kRequestLength = 60;
constexpr int kAnswerLength = 60;
constexpr quint16 kDevicePort = 10001;

// The command table, filled once (InitCommands; the accessors fill it on
// first use too).
void InitCommands();
const QByteArray& CmdReadings();      // 3F CD DC 00
const QByteArray& CmdIdentify();      // 2A CD DC BA
const QByteArray& CmdPage(int page);  // AA BB CC nn, page 0-15
const QByteArray& ReplyBusy();        // B5 5E B5 5E, a busy device's answer
const QByteArray& CmdDDCCBB();        // DD CC BB, head of every page write
const QByteArray& CmdFactoryReset();  // DE AD DE AD
const QByteArray& CmdLog00();         // DE CA DE 00, set clock and log rate
const QByteArray& CmdLog02();         // DE CA DE 02, read clock and log parameters
const QByteArray& CmdReadLog();       // DE CA DE 04, log download (not echoed)

// A request: the command followed by zero bytes up to 60 bytes.
void BuildRequest(QByteArray& request, const QByteArray& command);

}  // namespace Protocol
