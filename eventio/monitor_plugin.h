// The contract between the kivo host and a monitor plug-in: every symbol the
// host resolves by name in the monitor library (dlsym), with its exact type.
// The monitor's sources include this header, so the compiler checks that they
// define each symbol with the type declared here; the host reads the types
// from here through MonitorSymbols. A new symbol the host needs is declared
// here, added to MonitorSymbols and to for_each_monitor_symbol.
#ifndef KIVO_EVENTIO_MONITOR_PLUGIN_H
#define KIVO_EVENTIO_MONITOR_PLUGIN_H

#include <cstdint>

class Event;
class TCanvas;
class TGraphAsymmErrors;
class TH1D;
class TH1F;
class TH2F;
class TObject;

inline constexpr int kMonitorStaves = 4;

// Entry points: pinit once before the first event, then process_event for
// every event.
int pinit();
int process_event(Event* e);

// Run number of the last begin-run event; data events since it (or pinit);
// refresh interval in data events (0 or negative: no periodic refresh).
extern int kivo_run;
extern int kivo_evnts;
extern int kivo_refresh;

// Histograms, graphs and the canvas, null until pinit (the canvas until the
// first OM, h2d_chip_norm until the first analysis). hnevnt: one entry per
// data event that carried the detector packet; hchip: hits per stave;
// hnhit_chip: hits per event of each stave; hdiffcol_chip, hdiffrow_chip:
// mean column and row of each stave minus those of the reference stave 3;
// h2d_chip: hit maps (x = stave-wide column, y = displayed row);
// h2d_chip_norm: the hit maps per event, whole only after
// kivo_materialise_maps; gmpos_chip: fitted beam position of each stave.
extern TH1D* hnevnt;
extern TH1D* hchip;
extern TH1F* hnhit_chip[kMonitorStaves];
extern TH1F* hdiffcol_chip[kMonitorStaves];
extern TH1F* hdiffrow_chip[kMonitorStaves];
extern TH2F* h2d_chip[kMonitorStaves];
extern TH2F* h2d_chip_norm[kMonitorStaves];
extern TGraphAsymmErrors* gmpos_chip[kMonitorStaves];
extern TCanvas* com;

// Live view of the hit maps, for the host's display and quality checks. All
// of them run on the thread that processes events, between two events, and
// read the maps without changing what any monitor command shows.
//
// The normalised maps (h2d_chip_norm) are read as the last analysis left
// them: 9216 x 512 bins, x = stave-wide column, y = displayed row.
// kOverviewBinsX x kOverviewBinsY blocks of kOverviewBlockX x kOverviewBlockY
// bins each cover every in-range bin of a map.
inline constexpr int kOverviewBlockX = 18;
inline constexpr int kOverviewBlockY = 4;
inline constexpr int kOverviewBinsX = 9216 / kOverviewBlockX;
inline constexpr int kOverviewBinsY = 512 / kOverviewBlockY;

extern "C" {

// The largest normalised content of each block of stave `stave`'s map, into
// `out` (kOverviewBinsX * kOverviewBinsY values, block (bx, by) at
// out[by * kOverviewBinsX + bx], bx and by from 0). Returns 0, or -1 for a
// stave out of range or before the first analysis.
int kivo_norm_overview(int stave, float* out);

// The normalised contents of bins first_x..last_x, first_y..last_y (ROOT bin
// numbers, 1-based, in range) of stave `stave`'s map, into `out` row by row
// from first_y: out[(y - first_y) * (last_x - first_x + 1) + (x - first_x)].
// Returns 0, or -1 for a stave or bins out of range or before the first
// analysis.
int kivo_norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out);

// Makes h2d_chip_norm hold every bin as the last analysis computed it, for
// readers of the whole maps (saving, full-resolution views).
void kivo_materialise_maps();

// Hits on chip `chip` (0..8) of stave `stave` counted in the raw map
// (h2d_chip) since its last reset, in-range bins only; -1 when out of range
// or not booked.
double kivo_chip_hits(int stave, int chip);

