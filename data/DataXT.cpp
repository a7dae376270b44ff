// The market-data snapshot and the fixed-point rule. Platform-free: the system's regional
// settings come in through SystemLocale.h only.

#include "data/DataXT.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "data/SystemLocale.h"

namespace {

// Read during the library's static initialisation, so under Windows on the thread that loads
// the DLL, while it is loaded; nothing writes it afterwards.
const wchar_t LoadedDecimalSeparator = ReadLocaleDecimalSeparator();

constexpr int SignificantDigits = 18;

std::size_t WriteZero(wchar_t* out, int decimals, wchar_t separator) {
    wchar_t* p = out;
    *p++ = L'0';
    if (decimals > 0) {
        *p++ = separator;
        for (int i = 0; i < decimals; ++i)
            *p++ = L'0';
    }
    return static_cast<std::size_t>(p - out);
}

// A 128-bit unsigned product, written out for targets without a 128-bit integer type.
struct TWide {
    std::uint64_t hi;
    std::uint64_t lo;
};

TWide Multiply(std::uint64_t a, std::uint64_t b) {
#ifdef __SIZEOF_INT128__
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
#else
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
    const std::uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
#endif
}

constexpr int MaxFastPower = 27; // 5^27 is the largest power of five that fits 64 bits
constexpr auto PowersOfFive = [] {
    std::array<std::uint64_t, MaxFastPower + 1> powers{};
    powers[0] = 1;
    for (int i = 1; i <= MaxFastPower; ++i)
        powers[i] = powers[i - 1] * 5;
    return powers;
}();
constexpr std::uint64_t TenPow17 = 100000000000000000ull;
constexpr std::uint64_t TenPow18 = 1000000000000000000ull;

// Writes the 18 significant digits of a positive `a`, correctly rounded (ties to even), and
// returns the decimal exponent of the first one.
//
// Prices, lots and pips (about 1e-10 up to 2^53, not integers above 2^52) are done exactly in
// integers: a = m * 2^q, so a * 10^p = m * 5^p * 2^(p+q), one 64x64-bit product and a shift,
// without the general algorithm's tables. Everything else goes to std::to_chars.
int EighteenDigits(double a, char* digits) {
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int q = biased - 1075;
    if (biased != 0 && q < 0) {
        // 2^(q+52) <= a < 2^(q+53), so floor(log10(a)) is `estimate` or one more;
        // 78913 / 2^18 is log10(2) to enough places for these exponents.
        const int estimate = ((q + 52) * 78913) >> 18;
        for (int p = SignificantDigits - 1 - estimate; p >= 0 && p <= MaxFastPower; --p) {
            const TWide product = Multiply(m, PowersOfFive[p]);
            const int shift = -(p + q);
            std::uint64_t scaled;
            bool roundUp = false;
            if (shift <= 0) {
                // Already an integer. With m >= 2^52 a left shift past 11 cannot stay below
                // 2^63; anything that does not goes to the general path.
                const int left = -shift;
                if (product.hi != 0 || left > 11 || (product.lo >> (63 - left)) != 0)
                    break;
                scaled = product.lo << left;
            } else if (shift < 64) {
                if ((product.hi >> shift) != 0)
                    break;
                scaled = (product.hi << (64 - shift)) | (product.lo >> shift);
                const std::uint64_t rest = product.lo & ((std::uint64_t{1} << shift) - 1);
                const std::uint64_t half = std::uint64_t{1} << (shift - 1);
                roundUp = rest > half || (rest == half && (scaled & 1) != 0);
            } else {
                break; // below the range this path serves
            }
            if (scaled >= TenPow18)
                continue; // the estimate was one too low: one power of ten less
            if (scaled < TenPow17)
                break;
            int exponent = SignificantDigits - 1 - p;
            if (roundUp && ++scaled == TenPow18) {
                scaled = TenPow17;
                ++exponent;
            }
            // Two halves of nine digits keep the divisions in 32 bits on i686.
            const std::uint64_t upper = scaled / 1000000000u;
            auto high = static_cast<std::uint32_t>(upper);
            auto low = static_cast<std::uint32_t>(scaled - upper * 1000000000u);
            for (int i = 8; i >= 0; --i) {
                digits[9 + i] = static_cast<char>('0' + low % 10);
                low /= 10;
                digits[i] = static_cast<char>('0' + high % 10);
                high /= 10;
            }
            return exponent;
        }
    }

    // "d.ddddddddddddddddde[+-]xxx".
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific,
                                    SignificantDigits - 1)
                          .ptr;
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, SignificantDigits - 1);
    int exponent = 0;
    for (const char* c = sci + SignificantDigits + 3; c < end; ++c)
        exponent = exponent * 10 + (*c - '0');
    return sci[SignificantDigits + 2] == '-' ? -exponent : exponent;
}

} // namespace

