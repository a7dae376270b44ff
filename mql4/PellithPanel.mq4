//+------------------------------------------------------------------+
//|                                               PellithPanel.mq4   |
//| Shows the Pellith order-entry panel on the chart and places the  |
//| orders it asks for: click the bid to sell, the ask to buy.       |
//| Needs Pellith.dll in MQL4\Libraries and "Allow DLL imports".     |
//+------------------------------------------------------------------+
#property copyright "Pellith"
#property version   "1.20"
#property description "Order-entry panel: lot size, stop-loss, take-profit and trailing stop"
#property description "in pips; click the bid to sell at market, the ask to buy at market."
#property description "Guards: lots from risk, a fat-finger cap, a spread guard; break-even."
#property strict

#include <stderror.mqh>

#import "Pellith.dll"
// The panel on this chart: initial field values, the symbol as zero-terminated ANSI text.
void TerminalCreate(double ask, double bid, double point, double pipSize, double lots,
                    double stopLossPips, double takeProfitPips, double trailingStopPips,
                    int digits, int chartWindow, uchar &symbol[]);
// Refreshes the panel's prices and fills values[0..3] with lots, stop-loss, take-profit and
// trailing stop; returns 1 when the ask (buy) was clicked, 2 for the bid (sell), else 0.
int  TerminalProcessMsg(double ask, double bid, double point, double pipSize, int digits,
                        double &values[], int valuesSize, int chartWindow);
// Takes the panel off the chart.
void TerminalDelete(int chartWindow);
#import

input double InpLots             = 0.10;  // Lot size
input double InpStopLossPips     = 30;    // Stop-loss in pips (0: none)
input double InpTakeProfitPips   = 60;    // Take-profit in pips (0: none)
input double InpTrailingStopPips = 0;     // Trailing stop in pips (0: none); each order keeps the T/S of its click
input double InpTrailingStepPips = 1;     // Trailing step: the stop moves by at least this many pips
input int    InpSlippagePips     = 3;     // Accepted slippage in pips from the price clicked, retries included
input int    InpPointsPerPip     = 0;     // Points per pip (0: 10 on 3- and 5-digit quotes, else 1)
input int    InpMagic            = 20120; // Magic number of this expert's orders
input int    InpConfirmSeconds   = 60;    // Seconds to look for an order the server did not confirm
input double InpRiskPercent      = 0;     // Risk per click in % of equity (0: off): lots from the S/L, the Lots field caps them
input double InpMaxLots          = 5.0;   // Fat-finger cap: a click for more lots is refused (0: no cap)
input double InpBreakEvenPips    = 0;     // Break-even: the stop moves to the open price once this many pips in profit (0: off)
input double InpBreakEvenLockPips = 1;    // Pips locked in beyond the open price at break-even
input double InpMaxSpreadPips    = 0;     // Spread guard: a click while the spread is wider is refused (0: off)

// How long one click may keep trying against requotes and busy servers.
#define PELLITH_RETRY_MS      2000
#define PELLITH_RETRY_PAUSE   250
#define PELLITH_ATTEMPTS      5
// Answers of the server that stderror.mqh has no names for (the MQL4 book's table of errors).
#define PELLITH_ORDER_QUEUED     142
#define PELLITH_DEALER_ACCEPTED  143
#define PELLITH_ORDER_DISCARDED  144
// g_trailErrors: the journal was told that the order's trailing stop is too tight.
#define PELLITH_TRAIL_TOO_CLOSE  -1

// The globals live as long as the expert stays on its chart: a change of timeframe, symbol,
// inputs or account calls OnDeinit and OnInit but keeps them. What must outlive a restart of the
// terminal (the last click number, each order's trailing stop and break-even) is kept in global
// variables of the terminal.
int    g_chart       = 0;     // the chart window that carries the panel
bool   g_created     = false; // TerminalCreate has been called for g_chart
string g_symbol      = "";    // the symbol the panel shows
double g_values[4];           // lots, stop-loss, take-profit, trailing stop, as the panel shows them
int    g_lastDeinit  = -1;    // the reason of the last OnDeinit; -1 before the first
int    g_lastClick   = 0;     // the highest click number this chart is known to have used
int    g_account     = 0;     // the account whose orders g_tickets holds; 0 before the first look
int    g_tickets[];           // the orders this expert opened and still trails
double g_trails[];            // per ticket, its trailing stop in pips, as typed at its click
int    g_trailErrors[];       // per ticket, the last trailing failure written to the journal
double g_breakEvens[];        // per ticket, its break-even distance in pips (0: none, or done)
double g_breakLocks[];        // per ticket, the pips its break-even locks in
bool   g_halted      = false; // after a common error: no trade request until the trader clicks

// The one click whose order the server did not confirm (g_pendingClick 0: none). It is looked
// for on every event until it turns up or InpConfirmSeconds have passed, and never sent again.
int      g_pendingClick  = 0;
double   g_pendingPrice  = 0;   // the price at the click
string   g_pendingSymbol = "";
int      g_pendingType   = 0;
double   g_pendingLots   = 0;
double   g_pendingPips[3];      // stop-loss, take-profit and trailing stop as typed at the click
string   g_pendingWhat   = "";  // "buy 0.10", for the messages
datetime g_pendingTime   = 0;   // the server's time at the click
uint     g_pendingSince  = 0;   // GetTickCount at the unclear answer

//+------------------------------------------------------------------+
double PipSize()
  {
   if(InpPointsPerPip > 0)
      return Point * InpPointsPerPip;
   return (Digits == 3 || Digits == 5) ? Point * 10 : Point;
  }

//+------------------------------------------------------------------+
//| Alerts and the journal name the symbol, so a trader with several |
//| charts knows which one speaks.                                   |
//+------------------------------------------------------------------+
void Tell(string text)
  {
   Alert("Pellith ", Symbol(), ": ", text);
  }

void Journal(string text)
  {
   Print("Pellith ", Symbol(), ": ", text);
  }

//+------------------------------------------------------------------+
//| A field's value as the trader sees it in a message.              |
//+------------------------------------------------------------------+
string FieldText(double value)
  {
   if(!MathIsValidNumber(value))
      return "not a finite number";
   if(MathAbs(value) >= 1000000000)
      return DoubleToString(value, 0);
   return DoubleToString(value, 2);
  }

string Pips(double pips)
  {
   return DoubleToString(pips, 1) + " pips";
  }

//+------------------------------------------------------------------+
//| The number of decimals of a lot step: 0.01 -> 2, 0.5 -> 1.       |
//+------------------------------------------------------------------+
int StepDecimals(double step)
  {
   int decimals = 0;
   while(decimals < 8 && MathAbs(step * MathPow(10, decimals) -
                                 MathRound(step * MathPow(10, decimals))) > 1e-7)
      decimals++;
   return decimals;
  }

