// Live monitoring page: polls update.json, which brings what changed since the
// version on screen, and redraws the canvas in place with JSROOT. Hit maps come
// at screen resolution; a zoomed hit map asks for its region at full
// resolution and shows it until unzoomed. Progress is exposed on
// window.kivoDisplay for tests and for the curious.
import { cleanup, draw, getElementCanvPainter, parse, redraw } from 'jsroot';
import { LiveView, regionForZoom } from './live-view.mjs';
import { mergeToScreenResolution } from './screen-resolution.mjs';

const POLL_INTERVAL_MS = 500;
const ZOOM_CHECK_MS = 200;
const CANVAS_WIDTH = 1600;
const CANVAS_HEIGHT = 800;
const KEPT_LATENCIES = 1000;

const drawing = document.getElementById('drawing');
const runLabel = document.getElementById('run');
const eventsLabel = document.getElementById('events');
const rateLabel = document.getElementById('rate');
const lastEventLabel = document.getElementById('last-event');
const stateLabel = document.getElementById('state');

const view = new LiveView();
const display = {
  drawnInstance: null,  // server instance and version of the canvas on screen
  drawnVersion: 0,
  drawnShape: null,  // shapeOf the canvas on screen
  drawError: null,  // why the last canvas could not be drawn
  run: null,
  events: null,
  activity: null,  // kivo's event rate, last event and state, as last received
  redraws: 0,
  lastRedrawMs: null,  // time from receiving the last update to its redraw finished
  latencies: [],  // ms from kivo's canvas update to the page having drawn it
  zoomed: {},  // stave -> region shown at full resolution
  lastError: null,
  updatedAt: null,  // local time of the last redraw
  updateBytes: 0,  // length of the last update.json body as decoded
  view,  // the objects as received
};
window.kivoDisplay = display;

class ConnectionLost extends Error {}

