#include <QDir>
#include <QFile>
#include <QtEndian>

#include "core/Crypt.h"
#include "core/Settings.h"
#include "support/FernlogFixtures.h"

namespace {
void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
qint16 I16At(const QByteArray& b, int offset) {
    return qFromLittleEndian<qint16>(b.constData() + offset);
}
QByteArray TextAt(const QByteArray& b, int offset, int length) {
    return b.mid(offset, length);
}
}  // namespace

class SettingsTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        Settings::InitCrypt();
    }
    QString ConfigPath() { return FilePath(QStringLiteral("FernlogConfig.dat")); }
};

// Every field sits at its offset in the 1499-byte little-endian record.
TEST_F(SettingsTest, SavedFileHasEveryFieldAtItsOffset) {
    ConfigRecord& c = ConfigParameters;
    c.OrgName = "Acme Cold Storage";
    c.OrgAddress = "1 Main St";
    c.OrgPhoneNumber = "555-0100";
    c.PrinterName = "Office";
    c.PrinterIndex = 3;
    c.AutoPrintReport = "Yes";
    c.TimeToPrint = "8";
    c.AMPM = "AM";
    c.Host = "mail.example";
    c.UserName = "smtp-user";
    c.Password = "secret";
    c.LoginDomain = "corp";
    c.AuthenticationMethod = "LOGIN";
    c.ServerFailureEmailAddress = "it@example";
    c.SMTPPort = 1025;
    c.ServerTimeOut = 30;
    c.CommunicationRetry = 2;
    c.TCPTimeOut = 4;
    c.UpdateRate = 60;
    c.Authentication = 1;
    c.SSL = 0;
    c.FromAddress = "fernlog@example";
    c.SystemOKEmail = 1;
    c.LastSystemOKEmail = "3/7/2009 4:05:00 PM";
    c.EnableTrending = 1;
    c.AdminUserName = "admin";
    c.AdminPassword = "pw";
    c.LogDir = "/srv/logs";
    c.Reserved4 = 0x1234;
    ASSERT_TRUE(Settings::SaveConfigFile());

    const QByteArray b = ReadAll(ConfigPath());
    ASSERT_EQ(b.size(), 1499);
    EXPECT_EQ(b.left(104), QByteArray(104, '\0'));  // reserved fields of a new record
    EXPECT_EQ(TextAt(b, 104, 51), Padded("Acme Cold Storage", 51));
    EXPECT_EQ(TextAt(b, 155, 250), Padded("1 Main St", 250));
    EXPECT_EQ(TextAt(b, 405, 20), Padded("555-0100", 20));
    EXPECT_EQ(TextAt(b, 425, 100), Padded("Office", 100));
    EXPECT_EQ(I16At(b, 525), 3);
    EXPECT_EQ(TextAt(b, 527, 3), "Yes");
    EXPECT_EQ(I16At(b, 530), 0x1234);
    EXPECT_EQ(TextAt(b, 532, 2), "8 ");
    EXPECT_EQ(TextAt(b, 534, 2), "AM");
    EXPECT_EQ(TextAt(b, 536, 100), Padded("mail.example", 100));
    EXPECT_EQ(TextAt(b, 836, 100), Padded("corp", 100));
    EXPECT_EQ(TextAt(b, 936, 20), Padded("LOGIN", 20));
    EXPECT_EQ(TextAt(b, 956, 100), Padded("it@example", 100));
    EXPECT_EQ(I16At(b, 1056), 1025);
    EXPECT_EQ(I16At(b, 1058), 30);
    EXPECT_EQ(I16At(b, 1060), 2);
    EXPECT_EQ(I16At(b, 1062), 4);
    EXPECT_EQ(I16At(b, 1064), 60);
    EXPECT_EQ(I16At(b, 1066), 1);
    EXPECT_EQ(I16At(b, 1068), 0);
    EXPECT_EQ(TextAt(b, 1070, 100), Padded("fernlog@example", 100));
    EXPECT_EQ(I16At(b, 1170), 1);
    EXPECT_EQ(TextAt(b, 1172, 25), Padded("3/7/2009 4:05:00 PM", 25));
    EXPECT_EQ(I16At(b, 1197), 1);
    EXPECT_EQ(TextAt(b, 1399, 100), Padded("/srv/logs", 100));

    // The four secret fields are stored as base64 cipher text, never plain.
    for (const auto& [offset, plain] :
         {std::pair{636, QByteArray("smtp-user")}, std::pair{736, QByteArray("secret")},
          std::pair{1199, QByteArray("admin")}, std::pair{1299, QByteArray("pw")}}) {
        const QByteArray stored = TextAt(b, offset, 100);
        EXPECT_FALSE(stored.contains(plain)) << offset;
        EXPECT_EQ(Crypt::DecryptFromText(stored).value_or("?"), plain) << offset;
    }
}

