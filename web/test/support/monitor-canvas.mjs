// The monitoring canvas as the monitor publishes it, written by kivo-canvas-sample
// (tests/display/canvas_sample.cpp: a short synthetic run, then OM), for tests that
// need the real canvas without running kivo. The program runs once per test file.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { buildProgram } from './processes.mjs';

let sampleText = null;

// The canvas JSON as kivo-canvas-sample writes it: run 1 after 400 events.
export function monitorCanvasText() {
  if (sampleText !== null) return sampleText;
  const dir = mkdtempSync(join(tmpdir(), 'kivo-canvas-'));
  try {
    const out = join(dir, 'canvas.json');
    execFileSync(buildProgram('bin', 'kivo-canvas-sample'), [out], { stdio: ['ignore', 'ignore', 'inherit'] });
    sampleText = readFileSync(out, 'utf8');
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
  return sampleText;
}

// The event label the monitor draws on the canvas.
export function eventLabel(run, events) {
  return `Run ${run}, Number of Events: ${events}`;
}

// The sample canvas, parsed, with its event label saying `run` and `events`, as
// the monitor labels the canvas it publishes then.
export function monitorCanvas({ run, events }) {
  const canvas = JSON.parse(monitorCanvasText());
  const label = canvas.fPrimitives.arr.find((obj) => obj._typename === 'TLatex' && obj.fTitle.startsWith('Run '));
  label.fTitle = eventLabel(run, events);
  return canvas;
}

// The names of the canvas's pads, in the order they are drawn.
export function monitorPadNames() {
  return JSON.parse(monitorCanvasText()).fPrimitives.arr
    .filter((obj) => obj._typename === 'TPad').map((pad) => pad.fName);
}
