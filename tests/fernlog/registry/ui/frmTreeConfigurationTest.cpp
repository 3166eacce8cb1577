// The registry window offscreen, where no device is contacted: the tree,
// checks of what the user typed, saving a disabled device, deleting, the
// e-mail list with its test message, and the main window's entry.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/ui/frmMain.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfiguration.h"
#include "support/SmtpServer.h"

namespace {
const QString kModel = QStringLiteral("Model QX700-5: Refrigerator/Freezer Keeper");
}

class TreeConfigurationTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
    }
    void TearDown() override {
        window.reset();
        FernlogTest::TearDown();
    }
    void Open() {
        window = std::make_unique<frmTreeConfiguration>();
        window->show();
    }
    QTreeWidgetItem* Root() const { return window->ServerTree->topLevelItem(0); }
    void Click(qint64 id) {
        QTreeWidgetItem* node = window->NodeForServer(id);
        ASSERT_NE(node, nullptr);
        window->ServerTree->setCurrentItem(node);
        window->ClickNode(node);
    }
    // A new server typed into the server frame.
    void TypeNewServer(const QString& name, const QString& ip, bool enabled) {
        window->mnuAdd->trigger();
        window->txtServerName->setText(name);
        window->txtServerIPAddress->setText(ip);
        window->chkEnable->setChecked(enabled);
    }
    std::unique_ptr<frmTreeConfiguration> window;
};

TEST_F(TreeConfigurationTest, TreeListsEveryServerUnderTheRoot) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 1, "", "", -1));
    ASSERT_TRUE(ServerDatabase::AddServer("A name of twenty-five ch", kModel, "127.0.0.3", "", 0,
                                          "", "", 0));
    Open();
    EXPECT_EQ(window->windowTitle(), "Fernlog Setup");
    ASSERT_EQ(window->ServerTree->topLevelItemCount(), 1);
    EXPECT_EQ(Root()->text(0), "Available Corvane Devices");
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_TRUE(Root()->isExpanded());
    EXPECT_EQ(Root()->child(0)->text(0), "Kitchen              @ IP 127.0.0.2");
    EXPECT_EQ(Root()->child(1)->text(0), "A name of twenty-fiv @ IP 127.0.0.3");
    // Reached and not reached servers have different images.
    EXPECT_EQ(Root()->child(0)->icon(0).cacheKey(), Root()->icon(0).cacheKey());
    EXPECT_NE(Root()->child(1)->icon(0).cacheKey(), Root()->icon(0).cacheKey());

    Click(2);
    EXPECT_EQ(window->CurrentServerId(), 2);
    EXPECT_TRUE(Root()->child(1)->font(0).bold());
    EXPECT_FALSE(Root()->child(0)->font(0).bold());
    window->ClickNode(Root());
    EXPECT_EQ(window->CurrentServerId(), -1);
    EXPECT_FALSE(window->frmSetupServer->isVisible());
}

TEST_F(TreeConfigurationTest, TypedInputIsCheckedBeforeAnythingIsStored) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 0, "", "", 0));
    Open();
    DialogScript dialogs;
    TypeNewServer("", "127.0.0.9", false);
    EXPECT_EQ(window->frmSetupServer->title(), "Add a new server");
    EXPECT_EQ(window->txtModel->text(), "Unknown server model");
    EXPECT_TRUE(window->chkEnable->isEnabled());
    window->btnSaveServer->click();
    TypeNewServer("Cellar", "", false);
    window->btnSaveServer->click();
    EXPECT_FALSE(window->txtServerIPAddress->styleSheet().isEmpty());  // yellow
    window->txtServerIPAddress->setText("x");
    EXPECT_TRUE(window->txtServerIPAddress->styleSheet().isEmpty());
    for (const char* bad : {"cellar.example", "127.0.0.300", " 127.0.0.9"}) {
        window->txtServerIPAddress->setText(bad);
        window->btnSaveServer->click();
    }
    window->txtServerIPAddress->setText("127.0.0.2");
    window->btnSaveServer->click();
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Please enter a name for this server.", "Please enter the IP address.",
                           "The IP address cellar.example is not valid.  Please enter four numbers "
                           "from 0 to 255 separated by dots.",
                           "The IP address 127.0.0.300 is not valid.  Please enter four numbers "
                           "from 0 to 255 separated by dots.",
                           "The IP address  127.0.0.9 is not valid.  Please enter four numbers "
                           "from 0 to 255 separated by dots.",
                           "The IP address 127.0.0.2 is currently being used by Kitchen.  Please "
                           "enter a unique IP address."}));
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblServers"), QStringList{"1"});
}

