#include "engine/cImporter.h"

#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/LeftoverFiles.h"
#include "platform/system/ToolError.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
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

// Empty when deleted; otherwise why not.
QString DeleteFile(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) == 0) {
        return {};
    }
    return ErrorText(errno);
}

// The temporary names of FileFunctions::CopyFileWithProgress.
const QRegularExpression& HalfMadeCopies()
{
    static const QRegularExpression names(QStringLiteral("^\\.~.+\\.[A-Za-z0-9]{6}$"));
    return names;
}

// Made only inside a folder that is there: a watched folder that vanished (a share unmounted
// during the pass) must not come back as an empty folder at its mount point.
bool CreateSubfolder(const QString& folder)
{
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0) {
        return true;
    }
    struct stat info
    {
    };
    return errno == EEXIST && ::stat(QFile::encodeName(folder).constData(), &info) == 0 &&
           S_ISDIR(info.st_mode);
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
    const QString failedFolder = files.GetFolderName(FileName, 0) + QStringLiteral("/Failed!");
    const QString destination = failedFolder + QLatin1Char('/') + files.GetFileName(FileName);

    QString pendingError;
    bool exists = false;
    Attempt(pendingError, [&] { exists = files.FileExists(destination); });
    if (exists) {
        // One place per name: the newer failure replaces the older copy.
        const QString error = DeleteFile(destination);
        if (!error.isEmpty()) {
            AddToLog(prefix, QStringLiteral("Couldn't remove existing file in Failed! folder '") +
                                 destination + QStringLiteral("' : ") + error);
            return false;
        }
    }
    CreateSubfolder(failedFolder);
    if (::rename(QFile::encodeName(FileName).constData(),
                 QFile::encodeName(destination).constData()) != 0) {
        const int error = errno;
        if (error == EXDEV) {
            // The "Failed!" folder is another file system's: copy, then remove.
            QFile file(FileName);
            if (!file.rename(destination)) {
                pendingError = file.errorString();
            }
        } else {
            pendingError = ErrorText(error);
        }
    }

    if (pendingError.isEmpty()) {
        AddToLog(prefix, QStringLiteral("Moved '") + FileName + QStringLiteral("' to '") +
                             destination + QStringLiteral("' OK"));
        return true;
    }
    AddToLog(prefix, QStringLiteral("Moved '") + FileName + QStringLiteral("' to '") + destination +
                         QStringLiteral("' Failed: ") + pendingError);
    return false;
}

bool cImporter::TakeSnapshot(qint16& GroupIndex, QString FileName)
{
    FileFunctions& files = FileFunctions::instance();
    const QString prefix = GroupPrefix(GroupIndex);
    const QString name = files.GetFileName(FileName);
    SnapshotFrame frame(*this, name);

    const QString snapshotFolder = files.GetFolderName(FileName, 0) + QStringLiteral("/Snapshots!");
    const QString destination =
        snapshotFolder + QLatin1Char('/') +
        DateTimeFunctions::instance().NowStamp().toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")) +
        QStringLiteral(" - ") + name;

    QString pendingError;
    bool exists = false;
    Attempt(pendingError, [&] { exists = files.FileExists(destination); });
    if (exists) {
        const QString error = DeleteFile(destination);
        if (!error.isEmpty()) {
            AddToLog(prefix,
                     QStringLiteral("Couldn't remove existing file in Snapshots! folder '") +
                         destination + QStringLiteral("' : ") + error);
            return false;
        }
    }
    if (!CreateSubfolder(snapshotFolder)) {
        AddToLog(prefix,
                 QStringLiteral("Couldn't create folder '") + snapshotFolder + QLatin1Char('\''));
        return false;
    }

    // Half-made copies of snapshots whose writer died (a crash, a kill) go before a new one.
    LeftoverFiles::RemoveUnowned(snapshotFolder, HalfMadeCopies());
    qint32 status = -1;
    Attempt(pendingError, [&] {
        qint16 flag1 = 0;
        qint16 flag2 = 0;
        qint32 flags = 4;
        status = files.CopyFileWithProgress(FileName, destination, QString(), nullptr, flag1, flag2,
                                            flags);
    });
    if (status == 0) {
        AddToLog(prefix, QStringLiteral("Copied '") + FileName + QStringLiteral("' to '") +
                             destination + QStringLiteral("' OK"));
        frame.Taken(name);
        return true;
    }
    AddToLog(prefix, QStringLiteral("Copied '") + FileName + QStringLiteral("' to '") +
                         destination + QStringLiteral("' Failed: ") + pendingError);
    return false;
}
