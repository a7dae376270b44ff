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
#include "controls/VClExt.h"
#include "data/DataXT.h"

void BenchTickPath(const TRig& ARig, const TChartPanel& AChart, const TBenchOptions& AOptions) {
    const TWay ways[] = {TWay::Floor,       TWay::NewFloor,   TWay::Ours,
                         TWay::FloorMoving, TWay::OursMoving, TWay::Naive};
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
        std::printf("   %-40s %9.1f %9.1f %9.1f %8.2fx\n", WayName(ways[w]), t[w].Median, t[w].P99,
                    t[w].Mean, Ratio(t[w].Median, t[Floor].Median));
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
                    const TBenchOptions& AOptions) {
    struct TPart {
        const char* Name;
        int Batch; // calls per sample: pure code is too quick for one reading of the counter
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
    parts.push_back({"GetPropA (chart)",
                     1,
                     [&] {
                         Sink = Sink + reinterpret_cast<LONG_PTR>(
                                           GetPropA(AChart.Chart, ChartNames::ContainerProperty));
                     },
                     {}});
    parts.push_back({"ShowWindow SW_SHOWNORMAL (cross-thread)",
                     1,
                     [&] { Sink = Sink + ShowWindow(AChart.Panel, SW_SHOWNORMAL); },
                     {}});
    parts.push_back(
        {"GetCursorPos + ClientToScreen", 1, [&] { ReadCursorInClient(AChart.Panel); }, {}});
    parts.push_back({"GetWindowTextW of a field (cross-thread)",
                     1,
                     [&] {
                         wchar_t text[64];
                         Sink = Sink + GetWindowTextW(AChart.Fields[0], text, 64);
                     },
                     {}});
    parts.push_back({"InvalidateRect of a price label (cross-thread)",
                     1,
                     [&] { Sink = Sink + InvalidateRect(AChart.Panel, &BidLabelBox, FALSE); },
                     {}});
    parts.push_back({"repaint bid + spread labels, waited: panel",
                     1,
                     [&] {
                         Sink = Sink + RedrawWindow(AChart.Panel, nullptr, labels.Get(),
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"the same on a plain window (erase only)",
                     1,
                     [&] {
                         Sink = Sink + RedrawWindow(plainWindow, nullptr, labels.Get(),
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"repaint the whole panel, waited",
                     1,
                     [&] {
                         Sink = Sink + RedrawWindow(AChart.Panel, nullptr, nullptr,
                                                    RDW_INVALIDATE | RDW_UPDATENOW);
                     },
                     {}});
    parts.push_back({"TerminalProcessMsg, chart without panel",
                     1,
                     [&] {
                         double block[ExchangeBlockSize];
                         Sink =
                             Sink + ARig.Library().TerminalProcessMsg(
                                        SteadyQuote.Ask, SteadyQuote.Bid, QuotePoint, QuoteMyPoint,
                                        QuoteDigits, block, ExchangeBlockSize, ABareChart);
                     },
                     {}});
    parts.push_back({"snapshot: TTerminalData (in process)",
                     100,
                     [&] {
                         const TTerminalData data(nullptr, nullptr, SteadyQuote.Ask,
                                                  SteadyQuote.Bid, QuotePoint, QuoteMyPoint, 0, 0,
                                                  0, 0, QuoteDigits);
                         Sink = Sink + static_cast<LONG_PTR>(data.Spread().size());
                     },
                     {}});
    parts.push_back({"4 x TryParseFloat (in process)",
                     100,
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
    const char* keys[] = {"part.iswindow_us",
                          "part.getprop_us",
                          "part.showwindow_us",
                          "part.cursor_us",
                          "part.getwindowtext_us",
                          "part.invalidate_us",
                          "part.repaint_panel_us",
                          "part.repaint_plain_us",
                          "part.repaint_whole_panel_us",
                          "part.exchange_without_panel_us",
                          "part.snapshot_us",
                          "part.parse4_us"};
    for (std::size_t i = 0; i < median.size() && i < std::size(keys); ++i)
        Record(keys[i], median[i]);
    Record("part.floor_model_us", floorModel);
    Record("part.repaint_panel_over_plain", Ratio(median[6], median[7]));
}
