#include "core/DeviceLink.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>
#include <array>

#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ErrorLog.h"
#include "protocol/Address.h"
#include "protocol/Commands.h"

namespace DeviceLink {

bool DataArrived = false;
qint32 BytesArrived = 0;
bool TimedOut = false;
bool ProgramRunning = true;
Window CurrentWindow = Window::frmMain;
qint32 WatchDogTicks = 0;

namespace {

const QString kConnectionKey = QStringLiteral("Connection ");
const QString kErrorKey = QStringLiteral("Communication Error");
// Beyond what the caller expects, at most this much of an answer is kept: a
// device that sends without end cannot fill the memory.
constexpr qint64 kExtraAnswerBytes = 64 * 1024;

// The socket, the two timers and the wait of the transaction in progress.
struct Link {
    QTcpSocket socket;
    QTimer watchDog;
    QTimer tenth;
    QPointer<QEventLoop> waiting;
    QHash<Window, LinkView*> views;
    bool inTransaction = false;
    int progressMaximum = 0;

    void Wake() {
        if (waiting) waiting->quit();
    }
};

}  // namespace

int WinsockErrorNumber(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return 10061;
        case QAbstractSocket::HostNotFoundError:
            return 11001;
        case QAbstractSocket::SocketTimeoutError:
            return 10060;
        case QAbstractSocket::NetworkError:
            return 10065;
        case QAbstractSocket::SocketAccessError:
            return 10013;
        case QAbstractSocket::SocketResourceError:
            return 10055;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        default:
            return 10000 + static_cast<int>(error);
    }
}

namespace {

Link& TheLink() {
    static Link* link = [] {
        auto* l = new Link;  // lives for the whole run
        // A coarse timer may fire up to 5% early; a time-out must not.
        l->watchDog.setTimerType(Qt::PreciseTimer);
        QObject::connect(&l->socket, &QTcpSocket::readyRead, [l] {
            DataArrived = true;
            BytesArrived = static_cast<qint32>(l->socket.bytesAvailable());
            l->Wake();
        });
        QObject::connect(&l->socket, &QTcpSocket::connected, [l] { l->Wake(); });
        QObject::connect(
            &l->socket, &QTcpSocket::errorOccurred, [l](QAbstractSocket::SocketError error) {
                // A device closing after its answer is the close
                // event, not an error.
                if (error != QAbstractSocket::RemoteHostClosedError) {
                    StatusList::ShowStatus(
                        kErrorKey, QStringLiteral("Error Number: ") +
                                       QString::number(WinsockErrorNumber(error)) +
                                       QStringLiteral(".  Description ") + l->socket.errorString());
                }
                l->Wake();
            });
        QObject::connect(&l->watchDog, &QTimer::timeout, [l] {
            TimedOut = true;
            l->Wake();
        });
        QObject::connect(&l->tenth, &QTimer::timeout, [l] {
            ++WatchDogTicks;
            LinkView* view = l->views.value(CurrentWindow);
            if (view && WatchDogTicks < l->progressMaximum) view->SetProgressValue(WatchDogTicks);
            // The tick also wakes the wait, so a change of ProgramRunning is
            // seen within a tenth of a second.
            l->Wake();
        });
        return l;
    }();
    return *link;
}

// Stored addresses the address rule refused, already told to the logs.
QSet<QString>& RefusedAddresses() {
    static QSet<QString> refused;
    return refused;
}

LinkView* CurrentView() {
    return TheLink().views.value(CurrentWindow);
}

// Runs the event loop until `done` holds. Every wake-up source (socket,
// watchdog, tenth tick) quits the inner loop so the condition is checked.
template <class Done>
void WaitUntil(Done done) {
    Link& link = TheLink();
    while (!done()) {
        QEventLoop loop;
        link.waiting = &loop;
        const int code = loop.exec();
        link.waiting = nullptr;
        // -1: the application is quitting and no loop runs any more; waiting
        // on would spin.
        if (code == -1) return;
    }
}

bool Connected() {
    return TheLink().socket.state() == QAbstractSocket::ConnectedState;
}
}  // namespace

