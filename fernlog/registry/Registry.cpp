#include "registry/Registry.h"

#include <QHostAddress>

#include "common/Ansi.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "db/ServerDatabase.h"
#include "pages/PageValues.h"
#include "protocol/Address.h"
#include "protocol/Commands.h"

namespace Registry {
namespace {

bool BeginsBusy(const QByteArray& answer) {
    return answer.startsWith(Protocol::ReplyBusy());
}

// The name page holds the user's own text, so its answers are judged by
// echo and full length, as the configuration windows judge pages: the
// link's rule (no "error" anywhere) would refuse for good the page of a
// device named "Terror Freezer".
bool PageAnswerEchoes(const QByteArray& request, const QByteArray& answer) {
    return answer.size() >= Protocol::kAnswerLength && answer.left(4) == request.left(4);
}

void PutText(QByteArray& page, int position, int width, const QString& text) {
    page.replace(position - 1, width, Ansi::Field(text, width));
}

}  // namespace

int NamePageNumber(int deviceFamily) {
    return deviceFamily == 3 ? 1 : 2;
}

bool Identify(const QString& ipAddress, Protocol::Identification& id) {
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdIdentify());
    QByteArray answer;
    if (!DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, answer,
                                Protocol::kAnswerLength) ||
        answer.left(4) != request.left(4)) {
        return false;
    }
    Decoding::ParseMessage(Protocol::CmdIdentify(), answer);
    id = LastIdentification();
    return true;
}

Protocol::Identification LastIdentification() {
    return {Decoding::DeviceFamily, Decoding::DeviceModel, Decoding::FirmwareBuild};
}

Outcome ReadNamePage(const QString& ipAddress, int deviceFamily, QByteArray& page) {
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdPage(NamePageNumber(deviceFamily)));
    DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, page,
                           Protocol::kAnswerLength);
    if (PageAnswerEchoes(request, page)) return Outcome::Ok;
    return BeginsBusy(page) ? Outcome::Busy : Outcome::Failed;
}

QString PageName(const QByteArray& page) {
    return Pages::ReadName(page, NamePage::kName);
}

QChar PageUnit(const QByteArray& page) {
    return QLatin1Char(page.size() >= NamePage::kUnit ? page.at(NamePage::kUnit - 1) : ' ');
}

QString Name20(const QString& name) {
    return name.trimmed().left(NamePage::kNameLength).leftJustified(NamePage::kNameLength);
}

bool NameFitsDevice(const QString& name) {
    return Pages::NameFits(Name20(name));
}

QByteArray ComposeNamePage(const QByteArray& page, const QString& name, QChar unit,
                           const QString& ipAddress) {
    QByteArray image = page.left(Protocol::kRequestLength);
    image.append(QByteArray(Protocol::kRequestLength - image.size(), '\0'));
    Pages::WriteName(image, NamePage::kName, Name20(name));
    image[NamePage::kUnit - 1] = unit.toLatin1();
    PutText(image, NamePage::kAddress, NamePage::kAddressLength, ipAddress);
    InsertStoreUserPageCommand(image);
    return image;
}

bool InsertStoreUserPageCommand(QByteArray& strSend) {
    strSend.replace(0, 3, Protocol::CmdDDCCBB().left(3));
    return true;
}

Outcome StoreNamePage(const QString& ipAddress, const QByteArray& image) {
    QByteArray answer;
    DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, image, answer,
                           Protocol::kAnswerLength);
    // The device echoes the stored page whole.
    if (PageAnswerEchoes(image, answer) && answer.left(image.size()) == image) return Outcome::Ok;
    return BeginsBusy(answer) ? Outcome::Busy : Outcome::Failed;
}

Outcome RestoreFactoryDefaults(const QString& ipAddress) {
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdFactoryReset());
    QByteArray answer;
    const bool ok = DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, answer,
                                           Protocol::kAnswerLength);
    if (ok && answer.left(4) == request.left(4)) return Outcome::Ok;
    return BeginsBusy(answer) ? Outcome::Busy : Outcome::Failed;
}

Window ConfigWindowFor(int deviceFamily, int deviceModel) {
    if (deviceFamily == 3) return Window::frmZolo;
    switch (deviceModel) {
        case 5:
        case 10:
            return Window::frmQX705;
        case 8:
            return Window::frmQX708;
        case 40:
            return Window::frmQX740;
        case 20:
            return Window::frmQX720;
        default:
            return Window::None;
    }
}

