#include "pages/PageTransfer.h"

#include <QMap>

#include "common/Dialogs.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/SensorState.h"
#include "db/SensorDatabase.h"
#include "pages/PageMaps.h"
#include "pages/PageValues.h"
#include "protocol/Commands.h"

namespace Pages {
namespace {

QMap<Window, TransferView*>& Views() {
    static QMap<Window, TransferView*> views;
    return views;
}

void Progress(const PageSession& s, const QString& text) {
    if (TransferView* view = Views().value(s.window)) view->ShowProgress(text);
}

void Status(PageSession& s, const QString& line) {
    s.form.status << line;
    if (TransferView* view = Views().value(s.window)) view->AddStatus(line);
}

// The progress label is emptied and hidden however a transfer ends.
struct ProgressEnd {
    const PageSession& s;
    ~ProgressEnd() { Progress(s, QString()); }
};

// What kind of answer an exchange expects. A page holds the user's own
// texts, so a page answer is judged by its echo and full length only: the
// link's rule (no "error" anywhere) would refuse for good the page of a
// sensor named "Terror".
enum class Answer { Link, Page };

bool Exchange(const PageSession& s, const QByteArray& command, QByteArray& answer,
              Answer rule = Answer::Link) {
    QByteArray request;
    Protocol::BuildRequest(request, command);
    const bool ok =
        DeviceLink::ReadFromCV(s.ipAddress, s.port, request, answer, Protocol::kAnswerLength);
    const bool echoed =
        answer.size() >= Protocol::kAnswerLength && answer.left(4) == request.left(4);
    return echoed && (ok || rule == Answer::Page);
}

// A page image sent as an upload; its answer echoes DD CC BB n.
bool Upload(const PageSession& s, const QByteArray& image, QByteArray& answer) {
    return Exchange(s, image, answer, Answer::Page);
}

bool IsBusy(const QByteArray& answer) {
    return answer.left(4) == Protocol::ReplyBusy();
}

// A download of one page; only a good answer becomes the page's image, so
// that a page the device did not send is never written back.
bool Download(PageSession& s, int page, QByteArray& answer) {
    if (Exchange(s, Protocol::CmdPage(page), answer, Answer::Page)) {
        s.images.insert(page, answer.left(kPageLength));
        return true;
    }
    s.images.remove(page);
    return false;
}

bool IsNamePage(Window window, int page) {
    if (window == Window::frmZolo)
        return page == ZoloNames::kTemperaturePage || page == ZoloNames::kDoorPage;
    return page >= QX7xxNames::kFirstPage && page <= QX7xxNames::kLastPage;
}

QList<int> PortsOnPage(Window window, int page) {
    QList<int> ports;
    for (const Field& f : PageMap(window))
        if (f.page == page && f.box == Box::Name) ports << f.index;
    return ports;
}

QString PortType(const PageSession& s, int port) {
    return port >= 0 && port < int(s.form.ports.size()) ? s.form.ports[size_t(port)].type
                                                        : QString();
}

QString BoxName(const PageSession& s, const Field& f) {
    const QString type = PortType(s, f.index);
    switch (f.box) {
        case Box::Lower:
            return QStringLiteral("Lower Limit of ") + type;
        case Box::Upper:
            return QStringLiteral("Upper Limit of ") + type;
        case Box::Time:
            return QStringLiteral("Time of ") + type;
        case Box::Name:
            return QStringLiteral("Name of ") + type;
        case Box::Correction:
            return QStringLiteral("Correction of ") + type;
        case Box::ErroneousBits:
            return QStringLiteral("Erroneous Bit Change (bits)");
        case Box::ErroneousCount:
            return QStringLiteral("Number of Erroneous Readings");
        case Box::ReminderDelay:
            return QStringLiteral("Alarm reminder time delay");
        case Box::TwoStageDelay:
            return QStringLiteral("Two stage door alarm time delay");
        case Box::RelayLogic:
        case Box::NormalState:
        case Box::Buzzer:
            break;
    }
    return QString();
}

// The text of the box a field reads from and writes to.
const QString* BoxText(const PageForm& form, const Field& f) {
    const bool port = f.index >= 0 && f.index < int(form.ports.size());
    switch (f.box) {
        case Box::Lower:
            return port ? &form.ports[size_t(f.index)].lower : nullptr;
        case Box::Upper:
            return port ? &form.ports[size_t(f.index)].upper : nullptr;
        case Box::Time:
            return port ? &form.ports[size_t(f.index)].time : nullptr;
        case Box::Name:
            return port ? &form.ports[size_t(f.index)].name : nullptr;
        case Box::Correction:
            return f.index >= 0 && f.index < 8 ? &form.correction[size_t(f.index)] : nullptr;
        case Box::ErroneousBits:
            return &form.erroneousBits;
        case Box::ErroneousCount:
            return &form.erroneousCount;
        case Box::ReminderDelay:
            return &form.reminderDelay;
        case Box::TwoStageDelay:
            return &form.twoStageDelay;
        default:
            return nullptr;
    }
}

QString* BoxText(PageForm& form, const Field& f) {
    return const_cast<QString*>(BoxText(static_cast<const PageForm&>(form), f));
}

bool InTenths(const PageSession& s, const Field& f) {
    if (f.box == Box::Correction) return true;
    return (f.box == Box::Lower || f.box == Box::Upper) && TenthsAware(s.window) && s.Tenths;
}

// A word or byte field as ParseLimits shows it.
QString FieldText(const PageSession& s, const Field& f, const QByteArray& image) {
    switch (f.box) {
        case Box::Lower:
        case Box::Upper:
        case Box::Time:
        case Box::Correction: {
            const int word = ReadWord(image, f.position);
            return InTenths(s, f) ? TenthsText(word) : QString::number(word);
        }
        default:
            return QString::number(ReadByte(image, f.position));
    }
}

// QX windows leave the page 0 boxes of an unnamed port empty: the device's
// way of marking a port not in use.
bool UnusedPort(const PageSession& s, const Field& f) {
    if (s.window == Window::frmZolo || f.page != 0) return false;
    if (f.box != Box::Lower && f.box != Box::Upper && f.box != Box::Time) return false;
    return f.index >= 0 && f.index < int(s.form.ports.size()) &&
           s.form.ports[size_t(f.index)].name.isEmpty();
}

void ParseReadings(PageSession& s, const QByteArray& answer) {
    s.Tenths = ReadByte(answer, ReadingsPage::kResolution) == ReadingsPage::kTenths;
    s.tenthsKnown = true;
    for (int port = 0; port < int(s.form.ports.size()); ++port) {
        const int word = ReadWord(answer, ReadingsPage::Value(port));
        const bool divide = s.Tenths && TenthsReading(s.window, port);
        const float value = divide ? static_cast<float>(word) / 10.0f : static_cast<float>(word);
        PortBoxes& boxes = s.form.ports[size_t(port)];
        QString text;
        SensorState::ReadingText(value, boxes.type, text);
        const bool oneDecimal = s.window == Window::frmZolo ||
                                (s.window == Window::frmQX705 && TenthsReading(s.window, port));
        if (oneDecimal) {
            if (const auto tenths = ScaledNumber(text, 1)) text = TenthsText(*tenths);
        }
        boxes.reading = text;
    }
}

// The value a box's text stands for on the wire, or why it cannot be written.
bool BoxValue(const PageSession& s, const Field& f, const QString& text, int& value,
              QString& error) {
    const bool tenths = InTenths(s, f);
    const bool isByte = f.box == Box::ErroneousBits || f.box == Box::ErroneousCount ||
                        f.box == Box::ReminderDelay || f.box == Box::TwoStageDelay;
    const int low = isByte || f.box == Box::Time ? 0 : kWordMin;
    const int high = isByte ? kByteMax : kWordMax;
    const auto number = ScaledNumber(text, tenths ? 1 : 0);
    const QString shown = QStringLiteral("The ") + BoxName(s, f) + QStringLiteral(" (\"") +
                          text.trimmed() + QStringLiteral("\")");
    if (!number) {
        error = shown + QStringLiteral(" is not a number.");
        return false;
    }
    if (*number < low || *number > high) {
        error = shown + QStringLiteral(" must be from ") +
                (tenths ? TenthsText(low) + QStringLiteral(" to ") + TenthsText(high)
                        : QString::number(low) + QStringLiteral(" to ") + QString::number(high)) +
                QStringLiteral(".");
        return false;
    }
    value = static_cast<int>(*number);
    return true;
}

// A lower limit above the upper keeps the port in alarm whatever it reads.
// Only a pair changed by this edit is judged, so that a page the device
// holds that way can still be written back unchanged. Empty when none.
QString LimitsReversed(const PageSession& s, const QByteArray& before, const QByteArray& after,
                       int page) {
    const std::vector<Field> map = PageMap(s.window);
    for (const Field& low : map) {
        if (low.page != page || low.box != Box::Lower) continue;
        for (const Field& high : map) {
            if (high.page != page || high.box != Box::Upper || high.index != low.index) continue;
            const int lowWord = ReadWord(after, low.position);
            const int highWord = ReadWord(after, high.position);
            const bool changed = lowWord != ReadWord(before, low.position) ||
                                 highWord != ReadWord(before, high.position);
            if (!changed || lowWord <= highWord) continue;
            return QStringLiteral("The ") + BoxName(s, low) + QStringLiteral(" (") +
                   FieldText(s, low, after) + QStringLiteral(") is above its upper limit (") +
                   FieldText(s, high, after) + QStringLiteral(").");
        }
    }
    return QString();
}

QString PageList(const QList<int>& pages) {
    QStringList texts;
    for (int page : pages) texts << QString::number(page);
    return pages.size() == 1 ? QStringLiteral("page ") + texts.first() + QStringLiteral(" was")
                             : QStringLiteral("pages ") + texts.join(QStringLiteral(", ")) +
                                   QStringLiteral(" were");
}

bool Incomplete(PageSession& s, const QList<int>& failed) {
    Status(s, QStringLiteral("Upload incomplete: ") + PageList(failed) +
                  QStringLiteral(" not written."));
    return false;
}

void LoadNotes(PageSession& s) {
    QMap<int, QString> notes;
    if (ServerDatabase::GetSensorNotesByPort(s.serverId, notes)) {
        for (int port = 0; port < int(s.form.ports.size()); ++port)
            s.form.ports[size_t(port)].notes = notes.value(port);
    }
    for (PortBoxes& port : s.form.ports)
        if (port.name.isEmpty()) port.notes.clear();
}

// Names and notes of the ports whose name page reached the device; a port
// whose page was not written keeps its database row as it was.
void StoreSensors(PageSession& s, const QSet<int>& writtenPorts) {
    QList<ServerDatabase::SensorRow> rows;
    for (int port = 0; port < int(s.form.ports.size()); ++port) {
        if (!writtenPorts.contains(port)) continue;
        if (s.registerPorts && !s.registerPorts->contains(port)) continue;
        const PortBoxes& b = s.form.ports[size_t(port)];
        rows.append({port, b.name.left(kNameLength), b.notes, b.type});
    }
    if (!rows.isEmpty()) ServerDatabase::AddSensors(s.serverId, rows);
}

bool Stopped() {
    return !DeviceLink::ProgramRunning;
}

bool Identify(PageSession& s) {
    s.identified = false;
    QByteArray answer;
    if (!Exchange(s, Protocol::CmdIdentify(), answer)) return false;
    if (!Decoding::ParseMessage(Protocol::CmdIdentify(), answer)) return false;
    s.firmwareBuild = Decoding::FirmwareBuild;
    s.deviceModel = Decoding::DeviceModel;
    s.identified = true;
    return true;
}

// Without a readings answer the limits of a tenths-aware window stay as
// the device holds them; the window shows them read-only.
void TellIfTenthsUnknown(PageSession& s) {
    if (LimitsLocked(s))
        Status(s, QStringLiteral("The limits cannot be changed until the sensor readings arrive: "
                                 "they tell whether the device counts in tenths of a degree.  "
                                 "Click Refresh to read the device again."));
}

// ---- QX windows ----

QList<int> QXNamePages(Window w) {
    if (w == Window::frmQX720) return {3, 4, 7};
    return {3, 4, 5, 6, 7};
}

bool GetLimitsQX(PageSession& s) {
    const Window w = s.window;
    const bool qx705 = w == Window::frmQX705;
    const bool qx740 = w == Window::frmQX740;
    const bool busyEverywhere = qx740;
    ProgressEnd end{s};
    if (!qx740) Progress(s, QStringLiteral("Downloading..."));

    if (qx705) {
        // A device that does not identify itself is treated as the oldest
        // build: no correction page, no calibration.
        if (!Identify(s)) s.firmwareBuild = 0;
        s.form.relayOptionsEnabled = s.firmwareBuild >= 24;
        s.form.calibrationAllowed = s.firmwareBuild >= QX705Page12::kFirstBuild;
    }
    auto busyStop = [&](const QByteArray& answer) {
        if (!IsBusy(answer)) return false;
        Status(s, BusyMessage(w));
        return true;
    };

    QByteArray answer;
    for (int page : QXNamePages(w)) {
        if (Stopped()) return false;
        if (qx740) Progress(s, QStringLiteral("Downloading page ") + QString::number(page));
        if (Download(s, page, answer)) {
            ParseLimits(s, answer, page);
            continue;
        }
        if ((page == 3 || busyEverywhere) && busyStop(answer)) return false;
        if ((qx705 || w == Window::frmQX720) && page == 7) {
            Status(s, QStringLiteral("Failed to download sensor names"));
        } else {
            Status(s, QStringLiteral("Failed to download page %1 sensor names").arg(page));
        }
    }

    auto readings = [&]() {
        if (Exchange(s, Protocol::CmdReadings(), answer)) {
            ParseLimits(s, answer, kReadingsPage);
            return true;
        }
        if (busyEverywhere && busyStop(answer)) return false;
        Status(s, QStringLiteral("Failed to download sensor readings"));
        return true;
    };
    if (!qx740 && w != Window::frmQX708 && !readings()) return false;
    if (Stopped()) return false;

    if (qx740) Progress(s, QStringLiteral("Downloading page 0"));
    if (Download(s, 0, answer)) {
        ParseLimits(s, answer, 0);
    } else {
        if (busyEverywhere && busyStop(answer)) return false;
        Status(s, QStringLiteral("Failed to download temperature limits"));
        if (w != Window::frmQX708) return false;
    }
    if (Stopped()) return false;
    if (Download(s, 1, answer)) {
        ParseLimits(s, answer, 1);
    } else {
        if (busyEverywhere && busyStop(answer)) return false;
        Status(s, QStringLiteral("Failed to download door sensor limits"));
    }
    if (Stopped()) return false;
    if ((qx740 || w == Window::frmQX708) && !readings()) return false;
    TellIfTenthsUnknown(s);

    if (qx705 && s.firmwareBuild >= QX705Page12::kFirstBuild) {
        if (Download(s, QX705Page12::kPage, answer)) {
            ParseLimits(s, answer, QX705Page12::kPage);
        } else {
            Status(s, QStringLiteral("Failed to download temperature correction factors"));
        }
        s.form.rev23Visible = s.firmwareBuild != 24;
    }
    LoadNotes(s);
    if (qx705 || w == Window::frmQX720) Status(s, QStringLiteral("Download complete"));
    return true;
}

bool SaveLimitsQX(PageSession& s, bool calOnly) {
    const Window w = s.window;
    const bool qx705 = w == Window::frmQX705;
    const bool qx740 = w == Window::frmQX740;
    ProgressEnd end{s};
    if (!qx740) Progress(s, QStringLiteral("Uploading..."));

    QList<int> order;
    if (qx705) order << QX705Page12::kPage;
    if (!(qx705 && calOnly)) order << 0 << 1 << QXNamePages(w);

    QList<int> failed;
    QSet<int> namesWritten;
    for (int page : order) {
        if (Stopped()) return false;
        if (qx740) Progress(s, QStringLiteral("Uploading page ") + QString::number(page));
        if (!s.images.contains(page)) {
            // Devices before build 23 have no correction page to write; a
            // device that did not identify itself may well have one.
            if (qx705 && page == QX705Page12::kPage && s.identified &&
                s.firmwareBuild < QX705Page12::kFirstBuild)
                continue;
            Status(s,
                   QStringLiteral("Page %1 was not downloaded, so it was not written").arg(page));
            failed << page;
            continue;
        }
        QByteArray image, answer;
        QString error;
        if (!UploadImage(s, page, image, &error)) {
            Status(s, error);
            failed << page;
            continue;
        }
        if (Upload(s, image, answer)) {
            if (IsNamePage(w, page))
                for (int port : PortsOnPage(w, page)) namesWritten.insert(port);
            continue;
        }
        failed << page;
        if (page == QX705Page12::kPage) {
            Status(s, QStringLiteral("Failed to upload temperature correction factors"));
        } else if (page == 0) {
            if (IsBusy(answer)) {
                Status(s, BusyMessage(w));
                return false;
            }
            Status(s, QStringLiteral("Failed to upload the temperature sensor limits"));
        } else if (page == 1) {
            Status(s, QStringLiteral("Failed to upload the door sensor limits"));
        } else {
            Status(s, QStringLiteral("Failed to upload the sensor names"));
        }
    }
    if (!calOnly) StoreSensors(s, namesWritten);
    if (!failed.isEmpty()) return Incomplete(s, failed);
    if (qx705 || w == Window::frmQX720) Status(s, QStringLiteral("Upload complete"));
    return true;
}

// ---- frmZolo ----

bool GetLimitsZolo(PageSession& s) {
    ProgressEnd end{s};
    Progress(s, QStringLiteral("Downloading..."));
    QByteArray answer;
    s.alarmOptionsRead = false;
    if (Identify(s)) {
        s.form.alarmConfigurationVisible = s.deviceModel >= ZoloPage4::kFirstModel;
        if (s.form.alarmConfigurationVisible) {
            if (Download(s, ZoloPage4::kPage, answer)) {
                ParseLimits(s, answer, ZoloPage4::kPage);
                s.alarmOptionsRead = true;
            } else {
                Status(s, QStringLiteral("Failed to retreive alarm parameters"));
            }
        }
    }
    if (Stopped()) return false;
    if (Download(s, ZoloNames::kTemperaturePage, answer)) {
        ParseLimits(s, answer, ZoloNames::kTemperaturePage);
    } else {
        Status(s, QStringLiteral("Failed to retreive temperature sensor names"));
    }
    if (Stopped()) return false;
    if (Download(s, ZoloNames::kDoorPage, answer)) {
        ParseLimits(s, answer, ZoloNames::kDoorPage);
    } else {
        Status(s, QStringLiteral("Failed to retreive door sensor names"));
    }
    if (Stopped()) return false;
    if (Exchange(s, Protocol::CmdReadings(), answer)) {
        ParseLimits(s, answer, kReadingsPage);
    } else {
        Status(s, QStringLiteral("Failed to download sensor readings"));
    }
    if (Stopped()) return false;
    if (Download(s, 0, answer)) {
        ParseLimits(s, answer, 0);
    } else {
        Status(s, QStringLiteral("Failed to download the limits"));
        return false;
    }
    TellIfTenthsUnknown(s);
    LoadNotes(s);
    return true;
}

// frmZolo writes each page over a fresh read of it, not over the images of
// the last download.
bool SaveLimitsZolo(PageSession& s, bool calOnly) {
    ProgressEnd end{s};
    Progress(s, QStringLiteral("Uploading..."));
    QList<int> failed;
    // A page the last download did not bring has nothing of the device's in
    // its boxes (a name page's names would go back as blanks): it is left
    // alone, and the upload says so.
    auto downloaded = [&](int page) {
        if (s.images.contains(page)) return true;
        Status(s, QStringLiteral("Page %1 was not downloaded, so it was not written").arg(page));
        failed << page;
        return false;
    };
    auto readModifyWrite = [&](int page, bool& readOk) {
        QByteArray answer, image;
        readOk = Download(s, page, answer);
        if (!readOk) return false;
        QString error;
        if (!UploadImage(s, page, image, &error)) {
            Status(s, error);
            return false;
        }
        return Upload(s, image, answer);
    };
    bool readOk = false;
    // Only alarm options that came from this device go back to it.
    if (s.alarmOptionsRead) {
        if (!readModifyWrite(ZoloPage4::kPage, readOk)) {
            Status(s, readOk ? QStringLiteral("Failed to upload the alarm parameters")
                             : QStringLiteral("Failed to retreive alarm parameters"));
            failed << ZoloPage4::kPage;
        }
    }
    if (Stopped()) return false;
    if (!downloaded(0)) return Incomplete(s, failed);
    if (!readModifyWrite(0, readOk)) {
        Status(s, readOk ? QStringLiteral("Failed to upload limits")
                         : QStringLiteral("Failed to download the limits"));
        failed << 0;
        return Incomplete(s, failed);
    }
    if (calOnly) return failed.isEmpty() || Incomplete(s, failed);

    QSet<int> namesWritten;
    for (int page : {ZoloNames::kTemperaturePage, ZoloNames::kDoorPage}) {
        if (Stopped()) return false;
        if (!downloaded(page)) continue;
        if (readModifyWrite(page, readOk)) {
            for (int port : PortsOnPage(Window::frmZolo, page)) namesWritten.insert(port);
        } else {
            Status(s, QStringLiteral("Failed to upload the sensor names"));
            failed << page;
        }
    }
    StoreSensors(s, namesWritten);
    return failed.isEmpty() || Incomplete(s, failed);
}

}  // namespace

void SetView(Window window, TransferView* view) {
    if (view) {
        Views().insert(window, view);
    } else {
        Views().remove(window);
    }
}

QString BusyMessage(Window window) {
    return window == Window::frmQX705
               ? QStringLiteral(
                     "This device is currently on the phone.  Please wait and try again later.")
               : QStringLiteral(
                     "This server is currently on the phone.  Please wait and try again later.");
}

bool ParseLimits(PageSession& s, const QByteArray& strReceive, int page) {
    if (page == kReadingsPage) {
        ParseReadings(s, strReceive);
        return true;
    }
    PageForm& form = s.form;
    for (const Field& f : PageMap(s.window)) {
        if (f.page != page || UnusedPort(s, f)) continue;
        switch (f.box) {
            case Box::Name:
                *BoxText(form, f) = ReadName(strReceive, f.position);
                s.namesRead.insert(f.index);
                break;
            case Box::Lower:
            case Box::Upper:
            case Box::Time:
            case Box::Correction: {
                if (f.box == Box::Correction && s.window == Window::frmZolo && !s.Tenths) break;
                const int word = ReadWord(strReceive, f.position);
                *BoxText(form, f) = InTenths(s, f) ? TenthsText(word) : QString::number(word);
                break;
            }
            case Box::ErroneousBits:
            case Box::ErroneousCount:
            case Box::ReminderDelay:
            case Box::TwoStageDelay:
                *BoxText(form, f) = QString::number(ReadByte(strReceive, f.position));
                break;
            case Box::RelayLogic:
                form.relayLogic = ReadByte(strReceive, f.position) != 0 ? 1 : 0;
                break;
            case Box::Buzzer:
                form.buzzer = ReadByte(strReceive, f.position) == 1 ? 0 : 1;
                break;
            case Box::NormalState: {
                const int word = ReadWord(strReceive, f.position);
                form.normalState[size_t(f.index - 4)] = word == 0 || word == 1 ? word : -1;
                break;
            }
        }
    }
    return true;
}

bool InsertLimits(const PageSession& s, QByteArray& strSend, int page, QString* error) {
    QByteArray image = strSend;
    if (image.size() < kPageLength) image.append(QByteArray(kPageLength - image.size(), ' '));
    const QByteArray before = image;
    const PageForm& form = s.form;
    for (const Field& f : PageMap(s.window)) {
        if (f.page != page) continue;
        QString reason;
        switch (f.box) {
            case Box::Name: {
                const QString name = *BoxText(form, f);
                if (!NameFits(name)) {
                    reason = QStringLiteral("The ") + BoxName(s, f) + QStringLiteral(" (\"") +
                             name + QStringLiteral("\") has characters the device cannot store.");
                    break;
                }
                // The link takes any answer with "error" in it for a failure,
                // so the registry and polling could no longer read such a
                // page. A name the device already holds may stay.
                if (name.contains(QLatin1String("error"), Qt::CaseInsensitive) &&
                    name.left(kNameLength).trimmed() != ReadName(image, f.position)) {
                    reason = QStringLiteral("The ") + BoxName(s, f) + QStringLiteral(" (\"") +
                             name +
                             QStringLiteral(
                                 "\") contains \"error\", which the device's answers "
                                 "cannot carry.  Please choose another name.");
                    break;
                }
                WriteName(image, f.position, name);
                break;
            }
            case Box::RelayLogic:
                if (form.relayLogic >= 0) WriteByte(image, f.position, form.relayLogic != 0);
                break;
            case Box::Buzzer:
                if (form.buzzer >= 0) WriteByte(image, f.position, form.buzzer == 0 ? 1 : 0);
                break;
            case Box::NormalState: {
                // Nothing chosen leaves the device's state as it is.
                const int state = form.normalState[size_t(f.index - 4)];
                if (state >= 0) WriteWord(image, f.position, state);
                break;
            }
            default: {
                const QString text = *BoxText(form, f);
                if (text.trimmed().isEmpty()) break;  // an empty box keeps the device's value
                // A value shown as the device holds it goes back as the same
                // bytes, also where a typed one would be refused (a time held
                // as FF FF shows as -1).
                if (text.trimmed() == FieldText(s, f, image)) break;
                if ((f.box == Box::Lower || f.box == Box::Upper) && LimitsLocked(s)) {
                    reason = QStringLiteral("The ") + BoxName(s, f) +
                             QStringLiteral(
                                 " cannot be written until the sensor readings arrive: they tell "
                                 "whether the device counts in tenths of a degree.  Click "
                                 "Refresh to read the device again.");
                    break;
                }
                int value = 0;
                if (!BoxValue(s, f, text, value, reason)) break;
                const bool isByte = f.box == Box::ErroneousBits || f.box == Box::ErroneousCount ||
                                    f.box == Box::ReminderDelay || f.box == Box::TwoStageDelay;
                if (isByte) {
                    WriteByte(image, f.position, value);
                } else {
                    WriteWord(image, f.position, value);
                }
                break;
            }
        }
        if (!reason.isEmpty()) {
            if (error) *error = reason;
            return false;
        }
    }
    if (const QString reason = LimitsReversed(s, before, image, page); !reason.isEmpty()) {
        if (error) *error = reason;
        return false;
    }
    strSend = image;
    return true;
}

bool UploadImage(const PageSession& s, int page, QByteArray& image, QString* error) {
    if (!s.images.contains(page)) {
        if (error) *error = QStringLiteral("Page %1 was not downloaded.").arg(page);
        return false;
    }
    QByteArray built = s.images.value(page);
    built.replace(0, kHeadLength, Protocol::CmdDDCCBB());
    if (!InsertLimits(s, built, page, error)) return false;
    image = built;
    return true;
}

bool CheckBoxes(const PageSession& s, bool calOnly, QString* error) {
    QSet<int> pages;
    for (const Field& f : PageMap(s.window)) {
        const bool written =
            !calOnly || (s.window == Window::frmQX705 ? f.page == QX705Page12::kPage
                                                      : !IsNamePage(s.window, f.page));
        if (written) pages.insert(f.page);
    }
    for (int page : pages) {
        // Over the downloaded image, so that values kept as the device sent
        // them are judged as InsertLimits will judge them.
        QByteArray scratch = s.images.value(page, QByteArray(kPageLength, '\0'));
        if (!InsertLimits(s, scratch, page, error)) return false;
    }
    return true;
}

bool LimitsLocked(const PageSession& session) {
    return TenthsAware(session.window) && !session.tenthsKnown;
}

bool GetLimits(PageSession& session) {
    ClearTextBoxes(session.form);
    session.namesRead.clear();
    session.images.clear();
    return session.window == Window::frmZolo ? GetLimitsZolo(session) : GetLimitsQX(session);
}

bool SaveLimits(PageSession& session, bool calOnly) {
    // The status lines tell of this save alone: a refusal of an earlier one
    // must not stand as the result of a save that went through.
    session.form.status.clear();
    QString error;
    if (!CheckBoxes(session, calOnly, &error)) {
        // Nothing is sent while a box cannot be written as it stands.
        Dialogs::Message(error, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        Status(session, error);
        return false;
    }
    return session.window == Window::frmZolo ? SaveLimitsZolo(session, calOnly)
                                             : SaveLimitsQX(session, calOnly);
}

}  // namespace Pages
