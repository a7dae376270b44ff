// The decimal parser and the blank test.

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

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double DoubleMax = std::numeric_limits<double>::max();
constexpr double LeastSubnormal = std::numeric_limits<double>::denorm_min();

std::wstring W(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// Doubles are compared bit for bit, so that -0 and +0 differ.
std::uint64_t Bits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

struct TParseCase {
    std::wstring text;
    bool ok;
    double value;
    wchar_t separator = L'.';
};

void PrintTo(const TParseCase& c, std::ostream* os) {
    *os << '"';
    for (wchar_t ch : c.text) {
        if (ch >= 0x20 && ch < 0x7F)
            *os << static_cast<char>(ch);
        else
            *os << "\\u" << std::hex << static_cast<std::uint32_t>(ch) << std::dec;
    }
    *os << "\" with '" << static_cast<char>(c.separator) << "'";
}

class TryParseFloatTable : public testing::TestWithParam<TParseCase> {};

TEST_P(TryParseFloatTable, GivesTheExpectedResultAndValue) {
    const TParseCase& c = GetParam();
    double value = 12345.0;
    EXPECT_EQ(TryParseFloat(c.text, value, c.separator), c.ok);
    EXPECT_EQ(Bits(value), Bits(c.value)) << "value " << value << ", expected " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, TryParseFloatTable,
    testing::Values(TParseCase{L"0.10", true, 0.1}, TParseCase{L"  12  ", true, 12},
                    TParseCase{L"-.5", true, -0.5}, TParseCase{L"5.", true, 5},
                    TParseCase{L".", true, 0}, TParseCase{L"1e3", true, 1000},
                    TParseCase{L"2E-2", true, 0.02}, TParseCase{L"1e", true, 1},
                    TParseCase{L"", false, 0}, TParseCase{L"+", false, 0},
                    TParseCase{L"e5", false, 0}, TParseCase{L"0,10", false, 0},
                    TParseCase{L"1,000.5", false, 0}, TParseCase{L"1 5", false, 0},
                    TParseCase{L"abc", false, 0}, TParseCase{L"1E5000", false, 0},
                    TParseCase{L"\t25.0\r\n", true, 25}, TParseCase{L"1E999", true, Inf}));

INSTANTIATE_TEST_SUITE_P(
    Grammar, TryParseFloatTable,
    testing::Values(
        TParseCase{L"-", false, 0}, TParseCase{L"+5", true, 5}, TParseCase{L"--5", false, 0},
        TParseCase{L"+-5", false, 0}, TParseCase{L"-.", true, -0.0}, TParseCase{L"-0", true, -0.0},
        TParseCase{L"0", true, 0}, TParseCase{L"1e-", true, 1}, TParseCase{L"1e+", true, 1},
        TParseCase{L"1E+2", true, 100}, TParseCase{L".e5", true, 0}, TParseCase{L"e", false, 0},
        TParseCase{L"-e1", false, 0}, TParseCase{L"1e5e", false, 0}, TParseCase{L"1.2.3", false, 0},
        TParseCase{L"1e2.5", false, 0}, TParseCase{L"1e--2", false, 0},
        TParseCase{L"0x10", false, 0}, TParseCase{L"inf", false, 0}, TParseCase{L"nan", false, 0},
        TParseCase{L"Infinity", false, 0}, TParseCase{L"1e 5", false, 0},
        TParseCase{L"1 e5", false, 0}, TParseCase{L"- 1", false, 0},
        TParseCase{L"00012.5000", true, 12.5}, TParseCase{L"000", true, 0},
        TParseCase{L"0.000e999", true, 0}, TParseCase{L".000001", true, 1e-6},
        TParseCase{L"\u0661", false, 0},  // an Arabic-Indic digit is no digit here
        TParseCase{L"\uFF11", false, 0},  // nor is a full-width one
        TParseCase{L"1\u00A0", false, 0}, // no-break space is not a blank
        TParseCase{L"\u00A012", false, 0}, TParseCase{L"\u300012", false, 0},
        TParseCase{L"\uFEFF12", false, 0}));

// The exponent's digits are read while its value is below 500; a digit left over is an error.
INSTANTIATE_TEST_SUITE_P(
    ExponentReadingLimit, TryParseFloatTable,
    testing::Values(TParseCase{L"1e499", true, Inf}, TParseCase{L"1e0500", true, Inf},
                    TParseCase{L"1e05000", false, 0}, TParseCase{L"1e5000", false, 0},
                    TParseCase{L"0e5000", false, 0}, TParseCase{L"1e4999", false, 0},
                    TParseCase{L"1e-999", true, 0}, TParseCase{L"-1e-999", true, -0.0},
                    TParseCase{L"1e-4999", true, 0}, TParseCase{L"1e-5000", false, 0},
                    TParseCase{L"-1E999", true, -Inf}, TParseCase{L"1e0000000002", true, 100},
                    TParseCase{L"1e0004999", false, 0}, TParseCase{L"1e00002", true, 100}));

// Beyond the double range but within extended precision is an infinity; beyond that, invalid.
INSTANTIATE_TEST_SUITE_P(
    ExtendedRange, TryParseFloatTable,
    testing::Values(TParseCase{L"1e4932", true, Inf}, TParseCase{L"-1e4932", true, -Inf},
                    TParseCase{L"1.2e4932", false, 0}, TParseCase{L"-1.2e4932", false, 0},
                    TParseCase{L"1e4933", false, 0}, TParseCase{L"0.1e4933", true, Inf},
                    TParseCase{L"100000e4928", false, 0}, TParseCase{L"0.0001e4936", true, Inf},
                    TParseCase{L"1.18973149535723176502e4932", true, Inf},
                    TParseCase{L"1.189731495357231765053e4932", true, Inf},
                    TParseCase{L"1.18973149535723176506e4932", false, 0},
                    TParseCase{L"11897314953572317650e4913", true, Inf}));

INSTANTIATE_TEST_SUITE_P(
    NearestDouble, TryParseFloatTable,
    testing::Values(TParseCase{L"1.7976931348623157e308", true, DoubleMax},
                    TParseCase{L"1.7976931348623158e308", true, DoubleMax},
                    TParseCase{L"1.7976931348623159e308", true, Inf},
                    TParseCase{L"-1.7976931348623159e308", true, -Inf},
                    TParseCase{L"4.9406564584124654e-324", true, LeastSubnormal},
                    TParseCase{L"2.4703282292062328e-324", true, LeastSubnormal},
                    TParseCase{L"2.4703282292062327e-324", true, 0},
                    TParseCase{L"-2.4703282292062327e-324", true, -0.0},
                    TParseCase{L"2.2250738585072011e-308", true, 2.2250738585072009e-308},
                    TParseCase{L"2.2250738585072014e-308", true,
                               std::numeric_limits<double>::min()},
                    TParseCase{L"1e-400", true, 0}, TParseCase{L"1e308", true, 1e308},
                    TParseCase{L"9007199254740993", true, 9007199254740992.0},
                    TParseCase{L"9007199254740995", true, 9007199254740996.0},
                    TParseCase{L"0.1", true, 0.1}, TParseCase{L"1.23456", true, 1.23456},
                    TParseCase{L"109.125", true, 109.125}));

INSTANTIATE_TEST_SUITE_P(
    CommaSeparator, TryParseFloatTable,
    testing::Values(TParseCase{L"0,10", true, 0.1, L','}, TParseCase{L"0.10", false, 0, L','},
                    TParseCase{L"1,5e2", true, 150, L','}, TParseCase{L",", true, 0, L','},
                    TParseCase{L"-,5", true, -0.5, L','}, TParseCase{L"1,000.5", false, 0, L','},
                    TParseCase{L"1.000,5", false, 0, L','}));

TEST(TryParseFloat, TrimsEveryBlankAndNothingElse) {
    for (wchar_t blank = 0; blank <= 0x20; ++blank) {
        const std::wstring pad(2, blank);
        double value = 0;
        EXPECT_TRUE(TryParseFloat(pad + L"-2.5" + pad, value, L'.')) << "blank " << int(blank);
        EXPECT_EQ(value, -2.5);
        EXPECT_TRUE(TryParseFloat(pad + L"." + pad, value, L'.')) << "blank " << int(blank);
        EXPECT_FALSE(TryParseFloat(L"1" + pad + L"2", value, L'.')) << "blank " << int(blank);
    }
    for (wchar_t other : {L'\x21', L'\x7F', L'\x85', L'\xA0', L'\x2007', L'\x3000'}) {
        double value = 1;
        EXPECT_FALSE(TryParseFloat(std::wstring(1, other) + L"2", value, L'.')) << int(other);
        EXPECT_EQ(value, 0);
        EXPECT_FALSE(TryParseFloat(L"2" + std::wstring(1, other), value, L'.')) << int(other);
    }
}

TEST(TryParseFloat, NulIsABlankOnlyAtTheEnds) {
    double value = 0;
    EXPECT_TRUE(TryParseFloat(std::wstring(L"\0\0 12 \0", 7), value, L'.'));
    EXPECT_EQ(value, 12);
    EXPECT_FALSE(TryParseFloat(std::wstring(L"1\0"
                                            L"2",
                                            3),
                               value, L'.'));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(TryParseFloat(std::wstring(L"1e\0"
                                            L"2",
                                            4),
                               value, L'.'));
    EXPECT_FALSE(TryParseFloat(std::wstring(L"\0", 1), value, L'.'));
}

// 1 + 2^-53, exactly halfway between 1 and the next double: ties go to the even one, 1.
const std::wstring HalfwayAboveOne = L"1.00000000000000011102230246251565404236316680908203125";

// The decimal digits of 5^n, i.e. of 2^-n scaled by 10^n.
std::string PowerOfFiveDigits(int n) {
    std::vector<int> digits{1}; // least significant first
    for (int i = 0; i < n; ++i) {
        int carry = 0;
        for (int& d : digits) {
            const int product = d * 5 + carry;
            d = product % 10;
            carry = product / 10;
        }
        if (carry != 0)
            digits.push_back(carry);
    }
    std::string text;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it)
        text.push_back(static_cast<char>('0' + *it));
    return text;
}

