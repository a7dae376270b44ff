// The Linux stand-in for the system's regional settings, used by the native build and its tests.
// It reads the environment's numeric locale without touching the process's global C locale.

#include "data/SystemLocale.h"

#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace {

// Decodes the first character of a UTF-8 text; 0 when it is not well formed.
wchar_t FirstUtf8Char(const unsigned char* s) {
    if (s[0] < 0x80)
        return s[0];
    int length = 0;
    char32_t c = 0;
    if ((s[0] & 0xE0) == 0xC0) {
        length = 2;
        c = s[0] & 0x1F;
    } else if ((s[0] & 0xF0) == 0xE0) {
        length = 3;
        c = s[0] & 0x0F;
    } else {
        return 0; // Nothing outside the basic plane is a decimal separator.
    }
    for (int i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (s[i] & 0x3F);
    }
    return static_cast<wchar_t>(c);
}

} // namespace

wchar_t ReadLocaleDecimalSeparator() {
    // "" takes LC_ALL, then LC_NUMERIC, then LANG from the environment.
    locale_t numeric = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (numeric == static_cast<locale_t>(0))
        return L'.';
    wchar_t separator = 0;
    const char* radix = nl_langinfo_l(RADIXCHAR, numeric);
    if (radix != nullptr && radix[0] != '\0') {
        const auto* bytes = reinterpret_cast<const unsigned char*>(radix);
        if (bytes[0] < 0x80)
            separator = static_cast<wchar_t>(bytes[0]);
        else if (std::strcmp(nl_langinfo_l(CODESET, numeric), "UTF-8") == 0)
            separator = FirstUtf8Char(bytes);
    }
    freelocale(numeric);
    return separator != 0 ? separator : L'.';
}

std::wstring AnsiToWide(const char* text) {
    // Latin-1: each byte is the code unit of the same number.
    std::wstring wide;
    if (text == nullptr)
        return wide;
    for (const char* p = text; *p != '\0'; ++p)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return wide;
}
