#pragma once
// The market both simulated servers trade in (TradeServer.h for MetaTrader 4, TradeServer5.h for
// MetaTrader 5): the symbols with their rules and quotes, the server's clock, the slippage of
// fills under market execution, the injected faults, and the one lock that guards the market and
// the book of the server built on it. Each server adds only its terminal's trade rules.
// Platform-free; every public member may be called from any thread.

#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Order types with their MQL values: a buy and a sell, in MetaTrader 4 and 5 alike.
enum TOrderType : int { otBuy = 0, otSell = 1 };

// Request and Exchange are MetaTrader 5's: the MT4 server takes Request as Instant and Exchange as
// Market.
enum class TExecution { Instant, Market, Request, Exchange };

// SYMBOL_FILLING_MODE's flags
// (https://www.mql5.com/en/docs/constants/environment_state/marketinfoconstants).
constexpr int sfFok = 1;
constexpr int sfIoc = 2;

struct TSymbolRules {
    std::string Name;
    int Digits = 5;
    double Point = 0.00001;
    TExecution Execution = TExecution::Instant;
    int StopLevel = 0;   // points between the market and a stop or target
    int FreezeLevel = 0; // points within which an order's stops can no longer be changed
    double MinLot = 0.01;
    double LotStep = 0.01;
    double MaxLot = 100;
    double VolumeLimit = 0;       // MT5: most lots of one symbol open in one direction (0: none)
    int FillingModes = sfFok;     // MT5: the filling policies allowed besides the execution's own
    double ContractSize = 100000; // units of the base currency per lot
    bool DollarIsBase = false;    // profit in the quote currency, converted at the close price
    // The broker's tick value, dollars per lot for a move of one point; negative: worked out
    // from the contract size and, for a dollar-based symbol, the bid. A broker may well give 0.
    double TickValue = -1;
    bool TradeAllowed = true;
    bool MarketOpen = true;
};

// What happens to one request instead of the normal rules.
struct TFault {
    static constexpr long long Never = 1LL << 50; // ListAfterMs beyond any wait of a test

    int Error = 0;             // the answer in the terminal's codes; 0: the rules answer
    bool PlaceAnyway = false;  // with an error: the order is opened all the same
    double MoveBidPoints = 0;  // the market moves before the server answers (requotes, slippage)
    long long ListAfterMs = 0; // with PlaceAnyway (MT5: also when done): listed only this late
    double FillLots = 0;       // MT5: the market has only this many lots for the deal (0: enough)
    double SplitLots = 0;      // MT5: the fill comes as two deals, the first of this many lots
};

// What the terminal tells of a symbol's tick (MODE_TICKVALUE, SYMBOL_TRADE_TICK_VALUE): dollars
// per lot for a move of one point, the tick size, at a bid of ABid.
double TickValue(const TSymbolRules& ARules, double ABid);

// Profit in dollars of an order closed at `AClose`.
double OrderProfit(const TSymbolRules& ARules, int AType, double ALots, double AOpen,
                   double AClose);

class TMarket {
public:
    using TClock = std::function<long long()>; // milliseconds, monotonic
    // One symbol as the market holds it.
    struct TQuote {
        TSymbolRules Rules;
        double Bid = 0;
        double Ask = 0;
    };

    explicit TMarket(TClock AClock);

    void AddSymbol(const TSymbolRules& ARules);
    std::optional<TSymbolRules> Rules(const std::string& ASymbol) const;
    void SetRules(const TSymbolRules& ARules);
    // Bid and ask of a symbol; false for an unknown one.
    bool Quote(const std::string& ASymbol, double& ABid, double& AAsk) const;
    // A symbol's rules with its quote, taken together; none for an unknown symbol.
    std::optional<TQuote> Quoted(const std::string& ASymbol) const;
    // Fills under market and exchange execution move against the trader by this many points.
    void SetMarketSlippage(double APoints);
    // The server's clock in milliseconds.
    long long Now() const;

    // The requests faults are injected for: those that open a trade, those that change stops.
    enum TFaultQueue { fqOpen, fqStops };
    // Injected answers, used in order by the following requests of the queue's kind.
    void Inject(TFaultQueue AQueue, const std::vector<TFault>& AFaults);

protected:
    // The members below expect FLock held.
    TQuote* Find(const std::string& ASymbol);
    const TQuote* Find(const std::string& ASymbol) const;
    // A new quote for ASymbol: the symbol's entry, or null for an unknown one.
    TQuote* Tick(const std::string& ASymbol, double ABid, double AAsk);
    // The next fault of a queue, if any, with AQuote's market (if given) moved as it says.
    std::optional<TFault> NextFault(TFaultQueue AQueue, TQuote* AQuote);
    // The price a buy or a sell fills at now: the ask or the bid, moved by the slippage under
    // market and exchange execution.
    double FillPrice(const TQuote& AQuote, int AType) const;
    // Profit in dollars of a buy or sell opened at AOpen, at the price it would close at now.
    static double ProfitNow(const TQuote& AQuote, int AType, double ALots, double AOpen);
    // A copy of a member of the market or the book, taken under the lock.
    template <class T> T Locked(const T& AValue) const {
        std::lock_guard lock(FLock);
        return AValue;
    }

    TClock FClock;
    // Guards the market and the server's book. Every public member of either takes it for its
    // whole call, from any thread; none calls out while holding it, so nothing waits inside it.
    mutable std::mutex FLock;

private:
    std::vector<TQuote> FQuotes;
    std::array<std::deque<TFault>, 2> FFaults;
    double FSlippage = 0;
};
