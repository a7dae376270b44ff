#pragma once
// A simulated MetaTrader 4 trade server for market orders: it quotes symbols, opens buys and sells
// under instant or market execution, modifies their stops, closes them at their stop-loss or
// take-profit, and answers with the terminal's error codes. Faults are injected per request so that
// a test can put an expert through requotes, busy contexts and timeouts, and through servers at
// their worst: an order placed after an unclear answer and listed only later or never, a comment
// changed at its end, a market that moves while requests travel. The book holds the orders of
// every account; the terminal sees those of the account it is logged in to, once they are listed.
// Platform-free; every public member may be called from any thread (one mutex guards the book).
//
// The rules follow the MQL4 reference:
//   error codes            https://docs.mql4.com/constants/errorswarnings/errorcodes
//   stop and freeze levels "Requirements and Limitations in Making Trades"
//                          (https://book.mql4.com/appendix/limits)
//   execution modes        https://docs.mql4.com/constants/environment_state/marketinfoconstants
//   OrderSend, OrderModify https://docs.mql4.com/trading/ordersend,
//                          https://docs.mql4.com/trading/ordermodify
//   answers 142 and 143    "Error Codes" (https://book.mql4.com/appendix/errors)

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Order types and answers of the server, with their MQL4 values.
enum TOrderType : int { otBuy = 0, otSell = 1 };

enum TTradeError : int {
    teNone = 0,
    teNoResult = 1,
    teCommonError = 2,
    teInvalidTradeParameters = 3,
    teServerBusy = 4,
    teNoConnection = 6,
    teTooFrequentRequests = 8,
    teTradeTimeout = 128,
    teInvalidPrice = 129,
    teInvalidStops = 130,
    teInvalidTradeVolume = 131,
    teMarketClosed = 132,
    teTradeDisabled = 133,
    teNotEnoughMoney = 134,
    tePriceChanged = 135,
    teOffQuotes = 136,
    teBrokerBusy = 137,
    teRequote = 138,
    teOrderQueued = 142,    // the order is queued at the server
    teDealerAccepted = 143, // the dealer accepted the order for execution
    teTradeModifyDenied = 145,
    teTradeContextBusy = 146,
    teUnknownSymbol = 4106,
    teInvalidTicket = 4108,
};

enum class TExecution { Instant, Market };

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
    double ContractSize = 100000; // units of the base currency per lot
    bool DollarIsBase = false;    // profit in the quote currency, converted at the close price
    bool TradeAllowed = true;
    bool MarketOpen = true;
};

struct TServerOrder {
    int Ticket = 0;
    std::string Symbol;
    int Type = otBuy;
    double Lots = 0;
    double OpenPrice = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    int Magic = 0;
    std::string Comment;
    long long OpenTime = 0; // milliseconds of the server clock
    long long CloseTime = 0;
    double ClosePrice = 0;
    std::string CloseReason; // "stop-loss", "take-profit"
    double Profit = 0;       // in dollars, at the close or at the latest quote
    int Account = 0;         // the account it belongs to
    long long ListedAt = 0;  // when the terminal first lists it, on the server clock
    bool Closed() const { return CloseTime != 0; }
};

// One request as the server received it, with its answer.
struct TServerRequest {
    enum TKind { rkSend, rkModify } Kind;
    std::string Symbol;
    int Type = 0;
    double Lots = 0;
    double Price = 0;
    int Slippage = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    int Magic = 0;
    std::string Comment;
    int Ticket = 0; // the order modified, or the order opened
    int Answer = teNone;
};

// What happens to one request instead of the normal rules.
struct TFault {
    static constexpr long long Never = 1LL << 50; // ListAfterMs beyond any wait of a test

    int Error = teNone;        // the answer
    bool PlaceAnyway = false;  // with an error: the order is opened all the same
    double MoveBidPoints = 0;  // the market moves before the server answers (requotes, slippage)
    long long ListAfterMs = 0; // with PlaceAnyway: the terminal lists the order only this late
};

