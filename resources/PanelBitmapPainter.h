#pragma once
// Draws the background picture of the panel's price area and encodes it as the 24-bit BMP file
// that the resource script turns into bitmap resource 2000. Standard library only, so that the
// generator and the native tests draw with the very same code.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct TRgb {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;

    friend bool operator==(const TRgb&, const TRgb&) = default;
};

// A colour written 0xRRGGBB, as designers quote it.
constexpr TRgb RgbFromHex(std::uint32_t AHex) {
    return {static_cast<std::uint8_t>(AHex >> 16), static_cast<std::uint8_t>(AHex >> 8),
            static_cast<std::uint8_t>(AHex)};
}

// The picture in memory, top row first, x to the right and y downward.
class TPanelPicture {
public:
    static constexpr int Width = 198;
    static constexpr int Height = 50;

    TRgb& At(int x, int y) { return FPixels[static_cast<std::size_t>(y * Width + x)]; }
    const TRgb& At(int x, int y) const { return FPixels[static_cast<std::size_t>(y * Width + x)]; }

private:
    std::array<TRgb, Width * Height> FPixels{};
};

// The layout of the BMP file: a file header, then the DIB that the module carries as the resource
// (an info header and bottom-up rows of blue, green, red padded to four bytes).
inline constexpr std::size_t BmpFileHeaderSize = 14;
inline constexpr std::size_t BmpInfoHeaderSize = 40;
inline constexpr std::size_t BmpRowStride = 596;
inline constexpr std::size_t BmpImageSize = BmpRowStride * TPanelPicture::Height;
inline constexpr std::size_t PanelDibSize = BmpInfoHeaderSize + BmpImageSize;
inline constexpr std::size_t PanelBmpFileSize = BmpFileHeaderSize + PanelDibSize;

TPanelPicture PaintPanelPicture();

// The whole BMP file for a picture: PanelBmpFileSize bytes, padding bytes zero.
std::vector<std::uint8_t> EncodePanelBmpFile(const TPanelPicture& APicture);
