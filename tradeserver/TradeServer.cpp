#include "tradeserver/TradeServer.h"

#include <algorithm>
#include <cmath>

namespace {

// Prices and volumes are compared with a small tolerance: the expert's doubles come from
// decimal arithmetic and are never exactly the server's.
constexpr double Tolerance = 1e-7;

bool OnGrid(double AValue, double AStep) {
    const double steps = AValue / AStep;
    return std::abs(steps - std::round(steps)) < 1e-6;
}

double ClosingPrice(int AType, double ABid, double AAsk) {
    return AType == otBuy ? ABid : AAsk;
}

} // namespace

double OrderProfit(const TSymbolRules& ARules, int AType, double ALots, double AOpen,
                   double AClose) {
    const double move = AType == otBuy ? AClose - AOpen : AOpen - AClose;
    const double inQuoteCurrency = move * ARules.ContractSize * ALots;
    return ARules.DollarIsBase ? inQuoteCurrency / AClose : inQuoteCurrency;
}

TTradeServer::TTradeServer(TClock AClock) : FClock(std::move(AClock)) {}

void TTradeServer::AddSymbol(const TSymbolRules& ARules) {
    std::lock_guard lock(FLock);
    FMarkets.push_back({ARules, 0, 0});
}

void TTradeServer::SetRules(const TSymbolRules& ARules) {
    std::lock_guard lock(FLock);
    if (TMarket* market = Find(ARules.Name))
        market->Rules = ARules;
}

std::optional<TSymbolRules> TTradeServer::Rules(const std::string& ASymbol) const {
    std::lock_guard lock(FLock);
    if (const TMarket* market = Find(ASymbol))
        return market->Rules;
    return std::nullopt;
}

TTradeServer::TMarket* TTradeServer::Find(const std::string& ASymbol) {
    for (TMarket& market : FMarkets)
        if (market.Rules.Name == ASymbol)
            return &market;
    return nullptr;
}

const TTradeServer::TMarket* TTradeServer::Find(const std::string& ASymbol) const {
    return const_cast<TTradeServer*>(this)->Find(ASymbol);
}

std::vector<TServerOrder> TTradeServer::SetQuote(const std::string& ASymbol, double ABid,
                                                 double AAsk) {
    std::lock_guard lock(FLock);
    std::vector<TServerOrder> closed;
    TMarket* market = Find(ASymbol);
    if (!market)
        return closed;
    market->Bid = ABid;
    market->Ask = AAsk;
    for (TServerOrder& order : FOrders) {
        if (order.Closed() || order.Symbol != ASymbol)
            continue;
        Revalue(order, *market);
        const double price = ClosingPrice(order.Type, ABid, AAsk);
        const bool buy = order.Type == otBuy;
        const bool stopped =
            order.StopLoss != 0 && (buy ? price <= order.StopLoss : price >= order.StopLoss);
        const bool target =
            order.TakeProfit != 0 && (buy ? price >= order.TakeProfit : price <= order.TakeProfit);
        if (stopped || target) {
            order.CloseTime = std::max<long long>(1, FClock());
            order.ClosePrice = price;
            order.CloseReason = stopped ? "stop-loss" : "take-profit";
            closed.push_back(order);
        }
    }
    return closed;
}

bool TTradeServer::Quote(const std::string& ASymbol, double& ABid, double& AAsk) const {
    std::lock_guard lock(FLock);
    const TMarket* market = Find(ASymbol);
    if (!market)
        return false;
    ABid = market->Bid;
    AAsk = market->Ask;
    return true;
}

void TTradeServer::InjectSendFaults(const std::vector<TFault>& AFaults) {
    std::lock_guard lock(FLock);
    FSendFaults.insert(FSendFaults.end(), AFaults.begin(), AFaults.end());
}

void TTradeServer::InjectModifyFaults(const std::vector<TFault>& AFaults) {
    std::lock_guard lock(FLock);
    FModifyFaults.insert(FModifyFaults.end(), AFaults.begin(), AFaults.end());
}

void TTradeServer::SetMarketSlippage(double APoints) {
    std::lock_guard lock(FLock);
    FMarketSlippage = APoints;
}

void TTradeServer::SetCommentEnd(std::size_t AKeep, const std::string& ATail) {
    std::lock_guard lock(FLock);
    FCommentKeep = AKeep;
    FCommentTail = ATail;
}

void TTradeServer::Login(int AAccount) {
    std::lock_guard lock(FLock);
    FAccount = AAccount;
}

int TTradeServer::Account() const {
    std::lock_guard lock(FLock);
    return FAccount;
}

void TTradeServer::SetNextTicket(int ATicket) {
    std::lock_guard lock(FLock);
    FNextTicket = ATicket;
}

long long TTradeServer::Now() const {
    return FClock();
}

