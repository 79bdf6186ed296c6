// What the monitor keeps beside its hit maps, so that neither a refresh nor
// the live view needs a pass over them: per stave the summary of the raw map,
// kept while hits are filled (or brought in step from the log of changed
// cells when read between refreshes), and the normalised maps of the last analysis,
// made whole (h2d_chip_norm) only when something reads them whole.
#ifndef KIVO_MONITOR_HIT_MAPS_H
#define KIVO_MONITOR_HIT_MAPS_H

#include <vector>

#include "hot_cells.h"
#include "map_kernels.h"
#include "monitor_state.h"

// Summaries of the empty raw maps, once they are booked or reset. Before a
// reset, reset_histos calls keep_last_analysis_maps so that what the last
// analysis showed survives it.
void clear_raw_summaries();
void keep_last_analysis_maps();

// The summary of stave `stave`'s raw map, in step with it: computed again in
// one pass when the map was changed other than by the fill path
// (SetBinContent, Fill or Reset called directly).
const MapSummary& raw_summary(int stave);

// Brings the summaries left to the log of changes in step, half of the
// staves on a second thread (each replay touches its own stave alone), as a
// refresh is about to read them all.
void catch_up_summaries();

// The hot cells of stave `stave`'s raw map (see hot_cells), with the floors
// kept for it from one call to the next; those of the last call again while
// the map and the question are unchanged.
const HotCells& raw_hot_cells(int stave, double threshold, double ratio);

// The maps a batch of event hits fills, with their summaries and, while the
// normalised maps of the last analysis are not whole, the log of the cells
// the batch changes (made whole first when the log is full).
void hit_fill_targets(FillTarget (&targets)[NSTAVE]);

// The derived maps were just created as copies of the raw ones.
void start_norm_maps();
// An analysis with event count `nevents` got past the event-count test:
// the overviews of its normalised maps are taken now, the whole maps when
// `whole` (or on the reference path), otherwise when first read whole.
void record_norm_maps(double nevents, bool whole);
// Makes h2d_chip_norm hold the normalised maps of the last analysis.
void materialise_norm_maps();

// Block maxima of stave `stave`'s normalised map (kOverviewBinsX *
// kOverviewBinsY, laid out as kivo_norm_overview lays them out).
const std::vector<float>& norm_overview(int stave);
// Bins first_x..last_x, first_y..last_y (in range) of stave `stave`'s
// normalised map, row by row into `out`.
void norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out);

#endif
