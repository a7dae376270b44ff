#include "resources/PanelBitmapPainter.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <variant>

namespace {

constexpr TRgb White = RgbFromHex(0xFFFFFF);

// A supersampled pixel averages 4 x 4 points at the centres of a sub-grid. No sample lies on a
// whole or half pixel, so shapes with edges there come out exact, without grey fringes.
constexpr int SamplesPerAxis = 4;
constexpr int SamplesPerPixel = SamplesPerAxis * SamplesPerAxis;

double SampleOffset(int AIndex) {
    return (AIndex + 0.5) / SamplesPerAxis;
}

// Rounds a non-negative ratio to the nearest integer, halves up.
int RoundedRatio(int ANumerator, int ADenominator) {
    return (2 * ANumerator + ADenominator) / (2 * ADenominator);
}

// a + (b - a) * AWeight / ATotal per channel, rounded to nearest; AWeight runs 0..ATotal.
TRgb Mix(TRgb a, TRgb b, int AWeight, int ATotal) {
    auto channel = [&](std::uint8_t from, std::uint8_t to) {
        return static_cast<std::uint8_t>(
            RoundedRatio(from * (ATotal - AWeight) + to * AWeight, ATotal));
    };
    return {channel(a.R, b.R), channel(a.G, b.G), channel(a.B, b.B)};
}

void FillRect(TPanelPicture& APicture, int x0, int y0, int x1, int y1, TRgb AColour) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            APicture.At(x, y) = AColour;
}

// ---------------------------------------------------------------------------------------------
// The two fields: blocks, borders, gradients, rules, corners.

struct TGradientStop {
    int Y;
    TRgb Colour;
};

// One colour per row, linear between stops and held beyond the last one. The fields' gradients
// have a middle stop on the first row of the lower block, which bends them a little: the lower
// block opens on its own colour rather than on whatever a single straight run would give there.
TRgb GradientAt(std::initializer_list<TGradientStop> AStops, int y) {
    const TGradientStop* previous = AStops.begin();
    for (const TGradientStop& stop : AStops) {
        if (y <= stop.Y)
            return stop.Y == previous->Y
                       ? stop.Colour
                       : Mix(previous->Colour, stop.Colour, y - previous->Y, stop.Y - previous->Y);
        previous = &stop;
    }
    return previous->Colour;
}

TRgb SellGradient(int y) {
    return GradientAt(
        {{2, RgbFromHex(0xF80101)}, {23, RgbFromHex(0xD00B0A)}, {47, RgbFromHex(0x9F1716)}}, y);
}

TRgb BuyGradient(int y) {
    return GradientAt(
        {{2, RgbFromHex(0x329832)}, {23, RgbFromHex(0x1C811C)}, {46, RgbFromHex(0x016501)}}, y);
}

// An outer corner softened toward the white around the picture's fields: the corner pixel nearly
// white, its two neighbours along the edges lightly.
struct TCorner {
    int X, Y;
    int Dx, Dy; // the direction from the corner into the field
};

void RoundCorners(TPanelPicture& APicture, std::initializer_list<TCorner> ACorners, TRgb AOuter,
                  TRgb AInner) {
    for (const TCorner& corner : ACorners) {
        APicture.At(corner.X, corner.Y) = AOuter;
        APicture.At(corner.X + corner.Dx, corner.Y) = AInner;
        APicture.At(corner.X, corner.Y + corner.Dy) = AInner;
    }
}

// Each field is two blocks drawn in the border colour, then filled row by row inside the border.
void PaintSellField(TPanelPicture& APicture) {
    FillRect(APicture, 0, 0, 67, 22, RgbFromHex(0xA01615));
    FillRect(APicture, 0, 21, 95, 49, RgbFromHex(0xA01615));
    // No border on the left: the fill runs on under the panel's own edge.
    for (int y = 2; y <= 47; ++y)
        FillRect(APicture, 0, y, y <= 22 ? 65 : 93, y, SellGradient(y));

    // A sunken line under the heading.
    FillRect(APicture, 5, 20, 60, 20, RgbFromHex(0xA40000));
    FillRect(APicture, 5, 21, 60, 21, RgbFromHex(0xEA0000));
    FillRect(APicture, 5, 22, 60, 22, RgbFromHex(0xF30000));

    RoundCorners(APicture, {{67, 0, -1, 1}, {95, 21, -1, 1}, {95, 49, -1, -1}},
                 RgbFromHex(0xEFD7D7), RgbFromHex(0xB64D4C));
}

