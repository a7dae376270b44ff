//+------------------------------------------------------------------+
//|                                               PellithPanel.mq5   |
//| Shows the Pellith order-entry panel on the chart and makes the   |
//| deals it asks for: click the bid to sell, the ask to buy.        |
//| Needs the 64-bit Pellith.dll in MQL5\Libraries and "Allow DLL    |
//| imports".                                                        |
//+------------------------------------------------------------------+
#property copyright "Pellith"
#property version   "1.20"
#property description "Order-entry panel: lot size, stop-loss, take-profit and trailing stop"
#property description "in pips; click the bid to sell at market, the ask to buy at market."
#property description "Guards: lots from risk, a fat-finger cap, a spread guard; break-even."

#import "Pellith.dll"
// The panel on this chart: initial field values, the chart window (a 64-bit handle), the symbol
// as zero-terminated ANSI text.
void TerminalCreate(double ask, double bid, double point, double pipSize, double lots,
                    double stopLossPips, double takeProfitPips, double trailingStopPips,
                    int digits, long chartWindow, uchar &symbol[]);
// Refreshes the panel's prices and fills values[0..3] with lots, stop-loss, take-profit and
// trailing stop; returns 1 when the ask (buy) was clicked, 2 for the bid (sell), else 0.
int  TerminalProcessMsg(double ask, double bid, double point, double pipSize, int digits,
                        double &values[], int valuesSize, long chartWindow);
// Takes the panel off the chart.
void TerminalDelete(long chartWindow);
#import

input double InpLots             = 0.10;  // Lot size
input double InpStopLossPips     = 30;    // Stop-loss in pips (0: none)
input double InpTakeProfitPips   = 60;    // Take-profit in pips (0: none)
input double InpTrailingStopPips = 0;     // Trailing stop in pips (0: none); each position keeps the T/S of its click
input double InpTrailingStepPips = 1;     // Trailing step: the stop moves by at least this many pips
input int    InpSlippagePips     = 3;     // Accepted slippage in pips from the price clicked, retries included
input int    InpPointsPerPip     = 0;     // Points per pip (0: 10 on 3- and 5-digit quotes, else 1)
input ulong  InpMagic            = 20120; // Magic number of this expert's deals
input int    InpConfirmSeconds   = 60;    // Seconds to look for a deal the server did not confirm
input double InpRiskPercent      = 0;     // Risk per click in % of equity (0: off): lots from the S/L, the Lots field caps them
input double InpMaxLots          = 5.0;   // Fat-finger cap: a click for more lots is refused (0: no cap)
input double InpBreakEvenPips    = 0;     // Break-even: the stop moves to the open price once this many pips in profit (0: off)
input double InpBreakEvenLockPips = 1;    // Pips locked in beyond the open price at break-even
input double InpMaxSpreadPips    = 0;     // Spread guard: a click while the spread is wider is refused (0: off)

// How long one click may keep trying against requotes and busy servers.
#define PELLITH_RETRY_MS      2000
#define PELLITH_RETRY_PAUSE   250
#define PELLITH_ATTEMPTS      5
// g_trailErrors: the journal was told that the position's trailing stop is too tight.
#define PELLITH_TRAIL_TOO_CLOSE  -1
// A refused modify waits before the next one for its position: 1 s, then twice as long, at most
// 30 s. An answer that no position can be modified waits the longest pause for all of them.
#define PELLITH_TRAIL_PAUSE      1000
#define PELLITH_TRAIL_PAUSE_MAX  30000
// The history a click's deals are looked for in reaches this far back from the click: the
// server's clock and the last quote's may differ.
#define PELLITH_HISTORY_BACK     60

// The globals live as long as the expert stays on its chart: a change of timeframe, symbol,
// inputs or account calls OnDeinit and OnInit but keeps them. What must outlive a restart of the
// terminal (the last click number, each position's trailing stop and break-even) is kept in
// global variables of the terminal.
long   g_chart       = 0;     // the chart window that carries the panel
bool   g_created     = false; // TerminalCreate has been called for g_chart
string g_symbol      = "";    // the symbol the panel shows
double g_values[4];           // lots, stop-loss, take-profit, trailing stop, as the panel shows them
int    g_lastDeinit  = -1;    // the reason of the last OnDeinit; -1 before the first
int    g_lastClick   = 0;     // the highest click number this chart is known to have used
long   g_account     = 0;     // the account whose positions g_positions holds; 0 before the first look
long   g_positions[];         // identifiers of the positions this expert opened and still trails
double g_trails[];            // per position, its trailing stop in pips, as typed at its click
int    g_trailErrors[];       // per position, the last trailing failure written to the journal
int    g_trailPause[];        // per position, ms to wait after its last refused modify (0: none)
uint   g_trailNext[];         // per position, GetTickCount from which it may be modified again
double g_breakEvens[];        // per position, its break-even distance in pips (0: none, or done)
double g_breakLocks[];        // per position, the pips its break-even locks in
uint   g_trailHalt     = 0;   // an answer that no stop can be moved now (0: none) ...
uint   g_trailHaltAt   = 0;   // ... given at this GetTickCount
string g_trailHaltTold = "";  // the reason trailing stopped, as the journal was last told
double g_bid         = 0;     // the chart symbol's prices, fresh at every event
double g_ask         = 0;

// The one click whose deal the server did not confirm (g_pendingClick 0: none). It is looked
// for on every event until it turns up or InpConfirmSeconds have passed, and never sent again.
int      g_pendingClick  = 0;
ulong    g_pendingOrder  = 0;   // the order's ticket when the server gave one, else 0
double   g_pendingFilled = 0;   // the lots the server said it dealt (0: not said)
double   g_pendingPrice  = 0;   // the price at the click
string   g_pendingSymbol = "";
int      g_pendingType   = 0;
double   g_pendingLots   = 0;
double   g_pendingPips[3];      // stop-loss, take-profit and trailing stop as typed at the click
string   g_pendingWhat   = "";  // "buy 0.10", for the messages
datetime g_pendingTime   = 0;   // the server's time at the click
uint     g_pendingSince  = 0;   // GetTickCount at the unclear answer

//+------------------------------------------------------------------+
void RefreshPrices()
  {
   MqlTick tick = {};
   if(SymbolInfoTick(_Symbol, tick))
     {
      g_bid = tick.bid;
      g_ask = tick.ask;
     }
  }

double PipSize()
  {
   if(InpPointsPerPip > 0)
      return _Point * InpPointsPerPip;
   return (_Digits == 3 || _Digits == 5) ? _Point * 10 : _Point;
  }

//+------------------------------------------------------------------+
//| Alerts and the journal name the symbol, so a trader with several |
//| charts knows which one speaks.                                   |
//+------------------------------------------------------------------+
void Tell(string text)
  {
   Alert("Pellith ", _Symbol, ": ", text);
  }

