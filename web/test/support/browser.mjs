// Headless Chromium through playwright-core, with a fresh profile that is removed
// again on close. Requests that leave the page's own server and failed responses are
// recorded, so tests can check that nothing is fetched from outside or missing.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM = '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
              '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// The page at `url` in a window of `viewport`; `another(viewport)` opens it
// again beside, in a window of another size, recorded alike. `options` go to
// the browser's context (httpCredentials: the user that answers --auth).
export async function openPage(url, viewport = { width: 1700, height: 1000 }, options = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'kivo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: true, args: ARGS, viewport, ...options,
  });
  const origin = new URL(url).origin;
  const foreignRequests = [];
  const pageErrors = [];
  // canvas.json answers 404 until the first publish; any other failure is a missing file.
  const failedResponses = [];
  const watch = (page) => {
    page.on('request', (request) => {
      if (!request.url().startsWith(origin) && !request.url().startsWith('data:'))
        foreignRequests.push(request.url());
    });
    page.on('pageerror', (error) => pageErrors.push(String(error)));
    page.on('response', (response) => {
      if (response.status() >= 400 && !response.url().endsWith('/canvas.json'))
        failedResponses.push(`${response.status()} ${response.url()}`);
    });
    return page;
  };
  const page = watch(context.pages()[0] ?? await context.newPage());
  await page.goto(url);
  return {
    page, foreignRequests, pageErrors, failedResponses,
    async another(size) {
      const other = watch(await context.newPage());
      await other.setViewportSize(size);
      await other.goto(url);
      return other;
    },
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Names of the pads JSROOT drew inside the drawing area.
export function drawnPadNames(page) {
  return page.$$eval('#drawing svg[pad]', (pads) => pads.map((pad) => pad.getAttribute('pad')));
}

export function waitForDrawnVersion(page, predicate, timeout = 30000) {
  return page.waitForFunction(`(${predicate})(window.kivoDisplay?.drawnVersion ?? 0)`, null, { timeout });
}

// Nothing was fetched from outside, no response failed and the page threw nothing.
export function assertCleanPage(browser, assert) {
  assert.deepEqual(browser.foreignRequests, []);
  assert.deepEqual(browser.failedResponses, []);
  assert.deepEqual(browser.pageErrors, []);
}
