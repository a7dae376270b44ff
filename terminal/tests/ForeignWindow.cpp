#include "terminal/tests/ForeignWindow.h"

#include "terminal/tests/Watchdog.h"

namespace {

constexpr wchar_t ForeignClass[] = L"PellithTestForeignWindow";

// Fills the window with the colour kept in its user data.
LRESULT CALLBACK ForeignProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_PAINT) {
        TPaintDC paint(AWindow);
        RECT client{};
        GetClientRect(AWindow, &client);
        TBrushHandle brush(
            CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(AWindow, GWLP_USERDATA))));
        FillRect(paint.Get(), &client, brush.Get());
        return 0;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

} // namespace

TForeignWindow::TForeignWindow(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle,
                               const wchar_t* AClass, TParentClip AClip)
    : FThread([=, this] { Run(AParent, ABounds, AColour, AStyle, AClass, AClip); }) {
    Progress("waiting for a foreign window");
    WaitForSingleObject(FReady.Get(), 10000);
}

TForeignWindow::~TForeignWindow() {
    Progress("ending a foreign window's thread");
    // The thread has its queue before it says it is ready; until then, wait for it.
    WaitForSingleObject(FReady.Get(), 10000);
    if (const DWORD thread = FThreadId.load())
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
    FThread.join();
}

void TForeignWindow::Run(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle,
                         const wchar_t* AClass, TParentClip AClip) {
    ProgressThreadName("foreign window");
    Progress("creating its window");
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // gives the thread its queue
    FThreadId = GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ForeignProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = ForeignClass;
    RegisterClassW(&windowClass);
    if (AParent && AClip == TParentClip::ClipChildren)
        SetWindowLongW(AParent, GWL_STYLE, GetWindowLongW(AParent, GWL_STYLE) | WS_CLIPCHILDREN);
    const DWORD style = (AParent ? WS_CHILD : WS_OVERLAPPEDWINDOW) | WS_VISIBLE | AStyle;
    HWND window =
        CreateWindowExW(0, AClass ? AClass : ForeignClass, L"foreign", style, ABounds.left,
                        ABounds.top, ABounds.right - ABounds.left, ABounds.bottom - ABounds.top,
                        AParent, nullptr, windowClass.hInstance, nullptr);
    if (window && !AClass) {
        SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(AColour));
        InvalidateRect(window, nullptr, TRUE);
    }
    FWindow = window;
    SetEvent(FReady.Get());
    Progress("pumping messages");
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (IsWindow(window))
        DestroyWindow(window);
    Progress("ended");
}
