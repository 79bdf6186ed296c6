// Screenshots of the page kept as test artefacts in the build tree
// (BUILD/web-screenshots/NAME-WIDTHxHEIGHT.png), for a person to look at.
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { buildDir } from './processes.mjs';

export const screenshotDir = join(buildDir, 'web-screenshots');

export async function keepScreenshot(page, name) {
  mkdirSync(screenshotDir, { recursive: true });
  const { width, height } = page.viewportSize();
  const path = join(screenshotDir, `${name}-${width}x${height}.png`);
  await page.screenshot({ path });
  return path;
}

// The page at the sizes screens have (1366 x 768, 1920 x 1080, 2560 x 1440),
// kept as above; the window gets its size back afterwards.
export async function keepScreenshotsAtSizes(page, name) {
  const before = page.viewportSize();
  for (const [width, height] of [[1366, 768], [1920, 1080], [2560, 1440]]) {
    await page.setViewportSize({ width, height });
    await keepScreenshot(page, name);
  }
  await page.setViewportSize(before);
}
