// The page's view in its address's fragment (#pad=p2d_2&zoom=...: no request
// to kivo when it changes, and the page's file stays cached as it is), so
// that a link or a reload opens the same view: the tab beside the canvas (view=trends), the pad enlarged
// (pad=NAME), the zoom of each pad (zoom=PAD:X1:X2:Y1:Y2,... in axis values,
// an axis not zoomed left empty), the last go-to place (goto=STAVE:PLACE)
// the archived run opened (run=FILE, runview=quality or overlay) and the hit
// maps showing their recent window (recent=p2d_1,p2d_3). Each
// change of view becomes an entry of the browser's history, so back and
// forward walk through them; theme= is theme.mjs's. Progress is exposed on
// window.kivoAddress for tests.
const KEYS = ['view', 'pad', 'zoom', 'goto', 'run', 'runview', 'recent'];
const WATCH_MS = 400;

const address = { restored: false, applied: 0, written: 0 };
window.kivoAddress = address;

let lastGoto = null;  // "STAVE:PLACE" as last typed into the go-to box
let restoring = false;

const short = (value) => (Number.isFinite(value) ? String(+value.toPrecision(7)) : '');

// The view in `params` (URLSearchParams) as an object of the keys above.
export function readView(params) {
  const view = {};
  for (const key of KEYS) if (params.get(key)) view[key] = params.get(key);
  return view;
}

// "PAD:X1:X2:Y1:Y2,..." -> Map of pad name to [[x1, x2], [y1, y2]] (null for an axis not zoomed).
export function parseZooms(text) {
  const zooms = new Map();
  for (const part of String(text ?? '').split(',')) {
    const [name, ...values] = part.split(':');
    if (!name || values.length !== 4) continue;
    const numbers = values.map((v) => (v === '' ? null : Number(v)));
    if (numbers.some((n) => n !== null && !Number.isFinite(n))) continue;
    const axis = (low, high) => (low === null || high === null || !(low < high) ? null : [low, high]);
    zooms.set(name, [axis(numbers[0], numbers[1]), axis(numbers[2], numbers[3])]);
  }
  return zooms;
}

export function formatZooms(zooms) {
  return [...zooms].map(([name, [x, y]]) => [name, ...(x ?? ['', '']).map(short), ...(y ?? ['', '']).map(short)].join(':'))
    .join(',');
}

function padViews() {
  return window.kivoDisplay?.padViews ?? null;
}

function zoomOf(frame) {
  const axis = (name) => {
    const low = frame[`zoom_${name}min`], high = frame[`zoom_${name}max`];
    return low !== high && Number.isFinite(low) && Number.isFinite(high) ? [low, high] : null;
  };
  const zoom = [axis('x'), axis('y')];
  return zoom[0] || zoom[1] ? zoom : null;
}

function currentView() {
  const view = {};
  const tab = window.kivoQuality?.view;
  if (tab && tab !== 'canvas') view.view = tab;
  const pads = padViews();
  const enlarged = pads?.enlarged();
  if (enlarged) view.pad = enlarged;
  const zooms = new Map();
  for (const [name, painter] of pads?.padPainters() ?? []) {
    const zoom = painter.getFramePainter?.() && zoomOf(painter.getFramePainter());
    if (zoom) zooms.set(name, zoom);
  }
  if (zooms.size) view.zoom = formatZooms(zooms);
  if (lastGoto) view.goto = lastGoto;
  const recent = [...(window.kivoDisplay?.recent?.pads ?? [])].sort();
  if (recent.length) view.recent = recent.join(',');
  const shown = window.kivoRuns?.shown;
  if (shown && document.getElementById('runs-view')?.hidden === false) {
    view.run = shown.file;
    if (shown.mode !== 'canvas') view.runview = shown.mode;
  }
  return view;
}

// The parameters of the address's fragment.
export function fragmentParams(url = window.location.href) {
  return new URLSearchParams(new URL(url).hash.slice(1));
}

function addressOf(view) {
  const url = new URL(window.location.href);
  const params = fragmentParams(url.href);
  for (const key of KEYS) params.delete(key);
  for (const key of KEYS) if (view[key]) params.set(key, view[key]);
  url.hash = params.toString();
  return url;
}

function watch() {
  if (restoring || !address.restored) return;
  const url = addressOf(currentView());
  if (url.href === window.location.href) return;
  window.history.pushState({ kivoView: true }, '', url);
  address.written += 1;
}

async function applyZooms(zooms) {
  for (const [name, painter] of padViews()?.padPainters() ?? []) {
    const frame = painter.getFramePainter?.();
    if (!frame) continue;
    const wanted = zooms.get(name);
    if (!wanted) {
      if (zoomOf(frame)) await frame.unzoom('xyz');
      continue;
    }
    const [x, y] = wanted;
    await frame.zoom(...(x ?? [0, 0]), ...(y ?? [0, 0]), undefined, undefined, true);
  }
}

async function applyView(view) {
  const tab = view.view ?? 'canvas';
  if ((window.kivoQuality?.view ?? 'canvas') !== tab)
    document.querySelector(`#quality-tabs button[data-view="${CSS.escape(tab)}"]`)?.click();
  const runsView = document.getElementById('runs-view');
  if (view.run) await window.kivoRuns?.show?.(view.run, view.runview ?? 'canvas');
  else if (runsView && !runsView.hidden) document.querySelector('#runs-bar button[data-action="live"]')?.click();
  const pads = padViews();
  if (pads && (pads.enlarged() ?? null) !== (view.pad ?? null)) {
    const target = view.pad ?? pads.enlarged();
    if (pads.padPainters().has(target)) await pads.toggleEnlarged(target);
  }
  if (view.goto) {
    const [stave, place] = [view.goto.slice(0, view.goto.indexOf(':')), view.goto.slice(view.goto.indexOf(':') + 1)];
    document.getElementById('goto-stave').value = stave;
    document.getElementById('goto-place').value = place;
    lastGoto = view.goto;
  }
  window.kivoDisplay?.showRecent?.(String(view.recent ?? '').split(',').filter((name) => /^p2d_\d+$/.test(name)));
  await applyZooms(parseZooms(view.zoom));
  address.applied += 1;
}

async function restore(view) {
  restoring = true;
  try {
    await applyView(view);
  } finally {
    restoring = false;
  }
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

async function start() {
  // The view is restored once the canvas and the quality panel are there.
  // A load without a view in its address has nothing to restore: a tab the
  // operator chose while the canvas was still coming stays chosen.
  while (!(window.kivoDisplay?.drawnVersion > 0) || !window.kivoQuality) await sleep(100);
  const view = readView(fragmentParams());
  if (Object.keys(view).length) await restore(view);
  window.history.replaceState({ kivoView: true }, '', window.location.href);
  address.restored = true;
  setInterval(watch, WATCH_MS);
}

document.getElementById('goto')?.addEventListener('submit', () => {
  lastGoto = `${document.getElementById('goto-stave').value}:${document.getElementById('goto-place').value.trim()}`;
});
// Back and forward, and a view pasted into the address of this tab.
for (const event of ['popstate', 'hashchange'])
  window.addEventListener(event, () => {
    if (address.restored && !restoring) restore(readView(fragmentParams()));
  });
start();
