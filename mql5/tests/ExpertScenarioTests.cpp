// The real PellithPanel.mq5, translated, against the simulated MT5 trade server: what the server
// received and what the trader was told, grouped by behaviour.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mql/tests/GuardCases.h"
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
        {"requotes without end", std::vector<TFault>(20, Answer(rcRequote)), 0, 5,
         "not sent: requote"},
        {"timeout, dealt and listed at once", {Answer(rcTimeout, true)}, 1, 1, ""},
        {"a requote that dealt all the same", {Answer(rcRequote, true)}, 1, 1, ""},
        {"timeout", {Answer(rcTimeout)}, 0, 1, "not confirmed yet: the trade server did not"},
        {"processing error", {Answer(rcError)}, 0, 1, "not confirmed yet: the server could not"},
        {"placed, not filled", {Answer(rcPlaced)}, 0, 1, "not confirmed yet: the server placed"},
        {"an unknown code", {Answer(10099)}, 0, 1, "answered with code 10099"},
        // The request may have left before the link dropped: looked for, never sent again.
        {"no connection",
         {Answer(rcConnection)},
         0,
         1,
         "not confirmed yet: there is no connection"},
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

// A deal that adds to or reverses a netting position replaces the position's stops, zeros
// deleting them; one that reduces it leaves them. So the click carries, adding, the position's
// own stops (the typed ones only where it has none); reversing, the click's; reducing, none.
TEST(Expert5Netting, AClickNeverRemovesAStopTheTraderHas) {
    struct TCase {
        const char* Name;
        double Lots, StopLoss, TakeProfit; // the trader's position beforehand, by hand
        int Click;
        double ClickLots;
        double SentStopLoss, SentTakeProfit; // -1: not zero, measured from the price
        double StopLossAfter, TakeProfitAfter;
    } cases[] = {
        {"adding keeps the trader's stops", 0.2, 1.08200, 1.09000, Buy, 0.1, 1.08200, 1.09000,
         1.08200, 1.09000},
        {"adding to a position without stops gives it the typed ones", 0.2, 0, 0, Buy, 0.1, -1, -1,
         1.08162, 1.09062},
        {"adding keeps a stop and fills in the missing target", 0.2, 1.08200, 0, Buy, 0.1, 1.08200,
         -1, 1.08200, 1.09062},
        {"reducing sends none and leaves them", 0.5, 1.08200, 1.09000, Sell, 0.1, 0, 0, 1.08200,
         1.09000},
        {"reversing carries the click's", 0.1, 1.08200, 1.09000, Sell, 0.3, -1, -1, 1.08750,
         1.07850},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit5 kit(false);
        TTradeRequest5 manual;
        manual.Symbol = "EURUSD";
        manual.Type = otBuy;
        manual.Volume = c.Lots;
        manual.Price = 1.08462;
        manual.StopLoss = c.StopLoss;
        manual.TakeProfit = c.TakeProfit;
        ASSERT_EQ(kit.Server.Send(manual).Retcode, rcDone);
        kit.Server.ClearRequests();
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(c.ClickLots, 30, 60));
        kit.Click(expert, c.Click);
        ASSERT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
        const TTradeRequest5 sent = kit.Deals()[0].Request;
        for (auto [expected, actual] : {std::pair{c.SentStopLoss, sent.StopLoss},
                                        std::pair{c.SentTakeProfit, sent.TakeProfit}}) {
            if (expected < 0) {
                EXPECT_NE(actual, 0);
            } else {
                EXPECT_NEAR(actual, expected, 1e-9);
            }
        }
        ASSERT_EQ(kit.Server.Positions().size(), 1u);
        EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, c.StopLossAfter, 1e-9);
        EXPECT_NEAR(kit.Server.Positions()[0].TakeProfit, c.TakeProfitAfter, 1e-9);
    }
}

