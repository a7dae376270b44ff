#include "demo/DemoExpert.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "controls/ChartNames.h"
#include "terminal/PanelUser.h"

namespace {

constexpr std::size_t HistoryLength = 400;
constexpr COLORREF BuyColour = RGB(80, 150, 255);
constexpr COLORREF SellColour = RGB(255, 160, 40);
constexpr COLORREF StopColour = RGB(230, 50, 50);
constexpr COLORREF TargetColour = RGB(60, 210, 60);
constexpr int TimerCheckMs = 25; // how often the loop looks whether the expert's timer is due

const char* SideName(int AType) {
    return AType == otBuy ? "buy" : "sell";
}

std::string Hex(const void* AValue) {
    char text[32] = "0x";
    const auto end =
        std::to_chars(text + 2, text + sizeof text, reinterpret_cast<std::uintptr_t>(AValue), 16)
            .ptr;
    return std::string(text, end);
}

// The four values as the log and the chart show them.
std::string ValuesText(const std::array<double, 4>& AValues) {
    return "lots=" + Shortest(AValues[esLots]) + " sl=" + Shortest(AValues[esStopLoss]) +
           " tp=" + Shortest(AValues[esTakeProfit]) + " ts=" + Shortest(AValues[esTrailingStop]);
}

// The chart handle as an expert passes it: MT4 as a 32-bit int, MT5 as a 64-bit long.
HWND WindowOf(long long AChart) {
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(AChart));
}

// A distance in pips between two prices, as the log shows it.
std::string PipsBetween(double AFrom, double ATo, double APip) {
    return Shortest(std::round(std::abs(ATo - AFrom) / APip * 10) / 10);
}

long long SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TSymbolRules DemoTradeRules(const TSymbolSpec& ASpec) {
    TSymbolRules rules;
    rules.Name = ASpec.Name;
    rules.Digits = ASpec.Digits;
    rules.Point = ASpec.Point;
    rules.ContractSize = ASpec.ContractSize;
    rules.DollarIsBase = ASpec.QuotedInYen;
    if (ASpec.Name == "USDJPY")
        rules.Execution = TExecution::Market;
    if (ASpec.Name == "XAUUSD")
        rules.StopLevel = 50;
    return rules;
}

namespace {

// The same inputs for both experts, whose input structures are generated apart.
template <class TInputs> TInputs InputsFor(const TSymbolSpec& ASpec) {
    TInputs inputs;
    inputs.InpLots = 0.10;
    inputs.InpStopLossPips = 10;
    inputs.InpTakeProfitPips = 15;
    inputs.InpTrailingStopPips = 0;
    // Gold is quoted with 2 digits and a pip of 0.1: the trader says so; the expert knows the
    // pip of 3- and 5-digit quotes by itself.
    if (ASpec.Digits == 2)
        inputs.InpPointsPerPip = static_cast<int>(std::lround(ASpec.Pip / ASpec.Point));
    // 0.2 % of 10,000 dollars at EURUSD's 12-pip stop is 0.16 lots, fewer than the 0.25 typed.
    if (ASpec.Name == "EURUSD") {
        inputs.InpRiskPercent = 0.2;
        inputs.InpBreakEvenPips = 1.5;
        inputs.InpBreakEvenLockPips = 0.5;
    }
    if (ASpec.Name == "XAUUSD")
        inputs.InpMaxSpreadPips = 5;
    return inputs;
}

} // namespace

mql4::TPellithPanelInputs DemoExpertInputs(const TSymbolSpec& ASpec) {
    return InputsFor<mql4::TPellithPanelInputs>(ASpec);
}

mql5::TPellithPanelInputs DemoExpertInputs5(const TSymbolSpec& ASpec) {
    return InputsFor<mql5::TPellithPanelInputs>(ASpec);
}

