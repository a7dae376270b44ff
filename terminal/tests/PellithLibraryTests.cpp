#include <gtest/gtest.h>

#include <stdexcept>

#include "terminal/PellithLibrary.h"
#include "terminal/tests/TestMain.h"

namespace {

// The message of the exception that `load` throws, or "" when it throws none.
template <class TLoad> std::string FailureOf(TLoad load) {
    try {
        load();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST(PellithLibrary, AMissingFileFailsNamingTheFile) {
    const std::string message =
        FailureOf([] { TPellithLibrary library(L"C:\\no\\such\\folder\\Pellith.dll"); });
    EXPECT_NE(message.find("cannot load C:\\no\\such\\folder\\Pellith.dll"), std::string::npos)
        << message;
}

TEST(PellithLibrary, ALibraryWithoutTheEntryPointsFailsNamingTheFirstMissingAndIsReleased) {
    // A system library that nothing in this program loads otherwise.
    ASSERT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr);
    const std::string message = FailureOf([] { TPellithLibrary library(L"msimg32.dll"); });
    EXPECT_EQ(message, "msimg32.dll does not export TerminalCreate");
    EXPECT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr);
}

TEST(PellithLibrary, ResolvesTheThreeEntryPointsOfTheRealLibrary) {
    const std::wstring path = TestOption("dll");
    ASSERT_FALSE(path.empty()) << "pass --dll=<path of Pellith.dll>";
    TPellithLibrary library(path);
    EXPECT_EQ(library.Path(), path);
    ASSERT_NE(library.Module(), nullptr);
    for (const char* name : {"TerminalCreate", "TerminalProcessMsg", "TerminalDelete"})
        EXPECT_NE(GetProcAddress(library.Module(), name), nullptr) << name;
    EXPECT_EQ(reinterpret_cast<void*>(library.TerminalCreate),
              reinterpret_cast<void*>(GetProcAddress(library.Module(), "TerminalCreate")));
    EXPECT_EQ(reinterpret_cast<void*>(library.TerminalProcessMsg),
              reinterpret_cast<void*>(GetProcAddress(library.Module(), "TerminalProcessMsg")));
    EXPECT_EQ(reinterpret_cast<void*>(library.TerminalDelete),
              reinterpret_cast<void*>(GetProcAddress(library.Module(), "TerminalDelete")));
    // Without a chart window every entry point returns at once and leaves the block alone.
    double block[ExchangeBlockSize] = {-1, -1, -1, -1};
    EXPECT_EQ(
        library.TerminalProcessMsg(1.1, 1.0, 1e-5, 1e-4, 5, block, ExchangeBlockSize, nullptr),
        erNothing);
    for (double value : block)
        EXPECT_EQ(value, -1);
    library.TerminalDelete(nullptr);
}

} // namespace
