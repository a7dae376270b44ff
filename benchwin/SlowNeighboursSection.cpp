#include "benchwin/BenchSections.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "benchwin/Baselines.h"
#include "terminal/PanelUser.h"
#include "terminal/tests/BusyChart.h"
#include "terminal/tests/ImportPatch.h"

namespace {

// The shell as a browser that takes 1.5 s to start.
std::atomic<bool> ShellBusy{false};
HINSTANCE WINAPI SlowShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ShellBusy = true;
    Sleep(1500);
    ShellBusy = false;
    return reinterpret_cast<HINSTANCE>(42);
}

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

} // namespace

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
    TBusyChart busy(0); // hidden: it must cover none of the rig's charts
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
    TWatchedExpert quietly(ARig, watched, [&] { return CounterSecondsSince(quietStart) < 1.5; });
    PollUntil([&] { return CounterSecondsSince(quietStart) >= 1.5; }, 10);
    const TTimings quiet = Summarise(quietly.Stop());

    Heading("5. Slow neighbours: one chart's exchanges, back to back, while another chart ...");
    std::printf("   %-44s %9s %9s %9s %9s\n", "us per exchange", "count", "median", "p99", "worst");
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
