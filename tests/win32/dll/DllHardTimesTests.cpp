// Pellith.dll in the terminal's rough habits: experts killed at any moment inside an export,
// faults on the host's memory caught by the host, a chart thread that stops pumping while a
// panel is built on it, a browser that takes long to start, steady ticks on many charts while
// panels come and go, and a host that unmasks floating-point exceptions. Each time the other
// charts must go on, a killed expert's own chart must work for the expert started after it, and
// a panel life must leave nothing behind.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "terminal/tests/MachineContext.h"
#include "terminal/tests/Watchdog.h"
#include "tests/win32/dll/DllTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration ADuration) {
    return std::chrono::duration<double, std::milli>(ADuration).count();
}

// The powered-by link in the panel's client area.
constexpr POINT PoweredByPoint{100, 148};

// A chart for a test that must see a normal create, exchange and delete complete: the calls run
// on helper threads within deadlines, so a held lock is a failure and not a hang.
bool ChartAnswers(const std::function<int(TBlock&)>& AExchange) {
    auto block = std::make_shared<TBlock>();
    auto result = std::make_shared<int>(-1);
    if (!CompletesWithin([=] { *result = AExchange(*block); }, 5s))
        return false;
    return *result == erNothing && !block->IsUntouched();
}

// ---- kill trials -------------------------------------------------------------------------

// What a run of kill trials found. A child process writes it before each step that may hang,
// with the verdict that holds if the step never ends, so that the parent can judge a child it
// had to stop.
struct TKillTally {
    enum TPhase { BetweenTrials, ProbingTheSystem, ProbingTheCharts, Done, NotStarted };
    int Trials = 0;           // kills done and judged
    int Inside = 0;           // of which the thread died inside an export
    int Answered = 0;         // of which every chart answered afterwards, the killed one too
    int PlatformStuck = 0;    // the system's own lock was left held: the trial says nothing of us
    int Failed = 0;           // a chart, the killed one or another, did not answer
    int CycleTrials = 0;      // of the trials, those that killed a create/exchange/delete loop
    int InCreateOrDelete = 0; // of which the thread died inside TerminalCreate or TerminalDelete
    int Phase = BetweenTrials;

    // Adds the tally of a later process that went on with the trials.
    void Add(const TKillTally& ALater) {
        Trials += ALater.Trials;
        Inside += ALater.Inside;
        Answered += ALater.Answered;
        PlatformStuck += ALater.PlatformStuck;
        Failed += ALater.Failed;
        CycleTrials += ALater.CycleTrials;
        InCreateOrDelete += ALater.InCreateOrDelete;
        Phase = ALater.Phase;
    }

    // Overwrites the tally in place with one fixed-width write, with no heap and no C runtime:
    // a killed thread may have left their locks held. Opening a file by its name takes the
    // heap's lock, so the child opens the file once, before the trials.
    void Write(HANDLE AFile) const {
        const int values[FieldCount - 1] = {Trials, Inside,      Answered,         PlatformStuck,
                                            Failed, CycleTrials, InCreateOrDelete, Phase};
        char text[RecordLength];
        int sum = 0;
        for (int field = 0; field < FieldCount; ++field) {
            // The last field is the sum of the others, so that a torn read shows.
            const bool last = field == FieldCount - 1;
            int rest = last ? sum : values[field];
            sum += rest;
            char* start = text + field * FieldWidth;
            for (int place = FieldWidth - 2; place >= 0; --place, rest /= 10)
                start[place] = static_cast<char>('0' + rest % 10);
            start[FieldWidth - 1] = last ? '\n' : ' ';
        }
        OVERLAPPED atStart{};
        DWORD written = 0;
        WriteFile(AFile, text, RecordLength, &written, &atStart);
    }
    void Write(const std::wstring& APath) const { Write(Open(APath, GENERIC_WRITE).Get()); }
    // An empty handle when the file cannot be opened.
    static TKernelHandle Open(const std::wstring& APath, DWORD AAccess) {
        const HANDLE file = CreateFileW(APath.c_str(), AAccess,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return TKernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
    }
    // False for a missing file or a record caught half-written.
    bool Read(const std::wstring& APath) {
        const TKernelHandle file = Open(APath, GENERIC_READ);
        if (!file)
            return false;
        char text[RecordLength + 1] = {};
        DWORD read = 0;
        ReadFile(file.Get(), text, RecordLength, &read, nullptr);
        TKillTally tally;
        int check = -1;
        if (std::sscanf(text, "%d %d %d %d %d %d %d %d %d", &tally.Trials, &tally.Inside,
                        &tally.Answered, &tally.PlatformStuck, &tally.Failed, &tally.CycleTrials,
                        &tally.InCreateOrDelete, &tally.Phase, &check) != 9 ||
            check != tally.Trials + tally.Inside + tally.Answered + tally.PlatformStuck +
                         tally.Failed + tally.CycleTrials + tally.InCreateOrDelete + tally.Phase)
            return false;
        *this = tally;
        return true;
    }

private:
    static constexpr int FieldCount = 9, FieldWidth = 11, RecordLength = FieldCount * FieldWidth;
};

enum class TVictimLoop { Exchange, CreateExchangeDelete };

// The expert that is killed: it calls the exports on its own chart in a loop and says which
// one it is inside. In the create/exchange/delete loop a panel lives for a few ticks.
struct TVictim {
    enum TCall { None, InCreate, InExchange, InDelete };
    const TPellithLibrary* Library = nullptr;
    HWND Chart = nullptr;
    TVictimLoop Loop = TVictimLoop::Exchange;
    std::atomic<int> Inside{None};
    std::atomic<long> Calls{0};

    static DWORD WINAPI Run(LPVOID AVictim) {
        auto& victim = *static_cast<TVictim*>(AVictim);
        const TPellithLibrary& library = *victim.Library;
        const bool cycle = victim.Loop == TVictimLoop::CreateExchangeDelete;
        double block[ExchangeBlockSize] = {};
        for (long k = 0;; ++k) {
            if (cycle) {
                victim.Inside = InCreate;
                library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5,
                                       victim.Chart, "EURUSD");
            }
            for (int tick = 0; tick < (cycle ? 4 : 1); ++tick) {
                victim.Inside = InExchange;
                library.TerminalProcessMsg(1.1002 + (k % 50) * 1e-5, 1.1 + (k % 50) * 1e-5, 1e-5,
                                           1e-4, 5, block, ExchangeBlockSize, victim.Chart);
                victim.Inside = None;
            }
            if (cycle) {
                victim.Inside = InDelete;
                library.TerminalDelete(victim.Chart);
                victim.Inside = None;
            }
            ++victim.Calls;
        }
    }
};

// A thread made before the trials that does one piece of work on request: after a kill, making
// a thread may itself need a lock the killed thread left held.
class TStandbyThread {
public:
    TStandbyThread() {
        std::thread([state = FState] { Loop(*state); }).detach();
    }
    // The thread may be stuck for good after a kill, or only slow to wake on a busy machine: it
    // shares the state with this object, so whenever it comes to look, the state is still there.
    ~TStandbyThread() {
        FState->Stop = true;
        SetEvent(FState->Go.Get());
    }
    // Runs AWork and waits; false when it does not come back within the deadline. After false
    // the work may still be running: what it refers to must outlive it, or the process end.
    bool Run(std::function<void()> AWork, DWORD ADeadline) {
        FState->Work = std::move(AWork);
        SetEvent(FState->Go.Get());
        return WaitForSingleObject(FState->Done.Get(), ADeadline) == WAIT_OBJECT_0;
    }

private:
    struct TState {
        TKernelHandle Go{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        TKernelHandle Done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        std::function<void()> Work;
        std::atomic<bool> Stop{false};
    };
    static void Loop(TState& AState) {
        ProgressThreadName("standby");
        while (WaitForSingleObject(AState.Go.Get(), INFINITE) == WAIT_OBJECT_0 && !AState.Stop) {
            AState.Work();
            SetEvent(AState.Done.Get());
        }
    }
    std::shared_ptr<TState> FState = std::make_shared<TState>();
};

// The probe takes milliseconds even on a loaded machine, and a lock left held by a killed thread
// stays held: waiting longer only delays the new process that the trials then go on in. A slow
// probe taken for a held lock costs a process start, never a verdict on the library.
constexpr DWORD SystemProbeDeadline = 2000;

// The calls the exports make of the system, from a thread that is not the killed one: when
// these do not come back, the killed thread left the system's own lock held.
void SystemProbe(HWND AChart, HWND APanel) {
    volatile LONG_PTR sink = 0;
    sink = sink + IsWindow(AChart) + reinterpret_cast<LONG_PTR>(GetPropA(AChart, AttachedProperty));
    sink = sink + GetWindowLongW(APanel, GWL_STYLE);
    POINT point{};
    GetCursorPos(&point);
    ClientToScreen(APanel, &point);
    // Small blocks may come from the heap's lock-free part; large ones take the heap's lock.
    for (const size_t size : {size_t{64}, size_t{1000}, size_t{200000}}) {
        void* memory = std::malloc(size);
        std::free(memory);
        HANDLE heap = GetProcessHeap();
        HeapFree(heap, 0, HeapAlloc(heap, 0, size));
    }
    // A thread's start and end take the loader's lock.
    std::thread([] {}).join();
    sink = sink + point.x;
}

// What a restarted expert does on the chart whose expert was killed: a create, a wait for the
// panel, an exchange, a repaint of the panel, a delete and the chart's destruction, each on the
// standby thread within its deadline. Null when every step came back in time and right, else
// the step that did not.
const char* KilledChartFails(const TPellithLibrary& ALibrary, TChartHost& AHost, HWND AChart,
                             const std::function<HWND(HWND)>& AAttached, TStandbyThread& AExpert) {
    HWND panel = nullptr;
    struct TStep {
        const char* Name;
        DWORD Deadline;
        std::function<bool()> Work;
    };
    const TStep steps[] = {
        {"a create by a new expert", 1000,
         [&] {
             ALibrary.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, AChart,
                                     "EURUSD");
             return true;
         }},
        {"the panel's coming", 12000,
         [&] { return WaitUntil([&] { return (panel = AAttached(AChart)) != nullptr; }, 10s); }},
        {"an exchange", 1000,
         [&] {
             double block[ExchangeBlockSize] = {Untouched, Untouched, Untouched, Untouched};
             const int result = ALibrary.TerminalProcessMsg(1.2, 1.1, 1e-5, 1e-4, 5, block,
                                                            ExchangeBlockSize, AChart);
             if (result == erNothing && block[esLots] == 0.1)
                 return true;
             std::printf("the exchange answered %d with lots %g (the panel %s)\n", result,
                         block[esLots], panel == AAttached(AChart) ? "as before" : "replaced");
             return false;
         }},
        // A repaint that must be done now is sent to the panel thread and waited for.
        {"a repaint of the panel", 1000,
         [&] {
             return RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW) != 0;
         }},
        {"a delete", 1000,
         [&] {
             ALibrary.TerminalDelete(AChart);
             return true;
         }},
        // The system destroys the panel, a child of another thread's, after the chart: it asks
        // that thread without waiting for it.
        {"destroying the chart", 2000,
         [&] {
             try {
                 AHost.DestroyChart(AChart);
             } catch (...) {
                 return false;
             }
             return !IsWindow(AChart) && WaitUntil([&] { return !IsWindow(panel); }, 1s);
         }},
    };
    for (const TStep& step : steps) {
        bool right = false;
        if (!AExpert.Run([&] { right = step.Work(); }, step.Deadline)) {
            std::printf("%s did not come back within %lu ms\n", step.Name, step.Deadline);
            return step.Name;
        }
        if (!right)
            return step.Name;
    }
    return nullptr;
}

