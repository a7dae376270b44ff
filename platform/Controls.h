#pragma once
// The widget layer: the least of a component library that the panel needs. Windowed controls
// (TPanel, TEdit, TUpDown) own a window; graphic controls (TLabel, TImage, TBevel) have none and
// are painted by their parent panel, in creation order, which also routes the mouse to them.
//
// Threads: every control is created, laid out, painted and given input on the panel thread.
// The few members another thread may use say so.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "platform/PublishedText.h"

class TWinControl;

enum class TCursor { crDefault, crHandPoint };

class TControl {
public:
    // The owner also becomes the parent; it frees the control.
    explicit TControl(TWinControl* AOwner);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    TWinControl* Parent() const { return FParent; }
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    RECT BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // Asks for a repaint; any thread may call it (it never waits for the panel thread).
    virtual void Invalidate() = 0;

    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor ACursor) { FCursor = ACursor; }
    const std::wstring& Hint() const { return FHint; }
    void SetHint(const std::wstring& AHint);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool AShow);

    std::function<void()> OnClick;
    std::function<void(int X, int Y)> OnMouseMove; // X, Y from the control's top-left

    // Mouse input routed by the parent: coordinates in the control's own pixels.
    virtual void MouseMove(int X, int Y) {
        if (OnMouseMove)
            OnMouseMove(X, Y);
    }
    virtual void Click() {
        if (OnClick)
            OnClick();
    }

protected:
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;

private:
    TWinControl* FParent;
    TCursor FCursor = TCursor::crDefault;
    std::wstring FHint;
    bool FShowHint = false;
};

// A control without a window of its own, painted by its parent.
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
    void Invalidate() override;
    // Paints into ADC, whose origin is the control's top-left corner, clipped to ABox.
    virtual void Paint(HDC ADC, const RECT& ABox) = 0;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TWinControl* AOwner) : TControl(AOwner) {}
    ~TWinControl() override;

    // The window; null before it is created and after it is destroyed. Any thread may read it.
    HWND Handle() const { return FHandle.load(std::memory_order_acquire); }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void Invalidate() override;
    // Destroys the window (and so its child windows); the objects stay.
    void DestroyHandle();
    // The colour of the control's background, which transparent children show through.
    virtual TColor Color() const { return clBtnFace; }

    // Creates a control owned by this one and placed on it, in creation order.
    template <class T, class... TArgs> T& Add(TArgs&&... AArgs) {
        auto control = std::make_unique<T>(*this, std::forward<TArgs>(AArgs)...);
        T& result = *control;
        FControls.push_back(std::move(control));
        return result;
    }
    const std::vector<std::unique_ptr<TControl>>& Controls() const { return FControls; }

    // Notifications that the parent's window procedure hands to the child they came from.
    virtual void CommandNotify(int /*ACode*/) {}
    virtual void ScrollNotify(int /*ACode*/) {}
    // A graphic child's hint or bounds changed.
    virtual void HintChanged(TControl& /*AControl*/) {}

protected:
    // Subclasses a stock control's window so that its destruction is noticed.
    void AttachStockWindow(HWND AWindow);
    void WindowGone() { FHandle.store(nullptr, std::memory_order_release); }

    std::atomic<HWND> FHandle{nullptr};

private:
    static LRESULT CALLBACK StockSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    std::vector<std::unique_ptr<TControl>> FControls;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

// A panel: a window of this library's own class that paints its bevels and its graphic
// children (double-buffered) and routes the mouse to them.
class TPanel : public TWinControl {
public:
    TPanel();
    ~TPanel() override;

    // Creates the window as a visible child of a window given by handle (often another
    // thread's). Throws std::runtime_error when the window cannot be created.
    void SetParentWindow(HWND AParent);
    HWND ParentWindow() const { return FParentWindow; }

    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int AWidth);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut ACut);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut ACut);
    int BevelWidth() const { return FBevelWidth; }
    TColor Color() const override { return FColor; }
    int ClientWidth() const { return FWidth; }

    void HintChanged(TControl& AControl) override;
    // The hint window; null until a control asks for a hint, and again once the panel's
    // window is destroyed, which destroys it too. For tests.
    HWND HintWindow() const { return FHintWindow; }
    // WM_PAINT messages handled so far, for measuring repaints.
    long PaintCount() const { return FPaintCount.load(std::memory_order_relaxed); }

