// The timing program of Pellith.dll as the terminal drives it, run under Wine: one exchange
// against the platform calls it cannot avoid and against a naive exchange, four experts at once,
// an idle panel's paints and CPU time, and building a panel. Every figure is a ratio against a
// baseline measured in the same run, because absolute times under Wine say little.
//
// Options (--name=value): --dll=PATH (required), --summary=FILE, --calls=N, --paced-seconds=S,
// --flood-seconds=S, --builds=N, --soak-seconds=S, --sections=123456, and --quick for a short run.

#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Win32.h"

#include "benchwin/Baselines.h"
#include "benchwin/BenchRig.h"
#include "benchwin/BenchSections.h"
#include "terminal/CommandLine.h"
#include "terminal/tests/Watchdog.h"

namespace {

// How long one section may run before the watchdog stops the program (the soak adds its own
// length): a stuck library shows as a failed run that says where each thread stood.
constexpr int SectionDeadlineSeconds = 900;

TBenchOptions ReadOptions(int argc, char** argv) {
    const TCommandLine line(argc, argv);
    const std::vector<std::string> unknown =
        line.Unknown({"dll", "summary", "calls", "paced-seconds", "flood-seconds", "builds",
                      "soak-seconds", "sections", "quick"});
    if (!unknown.empty())
        throw std::invalid_argument("unknown argument " + unknown.front() +
                                    " (use --dll=PATH [--summary=FILE] [--calls=N] "
                                    "[--paced-seconds=S] [--flood-seconds=S] [--builds=N] "
                                    "[--soak-seconds=S] [--sections=123456] [--quick])");
    TBenchOptions options;
    if (line.Has("quick")) {
        options.Calls = 1000;
        options.PacedSeconds = 2;
        options.FloodSeconds = 0.5;
        options.Builds = 5;
        options.SoakSeconds = 10;
    }
    options.Dll = line.Text("dll");
    options.Summary = line.Text("summary");
    options.Calls = line.Integer("calls", options.Calls, 100, 10000000);
    options.PacedSeconds = line.Number("paced-seconds", options.PacedSeconds, 1, 3600);
    options.FloodSeconds = line.Number("flood-seconds", options.FloodSeconds, 0.2, 3600);
    options.Builds = line.Integer("builds", options.Builds, 3, 100000);
    options.SoakSeconds = line.Number("soak-seconds", options.SoakSeconds, 2, 24 * 3600);
    if (line.Has("sections"))
        options.Sections = Utf8(line.Text("sections"));
    if (options.Dll.empty())
        throw std::invalid_argument("pass --dll=<path of Pellith.dll>");
    return options;
}

const char* WineVersion() {
    using TGetVersion = const char*(CDECL*)();
    const auto get = reinterpret_cast<TGetVersion>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return get ? get() : "not Wine";
}

void Run(const TBenchOptions& AOptions) {
    ArmWatchdog(std::chrono::seconds(SectionDeadlineSeconds), "setting up the charts");
    Progress("setting up the charts");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterPlainClass();
#ifdef _WIN64
    const char* architecture = "x64";
#else
    const char* architecture = "i686";
#endif
    std::printf("tick_bench (%s): %s under Wine %s\n", architecture, Utf8(AOptions.Dll).c_str(),
                WineVersion());
    TRig rig(AOptions.Dll);
    ParkCursor();
    std::vector<TChartPanel> charts;
    for (int i = 0; i < 4; ++i)
        charts.push_back(rig.Attach(rig.NewChart(i)));
    const HWND spareChart = rig.NewChart(4);
    ParkCursor();

    // Each section must be over within its own deadline; the watchdog names the one that hangs.
    const auto section = [&](char ASection, const char* AName, const std::function<void()>& ABody) {
        if (AOptions.Sections.find(ASection) == std::string::npos)
            return;
        const auto soak = ASection == '6' ? static_cast<int>(AOptions.SoakSeconds) : 0;
        ArmWatchdog(std::chrono::seconds(SectionDeadlineSeconds + soak), AName);
        Progress(AName);
        ABody();
    };
    section('1', "section 1: the tick path", [&] {
        BenchTickPath(rig, charts[0], AOptions);
        BenchTickParts(rig, charts[0], spareChart, AOptions);
    });
    section('2', "section 2: many experts", [&] { BenchManyExperts(rig, charts, AOptions); });
    section('3', "section 3: an idle panel", [&] { BenchIdlePanel(rig, charts[0], AOptions); });
    section('4', "section 4: building a panel", [&] { BenchBuilding(rig, spareChart, AOptions); });
    section('5', "section 5: slow neighbours", [&] { BenchSlowNeighbours(rig, charts); });
    section('6', "section 6: a soak", [&] { BenchSoak(rig, charts, spareChart, AOptions); });

    ArmWatchdog(std::chrono::seconds(SectionDeadlineSeconds), "deleting the panels");
    Progress("deleting the panels");
    for (const TChartPanel& chart : charts) {
        rig.Library().TerminalDelete(chart.Chart);
        PollUntil([&] { return !IsWindow(chart.Panel); }, 10);
    }
    WriteSummary(AOptions.Summary);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const TBenchOptions options = ReadOptions(argc, argv);
        StartWatchdog();
        ProgressThreadName("main");
        Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tick_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
