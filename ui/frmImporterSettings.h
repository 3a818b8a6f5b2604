#pragma once

#include <QDialog>

class cImporter;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The importer settings dialog: check interval, tray option and the SMTP server of the
// notification e-mails. Reads and writes only the importer's members.
class frmImporterSettings : public QDialog
{
    Q_OBJECT

public:
    explicit frmImporterSettings(QWidget* parent = nullptr);

    // Fills the window from the importer, shows it modally and writes the members back when
    // accepted. False without an importer (nothing shown) or when cancelled.
    bool DisplayImporter(cImporter* clsImporter);

    bool Cancelled() const { return m_cancelled; }

    QCheckBox* chkEnableEmail;
    QGroupBox* fraEmail;
    QLabel* lblemailserverDesc;
    QLineEdit* txtEmailServer;
    QCheckBox* chkEmailLogin;
    QLabel* lblEmailUserNameDesc;
    QLineEdit* txtEmailUsername;
    QLabel* lblEmailPasswordDesc;
    QLineEdit* txtEmailPassword;
    QGroupBox* fraOtherOptions;
    QLabel* lblCheckInterval;
    QLineEdit* txtCheckInterval;
    QLabel* lblCheckIntervalSecs;
    QCheckBox* chkMinimiseToSysTray;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

public Q_SLOTS:
    void chkEnableEmail_Click();
    void chkEmailLogin_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_cancelled = false;
};
