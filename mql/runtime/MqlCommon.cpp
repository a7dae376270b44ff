#include "mql/runtime/MqlCommon.h"

#include <algorithm>
#include <charconv>

namespace mql {

double NormalizeDouble(double AValue, int ADigits) {
    if (!std::isfinite(AValue))
        return AValue;
    const double scale = std::pow(10.0, std::clamp(ADigits, 0, 8));
    const double scaled = AValue * scale;
    // Beyond 2^52 a double has no fraction left to round.
    return std::fabs(scaled) < 4.5e15 ? std::round(scaled) / scale : AValue;
}

string DoubleToString(double AValue, int ADigits) {
    if (std::isnan(AValue))
        return "nan";
    if (std::isinf(AValue))
        return AValue > 0 ? "inf" : "-inf";
    char buffer[400];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, AValue, std::chars_format::fixed,
                                   std::clamp(ADigits, 0, 16))
                         .ptr;
    return string(std::string(buffer, end));
}

string IntegerToString(mql_long AValue, int AStringLength, ushort AFillSymbol) {
    std::string text = std::to_string(AValue);
    if (AStringLength > static_cast<int>(text.size()))
        text.insert(0, static_cast<std::size_t>(AStringLength) - text.size(),
                    static_cast<char>(AFillSymbol));
    return string(text);
}

int StringToCharArray(const string& AText, TMqlArray<uchar>& AArray, int AStart, int ACount,
                      uint ACodepage) {
    (void)ACodepage; // symbol names are ASCII
    const std::string& text = AText.Std();
    const int available = static_cast<int>(text.size()) + 1;
    const int count = ACount < 0 ? available : std::min(ACount, available);
    if (AArray.Fixed()) {
        if (AStart + count > AArray.Size())
            throw TMqlCriticalError("array out of range");
    } else {
        AArray.Resize(AStart + count);
    }
    for (int i = 0; i < count; ++i)
        AArray[AStart + i] = i < static_cast<int>(text.size()) ? static_cast<uchar>(text[i]) : 0;
    return count;
}

mql_long StringToInteger(const string& AText) {
    const std::string& text = AText.Std();
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos)
        return 0;
    if (text[at] == '+')
        ++at;
    mql_long value = 0;
    std::from_chars(text.data() + at, text.data() + text.size(), value);
    return value;
}

int StringLen(const string& AText) {
    return static_cast<int>(AText.Std().size());
}

string StringSubstr(const string& AText, int AStart, int ALength) {
    const std::string& text = AText.Std();
    if (AStart < 0 || AStart >= static_cast<int>(text.size()))
        return string();
    const std::size_t count = ALength < 0 ? std::string::npos : static_cast<std::size_t>(ALength);
    return string(text.substr(static_cast<std::size_t>(AStart), count));
}

void TMqlGlobalVariables::Set(const std::string& AName, double AValue) {
    std::lock_guard lock(FLock);
    FValues[AName] = AValue;
}

std::optional<double> TMqlGlobalVariables::Get(const std::string& AName) const {
    std::lock_guard lock(FLock);
    const auto it = FValues.find(AName);
    if (it == FValues.end())
        return std::nullopt;
    return it->second;
}

bool TMqlGlobalVariables::Delete(const std::string& AName) {
    std::lock_guard lock(FLock);
    return FValues.erase(AName) > 0;
}

void TMqlGlobalVariables::Lose() {
    std::lock_guard lock(FLock);
    FValues.clear();
}

