#include "platform/system/PathIgnoringCase.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void Touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

TEST(PathIgnoringCaseTest, EachPartMatchesInAnyCaseAndTheExactSpellingWins)
{
    TempHome home;
    const QString base = home.File("apps");
    const auto file = [&](const QString& relative) {
        return PathIgnoringCase::FindFile(base, relative).toStdString();
    };
    EXPECT_EQ(file("Common/Updates.rtf"), "");

    Touch(base + "/COMMON/UPDATES.RTF");
    EXPECT_EQ(file("Common/Updates.rtf"), (base + "/COMMON/UPDATES.RTF").toStdString());
    Touch(base + "/COMMON/Updates.rtf");
    EXPECT_EQ(file("Common/Updates.rtf"), (base + "/COMMON/Updates.rtf").toStdString());
    EXPECT_EQ(file("common/updates.RTF"), (base + "/COMMON/UPDATES.RTF").toStdString());

    // A file is no folder and a folder no file.
    EXPECT_EQ(file("common"), "");
    EXPECT_EQ(PathIgnoringCase::FindFolder(base, "Common").toStdString(),
              (base + "/COMMON").toStdString());
    EXPECT_EQ(PathIgnoringCase::FindFolder(base, "Common/Updates.rtf").toStdString(), "");
    EXPECT_EQ(file(""), "");
    EXPECT_EQ(PathIgnoringCase::FindFile(QString(), "Updates.rtf").toStdString(), "");
}
