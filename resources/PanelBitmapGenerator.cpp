// Writes the panel's background picture as a BMP file: the source of bitmap resource 2000.
// Usage: panel_bitmap_generator <output.bmp>

#include <cstdio>
#include <fstream>

#include "resources/PanelBitmapPainter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.bmp>\n", argv[0]);
        return 2;
    }
    const std::vector<std::uint8_t> file = EncodePanelBmpFile(PaintPanelPicture());
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
