#pragma once
// The fixture of the tests of Pellith.dll: the library under test loaded by a stand-in terminal,
// the export calls with their usual arguments, and the blocks they fill. It brings in the tools
// the tests share: the shared test main's options and watchdog, child processes, the panel seen
// from outside, process-wide counts, queue hooks, fault injection and foreign windows.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controls/Exchange.h"
#include "terminal/ChartHost.h"
#include "terminal/PanelUser.h"
#include "terminal/PellithLibrary.h"
#include "terminal/tests/BusyChart.h"
#include "terminal/tests/ForeignWindow.h"
#include "terminal/tests/ProcessCounts.h"
#include "terminal/tests/TestMain.h"
#include "tests/win32/dll/ChildProcess.h"
#include "tests/win32/dll/FaultInjection.h"
#include "tests/win32/dll/PanelWindows.h"
#include "tests/win32/dll/QueueWatch.h"

using namespace std::chrono_literals;

// ---- arguments ---------------------------------------------------------------------------

struct TCreateArgs {
    double Ask = 1.10525;
    double Bid = 1.10510;
    double Point = 0.00001;
    double MyPoint = 0.0001;
    double Lots = 0.1;
    double StopLossPips = 50;
    double TakeProfitPips = 25;
    double TrailStopStartPips = 15;
    int Digits = 5;
    const char* Symbol = "EURUSD";
};

struct TQuote {
    double Ask = 1.10525;
    double Bid = 1.10510;
    double Point = 0.00001;
    double MyPoint = 0.0001;
    int Digits = 5;
};

// A block the library has not written: every slot holds a value it never writes.
constexpr double Untouched = -7777.25;
struct TBlock {
    // One slot past the block, so that a write beyond it shows.
    double Values[ExchangeBlockSize + 1] = {Untouched, Untouched, Untouched, Untouched, Untouched};
    bool IsUntouched() const;
};

// ---- the fixture --------------------------------------------------------------------------

// A stand-in terminal with the library loaded the way an expert loads it. The test's own thread
// plays the expert: it is never the chart thread.
class TDllTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    HWND NewChart(const wchar_t* ATitle = L"EURUSD,M1", int ALeft = 40, int ATop = 40);
    HMODULE Module() const { return FLibrary->Module(); }
    int PanelThreads() const { return ThreadsStartedIn(Module()); }
    int WaitForPanelThreads(int AExpected) const {
        return WaitForThreadsStartedIn(Module(), AExpected);
    }

    void Create(HWND AChart, const TCreateArgs& AArgs = {});
    int Exchange(HWND AChart, double* ABlock, int ASize = ExchangeBlockSize,
                 const TQuote& AQuote = {});
    int Exchange(HWND AChart, TBlock& ABlock, const TQuote& AQuote = {}) {
        return Exchange(AChart, ABlock.Values, ExchangeBlockSize, AQuote);
    }
    void Delete(HWND AChart);

    // The panel window the chart's properties name while the chart carries this library's mark
    // and that window lives; null otherwise.
    HWND AttachedPanel(HWND AChart) const;
    // Waits until the chart carries a live panel other than AOld; null on the deadline.
    HWND WaitForPanel(HWND AChart, HWND AOld = nullptr, std::chrono::milliseconds ADeadline = 10s);
    // Creates a panel on the chart and waits for it; fails the test when none comes.
    HWND CreateAndWait(HWND AChart, const TCreateArgs& AArgs = {});
    // Posts a click on a price label and waits until the panel thread has dispatched it.
    void ClickAndFlush(HWND APanel, TSide ASide);
    // A normal create, exchange and delete on a new chart, each call on a helper thread that
    // must come back within the deadline: proves the library's lock is free and nothing broke.
    void ExpectNormalCycleWorks();

    std::unique_ptr<TChartHost> FHost;
    std::unique_ptr<TPellithLibrary> FLibrary;
};

// Calls `AWork` on a new thread and waits for it; false (and the thread left behind) when it
// does not come back within the deadline.
bool CompletesWithin(std::function<void()> AWork, std::chrono::milliseconds ADeadline);

// Expects the four slots of a block to hold the given values, naming the slot that differs.
void ExpectBlock(const double* ABlock, double ALots, double AStopLoss, double ATakeProfit,
                 double ATrailingStop);
