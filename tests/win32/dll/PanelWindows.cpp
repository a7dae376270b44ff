#include "tests/win32/dll/PanelWindows.h"

bool HasClass(HWND AWindow, const wchar_t* AClass) {
    wchar_t name[64] = {};
    return GetClassNameW(AWindow, name, 64) && lstrcmpiW(name, AClass) == 0;
}

std::vector<HWND> PanelChildren(HWND AChart) {
    std::vector<HWND> panels;
    for (HWND child = GetWindow(AChart, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (HasClass(child, PanelClass))
            panels.push_back(child);
    return panels;
}

namespace {

BOOL CALLBACK CollectPanels(HWND AWindow, LPARAM AList) {
    // Other programs on the same display server have panels of their own.
    DWORD process = 0;
    GetWindowThreadProcessId(AWindow, &process);
    if (process == GetCurrentProcessId() && HasClass(AWindow, PanelClass))
        reinterpret_cast<std::vector<HWND>*>(AList)->push_back(AWindow);
    return TRUE;
}

BOOL CALLBACK CollectPanelsAtAnyDepth(HWND AWindow, LPARAM AList) {
    CollectPanels(AWindow, AList);
    // EnumChildWindows walks every descendant.
    EnumChildWindows(AWindow, CollectPanels, AList);
    return TRUE;
}

} // namespace

std::vector<HWND> AllPanelWindows() {
    std::vector<HWND> panels;
    EnumWindows(CollectPanelsAtAnyDepth, reinterpret_cast<LPARAM>(&panels));
    // Message-only windows are not top-level windows of the desktop; walk them too.
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))
        CollectPanelsAtAnyDepth(window, reinterpret_cast<LPARAM>(&panels));
    return panels;
}

RECT RectInParent(HWND AWindow) {
    RECT rect{};
    GetWindowRect(AWindow, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(AWindow), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}
