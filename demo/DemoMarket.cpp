#include "demo/DemoMarket.h"

#include <cmath>

const std::vector<TSymbolSpec>& DemoSymbols() {
    static const std::vector<TSymbolSpec> symbols = {
        {"EURUSD", 5, 0.00001, 0.0001, 1.08450, 1.2, 0.8, 100000, false},
        {"USDJPY", 3, 0.001, 0.01, 151.234, 1.6, 0.9, 100000, true},
        {"XAUUSD", 2, 0.01, 0.1, 2034.15, 3.0, 1.5, 100, false},
    };
    return symbols;
}

double RoundToDigits(double APrice, int ADigits) {
    const double scale = std::pow(10.0, ADigits);
    return std::round(APrice * scale) / scale;
}

TRandomWalk::TRandomWalk(const TSymbolSpec& ASpec, std::uint32_t ASeed)
    : FSpec(ASpec),
      FRandom(ASeed), FQuote{RoundToDigits(ASpec.StartBid, ASpec.Digits),
                             RoundToDigits(ASpec.StartBid + ASpec.SpreadPips * ASpec.Pip,
                                           ASpec.Digits)} {}

const TQuote& TRandomWalk::Next() {
    std::normal_distribution<double> move(0.0, FSpec.VolatilityPips * FSpec.Pip);
    std::uniform_real_distribution<double> breathe(0.8, 1.3);
    const double bid = RoundToDigits(FQuote.Bid + move(FRandom), FSpec.Digits);
    const double spread = std::max(FSpec.Point, FSpec.SpreadPips * FSpec.Pip * breathe(FRandom));
    FQuote = {bid, RoundToDigits(bid + spread, FSpec.Digits)};
    return FQuote;
}
