// The whole panel: its layout, what it paints, and its side of the exchange with the host.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "PanelHarness.h"
#include "terminal/Png.h"

namespace {

TTerminalData EurUsd(double AAsk = 1.23456, double ABid = 1.23431) {
    return TTerminalData(nullptr, "EURUSD", AAsk, ABid, 0.00001, 0.0001, 0.10, 50, 25, 15, 5);
}

// Records the web link instead of starting a browser.
struct TLinkRecorder {
    static inline int Calls = 0;
    static inline std::wstring Link;
    static inline HWND Owner = nullptr;
    static void Open(HWND AOwner, const wchar_t* ALink) {
        ++Calls;
        Owner = AOwner;
        Link = ALink;
    }
};

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        OpenWebLink = TLinkRecorder::Open;
        TLinkRecorder::Calls = 0;
    }

    TPanelHarness FHarness{EurUsd()};
    TPanelXT& ThePanel() { return FHarness.Panel(); }

    // An exchange as the host makes it, with a block the panel must fill.
    TExchangeResult Exchange(const TTerminalData& AData, double (&ABlock)[ExchangeBlockSize]) {
        for (double& value : ABlock)
            value = -999;
        return ThePanel().UpdateTerminal(&AData, ABlock);
    }
    TExchangeResult Exchange() {
        double block[ExchangeBlockSize];
        return Exchange(EurUsd(), block);
    }
};

constexpr int Width = TPanelXT::PanelWidth;
constexpr int Height = TPanelXT::PanelHeight;

bool AnyPixelIs(const TPixels& APixels, const RECT& ABox, TRgb ARgb) {
    for (int y = ABox.top; y < ABox.bottom; ++y)
        for (int x = ABox.left; x < ABox.right; ++x)
            if (APixels.At(x, y) == ARgb)
                return true;
    return false;
}

// The width of a label's caption in its own font, as a label that sizes itself takes it.
int CaptionWidth(const TLabel& ALabel) {
    return DrawnTextSize(ALabel.Font().Handle(), ALabel.Caption()).cx;
}

