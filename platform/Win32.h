#pragma once
// The Win32 headers and the small RAII wrappers every Windows-side unit shares.

#include <windows.h>

#include <commctrl.h> // after <windows.h>, whose types it uses

#include <utility>

// This module's own instance: the DLL's when linked into the DLL, never the host's.
HINSTANCE ThisModule();

// Owns one handle and closes it with Close; move-only. A borrowed handle stays a raw handle.
template <class H, auto Close> class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(H AHandle) : FHandle(AHandle) {}
    TUniqueHandle(TUniqueHandle&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, H{})) {}
    TUniqueHandle& operator=(TUniqueHandle&& AOther) noexcept {
        if (this != &AOther)
            Reset(std::exchange(AOther.FHandle, H{}));
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    H Get() const { return FHandle; }
    explicit operator bool() const { return FHandle != H{}; }
    H Release() { return std::exchange(FHandle, H{}); }
    void Reset(H AHandle = H{}) {
        if (FHandle)
            Close(FHandle);
        FHandle = AHandle;
    }

private:
    H FHandle{};
};

inline void CloseGdiObject(HGDIOBJ AObject) {
    DeleteObject(AObject);
}
inline void CloseDC(HDC ADC) {
    DeleteDC(ADC);
}
inline void CloseKernelHandle(HANDLE AHandle) {
    CloseHandle(AHandle);
}

using TFontHandle = TUniqueHandle<HFONT, CloseGdiObject>;
using TBitmapHandle = TUniqueHandle<HBITMAP, CloseGdiObject>;
using TBrushHandle = TUniqueHandle<HBRUSH, CloseGdiObject>;
using TMemoryDC = TUniqueHandle<HDC, CloseDC>;
using TKernelHandle = TUniqueHandle<HANDLE, CloseKernelHandle>;

// Selects a GDI object into a DC for one scope.
class TSelectObject {
public:
    TSelectObject(HDC ADC, HGDIOBJ AObject) : FDC(ADC), FOld(SelectObject(ADC, AObject)) {}
    ~TSelectObject() {
        if (FOld)
            SelectObject(FDC, FOld);
    }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// A memory DC with a bitmap selected into it for as long as the object lives: the bitmap is put
// back out before the DC is deleted, so its owner can delete or copy it afterwards. Borrows the
// bitmap, which must outlive the object; move-only.
class TBitmapDC {
public:
    TBitmapDC() = default;
    // A DC compatible with ACompatible (null: the screen) with ABitmap (may be null) selected;
    // empty when the DC cannot be made.
    TBitmapDC(HDC ACompatible, HBITMAP ABitmap) : FDC(CreateCompatibleDC(ACompatible)) {
        if (FDC && ABitmap)
            FOld = SelectObject(FDC.Get(), ABitmap);
    }
    TBitmapDC(TBitmapDC&& AOther) noexcept
        : FDC(std::move(AOther.FDC)), FOld(std::exchange(AOther.FOld, nullptr)) {}
    TBitmapDC& operator=(TBitmapDC&& AOther) noexcept {
        if (this != &AOther) {
            Reset();
            FDC = std::move(AOther.FDC);
            FOld = std::exchange(AOther.FOld, nullptr);
        }
        return *this;
    }
    ~TBitmapDC() { Reset(); }

    HDC Get() const { return FDC.Get(); }
    explicit operator bool() const { return static_cast<bool>(FDC); }
    // Deselects the bitmap and deletes the DC.
    void Reset() {
        if (FDC && FOld)
            SelectObject(FDC.Get(), FOld);
        FOld = nullptr;
        FDC.Reset();
    }

private:
    TMemoryDC FDC;
    HGDIOBJ FOld = nullptr;
};

// The DC of a window's client area, from GetDC (null window: the screen).
class TClientDC {
public:
    explicit TClientDC(HWND AWindow) : FWindow(AWindow), FDC(GetDC(AWindow)) {}
    ~TClientDC() {
        if (FDC)
            ReleaseDC(FWindow, FDC);
    }
    TClientDC(const TClientDC&) = delete;
    TClientDC& operator=(const TClientDC&) = delete;
    HDC Get() const { return FDC; }

private:
    HWND FWindow;
    HDC FDC;
};

// BeginPaint/EndPaint for one WM_PAINT.
class TPaintDC {
public:
    explicit TPaintDC(HWND AWindow) : FWindow(AWindow) { FDC = BeginPaint(AWindow, &FPaint); }
    ~TPaintDC() { EndPaint(FWindow, &FPaint); }
    TPaintDC(const TPaintDC&) = delete;
    TPaintDC& operator=(const TPaintDC&) = delete;
    HDC Get() const { return FDC; }
    const RECT& Area() const { return FPaint.rcPaint; }

private:
    HWND FWindow;
    PAINTSTRUCT FPaint{};
    HDC FDC;
};

// A lock that no thread killed while holding it can keep, nor a thread that later gets the
// dead one's identifier: a kernel mutex, which the system hands to the next waiter as abandoned
// when its owner's thread ends. Ownership belongs to the thread object, not to its identifier,
// and a waiter killed at any point simply leaves the queue. A live owner that stops (suspended,
// or stuck in its host) is waited for only up to the bound: the caller then holds nothing and
// must change nothing the lock guards. Each enter and leave is a system call. Usable from
// DllMain: making and closing it take no lock of the loader's.
class TKernelLock {
public:
    // How long Enter waits for a live owner, by default.
    static constexpr DWORD WaitBoundMs = 5000;

    // Makes the mutex; false when the system cannot.
    bool Init() {
        FMutex.Reset(CreateMutexW(nullptr, FALSE, nullptr));
        return static_cast<bool>(FMutex);
    }
    void Done() { FMutex.Reset(); }
    // Waits for the lock, at most ATimeoutMs; true when the caller holds it now, also when a
    // dead owner left it. False when there is no lock, the owner kept it past the bound or the
    // wait itself failed: the caller holds nothing.
    bool Enter(DWORD ATimeoutMs = WaitBoundMs) {
        if (!FMutex)
            return false;
        const DWORD result = WaitForSingleObject(FMutex.Get(), ATimeoutMs);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    void Leave() { ReleaseMutex(FMutex.Get()); }

private:
    TKernelHandle FMutex;
};

// A Win32 critical section, usable with std::lock_guard.
class TCriticalSection {
public:
    TCriticalSection() { InitializeCriticalSection(&FSection); }
    ~TCriticalSection() { DeleteCriticalSection(&FSection); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    void lock() { EnterCriticalSection(&FSection); }
    bool try_lock() { return TryEnterCriticalSection(&FSection) != 0; }
    void unlock() { LeaveCriticalSection(&FSection); }

private:
    CRITICAL_SECTION FSection;
};
