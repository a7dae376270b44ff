#include "tests/win32/dll/DllTestSupport.h"

#include <cstdio>
#include <thread>

bool TBlock::IsUntouched() const {
    for (double value : Values)
        if (value != Untouched)
            return false;
    return true;
}

void ExpectBlock(const double* ABlock, double ALots, double AStopLoss, double ATakeProfit,
                 double ATrailingStop) {
    EXPECT_EQ(ABlock[esLots], ALots) << "lot slot";
    EXPECT_EQ(ABlock[esStopLoss], AStopLoss) << "stop-loss slot";
    EXPECT_EQ(ABlock[esTakeProfit], ATakeProfit) << "take-profit slot";
    EXPECT_EQ(ABlock[esTrailingStop], ATrailingStop) << "trailing-stop slot";
}

bool CompletesWithin(std::function<void()> AWork, std::chrono::milliseconds ADeadline) {
    struct TShared {
        std::function<void()> Work;
        TKernelHandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    auto shared = std::make_shared<TShared>();
    shared->Work = std::move(AWork);
    std::thread([shared] {
        ProgressThreadName("bounded call");
        shared->Work();
        SetEvent(shared->Done.Get());
    }).detach();
    if (WaitForSingleObject(shared->Done.Get(), static_cast<DWORD>(ADeadline.count())) ==
        WAIT_OBJECT_0)
        return true;
    // A call that hangs is rare and hard to catch twice: say at once where every thread stands.
    PrintWhereThreadsStand();
    return false;
}

void TDllTest::SetUp() {
    ProgressThreadName("test");
    Progress("starting the chart host and loading the library");
    ASSERT_FALSE(DllPath().empty()) << "pass --dll=<path of Pellith.dll>";
    FHost = std::make_unique<TChartHost>();
    FLibrary = std::make_unique<TPellithLibrary>(DllPath());
}

void TDllTest::TearDown() {
    Progress("tearing down: deleting the panels that are left");
    if (FHost && FLibrary)
        for (HWND chart : FHost->Charts())
            FLibrary->TerminalDelete(chart);
    FHost.reset();
    // A panel that outlives its test would disturb the counts of the next one.
    Progress("tearing down: waiting for the panels to go");
    const bool gone = WaitUntil([] { return AllPanelWindows().empty(); }, 10s);
    EXPECT_TRUE(gone) << AllPanelWindows().size() << " panel window(s) outlived the test";
    if (!gone)
        for (HWND panel : AllPanelWindows())
            std::fprintf(stderr, "  panel %p: parent %p, thread %04lx, %s\n",
                         static_cast<void*>(panel), static_cast<void*>(GetParent(panel)),
                         GetWindowThreadProcessId(panel, nullptr),
                         IsWindowVisible(panel) ? "visible" : "hidden");
    // Every panel thread has ended.
    Progress("tearing down: waiting for the panel threads to end");
    if (FLibrary) {
        EXPECT_EQ(WaitForPanelThreads(0), 0) << "panel threads outlived the test";
    }
    FLibrary.reset();
    Progress("torn down");
}

HWND TDllTest::NewChart(const wchar_t* ATitle, int ALeft, int ATop) {
    TChartOptions options;
    options.Title = ATitle;
    options.Left = ALeft;
    options.Top = ATop;
    options.ClientWidth = 420;
    options.ClientHeight = 300;
    return FHost->CreateChart(options);
}

void TDllTest::Create(HWND AChart, const TCreateArgs& AArgs) {
    Progress("TerminalCreate");
    FLibrary->TerminalCreate(AArgs.Ask, AArgs.Bid, AArgs.Point, AArgs.MyPoint, AArgs.Lots,
                             AArgs.StopLossPips, AArgs.TakeProfitPips, AArgs.TrailStopStartPips,
                             AArgs.Digits, AChart, AArgs.Symbol);
}

int TDllTest::Exchange(HWND AChart, double* ABlock, int ASize, const TQuote& AQuote) {
    Progress("TerminalProcessMsg");
    return FLibrary->TerminalProcessMsg(AQuote.Ask, AQuote.Bid, AQuote.Point, AQuote.MyPoint,
                                        AQuote.Digits, ABlock, ASize, AChart);
}

void TDllTest::Delete(HWND AChart) {
    Progress("TerminalDelete");
    FLibrary->TerminalDelete(AChart);
}

HWND TDllTest::AttachedPanel(HWND AChart) const {
    if (GetPropA(AChart, AttachedProperty) != reinterpret_cast<HANDLE>(Module()))
        return nullptr;
    HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    return IsWindow(panel) ? panel : nullptr;
}

HWND TDllTest::WaitForPanel(HWND AChart, HWND AOld, std::chrono::milliseconds ADeadline) {
    Progress("waiting for a panel");
    HWND panel = nullptr;
    WaitUntil(
        [&] {
            panel = AttachedPanel(AChart);
            return panel && panel != AOld;
        },
        ADeadline);
    return panel != AOld ? panel : nullptr;
}

HWND TDllTest::CreateAndWait(HWND AChart, const TCreateArgs& AArgs) {
    Create(AChart, AArgs);
    HWND panel = WaitForPanel(AChart);
    EXPECT_NE(panel, nullptr) << "no panel appeared on the chart";
    return panel;
}

void TDllTest::ClickAndFlush(HWND APanel, TSide ASide) {
    Progress("clicking a price label");
    TQueueWatch watch(GetWindowThreadProcessId(APanel, nullptr));
    ASSERT_TRUE(watch.Installed());
    PostClick(APanel, LabelPoint(ASide));
    ASSERT_TRUE(watch.Flush(APanel)) << "the panel thread did not take its messages";
}

void TDllTest::ExpectNormalCycleWorks() {
    Progress("normal cycle after bad input");
    HWND chart = NewChart(L"GBPUSD,M5", 520, 40);
    ASSERT_TRUE(CompletesWithin([=, this] { Create(chart); }, 10s)) << "TerminalCreate hung";
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr) << "no panel after bad input";
    // Shared with the call's thread, which a hung call leaves behind.
    auto block = std::make_shared<TBlock>();
    auto result = std::make_shared<int>(-1);
    ASSERT_TRUE(CompletesWithin([=, this] { *result = Exchange(chart, *block); }, 10s))
        << "TerminalProcessMsg hung: the lock is held";
    EXPECT_EQ(*result, erNothing);
    ExpectBlock(block->Values, 0.1, 50, 25, 15);
    ASSERT_TRUE(CompletesWithin([=, this] { Delete(chart); }, 10s)) << "TerminalDelete hung";
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    FHost->DestroyChart(chart);
}
