#include "PanelHarness.h"

#include <stdexcept>

#include "resources/ResourceIds.h"

namespace {

const UINT RunTaskMessage = WM_APP + 1;

LRESULT CALLBACK ChartWindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_ERASEBKGND) {
        RECT client;
        GetClientRect(AWindow, &client);
        FillRect(reinterpret_cast<HDC>(AWParam), &client,
                 static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return 1;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

} // namespace

TTestThread::TTestThread() {
    FReady.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    FThread.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, &FThreadId));
    if (!FThread)
        throw std::runtime_error("test thread");
    WaitForSingleObject(FReady.Get(), INFINITE);
}

TTestThread::~TTestThread() {
    Run([] { PostQuitMessage(0); });
    WaitForSingleObject(FThread.Get(), INFINITE);
}

DWORD WINAPI TTestThread::ThreadProc(LPVOID AThis) {
    auto self = static_cast<TTestThread*>(AThis);
    static const ATOM taskClass = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = TaskWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PellithTestTasks";
        return RegisterClassW(&windowClass);
    }();
    (void)taskClass;
    self->FTaskWindow = CreateWindowW(L"PellithTestTasks", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, GetModuleHandleW(nullptr), nullptr);
    SetEvent(self->FReady.Get());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(self->FTaskWindow);
    return 0;
}

LRESULT CALLBACK TTestThread::TaskWindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                             LPARAM ALParam) {
    if (AMessage == RunTaskMessage) {
        (*reinterpret_cast<const std::function<void()>*>(AWParam))();
        SetEvent(reinterpret_cast<HANDLE>(ALParam));
        return 0;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

void TTestThread::Run(const std::function<void()>& ATask) {
    TKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    PostMessageW(FTaskWindow, RunTaskMessage, reinterpret_cast<WPARAM>(&ATask),
                 reinterpret_cast<LPARAM>(done.Get()));
    WaitForSingleObject(done.Get(), INFINITE);
}

const TBitmapXT& TestPanelBitmap() {
    static const auto bitmap = [] {
        auto result = std::make_unique<TBitmapXT>();
        result->LoadFromResourceID(GetModuleHandleW(nullptr), PELLITH_PANEL_BITMAP);
        return result;
    }();
    return *bitmap;
}

TPanelHarness::TPanelHarness(const TTerminalData& AData, int AChartLeft, int AChartTop) {
    FChartThread.Run([&] {
        static const ATOM chartClass = [] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = ChartWindowProc;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.lpszClassName = L"PellithTestChart";
            return RegisterClassW(&windowClass);
        }();
        (void)chartClass;
        FChart = CreateWindowExW(0, L"PellithTestChart", L"chart", WS_POPUP | WS_VISIBLE,
                                 AChartLeft, AChartTop, 300, 220, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    });
    const TBitmapXT& bitmap = TestPanelBitmap();
    FPanelThread.Run([&] {
        FPanel = std::make_unique<TPanelXT>();
        FPanel->Build(FChart, AData, bitmap);
    });
    Settle();
}

TPanelHarness::~TPanelHarness() {
    FPanelThread.Run([&] { FPanel.reset(); });
    FChartThread.Run([&] { DestroyWindow(FChart); });
}

void TPanelHarness::Settle() {
    FChartThread.Run([&] { UpdateWindow(FChart); });
    FPanelThread.Run([&] {
        MSG message;
        // Paint everything that is invalid now, children included.
        RedrawWindow(FPanel->Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageW(&message);
    });
}

void TPanelHarness::Click(int X, int Y) {
    PostMessageW(PanelWindow(), WM_MOUSEMOVE, 0, MAKELPARAM(X, Y));
    PostMessageW(PanelWindow(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(X, Y));
    PostMessageW(PanelWindow(), WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
    Settle();
}

void TPanelHarness::ClickCentreOf(const TControl& AControl) {
    Click(AControl.Left() + AControl.Width() / 2, AControl.Top() + AControl.Height() / 2);
}

void TPanelHarness::MoveMouse(int X, int Y) {
    PostMessageW(PanelWindow(), WM_MOUSEMOVE, 0, MAKELPARAM(X, Y));
    Settle();
}

void TPanelHarness::PressArrow(const TEditXT& AField, TUDBtnType AButton) {
    const TUpDown& arrows = *AField.UpDown();
    const int x = arrows.Width() / 2;
    const int y = AButton == TUDBtnType::btNext ? arrows.Height() / 4 : arrows.Height() * 3 / 4;
    PostMessageW(arrows.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(arrows.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Settle();
}

void TPanelHarness::Type(const TEditXT& AField, const std::wstring& AText) {
    PostMessageW(AField.Handle(), EM_SETSEL, 0, -1);
    PostMessageW(AField.Handle(), WM_CHAR, VK_BACK, 0);
    for (wchar_t character : AText)
        PostMessageW(AField.Handle(), WM_CHAR, character, 0);
    Settle();
}

std::vector<COLORREF> TPanelHarness::Capture() {
    Settle();
    RECT box;
    GetWindowRect(PanelWindow(), &box);
    const int width = box.right - box.left, height = box.bottom - box.top;
    std::vector<COLORREF> pixels(static_cast<size_t>(width) * height);
    TClientDC screen(nullptr);
    TMemoryDC memory(CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TBitmapHandle surface(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        TSelectObject select(memory.Get(), surface.Get());
        BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), box.left, box.top, SRCCOPY);
    }
    GdiFlush();
    const auto* source = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = source[i] & 0xFFFFFF;
    return pixels;
}

std::vector<COLORREF> PixelsOf(const TBitmap& ABitmap) {
    const int width = ABitmap.Width(), height = ABitmap.Height();
    std::vector<COLORREF> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    TClientDC screen(nullptr);
    GetDIBits(screen.Get(), ABitmap.Handle(), 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (COLORREF& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}
