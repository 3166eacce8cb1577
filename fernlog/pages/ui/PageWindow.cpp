#include "pages/ui/PageWindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Dialogs.h"
#include "core/ui/FrameStyle.h"
#include "db/ServerDatabase.h"
#include "pages/Calibration.h"
#include "pages/PageMaps.h"
#include "pages/PageValues.h"

namespace {
QString Indexed(const char* name, int index) {
    return QString::fromLatin1(name) + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

void SetOption(QButtonGroup* group, QRadioButton* const options[2], int chosen) {
    // Neither option checked shows "nothing chosen".
    group->setExclusive(false);
    options[0]->setChecked(chosen == 0);
    options[1]->setChecked(chosen == 1);
    group->setExclusive(true);
}

int Option(QRadioButton* const options[2]) {
    if (options[0]->isChecked()) return 0;
    if (options[1]->isChecked()) return 1;
    return -1;
}

enum class KeyFilter { None, SignedNumber, Digit, Name };
const char* kFilterProperty = "pageKeyFilter";
}  // namespace

PageWindow::PageWindow(Window window, QWidget* parent)
    : QDialog(parent), window_(window), session_(Pages::NewSession(window, QString(), 0)) {
    setObjectName(WindowName(window));
    setWindowTitle(Pages::WindowCaption(window));
    setModal(true);
    UseFrameStyle(this);
    Build();
    Pages::SetView(window_, this);
}

PageWindow::~PageWindow() {
    Pages::SetView(window_, nullptr);
}

void PageWindow::SetServerID(qint64 serverId) {
    session_.serverId = serverId;
    // The device being edited is named, so that a window opened for the
    // wrong row is seen before anything is saved.
    ServerDatabase::ServerRow server;
    const bool named =
        ServerDatabase::ReadServer(serverId, server) && !server.name.trimmed().isEmpty();
    setWindowTitle(named ? server.name.trimmed() + QStringLiteral(" - ") +
                               Pages::WindowCaption(window_)
                         : Pages::WindowCaption(window_));
}

QLineEdit* PageWindow::Box(const QString& name, int maxLength) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    if (maxLength > 0) box->setMaxLength(maxLength);
    return box;
}

