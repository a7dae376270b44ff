// The host bridge: the exports, the process-wide registry and the library's lifetime, and the
// panel threads that build, attach and run one panel each.
//
// Threads: the exports run on the host's threads; each panel runs on a thread of its own. The
// host may kill a thread of its own at any moment, also inside an export, and may catch a fault
// on its own memory inside one: neither may leave another chart waiting.

#include "host/MainUnit.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>

#include "controls/ChartNames.h"
#include "controls/ControlXT.h"
#include "resources/ResourceIds.h"

namespace {

using ChartNames::AttachedProperty;
using ChartNames::ContainerProperty;

// The library's one lock. It reports a dead owner: a thread killed while holding it leaves it
// to the next thread that wants it, and everything it guards is written so that any prefix of a
// locked step leaves it consistent (each change is published by one store). An uncontended enter
// costs one atomic exchange; a waiter blocks until the owner leaves or dies, without polling.
class TTerminalLock {
public:
    void Init() { FWake = CreateEventW(nullptr, FALSE, FALSE, nullptr); }
    void Done() {
        if (FWake)
            CloseHandle(FWake);
        FWake = nullptr;
    }

    void Enter() {
        const DWORD me = GetCurrentThreadId();
        DWORD owner = 0;
        if (FOwner.compare_exchange_strong(owner, me))
            return;
        FWaiters.fetch_add(1);
        for (;;) {
            owner = 0;
            if (FOwner.compare_exchange_strong(owner, me))
                break;
            HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, owner);
            if (!thread || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
                // The owner died holding it: the lock is ours, unless another waiter was faster.
                if (thread)
                    CloseHandle(thread);
                if (FOwner.compare_exchange_strong(owner, me))
                    break;
                continue;
            }
            const HANDLE wakers[2] = {FWake, thread};
            WaitForMultipleObjects(2, wakers, FALSE, INFINITE);
            CloseHandle(thread);
        }
        FWaiters.fetch_sub(1);
    }

    void Leave() {
        FOwner.store(0);
        if (FWaiters.load() > 0)
            SetEvent(FWake);
    }

private:
    std::atomic<DWORD> FOwner{0}; // the owning thread's identifier; 0 when free
    std::atomic<long> FWaiters{0};
    HANDLE FWake = nullptr; // auto-reset: one waiter tries again after each leave
};

// TerminalLock guards bookkeeping only; no thread holds it across a call that waits for another
// thread, the shell or the host's memory. Under it: which charts are pending and which records
// have an attached panel, the registry, and the resources. Window properties, posts and
// visibility reads may be made under it: they never wait for the window's thread.
TTerminalLock TerminalLock;

class TTerminalLockGuard {
public:
    TTerminalLockGuard() { TerminalLock.Enter(); }
    ~TTerminalLockGuard() { TerminalLock.Leave(); }
    TTerminalLockGuard(const TTerminalLockGuard&) = delete;
    TTerminalLockGuard& operator=(const TTerminalLockGuard&) = delete;
};

// Masks every floating-point exception for the library's own work, with the default precision
// and rounding, and gives the host its x87 environment and SSE control word back on the way
// out, whatever it had unmasked. The flags our work raised go with it.
class TFloatingPointGuard {
public:
    TFloatingPointGuard() {
        const unsigned short x87Default = 0x027F;        // all masked, 53-bit precision, to nearest
        const unsigned int sseDefault = 0x1F80;          // all masked, to nearest, no flush to zero
        __asm__ __volatile__("fnstenv %0" : "=m"(FX87)); // also masks the x87 exceptions
        __asm__ __volatile__("fldcw %0" : : "m"(x87Default));
        __asm__ __volatile__("stmxcsr %0" : "=m"(FMxcsr));
        __asm__ __volatile__("ldmxcsr %0" : : "m"(sseDefault));
    }
    ~TFloatingPointGuard() {
        __asm__ __volatile__("ldmxcsr %0" : : "m"(FMxcsr));
        __asm__ __volatile__("fldenv %0" : : "m"(FX87));
    }
    TFloatingPointGuard(const TFloatingPointGuard&) = delete;
    TFloatingPointGuard& operator=(const TFloatingPointGuard&) = delete;

private:
    unsigned char FX87[28];
    unsigned int FMxcsr;
};

