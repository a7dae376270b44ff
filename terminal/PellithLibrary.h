#pragma once
// Pellith.dll as an expert sees it: loaded by path, its three exports resolved by name with the
// exact stdcall signatures the library exports.

#include <string>
#include <vector>

#include "controls/Exchange.h"
#include "platform/Win32.h"
#include "terminal/CommandLine.h"

using TTerminalCreate = void(__stdcall*)(double Ask, double Bid, double Point, double MyPoint,
                                         double Lots, double StopLossPips, double TakeProfitPips,
                                         double TrailStopStartPips, int ADigits, HWND AWindow,
                                         const char* lpSym);
using TTerminalProcessMsg = int(__stdcall*)(double Ask, double Bid, double Point, double MyPoint,
                                            int ADigits, double* AMemory, int AMemorySize,
                                            HWND AWindow);
using TTerminalDelete = void(__stdcall*)(HWND AWindow);

inline void CloseModule(HMODULE AModule) {
    FreeLibrary(AModule);
}
using TModuleHandle = TUniqueHandle<HMODULE, CloseModule>;

class TPellithLibrary {
public:
    // Loads the library with LoadLibraryW and resolves the exports; throws std::runtime_error
    // naming the file and the step that failed. The module is released with the object.
    explicit TPellithLibrary(const std::wstring& APath);

    TPellithLibrary(const TPellithLibrary&) = delete;
    TPellithLibrary& operator=(const TPellithLibrary&) = delete;

    // Borrowed: valid while this object lives.
    HMODULE Module() const { return FModule.Get(); }
    const std::wstring& Path() const { return FPath; }

    // The library's own entry points, callable from any thread but a chart window's.
    const TTerminalCreate TerminalCreate;
    const TTerminalProcessMsg TerminalProcessMsg;
    const TTerminalDelete TerminalDelete;

private:
    TPellithLibrary(std::wstring APath, TModuleHandle AModule);

    std::wstring FPath;
    TModuleHandle FModule;
};

// Text for GetLastError's code, for messages; never empty.
std::string SystemErrorText(DWORD ACode);

// UTF-16 to UTF-8 and back, for file names and log lines.
std::string Utf8(const std::wstring& AText);
std::wstring Wide(const std::string& AUtf8);
