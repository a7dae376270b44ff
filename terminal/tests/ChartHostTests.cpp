#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "terminal/ChartHost.h"
#include "terminal/WindowCapture.h"
#include "terminal/tests/ForeignWindow.h"

namespace {

using namespace std::chrono_literals;

// One terminal window for the suite: starting and ending one costs seconds under a bare X server.
// Class, owner process and top-level ancestor of a window, for failure messages.
std::string WindowDescription(HWND AWindow) {
    char name[64] = "?";
    GetClassNameA(AWindow, name, sizeof name);
    DWORD process = 0;
    GetWindowThreadProcessId(AWindow, &process);
    char root[64] = "?";
    GetClassNameA(GetAncestor(AWindow, GA_ROOT), root, sizeof root);
    return std::string(name) + " of process " + std::to_string(process) + " in " + root +
           (process == GetCurrentProcessId() ? " (this process)" : "");
}

class ChartHostTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // At the bottom right of the screen, out of the way of other tests' windows, which
        // mostly stand at the top left.
        TTerminalOptions options;
        options.ClientWidth = 600;
        options.ClientHeight = 420;
        options.Left = GetSystemMetrics(SM_CXSCREEN) - options.ClientWidth - 20;
        options.Top = GetSystemMetrics(SM_CYSCREEN) - options.ClientHeight - 40;
        Host = std::make_unique<TChartHost>(options);
    }
    static void TearDownTestSuite() { Host.reset(); }
    void TearDown() override {
        FHost.KeepTerminalOnTop(false);
        for (HWND chart : Host->Charts())
            Host->DestroyChart(chart);
    }

    HWND NewChart(const wchar_t* ATitle = L"EURUSD,M1") {
        TChartOptions options;
        options.Title = ATitle;
        options.Left = 40;
        options.Top = 40;
        options.ClientWidth = 420;
        options.ClientHeight = 300;
        return Host->CreateChart(options);
    }

    // What the chart shows, or nothing while another window covers ours (the display may be
    // shared): then the terminal window goes on top for the next try.
    TPixels CaptureUncovered(HWND AChart) {
        if (!IsUnobstructed(FHost.TerminalWindow())) {
            FHost.KeepTerminalOnTop(true);
            return {};
        }
        return CaptureWindowPixels(AChart);
    }

    static inline std::unique_ptr<TChartHost> Host;
    TChartHost& FHost = *Host;
};

TEST_F(ChartHostTest, ChartsBelongToTheChartThreadNotToTheCaller) {
    HWND chart = NewChart();
    ASSERT_TRUE(IsWindow(chart));
    EXPECT_EQ(GetWindowThreadProcessId(chart, nullptr), FHost.ThreadId());
    EXPECT_NE(FHost.ThreadId(), GetCurrentThreadId());
    EXPECT_EQ(GetParent(chart), FHost.TerminalWindow());
    RECT client{};
    GetClientRect(chart, &client);
    EXPECT_EQ(client.right, 420);
    EXPECT_EQ(client.bottom, 300);
    // The library adds WS_CLIPCHILDREN itself; a chart must not come with it already set.
    EXPECT_EQ(GetWindowLongW(chart, GWL_STYLE) & WS_CLIPCHILDREN, 0);
}

TEST_F(ChartHostTest, AChildCreatedByAnotherThreadAttachesWhileTheCallerWaits) {
    HWND chart = NewChart();
    // Creating the child makes the system wait for the chart thread to take WM_PARENTNOTIFY:
    // it completes only because the chart thread pumps while this thread waits.
    // Like a panel thread, the child's thread marks the chart WS_CLIPCHILDREN first.
    const TForeignWindow child(chart, {10, 20, 216, 177}, RGB(10, 200, 30), 0, nullptr,
                               TParentClip::ClipChildren);
    ASSERT_TRUE(child.Window()) << "the child was not made in time";
    EXPECT_EQ(GetParent(child.Window()), chart);
    EXPECT_NE(GetWindowThreadProcessId(child.Window(), nullptr), FHost.ThreadId());
}