std::vector<TDemoOrder> DemoPositions(const std::vector<TPosition5>& APositions,
                                      const std::vector<TDeal5>& ADeals, const std::string& ATag) {
    std::map<long long, TDemoOrder> mine; // by position identifier
    for (const TDeal5& deal : ADeals)
        if (deal.Entry == deIn && deal.Comment.rfind(ATag, 0) == 0 &&
            !mine.count(deal.PositionId)) {
            TDemoOrder& order = mine[deal.PositionId];
            order.Ticket = deal.PositionId;
            order.Type = deal.Type;
            order.Lots = deal.Volume;
            order.OpenPrice = deal.Price;
        }
    std::vector<TDemoOrder> orders;
    for (auto& [id, order] : mine) {
        const auto open =
            std::find_if(APositions.begin(), APositions.end(),
                         [id = id](const TPosition5& p) { return p.Identifier == id; });
        // The deals out of it: a netting position's partial closes, or its close, the last one
        // at the closing price.
        double realised = 0;
        for (const TDeal5& deal : ADeals)
            if (deal.PositionId == id && deal.Entry != deIn) {
                realised += deal.Profit;
                order.ClosePrice = deal.Price;
                order.CloseReason = deal.Comment == "sl"   ? "stop-loss"
                                    : deal.Comment == "tp" ? "take-profit"
                                                           : "closed";
            }
        if (open != APositions.end()) {
            order.Type = open->Type;
            order.Lots = open->Volume;
            order.OpenPrice = open->PriceOpen;
            order.StopLoss = open->StopLoss;
            order.TakeProfit = open->TakeProfit;
            order.Profit = open->Profit;
            order.Realised = realised;
            order.ClosePrice = 0;
            order.CloseReason.clear();
        } else {
            order.Closed = true;
            order.Profit = realised;
        }
        orders.push_back(order);
    }
    return orders;
}

TDemoExpert::TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost,
                         HWND AChart, TDemoLog& ALog, TDemoStats& AStats, std::uint32_t ASeed)
    : FSpec(ASpec), FLibrary(ALibrary), FHost(AHost), FChart(AChart), FLog(ALog), FStats(AStats),
      FWalk(ASpec, ASeed), FTiming(ASeed ^ 0x5EED),
      FStopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    FMqlChart.Symbol = ASpec.Name;
    FMqlChart.Period = 1;
    FMqlChart.Id = 131000000000000000LL + static_cast<std::int64_t>(ASeed % 1000);
    FMqlChart.WindowHandle = static_cast<mql::mql_long>(reinterpret_cast<std::intptr_t>(AChart));
    FTag = "Pellith " + std::to_string(FMqlChart.Id) + "/";
}

TDemoExpert::TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost,
                         HWND AChart, TDemoLog& ALog, TDemoStats& AStats, TTradeServer& AServer,
                         std::uint32_t ASeed)
    : TDemoExpert(ASpec, ALibrary, AHost, AChart, ALog, AStats, ASeed) {
    FServer = &AServer;
    mql::TMqlHost& host = *this;
    mql4::TPellithPanelImports& imports = *this;
    FExpert = std::make_unique<mql4::TPellithPanel>(AServer, host, FMqlChart, imports,
                                                    DemoExpertInputs(ASpec));
}

TDemoExpert::TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost,
                         HWND AChart, TDemoLog& ALog, TDemoStats& AStats, TTradeServer5& AServer,
                         std::uint32_t ASeed)
    : TDemoExpert(ASpec, ALibrary, AHost, AChart, ALog, AStats, ASeed) {
    FServer5 = &AServer;
    mql::TMqlHost& host = *this;
    mql5::TPellithPanelImports& imports = *this;
    FExpert = std::make_unique<mql5::TPellithPanel>(AServer, host, FMqlChart, imports,
                                                    DemoExpertInputs5(ASpec));
}

TDemoExpert::~TDemoExpert() {
    Stop();
}

void TDemoExpert::Start() {
    FThread = std::thread(&TDemoExpert::Run, this);
}

void TDemoExpert::Stop(int AReason) {
    FStopReason = AReason;
    SetEvent(FStopEvent.Get());
    if (FThread.joinable())
        FThread.join();
}

