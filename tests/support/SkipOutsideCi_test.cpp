#include "tests/support/SkipOutsideCi.h"

#include <QByteArray>
#include <gtest/gtest-spi.h>
#include <optional>

// CI is set up for every test: there a missing package or mount must fail, not pass unseen.
TEST(SkipOutsideCiTest, SkipsLocallyAndFailsUnderCi)
{
    const std::optional<QByteArray> before =
        qEnvironmentVariableIsSet("CI") ? std::optional(qgetenv("CI")) : std::nullopt;
    struct Row
    {
        const char* ci; // nullptr: not set
        bool fails;
    };
    for (const Row& row : {Row{nullptr, false}, Row{"false", false}, Row{"true", true}}) {
        SCOPED_TRACE(row.ci ? row.ci : "unset");
        row.ci ? qputenv("CI", row.ci) : qunsetenv("CI");
        testing::TestPartResultArray results;
        {
            testing::ScopedFakeTestPartResultReporter reporter(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
            [] { SKIP_OUTSIDE_CI("no such mount"); }();
        }
        ASSERT_EQ(results.size(), 1);
        const testing::TestPartResult& result = results.GetTestPartResult(0);
        EXPECT_EQ(result.fatally_failed(), row.fails);
        EXPECT_EQ(result.skipped(), !row.fails);
        EXPECT_TRUE(QByteArray(result.message()).contains("no such mount"));
    }
    before ? qputenv("CI", *before) : qunsetenv("CI");
}
