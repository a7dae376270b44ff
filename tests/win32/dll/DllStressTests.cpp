// Pellith.dll under load and under faults, each run bounded in time and watched: many experts
// exchanging while a user clicks and presses arrows, hundreds of panel lifetimes, charts
// destroyed in the middle of exchanges, a panel loop ended from outside, the host releasing the
// library, and many panels built at once. Hangs end in the watchdog's report, not a stuck run.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/win32/dll/DllTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration ADuration) {
    return std::chrono::duration<double, std::milli>(ADuration).count();
}

// Waits until every worker has said it finished; a worker stuck in the library is a deadlock,
// and the program ends with the board of where each thread stood.
void JoinOrDie(std::vector<std::thread>& AThreads, const std::atomic<int>& AFinished,
               const char* AWhat) {
    if (!WaitUntil([&] { return AFinished.load() == static_cast<int>(AThreads.size()); }, 30s)) {
        std::fprintf(stderr, "%s: %d of %zu threads did not finish: deadlock\n", AWhat,
                     static_cast<int>(AThreads.size()) - AFinished.load(), AThreads.size());
        PrintWhereThreadsStand();
        TerminateProcess(GetCurrentProcess(), 4);
    }
    for (std::thread& thread : AThreads)
        thread.join();
}

// ---- load
// ------------------------------------------------------------------------------------------

using DllStress = TDllTest;

