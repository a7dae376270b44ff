#pragma once
// The one watchdog of the Windows test and timing programs: a task that overruns its deadline
// stops the program with a report that names it and says where each thread stands, and a crash
// stops it with a report of where it happened, instead of a hang or a debugger that waits.

#include <chrono>
#include <string>

// Records what the calling thread is doing now; the watchdog prints it when a task overruns.
// AStep must be a string literal (it is kept by address). Any thread.
void Progress(const char* AStep);
// Names the calling thread on the progress board; a literal as well.
void ProgressThreadName(const char* AName);
// Prints the progress board and where each thread of the process is to stderr.
void PrintWhereThreadsStand();

// Starts the watchdog's thread, once per process. With AReportCrashes, a crash is reported and
// ends the program with exit code 5; otherwise it is left to the system's debugger.
void StartWatchdog(bool AReportCrashes = true);
// ATask must be over within ADeadline from now, or the watchdog ends the program with exit
// code 3. Replaces the task armed before.
void ArmWatchdog(std::chrono::seconds ADeadline, const std::string& ATask);
void DisarmWatchdog();
