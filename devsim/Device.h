// One simulated device: its state (identification, ports, pages, clock, log)
// and the listener on its data port; optionally its configuration port
// (discovery and addressing), a second listener owned here.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <optional>

#include "ConfigPort.h"
#include "Fault.h"
#include "Models.h"

class QTcpServer;

namespace devsim {

class Session;

struct DeviceConfig {
    QHostAddress address{QStringLiteral("127.0.0.2")};
    Model model = Model::QX700_5;
    std::optional<quint16> build;   // default: the model's usual build
    std::optional<quint16> family;  // override the identification numbers
    std::optional<quint16> number;
    // Force byte 59 of the readings answer; by default 10 when the device
    // sends tenths and 0 otherwise.
    std::optional<quint8> resolutionFlag;
    char unit = 'F';
    quint16 port = kDataPort;  // 0 binds an ephemeral port
    QString name;              // device name on the name page; default: model name
    // The configuration port 30718; off unless set, since it binds a fixed port.
    std::optional<ConfigPortSettings> configPort;
};

struct PortState {
    double value = 0;  // in degrees, %RH or 0/1, as the desktop shows it
    quint16 minutes = 0;
    quint8 status = 0;  // 0 normal, 1 or more in alarm
};

class Device : public QObject {
    Q_OBJECT
  public:
    explicit Device(const DeviceConfig& config, QObject* parent = nullptr);
    ~Device() override;

    // Starts listening on the data port. False (and why) when the address is
    // not a loopback address or the port cannot be bound.
    bool start(QString* error = nullptr);
    void stop();
    bool isListening() const;

    QHostAddress address() const { return config_.address; }
    // Both ports listen on `address` from now on (a changed IP address).
    bool moveTo(const QHostAddress& address, QString* error = nullptr);
    ConfigPort* configPort() const { return configPort_; }
    quint16 port() const { return boundPort_; }  // the bound port once started
    Model model() const { return config_.model; }
    const ModelInfo& info() const { return modelInfo(config_.model); }
    quint16 family() const { return family_; }
    quint16 modelNumber() const { return number_; }
    quint16 build() const { return build_; }
    QString describe() const;  // "QX700-5 (5.5.24) on 127.0.0.2:10001"

    char unit() const { return unit_; }
    void setUnit(char unit);  // 'C' or 'F'; also kept on the name page
    bool tenths() const { return sendsTenths(config_.model, family_, build_); }
    quint8 resolutionFlag() const;

    PortKind portKind(int port) const;
    PortState portState(int port) const;
    void setPort(int port, const PortState& state);
    void setPortValue(int port, double value);
    void setPortMinutes(int port, quint16 minutes);
    void setPortStatus(int port, quint8 status);
    // The 16-bit word the device sends for a port's value: the value plus
    // the port's stored correction (page 12 of QX700-5/-10 from build 23,
    // page 0 of Zolo devices).
    qint16 wireValue(int port) const;
    double correction(int port) const;
    // Ports whose limits and time out of limits sit on page 0 (temperatures
    // and humidity): port p's lower and upper limit and time at 9 + 6p,
    // 11 + 6p and 13 + 6p, in the units the device sends.
    bool hasLimits(int port) const;
    // The value as sent lies outside the port's limits. Special values
    // (not connected, open, shorted) are the desktop's to judge.
    bool outOfLimits(int port) const;
    int limitMinutes(int port) const;
    // The device's verdict: the status byte is 1 once the port has been out
    // of limits for its time out of limits (the port's minutes count), 0
    // otherwise. Ports without limits keep the status they have.
    void applyLimits(int port);
    bool mainsPower() const { return mainsPower_; }
    void setMainsPower(bool on) { mainsPower_ = on; }

    // Page images are 60 bytes, bytes 1-4 being the read echo AA BB CC n.
    QByteArray page(int n) const;
    // Stores bytes 5-60 of a 60-byte image; false for a bad number or size.
    bool setPage(int n, const QByteArray& image);
    void factoryReset();

    bool hasLog() const { return hasClockAndLog(family_, build_); }
    QDateTime clock() const;  // device wall time (its own; no time zone)
    void setClock(const QDateTime& time);
    bool clockTwelveHour() const { return twelveHour_; }
    int logRate() const { return logRate_; }  // minutes between log records
    void setLogRate(int minutes);
    int logRecordSize() const { return devsim::logRecordSize(family_); }
    int logCapacity() const;                          // records; the oldest go when it is full
    int logSize() const { return int(log_.size()); }  // bytes, as reported
    QByteArray log() const { return log_; }
    void appendLogRecord();
    void clearLog() { log_.clear(); }

    void setFault(Fault fault);
    void setFault(const FaultSettings& settings);
    void clearFault() { setFault(Fault::None); }
    FaultSettings fault() const { return fault_; }

    int connectionCount() const { return connections_; }
    int requestCount() const { return requests_; }
    int requestCount(const QByteArray& command) const;  // by first 4 bytes
    QByteArray lastRequest() const { return lastRequest_; }
    void resetCounters();

    // What the device sends back for a request when nothing is wrong; empty
    // when it ignores the request (unknown command, or an empty log).
    // Page writes, factory reset and clock commands change the device.
    QByteArray answer(const QByteArray& request);

  signals:
    // Emitted from inside the connection's handling: a slot that removes the
    // device must go through Simulator::removeDevice (which defers deletion).
    void connectionAccepted();
    void requestReceived(const QByteArray& request);

  private:
    friend class Session;
    // Called by sessions for each complete request; returns the fault to
    // apply to its answer and counts it down.
    FaultSettings noteRequest(const QByteArray& request);
    void acceptConnections();
    bool listen(QString* error);
    QByteArray identificationAnswer() const;
    QByteArray readingsAnswer() const;
    QByteArray clockAnswer(const QByteArray& command) const;
    qint16 encodeValue(double value, bool inTenths) const;
    void applyNamePage();

    DeviceConfig config_;
    quint16 family_, number_, build_;
    char unit_;
    quint16 boundPort_ = 0;
    QTcpServer* server_ = nullptr;
    ConfigPort* configPort_ = nullptr;
    bool stopped_ = false;
    std::array<PortState, kPortCount> ports_{};
    bool mainsPower_ = true;
    std::array<QByteArray, kPageCount> pages_;
    QDateTime clockBase_;
    QElapsedTimer clockSince_;
    bool twelveHour_ = true;
    int logRate_ = 5;
    QByteArray log_;
    QTimer logTimer_;
    FaultSettings fault_;
    int connections_ = 0;
    int requests_ = 0;
    QHash<QByteArray, int> requestsByCommand_;
    QByteArray lastRequest_;
};

// Command heads, first 4 bytes of a request.
namespace cmd {
inline const QByteArray Readings = QByteArray::fromHex("3FCDDC00");
inline const QByteArray Identify = QByteArray::fromHex("2ACDDCBA");
inline const QByteArray PageRead = QByteArray::fromHex("AABBCC");   // + page number
inline const QByteArray PageWrite = QByteArray::fromHex("DDCCBB");  // + page number
inline const QByteArray FactoryReset = QByteArray::fromHex("DEADDEAD");
inline const QByteArray Log00 = QByteArray::fromHex("DECADE00");
inline const QByteArray Log02 = QByteArray::fromHex("DECADE02");
inline const QByteArray ReadLog = QByteArray::fromHex("DECADE04");
inline const QByteArray Busy = QByteArray::fromHex("B55EB55E");
}  // namespace cmd

}  // namespace devsim
