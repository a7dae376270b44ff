// Pellith.dll driven as the terminal drives it: charts on a pumping thread, the exports called
// from the test's own thread (the expert), the panel found through the chart's properties and
// its window class, and the user's clicks posted to the panel. Covers the states of a chart
// (no panel, pending, attached, gone), the exchange block and its result codes, the panel's
// place on the chart, its one registered message, and arguments no host should pass.

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <thread>

#include "terminal/WindowCapture.h"
#include "tests/win32/dll/DllTestSupport.h"

namespace {

// ---- the exchange ------------------------------------------------------------------------------

using DllExchange = TDllTest;

TEST_F(DllExchange, EveryCallThatReachesThePanelWritesTheFourValuesTheFieldsShow) {
    struct TCase {
        TCreateArgs Args;
        double Lots, StopLoss, TakeProfit, TrailingStop; // as the fields show them
    };
    TCase cases[] = {
        {{.Lots = 0.1, .StopLossPips = 50, .TakeProfitPips = 25, .TrailStopStartPips = 15},
         0.1,
         50,
         25,
         15},
        {{.Lots = 2.5, .StopLossPips = 0, .TakeProfitPips = 120.5, .TrailStopStartPips = 7},
         2.5,
         0,
         120.5,
         7},
        // Lots show two decimals, the pip fields one.
        {{.Lots = 0.123,
          .StopLossPips = 33.34,
          .TakeProfitPips = 1.06,
          .TrailStopStartPips = 99.94},
         0.12,
         33.3,
         1.1,
         99.9},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        HWND chart = NewChart();
        ASSERT_NE(CreateAndWait(chart, c.Args), nullptr);
        // Several calls with different quotes: each one writes all four, nothing else.
        for (const TQuote& quote : {TQuote{}, TQuote{1.2, 1.1, 0.001, 0.01, 3}, TQuote{}}) {
            TBlock block;
            EXPECT_EQ(Exchange(chart, block, quote), erNothing);
            ExpectBlock(block.Values, c.Lots, c.StopLoss, c.TakeProfit, c.TrailingStop);
            EXPECT_EQ(block.Values[4], Untouched) << "written past the fourth slot";
        }
        Delete(chart);
        FHost->DestroyChart(chart);
    }
}

TEST_F(DllExchange, ACallBeforeThePanelIsAttachedReturnsZeroAndWritesNothing) {
    HWND chart = NewChart();
    const int before = PanelThreads();
    {
        THeldThreadStarts held;
        ASSERT_TRUE(held.Held());
        Create(chart);
        ASSERT_EQ(PanelThreads(), before + 1) << "TerminalCreate started no panel thread";
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erNothing);
        EXPECT_TRUE(block.IsUntouched()) << "a pending chart's exchange wrote the block";
        EXPECT_EQ(AttachedPanel(chart), nullptr);
    }
    ASSERT_NE(WaitForPanel(chart), nullptr);
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
}

TEST_F(DllExchange, AnInvalidBlockIsLeftAloneAndKeepsAPendingClick) {
    struct TCase {
        const char* Name;
        bool NullBlock;
        int Size;
    };
    const TCase cases[] = {{"null block", true, ExchangeBlockSize},
                           {"size 3", false, 3},
                           {"size 5", false, 5},
                           {"size 0", false, 0},
                           {"size -1", false, -1},
                           {"size INT_MAX", false, INT_MAX},
                           {"null block, size 0", true, 0}};
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClickAndFlush(panel, TSide::Sell);
        TBlock block;
        EXPECT_EQ(Exchange(chart, c.NullBlock ? nullptr : block.Values, c.Size), erNothing);
        EXPECT_TRUE(block.IsUntouched());
        TBlock valid;
        EXPECT_EQ(Exchange(chart, valid), erSell) << "the invalid call took the click";
        EXPECT_EQ(Exchange(chart, valid), erNothing);
    }
}

TEST_F(DllExchange, EachClickIsReportedOnceAndBuyWinsOverSell) {
    struct TCase {
        std::vector<TSide> Clicks;
        int First; // the result of the first call after the clicks; every later one is 0
    };
    const TCase cases[] = {
        {{TSide::Sell}, erSell},
        {{TSide::Buy}, erBuy},
        {{TSide::Sell, TSide::Buy}, erBuy},
        {{TSide::Buy, TSide::Sell}, erBuy},
        {{TSide::Sell, TSide::Sell}, erSell},
        {{TSide::Buy, TSide::Buy, TSide::Sell}, erBuy},
    };
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        for (TSide side : c.Clicks)
            ClickAndFlush(panel, side);
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), c.First);
        ExpectBlock(block.Values, 0.1, 50, 25, 15);
        EXPECT_EQ(Exchange(chart, block), erNothing) << "a click was reported twice";
        EXPECT_EQ(Exchange(chart, block), erNothing);
    }
}