// A label's caption drawn unclipped in its font and colour on the panel's face, from the left
// edge of an AWidth x AHeight bitmap, 0x00RRGGBB row by row.
std::vector<COLORREF> CaptionDrawnFreely(const TLabel& ALabel, int AWidth, int AHeight) {
    TClientDC screen(nullptr);
    TBitmapHandle bitmap(CreateCompatibleBitmap(screen.Get(), AWidth, AHeight));
    {
        TBitmapDC dc(screen.Get(), bitmap.Get());
        TBrushHandle face(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
        RECT box{0, 0, AWidth, AHeight};
        FillRect(dc.Get(), &box, face.Get());
        TSelectObject font(dc.Get(), ALabel.Font().Handle());
        SetBkMode(dc.Get(), TRANSPARENT);
        SetTextColor(dc.Get(), ColorToRGB(ALabel.Font().Color()));
        const std::wstring caption = ALabel.Caption();
        DrawTextW(dc.Get(), caption.c_str(), static_cast<int>(caption.size()), &box,
                  DT_SINGLELINE | DT_NOPREFIX | DT_TOP | DT_LEFT);
    }
    std::vector<COLORREF> pixels(static_cast<size_t>(AWidth) * AHeight);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), AWidth, -AHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(screen.Get(), bitmap.Get(), 0, AHeight, pixels.data(), &info, DIB_RGB_COLORS);
    for (COLORREF& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

// The plain caption label that shows AText.
const TLabel* CaptionLabel(const TPanelXT& APanel, const std::wstring& AText) {
    for (const auto& control : APanel.Controls())
        if (auto label = dynamic_cast<const TLabel*>(control.get());
            label && !dynamic_cast<const TLabelXT*>(label) && label->Caption() == AText)
            return label;
    return nullptr;
}

} // namespace

TEST_F(Panel, LayoutFollowsTheRulesFromTheControlsBeforeIt) {
    struct TRow {
        const char* Name;
        const TControl* Control;
        int Left, Top, Width, Height;
    };
    TPanelXT& panel = ThePanel();
    const auto& controls = panel.Controls();
    auto at = [&](size_t AIndex) { return controls.at(AIndex).get(); };
    // Creation order: symbol, version, separator, lot (+ its arrows), "Lots:", ...
    const TControl* symbol = at(0);
    const TControl* separator = at(2);
    const TControl* image = nullptr;
    for (const auto& control : controls)
        if (dynamic_cast<const TImage*>(control.get()))
            image = control.get();
    ASSERT_NE(image, nullptr);
    const auto* version = static_cast<const TLabel*>(at(1));
    const int line = LineHeightOf(version->Font().Handle());
    const int field = panel.edtLot->Height();

    const TRow rows[] = {
        {"symbol", symbol, 10, 7, CaptionWidth(static_cast<const TLabel&>(*symbol)),
         symbol->Height()},
        {"version", version, 145, 6, CaptionWidth(*version), line},
        {"separator", separator, 9, BottomOf(*symbol) + 2, 188, 2},
        {"edtLot", panel.edtLot, 45, BottomOf(*separator) + 6, 35, field},
        {"edtSL", panel.edtSL, 45, BottomOf(*panel.edtLot) + 6, 35, field},
        {"edtTS", panel.edtTS, 146, panel.edtLot->Top(), 35, field},
        {"edtTP", panel.edtTP, 146, panel.edtSL->Top(), 35, field},
        {"image", image, 4, BottomOf(*panel.edtSL) + 7, 198, 50},
        {"lblCenter", panel.lblCenter, 77, image->Top() + 3, 53, 17},
        {"lblLeft", panel.lblLeft, 6, image->Top() + 29, 93, 17},
        {"lblRight", panel.lblRight, 109, image->Top() + 29, 93, 17},
        {"lblPowered", panel.lblPowered, 4, BottomOf(*image) + 3, 198, 17},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(row.Control->Left(), row.Left);
        EXPECT_EQ(row.Control->Top(), row.Top);
        EXPECT_EQ(row.Control->Width(), row.Width);
        EXPECT_EQ(row.Control->Height(), row.Height);
    }
    // The caption labels stand 2 pixels below the fields they name, the left ones at the
    // symbol's left edge.
    struct TCaption {
        const wchar_t* Text;
        const TEditXT* Field;
        int Left;
    };
    const TCaption captions[] = {{L"Lots:", panel.edtLot, 10},
                                 {L"S/L:", panel.edtSL, 10},
                                 {L"T/S:", panel.edtTS, 115},
                                 {L"T/P:", panel.edtTP, 115}};
    for (const TCaption& expected : captions) {
        SCOPED_TRACE(::testing::Message() << std::wstring(expected.Text).size() << " letters");
        const TLabel* caption = CaptionLabel(panel, expected.Text);
        ASSERT_NE(caption, nullptr);
        EXPECT_EQ(caption->Left(), expected.Left);
        EXPECT_EQ(caption->Top(), expected.Field->Top() + 2);
        EXPECT_EQ(caption->Width(), CaptionWidth(*caption));
    }
    // Tahoma at 96 dpi: 13-pixel caption lines and 21-pixel fields. The 10-point symbol line is
    // 16 pixels with Windows' Tahoma and 15 with Wine's, which moves everything below it up by one.
    EXPECT_EQ(line, 13);
    EXPECT_EQ(field, 21);
    EXPECT_GE(symbol->Height(), 15);
    EXPECT_LE(symbol->Height(), 16);
    EXPECT_EQ(image->Top(), symbol->Height() + 72);
}

TEST_F(Panel, DrawsItsTextInTahomaItselfNotASubstitute) {
    // A face that is not installed is replaced without a word by another one, whose metrics and
    // glyphs differ; with DejaVu Sans in its place, 64-bit Wine 8.0 even crashes in its own text
    // layout on some characters (tests/win32/wine/EditGposCrash.cpp).
    const HFONT fonts[] = {
        reinterpret_cast<HFONT>(SendMessageW(ThePanel().edtLot->Handle(), WM_GETFONT, 0, 0)),
        ThePanel().lblLeft->Font().Handle(), ThePanel().lblPowered->Font().Handle()};
    TClientDC dc(FHarness.PanelWindow());
    for (const HFONT font : fonts) {
        ASSERT_NE(font, nullptr);
        TSelectObject selected(dc.Get(), font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc.Get(), LF_FACESIZE, face);
        EXPECT_STREQ(face, L"Tahoma");
    }
}

TEST_F(Panel, EachCaptionShowsItsWholeTextAsItsFontDrawsIt) {
    // Sized by the advance alone, Wine's Tahoma Bold cut the right half of the 9 of "PLT v0.9".
    const auto pixels = FHarness.Capture();
    const COLORREF face = ToRgb(GetSysColor(COLOR_BTNFACE));
    int checked = 0;
    for (const auto& control : ThePanel().Controls()) {
        const auto* label = dynamic_cast<const TLabel*>(control.get());
        if (!label || dynamic_cast<const TLabelXT*>(label))
            continue;
        SCOPED_TRACE(::testing::Message()
                     << "the caption at " << label->Left() << "," << label->Top());
        const int room = label->Width() + 40, height = label->Height();
        const auto drawn = CaptionDrawnFreely(*label, room, height);
        int ink = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < room; ++x) {
                const COLORREF expected = drawn[static_cast<size_t>(y) * room + x];
                if (expected != face)
                    ++ink;
                if (x < label->Width())
                    ASSERT_EQ(pixels.At(label->Left() + x, label->Top() + y), expected)
                        << "at " << x << "," << y << " of the label";
                else
                    ASSERT_EQ(expected, face) << "ink outside the label at " << x << "," << y;
            }
        EXPECT_GT(ink, 20) << "the caption drew no text";
        ++checked;
    }
    EXPECT_EQ(checked, 6) << "the symbol, the version and four field captions";
}

