#pragma once
// PNG files of pictures: 8-bit RGB written and read through stb_image_write and stb_image
// (Debian's libstb-dev), for the demo's screenshots and the checks that read them back.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "terminal/Pixels.h"

// The picture as a PNG file's bytes; empty for an empty picture.
std::vector<std::uint8_t> EncodePng(const TPixels& picture);

// Reads a PNG of any colour type (it comes back as RGB; alpha is dropped). On failure returns
// false and says why in `error`.
bool DecodePng(std::span<const std::uint8_t> bytes, TPixels& picture, std::string& error);

// Writes or reads a whole file; false (with `error`) when the file cannot be written or read.
bool WritePngFile(const std::filesystem::path& path, const TPixels& picture, std::string& error);
bool ReadPngFile(const std::filesystem::path& path, TPixels& picture, std::string& error);