void Journal(string text)
  {
   Print("Pellith ", _Symbol, ": ", text);
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

string Price(double price)
  {
   return DoubleToString(price, _Digits);
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

int LotDecimals()
  {
   double step = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_STEP);
   return StepDecimals((step > 0) ? step : 0.01);
  }

//+------------------------------------------------------------------+
//| The comment of this chart's deals: "Pellith <chart id>/<click>". |
//+------------------------------------------------------------------+
string OrderTag()
  {
   return "Pellith " + IntegerToString(ChartID()) + "/";
  }

//+------------------------------------------------------------------+
//| Whether a comment is this chart's, and the digits that follow    |
//| the chart in it. The server may have cut the comment's end, so   |
//| only the leading digits count, and may be fewer than the click's.|
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
//| also before a restart of the expert or of the terminal.          |
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
//| The terminal's global variable that keeps a position's trailing  |
//| stop across restarts of the expert.                              |
//+------------------------------------------------------------------+
string TrailVariable(long position)
  {
   return "Pellith " + IntegerToString(AccountInfoInteger(ACCOUNT_LOGIN)) + " #" +
          IntegerToString(position) + " T/S";
  }

double StoredTrail(long position)
  {
   return StoredPips(TrailVariable(position));
  }

//| The terminal's global variables that keep a position's break-even|
//| (its distance, and the pips it locks in) until it is done.       |
string BreakEvenVariable(long position, bool lock)
  {
   return "Pellith " + IntegerToString(AccountInfoInteger(ACCOUNT_LOGIN)) + " #" +
          IntegerToString(position) + (lock ? " B/E lock" : " B/E");
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
   g_chart = ChartGetInteger(0, CHART_WINDOW_HANDLE);
   if(g_chart == 0)
      return; // the chart window is not there yet: the next tick tries again
   uchar symbol[];
   StringToCharArray(_Symbol, symbol); // ANSI code page, with the terminating zero
   TerminalCreate(g_ask, g_bid, _Point, PipSize(), g_values[0], g_values[1], g_values[2],
                  g_values[3], _Digits, g_chart, symbol);
   g_symbol = _Symbol;
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
//| The history of deals from `since` on, for looking up clicks.     |
//+------------------------------------------------------------------+
bool SelectHistory(datetime since)
  {
   // Up to 2100, not to TimeCurrent: that is the last quote's time, hours old at a weekend.
   datetime end = (datetime)4102444800;
   return HistorySelect((since > PELLITH_HISTORY_BACK) ? since - PELLITH_HISTORY_BACK : 0, end);
  }

//+------------------------------------------------------------------+
//| This account's open positions of an earlier session of this      |
//| chart's expert, known by magic number and the chart named in the |
//| comment. Each trails by the distance of its click if the terminal|
//| still keeps it. The highest click number this chart's deals show |
//| keeps new clicks apart from theirs.                              |
//+------------------------------------------------------------------+
void AdoptPositions()
  {
   string number = "";
   // Called on every event: after a restart the terminal lists positions only once it has
   // synchronised with the server.
   for(int i = PositionsTotal() - 1; i >= 0; i--)
     {
      if(PositionGetTicket(i) == 0 || !ChartComment(PositionGetString(POSITION_COMMENT), number))
         continue;
      long identifier = PositionGetInteger(POSITION_IDENTIFIER);
      if((ulong)PositionGetInteger(POSITION_MAGIC) == InpMagic && Find(identifier) < 0)
         Remember(identifier, StoredTrail(identifier),
                  StoredPips(BreakEvenVariable(identifier, false)),
                  StoredPips(BreakEvenVariable(identifier, true)));
     }
  }

//+------------------------------------------------------------------+
//| The highest click number this chart's deals show keeps new clicks|
//| apart from theirs, should the terminal have lost its variables.  |
//+------------------------------------------------------------------+
void ReadClickNumbers()
  {
   string number = "";
   if(!SelectHistory(0))
      return;
   for(int j = HistoryDealsTotal() - 1; j >= 0; j--)
     {
      ulong deal = HistoryDealGetTicket(j);
      if(deal != 0 && ChartComment(HistoryDealGetString(deal, DEAL_COMMENT), number))
         g_lastClick = (int)MathMax(g_lastClick, (double)StringToInteger(number));
     }
  }

int Find(long identifier)
  {
   for(int i = 0; i < ArraySize(g_positions); i++)
      if(g_positions[i] == identifier)
         return i;
   return -1;
  }

//+------------------------------------------------------------------+
//| A position this expert trails, with its click's trailing stop    |
//| and break-even (0: none), kept in the terminal's global          |
//| variables.                                                       |
//+------------------------------------------------------------------+
void Remember(long identifier, double trailPips, double breakEvenPips, double lockPips)
  {
   int at = Find(identifier);
   if(at < 0)
     {
      at = ArraySize(g_positions);
      ResizePositions(at + 1);
      g_positions[at] = identifier;
     }
   g_trails[at] = trailPips;
   g_trailErrors[at] = 0;
   g_trailPause[at] = 0;
   g_breakEvens[at] = breakEvenPips;
   g_breakLocks[at] = lockPips;
   if(trailPips > 0)
      GlobalVariableSet(TrailVariable(identifier), trailPips);
   else
      GlobalVariableDel(TrailVariable(identifier));
   if(breakEvenPips > 0)
     {
      GlobalVariableSet(BreakEvenVariable(identifier, false), breakEvenPips);
      GlobalVariableSet(BreakEvenVariable(identifier, true), lockPips);
     }
   else
      BreakEvenDone(at);
  }

void ResizePositions(int size)
  {
   ArrayResize(g_positions, size);
   ArrayResize(g_trails, size);
   ArrayResize(g_trailErrors, size);
   ArrayResize(g_trailPause, size);
   ArrayResize(g_trailNext, size);
   ArrayResize(g_breakEvens, size);
   ArrayResize(g_breakLocks, size);
  }

//| Break-even moves a position's stop once: done, it is forgotten.  |
void BreakEvenDone(int index)
  {
   GlobalVariableDel(BreakEvenVariable(g_positions[index], false));
   GlobalVariableDel(BreakEvenVariable(g_positions[index], true));
   g_breakEvens[index] = 0;
  }

void Forget(int index)
  {
   GlobalVariableDel(TrailVariable(g_positions[index]));
   BreakEvenDone(index);
   int last = ArraySize(g_positions) - 1;
   g_positions[index] = g_positions[last];
   g_trails[index] = g_trails[last];
   g_trailErrors[index] = g_trailErrors[last];
   g_trailPause[index] = g_trailPause[last];
   g_trailNext[index] = g_trailNext[last];
   g_breakEvens[index] = g_breakEvens[last];
   g_breakLocks[index] = g_breakLocks[last];
   ResizePositions(last);
  }

//+------------------------------------------------------------------+
//| Whether the history shows the position closed: its deals in and  |
//| out balance. A position the terminal neither lists open nor shows|
//| closed is kept: after a restart both come only once synchronised.|
//+------------------------------------------------------------------+
bool PositionClosed(long identifier)
  {
   if(!HistorySelectByPosition(identifier) || HistoryDealsTotal() == 0)
      return false;
   double open = 0;
   for(int i = 0; i < HistoryDealsTotal(); i++)
     {
      ulong deal = HistoryDealGetTicket(i);
      double lots = HistoryDealGetDouble(deal, DEAL_VOLUME);
      long entry = HistoryDealGetInteger(deal, DEAL_ENTRY);
      if(entry == DEAL_ENTRY_IN)
         open += lots;
      else if(entry == DEAL_ENTRY_INOUT)
         open = lots - open;
      else
         open -= lots;
     }
   return MathAbs(open) < 1e-8;
  }

//+------------------------------------------------------------------+
//| Selects the open position with this identifier (its ticket may   |
//| have changed when a netting position was reversed).              |
//+------------------------------------------------------------------+
bool SelectPosition(long identifier)
  {
   for(int i = PositionsTotal() - 1; i >= 0; i--)
      if(PositionGetTicket(i) != 0 && PositionGetInteger(POSITION_IDENTIFIER) == identifier)
         return true;
   return false;
  }

//+------------------------------------------------------------------+
//| After a change of account the positions remembered are another  |
//| account's: forget them, and take back this account's own.         |
//+------------------------------------------------------------------+
void CheckAccount()
  {
   long account = AccountInfoInteger(ACCOUNT_LOGIN);
   if(account == 0 || account == g_account)
      return; // 0: not logged in yet
   if(g_pendingClick != 0)
     {
      Tell(g_pendingWhat + ": the account changed before the server confirmed the deal, and it "
           "was not sent again; look in the Toolbox of account " + IntegerToString(g_account));
      g_pendingClick = 0;
     }
   ResizePositions(0);
   g_account = account;
   ReadClickNumbers();
  }

//+------------------------------------------------------------------+
int OnInit()
  {
   RefreshPrices();
   if(!MQLInfoInteger(MQL_DLLS_ALLOWED))
     {
      Tell("DLL imports are off, so the panel cannot be shown. Tick \"Allow DLL imports\" in "
           "the expert's settings (tab Dependencies) and attach the expert again.");
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
      if(g_symbol != _Symbol)
        {
         DeletePanel();
         CreatePanel();
        }
     }
   else
     {
      ValuesFromInputs();
      CreatePanel();
     }
   CheckAccount();
   AdoptPositions();
   EventSetMillisecondTimer(250); // clicks are taken up even when no tick comes
   return INIT_SUCCEEDED;
  }

//+------------------------------------------------------------------+
void OnDeinit(const int reason)
  {
   EventKillTimer();
   g_lastDeinit = reason;
   if(g_pendingClick != 0 && reason != REASON_CHARTCHANGE && reason != REASON_PARAMETERS &&
      reason != REASON_ACCOUNT)
     {
      Tell(g_pendingWhat + ": the expert stopped before the server confirmed the deal, and it "
           "was not sent again; look in the Toolbox");
      g_pendingClick = 0;
     }
   if(reason != REASON_CHARTCHANGE)
      DeletePanel();
  }

//+------------------------------------------------------------------+
void OnTick()
  {
   RefreshPrices();
   if(!g_created)
      CreatePanel();
   CheckAccount();
   AdoptPositions();
   CheckPending();
   Exchange();
   TrailStops();
  }

//+------------------------------------------------------------------+
void OnTimer()
  {
   RefreshPrices();
   if(!g_created)
      CreatePanel(); // a chart gets no tick while the market is closed
   CheckAccount();
   AdoptPositions();
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
   int clicked = TerminalProcessMsg(g_ask, g_bid, _Point, PipSize(), _Digits, g_values, 4, g_chart);
   if(clicked == 1)
      OpenAtMarket(ORDER_TYPE_BUY);
   else if(clicked == 2)
      OpenAtMarket(ORDER_TYPE_SELL);
  }

//+------------------------------------------------------------------+
//| What the trade server's return code means, in words; "" for a    |
//| code the expert does not know. The codes and their meanings are  |
//| the reference's: https://www.mql5.com/en/docs/constants/         |
//| errorswarnings/enum_trade_return_codes                           |
//+------------------------------------------------------------------+
string KnownRetcodeText(uint retcode)
  {
   switch(retcode)
     {
      case TRADE_RETCODE_REQUOTE:            return "requote";
      case TRADE_RETCODE_REJECT:             return "the server rejected the request";
      case TRADE_RETCODE_CANCEL:             return "the request was cancelled";
      case TRADE_RETCODE_PLACED:             return "the server placed the order but has not filled it yet";
      case TRADE_RETCODE_ERROR:              return "the server could not process the request";
      case TRADE_RETCODE_TIMEOUT:            return "the trade server did not answer in time";
      case TRADE_RETCODE_INVALID:            return "the server found the request invalid";
      case TRADE_RETCODE_INVALID_VOLUME:     return "the broker refused the lot size";
      case TRADE_RETCODE_INVALID_PRICE:      return "invalid price";
      case TRADE_RETCODE_INVALID_STOPS:      return "the broker refused the stop-loss or take-profit";
      case TRADE_RETCODE_TRADE_DISABLED:     return "trading is disabled for this symbol";
      case TRADE_RETCODE_MARKET_CLOSED:      return "the market is closed";
      case TRADE_RETCODE_NO_MONEY:           return "not enough money";
      case TRADE_RETCODE_PRICE_CHANGED:      return "the price changed";
      case TRADE_RETCODE_PRICE_OFF:          return "there are no quotes";
      case TRADE_RETCODE_INVALID_EXPIRATION: return "the broker refused the expiry time";
      case TRADE_RETCODE_ORDER_CHANGED:      return "the order changed on the server";
      case TRADE_RETCODE_TOO_MANY_REQUESTS:  return "too many requests";
      case TRADE_RETCODE_NO_CHANGES:         return "nothing to change";
      case TRADE_RETCODE_SERVER_DISABLES_AT: return "the server does not allow automated trading";
      case TRADE_RETCODE_CLIENT_DISABLES_AT: return "Algo Trading is off in the terminal";
      case TRADE_RETCODE_LOCKED:             return "the request is locked for processing";
      case TRADE_RETCODE_FROZEN:             return "the price is within the broker's freeze level of the stops";
      case TRADE_RETCODE_INVALID_FILL:       return "the broker does not take this filling policy";
      case TRADE_RETCODE_CONNECTION:         return "there is no connection to the trade server";
      case TRADE_RETCODE_ONLY_REAL:          return "the broker allows this on real accounts only";
      case TRADE_RETCODE_LIMIT_ORDERS:       return "the broker's limit of orders is reached";
      case TRADE_RETCODE_LIMIT_VOLUME:       return "the broker's volume limit for this symbol is reached";
      case TRADE_RETCODE_INVALID_ORDER:      return "the broker does not take this kind of order";
      case TRADE_RETCODE_POSITION_CLOSED:    return "the position is closed already";
      case TRADE_RETCODE_INVALID_CLOSE_VOLUME: return "the lots to close are more than the position's";
      case TRADE_RETCODE_CLOSE_ORDER_EXIST:  return "the position has a close order already";
      case TRADE_RETCODE_LIMIT_POSITIONS:    return "the broker's limit of open positions is reached";
      case TRADE_RETCODE_REJECT_CANCEL:      return "the broker rejected the order and cancelled it";
      case TRADE_RETCODE_LONG_ONLY:          return "the broker allows only buying on this symbol";
      case TRADE_RETCODE_SHORT_ONLY:         return "the broker allows only selling on this symbol";
      case TRADE_RETCODE_CLOSE_ONLY:         return "the broker allows only closing positions on this symbol";
      case TRADE_RETCODE_FIFO_CLOSE:         return "the broker allows closing only the oldest position first";
      case TRADE_RETCODE_HEDGE_PROHIBITED:   return "the broker prohibits opposite positions on one symbol";
     }
   return "";
  }

string RetcodeText(uint retcode)
  {
   string text = KnownRetcodeText(retcode);
   return (text != "") ? text : "the server answered with code " + IntegerToString(retcode);
  }

//+------------------------------------------------------------------+
//| Answers after which the same request may well succeed a moment   |
//| later with a fresh price: nothing was dealt.                     |
//+------------------------------------------------------------------+
bool Transient(uint retcode)
  {
   return retcode == TRADE_RETCODE_REQUOTE || retcode == TRADE_RETCODE_PRICE_CHANGED ||
          retcode == TRADE_RETCODE_PRICE_OFF || retcode == TRADE_RETCODE_TOO_MANY_REQUESTS;
  }

//+------------------------------------------------------------------+
//| Answers that leave open whether the server made the deal: it may |
//| be listed now or a while later. So is a code the expert does not |
//| know, and no connection: the request may have left before the    |
//| link dropped.                                                    |
//+------------------------------------------------------------------+
bool OutcomeUnknown(uint retcode)
  {
   return retcode == TRADE_RETCODE_TIMEOUT || retcode == TRADE_RETCODE_ERROR ||
          retcode == TRADE_RETCODE_PLACED || retcode == TRADE_RETCODE_LOCKED ||
          retcode == TRADE_RETCODE_ORDER_CHANGED || retcode == TRADE_RETCODE_CONNECTION ||
          KnownRetcodeText(retcode) == "";
  }

//+------------------------------------------------------------------+
//| The order of this click's deal in the history, or 0, when the    |
//| server gave no ticket: this chart's comment with the click's     |
//| number as far as the server left it, the click's symbol, side and|
//| magic number, no more lots than the click's, made at or after    |
//| the click. The comment is only this fallback: brokers rewrite it.|
//+------------------------------------------------------------------+
ulong FindClickOrder(int click, string symbol, int type, double lots, datetime since)
  {
   if(!SelectHistory(since))
      return 0;
   string number = "";
   // The click's number first; then, since the server may rewrite the comment's end, any deal
   // of this chart made since the click: one click of a chart at a time is in doubt, and an
   // earlier click's deal was made before this click.
   for(int pass = 0; pass < 2; pass++)
      for(int i = HistoryDealsTotal() - 1; i >= 0; i--)
        {
         ulong deal = HistoryDealGetTicket(i);
         if(deal == 0 || !ChartComment(HistoryDealGetString(deal, DEAL_COMMENT), number))
            continue;
         if(pass == 0 && number != "" && StringFind(IntegerToString(click), number) != 0)
            continue;
         if(HistoryDealGetString(deal, DEAL_SYMBOL) == symbol &&
            HistoryDealGetInteger(deal, DEAL_TYPE) == type &&
            HistoryDealGetDouble(deal, DEAL_VOLUME) <= lots + 1e-8 &&
            (ulong)HistoryDealGetInteger(deal, DEAL_MAGIC) == InpMagic &&
            HistoryDealGetInteger(deal, DEAL_TIME) >= since)
            return (ulong)HistoryDealGetInteger(deal, DEAL_ORDER);
        }
   return 0;
  }

//+------------------------------------------------------------------+
//| What the deals of one order that the terminal lists did: their   |
//| lots together (a fill may come in parts, DEAL_ORDER naming the   |
//| order in each), their average price, the position and how it was|
//| entered. False while none of them is listed.                     |
//+------------------------------------------------------------------+
bool OrderFill(ulong order, datetime since, double &filled, double &fill, long &identifier,
               long &entry)
  {
   filled = 0;
   fill = 0;
   identifier = 0;
   entry = DEAL_ENTRY_IN;
   if(order == 0 || !SelectHistory(since))
      return false;
   for(int i = HistoryDealsTotal() - 1; i >= 0; i--)
     {
      ulong deal = HistoryDealGetTicket(i);
      if(deal == 0 || (ulong)HistoryDealGetInteger(deal, DEAL_ORDER) != order)
         continue;
      double lots = HistoryDealGetDouble(deal, DEAL_VOLUME);
      filled += lots;
      fill += lots * HistoryDealGetDouble(deal, DEAL_PRICE);
      identifier = HistoryDealGetInteger(deal, DEAL_POSITION_ID);
      long dealEntry = HistoryDealGetInteger(deal, DEAL_ENTRY);
      if(dealEntry == DEAL_ENTRY_INOUT || (dealEntry == DEAL_ENTRY_OUT && entry == DEAL_ENTRY_IN))
         entry = dealEntry;
     }
   if(filled <= 0)
      return false;
   fill = NormalizeDouble(fill / filled, _Digits);
   return true;
  }

int ConfirmSeconds()
  {
   return (InpConfirmSeconds > 0) ? InpConfirmSeconds : 1;
  }

//+------------------------------------------------------------------+
//| A click whose deal is not listed yet: after an unclear answer,   |
//| told at once; after "done", when the terminal lists the deal     |
//| late (the trade events may come after OrderSend's answer). Either|
//| way it is looked for on the following events, never sent again. |
//+------------------------------------------------------------------+
void AwaitDeal(int click, ulong order, double filled, int type, double lots, double clicked,
               double slPips, double tpPips, double trailPips, string what, datetime since,
               uint retcode)
  {
   g_pendingClick = click;
   g_pendingOrder = order;
   g_pendingFilled = filled;
   g_pendingPrice = clicked;
   g_pendingSymbol = _Symbol;
   g_pendingType = type;
   g_pendingLots = lots;
   g_pendingPips[0] = slPips;
   g_pendingPips[1] = tpPips;
   g_pendingPips[2] = trailPips;
   g_pendingWhat = what;
   g_pendingTime = since;
   g_pendingSince = GetTickCount();
   if(Done(retcode))
      Journal(what + " was done" + ((order != 0) ? " as order #" + IntegerToString((long)order) :
                                    "") + "; waiting for the terminal to list its deal");
   else
      Tell(what + " not confirmed yet: " + RetcodeText(retcode) + ". It will not be sent again; "
           "the expert looks for it for up to " + IntegerToString(ConfirmSeconds()) + " s");
  }

bool Done(uint retcode)
  {
   return retcode == TRADE_RETCODE_DONE || retcode == TRADE_RETCODE_DONE_PARTIAL;
  }

//+------------------------------------------------------------------+
//| Looks once for the deal of the click in doubt; takes it over     |
//| when it is listed whole, gives up when the time is over.         |
//+------------------------------------------------------------------+
void CheckPending()
  {
   if(g_pendingClick == 0)
      return;
   ulong order = g_pendingOrder;
   if(order == 0)
      order = FindClickOrder(g_pendingClick, g_pendingSymbol, g_pendingType, g_pendingLots,
                             g_pendingTime);
   double filled = 0;
   double fill = 0;
   long identifier = 0;
   long entry = 0;
   bool listed = OrderFill(order, g_pendingTime, filled, fill, identifier, entry);
   bool over = (int)(GetTickCount() - g_pendingSince) >= ConfirmSeconds() * 1000;
   // A fill whose lots the server told is waited for whole: its parts may be listed apart.
   if(listed && (filled >= g_pendingFilled - 1e-8 || over))
     {
      g_pendingClick = 0;
      TakeOver(order, g_pendingWhat, g_pendingType, g_pendingLots, g_pendingPrice,
               g_pendingPips[0], g_pendingPips[1], g_pendingPips[2], g_pendingTime,
               g_pendingFilled == 0);
      return;
     }
   if(!over)
      return;
   g_pendingClick = 0;
   if(g_pendingFilled > 0)
      Tell(g_pendingWhat + " was done" + ((g_pendingOrder != 0) ? " as order #" +
           IntegerToString((long)g_pendingOrder) : "") +
           " but the terminal has not listed its deal within " + IntegerToString(ConfirmSeconds()) +
           " s; it was not sent again: check the position and its stops in the Toolbox");
   else
      Tell(g_pendingWhat + ": the server did not confirm the deal within " +
           IntegerToString(ConfirmSeconds()) + " s and it was not sent again; look in the Toolbox");
  }

//+------------------------------------------------------------------+
//| The lots open on this symbol in one direction: the broker's      |
//| volume limit counts them.                                        |
//+------------------------------------------------------------------+
double OpenLots(int type)
  {
   double lots = 0;
   for(int i = PositionsTotal() - 1; i >= 0; i--)
      if(PositionGetTicket(i) != 0 && PositionGetString(POSITION_SYMBOL) == _Symbol &&
         PositionGetInteger(POSITION_TYPE) == type)
         lots += PositionGetDouble(POSITION_VOLUME);
   return lots;
  }

//+------------------------------------------------------------------+
//| Why the panel's lot size cannot be traded ("" when it can); the  |
//| lots to send, rounded down to the broker's step, in `lots`.      |
//+------------------------------------------------------------------+
string TradableLots(double typed, int type, double slPips, double &lots, int &decimals)
  {
   double step = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_STEP);
   double minimum = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_MIN);
   double maximum = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_MAX);
   double limit = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_LIMIT);
   if(step <= 0)
      step = (minimum > 0) ? minimum : 0.01;
   decimals = StepDecimals(step);
   if(typed <= 0)
      return "the Lots field reads " + FieldText(typed) + "; type a lot size above zero";
   // Risk sizes, the field caps: a stop typed far too tight or a risk set too high can never
   // send more than the trader typed. On a netting account risk sizes only what a click adds
   // beyond the opposite position it reduces or closes.
   double wanted = typed;
   double risk = 0;
   double reduced = OppositeLots(type);
   if(InpRiskPercent > 0 && typed > reduced + 1e-8)
     {
      string why = RiskLots(slPips, type, risk);
      if(why != "")
         return why;
      wanted = MathMin(typed, reduced + risk);
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
   if(limit > 0 && OpenLots(type) + lots > limit * (1 + 1e-9))
      return "lot size " + DoubleToString(lots, decimals) + " would pass the broker's limit of " +
             DoubleToString(limit, decimals) + " lots open on this symbol in one direction";
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
   double minimum = SymbolInfoDouble(_Symbol, SYMBOL_VOLUME_MIN);
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
   if(MathRound((g_ask - g_bid) / _Point) <= MathRound(InpMaxSpreadPips * pip / _Point))
      return "";
   return "the spread is " + Pips((g_ask - g_bid) / pip) + ", wider than the " +
          Pips(InpMaxSpreadPips) + " allowed (InpMaxSpreadPips); click again when it narrows";
  }

