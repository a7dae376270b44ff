// Checks an expert's #import block against the real Pellith.dll of the same architecture: the
// .mq4 against the i686 library that MetaTrader 4 loads, the .mq5 against the x64 one that
// MetaTrader 5 loads. Every function it declares is exported, its parameters come in the order
// and kinds of the library's signature, and on i686 the stack bytes the MQL4 parameter types push
// are exactly what the function removes. A mismatch there would corrupt the terminal's stack on
// the first call.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "terminal/PellithLibrary.h"
#include "terminal/tests/TestMain.h"

#ifndef _WIN64
// i686 only: the 32-bit terminal pushes every argument and a stdcall function removes them.
// x64 has one calling convention, in which the callee removes nothing, so there is nothing to
// measure there.
//
// Calls AFunction with ABytes of arguments copied from AArguments, above a cushion of zeros, and
// returns how many bytes the function removed from the stack (stdcall: its arguments; cdecl: 0).
// The caller's frame is restored from EBP, so a function that removes too much cannot harm it.
extern "C" unsigned MeasureStackPop(const void* AFunction, const void* AArguments, unsigned ABytes);
asm(R"(
    .text
    .globl _MeasureStackPop
    .def _MeasureStackPop; .scl 2; .type 32; .endef
_MeasureStackPop:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $64, %esp
    movl %esp, %edi
    xorl %eax, %eax
    movl $16, %ecx
    cld
    rep stosl
    movl 16(%ebp), %ecx
    subl %ecx, %esp
    movl %esp, %edi
    movl 12(%ebp), %esi
    rep movsb
    movl %esp, %ebx
    call *8(%ebp)
    movl %esp, %eax
    subl %ebx, %eax
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif

namespace {

struct TMqlParameter {
    std::string Type;
    std::string Name;
    bool ByReference = false;
    bool IsArray = false;
};

struct TMqlImport {
    std::string ReturnType;
    std::string Name;
    std::vector<TMqlParameter> Parameters;
};

std::string WithoutComments(const std::string& ASource) {
    static const std::regex comments(R"(//[^\n]*|/\*[\s\S]*?\*/)");
    return std::regex_replace(ASource, comments, " ");
}

std::string Trim(const std::string& AText) {
    const auto first = AText.find_first_not_of(" \t\r\n");
    const auto last = AText.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : AText.substr(first, last - first + 1);
}

TMqlParameter ParseParameter(std::string AText) {
    TMqlParameter parameter;
    AText = Trim(AText.substr(0, AText.find('='))); // a default value does not change the type
    if (const auto brackets = AText.find('['); brackets != std::string::npos) {
        parameter.IsArray = true;
        AText = Trim(AText.substr(0, brackets));
    }
    if (const auto ampersand = AText.find('&'); ampersand != std::string::npos) {
        parameter.ByReference = true;
        AText[ampersand] = ' ';
    }
    std::istringstream words(AText);
    std::vector<std::string> parts;
    for (std::string word; words >> word;)
        if (word != "const")
            parts.push_back(word);
    if (parts.size() != 2)
        throw std::runtime_error("cannot read the parameter \"" + AText + "\"");
    parameter.Type = parts[0];
    parameter.Name = parts[1];
    return parameter;
}

// The declarations between `#import "<ALibrary>"` and the closing `#import`.
std::vector<TMqlImport> ParseImports(const std::string& ASource, const std::string& ALibrary) {
    const std::string source = WithoutComments(ASource);
    const std::string opening = "#import \"" + ALibrary + "\"";
    const auto begin = source.find(opening);
    if (begin == std::string::npos)
        throw std::runtime_error("no " + opening);
    const auto end = source.find("#import", begin + opening.size());
    if (end == std::string::npos)
        throw std::runtime_error("the #import block is not closed");
    std::stringstream block(source.substr(begin + opening.size(), end - begin - opening.size()));

    static const std::regex declaration(R"(^\s*(\w+)\s+(\w+)\s*\(([^)]*)\)\s*$)");
    std::vector<TMqlImport> imports;
    for (std::string text; std::getline(block, text, ';');) {
        if (Trim(text).empty())
            continue;
        std::smatch match;
        if (!std::regex_match(text, match, declaration))
            throw std::runtime_error("cannot read the declaration \"" + Trim(text) + "\"");
        TMqlImport import{match[1], match[2], {}};
        std::stringstream parameters(match[3].str());
        for (std::string parameter; std::getline(parameters, parameter, ',');)
            if (!Trim(parameter).empty() && Trim(parameter) != "void")
                import.Parameters.push_back(ParseParameter(parameter));
        imports.push_back(import);
    }
    return imports;
}

// The bytes MQL4 pushes for one parameter of an imported function.
int StackBytes(const TMqlParameter& AParameter) {
    if (AParameter.IsArray || AParameter.ByReference || AParameter.Type == "string")
        return 4; // an address
    static const std::map<std::string, int> byValue = {
        {"double", 8}, {"long", 8},  {"ulong", 8},  {"datetime", 8}, {"int", 4},
        {"uint", 4},   {"float", 4}, {"bool", 4},   {"color", 4},    {"char", 4},
        {"uchar", 4},  {"short", 4}, {"ushort", 4},
    };
    const auto it = byValue.find(AParameter.Type);
    if (it == byValue.end())
        throw std::runtime_error("no stack size known for MQL4 type " + AParameter.Type);
    return it->second;
}

// One letter per parameter: d a double, i a 32-bit integer (a window handle is one in MQL4), q a
// 64-bit integer (a window handle is one in MQL5), p an address.
std::string Kinds(const std::vector<TMqlParameter>& AParameters) {
    std::string kinds;
    for (const TMqlParameter& p : AParameters)
        kinds += (p.IsArray || p.ByReference)                                    ? 'p'
                 : StackBytes(p) == 8 && p.Type == "double"                      ? 'd'
                 : StackBytes(p) == 8 && (p.Type == "long" || p.Type == "ulong") ? 'q'
                 : StackBytes(p) == 4 && p.Type != "float"                       ? 'i'
                                                                                 : '?';
    return kinds;
}

TEST(MqlImportParser, ReadsDeclarationsWhateverTheirLayout) {
    const std::string source = R"(
        int before;
        #import "user32.dll"
        int MessageBoxW(int, string, string, int);
        #import
        #import "Example.dll"
        // a comment; with a semicolon
        void First(double a, const int b, uchar &text[]);   /* and ; another */
        int  Second(double& value, long big,
                    datetime when, string name = "x");
        bool Third();
        #import
    )";
    const auto imports = ParseImports(source, "Example.dll");
    ASSERT_EQ(imports.size(), 3u);
    EXPECT_EQ(imports[0].ReturnType, "void");
    EXPECT_EQ(imports[0].Name, "First");
    ASSERT_EQ(imports[0].Parameters.size(), 3u);
    EXPECT_EQ(imports[0].Parameters[1].Type, "int");
    EXPECT_TRUE(imports[0].Parameters[2].IsArray);
    EXPECT_TRUE(imports[0].Parameters[2].ByReference);
    EXPECT_EQ(imports[0].Parameters[2].Name, "text");
    EXPECT_EQ(imports[1].Name, "Second");
    EXPECT_TRUE(imports[1].Parameters[0].ByReference);
    EXPECT_FALSE(imports[1].Parameters[0].IsArray);
    EXPECT_EQ(imports[2].Name, "Third");
    EXPECT_TRUE(imports[2].Parameters.empty());
}

TEST(MqlImportParser, CountsStackBytesAsTheTerminalPushesThem) {
    const struct {
        const char* Parameter;
        int Bytes;
    } cases[] = {
        {"double x", 8},   {"int x", 4},       {"long x", 8},      {"datetime x", 8},
        {"bool x", 4},     {"uchar x", 4},     {"double &x[]", 4}, {"double& x", 4},
        {"uchar &s[]", 4}, {"const int x", 4}, {"string s", 4},    {"int x = 3", 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StackBytes(ParseParameter(c.Parameter)), c.Bytes) << c.Parameter;
    EXPECT_THROW(StackBytes(ParseParameter("MqlRates r")), std::runtime_error);
    EXPECT_THROW(ParseParameter("double"), std::runtime_error);
}

TEST(MqlImportParser, RejectsABlockItCannotRead) {
    EXPECT_THROW(ParseImports("#import \"Pellith.dll\"\nvoid F(int a);\n", "Pellith.dll"),
                 std::runtime_error);
    EXPECT_THROW(ParseImports("#import \"Other.dll\"\n#import\n", "Pellith.dll"),
                 std::runtime_error);
    EXPECT_THROW(
        ParseImports("#import \"Pellith.dll\"\nvoid F(int a, double);\n#import\n", "Pellith.dll"),
        std::runtime_error);
    EXPECT_THROW(ParseImports("#import \"Pellith.dll\"\nvoid F(int a;\n#import\n", "Pellith.dll"),
                 std::runtime_error);
}

class PellithPanelImports : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::wstring path = TestOption("expert");
        std::ifstream file{std::filesystem::path(path)};
        ASSERT_TRUE(file) << "cannot read " << Utf8(path);
        const std::string source{std::istreambuf_iterator<char>(file),
                                 std::istreambuf_iterator<char>()};
        Imports = ParseImports(source, "Pellith.dll");
        Library.reset(LoadLibraryW(TestOption("dll").c_str()));
        ASSERT_TRUE(Library) << "cannot load " << Utf8(TestOption("dll"));
    }
    static void TearDownTestSuite() { Library.reset(); }

    static inline std::vector<TMqlImport> Imports;
    static inline std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> Library{
        nullptr, &FreeLibrary};
};