// fetch() rejects only when the server cannot be reached at all.
async function request(url) {
  try {
    return await fetch(url, { cache: 'no-store' });
  } catch {
    throw new ConnectionLost('disconnected: no answer from kivo, retrying');
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

// Rate, last event and state as kivo reports them; "live" when it reports none.
function showActivity(activity) {
  if (!activity) {
    rateLabel.textContent = lastEventLabel.textContent = '';
    showState('live', 'live');
    return;
  }
  rateLabel.textContent = `${Math.round(activity.rate)} events/s`;
  lastEventLabel.textContent = activity.last_event
    ? `last event ${new Date(activity.last_event).toLocaleTimeString()}` : 'no event yet';
  const states = {
    live: ['live', 'live'],
    waiting: [`waiting: no event for ${Math.round(activity.idle)} s`, 'waiting'],
    finished: ['finished: all sources read', 'finished'],
    idle: ['idle: no source open', 'finished'],
  };
  showState(...(states[activity.state] ?? [activity.state, 'waiting']));
}

// The pads of a canvas and the types of what each holds. JSROOT's redraw updates
// the drawn primitives in place and never adds any, so a canvas of another
// shape (the first redraw of a run is built pad by pad and published on the
// way) is drawn anew.
function shapeOf(object) {
  const items = object?.fPrimitives?.arr ?? [];
  return `${object?._typename}[${items.map(shapeOf).join(',')}]`;
}

// The painters of the hit maps on screen, by stave: their pad's frame (zoom)
// and main painter (histogram drawn).
function hitMapPainters() {
  const found = new Map();
  const canvasPainter = getElementCanvPainter(drawing);
  if (!canvasPainter) return found;
  const padOf = new Map(view.hitMaps.map(({ id, stave }) => [id.slice(0, id.lastIndexOf('/')), stave]));
  canvasPainter.forEachPainterInPad((painter) => {
    const pad = painter.getRootPad?.();
    const path = pad && padPath(painter);
    if (path && padOf.has(path)) found.set(padOf.get(path), painter);
  }, 'pads');
  return found;
}

function padPath(padPainter) {
  const names = [];
  for (let p = padPainter; p; p = p.isTopPad?.() ? null : p.getPadPainter?.()) names.unshift(p.getRootPad?.()?.fName);
  return names.join('/');
}

// The regions the zoomed hit maps show, by stave.
function wantedRegions() {
  const wanted = new Map();
  for (const [stave, padPainter] of hitMapPainters()) {
    const frame = padPainter.getFramePainter();
    const histogram = padPainter.getMainPainter()?.getHisto();
    const map = view.hitMaps.find((m) => m.stave === stave);
    if (!frame || !histogram || !map) continue;
    const zoom = { x1: frame.zoom_xmin ?? 0, x2: frame.zoom_xmax ?? 0, y1: frame.zoom_ymin ?? 0, y2: frame.zoom_ymax ?? 0 };
    const region = regionForZoom(stave, map.bins, histogram.fXaxis, histogram.fYaxis, zoom);
    if (region) wanted.set(stave, region);
  }
  return wanted;
}

// JSROOT's redraw takes the bin counts of a histogram but keeps its old bin
// edges: a hit map switching between overview and zoomed bins gets its new
// edges here first.
function takeBinEdges(canvas) {
  const objects = new Map(view.hitMaps.map(({ id, stave }) => [stave, findPlaced(canvas, id)]));
  for (const [stave, padPainter] of hitMapPainters()) {
    const drawn = padPainter.getMainPainter()?.getHisto();
    const next = objects.get(stave);
    if (!drawn || !next) continue;
    drawn.fXaxis.fXbins = next.fXaxis.fXbins;
    drawn.fYaxis.fXbins = next.fYaxis.fXbins;
  }
}

// The object placed for id `path` ("com/p2d_0/0") in a canvas built by LiveView.
function findPlaced(canvas, path) {
  const names = path.split('/');
  let pad = canvas;
  for (const name of names.slice(1, -1)) pad = pad?.fPrimitives?.arr?.find((item) => item?.fName === name);
  return pad?.fPrimitives?.arr?.[Number(names[names.length - 1])];
}

async function drawCanvas(canvas) {
  mergeToScreenResolution(canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
  const shape = shapeOf(canvas);
  if (shape === display.drawnShape) {
    takeBinEdges(canvas);
    await redraw(drawing, canvas, '');
    return;
  }
  display.drawnShape = null;
  cleanup(drawing);
  await draw(drawing, canvas, '');
  display.drawnShape = shape;
}

async function redrawView(zoomed) {
  const started = performance.now();
  const canvas = view.canvas(zoomed);
  if (!canvas) return;
  try {
    await drawCanvas(canvas);
    display.drawError = null;
  } catch (error) {
    // Not drawn again until the next update; the error stays shown until then.
    display.drawError = String(error?.message ?? error);
    display.drawnShape = null;
    throw error;
  } finally {
    display.drawnInstance = view.instance;
    display.drawnVersion = view.version;
  }
  display.lastRedrawMs = performance.now() - started;
  display.redraws += 1;
  display.updatedAt = new Date().toLocaleTimeString();
  display.zoomed = Object.fromEntries([...zoomed].filter(([stave]) => canvas && isComposed(canvas, stave)));
}

function isComposed(canvas, stave) {
  const map = view.hitMaps.find((m) => m.stave === stave);
  return Boolean(map && findPlaced(canvas, map.id)?.fXaxis?.fXbins?.length);
}

let zoomedOnScreen = new Map();

function sameRegions(a, b) {
  return a.size === b.size && [...a].every(([stave, r]) => JSON.stringify(b.get(stave)) === JSON.stringify(r));
}

async function update() {
  const zoomed = wantedRegions();
  const response = await request(`update.json?${view.query([...zoomed.values()])}`);
  if (!response.ok) throw new Error(`update.json: HTTP ${response.status}`);
  // A body cut off on the way throws here, and the update is asked for again.
  const text = await response.text();
  display.updateBytes = text.length;
  const before = `${view.instance}-${view.version}`;
  const changed = view.apply(parse(text));
  const { run, events, published, activity } = view.status;
  display.activity = activity;
  if (view.version === 0) {
    showState('waiting for first canvas', 'waiting');
    return;
  }
  if (changed || !sameRegions(zoomed, zoomedOnScreen)) {
    zoomedOnScreen = zoomed;
    await redrawView(zoomed);
    if (published && before !== `${view.instance}-${view.version}`) recordLatency(Date.now() - published);
    display.run = run;
    display.events = events;
    showCounts(run, events);
  }
  if (display.drawError) throw new Error(display.drawError);
  showActivity(activity);
}

function recordLatency(ms) {
  display.latencies.push(ms);
  if (display.latencies.length > KEPT_LATENCIES) display.latencies.shift();
}

async function poll() {
  try {
    await update();
    display.lastError = null;
  } catch (error) {
    display.lastError = String(error?.message ?? error);
    showState(error instanceof ConnectionLost ? error.message : `display error: ${display.lastError}`, 'error');
  }
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Waits for the next poll; a zoom or unzoom of a hit map ends the wait early,
// so that its region is fetched at once.
async function waitForNextPoll() {
  for (let waited = 0; waited < POLL_INTERVAL_MS; waited += ZOOM_CHECK_MS) {
    await sleep(ZOOM_CHECK_MS);
    if (display.drawnVersion && !sameRegions(wantedRegions(), zoomedOnScreen)) return;
  }
}

async function run() {
  for (;;) {
    await poll();
    await waitForNextPoll();
  }
}

run();
