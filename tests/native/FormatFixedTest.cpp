// The fixed-point rule: 18 significant digits first, then half away from zero to N decimals.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controls/VClExt.h"
#include "data/DataXT.h"
#include "tests/reference/FormatFixedReference.h"

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct TFixedCase {
    double x;
    int decimals;
    std::wstring text;
};

void PrintTo(const TFixedCase& c, std::ostream* os) {
    char x[64];
    *std::to_chars(x, x + sizeof x - 1, c.x, std::chars_format::general, 21).ptr = '\0';
    *os << x << " with " << c.decimals << " decimals";
}

class FormatFixedTable : public testing::TestWithParam<TFixedCase> {};

// The reference that the differential test and the fuzzer check against must itself give every
// documented text: the sign rule (negative zero, negative NaN, negatives that round to zero)
// included.
TEST_P(FormatFixedTable, WritesTheExpectedText) {
    const TFixedCase& c = GetParam();
    EXPECT_EQ(FormatFixed(c.x, c.decimals, L'.'), c.text);
    EXPECT_EQ(FormatFixedReference(c.x, c.decimals, L'.'), c.text) << "the reference";
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, FormatFixedTable,
    testing::Values(TFixedCase{1.2345, 5, L"1.23450"}, TFixedCase{0.006, 2, L"0.01"},
                    TFixedCase{0.996, 2, L"1.00"}, TFixedCase{2.5, 0, L"3"},
                    TFixedCase{0.25, 1, L"0.3"}, TFixedCase{1234.125, 2, L"1234.13"},
                    TFixedCase{-0.005, 2, L"-0.01"}, TFixedCase{1.5, 25, L"1.50"},
                    TFixedCase{1.5, -1, L""}, TFixedCase{1.23456, 5, L"1.23456"},
                    TFixedCase{109.125, 3, L"109.125"}, TFixedCase{1.3, 4, L"1.3000"}));

// Values that are exactly halfway round up in magnitude.
INSTANTIATE_TEST_SUITE_P(ExactHalves, FormatFixedTable,
                         testing::Values(TFixedCase{0.125, 2, L"0.13"},
                                         TFixedCase{-0.125, 2, L"-0.13"}, TFixedCase{2.5, 0, L"3"},
                                         TFixedCase{-2.5, 0, L"-3"}, TFixedCase{0.5, 0, L"1"},
                                         TFixedCase{-0.5, 0, L"-1"}, TFixedCase{1.5, 0, L"2"},
                                         TFixedCase{62.125, 2, L"62.13"},
                                         TFixedCase{0.0625, 3, L"0.063"},
                                         TFixedCase{1.375, 2, L"1.38"}));

// The decision is taken on the 18-digit form of the stored double, not on the literal.
INSTANTIATE_TEST_SUITE_P(
    EighteenDigitForm, FormatFixedTable,
    testing::Values(
        // Stored just below the half, and still below it at 18 digits.
        TFixedCase{1.005, 2, L"1.00"}, TFixedCase{2.675, 2, L"2.67"}, TFixedCase{1.45, 1, L"1.4"},
        TFixedCase{0.15, 1, L"0.1"},
        // Stored just above the half.
        TFixedCase{4.45, 1, L"4.5"}, TFixedCase{99.995, 2, L"100.00"},
        // Stored below the half, but 1000.00499999999999545... is 1000.00500000000000 at 18
        // digits: the rounding to 18 digits comes first.
        TFixedCase{1000.005, 2, L"1000.01"}, TFixedCase{1001.755, 2, L"1001.76"},
        // The 19th digit is a tie at 18 digits, which rounds to even before the decimals.
        TFixedCase{1000000000000000.125, 2, L"1000000000000000.12"},
        TFixedCase{1000000000000000.375, 2, L"1000000000000000.38"},
        TFixedCase{1000000000000000.625, 2, L"1000000000000000.62"},
        // All 18 digits and no more; zeros after them.
        TFixedCase{0.1, 18, L"0.100000000000000006"},
        TFixedCase{1.0 / 3, 18, L"0.333333333333333315"},
        TFixedCase{2.0 / 3, 17, L"0.66666666666666663"},
        TFixedCase{1.5, 18, L"1.500000000000000000"},
        TFixedCase{123456.789, 18, L"123456.789000000004000000"}));

