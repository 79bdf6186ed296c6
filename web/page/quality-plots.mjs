// The plots of the trend and reference views, built as ROOT objects for JSROOT
// from kivo's /quality.json: one multigraph per trend quantity with a graph per
// stave, and one overlay per distribution of this run against the reference.
// No drawing and no page here, so that Node can check them too.
import { create, createHistogram, createTHStack } from 'jsroot';

// The trend quantities in the order they are shown, each from the series named
// trend_<kind>_<stave> (per stave) or trend_<kind> (the whole detector).
export const TREND_KINDS = ['hits_per_event', 'beam_column', 'beam_row', 'beam_column_width', 'beam_row_width',
                            'hot_pixels', 'verdict', 'event_rate'];

const STAVE_SUFFIX = /_(\d)$/;
const BLACK = 1;
const REFERENCE_LINE_STYLE = 2;  // dashed

function graphOf(series) {
  const graph = create('TGraphAsymmErrors');
  Object.assign(graph, {
    fName: series.name, fTitle: series.title, fNpoints: series.x.length,
    fX: series.x, fY: series.y, fEXlow: series.exl, fEXhigh: series.exh, fEYlow: series.eyl, fEYhigh: series.eyh,
    fLineColor: series.colour, fLineWidth: 2, fMarkerColor: series.colour, fMarkerStyle: series.marker,
    fMarkerSize: 0.7,
  });
  return graph;
}

// "Hits per event, stave 0;data events;hits / event" -> "Hits per event;data events;hits / event"
function commonTitle(title) {
  return title.replace(/, stave \d(?=;|$)/, '');
}

// One plot per trend kind: { kind, title, multigraph } where the multigraph holds
// every series of that kind with points (the overall verdict beside the staves').
export function trendPlots(trends) {
  const plots = [];
  for (const kind of TREND_KINDS) {
    const members = trends.filter((series) => series.name.replace(STAVE_SUFFIX, '') === `trend_${kind}` &&
                                              series.x.length > 0);
    if (members.length === 0) {
      plots.push({ kind, title: kind.replaceAll('_', ' '), multigraph: null });
      continue;
    }
    const multigraph = create('TMultiGraph');
    multigraph.fName = `trend_${kind}`;
    multigraph.fTitle = kind === 'verdict' ? 'Verdicts, overall in black;data events;0 Null, 1 Good, 2 Medium, 3 Bad'
                                           : commonTitle(members[0].title);
    for (const series of members) multigraph.fGraphs.Add(graphOf(series), 'LP');
    plots.push({ kind, title: multigraph.fTitle.split(';')[0], multigraph });
  }
  return plots;
}

// The bins from..to (1-based, in range) of `bins` (0..n+1) as a histogram of
// unit area, in `colour` and `style`; `title` is "title;x axis;y axis".
function histogramOf(name, title, bins, lowEdge, from, to, colour, style) {
  const histogram = createHistogram('TH1F', to - from + 1);
  const [main, xTitle = '', yTitle = ''] = title.split(';');
  histogram.fName = name;
  histogram.fTitle = main;
  Object.assign(histogram.fXaxis, { fXmin: lowEdge + from - 1, fXmax: lowEdge + to, fTitle: xTitle });
  histogram.fYaxis.fTitle = yTitle === 'events' ? 'share of events' : yTitle;
  let total = 0;
  for (let b = 1; b < bins.length - 1; ++b) total += bins[b];
  for (let b = from; b <= to; ++b) histogram.fArray[b - from + 1] = total > 0 ? bins[b] / total : 0;
  histogram.fEntries = total;
  Object.assign(histogram, { fLineColor: colour, fLineStyle: style, fLineWidth: 2 });
  return histogram;
}

// The bins holding anything in either of two distributions, widened a little.
function filledRange(a, b) {
  const last = Math.max(a.length, b.length) - 2;
  let first = last + 1;
  let final = 0;
  for (let bin = 1; bin <= last; ++bin) {
    if (!((a[bin] ?? 0) > 0 || (b[bin] ?? 0) > 0)) continue;
    first = Math.min(first, bin);
    final = bin;
  }
  if (final === 0) return [1, last];
  const margin = Math.max(2, Math.round((final - first) * 0.1));
  return [Math.max(1, first - margin), Math.min(last, final + margin)];
}

// One overlay per distribution: { name, title, stack, option } with this run's
// distribution in the stave colour and the reference's dashed in black, both
// of unit area, over the range either fills; the difference distributions,
// sharp peaks over long tails, on a logarithmic scale as on the canvas.
export function referencePlots(reference) {
  return reference.distributions.map((distribution) => {
    const { name, title, xmin, colour, current, reference: known } = distribution;
    const [from, to] = filledRange(current, known);
    const now = histogramOf(`${name}_current`, title, current.length ? current : known.map(() => 0), xmin, from, to,
                            colour, 1);
    const then = histogramOf(`${name}_reference`, title, known, xmin, from, to, BLACK, REFERENCE_LINE_STYLE);
    const stack = createTHStack(now, then);
    stack.fName = name;
    stack.fTitle = title.split(';')[0];
    return { name, title: stack.fTitle, stack, option: name.includes('difference') ? 'nostack hist logy' : 'nostack hist' };
  });
}

// The page title while the overall verdict is `overall` with `badRows` rows
// Bad: a second Bad changes it again.
export function pageTitle(base, overall, badRows = 1) {
  if (overall !== 'Bad') return base;
  return badRows > 1 ? `Bad (${badRows}): ${base}` : `Bad: ${base}`;
}
