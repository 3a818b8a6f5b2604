#include "engine/FolderPass.h"

#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/AudioFileHelpers.h"
#include "framework/DebugLog.h"
#include "framework/GeneralHelpers.h"
#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileInUse.h"
#include "platform/system/HeldFolder.h"
#include "platform/system/ToolError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringBuilder>

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

void Trace(const QString& text)
{
    AddToDebugLog(text, 5, ovNone);
}

QString GroupPrefix(int index)
{
    return QStringLiteral("GRP:") + QString::number(index);
}

// Whether the store's audio folder lies in the watched folder (or is it): only then can a found
// file be a cart's own audio without being a link to it. The folder tree does not follow links
// to folders. folder: the watched folder with its links resolved.
bool StoreAudioInside(PlayoutAudio& store, const QString& folder)
{
    const QString audio = QFileInfo(FileFunctions::instance().GetFolderName(
                                        store.GetCartAudioPath(store.GetLastCart(0), 0, false), 0))
                              .canonicalFilePath();
    if (audio.isEmpty() || folder.isEmpty()) {
        return true;
    }
    return audio == folder || audio.startsWith(folder + QLatin1Char('/')) || folder == "/";
}

bool SameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty()) {
        return false;
    }
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

// The content version: a copy that lands while the previous version is being imported changes
// it.
FileVersionKey VersionOf(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return FileVersionKey::FromStat(info).Content();
}

// The acts on a listed file reach it through the folders that were listed: a folder renamed
// since and replaced by a link to somewhere else is not followed.

// Empty when deleted; otherwise why not.
QString DeleteListed(const QString& watched, const QString& path)
{
    const Result<HeldFolder> folder = HeldFolder::Holding(watched, path);
    if (!folder) {
        return folder.Reason();
    }
    return folder->Remove(FileFunctions::instance().GetFileName(path)).Reason();
}

// Whether the listed file is the one that the look `seen` took through its path (links
// followed): reached through the folders that were listed (held keeps the last of them, for the
// next file in it), not through a link put in place of one since. Empty when it is; otherwise
// why not.
QString ThroughListedFolders(std::optional<HeldFolder>& held, const QString& watched,
                             const QString& path, const FileVersionKey& seen)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView folder = slash <= 0 ? QStringView(u"/") : QStringView(path).left(slash);
    const QByteArray native = QFile::encodeName(path);
    const char* name = native.constData() + native.lastIndexOf('/') + 1;
    const auto same = [&] {
        struct stat info
        {
        };
        if (::fstatat(held->Fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return false;
        }
        // The look through the path followed a link only when the file itself is one.
        return (!S_ISLNK(info.st_mode) || ::fstatat(held->Fd(), name, &info, 0) == 0) &&
               quint64(info.st_dev) == seen.device && quint64(info.st_ino) == seen.inode;
    };
    if (held && held->Path() == folder && same()) {
        return {};
    }
    // A folder held earlier in the pass may have been swapped since: held afresh, it says so.
    Result<HeldFolder> fresh = HeldFolder::Holding(watched, path);
    if (!fresh) {
        held.reset();
        return fresh.Reason();
    }
    held = *fresh;
    return same() ? QString() : QStringLiteral("the file changed while it was being checked");
}

// The listed file as seen through the folders that were listed (held keeps the last of them, for
// the next file in it), links to files followed.
struct ListedLook
{
    // Empty when there is no regular file there now.
    std::optional<FileVersionKey> version;
    // The look at the name itself, when it is no link.
    std::optional<FileVersionKey> own;
    bool isLink = false;
    // Why its folder cannot be held; version is then empty.
    QString unreachable;
};