class TTradeServer {
public:
    using TClock = std::function<long long()>; // milliseconds, monotonic

    explicit TTradeServer(TClock AClock);

    void AddSymbol(const TSymbolRules& ARules);
    std::optional<TSymbolRules> Rules(const std::string& ASymbol) const;
    void SetRules(const TSymbolRules& ARules);

    // A new quote; closes what reached its stop or target and returns those orders.
    std::vector<TServerOrder> SetQuote(const std::string& ASymbol, double ABid, double AAsk);
    // Bid and ask of a symbol; false for an unknown one.
    bool Quote(const std::string& ASymbol, double& ABid, double& AAsk) const;

    // Injected answers, used in order by the following sends or modifies.
    void InjectSendFaults(const std::vector<TFault>& AFaults);
    void InjectModifyFaults(const std::vector<TFault>& AFaults);
    // Fills under market execution move against the trader by this many points.
    void SetMarketSlippage(double APoints);
    // The server keeps the first AKeep characters of every new order's comment and puts ATail
    // after them, as the OrderSend reference allows it to.
    void SetCommentEnd(std::size_t AKeep, const std::string& ATail);

    // The terminal logs in to another account: new orders are its, and the terminal lists only
    // its orders. The first account is 1.
    void Login(int AAccount);
    int Account() const;
    // The ticket of the next order. Tickets are unique on one server; an account at another
    // broker may well have orders with the same numbers as this one.
    void SetNextTicket(int ATicket);
    // The server's clock in milliseconds.
    long long Now() const;

    // OrderSend for a buy or a sell: the ticket, or -1 with AError set.
    int Send(const std::string& ASymbol, int AType, double ALots, double APrice, int ASlippage,
             double AStopLoss, double ATakeProfit, const std::string& AComment, int AMagic,
             int& AError);
    // OrderModify of an open order's stops; AError teNone on success.
    bool Modify(int ATicket, double AStopLoss, double ATakeProfit, int& AError);

    // What the terminal lists: the orders of the logged-in account that are listed by now, open
    // and closed.
    std::vector<TServerOrder> ListedOrders() const;
    std::optional<TServerOrder> ListedOrder(int ATicket) const;

    // The whole book, as placed, whatever the terminal lists: for the tests and the demo.
    std::vector<TServerOrder> OpenOrders() const;
    std::optional<TServerOrder> Order(int ATicket) const;
    std::vector<TServerOrder> AllOrders() const;
    std::vector<TServerRequest> Requests() const;
    void ClearRequests();

private:
    struct TMarket {
        TSymbolRules Rules;
        double Bid = 0;
        double Ask = 0;
    };
    TMarket* Find(const std::string& ASymbol);
    const TMarket* Find(const std::string& ASymbol) const;
    bool Listed(const TServerOrder& AOrder) const;
    static std::optional<TFault> Next(std::deque<TFault>& AFaults);
    void MoveMarket(TMarket& AMarket, double APoints);
    void Revalue(TServerOrder& AOrder, const TMarket& AMarket);
    int CheckStops(const TMarket& AMarket, int AType, double AStopLoss, double ATakeProfit) const;

    TClock FClock;
    mutable std::mutex FLock; // guards everything below
    std::vector<TMarket> FMarkets;
    std::vector<TServerOrder> FOrders;
    std::vector<TServerRequest> FRequests;
    std::deque<TFault> FSendFaults;
    std::deque<TFault> FModifyFaults;
    double FMarketSlippage = 0;
    std::optional<std::size_t> FCommentKeep;
    std::string FCommentTail;
    int FAccount = 1;
    int FNextTicket = 1;
};

// Profit in dollars of an order closed at `AClose`.
double OrderProfit(const TSymbolRules& ARules, int AType, double ALots, double AOpen,
                   double AClose);
