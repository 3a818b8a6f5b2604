#include "platform/system/Result.h"

#include <gtest/gtest.h>

TEST(ResultTest, CarriesTheValueOrTheReasonNeverBoth)
{
    const Result<int> worked = 42;
    ASSERT_TRUE(worked);
    EXPECT_EQ(*worked, 42);
    EXPECT_TRUE(worked.Reason().isEmpty());

    const Result<QString> failed = Failure{"disk full"};
    EXPECT_FALSE(failed);
    EXPECT_FALSE(failed.Ok());
    EXPECT_EQ(failed.Reason(), "disk full");

    // A failure without words is still a failure.
    const Result<> silent = Failure{};
    EXPECT_FALSE(silent);
    const Result<> done;
    EXPECT_TRUE(done.Ok());
}
