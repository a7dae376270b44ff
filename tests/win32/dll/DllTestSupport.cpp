#include "tests/win32/dll/DllTestSupport.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

// ---- options and child processes ---------------------------------------------------------

// Set by the test program's main from its command line.
extern std::vector<std::string> TestArguments;

std::wstring TestOption(const char* AName) { return CommandLineOption(TestArguments, AName); }

const std::wstring& DllPath() {
    static const std::wstring path = TestOption("dll");
    return path;
}

bool InChildProcess() {
    return TestOption("child") == L"1";
}

int RunThisTestInChildProcess(std::chrono::seconds ADeadline, const std::wstring& AExtraArguments) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!test)
        return -1;
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=" +
                               Wide(test->test_suite_name()) + L"." + Wide(test->name()) +
                               L" \"--dll=" + DllPath() + L"\" --child=1 " + AExtraArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start the child process: " << SystemErrorText(GetLastError());
        return -1;
    }
    TKernelHandle processHandle(process.hProcess);
    TKernelHandle threadHandle(process.hThread);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline);
    if (WaitForSingleObject(processHandle.Get(), static_cast<DWORD>(milliseconds.count())) !=
        WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 99);
        WaitForSingleObject(processHandle.Get(), 10000);
        ADD_FAILURE() << "the child process did not end within " << ADeadline.count() << " s";
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(processHandle.Get(), &code);
    return static_cast<int>(code);
}

// ---- where each thread stands ------------------------------------------------------------

namespace {

struct TProgressSlot {
    std::atomic<DWORD> ThreadId{0};
    std::atomic<const char*> Name{nullptr};
    std::atomic<const char*> Step{nullptr};
    std::atomic<long> Steps{0};
};

constexpr int ProgressSlots = 64;
TProgressSlot ProgressBoard[ProgressSlots];

TProgressSlot* MySlot() {
    thread_local TProgressSlot* slot = nullptr;
    if (slot && slot->ThreadId.load() == GetCurrentThreadId())
        return slot;
    const DWORD me = GetCurrentThreadId();
    for (TProgressSlot& candidate : ProgressBoard) {
        DWORD expected = 0;
        if (candidate.ThreadId.load() == me ||
            candidate.ThreadId.compare_exchange_strong(expected, me)) {
            slot = &candidate;
            return slot;
        }
    }
    // A full board reuses the last slot: a diagnostic, not a record.
    slot = &ProgressBoard[ProgressSlots - 1];
    return slot;
}

} // namespace

void Progress(const char* AStep) {
    TProgressSlot* slot = MySlot();
    slot->Step.store(AStep);
    slot->Steps.fetch_add(1);
}

void ProgressThreadName(const char* AName) {
    MySlot()->Name.store(AName);
}

void PrintWhereThreadsStand() {
    std::fprintf(stderr, "where the test's threads stand:\n");
    for (const TProgressSlot& slot : ProgressBoard) {
        const DWORD id = slot.ThreadId.load();
        if (!id)
            continue;
        const char* name = slot.Name.load();
        const char* step = slot.Step.load();
        std::fprintf(stderr, "  thread %04lx %-16s step %-50s (%ld steps)\n",
                     static_cast<unsigned long>(id), name ? name : "-", step ? step : "-",
                     slot.Steps.load());
    }
    // Where every thread of the process is: its instruction pointer and the return addresses
    // near the top of its stack, by module. The threads are suspended only to copy their
    // context and stack top, and resumed before anything here could take a lock one of them
    // holds.
    constexpr int StackWords = 512;
    struct TWhere {
        DWORD Id;
        DWORD Eip;
        DWORD Stack[StackWords];
        int Words;
    };
    auto threads = std::make_unique<TWhere[]>(64);
    int count = 0;
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more && count < 64;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
            entry.th32ThreadID == GetCurrentThreadId())
            continue;
        TWhere& where = threads[count++];
        where = TWhere{entry.th32ThreadID, 0, {}, 0};
        TKernelHandle thread(
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID));
        if (!thread || SuspendThread(thread.Get()) == static_cast<DWORD>(-1))
            continue;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread.Get(), &context)) {
            where.Eip = context.Eip;
            MEMORY_BASIC_INFORMATION region{};
            const auto* top = reinterpret_cast<const DWORD*>(context.Esp);
            if (VirtualQuery(top, &region, sizeof region) && region.State == MEM_COMMIT) {
                const auto* end = reinterpret_cast<const DWORD*>(
                    static_cast<const char*>(region.BaseAddress) + region.RegionSize);
                where.Words = static_cast<int>(std::min<std::ptrdiff_t>(end - top, StackWords));
                std::memcpy(where.Stack, top, where.Words * sizeof(DWORD));
            }
        }
        ResumeThread(thread.Get());
    }
    const auto moduleOf = [](DWORD AAddress, char(&APath)[MAX_PATH]) -> uintptr_t {
        HMODULE module = nullptr;
        if (AAddress < 0x10000 ||
            !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(AAddress)),
                                &module))
            return 0;
        GetModuleFileNameA(module, APath, MAX_PATH);
        const char* name = std::strrchr(APath, '\\');
        if (name)
            std::memmove(APath, name + 1, std::strlen(name));
        return reinterpret_cast<uintptr_t>(module);
    };
    std::fprintf(stderr, "the process's threads:\n");
    for (int t = 0; t < count; ++t) {
        const TWhere& where = threads[t];
        char path[MAX_PATH] = "?";
        const uintptr_t base = moduleOf(where.Eip, path);
        std::fprintf(stderr, "  thread %04lx at %s+0x%lx;", static_cast<unsigned long>(where.Id),
                     path, static_cast<unsigned long>(where.Eip - base));
        int shown = 0;
        for (int w = 0; w < where.Words && shown < 10; ++w) {
            char caller[MAX_PATH] = "?";
            const uintptr_t owner = moduleOf(where.Stack[w], caller);
            if (!owner)
                continue;
            std::fprintf(stderr, " %s+0x%lx", caller,
                         static_cast<unsigned long>(where.Stack[w] - owner));
            ++shown;
        }
        std::fprintf(stderr, "\n");
    }
    std::fflush(stderr);
}

