// The library as a file and as a calling interface: its export and import tables read from the
// file, its version resource, and the three entry points called as a host calls them. On i686
// the arguments are laid out on the stack byte by byte, and each entry point must remove exactly
// its own; on x64 there is one calling convention and nothing to remove, and what can go wrong is
// a pointer cut to 32 bits on its way in.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>

#include "tests/win32/dll/DllTestSupport.h"

#ifndef _WIN64
// Calls AFunction with a copy of AArgumentBytes bytes of arguments on a 16-byte aligned stack,
// stores its EAX in *AResult and returns how many bytes of stack the function removed on return.
// A stdcall function removes all its arguments; any other count is a broken calling convention.
extern "C" std::uint32_t BytesPoppedBy(const void* AFunction, const void* AArguments,
                                       std::uint32_t AArgumentBytes, std::uint32_t* AResult);
asm(".text\n"
    ".globl _BytesPoppedBy\n"
    "_BytesPoppedBy:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    movl 16(%ebp), %ecx\n"
    "    subl %ecx, %esp\n"
    "    andl $-16, %esp\n"
    "    movl %esp, %edi\n"
    "    movl 12(%ebp), %esi\n"
    "    cld\n"
    "    rep movsb\n"
    "    movl %esp, %ebx\n"
    "    call *8(%ebp)\n"
    "    movl 20(%ebp), %ecx\n"
    "    movl %eax, (%ecx)\n"
    "    movl %esp, %eax\n"
    "    subl %ebx, %eax\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");
#endif

