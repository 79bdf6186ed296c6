// Live monitoring page: polls status.json and, when the published version changed,
// fetches canvas.json and redraws it in place with JSROOT. Progress is exposed on
// window.kivoDisplay for tests and for the curious.
import { cleanup, draw, parse, redraw } from 'jsroot';
import { mergeToScreenResolution } from './screen-resolution.mjs';

const POLL_INTERVAL_MS = 500;
const CANVAS_WIDTH = 1600;
const CANVAS_HEIGHT = 800;

const drawing = document.getElementById('drawing');
const runLabel = document.getElementById('run');
const eventsLabel = document.getElementById('events');
const stateLabel = document.getElementById('state');

const display = {
  drawnInstance: null,  // server instance and version of the canvas on screen
  drawnVersion: 0,
  drawnShape: null,  // shapeOf the canvas on screen
  drawError: null,  // why the last canvas fetched could not be drawn
  run: null,
  events: null,
  redraws: 0,
  lastRedrawMs: null,  // time from receiving the last canvas to its redraw finished
  lastError: null,
  updatedAt: null,  // local time of the last redraw
};
window.kivoDisplay = display;

class ConnectionLost extends Error {}

// fetch() rejects only when the server cannot be reached at all.
async function request(url, cache) {
  try {
    return await fetch(url, { cache });
  } catch {
    throw new ConnectionLost('connection to kivo lost, retrying');
  }
}

function showState(text, kind) {
  stateLabel.textContent = text;
  stateLabel.className = kind;
}

function showCounts(run, events) {
  runLabel.textContent = `Run ${run}`;
  eventsLabel.textContent = `${events} events`;
}

// Canvas ETags are "<server instance>-<version>": a restarted kivo counts versions from
// 1 again, so the instance tells its canvases from those of the previous one.
function parseEtag(etag) {
  const match = /^"?(.*)-(\d+)"?$/.exec(etag ?? '');
  return match ? { instance: match[1], version: Number(match[2]) } : { instance: '', version: NaN };
}

async function fetchStatus() {
  const response = await request('status.json', 'no-store');
  if (!response.ok) throw new Error(`status.json: HTTP ${response.status}`);
  return { ...(await response.json()), instance: response.headers.get('X-KIVO-Instance') };
}

// The pads of a canvas and the types of what each holds. JSROOT's redraw updates
// the drawn primitives in place and never adds any, so a canvas of another
// shape (the first redraw of a run is built pad by pad and published on the
// way) is drawn anew.
function shapeOf(object) {
  const items = object?.fPrimitives?.arr ?? [];
  return `${object?._typename}[${items.map(shapeOf).join(',')}]`;
}

async function drawCanvas(canvas) {
  const shape = shapeOf(canvas);
  if (shape === display.drawnShape) {
    await redraw(drawing, canvas, '');
    return;
  }
  display.drawnShape = null;
  cleanup(drawing);
  await draw(drawing, canvas, '');
  display.drawnShape = shape;
}

async function drawLatestCanvas() {
  const response = await request('canvas.json', 'no-cache');
  if (response.status === 404) return;
  if (!response.ok) throw new Error(`canvas.json: HTTP ${response.status}`);
  const { instance, version } = parseEtag(response.headers.get('ETag'));
  const run = response.headers.get('X-KIVO-Run');
  const events = response.headers.get('X-KIVO-Events');
  // A body cut off on the way throws here, and the canvas is fetched again.
  const text = await response.text();
  const started = performance.now();
  try {
    const canvas = parse(text);
    mergeToScreenResolution(canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
    await drawCanvas(canvas);
    display.drawError = null;
  } catch (error) {
    // Not fetched again until the next publish; the error stays shown until then.
    display.drawError = String(error?.message ?? error);
    display.drawnShape = null;
    throw error;
  } finally {
    display.drawnInstance = instance;
    display.drawnVersion = version;
  }
  display.lastRedrawMs = performance.now() - started;
  display.redraws += 1;
  display.updatedAt = new Date().toLocaleTimeString();
  display.run = Number(run);
  display.events = Number(events);
  showCounts(run, events);
}

async function poll() {
  try {
    const status = await fetchStatus();
    if (status.version === 0) {
      showState('waiting for first canvas', 'waiting');
    } else {
      if (status.version !== display.drawnVersion || status.instance !== display.drawnInstance)
        await drawLatestCanvas();
      if (display.drawError) throw new Error(display.drawError);
      showState(`live, last update ${display.updatedAt}`, 'live');
    }
    display.lastError = null;
  } catch (error) {
    display.lastError = String(error?.message ?? error);
    showState(error instanceof ConnectionLost ? error.message : `display error: ${display.lastError}`, 'error');
  }
  setTimeout(poll, POLL_INTERVAL_MS);
}

poll();