//+------------------------------------------------------------------+
//| The account's money that risk is measured against: the equity,   |
//| so that open losses make the next click smaller.                 |
//+------------------------------------------------------------------+
double RiskBase()
  {
   return AccountInfoDouble(ACCOUNT_EQUITY);
  }

//+------------------------------------------------------------------+
//| The money one lot loses when the price moves `distance` against  |
//| it, from the broker's tick value (per lot, in the account's      |
//| currency) and tick size; 0 when the broker gives none. The       |
//| reference's SYMBOL_TRADE_TICK_VALUE and SYMBOL_TRADE_TICK_SIZE   |
//| (mql5.com/en/docs/constants/environment_state/                   |
//| marketinfoconstants).                                            |
//+------------------------------------------------------------------+
double LossPerLot(double distance)
  {
   double tickValue = SymbolInfoDouble(_Symbol, SYMBOL_TRADE_TICK_VALUE);
   double tickSize = SymbolInfoDouble(_Symbol, SYMBOL_TRADE_TICK_SIZE);
   if(!MathIsValidNumber(tickValue) || tickValue <= 0 || !MathIsValidNumber(tickSize) ||
      tickSize <= 0)
      return 0;
   return distance / tickSize * tickValue;
  }

//+------------------------------------------------------------------+
//| The lots whose loss at a stop `slPips` away is at most           |
//| InpRiskPercent of the equity, not yet rounded to the step; why   |
//| not when they cannot be known ("" when they can). Added to a     |
//| netting position, the lots stop at the position's stop-loss when |
//| it has one, so the further of the two counts.                    |
//+------------------------------------------------------------------+
string RiskLots(double slPips, int type, double &lots)
  {
   lots = 0;
   if(slPips <= 0)
      return "lots from risk (InpRiskPercent) need a stop-loss: type the S/L in pips";
   // The stop as the deal will carry it: whole points, rounded away from the price.
   double distance = MathCeil(slPips * PipSize() / _Point - 1e-7) * _Point;
   if(Netting() && SelectSymbolPosition() && PositionGetInteger(POSITION_TYPE) == type &&
      PositionGetDouble(POSITION_SL) != 0)
     {
      double price = (type == ORDER_TYPE_BUY) ? g_ask : g_bid;
      double direction = (type == ORDER_TYPE_BUY) ? 1 : -1;
      distance = MathMax(distance, direction * (price - PositionGetDouble(POSITION_SL)));
     }
   double loss = LossPerLot(distance);
   if(loss <= 0)
      return "the broker gives " + _Symbol + " a tick value of " +
             DoubleToString(SymbolInfoDouble(_Symbol, SYMBOL_TRADE_TICK_VALUE), 5) +
             " and a tick size of " +
             DoubleToString(SymbolInfoDouble(_Symbol, SYMBOL_TRADE_TICK_SIZE), 8) +
             ", so lots cannot be sized from risk; set InpRiskPercent to 0 to trade the typed lots";
   lots = MathMax(RiskBase(), 0) * InpRiskPercent / 100 / loss;
   return "";
  }

