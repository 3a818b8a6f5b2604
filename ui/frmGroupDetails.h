#pragma once

#include <QDialog>
#include <QString>

class cImporter;
class cImporterGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;

// The import-group editor: a modal dialog that shows one import group on three pages and
// writes it back when the operator leaves with OK.
class frmGroupDetails : public QDialog
{
    Q_OBJECT

public:
    explicit frmGroupDetails(QWidget* parent = nullptr);

    // Fills the window from the group, shows it modally and writes the group back when it was
    // accepted. False without a group (nothing shown) or when cancelled. importer is read for
    // its e-mail setting only. Errors of the cart store or the utility components go to the
    // caller.
    bool DisplayGroup(cImporterGroup* clsGroup, cImporter* importer);

    bool Cancelled() const { return m_cancelled; }
    // The group's Last-Modified comparison when the window opened in the re-check mode.
    bool OriginalCheckCurrentLastModified() const { return m_originalCheckCurrentLastModified; }

    // Page indexes of tbsGroupDetails.
    enum Page
    {
        GeneralPage = 0,
        NotificationPage = 1,
        OverridesPage = 2
    };

    QTabWidget* tbsGroupDetails;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QFrame* pnlProgress;
    QLabel* lblCurrentTask;
    QProgressBar* progOverallProcess;

    // General
    QGroupBox* fraGroupName;
    QLineEdit* txtGroupName;
    QRadioButton* optCheckExisting;
    QGroupBox* Frame1;
    QLabel* lblCheckExisting;
    QLabel* lblExistingStartCart;
    QLineEdit* txtExistingStartCart;
    QLabel* lblExistingEndCart;
    QLineEdit* txtExistingEndCart;
    QCheckBox* chkCheckCurrentLastModified;
    QGroupBox* fraLengthChange;
    QLabel* lblExistingLengthChangesDesc;
    QRadioButton* optCheckLengthUpdateOnly;
    QRadioButton* optCheckLengthReplace;
    QCheckBox* chkRemoveIfDeleted;
    QRadioButton* optImport;
    QGroupBox* fraImportOptions;
    QLabel* lblImportDirectory;
    QLineEdit* txtImportDirectory;
    QPushButton* cmdBrowseImportDirectory;
    QLabel* lblNewFileRange;
    QLabel* lblImportStartCart;
    QLineEdit* txtImportStartCart;
    QLabel* lblImportEndCart;
    QLineEdit* txtImportEndCart;
    QCheckBox* chkUseArchiveBit;
    QCheckBox* chkImportDeleteAfter;

    // Notification/Logging
    QCheckBox* chkEmailNotify;
    QGroupBox* fraEmailNotification;
    QLabel* lblEmailNotifyFromDesc;
    QLineEdit* txtEmailNotifyFrom;
    QLabel* lblEmailNotifyFromExampleDesc;
    QCheckBox* chkNotifySuccessEmailTo;
    QLineEdit* txtNotifySuccessEmailTo;
    QLabel* lblNotifySuccessEmailToExampleDesc;
    QCheckBox* chkNotifyFailEmailTo;
    QLineEdit* txtNotifyFailEmailTo;
    QLabel* lblNotifyFailEmailToExampleDesc;
    QGroupBox* fraLoggingOptions;
    QCheckBox* chkTakeSnapShotBeforeImport;

    // Overrides
    QGroupBox* fraOverrideTiming;
    QCheckBox* chkOverrideIntroStart;
    QLineEdit* mtxtIntroStart;
    QCheckBox* chkOverrideIntroEnd;
    QLineEdit* mtxtIntroEnd;
    QCheckBox* chkOverrideExtro;
    QLineEdit* mtxtExtro;
    QGroupBox* fraOverrideTitles;
    QCheckBox* chkOverrideTitle;
    QLineEdit* txtOverrideTitle;
    QCheckBox* chkOverrideArtist;
    QLineEdit* txtOverrideArtist;
    QCheckBox* chkOverrideDescription;
    QLineEdit* txtOverrideDescription;
    QPushButton* cmdOverrideHelp;
    QGroupBox* fraOverrideAudio;
    QCheckBox* chkOverrideNormalise;
    QLineEdit* txtOverrideNormalise;
    QLabel* lblOverrideNormliseDesc;

    // What a time box shows while its override is off.
    static constexpr const char* ZeroTime = "00:00:00.00";

public Q_SLOTS:
    // Validates, may ask questions and refresh the range's Last-Modified stamps, and hides the
    // window when everything passed. Errors of the cart store are raised to the caller; the
    // button reports them instead.
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdOverrideHelp_Click();
    void cmdBrowseImportDirectory_Click();
    void optCheckExisting_Click();
    void optImport_Click();
    void chkEmailNotify_Click();
    void chkNotifySuccessEmailTo_Click();
    void chkNotifyFailEmailTo_Click();
    void chkOverrideIntroStart_Click();
    void chkOverrideIntroEnd_Click();
    void chkOverrideExtro_Click();
    void chkOverrideTitle_Click();
    void chkOverrideArtist_Click();
    void chkOverrideDescription_Click();
    void chkOverrideNormalise_Click();
    void txtOverrideNormalise_LostFocus();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildGeneralPage(QWidget* page);
    void BuildNotificationPage(QWidget* page);
    void BuildOverridesPage(QWidget* page);
    void BuildProgressPanel();
    void Form_Load();
    void SetCurrentTask(const QString& caption);
    void ShowTime(QLineEdit* box, QCheckBox* check, float seconds);
    float TimeFromBox(QLineEdit* box, QCheckBox* check) const;
    void WriteBack(cImporterGroup& group);
    bool ConfirmLastModifiedRefresh();
    void RefreshLastModified();
    void cmdOK_Clicked();
    void txtOverrideNormalise_Edited(const QString& text);

    bool m_cancelled = false;
    QString m_normaliseText; // the normalise box before the edit being checked
    bool m_originalCheckCurrentLastModified = false;
    cImporter* m_importer = nullptr;
};
