#include "platform/system/IniFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <gtest/gtest.h>

namespace {

class IniFileTest : public ::testing::Test
{
protected:
    void Write(const QByteArray& bytes)
    {
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray Contents() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TempHome m_home;
    QString m_path = m_home.File("settings.ini");
};

} // namespace

TEST_F(IniFileTest, ReadsAsWindowsProfileFunctionsDo)
{
    Write("; comment\n"
          "[General]\n"
          "  Interval  =  60  \n"
          "Title=\"  quoted  \"\n"
          "Half=\"open\n"
          "Empty=\n"
          "Half2=1.5\n"
          "Signed=-42abc\n"
          "Words=abc\n"
          "[general]\n"
          "Interval=999\n");
    // Case-insensitive section and key, blanks around key and value ignored; the first
    // section of a name wins.
    EXPECT_EQ(IniFile::ReadString(m_path, "GENERAL", " interval ", "d"), "60");
    EXPECT_EQ(IniFile::ReadString(m_path, "General", "Title", "d"), "  quoted  ");
    EXPECT_EQ(IniFile::ReadString(m_path, "General", "Half", "d"), "\"open");
    EXPECT_EQ(IniFile::ReadString(m_path, "General", "Empty", "d"), "");
    EXPECT_EQ(IniFile::ReadString(m_path, "General", "Missing", "d"), "d");
    EXPECT_EQ(IniFile::ReadString(m_path, "Other", "Interval", "d"), "d");
    EXPECT_EQ(IniFile::ReadString(m_home.File("none.ini"), "General", "Interval", "d"), "d");

    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Interval", 7), 60);
    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Half2", 7), 1);
    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Signed", 7), -42);
    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Words", 7), 0);
    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Empty", 7), 7);
    EXPECT_EQ(IniFile::ReadInt(m_path, "General", "Missing", 7), 7);
}

TEST_F(IniFileTest, WriteReplacesInPlaceAndKeepsEverythingElse)
{
    Write("; top comment\r\n"
          "[One]\r\n"
          "A = 1\r\n"
          "; about b\r\n"
          "b=2\r\n"
          "\r\n"
          "[Two]\r\n"
          "c=3\r\n");
    ASSERT_TRUE(IniFile::WriteString(m_path, "one", "B", "twenty"));
    ASSERT_TRUE(IniFile::WriteString(m_path, "ONE", "a", "10"));
    ASSERT_TRUE(IniFile::WriteString(m_path, "One", "New", "x"));
    ASSERT_TRUE(IniFile::WriteString(m_path, "Three", "d", "4"));
    // The file's CRLF line ends are kept.
    EXPECT_EQ(Contents(), "; top comment\r\n"
                          "[One]\r\n"
                          "A = 10\r\n"
                          "; about b\r\n"
                          "b=twenty\r\n"
                          "New=x\r\n"
                          "\r\n"
                          "[Two]\r\n"
                          "c=3\r\n"
                          "\r\n"
                          "[Three]\r\n"
                          "d=4\r\n");

    // A null value deletes the key, deleting a missing key changes nothing, a null key the
    // whole section.
    ASSERT_TRUE(IniFile::WriteString(m_path, "one", "b", QString()));
    ASSERT_TRUE(IniFile::WriteString(m_path, "one", "nothing", QString()));
    ASSERT_TRUE(IniFile::WriteString(m_path, "Two", QString(), QString()));
    EXPECT_EQ(Contents(), "; top comment\r\n"
                          "[One]\r\n"
                          "A = 10\r\n"
                          "; about b\r\n"
                          "New=x\r\n"
                          "\r\n"
                          "[Three]\r\n"
                          "d=4\r\n");
    // An empty text is a value, not a deletion.
    ASSERT_TRUE(IniFile::WriteString(m_path, "Three", "d", ""));
    EXPECT_EQ(IniFile::ReadString(m_path, "Three", "d", "gone"), "");
}

TEST_F(IniFileTest, WriteCreatesFolderAndFileAtomically)
{
    const QString path = m_home.File("deep/er/new.ini");
    ASSERT_TRUE(IniFile::WriteString(path, "Section", "Key", QString::fromUtf8("Grüße")));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("[Section]\nKey=Gr\xC3\xBC\xC3\x9F"
                                         "e\n"));
    // Only the file itself is left in its folder: no temporary file.
    EXPECT_EQ(QDir(m_home.File("deep/er")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"new.ini"});

