#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "demo/PaperBook.h"

namespace {

const TSymbolSpec& Symbol(const char* AName) {
    for (const TSymbolSpec& symbol : DemoSymbols())
        if (symbol.Name == AName)
            return symbol;
    throw std::logic_error("no such symbol");
}

struct TOpenCase {
    const char* Symbol;
    TOrderRequest Request;
    TQuote Quote;
    double Open;
    double StopLoss;
    double TakeProfit;
};

TEST(PaperBookOpen, ConvertsPipDistancesIntoPricesOnTheRightSide) {
    const TOpenCase cases[] = {
        // A buy opens at the ask; its stop lies below, its target above.
        {"EURUSD", {TSide::Buy, 0.25, 12, 15, 0}, {1.08450, 1.08462}, 1.08462, 1.08342, 1.08612},
        // A sell opens at the bid; its stop lies above. 0 pips: no target.
        {"EURUSD", {TSide::Sell, 0.10, 10, 0, 0}, {1.08450, 1.08462}, 1.08450, 1.08550, 0},
        // Three digits: a pip is 0.01.
        {"USDJPY", {TSide::Sell, 1, 20, 30, 0}, {151.234, 151.250}, 151.234, 151.434, 150.934},
        // Gold quotes two digits and its pip is 0.1.
        {"XAUUSD", {TSide::Buy, 0.2, 5, 5, 0}, {2034.15, 2034.45}, 2034.45, 2033.95, 2034.95},
        {"XAUUSD", {TSide::Buy, 0.2, 0, 0, 0}, {2034.15, 2034.45}, 2034.45, 0, 0},
        // Fractional pips land on the symbol's own digits.
        {"EURUSD", {TSide::Buy, 0.1, 2.5, 0.1, 0}, {1.1, 1.10012}, 1.10012, 1.09987, 1.10013},
    };
    for (const auto& c : cases) {
        std::atomic<int> tickets{7};
        TPaperBook book(Symbol(c.Symbol), tickets);
        std::string reason;
        const auto p = book.Open(c.Request, c.Quote, reason);
        ASSERT_TRUE(p) << c.Symbol << " " << reason;
        EXPECT_EQ(p->Ticket, 7);
        EXPECT_EQ(tickets.load(), 8);
        EXPECT_DOUBLE_EQ(p->OpenPrice, c.Open) << c.Symbol;
        EXPECT_NEAR(p->StopLoss, c.StopLoss, 1e-9) << c.Symbol;
        EXPECT_NEAR(p->TakeProfit, c.TakeProfit, 1e-9) << c.Symbol;
        EXPECT_FALSE(p->Closed);
    }
}

TEST(PaperBookOpen, RejectsWhatABrokerRejects) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        TOrderRequest Request;
        const char* Reason;
    } cases[] = {
        {{TSide::Buy, 0, 10, 10, 0}, "invalid volume"},
        {{TSide::Buy, 0.004, 10, 10, 0}, "invalid volume"},
        {{TSide::Sell, -1, 10, 10, 0}, "invalid volume"},
        {{TSide::Buy, nan, 10, 10, 0}, "invalid volume"},
        {{TSide::Buy, inf, 10, 10, 0}, "invalid volume"},
        {{TSide::Buy, 0.1, -3, 10, 0}, "invalid stops"},
        {{TSide::Sell, 0.1, 10, nan, 0}, "invalid stops"},
        {{TSide::Sell, 0.1, inf, 10, 0}, "invalid stops"},
    };
    for (const auto& c : cases) {
        std::atomic<int> tickets{1};
        TPaperBook book(Symbol("EURUSD"), tickets);
        std::string reason;
        EXPECT_FALSE(book.Open(c.Request, {1.1, 1.1001}, reason));
        EXPECT_EQ(reason, c.Reason);
        EXPECT_TRUE(book.Positions().empty());
        EXPECT_EQ(tickets.load(), 1) << "a rejected order takes no ticket";
    }
}

TEST(PaperBookOpen, RoundsTheLotSizeToTheLotStep) {
    std::atomic<int> tickets{1};
    TPaperBook book(Symbol("EURUSD"), tickets);
    std::string reason;
    EXPECT_DOUBLE_EQ(book.Open({TSide::Buy, 0.254, 0, 0, 0}, {1.1, 1.1001}, reason)->Lots, 0.25);
    EXPECT_DOUBLE_EQ(book.Open({TSide::Buy, 0.006, 0, 0, 0}, {1.1, 1.1001}, reason)->Lots, 0.01);
    EXPECT_EQ(book.Open({TSide::Buy, 0.1, 0, 0, 0}, {1.1, 1.1001}, reason)->Ticket, 3);
}

// One quote of a price path and what should have happened to the position after it.
struct TStep {
    TQuote Quote;
    double StopLoss;
    bool Closed;
};

