#pragma once
// A minimal PNG writer and the matching reader: 8-bit RGB, no interlace, no row filter, and a
// zlib stream of stored (uncompressed) blocks, so that it needs nothing but the standard library.
// The reader accepts exactly what the writer makes, which is all the demo's checks read back.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "terminal/Pixels.h"

// The CRC-32 of PNG chunks and zip (polynomial 0xEDB88320, reflected, inverted).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The Adler-32 checksum that ends a zlib stream.
std::uint32_t Adler32(std::span<const std::uint8_t> bytes, std::uint32_t adler = 1);

// The longest payload of one stored deflate block.
inline constexpr std::size_t MaxStoredBlock = 65535;

// Wraps `data` in a zlib stream of stored blocks.
std::vector<std::uint8_t> ZlibStored(std::span<const std::uint8_t> data);

std::vector<std::uint8_t> EncodePng(const TPixels& picture);

// Reads a PNG made by EncodePng (or any 8-bit RGB PNG with stored blocks and filter 0). On
// failure returns false and says why in `error`.
bool DecodePng(std::span<const std::uint8_t> bytes, TPixels& picture, std::string& error);

// Writes or reads a whole file; false (with `error`) when the file cannot be written or read.
bool WritePngFile(const std::filesystem::path& path, const TPixels& picture, std::string& error);
bool ReadPngFile(const std::filesystem::path& path, TPixels& picture, std::string& error);
