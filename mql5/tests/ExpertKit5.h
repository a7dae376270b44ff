#pragma once
// A terminal in miniature for the translated MT5 expert, as ExpertKit.h is for the MT4 one: the
// simulated MT5 server, the shared host (TerminalKit.h), and a scripted panel standing in for the
// three exports of the 64-bit Pellith.dll, whose chart handles are 64-bit.

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mql/tests/TerminalKit.h"
#include "mql5/PellithPanel.h"

class TFakePanel5 : public mql5::TPellithPanelImports {
public:
    struct TPanel {
        std::string Symbol;
        std::array<double, 4> Values{};
        std::deque<int> Clicks;
    };

    void TerminalCreate(double, double, double, double, double ALots, double AStopLoss,
                        double ATakeProfit, double ATrailingStop, int, mql::mql_long AChart,
                        mql::TMqlArray<mql::uchar>& ASymbol) override {
        Calls.push_back("create " + std::to_string(AChart));
        if (AChart == 0 || Panels.count(AChart))
            return;
        TPanel& panel = Panels[AChart];
        panel.Symbol = reinterpret_cast<const char*>(ASymbol.Data());
        panel.Values = {ALots, AStopLoss, ATakeProfit, ATrailingStop};
    }
    int TerminalProcessMsg(double, double, double, double, int, mql::TMqlArray<double>& AValues,
                           int ASize, mql::mql_long AChart) override {
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
    void TerminalDelete(mql::mql_long AChart) override {
        Calls.push_back("delete " + std::to_string(AChart));
        Panels.erase(AChart);
    }

    std::map<mql::mql_long, TPanel> Panels;
    std::vector<std::string> Calls;
};

class TExpertKit5 {
public:
    using TExpert = mql5::TPellithPanel;
    using TInputs = mql5::TPellithPanelInputs;

    // EURUSD, GBPUSD, USDJPY and XAUUSD quoted; a hedging account unless told otherwise.
    explicit TExpertKit5(bool AHedging = true);

    void Quote(const std::string& ASymbol, double ABid, double AAsk);
    // A symbol's rules changed by AChange.
    template <class TChange> void Rules(const std::string& ASymbol, TChange AChange) {
        TSymbolRules rules = *Server.Rules(ASymbol);
        AChange(rules);
        Server.SetRules(rules);
    }
    // The expert attached to a new chart window, whose handle needs more than 32 bits.
    TExpert& Attach(const std::string& ASymbol, const TInputs& AInputs = TInputs(),
                    bool ADllsAllowed = true);
    TFakePanel5::TPanel& PanelOf(const TExpert& AExpert);
    void Type(const TExpert& AExpert, int ASlot, double AValue);
    void Click(TExpert& AExpert, int AResult);
    void Wait(TExpert& AExpert, int AMs);
    TExpert& Restart(TExpert& AExpert, const TInputs& AInputs = TInputs());
    void ChangeAccount(int AAccount, bool AHedging);
    // The requests the server received: deals, and position stops.
    std::vector<TServerRequest5> Deals() const;
    std::vector<TServerRequest5> Sltps() const;
    std::string AlertsText() const;
    int AlertsWith(const std::string& APart) const;
    int JournalWith(const std::string& APart) const;

    TFakeHost Host;
    TTradeServer5 Server;
    TFakePanel5 Panel;
    std::vector<std::unique_ptr<TExpert>> Experts;

private:
    long long FNextWindow = 0x7FF000001000LL;
};
