#include "framework/ToolStartup.h"

#include "framework/CommandLineSwitches.h"
#include "framework/DebugLog.h"
#include "framework/LocalisationFN.h"
#include "framework/StartupSplash.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/CartvaultSettings.h"
#include "platform/cartstore/PlayerSetting.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/directory/DirectoryApplications.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/directory/UserDirectory.h"
#include "platform/profiles/AudioSettingsInterface.h"
#include "platform/profiles/PlayoutGeneral.h"
#include "platform/profiles/PlayoutLogging.h"
#include "platform/profiles/PlayoutProfile.h"
#include "platform/profiles/ProfileAudioSettings.h"
#include "platform/profiles/ProfileChooser.h"
#include "platform/profiles/ProfileLibrary.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QCoreApplication>
#include <cmath>

namespace {

const QString kToolsKey = QStringLiteral("Software\\Orvane\\Corvella v3\\Tools");
const QString kProfilesKey = QStringLiteral("Software\\Orvane\\Corvella v3") + "\\Profiles";

void Trace(const QString& text, qint32 indent = ovNone)
{
    AddToDebugLog(text, 5, indent);
}

QObject* Application()
{
    return QCoreApplication::instance();
}

QString ProductName()
{
    return QCoreApplication::applicationName();
}

// A name as the trace shows it: control characters would break the log's lines.
QString Printable(const QString& name)
{
    QString printable = name;
    for (QChar& c : printable) {
        if (c.category() == QChar::Other_Control) {
            c = u'?';
        }
    }
    return printable;
}

} // namespace

namespace ToolStartup {

Components Defaults()
{
    Components components;
    components.CommandLine = [] { return ApplicationCommandLine(); };
    components.NewDirectoryInterface = [] { return std::make_unique<UserDirectory>(); };
    components.NewAudioSettingsInterface = [] { return std::make_unique<ProfileAudioSettings>(); };
    components.NewProfileLibrary = [] { return std::make_unique<ProfileChooser>(); };
    components.NewPlayoutGeneral = [] { return std::make_unique<PlayoutProfile>(); };
    components.Wait = [](double seconds) { DateTimeFunctions::instance().Wait(seconds); };
    return components;
}

Components& Current()
{
    static Components components = Defaults();
    return components;
}

QString ProfileNameProblem(const QString& name)
{
    if (name.trimmed().isEmpty()) {
        return QStringLiteral("is empty");
    }
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        return QStringLiteral("is not a folder name");
    }
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\') {
            return QStringLiteral("holds a path separator");
        }
        if (c.category() == QChar::Other_Control) {
            return QStringLiteral("holds a control character");
        }
    }
    if (name.toUtf8().size() > 255) {
        return QStringLiteral("is too long");
    }
    return QString();
}

qint16 PlayersOverride(const QString& value)
{
    // Val(): blanks, a sign, digits and a decimal fraction.
    qsizetype i = 0;
    while (i < value.size() && (value.at(i) == u' ' || value.at(i) == u'\t')) {
        ++i;
    }
    const qsizetype start = i;
    if (i < value.size() && (value.at(i) == u'+' || value.at(i) == u'-')) {
        ++i;
    }
    while (i < value.size() && value.at(i) >= u'0' && value.at(i) <= u'9') {
        ++i;
    }
    if (i < value.size() && value.at(i) == u'.') {
        ++i;
        while (i < value.size() && value.at(i) >= u'0' && value.at(i) <= u'9') {
            ++i;
        }
    }
    bool ok = false;
    const double number = value.mid(start, i - start).toDouble(&ok);
    if (!ok) {
        return 0;
    }
    // Rounded as a conversion to a 16-bit integer rounds: half to even.
    const double rounded = std::nearbyint(number);
    if (rounded < -32768 || rounded > 32767) {
        return 0;
    }
    return qint16(rounded);
}