TEST_F(DllExchange, AClickOutsideThePriceLabelsReportsNothing) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    // Between the labels, above them, on the spread, on the bevel; each just off a label's box.
    for (POINT point : {POINT{103, 125}, POINT{52, 114}, POINT{100, 95}, POINT{3, 125},
                        POINT{204, 125}, POINT{52, 135}})
        PostClick(panel, point);
    ASSERT_TRUE(watch.Flush(panel));
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    // A press on one label released over the other is no click either.
    PostMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(52, 125));
    PostMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(155, 125));
    ASSERT_TRUE(watch.Flush(panel));
    EXPECT_EQ(Exchange(chart, block), erNothing);
}

TEST_F(DllExchange, ArrowPressesChangeTheValuesHandedToTheHost) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    const std::optional<TPanelWindows> windows = FindPanelWindows(chart);
    ASSERT_TRUE(windows) << "the panel's fields and arrows are not where they belong";
    // lot up (0.1 -> 0.2), stop-loss down (50 -> 49), trailing-stop up twice (15 -> 17),
    // take-profit up (25 -> 26).
    const struct {
        TPanelField Field;
        bool Up;
        int Presses;
    } presses[] = {{TPanelField::Lots, true, 1},
                   {TPanelField::StopLoss, false, 1},
                   {TPanelField::TrailingStop, true, 2},
                   {TPanelField::TakeProfit, true, 1}};
    for (const auto& press : presses)
        for (int i = 0; i < press.Presses; ++i)
            PostArrowPress(windows->ArrowsOf(press.Field), press.Up);
    ASSERT_TRUE(watch.Flush(panel));
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    ExpectBlock(block.Values, 0.2, 49, 26, 17);
}

// What each field hands over for what the user typed: the number, 0 for a blank field, and NaN
// for a text that is no number, so that a mistyped stop never reaches the expert as "no stop".
// The run under a comma locale says which decimal separator the panel reads.
using DllFieldText = TDllTest;

TEST_F(DllFieldText, UnreadableTextIsNaNInItsSlotAndBlankIsZero) {
    const std::wstring expected = TestOption("expect-separator");
    const wchar_t separator = expected.empty() ? L'.' : expected[0];
    const wchar_t other = separator == L'.' ? L',' : L'.';
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::wstring Text;
        double Value;        // NaN: no number
    } cases[] = {{L"\b", 0}, // erases the selected text
                 {L"   ", 0},
                 {L"-0", 0},
                 {std::wstring(L"25") + separator + L"5", 25.5},
                 {std::wstring(L"25") + other + L"5", nan},
                 {L"3O", nan},
                 {L"25 5", nan},
                 {L"x", nan},
                 {L"1e400", nan},
                 {L"nan", nan},
                 {L"inf", nan}};
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    const std::optional<TPanelWindows> windows = FindPanelWindows(chart);
    ASSERT_TRUE(windows) << "the panel's fields are not where they belong";
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    const TPanelField fields[] = {TPanelField::Lots, TPanelField::StopLoss, TPanelField::TakeProfit,
                                  TPanelField::TrailingStop};
    const TExchangeSlot slots[] = {esLots, esStopLoss, esTakeProfit, esTrailingStop};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "typed \"" << std::string(c.Text.begin(), c.Text.end()) << "\"");
        // The text goes into one field at a time, the other three keep a readable value: each
        // slot must carry its own field's reading.
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j)
                PostTyping(windows->Field(fields[j]), i == j ? c.Text : L"7");
            ASSERT_TRUE(watch.Flush(panel));
            TBlock block;
            EXPECT_EQ(Exchange(chart, block), erNothing);
            for (int j = 0; j < 4; ++j) {
                const double value = block.Values[slots[j]];
                if (i != j)
                    EXPECT_EQ(value, 7) << "slot " << slots[j];
                else if (std::isnan(c.Value))
                    EXPECT_TRUE(std::isnan(value)) << "slot " << slots[j] << " holds " << value;
                else
                    EXPECT_TRUE(value == c.Value && !std::signbit(value))
                        << "slot " << slots[j] << " holds " << value;
            }
        }
    }
}

// ---- the states of a chart ---------------------------------------------------------------------

using DllChartStates = TDllTest;

TEST_F(DllChartStates, ASecondCreateOnlyShowsThePanel) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    // The user changes the lot field, then the panel is hidden.
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    const std::optional<TPanelWindows> windows = FindPanelWindows(chart);
    ASSERT_TRUE(windows);
    PostArrowPress(windows->ArrowsOf(TPanelField::Lots), true);
    ASSERT_TRUE(watch.Flush(panel));
    ShowWindow(panel, SW_HIDE);
    ASSERT_FALSE(IsWindowVisible(panel));
    const int threads = PanelThreads();

    Create(chart, {.Lots = 5, .StopLossPips = 1, .TakeProfitPips = 2, .TrailStopStartPips = 3});
    // The show is posted to the panel thread, not waited for.
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(panel) != FALSE; }, 10s));
    EXPECT_EQ(PanelThreads(), threads) << "a second TerminalCreate started a thread";
    EXPECT_EQ(AttachedPanel(chart), panel);
    EXPECT_EQ(PanelChildren(chart), std::vector<HWND>{panel});
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    ExpectBlock(block.Values, 0.2, 50, 25, 15);
}

