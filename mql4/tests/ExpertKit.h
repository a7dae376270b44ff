#pragma once
// A terminal in miniature for the translated expert: the simulated trade server, the host of
// TerminalKit.h (a clock that Sleep moves on at once, the Alerts and the journal, the terminal's
// global variables), and a scripted panel standing in for the three exports of Pellith.dll (it
// keeps each chart's four fields and clicks as the library does: a second TerminalCreate on a
// chart with a panel changes nothing).

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mql4/PellithPanel.h"
#include "mql/tests/TerminalKit.h"

class TFakePanel : public mql4::TPellithPanelImports {
public:
    struct TPanel {
        std::string Symbol;
        std::array<double, 4> Values{};
        std::deque<int> Clicks;
    };

    void TerminalCreate(double, double, double, double, double ALots, double AStopLoss,
                        double ATakeProfit, double ATrailingStop, int, int AChart,
                        mql4::TMqlArray<mql4::uchar>& ASymbol) override {
        Calls.push_back("create " + std::to_string(AChart));
        if (AChart == 0 || Panels.count(AChart))
            return;
        TPanel& panel = Panels[AChart];
        panel.Symbol = reinterpret_cast<const char*>(ASymbol.Data());
        panel.Values = {ALots, AStopLoss, ATakeProfit, ATrailingStop};
    }
    int TerminalProcessMsg(double, double, double, double, int, mql4::TMqlArray<double>& AValues,
                           int ASize, int AChart) override {
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
    void TerminalDelete(int AChart) override {
        Calls.push_back("delete " + std::to_string(AChart));
        Panels.erase(AChart);
    }

    std::map<int, TPanel> Panels;
    std::vector<std::string> Calls;
};

class TExpertKit {
public:
    using TExpert = mql4::TPellithPanel;
    using TInputs = mql4::TPellithPanelInputs;

    TExpertKit();

    // A quote in price units; the server closes what reached its stop or target.
    void Quote(const std::string& ASymbol, double ABid, double AAsk);
    // The expert attached to a new chart window, after OnInit.
    TExpert& Attach(const std::string& ASymbol, const TInputs& AInputs = TInputs(),
                    bool ADllsAllowed = true);
    TFakePanel::TPanel& PanelOf(const TExpert& AExpert);
    // The trader types into a field (0 lots, 1 stop-loss, 2 take-profit, 3 trailing stop).
    void Type(const TExpert& AExpert, int ASlot, double AValue);
    // A click on buy (1) or sell (2), taken by the next timer event.
    void Click(TExpert& AExpert, int AResult);
    // Time passes: the expert's timer fires every 250 ms for AMs.
    void Wait(TExpert& AExpert, int AMs);
    // The terminal is closed and started again: OnDeinit, then a new expert object on the same
    // chart with these inputs, after OnInit. The terminal's global variables stay, the orders too.
    TExpert& Restart(TExpert& AExpert, const TInputs& AInputs = TInputs());
    // The terminal logs in to another account; every running expert is initialised again.
    void ChangeAccount(int AAccount);
    std::vector<TServerRequest> Sends() const;
    std::vector<TServerRequest> Modifies() const;
    std::string AlertsText() const;
    // How many alerts, and how many journal lines, contain APart.
    int AlertsWith(const std::string& APart) const;
    int JournalWith(const std::string& APart) const;

    TFakeHost Host;
    TTradeServer Server;
    TFakePanel Panel;
    std::vector<std::unique_ptr<TExpert>> Experts;

private:
    int FNextWindow = 0x1000;
};
