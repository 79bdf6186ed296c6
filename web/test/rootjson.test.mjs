// ROOT JSON written by rootcompat, read and drawn by JSROOT: every class the
// monitor uses, and a canvas of several pads.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { parse, makeSVG } from 'jsroot';
import { RecentMaps } from '../page/recent-maps.mjs';

const buildDir = resolve(process.env.KIVO_BUILD_DIR ?? '../build');
const sampleProgram = join(buildDir, 'bin', 'rootcompat-json-sample');

function writeSamples() {
  const dir = mkdtempSync(join(tmpdir(), 'kivo-rootjson-'));
  try {
    execFileSync(sampleProgram, [dir], { stdio: ['ignore', 'ignore', 'inherit'] });
    const names = ['TH1F', 'TH1D', 'TH2F', 'TH2F_dense', 'TH2F_counts', 'TGraphAsymmErrors', 'TF1', 'TLatex', 'TCanvas', 'TList'];
    return Object.fromEntries(names.map((n) => [n, readFileSync(join(dir, `${n}.json`), 'utf8')]));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// Texts of the SVG, tspans joined, entities decoded.
function svgTexts(svg) {
  return [...svg.matchAll(/<text[^>]*>([\s\S]*?)<\/text>/g)].map((m) => m[1]
    .replace(/<[^>]+>/g, '').replace(/&lt;/g, '<').replace(/&gt;/g, '>')
    .replace(/&quot;/g, '"').replace(/&#39;/g, "'").replace(/&amp;/g, '&'));
}

const samples = writeSamples();
const render = (obj, width = 800, height = 600) => makeSVG({ object: obj, option: '', width, height });

test('every sample parses to its class', () => {
  for (const [name, text] of Object.entries(samples)) {
    assert.equal(parse(text)._typename, name.replace(/_\w+$/, ''), name);
  }
});

test('compressed contents decode to typed arrays of all cells', () => {
  const h1 = parse(samples.TH1F);
  assert.ok(h1.fArray instanceof Float32Array);
  assert.deepEqual(Array.from(h1.fArray), [0, 10, 20, 30, 40, 0]);
  assert.equal(h1.fSumw2.length, 6);
  assert.ok(Math.abs(h1.fSumw2[3] - 30) < 1e-9);
  const h1d = parse(samples.TH1D);
  assert.ok(h1d.fArray instanceof Float64Array);
  assert.equal(h1d.fArray[4], 2);
  const h2 = parse(samples.TH2F);
  assert.equal(h2.fArray.length, h2.fNcells);
  assert.equal(h2.fNcells, 66 * 34);
  const cell = 32 + 66 * 17;  // x = 31, y = 16 of the sample map
  assert.ok(Math.abs(h2.fArray[cell] - 0.5 * Math.exp(-(0.01 + 0.025))) < 1e-6);
});

test('dense contents travel as base64 and decode to the same cells', () => {
  assert.match(samples.TH2F_dense, /"fArray":\{"\$arr":"Float32","len":5304,"b":"/);
  const h2 = parse(samples.TH2F_dense);
  assert.equal(h2.fArray.length, 102 * 52);
  for (const [x, y] of [[1, 1], [37, 20], [100, 50]]) {
    const expected = Math.fround(((x * 7 + y * 13) % 50) / 1000 + 0.001);
    assert.equal(h2.fArray[x + 102 * y], expected, `cell ${x},${y}`);
  }
  assert.equal(h2.fArray[0], 0);
  assert.equal(h2.fArray[101 + 102 * 51], 0);
});

test('whole counts travel as the narrowest integer array, and a recent map divides them in floats', () => {
  assert.match(samples.TH2F_counts, /"fArray":\{"\$arr":"Uint16","len":2244,"b":"/);
  const counts = parse(samples.TH2F_counts);
  assert.ok(counts.fArray instanceof Uint16Array);
  const count = (x, y) => ((x * 7 + y * 13) % 300) + 1;
  for (let x = 1; x <= 64; ++x)
    for (let y = 1; y <= 32; ++y) assert.equal(counts.fArray[x + 66 * y], count(x, y), `cell ${x},${y}`);
  assert.equal(counts.fArray[0], 0);

  const recent = new RecentMaps();
  recent.apply({ recent_window: { events: 1000, version: 2, first: 1001, last: 2000 },
                 recent: [{ stave: 1, version: 2, map: counts }] }, false);
  const map = recent.current(1);
  assert.ok(map.fArray instanceof Float32Array, 'means are not truncated to integers');
  for (const [x, y] of [[1, 1], [20, 7], [64, 32]])
    assert.equal(map.fArray[x + 66 * y], Math.fround(count(x, y) / (18 * 4 * 1000)), `mean of ${x},${y}`);
});

test('histograms render with their axis titles and no stats box', async () => {
  const texts = svgTexts(await render(parse(samples.TH1F)));
  assert.ok(texts.includes('chip index'), texts.join('|'));
  assert.ok(texts.includes('N pixels'));
  assert.ok(!texts.some((t) => t.startsWith('Entries')), 'stats box drawn');
  const mapTexts = svgTexts(await render(parse(samples.TH2F)));
  assert.ok(mapTexts.includes('col') && mapTexts.includes('row'), mapTexts.join('|'));
});

test('graph, function and text render', async () => {
  const graph = parse(samples.TGraphAsymmErrors);
  assert.equal(graph.fNpoints, 1);
  assert.deepEqual(Array.from(graph.fEXlow), [0.1]);
  assert.match(await render(graph), /<path/);
  assert.match(await render(parse(samples.TF1)), /<path/);
  const texts = svgTexts(await render(parse(samples.TLatex)));
  assert.ok(texts.includes('Run 42, Number of Events: 1000'), texts.join('|'));
});

test('a list carries its objects', () => {
  const list = parse(samples.TList);
  assert.deepEqual(list.arr.map((o) => o._typename), ['TH1F', 'TH2F', 'TGraphAsymmErrors']);
  assert.equal(list.opt.length, 3);
});

test('the canvas renders both pads with their contents and labels', async () => {
  const canvas = parse(samples.TCanvas);
  assert.equal(canvas.fCw, 1600);
  const pads = canvas.fPrimitives.arr.filter((o) => o._typename === 'TPad');
  assert.deepEqual(pads.map((p) => p.fName), ['prate_sample', 'pmap_sample']);
  assert.equal(pads[0].fLogy, 1);
  assert.equal(pads[1].fLogz, 1);
  assert.equal(pads[1].fPrimitives.opt[0].includes('same'), false, 'same dropped on an empty pad');

  const svg = await render(canvas, 1600, 800);
  const padSvgs = [...svg.matchAll(/<svg viewBox="0 0 (\d+) (\d+)" preserveAspectRatio="none" x="(\d+)" y="(\d+)"/g)];
  assert.deepEqual(padSvgs.map((m) => [m[3], m[4]]), [['0', '80'], ['800', '80']]);
  const texts = svgTexts(svg);
  for (const expected of ['Run 42, Number of Events: 1000', 'Rates', 'Chip 0', 'chip index', 'col', 'row', 'hits']) {
    assert.ok(texts.includes(expected), `${expected} missing from ${texts.join('|')}`);
  }
});
