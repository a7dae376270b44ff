// The input rules of the panel's controls, apart from any window: the arrow step, the value
// after a press, the hover zone and the click latch across threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cwchar>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "controls/ControlRules.h"

namespace {

constexpr TStepDirection Up = TStepDirection::sdUp;
constexpr TStepDirection Down = TStepDirection::sdDown;

struct TStepCase {
    double Value;
    double OneDecimal;
    double OtherDecimals;
};

} // namespace

TEST(StepFor, DependsOnTheValueAndTheFieldsDecimals) {
    const double below = std::nextafter(0.1, 0.0);
    const TStepCase cases[] = {
        {1, 1, 1},          {250, 1, 1},       {0.99, 0.1, 0.1}, {0.1, 0.1, 0.1},
        {below, 0.1, 0.01}, {0.09, 0.1, 0.01}, {0, 0.1, 0.01},   {-0.0, 0.1, 0.01},
        {-0.01, 0.1, 0},    {-3, 0.1, 0},      {HUGE_VAL, 1, 1}, {-HUGE_VAL, 0.1, 0},
    };
    for (const TStepCase& test : cases) {
        SCOPED_TRACE(test.Value);
        EXPECT_EQ(StepFor(test.Value, 1), test.OneDecimal);
        EXPECT_EQ(StepFor(test.Value, 2), test.OtherDecimals);
        EXPECT_EQ(StepFor(test.Value, 0), test.OtherDecimals);
        EXPECT_EQ(StepFor(test.Value, 5), test.OtherDecimals);
    }
    // A tenth read back from text counts as a tenth, not as slightly less.
    EXPECT_EQ(StepFor(0.1, 2), 0.1);
}

TEST(ValueAfterPress, StepsTheParsedTextAndClampsAtZero) {
    struct TCase {
        const wchar_t* Text;
        int Digits;
        TStepDirection Direction;
        double Expected;
    };
    const TCase cases[] = {
        {L"0.10", 2, Down, 0.0}, {L"0.00", 2, Down, 0.0}, {L"0.00", 2, Up, 0.01},
        {L"0.09", 2, Up, 0.1},   {L"0.10", 2, Up, 0.2},   {L"0.99", 2, Up, 1.09},
        {L"1.00", 2, Down, 0.0}, {L"1.50", 2, Down, 0.5}, {L"1e3", 2, Up, 1001},
        {L"0,10", 2, Up, 0.0},   {L" 0.25", 2, Up, 0.35}, {L"-3", 2, Up, 0.0},
        {L"-3", 2, Down, 0.0},   {L"abc", 2, Up, 0.0},    {L"", 1, Up, 0.0},
        {L"0.0", 1, Up, 0.1},    {L"0.9", 1, Up, 1.0},    {L"1.0", 1, Up, 2.0},
        {L"1.0", 1, Down, 0.0},  {L"0.5", 1, Down, 0.4},  {L"25.0", 1, Up, 26.0},
        {L"-0.5", 1, Up, 0.0},   {L"INF", 1, Up, 0.0},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(::testing::Message()
                     << test.Digits << " decimals, " << (test.Direction == Up ? "up" : "down"));
        // The sum is taken in double precision: compare with the nearest double of the result.
        EXPECT_DOUBLE_EQ(ValueAfterPress(test.Text, test.Digits, test.Direction, L'.'),
                         test.Expected)
            << std::wstring(test.Text).size();
    }
    EXPECT_EQ(ValueAfterPress(L"1E999", 2, Up, L'.'), HUGE_VAL);
    EXPECT_DOUBLE_EQ(ValueAfterPress(L"0,10", 2, Up, L','), 0.2);
}

TEST(ExchangeValueOf, BlankIsZeroAndAnyTextThatIsNoFiniteNumberIsNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const wchar_t* Text;
        wchar_t Separator;
        double Value; // NaN: the field reads as no number
    } cases[] = {
        {L"", L'.', 0},          {L"   ", L'.', 0},     {L"\t \t", L'.', 0},
        {L"0", L'.', 0},         {L"-0", L'.', 0},      {L"-0.0", L'.', 0},
        {L" 25.5 ", L'.', 25.5}, {L"25,5", L',', 25.5}, {L"-3", L'.', -3},
        {L"25,5", L'.', nan},    {L"25.5", L',', nan},  {L"3O", L'.', nan},
        {L"25 5", L'.', nan},    {L"x", L'.', nan},     {L"-", L'.', nan},
        {L"1e400", L'.', nan},   {L"1E999", L'.', nan}, {L"-1e400", L'.', nan},
        {L"nan", L'.', nan},     {L"inf", L'.', nan},   {L"-Infinity", L'.', nan},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << std::string(c.Text, c.Text + std::wcslen(c.Text))
                                        << "\" with '" << static_cast<char>(c.Separator) << "'");
        const double value = ExchangeValueOf(c.Text, c.Separator);
        if (std::isnan(c.Value)) {
            EXPECT_TRUE(std::isnan(value)) << value;
        } else {
            EXPECT_EQ(value, c.Value);
            EXPECT_FALSE(std::signbit(value) && value == 0) << "-0 is handed over as 0";
        }
    }
}

