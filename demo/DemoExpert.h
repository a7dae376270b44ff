#pragma once
// What an expert does on one chart of the demo terminal, on a thread of its own (never the
// chart's): TerminalCreate at the start, TerminalProcessMsg on every simulated tick, paper orders
// on the clicks it reports, the trailing stops and closes as the price moves, the chart's
// picture, and TerminalDelete at the end.

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "demo/DemoLog.h"
#include "demo/DemoMarket.h"
#include "demo/PaperBook.h"
#include "terminal/ChartHost.h"
#include "terminal/PellithLibrary.h"

// Counters over all charts, for the summary.
struct TDemoStats {
    std::atomic<long> Ticks{0};
    std::atomic<long> Exchanges{0};
    std::atomic<long> LoggedExchanges{0};
    std::atomic<long> Clicks{0};
    std::atomic<long> Orders{0};
    std::atomic<long> Rejected{0};
    std::atomic<long> Closed{0};
};

// The values the expert starts the panel with.
struct TPanelDefaults {
    double Lots = 0.10;
    double StopLossPips = 10;
    double TakeProfitPips = 15;
    double TrailingStopPips = 0;
};

class TDemoExpert {
  public:
    TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                TDemoLog& ALog, TDemoStats& AStats, std::atomic<int>& ATickets,
                std::uint32_t ASeed);
    // Stops the expert if it still runs.
    ~TDemoExpert();

    TDemoExpert(const TDemoExpert&) = delete;
    TDemoExpert& operator=(const TDemoExpert&) = delete;

    void Start();
    // Ends the tick loop and waits until the expert has called TerminalDelete.
    void Stop();

    HWND Chart() const { return FChart; }
    const TSymbolSpec& Spec() const { return FSpec; }
    // Closed and open profit in dollars; safe to read at any time.
    double RealisedProfit() const;
    double OpenProfit() const;

  private:
    void Run();
    void Exchange(long ATick, const TQuote& AQuote);
    void OpenOrder(TSide ASide, const TQuote& AQuote);
    void WatchPanel();
    void Draw(const TQuote& AQuote);

    TSymbolSpec FSpec;
    TPellithLibrary& FLibrary;
    TChartHost& FHost;
    HWND FChart;
    TDemoLog& FLog;
    TDemoStats& FStats;
    TRandomWalk FWalk;
    std::mt19937 FTiming;
    TExchangeLogPolicy FPolicy;
    TPanelDefaults FDefaults;
    std::array<double, 4> FBlock; // the exchange block the library writes into
    std::vector<double> FBids;
    std::string FLastClick = "none";
    HWND FPanelSeen = nullptr;
    std::size_t FPostsSeen = 0;

    mutable std::mutex FBookLock; // guards FBook against the main thread's summary
    TPaperBook FBook;

    TKernelHandle FStopEvent;
    std::thread FThread;
};
