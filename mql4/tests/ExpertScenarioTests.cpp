// The real PellithPanel.mq4, translated, against the simulated trade server: what the server
// received and what the trader was told, grouped by behaviour.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mql4/tests/ExpertKit.h"

namespace {

using mql4::REASON_CHARTCHANGE;
using TInputs = TExpertKit::TInputs;
constexpr int Buy = 1;
constexpr int Sell = 2;
constexpr double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

TInputs Inputs(double ALots, double AStopLoss, double ATakeProfit, double ATrailing = 0) {
    TInputs inputs;
    inputs.InpLots = ALots;
    inputs.InpStopLossPips = AStopLoss;
    inputs.InpTakeProfitPips = ATakeProfit;
    inputs.InpTrailingStopPips = ATrailing;
    return inputs;
}

bool Contains(const std::string& AText, const std::string& APart) {
    return AText.find(APart) != std::string::npos;
}

// --- Chart ------------------------------------------------------------------------------------

TEST(ExpertChart, TwoChartsOfOneSymbolEachGetTheirOwnPanelAndRemovingOneLeavesTheOther) {
    TExpertKit kit;
    auto& first = kit.Attach("EURUSD");
    auto& second = kit.Attach("EURUSD");
    ASSERT_EQ(kit.Panel.Panels.size(), 2u);
    EXPECT_TRUE(kit.Panel.Panels.count(static_cast<int>(first.Chart().WindowHandle)));
    EXPECT_TRUE(kit.Panel.Panels.count(static_cast<int>(second.Chart().WindowHandle)));

    first.Deinit(mql4::REASON_REMOVE);
    EXPECT_FALSE(kit.Panel.Panels.count(static_cast<int>(first.Chart().WindowHandle)));
    ASSERT_TRUE(kit.Panel.Panels.count(static_cast<int>(second.Chart().WindowHandle)));
    kit.Click(second, Buy);
    ASSERT_EQ(kit.Sends().size(), 1u);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

// --- One click, one order, under each fault -------------------------------------------------

struct TFaultCase {
    const char* Name;
    std::vector<TFault> Faults;
    int Orders;
    int Sends;
    const char* Alert; // part of the one Alert, or "" for none
};

TEST(ExpertOneClick, IsAtMostOneOrderWhateverTheServerAnswers) {
    const TFault requote{teRequote};
    const TFaultCase cases[] = {
        {"one requote", {requote}, 1, 2, ""},
        {"off quotes", {{teOffQuotes}}, 1, 2, ""},
        {"price changed", {{tePriceChanged}}, 1, 2, ""},
        {"trade context busy", {{teTradeContextBusy}}, 1, 2, ""},
        {"server busy", {{teServerBusy}}, 1, 2, ""},
        {"broker busy", {{teBrokerBusy}}, 1, 2, ""},
        {"no connection", {{teNoConnection}}, 1, 2, ""},
        {"three requotes", {requote, requote, requote}, 1, 4, ""},
        {"requotes without end", std::vector<TFault>(20, requote), 0, 5, "not sent: requote"},
        {"timeout, placed", {{teTradeTimeout, true}}, 1, 1, ""},
        {"timeout, not placed", {{teTradeTimeout}}, 1, 2, ""},
        {"common error, placed", {{teCommonError, true}}, 1, 1, ""},
        {"invalid stops", {{teInvalidStops}}, 0, 1, "refused the stop-loss or take-profit"},
        {"invalid volume", {{teInvalidTradeVolume}}, 0, 1, "refused the lot size"},
        {"not enough money", {{teNotEnoughMoney}}, 0, 1, "not enough money"},
        {"trade disabled", {{teTradeDisabled}}, 0, 1, "trading is disabled"},
        {"market closed", {{teMarketClosed}}, 0, 1, "the market is closed"},
        {"too frequent", {{teTooFrequentRequests}}, 0, 1, "too frequent requests"},
    };
    for (const TFaultCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD");
        kit.Server.InjectSendFaults(c.Faults);
        const long long start = kit.Host.Now;
        kit.Click(expert, Buy);
        EXPECT_EQ(static_cast<int>(kit.Server.AllOrders().size()), c.Orders);
        EXPECT_EQ(static_cast<int>(kit.Sends().size()), c.Sends);
        EXPECT_LE(kit.Host.Now - start, 2500) << "retries go on for about two seconds at most";
        if (*c.Alert) {
            ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
            EXPECT_TRUE(Contains(kit.Host.Alerts[0], c.Alert)) << kit.Host.Alerts[0];
            EXPECT_TRUE(Contains(kit.Host.Alerts[0], "Pellith EURUSD: buy 0.10 not sent: "))
                << kit.Host.Alerts[0];
        } else {
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
        }
        // Every send of the click carries the same request; nothing more comes later.
        for (const TServerRequest& send : kit.Sends()) {
            EXPECT_EQ(send.Type, otBuy);
            EXPECT_DOUBLE_EQ(send.Lots, 0.10);
        }
        const std::size_t requests = kit.Server.Requests().size();
        expert.Timer();
        expert.Tick();
        EXPECT_EQ(kit.Server.Requests().size(), requests);
    }
}

TEST(ExpertOneClick, RetriesWithTheNewPriceAfterARequote) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 60));
    // The market moves 5 pips (beyond the 3 pips of slippage) while the request travels.
    kit.Server.InjectSendFaults({{teNone, false, 50}});
    kit.Click(expert, Sell);
    const auto sends = kit.Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].Answer, teRequote);
    EXPECT_DOUBLE_EQ(sends[0].Price, 1.08450);
    EXPECT_DOUBLE_EQ(sends[1].Price, 1.08500);
    EXPECT_NEAR(sends[1].StopLoss, 1.08500 + 0.0030, 1e-9);
    ASSERT_EQ(kit.Server.OpenOrders().size(), 1u);
}

