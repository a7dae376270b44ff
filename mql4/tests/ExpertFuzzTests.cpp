// Bad input, any answer: whatever the panel's fields read and whatever the server answers, in
// any order and with any delay before it lists an order it placed after an unclear answer, the
// expert sends no order the trader did not ask for, never more than one per click, and every
// click ends told: opened, not sent, or not confirmed; no order the terminal listed in time is
// lost from the trader's view.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "mql4/tests/ExpertKit.h"

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

// Lots, stop-loss, take-profit, trailing stop as a trader types them.
double SaneField(std::mt19937& ARandom, int ASlot) {
    const double values[4][3] = {{0.1, 0.5, 1}, {0, 30, 45}, {0, 60, 90}, {0, 10, 25}};
    return values[ASlot][ARandom() % 3];
}

TFault AnyFault(std::mt19937& ARandom) {
    const int answers[] = {teNone,
                           teNoResult,
                           teCommonError,
                           teInvalidTradeParameters,
                           teServerBusy,
                           teNoConnection,
                           teTooFrequentRequests,
                           teTradeTimeout,
                           teInvalidPrice,
                           teInvalidStops,
                           teInvalidTradeVolume,
                           teMarketClosed,
                           teTradeDisabled,
                           teNotEnoughMoney,
                           tePriceChanged,
                           teOffQuotes,
                           teBrokerBusy,
                           teRequote,
                           teTradeModifyDenied,
                           teTradeContextBusy,
                           teOrderQueued,
                           teDealerAccepted,
                           9,
                           64,
                           141,
                           148,
                           4109,
                           4110,
                           4111,
                           9999};
    // How late the terminal lists an order placed after an answer that leaves it open.
    const long long delays[] = {0, 0, 300, 2000, 15000, 59000, 70000, TFault::Never};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(answers) - 1);
    std::uniform_int_distribution<std::size_t> delay(0, std::size(delays) - 1);
    std::uniform_int_distribution<int> move(-80, 80);
    TFault fault{answers[pick(ARandom)], ARandom() % 2 == 0,
                 ARandom() % 4 == 0 ? double(move(ARandom)) : 0};
    const bool unclear = fault.Error == teNoResult || fault.Error == teCommonError ||
                         fault.Error == 9 || fault.Error == teTradeTimeout ||
                         fault.Error == teOrderQueued || fault.Error == teDealerAccepted;
    if (unclear && fault.PlaceAnyway)
        fault.ListAfterMs = delays[delay(ARandom)];
    return fault;
}

// The messages that end a click: one per click.
int Outcomes(const TExpertKit& AKit) {
    return AKit.JournalWith(" opened as #") + AKit.AlertsWith(" opened as #") +
           AKit.AlertsWith(" not sent: ") + AKit.AlertsWith("did not confirm the order within") +
           AKit.AlertsWith("but cannot be found");
}

bool Mentioned(const TExpertKit& AKit, int ATicket) {
    const std::string name = "#" + std::to_string(ATicket) + " ";
    return AKit.JournalWith(name) + AKit.AlertsWith(name) > 0;
}

TEST(ExpertBadInput, NeverAnOrderNotAskedForNeverTwoPerClickAndEveryFailureTold) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        TExpertKit kit;
        TSymbolRules rules = Eurusd();
        rules.Execution = random() % 2 ? TExecution::Market : TExecution::Instant;
        rules.StopLevel = static_cast<int>(random() % 60);
        rules.FreezeLevel = static_cast<int>(random() % 40);
        const double steps[] = {0.01, 0.001, 0.1, 0.5, 1};
        rules.LotStep = steps[random() % 5];
        rules.MinLot = rules.LotStep * (1 + random() % 3);
        rules.MaxLot = 50;
        kit.Server.SetRules(rules);
        auto& expert = kit.Attach("EURUSD");
        // Every other run the trader types what a trader would, so that most clicks reach the
        // server and its answers decide.
        const bool sane = seed % 2 == 0;

        double bid = 1.08450;
        for (int click = 1; click <= 12; ++click) {
            std::array<double, 4> typed{};
            for (int slot = 0; slot < 4; ++slot)
                kit.Type(expert, slot,
                         typed[static_cast<std::size_t>(slot)] =
                             sane ? SaneField(random, slot) : Field(random));
            std::vector<TFault> send, modify;
            for (unsigned i = random() % 8; i > 0; --i)
                send.push_back(AnyFault(random));
            for (unsigned i = random() % 8; i > 0; --i)
                modify.push_back(AnyFault(random));
            kit.Server.InjectSendFaults(send);
            kit.Server.InjectModifyFaults(modify);

            const std::size_t ordersBefore = kit.Server.AllOrders().size();
            const std::size_t alertsBefore = kit.Host.Alerts.size();
            const int side = random() % 2 ? 1 : 2;
            kit.Click(expert, side);
            const auto orders = kit.Server.AllOrders();
            const std::size_t opened = orders.size() - ordersBefore;
            ASSERT_LE(opened, 1u) << "more than one order for one click";
            if (opened == 1) {
                const TServerOrder& order = orders.back();
                EXPECT_EQ(order.Type, side == 1 ? otBuy : otSell) << "the other side";
                EXPECT_TRUE(std::isfinite(typed[0]) && order.Lots <= typed[0] * (1 + 1e-9))
                    << "more lots than typed: " << order.Lots << " for " << typed[0];
                for (int slot = 1; slot < 4; ++slot)
                    EXPECT_TRUE(std::isfinite(typed[static_cast<std::size_t>(slot)]) &&
                                typed[static_cast<std::size_t>(slot)] >= 0)
                        << "an order with a field that reads "
                        << typed[static_cast<std::size_t>(slot)];
            } else {
                EXPECT_GT(kit.Host.Alerts.size(), alertsBefore) << "a failure nobody was told of";
            }
            // Answers left over meet the next click: any answer, in any order.
            kit.Server.ClearRequests();
            EXPECT_TRUE(expert.CriticalError().empty()) << expert.CriticalError();

            // Ticks with the market moving, trailing whatever is open, for up to 20 s: the
            // next click may come while this one is still looked for.
            const int ticks = 5 + static_cast<int>(random() % 40);
            for (int tick = 0; tick < ticks; ++tick) {
                bid = std::round((bid + (static_cast<int>(random() % 21) - 10) * 0.00001) * 1e5) /
                      1e5;
                kit.Quote("EURUSD", bid, std::round((bid + 0.00012) * 1e5) / 1e5);
                kit.Host.Now += 100 + random() % 400;
                expert.Tick();
            }
            for (const TServerRequest& r : kit.Server.Requests())
                EXPECT_NE(r.Kind, TServerRequest::rkSend) << "an order without a click";
            kit.Server.ClearRequests();
        }
        kit.Wait(expert, 61000);
        EXPECT_EQ(Outcomes(kit), 12) << kit.AlertsText();
        for (const TServerOrder& order : kit.Server.AllOrders()) {
            if (order.ListedAt <= order.OpenTime + 59000) {
                EXPECT_TRUE(Mentioned(kit, order.Ticket))
                    << "order #" << order.Ticket << " listed in time but never told";
            }
        }
    }
}

} // namespace