TEST_F(TreeConfigurationTest, DisabledServerIsStoredWithoutContactingADevice) {
    Open();
    DialogScript dialogs;
    // Quotes, commas and letters beyond ASCII are stored as typed.
    const QString name = QString::fromUtf8("Kühlraum \"Nord\", O'Neil's");
    TypeNewServer(name, "127.0.0.77", false);
    window->txtServerNotes->setText("Back room; ask 'Sam'");
    window->txtUserPassword->clear();
    window->btnSaveServer->click();
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
    EXPECT_EQ(
        Rows("SELECT ServerName, ServerModel, ServerIPAddress, ServerNotes, Enabled, "
             "UserPassword, EmailAddress, Comm FROM tblServers"),
        QStringList{name + "|Unknown server model|127.0.0.77|Back room; ask 'Sam'|0|****||0"});
    // The new row is selected and a second save updates it.
    EXPECT_EQ(window->CurrentServerId(), 1);
    EXPECT_EQ(window->ServerTree->currentItem(), Root()->child(0));
    window->txtServerNotes->setText("moved");
    window->btnSaveServer->click();
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
    EXPECT_EQ(Rows("SELECT COUNT(*), ServerNotes FROM tblServers"), QStringList{"1|moved"});

    // A server whose name says "new" is still edited, not added again.
    Click(1);
    window->txtServerName->setText("Renewed shop");
    window->btnSaveServer->click();
    EXPECT_EQ(Rows("SELECT COUNT(*), ServerName FROM tblServers"), QStringList{"1|Renewed shop"});
    window->txtServerNotes->setText("again");
    window->btnSaveServer->click();
    EXPECT_EQ(Rows("SELECT COUNT(*), ServerNotes FROM tblServers"), QStringList{"1|again"});
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
}

TEST_F(TreeConfigurationTest, DeleteAsksAndRemovesTheSensorsToo) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 0, "", "", 0));
    ASSERT_TRUE(ServerDatabase::AddServer("Cellar", kModel, "127.0.0.3", "", 0, "", "", 0));
    ASSERT_TRUE(ServerDatabase::AddSensor(1, "Freezer", 0, "", "Temperature"));
    ASSERT_TRUE(ServerDatabase::AddSensor(2, "Wine", 0, "", "Temperature"));
    Open();
    DialogScript dialogs;
    window->ClickNode(Root());
    window->mnuDeleteServerPopUp->trigger();
    Click(1);
    dialogs.Answer(Dialogs::Answer::Cancel);
    window->mnuDeleteServerPopUp->trigger();
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblServers"), QStringList{"2"});
    window->mnuDeleteServerPopUp->trigger();  // OK
    ASSERT_EQ(dialogs.Shown().size(), 5u);
    EXPECT_EQ(
        dialogs.Texts(),
        QStringList({"Please select a server", "Delete Kitchen              @ IP 127.0.0.2?",
                     "Server has not been deleted", "Delete Kitchen              @ IP 127.0.0.2?",
                     "Server has been deleted"}));
    EXPECT_EQ(dialogs.Shown()[1].title, "Delete Server?");
    EXPECT_EQ(dialogs.Shown()[1].buttons, Dialogs::Buttons::OkCancel);
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Cellar"});
    EXPECT_EQ(Rows("SELECT SensorName FROM tblSensors"), QStringList{"Wine"});
    EXPECT_EQ(Root()->childCount(), 1);
}

TEST_F(TreeConfigurationTest, EmailListIsKeptPerServer) {
    ASSERT_TRUE(
        ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 0, "", "a@x.test,", 0));
    Open();
    DialogScript dialogs;
    window->mnuAdd->trigger();
    window->btnServerEmailAddresses->click();
    EXPECT_FALSE(window->frmSetupEmail->isVisible());

    // The open Add frame keeps its (unsaved) server whatever is clicked:
    // it is closed first.
    window->btnCancel->click();
    Click(1);
    window->btnServerEmailAddresses->click();
    ASSERT_TRUE(window->frmSetupEmail->isVisible());
    EXPECT_FALSE(window->frmSetupServer->isVisible());
    EXPECT_EQ(window->frmSetupEmail->title(), "Add email addresses for: Kitchen");
    ASSERT_EQ(window->lstEmailAddr->count(), 1);

    window->txtEmailAddr->setText("no-at-sign.test");
    window->btnAddEmail->click();
    window->txtEmailAddr->setText("\"Ann, O'Neil\" <ann@y.test>");
    window->btnAddEmail->click();
    EXPECT_TRUE(window->txtEmailAddr->text().isEmpty());
    EXPECT_EQ(Rows("SELECT EmailAddress FROM tblServers"),
              QStringList{"a@x.test,\"Ann, O'Neil\" <ann@y.test>,"});

    window->btnDeleteEmailAddress->click();  // nothing selected
    EXPECT_EQ(window->lstEmailAddr->count(), 2);
    dialogs.Answer(Dialogs::Answer::No);
    window->AskRemoveEmail(0);
    EXPECT_EQ(window->lstEmailAddr->count(), 2);
    window->AskRemoveEmail(0);  // Yes
    ASSERT_EQ(window->lstEmailAddr->count(), 1);
    window->btnSaveEmail->click();
    EXPECT_EQ(Rows("SELECT EmailAddress FROM tblServers"),
              QStringList{"\"Ann, O'Neil\" <ann@y.test>,"});
    window->btnTestEmailAddr->click();
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Please save the new server before adding email addresses.",
                           "Please verify email address.  This email address does not seem valid.",
                           "Remove this email address?", "Remove this email address?",
                           "Select an address to send a test message to and then click Test "
                           "button."}));
    window->btnCloseEmailFrame->click();
    EXPECT_TRUE(window->frmSetupServer->isVisible());
    EXPECT_FALSE(window->frmSetupEmail->isVisible());
}

