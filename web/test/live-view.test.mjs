// The page's copy of kivo's view: updates applied by version, objects put in
// their places, and zoomed hit maps composed of overview and region.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { addMethods, makeSVG } from 'jsroot';
import { LiveView, MAX_REGION_BINS, composeZoomed, regionForZoom } from '../page/live-view.mjs';

function axis(nbins, min, max) {
  const made = { _typename: 'TAxis', fNbins: nbins, fXmin: min, fXmax: max, fXbins: [], fFirst: 0, fLast: 0, fBits: 0 };
  addMethods(made);
  return made;
}

// TH2F with content(i, j) in the bins, zero under- and overflow.
function map2d(xAxis, yAxis, content) {
  const nx = xAxis.fNbins, ny = yAxis.fNbins;
  const cells = new Float32Array((nx + 2) * (ny + 2));
  for (let j = 1; j <= ny; ++j)
    for (let i = 1; i <= nx; ++i) cells[i + (nx + 2) * j] = content(i, j);
  const made = { _typename: 'TH2F', fName: 'h2d_chip_norm_0', fTitle: '', fXaxis: xAxis, fYaxis: yAxis,
                 fZaxis: axis(1, 0, 1), fArray: cells, fNcells: cells.length, fMinimum: 1e-6, fMaximum: 1,
                 fSumw2: [], fBits: 0, fContour: [], fFunctions: { _typename: 'TList', arr: [], opt: [] } };
  addMethods(made.fFunctions);
  addMethods(made);
  return made;
}

// A full-resolution map of 9216 x 512 pixels, and its overview (maxima of 18 x 4 blocks).
const pixel = (x, y) => ((x * 7 + y * 13) % 101) / 1000;
function overviewOf(content) {
  return map2d(axis(512, -0.5, 9215.5), axis(128, -0.5, 511.5), (bx, by) => {
    let most = 0;
    for (let y = (by - 1) * 4 + 1; y <= by * 4; ++y)
      for (let x = (bx - 1) * 18 + 1; x <= bx * 18; ++x) most = Math.max(most, content(x, y));
    return Math.fround(most);
  });
}
function regionOf(content, firstX, lastX, firstY, lastY) {
  return map2d(axis(lastX - firstX + 1, firstX - 1.5, lastX - 0.5), axis(lastY - firstY + 1, firstY - 1.5, lastY - 0.5),
               (i, j) => Math.fround(content(firstX + i - 1, firstY + j - 1)));
}

function binOf(histogram, xValue, yValue) {
  const find = (ax, v) => ax.fXbins.findIndex((edge, k) => k > 0 && v < edge);
  const i = find(histogram.fXaxis, xValue), j = find(histogram.fYaxis, yValue);
  return histogram.fArray[j * (histogram.fXaxis.fNbins + 2) + i];
}

test('a zoomed map shows every pixel of the region and the overview around it', () => {
  const overview = overviewOf(pixel);
  const region = regionOf(pixel, 4602, 4651, 302, 321);  // 50 x 20 pixels
  const zoomed = composeZoomed(overview, region);
  const xEdges = zoomed.fXaxis.fXbins, yEdges = zoomed.fYaxis.fXbins;
  assert.equal(xEdges.length, zoomed.fXaxis.fNbins + 1);
  assert.deepEqual([xEdges[0], xEdges[xEdges.length - 1]], [-0.5, 9215.5]);
  assert.deepEqual([yEdges[0], yEdges[yEdges.length - 1]], [-0.5, 511.5]);
  assert.ok(xEdges.every((edge, k) => k === 0 || edge > xEdges[k - 1]), 'edges rise');
  const inside = xEdges.filter((edge) => edge >= 4600.5 && edge <= 4650.5);
  assert.deepEqual(inside, Array.from({ length: 51 }, (_, k) => 4600.5 + k), 'one bin per pixel');
  assert.equal(zoomed.fArray.length, (zoomed.fXaxis.fNbins + 2) * (zoomed.fYaxis.fNbins + 2));
  for (const [x, y] of [[4601, 301], [4650, 320], [4620, 310]])
    assert.equal(binOf(zoomed, x, y), Math.fround(pixel(x + 1, y + 1)), `pixel ${x}, ${y}`);
  assert.equal(binOf(zoomed, 100, 100), overview.fArray[(100 / 4 | 0) * 514 + 514 + (100 / 18 | 0) + 1]);
  assert.equal(zoomed.fMinimum, 1e-6, 'the look of the map stays');
  assert.deepEqual(overview.fXaxis.fXbins, [], 'the overview is left as it was');
});

test('a merged region keeps its blocks and ends at the map edge', () => {
  const overview = overviewOf(pixel);
  // 9216 columns in 543 blocks of 17: the last block reaches past the map.
  const region = map2d(axis(543, -0.5, -0.5 + 543 * 17), axis(40, 289.5, 329.5), (i, j) => i + j);
  const zoomed = composeZoomed(overview, region);
  const xEdges = zoomed.fXaxis.fXbins;
  assert.equal(xEdges[0], -0.5);
  assert.equal(xEdges[xEdges.length - 1], 9215.5);
  assert.equal(zoomed.fXaxis.fNbins, 543);
  assert.equal(binOf(zoomed, 16, 300), 1 + 11);
  assert.equal(binOf(zoomed, 9215, 300), 543 + 11);
});

