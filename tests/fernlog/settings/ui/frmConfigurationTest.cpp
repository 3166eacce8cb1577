// The settings dialog offscreen: keys, the changed flag and the discard
// question, Apply and a fresh read of the file, the test e-mail against a
// real SMTP server, printers and the log directory.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "WhenShown.h"
#include "core/AlarmHandling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "settings/ui/frmAbout.h"
#include "settings/ui/frmAdvancedEmail.h"
#include "settings/ui/frmBrowse.h"
#include "settings/ui/frmConfiguration.h"
#include "settings/ui/frmLogin.h"
#include "support/SmtpServer.h"
#include "support/ui/FitsScreen.h"

using Dialogs::Answer;

class frmConfigurationTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        Settings::InitCrypt();
        WriteValidSettings(60);
        ConfigParameters.FromAddress = QStringLiteral("monitor@corvane.test");
        ConfigParameters.ServerFailureEmailAddress = QStringLiteral("admin@corvane.test");
        ASSERT_TRUE(Settings::SaveConfigFile());
    }
    void TearDown() override {
        dialog.reset();
        MailingTest::TearDown();
    }
    void Open() {
        dialog = std::make_unique<frmConfiguration>();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    static void Type(QLineEdit* box, const QString& text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    // The e-mail tab brought forward by a click on its tab, then a click on
    // the recovery notices box.
    void ToggleRecoveryNotices() {
        QTabBar* tabs = dialog->tabConfiguration->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QTest::mouseClick(dialog->chkRecoveryNotices, Qt::LeftButton);
    }
    void ClickApply() { QTest::mouseClick(dialog->btnApply, Qt::LeftButton); }
    static int Mode(const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777)
                                                                      : -1;
    }

    std::unique_ptr<frmConfiguration> dialog;
};

TEST_F(frmConfigurationTest, SettingsWindowsFitTheScreen) {
    Open();
    QTest::mouseClick(dialog->btnPrinter, Qt::LeftButton);  // the printer list, its largest
    QTabBar* tabs = dialog->tabConfiguration->tabBar();
    for (int tab = 0; tab < tabs->count(); ++tab) {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tab).center());
        SCOPED_TRACE(tabs->tabText(tab).toStdString());
        ExpectFitsScreen(dialog.get());
    }
    frmAdvancedEmail advanced(dialog.get());
    frmLogin login;
    frmBrowse browse;
    frmAbout about;
    for (QWidget* window : std::initializer_list<QWidget*>{&advanced, &login, &browse, &about}) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ExpectFitsScreen(window);
        window->hide();
    }
}

// The settings file holds the SMTP and administrator passwords.
TEST_F(frmConfigurationTest, SettingsAndOptionsFilesAreForTheirOwnerOnly) {
    const QString config = FilePath("FernlogConfig.dat");
    const QString options = FilePath("FernlogOptions.ini");
    ASSERT_EQ(::chmod(QFile::encodeName(config).constData(), 0644), 0);  // as older runs left it
    ASSERT_FALSE(QFile::exists(options));
    DialogScript dialogs;
    Open();
    ToggleRecoveryNotices();
    ClickApply();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Configuration parameters have been saved"});
    EXPECT_EQ(Mode(config), 0600);
    EXPECT_EQ(Mode(options), 0600);
}

// What Apply changed is in the audit trail, from the window (also what the
// dialog filled in itself, such as its printer and report defaults).
TEST_F(frmConfigurationTest, AppliedChangeIsInTheAuditTrail) {
    DialogScript dialogs;
    Open();
    Type(dialog->txtOrgName, "Cold Chain Ltd");
    ClickApply();
    QList<AlarmHandling::AuditRow> trail;
    ASSERT_TRUE(AlarmHandling::ListAudit(trail, QDateTime()));
    QStringList rows;
    for (const auto& row : trail) rows << row.origin + "|" + row.oldValue + "|" + row.newValue;
    EXPECT_TRUE(rows.contains("window|OrgName=|OrgName=Cold Chain Ltd"))
        << rows.join('\n').toStdString();
}