string RiskText(double slPips)
  {
   return DoubleToString(InpRiskPercent, 2) + " % risk of " + DoubleToString(RiskBase(), 2) +
          " " + AccountInfoString(ACCOUNT_CURRENCY) + " equity at a stop-loss of " + Pips(slPips);
  }

//+------------------------------------------------------------------+
//| The lots of the netting position a click against it reduces or   |
//| closes (0 on a hedging account or without one).                  |
//+------------------------------------------------------------------+
double OppositeLots(int type)
  {
   if(!Netting() || !SelectSymbolPosition() || PositionGetInteger(POSITION_TYPE) == type)
      return 0;
   return PositionGetDouble(POSITION_VOLUME);
  }

//+------------------------------------------------------------------+
//| What a trade risks at its stop-loss, in the account's currency.  |
//+------------------------------------------------------------------+
string RiskAtStop(long type, double lots, double open, double sl)
  {
   if(sl <= 0)
      return "no stop-loss, so nothing limits its loss";
   double direction = (type == POSITION_TYPE_BUY) ? 1 : -1;
   double loss = lots * LossPerLot(direction * (open - sl));
   if(LossPerLot(1) <= 0)
      return "the broker gives no tick value, so its loss at the stop-loss " + Price(sl) +
             " is not known";
   if(loss <= 0)
      return "its stop-loss " + Price(sl) + " loses nothing";
   return DoubleToString(loss, 2) + " " + AccountInfoString(ACCOUNT_CURRENCY) +
          " at risk at its stop-loss " + Price(sl);
  }

