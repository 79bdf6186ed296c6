// Renders the monitoring canvas, as OM publishes it, with JSROOT and looks for
// the nine pads and the label texts in the SVG.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parse, makeSVG } from 'jsroot';
import { eventLabel, monitorCanvasText } from './support/monitor-canvas.mjs';

const padNames = ['phitrate', 'pnhit', 'pmean', 'pdiffcol', 'pdiffrow',
                  'p2d_0', 'p2d_1', 'p2d_2', 'p2d_3'];

// Where a pad belongs on the 1600 x 800 canvas, in whole pixels from the top
// left (x, y, width, height), by its place in the canvas (the pad layout is
// checked in the monitor's own display tests).
function padPixels(pad) {
  return [pad.fAbsXlowNDC * 1600, (1 - pad.fAbsYlowNDC - pad.fAbsHNDC) * 800,
          pad.fAbsWNDC * 1600, pad.fAbsHNDC * 800].map(Math.round);
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

const canvas = parse(monitorCanvasText());
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
  const pads = canvas.fPrimitives.arr.filter((obj) => obj._typename === 'TPad');
  assert.deepEqual(padRectangles(svg), pads.map(padPixels));
});

test('JSROOT draws the event label, the pad titles and the stave labels', () => {
  const expected = [eventLabel(1, 400), 'Beam position & profile', 'Col', 'Row',
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
