#pragma once
// What the tests of Pellith.dll share: the library under test, a chart host, the panel seen from
// outside (window class, properties, thread), posted user input, a barrier through the panel
// thread's queue, process-wide counts, and a few tools that put the library into states a test
// could otherwise only hope to hit (new threads held at their start, a failing PostMessageA).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "terminal/ChartHost.h"
#include "terminal/PanelUser.h"
#include "terminal/PellithLibrary.h"

using namespace std::chrono_literals;

// ---- options and child processes ---------------------------------------------------------

// The value of --name=value on the command line, or empty; a Unix path comes back on drive Z:.
std::wstring TestOption(const char* AName);
// Pellith.dll as CMake built it (--dll=...).
const std::wstring& DllPath();
// True in a child process started by RunThisTestInChildProcess.
bool InChildProcess();
// Runs the current test again in a fresh process of this program and returns its exit code
// (0: passed), or -1 when it had to be stopped at the deadline. The child's output goes to ours.
int RunThisTestInChildProcess(std::chrono::seconds ADeadline = 120s,
                              const std::wstring& AExtraArguments = L"");

// Runs a test body in a fresh process: needed where the body depends on the library not having
// been loaded before, or where a crash of the host is the fault under test.
#define PELLITH_RUN_IN_CHILD_PROCESS()                                                             \
    do {                                                                                           \
        if (!InChildProcess()) {                                                                   \
            EXPECT_EQ(RunThisTestInChildProcess(), 0) << "the test failed in its own process";     \
            return;                                                                                \
        }                                                                                          \
    } while (false)

// ---- where each thread stands, for the watchdog ------------------------------------------

// Records what the calling thread is doing now; the watchdog prints it when a test hangs.
// AStep must be a string literal (it is kept by address).
void Progress(const char* AStep);
// Names the calling thread on the progress board.
void ProgressThreadName(const char* AName);
// Prints the progress board and the process's threads to stderr.
void PrintWhereThreadsStand();

// ---- arguments ---------------------------------------------------------------------------

struct TCreateArgs {
    double Ask = 1.10525;
    double Bid = 1.10510;
    double Point = 0.00001;
    double MyPoint = 0.0001;
    double Lots = 0.1;
    double StopLossPips = 50;
    double TakeProfitPips = 25;
    double TrailStopStartPips = 15;
    int Digits = 5;
    const char* Symbol = "EURUSD";
};

struct TQuote {
    double Ask = 1.10525;
    double Bid = 1.10510;
    double Point = 0.00001;
    double MyPoint = 0.0001;
    int Digits = 5;
};

// A block the library has not written: every slot holds a value it never writes.
constexpr double Untouched = -7777.25;
struct TBlock {
    double Values[5] = {Untouched, Untouched, Untouched, Untouched, Untouched};
    bool IsUntouched() const;
};

// ---- the panel seen from outside ----------------------------------------------------------

inline constexpr wchar_t PanelClass[] = L"PellithPanel";
inline constexpr char ContainerProperty[] = "XT_Container";
inline constexpr char AttachedProperty[] = "XT_Attached";

// The price labels, in the panel's client coordinates.
enum class TSide { Sell, Buy };
inline POINT LabelPoint(TSide ASide) {
    return ASide == TSide::Sell ? SellPricePoint : BuyPricePoint;
}
inline int ResultOf(TSide ASide) {
    return ASide == TSide::Buy ? erBuy : erSell;
}

// Whether a window's class is `AClass`.
bool HasClass(HWND AWindow, const wchar_t* AClass);
// The chart's direct child windows of the panel's class, in z-order (top first).
std::vector<HWND> PanelChildren(HWND AChart);
// Every window of the panel's class in this process, top-level or nested at any depth.
std::vector<HWND> AllPanelWindows();
// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND AWindow);
// ---- process-wide counts ------------------------------------------------------------------

int ThreadCount();
// The threads of this process that began in the given module: for Pellith.dll, its panel
// threads, whatever other threads the system keeps.
int ThreadsStartedIn(HMODULE AModule);
// Polls until at most AExpected threads that began in the module are left; returns the last count.
int WaitForThreadsStartedIn(HMODULE AModule, int AExpected,
                            std::chrono::milliseconds ADeadline = 10s);
// The process's handle count, or 0 where the system does not tell (Wine).
DWORD HandleCount();
// Polls until the thread count is at most AExpected; returns the last count seen.
int WaitForThreadCount(int AExpected, std::chrono::milliseconds ADeadline = 10s);

// The GDI objects of this process. Wine's GetGuiResources always answers 0; its GetObjectType
// takes a bare 16-bit handle index, so every live object is found by trying them all.
int GdiObjectCount();
// The bytes of every heap of the process that are handed out now (HeapWalk's busy blocks).
size_t HeapBytesInUse();

// ---- a barrier through the panel thread's queue -------------------------------------------

// Watches the messages a thread takes from its queue (WH_GETMESSAGE), so that a test knows when
// everything it posted to a window of that thread has been dispatched, and how many timer
// ticks the thread has seen.
class TQueueWatch {
  public:
    explicit TQueueWatch(DWORD AThreadId);
    ~TQueueWatch();
    TQueueWatch(const TQueueWatch&) = delete;
    TQueueWatch& operator=(const TQueueWatch&) = delete;

    bool Installed() const { return FHook != nullptr; }
    // Posts a marker to AWindow (a window of the watched thread) and waits until the thread has
    // taken it, so every message posted before it has been dispatched. False on the deadline.
    bool Flush(HWND AWindow, std::chrono::milliseconds ADeadline = 10s);
    // The same in two steps, for a caller that must not wait: posts a marker and returns its
    // number, which Reached tells once the thread has taken it. 0 when the post failed.
    long PostMarker(HWND AWindow);
    bool Reached(long AMarker) const;
    // WM_TIMER messages taken so far with this timer identifier.
    int TimerTicks(UINT_PTR ATimerId) const;