TEST_F(SettingsTest, ReadBackGivesSameRecordWithTrimmedSecrets) {
    ConfigParameters.OrgName = "Zoë's Döner, \"Berlin\"";
    ConfigParameters.UserName = "  padded user  ";
    ConfigParameters.AdminPassword = "p@ss word";
    ConfigParameters.UpdateRate = 30;
    ConfigParameters.Reserved4 = -7;
    ASSERT_TRUE(Settings::SaveConfigFile());
    EXPECT_EQ(ConfigParameters.UserName.Text(), "padded user");
    const ConfigRecord saved = ConfigParameters;

    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters, saved);
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "Zoë's Döner, \"Berlin\"");
    EXPECT_EQ(ConfigParameters.UserName.Text(), "padded user");
    EXPECT_EQ(ConfigParameters.Password.Text(), "");  // an empty secret is enciphered too
    EXPECT_EQ(ConfigParameters.AdminPassword.Text(), "p@ss word");
    EXPECT_EQ(ConfigParameters.Reserved4, -7);
}

TEST_F(SettingsTest, TextIsCutToFieldAndForeignCharactersBecomeQuestionMarks) {
    ConfigParameters.OrgName = QString(60, QLatin1Char('x'));
    ConfigParameters.OrgAddress = "A";
    ConfigParameters.OrgPhoneNumber = QStringLiteral("☎ 555");
    ASSERT_TRUE(Settings::SaveConfigFile());
    const QByteArray b = ReadAll(ConfigPath());
    EXPECT_EQ(TextAt(b, 104, 51), QByteArray(51, 'x'));
    EXPECT_EQ(TextAt(b, 155, 2), "A ");  // the 52nd character did not spill over
    EXPECT_EQ(TextAt(b, 405, 5), "? 555");
}

TEST_F(SettingsTest, MissingFileLeavesRecordAndDefaultsApplyInOrder) {
    ConfigParameters.TCPTimeOut = 0;
    ConfigParameters.CommunicationRetry = 0;
    ConfigParameters.UpdateRate = 4;
    ConfigParameters.OrgName = "kept";
    EXPECT_FALSE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "kept");

    EXPECT_FALSE(Settings::ValidateConfig());
    EXPECT_EQ(ConfigParameters.TCPTimeOut, 2);
    EXPECT_EQ(ConfigParameters.CommunicationRetry, 1);
    EXPECT_EQ(ConfigParameters.UpdateRate, 60);  // not 5
    EXPECT_EQ(ConfigParameters.SMTPPort, 25);
    EXPECT_EQ(ConfigParameters.ServerTimeOut, 30);
    EXPECT_EQ(ConfigParameters.AuthenticationMethod.Text(), "NONE");
    const QByteArray b = ReadAll(ConfigPath());
    ASSERT_EQ(b.size(), 1499);
    EXPECT_EQ(I16At(b, 1062), 2);
    EXPECT_EQ(I16At(b, 1064), 60);

    // Valid now: nothing changes and nothing is written.
    QFile::remove(ConfigPath());
    EXPECT_TRUE(Settings::ValidateConfig());
    EXPECT_FALSE(QFile::exists(ConfigPath()));
}

TEST_F(SettingsTest, SmtpPortAboveSignedRangeIsKept) {
    ConfigParameters.SMTPPort = static_cast<qint16>(40000);
    Settings::ValidateConfig();
    EXPECT_EQ(static_cast<quint16>(ConfigParameters.SMTPPort), 40000);
    ConfigParameters.SMTPPort = 0;
    Settings::ValidateConfig();
    EXPECT_EQ(ConfigParameters.SMTPPort, 25);
}

TEST_F(SettingsTest, TimeOutBoundsAreOneToNine) {
    for (const auto& [given, expected] :
         {std::pair{0, 2}, std::pair{10, 2}, std::pair{1, 1}, std::pair{9, 9}}) {
        ConfigParameters.TCPTimeOut = static_cast<qint16>(given);
        Settings::ValidateConfig();
        EXPECT_EQ(ConfigParameters.TCPTimeOut, expected) << given;
    }
}

TEST_F(SettingsTest, SecretLongerThanItsStoredFormRefusedAndNothingWritten) {
    ConfigParameters.Password = QString(Crypt::kMaxPlainLength, QLatin1Char('a'));
    ASSERT_TRUE(Settings::SaveConfigFile());
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.Password.Text(), QString(Crypt::kMaxPlainLength, QLatin1Char('a')));

    const QByteArray before = ReadAll(ConfigPath());
    ConfigParameters.AdminPassword = QString(Crypt::kMaxPlainLength + 1, QLatin1Char('b'));
    ConfigParameters.OrgName = "changed";
    EXPECT_FALSE(Settings::SaveConfigFile());
    EXPECT_EQ(ReadAll(ConfigPath()), before);
    const QStringList errors = Rows("SELECT myFunction, Cause FROM tblErrors");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Error saving configuration parameters to " + ConfigPath()));
    EXPECT_TRUE(errors[0].contains("AdminPassword"));
}

