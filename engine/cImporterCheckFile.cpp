#include "engine/cImporter.h"

#include "engine/cImporterGroup.h"
#include "framework/AudioFileHelpers.h"
#include "framework/CartPermissions.h"
#include "framework/DebugLog.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/DecodedAudio.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/ToolError.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <cmath>
#include <dirent.h>
#include <optional>
#include <utility>

namespace {

const QString kTrace = QStringLiteral("CheckFileAgainstHD:");

void Trace(const QString& text)
{
    AddToDebugLog(kTrace + text, 5, ovNone);
}

// As the store and the log show a single: up to seven significant digits.
QString SingleText(float value)
{
    return QString::number(double(value), 'g', 7);
}

QString BooleanText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// Blanks only, as titles are trimmed for the log lines.
QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ') {
        ++first;
    }
    while (last > first && text.at(last - 1) == u' ') {
        --last;
    }
    return text.mid(first, last - first);
}

// Two decimal places, a half going to the even neighbour.
double RoundTwoPlaces(double value)
{
    return std::nearbyint(value * 100.0) / 100.0;
}

double ModifiedDate(const QString& path)
{
    DateTimeFunctions& dates = DateTimeFunctions::instance();
    // The date is normalised in UTC; asking for it in UTC spares two local-time conversions.
    return dates.NormaliseDate(FileFunctions::instance().GetDateLastModifiedUtc(path));
}

// The date from a modification time already read; -1 for unknown reads it from the file.
double ModifiedDate(const QString& path, qint64 knownModifiedNs)
{
    if (knownModifiedNs < 0) {
        return ModifiedDate(path);
    }
    return DateTimeFunctions::instance().NormaliseDate(FileFunctions::UtcFromNs(knownModifiedNs));
}

// Faults of the store itself, after which the file is not to blame. An unavailable store is
// not among them: it ends the pass, which logs it once.
bool IsStoreFault(const ToolError& error)
{
    return error.Number() == PlayoutAudio::StoreWriteFailed ||
           error.Number() == PlayoutAudio::StoreDatabaseFailed;
}

// Whether the folder that should hold a vanished file is there and can be read: only then
// does the file's absence mean that it was deleted.
bool FolderCanBeListed(const QString& folder)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return false;
    }
    ::closedir(dir);
    return true;
}

// ImportFinished once for an ImportStarted, also when a component error ends the decision.
class ImportFrame
{
public:
    ImportFrame(cImporter& importer, const QString& fileName, const QString& hdReference)
        : m_importer(importer), m_fileName(fileName), m_hdReference(hdReference)
    {}
    ~ImportFrame()
    {
        try {
            Finish();
        } catch (...) {
        }
    }
    ImportFrame(const ImportFrame&) = delete;
    ImportFrame& operator=(const ImportFrame&) = delete;

    void Start()
    {
        m_started = true;
        Q_EMIT m_importer.ImportStarted(m_fileName, m_hdReference);
    }
    void Finish()
    {
        if (!m_started) {
            return;
        }
        m_started = false;
        Q_EMIT m_importer.ImportFinished(m_fileName, m_hdReference);
    }

private:
    cImporter& m_importer;
    QString m_fileName;
    QString m_hdReference;
    bool m_started = false;
};

} // namespace

// One call of CheckFileAgainstHD: one file, one cart, one group.
class ImportDecision
{
public:
    ImportDecision(cImporter& importer, qint16& groupIndex, PlayoutAudio& store,
                   cImporterGroup& group, QObject* parentWindow, const QString& fileName,
                   const QString& hdReference)
        : m_importer(importer), m_groupIndex(groupIndex), m_store(store), m_group(group),
          m_parentWindow(parentWindow), m_fileName(fileName), m_hdReference(hdReference),
          m_indexAtStart(groupIndex), m_frame(importer, fileName, hdReference)
    {}

    bool Run();

private:
    bool TransportFile(Cart& cart);
    bool AudioIntoEmptyCart(Cart& cart, float newLength);
    void CopyAncillaryFiles(const Cart& cart);
    bool ExistingCart(Cart& cart, float newLength);
    bool RemoveCartOfVanishedFile(Cart& cart, float newLength);
    bool FullReimport();
    bool TimingOnlyUpdate(Cart& cart, float newLength);
    bool InCartAndKept();
    void Snapshot();
    void RememberSnapshot();
    bool UsesArchiveFlag() const { return m_group.UseArchiveBit && !m_group.CheckCurrent; }
    // Raises ToolError when the mark cannot be read.
    bool ArchiveMarkSet();
    bool IsSourceVersion(const FileVersionKey& version, const Cart& cart) const;
    bool ImportedAlready(const Cart& cart);
    bool InUseTestDueFirst(const Cart& cart);
    bool MayAct();
    void SayFutureDate(const Cart& imported);

