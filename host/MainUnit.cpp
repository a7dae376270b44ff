// The host bridge: the exports, the process-wide registry and the library's lifetime, and the
// panel threads that build, attach and run one panel each.
//
// Threads: the exports run on the host's threads; each panel runs on a thread of its own.
// TerminalLock serialises the locked steps of the exports, the building of panels, the freeing
// of panels and the shutdown. A panel thread waits for it only while it still serves sent
// messages, because a host thread holding it may be waiting in ShowWindow for that thread.

#include "host/MainUnit.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "controls/ControlXT.h"
#include "resources/ResourceIds.h"

namespace {

const char ContainerProperty[] = "XT_Container";
const char AttachedProperty[] = "XT_Attached";

// The process-wide objects. Plain pointers: they are made at process attach and freed only when
// the library is released without ever having been pinned, never by the C runtime at exit.
CRITICAL_SECTION TerminalLock;
std::vector<std::unique_ptr<TTerminalData>>* TerminalList = nullptr;  // under TerminalLock
TBitmapXT* PanelBitmap = nullptr;                                     // under TerminalLock
bool ResourcesLoaded = false;                                         // under TerminalLock
// The charts whose panel is being built, each with the one record allowed to build it: at most
// one panel per chart, and a TerminalDelete in the meantime cancels the build. Under TerminalLock.
std::map<HWND, const TTerminalData*>* PendingBuilds = nullptr;

class TTerminalLockGuard {
public:
    TTerminalLockGuard() { EnterCriticalSection(&TerminalLock); }
    ~TTerminalLockGuard() { LeaveCriticalSection(&TerminalLock); }
    TTerminalLockGuard(const TTerminalLockGuard&) = delete;
    TTerminalLockGuard& operator=(const TTerminalLockGuard&) = delete;
};

HANDLE ModuleMark() { return reinterpret_cast<HANDLE>(ThisModule()); }

// Keeps this module loaded for the rest of the process, so that running panel threads and
// window procedures never lose their code. Unlike loading the module again by its path, this
// cannot fail on a long path.
void PinLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

// Under TerminalLock.
void LoadResourcesOnce() {
    if (ResourcesLoaded)
        return;
    ResourcesLoaded = true;
    PinLibrary();
    PanelBitmap->LoadFromResourceID(ThisModule(), PELLITH_PANEL_BITMAP);
}

void DoneTheUnit() {
    EnterCriticalSection(&TerminalLock);
    delete TerminalList;
    TerminalList = nullptr;
    delete PanelBitmap;
    PanelBitmap = nullptr;
    delete PendingBuilds;
    PendingBuilds = nullptr;
    LeaveCriticalSection(&TerminalLock);
}

// Yields the chart's panel window when the chart carries this library's mark and the window
// still exists, after showing it with AShowCommand.
bool FindAttachedPanel(HWND AChart, int AShowCommand, HWND* APanelWindow = nullptr) {
    if (GetPropA(AChart, AttachedProperty) != ModuleMark())
        return false;
    HWND panelWindow = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    if (!IsWindow(panelWindow))
        return false;
    ShowWindow(panelWindow, AShowCommand);
    if (APanelWindow)
        *APanelWindow = panelWindow;
    return true;
}

TPanelXT* PanelOf(HWND APanelWindow) {
    return static_cast<TPanelXT*>(GetPropA(APanelWindow, ContainerProperty));
}

// Takes TerminalLock on a thread that owns windows: while it waits it serves messages sent to
// those windows, so a host thread that holds the lock and waits in a send to us can go on.
void EnterTerminalLockServingSends() {
    while (!TryEnterCriticalSection(&TerminalLock)) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
    }
}

