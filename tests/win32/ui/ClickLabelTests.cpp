// The price labels on a real panel: clicks latched until an exchange takes them, the hover
// underline, the hint, and the colours a user sees.

#include <gtest/gtest.h>

#include <chrono>

#include "PanelHarness.h"
#include "terminal/ChartHost.h"

namespace {

using namespace std::chrono_literals;

TTerminalData Snapshot() {
    return TTerminalData(nullptr, "EURUSD", 1.23456, 1.23431, 0.00001, 0.0001, 0.10, 50, 25, 15, 5);
}

class ClickLabel : public ::testing::Test {
protected:
    TPanelHarness FHarness{Snapshot()};
    TLabelXT& Sell() { return *FHarness.Panel().lblLeft; }

    // A click at a point of the label's own box.
    void ClickAt(TLabelXT& ALabel, int X, int Y) {
        FHarness.Click(ALabel.Left() + X, ALabel.Top() + Y);
    }
    POINT Outside() const { return POINT{-100, -100}; }
};

} // namespace

TEST_F(ClickLabel, NeverClickedReportsNothing) {
    EXPECT_FALSE(Sell().ConsumeClick(Outside()));
    EXPECT_FALSE(Sell().Clicked());
}

TEST_F(ClickLabel, AClickIsReportedOnceAndSeveralCollapseIntoOne) {
    FHarness.ClickCentreOf(Sell());
    FHarness.ClickCentreOf(Sell());
    FHarness.ClickCentreOf(Sell());
    EXPECT_TRUE(Sell().Clicked());
    EXPECT_TRUE(Sell().ConsumeClick(Outside()));
    EXPECT_FALSE(Sell().ConsumeClick(Outside()));
}

TEST_F(ClickLabel, ClicksInTheMarginsLatchLikeOnesInTheMiddle) {
    const POINT corners[] = {{0, 0}, {92, 0}, {0, 16}, {92, 16}, {5, 14}, {88, 3}};
    for (POINT point : corners) {
        SCOPED_TRACE(::testing::Message() << point.x << "," << point.y);
        ClickAt(Sell(), point.x, point.y);
        EXPECT_TRUE(Sell().ConsumeClick(Outside()));
    }
}

TEST_F(ClickLabel, APressReleasedOutsideTheBoxIsNoClick) {
    const HWND panel = FHarness.PanelWindow();
    const int x = Sell().Left() + 40, y = Sell().Top() + 8;
    PostMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y + 40));
    PostMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(x, y + 40));
    FHarness.Settle();
    EXPECT_FALSE(Sell().ConsumeClick(Outside()));
}

TEST_F(ClickLabel, ClicksOnTheSpreadLabelOrOnOtherLabelsStayApart) {
    FHarness.ClickCentreOf(*FHarness.Panel().lblCenter);
    FHarness.ClickCentreOf(*FHarness.Panel().lblRight);
    EXPECT_FALSE(FHarness.Panel().lblCenter->Clicked());
    EXPECT_FALSE(Sell().ConsumeClick(Outside()));
    EXPECT_TRUE(FHarness.Panel().lblRight->ConsumeClick(Outside()));
}

TEST_F(ClickLabel, HoverZoneBoundariesOnAPriceLabel) {
    ASSERT_EQ(Sell().Width(), 93);
    ASSERT_EQ(Sell().Height(), 17);
    struct TCase {
        int X, Y;
        bool Underlined;
    };
    const TCase cases[] = {{20, 5, false}, {21, 5, true},  {72, 5, true},  {73, 5, false},
                           {40, 0, false}, {40, 1, true},  {40, 11, true}, {40, 12, false},
                           {21, 1, true},  {72, 11, true}, {0, 0, false},  {92, 16, false}};
    for (const TCase& test : cases) {
        SCOPED_TRACE(::testing::Message() << test.X << "," << test.Y);
        FHarness.MoveMouse(Sell().Left() + test.X, Sell().Top() + test.Y);
        EXPECT_EQ(Sell().Underlined(), test.Underlined);
    }
}