    Cart ReadCart(qint32 detailLevel, bool flag);
    qint16 NormaliseValue() const;
    void Overrides(Cart& cart);
    QString TitleAndLength(const Cart& cart) const;
    void LogImported(const Cart& cart);
    void Log(const QString& text)
    {
        m_importer.AddToLog(QStringLiteral("GRP:") + QString::number(m_indexAtStart), text);
    }
    // Made when a line needs it: most files of a pass are left as they are.
    QString Name() const { return FileFunctions::instance().GetFileName(m_fileName); }
    void SendSuccess(const QString& note);
    // The same note (and reason) about the same version of the file mails once.
    void SendFailed(const QString& note, const QString& reason = QString());
    void MoveToFailed();
    void ReportUnreadable();
    bool Failure(const QString& line, const QString& note, const QString& exitTrace);
    bool StoreFailure(const QString& line, const QString& note, const QString& reason,
                      const QString& exitTrace);
    void TraceStoreReason();
    QString DecidedLine(const QString& reason) const;
    // The file's date from the version whose length was measured, when there is one.
    double SourceDate() const
    {
        return ModifiedDate(m_fileName, m_measured ? m_measured->modifiedNs : -1);
    }

    cImporter& m_importer;
    qint16& m_groupIndex;
    PlayoutAudio& m_store;
    cImporterGroup& m_group;
    QObject* m_parentWindow;
    QString m_fileName;
    QString m_hdReference;
    // The index as the decision began; the log prefix carries it.
    qint16 m_indexAtStart;
    ImportFrame m_frame;
    std::optional<FileVersionKey> m_measured;
    // The version of the file the snapshot was asked for, and whether it could not be made.
    std::optional<FileVersionKey> m_snapshotVersion;
    bool m_snapshotFailed = false;
    std::optional<bool> m_markSet;
    // The answer of the in-use test that the check put off, once taken.
    std::optional<bool> m_mayAct;
};

bool cImporter::CheckFileAgainstHD(qint16& GroupIndex, QObject* ParentHWND, QString FileName,
                                   QString HDReference)
{
    if (!Globals::PlayoutAudio) {
        Trace(QStringLiteral("Exit - no Playout System"));
        return false;
    }
    cImporterGroup* group = ImporterGroup(GroupIndex);
    if (!group) {
        throw ToolError(
            ToolErrors::SubscriptOutOfRange,
            QStringLiteral("Subscript out of range: no import group %1").arg(GroupIndex));
    }
    ImportDecision decision(*this, GroupIndex, *Globals::PlayoutAudio, *group, ParentHWND, FileName,
                            HDReference);
    m_deciding = Deciding{FileName, std::nullopt};
    const auto decided = qScopeGuard([this] { m_deciding.reset(); });
    const bool done = decision.Run();
    // Whatever failed before is over; a later failure is news again.
    if (done) {
        m_failures.Forget(FileName);
    }
    return done;
}

bool cImporter::CannotImportAsItIs(const QString& FileName, const FileVersionKey& Version)
{
    if (const std::optional<bool> known = m_cannotImport.Lookup(Version)) {
        return *known;
    }
    // Told before the program last started; asked once per version.
    const bool told = UnmeasurableTold(FileName);
    m_cannotImport.Store(Version, told);
    return told;
}

bool ImportDecision::Run()
{
    // What measuring the file decodes serves its import too; dropped when the decision ends.
    const DecodedAudio::KeepScope keepDecoded;
    std::optional<Cart> cart = m_store.GetCart(m_hdReference, 3, true);
    if (!cart) {
        Trace(QStringLiteral("Exit - Invalid Cart"));
        return false;
    }

    if (!CanEditCart(m_hdReference, false)) {
        if (!MayAct()) {
            return false;
        }
        Log(QStringLiteral("Cannot import '") + m_fileName + QStringLiteral("' into Cart ") +
            m_hdReference +
            QStringLiteral(" - Cartfeeder does not have Directory Permissions to edit that "
                           "destination cart."));
        SendFailed(QStringLiteral(
            "No 'write' permission to that cart, file moved to 'Failed!' subfolder"));
        MoveToFailed();
        Trace(QStringLiteral("Exit - no 'Write' permission"));
        return false;
    }

    if (InCartAndKept()) {
        return false;
    }
    // A file still being written is not even measured.
    if (InUseTestDueFirst(*cart) && !MayAct()) {
        return false;
    }

    FileFunctions& files = FileFunctions::instance();
    if (files.ExtensionIs(m_fileName, QLatin1String("ZIP"))) {
        return TransportFile(*cart);
    }

    const double measured = GetAudioFileType(m_fileName) == AudioFileType::Wav
                                ? double(GetWaveDuration(m_fileName, m_measured))
                                : GetAudioFileDuration(m_fileName);
    const float newLength = float(RoundTwoPlaces(measured));
    if (newLength <= 0 && !m_group.CheckCurrent) {
        if (!MayAct()) {
            return false;
        }
        ReportUnreadable();
    }
    if (cart->Length > 0) {
        return ExistingCart(*cart, newLength);
    }
    return AudioIntoEmptyCart(*cart, newLength);
}

