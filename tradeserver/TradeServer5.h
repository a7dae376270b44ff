#pragma once
// A simulated MetaTrader 5 trade server on the market it shares with the MT4 one (Market.h):
// market deals with positions, deals and orders, each with its ticket; netting and hedging
// accounts; filling policies by execution mode; position stops set with TRADE_ACTION_SLTP; stop
// and freeze levels; and MT5's return codes. Faults are injected per request as for MT4,
// including an unclear answer whose deal is listed only later. Platform-free; every public
// member may be called from any thread (the market's lock guards the book).
//
// The rules follow the MQL5 reference and the terminal's help:
//   return codes https://www.mql5.com/en/docs/constants/errorswarnings/enum_trade_return_codes
//   request, result    https://www.mql5.com/en/docs/constants/structures/mqltraderequest,
//                      https://www.mql5.com/en/docs/constants/structures/mqltraderesult
//   fill policies      "Fill Policy" (https://www.metatrader5.com/en/mobile-trading/iphone/help/
//                      trade/general_concept/fill_policy): Fill or Kill under instant and request
//                      execution; Fill or Kill and Immediate or Cancel as the symbol allows under
//                      market and exchange execution; Return under exchange execution only
//   positions, deals   https://www.mql5.com/en/docs/constants/tradingconstants/positionproperties,
//                      https://www.mql5.com/en/docs/constants/tradingconstants/dealproperties
//   netting, hedging   https://www.mql5.com/en/book/automation/account/account_netting_hedge;
//                      and the terminal help's "Rules of Stop Loss and Take Profit inheritance"
//                      (as a broker reprints it: https://help.gt247.com/support/solutions/
//                      articles/13000054838): an order that increases or reverses a netting
//                      position replaces its S/L and T/P, zeros deleting them; one that reduces
//                      it leaves them

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tradeserver/Market.h"

// MqlTradeResult::retcode, with MT5's values.
enum TRetcode : unsigned {
    rcNone = 0,
    rcRequote = 10004,
    rcReject = 10006,
    rcCancel = 10007,
    rcPlaced = 10008,
    rcDone = 10009,
    rcDonePartial = 10010,
    rcError = 10011,
    rcTimeout = 10012,
    rcInvalid = 10013,
    rcInvalidVolume = 10014,
    rcInvalidPrice = 10015,
    rcInvalidStops = 10016,
    rcTradeDisabled = 10017,
    rcMarketClosed = 10018,
    rcNoMoney = 10019,
    rcPriceChanged = 10020,
    rcPriceOff = 10021,
    rcInvalidExpiration = 10022,
    rcOrderChanged = 10023,
    rcTooManyRequests = 10024,
    rcNoChanges = 10025,
    rcServerDisablesAt = 10026,
    rcClientDisablesAt = 10027,
    rcLocked = 10028,
    rcFrozen = 10029,
    rcInvalidFill = 10030,
    rcConnection = 10031,
    rcOnlyReal = 10032,
    rcLimitOrders = 10033,
    rcLimitVolume = 10034,
    rcInvalidOrder = 10035,
    rcPositionClosed = 10036,
    rcInvalidCloseVolume = 10038,
    rcCloseOrderExist = 10039,
    rcLimitPositions = 10040,
    rcRejectCancel = 10041,
    rcLongOnly = 10042,
    rcShortOnly = 10043,
    rcCloseOnly = 10044,
    rcFifoClose = 10045,
    rcHedgeProhibited = 10046,
};

// ENUM_TRADE_REQUEST_ACTIONS, ENUM_ORDER_TYPE_FILLING and ENUM_DEAL_ENTRY as the server knows
// them; the runtime maps MQL5's identifiers onto these.
enum TTradeAction : int { taDeal = 1, taSltp = 6 };
enum TFilling : int { fpFok = 0, fpIoc = 1, fpReturn = 2 };
enum TDealEntry : int { deIn = 0, deOut = 1, deInOut = 2 };

struct TTradeRequest5 {
    int Action = taDeal;
    long long Magic = 0;
    std::string Symbol;
    double Volume = 0;
    double Price = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    long long Deviation = 0; // points
    int Type = otBuy;
    int Filling = fpFok;
    std::string Comment;
    long long Position = 0; // the position whose stops TRADE_ACTION_SLTP sets
};

struct TTradeResult5 {
    unsigned Retcode = rcNone;
    long long Deal = 0;
    long long Order = 0;
    double Volume = 0;
    double Price = 0;
    double Bid = 0;
    double Ask = 0;
    std::string Comment;
};

// OrderCheck's answer: rcNone when the request would be taken.
struct TTradeCheck5 {
    unsigned Retcode = rcNone;
    double Balance = 0;
    double Equity = 0;
    double Margin = 0;
    double MarginFree = 0;
    std::string Comment;
};

struct TPosition5 {
    long long Ticket = 0;
    long long Identifier = 0; // kept through a netting position's reversal
    std::string Symbol;
    int Type = otBuy;
    double Volume = 0;
    double PriceOpen = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    long long Magic = 0;
    std::string Comment;
    long long Time = 0;       // milliseconds of the server clock
    long long TimeUpdate = 0; // the last deal that changed it
    double Profit = 0;
    int Account = 0;
    long long ListedAt = 0;
};

