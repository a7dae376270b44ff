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
#include "terminal/tests/ProcessCounts.h"

void BenchSoak(const TRig& ARig, const std::vector<TChartPanel>& ACharts, HWND ACycling,
               const TBenchOptions& AOptions) {
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
                const long long period = static_cast<long long>(5000.0 / CounterMicroseconds(1000) *
                                                                1000); // 5 ms: 200 Hz
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
