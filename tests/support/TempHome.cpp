#include "tests/support/TempHome.h"

#include <QDir>
#include <cstdio>
#include <ftw.h>

namespace {
const char* const kVariables[] = {"HOME",           "XDG_DATA_HOME",   "XDG_CONFIG_HOME",
                                  "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
}

TempHome::TempHome()
{
    for (const char* name : kVariables) {
        m_saved.append({name, qgetenv(name)});
    }
    const QString root = m_dir.path();
    QDir().mkpath(root + "/home");
    QDir().mkpath(root + "/runtime");
    // As the XDG rules ask; Qt warns about any other mode.
    QFile::setPermissions(root + "/runtime", QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadUser |
                                                 QFile::WriteUser | QFile::ExeUser);
    qputenv("HOME", QFile::encodeName(root + "/home"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/home/.local/share"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/home/.config"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + "/home/.local/state"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + "/home/.cache"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + "/runtime"));
}

TempHome::~TempHome()
{
    // QTemporaryDir leaves names that are not UTF-8 behind: the tree goes by its bytes.
    ::nftw(
        QFile::encodeName(m_dir.path()).constData(),
        [](const char* path, const struct stat*, int, FTW*) { return std::remove(path), 0; }, 16,
        FTW_DEPTH | FTW_PHYS);
    for (const auto& [name, value] : m_saved) {
        qputenv(name.constData(), value);
    }
}
