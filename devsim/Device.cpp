#include "Device.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>

#include "Ds1337.h"
#include "Session.h"

namespace devsim {

namespace {

// Device time is a wall time without zone, so that it never jumps with
// daylight saving on the host.
QDateTime naive(const QDateTime& t) {
    return QDateTime(t.date(), t.time(), Qt::UTC);
}

bool validPort(int port) {
    return port >= 0 && port < kPortCount;
}

constexpr int kMaxLogBytes = 32767;  // the log size travels as a signed word

}  // namespace

Device::Device(const DeviceConfig& config, QObject* parent)
    : QObject(parent),
      config_(config),
      family_(config.family.value_or(modelInfo(config.model).family)),
      number_(config.number.value_or(modelInfo(config.model).number)),
      build_(config.build.value_or(modelInfo(config.model).defaultBuild)),
      unit_(config.unit == 'C' ? 'C' : 'F') {
    config_.unit = unit_;
    if (config_.name.isEmpty()) config_.name = QString::fromLatin1(info().name);
    for (int p = 0; p < kPortCount; ++p) ports_[p].value = defaultPortValue(info().ports[p], unit_);
    factoryReset();
    clockBase_ = naive(QDateTime::currentDateTime());
    clockSince_.start();
    logTimer_.setInterval(logRate_ * 60000);
    connect(&logTimer_, &QTimer::timeout, this, &Device::appendLogRecord);
    if (hasLog()) logTimer_.start();
}

Device::~Device() = default;

bool Device::start(QString* error) {
    if (!config_.address.isLoopback()) {
        if (error)
            *error = QStringLiteral("%1 is not a loopback address").arg(config_.address.toString());
        return false;
    }
    stopped_ = false;
    if (!listen(error)) return false;
    if (fault_.fault == Fault::Refuse) server_->close();
    if (config_.configPort) {
        if (!configPort_) {
            configPort_ = new ConfigPort(
                *config_.configPort, config_.address,
                [this](const QHostAddress& address) { return moveTo(address); }, this);
        }
        if (!configPort_->start(error)) return false;
    }
    return true;
}

bool Device::moveTo(const QHostAddress& address, QString* error) {
    if (!address.isLoopback()) {
        if (error) *error = QStringLiteral("%1 is not a loopback address").arg(address.toString());
        return false;
    }
    const QHostAddress old = config_.address;
    if (server_) server_->close();
    config_.address = address;
    if (!listen(error) || (configPort_ && !configPort_->rebind(address, error))) {
        config_.address = old;
        if (server_) server_->close();
        listen(nullptr);
        return false;
    }
    return true;
}

bool Device::listen(QString* error) {
    if (server_ && server_->isListening()) return true;
    if (!server_) {
        server_ = new QTcpServer(this);
        connect(server_, &QTcpServer::newConnection, this, &Device::acceptConnections);
    }
    // After a refusal spell the device comes back on the port it had.
    const quint16 wanted = boundPort_ ? boundPort_ : config_.port;
    if (!server_->listen(config_.address, wanted)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(config_.address.toString())
                         .arg(wanted)
                         .arg(server_->errorString());
        return false;
    }
    boundPort_ = server_->serverPort();
    return true;
}

void Device::stop() {
    stopped_ = true;
    if (server_) server_->close();
    if (configPort_) configPort_->stop();
    for (Session* s : findChildren<Session*>()) s->deleteLater();
}

bool Device::isListening() const {
    return server_ && server_->isListening();
}

QString Device::describe() const {
    return QStringLiteral("%1 (%2.%3.%4, unit %5) on %6:%7")
        .arg(QString::fromLatin1(info().name))
        .arg(family_)
        .arg(number_)
        .arg(build_)
        .arg(QChar::fromLatin1(unit_))
        .arg(config_.address.toString())
        .arg(boundPort_);
}

void Device::acceptConnections() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        ++connections_;
        new Session(socket, this);
        emit connectionAccepted();
    }
}

void Device::setUnit(char unit) {
    if (unit != 'C' && unit != 'F') return;
    unit_ = unit;
    pages_[info().namePage][28] = unit;
}

quint8 Device::resolutionFlag() const {
    if (config_.resolutionFlag) return *config_.resolutionFlag;
    return tenths() ? 10 : 0;
}

PortKind Device::portKind(int port) const {
    return validPort(port) ? info().ports[port] : PortKind::Unused;
}