TEST_F(DllChartStates, DeleteThenCreateAtOnceEndsWithExactlyOneNewPanel) {
    HWND chart = NewChart();
    HWND old = CreateAndWait(chart);
    ASSERT_NE(old, nullptr);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Delete(chart);
        Create(chart, {.Lots = 1.0 + round});
        HWND panel = WaitForPanel(chart, old);
        ASSERT_NE(panel, nullptr) << "no new panel after delete and create";
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(old); }, 10s)) << "the old panel stays";
        EXPECT_EQ(PanelChildren(chart), std::vector<HWND>{panel});
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erNothing);
        EXPECT_EQ(block.Values[esLots], 1.0 + round) << "the new panel has the new values";
        old = panel;
    }
}

TEST_F(DllChartStates, ASecondCreateWhilePendingStartsNoSecondPanel) {
    HWND chart = NewChart();
    const int before = PanelThreads();
    {
        THeldThreadStarts held;
        ASSERT_TRUE(held.Held());
        Create(chart, {.Lots = 0.3});
        ASSERT_EQ(PanelThreads(), before + 1);
        Create(chart, {.Lots = 0.7});
        EXPECT_EQ(PanelThreads(), before + 1) << "the second create started a second thread";
    }
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    ASSERT_TRUE(watch.Flush(panel));
    EXPECT_EQ(PanelChildren(chart), std::vector<HWND>{panel});
    EXPECT_EQ(AllPanelWindows(), std::vector<HWND>{panel});
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_EQ(block.Values[esLots], 0.3) << "the panel is the first create's";
    // One delete removes the chart's only panel.
    Delete(chart);
    EXPECT_TRUE(WaitUntil([&] { return AllPanelWindows().empty(); }, 10s));
    EXPECT_EQ(WaitForPanelThreads(before), before);
}

TEST_F(DllChartStates, ADeleteWhilePendingCancelsTheBuild) {
    HWND chart = NewChart();
    const int before = PanelThreads();
    {
        THeldThreadStarts held;
        ASSERT_TRUE(held.Held());
        Create(chart);
        ASSERT_EQ(PanelThreads(), before + 1);
        Delete(chart);
    }
    // The panel thread starts, finds its build cancelled and ends without a window.
    EXPECT_EQ(WaitForPanelThreads(before), before);
    EXPECT_TRUE(PanelChildren(chart).empty());
    EXPECT_TRUE(AllPanelWindows().empty());
    EXPECT_EQ(GetPropA(chart, AttachedProperty), nullptr);
    EXPECT_EQ(GetPropA(chart, ContainerProperty), nullptr);
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_TRUE(block.IsUntouched());
    // The chart takes a new panel afterwards.
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(Exchange(chart, block), erNothing);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
}

TEST_F(DllChartStates, DeleteUnmarksTheChartKeepsClipChildrenAndEndsThePanelThread) {
    HWND chart = NewChart();
    ASSERT_EQ(GetWindowLongW(chart, GWL_STYLE) & WS_CLIPCHILDREN, 0);
    const int before = PanelThreads();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(PanelThreads(), before + 1);
    EXPECT_NE(GetWindowLongW(chart, GWL_STYLE) & WS_CLIPCHILDREN, 0);

    // The panel thread sees the hide before the close: the panel never shows after the delete.
    TMessageLog log(GetWindowThreadProcessId(panel, nullptr));
    Delete(chart);
    // At once, before the panel thread has done anything: unmarked, unreachable.
    EXPECT_EQ(GetPropA(chart, AttachedProperty), nullptr);
    EXPECT_EQ(GetPropA(chart, ContainerProperty), nullptr);
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_TRUE(block.IsUntouched());
    Delete(chart); // a chart without a panel: nothing happens

    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    EXPECT_EQ(WaitForPanelThreads(before), before) << "the panel thread did not end";
    EXPECT_NE(GetWindowLongW(chart, GWL_STYLE) & WS_CLIPCHILDREN, 0);
    const std::vector<UINT> seen = log.Messages(panel);
    const auto hidden = std::find(seen.begin(), seen.end(), UINT{WM_SHOWWINDOW});
    const auto closed = std::find(seen.begin(), seen.end(), UINT{WM_CLOSE});
    ASSERT_NE(closed, seen.end()) << "the panel never received the close";
    EXPECT_LT(hidden, closed) << "the panel was not hidden before it was closed";
}

TEST_F(DllChartStates, ClosingTheChartEndsThePanelThreadWithoutAnyCall) {
    HWND chart = NewChart();
    const int before = PanelThreads();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(PanelThreads(), before + 1);
    FHost->DestroyChart(chart);
    // The panel belongs to another thread: the system has that thread destroy it.
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    EXPECT_EQ(WaitForPanelThreads(before), before) << "the panel thread outlived its chart";
    EXPECT_TRUE(AllPanelWindows().empty());
}

