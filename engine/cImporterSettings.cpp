#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"

#include "framework/GeneralHelpers.h"
#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/IniFile.h"
#include "platform/system/MessageBox.h"
#include "platform/system/RegistryFunctions.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kSmtp = QStringLiteral("SMTPServer");

QString settingsPath()
{
    return Globals::ToolProfileFolder + QStringLiteral("/Importer.ini");
}

QString flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

// A single-precision number as the system writes it: at most seven significant digits and the
// locale's decimal separator, never in exponent form (the reader takes only the leading
// digits, so "1e+07" would come back as 1).
QString singleText(float value)
{
    QString text = QString::number(value, 'g', 7);
    if (text.contains(QLatin1Char('e'))) {
        const double magnitude = std::fabs(static_cast<double>(value));
        const int decimals =
            magnitude >= 1.0 ? 0 : 6 - static_cast<int>(std::floor(std::log10(magnitude)));
        text = QString::number(value, 'f', decimals);
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0'))) {
                text.chop(1);
            }
            if (text.endsWith(QLatin1Char('.'))) {
                text.chop(1);
            }
        }
    }
    return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

qint16 toInt16(qint32 value)
{
    return static_cast<qint16>(std::clamp<qint32>(value, std::numeric_limits<qint16>::min(),
                                                  std::numeric_limits<qint16>::max()));
}

qint32 readInt(const QString& file, const QString& section, const QString& key, qint32 def)
{
    return IniFile::ReadInt(file, section, key, def);
}

QString readText(const QString& file, const QString& section, const QString& key,
                 const QString& def = QString())
{
    return RegistryFunctions::instance().ReadIniString(section, key, def, file);
}

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// The file holds the SMTP password: only its owner may read it.
void restrictToOwner(const QString& file)
{
    if (QFile::exists(file) && QFile::permissions(file) != kOwnerOnly) {
        QFile::setPermissions(file, kOwnerOnly);
    }
}

