#include "benchwin/Baselines.h"

#include <algorithm>
#include <string_view>

#include "controls/VClExt.h"

namespace {

// The chart's mark and its panel, found as the library finds them, and the panel shown (when
// AShow): the calls that every exchange was once made to make. Yields the panel, or null when
// the chart has none.
HWND FindAndShowPanel(HWND AChart, bool AShow = true) {
    if (!IsWindow(AChart) || !GetPropA(AChart, ChartNames::AttachedProperty))
        return nullptr;
    HWND panel = static_cast<HWND>(GetPropA(AChart, ChartNames::ContainerProperty));
    if (!IsWindow(panel))
        return nullptr;
    if (AShow)
        ShowWindow(panel, SW_SHOWNORMAL); // a send to the panel thread
    if (!GetPropA(panel, ChartNames::ContainerProperty))
        return nullptr;
    return panel;
}

void FloorExchange(const TChartPanel& AChart, bool AShow = true) {
    if (HWND panel = FindAndShowPanel(AChart.Chart, AShow))
        ReadCursorInClient(panel);
}

// The floor when a new bid changes two captions: the two labels must be repainted, which the
// panel thread then does in its own time.
void FloorMovingExchange(const TChartPanel& AChart) {
    HWND panel = FindAndShowPanel(AChart.Chart);
    if (!panel)
        return;
    ReadCursorInClient(panel);
    InvalidateRect(panel, &BidLabelBox, FALSE);
    InvalidateRect(panel, &SpreadLabelBox, FALSE);
}

// What an exchange costs done the obvious way: each field's text asked of the panel thread, and
// the cursor read for each of the three labels.
void NaiveExchange(const TChartPanel& AChart, double* ABlock) {
    HWND panel = FindAndShowPanel(AChart.Chart);
    if (!panel)
        return;
    for (int label = 0; label < 3; ++label)
        ReadCursorInClient(panel);
    for (std::size_t i = 0; i < AChart.Fields.size() && i < 4; ++i) {
        wchar_t text[64] = {};
        const int length = GetWindowTextW(AChart.Fields[i], text, 64); // a send, too
        TryParseFloat(std::wstring_view(text, static_cast<std::size_t>(std::max(length, 0))),
                      ABlock[i]);
    }
}

} // namespace

void ReadCursorInClient(HWND APanel) {
    POINT cursor{}, origin{0, 0};
    GetCursorPos(&cursor);
    ClientToScreen(APanel, &origin);
    Sink = Sink + cursor.x - origin.x;
}

const char* WayName(TWay AWay) {
    switch (AWay) {
    case TWay::Ours:
        return "ours, unchanged prices";
    case TWay::OursMoving:
        return "ours, a new bid each tick";
    case TWay::Floor:
        return "old floor: mandated calls, show incl.";
    case TWay::NewFloor:
        return "new floor: the same without the show";
    case TWay::FloorMoving:
        return "floor + invalidating two labels";
    case TWay::Naive:
        return "naive: 4 x GetWindowTextW, 3 cursors";
    }
    return "?";
}

void Exchange(const TPellithLibrary& ALibrary, TWay AWay, const TChartPanel& AChart, long AStep) {
    double block[ExchangeBlockSize] = {};
    switch (AWay) {
    case TWay::Ours:
        Sink = Sink + OurExchange(ALibrary, AChart, SteadyQuote, block);
        break;
    case TWay::OursMoving:
        Sink = Sink + OurExchange(ALibrary, AChart, MovingQuote(AStep), block);
        break;
    case TWay::Floor:
        FloorExchange(AChart);
        break;
    case TWay::NewFloor:
        FloorExchange(AChart, false);
        break;
    case TWay::FloorMoving:
        FloorMovingExchange(AChart);
        break;
    case TWay::Naive:
        NaiveExchange(AChart, block);
        break;
    }
    Sink = Sink + static_cast<LONG_PTR>(block[0]);
}

void RegisterPlainClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW; // paints by erasing with the class brush
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = PlainClassName;
    RegisterClassExW(&windowClass);
}
