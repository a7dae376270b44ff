#pragma once
// Small helpers shared by the panel's widgets. IsNotBlank and TryParseFloat are platform-free
// (VClExtText.cpp); the other three work on widget-layer objects (VClExt.cpp, Windows only).

#include <string_view>

#include "data/DataXT.h"

class TControl;
class TFont;

// True when the text holds a code unit above U+0020 (blanks are U+0000..U+0020).
bool IsNotBlank(std::wstring_view text);

// Reads a trimmed decimal number with `separator` as the decimal point. On success stores the
// nearest double (an infinity beyond the double range) and returns true; otherwise stores 0.
bool TryParseFloat(std::wstring_view text, double& value, wchar_t separator = DecimalSeparator());

int BottomOf(const TControl& control);
void SetBold(TFont& font, bool bold);
void ApplyStandardFont(TFont& font);