void PageWindow::Build() {
    const bool zolo = window_ == Window::frmZolo;
    const QStringList types = Pages::PortTypes(window_);
    // The rows and options on the left; the notes frame and the calibration
    // panel beside them, so that the window keeps to a laptop screen's
    // height with either shown.
    auto* outer = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    auto* main = new QVBoxLayout;
    auto* side = new QVBoxLayout;
    columns->addLayout(main, 1);
    columns->addLayout(side);
    outer->addLayout(columns);

    auto* grid = new QGridLayout;
    const QStringList captions{QStringLiteral("Current Reading"), QStringLiteral("Lower Limit"),
                               QStringLiteral("Upper Limit"),
                               zolo ? QStringLiteral("Time (min)") : QStringLiteral("Time")};
    for (int c = 0; c < captions.size(); ++c) {
        auto* label = new QLabel(captions[c], this);
        label->setObjectName(Indexed("lblZolo", c));
        grid->addWidget(label, 0, 2 + c);
    }
    const bool qx740 = window_ == Window::frmQX740;
    for (int port = 0; port < types.size(); ++port) {
        // frmQX740's power rows have a header of their own over the state.
        const int row = port + 1 + (qx740 && port >= 4 ? 1 : 0);
        if (qx740 && port == 4) {
            auto* state = new QLabel(QStringLiteral("Normal State"), this);
            state->setObjectName(QStringLiteral("lblNormalState"));
            grid->addWidget(state, row - 1, 3, 1, 2);
        }
        auto* type = new QLabel(types[port], this);
        type->setObjectName(Indexed("lblSensorType", port));
        lblSensorType_ << type;
        txtName_ << Box(Indexed("txtName", port), Pages::kNameLength);
        txtReading_ << Box(Indexed("txtReading", port));
        txtLL_ << Box(Indexed("txtLL", port));
        txtUL_ << Box(Indexed("txtUL", port));
        txtTOL_ << Box(Indexed("txtTOL", port));
        txtName_.last()->setProperty(kFilterProperty, window_ == Window::frmQX705
                                                          ? int(KeyFilter::Name)
                                                          : int(KeyFilter::None));
        txtLL_.last()->setProperty(kFilterProperty, int(KeyFilter::SignedNumber));
        txtUL_.last()->setProperty(kFilterProperty, int(KeyFilter::SignedNumber));
        txtTOL_.last()->setProperty(kFilterProperty, int(KeyFilter::Digit));
        for (QLineEdit* box : {txtName_.last(), txtLL_.last(), txtUL_.last(), txtTOL_.last()})
            box->installEventFilter(this);
        txtName_.last()->setMinimumWidth(180);
        txtReading_.last()->setMinimumWidth(130);
        for (QLineEdit* box : {txtLL_.last(), txtUL_.last()}) box->setFixedWidth(80);
        txtTOL_.last()->setFixedWidth(60);
        // Reading boxes are for looking only: read-only, not greyed, so that
        // the live values read as clearly as the limits beside them.
        txtReading_.last()->setReadOnly(true);
        txtReading_.last()->setFocusPolicy(Qt::ClickFocus);
        grid->addWidget(type, row, 0);
        grid->addWidget(txtName_.last(), row, 1);
        grid->addWidget(txtReading_.last(), row, 2);
        const bool limits = Pages::HasLimits(window_, port);
        const bool power = window_ == Window::frmQX740 && port >= 4 && port < 8;
        txtLL_.last()->setVisible(limits);
        txtUL_.last()->setVisible(limits);
        if (limits) {
            grid->addWidget(txtLL_.last(), row, 3);
            grid->addWidget(txtUL_.last(), row, 4);
        }
        if (power) {
            auto* combo = new QComboBox(this);
            combo->setObjectName(Indexed("cmboNormalState", port - 4));
            combo->addItems({QStringLiteral("On"), QStringLiteral("Off")});
            combo->setCurrentIndex(-1);
            cmboNormalState_ << combo;
            grid->addWidget(combo, row, 3, 1, 2);
        }
        grid->addWidget(txtTOL_.last(), row, 5);
    }
    grid->setColumnStretch(1, 1);
    main->addLayout(grid);
    if (window_ == Window::frmQX740) {
        main->addWidget(new QLabel(
            QStringLiteral("An alarm is generated when the power has been___ for xxx minutes"),
            this));
    }
    if (zolo) {
        main->addWidget(
            new QLabel(QStringLiteral("Note: to disable a sensor, leave the name blank."), this));
    }

    // Relay logic: frmQX705 under the rows, frmZolo inside its alarm configuration.
    if (window_ == Window::frmQX705 || zolo) {
        relayBox_ = new QWidget(this);
        auto* relayLayout = new QVBoxLayout(relayBox_);
        relayLayout->setContentsMargins(0, 0, 0, 0);
        relayGroup_ = new QButtonGroup(this);
        optRelayLogic_[0] = new QRadioButton(
            QStringLiteral("Turn on alarm relay when a sensor goes into alarm."), relayBox_);
        optRelayLogic_[1] = new QRadioButton(
            QStringLiteral(
                "Turn off alarm relay when a sensor goes into alarm or the main power fails."),
            relayBox_);
        for (int i = 0; i < 2; ++i) {
            optRelayLogic_[i]->setObjectName(Indexed("optRelayLogic", i));
            relayGroup_->addButton(optRelayLogic_[i], i);
            relayLayout->addWidget(optRelayLogic_[i]);
        }
        if (!zolo) main->addWidget(relayBox_);
    }
    if (zolo) main->addWidget(BuildAlarmConfiguration());

    frmNotes_ =
        new QGroupBox(zolo ? QStringLiteral("Notes") : QStringLiteral("Sensor Notes"), this);
    frmNotes_->setObjectName(QStringLiteral("frmNotes"));
    auto* notes = new QGridLayout(frmNotes_);
    for (int port = 0; port < types.size(); ++port) {
        auto* label = new QLabel(types[port], frmNotes_);
        lblNotes_ << label;
        txtNotes_ << Box(Indexed("txtNotes", port));
        // Room for a short sentence; the frame takes its width beside the rows.
        txtNotes_.last()->setMinimumWidth(txtNotes_.last()->fontMetrics().horizontalAdvance(
                                              QStringLiteral("Second feed from UPS B")) +
                                          16);
        notes->addWidget(label, port, 0);
        notes->addWidget(txtNotes_.last(), port, 1);
    }
    frmNotes_->hide();
    side->addWidget(frmNotes_);

    if (Pages::CalibrationPorts(window_) > 0) side->addWidget(BuildCalibration());
    side->addStretch();
    main->addStretch();
    main = outer;

    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblStatus_->hide();
    main->addWidget(lblStatus_);
    lstStatus_ = new QListWidget(this);
    lstStatus_->setObjectName(QStringLiteral("lstStatus"));
    lstStatus_->setMaximumHeight(90);
    main->addWidget(lstStatus_);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    // As in every window: the panels' buttons on the left, the window's
    // own Refresh, Save and Close at the right.
    btnNotes_ = button("btnNotes", QStringLiteral("Notes"));
    if (Pages::CalibrationPorts(window_) > 0) btnCal_ = button("btnCal", QStringLiteral("Cal"));
    buttons->addStretch();
    btnRefresh_ = button("btnRefresh", QStringLiteral("Refresh"));
    btnSave_ = button("btnSave", QStringLiteral("Save"));
    btnClose_ = button("btnClose", QStringLiteral("Close"));
    btnSave_->setDefault(true);  // Enter saves; Escape closes, as Close does
    main->addLayout(buttons);

    connect(btnSave_, &QPushButton::clicked, this, &PageWindow::Save);
    connect(btnRefresh_, &QPushButton::clicked, this, &PageWindow::Refresh);
    connect(btnNotes_, &QPushButton::clicked, this, &PageWindow::ToggleNotes);
    connect(btnClose_, &QPushButton::clicked, this, &QDialog::accept);
    if (btnCal_) connect(btnCal_, &QPushButton::clicked, this, &PageWindow::OpenCalibration);
}