// ---- arguments ---------------------------------------------------------------------------

bool TBlock::IsUntouched() const {
    for (double value : Values)
        if (value != Untouched)
            return false;
    return true;
}

void ExpectBlock(const double* ABlock, double ALots, double AStopLoss, double ATakeProfit,
                 double ATrailingStop) {
    EXPECT_EQ(ABlock[esLots], ALots) << "lot slot";
    EXPECT_EQ(ABlock[esStopLoss], AStopLoss) << "stop-loss slot";
    EXPECT_EQ(ABlock[esTakeProfit], ATakeProfit) << "take-profit slot";
    EXPECT_EQ(ABlock[esTrailingStop], ATrailingStop) << "trailing-stop slot";
}

// ---- the panel seen from outside ----------------------------------------------------------

bool HasClass(HWND AWindow, const wchar_t* AClass) {
    wchar_t name[64] = {};
    return GetClassNameW(AWindow, name, 64) && lstrcmpiW(name, AClass) == 0;
}

std::vector<HWND> PanelChildren(HWND AChart) {
    std::vector<HWND> panels;
    for (HWND child = GetWindow(AChart, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (HasClass(child, PanelClass))
            panels.push_back(child);
    return panels;
}

namespace {

BOOL CALLBACK CollectPanels(HWND AWindow, LPARAM AList) {
    // Other programs on the same display server have panels of their own.
    DWORD process = 0;
    GetWindowThreadProcessId(AWindow, &process);
    if (process == GetCurrentProcessId() && HasClass(AWindow, PanelClass))
        reinterpret_cast<std::vector<HWND>*>(AList)->push_back(AWindow);
    return TRUE;
}

BOOL CALLBACK CollectPanelsAtAnyDepth(HWND AWindow, LPARAM AList) {
    CollectPanels(AWindow, AList);
    // EnumChildWindows walks every descendant.
    EnumChildWindows(AWindow, CollectPanels, AList);
    return TRUE;
}

} // namespace

std::vector<HWND> AllPanelWindows() {
    std::vector<HWND> panels;
    EnumWindows(CollectPanelsAtAnyDepth, reinterpret_cast<LPARAM>(&panels));
    // Message-only windows are not top-level windows of the desktop; walk them too.
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))
        CollectPanelsAtAnyDepth(window, reinterpret_cast<LPARAM>(&panels));
    return panels;
}

