#pragma once

#include <QObject>

class QSocketNotifier;

// Tells when the desktop session ends or the process is asked to terminate: the session
// manager's request to commit data, the application's event loop ending, SIGTERM and SIGHUP
// (what logind sends a session's processes on logout). The signals arrive through a self-pipe, so
// the window thread sees them as events. One watcher at a time owns the signal handlers; they are
// restored when it goes.
class SessionEndWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SessionEndWatcher(QObject* parent = nullptr);
    ~SessionEndWatcher() override;

    // Whether this watcher took the signals (false when another watcher holds them).
    bool WatchesSignals() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void SessionEnding();

private:
    void ReadSignals();

    QSocketNotifier* m_notifier = nullptr;
};