TEST_F(DllStress, ExpertsUserClicksAndArrowPressesOnFourChartsStayConsistent) {
    constexpr int Charts = 4;
    constexpr int ExpertsPerChart = 2;
    constexpr auto UserTime = 6s;

    struct TChartState {
        HWND Chart = nullptr;
        HWND Panel = nullptr;
        std::array<HWND, 4> Arrows{};      // by field, in the order of the slots
        std::array<double, 4> Low{};       // by slot: the value the field starts with
        std::array<double, 4> High{};      // by slot: one press up from Low
        std::atomic<int> Reported[2] = {}; // by side: clicks the experts received
        int Made[2] = {};                  // by side: clicks the user made
    };
    std::array<TChartState, Charts> charts;
    const POINT places[Charts] = {{10, 10}, {500, 10}, {10, 340}, {500, 340}};
    for (int i = 0; i < Charts; ++i) {
        TChartState& state = charts[i];
        state.Chart = NewChart(L"stress", places[i].x, places[i].y);
        // Lots 0.1/0.3/0.5/0.7 step by 0.1, the pip fields by 1.
        const double lots[Charts] = {0.1, 0.3, 0.5, 0.7};
        const double lotsUp[Charts] = {0.2, 0.4, 0.6, 0.8};
        const TCreateArgs args{.Lots = lots[i],
                               .StopLossPips = 50.0 + i,
                               .TakeProfitPips = 25.0 + i,
                               .TrailStopStartPips = 15.0 + i};
        state.Panel = CreateAndWait(state.Chart, args);
        ASSERT_NE(state.Panel, nullptr);
        state.Low = {args.Lots, args.StopLossPips, args.TakeProfitPips, args.TrailStopStartPips};
        state.High = {lotsUp[i], args.StopLossPips + 1, args.TakeProfitPips + 1,
                      args.TrailStopStartPips + 1};
        const std::optional<TPanelWindows> windows = FindPanelWindows(state.Chart);
        ASSERT_TRUE(windows) << "the panel's fields and arrows are not where they belong";
        std::copy(std::begin(windows->Arrows), std::end(windows->Arrows), state.Arrows.begin());
    }

    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::atomic<long> exchanges{0};
    std::atomic<int> badResults{0};
    std::atomic<int> badValues{0};
    std::vector<std::thread> experts;
    for (int i = 0; i < Charts; ++i)
        for (int e = 0; e < ExpertsPerChart; ++e)
            experts.emplace_back([&, i] {
                ProgressThreadName("expert");
                TChartState& state = charts[i];
                for (long k = 0; !stop.load(); ++k) {
                    TBlock block;
                    const TQuote quote{.Ask = 1.1002 + (k % 50) * 1e-5,
                                       .Bid = 1.1 + (k % 50) * 1e-5};
                    const int result = Exchange(state.Chart, block, quote);
                    ++exchanges;
                    if (result == erBuy || result == erSell)
                        ++state.Reported[result == erBuy ? 1 : 0];
                    else if (result != erNothing)
                        ++badResults;
                    // Each field is at its start value or one press above it.
                    for (int slot = 0; slot < ExchangeBlockSize; ++slot)
                        if (block.Values[slot] != state.Low[slot] &&
                            block.Values[slot] != state.High[slot] && badValues++ < 5)
                            std::printf("chart %d slot %d: %.17g, not %.17g or %.17g\n", i, slot,
                                        block.Values[slot], state.Low[slot], state.High[slot]);
                }
                Progress("expert done");
                ++finished;
            });

    // The user: one click pending per chart at a time, so a sell is never taken by a buy; an
    // arrow pressed up and then down again, so each field shows one of two values. Like a
    // person's one mouse, each press ends before the next begins, on any panel: the panels'
    // threads share one input state with the chart thread (a child window of another thread's
    // window joins that thread's input), so overlapping presses would steal each other's
    // mouse capture.
    long presses = 0;
    int stalls = 0;
    std::array<bool, 4 * Charts> up{};
    std::array<int, Charts> pending;
    pending.fill(-1);
    std::vector<std::unique_ptr<TQueueWatch>> watches;
    for (const TChartState& state : charts)
        watches.push_back(
            std::make_unique<TQueueWatch>(GetWindowThreadProcessId(state.Panel, nullptr)));
    std::array<Clock::time_point, Charts> clickedAt{};
    Clock::duration slowestClick{};
    const auto end = Clock::now() + UserTime;
    Progress("user clicking and pressing");
    for (int round = 0; Clock::now() < end; ++round) {
        for (int i = 0; i < Charts; ++i) {
            TChartState& state = charts[i];
            if (pending[i] >= 0 && state.Reported[pending[i]].load() == state.Made[pending[i]]) {
                pending[i] = -1;
                slowestClick = std::max(slowestClick, Clock::now() - clickedAt[i]);
            }
            if (pending[i] < 0) {
                const int side = (round + i) % 2;
                ++state.Made[side];
                pending[i] = side;
                clickedAt[i] = Clock::now();
                PostClick(state.Panel, LabelPoint(side ? TSide::Buy : TSide::Sell));
                stalls += !watches[i]->Flush(state.Panel);
            }
            const int field = round % 4;
            bool& isUp = up[4 * i + field];
            isUp = !isUp;
            PostArrowPress(state.Arrows[field], isUp);
            stalls += !watches[i]->Flush(state.Panel);
            ++presses;
        }
    }
    // The last clicks are still to be reported while the experts go on.
    Progress("user waiting for the last clicks");
    const bool drained = WaitUntil(
        [&] {
            for (const TChartState& state : charts)
                for (int side = 0; side < 2; ++side)
                    if (state.Reported[side].load() < state.Made[side])
                        return false;
            return true;
        },
        10s);
    if (!drained) {
        for (int i = 0; i < Charts; ++i)
            std::printf("chart %d: click on %s pending for %.0f ms\n", i,
                        pending[i] ? "buy" : "sell", Milliseconds(Clock::now() - clickedAt[i]));
        PrintWhereThreadsStand();
    }
    stop = true;
    JoinOrDie(experts, finished, "experts");

    EXPECT_TRUE(drained) << "clicks were lost";
    EXPECT_EQ(stalls, 0) << "a panel thread did not take its input within 10 s";
    EXPECT_EQ(badResults.load(), 0) << "results that are no TExchangeResult";
    EXPECT_EQ(badValues.load(), 0) << "block values no field showed";
    int clicks = 0;
    for (int i = 0; i < Charts; ++i) {
        SCOPED_TRACE("chart " + std::to_string(i));
        for (int side = 0; side < 2; ++side) {
            EXPECT_EQ(charts[i].Reported[side].load(), charts[i].Made[side])
                << (side ? "buy" : "sell") << " clicks made and reported differ";
            clicks += charts[i].Made[side];
        }
        EXPECT_GT(charts[i].Made[0] + charts[i].Made[1], 0);
    }
    RecordProperty("exchanges", static_cast<int>(exchanges.load()));
    RecordProperty("clicks", clicks);
    RecordProperty("arrow_presses", static_cast<int>(presses));
    RecordProperty("seconds", static_cast<int>(UserTime.count()));
    RecordProperty("charts", Charts);
    RecordProperty("slowest_click_ms", static_cast<int>(Milliseconds(slowestClick)));
}

