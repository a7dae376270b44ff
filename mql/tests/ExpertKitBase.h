#pragma once
// A terminal in miniature for a translated expert of either language, the base of the MT4 kit
// (mql4/tests/ExpertKit.h) and the MT5 one (mql5/tests/ExpertKit5.h): the simulated server with
// four symbols quoted, the host of TerminalKit.h (a clock that Sleep moves on at once, the Alerts
// and the journal, the terminal's global variables), the charts the expert is attached to, the
// events that drive it, and a scripted panel standing in for the three exports of Pellith.dll (it
// keeps each chart's four fields and clicks as the library does: a second TerminalCreate on a
// chart with a panel changes nothing). Each language's kit adds its server's requests and
// accounts.

#include <array>
#include <cmath>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mql/tests/TerminalKit.h"

// The panel for an expert whose imports are TImports and whose chart handles are THandle (32 bits
// in MetaTrader 4, 64 in MetaTrader 5).
template <class TImports, class THandle> class TFakePanelOf : public TImports {
public:
    struct TPanel {
        std::string Symbol;
        std::array<double, 4> Values{};
        std::deque<int> Clicks;
    };

    void TerminalCreate(double, double, double, double, double ALots, double AStopLoss,
                        double ATakeProfit, double ATrailingStop, int, THandle AChart,
                        mql::TMqlArray<mql::uchar>& ASymbol) override {
        Calls.push_back("create " + std::to_string(AChart));
        if (AChart == 0 || Panels.count(AChart))
            return;
        TPanel& panel = Panels[AChart];
        panel.Symbol = reinterpret_cast<const char*>(ASymbol.Data());
        panel.Values = {ALots, AStopLoss, ATakeProfit, ATrailingStop};
    }
    int TerminalProcessMsg(double, double, double, double, int, mql::TMqlArray<double>& AValues,
                           int ASize, THandle AChart) override {
        const auto it = Panels.find(AChart);
        if (it == Panels.end() || ASize != 4)
            return 0;
        for (int i = 0; i < 4; ++i)
            AValues[i] = it->second.Values[static_cast<std::size_t>(i)];
        if (it->second.Clicks.empty())
            return 0;
        const int click = it->second.Clicks.front();
        it->second.Clicks.pop_front();
        return click;
    }
    void TerminalDelete(THandle AChart) override {
        Calls.push_back("delete " + std::to_string(AChart));
        Panels.erase(AChart);
    }

    std::map<THandle, TPanel> Panels;
    std::vector<std::string> Calls;
};

