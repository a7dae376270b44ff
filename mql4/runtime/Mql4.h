#pragma once
// The MQL4 built-ins that the translated expert uses, over the simulated trade server: the
// predefined variables, the error codes and the market and trade functions with the signatures
// and the documented behaviour of the MQL4 reference (the page is named above each group); what
// MQL5 shares is in MqlCommon.h. The
// translator (mql/mqltocpp.pl) puts the expert into namespace mql4 as a class derived from
// TMqlProgram, so that each chart's expert is one object whose globals live as long as it does.
// Platform-free.

#include <optional>

#include "mql/runtime/MqlCommon.h"
#include "tradeserver/TradeServer.h"

namespace mql4 {

using namespace mql;

// --- Trade server return codes and runtime errors: ---------------------------------------
// https://docs.mql4.com/constants/errorswarnings/errorcodes (stderror.mqh)
constexpr int ERR_NO_ERROR = 0;
constexpr int ERR_NO_RESULT = 1;
constexpr int ERR_COMMON_ERROR = 2;
constexpr int ERR_INVALID_TRADE_PARAMETERS = 3;
constexpr int ERR_SERVER_BUSY = 4;
constexpr int ERR_OLD_VERSION = 5;
constexpr int ERR_NO_CONNECTION = 6;
constexpr int ERR_NOT_ENOUGH_RIGHTS = 7;
constexpr int ERR_TOO_FREQUENT_REQUESTS = 8;
constexpr int ERR_MALFUNCTIONAL_TRADE = 9;
constexpr int ERR_ACCOUNT_DISABLED = 64;
constexpr int ERR_INVALID_ACCOUNT = 65;
constexpr int ERR_TRADE_TIMEOUT = 128;
constexpr int ERR_INVALID_PRICE = 129;
constexpr int ERR_INVALID_STOPS = 130;
constexpr int ERR_INVALID_TRADE_VOLUME = 131;
constexpr int ERR_MARKET_CLOSED = 132;
constexpr int ERR_TRADE_DISABLED = 133;
constexpr int ERR_NOT_ENOUGH_MONEY = 134;
constexpr int ERR_PRICE_CHANGED = 135;
constexpr int ERR_OFF_QUOTES = 136;
constexpr int ERR_BROKER_BUSY = 137;
constexpr int ERR_REQUOTE = 138;
constexpr int ERR_ORDER_LOCKED = 139;
constexpr int ERR_LONG_POSITIONS_ONLY_ALLOWED = 140;
constexpr int ERR_TOO_MANY_REQUESTS = 141;
constexpr int ERR_TRADE_MODIFY_DENIED = 145;
constexpr int ERR_TRADE_CONTEXT_BUSY = 146;
constexpr int ERR_TRADE_EXPIRATION_DENIED = 147;
constexpr int ERR_TRADE_TOO_MANY_ORDERS = 148;
constexpr int ERR_TRADE_HEDGE_PROHIBITED = 149;
constexpr int ERR_TRADE_PROHIBITED_BY_FIFO = 150;
constexpr int ERR_INVALID_FUNCTION_PARAMVALUE = 4051;
constexpr int ERR_GLOBAL_VARIABLE_NOT_FOUND = 4058;
constexpr int ERR_UNKNOWN_SYMBOL = 4106;
constexpr int ERR_INVALID_TICKET = 4108;
constexpr int ERR_TRADE_NOT_ALLOWED = 4109;
constexpr int ERR_LONGS_NOT_ALLOWED = 4110;
constexpr int ERR_SHORTS_NOT_ALLOWED = 4111;

// --- Trade operations and order selection: https://docs.mql4.com/constants/tradingconstants
//     and https://docs.mql4.com/trading/orderselect ----------------------------------------
constexpr int OP_BUY = 0;
constexpr int OP_SELL = 1;
constexpr int SELECT_BY_POS = 0;
constexpr int SELECT_BY_TICKET = 1;
constexpr int MODE_TRADES = 0;
constexpr int MODE_HISTORY = 1;

// --- MarketInfo identifiers: https://docs.mql4.com/constants/environment_state/marketinfoconstants
constexpr int MODE_BID = 9;
constexpr int MODE_ASK = 10;
constexpr int MODE_POINT = 11;
constexpr int MODE_DIGITS = 12;
constexpr int MODE_SPREAD = 13;
constexpr int MODE_STOPLEVEL = 14;
constexpr int MODE_LOTSIZE = 15;
constexpr int MODE_TICKVALUE = 16; // per lot, in the deposit currency, for a move of one tick
constexpr int MODE_TICKSIZE = 17;  // the reference says "in points"; terminals give a price
constexpr int MODE_TRADEALLOWED = 22;
constexpr int MODE_MINLOT = 23;
constexpr int MODE_LOTSTEP = 24;
constexpr int MODE_MAXLOT = 25;
constexpr int MODE_FREEZELEVEL = 33;

// One running MQL4 program on one chart: the shared program base (MqlCommon.h) with MQL4's
// predefined variables and its market and trade functions over the MT4 server.
class TMqlProgram : public TMqlProgramBase {
public:
    TMqlProgram(TTradeServer& AServer, TMqlHost& AHost, TMqlChart AChart);

protected:
    // --- Predefined variables: https://docs.mql4.com/predefined ----------------------------
    double Ask = 0;
    double Bid = 0;
    double Point = 0;
    int Digits = 0;

