#pragma once

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <functional>

class QAction;
class QPrinter;
class QPushButton;
class QTextEdit;
class QToolBar;

// A small window that shows a text or rich-text file, or a given text, and can refresh,
// print and save it.
class frmPrintPreview : public QDialog
{
    Q_OBJECT

public:
    explicit frmPrintPreview(QWidget* parent = nullptr);

    // Modal 1: shown modally, and unloaded when that ends; 0: shown modeless.
    // Floating: the window stays above all others.
    void DisplayText(QString Information, QString Caption, qint32 Modal, bool& Floating);
    // Returns at once when the file does not exist.
    void DisplayFile(QString FileName, QString Caption, qint32 Modal, bool& Floating);

    // The common dialogs, behind seams that tests replace.
    // The file to save to; "" when the operator cancelled.
    std::function<QString(const QString& title, const QString& filter, const QString& proposedName)>
        AskSaveFileName;
    // Sets the printer up; false when the operator cancelled. selectionChosen tells whether
    // only the selection is to be printed (offered only when there is one).
    std::function<bool(QPrinter& printer, bool offerSelection, bool& selectionChosen)> AskPrinter;

    QString CurrentFile() const { return m_currentFile; }
    QAction* Button(const QString& key) const;

    QTextEdit* rtfFile;
    QToolBar* toolButtons;
    QHash<QString, QIcon> imgIcons;
    QPushButton* cmdOK;

public slots:
    void toolButtons_ButtonClick(const QString& key);

protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void Refresh();
    void Print();
    void Save();
    void ShowWindow(qint32 modal, bool floating);
    void ClearOnClose();
    QString DefaultAskSaveFileName(const QString& title, const QString& filter,
                                   const QString& proposedName);
    bool DefaultAskPrinter(QPrinter& printer, bool offerSelection, bool& selectionChosen);

    QString m_currentFile;
};