QGroupBox* PageWindow::BuildAlarmConfiguration() {
    frmAlarmConfiguration_ = new QGroupBox(QStringLiteral("Alarm Configuration"), this);
    frmAlarmConfiguration_->setObjectName(QStringLiteral("frmAlarmConfiguration"));
    auto* layout = new QGridLayout(frmAlarmConfiguration_);
    relayBox_->setParent(frmAlarmConfiguration_);
    layout->addWidget(relayBox_, 0, 0, 1, 2);
    buzzerGroup_ = new QButtonGroup(this);
    optEnableBuzzer_[0] = new QRadioButton(QStringLiteral("Enable Buzzer"), frmAlarmConfiguration_);
    optEnableBuzzer_[1] =
        new QRadioButton(QStringLiteral("Disable Buzzer"), frmAlarmConfiguration_);
    for (int i = 0; i < 2; ++i) {
        optEnableBuzzer_[i]->setObjectName(Indexed("optEnableBuzzer", i));
        buzzerGroup_->addButton(optEnableBuzzer_[i], i);
        layout->addWidget(optEnableBuzzer_[i], 1, i);
    }
    txtAlarmReminderTimeDelay_ = Box(QStringLiteral("txtAlarmReminderTimeDelay"), 3);
    txtTwoStageDoorAlarmTimeDelay_ = Box(QStringLiteral("txtTwoStageDoorAlarmTimeDelay"), 3);
    for (QLineEdit* box : {txtAlarmReminderTimeDelay_, txtTwoStageDoorAlarmTimeDelay_}) {
        box->setProperty(kFilterProperty, int(KeyFilter::Digit));
        box->installEventFilter(this);
        box->setMaximumWidth(60);
    }
    auto* reminder = new QLabel(
        QStringLiteral("Alarm reminder time delay (min).  Enter a value from 1 to 255 minutes, or "
                       "0 to disable alarm reminder."),
        frmAlarmConfiguration_);
    reminder->setObjectName(QStringLiteral("lblAlarmReminderTimeDelay"));
    reminder->setWordWrap(true);
    reminder->setToolTip(
        QStringLiteral("After an alarm has been acknowledged, a new alarm will be generated "
                       "after this value (in minutes).    "));
    auto* twoStage = new QLabel(
        QStringLiteral("Two stage door alarm time delay.  Generate a full alarm after this time "
                       "delay (min).  Enter a value from 1 to 255 minutes, or 0 to disable two "
                       "stage alarm."),
        frmAlarmConfiguration_);
    twoStage->setWordWrap(true);
    layout->addWidget(txtAlarmReminderTimeDelay_, 2, 0);
    layout->addWidget(reminder, 2, 1);
    layout->addWidget(txtTwoStageDoorAlarmTimeDelay_, 3, 0);
    layout->addWidget(twoStage, 3, 1);
    layout->setColumnStretch(1, 1);
    return frmAlarmConfiguration_;
}

