// The MT5 server's rules as the MQL5 reference and the terminal's help state them: fill policies
// by execution mode, volumes, stops, requotes, the volume limit and the margin; what a deal does
// to a netting position and to a hedging account; position stops, frozen ones included; and the
// faults: a partial fill, and an unclear answer whose deal is listed later.

#include <gtest/gtest.h>

#include "tradeserver/TradeServer5.h"
#include "tradeserver/tests/ServerBook.h"

namespace {

struct TServer5Book : TServerBookOf<TTradeServer5> {
    void SetExecution(TExecution AExecution, int AFilling) {
        ChangeRules([&](TSymbolRules& ARules) {
            ARules.Execution = AExecution;
            ARules.FillingModes = AFilling;
        });
    }
    static TTradeRequest5 Deal(int AType, double AVolume, double ASl = 0, double ATp = 0) {
        TTradeRequest5 request;
        request.Symbol = "EURUSD";
        request.Type = AType;
        request.Volume = AVolume;
        request.Price = AType == otBuy ? 1.08462 : 1.08450;
        request.StopLoss = ASl;
        request.TakeProfit = ATp;
        request.Deviation = 30;
        request.Magic = 7;
        return request;
    }
};

struct TServer5Fixture : testing::Test, TServer5Book {};

TEST_F(TServer5Fixture, AnswersADealByTheRulesOfTheReference) {
    const auto with = [](TTradeRequest5 ARequest, auto AChange) {
        AChange(ARequest);
        return ARequest;
    };
    struct TCase {
        const char* Name;
        TExecution Execution;
        int FillingModes;
        TTradeRequest5 Request;
        unsigned Retcode;
    } cases[] = {
        {"instant, fill or kill", TExecution::Instant, sfFok | sfIoc, Deal(otBuy, 0.1), rcDone},
        {"instant takes no IOC whatever the symbol says", TExecution::Instant, sfFok | sfIoc,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Filling = fpIoc; }), rcInvalidFill},
        {"request, fill or kill", TExecution::Request, 0, Deal(otBuy, 0.1), rcDone},
        {"market without the FOK flag", TExecution::Market, sfIoc, Deal(otBuy, 0.1), rcInvalidFill},
        {"market, IOC flagged", TExecution::Market, sfIoc,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Filling = fpIoc; }), rcDone},
        {"market takes no Return", TExecution::Market, sfFok | sfIoc,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Filling = fpReturn; }), rcInvalidFill},
        {"exchange takes Return", TExecution::Exchange, 0,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Filling = fpReturn; }), rcDone},
        {"market ignores the price", TExecution::Market, sfFok,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Price = 0; }), rcDone},
        {"instant beyond the deviation", TExecution::Instant, sfFok,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Price = 1.08500; }), rcRequote},
        {"instant without a price", TExecution::Instant, sfFok,
         with(Deal(otBuy, 0.1), [](auto& r) { r.Price = 0; }), rcInvalidPrice},
        {"lots off the step", TExecution::Instant, sfFok, Deal(otBuy, 0.015), rcInvalidVolume},
        {"lots above the maximum", TExecution::Instant, sfFok, Deal(otBuy, 101), rcInvalidVolume},
        {"stop 5 pips under the bid", TExecution::Instant, sfFok, Deal(otBuy, 0.1, 1.08400),
         rcDone},
        {"stop 4.9 pips under the bid", TExecution::Instant, sfFok, Deal(otBuy, 0.1, 1.08401),
         rcInvalidStops},
        {"market execution checks stops too", TExecution::Market, sfFok, Deal(otSell, 0.1, 1.08500),
         rcInvalidStops},
        {"a pending order type", TExecution::Instant, sfFok, Deal(2, 0.1), rcInvalid},
        {"more than the account can carry", TExecution::Instant, sfFok, Deal(otBuy, 10), rcNoMoney},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TServer5Book book;
        book.SetExecution(c.Execution, c.FillingModes);
        const TTradeResult5 result = book.Server.Send(c.Request);
        EXPECT_EQ(result.Retcode, c.Retcode);
        EXPECT_EQ(book.Server.Positions().size(), c.Retcode == rcDone ? 1u : 0u);
        EXPECT_EQ(result.Deal != 0, c.Retcode == rcDone);
    }
}

