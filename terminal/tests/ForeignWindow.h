#pragma once
// A window that is none of Pellith's, on a thread of its own that pumps messages: another
// program's child on a chart, or a window that is no chart at all. For the tests.

#include <atomic>
#include <thread>

#include "platform/Win32.h"

// Whether a foreign child first marks its parent WS_CLIPCHILDREN, as a panel thread does.
enum class TParentClip { Leave, ClipChildren };

class TForeignWindow {
public:
    // Starts the window's thread and waits up to 10 s until the window exists or could not be
    // made. AParent null: a top-level window. AClass null: a window class of the tests' own that
    // fills itself with AColour; otherwise a class such as L"BUTTON", which paints as it paints.
    TForeignWindow(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle = 0,
                   const wchar_t* AClass = nullptr, TParentClip AClip = TParentClip::Leave);
    // Ends the thread, which destroys the window.
    ~TForeignWindow();
    TForeignWindow(const TForeignWindow&) = delete;
    TForeignWindow& operator=(const TForeignWindow&) = delete;

    // The window (borrowed); null when it could not be made in time.
    HWND Window() const { return FWindow.load(); }

private:
    void Run(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle, const wchar_t* AClass,
             TParentClip AClip);

    std::atomic<DWORD> FThreadId{0};
    std::atomic<HWND> FWindow{nullptr};
    TKernelHandle FReady{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread FThread;
};
