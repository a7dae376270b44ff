#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <regex>
#include <thread>

#include "demo/DemoLog.h"
#include "platform/Win32.h"

namespace {

TEST(LogNumbers, AreWrittenTheSameWhateverTheLocale) {
    const struct {
        double Value;
        int Decimals;
        const char* FixedText;
        const char* SignedText;
    } cases[] = {
        {1.08462, 5, "1.08462", "+1.08462"},
        {0.125, 2, "0.12", "+0.12"}, // an exact tie goes to the even digit
        {-12.345, 2, "-12.35", "-12.35"},
        {0, 2, "0.00", "+0.00"},
        {151.2, 3, "151.200", "+151.200"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Fixed(c.Value, c.Decimals), c.FixedText);
        EXPECT_EQ(SignedFixed(c.Value, c.Decimals), c.SignedText);
    }
    EXPECT_EQ(Shortest(0.25), "0.25");
    EXPECT_EQ(Shortest(12), "12");
    EXPECT_EQ(Shortest(0.1 + 0.2), "0.30000000000000004"); // exact: what the panel handed back
    EXPECT_EQ(Shortest(std::numeric_limits<double>::infinity()), "inf");
}

TEST(ExchangeLogPolicy, LogsTheFirstEveryClickEveryChangeAndEveryNthTick) {
    TExchangeLogPolicy policy(5);
    const std::array<double, 4> start{0.1, 10, 15, 0};
    const std::array<double, 4> typed{0.25, 10, 15, 0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::array<double, 4> odd{nan, 10, 15, 0};
    const struct {
        long Tick;
        int Result;
        std::array<double, 4> Values;
        bool Logged;
    } sequence[] = {
        {1, 0, start, true},                                             // the first exchange
        {2, 0, start, false}, {3, 0, start, false}, {4, 2, start, true}, // a sell click
        {5, 0, start, true},                                             // the fifth tick
        {6, 0, typed, true},                                             // the lot changed
        {7, 0, typed, false}, {8, 1, typed, true},                       // a buy click
        {9, 0, odd, true},                                               // changed to NaN
        {11, 0, odd, false},                                             // NaN again is no change
        {12, 0, start, true},
    };
    for (const auto& s : sequence)
        EXPECT_EQ(policy.ShouldLog(s.Tick, s.Result, s.Values), s.Logged) << "tick " << s.Tick;
}

TEST(DemoLog, WritesWholeTimeStampedLinesFromManyThreads) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::filesystem::path path = std::filesystem::path(folder) / L"pellith-demo-log-test.log";
    {
        TDemoLog log(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 50; ++i)
                    log.Write(t % 2 ? "EURUSD" : "user",
                              "line t=" + std::to_string(t) + " i=" + std::to_string(i));
            });
        for (auto& thread : threads)
            thread.join();
    }
    std::ifstream file(path);
    const std::regex line(R"( *\d+\.\d{3} (EURUSD  |user    ) line t=\d i=\d+)");
    int count = 0;
    for (std::string text; std::getline(file, text); ++count)
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    EXPECT_EQ(count, 200);
    file.close();
    std::filesystem::remove(path);
}

TEST(DemoLog, FailsLoudlyWhenTheFileCannotBeCreated) {
    EXPECT_THROW(TDemoLog(L"Q:\\no\\such\\folder\\demo.log"), std::runtime_error);
}

} // namespace
