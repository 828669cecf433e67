#include "platform/errors.h"
#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace nocturo {
namespace {

struct Rounding {
    double value;
    std::int32_t half_even;
    std::int32_t down;
};

class RoundingRules : public testing::TestWithParam<Rounding> {};

TEST_P(RoundingRules, RoundHalvesToEvenAndDownToTheLowerWholeNumber) {
    EXPECT_EQ(round_half_even(GetParam().value), GetParam().half_even) << GetParam().value;
    EXPECT_EQ(round_down(GetParam().value), GetParam().down) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Table, RoundingRules,
                         testing::Values(Rounding{0.5, 0, 0}, Rounding{1.5, 2, 1},
                                         Rounding{2.5, 2, 2}, Rounding{3.5, 4, 3},
                                         Rounding{2.51, 3, 2}, Rounding{2.49, 2, 2},
                                         Rounding{-0.5, 0, -1}, Rounding{-1.5, -2, -2},
                                         Rounding{-2.5, -2, -3}, Rounding{-2.6, -3, -3},
                                         Rounding{86402.5, 86402, 86402},
                                         Rounding{86403.5, 86404, 86403}, Rounding{7.0, 7, 7}));

TEST(NumberRules, RoundingOutsideTheThirtyTwoBitRangeRaisesOverflow) {
    try {
        round_half_even(3e9);
        FAIL() << "no error";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Overflow);
    }
    EXPECT_EQ(round_half_even(2147483647.0), 2147483647);
    EXPECT_EQ(round_down(-2147483648.0), std::numeric_limits<std::int32_t>::min());
}

TEST(NumberRules, NotANumberAndInfinityRaiseTheFloatingPointError) {
    for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        try {
            round_half_even(bad);
            FAIL() << "no error for " << bad;
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::FloatingPoint);
        }
        EXPECT_THROW(round_down(bad), RunTimeError);
    }
}

struct Arithmetic {
    const char* name;
    std::int16_t (*op)(std::int16_t, std::int16_t);
    std::int16_t a, b;
    std::int32_t expected; // outside 16 bits: overflow
};

class SixteenBitArithmetic : public testing::TestWithParam<Arithmetic> {};

TEST_P(SixteenBitArithmetic, GivesTheResultOrRaisesOverflowOutsideSixteenBits) {
    const Arithmetic& c = GetParam();
    if (c.expected < -32768 || c.expected > 32767) {
        try {
            c.op(c.a, c.b);
            FAIL() << c.name << " did not overflow";
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Overflow);
            EXPECT_EQ(std::string(e.what()).find("std::"), std::string::npos);
        }
    } else {
        EXPECT_EQ(c.op(c.a, c.b), c.expected) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SixteenBitArithmetic,
                         testing::Values(Arithmetic{"add", add16, 32766, 1, 32767},
                                         Arithmetic{"add over", add16, 32767, 1, 32768},
                                         Arithmetic{"add under", add16, -32768, -1, -32769},
                                         Arithmetic{"sub", sub16, -32767, 1, -32768},
                                         Arithmetic{"sub under", sub16, -32768, 1, -32769},
                                         Arithmetic{"sub over", sub16, 0, -32768, 32768},
                                         Arithmetic{"mul", mul16, 300, 25, 7500},
                                         Arithmetic{"mul negative", mul16, -1, 5, -5},
                                         Arithmetic{"mul over", mul16, 256, 128, 32768},
                                         Arithmetic{"mul min by -1", mul16, -32768, -1, 32768}),
                         [](const auto& p) {
                             std::string name = p.param.name;
                             for (char& ch : name) {
                                 if (ch == ' ' || ch == '-') {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

TEST(NumberRules, StatusLineNumbersCarryABlankOrAMinusSignAndRowNumbersNeither) {
    EXPECT_EQ(str_number(16), " 16");
    EXPECT_EQ(str_number(0), " 0");
    EXPECT_EQ(str_number(-3), "-3");
    EXPECT_EQ(str_number(7870), " 7870");
    EXPECT_EQ(row_number(10), "10");
    EXPECT_EQ(row_number(300), "300");
}

} // namespace
} // namespace nocturo
