// Fuzzes FormatFixed against the reference that starts from the exact binary value of the double
// (tests/reference/FormatFixedReference.h) instead of the standard library's digits.
//
// Input: [mode] [decimals] [separator] [payload...]. The mode picks how the payload becomes a
// double, so that besides arbitrary bit patterns the fuzzer often lands on the values where the
// rule can go wrong: near a rounding point of the decimals, on exact ties at the 18th digit, and
// on short binary fractions whose halves are exact.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "data/DataXT.h"
#include "fuzz/FuzzInput.h"
#include "tests/reference/FormatFixedReference.h"

namespace {

double FromBits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

std::uint64_t BitsOf(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double Nudge(double x, int ulps) {
    for (; ulps > 0; --ulps)
        x = std::nextafter(x, std::numeric_limits<double>::infinity());
    for (; ulps < 0; ++ulps)
        x = std::nextafter(x, -std::numeric_limits<double>::infinity());
    return x;
}

// A decimal of up to 24 digits times a power of ten, as the nearest double, moved by a few units
// in the last place: the neighbourhood of the points where rounding to N decimals turns.
double NearADecimal(TFuzzInput& in) {
    const int ulps = static_cast<std::int8_t>(in.Byte()) / 16;
    const int low = in.Byte();
    const int exponent = static_cast<int>((low | (in.Byte() << 8)) % 680) - 345;
    const int count = 1 + in.Byte() % 24;
    std::string text;
    for (int i = 0; i < count; ++i)
        text.push_back(static_cast<char>('0' + in.Byte() % 10));
    text += 'e' + std::to_string(exponent);
    double x = 0;
    // A text out of range leaves x at 0, which is a case as good as any.
    std::from_chars(text.data(), text.data() + text.size(), x);
    return Nudge(x, ulps);
}

// r / 2^p with r odd and r * 5^p of exactly 19 digits: its decimal expansion ends in a 5 at the
// 19th significant digit, an exact tie when rounding to 18 digits. Such doubles exist only for
// p from 3 to 27.
double TieAtTheEighteenthDigit(TFuzzInput& in) {
    const int p = 3 + in.Byte() % 25;
    std::uint64_t fiveToP = 1;
    for (int i = 0; i < p; ++i)
        fiveToP *= 5;
    const std::uint64_t lowest = (1000000000000000000ull + fiveToP - 1) / fiveToP;
    const std::uint64_t highest =
        std::min<std::uint64_t>(9999999999999999999ull / fiveToP, (std::uint64_t{1} << 53) - 1);
    std::uint64_t r = (lowest + in.Word() % (highest - lowest + 1)) | 1;
    if (r > highest)
        r -= 2;
    return std::ldexp(static_cast<double>(r), -p);
}

// An arbitrary double with its low mantissa bits cleared: a short binary fraction, whose
// decimal expansion ends early, so that halves at the N-th decimal are exact.
double ShortBinaryFraction(TFuzzInput& in) {
    const int cleared = in.Byte() % 53;
    const std::uint64_t bits = in.Word() & ~((std::uint64_t{1} << cleared) - 1);
    return FromBits(bits);
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

[[noreturn]] void Mismatch(const char* what, double x, int decimals, wchar_t separator,
                           const std::wstring& expected, const std::wstring& got) {
    std::fprintf(stderr,
                 "FormatFixed mismatch (%s)\n  x = %a (bits 0x%016llx, %.21g)\n"
                 "  decimals = %d, separator = U+%04X\n  expected \"%s\"\n  got      \"%s\"\n",
                 what, x, static_cast<unsigned long long>(BitsOf(x)), x, decimals,
                 static_cast<unsigned>(separator), Narrow(expected).c_str(), Narrow(got).c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TFuzzInput in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::uint8_t decimalsByte = in.Byte() % 33;
    const wchar_t separator = in.Byte() % 2 == 0 ? L'.' : L',';

    // -5 ... 25 covers both ends of the range and both out-of-range rules; the extremes of int
    // check that nothing computes with the count before clamping it.
    int decimals = decimalsByte - 5;
    if (decimalsByte == 31)
        decimals = std::numeric_limits<int>::min();
    else if (decimalsByte == 32)
        decimals = std::numeric_limits<int>::max();

    double x = 0;
    switch (mode % 4) {
    case 0:
        x = FromBits(in.Word());
        break;
    case 1:
        x = NearADecimal(in);
        break;
    case 2:
        x = TieAtTheEighteenthDigit(in);
        break;
    case 3:
        x = ShortBinaryFraction(in);
        break;
    }
    if (mode % 4 != 0 && (mode & 4) != 0)
        x = -x;

    const std::wstring expected = FormatFixedReference(x, decimals, separator);
    const std::wstring got = FormatFixed(x, decimals, separator);
    if (got != expected)
        Mismatch("FormatFixed", x, decimals, separator, expected, got);

    // The buffer form, into a heap block of exactly the documented size, so that ASan sees any
    // write past it.
    const auto buffer = std::make_unique<wchar_t[]>(MaxFixedTextLength);
    const std::size_t length = FormatFixedTo(buffer.get(), x, decimals, separator);
    const std::wstring written(buffer.get(), std::min(length, MaxFixedTextLength));
    if (length > MaxFixedTextLength || written != expected)
        Mismatch("FormatFixedTo", x, decimals, separator, expected, written);
    return 0;
}