TEST_F(DllChartStates, AChartMarkedByAnotherModuleIsTakenOver) {
    HWND chart = NewChart();
    TForeignWindow other(chart, {10, 20, 216, 177}, RGB(0, 0, 255), WS_CLIPSIBLINGS);
    ASSERT_NE(other.Window(), nullptr);
    const HANDLE otherModule = reinterpret_cast<HANDLE>(GetModuleHandleW(L"user32.dll"));
    SetPropA(chart, AttachedProperty, otherModule);
    SetPropA(chart, ContainerProperty, other.Window());

    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_TRUE(block.IsUntouched()) << "another module's panel counts as no panel";
    Delete(chart);
    EXPECT_EQ(GetPropA(chart, AttachedProperty), otherModule) << "delete touched another's mark";

    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(HasClass(panel, PanelClass));
    EXPECT_EQ(GetPropA(chart, ContainerProperty), panel);
    EXPECT_EQ(GetPropA(chart, AttachedProperty), reinterpret_cast<HANDLE>(Module()));
    EXPECT_TRUE(IsWindow(other.Window()));
    EXPECT_EQ(Exchange(chart, block), erNothing);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
}

TEST_F(DllChartStates, AHiddenPanelIsShownAgainByTheNextCall) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    for (const bool byCreate : {false, true}) {
        SCOPED_TRACE(byCreate ? "TerminalCreate" : "TerminalProcessMsg");
        ShowWindow(panel, SW_HIDE);
        ASSERT_FALSE(IsWindowVisible(panel));
        TBlock block;
        if (byCreate) {
            Create(chart);
        } else {
            EXPECT_EQ(Exchange(chart, block), erNothing);
            ExpectBlock(block.Values, 0.1, 50, 25, 15);
        }
        // Posted to the panel thread, which shows it in its own time.
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(panel) != FALSE; }, 10s));
    }
    // A call that does not reach the panel shows nothing.
    ShowWindow(panel, SW_HIDE);
    EXPECT_EQ(Exchange(chart, nullptr), erNothing);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    ASSERT_TRUE(watch.Flush(panel));
    EXPECT_FALSE(IsWindowVisible(panel));
}

// ---- the panel on the chart
// ----------------------------------------------------------------------

using DllPanelPlace = TDllTest;

constexpr TRgb AsRgb(COLORREF c) {
    return (TRgb{GetRValue(c)} << 16) | (TRgb{GetGValue(c)} << 8) | GetBValue(c);
}

TEST_F(DllPanelPlace, ThePanelSitsAt10_20Sized206x157AboveTheChartsOtherChildren) {
    HWND chart = NewChart();
    // A child of the chart that covers its whole client area, there before the panel.
    constexpr COLORREF Magenta = RGB(255, 0, 255);
    TForeignWindow sibling(chart, {0, 0, 420, 300}, Magenta, WS_CLIPSIBLINGS);
    ASSERT_NE(sibling.Window(), nullptr);
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);

    EXPECT_EQ(GetParent(panel), chart);
    const RECT rect = RectInParent(panel);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right - rect.left, 206);
    EXPECT_EQ(rect.bottom - rect.top, 157);
    RECT client{};
    GetClientRect(panel, &client);
    EXPECT_EQ(client.right, 206) << "the panel has no frame: its client area is the window";
    EXPECT_EQ(client.bottom, 157);
    EXPECT_TRUE(IsWindowVisible(panel));
    EXPECT_EQ(GetWindow(chart, GW_CHILD), panel) << "the panel is not the topmost child";
    EXPECT_EQ(ChildWindowFromPointEx(chart, {110, 80}, CWP_SKIPINVISIBLE), panel);

    // On screen: the panel's face where it lies, the sibling around it.
    const TRgb face = AsRgb(GetSysColor(COLOR_BTNFACE));
    // Other programs on the same display may cover the chart for a while.
    FHost->RaiseTerminalWindow();
    if (!WaitUntil([&] { return IsUnobstructed(chart); }, 10s))
        GTEST_SKIP() << "another program's window covers the chart; the pixels are not ours";
    TPixels shot;
    const bool seen = WaitUntil(
        [&] {
            shot = CaptureWindowPixels(chart);
            return shot.Width == 420 && shot.At(10 + 100, 20 + 57) == face &&
                   shot.At(10 + 1, 20 + 1) == face && shot.At(5, 5) == AsRgb(Magenta) &&
                   shot.At(10 + 210, 20 + 80) == AsRgb(Magenta);
        },
        10s);
    EXPECT_TRUE(seen) << "the panel is not drawn above the chart's other child on screen";
}

// ---- the registered message
// ------------------------------------------------------------------------

using DllRegisteredMessage = TDllTest;