// Runs kill trials in this (child) process until the counts are reached or the system's own lock
// is left held; writes the tally after every trial. Ends the process when a chart stops
// answering, with the board of where each thread stands.
void RunKillTrials(int AExchangeTrials, int ACycleTrials, const std::wstring& ATallyPath) {
    const int trials = AExchangeTrials + ACycleTrials;
    ProgressThreadName("trials");
    const TKernelHandle tallyFile = TKillTally::Open(ATallyPath, GENERIC_WRITE);
    TKillTally tally;
    tally.Write(tallyFile.Get());
    TChartHost host;
    TPellithLibrary library(DllPath());
    const auto newChart = [&](int AIndex) {
        return host.CreateChart(
            {L"trial", 20 + 60 * (AIndex % 8), 20 + 40 * (AIndex % 6), 420, 300});
    };
    const auto attached = [&](HWND AChart) -> HWND {
        if (GetPropA(AChart, AttachedProperty) != reinterpret_cast<HANDLE>(library.Module()))
            return nullptr;
        HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
        return IsWindow(panel) ? panel : nullptr;
    };
    // The other charts: one with a panel that exchanges, and one that takes panels anew.
    HWND other = newChart(0);
    library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, other, "GBPUSD");
    ASSERT_TRUE(WaitUntil([&] { return attached(other) != nullptr; }, 10s));
    const HWND otherPanel = attached(other);
    HWND fresh = newChart(1);
    TStandbyThread probe, expert;
    // A process that goes on with the trials kills at other moments than the one before it.
    std::mt19937 random(12345u + 1000u * AExchangeTrials + ACycleTrials);

    for (int trial = 0; trial < trials; ++trial) {
        Progress("a kill trial");
        TVictim victim;
        victim.Library = &library;
        victim.Chart = newChart(trial + 2);
        victim.Loop =
            trial < AExchangeTrials ? TVictimLoop::Exchange : TVictimLoop::CreateExchangeDelete;
        tally.CycleTrials += victim.Loop == TVictimLoop::CreateExchangeDelete;
        if (victim.Loop == TVictimLoop::Exchange) {
            library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, victim.Chart,
                                   "EURUSD");
            ASSERT_TRUE(WaitUntil([&] { return attached(victim.Chart) != nullptr; }, 10s));
        }
        TKernelHandle thread(CreateThread(nullptr, 0, TVictim::Run, &victim, 0, nullptr));
        ASSERT_TRUE(thread);
        ASSERT_TRUE(WaitUntil([&] { return victim.Calls.load() > 0; }, 10s));
        // A moment anywhere in the loop: whole milliseconds and a spin of some microseconds.
        Sleep(std::uniform_int_distribution<int>(0, 12)(random));
        for (int spin = std::uniform_int_distribution<int>(0, 20000)(random); spin > 0; --spin)
            YieldProcessor();
        TerminateThread(thread.Get(), 9);
        WaitForSingleObject(thread.Get(), 10000);
        ++tally.Trials;
        const int inside = victim.Inside.load();
        tally.Inside += inside != TVictim::None;
        tally.InCreateOrDelete += inside == TVictim::InCreate || inside == TVictim::InDelete;

        // Until the probe comes back, the verdict is that the system's own lock stayed held.
        ++tally.PlatformStuck;
        tally.Phase = TKillTally::ProbingTheSystem;
        tally.Write(tallyFile.Get());
        if (!probe.Run([&] { SystemProbe(other, otherPanel); }, SystemProbeDeadline))
            TerminateProcess(GetCurrentProcess(), 0); // may itself hang: the parent stops it
        --tally.PlatformStuck;
        // Until the charts answer, the verdict is that they did not.
        ++tally.Failed;
        tally.Phase = TKillTally::ProbingTheCharts;
        tally.Write(tallyFile.Get());
        // Every other chart answers: an exchange on a running panel, and a new panel's life.
        bool answered = false;
        // What each chart answered, for the report of a trial that fails.
        int otherResult = -1, freshResult = -1;
        double otherLots = Untouched, freshLots = Untouched;
        bool freshAttached = false;
        const bool came = expert.Run(
            [&] {
                double block[ExchangeBlockSize] = {Untouched, Untouched, Untouched, Untouched};
                otherResult = library.TerminalProcessMsg(1.2, 1.1, 1e-5, 1e-4, 5, block,
                                                         ExchangeBlockSize, other);
                otherLots = block[esLots];
                library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.4, 50, 25, 15, 5, fresh,
                                       "USDJPY");
                freshAttached = WaitUntil([&] { return attached(fresh) != nullptr; }, 10s);
                if (freshAttached) {
                    double freshBlock[ExchangeBlockSize] = {Untouched, Untouched, Untouched,
                                                            Untouched};
                    freshResult = library.TerminalProcessMsg(1.2, 1.1, 1e-5, 1e-4, 5, freshBlock,
                                                             ExchangeBlockSize, fresh);
                    freshLots = freshBlock[esLots];
                    library.TerminalDelete(fresh);
                }
                answered = otherResult == erNothing && otherLots == 0.1 &&
                           freshResult == erNothing && freshLots == 0.4;
            },
            20000);
        if (!came || !answered) {
            std::printf("trial %d: another chart %s after a kill %s an export (the running panel: "
                        "result %d, lots %g; a new panel: %s, result %d, lots %g)\n",
                        trial, came ? "answered wrongly" : "did not answer",
                        inside != TVictim::None ? "inside" : "outside", otherResult, otherLots,
                        freshAttached ? "attached" : "not attached within 10 s", freshResult,
                        freshLots);
            std::fflush(stdout);
            PrintWhereThreadsStand();
            TerminateProcess(GetCurrentProcess(), 1);
        }
        // The killed chart itself, as its restarted expert finds it: a panel comes (a new one
        // if the kill left none), exchanges and repaints, and the chart can be deleted and
        // destroyed. Each step that can only hang gets a second; the build gets ten.
        if (const char* step = KilledChartFails(library, host, victim.Chart, attached, expert)) {
            std::printf("trial %d: the killed chart failed at %s after a kill %s an export\n",
                        trial, step, inside != TVictim::None ? "inside" : "outside");
            std::fflush(stdout);
            PrintWhereThreadsStand();
            TerminateProcess(GetCurrentProcess(), 1);
        }
        --tally.Failed;
        ++tally.Answered;
        tally.Phase = TKillTally::BetweenTrials;
        tally.Write(tallyFile.Get());
    }
    tally.Phase = TKillTally::Done;
    tally.Write(tallyFile.Get());
    std::fflush(stdout);
    // Whatever the kills left, this process is done: no clean-up that could wait on it.
    TerminateProcess(GetCurrentProcess(), 0);
}