int StringFind(const string& AText, const string& AMatch, int AStart) {
    if (AStart < 0 || AStart > static_cast<int>(AText.Std().size()))
        return -1;
    const auto at = AText.Std().find(AMatch.Std(), static_cast<std::size_t>(AStart));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

TMqlProgramBase::TMqlProgramBase(TMqlHost& AHost, TMqlChart AChart, TMqlErrorCodes ACodes)
    : FHost(AHost), FChart(std::move(AChart)), FCodes(ACodes) {}

void TMqlProgramBase::Run(void (TMqlProgramBase::*AEvent)()) {
    if (!FRunning)
        return;
    try {
        RefreshPredefined();
        (this->*AEvent)();
    } catch (const TMqlCriticalError& error) {
        // The terminal stops the expert without OnDeinit.
        FCritical = error.what();
        FRunning = false;
        FTimerMs = 0;
        FHost.Print(std::string("critical error: ") + error.what() + "; the expert stopped");
    }
}

bool TMqlProgramBase::Init() {
    FRunning = true;
    FLastError = 0;
    int result = INIT_FAILED;
    try {
        RefreshPredefined();
        result = OnInit();
    } catch (const TMqlCriticalError& error) {
        FCritical = error.what();
        FHost.Print(std::string("critical error: ") + error.what() + "; the expert stopped");
        FRunning = false;
        return false;
    }
    if (result != INIT_SUCCEEDED) {
        Deinit(REASON_INITFAILED);
        return false;
    }
    return true;
}

void TMqlProgramBase::Tick() {
    Run(&TMqlProgramBase::OnTick);
}

void TMqlProgramBase::Timer() {
    if (FTimerMs > 0)
        Run(&TMqlProgramBase::OnTimer);
}

void TMqlProgramBase::Deinit(int AReason) {
    if (!FRunning)
        return;
    try {
        RefreshPredefined();
        OnDeinit(AReason);
    } catch (const TMqlCriticalError& error) {
        FCritical = error.what();
    }
    FRunning = false;
    FTimerMs = 0;
}

void TMqlProgramBase::ChangeChart(const std::string& ASymbol, int APeriod) {
    Deinit(REASON_CHARTCHANGE);
    FChart.Symbol = ASymbol;
    FChart.Period = APeriod;
    Init();
}

void TMqlProgramBase::AccountChanged() {
    Deinit(REASON_ACCOUNT);
    Init();
}

int TMqlProgramBase::GetLastError() {
    const int error = FLastError;
    FLastError = 0;
    return error;
}

int TMqlProgramBase::MQLInfoInteger(int AProperty) const {
    switch (AProperty) {
    case MQL_DLLS_ALLOWED:
        return FChart.DllsAllowed;
    case MQL_TRADE_ALLOWED:
        return FChart.LiveTrading;
    }
    return 0;
}

int TMqlProgramBase::TerminalInfoInteger(int AProperty) const {
    switch (AProperty) {
    case TERMINAL_CONNECTED:
        return FChart.Connected;
    case TERMINAL_TRADE_ALLOWED:
        return FChart.AutoTrading;
    }
    return 0;
}

mql_long TMqlProgramBase::ChartGetInteger(mql_long AChartId, int AProperty, int ASubWindow) {
    if ((AChartId != 0 && AChartId != FChart.Id) || ASubWindow != 0 ||
        AProperty != CHART_WINDOW_HANDLE) {
        FLastError = FCodes.InvalidParameter;
        return 0;
    }
    return FChart.WindowHandle;
}

bool TMqlProgramBase::EventSetMillisecondTimer(int AMs) {
    if (AMs <= 0)
        return false;
    FTimerMs = AMs;
    return true;
}

bool TMqlProgramBase::GlobalVariableCheck(const string& AName) {
    return FHost.GlobalVariables.Get(AName.Std()).has_value();
}

double TMqlProgramBase::GlobalVariableGet(const string& AName) {
    if (const auto value = FHost.GlobalVariables.Get(AName.Std()))
        return *value;
    FLastError = FCodes.GlobalVariableNotFound;
    return 0;
}

datetime TMqlProgramBase::GlobalVariableSet(const string& AName, double AValue) {
    // A name is at most 63 characters long.
    if (AName.Std().empty() || AName.Std().size() > 63) {
        FLastError = FCodes.InvalidParameter;
        return 0;
    }
    FHost.GlobalVariables.Set(AName.Std(), AValue);
    return std::max<datetime>(ServerTime(), 1);
}

bool TMqlProgramBase::GlobalVariableDel(const string& AName) {
    return FHost.GlobalVariables.Delete(AName.Std());
}

} // namespace mql
