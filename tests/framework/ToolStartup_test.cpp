#include "framework/DebugLog.h"
#include "framework/StartupSplash.h"
#include "framework/ToolGlobals.h"
#include "framework/ToolStartup.h"
#include "framework/widgets/ToolsCommon.h"
#include "framework/widgets/frmSplash.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/directory/DirectoryApplications.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/profiles/PlayoutProfile.h"
#include "platform/profiles/ProfileAudioSettings.h"
#include "platform/profiles/ProfileLibrary.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/RegistryFunctions.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kToolsKey = "Software\\Orvane\\Corvella v3\\Tools";

// Everything the fakes see, in order.
QStringList g_events;

class FakeApplications : public DirectoryApplications
{
public:
    qint32 Register(qint32 code, QObject* application) override
    {
        g_events << QString("Register %1 %2").arg(code).arg(application != nullptr);
        return 0;
    }
    qint32 Unregister(qint32 code, QObject* application) override
    {
        g_events << QString("Unregister %1 %2").arg(code).arg(application != nullptr);
        return 0;
    }
};

class FakeDirectory : public DirectoryInterface
{
public:
    ~FakeDirectory() override { g_events << "directory released"; }
    void setDebugLevel(qint32 level) override { g_events << QString("DebugLevel %1").arg(level); }
    void setProfileName(const QString& name) override { g_events << "ProfileName " + name; }
    void setApplicationCode(qint32 code) override
    {
        g_events << QString("ApplicationCode %1").arg(code);
    }
    void setApplicationName(const QString& name) override { g_events << "ApplicationName " + name; }
    void setModeFlags(qint32 flags) override { g_events << QString("ModeFlags %1").arg(flags); }
    qint16 OpenDefaultDirectory(bool) override
    {
        g_events << "OpenDefaultDirectory";
        return OpenResult;
    }
    DirectoryApplications* Applications() override { return &m_applications; }
    std::shared_ptr<DirectoryUser> GetUserByGuid(const QString& guid) override
    {
        g_events << "GetUserByGuid " + guid;
        return nullptr;
    }
    qint32 LoginUser(std::shared_ptr<DirectoryUser>&, qint32, const QString&) override { return 1; }
    qint32 LoginDialog(qint32, const QString&, QObject*, bool, qint32) override
    {
        g_events << "LoginDialog";
        return LoginDialogResult;
    }
    std::shared_ptr<DirectoryUser> CurrentUser() override { return nullptr; }
    void ShowSettingsDialog() override {}
    void BeginShutdown() override { g_events << "BeginShutdown"; }
    void CloseDirectory() override { g_events << "CloseDirectory"; }

    static inline qint16 OpenResult = 0;
    static inline qint32 LoginDialogResult = 0;

private:
    FakeApplications m_applications;
};

class RecordingAudioSettings : public ProfileAudioSettings
{
public:
    ~RecordingAudioSettings() override { g_events << "audio settings released"; }
};

class RecordingPlayout : public PlayoutProfile
{
public:
    ~RecordingPlayout() override { g_events << "playout released"; }
    qint32 OpenProfile(const QString& name, qint32 flags, bool createNew) override
    {
        g_events << QString("OpenProfile %1 %2").arg(name).arg(flags);
        return PlayoutProfile::OpenProfile(name, flags, createNew);
    }
    bool Start(QObject* application, qint32 flags) override
    {
        g_events << QString("Start %1").arg(flags);
        return StartResult && PlayoutProfile::Start(application, flags);
    }
    static inline bool StartResult = true;
};

class FakeLibrary : public ProfileLibrary
{
public:
    void setSuggestedProfile(const QString& name) override { g_events << "Suggested " + name; }
    QString ChooseProfile(const QString& registryKey, QObject* owner) override
    {
        g_events << "ChooseProfile " + registryKey;
        return Answer;
    }
    static inline QString Answer;
};

