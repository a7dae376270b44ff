#pragma once
// One imported function of a module replaced for a while: a test's or a benchmark's way to make
// the library meet a failing or slow system call.

#include "platform/Win32.h"

// Replaces one function in a module's import table for the life of the object: the module's
// calls of that function reach ANew. The previous entry is handed back by Original().
class TImportPatch {
public:
    TImportPatch(HMODULE AModule, const char* ADll, const char* AFunction, void* ANew);
    ~TImportPatch();
    TImportPatch(const TImportPatch&) = delete;
    TImportPatch& operator=(const TImportPatch&) = delete;
    bool Applied() const { return FSlot != nullptr; }
    void* Original() const { return FOriginal; }

private:
    void** FSlot = nullptr;
    void* FOriginal = nullptr;
};
