// Renders the monitoring canvas, as OM publishes it, with JSROOT and looks for
// the nine pads and the label texts in the SVG.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { parse, makeSVG } from 'jsroot';

const buildDir = resolve(process.env.KIVO_BUILD_DIR ?? '../build');
const sample = join(buildDir, 'bin', 'kivo-canvas-sample');

const padNames = ['phitrate', 'pnhit', 'pmean', 'pdiffcol', 'pdiffrow',
                  'p2d_0', 'p2d_1', 'p2d_2', 'p2d_3'];

// The pads' rectangles on the 1600 x 800 canvas, in pixels from the top left:
// x, y, width, height.
const padPixels = [
  [0, 80, 464, 360], [464, 80, 336, 240], [0, 440, 464, 360],
  [464, 320, 336, 240], [464, 560, 336, 240],
  [800, 80, 800, 176], [800, 256, 800, 176], [800, 432, 800, 176], [800, 608, 800, 176],
];

function publishedCanvas() {
  const dir = mkdtempSync(join(tmpdir(), 'kivo-canvas-'));
  try {
    const out = join(dir, 'canvas.json');
    execFileSync(sample, [out], { stdio: ['ignore', 'ignore', 'inherit'] });
    return readFileSync(out, 'utf8');
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// Text content of the SVG with markup removed and entities decoded, so a label
// split into several tspans still reads as one string.
function svgTexts(svg) {
  const texts = [];
  for (const match of svg.matchAll(/<text[^>]*>([\s\S]*?)<\/text>/g)) {
    texts.push(match[1].replace(/<[^>]+>/g, '')
      .replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"')
      .replace(/&#39;/g, "'").replace(/&amp;/g, '&'));
  }
  return texts;
}

const json = publishedCanvas();
const canvas = parse(json);
const svg = await makeSVG({ object: canvas, option: '', width: 1600, height: 800 });
const texts = svgTexts(svg);

test('the published canvas is the monitoring canvas with its nine pads', () => {
  assert.equal(canvas._typename, 'TCanvas');
  assert.equal(canvas.fTitle, 'KIVO online monitoring');
  const pads = canvas.fPrimitives.arr.filter((obj) => obj._typename === 'TPad');
  assert.deepEqual(pads.map((pad) => pad.fName), padNames);
});

// JSROOT draws each sub-pad as a nested <svg> placed at its rectangle.
function padRectangles(svgText) {
  const rectangles = [];
  for (const match of svgText.matchAll(/<svg viewBox="[^"]*" preserveAspectRatio="none" x="([\d.]+)" y="([\d.]+)" width="([\d.]+)" height="([\d.]+)"/g))
    rectangles.push(match.slice(1).map((value) => Math.round(Number(value))));
  return rectangles;
}

test('JSROOT draws the nine pads at their places', () => {
  assert.deepEqual(padRectangles(svg), padPixels);
});

test('JSROOT draws the event label, the pad titles and the stave labels', () => {
  const expected = ['Run 1, Number of Events: 400', 'Beam position & profile', 'Col', 'Row',
                    'Chip 0', 'Chip 1', 'Chip 2', 'Chip 3'];
  for (const text of expected) assert.ok(texts.includes(text), `"${text}" not drawn`);
  for (let i = 0; i < 4; i++)
    assert.ok(texts.some((t) => t.startsWith(`chip ${i} = `) && /\d\.\d\d$/.test(t)),
              `mean label of stave ${i} not drawn`);
  for (let i = 0; i < 3; i++)
    assert.ok(texts.some((t) => new RegExp(`^chip ${i} = [+-]\\d+$`).test(t)),
              `peak label of stave ${i} not drawn`);
});

test('each hit map is drawn on its own axes with a colour palette', () => {
  // The palette carries the map's z-axis title.
  assert.equal(texts.filter((t) => t === 'hits').length, 4);
});

test('no statistics box is drawn', () => {
  assert.ok(!texts.some((t) => /^(Entries|Mean|Std Dev)/.test(t)), 'a statistics box was drawn');
});