// --- Execution modes --------------------------------------------------------------------------

TEST(ExpertExecution, UnderMarketExecutionOpensWithoutStopsAndSetsThemFromTheRealOpenPrice) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.Execution = TExecution::Market;
    kit.Server.SetRules(rules);
    kit.Server.SetMarketSlippage(4);
    auto& expert = kit.Attach("EURUSD", Inputs(0.2, 30, 60));
    kit.Click(expert, Buy);
    const auto sends = kit.Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].StopLoss, 0);
    EXPECT_EQ(sends[0].TakeProfit, 0);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_NEAR(orders[0].OpenPrice, 1.08466, 1e-9);
    EXPECT_NEAR(orders[0].StopLoss, 1.08466 - 0.0030, 1e-9);
    EXPECT_NEAR(orders[0].TakeProfit, 1.08466 + 0.0060, 1e-9);
    EXPECT_EQ(kit.Modifies().size(), 1u);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

TEST(ExpertExecution, APositionLeftWithoutItsStopsIsReportedAtOnce) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.Execution = TExecution::Market;
    kit.Server.SetRules(rules);
    kit.Server.InjectModifyFaults({{teInvalidStops}});
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 60));
    kit.Click(expert, Sell);
    EXPECT_EQ(kit.Server.OpenOrders().size(), 1u);
    ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "is open WITHOUT its stop-loss and take-profit"))
        << kit.Host.Alerts[0];
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "Set them by hand")) << kit.Host.Alerts[0];
}

TEST(ExpertExecution, UnderInstantExecutionStopsFollowASlippedFill) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 60));
    // The ask moves 2 points, inside the accepted slippage: the fill is at the new price.
    kit.Server.InjectSendFaults({{teNone, false, 2}});
    kit.Click(expert, Buy);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_NEAR(orders[0].OpenPrice, 1.08464, 1e-9);
    EXPECT_NEAR(orders[0].StopLoss, 1.08464 - 0.0030, 1e-9);
    EXPECT_NEAR(orders[0].TakeProfit, 1.08464 + 0.0060, 1e-9);
}

// --- Lots ---------------------------------------------------------------------------------------

