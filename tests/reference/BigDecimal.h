#pragma once
// A small unsigned big integer for the references of the tests and the fuzzers: exact products of
// powers of two and five, written out in decimal. Deliberately naive (schoolbook, base 10^9
// limbs) so that it shares nothing with the fast paths it checks.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class TBigDecimal {
public:
    explicit TBigDecimal(std::uint64_t value) {
        do {
            FLimbs.push_back(static_cast<std::uint32_t>(value % LimbBase));
            value /= LimbBase;
        } while (value != 0);
    }

    // A limb is below 10^9 and the factor below 2^32, so limb * factor + carry fits 64 bits.
    void MultiplyBy(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (std::uint32_t& limb : FLimbs) {
            const std::uint64_t product = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(product % LimbBase);
            carry = product / LimbBase;
        }
        while (carry != 0) {
            FLimbs.push_back(static_cast<std::uint32_t>(carry % LimbBase));
            carry /= LimbBase;
        }
    }

    void Add(std::uint32_t addend) {
        std::uint64_t carry = addend;
        for (std::size_t i = 0; carry != 0; ++i) {
            if (i == FLimbs.size())
                FLimbs.push_back(0);
            const std::uint64_t sum = FLimbs[i] + carry;
            FLimbs[i] = static_cast<std::uint32_t>(sum % LimbBase);
            carry = sum / LimbBase;
        }
    }

    void MultiplyByPowerOfTwo(int n) {
        for (; n >= 31; n -= 31)
            MultiplyBy(std::uint32_t{1} << 31);
        MultiplyBy(std::uint32_t{1} << n);
    }

    void MultiplyByPowerOfFive(int n) {
        constexpr std::uint32_t FiveToThe13 = 1220703125; // the largest power of five below 2^32
        for (; n >= 13; n -= 13)
            MultiplyBy(FiveToThe13);
        std::uint32_t rest = 1;
        for (; n > 0; --n)
            rest *= 5;
        MultiplyBy(rest);
    }

    // The decimal digits, most significant first, without leading zeros ("0" for zero).
    std::string Digits() const {
        std::string text = std::to_string(FLimbs.back());
        char limb[16];
        for (std::size_t i = FLimbs.size() - 1; i-- > 0;) {
            std::snprintf(limb, sizeof limb, "%09u", static_cast<unsigned>(FLimbs[i]));
            text += limb;
        }
        return text;
    }

private:
    static constexpr std::uint32_t LimbBase = 1000000000;
    // Least significant first; the last one is not zero unless the number is.
    std::vector<std::uint32_t> FLimbs;
};
