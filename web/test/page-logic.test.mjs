// The live page's decisions, checked in Node without a browser: what the
// header says in each state of kivo, where a hit-map bin lies on the chips,
// how the quality rows are ordered and gridded, which rows signal a new Bad,
// the z range and overflow notes of the pads and the raised text sizes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:http';
import { Connection, HttpError, NoAnswer, NO_ANSWER_AFTER_MS } from '../page/connection.mjs';
import { describeHeader } from '../page/header.mjs';
import { autoZRange, overflowNote, padKind, parseZRange } from '../page/pad-views.mjs';
import { binOf, binTooltip, parsePlace, placeOfRow } from '../page/pixels.mjs';
import { newlyBad, orderedRows, rowKey, verdictGrid, worstRow } from '../page/quality-rows.mjs';
import { raiseTextSizes, smallestText } from '../page/readable-text.mjs';

const activity = (fields) => ({ state: 'live', events: 10, rate: 2999.6, last_event: Date.UTC(2026, 0, 1, 12, 0, 5),
                                idle: 0.2, monitor_events: 21890, ended: null, ...fields });
const canvas = { run: 7, events: 21000 };

test('the header says how data arrive, how far the canvas is behind and when kivo does not answer', () => {
  const live = describeHeader({ activity: activity(), canvas });
  assert.deepEqual([live.flow, live.state, live.kind, live.events, live.rate], ['live', 'live', 'live', '21,000 events', '3,000 events/s']);

  const waiting = describeHeader({ activity: activity({ state: 'waiting', idle: 12.4, rate: 0 }), canvas });
  assert.deepEqual([waiting.flow, waiting.state, waiting.events, waiting.rate],
                   ['waiting', 'waiting: no event for 12 s', 'canvas at 21,000 of 21,890 events', '0 events/s']);

  const ended = describeHeader({ activity: activity({ state: 'finished', ended: { run: 7, at: Date.now() } }),
                                 canvas: { run: 7, events: 21890 } });
  assert.equal(ended.flow, 'ended');
  assert.match(ended.state, /^run 7 ended \d\d:\d\d$/);
  assert.equal(ended.events, 'canvas at 21,890 of 21,890 events');

  assert.equal(describeHeader({ activity: activity({ state: 'finished' }), canvas }).state, 'finished: all sources read');
  assert.equal(describeHeader({ activity: activity({ state: 'idle' }), canvas }).state, 'idle: no source open');
  assert.equal(describeHeader({ activity: activity(), canvas: null }).state, 'waiting for first canvas');

  const silent = describeHeader({ activity: activity(), canvas, silentSeconds: 4 });
  assert.deepEqual([silent.flow, silent.kind, silent.state, silent.rate],
                   ['no-answer', 'error', 'no answer from kivo for 4 s', '']);
  assert.equal(describeHeader({ activity: activity(), canvas, drawError: 'bad pad' }).state, 'display error: bad pad');
});

test('a request that gets no answer in time fails, and the silence is counted from the last answer', async (t) => {
  const server = createServer((request, response) => {
    if (request.url === '/missing') response.writeHead(404).end('not found');
    else if (request.url === '/ok') response.end('fine');
    // /frozen: never answered, as by a kivo stopped with SIGSTOP
  });
  await new Promise((listening) => server.listen(0, '127.0.0.1', listening));
  t.after(() => server.close());
  const base = `http://127.0.0.1:${server.address().port}`;
  const connection = new Connection(1000);
  assert.equal(connection.silentSeconds(1000 + NO_ANSWER_AFTER_MS - 1), null, 'not yet');
  assert.equal(connection.silentSeconds(1000 + 7500), 7);
  assert.equal(await connection.text(`${base}/ok`, 1000), 'fine');
  assert.equal(connection.silentSeconds(), null);
  await assert.rejects(connection.text(`${base}/missing`, 1000), HttpError);
  assert.equal(connection.silentSeconds(), null, 'an error answer is an answer');
  await assert.rejects(connection.text(`${base}/frozen`, 200), NoAnswer);
  assert.equal(connection.silentSeconds(), 1, 'no answer: shown at once, at least 1 s');
  server.closeAllConnections?.();
});

// A hit map as kivo sends it: 512 x 128 blocks of 18 x 4 pixels.
function overview() {
  return { fXaxis: { fNbins: 512, fXmin: -0.5, fXmax: 9215.5, fXbins: [] },
           fYaxis: { fNbins: 128, fXmin: -0.5, fYmax: 511.5, fXmax: 511.5, fXbins: [] } };
}