// One recorded TerminalCreate: the snapshot it was made from and what became of its panel.
// Records are kept until the library leaves the process, so a panel thread, an exchange or a
// killed caller never holds a freed one.
struct TChartRecord {
    template <class... TArgs> explicit TChartRecord(TArgs&&... AArgs) : Data(AArgs...) {}

    const TTerminalData Data;
    TChartRecord* ListNext = nullptr;   // TerminalList; set before the record is published
    TChartRecord* ActiveNext = nullptr; // ActiveRecords; under TerminalLock
    enum class TState : unsigned char { Pending, Attached, Ended };
    TState State = TState::Pending; // under TerminalLock
    HWND PanelWindow = nullptr;     // under TerminalLock; set with Attached
    TPanelXT* Panel = nullptr;      // set with Attached; freed by the last of its users
    // Exchanges using Panel now, plus Closing once its thread is done with it. Whoever takes it
    // to exactly Closing frees the panel: its thread, or the last exchange that used it.
    std::atomic<long> Users{0};
    static constexpr long Closing = 0x40000000;
};

// The process-wide objects. Plain pointers: they are made at process attach and freed only when
// the library is released without ever having been pinned, never by the C runtime at exit.
TChartRecord* TerminalList = nullptr;  // every record, newest first; under TerminalLock
TChartRecord* ActiveRecords = nullptr; // pending or attached, newest first; under TerminalLock
bool ShuttingDown = false;             // under TerminalLock
TBitmapXT* PanelBitmap = nullptr;      // replaced once, before the first panel thread starts
std::atomic<bool> ResourcesLoaded{false};

HANDLE ModuleMark() {
    return reinterpret_cast<HANDLE>(ThisModule());
}

// Keeps this module loaded for the rest of the process, so that running panel threads and
// window procedures never lose their code. Unlike loading the module again by its path, this
// cannot fail on a long path.
void PinLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

// Pins the library and loads the panel bitmap, the first time only. Without the lock: pinning
// takes the loader lock, which another thread may hold while it waits for us.
void LoadResourcesOnce() {
    if (ResourcesLoaded.load())
        return;
    PinLibrary();
    auto bitmap = std::make_unique<TBitmapXT>();
    bitmap->LoadFromResourceID(ThisModule(), PELLITH_PANEL_BITMAP);
    TBitmapXT* previous = nullptr;
    {
        TTerminalLockGuard lock;
        if (ResourcesLoaded.load() || ShuttingDown)
            return;
        previous = PanelBitmap;
        PanelBitmap = bitmap.release();
        ResourcesLoaded.store(true);
    }
    delete previous;
}

void DoneTheUnit() {
    TTerminalLockGuard lock;
    ShuttingDown = true;
    for (TChartRecord* record = TerminalList; record;) {
        TChartRecord* next = record->ListNext;
        delete record;
        record = next;
    }
    TerminalList = ActiveRecords = nullptr;
    delete PanelBitmap;
    PanelBitmap = nullptr;
}

// ---- the bookkeeping, all under TerminalLock ---------------------------------------------

void Unlink(TChartRecord* ARecord) {
    for (TChartRecord** link = &ActiveRecords; *link; link = &(*link)->ActiveNext)
        if (*link == ARecord) {
            *link = ARecord->ActiveNext; // one store: a killed owner leaves the list whole
            return;
        }
}

