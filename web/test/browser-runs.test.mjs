// Archived runs in the live page, in headless Chromium against a real kivo
// with an archive: the list shows the runs archived there, opening one draws
// its hit maps in the canvas's pads with its own labels, its final verdicts
// and an overlay on the current run; the server refuses a path outside the
// archive. KIVO_SCREENSHOT_DIR, when set, receives screenshots at three sizes.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage } from './support/browser.mjs';
import { LineProcess, buildProgram } from './support/processes.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-runs-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

function simulate(run, ...args) {
  const file = join(workDir, `run${run}.kevt`);
  execFileSync(buildProgram('bin', 'kivo-sim'), ['--events', '300', '--run', String(run), '--seed', String(run),
                                                 ...args, '-o', file]);
  return file;
}

async function screenshots(page, name) {
  const directory = process.env.KIVO_SCREENSHOT_DIR;
  if (!directory) return;
  mkdirSync(directory, { recursive: true });
  for (const [width, height] of [[1366, 768], [1920, 1080], [2560, 1440]]) {
    await page.setViewportSize({ width, height });
    await page.screenshot({ path: join(directory, `${name}-${width}x${height}.png`) });
  }
  await page.setViewportSize({ width: 1700, height: 1000 });
}

// The pads JSROOT drew for the archived run, and the hit map of stave 0 there.
function drawnArchive(page) {
  return page.evaluate(async () => {
    const { getElementCanvPainter } = await import('jsroot');
    const painter = getElementCanvPainter(document.getElementById('runs-canvas'));
    const pads = [...document.querySelectorAll('#runs-canvas svg[pad]')].map((pad) => pad.getAttribute('pad'));
    let map = null;
    painter?.forEachPainterInPad((p) => {
      const histogram = p.getHisto?.();
      if (histogram?.fName === 'h2d_chip_norm_0')
        map = { bins: histogram.fXaxis.fNbins, filled: histogram.fArray.filter((content) => content > 0).length };
    });
    return { pads, map, text: document.getElementById('runs-canvas').textContent };
  });
}

test('the runs list shows the archive, a run opens in the canvas, its verdicts and an overlay', async (t) => {
  const archive = join(workDir, 'runs');
  mkdirSync(archive);
  const archived = spawnSync(buildProgram('bin', 'kivo'),
                             ['-b', '-q', '--archive', archive, simulate(3, '--beam-col', '2000', '--end-run'),
                              simulate(4, '--beam-col', '7000', '--end-run')], { encoding: 'utf8' });
  assert.equal(archived.status, 0, archived.stderr);
  writeFileSync(join(archive, 'notes.txt'), 'not a run');
  writeFileSync(join(workDir, 'secret.root'), 'outside the archive');

  const kivo = new LineProcess(buildProgram('bin', 'kivo'), ['--port', '0', '--archive', archive, '-e', 'set_refresh(100)',
                                                             simulate(5, '--events', '2000')],
                               { stream: 'stderr', env: { HOME: workDir } });
  const url = (await kivo.nextLine(/display at http:/)).match(/http:\/\/\S+/)[0];
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;
  await page.waitForFunction(() => window.kivoDisplay?.drawnVersion > 0 && window.kivoRuns?.list.length === 2,
                             null, { timeout: 60000 });
  assert.equal(await page.textContent('#runs-button'), 'Runs (2)');
  await page.click('#runs-button');
  const rows = await page.$$eval('#runs-table tbody tr', (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
  assert.deepEqual(rows.map((cells) => [cells[0], cells[1], cells[4]]), [['4', 'run4.root', '300'], ['3', 'run3.root', '300']]);
  assert.ok(rows.every((cells) => ['Good', 'Medium', 'Bad', 'Null: not judged'].includes(cells[5])), JSON.stringify(rows));
  await screenshots(page, 'runs-list');

  await page.click('#runs-table button[data-file="run3.root"][data-mode="canvas"]');
  await page.waitForFunction(() => window.kivoRuns.shown?.drawn, null, { timeout: 60000 });
  const drawn = await drawnArchive(page);
  assert.equal(drawn.pads.length, 9, `the canvas's nine pads: ${drawn.pads}`);
  assert.ok(drawn.map?.filled > 100, `run 3's hit map of stave 0 drawn: ${JSON.stringify(drawn.map)}`);
  assert.match(drawn.text, /Run 3, Number of Events: 300/);
  assert.equal(await page.isVisible('#runs-canvas'), true);
  await screenshots(page, 'runs-canvas');

  await page.click('#runs-bar button[data-action="quality"]');
  await page.waitForFunction(() => window.kivoRuns.shown?.mode === 'quality' && window.kivoRuns.shown.drawn);
  assert.ok((await page.evaluate(() => window.kivoRuns.shown.items)) >= 20, 'a row per check and stave');
  // 300 events are too few for the checks: the run was not judged, and says why.
  assert.match(await page.textContent('#runs-badge'), /^Run 3: Null: not judged \(300 data events, the checks need \d+\)$/);
  await screenshots(page, 'runs-quality');

  await page.click('#runs-bar button[data-action="overlay"]');
  await page.waitForFunction(() => window.kivoRuns.shown?.mode === 'overlay' && window.kivoRuns.shown.drawn, null,
                             { timeout: 60000 });
  assert.equal(await page.evaluate(() => window.kivoRuns.shown.items), 10);
  await screenshots(page, 'runs-overlay');

  await page.click('#runs-bar button[data-action="live"]');
  assert.equal(await page.isVisible('#runs-view'), false);

  const answers = await page.evaluate(async () => {
    const status = async (path, init) => (await fetch(path, init)).status;
    return {
      outside: await status('/archive/..%2Fsecret.root'),
      dots: await status('/archive/../secret.root'),
      other: await status('/archive/notes.txt'),
      range: await (await fetch('/archive/run3.root', { headers: { Range: 'bytes=0-3' } })).text(),
    };
  });
  assert.deepEqual(answers, { outside: 404, dots: 404, other: 404, range: 'root' });
  assert.deepEqual(browser.foreignRequests, []);
  assert.deepEqual(browser.pageErrors, []);
  assert.deepEqual(browser.failedResponses.filter((line) => !/(secret\.root|notes\.txt)$/.test(line)), []);
});