// Starts this test again in a child process that runs the given kill trials, and stops it
// when it stays in one step longer than that step can take; returns its tally.
TKillTally KillTrialsInChild(int AExchangeTrials, int ACycleTrials,
                             const std::wstring& ATallyPath) {
    TKillTally tally;
    tally.Phase = TKillTally::NotStarted;
    tally.Write(ATallyPath);
    const TKernelHandle processHandle = StartThisTestInChildProcess(
        L"--kill-exchange-trials=" + std::to_wstring(AExchangeTrials) + L" --kill-cycle-trials=" +
        std::to_wstring(ACycleTrials) + L" \"--kill-tally=" + ATallyPath + L"\"");
    if (!processHandle)
        return tally;
    const auto started = Clock::now();
    // A probe of the system gives up after 2 s, a chart's answer after 20 s, a trial's own
    // steps after 10 s each.
    const auto patience = [](int APhase) {
        return APhase == TKillTally::ProbingTheSystem ? 8s
               : APhase == TKillTally::Done           ? 10s
               : APhase == TKillTally::NotStarted     ? 30s
                                                      : 40s;
    };
    TKillTally seen;
    seen.Phase = TKillTally::NotStarted;
    auto changed = Clock::now();
    for (;;) {
        if (WaitForSingleObject(processHandle.Get(), 250) == WAIT_OBJECT_0)
            break;
        TKillTally now;
        if (now.Read(ATallyPath) && (now.Trials != seen.Trials || now.Phase != seen.Phase)) {
            seen = now;
            changed = Clock::now();
        }
        if (Clock::now() - changed > patience(seen.Phase)) {
            // A process whose killed thread left the system's locks held may hang even in
            // its own exit; its tally already holds the verdict of the step it stayed in.
            TerminateProcess(processHandle.Get(), 99);
            WaitForSingleObject(processHandle.Get(), 10000);
            break;
        }
    }
    // A record that does not read holds nothing new: the last one read stands.
    if (!tally.Read(ATallyPath))
        tally = seen;
    DWORD code = 0;
    GetExitCodeProcess(processHandle.Get(), &code);
    if (tally.Phase == TKillTally::NotStarted)
        std::printf("the trials' process never reached its first trial: it ended with code %lu "
                    "after %.1f s\n",
                    code, Milliseconds(Clock::now() - started) / 1000);
    // Stopped between trials with an error: a trial's own step never ended.
    if (tally.Phase == TKillTally::BetweenTrials && tally.Trials < AExchangeTrials + ACycleTrials &&
        code != 0)
        ++tally.Failed;
    return tally;
}

// Runs the trials in child processes. A kill that leaves the system's own lock held ends its
// process, since nothing more can be judged there; the trials left go on in a new one.
TKillTally KillTrialsInChildren(int AExchangeTrials, int ACycleTrials) {
    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    const std::wstring tallyPath =
        std::wstring(directory) + L"pellith-kill-" + std::to_wstring(GetCurrentProcessId());
    // Each such kill costs a process, about 3 s. Under Wine about one kill in four in a
    // create/exchange/delete loop lands in its own window lock; a system whose lock is left held
    // far more often than that would say nothing of the library, and the trials then do not all
    // run.
    constexpr int MostStuckProcesses = 30;
    // A process that never reaches its first trial says nothing either way; it is tried again.
    constexpr int MostStartsInARow = 3;
    TKillTally total;
    int startsInARow = 0;
    while (total.PlatformStuck <= MostStuckProcesses) {
        const int exchangeLeft = AExchangeTrials - (total.Trials - total.CycleTrials);
        const int cycleLeft = ACycleTrials - total.CycleTrials;
        if (exchangeLeft + cycleLeft <= 0)
            break;
        const TKillTally tally = KillTrialsInChild(exchangeLeft, cycleLeft, tallyPath);
        if (tally.Phase == TKillTally::NotStarted) {
            if (++startsInARow == MostStartsInARow)
                break;
            std::printf("starting another\n");
            continue;
        }
        startsInARow = 0;
        total.Add(tally);
        if (tally.Failed > 0 || tally.PlatformStuck == 0)
            break; // a chart stopped answering, or the process ran its trials to the end
        if (total.Trials < AExchangeTrials + ACycleTrials)
            std::printf("after %d kills the system's own lock stayed held; the trials go on in "
                        "a new process\n",
                        total.Trials);
    }
    DeleteFileW(tallyPath.c_str());
    return total;
}

// Kills in a loop of exchanges, then in a loop of create, exchange and delete.
TEST(DllKills, AnExpertKilledAnywhereInsideAnExportLeavesItsOwnChartAndEveryOtherWorking) {
    constexpr int ExchangeTrials = 200, CycleTrials = 50;
    if (InChildProcess()) {
        RunKillTrials(std::stoi(TestOption("kill-exchange-trials")),
                      std::stoi(TestOption("kill-cycle-trials")), TestOption("kill-tally"));
        return;
    }
    // Up to 30 processes ended by a kill inside the system's own lock, some 3 s each: more
    // than the usual deadline of a test.
    ArmWatchdog(std::chrono::seconds(720), "the kill trials");
    const TKillTally tally = KillTrialsInChildren(ExchangeTrials, CycleTrials);
    RecordProperty("answered", tally.Answered);
    RecordProperty("failed", tally.Failed);
    EXPECT_EQ(tally.Failed, 0) << "a chart, the killed one or another, stopped answering";
    EXPECT_EQ(tally.Answered + tally.PlatformStuck, tally.Trials);
    EXPECT_EQ(tally.Trials - tally.CycleTrials, ExchangeTrials)
        << "the exchange trials did not all run";
    EXPECT_EQ(tally.CycleTrials, CycleTrials)
        << "the create/exchange/delete trials did not all run";
    // The trials prove something only when most kills land inside an export.
    EXPECT_GE(tally.Inside * 2, tally.Trials);
    RecordProperty("kills", tally.Trials);
    RecordProperty("cycle_kills", tally.CycleTrials);
    RecordProperty("inside", tally.Inside);
    RecordProperty("inside_create_or_delete", tally.InCreateOrDelete);
    RecordProperty("platform_stuck", tally.PlatformStuck);
}

// ---- what kills inside exchanges leave behind -----------------------------------------------

// An exchange killed anywhere holds nothing of the panel's: when the panel is deleted later,
// all of it goes. Each trial builds a panel, kills an expert that exchanges on it in a loop,
// deletes the panel and waits for its thread to end. A kill that leaves the system's own lock
// held (Wine's window lock, now and then) says nothing of the library: its process ends with
// code 3 and the trials start over in a new one.
TEST(DllKillLeaks, AKillInsideAnExchangeLeavesAtMostTwoGdiObjectsAndAKilobyte) {
    constexpr int Kills = 200, WarmUp = 10;
    constexpr int StuckExitCode = 3;
    if (!InChildProcess()) {
        ArmWatchdog(std::chrono::seconds(1500), "the leak trials");
        int code = StuckExitCode;
        for (int process = 0; process < 3 && code == StuckExitCode; ++process)
            code = RunThisTestInChildProcess(480s);
        EXPECT_EQ(code, 0) << "the trials failed in their own process";
        return;
    }
    TChartHost host;
    TPellithLibrary library(DllPath());
    const HWND chart = host.CreateChart({L"trial", 40, 40, 420, 300});
    const HWND other = host.CreateChart({L"other", 500, 40, 420, 300});
    const auto attached = [&](HWND AChart) -> HWND {
        if (GetPropA(AChart, AttachedProperty) != reinterpret_cast<HANDLE>(library.Module()))
            return nullptr;
        HWND panel = static_cast<HWND>(GetPropA(AChart, ContainerProperty));
        return IsWindow(panel) ? panel : nullptr;
    };
    library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, other, "GBPUSD");
    ASSERT_TRUE(WaitUntil([&] { return attached(other) != nullptr; }, 10s));
    const HWND otherPanel = attached(other);
    TStandbyThread probe;
    std::mt19937 random(4242u);
    int inside = 0, gdiBefore = 0;
    size_t heapBefore = 0;
    for (int trial = 0; trial < WarmUp + Kills; ++trial) {
        if (trial == WarmUp) {
            gdiBefore = GdiObjectCount();
            heapBefore = HeapBytesInUse();
        }
        library.TerminalCreate(1.10525, 1.10510, 1e-5, 1e-4, 0.1, 50, 25, 15, 5, chart, "EURUSD");
        ASSERT_TRUE(WaitUntil([&] { return attached(chart) != nullptr; }, 10s));
        const HWND panel = attached(chart);
        TVictim victim;
        victim.Library = &library;
        victim.Chart = chart;
        TKernelHandle thread(CreateThread(nullptr, 0, TVictim::Run, &victim, 0, nullptr));
        ASSERT_TRUE(thread);
        ASSERT_TRUE(WaitUntil([&] { return victim.Calls.load() > 0; }, 10s));
        for (int spin = std::uniform_int_distribution<int>(0, 20000)(random); spin > 0; --spin)
            YieldProcessor();
        TerminateThread(thread.Get(), 9);
        WaitForSingleObject(thread.Get(), 10000);
        inside += trial >= WarmUp && victim.Inside.load() == TVictim::InExchange;
        if (!probe.Run([&] { SystemProbe(other, otherPanel); }, SystemProbeDeadline)) {
            std::printf("after %d kills the system's own lock stayed held\n", trial + 1);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), StuckExitCode);
        }
        library.TerminalDelete(chart);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s)) << "trial " << trial;
        ASSERT_EQ(WaitForThreadsStartedIn(library.Module(), 1), 1) << "trial " << trial;
    }
    const int gdiGrowth = GdiObjectCount() - gdiBefore;
    const double heapPerKill =
        (static_cast<double>(HeapBytesInUse()) - static_cast<double>(heapBefore)) / Kills;
    std::printf("%d kills, %d inside an exchange: %d GDI objects and %.0f heap bytes per kill "
                "left\n",
                Kills, inside, gdiGrowth, heapPerKill);
    RecordProperty("kills", Kills);
    RecordProperty("inside_exchange", inside);
    RecordProperty("gdi_objects_left", gdiGrowth);
    RecordProperty("heap_bytes_per_kill", static_cast<int>(std::lround(heapPerKill)));
    EXPECT_GT(gdiBefore, 0) << "GDI objects cannot be counted here";
    EXPECT_GE(inside * 2, Kills) << "too few kills landed inside an exchange to prove anything";
    EXPECT_LE(gdiGrowth, 2 * Kills);
    EXPECT_LE(heapPerKill, 1024);
    // Whatever the kills left, this process is done: no clean-up that could wait on it.
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), HasFailure() ? 1 : 0);
}

