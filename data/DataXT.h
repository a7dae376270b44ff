#pragma once
// The market-data snapshot and the one number-to-text rule. Platform-free: no <windows.h>.

#include <cstddef>
#include <string>

// The window handle type of <windows.h> (HWND), named without including it.
using TWindowHandle = struct HWND__*;

// The process-wide decimal separator: read once when the library starts, from the regional
// settings of the loading thread; '.' when they cannot be read. Never changes afterwards.
wchar_t DecimalSeparator();

// The longest text FormatFixed can produce (sign, 309 integer digits, separator, 18 decimals).
inline constexpr std::size_t MaxFixedTextLength = 1 + 309 + 1 + 18;

// Writes x with `decimals` decimals (the fixed-point rule: 18 significant digits first, then
// half away from zero) into `out`, which must hold MaxFixedTextLength characters. Returns the
// number of characters written; nothing is terminated.
std::size_t FormatFixedTo(wchar_t* out, double x, int decimals, wchar_t separator);

std::wstring FormatFixed(double x, int decimals, wchar_t separator = DecimalSeparator());

// An immutable snapshot of one chart's quotes and trade parameters, with ask, bid and spread
// already written as the panel shows them.
class TTerminalData {
public:
    TTerminalData(TWindowHandle AWindow, const char* lpSym, double Ask, double Bid, double Point,
                  double MyPoint, double Lots, double StopLossPips, double TakeProfitPips,
                  double TrailStopStartPips, int ADigits);

    TWindowHandle WndChart() const { return FWndChart; }
    const std::wstring& Symbol() const { return FSymbol; }
    const std::wstring& Ask() const { return FAsk; }
    const std::wstring& Bid() const { return FBid; }
    const std::wstring& Spread() const { return FSpread; }
    double MyPoint() const { return FMyPoint; }
    double Lots() const { return FLots; }
    double StopLossPips() const { return FStopLossPips; }
    double TakeProfitPips() const { return FTakeProfitPips; }
    double TrailStopStartPips() const { return FTrailStopStartPips; }

private:
    TWindowHandle FWndChart;
    std::wstring FSymbol;
    std::wstring FAsk;
    std::wstring FBid;
    std::wstring FSpread;
    double FMyPoint;
    double FLots;
    double FStopLossPips;
    double FTakeProfitPips;
    double FTrailStopStartPips;
};