// Creates the file empty and private, so that no write ever leaves it readable by others.
void createPrivate(const QString& file)
{
    const QByteArray name = QFile::encodeName(file);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace

void cImporter::WriteValue(const QString& section, const QString& key, const QString& value,
                           const QString& defaultValue)
{
    WriteProfileValue(section, key, value, m_settingsFile, defaultValue);
    restrictToOwner(m_settingsFile);
}

bool cImporter::ReadSettings(QString& Profilename)
{
    AddToLog(QString(),
             QStringLiteral("Loading Settings for Profile '") + Profilename + QLatin1Char('\''));
    if (Profilename.isEmpty()) {
        return false;
    }
    m_profileName = Profilename;
    m_settingsFile = settingsPath();
    const QString& file = m_settingsFile;

    FileFunctions& files = FileFunctions::instance();
    files.CreateFolder(files.GetFolderName(file, 0), 0);
    restrictToOwner(file);
    // One reading of the file for all its keys.
    IniFile::Batch batch(file);

    GeneralFunctions& general = GeneralFunctions::instance();
    const qint32 count =
        general.MaxLong(0, readInt(file, kGeneral, QStringLiteral("NumberGroups"), 0));
    m_groups.clear();
    m_groups.reserve(static_cast<size_t>(toInt16(count)));

    CheckInterval =
        static_cast<float>(readInt(file, kGeneral, QStringLiteral("CheckInterval"), 60));
    MinimiseToSysTray = readInt(file, kGeneral, QStringLiteral("MinimiseToSysTray"), 0) != 0;

    m_smtpEmailEnabled = LeadingNumber(readText(file, kSmtp, QStringLiteral("Enabled"),
                                                QStringLiteral("False"))) != 0;
    m_smtpServerAddress = readText(file, kSmtp, QStringLiteral("Address"));
    m_smtpLoginName = readText(file, kSmtp, QStringLiteral("LoginName"));
    m_smtpPassword =
        general.TransformPassword(readText(file, kSmtp, QStringLiteral("Password")), true);

    for (qint32 i = 1; i <= toInt16(count); ++i) {
        m_groups.push_back(std::make_unique<cImporterGroup>());
        ReadGroup(*m_groups.back(), QStringLiteral("Group") + QString::number(i));
    }

    AddToLog(QString(), QStringLiteral("Loaded Settings OK"));
    return true;
}

void cImporter::ReadGroup(cImporterGroup& group, const QString& section)
{
    const QString& file = m_settingsFile;
    const auto readFlag = [&](const char* key) {
        return readInt(file, section, QLatin1String(key), 0) != 0;
    };
    const auto readSeconds = [&](const char* key) {
        return static_cast<float>(readInt(file, section, QLatin1String(key), -1000)) / 1000.0f;
    };

    group.GroupName = readText(file, section, QStringLiteral("Name"));
    group.Path = readText(file, section, QStringLiteral("Directory"));
    if (group.Path.isEmpty()) {
        group.CheckCurrent = true;
        group.Path.clear();
    }
    group.TakeSnapShotBeforeImport = readFlag("TakeSnapShotBeforeImport");
    group.CheckCurrentLastModified = readFlag("CheckCurrentLastModified");
    group.RemoveIfDeleted = readFlag("RemoveIfDeleted");
    group.ReplaceChangedLengthCarts = readFlag("ReplaceChangedLengthCarts");
    group.StartHDRef = readText(file, section, QStringLiteral("StartHDRef"), QStringLiteral("0"));
    group.EndHDRef = readText(file, section, QStringLiteral("EndHDRef"), QStringLiteral("0"));
    group.Enabled = readFlag("Enabled");
    group.DeleteAfterImport = readFlag("DeleteAfterImport");
    group.UseArchiveBit = readFlag("UseArchiveBit");
    group.NotifyEmailSender = readText(file, section, QStringLiteral("NotifyEmailSender"));
    // The single list of older files serves both lists when neither is set.
    const QString olderRecipients =
        readText(file, section, QStringLiteral("NotifyEmailRecipients"));
    group.NotifySuccessEmailRecipients =
        readText(file, section, QStringLiteral("NotifySuccessEmailRecipients"));
    group.NotifyFailEmailRecipients =
        readText(file, section, QStringLiteral("NotifyFailEmailRecipients"));
    if (!olderRecipients.isEmpty() && group.NotifySuccessEmailRecipients.isEmpty() &&
        group.NotifyFailEmailRecipients.isEmpty()) {
        group.NotifySuccessEmailRecipients = olderRecipients;
        group.NotifyFailEmailRecipients = olderRecipients;
    }
    group.OverrideIntroStart = readSeconds("OverrideIntroStartMS");
    group.OverrideIntroEnd = readSeconds("OverrideIntroEndMS");
    group.OverrideExtro = readSeconds("OverrideExtroMS");
    group.OverrideTitle = readText(file, section, QStringLiteral("OverrideTitle"));
    group.OverrideArtist = readText(file, section, QStringLiteral("OverrideArtist"));
    group.OverrideDescription = readText(file, section, QStringLiteral("OverrideDescription"));
    group.OverrideNormalise =
        toInt16(readInt(file, section, QStringLiteral("OverrideNormalise"), 0));
}

bool cImporter::WriteSettings(QString& Profilename)
{
    if (Profilename.isEmpty()) {
        Profilename = m_profileName;
        if (Profilename.isEmpty()) {
            return false;
        }
    }
    m_settingsFile = settingsPath();

    FileFunctions& files = FileFunctions::instance();
    const QString folder = files.GetFolderName(m_settingsFile, 0);
    if (!files.CreateFolder(folder, 0)) {
        SettingsNotSaved(QStringLiteral("the folder '%1' could not be created").arg(folder));
        return false;
    }
    createPrivate(m_settingsFile);
    restrictToOwner(m_settingsFile);
    // The whole file is replaced once at the end: a crash during a save never leaves a group
    // section holding keys of two groups.
    IniFile::Batch batch(m_settingsFile);

    const QString empty;
    WriteValue(kGeneral, QStringLiteral("NumberGroups"), QString::number(NumberGroups()),
               QStringLiteral("0"));
    WriteValue(kGeneral, QStringLiteral("CheckInterval"), singleText(CheckInterval),
               QStringLiteral("60"));
    WriteValue(kGeneral, QStringLiteral("MinimiseToSysTray"), flag(MinimiseToSysTray),
               QStringLiteral("0"));

    WriteValue(kSmtp, QStringLiteral("Enabled"), flag(m_smtpEmailEnabled), QStringLiteral("0"));
    WriteValue(kSmtp, QStringLiteral("Address"), m_smtpServerAddress, empty);
    WriteValue(kSmtp, QStringLiteral("LoginName"), m_smtpLoginName, empty);
    WriteValue(kSmtp, QStringLiteral("Password"),
               GeneralFunctions::instance().TransformPassword(m_smtpPassword, true), empty);

    for (qint16 i = 1; i <= NumberGroups(); ++i) {
        WriteGroup(*ImporterGroup(i), QStringLiteral("Group") + QString::number(i));
    }
    // A save that could not replace the file (disk full) left the old one as it was.
    const Result<> saved = batch.Commit();
    restrictToOwner(m_settingsFile);
    if (!saved) {
        SettingsNotSaved(saved.Reason());
    }
    return saved.Ok();
}

void cImporter::SettingsNotSaved(const QString& reason)
{
    AddToLog(QString(), QStringLiteral("Couldn't save the settings to '") + m_settingsFile +
                            QStringLiteral("' Error: ") + reason +
                            QStringLiteral("; the change holds only until the program ends"));
    MessageBox::Show(QStringLiteral("The settings could not be saved to '") + m_settingsFile +
                         QStringLiteral("':\n") + reason +
                         QStringLiteral("\n\nThe change holds only until the program ends."),
                     MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
}

void cImporter::WriteGroup(const cImporterGroup& group, const QString& section)
{
    const QString empty;
    const QString zero = QStringLiteral("0");
    const QString noTime = QStringLiteral("-1000");
    const auto milliseconds = [](float seconds) { return singleText(seconds * 1000.0f); };

    WriteValue(section, QStringLiteral("Name"), group.GroupName, empty);
    WriteValue(section, QStringLiteral("Directory"), group.CheckCurrent ? empty : group.Path,
               empty);
    WriteValue(section, QStringLiteral("TakeSnapShotBeforeImport"),
               flag(group.TakeSnapShotBeforeImport), zero);
    WriteValue(section, QStringLiteral("CheckCurrentLastModified"),
               flag(group.CheckCurrentLastModified), zero);
    WriteValue(section, QStringLiteral("RemoveIfDeleted"), flag(group.RemoveIfDeleted), zero);
    WriteValue(section, QStringLiteral("ReplaceChangedLengthCarts"),
               flag(group.ReplaceChangedLengthCarts), zero);
    WriteValue(section, QStringLiteral("StartHDRef"), group.StartHDRef, zero);
    WriteValue(section, QStringLiteral("EndHDRef"), group.EndHDRef, zero);
    WriteValue(section, QStringLiteral("Enabled"), flag(group.Enabled), zero);
    WriteValue(section, QStringLiteral("DeleteAfterImport"), flag(group.DeleteAfterImport), zero);
    WriteValue(section, QStringLiteral("UseArchiveBit"), flag(group.UseArchiveBit), zero);
    WriteValue(section, QStringLiteral("NotifyEmailSender"), group.NotifyEmailSender, empty);
    WriteValue(section, QStringLiteral("NotifySuccessEmailRecipients"),
               group.NotifySuccessEmailRecipients, empty);
    WriteValue(section, QStringLiteral("NotifyFailEmailRecipients"),
               group.NotifyFailEmailRecipients, empty);
    WriteValue(section, QStringLiteral("NotifyEmailRecipients"), empty, empty);
    WriteValue(section, QStringLiteral("OverrideIntroStartMS"),
               milliseconds(group.OverrideIntroStart), noTime);
    WriteValue(section, QStringLiteral("OverrideIntroEndMS"), milliseconds(group.OverrideIntroEnd),
               noTime);
    WriteValue(section, QStringLiteral("OverrideExtroMS"), milliseconds(group.OverrideExtro),
               noTime);
    WriteValue(section, QStringLiteral("OverrideTitle"), group.OverrideTitle, empty);
    WriteValue(section, QStringLiteral("OverrideArtist"), group.OverrideArtist, empty);
    WriteValue(section, QStringLiteral("OverrideDescription"), group.OverrideDescription, empty);
    WriteValue(section, QStringLiteral("OverrideNormalise"),
               QString::number(group.OverrideNormalise), zero);
}