// ---- lifetime
// ---------------------------------------------------------------------------------------

using DllLifetime = TDllTest;

TEST_F(DllLifetime, HundredsOfPanelLifetimesLeaveNoThreadWindowHandleOrClassBehind) {
    // While a panel lives its class cannot go: the final check below means something.
    HWND chart = NewChart();
    {
        // GoogleTest keeps a thread of its own for as long as this one lives, from the first
        // trace on it: started now, it is counted in the base, whichever test ran first.
        SCOPED_TRACE("the test's own thread");
    }
    const int before = ThreadCount();
    HWND first = CreateAndWait(chart);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(UnregisterClassW(PanelClass, Module()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    Delete(chart);
    ASSERT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s));

    // Counted once the first panel's thread is gone.
    const int baseThreads = WaitForThreadCount(before);
    const DWORD baseHandles = HandleCount();
    const std::vector<HANDLE> handlesBefore = OpenHandles();
    Progress("200 create/delete cycles on one chart");
    const auto start = Clock::now();
    for (int cycle = 0; cycle < 200; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        if (cycle % 2 == 0) {
            // A full life: built, exchanged with, deleted.
            HWND panel = CreateAndWait(chart);
            ASSERT_NE(panel, nullptr);
            TBlock block;
            ASSERT_EQ(Exchange(chart, block), erNothing);
            ASSERT_EQ(block.Values[esLots], 0.1);
        } else {
            // Deleted at once: pending or just attached, whichever the panel thread reached.
            Create(chart);
        }
        Delete(chart);
    }
    const auto deleted = Clock::now();
    Progress("50 lives ended by destroying the chart");
    FHost->DestroyChart(chart);
    for (int cycle = 0; cycle < 50; ++cycle) {
        SCOPED_TRACE("chart cycle " + std::to_string(cycle));
        HWND other = NewChart();
        ASSERT_NE(CreateAndWait(other), nullptr);
        TBlock block;
        ASSERT_EQ(Exchange(other, block), erNothing);
        FHost->DestroyChart(other);
    }
    const auto destroyed = Clock::now();
    RecordProperty("create_delete_cycle_us",
                   static_cast<int>(Milliseconds(deleted - start) / 200 * 1000));
    RecordProperty("chart_life_us",
                   static_cast<int>(Milliseconds(destroyed - deleted) / 50 * 1000));

    Progress("waiting for the panel threads to end");
    EXPECT_EQ(WaitForPanelThreads(0), 0) << "panel threads stayed behind";
    EXPECT_EQ(WaitForThreadCount(baseThreads), baseThreads) << "threads stayed behind";
    EXPECT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s))
        << AllPanelWindows().size() << " panel windows stayed behind";
    // A handle left per life would show as hundreds. A couple stay now and then (2 in 1 run of
    // 4 under Wine, not yet traced to their owner): a fixed few are allowed for them.
    constexpr DWORD FixedFew = 4;
    DWORD handles = HandleCount();
    WaitUntil([&] { return (handles = HandleCount()) <= baseHandles; }, 10s);
    // Whose they are, named for the report: a handle value reused since counts as old.
    std::string left;
    for (HANDLE handle : OpenHandles())
        if (std::find(handlesBefore.begin(), handlesBefore.end(), handle) == handlesBefore.end())
            left += DescribeHandle(handle) + "; ";
    EXPECT_LE(handles, baseHandles + FixedFew) << "handles stayed behind: " << left;
    RecordProperty("handles_before", static_cast<int>(baseHandles));
    RecordProperty("handles_after", static_cast<int>(handles));
    if (!left.empty())
        RecordProperty("handles_new", left);

    // No window of the class is left anywhere, so the class can go; it is put back for the
    // panels of later tests, which the library registers once per process.
    WNDCLASSEXW panelClass{};
    panelClass.cbSize = sizeof panelClass;
    ASSERT_TRUE(GetClassInfoExW(Module(), PanelClass, &panelClass));
    const BOOL unregistered = UnregisterClassW(PanelClass, Module());
    const DWORD error = GetLastError();
    EXPECT_TRUE(unregistered) << "UnregisterClassW failed: " << SystemErrorText(error);
    if (unregistered) {
        panelClass.lpszClassName = PanelClass;
        ASSERT_NE(RegisterClassExW(&panelClass), 0);
    }
}