std::optional<TFault> TTradeServer::Next(std::deque<TFault>& AFaults) {
    if (AFaults.empty())
        return std::nullopt;
    TFault fault = AFaults.front();
    AFaults.pop_front();
    return fault;
}

void TTradeServer::MoveMarket(TMarket& AMarket, double APoints) {
    const double move = APoints * AMarket.Rules.Point;
    const double scale = std::pow(10.0, AMarket.Rules.Digits);
    AMarket.Bid = std::round((AMarket.Bid + move) * scale) / scale;
    AMarket.Ask = std::round((AMarket.Ask + move) * scale) / scale;
}

void TTradeServer::Revalue(TServerOrder& AOrder, const TMarket& AMarket) {
    AOrder.Profit = OrderProfit(AMarket.Rules, AOrder.Type, AOrder.Lots, AOrder.OpenPrice,
                                ClosingPrice(AOrder.Type, AMarket.Bid, AMarket.Ask));
}

// The stop-level rule for the stops of a market order, measured from the price it would close at.
int TTradeServer::CheckStops(const TMarket& AMarket, int AType, double AStopLoss,
                             double ATakeProfit) const {
    const TSymbolRules& rules = AMarket.Rules;
    if (!std::isfinite(AStopLoss) || !std::isfinite(ATakeProfit) || AStopLoss < 0 ||
        ATakeProfit < 0)
        return teInvalidStops;
    if ((AStopLoss != 0 && !OnGrid(AStopLoss, rules.Point)) ||
        (ATakeProfit != 0 && !OnGrid(ATakeProfit, rules.Point)))
        return teInvalidStops;
    const double minimum = rules.StopLevel * rules.Point - rules.Point * Tolerance;
    const double price = ClosingPrice(AType, AMarket.Bid, AMarket.Ask);
    const double direction = AType == otBuy ? 1 : -1;
    if (AStopLoss != 0 &&
        !(direction * (price - AStopLoss) > 0 && direction * (price - AStopLoss) >= minimum))
        return teInvalidStops;
    if (ATakeProfit != 0 &&
        !(direction * (ATakeProfit - price) > 0 && direction * (ATakeProfit - price) >= minimum))
        return teInvalidStops;
    return teNone;
}

int TTradeServer::Send(const std::string& ASymbol, int AType, double ALots, double APrice,
                       int ASlippage, double AStopLoss, double ATakeProfit,
                       const std::string& AComment, int AMagic, int& AError) {
    std::lock_guard lock(FLock);
    FRequests.push_back({TServerRequest::rkSend, ASymbol, AType, ALots, APrice, ASlippage,
                         AStopLoss, ATakeProfit, AMagic, AComment, 0, teNone});
    TServerRequest& request = FRequests.back();
    const auto answer = [&](int AAnswer) {
        request.Answer = AError = AAnswer;
        return -1;
    };

    TMarket* market = Find(ASymbol);
    if (!market)
        return answer(teUnknownSymbol);
    const std::optional<TFault> fault = Next(FSendFaults);
    if (fault && fault->MoveBidPoints != 0)
        MoveMarket(*market, fault->MoveBidPoints);
    if (fault && fault->Error != teNone && !fault->PlaceAnyway)
        return answer(fault->Error);

    const TSymbolRules& rules = market->Rules;
    if (AType != otBuy && AType != otSell)
        return answer(teInvalidTradeParameters);
    if (!rules.TradeAllowed)
        return answer(teTradeDisabled);
    if (!rules.MarketOpen)
        return answer(teMarketClosed);
    if (!std::isfinite(ALots) || ALots < rules.MinLot * (1 - Tolerance) ||
        ALots > rules.MaxLot * (1 + Tolerance) || !OnGrid(ALots, rules.LotStep))
        return answer(teInvalidTradeVolume);

    const double current = AType == otBuy ? market->Ask : market->Bid;
    double fill = current;
    if (rules.Execution == TExecution::Market) {
        // The broker fills at its own price and takes no stops with the order.
        if (AStopLoss != 0 || ATakeProfit != 0)
            return answer(teInvalidStops);
        fill = current + (AType == otBuy ? 1 : -1) * FMarketSlippage * rules.Point;
        fill = std::round(fill / rules.Point) * rules.Point;
    } else {
        if (!std::isfinite(APrice) || APrice <= 0)
            return answer(teInvalidPrice);
        if (std::abs(APrice - current) > (std::max(ASlippage, 0) + Tolerance) * rules.Point)
            return answer(teRequote);
        if (const int stops = CheckStops(*market, AType, AStopLoss, ATakeProfit))
            return answer(stops);
    }

    TServerOrder order;
    order.Ticket = FNextTicket++;
    order.Symbol = ASymbol;
    order.Type = AType;
    order.Lots = ALots;
    order.OpenPrice = fill;
    order.StopLoss = AStopLoss;
    order.TakeProfit = ATakeProfit;
    order.Magic = AMagic;
    order.Comment = FCommentKeep ? AComment.substr(0, *FCommentKeep) + FCommentTail : AComment;
    order.OpenTime = FClock();
    order.Account = FAccount;
    order.ListedAt = order.OpenTime;
    if (fault && fault->Error != teNone)
        order.ListedAt += std::max(fault->ListAfterMs, 0LL);
    Revalue(order, *market);
    FOrders.push_back(order);
    request.Ticket = order.Ticket;
    if (fault && fault->Error != teNone)
        return answer(fault->Error); // placed, but the terminal never heard of it
    AError = teNone;
    return order.Ticket;
}