//+------------------------------------------------------------------+
//| The comment of this chart's orders: "Pellith <chart id>/<click>".|
//+------------------------------------------------------------------+
string OrderTag()
  {
   return "Pellith " + IntegerToString(ChartID()) + "/";
  }

//+------------------------------------------------------------------+
//| Whether a comment is this chart's, and the digits that follow    |
//| the chart in it. The server may have cut the comment's end or    |
//| added to it, so only the leading digits count, and may be fewer  |
//| than the click's.                                                |
//+------------------------------------------------------------------+
bool ChartComment(string comment, string &number)
  {
   string tag = OrderTag();
   number = "";
   if(StringFind(comment, tag) != 0)
      return false;
   for(int i = StringLen(tag); i < StringLen(comment); i++)
     {
      string character = StringSubstr(comment, i, 1);
      if(StringFind("0123456789", character) < 0)
         break;
      number += character;
     }
   return true;
  }

//+------------------------------------------------------------------+
//| A number for a new click that no earlier click of this chart had,|
//| also before a restart of the expert or of the terminal: one more |
//| than the terminal's global variable and this chart's orders say. |
//+------------------------------------------------------------------+
int NextClick()
  {
   string name = "Pellith " + IntegerToString(ChartID()) + " last click";
   if(GlobalVariableCheck(name))
      g_lastClick = (int)MathMax(g_lastClick, GlobalVariableGet(name));
   g_lastClick++;
   GlobalVariableSet(name, g_lastClick);
   GlobalVariablesFlush(); // kept even if the terminal crashes
   return g_lastClick;
  }

//+------------------------------------------------------------------+
//| The terminal's global variable that keeps an order's trailing    |
//| stop across restarts of the expert.                              |
//+------------------------------------------------------------------+
string TrailVariable(int ticket)
  {
   return "Pellith " + IntegerToString(AccountNumber()) + " #" + IntegerToString(ticket) + " T/S";
  }

double StoredTrail(int ticket)
  {
   return StoredPips(TrailVariable(ticket));
  }

//| The terminal's global variables that keep an order's break-even  |
//| (its distance, and the pips it locks in) until it is done.       |
string BreakEvenVariable(int ticket, bool lock)
  {
   return "Pellith " + IntegerToString(AccountNumber()) + " #" + IntegerToString(ticket) +
          (lock ? " B/E lock" : " B/E");
  }

double StoredPips(string name)
  {
   if(!GlobalVariableCheck(name))
      return 0;
   double pips = GlobalVariableGet(name);
   return (MathIsValidNumber(pips) && pips > 0) ? pips : 0;
  }

//+------------------------------------------------------------------+
void CreatePanel()
  {
   g_chart = (int)ChartGetInteger(0, CHART_WINDOW_HANDLE);
   if(g_chart == 0)
      return; // the chart window is not there yet: the next tick tries again
   uchar symbol[];
   StringToCharArray(Symbol(), symbol); // ANSI code page, with the terminating zero
   TerminalCreate(Ask, Bid, Point, PipSize(), g_values[0], g_values[1], g_values[2],
                  g_values[3], Digits, g_chart, symbol);
   g_symbol = Symbol();
   g_created = true;
  }

void DeletePanel()
  {
   if(g_created)
      TerminalDelete(g_chart);
   g_created = false;
  }

void ValuesFromInputs()
  {
   g_values[0] = InpLots;
   g_values[1] = InpStopLossPips;
   g_values[2] = InpTakeProfitPips;
   g_values[3] = InpTrailingStopPips;
  }

//+------------------------------------------------------------------+
//| This account's open orders of an earlier session of this chart's |
//| expert, known by magic number and the chart named in the comment.|
//| Each trails by the distance of its click if the terminal still   |
//| keeps it, else not at all. The highest click number this chart's |
//| orders show keeps new clicks apart from theirs, should the       |
//| terminal have lost its global variables.                         |
//+------------------------------------------------------------------+
void AdoptOrders()
  {
   string number = "";
   for(int i = OrdersTotal() - 1; i >= 0; i--)
     {
      if(!OrderSelect(i, SELECT_BY_POS, MODE_TRADES) || !ChartComment(OrderComment(), number))
         continue;
      g_lastClick = (int)MathMax(g_lastClick, (double)StringToInteger(number));
      if(OrderMagicNumber() == InpMagic && (OrderType() == OP_BUY || OrderType() == OP_SELL))
         Remember(OrderTicket(), StoredTrail(OrderTicket()),
                  StoredPips(BreakEvenVariable(OrderTicket(), false)),
                  StoredPips(BreakEvenVariable(OrderTicket(), true)));
     }
   for(int j = OrdersHistoryTotal() - 1; j >= 0; j--)
      if(OrderSelect(j, SELECT_BY_POS, MODE_HISTORY) && ChartComment(OrderComment(), number))
         g_lastClick = (int)MathMax(g_lastClick, (double)StringToInteger(number));
  }

bool Known(int ticket)
  {
   for(int i = 0; i < ArraySize(g_tickets); i++)
      if(g_tickets[i] == ticket)
         return true;
   return false;
  }

//+------------------------------------------------------------------+
//| An order this expert trails, with its click's trailing stop and  |
//| break-even (0: none), kept in the terminal's global variables.   |
//+------------------------------------------------------------------+
void Remember(int ticket, double trailPips, double breakEvenPips, double lockPips)
  {
   if(Known(ticket))
      return;
   int size = ArraySize(g_tickets);
   ResizeOrders(size + 1);
   g_tickets[size] = ticket;
   g_trails[size] = trailPips;
   g_trailErrors[size] = 0;
   g_breakEvens[size] = breakEvenPips;
   g_breakLocks[size] = lockPips;
   if(trailPips > 0)
      GlobalVariableSet(TrailVariable(ticket), trailPips);
   if(breakEvenPips > 0)
     {
      GlobalVariableSet(BreakEvenVariable(ticket, false), breakEvenPips);
      GlobalVariableSet(BreakEvenVariable(ticket, true), lockPips);
     }
  }

void ResizeOrders(int size)
  {
   ArrayResize(g_tickets, size);
   ArrayResize(g_trails, size);
   ArrayResize(g_trailErrors, size);
   ArrayResize(g_breakEvens, size);
   ArrayResize(g_breakLocks, size);
  }

//| Break-even moves an order's stop once: done, it is forgotten.    |
void BreakEvenDone(int index)
  {
   if(g_breakEvens[index] <= 0)
      return;
   GlobalVariableDel(BreakEvenVariable(g_tickets[index], false));
   GlobalVariableDel(BreakEvenVariable(g_tickets[index], true));
   g_breakEvens[index] = 0;
  }

