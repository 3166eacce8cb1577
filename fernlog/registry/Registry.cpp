#include "registry/Registry.h"

#include <QHostAddress>

#include "common/Ansi.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "pages/PageValues.h"
#include "protocol/Address.h"
#include "protocol/Commands.h"

namespace Registry {
namespace {

bool BeginsBusy(const QByteArray& answer) {
    return answer.startsWith(Protocol::ReplyBusy());
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
    const bool ok = DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, page,
                                           Protocol::kAnswerLength);
    if (ok && page.left(4) == request.left(4)) return Outcome::Ok;
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
    const bool ok = DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, image, answer,
                                           Protocol::kAnswerLength);
    if (ok && answer == image) return Outcome::Ok;
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

}  // namespace Registry