TEST_F(DllRegisteredMessage, EachPanelPostsItOnceAboutThreeHundredMillisecondsAfterItsStart) {
    HWND first = NewChart(L"EURUSD,M1", 40, 40);
    HWND second = NewChart(L"USDJPY,M1", 520, 40);
    const auto start = std::chrono::steady_clock::now();
    Create(first);
    Create(second);
    ASSERT_TRUE(WaitUntil([&] { return !FHost->RegisteredPosts(first).empty(); }, 10s));
    const auto firstPost = std::chrono::steady_clock::now() - start;
    ASSERT_NE(AttachedPanel(first), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !FHost->RegisteredPosts(second).empty(); }, 10s));

    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(firstPost).count();
    RecordProperty("first_post_ms", static_cast<int>(milliseconds));
    EXPECT_GE(milliseconds, 250) << "posted before the panel's first 300 ms tick";

    // Several more ticks of each panel's timer come and go without another post.
    TQueueWatch firstWatch(GetWindowThreadProcessId(AttachedPanel(first), nullptr));
    TQueueWatch secondWatch(GetWindowThreadProcessId(AttachedPanel(second), nullptr));
    const auto timer = reinterpret_cast<UINT_PTR>(Module());
    ASSERT_TRUE(WaitUntil(
        [&] { return firstWatch.TimerTicks(timer) >= 4 && secondWatch.TimerTicks(timer) >= 4; },
        10s))
        << "the panels' 300 ms timers do not tick";
    for (HWND chart : {first, second}) {
        const std::vector<TRegisteredPost> posts = FHost->RegisteredPosts(chart);
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0].WParam, 2u);
        EXPECT_EQ(posts[0].LParam, 1);
    }
}

// The library's PostMessageA while a test holds the posts of the registered message back.
std::atomic<bool> FailRegisteredPosts{false};
std::atomic<int> RegisteredAttempts{0};
std::atomic<int> RegisteredFailures{0};
std::atomic<HWND> RegisteredTarget{nullptr};
std::atomic<void*> RealPostMessageA{nullptr};
const UINT RegisteredMessage = RegisterWindowMessageA(ChartNames::TerminalMessage);

BOOL WINAPI PostMessageAUnlessHeldBack(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                       LPARAM ALParam) {
    if (AMessage == RegisteredMessage && AWindow == RegisteredTarget.load()) {
        ++RegisteredAttempts;
        if (FailRegisteredPosts.load()) {
            ++RegisteredFailures;
            // What a full message queue answers.
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
    }
    using TPost = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
    return reinterpret_cast<TPost>(RealPostMessageA.load())(AWindow, AMessage, AWParam, ALParam);
}

TEST_F(DllRegisteredMessage, AFailedPostIsRetriedOnEveryTickUntilOneSucceeds) {
    // Wine's message queues take any number of posts, so a full queue cannot be made there; the
    // library's own PostMessageA is made to fail as a full queue would, for this chart only.
    HWND chart = NewChart();
    RegisteredTarget = chart;
    RegisteredAttempts = 0;
    RegisteredFailures = 0;
    FailRegisteredPosts = true;
    // Set before the patch: a panel thread of an earlier test may still post its WM_QUIT.
    RealPostMessageA =
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "PostMessageA"));
    TImportPatch patch(Module(), "user32.dll", "PostMessageA",
                       reinterpret_cast<void*>(&PostMessageAUnlessHeldBack));
    ASSERT_TRUE(patch.Applied()) << "the library does not import PostMessageA";
    RealPostMessageA = patch.Original();

    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(WaitUntil([] { return RegisteredFailures.load() >= 3; }, 10s))
        << "the panel stopped trying after " << RegisteredFailures.load() << " failed post(s)";
    EXPECT_TRUE(FHost->RegisteredPosts(chart).empty());

    FailRegisteredPosts = false;
    ASSERT_TRUE(WaitUntil([&] { return !FHost->RegisteredPosts(chart).empty(); }, 10s));
    const int attempts = RegisteredAttempts.load();
    EXPECT_EQ(attempts, RegisteredFailures.load() + 1);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    const auto timer = reinterpret_cast<UINT_PTR>(Module());
    ASSERT_TRUE(WaitUntil([&] { return watch.TimerTicks(timer) >= 4; }, 10s));
    EXPECT_EQ(RegisteredAttempts.load(), attempts) << "posted again after a success";
    ASSERT_EQ(FHost->RegisteredPosts(chart).size(), 1u);
    EXPECT_EQ(FHost->RegisteredPosts(chart)[0].WParam, 2u);
    EXPECT_EQ(FHost->RegisteredPosts(chart)[0].LParam, 1);
    RegisteredTarget = nullptr;
}

// ---- two charts, two experts
// ----------------------------------------------------------------------

using DllTwoCharts = TDllTest;

