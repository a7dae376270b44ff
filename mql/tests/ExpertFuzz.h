#pragma once
// Bad input, any answer, for the expert of either language: whatever the panel's fields read,
// whatever the symbol's rules, and whatever the server answers, in any order and with any delay
// before it lists a trade it made after an unclear answer, the expert makes no trade the trader
// did not ask for, never more than one per click and never for more lots than typed, and every
// click ends told. With the trader's guards drawn too: never more lots than the cap, never more
// lost at a new trade's stop than the risk allows, and a stop that reached the profit side never
// goes back. RunBadInput drives one seeded run; its adapter says how its language's kit
// and server are set up, which faults they meet, and what ends a click.
//
// An adapter provides: Kit(random), the kit with EURUSD's rules drawn; AnyFault(random); Book,
// the server's member that lists every trade it made, and Side and Lots, the trade's members;
// Opens(request), whether a request asked for a trade; CheckAnswers(kit), after each click,
// before the requests are cleared; Outcomes(kit), the messages that end a click; and
// CheckEnd(kit), after the last click; Trade, the member of a Book entry that names its trade
// (order or position) in Open(kit), the open trades with their stops; and Equity(kit).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "mql/tests/ExpertKitBase.h"
#include "tradeserver/Market.h"

namespace expert_fuzz {

// What a field of the panel may read: anything.
inline double Field(std::mt19937& ARandom) {
    const double values[] = {0,
                             -1,
                             -0.01,
                             1e-9,
                             0.01,
                             0.1,
                             0.016,
                             0.5,
                             3,
                             30,
                             150,
                             1e12,
                             1e308,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::nan("")};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(values) - 1);
    std::uniform_real_distribution<double> any(-5, 200);
    return ARandom() % 3 == 0 ? any(ARandom) : values[pick(ARandom)];
}

// Lots, stop-loss, take-profit, trailing stop as a trader types them.
inline double SaneField(std::mt19937& ARandom, int ASlot) {
    const double values[4][3] = {{0.1, 0.5, 1}, {0, 30, 45}, {0, 60, 90}, {0, 10, 25}};
    return values[ASlot][ARandom() % 3];
}

// A symbol's stop and freeze levels and its lot limits as a broker may set them.
inline void DrawLevelsAndLots(TSymbolRules& ARules, std::mt19937& ARandom) {
    ARules.StopLevel = static_cast<int>(ARandom() % 60);
    ARules.FreezeLevel = static_cast<int>(ARandom() % 40);
    const double steps[] = {0.01, 0.001, 0.1, 0.5, 1};
    ARules.LotStep = steps[ARandom() % 5];
    ARules.MinLot = ARules.LotStep * (1 + ARandom() % 3);
    ARules.MaxLot = 50;
}

// How late the terminal lists a trade made after an answer that leaves it open.
inline long long ListingDelay(std::mt19937& ARandom) {
    const long long delays[] = {0, 0, 300, 2000, 15000, 59000, 70000, TFault::Never};
    std::uniform_int_distribution<std::size_t> delay(0, std::size(delays) - 1);
    return delays[delay(ARandom)];
}

// The trader's guards as a trader sets them: off, or on at common figures.
template <class TInputs> void DrawGuards(TInputs& AInputs, std::mt19937& ARandom) {
    const double risks[] = {0, 0, 0.5, 1, 3};
    const double caps[] = {0, 3, 5}; // never below the minimum lot DrawLevelsAndLots draws
    const double evens[] = {0, 0, 3, 10};
    const double spreads[] = {0, 0, 1.5, 3};
    AInputs.InpRiskPercent = risks[ARandom() % 5];
    AInputs.InpMaxLots = caps[ARandom() % 3];
    AInputs.InpBreakEvenPips = evens[ARandom() % 4];
    AInputs.InpBreakEvenLockPips = AInputs.InpBreakEvenPips > 0 ? double(ARandom() % 3) : 1;
    AInputs.InpMaxSpreadPips = spreads[ARandom() % 4];
}