// ---- kills at chosen points ----------------------------------------------------------------

// The host kills its expert at one chosen call the library makes: the doomed thread dies on its
// Nth call of the patched function, before the call is made.
std::atomic<DWORD> DoomedThread{0};
std::atomic<int> DoomedCallsLeft{0};
std::atomic<void*> RealFunction{nullptr};

template <class TFunction, class... TArgs> auto DieIfDoomedOrCall(TArgs... AArgs) {
    if (GetCurrentThreadId() == DoomedThread.load() && --DoomedCallsLeft == 0)
        TerminateThread(GetCurrentThread(), 9);
    return reinterpret_cast<TFunction>(RealFunction.load())(AArgs...);
}
HANDLE WINAPI CreateThreadOrDie(LPSECURITY_ATTRIBUTES AAttributes, SIZE_T AStack,
                                LPTHREAD_START_ROUTINE AStart, LPVOID AParameter, DWORD AFlags,
                                LPDWORD AId) {
    return DieIfDoomedOrCall<decltype(&CreateThread)>(AAttributes, AStack, AStart, AParameter,
                                                      AFlags, AId);
}
BOOL WINAPI PostMessageAOrDie(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    return DieIfDoomedOrCall<decltype(&PostMessageA)>(AWindow, AMessage, AWParam, ALParam);
}
HANDLE WINAPI RemovePropAOrDie(HWND AWindow, LPCSTR AName) {
    return DieIfDoomedOrCall<decltype(&RemovePropA)>(AWindow, AName);
}
DWORD WINAPI WaitForSingleObjectOrDie(HANDLE AHandle, DWORD ATimeoutMs) {
    return DieIfDoomedOrCall<decltype(&WaitForSingleObject)>(AHandle, ATimeoutMs);
}

// The handles of threads this process holds. Wine's handle count is a stub, and Wine keeps
// handles of its own for a killed thread; the handles of threads are what the library's
// creates hold (its creator's and its panel thread's).
int ThreadHandleCount() {
    const std::vector<HANDLE> handles = OpenHandles();
    return static_cast<int>(std::count_if(
        handles.begin(), handles.end(), [](HANDLE AHandle) { return GetThreadId(AHandle) != 0; }));
}

using DllKillPoints = TDllTest;

TEST_F(DllKillPoints, AnExpertKilledBetweenTheStepsOfACreateOrADeleteLeavesItsChartWorking) {
    struct TCase {
        const char* Name;
        const char* Dll;
        const char* Function;
        void* Replacement;
        int Call; // the doomed thread dies on this call of the function
        bool Delete;
    };
    const TCase cases[] = {
        {"between recording the chart as pending and starting its panel thread", "kernel32.dll",
         "CreateThread", reinterpret_cast<void*>(&CreateThreadOrDie), 1, false},
        // The second wait of a create is for the lock again, to tell the record its thread
        // started: the thread runs on without its creator.
        {"between starting its panel thread and telling the record so", "kernel32.dll",
         "WaitForSingleObject", reinterpret_cast<void*>(&WaitForSingleObjectOrDie), 2, false},
        {"between removing the chart's two marks", "user32.dll", "RemovePropA",
         reinterpret_cast<void*>(&RemovePropAOrDie), 2, true},
        {"between unmarking the chart and closing its panel", "user32.dll", "PostMessageA",
         reinterpret_cast<void*>(&PostMessageAOrDie), 1, true},
    };
    for (const TCase& kill : cases) {
        SCOPED_TRACE(kill.Name);
        HWND chart = NewChart();
        if (kill.Delete) {
            ASSERT_NE(CreateAndWait(chart), nullptr);
        }
        struct TVictimCall {
            std::function<void()> Export;
            int Call;
            static DWORD WINAPI Run(LPVOID ACall) {
                auto& call = *static_cast<TVictimCall*>(ACall);
                DoomedCallsLeft = call.Call;
                DoomedThread = GetCurrentThreadId();
                call.Export();
                return 0;
            }
        } call{[&] { kill.Delete ? Delete(chart) : Create(chart); }, kill.Call};
        // The expert started after the kill, made and run first so that the handles its thread
        // holds (the watchdog keeps one of each named thread) are counted in.
        TStandbyThread expert;
        ASSERT_TRUE(expert.Run([] {}, 5000));
        // What the chart had before the kill; the lives after it leave nothing of theirs.
        const int panelThreads = PanelThreads();
        const int handlesBefore = ThreadHandleCount();
        DWORD exitCode = 0;
        {
            TImportPatch patch(Module(), kill.Dll, kill.Function, kill.Replacement);
            ASSERT_TRUE(patch.Applied()) << "the library does not import " << kill.Function;
            RealFunction = patch.Original();
            TKernelHandle victim(CreateThread(nullptr, 0, TVictimCall::Run, &call, 0, nullptr));
            ASSERT_TRUE(victim);
            ASSERT_EQ(WaitForSingleObject(victim.Get(), 10000), WAIT_OBJECT_0);
            GetExitCodeThread(victim.Get(), &exitCode);
            DoomedThread = 0;
        }
        EXPECT_EQ(exitCode, 9u) << "the expert was not killed at the chosen point";
        const char* failed = KilledChartFails(
            *FLibrary, *FHost, chart, [&](HWND AChart) { return AttachedPanel(AChart); }, expert);
        EXPECT_EQ(failed, nullptr) << "the chart failed at " << failed;
        if (failed)
            return; // the standby thread may be stuck for good
        // The creator's handle in its record and its panel thread's are closed by now. One
        // thread handle more stays in every case, deletes too, which hold none of a thread:
        // measured under Wine after a thread killed with TerminateThread, library or not.
        const int handlesAfter = ThreadHandleCount();
        EXPECT_TRUE(WaitUntil([&] { return ThreadHandleCount() <= handlesBefore + 1; }, 5s))
            << handlesAfter - handlesBefore << " thread handles left by the kill";
        EXPECT_TRUE(WaitUntil([&] { return PanelThreads() <= panelThreads; }, 5s))
            << PanelThreads() - panelThreads << " panel threads left by the kill";
    }
    ExpectNormalCycleWorks();
}

// ---- faults on the host's memory ---------------------------------------------------------

// A host that catches a fault inside a call and abandons the call, as the terminal does when
// an expert's DLL call faults: nothing of the library runs after the fault.
std::atomic<DWORD> FaultingThread{0};

void AbandonCall() {
    ExitThread(7);
}

