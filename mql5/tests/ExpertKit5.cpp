#include "mql5/tests/ExpertKit5.h"

TExpertKit5::TExpertKit5(bool AHedging) : Server([this] { return Host.Now; }) {
    for (const TSymbolRules& rules : {Eurusd(), Gbpusd(), Usdjpy(), Xauusd()})
        Server.AddSymbol(rules);
    Quote("EURUSD", 1.08450, 1.08462);
    Quote("GBPUSD", 1.2650, 1.2652);
    Quote("USDJPY", 151.234, 151.250);
    Quote("XAUUSD", 2034.15, 2034.45);
    if (!AHedging)
        Server.Login(2, false);
}

void TExpertKit5::Quote(const std::string& ASymbol, double ABid, double AAsk) {
    Server.SetQuote(ASymbol, ABid, AAsk);
}

TExpertKit5::TExpert& TExpertKit5::Attach(const std::string& ASymbol, const TInputs& AInputs,
                                          bool ADllsAllowed) {
    mql::TMqlChart chart;
    chart.Symbol = ASymbol;
    chart.Id = 132000000000000000LL + FNextWindow;
    chart.WindowHandle = FNextWindow;
    chart.DllsAllowed = ADllsAllowed;
    FNextWindow += 0x10;
    Experts.push_back(std::make_unique<TExpert>(Server, Host, chart, Panel, AInputs));
    Experts.back()->Init();
    return *Experts.back();
}

TFakePanel5::TPanel& TExpertKit5::PanelOf(const TExpert& AExpert) {
    return Panel.Panels.at(AExpert.Chart().WindowHandle);
}

void TExpertKit5::Type(const TExpert& AExpert, int ASlot, double AValue) {
    PanelOf(AExpert).Values[static_cast<std::size_t>(ASlot)] = AValue;
}

void TExpertKit5::Click(TExpert& AExpert, int AResult) {
    PanelOf(AExpert).Clicks.push_back(AResult);
    AExpert.Timer();
}

void TExpertKit5::Wait(TExpert& AExpert, int AMs) {
    for (int passed = 0; passed < AMs; passed += 250) {
        Host.Now += 250;
        AExpert.Timer();
    }
}

TExpertKit5::TExpert& TExpertKit5::Restart(TExpert& AExpert, const TInputs& AInputs) {
    AExpert.Deinit(mql::REASON_CLOSE);
    Host.Now += 5000;
    Experts.push_back(std::make_unique<TExpert>(Server, Host, AExpert.Chart(), Panel, AInputs));
    Experts.back()->Init();
    return *Experts.back();
}

void TExpertKit5::ChangeAccount(int AAccount, bool AHedging) {
    Server.Login(AAccount, AHedging);
    for (const auto& expert : Experts)
        if (expert->Running())
            expert->AccountChanged();
}

std::vector<TServerRequest5> TExpertKit5::Deals() const {
    std::vector<TServerRequest5> deals;
    for (const TServerRequest5& r : Server.Requests())
        if (r.Request.Action == taDeal)
            deals.push_back(r);
    return deals;
}

std::vector<TServerRequest5> TExpertKit5::Sltps() const {
    std::vector<TServerRequest5> sltps;
    for (const TServerRequest5& r : Server.Requests())
        if (r.Request.Action == taSltp)
            sltps.push_back(r);
    return sltps;
}

int TExpertKit5::AlertsWith(const std::string& APart) const {
    return Host.AlertsWith(APart);
}

int TExpertKit5::JournalWith(const std::string& APart) const {
    return Host.JournalWith(APart);
}

std::string TExpertKit5::AlertsText() const {
    return Host.AlertsText();
}
