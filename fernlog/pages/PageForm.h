#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

#include "core/Windows.h"

// What a configuration window shows, as plain texts and list positions: the
// windows copy their controls to and from this record, and the page procedures
// read and write only this record and the page images.
namespace Pages {

struct PortBoxes {
    QString type;     // lblSensorType
    QString name;     // txtName
    QString lower;    // txtLL
    QString upper;    // txtUL
    QString time;     // txtTOL
    QString reading;  // txtReading
    QString notes;    // txtNotes
};

struct PageForm {
    std::vector<PortBoxes> ports;
    int relayLogic = -1;                             // optRelayLogic 0 or 1; -1 none chosen
    std::array<int, 4> normalState{-1, -1, -1, -1};  // cmboNormalState, power ports 4-7
    std::array<QString, 8> correction;               // txtCF 0-7, degrees with one decimal
    std::array<QString, 8> actualTemp;               // txtActualTemp 0-7 of the calibration panel
    QString erroneousBits;                           // txtCF 8
    QString erroneousCount;                          // txtCF 9
    int buzzer = -1;                                 // optEnableBuzzer 0 enable, 1 disable
    QString reminderDelay;                           // txtAlarmReminderTimeDelay
    QString twoStageDelay;                           // txtTwoStageDoorAlarmTimeDelay
    QStringList status;                              // lstStatus

    // What the last download decided about the window's extras.
    bool relayOptionsEnabled = true;        // frmQX705: firmware build 24 or more
    bool rev23Visible = true;               // frmQX705: the erroneous-reading boxes
    bool calibrationAllowed = true;         // frmQX705: firmware build 23 or more
    bool alarmConfigurationVisible = true;  // frmZolo: model 5 or more
};

// A window's boxes for its model, all empty.
PageForm EmptyForm(Window window);

// ClearTextBoxes: names, limits, times, readings, notes, corrections, delays
// and the status list; the options and type captions stay.
void ClearTextBoxes(PageForm& form);

// One configuration window's transfer state: the device, the boxes and the
// images of the pages last read from it.
struct PageSession {
    Window window = Window::None;
    QString ipAddress;    // IPAddress
    qint64 serverId = 0;  // ServerID
    quint16 port = 10001;
    PageForm form;
    // The 60-byte answer of the last good download of each page. A page
    // whose download failed has no image and is never written back.
    QMap<int, QByteArray> images;
    bool Tenths = false;
    // A readings answer has arrived, so Tenths is the device's own: until
    // then a limit typed in degrees could be stored ten times too small.
    bool tenthsKnown = false;
    // The last download's identification succeeded (firmwareBuild is real).
    bool identified = false;
    int firmwareBuild = 0;  // of this device; 0 until it identifies itself
    int deviceModel = 0;
    // frmZolo: page 4 was read by the last download, so its boxes hold the
    // device's alarm options and may be written back.
    bool alarmOptionsRead = false;
    // Ports whose name arrived in the last download.
    QSet<int> namesRead;
    // The ports whose register rows an upload stores. Unset (the windows):
    // every port whose name page was written. The command line names the
    // ports it edits, so that no other row is rewritten or added.
    std::optional<QSet<int>> registerPorts;
};

PageSession NewSession(Window window, const QString& ipAddress, qint64 serverId);

}  // namespace Pages
