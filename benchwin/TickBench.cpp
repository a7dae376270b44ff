// The timing program of Pellith.dll as the terminal drives it, run under Wine: one exchange
// against the platform calls it cannot avoid and against a naive exchange, four experts at once,
// an idle panel's paints and CPU time, and building a panel. Every figure is a ratio against a
// baseline measured in the same run, because absolute times under Wine say little.
//
// Threads: main drives everything; the stand-in terminal's chart thread pumps the charts; each
// panel runs on the library's own panel thread; the throughput section adds expert threads and
// the build section adds the baseline's window threads.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "benchwin/BenchTools.h"
#include "controls/VClExt.h"
#include "data/DataXT.h"
#include "terminal/ChartHost.h"
#include "terminal/PanelUser.h"
#include "terminal/PellithLibrary.h"

namespace {

constexpr char AttachedProperty[] = "XT_Attached";
constexpr char ContainerProperty[] = "XT_Container";

// ---- options ------------------------------------------------------------------------------------

struct TOptions {
    std::wstring Dll;
    std::wstring Summary;        // where to write the figures as "key value" lines; none if empty
    int Calls = 5000;            // timed exchanges per way of exchanging
    double PacedSeconds = 10;    // each run of the idle-panel section
    int PacedRate = 100;         // exchanges per second in that section
    double FloodSeconds = 2;     // each run of the many-experts section
    int Builds = 20;             // panels built per way of building
    double SoakSeconds = 60;     // the soak of section 6
    std::string Sections = "123456";  // which of the six sections to run
    int WatchdogSeconds = 900;
};

// A Unix path (as CMake and the scripts pass it) is drive Z: under Wine.
std::wstring WindowsPath(std::string APath) {
    if (!APath.empty() && APath[0] == '/') {
        std::replace(APath.begin(), APath.end(), '/', '\\');
        APath = "Z:" + APath;
    }
    return Wide(APath);
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&](const char* AName) -> const char* {
            const std::size_t length = std::strlen(AName);
            return argument.compare(0, length, AName) == 0 ? argv[i] + length : nullptr;
        };
        if (const char* v = value("--dll="))
            options.Dll = WindowsPath(v);
        else if (const char* v = value("--summary="))
            options.Summary = WindowsPath(v);
        else if (const char* v = value("--calls="))
            options.Calls = std::max(100, std::atoi(v));
        else if (const char* v = value("--paced-seconds="))
            options.PacedSeconds = std::max(1.0, std::atof(v));
        else if (const char* v = value("--flood-seconds="))
            options.FloodSeconds = std::max(0.2, std::atof(v));
        else if (const char* v = value("--builds="))
            options.Builds = std::max(3, std::atoi(v));
        else if (const char* v = value("--soak-seconds="))
            options.SoakSeconds = std::max(2.0, std::atof(v));
        else if (const char* v = value("--sections="))
            options.Sections = v;
        else if (argument == "--quick") {
            options.Calls = 1000;
            options.PacedSeconds = 2;
            options.FloodSeconds = 0.5;
            options.Builds = 5;
            options.SoakSeconds = 10;
        } else {
            throw std::runtime_error("unknown argument " + argument +
                                     " (use --dll=PATH [--summary=FILE] [--calls=N] "
                                     "[--paced-seconds=S] [--flood-seconds=S] [--builds=N] "
                                     "[--soak-seconds=S] [--sections=123456] [--quick])");
        }
    }
    if (options.Dll.empty())
        throw std::runtime_error("pass --dll=<path of Pellith.dll>");
    return options;
}

// Ends the process when the run hangs, so that a stuck library shows as a failed run.
void StartWatchdog(int ASeconds) {
    std::thread([ASeconds] {
        Sleep(static_cast<DWORD>(ASeconds) * 1000);
        std::fprintf(stderr, "tick_bench: not finished within %d s; stopping\n", ASeconds);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }).detach();
}

// ---- quotes -------------------------------------------------------------------------------------

struct TQuote {
    double Ask;
    double Bid;
};
constexpr double QuotePoint = 0.00001;
constexpr double QuoteMyPoint = 0.0001;
constexpr int QuoteDigits = 5;
constexpr TQuote SteadyQuote{1.10525, 1.10510};

// A new bid on every step, within fifty points under the steady ask: the bid's and the spread's
// captions change on each exchange, the ask's stays.
TQuote MovingQuote(long AStep) {
    return {SteadyQuote.Ask, 1.10400 + static_cast<double>(AStep % 50) * QuotePoint};
}

// ---- the rig: a terminal, the library and charts with panels ------------------------------------

struct TChartPanel {
    HWND Chart = nullptr;
    HWND Panel = nullptr;
    DWORD PanelThread = 0;
    std::vector<HWND> Fields;  // the panel's EDIT children, for the naive exchange
};

BOOL CALLBACK CollectEdits(HWND AWindow, LPARAM AList) {
    wchar_t name[32] = {};
    if (GetClassNameW(AWindow, name, 32) && lstrcmpiW(name, L"Edit") == 0)
        reinterpret_cast<std::vector<HWND>*>(AList)->push_back(AWindow);
    return TRUE;
}

class TRig {
public:
    explicit TRig(const std::wstring& ADll) : FHost(TerminalOptions()), FLibrary(ADll) {}

    const TPellithLibrary& Library() const { return FLibrary; }
    HANDLE Mark() const { return reinterpret_cast<HANDLE>(FLibrary.Module()); }

    // A chart in cell ACell of a 3 × 2 grid, without a panel.
    HWND NewChart(int ACell) {
        TChartOptions options;
        options.Title = L"EURUSD,M" + std::to_wstring(ACell + 1);
        options.Left = (ACell % 3) * 420;
        options.Top = (ACell / 3) * 310;
        options.ClientWidth = 400;
        options.ClientHeight = 280;
        return FHost.CreateChart(options);
    }

    void Create(HWND AChart) const {
        FLibrary.TerminalCreate(SteadyQuote.Ask, SteadyQuote.Bid, QuotePoint, QuoteMyPoint, 0.1,
                                50, 25, 15, QuoteDigits, AChart, "EURUSD");
    }

    bool Attached(HWND AChart) const { return GetPropA(AChart, AttachedProperty) == Mark(); }

