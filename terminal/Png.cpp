#include "terminal/Png.h"

#include <climits>
#include <fstream>
#include <iterator>
#include <memory>

// The two libraries' implementations live in this unit only; nothing but PNG is compiled in.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace {

void AppendBytes(void* AContext, void* AData, int ASize) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(AContext);
    const auto* bytes = static_cast<const std::uint8_t*>(AData);
    out.insert(out.end(), bytes, bytes + ASize);
}

struct TFreeImage {
    void operator()(stbi_uc* AImage) const { stbi_image_free(AImage); }
};

} // namespace

std::vector<std::uint8_t> EncodePng(const TPixels& picture) {
    if (picture.Width <= 0 || picture.Height <= 0)
        return {};
    std::vector<std::uint8_t> rgb;
    rgb.reserve(picture.Rgb.size() * 3);
    for (const TRgb c : picture.Rgb) {
        rgb.push_back(static_cast<std::uint8_t>(RedOf(c)));
        rgb.push_back(static_cast<std::uint8_t>(GreenOf(c)));
        rgb.push_back(static_cast<std::uint8_t>(BlueOf(c)));
    }
    std::vector<std::uint8_t> png;
    if (!stbi_write_png_to_func(AppendBytes, &png, picture.Width, picture.Height, 3, rgb.data(),
                                picture.Width * 3))
        return {};
    return png;
}

bool DecodePng(std::span<const std::uint8_t> bytes, TPixels& picture, std::string& error) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        error = "file too large";
        return false;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::unique_ptr<stbi_uc, TFreeImage> rgb(stbi_load_from_memory(
        bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, 3));
    if (!rgb) {
        const char* reason = stbi_failure_reason();
        error =
            std::string("not a readable PNG: ") + (reason && *reason ? reason : "no image data");
        return false;
    }
    picture = TPixels::Filled(width, height, 0);
    const stbi_uc* p = rgb.get();
    for (TRgb& c : picture.Rgb) {
        c = (TRgb{p[0]} << 16) | (TRgb{p[1]} << 8) | TRgb{p[2]};
        p += 3;
    }
    return true;
}

bool WritePngFile(const std::filesystem::path& path, const TPixels& picture, std::string& error) {
    const auto png = EncodePng(picture);
    if (png.empty()) {
        error = "cannot encode a " + std::to_string(picture.Width) + "x" +
                std::to_string(picture.Height) + " picture";
        return false;
    }
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
