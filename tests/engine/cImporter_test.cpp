#include "engine/ImporterDialogs.h"
#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/AppLog.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/IniFile.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSignalSpy>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

// Records callback registrations; every other member is inert.
class RecordingStore : public PlayoutAudio
{
public:
    QList<IAudioCallback*> registered, unregistered;
    void RegisterCallback(IAudioCallback* sink) override { registered.append(sink); }
    void UnregisterCallback(IAudioCallback* sink) override { unregistered.append(sink); }

    using S = const QString&;
    AudioSettingsInterface* AudioSettings() const override { return nullptr; }
    void setAudioSettings(AudioSettingsInterface*) override {}
    CartvaultSettings* GetCartvaultSettings() override { return nullptr; }
    QString BaseFolder() const override { return {}; }
    bool IsValidCart(S) const override { return false; }
    bool IsCartInRange(S, S, S) const override { return false; }
    float GetRangePosition(S, S, S) const override { return 0; }
    QString GetFirstCart(S) const override { return {}; }
    QString GetNextCart(S) const override { return {}; }
    QString GetLastCart(qint32) const override { return {}; }
    std::optional<Cart> GetCart(S, qint32, bool) override { return std::nullopt; }
    qint32 SaveCart(S, Cart&, qint32, bool, bool, bool&) override { return 1; }
    QString GetCartAudioPath(S, qint32, bool) const override { return {}; }
    bool ImportAudioFile(QObject*, S, S, qint32, qint16, bool&, qint32, qint32, bool&) override
    {
        return false;
    }
    bool ImportTransportFile(QObject*, S, S, qint32, QObject*, qint32, QString&, qint32,
                             bool&) override
    {
        return false;
    }
    bool ExportCart(QObject*, S, S, QObject*, qint32, S, bool, bool) override { return false; }
    bool RemoveCart(S, bool, bool) override { return false; }
    void RefreshCartInfo(bool, QString&, qint32&) override {}
};

// Stands in for the windows: answers as scripted and, when accepting, edits like a window.
class ScriptedDialogs : public ImporterDialogs
{
public:
    bool accept = true;
    std::function<void(cImporterGroup&)> editGroup = [](cImporterGroup&) {};
    std::function<void(cImporter&)> editImporter = [](cImporter&) {};
    int groupCalls = 0;

    bool DisplayGroup(cImporter&, cImporterGroup& group) override
    {
        ++groupCalls;
        return accept && (editGroup(group), true);
    }
    bool DisplayImporter(cImporter& importer) override
    {
        return accept && (editImporter(importer), true);
    }
};

class ImporterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Globals::ToolProfileFolder = home.File("Profiles/Main/Cartfeeder");
        Globals::PlayoutAudio = nullptr;
        ASSERT_TRUE(InitialiseAppLog(home.File("Logs/Cartfeeder"), 0));
        file = Globals::ToolProfileFolder + "/Importer.ini";
    }

    void TearDown() override
    {
        importer.reset();
        cImporterGroup::setClock({});
        Globals::PlayoutAudio = nullptr;
        Globals::ToolProfileFolder.clear();
        Globals::AppLogFile.clear();
        Globals::AppLogFolder.clear();
        Globals::AppLogDate = 0;
        Globals::AppLogSequence = 0;
    }

    void writeFile(const QByteArray& bytes)
    {
        QDir().mkpath(Globals::ToolProfileFolder);
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }

    QString rawFile() const
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }

    // The key names of a section as they stand in the file.
    QStringList keysOf(const QString& section) const
    {
        QStringList keys;
        bool inside = false;
        for (const QString& line : rawFile().split('\n')) {
            if (line.startsWith('[')) {
                inside = line.trimmed().compare("[" + section + "]", Qt::CaseInsensitive) == 0;
            } else if (inside && line.contains('=')) {
                keys.append(line.section('=', 0, 0).trimmed());
            }
        }
        return keys;
    }

    QString value(const QString& section, const QString& key) const
    {
        return IniFile::ReadString(file, section, key, "<missing>");
    }

    cImporter& load()
    {
        importer = std::make_unique<cImporter>();
        QString profile = "Main";
        EXPECT_TRUE(importer->ReadSettings(profile));
        return *importer;
    }

    bool save()
    {
        QString profile;
        return importer->WriteSettings(profile);
    }

    QStringList appLogLines() const
    {
        QFile in(Globals::AppLogFile);
        if (!in.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    TempHome home;
    QString file;
    std::unique_ptr<cImporter> importer;
};

void fillGroup(cImporterGroup& g)
{
    g.GroupName = "News Bulletins";
    g.Path = "/srv/drop/news";
    g.TakeSnapShotBeforeImport = true;
    g.StartHDRef = "1000";
    g.EndHDRef = "1999";
    g.Enabled = true;
    g.CheckCurrent = false;
    g.CheckCurrentLastModified = true;
    g.RemoveIfDeleted = true;
    g.ReplaceChangedLengthCarts = true;
    g.DeleteAfterImport = true;
    g.UseArchiveBit = true;
    g.OverrideIntroStart = 1.25f;
    g.OverrideIntroEnd = 3.5f;
    g.OverrideExtro = 42.0f;
    g.OverrideTitle = "Imported <CURRENTDATETIME>";
    g.OverrideArtist = "Station = \"FM\"";
    g.OverrideDescription = "From <FILENAME>; é";
    g.OverrideNormalise = -12;
    g.NotifySuccessEmailRecipients = "ok@example.org";
    g.NotifyFailEmailRecipients = "fail@example.org;ops@example.org";
    g.NotifyEmailSender = "feeder@example.org";
}

// Every field as text, in the order of the class, so that one comparison names the difference.
QString fields(const cImporterGroup& g)
{
    // clang-format off
    const QVariantList all{g.GroupName, g.Path, g.TakeSnapShotBeforeImport, g.StartHDRef,
        g.EndHDRef, g.Enabled, g.CheckCurrent, g.CheckCurrentLastModified, g.RemoveIfDeleted,
        g.ReplaceChangedLengthCarts, g.DeleteAfterImport, g.UseArchiveBit, g.OverrideIntroStart,
        g.OverrideIntroEnd, g.OverrideExtro, g.OverrideTitle, g.OverrideArtist,
        g.OverrideDescription, int(g.OverrideNormalise), g.NotifySuccessEmailRecipients,
        g.NotifyFailEmailRecipients, g.NotifyEmailSender};
    // clang-format on
    QStringList texts;
    for (const QVariant& v : all) {
        texts.append(v.toString());
    }
    return texts.join(" | ");
}

TEST_F(ImporterTest, FileWithOnlyNumberGroupsGivesReaderDefaults)
{
    writeFile("[General]\nNumberGroups=2\n");
    cImporter& imp = load();
    const QStringList log = appLogLines();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].endsWith("Loading Settings for Profile 'Main'")) << log[0].toStdString();
    EXPECT_TRUE(log[1].endsWith("Loaded Settings OK")) << log[1].toStdString();
    EXPECT_EQ(imp.CheckInterval, 60.0f);
    EXPECT_FALSE(imp.MinimiseToSysTray || imp.SMTPEmailEnabled());
    ASSERT_EQ(imp.NumberGroups(), 2);
    EXPECT_EQ(imp.ImporterGroup(0), nullptr);
    EXPECT_EQ(imp.ImporterGroup(3), nullptr);

    // The file's defaults, not the constructor's (which has Enabled and UseArchiveBit true).
    cImporterGroup expected;
    expected.Enabled = expected.UseArchiveBit = false;
    expected.CheckCurrent = true;
    expected.StartHDRef = expected.EndHDRef = "0";
    EXPECT_EQ(fields(*imp.ImporterGroup(1)), fields(expected));
    EXPECT_EQ(fields(*imp.ImporterGroup(2)), fields(expected));
}

TEST_F(ImporterTest, GroupAtFileDefaultsWritesNoKey)
{
    writeFile("[General]\nNumberGroups=1\n");
    load();
    ASSERT_TRUE(save());

    EXPECT_TRUE(keysOf("Group1").isEmpty()) << keysOf("Group1").join(",").toStdString();
    EXPECT_EQ(keysOf("General"), QStringList{"NumberGroups"});
    EXPECT_TRUE(keysOf("SMTPServer").isEmpty());
}

