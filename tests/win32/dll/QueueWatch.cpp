#include "tests/win32/dll/QueueWatch.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "terminal/ChartHost.h"

// ---- the queue watch ------------------------------------------------------------------------

struct TQueueWatch::TState {
    DWORD ThreadId = 0;
    std::mutex Lock;
    std::vector<std::pair<UINT_PTR, int>> Ticks; // under Lock
    std::atomic<long> MarkerSeen{0};
    std::atomic<long> MarkerPosted{0};
};

namespace {

const UINT MarkerMessage = RegisterWindowMessageW(L"PellithTestQueueMarker");

std::mutex WatchesLock;
std::vector<std::shared_ptr<TQueueWatch::TState>> Watches; // under WatchesLock

LRESULT CALLBACK WatchQueue(int ACode, WPARAM AWParam, LPARAM ALParam) {
    // Runs on the watched thread, inside GetMessage/PeekMessage, for every message it takes.
    if (ACode == HC_ACTION && AWParam == PM_REMOVE) {
        const MSG& message = *reinterpret_cast<const MSG*>(ALParam);
        std::shared_ptr<TQueueWatch::TState> state;
        {
            std::lock_guard lock(WatchesLock);
            for (const auto& watch : Watches)
                if (watch->ThreadId == GetCurrentThreadId())
                    state = watch;
        }
        if (state && message.message == WM_TIMER) {
            std::lock_guard lock(state->Lock);
            bool counted = false;
            for (auto& [id, count] : state->Ticks)
                if (id == message.wParam) {
                    ++count;
                    counted = true;
                }
            if (!counted)
                state->Ticks.emplace_back(message.wParam, 1);
        } else if (state && message.message == MarkerMessage) {
            state->MarkerSeen.store(static_cast<long>(message.lParam));
        }
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

} // namespace

TQueueWatch::TQueueWatch(DWORD AThreadId) : FState(std::make_shared<TState>()) {
    FState->ThreadId = AThreadId;
    {
        std::lock_guard lock(WatchesLock);
        Watches.push_back(FState);
    }
    FHook = SetWindowsHookExW(WH_GETMESSAGE, WatchQueue, nullptr, AThreadId);
}

TQueueWatch::~TQueueWatch() {
    if (FHook)
        UnhookWindowsHookEx(FHook);
    std::lock_guard lock(WatchesLock);
    std::erase(Watches, FState);
}

bool TQueueWatch::Flush(HWND AWindow, std::chrono::milliseconds ADeadline) {
    const long marker = PostMarker(AWindow);
    return marker && WaitUntil([&] { return Reached(marker); }, ADeadline);
}

long TQueueWatch::PostMarker(HWND AWindow) {
    const long marker = FState->MarkerPosted.fetch_add(1) + 1;
    return PostMessageW(AWindow, MarkerMessage, 0, marker) ? marker : 0;
}

bool TQueueWatch::Reached(long AMarker) const {
    return FState->MarkerSeen.load() >= AMarker;
}

int TQueueWatch::TimerTicks(UINT_PTR ATimerId) const {
    std::lock_guard lock(FState->Lock);
    for (const auto& [id, count] : FState->Ticks)
        if (id == ATimerId)
            return count;
    return 0;
}

// ---- the message log ------------------------------------------------------------------------

struct TMessageLog::TState {
    DWORD ThreadId = 0;
    mutable std::mutex Lock;
    std::vector<std::pair<HWND, UINT>> Seen; // under Lock
    std::atomic<long> CrossThreadSends{0};
};

namespace {

std::mutex LogsLock;
std::vector<std::shared_ptr<TMessageLog::TState>> Logs; // under LogsLock

std::shared_ptr<TMessageLog::TState> LogOfThisThread() {
    std::lock_guard lock(LogsLock);
    for (const auto& log : Logs)
        if (log->ThreadId == GetCurrentThreadId())
            return log;
    return nullptr;
}

void Note(TMessageLog::TState& ALog, HWND AWindow, UINT AMessage) {
    std::lock_guard lock(ALog.Lock);
    ALog.Seen.emplace_back(AWindow, AMessage);
}

LRESULT CALLBACK LogSent(int ACode, WPARAM AWParam, LPARAM ALParam) {
    if (ACode == HC_ACTION)
        if (const auto log = LogOfThisThread()) {
            const CWPSTRUCT& message = *reinterpret_cast<const CWPSTRUCT*>(ALParam);
            if (AWParam == 0) // sent by another thread
                ++log->CrossThreadSends;
            Note(*log, message.hwnd, message.message);
        }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

LRESULT CALLBACK LogTaken(int ACode, WPARAM AWParam, LPARAM ALParam) {
    if (ACode == HC_ACTION && AWParam == PM_REMOVE)
        if (const auto log = LogOfThisThread()) {
            const MSG& message = *reinterpret_cast<const MSG*>(ALParam);
            Note(*log, message.hwnd, message.message);
        }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

} // namespace

TMessageLog::TMessageLog(DWORD AThreadId) : FState(std::make_shared<TState>()) {
    FState->ThreadId = AThreadId;
    {
        std::lock_guard lock(LogsLock);
        Logs.push_back(FState);
    }
    FSent = SetWindowsHookExW(WH_CALLWNDPROC, LogSent, nullptr, AThreadId);
    FTaken = SetWindowsHookExW(WH_GETMESSAGE, LogTaken, nullptr, AThreadId);
}

TMessageLog::~TMessageLog() {
    if (FSent)
        UnhookWindowsHookEx(FSent);
    if (FTaken)
        UnhookWindowsHookEx(FTaken);
    std::lock_guard lock(LogsLock);
    std::erase(Logs, FState);
}

std::vector<UINT> TMessageLog::Messages(HWND AWindow) const {
    std::lock_guard lock(FState->Lock);
    std::vector<UINT> messages;
    for (const auto& [window, message] : FState->Seen)
        if (window == AWindow)
            messages.push_back(message);
    return messages;
}

long TMessageLog::CrossThreadSends() const {
    return FState->CrossThreadSends.load();
}
