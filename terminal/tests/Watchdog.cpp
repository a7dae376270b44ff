#include "terminal/tests/Watchdog.h"

#include "platform/Win32.h"
#include "terminal/tests/MachineContext.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
        uintptr_t At;
        uintptr_t Stack[StackWords];
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
            where.At = InstructionPointer(context);
            MEMORY_BASIC_INFORMATION region{};
            const auto* top = reinterpret_cast<const uintptr_t*>(StackPointer(context));
            if (VirtualQuery(top, &region, sizeof region) && region.State == MEM_COMMIT) {
                const auto* end = reinterpret_cast<const uintptr_t*>(
                    static_cast<const char*>(region.BaseAddress) + region.RegionSize);
                where.Words = static_cast<int>(std::min<std::ptrdiff_t>(end - top, StackWords));
                std::memcpy(where.Stack, top, where.Words * sizeof(uintptr_t));
            }
        }
        ResumeThread(thread.Get());
    }
    const auto moduleOf = [](uintptr_t AAddress, char(&APath)[MAX_PATH]) -> uintptr_t {
        HMODULE module = nullptr;
        if (AAddress < 0x10000 ||
            !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(AAddress), &module))
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
        const uintptr_t base = moduleOf(where.At, path);
        std::fprintf(stderr, "  thread %04lx at %s+0x%lx;", static_cast<unsigned long>(where.Id),
                     path, static_cast<unsigned long>(where.At - base));
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

// ---- the watchdog and the crash report ----------------------------------------------------

namespace {

// The task that runs now and when it must be over (0: none). The main thread arms; the
// watchdog thread and a crashing thread read. TaskLock guards the name only.
std::atomic<ULONGLONG> Deadline{0};
SRWLOCK TaskLock = SRWLOCK_INIT;
std::string Task = "?";

// When a report that has begun must be over (0: none). A report names modules, and that takes
// the loader lock, which a thread that a test killed or stopped in a fault may hold for good:
// the backstop thread ends the program all the same, with calls that take no lock at all.
std::atomic<ULONGLONG> ReportDeadline{0};
std::atomic<UINT> ReportExitCode{0};
constexpr ULONGLONG ReportMilliseconds = 10000;

void BeginReport(UINT AExitCode) {
    ReportExitCode.store(AExitCode);
    ULONGLONG none = 0;
    ReportDeadline.compare_exchange_strong(none, GetTickCount64() + ReportMilliseconds);
}

void RunBackstop() {
    for (;;) {
        Sleep(250);
        const ULONGLONG deadline = ReportDeadline.load();
        if (!deadline || GetTickCount64() < deadline)
            continue;
        static const char said[] = "\nwatchdog: the report did not finish (a lock it needs is "
                                   "held for good); stopping the program\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), said, sizeof said - 1, &written, nullptr);
        TerminateProcess(GetCurrentProcess(), ReportExitCode.load());
    }
}

// The task's name; "?" when a crashing thread cannot have the lock at once.
std::string CurrentTask() {
    if (!TryAcquireSRWLockShared(&TaskLock))
        return "?";
    std::string task = Task;
    ReleaseSRWLockShared(&TaskLock);
    return task;
}

// A crash is a failure of the program with a report of where it happened, not a debugger
// that waits for someone.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* AException) {
    const EXCEPTION_RECORD& record = *AException->ExceptionRecord;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(record.ExceptionAddress), &module))
        GetModuleFileNameA(module, path, sizeof path);
    BeginReport(5);
    const std::string task = CurrentTask();
    std::fprintf(stderr,
                 "\ncrash: exception %08lx at %p (%s + 0x%lx), accessing %08lx, thread %04lx, "
                 "in %s\n",
                 record.ExceptionCode, record.ExceptionAddress, path,
                 static_cast<unsigned long>(static_cast<const char*>(record.ExceptionAddress) -
                                            reinterpret_cast<const char*>(module)),
                 record.NumberParameters > 1
                     ? static_cast<unsigned long>(record.ExceptionInformation[1])
                     : 0ul,
                 GetCurrentThreadId(), task.c_str());
    // The return addresses on the crashed thread's stack, as far as they point into a module:
    // enough to name the calls that led here.
    const auto* stack =
        reinterpret_cast<const uintptr_t*>(StackPointer(*AException->ContextRecord));
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(stack, &region, sizeof region)) {
        const auto* end = reinterpret_cast<const uintptr_t*>(
            static_cast<const char*>(region.BaseAddress) + region.RegionSize);
        int shown = 0;
        for (const uintptr_t* slot = stack; slot < end && shown < 24; ++slot) {
            HMODULE owner = nullptr;
            if (*slot < 0x10000 ||
                !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    reinterpret_cast<LPCSTR>(*slot), &owner))
                continue;
            char name[MAX_PATH] = "?";
            GetModuleFileNameA(owner, name, sizeof name);
            std::fprintf(stderr, "  stack %p: %s + 0x%lx\n", static_cast<const void*>(slot), name,
                         static_cast<unsigned long>(*slot - reinterpret_cast<uintptr_t>(owner)));
            ++shown;
        }
    }
    PrintWhereThreadsStand();
    TerminateProcess(GetCurrentProcess(), 5);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void StartWatchdog(bool AReportCrashes) {
    static std::once_flag started;
    std::call_once(started, [AReportCrashes] {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        if (AReportCrashes)
            SetUnhandledExceptionFilter(ReportCrash);
        // Both threads are made now, and running before this returns: a thread that has not
        // yet run its first line waits for the loader lock to finish starting, so one that is
        // slow to start on a busy machine would never run once a test holds that lock for good.
        TKernelHandle running[2] = {TKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                                    TKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))};
        std::thread([started = running[0].Get()] {
            SetEvent(started);
            RunBackstop();
        }).detach();
        std::thread([started = running[1].Get()] {
            SetEvent(started);
            ProgressThreadName("watchdog");
            for (;;) {
                Sleep(500);
                const ULONGLONG deadline = Deadline.load();
                if (!deadline || GetTickCount64() < deadline)
                    continue;
                BeginReport(3);
                std::fprintf(stderr,
                             "\nwatchdog: %s did not finish in time; stopping the program\n",
                             CurrentTask().c_str());
                PrintWhereThreadsStand();
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }).detach();
        const HANDLE events[] = {running[0].Get(), running[1].Get()};
        if (WaitForMultipleObjects(2, events, TRUE, 60000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "watchdog: its threads did not start within 60 s\n");
            for (TKernelHandle& event : running)
                event.Release(); // a late thread still sets its own
        }
    });
}

void ArmWatchdog(std::chrono::seconds ADeadline, const std::string& ATask) {
    AcquireSRWLockExclusive(&TaskLock);
    Task = ATask;
    ReleaseSRWLockExclusive(&TaskLock);
    Deadline.store(GetTickCount64() + static_cast<ULONGLONG>(ADeadline.count()) * 1000);
}

void DisarmWatchdog() {
    Deadline.store(0);
}
