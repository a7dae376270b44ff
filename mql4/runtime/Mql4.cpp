#include "mql4/runtime/Mql4.h"

#include <algorithm>
#include <mutex>

namespace mql4 {

namespace {

// The terminal's one trade context, shared by every program in the process.
std::mutex TradeContext;

std::vector<TServerOrder> Pool(const TTradeServer& AServer, int APool) {
    std::vector<TServerOrder> orders;
    for (const TServerOrder& order : AServer.ListedOrders())
        if (order.Closed() == (APool == MODE_HISTORY))
            orders.push_back(order);
    return orders;
}

} // namespace

TMqlProgram::TMqlProgram(TTradeServer& AServer, TMqlHost& AHost, TMqlChart AChart)
    : TMqlProgramBase(AHost, std::move(AChart),
                      {ERR_INVALID_FUNCTION_PARAMVALUE, ERR_GLOBAL_VARIABLE_NOT_FOUND}),
      FServer(AServer) {}

bool TMqlProgram::RefreshRates() {
    const auto rules = FServer.Rules(FChart.Symbol);
    if (!rules)
        return false;
    const double oldBid = Bid;
    const double oldAsk = Ask;
    FServer.Quote(FChart.Symbol, Bid, Ask);
    Point = rules->Point;
    Digits = rules->Digits;
    return Bid != oldBid || Ask != oldAsk;
}

double TMqlProgram::MarketInfo(const string& ASymbol, int AType) {
    const auto symbol = FServer.Quoted(ASymbol.Std());
    if (!symbol) {
        FLastError = ERR_UNKNOWN_SYMBOL;
        return 0;
    }
    const TSymbolRules& rules = symbol->Rules;
    return Property<double>(AType,
                            {{MODE_BID, symbol->Bid},
                             {MODE_ASK, symbol->Ask},
                             {MODE_POINT, rules.Point},
                             {MODE_DIGITS, rules.Digits},
                             {MODE_SPREAD, std::round((symbol->Ask - symbol->Bid) / rules.Point)},
                             {MODE_STOPLEVEL, rules.StopLevel},
                             {MODE_LOTSIZE, rules.ContractSize},
                             {MODE_TICKVALUE, TickValue(rules, symbol->Bid)},
                             {MODE_TICKSIZE, rules.Point},
                             {MODE_TRADEALLOWED, rules.TradeAllowed},
                             {MODE_MINLOT, rules.MinLot},
                             {MODE_LOTSTEP, rules.LotStep},
                             {MODE_MAXLOT, rules.MaxLot},
                             {MODE_FREEZELEVEL, rules.FreezeLevel}});
}

mql_long TMqlProgram::SymbolInfoInteger(const string& ASymbol, int AProperty) {
    const auto rules = FServer.Rules(ASymbol.Std());
    if (!rules) {
        FLastError = ERR_UNKNOWN_SYMBOL;
        return 0;
    }
    if (AProperty == SYMBOL_TRADE_EXEMODE)
        return rules->Execution == TExecution::Market || rules->Execution == TExecution::Exchange
                   ? SYMBOL_TRADE_EXECUTION_MARKET
                   : SYMBOL_TRADE_EXECUTION_INSTANT;
    FLastError = ERR_INVALID_FUNCTION_PARAMVALUE;
    return 0;
}

int TMqlProgram::OrderSend(const string& ASymbol, int ACmd, double AVolume, double APrice,
                           int ASlippage, double AStopLoss, double ATakeProfit,
                           const string& AComment, int AMagic, datetime AExpiration, color AArrow) {
    (void)AExpiration;
    (void)AArrow;
    if (!FChart.AutoTrading || !FChart.LiveTrading) {
        FLastError = ERR_TRADE_NOT_ALLOWED;
        return -1;
    }
    if (!FChart.Connected) {
        FLastError = ERR_NO_CONNECTION;
        return -1;
    }
    std::unique_lock context(TradeContext, std::try_to_lock);
    if (!context.owns_lock()) {
        FLastError = ERR_TRADE_CONTEXT_BUSY;
        return -1;
    }
    int error = 0;
    const int ticket = FServer.Send(ASymbol.Std(), ACmd, AVolume, APrice, ASlippage, AStopLoss,
                                    ATakeProfit, AComment.Std(), AMagic, error);
    FLastError = error;
    return ticket;
}

bool TMqlProgram::OrderModify(int ATicket, double APrice, double AStopLoss, double ATakeProfit,
                              datetime AExpiration, color AArrow) {
    (void)APrice; // only a pending order's price can change
    (void)AExpiration;
    (void)AArrow;
    if (!FChart.AutoTrading || !FChart.LiveTrading) {
        FLastError = ERR_TRADE_NOT_ALLOWED;
        return false;
    }
    std::unique_lock context(TradeContext, std::try_to_lock);
    if (!context.owns_lock()) {
        FLastError = ERR_TRADE_CONTEXT_BUSY;
        return false;
    }
    int error = 0;
    const bool done = FServer.Modify(ATicket, AStopLoss, ATakeProfit, error);
    FLastError = error;
    return done;
}

int TMqlProgram::OrdersTotal() {
    return static_cast<int>(Pool(FServer, MODE_TRADES).size());
}

int TMqlProgram::OrdersHistoryTotal() {
    return static_cast<int>(Pool(FServer, MODE_HISTORY).size());
}

bool TMqlProgram::OrderSelect(int AIndex, int ASelect, int APool) {
    FSelected.reset();
    if (ASelect == SELECT_BY_TICKET) {
        FSelected = FServer.ListedOrder(AIndex);
    } else {
        const auto orders = Pool(FServer, APool);
        if (AIndex >= 0 && AIndex < static_cast<int>(orders.size()))
            FSelected = orders[static_cast<std::size_t>(AIndex)];
    }
    return FSelected.has_value();
}

const TServerOrder& TMqlProgram::Selected() {
    // Reading an order before selecting one gives an empty order, as the terminal does.
    static const TServerOrder none;
    return FSelected ? *FSelected : none;
}

int TMqlProgram::OrderTicket() {
    return Selected().Ticket;
}
string TMqlProgram::OrderSymbol() {
    return Selected().Symbol;
}
int TMqlProgram::OrderType() {
    return Selected().Type;
}
double TMqlProgram::OrderLots() {
    return Selected().Lots;
}
double TMqlProgram::OrderOpenPrice() {
    return Selected().OpenPrice;
}
double TMqlProgram::OrderStopLoss() {
    return Selected().StopLoss;
}
double TMqlProgram::OrderTakeProfit() {
    return Selected().TakeProfit;
}
int TMqlProgram::OrderMagicNumber() {
    return Selected().Magic;
}
string TMqlProgram::OrderComment() {
    return Selected().Comment;
}
// The server counts milliseconds, the terminal seconds; a closed order never reads 0.
datetime TMqlProgram::OrderOpenTime() {
    return Selected().OpenTime / 1000;
}
datetime TMqlProgram::OrderCloseTime() {
    const long long closed = Selected().CloseTime;
    return closed == 0 ? 0 : std::max<datetime>(closed / 1000, 1);
}

} // namespace mql4