TEST(ExpertLots, AreRoundedDownToTheStepAndNeverMoreThanTyped) {
    struct TCase {
        double Typed, Step, Min, Max;
        double Sent;         // 0: no order
        const char* Refusal; // part of the Alert when no order
    } cases[] = {
        {0.016, 0.01, 0.01, 100, 0.01, ""},
        {0.1, 0.01, 0.01, 100, 0.1, ""},
        {0.29, 0.01, 0.01, 100, 0.29, ""},
        {0.0125, 0.001, 0.001, 100, 0.012, ""},
        {0.3, 0.5, 0.5, 100, 0, "lot size 0.30 is below the broker's minimum of 0.5"},
        {0.7, 0.5, 0.5, 100, 0.5, ""},
        {0.005, 0.01, 0.01, 100, 0, "below the broker's minimum of 0.01"},
        {150, 0.01, 0.01, 100, 0, "lot size 150.00 is above the broker's maximum of 100.00"},
        {100, 0.01, 0.01, 100, 100, ""},
        {0, 0.01, 0.01, 100, 0, "the Lots field reads 0.00"},
        {-1, 0.01, 0.01, 100, 0, "the Lots field reads -1.00"},
        {Inf, 0.01, 0.01, 100, 0, "the Lots field reads not a finite number"},
        {NaN, 0.01, 0.01, 100, 0, "the Lots field reads not a finite number"},
        {1e300, 0.01, 0.01, 100, 0, "above the broker's maximum"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("typed " + std::to_string(c.Typed) + " step " + std::to_string(c.Step));
        TExpertKit kit;
        TSymbolRules rules = Eurusd();
        rules.LotStep = c.Step;
        rules.MinLot = c.Min;
        rules.MaxLot = c.Max;
        kit.Server.SetRules(rules);
        auto& expert = kit.Attach("EURUSD");
        kit.Type(expert, 0, c.Typed);
        kit.Click(expert, Buy);
        const auto sends = kit.Sends();
        if (c.Sent > 0) {
            ASSERT_EQ(sends.size(), 1u) << kit.AlertsText();
            EXPECT_DOUBLE_EQ(sends[0].Lots, c.Sent);
            EXPECT_EQ(sends[0].Answer, teNone);
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
        } else {
            EXPECT_TRUE(sends.empty());
            ASSERT_EQ(kit.Host.Alerts.size(), 1u);
            EXPECT_TRUE(Contains(kit.Host.Alerts[0], c.Refusal)) << kit.Host.Alerts[0];
        }
    }
}

// --- Stops --------------------------------------------------------------------------------------

TEST(ExpertStops, AreMeasuredInPipsOnQuotesOfTwoToFiveDigits) {
    struct TCase {
        const char* Symbol;
        int PointsPerPip;
        double Ask, StopLoss, TakeProfit;
    } cases[] = {
        {"EURUSD", 0, 1.08462, 1.08162, 1.09062},
        {"GBPUSD", 0, 1.2652, 1.2622, 1.2712},
        {"USDJPY", 0, 151.250, 150.950, 151.850},
        {"XAUUSD", 10, 2034.45, 2031.45, 2040.45},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Symbol);
        TExpertKit kit;
        TInputs inputs = Inputs(0.1, 30, 60);
        inputs.InpPointsPerPip = c.PointsPerPip;
        auto& expert = kit.Attach(c.Symbol, inputs);
        kit.Click(expert, Buy);
        const auto orders = kit.Server.OpenOrders();
        ASSERT_EQ(orders.size(), 1u) << kit.AlertsText();
        EXPECT_DOUBLE_EQ(orders[0].OpenPrice, c.Ask);
        EXPECT_NEAR(orders[0].StopLoss, c.StopLoss, 1e-9);
        EXPECT_NEAR(orders[0].TakeProfit, c.TakeProfit, 1e-9);
    }
}

