// The registry window used as a user uses it: clicks on the menus, the
// buttons and the tree's nodes, right clicks through the context menu, typed
// keys, against simulated devices and a real database. Each test checks what
// the user would lose: rows of tblServers, bytes of a device's name page,
// the downloaded log file.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <map>

#include "core/DeviceLink.h"
#include "core/Settings.h"
#include "registry/ui/frmTreeConfiguration.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SimDevices.h"
#include "support/ui/FitsScreen.h"

class RegistryUserTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        SKIP_IF_PORTS_HELD(LoopbackTcp10001());
        ProvisionDatabase();
        ConfigParameters.TCPTimeOut = 2;
        DeviceLink::CurrentWindow = Window::frmTreeConfiguration;
    }
    void TearDown() override {
        window.reset();
        devices.clear();
        FernlogTest::TearDown();
    }
    devsim::Device* AddDevice(const char* address, devsim::Model model, const QString& name,
                              std::optional<quint16> build = {}) {
        devsim::DeviceConfig config;
        config.address = QHostAddress(QString::fromLatin1(address));
        config.model = model;
        config.build = build;
        config.name = name;
        return &devices.Start(config);
    }
    void Register(const QString& name, const QString& address, int enabled = 1,
                  const QString& emails = QLatin1String("")) {
        Registration row;
        row.model = "Stored model";
        row.enabled = enabled;
        row.password = "****";
        row.emails = emails;
        row.comm = enabled ? -1 : 0;
        ASSERT_NE(devices.Register(name, address, row), 0);
    }
    void Open() {
        window = std::make_unique<frmTreeConfiguration>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // What the user does.
    void Click(QWidget* widget) {
        ASSERT_TRUE(widget->isVisible()) << widget->objectName().toStdString();
        ASSERT_TRUE(widget->isEnabled()) << widget->objectName().toStdString();
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    QTreeWidgetItem* Node(qint64 id) const {
        return id < 0 ? window->ServerTree->topLevelItem(0) : window->NodeForServer(id);
    }
    QPoint At(QTreeWidgetItem* node) const {
        return window->ServerTree->visualItemRect(node).center();
    }
    void ClickNode(qint64 id) {
        QTreeWidgetItem* node = Node(id);
        ASSERT_NE(node, nullptr) << id;
        QTest::mouseClick(window->ServerTree->viewport(), Qt::LeftButton, {}, At(node));
    }
    // The right button goes down on the node, the system asks for the
    // context menu, the button comes up: the pop-up menu is open.
    void RightClickNode(qint64 id) {
        QTreeWidgetItem* node = Node(id);
        ASSERT_NE(node, nullptr) << id;
        QWidget* viewport = window->ServerTree->viewport();
        const QPoint at = At(node);
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
        ASSERT_TRUE(window->mnuPopUp->isVisible());
    }
    void Choose(QMenu* menu, QAction* action) {
        ASSERT_TRUE(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    }
    void PopUp(qint64 id, QAction* action) {
        RightClickNode(id);
        Choose(window->mnuPopUp, action);
    }
    void MenuBar(QAction* action) {
        QTest::mouseClick(window->menuBar, Qt::LeftButton, {},
                          window->menuBar->actionGeometry(action).center());
    }
    void AddNewServer() { MenuBar(window->mnuAdd); }
    void EditSelected() {
        MenuBar(window->mnuEdit->menuAction());
        Choose(window->mnuEdit, window->mnuEditServer);
    }
    // Replaces the field's text as typed: select all, then the keys.
    void Type(QLineEdit* field, const QString& text) {
        ASSERT_TRUE(field->isVisible()) << field->objectName().toStdString();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        for (QChar c : text) {
            // keyClicks cannot send characters beyond ASCII.
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        ASSERT_EQ(field->text(), text);
    }
    // A check box is clicked on its box, at its left end.
    void ClickBox(QCheckBox* box) {
        ASSERT_TRUE(box->isVisible()) << box->objectName().toStdString();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }
    void SetEnabledBox(bool checked) {
        if (window->chkEnable->isChecked() != checked) ClickBox(window->chkEnable);
        ASSERT_EQ(window->chkEnable->isChecked(), checked);
    }

    QStringList Servers() const {
        return Rows(
            "SELECT IDNum, ServerName, ServerIPAddress, ServerNotes, Enabled, Comm, EmailAddress "
            "FROM tblServers ORDER BY IDNum");
    }
    static QByteArray PageName(devsim::Device* d, int page) { return d->page(page).mid(8, 20); }
    QStringList GridRow(int row) const {
        QStringList texts;
        QAbstractItemModel* model = window->gridLog->model();
        for (int c = 0; c < model->columnCount(); ++c)
            texts << model->index(row, c).data().toString();
        return texts;
    }

    SimDevices devices;
    std::unique_ptr<frmTreeConfiguration> window;
};

// A click in the tree selects a node; the frame that is open still belongs
// to the server it was opened for, and Save and the e-mail list act on that one.
TEST_F(RegistryUserTest, SaveAndTheEmailListActOnTheServerOfTheOpenFrame) {
    devsim::Device* kitchen = AddDevice("127.0.0.2", devsim::Model::QX700_8, "Kitchen");
    devsim::Device* pantry = AddDevice("127.0.0.3", devsim::Model::QX700_8, "Pantry");
    Register("Kitchen", "127.0.0.2", 1, "chef@x.test,");
    Register("Pantry", "127.0.0.3", 1, "store@x.test,");
    Open();
    DialogScript dialogs;
    const QStringList before = Servers();

    AddNewServer();
    Type(window->txtServerName, "Cellar");
    Type(window->txtServerIPAddress, "127.0.0.42");
    SetEnabledBox(false);
    ClickNode(1);
    Click(window->btnSaveServer);
    EXPECT_EQ(Servers(), before + QStringList{"3|Cellar|127.0.0.42||0|0|"});

    ClickNode(1);
    EditSelected();
    ASSERT_EQ(window->frmSetupServer->title(), "Edit: Kitchen");
    Type(window->txtServerNotes, "by the back door");
    ClickNode(2);
    Click(window->btnSaveServer);
    EXPECT_EQ(Servers(),
              QStringList({"1|Kitchen|127.0.0.2|by the back door|1|-1|chef@x.test,",
                           "2|Pantry|127.0.0.3||1|-1|store@x.test,", "3|Cellar|127.0.0.42||0|0|"}));
    EXPECT_EQ(PageName(kitchen, 2), "Kitchen             ");
    EXPECT_EQ(PageName(pantry, 2), "Pantry              ");

    Click(window->btnServerEmailAddresses);
    ASSERT_EQ(window->frmSetupEmail->title(), "Add email addresses for: Kitchen");
    ClickNode(2);
    Type(window->txtEmailAddr, "cook@x.test");
    Click(window->btnAddEmail);
    ClickNode(3);
    Click(window->btnSaveEmail);
    EXPECT_EQ(Rows("SELECT EmailAddress FROM tblServers ORDER BY IDNum"),
              QStringList({"chef@x.test,cook@x.test,", "store@x.test,", ""}));
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
}

// Every command of the pop-up menu acts on the node under the pointer,
// whichever node was clicked before.
TEST_F(RegistryUserTest, PopUpCommandsActOnTheRightClickedNode) {
    Register("Kitchen", "127.0.0.8");
    Register("Cellar", "127.0.0.9");
    Open();
    DialogScript dialogs;

    ClickNode(1);
    PopUp(2, window->mnuSensorPopUp);
    ClickNode(2);
    PopUp(1, window->mnuServerPopUp);
    EXPECT_EQ(window->frmSetupServer->title(), "Edit: Kitchen");
    dialogs.Answer(Dialogs::Answer::Ok);
    PopUp(2, window->mnuDeleteServerPopUp);
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Kitchen"});
    EXPECT_EQ(dialogs.Texts(), QStringList({"The was an error communicating with the server at IP "
                                            "address127.0.0.9.  Please try again.",
                                            "Delete Cellar               @ IP 127.0.0.9?",
                                            "Server has been deleted"}));
}

// The arrow keys select a node as a click does: Edit > Sensors opens the
// configuration window of the highlighted device.
TEST_F(RegistryUserTest, KeyboardSelectionIsWhatTheMenuActsOn) {
    AddDevice("127.0.0.2", devsim::Model::QX740, "Kitchen");
    AddDevice("127.0.0.3", devsim::Model::QX700_8, "Pantry");
    AddDevice("127.0.0.4", devsim::Model::Zolo603, "Pharmacy");
    Register("Kitchen", "127.0.0.2");
    Register("Pantry", "127.0.0.3");
    Register("Pharmacy", "127.0.0.4");
    Open();
    DialogScript dialogs;
    ClickNode(1);
    QTest::keyClick(window->ServerTree, Qt::Key_Down);
    QTest::keyClick(window->ServerTree, Qt::Key_Down);
    ASSERT_EQ(window->ServerTree->currentItem(), Node(3));
    QStringList opened;
    // A window that refuses to close while its download runs is met again
    // on a later tick: it counts once.
    QPointer<QWidget> last;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != window.get() && modal->isVisible()) {
            if (modal != last)
                opened << modal->objectName() + QLatin1Char(' ') + modal->windowTitle();
            last = modal;
            modal->close();
        }
    });
    watch.start(50);
    MenuBar(window->mnuEdit->menuAction());
    Choose(window->mnuEdit, window->mnuEditSensors);
    watch.stop();
    ASSERT_EQ(opened.size(), 1) << opened.join('\n').toStdString();
    EXPECT_TRUE(opened[0].startsWith("frmZolo ")) << opened[0].toStdString();
    EXPECT_TRUE(opened[0].contains("Pharmacy")) << opened[0].toStdString();
}

