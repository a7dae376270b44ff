#pragma once
// The panel's input rules, free of any window system: how an arrow press steps a field, when a
// label underlines, and the click latch that carries a click from the panel thread to the host.

#include <atomic>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "controls/Exchange.h"
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
    // Drops whatever click is latched.
    void Clear() noexcept { FStamp.store(0, std::memory_order_release); }
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

// The latest quote an exchange handed over, as numbers: the panel thread formats it.
struct TPanelQuote {
    double Ask = 0;
    double Bid = 0;
    double Spread = 0; // in pips, (Ask - Bid) / MyPoint rounded to a double
    int Digits = 0;
};

// The quote of one exchange: the spread is taken here, in double precision, as the snapshot of a
// create takes it.
inline TPanelQuote QuoteOf(double AAsk, double ABid, double AMyPoint, int ADigits) {
    return {AAsk, ABid, (AAsk - ABid) / AMyPoint, ADigits};
}

// What a panel shares with the exchanges of its chart, atomics only: an exchange runs on a thread
// the host may kill at any instruction, so it takes no lock, allocates nothing and touches none
// of the panel's objects. The panel thread latches clicks and publishes the fields' values here;
// an exchange takes the clicks, reads the values and leaves its quote here for the panel thread
// to format. Owned by whoever outlives both sides (the chart's record in the library). Every
// atomic here is sequentially consistent: the quote's version is read after the numbers it
// counts, and a wake request is cleared before the panel looks.
struct TExchangeState {
    TClickLatch Sell, Buy, Link;
    std::atomic<double> Fields[ExchangeBlockSize] = {}; // indexed by TExchangeSlot
    // Written by exchanges; a new quote bumps QuoteVersion after its numbers. A quote torn by a
    // concurrent or killed exchange shows until the next exchange, which tells the panel again.
    std::atomic<double> Ask{0}, Bid{0}, Spread{0};
    std::atomic<int> Digits{0};
    std::atomic<std::uint64_t> QuoteVersion{0}; // 0: no exchange yet, the create's prices stand
    // Set by an exchange that asked the panel thread to look; the panel thread clears it first.
    std::atomic<bool> WakeAsked{false};

    // Stores a quote; false, and nothing written, when it is the one already stored.
    bool StoreQuote(const TPanelQuote& AQuote) noexcept {
        if (QuoteVersion.load() != 0 && Same(Ask.load(), AQuote.Ask) &&
            Same(Bid.load(), AQuote.Bid) && Same(Spread.load(), AQuote.Spread) &&
            Digits.load() == AQuote.Digits)
            return false;
        Ask.store(AQuote.Ask);
        Bid.store(AQuote.Bid);
        Spread.store(AQuote.Spread);
        Digits.store(AQuote.Digits);
        QuoteVersion.fetch_add(1);
        return true;
    }
    // Back to the state of a panel that no exchange met yet, for a record's new use: only while
    // neither a panel nor an exchange uses it.
    void Clear() noexcept {
        for (TClickLatch* latch : {&Sell, &Buy, &Link})
            latch->Clear();
        for (auto& field : Fields)
            field.store(0);
        Ask.store(0);
        Bid.store(0);
        Spread.store(0);
        Digits.store(0);
        QuoteVersion.store(0);
        WakeAsked.store(false);
    }
    TPanelQuote LoadQuote() const noexcept {
        return {Ask.load(), Bid.load(), Spread.load(), Digits.load()};
    }

private:
    // Bit for bit, so that a NaN equals itself and -0 differs from 0, as their texts do.
    static bool Same(double A, double B) noexcept {
        return std::bit_cast<std::uint64_t>(A) == std::bit_cast<std::uint64_t>(B);
    }
    static_assert(std::atomic<double>::is_always_lock_free);
};

// What one exchange takes from the shared state: the clicks, buy over sell, and the fields.
struct TTakenExchange {
    TExchangeResult Result = erNothing;
    bool OpenLink = false; // the powered-by link was clicked
    double Values[ExchangeBlockSize] = {};
};

// Takes the three latches (a stale click counts as none) and reads the four fields, at ANow.
// Any thread; nothing but atomics.
inline TTakenExchange TakeExchange(TExchangeState& AState, std::uint64_t ANow) noexcept {
    TTakenExchange taken;
    if (AState.Sell.Take(ANow))
        taken.Result = erSell;
    if (AState.Buy.Take(ANow))
        taken.Result = erBuy;
    taken.OpenLink = AState.Link.Take(ANow);
    for (int slot = 0; slot < ExchangeBlockSize; ++slot)
        taken.Values[slot] = AState.Fields[slot].load();
    return taken;
}