LONG CALLBACK CatchFault(EXCEPTION_POINTERS* AException) {
    if (AException->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
        GetCurrentThreadId() != FaultingThread.load())
        return EXCEPTION_CONTINUE_SEARCH;
    ContinueAt(*AException->ContextRecord, &AbandonCall);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Runs a call on a thread of its own under the catching host; true when it faulted.
bool FaultsAndIsCaught(std::function<void()> ACall) {
    struct TCall {
        std::function<void()> Work;
        static DWORD WINAPI Run(LPVOID ACall) {
            FaultingThread = GetCurrentThreadId();
            static_cast<TCall*>(ACall)->Work();
            return 0;
        }
    } call{std::move(ACall)};
    PVOID handler = AddVectoredExceptionHandler(1, CatchFault);
    TKernelHandle thread(CreateThread(nullptr, 0, TCall::Run, &call, 0, nullptr));
    const bool ended = WaitForSingleObject(thread.Get(), 10000) == WAIT_OBJECT_0;
    RemoveVectoredExceptionHandler(handler);
    FaultingThread = 0;
    DWORD code = 0;
    GetExitCodeThread(thread.Get(), &code);
    EXPECT_TRUE(ended) << "the call neither returned nor faulted";
    return ended && code == 7;
}

// Two pages: the first readable and writable, the second not accessible at all.
struct TGuardedPages {
    TGuardedPages() {
        Base = static_cast<char*>(
            VirtualAlloc(nullptr, 2 * Page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(Base + Page, Page, PAGE_NOACCESS, &old);
    }
    ~TGuardedPages() { VirtualFree(Base, 0, MEM_RELEASE); }
    static constexpr size_t Page = 4096;
    char* Base = nullptr;
    char* End() const { return Base + Page; }
};

using DllHostFaults = TDllTest;

TEST_F(DllHostFaults, AFaultOnTheHostsMemoryCaughtByTheHostLeavesEveryChartWorking) {
    HWND chart = NewChart(L"EURUSD,M1", 40, 40);
    HWND other = NewChart(L"GBPUSD,M1", 500, 40);
    ASSERT_NE(CreateAndWait(chart), nullptr);
    ASSERT_NE(CreateAndWait(other, {.Lots = 0.3}), nullptr);
    struct TCase {
        const char* Name;
        std::function<void(TGuardedPages&)> Call;
    };
    const TCase cases[] = {
        {"a read-only block",
         [&](TGuardedPages& APages) {
             DWORD old = 0;
             VirtualProtect(APages.Base, TGuardedPages::Page, PAGE_READONLY, &old);
             Exchange(chart, reinterpret_cast<double*>(APages.Base));
         }},
        {"a block of three slots passed as four",
         [&](TGuardedPages& APages) {
             Exchange(chart, reinterpret_cast<double*>(APages.End() - 3 * sizeof(double)));
         }},
        {"a symbol without its terminating zero",
         [&](TGuardedPages& APages) {
             std::memset(APages.Base, 'A', TGuardedPages::Page);
             HWND bare = NewChart(L"bare", 300, 300);
             TCreateArgs args;
             args.Symbol = APages.Base;
             Create(bare, args);
         }},
    };
    for (const TCase& fault : cases) {
        SCOPED_TRACE(fault.Name);
        TGuardedPages pages;
        EXPECT_TRUE(FaultsAndIsCaught([&] { fault.Call(pages); })) << "the call did not fault";
        EXPECT_TRUE(ChartAnswers([&](TBlock& ABlock) { return Exchange(other, ABlock); }))
            << "another chart stopped answering";
        EXPECT_TRUE(ChartAnswers([&](TBlock& ABlock) { return Exchange(chart, ABlock); }))
            << "the faulting chart stopped answering to a good block";
    }
    ExpectNormalCycleWorks();
}

// ---- slow neighbours ---------------------------------------------------------------------

// An expert exchanging with a chart as fast as it can on a thread of its own, counting the
// exchanges that began and ended while a condition held, and the slowest of all.
class TSteadyExpert {
public:
    TSteadyExpert(std::function<int(TBlock&)> AExchange, std::function<bool()> AWhile)
        : FThread([this, AExchange, AWhile] {
              ProgressThreadName("steady expert");
              while (!FStop.load()) {
                  TBlock block;
                  const bool before = AWhile();
                  const auto start = Clock::now();
                  const int result = AExchange(block);
                  const auto took = Clock::now() - start;
                  FSlowest = std::max(FSlowest.load(), Milliseconds(took));
                  FCalls += result == erNothing && !block.IsUntouched();
                  FDuring += before && AWhile() && result == erNothing;
                  Sleep(1);
              }
          }) {}
    ~TSteadyExpert() { Stop(); }
    void Stop() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }
    long During() const { return FDuring.load(); }
    long Calls() const { return FCalls.load(); }
    double SlowestMilliseconds() const { return FSlowest.load(); }

private:
    std::atomic<bool> FStop{false};
    std::atomic<long> FDuring{0};
    std::atomic<long> FCalls{0};
    std::atomic<double> FSlowest{0};
    std::thread FThread;
};

using DllSlowNeighbours = TDllTest;

TEST_F(DllSlowNeighbours, AChartThreadThatStopsPumpingDuringABuildStallsNoOtherChart) {
    HWND other = NewChart();
    ASSERT_NE(CreateAndWait(other), nullptr);
    TBusyChart busy;
    ASSERT_NE(busy.Window(), nullptr);
    busy.KeepBusy(3000);
    // The build waits for the busy chart's thread; the other chart's exchanges do not.
    Create(busy.Window());
    TSteadyExpert expert([&](TBlock& ABlock) { return Exchange(other, ABlock); },
                         [&] { return busy.Busy() && !AttachedPanel(busy.Window()); });
    ASSERT_TRUE(WaitUntil([&] { return !busy.Busy(); }, 10s));
    HWND panel = WaitForPanel(busy.Window());
    expert.Stop();
    RecordProperty("exchanges_on_another_chart", static_cast<int>(expert.During()));
    RecordProperty("slowest_exchange_us",
                   static_cast<int>(std::lround(expert.SlowestMilliseconds() * 1000)));
    EXPECT_GT(expert.During(), 10) << "the other chart's exchanges waited for the build";
    EXPECT_NE(panel, nullptr) << "the panel did not come once the chart thread pumped again";
    Delete(busy.Window());
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
}

// The shell, replaced for the test: it takes 1.5 s, as a browser that is slow to start does.
std::atomic<int> ShellCalls{0};
std::atomic<DWORD> ShellThread{0};
std::atomic<bool> ShellBusy{false};

HINSTANCE WINAPI SlowShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ShellBusy = true;
    ++ShellCalls;
    ShellThread = GetCurrentThreadId();
    Sleep(1500);
    ShellBusy = false;
    return reinterpret_cast<HINSTANCE>(42);
}

TEST_F(DllSlowNeighbours, ASlowShellStallsNoChartAndOpensTheLinkOnceOnTheLibrarysOwnThread) {
    TImportPatch shell(Module(), "shell32.dll", "ShellExecuteW",
                       reinterpret_cast<void*>(&SlowShell));
    ASSERT_TRUE(shell.Applied());
    ShellCalls = 0;
    ShellThread = 0;
    HWND chart = NewChart(L"EURUSD,M1", 40, 40);
    HWND other = NewChart(L"GBPUSD,M1", 500, 40);
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(CreateAndWait(other), nullptr);
    {
        TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
        PostClick(panel, PoweredByPoint);
        ASSERT_TRUE(watch.Flush(panel));
    }
    TSteadyExpert expert([&](TBlock& ABlock) { return Exchange(other, ABlock); },
                         [] { return ShellBusy.load(); });
    DWORD caller = 0;
    TBlock block;
    int result = -1;
    bool shellDoneAtReturn = true;
    std::thread clicked([&] {
        caller = GetCurrentThreadId();
        result = Exchange(chart, block);
        shellDoneAtReturn = ShellCalls.load() == 1 && !ShellBusy.load();
    });
    clicked.join();
    // The clicking chart itself goes on while the shell works.
    TBlock during;
    EXPECT_EQ(Exchange(chart, during), erNothing);
    EXPECT_TRUE(WaitUntil([] { return ShellCalls.load() == 1 && !ShellBusy.load(); }, 10s));
    expert.Stop();
    RecordProperty("exchanges_on_another_chart", static_cast<int>(expert.During()));
    RecordProperty("slowest_exchange_us",
                   static_cast<int>(std::lround(expert.SlowestMilliseconds() * 1000)));
    EXPECT_GT(expert.During(), 10) << "the other chart's exchanges waited for the shell";
    EXPECT_FALSE(shellDoneAtReturn) << "the clicking exchange waited for the shell";
    EXPECT_EQ(ShellCalls.load(), 1);
    EXPECT_NE(ShellThread.load(), caller) << "the link opened on the expert's thread";
    EXPECT_NE(ShellThread.load(), GetWindowThreadProcessId(panel, nullptr))
        << "the link opened on the panel thread";
    EXPECT_EQ(result, erNothing);
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
    EXPECT_EQ(Exchange(chart, block), erNothing);
    Sleep(100);
    EXPECT_EQ(ShellCalls.load(), 1) << "the link opened twice";
}

// ---- the expert's thread takes no lock of the process ----------------------------------------

// Calls that take the heap's, the loader's or the shell's lock, counted when the watched thread
// makes them. Each hook is one import slot's replacement; the real function is called on.
enum TLockedCall {
    lcMalloc,
    lcCalloc,
    lcRealloc,
    lcFree,
    lcRtlAlloc,
    lcRtlReAlloc,
    lcRtlFree,
    lcHeapAlloc,
    lcHeapReAlloc,
    lcHeapFree,
    lcLoadLibrary,
    lcShell,
    lcCount
};
const char* const LockedCallNames[lcCount] = {
    "malloc",      "calloc",    "realloc",     "free",     "RtlAllocateHeap", "RtlReAllocateHeap",
    "RtlFreeHeap", "HeapAlloc", "HeapReAlloc", "HeapFree", "LoadLibraryW",    "ShellExecuteW"};
std::atomic<DWORD> WatchedThread{0};
std::atomic<int> LockedCalls[lcCount];
std::atomic<void*> LockedCallReal[lcCount];

template <TLockedCall ACall, class TResult, class... TArgs>
TResult __cdecl CountCdecl(TArgs... AArgs) {
    if (GetCurrentThreadId() == WatchedThread.load())
        ++LockedCalls[ACall];
    return reinterpret_cast<TResult(__cdecl*)(TArgs...)>(LockedCallReal[ACall].load())(AArgs...);
}
template <TLockedCall ACall, class TResult, class... TArgs>
TResult WINAPI CountWinapi(TArgs... AArgs) {
    if (GetCurrentThreadId() == WatchedThread.load())
        ++LockedCalls[ACall];
    return reinterpret_cast<TResult(WINAPI*)(TArgs...)>(LockedCallReal[ACall].load())(AArgs...);
}

// Every import slot through which the library, or the system's window and graphics libraries
// it calls, reach the heap, the loader or the shell, replaced by a counting hook while it lives.
class TLockedCallProbe {
public:
    explicit TLockedCallProbe(HMODULE ALibrary) {
        struct THook {
            const char* Dll;
            TLockedCall Call;
            void* Hook;
        };
        const THook crt[] = {
            {"msvcrt.dll", lcMalloc, reinterpret_cast<void*>(&CountCdecl<lcMalloc, void*, size_t>)},
            {"msvcrt.dll", lcCalloc,
             reinterpret_cast<void*>(&CountCdecl<lcCalloc, void*, size_t, size_t>)},
            {"msvcrt.dll", lcRealloc,
             reinterpret_cast<void*>(&CountCdecl<lcRealloc, void*, void*, size_t>)},
            {"msvcrt.dll", lcFree, reinterpret_cast<void*>(&CountCdecl<lcFree, void, void*>)},
            {"kernel32.dll", lcLoadLibrary,
             reinterpret_cast<void*>(&CountWinapi<lcLoadLibrary, HMODULE, LPCWSTR>)},
            {"shell32.dll", lcShell,
             reinterpret_cast<void*>(
                 &CountWinapi<lcShell, HINSTANCE, HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT>)},
        };
        const THook heap[] = {
            {"ntdll.dll", lcRtlAlloc,
             reinterpret_cast<void*>(&CountWinapi<lcRtlAlloc, PVOID, HANDLE, ULONG, SIZE_T>)},
            {"ntdll.dll", lcRtlReAlloc,
             reinterpret_cast<void*>(
                 &CountWinapi<lcRtlReAlloc, PVOID, HANDLE, ULONG, PVOID, SIZE_T>)},
            {"ntdll.dll", lcRtlFree,
             reinterpret_cast<void*>(&CountWinapi<lcRtlFree, BOOLEAN, HANDLE, ULONG, PVOID>)},
            {"kernel32.dll", lcHeapAlloc,
             reinterpret_cast<void*>(&CountWinapi<lcHeapAlloc, LPVOID, HANDLE, DWORD, SIZE_T>)},
            {"kernel32.dll", lcHeapReAlloc,
             reinterpret_cast<void*>(
                 &CountWinapi<lcHeapReAlloc, LPVOID, HANDLE, DWORD, LPVOID, SIZE_T>)},
            {"kernel32.dll", lcHeapFree,
             reinterpret_cast<void*>(&CountWinapi<lcHeapFree, BOOL, HANDLE, DWORD, LPVOID>)},
        };
        for (const THook& hook : crt)
            Patch(ALibrary, hook.Dll, hook.Call, hook.Hook);
        // What the library calls on an exchange: the window manager, graphics and common
        // controls, and the kernel's own wrappers.
        // The heap's functions are imported from kernel32 by some and from kernelbase by others.
        const auto patchHeap = [&](HMODULE AModule) {
            for (const THook& hook : heap) {
                Patch(AModule, hook.Dll, hook.Call, hook.Hook);
                if (std::strcmp(hook.Dll, "kernel32.dll") == 0)
                    Patch(AModule, "kernelbase.dll", hook.Call, hook.Hook);
            }
        };
        for (const wchar_t* system :
             {L"user32.dll", L"win32u.dll", L"gdi32.dll", L"comctl32.dll", L"kernelbase.dll"})
            if (HMODULE module = GetModuleHandleW(system))
                patchHeap(module);
        patchHeap(ALibrary);
    }
    // How many slots were replaced for this kind of call.
    int Slots(TLockedCall ACall) const { return FSlots[ACall]; }
    int HeapSlots() const {
        int slots = 0;
        for (int call = lcRtlAlloc; call <= lcHeapFree; ++call)
            slots += FSlots[call];
        return slots;
    }
    // Runs AWork on a thread of its own and counts its calls; a line per kind of call made.
    static std::string CallsMadeBy(const std::function<void()>& AWork) {
        for (auto& calls : LockedCalls)
            calls = 0;
        std::thread([&] {
            WatchedThread = GetCurrentThreadId();
            AWork();
            WatchedThread = 0;
        }).join();
        std::string made;
        for (int call = 0; call < lcCount; ++call)
            if (const int calls = LockedCalls[call].load())
                made += std::string(LockedCallNames[call]) + " x" + std::to_string(calls) + "\n";
        return made;
    }

private:
    void Patch(HMODULE AModule, const char* ADll, TLockedCall ACall, void* AHook) {
        auto patch = std::make_unique<TImportPatch>(AModule, ADll, LockedCallNames[ACall], AHook);
        if (!patch->Applied())
            return;
        LockedCallReal[ACall] = patch->Original();
        ++FSlots[ACall];
        FPatches.push_back(std::move(patch));
    }
    // Restored in reverse order, the first slot patched last.
    std::vector<std::unique_ptr<TImportPatch>> FPatches;
    int FSlots[lcCount] = {};
};

// The shell, replaced for the test: it records the thread it runs on.
std::atomic<int> QuickShellCalls{0};
std::atomic<DWORD> QuickShellThread{0};
HINSTANCE WINAPI QuickShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    QuickShellThread = GetCurrentThreadId();
    ++QuickShellCalls;
    return reinterpret_cast<HINSTANCE>(42);
}

