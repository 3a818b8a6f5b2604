#include "platform/profiles/ProfileAudioSettings.h"
#include "platform/profiles/ProfileChooser.h"
#include "platform/profiles/ProfileStore.h"
#include "platform/profiles/widgets/ProfileChooserDialog.h"
#include "platform/system/IniFile.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QString kKey = "Software\\Orvane\\Corvella v3\\Profiles";

void OnChooser(const std::function<void(ProfileChooserDialog*)>& action)
{
    QTimer::singleShot(0, [action] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<ProfileChooserDialog*>(w);
                dialog && dialog->isVisible()) {
                action(dialog);
                return;
            }
        }
        ADD_FAILURE() << "the profile chooser was not shown";
    });
}

void WriteRegistry(const QString& key, const QString& value, const QString& data)
{
    ASSERT_TRUE(
        IniFile::WriteString(RegistryFunctions::HiveFile(Hive::CurrentUser), key, value, data));
}

class ProfileChooserTest : public ::testing::Test
{
protected:
    void SetUp() override { ProfileChooser::SetDialogHook(nullptr); }
    void TearDown() override { ProfileChooser::SetDialogHook(nullptr); }

    TempHome home;
};

} // namespace

TEST_F(ProfileChooserTest, ProfilesAreTheDirectSubKeysOfTheKey)
{
    EXPECT_TRUE(ProfileStore::Profiles(kKey).isEmpty()); // no registry file yet
    WriteRegistry(kKey + "\\Studio B", "Name", "Studio B");
    WriteRegistry(kKey + "\\Studio B\\Audio", "Level", "3"); // deeper: not a profile
    WriteRegistry("SOFTWARE\\ORVANE\\CORVELLA V3\\PROFILES\\alpha", "Name", "alpha");
    WriteRegistry("Software\\Orvane\\Corvella v3\\Tools", "LastProfile", "x");
    WriteRegistry(kKey + "Extra\\Other", "Name", "Other"); // a sibling key, not below ours
    EXPECT_EQ(ProfileStore::Profiles(kKey), (QStringList{"alpha", "Studio B"}));
    EXPECT_EQ(ProfileStore::Find("studio b", kKey), QString("Studio B"));
    EXPECT_FALSE(ProfileStore::Find("Studio", kKey).has_value());

    EXPECT_TRUE(ProfileStore::Create("Night", kKey));
    EXPECT_TRUE(ProfileStore::Create("NIGHT", kKey)); // already there
    EXPECT_EQ(ProfileStore::Profiles(kKey), (QStringList{"alpha", "Night", "Studio B"}));
    for (const QString bad : {"", " Padded", "a/b", "a\\b", "[x]", "..", "tab\there"}) {
        EXPECT_FALSE(ProfileStore::IsValidName(bad)) << bad.toStdString();
        EXPECT_FALSE(ProfileStore::Create(bad, kKey)) << bad.toStdString();
    }
}

TEST_F(ProfileChooserTest, SuggestedProfileIsOfferedFirstEvenWhenNew)
{
    WriteRegistry(kKey + "\\Alpha", "Name", "Alpha");
    WriteRegistry(kKey + "\\Zulu", "Name", "Zulu");
    EXPECT_EQ(ProfileChooser::OfferedProfiles(kKey, "zulu"), (QStringList{"Zulu", "Alpha"}));
    EXPECT_EQ(ProfileChooser::OfferedProfiles(kKey, "Profile1"),
              (QStringList{"Profile1", "Alpha", "Zulu"}));
    EXPECT_EQ(ProfileChooser::OfferedProfiles(kKey, ""), (QStringList{"Alpha", "Zulu"}));
}

TEST_F(ProfileChooserTest, WithoutADialogNothingIsChosen)
{
    ProfileChooser chooser;
    chooser.setSuggestedProfile("Profile1");
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "");
}

TEST_F(ProfileChooserTest, DialogChoosesTypesAndCancels)
{
    WriteRegistry(kKey + "\\Alpha", "Name", "Alpha");
    ProfileChooserDialog::Install();
    ProfileChooser chooser;
    chooser.setSuggestedProfile("Profile1");

    OnChooser([](ProfileChooserDialog* d) {
        ASSERT_EQ(d->ProfileList()->count(), 2);
        EXPECT_EQ(d->ProfileList()->item(0)->text(), "Profile1");
        EXPECT_EQ(d->NameEdit()->text(), "Profile1");
        d->ProfileList()->setCurrentRow(1);
        d->accept();
    });
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "Alpha");

    // A typed name that only differs in case is the stored profile.
    OnChooser([](ProfileChooserDialog* d) {
        d->NameEdit()->setText("  ALPHA ");
        d->accept();
    });
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "Alpha");

    OnChooser([](ProfileChooserDialog* d) {
        d->NameEdit()->setText("Morning Show");
        d->accept();
    });
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "Morning Show");

    OnChooser([](ProfileChooserDialog* d) { d->reject(); });
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "");
}

TEST_F(ProfileChooserTest, DialogRefusesANameThatCannotBeAProfile)
{
    ProfileChooserDialog::Install();
    ScriptedAnswerer answerer([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    });
    answerer.Expect(MsgBoxResult::OK);
    OnChooser([](ProfileChooserDialog* d) {
        d->NameEdit()->setText("../escape");
        d->accept();
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    ProfileChooser chooser;
    EXPECT_EQ(chooser.ChooseProfile(kKey, nullptr), "");
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_EQ(answerer.Shown()[0].Icon(), MsgBoxStyle::Exclamation);
}

TEST_F(ProfileChooserTest, AudioSettingsComeFromTheProfileAndOverridesAreNotStored)
{
    ProfileAudioSettings settings;
    EXPECT_FALSE(settings.LoadProfile("Missing"));
    EXPECT_EQ(settings.NumberPlayers(), ProfileAudioSettings::DefaultNumberPlayers);
    EXPECT_TRUE(settings.SharesPlayerSetting());

    WriteRegistry(kKey + "\\Studio", "NumberPlayers", "6");
    WriteRegistry(kKey + "\\Studio", "PlayerSetting", "card=1;mix=stereo");
    WriteRegistry(kKey + "\\Studio", "SharesPlayerSetting", "0");
    EXPECT_TRUE(settings.LoadProfile("Studio"));
    EXPECT_EQ(settings.NumberPlayers(), 6);
    EXPECT_FALSE(settings.SharesPlayerSetting());
    EXPECT_EQ(settings.GetPlayerSetting()->Value(), "card=1;mix=stereo");

    settings.setNumberPlayers(3);
    settings.GetPlayerSetting()->setValue("other");
    ProfileAudioSettings again;
    again.LoadProfile("Studio");
    EXPECT_EQ(again.NumberPlayers(), 6);
    EXPECT_EQ(again.GetPlayerSetting()->Value(), "card=1;mix=stereo");

    WriteRegistry(kKey + "\\Studio", "NumberPlayers", "70000");
    again.LoadProfile("Studio");
    EXPECT_EQ(again.NumberPlayers(), ProfileAudioSettings::DefaultNumberPlayers);
}