PortState Device::portState(int port) const {
    return validPort(port) ? ports_[port] : PortState{};
}

void Device::setPort(int port, const PortState& state) {
    if (validPort(port)) ports_[port] = state;
}
void Device::setPortValue(int port, double value) {
    if (validPort(port)) ports_[port].value = value;
}
void Device::setPortMinutes(int port, quint16 minutes) {
    if (validPort(port)) ports_[port].minutes = minutes;
}
void Device::setPortStatus(int port, quint8 status) {
    if (validPort(port)) ports_[port].status = status;
}

qint16 Device::encodeValue(double value, bool inTenths) const {
    if (inTenths) {
        // 99990 does not fit a word: a tenths port says "not connected" as 1000.0.
        if (value == 9999) value = 1000;
        value *= 10;
    }
    const double r = std::nearbyint(value);
    return qint16(std::clamp(r, -32768.0, 32767.0));
}

qint16 Device::wireValue(int port) const {
    if (!validPort(port)) return 0;
    return encodeValue(ports_[port].value + correction(port),
                       tenths() && isTenthsPort(family_, port));
}

double Device::correction(int port) const {
    // The device adds the correction stored by a calibration (tenths of a
    // degree) to what its probe measures; special values stay as they are.
    const double v = validPort(port) ? ports_[port].value : 0;
    if (portKind(port) != PortKind::Temperature || v == 1000 || v == 9999 || v == 999 || v == -999)
        return 0;
    if (family_ == 3 && port < 2) return wordAt(pages_[0], 25 + 2 * port) / 10.0;
    const bool qx705 = config_.model == Model::QX700_5 || config_.model == Model::QX700_10;
    if (qx705 && build_ >= 23 && port < 8) return wordAt(pages_[12], 9 + 2 * port) / 10.0;
    return 0;
}

bool Device::hasLimits(int port) const {
    const PortKind kind = portKind(port);
    if (kind != PortKind::Temperature && kind != PortKind::Humidity) return false;
    return family_ == 3 ? port < 2 : port < 8;
}

bool Device::outOfLimits(int port) const {
    if (!hasLimits(port)) return false;
    const double v = ports_[port].value;
    if (v == 1000 || v == 9999 || v == 999 || v == -999) return false;
    const int wire = wireValue(port);
    return wire < wordAt(pages_[0], 9 + 6 * port) || wire > wordAt(pages_[0], 11 + 6 * port);
}

int Device::limitMinutes(int port) const {
    return hasLimits(port) ? wordAt(pages_[0], 13 + 6 * port) : 0;
}

void Device::applyLimits(int port) {
    if (!hasLimits(port)) return;
    const bool alarm = outOfLimits(port) && ports_[port].minutes >= limitMinutes(port);
    ports_[port].status = alarm ? 1 : 0;
}

QByteArray Device::page(int n) const {
    return n >= 0 && n < kPageCount ? pages_[n] : QByteArray();
}

bool Device::setPage(int n, const QByteArray& image) {
    if (n < 0 || n >= kPageCount || image.size() != kPageSize) return false;
    pages_[n].replace(4, kPageSize - 4, image.mid(4));
    if (n == info().namePage) applyNamePage();
    return true;
}

void Device::applyNamePage() {
    // The desktop stores the display unit on the name page; the device then
    // reports in that unit. Anything but C or F leaves the unit as it was.
    const char u = pages_[info().namePage][28];
    if (u == 'C' || u == 'F')
        unit_ = u;
    else
        pages_[info().namePage][28] = unit_;
}

void Device::factoryReset() {
    unit_ = config_.unit;
    pages_ =
        defaultPages(config_.model, PageDefaults{config_.name, unit_, config_.address, tenths()});
}

QDateTime Device::clock() const {
    return clockBase_.addMSecs(clockSince_.elapsed());
}

void Device::setClock(const QDateTime& time) {
    clockBase_ = naive(time);
    clockSince_.restart();
}

void Device::setLogRate(int minutes) {
    if (minutes < 1 || minutes > 60) return;
    logRate_ = minutes;
    logTimer_.setInterval(minutes * 60000);
}

int Device::logCapacity() const {
    return kMaxLogBytes / logRecordSize();
}