// The hits of stave `stave`'s raw map (h2d_chip) since its last reset,
// added up per stave-wide column into `columns` (9216 values, column 0
// first) and per displayed row into `rows` (512 values), in-range bins only.
// Returns 0, or -1 when the stave is out of range or not booked. Read from
// what is kept while hits are filled, not from the map.
int kivo_hit_sums(int stave, double* columns, double* rows);

// The hot cells of stave `stave`'s raw map: in-range bins whose content is
// greater than `threshold` and greater than `ratio` times the lower median of
// their in-range neighbours (eight, five at an edge, three in a corner),
// ordered by y bin, then x bin: at most `capacity` of them stored in
// xbins/ybins (ROOT bin numbers). `above`, unless null, receives how many
// in-range bins are greater than the threshold. Returns how many hot cells
// there are in all, or -1 when the stave is out of range or not booked or
// `ratio` is not a number of 0 or more. What it needs from the map is kept
// while hits are filled, so that a long run's beam spot is not read at every
// call.
int kivo_hot_cells(int stave, double threshold, double ratio, int* xbins, int* ybins, int capacity,
                   int* above);

// The recent view of the hit maps: the hits of each stave's raw map
// (h2d_chip) in the last complete window of `events` data events with the
// detector packet, windows ending at multiples of `events` counted from the
// last reset. The monitor takes each window's block sums (the overview's
// blocks of kOverviewBlockX x kOverviewBlockY bins) at its end, from what it
// keeps while hits are filled; nothing is kept while no window is set.
struct KivoRecentWindow {
  long serial;       // counts the windows taken since the library was loaded; 0: none yet
  long first_event;  // the window's events, counted from 1 since the last reset
  long last_event;
  int events;        // the window's length, as set
};

// Sets the window (0 turns the recent view off); the windows start anew.
// Returns 0, or -1, changing nothing, for a negative length.
int kivo_set_recent_window(int events);

// The last complete window into `window`. Returns 0, or -1 when there is
// none yet (fewer events since the reset or since the window was set, or no
// window set); `window->events` is the length set either way.
int kivo_recent_window(KivoRecentWindow* window);

// The hits of stave `stave` in that window added up per block, into `out`
// (kOverviewBinsX * kOverviewBinsY values, laid out as kivo_norm_overview
// lays them out). Returns 0, or -1 for a stave out of range or no window.
int kivo_recent_blocks(int stave, float* out);

// The run archive's copy of the run the monitor holds, taken when the run
// ends (on the thread that processes events, between two events), then
// turned into the objects of its file on another thread.
struct KivoRunCopy;

// A copy of every raw histogram of the monitor's directory, of the frames
// and of the beam-position graphs (emptied), as save() would list them; the
// derived histograms are not copied but computed from the copy by
// kivo_derive_run. Null before pinit.
KivoRunCopy* kivo_copy_run();

// Computes the copy's derived objects (rates, normalised distributions and
// maps, beam positions) as analysis() computes the monitor's from the same
// raw histograms, and as OM() shows them; then calls visit(object, context)
// for every object of the copy in the order save() writes the monitor's,
// until a call returns non-zero. A normalised map exists only during its
// visit. Callable on any thread: touches nothing of the monitor's. Returns 0,
// or -1 when a visit stopped it.
int kivo_derive_run(KivoRunCopy* copy, int (*visit)(const TObject* object, void* context), void* context);

// Frees the copy, on any thread.
void kivo_free_run(KivoRunCopy* copy);
// Synchronisation of the staves, for the quality checks. For every data event
// with the detector packet the monitor takes each stave's mean stave-wide
// column and mean chip row (the row hdiffrow_chip uses) of its hits, leaving
// out the pixels of the stave's correlation mask; a stave enters an event
// when such hits remain and it enters hdiffcol_chip's summaries. For each
// stave s, reference stave r (kCorrelationReferences: 3, and 2 for when
// stave 3 is dead) other than s and lag d (-kMaxCorrelationLag..+kMaxCorrelationLag)
// it keeps the distribution of mean_s(event i) - mean_r(event i + d), events
// counted among those with the packet, binned as hdiffcol_chip and
// hdiffrow_chip are (1023 bins over -511.5..511.5). They are emptied with
// the raw histograms; nothing else shows them. Masks stay until replaced.
inline constexpr int kMaxCorrelationLag = 2;
inline constexpr int kCorrelationBins = 1023;
inline constexpr int kCorrelationReferences[] = {3, 2};

