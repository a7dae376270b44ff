#include "tests/win32/dll/FaultInjection.h"

// ---- held thread starts ---------------------------------------------------------------------

namespace {

using TLdrLockLoaderLock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using TLdrUnlockLoaderLock = LONG(NTAPI*)(ULONG, ULONG_PTR);

template <class TFunction> TFunction NtdllFunction(const char* AName) {
    return reinterpret_cast<TFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), AName)));
}

} // namespace

THeldThreadStarts::THeldThreadStarts() {
    static const auto lock = NtdllFunction<TLdrLockLoaderLock>("LdrLockLoaderLock");
    FHeld = lock && lock(0, nullptr, &FCookie) == 0;
}

void THeldThreadStarts::Release() {
    static const auto unlock = NtdllFunction<TLdrUnlockLoaderLock>("LdrUnlockLoaderLock");
    if (FHeld && unlock)
        unlock(0, FCookie);
    FHeld = false;
}
