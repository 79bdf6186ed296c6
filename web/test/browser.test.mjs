// The live page in headless Chromium: first against the display fixture (a WebDisplay
// publishing canned canvases on command), then against a real kivo that monitors a
// simulated run and then follows a stream that keeps growing.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { appendFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { eventLabel, monitorCanvas, monitorPadNames } from './support/monitor-canvas.mjs';
import { assertCleanPage, openPage, drawnPadNames, waitForDrawnVersion } from './support/browser.mjs';
import { publish as publishFixture, publishText as publishFixtureText, startFixture } from './support/fixture.mjs';
import { quitKivo, simulate as simulateRun, startKivo as startKivoOn } from './support/kivo.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-'));
const padNames = monitorPadNames();
after(() => rmSync(workDir, { recursive: true, force: true }));

const publishText = (fixture, run, events, text) => publishFixtureText(fixture, workDir, run, events, text);
const publish = (fixture, run, events) => publishFixture(fixture, workDir, run, events);

// A display fixture and a page open on it, both closed when test `t` ends.
async function openFixturePage(t) {
  const { fixture, url } = await startFixture();
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await fixture.stop();
  });
  return { fixture, browser, page: browser.page };
}

test('the page waits for the first canvas, draws it and follows each publish', async (t) => {
  const { fixture, browser, page } = await openFixturePage(t);

  assert.equal(await page.title(), 'KIVO online monitoring');
  await page.waitForFunction(() => document.getElementById('state').textContent === 'waiting for first canvas');
  assert.equal(await page.locator('#drawing svg').count(), 0);

  const first = await publish(fixture, 12, 100);
  await waitForDrawnVersion(page, `(v) => v === ${first}`);
  assert.deepEqual((await drawnPadNames(page)).sort(), [...padNames].sort());
  assert.equal(await page.textContent('#run'), 'Run 12');
  assert.equal(await page.textContent('#events'), '100 events');
  // The canvas keeps its 2:1 shape, scaled to the space beside the panel.
  const box = await page.locator('#drawing > svg').first().boundingBox();
  assert.equal(box.width, 2 * box.height);
  const viewport = page.viewportSize();
  assert.ok(box.x + box.width <= viewport.width && box.y + box.height <= viewport.height, JSON.stringify(box));

  const publishedAt = Date.now();
  const second = await publish(fixture, 12, 2500);
  await waitForDrawnVersion(page, `(v) => v === ${second}`);
  const redrawMs = await page.evaluate(() => window.kivoDisplay.lastRedrawMs);
  console.log(`fixture: redraw seen ${Date.now() - publishedAt} ms after publish (JSROOT redraw ${redrawMs.toFixed(0)} ms)`);
  assert.equal(await page.textContent('#events'), '2,500 events');
  assert.ok((await page.textContent('#drawing')).includes(eventLabel(12, 2500)), 'the new canvas is drawn');
  assert.equal((await drawnPadNames(page)).length, padNames.length);

  assertCleanPage(browser, assert);

  await fixture.stop();
  await page.waitForFunction(() => /^no answer from kivo for \d+ s$/.test(document.getElementById('state').textContent));
  assert.equal((await drawnPadNames(page)).length, padNames.length, 'the last canvas stays on screen');
});

test('a restarted server is followed even though its versions count from 1 again', async (t) => {
  const first = await startFixture();
  const browser = await openPage(first.url);
  let second = null;
  t.after(async () => {
    await browser.close();
    await first.fixture.stop();
    await second?.fixture.stop();
  });
  const { page } = browser;
  assert.equal(await publish(first.fixture, 20, 5), 1);
  await page.waitForFunction(() => window.kivoDisplay.run === 20);

  await first.fixture.stop();
  second = await startFixture(new URL(first.url).port);
  assert.equal(await publish(second.fixture, 21, 5), 1);
  await page.waitForFunction(() => window.kivoDisplay.run === 21);
  assert.equal(await page.textContent('#run'), 'Run 21');
});

// Drawn elements inside the pad `name`: none for a pad with no primitives.
function drawnInPad(page, name) {
  return page.$$eval(`#drawing svg[pad="${name}"] .main_layer *`, (elements) => elements.length);
}

