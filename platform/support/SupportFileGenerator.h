#pragma once

#include "platform/support/SupportFilePerson.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTemporaryDir;

// Our support-file generator: collects files and registry branches with a title, a reason, an
// ID tag and the contact person, makes one .zip of them in a temporary folder, uploads it by an
// HTTP POST (multipart form) to the address in HKEY_LOCAL_MACHINE SupportKey "UploadURL", or
// saves a copy where the operator chooses. The made file is removed by Finish.
//
// The .zip holds "SupportFile.txt" (title, ID tag, contact, reason, the list of files),
// "Registry.txt" (the registry branches, one "[hive\key]" block per key with its values) and
// the files under "Files/". Texts use LineSeparator between lines.
//
// Results of UploadSupportFile: 0 sent; 1 no connection to the server; 2 the operator declined
// the upload of a large file; 3 the server refused the file; 4 the transfer failed; 5 stopped
// through the Cancel of UploadProgress; 6 no upload address; 9 the contact's e-mail address is
// not valid (also the server's answer "EMAIL-INVALID"); 13 the server's answer
// "EMAIL-BLOCKED"; 14 the server's answer "ORVUID-BLOCKED". The server gives those answers as
// the first line of a reply whose HTTP status is not 2xx.
class SupportFileGenerator : public QObject
{
    Q_OBJECT

public:
    explicit SupportFileGenerator(QObject* parent = nullptr);
    ~SupportFileGenerator() override;

    static constexpr const char* SupportKey = "SOFTWARE\\Orvane\\Support";
    static constexpr const char* UploadUrlValue = "UploadURL";
    static constexpr quint32 LargeFileWarning = 0x80040001;

    enum CreateResult : qint32
    {
        Created = 0,
        ContactNeeded = 1,
        CreateFailed = 2,
        CreateCancelled = 5
    };
    enum UploadResult : qint32
    {
        Sent = 0,
        NoConnection = 1,
        Declined = 2,
        Refused = 3,
        TransferFailed = 4,
        Stopped = 5,
        NoDestination = 6,
        EmailInvalid = 9,
        EmailBlocked = 13,
        CustomerIDBlocked = 14
    };

    QString LineSeparator = QStringLiteral("\r\n");
    // The playout configuration's section, recorded in the information text.
    QString CfgFileSection = QStringLiteral("corvellav3");
    QString SupportIDTag;
    QString Title;
    QString Reason;
    // Files above this size raise Warning(LargeFileWarning) before an upload.
    qint64 LargeFileSize = 20 * 1024 * 1024;

    // Read from the registry when the generator is made.
    SupportFilePerson& Person() { return m_person; }
    // The title, ID tag and contact details, sent with the file as the form field "text".
    QString UploadText() const;

    void ClearFiles();
    void ClearRegistryKeys();
    // root: Hive::CurrentUser or Hive::LocalMachine.
    void AddRegistryKey(quint32 root, const QString& key);
    // A name holding "-???" (the numbered application logs) stands for every file of its
    // folder with three or more digits there. Missing files are listed as such in the file.
    void AddFile(const QString& path);
    QStringList Files() const { return m_files; }

    // requireContact: a contact with a valid e-mail address is needed (result 1 otherwise).
    virtual qint32 CreateSupportFile(bool requireContact);
    virtual qint32 UploadSupportFile(const QString& uploadText, QString& reply);
    // Asks where to save a copy of the made file; SaveFinished or SaveError tell the outcome.
    // An answer of "" (the operator cancelled) raises neither.
    virtual void SaveSupportFile();
    // Removes the made file; callable at any time.
    virtual void Finish();

    // The made file; "" when none.
    QString MadeFile() const { return m_madeFile; }

    // The place to save to, proposed path given; "" when cancelled. Installed by the widgets
    // library (ContactDialog::Install).
    using SaveLocationHook = std::function<QString(const QString& proposedPath)>;
    static void SetSaveLocationHook(SaveLocationHook hook);
    static SaveLocationHook CurrentSaveLocationHook();

Q_SIGNALS:
    void CreateStarted();
    void CreateProgress(float percent, bool& cancel);
    void CreateFinished(const QString& path);
    void CreateError(qint32 number, const QString& description);
    void UploadStarted();
    void UploadProgress(float percent, bool& cancel);
    void UploadFinished();
    void UploadError(qint32 number, const QString& description);
    void Warning(quint32 code, bool& cancel);
    void SaveFinished(const QString& path);
    void SaveError(const QString& path, const QString& description);

private:
    struct Entry
    {
        QString source;
        QString name; // inside the .zip
    };

    QList<Entry> CollectEntries(QStringList& missing) const;
    QString InformationText(const QList<Entry>& entries, const QStringList& missing) const;
    QString RegistryText() const;
    QString Lines(const QStringList& lines) const;
    void RemoveMadeFile();

    SupportFilePerson m_person;
    QStringList m_files;
    QList<QPair<quint32, QString>> m_registryKeys;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_madeFile;
};