void Walk(const char* ASymbol, const TOrderRequest& ARequest, const TQuote& AOpen,
          const std::vector<TStep>& ASteps, const char* AReason, double ATrailingPips = 0) {
    std::atomic<int> tickets{1};
    TPaperBook book(Symbol(ASymbol), tickets);
    std::string reason;
    ASSERT_TRUE(book.Open(ARequest, AOpen, reason));
    for (std::size_t i = 0; i < ASteps.size(); ++i) {
        book.OnQuote(ASteps[i].Quote, ATrailingPips);
        const TPosition& p = book.Positions()[0];
        EXPECT_NEAR(p.StopLoss, ASteps[i].StopLoss, 1e-9) << ASymbol << " step " << i;
        EXPECT_EQ(p.Closed, ASteps[i].Closed) << ASymbol << " step " << i;
    }
    const TPosition& p = book.Positions()[0];
    EXPECT_EQ(p.CloseReason, AReason);
    if (p.Closed) {
        const TQuote& last = ASteps.back().Quote;
        EXPECT_DOUBLE_EQ(p.ClosePrice, p.Side == TSide::Buy ? last.Bid : last.Ask)
            << "a position closes at the market price";
    }
}

TEST(PaperBookQuotes, ATrailingStopFollowsOnlyInProfitAndOnlyForward) {
    // Buy at 1.08462 with a 3-pip trailing stop and no fixed stop.
    Walk("EURUSD", {TSide::Buy, 0.1, 0, 0, 0}, {1.08450, 1.08462},
         {
             {{1.08480, 1.08492}, 0, false},       // 1.8 pips in profit: not yet
             {{1.08492, 1.08504}, 0, false},       // exactly 3 pips: not more than the distance
             {{1.08500, 1.08512}, 1.08470, false}, // 3.8 pips: the stop follows at 3 pips
             {{1.08490, 1.08502}, 1.08470, false}, // back down: the stop stays
             {{1.08520, 1.08532}, 1.08490, false}, // on again
             {{1.08490, 1.08502}, 1.08490, true},  // and it is hit
         },
         "stop-loss", 3);
    // A sell trails with the ask, above the price.
    Walk("USDJPY", {TSide::Sell, 0.1, 20, 0, 0}, {151.234, 151.250},
         {
             {{151.100, 151.116}, 151.166, false}, // 11.8 pips in profit: 151.116 + 0.05
             {{151.150, 151.166}, 151.166, true},  // the ask reaches the stop
         },
         "stop-loss", 5);
    // Without a trailing distance, or with one the panel cannot have meant, nothing trails.
    for (double pips : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN()})
        Walk("EURUSD", {TSide::Buy, 0.1, 10, 0, 0}, {1.08450, 1.08462},
             {{{1.09000, 1.09012}, 1.08362, false}}, "", pips);
}

TEST(PaperBookQuotes, ClosesAtTheTargetOrTheStopWhicheverTheMarketReaches) {
    Walk("EURUSD", {TSide::Buy, 0.1, 10, 15, 0}, {1.08450, 1.08462},
         {{{1.08600, 1.08612}, 1.08362, false}, {{1.08620, 1.08632}, 1.08362, true}},
         "take-profit");
    Walk("EURUSD", {TSide::Buy, 0.1, 10, 15, 0}, {1.08450, 1.08462},
         {{{1.08370, 1.08382}, 1.08362, false}, {{1.08300, 1.08312}, 1.08362, true}}, "stop-loss");
    // A sell closes at the ask: the bid alone at the target is not enough.
    Walk("XAUUSD", {TSide::Sell, 0.1, 0, 5, 0}, {2034.15, 2034.45},
         {{{2033.60, 2033.90}, 0, false}, {{2033.30, 2033.60}, 0, true}}, "take-profit");
    // Without stop and target nothing closes, however far the price runs.
    Walk("XAUUSD", {TSide::Buy, 0.1, 0, 0, 0}, {2034.15, 2034.45},
         {{{1000, 1000.3}, 0, false}, {{3000, 3000.3}, 0, false}}, "");
}

TEST(PaperBookProfit, IsInDollarsForEverySymbol) {
    EXPECT_NEAR(ProfitInDollars(Symbol("EURUSD"), TSide::Buy, 1, 1.08462, 1.08612), 150, 1e-6);
    EXPECT_NEAR(ProfitInDollars(Symbol("EURUSD"), TSide::Sell, 0.5, 1.08462, 1.08612), -75, 1e-6);
    // Yen profit converted at the closing rate.
    EXPECT_NEAR(ProfitInDollars(Symbol("USDJPY"), TSide::Sell, 0.1, 151.234, 150.934),
                3000 / 150.934, 1e-6);
    EXPECT_NEAR(ProfitInDollars(Symbol("XAUUSD"), TSide::Buy, 0.2, 2034.45, 2034.95), 10, 1e-6);

    std::atomic<int> tickets{1};
    TPaperBook book(Symbol("EURUSD"), tickets);
    std::string reason;
    book.Open({TSide::Buy, 1, 0, 10, 0}, {1.1000, 1.1001}, reason);
    book.Open({TSide::Sell, 1, 0, 0, 0}, {1.1000, 1.1001}, reason);
    book.OnQuote({1.1011, 1.1012}, 0); // the buy reaches its target, the sell runs on
    EXPECT_NEAR(book.RealisedProfit(), 100, 1e-6);
    EXPECT_NEAR(book.OpenProfit(), -120, 1e-6); // sold at 1.1000, bought back at 1.1012
}

} // namespace
