#include "platform/support/SupportFileGenerator.h"
#include "platform/system/IniFile.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"
#include "tests/support/ZipEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SetUploadUrl(const QString& url)
{
    RegistryFunctions::instance().WriteString(Hive::LocalMachine, SupportFileGenerator::SupportKey,
                                              "UploadURL", url);
}

// tests/support/upload_server.py on a free loopback port; each POST lands in <n>.body.
class UploadServer
{
public:
    bool Start()
    {
        const QString script = QStringLiteral(CF_SOURCE_DIR "/tests/support/upload_server.py");
        m_process.start("/usr/bin/python3", {script, "--out", m_folder.path()});
        while (!m_process.canReadLine() && m_process.waitForReadyRead(20000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        m_port = line.startsWith("PORT ") ? line.mid(5).toInt() : 0;
        return m_port > 0;
    }
    ~UploadServer()
    {
        m_process.closeWriteChannel(); // the server ends when its input closes
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
    }
    QByteArray Body(int n) const { return ReadFile(m_folder.filePath(QString("%1.body").arg(n))); }
    QByteArray Headers(int n) const
    {
        return ReadFile(m_folder.filePath(QString("%1.headers").arg(n)));
    }
    int Count() const { return int(QDir(m_folder.path()).entryList({"*.body"}).size()); }

private:
    QProcess m_process;
    QTemporaryDir m_folder;
    int m_port = 0;
};

class SupportFileGeneratorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The loopback server must be reached directly.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            qunsetenv(name);
        }
        generator.Person().Email = "pat@station.example";
        generator.Person().CustomerID = "C-77";
        generator.Title = "Cartfeeder v1.2.3 Support File";
        generator.Reason = "Carts stop importing\r\nafter midnight";
        generator.SupportIDTag = "[ORV4711]";
    }

    void MakeSmallFile()
    {
        ASSERT_TRUE(WriteFile(home.File("note.txt"), "note"));
        generator.AddFile(home.File("note.txt"));
        ASSERT_EQ(generator.CreateSupportFile(true), 0);
    }

    qint32 Upload()
    {
        QString reply;
        return generator.UploadSupportFile(generator.UploadText(), reply);
    }

    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
    SupportFileGenerator generator;
};

} // namespace

TEST_F(SupportFileGeneratorTest, CreateNeedsAContactWithAValidEmail)
{
    int started = 0;
    QObject::connect(&generator, &SupportFileGenerator::CreateStarted, [&] { ++started; });
    for (const char* bad : {"", "pat@station", "pat @station.example", "pat@@station.example",
                            "pat@station..example"}) {
        generator.Person().Email = bad;
        EXPECT_EQ(generator.CreateSupportFile(true), 1) << bad;
    }
    EXPECT_EQ(started, 0);
    EXPECT_EQ(generator.CreateSupportFile(false), 0);
    generator.Person().Email = "pat.engineer@radio.station.example";
    EXPECT_EQ(generator.CreateSupportFile(true), 0);
}

TEST_F(SupportFileGeneratorTest, MadeFileHoldsTheFilesRegistryBranchAndDescription)
{
    ASSERT_TRUE(WriteFile(RegistryFunctions::HiveFile(Hive::LocalMachine),
                          "[Software\\Orvane]\nLevel=3\n[SOFTWARE\\Microsoft\\Tools]\nPATH=/x\n"
                          "[SOFTWARE\\Orvane\\Support]\n; note\nUploadURL=http://u\n"
                          "[SOFTWARE\\OrvaneOther]\nSecret=1\n"));
    const QString logs = home.File("logs");
    for (const char* number : {"001", "002", "1000", "0a1"}) {
        ASSERT_TRUE(WriteFile(logs + "/2026-12-06-PC-" + number + ".log", number));
    }
    ASSERT_TRUE(WriteFile(home.File("a/play.log"), "play a"));
    ASSERT_TRUE(WriteFile(home.File("b/PLAY.log"), "play b"));

    generator.AddRegistryKey(Hive::LocalMachine, "SOFTWARE\\Orvane");
    generator.AddFile(logs + "/2026-12-06-PC-???.log");
    generator.AddFile(logs + "/2026-12-07-PC-???.log"); // no file of that day
    generator.AddFile(home.File("a/play.log"));
    generator.AddFile(home.File("b/PLAY.log"));
    generator.AddFile(home.File("a/play.log")); // the same file goes in once
    generator.AddFile(home.File("missing.log"));
    float progress = -1;
    QObject::connect(&generator, &SupportFileGenerator::CreateProgress,
                     [&](float percent, bool&) { progress = percent; });
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    EXPECT_FLOAT_EQ(progress, 100.0f);

    const auto entries = ZipEntries(generator.MadeFile());
    EXPECT_EQ(entries.keys(),
              QStringList({"Files/2026-12-06-PC-001.log", "Files/2026-12-06-PC-002.log",
                           "Files/2026-12-06-PC-1000.log", "Files/PLAY (2).log", "Files/play.log",
                           "Registry.txt", "SupportFile.txt"}));
    EXPECT_EQ(entries.value("Files/PLAY (2).log"), "play b");
    EXPECT_EQ(entries.value("Registry.txt"),
              "[HKEY_LOCAL_MACHINE\\Software\\Orvane]\r\nLevel=3\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Support]\r\nUploadURL=http://u\r\n\r\n");
    const QString info = QString::fromUtf8(entries.value("SupportFile.txt"));
    for (const QString& expected :
         {QString("Cartfeeder v1.2.3 Support File\r\nSupport ID: [ORV4711]\r\n"),
          QString("E-mail: pat@station.example\r\n"), QString("ORVUID: C-77\r\n"),
          QString("Reason\r\nCarts stop importing\r\nafter midnight\r\n"),
          "Not found: " + home.File("missing.log"),
          "Not found: " + logs + "/2026-12-07-PC-???.log"}) {
        EXPECT_TRUE(info.contains(expected)) << expected.toStdString();
    }
}

