#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/IAudioCallback.h"
#include "platform/directory/UserDirectory.h"
#include "platform/profiles/PlayoutProfile.h"
#include "platform/profiles/ProfileAudioSettings.h"
#include "platform/profiles/ProfileCartStore.h"
#include "platform/profiles/ProfileStore.h"
#include "platform/profiles/widgets/FileLocationsDialog.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/ToolError.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void OnFileLocations(const std::function<void(FileLocationsDialog*)>& action)
{
    QTimer::singleShot(0, [action] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<FileLocationsDialog*>(w);
                dialog && dialog->isVisible()) {
                action(dialog);
                return;
            }
        }
        ADD_FAILURE() << "the file-locations dialog was not shown";
    });
}

class PlayoutProfileTest : public ::testing::Test
{
protected:
    void SetUp() override { PlayoutProfile::SetFileLocationsHook(nullptr); }
    void TearDown() override { PlayoutProfile::SetFileLocationsHook(nullptr); }

    TempHome home;
};

} // namespace

TEST_F(PlayoutProfileTest, OpenProfileCreatesANewProfileAndItsStore)
{
    PlayoutProfile playout;
    PlayoutAudio* audio = playout.Audio();
    ASSERT_NE(audio, nullptr);
    EXPECT_FALSE(playout.Start(qApp, 256)); // nothing open yet
    EXPECT_EQ(audio->BaseFolder(), "");
    EXPECT_THROW(audio->IsValidCart("1"), ToolError);
    ProfileAudioSettings settings;
    audio->setAudioSettings(&settings); // start-up does this before the profile is opened

    EXPECT_EQ(playout.OpenProfile("Missing", 256, false), 0);
    EXPECT_FALSE(ProfileStore::Find("Missing").has_value());
    EXPECT_EQ(playout.OpenProfile("a/b", 256, true), 0);

    EXPECT_NE(playout.OpenProfile("Profile1", 256, true), 0);
    EXPECT_EQ(ProfileStore::Profiles(), QStringList{"Profile1"});
    EXPECT_TRUE(playout.Start(qApp, 256));
    EXPECT_EQ(playout.Audio(), audio);
    EXPECT_EQ(audio->BaseFolder(), CartStore::DefaultBaseFolder());
    EXPECT_EQ(CartStore::DefaultBaseFolder(), home.File("home/.local/share/Orvane/Cartvault v3"));
    EXPECT_TRUE(QFileInfo::exists(CartStore::DefaultBaseFolder() + "/cartvault.db"));
    EXPECT_EQ(audio->AudioSettings(), &settings);
    EXPECT_TRUE(audio->IsValidCart("1234"));

    // Same profile in another case: the stored spelling names it.
    EXPECT_NE(playout.OpenProfile("PROFILE1", 256, false), 0);
    EXPECT_EQ(playout.ProfileName(), "Profile1");
}

