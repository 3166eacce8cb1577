#include "settings/ui/frmConfiguration.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinterInfo>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/ServerData.h"
#include "core/ui/FrameStyle.h"
#include "settings/ui/FormHelpers.h"
#include "settings/ui/frmAdvancedEmail.h"
#include "settings/ui/frmBrowse.h"

using ConfigurationRules::Field;

namespace {
QLineEdit* NewBox(QWidget* parent, const char* name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QLabel* NewLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

frmConfiguration::frmConfiguration(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConfiguration"));
    setWindowTitle(QStringLiteral("Fernlog Configuration"));
    setModal(true);
    UseFrameStyle(this);

    tabConfiguration = new QTabWidget(this);
    tabConfiguration->setObjectName(QStringLiteral("tabConfiguration"));
    tabConfiguration->addTab(BuildNetworkTab(), QStringLiteral("Network"));
    tabConfiguration->addTab(BuildEmailTab(), QStringLiteral("Alarm Email Setup"));
    tabConfiguration->addTab(BuildOrganizationTab(), QStringLiteral("Organization Info"));
    tabConfiguration->addTab(BuildTrendingTab(), QStringLiteral("Trending"));
    tabConfiguration->addTab(BuildLoggingTab(), QStringLiteral("Data Logging"));
    tabConfiguration->addTab(BuildAdministratorTab(), QStringLiteral("Administrator"));
    frmAutoReport = BuildAutoReportFrame();

    btnApply = new QPushButton(QStringLiteral("Apply"), this);
    btnApply->setObjectName(QStringLiteral("btnApply"));
    btnApply->setToolTip(QStringLiteral("Apply and save selections"));
    // Enter applies, Escape closes, as in any settings dialog.
    btnApply->setDefault(true);
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setToolTip(QStringLiteral("Close without saving changes"));
    btnClose->setAutoDefault(false);
    connect(btnApply, &QPushButton::clicked, this, &frmConfiguration::Apply);
    connect(btnClose, &QPushButton::clicked, this, &frmConfiguration::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnApply);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabConfiguration, 1);
    layout->addWidget(frmAutoReport);
    layout->addLayout(buttons);

    // Typing sets the changed flag; digits only in the number boxes.
    auto* numbers =
        new FormHelpers::NumericKeyFilter(this, [this](QLineEdit*) { changed_ = true; });
    for (QLineEdit* box : {txtUpdateRate, txtTCPTimeOut, txtCommunicationRetry}) {
        numbers->Watch(box);
    }
    for (QLineEdit* box : {txtFromAddress, txtServerFailureEmailAddress, txtOrgName, txtOrgAddress,
                           txtOrgPhoneNumber}) {
        connect(box, &QLineEdit::textEdited, this, [this] { changed_ = true; });
    }
    connect(txtHost, &QLineEdit::textEdited, this, [this] {
        changed_ = true;
        FormHelpers::SetMarked(txtHost, false);
    });
    connect(txtPW[0], &QLineEdit::textEdited, this, [this] {
        if (!txtPW[1]->text().isEmpty()) txtPW[1]->clear();
    });

    SetPrinters(QPrinterInfo::availablePrinterNames());
    LoadForm();
}

frmConfiguration::~frmConfiguration() {
    while (busyCursors_ > 0) SetBusy(false);
}

QWidget* frmConfiguration::BuildNetworkTab() {
    auto* page = new QWidget;
    txtTCPTimeOut = NewBox(page, "txtTCPTimeOut");
    txtCommunicationRetry = NewBox(page, "txtCommunicationRetry");
    txtUpdateRate = NewBox(page, "txtUpdateRate");
    // One grid, so that the three boxes start at one x position.
    auto* layout = new QVBoxLayout(page);
    auto* grid = new QGridLayout;
    const struct {
        QString before;
        QLineEdit* box;
        QString after;
    } rows[] = {
        {QStringLiteral("Network communication time out. (sec)"), txtTCPTimeOut,
         QStringLiteral("(Enter a value from 1 to 9)")},
        {QStringLiteral("Number of times to try to communicate with a Corvane device."),
         txtCommunicationRetry, QStringLiteral("(Enter a value from 1 to 9)")},
        {QStringLiteral("Update data readings every"), txtUpdateRate,
         QStringLiteral("(sec. Minimum update rate is 5 seconds)")},
    };
    for (int r = 0; r < 3; ++r) {
        rows[r].box->setFixedWidth(60);
        grid->addWidget(new QLabel(rows[r].before, page), r, 0);
        grid->addWidget(rows[r].box, r, 1);
        grid->addWidget(new QLabel(rows[r].after, page), r, 2);
    }
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);
    layout->addStretch();
    return page;
}

