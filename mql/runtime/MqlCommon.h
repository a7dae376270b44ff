#pragma once
// The built-ins MQL4 and MQL5 share, for both runtimes (mql4/runtime/Mql4.h,
// mql5/runtime/Mql5.h): the languages' types, the math, conversion, string and array functions,
// the terminal's global variables, and the program base that runs an expert's events on a chart
// with the alerts, the journal, the timer and the chart's properties. Each group names its pages
// in both references; where the two give the same name different codes, the runtime passes its
// own. Platform-free.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace mql {

// --- Data types: https://docs.mql4.com/basis/types, https://www.mql5.com/en/docs/basis/types
// MQL's long is 64 bits and its char signed everywhere, unlike C++ on i686 Windows: the
// translators write mql_long and mql_char for them.
using mql_long = std::int64_t;
using ulong = std::uint64_t;
using mql_char = signed char;
using uchar = unsigned char;
using ushort = unsigned short;
using uint = unsigned int;
using color = unsigned int;
using datetime = std::int64_t;

// A critical runtime error (https://docs.mql4.com/runtime/errors): the terminal stops the
// expert. Thrown out of the expert's code; the driver below catches it.
class TMqlCriticalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// MQL's string: a value with + for concatenation of strings only (with #property strict a
// number must be converted explicitly, so no implicit conversion from numbers is offered).
class string {
public:
    string() = default;
    string(const char* AText) : FText(AText ? AText : "") {}
    string(std::string AText) : FText(std::move(AText)) {}
    const std::string& Std() const { return FText; }
    friend string operator+(const string& A, const string& B) { return string(A.FText + B.FText); }
    friend string operator+(const char* A, const string& B) { return string(A + B.FText); }
    friend string operator+(const string& A, const char* B) { return string(A.FText + B); }
    string& operator+=(const string& A) {
        FText += A.FText;
        return *this;
    }
    friend bool operator==(const string& A, const string& B) { return A.FText == B.FText; }
    friend bool operator!=(const string& A, const string& B) { return A.FText != B.FText; }

private:
    std::string FText;
};

// MQL's arrays (https://docs.mql4.com/basis/variables#array,
// https://www.mql5.com/en/docs/basis/variables#array): a fixed array declared with a
// size, or a dynamic one that ArrayResize sizes. An index out of range is a critical error.
template <class T> class TMqlArray {
public:
    TMqlArray() = default;
    explicit TMqlArray(int ASize) : FItems(static_cast<std::size_t>(ASize)), FFixed(true) {}
    T& operator[](int AIndex) { return FItems.at(Checked(AIndex)); }
    const T& operator[](int AIndex) const { return FItems.at(Checked(AIndex)); }
    int Size() const { return static_cast<int>(FItems.size()); }
    bool Fixed() const { return FFixed; }
    T* Data() { return FItems.data(); }
    void Resize(int ASize) { FItems.resize(static_cast<std::size_t>(ASize)); }

private:
    std::size_t Checked(int AIndex) const {
        if (AIndex < 0 || AIndex >= Size())
            throw TMqlCriticalError("array out of range");
        return static_cast<std::size_t>(AIndex);
    }
    std::vector<T> FItems;
    bool FFixed = false;
};

// --- Uninitialization reason codes: https://docs.mql4.com/constants/namedconstants/uninit
//     and https://www.mql5.com/en/docs/constants/namedconstants/uninit (the same values) ---
constexpr int REASON_PROGRAM = 0;
constexpr int REASON_REMOVE = 1;
constexpr int REASON_RECOMPILE = 2;
constexpr int REASON_CHARTCHANGE = 3;
constexpr int REASON_CHARTCLOSE = 4;
constexpr int REASON_PARAMETERS = 5;
constexpr int REASON_ACCOUNT = 6;
constexpr int REASON_TEMPLATE = 7;
constexpr int REASON_INITFAILED = 8;
constexpr int REASON_CLOSE = 9;

// --- OnInit's results: https://docs.mql4.com/basis/function/events,
//     https://www.mql5.com/en/docs/basis/function/events ------------------------------------
constexpr int INIT_SUCCEEDED = 0;
constexpr int INIT_FAILED = 1;
constexpr int INIT_PARAMETERS_INCORRECT = 2;

