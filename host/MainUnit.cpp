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
#include <utility>

#include "controls/ChartNames.h"
#include "controls/ControlXT.h"
#include "resources/ResourceIds.h"

namespace {

using ChartNames::AttachedProperty;
using ChartNames::ContainerProperty;

// TerminalLock, the library's one lock: a kernel mutex, made at process attach.
// Guards: the moves of a record from pending to attached and from attached to ended, a
// record's new use, creators and started flags, ShuttingDown and the replacement of
// PanelBitmap. A record's own thread (or its creator, when no thread could be made) also ends
// a record without it, by one store, and a call that could not take it ends a record by one
// compare-exchange (a delete) or adds one to TerminalList (a create). Never held across a call that
// waits for another thread, the shell or the host's memory; window properties, posts and visibility
// reads may be made under it, since they never wait for the window's thread. Taken by:
// TerminalCreate and TerminalDelete on the host's threads, and each panel thread while it checks or
// attaches its record: the host's threads and the panel threads share it. The exchange never takes
// it. Every wait for it is bounded (TKernelLock::WaitBoundMs): a caller that times out changes
// nothing it guards and returns as if it had nothing to do. A thread killed holding it: the system
// hands it to the next waiter as abandoned, and every change under it is one store, or steps each
// of which leaves a workable state, so the next owner finds the bookkeeping consistent.
TKernelLock TerminalLock;

class TTerminalLockGuard {
public:
    explicit TTerminalLockGuard(DWORD ATimeoutMs = TKernelLock::WaitBoundMs)
        : FHeld(TerminalLock.Enter(ATimeoutMs)) {}
    // Takes over a hold its caller already has.
    struct TAdopt {};
    explicit TTerminalLockGuard(TAdopt) : FHeld(true) {}
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
// Records are never freed while the library is loaded (and it is pinned once a panel exists):
// exchanges find them without the lock, so memory one may still read never goes back to the
// heap. An ended record is used again by a later create instead (ClaimEndedRecord), which keeps
// the records as many as the charts alive at once.
//
// Used again only when nothing can still act on the old use: its panel thread let go of it
// (ThreadDone) and no thread that found it without the lock is inside it (InFlight). Such a
// thread counts itself in first and only then checks that the record is the one it looked for
// (its state first, then its chart, window or use); a claim, under TerminalLock, checks that
// the record is ended, counts on its use and then reads InFlight. All of it sequentially
// consistent: in the one total order either the claim reads the count after the increment (and
// leaves the record alone), or the thread's check comes after the claim's read and so after
// the ended state and the new use the claim saw and made, and it finds the record ended or in
// its new use, never attached or pending in the old one. A new use's chart and window are stored
// before its state says attached, so a thread that sees attached sees them too. A thread killed
// while counted in only keeps that one record from being used again.
struct TChartRecord {
    explicit TChartRecord(TTerminalData&& AData) : Data(std::move(AData)) {}

    // ---- for the record's life
    TChartRecord* ListNext = nullptr; // older records; set before the record is published
    // Threads that found the record without the lock and are acting on it (TRecordHold).
    std::atomic<long> InFlight{0};
    // Counts the record's uses, raised under TerminalLock by each claim of the ended record,
    // so that a caller that let go of the record, or holds it, can tell a new use.
    std::atomic<unsigned> Use{0};

