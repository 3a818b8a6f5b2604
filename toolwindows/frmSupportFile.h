#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <memory>

class QCheckBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTemporaryDir;
class QToolButton;
class SupportFileGenerator;

// The window in which the operator puts a support file together (reason, support ID, logs,
// play logs, the cart store's configuration and the audio of chosen carts), has it made, and
// uploads it to Orvane or saves it.
class frmSupportFile : public QDialog
{
    Q_OBJECT

public:
    // backgroundColour: the window's colour, which the main window takes from its graphics
    // renderer; an invalid colour keeps the palette's. generator: the support-file generator,
    // taken over by the window; nullptr makes our own.
    explicit frmSupportFile(const QColor& backgroundColour = QColor(), QWidget* parent = nullptr,
                            SupportFileGenerator* generator = nullptr);
    ~frmSupportFile() override;

    static constexpr const char* ReasonPlaceholder =
        "<Enter the reason you are sending this file to Orvane>";

    bool Busy() const { return m_busy; }
    bool StopRequested() const { return m_stopRequested; }

    QTabWidget* tbsOptions;
    QGroupBox* fraReason;
    QPlainTextEdit* txtReason;
    QLabel* lblSupportIDDesc;
    QLabel* lblSupportIDPrefix;
    QLineEdit* txtSupportID;
    QLabel* Label1;
    QGroupBox* fraInformation;
    QCheckBox* chkLogFiles;
    QLabel* lblLogsStartDateDesc;
    QDateEdit* dtpLogsStartDate;
    QLabel* lblLogsEndDateDesc;
    QDateEdit* dtpLogsEndDate;
    QCheckBox* chkPlayLogFiles;
    QLabel* lblPlayLogsStartDateDesc;
    QDateEdit* dtpPlayLogsStartDate;
    QLabel* lblPlayLogsEndDateDesc;
    QDateEdit* dtpPlayLogsEndDate;
    QCheckBox* chkCartvault;
    QCheckBox* chkSendCart;
    QListWidget* listCarts;
    QToolButton* cmdAddCart;
    QToolButton* cmdRemoveCart;
    QPushButton* cmdEditPerson;
    QPushButton* cmdMakeFile;
    QFrame* pnlStatus;
    QLabel* lblStatus;
    QProgressBar* prgProgress;
    QToolButton* cmdStop;
    SupportFileGenerator* SupportFileGenerator1;

public slots:
    void chkLogFiles_Click();
    void chkPlayLogFiles_Click();
    void chkSendCart_Click();
    void listCarts_Click();
    void cmdAddCart_Click();
    void cmdRemoveCart_Click();
    void cmdEditPerson_Click();
    void cmdMakeFile_Click();
    void cmdStop_Click();

    void SupportFileGenerator1_CreateStarted();
    void SupportFileGenerator1_CreateProgress(float percent, bool& cancel);
    void SupportFileGenerator1_CreateFinished(const QString& path);
    void SupportFileGenerator1_CreateError(qint32 number, const QString& description);
    void SupportFileGenerator1_UploadStarted();
    void SupportFileGenerator1_UploadProgress(float percent, bool& cancel);
    void SupportFileGenerator1_UploadFinished();
    void SupportFileGenerator1_UploadError(qint32 number, const QString& description);
    void SupportFileGenerator1_Warning(quint32 code, bool& cancel);
    void SupportFileGenerator1_SaveFinished(const QString& path);
    void SupportFileGenerator1_SaveError(const QString& path, const QString& description);

protected:
    // Esc and the close box end here; both are refused during a run.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowStatus(const QString& caption);
    void HideStatus();
    void PlaceStatus();
    void SendOrSaveSupportFile();
    void LockWindow();
    void UnlockWindow();
    void EnableReason(bool enabled);
    void PaintCartList(bool enabled);
    bool ExportCarts(QStringList& targets);

    bool m_busy = false;
    bool m_stopRequested = false;
    QWidget* m_page;
    std::unique_ptr<QTemporaryDir> m_exportFolder;
};
