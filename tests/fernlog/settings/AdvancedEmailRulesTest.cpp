// The advanced e-mail settings: reloaded from the file, checked, stored.
#include <QFile>
#include <QtEndian>

#include "RecordingView.h"
#include "core/Settings.h"
#include "settings/AdvancedEmailRules.h"
#include "support/FernlogFixtures.h"

using namespace AdvancedEmailRules;
using ConfigurationRules::Field;

class AdvancedEmailRulesTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        Settings::InitCrypt();
        WriteValidSettings(60);
    }
    QString ConfigPath() const { return FilePath(QStringLiteral("FernlogConfig.dat")); }
    RecordingView view;
};

TEST_F(AdvancedEmailRulesTest, OpeningReloadsTheStoredValues) {
    ConfigParameters.SMTPPort = 2525;
    ConfigParameters.Authentication = 1;
    ConfigParameters.AuthenticationMethod = QStringLiteral("CRAM-MD5");
    ConfigParameters.UserName = QStringLiteral("monitor");
    ConfigParameters.Password = QStringLiteral("s3cret");
    ConfigParameters.LoginDomain = QStringLiteral("CORP");
    ASSERT_TRUE(Settings::SaveConfigFile());
    // Applied in memory but never saved: replaced by what the file holds.
    ConfigParameters.SMTPPort = 9999;
    ConfigParameters.UserName = QStringLiteral("unsaved");

    const AdvancedEmailForm f = LoadAdvancedForm();
    EXPECT_EQ(f.SMTPPort, "2525");
    EXPECT_EQ(f.ServerTimeOut, "30");
    EXPECT_TRUE(f.Authentication);
    EXPECT_FALSE(f.SSL);
    EXPECT_EQ(f.AuthenticationMethod, "CRAM-MD5");
    EXPECT_EQ(f.UserName, "monitor");
    EXPECT_EQ(f.Password, "s3cret");
    EXPECT_EQ(f.LoginDomain, "CORP");
    EXPECT_EQ(ConfigParameters.SMTPPort, 2525);

    // A method never stored shows the first one.
    ConfigParameters.AuthenticationMethod = FixedText<20>();
    ASSERT_TRUE(Settings::SaveConfigFile());
    EXPECT_EQ(LoadAdvancedForm().AuthenticationMethod, "LOGIN");
    EXPECT_EQ(Methods(), QStringList({"LOGIN", "PLAIN", "CRAM-MD5", "NTLM", "NONE"}));
}

TEST_F(AdvancedEmailRulesTest, BlankNumbersAreRefusedAndMarked) {
    DialogScript dialogs;
    AdvancedEmailForm f = LoadAdvancedForm();
    const QByteArray before = ReadAll(ConfigPath());
    f.SMTPPort = "";
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Stay);
    f.SMTPPort = "25";
    f.ServerTimeOut = "";
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Stay);
    f.ServerTimeOut = "30";
    f.SMTPPort = "70000";
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Stay);
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"The SMTP Port can not be left blank.  Please enter the SMTP port "
                           "number.",
                           "The server timeout can not be left blank.  Please enter a time in "
                           "seconds.",
                           "The SMTP Port must be a whole number from 0 to 65535."}));
    const std::vector expected{Field::txtSMTPPort, Field::txtServerTimeOut, Field::txtSMTPPort};
    EXPECT_EQ(view.marked, expected);
    EXPECT_EQ(view.focused, expected);
    EXPECT_EQ(ReadAll(ConfigPath()), before);
}

// Port 0 is stored as typed (start-up later makes it 25); a port above
// 32767 keeps its 16 bits and reads back as typed.
TEST_F(AdvancedEmailRulesTest, PortsAreStoredAsTyped) {
    DialogScript dialogs;
    AdvancedEmailForm f = LoadAdvancedForm();
    f.SMTPPort = "0";
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Close);
    EXPECT_EQ(qFromLittleEndian<qint16>(ReadAll(ConfigPath()).constData() + 1056), 0);

    f.SMTPPort = "40000";
    f.ServerTimeOut = "12";
    f.SSL = true;
    f.Authentication = true;
    f.AuthenticationMethod = "PLAIN";
    f.UserName = "monitor";
    f.Password = "pa ss";
    f.LoginDomain = "CORP";
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Close);
    EXPECT_TRUE(dialogs.Texts().isEmpty());
    const QByteArray b = ReadAll(ConfigPath());
    EXPECT_EQ(qFromLittleEndian<quint16>(b.constData() + 1056), 40000);
    ConfigParameters = ConfigRecord();
    const AdvancedEmailForm back = LoadAdvancedForm();
    EXPECT_EQ(back.SMTPPort, "40000");
    EXPECT_EQ(back.ServerTimeOut, "12");
    EXPECT_TRUE(back.SSL);
    EXPECT_EQ(back.AuthenticationMethod, "PLAIN");
    EXPECT_EQ(back.Password, "pa ss");
    EXPECT_EQ(back.LoginDomain, "CORP");
    EXPECT_TRUE(Settings::ValidateConfig());  // start-up keeps it
}

TEST_F(AdvancedEmailRulesTest, SecretsTheFileCannotHoldKeepTheWindowOpen) {
    DialogScript dialogs;
    AdvancedEmailForm f = LoadAdvancedForm();
    const QByteArray before = ReadAll(ConfigPath());
    f.SMTPPort = "2525";
    f.Password = QString(64, u'x');
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Stay);
    f.Password = "ok";
    f.UserName = QStringLiteral("\u0416enya");
    EXPECT_EQ(ApplyAdvanced(f, view), OkResult::Stay);
    ASSERT_EQ(dialogs.Texts().size(), 2);
    EXPECT_TRUE(dialogs.Texts()[0].startsWith("The SMTP Password is longer than 63 characters"));
    EXPECT_TRUE(dialogs.Texts()[1].startsWith("The SMTP User Name contains the character"));
    EXPECT_EQ(view.focused, (std::vector{Field::txtPassword, Field::txtUserName}));
    EXPECT_EQ(ConfigParameters.SMTPPort, 25);  // nothing half-stored
    EXPECT_EQ(ReadAll(ConfigPath()), before);
}
