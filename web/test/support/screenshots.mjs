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
