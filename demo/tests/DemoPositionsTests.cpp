// Which MT5 positions the demo shows on a chart, and how: the positions a chart's deals opened on
// the demo broker's hedging and netting accounts, found among other charts' and closed by the
// server at a stop or by an opposite deal.

#include <gtest/gtest.h>

#include "demo/DemoExpert.h"

namespace {

const std::string Mine = "Pellith 131000000000000001/";
const std::string Other = "Pellith 131000000000000002/";

const TSymbolSpec& Eurusd() {
    return DemoSymbols().front();
}

struct TDeal {
    int Type;
    double Volume;
    double StopLoss;
    std::string Comment;
};

TTradeResult5 Send(TTradeServer5& AServer, const TDeal& ADeal) {
    TTradeRequest5 request;
    request.Symbol = "EURUSD";
    request.Type = ADeal.Type;
    request.Volume = ADeal.Volume;
    double bid = 0;
    double ask = 0;
    AServer.Quote("EURUSD", bid, ask);
    request.Price = ADeal.Type == otBuy ? ask : bid;
    request.StopLoss = ADeal.StopLoss;
    request.Deviation = 30;
    request.Comment = ADeal.Comment;
    return AServer.Send(request);
}

TEST(DemoPositions, ShowsTheChartsOwnPositionsOpenAndClosedOnBothKindsOfAccount) {
    struct TCase {
        const char* Name;
        bool Hedging;
        std::vector<TDeal> Deals;
        double NextBid; // the market after the deals
        // What the chart shows, in order of the positions' identifiers.
        std::vector<std::pair<int, bool>> SidesClosed;
        std::vector<double> Lots;
        std::vector<std::string> Reasons;
    } cases[] = {
        {"another chart's positions are not this chart's",
         true,
         {{otBuy, 0.25, 0, Mine + "1"}, {otSell, 0.10, 0, Other + "1"}},
         1.08460,
         {{otBuy, false}},
         {0.25},
         {""}},
        {"hedging keeps a buy and a sell open side by side",
         true,
         {{otBuy, 0.25, 0, Mine + "1"}, {otSell, 0.25, 0, Mine + "2"}},
         1.08460,
         {{otBuy, false}, {otSell, false}},
         {0.25, 0.25},
         {"", ""}},
        {"the server closes a position at its stop-loss",
         true,
         {{otBuy, 0.25, 1.08400, Mine + "1"}},
         1.08390,
         {{otBuy, true}},
         {0.25},
         {"stop-loss"}},
        {"netting: an opposite deal of the same size closes the position",
         false,
         {{otBuy, 0.25, 0, Mine + "1"}, {otSell, 0.25, 0, Mine + "2"}},
         1.08460,
         {{otBuy, true}},
         {0.25},
         {"closed"}},
        {"netting: a smaller opposite deal leaves the rest open",
         false,
         {{otBuy, 0.25, 0, Mine + "1"}, {otSell, 0.10, 0, Mine + "2"}},
         1.08460,
         {{otBuy, false}},
         {0.15},
         {""}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        long long now = 1;
        TTradeServer5 server([&] { return now; });
        server.AddSymbol(DemoTradeRules(Eurusd()));
        if (!c.Hedging)
            server.Login(2, false);
        server.SetQuote("EURUSD", 1.08450, 1.08462);
        for (const TDeal& deal : c.Deals) {
            ++now;
            EXPECT_EQ(Send(server, deal).Retcode, rcDone);
        }
        server.SetQuote("EURUSD", c.NextBid, c.NextBid + 0.00012);

        const auto shown = DemoPositions(server.Positions(), server.Deals(), Mine);
        ASSERT_EQ(shown.size(), c.SidesClosed.size());
        double profit = 0;
        for (const TDeal5& deal : server.Deals())
            if (deal.Comment.rfind(Other, 0) != 0)
                profit += deal.Profit;
        for (const TPosition5& position : server.Positions())
            if (position.Comment.rfind(Other, 0) != 0)
                profit += position.Profit;
        double shownProfit = 0;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].Type, c.SidesClosed[i].first) << i;
            EXPECT_EQ(shown[i].Closed, c.SidesClosed[i].second) << i;
            EXPECT_NEAR(shown[i].Lots, c.Lots[i], 1e-9) << i;
            EXPECT_EQ(shown[i].CloseReason, c.Reasons[i]) << i;
            if (shown[i].Closed) {
                EXPECT_NE(shown[i].ClosePrice, 0) << i;
            }
            shownProfit += shown[i].Profit + shown[i].Realised;
        }
        EXPECT_NEAR(shownProfit, profit, 1e-6) << "every dollar of this chart's deals is shown";
    }
}

TEST(DemoPositions, TheMt5ExpertGetsTheSameInputsAsTheMt4One) {
    for (const TSymbolSpec& symbol : DemoSymbols()) {
        SCOPED_TRACE(symbol.Name);
        const auto mt4 = DemoExpertInputs(symbol);
        const auto mt5 = DemoExpertInputs5(symbol);
        EXPECT_EQ(mt5.InpPointsPerPip, mt4.InpPointsPerPip);
        EXPECT_EQ(mt5.InpLots, mt4.InpLots);
        EXPECT_EQ(mt5.InpStopLossPips, mt4.InpStopLossPips);
        EXPECT_EQ(mt5.InpTakeProfitPips, mt4.InpTakeProfitPips);
        EXPECT_EQ(mt5.InpTrailingStopPips, mt4.InpTrailingStopPips);
    }
}

} // namespace
