#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "terminal/CommandLine.h"

namespace {

TEST(CommandLine, ReadsNameEqualsValueAndLeavesOtherArgumentsAlone) {
    const TCommandLine line({"--gtest_filter=A.*", "--dll=/work/build/Pellith.dll",
                             "--out=", "--seconds=6", "--seconds=7", "--interactive", "plain",
                             "-x=1", "--dllx=no"});
    struct TCase {
        const char* Name;
        std::wstring Text;
        bool Has;
    };
    const TCase cases[] = {
        {"dll", L"Z:\\work\\build\\Pellith.dll", true}, // a Unix path as Wine names it
        {"out", L"", true},                             // present, empty
        {"seconds", L"7", true},                        // the last one wins
        {"interactive", L"", true},                     // a switch has no value
        {"missing", L"", false},
        {"dl", L"", false}, // no prefix matches
        {"x", L"", false},  // one dash is no option
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        EXPECT_EQ(line.Text(test.Name), test.Text);
        EXPECT_EQ(line.Has(test.Name), test.Has);
    }
    EXPECT_EQ(line.Unknown({"dll", "out", "seconds", "interactive", "gtest_filter"}),
              (std::vector<std::string>{"plain", "-x=1", "--dllx=no"}));
}

// The message of the error that reading --n=... as a number from 1 to 100 throws; "" if none.
std::string IntegerError(const char* AArgument) {
    try {
        (void)TCommandLine({AArgument}).Integer("n", 42, 1, 100);
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return {};
}

TEST(CommandLine, WholeNumbersInTheirRangeOrAnErrorThatNamesTheOption) {
    struct TCase {
        const char* Argument;
        int Expected;
    };
    const TCase accepted[] = {{"--n=5", 5}, {"--n=1", 1}, {"--n=100", 100}, {"--other=3", 42}};
    for (const TCase& test : accepted)
        EXPECT_EQ(TCommandLine({test.Argument}).Integer("n", 42, 1, 100), test.Expected)
            << test.Argument;
    for (const char* rejected : {"--n=0", "--n=101", "--n=", "--n", "--n=5s", "--n= 5", "--n=-3",
                                 "--n=99999999999", "--n=0x10"})
        EXPECT_EQ(IntegerError(rejected).rfind("--n needs a whole number from 1 to 100", 0), 0u)
            << rejected << ": " << IntegerError(rejected);
}

TEST(CommandLine, DecimalNumbersInTheirRangeOrAnErrorThatNamesTheOption) {
    struct TCase {
        const char* Argument;
        double Expected;
    };
    const TCase accepted[] = {
        {"--s=0.5", 0.5}, {"--s=0.2", 0.2}, {"--s=60", 60}, {"--s=1e1", 10}, {"--other=3", 2}};
    for (const TCase& test : accepted)
        EXPECT_EQ(TCommandLine({test.Argument}).Number("s", 2, 0.2, 60), test.Expected)
            << test.Argument;
    for (const char* rejected : {"--s=0.1", "--s=60.5", "--s=", "--s", "--s=1,5", "--s=nan",
                                 "--s=inf", "--s= 1", "--s=2s"}) {
        std::string message;
        try {
            (void)TCommandLine({rejected}).Number("s", 2, 0.2, 60);
        } catch (const std::invalid_argument& error) {
            message = error.what();
        }
        EXPECT_EQ(message.rfind("--s needs a number from 0.2 to 60", 0), 0u)
            << rejected << ": " << message;
    }
}

TEST(CommandLine, TakesTheArgumentsAfterTheProgramsName) {
    char program[] = "program.exe";
    char option[] = "--watchdog=30";
    char* argv[] = {program, option, nullptr};
    const TCommandLine line(2, argv);
    EXPECT_EQ(line.Arguments(), std::vector<std::string>{"--watchdog=30"});
    EXPECT_EQ(line.Integer("watchdog", 240, 1, 3600), 30);
    EXPECT_TRUE(TCommandLine(1, argv).Arguments().empty());
}

} // namespace
