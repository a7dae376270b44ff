#include "benchwin/BenchRig.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

TQuote MovingQuote(long AStep) {
    return {SteadyQuote.Ask, 1.10400 + static_cast<double>(AStep % 50) * QuotePoint};
}

namespace {

BOOL CALLBACK CollectEdits(HWND AWindow, LPARAM AList) {
    wchar_t name[32] = {};
    if (GetClassNameW(AWindow, name, 32) && lstrcmpiW(name, L"Edit") == 0)
        reinterpret_cast<std::vector<HWND>*>(AList)->push_back(AWindow);
    return TRUE;
}

struct TFigure {
    std::string Key;
    double Value;
};
std::vector<TFigure> Figures;

} // namespace

TChartPanel TRig::Attach(HWND AChart) const {
    Create(AChart);
    if (!PollUntil([&] { return Attached(AChart); }, 10))
        throw std::runtime_error("no panel appeared on a chart within 10 s");
    TChartPanel result;
    result.Chart = AChart;
    result.Panel = static_cast<HWND>(GetPropA(AChart, ChartNames::ContainerProperty));
    result.PanelThread = GetWindowThreadProcessId(result.Panel, nullptr);
    EnumChildWindows(result.Panel, CollectEdits, reinterpret_cast<LPARAM>(&result.Fields));
    if (result.Fields.size() != 4)
        throw std::runtime_error("the panel has " + std::to_string(result.Fields.size()) +
                                 " text fields, not 4");
    return result;
}

void ParkCursor() {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
}

volatile LONG_PTR Sink = 0;

int OurExchange(const TPellithLibrary& ALibrary, const TChartPanel& AChart, const TQuote& AQuote,
                double* ABlock) {
    return ALibrary.TerminalProcessMsg(AQuote.Ask, AQuote.Bid, QuotePoint, QuoteMyPoint,
                                       QuoteDigits, ABlock, ExchangeBlockSize, AChart.Chart);
}

void Settle(const TPellithLibrary& ALibrary, const TChartPanel& AChart) {
    double block[ExchangeBlockSize] = {};
    OurExchange(ALibrary, AChart, SteadyQuote, block);
    PollUntil([&] { return !HasUpdateRegion(AChart.Panel); }, 1.0);
    Sleep(5);
}

void Record(const std::string& AKey, double AValue) {
    Figures.push_back({AKey, AValue});
}

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

void Heading(const char* AText) {
    std::printf("\n%s\n", AText);
}