void ForgetClosed(int index)
  {
   if(g_trails[index] > 0)
      GlobalVariableDel(TrailVariable(g_tickets[index]));
   BreakEvenDone(index);
   int last = ArraySize(g_tickets) - 1;
   g_tickets[index] = g_tickets[last];
   g_trails[index] = g_trails[last];
   g_trailErrors[index] = g_trailErrors[last];
   g_breakEvens[index] = g_breakEvens[last];
   g_breakLocks[index] = g_breakLocks[last];
   ResizeOrders(last);
  }

//+------------------------------------------------------------------+
//| After a change of account the orders remembered are another     |
//| account's: forget them, and take back this account's own.        |
//+------------------------------------------------------------------+
void CheckAccount()
  {
   int account = AccountNumber();
   if(account == 0 || account == g_account)
      return; // 0: not logged in yet
   if(g_pendingClick != 0)
     {
      Tell(g_pendingWhat + ": the account changed before the server confirmed the order, and it "
           "was not sent again; look in the Trade tab of account " + IntegerToString(g_account));
      g_pendingClick = 0;
     }
   ResizeOrders(0);
   g_account = account;
   AdoptOrders();
  }

//+------------------------------------------------------------------+
int OnInit()
  {
   if(!MQLInfoInteger(MQL_DLLS_ALLOWED))
     {
      Tell("DLL imports are off, so the panel cannot be shown. Tick \"Allow DLL imports\" in "
           "the expert's settings (tab Common) and attach the expert again.");
      return INIT_FAILED;
     }
   string bad = BadInput();
   if(bad != "")
     {
      Tell(bad + ". The expert stops: attach it again with the input corrected.");
      return INIT_PARAMETERS_INCORRECT;
     }
   if(g_lastDeinit == REASON_CHARTCHANGE && g_created)
     {
      // A new timeframe keeps the panel as it is; a new symbol gets a panel of its own with
      // the values the trader had typed.
      if(g_symbol != Symbol())
        {
         DeletePanel();
         CreatePanel();
        }
     }
   else
     {
      // A first start, new inputs or any other restart: a panel with the inputs' values.
      ValuesFromInputs();
      CreatePanel();
     }
   CheckAccount();
   EventSetMillisecondTimer(250); // clicks are taken up even when no tick comes
   return INIT_SUCCEEDED;
  }

//+------------------------------------------------------------------+
void OnDeinit(const int reason)
  {
   EventKillTimer();
   g_lastDeinit = reason;
   // The terminal keeps the globals only through these; after any other reason the click that
   // is still looked for is the trader's to look for.
   if(g_pendingClick != 0 && reason != REASON_CHARTCHANGE && reason != REASON_PARAMETERS &&
      reason != REASON_ACCOUNT)
     {
      Tell(g_pendingWhat + ": the expert stopped before the server confirmed the order, and it "
           "was not sent again; look in the Trade tab");
      g_pendingClick = 0;
     }
   if(reason != REASON_CHARTCHANGE)
      DeletePanel();
  }

//+------------------------------------------------------------------+
void OnTick()
  {
   if(!g_created)
      CreatePanel();
   CheckAccount();
   CheckPending();
   Exchange();
   TrailStops();
  }

//+------------------------------------------------------------------+
void OnTimer()
  {
   RefreshRates();
   CheckAccount();
   CheckPending();
   Exchange();
  }

//+------------------------------------------------------------------+
//| Hands the panel the new prices, takes its values and any click.  |
//+------------------------------------------------------------------+
void Exchange()
  {
   if(!g_created)
      return;
   int clicked = TerminalProcessMsg(Ask, Bid, Point, PipSize(), Digits, g_values, 4, g_chart);
   if(clicked == 1)
      OpenAtMarket(OP_BUY);
   else if(clicked == 2)
      OpenAtMarket(OP_SELL);
  }

//+------------------------------------------------------------------+
//| What the trade server's answer means, in words; "" for an answer |
//| the expert does not know.                                        |
//+------------------------------------------------------------------+
string KnownErrorText(int error)
  {
   switch(error)
     {
      case ERR_NO_RESULT:                   return "the server gave no result";
      case ERR_COMMON_ERROR:                return "the server reported a common error";
      case ERR_INVALID_TRADE_PARAMETERS:    return "the server found the order's parameters invalid";
      case ERR_SERVER_BUSY:                 return "the trade server is busy";
      case ERR_OLD_VERSION:                 return "the terminal is too old for this server";
      case ERR_NO_CONNECTION:               return "there is no connection to the trade server";
      case ERR_NOT_ENOUGH_RIGHTS:           return "the account may not trade";
      case ERR_TOO_FREQUENT_REQUESTS:       return "too frequent requests";
      case ERR_MALFUNCTIONAL_TRADE:         return "the server reported a malfunction";
      case ERR_ACCOUNT_DISABLED:            return "the account is disabled";
      case ERR_INVALID_ACCOUNT:             return "the account is invalid";
      case ERR_TRADE_TIMEOUT:               return "the trade server did not answer in time";
      case ERR_INVALID_PRICE:               return "invalid price";
      case ERR_INVALID_STOPS:               return "the broker refused the stop-loss or take-profit";
      case ERR_INVALID_TRADE_VOLUME:        return "the broker refused the lot size";
      case ERR_MARKET_CLOSED:               return "the market is closed";
      case ERR_TRADE_DISABLED:              return "trading is disabled for this symbol";
      case ERR_NOT_ENOUGH_MONEY:            return "not enough money";
      case ERR_PRICE_CHANGED:               return "the price changed";
      case ERR_OFF_QUOTES:                  return "off quotes";
      case ERR_BROKER_BUSY:                 return "the broker is busy";
      case ERR_REQUOTE:                     return "requote";
      case ERR_ORDER_LOCKED:                return "the order is locked";
      case ERR_LONG_POSITIONS_ONLY_ALLOWED: return "only buying is allowed";
      case ERR_TOO_MANY_REQUESTS:           return "too many requests";
      case PELLITH_ORDER_QUEUED:            return "the server queued the order";
      case PELLITH_DEALER_ACCEPTED:         return "the dealer accepted the order but has not filled it yet";
      case PELLITH_ORDER_DISCARDED:         return "the order was discarded at its confirmation";
      case ERR_TRADE_MODIFY_DENIED:         return "the price is too close to the order's stops";
      case ERR_TRADE_EXPIRATION_DENIED:     return "the broker does not allow expiry times";
      case ERR_TRADE_CONTEXT_BUSY:          return "the trade context is busy";
      case ERR_TRADE_TOO_MANY_ORDERS:       return "the broker's limit of open orders is reached";
      case ERR_TRADE_HEDGE_PROHIBITED:      return "hedging is prohibited";
      case ERR_TRADE_PROHIBITED_BY_FIFO:    return "the broker's FIFO rule prohibits it";
      case ERR_TRADE_NOT_ALLOWED:           return "AutoTrading is off";
      case ERR_LONGS_NOT_ALLOWED:           return "buying is not allowed";
      case ERR_SHORTS_NOT_ALLOWED:          return "selling is not allowed";
     }
   return "";
  }

