#include "tradeserver/TradeServer5.h"

#include <algorithm>
#include <cmath>

#include "tradeserver/MarketRules.h"

using market_rules::ClosingPrice;
using market_rules::OnGrid;
using market_rules::Tolerance;

namespace {

int Opposite(int AType) {
    return AType == otBuy ? otSell : otBuy;
}

} // namespace

TTradeServer5::TTradeServer5(TClock AClock) : TMarket(std::move(AClock)) {
    FAccounts[1] = {true, 10000};
}

std::vector<TDeal5> TTradeServer5::SetQuote(const std::string& ASymbol, double ABid, double AAsk) {
    std::lock_guard lock(FLock);
    std::vector<TDeal5> closed;
    const TQuote* quote = Tick(ASymbol, ABid, AAsk);
    if (!quote)
        return closed;
    for (auto it = FPositions.begin(); it != FPositions.end();) {
        TPosition5& position = *it;
        if (position.Symbol != ASymbol) {
            ++it;
            continue;
        }
        position.Profit = ProfitNow(*quote, position.Type, position.Volume, position.PriceOpen);
        const market_rules::TStopHit hit = market_rules::StopHit(
            position.Type, ABid, AAsk, position.StopLoss, position.TakeProfit);
        if (hit == market_rules::shNone) {
            ++it;
            continue;
        }
        TDeal5 deal;
        deal.Ticket = FNextDeal++;
        deal.Order = FNextTicket++;
        deal.PositionId = position.Identifier;
        deal.Symbol = ASymbol;
        deal.Type = Opposite(position.Type);
        deal.Entry = deOut;
        deal.Volume = position.Volume;
        deal.Price = ClosingPrice(position.Type, ABid, AAsk);
        deal.Profit = position.Profit;
        deal.StopLoss = position.StopLoss;
        deal.TakeProfit = position.TakeProfit;
        deal.Magic = position.Magic;
        deal.Comment = hit == market_rules::shStopLoss ? "sl" : "tp";
        deal.Time = std::max<long long>(1, FClock());
        deal.Account = position.Account;
        deal.ListedAt = deal.Time;
        FAccounts[position.Account].Balance += deal.Profit;
        FOrders.push_back({deal.Order, deal.PositionId, ASymbol, deal.Type, fpFok, deal.Volume,
                           deal.Volume, deal.Magic, deal.Comment, deal.Time, deal.Account});
        FDeals.push_back(deal);
        closed.push_back(deal);
        it = FPositions.erase(it);
    }
    return closed;
}

void TTradeServer5::Login(int AAccount, bool AHedging, double ABalance) {
    std::lock_guard lock(FLock);
    FAccount = AAccount;
    FAccounts.try_emplace(AAccount, TAccount{AHedging, ABalance});
}

bool TTradeServer5::Hedging() const {
    std::lock_guard lock(FLock);
    return FAccounts.at(FAccount).Hedging;
}

double TTradeServer5::Balance() const {
    std::lock_guard lock(FLock);
    return FAccounts.at(FAccount).Balance;
}

void TTradeServer5::SetDeposit(double ADollars) {
    std::lock_guard lock(FLock);
    FAccounts[FAccount].Balance = ADollars;
}

void TTradeServer5::Synchronise(long long AAfterMs) {
    std::lock_guard lock(FLock);
    FSyncedAt = FClock() + AAfterMs;
}

void TTradeServer5::SetAccountTrading(bool AAllowed, bool AExperts) {
    std::lock_guard lock(FLock);
    FAccounts[FAccount].TradeAllowed = AAllowed;
    FAccounts[FAccount].TradeExpert = AExperts;
}

bool TTradeServer5::AccountTradeAllowed() const {
    std::lock_guard lock(FLock);
    return FAccounts.at(FAccount).TradeAllowed;
}

bool TTradeServer5::AccountTradeExpert() const {
    std::lock_guard lock(FLock);
    return FAccounts.at(FAccount).TradeExpert;
}