test('a hit-map tooltip names the chip, its column and row, the raw hits and the hits per event', () => {
  // Block 256 along x holds stave-wide columns 4590-4607: chip 4, columns 494-511.
  const block = binTooltip(1, overview(), 255, 0, 0.0006, 20000);
  assert.deepEqual(block, ['stave 1, chip 4', 'chip column 494–511, chip row 508–511',
                           'most in one of these 72 pixels: 12 hits, 6.00e-4 per event', 'zoom in for single pixels']);
  // A block across the edge of two chips.
  assert.equal(binTooltip(0, overview(), 56, 0, 0, 100)[0], 'stave 0, chips 0–1');
  // A single pixel of a zoomed region (variable bins): stave-wide column 5220, displayed row 311.
  const zoomed = { fXaxis: { fXbins: [5219.5, 5220.5] }, fYaxis: { fXbins: [310.5, 311.5] } };
  assert.deepEqual(binTooltip(2, zoomed, 0, 0, 0.25, 400),
                   ['stave 2, chip 5', 'chip column 100, chip row 200', '100 hits, 0.250 per event']);
  assert.equal(binTooltip(2, zoomed, 0, 0, 0.25, 0)[2], 'hits not counted yet, 0.250 per event');
  // The bin under a point of the axes, uniform or of variable width.
  assert.deepEqual([4599.7, -0.5, 9215.4, 9215.5, -1].map((x) => binOf(overview().fXaxis, x)), [255, 0, 511, null, null]);
  const edges = { fXbins: [-0.5, 17.5, 18.5, 19.5, 9215.5] };
  assert.deepEqual([0, 17.5, 18, 19.6, 9215.5].map((x) => binOf(edges, x)), [0, 1, 1, 3, null]);
});

test('the go-to box and the quality rows name places on a hit map', () => {
  assert.deepEqual(parsePlace(' 4 ').rectangle, { x1: 4095.5, x2: 5119.5, y1: -0.5, y2: 511.5 });
  const pixel = parsePlace('5/100/200');
  assert.deepEqual([pixel.column, pixel.row], [5220, 311]);
  assert.ok(pixel.rectangle.x1 < 5220 && pixel.rectangle.x2 > 5220 && pixel.rectangle.y1 < 311 && pixel.rectangle.y2 > 311);
  assert.ok(pixel.rectangle.x2 - pixel.rectangle.x1 <= 60, 'narrow enough for single pixels');
  assert.deepEqual(parsePlace('0/0/0').rectangle.x1, -0.5, 'kept inside the map at its edge');
  for (const bad of ['', '9', '4/1024/0', '4/0/512', '4/5', 'chip four'])
    assert.ok(parsePlace(bad).problem, `'${bad}' refused`);

  const hot = { check: 'hot_pixels', stave: 3, chip: null, verdict: 'Good',
                reason: 'stave 3: 2 hot pixels; the hottest, column 4601 row 250, fired in 5% of the events' };
  const place = placeOfRow(hot);
  assert.equal(place.stave, 3);
  assert.ok(place.rectangle.x1 < 4601 && place.rectangle.x2 > 4601);
  assert.deepEqual(placeOfRow({ check: 'dead_chip', stave: 2, chip: 5, verdict: 'Bad', reason: '' }),
                   { stave: 2, rectangle: { x1: 5119.5, x2: 6143.5, y1: -0.5, y2: 511.5 } });
  assert.equal(placeOfRow({ check: 'dead_chip', stave: 2, chip: 5, verdict: 'Good', reason: '' }), null);
  assert.equal(placeOfRow({ check: 'missing_packet', stave: null, chip: null, verdict: 'Bad', reason: 'column 3 row 4' }), null);
});

const row = (check, stave, verdict, extra = {}) => ({ check, stave, chip: null, verdict, reason: `${check} ${stave}`,
                                                      since: 'run 1, event 0, 12:00:00', more: 0, ...extra });

test('quality rows go Bad first, then Medium, and a grid keeps the worst verdict of each check and stave', () => {
  const rows = [row('dead_chip', 0, 'Good'), row('hit_rate', 1, 'Medium'), row('dead_chip', 2, 'Bad', { chip: 5 }),
                row('noise_region', 1, 'NotJudging', { region: { x: [1, 2] } }), row('noise_region', 1, 'Bad'),
                row('missing_packet', null, 'Null')];
  assert.deepEqual(orderedRows(rows).map((r) => `${r.check}/${r.stave}/${r.verdict}`),
                   ['dead_chip/2/Bad', 'noise_region/1/Bad', 'hit_rate/1/Medium', 'dead_chip/0/Good',
                    'noise_region/1/NotJudging', 'missing_packet/null/Null']);
  const grid = verdictGrid(rows);
  assert.deepEqual(grid.checks, ['dead_chip', 'hit_rate', 'noise_region', 'missing_packet']);
  assert.deepEqual(grid.columns, ['all', 0, 1, 2]);
  assert.equal(grid.cells.get('noise_region|1').verdict, 'Bad');
  assert.equal(grid.cells.get('noise_region|1').rows.length, 2);
  assert.equal(grid.cells.get('missing_packet|all').verdict, 'Null');
  assert.equal(worstRow(rows).check, 'dead_chip');
  assert.equal(worstRow([row('a', 0, 'Good')]), null);
});

