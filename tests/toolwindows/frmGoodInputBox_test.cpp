#include "toolwindows/frmGoodInputBox.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A box driven directly, as a caller of the other modes does: the wanted control visible, the
// text box hidden, the list filled, the flag set.
class DirectBoxTest : public ::testing::Test
{
protected:
    void Use(QWidget* input)
    {
        box.Text1->setVisible(false);
        input->setVisible(true);
    }

    void Confirm()
    {
        box.show();
        box.cmdOk_Click();
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(frmGoodInputBox::CaptionValue(box.CancelL), 0);
    }

    frmGoodInputBox box;
};

} // namespace

TEST_F(DirectBoxTest, LoadsInTextModeOnTop)
{
    EXPECT_TRUE(box.ReturnText);
    EXPECT_FALSE(box.ReturnCombo || box.ReturnList || box.ReturnMultiList ||
                 box.ReturnMultiListNonSel || box.ReturnSortedList);
    EXPECT_EQ(box.CancelL, "1");
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box.cmdCancel->text(), "Cancel");
    EXPECT_EQ(box.cmdOK->text(), "OK");
    EXPECT_LT(box.cmdCancel->x(), box.cmdOK->x());
    EXPECT_EQ(box.Text1->font().family(), "Arial");
}

TEST_F(DirectBoxTest, MultiListAnswersThePositionsOfTheSelectedRows)
{
    Use(box.listMulti);
    box.listMulti->addItems({"one", "two", "three", "four"});
    box.ReturnMultiList = true;
    box.listMulti->item(0)->setSelected(true);
    box.listMulti->item(2)->setSelected(true);
    Confirm();
    EXPECT_EQ(box.Tag, "1,3");

    box.listMulti->clearSelection();
    Confirm();
    EXPECT_EQ(box.Tag, "");
}

TEST_F(DirectBoxTest, MultiListButtonsSitBelowTheList)
{
    Use(box.listMulti);
    box.ReturnMultiList = true;
    box.show();
    EXPECT_GT(box.cmdOK->y(), box.listMulti->y() + box.listMulti->height());
    EXPECT_EQ(box.cmdCancel->y(), box.cmdOK->y());
    EXPECT_GT(box.height(), box.cmdOK->y() + box.cmdOK->height());
    box.cmdCancel_Click();
}

TEST_F(DirectBoxTest, PlainListAnswersTheCurrentRowAndConfirmsOnDoubleClick)
{
    Use(box.listMultiNonSel);
    box.listMultiNonSel->addItems({"one", "two", "three"});
    box.ReturnMultiListNonSel = true;
    Confirm();
    EXPECT_EQ(box.Tag, "0");

    box.show();
    QListWidgetItem* row = box.listMultiNonSel->item(1);
    const QPoint centre = box.listMultiNonSel->visualItemRect(row).center();
    // A double click arrives after the press of its first click.
    QTest::mouseClick(box.listMultiNonSel->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_TRUE(box.isVisible());
    QTest::mouseDClick(box.listMultiNonSel->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.CancelL, "0");
    EXPECT_EQ(box.Tag, "2");
}

TEST_F(DirectBoxTest, CombosAnswerTheirText)
{
    Use(box.comboCombo);
    box.comboCombo->addItems({"alpha", "beta"});
    box.ReturnCombo = true;
    box.comboCombo->setEditText("typed in");
    // The combo's flag is tested before the others.
    box.ReturnMultiList = true;
    Confirm();
    EXPECT_EQ(box.Tag, "typed in");

    box.ReturnCombo = box.ReturnMultiList = false;
    Use(box.comboList);
    box.comboList->addItems({"first", "second"});
    box.comboList->setCurrentIndex(1);
    box.ReturnList = true;
    Confirm();
    EXPECT_EQ(box.Tag, "second");
}

TEST_F(DirectBoxTest, SortedListKeepsItsRowsSorted)
{
    Use(box.comboSortedList);
    box.comboSortedList->addItems({"pear", "apple"});
    box.comboSortedList->addItem("fig");
    box.comboSortedList->insertItem(0, "quince");
    QStringList rows;
    for (int i = 0; i < box.comboSortedList->count(); ++i) {
        rows << box.comboSortedList->itemText(i);
    }
    EXPECT_EQ(rows, QStringList({"apple", "fig", "pear", "quince"}));
    box.comboSortedList->setCurrentText("pear");
    box.ReturnSortedList = true;
    Confirm();
    EXPECT_EQ(box.Tag, "pear");
}

TEST_F(DirectBoxTest, CancelClearsTheAnswer)
{
    box.Text1->setText("something");
    box.show();
    box.cmdOk_Click();
    EXPECT_EQ(box.Tag, "something");
    box.show();
    box.cmdCancel_Click();
    EXPECT_EQ(box.Tag, "");
    EXPECT_GT(frmGoodInputBox::CaptionValue(box.CancelL), 0);
    EXPECT_FALSE(box.isVisible());
}

TEST_F(DirectBoxTest, UnloadLeavesABoxInTextMode)
{
    Use(box.comboSortedList);
    box.comboSortedList->addItems({"b", "a"});
    box.ReturnSortedList = true;
    box.ReturnText = false;
    box.show();
    box.cmdOk_Click();
    box.Unload();
    EXPECT_TRUE(box.ReturnText);
    EXPECT_FALSE(box.ReturnSortedList);
    EXPECT_EQ(box.comboSortedList->count(), 0);
    EXPECT_FALSE(box.comboSortedList->isVisibleTo(&box));
    EXPECT_TRUE(box.Text1->isVisibleTo(&box));
    EXPECT_EQ(box.CancelL, "1");
    EXPECT_GT(box.cmdOK->y(), box.Text1->y() + box.Text1->height());

    box.show();
    QTest::keyClicks(box.Text1, "text again");
    box.cmdOk_Click();
    EXPECT_EQ(box.Tag, "text again");
}

TEST_F(DirectBoxTest, TheLimitCaptionSetsTheTypingLimit)
{
    box.SetTLength("5");
    EXPECT_EQ(box.TextLimit(), 5);
    box.show();
    QTest::keyClicks(box.Text1, "1234567");
    EXPECT_EQ(box.Text1->text(), "12345");
    box.SetTLength("");
    QTest::keyClicks(box.Text1, "67");
    EXPECT_EQ(box.Text1->text(), "1234567");
    box.cmdCancel_Click();
}

TEST_F(DirectBoxTest, FocusSelectsTheWholeText)
{
    box.Text1->setText("select me");
    box.Text1->deselect();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(box.Text1, &focusIn);
    EXPECT_EQ(box.Text1->selectedText(), "select me");

    box.comboCombo->setEditText("combo text");
    box.comboCombo->lineEdit()->deselect();
    QApplication::sendEvent(box.comboCombo, &focusIn);
    EXPECT_EQ(box.comboCombo->lineEdit()->selectedText(), "combo text");
}

TEST(frmGoodInputBoxTest, CaptionValueReadsTheLeadingNumber)
{
    EXPECT_EQ(frmGoodInputBox::CaptionValue("1"), 1);
    EXPECT_EQ(frmGoodInputBox::CaptionValue("0"), 0);
    EXPECT_EQ(frmGoodInputBox::CaptionValue(""), 0);
    EXPECT_EQ(frmGoodInputBox::CaptionValue(" 12abc"), 12);
    EXPECT_EQ(frmGoodInputBox::CaptionValue("-3"), -3);
    EXPECT_EQ(frmGoodInputBox::CaptionValue("x1"), 0);
}
