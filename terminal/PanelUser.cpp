#include "terminal/PanelUser.h"

#include <cstdlib>
#include <vector>

#include "controls/ChartNames.h"

namespace {

constexpr POINT FieldPlaces[4] = {{45, 33}, {45, 60}, {146, 60}, {146, 33}}; // by TPanelField
constexpr int Tolerance = 6; // pixels a control may stand off its place on other font metrics

struct TChild {
    HWND Window;
    RECT Bounds; // in panel client coordinates
    bool IsEdit;
    bool IsUpDown;
};

BOOL CALLBACK CollectChild(HWND AWindow, LPARAM AList) {
    auto& list = *reinterpret_cast<std::vector<TChild>*>(AList);
    wchar_t className[64] = {};
    GetClassNameW(AWindow, className, 64);
    RECT bounds{};
    GetWindowRect(AWindow, &bounds);
    list.push_back({AWindow, bounds, _wcsicmp(className, L"Edit") == 0,
                    _wcsicmp(className, UPDOWN_CLASSW) == 0});
    return TRUE;
}

bool Near(int a, int b) {
    return std::abs(a - b) <= Tolerance;
}

} // namespace

HWND PanelOf(HWND AChart) {
    HWND panel = static_cast<HWND>(GetPropA(AChart, ChartNames::ContainerProperty));
    return panel && IsWindow(panel) ? panel : nullptr;
}

std::optional<TPanelWindows> FindPanelWindows(HWND AChart) {
    TPanelWindows found;
    found.Panel = PanelOf(AChart);
    if (!found.Panel)
        return std::nullopt;
    std::vector<TChild> children;
    EnumChildWindows(found.Panel, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (TChild& child : children)
        MapWindowPoints(nullptr, found.Panel, reinterpret_cast<POINT*>(&child.Bounds), 2);

    for (int field = 0; field < 4; ++field) {
        for (const TChild& child : children)
            if (child.IsEdit && Near(child.Bounds.left, FieldPlaces[field].x) &&
                Near(child.Bounds.top, FieldPlaces[field].y))
                found.Fields[field] = child.Window;
        if (!found.Fields[field])
            return std::nullopt;
        RECT edit{};
        GetWindowRect(found.Fields[field], &edit);
        MapWindowPoints(nullptr, found.Panel, reinterpret_cast<POINT*>(&edit), 2);
        for (const TChild& child : children)
            if (child.IsUpDown && Near(child.Bounds.left, edit.right) &&
                Near(child.Bounds.top, edit.top))
                found.Arrows[field] = child.Window;
        if (!found.Arrows[field])
            return std::nullopt;
    }
    return found;
}

void PostClick(HWND AWindow, POINT APoint) {
    const LPARAM at = MAKELPARAM(APoint.x, APoint.y);
    PostMessageW(AWindow, WM_MOUSEMOVE, 0, at);
    PostMessageW(AWindow, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(AWindow, WM_LBUTTONUP, 0, at);
}

void PostArrowPress(HWND AUpDown, bool AUp) {
    RECT client{};
    GetClientRect(AUpDown, &client);
    const int y = AUp ? client.bottom / 4 : client.bottom * 3 / 4;
    const LPARAM at = MAKELPARAM(client.right / 2, y);
    PostMessageW(AUpDown, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(AUpDown, WM_LBUTTONUP, 0, at);
    PostMessageW(AUpDown, WM_MOUSELEAVE, 0, 0); // the pointer moves on, and the hot arrow cools
}

void PostTyping(HWND AEdit, const std::wstring& AText) {
    PostMessageW(AEdit, EM_SETSEL, 0, -1);
    for (wchar_t c : AText)
        PostMessageW(AEdit, WM_CHAR, c, 1);
}
