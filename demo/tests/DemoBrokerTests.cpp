// The demo broker's rules and the inputs the demo gives the expert, as the session relies on
// them: profit in dollars on each symbol, market execution on USDJPY, gold's stop level and pip.

#include <gtest/gtest.h>

#include "demo/DemoExpert.h"

namespace {

const TSymbolSpec& Symbol(const char* AName) {
    for (const TSymbolSpec& symbol : DemoSymbols())
        if (symbol.Name == AName)
            return symbol;
    throw std::logic_error("no such symbol");
}

TEST(DemoBroker, FillsEachSymbolByItsRulesAndCountsProfitInDollars) {
    struct TCase {
        const char* Symbol;
        double Bid, Ask, Lots, StopLoss;
        int Error;
        double CloseBid, Profit;
    } cases[] = {
        {"EURUSD", 1.08450, 1.08462, 0.25, 1.08342, teNone, 1.08562, 25},
        {"USDJPY", 151.234, 151.250, 1, 151.100, teInvalidStops, 0, 0},
        {"USDJPY", 151.234, 151.250, 1, 0, teNone, 151.350, 100000 * 0.1 / 151.350},
        {"XAUUSD", 2034.15, 2034.45, 0.2, 2034.00, teInvalidStops, 0, 0},
        {"XAUUSD", 2034.15, 2034.45, 0.2, 2033.45, teNone, 2035.45, 0.2 * 100 * 1.0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Symbol);
        long long now = 1;
        TTradeServer server([&] { return now; });
        server.AddSymbol(DemoTradeRules(Symbol(c.Symbol)));
        server.SetQuote(c.Symbol, c.Bid, c.Ask);
        int error = -1;
        const int ticket =
            server.Send(c.Symbol, otBuy, c.Lots, c.Ask, 30, c.StopLoss, 0, "", 1, error);
        EXPECT_EQ(error, c.Error);
        if (c.Error != teNone)
            continue;
        ASSERT_GT(ticket, 0);
        server.SetQuote(c.Symbol, c.CloseBid, c.CloseBid + (c.Ask - c.Bid));
        EXPECT_NEAR(server.Order(ticket)->Profit, c.Profit, 1e-6);
    }
}

TEST(DemoBroker, GivesGoldItsPipAndLeavesTheOthersToTheExpert) {
    EXPECT_EQ(DemoExpertInputs(Symbol("XAUUSD")).InpPointsPerPip, 10);
    EXPECT_EQ(DemoExpertInputs(Symbol("EURUSD")).InpPointsPerPip, 0);
    EXPECT_EQ(DemoExpertInputs(Symbol("USDJPY")).InpPointsPerPip, 0);
    EXPECT_DOUBLE_EQ(DemoExpertInputs(Symbol("EURUSD")).InpStopLossPips, 10);
}

} // namespace
