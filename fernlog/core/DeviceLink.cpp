#include "core/DeviceLink.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>

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

// The one link's exchange, its two timers and its wait.
struct Link {
    std::unique_ptr<Exchange> exchange;
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

struct Exchange::Impl {
    // Receives the socket's signals and the deferred end; gone with the
    // exchange, and with it whatever was still queued for it.
    QObject context;
    std::unique_ptr<QTcpSocket> socket;
    QTimer timer;
    Step step = Step::Idle;
    bool connected = false;
    bool ending = false;
    QString device;
    QByteArray request;
    QByteArray answer;
    int expected = Protocol::kRequestLength;
    int answerWaitMs = 0;
    bool accepted = false;
    std::function<void()> changed;

    void Tell() {
        if (changed) changed();
    }

    void Begin(const QHostAddress& address, quint16 port) {
        Release();
        answer.clear();
        accepted = connected = ending = false;
        answerWaitMs = AnswerWaitMs(expected);
        step = Step::Connecting;
        if (address.isNull()) {
            End(QByteArray());
            return;
        }
        socket = std::make_unique<QTcpSocket>();
        socket->setReadBufferSize(std::max(expected, Protocol::kRequestLength) + kExtraAnswerBytes);
        QTcpSocket* s = socket.get();
        QObject::connect(s, &QTcpSocket::connected, &context, [this] { Connected(); });
        QObject::connect(s, &QTcpSocket::readyRead, &context, [this] { Arrived(); });
        QObject::connect(s, &QTcpSocket::errorOccurred, &context,
                         [this](QAbstractSocket::SocketError error) { Failed(error); });
        QObject::connect(s, &QTcpSocket::stateChanged, &context,
                         [this](QAbstractSocket::SocketState state) {
                             if (state == QAbstractSocket::UnconnectedState) Closed();
                         });
        timer.start(Waits::Current().connectMs);
        s->connectToHost(address, port);
    }

    void Connected() {
        if (step != Step::Connecting || ending) return;
        connected = true;
        StatusList::ShowStatus(kConnectionKey, QStringLiteral("opened"));
        socket->write(request);
        step = Step::Answer;
        timer.start(answerWaitMs);
        Tell();
    }

    void Arrived() {
        if (step != Step::Answer || ending) return;
        DataArrived = true;
        BytesArrived = static_cast<qint32>(socket->bytesAvailable());
        if (socket->bytesAvailable() >= expected) {
            End(socket->readAll());
        } else {
            Tell();
        }
    }

    void Failed(QAbstractSocket::SocketError error) {
        // A device closing after its answer is the close event, not an
        // error. Qt tells a refused connection's state before its error:
        // the line is shown even after the end, which removes it.
        if (error == QAbstractSocket::RemoteHostClosedError) return;
        StatusList::ShowStatus(kErrorKey, QStringLiteral("Error Number: ") +
                                              QString::number(WinsockErrorNumber(error)) +
                                              QStringLiteral(".  Description ") +
                                              socket->errorString());
    }

    void Closed() {
        if (ending) return;
        if (step == Step::Connecting) {
            // Refused or unroutable: no answer can come, so no answer
            // time-out is waited.
            StatusList::ShowStatus(kConnectionKey, QStringLiteral("could not be established"));
            End(QByteArray());
        } else if (step == Step::Answer) {
            // Closed: what came is all that will come.
            const bool whole = socket->bytesAvailable() >= expected;
            End(whole ? socket->readAll() : QByteArray());
        }
    }

    void TimedOut() {
        if (ending) return;
        if (step == Step::Connecting) {
            // A connection still being made may yet come, but the request is
            // not sent on it: the answer wait runs out all the same.
            StatusList::ShowStatus(kConnectionKey, QStringLiteral("could not be established"));
            step = Step::Answer;
            timer.start(answerWaitMs);
            Tell();
            return;
        }
        ServiceLog::NoAnswer(device, answerWaitMs / 1000);
        End(QByteArray());
    }

    // The answer is in; the socket is closed and freed, and the end told,
    // once the event loop has left the socket's own signal.
    void End(const QByteArray& arrived) {
        ending = true;
        timer.stop();
        answer = arrived;
        QMetaObject::invokeMethod(
            &context,
            [this] {
                Release();
                StatusList::ShowStatus(kConnectionKey, QStringLiteral("closed"));
                StatusList::ShowStatus(kErrorKey, QStringLiteral("delete"));
                accepted = AnswerAccepted(request, answer, expected);
                step = Step::Ended;
                ending = false;
                // Last: the listener may start this exchange again.
                Tell();
            },
            Qt::QueuedConnection);
    }