// A busy device's answer to the download is no log: the file and the kept
// bytes of the last good download stay.
TEST_F(RegistryUserTest, BusyLogDownloadKeepsTheLastLog) {
    devsim::Device* zolo = AddDevice("127.0.0.2", devsim::Model::Zolo605, "Pharmacy");
    for (int i = 0; i < 3; ++i) zolo->appendLogRecord();
    Register("Pharmacy", "127.0.0.2");
    Open();
    DialogScript dialogs;
    PopUp(1, window->mnuServerPopUp);
    Click(window->btnGetLogFile);
    const QString bin = FilePath("LastDownloadedDataLogFile.bin");
    ASSERT_EQ(ReadAll(bin), zolo->log());
    const QStringList firstRow = GridRow(0);

    zolo->appendLogRecord();
    zolo->appendLogRecord();
    Click(window->btnRefresh);
    ASSERT_EQ(window->txtNR->text(), "55");
    devsim::FaultSettings busy;
    busy.fault = devsim::Fault::Busy;
    busy.onlyCommand = devsim::cmd::ReadLog;
    zolo->setFault(busy);
    const QByteArray kept = ReadAll(bin);
    Click(window->btnGetLogFile);
    EXPECT_EQ(window->lblServerError->text(),
              "Failure while downloading log records from Pharmacy");
    EXPECT_FALSE(window->btnExportLog->isVisible());
    EXPECT_EQ(ReadAll(bin), kept);
    Click(window->Command2);
    ASSERT_EQ(window->gridLog->model()->rowCount(), 3);
    EXPECT_EQ(GridRow(0), firstRow);
}

