#pragma once
// Paper trading for one symbol, as a broker would fill the demo's market orders: a buy opens at
// the ask and closes at the bid, a sell the other way round; stop-loss and take-profit come as
// pip distances from the open price (0: none) and close the position when the price reaches
// them; the trailing-stop distance the panel shows now follows the price on every open position
// once it is that far in profit.
// Platform-free.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "demo/DemoMarket.h"

enum class TSide { Buy, Sell };

// What the expert asks for after a click: the panel's four values (the trailing stop is only
// recorded; OnQuote takes the panel's current one).
struct TOrderRequest {
    TSide Side;
    double Lots;
    double StopLossPips;
    double TakeProfitPips;
    double TrailingStopPips;
};

struct TPosition {
    int Ticket = 0;
    TSide Side = TSide::Buy;
    double Lots = 0;
    double OpenPrice = 0;
    double StopLoss = 0;   // price; 0 for none
    double TakeProfit = 0; // price; 0 for none
    bool Closed = false;
    double ClosePrice = 0;
    std::string CloseReason; // "stop-loss" or "take-profit"
    double Profit = 0;       // in dollars, at the close or at the latest quote
};

// Something that happened to a position on a new quote.
struct TPositionEvent {
    enum TKind { ekTrail, ekClose } Kind;
    TPosition Position; // after the event
    double OldStopLoss; // for ekTrail
};

// Profit in dollars of `ALots` from `AOpen` to `AClose`.
double ProfitInDollars(const TSymbolSpec& ASpec, TSide ASide, double ALots, double AOpen,
                       double AClose);

class TPaperBook {
  public:
    // Tickets come from `ATickets`, shared by the books of one account so that they are unique.
    TPaperBook(TSymbolSpec ASpec, std::atomic<int>& ATickets)
        : FSpec(std::move(ASpec)), FTickets(ATickets) {}

    // Opens a position at the current quote. Fails (nullopt, with the reason) for a lot size
    // that rounds below 0.01 or is not finite, or for a negative or non-finite stop-loss or
    // take-profit distance: the broker's "invalid volume" and "invalid stops".
    std::optional<TPosition> Open(const TOrderRequest& ARequest, const TQuote& AQuote,
                                  std::string& AReason);

    // Trails the stops of the open positions by `ATrailingStopPips` (0: no trailing), then
    // closes what reached its stop or target; returns what happened, in that order.
    std::vector<TPositionEvent> OnQuote(const TQuote& AQuote, double ATrailingStopPips);

    const std::vector<TPosition>& Positions() const { return FPositions; }
    const TSymbolSpec& Spec() const { return FSpec; }
    double RealisedProfit() const;
    double OpenProfit() const;

  private:
    TSymbolSpec FSpec;
    std::atomic<int>& FTickets;
    std::vector<TPosition> FPositions;
};
