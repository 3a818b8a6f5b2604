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

TEST(CommandLineSwitchesTest, ApplicationCommandLineGivesQuotesBackToValuesWithBlanks)
{
    const auto line = [](const QStringList& arguments) {
        return ApplicationCommandLine(arguments).toStdString();
    };
    // As the shell hands over: /Profile="Studio 2" /SILENT
    const QStringList studio{"/usr/bin/cartfeeder", "/Profile=Studio 2", "/SILENT"};
    EXPECT_EQ(line(studio), "/Profile=\"Studio 2\" /SILENT");
    EXPECT_EQ(Profile(ApplicationCommandLine(studio)), "Studio 2");

    EXPECT_EQ(line({"/opt/My Programs/cartfeeder"}), ""); // the program itself is no argument
    EXPECT_EQ(line({"cartfeeder", "/PLAYERS=4", "/DEBUG=MAX"}), "/PLAYERS=4 /DEBUG=MAX");
    EXPECT_EQ(line({"cartfeeder", "/Profile=  Late Show "}), "/Profile=\"  Late Show \"");
    EXPECT_EQ(Profile(ApplicationCommandLine({"cartfeeder", "/Profile=  Late Show "})),
              "  Late Show ");
    // A blank before any "=" quotes the whole argument.
    EXPECT_EQ(line({"cartfeeder", "Studio 2=x"}), "\"Studio 2=x\"");
    EXPECT_EQ(line({"cartfeeder", "two words"}), "\"two words\"");
    // Quotes that came through are kept as they are.
    EXPECT_EQ(line({"cartfeeder", "/Profile=\"Studio 2\""}), "/Profile=\"Studio 2\"");
    EXPECT_EQ(line({"cartfeeder", "/Profile="}), "/Profile=");
}
