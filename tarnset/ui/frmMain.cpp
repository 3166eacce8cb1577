#include "tarnset/ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColor>
#include <QDesktopServices>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "common/Dialogs.h"
#include "tarnset/Link.h"
#include "tarnset/Procedures.h"
#include "tarnset/ui/frmAbout.h"
#include "tarnset/ui/frmContact.h"

namespace {

// The grid's column widths are in twips; 12 twips to the pixel leaves room
// for the bold headings with today's fonts.
constexpr int kTwipsPerPixel = 12;
constexpr int kColumnTwips[3] = {1000, 2000, 2000};
const QColor kActiveBorder(0xB4, 0xB4, 0xB4);  // the system's active-border grey
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kLightGreen(0xC0, 0xFF, 0xC0);

QPixmap ProductPicture() {
    QPixmap pixmap(96, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x30, 0x3A, 0x48));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(4, 14, 88, 40, 6, 6);
    p.setBrush(QColor(0x40, 0xD0, 0x60));
    p.drawEllipse(12, 24, 8, 8);
    p.setBrush(QColor(0xF0, 0xC0, 0x30));
    p.drawEllipse(24, 24, 8, 8);
    p.setPen(QColor(0xE0, 0xE0, 0xE0));
    p.setFont(QFont(QStringLiteral("Sans"), 8, QFont::Bold));
    p.drawText(QRect(4, 34, 88, 18), Qt::AlignCenter, QStringLiteral("CORVANE"));
    p.setBrush(QColor(0x80, 0x80, 0x80));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) p.drawRect(44 + 11 * i, 20, 7, 9);
    return pixmap;
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    auto* central = new QWidget(this);
    setCentralWidget(central);

    btnFindZolos = new QPushButton(QStringLiteral("Find all Corvane servers on the network"));
    btnFindZolos->setObjectName(QStringLiteral("btnFindZolos"));
    btnFindZolos->setMinimumHeight(56);
    QFont big = btnFindZolos->font();
    big.setPointSize(big.pointSize() + 3);
    big.setBold(true);
    btnFindZolos->setFont(big);

    Grid = new QTableWidget(0, 3);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->horizontalHeader()->hide();
    Grid->verticalHeader()->hide();
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setWordWrap(false);
    int gridWidth = 100 / kTwipsPerPixel;
    for (int c = 0; c < 3; ++c) {
        Grid->setColumnWidth(c, kColumnTwips[c] / kTwipsPerPixel);
        gridWidth += kColumnTwips[c] / kTwipsPerPixel;
    }
    Grid->setFixedWidth(gridWidth + 2 * Grid->frameWidth());
    Grid->setMinimumHeight(180);
    QPalette gridPalette = Grid->palette();
    gridPalette.setColor(QPalette::Highlight, kYellow);
    gridPalette.setColor(QPalette::HighlightedText, Qt::black);
    Grid->setPalette(gridPalette);

    auto* octetBox = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit;
        box->setObjectName(QStringLiteral("txtIPOctets_%1").arg(i));
        box->setMaxLength(3);
        box->setFixedWidth(44);
        box->setAlignment(Qt::AlignCenter);
        // Pasted text obeys the same rule as typed keys.
        box->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,3}")), box));
        box->installEventFilter(this);
        connect(box, &QLineEdit::textChanged, this, [this, i] { OnOctetChanged(i); });
        txtIPOctets[size_t(i)] = box;
        octetBox->addWidget(box);
        if (i < 3) octetBox->addWidget(new QLabel(QStringLiteral(".")));
    }
    octetBox->addStretch();

    btnSetIP = new QPushButton(QStringLiteral("Set the selected server's IP address to   >>>"));
    btnSetIP->setObjectName(QStringLiteral("btnSetIP"));
    btnSetIP->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; padding: 6px; }")
                                .arg(kLightGreen.name()));

    auto* addressGroup = new QVBoxLayout;
    addressGroup->addWidget(new QLabel(QStringLiteral("Enter the Static IP Address")));
    addressGroup->addLayout(octetBox);
    auto* setRow = new QHBoxLayout;
    setRow->addWidget(btnSetIP);
    setRow->addLayout(addressGroup);

    auto* details = new QGroupBox;
    auto* detailsLayout = new QGridLayout(details);
    const char* captions[3] = {"Your IP Address", "Your Subnet Mask", "You Gateway Address"};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel;
        label->setObjectName(QStringLiteral("NetworkDetails_%1").arg(i));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setMinimumWidth(120);
        NetworkDetails[size_t(i)] = label;
        detailsLayout->addWidget(new QLabel(QString::fromLatin1(captions[i])), i, 0);
        detailsLayout->addWidget(label, i, 1);
    }

    Picture1 = new QLabel;
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(ProductPicture());

    txtDebug = new QLineEdit;
    txtDebug->setObjectName(QStringLiteral("txtDebug"));
    txtDebug->setReadOnly(true);
    ProgressBar = new QProgressBar;
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    lstdebug = new QListWidget;
    lstdebug->setObjectName(QStringLiteral("lstdebug"));
    lstByte = new QListWidget;
    lstByte->setObjectName(QStringLiteral("lstByte"));
    lstByte->setFixedWidth(110);
    lstdebug->setMaximumHeight(110);
    lstByte->setMaximumHeight(110);

    auto* right = new QVBoxLayout;
    auto* topRight = new QHBoxLayout;
    topRight->addWidget(details);
    topRight->addWidget(Picture1);
    right->addLayout(topRight);
    right->addLayout(setRow);
    right->addStretch();
    auto* middle = new QHBoxLayout;
    middle->addWidget(Grid);
    middle->addLayout(right);
    auto* lists = new QHBoxLayout;
    lists->addWidget(lstdebug);
    lists->addWidget(lstByte);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(btnFindZolos);
    layout->addLayout(middle);
    layout->addWidget(txtDebug);
    layout->addWidget(ProgressBar);
    layout->addLayout(lists);

    QMenu* advanced = menuBar()->addMenu(QStringLiteral("&Advanced"));
    mnuAdvancedNetwork = advanced->addAction(QStringLiteral("Set IP, Gateway, Subnet via Web"));
    mnuAdvancedNetwork->setObjectName(QStringLiteral("mnuAdvancedNetwork"));
    mnuManual = advanced->addAction(QStringLiteral("Manually Set IP"));
    mnuManual->setObjectName(QStringLiteral("mnuManual"));
    mnuDHCP = advanced->addAction(QStringLiteral("Set Server to DHCP Mode"));
    mnuDHCP->setObjectName(QStringLiteral("mnuDHCP"));
    mnuTestCommunications = advanced->addAction(QStringLiteral("Test Communications"));
    mnuTestCommunications->setObjectName(QStringLiteral("mnuTestCommunications"));
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuCopyMAC = edit->addAction(QStringLiteral("&Copy MAC"));
    mnuCopyMAC->setObjectName(QStringLiteral("mnuCopyMAC"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuContact = help->addAction(QStringLiteral("&Contact"));
    mnuContact->setObjectName(QStringLiteral("mnuContact"));
    mnuAbout = help->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    connect(btnFindZolos, &QPushButton::clicked, this,
            [this] { RunProcedure([] { Procedures::Discover(); }); });
    connect(btnSetIP, &QPushButton::clicked, this, [this] {
        QStringList octets;
        for (QLineEdit* box : txtIPOctets) octets << box->text();
        const QString current = CurrentCell();
        RunProcedure([&] { Procedures::SetStaticAddress(current, octets); });
    });
    connect(Grid, &QTableWidget::cellClicked, this, &frmMain::OnGridClick);
    connect(lstdebug, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { txtDebug->setText(item->text()); });
    connect(mnuAdvancedNetwork, &QAction::triggered, this,
            [this] { Procedures::OpenWebPage(CurrentCell()); });
    connect(mnuManual, &QAction::triggered, this,
            [this] { RunProcedure([] { Procedures::ManualSetAddress(); }); });
    connect(mnuDHCP, &QAction::triggered, this, [this] {
        const int row = currentRow_;
        const QString address = CurrentCell();
        RunProcedure([&] { Procedures::ResetToDhcp(row, address); });
    });
    connect(mnuTestCommunications, &QAction::triggered, this, [this] {
        const QString selected = mnuAdvancedNetwork->isEnabled() ? CurrentCell() : QString();
        RunProcedure([&] { Procedures::TestCommunication(selected); });
    });
    connect(mnuCopyMAC, &QAction::triggered, this, &frmMain::CopyMac);
    connect(mnuContact, &QAction::triggered, this, [this] {
        frmContact box(this);
        box.exec();
        Activate();
    });
    connect(mnuAbout, &QAction::triggered, this, [this] {
        frmAbout box(this);
        box.exec();
        Activate();
    });
    // Coming back from another program counts as an activation; the
    // program's own message boxes do not.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive && activated_) Activate();
    });

    // Load.
    txtDebug->clear();
    ResetList();
    SetRowItemsEnabled(false);
    Link::SetRunning(true);
    Link::SetView(this);
    // Centred by the size the layout gives it, which may be wider than the
    // size asked for, so that it stays on a small screen.
    if (QLayout* own = QMainWindow::layout()) own->activate();
    resize(QSize(760, 560).expandedTo(minimumSizeHint()));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(size().boundedTo(area.size()));
        move(area.x() + std::max(0, (area.width() - width()) / 2),
             area.y() + std::max(0, (area.height() - height()) / 2));
    }
}

