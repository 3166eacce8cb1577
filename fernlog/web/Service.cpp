#include "web/Service.h"

#include <QTextStream>

#include "common/EventLog.h"
#include "core/Options.h"
#include "web/Snapshot.h"

namespace Web {
namespace {
void Tell(EventLog::Level level, const QString& text) {
    if (EventLog::HasSink()) {
        EventLog::Write(level, text);
    } else if (level >= EventLog::Level::Warning) {
        QTextStream(stderr) << "fernlog: " << text << Qt::endl;
    }
}
}  // namespace

bool Service::Configure(const std::optional<QString>& httpOption, QString* error) {
    const Options::Values options = Options::Load();
    Endpoint endpoint;
    QString reason;
    if (httpOption) {
        if (!ParseEndpoint(*httpOption, options.webToken, endpoint, &reason)) {
            if (error) *error = QStringLiteral("--http: ") + reason;
            return false;
        }
        endpoint_ = endpoint;
    } else if (!options.webListen.isEmpty()) {
        if (ParseEndpoint(options.webListen, options.webToken, endpoint, &reason)) {
            endpoint_ = endpoint;
        } else {
            refused_ = Options::FileName() + QStringLiteral(" [Web] Listen: ") + reason;
        }
    }
    return true;
}

void Service::Start() {
    MarkStarted();
    if (!refused_.isEmpty()) {
        Tell(EventLog::Level::Error,
             QStringLiteral("The web listener is not started: ") + refused_);
    } else if (endpoint_) {
        QString error;
        if (listener_.Start(*endpoint_, &error)) {
            const QString host = endpoint_->address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? u'[' + endpoint_->address.toString() + u']'
                                     : endpoint_->address.toString();
            Tell(EventLog::Level::Info,
                 QStringLiteral("Web status on http://%1:%2/ (%3)")
                     .arg(host)
                     .arg(listener_.Port())
                     .arg(endpoint_->token.isEmpty() ? QStringLiteral("no token")
                                                     : QStringLiteral("token required")));
        } else {
            Tell(EventLog::Level::Error,
                 QStringLiteral("The web listener is not started: ") + error);
        }
    }
    notify_.Start();
}

}  // namespace Web