TEST_F(Panel, PaintsTheBevelTheSeparatorAndThePictureAsDesigned) {
    const auto pixels = FHarness.Capture();
    // Kept for a look by eye: build/win32/tests/win32/ui/panel.png.
    std::string error;
    ASSERT_TRUE(WritePngFile("panel.png", pixels, error)) << error;
    auto at = [&](int X, int Y) { return COLORREF{pixels.At(X, Y)}; };
    const COLORREF face = ToRgb(GetSysColor(COLOR_BTNFACE));
    const COLORREF shadow = ToRgb(GetSysColor(COLOR_BTNSHADOW));
    const COLORREF highlight = ToRgb(GetSysColor(COLOR_BTNHIGHLIGHT));

    for (int i = 0; i < 3; ++i) { // the margin
        EXPECT_EQ(at(i, 80), face);
        EXPECT_EQ(at(Width - 1 - i, 80), face);
        EXPECT_EQ(at(100, i), face);
        EXPECT_EQ(at(100, Height - 1 - i), face);
    }
    for (int x = 3; x <= 201; ++x)
        ASSERT_EQ(at(x, 3), shadow) << "top bevel x " << x;
    for (int y = 4; y <= 152; ++y)
        ASSERT_EQ(at(3, y), shadow) << "left bevel y " << y;
    for (int y = 3; y <= 152; ++y)
        ASSERT_EQ(at(202, y), highlight) << "right bevel y " << y;
    // The labels are drawn over the bevel: the link's descenders (the "y" of "by", the "p" of the
    // site's name) reach the bottom line with some renderings of Tahoma and cover a pixel or two
    // of it in the link's own grey.
    const COLORREF link = 0x808080;
    int covered = 0;
    for (int x = 3; x <= 202; ++x) {
        if (at(x, 153) == link && x >= ThePanel().lblPowered->Left() && at(x, 152) == link) {
            ++covered;
            continue;
        }
        ASSERT_EQ(at(x, 153), highlight) << "bottom bevel x " << x;
    }
    EXPECT_LE(covered, 4) << "more than descenders cover the bottom bevel";
    EXPECT_EQ(at(4, 4), face);

    // The separator: a lowered line from x 9 to x 196.
    const int top = BottomOf(*ThePanel().Controls().at(0)) + 2;
    for (int x = 9; x <= 195; ++x)
        ASSERT_EQ(at(x, top), shadow) << "separator top x " << x;
    EXPECT_EQ(at(196, top), highlight);
    EXPECT_EQ(at(9, top + 1), shadow);
    for (int x = 10; x <= 196; ++x)
        ASSERT_EQ(at(x, top + 1), highlight) << "separator bottom x " << x;
    EXPECT_EQ(at(8, top), face);
    EXPECT_EQ(at(197, top), face);

    // The picture 1:1 at the image's place, except under the three price labels' text.
    const auto picture = PixelsOf(TestPanelBitmap());
    const int imageTop = ThePanel().lblLeft->Top() - 29;
    const RECT labels[] = {ThePanel().lblCenter->BoundsRect(), ThePanel().lblLeft->BoundsRect(),
                           ThePanel().lblRight->BoundsRect()};
    int compared = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 198; ++x) {
            const POINT point{4 + x, imageTop + y};
            bool covered = false;
            for (const RECT& box : labels)
                covered = covered || PtInRect(&box, point);
            if (covered)
                continue;
            ASSERT_EQ(at(point.x, point.y), picture[y * 198 + x]) << "picture " << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, 198 * 50 / 2);
}

