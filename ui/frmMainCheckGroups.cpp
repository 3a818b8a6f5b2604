// The periodic check of all groups: which files and carts are offered to the import engine, in
// which order, and what happens to a source file afterwards.
#include "ui/frmMain.h"

#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/AudioFileHelpers.h"
#include "framework/DebugLog.h"
#include "framework/GeneralHelpers.h"
#include "framework/LogText.h"
#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileInUse.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/HeldFolder.h"
#include "platform/system/LongWork.h"
#include "platform/system/ToolError.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProgressBar>
#include <QScopeGuard>
#include <QStringBuilder>

#include <algorithm>
#include <cmath>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
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

bool InEngineFolder(QStringView folder)
{
    if (!folder.contains(u'!')) {
        return false;
    }
    return folder.contains(QStringLiteral("/Failed!"), Qt::CaseInsensitive) ||
           folder.contains(QStringLiteral("/Snapshots!"), Qt::CaseInsensitive);
}

// Whether the store's audio folder lies in the watched folder (or is it): only then can a found
// file be a cart's own audio without being a link to it. The folder tree does not follow links
// to folders.
bool StoreAudioInside(PlayoutAudio& store, const QString& watched)
{
    const QString audio = QFileInfo(FileFunctions::instance().GetFolderName(
                                        store.GetCartAudioPath(store.GetLastCart(0), 0, false), 0))
                              .canonicalFilePath();
    const QString folder = QFileInfo(watched).canonicalFilePath();
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
// next file in it), not through a link put in place of one since. isLink receives whether the
// file itself is a link. Empty when it is; otherwise why not.
QString ThroughListedFolders(std::optional<HeldFolder>& held, const QString& watched,
                             const QString& path, const FileVersionKey& seen, bool& isLink)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView folder = slash <= 0 ? QStringView(u"/") : QStringView(path).left(slash);
    const QByteArray native = QFile::encodeName(path);
    const char* name = native.constData() + native.lastIndexOf('/') + 1;
    isLink = false;
    const auto same = [&] {
        struct stat info
        {
        };
        if (::fstatat(held->Fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return false;
        }
        isLink = S_ISLNK(info.st_mode);
        // The look through the path followed a link only when the file itself is one.
        return (!isLink || ::fstatat(held->Fd(), name, &info, 0) == 0) &&
               quint64(info.st_dev) == seen.device && quint64(info.st_ino) == seen.inode;
    };
    if (held && held->Path() == folder && same()) {
        return {};
    }
    // A folder held earlier in the pass may have been swapped since: held afresh, it says so.
    Result<HeldFolder> fresh = HeldFolder::Holding(watched, path);
    if (!fresh) {
        held.reset();
        struct stat info
        {
        };
        isLink = ::lstat(native.constData(), &info) == 0 && S_ISLNK(info.st_mode);
        return fresh.Reason();
    }
    held = *fresh;
    return same() ? QString() : QStringLiteral("the file changed while it was being checked");
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
QHash<QString, SharedCart> SharedCarts(const QStringList& found)
{
    // Sorted first by the number that the names begin with, which costs next to nothing: the
    // cart number is read from it, so only names with the same number can share a cart. Numbers
    // too long to be held exactly share one key and are read in full.
    constexpr qint64 tooLong = -1;
    std::vector<std::pair<qint64, qsizetype>> numbers;
    numbers.reserve(size_t(found.size()));
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QString& path = found.at(i);
        qsizetype at = path.lastIndexOf(u'/') + 1;
        while (at < path.size() && path.at(at) == u'0') {
            ++at;
        }
        const qsizetype first = at;
        while (at < path.size() && path.at(at) >= u'0' && path.at(at) <= u'9') {
            ++at;
        }
        qint64 number = at - first > 15 ? tooLong : 0;
        for (qsizetype digit = first; number != tooLong && digit < at; ++digit) {
            number = number * 10 + (path.at(digit).unicode() - u'0');
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
                const QString& path = found.at(entry->second);
                const qsizetype slash = path.lastIndexOf(u'/');
                if (InEngineFolder(QStringView(path).left(qMax<qsizetype>(slash, 0))) ||
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

QString Describe(const std::exception& error)
{
    if (const auto* toolError = dynamic_cast<const ToolError*>(&error)) {
        return toolError->Description();
    }
    return QString::fromLocal8Bit(error.what());
}

} // namespace

void frmMain::CheckGroups(const bool& ForceCheck)
{
    Trace(QStringLiteral("CheckGroups ") +
          (ForceCheck ? QStringLiteral("True") : QStringLiteral("False")));

    // A running pass is never entered again, not even by a forced call.
    if (LeadingNumber(tmrCheckGroupsTag) != 0) {
        return;
    }
    // Before start-up and after shut-down there is nothing to check.
    if (!m_importer) {
        return;
    }

    bool running = false;
    try {
        // On the steady clock: a step of the wall clock (NTP, the repeated autumn hour) neither
        // stalls nor hurries the check.
        const double elapsed = SecondsSinceLastCheck();
        if (LastCheck.Day > 0) {
            SetOverallStatus(QStringLiteral(" Time until next check : ") +
                             DateTimeFunctions::instance().FormatTimeText(
                                 double(m_importer->CheckInterval) - elapsed, 22));
        }
        if (!ForceCheck && float(elapsed) < m_importer->CheckInterval) {
            return;
        }

        running = true;
        RunCheck();
    } catch (const std::exception& error) {
        CheckFailed(running, Describe(error));
    }
}

void frmMain::RunCheck()
{
    setCursor(Qt::WaitCursor);
    CheckInProgress = true;
    mnuSettings->menuAction()->setEnabled(false);
    if (QApplication::activeWindow() == this) {
        mnuCheckNow->setEnabled(false);
    }
    tmrCheckGroupsTag = QStringLiteral("1");

    // The groups can change while the pass yields; each is read afresh by its index.
    const int count = m_importer->NumberGroups();
    for (int index = 1; index <= count; ++index) {
        if (UnloadPending) {
            break;
        }
        SelectGroupRow(index);
        prgOverallProgress->setValue(0);
        Trace(QStringLiteral("Check Group ") + QString::number(index));
        cImporterGroup* group = m_importer->ImporterGroup(qint16(index));
        if (!group) {
            break;
        }
        if (!group->Enabled) {
            continue;
        }
        SetOverallStatus(QStringLiteral(" Checking ") + group->GroupName);
        const bool goOn =
            group->CheckCurrent ? CheckCartRange(index, group) : CheckFolder(index, group);
        if (!goOn) {
            break;
        }
    }

    EndCheck();
}

void frmMain::EndCheck()
{
    CheckInProgress = false;
    if (UnloadPending) {
        // The window goes away; its busy marks go with it.
        Unload();
        return;
    }
    m_fileInUse->PassEnded();
    prgOverallProgress->setValue(100);
    tmrCheckGroupsTag = QStringLiteral("0");
    if (QApplication::activeWindow() == this) {
        mnuCheckNow->setEnabled(true);
    }
    mnuSettings->menuAction()->setEnabled(true);
    SetOverallStatus(QStringLiteral(" Checking...Finished"));
    unsetCursor();
    MarkCheckEnd();
}

void frmMain::TellStoreNotices()
{
    if (!Globals::PlayoutAudio || !m_importer) {
        return;
    }
    try {
        for (const QString& notice : Globals::PlayoutAudio->TakeNotices()) {
            m_importer->AddToLog(QString(), notice);
        }
    } catch (const std::exception& error) {
        Trace(QStringLiteral("Couldn't log the store's notices: ") + Describe(error));
    }
}

void frmMain::MarkCheckEnd()
{
    TellStoreNotices();
    LastCheck = DateTimeFunctions::instance().CurrentDateTime(0);
    m_lastCheckSteadyNs = m_clocks.SteadyNs();
}

double frmMain::SecondsSinceLastCheck() const
{
    if (!m_lastCheckSteadyNs) {
        return std::numeric_limits<double>::infinity();
    }
    return double(m_clocks.SteadyNs() - *m_lastCheckSteadyNs) / 1e9;
}

void frmMain::CheckFailed(bool running, const QString& description)
{
    Trace(QStringLiteral("CheckGroups failed: ") + description);
    if (!running) {
        return;
    }
    // Idle again, and the next try one interval later rather than at the next tick.
    CheckInProgress = false;
    tmrCheckGroupsTag = QStringLiteral("0");
    mnuCheckNow->setEnabled(true);
    mnuSettings->menuAction()->setEnabled(true);
    unsetCursor();
    MarkCheckEnd();
    if (m_importer) {
        try {
            m_importer->AddToLog(QString(),
                                 QStringLiteral("Couldn't finish checking the groups Error: ") +
                                     description);
        } catch (const std::exception&) {
            // The log itself failed; the trace above holds the reason.
        }
    }
    if (UnloadPending) {
        Unload();
    }
}

bool frmMain::StillTheGroup(int index, cImporterGroup*& group) const
{
    cImporterGroup* current = m_importer ? m_importer->ImporterGroup(qint16(index)) : nullptr;
    if (current != group) {
        Trace(QStringLiteral("Group ") + QString::number(index) +
              QStringLiteral(" changed during the check, check ended"));
        group = nullptr;
        return false;
    }
    return true;
}

bool frmMain::CheckCartRange(int index, cImporterGroup* group)
{
    PlayoutAudio* store = Globals::PlayoutAudio;
    if (!store) {
        return true;
    }
    FileFunctions& files = FileFunctions::instance();
    store->ReadRangeTogether(group->StartHDRef, group->EndHDRef);
    const auto together = qScopeGuard([store] { store->ReadRangeTogether({}, {}); });

    // Carts whose audio file is missing wait until the whole range has been seen: so many gone
    // at once is no deletion.
    QStringList missing;
    qint32 present = 0;
    QString cart = store->GetFirstCart(group->StartHDRef);
    // The range ends are read from the group for every test.
    while (store->IsCartInRange(cart, group->StartHDRef, group->EndHDRef)) {
        if (UnloadPending) {
            return false;
        }
        prgOverallProgress->setValue(
            qRound(store->GetRangePosition(cart, group->StartHDRef, group->EndHDRef)));
        // The only place where a pass yields.
        if (LastDigit(LeadingNumber(cart)) == 1) {
            QCoreApplication::processEvents();
            if (!StillTheGroup(index, group)) {
                return false;
            }
            if (!group->Enabled || !group->CheckCurrent) {
                return true;
            }
            SetOverallStatus(QStringLiteral(" Checking ") + group->GroupName +
                             QStringLiteral(" (Cart ") + cart + QStringLiteral(")"));
        }
        const QString path = store->GetCartAudioPath(cart, 0, false);
        const bool exists = files.FileExists(path);
        if (!exists && group->RemoveIfDeleted) {
            missing.append(cart);
            cart = store->GetNextCart(cart);
            continue;
        }
        if (exists) {
            ++present;
            m_importer->AudioSeen(path);
        }
        // A cart whose file has gone is offered all the same: the engine removes it.
        bool offer = true;
        std::optional<FileVersionKey> look;
        if (exists) {
            if (const Result<FileVersionKey> opened = m_fileInUse->OpenExclusively(path)) {
                look = *opened;
            } else {
                Trace(QStringLiteral("Cannot open '") + path +
                      QStringLiteral("' exclusively, possibly in use"));
                offer = false;
            }
        }
        if (offer) {
            bool ok = false;
            {
                // The engine's first look at the file is the one just taken.
                std::optional<FileVersionKey::Recent> justSeen;
                if (look) {
                    justSeen.emplace(path, *look);
                }
                OfferFile(index, path, cart, ok);
            }
            if (!StillTheGroup(index, group)) {
                return false;
            }
            if (!group->Enabled || !group->CheckCurrent) {
                return true;
            }
        }
        cart = store->GetNextCart(cart);
    }
    return OfferCartsOfMissingAudio(index, group, missing, present);
}

bool frmMain::OfferCartsOfMissingAudio(int index, cImporterGroup*& group, const QStringList& carts,
                                       qint32 present)
{
    PlayoutAudio* store = Globals::PlayoutAudio;
    // Only carts with audio can be removed; the others are numbers not in use.
    QStringList vanished;
    QString folder;
    for (const QString& cart : carts) {
        const std::optional<Cart> row = store->GetCart(cart, 3, true);
        if (row && row->Length > 0) {
            vanished.append(cart);
            if (folder.isEmpty()) {
                folder = FileFunctions::instance().GetFolderName(row->AudioFilePath, 0);
            }
        }
    }
    qint16 groupIndex = qint16(index);
    if (!m_importer->MayRemoveVanishedCarts(groupIndex, folder, vanished,
                                            present + qint32(vanished.size()))) {
        return true;
    }
    for (const QString& cart : carts) {
        if (UnloadPending) {
            return false;
        }
        bool ok = false;
        OfferFile(index, store->GetCartAudioPath(cart, 0, false), cart, ok);
        if (!StillTheGroup(index, group)) {
            return false;
        }
        if (!group->Enabled || !group->CheckCurrent) {
            return true;
        }
    }
    return true;
}

bool frmMain::CheckFolder(int index, cImporterGroup* group)
{
    PlayoutAudio* store = Globals::PlayoutAudio;
    if (!store) {
        return true;
    }
    FileFunctions& files = FileFunctions::instance();
    const QString prefix = GroupPrefix(index);

    Trace(QStringLiteral("Check Folder exists ") + group->Path);
    if (!files.FolderExists(group->Path)) {
        m_importer->AddToLog(prefix, QStringLiteral("Couldn't find directory \"") +
                                         group->Path.trimmed() +
                                         QStringLiteral("\" to check for new files"));
        return true;
    }
    // Before the listing: a file that appears during it is seen from its first write.
    m_fileInUse->WatchTree(group->Path);

    Trace(QStringLiteral("Reading Folder Tree"));
    QList<FolderNamesNotText> namesNotText;
    const QStringList found =
        GetFolderTree(group->Path, QStringLiteral("*.*"), false, &namesNotText);
    Trace(QStringLiteral("Reading Folder Tree Ok - ") +
          (ArrayIsEmpty(found) ? QStringLiteral("None") : QStringLiteral("Found Files")));
    TellNamesNotText(index, group->Path, std::move(namesNotText));
    if (ArrayIsEmpty(found)) {
        return true;
    }
    store->ReadRangeTogether(group->StartHDRef, group->EndHDRef);
    const auto together = qScopeGuard([store] { store->ReadRangeTogether({}, {}); });

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
    for (const QString& path : found) {
        // A close taken while the previous file was worked on.
        if (UnloadPending) {
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
        // A file still being written is tried again at the next pass.
        if (tracing) {
            Trace(QStringLiteral("Check can open exclusively?"));
        }
        const Result<FileVersionKey> opened = m_fileInUse->OpenExclusively(path);
        TellUnseenWriters(index);
        if (!opened) {
            Trace(QStringLiteral("Cannot open '") + path +
                  QStringLiteral("' exclusively, possibly in use"));
            continue;
        }
        // Built at once: this is done for every file of the pass.
        SetOverallStatus(QStringLiteral(" Checking ") % group->GroupName % QStringLiteral(" (") %
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
        if (!store->IsValidCart(cart) ||
            !store->IsCartInRange(cart, group->StartHDRef, group->EndHDRef)) {
            continue;
        }
        // A folder inside the store: the cart's own audio is never imported over itself, nor
        // deleted afterwards.
        if (!storeAudioInside) {
            storeAudioInside = StoreAudioInside(*store, group->Path);
        }
        // The in-use test's look at the file serves the folder test and the engine.
        const FileVersionKey offered = opened->Content();
        bool isLink = false;
        const QString why = ThroughListedFolders(held, group->Path, path, *opened, isLink);
        if ((*storeAudioInside || isLink || opened->links > 1) &&
            CartsOwnAudio(path, *opened, *storeAudioInside || isLink,
                          store->GetCartAudioPath(cart, 0, false))) {
            Trace(QStringLiteral("'") + path + QStringLiteral("' is the audio of Cart ") + cart +
                  QStringLiteral(" itself"));
            continue;
        }
        if (const auto sharing = shared.find(cart); sharing != shared.end()) {
            if (!sharing->chosen) {
                sharing->chosen = ChosenFile(sharing->files, *storeAudioInside,
                                             store->GetCartAudioPath(cart, 0, false), *m_importer);
            }
            if (*sharing->chosen != path) {
                const FileVersionKey told = passedOverTold.value(path);
                passedOver.insert(path, offered);
                if (!(told == offered)) {
                    const QDir watched(group->Path);
                    m_importer->AddToLog(prefix, u'\'' + watched.relativeFilePath(path) +
                                                     QStringLiteral("' is not imported: '") +
                                                     watched.relativeFilePath(*sharing->chosen) +
                                                     QStringLiteral("' also names Cart ") + cart);
                }
                continue;
            }
        }
        if (!why.isEmpty()) {
            m_importer->AddToLog(prefix, QStringLiteral("Couldn't check '") + path +
                                             QStringLiteral("' Error: ") + why);
            continue;
        }
        bool ok = false;
        {
            // The engine's first look at the file is the one the in-use test took.
            const FileVersionKey::Recent justSeen(path, *opened);
            OfferFile(index, path, cart, ok);
        }
        if (!StillTheGroup(index, group)) {
            return false;
        }
        if (!ok) {
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
                                  !m_fileInUse->OpenExclusively(path);
        if (group->DeleteAfterImport && !group->CheckCurrent) {
            if (!replaced.isEmpty()) {
                m_importer->AddToLog(prefix, QStringLiteral("Couldn't delete '") + path +
                                                 QStringLiteral("' Error: ") + replaced);
            } else if (stillWritten) {
                m_importer->AddToLog(prefix, QStringLiteral("Kept '") + path +
                                                 QStringLiteral("' instead of deleting it: it is "
                                                                "still being written"));
            } else if (m_importer->ImportedWithoutSnapshot(path)) {
                // The only copy of this version the group keeps.
                m_importer->AddToLog(prefix, QStringLiteral("Kept '") + path +
                                                 QStringLiteral("' instead of deleting it: its "
                                                                "snapshot could not be taken"));
            } else if (const QString error = DeleteListed(group->Path, path); error.isEmpty()) {
                m_fileInUse->Forget(path);
                m_importer->AddToLog(prefix, QStringLiteral("Successfully deleted '") + path +
                                                 QStringLiteral("'"));
            } else {
                m_importer->KeepImported(offered);
                m_importer->AddToLog(prefix, QStringLiteral("Couldn't delete '") + path +
                                                 QStringLiteral("' Error: ") + error);
            }
        } else if (group->UseArchiveBit) {
            if (!replaced.isEmpty()) {
                m_importer->AddToLog(prefix, QStringLiteral("Couldn't clear Archive flag on '") +
                                                 path + QStringLiteral("' Error: ") + replaced);
                continue;
            }
            if (stillWritten) {
                m_importer->AddToLog(prefix, QStringLiteral("Kept the Archive flag on '") + path +
                                                 QStringLiteral("': it is still being written"));
                continue;
            }
            try {
                ClearListedArchiveFlag(group->Path, path);
                m_importer->AddToLog(prefix, QStringLiteral("Successfully cleared Archive flag '") +
                                                 path + QStringLiteral("'"));
            } catch (const ToolError& error) {
                m_importer->AddToLog(prefix, QStringLiteral("Couldn't clear Archive flag on '") +
                                                 path + QStringLiteral("' Error: ") +
                                                 error.Description());
            }
        }
    }
    walked = true;
    return true;
}

void frmMain::TellUnseenWriters(int index)
{
    for (const FileInUse::Unseen& unseen : m_fileInUse->TakeUnseen()) {
        m_importer->AddToLog(GroupPrefix(index),
                             QStringLiteral("Cannot see whether files in '") + unseen.folder +
                                 QStringLiteral("' are still being written (") + unseen.why +
                                 QStringLiteral("); a file there is taken once it has not "
                                                "changed between two checks"));
    }
}

// Files whose names are not UTF-8 can be neither imported nor moved by name: the operator hears
// of them once per folder, and again when they change.
void frmMain::TellNamesNotText(int index, const QString& watched, QList<FolderNamesNotText> found)
{
    FileFunctions& files = FileFunctions::instance();
    // Told per group: two groups may watch one folder.
    const QString group = GroupPrefix(index) + u'\n';
    const QString below = watched.endsWith(u'/') ? watched : watched + u'/';
    // Folders of this group told before and now without such names may tell again later.
    for (auto it = m_namesNotTextTold.begin(); it != m_namesNotTextTold.end();) {
        const QStringView folder = QStringView(it.key()).mid(group.size());
        const bool inGroup =
            it.key().startsWith(group) && (folder == below.chopped(1) || folder.startsWith(below));
        const bool stillThere = std::any_of(found.cbegin(), found.cend(),
                                            [&](const auto& f) { return f.folder == folder; });
        it = inGroup && !stillThere ? m_namesNotTextTold.erase(it) : std::next(it);
    }
    for (FolderNamesNotText& folder : found) {
        if (InEngineFolder(folder.folder)) {
            continue;
        }
        // Only what would have been offered: audio and transport files.
        QList<QByteArray> names;
        for (const QByteArray& name : folder.names) {
            const QString decoded = QFile::decodeName(name);
            if (GetAudioFileType(decoded) != AudioFileType::Other ||
                files.ExtensionIs(decoded, QLatin1String("ZIP"))) {
                names.append(name);
            }
        }
        std::sort(names.begin(), names.end());
        const QString key = group + folder.folder;
        if (names.isEmpty() || m_namesNotTextTold.value(key) == names) {
            continue;
        }
        m_namesNotTextTold.insert(key, names);
        QStringList shown;
        for (const QByteArray& name : names) {
            shown.append(QLatin1Char('\'') + NameBytesText(name) + QLatin1Char('\''));
        }
        m_importer->AddToLog(GroupPrefix(index),
                             QStringLiteral("Files in '") + folder.folder +
                                 QStringLiteral("' whose names are not valid UTF-8 are left where "
                                                "they are: ") +
                                 shown.join(QStringLiteral(", ")));
    }
}

void frmMain::OfferFile(int index, const QString& path, const QString& cart, bool& ok)
{
    const LongWork::Scope breathing([this] { return BreatheDuringWork(); });
    m_offeringFile = true;
    const auto offered = qScopeGuard([this] { m_offeringFile = false; });
    // One file that makes the engine fail must not stop the files and groups after it.
    qint16 groupIndex = qint16(index);
    try {
        ok = m_importer->CheckFileAgainstHD(groupIndex, this, path, cart);
    } catch (const ToolError& error) {
        // A store that is not there fails every file alike: the pass ends and says so once,
        // having moved, removed and imported nothing.
        if (error.Number() == PlayoutAudio::StoreUnavailable) {
            throw;
        }
        ok = false;
        m_importer->AddToLog(GroupPrefix(index), QStringLiteral("Couldn't check '") + path +
                                                     QStringLiteral("' Error: ") + Describe(error));
    } catch (const std::exception& error) {
        ok = false;
        m_importer->AddToLog(GroupPrefix(index), QStringLiteral("Couldn't check '") + path +
                                                     QStringLiteral("' Error: ") + Describe(error));
    }
}

bool frmMain::BreatheDuringWork()
{
    // A close meanwhile only sets UnloadPending (the check is running); the work then stops and
    // the check unloads the window.
    if (!UnloadPending) {
        QCoreApplication::processEvents();
    }
    return !UnloadPending;
}
