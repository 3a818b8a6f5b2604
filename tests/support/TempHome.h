#pragma once

#include <QString>
#include <QTemporaryDir>

// Points HOME and the XDG variables at a fresh temporary folder for as long as it lives, and
// restores the previous values afterwards.
class TempHome
{
public:
    TempHome();
    ~TempHome();

    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString Path() const { return m_dir.path(); }
    // A path inside the temporary folder.
    QString File(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};