// An unreadable file is reported, never crashes, and is kept beside the
// original before the defaults are written over it.
TEST_F(SettingsTest, UnreadableFileIsRecordedAndKeptAsBadCopy) {
    const QByteArray shortFile(1000, 'z');
    WriteAll(ConfigPath(), shortFile);
    ConfigParameters.OrgName = "unchanged";
    EXPECT_FALSE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "unchanged");
    EXPECT_EQ(ReadAll(ConfigPath() + ".bad"), shortFile);

    Settings::ValidateConfig();  // start-up writes defaults over it
    EXPECT_EQ(ReadAll(ConfigPath()).size(), 1499);
    EXPECT_EQ(ReadAll(ConfigPath() + ".bad"), shortFile);

    // Right length, but a secret that does not decipher.
    QByteArray bad = ReadAll(ConfigPath());
    bad.replace(636, 100, Padded("bm90IGNpcGhlciB0ZXh0", 100));
    WriteAll(ConfigPath(), bad);
    EXPECT_FALSE(Settings::ReadConfigFile());
    EXPECT_FALSE(Settings::ReadConfigFile());  // the same content is kept once
    EXPECT_EQ(ReadAll(ConfigPath() + ".bad2"), bad);
    EXPECT_FALSE(QFile::exists(ConfigPath() + ".bad3"));

    const QStringList errors = Rows("SELECT myFunction, Cause FROM tblErrors ORDER BY ErrorID");
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[0], "Error reading configuration parameters from " + ConfigPath() +
                             "|The file is 1000 bytes long; a settings file is 1499 bytes.");
    EXPECT_TRUE(errors[1].endsWith("UserName cannot be deciphered."));
}

// A file longer than a record (a stray save from another program) is kept
// whole, and its length is told as it is.
TEST_F(SettingsTest, LongFileIsKeptWholeAsBadCopy) {
    QByteArray longFile(5000, 'y');
    longFile[4999] = 'E';
    WriteAll(ConfigPath(), longFile);
    EXPECT_FALSE(Settings::ReadConfigFile());
    EXPECT_EQ(ReadAll(ConfigPath() + ".bad"), longFile);
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors"),
              QStringList{"The file is 5000 bytes long; a settings file is 1499 bytes."});
}

#ifdef Q_OS_LINUX
#include <sys/resource.h>

#include <csignal>

// A disk that fills up during the write: the file size limit makes the
// write fail the same way (EFBIG instead of ENOSPC). The old file stays.
TEST_F(SettingsTest, WriteThatRunsOutOfSpaceLeavesTheOldFile) {
    ConfigParameters.OrgName = "before";
    ASSERT_TRUE(Settings::SaveConfigFile());
    const QByteArray before = ReadAll(ConfigPath());

    ConfigParameters.OrgName = "after";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = Settings::SaveConfigFile();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadAll(ConfigPath()), before);
    EXPECT_EQ(QDir(Dir()).entryList(QDir::Files | QDir::Hidden).filter("FernlogConfig"),
              QStringList{"FernlogConfig.dat"});
}

// The copy of an unreadable file is whole or not made at all: a copy cut
// short would pass for the kept file once defaults overwrite the original.
TEST_F(SettingsTest, BadCopyThatCannotBeWrittenWholeIsNotLeftAndIsReported) {
    // Larger than the limit; the limit larger than the database and its
    // journal, so that the error log still takes the entries.
    const QByteArray longFile(3 << 20, 'y');
    WriteAll(ConfigPath(), longFile);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool read = Settings::ReadConfigFile();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(read);
    EXPECT_EQ(ReadAll(ConfigPath()), longFile);
    EXPECT_EQ(QDir(Dir()).entryList(QDir::Files | QDir::Hidden).filter("FernlogConfig"),
              QStringList{"FernlogConfig.dat"});
    const QStringList errors = Rows("SELECT myFunction, Cause FROM tblErrors ORDER BY ErrorID");
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].startsWith("Error keeping a copy of the unreadable file " + ConfigPath() +
                                     "|Cannot write "))
        << errors[1].toStdString();

    // With room again the next start keeps it.
    EXPECT_FALSE(Settings::ReadConfigFile());
    EXPECT_EQ(ReadAll(ConfigPath() + ".bad"), longFile);
}
#endif