TEST(Expert5Netting, AddingToItsOwnTrailedPositionNeverLoosensTheStop) {
    TExpertKit5 kit(false);
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 10));
    kit.Click(expert, Buy);
    kit.Walk({&expert}, 1.08450, 1.08700);
    const double trailed = kit.Server.Positions()[0].StopLoss;
    ASSERT_GT(trailed, 1.08550);
    kit.Click(expert, Buy);
    ASSERT_EQ(kit.Deals().size(), 2u);
    EXPECT_NEAR(kit.Deals()[1].Request.StopLoss, trailed, 1e-9);
    EXPECT_NEAR(kit.Server.Positions()[0].Volume, 0.2, 1e-9);
    EXPECT_GE(kit.Server.Positions()[0].StopLoss, trailed - 1e-9);
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
    EXPECT_DOUBLE_EQ(kit.Deals()[0].Request.StopLoss, 1.08200) << "a netting deal replaces them";
    EXPECT_EQ(kit.AlertsWith("added to position #1000, now buy 0.60"), 1) << kit.AlertsText();
    EXPECT_EQ(kit.AlertsWith("a position this expert did not open: it is not trailed"), 1);
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

TEST(Expert5Lots, AreRoundedDownToTheStepAndNeverAboveTheMaximumTheLimitOrTheCap) {
    struct TCase {
        double Typed, Step, Min, Max, Limit, Cap;
        double Sent; // 0: nothing sent
        const char* Alert;
    } cases[] = {
        {0.129, 0.01, 0.01, 100, 0, 0, 0.12, ""},
        {0.7, 0.5, 0.5, 100, 0, 0, 0.5, ""},
        {0.3, 0.5, 0.5, 100, 0, 0, 0, "below the broker's minimum of 0.5"},
        {101, 0.01, 0.01, 100, 0, 0, 0, "above the broker's maximum of 100.00"},
        {0.6, 0.01, 0.01, 100, 0.5, 0, 0, "would pass the broker's limit of 0.50 lots"},
        {20, 0.01, 0.01, 100, 0, 0, 0,
         "not sent: not enough money: the deal needs 21692.40 of margin, 10000.00 is free"},
        {10, 0.01, 0.01, 100, 0, 5, 0,
         "buy not sent: lot size 10.00 is above the cap of 5.00 lots (InpMaxLots)"},
        {5.009, 0.01, 0.01, 100, 0, 5, 5, ""},
        {5.01, 0.01, 0.01, 100, 0, 5, 0, "lot size 5.01 is above the cap of 5.00 lots"},
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
        TExpertKit5::TInputs inputs = TExpertKit5::Inputs(c.Typed, 30, 60);
        inputs.InpMaxLots = c.Cap;
        auto& expert = kit.Attach("EURUSD", inputs);
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
        // The panel writes NaN for a field whose text is not a number.
        {0, nan, "sell not sent: Lots is not a number"},
        {1, nan, "sell not sent: S/L is not a number"},
        {2, nan, "sell not sent: T/P is not a number"},
        {3, nan, "sell not sent: T/S is not a number"},
        {2, std::numeric_limits<double>::infinity(), "sell not sent: T/P is not a number"},
        {1, -5, "the S/L field reads -5.00"},
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

// --- Guards: lots from risk, the spread, break-even, the inputs -------------------------------

TEST(Expert5Risk, SizesLotsFromTheEquityAndTheStopAndTheJournalSaysWhatIsAtRisk) {
    guard_cases::ClickUnderEachRiskCase<TExpertKit5>();
}

// On a netting account a click against the position first reduces or closes it: risk sizes
// only what it adds beyond, and needs a stop-loss only then.
TEST(Expert5Risk, OnNettingSizesOnlyWhatAClickAddsBeyondThePositionItReduces) {
    struct TCase {
        double Typed, StopLoss;
        double Dealt;      // 0: refused
        const char* Alert; // part of the one Alert, "" for none
    } cases[] = {
        {1, 25, 1, "it closed position #"},
        {0.5, 0, 0.5, "reduced position #"},
        // The buy's open loss of 12 dollars leaves 9988 of equity: 99.88 at 25 pips is 0.3995
        // lots beyond the 1.0 that close the buy.
        {2, 25, 1.39, "reversed position #"},
        {2, 0, 0, "lots from risk (InpRiskPercent) need a stop-loss"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Typed) + " lots, S/L " + std::to_string(c.StopLoss));
        TExpertKit5 kit(false);
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(1, 30, 0));
        kit.Click(expert, Buy);
        TInputs inputs = TExpertKit5::Inputs(c.Typed, c.StopLoss, 0);
        inputs.InpRiskPercent = 1;
        expert.ChangeInputs(inputs);
        kit.Server.ClearRequests();
        kit.Click(expert, Sell);
        if (c.Dealt > 0) {
            ASSERT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
            EXPECT_DOUBLE_EQ(kit.Deals()[0].Request.Volume, c.Dealt);
        } else {
            EXPECT_TRUE(kit.Deals().empty());
        }
        EXPECT_TRUE(kit.Host.AlertedOnlyWith(c.Alert, "Pellith EURUSD: sell "));
    }
}