test('a canvas of another shape is drawn anew, and a failed draw stays reported', async (t) => {
  const { fixture, page } = await openFixturePage(t);

  // As the first redraw of a run publishes it on the way: hit-map pads still empty.
  const partial = monitorCanvas({ run: 3, events: 0 });
  for (const pad of partial.fPrimitives.arr)
    if (pad.fName?.startsWith('p2d_')) pad.fPrimitives = { ...pad.fPrimitives, arr: [], opt: [] };
  await publishText(fixture, 3, 0, JSON.stringify(partial));
  await waitForDrawnVersion(page, '(v) => v === 1');
  assert.equal(await drawnInPad(page, 'p2d_0'), 0);
  await publish(fixture, 3, 10);
  await waitForDrawnVersion(page, '(v) => v === 2');
  assert.ok(await drawnInPad(page, 'p2d_0') > 0, 'the hit map appears once its canvas has it');

  await publishText(fixture, 3, 20,
                    '{"_typename":"TCanvas","fPrimitives":{"_typename":"TList","arr":[{"_typename":"TPad"}]}}');
  await waitForDrawnVersion(page, '(v) => v === 3');
  await page.waitForFunction(() => document.getElementById('state').textContent.startsWith('display error'));
  await page.waitForTimeout(1500);  // three polls: the error is not replaced by "live"
  assert.match(await page.textContent('#state'), /^display error/);
  await publish(fixture, 3, 30);
  await waitForDrawnVersion(page, '(v) => v === 4');
  await page.waitForFunction(() => document.getElementById('state').textContent.startsWith('live'));
  assert.equal(await page.textContent('#events'), '30 events');
});

function startKivo(streams) {
  // The monitor redraws only on begin-run events unless a refresh interval is set.
  return startKivoOn(workDir, ['-e', 'set_refresh(200)', ...streams]);
}

function simulate(run, events) {
  return simulateRun(workDir, `run${run}.kevt`,
                     ['--events', String(events), '--run', String(run), '--seed', String(run)]);
}

function shownCounts(page) {
  return page.evaluate(() => ({ run: window.kivoDisplay.run, events: window.kivoDisplay.events }));
}

test('kivo shows the monitoring canvas live and follows a growing stream', async (t) => {
  const firstRun = simulate(7, 1500);
  const secondRun = readFileSync(simulate(8, 1200));
  const growing = join(workDir, 'growing.kevt');
  const { kivo, url } = await startKivo([firstRun]);
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;

  assert.equal(await page.title(), 'KIVO online monitoring');
  // The file read to its end, the canvas is brought up to its last event.
  await page.waitForFunction(() => document.getElementById('events').textContent === 'canvas at 1,500 of 1,500 events',
                             null, { timeout: 60000 });
  assert.equal(await page.textContent('#state'), 'finished: all sources read');
  const pads = await drawnPadNames(page);
  assert.equal(pads.length, 9, `nine pads drawn, got ${pads}`);
  assert.deepEqual(await shownCounts(page), { run: 7, events: 1500 });

  // The second run arrives in two parts, split inside a record.
  const split = Math.floor(secondRun.length * 0.4);
  writeFileSync(growing, secondRun.subarray(0, split));
  const fedAt = Date.now();
  kivo.send(`follow("${growing}")`);
  kivo.send('start()');
  await page.waitForFunction(() => window.kivoDisplay.run === 8 && window.kivoDisplay.events > 0,
                             null, { timeout: 60000 });
  const redrawMs = await page.evaluate(() => window.kivoDisplay.lastRedrawMs);
  console.log(`kivo: new run shown ${Date.now() - fedAt} ms after feeding it (page redraw ${redrawMs.toFixed(0)} ms)`);
  assert.equal(await page.textContent('#run'), 'Run 8');
  const partCounts = await shownCounts(page);

  appendFileSync(growing, secondRun.subarray(split));
  await page.waitForFunction((before) => window.kivoDisplay.events > before, partCounts.events, { timeout: 60000 });
  assert.equal((await shownCounts(page)).run, 8);
  assert.equal((await drawnPadNames(page)).length, 9);

  assertCleanPage(browser, assert);
  assert.equal(await quitKivo(kivo), 0);
});
