// The numeric fields on real windows: arrow presses through the comctl32 up-down control,
// typing through the EDIT control, and reading the value from another thread.

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>

#include "PanelHarness.h"

namespace {

TTerminalData Snapshot() {
    return TTerminalData(nullptr, "EURUSD", 1.23456, 1.23431, 0.00001, 0.0001, 0.10, 50, 25, 15, 5);
}

struct TPress {
    const wchar_t* Before;
    TUDBtnType Button;
    const wchar_t* After;
};

constexpr TUDBtnType Up = TUDBtnType::btNext;
constexpr TUDBtnType Down = TUDBtnType::btPrev;

class SpinEdit : public ::testing::Test {
protected:
    TPanelHarness FHarness{Snapshot()};

    void ExpectPresses(TEditXT& AField, std::initializer_list<TPress> ACases) {
        for (const TPress& press : ACases) {
            SCOPED_TRACE(::testing::Message()
                         << "text \""
                         << std::string(press.Before, press.Before + wcslen(press.Before)) << "\", "
                         << (press.Button == Up ? "up" : "down"));
            FHarness.Type(AField, press.Before);
            FHarness.PressArrow(AField, press.Button);
            EXPECT_EQ(AField.Text(), press.After);
        }
    }
};

} // namespace

TEST_F(SpinEdit, SetupWritesTheInitialValuesWithTheFieldsDecimals) {
    TPanelXT& panel = FHarness.Panel();
    EXPECT_EQ(panel.edtLot->Text(), L"0.10");
    EXPECT_EQ(panel.edtSL->Text(), L"50.0");
    EXPECT_EQ(panel.edtTP->Text(), L"25.0");
    EXPECT_EQ(panel.edtTS->Text(), L"15.0");
}

TEST_F(SpinEdit, LotArrowsStepByTheValuesOwnStep) {
    ExpectPresses(*FHarness.Panel().edtLot, {
                                                {L"0.10", Down, L"0.00"},
                                                {L"0.00", Down, L"0.00"},
                                                {L"0.00", Up, L"0.01"},
                                                {L"0.09", Up, L"0.10"},
                                                {L"0.10", Up, L"0.20"},
                                                {L"0.99", Up, L"1.09"},
                                                {L"1.00", Down, L"0.00"},
                                                {L"1.50", Down, L"0.50"},
                                                {L"1e3", Up, L"1001.00"},
                                                {L" 0.25", Up, L"0.35"},
                                            });
}

TEST_F(SpinEdit, PipArrowsStepByTenthsBelowOneAndOnesAbove) {
    ExpectPresses(*FHarness.Panel().edtSL, {
                                               {L"0.0", Up, L"0.1"},
                                               {L"0.9", Up, L"1.0"},
                                               {L"1.0", Up, L"2.0"},
                                               {L"1.0", Down, L"0.0"},
                                               {L"0.5", Down, L"0.4"},
                                               {L"25.0", Up, L"26.0"},
                                           });
}

TEST_F(SpinEdit, TextThatIsNoNumberOrNegativeBecomesZeroWithoutAStep) {
    ExpectPresses(*FHarness.Panel().edtLot, {
                                                {L"abc", Up, L"0.00"},
                                                {L"0,10", Up, L"0.00"},
                                                {L"-3", Up, L"0.00"},
                                                {L"-3", Down, L"0.00"},
                                                {L"", Up, L"0.00"},
                                            });
}

TEST_F(SpinEdit, AnInfiniteValueReadsAsNoNumberIsWrittenAsInfAndTheNextPressResetsIt) {
    TEditXT& lot = *FHarness.Panel().edtLot;
    FHarness.Type(lot, L"1E999");
    EXPECT_TRUE(std::isnan(lot.GetValue())) << "an infinity is handed over as a number";
    FHarness.PressArrow(lot, Up);
    EXPECT_EQ(lot.Text(), L"INF");
    FHarness.PressArrow(lot, Up);
    EXPECT_EQ(lot.Text(), L"0.00");
}

TEST_F(SpinEdit, TypedTextIsReadFromAnotherThreadAsTheFieldShowsIt) {
    TPanelXT& panel = FHarness.Panel();
    FHarness.Type(*panel.edtLot, L"1.25");
    EXPECT_EQ(panel.edtLot->GetValue(), 1.25);
    FHarness.Type(*panel.edtLot, L"-3");
    EXPECT_EQ(panel.edtLot->GetValue(), -3); // passed on unchanged
    FHarness.Type(*panel.edtLot, L"0,10");
    EXPECT_TRUE(std::isnan(panel.edtLot->GetValue())); // no number with a '.' separator
    EXPECT_EQ(panel.edtLot->Text(), L"0,10");          // stays as typed
}

TEST_F(SpinEdit, AHugeTypedTextReadsAsNoNumberAndAPressRecovers) {
    TEditXT& lot = *FHarness.Panel().edtLot;
    std::wstring huge(100000, L'9');
    huge[50000] = L'x';
    FHarness.PanelThread().Run([&] { lot.SetText(huge); });
    EXPECT_EQ(lot.Text().size(), huge.size());
    EXPECT_TRUE(std::isnan(lot.GetValue()));
    FHarness.PressArrow(lot, Down);
    EXPECT_EQ(lot.Text(), L"0.00");
}

TEST_F(SpinEdit, TheHiddenCounterStartsInTheMiddleAndNeverReachesTheText) {
    TEditXT& lot = *FHarness.Panel().edtLot;
    EXPECT_EQ(lot.UpDown()->Max(), 32767);
    EXPECT_EQ(lot.UpDown()->Position(), 16383);
    FHarness.PressArrow(lot, Up);
    EXPECT_EQ(lot.UpDown()->Position(), 16384);
    EXPECT_EQ(lot.Text(), L"0.20");
}

TEST_F(SpinEdit, APressThatCannotMoveTheCounterIsNotReported) {
    TEditXT& lot = *FHarness.Panel().edtLot;
    FHarness.PanelThread().Run([&] { lot.UpDown()->SetPosition(1); });
    FHarness.Type(lot, L"0.50");
    FHarness.PressArrow(lot, Down);
    EXPECT_EQ(lot.Text(), L"0.40");
    FHarness.PressArrow(lot, Down); // the counter is at 0: nothing happens
    EXPECT_EQ(lot.Text(), L"0.40");
    EXPECT_EQ(lot.UpDown()->Position(), 0);
    FHarness.PressArrow(lot, Up);
    EXPECT_EQ(lot.Text(), L"0.50");

    FHarness.PanelThread().Run([&] { lot.UpDown()->SetPosition(32767); });
    FHarness.PressArrow(lot, Up);
    EXPECT_EQ(lot.Text(), L"0.50");
}

TEST_F(SpinEdit, ArrowsStandAtTheFieldsRightEdgeWithItsHeight) {
    for (TEditXT* field : {FHarness.Panel().edtLot, FHarness.Panel().edtSL, FHarness.Panel().edtTS,
                           FHarness.Panel().edtTP}) {
        const TUpDown& arrows = *field->UpDown();
        EXPECT_EQ(field->Width(), 35);
        EXPECT_EQ(arrows.Left(), field->Left() + field->Width());
        EXPECT_EQ(arrows.Top(), field->Top());
        EXPECT_EQ(arrows.Height(), field->Height());
        EXPECT_EQ(arrows.Width(), GetSystemMetrics(SM_CXVSCROLL));
        RECT box;
        GetWindowRect(arrows.Handle(), &box);
        EXPECT_EQ(box.bottom - box.top, field->Height());
    }
}
