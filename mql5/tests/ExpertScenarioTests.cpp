// The real PellithPanel.mq5, translated, against the simulated MT5 trade server: what the server
// received and what the trader was told, grouped by behaviour.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mql5/tests/ExpertKit5.h"

namespace {

using TInputs = TExpertKit5::TInputs;
constexpr int Buy = 1;
constexpr int Sell = 2;

TFault Answer(unsigned ARetcode, bool APlaceAnyway = false, long long AListAfterMs = 0) {
    TFault fault;
    fault.Error = static_cast<int>(ARetcode);
    fault.PlaceAnyway = APlaceAnyway;
    fault.ListAfterMs = AListAfterMs;
    return fault;
}

// --- Chart ------------------------------------------------------------------------------------

TEST(Expert5Chart, ThePanelGetsTheSixtyFourBitChartHandleAndTheSymbolAsBytes) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("GBPUSD");
    ASSERT_GT(expert.Chart().WindowHandle, 0xFFFFFFFFLL);
    ASSERT_EQ(kit.Panel.Panels.count(expert.Chart().WindowHandle), 1u);
    EXPECT_EQ(kit.PanelOf(expert).Symbol, "GBPUSD");
    expert.Deinit(mql::REASON_REMOVE);
    EXPECT_TRUE(kit.Panel.Panels.empty());
    EXPECT_EQ(kit.Panel.Calls.back(), "delete " + std::to_string(expert.Chart().WindowHandle));
}

// --- One click, one deal, under each return code ---------------------------------------------

TEST(Expert5OneClick, IsAtMostOneDealWhateverTheServerAnswers) {
    const std::vector<TClickCase> cases = {
        {"requote", {Answer(rcRequote)}, 1, 2, ""},
        {"price changed", {Answer(rcPriceChanged)}, 1, 2, ""},
        {"price off", {Answer(rcPriceOff)}, 1, 2, ""},
        {"too many requests", {Answer(rcTooManyRequests)}, 1, 2, ""},
        {"no connection", {Answer(rcConnection)}, 1, 2, ""},
        {"requotes without end", std::vector<TFault>(20, Answer(rcRequote)), 0, 5,
         "not sent: requote"},
        {"timeout, dealt and listed at once", {Answer(rcTimeout, true)}, 1, 1, ""},
        {"a requote that dealt all the same", {Answer(rcRequote, true)}, 1, 1, ""},
        {"timeout", {Answer(rcTimeout)}, 0, 1, "not confirmed yet: the trade server did not"},
        {"processing error", {Answer(rcError)}, 0, 1, "not confirmed yet: the server could not"},
        {"placed, not filled", {Answer(rcPlaced)}, 0, 1, "not confirmed yet: the server placed"},
        {"an unknown code", {Answer(10099)}, 0, 1, "answered with code 10099"},
        {"rejected", {Answer(rcReject)}, 0, 1, "not sent: the server rejected the request"},
        {"invalid request", {Answer(rcInvalid)}, 0, 1, "not sent: the server found the request"},
        {"invalid volume", {Answer(rcInvalidVolume)}, 0, 1, "not sent: the broker refused the lot"},
        {"invalid price", {Answer(rcInvalidPrice)}, 0, 1, "not sent: invalid price"},
        {"invalid stops", {Answer(rcInvalidStops)}, 0, 1, "refused the stop-loss or take-profit"},
        {"invalid fill", {Answer(rcInvalidFill)}, 0, 1, "does not take this filling policy"},
        {"no money", {Answer(rcNoMoney)}, 0, 1, "not sent: not enough money"},
        {"market closed", {Answer(rcMarketClosed)}, 0, 1, "not sent: the market is closed"},
        {"trade disabled", {Answer(rcTradeDisabled)}, 0, 1, "trading is disabled"},
        {"server disables AT", {Answer(rcServerDisablesAt)}, 0, 1, "does not allow automated"},
        {"volume limit", {Answer(rcLimitVolume)}, 0, 1, "volume limit for this symbol"},
    };
    ClickUnderEachCase<TExpertKit5>(
        cases, "Pellith EURUSD: buy 0.10 ",
        [](TExpertKit5& AKit, TExpertKit5::TExpert& AExpert, const TClickCase& ACase) {
            EXPECT_EQ(static_cast<int>(AKit.Server.ListedPositions().size()), ACase.Trades);
            EXPECT_EQ(static_cast<int>(AKit.Deals().size()), ACase.Sends);
            for (const TServerRequest5& send : AKit.Deals()) {
                EXPECT_EQ(send.Request.Type, otBuy);
                EXPECT_DOUBLE_EQ(send.Request.Volume, 0.10);
            }
            // Nothing more is sent later, whatever became of the click.
            AKit.Wait(AExpert, 61000);
            AExpert.Tick();
            EXPECT_EQ(static_cast<int>(AKit.Deals().size()), ACase.Sends);
        });
}

