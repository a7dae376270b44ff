#include "platform/Controls.h"

#include <windowsx.h>

#include <cwchar>
#include <iterator>
#include <stdexcept>

namespace {

void FillPixels(HDC ADC, int ALeft, int ATop, int ARight, int ABottom, COLORREF AColor) {
    if (ARight <= ALeft || ABottom <= ATop)
        return;
    // ExtTextOut with an opaque rectangle fills without creating a brush.
    const RECT area{ALeft, ATop, ARight, ABottom};
    SetBkColor(ADC, AColor);
    ExtTextOutW(ADC, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
}

// A panel bevel: the top and left lines in ATop, the right and bottom lines in ABottom, the
// bottom line running under the left one.
void Frame3D(HDC ADC, const RECT& ARect, COLORREF ATop, COLORREF ABottom) {
    const int r = ARect.right - 1, b = ARect.bottom - 1;
    FillPixels(ADC, ARect.left, ARect.top, r, ARect.top + 1, ATop);
    FillPixels(ADC, ARect.left, ARect.top + 1, ARect.left + 1, b, ATop);
    FillPixels(ADC, r, ARect.top, r + 1, b, ABottom);
    FillPixels(ADC, ARect.left, b, r + 1, b + 1, ABottom);
}

void RegisterPanelClass(WNDPROC AWindowProc) {
    static const bool registered = [AWindowProc] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = AWindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = PanelClassName;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    (void)registered;
}

void InitCommonControlsOnce() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
        return InitCommonControlsEx(&controls) != 0;
    }();
    (void)done;
}

} // namespace

// ---- TControl ----------------------------------------------------------------------------

TControl::TControl(TWinControl* AOwner) : FParent(AOwner) {}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight)
        return;
    Invalidate();
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    Invalidate();
    if (FShowHint && FParent)
        FParent->HintChanged(*this);
}

void TControl::SetHint(const std::wstring& AHint) {
    if (AHint == FHint)
        return;
    FHint = AHint;
    if (FShowHint && FParent)
        FParent->HintChanged(*this);
}

void TControl::SetShowHint(bool AShow) {
    if (AShow == FShowHint)
        return;
    FShowHint = AShow;
    if (FParent)
        FParent->HintChanged(*this);
}

void TGraphicControl::Invalidate() {
    if (!Parent())
        return;
    if (HWND parent = Parent()->Handle()) {
        const RECT box = BoundsRect();
        InvalidateRect(parent, &box, FALSE);
    }
}

// ---- TWinControl -------------------------------------------------------------------------

TWinControl::~TWinControl() {
    FControls.clear();
    DestroyHandle();
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (HWND window = Handle())
        MoveWindow(window, FLeft, FTop, FWidth, FHeight, TRUE);
}

void TWinControl::Invalidate() {
    if (HWND window = Handle())
        InvalidateRect(window, nullptr, FALSE);
}

void TWinControl::DestroyHandle() {
    if (HWND window = Handle())
        DestroyWindow(window);
    WindowGone();
}