bool ImportDecision::TransportFile(Cart& cart)
{
    bool decision = false;
    QString reason;
    auto decide = [&](const QString& why) {
        decision = true;
        reason = why;
        Trace(QStringLiteral("Ok to Import Transport File: ") + reason);
    };

    if (cart.Length <= 0) {
        decide(QStringLiteral("Current Cart is empty"));
    } else {
        bool newer = true;
        bool compared = false;
        try {
            newer = ModifiedDate(m_fileName) > ModifiedDate(cart.AudioFilePath);
            compared = true;
        } catch (const std::exception&) {
            // A date that cannot be read counts as older than the file.
        }
        if (newer && compared && ImportedAlready(cart)) {
            newer = false;
        }
        if (newer) {
            decide(QStringLiteral("File is newer than current Cart"));
        }
    }
    if (UsesArchiveFlag() && ArchiveMarkSet()) {
        decide(QStringLiteral("File Archive attribute is set"));
    }
    if (!decision || !MayAct()) {
        return false;
    }

    Trace(QStringLiteral("GRP:") + QString::number(m_groupIndex) + QStringLiteral(" - ") +
          DecidedLine(reason));
    Log(DecidedLine(reason));
    m_frame.Start();

    Trace(QStringLiteral("Calling ImportTransportFile"));
    QString text;
    bool flag = true;
    bool ok = false;
    try {
        ok = m_store.ImportTransportFile(m_parentWindow, m_hdReference, m_fileName, -1, nullptr, 0,
                                         text, -1, flag);
    } catch (const ToolError& error) {
        if (!IsStoreFault(error)) {
            throw;
        }
        return StoreFailure(QStringLiteral("Failed to import '") + Name() +
                                QStringLiteral("' into Cart ") + m_hdReference,
                            QStringLiteral("Could not import transport file"), error.Description(),
                            QStringLiteral("Exit - Couldn't import Transport File"));
    }
    if (!ok) {
        TraceStoreReason();
        return Failure(QStringLiteral("Failed to import '") + Name() +
                           QStringLiteral("' into Cart ") + m_hdReference,
                       QStringLiteral("Could not import transport file, file moved to 'Failed!' "
                                      "subfolder"),
                       QStringLiteral("Exit - Couldn't import Transport File"));
    }
    Trace(QStringLiteral("ImportTransportFile-OK"));
    Cart imported = ReadCart(3, false);
    Overrides(imported);
    LogImported(imported);
    SayFutureDate(imported);
    SendSuccess(QStringLiteral("Successfully imported transport file."));
    m_frame.Finish();
    return true;
}

bool ImportDecision::AudioIntoEmptyCart(Cart& cart, float newLength)
{
    // Unreadable, or still being written: taken at a later check.
    if (newLength <= 0 || !MayAct()) {
        return false;
    }
    Trace(QStringLiteral("New Audio found : NewLength=") + SingleText(newLength) +
          QStringLiteral(", CurLength=") + SingleText(cart.Length));
    m_frame.Start();
    Snapshot();

    Trace(QStringLiteral("Calling ImportAudioFile"));
    bool flag1 = false;
    bool flag2 = true;
    bool ok = false;
    try {
        ok = m_store.ImportAudioFile(m_parentWindow, m_hdReference, m_fileName, 0x24,
                                     NormaliseValue(), flag1, 0, -1, flag2);
    } catch (const ToolError& error) {
        if (!IsStoreFault(error)) {
            throw;
        }
        return StoreFailure(QStringLiteral("Failed to import '") + Name() +
                                QStringLiteral("' into Cart ") + m_hdReference,
                            QStringLiteral("Could not import new audio file"), error.Description(),
                            QStringLiteral("Exit - Couldn't import new audio file"));
    }
    if (!ok) {
        TraceStoreReason();
        return Failure(QStringLiteral("Failed to import '") + Name() +
                           QStringLiteral("' into Cart ") + m_hdReference,
                       QStringLiteral("Could not import new audio file, file moved to 'Failed!' "
                                      "subfolder"),
                       QStringLiteral("Exit - Couldn't import new audio file"));
    }
    Trace(QStringLiteral("ImportAudioFile-OK"));
    RememberSnapshot();
    Q_EMIT m_importer.ImportProgress(m_fileName, m_hdReference, 90);

    if (m_fileName.compare(cart.AudioFilePath, Qt::CaseInsensitive) != 0) {
        CopyAncillaryFiles(cart);
    }

    Cart imported = ReadCart(0xFFFF, false);
    Overrides(imported);
    LogImported(imported);
    SayFutureDate(imported);
    SendSuccess(QStringLiteral("Successfully imported new audio file."));
    m_frame.Finish();
    return true;
}

