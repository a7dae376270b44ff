#pragma once
// The panel's input rules, free of any window system: how an arrow press steps a field, when a
// label underlines, and the click latch that carries a click from the panel thread to the host.

#include <atomic>
#include <string_view>

#include "data/DataXT.h"

// Which way an arrow press steps a field.
enum class TStepDirection { sdUp, sdDown };

// The amount one arrow press changes a field's value by, for a field with `digits` decimals.
double StepFor(double value, int digits);

// The value a field shows after an arrow press on its current text: the parsed value stepped
// and clamped at 0, or 0 without a step when the text is not a number.
double ValueAfterPress(std::wstring_view text, int digits, TStepDirection direction,
                       wchar_t separator = DecimalSeparator());

// The underline zone of a link label: strictly inside 20-pixel side margins, below the top row
// and above the bottom 5 rows, in the label's own coordinates.
constexpr bool InHoverZone(int x, int y, int width, int height) {
    return x > 20 && x < width - 20 && y > 0 && y < height - 5;
}

// Set by the panel thread when the user clicks; taken by the host's thread with one atomic
// exchange, so a click between reading and clearing cannot be lost.
class TClickLatch {
public:
    // Returns whether a click was already waiting.
    bool Set() noexcept { return FSet.exchange(true, std::memory_order_acq_rel); }
    bool Take() noexcept { return FSet.exchange(false, std::memory_order_acq_rel); }
    bool IsSet() const noexcept { return FSet.load(std::memory_order_acquire); }

private:
    std::atomic<bool> FSet{false};
};