TEST(Expert5Spread, RefusesAClickWhileTheSpreadIsWiderThanAllowed) {
    guard_cases::ClickUnderEachSpreadCase<TExpertKit5>();
}

TEST(Expert5BreakEven, MovesTheStopOnceWithinTheLevelsBesideTrailingAndNeverBackwards) {
    guard_cases::WalkEachBreakEvenCase<TExpertKit5>();
}

// A refused break-even is told once and asked again less and less often, as trailing is.
TEST(Expert5BreakEven, ARefusalIsToldOnceAndAskedAgainLessOften) {
    TExpertKit5 kit;
    TInputs inputs = TExpertKit5::Inputs(0.1, 30, 0);
    inputs.InpBreakEvenPips = 10;
    auto& expert = kit.Attach("EURUSD", inputs);
    kit.Click(expert, Buy);
    kit.Server.ClearRequests();
    kit.Server.InjectSltpFaults(std::vector<TFault>(100, Answer(rcInvalidStops)));
    kit.Walk({&expert}, 1.08450, 1.08700); // 250 ticks, 25 s
    EXPECT_EQ(kit.JournalWith("break-even stop of #"), 1);
    EXPECT_EQ(kit.JournalWith("not moved: the broker refused the stop-loss or take-profit"), 1);
    EXPECT_LE(kit.Sltps().size(), 6u) << "1, 2, 4, 8 s apart";
    EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
}

// Each position keeps the break-even of its click through a restart with other inputs and
// through a change of account and back.
TEST(Expert5BreakEven, EachPositionKeepsItsBreakEvenThroughARestartAndAnAccountChange) {
    for (bool restart : {true, false}) {
        SCOPED_TRACE(restart ? "restart" : "account change");
        TExpertKit5 kit;
        TInputs inputs = TExpertKit5::Inputs(0.1, 30, 0);
        inputs.InpBreakEvenPips = 10;
        inputs.InpBreakEvenLockPips = 2;
        auto* expert = &kit.Attach("EURUSD", inputs);
        kit.Click(*expert, Buy);
        if (restart) {
            expert = &kit.Restart(*expert, TExpertKit5::Inputs(0.1, 30, 0));
        } else {
            kit.ChangeAccount(2, true);
            kit.ChangeAccount(1, true);
        }
        kit.Walk({expert}, 1.08450, 1.08600);
        EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, 1.08482, 1e-9);
        EXPECT_EQ(kit.JournalWith(" at break-even: stop-loss 1.08482"), 1);
    }
}

