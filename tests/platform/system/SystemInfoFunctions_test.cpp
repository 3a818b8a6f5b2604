#include "platform/system/SystemInfoFunctions.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

TEST(SystemInfoFunctionsTest, VersionRecordDescribesTheRunningLinux)
{
    TempHome home;
    const auto& info = SystemInfoFunctions::instance();
    const OSVersionInfo version = info.GetOSVersion();
    EXPECT_EQ(version.PlatformId, 3);
    struct utsname names
    {
    };
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_TRUE(
        QString::fromLocal8Bit(names.release)
            .startsWith(
                QStringLiteral("%1.%2.").arg(version.MajorVersion).arg(version.MinorVersion)));
    EXPECT_GT(version.MajorVersion, 0);
    EXPECT_LE(version.CSDVersion.size(), 128);
    EXPECT_FALSE(info.ComputerName().isEmpty());
    EXPECT_EQ(info.GetSystemFolder(), home.File("home/.config/Orvane"));
}
