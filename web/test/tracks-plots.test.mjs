// The plots of the page's tracks view, built from the "tracks" part of kivo's
// /quality.json: maps the right way up, chips' efficiencies, zoom rectangles.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { makeSVG } from 'jsroot';
import { cellRectangle, chipEfficiencies, efficiencyClass, efficiencyMap, percent, trackPlots } from '../page/tracks-plots.mjs';

const CELLS_X = 144, CELLS_Y = 8;

// One stave's cells: `filled` maps [x, y] (y in chip-row cells) to [total, matched].
function stave(filled, recent = filled) {
  const cells = (which, entries) => {
    const values = new Array(CELLS_X * CELLS_Y).fill(0);
    for (const [[x, y], counts] of entries) values[x + CELLS_X * y] = counts[which];
    return values;
  };
  return { total: cells(0, filled), matched: cells(1, filled), recent_total: cells(0, recent),
           recent_matched: cells(1, recent), residual_columns: [0, 0, 5, 10, 5, 0, 0], residual_rows: [],
           cluster_sizes: [0, 3, 1, 0], alignment: 'aligned', offset_columns: -40, offset_rows: -8 };
}

const tracks = {
  recent_events: 3000, cells_x: CELLS_X, cells_y: CELLS_Y,
  staves: [
    stave([[[64, 0], [200, 199]], [[79, 7], [100, 0]], [[70, 3], [3, 3]]]),
    stave([[[64, 0], [200, 200]]], [[[64, 0], [100, 50]]]),
    stave([]),
    stave([]),
  ],
};

test('an efficiency map shows each cell the way the hit maps show the stave', () => {
  const map = efficiencyMap(tracks, 0, 'run');
  assert.equal(map.fXaxis.fNbins, CELLS_X);
  assert.equal(map.fYaxis.fNbins, CELLS_Y);
  const bin = (x, displayedY) => map.fArray[(x + 1) + (CELLS_X + 2) * (displayedY + 1)];
  assert.ok(Math.abs(bin(64, 7) - 199 / 200) < 1e-6, 'chip rows 0-63 are displayed rows 448-511, the top cell');
  assert.ok(bin(79, 0) > 0 && bin(79, 0) < 1e-3, 'nothing matched: the lowest colour, not blank');
  assert.equal(bin(70, 4), 0, 'fewer than 5 tracks: blank');
  assert.equal(efficiencyMap(tracks, 1, 'recent').fArray[(64 + 1) + (CELLS_X + 2) * 8], 0.5, 'the recent window');
});

test('chips: tracks, matches and efficiency over the span chosen, coloured against the typical chip', () => {
  const chips = chipEfficiencies(tracks, 'run');
  assert.deepEqual(chips[0][4], { total: 303, matched: 202, efficiency: 202 / 303 });
  assert.equal(chips[0][3].efficiency, null);
  assert.equal(chipEfficiencies(tracks, 'recent')[1][4].efficiency, 0.5);
  assert.equal(percent(0.9944), '99.4%');
  assert.equal(percent(null), '–');
  assert.deepEqual([0.99, 0.95, 0.5, null].map((e) => efficiencyClass(e, 1)), ['Good', 'Medium', 'Bad', 'none']);
});

test('a cell zooms the hit map to its 64 columns and 64 displayed rows', () => {
  assert.deepEqual(cellRectangle(64, 7), { x1: 4095.5, x2: 4159.5, y1: 447.5, y2: 511.5 });
});

test('residuals and cluster sizes overlay the staves that have entries, and draw', async () => {
  const [columns, rows, sizes] = trackPlots(tracks);
  assert.equal(columns.stack.fHists.arr.length, 4);
  assert.equal(rows.stack, null, 'no residuals in rows yet');
  assert.equal(sizes.stack.fHists.arr[0].fArray[1], 0.75, 'of unit area');
  const svg = await makeSVG({ object: columns.stack, option: columns.option, width: 400, height: 300 });
  assert.match(svg, /cluster - track, columns/);
});
