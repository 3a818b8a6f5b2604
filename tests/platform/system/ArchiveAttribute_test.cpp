#include "platform/system/ArchiveAttribute.h"
#include "platform/system/ToolError.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace {

class ArchiveAttributeTest : public ::testing::Test
{
protected:
    void SetUp() override { options.tableFolder = home.File("profile"); }

    QString Write(const QString& name, const QByteArray& content, bool append = false)
    {
        const QString path = home.File(name);
        QFile file(path);
        EXPECT_TRUE(file.open(append ? QIODevice::Append : QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    static void Touch(const QString& path, qint64 seconds)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QFileInfo(path).lastModified().addSecs(seconds),
                                     QFileDevice::FileModificationTime));
    }
    // Every write sets it again, as on Windows: new content, or only a new date.
    void ExpectSetByEveryWrite(const QString& name)
    {
        const QString path = Write(name, "first");
        EXPECT_TRUE(ArchiveAttribute::IsSet(path, options));
        ArchiveAttribute::Clear(path, options);
        EXPECT_FALSE(ArchiveAttribute::IsSet(path, options));
        EXPECT_FALSE(ArchiveAttribute::IsSet(path, options)); // reading leaves it as it is
        Write(name, " and more", true);
        EXPECT_TRUE(ArchiveAttribute::IsSet(path, options));
        ArchiveAttribute::Clear(path, options);
        EXPECT_FALSE(ArchiveAttribute::IsSet(path, options));
        Touch(path, -60);
        EXPECT_TRUE(ArchiveAttribute::IsSet(path, options));
        // Rewritten at the same size within the same second: only the nanoseconds tell.
        SetModified(path, {1'700'000'000, 100'000'000});
        ArchiveAttribute::Clear(path, options);
        Write(name, "FIRST AND MORE");
        SetModified(path, {1'700'000'000, 600'000'000});
        EXPECT_TRUE(ArchiveAttribute::IsSet(path, options));
    }
    static void SetModified(const QString& path, timespec when)
    {
        const timespec times[2] = {when, when};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    TempHome home;
    ArchiveAttribute::Options options;
};

} // namespace

TEST_F(ArchiveAttributeTest, RecordedInTheFileItself)
{
    ExpectSetByEveryWrite("Promo.wav");
    char buffer[64];
    EXPECT_GT(::getxattr(QFile::encodeName(home.File("Promo.wav")).constData(),
                         ArchiveAttribute::RecordName, buffer, sizeof buffer),
              0);
    EXPECT_FALSE(QFileInfo::exists(home.File("profile/") + ArchiveAttribute::TableName));
}

TEST_F(ArchiveAttributeTest, RecordedInTheProfileTableWhereFilesTakeNone)
{
    options.extendedAttributes = false;
    ExpectSetByEveryWrite("Promo.wav");
    const QString table = home.File("profile/") + ArchiveAttribute::TableName;
    ASSERT_TRUE(QFileInfo::exists(table));

    // Entries of files deleted from their folder go at the next write of the table.
    const QString gone = Write("Gone.wav", "x");
    ArchiveAttribute::Clear(gone, options);
    ASSERT_TRUE(QFile::remove(gone));
    ArchiveAttribute::Clear(Write("Other.wav", "y"), options);
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_FALSE(content.contains("Gone.wav"));
    EXPECT_TRUE(content.contains("Other.wav"));

    // A file recreated under a recorded name counts as new.
    const QString other = home.File("Other.wav");
    QFile::remove(other);
    Write("Other.wav", "a different y");
    EXPECT_TRUE(ArchiveAttribute::IsSet(other, options));

    options.tableFolder.clear();
    EXPECT_THROW(ArchiveAttribute::Clear(other, options), ToolError);
}

// A full disk (here a file-size limit) that shows only when the last buffered bytes go out.
TEST_F(ArchiveAttributeTest, TableThatCannotBeSavedWholeStaysAsItWas)
{
    options.extendedAttributes = false;
    QStringList cleared;
    for (int i = 0; i < 80; ++i) {
        cleared << Write(QStringLiteral("%1 A jingle with a longer name.wav").arg(i), "x");
        ArchiveAttribute::Clear(cleared.last(), options);
    }
    const QString table = home.File("profile/") + ArchiveAttribute::TableName;
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    ASSERT_GT(before.size(), 4096);

    const QString late = Write("Late.wav", "y");
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        EXPECT_THROW(ArchiveAttribute::Clear(late, options), ToolError);
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == before);
    // The mark lives on in memory for this run only, and only while the file stays the same.
    EXPECT_FALSE(ArchiveAttribute::IsSet(late, options));
    Write("Late.wav", "yy");
    EXPECT_TRUE(ArchiveAttribute::IsSet(late, options));
    EXPECT_EQ(std::count_if(
                  cleared.begin(), cleared.end(),
                  [this](const QString& path) { return ArchiveAttribute::IsSet(path, options); }),
              0);
}

// A link has a mark of its own: a file found cleared does not answer for a link to it.
TEST_F(ArchiveAttributeTest, LinkToAClearedFileHasItsOwnMark)
{
    const QString target = Write("Target.wav", "audio");
    ArchiveAttribute::Clear(target, options);
    EXPECT_FALSE(ArchiveAttribute::IsSet(target, options));
    const QString link = home.File("Link.wav");
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_TRUE(ArchiveAttribute::IsSet(link, options));
    ArchiveAttribute::Clear(link, options);
    EXPECT_FALSE(ArchiveAttribute::IsSet(link, options));
}

TEST_F(ArchiveAttributeTest, MissingFileCannotBeReadOrCleared)
{
    const QString missing = home.File("Missing.wav");
    try {
        ArchiveAttribute::IsSet(missing, options);
        FAIL() << "no error raised";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.Number(), 53);
        EXPECT_TRUE(error.Description().contains(missing));
    }
    EXPECT_THROW(ArchiveAttribute::Clear(missing, options), ToolError);
}

// What a check keeps between files follows changes made behind its back: a record removed from
// the file, a table rewritten by another instance.
TEST_F(ArchiveAttributeTest, ChangesByOthersAreSeen)
{
    const QString path = Write("Promo.wav", "audio");
    ArchiveAttribute::Clear(path, options);
    EXPECT_FALSE(ArchiveAttribute::IsSet(path, options));
    EXPECT_FALSE(ArchiveAttribute::IsSet(path, options));
    ASSERT_EQ(::removexattr(QFile::encodeName(path).constData(), ArchiveAttribute::RecordName), 0);
    EXPECT_TRUE(ArchiveAttribute::IsSet(path, options));

    options.extendedAttributes = false;
    const QString jingle = Write("Jingle.wav", "jingle");
    const QString bed = Write("Bed.wav", "bed");
    ArchiveAttribute::Clear(jingle, options);
    ArchiveAttribute::Clear(bed, options);
    EXPECT_FALSE(ArchiveAttribute::IsSet(jingle, options));
    EXPECT_FALSE(ArchiveAttribute::IsSet(bed, options));
    const QString table = home.File("profile/") + ArchiveAttribute::TableName;
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray content = file.readAll();
    file.close();
    const qsizetype at = content.indexOf(QFile::encodeName(jingle));
    ASSERT_GE(at, 0);
    // Another program's copy of the table no longer knows the jingle.
    content[at + content.indexOf("Jingle", at) - at] = 'X';
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
    file.close();
    EXPECT_TRUE(ArchiveAttribute::IsSet(jingle, options));
    EXPECT_FALSE(ArchiveAttribute::IsSet(bed, options));
}
