#include "terminal/ChartHost.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr wchar_t ChartClassName[] = L"PellithStandInChart";
constexpr wchar_t DispatcherClassName[] = L"PellithStandInChartThread";
constexpr wchar_t FrameClassName[] = L"PellithStandInTerminal";

// Posted to the dispatcher window: run one request (lParam owns a shared_ptr to it), or end.
constexpr UINT WM_RUN_REQUEST = WM_APP + 1;
constexpr UINT WM_END_THREAD = WM_APP + 2;

// Charts have a caption but no system menu: the terminal window closes them all.
constexpr DWORD ChartStyle = WS_CHILD | WS_VISIBLE | WS_CAPTION | WS_THICKFRAME | WS_CLIPSIBLINGS;

HINSTANCE ThisInstance() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

std::wstring PriceText(double price, int digits) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, price, std::chars_format::fixed,
                                   std::clamp(digits, 0, 10))
                         .ptr;
    return std::wstring(buffer, end);
}

void PaintText(HDC ADC, int x, int y, const std::wstring& text, COLORREF colour) {
    SetTextColor(ADC, colour);
    TextOutW(ADC, x, y, text.c_str(), static_cast<int>(text.size()));
}

int TextWidth(HDC ADC, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(ADC, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void HorizontalLine(HDC ADC, int left, int right, int y, COLORREF colour, int style) {
    TUniqueHandle<HPEN, CloseGdiObject> pen(CreatePen(style, 1, colour));
    TSelectObject selected(ADC, pen.Get());
    MoveToEx(ADC, left, y, nullptr);
    LineTo(ADC, right, y);
}

} // namespace

struct TChartHost::TChart {
    TChartHost* Host = nullptr;
    std::wstring Title;
    // Below: written on the chart thread, read anywhere, under Host->FLock.
    HWND Window = nullptr;
    TChartPicture Picture;
    std::vector<TRegisteredPost> Posts;
    bool CloseRequested = false;
    bool Destroyed = false;
};

struct TChartHost::TRequest {
    std::function<void()> Work;
    TKernelHandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::exception_ptr Error;
};

TChartHost::TChartHost(const TTerminalOptions& AOptions)
    : FRegisteredMessage(RegisterWindowMessageA(ChartNames::TerminalMessage)) {
    TKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        throw std::runtime_error("cannot create an event: " + std::to_string(GetLastError()));
    FThread = std::thread(&TChartHost::ThreadMain, this, ready.Get(), AOptions);
    // The chart thread sets the event once it pumps, or when it gave up.
    const bool started = WaitHandlingSentMessages(ready.Get(), RequestDeadline);
    if (!started || !FDispatcher || !FFrame) {
        if (FDispatcher)
            PostMessageW(FDispatcher, WM_END_THREAD, 0, 0);
        if (started)
            FThread.join();
        else
            FThread.detach();
        throw std::runtime_error("the chart thread did not start");
    }
}

TChartHost::~TChartHost() {
    PostMessageW(FDispatcher, WM_END_THREAD, 0, 0);
    FThread.join();
}

void TChartHost::ThreadMain(HANDLE AReady, TTerminalOptions AOptions) {
    // Runs on the chart thread: everything below that touches windows belongs to it.
    FThreadId = GetCurrentThreadId();
    WNDCLASSEXW chartClass{};
    chartClass.cbSize = sizeof chartClass;
    chartClass.style = CS_HREDRAW | CS_VREDRAW;
    chartClass.lpfnWndProc = ChartProc;
    chartClass.hInstance = ThisInstance();
    chartClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_CROSS));
    chartClass.lpszClassName = ChartClassName;
    WNDCLASSEXW dispatcherClass{};
    dispatcherClass.cbSize = sizeof dispatcherClass;
    dispatcherClass.lpfnWndProc = DispatcherProc;
    dispatcherClass.hInstance = ThisInstance();
    dispatcherClass.lpszClassName = DispatcherClassName;
    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = ThisInstance();
    frameClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    frameClass.lpszClassName = FrameClassName;
    // A second host in the same process finds the classes registered already; that is fine.
    RegisterClassExW(&chartClass);
    RegisterClassExW(&dispatcherClass);
    RegisterClassExW(&frameClass);

    FFont.Reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
    HWND dispatcher = CreateWindowExW(0, DispatcherClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, ThisInstance(), this);
    constexpr DWORD FrameStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE;
    RECT frameRect{0, 0, AOptions.ClientWidth, AOptions.ClientHeight};
    AdjustWindowRectEx(&frameRect, FrameStyle, FALSE, 0);
    HWND frame =
        CreateWindowExW(0, FrameClassName, AOptions.Title.c_str(), FrameStyle, AOptions.Left,
                        AOptions.Top, frameRect.right - frameRect.left,
                        frameRect.bottom - frameRect.top, nullptr, nullptr, ThisInstance(), this);
    FDispatcher = dispatcher;
    FFrame = frame;
    SetEvent(AReady);
    if (!dispatcher || !frame) {
        if (frame)
            DestroyWindow(frame);
        if (dispatcher)
            DestroyWindow(dispatcher);
        return;
    }
    UpdateWindow(frame);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    for (HWND chart : Charts())
        DestroyWindow(chart);
    DestroyWindow(frame);
    DestroyWindow(dispatcher);
    FFont.Reset();
}