void TWinControl::AttachStockWindow(HWND AWindow) {
    FHandle.store(AWindow, std::memory_order_release);
    SetWindowSubclass(AWindow, StockSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TWinControl::StockSubclassProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                                LPARAM ALParam, UINT_PTR AId, DWORD_PTR AData) {
    if (AMessage == WM_NCDESTROY) {
        reinterpret_cast<TWinControl*>(AData)->WindowGone();
        RemoveWindowSubclass(AWindow, StockSubclassProc, AId);
    }
    return DefSubclassProc(AWindow, AMessage, AWParam, ALParam);
}

// ---- TPanel ------------------------------------------------------------------------------

TPanel::TPanel() : TWinControl(nullptr) {
    FWidth = 185;
    FHeight = 41;
}

TPanel::~TPanel() {
    DestroyHintWindow();
    // Cut the window off from this object first: WM_DESTROY must not reach a half-destroyed one.
    if (HWND window = Handle()) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    WindowGone();
}

void TPanel::SetParentWindow(HWND AParent) {
    RegisterPanelClass(&TPanel::WindowProc);
    InitCommonControlsOnce();
    FParentWindow = AParent;
    HWND window = CreateWindowExW(0, PanelClassName, L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, FLeft,
                                  FTop, FWidth, FHeight, AParent, nullptr, ThisModule(), this);
    if (!window)
        throw std::runtime_error("the panel window could not be created");
}

void TPanel::SetBorderWidth(int AWidth) {
    if (AWidth != FBorderWidth) {
        FBorderWidth = AWidth;
        Invalidate();
    }
}

void TPanel::SetBevelInner(TBevelCut ACut) {
    if (ACut != FBevelInner) {
        FBevelInner = ACut;
        Invalidate();
    }
}

void TPanel::SetBevelOuter(TBevelCut ACut) {
    if (ACut != FBevelOuter) {
        FBevelOuter = ACut;
        Invalidate();
    }
}

LRESULT CALLBACK TPanel::WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_NCCREATE) {
        auto self = static_cast<TPanel*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->FHandle.store(AWindow, std::memory_order_release);
    }
    auto self = reinterpret_cast<TPanel*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    if (AMessage == WM_NCDESTROY) {
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
        self->WindowGone();
        return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    }
    try {
        return self->HandleMessage(AMessage, AWParam, ALParam);
    } catch (...) {
        // Nothing may unwind into the system's message dispatch.
        return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    }
}

LRESULT TPanel::HandleMessage(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    const HWND window = Handle();
    switch (AMessage) {
    case WM_PAINT:
        WMPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT paints every pixel
    case WM_TIMER:
        WMTimer(AWParam);
        return 0;
    case WM_DESTROY:
        DefWindowProcW(window, AMessage, AWParam, ALParam);
        DestroyHintWindow();
        WMDestroy();
        return 0;
    case WM_MOUSEMOVE:
        MouseMoveAt(GET_X_LPARAM(ALParam), GET_Y_LPARAM(ALParam));
        return 0;
    case WM_LBUTTONDOWN:
        MouseDownAt(GET_X_LPARAM(ALParam), GET_Y_LPARAM(ALParam));
        return 0;
    case WM_LBUTTONUP:
        MouseUpAt(GET_X_LPARAM(ALParam), GET_Y_LPARAM(ALParam));
        return 0;
    case WM_CAPTURECHANGED:
        FCaptured = nullptr;
        return 0;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(AWParam) == window && LOWORD(ALParam) == HTCLIENT &&
            SetCursorForPoint())
            return TRUE;
        break;
    case WM_COMMAND:
        if (TWinControl* child = ChildWindowControl(reinterpret_cast<HWND>(ALParam)))
            child->CommandNotify(HIWORD(AWParam));
        return 0;
    case WM_VSCROLL:
        if (TWinControl* child = ChildWindowControl(reinterpret_cast<HWND>(ALParam)))
            child->ScrollNotify(LOWORD(AWParam));
        return 0;
    }
    if (AMessage >= WM_APP && AMessage <= 0xBFFF && WMApp(AMessage))
        return 0;
    return DefWindowProcW(window, AMessage, AWParam, ALParam);
}

void TPanel::WMPaint() {
    FPaintCount.fetch_add(1, std::memory_order_relaxed);
    const HWND window = Handle();
    TPaintDC paint(window);
    const RECT area = paint.Area();
    RECT client{};
    GetClientRect(window, &client);
    if (IsRectEmpty(&area) || IsRectEmpty(&client))
        return;

    // Compose off screen so that labels drawn over the picture never flicker.
    if (!FSurfaceDC || FSurfaceSize.cx != client.right || FSurfaceSize.cy != client.bottom) {
        FSurfaceDC.Reset();
        FSurface.Reset(CreateCompatibleBitmap(paint.Get(), client.right, client.bottom));
        if (FSurface)
            FSurfaceDC = TBitmapDC(paint.Get(), FSurface.Get());
        if (!FSurfaceDC)
            return;
        FSurfaceSize = {client.right, client.bottom};
    }
    const HDC dc = FSurfaceDC.Get();
    // Paint only what is invalid; the rest of the surface keeps what it had.
    const int clip = SaveDC(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);

    FillPixels(dc, 0, 0, client.right, client.bottom, ColorToRGB(FColor));
    PaintBevels(dc);
    for (const auto& control : Controls()) {
        auto graphic = dynamic_cast<TGraphicControl*>(control.get());
        RECT box = graphic ? graphic->BoundsRect() : RECT{};
        RECT overlap;
        if (!graphic || !IntersectRect(&overlap, &box, &area))
            continue;
        const int saved = SaveDC(dc);
        SetViewportOrgEx(dc, box.left, box.top, nullptr);
        IntersectClipRect(dc, 0, 0, graphic->Width(), graphic->Height());
        graphic->Paint(dc, RECT{0, 0, graphic->Width(), graphic->Height()});
        RestoreDC(dc, saved);
    }
    RestoreDC(dc, clip);
    BitBlt(paint.Get(), area.left, area.top, area.right - area.left, area.bottom - area.top, dc,
           area.left, area.top, SRCCOPY);
}

