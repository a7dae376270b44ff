#pragma once
// The main shared by the Windows test programs: the command line, and the watchdog armed for
// each test, which turns a test running past its deadline into a failure that says where every
// thread stood, and reports a crash. Options come as --name=value: --watchdog=SECONDS sets each
// test's deadline (240 by default), --debugger=1 leaves a crash to the system's debugger.

#include <string>

#include "terminal/tests/Watchdog.h"

// The value of --name=value on the command line, or empty. A Unix absolute path (as CMake writes
// them) comes back as the Windows path Wine gives it on drive Z:, so the Windows side can open it.
std::wstring TestOption(const char* AName);