// Marks the chart so that the exports find the panel. Under TerminalLock, in the same hold as
// the build, so that a chart is always either pending or marked for the exports.
void AttachPanel(TPanelXT& APanel, HWND AChart) {
    HWND panelWindow = APanel.Handle();
    SetWindowLongW(AChart, GWL_STYLE, GetWindowLongW(AChart, GWL_STYLE) | WS_CLIPCHILDREN);
    SetPropA(panelWindow, ContainerProperty, &APanel);
    SetPropA(AChart, ContainerProperty, panelWindow);
    SetPropA(AChart, AttachedProperty, ModuleMark());
    SetWindowPos(panelWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

// Builds, lays out and attaches the panel of a record, or nothing when the build was cancelled
// or the chart is gone. Runs on the panel thread, under TerminalLock.
std::unique_ptr<TPanelXT> BuildPanel(const TTerminalData& ARecord) {
    TTerminalLockGuard lock;
    const HWND chart = ARecord.WndChart();
    if (!PendingBuilds)
        return nullptr;
    const auto pending = PendingBuilds->find(chart);
    if (pending == PendingBuilds->end() || pending->second != &ARecord)
        return nullptr;  // cancelled by TerminalDelete, or superseded by a newer TerminalCreate
    PendingBuilds->erase(pending);
    if (!IsWindow(chart))
        return nullptr;

    auto panel = std::make_unique<TPanelXT>();
    try {
        panel->SetParentWindow(chart);
        panel->SetBorderWidth(3);
        panel->SetBevelInner(TBevelCut::bvLowered);
        panel->SetBevelOuter(TBevelCut::bvNone);
        panel->SetBounds(10, 20, 200 + 2 * panel->BorderWidth(), 157);
        panel->CreateControls(ARecord, *PanelBitmap);
        AttachPanel(*panel, chart);
    } catch (...) {
        // Leave no window and no mark behind: the chart stays as it was.
        if (HWND panelWindow = panel->Handle()) {
            if (GetPropA(chart, ContainerProperty) == panelWindow) {
                RemovePropA(chart, ContainerProperty);
                RemovePropA(chart, AttachedProperty);
            }
        }
        panel.reset();
    }
    return panel;
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

// Frees a panel whose loop has ended: first its windows, on this thread that owns them, then,
// exclusive with any exchange that found the panel before its window went, the objects.
void FreePanel(std::unique_ptr<TPanelXT> APanel) {
    if (!APanel)
        return;
    APanel->DestroyHandle();
    EnterTerminalLockServingSends();
    APanel.reset();
    LeaveCriticalSection(&TerminalLock);
}

DWORD WINAPI PanelThreadProc(LPVOID AParameter) {
    auto record = static_cast<const TTerminalData*>(AParameter);
    if (!record)
        return 0;
    std::unique_ptr<TPanelXT> panel;
    try {
        panel = BuildPanel(*record);
        if (panel)
            RunPanelLoop(panel->Handle());
    } catch (...) {
        // The panel goes below, whatever happened to its loop.
    }
    try {
        FreePanel(std::move(panel));
    } catch (...) {
    }
    return 0;
}

} // namespace

extern "C" void __stdcall TerminalCreate(double Ask, double Bid, double Point, double MyPoint,
                                         double Lots, double StopLossPips, double TakeProfitPips,
                                         double TrailStopStartPips, int ADigits, HWND AWindow,
                                         const char* lpSym) {
    try {
        // A panel is no chart: building in one would overwrite the property that leads from
        // its window to its object.
        if (!IsWindow(AWindow) || IsPanelWindow(AWindow))
            return;
        if (FindAttachedPanel(AWindow, SW_SHOWNORMAL))
            return;
        TTerminalLockGuard lock;
        if (!TerminalList || !PendingBuilds)
            return;  // shutting down
        // Another create may have finished or started for this chart while we waited.
        if (PendingBuilds->count(AWindow) || FindAttachedPanel(AWindow, SW_SHOWNORMAL))
            return;
        TerminalList->push_back(std::make_unique<TTerminalData>(
            AWindow, lpSym, Ask, Bid, Point, MyPoint, Lots, StopLossPips, TakeProfitPips,
            TrailStopStartPips, ADigits));
        const TTerminalData* record = TerminalList->back().get();
        LoadResourcesOnce();
        (*PendingBuilds)[AWindow] = record;
        HANDLE thread = CreateThread(nullptr, 0, PanelThreadProc, const_cast<TTerminalData*>(record),
                                     0, nullptr);
        if (thread)
            CloseHandle(thread);  // the thread is detached: nothing waits for it
        else
            PendingBuilds->erase(AWindow);
    } catch (...) {
        // Nothing reaches the host.
    }
}

extern "C" int __stdcall TerminalProcessMsg(double Ask, double Bid, double Point, double MyPoint,
                                            int ADigits, double* AMemory, int AMemorySize,
                                            HWND AWindow) {
    if (!AMemory || AMemorySize != 4)
        return 0;
    try {
        TTerminalLockGuard lock;
        const TTerminalData snapshot(AWindow, nullptr, Ask, Bid, Point, MyPoint, 0, 0, 0, 0,
                                     ADigits);
        HWND panelWindow = nullptr;
        if (IsWindow(AWindow) && FindAttachedPanel(AWindow, SW_SHOWNORMAL, &panelWindow))
            if (TPanelXT* panel = PanelOf(panelWindow))
                return panel->UpdateTerminal(&snapshot, AMemory);
    } catch (...) {
    }
    return 0;
}

extern "C" void __stdcall TerminalDelete(HWND AWindow) {
    try {
        if (!IsWindow(AWindow))
            return;
        HWND panelWindow = nullptr;
        const bool attached = FindAttachedPanel(AWindow, SW_HIDE, &panelWindow);
        TTerminalLockGuard lock;
        // A build may have attached its panel while we waited; otherwise one may be pending.
        if (!attached && !FindAttachedPanel(AWindow, SW_HIDE, &panelWindow)) {
            if (PendingBuilds)
                PendingBuilds->erase(AWindow);
            return;
        }
        PostMessageA(panelWindow, WM_CLOSE, 0, 0);
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
        InitializeCriticalSection(&TerminalLock);
        try {
            PanelBitmap = new TBitmapXT;
            TerminalList = new std::vector<std::unique_ptr<TTerminalData>>;
            PendingBuilds = new std::map<HWND, const TTerminalData*>;
        } catch (...) {
            return FALSE;
        }
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (AReserved set) the other threads are already gone, perhaps one of
        // them inside TerminalLock: the system takes the memory back, so touch nothing.
        if (!AReserved) {
            DoneTheUnit();
            DeleteCriticalSection(&TerminalLock);
        }
        break;
    }
    return TRUE;
}