TEST(TryParseFloat, DigitsFarPastTheHalfwayPointStillDecide) {
    const double nextAfterOne = std::nextafter(1.0, 2.0);
    const std::wstring farZeros(900, L'0');
    struct {
        std::wstring text;
        double value;
    } cases[] = {
        {HalfwayAboveOne, 1.0},
        {HalfwayAboveOne + farZeros, 1.0},
        {HalfwayAboveOne + farZeros + L"1", nextAfterOne},
        {HalfwayAboveOne + std::wstring(5000, L'0') + L"1e0", nextAfterOne},
        {L"-" + HalfwayAboveOne + farZeros + L"1", -nextAfterOne},
        {L"0.000" + HalfwayAboveOne.substr(0, 1) + HalfwayAboveOne.substr(2) + farZeros + L"1e4",
         nextAfterOne},
    };
    for (const auto& c : cases) {
        double value = 0;
        EXPECT_TRUE(TryParseFloat(c.text, value, L'.')) << c.text.size();
        EXPECT_EQ(value, c.value) << c.text.size();
    }
}

TEST(TryParseFloat, HalfTheLeastSubnormalRoundsToEvenUnlessMoreFollows) {
    // 2^-1075 written out: 752 significant digits.
    const std::wstring half = W(PowerOfFiveDigits(1075));
    ASSERT_EQ(half.size(), 752u);
    double value = 1;
    EXPECT_TRUE(TryParseFloat(half + L"e-1075", value, L'.'));
    EXPECT_EQ(Bits(value), Bits(0.0));
    EXPECT_TRUE(TryParseFloat(half + std::wstring(300, L'0') + L"1e-1376", value, L'.'));
    EXPECT_EQ(value, LeastSubnormal);
    EXPECT_TRUE(TryParseFloat(L"-" + half + std::wstring(300, L'0') + L"1e-1376", value, L'.'));
    EXPECT_EQ(value, -LeastSubnormal);
}

