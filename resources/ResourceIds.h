#ifndef PELLITH_RESOURCE_IDS_H
#define PELLITH_RESOURCE_IDS_H
/* Identifiers shared by the resource script and the C++ code. Plain #defines, because the
   resource compiler reads this file too. */

/* The background picture of the panel's price area: a 198 x 50, 24-bit DIB. */
#define PELLITH_PANEL_BITMAP 2000

#endif
