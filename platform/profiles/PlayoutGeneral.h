#pragma once

#include <QString>
#include <QStringList>

class PlayoutAudio;
class PlayoutLogging;
class QObject;

// The playout component's general interface. PlayoutProfile is our implementation.
class PlayoutGeneral
{
public:
    virtual ~PlayoutGeneral() = default;

    virtual void setDebugLevel(qint32 level) = 0;
    // Non-zero when the profile was opened.
    virtual qint32 OpenProfile(const QString& profileName, qint32 playoutFlags, bool flag) = 0;
    // True when the playout component runs.
    virtual bool Start(QObject* application, qint32 playoutFlags) = 0;
    // The cart store and the play logs of the opened profile. Owned by this object; the same
    // objects for its whole life.
    virtual PlayoutAudio* Audio() = 0;
    virtual PlayoutLogging* Logging() = 0;
    // The file-locations dialog, modal; non-zero when accepted.
    virtual qint32 ShowFileLocations(qint32 flags, bool flag, quint32 backColour) = 0;
    // Opens the profile again after its file locations changed; non-zero on success.
    virtual qint32 ReloadProfile(const QString& profileName, qint32 flags) = 0;
    virtual QString GetComponentText(qint32 componentCode) const = 0;
    // The configuration files of the playout system (codes 1 and 256).
    virtual QStringList GetFileList(qint32 componentCode) const = 0;
};