QWidget* frmConfiguration::BuildEmailTab() {
    auto* page = new QWidget;
    txtHost = NewBox(page, "txtHost");
    txtFromAddress = NewBox(page, "txtFromAddress");
    txtServerFailureEmailAddress = NewBox(page, "txtServerFailureEmailAddress");
    chkSystemOKEmail = new QCheckBox(
        QStringLiteral("Send a daily email to the Administrator Email Address to confirm software "
                       "is up an running."),
        page);
    chkSystemOKEmail->setObjectName(QStringLiteral("chkSystemOKEmail"));
    chkRecoveryNotices = new QCheckBox(
        QStringLiteral("Send an email when an alarm is over and when a server that stopped "
                       "responding answers again."),
        page);
    chkRecoveryNotices->setObjectName(QStringLiteral("chkRecoveryNotices"));
    btnTestEmail =
        new QPushButton(QStringLiteral("Send a test email to Administrator Email Address"), page);
    btnTestEmail->setObjectName(QStringLiteral("btnTestEmail"));
    btnTestEmail->setAutoDefault(false);
    btnAdvanced = new QPushButton(QStringLiteral("Advanced"), page);
    btnAdvanced->setObjectName(QStringLiteral("btnAdvanced"));
    btnAdvanced->setAutoDefault(false);
    connect(btnTestEmail, &QPushButton::clicked, this, &frmConfiguration::SendTestEmail);
    connect(btnAdvanced, &QPushButton::clicked, this, [this] {
        frmAdvancedEmail advanced(this);
        advanced.exec();
    });

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel(QStringLiteral("SMTP Host (for example mail.yourcompany.com)"), page));
    layout->addWidget(txtHost);
    layout->addWidget(new QLabel(QStringLiteral("From Address (valid email address)"), page));
    layout->addWidget(txtFromAddress);
    layout->addWidget(new QLabel(QStringLiteral("Administrator Email Address"), page));
    layout->addWidget(txtServerFailureEmailAddress);
    layout->addWidget(NewLabel(QStringLiteral("Fernlog sends emails to this address if there is no "
                                              "response from a server"),
                               page));
    layout->addWidget(chkSystemOKEmail);
    layout->addWidget(chkRecoveryNotices);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnTestEmail);
    buttons->addStretch();
    buttons->addWidget(btnAdvanced);
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