    struct TState;

  private:
    HHOOK FHook = nullptr;
    std::shared_ptr<TState> FState;
};

// Records, in order, the messages a thread's windows receive: those sent to them
// (WH_CALLWNDPROC), noting whether another thread sent them, and those taken from the queue
// (WH_GETMESSAGE).
class TMessageLog {
  public:
    explicit TMessageLog(DWORD AThreadId);
    ~TMessageLog();
    TMessageLog(const TMessageLog&) = delete;
    TMessageLog& operator=(const TMessageLog&) = delete;

    bool Installed() const { return FSent && FTaken; }
    // The messages AWindow received so far, oldest first.
    std::vector<UINT> Messages(HWND AWindow) const;
    // Messages another thread sent to any window of the thread so far.
    long CrossThreadSends() const;

    struct TState;

  private:
    HHOOK FSent = nullptr;
    HHOOK FTaken = nullptr;
    std::shared_ptr<TState> FState;
};

// ---- putting the library into a given state -----------------------------------------------

// Holds the loader lock: a thread created meanwhile exists but cannot begin to run until the
// lock is released, so a chart whose panel thread has just been started stays pending for as
// long as the test needs. The holder must not wait for any thread while it holds the lock.
class THeldThreadStarts {
  public:
    THeldThreadStarts();
    ~THeldThreadStarts() { Release(); }
    THeldThreadStarts(const THeldThreadStarts&) = delete;
    THeldThreadStarts& operator=(const THeldThreadStarts&) = delete;
    bool Held() const { return FHeld; }
    void Release();

  private:
    bool FHeld = false;
    ULONG_PTR FCookie = 0;
};

// Replaces one function in a module's import table for the life of the object: the module's
// calls of that function reach ANew. The previous entry is handed back by Original().
class TImportPatch {
  public:
    TImportPatch(HMODULE AModule, const char* ADll, const char* AFunction, void* ANew);
    ~TImportPatch();
    TImportPatch(const TImportPatch&) = delete;
    TImportPatch& operator=(const TImportPatch&) = delete;
    bool Applied() const { return FSlot != nullptr; }
    void* Original() const { return FOriginal; }

  private:
    void** FSlot = nullptr;
    void* FOriginal = nullptr;
};

// A window of a thread of its own that pumps messages: a foreign child on a chart, or a window
// that is no chart at all. It fills itself with one colour.
class TForeignWindow {
  public:
    // AParent null: a top-level window. AClass null: a window class of the tests' own.
    TForeignWindow(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle = 0,
                   const wchar_t* AClass = nullptr);
    ~TForeignWindow();
    TForeignWindow(const TForeignWindow&) = delete;
    TForeignWindow& operator=(const TForeignWindow&) = delete;
    HWND Window() const { return FWindow.load(); }

  private:
    void Run(HWND AParent, RECT ABounds, COLORREF AColour, DWORD AStyle, const wchar_t* AClass);

    std::atomic<DWORD> FThreadId{0};
    std::atomic<HWND> FWindow{nullptr};
    std::atomic<bool> FReady{false};
    std::thread FThread;
};

// ---- the fixture --------------------------------------------------------------------------

// A stand-in terminal with the library loaded the way an expert loads it. The test's own thread
// plays the expert: it is never the chart thread.
class TDllTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    HWND NewChart(const wchar_t* ATitle = L"EURUSD,M1", int ALeft = 40, int ATop = 40);
    HMODULE Module() const { return FLibrary->Module(); }
    int PanelThreads() const { return ThreadsStartedIn(Module()); }
    int WaitForPanelThreads(int AExpected) const {
        return WaitForThreadsStartedIn(Module(), AExpected);
    }

    void Create(HWND AChart, const TCreateArgs& AArgs = {});
    int Exchange(HWND AChart, double* ABlock, int ASize = ExchangeBlockSize,
                 const TQuote& AQuote = {});
    int Exchange(HWND AChart, TBlock& ABlock, const TQuote& AQuote = {}) {
        return Exchange(AChart, ABlock.Values, ExchangeBlockSize, AQuote);
    }
    void Delete(HWND AChart);

    // The panel window the chart's properties name while the chart carries this library's mark
    // and that window lives; null otherwise.
    HWND AttachedPanel(HWND AChart) const;
    // Waits until the chart carries a live panel other than AOld; null on the deadline.
    HWND WaitForPanel(HWND AChart, HWND AOld = nullptr, std::chrono::milliseconds ADeadline = 10s);
    // Creates a panel on the chart and waits for it; fails the test when none comes.
    HWND CreateAndWait(HWND AChart, const TCreateArgs& AArgs = {});
    // Posts a click on a price label and waits until the panel thread has dispatched it.
    void ClickAndFlush(HWND APanel, TSide ASide);
    // A normal create, exchange and delete on a new chart, each call on a helper thread that
    // must come back within the deadline: proves the library's lock is free and nothing broke.
    void ExpectNormalCycleWorks();

    std::unique_ptr<TChartHost> FHost;
    std::unique_ptr<TPellithLibrary> FLibrary;
};

// Calls `AWork` on a new thread and waits for it; false (and the thread left behind) when it
// does not come back within the deadline.
bool CompletesWithin(std::function<void()> AWork, std::chrono::milliseconds ADeadline);

// Expects the four slots of a block to hold the given values, naming the slot that differs.
void ExpectBlock(const double* ABlock, double ALots, double AStopLoss, double ATakeProfit,
                 double ATrailingStop);
