#pragma once
// The MQL5 built-ins that the translated expert uses, over the simulated MT5 trade server
// (tradeserver/TradeServer5.h): the predefined variables, MQL5's trade structures and
// enumerations, and the market, account, trade, position and history functions with the
// signatures and the documented behaviour of the MQL5 reference (the page is named above each
// group). What MQL4 shares (types, strings, math, the terminal's global variables, the chart, the
// events) is in mql/runtime/MqlCommon.h. The translator (mql/mqltocpp.pl, given a .mq5) puts the
// expert into namespace mql5 as a class derived from TMql5Program. Platform-free.

#include <optional>
#include <vector>

#include "mql/runtime/MqlCommon.h"
#include "tradeserver/TradeServer5.h"

namespace mql5 {

using namespace mql;

// --- Runtime errors: https://www.mql5.com/en/docs/constants/errorswarnings/errorcodes ---------
constexpr int ERR_SUCCESS = 0;
constexpr int ERR_INVALID_PARAMETER = 4003;
constexpr int ERR_MARKET_UNKNOWN_SYMBOL = 4301;
constexpr int ERR_GLOBALVARIABLE_NOT_FOUND = 4501;
constexpr int ERR_TRADE_POSITION_NOT_FOUND = 4753;
constexpr int ERR_TRADE_DEAL_NOT_FOUND = 4755;
constexpr int ERR_TRADE_SEND_FAILED = 4756;

// --- Trade server return codes:
//     https://www.mql5.com/en/docs/constants/errorswarnings/enum_trade_return_codes ------------
constexpr uint TRADE_RETCODE_REQUOTE = 10004;
constexpr uint TRADE_RETCODE_REJECT = 10006;
constexpr uint TRADE_RETCODE_CANCEL = 10007;
constexpr uint TRADE_RETCODE_PLACED = 10008;
constexpr uint TRADE_RETCODE_DONE = 10009;
constexpr uint TRADE_RETCODE_DONE_PARTIAL = 10010;
constexpr uint TRADE_RETCODE_ERROR = 10011;
constexpr uint TRADE_RETCODE_TIMEOUT = 10012;
constexpr uint TRADE_RETCODE_INVALID = 10013;
constexpr uint TRADE_RETCODE_INVALID_VOLUME = 10014;
constexpr uint TRADE_RETCODE_INVALID_PRICE = 10015;
constexpr uint TRADE_RETCODE_INVALID_STOPS = 10016;
constexpr uint TRADE_RETCODE_TRADE_DISABLED = 10017;
constexpr uint TRADE_RETCODE_MARKET_CLOSED = 10018;
constexpr uint TRADE_RETCODE_NO_MONEY = 10019;
constexpr uint TRADE_RETCODE_PRICE_CHANGED = 10020;
constexpr uint TRADE_RETCODE_PRICE_OFF = 10021;
constexpr uint TRADE_RETCODE_INVALID_EXPIRATION = 10022;
constexpr uint TRADE_RETCODE_ORDER_CHANGED = 10023;
constexpr uint TRADE_RETCODE_TOO_MANY_REQUESTS = 10024;
constexpr uint TRADE_RETCODE_NO_CHANGES = 10025;
constexpr uint TRADE_RETCODE_SERVER_DISABLES_AT = 10026;
constexpr uint TRADE_RETCODE_CLIENT_DISABLES_AT = 10027;
constexpr uint TRADE_RETCODE_LOCKED = 10028;
constexpr uint TRADE_RETCODE_FROZEN = 10029;
constexpr uint TRADE_RETCODE_INVALID_FILL = 10030;
constexpr uint TRADE_RETCODE_CONNECTION = 10031;
constexpr uint TRADE_RETCODE_ONLY_REAL = 10032;
constexpr uint TRADE_RETCODE_LIMIT_ORDERS = 10033;
constexpr uint TRADE_RETCODE_LIMIT_VOLUME = 10034;
constexpr uint TRADE_RETCODE_INVALID_ORDER = 10035;
constexpr uint TRADE_RETCODE_POSITION_CLOSED = 10036;
constexpr uint TRADE_RETCODE_INVALID_CLOSE_VOLUME = 10038;
constexpr uint TRADE_RETCODE_CLOSE_ORDER_EXIST = 10039;
constexpr uint TRADE_RETCODE_LIMIT_POSITIONS = 10040;
constexpr uint TRADE_RETCODE_REJECT_CANCEL = 10041;
constexpr uint TRADE_RETCODE_LONG_ONLY = 10042;
constexpr uint TRADE_RETCODE_SHORT_ONLY = 10043;
constexpr uint TRADE_RETCODE_CLOSE_ONLY = 10044;
constexpr uint TRADE_RETCODE_FIFO_CLOSE = 10045;
constexpr uint TRADE_RETCODE_HEDGE_PROHIBITED = 10046;

// --- Trade enumerations:
// https://www.mql5.com/en/docs/constants/tradingconstants/enum_trade_request_actions,
//     https://www.mql5.com/en/docs/constants/tradingconstants/orderproperties (ENUM_ORDER_TYPE,
//     ENUM_ORDER_TYPE_FILLING, ENUM_ORDER_TYPE_TIME). The request actions and fillings have the
//     server's numbers (TTradeAction, TFilling). -----------------------------------------------
enum ENUM_TRADE_REQUEST_ACTIONS : int {
    TRADE_ACTION_DEAL = taDeal,
    TRADE_ACTION_PENDING = 5,
    TRADE_ACTION_SLTP = taSltp,
    TRADE_ACTION_MODIFY = 7,
    TRADE_ACTION_REMOVE = 8,
    TRADE_ACTION_CLOSE_BY = 10,
};
enum ENUM_ORDER_TYPE : int { ORDER_TYPE_BUY = otBuy, ORDER_TYPE_SELL = otSell };
enum ENUM_ORDER_TYPE_FILLING : int {
    ORDER_FILLING_FOK = fpFok,
    ORDER_FILLING_IOC = fpIoc,
    ORDER_FILLING_RETURN = fpReturn,
};
enum ENUM_ORDER_TYPE_TIME : int { ORDER_TIME_GTC = 0 };

// --- Position properties:
// https://www.mql5.com/en/docs/constants/tradingconstants/positionproperties
//     (identifiers by name only; the values are this runtime's own) --------------------------
enum ENUM_POSITION_PROPERTY_INTEGER : int {
    POSITION_TICKET,
    POSITION_TIME,
    POSITION_TIME_UPDATE,
    POSITION_TYPE,
    POSITION_MAGIC,
    POSITION_IDENTIFIER,
};
enum ENUM_POSITION_PROPERTY_DOUBLE : int {
    POSITION_VOLUME,
    POSITION_PRICE_OPEN,
    POSITION_SL,
    POSITION_TP,
    POSITION_PRICE_CURRENT,
    POSITION_PROFIT,
};
enum ENUM_POSITION_PROPERTY_STRING : int { POSITION_SYMBOL, POSITION_COMMENT };
enum ENUM_POSITION_TYPE : int { POSITION_TYPE_BUY = otBuy, POSITION_TYPE_SELL = otSell };

// --- Deal properties: https://www.mql5.com/en/docs/constants/tradingconstants/dealproperties --
enum ENUM_DEAL_PROPERTY_INTEGER : int {
    DEAL_TICKET,
    DEAL_ORDER,
    DEAL_TIME,
    DEAL_TYPE,
    DEAL_ENTRY,
    DEAL_MAGIC,
    DEAL_POSITION_ID,
};
enum ENUM_DEAL_PROPERTY_DOUBLE : int { DEAL_VOLUME, DEAL_PRICE, DEAL_PROFIT, DEAL_SL, DEAL_TP };
enum ENUM_DEAL_PROPERTY_STRING : int { DEAL_SYMBOL, DEAL_COMMENT };
enum ENUM_DEAL_TYPE : int { DEAL_TYPE_BUY = otBuy, DEAL_TYPE_SELL = otSell };
enum ENUM_DEAL_ENTRY : int {
    DEAL_ENTRY_IN = deIn,
    DEAL_ENTRY_OUT = deOut,
    DEAL_ENTRY_INOUT = deInOut,
    DEAL_ENTRY_OUT_BY = 3,
};

// --- Symbol properties:
// https://www.mql5.com/en/docs/constants/environment_state/marketinfoconstants
//     (the execution modes and SYMBOL_TRADE_EXEMODE are shared with MQL4; the filling flags
//     have their documented values) ------------------------------------------------------------
enum ENUM_SYMBOL_INFO_INTEGER : int {
    SYMBOL_DIGITS = 100,
    SYMBOL_SPREAD,
    SYMBOL_TRADE_STOPS_LEVEL,
    SYMBOL_TRADE_FREEZE_LEVEL,
    SYMBOL_FILLING_MODE,
    SYMBOL_TRADE_MODE,
};
enum ENUM_SYMBOL_INFO_DOUBLE : int {
    SYMBOL_BID = 200,
    SYMBOL_ASK,
    SYMBOL_POINT,
    SYMBOL_VOLUME_MIN,
    SYMBOL_VOLUME_MAX,
    SYMBOL_VOLUME_STEP,
    SYMBOL_VOLUME_LIMIT,
    SYMBOL_TRADE_CONTRACT_SIZE,
    SYMBOL_TRADE_TICK_VALUE, // per lot, in the account's currency, for a move of one tick
    SYMBOL_TRADE_TICK_SIZE,  // the smallest price change
};
constexpr int SYMBOL_FILLING_FOK = sfFok;
constexpr int SYMBOL_FILLING_IOC = sfIoc;
enum ENUM_SYMBOL_TRADE_MODE : int {
    SYMBOL_TRADE_MODE_DISABLED,
    SYMBOL_TRADE_MODE_LONGONLY,
    SYMBOL_TRADE_MODE_SHORTONLY,
    SYMBOL_TRADE_MODE_CLOSEONLY,
    SYMBOL_TRADE_MODE_FULL,
};

// --- Account properties:
// https://www.mql5.com/en/docs/constants/environment_state/accountinformation
//     (ENUM_ACCOUNT_MARGIN_MODE with its documented values) -----------------------------------
enum ENUM_ACCOUNT_INFO_INTEGER : int {
    ACCOUNT_LOGIN = 300,
    ACCOUNT_MARGIN_MODE,
    ACCOUNT_TRADE_ALLOWED,
    ACCOUNT_TRADE_EXPERT,
};
enum ENUM_ACCOUNT_INFO_DOUBLE : int { ACCOUNT_BALANCE = 400, ACCOUNT_EQUITY, ACCOUNT_MARGIN_FREE };
enum ENUM_ACCOUNT_INFO_STRING : int { ACCOUNT_CURRENCY = 500 };
enum ENUM_ACCOUNT_MARGIN_MODE : int {
    ACCOUNT_MARGIN_MODE_RETAIL_NETTING = 0,
    ACCOUNT_MARGIN_MODE_EXCHANGE = 1,
    ACCOUNT_MARGIN_MODE_RETAIL_HEDGING = 2,
};

// --- Trade structures: https://www.mql5.com/en/docs/constants/structures/mqltraderequest,
//     https://www.mql5.com/en/docs/constants/structures/mqltraderesult,
//     https://www.mql5.com/en/docs/constants/structures/mqltradecheckresult,
//     https://www.mql5.com/en/docs/constants/structures/mqltick -------------------------------
struct MqlTradeRequest {
    ENUM_TRADE_REQUEST_ACTIONS action{};
    ulong magic = 0;
    ulong order = 0;
    string symbol;
    double volume = 0;
    double price = 0;
    double stoplimit = 0;
    double sl = 0;
    double tp = 0;
    ulong deviation = 0;
    ENUM_ORDER_TYPE type{};
    ENUM_ORDER_TYPE_FILLING type_filling{};
    ENUM_ORDER_TYPE_TIME type_time{};
    datetime expiration = 0;
    string comment;
    ulong position = 0;
    ulong position_by = 0;
};

struct MqlTradeResult {
    uint retcode = 0;
    ulong deal = 0;
    ulong order = 0;
    double volume = 0;
    double price = 0;
    double bid = 0;
    double ask = 0;
    string comment;
    uint request_id = 0;
    uint retcode_external = 0;
};

struct MqlTradeCheckResult {
    uint retcode = 0;
    double balance = 0;
    double equity = 0;
    double profit = 0;
    double margin = 0;
    double margin_free = 0;
    double margin_level = 0;
    string comment;
};

struct MqlTick {
    datetime time = 0;
    double bid = 0;
    double ask = 0;
    double last = 0;
    ulong volume = 0;
    mql_long time_msc = 0;
    uint flags = 0;
    double volume_real = 0;
};

// https://www.mql5.com/en/docs/common/zeromemory
template <class T> void ZeroMemory(T& AValue) {
    AValue = T{};
}

// One running MQL5 program on one chart: the shared program base with MQL5's predefined
// variables and its market, account and trade functions over the MT5 server.
class TMql5Program : public TMqlProgramBase {
public:
    TMql5Program(TTradeServer5& AServer, TMqlHost& AHost, TMqlChart AChart);

protected:
    // --- Predefined variables: https://www.mql5.com/en/docs/predefined ------------------------
    string _Symbol;
    double _Point = 0;
    int _Digits = 0;
    // https://www.mql5.com/en/docs/check/point, https://www.mql5.com/en/docs/check/digits
    double Point() const { return _Point; }
    int Digits() const { return _Digits; }