LRESULT CALLBACK TChartHost::DispatcherProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam) {
    switch (AMsg) {
    case WM_RUN_REQUEST: {
        const std::unique_ptr<std::shared_ptr<TRequest>> owner(
            reinterpret_cast<std::shared_ptr<TRequest>*>(lParam));
        TRequest& request = **owner;
        try {
            request.Work();
        } catch (...) {
            request.Error = std::current_exception();
        }
        SetEvent(request.Done.Get());
        return 0;
    }
    case WM_END_THREAD:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(AWindow, AMsg, wParam, lParam);
    }
}

LRESULT CALLBACK TChartHost::FrameProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam) {
    // Runs on the chart thread.
    if (AMsg == WM_NCCREATE)
        SetWindowLongPtrW(
            AWindow, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* host = reinterpret_cast<TChartHost*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (AMsg == WM_CLOSE && host) {
        host->FFrameCloseRequested = true;
        return 0;
    }
    return DefWindowProcW(AWindow, AMsg, wParam, lParam);
}

void TChartHost::RunOnChartThread(std::function<void()> AWork) {
    if (GetCurrentThreadId() == FThreadId) {
        AWork();
        return;
    }
    auto request = std::make_shared<TRequest>();
    request->Work = std::move(AWork);
    auto* posted = new std::shared_ptr<TRequest>(request);
    if (!PostMessageW(FDispatcher, WM_RUN_REQUEST, 0, reinterpret_cast<LPARAM>(posted))) {
        delete posted;
        throw std::runtime_error("cannot post to the chart thread");
    }
    // The request is shared, so a chart thread that answers after the deadline touches nothing
    // that is gone.
    if (!WaitHandlingSentMessages(request->Done.Get(), RequestDeadline))
        throw std::runtime_error("the chart thread did not answer within the deadline");
    if (request->Error)
        std::rethrow_exception(request->Error);
}

HWND TChartHost::CreateChart(const TChartOptions& AOptions) {
    auto chart = std::make_unique<TChart>();
    chart->Host = this;
    chart->Title = AOptions.Title;
    TChart* state = chart.get();
    {
        std::lock_guard lock(FLock);
        FCharts.push_back(std::move(chart));
    }
    RunOnChartThread([this, options = AOptions, state] {
        const SIZE outer = ChartWindowSize(options.ClientWidth, options.ClientHeight);
        HWND window = CreateWindowExW(0, ChartClassName, options.Title.c_str(), ChartStyle,
                                      options.Left, options.Top, outer.cx, outer.cy, FFrame,
                                      nullptr, ThisInstance(), state);
        if (!window)
            throw std::runtime_error("CreateWindowExW failed: " + std::to_string(GetLastError()));
        UpdateWindow(window);
    });
    return state->Window;
}

void TChartHost::RaiseTerminalWindow() {
    PlaceTerminalWindow(HWND_TOP);
}

void TChartHost::KeepTerminalOnTop(bool AOnTop) {
    PlaceTerminalWindow(AOnTop ? HWND_TOPMOST : HWND_NOTOPMOST);
}

void TChartHost::PlaceTerminalWindow(HWND AInsertAfter) {
    RunOnChartThread([this, AInsertAfter] {
        SetWindowPos(FFrame, AInsertAfter, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        // Invalidates only: the panels' threads repaint their own windows in their own time.
        RedrawWindow(FFrame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    });
}

SIZE TChartHost::ChartWindowSize(int AClientWidth, int AClientHeight) {
    RECT outer{0, 0, AClientWidth, AClientHeight};
    AdjustWindowRectEx(&outer, ChartStyle, FALSE, 0);
    return {outer.right - outer.left, outer.bottom - outer.top};
}

void TChartHost::DestroyChart(HWND AChart) {
    RunOnChartThread([AChart] { DestroyWindow(AChart); });
}

TChartHost::TChart* TChartHost::Find(HWND AChart) const {
    for (const auto& chart : FCharts)
        if (chart->Window == AChart && !chart->Destroyed)
            return chart.get();
    return nullptr;
}

void TChartHost::SetPicture(HWND AChart, TChartPicture APicture) {
    {
        std::lock_guard lock(FLock);
        TChart* chart = Find(AChart);
        if (!chart)
            return;
        chart->Picture = std::move(APicture);
    }
    // Marks the window for repainting on its own thread; sends nothing.
    InvalidateRect(AChart, nullptr, FALSE);
}

std::vector<TRegisteredPost> TChartHost::RegisteredPosts(HWND AChart) const {
    std::lock_guard lock(FLock);
    const TChart* chart = Find(AChart);
    return chart ? chart->Posts : std::vector<TRegisteredPost>{};
}

bool TChartHost::CloseRequested(HWND AChart) const {
    std::lock_guard lock(FLock);
    const TChart* chart = Find(AChart);
    return chart && chart->CloseRequested;
}

std::vector<HWND> TChartHost::Charts() const {
    std::lock_guard lock(FLock);
    std::vector<HWND> open;
    for (const auto& chart : FCharts)
        if (chart->Window && !chart->Destroyed)
            open.push_back(chart->Window);
    return open;
}

LRESULT CALLBACK TChartHost::ChartProc(HWND AWindow, UINT AMsg, WPARAM wParam, LPARAM lParam) {
    // Runs on the chart thread. The window's own class, so its user data is ours to use.
    if (AMsg == WM_NCCREATE) {
        auto* chart =
            static_cast<TChart*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        {
            std::lock_guard lock(chart->Host->FLock);
            chart->Window = AWindow;
        }
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(chart));
    }
    auto* chart = reinterpret_cast<TChart*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (!chart)
        return DefWindowProcW(AWindow, AMsg, wParam, lParam);
    TChartHost& host = *chart->Host;

    if (AMsg == host.FRegisteredMessage && AMsg != 0) {
        std::lock_guard lock(host.FLock);
        chart->Posts.push_back({wParam, lParam});
        return 0;
    }
    switch (AMsg) {
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel
    case WM_PAINT: {
        TPaintDC paint(AWindow);
        RECT client;
        GetClientRect(AWindow, &client);
        Paint(*chart, paint.Get(), client);
        return 0;
    }
    case WM_CLOSE: {
        std::lock_guard lock(host.FLock);
        chart->CloseRequested = true;
        return 0;
    }
    case WM_NCDESTROY: {
        std::lock_guard lock(host.FLock);
        chart->Destroyed = true;
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
        break;
    }
    default:
        break;
    }
    return DefWindowProcW(AWindow, AMsg, wParam, lParam);
}

void TChartHost::Paint(TChart& AChart, HDC ADC, const RECT& AClient) {
    TChartPicture picture;
    {
        std::lock_guard lock(AChart.Host->FLock);
        picture = AChart.Picture;
    }
    const int width = AClient.right - AClient.left;
    const int height = AClient.bottom - AClient.top;
    if (width <= 0 || height <= 0)
        return;

    // Drawn off screen and copied in one go, so a repaint never flickers through the panel.
    TMemoryDC memory(CreateCompatibleDC(ADC));
    TBitmapHandle bitmap(CreateCompatibleBitmap(ADC, width, height));
    TSelectObject selectedBitmap(memory.Get(), bitmap.Get());
    TSelectObject selectedFont(memory.Get(), AChart.Host->FFont.Get());
    const HDC dc = memory.Get();
    SetBkMode(dc, TRANSPARENT);
    {
        TBrushHandle background(CreateSolidBrush(ChartBackground));
        RECT all{0, 0, width, height};
        FillRect(dc, &all, background.Get());
    }

    constexpr int AxisWidth = 64;
    constexpr int TopMargin = 8;
    constexpr int BottomMargin = 8;
    constexpr int TickSpacing = 4;
    const int plotRight = std::max(1, width - AxisWidth);
    const int plotHeight = std::max(1, height - TopMargin - BottomMargin);

    const std::size_t shown =
        std::min(picture.Bids.size(), static_cast<std::size_t>(plotRight / TickSpacing + 1));
    const auto first = picture.Bids.end() - static_cast<std::ptrdiff_t>(shown);

    // Vertical scale: the shown prices, the ask and every level, with a margin.
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (auto it = first; it != picture.Bids.end(); ++it) {
        low = std::min(low, *it);
        high = std::max(high, *it);
    }
    if (shown > 0)
        high = std::max(high, picture.Bids.back() + picture.Spread);
    for (const TChartLevel& level : picture.Levels) {
        low = std::min(low, level.Price);
        high = std::max(high, level.Price);
    }
    const bool scaled = low <= high;
    if (scaled) {
        const double margin = std::max((high - low) * 0.1, std::abs(high) * 1e-4 + 1e-9);
        low -= margin;
        high += margin;
    }
    const auto yOf = [&](double price) {
        return TopMargin +
               static_cast<int>(std::lround((high - price) / (high - low) * plotHeight));
    };

    // Grid and price scale.
    constexpr COLORREF GridColour = RGB(60, 60, 60);
    constexpr COLORREF ScaleText = RGB(200, 200, 200);
    for (int x = plotRight - 60; x > 0; x -= 60) {
        TUniqueHandle<HPEN, CloseGdiObject> pen(CreatePen(PS_DOT, 1, GridColour));
        TSelectObject selected(dc, pen.Get());
        MoveToEx(dc, x, 0, nullptr);
        LineTo(dc, x, height);
    }
    {
        TUniqueHandle<HPEN, CloseGdiObject> pen(CreatePen(PS_SOLID, 1, ScaleText));
        TSelectObject selected(dc, pen.Get());
        MoveToEx(dc, plotRight, 0, nullptr);
        LineTo(dc, plotRight, height);
    }
    if (scaled) {
        constexpr int GridLines = 6;
        for (int i = 0; i <= GridLines; ++i) {
            const double price = low + (high - low) * i / GridLines;
            const int y = yOf(price);
            HorizontalLine(dc, 0, plotRight, y, GridColour, PS_DOT);
            PaintText(dc, plotRight + 4, y - 6, PriceText(price, picture.Digits), ScaleText);
        }
    }

    // Levels: positions, stops and targets, labelled at their right end.
    for (const TChartLevel& level : picture.Levels) {
        const int y = yOf(level.Price);
        HorizontalLine(dc, 0, plotRight, y, level.Colour, PS_DASH);
        PaintText(dc, plotRight - TextWidth(dc, level.Label) - 4, y - 13, level.Label,
                  level.Colour);
    }

    // The bid as a line through the recent ticks, the ask as a line at the newest price.
    if (shown > 0) {
        std::vector<POINT> points;
        int x = plotRight - static_cast<int>(shown - 1) * TickSpacing;
        for (auto it = first; it != picture.Bids.end(); ++it, x += TickSpacing)
            points.push_back({x, yOf(*it)});
        TUniqueHandle<HPEN, CloseGdiObject> pen(CreatePen(PS_SOLID, 2, ChartPriceLine));
        {
            TSelectObject selected(dc, pen.Get());
            Polyline(dc, points.data(), static_cast<int>(points.size()));
        }
        const double bid = picture.Bids.back();
        const double ask = bid + picture.Spread;
        HorizontalLine(dc, 0, plotRight, yOf(ask), ChartAskLine, PS_SOLID);
        const int bidY = yOf(bid);
        RECT tag{plotRight + 1, bidY - 7, width, bidY + 7};
        TBrushHandle tagBrush(CreateSolidBrush(ChartPriceLine));
        FillRect(dc, &tag, tagBrush.Get());
        PaintText(dc, plotRight + 4, bidY - 6, PriceText(bid, picture.Digits), RGB(0, 0, 0));
    } else {
        PaintText(dc, plotRight / 2 - 40, height / 2, L"waiting for quotes", ScaleText);
    }

    // Title at the top right, notes at the bottom left, above each other.
    PaintText(dc, plotRight - TextWidth(dc, AChart.Title) - 6, 4, AChart.Title, RGB(255, 255, 255));
    int noteY = height - BottomMargin - 14 * static_cast<int>(picture.Notes.size());
    if (!picture.Notes.empty()) {
        // On a dark box of their own, so that the lines behind them do not cross the text.
        int noteWidth = 0;
        for (const std::wstring& note : picture.Notes)
            noteWidth = std::max(noteWidth, TextWidth(dc, note));
        RECT box{4, noteY - 2, std::min(plotRight - 1, 12 + noteWidth), height - BottomMargin + 2};
        TBrushHandle boxBrush(CreateSolidBrush(RGB(24, 24, 24)));
        FillRect(dc, &box, boxBrush.Get());
    }
    for (const std::wstring& note : picture.Notes) {
        PaintText(dc, 8, noteY, note, RGB(255, 255, 255));
        noteY += 14;
    }

    BitBlt(ADC, 0, 0, width, height, dc, 0, 0, SRCCOPY);
}

bool WaitHandlingSentMessages(HANDLE AHandle, std::chrono::milliseconds ADeadline) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + ADeadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        const DWORD wait = static_cast<DWORD>(std::max<long long>(0, left.count()));
        const DWORD result = MsgWaitForMultipleObjects(1, &AHandle, FALSE, wait, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool WaitUntil(const std::function<bool()>& ACondition, std::chrono::milliseconds ADeadline) {
    const auto end = std::chrono::steady_clock::now() + ADeadline;
    for (;;) {
        if (ACondition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(5);
    }
}
