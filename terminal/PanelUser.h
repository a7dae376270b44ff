#pragma once
// A user at a chart's panel: finds the panel through the chart's window properties and acts on it
// with posted input, the way mouse and keyboard input arrives: presses and releases on the price
// labels (which have no windows of their own, so the panel window gets them), presses on the
// arrow buttons, and characters typed into the fields. Everything is posted to the panel thread,
// in order, and nothing waits for it.

#include <optional>
#include <string>

#include "platform/Win32.h"

enum class TPanelField { Lots, StopLoss, TakeProfit, TrailingStop };

// The panel's windows, all borrowed: they belong to the panel thread.
struct TPanelWindows {
    HWND Panel = nullptr;
    HWND Fields[4] = {}; // by TPanelField
    HWND Arrows[4] = {}; // the up-down control beside each field
    HWND Field(TPanelField AField) const { return Fields[static_cast<int>(AField)]; }
    HWND ArrowsOf(TPanelField AField) const { return Arrows[static_cast<int>(AField)]; }
};

// The panel window the chart names in "XT_Container", or null.
HWND PanelOf(HWND AChart);

// The panel's fields and arrow buttons, recognised by class and by where they stand on the panel
// (lot field at 45,33, stop-loss 45,60, trailing-stop 146,33, take-profit 146,60; the arrows
// against each field's right edge). Nothing when the chart has no panel or one is missing.
std::optional<TPanelWindows> FindPanelWindows(HWND AChart);

// Centres of the price labels in panel coordinates: the bid (sell) and the ask (buy).
inline constexpr POINT SellPricePoint{52, 125};
inline constexpr POINT BuyPricePoint{155, 125};

// A left click at a point of a window's client area: a move there, a press and a release.
void PostClick(HWND AWindow, POINT APoint);

// One press and release on the upper (up) or lower (down) arrow of an up-down control, and the
// pointer leaving it.
void PostArrowPress(HWND AUpDown, bool AUp);

// Replaces a field's text as typing does: select all, then one WM_CHAR per character.
void PostTyping(HWND AEdit, const std::wstring& AText);
