// The MQL5 built-ins as the reference documents them, over the simulated MT5 server: what
// OrderSend and OrderCheck return and leave in their structures, the switches of the terminal,
// positions and deals only once the terminal lists them, and the symbol's and account's modes.

#include <gtest/gtest.h>

#include <functional>

#include "mql5/runtime/Mql5.h"

namespace {

using namespace mql5;

class TQuietHost : public TMqlHost {
public:
    void Alert(const std::string&) override {}
    void Print(const std::string&) override {}
    uint TickCount() override { return 0; }
    void Sleep(int) override {}
};

// A program whose built-ins the test calls directly.
class TProbe : public TMql5Program {
public:
    using TMql5Program::AccountInfoDouble;
    using TMql5Program::AccountInfoInteger;
    using TMql5Program::GetLastError;
    using TMql5Program::HistoryDealGetDouble;
    using TMql5Program::HistoryDealGetInteger;
    using TMql5Program::HistoryDealGetString;
    using TMql5Program::HistoryDealGetTicket;
    using TMql5Program::HistoryDealSelect;
    using TMql5Program::HistoryDealsTotal;
    using TMql5Program::HistorySelect;
    using TMql5Program::HistorySelectByPosition;
    using TMql5Program::OrderCheck;
    using TMql5Program::OrderSend;
    using TMql5Program::PositionGetDouble;
    using TMql5Program::PositionGetInteger;
    using TMql5Program::PositionGetString;
    using TMql5Program::PositionGetTicket;
    using TMql5Program::PositionSelectByTicket;
    using TMql5Program::PositionsTotal;
    using TMql5Program::ResetLastError;
    using TMql5Program::SymbolInfoDouble;
    using TMql5Program::SymbolInfoInteger;
    using TMql5Program::TMql5Program;
};

struct TRuntime5 : testing::Test {
    TRuntime5() : Server([this] { return Now; }), Probe(Server, Host, Chart()) {
        TSymbolRules rules;
        rules.Name = "EURUSD";
        rules.Execution = TExecution::Market;
        rules.FillingModes = sfIoc;
        Server.AddSymbol(rules);
        Server.SetQuote("EURUSD", 1.08450, 1.08462);
        Probe.Init();
    }
    static TMqlChart Chart() {
        TMqlChart chart;
        chart.Symbol = "EURUSD";
        return chart;
    }
    static MqlTradeRequest Buy(double AVolume) {
        MqlTradeRequest request;
        request.action = TRADE_ACTION_DEAL;
        request.symbol = "EURUSD";
        request.volume = AVolume;
        request.type = ORDER_TYPE_BUY;
        request.type_filling = ORDER_FILLING_IOC;
        return request;
    }
    long long Now = 5000;
    TQuietHost Host;
    TTradeServer5 Server;
    TProbe Probe;
};

TEST_F(TRuntime5, OrderSendIsTrueOnlyWhenTheServerTookTheRequest) {
    MqlTradeResult result;
    EXPECT_TRUE(Probe.OrderSend(Buy(0.1), result));
    EXPECT_EQ(result.retcode, TRADE_RETCODE_DONE);
    EXPECT_NE(result.deal, 0u);
    EXPECT_DOUBLE_EQ(result.volume, 0.1);
    EXPECT_EQ(Probe.GetLastError(), 0);

    EXPECT_FALSE(Probe.OrderSend(Buy(0.015), result));
    EXPECT_EQ(result.retcode, TRADE_RETCODE_INVALID_VOLUME);
    EXPECT_EQ(result.deal, 0u);
    EXPECT_EQ(Probe.GetLastError(), ERR_TRADE_SEND_FAILED);

    MqlTradeRequest fok = Buy(0.1);
    fok.type_filling = ORDER_FILLING_FOK;
    EXPECT_FALSE(Probe.OrderSend(fok, result));
    EXPECT_EQ(result.retcode, TRADE_RETCODE_INVALID_FILL);

    Probe.Settings().AutoTrading = false;
    EXPECT_FALSE(Probe.OrderSend(Buy(0.1), result));
    EXPECT_EQ(result.retcode, TRADE_RETCODE_CLIENT_DISABLES_AT);
    MqlTradeCheckResult check;
    EXPECT_FALSE(Probe.OrderCheck(Buy(0.1), check));
    EXPECT_EQ(check.retcode, TRADE_RETCODE_CLIENT_DISABLES_AT);
    EXPECT_EQ(Server.Requests().size(), 3u) << "the terminal sent nothing with AutoTrading off";
}

TEST_F(TRuntime5, OrderCheckFillsTheCheckResultWithoutSending) {
    MqlTradeCheckResult check;
    EXPECT_TRUE(Probe.OrderCheck(Buy(0.1), check));
    EXPECT_EQ(check.retcode, 0u);
    EXPECT_GT(check.margin, 0);
    EXPECT_FALSE(Probe.OrderCheck(Buy(50), check));
    EXPECT_EQ(check.retcode, TRADE_RETCODE_NO_MONEY);
    EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(TRuntime5, PositionsAndDealsAreReadOnceTheTerminalListsThem) {
    TFault late;
    late.Error = rcTimeout;
    late.PlaceAnyway = true;
    late.ListAfterMs = 2000;
    Server.InjectDealFaults({late});
    MqlTradeResult result;
    EXPECT_FALSE(Probe.OrderSend(Buy(0.1), result));
    EXPECT_EQ(result.retcode, TRADE_RETCODE_TIMEOUT);
    EXPECT_EQ(Probe.PositionsTotal(), 0);
    EXPECT_TRUE(Probe.HistorySelect(0, Now / 1000 + 1));
    EXPECT_EQ(Probe.HistoryDealsTotal(), 0);

    Now += 2000;
    ASSERT_EQ(Probe.PositionsTotal(), 1);
    const ulong ticket = Probe.PositionGetTicket(0);
    EXPECT_NE(ticket, 0u);
    EXPECT_TRUE(Probe.PositionSelectByTicket(ticket));
    EXPECT_EQ(Probe.PositionGetInteger(POSITION_TYPE), POSITION_TYPE_BUY);
    EXPECT_EQ(Probe.PositionGetInteger(POSITION_IDENTIFIER), static_cast<mql_long>(ticket));
    EXPECT_DOUBLE_EQ(Probe.PositionGetDouble(POSITION_VOLUME), 0.1);
    EXPECT_EQ(Probe.HistoryDealsTotal(), 0) << "the history selected before stays as it was";
    EXPECT_TRUE(Probe.HistorySelect(0, Now / 1000 + 1));
    ASSERT_EQ(Probe.HistoryDealsTotal(), 1);
    const ulong deal = Probe.HistoryDealGetTicket(0);
    EXPECT_EQ(Probe.HistoryDealGetInteger(deal, DEAL_ENTRY), DEAL_ENTRY_IN);
    EXPECT_EQ(Probe.HistoryDealGetInteger(deal, DEAL_POSITION_ID), static_cast<mql_long>(ticket));

    EXPECT_FALSE(Probe.PositionSelectByTicket(ticket + 1));
    EXPECT_EQ(Probe.GetLastError(), ERR_TRADE_POSITION_NOT_FOUND);
    EXPECT_EQ(Probe.PositionGetInteger(POSITION_TICKET), 0);
}

TEST_F(TRuntime5, EachTypedGetterReadsItsOwnPropertiesAndRefusesAnyOther) {
    MqlTradeResult result;
    ASSERT_TRUE(Probe.OrderSend(Buy(0.1), result));
    ASSERT_TRUE(Probe.PositionSelectByTicket(Probe.PositionGetTicket(0)));
    ASSERT_TRUE(Probe.HistorySelect(0, Now / 1000 + 1));
    const ulong deal = Probe.HistoryDealGetTicket(0);
    Server.SetQuote("EURUSD", 1.08470, 1.08482);
    EXPECT_DOUBLE_EQ(Probe.PositionGetDouble(POSITION_PRICE_CURRENT), 1.08470);
    EXPECT_EQ(Probe.PositionGetString(POSITION_SYMBOL), "EURUSD");
    EXPECT_DOUBLE_EQ(Probe.HistoryDealGetDouble(deal, DEAL_PRICE), result.price);
    EXPECT_EQ(Probe.HistoryDealGetString(deal, DEAL_SYMBOL), "EURUSD");
    EXPECT_DOUBLE_EQ(Probe.SymbolInfoDouble("EURUSD", SYMBOL_ASK), 1.08482);
    EXPECT_DOUBLE_EQ(Probe.AccountInfoDouble(ACCOUNT_BALANCE), 10000);
    EXPECT_EQ(Probe.GetLastError(), ERR_SUCCESS);

    // An identifier none of the tables has, as an expert built for another terminal may pass.
    const int unknown = 999;
    const struct {
        const char* Name;
        std::function<bool()> ReadsNothing;
    } getters[] = {
        {"PositionGetInteger", [&] { return Probe.PositionGetInteger(unknown) == 0; }},
        {"PositionGetDouble", [&] { return Probe.PositionGetDouble(unknown) == 0; }},
        {"PositionGetString", [&] { return Probe.PositionGetString(unknown) == ""; }},
        {"HistoryDealGetInteger", [&] { return Probe.HistoryDealGetInteger(deal, unknown) == 0; }},
        {"HistoryDealGetDouble", [&] { return Probe.HistoryDealGetDouble(deal, unknown) == 0; }},
        {"HistoryDealGetString", [&] { return Probe.HistoryDealGetString(deal, unknown) == ""; }},
        {"SymbolInfoInteger", [&] { return Probe.SymbolInfoInteger("EURUSD", unknown) == 0; }},
        {"SymbolInfoDouble", [&] { return Probe.SymbolInfoDouble("EURUSD", unknown) == 0; }},
        {"AccountInfoInteger", [&] { return Probe.AccountInfoInteger(unknown) == 0; }},
        {"AccountInfoDouble", [&] { return Probe.AccountInfoDouble(unknown) == 0; }},
    };
    for (const auto& getter : getters) {
        SCOPED_TRACE(getter.Name);
        Probe.ResetLastError();
        EXPECT_TRUE(getter.ReadsNothing());
        EXPECT_EQ(Probe.GetLastError(), ERR_INVALID_PARAMETER);
    }
}

// HistorySelectByPosition and HistoryDealSelect replace the selected history, as HistorySelect
// does, with the listed deals of one position or the one deal.
TEST_F(TRuntime5, SelectsTheHistoryOfOnePositionOrOneDeal) {
    TFault split;
    split.SplitLots = 0.04;
    Server.InjectDealFaults({split});
    MqlTradeResult first;
    ASSERT_TRUE(Probe.OrderSend(Buy(0.1), first));
    MqlTradeResult second;
    ASSERT_TRUE(Probe.OrderSend(Buy(0.2), second));
    const auto position = static_cast<mql_long>(first.order);
    ASSERT_TRUE(Probe.HistorySelectByPosition(position));
    ASSERT_EQ(Probe.HistoryDealsTotal(), 2) << "one order, two deals";
    double lots = 0;
    for (int i = 0; i < 2; ++i) {
        const ulong deal = Probe.HistoryDealGetTicket(i);
        EXPECT_EQ(Probe.HistoryDealGetInteger(deal, DEAL_ORDER), position);
        lots += Probe.HistoryDealGetDouble(deal, DEAL_VOLUME);
    }
    EXPECT_DOUBLE_EQ(lots, 0.1);
    ASSERT_TRUE(Probe.HistoryDealSelect(second.deal));
    EXPECT_EQ(Probe.HistoryDealsTotal(), 1);
    EXPECT_EQ(Probe.HistoryDealGetInteger(second.deal, DEAL_ORDER),
              static_cast<mql_long>(second.order));
    EXPECT_FALSE(Probe.HistoryDealSelect(second.deal + 100));
    EXPECT_EQ(Probe.GetLastError(), ERR_TRADE_DEAL_NOT_FOUND);
    EXPECT_EQ(Probe.HistoryDealsTotal(), 0);
}

TEST_F(TRuntime5, TellsTheSymbolsAndTheAccountsModes) {
    EXPECT_EQ(Probe.SymbolInfoInteger("EURUSD", SYMBOL_TRADE_EXEMODE),
              SYMBOL_TRADE_EXECUTION_MARKET);
    EXPECT_EQ(Probe.SymbolInfoInteger("EURUSD", SYMBOL_FILLING_MODE), SYMBOL_FILLING_IOC);
    EXPECT_EQ(Probe.AccountInfoInteger(ACCOUNT_MARGIN_MODE), ACCOUNT_MARGIN_MODE_RETAIL_HEDGING);
    Server.Login(7, false);
    EXPECT_EQ(Probe.AccountInfoInteger(ACCOUNT_MARGIN_MODE), ACCOUNT_MARGIN_MODE_RETAIL_NETTING);
    EXPECT_EQ(Probe.AccountInfoInteger(ACCOUNT_LOGIN), 7);
    EXPECT_EQ(Probe.AccountInfoInteger(ACCOUNT_TRADE_ALLOWED), 1);
    Server.SetAccountTrading(true, false);
    EXPECT_EQ(Probe.AccountInfoInteger(ACCOUNT_TRADE_EXPERT), 0);
    EXPECT_EQ(Probe.SymbolInfoInteger("EURUSD", SYMBOL_TRADE_MODE), SYMBOL_TRADE_MODE_FULL);
    EXPECT_EQ(Probe.SymbolInfoInteger("XXXYYY", SYMBOL_DIGITS), 0);
    EXPECT_EQ(Probe.GetLastError(), ERR_MARKET_UNKNOWN_SYMBOL);
}

} // namespace