// ---- faults
// -----------------------------------------------------------------------------------------

using DllFaults = TDllTest;

TEST_F(DllFaults, ChartsDestroyedWhileTwoThreadsExchange) {
    constexpr int Rounds = 100;
    std::atomic<HWND> current{nullptr};
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::atomic<long> calls[2] = {};
    std::atomic<int> badResults{0};
    std::vector<std::thread> experts;
    for (int e = 0; e < 2; ++e)
        experts.emplace_back([&, e] {
            ProgressThreadName("expert");
            while (!stop.load()) {
                TBlock block;
                const int result = Exchange(current.load(), block);
                if (result != erNothing && result != erBuy && result != erSell)
                    ++badResults;
                ++calls[e];
                SwitchToThread(); // a call without a chart returns at once
            }
            ++finished;
        });
    const auto start = Clock::now();
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Progress("a chart to destroy");
        HWND chart = NewChart();
        HWND panel = CreateAndWait(chart);
        if (!panel)
            break;
        current = chart;
        // Both threads are in their loop on this chart before it goes.
        const long before[2] = {calls[0].load(), calls[1].load()};
        WaitUntil(
            [&] { return calls[0].load() > before[0] + 2 && calls[1].load() > before[1] + 2; },
            10s);
        if (round % 2)
            ClickAndFlush(panel, TSide::Sell);
        FHost->DestroyChart(chart);
    }
    stop = true;
    JoinOrDie(experts, finished, "experts");
    RecordProperty("charts_destroyed", Rounds);
    RecordProperty("exchanges", static_cast<int>(calls[0].load() + calls[1].load()));
    RecordProperty("ms", static_cast<int>(Milliseconds(Clock::now() - start)));
    EXPECT_EQ(badResults.load(), 0);
    EXPECT_EQ(WaitForPanelThreads(0), 0) << "panel threads stayed behind";
    EXPECT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s));
    ExpectNormalCycleWorks();
}

TEST_F(DllFaults, AQuitPostedToThePanelThreadEndsThePanelAndTheChartTakesANewOne) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(PanelThreads(), 1);
    ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(panel, nullptr), WM_QUIT, 0, 0));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s)) << "the panel outlived its loop";
    EXPECT_EQ(WaitForPanelThreads(0), 0) << "the panel thread did not end";
    // The chart's properties name a window that is gone: no panel for the exports.
    EXPECT_EQ(GetPropA(chart, ContainerProperty), panel);
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_TRUE(block.IsUntouched());
    Delete(chart);
    HWND fresh = CreateAndWait(chart);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(PanelChildren(chart), std::vector<HWND>{fresh});
    ClickAndFlush(fresh, TSide::Buy);
    EXPECT_EQ(Exchange(chart, block), erBuy);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
}

