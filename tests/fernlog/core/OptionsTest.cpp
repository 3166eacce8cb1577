#include <QFile>

#include "core/Options.h"
#include "support/FernlogFixtures.h"

using OptionsTest = FernlogTest;

TEST_F(OptionsTest, OffWithoutTheFileAndKeptWhatWasSaved) {
    QString warning;
    EXPECT_FALSE(Options::Load(&warning).recoveryNotices);
    EXPECT_TRUE(warning.isEmpty());

    QString error;
    ASSERT_TRUE(Options::Save({true}, &error)) << error.toStdString();
    EXPECT_TRUE(Options::Load().recoveryNotices);
    ASSERT_TRUE(Options::Save({false}));
    EXPECT_FALSE(Options::Load().recoveryNotices);
    // The settings file is a different file and is not touched.
    EXPECT_FALSE(QFile::exists(FilePath("FernlogConfig.dat")));
}

TEST_F(OptionsTest, HandEditedFileIsReadAndWhatIsNotUnderstoodIsNamed) {
    QFile file(FilePath("FernlogOptions.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "; edited on the server\r\n[Notifications]\r\n  recoverynotices = Yes \r\n"
        "RecoveryNotice=1\r\n");
    file.close();
    QString warning;
    EXPECT_TRUE(Options::Load(&warning).recoveryNotices);
    EXPECT_EQ(warning, "FernlogOptions.ini: lines not understood: RecoveryNotice=1");

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RecoveryNotices=maybe\n");
    file.close();
    EXPECT_FALSE(Options::Load(&warning).recoveryNotices);
    EXPECT_EQ(warning, "FernlogOptions.ini: lines not understood: RecoveryNotices=maybe");

    // Devices in contact at once: 1 to 1024, else the default.
    EXPECT_EQ(Options::Load().connections, 64);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Polling]\nconnections = 300\n");
    file.close();
    EXPECT_EQ(Options::Load().connections, 300);
    // The web listener's lines are taken as written, and a save keeps them.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Web]\nListen = 0.0.0.0:9180\nToken=  s3cret-s3cret-s3cret \n");
    file.close();
    EXPECT_EQ(Options::Load(&warning).webListen, "0.0.0.0:9180");
    ASSERT_TRUE(Options::Save(Options::Load()));
    EXPECT_EQ(Options::Load().webToken, "s3cret-s3cret-s3cret");
    warning.clear();
    Options::Load(&warning);
    EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Connections=0\n");
    file.close();
    EXPECT_EQ(Options::Load(&warning).connections, 64);
    EXPECT_EQ(warning, "FernlogOptions.ini: lines not understood: Connections=0");
    Options::Values values;
    values.connections = 1;
    ASSERT_TRUE(Options::Save(values));
    EXPECT_EQ(Options::Load().connections, 1);
}

// Retrying failed e-mail: 0 to 1440 minutes, off by default. A key the file
// lacks goes into its own section, whatever else the owner wrote stays.
TEST_F(OptionsTest, RetryMinutesIsReadCheckedAndAddedToAnOlderFile) {
    EXPECT_EQ(Options::Load().retryMinutes, 0);
    QFile file(FilePath("FernlogOptions.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Notifications]\n# kept\nRecoveryNotices=1\n\n[Polling]\nConnections=8\n");
    file.close();
    Options::Values values = Options::Load();
    values.retryMinutes = 90;
    ASSERT_TRUE(Options::Save(values));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              "[Notifications]\n# kept\nRecoveryNotices=1\n\n[Polling]\nConnections=8\n\n[Mail]\n"
              "# Minutes a failed e-mail is tried again for (0 to 1440); 0: not retried.\n"
              "RetryMinutes=90\n");
    file.close();
    EXPECT_EQ(Options::Load().retryMinutes, 90);

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Mail]\nretryminutes = 1441\n");
    file.close();
    QString warning;
    EXPECT_EQ(Options::Load(&warning).retryMinutes, 0);
    EXPECT_EQ(warning, "FernlogOptions.ini: lines not understood: retryminutes = 1441");
}
