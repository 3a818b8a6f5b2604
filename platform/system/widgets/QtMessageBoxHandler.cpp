#include "platform/system/widgets/QtMessageBoxHandler.h"

#include "platform/system/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
int showBox(const MessageBoxRequest& request)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(request.Title.isEmpty() ? QCoreApplication::applicationName()
                                               : request.Title);
    box.setTextFormat(Qt::PlainText);
    box.setText(request.Prompt);
    switch (request.Icon()) {
    case MsgBoxStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgBoxStyle::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgBoxStyle::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgBoxStyle::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }

    struct Choice
    {
        QMessageBox::StandardButton button;
        int answer;
    };
    QList<Choice> choices;
    switch (request.Buttons()) {
    case MsgBoxStyle::OKCancel:
        choices = {{QMessageBox::Ok, MsgBoxResult::OK},
                   {QMessageBox::Cancel, MsgBoxResult::Cancel}};
        break;
    case MsgBoxStyle::AbortRetryIgnore:
        choices = {{QMessageBox::Abort, MsgBoxResult::Abort},
                   {QMessageBox::Retry, MsgBoxResult::Retry},
                   {QMessageBox::Ignore, MsgBoxResult::Ignore}};
        break;
    case MsgBoxStyle::YesNoCancel:
        choices = {{QMessageBox::Yes, MsgBoxResult::Yes},
                   {QMessageBox::No, MsgBoxResult::No},
                   {QMessageBox::Cancel, MsgBoxResult::Cancel}};
        break;
    case MsgBoxStyle::YesNo:
        choices = {{QMessageBox::Yes, MsgBoxResult::Yes}, {QMessageBox::No, MsgBoxResult::No}};
        break;
    case MsgBoxStyle::RetryCancel:
        choices = {{QMessageBox::Retry, MsgBoxResult::Retry},
                   {QMessageBox::Cancel, MsgBoxResult::Cancel}};
        break;
    default:
        choices = {{QMessageBox::Ok, MsgBoxResult::OK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) {
        buttons |= c.button;
    }
    box.setStandardButtons(buttons);
    const int defaultIndex = (request.Style & MsgBoxStyle::DefaultMask) >> 8;
    if (defaultIndex < choices.size()) {
        box.setDefaultButton(choices[defaultIndex].button);
    }
    const auto clicked = box.exec();
    for (const Choice& c : choices) {
        if (c.button == clicked) {
            return c.answer;
        }
    }
    // The close box: Cancel where there is one, else the default.
    for (const Choice& c : choices) {
        if (c.answer == MsgBoxResult::Cancel) {
            return c.answer;
        }
    }
    return request.DefaultAnswer();
}
} // namespace

void QtMessageBoxHandler::Install()
{
    MessageBox::SetHandler(showBox);
}
