#include "fuzz/FuzzSupport.h"

#include "platform/system/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

namespace {

QTemporaryDir* g_folder = nullptr;

void RemoveFolder()
{
    delete g_folder;
    g_folder = nullptr;
}

} // namespace

QString Start(App app)
{
    if (g_folder) {
        return g_folder->path();
    }
    g_folder = new QTemporaryDir(QDir::tempPath() + "/cf-fuzz-XXXXXX");
    if (!g_folder->isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        std::abort();
    }
    std::atexit(RemoveFolder);
    const QString root = g_folder->path();
    for (const char* folder :
         {"home/.local/share", "home/.config", "home/.local/state", "home/.cache", "runtime"}) {
        QDir().mkpath(root + "/" + folder);
    }
    QFile::setPermissions(root + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root + "/home"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/home/.local/share"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/home/.config"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + "/home/.local/state"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + "/home/.cache"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + "/runtime"));
    qputenv("QT_QPA_PLATFORM", "offscreen");

    static int argc = 1;
    static char name[] = "cartfeeder-fuzz";
    static char* argv[] = {name, nullptr};
    if (app == App::Gui) {
        new QGuiApplication(argc, argv);
    } else {
        new QCoreApplication(argc, argv);
    }
    QCoreApplication::setApplicationName("Cartfeeder");
    MessageBox::SetHandler(
        [](const MessageBoxRequest& request) { return request.DefaultAnswer(); });
    return root;
}

QByteArray Bytes(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

QString WriteFile(const QString& name, const QByteArray& bytes)
{
    const QString path = Start() + "/" + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        Fail("cannot write the input file", path);
    }
    return path;
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "FINDING: %s %s\n", what, detail.toLocal8Bit().constData());
    std::abort();
}

} // namespace FuzzSupport