TEST(ExpertStops, ABadDistanceOrOneInsideTheStopLevelMeansNoOrder) {
    struct TCase {
        double StopLoss, TakeProfit, Trailing;
        int StopLevel;
        const char* Alert;
    } cases[] = {
        {-5, 60, 0, 0, "the S/L field reads -5.00; type 0 for none or a positive number of pips"},
        {30, NaN, 0, 0, "the T/P field reads not a finite number"},
        {30, 60, -1, 0, "the T/S field reads -1.00"},
        {30, 60, Inf, 0, "the T/S field reads not a finite number"},
        {3, 60, 0, 50, "stop-loss closer than the broker's minimum of 5.0 pips"},
        {30, 3, 0, 50, "take-profit closer than the broker's minimum of 5.0 pips"},
        {0.5, 0, 0, 0, "stop-loss on the wrong side of the price"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Alert);
        TExpertKit kit;
        TSymbolRules rules = Eurusd();
        rules.StopLevel = c.StopLevel;
        kit.Server.SetRules(rules);
        auto& expert = kit.Attach("EURUSD", Inputs(0.1, c.StopLoss, c.TakeProfit, c.Trailing));
        kit.Click(expert, Sell);
        EXPECT_TRUE(kit.Sends().empty());
        ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
        EXPECT_TRUE(Contains(kit.Host.Alerts[0], c.Alert)) << kit.Host.Alerts[0];
    }
}

TEST(ExpertStops, ZeroMeansNoneAndAStopJustOutsideTheLevelIsSent) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.StopLevel = 50;
    kit.Server.SetRules(rules);
    // A sell closes at the ask: 5 pips above it is exactly the minimum.
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 5 + 1.2, 0));
    kit.Click(expert, Sell);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 1u) << kit.AlertsText();
    EXPECT_NEAR(orders[0].StopLoss, 1.08462 + 0.0005, 1e-9);
    EXPECT_EQ(orders[0].TakeProfit, 0);
}

// --- Trailing -----------------------------------------------------------------------------------

// Moves EURUSD's bid in steps of one point from `AFrom` to `ATo` with a 1.2-pip spread, a tick
// for each.
void Walk(TExpertKit& AKit, std::vector<TExpertKit::TExpert*> AExperts, double AFrom, double ATo) {
    const int steps = static_cast<int>(std::lround((ATo - AFrom) / 0.00001));
    for (int i = 1; i <= std::abs(steps); ++i) {
        const double bid = std::round((AFrom + (steps > 0 ? i : -i) * 0.00001) * 1e5) / 1e5;
        AKit.Quote("EURUSD", bid, std::round((bid + 0.00012) * 1e5) / 1e5);
        AKit.Host.Now += 100;
        for (auto* expert : AExperts)
            expert->Tick();
    }
}

TEST(ExpertTrailing, MovesTheStopByAtLeastAStepOnlyTowardsProfit) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Server.OpenOrders().size(), 1u);
    kit.Server.ClearRequests();
    Walk(kit, {&expert}, 1.08450, 1.08750); // a 30-pip climb
    const auto modifies = kit.Modifies();
    RecordProperty("modifications_over_30_pips", static_cast<int>(modifies.size()));
    EXPECT_GE(modifies.size(), 15u);
    EXPECT_LE(modifies.size(), 20u) << "one modification per pip, not per point";
    for (std::size_t i = 1; i < modifies.size(); ++i)
        EXPECT_GE(modifies[i].StopLoss - modifies[i - 1].StopLoss, 0.0001 - 1e-9);
    const double stop = kit.Server.OpenOrders()[0].StopLoss;
    EXPECT_NEAR(stop, 1.08643, 1e-9);

    Walk(kit, {&expert}, 1.08750, 1.08700); // back down: the stop stays
    EXPECT_EQ(kit.Modifies().size(), modifies.size());
    EXPECT_EQ(kit.Server.OpenOrders()[0].StopLoss, stop);
}