// The share holding the store is not mounted when the program starts: neither its empty mount
// point, nor no folder at all, nor another store's folder becomes the profile's store.
TEST_F(PlayoutProfileTest, AProfilesStoreIsNeverMadeAgainWhereItIsMissing)
{
    const QString base = CartStore::DefaultBaseFolder();
    {
        PlayoutProfile first;
        ASSERT_NE(first.OpenProfile("Studio", 256, true), 0);
        EXPECT_EQ(ProfileStore::ReadValue("Studio", ProfileStore::StoreIdValue, ""),
                  CartStore::ReadMarker(base));
    }
    ASSERT_TRUE(QDir().rename(base, base + ".unmounted"));
    const QString other = home.File("other");
    {
        CartStore foreign(other);
    }
    const QString reason = "The cart store's base folder " + base +
                           " is missing, empty or holds another cart store: is its disk mounted?";
    const auto refused = [&](const char* situation) {
        SCOPED_TRACE(situation);
        ScriptedAnswerer answers;
        answers.Expect(MsgBoxResult::OK);
        PlayoutProfile playout;
        EXPECT_EQ(playout.OpenProfile("Studio", 256, true), 0);
        ASSERT_EQ(answers.Shown().size(), 1);
        EXPECT_TRUE(answers.Shown()[0].Prompt.endsWith(reason))
            << answers.Shown()[0].Prompt.toStdString();
    };
    refused("no folder");
    // Confirming the folder it has in File Locations changes nothing.
    ASSERT_TRUE(PlayoutProfile::SetBaseFolder("Studio", base));
    refused("the same folder confirmed");
    EXPECT_FALSE(QFileInfo::exists(base));
    ASSERT_TRUE(QDir().mkpath(base));
    refused("an empty mount point");
    EXPECT_TRUE(QDir(base).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    ASSERT_TRUE(QDir().rmdir(base));
    ASSERT_TRUE(QDir().rename(other, base));
    refused("another store's folder");
    ASSERT_TRUE(QDir(base).removeRecursively());

    // A base folder chosen anew may be made; so may a new profile's.
    ASSERT_TRUE(PlayoutProfile::SetBaseFolder("Studio", home.File("chosen")));
    PlayoutProfile playout;
    EXPECT_NE(playout.OpenProfile("Studio", 256, false), 0);
    EXPECT_NE(playout.OpenProfile("Fresh", 256, true), 0);
    EXPECT_TRUE(QFileInfo::exists(base + "/cartvault.db"));
    ASSERT_TRUE(QDir(base).removeRecursively());
    ASSERT_TRUE(QDir().rename(base + ".unmounted", base));
    ASSERT_TRUE(PlayoutProfile::SetBaseFolder("Studio", base));
    EXPECT_NE(playout.OpenProfile("Studio", 256, false), 0);

    // A profile of an earlier build kept no identity, but one whose base folder was moved has
    // opened a store there: an empty mount point is no place for a new one.
    const QString moved = home.File("moved");
    ASSERT_TRUE(PlayoutProfile::SetBaseFolder("Studio", moved));
    ASSERT_NE(playout.OpenProfile("Studio", 256, false), 0);
    ASSERT_TRUE(ProfileStore::WriteValue("Studio", ProfileStore::StoreIdValue, QString()));
    ASSERT_TRUE(QDir().rename(moved, moved + ".unmounted"));
    ASSERT_TRUE(QDir().mkpath(moved));
    {
        ScriptedAnswerer answers;
        answers.Expect(MsgBoxResult::OK);
        PlayoutProfile older;
        EXPECT_EQ(older.OpenProfile("Studio", 256, false), 0);
        EXPECT_TRUE(QDir(moved).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
    ASSERT_TRUE(QDir().rmdir(moved));
    ASSERT_TRUE(QDir().rename(moved + ".unmounted", moved));
    PlayoutProfile older;
    EXPECT_NE(older.OpenProfile("Studio", 256, false), 0);
    EXPECT_EQ(ProfileStore::ReadValue("Studio", ProfileStore::StoreIdValue, ""),
              CartStore::ReadMarker(moved));
}

TEST_F(PlayoutProfileTest, FileLocationsMoveTheStoreOnReload)
{
    PlayoutProfile playout;
    EXPECT_EQ(playout.ShowFileLocations(256, true, 0x8000000F), 0); // no profile open
    ASSERT_NE(playout.OpenProfile("Studio", 256, true), 0);
    EXPECT_EQ(playout.ShowFileLocations(256, true, 0x8000000F), 0); // no dialog installed

    struct Sink : IAudioCallback
    {
        void Callback(qint32, const QString&, const QString&, const QString&, bool&) override {}
        void HardDiskItemsFound(QObject*, bool&) override {}
        void Progress(const QString&, float, bool&) override {}
        void Progress2(qint32, const QString&, float, bool&) override {}
        void ProgressStart(qint32, const QString&, bool, bool&) override {}
        void ProgressEnd(qint32, const QString&, bool) override {}
    } sink;
    PlayoutAudio* audio = playout.Audio();
    audio->RegisterCallback(&sink);

    FileLocationsDialog::Install();
    const QString moved = home.File("elsewhere/vault");
    OnFileLocations([](FileLocationsDialog* d) { d->reject(); });
    EXPECT_EQ(playout.ShowFileLocations(256, true, 0x8000000F), 0);

    OnFileLocations([moved](FileLocationsDialog* d) {
        EXPECT_EQ(d->BaseFolderEdit()->text(), CartStore::DefaultBaseFolder());
        // A share's folder path shows whole.
        const QString share = "/mnt/studio-share/Orvane/Cartvault v3/Station Two/Carts";
        const QLineEdit* box = d->BaseFolderEdit();
        EXPECT_GT(box->width(), box->fontMetrics().horizontalAdvance(share) + 12) << box->width();
        d->BaseFolderEdit()->setText(moved);
        d->accept();
    });
    EXPECT_NE(playout.ShowFileLocations(256, true, 0x8000000F), 0);
    EXPECT_EQ(audio->BaseFolder(), CartStore::DefaultBaseFolder()); // until reloaded
    EXPECT_NE(playout.ReloadProfile("Studio", 256), 0);
    EXPECT_EQ(playout.Audio(), audio);
    EXPECT_EQ(audio->BaseFolder(), moved);
    EXPECT_TRUE(QFileInfo::exists(moved + "/cartvault.db"));
    EXPECT_EQ(PlayoutProfile::BaseFolderOf("Studio"), moved);

    // Another program (a new object) opens the profile where it was moved to.
    PlayoutProfile other;
    ASSERT_NE(other.OpenProfile("studio", 256, false), 0);
    EXPECT_EQ(other.Audio()->BaseFolder(), moved);

    // The default button goes back; the default is stored as no value.
    OnFileLocations([](FileLocationsDialog* d) {
        d->DefaultButton()->click();
        d->accept();
    });
    EXPECT_NE(playout.ShowFileLocations(256, true, 0x8000000F), 0);
    EXPECT_EQ(ProfileStore::ReadValue("Studio", ProfileStore::BaseFolderValue, "none"), "none");
    EXPECT_NE(playout.ReloadProfile("Studio", 256), 0);
    EXPECT_EQ(audio->BaseFolder(), CartStore::DefaultBaseFolder());
    audio->UnregisterCallback(&sink);
}

TEST_F(PlayoutProfileTest, FileLocationsDialogRefusesARelativeFolder)
{
    PlayoutProfile playout;
    ASSERT_NE(playout.OpenProfile("Studio", 256, true), 0);
    FileLocationsDialog::Install();
    ScriptedAnswerer answerer([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    });
    answerer.Expect(MsgBoxResult::OK);
    OnFileLocations([](FileLocationsDialog* d) {
        d->BaseFolderEdit()->setText("relative/vault");
        d->accept();
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    EXPECT_EQ(playout.ShowFileLocations(256, true, 0x8000000F), 0);
    EXPECT_EQ(answerer.Shown().size(), 1);
    // A hand-edited relative value is not used either.
    ASSERT_TRUE(ProfileStore::WriteValue("Studio", ProfileStore::BaseFolderValue, "rel"));
    EXPECT_EQ(PlayoutProfile::BaseFolderOf("Studio"), CartStore::DefaultBaseFolder());
}

TEST_F(PlayoutProfileTest, ComponentTextAndFileListsNameExistingConfiguration)
{
    PlayoutProfile playout;
    EXPECT_EQ(playout.GetComponentText(1), "");
    EXPECT_TRUE(playout.GetFileList(256).isEmpty());
    ASSERT_NE(playout.OpenProfile("Studio", 256, true), 0);
    EXPECT_TRUE(playout.GetComponentText(1).contains("Studio"));
    EXPECT_EQ(playout.GetComponentText(256), "");

    // The registry file exists (the profile is in it); the directory does not yet.
    EXPECT_EQ(playout.GetFileList(1), QStringList{RegistryFunctions::HiveFile(Hive::CurrentUser)});
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    EXPECT_EQ(playout.GetFileList(1), (QStringList{RegistryFunctions::HiveFile(Hive::CurrentUser),
                                                   UserDirectory::DefaultDatabasePath()}));
    const QStringList store = playout.GetFileList(256);
    ASSERT_FALSE(store.isEmpty());
    EXPECT_EQ(store.first(), CartStore::DefaultBaseFolder() + "/cartvault.db");
    for (const QString& file : store) {
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    }
    EXPECT_TRUE(playout.GetFileList(2).isEmpty());
}
