// The display fixture (tests/webserver/display_fixture.cpp): a WebDisplay
// without the monitor, publishing canned canvases, quality views and
// activity states on command, for page tests that need no running monitor.
import assert from 'node:assert/strict';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { parse } from 'jsroot';
import { mergeBinsByMaximum } from '../../page/screen-resolution.mjs';
import { monitorCanvas } from './monitor-canvas.mjs';
import { LineProcess, buildProgram } from './processes.mjs';

// kivo sends each hit map as blocks of 18 x 4 pixels, the largest of each.
const BLOCK = [18, 4];

let written = 0;

export async function startFixture(port = 0) {
  const fixture = new LineProcess(buildProgram('tests', 'webserver', 'kivo-display-fixture'), [String(port)]);
  const line = await fixture.nextLine(/^address /);
  return { fixture, url: line.slice('address '.length) };
}

// Sends one command; resolves with the fixture's answer, failing on an error.
export async function fixtureCommand(fixture, line) {
  fixture.send(line);
  const answer = await fixture.nextLine(/^(published|done|error)\b/);
  assert.doesNotMatch(answer, /^error/, line);
  return answer;
}

// Publishes `text` as the canvas of `run` after `events`; returns its version.
export async function publishText(fixture, workDir, run, events, text) {
  const file = join(workDir, `canvas-${++written}.json`);
  writeFileSync(file, text);
  const answer = await fixtureCommand(fixture, `publish ${run} ${events} ${file}`);
  assert.match(answer, /^published \d+$/);
  return Number(answer.split(' ')[1]);
}

// The sample canvas labelled `run` and `events`, its hit maps at the
// resolution kivo sends them, parsed as the page receives it.
export function overviewCanvas(run, events) {
  const canvas = parse(monitorCanvas({ run, events }));
  for (const pad of canvas.fPrimitives.arr)
    for (const object of pad.fPrimitives?.arr ?? [])
      if (object._typename === 'TH2F') mergeBinsByMaximum(object, ...BLOCK);
  return canvas;
}

const plainArrays = (key, value) => (ArrayBuffer.isView(value) ? Array.from(value) : value);

// Publishes the sample canvas of overviewCanvas(), changed by `edit` first.
export function publish(fixture, workDir, run, events, edit = () => {}) {
  const canvas = overviewCanvas(run, events);
  edit(canvas);
  return publishText(fixture, workDir, run, events, JSON.stringify(canvas, plainArrays));
}

// Publishes `view` as the data-quality view (/quality.json's "view").
export function publishQuality(fixture, workDir, view) {
  const file = join(workDir, `quality-${++written}.json`);
  writeFileSync(file, JSON.stringify(view));
  return fixtureCommand(fixture, `quality ${file}`);
}
