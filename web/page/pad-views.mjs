// The operator's view of each pad, kept through every update: log or linear
// scale, the z range of the hit maps (automatic by default, 1e-6 to 1 as the
// monitor draws them, or typed in), zoom, and the pad enlarged. JSROOT's redraw takes
// the scales of the canvas it is handed, so the choices are written into each
// canvas before it is drawn; a choice made through JSROOT's own menu is read
// back from its painters first. Values above a pad's fixed axis range, which
// would fall silently outside the frame, get a note on the pad. Each pad has
// a small toolbar over its top right corner, shown while the pointer is over
// the pad (it would hide what the pad draws there).
import { getElementCanvPainter } from 'jsroot';

const LOGS = ['fLogx', 'fLogy', 'fLogz'];
const NO_VALUE = -1111;
const RANGE_MARGIN = 1e-3;

const isHistogram = (object) => /^TH[12]/.test(object?._typename ?? '');
const is2D = (object) => /^TH2/.test(object?._typename ?? '');

// 'hit-map' (a 2D map, log z), 'log-y' (1D on a log scale) or 'linear'.
export function padKind(pad) {
  const objects = pad.fPrimitives?.arr ?? [];
  if (objects.some(is2D)) return 'hit-map';
  return pad.fLogy ? 'log-y' : 'linear';
}

// The smallest positive and the largest content of a map's bins in range.
function contentRange(histogram) {
  const nx = histogram.fXaxis.fNbins, ny = histogram.fYaxis.fNbins, array = histogram.fArray;
  let low = Infinity, high = 0;
  for (let j = 1; j <= ny; ++j) {
    for (let cell = j * (nx + 2) + 1, end = cell + nx; cell < end; ++cell) {
      const content = array[cell];
      if (content > 0) {
        if (content < low) low = content;
        if (content > high) high = content;
      }
    }
  }
  return high > 0 ? { low, high } : null;
}

// The z range of a map from its smallest positive to its largest content,
// so that the colours span what the map holds; an empty map keeps its range.
// The ends are widened a little: a content on an end would fall outside the
// palette and lose its colour and tooltip. The map is replaced in the pad by
// a copy with that range (and axes of its own, which drawing may change).
export function autoZRange(pad) {
  setZRange(pad, (map) => {
    const range = contentRange(map);
    if (!range) return null;
    const high = range.high > range.low ? range.high : range.low * 10;
    return [range.low * (1 - RANGE_MARGIN), high * (1 + RANGE_MARGIN)];
  });
}

// Replaces each map of `pad` by a copy whose z range is `rangeOf(map)`
// ([minimum, maximum], or null to leave the map as it is).
function setZRange(pad, rangeOf) {
  const objects = pad.fPrimitives?.arr ?? [];
  objects.forEach((map, index) => {
    if (!is2D(map)) return;
    const range = rangeOf(map);
    if (range) objects[index] = { ...map, fXaxis: { ...map.fXaxis }, fYaxis: { ...map.fYaxis }, fMinimum: range[0], fMaximum: range[1] };
  });
}

// "MIN MAX" typed by the operator as a z range, or null when it is none.
export function parseZRange(text) {
  const numbers = String(text ?? '').trim().split(/[\s,;]+/).map(Number);
  if (numbers.length !== 2 || !numbers.every(Number.isFinite) || !(numbers[0] < numbers[1])) return null;
  return numbers;
}

function shortNumber(value) {
  const size = Math.abs(value);
  if (size >= 1e5 || size < 1e-3) return value.toExponential(2);
  return size >= 100 ? String(Math.round(value)) : String(+value.toPrecision(3));
}

// "2 values above 100, the largest 4521" for the contents of the pad's
// histograms above the maximum of its frame (the first histogram with a
// fixed maximum); null when none is.
export function overflowNote(pad) {
  const histograms = (pad.fPrimitives?.arr ?? []).filter(isHistogram);
  const frame = histograms.find((h) => h.fMaximum !== NO_VALUE);
  if (!frame) return null;
  const limit = frame.fMaximum;
  let count = 0, largest = -Infinity;
  const countAbove = (content) => {
    if (!(content > limit)) return;
    ++count;
    largest = Math.max(largest, content);
  };
  if (is2D(frame)) {
    const nx = frame.fXaxis.fNbins, ny = frame.fYaxis.fNbins;
    for (let j = 1; j <= ny; ++j) for (let i = 1; i <= nx; ++i) countAbove(frame.fArray[j * (nx + 2) + i]);
  } else {
    for (const histogram of histograms.filter((h) => !is2D(h)))
      for (let bin = 1; bin <= histogram.fXaxis.fNbins; ++bin) countAbove(histogram.fArray[bin]);
  }
  if (count === 0) return null;
  return `▲ ${count} value${count === 1 ? '' : 's'} above ${shortNumber(limit)}, the largest ${shortNumber(largest)}`;
}

