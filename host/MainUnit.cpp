// The host bridge: the exports, the process-wide registry and the library's lifetime, and the
// panel threads that build, attach and run one panel each.
//
// Threads: the exports run on the host's threads; each panel runs on a thread of its own. The
// host may kill a thread of its own at any moment, also inside an export, and may catch a fault
// on its own memory inside one: neither may leave another chart, nor its own, waiting.

#include "host/MainUnit.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>

#include "controls/ChartNames.h"
#include "controls/ControlXT.h"
#include "resources/ResourceIds.h"

namespace {

using ChartNames::AttachedProperty;
using ChartNames::ContainerProperty;

// TerminalLock, the library's one lock: a kernel mutex, made at process attach.
// Guards: TerminalList and the links of ActiveRecords, the records' states, creators and
// started flags, ShuttingDown and the replacement of PanelBitmap. Never held across a call that
// waits for another thread, the shell or the host's memory; window properties, posts and
// visibility reads may be made under it, since they never wait for the window's thread.
// Taken by: TerminalCreate and TerminalDelete on the host's threads, and each panel thread
// while it checks, attaches or ends its record. The exchange never takes it.
// A thread killed holding it: the system hands it to the next waiter as abandoned, and every
// change under it is one store, or steps each of which leaves a workable state, so the next
// owner finds the bookkeeping consistent.
TKernelLock TerminalLock;

class TTerminalLockGuard {
public:
    TTerminalLockGuard() : FHeld(TerminalLock.Enter()) {}
    ~TTerminalLockGuard() {
        if (FHeld)
            TerminalLock.Leave();
    }
    TTerminalLockGuard(const TTerminalLockGuard&) = delete;
    TTerminalLockGuard& operator=(const TTerminalLockGuard&) = delete;
    // False when the lock could not be taken: the caller must change nothing it guards.
    bool Held() const { return FHeld; }

private:
    bool FHeld;
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
    TChartRecord* ListNext = nullptr; // TerminalList; set before the record is published
    // ActiveRecords; written under TerminalLock, followed by exchanges without it.
    std::atomic<TChartRecord*> ActiveNext{nullptr};
    enum class TState : unsigned char { Pending, Attached, Ended };
    // Written under TerminalLock, or by the record's own thread when it gives up; read by
    // exchanges without the lock.
    std::atomic<TState> State{TState::Pending};
    // The thread that recorded the chart, until the panel thread is known to be started: a
    // pending record whose creator died before that has no thread to finish it. Both under
    // TerminalLock.
    TKernelHandle Creator;
    bool ThreadStarted = false;
    HWND PanelWindow = nullptr; // set before State becomes Attached, then fixed
    TPanelXT* Panel = nullptr;  // likewise; freed by the last of its users
    // Exchanges using Panel now, plus Closing once its thread is done with it. Whoever takes it
    // to exactly Closing frees the panel: its thread, or the last exchange that used it. An
    // exchange killed while using it leaves the panel's objects unfreed, nothing more.
    std::atomic<long> Users{0};
    static constexpr long Closing = 0x40000000;
};

// The process-wide objects. Plain pointers: they are made at process attach and freed only when
// the library is released without ever having been pinned, never by the C runtime at exit.
TChartRecord* TerminalList = nullptr; // every record, newest first; under TerminalLock
// Pending or attached records, newest first, and ended ones not yet pruned. Changed under
// TerminalLock one link at a time; exchanges follow it without the lock.
std::atomic<TChartRecord*> ActiveRecords{nullptr};
bool ShuttingDown = false;        // under TerminalLock
TBitmapXT* PanelBitmap = nullptr; // replaced once, before the first panel thread starts
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
        if (!lock.Held() || ResourcesLoaded.load() || ShuttingDown)
            return;
        previous = PanelBitmap;
        PanelBitmap = bitmap.release();
        ResourcesLoaded.store(true);
    }
    delete previous;
}

