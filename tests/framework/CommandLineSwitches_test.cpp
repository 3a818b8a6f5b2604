#include "framework/CommandLineSwitches.h"

#include <gtest/gtest.h>

namespace {

QString Profile(const QString& commandLine)
{
    return GetCommandLineSwitch(commandLine, "/Profile", "=", false, " ");
}

} // namespace

TEST(CommandLineSwitchesTest, ValueUpToSeparatorOrInQuotes)
{
    EXPECT_EQ(Profile("/PROFILE=Studio2 /SILENT"), "Studio2");
    EXPECT_EQ(Profile("/SILENT /profile=MiXeD"), "MiXeD");
    EXPECT_EQ(Profile("/SILENT /Profile=\"Studio 2\" /NOPREVCHECK"), "Studio 2");
    EXPECT_EQ(Profile("/Profile=\"\" /SILENT"), "");
    EXPECT_EQ(Profile("/SILENT /Profile="), "");
    // A missing closing quote lets the value run to the end of the line.
    EXPECT_EQ(Profile("/SILENT /Profile=\"Studio 2 /DEBUG"), "Studio 2 /DEBUG");
}

TEST(CommandLineSwitchesTest, OnlyWholeSwitchesMatch)
{
    EXPECT_EQ(Profile("/MYPROFILE=X"), "");
    EXPECT_EQ(Profile("/MYPROFILE=X /PROFILE=Y"), "Y");
    EXPECT_EQ(Profile("/Profile=Start"), "Start");
    EXPECT_EQ(Profile("/PROFILES=X"), "");
    EXPECT_EQ(Profile("/SILENT"), "");
    EXPECT_EQ(Profile(""), "");
}

TEST(CommandLineSwitchesTest, OtherSeparatorsAndTagSwitches)
{
    EXPECT_EQ(GetCommandLineSwitch("/A=1,/B=two words", "/B", "=", false, ","), "two words");
    EXPECT_EQ(GetCommandLineSwitch("/A=1,/B=2", "/A", "=", false, ","), "1");
    EXPECT_EQ(GetCommandLineSwitch("/A:1 /B:2", "/B", ":", false, " "), "2");
    // Without a separator the value runs to the end.
    EXPECT_EQ(GetCommandLineSwitch("/SILENT/PROFILE=X Y", "/PROFILE", "=", false, ""), "X Y");
    // A tag switch is searched without a separator in front.
    EXPECT_EQ(GetCommandLineSwitch("x<Profile>Studio<", "<Profile", ">", false, "<"), "Studio");
}

TEST(CommandLineSwitchesTest, ExVariantAddsTheSeparatorOnlyWhenAsked)
{
    EXPECT_EQ(GetCommandLineSwitchEx("/SILENT/USERGUID=X", "/UserGuid", "=", false, " ", false),
              "X");
    EXPECT_EQ(GetCommandLineSwitchEx("/SILENT/USERGUID=X", "/UserGuid", "=", false, " ", true), "");
    EXPECT_EQ(GetCommandLineSwitchEx("/USERGUID={1 2} /X", "/UserGuid", "=", false, " ", true),
              "{1");
}