void SetView(Window window, LinkView* view) {
    if (view) {
        TheLink().views.insert(window, view);
    } else {
        TheLink().views.remove(window);
    }
}

void Reset() {
    // A transaction abandoned at shutdown leaves its connection open and its
    // timers running; a fresh start has neither.
    Link& link = TheLink();
    link.socket.abort();
    link.watchDog.stop();
    link.tenth.stop();
    DataArrived = false;
    BytesArrived = 0;
    TimedOut = false;
    ProgramRunning = true;
    CurrentWindow = Window::frmMain;
    WatchDogTicks = 0;
    RefusedAddresses().clear();
}

void StartWatchDog(int milliseconds) {
    Link& link = TheLink();
    link.watchDog.stop();
    link.watchDog.setInterval(milliseconds);
    TimedOut = false;
    link.watchDog.start();
    link.tenth.start(100);
    WatchDogTicks = 0;
    link.progressMaximum = milliseconds / 100;
    if (LinkView* view = CurrentView()) view->SetProgressMaximum(link.progressMaximum);
}

void StopWatchDog() {
    Link& link = TheLink();
    link.watchDog.stop();
    link.tenth.stop();
    TimedOut = false;
    WatchDogTicks = 0;
    // The timers were what woke a wait; a wait still running (shutdown
    // stops the watchdog mid-transaction) must look at its flags now.
    link.Wake();
    if (LinkView* view = CurrentView()) {
        view->SetProgressValue(0);
        if (CurrentWindow == Window::frmTreeConfiguration) view->HideProgress();
    }
}

QHostAddress DeviceAddress(const QString& ipAddress) {
    // Only the suite's address rule decides what an address means; the
    // socket gets the rebuilt address, never the stored text, which Qt would
    // read in octal ("010.0.0.7" is 8.0.0.7) or look up as a name.
    QString invalid;
    const auto parsed = Protocol::ParseIPv4(ipAddress.trimmed(), &invalid);
    if (parsed) return QHostAddress(parsed->Value());
    // Every cycle meets it again: the error log (which also tells the
    // service log) hears of each refused address once, the status list
    // keeps a line for it.
    if (!RefusedAddresses().contains(ipAddress)) {
        RefusedAddresses().insert(ipAddress);
        ErrorLog::RecordError(QStringLiteral("OpenWinSocket()"), invalid);
    }
    StatusList::ShowStatus(QStringLiteral("Address ") + ipAddress + QStringLiteral(": "),
                           QStringLiteral("not used.  ") + invalid);
    return QHostAddress();
}

bool OpenWinSocket(const QString& ipAddress, quint16 port) {
    Link& link = TheLink();
    const QHostAddress address = DeviceAddress(ipAddress);
    if (address.isNull()) return false;
    // A connection left open by an abandoned transaction is reused only for
    // the same device.
    if (Connected() && link.socket.peerAddress() == address && link.socket.peerPort() == port) {
        return true;
    }
    link.socket.abort();
    link.socket.setReadBufferSize(0);
    link.socket.connectToHost(address, port);
    StartWatchDog(Waits::Current().connectMs);
    // A refused connection ends the wait at once; it would never connect.
    WaitUntil([&] {
        return Connected() || TimedOut || !ProgramRunning ||
               link.socket.state() == QAbstractSocket::UnconnectedState;
    });
    if (!ProgramRunning) return false;
    StopWatchDog();
    if (!Connected()) {
        StatusList::ShowStatus(kConnectionKey, QStringLiteral("could not be established"));
        return false;
    }
    StatusList::ShowStatus(kConnectionKey, QStringLiteral("opened"));
    return true;
}

void CloseWinSocket() {
    TheLink().socket.abort();
    StatusList::ShowStatus(kConnectionKey, QStringLiteral("closed"));
}

bool WriteWinSocket(const QByteArray& data) {
    QTcpSocket& socket = TheLink().socket;
    if (socket.state() == QAbstractSocket::ConnectedState) socket.write(data);
    return true;
}

