// The number rules against the standard library's equivalents, on values like the panel's:
// prices with 2 to 5 decimals, lot sizes and pip counts. Compare items_per_second within a run.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "controls/VClExt.h"
#include "data/DataXT.h"

namespace {

struct TNumber {
    double value;
    int decimals;
};

// A fixed mix, a fifth each: FX prices (5 decimals), yen prices (3), index prices (2), lot
// sizes (2) and pip counts (1).
const std::vector<TNumber>& Mix() {
    static const std::vector<TNumber> mix = [] {
        std::mt19937 random(42);
        std::uniform_real_distribution<double> unit(0, 1);
        std::vector<TNumber> numbers;
        for (int i = 0; i < 1000; ++i) {
            switch (i % 5) {
            case 0:
                numbers.push_back({0.6 + unit(random), 5});
                break;
            case 1:
                numbers.push_back({100 + 60 * unit(random), 3});
                break;
            case 2:
                numbers.push_back({1000 + 30000 * unit(random), 2});
                break;
            case 3:
                numbers.push_back({0.01 * static_cast<int>(1 + 1000 * unit(random)), 2});
                break;
            default:
                numbers.push_back({0.1 * static_cast<int>(5000 * unit(random)), 1});
                break;
            }
        }
        return numbers;
    }();
    return mix;
}

// The mix as the panel's fields hold it.
const std::vector<std::string>& Texts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        char buffer[64];
        for (const TNumber& n : Mix()) {
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, n.value,
                                           std::chars_format::fixed, n.decimals)
                                 .ptr;
            out.emplace_back(buffer, end);
        }
        return out;
    }();
    return texts;
}

const std::vector<std::wstring>& WideTexts() {
    static const std::vector<std::wstring> texts = [] {
        std::vector<std::wstring> out;
        for (const std::string& t : Texts())
            out.emplace_back(t.begin(), t.end());
        return out;
    }();
    return texts;
}

template <typename Body> void RunOverMix(benchmark::State& state, std::size_t count, Body body) {
    for (auto _ : state) {
        for (std::size_t i = 0; i < count; ++i)
            body(i);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

void BM_Format_FormatFixedTo(benchmark::State& state) {
    const auto& mix = Mix();
    wchar_t buffer[MaxFixedTextLength];
    RunOverMix(state, mix.size(), [&](std::size_t i) {
        benchmark::DoNotOptimize(FormatFixedTo(buffer, mix[i].value, mix[i].decimals, L'.'));
        benchmark::ClobberMemory();
    });
}

void BM_Format_FormatFixed(benchmark::State& state) {
    const auto& mix = Mix();
    RunOverMix(state, mix.size(), [&](std::size_t i) {
        std::wstring text = FormatFixed(mix[i].value, mix[i].decimals, L'.');
        benchmark::DoNotOptimize(text);
    });
}

void BM_Format_StdToCharsFixed(benchmark::State& state) {
    const auto& mix = Mix();
    char buffer[400];
    RunOverMix(state, mix.size(), [&](std::size_t i) {
        benchmark::DoNotOptimize(std::to_chars(buffer, buffer + sizeof buffer, mix[i].value,
                                               std::chars_format::fixed, mix[i].decimals));
        benchmark::ClobberMemory();
    });
}

// The like-for-like baseline of FormatFixed: the same, returned as a new wide string.
void BM_Format_StdToCharsFixedWstring(benchmark::State& state) {
    const auto& mix = Mix();
    char buffer[400];
    RunOverMix(state, mix.size(), [&](std::size_t i) {
        char* end = std::to_chars(buffer, buffer + sizeof buffer, mix[i].value,
                                  std::chars_format::fixed, mix[i].decimals)
                        .ptr;
        std::wstring text(buffer, end);
        benchmark::DoNotOptimize(text);
    });
}

void BM_Format_Snprintf(benchmark::State& state) {
    const auto& mix = Mix();
    char buffer[400];
    RunOverMix(state, mix.size(), [&](std::size_t i) {
        benchmark::DoNotOptimize(
            std::snprintf(buffer, sizeof buffer, "%.*f", mix[i].decimals, mix[i].value));
        benchmark::ClobberMemory();
    });
}

void BM_Parse_TryParseFloat(benchmark::State& state) {
    const auto& texts = WideTexts();
    RunOverMix(state, texts.size(), [&](std::size_t i) {
        double value;
        benchmark::DoNotOptimize(TryParseFloat(texts[i], value, L'.'));
        benchmark::DoNotOptimize(value);
    });
}

void BM_Parse_StdFromChars(benchmark::State& state) {
    const auto& texts = Texts();
    RunOverMix(state, texts.size(), [&](std::size_t i) {
        double value;
        const std::string& t = texts[i];
        benchmark::DoNotOptimize(std::from_chars(t.data(), t.data() + t.size(), value));
        benchmark::DoNotOptimize(value);
    });
}

void BM_Parse_Strtod(benchmark::State& state) {
    const auto& texts = Texts();
    RunOverMix(state, texts.size(), [&](std::size_t i) {
        benchmark::DoNotOptimize(std::strtod(texts[i].c_str(), nullptr));
    });
}

// One exchange's snapshot: three texts from a quote, as the host's thread builds it per tick.
void BM_Tick_TerminalData(benchmark::State& state) {
    const auto& mix = Mix();
    RunOverMix(state, mix.size() - 1, [&](std::size_t i) {
        const TTerminalData data(nullptr, nullptr, mix[i + 1].value, mix[i].value, 0.00001, 0.0001,
                                 0, 0, 0, 0, 5);
        benchmark::DoNotOptimize(data.Spread().data());
    });
}

// The same three texts with the standard library's fixed format, widened into strings.
void BM_Tick_StdToCharsBaseline(benchmark::State& state) {
    const auto& mix = Mix();
    const auto widened = [](double x, int decimals) {
        char buffer[400];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, decimals)
                .ptr;
        return std::wstring(buffer, end);
    };
    RunOverMix(state, mix.size() - 1, [&](std::size_t i) {
        const double ask = mix[i + 1].value;
        const double bid = mix[i].value;
        std::wstring askText = widened(ask, 5);
        std::wstring bidText = widened(bid, 5);
        std::wstring spreadText = widened((ask - bid) / 0.0001, 1);
        benchmark::DoNotOptimize(askText.data());
        benchmark::DoNotOptimize(bidText.data());
        benchmark::DoNotOptimize(spreadText.data());
    });
}

} // namespace

BENCHMARK(BM_Format_FormatFixedTo);
BENCHMARK(BM_Format_FormatFixed);
BENCHMARK(BM_Format_StdToCharsFixed);
BENCHMARK(BM_Format_StdToCharsFixedWstring);
BENCHMARK(BM_Format_Snprintf);
BENCHMARK(BM_Parse_TryParseFloat);
BENCHMARK(BM_Parse_StdFromChars);
BENCHMARK(BM_Parse_Strtod);
BENCHMARK(BM_Tick_TerminalData);
BENCHMARK(BM_Tick_StdToCharsBaseline);
