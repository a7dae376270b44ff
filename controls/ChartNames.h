#pragma once
// The names through which the library, the chart and the expert find each other: the chart's
// properties that lead from a chart to its panel and to the library that made it, and the
// terminal's message that the panel posts to its chart once, and the name of the library's
// link opener thread. Platform-free.

namespace ChartNames {

// The chart's property that holds its panel's window.
inline constexpr char ContainerProperty[] = "XT_Container";
// The chart's property that holds the module of the library whose panel the chart carries.
inline constexpr char AttachedProperty[] = "XT_Attached";
// The terminal's registered message.
inline constexpr char TerminalMessage[] = "MetaTrader4_Internal_Message";
// The description of the library's one lasting thread, which opens the powered-by link: counts
// of panel threads and of the threads a panel's life leaves behind pass over it.
inline constexpr wchar_t LinkOpenerThreadName[] = L"Pellith link opener";

} // namespace ChartNames