// A log-parameter read that fails says so, and without a log size no
// download is made: neither the device nor the file is touched.
TEST_F(RegistryUserTest, UnknownOrEmptyLogIsNotDownloaded) {
    devsim::Device* zolo = AddDevice("127.0.0.2", devsim::Model::Zolo605, "Pharmacy");
    zolo->appendLogRecord();
    devsim::FaultSettings noEcho;
    noEcho.fault = devsim::Fault::WrongEcho;
    noEcho.onlyCommand = devsim::cmd::Log02;
    zolo->setFault(noEcho);
    Register("Pharmacy", "127.0.0.2");
    const QString bin = FilePath("LastDownloadedDataLogFile.bin");
    {
        QFile file(bin);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("an earlier log");
    }
    Open();
    DialogScript dialogs;
    PopUp(1, window->mnuServerPopUp);
    ASSERT_TRUE(window->frmDateTime->isVisible());
    EXPECT_EQ(window->txtDT->text(), "Failed to read date and time from 127.0.0.2");
    EXPECT_EQ(window->txtNR->text(), "");
    Click(window->btnGetLogFile);
    EXPECT_EQ(window->lblServerError->text(),
              "The number of log records of Pharmacy is not known.  Click Refresh to read it "
              "from the device.");

    zolo->clearFault();
    zolo->clearLog();
    Click(window->btnRefresh);
    ASSERT_EQ(window->txtNR->text(), "0");
    Click(window->btnGetLogFile);
    EXPECT_EQ(window->lblServerError->text(), "Pharmacy has no log records to download.");
    EXPECT_EQ(zolo->requestCount(devsim::cmd::ReadLog), 0);
    EXPECT_EQ(ReadAll(bin), "an earlier log");
    EXPECT_EQ(window->gridLog->model()->rowCount(), 0);
}