// Files beside the imported one with its base name (in any case, as on Windows) and any
// extension go beside the stored audio under the stored audio's base name.
void ImportDecision::CopyAncillaryFiles(const Cart& cart)
{
    Trace(QStringLiteral("Checking for ancillary files"));
    FileFunctions& files = FileFunctions::instance();
    const QString folder = files.GetFolderName(m_fileName, 0);
    const QString target = files.GetPathWithoutExtension(cart.AudioFilePath);
    // The title is matched as written: "*" and "?" are ordinary characters of a file name, and
    // a search pattern made from it would pick up other people's files.
    const QString title = files.GetFileName(files.GetPathWithoutExtension(m_fileName));
    const QString withDot = title + QLatin1Char('.');
    QStringList names;
    // Looked up by name rather than by listing the folder for every file: a first pass over a
    // folder of thousands must not list it thousands of times.
    for (const QString& name : files.NamesStartingWith(folder, title)) {
        // "title.*" also finds "title" itself when it holds no dot, as on Windows.
        if (name.startsWith(withDot, Qt::CaseInsensitive) ||
            (!name.contains(QLatin1Char('.')) && name.compare(title, Qt::CaseInsensitive) == 0)) {
            names.append(name);
        }
    }

    const QString ownName = Name();
    for (const QString& name : names) {
        const QString source = folder + QLatin1Char('/') + name;
        // Hidden and system files and folders are not the operator's companions of the audio.
        if (name.startsWith(u'.') || !QFileInfo(source).isFile()) {
            continue;
        }
        if (name.compare(ownName, Qt::CaseInsensitive) == 0) {
            continue;
        }
        const QString extension = files.GetExtensionName(name);
        // Windows drops the trailing dot of a name without an extension.
        const QString destination =
            extension.isEmpty() ? target : target + QLatin1Char('.') + extension;
        // A companion with the stored audio's own extension must not replace the new audio,
        // whatever the letter case: on an SMB share "01200.WAV" is "01200.wav".
        if (destination.compare(cart.AudioFilePath, Qt::CaseInsensitive) == 0) {
            continue;
        }
        qint16 flag1 = 0;
        qint16 flag2 = 0;
        qint32 flags = 4;
        files.CopyFileWithProgress(source, destination,
                                   QStringLiteral("Copying ") + extension + QStringLiteral(" file"),
                                   m_parentWindow, flag1, flag2, flags);
    }
}

