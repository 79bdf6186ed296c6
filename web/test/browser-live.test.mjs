// The live page following kivo on a long dense run in headless Chromium: it keeps up
// with the refreshes, tells waiting from live, and zooms a hit map down to pixels.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { appendFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { assertCleanPage, openPage } from './support/browser.mjs';
import { quitKivo, simulate, startKivo } from './support/kivo.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-live-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

const EVENTS = 30000;
const REFRESH = 1000;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Gives the page window.kivoHitMapPad(stave): the painter of pad p2d_<stave>.
async function installPainterLookup(page) {
  await page.evaluate(async () => {
    const { getElementCanvPainter } = await import('jsroot');
    window.kivoHitMapPad = (stave) => {
      let found = null;
      getElementCanvPainter(document.getElementById('drawing')).forEachPainterInPad((p) => {
        if (p.getRootPad?.()?.fName === `p2d_${stave}`) found = p;
      }, 'pads');
      return found;
    };
  });
}

// Zooms hit map `stave` as a drag of the mouse does; resolves with the frame's zoom.
function zoomHitMap(page, stave, x1, x2, y1, y2) {
  return page.evaluate(async ([s, xa, xb, ya, yb]) => {
    const frame = window.kivoHitMapPad(s).getFramePainter();
    await frame.zoom(xa, xb, ya, yb, undefined, undefined, true);
    return [frame.zoom_xmin, frame.zoom_xmax, frame.zoom_ymin, frame.zoom_ymax];
  }, [stave, x1, x2, y1, y2]);
}

// The drawn hit map's bins inside [x1, x2] x [y1, y2]: their corners, sizes and contents.
function drawnBins(page, stave, x1, x2, y1, y2) {
  return page.evaluate(([s, xa, xb, ya, yb]) => {
    const histogram = window.kivoHitMapPad(s).getMainPainter().getHisto();
    const edges = (axis) => (axis.fXbins.length ? Array.from(axis.fXbins)
      : Array.from({ length: axis.fNbins + 1 }, (_, k) => axis.fXmin + k * (axis.fXmax - axis.fXmin) / axis.fNbins));
    const xs = edges(histogram.fXaxis), ys = edges(histogram.fYaxis);
    const bins = [];
    for (let j = 1; j < ys.length; ++j) {
      if (ys[j - 1] < ya || ys[j] > yb) continue;
      for (let i = 1; i < xs.length; ++i) {
        if (xs[i - 1] < xa || xs[i] > xb) continue;
        bins.push({ x: xs[i - 1], y: ys[j - 1], width: xs[i] - xs[i - 1], height: ys[j] - ys[j - 1],
                    content: histogram.fArray[j * (xs.length + 1) + i] });
      }
    }
    return bins;
  }, [stave, x1, x2, y1, y2]);
}

// The overview of hit map `stave` as received: block (bx, by) from 1.
function overviewBlocks(page, stave) {
  return page.evaluate((s) => {
    const display = window.kivoDisplay;
    const map = display.view.hitMaps.find((m) => m.stave === s);
    const overview = display.view.objects.get(map.id);
    return { nx: overview.fXaxis.fNbins, cells: Array.from(overview.fArray) };
  }, stave);
}

function shown(page) {
  return page.evaluate(() => ({
    events: window.kivoDisplay.events, redraws: window.kivoDisplay.redraws,
    state: document.getElementById('state').textContent, kind: document.getElementById('state').className,
  }));
}

