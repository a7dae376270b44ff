#pragma once
// A simulated MetaTrader 4 trade server for market orders: it quotes symbols, opens buys and sells
// under instant or market execution, modifies their stops, closes them at their stop-loss or
// take-profit, and answers with the terminal's error codes. Faults are injected per request so that
// a test can put an expert through requotes, busy contexts and timeouts, and through servers at
// their worst: an order placed after an unclear answer and listed only later or never, a comment
// changed at its end, a market that moves while requests travel. The book holds the orders of
// every account; the terminal sees those of the account it is logged in to, once they are listed.
// The symbols, quotes and faults are the market's (Market.h), shared with the MT5 server.
// Platform-free; every public member may be called from any thread (the market's lock guards the
// book).
//
// The rules follow the MQL4 reference:
//   error codes            https://docs.mql4.com/constants/errorswarnings/errorcodes
//   stop and freeze levels "Requirements and Limitations in Making Trades"
//                          (https://book.mql4.com/appendix/limits)
//   execution modes        https://docs.mql4.com/constants/environment_state/marketinfoconstants
//   OrderSend, OrderModify https://docs.mql4.com/trading/ordersend,
//                          https://docs.mql4.com/trading/ordermodify
//   answers 142 and 143    "Error Codes" (https://book.mql4.com/appendix/errors)

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tradeserver/Market.h"

// The answers of the server, with their MQL4 values.
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

// The market's symbols, quotes, slippage, clock and lock are TMarket's (Market.h).
class TTradeServer : public TMarket {
public:
    explicit TTradeServer(TClock AClock);

    // A new quote; closes what reached its stop or target and returns those orders.
    std::vector<TServerOrder> SetQuote(const std::string& ASymbol, double ABid, double AAsk);

    // Injected answers, used in order by the following sends or modifies.
    void InjectSendFaults(const std::vector<TFault>& AFaults) { Inject(fqOpen, AFaults); }
    void InjectModifyFaults(const std::vector<TFault>& AFaults) { Inject(fqStops, AFaults); }
    // The server keeps the first AKeep characters of every new order's comment and puts ATail
    // after them, as the OrderSend reference allows it to.
    void SetCommentEnd(std::size_t AKeep, const std::string& ATail);

    // The terminal logs in to another account: new orders are its, and the terminal lists only
    // its orders. The first account is 1.
    void Login(int AAccount);
    int Account() const { return Locked(FAccount); }
    // The logged-in account's money in dollars: what was deposited (10000 unless set) with the
    // profit of its closed orders, and with that of its open ones at the latest quotes.
    void SetDeposit(double ADollars);
    double Balance() const;
    double Equity() const;
    // The ticket of the next order. Tickets are unique on one server; an account at another
    // broker may well have orders with the same numbers as this one.
    void SetNextTicket(int ATicket);

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
    std::vector<TServerOrder> AllOrders() const { return Locked(FOrders); }
    std::vector<TServerRequest> Requests() const { return Locked(FRequests); }
    void ClearRequests();

private:
    bool Listed(const TServerOrder& AOrder) const;
    // The balance, and with AOpenToo the equity.
    double Money(bool AOpenToo) const;
    int CheckStops(const TQuote& AQuote, int AType, double AStopLoss, double ATakeProfit) const;

    // Guarded by the market's lock.
    std::vector<TServerOrder> FOrders;
    std::vector<TServerRequest> FRequests;
    std::optional<std::size_t> FCommentKeep;
    std::string FCommentTail;
    int FAccount = 1;
    int FNextTicket = 1;
    std::map<int, double> FDeposits; // per account; 10000 when not set
};
