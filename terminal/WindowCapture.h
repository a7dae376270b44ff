#pragma once
// Reads back what a window shows: its client area with every child in it, the panels that other
// threads paint included.

#include "platform/Win32.h"
#include "terminal/Pixels.h"

// A window's client area, read from the window's own device context. Under Wine a top-level
// window paints into a surface of its own, so this gives the window's pixels even while another
// program's window lies over it on a shared X display; what Wine itself knows to be covered is
// not painted, so check IsUnobstructed first. Empty when the window cannot be read.
TPixels CaptureWindowPixels(HWND AWindow);

// True when no other window covers the window's client area as far as the window manager of
// Wine knows: at every sampled point (a grid `AStep` pixels apart) the window on top is this
// window or one of its descendants. `ACovering`, when given, receives the first other window found.
bool IsUnobstructed(HWND AWindow, int AStep = 16, HWND* ACovering = nullptr);

// The client area's rectangle in screen coordinates.
RECT ClientRectOnScreen(HWND AWindow);