namespace {

// ---- the file --------------------------------------------------------------------------------

// A PE image read from its file, for the tables that say what it exports and imports. It reads
// either format, PE32 (i686) or PE32+ (x64), whichever the file is: the two differ in the
// optional header, which the data directories follow.
class TPeFile {
public:
    explicit TPeFile(const std::wstring& APath) {
        TKernelHandle file(CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        if (file.Get() == INVALID_HANDLE_VALUE) {
            file.Release();
            return;
        }
        const DWORD size = GetFileSize(file.Get(), nullptr);
        FBytes.resize(size);
        DWORD read = 0;
        if (!ReadFile(file.Get(), FBytes.data(), size, &read, nullptr) || read != size)
            FBytes.clear();
    }

    bool Valid() const {
        return FBytes.size() > sizeof(IMAGE_DOS_HEADER) && Dos().e_magic == IMAGE_DOS_SIGNATURE &&
               Nt().Signature == IMAGE_NT_SIGNATURE &&
               (Magic() == IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
                Magic() == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    }
    const IMAGE_DOS_HEADER& Dos() const { return *At<IMAGE_DOS_HEADER>(0); }
    // The signature and the file header stand alike in both formats.
    const IMAGE_NT_HEADERS32& Nt() const { return *At<IMAGE_NT_HEADERS32>(Dos().e_lfanew); }
    const IMAGE_FILE_HEADER& FileHeader() const { return Nt().FileHeader; }
    WORD Magic() const { return Nt().OptionalHeader.Magic; }
    const IMAGE_DATA_DIRECTORY& Directory(int AIndex) const {
        if (Magic() == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            return At<IMAGE_NT_HEADERS64>(Dos().e_lfanew)->OptionalHeader.DataDirectory[AIndex];
        return Nt().OptionalHeader.DataDirectory[AIndex];
    }

    // The file offset of a relative virtual address, or 0 when no section holds it.
    std::size_t Offset(DWORD ARva) const {
        auto section = IMAGE_FIRST_SECTION(&Nt());
        for (int i = 0; i < Nt().FileHeader.NumberOfSections; ++i, ++section) {
            const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (ARva >= section->VirtualAddress && ARva < section->VirtualAddress + size)
                return ARva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    template <class T> const T* AtRva(DWORD ARva) const { return At<T>(Offset(ARva)); }
    std::string StringAt(DWORD ARva) const {
        const std::size_t offset = Offset(ARva);
        if (!offset || offset >= FBytes.size())
            return {};
        const char* text = reinterpret_cast<const char*>(FBytes.data() + offset);
        return std::string(text, strnlen(text, FBytes.size() - offset));
    }

    // Exported name -> ordinal.
    std::map<std::string, DWORD> ExportsByName() const {
        std::map<std::string, DWORD> exports;
        const IMAGE_DATA_DIRECTORY& directory = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (!directory.VirtualAddress)
            return exports;
        auto table = AtRva<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress);
        auto names = AtRva<DWORD>(table->AddressOfNames);
        auto indices = AtRva<WORD>(table->AddressOfNameOrdinals);
        for (DWORD i = 0; i < table->NumberOfNames; ++i)
            exports[StringAt(names[i])] = table->Base + indices[i];
        return exports;
    }
    const IMAGE_EXPORT_DIRECTORY* ExportDirectory() const {
        const IMAGE_DATA_DIRECTORY& directory = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        return directory.VirtualAddress ? AtRva<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress)
                                        : nullptr;
    }

    // The names of the libraries the image imports, at load time and delayed.
    std::vector<std::string> ImportedLibraries() const {
        std::vector<std::string> libraries;
        const IMAGE_DATA_DIRECTORY& imports = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (imports.VirtualAddress)
            for (auto descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(imports.VirtualAddress);
                 descriptor->Name; ++descriptor)
                libraries.push_back(StringAt(descriptor->Name));
        const IMAGE_DATA_DIRECTORY& delayed = Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
        if (delayed.VirtualAddress)
            for (auto descriptor = AtRva<IMAGE_DELAYLOAD_DESCRIPTOR>(delayed.VirtualAddress);
                 descriptor->DllNameRVA; ++descriptor)
                libraries.push_back(StringAt(descriptor->DllNameRVA));
        return libraries;
    }

private:
    template <class T> const T* At(std::size_t AOffset) const {
        static const T zero{};
        return AOffset + sizeof(T) <= FBytes.size()
                   ? reinterpret_cast<const T*>(FBytes.data() + AOffset)
                   : &zero;
    }

    std::vector<BYTE> FBytes;
};

// File names of libraries are ASCII; Windows compares them without case.
std::string Lower(std::string AText) {
    for (char& c : AText)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return AText;
}

TEST(DllFile, IsAWindowsLibraryForTheArchitectureItWasBuiltFor) {
    // The 32-bit terminal loads only an i386 PE32 library, the 64-bit one only an x64 PE32+.
#ifdef _WIN64
    const WORD machine = IMAGE_FILE_MACHINE_AMD64;
    const WORD magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
#else
    const WORD machine = IMAGE_FILE_MACHINE_I386;
    const WORD magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
#endif
    TPeFile file(DllPath());
    ASSERT_TRUE(file.Valid()) << "cannot read " << Utf8(DllPath());
    EXPECT_EQ(file.FileHeader().Machine, machine);
    EXPECT_EQ(file.Magic(), magic);
    EXPECT_TRUE(file.FileHeader().Characteristics & IMAGE_FILE_DLL);
}

TEST(DllFile, ExportsExactlyTheThreeEntryPointsByPlainNameAtTheirOrdinals) {
    TPeFile file(DllPath());
    ASSERT_TRUE(file.Valid());
    const std::map<std::string, DWORD> expected{
        {"TerminalDelete", 1}, {"TerminalProcessMsg", 2}, {"TerminalCreate", 3}};
    EXPECT_EQ(file.ExportsByName(), expected);
    const IMAGE_EXPORT_DIRECTORY* table = file.ExportDirectory();
    ASSERT_NE(table, nullptr);
    // No entry point reachable by ordinal alone, and none forwarded to another library.
    EXPECT_EQ(table->NumberOfFunctions, 3u);
    EXPECT_EQ(table->Base, 1u);
    const IMAGE_DATA_DIRECTORY& directory = file.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto functions = file.AtRva<DWORD>(table->AddressOfFunctions);
    for (DWORD i = 0; i < table->NumberOfFunctions; ++i) {
        EXPECT_NE(functions[i], 0u) << "ordinal " << table->Base + i;
        const bool forwarded = functions[i] >= directory.VirtualAddress &&
                               functions[i] < directory.VirtualAddress + directory.Size;
        EXPECT_FALSE(forwarded) << "ordinal " << table->Base + i;
    }
}

TEST(DllFile, ImportsOnlyLibrariesOfTheSystem) {
    TPeFile file(DllPath());
    ASSERT_TRUE(file.Valid());
    const std::set<std::string> system{
        "kernel32.dll", "user32.dll",   "gdi32.dll",   "comctl32.dll", "shell32.dll",
        "msvcrt.dll",   "advapi32.dll", "ole32.dll",   "oleaut32.dll", "shlwapi.dll",
        "version.dll",  "ntdll.dll",    "msimg32.dll", "uxtheme.dll",  "comdlg32.dll"};
    const std::vector<std::string> libraries = file.ImportedLibraries();
    EXPECT_FALSE(libraries.empty());
    for (const std::string& library : libraries) {
        const std::string name = Lower(library);
        EXPECT_TRUE(system.count(name)) << library << " is not a library of the system";
        for (const char* runtime : {"libstdc++", "libgcc", "libwinpthread"})
            EXPECT_EQ(name.find(runtime), std::string::npos) << library;
    }
}

TEST(DllFile, CarriesFileAndProductVersion1_2_0_0) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(DllPath().c_str(), &ignored);
    ASSERT_GT(size, 0u) << SystemErrorText(GetLastError());
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(DllPath().c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 1)) << "file version 1.2";
    EXPECT_EQ(fixed->dwFileVersionLS, 0u) << "file version x.x.0.0";
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 1)) << "product version 1.2";
    EXPECT_EQ(fixed->dwProductVersionLS, 0u) << "product version x.x.0.0";