TEST_F(ImporterTest, NumbersAreWrittenFinerThanTheyAreRead)
{
    writeFile("[SMTPServer]\nEnabled=True\n");
    EXPECT_FALSE(load().SMTPEmailEnabled());
    writeFile("[SMTPServer]\nEnabled=-1\n[General]\nNumberGroups=1\n"
              "[Group1]\nOverrideExtroMS=2500\nOverrideIntroStartMS=1234.5\n");
    cImporter& imp = load();
    EXPECT_TRUE(imp.SMTPEmailEnabled());
    cImporterGroup& g = *imp.ImporterGroup(1);
    EXPECT_FLOAT_EQ(g.OverrideExtro, 2.5f);
    EXPECT_FLOAT_EQ(g.OverrideIntroStart, 1.234f);

    imp.CheckInterval = 1.5f;
    g.OverrideIntroEnd = 2.5f;
    g.OverrideIntroStart = -1.0f;
    g.OverrideExtro = 20000.0f; // 2e7 ms: an exponent would read back as 2
    ASSERT_TRUE(save());
    EXPECT_EQ(value("General", "CheckInterval"), "1" + QLocale::system().decimalPoint() + "5");
    EXPECT_EQ(value("Group1", "OverrideIntroEndMS"), "2500");
    EXPECT_EQ(value("Group1", "OverrideIntroStartMS"), "<missing>");
    EXPECT_EQ(value("Group1", "OverrideExtroMS"), "20000000");
    EXPECT_EQ(load().CheckInterval, 1.0f);
    EXPECT_FLOAT_EQ(importer->ImporterGroup(1)->OverrideExtro, 20000.0f);
}

TEST_F(ImporterTest, OlderRecipientListIsMigratedThenDeleted)
{
    writeFile("[General]\nNumberGroups=2\n"
              "[Group1]\nNotifyEmailRecipients=a@example.org\n"
              "[Group2]\nNotifyEmailRecipients=a@example.org\n"
              "NotifyFailEmailRecipients=b@example.org\n");
    cImporter& imp = load();
    EXPECT_EQ(imp.ImporterGroup(1)->NotifySuccessEmailRecipients, "a@example.org");
    EXPECT_EQ(imp.ImporterGroup(1)->NotifyFailEmailRecipients, "a@example.org");
    EXPECT_EQ(imp.ImporterGroup(2)->NotifySuccessEmailRecipients, "");
    EXPECT_EQ(imp.ImporterGroup(2)->NotifyFailEmailRecipients, "b@example.org");

    ASSERT_TRUE(save());
    EXPECT_EQ(value("Group1", "NotifyEmailRecipients"), "<missing>");
    EXPECT_EQ(value("Group2", "NotifyEmailRecipients"), "<missing>");
    EXPECT_EQ(value("Group1", "NotifySuccessEmailRecipients"), "a@example.org");
    EXPECT_EQ(value("Group1", "NotifyFailEmailRecipients"), "a@example.org");
}

TEST_F(ImporterTest, RecheckingGroupNeverWritesDirectory)
{
    writeFile("[General]\nNumberGroups=2\n[Group1]\nDirectory=/srv/drop\n"
              "[Group2]\nDirectory=/srv/other\n");
    cImporter& imp = load();
    EXPECT_FALSE(imp.ImporterGroup(1)->CheckCurrent);
    EXPECT_EQ(imp.ImporterGroup(1)->Path, "/srv/drop");

    imp.ImporterGroup(1)->CheckCurrent = true; // the folder is still held in memory
    ASSERT_TRUE(save());
    EXPECT_EQ(value("Group1", "Directory"), "<missing>");
    EXPECT_EQ(value("Group2", "Directory"), "/srv/other");
    EXPECT_TRUE(load().ImporterGroup(1)->CheckCurrent);
}

TEST_F(ImporterTest, RemovingAGroupShiftsTheRestAndLeavesTheLastSection)
{
    writeFile("[General]\nNumberGroups=3\n[Group1]\nName=One\n[Group2]\nName=Two\n"
              "[Group3]\nName=Three\nEnabled=1\n");
    cImporter& imp = load();

    qint16 outside = 4;
    EXPECT_FALSE(imp.RemoveGroup(outside));
    qint16 zero = 0;
    EXPECT_FALSE(imp.RemoveGroup(zero));
    EXPECT_EQ(imp.NumberGroups(), 3);

    qint16 second = 2;
    ASSERT_TRUE(imp.RemoveGroup(second));
    ASSERT_EQ(imp.NumberGroups(), 2);
    EXPECT_EQ(imp.ImporterGroup(2)->GroupName, "Three");
    EXPECT_EQ(value("General", "NumberGroups"), "2");
    EXPECT_EQ(value("Group2", "Name"), "Three");
    EXPECT_EQ(value("Group2", "Enabled"), "1");
    EXPECT_EQ(value("Group3", "Name"), "Three"); // stale, and no longer reached

    cImporter& again = load();
    ASSERT_EQ(again.NumberGroups(), 2);
    EXPECT_EQ(again.ImporterGroup(1)->GroupName, "One");
    EXPECT_EQ(again.ImporterGroup(2)->GroupName, "Three");
}