using DllExpertsThread = TDllTest;

TEST_F(DllExpertsThread, AnExchangeAllocatesNothingAndCallsNeitherTheLoaderNorTheShell) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    const DWORD panelThread = GetWindowThreadProcessId(panel, nullptr);
    // The shell's slot is replaced first: the probe then counts calls of this stand-in.
    TImportPatch shell(Module(), "shell32.dll", "ShellExecuteW",
                       reinterpret_cast<void*>(&QuickShell));
    ASSERT_TRUE(shell.Applied());
    QuickShellCalls = 0;
    TLockedCallProbe probe(Module());
    ASSERT_GT(probe.Slots(lcMalloc), 0) << "the library's own allocations are not seen";
    ASSERT_GT(probe.Slots(lcShell), 0);
    // The window manager's and the graphics' own allocations are seen too.
    ASSERT_GE(probe.HeapSlots(), 6) << "too few of the system's heap imports were found";
    RecordProperty("system_heap_slots", probe.HeapSlots());
    const TPellithLibrary& library = *FLibrary;
    double block[ExchangeBlockSize] = {};
    const auto exchange = [&](double AAsk) {
        return [&, AAsk] {
            library.TerminalProcessMsg(AAsk, 1.10510, 1e-5, 1e-4, 5, block, ExchangeBlockSize,
                                       chart);
        };
    };
    // The probe sees what it should: a create allocates on its caller's thread.
    EXPECT_NE(TLockedCallProbe::CallsMadeBy([&] {
                  library.TerminalCreate(1.1, 1.0, 1e-5, 1e-4, 0.1, 50, 25, 15, 5,
                                         NewChart(L"other", 500, 40), "GBPUSD");
              }),
              "")
        << "the probe counts nothing";
    struct TCase {
        const char* Name;
        POINT Click; // {-1, -1} for none
        double Ask;
    };
    const TCase cases[] = {
        {"a new price", {-1, -1}, 1.10600},
        {"the same price again", {-1, -1}, 1.10600},
        {"a click on the buy price", BuyPricePoint, 1.10601},
        {"a click on the link", PoweredByPoint, 1.10602},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        if (test.Click.x >= 0) {
            TQueueWatch watch(panelThread);
            PostClick(panel, test.Click);
            ASSERT_TRUE(watch.Flush(panel));
        }
        EXPECT_EQ(TLockedCallProbe::CallsMadeBy(exchange(test.Ask)), "")
            << "the expert's thread made these calls";
        EXPECT_EQ(block[esLots], 0.1) << "the exchange did not reach the panel";
    }
    // The link opened all the same, once, on a thread that is neither the expert's nor the
    // panel's.
    EXPECT_TRUE(WaitUntil([] { return QuickShellCalls.load() == 1; }, 5s));
    EXPECT_NE(QuickShellThread.load(), panelThread);
}

// ---- the cost of an exchange ---------------------------------------------------------------

using DllExchangeCost = TDllTest;

// Stops a thread in its message loop for a while: a hook on the thread that sleeps when it takes
// the stall message. Under Wine the show requests a cross-thread ShowWindow makes are internal
// messages that no hook sees, so a stalled thread is how a waiting send shows itself.
const UINT StallMessage = RegisterWindowMessageW(L"PellithTestStall");
std::atomic<bool> Stalled{false};

LRESULT CALLBACK StallOnRequest(int ACode, WPARAM AWParam, LPARAM ALParam) {
    const MSG& message = *reinterpret_cast<const MSG*>(ALParam);
    if (ACode == HC_ACTION && AWParam == PM_REMOVE && message.message == StallMessage) {
        Stalled = true;
        Sleep(static_cast<DWORD>(message.lParam));
        Stalled = false;
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

TEST_F(DllExchangeCost, AnExchangeOnAShownPanelSendsNothingToThePanelThread) {
    HWND chart = NewChart();
    HWND panel = CreateAndWait(chart);
    ASSERT_NE(panel, nullptr);
    TQueueWatch watch(GetWindowThreadProcessId(panel, nullptr));
    ASSERT_TRUE(watch.Flush(panel));
    TMessageLog log(GetWindowThreadProcessId(panel, nullptr));
    ASSERT_TRUE(log.Installed());
    for (int i = 0; i < 50; ++i) {
        TBlock block;
        ASSERT_EQ(Exchange(chart, block, {.Ask = 1.2 + i * 1e-5, .Bid = 1.1 + i * 1e-5}),
                  erNothing);
    }
    ASSERT_TRUE(watch.Flush(panel));
    EXPECT_EQ(log.CrossThreadSends(), 0) << "an exchange waited for the panel thread";
    // With the panel thread stopped for 2 s, the exchanges go on.
    const DWORD panelThread = GetWindowThreadProcessId(panel, nullptr);
    HHOOK stall = SetWindowsHookExW(WH_GETMESSAGE, StallOnRequest, nullptr, panelThread);
    ASSERT_NE(stall, nullptr);
    PostMessageW(panel, StallMessage, 0, 2000);
    ASSERT_TRUE(WaitUntil([] { return Stalled.load(); }, 10s));
    int duringStall = 0;
    while (Stalled.load()) {
        TBlock block;
        const int result = Exchange(chart, block);
        duringStall += Stalled.load() && result == erNothing && !block.IsUntouched();
    }
    UnhookWindowsHookEx(stall);
    RecordProperty("exchanges_while_the_panel_thread_stood_still", duringStall);
    EXPECT_GT(duringStall, 5) << "exchanges waited for the panel thread";
    // Hidden from outside, it is shown again, still without a send from the host's thread.
    ShowWindow(panel, SW_HIDE);
    TBlock block;
    EXPECT_EQ(Exchange(chart, block), erNothing);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(panel) != FALSE; }, 10s));
    ExpectBlock(block.Values, 0.1, 50, 25, 15);
}

