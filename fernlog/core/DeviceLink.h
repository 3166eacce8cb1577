#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <functional>
#include <memory>

#include "core/Windows.h"

// The one device transaction: a fresh TCP connection to the device's port,
// one 60-byte request, the answer collected up to its expected length or a
// time-out, and the result rule every caller relies on (the command echoed,
// the full length, no "error" in it). Waits run the event loop, so timers
// and user input go on during a transaction.
namespace DeviceLink {

// Link state shared with the rest of the program.
extern bool DataArrived;
extern qint32 BytesArrived;
extern bool TimedOut;
extern bool ProgramRunning;   // every wait gives up when this turns false
extern Window CurrentWindow;  // frmMain or frmTreeConfiguration
extern qint32 WatchDogTicks;  // tenths of a second since StartWatchDog

// What a window shows of a transaction: the connection indicator, the
// hourglass, the progress bar and the log download label. The link draws on
// the window that CurrentWindow names.
class LinkView {
  public:
    virtual ~LinkView() = default;
    virtual void SetConnectionColour(Colour colour) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void SetProgressMaximum(int maximum) = 0;  // also makes the bar visible
    virtual void SetProgressValue(int value) = 0;
    virtual void HideProgress() = 0;
    virtual void ShowDownloadProgress(const QString& text) = 0;
    virtual QString ChosenDeviceName() const = 0;
};
void SetView(Window window, LinkView* view);  // nullptr removes it

// Back to the state of a fresh start: no connection open, timers stopped,
// flags cleared, ProgramRunning true, CurrentWindow frmMain (views stay
// registered).
void Reset();

// One transaction. `answer` is always replaced (empty when nothing complete
// arrived). `callerWindow` is frmTreeConfiguration for the log download.
bool ReadFromCV(const QString& ipAddress, quint16 port, const QByteArray& request,
                QByteArray& answer, int expectedLength, Window callerWindow = Window::None);

// The result rule of a transaction: the command echoed, the full length, no
// "error" in it (the log download: the full length only).
bool AnswerAccepted(const QByteArray& request, const QByteArray& answer, int expectedLength);
// The Winsock number that the status line gives for a socket error.
int WinsockErrorNumber(QAbstractSocket::SocketError error);

// A stored device address as the socket may take it, by the suite's address
// rule; a refused one is told (status list always, error log once) and
// gives a null address.
QHostAddress DeviceAddress(const QString& ipAddress);

// The connection indicator and the hourglass for exchanges run outside
// ReadFromCV (a cycle's many visits at once): lit while any is open.
void ShowTalking(bool talking);

// Ends what an abandoned transaction left open (shutdown leaves it so).
void CloseWinSocket();

// The time-out and progress timer.
void StartWatchDog(int milliseconds);
void StopWatchDog();

// The wait for an answer of `expectedLength` bytes: TCPTimeOut seconds for
// 60 bytes (a TCPTimeOut below 2 or above 9 is set to 3 in memory), 60 s
// for a log download; tests shorten the first (core/Timings.h).
int AnswerWaitMs(int expectedLength);
// The seconds the link waits for a 60-byte answer with this TCPTimeOut.
int AnswerTimeOutSeconds(int tcpTimeOut);

// One exchange with a device, on a connection of its own: connect, send the
// request, collect the answer up to its expected length or a time-out,
// close, and judge the answer by AnswerAccepted; its steps are told on the
// status list. It runs in the event loop, and any number may run at once.
// Its end is told from the event loop, never from inside Start or a
// socket's own signal: the connection is closed and freed by then.
class Exchange {
  public:
    enum class Step {
        Idle,
        Connecting,
        Answer,  // also after a connect time-out: the answer wait runs out
        Ended,
    };
    Exchange();
    ~Exchange();  // abandons it: the connection is closed, nothing is told
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // A null address ends it without an answer. `device` names it in the
    // service log.
    void Start(const QHostAddress& address, const QString& device, quint16 port,
               const QByteArray& request, int expectedLength);
    Step Progress() const;
    bool Connected() const;   // the connection was made within the connect wait
    qint64 Received() const;  // bytes waiting, not yet taken
    const QByteArray& Request() const;
    // Once ended: what arrived (empty when nothing complete did), and the
    // result rule.
    const QByteArray& Answer() const;
    bool Accepted() const;
    // Called after each step and each arrival of bytes.
    void SetListener(std::function<void()> changed);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace DeviceLink
