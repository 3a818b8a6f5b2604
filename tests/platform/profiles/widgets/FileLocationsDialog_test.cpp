#include "platform/profiles/widgets/FileLocationsDialog.h"
#include "tests/support/TempHome.h"

#include <QFileInfo>
#include <QLineEdit>
#include <gtest/gtest.h>

// The folder the profile has, confirmed while it is missing (a share that is not mounted), is
// not made: its empty mount point must not pass for the store's folder. A new one is made.
TEST(FileLocationsDialogTest, OnlyANewFolderIsMade)
{
    TempHome home;
    const QString current = home.File("share/Cartvault v3");
    for (const QString& typed : {current, current + "/"}) {
        FileLocationsDialog dialog({"Test", current, home.File("default"), 0});
        dialog.BaseFolderEdit()->setText(typed);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(QFileInfo::exists(home.File("share")));
    }
    FileLocationsDialog dialog({"Test", current, home.File("default"), 0});
    dialog.BaseFolderEdit()->setText(home.File("elsewhere"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(home.File("elsewhere")).isDir());
}
