#include "mql5/runtime/Mql5.h"

#include <cmath>

namespace mql5 {

TMql5Program::TMql5Program(TTradeServer5& AServer, TMqlHost& AHost, TMqlChart AChart)
    : TMqlProgramBase(AHost, std::move(AChart),
                      {ERR_INVALID_PARAMETER, ERR_GLOBALVARIABLE_NOT_FOUND}),
      FServer(AServer) {}

void TMql5Program::RefreshPredefined() {
    _Symbol = FChart.Symbol;
    if (const auto rules = FServer.Rules(FChart.Symbol)) {
        _Point = rules->Point;
        _Digits = rules->Digits;
    }
}

double TMql5Program::SymbolInfoDouble(const string& ASymbol, int AProperty) {
    const auto symbol = FServer.Quoted(ASymbol.Std());
    if (!symbol) {
        FLastError = ERR_MARKET_UNKNOWN_SYMBOL;
        return 0;
    }
    const TSymbolRules& rules = symbol->Rules;
    return Property<double>(AProperty, {{SYMBOL_BID, symbol->Bid},
                                        {SYMBOL_ASK, symbol->Ask},
                                        {SYMBOL_POINT, rules.Point},
                                        {SYMBOL_VOLUME_MIN, rules.MinLot},
                                        {SYMBOL_VOLUME_MAX, rules.MaxLot},
                                        {SYMBOL_VOLUME_STEP, rules.LotStep},
                                        {SYMBOL_VOLUME_LIMIT, rules.VolumeLimit},
                                        {SYMBOL_TRADE_CONTRACT_SIZE, rules.ContractSize},
                                        {SYMBOL_TRADE_TICK_VALUE, TickValue(rules, symbol->Bid)},
                                        {SYMBOL_TRADE_TICK_SIZE, rules.Point}});
}

string TMql5Program::AccountInfoString(int AProperty) {
    // The simulated servers keep every account in dollars.
    return Property<string>(AProperty, {{ACCOUNT_CURRENCY, string("USD")}});
}

namespace {

// SYMBOL_TRADE_EXEMODE's value for the server's execution mode.
mql_long ExecutionMode(TExecution AExecution) {
    switch (AExecution) {
    case TExecution::Request:
        return SYMBOL_TRADE_EXECUTION_REQUEST;
    case TExecution::Instant:
        return SYMBOL_TRADE_EXECUTION_INSTANT;
    case TExecution::Market:
        return SYMBOL_TRADE_EXECUTION_MARKET;
    case TExecution::Exchange:
        return SYMBOL_TRADE_EXECUTION_EXCHANGE;
    }
    return SYMBOL_TRADE_EXECUTION_INSTANT;
}

} // namespace

mql_long TMql5Program::SymbolInfoInteger(const string& ASymbol, int AProperty) {
    const auto symbol = FServer.Quoted(ASymbol.Std());
    if (!symbol) {
        FLastError = ERR_MARKET_UNKNOWN_SYMBOL;
        return 0;
    }
    const TSymbolRules& rules = symbol->Rules;
    return Property<mql_long>(
        AProperty, {{SYMBOL_DIGITS, rules.Digits},
                    {SYMBOL_SPREAD, std::lround((symbol->Ask - symbol->Bid) / rules.Point)},
                    {SYMBOL_TRADE_STOPS_LEVEL, rules.StopLevel},
                    {SYMBOL_TRADE_FREEZE_LEVEL, rules.FreezeLevel},
                    {SYMBOL_FILLING_MODE, rules.FillingModes},
                    {SYMBOL_TRADE_MODE,
                     rules.TradeAllowed ? SYMBOL_TRADE_MODE_FULL : SYMBOL_TRADE_MODE_DISABLED},
                    {SYMBOL_TRADE_EXEMODE, ExecutionMode(rules.Execution)}});
}

bool TMql5Program::SymbolInfoTick(const string& ASymbol, MqlTick& ATick) {
    double bid = 0;
    double ask = 0;
    if (!FServer.Quote(ASymbol.Std(), bid, ask)) {
        FLastError = ERR_MARKET_UNKNOWN_SYMBOL;
        return false;
    }
    ATick = MqlTick{};
    ATick.time = TimeCurrent();
    ATick.time_msc = FServer.Now();
    ATick.bid = bid;
    ATick.ask = ask;
    return true;
}

mql_long TMql5Program::AccountInfoInteger(int AProperty) {
    return Property<mql_long>(
        AProperty, {{ACCOUNT_LOGIN, FServer.Account()},
                    {ACCOUNT_MARGIN_MODE, FServer.Hedging() ? ACCOUNT_MARGIN_MODE_RETAIL_HEDGING
                                                            : ACCOUNT_MARGIN_MODE_RETAIL_NETTING},
                    {ACCOUNT_TRADE_ALLOWED, FServer.AccountTradeAllowed()},
                    {ACCOUNT_TRADE_EXPERT, FServer.AccountTradeExpert()}});
}

double TMql5Program::AccountInfoDouble(int AProperty) {
    const TTradeCheck5 state = FServer.Check({});
    return Property<double>(AProperty, {{ACCOUNT_BALANCE, state.Balance},
                                        {ACCOUNT_EQUITY, state.Equity},
                                        {ACCOUNT_MARGIN_FREE, state.MarginFree}});
}

namespace {

TTradeRequest5 ServerRequest(const MqlTradeRequest& ARequest) {
    TTradeRequest5 request;
    request.Action = ARequest.action;
    request.Magic = static_cast<long long>(ARequest.magic);
    request.Symbol = ARequest.symbol.Std();
    request.Volume = ARequest.volume;
    request.Price = ARequest.price;
    request.StopLoss = ARequest.sl;
    request.TakeProfit = ARequest.tp;
    request.Deviation = static_cast<long long>(ARequest.deviation);
    request.Type = ARequest.type;
    request.Filling = ARequest.type_filling;
    request.Comment = ARequest.comment.Std();
    request.Position = static_cast<long long>(ARequest.position);
    return request;
}

} // namespace

bool TMql5Program::OrderCheck(const MqlTradeRequest& ARequest, MqlTradeCheckResult& AResult) {
    AResult = MqlTradeCheckResult{};
    if (!FChart.AutoTrading || !FChart.LiveTrading) {
        AResult.retcode = TRADE_RETCODE_CLIENT_DISABLES_AT;
        return false;
    }
    const TTradeCheck5 check = FServer.Check(ServerRequest(ARequest));
    AResult.retcode = check.Retcode;
    AResult.balance = check.Balance;
    AResult.equity = check.Equity;
    AResult.margin = check.Margin;
    AResult.margin_free = check.MarginFree;
    AResult.margin_level = check.Margin > 0 ? check.Equity / check.Margin * 100 : 0;
    AResult.comment = check.Retcode == 0 ? "Done" : "Rejected";
    return check.Retcode == 0;
}

bool TMql5Program::OrderSend(const MqlTradeRequest& ARequest, MqlTradeResult& AResult) {
    AResult = MqlTradeResult{};
    AResult.request_id = ++FRequestId;
    if (!FChart.AutoTrading || !FChart.LiveTrading) {
        AResult.retcode = TRADE_RETCODE_CLIENT_DISABLES_AT;
        FLastError = ERR_TRADE_SEND_FAILED;
        return false;
    }
    if (!FChart.Connected) {
        AResult.retcode = TRADE_RETCODE_CONNECTION;
        FLastError = ERR_TRADE_SEND_FAILED;
        return false;
    }
    const TTradeResult5 result = FServer.Send(ServerRequest(ARequest));
    AResult.retcode = result.Retcode;
    AResult.deal = static_cast<ulong>(result.Deal);
    AResult.order = static_cast<ulong>(result.Order);
    AResult.volume = result.Volume;
    AResult.price = result.Price;
    AResult.bid = result.Bid;
    AResult.ask = result.Ask;
    AResult.comment = result.Comment;
    const bool taken = result.Retcode == TRADE_RETCODE_PLACED ||
                       result.Retcode == TRADE_RETCODE_DONE ||
                       result.Retcode == TRADE_RETCODE_DONE_PARTIAL;
    if (!taken)
        FLastError = ERR_TRADE_SEND_FAILED;
    return taken;
}

int TMql5Program::PositionsTotal() {
    return static_cast<int>(FServer.ListedPositions().size());
}

ulong TMql5Program::PositionGetTicket(int AIndex) {
    const auto positions = FServer.ListedPositions();
    FPosition.reset();
    if (AIndex < 0 || AIndex >= static_cast<int>(positions.size())) {
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
        return 0;
    }
    FPosition = positions[static_cast<std::size_t>(AIndex)];
    return static_cast<ulong>(FPosition->Ticket);
}

bool TMql5Program::PositionSelectByTicket(ulong ATicket) {
    FPosition.reset();
    for (const TPosition5& position : FServer.ListedPositions())
        if (static_cast<ulong>(position.Ticket) == ATicket)
            FPosition = position;
    if (!FPosition)
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
    return FPosition.has_value();
}

// A property of no selected position reads 0 or "", with the error set, as the terminal does.
const TPosition5* TMql5Program::Position() {
    if (!FPosition)
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
    return FPosition ? &*FPosition : nullptr;
}

mql_long TMql5Program::PositionGetInteger(int AProperty) {
    const TPosition5* p = Position();
    if (!p)
        return 0;
    return Property<mql_long>(AProperty, {{POSITION_TICKET, p->Ticket},
                                          {POSITION_TIME, p->Time / 1000},
                                          {POSITION_TIME_UPDATE, p->TimeUpdate / 1000},
                                          {POSITION_TYPE, p->Type},
                                          {POSITION_MAGIC, p->Magic},
                                          {POSITION_IDENTIFIER, p->Identifier}});
}

double TMql5Program::PositionGetDouble(int AProperty) {
    const TPosition5* p = Position();
    if (!p)
        return 0;
    double bid = 0;
    double ask = 0;
    FServer.Quote(p->Symbol, bid, ask);
    return Property<double>(AProperty, {{POSITION_VOLUME, p->Volume},
                                        {POSITION_PRICE_OPEN, p->PriceOpen},
                                        {POSITION_SL, p->StopLoss},
                                        {POSITION_TP, p->TakeProfit},
                                        {POSITION_PRICE_CURRENT, p->Type == otBuy ? bid : ask},
                                        {POSITION_PROFIT, p->Profit}});
}

string TMql5Program::PositionGetString(int AProperty) {
    const TPosition5* p = Position();
    if (!p)
        return string();
    return Property<string>(AProperty,
                            {{POSITION_SYMBOL, p->Symbol}, {POSITION_COMMENT, p->Comment}});
}

bool TMql5Program::HistorySelect(datetime AFrom, datetime ATo) {
    FHistory.clear();
    for (const TDeal5& deal : FServer.ListedDeals()) {
        const datetime time = deal.Time / 1000;
        if (time >= AFrom && time <= ATo)
            FHistory.push_back(deal);
    }
    return true;
}

bool TMql5Program::HistorySelectByPosition(mql_long APositionId) {
    FHistory.clear();
    for (const TDeal5& deal : FServer.ListedDeals())
        if (deal.PositionId == APositionId)
            FHistory.push_back(deal);
    return true;
}

// Selects the one deal into the history list, as the terminal does, or fails for one not listed.
bool TMql5Program::HistoryDealSelect(ulong ATicket) {
    FHistory.clear();
    for (const TDeal5& deal : FServer.ListedDeals())
        if (static_cast<ulong>(deal.Ticket) == ATicket)
            FHistory.push_back(deal);
    if (FHistory.empty())
        FLastError = ERR_TRADE_DEAL_NOT_FOUND;
    return !FHistory.empty();
}

int TMql5Program::HistoryDealsTotal() {
    return static_cast<int>(FHistory.size());
}

ulong TMql5Program::HistoryDealGetTicket(int AIndex) {
    if (AIndex < 0 || AIndex >= static_cast<int>(FHistory.size())) {
        FLastError = ERR_TRADE_DEAL_NOT_FOUND;
        return 0;
    }
    return static_cast<ulong>(FHistory[static_cast<std::size_t>(AIndex)].Ticket);
}

// A deal is read from the history HistorySelect chose, as in the terminal.
const TDeal5* TMql5Program::Deal(ulong ATicket) {
    for (const TDeal5& deal : FHistory)
        if (static_cast<ulong>(deal.Ticket) == ATicket)
            return &deal;
    FLastError = ERR_TRADE_DEAL_NOT_FOUND;
    return nullptr;
}

mql_long TMql5Program::HistoryDealGetInteger(ulong ATicket, int AProperty) {
    const TDeal5* deal = Deal(ATicket);
    if (!deal)
        return 0;
    return Property<mql_long>(AProperty, {{DEAL_TICKET, deal->Ticket},
                                          {DEAL_ORDER, deal->Order},
                                          {DEAL_TIME, deal->Time / 1000},
                                          {DEAL_TYPE, deal->Type},
                                          {DEAL_ENTRY, deal->Entry},
                                          {DEAL_MAGIC, deal->Magic},
                                          {DEAL_POSITION_ID, deal->PositionId}});
}

double TMql5Program::HistoryDealGetDouble(ulong ATicket, int AProperty) {
    const TDeal5* deal = Deal(ATicket);
    if (!deal)
        return 0;
    return Property<double>(AProperty, {{DEAL_VOLUME, deal->Volume},
                                        {DEAL_PRICE, deal->Price},
                                        {DEAL_PROFIT, deal->Profit},
                                        {DEAL_SL, deal->StopLoss},
                                        {DEAL_TP, deal->TakeProfit}});
}

string TMql5Program::HistoryDealGetString(ulong ATicket, int AProperty) {
    const TDeal5* deal = Deal(ATicket);
    if (!deal)
        return string();
    return Property<string>(AProperty,
                            {{DEAL_SYMBOL, deal->Symbol}, {DEAL_COMMENT, deal->Comment}});
}

} // namespace mql5
