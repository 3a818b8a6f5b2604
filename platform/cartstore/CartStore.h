#pragma once

#include "platform/cartstore/Cart.h"
#include "platform/cartstore/CartListing.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/Result.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CartDatabase;
class CartStoreSettings;

// What one store object does differently (outside the class so that it can be a default
// argument of the class's own constructor).
struct CartStoreOptions
{
    // Off behaves as on a file system without hard links.
    bool hardLinks = true;
    // The identity of the store that must be found in the base folder (the one opened there
    // before); empty lets a new store be made; AnyStore asks for a store of any identity.
    QString storeId = {};
    static constexpr const char* AnyStore = "*";
};

// Our cart store: carts in a SQLite database (<base>/cartvault.db, WAL mode) and their audio as
// 16-bit PCM WAV files in <base>/Audio, named by the cart number zero-padded to the width of the
// highest cart number ("01234.wav"). Every whole number from 1 to the highest cart number is a
// valid cart; one that never held anything is empty. Cart texts name carts by their value, so
// "0042" and "42" are the same cart.
//
// The store knows its own folders: a marker file holding the store's identity (kept in its
// database) sits in the base and the audio folder. An audio folder without that marker (an
// unplugged disk, the empty mount point of an unmounted share, another store's folder) is never
// taken for this store's, so no cart is removed or imported through it.
class CartStore : public PlayoutAudio, public CartListing
{
public:
    using Options = CartStoreOptions;

    // Creates the folders, the database and the markers for a brand-new store (no database, no
    // marker, no audio), unless options.storeId asks for a store made before. Raises ToolError
    // StoreUnavailable, with a reason naming the folder or file, when the store cannot be opened:
    // the base folder cannot be reached or lacks the store asked for, its database is missing,
    // empty beside the store's audio, damaged or foreign, or its audio folder is missing or not
    // its own. Nothing is created or overwritten then.
    explicit CartStore(const QString& baseFolder, Options options = {});
    ~CartStore() override;

    CartStore(const CartStore&) = delete;
    CartStore& operator=(const CartStore&) = delete;

    // Common application data + "/Orvane/Cartvault v3".
    static QString DefaultBaseFolder();
    static constexpr const char* DatabaseName = "cartvault.db";
    static constexpr const char* AudioFolderName = "Audio";
    // One line, the store's identity "{UPPER-CASE-UUID}".
    static constexpr const char* MarkerName = ".cartvault-store";
    // The identity in a folder's marker; empty without one.
    static QString ReadMarker(const QString& folder);

    AudioSettingsInterface* AudioSettings() const override;
    void setAudioSettings(AudioSettingsInterface* settings) override;
    CartvaultSettings* GetCartvaultSettings() override;
    QString BaseFolder() const override;

    bool IsValidCart(const QString& hdReference) const override;
    bool IsCartInRange(const QString& cart, const QString& first,
                       const QString& last) const override;
    float GetRangePosition(const QString& cart, const QString& first,
                           const QString& last) const override;
    QString GetFirstCart(const QString& hdReference) const override;
    QString GetNextCart(const QString& hdReference) const override;
    QString GetLastCart(qint32 flags = 0) const override;

    std::optional<Cart> GetCart(const QString& hdReference, qint32 detailLevel, bool flag) override;
    qint32 SaveCart(const QString& hdReference, Cart& cart, qint32 detail, bool timingOnly,
                    bool afterImport, bool& flag) override;
    QString GetCartAudioPath(const QString& hdReference, qint32 flags, bool flag) const override;

    bool ImportAudioFile(QObject* parentWindow, const QString& hdReference, const QString& fileName,
                         qint32 flags, qint16 normaliseLevel, bool& flag1, qint32 arg7, qint32 arg8,
                         bool& flag2) override;
    bool ImportTransportFile(QObject* parentWindow, const QString& hdReference,
                             const QString& fileName, qint32 arg4, QObject* arg5, qint32 arg6,
                             QString& arg7, qint32 arg8, bool& flag) override;
    bool ExportCart(QObject* parentWindow, const QString& hdReference, const QString& targetFile,
                    QObject* progress, qint32 arg5, const QString& arg6, bool flag1,
                    bool flag2) override;
    bool RemoveCart(const QString& hdReference, bool flag1, bool flag2) override;
    // Files unchanged since they were last measured take their length from the length cache;
    // while files must be decoded, progress goes to the registered callbacks.
    void RefreshCartInfo(bool flag, QString& text, qint32& number) override;
    void RefreshCartInfoInRange(const QString& first, const QString& last, bool flag, QString& text,
                                qint32& number) override;

    void RegisterCallback(IAudioCallback* sink) override;
    void UnregisterCallback(IAudioCallback* sink) override;

    // The rows of the range are read with one query and served from memory until the
    // database changes (here at once, by another process within
    // CartDatabase::ForeignChangeDelayMs); after a change each row is read on its own again.
    // The audio folder stays open until the next call (an empty range ends the walk).
    void ReadRangeTogether(const QString& first, const QString& last) override;

    // Carts numbered beyond the highest cart are not valid and not listed.
    QList<CartSummary> ListCarts(qint64 afterNumber, int maxCount) const override;

