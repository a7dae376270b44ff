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
#property strict

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

input double InpLots             = 0.10; // Lot size
input double InpStopLossPips     = 30;   // Stop-loss in pips (0: none)
input double InpTakeProfitPips   = 60;   // Take-profit in pips (0: none)
input double InpTrailingStopPips = 0;    // Trailing stop in pips (0: none)
input int    InpSlippagePips     = 3;    // Accepted slippage in pips
input int    InpPointsPerPip     = 0;    // Points per pip (0: 10 on 3- and 5-digit quotes, else 1)
input int    InpMagic            = 20120; // Magic number of this expert's orders

int    g_chart   = 0;     // the chart window that carries the panel
bool   g_created = false; // TerminalCreate has been called for g_chart
double g_values[4];       // lots, stop-loss, take-profit, trailing stop, as the panel shows them

//+------------------------------------------------------------------+
double PipSize()
  {
   if(InpPointsPerPip > 0)
      return Point * InpPointsPerPip;
   return (Digits == 3 || Digits == 5) ? Point * 10 : Point;
  }

//+------------------------------------------------------------------+
void CreatePanel()
  {
   g_chart = WindowHandle(Symbol(), Period());
   if(g_chart == 0)
      return; // the chart window is not there yet: the next tick tries again
   uchar symbol[];
   StringToCharArray(Symbol(), symbol); // ANSI code page, with the terminating zero
   TerminalCreate(Ask, Bid, Point, PipSize(), InpLots, InpStopLossPips, InpTakeProfitPips,
                  InpTrailingStopPips, Digits, g_chart, symbol);
   g_values[0] = InpLots;
   g_values[1] = InpStopLossPips;
   g_values[2] = InpTakeProfitPips;
   g_values[3] = InpTrailingStopPips;
   g_created = true;
  }

//+------------------------------------------------------------------+
int OnInit()
  {
   if(!MQLInfoInteger(MQL_DLLS_ALLOWED))
     {
      Print("PellithPanel: tick \"Allow DLL imports\" in the expert's settings to show the panel");
      return INIT_FAILED;
     }
   CreatePanel();
   EventSetMillisecondTimer(250); // clicks are taken up even when no tick comes
   return INIT_SUCCEEDED;
  }

//+------------------------------------------------------------------+
void OnDeinit(const int reason)
  {
   EventKillTimer();
   if(g_created)
      TerminalDelete(g_chart);
   g_created = false;
  }

//+------------------------------------------------------------------+
void OnTick()
  {
   if(!g_created)
      CreatePanel();
   Exchange();
   TrailStops();
  }

//+------------------------------------------------------------------+
void OnTimer()
  {
   RefreshRates();
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
//| The panel's lot size on the broker's lot step, or 0 if too small.|
//+------------------------------------------------------------------+
double TradableLots(double lots)
  {
   double step = MarketInfo(Symbol(), MODE_LOTSTEP);
   double minimum = MarketInfo(Symbol(), MODE_MINLOT);
   double maximum = MarketInfo(Symbol(), MODE_MAXLOT);
   if(step <= 0)
      step = 0.01;
   lots = MathRound(lots / step) * step;
   if(lots < minimum)
      return 0;
   return NormalizeDouble(MathMin(lots, maximum), 2);
  }

//+------------------------------------------------------------------+
//| A market order with the panel's lot size, stop-loss and          |
//| take-profit (pips from the open price; 0 pips: none).            |
//+------------------------------------------------------------------+
void OpenAtMarket(int type)
  {
   RefreshRates();
   double lots = TradableLots(g_values[0]);
   if(lots <= 0)
     {
      Print("PellithPanel: lot size ", DoubleToString(g_values[0], 2), " cannot be traded");
      return;
     }
   double pip = PipSize();
   double price = (type == OP_BUY) ? Ask : Bid;
   double direction = (type == OP_BUY) ? 1 : -1;
   double stopLoss = 0;
   double takeProfit = 0;
   if(g_values[1] > 0)
      stopLoss = NormalizeDouble(price - direction * g_values[1] * pip, Digits);
   if(g_values[2] > 0)
      takeProfit = NormalizeDouble(price + direction * g_values[2] * pip, Digits);
   int slippage = (int)MathRound(InpSlippagePips * pip / Point);
   color arrow = (type == OP_BUY) ? clrDodgerBlue : clrOrangeRed;
   int ticket = OrderSend(Symbol(), type, lots, price, slippage, stopLoss, takeProfit,
                          "Pellith panel", InpMagic, 0, arrow);
   if(ticket < 0)
      Print("PellithPanel: OrderSend failed, error ", GetLastError());
  }

//+------------------------------------------------------------------+
//| Moves the stop of this expert's orders behind the price once an  |
//| order is further in profit than the panel's trailing stop.       |
//+------------------------------------------------------------------+
void TrailStops()
  {
   double trail = g_values[3] * PipSize();
   if(!g_created || trail <= 0)
      return;
   for(int i = OrdersTotal() - 1; i >= 0; i--)
     {
      if(!OrderSelect(i, SELECT_BY_POS, MODE_TRADES))
         continue;
      if(OrderSymbol() != Symbol() || OrderMagicNumber() != InpMagic)
         continue;
      double stop = 0;
      if(OrderType() == OP_BUY && Bid - OrderOpenPrice() > trail)
        {
         stop = NormalizeDouble(Bid - trail, Digits);
         if(OrderStopLoss() != 0 && stop <= OrderStopLoss())
            continue;
        }
      else if(OrderType() == OP_SELL && OrderOpenPrice() - Ask > trail)
        {
         stop = NormalizeDouble(Ask + trail, Digits);
         if(OrderStopLoss() != 0 && stop >= OrderStopLoss())
            continue;
        }
      else
         continue;
      if(!OrderModify(OrderTicket(), OrderOpenPrice(), stop, OrderTakeProfit(), 0, clrNONE))
         Print("PellithPanel: trailing stop of #", OrderTicket(), " failed, error ",
               GetLastError());
     }
  }
//+------------------------------------------------------------------+
