#pragma once
// One chart of the demo terminal, as the terminal runs it: the price feed, the real expert
// (PellithPanel.mq4 against the MT4 server, or PellithPanel.mq5 against an MT5 account's server,
// translated) with its events on a thread of its own (never the chart's), the
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
#include "mql5/PellithPanel.h"
#include "terminal/ChartHost.h"
#include "terminal/PellithLibrary.h"
#include "tradeserver/TradeServer.h"
#include "tradeserver/TradeServer5.h"

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
    // The trader's guards at work: clicks refused above the fat-finger cap and at a wide
    // spread, orders sized down from the lots typed by risk, stops moved to break-even.
    std::atomic<long> Capped{0};
    std::atomic<long> SpreadRefused{0};
    std::atomic<long> RiskSized{0};
    std::atomic<long> BreakEvens{0};
};

// The demo broker's rules for a symbol: instant execution, except USDJPY under market
// execution; gold with a stop level of 5 pips.
TSymbolRules DemoTradeRules(const TSymbolSpec& ASpec);

// The inputs the trader gives the expert on a chart of this symbol, in MT4 and in MT5: EURUSD
// trades with lots from risk and break-even, XAUUSD with a spread guard above its usual spread.
mql4::TPellithPanelInputs DemoExpertInputs(const TSymbolSpec& ASpec);
mql5::TPellithPanelInputs DemoExpertInputs5(const TSymbolSpec& ASpec);

// A chart's order (MT4) or position (MT5) as the log and the chart show it. An MT5 position is
// closed once the server no longer holds it; its closing deals give the price and the profit.
struct TDemoOrder {
    long long Ticket = 0; // the order's ticket, or the position's identifier
    int Type = otBuy;
    double Lots = 0;
    double OpenPrice = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    bool Closed = false;
    double ClosePrice = 0;
    std::string CloseReason;
    double Profit = 0;   // dollars: the open one's floating profit, or the closed one's
    double Realised = 0; // dollars an open MT5 position made in its partial closes so far
};

// This chart's positions among an MT5 server's book: those opened by a deal whose comment starts
// with ATag.
std::vector<TDemoOrder> DemoPositions(const std::vector<TPosition5>& APositions,
                                      const std::vector<TDeal5>& ADeals, const std::string& ATag);

class TDemoExpert : private mql4::TPellithPanelImports,
                    private mql5::TPellithPanelImports,
                    private mql::TMqlHost {
public:
    // The MT4 expert against the MT4 server.
    TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                TDemoLog& ALog, TDemoStats& AStats, TTradeServer& AServer, std::uint32_t ASeed);
    // The MT5 expert against the server of the account this chart's terminal is logged in to.
    TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                TDemoLog& ALog, TDemoStats& AStats, TTradeServer5& AServer, std::uint32_t ASeed);
    // Stops the expert if it still runs.
    ~TDemoExpert();

    TDemoExpert(const TDemoExpert&) = delete;
    TDemoExpert& operator=(const TDemoExpert&) = delete;

    void Start();
    // Ends the event loop and waits until the expert has run OnDeinit (which calls
    // TerminalDelete); `AReason` is the terminal's uninitialization reason.
    void Stop(int AReason = mql::REASON_CLOSE);

    HWND Chart() const { return FChart; }
    // A news spike: the spread widens to APips for AMs from the chart's next tick on. Returns once
    // the server quotes it (false if no tick came within two seconds). Any thread.
    bool SpreadSpike(double APips, int AMs);
    const TSymbolSpec& Spec() const { return FSpec; }
    // Closed and open profit in dollars of this chart's orders; safe to read at any time.
    double RealisedProfit() const;
    double OpenProfit() const;

private:
    TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                TDemoLog& ALog, TDemoStats& AStats, std::uint32_t ASeed);

    // The #import blocks of both experts, served by the real library; each call also goes to
    // the log. MT4 passes the chart as a 32-bit int, MT5 as a 64-bit long.
    void TerminalCreate(double AAsk, double ABid, double APoint, double APip, double ALots,
                        double AStopLoss, double ATakeProfit, double ATrailing, int ADigits,
                        int AChart, mql::TMqlArray<mql::uchar>& ASymbol) override;
    int TerminalProcessMsg(double AAsk, double ABid, double APoint, double APip, int ADigits,
                           mql::TMqlArray<double>& AValues, int ASize, int AChart) override;
    void TerminalDelete(int AChart) override;
    void TerminalCreate(double AAsk, double ABid, double APoint, double APip, double ALots,
                        double AStopLoss, double ATakeProfit, double ATrailing, int ADigits,
                        mql::mql_long AChart, mql::TMqlArray<mql::uchar>& ASymbol) override;
    int TerminalProcessMsg(double AAsk, double ABid, double APoint, double APip, int ADigits,
                           mql::TMqlArray<double>& AValues, int ASize,
                           mql::mql_long AChart) override;
    void TerminalDelete(mql::mql_long AChart) override;
    void Create(double AAsk, double ABid, double APoint, double APip, double ALots,
                double AStopLoss, double ATakeProfit, double ATrailing, int ADigits, HWND AChart,
                const char* ASymbol);
    int Exchange(double AAsk, double ABid, double APoint, double APip, int ADigits,
                 mql::TMqlArray<double>& AValues, int ASize, HWND AChart);
    void Delete(HWND AChart);
    // What the expert tells the trader and the journal, and its clock.
    void Alert(const std::string& AText) override;
    void Print(const std::string& AText) override;
    mql4::uint TickCount() override;
    void Sleep(int AMs) override;

    void Run();
    void SetQuote(const TQuote& AQuote);
    std::vector<TDemoOrder> MyOrders() const;
    void WatchOrders();
    void WatchPanel();
    void Draw(const TQuote& AQuote);

    TSymbolSpec FSpec;
    TPellithLibrary& FLibrary;
    TChartHost& FHost;
    HWND FChart;
    TDemoLog& FLog;
    TDemoStats& FStats;
    TTradeServer* FServer = nullptr;   // the MT4 chart's, or
    TTradeServer5* FServer5 = nullptr; // the MT5 chart's
    TRandomWalk FWalk;
    std::mt19937 FTiming;
    TExchangeLogPolicy FPolicy;
    mql::TMqlChart FMqlChart;
    std::string FTag;                              // the comment that starts this chart's orders
    std::unique_ptr<mql::TMqlProgramBase> FExpert; // the MT4 or the MT5 expert

    // Touched by the expert's thread only.
    long FTick = 0;
    std::array<double, 4> FBlock{}; // the exchange block as the library last wrote it
    std::vector<double> FBids;
    std::string FLastClick = "none";
    std::string FLastAlert;
    HWND FPanelSeen = nullptr;
    std::size_t FPostsSeen = 0;
    std::map<long long, TDemoOrder> FKnown; // this chart's orders as last logged

    // A spread spike, set by SpreadSpike's thread, applied by the expert's.
    std::atomic<double> FSpikePips{0};
    std::atomic<long long> FSpikeUntil{0}; // steady clock milliseconds
    std::atomic<bool> FSpikeQuoted{false};

    TKernelHandle FStopEvent;
    std::atomic<int> FStopReason{mql::REASON_CLOSE};
    std::thread FThread;
};
