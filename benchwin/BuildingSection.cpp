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
    HWND panel = static_cast<HWND>(GetPropA(AChart, ChartNames::ContainerProperty));
    TKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(panel, nullptr)));
    ARig.Library().TerminalDelete(AChart);
    if (!PollUntil([&] { return !IsWindow(panel); }, 10))
        throw std::runtime_error("the panel window did not go within 10 s after TerminalDelete");
    if (thread)
        WaitForSingleObject(thread.Get(), 10000);
    return milliseconds;
}

} // namespace

void BenchBuilding(const TRig& ARig, HWND AChart, const TBenchOptions& AOptions) {
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
    for (int i = 0; i < 2; ++i) { // warm-up: the library loads its bitmap on the first build
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