// ---- a panel's life leaves nothing ---------------------------------------------------------

using DllLifetime = TDllTest;

TEST_F(DllLifetime, APanelLifeLeavesNoGdiObjectAndNoHeapBeyondItsRecord) {
    HWND chart = NewChart();
    const auto life = [&] {
        HWND panel = CreateAndWait(chart);
        ASSERT_NE(panel, nullptr);
        // The pointer over the sell price shows its hint window, as a trader's does.
        PostMessageW(panel, WM_MOUSEMOVE, 0, MAKELPARAM(SellPricePoint.x, SellPricePoint.y));
        TBlock block;
        ASSERT_EQ(Exchange(chart, block), erNothing);
        Delete(chart);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(panel); }, 10s));
        ASSERT_EQ(WaitForPanelThreads(0), 0);
    };
    // The first lives make what stays for the process: classes, caches, the bitmap.
    for (int i = 0; i < 3; ++i)
        life();
    constexpr int Lives = 60;
    const int gdiBefore = GdiObjectCount();
    const size_t heapBefore = HeapBytesInUse();
    for (int i = 0; i < Lives && !HasFatalFailure(); ++i)
        life();
    const int gdiAfter = GdiObjectCount();
    const size_t heapAfter = HeapBytesInUse();
    const double heapPerLife =
        (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / Lives;
    RecordProperty("lives", Lives);
    RecordProperty("gdi_objects_before", gdiBefore);
    RecordProperty("gdi_objects_left", gdiAfter - gdiBefore);
    RecordProperty("heap_bytes_per_life", static_cast<int>(std::lround(heapPerLife)));
    EXPECT_GT(gdiBefore, 0) << "GDI objects cannot be counted here";
    EXPECT_LE(gdiAfter - gdiBefore, 2) << "panel lives leave GDI objects behind";
    // A life's record is used again by the next (the create/delete cycles below measure that
    // alone); here the system's own caches wander by a few hundred bytes over 60 lives, and a
    // leaked hint window costs kilobytes.
    EXPECT_LT(heapPerLife, 400) << "panel lives leave heap behind";
}

TEST_F(DllLifetime, CreatesAndDeletesLeaveAtMost64BytesEach) {
    // Each cycle starts a panel thread, which takes Wine a few milliseconds.
    ArmWatchdog(std::chrono::seconds(1100), "the create/delete cycles");
    HWND chart = NewChart();
    // Most cycles cancel a build in the making (the delete finds the chart pending); every
    // fiftieth is a whole life with an exchange.
    const auto cycle = [&](int AIndex) {
        Create(chart);
        if (AIndex % 50 == 0) {
            ASSERT_NE(WaitForPanel(chart), nullptr);
            TBlock block;
            ASSERT_EQ(Exchange(chart, block), erNothing);
        }
        Delete(chart);
    };
    for (int i = 0; i < 100 && !HasFatalFailure(); ++i)
        cycle(i);
    ASSERT_EQ(WaitForPanelThreads(0), 0);
    const int cycles = TestOption("cycles").empty() ? 2000 : std::stoi(TestOption("cycles"));
    const size_t heapBefore = HeapBytesInUse();
    const auto started = Clock::now();
    for (int i = 0; i < cycles && !HasFatalFailure(); ++i) {
        cycle(i);
        // The cancelled panel threads end now and then, as they do between an expert's
        // restarts: a record is used again once its thread let go of it.
        if (i % 100 == 99) {
            Progress("create/delete cycles, waiting for their panel threads to end");
            ASSERT_EQ(WaitForPanelThreads(0), 0);
        }
    }
    ASSERT_EQ(WaitForPanelThreads(0), 0);
    const double heapPerCycle =
        (static_cast<double>(HeapBytesInUse()) - static_cast<double>(heapBefore)) / cycles;
    RecordProperty("cycles", cycles);
    RecordProperty("heap_bytes_per_cycle", static_cast<int>(std::lround(heapPerCycle)));
    std::printf("%d create/delete cycles in %.0f s: %.2f heap bytes per cycle left\n", cycles,
                Milliseconds(Clock::now() - started) / 1000, heapPerCycle);
    EXPECT_LE(heapPerCycle, 64) << "records are not used again";
}

// ---- a live owner of the library's lock that stops -------------------------------------------

// RemovePropA as the stopping owner meets it, inside the library's lock: the thread suspends
// itself there until the test resumes it, as a host that stops a thread would.
std::atomic<DWORD> StoppingThread{0};
std::atomic<void*> RealRemovePropA{nullptr};
HANDLE WINAPI RemovePropAOrStop(HWND AWindow, LPCSTR AName) {
    if (GetCurrentThreadId() == StoppingThread.load()) {
        StoppingThread = 0;
        SuspendThread(GetCurrentThread());
    }
    return reinterpret_cast<decltype(&RemovePropA)>(RealRemovePropA.load())(AWindow, AName);
}

using DllStoppedOwner = TDllTest;

TEST_F(DllStoppedOwner, OtherChartsCallsReturnWithinTheBoundAndAWaitingCreateGetsItsPanelLater) {
    const HWND owned = NewChart(L"owner", 40, 40);
    ASSERT_NE(CreateAndWait(owned), nullptr);
    const HWND served = NewChart(L"served", 500, 40);
    const HWND servedPanel = CreateAndWait(served);
    ASSERT_NE(servedPanel, nullptr);
    const HWND asking = NewChart(L"asking", 40, 360);    // created while the owner is stopped
    const HWND dropped = NewChart(L"dropped", 500, 360); // created, then deleted meanwhile
    TImportPatch patch(Module(), "user32.dll", "RemovePropA",
                       reinterpret_cast<void*>(&RemovePropAOrStop));
    ASSERT_TRUE(patch.Applied());
    RealRemovePropA = patch.Original();
    struct TOwner {
        const TPellithLibrary* Library;
        HWND Chart;
        static DWORD WINAPI Run(LPVOID AOwner) {
            auto& owner = *static_cast<TOwner*>(AOwner);
            StoppingThread = GetCurrentThreadId();
            owner.Library->TerminalDelete(owner.Chart);
            return 0;
        }
    } ownerCall{FLibrary.get(), owned};
    const TKernelHandle owner(CreateThread(nullptr, 0, TOwner::Run, &ownerCall, 0, nullptr));
    ASSERT_TRUE(owner);
    const auto stopped = [&] {
        const DWORD count = SuspendThread(owner.Get());
        ResumeThread(owner.Get());
        return count != static_cast<DWORD>(-1) && count > 0;
    };
    ASSERT_TRUE(WaitUntil(stopped, 10s)) << "the owner never stopped inside the lock";
    // Each call waits out the lock's bound once and must come back soon after.
    const auto bound = std::chrono::milliseconds(TKernelLock::WaitBoundMs) + 3s;
    struct TCall {
        const char* Name;
        std::function<void()> Work;
        std::chrono::milliseconds Deadline;
        bool Returned = false;
    };
    TCall calls[] = {
        {"a create", [&] { Create(asking); }, bound},
        {"a create and a delete",
         [&] {
             Create(dropped);
             Delete(dropped);
         },
         2 * bound},
        {"a delete of a chart with a panel", [&] { Delete(served); }, bound},
    };
    {
        std::vector<std::thread> callers;
        for (TCall& call : calls)
            callers.emplace_back(
                [&call] { call.Returned = CompletesWithin(call.Work, call.Deadline); });
        for (std::thread& caller : callers)
            caller.join();
    }
    for (const TCall& call : calls)
        EXPECT_TRUE(call.Returned) << call.Name << " waited for the stopped owner";
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(servedPanel); }, 10s))
        << "a delete that could not take the lock left its panel";
    EXPECT_EQ(AttachedPanel(asking), nullptr) << "a panel was attached under a stopped owner";
    ResumeThread(owner.Get());
    ASSERT_EQ(WaitForSingleObject(owner.Get(), 10000), WAIT_OBJECT_0);
    // No create is asked again: the library keeps the one that could not take the lock.
    EXPECT_NE(WaitForPanel(asking), nullptr) << "the chart never got its panel";
    EXPECT_EQ(WaitForPanelThreads(1), 1);
    EXPECT_EQ(AttachedPanel(dropped), nullptr) << "a deleted chart got a panel";
    ExpectNormalCycleWorks();
}

// ---- a record used again ---------------------------------------------------------------------

// GetWindowLongW as the held expert meets it: it stops there until let go, then finds the panel
// alive, as an exchange that read the style just before its panel went would.
std::atomic<DWORD> HeldThread{0};
std::atomic<bool> HeldInside{false};
std::atomic<HANDLE> HeldRelease{nullptr};
std::atomic<void*> RealGetWindowLongW{nullptr};
LONG WINAPI GetWindowLongWHeld(HWND AWindow, int AIndex) {
    if (GetCurrentThreadId() != HeldThread.load())
        return reinterpret_cast<decltype(&GetWindowLongW)>(RealGetWindowLongW.load())(AWindow,
                                                                                      AIndex);
    HeldInside = true;
    WaitForSingleObject(HeldRelease.load(), 30000);
    return WS_CHILD | WS_VISIBLE;
}

using DllRecordReuse = TDllTest;