TEST(Expert5UnclearAnswer, IsNeverSentAgainAndALateDealIsTakenOverWithItsStops) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 15));
    kit.Server.InjectDealFaults({Answer(rcTimeout, true, 3000)});
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.AlertsWith("buy 0.10 not confirmed yet"), 1) << kit.AlertsText();
    kit.Click(expert, Buy);
    EXPECT_EQ(kit.AlertsWith("buy not sent: the buy 0.10 clicked before is not confirmed"), 1)
        << kit.AlertsText();
    kit.Wait(expert, 3000);
    EXPECT_EQ(kit.Deals().size(), 1u);
    EXPECT_EQ(kit.AlertsWith("after all: the server confirmed it late; opened position #"), 1)
        << kit.AlertsText();
    ASSERT_EQ(kit.Server.Positions().size(), 1u);
    const TPosition5 position = kit.Server.Positions()[0];
    EXPECT_NEAR(position.StopLoss, position.PriceOpen - 0.0030, 1e-9);
    // It trails by its click's T/S.
    kit.Walk({&expert}, 1.08450, 1.08650);
    EXPECT_GT(kit.Server.Positions()[0].StopLoss, position.StopLoss);
}

TEST(Expert5UnclearAnswer, ADealNeverListedIsGivenUpAfterTheConfirmTimeAndNotSentAgain) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Server.InjectDealFaults({Answer(rcTimeout, true, TFault::Never)});
    kit.Click(expert, Sell);
    kit.Wait(expert, 61000);
    EXPECT_EQ(kit.AlertsWith("sell 0.10: the server did not confirm the deal within 60 s"), 1)
        << kit.AlertsText();
    EXPECT_EQ(kit.Deals().size(), 1u);
}

// --- Filling policies and execution modes ----------------------------------------------------

TEST(Expert5Filling, IsChosenFromTheSymbolAndItsExecutionSoThatItIsNeverRefused) {
    struct TCase {
        const char* Name;
        TExecution Execution;
        int Flags;
        int Filling; // -1: no deal sent
    } cases[] = {
        {"instant, whatever the flags", TExecution::Instant, sfIoc, fpFok},
        {"request", TExecution::Request, 0, fpFok},
        {"market, both", TExecution::Market, sfFok | sfIoc, fpFok},
        {"market, IOC only", TExecution::Market, sfIoc, fpIoc},
        {"exchange, none flagged", TExecution::Exchange, 0, fpReturn},
        {"exchange, IOC", TExecution::Exchange, sfIoc, fpIoc},
        {"market, none flagged", TExecution::Market, 0, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit5 kit;
        kit.Rules("EURUSD", [&](TSymbolRules& r) {
            r.Execution = c.Execution;
            r.FillingModes = c.Flags;
        });
        auto& expert = kit.Attach("EURUSD");
        kit.Click(expert, Buy);
        if (c.Filling < 0) {
            EXPECT_TRUE(kit.Deals().empty());
            EXPECT_EQ(kit.AlertsWith("buy not sent: the broker allows no filling policy"), 1)
                << kit.AlertsText();
            continue;
        }
        ASSERT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
        EXPECT_EQ(kit.Deals()[0].Request.Filling, c.Filling);
        EXPECT_EQ(kit.Deals()[0].Result.Retcode, rcDone);
        EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
    }
}

TEST(Expert5Filling, APartialFillIsToldWithTheLotsFilled) {
    TExpertKit5 kit;
    kit.Rules("EURUSD", [](TSymbolRules& r) {
        r.Execution = TExecution::Market;
        r.FillingModes = sfIoc;
    });
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.5, 30, 0));
    TFault partial;
    partial.FillLots = 0.2;
    kit.Server.InjectDealFaults({partial});
    kit.Click(expert, Buy);
    EXPECT_EQ(kit.Deals().size(), 1u);
    EXPECT_EQ(kit.AlertsWith("buy 0.50 filled only in part: 0.20 lots at 1.08462"), 1)
        << kit.AlertsText();
    ASSERT_EQ(kit.Server.Positions().size(), 1u);
    EXPECT_DOUBLE_EQ(kit.Server.Positions()[0].Volume, 0.2);
    EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, 1.08162, 1e-9);
}

