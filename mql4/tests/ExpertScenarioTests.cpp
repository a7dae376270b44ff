// The real PellithPanel.mq4, translated, against the simulated trade server: what the server
// received and what the trader was told, grouped by behaviour.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mql/tests/GuardCases.h"
#include "mql4/tests/ExpertKit.h"

namespace {

using mql4::REASON_CHARTCHANGE;
using TInputs = TExpertKit::TInputs;
constexpr int Buy = 1;
constexpr int Sell = 2;
constexpr double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

// A trailed buy's stop after the bid rose to ABid: the trailing distance behind it, less at most
// the one-pip step the stop moves by.
void ExpectTrailedBehind(const TServerOrder& AOrder, double ABid, double ATrailPips) {
    EXPECT_LE(AOrder.StopLoss, ABid - ATrailPips * 0.0001 + 1e-9) << AOrder.Ticket;
    EXPECT_GT(AOrder.StopLoss, ABid - (ATrailPips + 1) * 0.0001 + 1e-9) << AOrder.Ticket;
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

TEST(ExpertOneClick, IsAtMostOneOrderWhateverTheServerAnswers) {
    const TFault requote{teRequote};
    const std::vector<TClickCase> cases = {
        {"one requote", {requote}, 1, 2, ""},
        {"off quotes", {{teOffQuotes}}, 1, 2, ""},
        {"price changed", {{tePriceChanged}}, 1, 2, ""},
        {"trade context busy", {{teTradeContextBusy}}, 1, 2, ""},
        {"server busy", {{teServerBusy}}, 1, 2, ""},
        {"broker busy", {{teBrokerBusy}}, 1, 2, ""},
        {"no connection", {{teNoConnection}}, 1, 2, ""},
        {"three requotes", {requote, requote, requote}, 1, 4, ""},
        {"requotes without end", std::vector<TFault>(20, requote), 0, 5, "not sent: requote"},
        {"timeout, placed and listed at once", {{teTradeTimeout, true}}, 1, 1, ""},
        {"a requote that placed it all the same", {{teRequote, true}}, 1, 1, ""},
        {"invalid stops", {{teInvalidStops}}, 0, 1, "refused the stop-loss or take-profit"},
        {"invalid volume", {{teInvalidTradeVolume}}, 0, 1, "refused the lot size"},
        {"not enough money", {{teNotEnoughMoney}}, 0, 1, "not enough money"},
        {"trade disabled", {{teTradeDisabled}}, 0, 1, "trading is disabled"},
        {"market closed", {{teMarketClosed}}, 0, 1, "the market is closed"},
        {"too frequent", {{teTooFrequentRequests}}, 0, 1, "too frequent requests"},
    };
    ClickUnderEachCase<TExpertKit>(
        cases, "Pellith EURUSD: buy 0.10 not sent: ",
        [](TExpertKit& AKit, TExpertKit::TExpert& AExpert, const TClickCase& ACase) {
            EXPECT_EQ(static_cast<int>(AKit.Server.AllOrders().size()), ACase.Trades);
            EXPECT_EQ(static_cast<int>(AKit.Sends().size()), ACase.Sends);
            // Every send of the click carries the same request; nothing more comes later.
            for (const TServerRequest& send : AKit.Sends()) {
                EXPECT_EQ(send.Type, otBuy);
                EXPECT_DOUBLE_EQ(send.Lots, 0.10);
            }
            const std::size_t requests = AKit.Server.Requests().size();
            AExpert.Timer();
            AExpert.Tick();
            EXPECT_EQ(AKit.Server.Requests().size(), requests);
        });
}

// The price clicked bounds every attempt: what the server was asked to accept (the price sent
// and the slippage around it) never reaches further from it than the trader's slippage.
TEST(ExpertOneClick, NoAttemptReachesFurtherFromTheClickedPriceThanTheSlippage) {
    struct TCase {
        const char* Name;
        std::vector<TFault> Faults;
        int Sends;
        const char* Alert; // "" for an order
    } cases[] = {
        {"a requote as the market moves 2 pips, then a fill", {{teRequote, false, 20}}, 2, ""},
        // The second request allows 1 pip around +2: a further 1.5 pips is a requote, not a fill
        // 3.5 pips away.
        {"a requote at +2 pips, then 1.5 pips more",
         {{teRequote, false, 20}, {teNone, false, 15}},
         2,
         "the price moved 3.5 pips from 1.08462 since the click"},
        {"the market moves 5 pips at once",
         {{teNone, false, 50}},
         1,
         "buy 0.10 not sent: the price moved 5.0 pips from 1.08462 since the click, more than "
         "the 3.0 pips of slippage allowed"},
        {"it keeps moving a pip per requote", std::vector<TFault>(10, TFault{teRequote, false, 10}),
         4, "the price moved 4.0 pips from 1.08462 since the click"},
        {"it moves away and comes back", {{teRequote, false, 25}, {teRequote, false, -25}}, 3, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
        kit.Server.InjectSendFaults(c.Faults);
        kit.Click(expert, Buy);
        const auto sends = kit.Sends();
        EXPECT_EQ(static_cast<int>(sends.size()), c.Sends);
        for (const TServerRequest& send : sends)
            EXPECT_LE(std::abs(send.Price - 1.08462) + send.Slippage * 0.00001, 0.0003 + 1e-9)
                << "sent at " << send.Price << " with " << send.Slippage << " points";
        for (const TServerOrder& order : kit.Server.AllOrders())
            EXPECT_LE(std::abs(order.OpenPrice - 1.08462), 0.0003 + 1e-9);
        if (*c.Alert) {
            EXPECT_TRUE(kit.Server.AllOrders().empty());
            ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
            EXPECT_TRUE(Contains(kit.Host.Alerts[0], c.Alert)) << kit.Host.Alerts[0];
        } else {
            EXPECT_EQ(kit.Server.AllOrders().size(), 1u);
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
        }
    }
}

// --- Unclear answers ----------------------------------------------------------------------------

TSymbolRules UnderMarketExecution() {
    TSymbolRules rules = Eurusd();
    rules.Execution = TExecution::Market;
    return rules;
}

// After an answer that leaves open whether the order was placed, the click is never sent again:
// the expert says so at once and looks for the order for a minute, taking it over when it turns
// up (stops from its open price, trailed by the click's T/S) and saying so when it does not.
TEST(ExpertUnclearAnswer, IsNeverSentAgainAndALateOrderIsTakenOverWithItsStops) {
    constexpr long long Never = TFault::Never;
    struct TCase {
        const char* Name;
        TFault Fault;
        bool Market;
        std::size_t CommentKeep; // 0: the server keeps the comment
        const char* Told;        // part of the last alert
    } cases[] = {
        {"timeout, listed 3 s later", {teTradeTimeout, true, 0, 3000}, false, 0, "after all"},
        {"timeout under market execution", {teTradeTimeout, true, 0, 3000}, true, 0, "after all"},
        {"queued (142), listed 10 s later", {teOrderQueued, true, 0, 10000}, true, 0, "after all"},
        {"dealer (143), listed after 59 s",
         {teDealerAccepted, true, 0, 59000},
         true,
         0,
         "after all"},
        {"no result (1), listed 1 s later", {teNoResult, true, 0, 1000}, false, 0, "after all"},
        {"malfunction (9), listed 2 s later", {9, true, 0, 2000}, true, 0, "after all"},
        {"an answer the expert does not know", {199, true, 0, 1000}, true, 0, "after all"},
        {"the server cut the click's number off",
         {teTradeTimeout, true, 0, 3000},
         true,
         27,
         "after all"},
        {"the server added to the comment", {teTradeTimeout, true, 0, 3000}, true, 40, "after all"},
        {"the server changed the comment's end",
         {teTradeTimeout, true, 0, 3000},
         true,
         28,
         "after all"},
        // Not recognisably this chart's: told, never taken.
        {"the server cut into the chart's tag",
         {teTradeTimeout, true, 0, 3000},
         true,
         20,
         "did not confirm the order within 60 s"},
        {"timeout, not placed",
         {teTradeTimeout},
         false,
         0,
         "buy 0.10: the server did not confirm the order within 60 s and it was not sent again; "
         "look in the Trade tab"},
        {"queued, listed after the minute",
         {teOrderQueued, true, 0, 70000},
         true,
         0,
         "did not confirm the order within 60 s"},
        {"timeout, never listed",
         {teTradeTimeout, true, 0, Never},
         false,
         0,
         "did not confirm the order within 60 s"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit kit;
        kit.Server.SetRules(c.Market ? UnderMarketExecution() : Eurusd());
        if (c.CommentKeep)
            kit.Server.SetCommentEnd(c.CommentKeep, c.CommentKeep == 40   ? " [dealer]"
                                                    : c.CommentKeep == 28 ? "7"
                                                                          : "");
        auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60, 10));
        EXPECT_LT(kit.ClickThrough(expert, Buy, {c.Fault}), 500)
            << "the click does not wait for the server";
        ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
        EXPECT_TRUE(Contains(kit.Host.Alerts[0], "buy 0.10 not confirmed yet: "))
            << kit.Host.Alerts[0];
        EXPECT_TRUE(Contains(kit.Host.Alerts[0], "It will not be sent again"))
            << kit.Host.Alerts[0];

        kit.Wait(expert, 75000);
        expert.Tick();
        EXPECT_EQ(kit.Sends().size(), 1u) << "sent again";
        EXPECT_LE(kit.Server.AllOrders().size(), 1u);
        ASSERT_EQ(kit.Host.Alerts.size(), 2u) << kit.AlertsText();
        EXPECT_TRUE(Contains(kit.Host.Alerts[1], c.Told)) << kit.Host.Alerts[1];
        if (std::string(c.Told) != "after all") {
            EXPECT_TRUE(kit.Modifies().empty()) << "an order the expert does not know was changed";
            continue;
        }
        EXPECT_TRUE(Contains(kit.Host.Alerts[1], "buy 0.10 opened as #1 at "))
            << kit.Host.Alerts[1];
        const TServerOrder order = *kit.Server.Order(1);
        EXPECT_EQ(order.Type, otBuy);
        EXPECT_DOUBLE_EQ(order.Lots, 0.1);
        EXPECT_NEAR(order.StopLoss, order.OpenPrice - 0.0030, 1e-9);
        EXPECT_NEAR(order.TakeProfit, order.OpenPrice + 0.0060, 1e-9);
        // Taken over: trailed by the click's 10 pips.
        kit.Walk({&expert}, 1.08450, 1.08700);
        ExpectTrailedBehind(*kit.Server.Order(1), 1.08700, 10);
    }
}

// Two clicks of one chart: an order that the server lists only after its own click gave up is
// no other click's, whatever the server left of its comment.
TEST(ExpertUnclearAnswer, ALateOrderOfAnEarlierClickIsNotTakenForALaterOne) {
    for (std::size_t keep : {std::size_t{0}, std::size_t{27}}) {
        SCOPED_TRACE(keep);
        TExpertKit kit;
        if (keep)
            kit.Server.SetCommentEnd(keep, "");
        auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
        kit.Server.InjectSendFaults({{teTradeTimeout, true, 0, 90000}, {teTradeTimeout}});
        kit.Click(expert, Buy);
        kit.Wait(expert, 61000);
        kit.Click(expert, Buy);
        kit.Wait(expert, 61000);
        EXPECT_EQ(kit.Sends().size(), 2u);
        EXPECT_EQ(kit.Server.AllOrders().size(), 1u);
        EXPECT_EQ(kit.AlertsWith("did not confirm the order within 60 s"), 2) << kit.AlertsText();
        EXPECT_EQ(kit.AlertsWith("opened as"), 0) << kit.AlertsText();
        EXPECT_TRUE(kit.Modifies().empty());
    }
}

TEST(ExpertUnclearAnswer, AnotherClickWhileOneIsInDoubtIsRefusedAndTold) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Server.InjectSendFaults({{teOrderQueued, true, 0, 5000}});
    kit.Click(expert, Buy);
    kit.Click(expert, Sell);
    EXPECT_EQ(kit.Sends().size(), 1u);
    ASSERT_EQ(kit.Host.Alerts.size(), 2u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[1], "sell not sent: the buy 0.10 clicked before is not "
                                             "confirmed yet"))
        << kit.Host.Alerts[1];
    kit.Wait(expert, 6000);
    kit.Click(expert, Sell);
    EXPECT_EQ(kit.Sends().size(), 2u);
    EXPECT_EQ(kit.Server.OpenOrders().size(), 2u);
}

