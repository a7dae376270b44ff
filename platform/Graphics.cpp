#include "platform/Graphics.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <vector>

COLORREF ColorToRGB(TColor AColor) {
    if ((AColor & clSystemColor) == clSystemColor)
        return GetSysColor(static_cast<int>(AColor & 0xFF));
    return AColor & 0xFFFFFF;
}

int ScreenPixelsPerInch() {
    TClientDC screen(nullptr);
    const int ppi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return ppi > 0 ? ppi : 96;
}

void TFont::SetName(const std::wstring& AName) {
    if (AName == FName)
        return;
    FName = AName;
    Changed(true);
}

void TFont::SetHeight(int AHeight) {
    if (AHeight == FHeight)
        return;
    FHeight = AHeight;
    Changed(true);
}

int TFont::Size() const {
    return -MulDiv(FHeight, 72, ScreenPixelsPerInch());
}

void TFont::SetSize(int APoints) {
    SetHeight(-MulDiv(APoints, ScreenPixelsPerInch(), 72));
}

void TFont::SetPitch(TFontPitch APitch) {
    if (APitch == FPitch)
        return;
    FPitch = APitch;
    Changed(true);
}

void TFont::SetColor(TColor AColor) {
    if (AColor == FColor)
        return;
    FColor = AColor;
    Changed(false);
}

void TFont::SetStyle(TFontStyles AStyle) {
    AStyle &= 0xF;
    if (AStyle == FStyle)
        return;
    FStyle = AStyle;
    Changed(false);
}

void TFont::Changed(bool AShapeChanged) {
    if (AShapeChanged)
        for (auto& handle : FHandles)
            handle.Reset();
    if (OnChange)
        OnChange();
}

HFONT TFont::HandleFor(TFontStyles AStyle) const {
    TFontHandle& slot = FHandles[AStyle & 0xF];
    if (!slot) {
        LOGFONTW font{};
        font.lfHeight = FHeight;
        font.lfWeight = (AStyle & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (AStyle & fsItalic) != 0;
        font.lfUnderline = (AStyle & fsUnderline) != 0;
        font.lfStrikeOut = (AStyle & fsStrikeOut) != 0;
        font.lfCharSet = DEFAULT_CHARSET;
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = FPitch == TFontPitch::fpFixed      ? FIXED_PITCH
                                : FPitch == TFontPitch::fpVariable ? VARIABLE_PITCH
                                                                   : DEFAULT_PITCH;
        wcsncpy(font.lfFaceName, FName.c_str(), LF_FACESIZE - 1);
        slot.Reset(CreateFontIndirectW(&font));
    }
    return slot.Get();
}

int LineHeightOf(HFONT AFont) {
    TClientDC screen(nullptr);
    TSelectObject select(screen.Get(), AFont);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen.Get(), &metrics);
    return metrics.tmHeight;
}

SIZE DrawnTextSize(HFONT AFont, std::wstring_view AText) {
    constexpr UINT line = DT_SINGLELINE | DT_NOPREFIX | DT_TOP | DT_LEFT;
    TClientDC screen(nullptr);
    RECT advance{0, 0, 0, 0};
    {
        TSelectObject select(screen.Get(), AFont);
        DrawTextW(screen.Get(), AText.data(), int(AText.size()), &advance, DT_CALCRECT | line);
    }
    if (advance.right <= 0 || advance.bottom <= 0)
        return SIZE{advance.right, advance.bottom};
    // Drawn black on white in a bitmap like the panel's surface, with room for any overhang.
    const int width = advance.right * 2 + 16, height = advance.bottom;
    TBitmapHandle bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
    TBitmapDC dc(screen.Get(), bitmap.Get());
    if (!bitmap || !dc.Get())
        return SIZE{advance.right, advance.bottom};
    RECT box{0, 0, width, height};
    FillRect(dc.Get(), &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    {
        TSelectObject select(dc.Get(), AFont);
        SetBkMode(dc.Get(), TRANSPARENT);
        SetTextColor(dc.Get(), RGB(0, 0, 0));
        DrawTextW(dc.Get(), AText.data(), int(AText.size()), &box, line);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(std::size_t(width) * std::size_t(height));
    dc.Reset(); // GetDIBits reads a bitmap that no DC holds
    if (GetDIBits(screen.Get(), bitmap.Get(), 0, UINT(height), pixels.data(), &info,
                  DIB_RGB_COLORS) != height)
        return SIZE{advance.right, advance.bottom};
    int inked = 0;
    for (int y = 0; y < height; ++y)
        for (int x = width - 1; x >= inked; --x)
            if ((pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] & 0xFFFFFF) !=
                0xFFFFFF) {
                inked = x + 1;
                break;
            }
    return SIZE{std::max<LONG>(advance.right, inked), advance.bottom};
}

TCanvas::~TCanvas() {
    FreeHandle();
}

HDC TCanvas::Handle() {
    if (!FDC)
        FDC = TBitmapDC(nullptr, FBitmap.Handle());
    return FDC.Get();
}

void TCanvas::FreeHandle() {
    FDC.Reset();
}

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
    // The canvas holds the bitmap selected; let it go before the bitmap is deleted.
    FCanvas.reset();
}

TCanvas& TBitmap::Canvas() {
    if (!FCanvas)
        FCanvas = std::make_unique<TCanvas>(*this);
    return *FCanvas;
}

void TBitmap::SetHandle(HBITMAP ABitmap) {
    if (FCanvas) {
        std::lock_guard lock(*FCanvas);
        FCanvas->FreeHandle();
    }
    FHandle.Reset(ABitmap);
    BITMAP info{};
    if (ABitmap && GetObjectW(ABitmap, sizeof info, &info)) {
        FWidth = info.bmWidth;
        FHeight = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    } else {
        FWidth = FHeight = 0;
    }
}

bool TBitmap::LoadFromResourceID(HINSTANCE AModule, int AId) {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(AModule, MAKEINTRESOURCEW(AId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    SetHandle(bitmap);
    return bitmap != nullptr;
}

void TBitmap::Draw(HDC ADestination, const RECT& ARect) {
    if (Empty())
        return;
    TCanvas& canvas = Canvas();
    std::lock_guard lock(canvas);
    if (HDC source = canvas.Handle())
        StretchBlt(ADestination, ARect.left, ARect.top, ARect.right - ARect.left,
                   ARect.bottom - ARect.top, source, 0, 0, FWidth, FHeight, SRCCOPY);
}

std::unique_ptr<TGraphic> TBitmap::NewOfSameClass() const {
    return std::make_unique<TBitmap>();
}

void TBitmap::Assign(const TGraphic& ASource) {
    auto source = dynamic_cast<const TBitmap*>(&ASource);
    if (!source || source == this)
        return;
    HBITMAP copy = nullptr;
    if (source->FHandle) {
        // A bitmap selected into a DC cannot be read; hold the source's canvas while copying.
        if (source->FCanvas) {
            std::lock_guard lock(*source->FCanvas);
            source->FCanvas->FreeHandle();
            copy = static_cast<HBITMAP>(
                CopyImage(source->Handle(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        } else {
            copy = static_cast<HBITMAP>(
                CopyImage(source->Handle(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        }
    }
    SetHandle(copy);
    FIgnorePalette = source->FIgnorePalette;
}