void TTradeServer5::SetCommentEnd(std::size_t AKeep, const std::string& ATail) {
    std::lock_guard lock(FLock);
    FCommentKeep = AKeep;
    FCommentTail = ATail;
}

void TTradeServer5::SetNextTicket(long long ATicket) {
    std::lock_guard lock(FLock);
    FNextTicket = ATicket;
}

bool TTradeServer5::FillingAllowed(const TSymbolRules& ARules, int AFilling) {
    switch (ARules.Execution) {
    case TExecution::Instant:
    case TExecution::Request:
        return AFilling == fpFok;
    case TExecution::Market:
        return (AFilling == fpFok && (ARules.FillingModes & sfFok)) ||
               (AFilling == fpIoc && (ARules.FillingModes & sfIoc));
    case TExecution::Exchange:
        return AFilling == fpReturn || (AFilling == fpFok && (ARules.FillingModes & sfFok)) ||
               (AFilling == fpIoc && (ARules.FillingModes & sfIoc));
    }
    return false;
}

// Margin in dollars at the account's leverage; a dollar-quoted symbol is valued at its ask.
double TTradeServer5::MarginOf(const TQuote& AQuote, double AVolume) const {
    const double units = AVolume * AQuote.Rules.ContractSize;
    return (AQuote.Rules.DollarIsBase ? units : units * AQuote.Ask) / Leverage();
}

double TTradeServer5::MarginUsed() const {
    double margin = 0;
    for (const TPosition5& position : FPositions)
        if (position.Account == FAccount)
            margin += MarginOf(*Find(position.Symbol), position.Volume);
    return margin;
}

unsigned TTradeServer5::Validate(const TTradeRequest5& ARequest, const TQuote& AQuote,
                                 bool ACheckPrice, double& AMargin) const {
    const TSymbolRules& rules = AQuote.Rules;
    AMargin = 0;
    if (ARequest.Type != otBuy && ARequest.Type != otSell)
        return rcInvalid;
    const TAccount& account = FAccounts.at(FAccount);
    if (!rules.TradeAllowed || !account.TradeAllowed)
        return rcTradeDisabled;
    if (!account.TradeExpert)
        return rcServerDisablesAt;
    if (!rules.MarketOpen)
        return rcMarketClosed;
    const double volume = ARequest.Volume;
    if (!std::isfinite(volume) || volume < rules.MinLot * (1 - Tolerance) ||
        volume > rules.MaxLot * (1 + Tolerance) || !OnGrid(volume, rules.LotStep))
        return rcInvalidVolume;
    if (!FillingAllowed(rules, ARequest.Filling))
        return rcInvalidFill;
    const double current = ARequest.Type == otBuy ? AQuote.Ask : AQuote.Bid;
    if (rules.Execution == TExecution::Instant || rules.Execution == TExecution::Request) {
        if (!std::isfinite(ARequest.Price) || ARequest.Price <= 0)
            return rcInvalidPrice;
        const double deviation = static_cast<double>(std::max<long long>(ARequest.Deviation, 0));
        if (ACheckPrice &&
            std::abs(ARequest.Price - current) > (deviation + Tolerance) * rules.Point)
            return rcRequote;
    }

    // What the deal leaves open on this account: the direction its stops belong to, and the
    // lots in that direction that the volume limit and the margin count.
    int resulting = ARequest.Type;
    double sameDirection = volume;
    double added = volume;
    const bool hedging = FAccounts.at(FAccount).Hedging;
    for (const TPosition5& position : FPositions) {
        if (position.Account != FAccount || position.Symbol != rules.Name)
            continue;
        if (position.Type == ARequest.Type) {
            sameDirection += position.Volume;
        } else if (!hedging) {
            if (position.Volume > volume + Tolerance)
                resulting = position.Type;
            sameDirection = std::max(volume - position.Volume, 0.0);
            added = sameDirection;
        }
    }
    if (!market_rules::StopsFit(rules, AQuote.Bid, AQuote.Ask, resulting, ARequest.StopLoss,
                                ARequest.TakeProfit))
        return rcInvalidStops;
    if (rules.VolumeLimit > 0 && sameDirection > rules.VolumeLimit * (1 + Tolerance))
        return rcLimitVolume;
    AMargin = MarginOf(AQuote, added);
    double equity = FAccounts.at(FAccount).Balance;
    for (const TPosition5& position : FPositions)
        if (position.Account == FAccount)
            equity += position.Profit;
    if (MarginUsed() + AMargin > equity)
        return rcNoMoney;
    return rcNone;
}