RECT RectInParent(HWND AWindow) {
    RECT rect{};
    GetWindowRect(AWindow, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(AWindow), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// ---- process-wide counts ------------------------------------------------------------------

int ThreadCount() {
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    return count;
}

int ThreadsStartedIn(HMODULE AModule) {
    using TQueryThread = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<TQueryThread>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    constexpr int ThreadQuerySetWin32StartAddress = 9;
    MODULEINFO image{};
    if (!query || !GetModuleInformation(GetCurrentProcess(), AModule, &image, sizeof image))
        return -1;
    const auto begin = reinterpret_cast<uintptr_t>(image.lpBaseOfDll);
    const uintptr_t end = begin + image.SizeOfImage;
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        TKernelHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        void* start = nullptr;
        if (thread && query(thread.Get(), ThreadQuerySetWin32StartAddress, &start, sizeof start,
                            nullptr) == 0) {
            const auto address = reinterpret_cast<uintptr_t>(start);
            count += address >= begin && address < end;
        }
    }
    return count;
}

int WaitForThreadsStartedIn(HMODULE AModule, int AExpected, std::chrono::milliseconds ADeadline) {
    int count = ThreadsStartedIn(AModule);
    WaitUntil([&] { return (count = ThreadsStartedIn(AModule)) <= AExpected; }, ADeadline);
    return count;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

int WaitForThreadCount(int AExpected, std::chrono::milliseconds ADeadline) {
    int count = ThreadCount();
    WaitUntil([&] { return (count = ThreadCount()) <= AExpected; }, ADeadline);
    return count;
}

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

// ---- held thread starts ---------------------------------------------------------------------

namespace {

using TLdrLockLoaderLock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using TLdrUnlockLoaderLock = LONG(NTAPI*)(ULONG, ULONG_PTR);

template <class TFunction> TFunction NtdllFunction(const char* AName) {
    return reinterpret_cast<TFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), AName)));
}

} // namespace

THeldThreadStarts::THeldThreadStarts() {
    static const auto lock = NtdllFunction<TLdrLockLoaderLock>("LdrLockLoaderLock");
    FHeld = lock && lock(0, nullptr, &FCookie) == 0;
}

void THeldThreadStarts::Release() {
    static const auto unlock = NtdllFunction<TLdrUnlockLoaderLock>("LdrUnlockLoaderLock");
    if (FHeld && unlock)
        unlock(0, FCookie);
    FHeld = false;
}

// ---- import patch ----------------------------------------------------------------------------

TImportPatch::TImportPatch(HMODULE AModule, const char* ADll, const char* AFunction, void* ANew) {
    auto base = reinterpret_cast<BYTE*>(AModule);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
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

// ---- foreign windows --------------------------------------------------------------------------

namespace {

constexpr wchar_t ForeignClass[] = L"PellithTestForeignWindow";

LRESULT CALLBACK ForeignProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_PAINT) {
        TPaintDC paint(AWindow);
        RECT client{};
        GetClientRect(AWindow, &client);
        TBrushHandle brush(
            CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(AWindow, GWLP_USERDATA))));
        FillRect(paint.Get(), &client, brush.Get());
        return 0;
    }
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

} // namespace

TForeignWindow::TForeignWindow(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle,
                               const wchar_t* AClass)
    : FThread([=, this] { Run(AParent, ABounds, AColour, AStyle, AClass); }) {
    WaitUntil([this] { return FReady.load(); }, 10s);
}

TForeignWindow::~TForeignWindow() {
    WaitUntil([this] { return FReady.load(); }, 10s);
    if (FThreadId)
        PostThreadMessageW(FThreadId, WM_QUIT, 0, 0);
    FThread.join();
}

void TForeignWindow::Run(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle,
                         const wchar_t* AClass) {
    ProgressThreadName("foreign window");
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // gives the thread its queue
    FThreadId = GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ForeignProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = ForeignClass;
    RegisterClassW(&windowClass);
    const DWORD style = (AParent ? WS_CHILD : WS_OVERLAPPEDWINDOW) | WS_VISIBLE | AStyle;
    HWND window =
        CreateWindowExW(0, AClass ? AClass : ForeignClass, L"foreign", style, ABounds.left,
                        ABounds.top, ABounds.right - ABounds.left, ABounds.bottom - ABounds.top,
                        AParent, nullptr, windowClass.hInstance, nullptr);
    if (window && !AClass) {
        SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(AColour));
        InvalidateRect(window, nullptr, TRUE);
    }
    FWindow = window;
    FReady = true;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (IsWindow(window))
        DestroyWindow(window);
}

// ---- the fixture ------------------------------------------------------------------------------

