#pragma once

#include <QDialog>
#include <array>

#include "settings/ConfigurationRules.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;

// "Fernlog Configuration": the program settings on six tabs and the monthly
// report options. Shows ConfigParameters when it opens and stores them only
// through Apply; the rules live in ConfigurationRules.
class frmConfiguration : public QDialog, public ConfigurationRules::FormView {
    Q_OBJECT
  public:
    explicit frmConfiguration(QWidget* parent = nullptr);
    ~frmConfiguration() override;

    // The entries as the rules take them.
    ConfigurationRules::ConfigurationForm Form() const;
    // Typing since the dialog was shown or last saved.
    bool Changed() const { return changed_; }

    // The printers the system knows, for lstPrinters.
    void SetPrinters(const QStringList& names);

    // ConfigurationRules::FormView
    void FocusField(ConfigurationRules::Field field) override;
    void SetFieldText(ConfigurationRules::Field field, const QString& text) override;
    void MarkField(ConfigurationRules::Field field) override;
    void SetBusy(bool busy) override;

    QTabWidget* tabConfiguration = nullptr;
    QLineEdit* txtTCPTimeOut = nullptr;
    QLineEdit* txtCommunicationRetry = nullptr;
    QLineEdit* txtUpdateRate = nullptr;
    QLineEdit* txtHost = nullptr;
    QLineEdit* txtFromAddress = nullptr;
    QLineEdit* txtServerFailureEmailAddress = nullptr;
    QCheckBox* chkSystemOKEmail = nullptr;
    QCheckBox* chkRecoveryNotices = nullptr;
    QPushButton* btnTestEmail = nullptr;
    QPushButton* btnAdvanced = nullptr;
    QLineEdit* txtOrgName = nullptr;
    QLineEdit* txtOrgAddress = nullptr;
    QLineEdit* txtOrgPhoneNumber = nullptr;
    QCheckBox* chkEnableTrending = nullptr;
    QLabel* lblEnableTrending = nullptr;
    QLabel* lblLogDir = nullptr;
    QPushButton* btnLogDir = nullptr;
    QLineEdit* txtUN = nullptr;
    std::array<QLineEdit*, 2> txtPW{};  // the password and its confirmation
    QPushButton* btnClearUNPW = nullptr;
    QGroupBox* frmAutoReport = nullptr;
    QComboBox* cmboAutoPrintReport = nullptr;
    QLineEdit* txtTimeToPrint = nullptr;
    QComboBox* cmboAMPM = nullptr;
    QLabel* lblPrinter = nullptr;
    QPushButton* btnPrinter = nullptr;
    QListWidget* lstPrinters = nullptr;
    QPushButton* btnApply = nullptr;
    QPushButton* btnClose = nullptr;

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* BuildNetworkTab();
    QWidget* BuildEmailTab();
    QWidget* BuildOrganizationTab();
    QWidget* BuildTrendingTab();
    QWidget* BuildLoggingTab();
    QWidget* BuildAdministratorTab();
    QGroupBox* BuildAutoReportFrame();
    void LoadForm();
    void Apply();
    void SendTestEmail();
    void PrinterChecked(QListWidgetItem* item);
    QLineEdit* Box(ConfigurationRules::Field field) const;
    // The close check: true when the dialog may close.
    bool MayClose();

    bool changed_ = false;
    bool busy_ = false;  // a test e-mail or a save is under way
    int printerIndex_ = 0;
    int busyCursors_ = 0;
};
