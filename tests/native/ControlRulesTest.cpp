// The input rules of the panel's controls, apart from any window: the arrow step, the value
// after a press, the hover zone and the click latch across threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
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
    EXPECT_FALSE(latch.Take());
    EXPECT_FALSE(latch.Set());
    EXPECT_TRUE(latch.Set());
    EXPECT_TRUE(latch.IsSet());
    EXPECT_TRUE(latch.Take());
    EXPECT_FALSE(latch.Take());
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
            if (latch.Take())
                taken.fetch_add(1);
    });
    int made = 0;
    int setOverAWaitingClick = 0;
    while (made < clicks && !late()) {
        if (latch.IsSet())
            continue;
        setOverAWaitingClick += latch.Set();
        ++made;
        while (latch.IsSet() && !late()) {
        }
    }
    host.join();
    EXPECT_EQ(made, clicks) << "the clicking thread gave up at the deadline";
    EXPECT_EQ(taken.load(), clicks) << "clicks taken of " << made << " made";
    EXPECT_EQ(setOverAWaitingClick, 0);
}