class RecordingSplash : public StartupSplash
{
public:
    void setNumberIcons(qint16 value) override { Calls << QString("NumberIcons %1").arg(value); }
    void SetIconInfo(qint16 index, const QString& key, const QString& caption) override
    {
        Calls << QString("Icon %1 %2 %3").arg(index).arg(key, caption);
    }
    void SetCurrentAction(const QString& action) override { Calls << "Action " + action; }
    void ShowAndYield() override { Calls << "Show"; }
    QStringList Calls;
};

class ToolStartupTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        g_events.clear();
        FakeDirectory::OpenResult = 0;
        FakeDirectory::LoginDialogResult = 0;
        RecordingPlayout::StartResult = true;
        FakeLibrary::Answer.clear();

        ToolStartup::Components& components = ToolStartup::Current();
        components.CommandLine = [this] { return m_commandLine; };
        components.NewDirectoryInterface = [] {
            g_events << "directory created";
            return std::make_unique<FakeDirectory>();
        };
        components.NewAudioSettingsInterface = [] {
            g_events << "audio settings created";
            return std::make_unique<RecordingAudioSettings>();
        };
        components.NewProfileLibrary = [] {
            g_events << "library created";
            return std::make_unique<FakeLibrary>();
        };
        components.NewPlayoutGeneral = [] {
            g_events << "playout created";
            return std::make_unique<RecordingPlayout>();
        };
        components.LoadSplash = [this] { return &m_splash; };
        components.Wait = [](double seconds) { g_events << QString("Wait %1").arg(seconds); };

        // Trace at level 5 into a folder of the test.
        m_debugFolder = m_home.File("debug");
        GeneralFunctions::instance().setDebugLevel(5);
        GeneralFunctions::instance().setDebugPath(m_debugFolder + "/");
    }

    void TearDown() override
    {
        TerminateTool();
        ToolStartup::Current() = ToolStartup::Defaults();
        GeneralFunctions::instance().setDebugLevel(0);
        GeneralFunctions::instance().setDebugPath(QString());
        Globals::ProfileName.clear();
        Globals::ToolProfileFolder.clear();
        Globals::SharedProfileFolder.clear();
        Globals::Silent = false;
        frmSplash::Unload();
    }

    bool Start(const QString& commandLine, qint32 securityMode = 1, qint32 playoutFlags = 256,
               QString forced = QString())
    {
        m_commandLine = commandLine;
        return ToolStartup::Initialise("Cartfeeder", securityMode, true, forced, playoutFlags);
    }

    // The trace lines written so far, without times and indentation.
    QStringList Trace() const
    {
        QStringList lines;
        for (const QFileInfo& file : QDir(m_debugFolder).entryInfoList({"*.log"}, QDir::Files)) {
            QFile log(file.filePath());
            if (log.open(QIODevice::ReadOnly)) {
                for (const QString& line : QString::fromUtf8(log.readAll()).split("\r\n")) {
                    if (!line.isEmpty()) {
                        lines << line.mid(8).trimmed();
                    }
                }
            }
        }
        return lines;
    }

    QString LastProfile() const
    {
        return RegistryFunctions::instance().ReadString(Hive::CurrentUser, kToolsKey, "LastProfile",
                                                        "(missing)");
    }

    QString ToolProfiles() const
    {
        return PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles";
    }

    TempHome m_home;
    FreshDebugLogState m_debugLog;
    QString m_commandLine;
    QString m_debugFolder;
    RecordingSplash m_splash;
};

TEST_F(ToolStartupTest, CommandLineProfileWinsOverForcedAndLeavesLastProfile)
{
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kToolsKey, "LastProfile", "Old");
    ASSERT_TRUE(Start("/NOPREVCHECK /profile=StudioTwo /SILENT", 0, 0, "Forced"));
    EXPECT_EQ(Globals::ProfileName, "StudioTwo");
    EXPECT_FALSE(g_events.contains("library created"));
    EXPECT_EQ(LastProfile(), "Old");
    EXPECT_TRUE(Trace().contains("Command line forcing Profile 'StudioTwo'"));
    EXPECT_EQ(Globals::ToolProfileFolder, ToolProfiles() + "/StudioTwo");
    EXPECT_TRUE(QDir(Globals::ToolProfileFolder).exists());
    EXPECT_EQ(Globals::SharedProfileFolder,
              PlatformPaths::DataHome() + "/Orvane/Corvella v3/Profiles/StudioTwo");
    EXPECT_TRUE(QDir(Globals::SharedProfileFolder).exists());
}

