#include "platform/system/MessageBox.h"
#include "platform/system/ScriptedAnswerer.h"

#include <gtest/gtest.h>

TEST(MessageBoxTest, ScriptedAnswersAreTakenInOrderAndRecorded)
{
    ScriptedAnswerer answerer;
    answerer.Expect(MsgBoxResult::No);
    answerer.Expect(MsgBoxResult::Yes);
    EXPECT_EQ(MessageBox::Show("First?", MsgBoxStyle::YesNo | MsgBoxStyle::Question),
              MsgBoxResult::No);
    EXPECT_EQ(MessageBox::Show("Second?", MsgBoxStyle::YesNo), MsgBoxResult::Yes);
    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt, "First?");
    EXPECT_EQ(answerer.Shown()[0].Icon(), MsgBoxStyle::Question);
    EXPECT_EQ(answerer.Shown()[0].Buttons(), MsgBoxStyle::YesNo);
}

TEST(MessageBoxTest, UnscriptedBoxIsReportedAndTakesTheDefaultButton)
{
    int unexpected = 0;
    ScriptedAnswerer answerer([&](const MessageBoxRequest&) { ++unexpected; });
    EXPECT_EQ(MessageBox::Show("Risky?", MsgBoxStyle::YesNo | MsgBoxStyle::DefaultButton2),
              MsgBoxResult::No);
    EXPECT_EQ(MessageBox::Show("Fine?", MsgBoxStyle::YesNoCancel), MsgBoxResult::Yes);
    EXPECT_EQ(unexpected, 2);
}
