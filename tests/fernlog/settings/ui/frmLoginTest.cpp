// The main window's settings entries: the administrator login and the
// Setup entries it guards, the settings dialog and the about box as the
// menus open them.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "WhenShown.h"
#include "app/ui/frmMain.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfiguration.h"
#include "settings/ui/frmAbout.h"
#include "settings/ui/frmConfiguration.h"
#include "settings/ui/frmLogin.h"
#include "support/FernlogFixtures.h"

class frmLoginTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        Settings::InitCrypt();
        WriteValidSettings(60);
        ASSERT_TRUE(ServerDatabase::AddServer(
            QStringLiteral("Kitchen"), QStringLiteral("Model QX700-5"),
            QStringLiteral("127.0.0.250"), QString(), 0, QString(), QString(), 0));
        ASSERT_TRUE(ServerDatabase::AddSensor(1, QStringLiteral("Freezer"), 0, QString(),
                                              QStringLiteral("Temperature")));
    }
    void TearDown() override {
        window.reset();
        Polling::StopPollTimer();
        FernlogTest::TearDown();
    }
    void StoreLogin(const QString& user, const QString& password) {
        ConfigParameters.AdminUserName = user;
        ConfigParameters.AdminPassword = password;
        ASSERT_TRUE(Settings::SaveConfigFile());
    }
    void Open() {
        window = std::make_unique<frmMain>();
        window->show();
        window->activateWindow();
        if (!QTest::qWaitFor([] { return !Startup::ActivateBlockPending; }, 500)) {
            window->RunPendingActivation();
        }
        ASSERT_FALSE(Startup::ActivateBlockPending);
    }
    // Waits for the activation block that follows a secondary window.
    void Settle() {
        EXPECT_TRUE(QTest::qWaitFor([] { return !Startup::ActivateBlockPending; }, 2000));
    }
    void LogIn(const QString& user, const QString& password) {
        WhenShown<frmLogin>([user, password](frmLogin* login) {
            EXPECT_EQ(login->windowTitle(), "Login");
            EXPECT_TRUE(login->txtUserName->text().isEmpty());
            QTest::keyClicks(login->txtUserName, user);
            QTest::keyClicks(login->txtPassword, password);
            login->cmdOK->click();
            if (login->isVisible()) login->cmdCancel->click();
        });
        window->mnuLogIn->trigger();
    }
    // The tray menu as the user opens it, and a click on one of its entries.
    void ClickTrayEntry(QAction* entry) {
        QMenu* menu = window->mPopupSys;
        menu->popup(QPoint(300, 300));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
        if (menu->isVisible()) menu->close();
    }
    // Notes a settings dialog that opens, applies what it shows and closes it.
    void WatchForConfiguration(QTimer& guard, bool& opened) {
        QObject::connect(&guard, &QTimer::timeout, [&opened] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<frmConfiguration*>(w);
                if (!dialog || !dialog->isVisible()) continue;
                opened = true;
                dialog->btnApply->click();
                dialog->btnClose->click();
            }
        });
        guard.start(20);
    }
    QStringList SetupEntries() const {
        QStringList entries;
        for (QAction* a : window->mnuConfig->actions()) entries << a->text();
        return entries;
    }

    std::unique_ptr<frmMain> window;
};

TEST_F(frmLoginTest, WithoutStoredCredentialsNoLoginIsNeeded) {
    StoreLogin("Boss", "");  // a user name alone
    Open();
    EXPECT_EQ(SetupEntries(), QStringList({"Corvane Servers and Sensors", "Configure Fernlog",
                                           "Log In", "Create Reports"}));
    EXPECT_TRUE(window->mnuOrganization->isEnabled());
    EXPECT_TRUE(window->mpopConfigure->isEnabled());
    EXPECT_EQ(window->mnuLogIn->text(), "Log In");
    EXPECT_EQ(window->windowTitle(), "Fernlog Rev 1.0.0");
}

TEST_F(frmLoginTest, LoginUnlocksTheSetupEntriesAndLogOutLocksThem) {
    StoreLogin("Boss", "Open Sesame");
    Open();
    EXPECT_FALSE(window->mnuOrganization->isEnabled());
    EXPECT_FALSE(window->mpopConfigure->isEnabled());
    EXPECT_TRUE(window->mnuLogIn->isEnabled());
    EXPECT_EQ(window->mnuLogIn->text(), "Log In");
    EXPECT_FALSE(window->SetupEnabled());

    DialogScript dialogs;
    LogIn("Boss", "wrong");  // refused, then cancelled
    LogIn("boss", "Open Sesame");
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Invalid Password, try again!", "Invalid Username, try again!"}));
    EXPECT_FALSE(window->mnuOrganization->isEnabled());
    EXPECT_FALSE(Startup::LoginSucceeded);

    LogIn("Boss", "Open Sesame");
    EXPECT_TRUE(Startup::LoginSucceeded);
    EXPECT_TRUE(window->mnuOrganization->isEnabled());
    EXPECT_TRUE(window->mpopConfigure->isEnabled());
    EXPECT_EQ(window->mnuLogIn->text(), "Log Out");
    EXPECT_EQ(window->windowTitle(), "Fernlog Rev 1.0.0    ADMINISTRATOR LOGGED IN");

    window->mnuLogIn->trigger();
    EXPECT_FALSE(Startup::LoginSucceeded);
    EXPECT_FALSE(window->mnuOrganization->isEnabled());
    EXPECT_EQ(window->mnuLogIn->text(), "Log In");
    EXPECT_EQ(window->windowTitle(), "Fernlog Rev 1.0.0");
}