std::vector<TDemoOrder> TDemoExpert::MyOrders() const {
    if (FServer5)
        return DemoPositions(FServer5->Positions(), FServer5->Deals(), FTag);
    std::vector<TDemoOrder> mine;
    for (const TServerOrder& order : FServer->AllOrders())
        if (order.Comment.rfind(FTag, 0) == 0)
            mine.push_back(TDemoOrder{order.Ticket, order.Type, order.Lots, order.OpenPrice,
                                      order.StopLoss, order.TakeProfit, order.Closed(),
                                      order.ClosePrice, order.CloseReason, order.Profit});
    return mine;
}

void TDemoExpert::SetQuote(const TQuote& AQuote) {
    if (FServer5)
        FServer5->SetQuote(FSpec.Name, AQuote.Bid, AQuote.Ask);
    else
        FServer->SetQuote(FSpec.Name, AQuote.Bid, AQuote.Ask);
}

double TDemoExpert::RealisedProfit() const {
    double sum = 0;
    for (const TDemoOrder& order : MyOrders())
        sum += order.Closed ? order.Profit : order.Realised;
    return sum;
}

double TDemoExpert::OpenProfit() const {
    double sum = 0;
    for (const TDemoOrder& order : MyOrders())
        if (!order.Closed)
            sum += order.Profit;
    return sum;
}

void TDemoExpert::Run() {
    // The expert's own thread: the only one that runs its events and calls the library for
    // this chart.
    TQuote quote = FWalk.Current();
    SetQuote(quote);
    FBids.push_back(quote.Bid);
    FExpert->Init();
    Draw(quote);

    std::uniform_int_distribution<int> pause(80, 250);
    auto nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(pause(FTiming));
    auto nextTimer = std::chrono::steady_clock::now();
    while (WaitForSingleObject(FStopEvent.Get(), TimerCheckMs) == WAIT_TIMEOUT) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextTick) {
            quote = FWalk.Next();
            if (SteadyMs() < FSpikeUntil) {
                quote.Ask = RoundToDigits(quote.Bid + FSpikePips * FSpec.Pip, FSpec.Digits);
                FSpikeQuoted = true;
            }
            ++FTick;
            ++FStats.Ticks;
            FBids.push_back(quote.Bid);
            if (FBids.size() > HistoryLength)
                FBids.erase(FBids.begin());
            SetQuote(quote);
            FExpert->Tick();
            nextTick = now + std::chrono::milliseconds(pause(FTiming));
        } else if (FExpert->TimerMilliseconds() > 0 && now >= nextTimer) {
            FExpert->Timer();
            nextTimer = now + std::chrono::milliseconds(FExpert->TimerMilliseconds());
        } else {
            continue;
        }
        WatchOrders();
        WatchPanel();
        Draw(quote);
    }

    FExpert->Deinit(FStopReason);
    WatchOrders();
    if (!FExpert->CriticalError().empty())
        FLog.Write(FSpec.Name, "critical-error " + FExpert->CriticalError());
}

void TDemoExpert::TerminalCreate(double AAsk, double ABid, double APoint, double APip, double ALots,
                                 double AStopLoss, double ATakeProfit, double ATrailing,
                                 int ADigits, int AChart, mql::TMqlArray<mql::uchar>& ASymbol) {
    Create(AAsk, ABid, APoint, APip, ALots, AStopLoss, ATakeProfit, ATrailing, ADigits,
           WindowOf(AChart), reinterpret_cast<const char*>(ASymbol.Data()));
}

void TDemoExpert::TerminalCreate(double AAsk, double ABid, double APoint, double APip, double ALots,
                                 double AStopLoss, double ATakeProfit, double ATrailing,
                                 int ADigits, mql::mql_long AChart,
                                 mql::TMqlArray<mql::uchar>& ASymbol) {
    Create(AAsk, ABid, APoint, APip, ALots, AStopLoss, ATakeProfit, ATrailing, ADigits,
           WindowOf(AChart), reinterpret_cast<const char*>(ASymbol.Data()));
}

