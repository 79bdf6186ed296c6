// The page's view in its address (its fragment), in headless Chromium against a real kivo
// with an archive: an enlarged and zoomed pad, a tab, an archived run and a
// go-to place are written into the URL as they change; pasted into a new tab
// the URL opens the same view, and back and forward walk through the views.
// The runs list marks a run cut short, gives the reason of each verdict and
// writes times on a 24-hour clock.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage } from './support/browser.mjs';
import { buildProgram } from './support/processes.mjs';
import { allSourcesRead, quitKivo, simulate, startKivo } from './support/kivo.mjs';
import { publish, publishQuality, startFixture } from './support/fixture.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-address-'));
const archive = join(workDir, 'runs');
let kivo, url;

before(async () => {
  mkdirSync(archive);
  // Run 3 ends with its end-of-run event; run 4 is cut short (no end).
  const archived = spawnSync(buildProgram('bin', 'kivo'),
                             ['-b', '-q', '--archive', archive, simulate(workDir, 'r3.kivo', ['-n', '400', '--run', '3', '--end-run']),
                              simulate(workDir, 'r4.kivo', ['-n', '300', '--run', '4'])], { encoding: 'utf8' });
  assert.equal(archived.status, 0, archived.stderr);
  ({ kivo, url } = await startKivo(workDir, ['--archive', archive, simulate(workDir, 'live.kivo', ['-n', '600', '--run', '5'])]));
  await allSourcesRead(kivo);
});

after(async () => {
  if (kivo) await quitKivo(kivo);
  rmSync(workDir, { recursive: true, force: true });
});

const fragment = (link) => new URLSearchParams(new URL(link).hash.slice(1));
const restored = (page) => page.waitForFunction(() => window.kivoAddress?.restored, null, { timeout: 30000 });

// The view as the page shows it: tab, enlarged pad, zoom of each pad, run opened, go-to box.
function shownView(page) {
  return page.evaluate(() => {
    const pads = window.kivoDisplay.padViews;
    const zooms = {};
    for (const [name, painter] of pads.padPainters()) {
      const f = painter.getFramePainter?.();
      if (f && (f.zoom_xmin !== f.zoom_xmax || f.zoom_ymin !== f.zoom_ymax))
        zooms[name] = [f.zoom_xmin, f.zoom_xmax, f.zoom_ymin, f.zoom_ymax].map((v) => Math.round(v));
    }
    const runsOpen = document.getElementById('runs-view')?.hidden === false;
    return { tab: window.kivoQuality.view, enlarged: pads.enlarged(), zooms,
             run: runsOpen ? `${window.kivoRuns.shown?.file}/${window.kivoRuns.shown?.mode}` : null,
             goto: `${document.getElementById('goto-stave').value}:${document.getElementById('goto-place').value}` };
  });
}

// Waits for the address to settle after a change of view, and returns it.
async function settledAddress(page) {
  let last = page.url();
  for (;;) {
    await page.waitForTimeout(900);
    if (page.url() === last) return last;
    last = page.url();
  }
}

async function openedLike(browser, link) {
  const other = await browser.another({ width: 1366, height: 768 });
  await other.goto(link);
  await restored(other);
  await other.waitForTimeout(500);
  return other;
}

test('an enlarged, zoomed pad and a go-to place restore from the address in a new tab', async () => {
  const browser = await openPage(url, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await restored(page);
    await page.fill('#goto-place', '4');
    await page.selectOption('#goto-stave', '1');
    await page.click('#goto button[type="submit"]');
    await page.evaluate(async () => {
      const pads = window.kivoDisplay.padViews;
      await pads.toggleEnlarged('p2d_2');
      await pads.padPainters().get('p2d_2').getFramePainter().zoom(3000, 3500, 100, 300, undefined, undefined, true);
    });
    const link = await settledAddress(page);
    assert.equal(fragment(link).get('pad'), 'p2d_2');
    const wanted = await shownView(page);
    assert.equal(wanted.enlarged, 'p2d_2');
    assert.deepEqual(wanted.zooms.p2d_2, [3000, 3500, 100, 300]);
    const other = await openedLike(browser, link);
    assert.deepEqual(await shownView(other), wanted);
    // The zoomed map asks kivo for its region at full resolution, as a zoom by hand does.
    await other.waitForFunction(() => Object.keys(window.kivoDisplay.zoomed).length > 0, null, { timeout: 10000 });
  } finally {
    await browser.close();
  }
});

