#include "toolwindows/GoodInputBox.h"
#include "toolwindows/frmGoodInputBox.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr qint32 kButtonFace = qint32(0x8000000F);

frmGoodInputBox* VisibleBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<frmGoodInputBox*>(widget); box && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// Runs the action on the box once it is up; the box is shown inside GoodInputBox, so the
// action has to come from the event loop. A box still open after everything the action queued
// has run fails the test and is cancelled, so that GoodInputBox never waits for ever.
void WhenShown(std::function<void(frmGoodInputBox*)> action)
{
    QTimer::singleShot(0, [action] {
        QPointer<frmGoodInputBox> box = VisibleBox();
        if (!box) {
            ADD_FAILURE() << "the input box is not shown";
            return;
        }
        action(box);
        QTimer::singleShot(0, [box] {
            if (box && box->isVisible()) {
                ADD_FAILURE() << "the box was left open";
                box->cmdCancel_Click();
            }
        });
    });
}

bool Ask(const QString& defaultText, qint32 maxLength, QString& result, bool modal = true,
         const QString& prompt = "Cart number?", const QString& passwordChar = QString())
{
    return GoodInputBox(prompt, "  Support  ", defaultText, maxLength, result, nullptr,
                        passwordChar, modal, kButtonFace, QIcon());
}

} // namespace

