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
        const TSymbolSpec& spec = DemoSymbols()[i];
        EXPECT_EQ(spec.Name, expected[i].Name);
        EXPECT_EQ(spec.Digits, expected[i].Digits);
        EXPECT_DOUBLE_EQ(spec.Point, expected[i].Point);
        EXPECT_DOUBLE_EQ(spec.Pip, expected[i].Pip);
        EXPECT_TRUE(OnDigits(spec.StartBid, spec.Digits)) << spec.Name;
    }
}

TEST(RandomWalk, QuotesOnTheSymbolsDigitsWithAPositiveSpreadOfAFewPips) {
    for (const TSymbolSpec& spec : DemoSymbols()) {
        TRandomWalk walk(spec, 42);
        double previous = walk.Current().Bid;
        for (int i = 0; i < 2000; ++i) {
            const TQuote q = walk.Next();
            ASSERT_TRUE(OnDigits(q.Bid, spec.Digits)) << spec.Name << " " << q.Bid;
            ASSERT_TRUE(OnDigits(q.Ask, spec.Digits)) << spec.Name << " " << q.Ask;
            ASSERT_GT(q.Ask, q.Bid) << spec.Name;
            ASSERT_LT(q.Ask - q.Bid, 3 * spec.SpreadPips * spec.Pip) << spec.Name;
            // A tick moves a few pips at most: ten standard deviations never happen.
            ASSERT_LT(std::abs(q.Bid - previous), 10 * spec.VolatilityPips * spec.Pip) << spec.Name;
            previous = q.Bid;
        }
    }
}

TEST(RandomWalk, RepeatsForTheSameSeedOnly) {
    const TSymbolSpec& spec = DemoSymbols()[0];
    TRandomWalk a(spec, 7), b(spec, 7), c(spec, 8);
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