void TPanel::PaintBevels(HDC ADC) const {
    RECT rect{0, 0, FWidth, FHeight};
    const COLORREF shadow = ColorToRGB(clBtnShadow), highlight = ColorToRGB(clBtnHighlight);
    auto frame = [&](TBevelCut ACut) {
        if (ACut == TBevelCut::bvNone)
            return;
        for (int i = 0; i < FBevelWidth; ++i) {
            const bool lowered = ACut == TBevelCut::bvLowered;
            Frame3D(ADC, rect, lowered ? shadow : highlight, lowered ? highlight : shadow);
            InflateRect(&rect, -1, -1);
        }
    };
    frame(FBevelOuter);
    InflateRect(&rect, -FBorderWidth, -FBorderWidth);
    frame(FBevelInner);
}

TGraphicControl* TPanel::GraphicControlAt(int X, int Y) const {
    const POINT point{X, Y};
    for (auto it = Controls().rbegin(); it != Controls().rend(); ++it) {
        auto graphic = dynamic_cast<TGraphicControl*>(it->get());
        const RECT box = graphic ? graphic->BoundsRect() : RECT{};
        if (graphic && PtInRect(&box, point))
            return graphic;
    }
    return nullptr;
}

TWinControl* TPanel::ChildWindowControl(HWND AWindow) const {
    if (!AWindow)
        return nullptr;
    for (const auto& control : Controls())
        if (auto windowed = dynamic_cast<TWinControl*>(control.get());
            windowed && windowed->Handle() == AWindow)
            return windowed;
    return nullptr;
}

void TPanel::MouseMoveAt(int X, int Y) {
    TControl* target = FCaptured ? FCaptured : GraphicControlAt(X, Y);
    if (target)
        target->MouseMove(X - target->Left(), Y - target->Top());
}

void TPanel::MouseDownAt(int X, int Y) {
    if (TGraphicControl* target = GraphicControlAt(X, Y)) {
        SetCapture(Handle());
        FCaptured = target;
    }
}

void TPanel::MouseUpAt(int X, int Y) {
    TControl* target = FCaptured;
    if (!target)
        return;
    FCaptured = nullptr;
    if (GetCapture() == Handle())
        ReleaseCapture();
    const RECT box = target->BoundsRect();
    if (PtInRect(&box, POINT{X, Y}))
        target->Click();
}

bool TPanel::SetCursorForPoint() {
    POINT point{};
    if (!GetCursorPos(&point) || !ScreenToClient(Handle(), &point))
        return false;
    TControl* target = FCaptured ? FCaptured : GraphicControlAt(point.x, point.y);
    const bool hand = target && target->Cursor() == TCursor::crHandPoint;
    ::SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
    return true;
}

void TPanel::DestroyHintWindow() {
    // Only the panel thread, which made it, can destroy it; elsewhere it is already gone with
    // the panel's window.
    if (FHintWindow && GetWindowThreadProcessId(FHintWindow, nullptr) == GetCurrentThreadId())
        DestroyWindow(FHintWindow);
    FHintWindow = nullptr;
}