    // ---- for one use
    // The create's snapshot: exchanged under TerminalLock when the record is used again, read
    // by the use's panel thread.
    TTerminalData Data;
    std::atomic<HWND> Chart{nullptr}; // Data's chart, for the threads without the lock
    enum class TState : unsigned char { Pending, Attached, Ended };
    // Pending to attached, and attached to ended by a delete, under TerminalLock; ended without
    // it by the record's own thread (or its creator when no thread could be made), and by a
    // delete that could not take the lock (compare-exchange, as is the attach). Read by
    // exchanges without the lock.
    std::atomic<TState> State{TState::Ended};
    // The thread that recorded the chart, until the panel thread is known to be started: a
    // pending record whose creator died before that has no thread to finish it. Under
    // TerminalLock; ThreadStarted is also read without it by a create that waits for the
    // record's creator.
    TKernelHandle Creator;
    std::atomic<bool> ThreadStarted{false};
    // The use's panel thread has let go of the record for good, or none was made for it. Its
    // last touch of the record.
    std::atomic<bool> ThreadDone{false};
    std::atomic<HWND> PanelWindow{nullptr}; // set before State becomes Attached
    // Likewise; the panel's object, made and freed by its thread, whose address only is
    // compared by the other threads: they never use the panel's objects.
    std::atomic<TPanelXT*> Panel{nullptr};
    // All that exchanges and the panel share: an exchange touches this and the windows' handles,
    // nothing else of the panel's, so one killed anywhere leaves the panel whole and freeable.
    TExchangeState Shared;
};

// A record found without the lock, counted in (InFlight) while held: it is not used again
// before the hold ends. Empty when the record was not what the finder looked for.
class TRecordHold {
public:
    TRecordHold() = default;
    explicit TRecordHold(TChartRecord& ARecord) : FRecord(&ARecord) {
        FRecord->InFlight.fetch_add(1);
    }
    TRecordHold(TRecordHold&& AOther) noexcept : FRecord(std::exchange(AOther.FRecord, nullptr)) {}
    TRecordHold& operator=(TRecordHold&&) = delete;
    ~TRecordHold() { Release(); }
    void Release() {
        if (FRecord)
            std::exchange(FRecord, nullptr)->InFlight.fetch_sub(1);
    }
    TChartRecord* Get() const { return FRecord; }
    TChartRecord* operator->() const { return FRecord; }
    explicit operator bool() const { return FRecord != nullptr; }

private:
    TChartRecord* FRecord = nullptr;
};

// The process-wide objects. Plain pointers: they are made at process attach and freed only when
// the library is released without ever having been pinned, never by the C runtime at exit.
// Every record, newest first. Only ever grows, at its head, by one compare-exchange
// (PublishRecord); every thread follows it without the lock (a record's ListNext never changes
// once published).
std::atomic<TChartRecord*> TerminalList{nullptr};
bool ShuttingDown = false;        // under TerminalLock
TBitmapXT* PanelBitmap = nullptr; // replaced once, before the first panel thread starts
// The powered-by link is opened by a thread of the library's own: the shell may take seconds and
// takes the loader's lock, and the host may kill an expert's thread at any instruction. An
// exchange asks by one increment and one SetEvent; the opener opens the link once per request,
// owned by the panel that asked last. Started by the first panel thread (starting a thread takes
// the loader's lock, so no host thread does it), only once the library is pinned, and never
// stopped: it waits on LinkAsked for the rest of the process.
TKernelHandle LinkAsked;              // auto-reset; made at process attach
std::atomic<long> LinkRequests{0};    // clicks not yet opened
std::atomic<HWND> LinkOwner{nullptr}; // the panel window of the latest request
std::atomic<bool> LinkOpenerStarted{false};
// How long a create waits for a pending record's creator that is being killed.
constexpr DWORD CreatorWaitMs = 2000;
std::atomic<bool> ResourcesLoaded{false};

HANDLE ModuleMark() {
    return reinterpret_cast<HANDLE>(ThisModule());
}

// Keeps this module loaded for the rest of the process, so that running panel threads and
// window procedures never lose their code. Unlike loading the module again by its path, this
// cannot fail on a long path.
bool PinLibrary() {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&PinLibrary), &self) != 0;
}