protected:
    virtual void WMTimer(WPARAM /*ATimerId*/) {}
    virtual void WMDestroy() {}
    // A message of the application's range (WM_APP and up); true when it was handled.
    virtual bool WMApp(UINT /*AMessage*/) { return false; }

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT AMessage, WPARAM AWParam, LPARAM ALParam);
    void WMPaint();
    void PaintBevels(HDC ADC) const;
    TGraphicControl* GraphicControlAt(int X, int Y) const;
    TWinControl* ChildWindowControl(HWND AWindow) const;
    void DestroyHintWindow();
    void MouseMoveAt(int X, int Y);
    void MouseDownAt(int X, int Y);
    void MouseUpAt(int X, int Y);
    bool SetCursorForPoint();

    HWND FParentWindow = nullptr;
    int FBorderWidth = 0;
    TBevelCut FBevelInner = TBevelCut::bvNone;
    TBevelCut FBevelOuter = TBevelCut::bvRaised;
    int FBevelWidth = 1;
    TColor FColor = clBtnFace;
    TControl* FCaptured = nullptr;
    HWND FHintWindow = nullptr;
    std::atomic<long> FPaintCount{0};
    // The off-screen surface, kept between paints: making it each time costs more than painting.
    // The DC is declared after the bitmap, so it lets the bitmap go before the bitmap is deleted.
    TBitmapHandle FSurface;
    TBitmapDC FSurfaceDC;
    SIZE FSurfaceSize{0, 0};
};

// The window class of the panels.
inline constexpr wchar_t PanelClassName[] = L"PellithPanel";

// True for the window of a panel of this library, of any copy of it that is loaded.
bool IsPanelWindow(HWND AWindow);

// A single-line text field: the stock EDIT control with a sunken client edge.
class TEdit : public TWinControl {
public:
    explicit TEdit(TWinControl& AOwner);

    TFont& Font() { return FFont; }
    // The field's text as last seen on the panel thread; any thread may read it.
    std::wstring Text() const { return FTextMirror.Get(); }
    // Lets AReader look at that text without copying it. Any thread.
    template <class F> auto WithText(F&& AReader) const {
        return FTextMirror.With(std::forward<F>(AReader));
    }
    void SetText(const std::wstring& AText);

    void CommandNotify(int ACode) override;

protected:
    // The text changed; on the panel thread, once it is published.
    virtual void TextMirrored(std::wstring_view /*AText*/) {}

private:
    void FontChanged();
    void MirrorText();

    TFont FFont;
    // Written on the panel thread only, read by any: published without a lock, so that a host
    // thread killed while reading it leaves the panel thread nothing to wait for.
    TPublishedText FTextMirror;
};

enum class TUDAlignButton { udLeft, udRight };

// Which button of an up-down was pressed: btNext is the up arrow, btPrev the down arrow.
enum class TUDBtnType { btNext, btPrev };

// The comctl32 up-down control, free-standing: a press that moves the hidden counter is
// reported through OnClick; a press at a limit is not.
class TUpDown : public TWinControl {
public:
    explicit TUpDown(TWinControl& AOwner);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetMax(int AMax);
    int Position() const { return FPosition; }
    void SetPosition(int APosition);
    // Places the buttons at a control's right edge, as tall as it; null detaches.
    void SetAssociate(TWinControl* ABuddy);
    TWinControl* Associate() const { return FAssociate; }

    std::function<void(TUDBtnType)> OnClick;

    void ScrollNotify(int ACode) override;

private:
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    TWinControl* FAssociate = nullptr;
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TLabel : public TGraphicControl {
public:
    explicit TLabel(TWinControl& AOwner);

    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    // Any thread may read or set the caption of a label that does not size itself; the label
    // is repainted only when the text really changes.
    std::wstring Caption() const { return FCaption.Get(); }
    bool SetCaption(const std::wstring& ACaption);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool AAutoSize);
    void SetTransparent(bool ATransparent) { FTransparent = ATransparent; }
    bool Transparent() const { return FTransparent; }
    void SetAlignment(TAlignment AAlignment) { FAlignment = AAlignment; }
    TAlignment Alignment() const { return FAlignment; }

    void Paint(HDC ADC, const RECT& ABox) override;

protected:
    // What the label paints with; a subclass may derive them from state of its own.
    virtual TColor TextColor() const { return FFont.Color(); }
    virtual TFontStyles TextStyle() const { return FFont.Style(); }

private:
    void AdjustSize();

    TFont FFont;
    // Set by the host's threads in an exchange while the panel thread paints it: published
    // without a lock, so that a host thread killed while setting it leaves the paint nothing
    // to wait for.
    TPublishedText FCaption;
    bool FAutoSize = true;
    bool FTransparent = false;
    TAlignment FAlignment = TAlignment::taLeftJustify;
};

// Shows a graphic 1:1 from its top-left corner; keeps its own copy of the graphic it is given.
class TImage : public TGraphicControl {
public:
    explicit TImage(TWinControl& AOwner);
    void SetGraphic(const TGraphic& AGraphic);
    TGraphic* Graphic() const { return FGraphic.get(); }
    void Paint(HDC ADC, const RECT& ABox) override;

private:
    std::unique_ptr<TGraphic> FGraphic;
};

// A lowered box line: shadow along the top and left, highlight along the bottom and right.
class TBevel : public TGraphicControl {
public:
    explicit TBevel(TWinControl& AOwner);
    void Paint(HDC ADC, const RECT& ABox) override;
};
