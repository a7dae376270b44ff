#pragma once
// The registers of a thread's CONTEXT that the test programs read or change, for the
// architecture built: i686 (Eip, Esp) and x86-64 (Rip, Rsp).

#include <windows.h>

#include <cstdint>

inline uintptr_t InstructionPointer(const CONTEXT& AContext) {
#ifdef _WIN64
    return AContext.Rip;
#else
    return AContext.Eip;
#endif
}

inline uintptr_t StackPointer(const CONTEXT& AContext) {
#ifdef _WIN64
    return AContext.Rsp;
#else
    return AContext.Esp;
#endif
}

// Makes a thread that stands in an exception handler go on at AFunction, as if it had been
// called there. AFunction must never return: there is no return address to go back to. On x64
// the stack pointer at a function's first instruction is 8 below a multiple of 16 (the call
// pushed the return address), and code compiled for that alignment faults on SSE moves without
// it; i686 asks for nothing of the kind.
inline void ContinueAt(CONTEXT& AContext, void (*AFunction)()) {
#ifdef _WIN64
    AContext.Rsp = (AContext.Rsp & ~uintptr_t{15}) - 8;
    AContext.Rip = reinterpret_cast<uintptr_t>(AFunction);
#else
    AContext.Eip = reinterpret_cast<uintptr_t>(AFunction);
#endif
}