test('the page follows a long dense run, tells waiting from live and zooms a hit map to pixels', async (t) => {
  // About 4.5 million noise hits per stave: two thirds of the pixels hit.
  const run = readFileSync(simulate(workDir, 'dense.kevt', ['--events', String(EVENTS), '--noise', '150', '--seed', '5']));
  const perEvent = run.length / (EVENTS + 1);
  const growing = join(workDir, 'growing.kevt');
  const { kivo, url } = await startKivo(workDir, ['-e', `set_refresh(${REFRESH})`]);
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;

  // The first two thirds as fast as they come, in pieces cut anywhere.
  let written = Math.floor(perEvent * 2000);
  writeFileSync(growing, run.subarray(0, written));
  kivo.send(`follow("${growing}")`);
  kivo.send('start()');
  await page.waitForFunction(() => window.kivoDisplay.redraws > 0, null, { timeout: 60000 });
  while (written < perEvent * 20000) {
    const next = Math.floor(written + perEvent * 2500);
    appendFileSync(growing, run.subarray(written, next));
    written = next;
    await sleep(200);
  }
  // Then one refresh interval's worth of events a second: one canvas update a second.
  await page.evaluate(() => { window.kivoDisplay.latencies.length = 0; });
  const last = Math.floor(perEvent * (EVENTS - 1500));
  while (written < last) {
    const next = Math.min(last, Math.floor(written + perEvent * REFRESH));
    appendFileSync(growing, run.subarray(written, next));
    written = next;
    await sleep(1000);
  }
  const latencies = await page.evaluate(() => window.kivoDisplay.latencies);
  const sizes = await page.evaluate(() => performance.getEntriesByType('resource')
    .filter((e) => e.name.includes('update.json') && e.encodedBodySize > 10000).map((e) => e.encodedBodySize));
  console.log(`kivo-bench: page: publish to drawn, median ${median(latencies)} ms over ${latencies.length} updates ` +
              `(max ${Math.max(...latencies)} ms); update bodies as sent: median ${median(sizes)} bytes, max ${Math.max(...sizes)}`);
  assert.ok(latencies.length >= 4, `updates drawn at one a second: ${latencies}`);

  // The file stops growing: waiting, amber, with the last refresh's count on screen.
  await page.waitForFunction(() => document.getElementById('state').textContent.startsWith('waiting: no event for'),
                             null, { timeout: 30000 });
  const waiting = await shown(page);
  assert.equal(waiting.kind, 'waiting');
  const eventsWritten = Math.floor(last / perEvent) - 1;  // less the begin-run event, give or take one cut in two
  assert.ok(eventsWritten - waiting.events <= REFRESH + 1 && waiting.events <= eventsWritten,
            `header shows ${waiting.events} of about ${eventsWritten} events`);
  assert.match(await page.textContent('#rate'), /^\d+ events\/s$/);
  assert.match(await page.textContent('#last-event'), /^last event \d/);

  // It grows again: live.
  appendFileSync(growing, run.subarray(written));
  await page.waitForFunction(() => document.getElementById('state').textContent === 'live', null, { timeout: 30000 });

  // A zoom onto 50 x 20 pixels at the beam shows each pixel.
  await installPainterLookup(page);
  const [x1, x2, y1, y2] = [4580.5, 4630.5, 240.5, 260.5];
  assert.deepEqual(await zoomHitMap(page, 0, x1, x2, y1, y2), [x1, x2, y1, y2]);
  await page.waitForFunction(() => window.kivoDisplay.zoomed[0], null, { timeout: 10000 });
  assert.deepEqual(await page.evaluate(() => window.kivoDisplay.zoomed[0]),
                   { stave: 0, firstX: 4582, lastX: 4631, firstY: 242, lastY: 261 });
  const pixels = await drawnBins(page, 0, x1, x2, y1, y2);
  assert.equal(pixels.length, 50 * 20);
  assert.ok(pixels.every((bin) => bin.width === 1 && bin.height === 1), 'single-pixel bins');
  assert.ok(pixels.filter((bin) => bin.content > 0).length > 500, 'a dense map');
  // Each overview block inside the zoom is the largest of its pixels.
  const overview = await overviewBlocks(page, 0);
  let blocks = 0;
  for (let by = 1; by <= 128; ++by) {
    for (let bx = 1; bx <= overview.nx; ++bx) {
      const [bx1, by1] = [-0.5 + (bx - 1) * 18, -0.5 + (by - 1) * 4];
      if (bx1 < x1 || bx1 + 18 > x2 || by1 < y1 || by1 + 4 > y2) continue;
      const inBlock = pixels.filter((p) => p.x >= bx1 && p.x < bx1 + 18 && p.y >= by1 && p.y < by1 + 4);
      assert.equal(Math.max(...inBlock.map((p) => p.content)), overview.cells[by * (overview.nx + 2) + bx]);
      ++blocks;
    }
  }
  assert.ok(blocks >= 2, `${blocks} whole blocks compared`);

  // The zoom holds through later refreshes; unzoomed, the overview is back.
  const zoomedAt = await page.evaluate(() => window.kivoDisplay.drawnVersion);
  kivo.send('OM()');
  await page.waitForFunction((v) => window.kivoDisplay.drawnVersion > v, zoomedAt, { timeout: 10000 });
  assert.equal((await drawnBins(page, 0, x1, x2, y1, y2)).length, 50 * 20);
  await page.evaluate(async () => { await window.kivoHitMapPad(0).getFramePainter().unzoom(); });
  await page.waitForFunction(() => !window.kivoDisplay.zoomed[0], null, { timeout: 10000 });
  const unzoomed = await page.evaluate(() => window.kivoHitMapPad(0).getMainPainter().getHisto().fXaxis.fNbins);
  assert.equal(unzoomed, 512);

  assertCleanPage(browser, assert);
  assert.equal(await quitKivo(kivo), 0);
});
