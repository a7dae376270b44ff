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

namespace {

struct TPacedRun {
    long Exchanges = 0;
    long Paints = 0;
    long long Pixels = 0;
    double PanelCpuPercent = 0;
    double ExpertCpuPercent = 0;
    TTimings Exchange; // microseconds per exchange
};

// Exchanges at a steady rate for a while (none when AWay is null), counting the panel's paints
// and the CPU time of its thread from just after the first exchange.
TPacedRun RunPaced(const TRig& ARig, const TChartPanel& AChart, const TWay* AWay,
                   TPaintWatch& AWatch, const TBenchOptions& AOptions) {
    Settle(ARig.Library(), AChart); // the first exchange: the steady quote, then its paint
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

} // namespace

void BenchIdlePanel(const TRig& ARig, const TChartPanel& AChart, const TBenchOptions& AOptions) {
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
    std::printf("   panel client area %ld px; CPU time comes in 10 ms ticks\n", panelPixels);
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
