#include "platform/support/SupportFileGenerator.h"

#include "platform/system/FileFunctions.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/SystemInfoFunctions.h"
#include "platform/system/TextFileDecoder.h"
#include "platform/system/ToolError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <curl/curl.h>
#include <mutex>
#include <zip.h>

Q_LOGGING_CATEGORY(lcSupport, "cartfeeder.support", QtWarningMsg)

namespace {

SupportFileGenerator::SaveLocationHook& saveLocationHook()
{
    static SupportFileGenerator::SaveLocationHook hook;
    return hook;
}

QString HiveName(quint32 root)
{
    switch (root) {
    case Hive::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case Hive::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    default:
        return QStringLiteral("&H%1").arg(QString::number(root, 16).toUpper());
    }
}

// The files a name stands for: itself, or for "-???" every file of the folder that has three
// or more digits there (the numbered application logs; numbers beyond 999 grow longer).
QStringList Expand(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype at = name.indexOf(QStringLiteral("-???"));
    if (at < 0) {
        return {path};
    }
    const QRegularExpression pattern(QStringLiteral("^%1-[0-9]{3,}%2$")
                                         .arg(QRegularExpression::escape(name.left(at)),
                                              QRegularExpression::escape(name.mid(at + 4))));
    QDir folder = info.dir();
    QStringList found;
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& candidate : names) {
        if (pattern.match(candidate).hasMatch()) {
            found.append(folder.filePath(candidate));
        }
    }
    return found;
}