void PaintBuyField(TPanelPicture& APicture) {
    FillRect(APicture, 129, 0, 197, 22, RgbFromHex(0x026602));
    FillRect(APicture, 101, 21, 197, 49, RgbFromHex(0x026602));
    // The border on the picture's right edge is a single pixel.
    for (int y = 2; y <= 47; ++y)
        FillRect(APicture, y <= 22 ? 131 : 103, y, 196, y, BuyGradient(y));

    FillRect(APicture, 136, 20, 191, 20, RgbFromHex(0x006431));
    FillRect(APicture, 136, 21, 191, 21, RgbFromHex(0x248A24));
    FillRect(APicture, 136, 22, 191, 22, RgbFromHex(0x2C922C));

    RoundCorners(
        APicture,
        {{129, 0, 1, 1}, {101, 21, 1, 1}, {101, 49, 1, -1}, {197, 0, -1, 1}, {197, 49, -1, -1}},
        RgbFromHex(0xD3E5D3), RgbFromHex(0x3E8A3E));
}

// ---------------------------------------------------------------------------------------------
// The spread box: a white card with a thin frame and a soft shadow, on the white between the
// fields.

// The outside edge of the frame, in continuous coordinates: pixels x 71..125, y 1..17.
constexpr double FrameLeft = 71, FrameTop = 1, FrameRight = 126, FrameBottom = 18;
constexpr double FrameRadius = 2.5;

// Signed distance from the frame's rounded outer edge; negative inside.
double DistanceFromFrame(double x, double y) {
    const double halfWidth = (FrameRight - FrameLeft) / 2,
                 halfHeight = (FrameBottom - FrameTop) / 2;
    const double qx = std::abs(x - (FrameLeft + halfWidth)) - (halfWidth - FrameRadius);
    const double qy = std::abs(y - (FrameTop + halfHeight)) - (halfHeight - FrameRadius);
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) -
           FrameRadius;
}

// The colour at one sample: the card, the 1-pixel frame, then 3 shadow bands fading to white.
TRgb SpreadBoxAt(double x, double y) {
    static constexpr std::array<std::uint32_t, 4> bands = {0x676767, 0xA4A4A4, 0xD1D1D1, 0xF0F0F0};
    const double distance = DistanceFromFrame(x, y);
    if (distance <= -1)
        return White;
    const int band = static_cast<int>(std::ceil(distance)); // 0 is the frame itself
    return band < static_cast<int>(bands.size()) ? RgbFromHex(bands[static_cast<std::size_t>(band)])
                                                 : White;
}

void PaintSpreadBox(TPanelPicture& APicture) {
    for (int y = 0; y <= 20; ++y)
        for (int x = 68; x <= 128; ++x) {
            int r = 0, g = 0, b = 0;
            for (int sy = 0; sy < SamplesPerAxis; ++sy)
                for (int sx = 0; sx < SamplesPerAxis; ++sx) {
                    const TRgb sample = SpreadBoxAt(x + SampleOffset(sx), y + SampleOffset(sy));
                    r += sample.R;
                    g += sample.G;
                    b += sample.B;
                }
            APicture.At(x, y) = {static_cast<std::uint8_t>(RoundedRatio(r, SamplesPerPixel)),
                                 static_cast<std::uint8_t>(RoundedRatio(g, SamplesPerPixel)),
                                 static_cast<std::uint8_t>(RoundedRatio(b, SamplesPerPixel))};
        }
}

// ---------------------------------------------------------------------------------------------
// The headings. Each letter is a few strokes in pixel coordinates (x right, y down, a pixel
// covering [x, x + 1) x [y, y + 1)); coverage is counted over the supersampling grid and the
// ink is blended over the field's gradient.

struct TPoint {
    double X, Y;
};

struct TBar {
    double X0, Y0, X1, Y1;
};

