#include "engine/cImporter.h"

#include "engine/cImporterGroup.h"

bool cImporter::ImportedWithoutSnapshot(const QString& FileName) const
{
    // Asked before the file is measured: the look handed on still serves the measuring.
    const std::optional<FileVersionKey> version = FileVersionKey::Peek(FileName);
    const std::optional<bool> taken =
        version ? m_snapshotsTaken.Lookup(version->Content()) : std::optional<bool>();
    return taken && !*taken;
}

cImporter::InUseTestPutOff::InUseTestPutOff(cImporter& importer, std::function<bool()> test,
                                            std::optional<FileVersionKey> ownLook)
    : m_importer(importer)
{
    m_importer.m_inUseTestPutOff = PutOff{std::move(test), ownLook};
}

cImporter::InUseTestPutOff::~InUseTestPutOff()
{
    m_importer.m_inUseTestPutOff.reset();
}

void cImporter::KeepImported(const FileVersionKey& Version)
{
    m_keptAfterImport.Store(Version.Content(), true);
}

bool cImporter::MayRemoveVanishedCarts(qint16& GroupIndex, const QString& Folder,
                                       const QStringList& MissingCarts, qint32 WithAudio)
{
    cImporterGroup* group = ImporterGroup(GroupIndex);
    if (!group) {
        return true;
    }
    const QString range = group->StartHDRef + QLatin1Char('-') + group->EndHDRef;
    const QString episode = QString::number(GroupIndex) + QLatin1Char('\n') + range;
    const qint64 missing = MissingCarts.size();
    if (missing <= 2 || missing * 2 <= qint64(WithAudio)) {
        m_removalsHeld.remove(episode);
        return true;
    }

    const QString found =
        QStringLiteral("Removed none of the carts %1 to %2: the audio files of %3 of its %4 carts "
                       "with audio are missing from '%5' at once, more than half, which looks like "
                       "an emptied or replaced folder rather than deletions; if they were meant, "
                       "remove those carts in the playout system, or restore the files")
            .arg(group->StartHDRef, group->EndHDRef, QString::number(missing),
                 QString::number(WithAudio), Folder);
    const qint64 now = m_clocks.SteadyNs();
    const auto held = m_removalsHeld.find(episode);
    const bool firstPass = held == m_removalsHeld.end();
    const QSet<QString> carts(MissingCarts.begin(), MissingCarts.end());
    // A file that comes and goes would repeat the line at every pass: it is said again when a
    // cart not named yet goes missing, otherwise hourly like every other lasting failure.
    if (firstPass || !held->told.contains(carts) ||
        now - held->saidAtNs >= FailureMemory::RepeatAfterMs * 1'000'000) {
        AddToLog(QStringLiteral("GRP:") + QString::number(GroupIndex), found);
        RemovalsHeld& said = m_removalsHeld[episode];
        said.told.unite(carts);
        said.saidAtNs = now;
    }
    if (firstPass) {
        QString fileName = Folder;
        QString hdReference = range;
        QString note = found + QStringLiteral(". The carts are kept as long as more than half of "
                                              "their audio files are missing.");
        SendFailedEmail(GroupIndex, fileName, hdReference, note);
    }
    return false;
}

void cImporter::AudioSeen(const QString& FileName)
{
    m_vanishedAudio.Seen(FileName);
}