string CheckDistance(string field, double pips)
  {
   if(pips < 0)
      return "the " + field + " field reads " + FieldText(pips) +
             "; type 0 for none or a positive number of pips";
   return "";
  }

double StopLevelDistance()
  {
   return SymbolInfoInteger(_Symbol, SYMBOL_TRADE_STOPS_LEVEL) * _Point;
  }

//+------------------------------------------------------------------+
//| Stop-loss and take-profit prices for a position opened at `open`,|
//| checked against the stop level from the current market; the      |
//| reason when one of them is too close ("" when both fit).         |
//+------------------------------------------------------------------+
string StopPrices(long type, double open, double slPips, double tpPips, double &sl, double &tp)
  {
   double pip = PipSize();
   double direction = (type == ORDER_TYPE_BUY) ? 1 : -1;
   double market = (type == ORDER_TYPE_BUY) ? g_bid : g_ask; // the price it would close at
   double minimum = StopLevelDistance();
   sl = 0;
   tp = 0;
   if(slPips > 0)
      sl = NormalizeDouble(open - direction * slPips * pip, _Digits);
   if(tpPips > 0)
      tp = NormalizeDouble(open + direction * tpPips * pip, _Digits);
   double need = MathMax(MathRound(minimum / _Point), 1);
   string limit = (minimum > 0) ? "closer than the broker's minimum of " + Pips(minimum / pip) :
                  "on the wrong side of the price";
   if(sl != 0 && MathRound(direction * (market - sl) / _Point) < need)
      return "stop-loss " + limit;
   if(tp != 0 && MathRound(direction * (tp - market) / _Point) < need)
      return "take-profit " + limit;
   return "";
  }

string TradingRefused()
  {
   if(!TerminalInfoInteger(TERMINAL_CONNECTED))
      return "the terminal is not connected to the trade server";
   if(!TerminalInfoInteger(TERMINAL_TRADE_ALLOWED))
      return "Algo Trading is off in the terminal";
   if(!MQLInfoInteger(MQL_TRADE_ALLOWED))
      return "algorithmic trading is not allowed in the expert's settings (tab Common)";
   if(!AccountInfoInteger(ACCOUNT_TRADE_ALLOWED))
      return "the account may not trade (an investor login, or the broker disabled it)";
   if(!AccountInfoInteger(ACCOUNT_TRADE_EXPERT))
      return "the broker does not allow experts to trade on this account";
   if(SymbolInfoInteger(_Symbol, SYMBOL_TRADE_MODE) == SYMBOL_TRADE_MODE_DISABLED)
      return KnownRetcodeText(TRADE_RETCODE_TRADE_DISABLED);
   return "";
  }