// Decode shows the kept log only under the server it came from.
TEST_F(RegistryUserTest, DecodeShowsNoOtherServersLog) {
    devsim::Device* a = AddDevice("127.0.0.2", devsim::Model::Zolo605, "Pharmacy");
    devsim::Device* b = AddDevice("127.0.0.3", devsim::Model::Zolo605, "Lab");
    for (int i = 0; i < 3; ++i) a->appendLogRecord();
    b->appendLogRecord();
    Register("Pharmacy", "127.0.0.2");
    Register("Lab", "127.0.0.3");
    Open();
    DialogScript dialogs;
    PopUp(1, window->mnuServerPopUp);
    Click(window->btnGetLogFile);
    ASSERT_EQ(window->gridLog->model()->rowCount(), 3);

    PopUp(2, window->mnuServerPopUp);
    devsim::FaultSettings cut;
    cut.fault = devsim::Fault::CloseMidAnswer;
    cut.onlyCommand = devsim::cmd::ReadLog;
    b->setFault(cut);
    Click(window->btnGetLogFile);
    ASSERT_EQ(window->lblServerError->text(), "Failure while downloading log records from Lab");
    Click(window->Command2);
    EXPECT_EQ(window->frmDateTime->title(), "Data Log Parameters for Lab");
    EXPECT_EQ(window->gridLog->model()->rowCount(), 0);

    // Back on the first server its log is there to decode again.
    PopUp(1, window->mnuServerPopUp);
    Click(window->Command2);
    EXPECT_EQ(window->gridLog->model()->rowCount(), 3);
}

// The name goes to the device in its code page, as the configuration
// windows write names; a name it cannot hold is refused, naming the box.
TEST_F(RegistryUserTest, NameReachesTheDeviceInItsCodePage) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX700_8, "Factory name");
    Open();
    DialogScript dialogs;
    AddNewServer();
    Type(window->txtServerName, QString::fromUtf8("Küche €5"));
    Type(window->txtServerIPAddress, "127.0.0.2");
    Click(window->btnSaveServer);
    EXPECT_EQ(PageName(d, 2), QByteArray("K\xFC"
                                         "che \x80"
                                         "5            "));
    PopUp(1, window->mnuServerPopUp);
    EXPECT_EQ(window->txtServerName->text(), QString::fromUtf8("Küche €5"));

    const QByteArray page = d->page(2);
    Type(window->txtServerName, QString::fromUtf8("Kühlraum Ω"));
    Click(window->btnSaveServer);
    EXPECT_EQ(d->page(2), page);
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"),
              QStringList{QString::fromUtf8("Küche €5")});
    EXPECT_EQ(dialogs.Texts(),
              QStringList{QString::fromUtf8("The Server Name (\"Kühlraum Ω\") has characters the "
                                            "device cannot store.")});
}

