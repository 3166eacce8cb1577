// What devices send on port 10001, through the decoders that read it: the
// identification and readings answers, the configuration pages of every
// model window (and their way back to the device), the clock and log
// parameters, the downloaded on-board log (and its export), the registry's
// name page and the byte helpers. The first byte chooses the decoder; the
// bytes after it are the answer, led by a few choice bytes where the decoder
// needs a device state.
#include <QFile>
#include <QSet>
#include <array>

#include "FuzzSupport.h"
#include "core/Decoding.h"
#include "pages/PageMaps.h"
#include "pages/PageTransfer.h"
#include "pages/PageValues.h"
#include "protocol/Bytes.h"
#include "protocol/Commands.h"
#include "protocol/Identification.h"
#include "registry/Ds1337.h"
#include "registry/Registry.h"
#include "support/FernlogState.h"

namespace {

// Takes the leading choice bytes off the answer; 0 once it is used up.
int Take(QByteArray& data) {
    if (data.isEmpty()) return 0;
    const int byte = static_cast<unsigned char>(data.at(0));
    data.remove(0, 1);
    return byte;
}

void Identification(const QByteArray& answer) {
    const bool ok = Decoding::ParseMessage(Protocol::CmdIdentify(), answer);
    if (ok) {
        FUZZ_CHECK(answer.size() >= 10);
        FUZZ_CHECK(Decoding::DeviceFamily >= 0 && Decoding::DeviceModel >= 0 &&
                   Decoding::FirmwareBuild >= 0);
    }
    Protocol::ModelText(Decoding::DeviceFamily, Decoding::DeviceModel);
    Protocol::IdentificationText(
        {Decoding::DeviceFamily, Decoding::DeviceModel, Decoding::FirmwareBuild});
}

void Readings(QByteArray answer) {
    // The device identified before decides which ports are in tenths.
    Decoding::DeviceFamily = static_cast<qint16>(Take(answer) % 8);
    Decoding::FirmwareBuild = static_cast<qint16>(Take(answer) % 32);
    const bool ok = Decoding::ParseMessage(Protocol::CmdReadings(), answer);
    FUZZ_CHECK(!ok || answer.size() >= Protocol::kAnswerLength);
    for (int p = 0; p < 10; ++p) {
        const float status = Decoding::Readings[size_t(3 * p + 2)];
        FUZZ_CHECK(status >= 0 && status <= 255);
        Decoding::NumberText(Decoding::Readings[size_t(3 * p)]);
        Decoding::PortUnits(Protocol::ModelText(5, 8), p);
    }
    Decoding::DegreeText();
}

bool NumericBox(Pages::Box box) {
    using Pages::Box;
    return box == Box::Lower || box == Box::Upper || box == Box::Time || box == Box::Correction ||
           box == Box::ErroneousBits || box == Box::ErroneousCount || box == Box::ReminderDelay ||
           box == Box::TwoStageDelay;
}

bool WordBox(Pages::Box box) {
    using Pages::Box;
    return box == Box::Lower || box == Box::Upper || box == Box::Time || box == Box::Correction ||
           box == Box::NormalState;
}

// A downloaded page into the boxes and, untouched, back into the image that
// is uploaded: every number shown reads back as the value the device sent,
// and bytes that no field names go back exactly as they came.
void Page(QByteArray image) {
    static const std::array<Window, 5> windows{Window::frmQX705, Window::frmQX708, Window::frmQX720,
                                               Window::frmQX740, Window::frmZolo};
    const Window window = windows[size_t(Take(image) % windows.size())];
    const int choice = Take(image);
    const int page = choice % 17 == 16 ? Pages::kReadingsPage : choice % 17;
    const int named = Take(image);
    Pages::PageSession s = Pages::NewSession(window, QStringLiteral("127.0.0.2"), 1);
    s.Tenths = (choice & 0x80) != 0;
    // Ports named by an earlier name page: their limits are in use.
    for (size_t port = 0; port < s.form.ports.size() && port < 8; ++port)
        if (named & (1 << port)) s.form.ports[port].name = QStringLiteral("Port");

    Pages::ParseLimits(s, image, page);
    if (page == Pages::kReadingsPage) return;

    QSet<int> covered;
    for (const Pages::Field& f : Pages::PageMap(window)) {
        if (f.page != page) continue;
        const int width = f.box == Pages::Box::Name ? Pages::kNameLength : WordBox(f.box) ? 2 : 1;
        for (int k = 0; k < width; ++k) covered.insert(f.position + k);
    }
    s.images.insert(page, image.left(Pages::kPageLength));
    QByteArray built;
    QString error;
    if (!Pages::UploadImage(s, page, built, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    FUZZ_CHECK(built.size() >= Pages::kPageLength);
    for (int position = Pages::kHeadLength + 1; position <= Pages::kPageLength; ++position) {
        if (position > image.size() || covered.contains(position)) continue;
        FUZZ_CHECK(built.at(position - 1) == image.at(position - 1));
    }
    for (const Pages::Field& f : Pages::PageMap(window)) {
        if (f.page != page || !NumericBox(f.box)) continue;
        const int width = WordBox(f.box) ? 2 : 1;
        if (f.position + width - 1 > image.size()) continue;
        const int sent =
            width == 2 ? Pages::ReadWord(image, f.position) : Pages::ReadByte(image, f.position);
        const int back =
            width == 2 ? Pages::ReadWord(built, f.position) : Pages::ReadByte(built, f.position);
        FUZZ_CHECK(sent == back);
    }
}

void LogParameters(const QByteArray& answer) {
    QString dateText;
    int updateRate = -1;
    qint32 logSize = -1;
    Ds1337::DecodeLogParameters(answer, dateText, updateRate, logSize);
    FUZZ_CHECK(!dateText.isEmpty());
    FUZZ_CHECK(updateRate >= 0 && updateRate <= 255);
    FUZZ_CHECK(logSize >= 0 && logSize <= 0xFFFF);
}

// A downloaded log into the grid and out as comma-separated lines: one line
// per record after the header, however the records look.
void Log(QByteArray data) {
    const int choice = Take(data);
    Protocol::Identification id;
    // Zolo devices keep two-sensor records, QX7xx devices from build 23 eight.
    id.family = (choice & 1) ? 5 : 3;
    id.model = 5;
    id.build = static_cast<qint16>(choice >> 1);
    Ds1337::LogGrid grid;
    if (!Ds1337::DecodeLog(data, id, grid)) return;
    for (int r = 0; r < grid.rows.size(); ++r) {
        FUZZ_CHECK(grid.rows[r].size() >= 2);
        FUZZ_CHECK(grid.rows[r].first() == QString::number(r + 1));
    }
    const QString path = Fuzz::File(QStringLiteral("log.csv"));
    QString error;
    FUZZ_CHECK(Ds1337::ExportLogCsv(grid, id.family, path, &error));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    FUZZ_CHECK(file.readAll().count("\r\n") == grid.rows.size() + 1);
}

// The registry's name page: its name and unit read, and written back with
// the same name, unit and an address; nothing else of the page moves.
void NamePage(const QByteArray& page) {
    using namespace Registry::NamePage;
    const QString name = Registry::PageName(page);
    const QChar unit = Registry::PageUnit(page);
    const QByteArray image =
        Registry::ComposeNamePage(page, name, unit, QStringLiteral("127.0.0.2"));
    FUZZ_CHECK(image.size() == Protocol::kRequestLength);
    FUZZ_CHECK(image.left(3) == Protocol::CmdDDCCBB().left(3));
    // A name the device's code page cannot hold is never written (the
    // window refuses it), so only one that fits must read back the same.
    if (Registry::NameFitsDevice(name)) FUZZ_CHECK(Registry::PageName(image) == name);
    for (int position = 4; position <= qMin<int>(int(page.size()), Protocol::kRequestLength);
         ++position) {
        const bool field = (position >= kName && position < kName + kNameLength) ||
                           position == kUnit ||
                           (position >= kAddress && position < kAddress + kAddressLength);
        if (!field) FUZZ_CHECK(image.at(position - 1) == page.at(position - 1));
    }
}

void Bytes(QByteArray data) {
    const int width = Take(data);
    qint32 position = 0;
    for (int k = 0; k < 4; ++k)
        position = static_cast<qint32>((quint32(position) << 8) | Take(data));
    const int value = Protocol::ValueAt(data, position, width % 3);
    FUZZ_CHECK(value >= -32768 && value <= 65535);
    const int byte = Protocol::ByteAt(data, position);
    FUZZ_CHECK(byte >= 0 && byte <= 255);
    int high = 0, low = 0;
    Protocol::SplitWord(position, high, low);
    FUZZ_CHECK(high >= 0 && high <= 255 && low >= 0 && low <= 255);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    ResetFernlogState();
    Fuzz::ClearDir();
    QByteArray input = Fuzz::Bytes(data, size);
    switch (Take(input) % 7) {
        case 0:
            Identification(input);
            break;
        case 1:
            Readings(input);
            break;
        case 2:
            Page(input);
            break;
        case 3:
            LogParameters(input);
            break;
        case 4:
            Log(input);
            break;
        case 5:
            Bytes(input);
            break;
        case 6:
            NamePage(input);
            break;
    }
    return 0;
}
