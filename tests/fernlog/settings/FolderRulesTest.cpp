// The folder browser's result: the log directory as the program keeps it.
#include <QDir>

#include "core/ServerData.h"
#include "core/Settings.h"
#include "settings/FolderRules.h"
#include "support/FernlogFixtures.h"

class FolderRulesTest : public FernlogTest {};

// Upper-casing names another folder where letter case matters: the path
// is kept as chosen there.
TEST_F(FolderRulesTest, PathIsKeptAsChosenWhereCaseMatters) {
    ASSERT_TRUE(QDir(Dir()).mkpath("logs/daily"));
    const QString chosen = Dir() + "/logs/daily";
    EXPECT_FALSE(FolderRules::IgnoresCase(chosen));
    EXPECT_EQ(FolderRules::LogDirText(chosen), chosen);
    // A folder already in upper case is the same folder either way.
    ASSERT_TRUE(QDir("/").exists());
    EXPECT_TRUE(FolderRules::IgnoresCase("/"));

    ServerData::LogDirInUse = "/before";
    ASSERT_TRUE(FolderRules::ChooseLogDir(chosen));
    EXPECT_EQ(ServerData::LogDirInUse, chosen);
    EXPECT_EQ(ConfigParameters.LogDir.Bytes(),
              chosen.toLatin1() + QByteArray(100 - chosen.size(), ' '));
}

TEST_F(FolderRulesTest, PathTheFieldCannotHoldIsRefused) {
    DialogScript dialogs;
    ConfigParameters.LogDir = "/before";
    ServerData::LogDirInUse = "/before";
    const QString deep = Dir() + "/" + QString(100, u'd');
    const QString foreign = Dir() + QStringLiteral("/\u65e5\u8a8c");
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QDir().mkpath(foreign));
    EXPECT_FALSE(FolderRules::ChooseLogDir(deep));
    EXPECT_FALSE(FolderRules::ChooseLogDir(foreign));
    ASSERT_EQ(dialogs.Texts().size(), 2);
    EXPECT_TRUE(dialogs.Texts()[0].contains("is longer than 100 characters"));
    EXPECT_TRUE(dialogs.Texts()[1].contains("contains characters that the settings file cannot"));
    EXPECT_EQ(ServerData::LogDirInUse, "/before");
    EXPECT_EQ(ConfigParameters.LogDir.Text(), "/before");

    // Exactly 100 characters fit.
    const QString fits = Dir() + "/" + QString(99 - Dir().size(), u'f');
    ASSERT_TRUE(QDir().mkpath(fits));
    EXPECT_TRUE(FolderRules::ChooseLogDir(fits));
    EXPECT_EQ(ConfigParameters.LogDir.Text(), fits);
}