TEST_F(TServer5Fixture, RefusesMarketAndTradeStateAndTheVolumeLimit) {
    TSymbolRules rules = *Server.Rules("EURUSD");
    rules.VolumeLimit = 0.3;
    Server.SetRules(rules);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.2)).Retcode, rcDone);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.2)).Retcode, rcLimitVolume);
    EXPECT_EQ(Server.Send(Deal(otSell, 0.3)).Retcode, rcDone) << "the limit counts per side";
    rules.MarketOpen = false;
    Server.SetRules(rules);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.1)).Retcode, rcMarketClosed);
    rules.TradeAllowed = false;
    Server.SetRules(rules);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.1)).Retcode, rcTradeDisabled);
}

TEST(TServer5Netting, ADealOpensAddsReducesClosesOrReversesTheSymbolsOnePosition) {
    TServer5Book book;
    book.Server.Login(2, false);
    struct TStep {
        const char* Name;
        TTradeRequest5 Request;
        int Entry;
        int Type;      // of the position after the deal
        double Volume; // 0: none left
    } steps[] = {
        {"open", TServer5Book::Deal(otBuy, 0.2), deIn, otBuy, 0.2},
        {"add", TServer5Book::Deal(otBuy, 0.1), deIn, otBuy, 0.3},
        {"reduce", TServer5Book::Deal(otSell, 0.1), deOut, otBuy, 0.2},
        {"reverse", TServer5Book::Deal(otSell, 0.5, 1.08600), deInOut, otSell, 0.3},
        {"close", TServer5Book::Deal(otBuy, 0.3), deOut, otBuy, 0},
    };
    long long identifier = 0;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        const TTradeResult5 result = book.Server.Send(step.Request);
        ASSERT_EQ(result.Retcode, rcDone);
        const TDeal5 deal = book.Server.Deals().back();
        EXPECT_EQ(deal.Entry, step.Entry);
        EXPECT_EQ(deal.Ticket, result.Deal);
        const auto positions = book.Server.Positions();
        if (step.Volume == 0) {
            EXPECT_TRUE(positions.empty());
            EXPECT_EQ(deal.PositionId, identifier);
            continue;
        }
        ASSERT_EQ(positions.size(), 1u);
        EXPECT_EQ(positions[0].Type, step.Type);
        EXPECT_NEAR(positions[0].Volume, step.Volume, 1e-9);
        if (identifier == 0)
            identifier = positions[0].Identifier;
        EXPECT_EQ(positions[0].Identifier, identifier) << "the identifier stays";
        EXPECT_EQ(deal.PositionId, identifier);
    }
}

TEST(TServer5Netting, AReversedPositionCarriesTheReversingOrdersTicketAndStops) {
    TServer5Book book;
    book.Server.Login(2, false);
    book.Server.Send(TServer5Book::Deal(otBuy, 0.1, 1.08300));
    const TTradeResult5 reverse = book.Server.Send(TServer5Book::Deal(otSell, 0.3, 1.08600));
    ASSERT_EQ(reverse.Retcode, rcDone);
    const auto positions = book.Server.Positions();
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].Ticket, reverse.Order);
    EXPECT_NE(positions[0].Identifier, reverse.Order);
    EXPECT_DOUBLE_EQ(positions[0].StopLoss, 1.08600);
}

// The terminal's netting rule: adding or reversing brings the order's stops, zeros deleting the
// position's; reducing leaves them.
TEST(TServer5Netting, AddingReplacesThePositionsStopsAndReducingLeavesThem) {
    TServer5Book book;
    book.Server.Login(2, false);
    book.Server.Send(TServer5Book::Deal(otBuy, 0.3, 1.08300, 1.09000));
    ASSERT_EQ(book.Server.Send(TServer5Book::Deal(otSell, 0.1)).Retcode, rcDone);
    EXPECT_DOUBLE_EQ(book.Server.Positions()[0].StopLoss, 1.08300) << "reduced";
    EXPECT_DOUBLE_EQ(book.Server.Positions()[0].TakeProfit, 1.09000);
    ASSERT_EQ(book.Server.Send(TServer5Book::Deal(otBuy, 0.1, 1.08350)).Retcode, rcDone);
    EXPECT_DOUBLE_EQ(book.Server.Positions()[0].StopLoss, 1.08350) << "added";
    EXPECT_EQ(book.Server.Positions()[0].TakeProfit, 0) << "a zero deletes";
    ASSERT_EQ(book.Server.Send(TServer5Book::Deal(otBuy, 0.1)).Retcode, rcDone);
    EXPECT_EQ(book.Server.Positions()[0].StopLoss, 0);
}

