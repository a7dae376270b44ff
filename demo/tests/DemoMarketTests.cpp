#include <gtest/gtest.h>

#include <cmath>

#include "demo/DemoMarket.h"

namespace {

bool OnDigits(double APrice, int ADigits) {
    const double scaled = APrice * std::pow(10.0, ADigits);
    return std::abs(scaled - std::round(scaled)) < 1e-6;
}

TEST(DemoSymbols, HaveTheConventionalDigitsAndPips) {
    const struct {
        const char* Name;
        int Digits;
        double Point;
        double Pip;
    } expected[] = {
        {"EURUSD", 5, 0.00001, 0.0001}, {"USDJPY", 3, 0.001, 0.01}, {"XAUUSD", 2, 0.01, 0.1}};
    ASSERT_EQ(DemoSymbols().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const TSymbolSpec& symbol = DemoSymbols()[i];
        EXPECT_EQ(symbol.Name, expected[i].Name);
        EXPECT_EQ(symbol.Digits, expected[i].Digits);
        EXPECT_DOUBLE_EQ(symbol.Point, expected[i].Point);
        EXPECT_DOUBLE_EQ(symbol.Pip, expected[i].Pip);
        EXPECT_TRUE(OnDigits(symbol.StartBid, symbol.Digits)) << symbol.Name;
    }
}

TEST(RandomWalk, QuotesOnTheSymbolsDigitsWithAPositiveSpreadOfAFewPips) {
    for (const TSymbolSpec& symbol : DemoSymbols()) {
        TRandomWalk walk(symbol, 42);
        double previous = walk.Current().Bid;
        for (int i = 0; i < 2000; ++i) {
            const TQuote q = walk.Next();
            ASSERT_TRUE(OnDigits(q.Bid, symbol.Digits)) << symbol.Name << " " << q.Bid;
            ASSERT_TRUE(OnDigits(q.Ask, symbol.Digits)) << symbol.Name << " " << q.Ask;
            ASSERT_GT(q.Ask, q.Bid) << symbol.Name;
            ASSERT_LT(q.Ask - q.Bid, 3 * symbol.SpreadPips * symbol.Pip) << symbol.Name;
            // A tick moves a few pips at most: ten standard deviations never happen.
            ASSERT_LT(std::abs(q.Bid - previous), 10 * symbol.VolatilityPips * symbol.Pip)
                << symbol.Name;
            previous = q.Bid;
        }
    }
}

TEST(RandomWalk, RepeatsForTheSameSeedOnly) {
    const TSymbolSpec& symbol = DemoSymbols()[0];
    TRandomWalk a(symbol, 7), b(symbol, 7), c(symbol, 8);
    bool differs = false;
    for (int i = 0; i < 50; ++i) {
        const TQuote qa = a.Next(), qb = b.Next(), qc = c.Next();
        EXPECT_EQ(qa.Bid, qb.Bid);
        EXPECT_EQ(qa.Ask, qb.Ask);
        differs = differs || qa.Bid != qc.Bid;
    }
    EXPECT_TRUE(differs);
}

TEST(RoundToDigits, RoundsHalfAwayFromZeroOnTheLastDigit) {
    EXPECT_DOUBLE_EQ(RoundToDigits(1.084625, 5), 1.08463);
    EXPECT_DOUBLE_EQ(RoundToDigits(151.2344, 3), 151.234);
    EXPECT_DOUBLE_EQ(RoundToDigits(2034.155, 2), 2034.16);
    EXPECT_DOUBLE_EQ(RoundToDigits(-0.125, 2), -0.13);
}

} // namespace