TEST_F(TreeConfigurationTest, MissingDatabaseIsReportedAndNothingIsLost) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 0, "", "", 0));
    const QString file = FilePath("zolo.mdb");
    ASSERT_TRUE(QFile::rename(file, file + ".away"));
    Open();
    EXPECT_EQ(Root()->childCount(), 0);
    const QStringList lines = StatusList::Lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Load Servers() ")) << lines[0].toStdString();

    DialogScript dialogs;
    TypeNewServer("Cellar", "127.0.0.3", false);
    window->btnSaveServer->click();
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_TRUE(
        dialogs.Texts()[0].startsWith("Error verifing that the IP address 127.0.0.3 is "
                                      "unique."))
        << dialogs.Texts()[0].toStdString();

    // Back in place, the stored row is as it was and the tree shows it.
    ASSERT_TRUE(QFile::rename(file + ".away", file));
    window->LoadServers();
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Kitchen"});
    EXPECT_EQ(Root()->childCount(), 1);
}

class TreeConfigurationMailTest : public MailingTest {
  protected:
    void TearDown() override {
        window.reset();
        MailingTest::TearDown();
    }
    std::unique_ptr<frmTreeConfiguration> window;
};

TEST_F(TreeConfigurationMailTest, TestMessageGoesToTheSelectedAddress) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 0, "",
                                          "a@x.test,b@y.test,", 0));
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    server.UseInSettings(5);
    EmailNotification::SetupMailer();
    window = std::make_unique<frmTreeConfiguration>();
    window->show();
    DialogScript dialogs;
    QTreeWidgetItem* node = window->NodeForServer(1);
    window->ServerTree->setCurrentItem(node);
    window->ClickNode(node);
    window->btnServerEmailAddresses->click();
    window->lstEmailAddr->setCurrentRow(1);
    window->btnTestEmailAddr->click();
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(server.Messages()[0].rcptTos, QStringList{"b@y.test"});
    EXPECT_TRUE(window->btnTestEmailAddr->isEnabled());

    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    EmailNotification::SetupMailer();
    window->btnTestEmailAddr->click();
    ASSERT_EQ(dialogs.Texts().size(), 2);
    EXPECT_EQ(dialogs.Texts()[0], "Email successfully sent to b@y.test");
    EXPECT_TRUE(
        dialogs.Texts()[1].startsWith("Email was not successfully sent to b@y.test the "
                                      "error is "))
        << dialogs.Texts()[1].toStdString();
    EXPECT_GT(dialogs.Texts()[1].size(), 50);
}

TEST_F(TreeConfigurationTest, MainWindowOpensTheRegistryWithPollingStopped) {
    WriteValidSettings(5);
    auto main = std::make_unique<frmMain>();
    main->show();
    main->RunPendingActivation();
    ASSERT_NE(main->mnuTree, nullptr);
    EXPECT_EQ(main->mnuTree->text(), "Corvane Servers and Sensors");
    EXPECT_EQ(main->mnuConfig->actions().first(), main->mnuTree);
    EXPECT_TRUE(main->mnuConfig->actions().contains(main->mnuGenReport));
    EXPECT_TRUE(main->mnuTree->isEnabled());

    bool seen = false;
    Polling::StartPollTimer();
    QTimer::singleShot(0, [&] {
        auto* registry = qobject_cast<frmTreeConfiguration*>(QApplication::activeModalWidget());
        seen = registry != nullptr && DeviceLink::CurrentWindow == Window::frmTreeConfiguration &&
               !Polling::PollTimer().isActive();
        if (registry) registry->close();
    });
    main->mnuTree->trigger();
    EXPECT_TRUE(seen);
    EXPECT_EQ(DeviceLink::CurrentWindow, Window::frmMain);
    EXPECT_TRUE(Startup::ActivateBlockPending || Polling::PollTimer().isActive());

    // Setup locked by the login: the entry is disabled and opens nothing.
    main->SetSetupMenus(false, "Log In", false);
    EXPECT_FALSE(main->mnuTree->isEnabled());
    seen = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            seen = true;
            modal->close();
        }
    });
    main->mnuTree->trigger();
    QTest::qWait(10);
    EXPECT_FALSE(seen);
    main.reset();
    Polling::StopPollTimer();
}
