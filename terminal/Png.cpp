#include "terminal/Png.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

namespace {

constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr auto CrcTable = MakeCrcTable();

void PutBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t GetBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// Appends one chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              std::span<const std::uint8_t> data) {
    PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian32(out, Crc32(std::span(out).subspan(typeAt)));
}

// The scanlines as the PNG stores them: a filter byte (0, none) before each row of RGB triples.
std::vector<std::uint8_t> Scanlines(const TPixels& picture) {
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(picture.Height) * (1 + 3 * picture.Width));
    for (int y = 0; y < picture.Height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < picture.Width; ++x) {
            const TRgb c = picture.At(x, y);
            raw.push_back(static_cast<std::uint8_t>(RedOf(c)));
            raw.push_back(static_cast<std::uint8_t>(GreenOf(c)));
            raw.push_back(static_cast<std::uint8_t>(BlueOf(c)));
        }
    }
    return raw;
}

// Unpacks a zlib stream of stored blocks and checks its Adler-32.
bool InflateStored(std::span<const std::uint8_t> z, std::vector<std::uint8_t>& out,
                   std::string& error) {
    if (z.size() < 6 || (z[0] & 0x0F) != 8 || ((z[0] << 8) | z[1]) % 31 != 0 || (z[1] & 0x20)) {
        error = "not a zlib stream";
        return false;
    }
    std::size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > z.size()) {
            error = "zlib stream ends inside a block header";
            return false;
        }
        const std::uint8_t header = z[at];
        last = (header & 1) != 0;
        if (((header >> 1) & 3) != 0) {
            error = "compressed deflate blocks are not supported";
            return false;
        }
        const unsigned length = z[at + 1] | (z[at + 2] << 8);
        const unsigned complement = z[at + 3] | (z[at + 4] << 8);
        if ((length ^ 0xFFFFu) != complement) {
            error = "stored block length and its complement disagree";
            return false;
        }
        at += 5;
        if (at + length > z.size()) {
            error = "stored block runs past the stream";
            return false;
        }
        out.insert(out.end(), z.begin() + at, z.begin() + at + length);
        at += length;
    }
    if (at + 4 > z.size() || GetBigEndian32(&z[at]) != Adler32(out)) {
        error = "Adler-32 mismatch";
        return false;
    }
    return true;
}

} // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    for (std::uint8_t b : bytes)
        crc = CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Adler32(std::span<const std::uint8_t> bytes, std::uint32_t adler) {
    constexpr std::uint32_t Modulus = 65521;
    // 5552 is the longest run whose sums cannot overflow 32 bits before the reduction.
    constexpr std::size_t Run = 5552;
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    for (std::size_t at = 0; at < bytes.size(); at += Run) {
        const std::size_t end = std::min(bytes.size(), at + Run);
        for (std::size_t i = at; i < end; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= Modulus;
        b %= Modulus;
    }
    return (b << 16) | a;
}

std::vector<std::uint8_t> ZlibStored(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> z = {0x78, 0x01}; // deflate, 32 KiB window, no dictionary
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(MaxStoredBlock, data.size() - at);
        const bool last = at + length == data.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(length));
        z.push_back(static_cast<std::uint8_t>(length >> 8));
        z.push_back(static_cast<std::uint8_t>(~length));
        z.push_back(static_cast<std::uint8_t>(~length >> 8));
        z.insert(z.end(), data.begin() + at, data.begin() + at + length);
        at += length;
    } while (at < data.size());
    PutBigEndian32(z, Adler32(data));
    return z;
}

std::vector<std::uint8_t> EncodePng(const TPixels& picture) {
    std::vector<std::uint8_t> png(PngSignature.begin(), PngSignature.end());

    std::vector<std::uint8_t> header;
    PutBigEndian32(header, static_cast<std::uint32_t>(picture.Width));
    PutBigEndian32(header, static_cast<std::uint32_t>(picture.Height));
    header.insert(header.end(),
                  {8, 2, 0, 0, 0}); // 8 bits, truecolour, deflate, filter 0, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", ZlibStored(Scanlines(picture)));
    PutChunk(png, "IEND", {});
    return png;
}

bool DecodePng(std::span<const std::uint8_t> bytes, TPixels& picture, std::string& error) {
    if (bytes.size() < PngSignature.size() ||
        !std::equal(PngSignature.begin(), PngSignature.end(), bytes.begin())) {
        error = "no PNG signature";
        return false;
    }
    std::size_t at = PngSignature.size();
    std::vector<std::uint8_t> idat;
    int width = 0;
    int height = 0;
    bool ended = false;
    while (!ended) {
        if (at + 12 > bytes.size()) {
            error = "file ends before IEND";
            return false;
        }
        const std::uint32_t length = GetBigEndian32(&bytes[at]);
        if (length > bytes.size() - at - 12) {
            error = "chunk runs past the end of the file";
            return false;
        }
        const auto typeAndData = bytes.subspan(at + 4, 4 + length);
        const std::string type(typeAndData.begin(), typeAndData.begin() + 4);
        const auto data = typeAndData.subspan(4);
        if (Crc32(typeAndData) != GetBigEndian32(&bytes[at + 8 + length])) {
            error = "CRC mismatch in chunk " + type;
            return false;
        }
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 2 || data[10] != 0 || data[11] != 0 ||
                data[12] != 0) {
                error = "only 8-bit RGB without interlace is supported";
                return false;
            }
            width = static_cast<int>(GetBigEndian32(&data[0]));
            height = static_cast<int>(GetBigEndian32(&data[4]));
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data.begin(), data.end());
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    if (width <= 0 || height <= 0) {
        error = "missing or empty IHDR";
        return false;
    }
    std::vector<std::uint8_t> raw;
    if (!InflateStored(idat, raw, error))
        return false;
    const std::size_t stride = 1 + 3 * static_cast<std::size_t>(width);
    if (raw.size() != stride * height) {
        error = "image data has the wrong size";
        return false;
    }
    picture = TPixels::Filled(width, height, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = &raw[y * stride];
        if (row[0] != 0) {
            error = "row filters are not supported";
            return false;
        }
        for (int x = 0; x < width; ++x)
            picture.At(x, y) =
                (TRgb{row[1 + 3 * x]} << 16) | (TRgb{row[2 + 3 * x]} << 8) | TRgb{row[3 + 3 * x]};
    }
    return true;
}

bool WritePngFile(const std::filesystem::path& path, const TPixels& picture, std::string& error) {
    const auto png = EncodePng(picture);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    file.close();
    if (!file) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool ReadPngFile(const std::filesystem::path& path, TPixels& picture, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path.string();
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    return DecodePng(bytes, picture, error);
}