TEST(GoodInputBoxTest, OkReturnsTheTypedTextAndCancelReturnsNothing)
{
    QString result = "stale";
    WhenShown([](frmGoodInputBox* box) {
        EXPECT_EQ(box->windowTitle(), "Support");
        EXPECT_EQ(box->lblCaption->text(), "Cart number?");
        EXPECT_TRUE(box->Text1->isVisibleTo(box));
        EXPECT_FALSE(box->comboCombo->isVisibleTo(box));
        EXPECT_FALSE(box->listMulti->isVisibleTo(box));
        QTest::keyClicks(box->Text1, "0042");
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("", 0, result));
    EXPECT_EQ(result, "0042");

    result = "stale";
    WhenShown([](frmGoodInputBox* box) {
        QTest::keyClicks(box->Text1, "typed");
        box->cmdCancel->click();
    });
    EXPECT_TRUE(Ask("default", 0, result));
    EXPECT_EQ(result, "");
}

TEST(GoodInputBoxTest, OkWithAnEmptyBoxIsNotACancel)
{
    QString result = "stale";
    WhenShown([](frmGoodInputBox* box) { box->cmdOK->click(); });
    EXPECT_FALSE(Ask("", 0, result));
    EXPECT_EQ(result, "");
}

TEST(GoodInputBoxTest, TheCloseBoxAndEscapeCountAsCancel)
{
    QString result = "stale";
    WhenShown([](frmGoodInputBox* box) {
        QTest::keyClicks(box->Text1, "x");
        // A close request from the window system, as the close box sends it.
        box->windowHandle()->close();
    });
    EXPECT_TRUE(Ask("default", 0, result));
    EXPECT_EQ(result, "");

    result = "stale";
    WhenShown([](frmGoodInputBox* box) { QTest::keyClick(box->Text1, Qt::Key_Escape); });
    EXPECT_TRUE(Ask("default", 0, result));
    EXPECT_EQ(result, "");
}

TEST(GoodInputBoxTest, EnterDoesNotPressCancel)
{
    QString result;
    WhenShown([](frmGoodInputBox* box) {
        QTest::keyClick(box->Text1, Qt::Key_Return);
        EXPECT_TRUE(box->isVisible());
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("kept", 0, result));
    EXPECT_EQ(result, "kept");
}

TEST(GoodInputBoxTest, TheLimitRestrainsTypingButNeverCutsTheDefault)
{
    QString result;
    // A default longer than the limit is shown whole and cannot grow.
    WhenShown([](frmGoodInputBox* box) {
        EXPECT_EQ(box->Text1->text(), "abcdef");
        box->Text1->end(false);
        QTest::keyClicks(box->Text1, "xyz");
        EXPECT_EQ(box->Text1->text(), "abcdef");
        QTest::keyClick(box->Text1, Qt::Key_Backspace);
        EXPECT_EQ(box->Text1->text(), "abcde");
        QTest::keyClicks(box->Text1, "x");
        EXPECT_EQ(box->Text1->text(), "abcde");
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("abcdef", 3, result));
    EXPECT_EQ(result, "abcde");

    // Typing and pasting stop at the limit.
    WhenShown([](frmGoodInputBox* box) {
        QTest::keyClicks(box->Text1, "12345");
        EXPECT_EQ(box->Text1->text(), "1234");
        box->Text1->setSelection(1, 2); // "23"
        QApplication::clipboard()->setText("abcdef");
        box->Text1->paste();
        EXPECT_EQ(box->Text1->text(), "1ab4");
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("", 4, result));
    EXPECT_EQ(result, "1ab4");

    // 0 means no limit.
    const QString longText(300, u'7');
    WhenShown([&](frmGoodInputBox* box) {
        QTest::keyClicks(box->Text1, longText);
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("", 0, result));
    EXPECT_EQ(result, longText);
}

TEST(GoodInputBoxTest, ALongPromptPushesTheInputAndButtonsDown)
{
    int shortHeight = 0;
    int shortInputTop = 0;
    QString result;
    WhenShown([&](frmGoodInputBox* box) {
        shortHeight = box->height();
        shortInputTop = box->Text1->y();
        EXPECT_GT(box->cmdOK->y(), box->Text1->y() + box->Text1->height());
        EXPECT_EQ(box->cmdOK->y(), box->cmdCancel->y());
        // The inner area ends just below the buttons.
        EXPECT_GT(box->height(), box->cmdOK->y() + box->cmdOK->height());
        EXPECT_LT(box->height(), box->cmdOK->y() + 2 * box->cmdOK->height());
        box->cmdOK->click();
    });
    Ask("", 0, result, true, "   Short?   ");

    const QString longPrompt =
        "Type the number of the cart whose audio, settings and history should be added to the "
        "support file that is sent to the maker's technical support team.";
    WhenShown([&](frmGoodInputBox* box) {
        EXPECT_EQ(box->lblCaption->text(), longPrompt);
        EXPECT_GT(box->Text1->y(), shortInputTop);
        EXPECT_GT(box->height(), shortHeight);
        EXPECT_GE(box->Text1->y(), box->lblCaption->y() + box->lblCaption->height());
        EXPECT_GT(box->cmdOK->y(), box->Text1->y() + box->Text1->height());
        box->cmdOK->click();
    });
    Ask("", 0, result, true, "  " + longPrompt + "  ");
}

TEST(GoodInputBoxTest, ThePromptIsShownAsWrittenNotAsMarkup)
{
    // Without plain text the label would take the tags for markup and show "Cart number?".
    const QString prompt = "<b>Cart</b> number &lt;1-9999&gt;?";
    QString result;
    WhenShown([&](frmGoodInputBox* box) {
        EXPECT_EQ(box->lblCaption->text(), prompt);
        EXPECT_EQ(box->lblCaption->textFormat(), Qt::PlainText);
        box->cmdOK->click();
    });
    Ask("", 0, result, true, prompt);
}

TEST(GoodInputBoxTest, ModelessBoxKeepsTheMessageLoopRunning)
{
    int ticks = 0;
    WhenShown([&](frmGoodInputBox* box) {
        EXPECT_EQ(box->windowModality(), Qt::NonModal);
        // Events go on being handled while GoodInputBox waits for the box.
        QTimer::singleShot(0, [&ticks] { ++ticks; });
        QTimer::singleShot(0, [&ticks, box] {
            EXPECT_EQ(ticks, 1);
            QTest::keyClicks(box->Text1, "modeless");
            box->cmdOK->click();
        });
    });
    QString result;
    EXPECT_FALSE(Ask("", 0, result, false));
    EXPECT_EQ(result, "modeless");
}

TEST(GoodInputBoxTest, PasswordCharacterMasksButTheAnswerIsTheText)
{
    QString result;
    WhenShown([](frmGoodInputBox* box) {
        EXPECT_EQ(box->Text1->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(box->Text1->styleSheet().contains(QString::number(int('#'))));
        QTest::keyClicks(box->Text1, "secret");
        box->cmdOK->click();
    });
    EXPECT_FALSE(Ask("", 0, result, true, "Password?", "#*"));
    EXPECT_EQ(result, "secret");
}

TEST(GoodInputBoxTest, BackColourIsAVbColour)
{
    QString result;
    WhenShown([](frmGoodInputBox* box) {
        // VB colours are 0x00BBGGRR.
        EXPECT_EQ(box->palette().color(QPalette::Window), QColor(0x11, 0x22, 0x33));
        box->cmdOK->click();
    });
    GoodInputBox("Colour?", "", "", 0, result, nullptr, "", true, 0x332211, QIcon());

    WhenShown([](frmGoodInputBox* box) {
        EXPECT_EQ(box->palette().color(QPalette::Window),
                  QApplication::palette().color(QPalette::Window));
        box->cmdOK->click();
    });
    GoodInputBox("Colour?", "", "", 0, result, nullptr, "", true, kButtonFace, QIcon());
}

TEST(GoodInputBoxTest, TheBoxIsGoneAfterwards)
{
    QString result;
    QPointer<frmGoodInputBox> seen;
    WhenShown([&](frmGoodInputBox* box) {
        seen = box;
        box->cmdOK->click();
    });
    Ask("", 0, result);
    EXPECT_TRUE(seen.isNull());
}
