#include "mql4/runtime/Mql4.h"

#include <algorithm>
#include <charconv>
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

double NormalizeDouble(double AValue, int ADigits) {
    if (!std::isfinite(AValue))
        return AValue;
    const double scale = std::pow(10.0, std::clamp(ADigits, 0, 8));
    const double scaled = AValue * scale;
    // Beyond 2^52 a double has no fraction left to round.
    return std::fabs(scaled) < 4.5e15 ? std::round(scaled) / scale : AValue;
}

string DoubleToString(double AValue, int ADigits) {
    if (std::isnan(AValue))
        return "nan";
    if (std::isinf(AValue))
        return AValue > 0 ? "inf" : "-inf";
    char buffer[400];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, AValue, std::chars_format::fixed,
                                   std::clamp(ADigits, 0, 16))
                         .ptr;
    return string(std::string(buffer, end));
}

string IntegerToString(mql_long AValue, int AStringLength, ushort AFillSymbol) {
    std::string text = std::to_string(AValue);
    if (AStringLength > static_cast<int>(text.size()))
        text.insert(0, static_cast<std::size_t>(AStringLength) - text.size(),
                    static_cast<char>(AFillSymbol));
    return string(text);
}

int StringToCharArray(const string& AText, TMqlArray<uchar>& AArray, int AStart, int ACount,
                      uint ACodepage) {
    (void)ACodepage; // symbol names are ASCII
    const std::string& text = AText.Std();
    const int available = static_cast<int>(text.size()) + 1;
    const int count = ACount < 0 ? available : std::min(ACount, available);
    if (AArray.Fixed()) {
        if (AStart + count > AArray.Size())
            throw TMqlCriticalError("array out of range");
    } else {
        AArray.Resize(AStart + count);
    }
    for (int i = 0; i < count; ++i)
        AArray[AStart + i] = i < static_cast<int>(text.size()) ? static_cast<uchar>(text[i]) : 0;
    return count;
}

mql_long StringToInteger(const string& AText) {
    const std::string& text = AText.Std();
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos)
        return 0;
    if (text[at] == '+')
        ++at;
    mql_long value = 0;
    std::from_chars(text.data() + at, text.data() + text.size(), value);
    return value;
}

int StringLen(const string& AText) {
    return static_cast<int>(AText.Std().size());
}

string StringSubstr(const string& AText, int AStart, int ALength) {
    const std::string& text = AText.Std();
    if (AStart < 0 || AStart >= static_cast<int>(text.size()))
        return string();
    const std::size_t count = ALength < 0 ? std::string::npos : static_cast<std::size_t>(ALength);
    return string(text.substr(static_cast<std::size_t>(AStart), count));
}

void TMqlGlobalVariables::Set(const std::string& AName, double AValue) {
    std::lock_guard lock(FLock);
    FValues[AName] = AValue;
}

std::optional<double> TMqlGlobalVariables::Get(const std::string& AName) const {
    std::lock_guard lock(FLock);
    const auto it = FValues.find(AName);
    if (it == FValues.end())
        return std::nullopt;
    return it->second;
}

bool TMqlGlobalVariables::Delete(const std::string& AName) {
    std::lock_guard lock(FLock);
    return FValues.erase(AName) > 0;
}

void TMqlGlobalVariables::Lose() {
    std::lock_guard lock(FLock);
    FValues.clear();
}