TEST(Expert5Execution, StopsAreMeasuredFromTheRealFillUnderMarketExecution) {
    TExpertKit5 kit;
    kit.Rules("EURUSD", [](TSymbolRules& r) { r.Execution = TExecution::Market; });
    kit.Server.SetMarketSlippage(7);
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60));
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Server.Positions().size(), 1u);
    const TPosition5 position = kit.Server.Positions()[0];
    EXPECT_NEAR(position.PriceOpen, 1.08469, 1e-9);
    EXPECT_NEAR(position.StopLoss, 1.08169, 1e-9);
    EXPECT_NEAR(position.TakeProfit, 1.09069, 1e-9);
    EXPECT_EQ(kit.Sltps().size(), 1u);
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

TEST(Expert5Execution, APositionLeftWithoutItsStopsIsReportedAtOnce) {
    TExpertKit5 kit;
    kit.Rules("EURUSD", [](TSymbolRules& r) { r.Execution = TExecution::Market; });
    kit.Server.SetMarketSlippage(7);
    kit.Server.InjectSltpFaults({Answer(rcInvalidStops)});
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60));
    kit.Click(expert, Buy);
    EXPECT_EQ(kit.AlertsWith("is open WITHOUT its stop-loss and take-profit as typed: the broker "
                             "refused the stop-loss or take-profit. Set them by hand."),
              1)
        << kit.AlertsText();
}

// --- Netting and hedging -----------------------------------------------------------------------

TEST(Expert5Netting, EachClickIsADealOnTheOnePositionAndItsEffectIsTold) {
    TExpertKit5 kit(false);
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.2, 30, 60));
    struct TStep {
        int Click;
        double Lots;
        const char* Told;
        double Volume; // of the position after it; 0: none
    } steps[] = {
        {Buy, 0.2, "buy 0.20 done at 1.08462; opened position #", 0.2},
        {Buy, 0.1, "buy 0.10 done at 1.08462; added to position #", 0.3},
        {Sell, 0.1, "sell 0.10 done at 1.08450; reduced position #", 0.2},
        {Sell, 0.5, "sell 0.50 done at 1.08450; reversed position #", 0.3},
        {Buy, 0.3, "buy 0.30 done at 1.08462; it closed position #", 0},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Told);
        kit.Type(expert, 0, step.Lots);
        kit.Click(expert, step.Click);
        EXPECT_EQ(kit.JournalWith(step.Told) + kit.AlertsWith(step.Told), 1) << kit.AlertsText();
        const auto positions = kit.Server.Positions();
        ASSERT_EQ(positions.size(), step.Volume > 0 ? 1u : 0u);
        if (step.Volume > 0) {
            EXPECT_NEAR(positions[0].Volume, step.Volume, 1e-9);
        }
    }
    EXPECT_EQ(kit.Deals().size(), 5u);
    // The reversal's position is the click's: its stops were measured from its fill.
    EXPECT_EQ(kit.AlertsWith("reversed position #1000 to sell 0.30 at 1.08450, stop-loss "
                             "1.08750, take-profit 1.07850"),
              1)
        << kit.AlertsText();
}