bool TTradeServer::Modify(int ATicket, double AStopLoss, double ATakeProfit, int& AError) {
    std::lock_guard lock(FLock);
    FRequests.push_back(
        {TServerRequest::rkModify, "", 0, 0, 0, 0, AStopLoss, ATakeProfit, 0, "", ATicket, 0});
    TServerRequest& request = FRequests.back();
    const auto answer = [&](int AAnswer) {
        request.Answer = AError = AAnswer;
        return AAnswer == teNone;
    };

    const auto it = std::find_if(FOrders.begin(), FOrders.end(), [&](const TServerOrder& o) {
        return o.Ticket == ATicket && o.Account == FAccount;
    });
    if (it == FOrders.end() || it->Closed())
        return answer(teInvalidTicket);
    TServerOrder& order = *it;
    TMarket& market = *Find(order.Symbol);
    request.Symbol = order.Symbol;
    request.Type = order.Type;
    const std::optional<TFault> fault = Next(FModifyFaults);
    if (fault && fault->MoveBidPoints != 0)
        MoveMarket(market, fault->MoveBidPoints);
    if (fault && fault->Error != teNone && !fault->PlaceAnyway)
        return answer(fault->Error);

    const TSymbolRules& rules = market.Rules;
    if (!std::isfinite(AStopLoss) || !std::isfinite(ATakeProfit))
        return answer(teInvalidStops);
    if (std::abs(AStopLoss - order.StopLoss) < rules.Point / 2 &&
        std::abs(ATakeProfit - order.TakeProfit) < rules.Point / 2)
        return answer(teNoResult);
    // An order whose stop or target is within the freeze level of the market is frozen.
    if (rules.FreezeLevel > 0) {
        const double price = ClosingPrice(order.Type, market.Bid, market.Ask);
        const double direction = order.Type == otBuy ? 1 : -1;
        const double freeze = rules.FreezeLevel * rules.Point * (1 + Tolerance);
        if ((order.StopLoss != 0 && direction * (price - order.StopLoss) <= freeze) ||
            (order.TakeProfit != 0 && direction * (order.TakeProfit - price) <= freeze))
            return answer(teTradeModifyDenied);
    }
    if (const int stops = CheckStops(market, order.Type, AStopLoss, ATakeProfit))
        return answer(stops);
    order.StopLoss = AStopLoss;
    order.TakeProfit = ATakeProfit;
    if (fault && fault->Error != teNone)
        return answer(fault->Error);
    return answer(teNone);
}

bool TTradeServer::Listed(const TServerOrder& AOrder) const {
    return AOrder.Account == FAccount && AOrder.ListedAt <= FClock();
}

std::vector<TServerOrder> TTradeServer::ListedOrders() const {
    std::lock_guard lock(FLock);
    std::vector<TServerOrder> listed;
    for (const TServerOrder& order : FOrders)
        if (Listed(order))
            listed.push_back(order);
    return listed;
}

std::optional<TServerOrder> TTradeServer::ListedOrder(int ATicket) const {
    std::lock_guard lock(FLock);
    for (const TServerOrder& order : FOrders)
        if (order.Ticket == ATicket && Listed(order))
            return order;
    return std::nullopt;
}

std::vector<TServerOrder> TTradeServer::OpenOrders() const {
    std::lock_guard lock(FLock);
    std::vector<TServerOrder> open;
    for (const TServerOrder& order : FOrders)
        if (!order.Closed())
            open.push_back(order);
    return open;
}

std::optional<TServerOrder> TTradeServer::Order(int ATicket) const {
    std::lock_guard lock(FLock);
    for (const TServerOrder& order : FOrders)
        if (order.Ticket == ATicket)
            return order;
    return std::nullopt;
}

std::vector<TServerOrder> TTradeServer::AllOrders() const {
    std::lock_guard lock(FLock);
    return FOrders;
}

std::vector<TServerRequest> TTradeServer::Requests() const {
    std::lock_guard lock(FLock);
    return FRequests;
}

void TTradeServer::ClearRequests() {
    std::lock_guard lock(FLock);
    FRequests.clear();
}