    // A line break in a value must not inject a further key.
    ASSERT_TRUE(IniFile::WriteString(path, "Section", "Key", "a\nInjected=1"));
    EXPECT_EQ(IniFile::ReadString(path, "Section", "Injected", "none"), "none");
    // Values the reader would trim or unquote read back as written.
    for (const QString& text : {QString(" padded "), QString("\"quoted\"")}) {
        SCOPED_TRACE(text.toStdString());
        ASSERT_TRUE(IniFile::WriteString(path, "Section", "Key", text));
        EXPECT_EQ(IniFile::ReadString(path, "Section", "Key", "d"), text);
    }
    EXPECT_FALSE(IniFile::WriteString(path, "Bad]Section", "Key", "v"));
    EXPECT_FALSE(IniFile::WriteString(path, "Section", "K=ey", "v"));
}

// A full disk (here a file-size limit) that shows only when the last buffered bytes go out.
TEST_F(IniFileTest, SaveThatFailsPartwayLeavesTheOldFileExactly)
{
    Write("[General]\nNumberGroups=3\n");
    const QByteArray before = Contents();
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        EXPECT_FALSE(IniFile::WriteString(m_path, "General", "Note", QString(8000, 'x')));
        // Small enough to pass the write, too big for the limit once flushed.
        EXPECT_FALSE(IniFile::WriteString(m_path, "General", "Note", QString(4500, 'y')));
    }
    EXPECT_EQ(Contents(), before);
    EXPECT_EQ(QDir(m_home.Path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"settings.ini"});
    EXPECT_TRUE(IniFile::WriteString(m_path, "General", "Note", QString(8000, 'x')));
    EXPECT_EQ(IniFile::ReadString(m_path, "General", "Note", "").size(), 8000);
}

TEST_F(IniFileTest, EncodingsBomAndWindows1252)
{
    Write("\xEF\xBB\xBF[S]\nUtf=Caf\xC3\xA9\nAnsi=Caf\xE9 \x80\x93\n");
    EXPECT_EQ(IniFile::ReadString(m_path, "S", "Utf", ""), QString::fromUtf8("Café"));
    // The invalid UTF-8 line reads as Windows-1252, its neighbours still as UTF-8.
    EXPECT_EQ(IniFile::ReadString(m_path, "S", "Ansi", ""), QString::fromUtf8("Café €“"));

    ASSERT_TRUE(IniFile::WriteString(m_path, "S", "New", "1"));
    EXPECT_EQ(Contents(), QByteArray("\xEF\xBB\xBF[S]\nUtf=Caf\xC3\xA9\nAnsi=Caf\xC3\xA9 "
                                     "\xE2\x82\xAC\xE2\x80\x9C\nNew=1\n"));
}

// Notepad's "Unicode" and "Unicode big endian", and files that picked up more byte-order marks
// (at the start, or inside when files were joined) on their way from Windows.
TEST_F(IniFileTest, Utf16AndByteOrderMarksAreReadAndKeptInTheirForm)
{
    struct Row
    {
        const char* name;
        QStringConverter::Encoding encoding;
        int marks;
        bool markInside = false;
    };
    for (const Row& row : {Row{"UTF-16LE", QStringConverter::Utf16LE, 1},
                           Row{"UTF-16LE, three marks", QStringConverter::Utf16LE, 3},
                           Row{"UTF-16BE", QStringConverter::Utf16BE, 1},
                           Row{"UTF-16BE, two marks", QStringConverter::Utf16BE, 2},
                           Row{"UTF-8, three marks", QStringConverter::Utf8, 3},
                           Row{"UTF-16LE, a mark inside", QStringConverter::Utf16LE, 1, true},
                           Row{"UTF-8, marks inside", QStringConverter::Utf8, 2, true}}) {
        SCOPED_TRACE(row.name);
        const QString mark(QChar(0xFEFF));
        const QString text = QString::fromUtf8("[General]\r\nNumberGroups=2\r\n%1[Group1]\r\n"
                                               "Name=Café\r\n");
        QStringEncoder encode(row.encoding);
        Write(encode(mark.repeated(row.marks) + text.arg(row.markInside ? mark : "")));
        EXPECT_EQ(IniFile::ReadInt(m_path, "General", "NumberGroups", 0), 2);
        EXPECT_EQ(IniFile::ReadString(m_path, "Group1", "Name", "d"), QString::fromUtf8("Café"));

        ASSERT_TRUE(IniFile::WriteString(m_path, "Group1", "Path", "/srv/drop"));
        EXPECT_EQ(Contents(), QByteArray(encode(mark + text.arg("") + "Path=/srv/drop\r\n")));
        EXPECT_EQ(IniFile::ReadString(m_path, "Group1", "Name", "d"), QString::fromUtf8("Café"));
        EXPECT_EQ(IniFile::ReadInt(m_path, "General", "NumberGroups", 0), 2);
    }
}