string ErrorText(int error)
  {
   string text = KnownErrorText(error);
   return (text != "") ? text : "the server answered with error " + IntegerToString(error);
  }

//+------------------------------------------------------------------+
//| Answers after which the same request may well succeed a moment   |
//| later with fresh prices.                                         |
//+------------------------------------------------------------------+
bool Transient(int error)
  {
   return error == ERR_REQUOTE || error == ERR_OFF_QUOTES || error == ERR_PRICE_CHANGED ||
          error == ERR_INVALID_PRICE || error == ERR_TRADE_CONTEXT_BUSY ||
          error == ERR_SERVER_BUSY || error == ERR_BROKER_BUSY || error == ERR_NO_CONNECTION;
  }

//+------------------------------------------------------------------+
//| Answers that leave open whether the server carried the request   |
//| out: the order may be open, or open a while later. So is an      |
//| answer of the server the expert does not know, or none at all    |
//| (codes from 4000 on are the terminal's own: nothing was sent).   |
//+------------------------------------------------------------------+
bool OutcomeUnknown(int error)
  {
   return error == ERR_TRADE_TIMEOUT || error == ERR_NO_RESULT || error == ERR_COMMON_ERROR ||
          error == ERR_MALFUNCTIONAL_TRADE || error == PELLITH_ORDER_QUEUED ||
          error == PELLITH_DEALER_ACCEPTED || (error < 4000 && KnownErrorText(error) == "");
  }

//+------------------------------------------------------------------+
//| Whether the selected order is this click's: this chart's, of the |
//| click's symbol, side, lots and magic number, opened at or after  |
//| the click, not an order the expert holds already, and with a     |
//| comment whose number, as far as the server left it, is the       |
//| click's.                                                         |
//+------------------------------------------------------------------+
bool IsClickOrder(int click, string symbol, int type, double lots, datetime since, bool anyNumber)
  {
   string number = "";
   if(!ChartComment(OrderComment(), number))
      return false;
   if(!anyNumber && number != "" && StringFind(IntegerToString(click), number) != 0)
      return false;
   return OrderSymbol() == symbol && OrderType() == type && MathAbs(OrderLots() - lots) < 1e-8 &&
          OrderMagicNumber() == InpMagic && OrderOpenTime() >= since && !Known(OrderTicket());
  }

//+------------------------------------------------------------------+
//| This click's order among the open orders and the history, or -1. |
//+------------------------------------------------------------------+
int FindClickOrder(int click, string symbol, int type, double lots, datetime since)
  {
   // The click's number first; then, since the server may rewrite the comment's end, any order
   // of this chart opened since the click that the expert does not hold: one click of a chart
   // at a time is in doubt, and an earlier click's order was opened before this click.
   for(int pass = 0; pass < 2; pass++)
     {
      for(int i = OrdersTotal() - 1; i >= 0; i--)
         if(OrderSelect(i, SELECT_BY_POS, MODE_TRADES) &&
            IsClickOrder(click, symbol, type, lots, since, pass == 1))
            return OrderTicket();
      // Closed already, at its stop say, before the terminal listed it.
      for(int j = OrdersHistoryTotal() - 1; j >= 0; j--)
         if(OrderSelect(j, SELECT_BY_POS, MODE_HISTORY) &&
            IsClickOrder(click, symbol, type, lots, since, pass == 1))
            return OrderTicket();
     }
   return -1;
  }

int ConfirmSeconds()
  {
   return (InpConfirmSeconds > 0) ? InpConfirmSeconds : 1;
  }

//+------------------------------------------------------------------+
//| An unclear answer to a click: tell the trader at once, and look  |
//| for its order on the following events instead of sending again.  |
//| A common error also stops trading until the trader clicks.       |
//+------------------------------------------------------------------+
void AwaitOrder(int click, int type, double lots, double clicked, double slPips, double tpPips,
                double trailPips, string what, datetime since, int error)
  {
   g_pendingClick = click;
   g_pendingPrice = clicked;
   g_pendingSymbol = Symbol();
   g_pendingType = type;
   g_pendingLots = lots;
   g_pendingPips[0] = slPips;
   g_pendingPips[1] = tpPips;
   g_pendingPips[2] = trailPips;
   g_pendingWhat = what;
   g_pendingTime = since;
   g_pendingSince = GetTickCount();
   string halted = "";
   if(error == ERR_COMMON_ERROR)
     {
      g_halted = true;
      halted = "; trading on this chart stops until you click again";
     }
   Tell(what + " not confirmed yet: " + ErrorText(error) + ". It will not be sent again; the "
        "expert looks for it for up to " + IntegerToString(ConfirmSeconds()) + " s" + halted);
  }

//+------------------------------------------------------------------+
//| Looks once for the order of the click in doubt; takes it over    |
//| when it is there, gives up when the time is over.                |
//+------------------------------------------------------------------+
void CheckPending()
  {
   if(g_pendingClick == 0)
      return;
   int ticket = FindClickOrder(g_pendingClick, g_pendingSymbol, g_pendingType, g_pendingLots,
                               g_pendingTime);
   if(ticket >= 0)
     {
      g_pendingClick = 0;
      TakeOver(ticket, g_pendingWhat, g_pendingPrice, g_pendingPips[0], g_pendingPips[1],
               g_pendingPips[2], true);
      return;
     }
   if((int)(GetTickCount() - g_pendingSince) < ConfirmSeconds() * 1000)
      return;
   g_pendingClick = 0;
   Tell(g_pendingWhat + ": the server did not confirm the order within " +
        IntegerToString(ConfirmSeconds()) + " s and it was not sent again; look in the Trade tab");
  }

