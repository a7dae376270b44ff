// Bad input, any answer, for the MT4 expert (the run of mql/tests/ExpertFuzz.h): its answers are
// MQL4's error codes and codes MQL4 does not have; an order placed after an unclear answer may be
// listed late or never, and no order the terminal listed in time is lost from the trader's view.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "mql/tests/ExpertFuzz.h"
#include "mql4/tests/ExpertKit.h"

namespace {

struct TMt4Run {
    static std::unique_ptr<TExpertKit> Kit(std::mt19937& ARandom) {
        auto kit = std::make_unique<TExpertKit>();
        kit->Rules("EURUSD", [&](TSymbolRules& rules) {
            rules.Execution = ARandom() % 2 ? TExecution::Market : TExecution::Instant;
            expert_fuzz::DrawLevelsAndLots(rules, ARandom);
        });
        return kit;
    }

    static TFault AnyFault(std::mt19937& ARandom) {
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
        std::uniform_int_distribution<std::size_t> pick(0, std::size(answers) - 1);
        std::uniform_int_distribution<int> move(-80, 80);
        TFault fault{answers[pick(ARandom)], ARandom() % 2 == 0,
                     ARandom() % 4 == 0 ? double(move(ARandom)) : 0};
        const bool unclear = fault.Error == teNoResult || fault.Error == teCommonError ||
                             fault.Error == 9 || fault.Error == teTradeTimeout ||
                             fault.Error == teOrderQueued || fault.Error == teDealerAccepted;
        if (unclear && fault.PlaceAnyway)
            fault.ListAfterMs = expert_fuzz::ListingDelay(ARandom);
        return fault;
    }

    // Every order placed, on any account.
    static constexpr auto Book = &TTradeServer::AllOrders;
    static constexpr auto Side = &TServerOrder::Type;
    static constexpr auto Lots = &TServerOrder::Lots;
    static constexpr auto Trade = &TServerOrder::Ticket;

    static std::vector<TOpenTrade> Open(const TExpertKit& AKit) { return AKit.OpenTrades(); }
    static double Equity(const TExpertKit& AKit) { return AKit.Server.Equity(); }

    static bool Opens(const TServerRequest& ARequest) {
        return ARequest.Kind == TServerRequest::rkSend;
    }

    static void CheckAnswers(const TExpertKit&) {}

    // The messages that end a click: one per click.
    static int Outcomes(const TExpertKit& AKit) {
        return AKit.JournalWith(" opened as #") + AKit.AlertsWith(" opened as #") +
               AKit.AlertsWith(" not sent: ") +
               AKit.AlertsWith("did not confirm the order within") +
               AKit.AlertsWith("but cannot be found");
    }

    static void CheckEnd(const TExpertKit& AKit) {
        for (const TServerOrder& order : AKit.Server.AllOrders()) {
            const std::string name = "#" + std::to_string(order.Ticket) + " ";
            if (order.ListedAt <= order.OpenTime + 59000) {
                EXPECT_GT(AKit.JournalWith(name) + AKit.AlertsWith(name), 0)
                    << "order #" << order.Ticket << " listed in time but never told";
            }
        }
    }
};

TEST(ExpertBadInput, NeverAnOrderNotAskedForNeverTwoPerClickAndEveryFailureTold) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expert_fuzz::RunBadInput<TMt4Run>(seed);
    }
}

} // namespace