// A name for the made file, also proposed when it is saved.
QString MadeFileName()
{
    QString computer = SystemInfoFunctions::instance().ComputerName();
    computer.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("SupportFile-%1-%2.zip")
        .arg(computer, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

struct ZipProgress
{
    SupportFileGenerator* generator;
    bool cancel = false;
};

size_t CollectReply(char* data, size_t size, size_t count, void* target)
{
    auto* reply = static_cast<QByteArray*>(target);
    const size_t bytes = size * count;
    // A reply is a short answer; anything beyond this is not read.
    constexpr qsizetype limit = 64 * 1024;
    if (reply->size() < limit) {
        reply->append(data, qsizetype(qMin<size_t>(bytes, size_t(limit - reply->size()))));
    }
    return bytes;
}

} // namespace

// Emits from the C callbacks of libzip and libcurl.
class SupportFileGeneratorCallbacks
{
public:
    static void ZipProgressed(zip_t*, double fraction, void* state)
    {
        auto* progress = static_cast<ZipProgress*>(state);
        emit progress->generator->CreateProgress(float(fraction * 100.0), progress->cancel);
    }

    static int ZipCancelled(zip_t*, void* state)
    {
        return static_cast<ZipProgress*>(state)->cancel ? 1 : 0;
    }

    static int UploadProgressed(void* state, curl_off_t, curl_off_t, curl_off_t total,
                                curl_off_t sent)
    {
        auto* progress = static_cast<ZipProgress*>(state);
        const float percent = total > 0 ? float(double(sent) * 100.0 / double(total)) : 0.0f;
        emit progress->generator->UploadProgress(percent, progress->cancel);
        return progress->cancel ? 1 : 0;
    }
};

SupportFileGenerator::SupportFileGenerator(QObject* parent) : QObject(parent)
{
    try {
        m_person.Load();
    } catch (const ToolError& error) {
        qCWarning(lcSupport).noquote() << "contact details not read:" << error.Description();
    }
}

SupportFileGenerator::~SupportFileGenerator() = default;

QString SupportFileGenerator::UploadText() const
{
    return Lines({Title, QStringLiteral("Support ID: ") + SupportIDTag,
                  QStringLiteral("Name: ") + m_person.Name,
                  QStringLiteral("Company: ") + m_person.Company,
                  QStringLiteral("E-mail: ") + m_person.Email,
                  QStringLiteral("Telephone: ") + m_person.Telephone,
                  QStringLiteral("ORVUID: ") + m_person.CustomerID});
}

void SupportFileGenerator::ClearFiles()
{
    m_files.clear();
}

void SupportFileGenerator::ClearRegistryKeys()
{
    m_registryKeys.clear();
}

void SupportFileGenerator::AddRegistryKey(quint32 root, const QString& key)
{
    QString trimmed = key.trimmed();
    while (trimmed.endsWith(QLatin1Char('\\'))) {
        trimmed.chop(1);
    }
    m_registryKeys.append({root, trimmed});
}

void SupportFileGenerator::AddFile(const QString& path)
{
    m_files.append(path);
}

QString SupportFileGenerator::Lines(const QStringList& lines) const
{
    return lines.join(LineSeparator) + LineSeparator;
}

QList<SupportFileGenerator::Entry> SupportFileGenerator::CollectEntries(QStringList& missing) const
{
    QList<Entry> entries;
    QSet<QString> sources;
    QSet<QString> names; // without regard to case, so that the archive unpacks anywhere
    for (const QString& added : m_files) {
        const QStringList expanded = Expand(added);
        if (expanded.isEmpty()) {
            missing.append(added);
        }
        for (const QString& path : expanded) {
            const QFileInfo info(path);
            if (!info.isFile() || !info.isReadable()) {
                missing.append(path);
                continue;
            }
            const QString source = info.absoluteFilePath();
            if (sources.contains(source)) {
                continue;
            }
            sources.insert(source);
            QString name = QStringLiteral("Files/") + info.fileName();
            for (int n = 2; names.contains(name.toLower()); ++n) {
                const QString suffix = info.suffix();
                name = QStringLiteral("Files/%1 (%2)%3")
                           .arg(suffix.isEmpty() ? info.fileName() : info.completeBaseName())
                           .arg(n)
                           .arg(suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
            }
            names.insert(name.toLower());
            entries.append({source, name});
        }
    }
    return entries;
}

QString SupportFileGenerator::InformationText(const QList<Entry>& entries,
                                              const QStringList& missing) const
{
    const OSVersionInfo os = SystemInfoFunctions::instance().GetOSVersion();
    QStringList lines{
        Title,
        QStringLiteral("Support ID: ") + SupportIDTag,
        QStringLiteral("Created: ") + QDateTime::currentDateTime().toString(Qt::ISODate),
        QStringLiteral("Computer: ") + SystemInfoFunctions::instance().ComputerName(),
        QStringLiteral("Operating system: %1 %2.%3")
            .arg(os.CSDVersion)
            .arg(os.MajorVersion)
            .arg(os.MinorVersion),
        QStringLiteral("Configuration section: ") + CfgFileSection,
        QString(),
        QStringLiteral("Contact"),
        QStringLiteral("Name: ") + m_person.Name,
        QStringLiteral("Company: ") + m_person.Company,
        QStringLiteral("E-mail: ") + m_person.Email,
        QStringLiteral("Telephone: ") + m_person.Telephone,
        QStringLiteral("ORVUID: ") + m_person.CustomerID,
        QString(),
        QStringLiteral("Reason"),
    };
    QString reason = Reason;
    reason.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.append(reason.split(QLatin1Char('\n')));
    lines.append(QString());
    lines.append(QStringLiteral("Files"));
    for (const Entry& entry : entries) {
        lines.append(entry.name + QStringLiteral(" <- ") + entry.source);
    }
    for (const QString& path : missing) {
        lines.append(QStringLiteral("Not found: ") + path);
    }
    return Lines(lines);
}

QString SupportFileGenerator::RegistryText() const
{
    QStringList lines;
    for (const auto& [root, key] : m_registryKeys) {
        const QString hive = HiveName(root);
        QString file;
        try {
            file = RegistryFunctions::HiveFile(root);
        } catch (const ToolError& error) {
            lines << QStringLiteral("[%1\\%2]").arg(hive, key)
                  << QStringLiteral("; ") + error.Description() << QString();
            continue;
        }
        QFile hiveFile(file);
        QStringList iniLines;
        if (hiveFile.open(QIODevice::ReadOnly)) {
            iniLines = TextFileDecoder::Decode(hiveFile.readAll()).split(QLatin1Char('\n'));
        }
        bool found = false;
        bool inside = false;
        for (const QString& raw : std::as_const(iniLines)) {
            const QString line = raw.trimmed();
            if (line.startsWith(QLatin1Char('[')) && line.contains(QLatin1Char(']'))) {
                const QString section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed();
                inside = section.compare(key, Qt::CaseInsensitive) == 0 ||
                         section.startsWith(key + QLatin1Char('\\'), Qt::CaseInsensitive);
                if (inside) {
                    if (found) {
                        lines << QString();
                    }
                    found = true;
                    lines << QStringLiteral("[%1\\%2]").arg(hive, section);
                }
            } else if (inside && !line.isEmpty() && !line.startsWith(QLatin1Char(';'))) {
                lines << line;
            }
        }
        if (!found) {
            lines << QStringLiteral("[%1\\%2]").arg(hive, key) << QStringLiteral("; not present");
        }
        lines << QString();
    }
    return Lines(lines);
}

qint32 SupportFileGenerator::CreateSupportFile(bool requireContact)
{
    if (requireContact && !m_person.HasValidEmail()) {
        return ContactNeeded;
    }
    emit CreateStarted();
    RemoveMadeFile();

    m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                               QStringLiteral("/cartfeeder-support-XXXXXX"));
    if (!m_folder->isValid()) {
        const QString reason = m_folder->errorString();
        RemoveMadeFile();
        emit CreateError(0, QStringLiteral("No temporary folder could be made: ") + reason);
        return CreateFailed;
    }

    ZipProgress progress{this};
    emit CreateProgress(0.0f, progress.cancel);
    if (progress.cancel) {
        RemoveMadeFile();
        return CreateCancelled;
    }

    QStringList missing;
    const QList<Entry> entries = CollectEntries(missing);
    // libzip reads the buffers when the archive is closed.
    const QByteArray information = InformationText(entries, missing).toUtf8();
    const QByteArray registry = RegistryText().toUtf8();

    const QString path = m_folder->filePath(MadeFileName());
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString reason = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        RemoveMadeFile();
        emit CreateError(0, QStringLiteral("%1 could not be made: %2").arg(path, reason));
        return CreateFailed;
    }
    auto fail = [&](const QString& what) {
        const QString reason = QString::fromUtf8(zip_strerror(zip));
        zip_discard(zip);
        RemoveMadeFile();
        emit CreateError(0, QStringLiteral("%1: %2").arg(what, reason));
        return CreateFailed;
    };
    auto addBuffer = [&](const char* name, const QByteArray& bytes) {
        zip_source_t* source =
            zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        if (!source) {
            return false;
        }
        if (zip_file_add(zip, name, source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            return false;
        }
        return true;
    };
    if (!addBuffer("SupportFile.txt", information) || !addBuffer("Registry.txt", registry)) {
        return fail(QStringLiteral("The support information could not be added"));
    }
    for (const Entry& entry : entries) {
        zip_source_t* source =
            zip_source_file(zip, QFile::encodeName(entry.source).constData(), 0, -1);
        if (!source) {
            return fail(entry.source + QStringLiteral(" could not be added"));
        }
        if (zip_file_add(zip, entry.name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            return fail(entry.source + QStringLiteral(" could not be added"));
        }
    }

    zip_register_progress_callback_with_state(
        zip, 0.01, SupportFileGeneratorCallbacks::ZipProgressed, nullptr, &progress);
    zip_register_cancel_callback_with_state(zip, SupportFileGeneratorCallbacks::ZipCancelled,
                                            nullptr, &progress);
    if (zip_close(zip) != 0) {
        if (progress.cancel) {
            zip_discard(zip);
            RemoveMadeFile();
            return CreateCancelled;
        }
        return fail(QStringLiteral("The Support File could not be written"));
    }
    m_madeFile = path;
    emit CreateFinished(path);
    return Created;
}

qint32 SupportFileGenerator::UploadSupportFile(const QString& uploadText, QString& reply)
{
    reply.clear();
    if (m_madeFile.isEmpty() || !QFileInfo(m_madeFile).isFile()) {
        emit UploadError(0, QStringLiteral("No Support File has been made"));
        return TransferFailed;
    }
    const QString address = RegistryFunctions::instance()
                                .ReadString(Hive::LocalMachine, QString::fromLatin1(SupportKey),
                                            QString::fromLatin1(UploadUrlValue), QString())
                                .trimmed();
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (address.isEmpty() || !url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return NoDestination;
    }
    if (!m_person.HasValidEmail()) {
        return EmailInvalid;
    }
    if (QFileInfo(m_madeFile).size() > LargeFileSize) {
        bool cancel = false;
        emit Warning(LargeFileWarning, cancel);
        if (cancel) {
            return Declined;
        }
    }

    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        emit UploadError(0, QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT)));
        return TransferFailed;
    }
    std::unique_ptr<curl_mime, void (*)(curl_mime*)> form(curl_mime_init(curl.get()),
                                                          curl_mime_free);
    auto addField = [&](const char* name, const QString& value) {
        curl_mimepart* part = curl_mime_addpart(form.get());
        curl_mime_name(part, name);
        const QByteArray bytes = value.toUtf8();
        curl_mime_data(part, bytes.constData(), size_t(bytes.size()));
    };
    addField("text", uploadText);
    addField("email", m_person.Email);
    addField("orvuid", m_person.CustomerID);
    addField("supportid", SupportIDTag);
    curl_mimepart* filePart = curl_mime_addpart(form.get());
    curl_mime_name(filePart, "file");
    if (curl_mime_filedata(filePart, QFile::encodeName(m_madeFile).constData()) != CURLE_OK) {
        emit UploadError(0, m_madeFile + QStringLiteral(" could not be read"));
        return TransferFailed;
    }
    curl_mime_type(filePart, "application/zip");

    const QByteArray urlBytes = url.toEncoded();
    QByteArray answer;
    ZipProgress progress{this};
    char errorText[CURL_ERROR_SIZE] = {};
    // The server answers at once; no need to ask before sending.
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(nullptr, "Expect:"), curl_slist_free_all);
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_MIMEPOST, form.get());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
    // A stalled connection ends instead of hanging the window.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 120L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Cartfeeder support file");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION,
                     SupportFileGeneratorCallbacks::UploadProgressed);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);

    emit UploadStarted();
    const CURLcode result = curl_easy_perform(handle);
    reply = QString::fromUtf8(answer);
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        return Stopped;
    }
    if (result != CURLE_OK) {
        curl_off_t connectTime = 0;
        curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectTime);
        if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_RESOLVE_PROXY ||
            result == CURLE_COULDNT_CONNECT ||
            (result == CURLE_OPERATION_TIMEDOUT && connectTime == 0)) {
            return NoConnection;
        }
        const QString detail = QString::fromUtf8(errorText).trimmed();
        emit UploadError(0,
                         detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail);
        return TransferFailed;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && status < 300) {
        emit UploadFinished();
        return Sent;
    }
    const QString firstLine = reply.section(QLatin1Char('\n'), 0, 0).trimmed();
    const QString word = firstLine.toUpper();
    if (word == QLatin1String("EMAIL-INVALID")) {
        return EmailInvalid;
    }
    if (word == QLatin1String("EMAIL-BLOCKED")) {
        return EmailBlocked;
    }
    if (word == QLatin1String("ORVUID-BLOCKED")) {
        return CustomerIDBlocked;
    }
    emit UploadError(
        0, QStringLiteral("the server answered %1 %2").arg(status).arg(firstLine.left(200)));
    return Refused;
}