ListedLook LookThroughListedFolders(std::optional<HeldFolder>& held, const QString& watched,
                                    const QString& path)
{
    ListedLook look;
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView folder = slash <= 0 ? QStringView(u"/") : QStringView(path).left(slash);
    const QByteArray native = QFile::encodeName(path);
    if (!held || held->Path() != folder) {
        Result<HeldFolder> fresh = HeldFolder::Holding(watched, path);
        if (!fresh) {
            held.reset();
            struct stat info
            {
            };
            look.isLink = ::lstat(native.constData(), &info) == 0 && S_ISLNK(info.st_mode);
            look.unreachable = fresh.Reason();
            return look;
        }
        held = *fresh;
    }
    const char* name = native.constData() + native.lastIndexOf('/') + 1;
    struct stat info
    {
    };
    if (::fstatat(held->Fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return look;
    }
    look.isLink = S_ISLNK(info.st_mode);
    if ((look.isLink && ::fstatat(held->Fd(), name, &info, 0) != 0) || !S_ISREG(info.st_mode)) {
        return look;
    }
    look.version = FileVersionKey::FromStat(info);
    if (!look.isLink) {
        look.own = look.version;
    }
    return look;
}

// Raises ToolError when it cannot be cleared.
void ClearListedArchiveFlag(const QString& watched, const QString& path)
{
    const Result<HeldFolder> folder = HeldFolder::Holding(watched, path);
    if (!folder) {
        throw ToolError(ToolErrors::PathFileAccessError, folder.Reason());
    }
    ArchiveAttribute::Clear(
        path, {.tableFolder = Globals::ToolProfileFolder,
               .reachedAs = folder->Reach(FileFunctions::instance().GetFileName(path))});
}

// Files that name a cart another file of the pass names too, in the pass's order.
struct SharedCart
{
    QStringList files;
    // The one the pass offers, once known.
    std::optional<QString> chosen;
};

// Of several files that name one cart, a pass offers only one: importing each over the other
// would change the cart at every pass.
QHash<QString, SharedCart> SharedCarts(const FolderTreeFiles& found)
{
    // Sorted first by the number that the names begin with, which costs next to nothing: the
    // cart number is read from it, so only names with the same number can share a cart. Numbers
    // too long to be held exactly share one key and are read in full.
    constexpr qint64 tooLong = -1;
    std::vector<std::pair<qint64, qsizetype>> numbers;
    numbers.reserve(size_t(found.files.size()));
    for (qsizetype i = 0; i < found.files.size(); ++i) {
        const QString& name = found.files.at(i).name;
        qsizetype at = 0;
        while (at < name.size() && name.at(at) == u'0') {
            ++at;
        }
        const qsizetype first = at;
        while (at < name.size() && name.at(at) >= u'0' && name.at(at) <= u'9') {
            ++at;
        }
        qint64 number = at - first > 15 ? tooLong : 0;
        for (qsizetype digit = first; number != tooLong && digit < at; ++digit) {
            number = number * 10 + (name.at(digit).unicode() - u'0');
        }
        numbers.emplace_back(number, i);
    }
    std::sort(numbers.begin(), numbers.end());

    FileFunctions& files = FileFunctions::instance();
    QHash<QString, SharedCart> shared;
    for (auto run = numbers.cbegin(); run != numbers.cend();) {
        const auto end = std::find_if(
            run, numbers.cend(), [run](const auto& other) { return other.first != run->first; });
        if (end - run > 1) {
            QHash<QString, QStringList> byCart;
            for (auto entry = run; entry != end; ++entry) {
                const QString path = found.Path(entry->second);
                const qsizetype slash = path.lastIndexOf(u'/');
                if (FolderPass::InEngineFolder(QStringView(path).left(qMax<qsizetype>(slash, 0))) ||
                    (GetAudioFileType(path) == AudioFileType::Other &&
                     !files.ExtensionIs(path, QLatin1String("ZIP")))) {
                    continue;
                }
                byCart[CartFromTitle(files.GetFileTitle(path))].append(path);
            }
            for (auto cart = byCart.begin(); cart != byCart.end(); ++cart) {
                if (cart->size() > 1) {
                    shared.insert(cart.key(), SharedCart{std::move(*cart), std::nullopt});
                }
            }
        }
        run = end;
    }
    return shared;
}

// Whether a found file is the cart's own audio: reached through a link or in a store folder
// inside the watched one (mayBeReached), or another name of it (a hard link) anywhere.
bool CartsOwnAudio(const QString& path, const FileVersionKey& seen, bool mayBeReached,
                   const QString& cartAudio)
{
    if (mayBeReached && SameFile(path, cartAudio)) {
        return true;
    }
    struct stat info
    {
    };
    return seen.links > 1 && !cartAudio.isEmpty() &&
           ::stat(QFile::encodeName(cartAudio).constData(), &info) == 0 &&
           quint64(info.st_dev) == seen.device && quint64(info.st_ino) == seen.inode;
}

// The file of a shared cart that the pass offers: the newest (on a tie the last of the pass's
// order), also while it is still being written, so that the cart never goes back to an older
// one; never the cart's own audio; one that cannot be imported as it is only when all the
// others cannot either.
QString ChosenFile(const QStringList& files, bool storeAudioInside, const QString& cartAudio,
                   cImporter& importer)
{
    QString chosen[2];
    qint64 newest[2] = {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::min()};
    for (const QString& file : files) {
        const QByteArray native = QFile::encodeName(file);
        struct stat info
        {
        };
        if (::lstat(native.constData(), &info) != 0) {
            continue;
        }
        const bool isLink = S_ISLNK(info.st_mode);
        if (isLink && ::stat(native.constData(), &info) != 0) {
            continue;
        }
        const FileVersionKey seen = FileVersionKey::FromStat(info);
        if (CartsOwnAudio(file, seen, storeAudioInside || isLink, cartAudio)) {
            continue;
        }
        const int bad = importer.CannotImportAsItIs(file, seen) ? 1 : 0;
        if (seen.modifiedNs >= newest[bad]) {
            newest[bad] = seen.modifiedNs;
            chosen[bad] = file;
        }
    }
    return chosen[0].isEmpty() ? chosen[1] : chosen[0];
}

} // namespace

