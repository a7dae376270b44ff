#include "terminal/tests/TestMain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "terminal/PellithLibrary.h"

namespace {

std::vector<std::string> Arguments;

// Ends the process with a failure when the tests have not finished by the deadline, so that a
// hang shows as a failed test program instead of a run that never ends.
void StartWatchdog(int ASeconds) {
    std::thread([ASeconds] {
        Sleep(static_cast<DWORD>(ASeconds) * 1000);
        std::fprintf(stderr, "watchdog: the tests did not finish within %d s; stopping\n",
                     ASeconds);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }).detach();
}

} // namespace

std::wstring TestOption(const char* AName) { return CommandLineOption(Arguments, AName); }

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    Arguments.assign(argv + 1, argv + argc);
    const std::wstring watchdog = TestOption("watchdog");
    StartWatchdog(watchdog.empty() ? 600 : std::stoi(watchdog));
    return RUN_ALL_TESTS();
}
