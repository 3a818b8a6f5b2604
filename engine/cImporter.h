#pragma once

#include "engine/FailureMemory.h"
#include "engine/VanishedAudio.h"
#include "platform/cartstore/IAudioCallback.h"
#include "platform/system/FileVersionCache.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class cImporterGroup;
class ImporterDialogs;

// The import engine: the import groups, the engine's settings and their file, the application
// log entry point and the per-file import decision. Talks back to its owner through signals.
class cImporter : public QObject, public IAudioCallback
{
    Q_OBJECT

public:
    // clocks: the steady one times how long an audio file has been missing and how often a
    // lasting failure is told.
    explicit cImporter(QObject* parent = nullptr, Clocks clocks = {});
    ~cImporter() override;

    float CheckInterval = 0.0f; // seconds between two checks of the groups
    bool MinimiseToSysTray = false;

    bool ReadSettings(QString& Profilename);
    // An empty Profilename means the one remembered by ReadSettings; it is written back.
    bool WriteSettings(QString& Profilename);
    bool DisplaySettings();

    // 1-based; nullptr outside 1 to NumberGroups. The list's own object.
    cImporterGroup* ImporterGroup(qint16 Index) const;
    bool RemoveGroup(qint16& Index);
    bool DisplayGroup(qint16& Index);
    qint16 NumberGroups() const;
    // The new group's index, or 0 when the editor was cancelled.
    qint16 AddGroup();

    bool SMTPEmailEnabled() const { return m_smtpEmailEnabled; }
    void setSMTPEmailEnabled(bool bNewValue) { m_smtpEmailEnabled = bNewValue; }
    QString SMTPServerAddress() const { return m_smtpServerAddress; }
    void setSMTPServerAddress(const QString& vNewValue) { m_smtpServerAddress = vNewValue; }
    QString SMTPLoginName() const { return m_smtpLoginName; }
    void setSMTPLoginName(const QString& vNewValue) { m_smtpLoginName = vNewValue; }
    QString SMTPPassword() const { return m_smtpPassword; }
    void setSMTPPassword(const QString& vNewValue) { m_smtpPassword = vNewValue; }

    void AddToLog(QString Prefix, QString EventInfo);

    // ParentHWND: the owner window of the store's and the copies' progress, or nullptr.
    bool CheckFileAgainstHD(qint16& GroupIndex, QObject* ParentHWND, QString FileName,
                            QString HDReference);

    // Whether FileName's present version was imported without the snapshot its group asks for:
    // the file is then the only copy of that version and is not to be deleted.
    bool ImportedWithoutSnapshot(const QString& FileName) const;
    // A version imported from a file that then could not be deleted: not imported again in this
    // run, or a file the program may not delete would be imported at every pass.
    void KeepImported(const FileVersionKey& Version);
    // Whether this version of FileName was found to be one that cannot be imported as it is:
    // it holds no audio (found in this run, or told in an earlier one), or its import failed and
    // it could not be moved into "Failed!". A version never offered is not known to be so.
    bool CannotImportAsItIs(const QString& FileName, const FileVersionKey& Version);

    // Asked by a re-check of a group's range before it offers the carts with audio whose audio
    // files are missing from Folder: false when more than half of the WithAudio carts with audio
    // (and more than 2) lost their files at once. A refusal is logged once, and again at most
    // hourly while the same carts stay missing; the first of a run of refusals is mailed.
    bool MayRemoveVanishedCarts(qint16& GroupIndex, const QString& Folder,
                                const QStringList& MissingCarts, qint32 WithAudio);
    // A re-check found the cart's audio file there, whether or not it offers it: a miss before
    // this look no longer counts towards removing the cart.
    void AudioSeen(const QString& FileName);

    // For the CheckFileAgainstHD calls within its life: the check has not yet tested whether the
    // file is still being written, and leaves that to the decision, which tests it (test) only
    // where it may act on the file. test answers whether it may, and says why not itself.
    // ownLook: the check's look at the file's name itself, when that is no link.
    class InUseTestPutOff
    {
    public:
        InUseTestPutOff(cImporter& importer, std::function<bool()> test,
                        std::optional<FileVersionKey> ownLook = std::nullopt);
        ~InUseTestPutOff();
        InUseTestPutOff(const InUseTestPutOff&) = delete;
        InUseTestPutOff& operator=(const InUseTestPutOff&) = delete;

    private:
        cImporter& m_importer;
    };