FolderPass::FolderPass(FileInUse& fileInUse, Hooks hooks)
    : m_fileInUse(fileInUse), m_hooks(std::move(hooks))
{}

bool FolderPass::InEngineFolder(QStringView folder)
{
    if (!folder.contains(u'!')) {
        return false;
    }
    return folder.contains(QStringLiteral("/Failed!"), Qt::CaseInsensitive) ||
           folder.contains(QStringLiteral("/Snapshots!"), Qt::CaseInsensitive);
}

bool FolderPass::Walk(cImporter& importer, PlayoutAudio& store, int index, cImporterGroup* group,
                      const FolderTreeFiles& found, const QString& resolved)
{
    FileFunctions& files = FileFunctions::instance();
    const QString prefix = GroupPrefix(index);
    store.ReadRangeTogether(group->StartHDRef, group->EndHDRef);
    const auto together = qScopeGuard([&store] { store.ReadRangeTogether({}, {}); });

    // A group that deletes what it imported takes such files in turn, each going as it is
    // imported, the last one staying in the cart.
    QHash<QString, SharedCart> shared;
    if (!group->DeleteAfterImport) {
        shared = SharedCarts(found);
    }
    // Only the files passed over in this pass are remembered at its end.
    QHash<QString, FileVersionKey> passedOverTold = m_passedOverTold.take(index);
    QHash<QString, FileVersionKey> passedOver;
    bool walked = false;
    const auto keepTold = qScopeGuard([&] {
        if (!walked) {
            // Cut short: the files it did not reach stay told.
            passedOverTold.insert(passedOver);
            passedOver = std::move(passedOverTold);
        }
        if (!passedOver.isEmpty()) {
            m_passedOverTold.insert(index, std::move(passedOver));
        }
    });

    // Asked at the first file that needs it: a store that is not there must fail as before.
    std::optional<bool> storeAudioInside;
    // The folder of the previous file offered: the next file is mostly in the same one.
    std::optional<HeldFolder> held;
    // The files of the listing, then those of a cart whose chosen file turned out to be one
    // that cannot be imported, passed over before that was known.
    const qsizetype listed = found.files.size();
    QList<qsizetype> retried;
    for (qsizetype at = 0; at < listed + retried.size(); ++at) {
        const QString path = found.Path(at < listed ? at : retried.at(at - listed));
        // A close taken while the previous file was worked on.
        if (!m_hooks.mayGoOn()) {
            return false;
        }
        const bool tracing = DebugLogTakes(5);
        if (tracing) {
            Trace(QStringLiteral("Found File ") + path);
        }
        // The engine's own subfolders, at any depth.
        const qsizetype slash = path.lastIndexOf(u'/');
        if (InEngineFolder(QStringView(path).left(qMax<qsizetype>(slash, 0)))) {
            continue;
        }
        // Built at once: this is done for every file of the pass.
        m_hooks.showStatus(QStringLiteral(" Checking ") % group->GroupName % QStringLiteral(" (") %
                           QStringView(path).mid(slash + 1) % u')');
        // Audio files and transport files.
        const bool accepted = GetAudioFileType(path) != AudioFileType::Other ||
                              files.ExtensionIs(path, QLatin1String("ZIP"));
        if (!accepted) {
            continue;
        }
        const QString cart = CartFromTitle(files.GetFileTitle(path));
        if (tracing) {
            Trace(QStringLiteral("Checking if ") + cart + QStringLiteral(" is valid HD Reference"));
        }
        if (!store.IsValidCart(cart) ||
            !store.IsCartInRange(cart, group->StartHDRef, group->EndHDRef)) {
            continue;
        }
        // A folder inside the store: the cart's own audio is never imported over itself, nor
        // deleted afterwards.
        if (!storeAudioInside) {
            storeAudioInside = StoreAudioInside(store, resolved);
        }
        // This look at the file serves the decision, which may leave it alone, and the engine.
        const ListedLook look = LookThroughListedFolders(held, group->Path, path);
        const bool isLink = look.isLink;
        if (!look.version && look.unreachable.isEmpty()) {
            // Gone since the listing, or no file to open.
            Trace(QStringLiteral("Cannot open '") + path +
                  QStringLiteral("' exclusively, possibly in use"));
            continue;
        }
        // A file still being written is tried again at the next pass. Tested only where the pass
        // may act on it (or tell of it): a file left alone needs no test.
        const auto inUseTest = [&] {
            if (tracing) {
                Trace(QStringLiteral("Check can open exclusively?"));
            }
            Result<FileVersionKey> opened = m_fileInUse.OpenExclusively(path);
            TellUnseenWriters(importer, index);
            if (!opened) {
                Trace(QStringLiteral("Cannot open '") + path +
                      QStringLiteral("' exclusively, possibly in use"));
            }
            return opened;
        };
        const auto couldNotCheck = [&](const QString& why) {
            importer.AddToLog(prefix, QStringLiteral("Couldn't check '") + path +
                                          QStringLiteral("' Error: ") + why);
        };
        const bool manyNames = look.version && look.version->links > 1;
        if ((*storeAudioInside || isLink || manyNames) &&
            CartsOwnAudio(path, look.version.value_or(FileVersionKey{}),
                          *storeAudioInside || isLink, store.GetCartAudioPath(cart, 0, false))) {
            Trace(QStringLiteral("'") + path + QStringLiteral("' is the audio of Cart ") + cart +
                  QStringLiteral(" itself"));
            continue;
        }
        if (const auto sharing = shared.find(cart); sharing != shared.end()) {
            if (!sharing->chosen) {
                sharing->chosen = ChosenFile(sharing->files, *storeAudioInside,
                                             store.GetCartAudioPath(cart, 0, false), importer);
            }
            if (*sharing->chosen != path) {
                std::optional<FileVersionKey> seen = look.version;
                // Told once written.
                if (!seen || !(passedOverTold.value(path) == seen->Content())) {
                    const Result<FileVersionKey> opened = inUseTest();
                    if (!opened) {
                        continue;
                    }
                    seen = seen.value_or(*opened);
                }
                const FileVersionKey told = passedOverTold.value(path);
                passedOver.insert(path, seen->Content());
                if (!(told == seen->Content())) {
                    const QDir watched(group->Path);
                    importer.AddToLog(prefix, u'\'' + watched.relativeFilePath(path) +
                                                  QStringLiteral("' is not imported: '") +
                                                  watched.relativeFilePath(*sharing->chosen) +
                                                  QStringLiteral("' also names Cart ") + cart);
                }
                continue;
            }
        }
        if (!look.version) {
            if (inUseTest()) {
                couldNotCheck(look.unreachable);
            }
            continue;
        }
        const FileVersionKey offered = look.version->Content();
        bool ok = false;
        {
            // The engine's first look at the file is this one.
            const FileVersionKey::Recent justSeen(path, *look.version);
            // Where the decision acts, the file opened by its path must be the one reached
            // through the folders that were listed.
            const cImporter::InUseTestPutOff putOff(
                importer,
                [&] {
                    const Result<FileVersionKey> opened = inUseTest();
                    const QString why =
                        opened ? ThroughListedFolders(held, group->Path, path, *opened) : QString();
                    if (!why.isEmpty()) {
                        couldNotCheck(why);
                    }
                    return opened && why.isEmpty();
                },
                look.own);
            ok = m_hooks.offer(index, path, cart);
        }
        if (!m_hooks.stillTheGroup(index, group)) {
            return false;
        }
        if (!ok) {
            // The cart's other files are not kept out by one that cannot be imported.
            if (const auto sharing = shared.find(cart);
                sharing != shared.end() && sharing->chosen == path &&
                importer.CannotImportAsItIs(path, *look.version)) {
                sharing->chosen = ChosenFile(sharing->files, *storeAudioInside,
                                             store.GetCartAudioPath(cart, 0, false), importer);
                const qsizetype next = found.IndexOf(*sharing->chosen);
                if (next >= 0 && next < at && !retried.contains(next)) {
                    retried.append(next);
                }
            }
            continue;
        }
        // Another version copied in during the import was not imported: it stays for the next
        // pass, neither deleted nor marked as archived.
        QString replaced;
        if (!(VersionOf(path) == offered)) {
            replaced = QStringLiteral("the file changed while it was being imported");
        }
        // A writer that paused during the import: the rest of the file is yet to come.
        const bool stillWritten = replaced.isEmpty() &&
                                  (group->DeleteAfterImport || group->UseArchiveBit) &&
                                  !m_fileInUse.OpenExclusively(path);
        if (group->DeleteAfterImport && !group->CheckCurrent) {
            if (!replaced.isEmpty()) {
                importer.AddToLog(prefix, QStringLiteral("Couldn't delete '") + path +
                                              QStringLiteral("' Error: ") + replaced);
            } else if (stillWritten) {
                importer.AddToLog(prefix, QStringLiteral("Kept '") + path +
                                              QStringLiteral("' instead of deleting it: it is "
                                                             "still being written"));
            } else if (importer.ImportedWithoutSnapshot(path)) {
                // The only copy of this version the group keeps.
                importer.AddToLog(prefix, QStringLiteral("Kept '") + path +
                                              QStringLiteral("' instead of deleting it: its "
                                                             "snapshot could not be taken"));
            } else if (const QString error = DeleteListed(group->Path, path); error.isEmpty()) {
                m_fileInUse.Forget(path);
                importer.AddToLog(prefix, QStringLiteral("Successfully deleted '") + path +
                                              QStringLiteral("'"));
            } else {
                importer.KeepImported(offered);
                importer.AddToLog(prefix, QStringLiteral("Couldn't delete '") + path +
                                              QStringLiteral("' Error: ") + error);
            }
        } else if (group->UseArchiveBit) {
            if (!replaced.isEmpty()) {
                importer.AddToLog(prefix, QStringLiteral("Couldn't clear Archive flag on '") +
                                              path + QStringLiteral("' Error: ") + replaced);
                continue;
            }
            if (stillWritten) {
                importer.AddToLog(prefix, QStringLiteral("Kept the Archive flag on '") + path +
                                              QStringLiteral("': it is still being written"));
                continue;
            }
            try {
                ClearListedArchiveFlag(group->Path, path);
                importer.AddToLog(prefix, QStringLiteral("Successfully cleared Archive flag '") +
                                              path + QStringLiteral("'"));
            } catch (const ToolError& error) {
                importer.AddToLog(prefix, QStringLiteral("Couldn't clear Archive flag on '") +
                                              path + QStringLiteral("' Error: ") +
                                              error.Description());
            }
        }
    }
    walked = true;
    return true;
}

void FolderPass::TellUnseenWriters(cImporter& importer, int index)
{
    for (const FileInUse::Unseen& unseen : m_fileInUse.TakeUnseen()) {
        importer.AddToLog(GroupPrefix(index),
                          QStringLiteral("Cannot see whether files in '") + unseen.folder +
                              QStringLiteral("' are still being written (") + unseen.why +
                              QStringLiteral("); a file there is taken once it has not "
                                             "changed between two checks"));
    }
}