TTradeResult5 TTradeServer5::Send(const TTradeRequest5& ARequest) {
    std::lock_guard lock(FLock);
    FRequests.push_back({ARequest, {}});
    TTradeResult5 result;
    if (ARequest.Action == taSltp) {
        result = SetStops(ARequest);
    } else if (ARequest.Action != taDeal) {
        result.Retcode = rcInvalid;
    } else if (TQuote* market = Find(ARequest.Symbol)) {
        const std::optional<TFault> fault = NextFault(fqOpen, market);
        if (fault && fault->Error != 0 && !fault->PlaceAnyway) {
            result.Retcode = static_cast<unsigned>(fault->Error);
        } else {
            double margin = 0;
            result.Retcode = Validate(ARequest, *market, true, margin);
            if (result.Retcode == rcNone)
                result = Deal(ARequest, *market, fault);
        }
        result.Bid = market->Bid;
        result.Ask = market->Ask;
    } else {
        result.Retcode = rcInvalid;
    }
    FRequests.back().Result = result;
    return result;
}

TTradeResult5 TTradeServer5::Deal(const TTradeRequest5& ARequest, TQuote& AQuote,
                                  const std::optional<TFault>& AFault) {
    const TSymbolRules& rules = AQuote.Rules;
    TTradeResult5 result;
    const double price = FillPrice(AQuote, ARequest.Type);
    double volume = ARequest.Volume;
    if (AFault && AFault->FillLots > 0 && AFault->FillLots < volume - Tolerance) {
        // Fill or Kill takes all or nothing; the others take what the market has. A Return
        // order's remainder would wait in the book: market deals here never leave one.
        if (ARequest.Filling == fpFok) {
            result.Retcode = rcReject;
            return result;
        }
        volume = market_rules::RoundToDigits(
            std::floor(AFault->FillLots / rules.LotStep + 1e-7) * rules.LotStep, 8);
        if (volume <= 0) {
            result.Retcode = rcReject;
            return result;
        }
    }
    const bool unclear = AFault && AFault->Error != 0;
    const long long now = FClock();
    const long long listedAt = now + (AFault ? std::max(AFault->ListAfterMs, 0LL) : 0);
    const std::string comment =
        FCommentKeep ? ARequest.Comment.substr(0, *FCommentKeep) + FCommentTail : ARequest.Comment;

    TDeal5 deal;
    deal.Ticket = FNextDeal++;
    deal.Order = FNextTicket++;
    deal.Symbol = rules.Name;
    deal.Type = ARequest.Type;
    deal.Entry = deIn;
    deal.Volume = volume;
    deal.Price = price;
    deal.StopLoss = ARequest.StopLoss;
    deal.TakeProfit = ARequest.TakeProfit;
    deal.Magic = ARequest.Magic;
    deal.Comment = comment;
    deal.Time = now;
    deal.Account = FAccount;
    deal.ListedAt = listedAt;

    const auto open = [&](int AType, double AVolume) {
        TPosition5 position;
        position.Ticket = position.Identifier = deal.Order;
        position.Symbol = rules.Name;
        position.Type = AType;
        position.Volume = AVolume;
        position.PriceOpen = price;
        position.StopLoss = ARequest.StopLoss;
        position.TakeProfit = ARequest.TakeProfit;
        position.Magic = ARequest.Magic;
        position.Comment = comment;
        position.Time = position.TimeUpdate = now;
        position.Account = FAccount;
        position.ListedAt = listedAt;
        position.Profit = ProfitNow(AQuote, AType, AVolume, price);
        FPositions.push_back(position);
        return position.Identifier;
    };

    const auto netted =
        FAccounts.at(FAccount).Hedging
            ? FPositions.end()
            : std::find_if(FPositions.begin(), FPositions.end(), [&](const TPosition5& p) {
                  return p.Account == FAccount && p.Symbol == rules.Name;
              });
    if (netted == FPositions.end()) {
        deal.PositionId = open(ARequest.Type, volume);
    } else {
        // Netting: the deal changes the symbol's one position. A deal that adds to it or
        // reverses it brings its stops, zeros deleting the position's; one that reduces it
        // leaves them.
        TPosition5& position = *netted;
        deal.PositionId = position.Identifier;
        position.TimeUpdate = now;
        if (position.Type == ARequest.Type) {
            const double total = position.Volume + volume;
            position.PriceOpen = market_rules::RoundToDigits(
                (position.PriceOpen * position.Volume + price * volume) / total, rules.Digits + 3);
            position.Volume = total;
            position.StopLoss = ARequest.StopLoss;
            position.TakeProfit = ARequest.TakeProfit;
        } else {
            const double closed = std::min(volume, position.Volume);
            deal.Profit = OrderProfit(rules, position.Type, closed, position.PriceOpen, price);
            FAccounts[FAccount].Balance += deal.Profit;
            if (volume < position.Volume - Tolerance) {
                deal.Entry = deOut;
                position.Volume -= volume;
            } else if (volume <= position.Volume + Tolerance) {
                deal.Entry = deOut;
                FPositions.erase(netted);
            } else {
                // A reversal keeps the position's identifier; its ticket becomes the order's.
                deal.Entry = deInOut;
                position.Ticket = deal.Order;
                position.Type = ARequest.Type;
                position.Volume = volume - position.Volume;
                position.PriceOpen = price;
                position.StopLoss = ARequest.StopLoss;
                position.TakeProfit = ARequest.TakeProfit;
            }
        }
        for (TPosition5& p : FPositions)
            if (p.Identifier == deal.PositionId)
                p.Profit = ProfitNow(AQuote, p.Type, p.Volume, p.PriceOpen);
    }
    if (AFault && AFault->SplitLots > 0 && AFault->SplitLots < volume - Tolerance) {
        // The market filled the order in two parts: two deals of one order, one position.
        TDeal5 first = deal;
        first.Volume = AFault->SplitLots;
        first.Profit = 0;
        deal.Ticket = FNextDeal++;
        deal.Volume = market_rules::RoundToDigits(volume - AFault->SplitLots, 8);
        FDeals.push_back(first);
    }
    FDeals.push_back(deal);
    FOrders.push_back({deal.Order, deal.PositionId, rules.Name, ARequest.Type, ARequest.Filling,
                       ARequest.Volume, volume, ARequest.Magic, comment, now, FAccount});

    if (unclear) {
        // Done, but the terminal never heard of it.
        result.Retcode = static_cast<unsigned>(AFault->Error);
        return result;
    }
    result.Retcode = volume < ARequest.Volume - Tolerance ? rcDonePartial : rcDone;
    result.Deal = deal.Ticket;
    result.Order = deal.Order;
    result.Volume = volume;
    result.Price = price;
    result.Comment = "Request executed";
    return result;
}