int TDemoExpert::TerminalProcessMsg(double AAsk, double ABid, double APoint, double APip,
                                    int ADigits, mql::TMqlArray<double>& AValues, int ASize,
                                    int AChart) {
    return Exchange(AAsk, ABid, APoint, APip, ADigits, AValues, ASize, WindowOf(AChart));
}

int TDemoExpert::TerminalProcessMsg(double AAsk, double ABid, double APoint, double APip,
                                    int ADigits, mql::TMqlArray<double>& AValues, int ASize,
                                    mql::mql_long AChart) {
    return Exchange(AAsk, ABid, APoint, APip, ADigits, AValues, ASize, WindowOf(AChart));
}

void TDemoExpert::TerminalDelete(int AChart) {
    Delete(WindowOf(AChart));
}

void TDemoExpert::TerminalDelete(mql::mql_long AChart) {
    Delete(WindowOf(AChart));
}

void TDemoExpert::Create(double AAsk, double ABid, double APoint, double APip, double ALots,
                         double AStopLoss, double ATakeProfit, double ATrailing, int ADigits,
                         HWND AChart, const char* ASymbol) {
    FLibrary.TerminalCreate(AAsk, ABid, APoint, APip, ALots, AStopLoss, ATakeProfit, ATrailing,
                            ADigits, AChart, ASymbol);
    FBlock = {ALots, AStopLoss, ATakeProfit, ATrailing};
    FLog.Write(FSpec.Name, "create ask=" + Fixed(AAsk, ADigits) + " bid=" + Fixed(ABid, ADigits) +
                               " point=" + Shortest(APoint) + " pip=" + Shortest(APip) + " " +
                               ValuesText(FBlock) + " digits=" + std::to_string(ADigits) +
                               " chart=" + Hex(AChart) + " symbol=" + ASymbol);
}

int TDemoExpert::Exchange(double AAsk, double ABid, double APoint, double APip, int ADigits,
                          mql::TMqlArray<double>& AValues, int ASize, HWND AChart) {
    // The expert's block has 4 doubles, as its declaration says; the library reads ASize.
    const int result = FLibrary.TerminalProcessMsg(AAsk, ABid, APoint, APip, ADigits,
                                                   AValues.Data(), ASize, AChart);
    ++FStats.Exchanges;
    for (int i = 0; i < 4 && i < AValues.Size(); ++i)
        FBlock[static_cast<std::size_t>(i)] = AValues[i];
    if (FPolicy.ShouldLog(FTick, result, FBlock)) {
        ++FStats.LoggedExchanges;
        FLog.Write(FSpec.Name, "exchange tick=" + std::to_string(FTick) +
                                   " ask=" + Fixed(AAsk, ADigits) + " bid=" + Fixed(ABid, ADigits) +
                                   " result=" + std::to_string(result) + " " + ValuesText(FBlock));
    }
    if (result == erBuy || result == erSell) {
        ++FStats.Clicks;
        FLastClick = result == erBuy ? "buy" : "sell";
    } else if (result != erNothing) {
        FLog.Write(FSpec.Name, "unexpected result=" + std::to_string(result));
    }
    return result;
}

void TDemoExpert::Delete(HWND AChart) {
    FLibrary.TerminalDelete(AChart);
    FLog.Write(FSpec.Name, "delete ticks=" + std::to_string(FTick));
}

bool TDemoExpert::SpreadSpike(double APips, int AMs) {
    FSpikeQuoted = false;
    FSpikePips = APips;
    FSpikeUntil = SteadyMs() + AMs;
    return WaitUntil([&] { return FSpikeQuoted.load(); }, std::chrono::milliseconds(2000));
}

void TDemoExpert::Alert(const std::string& AText) {
    ++FStats.Alerts;
    if (AText.find(" not sent: ") != std::string::npos)
        ++FStats.Rejected;
    if (AText.find("(InpMaxLots)") != std::string::npos)
        ++FStats.Capped;
    if (AText.find("(InpMaxSpreadPips)") != std::string::npos)
        ++FStats.SpreadRefused;
    FLastAlert = AText;
    FLog.Write(FSpec.Name, "alert text=\"" + AText + "\"");
}

