#include "demo/DemoExpert.h"

#include <charconv>
#include <cstdint>

#include "terminal/PanelUser.h"

namespace {

constexpr std::size_t HistoryLength = 400;
constexpr COLORREF BuyColour = RGB(80, 150, 255);
constexpr COLORREF SellColour = RGB(255, 160, 40);
constexpr COLORREF StopColour = RGB(230, 50, 50);
constexpr COLORREF TargetColour = RGB(60, 210, 60);

const char* SideName(TSide ASide) {
    return ASide == TSide::Buy ? "buy" : "sell";
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

} // namespace

TDemoExpert::TDemoExpert(const TSymbolSpec& ASpec, TPellithLibrary& ALibrary, TChartHost& AHost,
                         HWND AChart, TDemoLog& ALog, TDemoStats& AStats,
                         std::atomic<int>& ATickets, std::uint32_t ASeed)
    : FSpec(ASpec), FLibrary(ALibrary), FHost(AHost), FChart(AChart), FLog(ALog), FStats(AStats),
      FWalk(ASpec, ASeed),
      FTiming(ASeed ^ 0x5EED), FBlock{FDefaults.Lots, FDefaults.StopLossPips,
                                      FDefaults.TakeProfitPips, FDefaults.TrailingStopPips},
      FBook(ASpec, ATickets), FStopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TDemoExpert::~TDemoExpert() {
    Stop();
}

void TDemoExpert::Start() {
    FThread = std::thread(&TDemoExpert::Run, this);
}

void TDemoExpert::Stop() {
    SetEvent(FStopEvent.Get());
    if (FThread.joinable())
        FThread.join();
}

double TDemoExpert::RealisedProfit() const {
    std::lock_guard lock(FBookLock);
    return FBook.RealisedProfit();
}

double TDemoExpert::OpenProfit() const {
    std::lock_guard lock(FBookLock);
    return FBook.OpenProfit();
}

void TDemoExpert::Run() {
    // The expert's own thread: the only one that calls the library for this chart.
    const TQuote start = FWalk.Current();
    FBids.push_back(start.Bid);
    FLibrary.TerminalCreate(start.Ask, start.Bid, FSpec.Point, FSpec.Pip, FDefaults.Lots,
                            FDefaults.StopLossPips, FDefaults.TakeProfitPips,
                            FDefaults.TrailingStopPips, FSpec.Digits, FChart, FSpec.Name.c_str());
    FLog.Write(FSpec.Name, "create ask=" + Fixed(start.Ask, FSpec.Digits) + " bid=" +
                               Fixed(start.Bid, FSpec.Digits) + " point=" + Shortest(FSpec.Point) +
                               " pip=" + Shortest(FSpec.Pip) + " " + ValuesText(FBlock) +
                               " digits=" + std::to_string(FSpec.Digits) + " chart=" + Hex(FChart));
    Draw(start);

    std::uniform_int_distribution<int> pause(80, 250);
    long tick = 0;
    while (WaitForSingleObject(FStopEvent.Get(), static_cast<DWORD>(pause(FTiming))) ==
           WAIT_TIMEOUT) {
        const TQuote quote = FWalk.Next();
        ++tick;
        ++FStats.Ticks;
        FBids.push_back(quote.Bid);
        if (FBids.size() > HistoryLength)
            FBids.erase(FBids.begin());
        {
            std::lock_guard lock(FBookLock);
            for (const TPositionEvent& event : FBook.OnQuote(quote, FBlock[esTrailingStop])) {
                const TPosition& p = event.Position;
                if (event.Kind == TPositionEvent::ekTrail) {
                    FLog.Write(FSpec.Name, "order ticket=" + std::to_string(p.Ticket) +
                                               " trail sl=" + Fixed(p.StopLoss, FSpec.Digits) +
                                               " from=" + Fixed(event.OldStopLoss, FSpec.Digits));
                } else {
                    ++FStats.Closed;
                    FLog.Write(FSpec.Name, "order ticket=" + std::to_string(p.Ticket) +
                                               " close price=" + Fixed(p.ClosePrice, FSpec.Digits) +
                                               " reason=" + p.CloseReason +
                                               " profit=" + SignedFixed(p.Profit, 2));
                }
            }
        }
        Exchange(tick, quote);
        WatchPanel();
        Draw(quote);
    }

    FLibrary.TerminalDelete(FChart);
    FLog.Write(FSpec.Name, "delete ticks=" + std::to_string(tick));
}

void TDemoExpert::Exchange(long ATick, const TQuote& AQuote) {
    const int result =
        FLibrary.TerminalProcessMsg(AQuote.Ask, AQuote.Bid, FSpec.Point, FSpec.Pip, FSpec.Digits,
                                    FBlock.data(), ExchangeBlockSize, FChart);
    ++FStats.Exchanges;
    if (FPolicy.ShouldLog(ATick, result, FBlock)) {
        ++FStats.LoggedExchanges;
        FLog.Write(FSpec.Name, "exchange tick=" + std::to_string(ATick) +
                                   " ask=" + Fixed(AQuote.Ask, FSpec.Digits) +
                                   " bid=" + Fixed(AQuote.Bid, FSpec.Digits) +
                                   " result=" + std::to_string(result) + " " + ValuesText(FBlock));
    }
    if (result == erBuy || result == erSell) {
        ++FStats.Clicks;
        FLastClick = result == erBuy ? "buy" : "sell";
        OpenOrder(result == erBuy ? TSide::Buy : TSide::Sell, AQuote);
    } else if (result != erNothing) {
        FLog.Write(FSpec.Name, "unexpected result=" + std::to_string(result));
    }
}

void TDemoExpert::OpenOrder(TSide ASide, const TQuote& AQuote) {
    const TOrderRequest request{ASide, FBlock[esLots], FBlock[esStopLoss], FBlock[esTakeProfit],
                                FBlock[esTrailingStop]};
    std::string reason;
    std::lock_guard lock(FBookLock);
    const auto opened = FBook.Open(request, AQuote, reason);
    if (!opened) {
        ++FStats.Rejected;
        FLog.Write(FSpec.Name, std::string("order rejected side=") + SideName(ASide) +
                                   " reason=\"" + reason + "\" " + ValuesText(FBlock));
        return;
    }
    ++FStats.Orders;
    const TPosition& p = *opened;
    FLog.Write(FSpec.Name,
               "order ticket=" + std::to_string(p.Ticket) + " open side=" + SideName(p.Side) +
                   " lots=" + Fixed(p.Lots, 2) + " price=" + Fixed(p.OpenPrice, FSpec.Digits) +
                   " sl=" + Fixed(p.StopLoss, FSpec.Digits) + " tp=" +
                   Fixed(p.TakeProfit, FSpec.Digits) + " ts=" + Shortest(request.TrailingStopPips) +
                   " sl_pips=" + Shortest(request.StopLossPips) +
                   " tp_pips=" + Shortest(request.TakeProfitPips));
}

void TDemoExpert::WatchPanel() {
    // What the library did to the chart: its mark and its one registered message.
    HWND panel = PanelOf(FChart);
    if (panel != FPanelSeen) {
        FPanelSeen = panel;
        FLog.Write(FSpec.Name,
                   "panel XT_Container=" + Hex(panel) +
                       " XT_Attached=" + Hex(GetPropA(FChart, "XT_Attached")) +
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
    {
        std::lock_guard lock(FBookLock);
        for (const TPosition& p : FBook.Positions()) {
            const std::string ticket = "#" + std::to_string(p.Ticket);
            const std::string money = SignedFixed(p.Profit, 2) + " USD";
            if (p.Closed) {
                closed.push_back(Wide(ticket + " " + SideName(p.Side) + " " + Fixed(p.Lots, 2) +
                                      " closed at " + Fixed(p.ClosePrice, FSpec.Digits) + " (" +
                                      p.CloseReason + ")  " + money));
                continue;
            }
            picture.Levels.push_back(
                {p.OpenPrice, p.Side == TSide::Buy ? BuyColour : SellColour,
                 Wide(ticket + " " + SideName(p.Side) + " " + Fixed(p.Lots, 2))});
            if (p.StopLoss != 0)
                picture.Levels.push_back({p.StopLoss, StopColour, Wide(ticket + " s/l")});
            if (p.TakeProfit != 0)
                picture.Levels.push_back({p.TakeProfit, TargetColour, Wide(ticket + " t/p")});
            picture.Notes.push_back(
                Wide(ticket + " " + SideName(p.Side) + " " + Fixed(p.Lots, 2) + " at " +
                     Fixed(p.OpenPrice, FSpec.Digits) +
                     (p.StopLoss != 0 ? "  s/l " + Fixed(p.StopLoss, FSpec.Digits) : "") +
                     (p.TakeProfit != 0 ? "  t/p " + Fixed(p.TakeProfit, FSpec.Digits) : "") +
                     "  " + money));
        }
        // The three latest closed positions, then the totals.
        const std::size_t from = closed.size() > 3 ? closed.size() - 3 : 0;
        picture.Notes.insert(picture.Notes.end(), closed.begin() + static_cast<long>(from),
                             closed.end());
        picture.Notes.push_back(Wide("P/L  closed " + SignedFixed(FBook.RealisedProfit(), 2) +
                                     "  open " + SignedFixed(FBook.OpenProfit(), 2) + " USD"));
    }
    picture.Notes.push_back(
        Wide("panel: lots " + Shortest(FBlock[esLots]) + "  s/l " + Shortest(FBlock[esStopLoss]) +
             "  t/p " + Shortest(FBlock[esTakeProfit]) + "  t/s " +
             Shortest(FBlock[esTrailingStop]) + "   last click: " + FLastClick));
    FHost.SetPicture(FChart, std::move(picture));
}
