#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "registry/Ds1337.h"
#include "registry/ui/frmTreeConfigurationParts.h"

// The data-log frame: the device's clock and log rate, the log download,
// its decoding and export.

using namespace TreeConfigurationParts;

void frmTreeConfiguration::BuildDateTimeFrame() {
    frmDateTime = new QGroupBox(QStringLiteral("On Board Data Log Parameters"), this);
    frmDateTime->setObjectName(QStringLiteral("frmDateTime"));
    txtDT = FieldBox(QStringLiteral("txtDT"), frmDateTime);
    txtDT->setReadOnly(true);  // typing into it is ignored
    txtUR = FieldBox(QStringLiteral("txtUR"), frmDateTime);
    txtUR->setToolTip(
        QStringLiteral("This value is how often data is stored in the on board data "
                       "log.  Valid range is 1 to 60 minutes."));
    txtNR = FieldBox(QStringLiteral("txtNR"), frmDateTime);
    txtNR->setReadOnly(true);
    chkCLF = new QCheckBox(QStringLiteral("Reset log record pointer after download"), frmDateTime);
    chkCLF->setObjectName(QStringLiteral("chkCLF"));
    chkCLF->setToolTip(QStringLiteral(
        "Check this box prior to downloading to reset the log record pointer back to 0."));
    btnStoreDateTime = Button(QStringLiteral("btnStoreDateTime"),
                              QStringLiteral("Store Data Log Parameters to Server"), frmDateTime);
    btnStoreDateTime->setToolTip(
        QStringLiteral("Click this button to store the time and the update rate to the server."));
    btnGetLogFile = Button(QStringLiteral("btnGetLogFile"),
                           QStringLiteral("Download all log records"), frmDateTime);
    btnGetLogFile->setToolTip(QStringLiteral("Download all log records."));
    btnExportLog = Button(QStringLiteral("btnExportLog"),
                          QStringLiteral("Export data to .csv file"), frmDateTime);
    btnExportLog->setToolTip(QStringLiteral("Export all log records to a .csv file."));
    btnExportLog->hide();
    Command2 = Button(QStringLiteral("Command2"), QStringLiteral("Decode"), frmDateTime);
    gridLog = new QTableView(frmDateTime);
    gridLog->setObjectName(QStringLiteral("gridLog"));
    logModel = new Ds1337::LogGridModel(gridLog);
    gridLog->setModel(logModel);
    gridLog->verticalHeader()->hide();
    gridLog->verticalHeader()->setDefaultSectionSize(gridLog->fontMetrics().height() + 6);
    gridLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridLog->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* rate = new QHBoxLayout;
    rate->addWidget(txtUR);
    rate->addWidget(new QLabel(QStringLiteral("(Valid range: 1 to 60 minutes)"), frmDateTime));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Local Time at Server:"), txtDT);
    form->addRow(QStringLiteral("Update Rate (min):"), rate);
    form->addRow(QStringLiteral("Number of Log Records:"), txtNR);
    // Stacked: in one row the four buttons would widen the window past a
    // small screen.
    // The commands two by two, as in the server frame.
    auto* buttons = new QGridLayout;
    buttons->addWidget(btnStoreDateTime, 0, 0);
    buttons->addWidget(btnGetLogFile, 0, 1);
    buttons->addWidget(Command2, 1, 0);
    buttons->addWidget(btnExportLog, 1, 1);
    auto* layout = new QVBoxLayout(frmDateTime);
    layout->addLayout(form);
    layout->addWidget(chkCLF);
    layout->addLayout(buttons);
    layout->addWidget(gridLog, 1);

    connect(btnStoreDateTime, &QPushButton::clicked, this, &frmTreeConfiguration::StoreDateTime);
    connect(btnGetLogFile, &QPushButton::clicked, this, &frmTreeConfiguration::GetLogFile);
    connect(btnExportLog, &QPushButton::clicked, this, &frmTreeConfiguration::ExportLog);
    connect(Command2, &QPushButton::clicked, this, &frmTreeConfiguration::DecodeLog);
}

void frmTreeConfiguration::ClearLogFields() {
    txtDT->clear();
    txtUR->clear();
    txtNR->clear();
    chkCLF->setChecked(false);
}

