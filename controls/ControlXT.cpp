#include "controls/ControlXT.h"

#include <shellapi.h>

#include <algorithm>
#include <iterator>
#include <mutex>

#include "SiteConfig.h"
#include "controls/ChartNames.h"
#include "controls/VClExt.h"

namespace {

// Panels are laid out one at a time: under Wine, two panel threads laying out at once corrupt the
// heap inside GDI. Only panel threads take it, while a panel creates and measures its own
// controls, which waits for no other thread, never while the panel's window is made on the
// chart. The host's threads never take it, so none of theirs can be killed holding it.
TCriticalSection LayoutLock;

} // namespace

// ---- TEditXT -----------------------------------------------------------------------------

TEditXT::TEditXT(TWinControl& AOwner) : TEdit(AOwner) {
    ApplyStandardFont(Font());
}

void TEditXT::Setup(int ADigits, double AValue) {
    FDigits = ADigits;
    FUpDown = &Parent()->Add<TUpDown>();
    FUpDown->SetAssociate(this);
    AttachUpDown(*FUpDown);
    SetValue(AValue);
}

void TEditXT::AttachUpDown(TUpDown& AUpDown) {
    const int width = AUpDown.Width(), height = AUpDown.Height();
    AUpDown.SetAssociate(nullptr);
    AUpDown.OnClick = [this](TUDBtnType AButton) { UpDownClick(AButton); };
    AUpDown.SetMax(32767);
    AUpDown.SetPosition(AUpDown.Max() / 2);
    AUpDown.SetBounds(AUpDown.Left(), AUpDown.Top(), width, height);
}

void TEditXT::TextMirrored(std::wstring_view AText) {
    const double value = ExchangeValueOf(AText);
    FValue.store(value, std::memory_order_release);
    if (FPublished)
        FPublished->store(value);
}

void TEditXT::SetValue(double AValue) {
    SetText(FormatFixed(AValue, FDigits));
}

void TEditXT::UpDownClick(TUDBtnType AButton) {
    SetValue(WithText([&](std::wstring_view AText) {
        return ValueAfterPress(AText, FDigits,
                               AButton == TUDBtnType::btNext ? TStepDirection::sdUp
                                                             : TStepDirection::sdDown);
    }));
}

// ---- TLabelXT ----------------------------------------------------------------------------

TLabelXT::TLabelXT(TWinControl& AOwner) : TLabel(AOwner) {
    SetAutoSize(false);
    SetTransparent(true);
    SetAlignment(TAlignment::taCenter);
    ApplyStandardFont(Font());
    SetMainColor(clWhite, true);
}

void TLabelXT::SetMainColor(TColor AColor, bool ABold) {
    FMainColor = AColor;
    Font().SetColor(AColor);
    SetBold(Font(), ABold);
}

void TLabelXT::SetClicked(bool AClicked) {
    const std::uint64_t now = GetTickCount64();
    const bool was = AClicked ? FLatch->Set(now) : FLatch->Take(now);
    if (was != AClicked)
        Invalidate();
}

bool TLabelXT::Clicked() const {
    return FLatch->IsSet(GetTickCount64());
}

void TLabelXT::DropStaleClick() {
    if (FLatch->DropStale(GetTickCount64()))
        Invalidate(); // back to the main colour
}

void TLabelXT::LabelClick() {
    SetClicked(true);
}

bool TLabelXT::ConsumeClick() {
    POINT cursor{};
    POINT origin{0, 0};
    HWND parent = Parent() ? Parent()->Handle() : nullptr;
    if (!parent || !GetCursorPos(&cursor) || !ClientToScreen(parent, &origin))
        return ConsumeClick(POINT{-0x8000, -0x8000});
    return ConsumeClick(POINT{cursor.x - origin.x, cursor.y - origin.y});
}

bool TLabelXT::ConsumeClick(POINT ACursorInParent) {
    const std::uint64_t now = GetTickCount64();
    const bool dropped = FLatch->DropStale(now);
    const bool clicked = FLatch->Take(now);
    if (clicked || dropped)
        Invalidate(); // back to the main colour
    ApplyHoverRule(ACursorInParent.x - Left(), ACursorInParent.y - Top());
    return clicked;
}

void TLabelXT::ShowExchanged(POINT ACursorInParent) {
    if (FPaintedClicked.load() && !Clicked())
        Invalidate(); // taken by an exchange: back to the main colour
    ApplyHoverRule(ACursorInParent.x - Left(), ACursorInParent.y - Top());
}

void TLabelXT::MakeLink(const std::wstring& ACaption, const std::wstring& AHint) {
    SetCursor(TCursor::crHandPoint);
    OnClick = [this] { LabelClick(); };
    OnMouseMove = [this](int X, int Y) { LabelMouseMove(X, Y); };
    SetCaption(ACaption);
    SetHint(AHint);
    SetShowHint(IsNotBlank(AHint));
}

void TLabelXT::LabelMouseMove(int X, int Y) {
    ApplyHoverRule(X, Y);
}

