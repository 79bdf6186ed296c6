// The recent hit maps in headless Chromium against a real kivo reading a
// 22,000-event run whose stave 1 lost chip 4 (readout unit 2, channel 5) for
// its last 2,000 events: the chip is empty on the map of the last 1,000
// events and full over the whole run, the pad's control says which is shown,
// and the choice is kept in the address through a reload.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage } from './support/browser.mjs';
import { buildProgram } from './support/processes.mjs';
import { allSourcesRead, quitKivo, startKivo } from './support/kivo.mjs';
import { keepScreenshot } from './support/screenshots.mjs';

const EVENTS = 22000;
const DEAD_FROM = 20000;
const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-recent-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

function runWithDeadChip() {
  const run = join(workDir, 'run.kevt');
  execFileSync(buildProgram('bin', 'kivo-sim'), ['--events', String(EVENTS), '--seed', '5', '-o', run]);
  const text = execFileSync(buildProgram('bin', 'kivo-dump'), [run], { maxBuffer: 1 << 30 }).toString();
  let event = -1;
  const edited = text.split('\n').filter((line) => {
    if (line.startsWith('event')) event += 1;
    return !(event >= DEAD_FROM && line.startsWith('hit 2 5 '));
  }).join('\n');
  writeFileSync(join(workDir, 'edited.txt'), edited);
  const packed = join(workDir, 'edited.kevt');
  execFileSync(buildProgram('bin', 'kivo-pack'), [join(workDir, 'edited.txt'), packed]);
  return packed;
}

// Contents of the drawn map of pad p2d_1 over the blocks of chips 3 and 4
// (the overview's blocks of 18 columns lying wholly inside each chip), the
// hits all its blocks make (each block's mean per pixel and event times its 72
// pixels and the window's 1,000 events) beside the hits kivo counted, and
// what its control says.
function shownChips(page) {
  return page.evaluate(() => {
    const histogram = window.kivoDisplay.padViews.padPainters().get('p2d_1')?.getMainPainter()?.getHisto();
    const label = document.querySelector('.pad-overlay[data-pad="p2d_1"] .recent-toggle')?.textContent ?? null;
    if (!histogram) return { label };
    const nx = histogram.fXaxis.fNbins, ny = histogram.fYaxis.fNbins;
    const sum = (chip) => {
      let total = 0;
      for (let i = Math.ceil(chip * 1024 / 18) + 1; i <= Math.floor((chip + 1) * 1024 / 18); ++i)
        for (let j = 1; j <= ny; ++j) total += histogram.fArray[j * (nx + 2) + i];
      return total;
    };
    let means = 0;
    for (const mean of histogram.fArray) means += mean;
    return { label, nx, chip3: sum(3), chip4: sum(4), hits: means * 72 * 1000, entries: histogram.fEntries };
  });
}

// The texts of each hit-map pad (axis titles, labels) that its recent control
// touches, as "pad: text".
function textsUnderControls(page) {
  return page.evaluate(() => {
    const touched = [];
    for (const control of document.querySelectorAll('.recent-toggle')) {
      const pad = control.closest('.pad-overlay').dataset.pad;
      const c = control.getBoundingClientRect();
      for (const text of document.querySelectorAll(`#drawing svg[pad="${pad}"] text`)) {
        const t = text.getBoundingClientRect();
        if (t.width && t.left <= c.right && t.right >= c.left && t.top <= c.bottom && t.bottom >= c.top)
          touched.push(`${pad}: ${text.textContent}`);
      }
    }
    return touched;
  });
}

async function waitForShown(page, label, chip4Empty) {
  await page.waitForFunction(([wanted, empty]) => {
    const histogram = window.kivoDisplay.padViews.padPainters().get('p2d_1')?.getMainPainter()?.getHisto();
    const shown = document.querySelector('.pad-overlay[data-pad="p2d_1"] .recent-toggle')?.textContent;
    if (!histogram || shown !== wanted) return false;
    const nx = histogram.fXaxis.fNbins;
    let chip4 = 0;
    for (let i = 230; i <= 284; ++i) for (let j = 1; j <= 128; ++j) chip4 += histogram.fArray[j * (nx + 2) + i];
    return empty ? chip4 === 0 : chip4 > 0;
  }, [label, chip4Empty], { timeout: 30000 });
  return shownChips(page);
}

test('a chip dead for the last 2,000 events is empty on the recent map and full over the run', async (t) => {
  const { kivo, url } = await startKivo(workDir, ['-e', 'set_refresh(1000)', runWithDeadChip()]);
  await allSourcesRead(kivo);
  const browser = await openPage(`${url}#recent=p2d_1`, { width: 1366, height: 768 });
  t.after(async () => {
    await browser.close();
    await quitKivo(kivo);
  });
  const { page } = browser;

  const recent = await waitForShown(page, 'last 1,000 events', true);
  assert.equal(recent.nx, 512, 'the recent map comes at the overview resolution');
  assert.ok(recent.chip3 > 0, 'the chip beside it took hits in the window');
  assert.ok(recent.entries > 0);
  assert.ok(Math.abs(recent.hits - recent.entries) < 1e-4 * recent.entries,
            `the blocks' means make the window's ${recent.entries} hits, not ${recent.hits}`);
  const title = await page.getAttribute('.pad-overlay[data-pad="p2d_1"] .recent-toggle', 'title');
  assert.match(title, /events 21,001–22,000/);
  assert.equal(await page.textContent('.pad-overlay[data-pad="p2d_0"] .recent-toggle'), 'whole run');
  await keepScreenshot(page, 'recent-maps');
  assert.deepEqual(await textsUnderControls(page), [], 'at 1366 x 768');
  await page.setViewportSize({ width: 1920, height: 1080 });
  await waitForShown(page, 'last 1,000 events', true);
  await keepScreenshot(page, 'recent-maps');
  assert.deepEqual(await textsUnderControls(page), [], 'at 1920 x 1080');

  await page.click('.pad-overlay[data-pad="p2d_1"] .recent-toggle');
  const whole = await waitForShown(page, 'whole run', false);
  assert.ok(whole.chip4 > 0, 'over the whole run the chip is full');
  await page.waitForFunction(() => !new URLSearchParams(window.location.hash.slice(1)).has('recent'));

  await page.click('.pad-overlay[data-pad="p2d_1"] .recent-toggle');
  await page.waitForFunction(() => new URLSearchParams(window.location.hash.slice(1)).get('recent') === 'p2d_1',
                             null, { timeout: 10000 });
  await page.reload();
  await waitForShown(page, 'last 1,000 events', true);
  assert.deepEqual(browser.pageErrors, []);
  assert.deepEqual(browser.foreignRequests, []);
});
