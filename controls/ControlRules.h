#pragma once
// The panel's input rules, free of any window system: how an arrow press steps a field, when a
// label underlines, and the click latch that carries a click from the panel thread to the host.

#include <atomic>
#include <cstdint>
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

// The number a field hands to the host for its text: 0 for a blank field (nothing typed means
// none), NaN for a text that is not a finite number, so that a mistyped stop can never pass for
// "no stop", and the number otherwise, -0 as 0.
double ExchangeValueOf(std::wstring_view text, wchar_t separator = DecimalSeparator());

// The underline zone of a link label: strictly inside 20-pixel side margins, below the top row
// and above the bottom 5 rows, in the label's own coordinates.
constexpr bool InHoverZone(int x, int y, int width, int height) {
    return x > 20 && x < width - 20 && y > 0 && y < height - 5;
}

// Set by the panel thread when the user clicks; taken by the host's thread with one atomic
// exchange, so a click between reading and clearing cannot be lost. A click is good only while it
// is fresh: an expert exchanges on every tick and at least every quarter of a second on its
// timer, so a click that none took within FreshForMs is one that no expert is there to act on
// (killed, removed, or not yet attached), and acting on it later would trade at a price the user
// never saw. Times are milliseconds of one monotonic clock, passed in by the caller.
class TClickLatch {
public:
    static constexpr std::uint64_t FreshForMs = 3000;

    // Latches a click made at ANow; returns whether a fresh click was already waiting.
    bool Set(std::uint64_t ANow) noexcept {
        return Fresh(FStamp.exchange(ANow + 1, std::memory_order_acq_rel), ANow);
    }
    // Takes the latch; true when it held a click that is still fresh at ANow.
    bool Take(std::uint64_t ANow) noexcept {
        return Fresh(FStamp.exchange(0, std::memory_order_acq_rel), ANow);
    }
    bool IsSet(std::uint64_t ANow) const noexcept {
        return Fresh(FStamp.load(std::memory_order_acquire), ANow);
    }
    // Clears a click that went stale by ANow; true when it cleared one. A click latched meanwhile
    // stays.
    bool DropStale(std::uint64_t ANow) noexcept {
        std::uint64_t stamp = FStamp.load(std::memory_order_acquire);
        return stamp != 0 && !Fresh(stamp, ANow) &&
               FStamp.compare_exchange_strong(stamp, 0, std::memory_order_acq_rel);
    }

private:
    // AStamp is 0 for no click, else the click's time + 1.
    static bool Fresh(std::uint64_t AStamp, std::uint64_t ANow) noexcept {
        return AStamp != 0 && (ANow + 1 <= AStamp || ANow + 1 - AStamp <= FreshForMs);
    }

    std::atomic<std::uint64_t> FStamp{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};
