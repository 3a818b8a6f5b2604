#include "platform/system/PlatformPaths.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ToolError.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(RegistryFunctionsTest, ValuesRoundTripPerHiveWithoutRegardToCase)
{
    TempHome home;
    auto& registry = RegistryFunctions::instance();
    const QString key = "Software\\Orvane\\Corvella v3\\Tools";

    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, key, "LastProfile", "none"), "none");
    registry.WriteString(Hive::LocalMachine, key, "LastProfile", "Studio 1");
    registry.WriteString(Hive::CurrentUser, key, "LastProfile", "Mine");

    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, "SOFTWARE\\orvane\\CORVELLA V3\\tools",
                                  "lastprofile", "none"),
              "Studio 1");
    EXPECT_EQ(registry.ReadString(Hive::CurrentUser, key, "LastProfile", "none"), "Mine");

    // The key path is the section name exactly, backslashes included.
    QFile file(PlatformPaths::SystemFolder() + "/HKEY_LOCAL_MACHINE.ini");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[Software\\Orvane\\Corvella v3\\Tools]\nLastProfile=Studio 1\n");
    file.close();

    // A key path that only differs further down is another key.
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, "Software\\Orvane", "LastProfile", "d"), "d");

    registry.WriteString(Hive::LocalMachine, key, "Empty", QString());
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, key, "Empty", "d"), "");

    registry.DeleteValue(Hive::LocalMachine, key, "LASTPROFILE");
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, key, "LastProfile", "gone"), "gone");
    EXPECT_EQ(registry.ReadString(Hive::CurrentUser, key, "LastProfile", "gone"), "Mine");
    registry.DeleteValue(Hive::LocalMachine, "Software\\Nowhere", "Nothing");

    EXPECT_THROW(registry.ReadString(0x80000003, key, "x", ""), ToolError);
}

TEST(RegistryFunctionsTest, NumbersAndGarbageLines)
{
    TempHome home;
    auto& registry = RegistryFunctions::instance();
    const QString path = RegistryFunctions::HiveFile(Hive::LocalMachine);
    ASSERT_TRUE(QDir().mkpath(PlatformPaths::SystemFolder()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x01\x02 junk\n[[[\n[SOFTWARE\\Orvane]\n=\nDebugLevel = 12 extra\nWord=x\n");
    file.close();

    EXPECT_EQ(registry.ReadNumber(Hive::LocalMachine, "Software\\Orvane", "debuglevel", -1), 12);
    EXPECT_EQ(registry.ReadNumber(Hive::LocalMachine, "Software\\Orvane", "Word", -1), 0);
    EXPECT_EQ(registry.ReadNumber(Hive::LocalMachine, "Software\\Orvane", "Missing", -1), -1);
    registry.WriteString(Hive::LocalMachine, "Software\\Orvane", "DebugPath", "/tmp/x");
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, "software\\orvane", "DEBUGPATH", ""),
              "/tmp/x");

    // A system folder that cannot be created: a clear error, no crash.
    TempHome blocked;
    QFile blocker(blocked.File("home/.config"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(registry.ReadString(Hive::CurrentUser, "Software\\Orvane", "x", "d"), "d");
    EXPECT_THROW(registry.WriteString(Hive::CurrentUser, "Software\\Orvane", "x", "v"), ToolError);
}

TEST(RegistryFunctionsTest, ReadIniStringReadsAnyFile)
{
    TempHome home;
    const QString path = home.File("CORVELLA.INI");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Mail]\r\nServer = \"smtp.example.org\"\r\n");
    file.close();
    auto& registry = RegistryFunctions::instance();
    EXPECT_EQ(registry.ReadIniString("mail", "server", "", path), "smtp.example.org");
    EXPECT_EQ(registry.ReadIniString("mail", "port", "25", path), "25");
}