QString NodeKey(qint64 serverId) {
    return QStringLiteral("SERVER") + QString::number(serverId);
}

qint64 ServerIdFromKey(const QString& key) {
    static const QString head = QStringLiteral("SERVER");
    if (!key.startsWith(head)) return -1;
    bool ok = false;
    const qint64 id = key.mid(head.size()).toLongLong(&ok);
    return ok ? id : -1;
}

QString NodeText(const QString& serverName, const QString& ipAddress) {
    return serverName.left(NamePage::kNameLength).leftJustified(NamePage::kNameLength) +
           QStringLiteral(" @ IP ") + ipAddress;
}

bool IsValidIPAddress(const QString& text, QString* error) {
    return Protocol::ParseIPv4(text, error).has_value();
}

QString JoinEmailList(const QStringList& addresses) {
    // Empty, not null: an empty list is stored as an empty text.
    QString list = QLatin1String("");
    for (const QString& address : addresses) list += address + QLatin1Char(',');
    return list;
}

QStringList SplitEmailList(const QString& stored) {
    QStringList list;
    for (const QString& piece : stored.split(QLatin1Char(','))) {
        if (!piece.trimmed().isEmpty()) list << piece;
    }
    return list;
}

bool LooksLikeEmailAddress(const QString& address) {
    return address.contains(QLatin1Char('.')) && address.contains(QLatin1Char('@'));
}

RateCheck CheckUpdateRate(const QString& text, int& minutes) {
    if (text.trimmed().isEmpty()) return RateCheck::Empty;
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 60) return RateCheck::OutOfRange;
    minutes = value;
    return RateCheck::Ok;
}

namespace {
using Icon = Dialogs::Icon;

bool Refuse(SaveReport& report, SaveReport::Field field, const QString& message) {
    report.field = field;
    report.message = message;
    report.icon = Icon::Warning;
    return false;
}

// The identification and the name-page write of an enabled server. False
// when the device did not answer its identification: nothing is stored.
// Otherwise `report` says whether the page was written; a busy or failing
// device is stored disabled.
bool WriteNamePage(const ServerEntry& entry, SaveReport& report) {
    const QString& name = entry.name;
    const QString& ip = entry.ip;
    Protocol::Identification id;
    if (!Identify(ip, id)) {
        report.message = QStringLiteral("Can not communicate with") + ip;
        report.icon = Icon::Critical;
        report.silent = true;
        return false;
    }
    report.contacted = true;
    report.model = Protocol::ModelText(Decoding::DeviceFamily, Decoding::DeviceModel);
    QByteArray page;
    const QString name20 = Name20(name);
    switch (ReadNamePage(ip, id.family, page)) {
        case Outcome::Ok: {
            const QChar unit = entry.unit.isNull() ? PageUnit(page) : entry.unit;
            const QByteArray image = ComposeNamePage(page, name, unit, ip);
            switch (StoreNamePage(ip, image)) {
                case Outcome::Ok:
                    report.status = QStringLiteral("Successfully uploaded data to ") + name20;
                    report.comm = -1;
                    break;
                case Outcome::Busy:
                    report.status = name20 + QStringLiteral(
                                                 " is currently on the phone. The server will be "
                                                 "added to the monitoring system but will not "
                                                 "be enabled.");
                    report.message = report.status;
                    report.icon = Icon::Warning;
                    report.enabled = false;
                    break;
                case Outcome::Failed:
                    report.status =
                        QStringLiteral("There was an error uploading the server data to ") + ip +
                        QStringLiteral(".");
                    report.message =
                        QStringLiteral("There was an error uploading the server data to ") + ip +
                        QStringLiteral(
                            ".  Before proceeding please verify the IP address "
                            "you are using and that ") +
                        name + QStringLiteral(" is powered on and connected to the network.");
                    report.icon = Icon::Warning;
                    report.enabled = false;
                    break;
            }
            break;
        }
        case Outcome::Busy:
            report.status = name20 + QStringLiteral(
                                         " is currently on the phone. The server will "
                                         "be added to the monitoring system but will "
                                         "not be enabled.");
            report.message = name + QStringLiteral(
                                        " is currently on the phone.  The server will be added "
                                        "to the monitoring system but will not be enabled.");
            report.icon = Icon::Warning;
            report.enabled = false;
            report.comm = -1;
            break;
        case Outcome::Failed:
            report.status = QStringLiteral("There was an error uploading the server data to ") +
                            ip +
                            QStringLiteral(
                                ".  Before proceeding please verify the IP "
                                "address, and that ") +
                            name + QStringLiteral(" is powered on and connected to the network. ") +
                            name + QStringLiteral(" has been added to the database.");
            report.statusRed = true;
            report.message = QStringLiteral("There was an error uploading data to ") + ip +
                             QStringLiteral(
                                 ".  Before proceeding please verify the IP address "
                                 "you are using and that ") +
                             name +
                             QStringLiteral(" is powered on and connected to the network. ") +
                             name + QStringLiteral(" has been added to the database.");
            report.icon = Icon::Warning;
            report.enabled = false;
            break;
    }
    return true;
}
}  // namespace

