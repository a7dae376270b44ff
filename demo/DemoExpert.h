#pragma once
// One chart of the demo terminal, as the terminal runs it: the price feed, the real expert
// (PellithPanel.mq4, translated) with its events on a thread of its own (never the chart's), the
// expert's calls into the real Pellith.dll, and the chart's picture of the price, the orders and
// what the expert told the trader. The orders live on the simulated trade server the charts share.

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "demo/DemoLog.h"
#include "demo/DemoMarket.h"
#include "mql4/PellithPanel.h"
#include "terminal/ChartHost.h"
#include "terminal/PellithLibrary.h"
#include "tradeserver/TradeServer.h"

// Counters over all charts, for the summary.
struct TDemoStats {
    std::atomic<long> Ticks{0};
    std::atomic<long> Exchanges{0};
    std::atomic<long> LoggedExchanges{0};
    std::atomic<long> Clicks{0};
    std::atomic<long> Orders{0};
    std::atomic<long> Rejected{0};
    std::atomic<long> Closed{0};
    std::atomic<long> Alerts{0};
};

// The demo broker's rules for a symbol: instant execution, except USDJPY under market
// execution; gold with a stop level of 5 pips.
TSymbolRules DemoTradeRules(const TSymbolSpec& ASpec);

// The inputs the trader gives the expert on a chart of this symbol.
mql4::TPellithPanelInputs DemoExpertInputs(const TSymbolSpec& ASpec);

class TDemoExpert : private mql4::TPellithPanelImports, private mql4::TMqlHost {
public:
    TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                TDemoLog& ALog, TDemoStats& AStats, TTradeServer& AServer, std::uint32_t ASeed);
    // Stops the expert if it still runs.
    ~TDemoExpert();

    TDemoExpert(const TDemoExpert&) = delete;
    TDemoExpert& operator=(const TDemoExpert&) = delete;

    void Start();
    // Ends the event loop and waits until the expert has run OnDeinit (which calls
    // TerminalDelete); `AReason` is the terminal's uninitialization reason.
    void Stop(int AReason = mql4::REASON_CLOSE);

    HWND Chart() const { return FChart; }
    const TSymbolSpec& Spec() const { return FSpec; }
    // Closed and open profit in dollars of this chart's orders; safe to read at any time.
    double RealisedProfit() const;
    double OpenProfit() const;

private:
    // The #import block, served by the real library; each call also goes to the log.
    void TerminalCreate(double AAsk, double ABid, double APoint, double APip, double ALots,
                        double AStopLoss, double ATakeProfit, double ATrailing, int ADigits,
                        int AChart, mql4::TMqlArray<mql4::uchar>& ASymbol) override;
    int TerminalProcessMsg(double AAsk, double ABid, double APoint, double APip, int ADigits,
                           mql4::TMqlArray<double>& AValues, int ASize, int AChart) override;
    void TerminalDelete(int AChart) override;
    // What the expert tells the trader and the journal, and its clock.
    void Alert(const std::string& AText) override;
    void Print(const std::string& AText) override;
    mql4::uint TickCount() override;
    void Sleep(int AMs) override;

    void Run();
    std::vector<TServerOrder> MyOrders() const;
    void WatchOrders();
    void WatchPanel();
    void Draw(const TQuote& AQuote);

    TSymbolSpec FSpec;
    TPellithLibrary& FLibrary;
    TChartHost& FHost;
    HWND FChart;
    TDemoLog& FLog;
    TDemoStats& FStats;
    TTradeServer& FServer;
    TRandomWalk FWalk;
    std::mt19937 FTiming;
    TExchangeLogPolicy FPolicy;
    std::string FTag; // the comment that starts this chart's orders
    std::unique_ptr<mql4::TPellithPanel> FExpert;

    // Touched by the expert's thread only.
    long FTick = 0;
    std::array<double, 4> FBlock{}; // the exchange block as the library last wrote it
    std::vector<double> FBids;
    std::string FLastClick = "none";
    std::string FLastAlert;
    HWND FPanelSeen = nullptr;
    std::size_t FPostsSeen = 0;
    std::map<int, TServerOrder> FKnown; // this chart's orders as last logged

    TKernelHandle FStopEvent;
    std::atomic<int> FStopReason{mql4::REASON_CLOSE};
    std::thread FThread;
};
