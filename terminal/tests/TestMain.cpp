#include "terminal/tests/TestMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/Win32.h"
#include "terminal/CommandLine.h"

namespace {

TCommandLine Options;

// Gives each test its own deadline on the watchdog.
class TDeadlineListener : public testing::EmptyTestEventListener {
public:
    explicit TDeadlineListener(std::chrono::seconds ADeadline) : FDeadline(ADeadline) {}
    void OnTestStart(const testing::TestInfo& ATest) override {
        ArmWatchdog(FDeadline, std::string(ATest.test_suite_name()) + "." + ATest.name());
    }
    void OnTestEnd(const testing::TestInfo&) override { DisarmWatchdog(); }

private:
    std::chrono::seconds FDeadline;
};

} // namespace

std::wstring TestOption(const char* AName) {
    return Options.Text(AName);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    Options = TCommandLine(argc, argv);
    // A child process started by a test must not write over this program's report.
    SetEnvironmentVariableW(L"GTEST_OUTPUT", nullptr);
    int seconds = 0;
    try {
        seconds = Options.Integer("watchdog", 240, 1, 24 * 3600);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    testing::UnitTest::GetInstance()->listeners().Append(
        new TDeadlineListener(std::chrono::seconds(seconds)));
    // --debugger=1 leaves a crash to the system's debugger, for its backtrace.
    StartWatchdog(Options.Text("debugger") != L"1");
    ProgressThreadName("test");
    return RUN_ALL_TESTS();
}
