// The market both servers trade in, run through each server's own requests: a fault moves the
// quote by its points on the digits of the symbol, a fill under market execution slips by the same
// points to a price the market could quote, and a quote that reaches a stop closes at that quote.
// The same table for both terminals, so that their markets cannot drift apart.

#include <gtest/gtest.h>

#include "tradeserver/TradeServer.h"
#include "tradeserver/TradeServer5.h"
#include "tradeserver/tests/ServerBook.h"

namespace {

// A buy or a sell at market on each server, and the price it filled at (0: none).
struct TMt4 {
    using TServer = TTradeServer;
    static double Open(TServer& AServer, int AType, double APrice, double AStopLoss) {
        int error = 0;
        const int ticket =
            AServer.Send("EURUSD", AType, 0.1, APrice, 0, AStopLoss, 0, "", 0, error);
        return ticket > 0 ? AServer.Order(ticket)->OpenPrice : 0;
    }
    // The price the quote closed the one position at, or 0.
    static double ClosedAt(TServer& AServer, double ABid, double AAsk) {
        const auto closed = AServer.SetQuote("EURUSD", ABid, AAsk);
        return closed.size() == 1 ? closed[0].ClosePrice : 0;
    }
};

struct TMt5 {
    using TServer = TTradeServer5;
    static double Open(TServer& AServer, int AType, double APrice, double AStopLoss) {
        TTradeRequest5 request;
        request.Symbol = "EURUSD";
        request.Type = AType;
        request.Volume = 0.1;
        request.Price = APrice;
        request.StopLoss = AStopLoss;
        const TTradeResult5 result = AServer.Send(request);
        return result.Retcode == rcDone ? result.Price : 0;
    }
    static double ClosedAt(TServer& AServer, double ABid, double AAsk) {
        const auto closed = AServer.SetQuote("EURUSD", ABid, AAsk);
        return closed.size() == 1 ? closed[0].Price : 0;
    }
};

template <class TTerminal>
struct TMarketTest : testing::Test, TServerBookOf<typename TTerminal::TServer> {};
using TTerminals = testing::Types<TMt4, TMt5>;
TYPED_TEST_SUITE(TMarketTest, TTerminals);

TYPED_TEST(TMarketTest, AFaultMovesTheQuoteByItsPointsOnTheSymbolsDigits) {
    // A requote that moved the market 13 points up: the next request meets the new quote.
    TFault moved;
    moved.Error = 138;
    moved.MoveBidPoints = 13;
    this->Server.Inject(TMarket::fqOpen, {moved});
    EXPECT_EQ(TypeParam::Open(this->Server, otBuy, 1.08462, 0), 0);
    double bid = 0;
    double ask = 0;
    ASSERT_TRUE(this->Server.Quote("EURUSD", bid, ask));
    EXPECT_EQ(bid, 1.08463);
    EXPECT_EQ(ask, 1.08475);
    EXPECT_EQ(TypeParam::Open(this->Server, otBuy, 1.08475, 0), 1.08475);
}

TYPED_TEST(TMarketTest, AMarketFillSlipsAgainstTheTraderToAPriceTheMarketCouldQuote) {
    this->ChangeRules([](TSymbolRules& ARules) { ARules.Execution = TExecution::Market; });
    const struct {
        int Type;
        double Slippage;
        double Fill;
    } cases[] = {
        {otBuy, 3, 1.08465},  {otBuy, 7, 1.08469},  {otBuy, 4, 1.08466},
        {otSell, 3, 1.08447}, {otSell, 0, 1.08450},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Type << " slipped " << c.Slippage);
        this->Server.SetMarketSlippage(c.Slippage);
        // Exactly: a price off the quote's double by one bit reads as a move of the market.
        EXPECT_EQ(TypeParam::Open(this->Server, c.Type, 0, 0), c.Fill);
    }
}

TYPED_TEST(TMarketTest, AQuoteThatReachesTheStopClosesAtThatQuote) {
    ASSERT_EQ(TypeParam::Open(this->Server, otBuy, 1.08462, 1.08400), 1.08462);
    EXPECT_EQ(TypeParam::ClosedAt(this->Server, 1.08401, 1.08413), 0);
    EXPECT_EQ(TypeParam::ClosedAt(this->Server, 1.08398, 1.08410), 1.08398);
}

} // namespace

namespace {

// What the terminal tells of a tick: a quote-currency symbol's tick is worth the contract times
// the point, a dollar-based one's that converted at the bid, and a broker's own figure (0 too)
// stands as given.
TEST(MarketTickValue, IsTheContractTimesThePointInDollarsOrTheBrokersOwn) {
    struct TCase {
        const char* Name;
        double Point, ContractSize;
        bool DollarIsBase;
        double Broker, Bid, TickValue;
    } cases[] = {
        {"EURUSD", 0.00001, 100000, false, -1, 1.08450, 1},
        {"GBPUSD, 4 digits", 0.0001, 100000, false, -1, 1.2650, 10},
        {"USDJPY", 0.001, 100000, true, -1, 151.234, 100 / 151.234},
        {"XAUUSD", 0.01, 100, false, -1, 2034.15, 1},
        {"a broker's 0.1", 0.01, 100, false, 0.1, 2034.15, 0.1},
        {"a broker's 0", 0.00001, 100000, false, 0, 1.08450, 0},
        {"no quote yet", 0.001, 100000, true, -1, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSymbolRules rules;
        rules.Point = c.Point;
        rules.ContractSize = c.ContractSize;
        rules.DollarIsBase = c.DollarIsBase;
        rules.TickValue = c.Broker;
        EXPECT_NEAR(TickValue(rules, c.Bid), c.TickValue, 1e-12);
    }
}

// The MT4 account's money: the deposit, the closed orders' profit in the balance, the open ones'
// in the equity too; another account's orders in neither.
TEST(MarketAccount, TheBalanceHoldsClosedProfitAndTheEquityOpenProfitToo) {
    TServerBookOf<TTradeServer> book;
    book.Server.SetDeposit(5000);
    int error = 0;
    const int kept = book.Server.Send("EURUSD", otBuy, 1, 1.08462, 0, 0, 0, "", 0, error);
    const int closed = book.Server.Send("EURUSD", otBuy, 1, 1.08462, 0, 1.08400, 0, "", 0, error);
    ASSERT_GT(kept, 0);
    ASSERT_GT(closed, 0);
    book.Server.Login(2);
    book.Server.Send("EURUSD", otSell, 1, 1.08450, 0, 0, 0, "", 0, error);
    book.Server.Login(1);
    book.Server.SetQuote("EURUSD", 1.08400, 1.08412); // closes #2 at its stop: -62 dollars
    EXPECT_NEAR(book.Server.Balance(), 5000 - 62, 1e-6);
    EXPECT_NEAR(book.Server.Equity(), 5000 - 62 - 62, 1e-6);
}

} // namespace
