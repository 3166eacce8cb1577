#include "Models.h"

#include <cmath>

namespace devsim {

namespace {

using K = PortKind;
constexpr K T = K::Temperature, H = K::Humidity, D = K::Door, W = K::Water, P = K::Power,
            C = K::DryContact, U = K::Unused;

// QX720's family number is not one of the two known families; 1 keeps it
// apart from both, so that no tenths or log rule of family 3 or 5 applies.
const std::array<ModelInfo, 8> kModels{{
    {Model::QX700_5, "QX700-5", 5, 5, 24, {T, T, T, T, T, T, T, T, D, D}, 2},
    {Model::QX700_8, "QX700-8", 5, 8, 23, {T, H, T, H, T, H, T, H, W, U}, 2},
    {Model::QX700_10, "QX700-10", 5, 10, 24, {T, T, T, T, T, T, T, T, D, D}, 2},
    {Model::QX720, "QX720", 1, 20, 12, {T, T, T, T, C, U, U, U, U, U}, 2},
    {Model::QX740, "QX740", 5, 40, 23, {T, T, T, T, P, P, P, P, C, U}, 2},
    {Model::Zolo603, "Zolo 603", 3, 3, 5, {T, T, D, D, U, U, U, U, U, U}, 1},
    {Model::Zolo604, "Zolo 604", 3, 4, 5, {T, T, D, D, U, U, U, U, U, U}, 1},
    {Model::Zolo605, "Zolo 605", 3, 5, 6, {T, T, D, D, U, U, U, U, U, U}, 1},
}};

QString squeeze(const QString& text) {
    QString out;
    for (QChar c : text)
        if (!c.isSpace() && c != QLatin1Char('-')) out += c.toLower();
    return out;
}

QByteArray emptyPage(int n) {
    QByteArray page(kPageSize, '\0');
    page[0] = char(0xAA);
    page[1] = char(0xBB);
    page[2] = char(0xCC);
    page[3] = char(n);
    return page;
}

// Limits as the device stores them: in tenths when it reports tenths.
struct Limits {
    int lower, upper;
};
Limits temperatureLimits(char unit, bool tenths) {
    Limits l = unit == 'C' ? Limits{0, 32} : Limits{32, 90};
    if (tenths) l = {l.lower * 10, l.upper * 10};
    return l;
}

QString portName(PortKind kind, int ordinal) {
    switch (kind) {
        case K::Temperature:
            return QStringLiteral("Temperature %1").arg(ordinal);
        case K::Humidity:
            return QStringLiteral("Humidity %1").arg(ordinal);
        case K::Door:
            return QStringLiteral("Door %1").arg(ordinal);
        case K::Water:
            return QStringLiteral("Water Sensor");
        case K::Power:
            return QStringLiteral("Power %1").arg(ordinal);
        case K::DryContact:
            return QStringLiteral("Dry Contact");
        case K::Unused:
            break;
    }
    return {};
}

}  // namespace

const ModelInfo& modelInfo(Model model) {
    for (const auto& info : kModels)
        if (info.model == model) return info;
    return kModels[0];
}

QList<Model> allModels() {
    QList<Model> list;
    for (const auto& info : kModels) list << info.model;
    return list;
}

std::optional<Model> modelFromName(const QString& text) {
    const QString key = squeeze(text);
    if (key.isEmpty()) return std::nullopt;
    for (const auto& info : kModels) {
        const QString full = squeeze(QString::fromLatin1(info.name));
        QString bare = full;  // "qx7005" -> "7005", "zolo603" -> "603"
        if (bare.startsWith(QLatin1String("qx"))) bare = bare.mid(2);
        if (bare.startsWith(QLatin1String("zolo"))) bare = bare.mid(4);
        if (key == full || key == bare) return info.model;
    }
    return std::nullopt;
}

bool sendsTenths(Model model, quint16 family, quint16 build) {
    if (family == 3) return build >= 5;
    if (family == 5) return build >= 23 && (model == Model::QX700_5 || model == Model::QX700_10);
    return false;
}

bool isTenthsPort(quint16 family, int port) {
    if (family == 3) return port == 0 || port == 1;
    return port >= 0 && port <= 7;
}

bool hasClockAndLog(quint16 family, quint16 build) {
    return family == 3 || (family == 5 && build >= 23);
}

int logRecordSize(quint16 family) {
    return family == 3 ? 11 : 23;
}

double defaultPortValue(PortKind kind, char unit) {
    switch (kind) {
        case K::Temperature:
            return unit == 'C' ? 4.0 : 39.0;
        case K::Humidity:
            return 45.0;
        case K::Door:
            return 1.0;  // closed
        case K::Water:
            return 0.0;  // not detected
        case K::Power:
            return 1.0;  // on
        case K::DryContact:
            return 1.0;  // closed
        case K::Unused:
            break;
    }
    return 0.0;
}

void putWord(QByteArray& data, int position, int value) {
    data[position - 1] = char((value >> 8) & 0xFF);
    data[position] = char(value & 0xFF);
}

int wordAt(const QByteArray& data, int position) {
    const int v = (quint8(data[position - 1]) << 8) | quint8(data[position]);
    return v >= 0x8000 ? v - 0x10000 : v;
}

void putText(QByteArray& data, int position, int width, const QString& text) {
    QByteArray bytes = text.toLatin1().left(width);
    bytes.append(QByteArray(width - bytes.size(), ' '));
    data.replace(position - 1, width, bytes);
}

std::array<QByteArray, kPageCount> defaultPages(Model model, const PageDefaults& d) {
    const ModelInfo& info = modelInfo(model);
    std::array<QByteArray, kPageCount> pages;
    for (int n = 0; n < kPageCount; ++n) pages[n] = emptyPage(n);

    QList<QString> names;
    std::array<int, 8> ordinal{};
    for (PortKind kind : info.ports) names << portName(kind, ++ordinal[int(kind)]);

    const Limits temp = temperatureLimits(d.unit, d.tenths);
    const int alarmMinutes = 5;

    // Name page: device name, unit letter, address text.
    QByteArray& np = pages[info.namePage];
    putText(np, 9, 20, d.deviceName);
    np[28] = d.unit;
    putText(np, 30, 20, d.address.toString());

    switch (model) {
        case Model::QX700_5:
        case Model::QX700_10:
        case Model::QX700_8:
        case Model::QX720:
        case Model::QX740: {
            QByteArray& p0 = pages[0];
            for (int k = 0; k < 8; ++k) {
                const PortKind kind = info.ports[k];
                if (kind != K::Temperature && kind != K::Humidity) continue;
                const Limits l = kind == K::Humidity ? Limits{20, 80} : temp;
                putWord(p0, 9 + 6 * k, l.lower);
                putWord(p0, 11 + 6 * k, l.upper);
                putWord(p0, 13 + 6 * k, alarmMinutes);
            }
            if (model == Model::QX740) {
                for (int j = 0; j < 4; ++j) {
                    putWord(p0, 33 + 6 * j, 0);  // normal state: on
                    putWord(p0, 37 + 6 * j, alarmMinutes);
                }
            }
            if (model == Model::QX700_5 || model == Model::QX700_10) {
                p0[56] = 0;  // relay closes on alarm
                putWord(pages[1], 11, alarmMinutes);
                // Correction factors stay 0; erroneous-reading filter defaults.
                pages[12][24] = 8;
                pages[12][25] = 3;
            }
            putWord(pages[1], 9, alarmMinutes);
            // Port names two to a page from page 3; QX720 keeps its dry
            // contact input on page 7 like the others keep their last port.
            const int named = model == Model::QX720 ? 4 : (info.ports[9] == K::Unused ? 8 : 10);
            for (int port = 0; port < named; ++port)
                putText(pages[3 + port / 2], port % 2 == 0 ? 9 : 29, 20, names[port]);
            if (model == Model::QX720 || model == Model::QX700_8 || model == Model::QX740) {
                const int last = model == Model::QX720 ? 4 : 8;
                putText(pages[7], 9, 20, names[last]);
            }
            break;
        }
        case Model::Zolo603:
        case Model::Zolo604:
        case Model::Zolo605: {
            QByteArray& p0 = pages[0];
            putWord(p0, 9, temp.lower);
            putWord(p0, 11, temp.upper);
            putWord(p0, 13, alarmMinutes);
            putWord(p0, 15, temp.lower);
            putWord(p0, 17, temp.upper);
            putWord(p0, 19, alarmMinutes);
            putWord(p0, 21, alarmMinutes);
            putWord(p0, 23, alarmMinutes);
            putWord(p0, 25, 0);
            putWord(p0, 27, 0);
            putText(pages[2], 9, 20, names[0]);
            putText(pages[2], 29, 20, names[1]);
            putText(pages[3], 9, 20, names[2]);
            putText(pages[3], 29, 20, names[3]);
            QByteArray& p4 = pages[4];
            p4[8] = 0;   // relay logic
            p4[9] = 30;  // reminder every 30 minutes
            p4[10] = 1;  // buzzer enabled
            p4[11] = 0;  // two-stage door alarm off
            break;
        }
    }
    return pages;
}

}  // namespace devsim