    // The texts say the same, in the language the resource declares.
    struct TTranslation {
        WORD Language;
        WORD CodePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(TTranslation));
    wchar_t block[64];
    for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
        wsprintfW(block, L"\\StringFileInfo\\%04x%04x\\%s", translation->Language,
                  translation->CodePage, key);
        wchar_t* text = nullptr;
        ASSERT_TRUE(VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&text), &length))
            << Utf8(key);
        EXPECT_EQ(std::wstring(text), L"1.2.0.0") << Utf8(key);
    }
}

// ---- the calling interface ----------------------------------------------------------------------

#ifndef _WIN64
// An argument list laid out byte by byte at the offsets the interface fixes.
class TArguments {
public:
    explicit TArguments(std::size_t ASize) : FBytes(ASize, 0xCC) {}
    template <class T> TArguments& At(std::size_t AOffset, T AValue) {
        std::memcpy(FBytes.data() + AOffset, &AValue, sizeof AValue);
        return *this;
    }
    const void* Data() const { return FBytes.data(); }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(FBytes.size()); }

private:
    std::vector<BYTE> FBytes;
};

TArguments CreateArguments(HWND AChart, const char* ASymbol, double ALots, double AStopLoss,
                           double ATakeProfit, double ATrailingStop) {
    TArguments arguments(76);
    arguments.At(0, 1.10525).At(8, 1.10510).At(16, 0.00001).At(24, 0.0001);
    arguments.At(32, ALots).At(40, AStopLoss).At(48, ATakeProfit).At(56, ATrailingStop);
    arguments.At(64, 5).At(68, AChart).At(72, ASymbol);
    return arguments;
}

TArguments ExchangeArguments(HWND AChart, double* ABlock, int ASize) {
    TArguments arguments(48);
    arguments.At(0, 1.10531).At(8, 1.10517).At(16, 0.00001).At(24, 0.0001);
    arguments.At(32, 5).At(36, ABlock).At(40, ASize).At(44, AChart);
    return arguments;
}

TArguments DeleteArguments(HWND AChart) {
    return TArguments(4).At(0, AChart);
}

using DllCallingInterface = TDllTest;