template <class TExpertClass, class TServerClass, class THandle> class TExpertKitOf {
public:
    using TExpert = TExpertClass;
    using TInputs = typename TExpert::TInputs;
    using TServer = TServerClass;
    using TPanels = TFakePanelOf<typename TExpert::TImports, THandle>;

    // The inputs a trader gives the expert: lots, and stop-loss, take-profit and trailing stop
    // in pips.
    static TInputs Inputs(double ALots, double AStopLoss, double ATakeProfit,
                          double ATrailing = 0) {
        TInputs inputs;
        inputs.InpLots = ALots;
        inputs.InpStopLossPips = AStopLoss;
        inputs.InpTakeProfitPips = ATakeProfit;
        inputs.InpTrailingStopPips = ATrailing;
        return inputs;
    }

    // EURUSD, GBPUSD, USDJPY and XAUUSD quoted; new charts get window handles from AFirstWindow.
    explicit TExpertKitOf(long long AFirstWindow)
        : Server([this] { return Host.Now; }), FNextWindow(AFirstWindow) {
        for (const TSymbolRules& rules : {Eurusd(), Gbpusd(), Usdjpy(), Xauusd()})
            Server.AddSymbol(rules);
        Quote("EURUSD", 1.08450, 1.08462);
        Quote("GBPUSD", 1.2650, 1.2652);
        Quote("USDJPY", 151.234, 151.250);
        Quote("XAUUSD", 2034.15, 2034.45);
    }

    // A quote in price units; the server closes what reached its stop or target.
    void Quote(const std::string& ASymbol, double ABid, double AAsk) {
        Server.SetQuote(ASymbol, ABid, AAsk);
    }
    // Moves EURUSD's bid one point at a time from AFrom to ATo with a 1.2-pip spread, a tick to
    // each expert for each point.
    void Walk(const std::vector<TExpert*>& AExperts, double AFrom, double ATo) {
        const int steps = static_cast<int>(std::lround((ATo - AFrom) / 0.00001));
        for (int i = 1; i <= std::abs(steps); ++i) {
            const double bid = std::round((AFrom + (steps > 0 ? i : -i) * 0.00001) * 1e5) / 1e5;
            Quote("EURUSD", bid, std::round((bid + 0.00012) * 1e5) / 1e5);
            Host.Now += 100;
            for (TExpert* expert : AExperts)
                expert->Tick();
        }
    }
    // A symbol's rules changed by AChange.
    template <class TChange> void Rules(const std::string& ASymbol, TChange AChange) {
        TSymbolRules rules = *Server.Rules(ASymbol);
        AChange(rules);
        Server.SetRules(rules);
    }

    // The expert attached to a new chart window, after OnInit.
    TExpert& Attach(const std::string& ASymbol, const TInputs& AInputs = TInputs(),
                    bool ADllsAllowed = true) {
        mql::TMqlChart chart;
        chart.Symbol = ASymbol;
        chart.Id = 132000000000000000LL + FNextWindow;
        chart.WindowHandle = FNextWindow;
        chart.DllsAllowed = ADllsAllowed;
        FNextWindow += 0x10;
        return Start(chart, AInputs);
    }
    typename TPanels::TPanel& PanelOf(const TExpert& AExpert) {
        return Panel.Panels.at(static_cast<THandle>(AExpert.Chart().WindowHandle));
    }
    // The trader types into a field (0 lots, 1 stop-loss, 2 take-profit, 3 trailing stop).
    void Type(const TExpert& AExpert, int ASlot, double AValue) {
        PanelOf(AExpert).Values[static_cast<std::size_t>(ASlot)] = AValue;
    }
    // A click on buy (1) or sell (2), taken by the next timer event.
    void Click(TExpert& AExpert, int AResult) {
        PanelOf(AExpert).Clicks.push_back(AResult);
        AExpert.Timer();
    }
    // A click whose requests to open the trade meet AFaults first, in order; how long the click
    // took on the terminal's clock.
    long long ClickThrough(TExpert& AExpert, int AResult, const std::vector<TFault>& AFaults) {
        Server.Inject(TMarket::fqOpen, AFaults);
        const long long start = Host.Now;
        Click(AExpert, AResult);
        return Host.Now - start;
    }
    // Time passes: the expert's timer fires every 250 ms for AMs.
    void Wait(TExpert& AExpert, int AMs) {
        for (int passed = 0; passed < AMs; passed += 250) {
            Host.Now += 250;
            AExpert.Timer();
        }
    }
    // The terminal is closed and started again: OnDeinit, then a new expert object on the same
    // chart with these inputs, after OnInit. The terminal's global variables stay, the trades too.
    TExpert& Restart(TExpert& AExpert, const TInputs& AInputs = TInputs()) {
        AExpert.Deinit(mql::REASON_CLOSE);
        Host.Now += 5000;
        return Start(AExpert.Chart(), AInputs);
    }

    // What the trader was told: the alerts one to a line, and how many alerts and journal lines
    // contain APart.
    std::string AlertsText() const { return Host.AlertsText(); }
    int AlertsWith(const std::string& APart) const { return Host.AlertsWith(APart); }
    int JournalWith(const std::string& APart) const { return Host.JournalWith(APart); }

    TFakeHost Host;
    TServer Server;
    TPanels Panel;
    std::vector<std::unique_ptr<TExpert>> Experts;

protected:
    // After the terminal logged in to another account: every running expert is initialised
    // again.
    void AccountChanged() {
        for (const auto& expert : Experts)
            if (expert->Running())
                expert->AccountChanged();
    }
    // The server's requests that APick picks, in order.
    template <class TPick> auto RequestsWhere(TPick APick) const {
        auto requests = Server.Requests();
        std::erase_if(requests, [&](const auto& ARequest) { return !APick(ARequest); });
        return requests;
    }

private:
    TExpert& Start(const mql::TMqlChart& AChart, const TInputs& AInputs) {
        Experts.push_back(std::make_unique<TExpert>(Server, Host, AChart, Panel, AInputs));
        Experts.back()->Init();
        return *Experts.back();
    }

    long long FNextWindow;
};

// An open order (MT4) or position (MT5, by its identifier) with its stop.
struct TOpenTrade {
    long long Id = 0;
    int Type = otBuy;
    double Lots = 0;
    double Open = 0;
    double StopLoss = 0;
};

// A request that set a trade's stops: the stop-loss asked for, and whether the server took it.
struct TStopRequest {
    double StopLoss = 0;
    bool Taken = false;
};

// One click on buy under a case's answers to the requests that open the trade.
struct TClickCase {
    const char* Name;
    std::vector<TFault> Faults;
    int Trades;        // open after the click
    int Sends;         // requests to open it
    const char* Alert; // part of the one Alert, or "" for none
};

// Each case on a kit of its own: the click's retries last about two seconds at most, and the
// trader is alerted as the case says, with AAlertAlso in the alert. ACheck(kit, expert, case)
// checks the trades and requests as its language has them.
template <class TKit, class TCheck>
void ClickUnderEachCase(const std::vector<TClickCase>& ACases, const std::string& AAlertAlso,
                        TCheck ACheck) {
    for (const TClickCase& c : ACases) {
        SCOPED_TRACE(c.Name);
        TKit kit;
        auto& expert = kit.Attach("EURUSD");
        EXPECT_LE(kit.ClickThrough(expert, 1, c.Faults), 2500)
            << "retries go on for about two seconds at most";
        EXPECT_TRUE(kit.Host.AlertedOnlyWith(c.Alert, AAlertAlso));
        ACheck(kit, expert, c);
    }
}