// The chart changes to another symbol while a click is in doubt: its order is still found and
// kept; the chart's prices cannot place its stops, so a position without them is told.
TEST(ExpertUnclearAnswer, AnOrderFoundAfterTheChartChangedSymbolKeepsOrTellsItsStops) {
    for (bool market : {false, true}) {
        SCOPED_TRACE(market ? "market execution" : "instant execution");
        TExpertKit kit;
        kit.Server.SetRules(market ? UnderMarketExecution() : Eurusd());
        auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
        kit.Server.InjectSendFaults({{teTradeTimeout, true, 0, 3000}});
        kit.Click(expert, Buy);
        expert.ChangeChart("GBPUSD", 1);
        kit.Wait(expert, 5000);
        EXPECT_EQ(kit.AlertsWith("buy 0.10 opened as #1 at 1.08462 after all"), 1)
            << kit.AlertsText();
        EXPECT_EQ(kit.AlertsWith("#1 is open WITHOUT its stop-loss and take-profit: the chart "
                                 "shows another symbol now"),
                  market ? 1 : 0)
            << kit.AlertsText();
        EXPECT_TRUE(kit.Modifies().empty());
        EXPECT_EQ(kit.Sends().size(), 1u);
    }
}

TEST(ExpertUnclearAnswer, AnExpertRemovedWhileLookingSaysTheOrderIsTheTradersToLookFor) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Server.InjectSendFaults({{teTradeTimeout, true, 0, 5000}});
    kit.Click(expert, Buy);
    expert.Deinit(mql4::REASON_REMOVE);
    ASSERT_EQ(kit.Host.Alerts.size(), 2u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[1], "buy 0.10: the expert stopped before the server "
                                             "confirmed the order, and it was not sent again"))
        << kit.Host.Alerts[1];
}

