#include "UploadTestServer.h"
#include "platform/IniFile.h"
#include "platform/RegistryFunctions.h"
#include "platform/ScriptedAnswerer.h"
#include "platform/SupportFileGenerator.h"
#include "platform/SupportFilePerson.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <gtest/gtest.h>
#include <zip.h>

namespace {

// Every entry of a .zip with its bytes; empty when the archive cannot be read.
QMap<QString, QByteArray> ZipEntries(const QString& path)
{
    QMap<QString, QByteArray> entries;
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!zip) {
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_stat_index(zip, zip_uint64_t(i), 0, &st);
        QByteArray bytes(qsizetype(st.size), '\0');
        zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(i), 0);
        if (file) {
            zip_fread(file, bytes.data(), st.size);
            zip_fclose(file);
        }
        entries.insert(QString::fromUtf8(st.name), bytes);
    }
    zip_discard(zip);
    return entries;
}

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

class SupportFileGeneratorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The loopback server must be reached directly.
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            qunsetenv(name);
        }
        generator.Person().Name = "Pat Engineer";
        generator.Person().Email = "pat@station.example";
        generator.Person().CustomerID = "C-77";
        generator.Title = "Cartfeeder v1.2.3 Support File";
        generator.Reason = "Carts stop importing\r\nafter midnight";
        generator.SupportIDTag = "[ORV4711]";
    }

    // A made file holding one small text file.
    void MakeSmallFile()
    {
        ASSERT_TRUE(WriteFile(home.File("data/note.txt"), "note"));
        generator.AddFile(home.File("data/note.txt"));
        ASSERT_EQ(generator.CreateSupportFile(true), 0);
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
    for (const char* bad : {"", "pat", "pat@station", "pat @station.example", "@station.example",
                            "pat@@station.example", "pat@station..example"}) {
        generator.Person().Email = bad;
        EXPECT_EQ(generator.CreateSupportFile(true), 1) << bad;
    }
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(generator.MadeFile().isEmpty());

    // Without the requirement the file is made all the same.
    EXPECT_EQ(generator.CreateSupportFile(false), 0);
    generator.Person().Email = "pat.engineer@radio.station.example";
    EXPECT_EQ(generator.CreateSupportFile(true), 0);
    EXPECT_EQ(started, 2);
}

