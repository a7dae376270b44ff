#pragma once
// A top-level window on a thread of its own that stands for a chart whose thread stops pumping
// for a while, as a terminal's chart thread busy with its own work does. For the tests and the
// timing program.

#include <atomic>
#include <thread>

#include "platform/Win32.h"

class TBusyChart {
public:
    // Starts the window's thread and waits up to 10 s for the window. AStyle is added to
    // WS_OVERLAPPEDWINDOW: WS_VISIBLE shows it, at 600,400.
    explicit TBusyChart(DWORD AStyle = WS_VISIBLE);
    // Closes the window, which ends its thread.
    ~TBusyChart();
    TBusyChart(const TBusyChart&) = delete;
    TBusyChart& operator=(const TBusyChart&) = delete;

    // The window (borrowed); null when it could not be made in time.
    HWND Window() const { return FWindow.load(); }
    // Keeps the chart's thread busy for AMilliseconds from its next message on.
    void KeepBusy(int AMilliseconds);
    // True from KeepBusy until the thread is free again.
    bool Busy() const { return FBusy.load(); }

private:
    static LRESULT CALLBACK Proc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
    void Run(DWORD AStyle);

    std::atomic<HWND> FWindow{nullptr};
    std::atomic<bool> FBusy{false};
    std::thread FThread;
};