void TDemoExpert::Print(const std::string& AText) {
    if (AText.find(" at break-even: ") != std::string::npos)
        ++FStats.BreakEvens;
    FLog.Write(FSpec.Name, "journal text=\"" + AText + "\"");
}

mql::uint TDemoExpert::TickCount() {
    return static_cast<mql::uint>(GetTickCount());
}

void TDemoExpert::Sleep(int AMs) {
    WaitForSingleObject(FStopEvent.Get(), static_cast<DWORD>(AMs > 0 ? AMs : 0));
}

void TDemoExpert::WatchOrders() {
    // What the server did with this chart's orders since the last look, for the log.
    for (const TDemoOrder& order : MyOrders()) {
        const auto known = FKnown.find(order.Ticket);
        const std::string ticket = "order ticket=" + std::to_string(order.Ticket);
        if (known == FKnown.end()) {
            ++FStats.Orders;
            if (order.Lots < FBlock[esLots] - 1e-9)
                ++FStats.RiskSized;
            FLog.Write(
                FSpec.Name,
                ticket + " open side=" + SideName(order.Type) + " lots=" + Fixed(order.Lots, 2) +
                    " price=" + Fixed(order.OpenPrice, FSpec.Digits) +
                    " sl=" + Fixed(order.StopLoss, FSpec.Digits) +
                    " tp=" + Fixed(order.TakeProfit, FSpec.Digits) +
                    " ts=" + Shortest(FBlock[esTrailingStop]) + " sl_pips=" +
                    (order.StopLoss ? PipsBetween(order.OpenPrice, order.StopLoss, FSpec.Pip)
                                    : "0") +
                    " tp_pips=" +
                    (order.TakeProfit ? PipsBetween(order.OpenPrice, order.TakeProfit, FSpec.Pip)
                                      : "0") +
                    // An MT5 position is on the account its chart's terminal is logged in to.
                    (FServer5 ? " account=" + std::to_string(FServer5->Account()) : ""));
        } else if (order.StopLoss != known->second.StopLoss && !order.Closed) {
            FLog.Write(FSpec.Name, ticket + " trail sl=" + Fixed(order.StopLoss, FSpec.Digits) +
                                       " from=" + Fixed(known->second.StopLoss, FSpec.Digits));
        }
        if (order.Closed && (known == FKnown.end() || !known->second.Closed)) {
            ++FStats.Closed;
            FLog.Write(FSpec.Name, ticket +
                                       " close price=" + Fixed(order.ClosePrice, FSpec.Digits) +
                                       " reason=" + order.CloseReason +
                                       " profit=" + SignedFixed(order.Profit, 2));
        }
        FKnown[order.Ticket] = order;
    }
}

void TDemoExpert::WatchPanel() {
    // What the library did to the chart: its mark and its one registered message.
    HWND panel = PanelOf(FChart);
    if (panel != FPanelSeen) {
        FPanelSeen = panel;
        FLog.Write(FSpec.Name,
                   "panel XT_Container=" + Hex(panel) +
                       " XT_Attached=" + Hex(GetPropA(FChart, ChartNames::AttachedProperty)) +
                       " module=" + Hex(FLibrary.Module()) + " clipchildren=" +
                       ((GetWindowLongW(FChart, GWL_STYLE) & WS_CLIPCHILDREN) ? "yes" : "no"));
        if (const auto windows = FindPanelWindows(FChart)) {
            // Where the fields and their arrows stand, in panel coordinates: left,top,width,height.
            std::string layout = "layout";
            const char* names[] = {"lots", "sl", "tp", "ts"};
            for (int i = 0; i < 4; ++i)
                for (const auto& [suffix, window] : {std::pair{"", windows->Fields[i]},
                                                     std::pair{"_arrows", windows->Arrows[i]}}) {
                    RECT r{};
                    GetWindowRect(window, &r);
                    MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&r), 2);
                    layout += std::string(" ") + names[i] + suffix + "=" + std::to_string(r.left) +
                              "," + std::to_string(r.top) + "," + std::to_string(r.right - r.left) +
                              "x" + std::to_string(r.bottom - r.top);
                }
            FLog.Write(FSpec.Name, layout);
        }
    }
    const auto posts = FHost.RegisteredPosts(FChart);
    for (; FPostsSeen < posts.size(); ++FPostsSeen)
        FLog.Write(FSpec.Name,
                   "registered-message wparam=" + std::to_string(posts[FPostsSeen].WParam) +
                       " lparam=" + std::to_string(posts[FPostsSeen].LParam) +
                       " count=" + std::to_string(FPostsSeen + 1));
}