    // Our own helpers, also used by the store's dialog and tests.
    QString AudioFolder() const;
    QString DatabasePath() const;
    qint32 HighestCart() const;
    // The cart's number, or empty when the text is not a valid cart.
    std::optional<qint32> CartNumber(const QString& hdReference) const;
    // The reason of the last failed import, export or removal, for diagnostics.
    QString LastError() const override { return m_lastError; }
    // The store's own notices and the length cache's.
    QStringList TakeNotices() override;
    QString StoreId() const { return m_storeId; }
    // Raises StoreUnavailable unless the audio folder carries this store's marker; the marker
    // is read again when the folder or the marker changed since, or when asked to.
    void EnsureAvailable(bool readMarker = false) const;
    // Plain reads trust a check younger than this; removals and writes always check now.
    static constexpr qint64 ReadCheckWindowMs = 1000;

    // The flag of ImportAudioFile that marks an import into an empty cart.
    static constexpr qint32 ImportIntoEmpty = 0x20;
    // EventReference of the progress calls.
    enum ProgressEvent : qint32
    {
        AudioImportEvent = 1,
        TransportImportEvent = 2,
        ExportEvent = 3,
        RefreshEvent = 4
    };

private:
    struct Row;
    class Progress;
    struct FolderLook
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedNs = 0;
        bool operator==(const FolderLook&) const = default;
    };

    // Where a cart's audio is: the file its row names when that is a plain file directly in the
    // audio folder (or not there), else the cart's own name there and a damaged row, told once.
    struct AudioLook
    {
        QString name;
        bool damaged = false;
        bool regular = false; // a plain file is there
        qint64 modifiedNs = 0;
    };
    AudioLook LookAtAudio(qint32 number, const Row* row) const;
    void TellDamagedRow(qint32 number, const QString& name) const;
    std::optional<Row> ReadRow(qint32 number) const;
    Result<> WriteRow(const Row& row);
    Cart MakeCart(qint32 number, const Row* row) const;
    Cart ReadAvailableCart(qint32 number) const;
    QString AudioFileNameFor(qint32 number) const;
    // Turns a routine's result into the answer of a member of the interface, keeping the reason
    // of a failure for LastError().
    bool Answer(const Result<>& outcome);
    Result<qint32> CartFor(const QString& hdReference) const;
    // A failure of the store itself, not of the file being imported: raised.
    [[noreturn]] void StoreFault(StoreError number, const QString& reason);
    void CheckAudioFolder(const QString& audioMarker, const QString& baseMarker,
                          bool hasCarts) const;
    void AdoptAudioFolder();
    bool WriteMarker(const QString& folder) const;
    QString MissingAudioReason() const;
    // How many of the audio files the carts name are in the audio folder, and how many are named.
    QPair<qsizetype, qsizetype> NamedAudioPresent() const;
    bool RestoreAudioMarker(const FolderLook& folder) const;
    void TellMarkersRestored() const;
    void RemoveLeftovers(bool now);
    static void ThrowIfStopped(bool ok);
    Result<> ImportInto(qint32 number, const QString& audioFile, const QString& sourceFile,
                        const std::optional<FileVersionKey>& sourceVersion, bool intoEmpty,
                        qint16 normaliseLevel, const QList<QPair<QString, QString>>* fields,
                        Progress& progress, double progressFrom);
    void RecoverInterruptedImports();
    qint32 RefreshLengths(qint32 first, qint32 last);

    QString m_baseFolder;
    Options m_options;
    // Asked for every cart of a check.
    QString m_audioFolder;
    QByteArray m_audioFolderNative;
    QByteArray m_markerNative;
    std::shared_ptr<CartDatabase> m_db;
    std::unique_ptr<CartStoreSettings> m_settings;
    AudioSettingsInterface* m_audioSettings = nullptr;
    QList<IAudioCallback*> m_callbacks;
    QString m_lastError;
    QString m_storeId;
    qint64 m_lastSweep = 0; // ms since the epoch
    struct Seen
    {
        quint64 folderDevice = 0;
        quint64 folderInode = 0;
        quint64 markerInode = 0;
        qint64 markerModifiedNs = 0;
        bool operator==(const Seen&) const = default;
    };
    mutable Seen m_verified;
    // The audio folder as last found without its marker and without its files.
    mutable FolderLook m_refusedFolder;
    mutable QStringList m_notices;
    mutable QSet<QPair<qint32, QString>> m_damagedRowsTold;
    // The file version each cart's unmeasurable audio was told for by the length refresh.
    QHash<qint32, QString> m_unmeasuredTold;
    mutable qint64 m_verifiedAtNs = 0; // steady clock
    // The audio folder, held open while a walk reads its range together, so that each cart's
    // audio is looked at by its name in there instead of by its whole path. Used only while it
    // is the folder last verified; closed when the walk ends, as a folder held open keeps its
    // share from being unmounted.
    struct HeldFolder
    {
        int fd = -1;
        quint64 device = 0;
        quint64 inode = 0;
    };
    HeldFolder m_held;
    void HoldAudioFolder();
    void ReleaseAudioFolder();
    struct RangeRows;
    mutable std::unique_ptr<RangeRows> m_range;
    static constexpr qsizetype MaxKeptRows = 100000;
    std::vector<std::unique_ptr<RangeRows>> m_keptRanges;
};