// A band between two concentric ellipses, the inner one smaller by WX across and WY down, over
// the angles From..To measured clockwise on screen from the right (90 points down).
struct TArc {
    double CX, CY, RX, RY, WX, WY, From, To;
};

// Any simple polygon, inside by the even-odd rule.
struct TPolygon {
    std::vector<TPoint> Points;
};

using TStroke = std::variant<TBar, TArc, TPolygon>;

bool Covers(const TBar& ABar, double x, double y) {
    return x >= ABar.X0 && x < ABar.X1 && y >= ABar.Y0 && y < ABar.Y1;
}

bool Covers(const TArc& AArc, double x, double y) {
    const double dx = x - AArc.CX, dy = y - AArc.CY;
    auto inEllipse = [&](double rx, double ry) {
        return (dx / rx) * (dx / rx) + (dy / ry) * (dy / ry) <= 1;
    };
    if (!inEllipse(AArc.RX, AArc.RY) || inEllipse(AArc.RX - AArc.WX, AArc.RY - AArc.WY))
        return false;
    const double angle = std::atan2(dy / AArc.RY, dx / AArc.RX) * 180 / std::numbers::pi;
    const double sweep = std::fmod(AArc.To - AArc.From + 720, 360);
    return std::fmod(angle - AArc.From + 720, 360) <= sweep;
}

bool Covers(const TPolygon& APolygon, double x, double y) {
    bool inside = false;
    const std::vector<TPoint>& p = APolygon.Points;
    for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        if ((p[i].Y > y) != (p[j].Y > y) &&
            x < p[j].X + (y - p[j].Y) * (p[i].X - p[j].X) / (p[i].Y - p[j].Y))
            inside = !inside;
    return inside;
}

struct THeading {
    int Left, Top, Right, Bottom; // the pixels the ink may touch, inclusive
    TRgb Ink;
    std::vector<TStroke> Strokes;
};

void PaintHeading(TPanelPicture& APicture, const THeading& AHeading) {
    for (int y = AHeading.Top; y <= AHeading.Bottom; ++y)
        for (int x = AHeading.Left; x <= AHeading.Right; ++x) {
            int covered = 0;
            for (int sy = 0; sy < SamplesPerAxis; ++sy)
                for (int sx = 0; sx < SamplesPerAxis; ++sx) {
                    const double px = x + SampleOffset(sx), py = y + SampleOffset(sy);
                    covered += std::any_of(AHeading.Strokes.begin(), AHeading.Strokes.end(),
                                           [&](const TStroke& stroke) {
                                               return std::visit(
                                                   [&](const auto& s) { return Covers(s, px, py); },
                                                   stroke);
                                           });
                }
            TRgb& pixel = APicture.At(x, y);
            pixel = Mix(pixel, AHeading.Ink, covered, SamplesPerPixel);
        }
}

// Shared proportions of the two words: cap height from y 4 to the baseline at y 17, lower case
// from y 7, straight stems 2 wide on whole pixels, curved ones a little heavier, horizontal
// strokes 2 high.
constexpr double CapTop = 4, XTop = 7, Baseline = 17, Stem = 2, Curve = 2.4, BarHeight = 2;

THeading SellHeading() {
    THeading heading{22, 4, 43, 16, RgbFromHex(0xFEFEFE), {}};
    std::vector<TStroke>& s = heading.Strokes;
    // S: two bowls meeting in a horizontal spine; the upper bowl runs from the spine round the
    // left and over the top, the lower one from the spine round the right and under the bottom.
    // With no straight stem to carry its weight, its curves are drawn heavier.
    constexpr double SCurve = Curve + 0.3;
    const double spineTop = 9.5, spineBottom = spineTop + BarHeight;
    s.push_back(TArc{25.5, (CapTop + spineBottom) / 2, 3.5, (spineBottom - CapTop) / 2, SCurve,
                     BarHeight, 90, 325});
    s.push_back(TArc{25.5, (spineTop + Baseline) / 2, 3.5, (Baseline - spineTop) / 2, SCurve,
                     BarHeight, 270, 145});
    // e: a ring open at the lower right, with a bar closing its eye.
    const double eCentre = (XTop + Baseline) / 2;
    s.push_back(TArc{33.25, eCentre, 3.25, (Baseline - XTop) / 2, Curve, BarHeight, 35, 0});
    s.push_back(TBar{31, eCentre - 1, 36.5, eCentre + 1});
    // ll
    s.push_back(TBar{38, CapTop, 38 + Stem, Baseline});
    s.push_back(TBar{42, CapTop, 42 + Stem, Baseline});
    return heading;
}

