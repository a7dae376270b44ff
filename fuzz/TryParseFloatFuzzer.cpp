// Fuzzes TryParseFloat against a grammar checker of its own and, for the value, std::from_chars
// on a normalised copy (significant digits, 'e', exponent). The extended-precision limit is
// decided exactly, on a big-integer expansion of the limit.
//
// Input: [flags] [rest...]. The flags pick the separator and how the rest becomes code units:
// as text (ASCII as itself, other bytes as grammar pieces, repeats and single code units), as a
// number built from parts whose size lands near the limits, as raw UTF-16 code units, or as raw
// 32-bit wchar_t values (negative ones included).

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "controls/VClExt.h"
#include "fuzz/FuzzInput.h"
#include "tests/reference/BigDecimal.h"

namespace {

// Long enough for digit runs well past the 768 digits that can decide a double, short enough
// to keep runs fast.
constexpr std::size_t MaxTextLength = 1 << 14;

// A magnitude that rounds to the 64-bit-mantissa extended format overflows from
// (2 - 2^-64) * 2^16383 = (2^65 - 1) * 2^16319 on, the midpoint between the largest finite
// value (an odd mantissa) and 2^16384. Its digits, and the decimal exponent of the first one.
const std::string& ExtendedLimitDigits() {
    static const std::string digits = [] {
        // The largest finite value itself, (2^64 - 1) * 2^16320, has well-known leading digits:
        // a check that the big integer is right before anything is decided with it.
        TBigDecimal largest(~std::uint64_t{0});
        largest.MultiplyByPowerOfTwo(16320);
        if (largest.Digits().compare(0, 30, "118973149535723176502126385303") != 0) {
            std::fprintf(stderr, "the big-integer reference is broken\n");
            std::abort();
        }
        TBigDecimal limit(~std::uint64_t{0});
        limit.MultiplyBy(2);
        limit.Add(1);
        limit.MultiplyByPowerOfTwo(16319);
        return limit.Digits();
    }();
    return digits;
}
constexpr long long ExtendedLimitExponent = 4932;

// Text: ASCII bytes as themselves, other bytes as pieces of the grammar (S stands for the
// separator), repeats of the last unit, or one arbitrary code unit from the next two bytes.
std::wstring DecodeText(const std::uint8_t* data, std::size_t size, wchar_t separator) {
    static constexpr std::wstring_view Pieces = L"0123456789012345678900000999995S.,eE+-+- \t\n\r"
                                                L"\u00A0\uFEFF\u0661\uFF10\u3000xS";
    std::wstring text;
    for (std::size_t i = 0; i < size && text.size() < MaxTextLength; ++i) {
        const std::uint8_t b = data[i];
        if (b < 0x80) {
            text.push_back(static_cast<wchar_t>(b));
        } else if (b < 0xE0) {
            const wchar_t piece = Pieces[(b - 0x80) % Pieces.size()];
            text.push_back(piece == L'S' ? separator : piece);
        } else if (b < 0xF0) {
            // 2^n more of the last unit: long runs of digits from a short input.
            if (!text.empty()) {
                const std::size_t count =
                    std::min(std::size_t{1} << (b - 0xE0), MaxTextLength - text.size());
                text.append(count, text.back());
            }
        } else if (i + 2 < size) {
            text.push_back(static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8)));
            i += 2;
        }
    }
    return text;
}

