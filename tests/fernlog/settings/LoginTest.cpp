// The administrator login and the Setup entries it unlocks.
#include "core/Settings.h"
#include "core/Startup.h"
#include "settings/Login.h"
#include "support/FernlogFixtures.h"

using Login::Result;

namespace {
// What the main window was last told about its Setup entries.
struct MenuState : Startup::ActivationView {
    bool enabled = false;
    QString caption;
    bool loggedIn = false;
    void SelectFirstTab() override {}
    void ResetChartTrackers() override {}
    void SetSetupMenus(bool e, const QString& c, bool l) override {
        enabled = e;
        caption = c;
        loggedIn = l;
    }
    void SetTrendingMenu(bool) override {}
};
}  // namespace

class LoginTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ConfigParameters.AdminUserName = QStringLiteral("Boss");
        ConfigParameters.AdminPassword = QStringLiteral("Open Sesame");
        Startup::SetView(&menus);
    }
    void TearDown() override {
        Startup::SetView(nullptr);
        FernlogTest::TearDown();
    }
    MenuState menus;
};

TEST_F(LoginTest, EntriesAreComparedExactly) {
    DialogScript dialogs;
    EXPECT_EQ(Login::CheckLogin("Boss", "wrong"), Result::InvalidPassword);
    EXPECT_EQ(Login::CheckLogin("nobody", "wrong"), Result::InvalidPassword);
    EXPECT_EQ(Login::CheckLogin("Boss", "open sesame"), Result::InvalidPassword);
    EXPECT_EQ(Login::CheckLogin("Boss ", "Open Sesame"), Result::InvalidUsername);
    EXPECT_EQ(Login::CheckLogin("boss", "Open Sesame"), Result::InvalidUsername);
    EXPECT_FALSE(Startup::LoginSucceeded);
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Invalid Password, try again!", "Invalid Password, try again!",
                           "Invalid Password, try again!", "Invalid Username, try again!",
                           "Invalid Username, try again!"}));
    for (const auto& shown : dialogs.Shown()) EXPECT_EQ(shown.title, "Login");

    EXPECT_EQ(Login::CheckLogin("Boss", "Open Sesame"), Result::Succeeded);
    EXPECT_TRUE(Startup::LoginSucceeded);
    EXPECT_EQ(dialogs.Texts().size(), 5);
}

TEST_F(LoginTest, SetupEntriesFollowTheLoginState) {
    DialogScript dialogs;
    Startup::ApplyLoginState();
    EXPECT_FALSE(menus.enabled);
    EXPECT_EQ(menus.caption, "Log In");

    ASSERT_EQ(Login::CheckLogin("Boss", "Open Sesame"), Result::Succeeded);
    Startup::ApplyLoginState();
    EXPECT_TRUE(menus.enabled);
    EXPECT_EQ(menus.caption, "Log Out");
    EXPECT_TRUE(menus.loggedIn);

    Login::LogOut();
    EXPECT_FALSE(Startup::LoginSucceeded);
    EXPECT_FALSE(menus.enabled);
    EXPECT_EQ(menus.caption, "Log In");
    EXPECT_FALSE(menus.loggedIn);

    Login::CheckLogin("Boss", "Open Sesame");
    Login::CancelLogin();
    EXPECT_FALSE(Startup::LoginSucceeded);

    // A user name alone asks for no login; nor do cleared credentials.
    ConfigParameters.AdminPassword = QString();
    Startup::ApplyLoginState();
    EXPECT_TRUE(menus.enabled);
    EXPECT_EQ(menus.caption, "Log In");
    ConfigParameters.AdminUserName = QString();
    ConfigParameters.AdminPassword = QStringLiteral("Open Sesame");
    Startup::ApplyLoginState();
    EXPECT_TRUE(menus.enabled);
}