test('each row turning Bad is new once, also while others are Bad already', () => {
  const first = [row('dead_chip', 2, 'Bad', { chip: 5 }), row('hit_rate', 1, 'Good')];
  const known = new Set();
  assert.deepEqual(newlyBad(first, known).map(rowKey), ['dead_chip|2|5']);
  for (const r of first.filter((r) => r.verdict === 'Bad')) known.add(rowKey(r));
  assert.deepEqual(newlyBad(first, known), [], 'still Bad: not new');
  const second = [...first.slice(0, 1), row('hit_rate', 1, 'Bad')];
  assert.deepEqual(newlyBad(second, known).map(rowKey), ['hit_rate|1|null']);
  assert.deepEqual(newlyBad([row('dead_chip', 2, 'Bad', { chip: 6 })], known).map(rowKey), ['dead_chip|2|6'],
                   'another chip is another fault');
});

function hitMapPad(contents, minimum = 1e-6, maximum = 1) {
  const nx = 3, ny = 2;
  const fArray = new Float32Array((nx + 2) * (ny + 2));
  contents.forEach(([i, j, value]) => { fArray[j * (nx + 2) + i] = value; });
  fArray[0] = 50;  // underflow: never shown, never counted
  return { fName: 'p2d_0', fLogz: 1, fPrimitives: { arr: [{ _typename: 'TH2F', fXaxis: { fNbins: nx }, fYaxis: { fNbins: ny },
                                                           fArray, fMinimum: minimum, fMaximum: maximum }] } };
}

test('a hit map gets the range of its values, and values above a fixed range are noted', () => {
  const pad = hitMapPad([[1, 1, 2e-5], [3, 2, 0.03], [2, 1, 0]]);
  assert.equal(padKind(pad), 'hit-map');
  const [monitors] = pad.fPrimitives.arr;
  autoZRange(pad);
  const [map] = pad.fPrimitives.arr;
  assert.ok(map.fMinimum < Math.fround(2e-5) && map.fMinimum > 0.99 * 2e-5, `minimum ${map.fMinimum}`);
  assert.ok(map.fMaximum > Math.fround(0.03) && map.fMaximum < 1.01 * 0.03, `maximum ${map.fMaximum}`);
  assert.deepEqual([monitors.fMinimum, monitors.fMaximum], [1e-6, 1], 'the map as received is left as it is');
  const empty = hitMapPad([]);
  autoZRange(empty);
  assert.deepEqual([empty.fPrimitives.arr[0].fMinimum, empty.fPrimitives.arr[0].fMaximum], [1e-6, 1]);
  assert.equal(overflowNote(hitMapPad([[1, 1, 1.5], [2, 2, 3]])), '▲ 2 values above 1, the largest 3');
  assert.deepEqual(parseZRange(' 1e-5, 0.01 '), [1e-5, 0.01]);
  for (const bad of ['', '0.1', '0.1 0.01', '1 x', null]) assert.equal(parseZRange(bad), null, String(bad));

  const frame = { _typename: 'TH1F', fXaxis: { fNbins: 4 }, fArray: [0, 0, 0, 0, 0, 0], fMaximum: 100, fMinimum: 1e-5 };
  const rates = { _typename: 'TH1D', fXaxis: { fNbins: 4 }, fArray: [0, 12, 4521, 130, 0, 999], fMaximum: -1111 };
  const ratePad = { fLogy: 1, fPrimitives: { arr: [frame, rates] } };
  assert.equal(padKind(ratePad), 'log-y');
  assert.equal(overflowNote(ratePad), '▲ 2 values above 100, the largest 4521');
  assert.equal(overflowNote({ fPrimitives: { arr: [frame] } }), null);
});

test('axis labels and pad titles are raised to a readable size, the monitor\'s sizes kept beside', () => {
  const axis = () => ({ fLabelSize: 0.035, fTitleSize: 0.035 });
  const map = { _typename: 'TH2F', fXaxis: axis(), fYaxis: axis(), fZaxis: axis() };
  const title = { _typename: 'TLatex', fTextSize: 0.05, fTextAlign: 22 };
  const number = { _typename: 'TLatex', fTextSize: 0.05, fTextAlign: 11 };
  const pad = { _typename: 'TPad', fName: 'p2d_0', fAbsWNDC: 0.5, fAbsHNDC: 0.22, fPrimitives: { arr: [map, title, number] } };
  const canvas = { _typename: 'TCanvas', fPrimitives: { arr: [pad] } };
  assert.equal(smallestText(750), 10);
  assert.equal(smallestText(300), 8);
  assert.equal(smallestText(2000), 14);
  raiseTextSizes(canvas, 1500, 750);
  const side = 0.22 * 750;
  assert.ok(Math.abs(map.fXaxis.fLabelSize * side - 10) < 1e-9 && Math.abs(map.fZaxis.fTitleSize * side - 10) < 1e-9);
  assert.ok(Math.abs(title.fTextSize * side - 10) < 1e-9, 'centred title raised');
  assert.equal(number.fTextSize, 0.05, 'numbers placed to fit keep the monitor\'s size');
  raiseTextSizes(canvas, 6000, 3000, { minPx: 10 });
  assert.equal(map.fXaxis.fLabelSize, 0.035, 'a large canvas gets the monitor\'s size back');
  raiseTextSizes(canvas, 1500, 750, { enlarged: 'p2d_0' });
  assert.equal(map.fXaxis.fLabelSize, 0.035, 'enlarged over the whole canvas: large enough');
});
