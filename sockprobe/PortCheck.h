#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QAbstractSocket;
class QEventLoop;
class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace Sockprobe {

// Sent from the client to the listener, one byte per character.
inline constexpr char kTestText[] = "This message brought to you by Corvane.";
inline constexpr char kTcpPort[] = "10001";
inline constexpr char kUdpPort[] = "30718";
inline constexpr char kLoopbackIP[] = "127.0.0.1";

enum class Protocol { None, Tcp, Udp };

// The last line of every run: which ports got the text through.
QString ResultLine(bool tcpPassed, bool udpPassed);

// sockprobe --check: one run without a window, each line printed on
// standard output as the window lists it. True when both ports passed.
bool CheckFromConsole(bool useLocalIP);

// The port check behind the window: the listener `socketServer` and the
// client `socketClient` on this computer, the steps of a run and the
// handlers of their socket events. Every line goes out through LineAdded.
//
// A closed socket object is retired (its signals cut, deleted later) and a
// fresh one is made when the socket opens again, so that nothing of an
// earlier run can reach a later one.
class PortCheck : public QObject {
    Q_OBJECT
  public:
    explicit PortCheck(QObject* parent = nullptr);
    ~PortCheck() override;

    // Start Test: clears the output, then TCP on 10001 and UDP on 30718. The
    // client sends to LocalIPAddress() with useLocalIP, else to 127.0.0.1.
    void Run(bool useLocalIP);
    bool Running() const { return running_; }
    // The last run got the text through both ports.
    bool Passed() const { return tcpPassed_ && udpPassed_; }

    // The window unloads: a wait in progress ends, the run stops after its
    // current step, both sockets close.
    void Shutdown();

    void ReportFailure(const QString& text);
    void PrepareTcp();
    void PrepareUdp();
    void StartListener();
    void ConnectClient();
    void SendTestText();

    bool ListenerClosed() const;
    bool ClientClosed() const;

    // Longest wait for the socket events that a step sets off.
    void SetStepWait(int ms) { stepWaitMs_ = ms; }

  signals:
    void OutputCleared();
    void LineAdded(const QString& line);

  private:
    struct Listener {
        Protocol protocol = Protocol::None;
        quint16 localPort = 0;
        QTcpServer* server = nullptr;      // TCP, while listening
        QTcpSocket* connection = nullptr;  // TCP, once a request is accepted
        QUdpSocket* udp = nullptr;         // UDP, while bound
    };
    struct Client {
        Protocol protocol = Protocol::None;
        QString remoteHost;
        quint16 remotePort = 0;
        QAbstractSocket* socket = nullptr;
    };

    void AddLine(const QString& line);
    void Prepare(Protocol protocol, const char* port);
    void CloseListener();
    void CloseClient();
    void Retire(QObject* object);
    void Adopt(QTcpSocket* connection);

    void OnConnectionRequest();
    void OnTcpDataArrival();
    void OnUdpDataArrival();
    void CheckReceived(const QByteArray& data);
    void OnListenerError(const QString& description);
    void OnClientError(QAbstractSocket* socket);

    // Runs one step; a C++ exception that escapes it is reported with lead.
    void Trap(const QString& lead, const std::function<void()>& step);
    // Socket errors that Qt signals from inside a call of ours belong to that
    // call and are reported by the step that made it.
    void BeginCall();
    QString EndCall();

    // Lets pending events run; while settled() is false, keeps running them
    // until it turns true or the step wait is over.
    void Pump(const std::function<bool()>& settled = {});
    void Wake();

    Listener socketServer;
    Client socketClient;
    bool useLocalIP_ = true;
    bool running_ = false;
    bool closing_ = false;
    bool inCall_ = false;
    QString callError_;
    bool sendComplete_ = false;
    bool dataArrived_ = false;
    bool tcpPassed_ = false;
    bool udpPassed_ = false;
    int stepWaitMs_ = 3000;
    QEventLoop* waitLoop_ = nullptr;
    std::function<bool()> settled_;
};

}  // namespace Sockprobe
