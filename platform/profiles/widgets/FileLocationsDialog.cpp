#include "platform/profiles/widgets/FileLocationsDialog.h"

#include "platform/system/MessageBox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FileLocationsDialog::FileLocationsDialog(const PlayoutProfile::FileLocations& locations,
                                         QWidget* parent)
    : QDialog(parent), m_current(QDir::cleanPath(locations.BaseFolder)),
      m_folder(new QLineEdit(locations.BaseFolder, this)),
      m_browse(new QPushButton(tr("Browse..."), this)),
      m_default(new QPushButton(tr("Default"), this))
{
    setWindowTitle(tr("File Locations - %1").arg(locations.ProfileName));
    m_folder->setObjectName("txtBaseFolder");
    m_browse->setObjectName("cmdBrowse");
    m_default->setObjectName("cmdDefault");
    // Only a plain colour: system colour indexes (the high bit set) keep the style's own.
    if ((locations.BackColour & 0x80000000u) == 0 && locations.BackColour != 0) {
        const quint32 bgr = locations.BackColour;
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window,
                         QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF));
        setPalette(palette);
    }

    const QString defaultFolder = locations.DefaultBaseFolder;
    connect(m_default, &QPushButton::clicked, this,
            [this, defaultFolder] { m_folder->setText(defaultFolder); });
    connect(m_browse, &QPushButton::clicked, this, [this] {
        // Qt's own dialog, so that a typed folder that does not exist yet can be offered.
        const QString chosen = QFileDialog::getExistingDirectory(
            this, tr("Cartvault Folder"), m_folder->text(), QFileDialog::DontUseNativeDialog);
        if (!chosen.isEmpty()) {
            m_folder->setText(QDir::toNativeSeparators(chosen));
        }
    });

    // Room for a share's folder path, not just its last few names.
    m_folder->setMinimumWidth(m_folder->fontMetrics().averageCharWidth() * 64);
    auto* row = new QHBoxLayout;
    row->addWidget(m_folder, 1);
    row->addWidget(m_browse);
    row->addWidget(m_default);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(tr("Cartvault folder (carts already stored stay where they are):"), this));
    layout->addLayout(row);
    layout->addWidget(buttons);
}

QString FileLocationsDialog::BaseFolder() const
{
    return QDir::cleanPath(m_folder->text().trimmed());
}

void FileLocationsDialog::accept()
{
    const QString folder = m_folder->text().trimmed();
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        MessageBox::Show(tr("Enter the full path of the Cartvault folder."),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        m_folder->setFocus();
        return;
    }
    // The folder the profile has is no new choice: while its share is not mounted, a folder
    // made there would be an empty mount point passing for the store's.
    if (QDir::cleanPath(folder) != m_current && !QDir().mkpath(folder)) {
        MessageBox::Show(tr("The folder %1 could not be created.").arg(folder),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        m_folder->setFocus();
        return;
    }
    QDialog::accept();
}

void FileLocationsDialog::Install()
{
    PlayoutProfile::SetFileLocationsHook([](const PlayoutProfile::FileLocations& locations) {
        FileLocationsDialog dialog(locations, QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted ? dialog.BaseFolder() : QString();
    });
}