TEST_F(Panel, LooksPixelForPixelLikeItsReferencePicture) {
    // One reference for both builds: the 32-bit and the 64-bit panel must be the same picture,
    // and a change to what the trader sees shows here as a picture to look at, not by chance.
    // After a change made on purpose, look at panel-actual.png and copy it over
    // tests/win32/ui/panel-reference.png.
    const auto pixels = FHarness.Capture();
    TPixels reference;
    std::string error;
    ASSERT_TRUE(ReadPngFile("panel-reference.png", reference, error)) << error;
    ASSERT_EQ(reference.Width, pixels.Width);
    ASSERT_EQ(reference.Height, pixels.Height);
    int differing = 0;
    std::string first;
    for (int y = 0; y < pixels.Height; ++y)
        for (int x = 0; x < pixels.Width; ++x)
            if (pixels.At(x, y) != reference.At(x, y) && differing++ < 8) {
                char line[64];
                std::snprintf(line, sizeof line, " (%d,%d) %06X not %06X", x, y,
                              static_cast<unsigned>(pixels.At(x, y)),
                              static_cast<unsigned>(reference.At(x, y)));
                first += line;
            }
    if (differing > 0) {
        ASSERT_TRUE(WritePngFile("panel-actual.png", pixels, error)) << error;
    }
    EXPECT_EQ(differing, 0) << "pixels differ from the reference, first at" << first
                            << "; the panel as drawn: panel-actual.png";
}