TEST(TryParseFloat, HugeTextsAreReadSafely) {
    const std::size_t size = 4 << 20;
    double value = 1;
    EXPECT_TRUE(TryParseFloat(L"0." + std::wstring(size, L'0') + L"1", value, L'.'));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(TryParseFloat(std::wstring(size, L'0') + L"1.5", value, L'.'));
    EXPECT_EQ(value, 1.5);
    EXPECT_FALSE(TryParseFloat(L"1" + std::wstring(size, L'0'), value, L'.'));
    EXPECT_TRUE(
        TryParseFloat(std::wstring(size, L' ') + L"7" + std::wstring(size, L'\n'), value, L'.'));
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(TryParseFloat(std::wstring(size, L'1') + L"x", value, L'.'));
    // Many digits brought back into range by the exponent.
    EXPECT_TRUE(TryParseFloat(std::wstring(5000, L'1') + L"e-4999", value, L'.'));
    EXPECT_EQ(value, 1.1111111111111112);
    EXPECT_TRUE(TryParseFloat(L"0." + std::wstring(5000, L'0') + L"25e4999", value, L'.'));
    EXPECT_EQ(value, 0.025);
    EXPECT_FALSE(TryParseFloat(std::wstring(size, L'9') + L"e-4999", value, L'.'));
}