// A common error (2): all trading stops on that chart until the trader clicks again; the order
// of the click is still looked for, and found without its stops, which is told.
TEST(ExpertUnclearAnswer, ACommonErrorStopsTradingUntilTheTraderClicksAgain) {
    TExpertKit kit;
    kit.Server.SetRules(UnderMarketExecution());
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    kit.Server.InjectSendFaults({{teCommonError, true, 0, 2000}});
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "trading on this chart stops until you click again"))
        << kit.Host.Alerts[0];
    kit.Wait(expert, 3000);
    ASSERT_EQ(kit.Host.Alerts.size(), 3u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[1], "opened as #1")) << kit.Host.Alerts[1];
    EXPECT_TRUE(Contains(kit.Host.Alerts[2], "#1 is open WITHOUT its stop-loss: trading on this "
                                             "chart stopped after the server's common error"))
        << kit.Host.Alerts[2];
    kit.Walk({&expert}, 1.08450, 1.08650);
    EXPECT_TRUE(kit.Modifies().empty()) << "a trade request before the trader's next click";

    kit.Click(expert, Buy);
    kit.Walk({&expert}, 1.08650, 1.08700);
    ASSERT_FALSE(kit.Modifies().empty());
    ExpectTrailedBehind(*kit.Server.Order(1), 1.08700, 10);
}

