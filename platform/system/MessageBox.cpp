#include "platform/system/MessageBox.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
MessageBox::Handler& handlerSlot()
{
    static MessageBox::Handler handler;
    return handler;
}
} // namespace

int MessageBoxRequest::DefaultAnswer() const
{
    int answers[3] = {MsgBoxResult::OK, 0, 0};
    switch (Buttons()) {
    case MsgBoxStyle::OKCancel:
        answers[0] = MsgBoxResult::OK;
        answers[1] = MsgBoxResult::Cancel;
        break;
    case MsgBoxStyle::AbortRetryIgnore:
        answers[0] = MsgBoxResult::Abort;
        answers[1] = MsgBoxResult::Retry;
        answers[2] = MsgBoxResult::Ignore;
        break;
    case MsgBoxStyle::YesNoCancel:
        answers[0] = MsgBoxResult::Yes;
        answers[1] = MsgBoxResult::No;
        answers[2] = MsgBoxResult::Cancel;
        break;
    case MsgBoxStyle::YesNo:
        answers[0] = MsgBoxResult::Yes;
        answers[1] = MsgBoxResult::No;
        break;
    case MsgBoxStyle::RetryCancel:
        answers[0] = MsgBoxResult::Retry;
        answers[1] = MsgBoxResult::Cancel;
        break;
    default:
        break;
    }
    const int index = (Style & MsgBoxStyle::DefaultMask) >> 8;
    if (index > 0 && index < 3 && answers[index] != 0) {
        return answers[index];
    }
    return answers[0];
}

int MessageBox::Show(const QString& prompt, int style, const QString& title)
{
    MessageBoxRequest request{prompt, style, title};
    if (handlerSlot()) {
        return handlerSlot()(request);
    }
    const QString shownTitle = title.isEmpty() ? QCoreApplication::applicationName() : title;
    std::fprintf(stderr, "[%s] %s\n", qPrintable(shownTitle), qPrintable(prompt));
    return request.DefaultAnswer();
}

void MessageBox::SetHandler(Handler handler)
{
    handlerSlot() = std::move(handler);
}

MessageBox::Handler MessageBox::CurrentHandler()
{
    return handlerSlot();
}
