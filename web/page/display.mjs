// Live monitoring page: polls update.json, which brings what changed since the
// version on screen, and redraws the canvas in place with JSROOT, scaled to
// the space the window leaves it. Hit maps come at screen resolution; a
// zoomed hit map asks for its region at full resolution and shows it until
// unzoomed. A hit map may show the hits of the recent window instead of the
// whole run (recent-maps.mjs), asked for only while shown. Every request has
// a time limit, and the header says so when kivo does not answer. Pause
// holds the canvas still while kivo goes on. Progress is exposed on
// window.kivoDisplay for tests and for the curious.
import { cleanup, constants, draw, getElementCanvPainter, parse, redraw, resize, settings } from 'jsroot';
import { Connection, NoAnswer } from './connection.mjs';
import { describeHeader } from './header.mjs';
import { markChips } from './chip-boundaries.mjs';
import { decorateHitMap, zoomTo } from './hit-map-tools.mjs';
import { LiveView, regionForZoom } from './live-view.mjs';
import { PadViews } from './pad-views.mjs';
import { RecentMaps } from './recent-maps.mjs';
import { raiseTextSizes } from './readable-text.mjs';
import { mergeToScreenResolution } from './screen-resolution.mjs';
import './goto-box.mjs';

const POLL_INTERVAL_MS = 500;
const ZOOM_CHECK_MS = 200;
const HEADER_TICK_MS = 500;
// An update with four dense hit maps is about 250 kB; a slow network gets time for it.
const UPDATE_TIMEOUT_MS = 5000;
const STATUS_TIMEOUT_MS = 3000;
const KEPT_LATENCIES = 1000;
// Narrower than this, the page is one column and the canvas takes the whole width.
const ONE_COLUMN_PX = 900;
// A narrower canvas (a phone) would draw its text a few pixels high.
const ONE_COLUMN_CANVAS_PX = 780;

// A drag on a frame zooms; it never moves or resizes it. Log labels carry
// their exponent in the label's own size (10⁻⁵), not a smaller one. Frames
// less than 100 pixels high (the hit maps on a laptop) keep their axes and
// zoom, which JSROOT drops on small pads. An enlarged pad takes the canvas's
// place, not the whole window: the banner stays in sight.
settings.MoveResize = false;
settings.SmallPad = null;
settings.CanEnlarge = false;
settings.DragGraphs = false;
settings.Latex = constants.Latex.Symbols;

const drawing = document.getElementById('drawing');
const views = document.getElementById('quality-views');
const area = document.getElementById('canvas-area');
const pauseButton = document.getElementById('pause');
const headerParts = {
  run: document.getElementById('run'), events: document.getElementById('events'),
  rate: document.getElementById('rate'), lastEvent: document.getElementById('last-event'),
  state: document.getElementById('state'),
};

const view = new LiveView();
const connection = new Connection();
const display = {
  drawnInstance: null,  // server instance and version of the canvas on screen
  drawnVersion: 0,
  drawnShape: null,  // shapeOf the canvas on screen
  drawError: null,  // why the last canvas could not be drawn
  requestError: null,  // kivo's answer to the last request, when it was an error
  run: null,
  events: null,
  activity: null,  // kivo's event rate, last event and state, as last received
  flow: 'first',  // what the header says of the data: live, waiting, ended, finished, no-answer, ...
  paused: false,
  redraws: 0,
  lastRedrawMs: null,  // time from receiving the last update to its redraw finished
  firstDrawnMs: null,  // time from opening the page to its first canvas drawn
  latencies: [],  // ms from kivo's canvas update to the page having drawn it
  zoomed: {},  // stave -> region shown at full resolution
  lastError: null,
  updatedAt: null,  // local time of the last redraw
  updateBytes: 0,  // length of the last update.json body as decoded
  size: { width: 0, height: 0 },  // of the canvas as drawn
  view,  // the objects as received
};
window.kivoDisplay = display;

const padViews = new PadViews(drawing, document.getElementById('pad-overlays'), () => drawOnScreen());
display.padViews = padViews;  // the view in the address reads and sets it (view-address.mjs)
const recent = new RecentMaps();
display.recent = recent;  // so does it this
// The pad of each hit map's stave, and back, from the ids of the maps ("com/p2d_1/0").
const padOfStave = (stave) => {
  const id = view.hitMaps.find((m) => m.stave === stave)?.id;
  return id ? id.split('/').slice(-2, -1)[0] : undefined;
};
const staveOfPad = (pad) => view.hitMaps.find((m) => padOfStave(m.stave) === pad)?.stave;
const recentShown = (stave) => recent.shows(padOfStave(stave));
padViews.recentControl = {
  label: (pad) => recent.label(pad, staveOfPad(pad)),
  toggle: (pad) => showRecent(recent.pads.has(pad) ? [...recent.pads].filter((p) => p !== pad) : [...recent.pads, pad]),
};
// Shows the recent maps of `pads`, the whole run on the others.
function showRecent(pads) {
  if (recent.show(pads)) drawOnScreen();
}
display.showRecent = showRecent;