void DoneTheUnit() {
    TTerminalLockGuard lock;
    if (!lock.Held())
        return; // what cannot be guarded is left to the process
    ShuttingDown = true;
    for (TChartRecord* record = TerminalList; record;) {
        TChartRecord* next = record->ListNext;
        delete record;
        record = next;
    }
    TerminalList = nullptr;
    ActiveRecords = nullptr;
    delete PanelBitmap;
    PanelBitmap = nullptr;
}

// ---- the bookkeeping ---------------------------------------------------------------------

// A pending record that nothing will finish: its creator died after recording the chart and
// before it knew its panel thread started. Under TerminalLock.
bool Orphaned(const TChartRecord& ARecord) {
    return ARecord.State.load() == TChartRecord::TState::Pending && !ARecord.ThreadStarted &&
           ARecord.Creator && WaitForSingleObject(ARecord.Creator.Get(), 0) == WAIT_OBJECT_0;
}

// Prunes ActiveRecords: ends orphaned pending records and unlinks ended ones and those whose
// panel is closing. Yields the chart's pending record that remains, if any. Under TerminalLock.
TChartRecord* PruneRecords(HWND AChart) {
    TChartRecord* pending = nullptr;
    std::atomic<TChartRecord*>* link = &ActiveRecords;
    while (TChartRecord* record = link->load()) {
        if (Orphaned(*record)) {
            record->State = TChartRecord::TState::Ended; // one store: a later create may build
            record->Creator.Reset();
        }
        if (record->State.load() == TChartRecord::TState::Ended ||
            (record->Users.load() & TChartRecord::Closing)) {
            // One store, and only ever past a record: an exchange following the list and a
            // killed owner both leave it whole.
            link->store(record->ActiveNext.load());
            continue;
        }
        if (!pending && record->State.load() == TChartRecord::TState::Pending &&
            record->Data.WndChart() == AChart)
            pending = record;
        link = &record->ActiveNext;
    }
    return pending;
}

// Takes a use of the attached panel whose window is APanelWindow; null when there is none or
// its thread is done with it. Without the lock: records are never freed while the library is
// loaded, a link changes by one store that only ever skips records, a record's panel is set
// before its state says Attached, and the use itself is taken by one compare-exchange.
TChartRecord* UsePanel(HWND APanelWindow) {
    for (TChartRecord* record = ActiveRecords.load(); record; record = record->ActiveNext.load()) {
        if (record->State.load() != TChartRecord::TState::Attached ||
            record->PanelWindow != APanelWindow)
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
        if (!lock.Held() || ARecord.State.load() != TChartRecord::TState::Pending)
            return nullptr; // cancelled by TerminalDelete, or orphaned
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
    if (!lock.Held() || ARecord.State.load() != TChartRecord::TState::Pending || !panelWindow)
        return false;
    SetPropA(chart, ContainerProperty, panelWindow);
    SetPropA(chart, AttachedProperty, ModuleMark());
    ARecord.Panel = &APanel;
    ARecord.PanelWindow = panelWindow;
    ARecord.State = TChartRecord::TState::Attached; // publishes the two above to exchanges
    return true;
}

// Ends a record that has no panel (or no longer one), by one store that needs no lock: only
// the record's own thread, or its creator when no thread could be made, ends it this way, and
// the next prune unlinks it.
void EndRecord(TChartRecord& ARecord) {
    ARecord.State = TChartRecord::TState::Ended;
}

// Tells the record whether its panel thread was made. From here on it no longer depends on its
// creator staying alive: one store decides, started or ended.
void ThreadAskedFor(TChartRecord& ARecord, bool AStarted) {
    TTerminalLockGuard lock;
    if (!AStarted)
        EndRecord(ARecord);
    if (!lock.Held())
        return; // the creator's handle stays: the record is judged when the creator ends
    ARecord.ThreadStarted = AStarted;
    ARecord.Creator.Reset();
}

// A handle of the calling thread that can be waited on, owned by the caller; empty when the
// system cannot make one.
TKernelHandle CurrentThreadHandle() {
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                         SYNCHRONIZE, FALSE, 0))
        return TKernelHandle();
    return TKernelHandle(thread);
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
        // If this thread dies before it knows the panel thread started, the chart's next
        // create finds it dead and records the chart anew.
        record->Creator = CurrentThreadHandle();
        if (!record->Creator)
            return;
        TChartRecord* started = nullptr;
        {
            TTerminalLockGuard lock;
            if (!lock.Held() || ShuttingDown)
                return;
            // Another create may have finished or started for this chart meanwhile.
            if (PruneRecords(AWindow) || MarkedPanel(AWindow))
                return;
            started = record.release();
            started->ListNext = TerminalList;
            started->ActiveNext = ActiveRecords.load();
            TerminalList = started;
            ActiveRecords = started; // one store: from here the chart is pending
        }
        // The thread is detached: nothing waits for it.
        const TKernelHandle thread(CreateThread(nullptr, 0, PanelThreadProc, started, 0, nullptr));
        ThreadAskedFor(*started, static_cast<bool>(thread));
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
        // No lock: a kill anywhere in an exchange leaves nothing that another call waits for.
        TChartRecord* record = UsePanel(panelWindow);
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

