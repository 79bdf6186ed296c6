// Chip boundaries and chip numbers over the page's hit maps: a stave's map is
// nine chips of 1024 columns side by side (chip 4 is columns 4096 to 5119),
// which the monitor's canvas does not mark. Drawn into JSROOT's upper layer
// of each map's frame, outside the canvas's objects, and drawn again after
// every zoom; they take no pointer events, so tooltips and drags pass through.
import { CHIP_COLUMNS, CHIPS } from './pixels.mjs';

const SVG = 'http://www.w3.org/2000/svg';

// The chips whose columns the x range [low, high] shows, and where each begins.
export function chipMarks(low, high) {
  const marks = [];
  for (let chip = 0; chip < CHIPS; ++chip) {
    const first = chip * CHIP_COLUMNS - 0.5, last = first + CHIP_COLUMNS;
    if (last <= low || first >= high) continue;
    marks.push({ chip, boundary: chip > 0 && first > low ? first : null, middle: (Math.max(first, low) + Math.min(last, high)) / 2 });
  }
  return marks;
}

function node(name, attributes) {
  const made = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) made.setAttribute(key, value);
  return made;
}

function draw(frame) {
  const layer = frame.getG?.()?.selectChild('.upper_layer')?.node();
  if (!layer || !frame.x_handle) return;
  layer.querySelector(':scope > g.kivo-chips')?.remove();
  const width = frame.getFrameWidth(), height = frame.getFrameHeight();
  const low = frame.revertAxis('x', 0), high = frame.revertAxis('x', width);
  const group = node('g', { class: 'kivo-chips', 'pointer-events': 'none' });
  const size = Math.max(9, Math.min(13, Math.round(height / 9)));
  for (const { chip, boundary, middle } of chipMarks(low, high)) {
    if (boundary !== null) {
      const x = frame.grx(boundary);
      group.append(node('line', { x1: x, x2: x, y1: 0, y2: height, stroke: 'black', 'stroke-opacity': 0.55,
                                  'stroke-dasharray': '4 3', 'stroke-width': 1 }));
    }
    const label = node('text', { x: frame.grx(middle), y: size + 1, 'text-anchor': 'middle', 'font-size': size,
                                 'font-family': 'Arial, sans-serif', fill: 'black', stroke: 'white', 'stroke-width': 3,
                                 'paint-order': 'stroke' });
    label.textContent = `chip ${chip}`;
    group.append(label);
  }
  layer.append(group);
}

// Marks the chips on the hit map drawn by `painter` (its TH2 painter), now and after each zoom.
export function markChips(painter) {
  const frame = painter?.getFramePainter?.();
  if (!frame) return;
  if (!frame.$kivoChips) {
    frame.$kivoChips = true;
    for (const method of ['zoom', 'unzoom']) {
      const original = frame[method].bind(frame);
      frame[method] = (...args) => Promise.resolve(original(...args)).then((result) => { draw(frame); return result; });
    }
  }
  draw(frame);
}
