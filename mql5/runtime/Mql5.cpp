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
    const auto rules = FServer.Rules(ASymbol.Std());
    if (!rules) {
        FLastError = ERR_MARKET_UNKNOWN_SYMBOL;
        return 0;
    }
    double bid = 0;
    double ask = 0;
    FServer.Quote(ASymbol.Std(), bid, ask);
    switch (AProperty) {
    case SYMBOL_BID:
        return bid;
    case SYMBOL_ASK:
        return ask;
    case SYMBOL_POINT:
        return rules->Point;
    case SYMBOL_VOLUME_MIN:
        return rules->MinLot;
    case SYMBOL_VOLUME_MAX:
        return rules->MaxLot;
    case SYMBOL_VOLUME_STEP:
        return rules->LotStep;
    case SYMBOL_VOLUME_LIMIT:
        return rules->VolumeLimit;
    case SYMBOL_TRADE_CONTRACT_SIZE:
        return rules->ContractSize;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

mql_long TMql5Program::SymbolInfoInteger(const string& ASymbol, int AProperty) {
    const auto rules = FServer.Rules(ASymbol.Std());
    if (!rules) {
        FLastError = ERR_MARKET_UNKNOWN_SYMBOL;
        return 0;
    }
    double bid = 0;
    double ask = 0;
    FServer.Quote(ASymbol.Std(), bid, ask);
    switch (AProperty) {
    case SYMBOL_DIGITS:
        return rules->Digits;
    case SYMBOL_SPREAD:
        return std::lround((ask - bid) / rules->Point);
    case SYMBOL_TRADE_STOPS_LEVEL:
        return rules->StopLevel;
    case SYMBOL_TRADE_FREEZE_LEVEL:
        return rules->FreezeLevel;
    case SYMBOL_FILLING_MODE:
        return rules->FillingModes;
    case SYMBOL_TRADE_MODE:
        return rules->TradeAllowed ? SYMBOL_TRADE_MODE_FULL : SYMBOL_TRADE_MODE_DISABLED;
    case SYMBOL_TRADE_EXEMODE:
        switch (rules->Execution) {
        case TExecution::Request:
            return SYMBOL_TRADE_EXECUTION_REQUEST;
        case TExecution::Instant:
            return SYMBOL_TRADE_EXECUTION_INSTANT;
        case TExecution::Market:
            return SYMBOL_TRADE_EXECUTION_MARKET;
        case TExecution::Exchange:
            return SYMBOL_TRADE_EXECUTION_EXCHANGE;
        }
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
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
    switch (AProperty) {
    case ACCOUNT_LOGIN:
        return FServer.Account();
    case ACCOUNT_MARGIN_MODE:
        return FServer.Hedging() ? ACCOUNT_MARGIN_MODE_RETAIL_HEDGING
                                 : ACCOUNT_MARGIN_MODE_RETAIL_NETTING;
    case ACCOUNT_TRADE_ALLOWED:
        return FServer.AccountTradeAllowed();
    case ACCOUNT_TRADE_EXPERT:
        return FServer.AccountTradeExpert();
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

double TMql5Program::AccountInfoDouble(int AProperty) {
    const TTradeCheck5 state = FServer.Check({});
    switch (AProperty) {
    case ACCOUNT_BALANCE:
        return state.Balance;
    case ACCOUNT_EQUITY:
        return state.Equity;
    case ACCOUNT_MARGIN_FREE:
        return state.MarginFree;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
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
mql_long TMql5Program::PositionGetInteger(int AProperty) {
    if (!FPosition) {
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
        return 0;
    }
    switch (AProperty) {
    case POSITION_TICKET:
        return FPosition->Ticket;
    case POSITION_TIME:
        return FPosition->Time / 1000;
    case POSITION_TIME_UPDATE:
        return FPosition->TimeUpdate / 1000;
    case POSITION_TYPE:
        return FPosition->Type;
    case POSITION_MAGIC:
        return FPosition->Magic;
    case POSITION_IDENTIFIER:
        return FPosition->Identifier;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

double TMql5Program::PositionGetDouble(int AProperty) {
    if (!FPosition) {
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
        return 0;
    }
    double bid = 0;
    double ask = 0;
    FServer.Quote(FPosition->Symbol, bid, ask);
    switch (AProperty) {
    case POSITION_VOLUME:
        return FPosition->Volume;
    case POSITION_PRICE_OPEN:
        return FPosition->PriceOpen;
    case POSITION_SL:
        return FPosition->StopLoss;
    case POSITION_TP:
        return FPosition->TakeProfit;
    case POSITION_PRICE_CURRENT:
        return FPosition->Type == otBuy ? bid : ask;
    case POSITION_PROFIT:
        return FPosition->Profit;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

string TMql5Program::PositionGetString(int AProperty) {
    if (!FPosition) {
        FLastError = ERR_TRADE_POSITION_NOT_FOUND;
        return string();
    }
    switch (AProperty) {
    case POSITION_SYMBOL:
        return FPosition->Symbol;
    case POSITION_COMMENT:
        return FPosition->Comment;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return string();
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
    switch (AProperty) {
    case DEAL_TICKET:
        return deal->Ticket;
    case DEAL_ORDER:
        return deal->Order;
    case DEAL_TIME:
        return deal->Time / 1000;
    case DEAL_TYPE:
        return deal->Type;
    case DEAL_ENTRY:
        return deal->Entry;
    case DEAL_MAGIC:
        return deal->Magic;
    case DEAL_POSITION_ID:
        return deal->PositionId;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

double TMql5Program::HistoryDealGetDouble(ulong ATicket, int AProperty) {
    const TDeal5* deal = Deal(ATicket);
    if (!deal)
        return 0;
    switch (AProperty) {
    case DEAL_VOLUME:
        return deal->Volume;
    case DEAL_PRICE:
        return deal->Price;
    case DEAL_PROFIT:
        return deal->Profit;
    case DEAL_SL:
        return deal->StopLoss;
    case DEAL_TP:
        return deal->TakeProfit;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return 0;
}

string TMql5Program::HistoryDealGetString(ulong ATicket, int AProperty) {
    const TDeal5* deal = Deal(ATicket);
    if (!deal)
        return string();
    switch (AProperty) {
    case DEAL_SYMBOL:
        return deal->Symbol;
    case DEAL_COMMENT:
        return deal->Comment;
    }
    FLastError = ERR_INVALID_PARAMETER;
    return string();
}

} // namespace mql5