TEST_F(ImporterTest, FullyPopulatedSettingsSurviveARoundTrip)
{
    cImporter& imp = load();
    imp.CheckInterval = 90.0f;
    imp.MinimiseToSysTray = true;
    imp.setSMTPEmailEnabled(true);
    imp.setSMTPServerAddress("smtp.example.org");
    imp.setSMTPLoginName("feeder");
    imp.setSMTPPassword("s3cret!pass");
    ScriptedDialogs dialogs;
    dialogs.editGroup = fillGroup;
    imp.setDialogs(&dialogs);
    ASSERT_EQ(imp.AddGroup(), 1);

    EXPECT_NE(value("SMTPServer", "Password"), "s3cret!pass"); // not stored in clear
    // Files are shared with the Windows version: the names must match letter for letter.
    EXPECT_EQ(keysOf("General"),
              (QStringList{"NumberGroups", "CheckInterval", "MinimiseToSysTray"}));
    EXPECT_EQ(keysOf("SMTPServer"), (QStringList{"Enabled", "Address", "LoginName", "Password"}));
    // clang-format off
    EXPECT_EQ(keysOf("Group1"), (QStringList{"Name", "Directory", "TakeSnapShotBeforeImport",
        "CheckCurrentLastModified", "RemoveIfDeleted", "ReplaceChangedLengthCarts", "StartHDRef",
        "EndHDRef", "Enabled", "DeleteAfterImport", "UseArchiveBit", "NotifyEmailSender",
        "NotifySuccessEmailRecipients", "NotifyFailEmailRecipients", "OverrideIntroStartMS",
        "OverrideIntroEndMS", "OverrideExtroMS", "OverrideTitle", "OverrideArtist",
        "OverrideDescription", "OverrideNormalise"}));
    // clang-format on
    const QString raw = rawFile();
    EXPECT_TRUE(raw.contains("[General]") && raw.contains("[SMTPServer]") &&
                raw.contains("[Group1]"));

    cImporter& back = load();
    EXPECT_EQ(back.CheckInterval, 90.0f);
    EXPECT_TRUE(back.MinimiseToSysTray);
    EXPECT_TRUE(back.SMTPEmailEnabled());
    EXPECT_EQ(back.SMTPServerAddress(), "smtp.example.org");
    EXPECT_EQ(back.SMTPLoginName(), "feeder");
    EXPECT_EQ(back.SMTPPassword(), "s3cret!pass");
    ASSERT_EQ(back.NumberGroups(), 1);

    cImporterGroup expected;
    fillGroup(expected);
    EXPECT_EQ(fields(*back.ImporterGroup(1)), fields(expected));
}

TEST_F(ImporterTest, ValuesTheReaderWouldTrimOrUnquoteSurviveARoundTrip)
{
    cImporter& imp = load();
    // Its stored form begins and ends with a double quote.
    imp.setSMTPPassword("QuickQ");
    imp.setSMTPLoginName("\"feeder\"");
    ScriptedDialogs dialogs;
    dialogs.editGroup = [](cImporterGroup& g) {
        fillGroup(g);
        // The editor keeps blanks around these two as typed.
        g.GroupName = "  Morning ";
        g.Path = "/srv/drop/news ";
        g.OverrideTitle = "\"Live\"";
    };
    imp.setDialogs(&dialogs);
    ASSERT_EQ(imp.AddGroup(), 1);

    cImporter& back = load();
    EXPECT_EQ(back.SMTPPassword(), "QuickQ");
    EXPECT_EQ(back.SMTPLoginName(), "\"feeder\"");
    ASSERT_EQ(back.NumberGroups(), 1);
    EXPECT_EQ(back.ImporterGroup(1)->GroupName, "  Morning ");
    EXPECT_EQ(back.ImporterGroup(1)->Path, "/srv/drop/news ");
    EXPECT_EQ(back.ImporterGroup(1)->OverrideTitle, "\"Live\"");
}

