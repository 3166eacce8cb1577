#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "common/Dialogs.h"
#include "core/Windows.h"
#include "protocol/Identification.h"

// What the registry window asks of devices and of its own fields: the
// device's identification and name page, the factory reset, the choice of
// configuration window, and the checks of what the user typed.
namespace Registry {

// The name page (page 1 of Zolo devices, page 2 of the others).
namespace NamePage {
constexpr int kName = 9;  // device name, blank padded
constexpr int kNameLength = 20;
constexpr int kUnit = 29;     // temperature unit letter, "C" or "F"
constexpr int kAddress = 30;  // IP address text, blank padded
constexpr int kAddressLength = 20;
}  // namespace NamePage

int NamePageNumber(int deviceFamily);

// How a device exchange ended. Busy: the device answered with ReplyBusy
// (it is on its telephone line).
enum class Outcome { Ok, Busy, Failed };

// Identifies the device and decodes its identification into the
// program-wide DeviceFamily, DeviceModel and FirmwareBuild; true when the
// device answered with the command echoed.
bool Identify(const QString& ipAddress, Protocol::Identification& id);
// The identification that decoding left in the program-wide numbers.
Protocol::Identification LastIdentification();

// Reads the device's name page (60 bytes) with its command echoed.
Outcome ReadNamePage(const QString& ipAddress, int deviceFamily, QByteArray& page);

// The fields of a name page.
QString PageName(const QByteArray& page);  // trimmed, from the device's code page
QChar PageUnit(const QByteArray& page);

// The first 20 characters of the trimmed name, blank padded.
QString Name20(const QString& name);

// Whether the device can keep the name (its first 20 characters) in its code
// page, the one the configuration windows write names in.
bool NameFitsDevice(const QString& name);

// A page image for writing back: name, unit letter and address set, and the
// store head in bytes 1-3 (InsertStoreUserPageCommand). Every other byte as
// read. Text is written in the device's code page, as the configuration
// windows write it; check the name with NameFitsDevice first.
QByteArray ComposeNamePage(const QByteArray& page, const QString& name, QChar unit,
                           const QString& ipAddress);
// Bytes 1-3 := DD CC BB, keeping byte 4, the page number.
bool InsertStoreUserPageCommand(QByteArray& strSend);

// Writes a page image; Ok only when the device echoes it exactly.
Outcome StoreNamePage(const QString& ipAddress, const QByteArray& image);

// Restores the device's factory defaults; Ok when the command is echoed.
Outcome RestoreFactoryDefaults(const QString& ipAddress);

// The configuration window for a device: frmZolo for family 3; otherwise by
// model, 5 and 10 frmQX705, 8 frmQX708, 40 frmQX740, 20 frmQX720; None for
// any other model.
Window ConfigWindowFor(int deviceFamily, int deviceModel);

// Tree nodes: key "SERVER" + IDNum; text the name in a 20-character field,
// " @ IP " and the address.
QString NodeKey(qint64 serverId);
qint64 ServerIdFromKey(const QString& key);  // -1 when it names no server
QString NodeText(const QString& serverName, const QString& ipAddress);

// The suite's one address rule (protocol/Address.h): four plain decimal
// numbers 0-255, no leading zeros, no blanks. An accepted text is already the
// rebuilt address, so it is stored and used as typed; `error` names the text.
bool IsValidIPAddress(const QString& text, QString* error = nullptr);

// E-mail lists are stored as the addresses each followed by ",".
QString JoinEmailList(const QStringList& addresses);
QStringList SplitEmailList(const QString& stored);
bool LooksLikeEmailAddress(const QString& address);  // contains "." and "@"

// The log update rate field: 1 to 60 minutes.
enum class RateCheck { Ok, Empty, OutOfRange };
RateCheck CheckUpdateRate(const QString& text, int& minutes);
constexpr int kDefaultUpdateRate = 5;

// What Save stores for a server: the server frame's entries as plain values.
struct ServerEntry {
    QString name, ip, notes, password, emailList;
    QString model;  // kept when the device is not asked (disabled, or not contacted)
    QChar unit;     // 'F' or 'C'; null keeps the unit the device's name page holds
    bool enabled = true;
};

// How Save ended, and what the user is told of it.
struct SaveReport {
    bool stored = false;
    qint64 serverId = -1;  // the row stored (the new row's number when added)
    enum class Field { None, Name, Address } field = Field::None;  // the entry a check refused
    QString message;  // the refusal or the device's outcome, for a message box; may be empty
    Dialogs::Icon icon = Dialogs::Icon::Information;
    QString status;  // the device exchange's line under the frame (enabled servers only)
    bool statusRed = false;
    bool silent = false;     // the device did not answer its identification: nothing stored
    bool contacted = false;  // the device answered (the frame shows the status line)
    bool enabled = false;    // as stored: a device that took no name page is stored disabled
    QString model;           // as stored
    int comm = 0;            // -1 when the name page reached the device
};

// The registry window's Save: the entries' checks (name, address, the
// device's code page), refusal of an address another server uses, then for an
// enabled server the identification and the name-page write, then the row
// added (serverId -1) or updated. `contactDevice` false stores an enabled
// server without asking its device. False when nothing was stored.
bool SaveServer(qint64 serverId, const ServerEntry& entry, SaveReport& report,
                bool contactDevice = true);

}  // namespace Registry
