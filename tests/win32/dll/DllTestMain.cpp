// The main of the library's test programs: the command line (--dll=, --child=, --watchdog=) and
// a watchdog that turns a hung test into a failure that says where every thread stood.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/win32/dll/DllTestSupport.h"

std::vector<std::string> TestArguments;

namespace {

// The test that runs now and when it must be over; the watchdog thread reads both.
std::atomic<ULONGLONG> Deadline{0};
std::atomic<const testing::TestInfo*> CurrentTest{nullptr};

class TDeadlineListener : public testing::EmptyTestEventListener {
  public:
    explicit TDeadlineListener(ULONGLONG ASeconds) : FMilliseconds(ASeconds * 1000) {}
    void OnTestStart(const testing::TestInfo& ATest) override {
        CurrentTest.store(&ATest);
        Deadline.store(GetTickCount64() + FMilliseconds);
    }
    void OnTestEnd(const testing::TestInfo&) override {
        Deadline.store(0);
        CurrentTest.store(nullptr);
    }

  private:
    ULONGLONG FMilliseconds;
};

void StartWatchdog() {
    std::thread([] {
        for (;;) {
            Sleep(500);
            const ULONGLONG deadline = Deadline.load();
            if (!deadline || GetTickCount64() < deadline)
                continue;
            const testing::TestInfo* test = CurrentTest.load();
            std::fprintf(stderr, "\nwatchdog: %s.%s did not finish in time; stopping the program\n",
                         test ? test->test_suite_name() : "?", test ? test->name() : "?");
            PrintWhereThreadsStand();
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }).detach();
}

// A crash is a failure of the test program with a report of where it happened, not a debugger
// that waits for someone.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* AException) {
    const EXCEPTION_RECORD& record = *AException->ExceptionRecord;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(record.ExceptionAddress), &module))
        GetModuleFileNameA(module, path, sizeof path);
    const testing::TestInfo* test = CurrentTest.load();
    std::fprintf(
        stderr,
        "\ncrash: exception %08lx at %p (%s + 0x%lx), accessing %08lx, thread %04lx, "
        "in %s.%s\n",
        record.ExceptionCode, record.ExceptionAddress, path,
        static_cast<unsigned long>(static_cast<const char*>(record.ExceptionAddress) -
                                   reinterpret_cast<const char*>(module)),
        record.NumberParameters > 1 ? static_cast<unsigned long>(record.ExceptionInformation[1])
                                    : 0ul,
        GetCurrentThreadId(), test ? test->test_suite_name() : "?", test ? test->name() : "?");
    // The return addresses on the crashed thread's stack, as far as they point into a module:
    // enough to name the calls that led here.
    const auto* stack = reinterpret_cast<const DWORD*>(AException->ContextRecord->Esp);
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(stack, &region, sizeof region)) {
        const auto* end = reinterpret_cast<const DWORD*>(
            static_cast<const char*>(region.BaseAddress) + region.RegionSize);
        int shown = 0;
        for (const DWORD* slot = stack; slot < end && shown < 24; ++slot) {
            HMODULE owner = nullptr;
            if (*slot < 0x10000 ||
                !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(*slot)),
                                    &owner))
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

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    TestArguments.assign(argv + 1, argv + argc);
    // A child process started by a test must not write over this program's report.
    SetEnvironmentVariableW(L"GTEST_OUTPUT", nullptr);
    const std::wstring seconds = TestOption("watchdog");
    testing::UnitTest::GetInstance()->listeners().Append(
        new TDeadlineListener(seconds.empty() ? 240 : std::stoul(seconds)));
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // --debugger=1 leaves a crash to the system's debugger, for its backtrace.
    if (TestOption("debugger") != L"1")
        SetUnhandledExceptionFilter(ReportCrash);
    StartWatchdog();
    return RUN_ALL_TESTS();
}
