#pragma once
// The main shared by the Windows test programs: the command line, a watchdog that turns a test
// running past its deadline into a failure that says where every thread stood, and a report of
// a crash. Options come as --name=value (--watchdog=SECONDS sets each test's deadline).

#include <string>

// The value of --name=value on the command line, or empty. A Unix absolute path (as CMake writes
// them) comes back as the Windows path Wine gives it on drive Z:, so the Windows side can open it.
std::wstring TestOption(const char* AName);

// Records what the calling thread is doing now; the watchdog prints it when a test hangs.
// AStep must be a string literal (it is kept by address). Any thread.
void Progress(const char* AStep);
// Names the calling thread on the progress board; a literal as well.
void ProgressThreadName(const char* AName);
// Prints the progress board and where each thread of the process is to stderr.
void PrintWhereThreadsStand();