TEST_F(TServer5Fixture, AHedgingAccountOpensAPositionPerDeal) {
    EXPECT_TRUE(Server.Hedging());
    const TTradeResult5 buy = Server.Send(Deal(otBuy, 0.1));
    const TTradeResult5 sell = Server.Send(Deal(otSell, 0.1));
    ASSERT_EQ(Server.Positions().size(), 2u);
    EXPECT_EQ(Server.Positions()[0].Ticket, buy.Order);
    EXPECT_EQ(Server.Positions()[1].Ticket, sell.Order);
    EXPECT_EQ(Server.Deals()[1].Entry, deIn);
}

TEST_F(TServer5Fixture, SetsPositionStopsByTheStopAndFreezeLevels) {
    const long long ticket = Server.Send(Deal(otBuy, 0.1, 1.08300)).Order;
    TTradeRequest5 sltp;
    sltp.Action = taSltp;
    sltp.Symbol = "EURUSD";
    sltp.Position = ticket;
    sltp.StopLoss = 1.08300;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcNoChanges);
    sltp.StopLoss = 1.08420;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcInvalidStops);
    sltp.StopLoss = 1.08400;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcDone);
    EXPECT_DOUBLE_EQ(Server.Positions()[0].StopLoss, 1.08400);
    Server.SetQuote("EURUSD", 1.08415, 1.08427); // the stop 1.5 pips away: frozen
    sltp.StopLoss = 1.08350;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcFrozen);
    sltp.Position = ticket + 100;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcInvalid);
}

TEST_F(TServer5Fixture, ClosesAtTheStopWithAnExitDeal) {
    Server.Send(Deal(otBuy, 0.1, 1.08400));
    const auto closed = Server.SetQuote("EURUSD", 1.08400, 1.08412);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].Entry, deOut);
    EXPECT_EQ(closed[0].Comment, "sl");
    EXPECT_EQ(Server.Orders().back().Ticket, closed[0].Order);
    EXPECT_NEAR(closed[0].Profit, -6.2, 1e-6);
    EXPECT_TRUE(Server.Positions().empty());
    EXPECT_NEAR(Server.Balance(), 10000 - 6.2, 1e-6);
}

TEST_F(TServer5Fixture, APartialFillIsTheFillPolicysAnswer) {
    SetExecution(TExecution::Market, sfFok | sfIoc);
    TFault partial;
    partial.FillLots = 0.25;
    Server.InjectDealFaults({partial, partial});
    TTradeRequest5 ioc = Deal(otBuy, 0.5);
    ioc.Filling = fpIoc;
    const TTradeResult5 result = Server.Send(ioc);
    EXPECT_EQ(result.Retcode, rcDonePartial);
    EXPECT_DOUBLE_EQ(result.Volume, 0.25);
    EXPECT_DOUBLE_EQ(Server.Positions()[0].Volume, 0.25);
    ASSERT_EQ(Server.Orders().size(), 1u);
    EXPECT_EQ(Server.Orders()[0].Ticket, result.Order);
    EXPECT_DOUBLE_EQ(Server.Orders()[0].VolumeInitial, 0.5);
    EXPECT_DOUBLE_EQ(Server.Orders()[0].VolumeFilled, 0.25);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.5)).Retcode, rcReject) << "fill or kill: nothing";
    EXPECT_EQ(Server.Positions().size(), 1u);
}

