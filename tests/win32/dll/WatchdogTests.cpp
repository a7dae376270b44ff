// The test programs' own watchdog, where a test program can least afford it to fail: a process
// in which a thread keeps the loader lock for good, as one killed or stopped in a fault inside
// the loader leaves it. The report names modules, which takes that lock; the program must end
// all the same, or CTest waits for it to its time-out and the run learns nothing.

#include "tests/win32/dll/DllTestSupport.h"

namespace {

using TLdrLockLoaderLock = LONG(NTAPI*)(ULONG AFlags, ULONG* AState, ULONG_PTR* ACookie);

TEST(Watchdog, EndsAProgramWhoseLoaderLockIsHeldForGood) {
    if (!InChildProcess()) {
        // 3 is the watchdog's exit code; -1 would be our own deadline, a watchdog that hung.
        EXPECT_EQ(RunThisTestInChildProcess(90s), 3)
            << "the watchdog did not end a program whose loader lock stayed held";
        return;
    }
    const auto lockLoader = reinterpret_cast<TLdrLockLoaderLock>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock"));
    ASSERT_NE(lockLoader, nullptr);
    TKernelHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(taken);
    std::thread([&] {
        ProgressThreadName("lock keeper");
        ULONG_PTR cookie = 0;
        lockLoader(0, nullptr, &cookie);
        SetEvent(taken.Get());
        Sleep(INFINITE);
    }).detach();
    ASSERT_EQ(WaitForSingleObject(taken.Get(), 10000), WAIT_OBJECT_0);
    ArmWatchdog(1s, "a task that never ends while the loader lock is held");
    Sleep(INFINITE);
}

} // namespace