TEST_F(SupportFileGeneratorTest, MadeFileHoldsTheFilesRegistryBranchAndDescription)
{
    const QString hive = RegistryFunctions::HiveFile(Hive::LocalMachine);
    ASSERT_TRUE(WriteFile(hive, "[Software\\Orvane]\nLevel=3\n"
                                "[SOFTWARE\\Microsoft\\Shared Tools]\nPATH=/x\n"
                                "[SOFTWARE\\Orvane\\Support]\n; a comment\nUploadURL=http://u\n"
                                "[SOFTWARE\\OrvaneOther]\nSecret=1\n"));
    const QString logs = home.File("logs");
    ASSERT_TRUE(WriteFile(logs + "/2026-12-06-PC-001.log", "first"));
    ASSERT_TRUE(WriteFile(logs + "/2026-12-06-PC-002.log", "second"));
    ASSERT_TRUE(WriteFile(logs + "/2026-12-06-PC-1000.log", "thousandth"));
    ASSERT_TRUE(WriteFile(logs + "/2026-12-06-PC-0a1.log", "not a number"));
    ASSERT_TRUE(WriteFile(home.File("a/play.log"), "play a"));
    ASSERT_TRUE(WriteFile(home.File("b/PLAY.log"), "play b"));

    generator.AddRegistryKey(Hive::LocalMachine, "SOFTWARE\\Orvane");
    generator.AddFile(logs + "/2026-12-06-PC-???.log");
    generator.AddFile(home.File("a/play.log"));
    generator.AddFile(home.File("b/PLAY.log"));
    generator.AddFile(home.File("a/play.log")); // the same file once only
    generator.AddFile(home.File("missing.log"));
    generator.AddFile(logs + "/2026-12-07-PC-???.log"); // no file of that day

    QList<float> progress;
    QString finished;
    QObject::connect(&generator, &SupportFileGenerator::CreateProgress,
                     [&](float percent, bool&) { progress.append(percent); });
    QObject::connect(&generator, &SupportFileGenerator::CreateFinished,
                     [&](const QString& path) { finished = path; });
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    ASSERT_FALSE(generator.MadeFile().isEmpty());
    EXPECT_EQ(finished, generator.MadeFile());
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_FLOAT_EQ(progress.last(), 100.0f);

    const auto entries = ZipEntries(generator.MadeFile());
    EXPECT_EQ(entries.keys(),
              QStringList({"Files/2026-12-06-PC-001.log", "Files/2026-12-06-PC-002.log",
                           "Files/2026-12-06-PC-1000.log", "Files/PLAY (2).log", "Files/play.log",
                           "Registry.txt", "SupportFile.txt"}));
    EXPECT_EQ(entries.value("Files/2026-12-06-PC-1000.log"), "thousandth");
    EXPECT_EQ(entries.value("Files/play.log"), "play a");
    EXPECT_EQ(entries.value("Files/PLAY (2).log"), "play b");

    const QString registry = QString::fromUtf8(entries.value("Registry.txt"));
    EXPECT_EQ(registry, "[HKEY_LOCAL_MACHINE\\Software\\Orvane]\r\nLevel=3\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Support]\r\nUploadURL=http://u\r\n"
                        "\r\n");

    const QString info = QString::fromUtf8(entries.value("SupportFile.txt"));
    for (const char* expected :
         {"Cartfeeder v1.2.3 Support File\r\n", "Support ID: [ORV4711]\r\n",
          "Name: Pat Engineer\r\n", "E-mail: pat@station.example\r\n", "ORVUID: C-77\r\n",
          "Reason\r\nCarts stop importing\r\nafter midnight\r\n",
          "Configuration section: corvellav3", "Not found: "}) {
        EXPECT_TRUE(info.contains(QString::fromUtf8(expected))) << expected;
    }
    EXPECT_TRUE(info.contains(home.File("missing.log")));
    EXPECT_TRUE(info.contains(logs + "/2026-12-07-PC-???.log"));
}

TEST_F(SupportFileGeneratorTest, ANewRunStartsAfreshAndFinishRemovesTheFile)
{
    ASSERT_TRUE(WriteFile(home.File("one.txt"), "1"));
    ASSERT_TRUE(WriteFile(home.File("two.txt"), "2"));
    generator.AddFile(home.File("one.txt"));
    generator.AddRegistryKey(Hive::CurrentUser, "Software\\Orvane");
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    const QString first = generator.MadeFile();

    generator.ClearFiles();
    generator.ClearRegistryKeys();
    generator.AddFile(home.File("two.txt"));
    ASSERT_EQ(generator.CreateSupportFile(true), 0);
    EXPECT_FALSE(QFileInfo::exists(first)); // the earlier file went with the new run
    const auto entries = ZipEntries(generator.MadeFile());
    EXPECT_TRUE(entries.contains("Files/two.txt"));
    EXPECT_FALSE(entries.contains("Files/one.txt"));
    EXPECT_EQ(entries.value("Registry.txt"), "\r\n");

    const QString made = generator.MadeFile();
    generator.Finish();
    EXPECT_FALSE(QFileInfo::exists(made));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(made).absolutePath()));
    EXPECT_TRUE(generator.MadeFile().isEmpty());
    generator.Finish();
}

TEST_F(SupportFileGeneratorTest, StopDuringCreationMakesNothing)
{
    ASSERT_TRUE(WriteFile(home.File("one.txt"), QByteArray(200000, 'x')));
    generator.AddFile(home.File("one.txt"));
    bool finished = false;
    QObject::connect(&generator, &SupportFileGenerator::CreateProgress,
                     [](float percent, bool& cancel) { cancel = percent > 0.0f; });
    QObject::connect(&generator, &SupportFileGenerator::CreateFinished, [&] { finished = true; });
    EXPECT_EQ(generator.CreateSupportFile(true), 5);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(generator.MadeFile().isEmpty());
}

