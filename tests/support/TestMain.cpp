#include "platform/system/MessageBox.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <gtest/gtest.h>

// Every test program runs offscreen, with HOME and XDG pointed away from the real ones, and
// fails any message box that a test did not script instead of blocking on it.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TempHome home;
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    MessageBox::SetHandler([](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.Prompt.toStdString();
        return request.DefaultAnswer();
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