bool ReadWinSocket(QByteArray& data) {
    data = TheLink().socket.readAll();
    return true;
}

bool ReadFromCV(const QString& ipAddress, quint16 port, const QByteArray& request,
                QByteArray& answer, int expectedLength, Window callerWindow) {
    Link& link = TheLink();
    answer.clear();
    if (link.inTransaction) {
        ErrorLog::RecordError(QStringLiteral("Error in ReadFromCV is "),
                              QStringLiteral("Another transaction is in progress."));
        return false;
    }
    link.inTransaction = true;
    struct Done {
        Link& l;
        ~Done() { l.inTransaction = false; }
    } done{link};

    DataArrived = false;
    BytesArrived = 0;
    const bool ok = OpenWinSocket(ipAddress, port);
    if (!ProgramRunning) return false;

    // The connection indicator is the main window's, also while the
    // registry window is the one showing the hourglass.
    if (LinkView* main = link.views.value(Window::frmMain)) {
        main->SetConnectionColour(ok ? Colour::Green : Colour::Red);
    }
    if (LinkView* view = CurrentView()) view->SetBusyCursor(true);
    const int wait = AnswerWaitMs(expectedLength);
    link.socket.setReadBufferSize(std::max(expectedLength, Protocol::kRequestLength) +
                                  kExtraAnswerBytes);
    WriteWinSocket(request);

    // A refused connection (or an address that cannot be used) can bring no
    // answer: waiting the answer time-out would only delay every cycle. A
    // connection still being made may yet answer, and gets the full wait.
    const bool answerPossible = ok || link.socket.state() != QAbstractSocket::UnconnectedState;
    if (answerPossible) StartWatchDog(wait);
    bool complete = false;
    WaitUntil([&] {
        if (!answerPossible || TimedOut || !ProgramRunning) return true;
        if (!DataArrived) return false;
        DataArrived = false;
        const qint64 received = link.socket.bytesAvailable();
        if (callerWindow == Window::frmTreeConfiguration) {
            if (LinkView* tree = link.views.value(Window::frmTreeConfiguration)) {
                tree->ShowDownloadProgress(
                    QStringLiteral("Downloading log records from ") + tree->ChosenDeviceName() +
                    QStringLiteral("  Total bytes Received: ") + QString::number(received) +
                    QStringLiteral(" of ") + QString::number(expectedLength) +
                    QStringLiteral(" bytes"));
            }
        }
        if (received >= expectedLength) {
            QByteArray data;
            ReadWinSocket(data);
            answer.append(data);
            complete = true;
        }
        return complete;
    });
    if (!ProgramRunning) return false;
    if (answerPossible && !complete && TimedOut) ServiceLog::NoAnswer(ipAddress, wait / 1000);

    StopWatchDog();
    if (LinkView* view = CurrentView()) view->SetBusyCursor(false);
    if (LinkView* main = link.views.value(Window::frmMain)) {
        main->SetConnectionColour(Colour::LightGrey);
    }
    CloseWinSocket();

    const bool result = AnswerAccepted(request, answer, expectedLength);
    StatusList::ShowStatus(kErrorKey, QStringLiteral("delete"));
    return result;
}

int AnswerWaitMs(int expectedLength) {
    if (ConfigParameters.TCPTimeOut < 2 || ConfigParameters.TCPTimeOut > 9) {
        ConfigParameters.TCPTimeOut = 3;
    }
    if (expectedLength > Protocol::kRequestLength) return 60000;
    const int shortened = Waits::Current().answerMs;
    return shortened > 0 ? shortened : ConfigParameters.TCPTimeOut * 1000;
}

bool AnswerAccepted(const QByteArray& request, const QByteArray& answer, int expectedLength) {
    if (request.left(4) == Protocol::CmdReadLog()) return answer.size() >= expectedLength;
    return answer.left(4) == request.left(4) && answer.size() >= expectedLength &&
           !answer.toLower().contains("error");
}

}  // namespace DeviceLink