// --- Execution modes --------------------------------------------------------------------------

TEST(ExpertExecution, UnderMarketExecutionOpensWithoutStopsAndSetsThemFromTheRealOpenPrice) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.Execution = TExecution::Market;
    kit.Server.SetRules(rules);
    kit.Server.SetMarketSlippage(4);
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.2, 30, 60));
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

// Under market execution the broker fills at market whatever the slippage sent: the expert can
// only tell a fill beyond the slippage allowed.
TEST(ExpertExecution, AFillBeyondTheSlippageIsToldUnderMarketExecution) {
    for (double points : {80.0, 30.0}) {
        SCOPED_TRACE(points);
        TExpertKit kit;
        kit.Server.SetRules(UnderMarketExecution());
        kit.Server.SetMarketSlippage(points);
        auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
        kit.Click(expert, Buy);
        ASSERT_EQ(kit.Server.OpenOrders().size(), 1u);
        if (points > 30) {
            EXPECT_EQ(kit.AlertsWith("buy 0.10 filled at 1.08542, 8.0 pips worse than the 1.08462 "
                                     "clicked, beyond the 3.0 pips of slippage allowed"),
                      1)
                << kit.AlertsText();
        } else {
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
        }
    }
}

TEST(ExpertExecution, APositionLeftWithoutItsStopsIsReportedAtOnce) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.Execution = TExecution::Market;
    kit.Server.SetRules(rules);
    kit.Server.InjectModifyFaults({{teInvalidStops}});
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
    kit.Click(expert, Sell);
    EXPECT_EQ(kit.Server.OpenOrders().size(), 1u);
    ASSERT_EQ(kit.Host.Alerts.size(), 1u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "is open WITHOUT its stop-loss and take-profit"))
        << kit.Host.Alerts[0];
    EXPECT_TRUE(Contains(kit.Host.Alerts[0], "Set them by hand")) << kit.Host.Alerts[0];
}

TEST(ExpertExecution, UnderInstantExecutionStopsFollowASlippedFill) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
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

