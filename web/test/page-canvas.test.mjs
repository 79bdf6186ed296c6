// What the page does to a canvas before JSROOT draws it: hit maps merged down to
// screen resolution.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parse, makeSVG } from 'jsroot';
import { monitorCanvasText } from './support/monitor-canvas.mjs';
import { mergeFactor, mergeBinsByMaximum, mergeToScreenResolution } from '../page/screen-resolution.mjs';

function axis(nbins, first = 0, last = 0) {
  return { _typename: 'TAxis', fNbins: nbins, fXmin: 0, fXmax: nbins, fXbins: [], fFirst: first, fLast: last };
}

// TH2F with content(i, j) for the visible bins, zero under- and overflow.
function map2d(nx, ny, content) {
  const cells = new Float32Array((nx + 2) * (ny + 2));
  for (let j = 1; j <= ny; ++j)
    for (let i = 1; i <= nx; ++i) cells[i + (nx + 2) * j] = content(i, j);
  return { _typename: 'TH2F', fXaxis: axis(nx), fYaxis: axis(ny), fArray: cells, fNcells: cells.length, fSumw2: [1] };
}

function pad(name, arr, opt, width = 0.5, height = 0.25) {
  return { _typename: 'TPad', fName: name, fAbsWNDC: width, fAbsHNDC: height,
           fLeftMargin: 0.1, fRightMargin: 0.1, fBottomMargin: 0.1, fTopMargin: 0.1,
           fPrimitives: { _typename: 'TList', arr, opt } };
}

test('merge factor divides the bins and reaches the pixel count', () => {
  assert.equal(mergeFactor(9216, 640), 16);
  assert.equal(mergeFactor(512, 160), 4);
  assert.equal(mergeFactor(512, 512), 1);
  assert.equal(mergeFactor(7, 3), 7);
  assert.equal(mergeFactor(100, 0), 1);
});

test('merged bins keep the largest content of each block', () => {
  const h = map2d(6, 4, (i, j) => (i === 5 && j === 2 ? 9 : i + 10 * j));
  h.fXaxis.fFirst = 2;
  h.fXaxis.fLast = 5;
  mergeBinsByMaximum(h, 3, 2);
  assert.equal(h.fXaxis.fNbins, 2);
  assert.equal(h.fYaxis.fNbins, 2);
  assert.equal(h.fNcells, 16);
  assert.ok(h.fArray instanceof Float32Array);
  const at = (i, j) => h.fArray[i + 4 * j];
  assert.deepEqual([at(1, 1), at(2, 1), at(1, 2), at(2, 2)], [23, 26, 43, 46]);
  assert.deepEqual([at(0, 0), at(3, 3)], [0, 0]);
  assert.deepEqual([h.fXaxis.fFirst, h.fXaxis.fLast], [1, 2]);
  assert.deepEqual(h.fSumw2, []);
});

test('a single hot pixel survives the merge; small maps and 1D histograms are untouched', () => {
  const hit = map2d(9216, 512, (i, j) => (i === 4000 && j === 300 ? 0.5 : 0));
  const small = map2d(40, 20, () => 1);
  const line = { _typename: 'TH1F', fXaxis: axis(9216), fArray: new Float32Array(9218) };
  const canvas = pad('c', [pad('p2d_0', [hit], ['colz']), pad('small', [small, line], ['colz', 'same'])],
                     ['', ''], 1, 1);
  assert.equal(mergeToScreenResolution(canvas, 1600, 800), 1);
  assert.ok(hit.fXaxis.fNbins <= 640 && hit.fYaxis.fNbins <= 160);
  assert.equal(Math.max(...hit.fArray), 0.5);
  assert.equal(hit.fArray.filter((v) => v > 0).length, 1);
  assert.equal(small.fXaxis.fNbins, 40);
  assert.equal(line.fXaxis.fNbins, 9216);
});

test('merged hit maps still draw with their palettes', async () => {
  const canvas = parse(monitorCanvasText());
  assert.equal(mergeToScreenResolution(canvas, 1600, 800), 4);
  const svg = await makeSVG({ object: canvas, option: '', width: 1600, height: 800 });
  // The palettes and the coloured bins are the only filled colours on this canvas.
  assert.ok(new Set(svg.match(/fill: ?rgb\([^)]*\)/g)).size >= 10);
});