test('the region of a zoom: bins touched, whole axes, nothing when too large', () => {
  const x = axis(512, -0.5, 9215.5), y = axis(128, -0.5, 511.5);
  const bins = [9216, 512];
  assert.deepEqual(regionForZoom(0, bins, x, y, { x1: 4600.5, x2: 4650.5, y1: 300.5, y2: 320.5 }),
                   { stave: 0, firstX: 4602, lastX: 4651, firstY: 302, lastY: 321 });
  assert.deepEqual(regionForZoom(3, bins, x, y, { x1: 0, x2: 0, y1: 100, y2: 110.2 }),
                   { stave: 3, firstX: 1, lastX: 9216, firstY: 101, lastY: 111 });
  assert.equal(regionForZoom(0, bins, x, y, { x1: 0, x2: 0, y1: 0, y2: 0 }), null);
  assert.equal(regionForZoom(0, bins, x, y, { x1: -0.5, x2: 9215.5, y1: -0.5, y2: 511.5 }), null);
  const wide = regionForZoom(0, bins, x, y, { x1: 0, x2: 9000, y1: 0, y2: 300 });
  assert.equal(wide, null, `more than ${MAX_REGION_BINS} bins`);
});

function placeholder(id) {
  return { _typename: 'KivoRef', id };
}

function layout() {
  const pad = { _typename: 'TPad', fName: 'p2d_0', fPrimitives: { _typename: 'TList', arr: [placeholder('com/p2d_0/0'), placeholder('com/p2d_0/1')], opt: ['colz', ''] } };
  return { _typename: 'TCanvas', fName: 'com', fPrimitives: { _typename: 'TList', arr: [pad, placeholder('com/1')], opt: ['', ''] } };
}

test('updates are applied by version and objects put in their places', () => {
  const view = new LiveView();
  assert.equal(view.canvas(), null);
  assert.equal(view.query([]), 'instance=&since=0');
  const overview = overviewOf(() => 0.5);
  const label = { _typename: 'TLatex', fTitle: 'Run 1' };
  assert.equal(view.apply({ instance: 'a', version: 1, reset: true, layout: layout(), hit_maps: [{ id: 'com/p2d_0/0', stave: 0, bins: [9216, 512] }],
                            objects: { 'com/p2d_0/0': overview, 'com/p2d_0/1': { _typename: 'TLatex', fTitle: 'Chip 0' }, 'com/1': label } }), true);
  let canvas = view.canvas();
  const pad = canvas.fPrimitives.arr[0];
  assert.equal(canvas.fPrimitives.arr[1], label);
  assert.equal(pad.fPrimitives.arr[1].fTitle, 'Chip 0');
  assert.notEqual(pad.fPrimitives.arr[0], overview, 'hit maps are drawn from copies');
  assert.equal(pad.fPrimitives.arr[0].fArray, overview.fArray);
  assert.equal(view.apply({ instance: 'a', version: 1, objects: {} }), false, 'nothing new');

  view.apply({ instance: 'a', version: 2, hit_maps: view.hitMaps, objects: { 'com/1': { _typename: 'TLatex', fTitle: 'Run 2' } } });
  assert.equal(view.canvas().fPrimitives.arr[1].fTitle, 'Run 2');
  assert.equal(view.canvas().fPrimitives.arr[0].fPrimitives.arr[1].fTitle, 'Chip 0', 'kept from before');

  const region = { stave: 0, firstX: 4602, lastX: 4651, firstY: 302, lastY: 321 };
  assert.equal(view.query([region]), 'instance=a&since=2&zoom=0:4602:4651:302:321:0');
  view.apply({ instance: 'a', version: 2, hit_maps: view.hitMaps, objects: {},
               regions: [{ stave: 0, x: [4602, 4651], y: [302, 321], version: 7, map: regionOf(pixel, 4602, 4651, 302, 321) }] });
  assert.equal(view.query([region]), 'instance=a&since=2&zoom=0:4602:4651:302:321:7');
  canvas = view.canvas(new Map([[0, region]]));
  assert.equal(canvas.fPrimitives.arr[0].fPrimitives.arr[0].fXaxis.fNbins, 560);
  assert.equal(view.canvas().fPrimitives.arr[0].fPrimitives.arr[0].fXaxis.fNbins, 512, 'unzoomed: the overview');

  view.apply({ instance: 'b', version: 1, reset: true, layout: layout(), objects: {} });
  assert.equal(view.regions.size, 0, 'a restarted kivo starts afresh');
  assert.equal(view.canvas().fPrimitives.arr[1]._typename, 'TLatex', 'a missing object leaves an empty text');
});

test('a zoomed hit map draws with its palette', async () => {
  const overview = overviewOf(pixel);
  overview.fXaxis = { ...overview.fXaxis, fTitle: 'col' };
  const zoomed = composeZoomed(overview, regionOf(pixel, 4602, 4651, 302, 321));
  const svg = await makeSVG({ object: zoomed, option: 'colz', width: 800, height: 200 });
  assert.ok(new Set(svg.match(/fill: ?rgb\([^)]*\)/g)).size >= 10);
});
