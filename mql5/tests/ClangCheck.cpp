// Compiled with clang alone, -Werror=string-plus-int: the translated expert must not add a
// number to a string literal, which MQL5 would append and C++ would turn into a pointer.
#include "mql5/PellithPanel.h"