    // Creates a panel on the chart and waits until the chart is marked.
    TChartPanel Attach(HWND AChart) const {
        Create(AChart);
        if (!PollUntil([&] { return Attached(AChart); }, 10))
            throw std::runtime_error("no panel appeared on a chart within 10 s");
        TChartPanel result;
        result.Chart = AChart;
        result.Panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
        result.PanelThread = GetWindowThreadProcessId(result.Panel, nullptr);
        EnumChildWindows(result.Panel, CollectEdits, reinterpret_cast<LPARAM>(&result.Fields));
        if (result.Fields.size() != 4)
            throw std::runtime_error("the panel has " + std::to_string(result.Fields.size()) +
                                     " text fields, not 4");
        return result;
    }

private:
    static TTerminalOptions TerminalOptions() {
        TTerminalOptions options;
        options.ClientWidth = 1260;
        options.ClientHeight = 610;
        return options;
    }

    TChartHost FHost;
    TPellithLibrary FLibrary;
};

// Keeps the pointer away from every panel, so that no exchange sees a hover change.
void ParkCursor() {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
}

// ---- the ways of exchanging ---------------------------------------------------------------------

// Results of platform calls land here so that none can be dropped as unused.
volatile LONG_PTR Sink = 0;

void ReadCursorInClient(HWND APanel) {
    POINT cursor{}, origin{0, 0};
    GetCursorPos(&cursor);
    ClientToScreen(APanel, &origin);
    Sink = Sink + cursor.x - origin.x;
}

enum class TWay { Floor, NewFloor, Ours, FloorMoving, OursMoving, Naive };

const char* WayName(TWay AWay) {
    switch (AWay) {
    case TWay::Ours:
        return "ours, unchanged prices";
    case TWay::OursMoving:
        return "ours, a new bid each tick";
    case TWay::Floor:
        return "old floor: mandated calls, show incl.";
    case TWay::NewFloor:
        return "new floor: the same without the show";
    case TWay::FloorMoving:
        return "floor + invalidating two labels";
    case TWay::Naive:
        return "naive: 4 x GetWindowTextW, 3 cursors";
    }
    return "?";
}

// The chart's mark and its panel, found as the library finds them, and the panel shown (when
// AShow): the calls that every exchange was once made to make. Yields the panel, or null when
// the chart has none.
HWND FindAndShowPanel(HWND AChart, bool AShow = true) {
    if (!IsWindow(AChart) || !GetPropA(AChart, AttachedProperty))
        return nullptr;
    HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    if (!IsWindow(panel))
        return nullptr;
    if (AShow)
        ShowWindow(panel, SW_SHOWNORMAL);  // a send to the panel thread
    if (!GetPropA(panel, ContainerProperty))
        return nullptr;
    return panel;
}

void FloorExchange(const TChartPanel& AChart, bool AShow = true) {
    if (HWND panel = FindAndShowPanel(AChart.Chart, AShow))
        ReadCursorInClient(panel);
}

// The boxes of the bid and spread labels in the panel's client area.
constexpr RECT BidLabelBox{6, 117, 99, 134};
constexpr RECT SpreadLabelBox{77, 91, 130, 108};
constexpr long ChangedLabelPixels = 93 * 17 + 53 * 17;

// The floor when a new bid changes two captions: the two labels must be repainted, which the
// panel thread then does in its own time.
void FloorMovingExchange(const TChartPanel& AChart) {
    HWND panel = FindAndShowPanel(AChart.Chart);
    if (!panel)
        return;
    ReadCursorInClient(panel);
    InvalidateRect(panel, &BidLabelBox, FALSE);
    InvalidateRect(panel, &SpreadLabelBox, FALSE);
}

// What an exchange costs done the obvious way: each field's text asked of the panel thread, and
// the cursor read for each of the three labels.
void NaiveExchange(const TChartPanel& AChart, double* ABlock) {
    HWND panel = FindAndShowPanel(AChart.Chart);
    if (!panel)
        return;
    for (int label = 0; label < 3; ++label)
        ReadCursorInClient(panel);
    for (std::size_t i = 0; i < AChart.Fields.size() && i < 4; ++i) {
        wchar_t text[64] = {};
        const int length = GetWindowTextW(AChart.Fields[i], text, 64);  // a send, too
        TryParseFloat(std::wstring_view(text, static_cast<std::size_t>(std::max(length, 0))),
                      ABlock[i]);
    }
}

int OurExchange(const TPellithLibrary& ALibrary, const TChartPanel& AChart, const TQuote& AQuote,
                double* ABlock) {
    return ALibrary.TerminalProcessMsg(AQuote.Ask, AQuote.Bid, QuotePoint, QuoteMyPoint,
                                       QuoteDigits, ABlock, ExchangeBlockSize, AChart.Chart);
}

void Exchange(const TPellithLibrary& ALibrary, TWay AWay, const TChartPanel& AChart,
              long AStep) {
    double block[ExchangeBlockSize] = {};
    switch (AWay) {
    case TWay::Ours:
        Sink = Sink + OurExchange(ALibrary, AChart, SteadyQuote, block);
        break;
    case TWay::OursMoving:
        Sink = Sink + OurExchange(ALibrary, AChart, MovingQuote(AStep), block);
        break;
    case TWay::Floor:
        FloorExchange(AChart);
        break;
    case TWay::NewFloor:
        FloorExchange(AChart, false);
        break;
    case TWay::FloorMoving:
        FloorMovingExchange(AChart);
        break;
    case TWay::Naive:
        NaiveExchange(AChart, block);
        break;
    }
    Sink = Sink + static_cast<LONG_PTR>(block[0]);
}

// Lets the panel thread paint what the last exchanges left, with the steady quote shown again.
void Settle(const TPellithLibrary& ALibrary, const TChartPanel& AChart) {
    double block[ExchangeBlockSize] = {};
    OurExchange(ALibrary, AChart, SteadyQuote, block);
    PollUntil([&] { return !HasUpdateRegion(AChart.Panel); }, 1.0);
    Sleep(5);
}

// ---- a plain panel: the baseline made of windows without any code of ours -----------------------

constexpr wchar_t PlainClassName[] = L"PellithBenchPlain";
constexpr char PlainProperty[] = "PellithBenchPlain";
constexpr UINT WM_END_PLAIN = WM_APP + 1;

void RegisterPlainClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;  // paints by erasing with the class brush
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = PlainClassName;
    RegisterClassExW(&windowClass);
}

struct TChildWindow {
    const wchar_t* Class;
    DWORD ExStyle;
    const wchar_t* Text;
};

// A panel-sized child of a chart with child windows on it, built by a thread of its own the way
// a panel thread builds a panel: the thread creates the windows, marks the chart with a property
// of its own and pumps messages until the object goes, which destroys the windows.
class TPlainPanel {
public:
    TPlainPanel(HWND AChart, const std::vector<TChildWindow>& AChildren)
        : FChart(AChart), FChildren(AChildren), FThread([this] { Run(); }) {}
    ~TPlainPanel() {
        PollUntil([this] { return FThreadId.load() != 0; }, 10);
        PostThreadMessageW(FThreadId.load(), WM_END_PLAIN, 0, 0);
        FThread.join();
    }
    TPlainPanel(const TPlainPanel&) = delete;
    TPlainPanel& operator=(const TPlainPanel&) = delete;

