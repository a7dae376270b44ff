#include "tradeserver/Market.h"

#include "tradeserver/MarketRules.h"

double OrderProfit(const TSymbolRules& ARules, int AType, double ALots, double AOpen,
                   double AClose) {
    const double move = AType == otBuy ? AClose - AOpen : AOpen - AClose;
    const double inQuoteCurrency = move * ARules.ContractSize * ALots;
    return ARules.DollarIsBase ? inQuoteCurrency / AClose : inQuoteCurrency;
}

double TickValue(const TSymbolRules& ARules, double ABid) {
    if (ARules.TickValue >= 0)
        return ARules.TickValue;
    const double inQuoteCurrency = ARules.ContractSize * ARules.Point;
    if (!ARules.DollarIsBase)
        return inQuoteCurrency;
    return ABid > 0 ? inQuoteCurrency / ABid : 0;
}

TMarket::TMarket(TClock AClock) : FClock(std::move(AClock)) {}

void TMarket::AddSymbol(const TSymbolRules& ARules) {
    std::lock_guard lock(FLock);
    FQuotes.push_back({ARules, 0, 0});
}

std::optional<TSymbolRules> TMarket::Rules(const std::string& ASymbol) const {
    std::lock_guard lock(FLock);
    if (const TQuote* quote = Find(ASymbol))
        return quote->Rules;
    return std::nullopt;
}

void TMarket::SetRules(const TSymbolRules& ARules) {
    std::lock_guard lock(FLock);
    if (TQuote* quote = Find(ARules.Name))
        quote->Rules = ARules;
}

bool TMarket::Quote(const std::string& ASymbol, double& ABid, double& AAsk) const {
    std::lock_guard lock(FLock);
    const TQuote* quote = Find(ASymbol);
    if (!quote)
        return false;
    ABid = quote->Bid;
    AAsk = quote->Ask;
    return true;
}

std::optional<TMarket::TQuote> TMarket::Quoted(const std::string& ASymbol) const {
    std::lock_guard lock(FLock);
    if (const TQuote* quote = Find(ASymbol))
        return *quote;
    return std::nullopt;
}

void TMarket::SetMarketSlippage(double APoints) {
    std::lock_guard lock(FLock);
    FSlippage = APoints;
}

long long TMarket::Now() const {
    return FClock();
}

TMarket::TQuote* TMarket::Find(const std::string& ASymbol) {
    for (TQuote& quote : FQuotes)
        if (quote.Rules.Name == ASymbol)
            return &quote;
    return nullptr;
}

const TMarket::TQuote* TMarket::Find(const std::string& ASymbol) const {
    return const_cast<TMarket*>(this)->Find(ASymbol);
}

TMarket::TQuote* TMarket::Tick(const std::string& ASymbol, double ABid, double AAsk) {
    TQuote* quote = Find(ASymbol);
    if (quote) {
        quote->Bid = ABid;
        quote->Ask = AAsk;
    }
    return quote;
}

void TMarket::Inject(TFaultQueue AQueue, const std::vector<TFault>& AFaults) {
    std::lock_guard lock(FLock);
    FFaults[AQueue].insert(FFaults[AQueue].end(), AFaults.begin(), AFaults.end());
}

std::optional<TFault> TMarket::NextFault(TFaultQueue AQueue, TQuote* AQuote) {
    std::deque<TFault>& faults = FFaults[AQueue];
    if (faults.empty())
        return std::nullopt;
    const TFault fault = faults.front();
    faults.pop_front();
    if (AQuote && fault.MoveBidPoints != 0) {
        const double move = fault.MoveBidPoints * AQuote->Rules.Point;
        AQuote->Bid = market_rules::RoundToDigits(AQuote->Bid + move, AQuote->Rules.Digits);
        AQuote->Ask = market_rules::RoundToDigits(AQuote->Ask + move, AQuote->Rules.Digits);
    }
    return fault;
}

double TMarket::FillPrice(const TQuote& AQuote, int AType) const {
    const TSymbolRules& rules = AQuote.Rules;
    const double current = AType == otBuy ? AQuote.Ask : AQuote.Bid;
    if (rules.Execution != TExecution::Market && rules.Execution != TExecution::Exchange)
        return current;
    // Rounded as the quotes are, so that a slipped fill is a price the market could quote.
    return market_rules::RoundToDigits(
        current + (AType == otBuy ? 1 : -1) * FSlippage * rules.Point, rules.Digits);
}

double TMarket::ProfitNow(const TQuote& AQuote, int AType, double ALots, double AOpen) {
    return OrderProfit(AQuote.Rules, AType, ALots, AOpen,
                       market_rules::ClosingPrice(AType, AQuote.Bid, AQuote.Ask));
}