void frmTreeConfiguration::StoreDateTime() {
    int rate = 0;
    switch (Registry::CheckUpdateRate(txtUR->text(), rate)) {
        case Registry::RateCheck::Empty:
            Say(QStringLiteral("Please enter a value for the log update rate."), Icon::Warning);
            return;
        case Registry::RateCheck::OutOfRange:
            Say(QStringLiteral("The valid update rate is betweek 1 and 60 minutes"), Icon::Warning);
            txtUR->setText(QString::number(Registry::kDefaultUpdateRate));
            txtUR->setFocus();
            return;
        case Registry::RateCheck::Ok:
            break;
    }
    if (Busy()) return;
    BusyScope busy(this);
    txtDT->clear();
    QByteArray result;
    if (!Ds1337::StoreDateTime(Ip(), rate, result)) {
        txtDT->setText(QString::fromLatin1(result));
        return;
    }
    QString text;
    Ds1337::DecodeClockText(result, Ds1337::ClockLayout::kMinutes, text);
    txtDT->setText(text);
}

void frmTreeConfiguration::GetLogFile() {
    if (Busy()) return;
    // The device sends as many bytes as it reported; without that number
    // there is nothing to wait for, and an empty log has nothing to keep.
    bool known = false;
    const int size = txtNR->text().toInt(&known);
    if (!known || size < 0) {
        SetStatusText(QStringLiteral("The number of log records of ") + Name() +
                          QStringLiteral(" is not known.  Click Refresh to read it from the "
                                         "device."),
                      true);
        lblServerError->show();
        return;
    }
    if (size == 0) {
        SetStatusText(Name() + QStringLiteral(" has no log records to download."), true);
        lblServerError->show();
        return;
    }
    BusyScope busy(this);
    int code = 0;
    if (chkCLF->isChecked()) {
        const Dialogs::Answer answer = Dialogs::Message(
            QStringLiteral("Reset log pointer after download?"), Buttons::YesNo, Icon::Question);
        code = answer == Dialogs::Answer::Yes ? 6 : 7;
        if (answer != Dialogs::Answer::Yes) chkCLF->setChecked(false);
    }
    SetStatusText(
        QString::number(code) + QStringLiteral("  Downloading log records from ") + Name(), false);
    lblServerError->show();
    QByteArray data;
    if (!Ds1337::DownloadLog(Ip(), data, chkCLF->isChecked() ? 1 : 0, size)) {
        // The last good download stays for Decode and the export.
        SetStatusText(QStringLiteral("Failure while downloading log records from ") + Name(), true);
        btnExportLog->hide();
        return;
    }
    keptLog_ = data;
    keptLogDevice_ = Registry::LastIdentification();
    keptLogServerId_ = frame_.ServerId();
    DecodeLog();
    lblServerError->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);"));
    btnExportLog->show();
    QString path, error;
    if (!Ds1337::SaveDownloadedLog(keptLog_, path, &error)) {
        SetStatusText(QStringLiteral("Failure while creating binary file ") + path +
                          QStringLiteral(".  The error is ") + error,
                      true);
    }
}

void frmTreeConfiguration::DecodeLog() {
    // The kept log is shown only under the server it came from.
    if (keptLog_.isEmpty() || keptLogServerId_ != frame_.ServerId()) {
        logModel->SetGrid({});
        SetStatusText(QStringLiteral("No log records have been downloaded from ") + Name() +
                          QStringLiteral("."),
                      false);
        return;
    }
    Ds1337::LogGrid grid = logModel->Grid();
    if (Ds1337::DecodeLog(keptLog_, keptLogDevice_, grid)) logModel->SetGrid(grid);
}

void frmTreeConfiguration::ExportLog() {
    const QString file = chooseExportFile(Name() + QStringLiteral(".csv"));
    if (file.isEmpty()) {
        Say(QStringLiteral("There was an error exporting the log file.  The error is Cancel was "
                           "selected."),
            Icon::Warning);
        return;
    }
    if (Ds1337::ExportLogCsv(logModel->Grid(), keptLogDevice_.family, file)) {
        Say(QStringLiteral("The file ") + file + QStringLiteral(" has been created"));
    } else {
        Say(QStringLiteral("There was an error creating the log file ") + file +
                QStringLiteral(".  No log file has been created."),
            Icon::Warning);
    }
}
