#include "tests/engine/ImportDecisionFixture.h"

#include "framework/AppLog.h"
#include "framework/DebugLog.h"
#include "framework/ToolGlobals.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QRegularExpression& GroupPrefix()
{
    static const QRegularExpression prefix(QStringLiteral("^GRP:\\d+:"));
    return prefix;
}

} // namespace

bool RecordingCartStore::ImportAudioFile(QObject* parentWindow, const QString& hdReference,
                                         const QString& fileName, qint32 flags,
                                         qint16 normaliseLevel, bool& flag1, qint32 arg7,
                                         qint32 arg8, bool& flag2)
{
    imports.append({hdReference, fileName, flags, normaliseLevel});
    if (throwOnImport != 0) {
        throw ToolError(throwOnImport, throwText);
    }
    if (refuseImport) {
        return false;
    }
    return CartStore::ImportAudioFile(parentWindow, hdReference, fileName, flags, normaliseLevel,
                                      flag1, arg7, arg8, flag2);
}

qint32 RecordingCartStore::SaveCart(const QString& hdReference, Cart& cart, qint32 detail,
                                    bool timingOnly, bool afterImport, bool& flag)
{
    saves.append({timingOnly, afterImport});
    if (timingOnly && timingSaveStatus != 0) {
        return timingSaveStatus;
    }
    return CartStore::SaveCart(hdReference, cart, detail, timingOnly, afterImport, flag);
}

bool RecordingCartStore::RemoveCart(const QString& hdReference, bool flag1, bool flag2)
{
    return refuseRemove ? false : CartStore::RemoveCart(hdReference, flag1, flag2);
}

void ImportDecisionFixture::SetUp()
{
    Globals::ToolProfileFolder = home.File("Profiles/Main/Cartfeeder");
    ASSERT_TRUE(InitialiseAppLog(home.File("Logs/Cartfeeder"), 0));
    GeneralFunctions::instance().setDebugPath(home.File("debug") + QLatin1Char('/'));
    GeneralFunctions::instance().setDebugLevel(5);

    store = std::make_unique<RecordingCartStore>(home.File("store"));
    Globals::PlayoutAudio = store.get();
    directory = std::make_unique<UserDirectory>();
    ASSERT_EQ(directory->OpenDefaultDirectory(true), 0);
    Globals::DirectoryInterface = directory.get();

    MakeImporter();
    ASSERT_TRUE(QDir().mkpath(home.File("drop")));
}

void ImportDecisionFixture::Restart(const QList<std::function<void(cImporterGroup&)>>& groups)
{
    importer.reset();
    Globals::PlayoutAudio = nullptr;
    store.reset();
    store = std::make_unique<RecordingCartStore>(home.File("store"));
    Globals::PlayoutAudio = store.get();
    MakeImporter();
    for (const auto& edit : groups) {
        AddGroup(edit);
    }
}

void ImportDecisionFixture::MakeImporter()
{
    importer = std::make_unique<cImporter>(nullptr, clocks.Get());
    importer->setDialogs(&editor);
    auto record = [this](const QString& text) { events << text; };
    QObject::connect(importer.get(), &cImporter::ImportStarted,
                     [record](const QString&, const QString&) { record("ImportStarted"); });
    QObject::connect(importer.get(), &cImporter::ImportProgress,
                     [record](const QString&, const QString&, qint16 progress) {
                         record(QStringLiteral("ImportProgress %1").arg(progress));
                     });
    QObject::connect(importer.get(), &cImporter::ImportFinished,
                     [record](const QString&, const QString&) { record("ImportFinished"); });
    // The store's own progress frames are left out: they are the store's, not the decision's.
    QObject::connect(importer.get(), &cImporter::ProcessStarted,
                     [record](const QString& caption, bool usesProgress) {
                         if (caption.contains(QLatin1String("Snapshot"))) {
                             record(QStringLiteral("ProcessStarted %1 %2")
                                        .arg(caption, usesProgress ? "true" : "false"));
                         }
                     });
    QObject::connect(importer.get(), &cImporter::ProcessEnd,
                     [record](const QString& caption, bool usedProgress) {
                         if (caption.contains(QLatin1String("Snapshot"))) {
                             record(QStringLiteral("ProcessEnd %1 %2")
                                        .arg(caption, usedProgress ? "true" : "false"));
                         }
                     });
}

void ImportDecisionFixture::TearDown()
{
    importer.reset();
    Globals::PlayoutAudio = nullptr;
    Globals::DirectoryInterface = nullptr;
    store.reset();
    directory.reset();
    GeneralFunctions::instance().setDebugLevel(0);
    GeneralFunctions::instance().setDebugPath(QString());
    Globals::ToolProfileFolder.clear();
    Globals::AppLogFile.clear();
    Globals::AppLogFolder.clear();
    Globals::AppLogDate = 0;
    Globals::AppLogSequence = 0;
}