TEST(Expert5Netting, APositionTheExpertDidNotOpenKeepsItsStopsAndIsNeverTrailed) {
    TExpertKit5 kit(false);
    TTradeRequest5 manual;
    manual.Symbol = "EURUSD";
    manual.Type = otBuy;
    manual.Volume = 0.5;
    manual.Price = 1.08462;
    manual.StopLoss = 1.08200;
    ASSERT_EQ(kit.Server.Send(manual).Retcode, rcDone);
    kit.Server.ClearRequests();
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 10));
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Deals().size(), 1u);
    EXPECT_EQ(kit.Deals()[0].Request.StopLoss, 0) << "a netting deal replaces the stops";
    EXPECT_EQ(kit.AlertsWith("added to position #1000, now buy 0.60"), 1) << kit.AlertsText();
    EXPECT_EQ(kit.AlertsWith("a position this expert did not open: its stops stay"), 1);
    kit.Walk({&expert}, 1.08450, 1.08700);
    EXPECT_TRUE(kit.Sltps().empty());
    EXPECT_DOUBLE_EQ(kit.Server.Positions()[0].StopLoss, 1.08200);
}

TEST(Expert5Hedging, EachClickOpensItsOwnPositionAndOnlyItsOwnAreTrailed) {
    TExpertKit5 kit;
    TTradeRequest5 manual;
    manual.Symbol = "EURUSD";
    manual.Type = otBuy;
    manual.Volume = 0.5;
    manual.Price = 1.08462;
    ASSERT_EQ(kit.Server.Send(manual).Retcode, rcDone);
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 10));
    kit.Click(expert, Buy);
    kit.Type(expert, 3, 20);
    kit.Click(expert, Sell);
    ASSERT_EQ(kit.Server.Positions().size(), 3u);
    EXPECT_EQ(kit.JournalWith("; opened position #"), 2);
    kit.Server.ClearRequests();
    kit.Walk({&expert}, 1.08450, 1.08650);
    for (const TServerRequest5& r : kit.Sltps())
        EXPECT_EQ(r.Request.Position, kit.Server.Positions()[1].Ticket) << "only the buy trails";
    const auto positions = kit.Server.Positions();
    EXPECT_EQ(positions[0].StopLoss, 0) << "the trader's own";
    EXPECT_NEAR(positions[1].StopLoss, 1.08550, 1.1e-4);
    EXPECT_FALSE(kit.Sltps().empty());
}

// --- Lots, stops ------------------------------------------------------------------------------

TEST(Expert5Lots, AreRoundedDownToTheStepAndNeverAboveTheMaximumOrTheLimit) {
    struct TCase {
        double Typed, Step, Min, Max, Limit;
        double Sent; // 0: nothing sent
        const char* Alert;
    } cases[] = {
        {0.129, 0.01, 0.01, 100, 0, 0.12, ""},
        {0.7, 0.5, 0.5, 100, 0, 0.5, ""},
        {0.3, 0.5, 0.5, 100, 0, 0, "below the broker's minimum of 0.5"},
        {101, 0.01, 0.01, 100, 0, 0, "above the broker's maximum of 100.00"},
        {0.6, 0.01, 0.01, 100, 0.5, 0, "would pass the broker's limit of 0.50 lots"},
        {20, 0.01, 0.01, 100, 0, 0, "not sent: not enough money"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Typed);
        TExpertKit5 kit;
        kit.Rules("EURUSD", [&](TSymbolRules& r) {
            r.LotStep = c.Step;
            r.MinLot = c.Min;
            r.MaxLot = c.Max;
            r.VolumeLimit = c.Limit;
        });
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(c.Typed, 30, 60));
        kit.Click(expert, Buy);
        if (c.Sent > 0) {
            ASSERT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
            EXPECT_DOUBLE_EQ(kit.Deals()[0].Request.Volume, c.Sent);
        } else {
            EXPECT_TRUE(kit.Deals().empty()) << "OrderCheck and the expert's own checks come first";
            EXPECT_EQ(kit.AlertsWith(c.Alert), 1) << kit.AlertsText();
        }
    }
}

