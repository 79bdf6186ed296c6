// The page tells the truth about kivo in headless Chromium, at 1366 x 768 and
// 1920 x 1080 side by side: a followed run that pauses shows waiting, a rate
// of 0 and a dimmed canvas brought up to the last event; the rate is right
// again two seconds after the pause; the end of the run shows every event and
// "ended"; the go-to box brings a pixel's region; a frozen kivo (SIGSTOP) is
// shown as not answering within seconds.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { appendFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { assertCleanPage, openPage } from './support/browser.mjs';
import { quitKivo, simulate, startKivo } from './support/kivo.mjs';
import { keepScreenshot } from './support/screenshots.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-honest-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

const EVENTS = 20000;
const RATE = 2000;  // events a second while the test feeds them
const STEP_MS = 100;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function header(page) {
  return page.evaluate(() => ({
    state: document.getElementById('state').textContent, events: document.getElementById('events').textContent,
    rate: document.getElementById('rate').textContent, flow: document.body.dataset.flow,
  }));
}

test('waiting, the rate after a pause, the end of the run and a frozen kivo, as the header says them', async (t) => {
  const run = readFileSync(simulate(workDir, 'run.kevt', ['--events', String(EVENTS), '--run', '5', '--seed', '9', '--end-run']));
  const perEvent = run.length / (EVENTS + 2);
  const growing = join(workDir, 'growing.kevt');
  writeFileSync(growing, '');
  const { kivo, url } = await startKivo(workDir, ['-e', 'set_refresh(1000)']);
  const browser = await openPage(url, { width: 1366, height: 768 });
  const pages = [browser.page, await browser.another({ width: 1920, height: 1080 })];
  t.after(async () => {
    if (kivo.child.exitCode === null && kivo.child.signalCode === null) process.kill(kivo.child.pid, 'SIGCONT');
    await browser.close();
    await kivo.stop();
  });
  kivo.send(`follow("${growing}")`);
  kivo.send('start()');

  let written = 0;
  // Appends RATE events a second for `seconds`; returns the events appended and the time it took.
  const feed = async (seconds) => {
    const started = Date.now(), from = written;
    while (Date.now() - started < seconds * 1000) {
      const next = Math.min(run.length, Math.floor(perEvent * (1 + RATE * (Date.now() - started + STEP_MS) / 1000)) +
                                        from);
      appendFileSync(growing, run.subarray(written, next));
      written = next;
      await sleep(STEP_MS);
    }
    return { events: (written - from) / perEvent, seconds: (Date.now() - started) / 1000 };
  };
  await feed(3);
  await Promise.all(pages.map((page) => page.waitForFunction(() => window.kivoDisplay.drawnVersion > 0)));

  // A pause: waiting, no rate, the canvas dimmed and brought up to the last event.
  for (const page of pages) {
    await page.waitForFunction(() => document.getElementById('state').textContent.startsWith('waiting: no event for'),
                               null, { timeout: 15000 });
    await page.waitForFunction(() => /^canvas at ([\d,]+) of \1 events$/.test(document.getElementById('events').textContent),
                               null, { timeout: 10000 });
    const paused = await header(page);
    assert.equal(paused.rate, '0 events/s');
    assert.equal(paused.flow, 'waiting');
    await keepScreenshot(page, 'honest-waiting');
  }

  // Two seconds after the pause (by the time of kivo's last event), the rate
  // is the one the events come at.
  const resumedAt = Date.now();
  const feeding = feed(4);
  const shown = await Promise.all(pages.map(async (page) => {
    const reading = await page.waitForFunction((since) => {
      const activity = window.kivoDisplay.activity;
      return activity?.state === 'live' && activity.last_event - since >= 2000 && activity.rate;
    }, resumedAt, { timeout: 20000, polling: 100 });
    return reading.jsonValue();
  }));
  const resumed = await feeding;
  const truth = resumed.events / resumed.seconds;
  for (const rate of shown)
    assert.ok(Math.abs(rate - truth) <= 0.2 * truth, `${rate} events/s shown, ${truth.toFixed(0)} fed`);
  for (const page of pages) assert.match(await page.textContent('#rate'), /^[\d,]+ events\/s$/);
  const panelRate = await pages[0].textContent('#quality-rate');
  assert.match(panelRate, /^event rate: [\d,]+ events\/s$/, 'one rate in the panel and the header');

  // The rest of the run, and its end: every event on the canvas, "ended".
  appendFileSync(growing, run.subarray(written));
  for (const page of pages) {
    await page.waitForFunction(() => /^run 5 ended \d\d:\d\d$/.test(document.getElementById('state').textContent),
                               null, { timeout: 30000 });
    await page.waitForFunction(() => document.getElementById('events').textContent === 'canvas at 20,000 of 20,000 events',
                               null, { timeout: 10000 });
    await keepScreenshot(page, 'honest-ended');
  }

  // The go-to box zooms to a pixel and kivo sends its region at full resolution.
  const [laptop] = pages;
  await laptop.selectOption('#goto-stave', '1');
  await laptop.fill('#goto-place', '4/100/200');
  await laptop.click('#goto button[type="submit"]');
  await laptop.waitForFunction(() => window.kivoDisplay.zoomed[1], null, { timeout: 15000 });
  const region = await laptop.evaluate(() => window.kivoDisplay.zoomed[1]);
  // Stave-wide column 4196 and displayed row 311 are bins 4197 and 312.
  assert.ok(region.firstX <= 4197 && region.lastX >= 4197 && region.firstY <= 312 && region.lastY >= 312 &&
            region.lastX - region.firstX < 60, JSON.stringify(region));
  await keepScreenshot(laptop, 'honest-goto');

  // kivo frozen: the page says it gets no answer, whatever the reason, and recovers.
  process.kill(kivo.child.pid, 'SIGSTOP');
  for (const page of pages) {
    await page.waitForFunction(() => /^no answer from kivo for \d+ s$/.test(document.getElementById('state').textContent),
                               null, { timeout: 8000 });
    const silent = await header(page);
    assert.equal(silent.flow, 'no-answer');
    assert.equal(silent.rate, '');
    await keepScreenshot(page, 'honest-no-answer');
  }
  process.kill(kivo.child.pid, 'SIGCONT');
  for (const page of pages)
    await page.waitForFunction(() => document.getElementById('state').textContent.startsWith('run 5 ended'), null, { timeout: 15000 });

  assertCleanPage(browser, assert);
  assert.equal(await quitKivo(kivo), 0);
});
