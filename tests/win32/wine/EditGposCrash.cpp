// EditGposCrash.cpp - standalone reproduction of a Wine (64-bit) crash in its own
// text layout code when certain characters are typed into a plain EDIT control.
//
// What it shows
//   A top-level window with two plain EDIT children (WS_EX_CLIENTEDGE, font
//   CreateFontW(-11, ..., "Tahoma") set with WM_SETFONT) receives WM_CHAR
//   messages. No other code is involved. Under 64-bit Wine the process dies
//   with an access violation (c0000005) in gdi32.dll's Uniscribe code:
//     GPOS_apply_MarkToLigature  dlls/gdi32/uniscribe/opentype.c:2005
//     GPOS_apply_MarkToMark      dlls/gdi32/uniscribe/opentype.c:2096
//   Both read glyphs[glyph_index - write_dir] with glyph_index == 0 (first glyph
//   of a run). glyph_index is unsigned, so 0 - 1 is 0xFFFFFFFF and the read lands
//   ~8 GB past the array on 64-bit; on 32-bit the address wraps to glyphs[-1],
//   a harmless read, which is why 32-bit Wine survives.
//
// Seen with: Wine 8.0 (Debian 8.0~repack-4), /usr/lib/wine/wine64, fresh prefix.
//
// The font actually used matters: in a fresh prefix started this way Wine does
//   not load its own fonts (C:\windows\Fonts stays empty), so "Tahoma" resolves
//   through fontconfig to DejaVu Sans (fonts-dejavu-core). The program prints the
//   resolved face ("face=DejaVu Sans"). The crash happens with DejaVu Sans. When
//   Wine's real Tahoma is present (copy /usr/share/wine/fonts/tahoma.ttf and
//   tahomabd.ttf into <prefix>/drive_c/windows/Fonts), the face is "Tahoma" and
//   nothing in 1..0x2FF crashes (all singles, the full sequence and six random
//   400-character sequences survive). Asking for "DejaVu Sans" crashes either way.
//
// Which characters trigger it (font = DejaVu Sans, codes 1..0x2FF all tried)
//   Only these 47 Spacing Modifier Letters, nothing else in 1..0x2FF:
//     U+02B1..U+02C2, U+02C7..U+02CA, U+02CD..U+02D1, U+02D4..U+02D7,
//     U+02DA..U+02E4, U+02EC..U+02EE, U+02F3, U+02F7
//   (not U+02B0, U+02C3..U+02C6, U+02CB..U+02CC, U+02D2..U+02D3, U+02D8..U+02D9,
//    U+02E5..U+02EB, U+02EF..U+02F2, U+02F4..U+02F6, U+02F8..U+02FF).
//   No preceding character is needed: it crashes when such a character is the
//   FIRST character of a run - at the start of the text (alone, or followed by
//   anything), or right after a digit or punctuation ("1", ".", "-", "$", ",",
//   "(", "/"), which Uniscribe puts in a separate run. A letter, a space or a
//   non-triggering modifier letter right before it prevents the crash
//   ("A" + U+02C7 survives; "1" + U+02C7 and "A." + U+02C7 crash). A Backspace
//   that empties the field followed by a trigger also crashes.
//   Font size does not matter (-8, -11, -13, -16, -24, -48, 8 and 20 all crash).
//
// The project's 64-bit prefixes have Wine's own fonts linked into their Fonts folder
//   (scripts/wine-run), so "Tahoma" is Tahoma there: pass "DejaVu Sans" as the face
//   (argument 3) to see the crash in them. The win64 build makes this program as
//   build/win64/tests/win32/edit_gpos_crash.exe.
//
// Build
//   x86_64-w64-mingw32-g++-posix -O2 -static -municode -o EditGposCrash.exe EditGposCrash.cpp
//   -luser32 -lgdi32
// Run (prints the face, then "survived" and exits 0, or "CRASH ..." and exits 3)
//   export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINEDEBUG=-all
//   export WINEPREFIX=$HOME/gpos-prefix   (any 64-bit prefix; the first start creates it)
//   xvfb-run -a -s '-screen 0 1280x1024x24' /usr/lib/wine/wine64 EditGposCrash.exe 2c7
// Arguments (all optional)
//   1: hex character codes, comma-separated, typed in that order into both edits;
//      '/' instead of ',' clears both edits before the next code. Default: 2c7.
//   2: font height for CreateFontW. Default: -11.
//   3: font face name. Default: Tahoma.
//   Examples (fresh prefix, face = DejaVu Sans):
//     EditGposCrash.exe 41,2c7       -> survived  ("A" then caron)
//     EditGposCrash.exe 2c7          -> CRASH
//     EditGposCrash.exe 31,2c7       -> CRASH     ("1" then caron)
//     EditGposCrash.exe 2c6/2d8/2ff  -> survived
#include <cstdio>
#include <cwchar>
#include <vector>
#include <windows.h>

static const wchar_t kClear = 0xFFFF; // marker: clear both edits

static LONG WINAPI OnCrash(EXCEPTION_POINTERS* ep) {
    void* addr = ep->ExceptionRecord->ExceptionAddress;
    HMODULE mod = nullptr;
    wchar_t name[MAX_PATH] = L"?";
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCWSTR)addr, &mod))
        GetModuleFileNameW(mod, name, MAX_PATH);
    std::printf("CRASH code=%08lx at %p (%ls+0x%llx)\n", ep->ExceptionRecord->ExceptionCode, addr,
                name, (unsigned long long)((char*)addr - (char*)mod));
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int wmain(int argc, wchar_t** argv) {
    std::vector<wchar_t> chars;
    const wchar_t* list = argc > 1 ? argv[1] : L"2c7";
    for (const wchar_t* p = list; *p;) {
        wchar_t* end;
        unsigned long v = wcstoul(p, &end, 16);
        if (end == p)
            break;
        chars.push_back((wchar_t)v);
        if (*end == L'/')
            chars.push_back(kClear);
        p = (*end == L',' || *end == L'/') ? end + 1 : end;
    }
    int height = argc > 2 ? _wtoi(argv[2]) : -11;
    const wchar_t* face = argc > 3 ? argv[3] : L"Tahoma";

    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);

    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = inst;
    wc.lpszClassName = L"EditGposCrashWnd";
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    HWND top =
        CreateWindowExW(0, wc.lpszClassName, L"EditGposCrash", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                        10, 400, 200, nullptr, nullptr, inst, nullptr);
    HFONT font =
        CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    {
        HDC dc = GetDC(top);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t used[LF_FACESIZE] = L"";
        GetTextFaceW(dc, LF_FACESIZE, used);
        SelectObject(dc, old);
        ReleaseDC(top, dc);
        std::printf("face=%ls\n", used);
        std::fflush(stdout);
    }
    HWND edits[2];
    for (int i = 0; i < 2; ++i) {
        edits[i] = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                   WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10 + 30 * i, 200, 22,
                                   top, (HMENU)(INT_PTR)(100 + i), inst, nullptr);
        SendMessageW(edits[i], WM_SETFONT, (WPARAM)font, TRUE);
    }
    UpdateWindow(top);
    Pump();

    for (wchar_t ch : chars) {
        for (HWND e : edits) {
            if (ch == kClear) {
                SetWindowTextW(e, L"");
            } else {
                SetFocus(e);
                PostMessageW(e, WM_CHAR, ch, 1);
            }
        }
        Pump();
        UpdateWindow(top);
        for (HWND e : edits)
            UpdateWindow(e);
    }
    Pump();

    DestroyWindow(top);
    DeleteObject(font);
    std::printf("survived\n");
    return 0;
}