TEST_F(ChartHostTest, RecordsEveryPostOfTheRegisteredMessageWithItsParameters) {
    HWND chart = NewChart();
    HWND other = NewChart(L"USDJPY,M1");
    ASSERT_NE(FHost.RegisteredMessage(), 0u);
    EXPECT_EQ(FHost.RegisteredMessage(), RegisterWindowMessageA("MetaTrader4_Internal_Message"));
    PostMessageW(chart, WM_USER + 7, 2, 1); // any other message is not counted
    PostMessageA(chart, FHost.RegisteredMessage(), 2, 1);
    PostMessageA(chart, FHost.RegisteredMessage(), 5, 6);
    ASSERT_TRUE(WaitUntil([&] { return FHost.RegisteredPosts(chart).size() >= 2; }, 5s))
        << FHost.RegisteredPosts(chart).size() << " of the two posts recorded";
    const auto posts = FHost.RegisteredPosts(chart);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].WParam, 2u);
    EXPECT_EQ(posts[0].LParam, 1);
    EXPECT_EQ(posts[1].WParam, 5u);
    EXPECT_EQ(posts[1].LParam, 6);
    EXPECT_TRUE(FHost.RegisteredPosts(other).empty());
}

TEST_F(ChartHostTest, ACloseRequestIsRecordedAndTheWindowStaysUntilDestroyed) {
    HWND chart = NewChart();
    EXPECT_FALSE(FHost.CloseRequested(chart));
    PostMessageW(chart, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return FHost.CloseRequested(chart); }, 5s))
        << "the chart never saw WM_CLOSE";
    EXPECT_TRUE(IsWindow(chart));
    EXPECT_EQ(FHost.Charts(), std::vector<HWND>{chart});

    FHost.DestroyChart(chart);
    EXPECT_FALSE(IsWindow(chart));
    EXPECT_TRUE(FHost.Charts().empty());
    EXPECT_FALSE(FHost.CloseRequested(chart));
}

// The mean row of the pixels of `colour` in a band of columns, or -1 if there are none.
double MeanRowOf(const TPixels& APicture, TRgb AColour, int AFromX, int AToX) {
    double sum = 0;
    int count = 0;
    for (int y = 0; y < APicture.Height; ++y)
        for (int x = AFromX; x < AToX; ++x)
            if (APicture.At(x, y) == AColour) {
                sum += y;
                ++count;
            }
    return count ? sum / count : -1;
}

constexpr TRgb AsRgb(COLORREF c) {
    return (TRgb{GetRValue(c)} << 16) | (TRgb{GetGValue(c)} << 8) | GetBValue(c);
}

TEST_F(ChartHostTest, PaintsTheSuppliedPriceLineRisingWithThePrice) {
    HWND chart = NewChart();
    TChartPicture picture;
    picture.Digits = 5;
    picture.Spread = 0.0002;
    for (int i = 0; i < 80; ++i)
        picture.Bids.push_back(1.1000 + 0.0001 * i);
    FHost.SetPicture(chart, picture);

    TPixels shot;
    ASSERT_TRUE(WaitUntil(
        [&] {
            shot = CaptureUncovered(chart);
            return shot.Width == 420 && MeanRowOf(shot, AsRgb(ChartPriceLine), 0, 420) >= 0;
        },
        10s))
        << "the price line never appeared on screen";
    // 80 ticks 4 pixels apart end at the price scale, 64 pixels from the right edge.
    const double olderRow = MeanRowOf(shot, AsRgb(ChartPriceLine), 420 - 64 - 300, 420 - 64 - 200);
    const double newerRow = MeanRowOf(shot, AsRgb(ChartPriceLine), 420 - 64 - 100, 420 - 64 - 2);
    ASSERT_GE(olderRow, 0);
    ASSERT_GE(newerRow, 0);
    EXPECT_GT(olderRow, newerRow + 50) << "a rising price must be drawn rising";
    EXPECT_GE(MeanRowOf(shot, AsRgb(ChartAskLine), 0, 420), 0) << "no ask line";
    int background = 0;
    for (TRgb c : shot.Rgb)
        background += c == AsRgb(ChartBackground);
    EXPECT_GT(background, shot.Width * shot.Height / 2);
}