TEST(Expert5Stops, ABadFieldOrAStopInsideTheStopLevelMeansNoDeal) {
    const double nan = std::nan("");
    struct TCase {
        int Slot;
        double Value;
        const char* Alert;
    } cases[] = {
        {0, 0, "the Lots field reads 0.00; type a lot size above zero"},
        {0, nan, "the Lots field reads not a finite number"},
        {1, -5, "the S/L field reads -5.00"},
        {2, std::numeric_limits<double>::infinity(), "the T/P field reads not a finite number"},
        {3, -1, "the T/S field reads -1.00"},
        {1, 4, "stop-loss closer than the broker's minimum of 5.0 pips"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Alert);
        TExpertKit5 kit;
        kit.Rules("EURUSD", [](TSymbolRules& r) { r.StopLevel = 50; });
        auto& expert = kit.Attach("EURUSD");
        kit.Type(expert, c.Slot, c.Value);
        kit.Click(expert, Sell);
        EXPECT_TRUE(kit.Deals().empty());
        EXPECT_EQ(kit.AlertsWith(c.Alert), 1) << kit.AlertsText();
    }
}

// --- Trailing ---------------------------------------------------------------------------------

TEST(Expert5Trailing, MovesTheStopByAtLeastAStepOnlyTowardsProfitOutsideTheFreezeLevel) {
    TExpertKit5 kit;
    kit.Rules("EURUSD", [](TSymbolRules& r) { r.FreezeLevel = 20; });
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    kit.Server.ClearRequests();
    kit.Walk({&expert}, 1.08450, 1.08700);
    const std::size_t moves = kit.Sltps().size();
    EXPECT_GE(moves, 10u);
    EXPECT_LE(moves, 16u) << "by at least a pip";
    const double stop = kit.Server.Positions()[0].StopLoss;
    EXPECT_NEAR(stop, 1.08600, 1.1e-4);
    kit.Walk({&expert}, 1.08700, 1.08650);
    EXPECT_EQ(kit.Sltps().size(), moves) << "never back";
    EXPECT_DOUBLE_EQ(kit.Server.Positions()[0].StopLoss, stop);
}

// --- Restarts and accounts --------------------------------------------------------------------

TEST(Expert5Restart, TakesBackItsPositionsWithTheirTrailingStopsAndNewClicksStayApart) {
    TExpertKit5 kit;
    auto& first = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 0, 12));
    kit.Click(first, Buy);
    auto& second = kit.Restart(first, TExpertKit5::Inputs(0.2, 30, 0, 0));
    kit.Host.GlobalVariables.Delete("Pellith " + std::to_string(second.Chart().Id) + " last click");
    kit.Click(second, Buy);
    ASSERT_EQ(kit.Deals().size(), 2u);
    EXPECT_NE(kit.Deals()[0].Request.Comment, kit.Deals()[1].Request.Comment)
        << "the history keeps the click numbers apart";
    kit.Server.ClearRequests();
    kit.Walk({&second}, 1.08450, 1.08650);
    ASSERT_FALSE(kit.Sltps().empty());
    for (const TServerRequest5& r : kit.Sltps())
        EXPECT_EQ(r.Request.Position, kit.Server.Positions()[0].Ticket)
            << "the first trails by its 12 pips; the second has none";
    EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, 1.08650 - 0.0012, 1.1e-4);
}