// The reference names the identifiers of the next groups without their numbers: an expert uses
// them only by name, and the values below are this runtime's own.

// --- Symbol properties for SymbolInfoInteger and the execution modes
//     (https://docs.mql4.com/constants/environment_state/marketinfoconstants and
//     https://www.mql5.com/en/docs/constants/environment_state/marketinfoconstants, tables
//     ENUM_SYMBOL_INFO_INTEGER and ENUM_SYMBOL_TRADE_EXECUTION) ------------------------------
constexpr int SYMBOL_TRADE_EXEMODE = 33;
constexpr int SYMBOL_TRADE_EXECUTION_REQUEST = 0;
constexpr int SYMBOL_TRADE_EXECUTION_INSTANT = 1;
constexpr int SYMBOL_TRADE_EXECUTION_MARKET = 2;
constexpr int SYMBOL_TRADE_EXECUTION_EXCHANGE = 3;

// --- Chart properties: https://docs.mql4.com/constants/chartconstants/enum_chart_property,
//     https://www.mql5.com/en/docs/constants/chartconstants/enum_chart_property ----------------
constexpr int CHART_WINDOW_HANDLE = 103;

// --- Program and terminal properties:
// https://docs.mql4.com/constants/environment_state/mql4_programm_info
//     and https://docs.mql4.com/constants/environment_state/terminalstatus ------------------
constexpr int MQL_DLLS_ALLOWED = 14;
constexpr int MQL_TRADE_ALLOWED = 15;
constexpr int TERMINAL_CONNECTED = 6;
constexpr int TERMINAL_TRADE_ALLOWED = 8;

// --- Web colours (BGR): https://docs.mql4.com/constants/objectconstants/webcolors ----------
constexpr color clrNONE = 0xFFFFFFFF;
constexpr color clrDodgerBlue = 0xFF901E;
constexpr color clrOrangeRed = 0x0045FF;

// --- Code pages for StringToCharArray: https://docs.mql4.com/constants/io_constants/codepageusage
constexpr uint CP_ACP = 0;

// --- Math functions: https://docs.mql4.com/math, https://www.mql5.com/en/docs/math -----------
inline double MathAbs(double A) {
    return std::fabs(A);
}
inline double MathPow(double A, double B) {
    return std::pow(A, B);
}
inline double MathRound(double A) {
    return std::round(A);
}
inline double MathFloor(double A) {
    return std::floor(A);
}
inline double MathCeil(double A) {
    return std::ceil(A);
}
inline double MathMax(double A, double B) {
    return A > B ? A : B;
}
inline double MathMin(double A, double B) {
    return A < B ? A : B;
}
inline bool MathIsValidNumber(double A) {
    return std::isfinite(A);
}

// --- Conversion functions: https://docs.mql4.com/convert, https://www.mql5.com/en/docs/convert
// NormalizeDouble rounds to `digits` decimals (0 to 8); DoubleToString writes them.
double NormalizeDouble(double AValue, int ADigits);
string DoubleToString(double AValue, int ADigits = 8);
string IntegerToString(mql_long AValue, int AStringLength = 0, ushort AFillSymbol = ' ');
// Copies the text's characters and its terminating zero; returns how many were copied.
int StringToCharArray(const string& AText, TMqlArray<uchar>& AArray, int AStart = 0,
                      int ACount = -1, uint ACodepage = CP_ACP);

// https://docs.mql4.com/convert/stringtointeger: an optional sign and the digits that follow
// it; 0 when there are none.
mql_long StringToInteger(const string& AText);

// --- String functions: https://docs.mql4.com/strings, https://www.mql5.com/en/docs/strings ----
int StringFind(const string& AText, const string& AMatch, int AStart = 0);
// https://docs.mql4.com/strings/stringlen, https://docs.mql4.com/strings/stringsubstr
int StringLen(const string& AText);
// The characters from AStart on, ALength of them (-1: to the end); "" past the end.
string StringSubstr(const string& AText, int AStart, int ALength = -1);