void TPanel::HintChanged(TControl& AControl) {
    const HWND window = Handle();
    if (!window)
        return;
    if (!FHintWindow) {
        if (!AControl.ShowHint())
            return;
        // A popup's owner is always a top-level window, so the system makes the chart's
        // top-level ancestor its owner, not the panel: the panel destroys it itself, with its
        // own window (WM_DESTROY), or its fonts and memory stay behind for every panel life.
        FHintWindow =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, ThisModule(), nullptr);
        if (!FHintWindow)
            return;
        SendMessageW(FHintWindow, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(500, 0));
        SendMessageW(FHintWindow, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(2500, 0));
    }
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(&AControl);
    tool.rect = AControl.BoundsRect();
    tool.lpszText = const_cast<wchar_t*>(AControl.Hint().c_str());
    SendMessageW(FHintWindow, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (AControl.ShowHint())
        SendMessageW(FHintWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool IsPanelWindow(HWND AWindow) {
    wchar_t name[std::size(PanelClassName) + 1] = {};
    return GetClassNameW(AWindow, name, int(std::size(name))) && wcscmp(name, PanelClassName) == 0;
}

// ---- TEdit -------------------------------------------------------------------------------

TEdit::TEdit(TWinControl& AOwner) : TWinControl(&AOwner) {
    FWidth = 121;
    FHeight = 21;
    HWND window =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 0, 0, FWidth,
                        FHeight, AOwner.Handle(), nullptr, ThisModule(), nullptr);
    if (!window)
        throw std::runtime_error("a text field could not be created");
    AttachStockWindow(window);
    SendMessageW(window, EM_SETLIMITTEXT, 0, 0); // no limit on what may be typed
    FFont.OnChange = [this] { FontChanged(); };
    FontChanged();
}

void TEdit::FontChanged() {
    HWND window = Handle();
    if (!window)
        return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), TRUE);
    // Narrow fields need every pixel: the margins Windows gives small fonts, not Wine's wider ones.
    SendMessageW(window, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(1, 1));
    const int height = LineHeightOf(FFont.Handle()) + 8 * GetSystemMetrics(SM_CYBORDER);
    SetBounds(FLeft, FTop, FWidth, height);
}

void TEdit::SetText(const std::wstring& AText) {
    if (HWND window = Handle())
        SetWindowTextW(window, AText.c_str());
    MirrorText();
}

void TEdit::MirrorText() {
    std::wstring text;
    if (HWND window = Handle()) {
        text.resize(static_cast<size_t>(GetWindowTextLengthW(window)) + 1);
        text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    }
    if (FTextMirror.Set(text))
        TextMirrored(text);
}

void TEdit::CommandNotify(int ACode) {
    if (ACode == EN_CHANGE) {
        MirrorText();
    } else if (ACode == EN_SETFOCUS && GetKeyState(VK_LBUTTON) >= 0) {
        // Focus by keyboard selects the whole value, ready to be typed over.
        SendMessageW(Handle(), EM_SETSEL, 0, -1);
    }
}

// ---- TUpDown -----------------------------------------------------------------------------

TUpDown::TUpDown(TWinControl& AOwner) : TWinControl(&AOwner) {
    FWidth = GetSystemMetrics(SM_CXVSCROLL);
    FHeight = 25;
    InitCommonControlsOnce();
    HWND window = CreateWindowExW(0, UPDOWN_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, FWidth,
                                  FHeight, AOwner.Handle(), nullptr, ThisModule(), nullptr);
    if (!window)
        throw std::runtime_error("arrow buttons could not be created");
    AttachStockWindow(window);
    SendMessageW(window, UDM_SETRANGE32, FMin, FMax);
    SendMessageW(window, UDM_SETPOS32, 0, FPosition);
}

void TUpDown::SetMax(int AMax) {
    FMax = AMax;
    if (HWND window = Handle())
        SendMessageW(window, UDM_SETRANGE32, FMin, FMax);
}

void TUpDown::SetPosition(int APosition) {
    FPosition = APosition < FMin ? FMin : APosition > FMax ? FMax : APosition;
    if (HWND window = Handle())
        SendMessageW(window, UDM_SETPOS32, 0, FPosition);
}

