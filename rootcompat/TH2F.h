// TH2F is declared with the other two-dimensional histograms.
#include "TH2.h"