TEST(Expert5Inputs, ABadGuardInputIsRefusedAtTheStartByNameAndTheExpertDoesNotTrade) {
    guard_cases::AttachWithEachBadInput<TExpertKit5>();
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
    EXPECT_NEAR(kit.Deals()[1].Request.StopLoss, kit.Deals()[0].Request.StopLoss, 1e-9)
        << "netting: a deal that adds carries the position's stops";
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
    for (unsigned code = 10004; code <= 10046; ++code) {
        if (code == rcDone || code == rcDonePartial || code == 10005 || code == 10037)
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

// --- Deals followed by their order -------------------------------------------------------------

// Answered done, a deal is the order's: found by its ticket when the terminal lists it, however
// late, whatever the broker made of the comment, and its parts are one fill.
TEST(Expert5Fill, ADoneDealIsFollowedByItsOrderAndGetsItsStopsAndTrailing) {
    struct TCase {
        const char* Name;
        long long ListAfterMs;
        double SplitLots;
        std::size_t CommentKeep; // 0: the broker keeps the comment
        const char* Told;        // part of a message to the trader
    } cases[] = {
        {"listed 2 s after the answer", 2000, 0, 0, "opened position #"},
        {"listed late, its comment rewritten", 2000, 0, 12, "opened position #"},
        {"filled in two deals", 0, 0.06, 0, "buy 0.10 done at 1.08462; opened position #"},
        {"two deals listed late", 1500, 0.04, 0, "opened position #"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit5 kit;
        kit.Rules("EURUSD", [](TSymbolRules& r) {
            r.Execution = TExecution::Exchange;
            r.FillingModes = 0;
        });
        if (c.CommentKeep)
            kit.Server.SetCommentEnd(c.CommentKeep, "#");
        TFault fault;
        fault.ListAfterMs = c.ListAfterMs;
        fault.SplitLots = c.SplitLots;
        kit.Server.InjectDealFaults({fault});
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 10));
        kit.Click(expert, Buy);
        kit.Wait(expert, 3000);
        EXPECT_EQ(kit.Deals().size(), 1u);
        EXPECT_EQ(kit.AlertsWith(c.Told) + kit.JournalWith(c.Told), 1) << kit.AlertsText();
        EXPECT_EQ(kit.AlertsWith("does not list"), 0) << kit.AlertsText();
        EXPECT_EQ(kit.AlertsWith("in part"), 0) << kit.AlertsText();
        EXPECT_EQ(kit.AlertsWith("did not open"), 0) << kit.AlertsText();
        ASSERT_EQ(kit.Server.Positions().size(), 1u);
        const TPosition5 position = kit.Server.Positions()[0];
        EXPECT_NEAR(position.StopLoss, position.PriceOpen - 0.0030, 1e-9);
        EXPECT_NEAR(position.TakeProfit, position.PriceOpen + 0.0060, 1e-9);
        kit.Walk({&expert}, 1.08450, 1.08650);
        EXPECT_GT(kit.Server.Positions()[0].StopLoss, position.StopLoss) << "trailed";
    }
}

TEST(Expert5Fill, ADoneDealNeverListedIsLookedForAndToldNeverSentAgain) {
    TExpertKit5 kit;
    TFault fault;
    fault.ListAfterMs = TFault::Never;
    kit.Server.InjectDealFaults({fault});
    auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60, 10));
    kit.Click(expert, Buy);
    kit.Wait(expert, 61000);
    EXPECT_EQ(kit.Deals().size(), 1u);
    EXPECT_EQ(kit.AlertsWith("buy 0.10 was done as order #1000 but the terminal has not listed "
                             "its deal within 60 s"),
              1)
        << kit.AlertsText();
}

// --- Slippage ---------------------------------------------------------------------------------