void TUpDown::SetAssociate(TWinControl* ABuddy) {
    FAssociate = ABuddy;
    if (ABuddy)
        SetBounds(ABuddy->Left() + ABuddy->Width(), ABuddy->Top(), FWidth, ABuddy->Height());
}

void TUpDown::ScrollNotify(int ACode) {
    // The control notifies every press, also one at a limit that moved nothing; only a real
    // move of the counter is a press worth reporting.
    if (ACode != SB_THUMBPOSITION)
        return;
    const int position = static_cast<int>(SendMessageW(Handle(), UDM_GETPOS32, 0, 0));
    if (position == FPosition)
        return;
    const TUDBtnType button = position > FPosition ? TUDBtnType::btNext : TUDBtnType::btPrev;
    FPosition = position;
    if (OnClick)
        OnClick(button);
}

// ---- TLabel ------------------------------------------------------------------------------

TLabel::TLabel(TWinControl& AOwner) : TGraphicControl(&AOwner) {
    FWidth = 65;
    FHeight = 17;
    FFont.OnChange = [this] {
        AdjustSize();
        Invalidate();
    };
}

bool TLabel::SetCaption(const std::wstring& ACaption) {
    if (!FCaption.Set(ACaption))
        return false;
    AdjustSize();
    Invalidate();
    return true;
}

void TLabel::SetAutoSize(bool AAutoSize) {
    if (AAutoSize == FAutoSize)
        return;
    FAutoSize = AAutoSize;
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!FAutoSize)
        return;
    std::wstring text = Caption();
    if (text.empty())
        text = L" "; // an empty label keeps the height of a line
    const SIZE drawn = DrawnTextSize(FFont.HandleFor(TextStyle()), text);
    SetBounds(FLeft, FTop, drawn.cx, drawn.cy);
}

void TLabel::Paint(HDC ADC, const RECT& ABox) {
    if (!FTransparent)
        FillPixels(ADC, ABox.left, ABox.top, ABox.right, ABox.bottom,
                   ColorToRGB(Parent() ? Parent()->Color() : clBtnFace));
    TSelectObject select(ADC, FFont.HandleFor(TextStyle()));
    SetBkMode(ADC, TRANSPARENT);
    SetTextColor(ADC, ColorToRGB(TextColor()));
    UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_TOP;
    format |= FAlignment == TAlignment::taCenter         ? DT_CENTER
              : FAlignment == TAlignment::taRightJustify ? DT_RIGHT
                                                         : DT_LEFT;
    RECT box = ABox;
    FCaption.With([&](std::wstring_view AText) {
        DrawTextW(ADC, AText.data(), int(AText.size()), &box, format);
    });
}

// ---- TImage, TBevel ----------------------------------------------------------------------

TImage::TImage(TWinControl& AOwner) : TGraphicControl(&AOwner) {
    FWidth = 105;
    FHeight = 105;
}

void TImage::SetGraphic(const TGraphic& AGraphic) {
    auto copy = AGraphic.NewOfSameClass();
    copy->Assign(AGraphic);
    FGraphic = std::move(copy);
    Invalidate();
}

void TImage::Paint(HDC ADC, const RECT& /*ABox*/) {
    if (FGraphic)
        FGraphic->Draw(ADC, RECT{0, 0, FGraphic->Width(), FGraphic->Height()});
}

TBevel::TBevel(TWinControl& AOwner) : TGraphicControl(&AOwner) {
    FWidth = 50;
    FHeight = 50;
}

void TBevel::Paint(HDC ADC, const RECT& ABox) {
    const COLORREF shadow = ColorToRGB(clBtnShadow), highlight = ColorToRGB(clBtnHighlight);
    const int r = ABox.right - 1, b = ABox.bottom - 1;
    FillPixels(ADC, ABox.left, ABox.top + 1, ABox.left + 1, b + 1, shadow); // left, below the top
    FillPixels(ADC, ABox.left, ABox.top, r, ABox.top + 1, shadow);          // top, up to the right
    FillPixels(ADC, r, ABox.top, r + 1, b, highlight);          // right, above the bottom
    FillPixels(ADC, ABox.left + 1, b, r + 1, b + 1, highlight); // bottom, after the left
}