struct TDeal5 {
    long long Ticket = 0;
    long long Order = 0;
    long long PositionId = 0;
    std::string Symbol;
    int Type = otBuy; // DEAL_TYPE_BUY or DEAL_TYPE_SELL
    int Entry = deIn;
    double Volume = 0;
    double Price = 0;
    double Profit = 0;
    double StopLoss = 0;
    double TakeProfit = 0;
    long long Magic = 0;
    std::string Comment; // the order's, or "sl"/"tp" for a close at a stop
    long long Time = 0;
    int Account = 0;
    long long ListedAt = 0;
};

// A market order of the history: every deal comes from one (a close at a stop-loss or take-profit
// from the server's own).
struct TOrder5 {
    long long Ticket = 0;
    long long PositionId = 0;
    std::string Symbol;
    int Type = otBuy;
    int Filling = fpFok;
    double VolumeInitial = 0;
    double VolumeFilled = 0; // less than VolumeInitial after a partial fill: the rest cancelled
    long long Magic = 0;
    std::string Comment;
    long long Time = 0;
    int Account = 0;
};

// One request as the server received it, with its answer.
struct TServerRequest5 {
    TTradeRequest5 Request;
    TTradeResult5 Result;
};

// The market's symbols, quotes, slippage, clock and lock are TMarket's (Market.h).
class TTradeServer5 : public TMarket {
public:
    explicit TTradeServer5(TClock AClock);

    // A new quote; closes the positions that reached their stop or target and returns the deals.
    std::vector<TDeal5> SetQuote(const std::string& ASymbol, double ABid, double AAsk);

    // Injected answers, used in order by the following deals or SLTP requests.
    void InjectDealFaults(const std::vector<TFault>& AFaults) { Inject(fqOpen, AFaults); }
    void InjectSltpFaults(const std::vector<TFault>& AFaults) { Inject(fqStops, AFaults); }

    // The terminal logs in to an account; an account seen first gets this mode and balance.
    // The first account is 1, hedging, with 10000 dollars at 1:100.
    void Login(int AAccount, bool AHedging = true, double ABalance = 10000);
    // After a restart the terminal lists the account's positions and deals only once it has
    // synchronised with the server, this many milliseconds from now.
    void Synchronise(long long AAfterMs);
    // Whether the account may trade at all (ACCOUNT_TRADE_ALLOWED) and by experts
    // (ACCOUNT_TRADE_EXPERT); a request the account may not make is answered 10017 or 10026.
    void SetAccountTrading(bool AAllowed, bool AExperts);
    bool AccountTradeAllowed() const;
    bool AccountTradeExpert() const;
    // The broker keeps only the first AKeep characters of an order's comment and appends ATail.
    void SetCommentEnd(std::size_t AKeep, const std::string& ATail);
    int Account() const { return Locked(FAccount); }
    bool Hedging() const;
    double Balance() const;
    // The logged-in account's balance is set to this many dollars.
    void SetDeposit(double ADollars);
    double Leverage() const { return 100; }
    void SetNextTicket(long long ATicket);

    // OrderSend for TRADE_ACTION_DEAL (buy or sell at market) and TRADE_ACTION_SLTP.
    TTradeResult5 Send(const TTradeRequest5& ARequest);
    // OrderCheck: the same rules without faults, without the market moving, and with the margin.
    TTradeCheck5 Check(const TTradeRequest5& ARequest) const;

    // What the terminal lists: the logged-in account's open positions and its deals, listed by now.
    std::vector<TPosition5> ListedPositions() const;
    std::vector<TDeal5> ListedDeals() const;

    // The whole book, whatever the terminal lists: for the tests and the demo.
    std::vector<TPosition5> Positions() const { return Locked(FPositions); }
    std::vector<TDeal5> Deals() const { return Locked(FDeals); }
    std::vector<TOrder5> Orders() const { return Locked(FOrders); }
    std::vector<TServerRequest5> Requests() const { return Locked(FRequests); }
    void ClearRequests();

private:
    struct TAccount {
        bool Hedging = true;
        double Balance = 0;
        bool TradeAllowed = true;
        bool TradeExpert = true;
    };
    bool Listed(long long AListedAt, int AAccount) const;
    // The answer the rules give a request, before any deal is made; rcNone when it is taken.
    unsigned Validate(const TTradeRequest5& ARequest, const TQuote& AQuote, bool ACheckPrice,
                      double& AMargin) const;
    static bool FillingAllowed(const TSymbolRules& ARules, int AFilling);
    double MarginOf(const TQuote& AQuote, double AVolume) const;
    double MarginUsed() const;
    TTradeResult5 Deal(const TTradeRequest5& ARequest, TQuote& AQuote,
                       const std::optional<TFault>& AFault);
    TTradeResult5 SetStops(const TTradeRequest5& ARequest);

    // Guarded by the market's lock.
    std::vector<TPosition5> FPositions; // open ones; a closed position leaves only its deals
    std::vector<TDeal5> FDeals;
    std::vector<TOrder5> FOrders;
    std::vector<TServerRequest5> FRequests;
    std::map<int, TAccount> FAccounts;
    int FAccount = 1;
    long long FNextTicket = 1000;
    long long FNextDeal = 5000;
    long long FSyncedAt = 0;
    std::optional<std::size_t> FCommentKeep;
    std::string FCommentTail;
};