void TLabelXT::ApplyHoverRule(int X, int Y) {
    const bool inside = InHoverZone(X, Y, Width(), Height());
    if (FUnderline.exchange(inside, std::memory_order_acq_rel) != inside)
        Invalidate();
}

TColor TLabelXT::TextColor() const {
    const bool clicked = Clicked();
    FPaintedClicked.store(clicked);
    return clicked ? clClicked : Font().Color();
}

TFontStyles TLabelXT::TextStyle() const {
    const TFontStyles style = Font().Style() & ~TFontStyles(fsUnderline);
    return Underlined() ? style | fsUnderline : style;
}

// ---- TBitmapXT ---------------------------------------------------------------------------

TBitmapXT::TBitmapXT() {
    SetIgnorePalette(true);
}

void TBitmapXT::Draw(HDC ADestination, const RECT& ARect) {
    if (Empty())
        return;
    TCanvas& canvas = Canvas();
    std::lock_guard lock(canvas);
    if (HDC source = canvas.Handle())
        BitBlt(ADestination, 0, 0, ARect.right, ARect.bottom, source, 0, 0, SRCCOPY);
}

std::unique_ptr<TGraphic> TBitmapXT::NewOfSameClass() const {
    return std::make_unique<TBitmapXT>();
}

// ---- TPanelXT ----------------------------------------------------------------------------