TEST_F(ToolStartupTest, ForcedProfileWinsOverChooser)
{
    ASSERT_TRUE(Start("/NOPREVCHECK", 0, 0, "Forced"));
    EXPECT_EQ(Globals::ProfileName, "Forced");
    EXPECT_FALSE(g_events.contains("library created"));
    EXPECT_EQ(LastProfile(), "(missing)");
    EXPECT_TRUE(Trace().contains("Forcing Profile (not via Command Line) 'Forced'"));
}

TEST_F(ToolStartupTest, ChooserOffersLastProfileAndRemembersTheChoice)
{
    FakeLibrary::Answer = "Chosen";
    ASSERT_TRUE(Start("/NOPREVCHECK", 0, 0));
    EXPECT_TRUE(g_events.contains("Suggested Profile1"));
    EXPECT_TRUE(g_events.contains("ChooseProfile Software\\Orvane\\Corvella v3\\Profiles"));
    EXPECT_EQ(Globals::ProfileName, "Chosen");
    EXPECT_EQ(LastProfile(), "Chosen");
    const QStringList trace = Trace();
    EXPECT_TRUE(trace.contains("Getting Profile Name (Suggesting 'Profile1')"));
    EXPECT_TRUE(trace.contains("Profile Chosen: 'Chosen'"));
    EXPECT_TRUE(m_splash.Calls.contains("Action Creating Profile Library"));
    TerminateTool();

    g_events.clear();
    FakeLibrary::Answer = "Next";
    ASSERT_TRUE(Start("/NOPREVCHECK", 0, 0));
    EXPECT_TRUE(g_events.contains("Suggested Chosen"));
    EXPECT_EQ(LastProfile(), "Next");
}

TEST_F(ToolStartupTest, CancelledChooserStopsBeforeFoldersAndInterfaces)
{
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kToolsKey, "LastProfile", "Old");
    FakeLibrary::Answer = "";
    EXPECT_FALSE(Start("/NOPREVCHECK"));
    EXPECT_EQ(LastProfile(), "Old");
    EXPECT_TRUE(Trace().contains("No Profile chosen so finished"));
    EXPECT_FALSE(QDir(ToolProfiles()).exists());
    EXPECT_FALSE(QDir(PlatformPaths::DataHome() + "/Orvane/Corvella v3/Profiles").exists());
    EXPECT_EQ(Globals::DirectoryInterface, nullptr);
    EXPECT_EQ(Globals::AudioSettingsInterface, nullptr);
    EXPECT_EQ(Globals::PlayoutGeneral, nullptr);
    EXPECT_FALSE(g_events.contains("directory created"));
    EXPECT_FALSE(g_events.contains("audio settings created"));
}

TEST_F(ToolStartupTest, BadProfileNamesAreRefused)
{
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kToolsKey, "LastProfile", "Old");
    const QStringList bad = {"../../escape",
                             "a/b",
                             "..",
                             ".",
                             "   ",
                             "back\\slash",
                             QString("tab\there"),
                             QString("new\nline"),
                             QString(300, 'x')};
    for (const QString& name : bad) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(ToolStartup::ProfileNameProblem(name).isEmpty());

        FakeLibrary::Answer = name;
        EXPECT_FALSE(Start("/NOPREVCHECK"));
        EXPECT_EQ(LastProfile(), "Old");
        EXPECT_FALSE(Start("/NOPREVCHECK /Profile=\"" + name + "\""));
        EXPECT_FALSE(Start("/NOPREVCHECK", 1, 256, name));
        EXPECT_EQ(Globals::AudioSettingsInterface, nullptr);
        EXPECT_EQ(Globals::DirectoryInterface, nullptr);
    }
    // Nothing was created below or beside the profile folders.
    EXPECT_FALSE(QDir(PlatformPaths::DataHome() + "/Orvane/Cartvault v3").exists());
    EXPECT_FALSE(QDir(PlatformPaths::DataHome() + "/Orvane/Corvella v3/Profiles").exists());
    EXPECT_FALSE(QDir(PlatformPaths::DataHome() + "/escape").exists());
    EXPECT_TRUE(Trace().filter("Refused Profile '").size() >= bad.size() * 3);

    for (const QString& good : QStringList{"Studio 2", "...", "Night-Shift_1", "Bühne"}) {
        EXPECT_EQ(ToolStartup::ProfileNameProblem(good), "") << good.toStdString();
    }
}

