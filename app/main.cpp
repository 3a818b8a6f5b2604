#include "platform/cartstore/widgets/CartvaultSettingsDialog.h"
#include "platform/directory/widgets/DirectorySettingsDialog.h"
#include "platform/profiles/widgets/FileLocationsDialog.h"
#include "platform/profiles/widgets/ProfileChooserDialog.h"
#include "platform/support/widgets/ContactDialog.h"
#include "platform/system/widgets/ProgressDialogFactory.h"
#include "platform/system/widgets/QtMessageBoxHandler.h"
#include "ui/ProgramIcon.h"
#include "ui/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    app.setApplicationVersion(QStringLiteral(CARTFEEDER_VERSION));
    app.setOrganizationName("Orvane");
    app.setWindowIcon(ProgramIcon::Icon());
    // The program ends with its main window, which may be hidden in the tray while other
    // windows close.
    app.setQuitOnLastWindowClosed(false);

    QtMessageBoxHandler::Install();
    ProgressDialogFactory::Install();
    ProfileChooserDialog::Install();
    CartvaultSettingsDialog::Install();
    DirectorySettingsDialog::Install();
    FileLocationsDialog::Install();
    ContactDialog::Install();

    frmMain window;
    QObject::connect(&window, &frmMain::Unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!window.Load()) {
        return 1;
    }
    return app.exec();
}
