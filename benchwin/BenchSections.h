#pragma once
// The sections of the timing program, each a set of figures against a baseline measured in the
// same run, printed and recorded for the summary.

#include <vector>

#include "benchwin/BenchRig.h"

// 1. One exchange against the platform calls it cannot avoid and a naive exchange, and the parts
// it is made of (ABareChart: a chart without a panel).
void BenchTickPath(const TRig& ARig, const TChartPanel& AChart, const TBenchOptions& AOptions);
void BenchTickParts(const TRig& ARig, const TChartPanel& AChart, HWND ABareChart,
                    const TBenchOptions& AOptions);
// 2. Many experts at once.
void BenchManyExperts(const TRig& ARig, const std::vector<TChartPanel>& ACharts,
                      const TBenchOptions& AOptions);
// 3. An idle panel's paints and CPU time.
void BenchIdlePanel(const TRig& ARig, const TChartPanel& AChart, const TBenchOptions& AOptions);
// 4. Building a panel (AChart: a chart without a panel).
void BenchBuilding(const TRig& ARig, HWND AChart, const TBenchOptions& AOptions);
// 5. Slow neighbours: a chart's exchanges while other panels are busy.
void BenchSlowNeighbours(const TRig& ARig, const std::vector<TChartPanel>& ACharts);
// 6. A soak (ACycling: a chart whose panel is created and deleted in a loop).
void BenchSoak(const TRig& ARig, const std::vector<TChartPanel>& ACharts, HWND ACycling,
               const TBenchOptions& AOptions);