// The chart's record that is still building its panel, if any; drops ended records on the way.
TChartRecord* PendingRecord(HWND AChart) {
    for (TChartRecord** link = &ActiveRecords; *link;) {
        TChartRecord* record = *link;
        if (record->State == TChartRecord::TState::Ended ||
            (record->Users.load() & TChartRecord::Closing)) {
            *link = record->ActiveNext;
            continue;
        }
        if (record->State == TChartRecord::TState::Pending && record->Data.WndChart() == AChart)
            return record;
        link = &record->ActiveNext;
    }
    return nullptr;
}

// Takes a use of the attached panel whose window is APanelWindow; null when there is none or
// its thread is done with it.
TChartRecord* UsePanel(HWND APanelWindow) {
    for (TChartRecord* record = ActiveRecords; record; record = record->ActiveNext) {
        if (record->State != TChartRecord::TState::Attached || record->PanelWindow != APanelWindow)
            continue;
        long users = record->Users.load();
        do {
            if (users & TChartRecord::Closing)
                return nullptr;
        } while (!record->Users.compare_exchange_weak(users, users + 1));
        return record;
    }
    return nullptr;
}

// ---- the panel's lifetime, without the lock ----------------------------------------------

// Gives up a use (or, from the panel thread, ownership) of a record's panel; the last one out
// frees it. The panel's windows are gone by then, so any thread may free the objects.
void ReleasePanel(TChartRecord& ARecord, long AChange) {
    if (ARecord.Users.fetch_add(AChange) + AChange == TChartRecord::Closing) {
        delete ARecord.Panel;
        ARecord.Panel = nullptr;
    }
}

// The chart's marked panel window, when the chart carries this library's mark and the window
// still exists. Reads window properties and the style only: nothing waits for the panel thread.
HWND MarkedPanel(HWND AChart, LONG* AStyle = nullptr) {
    if (GetPropA(AChart, AttachedProperty) != ModuleMark())
        return nullptr;
    HWND panelWindow = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    // A window's style is never 0 (a child has WS_CHILD), so 0 means no window.
    const LONG style = panelWindow ? GetWindowLongW(panelWindow, GWL_STYLE) : 0;
    if (AStyle)
        *AStyle = style;
    return style ? panelWindow : nullptr;
}

// Yields the chart's live panel window, after asking for it to be shown with AShowCommand when
// its own visibility bit says otherwise. The request is posted, never waited for: a shown panel
// costs nothing, and a hidden one is shown by its thread in its own time.
HWND FindAttachedPanel(HWND AChart, int AShowCommand) {
    LONG style = 0;
    HWND panelWindow = MarkedPanel(AChart, &style);
    if (panelWindow && ((style & WS_VISIBLE) != 0) != (AShowCommand != SW_HIDE))
        ShowWindowAsync(panelWindow, AShowCommand);
    return panelWindow;
}

