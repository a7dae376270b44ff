// DemoTerminal.exe: a stand-in for the trading terminal that anyone can run under Wine. It opens
// charts for three symbols, feeds them a simulated price stream, runs the real expert on every
// chart with the real Pellith.dll, and has the expert's orders filled by a simulated trade server
// with the terminal's rules. The i686 build is an MT4 terminal (PellithPanel.mq4, translated to
// C++, against the MT4 server); the x64 build an MT5 one (PellithPanel.mq5 against the MT5
// server), logged in to a hedging account for two charts and to a netting one for the third,
// since MT5 is 64-bit and MT4 32-bit.
// Headless (the default) it plays a scripted user for --seconds, writes a screenshot and a log,
// prints a one-line summary and exits; with --interactive it runs until its window is closed.

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "controls/ChartNames.h"
#include "demo/DemoExpert.h"
#include "terminal/CommandLine.h"
#include "terminal/PanelUser.h"
#include "terminal/Png.h"
#include "terminal/WindowCapture.h"

#include <shellapi.h> // after <windows.h>, which the units above bring in

namespace {

using namespace std::chrono_literals;

struct TDemoOptions {
    int Seconds = 20;
    std::wstring Dll;
    std::wstring Out = L".";
    bool Interactive = false;
    std::uint32_t Seed = 20240611;
};

#ifdef _WIN64
constexpr bool Mt5Terminal = true;
constexpr const char* TerminalName = "MT5";
#else
constexpr bool Mt5Terminal = false;
constexpr const char* TerminalName = "MT4";
#endif

// The MT5 terminal's accounts: the netting one for the chart of this index, hedging for the rest.
constexpr std::size_t NettingChart = 1;
constexpr int HedgingAccount = 1;
constexpr int NettingAccount = 2;

constexpr char Usage[] =
    "usage: DemoTerminal.exe [--seconds=N] [--dll=PATH] [--out=DIR] [--seed=N] [--interactive]\n"
    "  --seconds=N    length of the scripted session (default 20)\n"
    "  --dll=PATH     the Pellith.dll to load (default: the one next to this program)\n"
    "  --out=DIR      where demo.log and demo.png go (default: the current folder)\n"
    "  --seed=N       seed of the simulated prices\n"
    "  --interactive  no script: keep running until the terminal window is closed\n";

// The options, or nothing with AError set (empty for --help).
std::optional<TDemoOptions> ParseOptions(const TCommandLine& ACommandLine, std::string& AError) {
    if (ACommandLine.Has("help")) {
        AError.clear();
        return std::nullopt;
    }
    const auto unknown = ACommandLine.Unknown({"seconds", "dll", "out", "seed", "interactive"});
    if (!unknown.empty()) {
        AError = "unknown option " + unknown.front();
        return std::nullopt;
    }
    TDemoOptions options;
    try {
        options.Seconds = ACommandLine.Integer("seconds", options.Seconds, 1, 24 * 60 * 60);
        options.Seed = static_cast<std::uint32_t>(ACommandLine.Integer(
            "seed", static_cast<int>(options.Seed), 0, std::numeric_limits<int>::max()));
    } catch (const std::invalid_argument& failure) {
        AError = failure.what();
        return std::nullopt;
    }
    options.Interactive = ACommandLine.Has("interactive");
    options.Dll = ACommandLine.Text("dll");
    if (ACommandLine.Has("out"))
        options.Out = ACommandLine.Text("out");
    if (options.Dll.empty()) {
        wchar_t self[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
        options.Dll =
            (std::filesystem::path(std::wstring(self, length)).parent_path() / L"Pellith.dll")
                .wstring();
    }
    return options;
}

// One thing the scripted user does, at a fraction of the session's length.
struct TUserStep {
    double At;
    std::size_t Chart; // index into the demo's symbols
    enum TKind { skType, skPress, skClick, skRequotes, skSpreadSpike } Kind;
    TPanelField Field = TPanelField::Lots;
    std::wstring Text; // skType
    int Presses = 0;   // skPress: up arrow when positive, down when negative; skRequotes: how
                       // many; skSpreadSpike: the spread in pips
    bool Buy = false;  // skClick
};

// The session: every kind of input on every chart, each click after the changes it should carry;
// then a stop-loss inside the broker's stop level, and a fast market in which the broker requotes
// every request of a click, so that the trader is told why no order came; last the guards: 10 lots
// typed for 0.10 meet the fat-finger cap, and a click in a news spike the spread guard.
const std::vector<TUserStep>& Script() {
    using F = TPanelField;
    static const std::vector<TUserStep> steps = {
        {0.12, 0, TUserStep::skType, F::Lots, L"0.25"},
        {0.18, 0, TUserStep::skPress, F::StopLoss, L"", 2},
        {0.24, 0, TUserStep::skClick, F::Lots, L"", 0, true},
        {0.30, 1, TUserStep::skType, F::TrailingStop, L"3.0"},
        {0.36, 1, TUserStep::skClick, F::Lots, L"", 0, false},
        {0.42, 2, TUserStep::skPress, F::Lots, L"", 1},
        {0.48, 2, TUserStep::skClick, F::Lots, L"", 0, true},
        {0.54, 2, TUserStep::skType, F::TakeProfit, L"5.0"},
        {0.60, 2, TUserStep::skClick, F::Lots, L"", 0, false},
        {0.66, 0, TUserStep::skClick, F::Lots, L"", 0, false},
        {0.70, 2, TUserStep::skType, F::StopLoss, L"2"},
        {0.73, 2, TUserStep::skClick, F::Lots, L"", 0, true},
        {0.76, 0, TUserStep::skRequotes, F::Lots, L"", 5},
        {0.77, 0, TUserStep::skClick, F::Lots, L"", 0, true},
        {0.78, 1, TUserStep::skType, F::Lots, L"10"},
        {0.79, 1, TUserStep::skClick, F::Lots, L"", 0, false},
        {0.80, 1, TUserStep::skType, F::Lots, L"0.10"},
        {0.81, 2, TUserStep::skSpreadSpike, F::Lots, L"", 12},
        {0.82, 2, TUserStep::skClick, F::Lots, L"", 0, true},
    };
    return steps;
}

const char* FieldName(TPanelField AField) {
    switch (AField) {
    case TPanelField::Lots:
        return "lots";
    case TPanelField::StopLoss:
        return "sl";
    case TPanelField::TakeProfit:
        return "tp";
    case TPanelField::TrailingStop:
        return "ts";
    }
    return "?";
}

// Plays the script on its own thread, so the charts and the experts run on undisturbed.
// Like a person who waits for the clicked price to turn back from orange, it clicks again only
// after the expert has taken the previous click, so that no two clicks meet in one exchange.
// ARequote makes the server of a chart requote its next requests; ASpike widens a chart's spread.
void PlayScript(const std::vector<HWND>& ACharts, int ASeconds, HANDLE AStop, TDemoLog& ALog,
                const TDemoStats& AStats, const std::function<void(std::size_t, int)>& ARequote,
                const std::function<bool(std::size_t, int)>& ASpike) {
    const auto start = std::chrono::steady_clock::now();
    for (const TUserStep& step : Script()) {
        const auto due = start + std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::duration<double>(step.At * ASeconds));
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        if (WaitForSingleObject(AStop, static_cast<DWORD>(std::max<long long>(0, wait.count()))) !=
            WAIT_TIMEOUT)
            return;
        const std::string symbol = DemoSymbols()[step.Chart].Name;
        if (step.Kind == TUserStep::skRequotes) {
            ARequote(step.Chart, step.Presses);
            ALog.Write("broker",
                       "requotes symbol=" + symbol + " times=" + std::to_string(step.Presses));
            continue;
        }
        if (step.Kind == TUserStep::skSpreadSpike) {
            const bool quoted = ASpike(step.Chart, step.Presses);
            ALog.Write("broker", "spread-spike symbol=" + symbol +
                                     " pips=" + std::to_string(step.Presses) +
                                     " quoted=" + (quoted ? "yes" : "no"));
            continue;
        }
        std::optional<TPanelWindows> panel;
        if (!WaitUntil([&] { return (panel = FindPanelWindows(ACharts[step.Chart])).has_value(); },
                       5s)) {
            ALog.Write("user", "panel-missing symbol=" + symbol);
            continue;
        }
        switch (step.Kind) {
        case TUserStep::skType:
            PostTyping(panel->Field(step.Field), step.Text);
            ALog.Write("user", "type symbol=" + symbol + " field=" + FieldName(step.Field) +
                                   " text=" + Utf8(step.Text));
            break;
        case TUserStep::skPress:
            for (int i = 0; i < std::abs(step.Presses); ++i)
                PostArrowPress(panel->ArrowsOf(step.Field), step.Presses > 0);
            ALog.Write("user", "press symbol=" + symbol + " field=" + FieldName(step.Field) +
                                   " arrow=" + (step.Presses > 0 ? "up" : "down") +
                                   " times=" + std::to_string(std::abs(step.Presses)));
            break;
        case TUserStep::skClick: {
            const POINT at = step.Buy ? BuyPricePoint : SellPricePoint;
            const long taken = AStats.Clicks;
            PostClick(panel->Panel, at);
            ALog.Write("user", "click symbol=" + symbol + " label=" + (step.Buy ? "buy" : "sell") +
                                   " x=" + std::to_string(at.x) + " y=" + std::to_string(at.y));
            if (!WaitUntil([&] { return AStats.Clicks > taken; }, 5s))
                ALog.Write("user", "click-not-taken symbol=" + symbol);
            break;
        }
        case TUserStep::skRequotes:
        case TUserStep::skSpreadSpike:
            break;
        }
    }
}

// Writes the terminal window's client area (every chart with its panel) to a PNG, and logs
// where each chart's client area lies in it.
bool TakeScreenshot(TChartHost& AHost, const std::vector<HWND>& ACharts,
                    const std::filesystem::path& APath, TDemoLog& ALog) {
    // Other programs may share the display: the capture counts when no window covered the
    // terminal window before and after it.
    HWND terminal = AHost.TerminalWindow();
    const RECT frame = ClientRectOnScreen(terminal);
    TPixels shot;
    int attempts = 0;
    bool clear = false;
    bool onTop = false;
    while (!clear && attempts++ < 20) {
        if (!IsUnobstructed(terminal)) {
            AHost.KeepTerminalOnTop(onTop = true);
            Sleep(300); // for the uncovered charts and panels to repaint
            continue;
        }
        shot = CaptureWindowPixels(terminal);
        clear = IsUnobstructed(terminal);
    }
    if (!clear)
        shot = CaptureWindowPixels(terminal);
    if (onTop)
        AHost.KeepTerminalOnTop(false);
    std::string error;
    if (shot.Width == 0 || !WritePngFile(APath, shot, error)) {
        ALog.Write("terminal", "screenshot failed " + error);
        return false;
    }
    ALog.Write("terminal", "screenshot file=" + APath.filename().string() +
                               " width=" + std::to_string(shot.Width) +
                               " height=" + std::to_string(shot.Height) + " attempts=" +
                               std::to_string(attempts) + " covered=" + (clear ? "no" : "yes"));
    for (std::size_t i = 0; i < ACharts.size(); ++i) {
        const RECT chart = ClientRectOnScreen(ACharts[i]);
        ALog.Write("terminal", "chart symbol=" + DemoSymbols()[i].Name +
                                   " x=" + std::to_string(chart.left - frame.left) +
                                   " y=" + std::to_string(chart.top - frame.top) +
                                   " width=" + std::to_string(chart.right - chart.left) +
                                   " height=" + std::to_string(chart.bottom - chart.top));
    }
    return true;
}

int RunDemo(const TDemoOptions& AOptions) {
    const std::filesystem::path out = std::filesystem::absolute(AOptions.Out);
    std::filesystem::create_directories(out);
    const std::filesystem::path logPath = out / "demo.log";
    const std::filesystem::path shotPath = out / "demo.png";
    TDemoLog log(logPath);

    std::optional<TPellithLibrary> library;
    try {
        library.emplace(AOptions.Dll);
    } catch (const std::exception& error) {
        log.Write("terminal", std::string("load failed ") + error.what());
        std::cerr << "DemoTerminal: " << error.what() << "\n";
        return 1;
    }
    log.Write("terminal", "loaded file=" + Utf8(AOptions.Dll) +
                              " seconds=" + std::to_string(AOptions.Seconds) +
                              " seed=" + std::to_string(AOptions.Seed) +
                              (AOptions.Interactive ? " interactive" : " scripted") +
                              " terminal=" + TerminalName);

    // Three charts side by side in one terminal window that fits a 1280 x 1024 screen.
    constexpr int ChartWidth = 400;
    constexpr int ChartHeight = 380;
    constexpr int Gap = 6;
    const SIZE outer = TChartHost::ChartWindowSize(ChartWidth, ChartHeight);
    const int outerWidth = outer.cx;
    const int outerHeight = outer.cy;
    const auto& symbols = DemoSymbols();
    // Unwatched, the terminal window goes to the bottom of the screen, out of the way of other
    // programs' windows, which mostly open at the top left.
    const int terminalWidth = Gap + static_cast<int>(symbols.size()) * (outerWidth + Gap);
    const int terminalHeight = outerHeight + 2 * Gap;
    const int terminalTop =
        AOptions.Interactive
            ? 0
            : std::max(0, GetSystemMetrics(SM_CYSCREEN) - terminalHeight -
                              GetSystemMetrics(SM_CYCAPTION) - 2 * GetSystemMetrics(SM_CYFRAME));
    TChartHost host({L"Pellith demo terminal (" + Wide(TerminalName) + L")", 0, terminalTop,
                     terminalWidth, terminalHeight});

    std::vector<HWND> charts;
    std::vector<std::unique_ptr<TDemoExpert>> experts;
    TDemoStats stats;
    const auto started = std::chrono::steady_clock::now();
    const auto clock = [started] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - started)
                   .count() +
               1;
    };
    // MT4: one server. MT5: one server per account, each with its own book and mode.
    TTradeServer server(clock);
    TTradeServer5 hedging(clock);
    TTradeServer5 netting(clock);
    hedging.Login(HedgingAccount, true);
    netting.Login(NettingAccount, false);
    for (const TSymbolSpec& symbol : symbols) {
        server.AddSymbol(DemoTradeRules(symbol));
        hedging.AddSymbol(DemoTradeRules(symbol));
        netting.AddSymbol(DemoTradeRules(symbol));
    }
    const auto server5 = [&](std::size_t AChart) -> TTradeServer5& {
        return AChart == NettingChart ? netting : hedging;
    };
    // How an MT5 chart's title names its account.
    const auto account = [&](std::size_t AChart) {
        return std::string(server5(AChart).Hedging() ? "hedging" : "netting") + " #" +
               std::to_string(server5(AChart).Account());
    };
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        charts.push_back(host.CreateChart(
            {Wide(symbols[i].Name) + L",M1" + (Mt5Terminal ? Wide("  " + account(i)) : L""),
             Gap + static_cast<int>(i) * (outerWidth + Gap), Gap, ChartWidth, ChartHeight}));
        const std::uint32_t seed = AOptions.Seed + static_cast<std::uint32_t>(i);
        if (Mt5Terminal) {
            log.Write(symbols[i].Name,
                      "account login=" + std::to_string(server5(i).Account()) +
                          " mode=" + (server5(i).Hedging() ? "hedging" : "netting"));
            experts.push_back(std::make_unique<TDemoExpert>(symbols[i], *library, host, charts[i],
                                                            log, stats, server5(i), seed));
        } else {
            experts.push_back(std::make_unique<TDemoExpert>(symbols[i], *library, host, charts[i],
                                                            log, stats, server, seed));
        }
    }
    const auto requote = [&](std::size_t AChart, int ATimes) {
        const auto times = static_cast<std::size_t>(ATimes);
        if (Mt5Terminal)
            server5(AChart).InjectDealFaults(
                std::vector<TFault>(times, TFault{static_cast<int>(rcRequote)}));
        else
            server.InjectSendFaults(std::vector<TFault>(times, TFault{teRequote}));
    };
    const auto spike = [&](std::size_t AChart, int APips) {
        return experts[AChart]->SpreadSpike(APips, 2500);
    };
    for (auto& expert : experts)
        expert->Start();

    bool screenshot = false;
    if (AOptions.Interactive) {
        std::cout << "DemoTerminal: running until the terminal window is closed\n" << std::flush;
        while (!host.TerminalCloseRequested()) {
            for (auto& expert : experts)
                if (host.CloseRequested(expert->Chart())) {
                    // OnDeinit (and its TerminalDelete) first, then the chart goes, as in the
                    // terminal.
                    expert->Stop(mql::REASON_CHARTCLOSE);
                    host.DestroyChart(expert->Chart());
                }
            if (host.Charts().empty())
                break;
            Sleep(100);
        }
    } else {
        TKernelHandle stopUser(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread user(PlayScript, std::cref(charts), AOptions.Seconds, stopUser.Get(),
                         std::ref(log), std::cref(stats),
                         std::function<void(std::size_t, int)>(requote),
                         std::function<bool(std::size_t, int)>(spike));
        const auto start = std::chrono::steady_clock::now();
        const auto length = std::chrono::duration<double>(AOptions.Seconds);
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<std::chrono::milliseconds>(length * 0.85));
        screenshot = TakeScreenshot(host, charts, shotPath, log);
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<std::chrono::milliseconds>(length));
        SetEvent(stopUser.Get());
        user.join();
    }

    // The terminal closes: the experts' OnDeinit calls TerminalDelete; then the library should
    // take its panels away.
    std::vector<HWND> panels;
    for (HWND chart : charts)
        panels.push_back(IsWindow(chart) ? PanelOf(chart) : nullptr);
    for (auto& expert : experts)
        expert->Stop();
    for (std::size_t i = 0; i < charts.size(); ++i) {
        if (!panels[i])
            continue;
        const bool gone = WaitUntil([&] { return !IsWindow(panels[i]); }, 5s);
        log.Write(symbols[i].Name,
                  std::string("after-delete panel=") + (gone ? "closed" : "open") +
                      " XT_Container=" +
                      (GetPropA(charts[i], ChartNames::ContainerProperty) ? "set" : "removed") +
                      " XT_Attached=" +
                      (GetPropA(charts[i], ChartNames::AttachedProperty) ? "set" : "removed"));
    }

    double realised = 0;
    double open = 0;
    for (auto& expert : experts) {
        realised += expert->RealisedProfit();
        open += expert->OpenProfit();
    }
    const std::string summary =
        std::string(TerminalName) + " terminal, " + std::to_string(charts.size()) + " charts, " +
        std::to_string(stats.Ticks) + " ticks, " + std::to_string(stats.Exchanges) +
        " exchanges (" + std::to_string(stats.LoggedExchanges) + " logged), " +
        std::to_string(stats.Clicks) + " clicks, " + std::to_string(stats.Orders) + " orders (" +
        std::to_string(stats.Closed) + " closed, " + std::to_string(stats.Rejected) +
        " rejected: " + std::to_string(stats.Capped) + " above the fat-finger cap, " +
        std::to_string(stats.SpreadRefused) + " at a spread wider than allowed), " +
        std::to_string(stats.RiskSized) + " sized from risk, " + std::to_string(stats.BreakEvens) +
        " stops to break-even, P/L " + SignedFixed(realised + open, 2) + " USD (closed " +
        SignedFixed(realised, 2) + ", open " + SignedFixed(open, 2) + ")";
    log.Write(
        "terminal",
        std::string("summary terminal=") + TerminalName + " ticks=" + std::to_string(stats.Ticks) +
            " exchanges=" + std::to_string(stats.Exchanges) + " logged=" +
            std::to_string(stats.LoggedExchanges) + " clicks=" + std::to_string(stats.Clicks) +
            " orders=" + std::to_string(stats.Orders) + " closed=" + std::to_string(stats.Closed) +
            " rejected=" + std::to_string(stats.Rejected) + " capped=" +
            std::to_string(stats.Capped) + " spread=" + std::to_string(stats.SpreadRefused) +
            " risk_sized=" + std::to_string(stats.RiskSized) + " breakeven=" +
            std::to_string(stats.BreakEvens) + " pl=" + SignedFixed(realised + open, 2));

    std::cout << "log:        " << logPath.string() << "\n";
    if (screenshot)
        std::cout << "screenshot: " << shotPath.string() << "\n";
    std::cout << "Pellith demo: " << summary << "\n" << std::flush;
    if (!AOptions.Interactive && !screenshot) {
        std::cerr << "DemoTerminal: the screenshot could not be taken (see the log)\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseOptions(TCommandLine(argc, argv), error);
    if (!options) {
        std::cerr << (error.empty() ? "" : "DemoTerminal: " + error + "\n") << Usage;
        return error.empty() ? 0 : 2;
    }
    try {
        return RunDemo(*options);
    } catch (const std::exception& failure) {
        std::cerr << "DemoTerminal: " << failure.what() << "\n";
        return 1;
    }
}
