#include "terminal/tests/ImportPatch.h"

#include <cstring>

TImportPatch::TImportPatch(HMODULE AModule, const char* ADll, const char* AFunction, void* ANew) {
    auto base = reinterpret_cast<BYTE*>(AModule);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    // The headers and thunks of the architecture built: IMAGE_NT_HEADERS and IMAGE_THUNK_DATA
    // are the 32-bit forms on i686 and the 64-bit ones on x64.
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return;
    for (auto descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name; ++descriptor) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), ADll) != 0 ||
            !descriptor->OriginalFirstThunk)
            continue;
        auto names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), AFunction) != 0)
                continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
                return;
            FOriginal = InterlockedExchangePointer(slot, ANew);
            VirtualProtect(slot, sizeof *slot, protection, &protection);
            FSlot = slot;
            return;
        }
    }
}

TImportPatch::~TImportPatch() {
    if (!FSlot)
        return;
    DWORD protection = 0;
    VirtualProtect(FSlot, sizeof *FSlot, PAGE_READWRITE, &protection);
    InterlockedExchangePointer(FSlot, FOriginal);
    VirtualProtect(FSlot, sizeof *FSlot, protection, &protection);
}