TEST_F(DllTwoCharts, TwoExpertThreadsKeepTheirOwnPanelsValuesAndClicks) {
    HWND charts[2] = {NewChart(L"EURUSD,M1", 40, 40), NewChart(L"USDJPY,M1", 520, 40)};
    const TCreateArgs args[2] = {{.Lots = 0.3, .StopLossPips = 11},
                                 {.Lots = 0.7, .StopLossPips = 22}};
    HWND panels[2] = {};
    std::atomic<int> clicked{0};
    int results[2][2] = {};
    double lots[2] = {}, stopLoss[2] = {};
    std::thread experts[2];
    for (int i = 0; i < 2; ++i)
        experts[i] = std::thread([&, i] {
            ProgressThreadName("expert");
            Create(charts[i], args[i]);
            panels[i] = WaitForPanel(charts[i]);
            WaitUntil([&] { return clicked.load() == 1; }, 10s);
            TBlock block;
            results[i][0] = Exchange(charts[i], block);
            results[i][1] = Exchange(charts[i], block);
            lots[i] = block.Values[esLots];
            stopLoss[i] = block.Values[esStopLoss];
        });
    ASSERT_TRUE(WaitUntil([&] { return panels[0] && panels[1]; }, 10s));
    EXPECT_NE(GetWindowThreadProcessId(panels[0], nullptr),
              GetWindowThreadProcessId(panels[1], nullptr))
        << "one panel thread per panel";
    ClickAndFlush(panels[0], TSide::Sell);
    ClickAndFlush(panels[1], TSide::Buy);
    clicked = 1;
    for (std::thread& expert : experts)
        expert.join();
    EXPECT_EQ(results[0][0], erSell);
    EXPECT_EQ(results[1][0], erBuy);
    EXPECT_EQ(results[0][1], erNothing);
    EXPECT_EQ(results[1][1], erNothing);
    EXPECT_EQ(lots[0], 0.3);
    EXPECT_EQ(lots[1], 0.7);
    EXPECT_EQ(stopLoss[0], 11);
    EXPECT_EQ(stopLoss[1], 22);

    // Each panel posted the one registered message to its own chart, with the same number.
    for (HWND chart : charts)
        EXPECT_TRUE(WaitUntil([&] { return FHost->RegisteredPosts(chart).size() == 1; }, 10s));

    // Closing one panel leaves the other running.
    Delete(charts[0]);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panels[0]); }, 10s));
    ClickAndFlush(panels[1], TSide::Sell);
    TBlock block;
    EXPECT_EQ(Exchange(charts[1], block), erSell);
    EXPECT_EQ(block.Values[esLots], 0.7);
}

// ---- whose panel, and whose click
// -------------------------------------------------------------

// A chart's mark that names a window the chart did not attach: what is left when the chart's
// panel was closed from outside and Windows gave its handle to another window. The mark is the
// library's own, so only the window it names says whether the panel is the chart's.
using DllPanelIdentity = TDllTest;

TEST_F(DllPanelIdentity, AMarkNamingAWindowThatIsNotTheChartsPanelGivesNothingAndTouchesNothing) {
    HWND other = NewChart(L"GBPUSD,M5", 520, 40);
    HWND otherPanel = CreateAndWait(other, {.Lots = 3});
    ASSERT_NE(otherPanel, nullptr);
    TForeignWindow topLevel(nullptr, {600, 400, 800, 600}, RGB(0, 128, 0));
    ASSERT_NE(topLevel.Window(), nullptr);
    HWND dead = NewChart(L"dead,M1", 40, 400);
    FHost->DestroyChart(dead);
    const struct {
        const char* Name;
        HWND Planted;
    } cases[] = {{"another chart's panel", otherPanel},
                 {"a foreign top-level window", topLevel.Window()},
                 {"a dead handle", dead}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        HWND chart = NewChart();
        auto plant = [&] {
            SetPropA(chart, ContainerProperty, c.Planted);
            SetPropA(chart, AttachedProperty, reinterpret_cast<HANDLE>(Module()));
        };
        plant();
        // The other chart's panel holds a click that only its own chart may take.
        ClickAndFlush(otherPanel, TSide::Buy);
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erNothing);
        EXPECT_TRUE(block.IsUntouched()) << "the exchange wrote another window's values";
        Delete(chart);
        // The delete closed, hid and unmarked nothing of the other window's.
        if (c.Planted != dead) {
            Sleep(100); // a hide or close would be posted: give it time to be handled
            EXPECT_TRUE(IsWindow(c.Planted)) << "the delete closed a window not its own";
            EXPECT_TRUE(IsWindowVisible(c.Planted)) << "the delete hid a window not its own";
        }
        EXPECT_EQ(AttachedPanel(other), otherPanel);
        TBlock otherBlock;
        EXPECT_EQ(Exchange(other, otherBlock), erBuy) << "the other chart lost its click";
        ExpectBlock(otherBlock.Values, 3, 50, 25, 15);
        // A create on the chart builds its own panel, whatever its mark named.
        plant();
        Create(chart);
        HWND own = WaitForPanel(chart, c.Planted);
        ASSERT_NE(own, nullptr) << "the chart got no panel of its own";
        EXPECT_EQ(GetParent(own), chart);
        EXPECT_EQ(AttachedPanel(other), otherPanel);
        ClickAndFlush(own, TSide::Sell);
        EXPECT_EQ(Exchange(chart, block), erSell);
        ExpectBlock(block.Values, 0.1, 50, 25, 15);
        EXPECT_EQ(Exchange(other, otherBlock), erNothing) << "the chart's click went elsewhere";
        Delete(chart);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(own); }, 10s));
        FHost->DestroyChart(chart);
    }
}

// A click is good only while an expert is there to act on it at once.
using DllClickFreshness = TDllTest;

// Whether the price label around APoint shows the orange of a latched click.
bool ShowsAClick(HWND APanel, POINT APoint) {
    const TPixels shot = CaptureWindowPixels(APanel);
    for (int y = APoint.y - 6; y <= APoint.y + 6; ++y)
        for (int x = APoint.x - 40; x <= APoint.x + 40; ++x)
            if (x >= 0 && y >= 0 && x < shot.Width && y < shot.Height && shot.At(x, y) == 0xFFA500)
                return true;
    return false;
}

