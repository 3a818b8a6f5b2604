#include "framework/widgets/FolderBrowser.h"

#include "platform/system/FileFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

// Qt's own folder dialog, with the typed-folder check routed through the callback before Qt's
// own "Directory not found" warning could appear.
class FolderPickerDialog : public QFileDialog
{
public:
    FolderPickerDialog(QWidget* parent, BrowseCallbackProc callback, bool validate)
        : QFileDialog(parent), m_callback(callback), m_validate(validate)
    {}

    QString CreatedFolder() const { return m_createdFolder; }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (m_validate && !chosen.isEmpty() && !QFileInfo::exists(chosen.first())) {
            const QString folder = chosen.first();
            if (m_callback(this, BrowseMessage::ValidateFailed, folder) != 0 ||
                !QFileInfo(folder).isDir()) {
                return;
            }
            m_createdFolder = folder;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

private:
    BrowseCallbackProc m_callback;
    bool m_validate;
    QString m_createdFolder;
};

} // namespace

QString BrowseForFolder(QWidget* ownerWindow, const QString& title, const QString& startPath,
                        qint32 flags, BrowseCallbackProc callback)
{
    if (flags == -1) {
        flags = BrowseFlags::Default;
    }
    if (flags & BrowseFlags::EditBox) {
        flags |= BrowseFlags::Validate;
    }
    flags |= BrowseFlags::ReturnOnlyFileSystemFolders;

    BrowseStartPath = startPath;
    if (!callback) {
        callback = &BrowseForFolderCallback;
    }

    FolderPickerDialog dialog(ownerWindow, callback, flags & BrowseFlags::Validate);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!title.isEmpty()) {
        dialog.setWindowTitle(title);
    }
    callback(&dialog, BrowseMessage::Initialized, QString());
    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog,
                     [&dialog, callback](const QString& path) {
                         callback(&dialog, BrowseMessage::SelectionChanged, path);
                     });

    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    QString folder = dialog.CreatedFolder();
    if (folder.isEmpty()) {
        folder = dialog.selectedFiles().value(0);
    }
    return folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

qint32 BrowseForFolderCallback(QFileDialog* dialog, qint32 message, const QString& param)
{
    switch (message) {
    case BrowseMessage::Initialized:
        if (dialog) {
            dialog->setDirectory(BrowseStartPath.isEmpty() ? PlatformPaths::Home()
                                                           : BrowseStartPath);
        }
        return 0;
    case BrowseMessage::ValidateFailed: {
        const QString prompt = QStringLiteral("The folder '") + param +
                               QStringLiteral("' cannot be found") + QStringLiteral("\n\n") +
                               QStringLiteral("Do you want it to be created for you?");
        if (MessageBox::Show(prompt, MsgBoxStyle::YesNo | MsgBoxStyle::Question) !=
            MsgBoxResult::Yes) {
            return 1;
        }
        bool created = false;
        try {
            created = FileFunctions::instance().CreateFolder(param, 0);
        } catch (...) {
            // A folder that cannot be made keeps the picker open without a word.
        }
        if (!created) {
            return 1;
        }
        if (dialog) {
            dialog->setDirectory(param);
        }
        return 0;
    }
    default:
        // The folder dialog has no status line to show the selection in.
        return 0;
    }
}
