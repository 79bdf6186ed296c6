// The derived quantities of one run, computed from its raw histograms: on
// the monitor's own objects at each analysis (analysis.cpp), and on the run
// archive's copies of a run that has ended (run_copy.cpp). One set of
// objects is read and filled at a time, never a mix of the two.
#ifndef KIVO_MONITOR_DERIVATION_H
#define KIVO_MONITOR_DERIVATION_H

#include "map_kernels.h"
#include "monitor_state.h"

struct RunObjects {
  // Raw, read.
  TH1D* hnevnt = nullptr;
  TH1D* hchip = nullptr;
  TH1D* hwarn = nullptr;
  TH1D* herr = nullptr;
  TH1F* hnhit_chip[NSTAVE] = {};
  TH1F* hdiffrow_chip[NSTAVE] = {};
  TH1F* hdiffcol_chip[NSTAVE] = {};
  TH2F* h2d_chip[NSTAVE] = {};
  // Derived, refilled (the normalised maps by the caller: they may be null).
  TH1D* hhitrate_chip = nullptr;
  TH1D* hwarnrate_chip = nullptr;
  TH1D* herrrate_chip = nullptr;
  TH1F* hnhit_chip_norm[NSTAVE] = {};
  TH1F* hdiffrow_chip_norm[NSTAVE] = {};
  TH1F* hdiffcol_chip_norm[NSTAVE] = {};
  TH2F* h2d_chip_norm[NSTAVE] = {};
  TGraphAsymmErrors* gmpos_chip[NSTAVE] = {};
  // The Gaussian of the beam-profile fits.
  TF1* fit = nullptr;
};

// The derived histograms of `objects` as clones of its raw ones, named as
// the monitor names them, stave by stave (they join the current directory,
// if any); the normalised maps too `with_maps`.
void clone_derived(RunObjects& objects, bool with_maps);

// Stave `stave`'s normalised map as a clone of its raw map `raw`, not yet filled.
TH2F* clone_norm_map(TH2F* raw, int stave);

// Refills the derived histograms of `objects` from its raw ones for
// `nevents` (> 0) data events and fits each stave's beam position to the
// column and row sums of its raw map's summary.
void derive(const RunObjects& objects, const MapSummary* const (&summaries)[NSTAVE], double nevents);

// The range the canvas shows a normalised hit map in.
void set_norm_map_range(TH2F* map);

#endif