test('a tab and an archived run restore, and back and forward walk through the views', async () => {
  const browser = await openPage(url, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await restored(page);
    await page.click('#quality-tabs button[data-view="trends"]');
    const trends = await settledAddress(page);
    assert.equal(fragment(trends).get('view'), 'trends');
    await page.evaluate(() => window.kivoRuns.show('run3.root', 'quality'));
    const run = await settledAddress(page);
    assert.equal(fragment(run).get('run'), 'run3.root');
    assert.equal(fragment(run).get('runview'), 'quality');
    const other = await openedLike(browser, run);
    assert.equal((await shownView(other)).run, 'run3.root/quality');
    assert.equal((await shownView(other)).tab, 'trends');

    await page.goBack();
    await page.waitForFunction(() => document.getElementById('runs-view').hidden, null, { timeout: 10000 });
    assert.equal((await shownView(page)).tab, 'trends');
    await page.goBack();
    await page.waitForFunction(() => window.kivoQuality.view === 'canvas', null, { timeout: 10000 });
    await page.goForward();
    await page.waitForFunction(() => window.kivoQuality.view === 'trends', null, { timeout: 10000 });
  } finally {
    await browser.close();
  }
});

test('the runs list marks the run cut short, gives each verdict\'s reason and a 24-hour time', async () => {
  const listing = await (await fetch(`${url}runs.json`)).json();
  const byRun = new Map(listing.runs.map((entry) => [entry.run, entry]));
  assert.equal(byRun.get(3).cut_short, false);
  assert.equal(byRun.get(4).cut_short, true);
  for (const entry of listing.runs) assert.ok(entry.overall_reason, `run ${entry.run} has the reason of its verdict`);
  const browser = await openPage(url, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await page.waitForSelector('#runs-button:not([hidden])');
    await page.click('#runs-button');
    await page.waitForSelector('#runs-table');
    const rows = await page.$$eval('#runs-table tbody tr', (trs) => trs.map((tr) => ({
      run: tr.dataset.run, text: tr.textContent, reason: tr.querySelector('td.verdict')?.title })));
    const [four, three] = [rows.find((r) => r.run === '4'), rows.find((r) => r.run === '3')];
    assert.match(four.text, /cut short/);
    assert.doesNotMatch(three.text, /cut short/);
    assert.ok(three.reason);
    assert.doesNotMatch(three.text, /\b(AM|PM)\b/);
    assert.match(three.text, /\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/);
    await page.click('#runs-table tr[data-run="3"] button[data-reference]');
    assert.match(await page.$eval('#runs-reference-note', (note) => note.textContent), /reference\("ARCHIVE\/run3\.root"\)/);
  } finally {
    await browser.close();
  }
});

test('a tab chosen before the first canvas is drawn stays chosen when the page starts following its address', async () => {
  const { fixture, url: fixtureUrl } = await startFixture();
  const browser = await openPage(fixtureUrl, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await publishQuality(fixture, workDir, { judged: true, run: 5, event: 400, time: '2026-01-01T12:00:00Z',
                                             overall: 'Good', staves: ['Good', 'Good', 'Good', 'Good'], rows: [] });
    await page.waitForFunction(() => window.kivoQuality.overall === 'Good');
    await page.click('#quality-tabs button[data-view="trends"]');
    await publish(fixture, workDir, 5, 400);
    await restored(page);
    await page.waitForTimeout(900);
    assert.equal(await page.evaluate(() => window.kivoQuality.view), 'trends');
    assert.equal(fragment(page.url()).get('view'), 'trends');
  } finally {
    await browser.close();
    await fixture.stop();
  }
});
