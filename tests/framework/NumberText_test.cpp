#include "framework/NumberText.h"

#include <QList>
#include <QString>
#include <gtest/gtest.h>
#include <limits>

TEST(NumberTextTest, OnlyTheLeadingNumberCounts)
{
    EXPECT_EQ(LeadingNumber("1234 Station Jingle"), 1234.0);
    EXPECT_EQ(LeadingNumber("  -12.5abc"), -12.5);
    EXPECT_EQ(LeadingNumber("+7"), 7.0);
    EXPECT_EQ(LeadingNumber("1e3 Promo"), 1000.0);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("Jingle 1234"), 0.0);
    EXPECT_EQ(LeadingNumber(""), 0.0);
    EXPECT_EQ(LeadingNumber("-"), 0.0);
    // Too large for a double is no number rather than infinity.
    EXPECT_EQ(LeadingNumber("1e999"), 0.0);
}

TEST(NumberTextTest, RoundingTakesHalvesToEvenAndHoldsTheRange)
{
    EXPECT_EQ(RoundHalfEven(49.5, 0, 100), 50);
    EXPECT_EQ(RoundHalfEven(50.5, 0, 100), 50);
    EXPECT_EQ(RoundHalfEven(51.5, 0, 100), 52);
    EXPECT_EQ(RoundHalfEven(150, 0, 100), 100);
    EXPECT_EQ(RoundHalfEven(-3, 0, 100), 0);
    constexpr qint32 lowest = std::numeric_limits<qint32>::min();
    constexpr qint32 highest = std::numeric_limits<qint32>::max();
    EXPECT_EQ(RoundHalfEven(1e20, lowest, highest), highest);
    EXPECT_EQ(RoundHalfEven(-1e20, lowest, highest), lowest);
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::quiet_NaN(), 0, 100), 0);
}

// A file's cart is its title's leading digits; anything else before them means no cart.
TEST(NumberTextTest, TheCartOfAFileIsItsTitlesLeadingDigits)
{
    const QList<std::pair<QString, QString>> titles{
        {"", "0"},
        {"Jingle 1234", "0"},
        {"-5 Minus", "0"},
        {QString::fromUtf8("\u0663\u0664 Arabic-Indic digits"), "0"},
        {"0042 Jingle", "42"},
        {"1234.5 Jingle", "1234"},
        {"1e5 Promo", "1"},
        {"12ab", "12"},
        {"123456789012345", "123456789012345"},
        {"0000000000000000001 Padded", "1"},
        {"1234567890123456 Long", "1.23456789012346E+15"},
        {"99999999999999999999", "1E+20"}};
    for (const auto& [title, cart] : titles) {
        EXPECT_EQ(CartFromTitle(title), cart) << title.toStdString();
    }
}
