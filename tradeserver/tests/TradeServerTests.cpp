// The simulated server's own rules, as the MQL4 reference states them: the stop level measured
// from the closing price, the freeze level on modifications, lots on the step, market execution
// without stops, requotes under instant execution, and stops and targets that close orders; and
// what the terminal lists of the book: late orders, comments changed at their end, accounts.

#include <gtest/gtest.h>

#include "tradeserver/TradeServer.h"
#include "tradeserver/tests/ServerBook.h"

namespace {

struct TServerBook : TServerBookOf<TTradeServer> {
    int Send(int AType, double ALots, double APrice, double ASl, double ATp, int& AError) {
        return Server.Send("EURUSD", AType, ALots, APrice, 30, ASl, ATp, "", 7, AError);
    }
};

struct TServerFixture : testing::Test, TServerBook {};

TEST_F(TServerFixture, AnswersAMarketOrderByTheRulesOfTheReference) {
    struct TCase {
        const char* Name;
        int Type;
        double Lots, Price, StopLoss, TakeProfit;
        int Error;
    } cases[] = {
        {"a buy at the ask", otBuy, 0.1, 1.08462, 0, 0, teNone},
        {"stop 5 pips under the bid", otBuy, 0.1, 1.08462, 1.08400, 0, teNone},
        {"stop 4.9 pips under the bid", otBuy, 0.1, 1.08462, 1.08401, 0, teInvalidStops},
        {"target 5 pips above the bid", otBuy, 0.1, 1.08462, 0, 1.08500, teNone},
        {"target inside the level", otBuy, 0.1, 1.08462, 0, 1.08480, teInvalidStops},
        {"sell stop 5 pips above the ask", otSell, 0.1, 1.08450, 1.08512, 0, teNone},
        {"sell stop inside", otSell, 0.1, 1.08450, 1.08500, 0, teInvalidStops},
        {"stop off the point grid", otBuy, 0.1, 1.08462, 1.083005, 0, teInvalidStops},
        {"a price beyond the slippage", otBuy, 0.1, 1.08500, 0, 0, teRequote},
        {"a price within the slippage", otBuy, 0.1, 1.08480, 0, 0, teNone},
        {"lots off the step", otBuy, 0.015, 1.08462, 0, 0, teInvalidTradeVolume},
        {"lots below the minimum", otBuy, 0.001, 1.08462, 0, 0, teInvalidTradeVolume},
        {"lots above the maximum", otBuy, 101, 1.08462, 0, 0, teInvalidTradeVolume},
        {"a pending order type", 2, 0.1, 1.08462, 0, 0, teInvalidTradeParameters},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        int error = -1;
        const int ticket = Send(c.Type, c.Lots, c.Price, c.StopLoss, c.TakeProfit, error);
        EXPECT_EQ(error, c.Error);
        EXPECT_EQ(ticket > 0, c.Error == teNone);
    }
}

TEST_F(TServerFixture, MarketExecutionRefusesStopsWithTheOrderAndFillsAtItsOwnPrice) {
    ChangeRules([](TSymbolRules& ARules) { ARules.Execution = TExecution::Market; });
    Server.SetMarketSlippage(3);
    int error = 0;
    EXPECT_EQ(Send(otBuy, 0.1, 1.0, 1.08300, 0, error), -1);
    EXPECT_EQ(error, teInvalidStops);
    const int ticket = Send(otBuy, 0.1, 1.0, 0, 0, error);
    ASSERT_GT(ticket, 0);
    EXPECT_DOUBLE_EQ(Server.Order(ticket)->OpenPrice, 1.08465);
}

TEST_F(TServerFixture, FreezesAnOrderWhoseStopIsWithinTheFreezeLevel) {
    int error = 0;
    const int ticket = Send(otBuy, 0.1, 1.08462, 1.08400, 0, error);
    ASSERT_GT(ticket, 0);
    EXPECT_FALSE(Server.Modify(ticket, 1.08400, 0, error));
    EXPECT_EQ(error, teNoResult) << "unchanged values";
    Server.SetQuote("EURUSD", 1.08420, 1.08432); // 2 pips above the stop: frozen
    EXPECT_FALSE(Server.Modify(ticket, 1.08350, 0, error));
    EXPECT_EQ(error, teTradeModifyDenied);
    Server.SetQuote("EURUSD", 1.08600, 1.08612);
    EXPECT_TRUE(Server.Modify(ticket, 1.08550, 0, error));
    EXPECT_FALSE(Server.Modify(ticket, 1.08560, 0, error)) << "inside the stop level";
    EXPECT_EQ(error, teInvalidStops);
}

TEST_F(TServerFixture, ClosesAtTheStopOrTheTargetWithTheProfitInDollars) {
    int error = 0;
    const int buy = Send(otBuy, 0.1, 1.08462, 1.08400, 1.08600, error);
    const int sell = Send(otSell, 0.2, 1.08450, 1.08600, 1.08300, error);
    Now = 5;
    const auto closed = Server.SetQuote("EURUSD", 1.08600, 1.08612);
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].Ticket, buy);
    EXPECT_EQ(closed[0].CloseReason, "take-profit");
    EXPECT_NEAR(closed[0].Profit, (1.08600 - 1.08462) * 100000 * 0.1, 1e-6);
    EXPECT_EQ(closed[1].Ticket, sell);
    EXPECT_EQ(closed[1].CloseReason, "stop-loss");
    EXPECT_TRUE(Server.OpenOrders().empty());
}

