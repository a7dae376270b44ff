#include "benchwin/BenchTools.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>

// ---- the performance counter --------------------------------------------------------------------

namespace {

double CounterFrequency() {
    static const double frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    return frequency;
}

} // namespace

long long CounterNow() {
    LARGE_INTEGER value{};
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

double CounterMicroseconds(long long ATicks) {
    return static_cast<double>(ATicks) * 1e6 / CounterFrequency();
}

double CounterSecondsSince(long long AStart) {
    return static_cast<double>(CounterNow() - AStart) / CounterFrequency();
}

// ---- statistics ---------------------------------------------------------------------------------

TTimings Summarise(std::vector<double> ASamples) {
    TTimings result;
    result.Count = ASamples.size();
    if (ASamples.empty())
        return result;
    std::sort(ASamples.begin(), ASamples.end());
    // Nearest rank: the smallest sample with at least the given share of samples at or below it.
    const auto rank = [&](double AShare) {
        const auto index = static_cast<std::size_t>(std::ceil(AShare * ASamples.size()));
        return ASamples[std::clamp<std::size_t>(index, 1, ASamples.size()) - 1];
    };
    result.Median = rank(0.5);
    result.P99 = rank(0.99);
    result.Max = ASamples.back();
    result.Mean = std::accumulate(ASamples.begin(), ASamples.end(), 0.0) / ASamples.size();
    return result;
}

double MedianOf(std::vector<double> AValues) {
    return Summarise(std::move(AValues)).Median;
}

// ---- paints of one window -----------------------------------------------------------------------

namespace {

// Written by the watch's owner; read and counted on the watched window's thread.
std::atomic<HWND> WatchedWindow{nullptr};
std::atomic<long> PaintsSeen{0};
std::atomic<long long> PixelsSeen{0};

long long UpdateRegionPixels(HWND AWindow) {
    TUniqueHandle<HRGN, CloseGdiObject> region(CreateRectRgn(0, 0, 0, 0));
    if (!region || GetUpdateRgn(AWindow, region.Get(), FALSE) <= NULLREGION)
        return 0;
    const DWORD size = GetRegionData(region.Get(), 0, nullptr);
    std::vector<unsigned char> buffer(size);
    auto data = reinterpret_cast<RGNDATA*>(buffer.data());
    if (size < sizeof(RGNDATAHEADER) || GetRegionData(region.Get(), size, data) != size)
        return 0;
    // The rectangles of a region never overlap.
    const auto rects = reinterpret_cast<const RECT*>(data->Buffer);
    long long pixels = 0;
    for (DWORD i = 0; i < data->rdh.nCount; ++i)
        pixels += static_cast<long long>(rects[i].right - rects[i].left) *
                  (rects[i].bottom - rects[i].top);
    return pixels;
}

void SeeMessage(HWND AWindow, UINT AMessage) {
    if (AMessage != WM_PAINT || !AWindow || AWindow != WatchedWindow.load())
        return;
    PixelsSeen.fetch_add(UpdateRegionPixels(AWindow));
    PaintsSeen.fetch_add(1);
}

LRESULT CALLBACK GetMessageHook(int ACode, WPARAM AWParam, LPARAM ALParam) {
    if (ACode == HC_ACTION && AWParam == PM_REMOVE) {
        const MSG& message = *reinterpret_cast<const MSG*>(ALParam);
        SeeMessage(message.hwnd, message.message);
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

LRESULT CALLBACK CallWndProcHook(int ACode, WPARAM AWParam, LPARAM ALParam) {
    if (ACode == HC_ACTION) {
        const CWPSTRUCT& message = *reinterpret_cast<const CWPSTRUCT*>(ALParam);
        SeeMessage(message.hwnd, message.message);
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

} // namespace

TPaintWatch::TPaintWatch(HWND AWindow) {
    const DWORD thread = GetWindowThreadProcessId(AWindow, nullptr);
    WatchedWindow.store(AWindow);
    Reset();
    if (!thread)
        return;
    // A null module with another thread of this process is allowed: the procedures are ours.
    FGetMessage.Reset(SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, thread));
    FCallWndProc.Reset(SetWindowsHookExW(WH_CALLWNDPROC, CallWndProcHook, nullptr, thread));
}

TPaintWatch::~TPaintWatch() {
    FGetMessage.Reset();
    FCallWndProc.Reset();
    WatchedWindow.store(nullptr);
}

long TPaintWatch::Paints() const {
    return PaintsSeen.load();
}

long long TPaintWatch::PaintedPixels() const {
    return PixelsSeen.load();
}

void TPaintWatch::Reset() {
    PaintsSeen.store(0);
    PixelsSeen.store(0);
}

// ---- thread CPU time ----------------------------------------------------------------------------

TThreadClock::TThreadClock(DWORD AThreadId)
    : FThread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, AThreadId)) {}

double TThreadClock::Seconds() const {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!FThread || !GetThreadTimes(FThread.Get(), &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME& ATime) {
        return (static_cast<unsigned long long>(ATime.dwHighDateTime) << 32) | ATime.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7; // 100 ns units
}

// ---- waiting ------------------------------------------------------------------------------------

bool PollUntil(const std::function<bool()>& ACondition, double ADeadlineSeconds) {
    const long long start = CounterNow();
    for (;;) {
        if (ACondition())
            return true;
        if (CounterSecondsSince(start) >= ADeadlineSeconds)
            return false;
        Sleep(1);
    }
}

bool HasUpdateRegion(HWND AWindow) {
    return GetUpdateRect(AWindow, nullptr, FALSE) != 0;
}
