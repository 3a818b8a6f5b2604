// The periodic check of all groups: which files and carts are offered to the import engine, in
// which order, and what happens to a source file afterwards.
#include "ui/frmMain.h"

#include "engine/FolderPass.h"
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
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileInUse.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/LongWork.h"
#include "platform/system/ProcessMemory.h"
#include "platform/system/ToolError.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QProgressBar>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>

namespace {

void Trace(const QString& text)
{
    AddToDebugLog(text, 5, ovNone);
}

QString GroupPrefix(int index)
{
    return QStringLiteral("GRP:") + QString::number(index);
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
    ProcessMemory::GiveBackFree();
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
        // The pass's one look at the cart's audio file.
        const std::optional<FileVersionKey> look = FileVersionKey::Peek(path);
        if (!look && group->RemoveIfDeleted) {
            missing.append(cart);
            cart = store->GetNextCart(cart);
            continue;
        }
        if (look) {
            ++present;
            m_importer->AudioSeen(path);
        }
        // A cart whose file has gone is offered all the same: the engine removes it.
        bool ok = false;
        {
            // The engine's first look at the file is the one just taken. Whether the file is
            // still being written matters only where the decision acts on it.
            std::optional<FileVersionKey::Recent> justSeen;
            std::optional<cImporter::InUseTestPutOff> putOff;
            if (look) {
                justSeen.emplace(path, *look);
                putOff.emplace(*m_importer, [this, &path] {
                    if (m_fileInUse->OpenExclusively(path)) {
                        return true;
                    }
                    Trace(QStringLiteral("Cannot open '") + path +
                          QStringLiteral("' exclusively, possibly in use"));
                    return false;
                });
            }
            OfferFile(index, path, cart, ok);
        }
        if (!StillTheGroup(index, group)) {
            return false;
        }
        if (!group->Enabled || !group->CheckCurrent) {
            return true;
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
    QString resolved;
    const FolderTreeFiles found =
        GetFolderTreeFiles(group->Path, QStringLiteral("*.*"), &namesNotText, &resolved);
    Trace(QStringLiteral("Reading Folder Tree Ok - ") +
          (ArrayIsEmpty(found.files) ? QStringLiteral("None") : QStringLiteral("Found Files")));
    TellNamesNotText(index, group->Path, std::move(namesNotText));
    if (ArrayIsEmpty(found.files)) {
        return true;
    }
    return m_folderPass->Walk(*m_importer, *store, index, group, found, resolved);
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
        if (FolderPass::InEngineFolder(folder.folder)) {
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
