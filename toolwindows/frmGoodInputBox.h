#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// A small dialog that asks for one value: typed, picked from a combo box or list, or chosen
// as rows of a list. The answer is left in Tag when the box is hidden; CancelL tells whether
// it was confirmed. GoodInputBox drives it in text mode; other callers drive it directly.
class frmGoodInputBox : public QDialog
{
    Q_OBJECT

public:
    explicit frmGoodInputBox(QWidget* parent = nullptr);

    // The mode; the first set flag wins, in the order cmdOk_Click tests them.
    bool ReturnCombo = false;
    bool ReturnList = false;
    bool ReturnText = false;
    bool ReturnMultiList = false;
    bool ReturnMultiListNonSel = false;
    bool ReturnSortedList = false;

    // The answer, valid once the box is hidden.
    QString Tag;
    // "0" after OK, otherwise "1": the box was cancelled while its numeric value is above 0.
    QString CancelL = QStringLiteral("1");

    // The typing limit of Text1 as text ("" or "0": none); setting it applies the limit.
    QString TLength() const { return m_tLength; }
    void SetTLength(const QString& caption);

    // Text1's typing limit (0: none). Unlike QLineEdit::setMaxLength it never shortens text
    // that is already there; it only keeps typing from lengthening text beyond the limit.
    void SetTextLimit(qint32 limit);
    qint32 TextLimit() const { return m_textLimit; }

    // The numeric value of a caption, read as VB's Val reads it.
    static double CaptionValue(const QString& caption);

    QLabel* lblCaption;
    QComboBox* comboCombo;
    QComboBox* comboList;
    QLineEdit* Text1;
    QListWidget* listMulti;
    QListWidget* listMultiNonSel;
    QComboBox* comboSortedList;
    QPushButton* cmdCancel;
    QPushButton* cmdOK;

public slots:
    void cmdOk_Click();
    void cmdCancel_Click();
    // Resets the box to its loaded state: lists emptied, text mode, buttons under Text1.
    void Unload();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Twips(int twips) const;
    void Form_Activate();
    void PlaceButtons(int top);
    void FitWindow();
    void Text1_Edited(const QString& text);

    QString m_tLength;
    qint32 m_textLimit = 0;
    QString m_lastText; // Text1's text before the edit being checked
};