TTradeResult5 TTradeServer5::SetStops(const TTradeRequest5& ARequest) {
    TTradeResult5 result;
    const auto answer = [&](unsigned ARetcode) {
        result.Retcode = ARetcode;
        return result;
    };
    const auto it = std::find_if(FPositions.begin(), FPositions.end(), [&](const TPosition5& p) {
        return p.Ticket == ARequest.Position && p.Account == FAccount;
    });
    const bool found =
        it != FPositions.end() && (ARequest.Symbol.empty() || ARequest.Symbol == it->Symbol);
    // The request takes its fault even when it names no position of this account.
    TQuote* quote = found ? Find(it->Symbol) : nullptr;
    const std::optional<TFault> fault = NextFault(fqStops, quote);
    if (!found)
        return answer(rcInvalid);
    TPosition5& position = *it;
    TQuote& market = *quote;
    result.Bid = market.Bid;
    result.Ask = market.Ask;
    if (fault && fault->Error != 0 && !fault->PlaceAnyway)
        return answer(static_cast<unsigned>(fault->Error));
    const TSymbolRules& rules = market.Rules;
    if (!rules.TradeAllowed || !FAccounts.at(FAccount).TradeAllowed)
        return answer(rcTradeDisabled);
    if (!FAccounts.at(FAccount).TradeExpert)
        return answer(rcServerDisablesAt);
    if (!rules.MarketOpen)
        return answer(rcMarketClosed);
    if (!std::isfinite(ARequest.StopLoss) || !std::isfinite(ARequest.TakeProfit))
        return answer(rcInvalidStops);
    if (std::abs(ARequest.StopLoss - position.StopLoss) < rules.Point / 2 &&
        std::abs(ARequest.TakeProfit - position.TakeProfit) < rules.Point / 2)
        return answer(rcNoChanges);
    if (market_rules::Frozen(rules, market.Bid, market.Ask, position.Type, position.StopLoss,
                             position.TakeProfit))
        return answer(rcFrozen);
    if (!market_rules::StopsFit(rules, market.Bid, market.Ask, position.Type, ARequest.StopLoss,
                                ARequest.TakeProfit))
        return answer(rcInvalidStops);
    position.StopLoss = ARequest.StopLoss;
    position.TakeProfit = ARequest.TakeProfit;
    if (fault && fault->Error != 0)
        return answer(static_cast<unsigned>(fault->Error));
    return answer(rcDone);
}