    // --- Date and time: https://docs.mql4.com/dateandtime/timecurrent -------------------------
    // The server's time in seconds; the simulated server counts from its own start.
    datetime TimeCurrent() { return FServer.Now() / 1000; }

    // --- Account information: https://docs.mql4.com/account/accountnumber ----------------------
    int AccountNumber() { return FServer.Account(); }
    // https://docs.mql4.com/account/accountequity, https://docs.mql4.com/account/accountbalance,
    // https://docs.mql4.com/account/accountcurrency; the simulated server keeps dollars.
    double AccountEquity() { return FServer.Equity(); }
    double AccountBalance() { return FServer.Balance(); }
    string AccountCurrency() { return string("USD"); }

    // --- Market info: https://docs.mql4.com/marketinformation ---------------------------------
    bool RefreshRates();
    double MarketInfo(const string& ASymbol, int AType);
    mql_long SymbolInfoInteger(const string& ASymbol, int AProperty);

    // --- Trade functions: https://docs.mql4.com/trading ---------------------------------------
    // Only market orders (OP_BUY, OP_SELL) reach the simulated server. The terminal has one
    // trade context: a second program's request while one is under way gets
    // ERR_TRADE_CONTEXT_BUSY.
    int OrderSend(const string& ASymbol, int ACmd, double AVolume, double APrice, int ASlippage,
                  double AStopLoss, double ATakeProfit, const string& AComment = string(),
                  int AMagic = 0, datetime AExpiration = 0, color AArrow = clrNONE);
    bool OrderModify(int ATicket, double APrice, double AStopLoss, double ATakeProfit,
                     datetime AExpiration, color AArrow = clrNONE);
    // The orders the terminal lists (TTradeServer::ListedOrders): open ones in MODE_TRADES,
    // closed ones in MODE_HISTORY (https://docs.mql4.com/trading/ordershistorytotal).
    int OrdersTotal();
    int OrdersHistoryTotal();
    bool OrderSelect(int AIndex, int ASelect, int APool = MODE_TRADES);
    int OrderTicket();
    string OrderSymbol();
    int OrderType();
    double OrderLots();
    double OrderOpenPrice();
    double OrderStopLoss();
    double OrderTakeProfit();
    int OrderMagicNumber();
    string OrderComment();
    datetime OrderOpenTime(); // https://docs.mql4.com/trading/orderopentime
    datetime OrderCloseTime();

private:
    void RefreshPredefined() override { RefreshRates(); }
    datetime ServerTime() override { return TimeCurrent(); }
    const TServerOrder& Selected();

    TTradeServer& FServer;
    std::optional<TServerOrder> FSelected;
};

} // namespace mql4
