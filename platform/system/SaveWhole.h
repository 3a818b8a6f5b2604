#pragma once

#include "platform/system/Result.h"

#include <QByteArray>
#include <functional>

class QSaveFile;

// Writes bytes into a QSaveFile opened for writing and commits it, so that the file is replaced
// whole or not at all. QSaveFile buffers up to 16 KB and its commit does not notice when the
// last of them fail to go out (a full disk, a file-size limit): every step is checked here, and
// a failure drops the temporary file and leaves the old file exactly as it was, and says why.
//
// steps: the sync (fsync's contract: 0, or -1 with errno set) and the commit; empty ones are the
// real steps. Tests put in failing ones.
struct SaveWholeSteps
{
    std::function<int(int)> Sync;
    std::function<bool(QSaveFile&)> Commit;
};
Result<> SaveWhole(QSaveFile& file, const QByteArray& bytes, const SaveWholeSteps& steps = {});