// An edited server cannot take another server's address; its own is fine.
TEST_F(RegistryUserTest, EditedAddressMustNotBeAnotherServers) {
    Register("Kitchen", "127.0.0.8", 0);
    Register("Cellar", "127.0.0.9", 0);
    Open();
    DialogScript dialogs;
    PopUp(2, window->mnuServerPopUp);
    Type(window->txtServerIPAddress, "127.0.0.8");
    Click(window->btnSaveServer);
    Type(window->txtServerIPAddress, "127.0.0.9");
    Type(window->txtServerNotes, "under the stairs");
    Click(window->btnSaveServer);
    EXPECT_EQ(Servers(), QStringList({"1|Kitchen|127.0.0.8||0|0|",
                                      "2|Cellar|127.0.0.9|under the stairs|0|0|"}));
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The IP address 127.0.0.8 is currently being used by Kitchen.  Please "
                          "enter a unique IP address."});
}

// A transaction abandoned when the program stopped leaves no connection
// behind: after the reset between runs, every exchange with the device is
// again on a connection of its own.
TEST_F(RegistryUserTest, AbandonedTransactionLeavesNoConnectionBehind) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX700_8, "Kitchen");
    d->setFault(devsim::Fault::Silent);
    Open();
    DialogScript dialogs;
    AddNewServer();
    Type(window->txtServerName, "Kitchen");
    Type(window->txtServerIPAddress, "127.0.0.2");
    QTimer::singleShot(300, [] { DeviceLink::ProgramRunning = false; });
    Click(window->btnSaveServer);
    ASSERT_FALSE(window->isVisible());

    window.reset();
    ResetFernlogState();
    DeviceLink::CurrentWindow = Window::frmTreeConfiguration;
    ConfigParameters.TCPTimeOut = 2;
    d->clearFault();
    d->resetCounters();
    Open();
    AddNewServer();
    Type(window->txtServerName, "Kitchen");
    Type(window->txtServerIPAddress, "127.0.0.2");
    Click(window->btnSaveServer);
    EXPECT_EQ(Servers(), QStringList{"1|Kitchen|127.0.0.2||1|-1|"});
    EXPECT_EQ(d->requestCount(), 3);  // identification, name page, page store
    EXPECT_EQ(d->connectionCount(), 3);
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
}