// Replaces stave `stave`'s correlation mask by the `count` pixels at
// xbins[i], ybins[i] (ROOT bin numbers of h2d_chip, as kivo_hot_cells gives
// them; count 0 empties it). Returns 0, or -1, changing nothing, when the
// stave is out of range, count is negative or a bin lies outside the map.
int kivo_set_correlation_mask(int stave, const int* xbins, const int* ybins, int count);

// The distribution of stave `stave` against reference stave `reference` at
// lag `lag` along `axis` (0 columns, 1 rows) into `out`: kCorrelationBins + 2
// counts, underflow first and overflow last, modulo 2^32. The checks take
// the difference of two readings, exact while fewer than 2^32 entries fall
// into one bin between them; half the size of wider counts, the sixty
// distributions read at every refresh cost half the memory traffic.
// Returns 0, or -1 when the histograms are not booked or a stave, the pair,
// the axis or the lag is not one kept.
int kivo_lag_differences(int stave, int reference, int axis, int lag, std::uint32_t* out);


// Busy events (noise bursts), for the quality checks. An event is busy on a
// stave when its hits there (all of them, as hchip counts them) are more
// than `least`, more than `multiple` times the middle (the lower middle) of
// the other three staves' hits in the same event, and, once the stave has
// 200 events with hits that are not busy, more than `multiple` times the
// `quantile` of their hits per event. The monitor tells them apart while it
// fills the hits; the maps and histograms keep every hit.
// kivo_set_busy_rule sets the rule (default 0.99, 5, 100); it returns 0, or
// -1, changing nothing, for a quantile outside (0, 1], a multiple below 1 or
// a negative `least`.
int kivo_set_busy_rule(double quantile, double multiple, double least);

// Stave `stave`'s busy events since the last reset: into figures[0] their
// count, [1] their hits, [2] the hits an event needs now to be busy (0 while
// the threshold is not known yet), [3] the most hits of one of them; unless
// null, their in-range hits (as h2d_chip takes them) per stave-wide column
// into `columns` (9216 values) and per displayed row into `rows` (512).
// Returns 0, or -1 for a stave out of range or a null `figures`.
int kivo_busy_events(int stave, double* figures, double* columns, double* rows);
// The decoded hits of one data event with the detector packet, for a
// consumer beside the monitor (the host's track reconstruction). Each hit is
// a pixel key, stave-wide column * kPixelKeyRows + chip row (the row as
// decoded, not the displayed row 511 - row), for the hits that fill an
// in-range bin of h2d_chip (chip column 0..1023, chip row 0..511), in the
// order they are decoded; a pixel read twice is listed twice. For an event
// the consumer did not want, pixels are null and count holds each stave's
// hits as decoded (in range or not). Valid only during the call that
// receives it.
inline constexpr int kPixelKeyRows = 512;
struct KivoEventHits {
  const unsigned* pixels[kMonitorStaves];
  int count[kMonitorStaves];
};

// Where the monitor hands the hits: `wants` (unless null) before each data
// event with the detector packet is decoded, non-zero when the consumer
// wants its hits; `event` once the monitor has filled its histograms from
// the event, before a periodic refresh it may cause; `reset` whenever the
// monitor empties its raw histograms (a begin-run event, reset_histos()).
// All run on the thread that processes events.
struct KivoHitSink {
  int (*wants)(void* context);
  void (*event)(const KivoEventHits* hits, void* context);
  void (*reset)(void* context);
  void* context;
};

// Installs `sink` (copied; null removes it). Without one the monitor
// gathers no hits. Returns 0.
int kivo_set_hit_sink(const KivoHitSink* sink);

}

