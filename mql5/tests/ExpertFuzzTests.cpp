// Bad input, any answer, for the MT5 expert as for the MT4 one: whatever the panel's fields read,
// whatever the symbol's execution and filling rules and the account's mode, and whatever the
// server answers, in any order and with any delay before it lists a deal it made after an
// unclear answer, the expert makes no deal the trader did not ask for, never more than one per
// click and never for more lots than typed, and every click ends told.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "mql5/tests/ExpertKit5.h"

namespace {

double Field(std::mt19937& ARandom) {
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

double SaneField(std::mt19937& ARandom, int ASlot) {
    const double values[4][3] = {{0.1, 0.5, 1}, {0, 30, 45}, {0, 60, 90}, {0, 10, 25}};
    return values[ASlot][ARandom() % 3];
}

TFault AnyFault(std::mt19937& ARandom) {
    // Every code of the reference's table, none at all, and codes it does not have.
    std::uniform_int_distribution<int> code(10003, 10047);
    const long long delays[] = {0, 0, 300, 2000, 15000, 59000, 70000, TFault::Never};
    std::uniform_int_distribution<std::size_t> delay(0, std::size(delays) - 1);
    std::uniform_int_distribution<int> move(-80, 80);
    TFault fault;
    fault.Error = ARandom() % 5 == 0 ? 0 : code(ARandom);
    // Done is the server's own answer; "unsupported filling" would hide one the rules gave.
    if (fault.Error == static_cast<int>(rcDone) || fault.Error == static_cast<int>(rcDonePartial) ||
        fault.Error == static_cast<int>(rcInvalidFill))
        fault.Error = 0;
    fault.PlaceAnyway = ARandom() % 2 == 0;
    fault.MoveBidPoints = ARandom() % 4 == 0 ? double(move(ARandom)) : 0;
    // Only an answer that leaves the outcome open, or "done", may come with a deal listed late;
    // any other answer with a deal is listed at once, as the MT4 run has it.
    const int unclear[] = {rcTimeout,    rcError, rcPlaced, rcLocked, rcOrderChanged,
                           rcConnection, 10003,   10005,    10037,    10047};
    if ((fault.PlaceAnyway &&
         std::find(std::begin(unclear), std::end(unclear), fault.Error) != std::end(unclear)) ||
        (fault.Error == 0 && ARandom() % 3 == 0))
        fault.ListAfterMs = delays[delay(ARandom)];
    if (ARandom() % 6 == 0)
        fault.FillLots = 0.05 * (1 + ARandom() % 4);
    if (ARandom() % 6 == 0)
        fault.SplitLots = 0.01 * (1 + ARandom() % 5); // a fill in two deals
    return fault;
}

// The messages that end a click: one per click.
int Outcomes(const TExpertKit5& AKit) {
    return AKit.JournalWith(" done at ") + AKit.AlertsWith(" done at ") +
           AKit.AlertsWith(" filled only in part: ") + AKit.AlertsWith(" not sent: ") +
           AKit.AlertsWith("did not confirm the deal within") +
           AKit.AlertsWith("but the terminal has not listed its deal within") +
           AKit.AlertsWith("but the terminal does not list its deal");
}

TEST(Expert5BadInput, NeverADealNotAskedForNeverTwoPerClickAndEveryFailureTold) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        TExpertKit5 kit(random() % 2 == 0);
        const TExecution executions[] = {TExecution::Instant, TExecution::Request,
                                         TExecution::Market, TExecution::Exchange};
        kit.Rules("EURUSD", [&](TSymbolRules& rules) {
            rules.Execution = executions[random() % 4];
            rules.FillingModes = static_cast<int>(random() % 4);
            rules.StopLevel = static_cast<int>(random() % 60);
            rules.FreezeLevel = static_cast<int>(random() % 40);
            const double steps[] = {0.01, 0.001, 0.1, 0.5, 1};
            rules.LotStep = steps[random() % 5];
            rules.MinLot = rules.LotStep * (1 + random() % 3);
            rules.MaxLot = 50;
            rules.VolumeLimit = random() % 3 == 0 ? 2 : 0;
        });
        auto& expert = kit.Attach("EURUSD");
        const bool sane = seed % 2 == 0;

        double bid = 1.08450;
        for (int click = 1; click <= 12; ++click) {
            std::array<double, 4> typed{};
            for (int slot = 0; slot < 4; ++slot)
                kit.Type(expert, slot,
                         typed[static_cast<std::size_t>(slot)] =
                             sane ? SaneField(random, slot) : Field(random));
            std::vector<TFault> deals, sltps;
            for (unsigned i = random() % 8; i > 0; --i)
                deals.push_back(AnyFault(random));
            for (unsigned i = random() % 8; i > 0; --i)
                sltps.push_back(AnyFault(random));
            kit.Server.InjectDealFaults(deals);
            kit.Server.InjectSltpFaults(sltps);

            const std::size_t ordersBefore = kit.Server.Orders().size();
            const std::size_t alertsBefore = kit.Host.Alerts.size();
            const int side = random() % 2 ? 1 : 2;
            kit.Click(expert, side);
            // A fill may come as several deals; each click is one order at most.
            const auto made = kit.Server.Orders();
            ASSERT_LE(made.size() - ordersBefore, 1u) << "more than one order for one click";
            if (made.size() > ordersBefore) {
                const TOrder5& order = made.back();
                EXPECT_EQ(order.Type, side == 1 ? otBuy : otSell) << "the other side";
                EXPECT_TRUE(std::isfinite(typed[0]) && order.VolumeFilled <= typed[0] * (1 + 1e-9))
                    << "more lots than typed: " << order.VolumeFilled << " for " << typed[0];
                for (int slot = 1; slot < 4; ++slot)
                    EXPECT_TRUE(std::isfinite(typed[static_cast<std::size_t>(slot)]) &&
                                typed[static_cast<std::size_t>(slot)] >= 0)
                        << "a deal with a field that reads "
                        << typed[static_cast<std::size_t>(slot)];
            } else {
                EXPECT_GT(kit.Host.Alerts.size(), alertsBefore) << "a failure nobody was told of";
            }
            for (const TServerRequest5& r : kit.Server.Requests())
                EXPECT_NE(r.Result.Retcode, static_cast<unsigned>(rcInvalidFill))
                    << "a filling policy the symbol does not allow";
            kit.Server.ClearRequests();
            EXPECT_TRUE(expert.CriticalError().empty()) << expert.CriticalError();

            const int ticks = 5 + static_cast<int>(random() % 40);
            for (int tick = 0; tick < ticks; ++tick) {
                bid = std::round((bid + (static_cast<int>(random() % 21) - 10) * 0.00001) * 1e5) /
                      1e5;
                kit.Quote("EURUSD", bid, std::round((bid + 0.00012) * 1e5) / 1e5);
                kit.Host.Now += 100 + random() % 400;
                expert.Tick();
            }
            for (const TServerRequest5& r : kit.Server.Requests())
                EXPECT_NE(r.Request.Action, taDeal) << "a deal without a click";
            kit.Server.ClearRequests();
        }
        kit.Wait(expert, 61000);
        EXPECT_EQ(Outcomes(kit), 12) << kit.AlertsText();
    }
}

} // namespace
