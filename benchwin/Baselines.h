#pragma once
// The baselines the library's figures are measured against, in the same run: the exchange reduced
// to the platform calls it cannot avoid (the floors), an exchange done the obvious way (naive),
// and a panel of plain windows that no code of ours builds or paints.

#include <atomic>
#include <thread>
#include <vector>

#include "benchwin/BenchRig.h"

// ---- the ways of exchanging ---------------------------------------------------------------------

enum class TWay { Floor, NewFloor, Ours, FloorMoving, OursMoving, Naive };
const char* WayName(TWay AWay);

// The cursor read in the panel's client coordinates, as each exchange must (for the hover rule).
void ReadCursorInClient(HWND APanel);

// One exchange of the given way on the chart; AStep picks the moving quote.
void Exchange(const TPellithLibrary& ALibrary, TWay AWay, const TChartPanel& AChart, long AStep);

// The boxes of the bid and spread labels in the panel's client area.
inline constexpr RECT BidLabelBox{6, 117, 99, 134};
inline constexpr RECT SpreadLabelBox{77, 91, 130, 108};
inline constexpr long ChangedLabelPixels = 93 * 17 + 53 * 17;

// ---- a plain panel: the baseline made of windows without any code of ours -----------------------

inline constexpr wchar_t PlainClassName[] = L"PellithBenchPlain";
inline constexpr char PlainProperty[] = "PellithBenchPlain";
inline constexpr UINT WM_END_PLAIN = WM_APP + 1;

void RegisterPlainClass();

struct TChildWindow {
    const wchar_t* Class;
    DWORD ExStyle;
    const wchar_t* Text;
};

// A panel-sized child of a chart with child windows on it, built by a thread of its own the way
// a panel thread builds a panel: the thread creates the windows, marks the chart with a property
// of its own and pumps messages until the object goes, which destroys the windows.
class TPlainPanel {
public:
    TPlainPanel(HWND AChart, const std::vector<TChildWindow>& AChildren)
        : FChart(AChart), FChildren(AChildren), FThread([this] { Run(); }) {}
    ~TPlainPanel() {
        PollUntil([this] { return FThreadId.load() != 0; }, 10);
        PostThreadMessageW(FThreadId.load(), WM_END_PLAIN, 0, 0);
        FThread.join();
    }
    TPlainPanel(const TPlainPanel&) = delete;
    TPlainPanel& operator=(const TPlainPanel&) = delete;

    // Polls the chart's mark every millisecond.
    bool WaitBuilt(double ADeadlineSeconds) const {
        return PollUntil([this] { return GetPropA(FChart, PlainProperty) != nullptr; },
                         ADeadlineSeconds);
    }
    // Borrowed: the window belongs to the object's thread.
    HWND Window() const { return static_cast<HWND>(GetPropA(FChart, PlainProperty)); }

private:
    void Run() {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, for the end
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        HWND panel = CreateWindowExW(0, PlainClassName, L"",
                                     WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 10,
                                     20, 206, 157, FChart, nullptr, instance, nullptr);
        int i = 0;
        for (const TChildWindow& child : FChildren) {
            CreateWindowExW(child.ExStyle, child.Class, child.Text, WS_CHILD | WS_VISIBLE,
                            5 + (i % 4) * 50, 30 + (i / 4) * 20, 40, 18, panel, nullptr, instance,
                            nullptr);
            ++i;
        }
        SetPropA(FChart, PlainProperty, panel);
        FThreadId.store(GetCurrentThreadId());
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_END_PLAIN && !message.hwnd)
                break;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        RemovePropA(FChart, PlainProperty);
        DestroyWindow(panel);
    }

    HWND FChart;
    std::vector<TChildWindow> FChildren;
    std::atomic<DWORD> FThreadId{0};
    std::thread FThread;
};
