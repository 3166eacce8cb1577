#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/ProgramDir.h"

namespace {
// FERNLOG_DIR as the test wants it, put back afterwards.
class ScopedFernlogDir {
  public:
    explicit ScopedFernlogDir(const QString& value)
        : had_(qEnvironmentVariableIsSet("FERNLOG_DIR")), old_(qgetenv("FERNLOG_DIR")) {
        if (value.isNull()) {
            qunsetenv("FERNLOG_DIR");
        } else {
            qputenv("FERNLOG_DIR", value.toLocal8Bit());
        }
    }
    ~ScopedFernlogDir() {
        if (had_) {
            qputenv("FERNLOG_DIR", old_);
        } else {
            qunsetenv("FERNLOG_DIR");
        }
    }

  private:
    bool had_;
    QByteArray old_;
};
}  // namespace

// An executable beside the build's marker keeps its files in its own
// folder; one without it (installed) uses the user's data directory, and
// only falls back to its own folder when no such directory is known.
TEST(ProgramDirTest, DefaultIsTheBuildTreeFolderOrTheUsersDataDirectory) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString build = root.filePath("build/bin");
    const QString installed = root.filePath("prefix/bin");
    const QString user = root.filePath("home/.local/share/fernlog");
    ASSERT_TRUE(QDir().mkpath(build) && QDir().mkpath(installed));
    QFile marker(QDir(build).filePath(ProgramDir::kBuildTreeMarker));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();

    ProgramDir::Origin origin = ProgramDir::Origin::Option;
    EXPECT_EQ(ProgramDir::DefaultFor(build, user, &origin), build);
    EXPECT_EQ(origin, ProgramDir::Origin::Executable);
    EXPECT_EQ(ProgramDir::DefaultFor(installed, user, &origin), user);
    EXPECT_EQ(origin, ProgramDir::Origin::PerUser);
    EXPECT_EQ(ProgramDir::DefaultFor(installed, QString(), &origin), installed);
    EXPECT_EQ(origin, ProgramDir::Origin::Executable);
    // A folder of that name is not the marker.
    ASSERT_TRUE(QDir().mkpath(QDir(installed).filePath(ProgramDir::kBuildTreeMarker)));
    EXPECT_EQ(ProgramDir::DefaultFor(installed, user), user);
}

// --dir wins over FERNLOG_DIR, which wins over the default; this test runs
// from the build tree, whose programs keep their own folder.
TEST(ProgramDirTest, OptionThenEnvironmentThenTheBuildTreeFolder) {
    QTemporaryDir option, environment;
    ProgramDir::Origin origin = ProgramDir::Origin::PerUser;
    {
        const ScopedFernlogDir env(environment.path());
        EXPECT_EQ(ProgramDir::Configure(option.path(), &origin), QDir::cleanPath(option.path()));
        EXPECT_EQ(origin, ProgramDir::Origin::Option);
        EXPECT_EQ(ProgramDir::Configure(QString(), &origin), QDir::cleanPath(environment.path()));
        EXPECT_EQ(origin, ProgramDir::Origin::Environment);
    }
    const ScopedFernlogDir env{QString()};
    EXPECT_EQ(ProgramDir::Configure(QString(), &origin), QCoreApplication::applicationDirPath());
    EXPECT_EQ(origin, ProgramDir::Origin::Executable);
    EXPECT_EQ(ProgramDir::Path(), QCoreApplication::applicationDirPath());
}
