#pragma once
// A picture in memory, as the stand-in terminal captures and writes it. Platform-free.

#include <cstdint>
#include <vector>

// 24-bit colour written 0xRRGGBB (red in the high byte, the way colours are usually quoted).
using TRgb = std::uint32_t;

constexpr int RedOf(TRgb c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
constexpr int GreenOf(TRgb c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(TRgb c) {
    return static_cast<int>(c & 0xFF);
}

// Rows from the top, pixels from the left, one TRgb each.
struct TPixels {
    int Width = 0;
    int Height = 0;
    std::vector<TRgb> Rgb;

    static TPixels Filled(int width, int height, TRgb colour) {
        return TPixels{width, height,
                       std::vector<TRgb>(static_cast<std::size_t>(width) * height, colour)};
    }
    TRgb At(int x, int y) const { return Rgb[static_cast<std::size_t>(y) * Width + x]; }
    TRgb& At(int x, int y) { return Rgb[static_cast<std::size_t>(y) * Width + x]; }

    // Copies `other` with its top-left corner at (left, top); what falls outside is dropped.
    void Paste(const TPixels& other, int left, int top) {
        for (int y = 0; y < other.Height; ++y)
            for (int x = 0; x < other.Width; ++x)
                if (left + x >= 0 && left + x < Width && top + y >= 0 && top + y < Height)
                    At(left + x, top + y) = other.At(x, y);
    }
};