bool ImportDecision::ExistingCart(Cart& cart, float newLength)
{
    if (newLength <= 0) {
        return RemoveCartOfVanishedFile(cart, newLength);
    }
    m_importer.m_vanishedAudio.Seen(m_fileName);

    bool decision = false;
    QString reason;
    auto decide = [&](const QString& tracePrefix, const QString& why) {
        decision = true;
        reason = why;
        Trace(tracePrefix + reason);
    };
    const QString plain = QStringLiteral("Ok to Import Audio File: ");

    if (m_group.DeleteAfterImport) {
        decide(plain,
               QStringLiteral("Because it's there - i.e. not been imported+deleted already"));
    }
    if (!decision && UsesArchiveFlag() && ArchiveMarkSet()) {
        decide(plain, QStringLiteral("File Archive attribute is set"));
    }
    if (!decision &&
        !IsWithinTolerance(RoundTwoPlaces(double(cart.Length)), double(newLength), 0.05)) {
        decide(plain, QStringLiteral("File is different length from current cart"));
    }
    if (!decision && m_group.CheckCurrent) {
        const QString checkCurrent = QStringLiteral("(CheckCurrent):Ok to Import Audio File: ");
        if (m_group.CheckCurrentLastModified) {
            if (cart.LastModifiedLow == 0) {
                decide(checkCurrent,
                       QStringLiteral("Current Cart is missing it's Last Modified Information"));
            } else {
                DateTimeFunctions& dates = DateTimeFunctions::instance();
                qint32 low = 0;
                qint32 high = 0;
                dates.DateToStamp(SourceDate(), low, high);
                const qint64 fileStamp = dates.MakeStamp(low, high);
                const qint64 cartStamp = dates.StampToDate(
                    dates.MakeStamp(cart.LastModifiedLow, cart.LastModifiedHigh), 0);
                if (dates.StampDifference(fileStamp, cartStamp) > 2.0) {
                    decide(checkCurrent,
                           QStringLiteral("File was Modified more recently than the Current Cart"));
                }
            }
        }
    } else if (!decision) {
        const QString importNew = QStringLiteral("(ImportNew):Ok to Import Audio File: ");
        if (!cart.HasAudio) {
            decide(importNew, QStringLiteral("Cart is missing it's audio file"));
        } else if (SourceDate() > ModifiedDate(cart.AudioFilePath, cart.AudioModifiedNs) &&
                   !ImportedAlready(cart)) {
            decide(importNew, QStringLiteral("File is newer than current Cart"));
        }
    }
    if (!decision || !MayAct()) {
        return false;
    }

    // No blank before the dash here, unlike the transport file's line.
    Trace(QStringLiteral("GRP:") + QString::number(m_groupIndex) + QStringLiteral("- ") +
          DecidedLine(reason));
    Log(DecidedLine(reason));
    m_frame.Start();
    Trace(QStringLiteral("ReplaceChangedLength=") + BooleanText(m_group.ReplaceChangedLengthCarts) +
          QStringLiteral(", CheckCurrent=") + BooleanText(m_group.CheckCurrent));
    if (m_group.CheckCurrent && !m_group.ReplaceChangedLengthCarts) {
        return TimingOnlyUpdate(cart, newLength);
    }
    return FullReimport();
}

bool ImportDecision::RemoveCartOfVanishedFile(Cart& cart, float newLength)
{
    if (!m_group.RemoveIfDeleted) {
        Trace(QStringLiteral("Exit - audio is missing, but option to remove cart is turned off"));
        return false;
    }
    Trace(QStringLiteral("Cart ") + m_hdReference + QStringLiteral(" already exists, File (") +
          m_fileName + QStringLiteral(") length=") + SingleText(newLength));
    FileFunctions& files = FileFunctions::instance();
    if (files.GetFileSize(m_fileName) >= 0) {
        m_importer.m_vanishedAudio.Seen(m_fileName);
        Trace(QStringLiteral("Exit - on second check file has no audio length but does exist "
                             "(possibly still being copied in?)"));
        return false;
    }
    // An unmounted share or a disconnected disk hides every file at once; that is no deletion.
    const QString folder = files.GetFolderName(m_fileName, 0);
    if (!FolderCanBeListed(folder)) {
        Trace(QStringLiteral("Exit - the folder '") + folder +
              QStringLiteral("' of the audio file is missing or cannot be read, cart kept"));
        return false;
    }
    if (!m_importer.m_vanishedAudio.GoneLongEnough(m_fileName)) {
        Trace(QStringLiteral("Exit - audio file missing, cart kept until a look 2 seconds later"));
        return false;
    }

    const QString title = TrimBlanks(cart.Title);
    Trace(QStringLiteral("Removing Cart Information"));
    if (!m_store.RemoveCart(m_hdReference, true, true)) {
        TraceStoreReason();
        Log(QStringLiteral("Couldn't remove cart ") + m_hdReference + QStringLiteral(" (") + title +
            QStringLiteral(")"));
        SendFailed(QStringLiteral("Could not remove cart information from Cartvault after the "
                                  "audio file could not be found, file moved to 'Failed!' "
                                  "subfolder"));
        MoveToFailed();
        Trace(QStringLiteral("Exit - Couldn't remove cart"));
        return false;
    }
    m_importer.m_vanishedAudio.Seen(m_fileName);
    SendSuccess(QStringLiteral("Successfully removed cart information after audio file removed."));
    Log(QStringLiteral("Removed cart ") + m_hdReference + QStringLiteral(" (") + title +
        QStringLiteral(")"));
    return true;
}

