// The page in a control room, in headless Chromium against a real kivo:
// axe-core's WCAG AA contrast check finds nothing in the light and the dark
// theme, live and while kivo does not answer; the theme follows the system
// unless the address chooses; a stopped kivo turns the badge, the tab's
// title and its icon. KIVO_SCREENSHOT_DIR, when set, receives screenshots
// at phone, laptop and desktop sizes in both themes.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage, waitForDrawnVersion } from './support/browser.mjs';
import { allSourcesRead, quitKivo, simulate, startKivo } from './support/kivo.mjs';

const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const workDir = mkdtempSync(join(tmpdir(), 'kivo-control-room-'));
const SIZES = [[390, 844], [1366, 768], [1920, 1080]];
let kivo, url;

before(async () => {
  ({ kivo, url } = await startKivo(workDir, [simulate(workDir, 'run.kivo', ['-n', '800', '--seed', '9'])]));
  await allSourcesRead(kivo);
});

after(async () => {
  if (kivo) {
    kivo.child.kill('SIGCONT');
    await quitKivo(kivo);
  }
  rmSync(workDir, { recursive: true, force: true });
});

// The elements whose text fails WCAG AA contrast, as "selector: message".
async function contrastFailures(page) {
  if (!(await page.evaluate(() => Boolean(window.axe)))) await page.addScriptTag({ content: axeSource });
  const result = await page.evaluate(() => window.axe.run(document, { runOnly: ['color-contrast'] }));
  return result.violations.flatMap((v) => v.nodes.map((node) => `${node.target.join(' ')}: ${node.any[0]?.message}`));
}

async function screenshots(page, name) {
  const directory = process.env.KIVO_SCREENSHOT_DIR;
  if (!directory) return;
  mkdirSync(directory, { recursive: true });
  for (const [width, height] of SIZES) {
    await page.setViewportSize({ width, height });
    await page.waitForTimeout(700);
    await page.screenshot({ path: join(directory, `${name}-${width}x${height}.png`) });
  }
  await page.setViewportSize({ width: 1366, height: 768 });
}

const verdictShown = (page) => page.waitForFunction(() => window.kivoQuality?.overall, null, { timeout: 30000 });

for (const scheme of ['light', 'dark']) {
  test(`no contrast failure in the ${scheme} theme the system asks for`, async () => {
    const browser = await openPage(url, { width: 1366, height: 768 });
    try {
      const { page } = browser;
      await page.emulateMedia({ colorScheme: scheme });
      await waitForDrawnVersion(page, (v) => v > 0);
      await verdictShown(page);
      assert.equal(await page.evaluate(() => document.documentElement.dataset.theme), scheme);
      assert.deepEqual(await contrastFailures(page), []);
      await screenshots(page, `page-${scheme}`);
    } finally {
      await browser.close();
    }
  });
}

test('the switch chooses a theme against the system and keeps it in the address', async () => {
  const browser = await openPage(`${url}#theme=dark`, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await page.emulateMedia({ colorScheme: 'light' });
    assert.equal(await page.evaluate(() => document.documentElement.dataset.theme), 'dark');
    await page.click('#theme-switch');
    assert.equal(await page.evaluate(() => document.documentElement.dataset.theme), 'light');
    const theme = () => new URLSearchParams(new URL(page.url()).hash.slice(1)).get('theme');
    assert.equal(theme(), 'light');
    await page.click('#theme-switch');
    assert.equal(theme(), null);
    const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    const light = await background();
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.waitForFunction(() => document.documentElement.dataset.theme === 'dark', null, { timeout: 5000 });
    assert.notEqual(await background(), light, 'auto follows the system');
  } finally {
    await browser.close();
  }
});

test('a stopped kivo turns the badge, the title and the icon, readably, and they come back', async () => {
  const browser = await openPage(url, { width: 1366, height: 768 });
  try {
    const { page } = browser;
    await waitForDrawnVersion(page, (v) => v > 0);
    await verdictShown(page);
    const before = await page.evaluate(() => ({ title: document.title, badge: document.getElementById('quality-badge').textContent,
                                               icon: document.querySelector('link[rel="icon"]').href }));
    kivo.child.kill('SIGSTOP');
    await page.waitForFunction(() => document.title.startsWith('No answer from kivo'), null, { timeout: 20000 });
    assert.equal(await page.$eval('#quality-badge', (badge) => badge.textContent), 'no answer');
    assert.notEqual(await page.$eval('link[rel="icon"]', (icon) => icon.href), before.icon);
    for (const scheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme: scheme });
      assert.deepEqual(await contrastFailures(page), [], scheme);
      await screenshots(page, `no-answer-${scheme}`);
    }
    kivo.child.kill('SIGCONT');
    await page.waitForFunction((title) => document.title === title, before.title, { timeout: 20000 });
    assert.equal(await page.$eval('#quality-badge', (badge) => badge.textContent), before.badge);
  } finally {
    kivo.child.kill('SIGCONT');
    await browser.close();
  }
});
