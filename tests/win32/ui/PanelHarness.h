#pragma once
// A stand-in chart on a thread that pumps messages, and a panel built on a thread of its own
// as the library builds one; the test's own thread plays the host's thread.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/ControlXT.h"
#include "controls/VClExt.h"
#include "terminal/Pixels.h"

// A thread with a message loop that also runs tasks handed to it, through a message-only
// window so that tasks are served in any message loop the thread may be in.
class TTestThread {
public:
    // Starts the thread and waits until it pumps; throws std::runtime_error when it does not
    // within Deadline. AName (a literal) names it on the watchdog's progress board.
    explicit TTestThread(const char* AName);
    // Ends the thread; a thread that does not end within Deadline fails the test.
    ~TTestThread();
    TTestThread(const TTestThread&) = delete;
    TTestThread& operator=(const TTestThread&) = delete;

    // Runs ATask on the thread and waits for it; also a barrier behind every message posted
    // to the thread's windows before it. Rethrows what ATask threw; throws std::runtime_error
    // when the thread has not run it within Deadline.
    void Run(std::function<void()> ATask);
    DWORD Id() const { return FThreadId; }

    static constexpr std::chrono::milliseconds Deadline{30000};

private:
    struct TTask;

    static DWORD WINAPI ThreadProc(LPVOID AThis);
    static LRESULT CALLBACK TaskWindowProc(HWND, UINT, WPARAM, LPARAM);

    const char* FName;
    TKernelHandle FThread;
    TKernelHandle FReady;
    DWORD FThreadId = 0;
    HWND FTaskWindow = nullptr;
};

// The panel's picture: 24-bit, 198 x 50, from the module's resource.
const TBitmapXT& TestPanelBitmap();

class TPanelHarness {
public:
    // A chart window at (AChartLeft, AChartTop) on the screen with a panel laid out from the
    // snapshot's values, as the library builds it.
    explicit TPanelHarness(const TTerminalData& AData, int AChartLeft = 0, int AChartTop = 0);
    ~TPanelHarness();

    TPanelXT& Panel() { return *FPanel; }
    HWND PanelWindow() const { return FPanel->Handle(); }
    HWND Chart() const { return FChart; }
    TTestThread& PanelThread() { return FPanelThread; }

    // Waits until the panel thread has handled everything posted so far and painted.
    void Settle();
    // A left click at panel client coordinates, as posted mouse messages.
    void Click(int X, int Y);
    void ClickCentreOf(const TControl& AControl);
    void MoveMouse(int X, int Y);
    // One press of a field's up or down arrow.
    void PressArrow(const TEditXT& AField, TUDBtnType AButton);
    // Replaces a field's text by typing it.
    void Type(const TEditXT& AField, const std::wstring& AText);
    // The panel's pixels as its window shows them, row by row, 0x00RRGGBB.
    TPixels Capture();

private:
    TTestThread FChartThread{"chart"};
    TTestThread FPanelThread{"panel"};
    HWND FChart = nullptr;
    std::unique_ptr<TPanelXT> FPanel;
};

// A colour as the screen capture holds it: 0x00RRGGBB.
inline COLORREF ToRgb(COLORREF AColor) {
    return (GetRValue(AColor) << 16) | (GetGValue(AColor) << 8) | GetBValue(AColor);
}

// A bitmap's pixels, top row first, 0x00RRGGBB.
std::vector<COLORREF> PixelsOf(const TBitmap& ABitmap);
