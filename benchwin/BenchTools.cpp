#include "benchwin/BenchTools.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <cstring>

#include <tlhelp32.h>

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

double MedianOf(std::vector<double> AValues) { return Summarise(std::move(AValues)).Median; }

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

long TPaintWatch::Paints() const { return PaintsSeen.load(); }

long long TPaintWatch::PaintedPixels() const { return PixelsSeen.load(); }

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
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
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

bool HasUpdateRegion(HWND AWindow) { return GetUpdateRect(AWindow, nullptr, FALSE) != 0; }

// ---- what a process holds -----------------------------------------------------------------------

int GdiObjectCount() {
    int count = 0;
    for (UINT index = 1; index < 0x10000; ++index)
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(index))) != 0;
    return count;
}

size_t HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    size_t bytes = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return bytes;
}

int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// ---- import patch -------------------------------------------------------------------------------

TImportPatch::TImportPatch(HMODULE AModule, const char* ADll, const char* AFunction, void* ANew) {
    auto base = reinterpret_cast<BYTE*>(AModule);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return;
    for (auto descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name; ++descriptor) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), ADll) != 0 ||
            !descriptor->OriginalFirstThunk)
            continue;
        auto names =
            reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + descriptor->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            auto byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), AFunction) != 0)
                continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
                return;
            FOriginal = InterlockedExchangePointer(slot, ANew);
            VirtualProtect(slot, sizeof *slot, protection, &protection);
            FSlot = slot;
            return;
        }
    }
}

TImportPatch::~TImportPatch() {
    if (!FSlot)
        return;
    DWORD protection = 0;
    VirtualProtect(FSlot, sizeof *FSlot, PAGE_READWRITE, &protection);
    InterlockedExchangePointer(FSlot, FOriginal);
    VirtualProtect(FSlot, sizeof *FSlot, protection, &protection);
}