bool Initialise(const QString& ToolName, qint32 SecurityMode, bool ShowSplash,
                QString& ForcedProfile, qint32& PlayoutFlags)
{
    Components& components = Current();
    GeneralFunctions& general = GeneralFunctions::instance();
    FileFunctions& files = FileFunctions::instance();
    SystemInfoFunctions& systemInfo = SystemInfoFunctions::instance();

    const QString commandLine = components.CommandLine ? components.CommandLine() : QString();

    // 1.
    general.setApp(QCoreApplication::instance());
    InitialiseDebugMode(commandLine);
    Trace(QStringLiteral("Started InitialiseTool"), ovIndent);

    // 2.
    general.setCommandLine(commandLine.toUpper() + QLatin1Char(' '));
    const QString upperLine = general.CommandLine();

    // 3.
    if (!upperLine.contains(QLatin1String("/NOPREVCHECK"))) {
        Trace(QStringLiteral("Check if already running"));
        if (general.AlreadyRunning()) {
            Trace(QStringLiteral("Exit as App already running"), ovOutdent);
            return false;
        }
    } else {
        // Skipping the check must not hide this instance from a later one that checks.
        general.AnnounceInstance();
    }

    // 4.
    if (!systemInfo.IsMDACInstalled(true, QString())) {
        Trace(QStringLiteral("Exit as No MDAC Installed"), ovOutdent);
        return false;
    }
    bool browserFlag = true;
    if (!systemInfo.IsIE4Installed(browserFlag)) {
        Trace(QStringLiteral("Exit as IE4+ not Installed"), ovOutdent);
        return false;
    }

    // 5.
    Globals::Silent = upperLine.contains(QLatin1String("/SILENT"));
    Trace(QStringLiteral("Read StartupOptions ") + upperLine);

    // 6.
    Trace(QStringLiteral("Checking/Creating All Users\\App Data\\Corvella v3 folder"));
    files.CreateFolder(files.GetSpecialFolder(35) + QStringLiteral("/Orvane/Corvella v3"), 0);

    // 7.
    Trace(QStringLiteral("Initalising Localisation"));
    LocalisationFN::InitLocale(true);

    // 8.
    StartupSplash* splash = nullptr;
    if (ShowSplash && !Globals::Silent && components.LoadSplash) {
        splash = components.LoadSplash();
    }
    qint16 litIcon = 1;
    if (splash) {
        splash->setNumberIcons(SecurityMode == 0 ? 2 : 3);
        splash->SetIconInfo(1, QStringLiteral("local"), QStringLiteral("Local Settings"));
        splash->SetIconInfo(2, QStringLiteral("playout"), QStringLiteral("Audio Systems"));
        if (SecurityMode != 0) {
            splash->SetIconInfo(3, QStringLiteral("security"), QStringLiteral("User Security"));
        }
        splash->SetCurrentAction(QStringLiteral("Initialising Tool"));
        splash->ShowAndYield();
    }
    auto splashAction = [splash](const QString& action) {
        if (splash) {
            splash->SetCurrentAction(action);
        }
    };

    // 9.
    Globals::ProfileName.clear();
    const QString profileSwitch = GetCommandLineSwitch(
        commandLine, QStringLiteral("/Profile"), QStringLiteral("="), false, QStringLiteral(" "));
    QString profileName;
    if (!profileSwitch.isEmpty()) {
        profileName = profileSwitch;
        Trace(QStringLiteral("Command line forcing Profile '") + Printable(profileName) + "'");
    } else if (!ForcedProfile.isEmpty()) {
        profileName = ForcedProfile;
        Trace(QStringLiteral("Forcing Profile (not via Command Line) '") + Printable(profileName) +
              "'");
    } else {
        splashAction(QStringLiteral("Creating Profile Library"));
        Trace(QStringLiteral("Creating Profile Library"));
        std::unique_ptr<ProfileLibrary> library = components.NewProfileLibrary();
        const QString suggested = RegistryFunctions::instance().ReadString(
            Hive::CurrentUser, kToolsKey, QStringLiteral("LastProfile"),
            QStringLiteral("Profile1"));
        library->setSuggestedProfile(suggested);
        QString getting = QStringLiteral("Getting Profile Name");
        if (!suggested.isEmpty()) {
            getting += QStringLiteral(" (Suggesting '") + suggested + "')";
        }
        Trace(getting);
        profileName = library->ChooseProfile(kProfilesKey, nullptr);
        library.reset();
        if (profileName.isEmpty()) {
            Trace(QStringLiteral("No Profile chosen so finished"), ovOutdent);
            return false;
        }
        // Checked before it is remembered, so that a bad name is not offered again.
        const QString problem = ProfileNameProblem(profileName);
        if (problem.isEmpty()) {
            RegistryFunctions::instance().WriteString(Hive::CurrentUser, kToolsKey,
                                                      QStringLiteral("LastProfile"), profileName,
                                                      QStringLiteral("Profile1"));
            Trace(QStringLiteral("Profile Chosen: '") + profileName + "'");
        }
    }
    // Every source: the name becomes a folder name below the profile folders.
    const QString problem = ProfileNameProblem(profileName);
    if (!problem.isEmpty()) {
        Trace(QStringLiteral("Refused Profile '") + Printable(profileName) + "' as it " + problem +
                  QStringLiteral(" so finished"),
              ovOutdent);
        return false;
    }
    Globals::ProfileName = profileName;

    // 10.
    Globals::SharedProfileFolder = files.GetSpecialFolder(35) +
                                   QStringLiteral("/Orvane/Corvella v3") +
                                   QStringLiteral("/Profiles/") + Globals::ProfileName;
    files.CreateFolder(Globals::SharedProfileFolder, 0);
    Globals::ToolProfileFolder = files.GetSpecialFolder(35) +
                                 QStringLiteral("/Orvane/Cartvault v3/Tools") + "/" + ToolName +
                                 QStringLiteral("/Profiles/") + Globals::ProfileName;
    files.CreateFolder(Globals::ToolProfileFolder, 0);

    // 11.
    if (splash) {
        splash->SetIconInfo(litIcon, QStringLiteral("localon"), QStringLiteral("Local Settings"));
        ++litIcon;
    }

    // 12.
    if (SecurityMode != 0) {
        splashAction(QStringLiteral("Creating Directory Interface"));
        Trace(QStringLiteral("Creating Orvane Directory Interface"));
        Globals::DirectoryInterface = components.NewDirectoryInterface().release();
        DirectoryInterface* directory = Globals::DirectoryInterface;
        directory->setDebugLevel(general.DebugLevel());
        directory->setProfileName(Globals::ProfileName);
        directory->setApplicationCode(2);
        directory->setApplicationName(ProductName());
        directory->setModeFlags(7);
        splashAction(QStringLiteral("Opening Orvane Directory"));
        Trace(QStringLiteral("Opening Default Directory"));
        if (directory->OpenDefaultDirectory(true) != 0) {
            Trace(QStringLiteral("Failed so finished"), ovOutdent);
            return false;
        }
        if (DirectoryApplications* applications = directory->Applications()) {
            applications->Register(2, Application());
        }
    }

    // 13.
    splashAction(QStringLiteral("Creating Audio Settings Interface"));
    Trace(QStringLiteral("Creating Audio Settings Interface"));
    Globals::AudioSettingsInterface = components.NewAudioSettingsInterface().release();
    AudioSettingsInterface* audioSettings = Globals::AudioSettingsInterface;
    audioSettings->setDebugLevel(general.DebugLevel());
    splashAction(QStringLiteral("Loading Audio Settings Profile"));
    Trace(QStringLiteral("Loading Profile '") + Globals::ProfileName +
          QStringLiteral("' into Audio Settings Interface"));
    audioSettings->LoadProfile(Globals::ProfileName);
    const qint16 players = PlayersOverride(GetCommandLineSwitch(
        upperLine, QStringLiteral("/PLAYERS"), QStringLiteral("="), false, QStringLiteral(" ")));
    if (players != audioSettings->NumberPlayers() && players >= 1) {
        Trace(QStringLiteral("Overriding NumberPlayers to ") + QString::number(players));
        audioSettings->setNumberPlayers(players);
    }

    // 14.
    if (PlayoutFlags != 0) {
        splashAction(QStringLiteral("Creating Playout Interface (General)"));
        Trace(QStringLiteral("Creating Playout Interface (General)"));
        Globals::PlayoutGeneral = components.NewPlayoutGeneral().release();
        PlayoutGeneral* playout = Globals::PlayoutGeneral;
        playout->setDebugLevel(general.DebugLevel());
        if (PlayoutAudio* audio = playout->Audio()) {
            audio->setAudioSettings(audioSettings);
        }
        if (playout->OpenProfile(Globals::ProfileName, PlayoutFlags, true) == 0) {
            return false;
        }
        if (!playout->Start(Application(), PlayoutFlags)) {
            return false;
        }
        splashAction(QStringLiteral("Creating Playout Interface (Audio)"));
        Trace(QStringLiteral("Creating Playout Interface (Audio)"));
        Globals::PlayoutAudio = playout->Audio();
        if (PlayoutAudio* audio = Globals::PlayoutAudio) {
            CartvaultSettings* storeSettings = audio->GetCartvaultSettings();
            AudioSettingsInterface* shared = audio->AudioSettings();
            if (storeSettings && shared && shared->SharesPlayerSetting()) {
                PlayerSetting* from = storeSettings->GetPlayerSetting(0);
                PlayerSetting* to = shared->GetPlayerSetting();
                if (from && to) {
                    to->setValue(from->Value());
                }
            }
        }
        splashAction(QStringLiteral("Creating Playout Interface (Logging)"));
        Trace(QStringLiteral("Creating Playout Interface (Logging)"));
        Globals::PlayoutLogging = playout->Logging();
    }
    // Each icon lights when its own step is done, under its own caption.
    if (splash) {
        splash->SetIconInfo(litIcon, QStringLiteral("playouton"), QStringLiteral("Audio Systems"));
        ++litIcon;
    }

    // 15.
    if (SecurityMode == 3) {
        const QString userGuid =
            GetCommandLineSwitchEx(upperLine, QStringLiteral("/UserGuid"), QStringLiteral("="),
                                   false, QStringLiteral(" "), true);
        DirectoryInterface* directory = Globals::DirectoryInterface;
        std::shared_ptr<DirectoryUser> user;
        if (!userGuid.isEmpty()) {
            user = directory->GetUserByGuid(userGuid);
            if (user && directory->LoginUser(user, 2, ProductName()) != 0) {
                user.reset();
            }
        }
        if (!user && directory->LoginDialog(0, ProductName(), nullptr, true, 0) != 0) {
            return false;
        }
    }

    // 16.
    if (splash) {
        if (SecurityMode != 0) {
            splash->SetIconInfo(litIcon, QStringLiteral("securityon"),
                                QStringLiteral("User Security"));
            ++litIcon;
        }
        splash->SetCurrentAction(QStringLiteral("Finished Initialising Tool"));
        if (components.Wait) {
            components.Wait(0.3);
        }
    }

    // 17.
    Trace(QStringLiteral("Finished OK"), ovOutdent);
    return true;
}

} // namespace ToolStartup

void TerminateTool()
{
    Trace(QStringLiteral("Start TerminateTool "), ovIndent);
    // The cart store and the play logs belong to the playout component.
    Globals::PlayoutAudio = nullptr;
    Globals::PlayoutLogging = nullptr;
    delete Globals::PlayoutGeneral;
    Globals::PlayoutGeneral = nullptr;
    delete Globals::AudioSettingsInterface;
    Globals::AudioSettingsInterface = nullptr;
    if (DirectoryInterface* directory = Globals::DirectoryInterface) {
        directory->BeginShutdown();
        if (DirectoryApplications* applications = directory->Applications()) {
            applications->Unregister(2, Application());
        }
        directory->CloseDirectory();
        const ToolStartup::Components& components = ToolStartup::Current();
        if (components.Wait) {
            components.Wait(0.3);
        }
        Globals::DirectoryInterface = nullptr;
        delete directory;
    }
    Trace(QStringLiteral("Finished OK"), ovOutdent);
}