QGroupBox* PageWindow::BuildCalibration() {
    const bool zolo = window_ == Window::frmZolo;
    frmCal_ = new QGroupBox(QStringLiteral("Temperature Calibration"), this);
    frmCal_->setObjectName(QStringLiteral("frmCal"));
    auto* layout = new QGridLayout(frmCal_);
    auto* actual = new QLabel(QStringLiteral("Actual Temperature"), frmCal_);
    actual->setObjectName(QStringLiteral("lblCal(0)"));
    lblCalCorrection_ = new QLabel(QStringLiteral("Correction"), frmCal_);
    lblCalCorrection_->setObjectName(QStringLiteral("lblCal(1)"));
    layout->addWidget(actual, 0, 1);
    layout->addWidget(lblCalCorrection_, 0, 2);
    const int ports = Pages::CalibrationPorts(window_);
    for (int i = 0; i < ports; ++i) {
        auto* name = new QLabel(frmCal_);
        name->setObjectName(Indexed("lblName", i));
        lblName_ << name;
        txtActualTemp_ << Box(Indexed("txtActualTemp", i));
        txtActualTemp_.last()->setProperty(kFilterProperty, int(KeyFilter::SignedNumber));
        txtActualTemp_.last()->installEventFilter(this);
        txtCF_ << Box(Indexed("txtCF", i));
        txtActualTemp_.last()->setFixedWidth(100);
        txtCF_.last()->setFixedWidth(80);
        layout->addWidget(name, i + 1, 0);
        layout->addWidget(txtActualTemp_.last(), i + 1, 1);
        layout->addWidget(txtCF_.last(), i + 1, 2);
    }
    int row = ports + 1;
    if (window_ == Window::frmQX705) {
        frmQX705rev23_ = new QGroupBox(frmCal_);
        frmQX705rev23_->setObjectName(QStringLiteral("frmQX705rev23"));
        auto* rev = new QGridLayout(frmQX705rev23_);
        const QString captions[2] = {QStringLiteral("Erroneous Bit Change (bits)"),
                                     QStringLiteral("Number of Erroneous Readings")};
        for (int i = 0; i < 2; ++i) {
            txtCF_ << Box(Indexed("txtCF", 8 + i), 3);
            rev->addWidget(new QLabel(captions[i], frmQX705rev23_), i, 0);
            rev->addWidget(txtCF_.last(), i, 1);
        }
        layout->addWidget(frmQX705rev23_, row++, 0, 1, 3);
    }
    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, frmCal_);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* reset = button(
        "btnReset", zolo ? QStringLiteral("Clear Calibration Factors") : QStringLiteral("Reset"));
    QPushButton* store =
        button("btnStoreCalFactors", zolo ? QStringLiteral("Store Calibration Factors")
                                          : QStringLiteral("Store Correction Factors"));
    if (zolo) {
        QPushButton* cf = button("btnCF", QStringLiteral("CF"));
        connect(cf, &QPushButton::clicked, this, [this] { ShowCorrections(true); });
    }
    QPushButton* close = button("btnCloseCal", QStringLiteral("Close"));
    layout->addLayout(buttons, row, 0, 1, 3);
    connect(reset, &QPushButton::clicked, this, &PageWindow::ResetCalibration);
    connect(store, &QPushButton::clicked, this, &PageWindow::StoreCalibration);
    connect(close, &QPushButton::clicked, this, &PageWindow::CloseCalibration);
    frmCal_->hide();
    return frmCal_;
}

void PageWindow::ShowProgress(const QString& text) {
    lblStatus_->setText(text);
    lblStatus_->setVisible(!text.isEmpty());
}