TEST_F(IniFileTest, GarbageAndUnreadableFilesDoNotHarm)
{
    static const char garbage[] =
        "garbage without equals\n[unclosed\n=nokey\n\0\xFF\xFE binary\n[S]\nk=v\n[]\n]]]\n";
    Write(QByteArray(garbage, sizeof(garbage) - 1));
    EXPECT_EQ(IniFile::ReadString(m_path, "S", "k", "d"), "v");
    EXPECT_EQ(IniFile::ReadString(m_path, "unclosed", "k", "d"), "d");
    ASSERT_TRUE(IniFile::WriteString(m_path, "S", "k", "w"));
    EXPECT_EQ(IniFile::ReadString(m_path, "S", "k", "d"), "w");
    EXPECT_TRUE(Contents().startsWith("garbage without equals\n[unclosed\n=nokey\n"));

    // An unreadable file reads as missing and is never overwritten (its contents would be lost).
    // (Root reads it all the same; the folder below takes the same path through the code.)
    ASSERT_TRUE(QFile::setPermissions(m_path, QFileDevice::WriteOwner));
    if (!QFile(m_path).open(QIODevice::ReadOnly)) {
        EXPECT_EQ(IniFile::ReadString(m_path, "S", "k", "d"), "d");
        EXPECT_EQ(IniFile::ReadInt(m_path, "S", "k", 5), 5);
        EXPECT_FALSE(IniFile::WriteString(m_path, "S", "k", "lost"));
    }
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(IniFile::ReadString(m_path, "S", "k", "d"), "w");

    // A folder in place of the file: reads as missing, and is not replaced by a write.
    EXPECT_EQ(IniFile::ReadString(m_home.Path(), "S", "k", "d"), "d");
    EXPECT_FALSE(IniFile::WriteString(m_home.Path(), "S", "k", "v"));
}

TEST_F(IniFileTest, BatchReplacesTheFileOnceAndDropsWhatWasNotCommitted)
{
    Write("[Group1]\nName=Old\n");
    {
        IniFile::Batch batch(m_path);
        ASSERT_TRUE(IniFile::WriteString(m_path, "Group1", "Name", "New"));
        ASSERT_TRUE(IniFile::WriteString(m_path, "Group1", "Directory", "/srv/in"));
        // Reads inside the batch see its writes; the file does not change yet.
        EXPECT_EQ(IniFile::ReadString(m_path, "group1", "NAME", ""), "New");
        EXPECT_EQ(Contents(), "[Group1]\nName=Old\n");
        // Left without committing, as when a save is cut short: nothing of it reaches the file.
    }
    EXPECT_EQ(Contents(), "[Group1]\nName=Old\n");

    {
        IniFile::Batch outer(m_path);
        {
            IniFile::Batch inner(m_path);
            ASSERT_TRUE(IniFile::WriteString(m_path, "Group1", "Name", "New"));
            ASSERT_TRUE(inner.Commit()); // the outer batch commits
        }
        ASSERT_TRUE(IniFile::WriteString(m_path, "Group1", "Directory", "/srv/in"));
        EXPECT_EQ(Contents(), "[Group1]\nName=Old\n");
        ASSERT_TRUE(outer.Commit());
    }
    EXPECT_EQ(Contents(), "[Group1]\nName=New\nDirectory=/srv/in\n");
    EXPECT_EQ(QDir(m_home.Path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"settings.ini"});
}