namespace {

void ShellOpenWebLink(HWND AOwner, const wchar_t* ALink) {
    ShellExecuteW(AOwner, L"open", ALink, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace

TOpenWebLink OpenWebLink = ShellOpenWebLink;

std::wstring PoweredByCaption() {
    return std::wstring(L"Powered by ") + PELLITH_SITE;
}

std::wstring PoweredByLink() {
    return std::wstring(L"http://") + PELLITH_SITE + L"/?adid=plt09";
}

TPanelXT::TPanelXT(TExchangeState* AShared)
    : FOwnShared(AShared ? nullptr : std::make_unique<TExchangeState>()),
      FShared(AShared ? AShared : FOwnShared.get()),
      FMsg(RegisterWindowMessageA(ChartNames::TerminalMessage)) {}

TLabel& TPanelXT::AddCaption(const std::wstring& AText) {
    TLabel& label = Add<TLabel>();
    label.SetCaption(AText);
    ApplyStandardFont(label.Font());
    SetBold(label.Font(), true);
    return label;
}

TImage& TPanelXT::AddImage(const TBitmapXT& ABitmap, int ATop) {
    TImage& image = Add<TImage>();
    image.SetGraphic(ABitmap);
    image.SetBounds(BorderWidth() + 1, ATop, ABitmap.Width(), ABitmap.Height());
    return image;
}

void TPanelXT::Build(HWND AChart, const TTerminalData& AData, const TBitmapXT& ABitmap) {
    SetParentWindow(AChart);
    SetBorderWidth(PanelBorderWidth);
    SetBevelInner(TBevelCut::bvLowered);
    SetBevelOuter(TBevelCut::bvNone);
    SetBounds(PanelLeft, PanelTop, PanelWidth, PanelHeight);
    std::lock_guard layout(LayoutLock);
    CreateControls(AData, ABitmap);
}

void TPanelXT::CreateControls(const TTerminalData& AData, const TBitmapXT& ABitmap) {
    TLabel& symbol = AddCaption(AData.Symbol());
    symbol.Font().SetSize(symbol.Font().Size() + 2);
    symbol.Font().SetColor(clBlue);
    symbol.SetBounds(10, 7, symbol.Width(), symbol.Height());

    TLabel& version = AddCaption(L"PLT v0.9");
    version.SetBounds(145, 6, version.Width(), version.Height());

    TBevel& separator = Add<TBevel>();
    const int margin = symbol.Left() - 1;
    separator.SetBounds(margin, BottomOf(symbol) + 2, ClientWidth() - 2 * margin, 2);

    edtLot = &Add<TEditXT>();
    edtLot->SetBounds(45, BottomOf(separator) + 6, 35, edtLot->Height());
    edtLot->PublishTo(FShared->Fields[esLots]);
    edtLot->Setup(2, AData.Lots());

    TLabel& lotCaption = AddCaption(L"Lots:");
    lotCaption.SetBounds(symbol.Left(), edtLot->Top() + 2, lotCaption.Width(), lotCaption.Height());

    edtSL = &Add<TEditXT>();
    edtSL->SetBounds(edtLot->Left(), BottomOf(*edtLot) + 6, edtLot->Width(), edtSL->Height());
    edtSL->PublishTo(FShared->Fields[esStopLoss]);
    edtSL->Setup(1, AData.StopLossPips());

    TLabel& slCaption = AddCaption(L"S/L:");
    slCaption.SetBounds(symbol.Left(), edtSL->Top() + 2, slCaption.Width(), slCaption.Height());

    edtTS = &Add<TEditXT>();
    edtTS->SetBounds(146, edtLot->Top(), edtLot->Width(), edtTS->Height());
    edtTS->PublishTo(FShared->Fields[esTrailingStop]);
    edtTS->Setup(1, AData.TrailStopStartPips());

    TLabel& tsCaption = AddCaption(L"T/S:");
    tsCaption.SetBounds(115, lotCaption.Top(), tsCaption.Width(), tsCaption.Height());

    edtTP = &Add<TEditXT>();
    edtTP->SetBounds(edtTS->Left(), edtSL->Top(), edtTS->Width(), edtTP->Height());
    edtTP->PublishTo(FShared->Fields[esTakeProfit]);
    edtTP->Setup(1, AData.TakeProfitPips());

    TLabel& tpCaption = AddCaption(L"T/P:");
    tpCaption.SetBounds(tsCaption.Left(), slCaption.Top(), tpCaption.Width(), tpCaption.Height());

    TImage& image = AddImage(ABitmap, BottomOf(*edtSL) + 7);

    lblCenter = &Add<TLabelXT>();
    lblCenter->Font().SetColor(clGray);
    lblCenter->SetCaption(AData.Spread());
    lblCenter->SetBounds(image.Left() + 73, image.Top() + 3, 53, lblCenter->Height());

    lblLeft = &Add<TLabelXT>();
    lblLeft->ShareLatch(FShared->Sell);
    lblLeft->MakeLink(AData.Bid(), L"Sell at market");
    lblLeft->SetBounds(image.Left() + 2, image.Top() + 29, 93, lblLeft->Height());

    lblRight = &Add<TLabelXT>();
    lblRight->ShareLatch(FShared->Buy);
    lblRight->MakeLink(AData.Ask(), L"Buy at market");
    lblRight->SetBounds(image.Left() + 105, lblLeft->Top(), lblLeft->Width(), lblRight->Height());

    lblPowered = &Add<TLabelXT>();
    lblPowered->SetMainColor(clGray, false);
    lblPowered->ShareLatch(FShared->Link);
    lblPowered->MakeLink(PoweredByCaption(), L"");
    lblPowered->SetBounds(image.Left(), BottomOf(image) + 3, image.Width(), lblPowered->Height());
}

POINT TPanelXT::CursorInClient() const {
    POINT cursor{};
    POINT origin{0, 0};
    HWND window = Handle();
    if (!window || !GetCursorPos(&cursor) || !ClientToScreen(window, &origin))
        return POINT{-0x8000, -0x8000}; // nowhere near a label
    return POINT{cursor.x - origin.x, cursor.y - origin.y};
}

TExchangeResult TPanelXT::UpdateTerminal(const TTerminalData* AData, double* AMemory) {
    if (!lblLeft)
        return erNothing; // not laid out: nothing to exchange
    const TTakenExchange taken = TakeExchange(*FShared, GetTickCount64());
    // The cursor is read once for the three labels: each read costs a round trip to the system.
    const POINT cursor = CursorInClient();
    for (TLabelXT* label : {lblLeft, lblRight, lblPowered})
        label->ShowExchanged(cursor);
    if (taken.OpenLink)
        OpenWebLink(Handle(), PoweredByLink().c_str());
    if (AData) {
        lblLeft->SetCaption(AData->Bid());
        lblRight->SetCaption(AData->Ask());
        lblCenter->SetCaption(AData->Spread());
        if (AMemory)
            std::copy(std::begin(taken.Values), std::end(taken.Values), AMemory);
    }
    return taken.Result;
}

void TPanelXT::ShowExchanged() {
    if (!lblLeft)
        return;
    // Cleared before looking: an exchange that comes meanwhile asks again.
    FShared->WakeAsked.store(false);
    const std::uint64_t version = FShared->QuoteVersion.load();
    if (version != FShownQuote) {
        FShownQuote = version;
        const TPanelQuote quote = FShared->LoadQuote();
        lblLeft->SetCaption(FormatFixed(quote.Bid, quote.Digits));
        lblRight->SetCaption(FormatFixed(quote.Ask, quote.Digits));
        lblCenter->SetCaption(FormatFixed(quote.Spread, 1));
    }
    const POINT cursor = CursorInClient();
    for (TLabelXT* label : {lblLeft, lblRight, lblPowered})
        label->ShowExchanged(cursor);
}

bool TPanelXT::WMApp(UINT AMessage) {
    if (AMessage != WM_XTWAKE)
        return false;
    ShowExchanged();
    return true;
}

void TPanelXT::WMTimer(WPARAM /*ATimerId*/) {
    // A click that no exchange took in time is gone: the label shows its main colour again.
    for (TLabelXT* label : {lblLeft, lblRight, lblPowered})
        if (label)
            label->DropStaleClick();
    // An exchange killed between asking and posting, or whose post failed, is caught up here.
    if (FShared->WakeAsked.load())
        ShowExchanged();
    if (FMsg == 0)
        return;
    if (PostMessageA(ParentWindow(), FMsg, 2, 1))
        FMsg = 0;
}

void TPanelXT::WMDestroy() {
    // The property that leads from the window to this object goes with the window's life.
    RemovePropA(Handle(), ChartNames::ContainerProperty);
    PostMessageA(nullptr, WM_QUIT, 0, 0);
}