// Under market and exchange execution the broker fills at market: the expert can only tell a
// fill beyond the slippage allowed.
TEST(Expert5Slippage, AFillBeyondTheAllowanceIsToldUnderMarketAndExchangeExecution) {
    struct TCase {
        TExecution Execution;
        double SlippagePoints;
        const char* Told; // "": nothing told
    } cases[] = {
        {TExecution::Market, 80,
         "buy 0.10 filled at 1.08542, 8.0 pips worse than the 1.08462 "
         "clicked, beyond the 3.0 pips of slippage allowed"},
        {TExecution::Exchange, 45, "4.5 pips worse than the 1.08462 clicked"},
        {TExecution::Market, 30, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.SlippagePoints);
        TExpertKit5 kit;
        kit.Rules("EURUSD", [&](TSymbolRules& r) {
            r.Execution = c.Execution;
            r.FillingModes = sfIoc;
        });
        kit.Server.SetMarketSlippage(c.SlippagePoints);
        auto& expert = kit.Attach("EURUSD");
        kit.Click(expert, Buy);
        ASSERT_EQ(kit.Server.Positions().size(), 1u);
        if (*c.Told) {
            EXPECT_EQ(kit.AlertsWith(c.Told), 1) << kit.AlertsText();
        } else {
            EXPECT_TRUE(kit.Host.Alerts.empty()) << kit.AlertsText();
        }
    }
}

// --- Refusals and unclear answers ---------------------------------------------------------------

TEST(Expert5Refusal, IsToldInWordsAndTheNextClickIsSentAtOnce) {
    struct TCase {
        unsigned Retcode;
        const char* Told;
    } cases[] = {
        {rcInvalidOrder, "buy 0.10 not sent: the broker does not take this kind of order"},
        {rcLimitPositions, "buy 0.10 not sent: the broker's limit of open positions is reached"},
        {rcLongOnly, "buy 0.10 not sent: the broker allows only buying on this symbol"},
        {rcShortOnly, "buy 0.10 not sent: the broker allows only selling on this symbol"},
        {rcCloseOnly, "buy 0.10 not sent: the broker allows only closing positions on this symbol"},
        {rcHedgeProhibited, "buy 0.10 not sent: the broker prohibits opposite positions"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Retcode);
        TExpertKit5 kit;
        auto& expert = kit.Attach("EURUSD");
        kit.Server.InjectDealFaults({Answer(c.Retcode)});
        kit.Click(expert, Buy);
        EXPECT_EQ(kit.AlertsWith(c.Told), 1) << kit.AlertsText();
        kit.Click(expert, Buy);
        EXPECT_EQ(kit.Deals().size(), 2u) << kit.AlertsText();
        EXPECT_EQ(kit.Server.Positions().size(), 1u);
    }
}

// The request may have left before the link dropped; the broker may have rewritten the end of the
// comment the deal is found by.
TEST(Expert5UnclearAnswer, NoConnectionIsLookedForAndADealDoneBeforeTheLinkDroppedIsTakenOver) {
    for (const char* tail : {"", "7"}) {
        SCOPED_TRACE(tail);
        TExpertKit5 kit;
        if (*tail)
            kit.Server.SetCommentEnd(28, tail);
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 60));
        kit.Server.InjectDealFaults({Answer(rcConnection, true, 2000)});
        kit.Click(expert, Buy);
        kit.Wait(expert, 3000);
        EXPECT_EQ(kit.Deals().size(), 1u);
        ASSERT_EQ(kit.Server.Positions().size(), 1u);
        EXPECT_EQ(kit.AlertsWith("after all: the server confirmed it late"), 1) << kit.AlertsText();
        EXPECT_NE(kit.Server.Positions()[0].StopLoss, 0);
    }
}

// --- Trailing against a broker that refuses ------------------------------------------------------

