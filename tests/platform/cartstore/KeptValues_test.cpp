// Values the store and the platform keep in memory between calls: whatever changes, in this
// process or another, must show.
#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/DecodedAudio.h"
#include "platform/cartstore/FfmpegAudioReader.h"
#include "platform/directory/CartRights.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/directory/UserDirectory.h"
#include "platform/system/FileFunctions.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the statements in a child process with a connection of its own, as another program
// using the same database would.
bool ChangeInAnotherProcess(const QString& database, const QByteArray& sql)
{
    const QByteArray path = QFile::encodeName(database);
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
        ::_exit(rc == SQLITE_OK ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Another process's commit shows once the store asks the database again.
void LetTheStoreAskAgain()
{
    QThread::msleep(CartDatabase::ForeignChangeDelayMs + 30);
}

void SetTimes(const QString& path, qint64 secondsAgo)
{
    const timespec when{::time(nullptr) - secondsAgo, 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

QByteArray Hash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1)
               : QByteArray();
}

class KeptValuesTest : public ::testing::Test
{
protected:
    bool Import(CartStore& into, const QString& cart, const QString& file)
    {
        bool f1 = false, f2 = true;
        return into.ImportAudioFile(nullptr, cart, file, 0x24, -1, f1, 0, -1, f2);
    }

    TempHome home;
};

} // namespace

TEST_F(KeptValuesTest, TheStoresSettingsAndRowsFollowChangesOfAnyProcess)
{
    CartStore store(home.File("store"));
    EXPECT_FALSE(store.IsValidCart("150000"));
    EXPECT_EQ(store.GetLastCart(0), "99999");

    // Another program raises the highest cart.
    ASSERT_TRUE(ChangeInAnotherProcess(
        store.DatabasePath(),
        "INSERT OR REPLACE INTO settings (name, value) VALUES ('HighestCart', '250000')"));
    LetTheStoreAskAgain();
    EXPECT_TRUE(store.IsValidCart("150000"));
    EXPECT_EQ(store.GetLastCart(0), "250000");
    EXPECT_EQ(QFileInfo(store.GetCart("12", 3, true)->AudioFilePath).fileName(), "000012.wav");

    // Our own change shows at once.
    auto* settings = static_cast<CartStoreSettings*>(store.GetCartvaultSettings());
    ASSERT_TRUE(settings->setHighestCart(120000));
    EXPECT_FALSE(store.IsValidCart("150000"));
    EXPECT_EQ(settings->HighestCart(), 120000);

    // Rows read together for a walk over a range.
    const QString jingle = home.File("7 Jingle.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(jingle, 1.0, 8000, 1));
    ASSERT_TRUE(Import(store, "7", jingle));
    store.ReadRangeTogether("1", "100");
    EXPECT_EQ(store.GetCart("7", 3, true)->Title, "Jingle");
    EXPECT_EQ(store.GetCart("8", 3, true)->Length, 0.0f);

    ASSERT_TRUE(ChangeInAnotherProcess(store.DatabasePath(),
                                       "UPDATE carts SET title = 'Renamed «Été» 🎵',"
                                       " artist = 'Zoë' WHERE number = 7;"
                                       "INSERT INTO carts (number, title, length) "
                                       "VALUES (8, 'Eight', 2.5)"));
    LetTheStoreAskAgain();
    EXPECT_EQ(store.GetCart("7", 3, true)->Title, "Renamed «Été» 🎵");
    EXPECT_EQ(store.GetCart("8", 3, true)->Length, 2.5f);

    // Our own save and import, during the same walk.
    store.ReadRangeTogether("1", "100");
    EXPECT_EQ(store.GetCart("7", 3, true)->Title, "Renamed «Été» 🎵");
    EXPECT_EQ(store.GetCart("7", 3, true)->Artist, "Zoë");
    EXPECT_EQ(store.GetCart("8", 3, true)->Title, "Eight");
    Cart seven = *store.GetCart("7", 3, true);
    seven.Title = "Ours";
    bool flag = true;
    ASSERT_EQ(store.SaveCart("7", seven, 3, false, false, flag), 0);
    EXPECT_EQ(store.GetCart("7", 3, true)->Title, "Ours");
    ASSERT_TRUE(Import(store, "9", jingle));
    EXPECT_GT(store.GetCart("9", 3, true)->Length, 0.0f);
    EXPECT_EQ(store.GetCartAudioPath("9", 0, false), store.AudioFolder() + "/000009.wav");
    store.ReadRangeTogether({}, {});
}

TEST_F(KeptValuesTest, TheUsersRightsFollowChangesOfAnotherProcess)
{
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    const auto mayEdit = [&](qint32 cart) {
        const auto user = directory.CurrentUser();
        return user && user->GetCartRights()->MayEdit(cart);
    };
    EXPECT_TRUE(mayEdit(500));

    ASSERT_TRUE(ChangeInAnotherProcess(directory.DatabasePath(),
                                       "INSERT INTO cart_ranges (user_guid, first_cart, last_cart) "
                                       "SELECT guid, 1000, 1999 FROM users WHERE login_name = '" +
                                           UserDirectory::OsLoginName().toUtf8() + "'"));
    LetTheStoreAskAgain();
    EXPECT_FALSE(mayEdit(500));
    EXPECT_TRUE(mayEdit(1500));

    // Ours at once.
    QList<DirectoryUserEntry> users = directory.ReadUsers();
    ASSERT_EQ(users.size(), 1);
    users[0].Ranges = {{1, 600}};
    const Result<> written = directory.WriteUsers(users);
    ASSERT_TRUE(written) << written.Reason().toStdString();
    EXPECT_TRUE(mayEdit(500));
    EXPECT_FALSE(mayEdit(1500));
}

TEST_F(KeptValuesTest, AChangedFileIsMeasuredAgain)
{
    AudioDecoder::setCacheFolder(home.File("lengths"));
    const QString file = home.File("a.wav");
    const QString other = home.File("b.wav");
    // The same size: one second at 8 kHz, or half a second at 16 kHz.
    ASSERT_TRUE(AudioFixtures::WriteSineWav(file, 1.0, 8000, 1));
    ASSERT_TRUE(AudioFixtures::WriteSineWav(other, 0.5, 16000, 1));
    ASSERT_EQ(QFileInfo(file).size(), QFileInfo(other).size());
    SetTimes(file, 100);
    const auto measure = [&] {
        AudioDecoder decoder;
        decoder.OpenFile(file);
        return decoder.DurationMs();
    };
    EXPECT_DOUBLE_EQ(measure(), 1000.0);
    EXPECT_DOUBLE_EQ(measure(), 1000.0);

    // Rewritten in place, same size, another time.
    {
        QFile source(other);
        QFile target(file);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        ASSERT_TRUE(target.open(QIODevice::ReadWrite));
        ASSERT_EQ(target.write(source.readAll()), source.size());
    }
    SetTimes(file, 50);
    EXPECT_DOUBLE_EQ(measure(), 500.0);

    // Replaced by another file of the same size and time.
    const QString third = home.File("c.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(third, 1.0, 8000, 1));
    SetTimes(third, 50);
    ASSERT_EQ(::rename(QFile::encodeName(third).constData(), QFile::encodeName(file).constData()),
              0);
    EXPECT_DOUBLE_EQ(measure(), 1000.0);
    AudioDecoder::setCacheFolder(QString());
}

TEST_F(KeptValuesTest, CompanionNamesFollowTheFolder)
{
    const QString folder = home.File("drop");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"Promo.wav", "promo.TXT", "Promotion.wav", "Promo", ".Promo.x", "b"}) {
        ASSERT_TRUE(QFile(folder + "/" + name).open(QIODevice::WriteOnly));
    }
    SetTimes(folder, 3600);
    FileFunctions& files = FileFunctions::instance();
    // FindFirst's order.
    const QStringList first = {"Promo", "promo.TXT", "Promo.wav", "Promotion.wav"};
    EXPECT_EQ(files.NamesStartingWith(folder, "PROMO"), first);
    EXPECT_EQ(files.NamesStartingWith(folder + "/", "promo"), first);
    EXPECT_EQ(files.NamesStartingWith(folder, ".p"), QStringList{".Promo.x"});
    EXPECT_TRUE(files.NamesStartingWith(folder, "c").isEmpty());

    // A companion copied in after the folder was listed, even when the folder's time is put
    // back as it was.
    ASSERT_TRUE(QFile(folder + "/PROMO.jpg").open(QIODevice::WriteOnly));
    SetTimes(folder, 3600);
    EXPECT_EQ(files.NamesStartingWith(folder, "promo."),
              QStringList({"PROMO.jpg", "promo.TXT", "Promo.wav"}));
    ASSERT_TRUE(QFile::remove(folder + "/promo.TXT"));
    EXPECT_EQ(files.NamesStartingWith(folder, "promo."), QStringList({"PROMO.jpg", "Promo.wav"}));

    // Another folder in its place.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile(folder + "/Promo.mp3").open(QIODevice::WriteOnly));
    EXPECT_EQ(files.NamesStartingWith(folder, "promo"), QStringList{"Promo.mp3"});
    EXPECT_TRUE(files.NamesStartingWith(home.File("missing"), "promo").isEmpty());
}

TEST_F(KeptValuesTest, AFileMeasuredBeforeItsImportIsStoredAsAFullDecodeGivesIt)
{
    REQUIRE_FFMPEG();
    AudioDecoder::setCacheFolder(home.File("lengths"));
    const QString wav = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 2.3, 44100, 2));
    const QString mp3 = home.File("20 Song.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(wav, mp3, {"-metadata", "title=Song Title"}));
    const QString copy = home.File("21 Song.mp3");
    ASSERT_TRUE(QFile::copy(mp3, copy));
    FfmpegAudioReader reader;
    ASSERT_TRUE(reader.Open(mp3));
    ASSERT_TRUE(reader.Decode([](const qint16*, int) { return true; }));
    const double fullDecodeMs = reader.DurationMs();

    CartStore store(home.File("store"));
    {
        const DecodedAudio::KeepScope keep;
        AudioDecoder decoder;
        decoder.OpenFile(mp3);
        EXPECT_DOUBLE_EQ(decoder.DurationMs(), fullDecodeMs);
        ASSERT_TRUE(Import(store, "20", mp3));
    }
    // The same file imported without a measurement before it.
    ASSERT_TRUE(Import(store, "21", copy));
    const Cart measured = *store.GetCart("20", 0xFFFF, false);
    const Cart plain = *store.GetCart("21", 0xFFFF, false);
    EXPECT_FLOAT_EQ(measured.Length, float(fullDecodeMs / 1000.0));
    EXPECT_EQ(measured.Length, plain.Length);
    EXPECT_EQ(measured.Title, "Song Title");
    EXPECT_EQ(Hash(measured.AudioFilePath), Hash(plain.AudioFilePath));

    // A file replaced between its measurement and its import is imported as it is now.
    const QString shorter = home.File("short.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(shorter, 1.0, 22050, 1));
    const QString changing = home.File("22 Song.mp3");
    ASSERT_TRUE(QFile::copy(mp3, changing));
    {
        const DecodedAudio::KeepScope keep;
        AudioDecoder decoder;
        decoder.OpenFile(changing);
        ASSERT_TRUE(QFile::remove(changing));
        ASSERT_TRUE(AudioFixtures::Encode(shorter, changing));
        ASSERT_TRUE(Import(store, "22", changing));
    }
    const Cart replaced = *store.GetCart("22", 0xFFFF, false);
    EXPECT_NEAR(replaced.Length, 1.0, 0.1);
    EXPECT_EQ(AudioFixtures::WavSampleRate(replaced.AudioFilePath), 22050);

    // Nothing is kept past the decision.
    {
        const DecodedAudio::KeepScope keep;
        AudioDecoder decoder;
        ASSERT_TRUE(QFile::copy(mp3, home.File("23 Song.mp3")));
        decoder.OpenFile(home.File("23 Song.mp3"));
    }
    EXPECT_FALSE(DecodedAudio::Take(home.File("23 Song.mp3")));
    AudioDecoder::setCacheFolder(QString());
}
