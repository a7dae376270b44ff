#pragma once
// Colours, fonts and bitmaps of the widget layer.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Win32.h"

// A colour number 0x00BBGGRR, or a system colour: 0xFF000000 | the GetSysColor index.
using TColor = std::uint32_t;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
inline constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
inline constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
inline constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;

COLORREF ColorToRGB(TColor AColor);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;
enum class TFontPitch { fpDefault, fpVariable, fpFixed };

// The screen's pixels per inch, which converts between a font's points and pixels.
int ScreenPixelsPerInch();

// A logical font. Setting a property to the value it already has changes nothing and does not
// call OnChange. Used on the panel thread only.
class TFont {
public:
    TFont() = default;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    std::function<void()> OnChange;

    const std::wstring& Name() const { return FName; }
    void SetName(const std::wstring& AName);
    int Height() const { return FHeight; }
    void SetHeight(int AHeight);
    int Size() const; // in points; a negative Height is a character height in pixels
    void SetSize(int APoints);
    TFontPitch Pitch() const { return FPitch; }
    void SetPitch(TFontPitch APitch);
    TColor Color() const { return FColor; }
    void SetColor(TColor AColor);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles AStyle);

    // The font with its own style, or with another style (a label's hover underline).
    // Created on first use and owned by this object.
    HFONT Handle() const { return HandleFor(FStyle); }
    HFONT HandleFor(TFontStyles AStyle) const;

private:
    void Changed(bool AShapeChanged);

    std::wstring FName = L"MS Sans Serif";
    int FHeight = -11;
    TFontPitch FPitch = TFontPitch::fpDefault;
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
    mutable std::array<TFontHandle, 16> FHandles; // by style bits
};

// The line height of a font: what one line of its text takes on the screen.
int LineHeightOf(HFONT AFont);

// The size one line of text takes when it is drawn in AFont from the left edge of a box: its
// advance, or further where its glyphs' ink reaches further. Under Wine 8, ExtTextOut places
// glyphs wider apart than GetTextExtentPoint32 reports (Tahoma Bold "0.9": ink to column 17
// against an advance of 17 columns, 0 to 16), so a box of the advance alone cuts the last glyph.
SIZE DrawnTextSize(HFONT AFont, std::wstring_view AText);

// Something that paints itself into a rectangle of a DC.
class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual void Draw(HDC ADestination, const RECT& ARect) = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // The virtual constructor: an empty graphic of the same class as this one.
    virtual std::unique_ptr<TGraphic> NewOfSameClass() const = 0;
    virtual void Assign(const TGraphic& ASource) = 0;
};

class TBitmap;

// The drawing surface of a bitmap: a memory DC with the bitmap selected, made on first use,
// and a lock that keeps two threads from using the DC at once. In the library only panel
// threads take it, painting or copying a bitmap; a panel thread killed holding it would leave
// that bitmap's DC to no one, and the host's threads never take it.
class TCanvas {
public:
    explicit TCanvas(TBitmap& ABitmap) : FBitmap(ABitmap) {}
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }
    // For std::lock_guard: the lock is released on every path out of a scope.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    // The DC with the bitmap selected into it; null when none can be made.
    HDC Handle();
    // Deselects the bitmap, so that it can be replaced or copied.
    void FreeHandle();

private:
    TBitmap& FBitmap;
    TCriticalSection FLock;
    TBitmapDC FDC;
};

// A device-independent bitmap.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    void Draw(HDC ADestination, const RECT& ARect) override;
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    std::unique_ptr<TGraphic> NewOfSameClass() const override;
    void Assign(const TGraphic& ASource) override;

    bool Empty() const { return !FHandle; }
    bool IgnorePalette() const { return FIgnorePalette; }
    void SetIgnorePalette(bool AIgnore) { FIgnorePalette = AIgnore; }

    // Loads bitmap resource AId of AModule; false leaves the bitmap empty.
    bool LoadFromResourceID(HINSTANCE AModule, int AId);
    // The bitmap; owned by this object.
    HBITMAP Handle() const { return FHandle.Get(); }
    TCanvas& Canvas();

protected:
    void SetHandle(HBITMAP ABitmap);

private:
    TBitmapHandle FHandle;
    int FWidth = 0;
    int FHeight = 0;
    bool FIgnorePalette = false;
    std::unique_ptr<TCanvas> FCanvas;
};
