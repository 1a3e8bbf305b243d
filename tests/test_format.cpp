// Rounding and the text forms of values, units and plot axis steps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "analysis/format.h"
#include "analysis/rounding.h"
#include "base/cp1251.h"

namespace {

TEST(Rounding, HalvesGoAwayFromZero)
{
    struct Case {
        float x;
        i32 r;
    };
    constexpr float INF = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {2.5f, 3},
        {-2.5f, -3},
        {-2.4f, -2},
        {2.4999f, 2},
        {0.5f, 1},
        {-0.5f, -1},
        {0.49f, 0},
        {0.0f, 0},
        {7.0f, 7},
        {-7.6f, -8},
        {1e6f + 0.5f, 1000001},
        {0.49999997f, 0},
        {8388607.5f, 8388608},
        {-8388607.5f, -8388608},
        // The ends of the i32 range: the largest floats inside it round to
        // themselves, anything beyond saturates, NaN gives 0.
        {2147483520.0f, 2147483520},
        {-2147483648.0f, INT32_MIN},
        {2147483648.0f, INT32_MAX},
        {3e9f, INT32_MAX},
        {-3e9f, INT32_MIN},
        {1e38f, INT32_MAX},
        {INF, INT32_MAX},
        {-INF, INT32_MIN},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {-std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(round_half_away(c.x), c.r) << c.x;
}

TEST(Format, FixedWidthTexts)
{
    struct Case {
        double v;
        int width, decimals;
        const char* text;
    };
    const Case cases[] = {
        {3.14159, 6, 2, "  3.14"},
        {-1234.5, 4, 1, "-***"},  // integer part does not fit
        {12345, 4, 0, "****"},
        {9.96, 4, 1, "10.0"},    // rounding adds an integer digit
        {99.96, 4, 1, " 100"},   // ... and leaves no room for the decimals
        {999.6, 3, 0, "***"},    // ... and no room at all
        {12.345, 4, 3, "12.3"},  // decimals reduced to the room
        {123.4, 4, 2, " 123"},   // room < d + 2: no decimals
        {0.05, 4, 1, " 0.1"},
        {0.04, 4, 1, " 0.0"},
        {-0.25, 5, 1, " -0.3"},
        {7, 3, 0, "  7"},
        {0, 1, 0, "0"},
        {1.005, 6, 2, "  1.00"},  // binary 1.005 lies below the half
        {2147483648.0, 12, 1, "2147483648.0"},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_STREQ(format_fixed(c.v, c.width, c.decimals, out), c.text) << c.v << " w" << c.width;
        EXPECT_EQ(std::string(out).size(), static_cast<size_t>(c.width));
    }
    char out[8];
    EXPECT_STREQ(format_fixed(NAN, 4, 1, out), "****");
}

TEST(Format, SignificantDigits)
{
    struct Case {
        double v;
        int width;
        const char* text;
    };
    const Case cases[] = {
        {0, 5, "0"},         {123.456, 5, "123.5"}, {123, 5, "123"},   {1.5, 5, "1.5"},     {9.99, 3, "10"},
        {0.125, 5, "0.125"}, {0.0123, 6, "0.0123"}, {-2.5, 4, "-2.5"}, {1234567, 4, "1e6"}, {0.00012, 4, "1e-4"},
        {100, 3, "100"},     {10.0, 5, "10"},       {0.5, 3, "0.5"},   {96000, 3, "1e5"},
    };
    for (const auto& c : cases) {
        char out[40];
        EXPECT_STREQ(format_sig(c.v, c.width, out), c.text) << c.v << " w" << c.width;
    }
}

TEST(Format, QuantityTextsAndUnits)
{
    struct Case {
        int index;
        double v;
        const char* text;
    };
    const Case cases[] = {
        {1, 123.44, "123"}, {1, 1234.56, "999"}, {1, 12.34, "12.3"}, {0, 5.0, " 5.0"},    {0, -12.34, "-12"},
        {2, 45.6, " 46"},   {3, 1.234, "1.23"},  {4, 25.2, " 25"},   {2, 12345, "12345"}, {7, 1.0, ""},
    };
    for (const auto& c : cases) {
        char out[32];
        EXPECT_STREQ(format_quantity(out, c.index, c.v), c.text) << c.index << " " << c.v;
    }
    EXPECT_STREQ(unit_of_quantity(0), "\xEC/\xF1\xBD");
    EXPECT_STREQ(unit_of_quantity(1), "мм/с"_cp);
    EXPECT_STREQ(unit_of_quantity(2), "мкм"_cp);
    EXPECT_STREQ(unit_of_quantity(3), "В"_cp);
    EXPECT_STREQ(unit_of_quantity(4),
                 "\xB0"
                 "C");
    EXPECT_STREQ(unit_of_quantity(5), "");
    EXPECT_STREQ(unit_of_kind(0), "с"_cp);
    EXPECT_STREQ(unit_of_kind(1), "Гц"_cp);
    EXPECT_STREQ(unit_of_kind(2), "с"_cp);
    EXPECT_STREQ(unit_of_kind(3), "Гц"_cp);
    EXPECT_STREQ(unit_of_kind(4), "");
}

TEST(Format, DecomposeAndAxisStep)
{
    struct Dec {
        double x, m;
        int e;
    };
    const Dec decs[] = {
        {5, 5, 0},  {50, 5, 1},     {0.5, 5, -1}, {0.05, 5, -2}, {1, 1, 0},
        {10, 1, 1}, {999, 9.99, 2}, {0.1, 1, -1}, {0, 0, 0},
    };
    for (const auto& d : decs) {
        double m;
        int e;
        decompose(d.x, &m, &e);
        EXPECT_NEAR(m, d.m, 1e-9) << d.x;
        EXPECT_EQ(e, d.e) << d.x;
        if (d.x > 0) {
            EXPECT_NEAR(m * std::pow(10.0, e), d.x, 1e-9 * d.x);
        }
    }
    struct Axis {
        double lo, hi;
        int n;
        double first, step;
    };
    const Axis axes[] = {
        {0, 100, 5, 20, 20},     // raw 20: mantissa 2 stays
        {0, 100, 4, 50, 50},     // raw 25: r 3 becomes 5
        {0, 1000, 3, 500, 500},  // raw 333: r 3 becomes 5
        {0, 70, 10, 10, 10},     // raw 7: r 7 becomes 10
        {-3, 3, 6, -2, 1},
        {10, 0, 5, 2, 2},  // bounds swapped
        {0.12, 0.37, 5, 0.15, 0.05},
        {5, 5, 4, 5, 0},  // empty range
        {0, 10, 0, 0, 0},
    };
    for (const auto& a : axes) {
        double first, step;
        axis_step(a.lo, a.hi, a.n, &first, &step);
        EXPECT_NEAR(step, a.step, 1e-9) << a.lo << ".." << a.hi;
        EXPECT_NEAR(first, a.first, 1e-9) << a.lo << ".." << a.hi;
    }
}

}  // namespace