TEST(TServer5Book, ADealAfterAnUnclearAnswerIsListedOnlyWhenItsTimeComes) {
    TServer5Book book;
    TFault timeout;
    timeout.Error = rcTimeout;
    timeout.PlaceAnyway = true;
    timeout.ListAfterMs = 3000;
    book.Server.InjectDealFaults({timeout, {rcConnection}});
    const TTradeResult5 result = book.Server.Send(TServer5Book::Deal(otBuy, 0.1));
    EXPECT_EQ(result.Retcode, rcTimeout);
    EXPECT_EQ(result.Deal, 0);
    EXPECT_EQ(book.Server.Positions().size(), 1u);
    EXPECT_TRUE(book.Server.ListedPositions().empty());
    EXPECT_TRUE(book.Server.ListedDeals().empty());
    book.Now += 3000;
    EXPECT_EQ(book.Server.ListedPositions().size(), 1u);
    EXPECT_EQ(book.Server.ListedDeals().size(), 1u);
    EXPECT_EQ(book.Server.Send(TServer5Book::Deal(otBuy, 0.1)).Retcode, rcConnection);
    EXPECT_EQ(book.Server.Positions().size(), 1u);
    // Another account lists none of them.
    book.Server.Login(3);
    EXPECT_TRUE(book.Server.ListedPositions().empty());
}

TEST_F(TServer5Fixture, ADoneDealMayComeInPartsAndBeListedLateUnderARewrittenComment) {
    SetExecution(TExecution::Exchange, 0);
    Server.SetCommentEnd(4, "~");
    TFault fault;
    fault.SplitLots = 0.06;
    fault.ListAfterMs = 2000;
    Server.InjectDealFaults({fault});
    TTradeRequest5 request = Deal(otBuy, 0.1);
    request.Filling = fpReturn;
    request.Comment = "Pellith 1/2";
    const TTradeResult5 result = Server.Send(request);
    EXPECT_EQ(result.Retcode, rcDone);
    EXPECT_DOUBLE_EQ(result.Volume, 0.1);
    EXPECT_TRUE(Server.ListedDeals().empty());
    Now += 2000;
    const auto deals = Server.ListedDeals();
    ASSERT_EQ(deals.size(), 2u);
    EXPECT_EQ(deals[0].Order, result.Order);
    EXPECT_EQ(deals[1].Order, result.Order);
    EXPECT_DOUBLE_EQ(deals[0].Volume + deals[1].Volume, 0.1);
    EXPECT_EQ(deals[1].Comment, "Pell~");
    ASSERT_EQ(Server.ListedPositions().size(), 1u);
    EXPECT_DOUBLE_EQ(Server.ListedPositions()[0].Volume, 0.1);
}

TEST_F(TServer5Fixture, ListsNothingUntilTheTerminalSynchronisedAndRefusesWhatTheAccountMayNotDo) {
    Server.Send(Deal(otBuy, 0.1));
    Server.Synchronise(3000);
    EXPECT_TRUE(Server.ListedPositions().empty());
    EXPECT_TRUE(Server.ListedDeals().empty());
    Now += 3000;
    EXPECT_EQ(Server.ListedPositions().size(), 1u);
    Server.SetAccountTrading(true, false);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.1)).Retcode, rcServerDisablesAt);
    Server.SetAccountTrading(false, true);
    EXPECT_EQ(Server.Send(Deal(otBuy, 0.1)).Retcode, rcTradeDisabled);
    Server.SetAccountTrading(true, true);
    ChangeRules([](TSymbolRules& ARules) { ARules.MarketOpen = false; });
    TTradeRequest5 sltp;
    sltp.Action = taSltp;
    sltp.Position = Server.Positions()[0].Ticket;
    sltp.StopLoss = 1.08300;
    EXPECT_EQ(Server.Send(sltp).Retcode, rcMarketClosed) << "stops are not changed either";
}

TEST_F(TServer5Fixture, CheckAnswersAsTheRulesWouldWithoutSendingOrRequoting) {
    TTradeRequest5 stale = Deal(otBuy, 0.1);
    stale.Price = 1.08600;
    EXPECT_EQ(Server.Check(stale).Retcode, rcNone);
    const TTradeCheck5 tooBig = Server.Check(Deal(otBuy, 10));
    EXPECT_EQ(tooBig.Retcode, rcNoMoney);
    EXPECT_NEAR(tooBig.Margin, 10 * 100000 * 1.08462 / 100, 1e-6);
    EXPECT_LT(tooBig.MarginFree, 0);
    EXPECT_TRUE(Server.Requests().empty());
    EXPECT_TRUE(Server.Positions().empty());
}

} // namespace