TEST(DllUnload, ReleasingTheLibraryAfterTheFirstPanelKeepsItsPanelsWorking) {
    // A process of its own, where the host holds the only reference it takes.
    PELLITH_RUN_IN_CHILD_PROCESS();
    ProgressThreadName("test");
    ASSERT_EQ(GetModuleHandleW(L"Pellith.dll"), nullptr) << "loaded before the test";
    TChartHost host;
    HWND first = host.CreateChart({L"EURUSD,M1", 40, 40, 420, 300});
    HWND second = host.CreateChart({L"USDJPY,M1", 520, 40, 420, 300});
    auto library = std::make_unique<TPellithLibrary>(DllPath());
    const TTerminalCreate create = library->TerminalCreate;
    const TTerminalProcessMsg exchange = library->TerminalProcessMsg;
    const TTerminalDelete remove = library->TerminalDelete;
    const HANDLE mark = reinterpret_cast<HANDLE>(library->Module());
    create(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, first, "EURUSD");
    ASSERT_TRUE(WaitUntil([&] { return GetPropA(first, AttachedProperty) == mark; }, 10s));
    HWND panel = static_cast<HWND>(GetPropA(first, ContainerProperty));

    library.reset(); // FreeLibrary: the host's last reference
    ASSERT_NE(GetModuleHandleW(L"Pellith.dll"), nullptr) << "the library left the process";

    // The running panel goes on: its timer, its clicks, its exchange.
    EXPECT_TRUE(WaitUntil([&] { return host.RegisteredPosts(first).size() == 1; }, 10s));
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    PostClick(panel, LabelPoint(TSide::Sell));
    ASSERT_TRUE(watch.Flush(panel));
    TBlock block;
    EXPECT_EQ(exchange(1.1, 1.0, 1e-5, 1e-4, 5, block.Values, 4, first), erSell);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
    // New panels come as before, and both go on delete.
    create(1.10525, 1.10510, 1e-5, 1e-4, 0.7, 50, 25, 15, 5, second, "USDJPY");
    ASSERT_TRUE(WaitUntil([&] { return GetPropA(second, AttachedProperty) == mark; }, 10s));
    EXPECT_EQ(exchange(1.1, 1.0, 1e-5, 1e-4, 5, block.Values, 4, second), erNothing);
    EXPECT_EQ(block.Values[esLots], 0.7);
    remove(first);
    remove(second);
    EXPECT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s));
}

TEST_F(DllFaults, EightPanelsBuiltAtOnceFromEightThreadsAllAppear) {
    constexpr int Panels = 8;
    constexpr int Rounds = 5;
    std::array<HWND, Panels> charts{};
    for (int i = 0; i < Panels; ++i)
        charts[i] = NewChart(L"many", 40 + 100 * (i % 4), 40 + 300 * (i / 4));
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::atomic<int> ready{0};
        std::atomic<int> finished{0};
        std::vector<std::thread> experts;
        for (int i = 0; i < Panels; ++i)
            experts.emplace_back([&, i] {
                ProgressThreadName("expert");
                // All start together, as far as the system lets them.
                ++ready;
                while (ready.load() < Panels)
                    SwitchToThread();
                Create(charts[i], {.Lots = 0.1 * (i + 1)});
                ++finished;
            });
        JoinOrDie(experts, finished, "creating experts");
        for (int i = 0; i < Panels; ++i) {
            SCOPED_TRACE("chart " + std::to_string(i));
            HWND panel = WaitForPanel(charts[i]);
            ASSERT_NE(panel, nullptr) << "a panel was lost";
            EXPECT_EQ(PanelChildren(charts[i]), std::vector<HWND>{panel});
            TBlock block;
            EXPECT_EQ(Exchange(charts[i], block), erNothing);
            EXPECT_EQ(block.Values[esLots], std::round(10 * 0.1 * (i + 1)) / 10)
                << "the panel has another chart's values";
        }
        EXPECT_EQ(AllPanelWindows().size(), static_cast<size_t>(Panels));
        EXPECT_EQ(PanelThreads(), Panels) << "one panel thread per panel";
        for (HWND chart : charts)
            Delete(chart);
        ASSERT_TRUE(WaitUntil([] { return AllPanelWindows().empty(); }, 10s));
    }
}

} // namespace