TEST(InHoverZone, StrictBoundariesOnAPriceLabelAndTheLinkLabel) {
    struct TCase {
        int X, Y, Width, Height;
        bool Inside;
    };
    const TCase cases[] = {
        {20, 5, 93, 17, false},   {21, 5, 93, 17, true},    {72, 5, 93, 17, true},
        {73, 5, 93, 17, false},   {40, 0, 93, 17, false},   {40, 1, 93, 17, true},
        {40, 11, 93, 17, true},   {40, 12, 93, 17, false},  {21, 1, 198, 17, true},
        {177, 11, 198, 17, true}, {178, 5, 198, 17, false}, {-5, -5, 93, 17, false},
        {30, 5, 40, 17, false}, // too narrow for any zone
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(::testing::Message() << test.X << "," << test.Y << " in " << test.Width);
        EXPECT_EQ(InHoverZone(test.X, test.Y, test.Width, test.Height), test.Inside);
    }
}

TEST(ClickLatch, ReportsAClickOnceAndCollapsesRepeats) {
    TClickLatch latch;
    EXPECT_FALSE(latch.Take(1000));
    EXPECT_FALSE(latch.Set(1000));
    EXPECT_TRUE(latch.Set(1010));
    EXPECT_TRUE(latch.IsSet(1020));
    EXPECT_TRUE(latch.Take(1020));
    EXPECT_FALSE(latch.Take(1020));
}

TEST(ClickLatch, AClickNoExchangeTookInTimeIsDropped) {
    constexpr std::uint64_t fresh = TClickLatch::FreshForMs;
    const struct {
        const char* Name;
        std::uint64_t ClickedAt, TakenAt;
        bool Taken;
    } cases[] = {
        {"at once", 5000, 5000, true},
        {"at the limit", 5000, 5000 + fresh, true},
        {"just past it", 5000, 5001 + fresh, false},
        {"hours later", 5000, 5000 + 3600000, false},
        {"at time 0", 0, fresh, true},
        {"read on a clock a little behind", 5000, 4990, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TClickLatch latch;
        latch.Set(c.ClickedAt);
        EXPECT_EQ(latch.IsSet(c.TakenAt), c.Taken);
        EXPECT_EQ(latch.Take(c.TakenAt), c.Taken);
        EXPECT_FALSE(latch.Take(c.TakenAt)) << "a click is taken once, fresh or not";
    }
    // A later click renews the latch; dropping clears only a stale one.
    TClickLatch latch;
    latch.Set(1000);
    EXPECT_FALSE(latch.DropStale(1000 + fresh));
    latch.Set(2000);
    EXPECT_FALSE(latch.DropStale(1001 + fresh)) << "the second click is still fresh";
    EXPECT_TRUE(latch.DropStale(2001 + fresh));
    EXPECT_FALSE(latch.Take(2001 + fresh));
    EXPECT_FALSE(latch.Set(9000)) << "a stale click is no click waiting";
}

TEST(ClickLatch, NoClickIsLostOrReportedTwiceAcrossThreads) {
    // One thread clicks only once the previous click was taken; the other takes as fast as it
    // can. Every click must be taken exactly once. A lost click would leave both threads waiting
    // for each other: both give up at a deadline, and the counts say how far they came.
    TClickLatch latch;
    constexpr int clicks = 20000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
    std::atomic<int> taken{0};
    std::thread host([&] {
        while (taken.load() < clicks && !late())
            if (latch.Take(0))
                taken.fetch_add(1);
    });
    int made = 0;
    int setOverAWaitingClick = 0;
    while (made < clicks && !late()) {
        if (latch.IsSet(0))
            continue;
        setOverAWaitingClick += latch.Set(0);
        ++made;
        while (latch.IsSet(0) && !late()) {
        }
    }
    host.join();
    EXPECT_EQ(made, clicks) << "the clicking thread gave up at the deadline";
    EXPECT_EQ(taken.load(), clicks) << "clicks taken of " << made << " made";
    EXPECT_EQ(setOverAWaitingClick, 0);
}