// An exchange still inside a chart's record when the chart's panel is deleted and created anew:
// the record must not serve the new panel, or the old exchange takes the new panel's click (an
// order the trader's expert on that chart never sees) and writes its quote into it.
TEST_F(DllRecordReuse, AnExchangeInsideAnEndedRecordKeepsItFromTheNextCreate) {
    // Alone in a process, the held record is the newest ended one: the first a create could take.
    PELLITH_RUN_IN_CHILD_PROCESS();
    struct TCase {
        const char* Name;
        bool Kill;
    };
    const TCase cases[] = {{"the exchange let go after the new create", false},
                           {"the exchange killed inside", true}};
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        HWND chart = NewChart();
        const HWND old = CreateAndWait(chart);
        ASSERT_NE(old, nullptr);
        TImportPatch patch(Module(), "user32.dll", "GetWindowLongW",
                           reinterpret_cast<void*>(&GetWindowLongWHeld));
        ASSERT_TRUE(patch.Applied());
        RealGetWindowLongW = patch.Original();
        const TKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HeldRelease = release.Get();
        HeldInside = false;
        struct TExpert {
            const TPellithLibrary* Library;
            HWND Chart;
            std::atomic<int> Result{-1};
            static DWORD WINAPI Run(LPVOID AExpert) {
                auto& expert = *static_cast<TExpert*>(AExpert);
                HeldThread = GetCurrentThreadId();
                double block[ExchangeBlockSize] = {};
                expert.Result = expert.Library->TerminalProcessMsg(
                    1.10600, 1.10590, 1e-5, 1e-4, 5, block, ExchangeBlockSize, expert.Chart);
                return 0;
            }
        } expert{FLibrary.get(), chart};
        const TKernelHandle thread(CreateThread(nullptr, 0, TExpert::Run, &expert, 0, nullptr));
        ASSERT_TRUE(thread);
        ASSERT_TRUE(WaitUntil([] { return HeldInside.load(); }, 10s)) << "the exchange never came";
        Delete(chart);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(old); }, 10s));
        ASSERT_EQ(WaitForPanelThreads(0), 0);
        if (test.Kill) {
            TerminateThread(thread.Get(), 9);
            ASSERT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0);
        }
        const HWND fresh = CreateAndWait(chart);
        ASSERT_NE(fresh, nullptr);
        ClickAndFlush(fresh, TSide::Buy);
        if (!test.Kill) {
            SetEvent(release.Get());
            ASSERT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0);
            EXPECT_NE(expert.Result.load(), erBuy) << "the old exchange took the new panel's click";
        }
        HeldThread = 0;
        TBlock block;
        EXPECT_EQ(Exchange(chart, block), erBuy) << "the new panel's click was lost";
        EXPECT_EQ(block.Values[esLots], 0.1);
        Delete(chart);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(fresh); }, 10s));
        ASSERT_EQ(WaitForPanelThreads(0), 0);
    }
    ExpectNormalCycleWorks();
}

// ---- a soak --------------------------------------------------------------------------------

using DllSoak = TDllTest;

TEST_F(DllSoak, FourChartsWithTwoExpertsEachAt200HzWhilePanelsComeAndGoOnAFifth) {
    constexpr int Charts = 4;
    constexpr int ExpertsPerChart = 2;
    constexpr auto Duration = 8s;
    std::vector<HWND> charts;
    for (int i = 0; i < Charts; ++i) {
        charts.push_back(NewChart(L"soak", 10 + 490 * (i % 2), 10 + 330 * (i / 2)));
        ASSERT_NE(CreateAndWait(charts.back()), nullptr);
    }
    HWND cycling = NewChart(L"cycling", 250, 170);
    const int threadsBefore = ThreadCount();
    const size_t heapBefore = HeapBytesInUse();
    std::atomic<bool> stop{false};
    std::atomic<long> exchanges{0}, bad{0};
    std::vector<std::thread> experts;
    for (int i = 0; i < Charts; ++i)
        for (int e = 0; e < ExpertsPerChart; ++e)
            experts.emplace_back([&, i] {
                ProgressThreadName("soak expert");
                auto next = Clock::now();
                for (long k = 0; !stop.load(); ++k) {
                    TBlock block;
                    const int result =
                        Exchange(charts[i], block,
                                 {.Ask = 1.1002 + (k % 50) * 1e-5, .Bid = 1.1 + (k % 50) * 1e-5});
                    ++exchanges;
                    bad += result != erNothing || block.Values[esLots] != 0.1;
                    next += 5ms; // 200 Hz
                    std::this_thread::sleep_until(next);
                }
            });
    // The soak lasts its time and at least MinLives lives: a loaded machine makes lives slower,
    // not fewer.
    constexpr int MinLives = 12;
    int lives = 0, mostThreads = threadsBefore;
    const auto end = Clock::now() + Duration;
    while (Clock::now() < end || lives < MinLives) {
        Progress("a life on the fifth chart");
        Create(cycling);
        if (lives % 2 == 0)
            WaitForPanel(cycling, nullptr, 10s);
        TBlock block;
        Exchange(cycling, block);
        Delete(cycling);
        ++lives;
        mostThreads = std::max(mostThreads, ThreadCount());
    }
    stop = true;
    for (std::thread& expert : experts)
        expert.join();
    Progress("waiting for the fifth chart's panels to go");
    EXPECT_EQ(WaitForPanelThreads(Charts), Charts) << "panel threads piled up";
    const int threadsAfter = WaitForThreadCount(threadsBefore);
    const size_t heapAfter = HeapBytesInUse();
    const double growthPerLife =
        (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / std::max(lives, 1);
    RecordProperty("exchanges", static_cast<int>(exchanges.load()));
    RecordProperty("charts", Charts);
    RecordProperty("seconds", static_cast<int>(Duration.count()));
    RecordProperty("lives", lives);
    RecordProperty("threads_before", threadsBefore);
    RecordProperty("most_threads", mostThreads);
    RecordProperty("threads_after", threadsAfter);
    RecordProperty("heap_bytes_per_life", static_cast<int>(std::lround(growthPerLife)));
    EXPECT_EQ(bad.load(), 0);
    // The experts, and the fifth chart's panel threads of a few lives at most.
    EXPECT_LE(mostThreads, threadsBefore + Charts * ExpertsPerChart + 6) << "threads piled up";
    EXPECT_LE(threadsAfter, threadsBefore);
    EXPECT_LT(growthPerLife, 1024) << "memory grows beyond the records";
}

// ---- floating point ------------------------------------------------------------------------

unsigned short X87ControlWord() {
    unsigned short word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}
void SetX87ControlWord(unsigned short AWord) {
    __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(AWord));
}
unsigned int SseControlWord() {
    unsigned int word = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(word));
    return word;
}
void SetSseControlWord(unsigned int AWord) {
    __asm__ __volatile__("ldmxcsr %0" : : "m"(AWord));
}

TEST(DllFloatingPoint, AHostWithExceptionsUnmaskedNeitherTrapsNorLosesItsControlWords) {
    // A trap is a crash: the process of its own makes it this test's failure alone.
    PELLITH_RUN_IN_CHILD_PROCESS();
    ProgressThreadName("test");
    TChartHost host;
    TPellithLibrary library(DllPath());
    HWND chart = host.CreateChart({L"EURUSD,M1", 40, 40, 420, 300});
    const unsigned short x87Default = X87ControlWord();
    const unsigned int sseDefault = SseControlWord();
    // Invalid operation, division by zero and overflow unmasked; x87 at 64-bit precision. Both
    // words belong to the host on both architectures, but their roles differ: a 32-bit host may
    // do all its arithmetic on the x87, so there its precision and masks are what the terminal's
    // results depend on; on x64 doubles go through SSE alone (MXCSR) and the x87 serves only long
    // double, yet the calling convention still makes its control word the caller's to keep.
    const unsigned short x87Host = static_cast<unsigned short>((x87Default & ~0x0D) | 0x0300);
    const unsigned int sseHost = (sseDefault & ~0x3Fu & ~(0x80u | 0x200u | 0x400u)) | 0x6000u;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const HANDLE mark = reinterpret_cast<HANDLE>(library.Module());
    unsigned short x87After[3] = {};
    unsigned int sseAfter[3] = {};
    double block[ExchangeBlockSize] = {};
    int result = -1;

    SetSseControlWord(sseHost);
    SetX87ControlWord(x87Host);
    library.TerminalCreate(1.10525, 1.10510, 1e-5, 0, 0.1, 50, 25, 15, 5, chart, "EURUSD");
    x87After[0] = X87ControlWord();
    sseAfter[0] = SseControlWord();
    SetX87ControlWord(x87Default);
    SetSseControlWord(sseDefault);
    ASSERT_TRUE(WaitUntil([&] { return GetPropA(chart, AttachedProperty) == mark; }, 10s));
    SetSseControlWord(sseHost);
    SetX87ControlWord(x87Host);
    result = library.TerminalProcessMsg(inf, nan, 1e-5, 0, 5, block, ExchangeBlockSize, chart);
    x87After[1] = X87ControlWord();
    sseAfter[1] = SseControlWord();
    library.TerminalDelete(chart);
    x87After[2] = X87ControlWord();
    sseAfter[2] = SseControlWord();
    SetX87ControlWord(x87Default);
    SetSseControlWord(sseDefault);

    EXPECT_EQ(result, erNothing);
    EXPECT_EQ(block[esLots], 0.1);
    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call == 0 ? "TerminalCreate" : call == 1 ? "TerminalProcessMsg" : "Delete");
        EXPECT_EQ(x87After[call], x87Host) << "the x87 control word changed";
        EXPECT_EQ(sseAfter[call], sseHost) << "MXCSR changed";
    }
}

} // namespace
