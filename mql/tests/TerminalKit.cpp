#include "mql/tests/TerminalKit.h"

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

bool Contains(const std::string& AText, const std::string& APart) {
    return AText.find(APart) != std::string::npos;
}

namespace {

int CountWith(const std::vector<std::string>& ALines, const std::string& APart) {
    int count = 0;
    for (const std::string& line : ALines)
        count += Contains(line, APart);
    return count;
}

} // namespace

int TFakeHost::AlertsWith(const std::string& APart) const {
    return CountWith(Alerts, APart);
}

int TFakeHost::JournalWith(const std::string& APart) const {
    return CountWith(Journal, APart);
}

testing::AssertionResult TFakeHost::AlertedOnlyWith(const std::string& APart,
                                                    const std::string& AAlso) const {
    const std::size_t expected = APart.empty() ? 0 : 1;
    if (Alerts.size() != expected)
        return testing::AssertionFailure() << Alerts.size() << " alerts:\n" << AlertsText();
    if (expected == 1 && !(Contains(Alerts[0], APart) && Contains(Alerts[0], AAlso)))
        return testing::AssertionFailure() << "alerted: " << Alerts[0];
    return testing::AssertionSuccess();
}

std::string TFakeHost::AlertsText() const {
    std::string text;
    for (const std::string& alert : Alerts)
        text += alert + "\n";
    return text;
}
