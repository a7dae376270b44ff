#include "mql4/tests/TerminalKit.h"

TSymbolRules Eurusd() {
    TSymbolRules rules;
    rules.Name = "EURUSD";
    return rules;
}

TSymbolRules Gbpusd() {
    TSymbolRules rules;
    rules.Name = "GBPUSD";
    rules.Digits = 4;
    rules.Point = 0.0001;
    return rules;
}

TSymbolRules Usdjpy() {
    TSymbolRules rules;
    rules.Name = "USDJPY";
    rules.Digits = 3;
    rules.Point = 0.001;
    rules.DollarIsBase = true;
    return rules;
}

TSymbolRules Xauusd() {
    TSymbolRules rules;
    rules.Name = "XAUUSD";
    rules.Digits = 2;
    rules.Point = 0.01;
    rules.ContractSize = 100;
    return rules;
}
