#pragma once

#include "platform/profiles/PlayoutProfile.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

// The file locations of a playout profile: the cart store's base folder.
class FileLocationsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FileLocationsDialog(const PlayoutProfile::FileLocations& locations,
                                 QWidget* parent = nullptr);

    // Makes PlayoutProfile::ShowFileLocations show this dialog.
    static void Install();

    QString BaseFolder() const;
    QLineEdit* BaseFolderEdit() const { return m_folder; }
    QPushButton* DefaultButton() const { return m_default; }

    void accept() override;

private:
    QString m_current;
    QLineEdit* m_folder;
    QPushButton* m_browse;
    QPushButton* m_default;
};