//+------------------------------------------------------------------+
//| Why the panel's lot size cannot be traded ("" when it can); the  |
//| lots to send, rounded down to the broker's step, in `lots`.      |
//+------------------------------------------------------------------+
string TradableLots(double typed, double slPips, double &lots, int &decimals)
  {
   double step = MarketInfo(Symbol(), MODE_LOTSTEP);
   double minimum = MarketInfo(Symbol(), MODE_MINLOT);
   double maximum = MarketInfo(Symbol(), MODE_MAXLOT);
   if(step <= 0)
      step = (minimum > 0) ? minimum : 0.01;
   decimals = StepDecimals(step);
   if(typed <= 0)
      return "the Lots field reads " + FieldText(typed) + "; type a lot size above zero";
   // Risk sizes, the field caps: a stop typed far too tight or a risk set too high can never
   // send more than the trader typed.
   double wanted = typed;
   double risk = 0;
   if(InpRiskPercent > 0)
     {
      string why = RiskLots(slPips, risk);
      if(why != "")
         return why;
      wanted = MathMin(typed, risk);
     }
   if(wanted > maximum * (1 + 1e-9))
      return "lot size " + FieldText(typed) + " is above the broker's maximum of " +
             DoubleToString(maximum, decimals);
   // Down to the step, never up; the tolerance keeps 0.1 at 0.1 on a step of 0.01.
   lots = NormalizeDouble(MathFloor(wanted / step + 1e-7) * step, decimals);
   if(lots < minimum * (1 - 1e-9) || lots <= 0)
     {
      if(wanted < typed)
         return RiskText(slPips) + " allows " + DoubleToString(risk, decimals + 2) +
                " lots, below the broker's minimum of " + DoubleToString(minimum, decimals);
      return "lot size " + FieldText(typed) + " is below the broker's minimum of " +
             DoubleToString(minimum, decimals);
     }
   if(InpMaxLots > 0 && lots > InpMaxLots * (1 + 1e-9))
      return "lot size " + DoubleToString(lots, decimals) + " is above the cap of " +
             FieldText(InpMaxLots) + " lots (InpMaxLots); type the lots again, or raise the cap";
   return "";
  }

//+------------------------------------------------------------------+
//| Why a field cannot be used at all ("" when it can): the panel    |
//| writes NaN for a field whose text is not a number, and "none" is |
//| never read into it. Only the four values reach the expert, not   |
//| the text, so the message cannot quote what was typed.            |
//+------------------------------------------------------------------+
string NotANumber()
  {
   string names = "Lots S/L  T/P  T/S  ";
   for(int i = 0; i < 4; i++)
      if(!MathIsValidNumber(g_values[i]))
         return StringSubstr(names, i * 5, (i == 0) ? 4 : 3) + " is not a number";
   return "";
  }

//+------------------------------------------------------------------+
//| Why the guards' inputs cannot be used ("" when they can): each   |
//| is refused at the start by name, so that no click meets a guard  |
//| that cannot work.                                                |
//+------------------------------------------------------------------+
string BadInput()
  {
   if(!MathIsValidNumber(InpRiskPercent) || InpRiskPercent < 0 || InpRiskPercent > 100)
      return "InpRiskPercent reads " + FieldText(InpRiskPercent) +
             "; type 0 for off or a percent of the equity above 0 and at most 100";
   if(!MathIsValidNumber(InpMaxLots) || InpMaxLots < 0)
      return "InpMaxLots reads " + FieldText(InpMaxLots) +
             "; type 0 for no cap or the most lots one click may send";
   double minimum = MarketInfo(Symbol(), MODE_MINLOT);
   if(InpMaxLots > 0 && InpMaxLots < minimum * (1 - 1e-9))
      return "InpMaxLots reads " + DoubleToString(InpMaxLots, StepDecimals(InpMaxLots)) +
             ", below the broker's minimum of " + DoubleToString(minimum, StepDecimals(minimum)) +
             " lots: no click could trade";
   if(!MathIsValidNumber(InpBreakEvenPips) || InpBreakEvenPips < 0)
      return "InpBreakEvenPips reads " + FieldText(InpBreakEvenPips) +
             "; type 0 for off or a positive number of pips";
   if(!MathIsValidNumber(InpBreakEvenLockPips) || InpBreakEvenLockPips < 0)
      return "InpBreakEvenLockPips reads " + FieldText(InpBreakEvenLockPips) +
             "; type 0 or a positive number of pips";
   if(InpBreakEvenPips > 0 && InpBreakEvenLockPips >= InpBreakEvenPips)
      return "InpBreakEvenLockPips reads " + FieldText(InpBreakEvenLockPips) +
             ", not less than InpBreakEvenPips of " + FieldText(InpBreakEvenPips) +
             ": the stop would be at the price or beyond it";
   if(!MathIsValidNumber(InpMaxSpreadPips) || InpMaxSpreadPips < 0)
      return "InpMaxSpreadPips reads " + FieldText(InpMaxSpreadPips) +
             "; type 0 for off or a positive number of pips";
   return "";
  }

//+------------------------------------------------------------------+
//| Why the spread refuses a click ("" when it does not).            |
//+------------------------------------------------------------------+
string SpreadTooWide()
  {
   if(InpMaxSpreadPips <= 0)
      return "";
   double pip = PipSize();
   // Whole points on both sides, so that 1.2 pips is never wider than 1.2 pips.
   if(MathRound((Ask - Bid) / Point) <= MathRound(InpMaxSpreadPips * pip / Point))
      return "";
   return "the spread is " + Pips((Ask - Bid) / pip) + ", wider than the " +
          Pips(InpMaxSpreadPips) + " allowed (InpMaxSpreadPips); click again when it narrows";
  }

//+------------------------------------------------------------------+
//| The account's money that risk is measured against: the equity,   |
//| so that open losses make the next click smaller.                 |
//+------------------------------------------------------------------+
double RiskBase()
  {
   return AccountEquity();
  }

//+------------------------------------------------------------------+
//| The money one lot loses when the price moves `distance` against  |
//| it, from the broker's tick value (per lot, in the account's      |
//| currency) and tick size; 0 when the broker gives none. MQL4's    |
//| MODE_TICKVALUE is "tick value in the deposit currency"           |
//| (docs.mql4.com/constants/environment_state/marketinfoconstants). |
//+------------------------------------------------------------------+
double LossPerLot(double distance)
  {
   double tickValue = MarketInfo(Symbol(), MODE_TICKVALUE);
   double tickSize = MarketInfo(Symbol(), MODE_TICKSIZE);
   if(!MathIsValidNumber(tickValue) || tickValue <= 0 || !MathIsValidNumber(tickSize) ||
      tickSize <= 0)
      return 0;
   return distance / tickSize * tickValue;
  }

//+------------------------------------------------------------------+
//| The lots whose loss at a stop `slPips` away is at most           |
//| InpRiskPercent of the equity, not yet rounded to the step; why   |
//| not when they cannot be known ("" when they can).                |
//+------------------------------------------------------------------+
string RiskLots(double slPips, double &lots)
  {
   lots = 0;
   if(slPips <= 0)
      return "lots from risk (InpRiskPercent) need a stop-loss: type the S/L in pips";
   // The stop as the order will carry it: whole points, rounded away from the price.
   double distance = MathCeil(slPips * PipSize() / Point - 1e-7) * Point;
   double loss = LossPerLot(distance);
   if(loss <= 0)
      return "the broker gives " + Symbol() + " a tick value of " +
             DoubleToString(MarketInfo(Symbol(), MODE_TICKVALUE), 5) + " and a tick size of " +
             DoubleToString(MarketInfo(Symbol(), MODE_TICKSIZE), 8) +
             ", so lots cannot be sized from risk; set InpRiskPercent to 0 to trade the typed lots";
   lots = MathMax(RiskBase(), 0) * InpRiskPercent / 100 / loss;
   return "";
  }

