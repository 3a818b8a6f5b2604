#pragma once

#include "platform/system/Result.h"

#include <QByteArray>

class QSaveFile;

// Writes bytes into a QSaveFile opened for writing and commits it, so that the file is replaced
// whole or not at all. QSaveFile buffers up to 16 KB and its commit does not notice when the
// last of them fail to go out (a full disk, a file-size limit): every step is checked here, and
// a failure drops the temporary file and leaves the old file exactly as it was, and says why.
Result<> SaveWhole(QSaveFile& file, const QByteArray& bytes);
