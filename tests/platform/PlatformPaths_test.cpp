#include "platform/PlatformPaths.h"
#include "tests/support/TempHome.h"

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
