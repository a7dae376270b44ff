// The system's regional settings under Windows.

#include "data/SystemLocale.h"

#include <climits>
#include <cstring>
#include <windows.h>

wchar_t ReadLocaleDecimalSeparator() {
    // LOCALE_SDECIMAL holds at most four characters with the terminator.
    wchar_t text[16] = {};
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_SDECIMAL, text, 16) == 0 || text[0] == L'\0')
        return L'.';
    return text[0];
}

std::wstring AnsiToWide(const char* text) {
    std::wstring wide;
    if (text == nullptr)
        return wide;
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > INT_MAX)
        return wide;
    const int bytes = static_cast<int>(length);
    // A byte of the ANSI code page is never more than one UTF-16 code unit.
    wide.resize(length);
    const int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, wide.data(), bytes);
    wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    return wide;
}