bool ImportDecision::FullReimport()
{
    Trace(QStringLiteral("Full information import"));
    Q_EMIT m_importer.ImportProgress(m_fileName, m_hdReference, 10);
    Snapshot();

    Trace(QStringLiteral("Calling ImportAudioFile"));
    bool flag1 = false;
    bool flag2 = true;
    bool ok = false;
    try {
        ok = m_store.ImportAudioFile(m_parentWindow, m_hdReference, m_fileName, 4, NormaliseValue(),
                                     flag1, 0, -1, flag2);
    } catch (const ToolError& error) {
        if (!IsStoreFault(error)) {
            throw;
        }
        return StoreFailure(QStringLiteral("Failed to import '") + Name() +
                                QStringLiteral("' into Cart ") + m_hdReference,
                            QStringLiteral("Could not import new audio file over existing cart"),
                            error.Description(),
                            QStringLiteral("Exit - Couldn't import new audio file"));
    }
    if (!ok) {
        TraceStoreReason();
        return Failure(QStringLiteral("Failed to import '") + Name() +
                           QStringLiteral("' into Cart ") + m_hdReference,
                       QStringLiteral("Could not import new audio file over existing cart, file "
                                      "moved to 'Failed!' subfolder"),
                       QStringLiteral("Exit - Couldn't import new audio file"));
    }
    Trace(QStringLiteral("ImportAudioFile-OK"));
    RememberSnapshot();
    Cart imported = ReadCart(3, true);
    Overrides(imported);
    LogImported(imported);
    SayFutureDate(imported);
    SendSuccess(QStringLiteral("Successfully imported new audio file over existing cart."));
    m_frame.Finish();
    return true;
}

bool ImportDecision::TimingOnlyUpdate(Cart& cart, float newLength)
{
    Trace(QStringLiteral("Update Timing only"));
    cart.Length = newLength;
    if (cart.StartPoint < 0) {
        cart.StartPoint = 0;
    }
    cart.OutPoint =
        float(GeneralFunctions::instance().ClampDouble(double(cart.OutPoint), 0, newLength));
    m_group.PerformOverrides(&cart);

    Trace(QStringLiteral("Saving cart"));
    bool flag = true;
    const qint32 status = m_store.SaveCart(m_hdReference, cart, 3, true, false, flag);
    if (status == 0) {
        Log(QStringLiteral("Updated times for Cart ") + m_hdReference + TitleAndLength(cart));
        SendSuccess(QStringLiteral("Successfully updated timing on existing cart to reflect new "
                                   "audio file length."));
        m_frame.Finish();
        return true;
    }
    Log(QStringLiteral("Failed to Update times for Cart ") + m_hdReference + TitleAndLength(cart));
    SendFailed(QStringLiteral("Could not update timing on existing cart to reflect new audio file "
                              "length, file moved to 'Failed!' subfolder"));
    MoveToFailed();
    m_frame.Finish();
    return false;
}

// A file dated later than the cart's audio because its date lies in the future (a clock that
// runs ahead, times kept by a copy) would seem newer than its own import at every check: the
// version the cart's audio came from is not taken again for its date.
bool ImportDecision::ImportedAlready(const Cart& cart)
{
    const std::optional<FileVersionKey> now = FileVersionKey::Of(m_fileName);
    const bool same = now && IsSourceVersion(*now, cart);
    if (same) {
        Trace(QStringLiteral("File is newer than current Cart, but this version of it was "
                             "imported into the cart already"));
    }
    return same;
}

bool ImportDecision::IsSourceVersion(const FileVersionKey& version, const Cart& cart) const
{
    if (!cart.SourceVersion) {
        return false;
    }
    // Clearing the archive mark changes the change time; the mark itself tells a changed
    // content by its size and modification time.
    return UsesArchiveFlag() ? version.Content() == cart.SourceVersion->Content()
                             : version == *cart.SourceVersion;
}

bool ImportDecision::ArchiveMarkSet()
{
    if (!m_markSet) {
        // The check's look at the name spares looking again.
        const auto& putOff = m_importer.m_inUseTestPutOff;
        m_markSet =
            ArchiveAttribute::IsSet(m_fileName, {.tableFolder = Globals::ToolProfileFolder,
                                                 .seen = putOff ? putOff->ownLook : std::nullopt});
    }
    return *m_markSet;
}

// Whether the in-use test that the check put off is due before the file is measured: for all but
// the version the cart's audio came from, which no setting of the group acts on (the decision
// leaves such a file alone unless the cart changed). A re-check offers the cart's own audio,
// which only a changed length or date acts on.
bool ImportDecision::InUseTestDueFirst(const Cart& cart)
{
    if (!m_importer.m_inUseTestPutOff || m_group.CheckCurrent) {
        return false;
    }
    if (m_group.DeleteAfterImport || !cart.HasAudio || cart.Length <= 0) {
        return true;
    }
    // Its content alone: a file whose change time moved since (a mark cleared by another group,
    // a new mode or owner) would be tested at every pass for ever. Measured before its test, it
    // is still tested before anything is done with it.
    const std::optional<FileVersionKey> version = FileVersionKey::Peek(m_fileName);
    if (!version || !cart.SourceVersion || !(version->Content() == cart.SourceVersion->Content())) {
        return true;
    }
    try {
        return UsesArchiveFlag() && ArchiveMarkSet();
    } catch (const ToolError&) {
        // Raised again where the decision reads the mark.
        return true;
    }
}

