// The tracks view of the live page in headless Chromium, against a real kivo
// reading a run whose chip 4 of stave 1 reads its columns in reverse from the
// middle on: the view draws each stave's efficiency map, the chip's
// efficiency stands out in the table, the view fits beside the banner on a
// 1366 x 768 screen, and a click on the chip zooms the canvas's hit map there.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage } from './support/browser.mjs';
import { LineProcess, buildProgram } from './support/processes.mjs';
import { keepScreenshot } from './support/screenshots.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-tracks-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

// A run with stave 1's chip 4 (readout unit 2, channel 5) mirrored from event 3000 on.
function mirroredRun() {
  const run = join(workDir, 'run.kevt');
  execFileSync(buildProgram('bin', 'kivo-sim'), ['--events', '6000', '--seed', '3', '--divergence', '1', '-o', run]);
  const text = execFileSync(buildProgram('bin', 'kivo-dump'), [run], { maxBuffer: 1 << 30 }).toString();
  let event = -1;
  const edited = text.split('\n').map((line) => {
    if (line.startsWith('event')) event += 1;
    const hit = /^hit 2 5 (\d+) (\d+)$/.exec(line);
    return hit && event >= 3000 ? `hit 2 5 ${hit[1]} ${1023 - Number(hit[2])}` : line;
  }).join('\n');
  writeFileSync(join(workDir, 'edited.txt'), edited);
  const packed = join(workDir, 'edited.kevt');
  execFileSync(buildProgram('bin', 'kivo-pack'), [join(workDir, 'edited.txt'), packed]);
  return packed;
}

test('the tracks view shows each stave by the tracks of the others and zooms to a chip', async (t) => {
  const stream = mirroredRun();
  const kivo = new LineProcess(buildProgram('bin', 'kivo'), ['--port', '0', '-e', 'set_refresh(1000)', stream],
                               { stream: 'stderr', env: { HOME: workDir } });
  const url = (await kivo.nextLine(/display at http:/)).match(/http:\/\/\S+/)[0];
  const browser = await openPage(url, { width: 1366, height: 768 });
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;
  await page.waitForFunction(() => window.kivoQuality.overall === 'Bad', null, { timeout: 60000 });
  await page.click('#quality-tabs button[data-view="tracks"]');
  await page.waitForFunction(() => window.kivoQuality.tracksDrawn >= 7, null, { timeout: 60000 });

  const maps = await page.$$('#quality-tracks .tracks-map > svg');
  assert.equal(maps.length, 4, 'one efficiency map per stave');
  const chip = await page.textContent('.tracks-chips tbody tr:nth-child(5) td:nth-child(3)');
  const healthy = await page.textContent('.tracks-chips tbody tr:nth-child(5) td:nth-child(2)');
  assert.ok(parseFloat(chip) < 80, `stave 1, chip 4 reads ${chip}`);
  assert.ok(parseFloat(healthy) > 98, `stave 0, chip 4 reads ${healthy}`);
  assert.match(await page.getAttribute('.tracks-chips tbody tr:nth-child(5) td:nth-child(3)', 'class'), /\bBad\b/);

  // Everything in sight with the banner: nothing scrolls.
  const fits = await page.evaluate(() => {
    const view = document.getElementById('quality-tracks');
    const banner = document.getElementById('banner').getBoundingClientRect();
    return { scrolls: document.scrollingElement.scrollHeight > window.innerHeight,
             clipped: view.scrollHeight > view.clientHeight + 1, bannerTop: banner.top };
  });
  assert.deepEqual(fits, { scrolls: false, clipped: false, bannerTop: fits.bannerTop });
  assert.ok(fits.bannerTop >= 0 && fits.bannerTop < 80);
  await keepScreenshot(page, 'tracks');

  await page.click('[data-span="run"]');
  await page.waitForSelector('[data-span="run"].selected');
  await page.setViewportSize({ width: 1920, height: 1080 });
  await page.waitForTimeout(1500);
  await keepScreenshot(page, 'tracks');

  await page.click('.tracks-chips tbody tr:nth-child(5) td:nth-child(3)');
  await page.waitForFunction(() => window.kivoQuality.view === 'canvas');
  assert.equal(await page.isHidden('#quality-tracks'), true);
  // The hit map of stave 1 zooms to chip 4: columns 4096 to 5119, bins 4097 to 5120.
  await page.waitForFunction(() => window.kivoDisplay.zoomed[1] !== undefined, null, { timeout: 30000 });
  const region = await page.evaluate(() => window.kivoDisplay.zoomed[1]);
  assert.deepEqual([region.firstX, region.lastX], [4097, 5120]);
  assert.deepEqual(browser.pageErrors, []);
  assert.deepEqual(browser.foreignRequests, []);
});