TEST_F(Panel, CaptionsShowInTheirColours) {
    FHarness.ClickCentreOf(*ThePanel().lblLeft);
    const auto pixels = FHarness.Capture();
    const RECT symbol = ThePanel().Controls().at(0)->BoundsRect();
    EXPECT_TRUE(AnyPixelIs(pixels, symbol, 0x0000FF)) << "blue symbol";
    EXPECT_TRUE(AnyPixelIs(pixels, ThePanel().lblCenter->BoundsRect(), 0x808080)) << "grey spread";
    EXPECT_TRUE(AnyPixelIs(pixels, ThePanel().lblPowered->BoundsRect(), 0x808080)) << "grey link";
    EXPECT_TRUE(AnyPixelIs(pixels, ThePanel().lblRight->BoundsRect(), 0xFFFFFF)) << "white ask";
    EXPECT_TRUE(AnyPixelIs(pixels, ThePanel().lblLeft->BoundsRect(), 0xFFA500)) << "orange bid";

    EXPECT_EQ(Exchange(), erSell);
    const auto after = FHarness.Capture();
    EXPECT_FALSE(AnyPixelIs(after, ThePanel().lblLeft->BoundsRect(), 0xFFA500));
    EXPECT_TRUE(AnyPixelIs(after, ThePanel().lblLeft->BoundsRect(), 0xFFFFFF)) << "white again";
}

TEST_F(Panel, NothingClickedGivesZeroAndStillWritesAllFourValues) {
    double block[ExchangeBlockSize];
    EXPECT_EQ(Exchange(EurUsd(), block), erNothing);
    EXPECT_EQ(block[0], 0.1); // lot
    EXPECT_EQ(block[1], 50);  // stop-loss
    EXPECT_EQ(block[2], 25);  // take-profit
    EXPECT_EQ(block[3], 15);  // trailing stop, although its field stands above take-profit
}

TEST_F(Panel, TheBlockTakesTheFieldsInTheHostsOrder) {
    FHarness.Type(*ThePanel().edtLot, L"0.10");
    FHarness.Type(*ThePanel().edtTP, L"25.0");
    FHarness.Type(*ThePanel().edtTS, L"7.5");
    FHarness.Type(*ThePanel().edtSL, L"x");
    double block[ExchangeBlockSize];
    EXPECT_EQ(Exchange(EurUsd(), block), erNothing);
    EXPECT_EQ(block[0], 0.1);
    EXPECT_TRUE(std::isnan(block[1])) << block[1]; // not a number, so never "no stop"
    EXPECT_EQ(block[2], 25);
    EXPECT_EQ(block[3], 7.5);
}

TEST_F(Panel, SellIsReportedOnceAndTheLabelTurnsBack) {
    FHarness.ClickCentreOf(*ThePanel().lblLeft);
    EXPECT_TRUE(ThePanel().lblLeft->Clicked());
    EXPECT_EQ(Exchange(), erSell);
    EXPECT_FALSE(ThePanel().lblLeft->Clicked());
    EXPECT_EQ(Exchange(), erNothing);
}

TEST_F(Panel, BuyWinsOverSellAndTheSellClickIsGone) {
    FHarness.ClickCentreOf(*ThePanel().lblLeft);
    FHarness.ClickCentreOf(*ThePanel().lblRight);
    EXPECT_EQ(Exchange(), erBuy);
    EXPECT_EQ(Exchange(), erNothing);
}

TEST_F(Panel, TheLinkOpensOnceAtTheNextExchangeWithoutChangingTheResult) {
    FHarness.ClickCentreOf(*ThePanel().lblPowered);
    EXPECT_EQ(TLinkRecorder::Calls, 0); // not at the click
    EXPECT_EQ(Exchange(), erNothing);
    EXPECT_EQ(TLinkRecorder::Calls, 1);
    EXPECT_EQ(TLinkRecorder::Link, L"http://pellith.example/?adid=plt09");
    EXPECT_EQ(TLinkRecorder::Owner, FHarness.PanelWindow());
    EXPECT_EQ(ThePanel().lblPowered->Caption(), L"Powered by pellith.example");
    EXPECT_EQ(Exchange(), erNothing);
    EXPECT_EQ(TLinkRecorder::Calls, 1);

    FHarness.ClickCentreOf(*ThePanel().lblPowered);
    FHarness.ClickCentreOf(*ThePanel().lblRight);
    EXPECT_EQ(Exchange(), erBuy);
    EXPECT_EQ(TLinkRecorder::Calls, 2);
}

