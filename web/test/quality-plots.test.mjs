// The plots of the page's trend and reference views, built from kivo's
// /quality.json and drawn by JSROOT.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { makeSVG } from 'jsroot';
import { TREND_KINDS, pageTitle, referencePlots, trendPlots } from '../page/quality-plots.mjs';

function series(name, title, points, colour = 600) {
  const x = points.map((_, i) => 1000 * (i + 1));
  return { name, title, colour, marker: 20, x, y: points, exl: x.map(() => 0), exh: x.map(() => 0),
           eyl: x.map(() => 0), eyh: x.map(() => 0) };
}

const trends = [
  series('trend_event_rate', 'Event rate;data events;events / s', [900, 950]),
  series('trend_verdict', 'Overall verdict;data events;verdict', [1, 3], 1),
  series('trend_hits_per_event_0', 'Hits per event, stave 0;data events;hits / event', [5.1, 5.2]),
  series('trend_hits_per_event_1', 'Hits per event, stave 1;data events;hits / event', [5.0, 5.3], 632),
  series('trend_beam_column_0', 'Beam column, stave 0;data events;column', []),
  series('trend_verdict_2', 'Verdict, stave 2;data events;verdict', [1, 3], 418),
];

test('trends: one multigraph per quantity holding every stave with points', () => {
  const plots = trendPlots(trends);
  assert.deepEqual(plots.map((plot) => plot.kind), TREND_KINDS);
  const hits = plots.find((plot) => plot.kind === 'hits_per_event');
  assert.equal(hits.multigraph.fTitle, 'Hits per event;data events;hits / event');
  assert.deepEqual(hits.multigraph.fGraphs.arr.map((graph) => graph.fName),
                   ['trend_hits_per_event_0', 'trend_hits_per_event_1']);
  assert.equal(hits.multigraph.fGraphs.arr[1].fLineColor, 632);
  assert.equal(plots.find((plot) => plot.kind === 'beam_column').multigraph, null, 'no points yet');
  const verdicts = plots.find((plot) => plot.kind === 'verdict').multigraph;
  assert.deepEqual(verdicts.fGraphs.arr.map((graph) => graph.fName), ['trend_verdict', 'trend_verdict_2']);
  const rate = plots.find((plot) => plot.kind === 'event_rate').multigraph;
  assert.deepEqual(rate.fGraphs.arr[0].fY, [900, 950]);
});

test('trends draw with their axis titles', async () => {
  const hits = trendPlots(trends).find((plot) => plot.kind === 'hits_per_event');
  const svg = await makeSVG({ object: hits.multigraph, option: 'A', width: 400, height: 400 });
  assert.match(svg, /data events/);
  assert.match(svg, /hits \/ event/);
});

// Bins 0..n+1 of a distribution with `filled` (bin -> content).
function bins(count, filled) {
  const all = new Array(count + 2).fill(0);
  for (const [bin, content] of Object.entries(filled)) all[Number(bin)] = content;
  return all;
}

test('reference: this run and the reference overlaid, each of unit area, over the filled range', async () => {
  const view = {
    path: 'ref.json',
    distributions: [
      { name: 'hits_per_event_0', title: 'Pixels per event, stave 0;N pixels / event;events', xmin: -0.5,
        xmax: 200.5, colour: 600, current: bins(201, { 4: 30, 5: 10 }), reference: bins(201, { 5: 20, 30: 20 }) },
      { name: 'column_difference_1', title: 'Column difference to stave 3, stave 1;col index diff;events',
        xmin: -511.5, xmax: 511.5, colour: 632, current: [], reference: bins(1023, { 432: 50 }) },
    ],
  };
  const [hits, difference] = referencePlots(view);
  assert.equal(hits.title, 'Pixels per event, stave 0');
  assert.equal(hits.option, 'nostack hist');
  const [now, then] = hits.stack.fHists.arr;
  // Bins 4 to 30 filled, widened by a tenth (3 bins) on either side: bins 1 to 33.
  assert.equal(now.fXaxis.fNbins, 33);
  assert.equal(now.fXaxis.fXmin, -0.5);
  assert.equal(now.fXaxis.fXmax, 32.5);
  assert.equal(now.fArray[4], 0.75, 'bin 4 of the run: 30 of 40 entries');
  assert.equal(then.fArray[30], 0.5, 'bin 30 of the reference: 20 of 40 entries');
  assert.equal(now.fLineColor, 600);
  assert.equal(then.fLineStyle, 2);
  assert.equal(now.fXaxis.fTitle, 'N pixels / event');
  assert.equal(difference.option, 'nostack hist logy');
  assert.ok(difference.stack.fHists.arr[0].fArray.every((content) => content === 0), 'nothing of this run yet');
  const svg = await makeSVG({ object: hits.stack, option: hits.option, width: 320, height: 400 });
  assert.match(svg, /N pixels \/ event/);
});

test('the page title says Bad while the overall verdict is Bad', () => {
  assert.equal(pageTitle('KIVO online monitoring', 'Bad'), 'Bad: KIVO online monitoring');
  assert.equal(pageTitle('KIVO online monitoring', 'Medium'), 'KIVO online monitoring');
  assert.equal(pageTitle('KIVO online monitoring', null), 'KIVO online monitoring');
});