// Before the decision acts on the file (imports, tells of or moves it): the in-use test, where
// the check left it to the decision. Taken once.
bool ImportDecision::MayAct()
{
    if (!m_mayAct) {
        if (!m_importer.m_inUseTestPutOff || !m_importer.m_inUseTestPutOff->test) {
            m_mayAct = true;
        } else {
            // The check's own lines, which a failure said before does not hold back.
            std::optional<cImporter::Deciding> deciding =
                std::exchange(m_importer.m_deciding, std::nullopt);
            const auto restore = qScopeGuard([&] { m_importer.m_deciding = std::move(deciding); });
            m_mayAct = m_importer.m_inUseTestPutOff->test();
        }
    }
    return *m_mayAct;
}

void ImportDecision::SayFutureDate(const Cart& imported)
{
    // Deleted after its import, or the cart's own audio: nothing is left to take again.
    if (m_group.DeleteAfterImport || m_group.CheckCurrent || !imported.SourceVersion ||
        imported.AudioModifiedNs < 0 ||
        imported.SourceVersion->modifiedNs <= imported.AudioModifiedNs) {
        return;
    }
    const QDateTime date = FileFunctions::UtcFromNs(imported.SourceVersion->modifiedNs);
    Log(QStringLiteral("The date of '") + Name() + QStringLiteral("' (") +
        date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
        QStringLiteral(") lies in the future; this version of it is not imported into Cart ") +
        m_hdReference + QStringLiteral(" again"));
}

// The cart holds this version already, imported while its snapshot could not be taken, or
// imported and then not deleted; the file stays for the operator and is not imported again
// until it changes.
bool ImportDecision::InCartAndKept()
{
    // Asked before the file is measured: the look handed on still serves the measuring.
    const std::optional<FileVersionKey> version = FileVersionKey::Peek(m_fileName);
    if (!version) {
        return false;
    }
    if (m_importer.m_snapshotsTaken.Lookup(version->Content()) == false) {
        Trace(QStringLiteral("Exit - this version of the file is in the cart already, kept as no "
                             "snapshot of it could be taken"));
        return true;
    }
    if (m_importer.m_keptAfterImport.Lookup(version->Content())) {
        Trace(QStringLiteral("Exit - this version of the file is in the cart already, kept as it "
                             "could not be deleted"));
        return true;
    }
    return false;
}

// Once per version: an import that failed for the store's sake is tried again at every pass.
void ImportDecision::Snapshot()
{
    if (!m_group.TakeSnapShotBeforeImport) {
        return;
    }
    // What tells a retried import of the same file from a new one.
    m_snapshotVersion = m_measured ? m_measured->Content() : FileVersionKey::ContentOf(m_fileName);
    if (m_snapshotVersion &&
        m_importer.m_snapshotsTaken.Lookup(*m_snapshotVersion).value_or(false)) {
        Trace(QStringLiteral("Snapshot of this version of the file taken already"));
        return;
    }
    m_snapshotFailed = !m_importer.TakeSnapshot(m_groupIndex, m_fileName);
    if (!m_snapshotFailed && m_snapshotVersion) {
        m_importer.m_snapshotsTaken.Store(*m_snapshotVersion, true);
    }
}

void ImportDecision::RememberSnapshot()
{
    if (m_snapshotFailed && m_snapshotVersion) {
        m_importer.m_snapshotsTaken.Store(*m_snapshotVersion, false);
    }
}

Cart ImportDecision::ReadCart(qint32 detailLevel, bool flag)
{
    std::optional<Cart> cart = m_store.GetCart(m_hdReference, detailLevel, flag);
    if (!cart) {
        throw ToolError(ToolErrors::ObjectNotSet,
                        QStringLiteral("Cart %1 could not be read back from the cart store")
                            .arg(m_hdReference));
    }
    return *cart;
}

qint16 ImportDecision::NormaliseValue() const
{
    return m_group.OverrideNormalise != 0 ? m_group.OverrideNormalise : qint16(-1);
}

void ImportDecision::Overrides(Cart& cart)
{
    if (m_group.PerformOverrides(&cart) == 0) {
        return;
    }
    Trace(QStringLiteral("Overrides need saving"));
    bool flag = true;
    m_store.SaveCart(m_hdReference, cart, 3, false, true, flag);
}

