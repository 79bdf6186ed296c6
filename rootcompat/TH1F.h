// TH1F is declared with the other one-dimensional histograms.
#include "TH1.h"