TEST_F(DllCallingInterface, EveryEntryPointRemovesExactlyItsArgumentsOnEveryPath) {
    const void* create = reinterpret_cast<const void*>(FLibrary->TerminalCreate);
    const void* exchange = reinterpret_cast<const void*>(FLibrary->TerminalProcessMsg);
    const void* remove = reinterpret_cast<const void*>(FLibrary->TerminalDelete);
    std::uint32_t result = 0xDEADBEEF;
    TBlock block;

    // The early exits: no window at all.
    EXPECT_EQ(BytesPoppedBy(create, CreateArguments(nullptr, "EURUSD", 0.1, 50, 25, 15).Data(), 76,
                            &result),
              76u);
    EXPECT_EQ(BytesPoppedBy(exchange,
                            ExchangeArguments(nullptr, block.Values, ExchangeBlockSize).Data(), 48,
                            &result),
              48u);
    EXPECT_EQ(result, static_cast<std::uint32_t>(erNothing));
    EXPECT_EQ(BytesPoppedBy(exchange, ExchangeArguments(nullptr, nullptr, ExchangeBlockSize).Data(),
                            48, &result),
              48u);
    EXPECT_EQ(BytesPoppedBy(remove, DeleteArguments(nullptr).Data(), 4, &result), 4u);

    // The full paths, on a chart with a panel.
    HWND chart = NewChart();
    EXPECT_EQ(BytesPoppedBy(create, CreateArguments(chart, "EURUSD", 0.25, 12.5, 30, 7).Data(), 76,
                            &result),
              76u);
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(
        BytesPoppedBy(create, CreateArguments(chart, "EURUSD", 1, 2, 3, 4).Data(), 76, &result),
        76u);
    EXPECT_EQ(BytesPoppedBy(exchange,
                            ExchangeArguments(chart, block.Values, ExchangeBlockSize).Data(), 48,
                            &result),
              48u);
    EXPECT_EQ(result, static_cast<std::uint32_t>(erNothing));
    EXPECT_EQ(
        BytesPoppedBy(exchange, ExchangeArguments(chart, block.Values, 3).Data(), 48, &result),
        48u);
    EXPECT_EQ(result, static_cast<std::uint32_t>(erNothing));
    EXPECT_EQ(BytesPoppedBy(remove, DeleteArguments(chart).Data(), 4, &result), 4u);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
}

TEST_F(DllCallingInterface, EachArgumentIsReadFromItsOffset) {
    HWND chart = NewChart();
    const void* create = reinterpret_cast<const void*>(FLibrary->TerminalCreate);
    const void* exchange = reinterpret_cast<const void*>(FLibrary->TerminalProcessMsg);
    const void* remove = reinterpret_cast<const void*>(FLibrary->TerminalDelete);
    std::uint32_t result = 0;

    // Four distinct initial values at offsets 32, 40, 48 and 56 come back in the block's slots
    // 0 (lot), 1 (stop-loss), 2 (take-profit) and 3 (trailing-stop); the chart at offset 68.
    BytesPoppedBy(create, CreateArguments(chart, "EURUSD", 0.25, 12.5, 30, 7).Data(), 76, &result);
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr) << "the chart at offset 68 received no panel";

    // The block at offset 36, its size at 40, the chart at 44; the result in EAX.
    TBlock block;
    BytesPoppedBy(exchange, ExchangeArguments(chart, block.Values, ExchangeBlockSize).Data(), 48,
                  &result);
    EXPECT_EQ(result, static_cast<std::uint32_t>(erNothing));
    ExpectBlock(block.Values, 0.25, 12.5, 30, 7);
    EXPECT_EQ(block.Values[4], Untouched) << "the library wrote past the four slots";

    ClickAndFlush(panel, TSide::Sell);
    TBlock second;
    BytesPoppedBy(exchange, ExchangeArguments(chart, second.Values, ExchangeBlockSize).Data(), 48,
                  &result);
    EXPECT_EQ(result, static_cast<std::uint32_t>(erSell)) << "the result is returned in EAX";

    // The chart at offset 0 of TerminalDelete.
    BytesPoppedBy(remove, DeleteArguments(chart).Data(), 4, &result);
    EXPECT_EQ(GetPropA(chart, AttachedProperty), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
}