TEST_F(frmConfigurationTest, ApplyKeepsHandWrittenOptionsAndHonoursProtectedAndLinkedFiles) {
    const QString config = FilePath("FernlogConfig.dat");
    const QString options = FilePath("FernlogOptions.ini");
    const QByteArray byHand =
        "# written by hand\n[Notifications]\nRecoveryNotices = off\nDigestHour=7\n";
    {
        QFile file(options);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(byHand);
    }
    DialogScript dialogs;
    Open();
    ToggleRecoveryNotices();
    ClickApply();
    EXPECT_EQ(ReadAll(options),
              "# written by hand\n[Notifications]\nRecoveryNotices=1\nDigestHour=7\n");

    // A protected options file: the settings file was written, and the
    // message says which file was not.
    ASSERT_EQ(::chmod(QFile::encodeName(options).constData(), 0444), 0);
    const QByteArray protectedOptions = ReadAll(options);
    ToggleRecoveryNotices();
    ClickApply();
    EXPECT_TRUE(dialogs.Texts().last().startsWith(
        "Configuration parameters have been saved, but the choice of e-mails when an alarm is "
        "over could not be stored in FernlogOptions.ini: "))
        << dialogs.Texts().last().toStdString();
    EXPECT_EQ(ReadAll(options), protectedOptions);
    EXPECT_EQ(Mode(options), 0444);

    // A protected settings file is not replaced.
    ASSERT_EQ(::chmod(QFile::encodeName(options).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(config).constData(), 0444), 0);
    const QByteArray protectedConfig = ReadAll(config);
    Type(dialog->txtOrgName, "Harbor Clinic");
    ClickApply();
    EXPECT_EQ(dialogs.Texts().last(),
              "Error saving configuration file.  Please verify that hard drive is not write "
              "protected.");
    EXPECT_EQ(ReadAll(config), protectedConfig);
    EXPECT_EQ(Mode(config), 0444);

    // A settings file reached through a link is written through it.
    ASSERT_EQ(::chmod(QFile::encodeName(config).constData(), 0600), 0);
    ASSERT_TRUE(QDir(Dir()).mkdir("kept"));
    const QString real = FilePath("kept/FernlogConfig.dat");
    ASSERT_TRUE(QFile::rename(config, real));
    ASSERT_TRUE(QFile::link(real, config));
    ClickApply();
    EXPECT_EQ(dialogs.Texts().last(), "Configuration parameters have been saved");
    EXPECT_TRUE(QFileInfo(config).isSymLink());
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "Harbor Clinic");
    EXPECT_TRUE(ReadAll(real).contains("Harbor Clinic"));
}

TEST_F(frmConfigurationTest, NumberBoxesKeepDigitsAndBackspaceOnly) {
    Open();
    EXPECT_FALSE(dialog->Changed());
    dialog->txtUpdateRate->clear();
    QTest::keyClicks(dialog->txtUpdateRate, "1a-2.");
    EXPECT_EQ(dialog->txtUpdateRate->text(), "12");
    QTest::keyClick(dialog->txtUpdateRate, Qt::Key_Backspace);
    EXPECT_EQ(dialog->txtUpdateRate->text(), "1");
    QTest::sendKeyEvent(QTest::Click, dialog->txtTCPTimeOut, Qt::Key_unknown,
                        QStringLiteral("\u0663"), Qt::NoModifier);  // an Arabic-Indic three
    EXPECT_EQ(dialog->txtTCPTimeOut->text(), "2");
    EXPECT_TRUE(dialog->Changed());
}

