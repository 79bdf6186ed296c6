// The data-quality panel of the live page in headless Chromium, against a real
// kivo following a stream: a healthy run shows Good, a run with a dead chip
// appended to the stream turns the panel and the page title Bad naming the
// chip, and the trends and reference views draw.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { appendFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage, drawnPadNames } from './support/browser.mjs';
import { LineProcess, buildProgram } from './support/processes.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-quality-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

// A realistic run: little noise, a few hot pixels that fire in 5% of the events.
function simulate(run, ...fault) {
  const file = join(workDir, `run${run}.kevt`);
  execFileSync(buildProgram('bin', 'kivo-sim'),
               ['--events', '3000', '--run', String(run), '--seed', String(run), '--particles', '2',
                '--noise', '0.1', '--hot-probability', '0.05', '--beam-sigma-row', '80', ...fault, '-o', file]);
  return file;
}

function shownRows(page) {
  return page.evaluate(() => window.kivoQuality.rows);
}

test('the quality panel turns from Good to Bad when a faulty run follows, and the trends draw', async (t) => {
  const healthy = readFileSync(simulate(1));
  const faulty = readFileSync(simulate(2, '--dead-chip', '2:5'));
  const growing = join(workDir, 'growing.kevt');
  writeFileSync(growing, healthy);
  const kivo = new LineProcess(buildProgram('bin', 'kivo'), ['--port', '0', '-e', 'set_refresh(500)'],
                               { stream: 'stderr', env: { HOME: workDir } });
  const url = (await kivo.nextLine(/display at http:/)).match(/http:\/\/\S+/)[0];
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;
  kivo.send(`follow("${growing}")`);

  await page.waitForFunction(() => window.kivoQuality.overall === 'Good', null, { timeout: 60000 });
  assert.equal(await page.textContent('#quality-badge'), 'Good');
  assert.equal(await page.title(), 'KIVO online monitoring');
  assert.match(await page.textContent('#quality-rate'), /^event rate: [\d,]+ events\/s$/);
  const goodRows = await shownRows(page);
  assert.ok(goodRows.some((row) => row.check === 'hit_rate' && row.stave === 2 && row.verdict === 'Good'));
  assert.ok(goodRows.some((row) => row.check === 'occupancy' && row.stave === 2 && row.verdict !== 'Bad'));

  appendFileSync(growing, faulty);
  await page.waitForFunction(() => window.kivoQuality.overall === 'Bad', null, { timeout: 60000 });
  // The chip is dead to the hit counts and to the tracks of the other staves
  // alike; the two checks may reach Bad a refresh apart.
  await page.waitForFunction(() => document.title === 'Bad (2): KIVO online monitoring', null, { timeout: 60000 });
  assert.equal(await page.textContent('#quality-badge'), 'Bad');
  assert.match(await page.getAttribute('#quality-badge', 'class'), /\bBad\b.*\balarm\b/);
  const bad = (await shownRows(page)).filter((row) => row.verdict === 'Bad');
  assert.deepEqual(bad.map(({ check, stave, chip }) => ({ check, stave, chip }))
                     .sort((a, b) => a.check.localeCompare(b.check)),
                   [{ check: 'efficiency', stave: 2, chip: 5 }, { check: 'occupancy', stave: 2, chip: 5 }]);
  const occupancy = bad.find((row) => row.check === 'occupancy');
  assert.match(occupancy.reason, /^stave 2, chip 5: no hit in the \d+ events since the start of the run/);
  assert.match(await page.textContent('#quality-rows .verdict-Bad'), /stave 2, chip 5/);

  await page.click('#quality-tabs button[data-view="trends"]');
  await page.waitForFunction(() => window.kivoQuality.trendsDrawn >= 7, null, { timeout: 30000 });
  assert.equal(await page.isVisible('#quality-trends'), true);
  assert.ok(await page.locator('#quality-trends svg').count() >= 7);
  assert.equal((await drawnPadNames(page)).length, 9, 'the canvas stays drawn underneath');

  await page.click('#quality-tabs button[data-view="reference"]');
  await page.waitForFunction(() => document.querySelector('#quality-reference')?.textContent.includes('No reference run loaded'));
  const reference = join(workDir, 'reference.json');
  kivo.send('stop()');
  kivo.send(`save("${reference}")`);
  kivo.send(`reference("${reference}")`);
  await kivo.nextLine(/reference run .* loaded/);
  await page.waitForFunction(() => window.kivoQuality.referenceDrawn === 10, null, { timeout: 30000 });

  await page.click('#quality-tabs button[data-view="canvas"]');
  assert.equal(await page.isVisible('#quality-trends'), false);
  assert.equal(await page.isVisible('#quality-reference'), false);
  assert.deepEqual(browser.foreignRequests, []);
  assert.deepEqual(browser.failedResponses, []);
  assert.deepEqual(browser.pageErrors, []);
  kivo.send('.q');
  assert.equal((await kivo.exited).code, 0);
});
