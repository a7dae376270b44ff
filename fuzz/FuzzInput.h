#pragma once
// Reads a fuzz input as a sequence of small choices.

#include <cstddef>
#include <cstdint>

class TFuzzInput {
public:
    TFuzzInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

    // Past the end the input reads as zeros, so that every input means something.
    std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }

    std::uint64_t Word() {
        std::uint64_t word = 0;
        for (int i = 0; i < 8; ++i)
            word |= std::uint64_t{Byte()} << (8 * i);
        return word;
    }

    const std::uint8_t* Rest() const { return FData + (FPos < FSize ? FPos : FSize); }
    std::size_t RestSize() const { return FPos < FSize ? FSize - FPos : 0; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};
