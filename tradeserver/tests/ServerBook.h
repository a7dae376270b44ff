#pragma once
// A server of either terminal with EURUSD at 1.08450/1.08462, a stop level of 5 pips and a freeze
// level of 2, and its clock: the start of the servers' tests.

#include "tradeserver/Market.h"

template <class TServer> struct TServerBookOf {
    TServerBookOf() : Server([this] { return Now; }) {
        TSymbolRules rules;
        rules.Name = "EURUSD";
        rules.StopLevel = 50;
        rules.FreezeLevel = 20;
        Server.AddSymbol(rules);
        Server.SetQuote("EURUSD", 1.08450, 1.08462);
    }
    // EURUSD's rules as AChange leaves them.
    template <class TChange> void ChangeRules(TChange AChange) {
        TSymbolRules rules = *Server.Rules("EURUSD");
        AChange(rules);
        Server.SetRules(rules);
    }
    long long Now = 1;
    TServer Server;
};