TEST_F(ImporterTest, SettingsFileWrittenOnWindowsIsReadCompletely)
{
    // clang-format off
    writeFile("\xEF\xBB\xBF; written by the Windows version\r\n[general]\r\nnumbergroups = 1\r\n"
              "CHECKINTERVAL=120\r\nMinimiseToSystray=1\r\n\r\n[SmtpServer]\r\nENABLED=1\r\n"
              "address=\"mail.example.org\"\r\nLoginname = feeder\r\n\r\n[GROUP1]\r\n"
              "name=\"Caf\xC3\xA9 Jingles\"\r\ndirectory=D:/Drop/Jingles\r\nstartHDref=2000\r\n"
              "ENDHDREF=2099\r\nenabled=1\r\nuseArchiveBit=1\r\noverrideextroms=1500\r\n"
              "OVERRIDENORMALISE=-3\r\nnotifyemailsender=feeder@example.org\r\n");
    // clang-format on
    cImporter& imp = load();
    EXPECT_EQ(imp.CheckInterval, 120.0f);
    EXPECT_TRUE(imp.MinimiseToSysTray && imp.SMTPEmailEnabled());
    EXPECT_EQ(imp.SMTPServerAddress(), "mail.example.org");
    EXPECT_EQ(imp.SMTPLoginName(), "feeder");
    ASSERT_EQ(imp.NumberGroups(), 1);

    cImporterGroup expected;
    expected.GroupName = QString::fromUtf8("Café Jingles");
    expected.Path = "D:/Drop/Jingles";
    expected.StartHDRef = "2000";
    expected.EndHDRef = "2099";
    expected.OverrideExtro = 1.5f;
    expected.OverrideNormalise = -3;
    expected.NotifyEmailSender = "feeder@example.org";
    EXPECT_EQ(fields(*imp.ImporterGroup(1)), fields(expected));

    // A name saved in the Windows code page.
    writeFile("[General]\r\nNumberGroups=1\r\n[Group1]\r\nName=Caf\xE9 \x80\r\n");
    EXPECT_EQ(load().ImporterGroup(1)->GroupName, QString::fromUtf8("Café €"));
}

TEST_F(ImporterTest, OutOfRangeNumbersAreClampedAndBadOnesDefaulted)
{
    writeFile("[General]\nNumberGroups=-5\n");
    EXPECT_EQ(load().NumberGroups(), 0);
    writeFile("[General]\nNumberGroups=40000\n");
    EXPECT_EQ(load().NumberGroups(), 32767);
    writeFile("[General]\nNumberGroups=abc\nCheckInterval=x\n");
    EXPECT_EQ(load().NumberGroups(), 0);
    EXPECT_EQ(importer->CheckInterval, 0.0f);

    writeFile("[General]\nNumberGroups=3\n[Group1]\nOverrideNormalise=99999\n"
              "[Group2]\nOverrideNormalise=-99999\n");
    cImporter& imp = load();
    ASSERT_EQ(imp.NumberGroups(), 3);
    EXPECT_EQ(imp.ImporterGroup(1)->OverrideNormalise, 32767);
    EXPECT_EQ(imp.ImporterGroup(2)->OverrideNormalise, -32768);
    EXPECT_FALSE(imp.ImporterGroup(3)->Enabled); // section missing entirely
    EXPECT_TRUE(imp.ImporterGroup(3)->CheckCurrent);
}

