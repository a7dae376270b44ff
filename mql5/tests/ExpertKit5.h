#pragma once
// The MT5 expert's terminal in miniature (the kit base of mql/tests/ExpertKitBase.h) with the MT5
// server's deals and position stops, and its netting and hedging accounts. Its chart handles need
// more than 32 bits, as the 64-bit Pellith.dll gets them.

#include <vector>

#include "mql/tests/ExpertKitBase.h"
#include "mql5/PellithPanel.h"

using TFakePanel5 = TFakePanelOf<mql5::TPellithPanelImports, mql::mql_long>;

class TExpertKit5 : public TExpertKitOf<mql5::TPellithPanel, TTradeServer5, mql::mql_long> {
public:
    // A hedging account unless told otherwise.
    explicit TExpertKit5(bool AHedging = true) : TExpertKitOf(0x7FF000001000LL) {
        if (!AHedging)
            Server.Login(2, false);
    }

    void ChangeAccount(int AAccount, bool AHedging) {
        Server.Login(AAccount, AHedging);
        AccountChanged();
    }
    // The requests the server received: deals, and position stops.
    std::vector<TServerRequest5> Deals() const {
        return RequestsWhere([](const TServerRequest5& r) { return r.Request.Action == taDeal; });
    }
    std::vector<TServerRequest5> Sltps() const {
        return RequestsWhere([](const TServerRequest5& r) { return r.Request.Action == taSltp; });
    }
    // What the guards' shared cases (mql/tests/GuardCases.h) ask of every kit.
    std::size_t TradeRequests() const { return Deals().size(); }
    std::vector<TStopRequest> StopRequests() const {
        std::vector<TStopRequest> stops;
        for (const TServerRequest5& r : Sltps())
            stops.push_back({r.Request.StopLoss, r.Result.Retcode == rcDone});
        return stops;
    }
    std::vector<TOpenTrade> OpenTrades() const {
        std::vector<TOpenTrade> open;
        for (const TPosition5& p : Server.Positions())
            open.push_back({p.Identifier, p.Type, p.Volume, p.PriceOpen, p.StopLoss});
        return open;
    }
};