qint16 ImportDecisionFixture::AddGroup(const std::function<void(cImporterGroup&)>& edit)
{
    editor.edit = edit;
    const qint16 index = importer->AddGroup();
    editor.edit = {};
    EXPECT_GT(index, 0);
    return index;
}

bool ImportDecisionFixture::Check(const QString& file, const QString& cart, qint16 group)
{
    return importer->CheckFileAgainstHD(group, nullptr, file, cart);
}

QString ImportDecisionFixture::Drop(const QString& name) const
{
    return home.File(QStringLiteral("drop/") + name);
}

QString ImportDecisionFixture::Wav(const QString& name, double seconds, int sampleRate, double peak)
{
    const QString path = Drop(name);
    EXPECT_TRUE(AudioFixtures::WriteSineWav(path, seconds, sampleRate, 1, peak));
    return path;
}

Cart ImportDecisionFixture::PrepareCart(const QString& cart, const std::function<void(Cart&)>& edit,
                                        double seconds)
{
    const QString source = home.File(QStringLiteral("prepare-%1.wav").arg(cart));
    EXPECT_TRUE(AudioFixtures::WriteSineWav(source, seconds, 8000, 1, 0.5));
    bool flag1 = false;
    bool flag2 = true;
    EXPECT_TRUE(
        store->CartStore::ImportAudioFile(nullptr, cart, source, 0x24, -1, flag1, 0, -1, flag2));
    QFile::remove(source);
    if (edit) {
        EditCart(cart, edit);
    }
    return GetCart(cart);
}

void ImportDecisionFixture::EditCart(const QString& cart, const std::function<void(Cart&)>& edit)
{
    Cart stored = GetCart(cart);
    edit(stored);
    bool flag = true;
    EXPECT_EQ(store->CartStore::SaveCart(cart, stored, 3, false, false, flag), 0);
}

Cart ImportDecisionFixture::GetCart(const QString& cart)
{
    const std::optional<Cart> stored = store->GetCart(cart, 0xFFFF, false);
    EXPECT_TRUE(stored.has_value());
    return stored.value_or(Cart());
}

void ImportDecisionFixture::SetModifiedRelativeTo(const QString& file, const QString& reference,
                                                  qint64 milliseconds)
{
    // To the nanosecond, so that an offset of 0 gives the same time.
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(reference).constData(), &info), 0);
    const qint64 ns = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec +
                      milliseconds * 1'000'000;
    const timespec times[2] = {{0, UTIME_OMIT},
                               {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
}

QStringList ImportDecisionFixture::AppLog() const
{
    QFile file(Globals::AppLogFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QStringList lines =
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList result;
    for (qsizetype i = m_appLogSkip; i < lines.size(); ++i) {
        const auto match = GroupPrefix().match(lines[i]);
        if (match.hasMatch()) {
            result << lines[i].mid(match.capturedLength());
        }
    }
    return result;
}

QStringList ImportDecisionFixture::DebugTexts() const
{
    QStringList texts;
    const QDir folder(home.File("debug"));
    for (const QString& name : folder.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "hh:mm:ss", the indentation, a blank and the text.
        for (QString line : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
            if (line.size() < 9) {
                continue;
            }
            line = line.mid(8);
            qsizetype start = 0;
            while (start < line.size() && line.at(start) == u' ') {
                ++start;
            }
            texts << line.mid(start);
        }
    }
    return texts.mid(m_debugSkip);
}

QStringList ImportDecisionFixture::Traces() const
{
    QStringList traces;
    for (const QString& text : DebugTexts()) {
        if (text.startsWith(QLatin1String("CheckFileAgainstHD:"))) {
            traces << text.mid(19);
        }
    }
    return traces;
}

QStringList ImportDecisionFixture::Record() const
{
    QStringList record;
    // "SendSuccessEmail <group>,<file>,<cart>,<note>"; the tests' paths hold no commas.
    auto note = [](const QString& text) { return text.section(QLatin1Char(','), 3, -1); };
    for (const QString& text : DebugTexts()) {
        const QString entry = text.startsWith(QLatin1String("AppLog: ")) ? text.mid(8) : QString();
        const auto match = GroupPrefix().match(entry);
        if (match.hasMatch()) {
            record << QStringLiteral("log:") + entry.mid(match.capturedLength());
        } else if (text.startsWith(QLatin1String("SendSuccessEmail "))) {
            record << QStringLiteral("success:") + note(text);
        } else if (text.startsWith(QLatin1String("SendFailedEmail "))) {
            record << QStringLiteral("fail:") + note(text);
        }
    }
    return record;
}

QStringList ImportDecisionFixture::ImportEvents() const
{
    return events;
}

void ImportDecisionFixture::ForgetSoFar()
{
    m_appLogSkip = 0;
    QFile file(Globals::AppLogFile);
    if (file.open(QIODevice::ReadOnly)) {
        m_appLogSkip =
            QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
    }
    m_debugSkip = 0;
    m_debugSkip = DebugTexts().size();
    events.clear();
    store->imports.clear();
    store->saves.clear();
}