TTradeCheck5 TTradeServer5::Check(const TTradeRequest5& ARequest) const {
    std::lock_guard lock(FLock);
    TTradeCheck5 check;
    check.Balance = FAccounts.at(FAccount).Balance;
    check.Equity = check.Balance;
    for (const TPosition5& position : FPositions)
        if (position.Account == FAccount)
            check.Equity += position.Profit;
    check.Margin = MarginUsed();
    if (ARequest.Action == taSltp) {
        const auto it = std::find_if(FPositions.begin(), FPositions.end(), [&](const auto& p) {
            return p.Ticket == ARequest.Position && p.Account == FAccount;
        });
        if (it == FPositions.end()) {
            check.Retcode = rcInvalid;
        } else {
            const TQuote& market = *Find(it->Symbol);
            if (!market_rules::StopsFit(market.Rules, market.Bid, market.Ask, it->Type,
                                        ARequest.StopLoss, ARequest.TakeProfit))
                check.Retcode = rcInvalidStops;
        }
    } else if (const TQuote* market = ARequest.Action == taDeal ? Find(ARequest.Symbol) : nullptr) {
        double margin = 0;
        check.Retcode = Validate(ARequest, *market, false, margin);
        check.Margin += margin;
    } else {
        check.Retcode = rcInvalid;
    }
    check.MarginFree = check.Equity - check.Margin;
    return check;
}

bool TTradeServer5::Listed(long long AListedAt, int AAccount) const {
    return AAccount == FAccount && AListedAt <= FClock() && FSyncedAt <= FClock();
}

std::vector<TPosition5> TTradeServer5::ListedPositions() const {
    std::lock_guard lock(FLock);
    std::vector<TPosition5> listed;
    for (const TPosition5& position : FPositions)
        if (Listed(position.ListedAt, position.Account))
            listed.push_back(position);
    return listed;
}

std::vector<TDeal5> TTradeServer5::ListedDeals() const {
    std::lock_guard lock(FLock);
    std::vector<TDeal5> listed;
    for (const TDeal5& deal : FDeals)
        if (Listed(deal.ListedAt, deal.Account))
            listed.push_back(deal);
    return listed;
}

void TTradeServer5::ClearRequests() {
    std::lock_guard lock(FLock);
    FRequests.clear();
}