bool CompletesWithin(std::function<void()> AWork, std::chrono::milliseconds ADeadline) {
    struct TShared {
        std::function<void()> Work;
        TKernelHandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    auto shared = std::make_shared<TShared>();
    shared->Work = std::move(AWork);
    std::thread([shared] {
        ProgressThreadName("bounded call");
        shared->Work();
        SetEvent(shared->Done.Get());
    }).detach();
    return WaitForSingleObject(shared->Done.Get(), static_cast<DWORD>(ADeadline.count())) ==
           WAIT_OBJECT_0;
}

void TDllTest::SetUp() {
    ProgressThreadName("test");
    Progress("starting the chart host and loading the library");
    ASSERT_FALSE(DllPath().empty()) << "pass --dll=<path of Pellith.dll>";
    FHost = std::make_unique<TChartHost>();
    FLibrary = std::make_unique<TPellithLibrary>(DllPath());
}

void TDllTest::TearDown() {
    Progress("tearing down: deleting the panels that are left");
    if (FHost && FLibrary)
        for (HWND chart : FHost->Charts())
            FLibrary->TerminalDelete(chart);
    FHost.reset();
    // A panel that outlives its test would disturb the counts of the next one.
    Progress("tearing down: waiting for the panels to go");
    const bool gone = WaitUntil([] { return AllPanelWindows().empty(); }, 10s);
    EXPECT_TRUE(gone) << AllPanelWindows().size() << " panel window(s) outlived the test";
    if (!gone)
        for (HWND panel : AllPanelWindows())
            std::fprintf(stderr, "  panel %p: parent %p, thread %04lx, %s\n",
                         static_cast<void*>(panel), static_cast<void*>(GetParent(panel)),
                         GetWindowThreadProcessId(panel, nullptr),
                         IsWindowVisible(panel) ? "visible" : "hidden");
    // Every panel thread has ended.
    Progress("tearing down: waiting for the panel threads to end");
    if (FLibrary) {
        EXPECT_EQ(WaitForPanelThreads(0), 0) << "panel threads outlived the test";
    }
    FLibrary.reset();
    Progress("torn down");
}

HWND TDllTest::NewChart(const wchar_t* ATitle, int ALeft, int ATop) {
    TChartOptions options;
    options.Title = ATitle;
    options.Left = ALeft;
    options.Top = ATop;
    options.ClientWidth = 420;
    options.ClientHeight = 300;
    return FHost->CreateChart(options);
}

void TDllTest::Create(HWND AChart, const TCreateArgs& AArgs) {
    Progress("TerminalCreate");
    FLibrary->TerminalCreate(AArgs.Ask, AArgs.Bid, AArgs.Point, AArgs.MyPoint, AArgs.Lots,
                             AArgs.StopLossPips, AArgs.TakeProfitPips, AArgs.TrailStopStartPips,
                             AArgs.Digits, AChart, AArgs.Symbol);
}

int TDllTest::Exchange(HWND AChart, double* ABlock, int ASize, const TQuote& AQuote) {
    Progress("TerminalProcessMsg");
    return FLibrary->TerminalProcessMsg(AQuote.Ask, AQuote.Bid, AQuote.Point, AQuote.MyPoint,
                                        AQuote.Digits, ABlock, ASize, AChart);
}

void TDllTest::Delete(HWND AChart) {
    Progress("TerminalDelete");
    FLibrary->TerminalDelete(AChart);
}

HWND TDllTest::AttachedPanel(HWND AChart) const {
    if (GetPropA(AChart, AttachedProperty) != reinterpret_cast<HANDLE>(Module()))
        return nullptr;
    HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
    return IsWindow(panel) ? panel : nullptr;
}

HWND TDllTest::WaitForPanel(HWND AChart, HWND AOld, std::chrono::milliseconds ADeadline) {
    Progress("waiting for a panel");
    HWND panel = nullptr;
    WaitUntil(
        [&] {
            panel = AttachedPanel(AChart);
            return panel && panel != AOld;
        },
        ADeadline);
    return panel != AOld ? panel : nullptr;
}

HWND TDllTest::CreateAndWait(HWND AChart, const TCreateArgs& AArgs) {
    Create(AChart, AArgs);
    HWND panel = WaitForPanel(AChart);
    EXPECT_NE(panel, nullptr) << "no panel appeared on the chart";
    return panel;
}

void TDllTest::ClickAndFlush(HWND APanel, TSide ASide) {
    Progress("clicking a price label");
    TQueueWatch watch(GetWindowThreadProcessId(APanel, nullptr));
    ASSERT_TRUE(watch.Installed());
    PostClick(APanel, LabelPoint(ASide));
    ASSERT_TRUE(watch.Flush(APanel)) << "the panel thread did not take its messages";
}

void TDllTest::ExpectNormalCycleWorks() {
    Progress("normal cycle after bad input");
    HWND chart = NewChart(L"GBPUSD,M5", 520, 40);
    ASSERT_TRUE(CompletesWithin([=, this] { Create(chart); }, 10s)) << "TerminalCreate hung";
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr) << "no panel after bad input";
    // Shared with the call's thread, which a hung call leaves behind.
    auto block = std::make_shared<TBlock>();
    auto result = std::make_shared<int>(-1);
    ASSERT_TRUE(CompletesWithin([=, this] { *result = Exchange(chart, *block); }, 10s))
        << "TerminalProcessMsg hung: the lock is held";
    EXPECT_EQ(*result, 0);
    ExpectBlock(block->Values, 0.1, 50, 25, 15);
    ASSERT_TRUE(CompletesWithin([=, this] { Delete(chart); }, 10s)) << "TerminalDelete hung";
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
    FHost->DestroyChart(chart);
}