TEST(ExpertTrailing, NeverInsideTheFreezeLevelAndTellsTheJournalOnce) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.FreezeLevel = 30;
    kit.Server.SetRules(rules);
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 0, 2));
    kit.Click(expert, Buy);
    kit.Server.ClearRequests();
    Walk(kit, {&expert}, 1.08450, 1.08650);
    EXPECT_TRUE(kit.Modifies().empty());
    int told = 0;
    for (const std::string& line : kit.Host.Journal)
        told += Contains(line, "trailing stop 2.0 pips is inside the broker's minimum of 3.0 pips");
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

TEST(ExpertTrailing, ARepeatedFailureGoesToTheJournalOnce) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    kit.Server.InjectModifyFaults(std::vector<TFault>(100, TFault{teTooFrequentRequests}));
    Walk(kit, {&expert}, 1.08450, 1.08750);
    int told = 0;
    for (const std::string& line : kit.Host.Journal)
        told += Contains(line, "not moved: too frequent requests");
    EXPECT_EQ(told, 1);
}

TEST(ExpertTrailing, EachChartTrailsOnlyTheOrdersItOpened) {
    TExpertKit kit;
    auto& trailing = kit.Attach("EURUSD", Inputs(0.1, 30, 0, 10));
    auto& other = kit.Attach("EURUSD", Inputs(0.2, 30, 0, 0));
    kit.Click(trailing, Buy);
    kit.Click(other, Buy);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 2u);
    kit.Server.ClearRequests();
    Walk(kit, {&trailing, &other}, 1.08450, 1.08650);
    ASSERT_FALSE(kit.Modifies().empty());
    for (const TServerRequest& modify : kit.Modifies())
        EXPECT_EQ(modify.Ticket, orders[0].Ticket);
    EXPECT_NEAR(kit.Server.Order(orders[1].Ticket)->StopLoss, 1.08462 - 0.0030, 1e-9);
}

TEST(ExpertTrailing, AnExpertStartedAgainOnItsChartTakesBackItsOpenOrders) {
    TExpertKit kit;
    auto& first = kit.Attach("EURUSD", Inputs(0.1, 30, 0, 10));
    kit.Click(first, Buy);
    first.Deinit(mql4::REASON_CLOSE);
    // The terminal starts again: a new expert object on the same chart.
    kit.Experts.push_back(std::make_unique<TExpertKit::TExpert>(kit.Server, kit.Host, first.Chart(),
                                                                kit.Panel, Inputs(0.1, 30, 0, 10)));
    auto& again = *kit.Experts.back();
    again.Settings().Period = 1;
    ASSERT_TRUE(again.Init());
    kit.Server.ClearRequests();
    Walk(kit, {&again}, 1.08450, 1.08600);
    EXPECT_FALSE(kit.Modifies().empty());
}

// --- Chart changes ------------------------------------------------------------------------------

TEST(ExpertChartChange, ANewTimeframeKeepsThePanelAndWhatWasTyped) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Type(expert, 0, 0.37);
    expert.Tick();
    kit.Panel.Calls.clear();
    expert.ChangeChart("EURUSD", 60);
    EXPECT_TRUE(kit.Panel.Calls.empty());
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Sends().size(), 1u);
    EXPECT_DOUBLE_EQ(kit.Sends()[0].Lots, 0.37);
}

TEST(ExpertChartChange, ANewSymbolGetsItsOwnPanelWithTheTypedValues) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Type(expert, 0, 0.37);
    kit.Type(expert, 1, 12);
    expert.Tick();
    const int chart = static_cast<int>(expert.Chart().WindowHandle);
    kit.Panel.Calls.clear();
    expert.ChangeChart("GBPUSD", 1);
    EXPECT_EQ(kit.Panel.Calls, (std::vector<std::string>{"delete " + std::to_string(chart),
                                                         "create " + std::to_string(chart)}));
    EXPECT_EQ(kit.PanelOf(expert).Symbol, "GBPUSD");
    EXPECT_DOUBLE_EQ(kit.PanelOf(expert).Values[0], 0.37);
    EXPECT_DOUBLE_EQ(kit.PanelOf(expert).Values[1], 12);
}

