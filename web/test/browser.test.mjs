// The live page in headless Chromium: first against the display fixture (a WebDisplay
// publishing canned canvases on command), then against a real kivo monitoring a
// stream that keeps growing.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { ninePadCanvas, padNames } from './support/nine-pad-canvas.mjs';
import { openPage, drawnPadNames, waitForDrawnVersion } from './support/browser.mjs';
import { LineProcess, buildProgram } from './support/processes.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

async function startFixture() {
  const fixture = new LineProcess(buildProgram('tests', 'webserver', 'kivo-display-fixture'), ['0']);
  const line = await fixture.nextLine(/^address /);
  return { fixture, url: line.slice('address '.length) };
}

async function publish(fixture, run, events) {
  const file = join(workDir, `canvas-${run}-${events}.json`);
  writeFileSync(file, ninePadCanvas({ run, events }));
  fixture.send(`publish ${run} ${events} ${file}`);
  const answer = await fixture.nextLine(/^(published|error) /);
  assert.match(answer, /^published \d+$/);
  return Number(answer.split(' ')[1]);
}

test('the page waits for the first canvas, draws it and follows each publish', async (t) => {
  const { fixture, url } = await startFixture();
  const browser = await openPage(url);
  t.after(async () => {
    await browser.close();
    await fixture.stop();
  });
  const { page } = browser;

  assert.equal(await page.title(), 'KIVO online monitoring');
  await page.waitForFunction(() => document.getElementById('state').textContent === 'waiting for first canvas');
  assert.equal(await page.locator('#drawing svg').count(), 0);

  const first = await publish(fixture, 12, 100);
  await waitForDrawnVersion(page, `(v) => v === ${first}`);
  assert.deepEqual((await drawnPadNames(page)).sort(), [...padNames].sort());
  assert.equal(await page.textContent('#run'), 'Run 12');
  assert.equal(await page.textContent('#events'), '100 events');
  const box = await page.locator('#drawing > svg').first().boundingBox();
  assert.deepEqual([box.width, box.height], [1600, 800]);

  const publishedAt = Date.now();
  const second = await publish(fixture, 12, 2500);
  await waitForDrawnVersion(page, `(v) => v === ${second}`);
  const redrawMs = await page.evaluate(() => window.kivoDisplay.lastRedrawMs);
  console.log(`fixture: redraw seen ${Date.now() - publishedAt} ms after publish (JSROOT redraw ${redrawMs.toFixed(0)} ms)`);
  assert.equal(await page.textContent('#events'), '2500 events');
  assert.match(await page.textContent('#drawing'), /Run 12, 2500 events/);
  assert.equal((await drawnPadNames(page)).length, padNames.length);

  assert.deepEqual(browser.foreignRequests, []);
  assert.deepEqual(browser.pageErrors, []);
});
