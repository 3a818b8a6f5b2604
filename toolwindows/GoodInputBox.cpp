#include "toolwindows/GoodInputBox.h"

#include "platform/system/widgets/VbColours.h"
#include "toolwindows/frmGoodInputBox.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPointer>

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
    palette.setColor(QPalette::Window, VbColours::ToColor(quint32(BackColour)));
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
