#pragma once
// What the timing program measures with: the performance counter, sample statistics, the paints
// of one window counted by hooks on its thread, a thread's CPU time, and a poll for a condition
// that another thread makes true.

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/Win32.h"

// The performance counter, and a span of it in microseconds.
long long CounterNow();
double CounterMicroseconds(long long ATicks);
double CounterSecondsSince(long long AStart);

// Order statistics of a set of timings, in the samples' unit.
struct TTimings {
    std::size_t Count = 0;
    double Median = 0;
    double P99 = 0;
    double Mean = 0;
    double Max = 0;
};
TTimings Summarise(std::vector<double> ASamples);

// The median of a few repeated figures.
double MedianOf(std::vector<double> AValues);

// Counts the WM_PAINT messages that one window handles, from hooks on the window's thread: the
// hook procedures run on that thread, inside its GetMessage (WH_GETMESSAGE) or just before a sent
// message is handled (WH_CALLWNDPROC), so they see each paint before the window validates its
// update region, and add up the pixels that region covers. One watch at a time.
class TPaintWatch {
public:
    explicit TPaintWatch(HWND AWindow);
    ~TPaintWatch();
    TPaintWatch(const TPaintWatch&) = delete;
    TPaintWatch& operator=(const TPaintWatch&) = delete;

    bool Installed() const { return FGetMessage && FCallWndProc; }
    long Paints() const;
    long long PaintedPixels() const;
    void Reset();

private:
    static void CloseHook(HHOOK AHook) { UnhookWindowsHookEx(AHook); }
    using THookHandle = TUniqueHandle<HHOOK, CloseHook>;

    THookHandle FGetMessage;
    THookHandle FCallWndProc;
};

// The CPU time (kernel and user) that one thread of this process has used so far.
class TThreadClock {
public:
    explicit TThreadClock(DWORD AThreadId);
    bool Valid() const { return static_cast<bool>(FThread); }
    // Seconds; negative when the system does not tell.
    double Seconds() const;

private:
    TKernelHandle FThread;
};

// Polls ACondition every millisecond until it holds or ADeadlineSeconds pass; returns whether it
// held. A millisecond is coarse next to a message but fine next to building a window tree, and it
// leaves the other core to the threads being measured.
bool PollUntil(const std::function<bool()>& ACondition, double ADeadlineSeconds);

// Whether a window still has something to repaint. Any thread.
bool HasUpdateRegion(HWND AWindow);