    // Polls the chart's mark every millisecond.
    bool WaitBuilt(double ADeadlineSeconds) const {
        return PollUntil([this] { return GetPropA(FChart, PlainProperty) != nullptr; },
                         ADeadlineSeconds);
    }
    // Borrowed: the window belongs to the object's thread.
    HWND Window() const { return static_cast<HWND>(GetPropA(FChart, PlainProperty)); }

private:
    void Run() {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for the end
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        HWND panel = CreateWindowExW(0, PlainClassName, L"",
                                     WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                     10, 20, 206, 157, FChart, nullptr, instance, nullptr);
        int i = 0;
        for (const TChildWindow& child : FChildren) {
            CreateWindowExW(child.ExStyle, child.Class, child.Text, WS_CHILD | WS_VISIBLE,
                            5 + (i % 4) * 50, 30 + (i / 4) * 20, 40, 18, panel, nullptr, instance,
                            nullptr);
            ++i;
        }
        SetPropA(FChart, PlainProperty, panel);
        FThreadId.store(GetCurrentThreadId());
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_END_PLAIN && !message.hwnd)
                break;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        RemovePropA(FChart, PlainProperty);
        DestroyWindow(panel);
    }

    HWND FChart;
    std::vector<TChildWindow> FChildren;
    std::atomic<DWORD> FThreadId{0};
    std::thread FThread;
};

// ---- the summary --------------------------------------------------------------------------------

struct TFigure {
    std::string Key;
    double Value;
};
std::vector<TFigure> Figures;

void Record(const std::string& AKey, double AValue) { Figures.push_back({AKey, AValue}); }

void WriteSummary(const std::wstring& APath) {
    if (APath.empty())
        return;
    const std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(APath.c_str(), L"w"), std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + Utf8(APath));
    for (const TFigure& figure : Figures)
        std::fprintf(file.get(), "%s %.6g\n", figure.Key.c_str(), figure.Value);
}

double Ratio(double ANumerator, double ADenominator) {
    return ADenominator > 0 ? ANumerator / ADenominator : 0;
}

void Heading(const char* AText) { std::printf("\n%s\n", AText); }

// ---- 1. the tick path ---------------------------------------------------------------------------

void BenchTickPath(const TRig& ARig, const TChartPanel& AChart, const TOptions& AOptions) {
    const TWay ways[] = {TWay::Floor, TWay::NewFloor, TWay::Ours, TWay::FloorMoving,
                         TWay::OursMoving, TWay::Naive};
    constexpr int Ways = 6;
    constexpr int Rounds = 10;
    const int perRound = std::max(10, AOptions.Calls / Rounds);
    std::vector<double> samples[Ways];
    long step = 0;

    for (TWay way : ways) {
        for (int i = 0; i < 200; ++i)
            Exchange(ARig.Library(), way, AChart, ++step);
        Settle(ARig.Library(), AChart);
    }
    // The ways take turns in blocks, so that a change in the machine's load falls on all alike.
    for (int round = 0; round < Rounds; ++round) {
        for (int w = 0; w < Ways; ++w) {
            for (int i = 0; i < perRound; ++i) {
                ++step;
                const long long start = CounterNow();
                Exchange(ARig.Library(), ways[w], AChart, step);
                samples[w].push_back(CounterMicroseconds(CounterNow() - start));
            }
            Settle(ARig.Library(), AChart);
        }
    }

    TTimings t[Ways];
    for (int w = 0; w < Ways; ++w)
        t[w] = Summarise(samples[w]);
    enum { Floor, NewFloor, Ours, FloorMoving, OursMoving, Naive };
    Heading("1. The tick path: one TerminalProcessMsg on an attached panel, nothing clicked, "
            "back to back");
    std::printf("   %-40s %9s %9s %9s %9s\n", "us per exchange", "median", "p99", "mean",
                "x floor");
    for (int w = 0; w < Ways; ++w)
        std::printf("   %-40s %9.1f %9.1f %9.1f %8.2fx\n", WayName(ways[w]), t[w].Median,
                    t[w].P99, t[w].Mean, Ratio(t[w].Median, t[Floor].Median));
    const double oursOverFloor = Ratio(t[Ours].Median, t[Floor].Median);
    const double p99OverFloor = Ratio(t[Ours].P99, t[Floor].P99);
    const double movingOverFloor = Ratio(t[OursMoving].Median, t[FloorMoving].Median);
    const double naiveOverOurs = Ratio(t[Naive].Median, t[Ours].Median);
    const double oursOverNew = Ratio(t[Ours].Median, t[NewFloor].Median);
    const double p99OverNew = Ratio(t[Ours].P99, t[NewFloor].P99);
    std::printf("   ours / old floor, medians                   %6.2fx   (goal <= 0.6x)\n",
                oursOverFloor);
    std::printf("   ours / new floor, medians                   %6.2fx   (goal <= 1.1x)\n",
                oursOverNew);
    std::printf("   ours / new floor, 99th percentiles          %6.2fx   (goal <= 1.2x)\n",
                p99OverNew);
    std::printf("   ours / old floor, 99th percentiles          %6.2fx\n", p99OverFloor);
    std::printf("   new bid each tick: ours / its floor         %6.2fx\n", movingOverFloor);
    std::printf("   naive / ours, medians                       %6.2fx\n", naiveOverOurs);
    std::printf("   (%zu timed exchanges per way, in %d interleaved rounds)\n", t[Floor].Count,
                Rounds);

    Record("tick.floor.median_us", t[Floor].Median);
    Record("tick.floor.p99_us", t[Floor].P99);
    Record("tick.ours.median_us", t[Ours].Median);
    Record("tick.ours.p99_us", t[Ours].P99);
    Record("tick.floor_moving.median_us", t[FloorMoving].Median);
    Record("tick.floor_moving.p99_us", t[FloorMoving].P99);
    Record("tick.moving.median_us", t[OursMoving].Median);
    Record("tick.moving.p99_us", t[OursMoving].P99);
    Record("tick.naive.median_us", t[Naive].Median);
    Record("tick.naive.p99_us", t[Naive].P99);
    Record("tick.new_floor.median_us", t[NewFloor].Median);
    Record("tick.new_floor.p99_us", t[NewFloor].P99);
    Record("tick.ours_over_new_floor", oursOverNew);
    Record("tick.ours_p99_over_new_floor_p99", p99OverNew);
    Record("tick.ours_over_floor", oursOverFloor);
    Record("tick.ours_p99_over_floor_p99", p99OverFloor);
    Record("tick.moving_over_floor_moving", movingOverFloor);
    Record("tick.moving_over_floor", Ratio(t[OursMoving].Median, t[Floor].Median));
    Record("tick.naive_over_ours", naiveOverOurs);
}

