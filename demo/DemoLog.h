#pragma once
// The demo's log: one line per event, with the seconds since the start, the source (a symbol or
// "user" or "terminal") and key=value fields that the session test reads back. Platform-free.

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Numbers as the log writes them, independent of any locale.
std::string Fixed(double AValue, int ADecimals);
std::string SignedFixed(double AValue, int ADecimals); // "+1.50", "-0.20"
std::string Shortest(double AValue); // the shortest text that reads back as the same double

class TDemoLog {
public:
    // Creates or truncates the file; throws std::runtime_error when it cannot be opened.
    explicit TDemoLog(const std::filesystem::path& APath);

    // Appends "<seconds> <source> <text>" and flushes, so a crash loses nothing; any thread.
    void Write(std::string_view ASource, std::string_view AText);

private:
    std::mutex FLock; // guards FFile
    std::ofstream FFile;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

// Which exchanges go into the log: every one that reports a click, every one whose four values
// differ from the previous exchange's, the first, and every Nth tick.
class TExchangeLogPolicy {
public:
    explicit TExchangeLogPolicy(int AEvery = 10) : FEvery(AEvery) {}
    bool ShouldLog(long ATick, int AResult, const std::array<double, 4>& AValues);

private:
    int FEvery;
    std::optional<std::array<double, 4>> FPrevious;
};