// --- Array functions: https://docs.mql4.com/array, https://www.mql5.com/en/docs/array --------
template <class T> int ArraySize(const TMqlArray<T>& AArray) {
    return AArray.Size();
}
// A fixed array keeps its size; a dynamic one takes the new size and returns it.
template <class T> int ArrayResize(TMqlArray<T>& AArray, int ANewSize, int AReserve = 0) {
    (void)AReserve;
    if (AArray.Fixed() || ANewSize < 0)
        return -1;
    AArray.Resize(ANewSize);
    return ANewSize;
}

// The terminal's global variables (https://docs.mql4.com/globals,
// https://www.mql5.com/en/docs/globals): named doubles that every
// program of the terminal shares and that outlive a restart of the terminal. Any thread.
class TMqlGlobalVariables {
public:
    void Set(const std::string& AName, double AValue);
    std::optional<double> Get(const std::string& AName) const;
    bool Delete(const std::string& AName);
    // A terminal that stopped without saving them (a crash): they are gone.
    void Lose();

private:
    // Guards FValues; taken by every expert's thread for one map operation and nothing else, so
    // a thread killed while holding it leaves at worst one value half written.
    mutable std::mutex FLock;
    std::map<std::string, double> FValues;
};

// What a terminal gives the experts it runs: their messages, its clock, its global variables.
// One host stands for one terminal: a new expert object on a host is the expert loaded again,
// in the same or a restarted terminal, and finds the global variables the last one left.
class TMqlHost {
public:
    virtual ~TMqlHost() = default;
    virtual void Alert(const std::string& AText) = 0;
    virtual void Print(const std::string& AText) = 0;
    virtual uint TickCount() = 0;    // milliseconds, GetTickCount
    virtual void Sleep(int AMs) = 0; // may advance a simulated clock instead of waiting

    TMqlGlobalVariables GlobalVariables;
};

// The chart an expert runs on and the switches a trader sets for it.
struct TMqlChart {
    std::string Symbol;
    int Period = 1;            // minutes
    mql_long Id = 0;           // ChartID
    mql_long WindowHandle = 0; // CHART_WINDOW_HANDLE
    bool DllsAllowed = true;   // "Allow DLL imports"
    bool LiveTrading = true;   // "Allow live trading"
    bool AutoTrading = true;   // the terminal's AutoTrading button
    bool Connected = true;
};

// What the two languages' runtime errors call by different codes.
struct TMqlErrorCodes {
    int InvalidParameter;       // a built-in called with a value it does not take
    int GlobalVariableNotFound; // GlobalVariableGet of a name that is not there
};

// One running MQL program on one chart: what MQL4's and MQL5's programs share. The terminal side
// (Init, Tick, Timer, Deinit, ChangeChart) runs each event with fresh predefined variables, as the
// terminal does; the program's side is the protected built-ins. One thread at a time per object.
class TMqlProgramBase {
public:
    TMqlProgramBase(TMqlHost& AHost, TMqlChart AChart, TMqlErrorCodes ACodes);
    virtual ~TMqlProgramBase() = default;
    TMqlProgramBase(const TMqlProgramBase&) = delete;
    TMqlProgramBase& operator=(const TMqlProgramBase&) = delete;

    // The terminal's events. Init returns false when OnInit failed (the expert is then removed,
    // after OnDeinit with REASON_INITFAILED); every event does nothing once the expert stopped.
    bool Init();
    void Tick();
    void Timer();
    void Deinit(int AReason);
    // The trader changes the chart's symbol or timeframe: OnDeinit, the change, OnInit.
    void ChangeChart(const std::string& ASymbol, int APeriod);
    // The terminal logged in to another account: OnDeinit with REASON_ACCOUNT, then OnInit, the
    // globals kept.
    void AccountChanged();