TEST_F(SupportFileGeneratorTest, UploadPostsTheFileToTheRegisteredAddress)
{
    UploadTestServer server;
    ASSERT_TRUE(server.Start());
    SetUploadUrl(server.Url("/support/upload"));
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());

    QStringList events;
    float lastProgress = -1;
    QObject::connect(&generator, &SupportFileGenerator::UploadStarted,
                     [&] { events << "started"; });
    QObject::connect(&generator, &SupportFileGenerator::UploadFinished,
                     [&] { events << "finished"; });
    QObject::connect(&generator, &SupportFileGenerator::UploadProgress,
                     [&](float percent, bool&) { lastProgress = percent; });
    QString reply;
    EXPECT_EQ(generator.UploadSupportFile(generator.UploadText(), reply), 0);
    EXPECT_EQ(reply.trimmed(), "OK");
    EXPECT_EQ(events, QStringList({"started", "finished"}));
    EXPECT_FLOAT_EQ(lastProgress, 100.0f);

    const auto received = server.Received();
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].Path, "/support/upload");
    EXPECT_TRUE(received[0].Headers.contains("multipart/form-data"));
    const QByteArray made = ReadFile(generator.MadeFile());
    ASSERT_FALSE(made.isEmpty());
    EXPECT_TRUE(received[0].Body.contains(made)); // the whole file, byte for byte
    EXPECT_TRUE(received[0].Body.contains("name=\"file\""));
    EXPECT_TRUE(received[0].Body.contains("pat@station.example"));
    EXPECT_TRUE(received[0].Body.contains("Support ID: [ORV4711]"));
}

TEST_F(SupportFileGeneratorTest, UploadResults)
{
    UploadTestServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    QStringList errors;
    QObject::connect(&generator, &SupportFileGenerator::UploadError,
                     [&](qint32, const QString& description) { errors << description; });
    QString reply;
    auto upload = [&] { return generator.UploadSupportFile(generator.UploadText(), reply); };

    EXPECT_EQ(upload(), 6); // no address
    SetUploadUrl("ftp://127.0.0.1/upload");
    EXPECT_EQ(upload(), 6);
    SetUploadUrl("not an address");
    EXPECT_EQ(upload(), 6);

    qint32 port = 0;
    const int refusing = UploadTestServer::RefusingPort(port);
    ASSERT_GT(port, 0);
    SetUploadUrl(QStringLiteral("http://127.0.0.1:%1/upload").arg(port));
    EXPECT_EQ(upload(), 1);
    UploadTestServer::ClosePort(refusing);

    SetUploadUrl(server.Url("/upload"));
    generator.Person().Email = "not valid";
    EXPECT_EQ(upload(), 9);
    EXPECT_TRUE(server.Received().isEmpty()); // refused before anything was sent
    generator.Person().Email = "pat@station.example";

    SetUploadUrl(server.Url("/email-invalid"));
    EXPECT_EQ(upload(), 9);
    SetUploadUrl(server.Url("/email-blocked"));
    EXPECT_EQ(upload(), 13);
    SetUploadUrl(server.Url("/orvuid-blocked"));
    EXPECT_EQ(upload(), 14);
    EXPECT_TRUE(errors.isEmpty());
    SetUploadUrl(server.Url("/broken"));
    EXPECT_EQ(upload(), 3);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("500")) << errors[0].toStdString();
}

