#pragma once
// A test run again in a process of its own: for a body that needs the library never loaded
// before, or whose fault under test is a crash of the host.

#include <chrono>
#include <string>

#include "platform/Win32.h"

using namespace std::chrono_literals;

// Pellith.dll as CMake built it (--dll=...).
const std::wstring& DllPath();
// True in a child process started by RunThisTestInChildProcess.
bool InChildProcess();
// Starts the current test again in a fresh process of this program (--child=1, the same --dll,
// and AExtraArguments) and hands back its process handle (owned); null, with a failure, when it
// could not be started. The child's output goes to ours.
TKernelHandle StartThisTestInChildProcess(const std::wstring& AExtraArguments);
// Runs the current test again in a fresh process of this program and returns its exit code
// (0: passed), or -1 when it had to be stopped at the deadline. The child's output goes to ours.
int RunThisTestInChildProcess(std::chrono::seconds ADeadline = 120s,
                              const std::wstring& AExtraArguments = L"");

// Runs a test body in a fresh process: needed where the body depends on the library not having
// been loaded before, or where a crash of the host is the fault under test.
#define PELLITH_RUN_IN_CHILD_PROCESS()                                                             \
    do {                                                                                           \
        if (!InChildProcess()) {                                                                   \
            EXPECT_EQ(RunThisTestInChildProcess(), 0) << "the test failed in its own process";     \
            return;                                                                                \
        }                                                                                          \
    } while (false)
