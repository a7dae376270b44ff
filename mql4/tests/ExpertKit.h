#pragma once
// The MT4 expert's terminal in miniature (the kit base of mql/tests/ExpertKitBase.h) with the MT4
// server's sends and modifies, and its accounts.

#include <vector>

#include "mql/tests/ExpertKitBase.h"
#include "mql4/PellithPanel.h"

using TFakePanel = TFakePanelOf<mql4::TPellithPanelImports, int>;

class TExpertKit : public TExpertKitOf<mql4::TPellithPanel, TTradeServer, int> {
public:
    TExpertKit() : TExpertKitOf(0x1000) {}

    // The terminal logs in to another account; every running expert is initialised again.
    void ChangeAccount(int AAccount) {
        Server.Login(AAccount);
        AccountChanged();
    }
    std::vector<TServerRequest> Sends() const {
        return RequestsWhere(
            [](const TServerRequest& r) { return r.Kind == TServerRequest::rkSend; });
    }
    std::vector<TServerRequest> Modifies() const {
        return RequestsWhere(
            [](const TServerRequest& r) { return r.Kind == TServerRequest::rkModify; });
    }
    // What the guards' shared cases (mql/tests/GuardCases.h) ask of every kit.
    std::size_t TradeRequests() const { return Sends().size(); }
    std::vector<TStopRequest> StopRequests() const {
        std::vector<TStopRequest> stops;
        for (const TServerRequest& r : Modifies())
            stops.push_back({r.StopLoss, r.Answer == teNone});
        return stops;
    }
    std::vector<TOpenTrade> OpenTrades() const {
        std::vector<TOpenTrade> open;
        for (const TServerOrder& o : Server.OpenOrders())
            open.push_back({o.Ticket, o.Type, o.Lots, o.OpenPrice, o.StopLoss});
        return open;
    }
};