TEST_F(PellithPanelImports, DeclareTheThreeEntryPointsInTheLibrarysOwnOrderAndKinds) {
    // The library's signatures, one letter per argument as Kinds writes them: the chart's window
    // handle is as wide as a pointer, a 32-bit int in MQL4 and a 64-bit long in MQL5.
#ifdef _WIN64
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"TerminalCreate", {"void", "ddddddddiqp"}},
        {"TerminalProcessMsg", {"int", "ddddipiq"}},
        {"TerminalDelete", {"void", "q"}},
    };
#else
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"TerminalCreate", {"void", "ddddddddiip"}},
        {"TerminalProcessMsg", {"int", "ddddipii"}},
        {"TerminalDelete", {"void", "i"}},
    };
#endif
    ASSERT_EQ(Imports.size(), expected.size());
    for (const TMqlImport& import : Imports) {
        const auto it = expected.find(import.Name);
        ASSERT_NE(it, expected.end()) << import.Name << " is no entry point of the library";
        EXPECT_EQ(import.ReturnType, it->second.first) << import.Name;
        EXPECT_EQ(Kinds(import.Parameters), it->second.second) << import.Name;
    }
}

TEST_F(PellithPanelImports, EachFunctionIsExportedAndRemovesExactlyTheBytesItIsGiven) {
    for (const TMqlImport& import : Imports) {
        SCOPED_TRACE(import.Name);
        const FARPROC function = GetProcAddress(Library.get(), import.Name.c_str());
        ASSERT_NE(function, nullptr) << "not exported";
#ifndef _WIN64

        // Harmless arguments: zeros everywhere, so the chart window is 0 and every entry point
        // returns at once; an array is the address of a zeroed block.
        static double block[16] = {};
        std::vector<std::uint8_t> arguments;
        for (const TMqlParameter& parameter : import.Parameters) {
            const int bytes = StackBytes(parameter);
            if (parameter.IsArray || parameter.ByReference) {
                const auto address = reinterpret_cast<std::uintptr_t>(block);
                arguments.insert(arguments.end(), reinterpret_cast<const std::uint8_t*>(&address),
                                 reinterpret_cast<const std::uint8_t*>(&address) + 4);
            } else {
                arguments.insert(arguments.end(), static_cast<std::size_t>(bytes), 0);
            }
        }
        const unsigned popped =
            MeasureStackPop(reinterpret_cast<const void*>(function), arguments.data(),
                            static_cast<unsigned>(arguments.size()));
        EXPECT_EQ(popped, arguments.size()) << "the declaration pushes " << arguments.size()
                                            << " bytes, the function removes " << popped;
        for (double value : block)
            EXPECT_EQ(value, 0) << "the call was meant to change nothing";
#endif
    }
}

#ifndef _WIN64
// Two functions of known conventions, for the thunk itself.
int __stdcall StdcallProbe(int, double) {
    return 0;
}
int CdeclProbe(int, double) {
    return 0;
}

TEST(MeasureStackPop, TellsStdcallFromCdecl) {
    const std::uint8_t arguments[12] = {};
    EXPECT_EQ(MeasureStackPop(reinterpret_cast<const void*>(&StdcallProbe), arguments, 12), 12u);
    EXPECT_EQ(MeasureStackPop(reinterpret_cast<const void*>(&CdeclProbe), arguments, 12), 0u);
}
#endif

} // namespace