string RiskText(double slPips)
  {
   return DoubleToString(InpRiskPercent, 2) + " % risk of " + DoubleToString(RiskBase(), 2) +
          " " + AccountCurrency() + " equity at a stop-loss of " + Pips(slPips);
  }

//+------------------------------------------------------------------+
//| What a trade risks at its stop-loss, in the account's currency.  |
//+------------------------------------------------------------------+
string RiskAtStop(int type, double lots, double open, double sl)
  {
   if(sl <= 0)
      return "no stop-loss, so nothing limits its loss";
   double direction = (type == OP_BUY) ? 1 : -1;
   double loss = lots * LossPerLot(direction * (open - sl));
   if(LossPerLot(1) <= 0)
      return "the broker gives no tick value, so its loss at the stop-loss " +
             DoubleToString(sl, Digits) + " is not known";
   if(loss <= 0)
      return "its stop-loss " + DoubleToString(sl, Digits) + " loses nothing";
   return DoubleToString(loss, 2) + " " + AccountCurrency() + " at risk at its stop-loss " +
          DoubleToString(sl, Digits);
  }

//+------------------------------------------------------------------+
//| Why a distance field cannot be used ("" when it can).            |
//+------------------------------------------------------------------+
string CheckDistance(string field, double pips)
  {
   if(pips < 0)
      return "the " + field + " field reads " + FieldText(pips) +
             "; type 0 for none or a positive number of pips";
   return "";
  }

//+------------------------------------------------------------------+
//| The broker's minimum distance of stops from the market, in price.|
//+------------------------------------------------------------------+
double StopLevelDistance()
  {
   return MarketInfo(Symbol(), MODE_STOPLEVEL) * Point;
  }

//+------------------------------------------------------------------+
//| Stop-loss and take-profit prices for an order opened at `open`,  |
//| checked against the stop level from the current market; the     |
//| reason when one of them is too close ("" when both fit).         |
//+------------------------------------------------------------------+
string StopPrices(int type, double open, double slPips, double tpPips, double &sl, double &tp)
  {
   double pip = PipSize();
   double direction = (type == OP_BUY) ? 1 : -1;
   double market = (type == OP_BUY) ? Bid : Ask; // the price the order would close at
   double minimum = StopLevelDistance();
   sl = 0;
   tp = 0;
   if(slPips > 0)
      sl = NormalizeDouble(open - direction * slPips * pip, Digits);
   if(tpPips > 0)
      tp = NormalizeDouble(open + direction * tpPips * pip, Digits);
   // A stop must at least lie on its own side of the price, beyond the spread.
   double need = MathMax(MathRound(minimum / Point), 1);
   string limit = (minimum > 0) ? "closer than the broker's minimum of " + Pips(minimum / pip) :
                  "on the wrong side of the price";
   if(sl != 0 && MathRound(direction * (market - sl) / Point) < need)
      return "stop-loss " + limit;
   if(tp != 0 && MathRound(direction * (tp - market) / Point) < need)
      return "take-profit " + limit;
   return "";
  }

//+------------------------------------------------------------------+
//| Why no order can be sent now ("" when trading is possible).      |
//+------------------------------------------------------------------+
string TradingRefused()
  {
   if(!TerminalInfoInteger(TERMINAL_CONNECTED))
      return "the terminal is not connected to the trade server";
   if(!TerminalInfoInteger(TERMINAL_TRADE_ALLOWED))
      return "AutoTrading is off";
   if(!MQLInfoInteger(MQL_TRADE_ALLOWED))
      return "live trading is not allowed in the expert's settings (tab Common)";
   return "";
  }

//+------------------------------------------------------------------+
//| A market order with the panel's lot size, stop-loss and          |
//| take-profit (pips from the open price; 0 pips: none), trailed by |
//| the panel's trailing stop. One click is at most one order; a     |
//| click that does not become one is told.                          |
//+------------------------------------------------------------------+
void OpenAtMarket(int type)
  {
   // The price the click is taken at, fresh on this exchange: every attempt is measured from it.
   double clicked = (type == OP_BUY) ? Ask : Bid;
   g_halted = false; // a click is the trader's go-ahead after a common error
   string side = (type == OP_BUY) ? "buy" : "sell";
   string refused = TradingRefused();
   if(refused == "" && g_pendingClick != 0)
      refused = "the " + g_pendingWhat + " clicked before is not confirmed yet; click again when "
                "the expert has said what became of it";
   if(refused == "")
      refused = NotANumber();
   if(refused == "")
      refused = SpreadTooWide();
   if(refused == "")
      refused = CheckDistance("S/L", g_values[1]);
   if(refused == "")
      refused = CheckDistance("T/P", g_values[2]);
   if(refused == "")
      refused = CheckDistance("T/S", g_values[3]);
   double lots = 0;
   int decimals = 2;
   if(refused == "")
      refused = TradableLots(g_values[0], g_values[1], lots, decimals);
   if(refused != "")
     {
      Tell(side + " not sent: " + refused);
      return;
     }
   // The fields as they read at the click are this order's for good.
   double slPips = g_values[1];
   double tpPips = g_values[2];
   double trailPips = g_values[3];
   bool market = SymbolInfoInteger(Symbol(), SYMBOL_TRADE_EXEMODE) == SYMBOL_TRADE_EXECUTION_MARKET;
   int click = NextClick();
   datetime since = TimeCurrent();
   string comment = OrderTag() + IntegerToString(click);
   string what = side + " " + DoubleToString(lots, decimals);
   double pip = PipSize();
   int allowed = (int)MathRound(InpSlippagePips * pip / Point);
   color arrow = (type == OP_BUY) ? clrDodgerBlue : clrOrangeRed;

   int ticket = -1;
   int error = 0;
   uint started = GetTickCount();
   for(int attempt = 1; ticket < 0; attempt++)
     {
      RefreshRates();
      double price = (type == OP_BUY) ? Ask : Bid;
      // Every attempt stays within the slippage of the price clicked, not of the latest one.
      int moved = (int)MathRound(MathAbs(price - clicked) / Point);
      if(moved > allowed)
        {
         Tell(what + " not sent: the price moved " + Pips(moved * Point / pip) + " from " +
              DoubleToString(clicked, Digits) + " since the click, more than the " +
              Pips(InpSlippagePips) + " of slippage allowed");
         return;
        }
      double sl = 0;
      double tp = 0;
      string tooClose = StopPrices(type, price, slPips, tpPips, sl, tp);
      if(tooClose != "")
        {
         Tell(what + " not sent: " + tooClose);
         return;
        }
      if(market)
        {
         // Market execution takes no stops with the order: they follow at once.
         sl = 0;
         tp = 0;
        }
      ResetLastError();
      ticket = OrderSend(Symbol(), type, NormalizeDouble(lots, decimals), price, allowed - moved,
                         sl, tp, comment, InpMagic, 0, arrow);
      if(ticket >= 0)
         break;
      error = GetLastError();
      // Whatever the answer, look for the order before anything else: a second request for an
      // order that is open would open another.
      ticket = FindClickOrder(click, Symbol(), type, lots, since);
      if(ticket >= 0)
         break;
      if(OutcomeUnknown(error))
        {
         AwaitOrder(click, type, lots, clicked, slPips, tpPips, trailPips, what, since, error);
         return;
        }
      if(!Transient(error))
         break;
      if(attempt >= PELLITH_ATTEMPTS || (int)(GetTickCount() - started) > PELLITH_RETRY_MS)
         break;
      Journal(what + ": " + ErrorText(error) + ", trying again");
      Sleep(PELLITH_RETRY_PAUSE);
     }
   if(ticket < 0)
     {
      Tell(what + " not sent: " + ErrorText(error));
      return;
     }
   TakeOver(ticket, what, clicked, slPips, tpPips, trailPips, false);
  }

