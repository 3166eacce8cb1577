// The device models the simulator can play: identification numbers, what sits
// on each of the ten ports, and the factory contents of the configuration pages.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

namespace devsim {

enum class Model { QX700_5, QX700_8, QX700_10, QX720, QX740, Zolo603, Zolo604, Zolo605 };

enum class PortKind { Unused, Temperature, Humidity, Door, Water, Power, DryContact };

constexpr int kPortCount = 10;
constexpr int kPageCount = 16;
constexpr int kPageSize = 60;
constexpr int kRequestSize = 60;
constexpr quint16 kDataPort = 10001;
// The configuration port (ConfigPort.h): discovery and addressing.
constexpr quint16 kConfigPort = 30718;

struct ModelInfo {
    Model model;
    const char* name;  // as typed on the command line, e.g. "QX700-5", "Zolo 603"
    quint16 family;
    quint16 number;
    quint16 defaultBuild;
    std::array<PortKind, kPortCount> ports;
    int namePage;  // page holding device name, unit letter and address text
};

const ModelInfo& modelInfo(Model model);
QList<Model> allModels();
// Accepts "QX700-5", "qx700-5", "700-5", "Zolo 603", "Zolo603", "603", ...
std::optional<Model> modelFromName(const QString& text);

// Family 5 devices from build 23 (QX700-5 and QX700-10, whose ports 0-7 are all
// temperatures) and Zolo devices from build 5 send temperatures in tenths and
// mark it with 10 in byte 59 of the readings answer.
bool sendsTenths(Model model, quint16 family, quint16 build);
// Which ports carry tenths when the device sends them.
bool isTenthsPort(quint16 family, int port);
// Zolo devices, and family 5 from build 23, keep a clock and an on-board log.
bool hasClockAndLog(quint16 family, quint16 build);
// 11-byte records with two sensors (family 3) or 23-byte records with eight.
int logRecordSize(quint16 family);

// A reading that a freshly powered device shows on a port of this kind.
double defaultPortValue(PortKind kind, char unit);

struct PageDefaults {
    QString deviceName;
    char unit = 'F';
    QHostAddress address;
    bool tenths = false;
};
// The sixteen 60-byte page images of a factory-fresh device, bytes 1-4 being
// the page read echo AA BB CC n.
std::array<QByteArray, kPageCount> defaultPages(Model model, const PageDefaults& defaults);

// Byte helpers for the 1-based positions the page maps use.
void putWord(QByteArray& data, int position, int value);
int wordAt(const QByteArray& data, int position);
void putText(QByteArray& data, int position, int width, const QString& text);

}  // namespace devsim
