// Checks the committed background picture byte by byte against its layout and its regions, and
// that the generator still draws exactly the committed file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/PanelBitmapPainter.h"

namespace {

constexpr int Width = 198, Height = 50;
constexpr std::size_t PixelOffset = 54, Stride = 596;

std::string Hex(TRgb c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", c.R, c.G, c.B);
    return text;
}

struct TBox {
    int Left, Top, Right, Bottom; // inclusive
    bool Contains(int x, int y) const { return x >= Left && x <= Right && y >= Top && y <= Bottom; }
};

constexpr TBox SellHeadingBox{22, 4, 43, 16};
constexpr TBox BuyHeadingBox{153, 4, 175, 19};
constexpr TBox SellRule{5, 20, 60, 22};
constexpr TBox BuyRule{136, 20, 191, 22};

// The fields' rounded corners: each corner pixel and its two neighbours along the edges are free
// to be blended toward white.
struct TCorner {
    int X, Y, Dx, Dy; // (Dx, Dy) points from the corner into its field
    TRgb Border;
};

constexpr TRgb SellBorder = RgbFromHex(0xA01615), BuyBorder = RgbFromHex(0x026602);
constexpr TCorner FieldCorners[] = {
    {67, 0, -1, 1, SellBorder}, {95, 21, -1, 1, SellBorder},  {95, 49, -1, -1, SellBorder},
    {129, 0, 1, 1, BuyBorder},  {101, 21, 1, 1, BuyBorder},   {101, 49, 1, -1, BuyBorder},
    {197, 0, -1, 1, BuyBorder}, {197, 49, -1, -1, BuyBorder},
};

bool InFieldCorner(int x, int y) {
    return std::any_of(std::begin(FieldCorners), std::end(FieldCorners), [&](const TCorner& c) {
        return (x == c.X && y == c.Y) || (x == c.X + c.Dx && y == c.Y) ||
               (x == c.X && y == c.Y + c.Dy);
    });
}

// The spread box's rounded corners, frame and shadow together: 6 columns at each side by the
// rows above and below its straight edges.
bool InSpreadBoxCorner(int x, int y) {
    return (x <= 73 || x >= 123) && x >= 68 && x <= 128 && (y <= 3 || (y >= 15 && y <= 20));
}

class CommittedPanelBitmap : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::ifstream in(PELLITH_PANEL_BITMAP_FILE, std::ios::binary);
        ASSERT_TRUE(in) << "cannot open " << PELLITH_PANEL_BITMAP_FILE;
        Bytes() = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static std::vector<std::uint8_t>& Bytes() {
        static std::vector<std::uint8_t> bytes;
        return bytes;
    }

    void SetUp() override { ASSERT_EQ(Bytes().size(), 29854u); }

    static std::uint32_t Field(std::size_t offset, int size) {
        std::uint32_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | Bytes()[offset + static_cast<std::size_t>(i)];
        return value;
    }

    // Rows are stored bottom row first, each pixel blue, green, red.
    static TRgb At(int x, int y) {
        const std::size_t at = PixelOffset + static_cast<std::size_t>(Height - 1 - y) * Stride +
                               3 * static_cast<std::size_t>(x);
        return {Bytes()[at + 2], Bytes()[at + 1], Bytes()[at]};
    }

    // How far a pixel has moved from the field's colour toward white, 0..1, by its weakest
    // channel: the anti-aliased ink of the headings shows here, and nothing else should.
    static double InkOver(TRgb pixel, TRgb fill) {
        auto channel = [](int p, int f) { return f == 255 ? 1.0 : double(p - f) / (255 - f); };
        return std::min(
            {channel(pixel.R, fill.R), channel(pixel.G, fill.G), channel(pixel.B, fill.B)});
    }
};

TEST_F(CommittedPanelBitmap, HeadersDescribeA198By50TwentyFourBitDibWithoutColourTable) {
    struct {
        std::size_t Offset;
        int Size;
        std::uint32_t Value;
        const char* What;
    } const fields[] = {
        {0, 2, 0x4D42, "signature BM"},
        {2, 4, 29854, "file size"},
        {6, 4, 0, "reserved"},
        {10, 4, 54, "offset of the pixels"},
        {14, 4, 40, "header size"},
        {18, 4, 198, "width"},
        {22, 4, 50, "height, bottom row first"},
        {26, 2, 1, "planes"},
        {28, 2, 24, "bits per pixel"},
        {30, 4, 0, "compression"},
        {34, 4, 29800, "image size"},
        {38, 4, 5599, "horizontal pixels per metre"},
        {42, 4, 5599, "vertical pixels per metre"},
        {46, 4, 0, "colours used"},
        {50, 4, 0, "important colours"},
    };
    for (const auto& field : fields)
        EXPECT_EQ(Field(field.Offset, field.Size), field.Value) << field.What;
}