TEST(ExpertChartChange, NewInputsGiveAPanelWithTheNewInputs) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Type(expert, 0, 0.37);
    expert.Tick();
    expert.ChangeInputs(Inputs(0.5, 20, 40, 5));
    const auto& values = kit.PanelOf(expert).Values;
    EXPECT_EQ(values, (std::array<double, 4>{0.5, 20, 40, 5}));
}

TEST(ExpertChartChange, EveryOtherReasonTakesThePanelAway) {
    for (int reason : {mql4::REASON_PROGRAM, mql4::REASON_REMOVE, mql4::REASON_RECOMPILE,
                       mql4::REASON_CHARTCLOSE, mql4::REASON_ACCOUNT, mql4::REASON_TEMPLATE,
                       mql4::REASON_CLOSE}) {
        SCOPED_TRACE(reason);
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD");
        ASSERT_EQ(kit.Panel.Panels.size(), 1u);
        expert.Deinit(reason);
        EXPECT_TRUE(kit.Panel.Panels.empty());
    }
}

// --- Messages -----------------------------------------------------------------------------------

TEST(ExpertMessages, SayWhyInWordsWhenNothingCanBeSent) {
    struct TCase {
        const char* Name;
        void (*Set)(mql4::TMqlChart&);
        const char* Alert;
    } cases[] = {
        {"AutoTrading off", [](mql4::TMqlChart& c) { c.AutoTrading = false; },
         "Pellith EURUSD: buy not sent: AutoTrading is off"},
        {"live trading off", [](mql4::TMqlChart& c) { c.LiveTrading = false; },
         "live trading is not allowed in the expert's settings"},
        {"disconnected", [](mql4::TMqlChart& c) { c.Connected = false; },
         "not connected to the trade server"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD");
        c.Set(expert.Settings());
        kit.Click(expert, Buy);
        EXPECT_TRUE(kit.Sends().empty());
        ASSERT_EQ(kit.Host.Alerts.size(), 1u);
        EXPECT_TRUE(Contains(kit.Host.Alerts[0], c.Alert)) << kit.Host.Alerts[0];
    }
}

TEST(ExpertMessages, WithDllImportsOffTheExpertSaysSoAndStops) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TInputs(), false);
    EXPECT_FALSE(expert.Running());
    EXPECT_TRUE(kit.Panel.Calls.empty());
    ASSERT_EQ(kit.Host.Alerts.size(), 1u);
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "DLL imports are off")) << kit.Host.Alerts[0];
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "Allow DLL imports")) << kit.Host.Alerts[0];
}

TEST(ExpertMessages, NeverABareErrorNumberForAnAnswerOfTheReference) {
    const int refusals[] = {teInvalidTradeParameters,
                            teNotEnoughMoney,
                            teTradeDisabled,
                            teMarketClosed,
                            teInvalidStops,
                            teInvalidTradeVolume,
                            teTooFrequentRequests,
                            mql4::ERR_ACCOUNT_DISABLED,
                            mql4::ERR_TRADE_TOO_MANY_ORDERS,
                            mql4::ERR_LONGS_NOT_ALLOWED};
    for (int error : refusals) {
        SCOPED_TRACE(error);
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD");
        kit.Server.InjectSendFaults({{error}});
        kit.Click(expert, Buy);
        ASSERT_EQ(kit.Host.Alerts.size(), 1u);
        const std::string& alert = kit.Host.Alerts[0];
        const auto at = alert.find("error ");
        EXPECT_TRUE(at == std::string::npos || !std::isdigit(static_cast<unsigned char>(
                                                   alert[std::min(at + 6, alert.size() - 1)])))
            << alert;
    }
}

TEST(ExpertMessages, ASuccessfulOrderGoesToTheJournalOnly) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Click(expert, Buy);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
    ASSERT_FALSE(kit.Host.Journal.empty());
    EXPECT_TRUE(Contains(kit.Host.Journal[0], "Pellith EURUSD: buy 0.10 opened as #1 at 1.08462"))
        << kit.Host.Journal[0];
}

} // namespace