TEST_F(ClickLabel, TheUnderlineFollowsTheCursorAtEachExchange) {
    FHarness.MoveMouse(Sell().Left() + 40, Sell().Top() + 5);
    ASSERT_TRUE(Sell().Underlined());
    // The pointer left fast, without a move inside the box: the next exchange notices.
    EXPECT_FALSE(Sell().ConsumeClick(Outside()));
    EXPECT_FALSE(Sell().Underlined());
    EXPECT_FALSE(Sell().ConsumeClick(POINT{Sell().Left() + 40, Sell().Top() + 5}));
    EXPECT_TRUE(Sell().Underlined());
}

// Moves the real pointer and waits until the system reports it there; false on the deadline.
bool PutCursorAt(POINT AScreenPoint) {
    SetCursorPos(AScreenPoint.x, AScreenPoint.y);
    return WaitUntil(
        [&] {
            POINT now{};
            return GetCursorPos(&now) && now.x == AScreenPoint.x && now.y == AScreenPoint.y;
        },
        5s);
}

TEST_F(ClickLabel, ConsumeClickReadsTheRealCursor) {
    POINT centre{Sell().Left() + 46, Sell().Top() + 6};
    ClientToScreen(FHarness.PanelWindow(), &centre);
    ASSERT_TRUE(PutCursorAt(centre)) << "the pointer did not move";
    EXPECT_FALSE(Sell().ConsumeClick());
    EXPECT_TRUE(Sell().Underlined());
    ASSERT_TRUE(PutCursorAt(POINT{centre.x + 400, centre.y + 400})) << "the pointer did not move";
    // Mouse moves caused by the pointer's jumps may still arrive and underline again; each
    // exchange puts the underline where the pointer is now.
    EXPECT_TRUE(WaitUntil(
        [&] {
            FHarness.Settle();
            return !Sell().ConsumeClick() && !Sell().Underlined();
        },
        5s))
        << "the underline stayed after the pointer left";
}

TEST_F(ClickLabel, HintsOnlyForNonBlankHints) {
    TPanelXT& panel = FHarness.Panel();
    EXPECT_TRUE(panel.lblLeft->ShowHint());
    EXPECT_TRUE(panel.lblRight->ShowHint());
    EXPECT_FALSE(panel.lblPowered->ShowHint());
    EXPECT_FALSE(panel.lblCenter->ShowHint());
    ASSERT_NE(panel.HintWindow(), nullptr);
    EXPECT_EQ(SendMessageW(panel.HintWindow(), TTM_GETTOOLCOUNT, 0, 0), 2);

    FHarness.PanelThread().Run([&] { panel.lblRight->MakeLink(L"1.2", L" \t\r\n"); });
    EXPECT_FALSE(panel.lblRight->ShowHint());
    EXPECT_EQ(SendMessageW(panel.HintWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST_F(ClickLabel, TheHintAppearsAfterThePointerRestsOnTheLabel) {
    TPanelXT& panel = FHarness.Panel();
    POINT centre{Sell().Left() + 46, Sell().Top() + 8};
    ClientToScreen(FHarness.PanelWindow(), &centre);
    ASSERT_TRUE(PutCursorAt(centre)) << "the pointer did not move";
    FHarness.MoveMouse(Sell().Left() + 46, Sell().Top() + 8);
    ASSERT_TRUE(WaitUntil(
        [&] {
            FHarness.Settle();
            return IsWindowVisible(panel.HintWindow()) != FALSE;
        },
        5s))
        << "no hint appeared";
    wchar_t text[64] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.lpszText = text;
    ASSERT_TRUE(
        SendMessageW(panel.HintWindow(), TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool)))
        << "the hint window shows no tool";
    EXPECT_STREQ(text, L"Sell at market");
}

TEST_F(ClickLabel, TheLabelKeepsItsBoxWhateverItsCaption) {
    EXPECT_TRUE(Sell().SetCaption(std::wstring(2000, L'8')));
    EXPECT_EQ(Sell().Width(), 93);
    EXPECT_EQ(Sell().Height(), 17);
    EXPECT_TRUE(Sell().SetCaption(L"1"));
    EXPECT_EQ(Sell().Width(), 93);
    FHarness.Settle();
}
