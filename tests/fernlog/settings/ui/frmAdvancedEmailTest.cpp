// The advanced e-mail settings offscreen: the authentication switch, the
// reload from the file, the number boxes.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "core/Settings.h"
#include "settings/ui/frmAdvancedEmail.h"
#include "support/FernlogFixtures.h"

class frmAdvancedEmailTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        Settings::InitCrypt();
        WriteValidSettings(60);
    }
    void Open() {
        window = std::make_unique<frmAdvancedEmail>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    std::unique_ptr<frmAdvancedEmail> window;
};

TEST_F(frmAdvancedEmailTest, AuthenticationSwitchesTheLoginFields) {
    ConfigParameters.Authentication = 1;
    ConfigParameters.AuthenticationMethod = QStringLiteral("NTLM");
    ConfigParameters.UserName = QStringLiteral("monitor");
    ASSERT_TRUE(Settings::SaveConfigFile());
    Open();
    EXPECT_EQ(window->windowTitle(), "Internet Email Settings");
    EXPECT_EQ(window->cmboAuthenticationMethod->currentText(), "NTLM");
    EXPECT_TRUE(window->txtUserName->isEnabled());
    EXPECT_EQ(window->txtUserName->text(), "monitor");

    window->chkAuthentication->click();
    EXPECT_EQ(window->cmboAuthenticationMethod->currentText(), "NONE");
    EXPECT_FALSE(window->cmboAuthenticationMethod->isEnabled());
    EXPECT_FALSE(window->txtUserName->isEnabled());
    EXPECT_FALSE(window->txtPassword->isEnabled());
    EXPECT_TRUE(window->txtLoginDomain->isEnabled());
    window->chkAuthentication->click();
    EXPECT_TRUE(window->cmboAuthenticationMethod->isEnabled());
    EXPECT_TRUE(window->txtPassword->isEnabled());

    QStringList methods;
    for (int i = 0; i < window->cmboAuthenticationMethod->count(); ++i) {
        methods << window->cmboAuthenticationMethod->itemText(i);
    }
    EXPECT_EQ(methods, QStringList({"LOGIN", "PLAIN", "CRAM-MD5", "NTLM", "NONE"}));
}

// What was applied in memory but never saved does not show here.
TEST_F(frmAdvancedEmailTest, OpeningShowsTheFileNotTheMemory) {
    ConfigParameters.SMTPPort = 2525;
    ConfigParameters.AuthenticationMethod = FixedText<20>();
    ConfigParameters.Authentication = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
    ConfigParameters.SMTPPort = 587;
    Open();
    EXPECT_EQ(window->txtSMTPPort->text(), "2525");
    EXPECT_EQ(window->cmboAuthenticationMethod->currentText(), "LOGIN");
    EXPECT_EQ(ConfigParameters.SMTPPort, 2525);
}

TEST_F(frmAdvancedEmailTest, BlankPortTurnsYellowTypingADigitTurnsItWhite) {
    DialogScript dialogs;
    Open();
    window->txtSMTPPort->clear();
    window->OKButton->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->txtSMTPPort->palette().color(QPalette::Base), QColor(Qt::yellow));
    EXPECT_EQ(dialogs.Texts(), QStringList{"The SMTP Port can not be left blank.  Please enter "
                                           "the SMTP port number."});
    QTest::keyClicks(window->txtSMTPPort, "x");
    EXPECT_EQ(window->txtSMTPPort->text(), "");
    EXPECT_EQ(window->txtSMTPPort->palette().color(QPalette::Base), QColor(Qt::yellow));
    QTest::keyClicks(window->txtSMTPPort, "2525");
    EXPECT_EQ(window->txtSMTPPort->palette().color(QPalette::Base), QColor(Qt::white));
    window->OKButton->click();
    EXPECT_FALSE(window->isVisible());
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.SMTPPort, 2525);

    // Cancel changes nothing.
    Open();
    QTest::keyClicks(window->txtServerTimeOut, "9");
    window->CancelButton->click();
    EXPECT_EQ(ConfigParameters.ServerTimeOut, 30);
}