// A few hundred random user actions with a fixed seed. After each, every
// row of tblServers holds what the user last saved for that server (the
// frame's fields when Save was clicked, stored for the server the frame was
// opened for) and no other row has changed.
TEST_F(RegistryUserTest, RandomSequenceChangesOnlyWhatWasSaved) {
    // Devices answer on the first three addresses only.
    const QStringList addresses{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5",
                                "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"};
    for (int i = 0; i < 3; ++i) {
        AddDevice(qPrintable(addresses[i]), devsim::Model::QX700_8,
                  QStringLiteral("Device %1").arg(i));
    }
    const QStringList names{"Kitchen", "Cellar", "Pantry", "Lab", "Boiler", "Attic", ""};
    const QStringList notes{"", "north wall", "by the door"};

    struct Row {
        QString name, ip, notes;
        int enabled = 0, comm = 0;
        QString email;
    };
    std::map<qint64, Row> expected;
    Register("Kitchen", "127.0.0.2", 0);
    Register("Cellar", "127.0.0.5", 0);
    expected[1] = {"Kitchen", "127.0.0.2", "", 0, 0, ""};
    expected[2] = {"Cellar", "127.0.0.5", "", 0, 0, ""};
    const auto rendered = [&] {
        QStringList rows;
        for (const auto& [id, r] : expected) {
            rows << QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                        .arg(id)
                        .arg(r.name, r.ip, r.notes)
                        .arg(r.enabled)
                        .arg(r.comm)
                        .arg(r.email);
        }
        return rows;
    };

    Open();
    DialogScript dialogs;
    QRandomGenerator random(21);
    enum class Owner { None, Adding, Editing };
    Owner owner = Owner::None;
    qint64 ownerId = -1;
    qint64 selected = -1;
    int emails = 0, stored = 0;
    QStringList trail;
    const auto pickNode = [&]() -> qint64 {
        const int n = static_cast<int>(expected.size());
        const int k = random.bounded(n + 1);
        if (k == n) return -1;  // the root
        return std::next(expected.begin(), k)->first;
    };
    const auto openedFor = [&](qint64 id) {
        // Edit of a server node opens its frame; of the root, nothing.
        if (id >= 0) {
            owner = Owner::Editing;
            ownerId = id;
        }
    };

    for (int step = 0; step < 400; ++step) {
        const bool frameShown = window->frmSetupServer->isVisible();
        // Percentages: clicks, pop-up commands, Add, Edit, typing, the
        // Enable box, Save, the e-mail list or Close. Commands of the
        // server frame while none is shown become an Add.
        static constexpr int kBounds[] = {10, 20, 26, 30, 42, 50, 70, 75, 95, 100};
        const int roll = random.bounded(100);
        int action = 0;
        while (roll >= kBounds[action]) ++action;
        if (action >= 6 && !frameShown) action = 4;
        switch (action) {
            case 0: {  // click a node
                selected = pickNode();
                trail << QStringLiteral("click %1").arg(selected);
                ClickNode(selected);
                if (selected < 0) owner = Owner::None;
                break;
            }
            case 1: {  // right click, Edit Server
                selected = pickNode();
                trail << QStringLiteral("pop-up edit %1").arg(selected);
                PopUp(selected, window->mnuServerPopUp);
                if (selected < 0) owner = Owner::None;
                openedFor(selected);
                break;
            }
            case 2: {  // right click, Delete Server, OK or Cancel
                selected = pickNode();
                const bool ok = random.bounded(2) == 0;
                trail << QStringLiteral("pop-up delete %1 %2")
                             .arg(selected)
                             .arg(ok ? "OK" : "Cancel");
                if (selected >= 0)
                    dialogs.Answer(ok ? Dialogs::Answer::Ok : Dialogs::Answer::Cancel);
                PopUp(selected, window->mnuDeleteServerPopUp);
                if (selected < 0) {
                    owner = Owner::None;
                } else if (ok) {
                    expected.erase(selected);
                    selected = -1;
                    owner = Owner::None;
                }
                break;
            }
            case 3:  // right click and change one's mind
                selected = pickNode();
                trail << QStringLiteral("pop-up dismissed %1").arg(selected);
                RightClickNode(selected);
                QTest::keyClick(window->mnuPopUp, Qt::Key_Escape);
                if (selected < 0) owner = Owner::None;
                break;
            case 4: {  // Add New Server, and a name and an address typed
                const QString name = names[random.bounded(static_cast<int>(names.size()))];
                const QString ip = addresses[random.bounded(static_cast<int>(addresses.size()))];
                trail << QStringLiteral("Add New Server '%1' %2").arg(name, ip);
                AddNewServer();
                owner = Owner::Adding;
                Type(window->txtServerName, name);
                Type(window->txtServerIPAddress, ip);
                if (random.bounded(2) == 0) ClickBox(window->chkEnable);
                break;
            }
            case 5:
                trail << QStringLiteral("Edit > Server (%1)").arg(selected);
                EditSelected();
                openedFor(selected);
                break;
            case 6: {  // type into a field
                const int field = random.bounded(3);
                QLineEdit* box = field == 0   ? window->txtServerName
                                 : field == 1 ? window->txtServerIPAddress
                                              : window->txtServerNotes;
                const QStringList& pool = field == 0 ? names : field == 1 ? addresses : notes;
                const QString text = pool[random.bounded(static_cast<int>(pool.size()))];
                trail << QStringLiteral("type %1 '%2'").arg(box->objectName(), text);
                Type(box, text);
                break;
            }
            case 7:
                trail << "toggle Enable";
                ClickBox(window->chkEnable);
                break;
            case 8: {  // Save
                trail << "Save";
                Row row{window->txtServerName->text(),
                        window->txtServerIPAddress->text(),
                        window->txtServerNotes->text(),
                        0,
                        0,
                        QString()};
                const bool enabled = window->chkEnable->isChecked();
                bool stores = !row.name.trimmed().isEmpty() && !row.ip.isEmpty();
                for (const auto& [id, r] : expected) {
                    if (r.ip == row.ip && !(owner == Owner::Editing && id == ownerId))
                        stores = false;
                }
                const bool reachable =
                    addresses.indexOf(row.ip) >= 0 && addresses.indexOf(row.ip) < 3;
                if (enabled && !reachable) stores = false;
                if (enabled) {
                    row.enabled = 1;
                    row.comm = -1;
                }
                Click(window->btnSaveServer);
                if (!stores) break;
                ++stored;
                if (owner == Owner::Editing) {
                    row.email = expected[ownerId].email;
                    expected[ownerId] = row;
                } else {
                    QStringList ids = Rows("SELECT IDNum FROM tblServers");
                    for (const auto& [id, r] : expected) ids.removeAll(QString::number(id));
                    ASSERT_EQ(ids.size(), 1) << trail.join('\n').toStdString();
                    ownerId = ids[0].toLongLong();
                    owner = Owner::Editing;
                    selected = ownerId;
                    expected[ownerId] = row;
                }
                break;
            }
            case 9: {
                if (owner == Owner::Editing && random.bounded(2) == 0) {
                    // An address added to the frame's server's e-mail list.
                    const QString address = QStringLiteral("a%1@x.test").arg(++emails);
                    trail << "e-mail " + address;
                    Click(window->btnServerEmailAddresses);
                    Type(window->txtEmailAddr, address);
                    Click(window->btnAddEmail);
                    Click(window->btnCloseEmailFrame);
                    expected[ownerId].email += address + ',';
                } else {
                    trail << "Close";
                    Click(window->btnCancel);
                    owner = Owner::None;
                }
                break;
            }
        }
        ASSERT_FALSE(HasFatalFailure()) << trail.join('\n').toStdString();
        ASSERT_EQ(Servers(), rendered()) << "after step " << step << ":\n"
                                         << trail.join('\n').toStdString();
    }
    EXPECT_GE(trail.count("Save"), 40);
    EXPECT_GE(stored, 30);
}