//+------------------------------------------------------------------+
//| The order of a click, confirmed at once or found late: it is     |
//| remembered with the click's trailing stop and gets the click's   |
//| stops. A late one is told, since the trader was told it was in   |
//| doubt.                                                           |
//+------------------------------------------------------------------+
void TakeOver(int ticket, string what, double clicked, double slPips, double tpPips,
              double trailPips, bool late)
  {
   Remember(ticket, trailPips, InpBreakEvenPips, InpBreakEvenLockPips);
   if(!OrderSelect(ticket, SELECT_BY_TICKET))
     {
      Tell(what + " was sent as #" + IntegerToString(ticket) +
           " but cannot be found; check its stops in the Trade tab");
      return;
     }
   string opened = what + " opened as #" + IntegerToString(ticket) + " at " +
                   DoubleToString(OrderOpenPrice(), (int)MarketInfo(OrderSymbol(), MODE_DIGITS));
   // The stop it gets: sent with it, or set next from its open price.
   double sl = OrderStopLoss();
   if(sl == 0 && slPips > 0 && OrderSymbol() == Symbol())
      sl = NormalizeDouble(OrderOpenPrice() - ((OrderType() == OP_BUY) ? 1 : -1) * slPips *
                           PipSize(), Digits);
   string risk = RiskAtStop(OrderType(), OrderLots(), OrderOpenPrice(), sl);
   if(!late)
      Journal(opened + "; " + risk);
   else if(OrderCloseTime() != 0)
     {
      Tell(opened + " after all, and it is closed already");
      return;
     }
   else
      Tell(opened + " after all: the server confirmed it late; " + risk);
   // Under market execution the broker fills at the market price whatever the slippage sent:
   // the expert can only tell a fill beyond the slippage allowed.
   double pip = PipSize();
   double worse = (OrderType() == OP_BUY) ? OrderOpenPrice() - clicked : clicked - OrderOpenPrice();
   if(MathRound(worse / Point) > MathRound(InpSlippagePips * pip / Point))
      Tell(what + " filled at " + DoubleToString(OrderOpenPrice(), Digits) + ", " +
           Pips(worse / pip) + " worse than the " + DoubleToString(clicked, Digits) +
           " clicked, beyond the " + Pips(InpSlippagePips) +
           " of slippage allowed: the broker fills at market under this execution");
   SetStops(ticket, what, slPips, tpPips);
  }

//+------------------------------------------------------------------+
//| Puts the stops the trader asked for on a new order, measured     |
//| from its real open price; tells the trader when it stays without |
//| them.                                                            |
//+------------------------------------------------------------------+
void SetStops(int ticket, string what, double slPips, double tpPips)
  {
   if(slPips <= 0 && tpPips <= 0)
      return;
   string name = what + " #" + IntegerToString(ticket);
   string error = "";
   uint started = GetTickCount();
   for(int attempt = 1; ; attempt++)
     {
      RefreshRates();
      if(!OrderSelect(ticket, SELECT_BY_TICKET) || OrderCloseTime() != 0)
         return;
      if(OrderSymbol() != Symbol())
        {
         // The chart's prices are another symbol's: stops sent with the order must do.
         if((OrderStopLoss() != 0 || slPips <= 0) && (OrderTakeProfit() != 0 || tpPips <= 0))
            return;
         error = "the chart shows another symbol now";
         break;
        }
      double sl = 0;
      double tp = 0;
      error = StopPrices(OrderType(), OrderOpenPrice(), slPips, tpPips, sl, tp);
      if(error != "")
         break;
      if(MathAbs(sl - OrderStopLoss()) < Point / 2 && MathAbs(tp - OrderTakeProfit()) < Point / 2)
         return; // the order carries them already
      if(g_halted)
        {
         error = "trading on this chart stopped after the server's common error";
         break;
        }
      ResetLastError();
      if(OrderModify(ticket, OrderOpenPrice(), sl, tp, 0, clrNONE))
        {
         Journal(name + ": stop-loss " + DoubleToString(sl, Digits) + ", take-profit " +
                 DoubleToString(tp, Digits));
         return;
        }
      int code = GetLastError();
      error = ErrorText(code);
      if(code == ERR_COMMON_ERROR)
        {
         g_halted = true;
         error = error + "; trading on this chart stops until you click again";
         break;
        }
      // A modification is the same whether it is made once or twice: unclear answers are
      // tried again too.
      if(!Transient(code) && !OutcomeUnknown(code))
         break;
      if(attempt >= PELLITH_ATTEMPTS || (int)(GetTickCount() - started) > PELLITH_RETRY_MS)
         break;
      Sleep(PELLITH_RETRY_PAUSE);
     }
   if(!OrderSelect(ticket, SELECT_BY_TICKET))
      return;
   string missing = (OrderStopLoss() == 0 && slPips > 0) ? "stop-loss" : "";
   if(OrderTakeProfit() == 0 && tpPips > 0)
      missing = (missing == "") ? "take-profit" : "stop-loss and take-profit";
   if(missing == "")
      missing = "stop-loss and take-profit as typed";
   Tell(name + " is open WITHOUT its " + missing + ": " + error + ". Set them by hand.");
  }

