#include "tradeserver/TradeServer.h"

#include "tradeserver/MarketRules.h"

#include <algorithm>
#include <cmath>

using market_rules::ClosingPrice;
using market_rules::OnGrid;
using market_rules::Tolerance;

TTradeServer::TTradeServer(TClock AClock) : TMarket(std::move(AClock)) {}

std::vector<TServerOrder> TTradeServer::SetQuote(const std::string& ASymbol, double ABid,
                                                 double AAsk) {
    std::lock_guard lock(FLock);
    std::vector<TServerOrder> closed;
    const TQuote* quote = Tick(ASymbol, ABid, AAsk);
    if (!quote)
        return closed;
    for (TServerOrder& order : FOrders) {
        if (order.Closed() || order.Symbol != ASymbol)
            continue;
        order.Profit = ProfitNow(*quote, order.Type, order.Lots, order.OpenPrice);
        const market_rules::TStopHit hit =
            market_rules::StopHit(order.Type, ABid, AAsk, order.StopLoss, order.TakeProfit);
        if (hit != market_rules::shNone) {
            order.CloseTime = std::max<long long>(1, FClock());
            order.ClosePrice = ClosingPrice(order.Type, ABid, AAsk);
            order.CloseReason = hit == market_rules::shStopLoss ? "stop-loss" : "take-profit";
            closed.push_back(order);
        }
    }
    return closed;
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

void TTradeServer::SetDeposit(double ADollars) {
    std::lock_guard lock(FLock);
    FDeposits[FAccount] = ADollars;
}

double TTradeServer::Balance() const {
    std::lock_guard lock(FLock);
    return Money(false);
}

double TTradeServer::Equity() const {
    std::lock_guard lock(FLock);
    return Money(true);
}

double TTradeServer::Money(bool AOpenToo) const {
    const auto deposit = FDeposits.find(FAccount);
    double money = deposit != FDeposits.end() ? deposit->second : 10000;
    for (const TServerOrder& order : FOrders)
        if (order.Account == FAccount && (AOpenToo || order.Closed()))
            money += order.Profit;
    return money;
}

void TTradeServer::SetNextTicket(int ATicket) {
    std::lock_guard lock(FLock);
    FNextTicket = ATicket;
}

// The stop-level rule for the stops of a market order, measured from the price it would close at.
int TTradeServer::CheckStops(const TQuote& AQuote, int AType, double AStopLoss,
                             double ATakeProfit) const {
    return market_rules::StopsFit(AQuote.Rules, AQuote.Bid, AQuote.Ask, AType, AStopLoss,
                                  ATakeProfit)
               ? teNone
               : teInvalidStops;
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

    TQuote* market = Find(ASymbol);
    if (!market)
        return answer(teUnknownSymbol);
    const std::optional<TFault> fault = NextFault(fqOpen, market);
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

    if (rules.Execution == TExecution::Market || rules.Execution == TExecution::Exchange) {
        // The broker fills at its own price and takes no stops with the order.
        if (AStopLoss != 0 || ATakeProfit != 0)
            return answer(teInvalidStops);
    } else {
        const double current = AType == otBuy ? market->Ask : market->Bid;
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
    order.OpenPrice = FillPrice(*market, AType);
    order.StopLoss = AStopLoss;
    order.TakeProfit = ATakeProfit;
    order.Magic = AMagic;
    order.Comment = FCommentKeep ? AComment.substr(0, *FCommentKeep) + FCommentTail : AComment;
    order.OpenTime = FClock();
    order.Account = FAccount;
    order.ListedAt = order.OpenTime;
    if (fault && fault->Error != teNone)
        order.ListedAt += std::max(fault->ListAfterMs, 0LL);
    order.Profit = ProfitNow(*market, AType, ALots, order.OpenPrice);
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
    TQuote& market = *Find(order.Symbol);
    request.Symbol = order.Symbol;
    request.Type = order.Type;
    const std::optional<TFault> fault = NextFault(fqStops, &market);
    if (fault && fault->Error != teNone && !fault->PlaceAnyway)
        return answer(fault->Error);

    const TSymbolRules& rules = market.Rules;
    if (!std::isfinite(AStopLoss) || !std::isfinite(ATakeProfit))
        return answer(teInvalidStops);
    if (std::abs(AStopLoss - order.StopLoss) < rules.Point / 2 &&
        std::abs(ATakeProfit - order.TakeProfit) < rules.Point / 2)
        return answer(teNoResult);
    // An order whose stop or target is within the freeze level of the market is frozen.
    if (market_rules::Frozen(rules, market.Bid, market.Ask, order.Type, order.StopLoss,
                             order.TakeProfit))
        return answer(teTradeModifyDenied);
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

void TTradeServer::ClearRequests() {
    std::lock_guard lock(FLock);
    FRequests.clear();
}