// The parts an exchange is made of, each timed alone, to say where the time goes.
void BenchTickParts(const TRig& ARig, const TChartPanel& AChart, HWND ABareChart,
                    const TOptions& AOptions) {
    struct TPart {
        const char* Name;
        int Batch;  // calls per sample: pure code is too quick for one reading of the counter
        std::function<void()> Call;
        std::vector<double> Samples;
    };
    double value = 0;
    const std::wstring fieldTexts[4] = {L"0.10", L"50.0", L"25.0", L"15.0"};
    // The two labels a new bid changes, repainted and waited for: on the panel, whose paint is
    // the library's, and on a plain window of another thread that only erases, with as many
    // child windows as the panel has (clipped away from its paint like the panel's).
    TUniqueHandle<HRGN, CloseGdiObject> labels(CreateRectRgnIndirect(&BidLabelBox));
    TUniqueHandle<HRGN, CloseGdiObject> spread(CreateRectRgnIndirect(&SpreadLabelBox));
    CombineRgn(labels.Get(), labels.Get(), spread.Get(), RGN_OR);
    std::vector<TChildWindow> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back({L"Edit", WS_EX_CLIENTEDGE, L"0.10"});
        children.push_back({UPDOWN_CLASSW, 0, L""});
    }
    const TPlainPanel plain(ABareChart, children);
    if (!plain.WaitBuilt(10))
        throw std::runtime_error("the plain window did not appear within 10 s");
    const HWND plainWindow = plain.Window();
    std::vector<TPart> parts;
    parts.push_back({"IsWindow (chart)", 1, [&] { Sink = Sink + IsWindow(AChart.Chart); }, {}});
    parts.push_back({"GetPropA (chart)", 1,
                     [&] {
                         Sink = Sink + reinterpret_cast<LONG_PTR>(
                                           GetPropA(AChart.Chart, ContainerProperty));
                     },
                     {}});
    parts.push_back({"ShowWindow SW_SHOWNORMAL (cross-thread)", 1,
                     [&] { Sink = Sink + ShowWindow(AChart.Panel, SW_SHOWNORMAL); }, {}});
    parts.push_back({"GetCursorPos + ClientToScreen", 1, [&] { ReadCursorInClient(AChart.Panel); },
                     {}});
    parts.push_back({"GetWindowTextW of a field (cross-thread)", 1,
                     [&] {
                         wchar_t text[64];
                         Sink = Sink + GetWindowTextW(AChart.Fields[0], text, 64);
                     },
                     {}});
    parts.push_back({"InvalidateRect of a price label (cross-thread)", 1,
                     [&] { Sink = Sink + InvalidateRect(AChart.Panel, &BidLabelBox, FALSE); },
                     {}});
    parts.push_back({"repaint bid + spread labels, waited: panel", 1,
                     [&] {
                         Sink = Sink + RedrawWindow(AChart.Panel, nullptr, labels.Get(),
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"the same on a plain window (erase only)", 1,
                     [&] {
                         Sink = Sink + RedrawWindow(plainWindow, nullptr, labels.Get(),
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"repaint the whole panel, waited", 1,
                     [&] {
                         Sink = Sink + RedrawWindow(AChart.Panel, nullptr, nullptr,
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"TerminalProcessMsg, chart without panel", 1,
                     [&] {
                         double block[ExchangeBlockSize];
                         Sink = Sink + ARig.Library().TerminalProcessMsg(
                                           SteadyQuote.Ask, SteadyQuote.Bid, QuotePoint,
                                           QuoteMyPoint, QuoteDigits, block, ExchangeBlockSize,
                                           ABareChart);
                     },
                     {}});
    parts.push_back({"snapshot: TTerminalData (i686, in process)", 100,
                     [&] {
                         const TTerminalData data(nullptr, nullptr, SteadyQuote.Ask,
                                                  SteadyQuote.Bid, QuotePoint, QuoteMyPoint, 0, 0,
                                                  0, 0, QuoteDigits);
                         Sink = Sink + static_cast<LONG_PTR>(data.Spread().size());
                     },
                     {}});
    parts.push_back({"4 x TryParseFloat (i686, in process)", 100,
                     [&] {
                         for (const std::wstring& text : fieldTexts)
                             TryParseFloat(text, value);
                         Sink = Sink + static_cast<LONG_PTR>(value);
                     },
                     {}});

    const int samples = std::max(200, AOptions.Calls / 5);
    constexpr int Rounds = 10;
    for (TPart& part : parts)
        for (int i = 0; i < 50 * part.Batch; ++i)
            part.Call();
    for (int round = 0; round < Rounds; ++round)
        for (TPart& part : parts)
            for (int i = 0; i < samples / Rounds; ++i) {
                const long long start = CounterNow();
                for (int k = 0; k < part.Batch; ++k)
                    part.Call();
                part.Samples.push_back(CounterMicroseconds(CounterNow() - start) / part.Batch);
            }

    Heading("   The parts, each timed alone (us per call)");
    std::printf("   %-46s %9s %9s\n", "", "median", "p99");
    std::vector<double> median;
    for (const TPart& part : parts) {
        const TTimings t = Summarise(part.Samples);
        median.push_back(t.Median);
        std::printf("   %-46s %9.2f %9.2f\n", part.Name, t.Median, t.P99);
    }
    // The floor is two IsWindow, three GetPropA, the show and one cursor read.
    const double floorModel = 2 * median[0] + 3 * median[1] + median[2] + median[3];
    std::printf("   sum of the floor's parts                       %9.1f\n", floorModel);
    std::printf("   the panel's repaint of two labels / a plain window's  %6.2fx\n",
                Ratio(median[6], median[7]));
    std::printf("   the panel's repaint of two labels / of the whole panel %6.2fx\n",
                Ratio(median[6], median[8]));
    const char* keys[] = {"part.iswindow_us",       "part.getprop_us",
                          "part.showwindow_us",     "part.cursor_us",
                          "part.getwindowtext_us",  "part.invalidate_us",
                          "part.repaint_panel_us",  "part.repaint_plain_us",
                          "part.repaint_whole_panel_us", "part.exchange_without_panel_us",
                          "part.snapshot_us",       "part.parse4_us"};
    for (std::size_t i = 0; i < median.size() && i < std::size(keys); ++i)
        Record(keys[i], median[i]);
    Record("part.floor_model_us", floorModel);
    Record("part.repaint_panel_over_plain", Ratio(median[6], median[7]));
}

// ---- 2. many experts at once --------------------------------------------------------------------

// Exchanges per second, all threads together, with one expert thread per chart calling as fast as
// it can for ASeconds.
double Flood(const TRig& ARig, TWay AWay, const std::vector<TChartPanel>& ACharts,
             double ASeconds) {
    TKernelHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> stop{false};
    std::vector<long> counts(ACharts.size(), 0);
    std::vector<long long> ends(ACharts.size(), 0);
    std::vector<std::thread> experts;
    for (std::size_t i = 0; i < ACharts.size(); ++i)
        experts.emplace_back([&, i] {
            WaitForSingleObject(go.Get(), INFINITE);
            long count = 0;
            while (!stop.load(std::memory_order_relaxed))
                Exchange(ARig.Library(), AWay, ACharts[i], ++count);
            ends[i] = CounterNow();
            counts[i] = count;
        });
    Sleep(50);  // every expert is waiting for the start
    const long long start = CounterNow();
    SetEvent(go.Get());
    Sleep(static_cast<DWORD>(ASeconds * 1000));
    stop = true;
    for (std::thread& expert : experts)
        expert.join();
    long total = 0;
    for (long count : counts)
        total += count;
    const long long end = *std::max_element(ends.begin(), ends.end());
    return total / (CounterMicroseconds(end - start) * 1e-6);
}

void BenchManyExperts(const TRig& ARig, const std::vector<TChartPanel>& ACharts,
                      const TOptions& AOptions) {
    const std::vector<TChartPanel> one(ACharts.begin(), ACharts.begin() + 1);
    constexpr int Repeats = 5;
    std::vector<double> oursOne, oursAll, floorOne, floorAll;
    for (int r = 0; r < Repeats; ++r) {
        oursOne.push_back(Flood(ARig, TWay::Ours, one, AOptions.FloodSeconds));
        oursAll.push_back(Flood(ARig, TWay::Ours, ACharts, AOptions.FloodSeconds));
        floorOne.push_back(Flood(ARig, TWay::Floor, one, AOptions.FloodSeconds));
        floorAll.push_back(Flood(ARig, TWay::Floor, ACharts, AOptions.FloodSeconds));
    }
    // Two experts on each chart, as a terminal with two experts per symbol has them.
    std::vector<TChartPanel> twice(ACharts);
    twice.insert(twice.end(), ACharts.begin(), ACharts.end());
    std::vector<double> ours8, floor8, newFloor8;
    for (int r = 0; r < Repeats; ++r) {
        ours8.push_back(Flood(ARig, TWay::Ours, twice, AOptions.FloodSeconds));
        floor8.push_back(Flood(ARig, TWay::Floor, twice, AOptions.FloodSeconds));
        newFloor8.push_back(Flood(ARig, TWay::NewFloor, twice, AOptions.FloodSeconds));
    }
    const double ours1 = MedianOf(oursOne), oursN = MedianOf(oursAll);
    const double floor1 = MedianOf(floorOne), floorN = MedianOf(floorAll);
    Heading("2. Many experts: each thread exchanges with its own chart as fast as it can");
    std::printf("   %-40s %12s %12s %9s\n", "exchanges per second, all threads", "1 thread",
                "4 threads", "4 / 1");
    std::printf("   %-40s %12.0f %12.0f %8.2fx\n", "ours, unchanged prices", ours1, oursN,
                Ratio(oursN, ours1));
    std::printf("   %-40s %12.0f %12.0f %8.2fx\n", "floor calls only (no common lock)", floor1,
                floorN, Ratio(floorN, floor1));
    std::printf("   8 threads, two on each of the 4 charts: ours %.0f/s, old floor %.0f/s, "
                "new floor %.0f/s (the library before this design: about 420/s)\n",
                MedianOf(ours8), MedianOf(floor8), MedianOf(newFloor8));
    std::printf("   (median of %d runs of %.1f s each; the machine has %lu logical processors)\n",
                Repeats, AOptions.FloodSeconds, [] {
                    SYSTEM_INFO info{};
                    GetSystemInfo(&info);
                    return static_cast<unsigned long>(info.dwNumberOfProcessors);
                }());
    Record("threads.ours_1_per_s", ours1);
    Record("threads.ours_4_per_s", oursN);
    Record("threads.ours_4_over_1", Ratio(oursN, ours1));
    Record("threads.floor_1_per_s", floor1);
    Record("threads.floor_4_per_s", floorN);
    Record("threads.floor_4_over_1", Ratio(floorN, floor1));
    Record("threads.ours_8_per_s", MedianOf(ours8));
    Record("threads.floor_8_per_s", MedianOf(floor8));
    Record("threads.new_floor_8_per_s", MedianOf(newFloor8));
}

// ---- 3. an idle panel ---------------------------------------------------------------------------

struct TPacedRun {
    long Exchanges = 0;
    long Paints = 0;
    long long Pixels = 0;
    double PanelCpuPercent = 0;
    double ExpertCpuPercent = 0;
    TTimings Exchange;  // microseconds per exchange
};

// Exchanges at a steady rate for a while (none when AWay is null), counting the panel's paints
// and the CPU time of its thread from just after the first exchange.
TPacedRun RunPaced(const TRig& ARig, const TChartPanel& AChart, const TWay* AWay,
                   TPaintWatch& AWatch, const TOptions& AOptions) {
    Settle(ARig.Library(), AChart);  // the first exchange: the steady quote, then its paint
    Sleep(100);
    const TThreadClock panelClock(AChart.PanelThread);
    const TThreadClock expertClock(GetCurrentThreadId());
    const int count = static_cast<int>(AOptions.PacedSeconds * AOptions.PacedRate);
    TPacedRun run;
    AWatch.Reset();
    const double panelStart = panelClock.Seconds(), expertStart = expertClock.Seconds();
    std::vector<double> samples;
    const long long start = CounterNow();
    for (int i = 0; i < count; ++i) {
        const double due = static_cast<double>(i) / AOptions.PacedRate;
        const double wait = due - CounterSecondsSince(start);
        if (wait > 0)
            Sleep(static_cast<DWORD>(wait * 1000 + 0.5));
        if (AWay) {
            const long long begin = CounterNow();
            Exchange(ARig.Library(), *AWay, AChart, i + 1);
            samples.push_back(CounterMicroseconds(CounterNow() - begin));
            ++run.Exchanges;
        }
    }
    const double last = AOptions.PacedSeconds - CounterSecondsSince(start);
    if (last > 0)
        Sleep(static_cast<DWORD>(last * 1000 + 0.5));
    PollUntil([&] { return !HasUpdateRegion(AChart.Panel); }, 1.0);
    const double elapsed = CounterSecondsSince(start);
    run.Paints = AWatch.Paints();
    run.Pixels = AWatch.PaintedPixels();
    run.PanelCpuPercent = 100 * (panelClock.Seconds() - panelStart) / elapsed;
    run.ExpertCpuPercent = 100 * (expertClock.Seconds() - expertStart) / elapsed;
    if (panelStart < 0)
        run.PanelCpuPercent = -1;
    run.Exchange = Summarise(std::move(samples));
    return run;
}

void BenchIdlePanel(const TRig& ARig, const TChartPanel& AChart, const TOptions& AOptions) {
    TPaintWatch watch(AChart.Panel);
    if (!watch.Installed())
        throw std::runtime_error("cannot hook the panel thread to count its paints");
    RECT client{};
    GetClientRect(AChart.Panel, &client);
    const long panelPixels = client.right * client.bottom;

    const TWay floor = TWay::Floor, ours = TWay::Ours, floorMoving = TWay::FloorMoving,
               moving = TWay::OursMoving;
    const TPacedRun quiet = RunPaced(ARig, AChart, nullptr, watch, AOptions);
    const TPacedRun floorRun = RunPaced(ARig, AChart, &floor, watch, AOptions);
    const TPacedRun steadyRun = RunPaced(ARig, AChart, &ours, watch, AOptions);
    const TPacedRun floorMovingRun = RunPaced(ARig, AChart, &floorMoving, watch, AOptions);
    const TPacedRun movingRun = RunPaced(ARig, AChart, &moving, watch, AOptions);

    Heading("3. An idle panel: exchanges at a steady rate, paints and the panel thread's CPU");
    std::printf("   %.0f s per run at %d exchanges per second; paints counted after the first "
                "exchange\n",
                AOptions.PacedSeconds, AOptions.PacedRate);
    std::printf("   %-34s %6s %7s %8s %9s %10s %10s %9s\n", "", "calls", "paints", "paints/ex",
                "px/ex", "panel CPU%", "exp. CPU%", "us/ex med");
    const auto row = [&](const char* AName, const TPacedRun& ARun) {
        std::printf("   %-34s %6ld %7ld %8.3f %9.0f %10.2f %10.2f %9.1f\n", AName, ARun.Exchanges,
                    ARun.Paints, Ratio(ARun.Paints, ARun.Exchanges),
                    Ratio(static_cast<double>(ARun.Pixels), ARun.Exchanges), ARun.PanelCpuPercent,
                    ARun.ExpertCpuPercent, ARun.Exchange.Median);
    };
    row("no exchanges (the panel's timer)", quiet);
    row(WayName(floor), floorRun);
    row(WayName(ours), steadyRun);
    row(WayName(floorMoving), floorMovingRun);
    row(WayName(moving), movingRun);
    std::printf("   panel client area %ld px; CPU time comes in 10 ms ticks\n",
                panelPixels);
    std::printf("   unchanged prices: %ld paints (goal 0); panel thread %.2f %% of a core "
                "(goal < 1 %%), %.2f %% with the floor calls alone\n",
                steadyRun.Paints, steadyRun.PanelCpuPercent, floorRun.PanelCpuPercent);
    std::printf("   a new bid each tick: %.3f paints and %.0f px per exchange (the bid and spread "
                "labels: %ld px)\n",
                Ratio(movingRun.Paints, movingRun.Exchanges),
                Ratio(static_cast<double>(movingRun.Pixels), movingRun.Exchanges),
                ChangedLabelPixels);
    std::printf("   paced exchange, ours / floor: %.2fx unchanged, %.2fx with a new bid\n",
                Ratio(steadyRun.Exchange.Median, floorRun.Exchange.Median),
                Ratio(movingRun.Exchange.Median, floorMovingRun.Exchange.Median));

    Record("idle.quiet_panel_cpu_percent", quiet.PanelCpuPercent);
    Record("idle.floor_panel_cpu_percent", floorRun.PanelCpuPercent);
    Record("idle.floor_paints", floorRun.Paints);
    Record("idle.paints", steadyRun.Paints);
    Record("idle.panel_cpu_percent", steadyRun.PanelCpuPercent);
    Record("idle.expert_cpu_percent", steadyRun.ExpertCpuPercent);
    Record("moving.paints_per_exchange", Ratio(movingRun.Paints, movingRun.Exchanges));
    Record("moving.pixels_per_exchange",
           Ratio(static_cast<double>(movingRun.Pixels), movingRun.Exchanges));
    Record("moving.panel_cpu_percent", movingRun.PanelCpuPercent);
    Record("moving.floor_panel_cpu_percent", floorMovingRun.PanelCpuPercent);
    Record("paced.ours_over_floor", Ratio(steadyRun.Exchange.Median, floorRun.Exchange.Median));
    Record("paced.moving_over_floor_moving",
           Ratio(movingRun.Exchange.Median, floorMovingRun.Exchange.Median));
    Record("panel.pixels", panelPixels);
}

// ---- 4. building a panel ------------------------------------------------------------------------

// Milliseconds from starting the baseline's thread until the chart is marked; then its windows go.
double TimePlainBuild(HWND AChart, const std::vector<TChildWindow>& AChildren) {
    const long long start = CounterNow();
    TPlainPanel panel(AChart, AChildren);
    const bool built = panel.WaitBuilt(10);
    const double milliseconds = CounterMicroseconds(CounterNow() - start) / 1000;
    if (!built)
        throw std::runtime_error("the baseline's windows did not appear within 10 s");
    return milliseconds;
}

// Milliseconds from TerminalCreate until the chart carries the library's mark; then the panel is
// deleted and its thread waited for, so that each build starts from the same state.
double TimeOurBuild(const TRig& ARig, HWND AChart) {
    const long long start = CounterNow();
    ARig.Create(AChart);
    const bool built = PollUntil([&] { return ARig.Attached(AChart); }, 10);
    const double milliseconds = CounterMicroseconds(CounterNow() - start) / 1000;
    if (!built)
        throw std::runtime_error("no panel appeared within 10 s");
    HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    TKernelHandle thread(
        OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(panel, nullptr)));
    ARig.Library().TerminalDelete(AChart);
    if (!PollUntil([&] { return !IsWindow(panel); }, 10))
        throw std::runtime_error("the panel window did not go within 10 s after TerminalDelete");
    if (thread)
        WaitForSingleObject(thread.Get(), 10000);
    return milliseconds;
}

void BenchBuilding(const TRig& ARig, HWND AChart, const TOptions& AOptions) {
    const std::vector<TChildWindow> plain(16, TChildWindow{PlainClassName, 0, L""});
    // The same count in the stock controls the panel is made of, for a closer comparison.
    std::vector<TChildWindow> stock;
    for (int i = 0; i < 4; ++i) {
        stock.push_back({L"Edit", WS_EX_CLIENTEDGE, L"0.10"});
        stock.push_back({UPDOWN_CLASSW, 0, L""});
        stock.push_back({L"Static", 0, L"Label"});
        stock.push_back({L"Static", 0, L"Label"});
    }
    std::vector<double> ours, plainTimes, stockTimes;
    for (int i = 0; i < 2; ++i) {  // warm-up: the library loads its bitmap on the first build
        TimeOurBuild(ARig, AChart);
        TimePlainBuild(AChart, plain);
        TimePlainBuild(AChart, stock);
    }
    for (int i = 0; i < AOptions.Builds; ++i) {
        ours.push_back(TimeOurBuild(ARig, AChart));
        plainTimes.push_back(TimePlainBuild(AChart, plain));
        stockTimes.push_back(TimePlainBuild(AChart, stock));
    }
    const TTimings our = Summarise(ours), plainT = Summarise(plainTimes),
                   stockT = Summarise(stockTimes);
    Heading("4. Building a panel: from the call until the chart is marked (ms, polled every 1 ms)");
    std::printf("   %-52s %9s %9s %9s\n", "", "median", "max", "ours / it");
    std::printf("   %-52s %9.1f %9.1f\n", "ours: TerminalCreate until \"XT_Attached\"", our.Median,
                *std::max_element(ours.begin(), ours.end()));
    std::printf("   %-52s %9.1f %9.1f %8.2fx\n", "baseline: new thread, plain child + 16 plain",
                plainT.Median, *std::max_element(plainTimes.begin(), plainTimes.end()),
                Ratio(our.Median, plainT.Median));
    std::printf("   %-52s %9.1f %9.1f %8.2fx\n",
                "reference: plain child + 4 Edit, 4 up-down, 8 Static", stockT.Median,
                *std::max_element(stockTimes.begin(), stockTimes.end()),
                Ratio(our.Median, stockT.Median));
    std::printf("   (median of %d builds each, interleaved; each followed by deleting the panel "
                "and waiting for its thread)\n",
                AOptions.Builds);
    Record("build.ours_ms", our.Median);
    Record("build.plain_ms", plainT.Median);
    Record("build.stock_ms", stockT.Median);
    Record("build.ours_over_plain", Ratio(our.Median, plainT.Median));
    Record("build.ours_over_stock", Ratio(our.Median, stockT.Median));
}

// ---- 5. slow neighbours -------------------------------------------------------------------------

// The shell as a browser that takes 1.5 s to start.
std::atomic<bool> ShellBusy{false};
HINSTANCE WINAPI SlowShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ShellBusy = true;
    Sleep(1500);
    ShellBusy = false;
    return reinterpret_cast<HINSTANCE>(42);
}

// A top-level window on a thread of its own, used as a chart whose thread stops pumping.
class TBusyChart {
public:
    TBusyChart() : FThread([this] { Run(); }) {
        PollUntil([this] { return FWindow.load() != nullptr; }, 10);
    }
    ~TBusyChart() {
        PostMessageW(FWindow.load(), WM_CLOSE, 0, 0);
        FThread.join();
    }
    HWND Window() const { return FWindow.load(); }
    void KeepBusy(int AMilliseconds) {
        FBusy = true;
        PostMessageW(FWindow.load(), WM_APP + 7, static_cast<WPARAM>(AMilliseconds), 0);
    }
    bool Busy() const { return FBusy.load(); }

private:
    static LRESULT CALLBACK Proc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
        if (AMessage == WM_APP + 7) {
            Sleep(static_cast<DWORD>(AWParam));
            reinterpret_cast<TBusyChart*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA))->FBusy = false;
            return 0;
        }
        if (AMessage == WM_CLOSE) {
            DestroyWindow(AWindow);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    }
    void Run() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PellithBenchBusyChart";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"busy", WS_OVERLAPPEDWINDOW,
                                      0, 0, 420, 300, nullptr, nullptr, windowClass.hInstance,
                                      nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        FWindow = window;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }
    std::atomic<HWND> FWindow{nullptr};
    std::atomic<bool> FBusy{false};
    std::thread FThread;
};

