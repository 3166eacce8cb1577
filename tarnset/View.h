#pragma once

#include <QString>
#include <QStringList>

// What the procedures show: the window implements this and registers with
// Link::SetView; the command-line mode registers its own; without a view the
// procedures run silently.
namespace Tarnset {

// Status line backgrounds, painted by the window.
enum class StatusColour { Normal, Red };

class ToolView {
  public:
    virtual ~ToolView() = default;
    virtual void SetFindEnabled(bool enabled) = 0;      // btnFindZolos
    virtual void SetSetIpEnabled(bool enabled) = 0;     // btnSetIP
    virtual void SetRowItemsEnabled(bool enabled) = 0;  // mnuDHCP, mnuAdvancedNetwork
    // The device list: the empty layout, then one row per answer.
    virtual void ResetList() = 0;
    virtual void AddListRow(const QString& number, const QString& address, const QString& mac) = 0;
    virtual void HighlightAddress(int row) = 0;  // row counted with the heading as 0
    virtual void ClearDebug() = 0;
    virtual void AddDebug(const QString& line) = 0;
    // The last setup record: one line per byte (lstByte) and the whole
    // record on one line (a debug-list line).
    virtual void SetRecord(const QStringList& bytes, const QString& dump) = 0;
    virtual void SetStatus(const QString& text) = 0;
    // A status line that speaks to a window user ("Click on an IP address
    // ..."), or that only the window claims before the rediscovery checks it.
    virtual void SetWindowStatus(const QString& text) = 0;
    // The result a procedure ends with, such as the communication test's
    // model line: a message box in the window, standard output on the
    // command line.
    virtual void ShowResult(const QString& text) = 0;
    virtual void SetStatusColour(StatusColour colour) = 0;
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;
    virtual QString NetworkDetail(int index) const = 0;  // 0 address, 1 mask, 2 gateway
    virtual void SetNetworkDetail(int index, const QString& text) = 0;
    virtual void SetOctet(int index, const QString& text) = 0;
    virtual void FocusOctet(int index) = 0;
    // Opens the URL in the desktop's browser; false when none opens.
    virtual bool OpenUrl(const QString& url) = 0;
};

}  // namespace Tarnset
