#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "terminal/Png.h"

namespace {

// A 2 x 2 picture encoded with Python's zlib at level 0 and struct, chunk by chunk: a file that
// another encoder wrote.
const std::vector<std::uint8_t> IndependentPng = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00,
    0x00, 0xFD, 0xD4, 0x9A, 0x73, 0x00, 0x00, 0x00, 0x19, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x01, 0x01, 0x0E, 0x00, 0xF1, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00,
    0x00, 0x00, 0xFF, 0x12, 0x34, 0x56, 0x1A, 0xE8, 0x03, 0x9A, 0xE5, 0x0E, 0x42, 0xA4,
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

TPixels IndependentPicture() {
    TPixels picture = TPixels::Filled(2, 2, 0);
    picture.At(0, 0) = 0xFF0000;
    picture.At(1, 0) = 0x00FF00;
    picture.At(0, 1) = 0x0000FF;
    picture.At(1, 1) = 0x123456;
    return picture;
}

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& ABytes, std::size_t AAt) {
    return (std::uint32_t{ABytes[AAt]} << 24) | (std::uint32_t{ABytes[AAt + 1]} << 16) |
           (std::uint32_t{ABytes[AAt + 2]} << 8) | std::uint32_t{ABytes[AAt + 3]};
}

TEST(DecodePng, ReadsAFileAnotherEncoderWrote) {
    TPixels picture;
    std::string error;
    ASSERT_TRUE(DecodePng(IndependentPng, picture, error)) << error;
    EXPECT_EQ(picture.Width, 2);
    EXPECT_EQ(picture.Height, 2);
    EXPECT_EQ(picture.Rgb, IndependentPicture().Rgb);
}

TEST(EncodePng, WritesAnEightBitRgbFileWithThePicturesSize) {
    const auto png = EncodePng(TPixels::Filled(300, 7, 0x336699));
    ASSERT_GE(png.size(), 8u + 25u + 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(png.begin(), png.begin() + 8),
              std::vector<std::uint8_t>(IndependentPng.begin(), IndependentPng.begin() + 8))
        << "signature";
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(png, 16), 300u) << "width";
    EXPECT_EQ(BigEndian32(png, 20), 7u) << "height";
    EXPECT_EQ(png[24], 8) << "bit depth";
    EXPECT_EQ(png[25], 2) << "colour type: RGB";
    EXPECT_EQ(png[28], 0) << "no interlace";
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

TEST(DecodePng, ReadsBackWhatEncodePngWrote) {
    // Odd row widths, one row, one column, and a picture larger than one deflate window.
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {7, 3121}, {21845, 1}, {300, 300}};
    for (const auto& [width, height] : sizes) {
        TPixels picture = TPixels::Filled(width, height, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                picture.At(x, y) = static_cast<TRgb>((x * 2654435761u) ^ (y * 40503u)) & 0xFFFFFF;
        TPixels back;
        std::string error;
        ASSERT_TRUE(DecodePng(EncodePng(picture), back, error)) << width << "x" << height << error;
        EXPECT_EQ(back.Width, width);
        EXPECT_EQ(back.Height, height);
        EXPECT_EQ(back.Rgb, picture.Rgb) << width << "x" << height;
    }
    TPixels back;
    std::string error;
    ASSERT_TRUE(DecodePng(EncodePng(IndependentPicture()), back, error)) << error;
    EXPECT_EQ(back.Rgb, IndependentPicture().Rgb);
}

TEST(DecodePng, RejectsWhatIsNoPngAndSaysWhy) {
    const auto good = EncodePng(TPixels::Filled(64, 64, 0x336699));
    const struct {
        const char* What;
        std::function<void(std::vector<std::uint8_t>&)> Damage;
    } cases[] = {
        {"signature", [](auto& png) { png[1] = 'X'; }},
        {"header only", [](auto& png) { png.resize(8 + 25); }},
        {"nothing", [](auto& png) { png.clear(); }},
        {"text",
         [](auto& png) {
             png.assign({'h', 'e', 'l', 'l', 'o'});
         }},
        {"width zero", [](auto& png) { png[16] = png[17] = png[18] = png[19] = 0; }},
    };
    for (const auto& c : cases) {
        auto png = good;
        c.Damage(png);
        TPixels picture;
        std::string error;
        EXPECT_FALSE(DecodePng(png, picture, error)) << c.What;
        EXPECT_EQ(error.rfind("not a readable PNG: ", 0), 0u) << c.What << ": " << error;
        EXPECT_GT(error.size(), std::string("not a readable PNG: ").size()) << c.What;
    }
}

TEST(WritePngFile, RefusesAnEmptyPictureAndAFolderThatIsNotThere) {
    std::string error;
    EXPECT_TRUE(EncodePng(TPixels{}).empty());
    EXPECT_FALSE(WritePngFile("empty.png", TPixels{}, error));
    EXPECT_EQ(error, "cannot encode a 0x0 picture");
    EXPECT_FALSE(WritePngFile("no-such-folder/picture.png", IndependentPicture(), error));
    EXPECT_EQ(error, "cannot write no-such-folder/picture.png");
    TPixels picture;
    EXPECT_FALSE(ReadPngFile("no-such-folder/picture.png", picture, error));
    EXPECT_EQ(error, "cannot open no-such-folder/picture.png");
}

} // namespace
