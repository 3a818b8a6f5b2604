#include "platform/system/MessageBox.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

// Every test program runs offscreen, with HOME and XDG pointed away from the real ones, and
// fails any message box that a test did not script instead of blocking on it.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A death test runs this program again and ends it with _exit, so its temporary folders
    // are made inside the parent's, which the parent removes.
    bool deathTestChild = false;
    for (int i = 1; i < argc; ++i) {
        deathTestChild = deathTestChild || std::strstr(argv[i], "internal_run_death_test");
    }
    if (deathTestChild && qEnvironmentVariableIsSet("CARTFEEDER_TEST_TMPDIR")) {
        qputenv("TMPDIR", qgetenv("CARTFEEDER_TEST_TMPDIR"));
    }
    TempHome home;
    if (!deathTestChild) {
        qputenv("CARTFEEDER_TEST_TMPDIR", QFile::encodeName(home.Path()));
    }
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    MessageBox::SetHandler([](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.Prompt.toStdString();
        return request.DefaultAnswer();
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