TEST_F(frmConfigurationTest, ClosingAfterTypingAsksClosingAfterApplyDoesNot) {
    DialogScript dialogs;
    Open();
    QTest::keyClicks(dialog->txtOrgName, " East");
    dialogs.Answer(Answer::No);
    dialog->btnClose->click();
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].title, "Settings have changed");
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);  // the same question
    EXPECT_EQ(dialogs.Shown().size(), 2u);
    EXPECT_FALSE(dialog->isVisible());

    Open();
    QTest::keyClicks(dialog->txtHost, "x");
    dialog->btnApply->click();
    EXPECT_EQ(dialogs.Texts().last(), "Configuration parameters have been saved");
    EXPECT_FALSE(dialog->Changed());
    dialog->btnClose->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialogs.Shown().size(), 3u);

    // Typing into the administrator boxes is not tracked.
    Open();
    QTest::keyClicks(dialog->txtUN, "x");
    dialog->btnClose->click();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(frmConfigurationTest, UpdateRateBelowFiveBringsItsTabForward) {
    DialogScript dialogs;
    Open();
    dialog->tabConfiguration->setCurrentIndex(5);
    Type(dialog->txtUpdateRate, "4");
    dialog->btnApply->click();
    EXPECT_EQ(dialog->txtUpdateRate->text(), "5");
    EXPECT_EQ(dialog->tabConfiguration->currentIndex(), 0);
    EXPECT_EQ(dialog->txtUpdateRate->palette().color(QPalette::Base), QColor(Qt::yellow));
    EXPECT_TRUE(dialog->btnApply->isEnabled());
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The minimum update rate is 5 seconds.  Please adjust the update rate."});
}