bool SaveServer(qint64 serverId, const ServerEntry& entry, SaveReport& report, bool contactDevice) {
    report = SaveReport();
    const QString& name = entry.name;
    const QString& ip = entry.ip;
    using Field = SaveReport::Field;
    if (name.trimmed().isEmpty()) {
        return Refuse(report, Field::Name, QStringLiteral("Please enter a name for this server."));
    }
    if (ip.isEmpty())
        return Refuse(report, Field::Address, QStringLiteral("Please enter the IP address."));
    if (!IsValidIPAddress(ip)) {
        return Refuse(report, Field::Address,
                      QStringLiteral("The IP address ") + ip +
                          QStringLiteral(" is not valid.  Please enter four numbers from 0 to 255 "
                                         "separated by dots."));
    }
    // The device keeps the name in its code page, as the configuration
    // windows write it; what it cannot hold is refused, not turned into "?".
    if (entry.enabled && !NameFitsDevice(name)) {
        return Refuse(report, Field::Name,
                      QStringLiteral("The Server Name (\"") + name +
                          QStringLiteral("\") has characters the device cannot store."));
    }
    // The link takes any answer with "error" in it for a failure, so polling
    // could not read a device given such a name. A name the server already
    // has may stay.
    if (name.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
        ServerDatabase::ServerRow stored;
        const bool kept = serverId >= 0 && ServerDatabase::ReadServer(serverId, stored) &&
                          stored.name.trimmed() == name.trimmed();
        if (!kept) {
            return Refuse(report, Field::Name,
                          QStringLiteral("The Server Name (\"") + name +
                              QStringLiteral("\") contains \"error\", which the device's answers "
                                             "cannot carry.  Please choose another name."));
        }
    }
    {
        // An edited server may keep its own address, not take another's.
        QString owner;
        if (!ServerDatabase::IsIPAddressUnique(ip, owner, serverId)) {
            if (!owner.isNull()) {
                report.message = QStringLiteral("The IP address ") + ip +
                                 QStringLiteral(" is currently being used by ") + owner.trimmed() +
                                 QStringLiteral(".  Please enter a unique IP address.");
                report.icon = Icon::Warning;
            }
            return false;
        }
    }
    const QString password = entry.password.isEmpty() ? QStringLiteral("****") : entry.password;
    report.enabled = entry.enabled;
    report.model = entry.model;
    if (entry.enabled && contactDevice && !WriteNamePage(entry, report)) return false;

    QString error;
    const int enabled = report.enabled ? 1 : 0;
    if (serverId < 0) {
        if (!ServerDatabase::AddServer(name, report.model, ip, entry.notes, enabled, password,
                                       entry.emailList, report.comm, &error)) {
            report.message =
                name +
                QStringLiteral("'s data was not added to the server database.  The error is ") +
                error;
            report.icon = Icon::Critical;
            return false;
        }
        // Addresses are unique, so the new row is the one holding this one.
        QList<ServerDatabase::ServerRow> rows;
        if (ServerDatabase::ListServers(rows)) {
            for (const auto& row : rows) {
                if (row.ip.trimmed() == ip) report.serverId = row.id;
            }
        }
    } else {
        if (!ServerDatabase::UpdateServer(serverId, name, report.model, ip, entry.notes, enabled,
                                          password, entry.emailList, report.comm, &error)) {
            report.message = name +
                             QStringLiteral(
                                 "'s data could not be updated to the server "
                                 "database.  The error is ") +
                             error;
            report.icon = Icon::Critical;
            return false;
        }
        report.serverId = serverId;
    }
    report.stored = true;
    return true;
}

}  // namespace Registry
