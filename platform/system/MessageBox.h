#pragma once

#include <QString>
#include <functional>

// The one seam through which every message box and question is shown.
// The program installs a handler that shows a modal Qt box; tests install a ScriptedAnswerer.
namespace MsgBoxStyle {
// Buttons
constexpr int OKOnly = 0;
constexpr int OKCancel = 1;
constexpr int AbortRetryIgnore = 2;
constexpr int YesNoCancel = 3;
constexpr int YesNo = 4;
constexpr int RetryCancel = 5;
// Icons
constexpr int Critical = 16;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;
// Default button
constexpr int DefaultButton1 = 0;
constexpr int DefaultButton2 = 256;
constexpr int DefaultButton3 = 512;

constexpr int ButtonMask = 0x0F;
constexpr int IconMask = 0xF0;
constexpr int DefaultMask = 0xF00;
} // namespace MsgBoxStyle

namespace MsgBoxResult {
constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Abort = 3;
constexpr int Retry = 4;
constexpr int Ignore = 5;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace MsgBoxResult

struct MessageBoxRequest
{
    QString Prompt;
    int Style = 0; // buttons | icon | default button
    QString Title; // empty: the application's title

    int Buttons() const { return Style & MsgBoxStyle::ButtonMask; }
    int Icon() const { return Style & MsgBoxStyle::IconMask; }
    // The answer given when the default button is taken.
    int DefaultAnswer() const;
};

class MessageBox
{
public:
    using Handler = std::function<int(const MessageBoxRequest&)>;

    // Shows the box through the installed handler and returns the button chosen.
    static int Show(const QString& prompt, int style = MsgBoxStyle::OKOnly,
                    const QString& title = QString());

    // Installs the handler; an empty handler restores the fallback, which writes the box
    // to the standard error output and takes the default button.
    static void SetHandler(Handler handler);
    static Handler CurrentHandler();
};
