// The plots of the page's tracks view, built as ROOT objects for JSROOT from
// the "tracks" part of kivo's /quality.json: each stave's efficiency map
// (tracks of the other three staves matched by the stave, per cell of 64
// columns by 64 rows, drawn the way the hit maps show the stave), the
// efficiency of each chip, and the residuals and cluster sizes of the four
// staves overlaid. No drawing and no page here, so that Node can check them.
import { createHistogram, createTHStack } from 'jsroot';
import { CHIPS, CHIP_COLUMNS, CHIP_ROWS, STAVE_COLUMNS } from './pixels.mjs';

export const STAVES = 4;
const CELL = 64;  // columns and rows of a cell
// ROOT colours of the staves, as the monitor draws them.
export const STAVE_COLOURS = [600, 632, 418, 618];
// ROOT's TH1::kNoStats: no statistics box.
const NO_STATS = 1 << 9;
// A cell shows its efficiency from this many tracks on.
export const MIN_CELL_TRACKS = 5;
// An empty cell stays blank; a cell whose tracks all went unmatched shows
// the lowest colour.
const NOTHING_MATCHED = 1e-6;

// The tracks and matches of a stave over the chosen span: "recent" (the
// checks' window) or "run".
function counts(stave, span) {
  return span === 'recent' ? { total: stave.recent_total, matched: stave.recent_matched }
                           : { total: stave.total, matched: stave.matched };
}

// The efficiency map of stave `s`: x stave-wide columns, y displayed rows (511 -
// chip row), as the hit maps; cells with fewer than MIN_CELL_TRACKS tracks
// empty.
export function efficiencyMap(tracks, s, span) {
  const { cells_x: nx, cells_y: ny } = tracks;
  const { total, matched } = counts(tracks.staves[s], span);
  const map = createHistogram('TH2F', nx, ny);
  map.fName = `efficiency_map_${s}`;
  map.fTitle = '';
  map.fBits |= NO_STATS;
  // Ticks at the chips' borders (named by the page), rows in halves.
  Object.assign(map.fXaxis, { fXmin: -0.5, fXmax: STAVE_COLUMNS - 0.5, fNdivisions: -CHIPS, fLabelSize: 0 });
  Object.assign(map.fYaxis, { fXmin: -0.5, fXmax: CHIP_ROWS - 0.5, fLabelSize: 0, fTickLength: 0 });
  Object.assign(map.fZaxis, { fNdivisions: -2, fLabelSize: 0.14 });
  map.fMinimum = 0;
  map.fMaximum = 1;
  for (let y = 0; y < ny; ++y) {
    const shown = ny - 1 - y;  // chip rows upward are displayed rows downward
    for (let x = 0; x < nx; ++x) {
      const cell = x + nx * y;
      if (!(total[cell] >= MIN_CELL_TRACKS)) continue;
      map.fArray[(x + 1) + (nx + 2) * (shown + 1)] = Math.max(matched[cell] / total[cell], NOTHING_MATCHED);
    }
  }
  map.fEntries = total.reduce((sum, value) => sum + value, 0);
  return map;
}

// Per stave and chip: { total, matched, efficiency } (efficiency null without tracks).
export function chipEfficiencies(tracks, span) {
  const nx = tracks.cells_x, ny = tracks.cells_y, perChip = nx / CHIPS;
  return tracks.staves.map((stave) => {
    const { total, matched } = counts(stave, span);
    return Array.from({ length: CHIPS }, (_, chip) => {
      let t = 0, m = 0;
      for (let y = 0; y < ny; ++y)
        for (let x = chip * perChip; x < (chip + 1) * perChip; ++x) {
          t += total[x + nx * y] ?? 0;
          m += matched[x + nx * y] ?? 0;
        }
      return { total: t, matched: m, efficiency: t > 0 ? m / t : null };
    });
  });
}

// The rectangle of the hit map (stave-wide columns, displayed rows) that cell
// x, y (from 0, y in displayed cells) of an efficiency map covers, for the
// hit-map zoom.
export function cellRectangle(x, y) {
  return { x1: x * CELL - 0.5, x2: (x + 1) * CELL - 0.5, y1: y * CELL - 0.5, y2: (y + 1) * CELL - 0.5 };
}

// The rectangle of chip `chip`.
export function chipRectangle(chip) {
  return { x1: chip * CHIP_COLUMNS - 0.5, x2: (chip + 1) * CHIP_COLUMNS - 0.5, y1: -0.5, y2: CHIP_ROWS - 0.5 };
}

function histogramOf(name, title, bins, low, high, colour) {
  const histogram = createHistogram('TH1F', Math.max(1, bins.length - 2));
  const [main, xTitle = '', yTitle = ''] = title.split(';');
  histogram.fName = name;
  histogram.fTitle = main;
  Object.assign(histogram.fXaxis, { fXmin: low, fXmax: high, fTitle: xTitle, fLabelSize: 0.05, fTitleSize: 0.05 });
  Object.assign(histogram.fYaxis, { fTitle: yTitle, fLabelSize: 0.05, fTitleSize: 0.05 });
  let total = 0;
  for (let b = 1; b < bins.length - 1; ++b) total += bins[b];
  for (let b = 1; b < bins.length - 1; ++b) histogram.fArray[b] = total > 0 ? bins[b] / total : 0;
  histogram.fEntries = total;
  Object.assign(histogram, { fLineColor: colour, fLineWidth: 2 });
  histogram.fBits |= NO_STATS;
  return histogram;
}

// The four staves overlaid, each of unit area: { title, stack, option } or
// a null stack when no stave has entries.
function overlay(tracks, key, name, title, low, high) {
  const members = tracks.staves.map((stave, s) => ({ bins: stave[key] ?? [], s }))
    .filter(({ bins }) => bins.slice(1, -1).some((value) => value > 0));
  if (members.length === 0) return { title: title.split(';')[0], stack: null, option: '' };
  const stack = createTHStack(...members.map(({ bins, s }) =>
    histogramOf(`${name}_${s}`, `${title.split(';')[0]}, stave ${s};${title.split(';').slice(1).join(';')}`, bins, low,
                high, STAVE_COLOURS[s])));
  stack.fName = name;
  stack.fTitle = title.split(';')[0];
  return { title: stack.fTitle, stack, option: 'nostack hist' };
}

// The residuals of the matched clusters (columns, rows) and the cluster sizes.
export function trackPlots(tracks) {
  return [
    overlay(tracks, 'residual_columns', 'residuals_columns', 'Residuals, columns;cluster - track, columns;share', -12.5,
            12.5),
    overlay(tracks, 'residual_rows', 'residuals_rows', 'Residuals, rows;cluster - track, rows;share', -12.5, 12.5),
    overlay(tracks, 'cluster_sizes', 'cluster_sizes', 'Cluster size;pixels per cluster;share', 0.5, 32.5),
  ];
}

// "99.4%", or "–" without tracks.
export function percent(efficiency) {
  return efficiency === null ? '–' : `${(100 * efficiency).toFixed(1)}%`;
}

// The class that colours a chip's efficiency against the detector's best:
// within 3% of it, within 10%, or below.
export function efficiencyClass(efficiency, best) {
  if (efficiency === null || !(best > 0)) return 'none';
  const ratio = efficiency / best;
  return ratio >= 0.97 ? 'Good' : ratio >= 0.9 ? 'Medium' : 'Bad';
}
