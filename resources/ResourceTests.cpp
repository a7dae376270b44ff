// Checks, in a module linked with the resources, what the system's loaders make of them: bitmap
// resource 2000 as a bare DIB of the right size and layout, and the version information.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "PellithVersion.h"
#include "platform/Win32.h"
#include "resources/ResourceIds.h"

namespace {

HMODULE ThisProgram() {
    return GetModuleHandleW(nullptr);
}

// The resource's bytes, borrowed from the module's image.
struct TResourceBytes {
    const std::uint8_t* Data = nullptr;
    DWORD Size = 0;

    std::uint32_t Field(std::size_t offset, int size) const {
        std::uint32_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | Data[offset + static_cast<std::size_t>(i)];
        return value;
    }
};

TResourceBytes PanelBitmapResource() {
    TResourceBytes bytes;
    HRSRC info = FindResourceW(ThisProgram(), MAKEINTRESOURCEW(PELLITH_PANEL_BITMAP), RT_BITMAP);
    if (!info)
        return bytes;
    bytes.Size = SizeofResource(ThisProgram(), info);
    if (HGLOBAL loaded = LoadResource(ThisProgram(), info))
        bytes.Data = static_cast<const std::uint8_t*>(LockResource(loaded));
    return bytes;
}

TEST(PanelBitmapResource, IsTheBareDibWithoutFileHeader) {
    const TResourceBytes dib = PanelBitmapResource();
    ASSERT_NE(dib.Data, nullptr);
    ASSERT_EQ(dib.Size, 29840u);
    struct {
        std::size_t Offset;
        int Size;
        std::uint32_t Value;
        const char* What;
    } const fields[] = {
        {0, 4, 40, "header size"},
        {4, 4, 198, "width"},
        {8, 4, 50, "height"},
        {12, 2, 1, "planes"},
        {14, 2, 24, "bits per pixel"},
        {16, 4, 0, "compression"},
        {20, 4, 29800, "image size"},
        {24, 4, 5599, "horizontal pixels per metre"},
        {28, 4, 5599, "vertical pixels per metre"},
        {32, 4, 0, "colours used"},
        {36, 4, 0, "important colours"},
    };
    for (const auto& field : fields)
        EXPECT_EQ(dib.Field(field.Offset, field.Size), field.Value) << field.What;
}

TEST(PanelBitmapResource, StoresTheBottomRowFirstInBlueGreenRedOrder) {
    const TResourceBytes dib = PanelBitmapResource();
    ASSERT_EQ(dib.Size, 29840u);
    // Picture rows 2 and 47 at x 0: the top and the bottom of the sell field's gradient.
    auto pixel = [&](int x, int y) {
        const std::uint8_t* p = dib.Data + 40 + (49 - y) * 596 + 3 * x;
        return std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
    };
    EXPECT_EQ(pixel(0, 2), 0xF80101u);
    EXPECT_EQ(pixel(0, 47), 0x9F1716u);
    EXPECT_EQ(pixel(98, 30), 0xFFFFFFu);
}

TEST(PanelBitmapResource, LoadsAs198By50) {
    struct {
        const char* How;
        TBitmapHandle Bitmap;
    } const loads[] = {
        {"LoadBitmap",
         TBitmapHandle(LoadBitmapW(ThisProgram(), MAKEINTRESOURCEW(PELLITH_PANEL_BITMAP)))},
        {"LoadImage", TBitmapHandle(static_cast<HBITMAP>(
                          LoadImageW(ThisProgram(), MAKEINTRESOURCEW(PELLITH_PANEL_BITMAP),
                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)))},
    };
    for (const auto& load : loads) {
        ASSERT_TRUE(load.Bitmap) << load.How;
        BITMAP info{};
        ASSERT_EQ(GetObjectW(load.Bitmap.Get(), sizeof info, &info), int{sizeof info}) << load.How;
        EXPECT_EQ(info.bmWidth, 198) << load.How;
        EXPECT_EQ(info.bmHeight, 50) << load.How;
    }
}

// The version block of this program's own file, read the way Explorer reads it.
class ModuleVersion : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(ThisProgram(), path, MAX_PATH), 0u);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
        ASSERT_GT(size, 0u) << "no version resource";
        FBlock.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, FBlock.data()));
    }

    template <class T> const T* Query(const std::wstring& ASubBlock) {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(FBlock.data(), ASubBlock.c_str(), &value, &length) || length == 0)
            return nullptr;
        return static_cast<const T*>(value);
    }

private:
    std::vector<std::uint8_t> FBlock;
};

// The project version (1.2.0 gives 1.2.0.0), in both the numbers and the strings.
TEST_F(ModuleVersion, FileAndProductVersionAreTheProjectVersion) {
    const auto* fixed = Query<VS_FIXEDFILEINFO>(L"\\");
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = DWORD{PELLITH_VERSION_MAJOR} << 16 | PELLITH_VERSION_MINOR;
    const DWORD low = DWORD{PELLITH_VERSION_PATCH} << 16 | PELLITH_VERSION_TWEAK;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
}

TEST_F(ModuleVersion, StringsNameTheProductInUsEnglishUnicode) {
    struct TTranslation {
        WORD Language, CodePage;
    };
    const auto* translation = Query<TTranslation>(L"\\VarFileInfo\\Translation");
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation->Language, 0x0409);
    EXPECT_EQ(translation->CodePage, 1200);

    const struct {
        const wchar_t* Name;
        const wchar_t* Value;
    } strings[] = {
        {L"CompanyName", L"Pellith"},
        {L"FileDescription", L"Pellith order-entry panel"},
        {L"FileVersion", PELLITH_VERSION_TEXT_W},
        {L"InternalName", L"Pellith"},
        {L"OriginalFilename", L"Pellith.dll"},
        {L"ProductName", L"Pellith"},
        {L"ProductVersion", PELLITH_VERSION_TEXT_W},
    };
    for (const auto& string : strings) {
        const auto* value =
            Query<wchar_t>(std::wstring(L"\\StringFileInfo\\040904B0\\") + string.Name);
        ASSERT_NE(value, nullptr) << string.Name;
        EXPECT_STREQ(value, string.Value);
    }
}

} // namespace
