#pragma once
// The panel seen from outside, as the tests find it: its window class, the chart's properties
// that lead to it (the tests' one spelling of their names), its price labels, and the windows
// of its class wherever they are.

#include <vector>

#include "controls/ChartNames.h"
#include "controls/Exchange.h"
#include "platform/Win32.h"
#include "terminal/PanelUser.h"

inline constexpr wchar_t PanelClass[] = L"PellithPanel";
using ChartNames::AttachedProperty;
using ChartNames::ContainerProperty;

// The price labels, in the panel's client coordinates.
enum class TSide { Sell, Buy };
inline POINT LabelPoint(TSide ASide) {
    return ASide == TSide::Sell ? SellPricePoint : BuyPricePoint;
}
inline int ResultOf(TSide ASide) {
    return ASide == TSide::Buy ? erBuy : erSell;
}

// Whether a window's class is `AClass`.
bool HasClass(HWND AWindow, const wchar_t* AClass);
// The chart's direct child windows of the panel's class, in z-order (top first).
std::vector<HWND> PanelChildren(HWND AChart);
// Every window of the panel's class in this process, top-level or nested at any depth.
std::vector<HWND> AllPanelWindows();
// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND AWindow);
