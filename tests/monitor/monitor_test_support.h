// Helpers shared by the monitor tests: feeding events written in the text form
// through the real Event/Packet classes, capturing standard output, and
// bringing the monitor back to a known state between tests.
#ifndef KIVO_TESTS_MONITOR_TEST_SUPPORT_H
#define KIVO_TESTS_MONITOR_TEST_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include "map_kernels.h"

class TH2F;

namespace monitor_test {

// Parses `text` (the event text form) and hands every event to process_event.
// Fails the calling test on a parse error.
void process_text(const std::string& text);

// Everything written to standard output (stdio and iostreams) while `action` runs.
std::string capture_stdout(const std::function<void()>& action);

// Books the histograms if needed and empties every raw histogram, the counters,
// the settings, the correlation masks and the busy-event rule, as at the start of a run with
// default settings.
void reset_monitor();

// Text line of one hit of stave `stave` at stave-wide column `col` and chip row
// `row`, on the readout channel that serves that chip.
std::string hit_line(int stave, int col, int row);

// Whole contents of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// The largest content of each overview block of `map` (a hit map), read bin
// by bin, laid out as kivo_norm_overview lays out its blocks.
std::vector<float> block_maxima_by_bins(const TH2F& map);
// The contents of each overview block added up, read bin by bin.
std::vector<double> block_sums_by_bins(const TH2F& map);

// Expects `summary` to hold the in-range column and row sums of `map` as
// ProjectionX and ProjectionY add them up, its chip totals as Integral, and
// its block maxima and block sums.
void expect_summary_of(const TH2F& map, const MapSummary& summary);

// Expects every cell, the entries and the statistics sums of `map` to equal
// those of `expected`.
void expect_same_map(const TH2F& map, const TH2F& expected);

}  // namespace monitor_test

#endif