TEST_F(DllClickFreshness, AClickIsReportedOnlyWhileFreshAndAStaleOneShowsAsNone) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    TBlock block;
    // Taken at once: reported once.
    ClickAndFlush(panel, TSide::Buy);
    EXPECT_EQ(Exchange(chart, block), erBuy);
    EXPECT_EQ(Exchange(chart, block), erNothing);
    // Left beyond the limit (three seconds): dropped, and the label turns back by itself.
    FHost->RaiseTerminalWindow();
    ClickAndFlush(panel, TSide::Sell);
    EXPECT_TRUE(WaitUntil([&] { return ShowsAClick(panel, SellPricePoint); }, 2s))
        << "the click does not show";
    EXPECT_TRUE(WaitUntil([&] { return !ShowsAClick(panel, SellPricePoint); }, 6s))
        << "a stale click still shows";
    EXPECT_EQ(Exchange(chart, block), erNothing) << "a stale click was reported";
    // Clicked while no expert is there (killed, so nothing deleted the panel): the next expert,
    // attaching later, gets nothing.
    ClickAndFlush(panel, TSide::Buy);
    Sleep(3500);
    Create(chart); // the next expert's create finds the panel there
    EXPECT_EQ(Exchange(chart, block), erNothing) << "a new expert got an old click";
}

// ---- arguments no host should pass
// -------------------------------------------------------------------

using DllBadInput = TDllTest;

TEST_F(DllBadInput, InvalidAndDestroyedWindowsDoNothing) {
    HWND destroyed = NewChart();
    FHost->DestroyChart(destroyed);
    const struct {
        const char* Name;
        HWND Window;
    } cases[] = {{"null", nullptr},
                 {"never a window", reinterpret_cast<HWND>(0x12340)},
                 {"all bits set", reinterpret_cast<HWND>(~uintptr_t{0})},
                 {"destroyed chart", destroyed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const int threads = PanelThreads();
        Create(c.Window);
        EXPECT_EQ(PanelThreads(), threads) << "a panel thread was started for no window";
        TBlock block;
        EXPECT_EQ(Exchange(c.Window, block), erNothing);
        EXPECT_TRUE(block.IsUntouched());
        Delete(c.Window);
        ExpectNormalCycleWorks();
    }
}

TEST_F(DllBadInput, ForeignWindowsTakeAPanelAndGiveItBack) {
    // Windows that are no chart: a top-level window of another thread, a child control of one,
    // and the desktop. Whatever the library makes of them, the host survives, and a delete
    // leaves no panel behind.
    TForeignWindow topLevel(nullptr, {600, 400, 900, 700}, RGB(0, 128, 0));
    TForeignWindow button(topLevel.Window(), {10, 10, 250, 250}, 0, 0, L"BUTTON");
    ASSERT_NE(topLevel.Window(), nullptr);
    ASSERT_NE(button.Window(), nullptr);
    const struct {
        const char* Name;
        HWND Window;
    } cases[] = {{"top-level window of another thread", topLevel.Window()},
                 {"button of another thread", button.Window()},
                 {"desktop window", GetDesktopWindow()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const int threads = PanelThreads();
        Create(c.Window);
        // Either a panel comes, or the panel thread gives up.
        WaitUntil([&] { return AttachedPanel(c.Window) || PanelThreads() <= threads; }, 10s);
        TBlock block;
        const int result = Exchange(c.Window, block);
        EXPECT_EQ(result, erNothing);
        if (AttachedPanel(c.Window))
            ExpectBlock(block.Values, 0.1, 50, 25, 15);
        Delete(c.Window);
        EXPECT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s))
            << "a panel stayed behind";
        EXPECT_EQ(WaitForPanelThreads(threads), threads);
        EXPECT_EQ(GetPropA(c.Window, AttachedProperty), nullptr);
        EXPECT_EQ(GetPropA(c.Window, ContainerProperty), nullptr);
        ExpectNormalCycleWorks();
    }
}

TEST_F(DllBadInput, APanelWindowPassedAsAChartLeavesItsOwnChartWorking) {
    // Runs apart: the fault under test would crash the host.
    PELLITH_RUN_IN_CHILD_PROCESS();
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    // The expert mistakes the panel for its chart, then goes on with the real chart.
    Create(panel);
    WaitUntil([&] { return AttachedPanel(panel) != nullptr; }, 3s);
    ClickAndFlush(panel, TSide::Buy);
    TBlock mine;
    EXPECT_EQ(Exchange(chart, mine), erBuy);
    ExpectBlock(mine.Values, 0.1, 50, 25, 15);
    TBlock block;
    EXPECT_EQ(Exchange(panel, block), erNothing);
    Delete(panel);
    ClickAndFlush(panel, TSide::Sell);
    TBlock again;
    EXPECT_EQ(Exchange(chart, again), erSell);
    ExpectBlock(again.Values, 0.1, 50, 25, 15);
    Delete(chart);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    ExpectNormalCycleWorks();
}

