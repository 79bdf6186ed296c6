// ROOT's common types, bit macro and colour numbers.
#ifndef ROOT_Rtypes
#define ROOT_Rtypes

#include "RtypesCore.h"

#define BIT(n) (1ULL << (n))
#define SETBIT(n, i) ((n) |= BIT(i))
#define CLRBIT(n, i) ((n) &= ~BIT(i))
#define TESTBIT(n, i) ((Bool_t)(((n) & BIT(i)) != 0))

#define R__EXTERN extern

enum EColor {
  kWhite = 0,
  kBlack = 1,
  kGray = 920,
  kRed = 632,
  kGreen = 416,
  kBlue = 600,
  kYellow = 400,
  kMagenta = 616,
  kCyan = 432,
  kOrange = 800,
  kSpring = 820,
  kTeal = 840,
  kAzure = 860,
  kViolet = 880,
  kPink = 900
};

#endif