TEST_F(CommittedPanelBitmap, RowPaddingBytesAreZero) {
    for (int row = 0; row < Height; ++row)
        for (std::size_t i = 3 * Width; i < Stride; ++i)
            EXPECT_EQ(Bytes()[PixelOffset + static_cast<std::size_t>(row) * Stride + i], 0)
                << "stored row " << row << ", byte " << i;
}

TEST_F(CommittedPanelBitmap, FixedRegionsHaveTheirColoursOutsideTheRoundedCorners) {
    struct {
        TBox Box;
        std::uint32_t Colour;
        const char* What;
    } const regions[] = {
        {{0, 0, 67, 1}, 0xA01615, "sell upper block, top border"},
        {{66, 0, 67, 22}, 0xA01615, "sell upper block, right border"},
        {{66, 21, 95, 22}, 0xA01615, "sell lower block, top border past the upper block"},
        {{94, 21, 95, 49}, 0xA01615, "sell lower block, right border"},
        {{0, 48, 95, 49}, 0xA01615, "sell lower block, bottom border"},
        {{5, 20, 60, 20}, 0xA40000, "sell rule, dark row"},
        {{5, 21, 60, 21}, 0xEA0000, "sell rule, middle row"},
        {{5, 22, 60, 22}, 0xF30000, "sell rule, light row"},
        {{129, 0, 197, 1}, 0x026602, "buy upper block, top border"},
        {{129, 0, 130, 22}, 0x026602, "buy upper block, left border"},
        {{197, 0, 197, 49}, 0x026602, "buy field, right edge"},
        {{101, 21, 130, 22}, 0x026602, "buy lower block, top border past the upper block"},
        {{101, 21, 102, 49}, 0x026602, "buy lower block, left border"},
        {{101, 48, 197, 49}, 0x026602, "buy lower block, bottom border"},
        {{136, 20, 191, 20}, 0x006431, "buy rule, dark row"},
        {{136, 21, 191, 21}, 0x248A24, "buy rule, middle row"},
        {{136, 22, 191, 22}, 0x2C922C, "buy rule, light row"},
        {{96, 21, 100, 49}, 0xFFFFFF, "gap between the lower blocks"},
        {{72, 2, 124, 16}, 0xFFFFFF, "spread box, inside"},
        {{71, 1, 125, 1}, 0x676767, "spread box frame, top"},
        {{71, 17, 125, 17}, 0x676767, "spread box frame, bottom"},
        {{71, 1, 71, 17}, 0x676767, "spread box frame, left"},
        {{125, 1, 125, 17}, 0x676767, "spread box frame, right"},
        {{68, 0, 128, 0}, 0xA4A4A4, "spread box shadow above the frame"},
        {{70, 0, 70, 20}, 0xA4A4A4, "spread box shadow, left, first column"},
        {{69, 0, 69, 20}, 0xD1D1D1, "spread box shadow, left, second column"},
        {{68, 0, 68, 20}, 0xF0F0F0, "spread box shadow, left, third column"},
        {{126, 0, 126, 20}, 0xA4A4A4, "spread box shadow, right, first column"},
        {{127, 0, 127, 20}, 0xD1D1D1, "spread box shadow, right, second column"},
        {{128, 0, 128, 20}, 0xF0F0F0, "spread box shadow, right, third column"},
        {{68, 18, 128, 18}, 0xA4A4A4, "spread box shadow, below, first row"},
        {{68, 19, 128, 19}, 0xD1D1D1, "spread box shadow, below, second row"},
        {{68, 20, 128, 20}, 0xF0F0F0, "spread box shadow, below, third row"},
    };
    for (const auto& region : regions) {
        int checked = 0;
        for (int y = region.Box.Top; y <= region.Box.Bottom; ++y)
            for (int x = region.Box.Left; x <= region.Box.Right; ++x) {
                if (InFieldCorner(x, y) || InSpreadBoxCorner(x, y))
                    continue;
                ++checked;
                ASSERT_EQ(Hex(At(x, y)), Hex(RgbFromHex(region.Colour)))
                    << region.What << " at (" << x << ", " << y << ")";
            }
        EXPECT_GT(checked, 0) << region.What;
    }
}