void Device::appendLogRecord() {
    if (!hasLog()) return;
    QByteArray record = encodeRecordStamp(clock(), twelveHour_);
    const bool zolo = family_ == 3;
    const int sensors = zolo ? 2 : 8;
    // Family 5 logs always hold tenths; Zolo logs from build 5.
    const bool inTenths = zolo ? build_ >= 5 : true;
    for (int k = 0; k < sensors; ++k) {
        const qint16 v = encodeValue(ports_[k].value, inTenths);
        record.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
    }
    const int door1 = zolo ? 2 : 8, door2 = zolo ? 3 : 9;
    quint8 bits = 0;
    if (ports_[door1].value == 1) bits |= 1;
    if (ports_[door2].value == 1) bits |= 2;
    if (mainsPower_) bits |= 4;
    record.append(char(bits));
    log_.append(record);
    const int keep = logCapacity() * logRecordSize();
    if (log_.size() > keep) log_.remove(0, log_.size() - keep);
}

void Device::setFault(Fault fault) {
    FaultSettings s;
    s.fault = fault;
    setFault(s);
}

void Device::setFault(const FaultSettings& settings) {
    fault_ = settings;
    if (fault_.fault == Fault::Refuse) {
        if (server_) server_->close();
    } else if (!stopped_ && server_ && !server_->isListening() && boundPort_) {
        listen(nullptr);
    }
}

int Device::requestCount(const QByteArray& command) const {
    return requestsByCommand_.value(command.left(4));
}

void Device::resetCounters() {
    connections_ = 0;
    requests_ = 0;
    requestsByCommand_.clear();
    lastRequest_.clear();
}

FaultSettings Device::noteRequest(const QByteArray& request) {
    ++requests_;
    ++requestsByCommand_[request.left(4)];
    lastRequest_ = request;
    emit requestReceived(request);

    FaultSettings applied = fault_;
    const bool affected = fault_.fault != Fault::None && fault_.fault != Fault::Refuse &&
                          (fault_.onlyCommand.isEmpty() || request.startsWith(fault_.onlyCommand));
    if (!affected) {
        applied.fault = Fault::None;
        return applied;
    }
    if (fault_.count > 0 && --fault_.count == 0) fault_ = FaultSettings{};
    return applied;
}

QByteArray Device::identificationAnswer() const {
    QByteArray a(kPageSize, '\0');
    a.replace(0, 4, cmd::Identify);
    putWord(a, 5, family_);
    putWord(a, 7, number_);
    putWord(a, 9, build_);
    return a;
}

QByteArray Device::readingsAnswer() const {
    QByteArray a(kPageSize, '\0');
    a.replace(0, 4, cmd::Readings);
    for (int p = 0; p < kPortCount; ++p) {
        const int s = 5 + 5 * p;
        putWord(a, s, wireValue(p));
        putWord(a, s + 2, ports_[p].minutes);
        a[s + 3] = char(ports_[p].status);
    }
    a[58] = char(resolutionFlag());
    a[59] = unit_;
    return a;
}

QByteArray Device::clockAnswer(const QByteArray& command) const {
    QByteArray a(kPageSize, '\0');
    a.replace(0, 4, command);
    a.replace(4, 7, encodeClock(clock(), twelveHour_));
    a[11] = char(logRate_);
    putWord(a, 13, logSize());
    return a;
}

QByteArray Device::answer(const QByteArray& request) {
    if (request.size() < kRequestSize) return {};
    const QByteArray head = request.left(4);
    const int n = quint8(request[3]);
    if (head == cmd::Identify) return identificationAnswer();
    if (head == cmd::Readings) return readingsAnswer();
    if (request.startsWith(cmd::PageRead) && n < kPageCount) return pages_[n];
    if (request.startsWith(cmd::PageWrite) && n < kPageCount) {
        setPage(n, request.left(kPageSize));
        return request.left(kPageSize);
    }
    if (head == cmd::FactoryReset) {
        factoryReset();
        QByteArray a(kPageSize, '\0');
        a.replace(0, 4, head);
        return a;
    }
    if (!hasLog()) return {};
    if (head == cmd::Log00) {
        if (const auto regs = decodeClock(request.mid(4, 7))) {
            setClock(regs->time);
            twelveHour_ = regs->twelveHour;
        }
        setLogRate(quint8(request[11]));
        return clockAnswer(head);
    }
    if (head == cmd::Log02) return clockAnswer(head);
    if (head == cmd::ReadLog) {
        const QByteArray all = log_;
        if (request[4] == 1) log_.clear();
        return all;
    }
    return {};
}

}  // namespace devsim
