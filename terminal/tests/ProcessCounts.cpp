#include "terminal/tests/ProcessCounts.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "controls/ChartNames.h"
#include "terminal/ChartHost.h"

namespace {

// The library's link opener lives for the rest of the process once started: no count of
// threads that come and go with panels includes it.
bool IsLinkOpener(DWORD AThreadId) {
    using TGetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    static const auto get = reinterpret_cast<TGetDescription>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    TKernelHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, AThreadId));
    PWSTR description = nullptr;
    if (!get || !thread || FAILED(get(thread.Get(), &description)) || !description)
        return false;
    const bool opener = std::wstring_view(description) == ChartNames::LinkOpenerThreadName;
    LocalFree(description);
    return opener;
}

} // namespace

int ThreadCount() {
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId() && !IsLinkOpener(entry.th32ThreadID))
            ++count;
    return count;
}

int ThreadsStartedIn(HMODULE AModule) {
    using TQueryThread = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<TQueryThread>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    constexpr int ThreadQuerySetWin32StartAddress = 9;
    MODULEINFO image{};
    if (!query || !GetModuleInformation(GetCurrentProcess(), AModule, &image, sizeof image))
        return -1;
    const auto begin = reinterpret_cast<uintptr_t>(image.lpBaseOfDll);
    const uintptr_t end = begin + image.SizeOfImage;
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() || IsLinkOpener(entry.th32ThreadID))
            continue;
        TKernelHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        void* start = nullptr;
        if (thread && query(thread.Get(), ThreadQuerySetWin32StartAddress, &start, sizeof start,
                            nullptr) == 0) {
            const auto address = reinterpret_cast<uintptr_t>(start);
            count += address >= begin && address < end;
        }
    }
    return count;
}

int WaitForThreadsStartedIn(HMODULE AModule, int AExpected, std::chrono::milliseconds ADeadline) {
    int count = ThreadsStartedIn(AModule);
    WaitUntil([&] { return (count = ThreadsStartedIn(AModule)) <= AExpected; }, ADeadline);
    return count;
}

DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    // Wine's count is a stub that says 0.
    return static_cast<DWORD>(OpenHandles().size());
}

std::vector<HANDLE> OpenHandles() {
    // Handles are small multiples of 4, under Wine as under Windows.
    std::vector<HANDLE> handles;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            handles.push_back(reinterpret_cast<HANDLE>(value));
    }
    return handles;
}

std::string DescribeHandle(HANDLE AHandle) {
    using TQuery = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto queryObject = reinterpret_cast<TQuery>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQueryObject")));
    static const auto queryThread = reinterpret_cast<TQuery>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQueryInformationThread")));
    constexpr int ObjectTypeInformation = 2, ThreadQuerySetWin32StartAddress = 9;
    char text[64];
    std::snprintf(text, sizeof text, "0x%llx ",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(AHandle)));
    std::string described = text;
    // The type's name follows its UNICODE_STRING header in the answer.
    alignas(8) unsigned char type[1024] = {};
    if (queryObject &&
        queryObject(AHandle, ObjectTypeInformation, type, sizeof type, nullptr) == 0) {
        const auto& name = *reinterpret_cast<const UNICODE_STRING*>(type);
        for (USHORT i = 0; i < name.Length / sizeof(wchar_t); ++i)
            described += static_cast<char>(name.Buffer[i]);
    } else {
        described += "(type unknown)";
    }
    if (const DWORD id = GetThreadId(AHandle)) {
        DWORD exitCode = 0;
        GetExitCodeThread(AHandle, &exitCode);
        void* start = nullptr;
        char module[MAX_PATH] = "?";
        HMODULE owner = nullptr;
        if (queryThread &&
            queryThread(AHandle, ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) ==
                0 &&
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCSTR>(start), &owner))
            GetModuleFileNameA(owner, module, sizeof module);
        const std::string path = module;
        std::snprintf(text, sizeof text, " %lu, %s, began in ", id,
                      exitCode == STILL_ACTIVE ? "running" : "ended");
        described += text + path.substr(path.find_last_of("\\/") + 1);
    }
    return described;
}

int WaitForThreadCount(int AExpected, std::chrono::milliseconds ADeadline) {
    int count = ThreadCount();
    WaitUntil([&] { return (count = ThreadCount()) <= AExpected; }, ADeadline);
    return count;
}

int GdiObjectCount() {
    int count = 0;
    for (UINT index = 1; index < 0x10000; ++index)
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(index))) != 0;
    return count;
}

size_t HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    size_t bytes = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return bytes;
}