// Drawing is one thing at a time: an update, a change of scale, a resize.
let drawingQueue = Promise.resolve();
function serially(work) {
  const next = drawingQueue.then(work, work);
  drawingQueue = next.catch(() => {});
  return next;
}

function showHeader() {
  const parts = describeHeader({
    activity: display.activity,
    canvas: display.drawnVersion ? { run: display.run, events: display.events } : null,
    silentSeconds: connection.silentSeconds(),
    drawError: display.drawError ?? display.requestError,
  });
  for (const name of ['run', 'events', 'rate', 'lastEvent']) headerParts[name].textContent = parts[name];
  headerParts.state.textContent = parts.state;
  headerParts.state.className = parts.kind;
  display.flow = parts.flow;
  document.body.dataset.flow = parts.flow;
  document.dispatchEvent(new CustomEvent('kivo:header', { detail: parts }));
}

// The largest 2:1 box the canvas area holds (the whole width in one column,
// at least ONE_COLUMN_CANVAS_PX wide: the area then scrolls sideways).
function canvasSize() {
  const oneColumn = window.innerWidth < ONE_COLUMN_PX;
  const width = oneColumn ? Math.max(area.clientWidth, ONE_COLUMN_CANVAS_PX) : Math.min(area.clientWidth, 2 * area.clientHeight);
  const height = Math.max(Math.floor(width / 2), 50);
  return { width: 2 * height, height };
}

function fitCanvas() {
  const size = canvasSize();
  if (size.width === display.size.width && size.height === display.size.height) return false;
  display.size = size;
  for (const node of [views, drawing]) Object.assign(node.style, { width: `${size.width}px`, height: `${size.height}px` });
  return true;
}

// The pads of a canvas and the types of what each holds. JSROOT's redraw updates
// the drawn primitives in place and never adds any, so a canvas of another
// shape (the first redraw of a run is built pad by pad and published on the
// way) is drawn anew.
function shapeOf(object) {
  const items = object?.fPrimitives?.arr ?? [];
  return `${object?._typename}[${items.map(shapeOf).join(',')}]`;
}

// The painters of the pads showing a stave's hit map, by stave: the map's
// name ends in the stave index ("h2d_chip_norm_2").
function mapPadPainters() {
  const found = new Map();
  getElementCanvPainter(drawing)?.forEachPainterInPad((painter) => {
    const name = painter.getMainPainter?.()?.getHisto?.()?.fName ?? '';
    const stave = /^h2d_chip(?:_norm)?_(\d+)$/.exec(name)?.[1];
    if (stave !== undefined && !painter.isTopPad()) found.set(Number(stave), painter);
  }, 'pads');
  return found;
}

