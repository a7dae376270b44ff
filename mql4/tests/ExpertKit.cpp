#include "mql4/tests/ExpertKit.h"

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

TExpertKit::TExpertKit() : Server([this] { return Host.Now; }) {
    for (const TSymbolRules& rules : {Eurusd(), Gbpusd(), Usdjpy(), Xauusd()})
        Server.AddSymbol(rules);
    Quote("EURUSD", 1.08450, 1.08462);
    Quote("GBPUSD", 1.2650, 1.2652);
    Quote("USDJPY", 151.234, 151.250);
    Quote("XAUUSD", 2034.15, 2034.45);
}

void TExpertKit::Quote(const std::string& ASymbol, double ABid, double AAsk) {
    Server.SetQuote(ASymbol, ABid, AAsk);
}

TExpertKit::TExpert& TExpertKit::Attach(const std::string& ASymbol, const TInputs& AInputs,
                                        bool ADllsAllowed) {
    mql4::TMqlChart chart;
    chart.Symbol = ASymbol;
    chart.Id = 132000000000000000LL + FNextWindow;
    chart.WindowHandle = FNextWindow;
    chart.DllsAllowed = ADllsAllowed;
    FNextWindow += 0x10;
    Experts.push_back(std::make_unique<TExpert>(Server, Host, chart, Panel, AInputs));
    Experts.back()->Init();
    return *Experts.back();
}

TFakePanel::TPanel& TExpertKit::PanelOf(const TExpert& AExpert) {
    return Panel.Panels.at(static_cast<int>(AExpert.Chart().WindowHandle));
}

void TExpertKit::Type(const TExpert& AExpert, int ASlot, double AValue) {
    PanelOf(AExpert).Values[static_cast<std::size_t>(ASlot)] = AValue;
}

void TExpertKit::Click(TExpert& AExpert, int AResult) {
    PanelOf(AExpert).Clicks.push_back(AResult);
    AExpert.Timer();
}

void TExpertKit::Wait(TExpert& AExpert, int AMs) {
    for (int passed = 0; passed < AMs; passed += 250) {
        Host.Now += 250;
        AExpert.Timer();
    }
}

TExpertKit::TExpert& TExpertKit::Restart(TExpert& AExpert, const TInputs& AInputs) {
    AExpert.Deinit(mql4::REASON_CLOSE);
    Host.Now += 5000;
    Experts.push_back(std::make_unique<TExpert>(Server, Host, AExpert.Chart(), Panel, AInputs));
    Experts.back()->Init();
    return *Experts.back();
}

void TExpertKit::ChangeAccount(int AAccount) {
    Server.Login(AAccount);
    for (const auto& expert : Experts)
        if (expert->Running())
            expert->AccountChanged();
}

std::vector<TServerRequest> TExpertKit::Sends() const {
    std::vector<TServerRequest> sends;
    for (const TServerRequest& r : Server.Requests())
        if (r.Kind == TServerRequest::rkSend)
            sends.push_back(r);
    return sends;
}

std::vector<TServerRequest> TExpertKit::Modifies() const {
    std::vector<TServerRequest> modifies;
    for (const TServerRequest& r : Server.Requests())
        if (r.Kind == TServerRequest::rkModify)
            modifies.push_back(r);
    return modifies;
}

int TExpertKit::AlertsWith(const std::string& APart) const {
    int count = 0;
    for (const std::string& alert : Host.Alerts)
        count += alert.find(APart) != std::string::npos;
    return count;
}

int TExpertKit::JournalWith(const std::string& APart) const {
    int count = 0;
    for (const std::string& line : Host.Journal)
        count += line.find(APart) != std::string::npos;
    return count;
}

std::string TExpertKit::AlertsText() const {
    std::string text;
    for (const std::string& alert : Host.Alerts)
        text += alert + "\n";
    return text;
}