THeading BuyHeading() {
    THeading heading{153, 4, 175, 19, White, {}};
    std::vector<TStroke>& s = heading.Strokes;
    // B: a stem with two bowls, the lower one a little fuller.
    const double middleTop = 9.5, middleBottom = middleTop + BarHeight;
    s.push_back(TBar{153, CapTop, 153 + Stem, Baseline});
    s.push_back(TBar{153, CapTop, 157, CapTop + BarHeight});
    s.push_back(TBar{153, middleTop, 157.5, middleBottom});
    s.push_back(TBar{153, Baseline - BarHeight, 157.5, Baseline});
    s.push_back(TArc{157, (CapTop + middleBottom) / 2, 3, (middleBottom - CapTop) / 2, Curve,
                     BarHeight, 270, 90});
    s.push_back(TArc{157.5, (middleTop + Baseline) / 2, 3.5, (Baseline - middleTop) / 2, Curve,
                     BarHeight, 270, 90});
    // u: a left stem turning into the bottom bowl, a right stem down to the baseline.
    s.push_back(TBar{162, XTop, 162 + Stem, Baseline - 3});
    s.push_back(TArc{165, Baseline - 3, 3, 3, 2.1, BarHeight, 0, 180});
    s.push_back(TBar{168 - Stem, XTop, 168, Baseline});
    // y: two arms narrowing into their joint, the right one running on into the descender.
    s.push_back(TPolygon{{{169, XTop}, {171.3, XTop}, {173, 16.5}, {171.2, 16.5}}});
    s.push_back(TPolygon{{{173.7, XTop}, {176, XTop}, {172.4, 20}, {170.2, 20}, {172.3, 12}}});
    return heading;
}

} // namespace

TPanelPicture PaintPanelPicture() {
    TPanelPicture picture;
    FillRect(picture, 0, 0, TPanelPicture::Width - 1, TPanelPicture::Height - 1, White);
    PaintSellField(picture);
    PaintBuyField(picture);
    PaintSpreadBox(picture);
    PaintHeading(picture, SellHeading());
    PaintHeading(picture, BuyHeading());
    return picture;
}

std::vector<std::uint8_t> EncodePanelBmpFile(const TPanelPicture& APicture) {
    std::vector<std::uint8_t> file;
    file.reserve(PanelBmpFileSize);
    auto put16 = [&](std::uint32_t value) {
        file.push_back(static_cast<std::uint8_t>(value));
        file.push_back(static_cast<std::uint8_t>(value >> 8));
    };
    auto put32 = [&](std::uint32_t value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    constexpr std::uint32_t pixelsPerMetre = 5599;

    file.push_back('B');
    file.push_back('M');
    put32(PanelBmpFileSize);
    put32(0); // reserved
    put32(BmpFileHeaderSize + BmpInfoHeaderSize);

    put32(BmpInfoHeaderSize);
    put32(TPanelPicture::Width);
    put32(TPanelPicture::Height); // positive: bottom row first
    put16(1);                     // planes
    put16(24);                    // bits per pixel
    put32(0);                     // no compression
    put32(BmpImageSize);
    put32(pixelsPerMetre);
    put32(pixelsPerMetre);
    put32(0); // colours used
    put32(0); // important colours

    for (int y = TPanelPicture::Height - 1; y >= 0; --y) {
        for (int x = 0; x < TPanelPicture::Width; ++x) {
            const TRgb& pixel = APicture.At(x, y);
            file.insert(file.end(), {pixel.B, pixel.G, pixel.R});
        }
        file.resize(file.size() + BmpRowStride - 3 * TPanelPicture::Width, 0);
    }
    return file;
}
