#include "platform/system/PlatformPaths.h"
#include "tests/support/TempHome.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <gtest/gtest.h>

TEST(PlatformPathsTest, XdgFoldersWithTheirDefaults)
{
    TempHome home;
    EXPECT_EQ(PlatformPaths::DataHome(), home.File("home/.local/share"));
    EXPECT_EQ(PlatformPaths::SystemFolder(), home.File("home/.config/Orvane"));
    EXPECT_EQ(PlatformPaths::RuntimeDir(), home.File("runtime"));

    // Unset, empty or relative values fall back to the defaults below HOME.
    qunsetenv("XDG_DATA_HOME");
    qputenv("XDG_CONFIG_HOME", "");
    qputenv("XDG_STATE_HOME", "relative/state");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(PlatformPaths::DataHome(), home.File("home/.local/share"));
    EXPECT_EQ(PlatformPaths::ConfigHome(), home.File("home/.config"));
    EXPECT_EQ(PlatformPaths::StateHome(), home.File("home/.local/state"));
    EXPECT_FALSE(PlatformPaths::RuntimeDir().isEmpty());
    EXPECT_FALSE(PlatformPaths::ProgramFolder().isEmpty());
}

// Qt refuses a runtime folder others can read ("wrong permissions on runtime directory").
TEST(PlatformPathsTest, TestHomeRuntimeFolderIsTheOwnersAlone)
{
    TempHome home;
    QList<QString> warnings;
    static QList<QString>* seen = nullptr;
    seen = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { seen->append(text); });
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(previous);
    EXPECT_EQ(runtime, home.File("runtime"));
    EXPECT_EQ(QFileInfo(runtime).permissions(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadUser |
                                                    QFile::WriteUser | QFile::ExeUser);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}
