#pragma once
// The panel's own controls: the spin edit, the click label, the panel bitmap and the panel.
//
// Threads: everything here runs on the panel thread, except what is marked "any thread":
// TPanelXT::TakeExchange runs on the host's thread while the panel thread handles input. It
// touches only the click latches and hover flags (atomics), the captions (immutable texts
// published by one exchange each) and the fields' values (one atomic each), and only
// invalidates: it takes no lock, so a host thread killed anywhere in it leaves the panel
// thread nothing to wait for.

#include <atomic>
#include <string>

#include "controls/ControlRules.h"
#include "controls/Exchange.h"
#include "data/DataXT.h"
#include "platform/Controls.h"

// A numeric field with free-standing arrow buttons. Its text is its value.
class TEditXT : public TEdit {
public:
    explicit TEditXT(TWinControl& AOwner);

    // Creates the arrow buttons at the field's right edge and writes the initial value.
    void Setup(int ADigits, double AValue);
    // The number the field shows: 0 when it is blank, NaN when its text is no number. Any thread.
    double GetValue() const { return FValue.load(std::memory_order_acquire); }
    void SetValue(double AValue);
    double StepFor(double AValue) const { return ::StepFor(AValue, FDigits); }
    int Digits() const { return FDigits; }
    TUpDown* UpDown() const { return FUpDown; }

protected:
    void TextMirrored(std::wstring_view AText) override;

private:
    void AttachUpDown(TUpDown& AUpDown);
    void UpDownClick(TUDBtnType AButton);

    int FDigits = 0;
    TUpDown* FUpDown = nullptr;
    // The text's number, parsed on the panel thread when the text changes and published by one
    // store, so that the host's thread reads it without a lock and without parsing.
    std::atomic<double> FValue{0};
    static_assert(std::atomic<double>::is_always_lock_free);
};

// A centred, transparent label that can be made a link: a click is latched (shown in orange)
// until the next exchange takes it or it goes stale, and the text underlines while the pointer is
// in its zone.
class TLabelXT : public TLabel {
public:
    // The colour of a latched click: orange.
    static constexpr TColor clClicked = 0x00A5FF;

    explicit TLabelXT(TWinControl& AOwner);

    TColor MainColor() const { return FMainColor; }
    void SetMainColor(TColor AColor, bool ABold);
    void SetClicked(bool AClicked);
    void LabelClick();
    // Takes the latch, true for a fresh click, and applies the hover rule at the cursor. Any
    // thread. The overload with a point takes the cursor in the parent's client coordinates,
    // read once by the caller.
    bool ConsumeClick();
    bool ConsumeClick(POINT ACursorInParent);
    void MakeLink(const std::wstring& ACaption, const std::wstring& AHint);
    void LabelMouseMove(int X, int Y);

    // A fresh click is waiting. Any thread.
    bool Clicked() const;
    // Clears a click that went stale, showing the main colour again. Panel thread.
    void DropStaleClick();
    bool Underlined() const { return FUnderline.load(std::memory_order_acquire); }

protected:
    TColor TextColor() const override;
    TFontStyles TextStyle() const override;

private:
    void ApplyHoverRule(int X, int Y);

    TColor FMainColor = clWhite;
    TClickLatch FLatch;
    std::atomic<bool> FUnderline{false};
};

// A bitmap that ignores palettes and draws itself by one unscaled block copy.
class TBitmapXT : public TBitmap {
public:
    TBitmapXT();
    void Draw(HDC ADestination, const RECT& ARect) override;
    std::unique_ptr<TGraphic> NewOfSameClass() const override;
};

// Opens the powered-by link. Replaceable so that tests record the call instead of starting a
// browser; set it before any panel exists.
using TOpenWebLink = void (*)(HWND AOwner, const wchar_t* ALink);
extern TOpenWebLink OpenWebLink;

// The powered-by link's caption and address.
std::wstring PoweredByCaption();
std::wstring PoweredByLink();

class TPanelXT : public TPanel {
public:
    TPanelXT();

    // Where the panel sits in its chart's client area, and its size.
    static constexpr int PanelLeft = 10;
    static constexpr int PanelTop = 20;
    static constexpr int PanelBorderWidth = 3;
    static constexpr int PanelWidth = 200 + 2 * PanelBorderWidth;
    static constexpr int PanelHeight = 157;

    // Lays the panel out on a chart the way the library shows it: its window as the chart's
    // child at its place, its bevels and its controls with the snapshot's values. Runs on the
    // panel thread; throws std::runtime_error when the window cannot be created.
    void Build(HWND AChart, const TTerminalData& AData, const TBitmapXT& ABitmap);
    void CreateControls(const TTerminalData& AData, const TBitmapXT& ABitmap);
    // The panel's side of an exchange: takes the price labels' clicks, shows the snapshot's
    // prices and writes the fields' values into AMemory's ExchangeBlockSize slots. Any thread,
    // as TakeExchange; it also opens the link and writes the host's block, which the library
    // does itself after TakeExchange, with nothing of the panel's in use.
    TExchangeResult UpdateTerminal(const TTerminalData* AData, double* AMemory);

    // What one exchange takes from the panel, without touching the host's memory or the shell,
    // so that the caller can hand it over once it holds no lock.
    struct TExchange {
        TExchangeResult Result = erNothing;
        bool OpenLink = false; // the powered-by link was clicked
        bool HasValues = false;
        double Values[ExchangeBlockSize] = {}; // indexed by TExchangeSlot
    };
    // Takes the clicks, sets the captions and reads the fields. Any thread.
    TExchange TakeExchange(const TTerminalData* AData);

    // The message still to be posted to the chart; 0 once posted.
    UINT PendingMessage() const { return FMsg; }

    TEditXT* edtLot = nullptr;
    TEditXT* edtSL = nullptr;
    TEditXT* edtTS = nullptr;
    TEditXT* edtTP = nullptr;
    TLabelXT* lblLeft = nullptr;
    TLabelXT* lblRight = nullptr;
    TLabelXT* lblCenter = nullptr;
    TLabelXT* lblPowered = nullptr;

protected:
    void WMTimer(WPARAM ATimerId) override;
    void WMDestroy() override;

private:
    TLabel& AddCaption(const std::wstring& AText);
    TImage& AddImage(const TBitmapXT& ABitmap, int ATop);
    POINT CursorInClient() const;

    UINT FMsg;
};
