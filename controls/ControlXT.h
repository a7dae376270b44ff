#pragma once
// The panel's own controls: the spin edit, the click label, the panel bitmap and the panel.
//
// Threads: everything here runs on the panel thread, except what is marked "any thread". The
// library's exchanges never touch these objects: they meet the panel in its TExchangeState
// (atomics only), and the panel thread, woken by WM_XTWAKE or its timer, shows what they left
// there. UpdateTerminal, the panel's own whole exchange, is for callers that may take locks.

#include <atomic>
#include <cstdint>
#include <memory>
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
    // Also publishes the value to ASlot from now on; before Setup, so that the first value goes.
    void PublishTo(std::atomic<double>& ASlot) { FPublished = &ASlot; }

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
    std::atomic<double>* FPublished = nullptr;
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
    // Latches into ALatch, which outlives the label, instead of its own latch. Panel thread,
    // before the label takes clicks.
    void ShareLatch(TClickLatch& ALatch) { FLatch = &ALatch; }
    // Shows what an exchange did to the label from outside: its colour once its click was
    // taken, and the hover rule at the cursor, in the parent's client coordinates. Panel thread.
    void ShowExchanged(POINT ACursorInParent);

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
    TClickLatch FOwnLatch;
    TClickLatch* FLatch = &FOwnLatch;
    std::atomic<bool> FUnderline{false};
    mutable std::atomic<bool> FPaintedClicked{false}; // as the last paint showed it
};

// A bitmap that ignores palettes and draws itself by one unscaled block copy.
class TBitmapXT : public TBitmap {
public:
    TBitmapXT();
    void Draw(HDC ADestination, const RECT& ARect) override;
    std::unique_ptr<TGraphic> NewOfSameClass() const override;
};

// Opens the powered-by link; may take seconds (a browser starting). Replaceable so that tests
// record the call instead of starting a browser; set it before any panel exists.
using TOpenWebLink = void (*)(HWND AOwner, const wchar_t* ALink);
extern TOpenWebLink OpenWebLink;

// The powered-by link's caption and address.
std::wstring PoweredByCaption();
std::wstring PoweredByLink();

// The message an exchange posts to its panel to have it show what the exchange left in the
// shared state. Posted, never sent: the exchange waits for nothing.
inline constexpr UINT WM_XTWAKE = WM_APP + 0x58;

class TPanelXT : public TPanel {
public:
    // AShared is what the panel shares with the exchanges and must outlive the panel; without
    // it the panel has one of its own.
    explicit TPanelXT(TExchangeState* AShared = nullptr);
    TExchangeState& Shared() const { return *FShared; }

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
    // The panel's whole side of an exchange, on the caller's thread: takes the clicks, opens
    // the link, shows the snapshot's prices and writes the fields' values into AMemory's
    // ExchangeBlockSize slots. Any thread, but it allocates and may call the shell: the library
    // exchanges through the shared state instead.
    TExchangeResult UpdateTerminal(const TTerminalData* AData, double* AMemory);
    // Shows what exchanges left in the shared state: the latest quote, the labels whose clicks
    // were taken, and the hover rule at the cursor. Panel thread.
    void ShowExchanged();

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
    bool WMApp(UINT AMessage) override;

private:
    TLabel& AddCaption(const std::wstring& AText);
    TImage& AddImage(const TBitmapXT& ABitmap, int ATop);
    POINT CursorInClient() const;

    std::unique_ptr<TExchangeState> FOwnShared;
    TExchangeState* FShared;
    std::uint64_t FShownQuote = 0; // the quote version the captions show; panel thread
    UINT FMsg;
};
