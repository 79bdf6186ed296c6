// render.mjs, the snapshot renderer, run as kivo runs it: node render.mjs IN OUT.
// The canvas is the monitor's own, as kivo-canvas-sample writes it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawnSync } from 'node:child_process';
import {
  existsSync, lstatSync, mkdtempSync, readFileSync, readdirSync, rmSync, symlinkSync, writeFileSync,
} from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { promisify } from 'node:util';
import { monitorCanvasText } from './support/monitor-canvas.mjs';

const run = promisify(execFile);
const renderer = new URL('../render.mjs', import.meta.url).pathname;
const dir = mkdtempSync(join(tmpdir(), 'kivo-render-'));
process.on('exit', () => rmSync(dir, { recursive: true, force: true }));

function canvasFile() {
  const path = join(dir, 'canvas.json');
  writeFileSync(path, monitorCanvasText());
  return path;
}

function render(input, output) {
  return run(process.execPath, [renderer, input, output]);
}

async function renderFails(input, output) {
  const error = await render(input, output).then(() => null, (failure) => failure);
  assert.ok(error, `rendering ${output} should fail`);
  assert.equal(error.code, 1);
  const lines = error.stderr.trim().split('\n');
  assert.equal(lines.length, 1, error.stderr);
  return lines[0];
}

const input = canvasFile();

test('SVG at 1600 x 800 with the canvas pads drawn', async () => {
  const out = join(dir, 'canvas.svg');
  await render(input, out);
  const svg = readFileSync(out, 'utf8');
  assert.match(svg, /^<svg[^>]* width="1600" height="800"/);
  assert.ok((svg.match(/<svg/g) ?? []).length >= 10, 'canvas svg plus nine pad svgs');
  assert.match(svg, /<text/);
});

test('PNG at 1600 x 800, replacing the old file without leftovers', async () => {
  const out = join(dir, 'canvas.png');
  writeFileSync(out, 'old');
  // A temporary of the same file whose renderer has ended is removed.
  const ended = spawnSync(process.execPath, ['-e', '']).pid;
  writeFileSync(`${out}.partial-${ended}-AbC123`, 'half an image');
  await render(input, out);
  const png = readFileSync(out);
  assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  assert.equal(png.readUInt32BE(16), 1600);
  assert.equal(png.readUInt32BE(20), 800);
  assert.ok(png.length > 10000, 'text and histograms make a non-trivial image');
  assert.deepEqual(readdirSync(dir).filter((name) => name.endsWith('.tmp') || name.includes('.partial-')), []);
});

test('a symbolic link as output keeps pointing at the file it names', async () => {
  const target = join(dir, 'linked.svg');
  const link = join(dir, 'link.svg');
  writeFileSync(target, 'old');
  symlinkSync(target, link);
  await render(input, link);
  assert.ok(lstatSync(link).isSymbolicLink());
  assert.match(readFileSync(target, 'utf8'), /^<svg/);
});

test('one-line errors and no output for bad requests', async () => {
  assert.match(await renderFails(input, join(dir, 'canvas.jpg')), /canvas\.jpg: the file name must end in \.png or \.svg/);
  assert.match(await renderFails(join(dir, 'absent.json'), join(dir, 'x.svg')), /absent\.json: cannot read/);
  const broken = join(dir, 'broken.json');
  writeFileSync(broken, '{"_typename": "TCanvas", ');
  assert.match(await renderFails(broken, join(dir, 'x.svg')), /broken\.json: not valid ROOT JSON/);
  assert.match(await renderFails(input, join(dir, 'no', 'such', 'x.png')), /cannot write/);
  assert.equal(existsSync(join(dir, 'x.svg')), false);
  assert.match(await renderFails(input, ''), /usage/);
});
