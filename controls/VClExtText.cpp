// The platform-free half of VClExt: the blank test and the decimal parser.

#include "controls/VClExt.h"

#include <cfloat>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace {

// Compared as unsigned: on Linux wchar_t is signed, and a negative unit is no blank.
bool IsBlank(wchar_t c) {
    return static_cast<std::make_unsigned_t<wchar_t>>(c) <= 0x20;
}

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Deciding the nearest double never needs more than 768 significant digits (the longest
// exact midpoint between two doubles has 767). Past that only "something non-zero follows"
// matters, which one extra digit 1 stands for.
constexpr int MaxKeptDigits = 800;

// Digits that make an integer of at most 2^53, scaled by at most 10^22 either way, are two
// exact doubles: one multiplication or division gives the nearest double directly, provided the
// arithmetic is done in double precision (SSE2 on i686, not the x87's extended registers).
constexpr bool FastPathExact = FLT_EVAL_METHOD == 0;
constexpr int FastPathDigits = 19;
constexpr std::uint64_t FastPathMaxMantissa = std::uint64_t{1} << 53;
constexpr long long FastPathMaxScale = 22;
constexpr double PowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The exponent's digits are read while its value is below this.
constexpr int ExponentReadLimit = 500;

// The smallest magnitude that overflows the 64-bit-mantissa extended format when rounded to
// it, (2 - 2^-64) * 2^16383, to 40 significant digits, and its decimal exponent. A text whose
// digits equal these and go on is counted as beyond; the true bound differs only after them.
constexpr std::string_view ExtendedOverflowDigits = "1189731495357231765053511589829488667966";
constexpr long long ExtendedOverflowExponent = 4932;

// Beyond these decimal exponents of the first significant digit a double is certainly
// infinite (>= 1e309) or certainly rounds to zero (< 1e-324, below half the least subnormal).
constexpr long long DoubleOverflowExponent = 309;
constexpr long long DoubleUnderflowExponent = -325;

// True when d1.d2d3... (the significant digits) times 10^4932 reaches the extended bound.
bool ReachesExtendedOverflow(const char* digits, int count) {
    const int compared = static_cast<int>(ExtendedOverflowDigits.size());
    for (int i = 0; i < compared; ++i) {
        const char d = i < count ? digits[i] : '0';
        if (d != ExtendedOverflowDigits[i])
            return d > ExtendedOverflowDigits[i];
    }
    return count > compared;
}

} // namespace

bool IsNotBlank(std::wstring_view text) {
    for (wchar_t c : text) {
        if (!IsBlank(c))
            return true;
    }
    return false;
}

bool TryParseFloat(std::wstring_view text, double& value, wchar_t separator) {
    value = 0;
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && IsBlank(text[i]))
        ++i;
    while (end > i && IsBlank(text[end - 1]))
        --end;

    bool negative = false;
    if (i < end && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }

    // The significant digits (from the first non-zero one) as ASCII, then 'e' and an exponent
    // for from_chars.
    char digits[MaxKeptDigits + 16];
    int kept = 0;
    long long significant = 0; // digits from the first non-zero one, kept or not
    std::uint64_t leading = 0; // the first FastPathDigits of them as an integer
    bool droppedNonZero = false;
    const auto take = [&](wchar_t c) {
        if (kept == 0 && c == L'0')
            return; // a leading zero
        ++significant;
        if (kept < FastPathDigits)
            leading = leading * 10 + static_cast<unsigned>(c - L'0');
        if (kept < MaxKeptDigits)
            digits[kept++] = static_cast<char>(c);
        else if (c != L'0')
            droppedNonZero = true;
    };

    bool mantissaSeen = false;
    for (; i < end && IsDigit(text[i]); ++i) {
        take(text[i]);
        mantissaSeen = true;
    }
    long long fractionDigits = 0;
    if (i < end && text[i] == separator) {
        mantissaSeen = true;
        for (++i; i < end && IsDigit(text[i]); ++i) {
            take(text[i]);
            ++fractionDigits;
        }
    }
    if (!mantissaSeen)
        return false;

    int exponent = 0;
    if (i < end && (text[i] == L'e' || text[i] == L'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (text[i] == L'+' || text[i] == L'-')) {
            negativeExponent = text[i] == L'-';
            ++i;
        }
        for (; i < end && IsDigit(text[i]) && exponent < ExponentReadLimit; ++i)
            exponent = exponent * 10 + static_cast<int>(text[i] - L'0');
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != end)
        return false;

    constexpr double Infinity = std::numeric_limits<double>::infinity();
    double magnitude = 0;
    const long long scale = exponent - fractionDigits; // value = digits * 10^scale
    if (kept > 0 && FastPathExact && significant <= FastPathDigits &&
        leading <= FastPathMaxMantissa && scale >= -FastPathMaxScale && scale <= FastPathMaxScale) {
        // Both operands are exact doubles, so the one operation rounds correctly.
        const double m = static_cast<double>(leading);
        magnitude = scale < 0 ? m / PowersOfTen[-scale] : m * PowersOfTen[scale];
    } else if (kept > 0) {
        if (droppedNonZero) {
            digits[kept++] = '1';
        } else {
            while (digits[kept - 1] == '0')
                --kept;
        }
        // The value is d1.d2d3... * 10^first.
        const long long first = significant - 1 + scale;
        if (first > ExtendedOverflowExponent ||
            (first == ExtendedOverflowExponent && ReachesExtendedOverflow(digits, kept)))
            return false;
        if (first >= DoubleOverflowExponent) {
            magnitude = Infinity;
        } else if (first > DoubleUnderflowExponent) {
            char* p = digits + kept;
            *p++ = 'e';
            p = std::to_chars(p, digits + sizeof digits, first - (kept - 1)).ptr;
            const auto [ptr, ec] = std::from_chars(digits, p, magnitude);
            // libstdc++ reports a result that overflows or rounds to zero as out of range and
            // leaves the value alone; only the size of the exponent tells which it was.
            if (ec == std::errc::result_out_of_range)
                magnitude = first > 0 ? Infinity : 0.0;
            else if (ec != std::errc() || ptr != p)
                return false;
        }
    }
    value = negative ? -magnitude : magnitude;
    return true;
}