TEST(ExpertLots, AreRoundedDownToTheStepNeverMoreThanTypedNorAboveTheCap) {
    struct TCase {
        double Typed, Step, Min, Max, Cap;
        double Sent;         // 0: no order
        const char* Refusal; // part of the Alert when no order
    } cases[] = {
        {0.016, 0.01, 0.01, 100, 0, 0.01, ""},
        {0.1, 0.01, 0.01, 100, 0, 0.1, ""},
        {0.29, 0.01, 0.01, 100, 0, 0.29, ""},
        {0.0125, 0.001, 0.001, 100, 0, 0.012, ""},
        {0.3, 0.5, 0.5, 100, 0, 0, "lot size 0.30 is below the broker's minimum of 0.5"},
        {0.7, 0.5, 0.5, 100, 0, 0.5, ""},
        {0.005, 0.01, 0.01, 100, 0, 0, "below the broker's minimum of 0.01"},
        {150, 0.01, 0.01, 100, 0, 0, "lot size 150.00 is above the broker's maximum of 100.00"},
        {100, 0.01, 0.01, 100, 0, 100, ""},
        {0, 0.01, 0.01, 100, 0, 0, "the Lots field reads 0.00"},
        {-1, 0.01, 0.01, 100, 0, 0, "the Lots field reads -1.00"},
        {Inf, 0.01, 0.01, 100, 0, 0, "Lots is not a number"},
        {NaN, 0.01, 0.01, 100, 0, 0, "buy not sent: Lots is not a number"},
        {1e300, 0.01, 0.01, 100, 0, 0, "above the broker's maximum"},
        // The fat-finger cap: the classic 10.0 typed for 1.0; the cap itself passes, and it
        // is measured after rounding down to the step.
        {10, 0.01, 0.01, 100, 5, 0,
         "buy not sent: lot size 10.00 is above the cap of 5.00 lots (InpMaxLots)"},
        {5, 0.01, 0.01, 100, 5, 5, ""},
        {5.009, 0.01, 0.01, 100, 5, 5, ""},
        {5.01, 0.01, 0.01, 100, 5, 0, "lot size 5.01 is above the cap of 5.00 lots"},
        {1.5, 1, 1, 100, 1.2, 1, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("typed " + std::to_string(c.Typed) + " step " + std::to_string(c.Step) +
                     " cap " + std::to_string(c.Cap));
        TExpertKit kit;
        TSymbolRules rules = Eurusd();
        rules.LotStep = c.Step;
        rules.MinLot = c.Min;
        rules.MaxLot = c.Max;
        kit.Server.SetRules(rules);
        TInputs inputs;
        inputs.InpMaxLots = c.Cap;
        auto& expert = kit.Attach("EURUSD", inputs);
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
        TInputs inputs = TExpertKit::Inputs(0.1, 30, 60);
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
        // The panel writes NaN for a field whose text is not a number.
        {NaN, 60, 0, 0, "sell not sent: S/L is not a number"},
        {30, NaN, 0, 0, "sell not sent: T/P is not a number"},
        {30, 60, NaN, 0, "sell not sent: T/S is not a number"},
        {30, 60, -1, 0, "the T/S field reads -1.00"},
        {30, 60, Inf, 0, "sell not sent: T/S is not a number"},
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
        auto& expert =
            kit.Attach("EURUSD", TExpertKit::Inputs(0.1, c.StopLoss, c.TakeProfit, c.Trailing));
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
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 5 + 1.2, 0));
    kit.Click(expert, Sell);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 1u) << kit.AlertsText();
    EXPECT_NEAR(orders[0].StopLoss, 1.08462 + 0.0005, 1e-9);
    EXPECT_EQ(orders[0].TakeProfit, 0);
}

// --- Guards: lots from risk, the spread, break-even, the inputs -------------------------------

TEST(ExpertRisk, SizesLotsFromTheEquityAndTheStopAndTheJournalSaysWhatIsAtRisk) {
    guard_cases::ClickUnderEachRiskCase<TExpertKit>();
}

// Risk is measured against the equity: an open loss makes the next click smaller.
TEST(ExpertRisk, AnOpenLossMakesTheNextClickSmaller) {
    TExpertKit kit;
    int error = 0;
    ASSERT_EQ(kit.Server.Send("EURUSD", otBuy, 1, 1.08462, 3, 0, 0, "", 0, error), 1);
    kit.Quote("EURUSD", 1.07962, 1.07974); // 50 pips down: 500 dollars lost, equity 9500
    TInputs inputs = TExpertKit::Inputs(1, 25, 0);
    inputs.InpRiskPercent = 1;
    auto& expert = kit.Attach("EURUSD", inputs);
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Server.OpenOrders().size(), 2u) << kit.AlertsText();
    EXPECT_DOUBLE_EQ(kit.Server.OpenOrders()[1].Lots, 0.38);
    EXPECT_EQ(kit.JournalWith("95.00 USD at risk at its stop-loss 1.07724"), 1);
}

TEST(ExpertSpread, RefusesAClickWhileTheSpreadIsWiderThanAllowed) {
    guard_cases::ClickUnderEachSpreadCase<TExpertKit>();
}