TEST_F(frmConfigurationTest, MismatchAndDoubtfulAddressStoreNothing) {
    QFile file(FilePath("FernlogConfig.dat"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    DialogScript dialogs;
    Open();
    Type(dialog->txtUN, "Boss");
    Type(dialog->txtPW[0], "one");
    Type(dialog->txtPW[1], "two");
    dialog->btnApply->click();
    dialog->btnClearUNPW->click();
    dialog->tabConfiguration->setCurrentIndex(5);
    Type(dialog->txtServerFailureEmailAddress, "admin");
    dialogs.Answer(Answer::Ok);
    dialogs.Answer(Answer::No);
    dialog->btnApply->click();
    EXPECT_EQ(dialogs.Texts(),
              QStringList({"The passwords do not match.", "Is admin a valid email address?"}));
    EXPECT_EQ(dialog->tabConfiguration->currentIndex(), 1);
    EXPECT_TRUE(dialog->Changed());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST_F(frmConfigurationTest, SmallHandlers) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Fernlog Configuration");
    QStringList tabs;
    for (int i = 0; i < dialog->tabConfiguration->count(); ++i) {
        tabs << dialog->tabConfiguration->tabText(i);
    }
    EXPECT_EQ(tabs, QStringList({"Network", "Alarm Email Setup", "Organization Info", "Trending",
                                 "Data Logging", "Administrator"}));
    dialog->tabConfiguration->setCurrentIndex(3);
    EXPECT_TRUE(dialog->chkEnableTrending->isChecked());
    EXPECT_TRUE(dialog->lblEnableTrending->isVisible());
    dialog->chkEnableTrending->click();
    EXPECT_FALSE(dialog->lblEnableTrending->isVisible());

    dialog->txtUN->setText("boss");
    dialog->txtPW[0]->setText("one");
    dialog->txtPW[1]->setText("one");
    QTest::keyClicks(dialog->txtPW[0], "2");  // a new password empties the confirmation
    EXPECT_EQ(dialog->txtPW[1]->text(), "");
    dialog->btnClearUNPW->click();
    EXPECT_EQ(dialog->txtUN->text() + dialog->txtPW[0]->text() + dialog->txtPW[1]->text(), "");

    EXPECT_EQ(dialog->btnApply->toolTip(), "Apply and save selections");
    EXPECT_EQ(dialog->btnClose->toolTip(), "Close without saving changes");
}

TEST_F(frmConfigurationTest, PrinterListTakesTheCheckedEntry) {
    DialogScript dialogs;
    Open();
    dialog->SetPrinters({"Office", "Lab"});
    EXPECT_FALSE(dialog->lstPrinters->isVisible());
    EXPECT_EQ(dialog->lblPrinter->text(), "No Printer Selected");
    dialog->btnPrinter->click();
    EXPECT_TRUE(dialog->lstPrinters->isVisible());
    dialog->lstPrinters->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(dialog->lblPrinter->text(), "Lab");
    dialog->lstPrinters->item(0)->setCheckState(Qt::Checked);
    EXPECT_EQ(dialog->lstPrinters->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(dialog->lblPrinter->text(), "Office");
    dialog->btnApply->click();
    EXPECT_EQ(ConfigParameters.PrinterName.Text(), "Office");
    EXPECT_EQ(ConfigParameters.PrinterIndex, 1);
}

// Every value typed, secrets included, is there after a fresh read of the
// file, as after a restart.
TEST_F(frmConfigurationTest, ApplyThenRestartShowsEveryValueTyped) {
    DialogScript dialogs;
    ASSERT_TRUE(QDir(Dir()).mkpath("copies"));
    const QString logDir = Dir() + "/copies";
    Open();
    Type(dialog->txtTCPTimeOut, "4");
    Type(dialog->txtCommunicationRetry, "3");
    Type(dialog->txtUpdateRate, "45");
    Type(dialog->txtHost, "smtp.corvane.test");
    Type(dialog->txtFromAddress, "from@corvane.test");
    Type(dialog->txtServerFailureEmailAddress, "it@corvane.test");
    dialog->chkSystemOKEmail->setChecked(true);
    Type(dialog->txtOrgName, "Cold Chain East");
    Type(dialog->txtOrgAddress, "2 Quay Street");
    Type(dialog->txtOrgPhoneNumber, "555-0199");
    dialog->chkEnableTrending->setChecked(false);
    Type(dialog->txtUN, "Boss");
    Type(dialog->txtPW[0], "Open Sesame");
    Type(dialog->txtPW[1], "Open Sesame");
    dialog->cmboAutoPrintReport->setCurrentText("Yes");
    Type(dialog->txtTimeToPrint, "11");
    dialog->cmboAMPM->setCurrentText("AM");

    WhenShown<frmBrowse>([logDir](frmBrowse* browse) {
        browse->SetPath(logDir);
        browse->OKButton->click();
    });
    dialog->btnLogDir->click();
    EXPECT_EQ(dialog->lblLogDir->text(), "Current Log File Location: " + logDir);

    WhenShown<frmAdvancedEmail>([](frmAdvancedEmail* advanced) {
        Type(advanced->txtSMTPPort, "40000");
        Type(advanced->txtServerTimeOut, "7");
        advanced->chkSSL->setChecked(true);
        advanced->chkAuthentication->click();
        advanced->cmboAuthenticationMethod->setCurrentText("CRAM-MD5");
        Type(advanced->txtUserName, "monitor");
        // keyClicks cannot type non-ASCII text.
        advanced->txtPassword->setText(QStringLiteral("s3cret \u00e9"));
        Type(advanced->txtLoginDomain, "CORP");
        advanced->OKButton->click();
    });
    dialog->btnAdvanced->click();
    dialog->btnApply->click();
    ASSERT_EQ(dialogs.Texts().last(), "Configuration parameters have been saved");
    dialog.reset();

    ResetFernlogState();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_TRUE(Settings::ValidateConfig());
    ServerData::LogDirInUse = ConfigParameters.LogDir.Text();
    Open();
    EXPECT_EQ(dialog->txtTCPTimeOut->text(), "4");
    EXPECT_EQ(dialog->txtCommunicationRetry->text(), "3");
    EXPECT_EQ(dialog->txtUpdateRate->text(), "45");
    EXPECT_EQ(dialog->txtHost->text(), "smtp.corvane.test");
    EXPECT_EQ(dialog->txtFromAddress->text(), "from@corvane.test");
    EXPECT_EQ(dialog->txtServerFailureEmailAddress->text(), "it@corvane.test");
    EXPECT_TRUE(dialog->chkSystemOKEmail->isChecked());
    EXPECT_EQ(dialog->txtOrgName->text(), "Cold Chain East");
    EXPECT_EQ(dialog->txtOrgAddress->text(), "2 Quay Street");
    EXPECT_EQ(dialog->txtOrgPhoneNumber->text(), "555-0199");
    EXPECT_FALSE(dialog->chkEnableTrending->isChecked());
    EXPECT_EQ(dialog->txtUN->text(), "Boss");
    EXPECT_EQ(dialog->txtPW[0]->text(), "Open Sesame");
    EXPECT_EQ(dialog->txtPW[1]->text(), "Open Sesame");
    EXPECT_EQ(dialog->cmboAutoPrintReport->currentText(), "Yes");
    EXPECT_EQ(dialog->txtTimeToPrint->text(), "11");
    EXPECT_EQ(dialog->cmboAMPM->currentText(), "AM");
    EXPECT_EQ(dialog->lblLogDir->text(), "Current Log File Location: " + logDir);

    bool checked = false;
    WhenShown<frmAdvancedEmail>([&checked](frmAdvancedEmail* advanced) {
        EXPECT_EQ(advanced->txtSMTPPort->text(), "40000");
        EXPECT_EQ(advanced->txtServerTimeOut->text(), "7");
        EXPECT_TRUE(advanced->chkSSL->isChecked());
        EXPECT_TRUE(advanced->chkAuthentication->isChecked());
        EXPECT_EQ(advanced->cmboAuthenticationMethod->currentText(), "CRAM-MD5");
        EXPECT_EQ(advanced->txtUserName->text(), "monitor");
        EXPECT_EQ(advanced->txtPassword->text(), QStringLiteral("s3cret \u00e9"));
        EXPECT_EQ(advanced->txtLoginDomain->text(), "CORP");
        checked = true;
        advanced->CancelButton->click();
    });
    dialog->btnAdvanced->click();
    EXPECT_TRUE(checked);
}

TEST_F(frmConfigurationTest, TestEmailReachesTheServerWithTheTypedHostPortAndLogin) {
    SmtpServer::Options options;
    options.auth = true;
    SmtpServer server(options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    DialogScript dialogs;
    Open();
    Type(dialog->txtHost, "127.0.0.1");
    Type(dialog->txtFromAddress, "typed@corvane.test");
    const QString port = QString::number(server.Port());
    WhenShown<frmAdvancedEmail>([port](frmAdvancedEmail* advanced) {
        Type(advanced->txtSMTPPort, port);
        advanced->chkAuthentication->click();
        advanced->cmboAuthenticationMethod->setCurrentText("PLAIN");
        Type(advanced->txtUserName, "monitor");
        Type(advanced->txtPassword, "s3cret");
        advanced->OKButton->click();
    });
    dialog->btnAdvanced->click();
    dialog->btnTestEmail->click();

    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_EQ(dialogs.Texts()[0],
              "A test email has been successfully sent to admin@corvane.test "
              "using mail server 127.0.0.1");
    const auto received = server.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].login, "monitor");
    EXPECT_EQ(received[0].mailFrom, "typed@corvane.test");
    EXPECT_EQ(received[0].rcptTos, QStringList{"admin@corvane.test"});
    EXPECT_TRUE(server.Commands().contains("AUTH PLAIN ok monitor"))
        << server.Commands().join('\n').toStdString();
}

// A server that never answers: the dialog keeps painting and refuses to
// close while it waits, and the wait ends at the configured time-out.
TEST_F(frmConfigurationTest, TestEmailAgainstASilentServerKeepsTheDialogResponsive) {
    SmtpServer::Options options;
    options.silent = true;
    SmtpServer server(options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    server.UseInSettings(2);
    ASSERT_TRUE(Settings::SaveConfigFile());
    DialogScript dialogs;
    Open();

    int ticks = 0;
    bool buttonsLocked = true;
    bool stayedOpen = true;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        ++ticks;
        buttonsLocked = buttonsLocked && !dialog->btnApply->isEnabled() &&
                        !dialog->btnClose->isEnabled() && !dialog->btnTestEmail->isEnabled();
        if (ticks == 5) {
            dialog->close();
            stayedOpen = dialog->isVisible();
        }
    });
    QElapsedTimer clock;
    clock.start();
    probe.start(100);
    dialog->btnTestEmail->click();
    probe.stop();

    EXPECT_GE(ticks, 10);
    EXPECT_TRUE(buttonsLocked);
    EXPECT_TRUE(stayedOpen);
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_TRUE(dialogs.Texts()[0].startsWith(
        "Failed to send email to 'admin@corvane.test'. The error is: "));
    EXPECT_TRUE(dialogs.Texts()[0].contains("did not answer within 2 seconds"));
    EXPECT_TRUE(dialog->btnApply->isEnabled());
    EXPECT_TRUE(dialog->btnClose->isEnabled());
}

TEST_F(frmConfigurationTest, FolderBrowserCancelChangesNothing) {
    ASSERT_TRUE(QDir(Dir()).mkpath("elsewhere"));
    ServerData::LogDirInUse = Dir();
    ConfigParameters.LogDir = Dir();
    Open();
    WhenShown<frmBrowse>([this](frmBrowse* browse) {
        EXPECT_EQ(browse->Path(), Dir());
        browse->ShowDrive(browse->Drive1->itemText(0));
        browse->SetPath(Dir() + "/elsewhere");
        browse->CancelButton->click();
    });
    dialog->btnLogDir->click();
    EXPECT_EQ(ServerData::LogDirInUse, Dir());
    EXPECT_EQ(ConfigParameters.LogDir.Text(), Dir());
    EXPECT_EQ(dialog->lblLogDir->text(), "Current Log File Location: " + Dir());
}

// Screenshots of the settings windows for the README. Run by hand:
//   FERNLOG_SCREENSHOT_DIR=docs fernlog_settings_ui_tests --gtest_also_run_disabled_tests
//     --gtest_filter='*DISABLED_Screenshots'
TEST_F(frmConfigurationTest, DISABLED_Screenshots) {
    const QString out = qEnvironmentVariable("FERNLOG_SCREENSHOT_DIR");
    if (out.isEmpty()) GTEST_SKIP() << "FERNLOG_SCREENSHOT_DIR is not set";
    ConfigParameters.OrgName = QStringLiteral("Cold Chain Ltd");
    ConfigParameters.OrgAddress = QStringLiteral("1 Harbour Road, Portside");
    ConfigParameters.OrgPhoneNumber = QStringLiteral("555-0100");
    ConfigParameters.Host = QStringLiteral("mail.corvane.example");
    ConfigParameters.SystemOKEmail = 1;
    ConfigParameters.AdminUserName = QStringLiteral("admin");
    ConfigParameters.AdminPassword = QStringLiteral("secret");
    ConfigParameters.AutoPrintReport = QStringLiteral("No");
    ConfigParameters.TimeToPrint = QStringLiteral("8");
    ConfigParameters.AMPM = QStringLiteral("AM");
    ConfigParameters.SMTPPort = 587;
    ConfigParameters.Authentication = 1;
    ConfigParameters.AuthenticationMethod = QStringLiteral("LOGIN");
    ConfigParameters.UserName = QStringLiteral("fernlog");
    ConfigParameters.Password = QStringLiteral("secret");
    ASSERT_TRUE(Settings::SaveConfigFile());
    ServerData::LogDirInUse = QStringLiteral("/srv/fernlog/copies");

    Open();
    dialog->resize(620, dialog->sizeHint().height());
    const QStringList names = {"network",  "email",   "organization",
                               "trending", "logging", "administrator"};
    for (int tab = 0; tab < names.size(); ++tab) {
        dialog->tabConfiguration->setCurrentIndex(tab);
        QTest::qWait(20);
        ASSERT_TRUE(dialog->grab().save(out + "/settings-" + names[tab] + ".png"));
    }
    frmAdvancedEmail advanced;
    advanced.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&advanced));
    ASSERT_TRUE(advanced.grab().save(out + "/settings-advanced-email.png"));
    frmLogin login;
    login.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&login));
    QTest::keyClicks(login.txtUserName, "admin");
    ASSERT_TRUE(login.grab().save(out + "/login.png"));
    frmAbout about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    ASSERT_TRUE(about.grab().save(out + "/about.png"));
}
