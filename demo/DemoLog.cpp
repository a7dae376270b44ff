#include "demo/DemoLog.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

std::string Fixed(double AValue, int ADecimals) {
    char buffer[400];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, AValue, std::chars_format::fixed, ADecimals)
            .ptr;
    return std::string(buffer, end);
}

std::string SignedFixed(double AValue, int ADecimals) {
    const std::string text = Fixed(AValue, ADecimals);
    return text[0] == '-' ? text : "+" + text;
}

std::string Shortest(double AValue) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, AValue).ptr;
    return std::string(buffer, end);
}

TDemoLog::TDemoLog(const std::filesystem::path& APath)
    : FFile(APath, std::ios::out | std::ios::trunc) {
    if (!FFile)
        throw std::runtime_error("cannot create the log " + APath.string());
}

void TDemoLog::Write(std::string_view ASource, std::string_view AText) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    std::string time = Fixed(seconds, 3);
    time.insert(0, time.size() < 8 ? 8 - time.size() : 0, ' ');
    std::string source(ASource);
    source.resize(std::max<std::size_t>(source.size(), 8), ' ');
    std::lock_guard lock(FLock);
    FFile << time << ' ' << source << ' ' << AText << '\n';
    FFile.flush();
}

bool TExchangeLogPolicy::ShouldLog(long ATick, int AResult, const std::array<double, 4>& AValues) {
    // Compared bit for bit, so that a NaN the panel hands back counts as unchanged.
    const bool changed = !FPrevious || std::memcmp(FPrevious->data(), AValues.data(),
                                                   sizeof(double) * AValues.size()) != 0;
    FPrevious = AValues;
    return changed || AResult != 0 || (FEvery > 0 && ATick % FEvery == 0);
}