// A full disk (here a file-size limit) that shows only when the last buffered bytes go out.
TEST_F(ImporterTest, SaveThatFailsPartwayKeepsEveryGroupOfTheOldFile)
{
    QByteArray text = "[General]\nNumberGroups=3\n";
    for (int i = 1; i <= 3; ++i) {
        text += QStringLiteral("[Group%1]\nName=Group %1\nDirectory=/drop/%1\nStartHDRef=%100\n"
                               "EndHDRef=%199\nOverrideDescription=%2\n")
                    .arg(i)
                    .arg(QString(1500, QChar('a' + i)))
                    .toUtf8();
    }
    writeFile(text);
    cImporter& imp = load();
    ASSERT_EQ(imp.NumberGroups(), 3);
    ASSERT_TRUE(save());
    const QString before = rawFile();
    ASSERT_GT(before.size(), 4096);

    imp.ImporterGroup(1)->GroupName = "Renamed";
    {
        ScriptedAnswerer answers;
        answers.Expect(MsgBoxResult::OK);
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        EXPECT_FALSE(save());
    }
    EXPECT_EQ(rawFile().size(), before.size());
    EXPECT_TRUE(rawFile() == before);
    EXPECT_EQ(QDir(Globals::ToolProfileFolder).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Importer.ini"});
    EXPECT_TRUE(save());
    EXPECT_EQ(value("Group1", "Name"), "Renamed");
    EXPECT_EQ(value("Group3", "Name"), "Group 3");
}

// A save the disk refuses is said at once by every routine that saves: the change holds for this
// run only.
TEST_F(ImporterTest, ASaveTheDiskRefusesIsReportedByEveryRoutineThatSaves)
{
    writeFile("[General]\nNumberGroups=2\n[Group1]\nName=A\nOverrideDescription=" +
              QByteArray(5000, 'a') + "\n[Group2]\nName=B\n");
    cImporter& imp = load();
    ScriptedDialogs dialogs;
    imp.setDialogs(&dialogs);
    ScriptedAnswerer answers([](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.Prompt.toStdString();
    });
    const QString before = rawFile();
    qint16 first = 1;
    qint16 second = 2;
    const std::function<void()> saves[] = {
        [&] { EXPECT_TRUE(imp.DisplayGroup(first)); },
        [&] { EXPECT_EQ(imp.AddGroup(), 3); },
        [&] { EXPECT_TRUE(imp.RemoveGroup(second)); },
        [&] { EXPECT_FALSE(imp.DisplaySettings()); },
    };
    const QString box = "The settings could not be saved to '" + file +
                        "':\nFile too large\n\nThe change holds only until the program ends.";
    const QString line = "Couldn't save the settings to '" + file +
                         "' Error: File too large; the change holds only until the program ends";
    int shown = 0;
    for (const auto& save : saves) {
        answers.Expect(MsgBoxResult::OK);
        {
            const FileSizeLimit limit(4096);
            save();
        }
        ASSERT_EQ(answers.Shown().size(), ++shown);
        EXPECT_EQ(answers.Shown().last().Prompt.toStdString(), box.toStdString());
        EXPECT_EQ(answers.Shown().last().Icon(), MsgBoxStyle::Exclamation);
        EXPECT_EQ(appLogLines().filter(line).size(), shown)
            << appLogLines().join("\n").toStdString();
    }
    EXPECT_TRUE(rawFile() == before);
    EXPECT_EQ(imp.NumberGroups(), 2);
}

TEST_F(ImporterTest, SettingsFileIsPrivateToItsOwner)
{
    load();
    ASSERT_TRUE(save());
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A file handed over readable by all is tightened, also across a rewrite.
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
    importer->setSMTPPassword("changed");
    ASSERT_TRUE(save());
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ImporterTest, AddToLogReachesSignalAndApplicationLog)
{
    importer = std::make_unique<cImporter>();
    QSignalSpy spy(importer.get(), &cImporter::LogEventAdded);

    importer->AddToLog("", "Loaded Settings OK");
    importer->AddToLog("GRP:2", "Imported 'a.wav'");

    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(1).toString(), "Loaded Settings OK");
    EXPECT_EQ(spy.at(1).at(1).toString(), "GRP:2:Imported 'a.wav'");
    EXPECT_LE(qAbs(spy.at(1).at(0).toDateTime().secsTo(QDateTime::currentDateTime())), 5);

    const QStringList lines = appLogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("Loaded Settings OK"));
    EXPECT_FALSE(lines[0].contains(":Loaded"));
    EXPECT_TRUE(lines[1].endsWith("GRP:2:Imported 'a.wav'"));
}

TEST_F(ImporterTest, AnUnwritableApplicationLogNeitherThrowsNorLosesTheHistoryLine)
{
    importer = std::make_unique<cImporter>();
    QSignalSpy spy(importer.get(), &cImporter::LogEventAdded);
    // The append never creates folders, so a vanished log folder makes every write fail.
    ASSERT_TRUE(QDir(QFileInfo(Globals::AppLogFile).path()).removeRecursively());

    EXPECT_NO_THROW(importer->AddToLog("GRP:1", "Imported 'a.wav'"));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_NO_THROW(importer.reset()); // "Importer Closing" is logged from the destructor
}