int StringFind(const string& AText, const string& AMatch, int AStart) {
    if (AStart < 0 || AStart > static_cast<int>(AText.Std().size()))
        return -1;
    const auto at = AText.Std().find(AMatch.Std(), static_cast<std::size_t>(AStart));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

TMqlProgram::TMqlProgram(TTradeServer& AServer, TMqlHost& AHost, TMqlChart AChart)
    : FServer(AServer), FHost(AHost), FChart(std::move(AChart)) {}

void TMqlProgram::Run(void (TMqlProgram::*AEvent)()) {
    if (!FRunning)
        return;
    try {
        RefreshRates();
        (this->*AEvent)();
    } catch (const TMqlCriticalError& error) {
        // The terminal stops the expert without OnDeinit.
        FCritical = error.what();
        FRunning = false;
        FTimerMs = 0;
        FHost.Print(std::string("critical error: ") + error.what() + "; the expert stopped");
    }
}

bool TMqlProgram::Init() {
    FRunning = true;
    FLastError = 0;
    int result = INIT_FAILED;
    try {
        RefreshRates();
        result = OnInit();
    } catch (const TMqlCriticalError& error) {
        FCritical = error.what();
        FHost.Print(std::string("critical error: ") + error.what() + "; the expert stopped");
        FRunning = false;
        return false;
    }
    if (result != INIT_SUCCEEDED) {
        Deinit(REASON_INITFAILED);
        return false;
    }
    return true;
}

void TMqlProgram::Tick() {
    Run(&TMqlProgram::OnTick);
}

void TMqlProgram::Timer() {
    if (FTimerMs > 0)
        Run(&TMqlProgram::OnTimer);
}

void TMqlProgram::Deinit(int AReason) {
    if (!FRunning)
        return;
    try {
        RefreshRates();
        OnDeinit(AReason);
    } catch (const TMqlCriticalError& error) {
        FCritical = error.what();
    }
    FRunning = false;
    FTimerMs = 0;
}

void TMqlProgram::ChangeChart(const std::string& ASymbol, int APeriod) {
    Deinit(REASON_CHARTCHANGE);
    FChart.Symbol = ASymbol;
    FChart.Period = APeriod;
    Init();
}

void TMqlProgram::AccountChanged() {
    Deinit(REASON_ACCOUNT);
    Init();
}

int TMqlProgram::GetLastError() {
    const int error = FLastError;
    FLastError = 0;
    return error;
}

int TMqlProgram::MQLInfoInteger(int AProperty) const {
    switch (AProperty) {
    case MQL_DLLS_ALLOWED:
        return FChart.DllsAllowed;
    case MQL_TRADE_ALLOWED:
        return FChart.LiveTrading;
    }
    return 0;
}

int TMqlProgram::TerminalInfoInteger(int AProperty) const {
    switch (AProperty) {
    case TERMINAL_CONNECTED:
        return FChart.Connected;
    case TERMINAL_TRADE_ALLOWED:
        return FChart.AutoTrading;
    }
    return 0;
}

mql_long TMqlProgram::ChartGetInteger(mql_long AChartId, int AProperty, int ASubWindow) {
    if ((AChartId != 0 && AChartId != FChart.Id) || ASubWindow != 0 ||
        AProperty != CHART_WINDOW_HANDLE) {
        FLastError = ERR_INVALID_FUNCTION_PARAMVALUE;
        return 0;
    }
    return FChart.WindowHandle;
}

bool TMqlProgram::EventSetMillisecondTimer(int AMs) {
    if (AMs <= 0)
        return false;
    FTimerMs = AMs;
    return true;
}

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
    const auto rules = FServer.Rules(ASymbol.Std());
    if (!rules) {
        FLastError = ERR_UNKNOWN_SYMBOL;
        return 0;
    }
    double bid = 0;
    double ask = 0;
    FServer.Quote(ASymbol.Std(), bid, ask);
    switch (AType) {
    case MODE_BID:
        return bid;
    case MODE_ASK:
        return ask;
    case MODE_POINT:
        return rules->Point;
    case MODE_DIGITS:
        return rules->Digits;
    case MODE_SPREAD:
        return std::round((ask - bid) / rules->Point);
    case MODE_STOPLEVEL:
        return rules->StopLevel;
    case MODE_LOTSIZE:
        return rules->ContractSize;
    case MODE_TRADEALLOWED:
        return rules->TradeAllowed;
    case MODE_MINLOT:
        return rules->MinLot;
    case MODE_LOTSTEP:
        return rules->LotStep;
    case MODE_MAXLOT:
        return rules->MaxLot;
    case MODE_FREEZELEVEL:
        return rules->FreezeLevel;
    }
    FLastError = ERR_INVALID_FUNCTION_PARAMVALUE;
    return 0;
}

mql_long TMqlProgram::SymbolInfoInteger(const string& ASymbol, int AProperty) {
    const auto rules = FServer.Rules(ASymbol.Std());
    if (!rules) {
        FLastError = ERR_UNKNOWN_SYMBOL;
        return 0;
    }
    if (AProperty == SYMBOL_TRADE_EXEMODE)
        return rules->Execution == TExecution::Market ? SYMBOL_TRADE_EXECUTION_MARKET
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

bool TMqlProgram::GlobalVariableCheck(const string& AName) {
    return FHost.GlobalVariables.Get(AName.Std()).has_value();
}

double TMqlProgram::GlobalVariableGet(const string& AName) {
    if (const auto value = FHost.GlobalVariables.Get(AName.Std()))
        return *value;
    FLastError = ERR_GLOBAL_VARIABLE_NOT_FOUND;
    return 0;
}

datetime TMqlProgram::GlobalVariableSet(const string& AName, double AValue) {
    // A name is at most 63 characters long.
    if (AName.Std().empty() || AName.Std().size() > 63) {
        FLastError = ERR_INVALID_FUNCTION_PARAMVALUE;
        return 0;
    }
    FHost.GlobalVariables.Set(AName.Std(), AValue);
    return std::max<datetime>(TimeCurrent(), 1);
}

bool TMqlProgram::GlobalVariableDel(const string& AName) {
    return FHost.GlobalVariables.Delete(AName.Std());
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