wchar_t DecimalSeparator() {
    // A caller in another unit's static initialiser may run before ours; it reads the setting
    // itself rather than seeing the zero-initialised value.
    return LoadedDecimalSeparator != 0 ? LoadedDecimalSeparator : ReadLocaleDecimalSeparator();
}

std::size_t FormatFixedTo(wchar_t* out, double x, int decimals, wchar_t separator) {
    if (decimals < 0)
        return 0;
    if (decimals > SignificantDigits)
        decimals = 2;

    wchar_t* p = out;
    if (std::isnan(x)) {
        for (wchar_t c : {L'N', L'A', L'N'})
            *p++ = c;
        return 3;
    }
    if (std::isinf(x)) {
        if (x < 0)
            *p++ = L'-';
        for (wchar_t c : {L'I', L'N', L'F'})
            *p++ = c;
        return static_cast<std::size_t>(p - out);
    }
    if (x == 0)
        return WriteZero(out, decimals, separator);

    char digits[SignificantDigits];
    const int exponent = EighteenDigits(std::fabs(x), digits);

    // E: the number of digits before the decimal point, |x| = 0.d1d2...d18 * 10^E.
    int e = exponent + 1;
    int kept = SignificantDigits;
    const int k = e + decimals;
    if (k < 0)
        return WriteZero(out, decimals, separator);
    if (k < SignificantDigits) {
        if (digits[k] >= '5') {
            int i = k - 1;
            while (i >= 0 && digits[i] == '9')
                --i;
            if (i < 0) {
                // Every kept digit was 9, or none was kept: the value becomes one unit higher.
                digits[0] = '1';
                kept = 1;
                ++e;
            } else {
                ++digits[i];
                kept = i + 1;
            }
        } else {
            if (k == 0)
                return WriteZero(out, decimals, separator);
            kept = k;
        }
    }

    // Digits past the kept ones read as zeros.
    std::fill(digits + kept, digits + SignificantDigits, '0');
    const auto copyDigits = [&p, &digits](int from, int count) {
        for (int i = 0; i < count; ++i)
            *p++ = static_cast<wchar_t>(digits[from + i]);
    };
    const auto writeZeros = [&p](int count) {
        for (int i = 0; i < count; ++i)
            *p++ = L'0';
    };

    if (x < 0)
        *p++ = L'-';
    // Magnitudes of 1e18 and above (E > 18) keep the same plain notation: the 18 digits, then
    // zeros up to the length of the integer part. No exponent, so the text reads back.
    const int integerDigits = std::min(std::max(e, 0), SignificantDigits);
    if (e <= 0) {
        *p++ = L'0';
    } else {
        copyDigits(0, integerDigits);
        writeZeros(e - integerDigits);
    }
    if (decimals > 0) {
        *p++ = separator;
        const int leadingZeros = std::min(std::max(-e, 0), decimals);
        const int fractionDigits =
            std::min(decimals - leadingZeros, SignificantDigits - integerDigits);
        writeZeros(leadingZeros);
        copyDigits(integerDigits, fractionDigits);
        writeZeros(decimals - leadingZeros - fractionDigits);
    }
    return static_cast<std::size_t>(p - out);
}

std::wstring FormatFixed(double x, int decimals, wchar_t separator) {
    wchar_t text[MaxFixedTextLength];
    return std::wstring(text, FormatFixedTo(text, x, decimals, separator));
}

TTerminalData::TTerminalData(TWindowHandle AWindow, const char* lpSym, double Ask, double Bid,
                             [[maybe_unused]] double Point, double MyPoint, double Lots,
                             double StopLossPips, double TakeProfitPips, double TrailStopStartPips,
                             int ADigits) {
    FWndChart = AWindow;
    FSymbol = AnsiToWide(lpSym);
    FMyPoint = MyPoint;
    FLots = Lots;
    FStopLossPips = StopLossPips;
    FTakeProfitPips = TakeProfitPips;
    FTrailStopStartPips = TrailStopStartPips;
    // The difference first, the quotient rounded to a double before it is written. With
    // exceptions masked (the host's setting, left alone) a zero MyPoint gives INF or NAN.
    const double spread = (Ask - Bid) / MyPoint;
    FAsk = FormatFixed(Ask, ADigits);
    FBid = FormatFixed(Bid, ADigits);
    FSpread = FormatFixed(spread, 1);
}
