#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QPushButton;
class QSoundEffect;
class QToolButton;
class QUrl;

// The about box: product name, version and build date, legal notice, the maker's support web
// page and mailbox, an optional logo that plays the program's ".abt" sound, and a button that
// starts the system information tool.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    // programFolder and exeName choose the logo, the sound and the executable whose date is
    // shown; by default the running program's own.
    explicit frmAbout(QWidget* parent = nullptr, const QString& programFolder = QString(),
                      const QString& exeName = QString());
    ~frmAbout() override;

    // The logo picture: the program's folder and "/about.bmp" when that file exists, else "".
    QString LogoFilename;

    // Starts the tool configured in the registry or says that none is available.
    void StartSysInfo();
    // One registry value as text; false (and "") when the key or value is missing.
    bool GetKeyValue(qint32 KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                     QString& KeyVal);

    // The shell, behind seams that tests replace.
    std::function<bool(const QUrl&)> OpenUrl;
    std::function<bool(const QString& program)> StartProgram;

    // The ".abt" sound beside the program.
    QString SoundFile() const { return m_soundFile; }
    // nullptr until the logo was first clicked with a sound to play.
    QSoundEffect* Sound() const { return m_sound; }

    QLabel* picLogo;
    QLabel* lblProductNameDesc;
    QLabel* lblVersion;
    QLabel* lblCopyright;
    QLabel* lblDisclaimer;
    QLabel* lblSupportDesc;
    QLabel* lblSupportWeb;
    QLabel* lblSupportEmailDesc;
    QLabel* lblSupportEmail;
    QPushButton* cmdOK;
    QToolButton* cmdSysInfo;

public slots:
    void picLogo_Click();
    void lblSupportEmail_Click();
    void lblSupportWeb_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void Open(const QString& address);
    bool SoundAvailable() const;

    QString m_exePath;
    QString m_soundFile;
    QSoundEffect* m_sound = nullptr;
};
