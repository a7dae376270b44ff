#include "demo/PaperBook.h"

#include <cmath>

namespace {

bool ValidDistance(double APips) {
    return std::isfinite(APips) && APips >= 0;
}

// The price at which a position closes now: a buy sells at the bid, a sell buys at the ask.
double ClosingPrice(TSide ASide, const TQuote& AQuote) {
    return ASide == TSide::Buy ? AQuote.Bid : AQuote.Ask;
}

} // namespace

double ProfitInDollars(const TSymbolSpec& ASpec, TSide ASide, double ALots, double AOpen,
                       double AClose) {
    const double move = ASide == TSide::Buy ? AClose - AOpen : AOpen - AClose;
    const double inQuoteCurrency = move * ASpec.ContractSize * ALots;
    return ASpec.QuotedInYen ? inQuoteCurrency / AClose : inQuoteCurrency;
}

std::optional<TPosition> TPaperBook::Open(const TOrderRequest& ARequest, const TQuote& AQuote,
                                          std::string& AReason) {
    const double lots = std::isfinite(ARequest.Lots) ? std::round(ARequest.Lots * 100) / 100 : 0;
    if (!(lots >= 0.01)) {
        AReason = "invalid volume";
        return std::nullopt;
    }
    if (!ValidDistance(ARequest.StopLossPips) || !ValidDistance(ARequest.TakeProfitPips)) {
        AReason = "invalid stops";
        return std::nullopt;
    }
    // A stop lies on the losing side of the open price, a target on the winning side.
    const double winning = ARequest.Side == TSide::Buy ? 1 : -1;
    const auto level = [&](double from, double pips, double direction) {
        return pips > 0 ? RoundToDigits(from + direction * pips * FSpec.Pip, FSpec.Digits) : 0.0;
    };
    TPosition position;
    position.Ticket = FTickets++;
    position.Side = ARequest.Side;
    position.Lots = lots;
    position.OpenPrice = ARequest.Side == TSide::Buy ? AQuote.Ask : AQuote.Bid;
    position.StopLoss = level(position.OpenPrice, ARequest.StopLossPips, -winning);
    position.TakeProfit = level(position.OpenPrice, ARequest.TakeProfitPips, winning);
    position.Profit = ProfitInDollars(FSpec, position.Side, lots, position.OpenPrice,
                                      ClosingPrice(position.Side, AQuote));
    FPositions.push_back(position);
    return position;
}

std::vector<TPositionEvent> TPaperBook::OnQuote(const TQuote& AQuote, double ATrailingStopPips) {
    std::vector<TPositionEvent> events;
    for (TPosition& p : FPositions) {
        if (p.Closed)
            continue;
        const double price = ClosingPrice(p.Side, AQuote);
        const bool buy = p.Side == TSide::Buy;

        // The trailing stop moves only in the position's favour, once the profit exceeds it.
        if (std::isfinite(ATrailingStopPips) && ATrailingStopPips > 0) {
            const double distance = ATrailingStopPips * FSpec.Pip;
            const double gain = buy ? price - p.OpenPrice : p.OpenPrice - price;
            const double trailed =
                RoundToDigits(buy ? price - distance : price + distance, FSpec.Digits);
            const bool better =
                p.StopLoss == 0 || (buy ? trailed > p.StopLoss : trailed < p.StopLoss);
            // "More than the distance" by at least half a point, so that rounding noise in the
            // subtraction cannot decide it.
            if (gain - distance > FSpec.Point / 2 && better) {
                const double old = p.StopLoss;
                p.StopLoss = trailed;
                events.push_back({TPositionEvent::ekTrail, p, old});
            }
        }

        p.Profit = ProfitInDollars(FSpec, p.Side, p.Lots, p.OpenPrice, price);
        const bool stopped = p.StopLoss != 0 && (buy ? price <= p.StopLoss : price >= p.StopLoss);
        const bool target =
            p.TakeProfit != 0 && (buy ? price >= p.TakeProfit : price <= p.TakeProfit);
        if (stopped || target) {
            p.Closed = true;
            p.ClosePrice = price;
            p.CloseReason = stopped ? "stop-loss" : "take-profit";
            events.push_back({TPositionEvent::ekClose, p, 0});
        }
    }
    return events;
}

double TPaperBook::RealisedProfit() const {
    double sum = 0;
    for (const TPosition& p : FPositions)
        if (p.Closed)
            sum += p.Profit;
    return sum;
}

double TPaperBook::OpenProfit() const {
    double sum = 0;
    for (const TPosition& p : FPositions)
        if (!p.Closed)
            sum += p.Profit;
    return sum;
}
