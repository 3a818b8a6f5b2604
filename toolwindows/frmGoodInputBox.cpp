#include "toolwindows/frmGoodInputBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>

namespace {
constexpr int kLeft = 180;
constexpr int kInputWidth = 3075;
constexpr int kGap = 120;
constexpr int kInnerWidth = 3450;
constexpr int kListHeight = 1425;

void restoreDefaultPointer()
{
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
    }
}
} // namespace

frmGoodInputBox::frmGoodInputBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint)
{
    lblCaption = new QLabel(this);
    // The caller's prompt is shown as written, never read as markup.
    lblCaption->setTextFormat(Qt::PlainText);
    lblCaption->setWordWrap(true);
    lblCaption->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    comboCombo = new QComboBox(this);
    comboCombo->setEditable(true);
    comboList = new QComboBox(this);
    Text1 = new QLineEdit(this);
    Text1->setFont(QFont(QStringLiteral("Arial"), Text1->font().pointSize()));
    listMulti = new QListWidget(this);
    listMulti->setSelectionMode(QAbstractItemView::MultiSelection);
    listMultiNonSel = new QListWidget(this);
    listMultiNonSel->setSelectionMode(QAbstractItemView::SingleSelection);
    comboSortedList = new QComboBox(this);
    // Rows are kept sorted however a caller adds them.
    connect(comboSortedList->model(), &QAbstractItemModel::rowsInserted, this,
            [this] { comboSortedList->model()->sort(0); });

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    // Enter must not press the first button (Cancel); the buttons are only clicked.
    cmdCancel->setAutoDefault(false);
    cmdOK->setAutoDefault(false);

    for (QWidget* input : {static_cast<QWidget*>(comboCombo), static_cast<QWidget*>(comboList),
                           static_cast<QWidget*>(listMulti), static_cast<QWidget*>(listMultiNonSel),
                           static_cast<QWidget*>(comboSortedList)}) {
        input->setVisible(false);
    }

    connect(cmdOK, &QPushButton::clicked, this, &frmGoodInputBox::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmGoodInputBox::cmdCancel_Click);
    connect(listMultiNonSel, &QListWidget::itemDoubleClicked, this, &frmGoodInputBox::cmdOk_Click);
    connect(Text1, &QLineEdit::textEdited, this, &frmGoodInputBox::Text1_Edited);
    connect(Text1, &QLineEdit::textChanged, this, [this] { m_lastText = Text1->text(); });
    Text1->installEventFilter(this);
    comboCombo->installEventFilter(this);

    lblCaption->move(Twips(kLeft), Twips(120));
    lblCaption->setFixedWidth(Twips(kInputWidth));
    lblCaption->setFixedHeight(Twips(195));
    for (QWidget* input :
         {static_cast<QWidget*>(comboCombo), static_cast<QWidget*>(comboList),
          static_cast<QWidget*>(Text1), static_cast<QWidget*>(listMulti),
          static_cast<QWidget*>(listMultiNonSel), static_cast<QWidget*>(comboSortedList)}) {
        const int height =
            qobject_cast<QListWidget*>(input) ? Twips(kListHeight) : input->sizeHint().height();
        input->setGeometry(Twips(kLeft), Twips(435), Twips(kInputWidth), height);
    }
    cmdCancel->setGeometry(Twips(180), 0, Twips(1215), Twips(375));
    cmdOK->setGeometry(Twips(2040), 0, Twips(1215), Twips(375));
    PlaceButtons(Text1->y() + Text1->height() + Twips(kGap));
    setFixedSize(Twips(kInnerWidth), Twips(2070));

    ReturnText = true;
}

int frmGoodInputBox::Twips(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}

double frmGoodInputBox::CaptionValue(const QString& caption)
{
    QString number;
    const QString text = caption.trimmed();
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        number += text[i++];
    }
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i].isDigit()) {
            number += text[i];
        } else if (text[i] == u'.' && !point) {
            point = true;
            number += text[i];
        } else {
            break;
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0;
}

void frmGoodInputBox::SetTLength(const QString& caption)
{
    m_tLength = caption;
    SetTextLimit(qint32(CaptionValue(caption)));
}

void frmGoodInputBox::SetTextLimit(qint32 limit)
{
    m_textLimit = limit > 0 ? limit : 0;
}

// Keeps an edit within the limit the way a Windows edit box does: what is inserted is cut to
// the room left; text already longer than the limit may shrink but not grow.
void frmGoodInputBox::Text1_Edited(const QString& text)
{
    const QString old = m_lastText;
    if (m_textLimit <= 0 || text.size() <= m_textLimit || text.size() <= old.size()) {
        return;
    }
    qsizetype prefix = 0;
    while (prefix < old.size() && prefix < text.size() && old[prefix] == text[prefix]) {
        ++prefix;
    }
    qsizetype suffix = 0;
    while (suffix < old.size() - prefix && suffix < text.size() - prefix &&
           old[old.size() - 1 - suffix] == text[text.size() - 1 - suffix]) {
        ++suffix;
    }
    const qsizetype removed = old.size() - prefix - suffix;
    const QString inserted = text.mid(prefix, text.size() - prefix - suffix);
    const qsizetype room = std::max<qsizetype>(0, m_textLimit - (old.size() - removed));
    const QString kept = old.left(prefix) + inserted.left(room) + old.right(suffix);
    Text1->setText(kept);
    Text1->setCursorPosition(int(prefix + std::min(room, inserted.size())));
}