// A well-formed number whose first significant digit's decimal exponent lies within a few of
// one of the places where the outcome changes: the fast path's reach, the double's overflow
// and underflow, the exponent's reading limit, the extended format's limit.
std::wstring NumberFromParts(const std::uint8_t* data, std::size_t size, wchar_t separator) {
    static constexpr int Anchors[] = {0,    15,   16,   22,    23,    308,   309,  -307,
                                      -308, -323, -324, -325,  499,   500,   4931, 4932,
                                      4933, 4999, -343, -4999, -5000, -1075, 19,   -22};
    TFuzzInput in(data, size);
    const std::uint8_t flags = in.Byte();
    std::wstring text;
    if ((flags & 1) != 0)
        text.push_back((flags & 2) != 0 ? L'-' : L'+');
    text.append(in.Byte() % 8, L'0');
    const int anchor = Anchors[in.Byte() % std::size(Anchors)];
    const int offset = static_cast<std::int8_t>(in.Byte()) % 8;
    const int count = in.Byte() % 48;
    const int point = in.Byte() % (count + 2); // count + 1: no separator
    for (int i = 0; i < count; ++i) {
        if (i == point)
            text.push_back(separator);
        text.push_back(static_cast<wchar_t>(L'0' + in.Byte() % 10));
    }
    if (point == count)
        text.push_back(separator);

    const int integerDigits = std::min(point, count);
    const int exponent = anchor + offset - (integerDigits - 1);
    if ((flags & 0xC0) != 0x40) { // else no exponent
        text.push_back((flags & 4) != 0 ? L'E' : L'e');
        if (exponent < 0)
            text.push_back(L'-');
        else if ((flags & 8) != 0)
            text.push_back(L'+');
        text.append((flags >> 4) & 3, L'0');
        for (char c : std::to_string(std::abs(exponent)))
            text.push_back(static_cast<wchar_t>(c));
    }
    // Whatever follows, blanks or anything else.
    if ((flags & 0xC0) == 0xC0)
        text += DecodeText(in.Rest(), in.RestSize(), separator);
    return text;
}

// The code units of the text, from the fuzz input.
std::wstring DecodeInput(const std::uint8_t* data, std::size_t size, wchar_t separator,
                         unsigned encoding) {
    std::wstring text;
    switch (encoding) {
    case 0:
        return DecodeText(data, size, separator);
    case 1:
        return NumberFromParts(data, size, separator);
    case 2:
        for (std::size_t i = 0; i + 1 < size; i += 2)
            text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
        return text;
    default:
        for (std::size_t i = 0; i + 3 < size; i += 4) {
            std::uint32_t unit = 0;
            std::memcpy(&unit, data + i, sizeof unit);
            text.push_back(static_cast<wchar_t>(unit));
        }
        return text;
    }
}

struct TExpected {
    bool ok = false;
    double value = 0;
    // The parser may also reject this text: it sits just below the extended bound, beyond the
    // 40 digits of the bound that the parser compares.
    bool mayBeRejected = false;
};

bool IsBlankUnit(wchar_t c) {
    // Code units are compared as unsigned numbers: a negative wchar_t is far above U+0020.
    return static_cast<std::uint32_t>(c) <= 0x20;
}

bool IsAsciiDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The exponent's digits are read while the value so far is below 500. Without its leading zeros
// a run of three digits or fewer is always read whole; four are read whole only when the first
// three make less than 500; five or more never are. Returns false when a digit is left over.
bool ReadExponent(std::wstring_view run, long long& exponent) {
    std::size_t first = 0;
    while (first < run.size() && run[first] == L'0')
        ++first;
    const std::wstring_view significant = run.substr(first);
    exponent = 0;
    for (wchar_t c : significant.substr(0, 4))
        exponent = exponent * 10 + (c - L'0');
    if (significant.size() <= 3)
        return true;
    return significant.size() == 4 && exponent / 10 < 500;
}

