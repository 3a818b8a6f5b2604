#include "ui/SessionEndWatcher.h"

#include "framework/DebugLog.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};

// The pipe and the handlers replaced, for the one watcher that holds them.
int pipeFds[2] = {-1, -1};
struct sigaction previous[std::size(kSignals)];
bool held = false;

void OnSignal(int number)
{
    const int savedErrno = errno;
    const char byte = char(number);
    // A full pipe already holds a pending request.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

bool InstallHandlers()
{
    if (held || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &previous[i]);
    }
    held = true;
    return true;
}

void RemoveHandlers()
{
    if (!held) {
        return;
    }
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &previous[i], nullptr);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
    held = false;
}

} // namespace

SessionEndWatcher::SessionEndWatcher(QObject* parent) : QObject(parent)
{
    if (InstallHandlers()) {
        m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SessionEndWatcher::ReadSignals);
    } else {
        AddToDebugLog(QStringLiteral("SessionEndWatcher: termination signals not watched"), 5,
                      ovNone);
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
#ifndef QT_NO_SESSIONMANAGER
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { Q_EMIT SessionEnding(); });
#endif
        // The event loop is ending without the window having been closed.
        connect(app, &QCoreApplication::aboutToQuit, this, &SessionEndWatcher::SessionEnding);
    }
}

SessionEndWatcher::~SessionEndWatcher()
{
    if (m_notifier) {
        delete m_notifier;
        m_notifier = nullptr;
        RemoveHandlers();
    }
}

void SessionEndWatcher::ReadSignals()
{
    char bytes[16];
    bool any = false;
    while (::read(pipeFds[0], bytes, sizeof bytes) > 0) {
        any = true;
    }
    if (any) {
        AddToDebugLog(QStringLiteral("Termination requested"), 5, ovNone);
        Q_EMIT SessionEnding();
    }
}