TEST_F(ToolStartupTest, PlayersOverride)
{
    EXPECT_EQ(ToolStartup::PlayersOverride("5"), 5);
    EXPECT_EQ(ToolStartup::PlayersOverride("7ABC"), 7);
    EXPECT_EQ(ToolStartup::PlayersOverride("ABC"), 0);
    EXPECT_EQ(ToolStartup::PlayersOverride(""), 0);
    EXPECT_EQ(ToolStartup::PlayersOverride("4.5"), 4);
    EXPECT_EQ(ToolStartup::PlayersOverride("5.5"), 6);
    EXPECT_EQ(ToolStartup::PlayersOverride("-3"), -3);
    EXPECT_EQ(ToolStartup::PlayersOverride("70000"), 0);
    EXPECT_EQ(ToolStartup::PlayersOverride("99999999999999999999"), 0);

    struct Case
    {
        QString Line;
        qint16 Players;
    };
    // A new profile has the default number of players.
    ASSERT_EQ(ProfileAudioSettings::DefaultNumberPlayers, 2);
    const Case cases[] = {{"/players=5", 5}, {"/PLAYERS=0", 2},     {"/PLAYERS=abc", 2},
                          {"/PLAYERS=2", 2}, {"/PLAYERS=70000", 2}, {"/PLAYERS=-4", 2},
                          {"/XPLAYERS=6", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        const FreshDebugLogState fresh;
        QDir(m_debugFolder).removeRecursively();
        ASSERT_TRUE(Start("/NOPREVCHECK /Profile=P " + c.Line, 0, 0));
        ASSERT_NE(Globals::AudioSettingsInterface, nullptr);
        EXPECT_EQ(Globals::AudioSettingsInterface->NumberPlayers(), c.Players);
        EXPECT_EQ(Trace().filter("Overriding NumberPlayers to ").size(), c.Players == 2 ? 0 : 1);
        if (c.Players != 2) {
            EXPECT_TRUE(Trace().contains("Overriding NumberPlayers to 5"));
        }
        TerminateTool();
    }
}

TEST_F(ToolStartupTest, NoSecurityNoPlayoutCreatesOnlyAudioSettings)
{
    ASSERT_TRUE(Start("/NOPREVCHECK /Profile=P", 0, 0));
    EXPECT_EQ(g_events.filter("created"), QStringList{"audio settings created"});
    EXPECT_NE(Globals::AudioSettingsInterface, nullptr);
    EXPECT_EQ(Globals::DirectoryInterface, nullptr);
    EXPECT_EQ(Globals::PlayoutGeneral, nullptr);
    EXPECT_EQ(Globals::PlayoutAudio, nullptr);
    EXPECT_EQ(Globals::PlayoutLogging, nullptr);
    // Two icons only, and no security icon lit.
    EXPECT_TRUE(m_splash.Calls.contains("NumberIcons 2"));
    EXPECT_TRUE(m_splash.Calls.filter("security").isEmpty());

    g_events.clear();
    TerminateTool();
    EXPECT_EQ(g_events, QStringList{"audio settings released"});
    EXPECT_EQ(Globals::AudioSettingsInterface, nullptr);
}

TEST_F(ToolStartupTest, FullStartInOrder)
{
    ASSERT_TRUE(Start("/NOPREVCHECK /Profile=Studio"));
    ASSERT_NE(Globals::PlayoutGeneral, nullptr);
    EXPECT_EQ(Globals::PlayoutAudio, Globals::PlayoutGeneral->Audio());
    EXPECT_EQ(Globals::PlayoutLogging, Globals::PlayoutGeneral->Logging());
    EXPECT_EQ(Globals::PlayoutAudio->AudioSettings(), Globals::AudioSettingsInterface);
    EXPECT_NE(Globals::DirectoryInterface, nullptr);

    const QString app = QCoreApplication::applicationName();
    const QStringList expectedEvents = {
        "directory created",
        "DebugLevel 5",
        "ProfileName Studio",
        "ApplicationCode 2",
        "ApplicationName " + app,
        "ModeFlags 7",
        "OpenDefaultDirectory",
        "Register 2 1",
        "audio settings created",
        "playout created",
        "OpenProfile Studio 256",
        "Start 256",
        "Wait 0.3",
    };
    EXPECT_EQ(g_events, expectedEvents);

    const QStringList expectedTrace = {
        "Started InitialiseTool",
        "Check if already running",
        "Read StartupOptions /NOPREVCHECK /PROFILE=STUDIO",
        "Checking/Creating All Users\\App Data\\Corvella v3 folder",
        "Initalising Localisation",
        "Command line forcing Profile 'Studio'",
        "Creating Orvane Directory Interface",
        "Opening Default Directory",
        "Creating Audio Settings Interface",
        "Loading Profile 'Studio' into Audio Settings Interface",
        "Creating Playout Interface (General)",
        "Creating Playout Interface (Audio)",
        "Creating Playout Interface (Logging)",
        "Finished OK",
    };
    QStringList trace = Trace();
    // "/NOPREVCHECK" skips the instance check and its line.
    QStringList expected = expectedTrace;
    expected.removeAll("Check if already running");
    EXPECT_EQ(trace, expected);

    const QStringList expectedSplash = {
        "NumberIcons 3",
        "Icon 1 local Local Settings",
        "Icon 2 playout Audio Systems",
        "Icon 3 security User Security",
        "Action Initialising Tool",
        "Show",
        "Icon 1 localon Local Settings",
        "Action Creating Directory Interface",
        "Action Opening Orvane Directory",
        "Action Creating Audio Settings Interface",
        "Action Loading Audio Settings Profile",
        "Action Creating Playout Interface (General)",
        "Action Creating Playout Interface (Audio)",
        "Action Creating Playout Interface (Logging)",
        "Icon 2 playouton Audio Systems",
        "Icon 3 securityon User Security",
        "Action Finished Initialising Tool",
    };
    EXPECT_EQ(m_splash.Calls, expectedSplash);

    g_events.clear();
    TerminateTool();
    EXPECT_EQ(g_events,
              (QStringList{"playout released", "audio settings released", "BeginShutdown",
                           "Unregister 2 1", "CloseDirectory", "Wait 0.3", "directory released"}));
    EXPECT_TRUE(Trace().endsWith("Finished OK"));
    EXPECT_TRUE(Trace().contains("Start TerminateTool"));
}

TEST_F(ToolStartupTest, SilentShowsNoSplashAndSkipsThePause)
{
    ASSERT_TRUE(Start("/NOPREVCHECK /Profile=Studio /silently"));
    EXPECT_TRUE(Globals::Silent);
    EXPECT_TRUE(m_splash.Calls.isEmpty());
    EXPECT_FALSE(g_events.contains("Wait 0.3"));
    EXPECT_NE(Globals::PlayoutAudio, nullptr);

    // ShowSplash false likewise.
    TerminateTool();
    QString forced;
    qint32 flags = 0;
    m_commandLine = "/NOPREVCHECK /Profile=Studio";
    ASSERT_TRUE(ToolStartup::Initialise("Cartfeeder", 0, false, forced, flags));
    EXPECT_FALSE(Globals::Silent);
    EXPECT_TRUE(m_splash.Calls.isEmpty());
}

TEST_F(ToolStartupTest, FailedStartLeavesGeneralAndSettingsForTerminate)
{
    RecordingPlayout::StartResult = false;
    EXPECT_FALSE(Start("/NOPREVCHECK /Profile=Studio"));
    EXPECT_NE(Globals::PlayoutGeneral, nullptr);
    EXPECT_NE(Globals::AudioSettingsInterface, nullptr);
    EXPECT_NE(Globals::DirectoryInterface, nullptr);
    EXPECT_EQ(Globals::PlayoutAudio, nullptr);
    EXPECT_EQ(Globals::PlayoutLogging, nullptr);
    EXPECT_FALSE(Trace().contains("Finished OK"));
    EXPECT_FALSE(m_splash.Calls.contains("Action Creating Playout Interface (Audio)"));

    g_events.clear();
    TerminateTool();
    EXPECT_EQ(g_events,
              (QStringList{"playout released", "audio settings released", "BeginShutdown",
                           "Unregister 2 1", "CloseDirectory", "Wait 0.3", "directory released"}));
    EXPECT_EQ(Globals::PlayoutGeneral, nullptr);
    EXPECT_EQ(Globals::AudioSettingsInterface, nullptr);
    EXPECT_EQ(Globals::DirectoryInterface, nullptr);

    // A second call finds nothing to release.
    g_events.clear();
    TerminateTool();
    EXPECT_TRUE(g_events.isEmpty());
}

TEST_F(ToolStartupTest, UnopenedDirectoryStopsStartUp)
{
    FakeDirectory::OpenResult = 1;
    EXPECT_FALSE(Start("/NOPREVCHECK /Profile=Studio"));
    EXPECT_TRUE(Trace().endsWith("Failed so finished"));
    EXPECT_FALSE(g_events.contains("Register 2 1"));
    EXPECT_FALSE(g_events.contains("audio settings created"));
    EXPECT_NE(Globals::DirectoryInterface, nullptr);
}

TEST_F(ToolStartupTest, SecurityModeThreeLogsIn)
{
    FakeDirectory::LoginDialogResult = 1;
    EXPECT_FALSE(Start("/NOPREVCHECK /Profile=Studio /UserGuid=abc-1", 3, 0));
    // The identifier comes from the upper-cased line; the user is not found, so the dialog.
    EXPECT_TRUE(g_events.contains("GetUserByGuid ABC-1"));
    EXPECT_TRUE(g_events.endsWith("LoginDialog"));
    TerminateTool();

    g_events.clear();
    FakeDirectory::LoginDialogResult = 0;
    EXPECT_TRUE(Start("/NOPREVCHECK /Profile=Studio", 3, 0));
    EXPECT_FALSE(g_events.filter("GetUserByGuid").size() > 0);
    EXPECT_TRUE(g_events.contains("LoginDialog"));
}

// Runs in a fresh process: once an instance check has passed, this process keeps the lock.
// Reports the first failed check on the standard error output and exits with its line number.
int SecondInstanceScenario(ToolStartupTest& test)
{
#define CHECK_OR_EXIT(condition)                                                                   \
    if (!(condition)) {                                                                            \
        std::fprintf(stderr, "failed: %s\n", #condition);                                          \
        return __LINE__;                                                                           \
    }
    // Another instance holds its share of the per-user lock (flock locks belong to the open
    // file, so a second open stands for a second process).
    const QByteArray lockPath = QFile::encodeName(GeneralFunctions::LockFilePath());
    QDir().mkpath(QFileInfo(QFile::decodeName(lockPath)).absolutePath());
    const int other = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    CHECK_OR_EXIT(other >= 0);
    CHECK_OR_EXIT(::flock(other, LOCK_SH | LOCK_NB) == 0);

    CHECK_OR_EXIT(!test.Start("/Profile=Studio"));
    CHECK_OR_EXIT(test.Trace().endsWith("Exit as App already running"));
    CHECK_OR_EXIT(g_events.isEmpty());
    CHECK_OR_EXIT(!QDir(PlatformPaths::DataHome() + "/Orvane").exists());

    // In any case, also inside a longer word: no check at all.
    const qsizetype checks = test.Trace().filter("Check if already running").size();
    CHECK_OR_EXIT(test.Start("/Profile=Studio /noPrevCheckPlease"));
    CHECK_OR_EXIT(test.Trace().filter("Check if already running").size() == checks);
    TerminateTool();

    ::close(other);
    CHECK_OR_EXIT(test.Start("/Profile=Studio"));
    TerminateTool();
    return 0;
#undef CHECK_OR_EXIT
}

TEST_F(ToolStartupTest, SecondInstanceIsRefusedUnlessNoPrevCheck)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const int result = SecondInstanceScenario(*this);
            std::fflush(stderr);
            ::_exit(result);
        },
        ::testing::ExitedWithCode(0), "");
}