// Pins the library and loads the panel bitmap, the first time only; a later create tries again
// when either failed, and until then panels show an empty picture. Without the lock: pinning
// takes the loader lock, which another thread may hold while it waits for us.
void LoadResourcesOnce() {
    if (ResourcesLoaded.load())
        return;
    if (!PinLibrary())
        return; // unpinned, a panel's code could leave with the library while it runs
    auto bitmap = std::make_unique<TBitmapXT>();
    if (!bitmap->LoadFromResourceID(ThisModule(), PELLITH_PANEL_BITMAP))
        return;
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

DWORD WINAPI LinkOpenerProc(LPVOID) {
    while (WaitForSingleObject(LinkAsked.Get(), INFINITE) == WAIT_OBJECT_0)
        for (long requests = LinkRequests.exchange(0); requests > 0; --requests)
            try {
                OpenWebLink(LinkOwner.load(), PoweredByLink().c_str());
            } catch (...) {
            }
    return 0;
}

// Starts the link opener the first time, once the library is pinned. Panel threads only.
void StartLinkOpenerOnce() {
    if (!ResourcesLoaded.load() || LinkOpenerStarted.exchange(true))
        return;
    const TKernelHandle thread(
        CreateThread(nullptr, 0, LinkOpenerProc, nullptr, CREATE_SUSPENDED, nullptr));
    if (!thread) {
        LinkOpenerStarted.store(false); // the next panel thread tries again
        return;
    }
    // Named before it runs, so that a count of the threads that come and go with panels can
    // tell it from them.
    using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    if (const auto describe = reinterpret_cast<TSetDescription>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription"))))
        describe(thread.Get(), ChartNames::LinkOpenerThreadName);
    ResumeThread(thread.Get());
}

// Asks the link opener for the link, owned by APanelWindow. Nothing but atomics and one
// SetEvent, which takes no lock of the process: the exchange's thread may be killed in it.
void AskForLink(HWND APanelWindow) {
    LinkOwner.store(APanelWindow);
    LinkRequests.fetch_add(1);
    SetEvent(LinkAsked.Get());
}

void DoneTheUnit() {
    TTerminalLockGuard lock;
    if (!lock.Held())
        return; // what cannot be guarded is left to the process
    ShuttingDown = true;
    for (TChartRecord* record = TerminalList.exchange(nullptr); record;)
        delete std::exchange(record, record->ListNext);
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

// Ends orphaned pending records and yields a pending record of the chart that remains, other
// than AExcept, if any. Under TerminalLock.
TChartRecord* EndOrphansAndFindPending(HWND AChart, const TChartRecord* AExcept = nullptr) {
    TChartRecord* pending = nullptr;
    for (TChartRecord* record = TerminalList.load(); record; record = record->ListNext) {
        if (Orphaned(*record)) {
            record->State = TChartRecord::TState::Ended; // one store: a later create may build
            record->Creator.Reset();
        }
        if (!pending && record != AExcept &&
            record->State.load() == TChartRecord::TState::Pending && record->Chart.load() == AChart)
            pending = record;
    }
    return pending;
}

// Ends ARecord when it is still AFrom in the use that the chart AChart has (and, when AUse is
// given, that use): held, the record's use cannot change, and the state is read before the
// chart and the use since a new use sets them before its state. Without the lock: the
// compare-exchange loses to an attach or a close made meanwhile, never undoes one.
bool EndIfStill(TChartRecord& ARecord, TChartRecord::TState AFrom, HWND AChart,
                const unsigned* AUse = nullptr) {
    const TRecordHold hold(ARecord);
    if (ARecord.State.load() != AFrom || ARecord.Chart.load() != AChart ||
        (AUse && ARecord.Use.load() != *AUse))
        return false;
    return ARecord.State.compare_exchange_strong(AFrom, TChartRecord::TState::Ended);
}

// Cancels every pending create of the chart: its panel thread builds nothing, or attaches
// nothing it built. Without the lock, so that a delete that cannot take it still cancels a
// create that is waiting for it.
void CancelPendingCreates(HWND AChart) {
    for (TChartRecord* record = TerminalList.load(); record; record = record->ListNext)
        if (record->State.load() == TChartRecord::TState::Pending && record->Chart.load() == AChart)
            EndIfStill(*record, TChartRecord::TState::Pending, AChart);
}

// Publishes a record that was never published: one compare-exchange at the list's head, with
// or without the lock. Records never leave the list, so its head cannot come back (no ABA).
void PublishRecord(TChartRecord& ARecord) {
    TChartRecord* head = TerminalList.load();
    do
        ARecord.ListNext = head;
    while (!TerminalList.compare_exchange_weak(head, &ARecord));
}

// An ended record that nothing can act on any more, claimed for a new use; null when there is
// none. Under TerminalLock; the ordering that makes it safe is told at TChartRecord.
TChartRecord* ClaimEndedRecord() {
    for (TChartRecord* record = TerminalList.load(); record; record = record->ListNext) {
        if (record->State.load() != TChartRecord::TState::Ended || !record->ThreadDone.load())
            continue;
        // The use is counted on before the count of holders is read: a holder that compares
        // the use after counting itself in then sees the new one, or is seen here. A record
        // left for now keeps the use counted on, which only tells late callers it is over.
        record->Use.fetch_add(1);
        if (record->InFlight.load() != 0)
            continue;
        record->Creator.Reset(); // a creator that is still to come sees the new use, and leaves
        return record;
    }
    return nullptr;
}

// Starts a use of ARecord for the chart of its Data, created by ACreator: everything is set
// before the state that makes the chart pending. Under TerminalLock, or on a record not yet
// published.
void StartUse(TChartRecord& ARecord, TKernelHandle&& ACreator) {
    ARecord.Chart.store(ARecord.Data.WndChart());
    ARecord.Creator = std::move(ACreator);
    ARecord.ThreadStarted.store(false);
    ARecord.ThreadDone.store(false);
    ARecord.PanelWindow.store(nullptr);
    ARecord.Panel.store(nullptr);
    ARecord.Shared.Clear();
    ARecord.State.store(TChartRecord::TState::Pending); // one store: from here the chart is pending
}

// The attached record of this chart whose panel window is AMarked, the window the chart's mark
// names, held; empty for a mark that names no panel this chart attached (a stale handle, or a
// foreign one, perhaps another chart's panel: window handles are reused). Without the lock:
// records are never freed and the list only grows at its head; a record is checked again once
// held, since it may have been used again before.
TRecordHold AttachedRecord(HWND AChart, HWND AMarked) {
    if (!AMarked)
        return {};
    const auto matches = [&](const TChartRecord& ARecord) {
        return ARecord.State.load() == TChartRecord::TState::Attached &&
               ARecord.PanelWindow.load() == AMarked && ARecord.Chart.load() == AChart;
    };
    for (TChartRecord* record = TerminalList.load(); record; record = record->ListNext)
        if (matches(*record)) {
            TRecordHold hold(*record);
            if (matches(*record))
                return hold;
        }
    return {};
}

// ---- the panel's lifetime, without the lock ----------------------------------------------

// The window the chart's mark names, when the chart carries this library's mark; null otherwise.
// Reads the chart's properties only: nothing waits for any thread.
HWND MarkedWindow(HWND AChart) {
    if (GetPropA(AChart, AttachedProperty) != ModuleMark())
        return nullptr;
    return static_cast<HWND>(GetPropA(AChart, ContainerProperty));
}

// Whether APanelWindow is still the record's panel on its chart: a window of the panels' class
// whose "XT_Container" names the record's panel object, and a child of the record's chart.
// Checked before the library shows, hides or closes a window, since a handle alone says
// nothing about whose window it is once the one it named is gone.
bool IsChartsOwnPanel(const TChartRecord& ARecord, HWND APanelWindow) {
    return IsPanelWindow(APanelWindow) &&
           GetPropA(APanelWindow, ContainerProperty) == ARecord.Panel.load() &&
           GetAncestor(APanelWindow, GA_PARENT) == ARecord.Chart.load();
}

// A chart's own live panel as it was seen: its record, the record's use and its window. The
// record may be used again once seen; under TerminalLock it stays as seen.
struct TPanelSeen {
    TChartRecord* Record = nullptr;
    unsigned Use = 0;
    HWND Window = nullptr;
    explicit operator bool() const { return Record != nullptr; }
    bool operator==(const TPanelSeen&) const = default;
};

// The chart's attached record whose panel window the mark names and is still the chart's own;
// empty when the chart has no live panel of this library. Without the lock, as AttachedRecord.
TPanelSeen OwnPanel(HWND AChart) {
    const HWND marked = MarkedWindow(AChart);
    const TRecordHold record = AttachedRecord(AChart, marked);
    if (!record || !IsChartsOwnPanel(*record.Get(), marked))
        return {};
    return {record.Get(), record->Use.load(), marked};
}

// Asks for APanelWindow to be shown or hidden with AShowCommand when its own visibility bit
// says otherwise. Posted, never waited for: a panel already so costs nothing, and the other is
// changed by its thread in its own time.
void ShowPanelAsync(HWND APanelWindow, int AShowCommand) {
    const LONG style = GetWindowLongW(APanelWindow, GWL_STYLE);
    if (((style & WS_VISIBLE) != 0) != (AShowCommand != SW_HIDE))
        ShowWindowAsync(APanelWindow, AShowCommand);
}

// Runs the panel's messages until its window is gone or its record is ended; the timer wakes
// the loop at least every 300 ms, so a delete whose close could not be posted still ends it.
void RunPanelLoop(const TChartRecord& ARecord, HWND APanelWindow) {
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
    } while (received > 0 && IsWindow(APanelWindow) &&
             ARecord.State.load() != TChartRecord::TState::Ended);
    KillTimer(APanelWindow, timerId);
}

// Waits for TerminalLock on a panel thread for as long as its record stays pending and its
// chart lives, one bounded wait at a time: the create that asked for the panel returned long
// ago and nobody asks again, so giving up at the first bound would leave the chart without a
// panel. Each bound passed rechecks whether a delete cancelled the build without the lock.
bool EnterForPendingRecord(const TChartRecord& ARecord) {
    for (;;) {
        if (ARecord.State.load() != TChartRecord::TState::Pending ||
            !IsWindow(ARecord.Chart.load()))
            return false;
        if (TerminalLock.Enter())
            return true;
    }
}

// Builds and lays out the record's panel, without the lock: creating a child of the chart and
// changing the chart's style wait for the chart's thread. Null when the chart is gone, the
// build was cancelled before it began, or the chart has a panel or another pending create by
// now (a create that recorded the chart without the lock was not checked for either).
std::unique_ptr<TPanelXT> BuildPanel(TChartRecord& ARecord) {
    const HWND chart = ARecord.Chart.load();
    if (!EnterForPendingRecord(ARecord))
        return nullptr;
    {
        const TTerminalLockGuard lock{TTerminalLockGuard::TAdopt{}};
        // The creator is needed no more: this thread finishes the record. Closed here too, as
        // a creator killed before it said its thread started never closes it.
        ARecord.Creator.Reset();
        if (ARecord.State.load() != TChartRecord::TState::Pending ||
            EndOrphansAndFindPending(chart, &ARecord) || OwnPanel(chart))
            return nullptr; // cancelled by TerminalDelete, orphaned, or the chart is served
    }
    if (!IsWindow(chart))
        return nullptr;
    auto panel = std::make_unique<TPanelXT>(&ARecord.Shared);
    panel->Build(chart, ARecord.Data, *PanelBitmap);
    SetWindowLongW(chart, GWL_STYLE, GetWindowLongW(chart, GWL_STYLE) | WS_CLIPCHILDREN);
    SetPropA(panel->Handle(), ContainerProperty, panel.get());
    SetWindowPos(panel->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return panel;
}

// Marks the chart for a built panel, unless its build was cancelled meanwhile: the chart goes
// from pending to marked in one hold of the lock. On success the record holds the panel.
// The record is attached before the chart is marked: an exchange that finds the mark must find
// the record attached too, or a host that saw the mark would get no answer from its panel.
bool AttachPanel(TChartRecord& ARecord, TPanelXT& APanel) {
    const HWND chart = ARecord.Chart.load();
    const HWND panelWindow = APanel.Handle();
    if (!panelWindow || !EnterForPendingRecord(ARecord))
        return false;
    const TTerminalLockGuard lock{TTerminalLockGuard::TAdopt{}};
    ARecord.Panel.store(&APanel);
    ARecord.PanelWindow = panelWindow;
    // Publishes the two above to exchanges; loses to a delete that cancelled the build without
    // the lock.
    auto pending = TChartRecord::TState::Pending;
    if (!ARecord.State.compare_exchange_strong(pending, TChartRecord::TState::Attached)) {
        ARecord.Panel.store(nullptr);
        return false;
    }
    SetPropA(chart, ContainerProperty, panelWindow);
    SetPropA(chart, AttachedProperty, ModuleMark());
    return true;
}

// Ends a record by one store, without the lock: its own thread does so once it has no panel
// (or no longer one), and its creator when no thread could be made.
void EndRecord(TChartRecord& ARecord) {
    ARecord.State = TChartRecord::TState::Ended;
}

// Tells the record, in its use AUse, whether its panel thread was made, so that it is never
// taken for orphaned once its creator returns and its thread ends: without the lock, so that a
// create that waited out the lock's bound once does not wait it out again. A record with no
// thread is ended and let go of at once (no thread is left to do it). A started one may be
// ended and let go of by its thread already, and in a new use: held, and its use compared, it
// is changed only in its own use. The creator's handle is closed here when the lock is free at
// once, and otherwise by the panel thread or the record's next use.
void ThreadAskedFor(TChartRecord& ARecord, unsigned AUse, bool AStarted) {
    if (!AStarted) {
        EndRecord(ARecord);
        ARecord.ThreadDone.store(true);
    } else {
        const TRecordHold hold(ARecord);
        if (ARecord.Use.load() == AUse)
            ARecord.ThreadStarted.store(true);
    }
    const TTerminalLockGuard lock(0);
    if (lock.Held() && ARecord.Use.load() == AUse)
        ARecord.Creator.Reset();
}

// Waits, bounded, until a pending record no longer depends on its creator: the creator knew its
// panel thread started, or the creator's thread is dead (a thread being killed is still alive
// for a moment after the kill returns). The caller then finds it started or orphaned. ACreator
// is the caller's own handle of the creator's thread.
void WaitForCreator(const TChartRecord& ARecord, HANDLE ACreator) {
    const ULONGLONG until = GetTickCount64() + CreatorWaitMs;
    while (!ARecord.ThreadStarted.load() && ARecord.State.load() == TChartRecord::TState::Pending &&
           WaitForSingleObject(ACreator, 10) == WAIT_TIMEOUT && GetTickCount64() < until) {
    }
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
    // The record has a thread to finish it now, whether or not its creator lives to say so.
    record->ThreadStarted.store(true);
    StartLinkOpenerOnce();
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
        record->ThreadDone.store(true); // the thread's last touch of the record
        return 0;
    }
    try {
        RunPanelLoop(*record, panel->Handle());
    } catch (...) {
        // The panel goes below, whatever happened to its loop.
    }
    // The windows go first, on this thread that owns them; then the objects, which no other
    // thread uses. No lock is needed.
    try {
        panel->DestroyHandle();
    } catch (...) {
    }
    EndRecord(*record); // also when its window was closed from outside the library
    record->Panel.store(nullptr);
    try {
        panel.reset();
    } catch (...) {
    }
    record->ThreadDone.store(true); // the thread's last touch of the record
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
        if (const TPanelSeen own = OwnPanel(AWindow)) {
            ShowPanelAsync(own.Window, SW_SHOWNORMAL);
            return;
        }
        LoadResourcesOnce();
        // The symbol is read here, before the lock: a fault on the host's memory holds nothing.
        // The new record is made here too, and freed after the lock (with the snapshot of the
        // use it replaced) when an ended record is used instead.
        auto fresh = std::make_unique<TChartRecord>(
            TTerminalData(AWindow, lpSym, Ask, Bid, Point, MyPoint, Lots, StopLossPips,
                          TakeProfitPips, TrailStopStartPips, ADigits));
        // If this thread dies before it knows the panel thread started, the chart's next
        // create finds it dead and records the chart anew.
        TKernelHandle self = CurrentThreadHandle();
        if (!self)
            return;
        TChartRecord* started = nullptr;
        unsigned use = 0;
        // A pending record whose creator is being killed is waited for once, briefly: the
        // experts create once, so a create that gave up on it would leave the chart without a
        // panel for good.
        for (bool waited = false; !started;) {
            TKernelHandle creator;
            TChartRecord* pending = nullptr;
            {
                TTerminalLockGuard lock;
                if (!lock.Held()) {
                    // Its owner keeps the lock past the bound: the chart is recorded without
                    // it, and the panel thread checks what this create could not once it has
                    // the lock. The experts create once: a create that gave up here would leave
                    // the chart without a panel for good.
                    started = fresh.release();
                    StartUse(*started, std::move(self));
                    PublishRecord(*started);
                    break;
                }
                if (ShuttingDown)
                    return;
                // Another create may have finished or started for this chart meanwhile.
                pending = EndOrphansAndFindPending(AWindow);
                if (pending && !waited && !pending->ThreadStarted.load() && pending->Creator) {
                    HANDLE copy = nullptr;
                    if (DuplicateHandle(GetCurrentProcess(), pending->Creator.Get(),
                                        GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
                        creator.Reset(copy);
                }
                if (!creator && (pending || OwnPanel(AWindow)))
                    return;
                if (!creator) {
                    started = ClaimEndedRecord();
                    if (started) {
                        std::swap(started->Data, fresh->Data); // moves, nothing allocated
                        StartUse(*started, std::move(self));
                        use = started->Use.load();
                    } else {
                        started = fresh.release();
                        StartUse(*started, std::move(self));
                        PublishRecord(*started);
                    }
                }
            }
            if (creator) {
                WaitForCreator(*pending, creator.Get());
                waited = true;
            }
        }
        // The thread is detached: nothing waits for it, and its handle is closed within the
        // same expression, so that no call of ours comes between (a kill there leaks it).
        const bool threadMade = static_cast<bool>(
            TKernelHandle(CreateThread(nullptr, 0, PanelThreadProc, started, 0, nullptr)));
        ThreadAskedFor(*started, use, threadMade);
    } catch (...) {
        // Nothing reaches the host.
    }
}

// The exchange runs on the expert's thread, which the host may kill at any instruction: it
// takes no lock, allocates nothing and calls nothing that takes the heap's, the loader's or the
// shell's lock. It meets the panel only in the record's shared state (atomics) and through the
// panel window's handle; the panel thread, woken by a posted WM_XTWAKE (or its timer when the
// post did not happen), formats the quote and applies the hover rule.
extern "C" int __stdcall TerminalProcessMsg(double Ask, double Bid, [[maybe_unused]] double Point,
                                            double MyPoint, int ADigits, double* AMemory,
                                            int AMemorySize, HWND AWindow) {
    if (!AMemory || AMemorySize != ExchangeBlockSize)
        return erNothing;
    TFloatingPointGuard floatingPoint;
    // Only the chart's own record is used: a mark that names another chart's panel, or any
    // window this chart did not attach, gives nothing.
    const HWND panelWindow = MarkedWindow(AWindow);
    // Held until the record is done with: meanwhile it is not used for another create.
    TRecordHold record = AttachedRecord(AWindow, panelWindow);
    if (!record)
        return erNothing;
    // A window's style is never 0 (a child has WS_CHILD), so 0 means the panel is gone.
    const LONG style = GetWindowLongW(panelWindow, GWL_STYLE);
    if (!style)
        return erNothing;
    // A hidden panel is shown again, once it is proven the chart's own.
    if (!(style & WS_VISIBLE) && IsChartsOwnPanel(*record.Get(), panelWindow))
        ShowWindowAsync(panelWindow, SW_SHOWNORMAL);
    TExchangeState& shared = record->Shared;
    const TTakenExchange taken = TakeExchange(shared, GetTickCount64());
    shared.StoreQuote(QuoteOf(Ask, Bid, MyPoint, ADigits));
    // One wake in the panel's queue at a time: the panel clears the request before it looks.
    if (!shared.WakeAsked.exchange(true) && !PostMessageW(panelWindow, WM_XTWAKE, 0, 0))
        shared.WakeAsked.store(false);
    record.Release();
    if (taken.OpenLink)
        AskForLink(panelWindow);
    // The host's memory comes last: a fault on it, caught by the host, abandons nothing of ours.
    std::copy(std::begin(taken.Values), std::end(taken.Values), AMemory);
    return taken.Result;
}

// What TerminalDelete does, by what it finds under the lock:
//   pending records for the chart            ends them: their builds are cancelled
//   no mark of this library                  nothing else
//   the mark, naming the chart's own panel    unmarks the chart, then closes that panel
//     found before the lock, or one attached   (WM_CLOSE) and ends its record; a panel
//     since                                    attached since is hidden as well
//   the mark, naming a newer own panel than   nothing: a create came in between, its panel
//     the one found before the lock            stays
//   the mark, naming a window that is no      unmarks the chart and touches that window not
//     panel of this chart (gone, or foreign)   at all: its handle may be anybody's by now
// Each step is one store or one call, and any prefix leaves a chart that a later create can
// give a panel: the mark goes before the close, so that a chart is never left marked for a
// panel that is closing. A delete killed between the two leaves that panel hidden on the
// chart until the chart goes, and nothing waiting for it. A delete that cannot take the lock
// cancels the pending records and ends and closes the panel found before, and leaves the mark.
extern "C" void __stdcall TerminalDelete(HWND AWindow) {
    TFloatingPointGuard floatingPoint;
    try {
        if (!IsWindow(AWindow))
            return;
        // Hidden at once, without waiting for the panel thread; the request is delivered
        // before the close posted below.
        const TPanelSeen found = OwnPanel(AWindow);
        if (found)
            ShowPanelAsync(found.Window, SW_HIDE);
        TTerminalLockGuard lock;
        if (!lock.Held()) {
            // Its owner keeps the lock past the bound. What needs no lock is done all the
            // same, or a create waiting for the lock would build a panel the expert deleted:
            // the chart's pending creates are cancelled, and the panel found is ended and
            // closed. The chart's marks stay, naming a window that is gone or not this
            // chart's: nothing takes a mark alone for a panel.
            CancelPendingCreates(AWindow);
            if (found &&
                EndIfStill(*found.Record, TChartRecord::TState::Attached, AWindow, &found.Use))
                PostMessageA(found.Window, WM_CLOSE, 0, 0);
            return;
        }
        EndOrphansAndFindPending(AWindow);
        CancelPendingCreates(AWindow); // their builds
        if (GetPropA(AWindow, AttachedProperty) != ModuleMark())
            return;
        // Under the lock no record is used again: what is seen here stays so. A record seen
        // before the lock compares by its use as well, since it may have been used again.
        const TPanelSeen own = OwnPanel(AWindow);
        if (own && own != found) {
            if (found)
                return; // a newer panel took the chart since we looked: it stays
            ShowPanelAsync(own.Window, SW_HIDE); // attached since we looked
        }
        RemovePropA(AWindow, ContainerProperty);
        RemovePropA(AWindow, AttachedProperty);
        if (own) {
            // No exchange takes up the panel from here on, also one that found it before. If
            // the close cannot be posted (a full queue), the ended record ends the panel's loop
            // at its next timer tick.
            own.Record->State = TChartRecord::TState::Ended;
            PostMessageA(own.Window, WM_CLOSE, 0, 0);
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
        LinkAsked.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!LinkAsked) {
            TerminalLock.Done();
            return FALSE;
        }
        try {
            PanelBitmap = new TBitmapXT;
        } catch (...) {
            LinkAsked.Reset();
            TerminalLock.Done();
            return FALSE;
        }
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (AReserved set) the other threads are already gone, perhaps one of
        // them inside TerminalLock: the system takes the memory back, so touch nothing.
        if (!AReserved) {
            DoneTheUnit();
            LinkAsked.Reset();
            TerminalLock.Done();
        }
        break;
    }
    return TRUE;
}
