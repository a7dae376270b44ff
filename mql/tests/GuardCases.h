#pragma once
// The trader's guards as both experts must meet them, one table each: lots from risk, the spread
// guard, break-even and the inputs refused at the start. Each kit runs the same rows against its
// own server (orders in MetaTrader 4, positions in MetaTrader 5), so the two experts are held to
// the same figures and the same words. The runners below take any kit that lists the requests
// that opened trades (TradeRequests), those that set stops (StopRequests) and the open trades'
// stops (OpenStops).

#include <limits>
#include <string>
#include <vector>

#include "mql/tests/ExpertKitBase.h"

namespace guard_cases {

// One buy click with lots from risk: the account's equity, the risk and the stop, what the
// trader typed, the symbol's lot rules and tick value; the lots sent, or the words of the
// refusal.
struct TRiskCase {
    const char* Name;
    const char* Symbol;
    int PointsPerPip;
    double Equity, RiskPercent, StopLossPips, Typed;
    double Step, Min, Max;
    double TickValue; // negative: the symbol's own
    double Lots;      // 0: refused
    const char* Told; // part of the journal line of the trade, or of the refusal's Alert
};

inline std::vector<TRiskCase> RiskCases() {
    return {
        // The traders' worked example: 1 % of 10,000 is 100; 25 pips of EURUSD are 250 points
        // of 1 dollar a lot each, 250 a lot; 100 / 250 = 0.40 lots.
        {"EURUSD, 5 digits", "EURUSD", 0, 10000, 1, 25, 1, 0.01, 0.01, 100, -1, 0.40,
         "; 100.00 USD at risk at its stop-loss 1.08212"},
        {"the field caps", "EURUSD", 0, 10000, 1, 25, 0.25, 0.01, 0.01, 100, -1, 0.25,
         "62.50 USD at risk at its stop-loss 1.08212"},
        // 100 / (30 pips * 10 dollars) = 0.333: down to the step, never up.
        {"down to a step of 0.01", "EURUSD", 0, 10000, 1, 30, 1, 0.01, 0.01, 100, -1, 0.33,
         "99.00 USD at risk"},
        {"down to a step of 0.1", "EURUSD", 0, 10000, 1, 30, 1, 0.1, 0.1, 100, -1, 0.3,
         "90.00 USD at risk"},
        // 33.35 pips are 333.5 points: sized for 334, whichever way the stop's price rounds,
        // 0.29 lots and not 0.30.
        {"a stop between two points", "EURUSD", 0, 10000, 1, 33.35, 1, 0.01, 0.01, 100, -1, 0.29,
         "USD at risk at its stop-loss"},
        {"GBPUSD, 4 digits: 10 dollars a point", "GBPUSD", 0, 10000, 1, 25, 1, 0.01, 0.01, 100, -1,
         0.40, "100.00 USD at risk at its stop-loss 1.2627"},
        // 100,000 yen a lot * 0.001 / 151.234 = 0.6612 dollars a point; 250 points: 165.31.
        {"USDJPY, 3 digits: the tick value in dollars", "USDJPY", 0, 10000, 1, 25, 1, 0.01, 0.01,
         100, -1, 0.60, "99.18 USD at risk at its stop-loss 151.000"},
        // 100 ounces a lot * 0.01 = 1 dollar a point; 25 pips of 10 points: 250 a lot.
        {"XAUUSD, 2 digits, pips of 10 points", "XAUUSD", 10, 10000, 2, 25, 5, 0.01, 0.01, 100, -1,
         0.80, "200.00 USD at risk at its stop-loss 2031.95"},
        // 200 / (250 * 0.1) = 8 lots: the 3 typed cap them.
        {"XAUUSD, a broker's tick value of 0.1", "XAUUSD", 10, 10000, 2, 25, 3, 0.01, 0.01, 100,
         0.1, 3, "75.00 USD at risk"},
        {"a smaller equity", "EURUSD", 0, 2500, 1, 25, 1, 0.01, 0.01, 100, -1, 0.1,
         "25.00 USD at risk"},
        {"below the broker's minimum", "EURUSD", 0, 10000, 0.1, 25, 1, 0.01, 0.1, 100, -1, 0,
         "buy not sent: 0.10 % risk of 10000.00 USD equity at a stop-loss of 25.0 pips allows "
         "0.0400 lots, below the broker's minimum of 0.10"},
        {"the field above the broker's maximum", "EURUSD", 0, 10000, 100, 1, 500, 0.01, 0.01, 100,
         -1, 0, "lot size 500.00 is above the broker's maximum of 100.00"},
        {"no stop-loss", "EURUSD", 0, 10000, 1, 0, 1, 0.01, 0.01, 100, -1, 0,
         "buy not sent: lots from risk (InpRiskPercent) need a stop-loss: type the S/L in pips"},
        {"a tick value of 0", "EURUSD", 0, 10000, 1, 25, 1, 0.01, 0.01, 100, 0, 0,
         "buy not sent: the broker gives EURUSD a tick value of 0.00000 and a tick size of "
         "0.00001000, so lots cannot be sized from risk; set InpRiskPercent to 0 to trade the "
         "typed lots"},
    };
}

// One buy click with the spread guard on, at a quote of this spread.
struct TSpreadCase {
    const char* Name;
    double MaxSpreadPips;
    double Bid, Ask;
    const char* Alert; // "" when the click is sent
};

inline std::vector<TSpreadCase> SpreadCases() {
    return {
        {"off", 0, 1.08450, 1.08950, ""},
        {"inside", 2, 1.08450, 1.08462, ""},
        {"exactly the limit", 1.2, 1.08450, 1.08462, ""},
        {"a point wider", 1.2, 1.08450, 1.08463,
         "buy not sent: the spread is 1.3 pips, wider than the 1.2 pips allowed "
         "(InpMaxSpreadPips); click again when it narrows"},
        {"a news spike", 3, 1.08450, 1.08900, "the spread is 45.0 pips, wider than the 3.0 pips"},
    };
}

// One click with break-even on (and trailing, stop and freeze levels), then the market walks
// from EURUSD's bid of 1.08450 to WalkTo; the order's or position's stop at the end.
struct TBreakEvenCase {
    const char* Name;
    bool Sell;
    int StopLevel, FreezeLevel;
    double TrailPips, BreakEvenPips, LockPips;
    double WalkTo;
    double Stop;     // the stop at the end
    int AtBreakEven; // journal lines that say the stop went to break-even
};

inline std::vector<TBreakEvenCase> BreakEvenCases() {
    // A buy opens at the ask of 1.08462, a sell at the bid of 1.08450.
    return {
        {"buy", false, 0, 0, 0, 10, 1, 1.08600, 1.08472, 1},
        {"sell", true, 0, 0, 0, 10, 1, 1.08300, 1.08440, 1},
        {"buy, locking nothing", false, 0, 0, 0, 10, 0, 1.08600, 1.08462, 1},
        {"buy, not yet in profit enough", false, 0, 0, 0, 10, 1, 1.08555, 1.08462 - 0.0030, 0},
        // 5 pips in profit at a bid of 1.08512, but 1.08472 is then 4 pips from the bid: it
        // moves once the bid is more than the 5-pip level away.
        {"buy, stop level 5 pips", false, 50, 0, 0, 5, 1, 1.08530, 1.08472, 1},
        {"buy, stop level, not far enough yet", false, 50, 0, 0, 5, 1, 1.08520, 1.08462 - 0.0030,
         0},
        {"sell, freeze level 3 pips", true, 0, 30, 0, 5, 1, 1.08350, 1.08440, 1},
        {"buy, trailing takes over", false, 0, 0, 10, 5, 1, 1.08700, 1.08592, 1},
        // Trailing by 5 pips has the stop at 15 pips of profit when break-even's 20 come.
        {"buy, trailing better all along", false, 0, 0, 5, 20, 1, 1.08700, 1.08643, 0},
        {"sell, trailing takes over", true, 0, 0, 10, 5, 1, 1.08200, 1.08320, 1},
    };
}

// An input the expert refuses at the start, and the words of the Alert.
template <class TInputs> struct TBadInputCase {
    const char* Name;
    void (*Set)(TInputs&);
    const char* Alert;
};

template <class TInputs> std::vector<TBadInputCase<TInputs>> BadInputCases() {
    return {
        {"negative risk", [](TInputs& i) { i.InpRiskPercent = -1; },
         "InpRiskPercent reads -1.00; type 0 for off or a percent of the equity above 0 and at "
         "most 100. The expert stops: attach it again with the input corrected."},
        {"risk above 100 %", [](TInputs& i) { i.InpRiskPercent = 150; },
         "InpRiskPercent reads 150.00"},
        {"risk NaN", [](TInputs& i) { i.InpRiskPercent = std::nan(""); },
         "InpRiskPercent reads not a finite number"},
        {"negative cap", [](TInputs& i) { i.InpMaxLots = -5; }, "InpMaxLots reads -5.00"},
        {"cap below the minimum lot", [](TInputs& i) { i.InpMaxLots = 0.005; },
         "InpMaxLots reads 0.005, below the broker's minimum of 0.01 lots: no click could trade"},
        {"cap infinite", [](TInputs& i) { i.InpMaxLots = std::numeric_limits<double>::infinity(); },
         "InpMaxLots reads not a finite number"},
        {"negative break-even", [](TInputs& i) { i.InpBreakEvenPips = -2; },
         "InpBreakEvenPips reads -2.00"},
        {"negative lock", [](TInputs& i) { i.InpBreakEvenLockPips = -1; },
         "InpBreakEvenLockPips reads -1.00"},
        {"lock beyond the break-even",
         [](TInputs& i) {
             i.InpBreakEvenPips = 3;
             i.InpBreakEvenLockPips = 5;
         },
         "InpBreakEvenLockPips reads 5.00, not less than InpBreakEvenPips of 3.00: the stop would "
         "be at the price or beyond it"},
        {"spread NaN", [](TInputs& i) { i.InpMaxSpreadPips = std::nan(""); },
         "InpMaxSpreadPips reads not a finite number"},
    };
}

constexpr int Buy = 1;
constexpr int Sell = 2;

// The loss at the stop is checked as the server counts it where the tick value is the
// symbol's own: a dollar-based symbol's stop converts at its own price, a little off the
// tick value at the click.
template <class TKit> void ClickUnderEachRiskCase() {
    for (const TRiskCase& c : RiskCases()) {
        SCOPED_TRACE(c.Name);
        TKit kit;
        kit.Server.SetDeposit(c.Equity);
        kit.Rules(c.Symbol, [&](TSymbolRules& rules) {
            rules.LotStep = c.Step;
            rules.MinLot = c.Min;
            rules.MaxLot = c.Max;
            rules.TickValue = c.TickValue;
        });
        auto inputs = TKit::Inputs(c.Typed, c.StopLossPips, 0);
        inputs.InpPointsPerPip = c.PointsPerPip;
        inputs.InpRiskPercent = c.RiskPercent;
        auto& expert = kit.Attach(c.Symbol, inputs);
        kit.Click(expert, Buy);
        const auto trades = kit.OpenTrades();
        if (c.Lots > 0) {
            ASSERT_EQ(trades.size(), 1u) << kit.AlertsText();
            EXPECT_DOUBLE_EQ(trades[0].Lots, c.Lots);
            EXPECT_EQ(kit.JournalWith(c.Told), 1) << kit.Host.Journal.back();
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
            const double loss = -OrderProfit(*kit.Server.Rules(c.Symbol), otBuy, trades[0].Lots,
                                             trades[0].Open, trades[0].StopLoss);
            if (c.TickValue < 0) {
                EXPECT_LE(loss, c.Equity * c.RiskPercent / 100 * 1.003);
            }
        } else {
            EXPECT_EQ(kit.TradeRequests(), 0u);
            EXPECT_TRUE(kit.Host.AlertedOnlyWith(c.Told, "Pellith " + std::string(c.Symbol)));
        }
    }
}

template <class TKit> void ClickUnderEachSpreadCase() {
    for (const TSpreadCase& c : SpreadCases()) {
        SCOPED_TRACE(c.Name);
        TKit kit;
        kit.Quote("EURUSD", c.Bid, c.Ask);
        auto inputs = TKit::Inputs(0.1, 0, 0);
        inputs.InpMaxSpreadPips = c.MaxSpreadPips;
        auto& expert = kit.Attach("EURUSD", inputs);
        kit.Click(expert, Buy);
        EXPECT_EQ(kit.TradeRequests(), *c.Alert ? 0u : 1u);
        EXPECT_TRUE(kit.Host.AlertedOnlyWith(c.Alert, "Pellith EURUSD: buy not sent: "));
    }
}

template <class TKit> void WalkEachBreakEvenCase() {
    for (const TBreakEvenCase& c : BreakEvenCases()) {
        SCOPED_TRACE(c.Name);
        TKit kit;
        kit.Rules("EURUSD", [&](TSymbolRules& rules) {
            rules.StopLevel = c.StopLevel;
            rules.FreezeLevel = c.FreezeLevel;
        });
        auto inputs = TKit::Inputs(0.1, 30, 0, c.TrailPips);
        inputs.InpBreakEvenPips = c.BreakEvenPips;
        inputs.InpBreakEvenLockPips = c.LockPips;
        auto& expert = kit.Attach("EURUSD", inputs);
        kit.Click(expert, c.Sell ? Sell : Buy);
        ASSERT_EQ(kit.OpenTrades().size(), 1u) << kit.AlertsText();
        kit.Server.ClearRequests();
        kit.Walk({&expert}, 1.08450, c.WalkTo);
        EXPECT_NEAR(kit.OpenTrades()[0].StopLoss, c.Stop, 1e-9);
        const auto stops = kit.StopRequests();
        for (std::size_t i = 0; i < stops.size(); ++i) {
            EXPECT_TRUE(stops[i].Taken) << "a modify the broker's levels refuse";
            if (i > 0) {
                EXPECT_GT((c.Sell ? -1 : 1) * (stops[i].StopLoss - stops[i - 1].StopLoss), 0)
                    << "backwards";
            }
        }
        EXPECT_EQ(kit.JournalWith(" at break-even: stop-loss "), c.AtBreakEven);
        EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
    }
}

template <class TKit> void AttachWithEachBadInput() {
    for (const auto& c : BadInputCases<typename TKit::TInputs>()) {
        SCOPED_TRACE(c.Name);
        TKit kit;
        typename TKit::TInputs inputs;
        c.Set(inputs);
        auto& expert = kit.Attach("EURUSD", inputs);
        EXPECT_FALSE(expert.Running());
        EXPECT_TRUE(kit.Panel.Panels.empty());
        EXPECT_TRUE(kit.Host.AlertedOnlyWith(c.Alert, "Pellith EURUSD: "));
        expert.Tick();
        expert.Timer();
        EXPECT_TRUE(kit.Server.Requests().empty());
    }
}

} // namespace guard_cases
