#pragma once
// The demo's simulated market: three symbols with realistic quotes and a random walk of the bid
// with a spread that breathes a little. Platform-free.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct TSymbolSpec {
    std::string Name;
    int Digits;   // decimals of a price
    double Point; // one unit of the last decimal
    double Pip;   // one pip in price units: ten points on 3- and 5-digit symbols
    double StartBid;
    double SpreadPips;     // typical spread
    double VolatilityPips; // standard deviation of one tick's move
    double ContractSize;   // units of the base per lot
    bool QuotedInYen;      // profit arrives in the quote currency and is converted to dollars
};

// EURUSD (5 digits), USDJPY (3 digits), XAUUSD (2 digits, pip 0.1).
const std::vector<TSymbolSpec>& DemoSymbols();

struct TQuote {
    double Bid;
    double Ask;
};

// A price rounded to the symbol's digits, as the terminal quotes it.
double RoundToDigits(double APrice, int ADigits);

class TRandomWalk {
public:
    TRandomWalk(const TSymbolSpec& ASpec, std::uint32_t ASeed);
    const TQuote& Current() const { return FQuote; }
    // Moves the bid by a normally distributed number of points and draws a new spread.
    const TQuote& Next();

private:
    TSymbolSpec FSpec;
    std::mt19937 FRandom;
    TQuote FQuote;
};
