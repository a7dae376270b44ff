#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "terminal/Png.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// The checksums against values computed independently (Python's zlib module).
struct TChecksumCase {
    std::vector<std::uint8_t> Input;
    std::uint32_t Crc;
    std::uint32_t Adler;
};

TEST(PngChecksums, MatchAnIndependentZlib) {
    const TChecksumCase cases[] = {
        {{}, 0x00000000, 0x00000001},
        {Bytes("123456789"), 0xCBF43926, 0x091E01DE},
        {Bytes("Wikipedia"), 0xADAAC02E, 0x11E60398},
        // Long enough that the Adler sums must be reduced on the way to stay within 32 bits.
        {std::vector<std::uint8_t>(100000, 0xFF), 0x68C6CEC4, 0x149A302C},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Crc32(c.Input), c.Crc) << c.Input.size() << " bytes";
        EXPECT_EQ(Adler32(c.Input), c.Adler) << c.Input.size() << " bytes";
    }
}

TEST(PngChecksums, ContinueAcrossPieces) {
    const auto whole = Bytes("The quick brown fox jumps over the lazy dog");
    const std::span<const std::uint8_t> all(whole);
    EXPECT_EQ(Crc32(all.subspan(10), Crc32(all.first(10))), Crc32(all));
    EXPECT_EQ(Adler32(all.subspan(10), Adler32(all.first(10))), Adler32(all));
}

// Block headers of a stored zlib stream: (offset of the header, final flag, length).
struct TBlock {
    std::size_t At;
    bool Final;
    std::size_t Length;
};

std::vector<TBlock> StoredBlocks(const std::vector<std::uint8_t>& z) {
    std::vector<TBlock> blocks;
    std::size_t at = 2;
    for (;;) {
        const std::size_t length = z[at + 1] | (z[at + 2] << 8);
        blocks.push_back({at, (z[at] & 1) != 0, length});
        if (z[at] & 1)
            break;
        at += 5 + length;
    }
    return blocks;
}

TEST(ZlibStored, SplitsIntoBlocksOfAtMost65535BytesAndMarksOnlyTheLast) {
    const struct {
        std::size_t Size;
        std::vector<std::size_t> Lengths;
    } cases[] = {
        {0, {0}},
        {1, {1}},
        {65535, {65535}},
        {65536, {65535, 1}},
        {3 * 65535 + 7, {65535, 65535, 65535, 7}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> data(c.Size);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7);
        const auto z = ZlibStored(data);
        const auto blocks = StoredBlocks(z);
        ASSERT_EQ(blocks.size(), c.Lengths.size()) << c.Size;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i].Length, c.Lengths[i]) << c.Size << " block " << i;
            EXPECT_EQ(blocks[i].Final, i + 1 == blocks.size()) << c.Size << " block " << i;
            const std::size_t complement = z[blocks[i].At + 3] | (z[blocks[i].At + 4] << 8);
            EXPECT_EQ(complement, blocks[i].Length ^ 0xFFFF);
        }
        EXPECT_EQ(z.size(), 2 + 5 * blocks.size() + c.Size + 4);
    }
}

TEST(EncodePng, MatchesTheBytesAnIndependentEncoderWrites) {
    // A 2 x 2 picture encoded with Python's zlib at level 0 and struct, chunk by chunk.
    const std::vector<std::uint8_t> expected = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00,
        0x00, 0xFD, 0xD4, 0x9A, 0x73, 0x00, 0x00, 0x00, 0x19, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x01, 0x01, 0x0E, 0x00, 0xF1, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00,
        0x00, 0x00, 0xFF, 0x12, 0x34, 0x56, 0x1A, 0xE8, 0x03, 0x9A, 0xE5, 0x0E, 0x42, 0xA4,
        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    TPixels picture = TPixels::Filled(2, 2, 0);
    picture.At(0, 0) = 0xFF0000;
    picture.At(1, 0) = 0x00FF00;
    picture.At(0, 1) = 0x0000FF;
    picture.At(1, 1) = 0x123456;
    EXPECT_EQ(EncodePng(picture), expected);
}

TEST(DecodePng, ReadsBackWhatEncodePngWrote) {
    // Sizes around the 65535-byte block limit and rows of odd width.
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
}

TEST(DecodePng, RejectsDamagedFilesAndSaysWhy) {
    const auto good = EncodePng(TPixels::Filled(4, 4, 0x336699));
    const std::size_t idatData = 8 + 25 + 8; // signature, IHDR chunk, IDAT length and type
    const struct {
        const char* What;
        std::function<void(std::vector<std::uint8_t>&)> Damage;
        const char* Error;
    } cases[] = {
        {"signature", [](auto& png) { png[1] = 'X'; }, "no PNG signature"},
        {"pixel byte", [&](auto& png) { png[idatData + 10] ^= 1; }, "CRC mismatch in chunk IDAT"},
        {"truncated", [](auto& png) { png.resize(png.size() - 12); }, "file ends before IEND"},
        {"compressed block",
         [&](auto& png) {
             png[idatData + 2] = 0x03; // final block, fixed Huffman codes
             // Keeps the chunk's CRC right, so that the block type is what the reader meets.
             const std::size_t length = png.size() - idatData - 4 - 12;
             const std::uint32_t crc =
                 Crc32(std::span<const std::uint8_t>(&png[idatData - 4], 4 + length));
             for (int i = 0; i < 4; ++i)
                 png[idatData + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
         },
         "compressed deflate blocks are not supported"},
    };
    for (const auto& c : cases) {
        auto png = good;
        c.Damage(png);
        TPixels picture;
        std::string error;
        EXPECT_FALSE(DecodePng(png, picture, error)) << c.What;
        EXPECT_EQ(error, c.Error) << c.What;
    }
}

} // namespace