// Exchanges on one chart back to back while ADuring holds, from a thread of its own; the times
// of those exchanges, in microseconds.
class TWatchedExpert {
public:
    TWatchedExpert(const TRig& ARig, const TChartPanel& AChart, std::function<bool()> ADuring)
        : FThread([&ARig, AChart, ADuring, this] {
              long step = 0;
              while (!FStop.load()) {
                  const bool during = ADuring();
                  const long long start = CounterNow();
                  Exchange(ARig.Library(), TWay::Ours, AChart, ++step);
                  const double took = CounterMicroseconds(CounterNow() - start);
                  if (during && ADuring())
                      FSamples.push_back(took);
              }
          }) {}
    std::vector<double> Stop() {
        FStop = true;
        FThread.join();
        return FSamples;
    }

private:
    std::atomic<bool> FStop{false};
    std::vector<double> FSamples;
    std::thread FThread;
};

void BenchSlowNeighbours(const TRig& ARig, const std::vector<TChartPanel>& ACharts) {
    const TChartPanel& watched = ACharts[0];
    const TChartPanel& linked = ACharts[1];
    TImportPatch shell(ARig.Library().Module(), "shell32.dll", "ShellExecuteW",
                       reinterpret_cast<void*>(&SlowShell));
    if (!shell.Applied())
        throw std::runtime_error("cannot replace the library's ShellExecuteW");

    // Another chart's link: clicked, then opened by that chart's next exchange.
    PostClick(linked.Panel, POINT{100, 148});
    Sleep(200);
    TWatchedExpert duringLink(ARig, watched, [] { return ShellBusy.load(); });
    std::thread opener([&] {
        double block[ExchangeBlockSize] = {};
        OurExchange(ARig.Library(), linked, SteadyQuote, block);
    });
    opener.join();
    const TTimings link = Summarise(duringLink.Stop());

    // Another chart whose thread is busy for 3 s while a panel is built on it.
    TBusyChart busy;
    busy.KeepBusy(3000);
    ARig.Create(busy.Window());
    TWatchedExpert duringBuild(ARig, watched,
                               [&] { return busy.Busy() && !ARig.Attached(busy.Window()); });
    PollUntil([&] { return !busy.Busy(); }, 10);
    const TTimings build = Summarise(duringBuild.Stop());
    PollUntil([&] { return ARig.Attached(busy.Window()); }, 10);
    ARig.Library().TerminalDelete(busy.Window());

    // The same chart with quiet neighbours, as long.
    const long long quietStart = CounterNow();
    TWatchedExpert quietly(ARig, watched,
                           [&] { return CounterSecondsSince(quietStart) < 1.5; });
    PollUntil([&] { return CounterSecondsSince(quietStart) >= 1.5; }, 10);
    const TTimings quiet = Summarise(quietly.Stop());

    Heading("5. Slow neighbours: one chart's exchanges, back to back, while another chart ...");
    std::printf("   %-44s %9s %9s %9s %9s\n", "us per exchange", "count", "median", "p99",
                "worst");
    const auto row = [](const char* AName, const TTimings& ATimes) {
        std::printf("   %-44s %9zu %9.1f %9.1f %9.1f\n", AName, ATimes.Count, ATimes.Median,
                    ATimes.P99, ATimes.Max);
    };
    row("... opens its link (a shell that takes 1.5 s)", link);
    row("... builds on a chart thread busy for 3 s", build);
    row("... does nothing (1.5 s)", quiet);
    std::printf("   worst exchange: %.2f ms during the link, %.2f ms during the build "
                "(goal < 5 ms), %.2f ms quietly\n",
                link.Max / 1000, build.Max / 1000, quiet.Max / 1000);
    Record("neighbours.link_worst_ms", link.Max / 1000);
    Record("neighbours.link_median_us", link.Median);
    Record("neighbours.link_count", static_cast<double>(link.Count));
    Record("neighbours.build_worst_ms", build.Max / 1000);
    Record("neighbours.build_median_us", build.Median);
    Record("neighbours.build_count", static_cast<double>(build.Count));
    Record("neighbours.quiet_worst_ms", quiet.Max / 1000);
}