void PageWindow::AddStatus(const QString& line) {
    lstStatus_->addItem(line);
    lstStatus_->scrollToBottom();
}

void PageWindow::Buttons(bool state) {
    for (QPushButton* b : {btnClose_, btnSave_, btnNotes_, btnRefresh_, btnCal_})
        if (b) b->setEnabled(state);
    if (btnCal_ && window_ == Window::frmQX705 && !session_.form.calibrationAllowed)
        btnCal_->setEnabled(false);
    if (frmCal_) frmCal_->setEnabled(state);
    if (state && transferring_) ++transfersDone_;
    transferring_ = !state;
}

void PageWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    if (QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    // The download starts once the window is on screen.
    QTimer::singleShot(0, this, &PageWindow::Activate);
}

void PageWindow::closeEvent(QCloseEvent* event) {
    // A transfer in progress finishes first; its window must outlive it.
    if (transferring_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void PageWindow::reject() {
    if (!transferring_) QDialog::reject();
}

bool PageWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return false;  // Backspace, arrows, ...
    const auto filter = KeyFilter(watched->property(kFilterProperty).toInt());
    for (const QChar c : text) {
        switch (filter) {
            case KeyFilter::SignedNumber:
                if (!Pages::SignedNumberKey(c)) return true;
                break;
            case KeyFilter::Digit:
                if (!Pages::DigitKey(c)) return true;
                break;
            case KeyFilter::Name:
                if (!Pages::NameKey(c)) {
                    Dialogs::Message(Pages::InvalidNameKeyMessage(c));
                    return true;
                }
                break;
            case KeyFilter::None:
                break;
        }
    }
    return false;
}

void PageWindow::Activate() {
    if (window_ == Window::frmZolo) {
        frmCal_->hide();
        frmNotes_->hide();
        frmAlarmConfiguration_->hide();
    }
    Buttons(false);
    lstStatus_->clear();
    Pages::GetLimits(session_);
    FormToWidgets();
    Buttons(true);
}

void PageWindow::Refresh() {
    if (window_ == Window::frmZolo) {
        Buttons(false);
        frmNotes_->hide();
    } else {
        frmNotes_->hide();
        btnNotes_->setText(QStringLiteral("Notes"));
        Buttons(false);
    }
    lstStatus_->clear();
    Pages::GetLimits(session_);
    FormToWidgets();
    Buttons(true);
}

void PageWindow::Save() {
    Buttons(false);
    lstStatus_->clear();
    WidgetsToForm();
    Pages::SaveLimits(session_);
    FormToWidgets();
    Buttons(true);
}

void PageWindow::ToggleNotes() {
    const bool show = frmNotes_->isHidden();
    // The notes take the calibration panel's place, as the panel takes theirs.
    if (show && frmCal_ && !frmCal_->isHidden()) CloseCalibration();
    frmNotes_->setVisible(show);
    btnNotes_->setText(show ? QStringLiteral("Hide") : QStringLiteral("Notes"));
    // The window widens for the frame rather than squeezing its boxes.
    if (show && sizeHint().width() > width()) resize(sizeHint().width(), height());
}

void PageWindow::OpenCalibration() {
    const int ports = Pages::CalibrationPorts(window_);
    for (int i = 0; i < ports; ++i) {
        const QString name = txtName_[i]->text();
        lblName_[i]->setText(name.isEmpty() ? QStringLiteral("Not Named") : name);
        txtActualTemp_[i]->clear();
    }
    // The panel covers the door rows' readings.
    for (int port = ports; port < txtReading_.size(); ++port) txtReading_[port]->hide();
    if (window_ == Window::frmZolo) ShowCorrections(false);
    frmNotes_->hide();
    frmCal_->show();
}

void PageWindow::CloseCalibration() {
    frmCal_->hide();
    for (QLineEdit* reading : txtReading_) reading->show();
}

void PageWindow::ShowCorrections(bool shown) {
    for (int i = 0; i < Pages::CalibrationPorts(window_); ++i) txtCF_[i]->setVisible(shown);
    lblCalCorrection_->setVisible(shown);
}

void PageWindow::StoreCalibration() {
    WidgetsToForm();
    Buttons(false);
    const bool stored = Pages::StoreCalFactors(session_);
    FormToWidgets();
    Buttons(true);
    if (stored && window_ == Window::frmZolo) Refresh();
}

void PageWindow::ResetCalibration() {
    WidgetsToForm();
    Buttons(false);
    Pages::ResetCalFactors(session_);
    FormToWidgets();
    Buttons(true);
}

void PageWindow::FormToWidgets() {
    const Pages::PageForm& f = session_.form;
    for (int port = 0; port < int(f.ports.size()) && port < txtName_.size(); ++port) {
        const Pages::PortBoxes& b = f.ports[size_t(port)];
        lblSensorType_[port]->setText(b.type);
        txtName_[port]->setText(b.name);
        txtLL_[port]->setText(b.lower);
        txtUL_[port]->setText(b.upper);
        txtTOL_[port]->setText(b.time);
        // Until the device has said whether it counts in tenths, a typed
        // limit could be stored ten times too small or large.
        const bool locked = Pages::LimitsLocked(session_);
        txtLL_[port]->setReadOnly(locked);
        txtUL_[port]->setReadOnly(locked);
        txtReading_[port]->setText(b.reading);
        txtReading_[port]->setCursorPosition(0);
        if (window_ == Window::frmZolo) txtReading_[port]->setToolTip(b.reading);
        txtNotes_[port]->setText(b.notes);
    }
    for (int j = 0; j < cmboNormalState_.size(); ++j)
        cmboNormalState_[j]->setCurrentIndex(f.normalState[size_t(j)]);
    if (relayGroup_) {
        SetOption(relayGroup_, optRelayLogic_, f.relayLogic);
        if (window_ == Window::frmQX705) relayBox_->setEnabled(f.relayOptionsEnabled);
    }
    if (frmAlarmConfiguration_) {
        SetOption(buzzerGroup_, optEnableBuzzer_, f.buzzer);
        txtAlarmReminderTimeDelay_->setText(f.reminderDelay);
        txtTwoStageDoorAlarmTimeDelay_->setText(f.twoStageDelay);
        frmAlarmConfiguration_->setVisible(f.alarmConfigurationVisible &&
                                           session_.alarmOptionsRead);
    }
    for (int i = 0; i < txtCF_.size(); ++i) {
        if (i < 8) {
            txtCF_[i]->setText(f.correction[size_t(i)]);
            txtActualTemp_[i]->setText(f.actualTemp[size_t(i)]);
        }
    }
    if (frmQX705rev23_) {
        txtCF_[8]->setText(f.erroneousBits);
        txtCF_[9]->setText(f.erroneousCount);
        frmQX705rev23_->setVisible(f.rev23Visible);
    }
    lstStatus_->clear();
    lstStatus_->addItems(f.status);
    lstStatus_->scrollToBottom();
}

void PageWindow::WidgetsToForm() {
    Pages::PageForm& f = session_.form;
    for (int port = 0; port < int(f.ports.size()) && port < txtName_.size(); ++port) {
        Pages::PortBoxes& b = f.ports[size_t(port)];
        b.name = txtName_[port]->text();
        b.lower = txtLL_[port]->text();
        b.upper = txtUL_[port]->text();
        b.time = txtTOL_[port]->text();
        b.reading = txtReading_[port]->text();
        b.notes = txtNotes_[port]->text();
    }
    for (int j = 0; j < cmboNormalState_.size(); ++j)
        f.normalState[size_t(j)] = cmboNormalState_[j]->currentIndex();
    if (relayGroup_) f.relayLogic = Option(optRelayLogic_);
    if (frmAlarmConfiguration_) {
        f.buzzer = Option(optEnableBuzzer_);
        f.reminderDelay = txtAlarmReminderTimeDelay_->text();
        f.twoStageDelay = txtTwoStageDoorAlarmTimeDelay_->text();
    }
    for (int i = 0; i < txtCF_.size() && i < 8; ++i) {
        f.correction[size_t(i)] = txtCF_[i]->text();
        f.actualTemp[size_t(i)] = txtActualTemp_[i]->text();
    }
    if (frmQX705rev23_) {
        f.erroneousBits = txtCF_[8]->text();
        f.erroneousCount = txtCF_[9]->text();
    }
}
