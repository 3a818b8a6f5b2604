#include "engine/cImporter.h"

#include "engine/cImporterGroup.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/HeldFolder.h"
#include "platform/system/LeftoverFiles.h"
#include "platform/system/ToolError.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString GroupPrefix(qint16 groupIndex)
{
    return QStringLiteral("GRP:") + QString::number(groupIndex);
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A step whose error does not stop the operation: the description is kept for the log line.
template <typename Step> void Attempt(QString& pendingError, Step step)
{
    try {
        step();
    } catch (const ToolError& error) {
        pendingError = error.Description();
    } catch (const std::exception& error) {
        pendingError = QString::fromUtf8(error.what());
    }
}

// The temporary names that FileFunctions::CopyFileWithProgress gives snapshots ("." "~", the
// first 40 characters of the snapshot's name, "." and six random characters): nothing else in
// the folder is ours to remove.
const QRegularExpression& HalfMadeSnapshots()
{
    static const QRegularExpression names(
        QStringLiteral("^\\.~\\d{4}-\\d{2}-\\d{2} \\d{2}-\\d{2}-\\d{2} - .+\\.[A-Za-z0-9]{6}$"));
    return names;
}

// The folder that holds the file, reached from the group's watched folder without following a
// link put in place of a folder since it was listed.
Result<HeldFolder> FolderOf(const cImporter& importer, qint16 groupIndex, const QString& file)
{
    const cImporterGroup* group = importer.ImporterGroup(groupIndex);
    return HeldFolder::Holding(group ? group->Path : QString(), file);
}

// ProcessEnd once for the snapshot's ProcessStarted, on every way out.
class SnapshotFrame
{
public:
    SnapshotFrame(cImporter& importer, const QString& name)
        : m_importer(importer),
          m_caption(QStringLiteral("Failed to take Snapshot of '") + name + QLatin1Char('\''))
    {
        Q_EMIT m_importer.ProcessStarted(
            QStringLiteral("Taking Snapshot of '") + name + QLatin1Char('\''), false);
    }
    ~SnapshotFrame()
    {
        try {
            Q_EMIT m_importer.ProcessEnd(m_caption, false);
        } catch (...) {
        }
    }
    SnapshotFrame(const SnapshotFrame&) = delete;
    SnapshotFrame& operator=(const SnapshotFrame&) = delete;

    void Taken(const QString& name)
    {
        m_caption = QStringLiteral("Taken Snapshot of '") + name + QLatin1Char('\'');
    }

private:
    cImporter& m_importer;
    QString m_caption;
};

} // namespace

bool cImporter::MoveToFailedFolder(qint16& GroupIndex, QString& FileName)
{
    FileFunctions& files = FileFunctions::instance();
    const QString prefix = GroupPrefix(GroupIndex);
    const QString name = files.GetFileName(FileName);
    const QString destination =
        files.GetFolderName(FileName, 0) + QStringLiteral("/Failed!/") + name;
    const auto failed = [&](const QString& reason) {
        AddToLog(prefix, QStringLiteral("Moved '") + FileName + QStringLiteral("' to '") +
                             destination + QStringLiteral("' Failed: ") + reason);
        return false;
    };

    // Only a real folder inside the watched folder: a link could lead anywhere.
    const Result<HeldFolder> folder = FolderOf(*this, GroupIndex, FileName);
    if (!folder) {
        return failed(folder.Reason());
    }
    const Result<HeldFolder> failedFolder = folder->Subfolder(QStringLiteral("Failed!"));
    if (!failedFolder) {
        return failed(failedFolder.Reason());
    }
    // One place per name: the newer failure replaces the older copy.
    if (const Result<> removed = failedFolder->Remove(name, HeldFolder::Removing::FileIfAny);
        !removed) {
        AddToLog(prefix, QStringLiteral("Couldn't remove existing file in Failed! folder '") +
                             destination + QStringLiteral("' : ") + removed.Reason());
        return false;
    }
    const QByteArray native = QFile::encodeName(name);
    if (::renameat(folder->Fd(), native.constData(), failedFolder->Fd(), native.constData()) != 0) {
        const int error = errno;
        if (error != EXDEV) {
            return failed(ErrorText(error));
        }
        // The "Failed!" folder is another file system's: copy, then remove.
        QFile file(folder->Reach(name));
        if (!file.rename(failedFolder->Reach(name))) {
            return failed(file.errorString());
        }
    }
    AddToLog(prefix, QStringLiteral("Moved '") + FileName + QStringLiteral("' to '") + destination +
                         QStringLiteral("' OK"));
    return true;
}

bool cImporter::TakeSnapshot(qint16& GroupIndex, QString FileName)
{
    FileFunctions& files = FileFunctions::instance();
    const QString prefix = GroupPrefix(GroupIndex);
    const QString name = files.GetFileName(FileName);
    SnapshotFrame frame(*this, name);

    const QString snapshotFolder = files.GetFolderName(FileName, 0) + QStringLiteral("/Snapshots!");
    const QString copyName =
        DateTimeFunctions::instance().NowStamp().toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")) +
        QStringLiteral(" - ") + name;
    const QString destination = snapshotFolder + QLatin1Char('/') + copyName;
    const auto failed = [&](const QString& reason) {
        AddToLog(prefix, QStringLiteral("Copied '") + FileName + QStringLiteral("' to '") +
                             destination + QStringLiteral("' Failed: ") + reason);
        return false;
    };

    const Result<HeldFolder> folder = FolderOf(*this, GroupIndex, FileName);
    if (!folder) {
        return failed(folder.Reason());
    }
    const Result<HeldFolder> snapshots = folder->Subfolder(QStringLiteral("Snapshots!"));
    if (!snapshots) {
        // A link may lead anywhere: said so, rather than that the folder could not be made.
        struct stat info
        {
        };
        if (::fstatat(folder->Fd(), "Snapshots!", &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            return failed(snapshots.Reason());
        }
        AddToLog(prefix, QStringLiteral("Couldn't create folder '") + snapshotFolder +
                             QStringLiteral("' Error: ") + snapshots.Reason());
        return false;
    }
    if (const Result<> removed = snapshots->Remove(copyName, HeldFolder::Removing::FileIfAny);
        !removed) {
        AddToLog(prefix, QStringLiteral("Couldn't remove existing file in Snapshots! folder '") +
                             destination + QStringLiteral("' : ") + removed.Reason());
        return false;
    }

    // Half-made copies of snapshots whose writer died (a crash, a kill) go before a new one.
    LeftoverFiles::RemoveUnowned(snapshots->Fd(), HalfMadeSnapshots());
    QString pendingError;
    qint32 status = -1;
    Attempt(pendingError, [&] {
        qint16 flag1 = 0;
        qint16 flag2 = 0;
        qint32 flags = 4;
        status = files.CopyFileWithProgress(folder->Reach(name), snapshots->Reach(copyName),
                                            QString(), nullptr, flag1, flag2, flags);
    });
    if (status == 0) {
        AddToLog(prefix, QStringLiteral("Copied '") + FileName + QStringLiteral("' to '") +
                             destination + QStringLiteral("' OK"));
        frame.Taken(name);
        return true;
    }
    return failed(!pendingError.isEmpty() ? pendingError
                  : status > 0            ? ErrorText(status)
                                          : QString());
}