TEST_F(SupportFileGeneratorTest, ANewRunStartsAfreshAndFinishOrStopLeavesNoFile)
{
    ASSERT_TRUE(WriteFile(home.File("one.txt"), QByteArray(200000, '1')));
    ASSERT_TRUE(WriteFile(home.File("two.txt"), "2"));
    generator.AddFile(home.File("one.txt"));
    generator.AddRegistryKey(Hive::CurrentUser, "Software\\Orvane");
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    const QString first = generator.MadeFile();

    generator.ClearFiles();
    generator.ClearRegistryKeys();
    generator.AddFile(home.File("two.txt"));
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    EXPECT_FALSE(QFileInfo::exists(first));
    const auto entries = ZipEntries(generator.MadeFile());
    EXPECT_EQ(entries.keys(), QStringList({"Files/two.txt", "Registry.txt", "SupportFile.txt"}));
    EXPECT_EQ(entries.value("Registry.txt"), "\r\n");

    const QString made = generator.MadeFile();
    generator.Finish();
    generator.Finish();
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(made).absolutePath()));
    EXPECT_TRUE(generator.MadeFile().isEmpty());

    // Stop, passed back through the progress event, ends the creation without a file.
    generator.AddFile(home.File("one.txt"));
    QObject::connect(&generator, &SupportFileGenerator::CreateProgress,
                     [](float percent, bool& cancel) { cancel = percent > 0.0f; });
    EXPECT_EQ(generator.CreateSupportFile(true), 5);
    EXPECT_TRUE(generator.MadeFile().isEmpty());
}

TEST_F(SupportFileGeneratorTest, UploadPostsTheFileToTheRegisteredAddress)
{
    UploadServer server;
    ASSERT_TRUE(server.Start());
    SetUploadUrl(server.Url("/support/upload"));
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    QStringList events;
    QObject::connect(&generator, &SupportFileGenerator::UploadStarted,
                     [&] { events << "started"; });
    QObject::connect(&generator, &SupportFileGenerator::UploadFinished,
                     [&] { events << "finished"; });
    QString reply;
    EXPECT_EQ(generator.UploadSupportFile(generator.UploadText(), reply), 0);
    EXPECT_EQ(reply, "OK\n");
    EXPECT_EQ(events, QStringList({"started", "finished"}));

    ASSERT_EQ(server.Count(), 1);
    EXPECT_TRUE(server.Headers(1).startsWith("POST /support/upload\n"));
    EXPECT_TRUE(server.Headers(1).contains("multipart/form-data"));
    const QByteArray made = ReadFile(generator.MadeFile());
    ASSERT_FALSE(made.isEmpty());
    EXPECT_TRUE(server.Body(1).contains(made)); // the whole file, byte for byte
    EXPECT_TRUE(server.Body(1).contains("name=\"email\"\r\n\r\npat@station.example\r\n"));
    EXPECT_TRUE(server.Body(1).contains("Support ID: [ORV4711]"));
}

