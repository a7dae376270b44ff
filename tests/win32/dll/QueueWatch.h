#pragma once
// Hooks on another thread's message queue: a barrier through it (every message posted before a
// marker has been dispatched), its timer ticks, and the order of the messages its windows get.

#include <chrono>
#include <memory>
#include <vector>

#include "platform/Win32.h"

using namespace std::chrono_literals;

// Watches the messages a thread takes from its queue (WH_GETMESSAGE), so that a test knows when
// everything it posted to a window of that thread has been dispatched, and how many timer
// ticks the thread has seen.
class TQueueWatch {
public:
    explicit TQueueWatch(DWORD AThreadId);
    ~TQueueWatch();
    TQueueWatch(const TQueueWatch&) = delete;
    TQueueWatch& operator=(const TQueueWatch&) = delete;

    bool Installed() const { return FHook != nullptr; }
    // Posts a marker to AWindow (a window of the watched thread) and waits until the thread has
    // taken it, so every message posted before it has been dispatched. False on the deadline.
    bool Flush(HWND AWindow, std::chrono::milliseconds ADeadline = 10s);
    // The same in two steps, for a caller that must not wait: posts a marker and returns its
    // number, which Reached tells once the thread has taken it. 0 when the post failed.
    long PostMarker(HWND AWindow);
    bool Reached(long AMarker) const;
    // WM_TIMER messages taken so far with this timer identifier.
    int TimerTicks(UINT_PTR ATimerId) const;

    struct TState;

private:
    HHOOK FHook = nullptr;
    std::shared_ptr<TState> FState;
};

// Records, in order, the messages a thread's windows receive: those sent to them
// (WH_CALLWNDPROC), noting whether another thread sent them, and those taken from the queue
// (WH_GETMESSAGE).
class TMessageLog {
public:
    explicit TMessageLog(DWORD AThreadId);
    ~TMessageLog();
    TMessageLog(const TMessageLog&) = delete;
    TMessageLog& operator=(const TMessageLog&) = delete;

    bool Installed() const { return FSent && FTaken; }
    // The messages AWindow received so far, oldest first.
    std::vector<UINT> Messages(HWND AWindow) const;
    // Messages another thread sent to any window of the thread so far.
    long CrossThreadSends() const;

    struct TState;

private:
    HHOOK FSent = nullptr;
    HHOOK FTaken = nullptr;
    std::shared_ptr<TState> FState;
};