// The button that cycles the z range of a map between automatic and as the
// monitor draws it (a range typed in goes back to automatic).
function zRangeButton(zRange) {
  if (zRange === 'auto')
    return button('z auto', 'z range from the smallest to the largest value; click for 1e-6 to 1 as the monitor draws it', 'z-range');
  if (zRange === 'fixed')
    return button('z 1e-6–1', 'z range 1e-6 to 1 as the monitor draws it; click for the range of the values', 'z-range');
  return button(`z ${zRange.map(shortNumber).join('–')}`, 'z range typed in; click for the range of the values', 'z-range');
}

function button(text, title, action) {
  const node = document.createElement('button');
  node.type = 'button';
  node.textContent = text;
  node.title = title;
  node.dataset.action = action;
  return node;
}

export class PadViews {
  // `redraw()` draws the canvas on screen again, with the choices as they are now.
  constructor(drawing, overlays, redraw) {
    this.drawing = drawing;
    this.overlays = overlays;
    this.redraw = redraw;
    this.choices = new Map();  // pad name -> { fLogx, fLogy, fLogz, zRange: 'auto', 'fixed' or [min, max] }
    this.written = new Map();  // pad name -> the scales written into the canvas on screen
    this.keptZooms = new Map();  // pad name -> zoom, across a canvas drawn anew
    this.pads = [];  // the pads of the canvas on screen: { name, kind, pad }
    this.notes = new Map();  // pad name -> overflow note
    this.wantEnlarged = null;  // the pad to enlarge again after a canvas is drawn anew
    // The control of a hit map's recent view: label(pad) -> { text, title, recent } or null, toggle(pad).
    this.recentControl = null;
    overlays.addEventListener('click', (event) => this.clicked(event));
    const stack = drawing.parentElement;
    stack.addEventListener('mousemove', (event) => this.hover(event, stack));
    stack.addEventListener('mouseleave', () => this.hover(null, stack));
    document.addEventListener('keydown', (event) => {
      if (event.key === 'Escape' && this.enlarged()) this.toggleEnlarged(this.enlarged());
    });
  }

  padPainters() {
    const found = new Map();
    getElementCanvPainter(this.drawing)?.forEachPainterInPad((painter) => {
      const name = painter.getRootPad?.()?.fName;
      if (name && !painter.isTopPad?.()) found.set(name, painter);
    }, 'pads');
    return found;
  }

  // The name of the pad JSROOT shows enlarged, or null.
  enlarged() {
    const svg = getElementCanvPainter(this.drawing)?.getCanvSvg?.();
    return svg && !svg.empty() ? svg.property('pad_enlarged')?.fName ?? null : null;
  }

  choice(name) {
    if (!this.choices.has(name)) this.choices.set(name, {});
    return this.choices.get(name);
  }

  // Scales changed through JSROOT's menus since the canvas on screen was written.
  readBack() {
    for (const [name, painter] of this.padPainters()) {
      const pad = painter.getRootPad(), written = this.written.get(name);
      if (!pad || !written) continue;
      for (const key of LOGS) if (pad[key] !== written[key]) this.choice(name)[key] = pad[key];
    }
  }

  // Writes the operator's choices into `canvas` (a copy made for drawing)
  // and notes what its pads show.
  prepare(canvas) {
    this.readBack();
    this.pads = [];
    this.notes.clear();
    for (const pad of canvas.fPrimitives?.arr ?? []) {
      if (pad?._typename !== 'TPad') continue;
      const kind = padKind(pad);
      const choice = this.choices.get(pad.fName) ?? {};
      for (const key of LOGS) if (key in choice) pad[key] = choice[key];
      const zRange = choice.zRange ?? 'auto';
      if (kind === 'hit-map' && zRange === 'auto') autoZRange(pad);
      if (kind === 'hit-map' && Array.isArray(zRange)) setZRange(pad, () => zRange);
      this.written.set(pad.fName, Object.fromEntries(LOGS.map((key) => [key, pad[key]])));
      const note = overflowNote(pad);
      if (note) this.notes.set(pad.fName, note);
      this.pads.push({ name: pad.fName, kind, pad });
    }
  }

  // Before the canvas is drawn anew (a canvas of another shape): the zooms
  // and the enlarged pad to restore afterwards.
  keep() {
    for (const [name, painter] of this.padPainters()) {
      const frame = painter.getFramePainter?.();
      if (!frame) continue;
      const zoom = ['x', 'y'].map((axis) => [frame[`zoom_${axis}min`], frame[`zoom_${axis}max`]]);
      if (zoom.some(([low, high]) => low !== high)) this.keptZooms.set(name, zoom);
      else this.keptZooms.delete(name);
    }
    this.wantEnlarged = this.enlarged() ?? this.wantEnlarged;
  }

  // After a canvas is drawn anew: the kept zooms and enlarged pad again. A
  // pad drawn without its frame yet (a canvas being built) keeps its zoom
  // for a later canvas.
  async restore() {
    const painters = this.padPainters();
    for (const [name, zoom] of [...this.keptZooms]) {
      const frame = painters.get(name)?.getFramePainter?.();
      if (!frame) continue;
      await frame.zoom(...zoom.flat().map((value) => value ?? 0), undefined, undefined, true);
      this.keptZooms.delete(name);
    }
    if (this.wantEnlarged && painters.has(this.wantEnlarged)) {
      if (!this.enlarged()) await painters.get(this.wantEnlarged).enlargePad();
      this.wantEnlarged = null;
    }
  }

