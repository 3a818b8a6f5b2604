#include "engine/cImporter.h"

#include "engine/ImporterDialogs.h"
#include "engine/cImporterGroup.h"
#include "framework/AppLog.h"
#include "framework/DebugLog.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/ToolError.h"

#include <cmath>
#include <limits>

cImporter::cImporter(QObject* parent, Clocks clocks)
    : QObject(parent), m_failures([steady = clocks.SteadyNs] { return steady() / 1'000'000; }),
      m_vanishedAudio(clocks), m_clocks(std::move(clocks))
{
    if (Globals::PlayoutAudio) {
        Globals::PlayoutAudio->RegisterCallback(this);
    }
}

cImporter::~cImporter()
{
    m_groups.clear();
    if (Globals::PlayoutAudio) {
        Globals::PlayoutAudio->UnregisterCallback(this);
    }
    AddToLog(QString(), QStringLiteral("Importer Closing"));
}

cImporterGroup* cImporter::ImporterGroup(qint16 Index) const
{
    if (Index < 1 || Index > NumberGroups()) {
        return nullptr;
    }
    return m_groups[static_cast<size_t>(Index - 1)].get();
}

qint16 cImporter::NumberGroups() const
{
    return static_cast<qint16>(m_groups.size());
}

bool cImporter::RemoveGroup(qint16& Index)
{
    if (Index < 1 || Index > NumberGroups()) {
        return false;
    }
    m_groups.erase(m_groups.begin() + (Index - 1));
    QString profile;
    WriteSettings(profile);
    return true;
}

bool cImporter::DisplayGroup(qint16& Index)
{
    cImporterGroup* group = ImporterGroup(Index);
    if (!group || !m_dialogs) {
        return false;
    }
    if (!m_dialogs->DisplayGroup(*this, *group)) {
        return false;
    }
    QString profile;
    WriteSettings(profile);
    return true;
}

qint16 cImporter::AddGroup()
{
    // The list's size is a 16-bit count.
    if (!m_dialogs || NumberGroups() == std::numeric_limits<qint16>::max()) {
        return 0;
    }
    auto group = std::make_unique<cImporterGroup>();
    qint16 index = 0;
    if (m_dialogs->DisplayGroup(*this, *group)) {
        m_groups.push_back(std::move(group));
        index = NumberGroups();
    }
    QString profile;
    WriteSettings(profile);
    return index;
}

bool cImporter::DisplaySettings()
{
    if (!m_dialogs || !m_dialogs->DisplayImporter(*this)) {
        return false;
    }
    QString profile = m_profileName;
    return WriteSettings(profile);
}

void cImporter::AddToLog(QString Prefix, QString EventInfo)
{
    const QString eventString =
        Prefix.isEmpty() ? EventInfo : Prefix + QLatin1Char(':') + EventInfo;
    // A lasting failure met again at the next check was said already.
    if (m_deciding && !m_failures.LogDue(m_deciding->file, DecidingVersion(), eventString)) {
        AddToDebugLog(QStringLiteral("AddToLog: said before: ") + eventString, 5, ovNone);
        return;
    }
    Q_EMIT LogEventAdded(QDateTime::currentDateTime(), eventString);
    // A log file that cannot be written (disk full, folder gone) must not abort the import
    // being logged, nor shut-down: the line still reaches the history list and the trace.
    try {
        AddToAppLog(Prefix, EventInfo);
    } catch (const ToolError& error) {
        AddToDebugLog(QStringLiteral("AddToLog: couldn't write to the application log: ") +
                          error.Description() + QStringLiteral(" - ") + eventString,
                      5, ovNone);
    }
}

const FailureMemory::Version& cImporter::DecidingVersion()
{
    if (!m_deciding->version) {
        m_deciding->version = FailureMemory::Of(m_deciding->file);
    }
    return *m_deciding->version;
}

void cImporter::Callback(qint32 eventReference, const QString& hdReference1,
                         const QString& hdReference2, const QString& otherInformation1,
                         bool& cancel)
{}

void cImporter::HardDiskItemsFound(QObject* clsHDItems, bool& stopSearching) {}

void cImporter::Progress(const QString& recentReference, float percentProgress, bool& cancel) {}

namespace {

qint16 toPercent(float value)
{
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = std::nearbyint(static_cast<double>(value));
    return static_cast<qint16>(qBound(-32768.0, rounded, 32767.0));
}

} // namespace

void cImporter::Progress2(qint32 eventReference, const QString& caption, float percentProgress,
                          bool& cancel)
{
    Q_EMIT ProcessProgress(caption, toPercent(percentProgress));
}

void cImporter::ProgressStart(qint32 eventReference, const QString& caption, bool usesProgress,
                              bool& cancel)
{
    Q_EMIT ProcessStarted(caption, usesProgress);
}

void cImporter::ProgressEnd(qint32 eventReference, const QString& caption, bool usedProgress)
{
    Q_EMIT ProcessEnd(caption, usedProgress);
}
