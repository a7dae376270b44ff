#pragma once
// The one seam through which the platform-free code reaches the system's regional settings.
// SystemLocale_win32.cpp asks Windows; SystemLocale_native.cpp is the Linux stand-in.

#include <string>

// The first character of the loading thread's locale decimal separator; '.' when unreadable.
wchar_t ReadLocaleDecimalSeparator();

// Converts zero-terminated text in the system's ANSI code page to UTF-16; null gives "".
std::wstring AnsiToWide(const char* text);