TEST_F(SupportFileGeneratorTest, UploadCanBeStoppedOrDeclinedWhenLarge)
{
    UploadTestServer server;
    ASSERT_TRUE(server.Start());
    SetUploadUrl(server.Url("/upload"));
    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    QString reply;

    bool stop = true;
    QObject::connect(&generator, &SupportFileGenerator::UploadProgress,
                     [&](float, bool& cancel) { cancel = stop; });
    EXPECT_EQ(generator.UploadSupportFile(generator.UploadText(), reply), 5);
    stop = false;

    generator.LargeFileSize = 10;
    QList<quint32> warnings;
    bool decline = true;
    QObject::connect(&generator, &SupportFileGenerator::Warning, [&](quint32 code, bool& cancel) {
        warnings << code;
        cancel = decline;
    });
    const int before = int(server.Received().size());
    EXPECT_EQ(generator.UploadSupportFile(generator.UploadText(), reply), 2);
    EXPECT_EQ(server.Received().size(), before);
    decline = false;
    EXPECT_EQ(generator.UploadSupportFile(generator.UploadText(), reply), 0);
    EXPECT_EQ(warnings, QList<quint32>({0x80040001, 0x80040001}));
}

TEST_F(SupportFileGeneratorTest, SaveCopiesTheFileWhereTheOperatorChose)
{
    const auto saved = SupportFileGenerator::CurrentSaveLocationHook();
    QString proposed;
    QString answer;
    SupportFileGenerator::SetSaveLocationHook([&](const QString& path) {
        proposed = path;
        return answer;
    });
    QStringList events;
    QObject::connect(&generator, &SupportFileGenerator::SaveFinished,
                     [&](const QString& path) { events << "saved " + path; });
    QObject::connect(&generator, &SupportFileGenerator::SaveError,
                     [&](const QString& path, const QString&) { events << "error " + path; });

    generator.SaveSupportFile(); // nothing made yet
    EXPECT_EQ(events, QStringList({"error "}));
    events.clear();

    ASSERT_NO_FATAL_FAILURE(MakeSmallFile());
    generator.SaveSupportFile(); // cancelled
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(proposed.endsWith(QFileInfo(generator.MadeFile()).fileName()));

    answer = home.File("kept/support.zip");
    QDir().mkpath(home.File("kept"));
    generator.SaveSupportFile();
    EXPECT_EQ(events, QStringList({"saved " + answer}));
    EXPECT_EQ(ReadFile(answer), ReadFile(generator.MadeFile()));

    events.clear();
    answer = home.File("no such folder/support.zip");
    generator.SaveSupportFile();
    EXPECT_EQ(events, QStringList({"error " + answer}));
    SupportFileGenerator::SetSaveLocationHook(saved);
}

TEST(SupportFilePersonTest, DetailsAreKeptInTheUsersHiveWhenConfirmed)
{
    TempHome home;
    ScriptedAnswerer answers(
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); });
    const auto saved = SupportFilePerson::CurrentEditorHook();
    SupportFilePerson person;
    qint32 colour = qint32(0x8000000F);

    SupportFilePerson::SetEditorHook({});
    EXPECT_FALSE(person.EditPersonalDetails(true, colour));

    bool confirm = false;
    SupportFilePerson::SetEditorHook([&](SupportFilePerson& edited, bool, qint32) {
        edited.Name = "  Pat\nEngineer ";
        edited.Email = "pat@station.example";
        edited.CustomerID = "C-77";
        return confirm;
    });
    EXPECT_FALSE(person.EditPersonalDetails(true, colour));
    EXPECT_TRUE(person.Email.isEmpty()); // a cancelled editor changes nothing

    confirm = true;
    EXPECT_TRUE(person.EditPersonalDetails(true, colour));
    SupportFilePerson reread;
    reread.Load();
    EXPECT_EQ(reread.Name, "Pat Engineer");
    EXPECT_EQ(reread.Email, "pat@station.example");
    EXPECT_EQ(reread.CustomerID, "C-77");
    EXPECT_EQ(IniFile::ReadString(RegistryFunctions::HiveFile(Hive::CurrentUser),
                                  SupportFilePerson::ContactKey, "Email", ""),
              "pat@station.example");

    // A new generator starts with the stored contact.
    SupportFileGenerator generator;
    EXPECT_EQ(generator.Person().Email, "pat@station.example");
    SupportFilePerson::SetEditorHook(saved);
}