// What TerminalDelete does, by what it finds under the lock:
//   a pending record for the chart           ends it: the build is cancelled
//   no mark of this library                  nothing more
//   the mark, naming the panel found before  unmarks the chart, then closes that panel
//     the lock, or one attached since          (WM_CLOSE) and ends its record; a panel
//                                              attached since is hidden as well
//   the mark, naming a newer panel than the  nothing: a create came in between, its panel
//     one found before the lock                stays
//   the mark, naming a window that is gone   unmarks the chart
// Each step is one store or one call, and any prefix leaves a chart that a later create can
// give a panel: the mark goes before the close, so that a chart is never left marked for a
// panel that is closing. A delete killed between the two leaves that panel hidden on the
// chart until the chart goes, and nothing waiting for it.
extern "C" void __stdcall TerminalDelete(HWND AWindow) {
    TFloatingPointGuard floatingPoint;
    try {
        if (!IsWindow(AWindow))
            return;
        // Hidden at once, without waiting for the panel thread; the request is delivered
        // before the close posted below.
        const HWND found = FindAttachedPanel(AWindow, SW_HIDE);
        TTerminalLockGuard lock;
        if (!lock.Held())
            return;
        if (TChartRecord* pending = PruneRecords(AWindow))
            pending->State = TChartRecord::TState::Ended; // one store cancels its build
        if (GetPropA(AWindow, AttachedProperty) != ModuleMark())
            return;
        const HWND marked = static_cast<HWND>(GetPropA(AWindow, ContainerProperty));
        const bool live = marked && IsWindow(marked);
        if (live && marked != found) {
            if (found)
                return; // a newer panel took the chart since we looked: it stays
            ShowWindowAsync(marked, SW_HIDE); // attached since we looked
        }
        // A mark that names a window no longer there goes as well.
        RemovePropA(AWindow, ContainerProperty);
        RemovePropA(AWindow, AttachedProperty);
        if (live) {
            PostMessageA(marked, WM_CLOSE, 0, 0);
            // No exchange takes up the panel from here on, also one that found it before.
            for (TChartRecord* record = ActiveRecords.load(); record;
                 record = record->ActiveNext.load())
                if (record->State.load() == TChartRecord::TState::Attached &&
                    record->PanelWindow == marked)
                    record->State = TChartRecord::TState::Ended;
        }
    } catch (...) {
    }
}

BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID AReserved) {
    switch (AReason) {
    case DLL_PROCESS_ATTACH:
        // Only what is safe under the loader lock: no threads, no windows, no loading. Made
        // here: TerminalLock's mutex and the empty panel bitmap; without either the library
        // refuses to load.
        DisableThreadLibraryCalls(AInstance);
        if (!TerminalLock.Init())
            return FALSE;
        try {
            PanelBitmap = new TBitmapXT;
        } catch (...) {
            TerminalLock.Done();
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
