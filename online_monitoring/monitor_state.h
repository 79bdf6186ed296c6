// Globals shared by the monitor's sources: geometry and channel map, counters
// and settings, the raw, derived and display objects. Every ROOT object is
// created once and owned by its handle for the life of the library.
#ifndef KIVO_MONITOR_STATE_H
#define KIVO_MONITOR_STATE_H

#include <map>
#include <utility>

#include "monitor_plugin.h"

class TH1F;
class TH1D;
class TH2F;
class TF1;
class TGraphAsymmErrors;
class TCanvas;
class TPad;
class TLatex;

constexpr int NSTAVE = kMonitorStaves;

// Channel map: (ruid, ruchn) -> (istave, ichip).
typedef std::pair<int, int> chipkey;
typedef std::pair<int, int> chiplocation;
extern std::map<chipkey, chiplocation> chipmap;

extern int chipColor[NSTAVE];
extern int chipMarker[NSTAVE];
extern int max_npixels;

int decode_row(int hit);
int decode_col(int hit);

// Counters and settings (kivo_run, kivo_evnts and kivo_refresh are declared
// with the host's contract).
extern int init_done;
extern int kivo_verbose;

// Raw objects, booked by pinit (hnevnt, hchip, hnhit_chip, hdiffcol_chip,
// hdiffrow_chip, h2d_chip and gmpos_chip are declared with the host's
// contract). The event count and the per-stave
// totals are kept in double precision: a float count stops growing at 2^24,
// and a sum of per-event hit counts drifts well before that.
extern TH1D* hwarn;
extern TH1D* herr;
extern TH1F* hhittime_chip[NSTAVE];
extern TH1F* haxis_chip;
extern TH1F* haxis_nhit;
extern TH1F* haxis_2d;
extern TH1F* haxis_diff;
extern TF1* fg;

// Derived objects, created by the first analysis call (h2d_chip_norm is
// declared with the host's contract).
extern TH1D* hhitrate_chip;
extern TH1D* hwarnrate_chip;
extern TH1D* herrrate_chip;
extern TH1F* hnhit_chip_norm[NSTAVE];
extern TH1F* hdiffrow_chip_norm[NSTAVE];
extern TH1F* hdiffcol_chip_norm[NSTAVE];

// Display objects, created by the first OM call (com is declared with the
// host's contract).
extern TPad* phitrate;
extern TPad* pnhit;
extern TPad* pmean;
extern TPad* pdiffcol;
extern TPad* pdiffrow;
extern TPad* p2d[NSTAVE];
extern TLatex* lnevents;
extern TLatex* lnhitmean[NSTAVE];
extern TLatex* ldiffcol[NSTAVE];
extern TLatex* ldiffrow[NSTAVE];

// Mask files written by mask_pixels, in the directory fixed at build time.
extern const char* const file_name_tb1;
extern const char* const file_name_tb2;

// analysis() as a refresh needs it: the same derived histograms, beam
// positions and overviews, with the normalised hit maps made whole only when
// something reads them whole (analysis() itself, kivo_materialise_maps).
int refresh_analysis();

// True once pinit has booked the histograms; otherwise prints one line naming
// `command` and saying the histograms are not booked, and returns false.
bool histos_booked(const char* command);

#endif