void TDemoExpert::Draw(const TQuote& AQuote) {
    TChartPicture picture;
    picture.Bids = FBids;
    picture.Spread = AQuote.Ask - AQuote.Bid;
    picture.Digits = FSpec.Digits;
    std::vector<std::wstring> closed;
    double realised = 0;
    double open = 0;
    for (const TDemoOrder& p : MyOrders()) {
        const std::string ticket = "#" + std::to_string(p.Ticket);
        const std::string money = SignedFixed(p.Profit, 2) + " USD";
        if (p.Closed) {
            realised += p.Profit;
            closed.push_back(Wide(ticket + " " + SideName(p.Type) + " " + Fixed(p.Lots, 2) +
                                  " closed at " + Fixed(p.ClosePrice, FSpec.Digits) + " (" +
                                  p.CloseReason + ")  " + money));
            continue;
        }
        open += p.Profit;
        realised += p.Realised;
        picture.Levels.push_back({p.OpenPrice, p.Type == otBuy ? BuyColour : SellColour,
                                  Wide(ticket + " " + SideName(p.Type) + " " + Fixed(p.Lots, 2))});
        if (p.StopLoss != 0)
            picture.Levels.push_back({p.StopLoss, StopColour, Wide(ticket + " s/l")});
        if (p.TakeProfit != 0)
            picture.Levels.push_back({p.TakeProfit, TargetColour, Wide(ticket + " t/p")});
        picture.Notes.push_back(
            Wide(ticket + " " + SideName(p.Type) + " " + Fixed(p.Lots, 2) + " at " +
                 Fixed(p.OpenPrice, FSpec.Digits) +
                 (p.StopLoss != 0 ? "  s/l " + Fixed(p.StopLoss, FSpec.Digits) : "") +
                 (p.TakeProfit != 0 ? "  t/p " + Fixed(p.TakeProfit, FSpec.Digits) : "") + "  " +
                 money));
    }
    // The three latest closed positions, then the totals.
    const std::size_t from = closed.size() > 3 ? closed.size() - 3 : 0;
    picture.Notes.insert(picture.Notes.end(), closed.begin() + static_cast<long>(from),
                         closed.end());
    picture.Notes.push_back(Wide("P/L  closed " + SignedFixed(realised, 2) + "  open " +
                                 SignedFixed(open, 2) + " USD"));
    picture.Notes.push_back(
        Wide("panel: lots " + Shortest(FBlock[esLots]) + "  s/l " + Shortest(FBlock[esStopLoss]) +
             "  t/p " + Shortest(FBlock[esTakeProfit]) + "  t/s " +
             Shortest(FBlock[esTrailingStop]) + "   last click: " + FLastClick));
    if (!FLastAlert.empty()) {
        // The alert window of the terminal, in one line: without the expert's name and symbol.
        const std::string prefix = "Pellith " + FSpec.Name + ": ";
        std::string text =
            FLastAlert.rfind(prefix, 0) == 0 ? FLastAlert.substr(prefix.size()) : FLastAlert;
        // Two lines when it would not fit the chart's width.
        const std::size_t width = 52;
        const std::size_t cut = text.size() > width ? text.rfind(' ', width) : std::string::npos;
        picture.Notes.push_back(Wide("Alert: " + text.substr(0, cut)));
        if (cut != std::string::npos)
            picture.Notes.push_back(Wide("    " + text.substr(cut + 1)));
    }
    FHost.SetPicture(FChart, std::move(picture));
}