INSTANTIATE_TEST_SUITE_P(
    CarriesThroughNines, FormatFixedTable,
    testing::Values(TFixedCase{0.996, 2, L"1.00"}, TFixedCase{99.995, 2, L"100.00"},
                    TFixedCase{0.9995, 3, L"1.000"}, TFixedCase{9.96, 1, L"10.0"},
                    TFixedCase{999.5, 0, L"1000"}, TFixedCase{-999.96, 1, L"-1000.0"},
                    TFixedCase{1.0996, 3, L"1.100"}, TFixedCase{0.096, 2, L"0.10"}));

// Nothing kept (k <= 0): a first digit of 5 or more gives one unit, anything else zero.
INSTANTIATE_TEST_SUITE_P(
    SmallMagnitudes, FormatFixedTable,
    testing::Values(TFixedCase{0.004, 2, L"0.00"}, TFixedCase{0.05, 1, L"0.1"},
                    TFixedCase{0.0005, 3, L"0.001"}, TFixedCase{0.00049999, 3, L"0.000"},
                    TFixedCase{0.0009, 2, L"0.00"}, TFixedCase{0.4, 0, L"0"},
                    TFixedCase{0.000123, 5, L"0.00012"}, TFixedCase{1e-5, 5, L"0.00001"},
                    TFixedCase{1e-300, 18, L"0.000000000000000000"}, TFixedCase{5e-324, 2, L"0.00"},
                    TFixedCase{2.2250738585072014e-308, 18, L"0.000000000000000000"}));

// A minus sign only when x is negative and the rounded value is not zero: a negative zero carries
// the sign bit but is no negative number.
INSTANTIATE_TEST_SUITE_P(
    SignRule, FormatFixedTable,
    testing::Values(TFixedCase{-0.004, 2, L"0.00"}, TFixedCase{-0.005, 2, L"-0.01"},
                    TFixedCase{-0.04, 1, L"0.0"}, TFixedCase{-0.05, 1, L"-0.1"},
                    TFixedCase{-0.4, 0, L"0"}, TFixedCase{-0.0, 2, L"0.00"},
                    TFixedCase{-5e-324, 3, L"0.000"}, TFixedCase{-1.0, 1, L"-1.0"},
                    TFixedCase{-0.0, 0, L"0"}, TFixedCase{-0.0, 18, L"0.000000000000000000"}));

INSTANTIATE_TEST_SUITE_P(
    DecimalsOutOfRange, FormatFixedTable,
    testing::Values(TFixedCase{1.5, -1, L""}, TFixedCase{0.0, -1, L""}, TFixedCase{Inf, -1, L""},
                    TFixedCase{NaN, -5, L""}, TFixedCase{1.5, std::numeric_limits<int>::min(), L""},
                    TFixedCase{1.5, 19, L"1.50"}, TFixedCase{-0.125, 19, L"-0.13"},
                    TFixedCase{1.5, std::numeric_limits<int>::max(), L"1.50"},
                    TFixedCase{0.0, 0, L"0"}, TFixedCase{0.0, 18, L"0.000000000000000000"},
                    TFixedCase{7.0, 0, L"7"}));

INSTANTIATE_TEST_SUITE_P(NotFinite, FormatFixedTable,
                         testing::Values(TFixedCase{Inf, 2, L"INF"}, TFixedCase{-Inf, 2, L"-INF"},
                                         TFixedCase{Inf, 0, L"INF"}, TFixedCase{-Inf, 30, L"-INF"},
                                         TFixedCase{NaN, 2, L"NAN"}, TFixedCase{-NaN, 2, L"NAN"},
                                         TFixedCase{NaN, 0, L"NAN"}));

// 1e18 and above: the 18 digits, then zeros to the end of the integer part; no exponent.
INSTANTIATE_TEST_SUITE_P(
    LargeMagnitudes, FormatFixedTable,
    testing::Values(TFixedCase{999999999999999872.0, 0, L"999999999999999872"},
                    TFixedCase{1e18, 0, L"1000000000000000000"},
                    TFixedCase{1e18, 2, L"1000000000000000000.00"},
                    TFixedCase{-1e18, 1, L"-1000000000000000000.0"},
                    TFixedCase{123456789012345678901234.0, 1, L"123456789012345686000000.0"},
                    TFixedCase{1e300, 0, L"100000000000000005" + std::wstring(283, L'0')}));