    void Release() {
        timer.stop();
        if (!socket) return;
        socket->disconnect(&context);
        socket->abort();
        socket.reset();
    }
};

Exchange::Exchange() : d_(std::make_unique<Impl>()) {
    // A coarse timer may fire up to 5% early; a time-out must not.
    d_->timer.setTimerType(Qt::PreciseTimer);
    d_->timer.setSingleShot(true);
    Impl* d = d_.get();
    QObject::connect(&d->timer, &QTimer::timeout, &d->context, [d] { d->TimedOut(); });
}

Exchange::~Exchange() {
    d_->Release();
}

void Exchange::Start(const QHostAddress& address, const QString& device, quint16 port,
                     const QByteArray& request, int expectedLength) {
    d_->device = device;
    d_->request = request;
    d_->expected = expectedLength;
    d_->Begin(address, port);
}

Exchange::Step Exchange::Progress() const {
    return d_->step;
}

bool Exchange::Connected() const {
    return d_->connected;
}

qint64 Exchange::Received() const {
    return d_->socket ? d_->socket->bytesAvailable() : 0;
}

const QByteArray& Exchange::Request() const {
    return d_->request;
}

const QByteArray& Exchange::Answer() const {
    return d_->answer;
}

bool Exchange::Accepted() const {
    return d_->accepted;
}

void Exchange::SetListener(std::function<void()> changed) {
    d_->changed = std::move(changed);
}

namespace {

Link& TheLink() {
    static Link* link = [] {
        auto* l = new Link;  // lives for the whole run
        // A coarse timer may fire up to 5% early; a time-out must not.
        l->watchDog.setTimerType(Qt::PreciseTimer);
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

// Runs the event loop until `done` holds. Every wake-up source (exchange,
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
    link.exchange.reset();
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

void ShowTalking(bool talking) {
    Link& link = TheLink();
    if (LinkView* main = link.views.value(Window::frmMain)) {
        main->SetConnectionColour(talking ? Colour::Green : Colour::LightGrey);
    }
    if (LinkView* view = CurrentView()) view->SetBusyCursor(talking);
}

void CloseWinSocket() {
    TheLink().exchange.reset();
    StatusList::ShowStatus(kConnectionKey, QStringLiteral("closed"));
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
    // What a transaction abandoned at shutdown left open goes now.
    link.exchange = std::make_unique<Exchange>();
    Exchange& exchange = *link.exchange;
    exchange.SetListener([&link] { link.Wake(); });
    const QHostAddress address = DeviceAddress(ipAddress);
    exchange.Start(address, ipAddress, port, request, expectedLength);
    const auto step = [&exchange] { return exchange.Progress(); };
    if (!address.isNull()) {
        StartWatchDog(Waits::Current().connectMs);
        WaitUntil([&] { return step() != Exchange::Step::Connecting || !ProgramRunning; });
        if (!ProgramRunning) return false;
        StopWatchDog();
    }

    // The connection indicator is the main window's, also while the
    // registry window is the one showing the hourglass.
    if (LinkView* main = link.views.value(Window::frmMain)) {
        main->SetConnectionColour(exchange.Connected() ? Colour::Green : Colour::Red);
    }
    if (LinkView* view = CurrentView()) view->SetBusyCursor(true);

    // A refused connection (or an address that cannot be used) can bring no
    // answer: no answer time-out is waited. A connection still being made
    // gets the full wait.
    if (step() == Exchange::Step::Answer) StartWatchDog(AnswerWaitMs(expectedLength));
    WaitUntil([&] {
        if (!ProgramRunning || step() == Exchange::Step::Ended) return true;
        if (DataArrived && callerWindow == Window::frmTreeConfiguration) {
            if (LinkView* tree = link.views.value(Window::frmTreeConfiguration)) {
                tree->ShowDownloadProgress(
                    QStringLiteral("Downloading log records from ") + tree->ChosenDeviceName() +
                    QStringLiteral("  Total bytes Received: ") +
                    QString::number(exchange.Received()) + QStringLiteral(" of ") +
                    QString::number(expectedLength) + QStringLiteral(" bytes"));
            }
        }
        DataArrived = false;
        return false;
    });
    if (!ProgramRunning) return false;

    StopWatchDog();
    if (LinkView* view = CurrentView()) view->SetBusyCursor(false);
    if (LinkView* main = link.views.value(Window::frmMain)) {
        main->SetConnectionColour(Colour::LightGrey);
    }
    answer = exchange.Answer();
    const bool result = exchange.Accepted();
    link.exchange.reset();
    return result;
}

int AnswerTimeOutSeconds(int tcpTimeOut) {
    return tcpTimeOut < 2 || tcpTimeOut > 9 ? 3 : tcpTimeOut;
}

int AnswerWaitMs(int expectedLength) {
    ConfigParameters.TCPTimeOut = qint16(AnswerTimeOutSeconds(ConfigParameters.TCPTimeOut));
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
