#pragma once

#include <QMainWindow>
#include <array>

#include "tarnset/View.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The window of tarnset: the discovery button, the device list, the wanted
// address, the network details, the status line, the progress bar and the
// two diagnostic lists. It shows what the procedures report and starts them.
class frmMain : public QMainWindow, public Tarnset::ToolView {
    Q_OBJECT
  public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // ToolView
    void SetFindEnabled(bool enabled) override;
    void SetSetIpEnabled(bool enabled) override;
    void SetRowItemsEnabled(bool enabled) override;
    void ResetList() override;
    void AddListRow(const QString& number, const QString& address, const QString& mac) override;
    void HighlightAddress(int row) override;
    void ClearDebug() override;
    void AddDebug(const QString& line) override;
    void SetRecord(const QStringList& bytes, const QString& dump) override;
    void SetStatus(const QString& text) override;
    void SetWindowStatus(const QString& text) override;
    void ShowResult(const QString& text) override;
    void SetStatusColour(Tarnset::StatusColour colour) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    QString NetworkDetail(int index) const override;
    void SetNetworkDetail(int index, const QString& text) override;
    void SetOctet(int index, const QString& text) override;
    void FocusOctet(int index) override;
    bool OpenUrl(const QString& url) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Activate();
    void OnGridClick(int row, int column);
    void OnOctetChanged(int index);
    void CopyMac();
    QString CurrentCell() const;
    // Runs a procedure with the menus that start others disabled.
    template <class F>
    void RunProcedure(F procedure);

    QPushButton* btnFindZolos;
    QTableWidget* Grid;
    std::array<QLineEdit*, 4> txtIPOctets;
    QPushButton* btnSetIP;
    std::array<QLabel*, 3> NetworkDetails;
    QLineEdit* txtDebug;
    QListWidget* lstdebug;
    QListWidget* lstByte;
    QProgressBar* ProgressBar;
    QLabel* Picture1;
    QAction* mnuAdvancedNetwork;
    QAction* mnuManual;
    QAction* mnuDHCP;
    QAction* mnuTestCommunications;
    QAction* mnuCopyMAC;
    QAction* mnuContact;
    QAction* mnuAbout;
    int currentRow_ = 0;
    bool inProcedure_ = false;  // Find stays disabled until the procedure ends
    int nextRow_ = 1;
    bool activated_ = false;
};