//+------------------------------------------------------------------+
//| The filling policy for a market deal: Fill or Kill where the     |
//| symbol allows it (never more than the lots sent, never in part), |
//| else Immediate or Cancel, else Return on an exchange. Instant and|
//| request execution take Fill or Kill. -1 when the symbol allows   |
//| no policy for market deals.                                      |
//+------------------------------------------------------------------+
int FillingPolicy()
  {
   long execution = SymbolInfoInteger(_Symbol, SYMBOL_TRADE_EXEMODE);
   long flags = SymbolInfoInteger(_Symbol, SYMBOL_FILLING_MODE);
   if(execution == SYMBOL_TRADE_EXECUTION_INSTANT || execution == SYMBOL_TRADE_EXECUTION_REQUEST)
      return ORDER_FILLING_FOK;
   if((flags & SYMBOL_FILLING_FOK) != 0)
      return ORDER_FILLING_FOK;
   if((flags & SYMBOL_FILLING_IOC) != 0)
      return ORDER_FILLING_IOC;
   if(execution == SYMBOL_TRADE_EXECUTION_EXCHANGE)
      return ORDER_FILLING_RETURN;
   return -1;
  }

bool Netting()
  {
   return AccountInfoInteger(ACCOUNT_MARGIN_MODE) != ACCOUNT_MARGIN_MODE_RETAIL_HEDGING;
  }

//+------------------------------------------------------------------+
//| Selects the open position of the chart's symbol (on a netting    |
//| account its only one); false when there is none.                 |
//+------------------------------------------------------------------+
bool SelectSymbolPosition()
  {
   for(int i = PositionsTotal() - 1; i >= 0; i--)
      if(PositionGetTicket(i) != 0 && PositionGetString(POSITION_SYMBOL) == _Symbol)
         return true;
   return false;
  }

//+------------------------------------------------------------------+
//| The stops a netting deal carries. A deal that adds to or reverses|
//| the position replaces its stops, zeros deleting them; one that   |
//| reduces it leaves them (the terminal's "Stop Loss and Take Profit|
//| inheritance" rules). So: adding, the position's own stops, the   |
//| click's only where it has none; reducing or closing, none;       |
//| reversing or opening, the click's as `sl` and `tp` hold them.    |
//+------------------------------------------------------------------+
void NettingStops(int type, double lots, double &sl, double &tp)
  {
   if(!Netting() || !SelectSymbolPosition())
      return;
   if(PositionGetInteger(POSITION_TYPE) == type)
     {
      if(PositionGetDouble(POSITION_SL) != 0)
         sl = PositionGetDouble(POSITION_SL);
      if(PositionGetDouble(POSITION_TP) != 0)
         tp = PositionGetDouble(POSITION_TP);
     }
   else if(PositionGetDouble(POSITION_VOLUME) >= lots - 1e-8)
     {
      sl = 0;
      tp = 0;
     }
  }