TEST_F(ImporterTest, RegistersWithTheStoreAndRelaysItsProgress)
{
    RecordingStore store;
    Globals::PlayoutAudio = &store;
    importer = std::make_unique<cImporter>();
    ASSERT_EQ(store.registered.size(), 1);
    IAudioCallback* sink = store.registered.first();
    ASSERT_EQ(sink, static_cast<IAudioCallback*>(importer.get()));

    QSignalSpy started(importer.get(), &cImporter::ProcessStarted);
    QSignalSpy progress(importer.get(), &cImporter::ProcessProgress);
    QSignalSpy ended(importer.get(), &cImporter::ProcessEnd);
    bool cancel = false;
    sink->ProgressStart(7, "Importing", true, cancel);
    sink->Progress2(7, "Importing", 42.6f, cancel);
    sink->Progress("1234", 50.0f, cancel);
    sink->ProgressEnd(7, "Importing", true);
    EXPECT_FALSE(cancel);
    cancel = true;
    sink->Progress2(7, "Importing", 10.0f, cancel);
    EXPECT_TRUE(cancel);

    ASSERT_EQ(started.count(), 1);
    EXPECT_EQ(started.at(0).at(0).toString(), "Importing");
    EXPECT_TRUE(started.at(0).at(1).toBool());
    ASSERT_EQ(progress.count(), 2);
    EXPECT_EQ(progress.at(0).at(1).value<qint16>(), 43);
    ASSERT_EQ(ended.count(), 1);
    EXPECT_TRUE(ended.at(0).at(1).toBool());

    QSignalSpy logged(importer.get(), &cImporter::LogEventAdded);
    importer.reset();
    EXPECT_EQ(store.unregistered, QList<IAudioCallback*>{sink});
    ASSERT_EQ(logged.count(), 1);
    EXPECT_EQ(logged.at(0).at(1).toString(), "Importer Closing");
    EXPECT_TRUE(appLogLines().last().endsWith("Importer Closing"));
}

TEST_F(ImporterTest, DialogMembersSaveAsTheirWindowsAnswer)
{
    importer = std::make_unique<cImporter>();
    QString none;
    EXPECT_FALSE(importer->ReadSettings(none));
    EXPECT_FALSE(importer->WriteSettings(none)); // no profile remembered yet
    cImporter& imp = load();
    qint16 first = 1;
    EXPECT_EQ(imp.AddGroup(), 0); // no windows: nothing shown, nothing written
    EXPECT_FALSE(imp.DisplaySettings());
    EXPECT_FALSE(QFile::exists(file));

    ScriptedDialogs dialogs;
    imp.setDialogs(&dialogs);
    dialogs.accept = false;
    EXPECT_EQ(imp.AddGroup(), 0);
    EXPECT_EQ(imp.NumberGroups(), 0);
    EXPECT_TRUE(QFile::exists(file)); // saved even though cancelled

    dialogs.accept = true;
    dialogs.editGroup = [](cImporterGroup& g) { g.GroupName = "Promos"; };
    EXPECT_EQ(imp.AddGroup(), 1);
    EXPECT_EQ(value("Group1", "Name"), "Promos");
    EXPECT_EQ(value("Group1", "Enabled"), "1"); // a new group starts enabled

    qint16 outside = 2;
    EXPECT_FALSE(imp.DisplayGroup(outside));
    dialogs.editGroup = [](cImporterGroup& g) { g.GroupName = "Trails"; };
    EXPECT_TRUE(imp.DisplayGroup(first));
    EXPECT_EQ(value("Group1", "Name"), "Trails");
    dialogs.accept = false;
    EXPECT_FALSE(imp.DisplayGroup(first));

    dialogs.accept = true;
    dialogs.editImporter = [](cImporter& i) { i.setSMTPServerAddress("smtp.example.org"); };
    EXPECT_TRUE(imp.DisplaySettings());
    EXPECT_EQ(value("SMTPServer", "Address"), "smtp.example.org");
    EXPECT_EQ(dialogs.groupCalls, 4);
    EXPECT_TRUE(imp.WriteSettings(none));
    EXPECT_EQ(none, "Main"); // the remembered profile is handed back
}

class OverridesTest : public ::testing::Test
{
protected:
    void TearDown() override { cImporterGroup::setClock({}); }

    static Cart cart()
    {
        Cart c;
        c.OutPoint = 30.0f;
        c.Extro = 25.0f;
        c.IntroStart = 2.0f;
        c.IntroEnd = 5.0f;
        c.SourceFile = "file:///media/Drop/1234 Station Jingle.wav";
        return c;
    }

    cImporterGroup group;
};