TEST(ExpertBreakEven, MovesTheStopOnceWithinTheLevelsBesideTrailingAndNeverBackwards) {
    guard_cases::WalkEachBreakEvenCase<TExpertKit>();
}

// Break-even moves a stop once: a stop the trader moves back by hand stays where it is put, and
// a broker that refuses is told once in the journal, as trailing is.
TEST(ExpertBreakEven, IsDoneOnceAndARefusalIsToldOnce) {
    TInputs inputs = TExpertKit::Inputs(0.1, 30, 0);
    inputs.InpBreakEvenPips = 10;
    {
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD", inputs);
        kit.Click(expert, Buy);
        kit.Walk({&expert}, 1.08450, 1.08600);
        ASSERT_NEAR(kit.Server.Order(1)->StopLoss, 1.08472, 1e-9);
        int error = 0;
        ASSERT_TRUE(kit.Server.Modify(1, 1.08300, 0, error));
        kit.Server.ClearRequests();
        kit.Walk({&expert}, 1.08600, 1.08700);
        EXPECT_TRUE(kit.Modifies().empty());
        EXPECT_NEAR(kit.Server.Order(1)->StopLoss, 1.08300, 1e-9);
    }
    {
        TExpertKit kit;
        auto& expert = kit.Attach("EURUSD", inputs);
        kit.Click(expert, Buy);
        kit.Server.InjectModifyFaults(std::vector<TFault>(100, TFault{teTooFrequentRequests}));
        kit.Walk({&expert}, 1.08450, 1.08700);
        EXPECT_EQ(kit.JournalWith("break-even stop of #1 not moved: too frequent requests"), 1);
        EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
    }
}

// Each order keeps the break-even of its click, as it keeps its trailing stop: through a
// restart with other inputs, and through a change of account and back.
TEST(ExpertBreakEven, EachOrderKeepsItsBreakEvenThroughARestartAndAnAccountChange) {
    for (bool restart : {true, false}) {
        SCOPED_TRACE(restart ? "restart" : "account change");
        TExpertKit kit;
        TInputs inputs = TExpertKit::Inputs(0.1, 30, 0);
        inputs.InpBreakEvenPips = 10;
        inputs.InpBreakEvenLockPips = 2;
        auto* expert = &kit.Attach("EURUSD", inputs);
        kit.Click(*expert, Buy);
        if (restart) {
            expert = &kit.Restart(*expert, TExpertKit::Inputs(0.1, 30, 0));
        } else {
            kit.ChangeAccount(2);
            kit.Walk({expert}, 1.08450, 1.08600);
            EXPECT_TRUE(kit.Modifies().empty()) << "another account's ticket #1";
            kit.ChangeAccount(1);
            kit.Quote("EURUSD", 1.08450, 1.08462);
        }
        kit.Walk({expert}, 1.08450, 1.08600);
        EXPECT_NEAR(kit.Server.Order(1)->StopLoss, 1.08482, 1e-9);
        EXPECT_FALSE(kit.Host.GlobalVariables.Get("Pellith 1 #1 B/E")) << "kept once done";
    }
}

TEST(ExpertInputs, ABadGuardInputIsRefusedAtTheStartByNameAndTheExpertDoesNotTrade) {
    guard_cases::AttachWithEachBadInput<TExpertKit>();
}

// --- Trailing -----------------------------------------------------------------------------------

TEST(ExpertTrailing, MovesTheStopByAtLeastAStepOnlyTowardsProfit) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Server.OpenOrders().size(), 1u);
    kit.Server.ClearRequests();
    kit.Walk({&expert}, 1.08450, 1.08750); // a 30-pip climb
    const auto modifies = kit.Modifies();
    RecordProperty("modifications_over_30_pips", static_cast<int>(modifies.size()));
    EXPECT_GE(modifies.size(), 15u);
    EXPECT_LE(modifies.size(), 20u) << "one modification per pip, not per point";
    for (std::size_t i = 1; i < modifies.size(); ++i)
        EXPECT_GE(modifies[i].StopLoss - modifies[i - 1].StopLoss, 0.0001 - 1e-9);
    const double stop = kit.Server.OpenOrders()[0].StopLoss;
    EXPECT_NEAR(stop, 1.08643, 1e-9);

    kit.Walk({&expert}, 1.08750, 1.08700); // back down: the stop stays
    EXPECT_EQ(kit.Modifies().size(), modifies.size());
    EXPECT_EQ(kit.Server.OpenOrders()[0].StopLoss, stop);
}