TEST_F(CommittedPanelBitmap, FieldCornersAreRoundedTowardWhite) {
    for (const TCorner& corner : FieldCorners) {
        const TRgb tip = At(corner.X, corner.Y);
        const TRgb sides[] = {At(corner.X + corner.Dx, corner.Y),
                              At(corner.X, corner.Y + corner.Dy)};
        SCOPED_TRACE("corner (" + std::to_string(corner.X) + ", " + std::to_string(corner.Y) + ")");
        // The tip is mostly white; its neighbours lie between the border and the tip.
        EXPECT_GT(InkOver(tip, corner.Border), 0.5) << Hex(tip);
        for (TRgb side : sides) {
            EXPECT_GE(InkOver(side, corner.Border), 0.0) << Hex(side);
            EXPECT_LE(InkOver(side, corner.Border), InkOver(tip, corner.Border)) << Hex(side);
        }
    }
}

TEST_F(CommittedPanelBitmap, SpreadBoxCornersAreGreysBetweenFrameAndWhite) {
    for (int y = 0; y <= 20; ++y)
        for (int x = 68; x <= 128; ++x) {
            if (!InSpreadBoxCorner(x, y))
                continue;
            const TRgb c = At(x, y);
            EXPECT_TRUE(c.R == c.G && c.G == c.B && c.R >= 0x67)
                << Hex(c) << " at " << x << ", " << y;
        }
}

// The fill of each field, heading and rule and rounded corners aside.
struct TField {
    const char* Name;
    TBox Upper, Lower; // the fill of each block
    TBox Heading, Rule;
    int LastRow;
    std::vector<std::pair<int, std::uint32_t>> KnownRows;
};

const TField Fields[] = {
    {"sell",
     {0, 2, 65, 22},
     {0, 23, 93, 47},
     SellHeadingBox,
     SellRule,
     47,
     {{2, 0xF80101}, {23, 0xD00B0A}, {47, 0x9F1716}}},
    {"buy",
     {131, 2, 196, 22},
     {103, 23, 196, 47},
     BuyHeadingBox,
     BuyRule,
     47,
     {{2, 0x329832}, {23, 0x1C811C}, {46, 0x016501}, {47, 0x016501}}},
};

void PrintTo(const TField& AField, std::ostream* os) {
    *os << AField.Name;
}

class FieldFill : public CommittedPanelBitmap, public ::testing::WithParamInterface<TField> {
protected:
    const TField& F() const { return GetParam(); }

    template <class Visit> void ForEachFillPixel(int y, Visit visit) const {
        const TBox& block = y <= F().Upper.Bottom ? F().Upper : F().Lower;
        for (int x = block.Left; x <= block.Right; ++x)
            if (!F().Heading.Contains(x, y) && !F().Rule.Contains(x, y) && !InFieldCorner(x, y))
                visit(x, At(x, y));
    }

    // The row's colour where no heading or rule lies over it: the first fill pixel.
    TRgb RowColour(int y) const {
        const TBox& block = y <= F().Upper.Bottom ? F().Upper : F().Lower;
        return At(block.Left, y);
    }
};

TEST_P(FieldFill, IsOneColourPerRowWithTheGivenEndAndExampleRows) {
    for (int y = F().Upper.Top; y <= F().LastRow; ++y) {
        const TRgb row = RowColour(y);
        ForEachFillPixel(y, [&](int x, TRgb c) {
            ASSERT_EQ(Hex(c), Hex(row)) << F().Name << " at (" << x << ", " << y << ")";
        });
    }
    for (const auto& [y, colour] : F().KnownRows)
        EXPECT_EQ(Hex(RowColour(y)), Hex(RgbFromHex(colour))) << F().Name << " row " << y;
}