frmMain::~frmMain() {
    Link::SetRunning(false);
    if (Link::View() == this) Link::SetView(nullptr);
}

template <class F>
void frmMain::RunProcedure(F procedure) {
    if (Link::Busy()) return;
    for (QAction* a : {mnuManual, mnuTestCommunications}) a->setEnabled(false);
    btnFindZolos->setEnabled(false);
    inProcedure_ = true;
    procedure();
    inProcedure_ = false;
    if (!Link::Running()) return;  // the window is closing
    for (QAction* a : {mnuManual, mnuTestCommunications}) a->setEnabled(true);
    btnFindZolos->setEnabled(true);
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!activated_) {
        activated_ = true;
        Activate();
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Ends any running wait; the procedure then returns to an idle window.
    Link::SetRunning(false);
    QMainWindow::closeEvent(event);
}

void frmMain::Activate() {
    if (Link::Busy()) return;
    SetStatus(
        QStringLiteral("Click the large button to find all of the Corvane servers on the "
                       "network"));
    SetStatusColour(Tarnset::StatusColour::Normal);
    setWindowTitle(QStringLiteral("Corvane Tarnset ") + QStringLiteral(TARNSET_VERSION));
    Procedures::ShowNetworkDetails();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        for (QLineEdit* box : txtIPOctets) {
            if (watched != box) continue;
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            // Character keys other than digits and backspace are dropped;
            // Tab, arrows and the like carry no character and pass.
            if (!text.isEmpty() && text[0].isPrint() && !text[0].isDigit()) return true;
            if (!text.isEmpty() && text[0].isDigit() && text[0].unicode() > '9') return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::OnOctetChanged(int index) {
    if (index < 3 && txtIPOctets[size_t(index)]->text().size() == 3 &&
        txtIPOctets[size_t(index)]->hasFocus()) {
        txtIPOctets[size_t(index) + 1]->setFocus();
    }
}

void frmMain::OnGridClick(int row, int column) {
    txtDebug->clear();
    if (column != 1 || row < 1) {
        // Only an address cell chooses the device that the green button and
        // the menus act on; the highlight goes back to that one.
        if (currentRow_ > 0)
            Grid->setCurrentCell(currentRow_, 1);
        else
            Grid->clearSelection();
        return;
    }
    currentRow_ = row;
    Grid->setCurrentCell(row, 1);
    SetStatus(
        QStringLiteral("Enter the new IP address and click on the green button to send "
                       "the new IP address to this Corvane server."));
    FocusOctet(3);
    btnSetIP->setEnabled(true);
    SetRowItemsEnabled(true);
}

QString frmMain::CurrentCell() const {
    const QTableWidgetItem* item = Grid->item(currentRow_, 1);
    return item ? item->text() : QString();
}

void frmMain::CopyMac() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    const QTableWidgetItem* item = Grid->item(currentRow_, 2);
    Grid->setCurrentCell(currentRow_, 2);
    clipboard->setText(item ? item->text() : QString());
    Grid->setCurrentCell(currentRow_, 1);
}

void frmMain::SetFindEnabled(bool enabled) {
    // A discovery inside a longer procedure ends before the procedure does.
    btnFindZolos->setEnabled(enabled && !inProcedure_);
}

void frmMain::SetSetIpEnabled(bool enabled) {
    btnSetIP->setEnabled(enabled);
}

void frmMain::SetRowItemsEnabled(bool enabled) {
    mnuDHCP->setEnabled(enabled);
    mnuAdvancedNetwork->setEnabled(enabled);
}

void frmMain::ResetList() {
    Grid->clearContents();
    Grid->setRowCount(2);
    const char* headings[3] = {"Device #", "IP Address", "MAC Address"};
    QFont bold = Grid->font();
    bold.setBold(true);
    for (int c = 0; c < 3; ++c) {
        auto* item = new QTableWidgetItem(QString::fromLatin1(headings[c]));
        item->setFont(bold);
        item->setTextAlignment(Qt::AlignCenter);
        item->setBackground(QColor(0xE0, 0xE0, 0xE0));
        Grid->setItem(0, c, item);
    }
    currentRow_ = 0;
    nextRow_ = 1;
}

void frmMain::AddListRow(const QString& number, const QString& address, const QString& mac) {
    const int row = nextRow_++;
    if (Grid->rowCount() < row + 1) Grid->setRowCount(row + 1);
    const QString texts[3] = {number, address, mac};
    for (int c = 0; c < 3; ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        Grid->setItem(row, c, item);
    }
}

void frmMain::HighlightAddress(int row) {
    if (QTableWidgetItem* item = Grid->item(row, 1)) item->setBackground(kYellow);
}

void frmMain::ClearDebug() {
    lstdebug->clear();
}

void frmMain::AddDebug(const QString& line) {
    lstdebug->addItem(line);
}

void frmMain::SetRecord(const QStringList& bytes, const QString& dump) {
    lstByte->clear();
    lstByte->addItems(bytes);
    lstdebug->addItem(dump);
}

void frmMain::SetStatus(const QString& text) {
    txtDebug->setText(text);
    txtDebug->setCursorPosition(0);
}

void frmMain::SetWindowStatus(const QString& text) {
    SetStatus(text);
}

void frmMain::ShowResult(const QString& text) {
    Dialogs::Message(text, Dialogs::Buttons::Ok, Dialogs::Icon::Information);
}

void frmMain::SetStatusColour(Tarnset::StatusColour colour) {
    const QColor c = colour == Tarnset::StatusColour::Red ? kRed : kActiveBorder;
    txtDebug->setStyleSheet(QStringLiteral("QLineEdit { background-color: %1; }").arg(c.name()));
}

void frmMain::SetProgressMaximum(int maximum) {
    ProgressBar->setRange(0, maximum);
}

void frmMain::SetProgressValue(int value) {
    ProgressBar->setValue(qMin(value, ProgressBar->maximum()));
}

QString frmMain::NetworkDetail(int index) const {
    return NetworkDetails[size_t(index)]->text();
}

void frmMain::SetNetworkDetail(int index, const QString& text) {
    NetworkDetails[size_t(index)]->setText(text);
}

void frmMain::SetOctet(int index, const QString& text) {
    txtIPOctets[size_t(index)]->setText(text);
}

void frmMain::FocusOctet(int index) {
    txtIPOctets[size_t(index)]->setFocus();
}

bool frmMain::OpenUrl(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}
