#pragma once
// The language-free parts of the experts' test kits: a terminal host whose clock Sleep moves on
// at once and that keeps the Alerts and the journal, and symbols with the digits of the common
// kinds of quotes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mql/runtime/MqlCommon.h"
#include "tradeserver/Market.h"

class TFakeHost : public mql::TMqlHost {
public:
    void Alert(const std::string& AText) override { Alerts.push_back(AText); }
    void Print(const std::string& AText) override { Journal.push_back(AText); }
    mql::uint TickCount() override { return static_cast<mql::uint>(Now); }
    void Sleep(int AMs) override { Now += AMs > 0 ? AMs : 0; }
    // How many alerts, and how many journal lines, contain APart; the alerts one to a line.
    int AlertsWith(const std::string& APart) const;
    int JournalWith(const std::string& APart) const;
    std::string AlertsText() const;
    // The trader was alerted once, with APart and AAlso in the text; for an empty APart, never.
    testing::AssertionResult AlertedOnlyWith(const std::string& APart,
                                             const std::string& AAlso) const;

    long long Now = 1000;
    std::vector<std::string> Alerts;
    std::vector<std::string> Journal;
};

// Whether AText contains APart.
bool Contains(const std::string& AText, const std::string& APart);

// Symbols with the digits of the common kinds of quotes.
TSymbolRules Eurusd(); // 5 digits
TSymbolRules Gbpusd(); // 4 digits
TSymbolRules Usdjpy(); // 3 digits
TSymbolRules Xauusd(); // 2 digits