  async toggleEnlarged(name) {
    const painters = this.padPainters();
    const current = this.enlarged();
    if (current) await painters.get(current)?.enlargePad();
    if (current !== name) await painters.get(name)?.enlargePad();
    await this.redraw();
  }

  clicked(event) {
    const action = event.target?.dataset?.action;
    const name = event.target?.closest('[data-pad]')?.dataset.pad;
    if (!action || !name) return;
    const choice = this.choice(name);
    const pad = this.pads.find((p) => p.name === name)?.pad;
    if (action === 'enlarge') {
      this.toggleEnlarged(name);
      return;
    }
    if (action === 'recent') {
      this.recentControl?.toggle(name);
      return;
    }
    if (action === 'log') {
      this.readBack();
      const key = padKind(pad) === 'hit-map' ? 'fLogz' : 'fLogy';
      choice[key] = (choice[key] ?? pad[key]) ? 0 : 1;
    } else if (action === 'z-range') {
      choice.zRange = (choice.zRange ?? 'auto') === 'auto' ? 'fixed' : 'auto';
    } else if (action === 'z-set') {
      const range = parseZRange(window.prompt(`z range of ${name}: smallest and largest value, e.g. 1e-5 0.01`));
      if (!range) return;
      choice.zRange = range;
    }
    this.redraw();
  }

  // Shows the toolbar of the pad under the pointer.
  hover(event, stack) {
    const bounds = stack.getBoundingClientRect();
    const [x, y] = event ? [event.clientX - bounds.left, event.clientY - bounds.top] : [-1, -1];
    for (const node of this.overlays.children) {
      const { offsetLeft: left, offsetTop: top, offsetWidth: width, offsetHeight: height } = node;
      node.classList.toggle('hover', x >= left && x < left + width && y >= top && y < top + height);
    }
  }

  // The toolbars and notes over the pads of the canvas on screen, `width` x
  // `height` pixels.
  layout(width, height) {
    const enlarged = this.enlarged();
    this.overlays.replaceChildren(...this.pads.filter(({ name }) => !enlarged || name === enlarged)
      .map((entry) => this.overlay(entry, entry.name === enlarged, width, height)));
  }

  overlay({ name, kind, pad }, whole, width, height) {
    const box = whole ? { left: 0, top: 0, w: width, h: height }
                      : { left: pad.fAbsXlowNDC * width, top: (1 - pad.fAbsYlowNDC - pad.fAbsHNDC) * height,
                          w: pad.fAbsWNDC * width, h: pad.fAbsHNDC * height };
    const node = document.createElement('div');
    node.className = 'pad-overlay';
    node.dataset.pad = name;
    Object.assign(node.style, { left: `${box.left}px`, top: `${box.top}px`, width: `${box.w}px`, height: `${box.h}px` });
    const tools = document.createElement('div');
    tools.className = 'pad-tools';
    const choice = this.choices.get(name) ?? {};
    if (kind !== 'linear') {
      const axis = kind === 'hit-map' ? 'z' : 'y';
      const log = pad[kind === 'hit-map' ? 'fLogz' : 'fLogy'];
      tools.append(button(log ? `log ${axis}` : `lin ${axis}`, `switch ${axis} to a ${log ? 'linear' : 'logarithmic'} scale`, 'log'));
    }
    if (kind === 'hit-map') tools.append(zRangeButton(choice.zRange ?? 'auto'), button('z…', 'type a z range', 'z-set'));
    tools.append(button(whole ? '⤡' : '⤢', whole ? 'restore the canvas (Esc)' : 'enlarge this pad', 'enlarge'));
    node.append(tools);
    const recent = kind === 'hit-map' && this.recentControl?.label(name);
    if (recent) {
      const control = button(recent.text, recent.title, 'recent');
      control.className = `recent-toggle${recent.recent ? ' recent' : ''}`;
      control.setAttribute('aria-pressed', String(recent.recent));
      // In the top margin from the frame's left edge: left of it the y axis's
      // title and top label reach up to the pad's top. No taller than the margin.
      const room = Math.floor(pad.fTopMargin * box.h) - 4;
      Object.assign(control.style, { left: `${pad.fLeftMargin * box.w + 3}px`,
                                     lineHeight: `${Math.max(11, Math.min(15, room))}px` });
      node.append(control);
    }
    const note = this.notes.get(name);
    if (note) {
      const text = document.createElement('div');
      text.className = 'pad-note';
      text.textContent = note;
      Object.assign(text.style, { left: `${pad.fLeftMargin * box.w + 4}px`, top: `${pad.fTopMargin * box.h + 2}px` });
      node.append(text);
    }
    return node;
  }
}