    // --- Date and time: https://www.mql5.com/en/docs/dateandtime/timecurrent ------------------
    datetime TimeCurrent() { return FServer.Now() / 1000; }

    // --- Market info: https://www.mql5.com/en/docs/marketinformation (SymbolInfoDouble,
    //     SymbolInfoInteger, SymbolInfoTick) -------------------------------------------------
    double SymbolInfoDouble(const string& ASymbol, int AProperty);
    mql_long SymbolInfoInteger(const string& ASymbol, int AProperty);
    bool SymbolInfoTick(const string& ASymbol, MqlTick& ATick);

    // --- Account information: https://www.mql5.com/en/docs/account -----------------------------
    mql_long AccountInfoInteger(int AProperty);
    double AccountInfoDouble(int AProperty);
    string AccountInfoString(int AProperty);

    // --- Trade functions: https://www.mql5.com/en/docs/trading/ordercheck,
    //     https://www.mql5.com/en/docs/trading/ordersend -----------------------------------------
    // OrderCheck: true when the server's rules would take the request (retcode 0).
    bool OrderCheck(const MqlTradeRequest& ARequest, MqlTradeCheckResult& AResult);
    // OrderSend: true when the server took the request (placed, done or done in part); the
    // result tells what happened either way. Only TRADE_ACTION_DEAL and TRADE_ACTION_SLTP reach
    // the simulated server.
    bool OrderSend(const MqlTradeRequest& ARequest, MqlTradeResult& AResult);