TEST_F(SupportFileGeneratorTest, UploadResults)
{
    UploadServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    QStringList errors;
    QObject::connect(&generator, &SupportFileGenerator::UploadError,
                     [&](qint32, const QString& description) { errors << description; });

    EXPECT_EQ(Upload(), 6); // no address
    SetUploadUrl("ftp://127.0.0.1/upload");
    EXPECT_EQ(Upload(), 6);
    SetUploadUrl("http://127.0.0.1:1/upload"); // nothing listens on port 1
    EXPECT_EQ(Upload(), 1);
    SetUploadUrl(server.Url("/upload"));
    generator.Person().Email = "not valid";
    EXPECT_EQ(Upload(), 9);
    EXPECT_EQ(server.Count(), 0); // refused before anything was sent
    generator.Person().Email = "pat@station.example";
    for (const auto& [path, code] : {std::pair{"/email-invalid", 9},
                                     {"/email-blocked", 13},
                                     {"/orvuid-blocked", 14},
                                     {"/broken", 3}}) {
        SetUploadUrl(server.Url(path));
        EXPECT_EQ(Upload(), code) << path;
    }
    ASSERT_EQ(errors.size(), 1); // only the unexplained refusal is an error
    EXPECT_TRUE(errors[0].contains("500")) << errors[0].toStdString();

    SetUploadUrl(server.Url("/upload"));
    bool stop = true;
    QObject::connect(&generator, &SupportFileGenerator::UploadProgress,
                     [&](float, bool& cancel) { cancel = stop; });
    EXPECT_EQ(Upload(), 5);
    stop = false;
    generator.LargeFileSize = 10;
    bool decline = true;
    QObject::connect(&generator, &SupportFileGenerator::Warning, [&](quint32 code, bool& cancel) {
        EXPECT_EQ(code, 0x80040001);
        cancel = decline;
    });
    const int before = server.Count();
    EXPECT_EQ(Upload(), 2);
    EXPECT_EQ(server.Count(), before);
    decline = false;
    EXPECT_EQ(Upload(), 0);
}

TEST_F(SupportFileGeneratorTest, SaveCopiesTheFileWhereTheOperatorChose)
{
    const auto saved = SupportFileGenerator::CurrentSaveLocationHook();
    QString answer;
    SupportFileGenerator::SetSaveLocationHook([&](const QString&) { return answer; });
    QStringList events;
    QObject::connect(&generator, &SupportFileGenerator::SaveFinished,
                     [&](const QString& path) { events << "saved " + path; });
    QObject::connect(&generator, &SupportFileGenerator::SaveError,
                     [&](const QString& path, const QString&) { events << "error " + path; });

    generator.SaveSupportFile(); // nothing made yet
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    generator.SaveSupportFile(); // cancelled: no event
    answer = home.File("support.zip");
    generator.SaveSupportFile();
    EXPECT_EQ(ReadFile(answer), ReadFile(generator.MadeFile()));
    answer = home.File("no such folder/support.zip");
    generator.SaveSupportFile();
    EXPECT_EQ(events,
              QStringList({"error ", "saved " + home.File("support.zip"), "error " + answer}));
    SupportFileGenerator::SetSaveLocationHook(saved);
}

TEST(SupportFilePersonTest, DetailsAreKeptInTheUsersHiveWhenConfirmed)
{
    TempHome home;
    const auto saved = SupportFilePerson::CurrentEditorHook();
    SupportFilePerson person;
    qint32 colour = qint32(0x8000000F);
    bool confirm = false;
    SupportFilePerson::SetEditorHook([&](SupportFilePerson& edited, bool, qint32) {
        edited.Name = "  Pat\nEngineer ";
        edited.Email = "pat@station.example";
        return confirm;
    });
    EXPECT_FALSE(person.EditPersonalDetails(true, colour));
    EXPECT_TRUE(person.Email.isEmpty()); // a cancelled editor changes nothing
    confirm = true;
    EXPECT_TRUE(person.EditPersonalDetails(true, colour));
    EXPECT_EQ(IniFile::ReadString(RegistryFunctions::HiveFile(Hive::CurrentUser),
                                  SupportFilePerson::ContactKey, "Name", ""),
              "Pat Engineer");      // one line, or the rest of the value would be lost
    SupportFileGenerator generator; // starts with the stored contact
    EXPECT_EQ(generator.Person().Email, "pat@station.example");
    SupportFilePerson::SetEditorHook({});
    EXPECT_FALSE(person.EditPersonalDetails(true, colour));
    SupportFilePerson::SetEditorHook(saved);
}
