#pragma once
// The library's three exports: stdcall, exported by plain name (Pellith.def).

#include "platform/Win32.h"

extern "C" {
void __stdcall TerminalCreate(double Ask, double Bid, double Point, double MyPoint, double Lots,
                              double StopLossPips, double TakeProfitPips, double TrailStopStartPips,
                              int ADigits, HWND AWindow, const char* lpSym);
int __stdcall TerminalProcessMsg(double Ask, double Bid, double Point, double MyPoint, int ADigits,
                                 double* AMemory, int AMemorySize, HWND AWindow);
void __stdcall TerminalDelete(HWND AWindow);
}