TEST_P(FieldFill, DarkensSmoothlyFromTopToBottom) {
    const TRgb top = RowColour(F().Upper.Top), bottom = RowColour(F().LastRow);
    auto direction = [](int from, int to) { return (to > from) - (to < from); };
    const int dirs[] = {direction(top.R, bottom.R), direction(top.G, bottom.G),
                        direction(top.B, bottom.B)};
    for (int y = F().Upper.Top + 1; y <= F().LastRow; ++y) {
        const TRgb a = RowColour(y - 1), b = RowColour(y);
        const int steps[] = {b.R - a.R, b.G - a.G, b.B - a.B};
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_GE(steps[channel] * dirs[channel], 0)
                << F().Name << " turns back at row " << y << ": " << Hex(a) << " -> " << Hex(b);
            EXPECT_LE(std::abs(steps[channel]), 3)
                << F().Name << " jumps at row " << y << ": " << Hex(a) << " -> " << Hex(b);
        }
    }
}

TEST_P(FieldFill, HeadingInkFillsItsBoxAndOnlyLightensTheField) {
    const TBox& box = F().Heading;
    TBox ink{Width, Height, -1, -1};
    for (int y = box.Top; y <= box.Bottom; ++y) {
        const TRgb fill = RowColour(y);
        for (int x = box.Left; x <= box.Right; ++x) {
            const double amount = InkOver(At(x, y), fill);
            ASSERT_GE(amount, 0.0) << F().Name << " heading darkens (" << x << ", " << y << ")";
            if (amount >= 0.5)
                ink = {std::min(ink.Left, x), std::min(ink.Top, y), std::max(ink.Right, x),
                       std::max(ink.Bottom, y)};
        }
    }
    EXPECT_EQ(ink.Left, box.Left) << F().Name;
    EXPECT_EQ(ink.Top, box.Top) << F().Name;
    EXPECT_EQ(ink.Right, box.Right) << F().Name;
    EXPECT_EQ(ink.Bottom, box.Bottom) << F().Name;
}

TEST_P(FieldFill, HasNothingWhiteOutsideItsHeading) {
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const bool inField = (F().Upper.Contains(x, y) || F().Lower.Contains(x, y));
            if (!inField || F().Heading.Contains(x, y) || InFieldCorner(x, y))
                continue;
            const TRgb c = At(x, y);
            EXPECT_FALSE(c.R > 0xC0 && c.G > 0xC0 && c.B > 0xC0)
                << F().Name << " has " << Hex(c) << " at (" << x << ", " << y << ")";
        }
}

INSTANTIATE_TEST_SUITE_P(Fields, FieldFill, ::testing::ValuesIn(Fields),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CommittedPanelBitmap, SellIsInkedInFEFEFEAndBuyInPureWhite) {
    auto brightest = [](const TBox& box) {
        TRgb best{};
        for (int y = box.Top; y <= box.Bottom; ++y)
            for (int x = box.Left; x <= box.Right; ++x) {
                const TRgb c = At(x, y);
                if (c.R + c.G + c.B > best.R + best.G + best.B)
                    best = c;
            }
        return best;
    };
    EXPECT_EQ(Hex(brightest(SellHeadingBox)), "#FEFEFE");
    EXPECT_EQ(Hex(brightest(BuyHeadingBox)), "#FFFFFF");
}

TEST_F(CommittedPanelBitmap, OnlyTheLastLetterOfBuyDescendsBelowTheBaseline) {
    bool descender = false;
    for (int y = 17; y <= 19; ++y)
        for (int x = BuyHeadingBox.Left; x <= BuyHeadingBox.Right; ++x) {
            const double amount = InkOver(At(x, y), At(131, y));
            if (x < 168)
                EXPECT_EQ(amount, 0.0) << "ink below the baseline at (" << x << ", " << y << ")";
            else if (y == 19 && amount >= 0.5)
                descender = true;
        }
    EXPECT_TRUE(descender);
    // Sell sits on the same baseline and has no descender.
    for (int x = SellHeadingBox.Left; x <= SellHeadingBox.Right; ++x)
        EXPECT_EQ(InkOver(At(x, 17), At(0, 17)), 0.0) << "sell ink at (" << x << ", 17)";
}

TEST_F(CommittedPanelBitmap, IsExactlyWhatTheGeneratorDraws) {
    const std::vector<std::uint8_t> drawn = EncodePanelBmpFile(PaintPanelPicture());
    ASSERT_EQ(drawn.size(), Bytes().size());
    const auto mismatch = std::mismatch(drawn.begin(), drawn.end(), Bytes().begin());
    EXPECT_TRUE(mismatch.first == drawn.end())
        << "first difference at byte " << (mismatch.first - drawn.begin())
        << "; run the regenerate_panel_bitmap target and look at the picture";
}

} // namespace