// Twelve clicks on one EURUSD chart with the seed's fields, faults and ticks.
template <class TAdapter> void RunBadInput(std::uint32_t ASeed) {
    std::mt19937 random(ASeed);
    const auto kit = TAdapter::Kit(random);
    typename std::decay_t<decltype(*kit)>::TInputs inputs;
    DrawGuards(inputs, random);
    auto& expert = kit->Attach("EURUSD", inputs);
    ASSERT_TRUE(expert.Running()) << kit->AlertsText();
    // Per trade and side, the last stop seen on the profit side of its open price.
    std::map<std::pair<long long, int>, std::pair<double, double>> gained;
    // Every other run the trader types what a trader would, so that most clicks reach the
    // server and its answers decide.
    const bool sane = ASeed % 2 == 0;

    double bid = 1.08450;
    for (int click = 1; click <= 12; ++click) {
        std::array<double, 4> typed{};
        for (std::size_t slot = 0; slot < 4; ++slot)
            kit->Type(expert, static_cast<int>(slot),
                      typed[slot] =
                          sane ? SaneField(random, static_cast<int>(slot)) : Field(random));
        std::vector<TFault> open, stops;
        for (unsigned i = random() % 8; i > 0; --i)
            open.push_back(TAdapter::AnyFault(random));
        for (unsigned i = random() % 8; i > 0; --i)
            stops.push_back(TAdapter::AnyFault(random));
        kit->Server.Inject(TMarket::fqOpen, open);
        kit->Server.Inject(TMarket::fqStops, stops);

        const std::size_t tradesBefore = (kit->Server.*TAdapter::Book)().size();
        const std::size_t alertsBefore = kit->Host.Alerts.size();
        const int side = random() % 2 ? 1 : 2;
        const double equity = TAdapter::Equity(*kit);
        kit->Click(expert, side);
        const auto trades = (kit->Server.*TAdapter::Book)();
        ASSERT_LE(trades.size() - tradesBefore, 1u) << "more than one trade for one click";
        if (trades.size() > tradesBefore) {
            const int type = trades.back().*TAdapter::Side;
            const double lots = trades.back().*TAdapter::Lots;
            EXPECT_EQ(type, side == 1 ? otBuy : otSell) << "the other side";
            EXPECT_TRUE(std::isfinite(typed[0]) && lots <= typed[0] * (1 + 1e-9))
                << "more lots than typed: " << lots << " for " << typed[0];
            for (std::size_t slot = 1; slot < 4; ++slot)
                EXPECT_TRUE(std::isfinite(typed[slot]) && typed[slot] >= 0)
                    << "a trade with a field that reads " << typed[slot];
            EXPECT_TRUE(inputs.InpMaxLots == 0 || lots <= inputs.InpMaxLots * (1 + 1e-9))
                << lots << " lots above the cap of " << inputs.InpMaxLots;
            const long long id = trades.back().*TAdapter::Trade;
            for (const TOpenTrade& open : TAdapter::Open(*kit)) {
                // A trade of its own (not one added to a netting position) with a stop.
                if (inputs.InpRiskPercent == 0 || open.Id != id || open.StopLoss == 0 ||
                    std::abs(open.Lots - lots) > 1e-9)
                    continue;
                const double loss = -OrderProfit(*kit->Server.Rules("EURUSD"), open.Type, open.Lots,
                                                 open.Open, open.StopLoss);
                const bool told =
                    kit->AlertsWith("#" + std::to_string(id) + " is open WITHOUT its") > 0;
                EXPECT_TRUE(loss <= equity * inputs.InpRiskPercent / 100 * (1 + 1e-6) || told)
                    << loss << " lost at the stop of #" << id << ", more than "
                    << inputs.InpRiskPercent << " % of " << equity;
            }
        } else {
            EXPECT_GT(kit->Host.Alerts.size(), alertsBefore) << "a failure nobody was told of";
        }
        TAdapter::CheckAnswers(*kit);
        // Answers left over meet the next click: any answer, in any order.
        kit->Server.ClearRequests();
        EXPECT_TRUE(expert.CriticalError().empty()) << expert.CriticalError();

        // Ticks with the market moving, trailing whatever is open, for up to 20 s: the next
        // click may come while this one is still looked for.
        const int ticks = 5 + static_cast<int>(random() % 40);
        for (int tick = 0; tick < ticks; ++tick) {
            bid = std::round((bid + (static_cast<int>(random() % 21) - 10) * 0.00001) * 1e5) / 1e5;
            kit->Quote("EURUSD", bid, std::round((bid + 0.00012) * 1e5) / 1e5);
            kit->Host.Now += 100 + random() % 400;
            expert.Tick();
            for (const TOpenTrade& open : TAdapter::Open(*kit)) {
                const double direction = open.Type == otBuy ? 1 : -1;
                const auto key = std::make_pair(open.Id, open.Type);
                const auto seen = gained.find(key);
                // A netting position's open price moves when it is added to: a new start.
                if (seen != gained.end() && seen->second.first == open.Open) {
                    EXPECT_GE(direction * (open.StopLoss - seen->second.second), -1e-9)
                        << "the stop of #" << open.Id << " went back from " << seen->second.second
                        << " to " << open.StopLoss;
                }
                if (open.StopLoss != 0 && direction * (open.StopLoss - open.Open) >= 0)
                    gained[key] = {open.Open, open.StopLoss};
                else
                    gained.erase(key);
            }
        }
        for (const auto& request : kit->Server.Requests())
            EXPECT_FALSE(TAdapter::Opens(request)) << "a trade without a click";
        kit->Server.ClearRequests();
    }
    kit->Wait(expert, 61000);
    EXPECT_EQ(TAdapter::Outcomes(*kit), 12) << kit->AlertsText();
    TAdapter::CheckEnd(*kit);
}

} // namespace expert_fuzz
