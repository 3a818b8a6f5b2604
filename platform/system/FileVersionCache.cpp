#include "platform/system/FileVersionCache.h"

#include <QFile>
#include <sys/stat.h>

namespace {

struct RecentLook
{
    QString path;
    FileVersionKey key;
    bool armed = false;
};

thread_local RecentLook recent;

} // namespace

FileVersionKey FileVersionKey::FromStat(const struct stat& st)
{
    FileVersionKey key{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                       qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                       qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
    key.links = quint64(st.st_nlink);
    return key;
}

std::optional<FileVersionKey> FileVersionKey::Of(const QString& path)
{
    if (recent.armed && recent.path == path) {
        recent.armed = false;
        return recent.key;
    }
    return Peek(path);
}

std::optional<FileVersionKey> FileVersionKey::Peek(const QString& path)
{
    if (recent.armed && recent.path == path) {
        return recent.key;
    }
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FromStat(st);
}

FileVersionKey FileVersionKey::Content() const
{
    FileVersionKey content = *this;
    content.changedNs = -1;
    return content;
}

std::optional<FileVersionKey> FileVersionKey::ContentOf(const QString& path)
{
    const std::optional<FileVersionKey> version = Of(path);
    return version ? std::optional(version->Content()) : std::nullopt;
}

FileVersionKey::Recent::Recent(const QString& path, const FileVersionKey& key)
{
    recent = {path, key, !path.isEmpty()};
}

FileVersionKey::Recent::~Recent()
{
    recent = {};
}