TEST_F(DllBadInput, NonFinitePricesAndAZeroPipDoNotBreakTheExchange) {
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double Inf = std::numeric_limits<double>::infinity();
    const TQuote quotes[] = {{NaN, NaN, NaN, NaN, 5},       {Inf, -Inf, 0, 0.0001, 5},
                             {1.1, 1.0, 1e-5, 0, 5},        {1.0, 1.1, 1e-5, -0.0, 5},
                             {1e308, -1e308, 0, 1e-308, 5}, {-1.5, -2.5, -1, -0.0001, 2},
                             {Inf, Inf, Inf, Inf, 0},       {5e-324, 0, 0, 5e-324, 8}};
    HWND chart = NewChart();
    int n = 0;
    for (const TQuote& quote : quotes) {
        SCOPED_TRACE("quote " + std::to_string(n++));
        // The same values at the start of a panel and on every exchange.
        HWND panel = CreateAndWait(chart, {.Ask = quote.Ask,
                                           .Bid = quote.Bid,
                                           .Point = quote.Point,
                                           .MyPoint = quote.MyPoint,
                                           .Digits = quote.Digits});
        ASSERT_NE(panel, nullptr);
        ClickAndFlush(panel, TSide::Buy);
        TBlock block;
        EXPECT_EQ(Exchange(chart, block, quote), erBuy);
        ExpectBlock(block.Values, 0.1, 50, 25, 15);
        EXPECT_EQ(Exchange(chart, block, quote), erNothing);
        Delete(chart);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
        ExpectNormalCycleWorks();
    }
}

TEST_F(DllBadInput, NonFiniteAndHugeInitialValuesDoNotBreakTheExchange) {
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double Inf = std::numeric_limits<double>::infinity();
    const TCreateArgs cases[] = {
        {.Lots = NaN, .StopLossPips = NaN, .TakeProfitPips = NaN, .TrailStopStartPips = NaN},
        {.Lots = Inf, .StopLossPips = -Inf, .TakeProfitPips = Inf, .TrailStopStartPips = -Inf},
        {.Lots = 1e308,
         .StopLossPips = -1e308,
         .TakeProfitPips = 1e300,
         .TrailStopStartPips = 1e-300},
        {.Lots = -0.5, .StopLossPips = -50, .TakeProfitPips = -0.0, .TrailStopStartPips = -1e-9},
    };
    HWND chart = NewChart();
    int n = 0;
    for (const TCreateArgs& args : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        HWND panel = CreateAndWait(chart, args);
        ASSERT_NE(panel, nullptr);
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erNothing);
        // Whatever the fields make of such values, all four slots are written.
        for (int slot = 0; slot < ExchangeBlockSize; ++slot)
            EXPECT_NE(block.Values[slot], Untouched) << "slot " << slot;
        Delete(chart);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
        ExpectNormalCycleWorks();
    }
}

TEST_F(DllBadInput, AnyNumberOfDigitsIsSurvived) {
    const int digits[] = {-1, 0, 19, 20, 100, INT_MIN, INT_MAX};
    HWND chart = NewChart();
    for (int d : digits) {
        SCOPED_TRACE("digits " + std::to_string(d));
        const int threads = PanelThreads();
        Create(chart, {.Digits = d});
        // Either a panel comes, or no panel thread was started or it gave up.
        WaitUntil([&] { return AttachedPanel(chart) || PanelThreads() <= threads; }, 10s);
        TBlock block;
        const int result = Exchange(chart, block, {.Digits = d});
        EXPECT_EQ(result, erNothing);
        if (HWND panel = AttachedPanel(chart)) {
            // The panel made with these digits exchanges normal quotes as any other.
            TBlock normal;
            EXPECT_EQ(Exchange(chart, normal), erNothing);
            ExpectBlock(normal.Values, 0.1, 50, 25, 15);
            Delete(chart);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
        }
        EXPECT_EQ(WaitForPanelThreads(threads), threads);
        ExpectNormalCycleWorks();
    }
}

// ---- the symbol
// ---------------------------------------------------------------------------------------

using DllSymbols = TDllTest;

TEST_F(DllSymbols, AnySymbolTextGivesAWorkingPanel) {
    // The run under another locale says which ANSI code page the symbol's bytes are read in.
    if (const std::wstring codePage = TestOption("expect-acp"); !codePage.empty()) {
        ASSERT_EQ(GetACP(), std::stoul(codePage));
    }
    const std::string longSymbol(4096, 'Z');
    const struct {
        const char* Name;
        const char* Symbol;
    } cases[] = {{"null", nullptr},
                 {"empty", ""},
                 {"cp1251 letters", "\xCA\xD3\xD0\xD1 \xC5\xE2\xF0\xEE"}, // cyrillic in 1251
                 {"bytes 0x80-0xFF", "\x80\x81\x98\xA0\xAD\xC0\xFE\xFF"},
                 {"4096 characters", longSymbol.c_str()}};
    HWND chart = NewChart();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        HWND panel = CreateAndWait(chart, {.Symbol = c.Symbol});
        ASSERT_NE(panel, nullptr);
        ClickAndFlush(panel, TSide::Sell);
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erSell);
        ExpectBlock(block.Values, 0.1, 50, 25, 15);
        Delete(chart);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    }
    ExpectNormalCycleWorks();
}

} // namespace
