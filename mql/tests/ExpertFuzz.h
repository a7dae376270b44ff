#pragma once
// Bad input, any answer, for the expert of either language: whatever the panel's fields read,
// whatever the symbol's rules, and whatever the server answers, in any order and with any delay
// before it lists a trade it made after an unclear answer, the expert makes no trade the trader
// did not ask for, never more than one per click and never for more lots than typed, and every
// click ends told. RunBadInput drives one seeded run; its adapter says how its language's kit
// and server are set up, which faults they meet, and what ends a click.
//
// An adapter provides: Kit(random), the kit with EURUSD's rules drawn; AnyFault(random); Book,
// the server's member that lists every trade it made, and Side and Lots, the trade's members;
// Opens(request), whether a request asked for a trade; CheckAnswers(kit), after each click,
// before the requests are cleared; Outcomes(kit), the messages that end a click; and
// CheckEnd(kit), after the last click.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

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

// Twelve clicks on one EURUSD chart with the seed's fields, faults and ticks.
template <class TAdapter> void RunBadInput(std::uint32_t ASeed) {
    std::mt19937 random(ASeed);
    const auto kit = TAdapter::Kit(random);
    auto& expert = kit->Attach("EURUSD");
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