// Clearing the credentials in the settings dialog turns the login off once
// the dialog closes.
TEST_F(frmLoginTest, ClearedCredentialsTurnTheLoginOff) {
    StoreLogin("Boss", "Open Sesame");
    Open();
    DialogScript dialogs;
    LogIn("Boss", "Open Sesame");
    ASSERT_TRUE(window->mnuOrganization->isEnabled());

    bool polledWhileOpen = true;
    WhenShown<frmConfiguration>([&polledWhileOpen](frmConfiguration* dialog) {
        polledWhileOpen = Polling::PollTimer().isActive();
        EXPECT_EQ(dialog->txtUN->text(), "Boss");
        dialog->btnClearUNPW->click();
        dialog->btnApply->click();
        dialog->btnClose->click();
    });
    window->mnuOrganization->trigger();
    Settle();
    EXPECT_FALSE(polledWhileOpen);
    EXPECT_TRUE(Polling::PollTimer().isActive());
    EXPECT_EQ(dialogs.Texts().last(), "Configuration parameters have been saved");

    EXPECT_TRUE(window->mnuOrganization->isEnabled());
    EXPECT_EQ(window->mnuLogIn->text(), "Log In");
    EXPECT_EQ(window->windowTitle(), "Fernlog Rev 1.0.0");
}

TEST_F(frmLoginTest, TrayConfigureOpensTheDialogOnlyWhenSetupIsOpen) {
    StoreLogin("Boss", "Open Sesame");
    Open();
    window->mpopConfigure->trigger();  // locked: nothing opens
    QTest::qWait(50);
    EXPECT_EQ(window->findChild<frmConfiguration*>(), nullptr);

    DialogScript dialogs;
    LogIn("Boss", "Open Sesame");
    bool opened = false;
    WhenShown<frmConfiguration>([&opened](frmConfiguration* dialog) {
        opened = true;
        dialog->btnClose->click();
    });
    window->mpopConfigure->trigger();
    EXPECT_TRUE(opened);
}

TEST_F(frmLoginTest, AboutBoxResumesPolling) {
    Open();
    ASSERT_TRUE(Polling::PollTimer().isActive());
    bool shown = false;
    WhenShown<frmAbout>([&shown](frmAbout* about) {
        shown = true;
        EXPECT_FALSE(Polling::PollTimer().isActive());
        EXPECT_EQ(about->windowTitle(), "About Fernlog");
        EXPECT_EQ(about->lblTitle->text(), "Fernlog");
        EXPECT_EQ(about->lblVersion->text(), "Version 1.0.0");
        EXPECT_TRUE(about->lblDescription->text().contains(
            "\nFor technical support email:\nsupport@corvane.example"));
        about->cmdOK->click();
    });
    window->mnuAbout->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(Polling::PollTimer().isActive());
    EXPECT_FALSE(Startup::ActivateBlockPending);
}

// While the splash shows, nothing is read yet: the tray's Configure must not
// open an empty form whose Apply would wipe the stored settings.
TEST_F(frmLoginTest, TrayConfigureBeforeActivationOpensNothing) {
    ConfigParameters.OrgName = QStringLiteral("Harbor Clinic");
    ConfigParameters.Host = QStringLiteral("mail.harbor.test");
    StoreLogin("Boss", "Open Sesame");
    const QByteArray stored = ReadAll(Settings::FilePath());
    Settings::Reset();  // the file is not read before the activation block
    DialogScript dialogs;
    window = std::make_unique<frmMain>();  // loaded; the splash would show now
    bool opened = false;
    QTimer guard;
    WatchForConfiguration(guard, opened);
    ClickTrayEntry(window->mpopConfigure);
    QTest::qWait(100);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(window->mpopConfigure->isEnabled());
    EXPECT_FALSE(window->mnuLogIn->isEnabled());
    EXPECT_EQ(ReadAll(Settings::FilePath()), stored);
}

// The tray's Configure while the registry window is open: the registry
// window stays the one secondary window, polling stays stopped under it and
// the link keeps reporting to it.
TEST_F(frmLoginTest, TrayConfigureOverTheRegistryWindowOpensNothing) {
    Open();
    ASSERT_TRUE(Polling::PollTimer().isActive());
    DialogScript dialogs;
    bool opened = false;
    QTimer guard;
    WatchForConfiguration(guard, opened);
    bool pollingUnder = true;
    Window linkWindow = Window::None;
    bool shown = false;
    WhenShown<frmTreeConfiguration>([&](frmTreeConfiguration* tree) {
        shown = true;
        ClickTrayEntry(window->mpopConfigure);
        QTest::qWait(100);
        pollingUnder = Polling::PollTimer().isActive();
        linkWindow = DeviceLink::CurrentWindow;
        tree->close();
    });
    window->mnuTree->trigger();
    Settle();
    ASSERT_TRUE(shown);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(pollingUnder);
    EXPECT_EQ(linkWindow, Window::frmTreeConfiguration);
    EXPECT_TRUE(Polling::PollTimer().isActive());
}