//+------------------------------------------------------------------+
//| The stop trailing asks for the selected order (0: none): the     |
//| trailing distance behind the price once it is that far in profit,|
//| by at least the trailing step.                                   |
//+------------------------------------------------------------------+
double TrailTarget(double trail, double step)
  {
   double current = OrderStopLoss();
   if(OrderType() == OP_BUY)
     {
      // Further in profit than the trailing stop by half a point at least, so that rounding
      // in the subtraction cannot decide it.
      if(Bid - OrderOpenPrice() - trail < Point / 2)
         return 0;
      double stop = NormalizeDouble(Bid - trail, Digits);
      if(current != 0 && stop - current < step - Point / 2)
         return 0;
      return stop;
     }
   if(OrderOpenPrice() - Ask - trail < Point / 2)
      return 0;
   double stop = NormalizeDouble(Ask + trail, Digits);
   if(current != 0 && current - stop < step - Point / 2)
      return 0;
   return stop;
  }

//+------------------------------------------------------------------+
//| The selected order's break-even stop: its open price plus the    |
//| pips locked in (minus for a sell).                               |
//+------------------------------------------------------------------+
double BreakEvenStop(double lockPips)
  {
   double direction = (OrderType() == OP_BUY) ? 1 : -1;
   return NormalizeDouble(OrderOpenPrice() + direction * lockPips * PipSize(), Digits);
  }

//+------------------------------------------------------------------+
//| The stop break-even asks for the selected order (0: not yet):    |
//| once it is `pips` in profit and its break-even stop lies outside |
//| the broker's minimum distance from the price it would close at.  |
//+------------------------------------------------------------------+
double BreakEvenTarget(double pips, double lockPips, double minimum)
  {
   double direction = (OrderType() == OP_BUY) ? 1 : -1;
   double market = (OrderType() == OP_BUY) ? Bid : Ask;
   if(direction * (market - OrderOpenPrice()) < pips * PipSize() - Point / 2)
      return 0;
   double stop = BreakEvenStop(lockPips);
   if(MathRound(direction * (market - stop) / Point) < MathMax(MathRound(minimum / Point) + 1, 1))
      return 0; // the broker's levels allow it once the price has moved on
   return stop;
  }

//+------------------------------------------------------------------+
//| Moves the stop of this expert's orders towards profit: behind    |
//| the price once an order is further in profit than its trailing   |
//| stop (the T/S field at its click), by at least the trailing step;|
//| and once, to break-even, when it is InpBreakEvenPips (as at its  |
//| click) in profit. Whichever is better for the trader wins; never |
//| backwards, never inside the broker's stop or freeze level (the   |
//| MQL4 book's "Requirements and Limitations in Making Trades",     |
//| book.mql4.com/appendix/limits: Bid-SL > FreezeLevel for a buy).  |
//+------------------------------------------------------------------+
void TrailStops()
  {
   if(!g_created || g_halted)
      return;
   double pip = PipSize();
   double step = (MathIsValidNumber(InpTrailingStepPips) && InpTrailingStepPips > 0) ?
                 InpTrailingStepPips * pip : Point;
   double stopLevel = StopLevelDistance();
   double freezeLevel = MarketInfo(Symbol(), MODE_FREEZELEVEL) * Point;
   double minimum = MathMax(stopLevel, freezeLevel);
   for(int i = ArraySize(g_tickets) - 1; i >= 0; i--)
     {
      if(!OrderSelect(g_tickets[i], SELECT_BY_TICKET) || OrderCloseTime() != 0)
        {
         ForgetClosed(i);
         continue;
        }
      double trailPips = g_trails[i];
      if(OrderSymbol() != Symbol() || (OrderType() != OP_BUY && OrderType() != OP_SELL))
         continue; // an order of the chart's previous symbol
      double direction = (OrderType() == OP_BUY) ? 1 : -1;
      double current = OrderStopLoss();
      // A stop at break-even or beyond, however it got there, is break-even done.
      if(g_breakEvens[i] > 0 && current != 0 &&
         direction * (current - BreakEvenStop(g_breakLocks[i])) > -Point / 2)
         BreakEvenDone(i);
      double trailStop = 0;
      if(trailPips > 0)
        {
         double trail = trailPips * pip;
         if(trail < minimum)
           {
            if(g_trailErrors[i] != PELLITH_TRAIL_TOO_CLOSE)
               Journal("trailing stop " + Pips(trailPips) + " of #" +
                       IntegerToString(OrderTicket()) + " is inside the broker's minimum of " +
                       Pips(minimum / pip) + "; its stop is not trailed");
            g_trailErrors[i] = PELLITH_TRAIL_TOO_CLOSE;
           }
         else
           {
            if(g_trailErrors[i] == PELLITH_TRAIL_TOO_CLOSE)
               g_trailErrors[i] = 0;
            trailStop = TrailTarget(trail, step);
           }
        }
      double evenStop = 0;
      if(g_breakEvens[i] > 0)
         evenStop = BreakEvenTarget(g_breakEvens[i], g_breakLocks[i], minimum);
      double stop = trailStop;
      if(evenStop != 0 && (stop == 0 || direction * (evenStop - stop) > 0))
         stop = evenStop;
      if(stop == 0 || (current != 0 && direction * (stop - current) < Point / 2))
         continue;
      // Frozen: the stop or target is already within the freeze level of the price.
      double market = (OrderType() == OP_BUY) ? Bid : Ask;
      if((current != 0 && direction * (market - current) <= freezeLevel) ||
         (OrderTakeProfit() != 0 && direction * (OrderTakeProfit() - market) <= freezeLevel))
         continue;
      string name = ((stop == evenStop) ? "break-even stop of #" : "trailing stop of #") +
                    IntegerToString(OrderTicket());
      ResetLastError();
      if(OrderModify(OrderTicket(), OrderOpenPrice(), stop, OrderTakeProfit(), 0, clrNONE))
        {
         g_trailErrors[i] = 0;
         if(stop == evenStop)
           {
            Journal("#" + IntegerToString(OrderTicket()) + " at break-even: stop-loss " +
                    DoubleToString(stop, Digits) + ", " + Pips(g_breakLocks[i]) +
                    " beyond its open price " + DoubleToString(OrderOpenPrice(), Digits));
            BreakEvenDone(i);
           }
         continue;
        }
      int error = GetLastError();
      if(error == ERR_COMMON_ERROR)
        {
         g_halted = true;
         Tell(name + " not moved: " + ErrorText(error) +
              "; trading on this chart stops until you click again");
         return;
        }
      if(error != g_trailErrors[i])
         Journal(name + " not moved: " + ErrorText(error));
      g_trailErrors[i] = error;
     }
  }
//+------------------------------------------------------------------+