void SupportFileGenerator::SaveSupportFile()
{
    if (m_madeFile.isEmpty() || !QFileInfo(m_madeFile).isFile()) {
        emit SaveError(QString(), QStringLiteral("No Support File has been made"));
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    const QString proposed = QDir(folder).filePath(QFileInfo(m_madeFile).fileName());
    const SaveLocationHook hook = saveLocationHook();
    if (!hook) {
        emit SaveError(proposed, QStringLiteral("No way of choosing where to save is available"));
        return;
    }
    const QString target = hook(proposed);
    if (target.isEmpty()) {
        return;
    }
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(m_madeFile).absoluteFilePath()) {
        emit SaveError(target, QStringLiteral("The file cannot be saved over itself"));
        return;
    }
    qint16 flag1 = 0;
    qint16 flag2 = 0;
    qint32 flags = 4;
    const qint32 status = FileFunctions::instance().CopyFileWithProgress(
        m_madeFile, target, QStringLiteral("Saving Support File"), nullptr, flag1, flag2, flags);
    if (status != 0) {
        emit SaveError(target, qt_error_string(status));
        return;
    }
    emit SaveFinished(target);
}

void SupportFileGenerator::Finish()
{
    RemoveMadeFile();
}

void SupportFileGenerator::RemoveMadeFile()
{
    m_madeFile.clear();
    m_folder.reset();
}

void SupportFileGenerator::SetSaveLocationHook(SaveLocationHook hook)
{
    saveLocationHook() = std::move(hook);
}

SupportFileGenerator::SaveLocationHook SupportFileGenerator::CurrentSaveLocationHook()
{
    return saveLocationHook();
}
