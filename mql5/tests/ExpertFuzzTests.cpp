// Bad input, any answer, for the MT5 expert (the run of mql/tests/ExpertFuzz.h): whatever the
// symbol's execution and filling rules and the account's mode; its answers are every return code
// of the reference's table and codes it does not have, with partial fills, and a deal made after
// an unclear answer may be listed late or never.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "mql/tests/ExpertFuzz.h"
#include "mql5/tests/ExpertKit5.h"

namespace {

struct TMt5Run {
    static std::unique_ptr<TExpertKit5> Kit(std::mt19937& ARandom) {
        auto kit = std::make_unique<TExpertKit5>(ARandom() % 2 == 0);
        const TExecution executions[] = {TExecution::Instant, TExecution::Request,
                                         TExecution::Market, TExecution::Exchange};
        kit->Rules("EURUSD", [&](TSymbolRules& rules) {
            rules.Execution = executions[ARandom() % 4];
            rules.FillingModes = static_cast<int>(ARandom() % 4);
            expert_fuzz::DrawLevelsAndLots(rules, ARandom);
            rules.VolumeLimit = ARandom() % 3 == 0 ? 2 : 0;
        });
        return kit;
    }

    static TFault AnyFault(std::mt19937& ARandom) {
        // Every code of the reference's table, none at all, and codes it does not have.
        std::uniform_int_distribution<int> code(10003, 10047);
        std::uniform_int_distribution<int> move(-80, 80);
        TFault fault;
        fault.Error = ARandom() % 5 == 0 ? 0 : code(ARandom);
        // Done is the server's own answer; "unsupported filling" would hide one the rules gave.
        if (fault.Error == static_cast<int>(rcDone) ||
            fault.Error == static_cast<int>(rcDonePartial) ||
            fault.Error == static_cast<int>(rcInvalidFill))
            fault.Error = 0;
        fault.PlaceAnyway = ARandom() % 2 == 0;
        fault.MoveBidPoints = ARandom() % 4 == 0 ? double(move(ARandom)) : 0;
        // Only an answer that leaves the outcome open, or "done", may come with a deal listed
        // late; any other answer with a deal is listed at once, as the MT4 run has it.
        const int unclear[] = {rcTimeout,    rcError, rcPlaced, rcLocked, rcOrderChanged,
                               rcConnection, 10003,   10005,    10037,    10047};
        if ((fault.PlaceAnyway &&
             std::find(std::begin(unclear), std::end(unclear), fault.Error) != std::end(unclear)) ||
            (fault.Error == 0 && ARandom() % 3 == 0))
            fault.ListAfterMs = expert_fuzz::ListingDelay(ARandom);
        if (ARandom() % 6 == 0)
            fault.FillLots = 0.05 * (1 + ARandom() % 4);
        if (ARandom() % 6 == 0)
            fault.SplitLots = 0.01 * (1 + ARandom() % 5); // a fill in two deals
        return fault;
    }

    // Every order made, on any account: a fill may come as several deals, and each click is one
    // order at most.
    static constexpr auto Book = &TTradeServer5::Orders;
    static constexpr auto Side = &TOrder5::Type;
    static constexpr auto Lots = &TOrder5::VolumeFilled;
    static constexpr auto Trade = &TOrder5::PositionId;

    static std::vector<TOpenTrade> Open(const TExpertKit5& AKit) { return AKit.OpenTrades(); }
    static double Equity(const TExpertKit5& AKit) { return AKit.Server.Check({}).Equity; }

    static bool Opens(const TServerRequest5& ARequest) { return ARequest.Request.Action == taDeal; }

    static void CheckAnswers(const TExpertKit5& AKit) {
        for (const TServerRequest5& r : AKit.Server.Requests())
            EXPECT_NE(r.Result.Retcode, static_cast<unsigned>(rcInvalidFill))
                << "a filling policy the symbol does not allow";
    }

    // The messages that end a click: one per click.
    static int Outcomes(const TExpertKit5& AKit) {
        return AKit.JournalWith(" done at ") + AKit.AlertsWith(" done at ") +
               AKit.AlertsWith(" filled only in part: ") + AKit.AlertsWith(" not sent: ") +
               AKit.AlertsWith("did not confirm the deal within") +
               AKit.AlertsWith("but the terminal has not listed its deal within") +
               AKit.AlertsWith("but the terminal does not list its deal");
    }

    static void CheckEnd(const TExpertKit5&) {}
};

TEST(Expert5BadInput, NeverADealNotAskedForNeverTwoPerClickAndEveryFailureTold) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expert_fuzz::RunBadInput<TMt5Run>(seed);
    }
}

} // namespace
