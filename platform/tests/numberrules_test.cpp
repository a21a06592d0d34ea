// The number rules: leading-numeric reading, half-even rounding, 16-bit range.
#include "numberrules.h"
#include "errorinfo.h"

#include <gtest/gtest.h>

using namespace exel;

struct NumericCase {
    const char *text;
    double value;
};

TEST(NumberRules, leadingNumericReadsUpToFirstOtherCharacter)
{
    const NumericCase cases[] = {
        {"", 0},       {"abc", 0},   {"12", 12},      {"  12", 12},  {"12abc", 12}, {"-7", -7},
        {"+7", 7},     {"1.5", 1.5}, {"1.5.2", 1.5},  {".5", 0.5},   {"3,4", 3},    {"-", 0},
        {"1e5", 1},    {"007", 7},   {"12 34", 12},   {"\t9", 9},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(leadingNumeric(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(NumberRules, roundingGoesToTheEvenNeighbourOnHalves)
{
    const std::pair<double, double> cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3},
    };
    for (const auto &[in, out] : cases)
        EXPECT_DOUBLE_EQ(roundHalfEven(in), out) << in;
}

TEST(NumberRules, sixteenBitRangeIsEnforcedNeverWrapped)
{
    EXPECT_EQ(numericInt16(u"32767"), std::optional<int16_t>(32767));
    EXPECT_EQ(numericInt16(u"-32768"), std::optional<int16_t>(-32768));
    EXPECT_EQ(numericInt16(u"32767.4"), std::optional<int16_t>(32767));
    EXPECT_FALSE(numericInt16(u"32767.5").has_value()); // rounds to 32768
    EXPECT_FALSE(numericInt16(u"32768").has_value());
    EXPECT_FALSE(numericInt16(u"-32769").has_value());
    EXPECT_FALSE(numericInt16(QString(400, QLatin1Char('9'))).has_value());
    EXPECT_EQ(overflowError().number, 6);
    EXPECT_EQ(overflowError().description, QStringLiteral("Overflow"));
}

TEST(NumberRules, errorNumbersCarryALeadingBlank)
{
    EXPECT_EQ(numberWithSign(53), QStringLiteral(" 53"));
    EXPECT_EQ(numberWithSign(0), QStringLiteral(" 0"));
    EXPECT_EQ(numberWithSign(-5), QStringLiteral("-5"));
    EXPECT_EQ(errorLines(ErrorInfo{2, QStringLiteral("No such file or directory")}),
              QStringLiteral("Error #  2\nNo such file or directory"));
}
