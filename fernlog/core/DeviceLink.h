#pragma once

#include <QByteArray>
#include <QRgb>
#include <QString>

// The one device transaction: a fresh TCP connection to the device's port,
// one 60-byte request, the answer collected up to its expected length or a
// time-out, and the result rule every caller relies on (the command echoed,
// the full length, no "error" in it). Waits run the event loop, so timers
// and user input go on during a transaction.
namespace DeviceLink {

// The command table (filled once by InitCommands; the accessors fill it on
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

constexpr int kRequestLength = 60;
constexpr quint16 kDevicePort = 10001;

// Link state shared with the rest of the program.
extern bool DataArrived;
extern qint32 BytesArrived;
extern bool TimedOut;
extern bool ProgramRunning;    // every wait gives up when this turns false
extern QString CurrentWindow;  // "frmMain" or "frmTreeConfiguration"
extern qint32 WatchDogTicks;   // tenths of a second since StartWatchDog

// What a window shows of a transaction: the connection indicator, the
// hourglass, the progress bar and the log download label. Windows register
// themselves under their name; the link draws on the one CurrentWindow names.
class LinkView {
  public:
    virtual ~LinkView() = default;
    virtual void SetConnectionColour(QRgb colour) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void SetProgressMaximum(int maximum) = 0;  // also makes the bar visible
    virtual void SetProgressValue(int value) = 0;
    virtual void HideProgress() {}
    virtual void ShowDownloadProgress(const QString& /*text*/) {}
    virtual QString ChosenDeviceName() const { return QString(); }
};
void SetView(const QString& windowName, LinkView* view);  // nullptr removes it

// A request: the command followed by zero bytes up to 60 bytes.
void BuildRequest(QByteArray& request, const QByteArray& command);

// One transaction. `answer` is always replaced (empty when nothing complete
// arrived). `callerWindow` is "frmTreeConfiguration" for the log download.
bool ReadFromCV(const QString& ipAddress, quint16 port, const QByteArray& request,
                QByteArray& answer, int expectedLength, const QString& callerWindow = QString());

// The socket steps of a transaction.
bool OpenWinSocket(const QString& ipAddress, quint16 port);
void CloseWinSocket();
bool WriteWinSocket(const QByteArray& data);
bool ReadWinSocket(QByteArray& data);

// The time-out and progress timer.
void StartWatchDog(int milliseconds);
void StopWatchDog();

// The wait for a connection, in milliseconds.
constexpr int kConnectWaitMs = 5000;

}  // namespace DeviceLink
