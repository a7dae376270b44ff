// The snapshot built from a host's arguments.

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "data/DataXT.h"

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The snapshot writes with the process's separator; the expectations are written with '.'.
std::wstring Localised(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'.')
            c = DecimalSeparator();
    }
    return text;
}

struct TPriceCase {
    double ask;
    double bid;
    double myPoint;
    int digits;
    std::wstring askText;
    std::wstring bidText;
    std::wstring spreadText;
};

void PrintTo(const TPriceCase& c, std::ostream* os) {
    *os << "ask " << c.ask << ", bid " << c.bid << ", pip " << c.myPoint << ", digits " << c.digits;
}

class TerminalDataPrices : public testing::TestWithParam<TPriceCase> {};

TEST_P(TerminalDataPrices, WritesAskBidAndSpread) {
    const TPriceCase& c = GetParam();
    const TTerminalData data(nullptr, "EURUSD", c.ask, c.bid, 0.00001, c.myPoint, 0.1, 30, 60, 20,
                             c.digits);
    EXPECT_EQ(data.Ask(), Localised(c.askText));
    EXPECT_EQ(data.Bid(), Localised(c.bidText));
    EXPECT_EQ(data.Spread(), Localised(c.spreadText));
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, TerminalDataPrices,
    testing::Values(TPriceCase{1.23456, 1.23431, 0.0001, 5, L"1.23456", L"1.23431", L"2.5"},
                    TPriceCase{109.125, 109.105, 0.01, 3, L"109.125", L"109.105", L"2.0"},
                    TPriceCase{1.3, 1.3, 0.0001, 4, L"1.3000", L"1.3000", L"0.0"}));

INSTANTIATE_TEST_SUITE_P(
    Digits, TerminalDataPrices,
    testing::Values(TPriceCase{1.5, 1.4, 0.1, 0, L"2", L"1", L"1.0"},
                    TPriceCase{1.5, 1.4, 0.1, -1, L"", L"", L"1.0"},
                    TPriceCase{1.5, 1.4, 0.1, INT_MIN, L"", L"", L"1.0"},
                    TPriceCase{1.23456, 1.23431, 0.0001, 19, L"1.23", L"1.23", L"2.5"},
                    TPriceCase{1.23456, 1.23431, 0.0001, INT_MAX, L"1.23", L"1.23", L"2.5"},
                    TPriceCase{1.23456, 1.23431, 0.0001, 18, L"1.234560000000000100",
                               L"1.234310000000000020", L"2.5"}));

INSTANTIATE_TEST_SUITE_P(
    Spread, TerminalDataPrices,
    testing::Values(
        // One pip the wrong way round, and a fraction of a pip that rounds to an unsigned zero.
        TPriceCase{1.2345, 1.2346, 0.0001, 4, L"1.2345", L"1.2346", L"-1.0"},
        TPriceCase{1.0, 1.000004, 0.0001, 6, L"1.000000", L"1.000004", L"0.0"},
        TPriceCase{1.23456, 1.23451, 0.0001, 5, L"1.23456", L"1.23451", L"0.5"},
        // A zero pip size gives the IEEE quotient, never a trap.
        TPriceCase{1.3, 1.3, 0.0, 4, L"1.3000", L"1.3000", L"NAN"},
        TPriceCase{1.3001, 1.3, 0.0, 4, L"1.3001", L"1.3000", L"INF"},
        TPriceCase{1.3, 1.3001, 0.0, 4, L"1.3000", L"1.3001", L"-INF"},
        TPriceCase{1.3001, 1.3, -0.0, 4, L"1.3001", L"1.3000", L"-INF"},
        // Prices that are not finite.
        TPriceCase{Inf, 1.3, 0.0001, 4, L"INF", L"1.3000", L"INF"},
        TPriceCase{1.3, Inf, 0.0001, 4, L"1.3000", L"INF", L"-INF"},
        TPriceCase{-Inf, 1.3, 0.0001, 4, L"-INF", L"1.3000", L"-INF"},
        TPriceCase{Inf, Inf, 0.0001, 4, L"INF", L"INF", L"NAN"},
        TPriceCase{NaN, 1.3, 0.0001, 4, L"NAN", L"1.3000", L"NAN"},
        TPriceCase{1.3, 1.3, NaN, 4, L"1.3000", L"1.3000", L"NAN"},
        TPriceCase{1.3, 1.2, Inf, 4, L"1.3000", L"1.2000", L"0.0"}));

std::uint64_t Bits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

TEST(TerminalData, KeepsTheHandleAndTheTradeParametersUnchanged) {
    const auto window = reinterpret_cast<TWindowHandle>(static_cast<std::uintptr_t>(0x10ABC));
    const TTerminalData data(window, "GBPJPY", 191.5, 191.48, 0.001, 0.01, 0.25, -0.0, NaN, 1e300,
                             3);
    EXPECT_EQ(data.WndChart(), window);
    EXPECT_EQ(data.Symbol(), L"GBPJPY");
    EXPECT_EQ(data.MyPoint(), 0.01);
    EXPECT_EQ(data.Lots(), 0.25);
    EXPECT_EQ(Bits(data.StopLossPips()), Bits(-0.0));
    EXPECT_EQ(Bits(data.TakeProfitPips()), Bits(NaN));
    EXPECT_EQ(data.TrailStopStartPips(), 1e300);
}

TEST(TerminalData, SymbolIsEmptyForANullOrEmptyName) {
    EXPECT_EQ(TTerminalData(nullptr, nullptr, 1, 1, 1, 1, 1, 1, 1, 1, 2).Symbol(), L"");
    EXPECT_EQ(TTerminalData(nullptr, "", 1, 1, 1, 1, 1, 1, 1, 1, 2).Symbol(), L"");
}

TEST(TerminalData, SymbolKeepsEveryCharacterOfALongName) {
    const std::string name(5000, 'X');
    EXPECT_EQ(TTerminalData(nullptr, name.c_str(), 1, 1, 1, 1, 1, 1, 1, 1, 2).Symbol(),
              std::wstring(5000, L'X'));
}

} // namespace
