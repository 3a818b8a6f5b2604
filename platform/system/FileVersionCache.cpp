#include "platform/system/FileVersionCache.h"

#include <QFile>
#include <sys/stat.h>

std::optional<FileVersionKey> FileVersionKey::Of(const QString& path)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FileVersionKey{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                          qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                          qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}