TEST(FormatFixed, WritesTheGivenSeparator) {
    EXPECT_EQ(FormatFixed(1.23456, 5, L','), L"1,23456");
    EXPECT_EQ(FormatFixed(-0.005, 2, L','), L"-0,01");
    EXPECT_EQ(FormatFixed(0.0, 1, L','), L"0,0");
    EXPECT_EQ(FormatFixed(2.5, 0, L','), L"3");
    EXPECT_EQ(FormatFixed(1e18, 1, L','), L"1000000000000000000,0");
}

TEST(FormatFixed, LongestTextFitsTheDeclaredBound) {
    const double max = std::numeric_limits<double>::max();
    const std::wstring text = FormatFixed(-max, 18, L'.');
    ASSERT_EQ(text.size(), MaxFixedTextLength);
    EXPECT_EQ(text.substr(0, 19), L"-179769313486231571");
    EXPECT_EQ(text.substr(19, 291), std::wstring(291, L'0'));
    EXPECT_EQ(text.substr(310), L"." + std::wstring(18, L'0'));

    wchar_t buffer[MaxFixedTextLength];
    EXPECT_EQ(FormatFixedTo(buffer, -max, 18, L'.'), MaxFixedTextLength);
    EXPECT_EQ(std::wstring(buffer, MaxFixedTextLength), text);
}

TEST(FormatFixed, LargeMagnitudesReadBackToTheSameDouble) {
    for (double x : {1e18, 9.87654321e25, 1.7976931348623157e308, -4.2e200}) {
        double back = 0;
        ASSERT_TRUE(TryParseFloat(FormatFixed(x, 0, L'.'), back, L'.')) << x;
        EXPECT_EQ(back, x);
    }
}

// Any decimal with at most 15 significant digits is stored within far less than half a unit
// of its 18th digit, so its text with its own number of decimals must come back unchanged.
TEST(FormatFixed, WritesShortDecimalsBackExactly) {
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<std::int64_t> mantissa(0, 999'999'999'999'999);
    std::uniform_int_distribution<int> decimals(0, 8);
    for (int i = 0; i < 20000; ++i) {
        const std::int64_t m = mantissa(random) >> (random() % 48);
        const int n = decimals(random);
        std::string digits = std::to_string(m);
        if (static_cast<int>(digits.size()) <= n)
            digits.insert(0, n + 1 - digits.size(), '0');
        std::string text = digits;
        if (n > 0)
            text.insert(text.size() - n, 1, '.');
        if (i % 2 == 1 && m != 0)
            text.insert(0, 1, '-');
        double x = 0;
        ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), x).ec, std::errc());
        EXPECT_EQ(FormatFixed(x, n, L'.'), std::wstring(text.begin(), text.end())) << text;
    }
}

TEST(FormatFixed, AgreesWithTheReferenceFromTheExactBinaryValue) {
    std::mt19937_64 random(99);
    std::vector<double> values;
    // Any bit pattern.
    for (int i = 0; i < 30000; ++i) {
        const std::uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x) && x != 0)
            values.push_back(x);
    }
    // Magnitudes from 1e-12 to 1e17, where prices, lots and pips live.
    std::uniform_real_distribution<double> logMagnitude(-12, 17);
    for (int i = 0; i < 60000; ++i)
        values.push_back((i % 2 ? -1 : 1) * std::pow(10.0, logMagnitude(random)));
    // Exact ties at the 18th digit: r / 2^(p+1) with r odd is (5^p r / 2) / 10^p.
    for (int p = 2; p <= 12; ++p) {
        const double lowest = std::ceil(2e17 / std::pow(5.0, p));
        const double highest = std::min(9007199254740991.0, 2e18 / std::pow(5.0, p));
        if (lowest >= highest)
            continue;
        std::uniform_int_distribution<std::uint64_t> odd(static_cast<std::uint64_t>(lowest),
                                                         static_cast<std::uint64_t>(highest));
        for (int i = 0; i < 2000; ++i)
            values.push_back(std::ldexp(static_cast<double>(odd(random) | 1), -(p + 1)));
    }
    // Either side of every power of ten a double reaches.
    for (int k = -320; k <= 308; ++k) {
        const double power = std::pow(10.0, k);
        values.push_back(std::nextafter(power, 0.0));
        values.push_back(power);
        values.push_back(std::nextafter(power, Inf));
    }
    std::uniform_int_distribution<int> decimals(0, 18);
    for (double x : values) {
        const int n = decimals(random);
        ASSERT_EQ(FormatFixed(x, n, L'.'), FormatFixedReference(x, n, L'.'))
            << std::hexfloat << x << " with " << n << " decimals";
    }
}

} // namespace
