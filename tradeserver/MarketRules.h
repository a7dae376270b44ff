#pragma once
// The rules MetaTrader 4's and 5's servers share: prices on the point grid, the price a position
// closes at, and the stop level measured from it. Platform-free.

#include <cmath>

#include "tradeserver/Market.h"

namespace market_rules {

// Prices and volumes are compared with a small tolerance: the expert's doubles come from
// decimal arithmetic and are never exactly the server's.
constexpr double Tolerance = 1e-7;

inline bool OnGrid(double AValue, double AStep) {
    const double steps = AValue / AStep;
    return std::abs(steps - std::round(steps)) < 1e-6;
}

inline double ClosingPrice(int AType, double ABid, double AAsk) {
    return AType == otBuy ? ABid : AAsk;
}

// Which of a buy's or a sell's stop-loss and take-profit (0: none) the quote has reached.
enum TStopHit { shNone, shStopLoss, shTakeProfit };
inline TStopHit StopHit(int AType, double ABid, double AAsk, double AStopLoss, double ATakeProfit) {
    const double price = ClosingPrice(AType, ABid, AAsk);
    const bool buy = AType == otBuy;
    if (AStopLoss != 0 && (buy ? price <= AStopLoss : price >= AStopLoss))
        return shStopLoss;
    if (ATakeProfit != 0 && (buy ? price >= ATakeProfit : price <= ATakeProfit))
        return shTakeProfit;
    return shNone;
}

inline double RoundToDigits(double APrice, int ADigits) {
    const double scale = std::pow(10.0, ADigits);
    return std::round(APrice * scale) / scale;
}

// Whether a buy's or a sell's stop-loss and take-profit (0: none) lie on the grid, on their own
// side of the price it would close at and at least the stop level away from it.
inline bool StopsFit(const TSymbolRules& ARules, double ABid, double AAsk, int AType,
                     double AStopLoss, double ATakeProfit) {
    if (!std::isfinite(AStopLoss) || !std::isfinite(ATakeProfit) || AStopLoss < 0 ||
        ATakeProfit < 0)
        return false;
    if ((AStopLoss != 0 && !OnGrid(AStopLoss, ARules.Point)) ||
        (ATakeProfit != 0 && !OnGrid(ATakeProfit, ARules.Point)))
        return false;
    const double minimum = ARules.StopLevel * ARules.Point - ARules.Point * Tolerance;
    const double price = ClosingPrice(AType, ABid, AAsk);
    const double direction = AType == otBuy ? 1 : -1;
    if (AStopLoss != 0 &&
        !(direction * (price - AStopLoss) > 0 && direction * (price - AStopLoss) >= minimum))
        return false;
    if (ATakeProfit != 0 &&
        !(direction * (ATakeProfit - price) > 0 && direction * (ATakeProfit - price) >= minimum))
        return false;
    return true;
}

// Whether a position's stop or target lies within the freeze level of the price it would close
// at, so that the server no longer changes them.
inline bool Frozen(const TSymbolRules& ARules, double ABid, double AAsk, int AType,
                   double AStopLoss, double ATakeProfit) {
    if (ARules.FreezeLevel <= 0)
        return false;
    const double price = ClosingPrice(AType, ABid, AAsk);
    const double direction = AType == otBuy ? 1 : -1;
    const double freeze = ARules.FreezeLevel * ARules.Point * (1 + Tolerance);
    return (AStopLoss != 0 && direction * (price - AStopLoss) <= freeze) ||
           (ATakeProfit != 0 && direction * (ATakeProfit - price) <= freeze);
}

} // namespace market_rules
