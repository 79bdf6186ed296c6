// A summary figure across runs: any figure the registry holds (hits per
// event of a stave, beam position or width, hot pixels, missing packets)
// against run number or first-event time, for the runs the list's filters
// give (the last N), each point coloured by the run's final verdict. Drawn
// by JSROOT as a multigraph, one graph per verdict. What was drawn is
// exposed on window.kivoRuns.trend for tests.
import { cleanup, create, createHistogram, createTGraph, draw } from 'jsroot';
import { figureLabel } from './runs-registry.mjs';
import { element } from './element.mjs';

// ROOT's colours for the verdicts (kGreen+2, kOrange+1, kRed, kGray+1), as the page's badges have them.
const VERDICT_COLOURS = { Good: 418, Medium: 801, Bad: 632, Null: 921 };
const VERDICT_CSS = { Good: '#237a2f', Medium: '#e68a00', Bad: '#c62828', Null: '#9e9e9e' };
const DEFAULT_FIGURE = 'hits_per_event_0';

const state = { figure: null, axis: 'run', points: 0, byVerdict: {}, drawn: false, error: null };

// The controls and the plot's place; `changed` runs when a control changes.
export function trendPane(changed) {
  const controls = element('form', { id: 'trend-controls' },
                           element('label', {}, 'Figure ', element('select', { name: 'figure' })),
                           element('label', {}, 'against ',
                                   element('select', { name: 'axis' },
                                           element('option', { value: 'run' }, 'run number'),
                                           element('option', { value: 'time' }, 'first event time'))),
                           element('span', { id: 'trend-note' }, 'The runs of the list: its filters and last N apply.'));
  controls.addEventListener('change', changed);
  controls.addEventListener('submit', (event) => event.preventDefault());
  const legend = element('div', { id: 'trend-legend' },
                         ...Object.entries(VERDICT_CSS).map(([verdict, colour]) =>
                           element('span', {}, element('i', { style: `background:${colour}` }), verdict)));
  return [controls, element('div', { id: 'trend-plot' }), legend];
}

// Offers the figures the registry holds.
export function offerFigures(names = []) {
  const select = document.querySelector('#trend-controls select[name="figure"]');
  const known = [...select.options].map((option) => option.value);
  if (JSON.stringify(known) === JSON.stringify(names)) return;
  const chosen = select.value || DEFAULT_FIGURE;
  select.replaceChildren(...names.map((name) => element('option', { value: name }, figureLabel(name))));
  select.value = names.includes(chosen) ? chosen : (names[0] ?? '');
}

function seconds(iso) {
  return Date.parse(iso) / 1000;
}

// One graph of the runs of one verdict.
function verdictGraph(points, verdict) {
  const graph = createTGraph(points.length, points.map((p) => p.x), points.map((p) => p.y));
  graph.fName = `trend_${verdict}`;
  graph.fTitle = verdict;
  graph.fMarkerStyle = 20;
  graph.fMarkerSize = 1.3;
  graph.fMarkerColor = VERDICT_COLOURS[verdict];
  graph.fLineColor = VERDICT_COLOURS[verdict];
  return graph;
}

// Labels that tell the runs apart over `span` seconds.
function timeFormat(span) {
  if (span < 3 * 3600) return '%H:%M:%S';
  if (span < 3 * 86400) return '%m-%d %H:%M';
  return '%Y-%m-%d';
}

// The frame: the axes' ranges and titles, a time axis for times.
function frame(points, figure, axis) {
  const xs = points.map((p) => p.x), ys = points.map((p) => p.y);
  const [xmin, xmax] = [Math.min(...xs), Math.max(...xs)];
  const [ymin, ymax] = [Math.min(...ys), Math.max(...ys)];
  const xpad = Math.max((xmax - xmin) * 0.05, axis === 'time' ? 30 : 0.5);
  const ypad = Math.max((ymax - ymin) * 0.1, Math.abs(ymax) * 0.05, 1e-6);
  const histogram = createHistogram('TH1F', 100);
  histogram.fName = 'trend_frame';
  histogram.fTitle = `${figureLabel(figure)}, per run`;
  histogram.fXaxis.fXmin = xmin - xpad;
  histogram.fXaxis.fXmax = xmax + xpad;
  histogram.fXaxis.fTitle = axis === 'time' ? 'first event (UTC)' : 'run';
  histogram.fYaxis.fTitle = figureLabel(figure);
  histogram.fMinimum = ymin - ypad;
  histogram.fMaximum = ymax + ypad;
  if (axis === 'time') {
    histogram.fXaxis.fTimeDisplay = true;
    histogram.fXaxis.fTimeFormat = `${timeFormat(xmax - xmin)}%F1970-01-01 00:00:00s0`;
  }
  return histogram;
}

// Draws the figure chosen over `runs` (as /runs.json lists them).
export async function drawTrend(runs) {
  const form = document.getElementById('trend-controls');
  const figure = form.elements.figure.value;
  const axis = form.elements.axis.value;
  const plot = document.getElementById('trend-plot');
  Object.assign(state, { figure, axis, points: 0, byVerdict: {}, drawn: false, error: null });
  cleanup(plot);
  plot.replaceChildren();
  const points = [];
  for (const run of runs) {
    const y = run.figures?.[figure];
    const x = axis === 'time' ? seconds(run.first_event) : run.run;
    if (y === undefined || y === null || !Number.isFinite(x)) continue;
    points.push({ x, y, verdict: run.overall in VERDICT_COLOURS ? run.overall : 'Null' });
  }
  if (!points.length) {
    state.error = figure ? `no run in the list has ${figure}` : 'the registry holds no figures yet';
    plot.append(element('p', { class: 'runs-empty' }, state.error));
    return;
  }
  const multigraph = create('TMultiGraph');
  multigraph.fName = 'trend';
  multigraph.fTitle = `${figureLabel(figure)}, per run`;
  multigraph.fGraphs = create('TList');
  for (const verdict of Object.keys(VERDICT_COLOURS)) {
    const own = points.filter((point) => point.verdict === verdict);
    if (!own.length) continue;
    multigraph.fGraphs.Add(verdictGraph(own, verdict), 'P');
    state.byVerdict[verdict] = own.length;
  }
  multigraph.fHistogram = frame(points, figure, axis);
  await draw(plot, multigraph, 'AP');
  state.points = points.length;
  state.drawn = true;
}

export function trendState() {
  return state;
}
