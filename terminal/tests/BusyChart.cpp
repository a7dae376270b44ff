#include "terminal/tests/BusyChart.h"

#include <chrono>

#include "terminal/ChartHost.h"
#include "terminal/tests/Watchdog.h"

namespace {

constexpr UINT BusyMessage = WM_APP + 7;

} // namespace

TBusyChart::TBusyChart(DWORD AStyle) : FThread([this, AStyle] { Run(AStyle); }) {
    Progress("waiting for a busy chart");
    WaitUntil([this] { return FWindow.load() != nullptr; }, std::chrono::seconds(10));
}

TBusyChart::~TBusyChart() {
    PostMessageW(FWindow.load(), WM_CLOSE, 0, 0);
    FThread.join();
}

void TBusyChart::KeepBusy(int AMilliseconds) {
    FBusy = true;
    PostMessageW(FWindow.load(), BusyMessage, static_cast<WPARAM>(AMilliseconds), 0);
}

// Runs on the window's thread.
LRESULT CALLBACK TBusyChart::Proc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == BusyMessage) {
        auto self = reinterpret_cast<TBusyChart*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
        Sleep(static_cast<DWORD>(AWParam));
        self->FBusy = false;
        return 0;
    }
    if (AMessage == WM_CLOSE) {
        DestroyWindow(AWindow);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

void TBusyChart::Run(DWORD AStyle) {
    ProgressThreadName("busy chart");
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PellithTestBusyChart";
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowExW(0, windowClass.lpszClassName, L"busy", WS_OVERLAPPEDWINDOW | AStyle, 600,
                        400, 420, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FWindow = window;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