    // The windows of AddGroup, DisplayGroup and DisplaySettings; not owned. Without them those
    // members show nothing and return false (AddGroup 0).
    void setDialogs(ImporterDialogs* dialogs) { m_dialogs = dialogs; }
    ImporterDialogs* dialogs() const { return m_dialogs; }

Q_SIGNALS:
    void LogEventAdded(const QDateTime& EventDate, const QString& EventString);
    void ImportStarted(const QString& FileName, const QString& HDReference);
    void ImportProgress(const QString& FileName, const QString& HDReference, qint16 Progress);
    void ImportFinished(const QString& FileName, const QString& HDReference);
    void ProcessStarted(const QString& Caption, bool UsesProgress);
    void ProcessProgress(const QString& Caption, qint16 ProgressPercent);
    void ProcessEnd(const QString& Caption, bool UsedProgress);

private:
    friend class cImporterTestAccess; // tests reach the private routines through it
    friend class cImporterEmailTest;
    friend class ImportDecision; // the steps of CheckFileAgainstHD

    void SendSuccessEmail(qint16& GroupNumber, QString& FileName, QString& HDReference,
                          QString& Note);
    void SendFailedEmail(qint16& GroupNumber, QString& FileName, QString& HDReference,
                         QString& Note);
    bool MoveToFailedFolder(qint16& GroupIndex, QString& FileName);
    bool TakeSnapshot(qint16& GroupIndex, QString FileName);

    // IAudioCallback
    void Callback(qint32 eventReference, const QString& hdReference1, const QString& hdReference2,
                  const QString& otherInformation1, bool& cancel) override;
    void HardDiskItemsFound(QObject* clsHDItems, bool& stopSearching) override;
    void Progress(const QString& recentReference, float percentProgress, bool& cancel) override;
    void Progress2(qint32 eventReference, const QString& caption, float percentProgress,
                   bool& cancel) override;
    void ProgressStart(qint32 eventReference, const QString& caption, bool usesProgress,
                       bool& cancel) override;
    void ProgressEnd(qint32 eventReference, const QString& caption, bool usedProgress) override;

    void ReadGroup(cImporterGroup& group, const QString& section);
    void WriteGroup(const cImporterGroup& group, const QString& section);
    // Tells the log and the operator that the settings file keeps its old values.
    void SettingsNotSaved(const QString& reason);
    void WriteValue(const QString& section, const QString& key, const QString& value,
                    const QString& defaultValue);

    std::vector<std::unique_ptr<cImporterGroup>> m_groups; // place i is m_groups[i - 1]
    QString m_profileName;
    QString m_settingsFile;
    bool m_smtpEmailEnabled = false;
    QString m_smtpServerAddress;
    QString m_smtpLoginName;
    QString m_smtpPassword; // in clear
    ImporterDialogs* m_dialogs = nullptr;
    // What was told about files that keep failing: the same failure of the same file version
    // mails once and is logged at most once an hour. Forgotten for a file once it imports.
    FailureMemory m_failures;
    // The file of the decision under way, whose lines repeat only as m_failures allows.
    struct Deciding
    {
        QString file;
        // Looked at when first needed: most decisions say nothing.
        std::optional<FailureMemory::Version> version;
    };
    std::optional<Deciding> m_deciding;
    const FailureMemory::Version& DecidingVersion();
    // Audio files of re-checked carts found missing, and since when.
    VanishedAudio m_vanishedAudio;
    // The re-check ranges whose removals are held back since their last pass that did not:
    // their mail went out once; the carts last said to be missing, and when (steady clock, ns).
    struct RemovalsHeld
    {
        // Every cart the hold-back line named since removals were last allowed.
        QSet<QString> told;
        qint64 saidAtNs = 0;
    };
    QHash<QString, RemovalsHeld> m_removalsHeld;
    Clocks m_clocks;
    // Content versions of files a snapshot was taken of (true): one each, however often the
    // import is tried; or that were imported while their snapshot could not be taken (false).
    FileVersionCache<bool> m_snapshotsTaken;
    // Content versions imported and then kept in their folder against the group's wish.
    FileVersionCache<bool> m_keptAfterImport;
    // Versions found not importable as they are (true), or asked about and not known so.
    FileVersionCache<bool> m_cannotImport;
    // The in-use test the check left to the decision, and its look at the file's own name.
    struct PutOff
    {
        std::function<bool()> test;
        std::optional<FileVersionKey> ownLook;
    };
    std::optional<PutOff> m_inUseTestPutOff;
};