// ---- 6. a soak ----------------------------------------------------------------------------------

void BenchSoak(const TRig& ARig, const std::vector<TChartPanel>& ACharts, HWND ACycling,
               const TOptions& AOptions) {
    const int threadsBefore = ThreadCount();
    const size_t heapBefore = HeapBytesInUse();
    const int gdiBefore = GdiObjectCount();
    std::atomic<bool> stop{false};
    std::atomic<long> exchanges{0};
    std::vector<std::thread> experts;
    for (const TChartPanel& chart : ACharts)
        for (int e = 0; e < 2; ++e)
            experts.emplace_back([&, chart] {
                long long next = CounterNow();
                const long long period = static_cast<long long>(
                    5000.0 / CounterMicroseconds(1000) * 1000);  // 5 ms: 200 Hz
                for (long k = 0; !stop.load(); ++k) {
                    Exchange(ARig.Library(), TWay::OursMoving, chart, k);
                    ++exchanges;
                    next += period;
                    const double wait = CounterMicroseconds(next - CounterNow()) / 1000;
                    if (wait >= 1)
                        Sleep(static_cast<DWORD>(wait));
                }
            });
    int lives = 0, mostThreads = threadsBefore;
    const long long start = CounterNow();
    while (CounterSecondsSince(start) < AOptions.SoakSeconds) {
        ARig.Create(ACycling);
        if (lives % 2 == 0)
            PollUntil([&] { return ARig.Attached(ACycling); }, 10);
        double block[ExchangeBlockSize] = {};
        ARig.Library().TerminalProcessMsg(1.1, 1.0, QuotePoint, QuoteMyPoint, QuoteDigits, block,
                                          ExchangeBlockSize, ACycling);
        ARig.Library().TerminalDelete(ACycling);
        ++lives;
        mostThreads = std::max(mostThreads, ThreadCount());
    }
    const double seconds = CounterSecondsSince(start);
    stop = true;
    for (std::thread& expert : experts)
        expert.join();
    PollUntil([&] { return ThreadCount() <= threadsBefore; }, 10);
    const int threadsAfter = ThreadCount();
    const double heapPerLife =
        (static_cast<double>(HeapBytesInUse()) - static_cast<double>(heapBefore)) / lives;
    const int gdiAfter = GdiObjectCount();
    Heading("6. A soak: 4 charts x 2 experts at 200 Hz, panels created and deleted on a fifth");
    std::printf("   %.0f s, %ld exchanges, %d panel lives; threads %d before, at most %d, %d "
                "after; heap %+.0f bytes per life; GDI objects %+d\n",
                seconds, exchanges.load(), lives, threadsBefore, mostThreads, threadsAfter,
                heapPerLife, gdiAfter - gdiBefore);
    Record("soak.seconds", seconds);
    Record("soak.lives", lives);
    Record("soak.exchanges_per_s", exchanges.load() / seconds);
    Record("soak.threads_before", threadsBefore);
    Record("soak.threads_most", mostThreads);
    Record("soak.threads_after", threadsAfter);
    Record("soak.heap_bytes_per_life", heapPerLife);
    Record("soak.gdi_objects_left", gdiAfter - gdiBefore);
}

