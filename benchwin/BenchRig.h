#pragma once
// The timing program's rig and summary: what a run is asked to do, the stand-in terminal with the
// library loaded and charts that carry panels, the library's own exchange, and the figures a run
// records for scripts/bench.
//
// Threads: main drives everything; the stand-in terminal's chart thread pumps the charts; each
// panel runs on the library's own panel thread; some sections add expert threads or the
// baselines' window threads.

#include <string>
#include <vector>

#include "benchwin/BenchTools.h"
#include "controls/ChartNames.h"
#include "controls/Exchange.h"
#include "terminal/ChartHost.h"
#include "terminal/PellithLibrary.h"

// ---- options ------------------------------------------------------------------------------------

struct TBenchOptions {
    std::wstring Dll;
    std::wstring Summary;     // where to write the figures as "key value" lines; none if empty
    int Calls = 5000;         // timed exchanges per way of exchanging
    double PacedSeconds = 10; // each run of the idle-panel section
    int PacedRate = 100;      // exchanges per second in that section
    double FloodSeconds = 2;  // each run of the many-experts section
    int Builds = 20;          // panels built per way of building
    double SoakSeconds = 60;  // the soak of section 6
    std::string Sections = "123456"; // which of the six sections to run
};

// ---- quotes -------------------------------------------------------------------------------------

struct TQuote {
    double Ask;
    double Bid;
};
inline constexpr double QuotePoint = 0.00001;
inline constexpr double QuoteMyPoint = 0.0001;
inline constexpr int QuoteDigits = 5;
inline constexpr TQuote SteadyQuote{1.10525, 1.10510};

// A new bid on every step, within fifty points under the steady ask: the bid's and the spread's
// captions change on each exchange, the ask's stays.
TQuote MovingQuote(long AStep);

// ---- the rig: a terminal, the library and charts with panels ------------------------------------

struct TChartPanel {
    HWND Chart = nullptr;
    HWND Panel = nullptr;
    DWORD PanelThread = 0;
    std::vector<HWND> Fields; // the panel's EDIT children, for the naive exchange
};

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
        FLibrary.TerminalCreate(SteadyQuote.Ask, SteadyQuote.Bid, QuotePoint, QuoteMyPoint, 0.1, 50,
                                25, 15, QuoteDigits, AChart, "EURUSD");
    }

    bool Attached(HWND AChart) const {
        return GetPropA(AChart, ChartNames::AttachedProperty) == Mark();
    }

    // Creates a panel on the chart and waits until the chart is marked.
    TChartPanel Attach(HWND AChart) const;

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
void ParkCursor();

// Results of platform calls land here so that none can be dropped as unused.
extern volatile LONG_PTR Sink;

// The library's exchange on the chart with the given quote; its result.
int OurExchange(const TPellithLibrary& ALibrary, const TChartPanel& AChart, const TQuote& AQuote,
                double* ABlock);
// Lets the panel thread paint what the last exchanges left, with the steady quote shown again.
void Settle(const TPellithLibrary& ALibrary, const TChartPanel& AChart);

// ---- the summary --------------------------------------------------------------------------------

// Keeps a figure for the summary, under a key that scripts/bench knows.
void Record(const std::string& AKey, double AValue);
// Writes the figures as "key value" lines; nothing when APath is empty.
void WriteSummary(const std::wstring& APath);
// ANumerator / ADenominator, 0 when the baseline is no positive figure.
double Ratio(double ANumerator, double ADenominator);
// A section's heading on the report.
void Heading(const char* AText);