// A refused modify waits 1, 2, 4 ... 30 s before the next for that position; trade disabled,
// market closed and Algo Trading off stop trailing until they change. One journal line a cause.
TEST(Expert5Trailing, BacksOffWhenRefusedAndStopsWhileTradingCannotBeDone) {
    struct TCase {
        const char* Name;
        unsigned Retcode;     // the answer to the modifies of the first 60 s; 0: the rules'
        bool CloseMarket;     // the market closes after the click
        bool AutoTradingOff;  // the trader turns Algo Trading off after the click
        std::size_t Requests; // modifies in those 60 s: 1, 2, 4, 8, 16 s apart; or 30 s apart
        const char* Journal;
    } cases[] = {
        {"invalid stops", rcInvalidStops, false, false, 6, "not moved: the broker refused"},
        {"too many requests", rcTooManyRequests, false, false, 6, "not moved: too many requests"},
        {"market closed", 0, true, false, 2, "trailing stops: the market is closed"},
        {"trade disabled", rcTradeDisabled, false, false, 2, "trailing stops: trading is disabled"},
        {"Algo Trading off", 0, false, true, 0, "trailing stops: Algo Trading is off"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TExpertKit5 kit;
        auto& expert = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 0, 10));
        kit.Click(expert, Buy);
        kit.Server.ClearRequests();
        if (c.Retcode)
            kit.Server.InjectSltpFaults(std::vector<TFault>(c.Requests, Answer(c.Retcode)));
        if (c.CloseMarket)
            kit.Rules("EURUSD", [](TSymbolRules& r) { r.MarketOpen = false; });
        expert.Settings().AutoTrading = !c.AutoTradingOff;
        kit.Walk({&expert}, 1.08450, 1.09050); // 60 s
        EXPECT_EQ(kit.Sltps().size(), c.Requests);
        EXPECT_EQ(kit.JournalWith(c.Journal), 1) << kit.Host.Journal.back();
        // Trading again (the faults are used up): the stop follows within the longest pause.
        kit.Rules("EURUSD", [](TSymbolRules& r) { r.MarketOpen = true; });
        expert.Settings().AutoTrading = true;
        kit.Walk({&expert}, 1.09050, 1.09450); // 40 s
        EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, 1.09350, 1.1e-4) << c.Name;
    }
}

// --- Restart ----------------------------------------------------------------------------------

TEST(Expert5Restart, PositionsListedOnlyOnceTheTerminalSynchronisedAreTakenBackAndTrailed) {
    TExpertKit5 kit;
    auto& first = kit.Attach("EURUSD", TExpertKit5::Inputs(0.1, 30, 0, 12));
    kit.Click(first, Buy);
    kit.Server.Synchronise(5000 + 3000); // 3 s after the expert starts again
    auto& second = kit.Restart(first, TExpertKit5::Inputs(0.2, 30, 0, 0));
    kit.Wait(second, 1000);
    kit.Server.ClearRequests();
    kit.Walk({&second}, 1.08450, 1.08650);
    ASSERT_FALSE(kit.Sltps().empty());
    EXPECT_NEAR(kit.Server.Positions()[0].StopLoss, 1.08650 - 0.0012, 1.1e-4);
}

// --- What the account and the symbol allow ---------------------------------------------------

TEST(Expert5Messages, AClickTheAccountOrTheSymbolDoesNotAllowIsNotSent) {
    struct TCase {
        bool AccountTrades, AccountExperts;
        bool SymbolTrades;
        const char* Told;
    } cases[] = {
        {false, true, true, "buy not sent: the account may not trade"},
        {true, false, true, "buy not sent: the broker does not allow experts to trade on this"},
        {true, true, false, "buy not sent: trading is disabled for this symbol"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Told);
        TExpertKit5 kit;
        kit.Server.SetAccountTrading(c.AccountTrades, c.AccountExperts);
        kit.Rules("EURUSD", [&](TSymbolRules& r) { r.TradeAllowed = c.SymbolTrades; });
        auto& expert = kit.Attach("EURUSD");
        kit.Click(expert, Buy);
        EXPECT_TRUE(kit.Deals().empty());
        EXPECT_EQ(kit.AlertsWith(c.Told), 1) << kit.AlertsText();
    }
}

} // namespace
