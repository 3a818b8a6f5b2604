#include "platform/system/SaveWhole.h"

#include "platform/system/WriteErrorText.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

Result<> SaveWhole(QSaveFile& file, const QByteArray& bytes, const SaveWholeSteps& steps)
{
    QString why;
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        why = WriteErrorText(file);
    } else {
        // Network file systems may report a full disk only when the data is synced; commit
        // syncs too but ignores the answer.
        int rc;
        do {
            rc = steps.Sync ? steps.Sync(file.handle()) : ::fsync(file.handle());
        } while (rc != 0 && errno == EINTR);
        if (rc != 0 && errno != EINVAL && errno != ENOTSUP) {
            why = QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    if (why.isEmpty()) {
        if (steps.Commit ? steps.Commit(file) : file.commit()) {
            return {};
        }
        why = file.errorString();
    } else {
        file.cancelWriting();
        file.commit(); // drops the temporary file
    }
    return Failure{why};
}
