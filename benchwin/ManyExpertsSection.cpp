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
    Sleep(50); // every expert is waiting for the start
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

} // namespace

void BenchManyExperts(const TRig& ARig, const std::vector<TChartPanel>& ACharts,
                      const TBenchOptions& AOptions) {
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
