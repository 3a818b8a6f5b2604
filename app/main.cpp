#include "framework/widgets/ToolsCommon.h"
#include "framework/widgets/frmSplash.h"
#include "platform/widgets/ProfileChooserDialog.h"
#include "platform/widgets/QtMessageBoxHandler.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    app.setApplicationVersion("0.1.0");
    app.setOrganizationName("Orvane");
    QtMessageBoxHandler::Install();
    ProfileChooserDialog::Install();

    QString forcedProfile;
    qint32 playoutFlags = 256;
    if (!InitialiseTool("Cartfeeder", 1, true, forcedProfile, playoutFlags)) {
        frmSplash::Unload();
        TerminateTool();
        return 1;
    }

    // Stands in for the main window until it exists.
    QMainWindow window;
    window.setWindowTitle("Cartfeeder");
    window.resize(640, 400);
    window.show();
    frmSplash::Unload();

    const int result = app.exec();
    TerminateTool();
    return result;
}