QString ImportDecision::TitleAndLength(const Cart& cart) const
{
    const QString time =
        TrimBlanks(DateTimeFunctions::instance().FormatTimeText(double(cart.DisplayLength(1)), 2));
    return QStringLiteral(" (") + TrimBlanks(cart.Title) + QStringLiteral(", Length: ") + time +
           QStringLiteral(")");
}

void ImportDecision::LogImported(const Cart& cart)
{
    Log(QStringLiteral("Imported '") + Name() + QStringLiteral("' into Cart ") + m_hdReference +
        TitleAndLength(cart));
}

QString ImportDecision::DecidedLine(const QString& reason) const
{
    return QStringLiteral("Decided to import '") + Name() + QStringLiteral("' into Cart ") +
           m_hdReference + QStringLiteral(" : ") + reason;
}

void ImportDecision::SendSuccess(const QString& note)
{
    QString text = note;
    m_importer.SendSuccessEmail(m_groupIndex, m_fileName, m_hdReference, text);
}

void ImportDecision::SendFailed(const QString& note, const QString& reason)
{
    if (!m_importer.m_failures.FirstTime(m_fileName, m_importer.DecidingVersion(),
                                         QStringLiteral("mail\n") + note + u'\n' + reason)) {
        Trace(QStringLiteral("Fail mail sent before: ") + note);
        return;
    }
    QString text = note;
    m_importer.SendFailedEmail(m_groupIndex, m_fileName, m_hdReference, text);
}

// A file that rested and still holds no audio is not being written: its content is to blame,
// and that holds until the file changes. It stays where it is.
void ImportDecision::ReportUnreadable()
{
    const std::optional<QString> reason = UnmeasurableReason(m_fileName);
    if (reason) {
        // Never to keep the other files of its cart out.
        if (const std::optional<FileVersionKey> version =
                m_measured ? m_measured : FileVersionKey::Peek(m_fileName)) {
            m_importer.m_cannotImport.Store(*version, true);
        }
    }
    if (!reason || !m_importer.m_failures.FirstTime(m_fileName, m_importer.DecidingVersion(),
                                                    QStringLiteral("unreadable"))) {
        return;
    }
    // Told before the program last started: a restart must not tell every bad file again.
    if (UnmeasurableTold(m_fileName)) {
        Trace(QStringLiteral("Reported before that this version cannot be read as audio"));
        return;
    }
    Log(QLatin1Char('\'') + Name() + QStringLiteral("' cannot be read as audio: ") + *reason +
        QStringLiteral("; it stays in the folder"));
    SendFailed(QStringLiteral("The file cannot be read as audio: ") + *reason +
               QStringLiteral(". It stays where it is and is not reported again until it "
                              "changes."));
    MarkUnmeasurableTold(m_fileName, *reason);
}

// A re-checking group's file is the cart's own audio in the store: moving it away would leave
// the cart without audio, so it stays.
void ImportDecision::MoveToFailed()
{
    if (m_group.CheckCurrent) {
        Trace(QStringLiteral("The cart's own audio file stays in the store"));
        return;
    }
    const std::optional<FileVersionKey> version = FileVersionKey::Peek(m_fileName);
    // Gone from the watched folder: a file that comes back under its name is news.
    if (m_importer.MoveToFailedFolder(m_groupIndex, m_fileName)) {
        m_importer.m_failures.Forget(m_fileName);
    } else if (version) {
        // Left where it is, it fails again at every pass.
        m_importer.m_cannotImport.Store(*version, true);
    }
}

// The store failed, not the file: it stays where it is for the next pass, and the same failure
// of the same file mails once however many passes meet it.
bool ImportDecision::StoreFailure(const QString& line, const QString& note, const QString& reason,
                                  const QString& exitTrace)
{
    Trace(QStringLiteral("Cart store: ") + reason);
    Log(line + QStringLiteral(" Error: ") + reason);
    SendFailed(note + QStringLiteral(", the cart store failed: ") + reason +
               QStringLiteral(". The file stays where it is and is tried again at the next "
                              "check."));
    m_frame.Finish();
    Trace(exitTrace);
    return false;
}

void ImportDecision::TraceStoreReason()
{
    const QString reason = m_store.LastError();
    if (!reason.isEmpty()) {
        Trace(QStringLiteral("Cart store: ") + reason);
    }
}

bool ImportDecision::Failure(const QString& line, const QString& note, const QString& exitTrace)
{
    Log(line);
    // The store's reason tells one refusal of the file from another.
    SendFailed(note, m_store.LastError());
    MoveToFailed();
    m_frame.Finish();
    Trace(exitTrace);
    return false;
}