// The window fits a 1280x800 screen at its default size and with its
// largest frame, the data log with an eight-sensor log, shown: no control
// lies outside the window and no text is cut.
TEST_F(RegistryUserTest, WindowFitsASmallScreen) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX740, "Boiler room");
    devsim::Device* qx = AddDevice("127.0.0.3", devsim::Model::QX700_5, "Kitchen", 23);
    Q_UNUSED(d);
    for (int i = 0; i < 4; ++i) qx->appendLogRecord();
    Register("Boiler room", "127.0.0.2");
    Register("A name of twenty chr", "127.0.0.3");
    Open();
    DialogScript dialogs;
    const auto checkFit = [&](const char* when) {
        QTest::qWait(20);
        SCOPED_TRACE(when);
        ExpectFitsScreen(window.get());
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisible() || w->window() != window.get()) continue;
            const QString name = w->objectName();
            if (auto* field = qobject_cast<QLineEdit*>(w); field && field->isReadOnly()) {
                // The whole text shows, from its start.
                EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()) + 12,
                          field->width())
                    << name.toStdString() << ": " << field->text().toStdString();
            }
        }
    };
    checkFit("at the default size");
    PopUp(1, window->mnuServerPopUp);
    ASSERT_EQ(window->txtModel->text(), "Model QX740: Temperature and Power Keeper");
    checkFit("with the server frame");
    PopUp(2, window->mnuServerPopUp);
    ASSERT_TRUE(window->frmDateTime->isVisible());
    Click(window->btnGetLogFile);
    ASSERT_EQ(window->gridLog->model()->columnCount(), 13);
    checkFit("with the data-log frame and its log");
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
}