TEST(Expert5Account, ForgetsThePreviousAccountsPositionsAndReadsTheNewAccountsMode) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 0, 10));
    kit.Click(expert, Buy);
    kit.ChangeAccount(9, false);
    kit.Server.ClearRequests();
    kit.Click(expert, Buy);
    kit.Click(expert, Buy);
    EXPECT_EQ(kit.AlertsWith("added to position #"), 1) << kit.AlertsText();
    EXPECT_EQ(kit.Deals()[1].Request.StopLoss, 0) << "netting: no stops with a deal that adds";
    kit.Walk({&expert}, 1.08450, 1.08600);
    for (const TServerRequest5& r : kit.Sltps())
        EXPECT_NE(r.Request.Position, 1000) << "the other account's position";
}

// --- Chart changes ----------------------------------------------------------------------------

TEST(Expert5ChartChange, ATimeframeKeepsThePanelASymbolGetsItsOwnWithWhatWasTyped) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Type(expert, 0, 0.37);
    kit.Type(expert, 1, 12);
    expert.Tick();
    kit.Panel.Calls.clear();
    expert.ChangeChart("EURUSD", 60);
    EXPECT_TRUE(kit.Panel.Calls.empty());
    const std::string chart = std::to_string(expert.Chart().WindowHandle);
    expert.ChangeChart("USDJPY", 60);
    EXPECT_EQ(kit.Panel.Calls, (std::vector<std::string>{"delete " + chart, "create " + chart}));
    EXPECT_EQ(kit.PanelOf(expert).Symbol, "USDJPY");
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
    EXPECT_EQ(kit.Deals()[0].Request.Symbol, "USDJPY");
    EXPECT_DOUBLE_EQ(kit.Deals()[0].Request.Volume, 0.37);
    // 12 pips on a 3-digit quote.
    EXPECT_NEAR(kit.Deals()[0].Request.StopLoss, 151.250 - 0.120, 1e-9);
}

TEST(Expert5ChartChange, NewInputsGiveAPanelWithTheNewInputsAndOtherReasonsRemoveIt) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Type(expert, 0, 0.37);
    expert.ChangeInputs(TExpertKit5::Inputs(0.5, 20, 40, 5));
    EXPECT_EQ(kit.PanelOf(expert).Values, (std::array<double, 4>{0.5, 20, 40, 5}));
    expert.Deinit(mql::REASON_TEMPLATE);
    EXPECT_TRUE(kit.Panel.Panels.empty());
}

// --- Messages ---------------------------------------------------------------------------------

TEST(Expert5Messages, SayWhyInWordsWhenNothingCanBeSent) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD");
    expert.Settings().AutoTrading = false;
    kit.Click(expert, Buy);
    expert.Settings().AutoTrading = true;
    expert.Settings().Connected = false;
    kit.Click(expert, Sell);
    EXPECT_TRUE(kit.Deals().empty());
    EXPECT_EQ(kit.AlertsWith("buy not sent: Algo Trading is off in the terminal"), 1);
    EXPECT_EQ(kit.AlertsWith("sell not sent: the terminal is not connected"), 1);

    auto& off = kit.Attach("GBPUSD", TInputs(), false);
    EXPECT_FALSE(off.Running());
    EXPECT_EQ(kit.AlertsWith("Pellith GBPUSD: DLL imports are off"), 1) << kit.AlertsText();
}

TEST(Expert5Messages, NeverABareCodeForAnAnswerOfTheReference) {
    for (unsigned code = 10004; code <= 10034; ++code) {
        if (code == rcDone || code == rcDonePartial || code == 10005)
            continue;
        SCOPED_TRACE(code);
        TExpertKit5 kit;
        auto& expert = kit.Attach("EURUSD");
        kit.Server.InjectDealFaults(std::vector<TFault>(6, Answer(code)));
        kit.Click(expert, Buy);
        ASSERT_FALSE(kit.Host.Alerts.empty());
        EXPECT_FALSE(Contains(kit.AlertsText(), "code " + std::to_string(code)))
            << kit.AlertsText();
    }
}

} // namespace