// The symbols above as a loaded library holds them, each typed as declared:
// a function as a pointer to it, an object as a pointer to the object.
struct MonitorSymbols {
  decltype(&::pinit) pinit = nullptr;
  decltype(&::process_event) process_event = nullptr;
  decltype(&::kivo_run) kivo_run = nullptr;
  decltype(&::kivo_evnts) kivo_evnts = nullptr;
  decltype(&::kivo_refresh) kivo_refresh = nullptr;
  decltype(&::hnevnt) hnevnt = nullptr;
  decltype(&::hchip) hchip = nullptr;
  decltype(&::hnhit_chip) hnhit_chip = nullptr;
  decltype(&::hdiffcol_chip) hdiffcol_chip = nullptr;
  decltype(&::hdiffrow_chip) hdiffrow_chip = nullptr;
  decltype(&::h2d_chip) h2d_chip = nullptr;
  decltype(&::h2d_chip_norm) h2d_chip_norm = nullptr;
  decltype(&::gmpos_chip) gmpos_chip = nullptr;
  decltype(&::com) com = nullptr;
  decltype(&::kivo_norm_overview) norm_overview = nullptr;
  decltype(&::kivo_norm_region) norm_region = nullptr;
  decltype(&::kivo_materialise_maps) materialise_maps = nullptr;
  decltype(&::kivo_chip_hits) chip_hits = nullptr;
  decltype(&::kivo_hot_cells) hot_cells = nullptr;
  decltype(&::kivo_hit_sums) hit_sums = nullptr;
  decltype(&::kivo_set_recent_window) set_recent_window = nullptr;
  decltype(&::kivo_recent_window) recent_window = nullptr;
  decltype(&::kivo_recent_blocks) recent_blocks = nullptr;
  decltype(&::kivo_copy_run) copy_run = nullptr;
  decltype(&::kivo_derive_run) derive_run = nullptr;
  decltype(&::kivo_free_run) free_run = nullptr;
  decltype(&::kivo_set_correlation_mask) set_correlation_mask = nullptr;
  decltype(&::kivo_lag_differences) lag_differences = nullptr;
  decltype(&::kivo_set_busy_rule) set_busy_rule = nullptr;
  decltype(&::kivo_busy_events) busy_events = nullptr;
  decltype(&::kivo_set_hit_sink) set_hit_sink = nullptr;
};

// Calls visit(name, member) for every member of `symbols`, with the name of
// its symbol in the library: Itanium C++ ABI names for the two entry points,
// plain names for the objects and the C functions.
template <class Visit>
void for_each_monitor_symbol(MonitorSymbols& symbols, Visit&& visit) {
  visit("_Z5pinitv", symbols.pinit);
  visit("_Z13process_eventP5Event", symbols.process_event);
  visit("kivo_run", symbols.kivo_run);
  visit("kivo_evnts", symbols.kivo_evnts);
  visit("kivo_refresh", symbols.kivo_refresh);
  visit("hnevnt", symbols.hnevnt);
  visit("hchip", symbols.hchip);
  visit("hnhit_chip", symbols.hnhit_chip);
  visit("hdiffcol_chip", symbols.hdiffcol_chip);
  visit("hdiffrow_chip", symbols.hdiffrow_chip);
  visit("h2d_chip", symbols.h2d_chip);
  visit("h2d_chip_norm", symbols.h2d_chip_norm);
  visit("gmpos_chip", symbols.gmpos_chip);
  visit("com", symbols.com);
  visit("kivo_norm_overview", symbols.norm_overview);
  visit("kivo_norm_region", symbols.norm_region);
  visit("kivo_materialise_maps", symbols.materialise_maps);
  visit("kivo_chip_hits", symbols.chip_hits);
  visit("kivo_hot_cells", symbols.hot_cells);
  visit("kivo_hit_sums", symbols.hit_sums);
  visit("kivo_set_recent_window", symbols.set_recent_window);
  visit("kivo_recent_window", symbols.recent_window);
  visit("kivo_recent_blocks", symbols.recent_blocks);
  visit("kivo_copy_run", symbols.copy_run);
  visit("kivo_derive_run", symbols.derive_run);
  visit("kivo_free_run", symbols.free_run);
  visit("kivo_set_correlation_mask", symbols.set_correlation_mask);
  visit("kivo_lag_differences", symbols.lag_differences);
  visit("kivo_set_busy_rule", symbols.set_busy_rule);
  visit("kivo_busy_events", symbols.busy_events);
  visit("kivo_set_hit_sink", symbols.set_hit_sink);
}

#endif