// The painters of the hit maps kivo sends by region (LiveView's hitMaps), by stave.
function hitMapPainters() {
  const found = new Map();
  const padOf = new Map(view.hitMaps.map(({ id, stave }) => [id.slice(0, id.lastIndexOf('/')), stave]));
  getElementCanvPainter(drawing)?.forEachPainterInPad((painter) => {
    const path = painter.getRootPad?.() && padPath(painter);
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
    if (!frame || !histogram || !map || recentShown(stave)) continue;
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
  const { width, height } = display.size;
  padViews.prepare(canvas);
  raiseTextSizes(canvas, width, height, { enlarged: padViews.enlarged() });
  mergeToScreenResolution(canvas, width, height);
  const shape = shapeOf(canvas);
  if (shape === display.drawnShape) {
    takeBinEdges(canvas);
    await redraw(drawing, canvas, '');
  } else {
    padViews.keep();
    display.drawnShape = null;
    cleanup(drawing);
    await draw(drawing, canvas, '');
    display.drawnShape = shape;
    await padViews.restore();
  }
  for (const [stave, padPainter] of mapPadPainters()) {
    decorateHitMap(padPainter.getMainPainter(), stave, () => display.events ?? 0,
                   () => (recentShown(stave) && recent.current(stave) ? recent.window : null));
    markChips(padPainter.getMainPainter());
  }
  padViews.layout(width, height);
}

async function redrawView(zoomed) {
  const started = performance.now();
  const canvas = view.canvas(zoomed, (stave) => (recentShown(stave) ? recent.current(stave) : null));
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
  display.firstDrawnMs ??= performance.now();
  display.updatedAt = new Date().toLocaleTimeString();
  display.zoomed = Object.fromEntries([...zoomed].filter(([stave]) => canvas && isComposed(canvas, stave)));
}

// The canvas on screen drawn again: a scale chosen, a pad enlarged, the window resized.
function drawOnScreen() {
  return serially(async () => {
    if (display.drawnVersion) await redrawView(zoomedOnScreen).catch(() => {});
  });
}

function isComposed(canvas, stave) {
  const map = view.hitMaps.find((m) => m.stave === stave);
  return Boolean(map && findPlaced(canvas, map.id)?.fXaxis?.fXbins?.length);
}

let zoomedOnScreen = new Map();
let recentAsked = '';  // the recent= part of the last request

function sameRegions(a, b) {
  return a.size === b.size && [...a].every(([stave, r]) => JSON.stringify(b.get(stave)) === JSON.stringify(r));
}

async function update() {
  const zoomed = wantedRegions();
  const asked = recent.query(staveOfPad);
  const query = [view.query([...zoomed.values()]), asked].filter(Boolean).join('&');
  const text = await connection.text(`update.json?${query}`, UPDATE_TIMEOUT_MS);
  display.updateBytes = text.length;
  const before = `${view.instance}-${view.version}`;
  const received = parse(text);
  const reset = Boolean(received.reset) || received.instance !== view.instance;
  const viewChanged = view.apply(received);
  const recentChanged = recent.apply(received, reset);
  const changed = viewChanged || recentChanged || asked !== recentAsked;
  recentAsked = asked;
  const { run, events, published, activity } = view.status;
  display.activity = activity;
  if (view.version === 0) return;
  if (changed || !sameRegions(zoomed, zoomedOnScreen)) {
    zoomedOnScreen = zoomed;
    await serially(() => redrawView(zoomed));
    if (published && before !== `${view.instance}-${view.version}`) recordLatency(Date.now() - published);
    display.run = run;
    display.events = events;
  }
  if (display.drawError) throw new Error(display.drawError);
}

// While paused, only how data arrive: the canvas stays as it is.
async function updateStatus() {
  const status = JSON.parse(await connection.text('status.json', STATUS_TIMEOUT_MS));
  display.activity = status.activity;
}

function recordLatency(ms) {
  display.latencies.push(ms);
  if (display.latencies.length > KEPT_LATENCIES) display.latencies.shift();
}

async function poll() {
  try {
    await (display.paused ? updateStatus() : update());
    display.lastError = display.requestError = null;
  } catch (error) {
    display.lastError = String(error?.message ?? error);
    if (!(error instanceof NoAnswer) && !display.drawError) display.requestError = display.lastError;
  }
  showHeader();
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Waits for the next poll; a zoom or unzoom of a hit map ends the wait early,
// so that its region is fetched at once.
async function waitForNextPoll() {
  for (let waited = 0; waited < POLL_INTERVAL_MS; waited += ZOOM_CHECK_MS) {
    await sleep(ZOOM_CHECK_MS);
    if (!display.paused && display.drawnVersion &&
        (!sameRegions(wantedRegions(), zoomedOnScreen) || recent.query(staveOfPad) !== recentAsked)) return;
  }
}

function setPaused(paused) {
  display.paused = paused;
  pauseButton.textContent = paused ? 'Resume' : 'Pause';
  pauseButton.setAttribute('aria-pressed', String(paused));
  document.body.classList.toggle('paused', paused);
}

// Zooms hit map `stave` to `rectangle` (from the go-to box or a quality row).
async function goTo({ stave, rectangle }) {
  const padPainter = mapPadPainters().get(stave);
  const frame = padPainter?.getFramePainter();
  if (!frame) return;
  const name = padPainter.getRootPad().fName;
  const enlarged = padViews.enlarged();
  if (enlarged && enlarged !== name) await padViews.toggleEnlarged(name);
  await zoomTo(frame, rectangle);
  drawing.scrollIntoView({ block: 'nearest' });
}

pauseButton.addEventListener('click', () => setPaused(!display.paused));
document.addEventListener('kivo:goto', (event) => goTo(event.detail));
new ResizeObserver(() => {
  if (!fitCanvas() || !display.drawnVersion) return;
  serially(async () => {
    await resize(drawing, true);
    await redrawView(zoomedOnScreen).catch(() => {});
  });
}).observe(area);
fitCanvas();
setInterval(showHeader, HEADER_TICK_MS);

async function run() {
  for (;;) {
    await poll();
    await waitForNextPoll();
  }
}

run();
