#include "platform/system/LongWork.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

TEST(LongWorkTest, BreathesOnlyInAScopeAtAPaceAndStopsForGood)
{
    EXPECT_TRUE(LongWork::Breathe());
    EXPECT_FALSE(LongWork::Stopped());

    int calls = 0;
    bool goOn = true;
    {
        const LongWork::Scope scope([&] {
            ++calls;
            // Work the handler starts itself does not pump the window again.
            EXPECT_TRUE(LongWork::Breathe());
            return goOn;
        });
        // A loop that breathes all the time hands over only every few tens of milliseconds.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 200) {
            ASSERT_TRUE(LongWork::Breathe());
        }
        EXPECT_GE(calls, 2);
        EXPECT_LE(calls, 12);

        {
            const LongWork::Scope inner([] { return false; });
            EXPECT_FALSE(LongWork::Breathe());
            EXPECT_TRUE(LongWork::Stopped());
        }
        EXPECT_FALSE(LongWork::Stopped());

        goOn = false;
        while (LongWork::Breathe()) {
        }
        const int atStop = calls;
        EXPECT_TRUE(LongWork::Stopped());
        // Stopped stays stopped, without asking again.
        EXPECT_FALSE(LongWork::Breathe());
        EXPECT_EQ(calls, atStop);
    }
    EXPECT_TRUE(LongWork::Breathe());
    EXPECT_FALSE(LongWork::Stopped());
}