TEST(ExpertTrailing, NeverInsideTheFreezeLevelAndTellsTheJournalOnce) {
    TExpertKit kit;
    TSymbolRules rules = Eurusd();
    rules.FreezeLevel = 30;
    kit.Server.SetRules(rules);
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 2));
    kit.Click(expert, Buy);
    kit.Server.ClearRequests();
    kit.Walk({&expert}, 1.08450, 1.08650);
    EXPECT_TRUE(kit.Modifies().empty());
    EXPECT_EQ(kit.JournalWith("trailing stop 2.0 pips of #1 is inside the broker's minimum of "
                              "3.0 pips; its stop is not trailed"),
              1);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

TEST(ExpertTrailing, ARepeatedFailureGoesToTheJournalOnce) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    kit.Server.InjectModifyFaults(std::vector<TFault>(100, TFault{teTooFrequentRequests}));
    kit.Walk({&expert}, 1.08450, 1.08750);
    int told = 0;
    for (const std::string& line : kit.Host.Journal)
        told += Contains(line, "not moved: too frequent requests");
    EXPECT_EQ(told, 1);
}

TEST(ExpertTrailing, EachChartTrailsOnlyTheOrdersItOpened) {
    TExpertKit kit;
    auto& trailing = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    auto& other = kit.Attach("EURUSD", TExpertKit::Inputs(0.2, 30, 0, 0));
    kit.Click(trailing, Buy);
    kit.Click(other, Buy);
    const auto orders = kit.Server.OpenOrders();
    ASSERT_EQ(orders.size(), 2u);
    kit.Server.ClearRequests();
    kit.Walk({&trailing, &other}, 1.08450, 1.08650);
    ASSERT_FALSE(kit.Modifies().empty());
    for (const TServerRequest& modify : kit.Modifies())
        EXPECT_EQ(modify.Ticket, orders[0].Ticket);
    EXPECT_NEAR(kit.Server.Order(orders[1].Ticket)->StopLoss, 1.08462 - 0.0030, 1e-9);
}

// What the trader types into T/S changes no order that is open: typing "25" into a field that
// read 0 passes through "2" on a tick.
TEST(ExpertTrailing, EachOrderTrailsByTheTrailingStopOfItsOwnClick) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 0));
    kit.Click(expert, Buy); // #1, no trailing stop
    kit.Type(expert, 3, 10);
    kit.Click(expert, Buy); // #2, 10 pips
    kit.Server.ClearRequests();
    kit.Type(expert, 3, 2);
    kit.Walk({&expert}, 1.08450, 1.08600);
    kit.Type(expert, 3, 25);
    kit.Walk({&expert}, 1.08600, 1.08700);
    ASSERT_FALSE(kit.Modifies().empty());
    for (const TServerRequest& modify : kit.Modifies())
        EXPECT_EQ(modify.Ticket, 2);
    EXPECT_NEAR(kit.Server.Order(1)->StopLoss, 1.08462 - 0.0030, 1e-9);
    ExpectTrailedBehind(*kit.Server.Order(2), 1.08700, 10);
}

// --- Restarts and accounts ----------------------------------------------------------------------

// After a terminal restart the expert takes back this chart's open orders, each trailed by the
// T/S of its own click, not by the new session's inputs.
TEST(ExpertRestart, TakesBackItsOrdersWithTheTrailingStopsOfTheirClicks) {
    TExpertKit kit;
    auto& first = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    kit.Click(first, Buy); // #1, 10 pips
    kit.Type(first, 3, 0);
    kit.Click(first, Buy); // #2, none
    auto& again = kit.Restart(first, TExpertKit::Inputs(0.1, 30, 0, 4));
    kit.Server.ClearRequests();
    kit.Walk({&again}, 1.08450, 1.08700);
    ASSERT_FALSE(kit.Modifies().empty());
    for (const TServerRequest& modify : kit.Modifies())
        EXPECT_EQ(modify.Ticket, 1);
    ExpectTrailedBehind(*kit.Server.Order(1), 1.08700, 10);
    EXPECT_NEAR(kit.Server.Order(2)->StopLoss, 1.08462 - 0.0030, 1e-9);
}

