#pragma once
// An independent reference for FormatFixed, shared by the unit tests and the fuzzer: it starts
// from the exact binary value of the double (m * 2^q, written out in decimal with a big integer)
// instead of the standard library's digits that the product uses, then applies the rule step by
// step: 18 significant digits rounded to nearest (ties to even), half away from zero to N
// decimals, the sign only on a value that does not round to zero.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/reference/BigDecimal.h"

namespace FormatFixedReferenceDetail {

inline constexpr int SignificantDigits = 18;

// The 18 significant digits of a finite, non-zero |x|, rounded to nearest with ties to even,
// and E, so that the rounded value is 0.d1d2...d18 * 10^E.
struct TEighteenDigits {
    std::string digits;
    int e;
};

inline TEighteenDigits RoundedDigits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    const int q = biased == 0 ? -1074 : biased - 1075;

    // |x| = m * 2^q. For q < 0 that is m * 5^-q / 10^-q: the digits of m * 5^-q with the point
    // -q places from the right.
    TBigDecimal exact(m);
    if (q >= 0)
        exact.MultiplyByPowerOfTwo(q);
    else
        exact.MultiplyByPowerOfFive(-q);
    std::string digits = exact.Digits();
    int e = static_cast<int>(digits.size()) + std::min(q, 0);

    if (digits.size() <= SignificantDigits) {
        digits.resize(SignificantDigits, '0');
        return {digits, e};
    }
    const char next = digits[SignificantDigits];
    const bool moreFollows =
        digits.find_first_not_of('0', SignificantDigits + 1) != std::string::npos;
    const bool lastIsOdd = (digits[SignificantDigits - 1] - '0') % 2 == 1;
    const bool up = next > '5' || (next == '5' && (moreFollows || lastIsOdd));
    digits.resize(SignificantDigits);
    if (up) {
        int i = SignificantDigits - 1;
        for (; i >= 0 && digits[i] == '9'; --i)
            digits[i] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits.assign(SignificantDigits, '0');
            digits[0] = '1';
            ++e;
        }
    }
    return {digits, e};
}

} // namespace FormatFixedReferenceDetail

// The text FormatFixed must give for x with `decimals` decimals and the given separator.
inline std::wstring FormatFixedReference(double x, int decimals, wchar_t separator) {
    using namespace FormatFixedReferenceDetail;
    if (decimals < 0)
        return L"";
    if (decimals > SignificantDigits)
        decimals = 2;
    if (std::isnan(x))
        return L"NAN";
    if (std::isinf(x))
        return x < 0 ? L"-INF" : L"INF";

    // The rounded value times 10^decimals, as decimal digits of an integer.
    std::string scaled;
    if (x != 0) {
        const TEighteenDigits d = RoundedDigits(x);
        const int kept = d.e + decimals; // digits of the 18 that lie before the N-th decimal
        if (kept >= SignificantDigits) {
            scaled = d.digits + std::string(kept - SignificantDigits, '0');
        } else if (kept >= 0) {
            scaled = d.digits.substr(0, kept);
            if (d.digits[kept] >= '5') { // half away from zero
                int i = kept - 1;
                for (; i >= 0 && scaled[i] == '9'; --i)
                    scaled[i] = '0';
                if (i >= 0)
                    ++scaled[i];
                else
                    scaled.insert(0, 1, '1');
            }
        }
        // kept < 0: below a tenth of the last decimal, the value rounds to zero.
    }
    scaled.erase(0, std::min(scaled.find_first_not_of('0'), scaled.size()));
    // "x is negative": a negative zero is zero and has no sign, as a negative that rounds to
    // zero has none.
    const bool negative = x < 0 && !scaled.empty();
    if (static_cast<int>(scaled.size()) < decimals + 1)
        scaled.insert(0, decimals + 1 - scaled.size(), '0');

    std::wstring text(scaled.begin(), scaled.end());
    if (decimals > 0)
        text.insert(text.size() - decimals, 1, separator);
    if (negative)
        text.insert(0, 1, L'-');
    return text;
}