    // --- Positions: https://www.mql5.com/en/docs/trading/positionstotal, positiongetticket,
    //     positionselectbyticket, positiongetinteger, positiongetdouble, positiongetstring -------
    int PositionsTotal();
    ulong PositionGetTicket(int AIndex);
    bool PositionSelectByTicket(ulong ATicket);
    mql_long PositionGetInteger(int AProperty);
    double PositionGetDouble(int AProperty);
    string PositionGetString(int AProperty);

    // --- History: https://www.mql5.com/en/docs/trading/historyselect, historydealstotal,
    //     historydealgetticket, historydealgetinteger, historydealgetdouble,
    //     historydealgetstring -----------------------------------------------------------------
    bool HistorySelect(datetime AFrom, datetime ATo);
    // https://www.mql5.com/en/docs/trading/historyselectbyposition,
    // https://www.mql5.com/en/docs/trading/historydealselect
    bool HistorySelectByPosition(mql_long APositionId);
    bool HistoryDealSelect(ulong ATicket);
    int HistoryDealsTotal();
    ulong HistoryDealGetTicket(int AIndex);
    mql_long HistoryDealGetInteger(ulong ATicket, int AProperty);
    double HistoryDealGetDouble(ulong ATicket, int AProperty);
    string HistoryDealGetString(ulong ATicket, int AProperty);

private:
    void RefreshPredefined() override;
    datetime ServerTime() override { return TimeCurrent(); }
    const TDeal5* Deal(ulong ATicket);
    const TPosition5* Position();

    TTradeServer5& FServer;
    std::optional<TPosition5> FPosition; // the selected position
    std::vector<TDeal5> FHistory;        // the deals HistorySelect and its kin chose
    uint FRequestId = 0;
};

} // namespace mql5
