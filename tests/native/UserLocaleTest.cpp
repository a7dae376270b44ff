// The system's regional settings as the library reads them. These run only where CTest sets a
// locale and tells the expected outcome through the environment.

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "controls/VClExt.h"
#include "data/DataXT.h"
#include "data/SystemLocale.h"

namespace {

// The expectation named by `variable`, or "" when the run does not set it.
std::string Expected(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

TEST(UserLocale, DecimalSeparatorComesFromTheLocaleAndIsTheDefault) {
    const std::string expected = Expected("PELLITH_EXPECTED_SEPARATOR");
    if (expected.size() != 1)
        GTEST_SKIP() << "PELLITH_EXPECTED_SEPARATOR is not set";
    const wchar_t separator = static_cast<wchar_t>(expected[0]);
    const wchar_t other = separator == L',' ? L'.' : L',';

    EXPECT_EQ(DecimalSeparator(), separator);
    EXPECT_EQ(ReadLocaleDecimalSeparator(), separator);
    EXPECT_EQ(FormatFixed(1.23456, 5), L"1" + std::wstring(1, separator) + L"23456");

    double value = 0;
    EXPECT_TRUE(TryParseFloat(L"0" + std::wstring(1, separator) + L"10", value));
    EXPECT_EQ(value, 0.1);
    EXPECT_FALSE(TryParseFloat(L"0" + std::wstring(1, other) + L"10", value));
    EXPECT_EQ(value, 0);

    const TTerminalData data(nullptr, "EURUSD", 1.23456, 1.23431, 0.00001, 0.0001, 0.1, 0, 0, 0, 5);
    EXPECT_EQ(data.Ask(), L"1" + std::wstring(1, separator) + L"23456");
    EXPECT_EQ(data.Spread(), L"2" + std::wstring(1, separator) + L"5");
}

TEST(UserLocale, SymbolConvertsThroughTheAnsiCodePage) {
    // The code unit, in hexadecimal, that the byte 0xC0 becomes.
    const std::string expected = Expected("PELLITH_EXPECTED_ANSI_C0");
    if (expected.empty())
        GTEST_SKIP() << "PELLITH_EXPECTED_ANSI_C0 is not set";
    const auto unit = static_cast<wchar_t>(std::stoul(expected, nullptr, 16));

    const char symbol[] = {'\xC0', 'B', '\xC0', '\0'};
    const TTerminalData data(nullptr, symbol, 1, 1, 1, 1, 1, 1, 1, 1, 2);
    EXPECT_EQ(data.Symbol(), std::wstring(1, unit) + L"B" + std::wstring(1, unit));
    EXPECT_EQ(AnsiToWide("plain"), L"plain");
    EXPECT_EQ(AnsiToWide(nullptr), L"");
}

} // namespace
