#pragma once
// Chart windows as the terminal has them: child windows of one terminal window, all of them
// owned by one dedicated thread that does nothing but pump messages, so that a panel built on
// another thread as a chart's child never waits in vain for the chart's thread. Other threads
// create and destroy charts by posting a request to that thread and waiting for it to be done; the
// chart thread itself never waits for anyone, and nothing here sends a message across threads.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controls/ChartNames.h"
#include "platform/Win32.h"

// A horizontal line across the chart: an open position, its stop or its target.
struct TChartLevel {
    double Price = 0;
    COLORREF Colour = RGB(255, 255, 255);
    std::wstring Label;
};

// What a chart shows. The caller supplies it; the chart thread paints it.
struct TChartPicture {
    std::vector<double> Bids; // oldest first; the newest is drawn at the right edge
    double Spread = 0;        // the ask is drawn as a line at the newest bid plus the spread
    int Digits = 5;           // decimals on the price scale
    std::vector<TChartLevel> Levels;
    std::vector<std::wstring> Notes; // text lines at the bottom left, above each other
};

// Where a chart window goes in the terminal window's client area and what its caption says.
struct TChartOptions {
    std::wstring Title;
    int Left = 0;
    int Top = 0;
    int ClientWidth = 480;
    int ClientHeight = 360;
};

// The terminal window that holds the charts. Charts are its children, as in the real terminal;
// that also spares each chart the seconds Wine waits for a window manager when a top-level
// window goes away under a bare X server.
struct TTerminalOptions {
    std::wstring Title = L"Pellith stand-in terminal";
    int Left = 0;
    int Top = 0;
    int ClientWidth = 1000;
    int ClientHeight = 700;
};

// One post of the terminal's registered message, as the chart received it.
struct TRegisteredPost {
    WPARAM WParam;
    LPARAM LParam;
};

// The colours a chart paints with, for the checks that look at its pixels.
inline constexpr COLORREF ChartBackground = RGB(0, 0, 0);
inline constexpr COLORREF ChartPriceLine = RGB(0, 200, 0);
inline constexpr COLORREF ChartAskLine = RGB(255, 64, 64);

class TChartHost {
public:
    // Starts the chart thread, which shows the terminal window, and waits until it pumps; throws
    // std::runtime_error on failure.
    explicit TChartHost(const TTerminalOptions& AOptions = {});
    // Destroys the charts that are left and the terminal window, and ends the chart thread.
    ~TChartHost();

    TChartHost(const TChartHost&) = delete;
    TChartHost& operator=(const TChartHost&) = delete;

    // Creates a visible chart window on the chart thread and returns it (borrowed: valid until
    // DestroyChart or the host's end). Throws std::runtime_error on failure or when the chart
    // thread does not answer within RequestDeadline.
    HWND CreateChart(const TChartOptions& AOptions);
    // Destroys a chart window on the chart thread, with the panel that is its child.
    void DestroyChart(HWND AChart);

    DWORD ThreadId() const { return FThreadId; }
    // The terminal window (borrowed), parent of every chart.
    HWND TerminalWindow() const { return FFrame; }
    // True once the user asked to close the terminal window; like a chart, it stays.
    bool TerminalCloseRequested() const { return FFrameCloseRequested.load(); }
    UINT RegisteredMessage() const { return FRegisteredMessage; }

    // Replaces what the chart shows and has it repainted; any thread, never waits.
    void SetPicture(HWND AChart, TChartPicture APicture);

    // The posts of the registered message the chart has received so far, oldest first.
    std::vector<TRegisteredPost> RegisteredPosts(HWND AChart) const;
    // True once the user asked to close the chart (WM_CLOSE); the window stays until
    // DestroyChart, so that its owner can take its panel away first, as the terminal does.
    bool CloseRequested(HWND AChart) const;
    // The charts that are still open.
    std::vector<HWND> Charts() const;

    // Brings the terminal window to the top of the ordinary (not topmost) windows and has it and
    // everything on it repainted; asks the chart thread to do it.
    void RaiseTerminalWindow();
    // Keeps the terminal window above all others (or lets it go back among them) and has it and
    // everything on it repainted; asks the chart thread to do it. For the moment of a capture
    // when another window covered it: on top for longer, it would cover other programs' windows.
    void KeepTerminalOnTop(bool AOnTop);

    // The outer size of a chart window with the given client area, for laying charts out.
    static SIZE ChartWindowSize(int AClientWidth, int AClientHeight);

    // How long CreateChart and DestroyChart wait for the chart thread before they give up.
    static constexpr std::chrono::milliseconds RequestDeadline{10000};

private:
    struct TChart;
    struct TRequest;

    static LRESULT CALLBACK ChartProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK FrameProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK DispatcherProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam);
    void ThreadMain(HANDLE AReady, TTerminalOptions AOptions);
    void RunOnChartThread(std::function<void()> AWork);
    void PlaceTerminalWindow(HWND AInsertAfter);
    TChart* Find(HWND AChart) const;
    static void Paint(TChart& AChart, HDC ADC, const RECT& AClient);

    UINT FRegisteredMessage;
    DWORD FThreadId = 0;
    HWND FDispatcher = nullptr; // message-only window of the chart thread: requests land here
    HWND FFrame = nullptr;
    std::atomic<bool> FFrameCloseRequested{false};
    mutable std::mutex FLock; // guards FCharts and every TChart's picture and records
    std::vector<std::unique_ptr<TChart>> FCharts; // kept after destruction: cheap, never reused
    TFontHandle FFont;
    std::thread FThread;
};

// Waits for `AHandle` while still handling messages sent to this thread, so that a thread that
// owns windows can wait without stalling the threads that send to it. False on the deadline.
bool WaitHandlingSentMessages(HANDLE AHandle, std::chrono::milliseconds ADeadline);

// Polls `ACondition` every few milliseconds until it holds or the deadline passes; returns
// whether it held. For tests and the demo: a stuck condition becomes a failure, not a hang.
bool WaitUntil(const std::function<bool()>& ACondition, std::chrono::milliseconds ADeadline);
