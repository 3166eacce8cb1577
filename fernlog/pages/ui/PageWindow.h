#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include "core/Windows.h"
#include "pages/PageForm.h"
#include "pages/PageTransfer.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// What the five model configuration windows share: a row of boxes per port,
// the notes frame, the status list, the buttons and, where the model has
// them, the alarm options and the calibration panel. The windows only copy
// their controls to and from the page record; the pages module reads and
// writes the device.
class PageWindow : public QDialog, public Pages::TransferView {
    Q_OBJECT
  public:
    PageWindow(Window window, QWidget* parent = nullptr);
    ~PageWindow() override;

    // Set by the registry window before the window is shown.
    void SetIPAddress(const QString& ipAddress) { session_.ipAddress = ipAddress; }
    // Also names the server's device in the title.
    void SetServerID(qint64 serverId);
    // The device's port; tests point it at a simulated device.
    void SetPort(quint16 port) { session_.port = port; }

    const Pages::PageSession& Session() const { return session_; }
    bool Transferring() const { return transferring_; }
    // Transfers finished since the window opened (downloads and uploads).
    int TransfersDone() const { return transfersDone_; }

    void ShowProgress(const QString& text) override;
    void AddStatus(const QString& line) override;

    // Enables or disables the command buttons.
    void Buttons(bool state);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    QGroupBox* BuildCalibration();
    QGroupBox* BuildAlarmConfiguration();
    QLineEdit* Box(const QString& name, int maxLength = 0);
    void Activate();
    void Refresh();
    void Save();
    void ToggleNotes();
    void OpenCalibration();
    void CloseCalibration();
    void StoreCalibration();
    void ResetCalibration();
    void ShowCorrections(bool shown);
    void FormToWidgets();
    void WidgetsToForm();

    Window window_;
    Pages::PageSession session_;
    bool transferring_ = false;
    bool activated_ = false;
    int transfersDone_ = 0;

    QList<QLabel*> lblSensorType_;
    QList<QLineEdit*> txtName_, txtLL_, txtUL_, txtTOL_, txtReading_, txtNotes_;
    QList<QLabel*> lblNotes_;
    QList<QComboBox*> cmboNormalState_;
    QGroupBox* frmNotes_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QListWidget* lstStatus_ = nullptr;
    QPushButton *btnSave_ = nullptr, *btnRefresh_ = nullptr, *btnNotes_ = nullptr,
                *btnClose_ = nullptr, *btnCal_ = nullptr;
    QRadioButton* optRelayLogic_[2] = {nullptr, nullptr};
    QButtonGroup* relayGroup_ = nullptr;
    QWidget* relayBox_ = nullptr;

    // frmZolo's alarm configuration.
    QGroupBox* frmAlarmConfiguration_ = nullptr;
    QRadioButton* optEnableBuzzer_[2] = {nullptr, nullptr};
    QButtonGroup* buzzerGroup_ = nullptr;
    QLineEdit* txtAlarmReminderTimeDelay_ = nullptr;
    QLineEdit* txtTwoStageDoorAlarmTimeDelay_ = nullptr;

    // The calibration panel.
    QGroupBox* frmCal_ = nullptr;
    QGroupBox* frmQX705rev23_ = nullptr;
    QList<QLabel*> lblName_;
    QList<QLineEdit*> txtActualTemp_, txtCF_;  // txtCF 8 and 9: the erroneous-reading boxes
    QLabel* lblCalCorrection_ = nullptr;       // lblCal(1) "Correction"
};

// The five windows; each is the shared design with its model's ports.
class frmQX705 : public PageWindow {
    Q_OBJECT
  public:
    explicit frmQX705(QWidget* parent = nullptr) : PageWindow(Window::frmQX705, parent) {}
};
class frmQX708 : public PageWindow {
    Q_OBJECT
  public:
    explicit frmQX708(QWidget* parent = nullptr) : PageWindow(Window::frmQX708, parent) {}
};
class frmQX720 : public PageWindow {
    Q_OBJECT
  public:
    explicit frmQX720(QWidget* parent = nullptr) : PageWindow(Window::frmQX720, parent) {}
};
class frmQX740 : public PageWindow {
    Q_OBJECT
  public:
    explicit frmQX740(QWidget* parent = nullptr) : PageWindow(Window::frmQX740, parent) {}
};
class frmZolo : public PageWindow {
    Q_OBJECT
  public:
    explicit frmZolo(QWidget* parent = nullptr) : PageWindow(Window::frmZolo, parent) {}
};