QWidget* frmConfiguration::BuildOrganizationTab() {
    auto* page = new QWidget;
    auto* frame = new QGroupBox(QStringLiteral("Organization Information"), page);
    txtOrgName = NewBox(frame, "txtOrgName");
    txtOrgAddress = NewBox(frame, "txtOrgAddress");
    txtOrgPhoneNumber = NewBox(frame, "txtOrgPhoneNumber");
    auto* grid = new QGridLayout(frame);
    grid->addWidget(new QLabel(QStringLiteral("Name"), frame), 0, 0);
    grid->addWidget(txtOrgName, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Address"), frame), 1, 0);
    grid->addWidget(txtOrgAddress, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Phone Number"), frame), 2, 0);
    grid->addWidget(txtOrgPhoneNumber, 2, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch();
    return page;
}

QWidget* frmConfiguration::BuildTrendingTab() {
    auto* page = new QWidget;
    chkEnableTrending = new QCheckBox(QStringLiteral("Enable data trending"), page);
    chkEnableTrending->setObjectName(QStringLiteral("chkEnableTrending"));
    lblEnableTrending = NewLabel(QStringLiteral("The more sensors in the system the more difficult "
                                                "it will be to read the trending chart.     "),
                                 page);
    lblEnableTrending->setObjectName(QStringLiteral("lblEnableTrending"));
    connect(chkEnableTrending, &QCheckBox::toggled, lblEnableTrending, &QLabel::setVisible);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(chkEnableTrending);
    layout->addWidget(lblEnableTrending);
    layout->addStretch();
    return page;
}

QWidget* frmConfiguration::BuildLoggingTab() {
    auto* page = new QWidget;
    lblLogDir = NewLabel(QString(), page);
    lblLogDir->setObjectName(QStringLiteral("lblLogDir"));
    btnLogDir = new QPushButton(QStringLiteral("Change Log File Location"), page);
    btnLogDir->setObjectName(QStringLiteral("btnLogDir"));
    btnLogDir->setToolTip(
        QStringLiteral("Click this button to change the directory where the log files are "
                       "written."));
    btnLogDir->setAutoDefault(false);
    connect(btnLogDir, &QPushButton::clicked, this, [this] {
        frmBrowse browse(this);
        browse.exec();
        lblLogDir->setText(ConfigurationRules::LogDirCaption());
    });
    auto* row = new QHBoxLayout;
    row->addWidget(btnLogDir);
    row->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lblLogDir);
    layout->addLayout(row);
    layout->addStretch();
    return page;
}

QWidget* frmConfiguration::BuildAdministratorTab() {
    auto* page = new QWidget;
    txtUN = NewBox(page, "txtUN");
    txtPW[0] = NewBox(page, "txtPW(0)");
    txtPW[1] = NewBox(page, "txtPW(1)");
    for (QLineEdit* box : txtPW) box->setEchoMode(QLineEdit::Password);
    btnClearUNPW = new QPushButton(QStringLiteral("Clear"), page);
    btnClearUNPW->setObjectName(QStringLiteral("btnClearUNPW"));
    btnClearUNPW->setAutoDefault(false);
    connect(btnClearUNPW, &QPushButton::clicked, this, [this] {
        txtUN->clear();
        txtPW[0]->clear();
        txtPW[1]->clear();
    });
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("User Name"), page), 0, 0);
    grid->addWidget(txtUN, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Password"), page), 1, 0);
    grid->addWidget(txtPW[0], 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Confirm Passord"), page), 2, 0);
    grid->addWidget(txtPW[1], 2, 1);
    grid->addWidget(btnClearUNPW, 2, 2);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(NewLabel(
        QStringLiteral("To prevent unauthorized access to Fernlog Setup and Configuration "
                       "screens, enter a user name and password and then click the Apply button.  "
                       "The user name and password will be required to access these features."),
        page));
    layout->addLayout(grid);
    layout->addWidget(NewLabel(QStringLiteral("To disable having to log in, click the Clear button "
                                              "and then click the Apply button."),
                               page));
    layout->addStretch();
    return page;
}

QGroupBox* frmConfiguration::BuildAutoReportFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Auto Report Options"), this);
    frame->setObjectName(QStringLiteral("frmAutoReport"));
    cmboAutoPrintReport = new QComboBox(frame);
    cmboAutoPrintReport->setObjectName(QStringLiteral("cmboAutoPrintReport"));
    cmboAutoPrintReport->addItems({QStringLiteral("No"), QStringLiteral("Yes")});
    txtTimeToPrint = NewBox(frame, "txtTimeToPrint");
    txtTimeToPrint->setMaxLength(2);
    txtTimeToPrint->setMaximumWidth(40);
    cmboAMPM = new QComboBox(frame);
    cmboAMPM->setObjectName(QStringLiteral("cmboAMPM"));
    cmboAMPM->addItems({QStringLiteral("AM"), QStringLiteral("PM")});
    lblPrinter = new QLabel(ConfigurationRules::NoPrinterText(), frame);
    lblPrinter->setObjectName(QStringLiteral("lblPrinter"));
    btnPrinter = new QPushButton(QStringLiteral("Change Printer"), frame);
    btnPrinter->setObjectName(QStringLiteral("btnPrinter"));
    btnPrinter->setAutoDefault(false);
    lstPrinters = new QListWidget(frame);
    lstPrinters->setObjectName(QStringLiteral("lstPrinters"));
    lstPrinters->setMaximumHeight(90);
    lstPrinters->hide();
    connect(btnPrinter, &QPushButton::clicked, lstPrinters, &QWidget::show);
    connect(lstPrinters, &QListWidget::itemChanged, this, &frmConfiguration::PrinterChecked);

    auto* grid = new QGridLayout(frame);
    grid->addWidget(
        new QLabel(QStringLiteral("Automatically send reports to printer at the end of each "
                                  "month?"),
                   frame),
        0, 0);
    grid->addWidget(cmboAutoPrintReport, 0, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Print the monthly reports at this time:"), frame), 1,
                    0);
    auto* time = new QHBoxLayout;
    time->addWidget(txtTimeToPrint);
    time->addWidget(cmboAMPM);
    time->addStretch();
    grid->addLayout(time, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Print to this printer:"), frame), 2, 0);
    auto* printer = new QHBoxLayout;
    printer->addWidget(lblPrinter, 1);
    printer->addWidget(btnPrinter);
    grid->addLayout(printer, 2, 1);
    grid->addWidget(lstPrinters, 3, 0, 1, 2);
    return frame;
}

void frmConfiguration::SetPrinters(const QStringList& names) {
    const QSignalBlocker blocker(lstPrinters);
    lstPrinters->clear();
    for (const QString& name : names) {
        auto* item = new QListWidgetItem(name, lstPrinters);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void frmConfiguration::PrinterChecked(QListWidgetItem* item) {
    if (item->checkState() != Qt::Checked) return;
    const QSignalBlocker blocker(lstPrinters);
    for (int row = 0; row < lstPrinters->count(); ++row) {
        if (lstPrinters->item(row) != item) lstPrinters->item(row)->setCheckState(Qt::Unchecked);
    }
    lblPrinter->setText(item->text());
    printerIndex_ = lstPrinters->row(item) + 1;
}

void frmConfiguration::LoadForm() {
    const ConfigurationRules::ConfigurationForm f = ConfigurationRules::LoadForm();
    lblLogDir->setText(ConfigurationRules::LogDirCaption());
    txtUN->setText(f.UN);
    txtPW[0]->setText(f.PW);
    txtPW[1]->setText(f.PWConfirm);
    txtOrgName->setText(f.OrgName);
    txtOrgAddress->setText(f.OrgAddress);
    txtOrgPhoneNumber->setText(f.OrgPhoneNumber);
    txtTimeToPrint->setText(f.TimeToPrint);
    txtHost->setText(f.Host);
    txtServerFailureEmailAddress->setText(f.ServerFailureEmailAddress);
    txtFromAddress->setText(f.FromAddress);
    txtCommunicationRetry->setText(f.CommunicationRetry);
    txtUpdateRate->setText(f.UpdateRate);
    txtTCPTimeOut->setText(f.TCPTimeOut);
    cmboAutoPrintReport->setCurrentText(f.AutoPrintReport);
    cmboAMPM->setCurrentText(f.AMPM);
    chkSystemOKEmail->setChecked(f.SystemOKEmail);
    chkRecoveryNotices->setChecked(f.RecoveryNotices);
    chkEnableTrending->setChecked(f.EnableTrending);
    lblEnableTrending->setVisible(f.EnableTrending);
    lblPrinter->setText(f.PrinterName);
    printerIndex_ = f.PrinterIndex;
}

ConfigurationRules::ConfigurationForm frmConfiguration::Form() const {
    ConfigurationRules::ConfigurationForm f;
    f.TCPTimeOut = txtTCPTimeOut->text();
    f.CommunicationRetry = txtCommunicationRetry->text();
    f.UpdateRate = txtUpdateRate->text();
    f.Host = txtHost->text();
    f.FromAddress = txtFromAddress->text();
    f.ServerFailureEmailAddress = txtServerFailureEmailAddress->text();
    f.SystemOKEmail = chkSystemOKEmail->isChecked();
    f.RecoveryNotices = chkRecoveryNotices->isChecked();
    f.OrgName = txtOrgName->text();
    f.OrgAddress = txtOrgAddress->text();
    f.OrgPhoneNumber = txtOrgPhoneNumber->text();
    f.EnableTrending = chkEnableTrending->isChecked();
    f.UN = txtUN->text();
    f.PW = txtPW[0]->text();
    f.PWConfirm = txtPW[1]->text();
    f.AutoPrintReport = cmboAutoPrintReport->currentText();
    f.TimeToPrint = txtTimeToPrint->text();
    f.AMPM = cmboAMPM->currentText();
    f.PrinterName = lblPrinter->text();
    f.PrinterIndex = printerIndex_;
    return f;
}

void frmConfiguration::Apply() {
    btnApply->setEnabled(false);
    busy_ = true;
    const ConfigRecord before = ConfigParameters;
    const auto result = ConfigurationRules::Apply(Form(), *this);
    busy_ = false;
    btnApply->setEnabled(true);
    if (result == ConfigurationRules::ApplyResult::Saved) {
        changed_ = false;
        ConfigurationRules::RecordChanges(before);
    }
}

void frmConfiguration::SendTestEmail() {
    // The mail waits in an event loop: nothing may close or save meanwhile.
    for (QPushButton* button : {btnTestEmail, btnApply, btnClose}) button->setEnabled(false);
    busy_ = true;
    ConfigurationRules::TestEmail(Form(), *this);
    busy_ = false;
    for (QPushButton* button : {btnTestEmail, btnApply, btnClose}) button->setEnabled(true);
}

QLineEdit* frmConfiguration::Box(Field field) const {
    switch (field) {
        case Field::txtTCPTimeOut:
            return txtTCPTimeOut;
        case Field::txtCommunicationRetry:
            return txtCommunicationRetry;
        case Field::txtHost:
            return txtHost;
        case Field::txtFromAddress:
            return txtFromAddress;
        case Field::txtServerFailureEmailAddress:
            return txtServerFailureEmailAddress;
        case Field::txtUpdateRate:
            return txtUpdateRate;
        case Field::txtUN:
            return txtUN;
        case Field::txtPW:
            return txtPW[0];
        default:
            return nullptr;
    }
}

void frmConfiguration::FocusField(Field field) {
    QLineEdit* box = Box(field);
    if (!box) return;
    for (int tab = 0; tab < tabConfiguration->count(); ++tab) {
        if (tabConfiguration->widget(tab)->isAncestorOf(box)) {
            tabConfiguration->setCurrentIndex(tab);
        }
    }
    box->setFocus();
}

void frmConfiguration::SetFieldText(Field field, const QString& text) {
    if (QLineEdit* box = Box(field)) box->setText(text);
}

void frmConfiguration::MarkField(Field field) {
    if (QLineEdit* box = Box(field)) FormHelpers::SetMarked(box, true);
}

void frmConfiguration::SetBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyCursors_;
    } else if (busyCursors_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyCursors_;
    }
}

void frmConfiguration::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormHelpers::CentreOnScreen(this);
        changed_ = false;
    }
}

bool frmConfiguration::MayClose() {
    if (busy_) return false;
    return !changed_ || ConfigurationRules::ConfirmDiscard();
}

void frmConfiguration::reject() {
    // Close, the window's close box and Escape all end here (a dialog's
    // close event rejects it).
    if (!MayClose()) return;
    changed_ = false;
    QDialog::reject();
}