TEST_F(Panel, CaptionsFollowTheLatestPricesAndSamePricesRepaintNothing) {
    double block[ExchangeBlockSize];
    EXPECT_EQ(Exchange(EurUsd(1.30012, 1.29990), block), erNothing);
    EXPECT_EQ(ThePanel().lblLeft->Caption(), L"1.29990");
    EXPECT_EQ(ThePanel().lblRight->Caption(), L"1.30012");
    EXPECT_EQ(ThePanel().lblCenter->Caption(), L"2.2");
    FHarness.Settle();
    const long painted = ThePanel().PaintCount();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Exchange(EurUsd(1.30012, 1.29990), block), erNothing);
    FHarness.Settle();
    EXPECT_EQ(ThePanel().PaintCount(), painted);

    // A new ask changes the ask and the spread: at most their two boxes are repainted.
    EXPECT_EQ(Exchange(EurUsd(1.30013, 1.29990), block), erNothing);
    FHarness.Settle();
    EXPECT_GT(ThePanel().PaintCount(), painted);
    EXPECT_LE(ThePanel().PaintCount(), painted + 2);
}

TEST_F(Panel, TwoPanelsConsumeOnlyTheirOwnClicks) {
    TPanelHarness other(EurUsd(), 320, 0);
    FHarness.ClickCentreOf(*ThePanel().lblLeft);
    other.ClickCentreOf(*other.Panel().lblRight);
    double block[ExchangeBlockSize];
    EXPECT_EQ(other.Panel().UpdateTerminal(nullptr, block), erBuy);
    EXPECT_EQ(Exchange(), erSell);
    EXPECT_EQ(other.Panel().UpdateTerminal(nullptr, block), erNothing);
}

TEST_F(Panel, WithoutASnapshotOnlyTheLatchesAreTaken) {
    FHarness.ClickCentreOf(*ThePanel().lblLeft);
    double block[ExchangeBlockSize] = {-1, -2, -3, -4};
    EXPECT_EQ(ThePanel().UpdateTerminal(nullptr, block), erSell);
    EXPECT_EQ(block[0], -1);
    EXPECT_EQ(block[3], -4);
    EXPECT_EQ(ThePanel().lblLeft->Caption(), L"1.23431");

    const TTerminalData data = EurUsd(1.5, 1.4);
    EXPECT_EQ(ThePanel().UpdateTerminal(&data, nullptr), erNothing);
    EXPECT_EQ(ThePanel().lblLeft->Caption(), L"1.40000");
}

TEST_F(Panel, PricesThatAreNoNumbersShowAsWords) {
    const TTerminalData data(nullptr, "", NAN, -INFINITY, 0, 0, 0, 0, 0, 0, 5);
    double block[ExchangeBlockSize];
    EXPECT_EQ(Exchange(data, block), erNothing);
    EXPECT_EQ(ThePanel().lblRight->Caption(), L"NAN");
    EXPECT_EQ(ThePanel().lblLeft->Caption(), L"-INF");
    EXPECT_EQ(ThePanel().lblCenter->Caption(), L"NAN");
    EXPECT_EQ(block[0], 0.1);
}

TEST_F(Panel, DestroyingTheWindowEndsThePanelThreadsLoop) {
    bool quitPosted = false;
    FHarness.PanelThread().Run([&] {
        ThePanel().DestroyHandle();
        MSG message;
        // Take the quit message out again, or it would end this test thread's own loop.
        quitPosted = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    });
    EXPECT_TRUE(quitPosted);
    EXPECT_EQ(ThePanel().Handle(), nullptr);
    EXPECT_EQ(Exchange(), erNothing); // the objects live on until their thread frees them
}