// from_chars is an independent reference for the texts both accept.
TEST(TryParseFloat, AgreesWithFromCharsOnRandomDecimals) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const int length = 1 + static_cast<int>(random() % (i % 10 == 0 ? 2000 : 24));
        std::string text;
        for (int j = 0; j < length; ++j)
            text.push_back(static_cast<char>('0' + random() % 10));
        const std::size_t point = random() % (std::min<std::size_t>(text.size(), 20) + 1);
        text.insert(point, 1, '.');
        if (random() % 2 == 0) {
            text += 'e';
            text += std::to_string(static_cast<int>(random() % 661) - 330);
        }
        double expected = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), expected);
        if (ec != std::errc() || ptr != text.data() + text.size())
            continue;
        double value = 0;
        ASSERT_TRUE(TryParseFloat(W(text), value, L'.')) << text;
        ASSERT_EQ(Bits(value), Bits(expected)) << text;
        std::string comma = text;
        comma[point] = ',';
        ASSERT_TRUE(TryParseFloat(W(comma), value, L',')) << comma;
        ASSERT_EQ(Bits(value), Bits(expected)) << comma;
    }
}

TEST(TryParseFloat, FormattedValuesReadBack) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x) || std::fabs(x) < 1e-5 || std::fabs(x) >= 1e300)
            continue;
        // 18 significant digits identify a double: 17 decimals after a leading digit of 1..9,
        // or more for a smaller magnitude.
        const int decimals =
            std::max(0, 17 - static_cast<int>(std::floor(std::log10(std::fabs(x)))));
        if (decimals > 18)
            continue;
        double value = 0;
        ASSERT_TRUE(TryParseFloat(FormatFixed(x, decimals, L','), value, L','));
        ASSERT_EQ(value, x) << FormatFixed(x, decimals, L'.');
    }
}

// Arbitrary code units, including ones a signed wchar_t holds as negative numbers, must never
// be read out of bounds and must leave 0 behind when rejected.
TEST(TryParseFloat, ArbitraryCodeUnitsAreRejectedCleanly) {
    std::mt19937 random(3);
    const wchar_t alphabet[] = L"0123456789.,+-eE \t\n";
    for (int i = 0; i < 50000; ++i) {
        std::wstring text(random() % 40, L'\0');
        for (wchar_t& c : text) {
            if (random() % 3 == 0)
                c = static_cast<wchar_t>(random());
            else
                c = alphabet[random() % (sizeof alphabet / sizeof alphabet[0] - 1)];
        }
        double value = 1;
        if (!TryParseFloat(text, value, L'.')) {
            ASSERT_EQ(Bits(value), Bits(0.0));
        }
    }
}

struct TBlankCase {
    std::wstring text;
    bool notBlank;
};

class IsNotBlankTable : public testing::TestWithParam<TBlankCase> {};

TEST_P(IsNotBlankTable, TellsWhetherAnythingAboveU0020Remains) {
    EXPECT_EQ(IsNotBlank(GetParam().text), GetParam().notBlank);
}

INSTANTIATE_TEST_SUITE_P(Texts, IsNotBlankTable,
                         testing::Values(TBlankCase{L"", false}, TBlankCase{L" \t\r\n  ", false},
                                         TBlankCase{std::wstring(L"\0\x1F\x20\x01", 4), false},
                                         TBlankCase{L"  x\t", true}, TBlankCase{L"!", true},
                                         TBlankCase{L"\u00A0", true}, TBlankCase{L"\u3000", true},
                                         TBlankCase{std::wstring(1, static_cast<wchar_t>(-1)),
                                                    true},
                                         TBlankCase{std::wstring(L"\0a\0", 3), true}));

} // namespace