// ---- the run ------------------------------------------------------------------------------------

const char* WineVersion() {
    using TGetVersion = const char*(CDECL*)();
    const auto get = reinterpret_cast<TGetVersion>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return get ? get() : "not Wine";
}

void Run(const TOptions& AOptions) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterPlainClass();
    std::printf("tick_bench: %s under %s\n", Utf8(AOptions.Dll).c_str(), WineVersion());
    TRig rig(AOptions.Dll);
    ParkCursor();
    std::vector<TChartPanel> charts;
    for (int i = 0; i < 4; ++i)
        charts.push_back(rig.Attach(rig.NewChart(i)));
    const HWND spareChart = rig.NewChart(4);
    ParkCursor();

    const auto wanted = [&](char ASection) {
        return AOptions.Sections.find(ASection) != std::string::npos;
    };
    if (wanted('1')) {
        BenchTickPath(rig, charts[0], AOptions);
        BenchTickParts(rig, charts[0], spareChart, AOptions);
    }
    if (wanted('2'))
        BenchManyExperts(rig, charts, AOptions);
    if (wanted('3'))
        BenchIdlePanel(rig, charts[0], AOptions);
    if (wanted('4'))
        BenchBuilding(rig, spareChart, AOptions);
    if (wanted('5'))
        BenchSlowNeighbours(rig, charts);
    if (wanted('6'))
        BenchSoak(rig, charts, spareChart, AOptions);

    for (const TChartPanel& chart : charts) {
        rig.Library().TerminalDelete(chart.Chart);
        PollUntil([&] { return !IsWindow(chart.Panel); }, 10);
    }
    WriteSummary(AOptions.Summary);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const TOptions options = ParseOptions(argc, argv);
        StartWatchdog(options.WatchdogSeconds);
        Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tick_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
