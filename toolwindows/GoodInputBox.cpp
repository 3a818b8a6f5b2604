#include "GoodInputBox.h"

#include "frmGoodInputBox.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPointer>

namespace {

// Windows' system colour indexes (the low byte of 0x800000nn) as palette roles.
QColor vbColour(qint32 colour)
{
    const quint32 value = quint32(colour);
    if (value & 0x80000000u) {
        const QPalette palette = QApplication::palette();
        switch (value & 0xFF) {
        case 0x05: // window
            return palette.color(QPalette::Base);
        case 0x08: // window text
            return palette.color(QPalette::Text);
        case 0x0D: // highlight
            return palette.color(QPalette::Highlight);
        case 0x0E: // highlighted text
            return palette.color(QPalette::HighlightedText);
        case 0x12: // button text
            return palette.color(QPalette::ButtonText);
        case 0x17: // tool-tip text
            return palette.color(QPalette::ToolTipText);
        case 0x18: // tool-tip background
            return palette.color(QPalette::ToolTipBase);
        default: // button face (0x0F), 3-D face and the rest
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

} // namespace

bool GoodInputBox(const QString& Prompt, const QString& Title, const QString& Default,
                  qint32 MaxLength, QString& Result, QWidget* OwnerForm,
                  const QString& PasswordChar, bool Modal, qint32 BackColour, const QIcon& Icon)
{
    QPointer<frmGoodInputBox> box = new frmGoodInputBox(OwnerForm);

    if (!Icon.isNull()) {
        box->setWindowIcon(Icon);
    } else if (OwnerForm) {
        box->setWindowIcon(OwnerForm->windowIcon());
    }

    QPalette palette = box->palette();
    palette.setColor(QPalette::Window, vbColour(BackColour));
    box->setPalette(palette);
    box->setAutoFillBackground(true);
    box->setWindowTitle(Title.trimmed());
    box->lblCaption->setText(Prompt.trimmed());

    // The default is shown whole even when longer than MaxLength; the limit only stops typing.
    box->SetTextLimit(qint32(Default.size()));
    box->Text1->setText(Default);
    box->SetTLength(QString::number(MaxLength));

    box->Text1->setVisible(true);
    for (QComboBox* combo : {box->comboList, box->comboSortedList, box->comboCombo}) {
        combo->setVisible(false);
    }
    box->listMulti->setVisible(false);
    box->listMultiNonSel->setVisible(false);

    if (!PasswordChar.isEmpty()) {
        box->Text1->setEchoMode(QLineEdit::Password);
        box->Text1->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: %1 }")
                                      .arg(PasswordChar.at(0).unicode()));
    }

    if (Modal) {
        box->setWindowModality(Qt::ApplicationModal);
        box->exec();
    } else {
        box->setWindowModality(Qt::NonModal);
        box->show();
        while (box && box->isVisible()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }

    bool cancelled = true;
    Result.clear();
    if (box) {
        cancelled = frmGoodInputBox::CaptionValue(box->CancelL) > 0;
        if (!cancelled) {
            Result = box->Tag;
        }
        box->Unload();
        delete box;
    }

    if (OwnerForm) {
        OwnerForm->show();
        OwnerForm->raise();
    }
    return cancelled;
}