    const TMqlChart& Chart() const { return FChart; }
    TMqlChart& Settings() { return FChart; }
    int TimerMilliseconds() const { return FTimerMs; }
    bool Running() const { return FRunning; }
    // Why the expert stopped on a critical error ("" when it did not).
    const std::string& CriticalError() const { return FCritical; }

protected:
    // The event handlers of an expert: https://docs.mql4.com/basis/function/events,
    // https://www.mql5.com/en/docs/basis/function/events
    virtual int OnInit() { return INIT_SUCCEEDED; }
    virtual void OnDeinit(const int AReason) { (void)AReason; }
    virtual void OnTick() {}
    virtual void OnTimer() {}
    // The language's predefined variables, fresh before every event.
    virtual void RefreshPredefined() = 0;
    // The server's time in seconds.
    virtual datetime ServerTime() = 0;

    // --- Checkup: https://docs.mql4.com/check, https://www.mql5.com/en/docs/check ------------
    int GetLastError();
    void ResetLastError() { FLastError = 0; }
    int MQLInfoInteger(int AProperty) const;
    int TerminalInfoInteger(int AProperty) const;

    // --- Common functions: https://docs.mql4.com/common, https://www.mql5.com/en/docs/common --
    template <class... TArgs> void Alert(const TArgs&... AArgs) { FHost.Alert(Join(AArgs...)); }
    template <class... TArgs> void Print(const TArgs&... AArgs) { FHost.Print(Join(AArgs...)); }
    uint GetTickCount() { return FHost.TickCount(); }
    void Sleep(int AMs) { FHost.Sleep(AMs); }

    // --- Global variables of the terminal: https://docs.mql4.com/globals,
    //     https://www.mql5.com/en/docs/globals (GlobalVariableCheck, GlobalVariableGet,
    //     GlobalVariableSet, GlobalVariableDel, GlobalVariablesFlush) --------------------------
    bool GlobalVariableCheck(const string& AName);
    double GlobalVariableGet(const string& AName);
    datetime GlobalVariableSet(const string& AName, double AValue);
    bool GlobalVariableDel(const string& AName);
    // The simulated terminal keeps them in memory: there is no disk to write them to.
    void GlobalVariablesFlush() {}

    // --- Chart operations: https://docs.mql4.com/chart_operations,
    //     https://www.mql5.com/en/docs/chart_operations ----------------------------------------
    string Symbol() const { return FChart.Symbol; }
    int Period() const { return FChart.Period; }
    mql_long ChartID() const { return FChart.Id; }
    mql_long ChartGetInteger(mql_long AChartId, int AProperty, int ASubWindow = 0);

    // --- Event functions: https://docs.mql4.com/eventfunctions,
    //     https://www.mql5.com/en/docs/eventfunctions ------------------------------------------
    bool EventSetMillisecondTimer(int AMs);
    void EventKillTimer() { FTimerMs = 0; }

    // The typed property getters (MarketInfo, SymbolInfo..., AccountInfo..., Position...,
    // HistoryDeal...) each read one table: a property's identifier and its value. An identifier
    // the table does not have reads 0 (or "") with the language's invalid-parameter error.
    template <class TValue>
    TValue Property(int AProperty, std::initializer_list<std::pair<int, TValue>> ATable) {
        for (const auto& [id, value] : ATable)
            if (id == AProperty)
                return value;
        FLastError = FCodes.InvalidParameter;
        return TValue();
    }

    TMqlHost& FHost;
    TMqlChart FChart;
    int FLastError = 0;

private:
    static std::string Text(const string& A) { return A.Std(); }
    static std::string Text(const char* A) { return A; }
    static std::string Text(double A) { return DoubleToString(A, 8).Std(); }
    static std::string Text(bool A) { return A ? "true" : "false"; }
    static std::string Text(int A) { return std::to_string(A); }
    static std::string Text(mql_long A) { return std::to_string(A); }
    static std::string Text(uint A) { return std::to_string(A); }
    static std::string Text(ulong A) { return std::to_string(A); }
    template <class... TArgs> static std::string Join(const TArgs&... AArgs) {
        std::string text;
        ((text += Text(AArgs)), ...);
        return text;
    }
    void Run(void (TMqlProgramBase::*AEvent)());

    TMqlErrorCodes FCodes;
    int FTimerMs = 0;
    bool FRunning = false;
    std::string FCritical;
};

} // namespace mql