#else

using DllCallingInterface = TDllTest;

// A page of memory above 4 GiB, where a pointer cut to its low 32 bits points elsewhere.
class THighPage {
public:
    THighPage()
        : FBase(static_cast<BYTE*>(VirtualAlloc(
              nullptr, 4096, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE))) {}
    ~THighPage() {
        if (FBase)
            VirtualFree(FBase, 0, MEM_RELEASE);
    }
    THighPage(const THighPage&) = delete;
    THighPage& operator=(const THighPage&) = delete;

    BYTE* Base() const { return FBase; }

private:
    BYTE* FBase;
};

TEST_F(DllCallingInterface, PointersAboveFourGigabytesAndTheChartHandleArriveWhole) {
    THighPage page;
    ASSERT_NE(page.Base(), nullptr) << SystemErrorText(GetLastError());
    ASSERT_GT(reinterpret_cast<std::uintptr_t>(page.Base()), std::uintptr_t{0xFFFFFFFF})
        << "the system gave no memory above 4 GiB to test with";
    char* symbol = reinterpret_cast<char*>(page.Base());
    std::strcpy(symbol, "EURUSD");
    auto* block = reinterpret_cast<double*>(page.Base() + 64);
    for (int slot = 0; slot <= ExchangeBlockSize; ++slot)
        block[slot] = Untouched;

    // The chart as the 64-bit terminal hands it over: a 64-bit integer, here one whose
    // upper half is zero, as every window handle's is.
    HWND chart = NewChart();
    FLibrary->TerminalCreate(1.10525, 1.10510, 0.00001, 0.0001, 0.25, 12.5, 30, 7, 5, chart,
                             symbol);
    HWND panel = WaitForPanel(chart);
    ASSERT_NE(panel, nullptr) << "the chart received no panel";

    EXPECT_EQ(FLibrary->TerminalProcessMsg(1.10531, 1.10517, 0.00001, 0.0001, 5, block,
                                           ExchangeBlockSize, chart),
              erNothing);
    ExpectBlock(block, 0.25, 12.5, 30, 7);
    EXPECT_EQ(block[ExchangeBlockSize], Untouched) << "the library wrote past the four slots";

    ClickAndFlush(panel, TSide::Buy);
    EXPECT_EQ(FLibrary->TerminalProcessMsg(1.10531, 1.10517, 0.00001, 0.0001, 5, block,
                                           ExchangeBlockSize, chart),
              erBuy);

    FLibrary->TerminalDelete(chart);
    EXPECT_EQ(GetPropA(chart, AttachedProperty), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
}

#endif

// ---- the library's presence in the process ------------------------------------------------------

TEST(DllLifetime, ALibraryReleasedBeforeAnyPanelLeavesTheProcess) {
    PELLITH_RUN_IN_CHILD_PROCESS();
    ASSERT_EQ(GetModuleHandleW(L"Pellith.dll"), nullptr) << "loaded before the test";
    {
        TChartHost host;
        HWND chart = host.CreateChart({L"EURUSD,M1", 40, 40, 420, 300});
        TPellithLibrary library(DllPath());
        // Calls that record no chart: no window, and an exchange and delete without a panel.
        library.TerminalCreate(1.1, 1.0, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, nullptr, "EURUSD");
        TBlock block;
        EXPECT_EQ(library.TerminalProcessMsg(1.1, 1.0, 1e-5, 1e-4, 5, block.Values,
                                             ExchangeBlockSize, chart),
                  0);
        EXPECT_TRUE(block.IsUntouched());
        library.TerminalDelete(chart);
        ASSERT_NE(GetModuleHandleW(L"Pellith.dll"), nullptr);
    }
    EXPECT_EQ(GetModuleHandleW(L"Pellith.dll"), nullptr)
        << "a library without panels must leave the process when the host releases it";
}

} // namespace