TEST_F(Panel, RandomMouseAndKeyboardInputLeavesItWorking) {
    const HWND panel = FHarness.PanelWindow();
    const HWND fields[] = {ThePanel().edtLot->Handle(), ThePanel().edtSL->Handle()};
    const HWND arrows[] = {ThePanel().edtLot->UpDown()->Handle(),
                           ThePanel().edtTP->UpDown()->Handle()};
    const UINT mouse[] = {WM_MOUSEMOVE,   WM_LBUTTONDOWN,    WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                          WM_RBUTTONDOWN, WM_CAPTURECHANGED, WM_MOUSELEAVE};
    unsigned seed = 12345;
    auto next = [&](unsigned ABound) {
        seed = seed * 1103515245 + 12345;
        return (seed >> 8) % ABound;
    };
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 200; ++i) {
            const int x = int(next(400)) - 100, y = int(next(300)) - 70;
            const LPARAM where = MAKELPARAM(x, y);
            switch (next(4)) {
            case 0:
            case 1:
                PostMessageW(panel, mouse[next(7)], next(2) ? MK_LBUTTON : 0, where);
                break;
            case 2:
                PostMessageW(fields[next(2)], WM_CHAR, 1 + next(0x2FF), 0);
                break;
            default:
                PostMessageW(arrows[next(2)], next(2) ? WM_LBUTTONDOWN : WM_LBUTTONUP, MK_LBUTTON,
                             MAKELPARAM(next(20), next(30)));
                break;
            }
        }
        FHarness.Settle();
        double block[ExchangeBlockSize];
        const TExchangeResult result = Exchange(EurUsd(), block);
        EXPECT_TRUE(result == erNothing || result == erBuy || result == erSell) << result;
    }
    // Whatever happened, a plain click is still latched once and reported once.
    PostMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(0, 0));
    FHarness.Settle();
    const TExchangeResult leftOver = Exchange(); // a click the random input left latched
    EXPECT_TRUE(leftOver == erNothing || leftOver == erBuy || leftOver == erSell) << leftOver;
    FHarness.ClickCentreOf(*ThePanel().lblRight);
    EXPECT_EQ(Exchange(), erBuy);
    EXPECT_EQ(Exchange(), erNothing);
}

TEST(BitmapXT, CopiesStayBitmapXTAndIgnorePalettes) {
    const TBitmapXT empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_TRUE(empty.IgnorePalette());
    const TBitmapXT& loaded = TestPanelBitmap();
    ASSERT_EQ(loaded.Width(), 198);
    ASSERT_EQ(loaded.Height(), 50);

    auto copy = loaded.NewOfSameClass();
    copy->Assign(loaded);
    auto* bitmap = dynamic_cast<TBitmapXT*>(copy.get());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(bitmap->IgnorePalette());
    EXPECT_EQ(PixelsOf(*bitmap), PixelsOf(loaded));
    EXPECT_NE(bitmap->Handle(), loaded.Handle()); // its own pixels, not shared

    // Drawing copies 1:1 from the destination's origin, whatever rectangle's left and top.
    TClientDC screen(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 198, -50, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TBitmapHandle surface(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        TBitmapDC target(screen.Get(), surface.Get());
        ASSERT_TRUE(target);
        SetStretchBltMode(target.Get(), HALFTONE);
        bitmap->Draw(target.Get(), RECT{7, 9, 198, 50});
    }
    GdiFlush();
    const auto expected = PixelsOf(loaded);
    const auto* drawn = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(drawn[i] & 0xFFFFFF, expected[i]) << "pixel " << i;
}

TEST(TestThread, ATaskThatThrowsHandsItsExceptionBackAndTheThreadGoesOn) {
    TTestThread thread("throwing");
    std::string message;
    try {
        thread.Run([] { throw std::runtime_error("the task failed"); });
    } catch (const std::runtime_error& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "the task failed");
    DWORD ranOn = 0;
    thread.Run([&] { ranOn = GetCurrentThreadId(); });
    EXPECT_EQ(ranOn, thread.Id());
}
