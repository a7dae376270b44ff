#include "terminal/WindowCapture.h"

#include <cstring>

TPixels CaptureWindowPixels(HWND AWindow) {
    RECT client{};
    GetClientRect(AWindow, &client);
    const int width = client.right;
    const int height = client.bottom;
    TClientDC window(AWindow);
    if (width <= 0 || height <= 0 || !window.Get())
        return {};

    // A top-down 32-bit DIB: its bytes are blue, green, red, unused, which read as 0x00RRGGBB.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TBitmapHandle bitmap(CreateDIBSection(window.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return {};
    {
        TBitmapDC memory(window.Get(), bitmap.Get());
        if (!memory || !BitBlt(memory.Get(), 0, 0, width, height, window.Get(), 0, 0, SRCCOPY))
            return {};
        GdiFlush();
    }
    TPixels picture = TPixels::Filled(width, height, 0);
    std::memcpy(picture.Rgb.data(), bits, picture.Rgb.size() * sizeof(TRgb));
    for (TRgb& c : picture.Rgb)
        c &= 0xFFFFFF;
    return picture;
}

bool IsUnobstructed(HWND AWindow, int AStep, HWND* ACovering) {
    if (!IsWindowVisible(AWindow))
        return false;
    const RECT client = ClientRectOnScreen(AWindow);
    for (int y = client.top; y < client.bottom; y += AStep)
        for (int x = client.left; x < client.right; x += AStep) {
            HWND top = WindowFromPoint({x, y});
            if (top != AWindow && !IsChild(AWindow, top)) {
                if (ACovering)
                    *ACovering = top;
                return false;
            }
        }
    return true;
}

RECT ClientRectOnScreen(HWND AWindow) {
    RECT client{};
    GetClientRect(AWindow, &client);
    MapWindowPoints(AWindow, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return client;
}
