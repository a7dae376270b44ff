#pragma once
// The panel's side of an exchange with the expert, as TerminalProcessMsg hands it on: the result
// it returns and the slots of the block it fills. Platform-free: the library, the stand-in
// terminal, the demo and the tests all read these names.

// What one exchange reports. Unscoped, with the int values the export returns.
enum TExchangeResult : int {
    erNothing = 0,
    erBuy = 1, // the buy price was clicked (it wins when both were)
    erSell = 2 // the sell price was clicked and the buy price was not
};

// The exchange block's slots, in the order the panel writes them.
enum TExchangeSlot : int { esLots = 0, esStopLoss = 1, esTakeProfit = 2, esTrailingStop = 3 };
inline constexpr int ExchangeBlockSize = 4;