void frmGoodInputBox::PlaceButtons(int top)
{
    cmdCancel->move(cmdCancel->x(), top);
    cmdOK->move(cmdOK->x(), cmdCancel->y());
}

void frmGoodInputBox::FitWindow()
{
    setFixedSize(Twips(kInnerWidth), cmdOK->y() + cmdOK->height() + Twips(kGap));
}

void frmGoodInputBox::Form_Activate()
{
    // The prompt grows downwards with its text; everything below follows it.
    lblCaption->setFixedHeight(
        std::max(Twips(195), lblCaption->heightForWidth(lblCaption->width())));
    const int inputTop = lblCaption->y() + lblCaption->height() + Twips(kGap);
    for (QWidget* input :
         {static_cast<QWidget*>(comboCombo), static_cast<QWidget*>(comboList),
          static_cast<QWidget*>(Text1), static_cast<QWidget*>(listMulti),
          static_cast<QWidget*>(listMultiNonSel), static_cast<QWidget*>(comboSortedList)}) {
        input->move(input->x(), inputTop);
    }
    PlaceButtons(Text1->y() + Text1->height() + Twips(kGap));

    auto focusIfVisible = [](QWidget* widget) {
        if (widget->isVisibleTo(widget->window())) {
            widget->setFocus();
        }
    };
    if (ReturnCombo) {
        focusIfVisible(comboCombo);
    } else if (ReturnList) {
        focusIfVisible(comboList);
    } else if (ReturnSortedList) {
        focusIfVisible(comboSortedList);
    } else if (ReturnMultiList) {
        PlaceButtons(listMulti->y() + listMulti->height() + Twips(kGap));
        focusIfVisible(listMulti);
    } else if (ReturnMultiListNonSel) {
        PlaceButtons(listMultiNonSel->y() + listMultiNonSel->height() + Twips(kGap));
        focusIfVisible(listMultiNonSel);
    } else {
        SetTextLimit(qint32(CaptionValue(m_tLength)));
        focusIfVisible(Text1);
    }
    FitWindow();
    restoreDefaultPointer();
}

void frmGoodInputBox::cmdOk_Click()
{
    CancelL = QStringLiteral("0");
    QString answer;
    if (ReturnCombo) {
        answer = comboCombo->currentText();
    } else if (ReturnList) {
        answer = comboList->currentIndex() >= 0 ? comboList->currentText() : QString();
    } else if (ReturnSortedList) {
        answer = comboSortedList->currentIndex() >= 0 ? comboSortedList->currentText() : QString();
    } else if (ReturnMultiList) {
        QStringList rows;
        for (int row = 0; row < listMulti->count(); ++row) {
            if (listMulti->item(row)->isSelected()) {
                rows.append(QString::number(row + 1));
            }
        }
        answer = rows.join(u',');
    } else if (ReturnMultiListNonSel) {
        // The chosen row: a list that merely has the focus makes its first row current
        // without choosing it.
        const QModelIndexList chosen = listMultiNonSel->selectionModel()->selectedIndexes();
        answer = QString::number(chosen.isEmpty() ? 0 : chosen.constFirst().row() + 1);
    } else {
        answer = Text1->text();
    }
    Tag = answer;
    hide();
}

void frmGoodInputBox::cmdCancel_Click()
{
    CancelL = QStringLiteral("1");
    Tag.clear();
    hide();
}

void frmGoodInputBox::Unload()
{
    hide();
    for (QComboBox* combo : {comboCombo, comboList, comboSortedList}) {
        combo->clear();
        combo->setVisible(false);
    }
    // A reloaded box starts afresh, lists included.
    for (QListWidget* list : {listMulti, listMultiNonSel}) {
        list->clear();
        list->setVisible(false);
    }
    Text1->clear();
    Text1->setEchoMode(QLineEdit::Normal);
    Text1->setStyleSheet(QString());
    Text1->setVisible(true);
    Tag.clear();
    CancelL = QStringLiteral("1");
    SetTLength(QString());
    ReturnCombo = ReturnList = ReturnMultiList = ReturnMultiListNonSel = ReturnSortedList = false;
    ReturnText = true;
    PlaceButtons(Text1->y() + Text1->height() + Twips(kGap));
    FitWindow();
}

void frmGoodInputBox::showEvent(QShowEvent* event)
{
    Form_Activate();
    QDialog::showEvent(event);
}

// The close box hides the box instead of closing it; CancelL still says "1", so the caller
// sees a cancel.
void frmGoodInputBox::closeEvent(QCloseEvent* event)
{
    if (event->spontaneous()) {
        event->ignore();
        hide();
        return;
    }
    QDialog::closeEvent(event);
}

void frmGoodInputBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        restoreDefaultPointer();
    }
    QDialog::changeEvent(event);
}

bool frmGoodInputBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == Text1) {
            Text1->selectAll();
        } else if (watched == comboCombo && comboCombo->lineEdit()) {
            comboCombo->lineEdit()->selectAll();
        }
    }
    return QDialog::eventFilter(watched, event);
}