// The first click after a restart carries a number no click of the last session had, and its
// order is looked for only among orders opened after it: an order of the last session is never
// taken for it, on either side, whatever the server did to the comments, and also when the
// terminal lost its global variables.
TEST(ExpertRestart, AFirstClickAfterARestartNeverTakesOverAnOrderOfTheLastSession) {
    struct TCase {
        const char* Name;
        int OldSide;
        bool LoseGlobals;
        std::size_t CommentKeep; // 27: the server cuts the click numbers off
        TFault FirstAnswer;
    } cases[] = {
        {"a requote, old order on the other side", Sell, false, 0, {teRequote}},
        {"a requote, old order on the same side", Buy, false, 0, {teRequote}},
        {"a requote, global variables lost", Buy, true, 0, {teRequote}},
        {"a requote, numbers cut, global variables lost", Buy, true, 27, {teRequote}},
        {"a timeout, listed later", Sell, false, 0, {teTradeTimeout, true, 0, 2000}},
        {"a timeout, listed later, numbers cut", Buy, false, 27, {teTradeTimeout, true, 0, 2000}},
        {"a timeout, not placed, numbers cut, global variables lost",
         Buy,
         true,
         27,
         {teTradeTimeout}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit kit;
        if (c.CommentKeep)
            kit.Server.SetCommentEnd(c.CommentKeep, "");
        auto& first = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 60));
        kit.Click(first, c.OldSide);
        const TServerOrder old = *kit.Server.Order(1);
        if (c.LoseGlobals)
            kit.Host.GlobalVariables.Lose();
        auto& again = kit.Restart(first, TExpertKit::Inputs(0.1, 30, 60));
        kit.Server.ClearRequests();
        kit.Server.InjectSendFaults({c.FirstAnswer});
        kit.Click(again, Buy);
        kit.Wait(again, 65000);

        for (const TServerRequest& modify : kit.Modifies())
            EXPECT_NE(modify.Ticket, 1) << "the old order's stops were changed";
        EXPECT_EQ(kit.Server.Order(1)->StopLoss, old.StopLoss);
        EXPECT_EQ(kit.Server.Order(1)->TakeProfit, old.TakeProfit);
        EXPECT_EQ(kit.JournalWith("opened as #1 "), 1) << "only by the last session";
        EXPECT_EQ(kit.AlertsWith("#1 "), 0) << kit.AlertsText();
        const auto orders = kit.Server.AllOrders();
        ASSERT_LE(orders.size(), 2u);
        if (orders.size() == 2) {
            EXPECT_EQ(orders[1].Type, otBuy);
            EXPECT_EQ(kit.JournalWith("buy 0.10 opened as #2 ") + kit.AlertsWith("opened as #2 "),
                      1);
            EXPECT_NEAR(orders[1].StopLoss, orders[1].OpenPrice - 0.0030, 1e-9);
        } else {
            EXPECT_EQ(kit.AlertsWith("did not confirm the order within 60 s"), 1)
                << kit.AlertsText();
        }
    }
}

// After the terminal logs in to another account (at another broker, whose tickets may be the
// same numbers) the expert trails none of the tickets it remembered, and takes back this
// account's own orders when it comes back to it.
TEST(ExpertAccount, ForgetsThePreviousAccountsOrdersAndTakesBackThisAccountsOwn) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit::Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy); // #1 of account 1
    kit.Server.SetNextTicket(1);
    kit.ChangeAccount(2);
    int error = 0;
    const int manual = kit.Server.Send("EURUSD", otBuy, 1, 1.08462, 3, 0, 0, "", 0, error);
    ASSERT_EQ(manual, 1) << "a manual order of account 2 with the same ticket";
    kit.Server.ClearRequests();
    kit.Walk({&expert}, 1.08450, 1.08700);
    EXPECT_TRUE(kit.Modifies().empty()) << "an order of another account's ticket was changed";

    kit.ChangeAccount(1);
    kit.Walk({&expert}, 1.08700, 1.08750);
    ASSERT_FALSE(kit.Modifies().empty());
    for (const TServerRequest& modify : kit.Modifies())
        EXPECT_EQ(modify.Ticket, 1);
    const auto orders = kit.Server.AllOrders();
    ASSERT_EQ(orders.size(), 2u);
    ExpectTrailedBehind(orders[0], 1.08750, 10);
    EXPECT_EQ(orders[1].StopLoss, 0) << "the manual order of account 2";
}

TEST(ExpertAccount, AClickInDoubtWhenTheAccountChangesIsTold) {
    TExpertKit kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Server.InjectSendFaults({{teTradeTimeout, true, 0, 5000}});
    kit.Click(expert, Sell);
    kit.ChangeAccount(7);
    kit.Wait(expert, 10000);
    ASSERT_EQ(kit.Host.Alerts.size(), 2u) << kit.AlertsText();
    EXPECT_TRUE(Contains(kit.Host.Alerts[1], "sell 0.10: the account changed before the server "
                                             "confirmed the order, and it was not sent again; "
                                             "look in the Trade tab of account 1"))
        << kit.Host.Alerts[1];
    EXPECT_TRUE(kit.Modifies().empty());
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
    expert.ChangeInputs(TExpertKit::Inputs(0.5, 20, 40, 5));
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