TEST_F(OverridesTest, MarkersAreClampedInOrder)
{
    EXPECT_EQ(group.PerformOverrides(nullptr), 0);
    Cart c = cart();
    EXPECT_EQ(group.PerformOverrides(&c), 0);
    EXPECT_EQ(c.Extro, 25.0f);
    group.OverrideExtro = 0.0f; // zero is no extro override
    EXPECT_EQ(group.PerformOverrides(&c), 0);
    group.OverrideTitle = "x";
    EXPECT_EQ(group.PerformOverrides(nullptr), 0);
    group.OverrideTitle.clear();
    c = cart();
    group.OverrideExtro = 0.05f;
    EXPECT_EQ(group.PerformOverrides(&c), 1);
    EXPECT_FLOAT_EQ(c.Extro, 0.1f);

    c = cart();
    group.OverrideExtro = 99.0f;
    group.OverrideIntroStart = 40.0f; // beyond the new extro
    group.OverrideIntroEnd = 100.0f;
    EXPECT_EQ(group.PerformOverrides(&c), 3);
    EXPECT_FLOAT_EQ(c.Extro, 30.0f);
    EXPECT_FLOAT_EQ(c.IntroStart, 30.0f);
    // Bounds inverted (30 to 29.99): whatever the clamp gives, it is never the raw value.
    EXPECT_LE(c.IntroEnd, 30.0f);

    c = cart();
    group.OverrideExtro = 20.0f;
    group.OverrideIntroStart = 0.0f; // zero is applied
    group.OverrideIntroEnd = 50.0f;
    EXPECT_EQ(group.PerformOverrides(&c), 3);
    EXPECT_FLOAT_EQ(c.IntroStart, 0.0f);
    EXPECT_FLOAT_EQ(c.IntroEnd, 19.99f);

    c = cart();
    group.OverrideExtro = -1.0f;
    group.OverrideIntroStart = 10.0f;
    group.OverrideIntroEnd = 1.0f; // below the intro start
    EXPECT_EQ(group.PerformOverrides(&c), 2);
    EXPECT_FLOAT_EQ(c.IntroEnd, 10.0f);
}

// A freshly imported cart has no extro (-1): the intro markers are bounded by the cart's end.
TEST_F(OverridesTest, IntroMarkersOfACartWithoutExtroStayWithinItsAudio)
{
    Cart c = cart();
    c.Extro = -1.0f;
    c.IntroStart = -1.0f;
    c.IntroEnd = -1.0f;
    group.OverrideIntroStart = 2.0f;
    group.OverrideIntroEnd = 5.0f;
    EXPECT_EQ(group.PerformOverrides(&c), 2);
    EXPECT_FLOAT_EQ(c.IntroStart, 2.0f);
    EXPECT_FLOAT_EQ(c.IntroEnd, 5.0f);
    EXPECT_FLOAT_EQ(c.Extro, -1.0f); // still none

    c = cart();
    c.Extro = -1.0f;
    group.OverrideIntroStart = 40.0f;
    group.OverrideIntroEnd = 50.0f;
    EXPECT_EQ(group.PerformOverrides(&c), 2);
    EXPECT_FLOAT_EQ(c.IntroStart, 30.0f); // the out point
    EXPECT_FLOAT_EQ(c.IntroEnd, 29.99f);

    // An out point not set yet: the cart's length ends the audio.
    c = cart();
    c.Extro = -1.0f;
    c.OutPoint = 0.0f;
    c.Length = 12.0f;
    EXPECT_EQ(group.PerformOverrides(&c), 2);
    EXPECT_FLOAT_EQ(c.IntroStart, 12.0f);
    EXPECT_FLOAT_EQ(c.IntroEnd, 11.99f);
}

TEST_F(OverridesTest, TagsMatchInAnyCaseAndFileTagsSeeTheStoredSource)
{
    const QDateTime at(QDate(2026, 12, 6), QTime(14, 35, 41));
    cImporterGroup::setClock([at] { return at; });
    group.OverrideTitle = "Imported <CurrentDateTime>";
    group.OverrideArtist = "<currenttime> <CURRENTDATETIMEXML> <FileFullName>";
    group.OverrideDescription = "<filetitle>|<FILEEXTENSION>|<FilePath>|<FILENAME>|plain";
    Cart c = cart();
    c.SourceFile = "FILE:///media/Drop/1234 Station Jingle.wav";

    EXPECT_EQ(group.PerformOverrides(&c), 3);
    EXPECT_TRUE(c.Title.startsWith(
        "Imported " + QLocale::system().toString(at.date(), QLocale::ShortFormat) + " "));
    EXPECT_FALSE(c.Title.contains('<'));
    EXPECT_EQ(c.Artist, "14:35:41 2026-12-06T14:35:41 /media/Drop/1234 Station Jingle.wav");
    const QStringList parts = c.Description.split('|');
    ASSERT_EQ(parts.size(), 5);
    EXPECT_EQ(parts[0], "1234 Station Jingle");
    EXPECT_EQ(parts[1], "wav");
    EXPECT_TRUE(parts[2].startsWith("FILE://")) << parts[2].toStdString(); // left as stored
    EXPECT_EQ(parts[3], "1234 Station Jingle.wav");
    EXPECT_EQ(parts[4], "plain");
}

} // namespace