TExpected Expect(std::wstring_view text, wchar_t separator) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankUnit(text[begin]))
        ++begin;
    while (end > begin && IsBlankUnit(text[end - 1]))
        --end;
    const std::wstring_view t = text.substr(begin, end - begin);

    std::size_t i = 0;
    const bool negative = i < t.size() && t[i] == L'-';
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-'))
        ++i;

    std::string digits; // integer and fraction digits together
    long long fractionDigits = 0;
    bool mantissa = false;
    for (; i < t.size() && IsAsciiDigit(t[i]); ++i, mantissa = true)
        digits.push_back(static_cast<char>(t[i]));
    if (i < t.size() && t[i] == separator) {
        mantissa = true;
        for (++i; i < t.size() && IsAsciiDigit(t[i]); ++i, ++fractionDigits)
            digits.push_back(static_cast<char>(t[i]));
    }
    if (!mantissa)
        return {};

    long long exponent = 0;
    if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
        ++i;
        const bool negativeExponent = i < t.size() && t[i] == L'-';
        if (i < t.size() && (t[i] == L'+' || t[i] == L'-'))
            ++i;
        const std::size_t runStart = i;
        while (i < t.size() && IsAsciiDigit(t[i]))
            ++i;
        if (!ReadExponent(t.substr(runStart, i - runStart), exponent))
            return {};
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != t.size())
        return {};

    // Normalise: value = S * 10^scale with S's first and last digits non-zero.
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return {true, negative ? -0.0 : 0.0};
    const std::size_t lastNonZero = digits.find_last_not_of('0');
    const std::string significant = digits.substr(firstNonZero, lastNonZero + 1 - firstNonZero);
    const long long scale =
        exponent - fractionDigits + static_cast<long long>(digits.size() - 1 - lastNonZero);
    // The decimal exponent of the first significant digit: value = d1.d2d3... * 10^leading.
    const long long leading = static_cast<long long>(significant.size()) - 1 + scale;

    if (leading > ExtendedLimitExponent)
        return {};
    bool nearTheBound = false;
    if (leading == ExtendedLimitExponent) {
        // Compare digit by digit, the shorter one padded with zeros; reaching the limit is out.
        const std::string& limit = ExtendedLimitDigits();
        const std::size_t length = std::max(limit.size(), significant.size());
        int order = 0;
        for (std::size_t k = 0; k < length && order == 0; ++k) {
            const char a = k < significant.size() ? significant[k] : '0';
            const char b = k < limit.size() ? limit[k] : '0';
            order = (a > b) - (a < b);
        }
        if (order >= 0)
            return {};
        nearTheBound = significant.size() > 40 && significant.compare(0, 40, limit, 0, 40) == 0;
    }

    const std::string normal = significant + 'e' + std::to_string(scale);
    double magnitude = 0;
    const auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), magnitude);
    // Overflow or a result that rounds to zero comes back out of range; the first digit's
    // exponent says which. In the band between, from_chars must give a finite, non-zero answer.
    const bool outOfRange = ec == std::errc::result_out_of_range;
    if (outOfRange && leading >= 308) {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (outOfRange && leading <= -324) {
        magnitude = 0;
    } else if (ec != std::errc() || ptr != normal.data() + normal.size()) {
        std::fprintf(stderr, "from_chars refused the normalised copy %s\n", normal.c_str());
        std::abort();
    }
    return {true, negative ? -magnitude : magnitude, nearTheBound};
}

std::uint64_t BitsOf(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The text with everything but printable ASCII escaped, shortened in the middle when long.
std::string Printable(std::wstring_view text) {
    std::string out;
    char escape[16];
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.size() > 400 && i == 150) {
            std::snprintf(escape, sizeof escape, "<%zu more>", text.size() - 300);
            out += escape;
            i = text.size() - 150;
        }
        const auto c = static_cast<std::uint32_t>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Builds the limit, and checks the big integer, before the first input.
    ExtendedLimitDigits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr wchar_t Separators[] = {L'.', L',', L'\u066B', L'.'};
    const wchar_t separator = Separators[data[0] & 3];
    const std::wstring text = DecodeInput(data + 1, size - 1, separator, (data[0] >> 2) & 3);

    const TExpected expected = Expect(text, separator);
    // Any value left behind must come from the parser, never from before the call.
    double value = std::numeric_limits<double>::quiet_NaN();
    const bool ok = TryParseFloat(text, value, separator);
    const bool toleratedRejection = expected.mayBeRejected && !ok && BitsOf(value) == BitsOf(0.0);
    if (!toleratedRejection && (ok != expected.ok || BitsOf(value) != BitsOf(expected.value))) {
        std::fprintf(stderr,
                     "TryParseFloat mismatch\n  text (%zu units) \"%s\"\n  separator U+%04X\n"
                     "  expected %s, value %a (%.17g)\n  got      %s, value %a (%.17g)\n",
                     text.size(), Printable(text).c_str(), static_cast<unsigned>(separator),
                     expected.ok ? "true" : "false", expected.value, expected.value,
                     ok ? "true" : "false", value, value);
        std::abort();
    }
    return 0;
}