//+------------------------------------------------------------------+
//| A market deal with the panel's lot size, stop-loss and take-     |
//| profit (pips from the fill; 0 pips: none), trailed by the panel's|
//| trailing stop. One click is at most one deal; a click that does  |
//| not become one is told.                                          |
//+------------------------------------------------------------------+
void OpenAtMarket(ENUM_ORDER_TYPE type)
  {
   double clicked = (type == ORDER_TYPE_BUY) ? g_ask : g_bid;
   string side = (type == ORDER_TYPE_BUY) ? "buy" : "sell";
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
      refused = TradableLots(g_values[0], type, g_values[1], lots, decimals);
   int filling = FillingPolicy();
   if(refused == "" && filling < 0)
      refused = "the broker allows no filling policy for market deals on this symbol";
   if(refused != "")
     {
      Tell(side + " not sent: " + refused);
      return;
     }
   double slPips = g_values[1];
   double tpPips = g_values[2];
   double trailPips = g_values[3];
   int click = NextClick();
   datetime since = TimeCurrent();
   string what = side + " " + DoubleToString(lots, decimals);
   double pip = PipSize();
   int allowed = (int)MathRound(InpSlippagePips * pip / _Point);

   MqlTradeRequest request = {};
   request.action = TRADE_ACTION_DEAL;
   request.symbol = _Symbol;
   request.volume = lots;
   request.type = type;
   request.type_filling = (ENUM_ORDER_TYPE_FILLING)filling;
   request.type_time = ORDER_TIME_GTC;
   request.magic = InpMagic;
   request.comment = OrderTag() + IntegerToString(click);

   MqlTradeResult result = {};
   uint retcode = 0;
   ulong order = 0;
   uint started = GetTickCount();
   for(int attempt = 1; ; attempt++)
     {
      RefreshPrices();
      double price = (type == ORDER_TYPE_BUY) ? g_ask : g_bid;
      // Every attempt stays within the slippage of the price clicked, not of the latest one.
      int moved = (int)MathRound(MathAbs(price - clicked) / _Point);
      if(moved > allowed)
        {
         Tell(what + " not sent: the price moved " + Pips(moved * _Point / pip) + " from " +
              Price(clicked) + " since the click, more than the " + Pips(InpSlippagePips) +
              " of slippage allowed");
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
      NettingStops(type, lots, sl, tp);
      request.price = price;
      request.deviation = (ulong)(allowed - moved);
      request.sl = sl;
      request.tp = tp;
      MqlTradeCheckResult check = {};
      if(!OrderCheck(request, check))
        {
         Journal(what + ": OrderCheck answered " + IntegerToString(check.retcode) + " \"" +
                 check.comment + "\"");
         Tell(what + " not sent: " + CheckText(check));
         return;
        }
      ZeroMemory(result);
      OrderSend(request, result);
      retcode = result.retcode;
      order = result.order;
      if(order == 0 && result.deal != 0 && HistoryDealSelect(result.deal))
         order = (ulong)HistoryDealGetInteger(result.deal, DEAL_ORDER);
      if(Done(retcode) && (order != 0 || result.deal != 0))
         break;
      // Whatever the answer, look for the deal before anything else: a second request for a
      // deal that was made would make another.
      if(order == 0)
         order = FindClickOrder(click, _Symbol, type, lots, since);
      if(order != 0 && retcode != TRADE_RETCODE_PLACED)
         break;
      if(OutcomeUnknown(retcode) || Done(retcode))
        {
         AwaitDeal(click, order, 0, type, lots, clicked, slPips, tpPips, trailPips, what, since,
                   retcode);
         return;
        }
      if(!Transient(retcode))
         break;
      if(attempt >= PELLITH_ATTEMPTS || (int)(GetTickCount() - started) > PELLITH_RETRY_MS)
         break;
      Journal(what + ": " + RetcodeText(retcode) + ", trying again");
      Sleep(PELLITH_RETRY_PAUSE);
     }
   if(order == 0 && !Done(retcode))
     {
      Tell(what + " not sent: " + RetcodeText(retcode));
      return;
     }
   double filled = 0;
   double fill = 0;
   long identifier = 0;
   long entry = 0;
   double told = Done(retcode) ? result.volume : 0;
   if(!OrderFill(order, since, filled, fill, identifier, entry) || filled < told - 1e-8)
     {
      AwaitDeal(click, order, (told > 0) ? told : lots, type, lots, clicked, slPips, tpPips,
                trailPips, what, since, TRADE_RETCODE_DONE);
      return;
     }
   TakeOver(order, what, type, lots, clicked, slPips, tpPips, trailPips, since, false);
  }

//+------------------------------------------------------------------+
//| OrderCheck's refusal in words, with the margin when it is short. |
//+------------------------------------------------------------------+
string CheckText(MqlTradeCheckResult &check)
  {
   string text = RetcodeText(check.retcode);
   if(check.retcode != TRADE_RETCODE_NO_MONEY)
      return text;
   double used = AccountInfoDouble(ACCOUNT_EQUITY) - AccountInfoDouble(ACCOUNT_MARGIN_FREE);
   return text + ": the deal needs " + DoubleToString(check.margin - used, 2) + " of margin, " +
          DoubleToString(AccountInfoDouble(ACCOUNT_MARGIN_FREE), 2) + " is free";
  }

//+------------------------------------------------------------------+
//| A position's side, lots and stops, in words.                     |
//+------------------------------------------------------------------+
string PositionText()
  {
   string side = (PositionGetInteger(POSITION_TYPE) == POSITION_TYPE_BUY) ? "buy" : "sell";
   string text = side + " " + DoubleToString(PositionGetDouble(POSITION_VOLUME), LotDecimals()) +
                 " at " + Price(PositionGetDouble(POSITION_PRICE_OPEN));
   return text + ", " + StopsText();
  }

string StopsText()
  {
   double sl = PositionGetDouble(POSITION_SL);
   double tp = PositionGetDouble(POSITION_TP);
   return "stop-loss " + ((sl != 0) ? Price(sl) : "none") + ", take-profit " +
          ((tp != 0) ? Price(tp) : "none");
  }

//+------------------------------------------------------------------+
//| The deals of a click's order, confirmed at once or found late:   |
//| what they did to the symbol's position is told, a fill beyond the|
//| slippage too; the position gets the click's stops from the fill  |
//| when the click opened or reversed it, and trails by the click's  |
//| T/S when this expert opened it.                                  |
//+------------------------------------------------------------------+
void TakeOver(ulong order, string what, int type, double lots, double clicked, double slPips,
              double tpPips, double trailPips, datetime since, bool late)
  {
   double filled = 0;
   double fill = 0;
   long identifier = 0;
   long entry = 0;
   if(!OrderFill(order, since, filled, fill, identifier, entry))
     {
      Tell(what + " was done as order #" + IntegerToString((long)order) +
           " but the terminal does not list its deal; check the position and its stops in the "
           "Toolbox");
      return;
     }
   string done = what + " done at " + Price(fill);
   if(filled < lots - 1e-8)
      done = what + " filled only in part: " + DoubleToString(filled, LotDecimals()) +
             " lots at " + Price(fill) + ", the rest was cancelled";
   if(late)
      done = done + " after all: the server confirmed it late";
   // Under market and exchange execution the broker fills at the market price whatever the
   // deviation: the expert can only tell a fill beyond the slippage allowed.
   double pip = PipSize();
   double worse = (type == ORDER_TYPE_BUY) ? fill - clicked : clicked - fill;
   if(MathRound(worse / _Point) > MathRound(InpSlippagePips * pip / _Point))
      Tell(what + " filled at " + Price(fill) + ", " + Pips(worse / pip) + " worse than the " +
           Price(clicked) + " clicked, beyond the " + Pips(InpSlippagePips) +
           " of slippage allowed: the broker fills at market under this execution");
   bool open = SelectPosition(identifier);
   if(!open)
     {
      // Closed by the deal, or at its stop before the terminal listed it.
      if(entry == DEAL_ENTRY_OUT)
         Tell(done + "; it closed position #" + IntegerToString(identifier));
      else
         Tell(done + "; position #" + IntegerToString(identifier) + " is closed already");
      return;
     }
   bool own = false;
   bool opened = false;
   string effect = "";
   if(entry == DEAL_ENTRY_INOUT)
     {
      own = true;
      effect = "reversed position #" + IntegerToString(identifier) + " to ";
     }
   else if(entry == DEAL_ENTRY_OUT)
      effect = "reduced position #" + IntegerToString(identifier) + " to ";
   else if(MathAbs(PositionGetDouble(POSITION_VOLUME) - filled) < 1e-8)
     {
      own = true;
      opened = true;
      effect = "opened position #" + IntegerToString(identifier) + ": ";
     }
   else
      effect = "added to position #" + IntegerToString(identifier) + ", now ";
   if(own)
     {
      Remember(identifier, trailPips, InpBreakEvenPips, InpBreakEvenLockPips);
      SetStops(identifier, what, fill, slPips, tpPips);
      SelectPosition(identifier);
     }
   string told = done + "; " + effect + PositionText() + "; " +
                 RiskAtStop(PositionGetInteger(POSITION_TYPE), PositionGetDouble(POSITION_VOLUME),
                            PositionGetDouble(POSITION_PRICE_OPEN), PositionGetDouble(POSITION_SL));
   // Adding carried the position's stops with the deal; it trails as it did before.
   if(entry == DEAL_ENTRY_IN && !opened && Find(identifier) < 0)
      told = told + " (a position this expert did not open: it is not trailed)";
   // A plain opening goes to the journal; anything that changed a position the trader had, or
   // came late or in part, is alerted.
   if(opened && !late && filled >= lots - 1e-8)
      Journal(told);
   else
      Tell(told);
  }

//+------------------------------------------------------------------+
//| Puts the click's stops on its position, measured from the fill;  |
//| tells the trader when it stays without them.                     |
//+------------------------------------------------------------------+
void SetStops(long identifier, string what, double fill, double slPips, double tpPips)
  {
   if(slPips <= 0 && tpPips <= 0)
      return;
   string name = what + " #" + IntegerToString(identifier);
   string error = "";
   uint started = GetTickCount();
   for(int attempt = 1; ; attempt++)
     {
      RefreshPrices();
      if(!SelectPosition(identifier))
         return;
      if(PositionGetString(POSITION_SYMBOL) != _Symbol)
        {
         if((PositionGetDouble(POSITION_SL) != 0 || slPips <= 0) &&
            (PositionGetDouble(POSITION_TP) != 0 || tpPips <= 0))
            return;
         error = "the chart shows another symbol now";
         break;
        }
      double sl = 0;
      double tp = 0;
      error = StopPrices(PositionGetInteger(POSITION_TYPE), fill, slPips, tpPips, sl, tp);
      if(error != "")
         break;
      if(MathAbs(sl - PositionGetDouble(POSITION_SL)) < _Point / 2 &&
         MathAbs(tp - PositionGetDouble(POSITION_TP)) < _Point / 2)
         return; // the position carries them already
      MqlTradeRequest request = {};
      MqlTradeResult result = {};
      request.action = TRADE_ACTION_SLTP;
      request.symbol = _Symbol;
      request.position = (ulong)PositionGetInteger(POSITION_TICKET);
      request.sl = sl;
      request.tp = tp;
      request.magic = InpMagic;
      if(OrderSend(request, result) || result.retcode == TRADE_RETCODE_NO_CHANGES)
        {
         Journal(name + ": stop-loss " + Price(sl) + ", take-profit " + Price(tp));
         return;
        }
      error = RetcodeText(result.retcode);
      // Setting stops is the same whether it is done once or twice: unclear answers are tried
      // again too.
      if(!Transient(result.retcode) && !OutcomeUnknown(result.retcode))
         break;
      if(attempt >= PELLITH_ATTEMPTS || (int)(GetTickCount() - started) > PELLITH_RETRY_MS)
         break;
      Sleep(PELLITH_RETRY_PAUSE);
     }
   if(!SelectPosition(identifier))
      return;
   string missing = (PositionGetDouble(POSITION_SL) == 0 && slPips > 0) ? "stop-loss" : "";
   if(PositionGetDouble(POSITION_TP) == 0 && tpPips > 0)
      missing = (missing == "") ? "take-profit" : "stop-loss and take-profit";
   if(missing == "")
      missing = "stop-loss and take-profit as typed";
   Tell(name + " is open WITHOUT its " + missing + ": " + error + ". Set them by hand.");
  }

//+------------------------------------------------------------------+
//| Why no stop can be moved now ("" when they can): what the        |
//| terminal, the account and the symbol say, and an answer of the   |
//| server that no modify can pass, which holds for the longest pause|
//| and is then tried once more.                                     |
//+------------------------------------------------------------------+
string TrailingHalted()
  {
   if(!TerminalInfoInteger(TERMINAL_TRADE_ALLOWED) || !MQLInfoInteger(MQL_TRADE_ALLOWED))
      return KnownRetcodeText(TRADE_RETCODE_CLIENT_DISABLES_AT);
   if(!AccountInfoInteger(ACCOUNT_TRADE_ALLOWED) || !AccountInfoInteger(ACCOUNT_TRADE_EXPERT) ||
      SymbolInfoInteger(_Symbol, SYMBOL_TRADE_MODE) == SYMBOL_TRADE_MODE_DISABLED)
      return KnownRetcodeText(TRADE_RETCODE_TRADE_DISABLED);
   if(g_trailHalt != 0 && (int)(GetTickCount() - g_trailHaltAt) < PELLITH_TRAIL_PAUSE_MAX)
      return KnownRetcodeText(g_trailHalt);
   return "";
  }

//+------------------------------------------------------------------+
//| Whether trailing stops for now; the journal hears each reason    |
//| once.                                                            |
//+------------------------------------------------------------------+
bool TrailingStopped()
  {
   string halted = TrailingHalted();
   if(halted != "" && halted != g_trailHaltTold)
     {
      Journal("trailing stops: " + halted + "; it goes on when that changes");
      g_trailHaltTold = halted;
     }
   return halted != "";
  }

bool HaltsTrailing(uint retcode)
  {
   return retcode == TRADE_RETCODE_TRADE_DISABLED || retcode == TRADE_RETCODE_MARKET_CLOSED ||
          retcode == TRADE_RETCODE_SERVER_DISABLES_AT ||
          retcode == TRADE_RETCODE_CLIENT_DISABLES_AT;
  }

//+------------------------------------------------------------------+
//| The stop trailing asks for the selected position (0: none): the  |
//| trailing distance behind the price once it is that far in profit,|
//| by at least the trailing step.                                   |
//+------------------------------------------------------------------+
double TrailTarget(double trail, double step)
  {
   double open = PositionGetDouble(POSITION_PRICE_OPEN);
   double current = PositionGetDouble(POSITION_SL);
   if(PositionGetInteger(POSITION_TYPE) == POSITION_TYPE_BUY)
     {
      if(g_bid - open - trail < _Point / 2)
         return 0;
      double stop = NormalizeDouble(g_bid - trail, _Digits);
      if(current != 0 && stop - current < step - _Point / 2)
         return 0;
      return stop;
     }
   if(open - g_ask - trail < _Point / 2)
      return 0;
   double stop = NormalizeDouble(g_ask + trail, _Digits);
   if(current != 0 && current - stop < step - _Point / 2)
      return 0;
   return stop;
  }

//+------------------------------------------------------------------+
//| The selected position's break-even stop: its open price plus the |
//| pips locked in (minus for a sell).                               |
//+------------------------------------------------------------------+
double BreakEvenStop(double lockPips)
  {
   double direction = (PositionGetInteger(POSITION_TYPE) == POSITION_TYPE_BUY) ? 1 : -1;
   return NormalizeDouble(PositionGetDouble(POSITION_PRICE_OPEN) + direction * lockPips *
                          PipSize(), _Digits);
  }

//+------------------------------------------------------------------+
//| The stop break-even asks for the selected position (0: not yet): |
//| once it is `pips` in profit and its break-even stop lies outside |
//| the broker's minimum distance from the price it would close at.  |
//+------------------------------------------------------------------+
double BreakEvenTarget(double pips, double lockPips, double minimum)
  {
   bool buy = PositionGetInteger(POSITION_TYPE) == POSITION_TYPE_BUY;
   double direction = buy ? 1 : -1;
   double market = buy ? g_bid : g_ask;
   if(direction * (market - PositionGetDouble(POSITION_PRICE_OPEN)) < pips * PipSize() - _Point / 2)
      return 0;
   double stop = BreakEvenStop(lockPips);
   if(MathRound(direction * (market - stop) / _Point) < MathMax(MathRound(minimum / _Point) + 1, 1))
      return 0; // the broker's levels allow it once the price has moved on
   return stop;
  }

//+------------------------------------------------------------------+
//| Moves the stop of this expert's positions towards profit: behind |
//| the price once one is further in profit than its trailing stop,  |
//| by at least the trailing step; and once, to break-even, when it  |
//| is InpBreakEvenPips (as at its click) in profit. Whichever is    |
//| better for the trader wins; never backwards, never inside the    |
//| broker's stop or freeze level (SYMBOL_TRADE_FREEZE_LEVEL, mql5.  |
//| com/en/docs/constants/environment_state/marketinfoconstants).    |
//| Positions it did not open are never moved. A broker that refuses |
//| is asked less and less often, per position; while trading cannot |
//| be done at all, nothing is asked.                                |
//+------------------------------------------------------------------+
void TrailStops()
  {
   if(!g_created)
      return;
   if(TrailingStopped())
      return;
   double pip = PipSize();
   double step = (MathIsValidNumber(InpTrailingStepPips) && InpTrailingStepPips > 0) ?
                 InpTrailingStepPips * pip : _Point;
   double freezeLevel = SymbolInfoInteger(_Symbol, SYMBOL_TRADE_FREEZE_LEVEL) * _Point;
   double minimum = MathMax(StopLevelDistance(), freezeLevel);
   for(int i = ArraySize(g_positions) - 1; i >= 0; i--)
     {
      if(!SelectPosition(g_positions[i]))
        {
         if(PositionClosed(g_positions[i]))
            Forget(i);
         continue;
        }
      double trailPips = g_trails[i];
      if(PositionGetString(POSITION_SYMBOL) != _Symbol)
         continue;
      bool buy = PositionGetInteger(POSITION_TYPE) == POSITION_TYPE_BUY;
      double direction = buy ? 1 : -1;
      double current = PositionGetDouble(POSITION_SL);
      double target = PositionGetDouble(POSITION_TP);
      // A stop at break-even or beyond, however it got there, is break-even done.
      if(g_breakEvens[i] > 0 && current != 0 &&
         direction * (current - BreakEvenStop(g_breakLocks[i])) > -_Point / 2)
         BreakEvenDone(i);
      if(trailPips <= 0 && g_breakEvens[i] <= 0)
         continue;
      if(g_trailPause[i] > 0 && (int)(GetTickCount() - g_trailNext[i]) < 0)
         continue;
      double trailStop = 0;
      if(trailPips > 0)
        {
         double trail = trailPips * pip;
         if(trail < minimum)
           {
            if(g_trailErrors[i] != PELLITH_TRAIL_TOO_CLOSE)
               Journal("trailing stop " + Pips(trailPips) + " of #" +
                       IntegerToString(g_positions[i]) + " is inside the broker's minimum of " +
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
      if(stop == 0 || (current != 0 && direction * (stop - current) < _Point / 2))
         continue;
      // Frozen: the stop or target is already within the freeze level of the price.
      double market = buy ? g_bid : g_ask;
      if((current != 0 && direction * (market - current) <= freezeLevel) ||
         (target != 0 && direction * (target - market) <= freezeLevel))
         continue;
      string name = ((stop == evenStop) ? "break-even stop of #" : "trailing stop of #") +
                    IntegerToString(g_positions[i]);
      MqlTradeRequest request = {};
      MqlTradeResult result = {};
      request.action = TRADE_ACTION_SLTP;
      request.symbol = _Symbol;
      request.position = (ulong)PositionGetInteger(POSITION_TICKET);
      request.sl = stop;
      request.tp = target;
      request.magic = InpMagic;
      if(OrderSend(request, result))
        {
         g_trailErrors[i] = 0;
         g_trailPause[i] = 0;
         g_trailHalt = 0;
         g_trailHaltTold = "";
         if(stop == evenStop)
           {
            Journal("#" + IntegerToString(g_positions[i]) + " at break-even: stop-loss " +
                    Price(stop) + ", " + Pips(g_breakLocks[i]) + " beyond its open price " +
                    Price(PositionGetDouble(POSITION_PRICE_OPEN)));
            BreakEvenDone(i);
           }
         continue;
        }
      if(HaltsTrailing(result.retcode))
        {
         g_trailHalt = result.retcode;
         g_trailHaltAt = GetTickCount();
         TrailingStopped();
         return;
        }
      if((int)result.retcode != g_trailErrors[i])
         Journal(name + " not moved: " + RetcodeText(result.retcode));
      g_trailErrors[i] = (int)result.retcode;
      g_trailPause[i] = (int)MathMin(MathMax(g_trailPause[i] * 2, PELLITH_TRAIL_PAUSE),
                                     PELLITH_TRAIL_PAUSE_MAX);
      g_trailNext[i] = GetTickCount() + g_trailPause[i];
     }
  }
//+------------------------------------------------------------------+