// Runs in a fresh process, which forks an instance started with "/NOPREVCHECK" that lives
// until told to end. Exits with the line number of the first failed check.
int NoPrevCheckInstanceScenario(ToolStartupTest& test)
{
#define CHECK_OR_EXIT(condition)                                                                   \
    if (!(condition)) {                                                                            \
        std::fprintf(stderr, "failed: %s\n", #condition);                                          \
        return __LINE__;                                                                           \
    }
    int ready[2];
    int end[2];
    CHECK_OR_EXIT(::pipe(ready) == 0 && ::pipe(end) == 0);
    const pid_t other = ::fork();
    CHECK_OR_EXIT(other >= 0);
    if (other == 0) {
        ::close(ready[0]);
        ::close(end[1]);
        const char started = test.Start("/NOPREVCHECK /Profile=Studio", 0, 0) ? '1' : '0';
        [[maybe_unused]] auto written = ::write(ready[1], &started, 1);
        char unused;
        [[maybe_unused]] auto got = ::read(end[0], &unused, 1);
        ::_exit(0);
    }
    ::close(end[0]);
    ::close(ready[1]);
    char started = 0;
    CHECK_OR_EXIT(::read(ready[0], &started, 1) == 1 && started == '1');

    CHECK_OR_EXIT(!test.Start("/Profile=Studio"));
    CHECK_OR_EXIT(test.Trace().endsWith("Exit as App already running"));

    ::close(end[1]);
    int status = 0;
    CHECK_OR_EXIT(::waitpid(other, &status, 0) == other && WIFEXITED(status));
    CHECK_OR_EXIT(test.Start("/Profile=Studio"));
    TerminateTool();
    return 0;
#undef CHECK_OR_EXIT
}

TEST_F(ToolStartupTest, InstanceStartedWithoutTheCheckStillRefusesALaterOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const int result = NoPrevCheckInstanceScenario(*this);
            std::fflush(stderr);
            ::_exit(result);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ToolStartupTest, SplashWindowShowsTheLitSteps)
{
    ToolStartup::Current().LoadSplash = nullptr;
    m_commandLine = "/NOPREVCHECK /Profile=Studio";
    QString forced;
    qint32 flags = 0;
    ASSERT_TRUE(InitialiseTool("Cartfeeder", 1, true, forced, flags));
    frmSplash* splash = frmSplash::Loaded();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->NumberIcons(), 3);
    EXPECT_EQ(splash->lblStatus->text(), "Finished Initialising Tool");
    const char* lit[] = {"localon", "playouton", "securityon"};
    const char* captions[] = {"Local Settings", "Audio Systems", "User Security"};
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(splash->imgIcon[i]->pixmap().toImage(),
                  splash->imgIconList[lit[i - 1]].toImage());
        EXPECT_EQ(splash->lblIconDescription[i]->text(), captions[i - 1]);
    }
    EXPECT_EQ(splash->LastIconChangedIndex(), 3);
}

} // namespace
