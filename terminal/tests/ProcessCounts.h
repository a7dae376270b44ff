#pragma once
// Counts of what the process holds, to show that the library gives back what it takes: threads
// (all, and those begun in a module), handles, GDI objects and heap bytes.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/Win32.h"

int ThreadCount();
// The threads of this process that began in the given module: for Pellith.dll, its panel
// threads, whatever other threads the system keeps.
int ThreadsStartedIn(HMODULE AModule);
// Polls until at most AExpected threads that began in the module are left; returns the last count.
int WaitForThreadsStartedIn(HMODULE AModule, int AExpected,
                            std::chrono::milliseconds ADeadline = std::chrono::seconds(10));
// The process's handle count; where the system does not tell (Wine), its live handles counted.
DWORD HandleCount();
// The handles the process holds now, found by asking every value the system hands out.
std::vector<HANDLE> OpenHandles();
// What a handle is, for a report: its type and, for a thread, its id, whether it still runs and
// the module it began in.
std::string DescribeHandle(HANDLE AHandle);
// Polls until the thread count is at most AExpected; returns the last count seen.
int WaitForThreadCount(int AExpected,
                       std::chrono::milliseconds ADeadline = std::chrono::seconds(10));

// The GDI objects of this process. Wine's GetGuiResources always answers 0; its GetObjectType
// takes a bare 16-bit handle index, so every live object is found by trying them all.
int GdiObjectCount();
// The bytes of every heap of the process that are handed out now (HeapWalk's busy blocks).
size_t HeapBytesInUse();
