// The browser view /browse/ in headless Chromium: JSROOT's own GUI, served
// from the installed package, reads kivo's hierarchy and draws the items its
// address names in the layout it names; the search box narrows the list; the
// main page links to it. KIVO_SCREENSHOT_DIR, when set, receives screenshots.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { assertCleanPage, openPage } from './support/browser.mjs';
import { allSourcesRead, quitKivo, simulate, startKivo } from './support/kivo.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browse-'));
let kivo, url;

before(async () => {
  ({ kivo, url } = await startKivo(workDir, [simulate(workDir, 'run.kivo', ['-n', '600', '--seed', '5'])]));
  await allSourcesRead(kivo);
});

after(async () => {
  if (kivo) await quitKivo(kivo);
  rmSync(workDir, { recursive: true, force: true });
});

async function screenshot(page, name) {
  const directory = process.env.KIVO_SCREENSHOT_DIR;
  if (!directory) return;
  mkdirSync(directory, { recursive: true });
  await page.screenshot({ path: join(directory, `${name}.png`) });
}

// The names of the objects JSROOT has drawn in the view (not the frames it makes for graphs).
function drawnObjects(page) {
  return page.evaluate(() => {
    const names = [];
    window.kivoBrowse?.painter?.getDisplay?.()?.forEachPainter((painter) => {
      const object = painter.getObject?.();
      const kept = object?._typename?.startsWith('TH') || object?._typename?.startsWith('TGraph');
      if (kept && !names.includes(object.fName) && !object.fName.endsWith('_h')) names.push(object.fName);
    });
    return { names };
  });
}

test('an address with item= and layout=grid2x2 draws the hit map in a grid of JSROOT', async () => {
  const browser = await openPage(`${url}browse/?item=h2d_chip_0&layout=grid2x2`, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await page.waitForFunction(() => window.kivoBrowse?.ready, null, { timeout: 10000 });
    await page.waitForFunction(() => document.querySelector('svg.jsroot .main_layer image, svg.jsroot .main_layer path'),
                               null, { timeout: 10000 });
    const drawn = await drawnObjects(page);
    assert.deepEqual(drawn.names, ['h2d_chip_0']);
    assert.equal(await page.$$eval('.jsroot_browser_hierarchy a.h_item', (items) => items.length > 20), true);
    assert.equal(await page.$eval('.gui_layout', (select) => select.value), 'grid 2x2');
    await screenshot(page, 'browse-grid2x2-1366x768');

    const all = await page.evaluate(() => window.kivoBrowse.shown);
    await page.fill('#browse-search', 'chip_norm');
    const narrowed = await page.evaluate(() => window.kivoBrowse.shown);
    assert.ok(narrowed > 0 && narrowed < all, `${narrowed} of ${all} shown`);
    await page.waitForFunction(() => ![...document.querySelectorAll('.jsroot_browser_hierarchy a.h_item')]
      .some((a) => a.textContent === 'h2d_chip_2'), null, { timeout: 5000 });
    const listed = await page.$$eval('.jsroot_browser_hierarchy a.h_item', (links) => links.map((a) => a.textContent));
    assert.ok(listed.includes('h2d_chip_norm_2') && !listed.includes('h2d_chip_2'), listed.join(' '));
    assertCleanPage(browser, assert);
  } finally {
    await browser.close();
  }
});

test('several items and their options in the address, and the page\'s link to the view', async () => {
  const browser = await openPage(`${url}browse/?items=[hnhit_chip_0,gmpos_chip_1,h2d_chip_2]&opts=[hist,ap,col]&layout=grid1x3`,
                                 { width: 1920, height: 1080 });
  try {
    const { page } = browser;
    await page.waitForFunction(() => window.kivoBrowse?.ready, null, { timeout: 10000 });
    await page.waitForFunction(() => document.querySelectorAll('svg.jsroot .main_layer').length >= 3, null, { timeout: 10000 });
    assert.deepEqual((await drawnObjects(page)).names.sort(), ['gmpos_chip_1', 'h2d_chip_2', 'hnhit_chip_0']);
    await screenshot(page, 'browse-grid1x3-1920x1080');
    await page.goto(url);
    assert.equal(await page.$eval('#browse-link', (link) => new URL(link.href).pathname), '/browse/');
  } finally {
    await browser.close();
  }
});