TEST_F(ChartHostTest, CaptureShowsAChildPaintedByAnotherThreadAtItsPlace) {
    HWND chart = NewChart();
    FHost.SetPicture(chart, TChartPicture{{1.0, 1.1, 1.05}, 0.01, 2, {}, {L"a note"}});
    const TForeignWindow child(chart, {10, 20, 216, 177}, RGB(10, 200, 30), 0, nullptr,
                               TParentClip::ClipChildren);
    ASSERT_TRUE(child.Window()) << "the child was not made in time";
    TPixels shot;
    const auto insideIsChild = [&] {
        shot = CaptureUncovered(chart);
        if (shot.Width != 420)
            return false;
        for (int y = 20; y < 177; y += 8)
            for (int x = 10; x < 216; x += 8)
                if (shot.At(x, y) != 0x0AC81E)
                    return false;
        return true;
    };
    EXPECT_TRUE(WaitUntil(insideIsChild, 10s)) << "the child's area is not its colour on screen";
    EXPECT_NE(shot.At(9, 19), 0x0AC81Eu);
    EXPECT_NE(shot.At(216, 177), 0x0AC81Eu);
}

TEST_F(ChartHostTest, ACoveringWindowIsNoticedAndKeepingTheTerminalOnTopUncoversIt) {
    HWND chart = NewChart();
    const RECT client = ClientRectOnScreen(chart);
    HWND before = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return IsUnobstructed(FHost.TerminalWindow(), 16, &before); }, 5s))
        << "covered from the start by " << WindowDescription(before);
    // Another program's window over part of the chart, as on a shared display. (A window class
    // of its own: a static control is transparent to hit tests and would not count.)
    WNDCLASSW coverClass{};
    coverClass.lpfnWndProc = DefWindowProcW;
    coverClass.hInstance = GetModuleHandleW(nullptr);
    coverClass.lpszClassName = L"CoveringTestWindow";
    RegisterClassW(&coverClass);
    HWND cover = CreateWindowExW(WS_EX_TOOLWINDOW, coverClass.lpszClassName, L"",
                                 WS_POPUP | WS_VISIBLE, client.left + 50, client.top + 50, 60, 60,
                                 nullptr, nullptr, coverClass.hInstance, nullptr);
    ASSERT_TRUE(cover);
    EXPECT_FALSE(IsUnobstructed(FHost.TerminalWindow()));
    EXPECT_FALSE(IsUnobstructed(chart));
    FHost.KeepTerminalOnTop(true);
    HWND covering = nullptr;
    EXPECT_TRUE(
        WaitUntil([&] { return IsUnobstructed(FHost.TerminalWindow(), 16, &covering); }, 5s))
        << "still covered by " << WindowDescription(covering)
        << (covering == cover ? " (the test's own)" : "");
    FHost.KeepTerminalOnTop(false);
    EXPECT_FALSE(GetWindowLongW(FHost.TerminalWindow(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    DestroyWindow(cover);
}

TEST_F(ChartHostTest, AClosedTerminalWindowIsRecordedAndStays) {
    EXPECT_FALSE(FHost.TerminalCloseRequested());
    PostMessageW(FHost.TerminalWindow(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return FHost.TerminalCloseRequested(); }, 5s))
        << "the terminal window never saw WM_CLOSE";
    EXPECT_TRUE(IsWindow(FHost.TerminalWindow()));
}

TEST_F(ChartHostTest, ChartsCanBeMadeAndDestroyedFromManyThreadsAtOnce) {
    TChartHost& host = FHost;
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                HWND chart = host.CreateChart({L"chart", 20 + 30 * t, 20 + 10 * i, 200, 150});
                if (IsWindow(chart) && GetWindowThreadProcessId(chart, nullptr) == host.ThreadId())
                    ++made;
                host.DestroyChart(chart);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(made.load(), 20);
    EXPECT_TRUE(host.Charts().empty());
}

TEST(ChartHostLifetime, EndingTheHostDestroysTheChartsThatAreLeftAndItsWindow) {
    HWND chart;
    HWND terminal;
    {
        TChartHost host;
        chart = host.CreateChart({L"XAUUSD,M1", 60, 60, 300, 200});
        terminal = host.TerminalWindow();
        ASSERT_TRUE(IsWindow(chart));
    }
    EXPECT_FALSE(IsWindow(chart));
    EXPECT_FALSE(IsWindow(terminal));
}

} // namespace