void RunPanelLoop(HWND APanelWindow) {
    const auto timerId = reinterpret_cast<UINT_PTR>(ThisModule());
    SetTimer(APanelWindow, timerId, 300, nullptr);
    MSG message;
    BOOL received;
    do {
        received = GetMessageA(&message, nullptr, 0, 0);
        if (received > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    } while (received > 0 && IsWindow(APanelWindow));
    KillTimer(APanelWindow, timerId);
}

// Builds and lays out the record's panel, without the lock: creating a child of the chart and
// changing the chart's style wait for the chart's thread. Null when the chart is gone or the
// build was cancelled before it began.
std::unique_ptr<TPanelXT> BuildPanel(TChartRecord& ARecord) {
    const HWND chart = ARecord.Data.WndChart();
    {
        TTerminalLockGuard lock;
        if (ARecord.State != TChartRecord::TState::Pending)
            return nullptr; // cancelled by TerminalDelete
    }
    if (!IsWindow(chart))
        return nullptr;
    auto panel = std::make_unique<TPanelXT>();
    panel->Build(chart, ARecord.Data, *PanelBitmap);
    SetWindowLongW(chart, GWL_STYLE, GetWindowLongW(chart, GWL_STYLE) | WS_CLIPCHILDREN);
    SetPropA(panel->Handle(), ContainerProperty, panel.get());
    SetWindowPos(panel->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return panel;
}

// Marks the chart for a built panel, unless its build was cancelled meanwhile: the chart goes
// from pending to marked in one hold of the lock. On success the record holds the panel.
bool AttachPanel(TChartRecord& ARecord, TPanelXT& APanel) {
    const HWND chart = ARecord.Data.WndChart();
    const HWND panelWindow = APanel.Handle();
    TTerminalLockGuard lock;
    if (ARecord.State != TChartRecord::TState::Pending || !panelWindow)
        return false;
    SetPropA(chart, ContainerProperty, panelWindow);
    SetPropA(chart, AttachedProperty, ModuleMark());
    ARecord.Panel = &APanel;
    ARecord.PanelWindow = panelWindow;
    ARecord.State = TChartRecord::TState::Attached;
    return true;
}

// Ends a record that has no panel (or no longer one): the chart is no longer pending for it.
void EndRecord(TChartRecord& ARecord) {
    TTerminalLockGuard lock;
    if (ARecord.State == TChartRecord::TState::Pending)
        Unlink(&ARecord);
    ARecord.State = TChartRecord::TState::Ended;
}

DWORD WINAPI PanelThreadProc(LPVOID AParameter) {
    auto record = static_cast<TChartRecord*>(AParameter);
    if (!record)
        return 0;
    std::unique_ptr<TPanelXT> panel;
    bool attached = false;
    try {
        panel = BuildPanel(*record);
        attached = panel && AttachPanel(*record, *panel);
    } catch (...) {
        // Leave no window and no mark behind: the chart stays as it was.
    }
    if (!attached) {
        EndRecord(*record);
        try {
            panel.reset();
        } catch (...) {
        }
        return 0;
    }
    try {
        RunPanelLoop(panel->Handle());
    } catch (...) {
        // The panel goes below, whatever happened to its loop.
    }
    // The windows go first, on this thread that owns them; an exchange that found the panel
    // before may still use its objects, and the last one out frees them. No lock is needed.
    try {
        panel->DestroyHandle();
    } catch (...) {
    }
    ReleasePanel(*record, TChartRecord::Closing);
    panel.release(); // the record frees it now or at the end of the last exchange
    return 0;
}

} // namespace

extern "C" void __stdcall TerminalCreate(double Ask, double Bid, double Point, double MyPoint,
                                         double Lots, double StopLossPips, double TakeProfitPips,
                                         double TrailStopStartPips, int ADigits, HWND AWindow,
                                         const char* lpSym) {
    TFloatingPointGuard floatingPoint;
    try {
        // A panel is no chart: building in one would overwrite the property that leads from
        // its window to its object.
        if (!IsWindow(AWindow) || IsPanelWindow(AWindow))
            return;
        if (FindAttachedPanel(AWindow, SW_SHOWNORMAL))
            return;
        LoadResourcesOnce();
        // The symbol is read here, before the lock: a fault on the host's memory holds nothing.
        auto record = std::make_unique<TChartRecord>(AWindow, lpSym, Ask, Bid, Point, MyPoint, Lots,
                                                     StopLossPips, TakeProfitPips,
                                                     TrailStopStartPips, ADigits);
        TChartRecord* started = nullptr;
        {
            TTerminalLockGuard lock;
            if (ShuttingDown)
                return;
            // Another create may have finished or started for this chart meanwhile.
            if (PendingRecord(AWindow) || MarkedPanel(AWindow))
                return;
            started = record.release();
            started->ListNext = TerminalList;
            TerminalList = started;
            started->ActiveNext = ActiveRecords;
            ActiveRecords = started; // from here the chart is pending
        }
        HANDLE thread = CreateThread(nullptr, 0, PanelThreadProc, started, 0, nullptr);
        if (thread)
            CloseHandle(thread); // the thread is detached: nothing waits for it
        else
            EndRecord(*started);
    } catch (...) {
        // Nothing reaches the host.
    }
}

extern "C" int __stdcall TerminalProcessMsg(double Ask, double Bid, double Point, double MyPoint,
                                            int ADigits, double* AMemory, int AMemorySize,
                                            HWND AWindow) {
    if (!AMemory || AMemorySize != ExchangeBlockSize)
        return erNothing;
    TFloatingPointGuard floatingPoint;
    try {
        const TTerminalData snapshot(AWindow, nullptr, Ask, Bid, Point, MyPoint, 0, 0, 0, 0,
                                     ADigits);
        const HWND panelWindow = FindAttachedPanel(AWindow, SW_SHOWNORMAL);
        if (!panelWindow)
            return erNothing;
        TChartRecord* record = nullptr;
        {
            TTerminalLockGuard lock;
            record = UsePanel(panelWindow);
        }
        if (!record)
            return erNothing;
        TPanelXT::TExchange exchange;
        try {
            exchange = record->Panel->TakeExchange(&snapshot);
        } catch (...) {
            ReleasePanel(*record, -1);
            throw;
        }
        ReleasePanel(*record, -1);
        // The host's memory and the shell come last, with nothing held.
        if (exchange.HasValues)
            std::copy(std::begin(exchange.Values), std::end(exchange.Values), AMemory);
        if (exchange.OpenLink)
            OpenWebLink(panelWindow, PoweredByLink().c_str());
        return exchange.Result;
    } catch (...) {
    }
    return erNothing;
}

extern "C" void __stdcall TerminalDelete(HWND AWindow) {
    TFloatingPointGuard floatingPoint;
    try {
        if (!IsWindow(AWindow))
            return;
        // Hidden at once, without waiting for the panel thread; the request is delivered
        // before the close posted below.
        const HWND found = FindAttachedPanel(AWindow, SW_HIDE);
        TTerminalLockGuard lock;
        if (TChartRecord* pending = PendingRecord(AWindow)) {
            Unlink(pending);
            pending->State = TChartRecord::TState::Ended; // cancels its build
        }
        if (GetPropA(AWindow, AttachedProperty) != ModuleMark())
            return;
        const HWND marked = static_cast<HWND>(GetPropA(AWindow, ContainerProperty));
        const bool live = marked && IsWindow(marked);
        if (live && marked != found) {
            if (found)
                return; // a newer panel took the chart since we looked: it stays
            ShowWindowAsync(marked, SW_HIDE); // attached since we looked
        }
        if (live) {
            PostMessageA(marked, WM_CLOSE, 0, 0);
            // No exchange takes up the panel from here on, also one that found it before.
            for (TChartRecord* record = ActiveRecords; record; record = record->ActiveNext)
                if (record->State == TChartRecord::TState::Attached &&
                    record->PanelWindow == marked)
                    record->State = TChartRecord::TState::Ended;
        }
        // A mark that names a window no longer there goes as well.
        RemovePropA(AWindow, ContainerProperty);
        RemovePropA(AWindow, AttachedProperty);
    } catch (...) {
    }
}

BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID AReserved) {
    switch (AReason) {
    case DLL_PROCESS_ATTACH:
        // Only what is safe under the loader lock: no threads, no windows, no loading.
        DisableThreadLibraryCalls(AInstance);
        TerminalLock.Init();
        try {
            PanelBitmap = new TBitmapXT;
        } catch (...) {
            return FALSE;
        }
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (AReserved set) the other threads are already gone, perhaps one of
        // them inside TerminalLock: the system takes the memory back, so touch nothing.
        if (!AReserved) {
            DoneTheUnit();
            TerminalLock.Done();
        }
        break;
    }
    return TRUE;
}