TEST_F(TServerFixture, InjectedFaultsAnswerInOrderAndATimeoutMayStillPlaceTheOrder) {
    Server.InjectSendFaults({{teRequote}, {teTradeTimeout, true}, {teTradeTimeout, false}});
    int error = 0;
    EXPECT_EQ(Send(otBuy, 0.1, 1.08462, 0, 0, error), -1);
    EXPECT_EQ(error, teRequote);
    EXPECT_EQ(Send(otBuy, 0.1, 1.08462, 0, 0, error), -1);
    EXPECT_EQ(error, teTradeTimeout);
    EXPECT_EQ(Server.OpenOrders().size(), 1u);
    EXPECT_EQ(Send(otBuy, 0.1, 1.08462, 0, 0, error), -1);
    EXPECT_EQ(Server.OpenOrders().size(), 1u);
    EXPECT_GT(Send(otBuy, 0.1, 1.08462, 0, 0, error), 0);
    EXPECT_EQ(Server.Requests().size(), 4u);
}

TEST(TServerBook, AnOrderPlacedAfterAnUnclearAnswerIsListedOnlyWhenItsTimeComes) {
    struct TCase {
        TFault Fault;
        long long ListedAt; // -1: not placed
    } cases[] = {
        {{teTradeTimeout, true, 0, 3000}, 3001},
        {{teOrderQueued, true, 0, 500}, 501},
        {{teDealerAccepted, true}, 1},
        {{teTradeTimeout, true, 0, TFault::Never}, 1 + TFault::Never},
        {{teTradeTimeout}, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Fault.Error);
        TServerBook fixture;
        fixture.Server.InjectSendFaults({c.Fault});
        int error = 0;
        EXPECT_EQ(fixture.Send(otBuy, 0.1, 1.08462, 0, 0, error), -1);
        EXPECT_EQ(error, c.Fault.Error);
        if (c.ListedAt < 0) {
            EXPECT_TRUE(fixture.Server.AllOrders().empty());
            continue;
        }
        ASSERT_EQ(fixture.Server.OpenOrders().size(), 1u) << "placed at once";
        const int ticket = fixture.Server.OpenOrders()[0].Ticket;
        fixture.Now = c.ListedAt - 1;
        EXPECT_TRUE(fixture.Server.ListedOrders().empty());
        EXPECT_FALSE(fixture.Server.ListedOrder(ticket).has_value());
        fixture.Now = c.ListedAt;
        EXPECT_EQ(fixture.Server.ListedOrders().size(), 1u);
        EXPECT_TRUE(fixture.Server.ListedOrder(ticket).has_value());
    }
}

TEST_F(TServerFixture, ChangesTheEndOfANewOrdersComment) {
    int error = 0;
    Server.SetCommentEnd(9, "[x]");
    const int cut = Server.Send("EURUSD", otBuy, 0.1, 1.08462, 3, 0, 0, "Pellith 12/345", 7, error);
    Server.SetCommentEnd(40, " [dealer]");
    const int added = Server.Send("EURUSD", otBuy, 0.1, 1.08462, 3, 0, 0, "Pellith 12/3", 7, error);
    EXPECT_EQ(Server.Order(cut)->Comment, "Pellith 1[x]");
    EXPECT_EQ(Server.Order(added)->Comment, "Pellith 12/3 [dealer]");
}

TEST_F(TServerFixture, ListsAndModifiesOnlyTheOrdersOfTheLoggedInAccount) {
    int error = 0;
    const int first = Send(otBuy, 0.1, 1.08462, 0, 0, error);
    Server.Login(2);
    Server.SetNextTicket(first); // another broker, the same numbers
    const int second = Send(otSell, 0.2, 1.08450, 0, 0, error);
    ASSERT_EQ(second, first);
    ASSERT_EQ(Server.ListedOrders().size(), 1u);
    EXPECT_EQ(Server.ListedOrders()[0].Type, otSell);
    EXPECT_EQ(Server.ListedOrder(second)->Account, 2);
    EXPECT_TRUE(Server.Modify(second, 1.08600, 0, error)) << error;
    Server.Login(1);
    EXPECT_EQ(Server.ListedOrder(first)->Type, otBuy);
    EXPECT_EQ(Server.ListedOrder(first)->StopLoss, 0) << "account 2's modification";
    EXPECT_EQ(Server.AllOrders().size(), 2u);
}

} // namespace
