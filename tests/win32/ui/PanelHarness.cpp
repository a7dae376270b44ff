#include "PanelHarness.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

#include "resources/ResourceIds.h"
#include "terminal/ChartHost.h"
#include "terminal/WindowCapture.h"
#include "terminal/tests/Watchdog.h"

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

struct TTestThread::TTask {
    std::function<void()> Work;
    TKernelHandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::exception_ptr Error;
};

TTestThread::TTestThread(const char* AName) : FName(AName) {
    FReady.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    FThread.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, &FThreadId));
    if (!FReady || !FThread)
        throw std::runtime_error(std::string("cannot start the ") + AName + " thread");
    if (WaitForSingleObject(FReady.Get(), static_cast<DWORD>(Deadline.count())) != WAIT_OBJECT_0)
        throw std::runtime_error(std::string("the ") + AName + " thread did not start");
}

TTestThread::~TTestThread() {
    try {
        Run([] { PostQuitMessage(0); });
    } catch (const std::exception& error) {
        ADD_FAILURE() << "ending the " << FName << " thread: " << error.what();
        return; // the thread is left behind; it owns nothing of this object's
    }
    if (WaitForSingleObject(FThread.Get(), static_cast<DWORD>(Deadline.count())) != WAIT_OBJECT_0)
        ADD_FAILURE() << "the " << FName << " thread did not end";
}

DWORD WINAPI TTestThread::ThreadProc(LPVOID AThis) {
    auto self = static_cast<TTestThread*>(AThis);
    ProgressThreadName(self->FName);
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
    Progress("pumping messages");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(self->FTaskWindow);
    Progress("ended");
    return 0;
}

LRESULT CALLBACK TTestThread::TaskWindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                             LPARAM ALParam) {
    if (AMessage == RunTaskMessage) {
        // Shared with the caller, so a task that ends after the caller gave up touches nothing
        // that is gone.
        const std::unique_ptr<std::shared_ptr<TTask>> posted(
            reinterpret_cast<std::shared_ptr<TTask>*>(ALParam));
        TTask& task = **posted;
        Progress("running a task");
        try {
            task.Work();
        } catch (...) {
            task.Error = std::current_exception();
        }
        Progress("pumping messages");
        SetEvent(task.Done.Get());
        return 0;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

void TTestThread::Run(std::function<void()> ATask) {
    auto task = std::make_shared<TTask>();
    task->Work = std::move(ATask);
    auto posted = std::make_unique<std::shared_ptr<TTask>>(task);
    if (!task->Done ||
        !PostMessageW(FTaskWindow, RunTaskMessage, 0, reinterpret_cast<LPARAM>(posted.get())))
        throw std::runtime_error(std::string("cannot hand a task to the ") + FName + " thread");
    posted.release(); // the task window takes it
    Progress("waiting for a task on another thread");
    if (!WaitHandlingSentMessages(task->Done.Get(), Deadline))
        throw std::runtime_error(std::string("the ") + FName +
                                 " thread did not run its task within the deadline");
    Progress("back from a task on another thread");
    if (task->Error)
        std::rethrow_exception(task->Error);
}

const TBitmapXT& TestPanelBitmap() {
    static const auto bitmap = [] {
        auto result = std::make_unique<TBitmapXT>();
        if (!result->LoadFromResourceID(GetModuleHandleW(nullptr), PELLITH_PANEL_BITMAP))
            throw std::runtime_error("the panel's bitmap resource is missing");
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
        if (!FChart)
            throw std::runtime_error("cannot create the chart window");
    });
    const TBitmapXT& bitmap = TestPanelBitmap();
    FPanelThread.Run([&] {
        FPanel = std::make_unique<TPanelXT>();
        FPanel->Build(FChart, AData, bitmap);
    });
    Settle();
}

TPanelHarness::~TPanelHarness() {
    try {
        FPanelThread.Run([&] { FPanel.reset(); });
        FChartThread.Run([&] { DestroyWindow(FChart); });
    } catch (const std::exception& error) {
        ADD_FAILURE() << "taking the panel down: " << error.what();
    }
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

TPixels TPanelHarness::Capture() {
    Settle();
    TPixels pixels = CaptureWindowPixels(PanelWindow());
    if (pixels.Width != FPanel->Width() || pixels.Height != FPanel->Height())
        throw std::runtime_error("the panel's window could not be read");
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
