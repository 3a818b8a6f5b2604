#pragma once

#include "engine/ImporterDialogs.h"
#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/DebugLog.h"
#include "platform/cartstore/CartStore.h"
#include "platform/directory/UserDirectory.h"
#include "tests/support/ManualClocks.h"
#include "tests/support/TempHome.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// The real cart store, recording what the import decision asks of it; a test can make it
// refuse or fail where the store itself would need a broken disk.
class RecordingCartStore : public CartStore
{
public:
    using CartStore::CartStore;

    struct ImportCall
    {
        QString cart;
        QString file;
        qint32 flags = 0;
        qint16 level = 0;
    };
    QList<ImportCall> imports;
    QList<QPair<bool, bool>> saves; // timingOnly, afterImport
    bool refuseImport = false;
    // Raised by imports when not 0, as a store raises its own faults.
    qint32 throwOnImport = 0;
    QString throwText = QStringLiteral("The cart store's database is locked");
    bool refuseRemove = false;
    qint32 timingSaveStatus = 0;

    bool ImportAudioFile(QObject* parentWindow, const QString& hdReference, const QString& fileName,
                         qint32 flags, qint16 normaliseLevel, bool& flag1, qint32 arg7, qint32 arg8,
                         bool& flag2) override;
    qint32 SaveCart(const QString& hdReference, Cart& cart, qint32 detail, bool timingOnly,
                    bool afterImport, bool& flag) override;
    bool RemoveCart(const QString& hdReference, bool flag1, bool flag2) override;
};

// Adds groups as the group editor would.
class GroupEditorStandIn : public ImporterDialogs
{
public:
    std::function<void(cImporterGroup&)> edit;
    bool DisplayGroup(cImporter&, cImporterGroup& group) override
    {
        if (edit) {
            edit(group);
        }
        return true;
    }
    bool DisplayImporter(cImporter&) override { return false; }
};

// CheckFileAgainstHD over a real cart store, user directory, application log and debug log in a
// temporary home, with a watched folder "drop".
class ImportDecisionFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A group with the constructor's defaults, changed by edit; returns its index.
    qint16 AddGroup(const std::function<void(cImporterGroup&)>& edit = {});
    cImporterGroup& Group(qint16 index = 1) { return *importer->ImporterGroup(index); }

    bool Check(const QString& file, const QString& cart, qint16 group = 1);
    // As a new run of the program: new store and importer objects over the same folders, the
    // groups made again by the edits given.
    void Restart(const QList<std::function<void(cImporterGroup&)>>& groups);

    // A path in the watched folder.
    QString Drop(const QString& name) const;
    // A 16-bit PCM sine in the watched folder, 8 kHz mono unless told.
    QString Wav(const QString& name, double seconds, int sampleRate = 8000, double peak = 0.5);
    // Fills the cart from a short WAV, then stores the changes made by edit as given.
    Cart PrepareCart(const QString& cart, const std::function<void(Cart&)>& edit = {},
                     double seconds = 0.5);
    // Stores the changes made by edit as given, without touching the audio.
    void EditCart(const QString& cart, const std::function<void(Cart&)>& edit);
    Cart GetCart(const QString& cart);
    // Sets the file's modification time relative to another file's.
    static void SetModifiedRelativeTo(const QString& file, const QString& reference,
                                      qint64 milliseconds);

    // The groups' lines in the application log, without "GRP:", the number and ":".
    QStringList AppLog() const;
    // Debug-log texts that begin with "CheckFileAgainstHD:", without it.
    QStringList Traces() const;
    // In order: "log:" and the text of the groups' log lines, "success:" or "fail:" and the note
    // of each mail handed over.
    QStringList Record() const;
    // ImportStarted, ImportProgress n, ImportFinished and the snapshot's Process events.
    QStringList ImportEvents() const;
    // Forgets the logs and events so far.
    void ForgetSoFar();

    TempHome home;
    FreshDebugLogState debugLog;
    std::unique_ptr<RecordingCartStore> store;
    std::unique_ptr<UserDirectory> directory;
    ManualClocks clocks; // the importer's
    std::unique_ptr<cImporter> importer;
    GroupEditorStandIn editor;
    QStringList events;

private:
    void MakeImporter();
    QStringList DebugTexts() const;
    qsizetype m_appLogSkip = 0;
    qsizetype m_debugSkip = 0;
};
