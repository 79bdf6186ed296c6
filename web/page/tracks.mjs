// The tracks view of the live page: each stave judged by the tracks of the
// other three. One efficiency map per stave (over the checks' recent window
// or the whole run, toggled), the efficiency of each chip, the residuals and
// the cluster sizes. A click on a map's cell or on a chip's efficiency zooms
// the hit map of the canvas there. Drawn from the "tracks" part of
// /quality.json by quality.mjs, which owns the view's place on the page.
import { cleanup, draw } from 'jsroot';
import { binOf, CHIPS } from './pixels.mjs';
import { cellRectangle, chipEfficiencies, chipRectangle, efficiencyClass, efficiencyMap, percent, STAVES,
         trackPlots } from './tracks-plots.mjs';
import { element } from './element.mjs';

const state = { span: 'recent', drawn: 0 };
const STAVE_NAMES = Array.from({ length: STAVES }, (_, s) => `stave ${s}`);

function grouped(count) {
  return Math.round(count).toLocaleString('en-US');
}

function median(values) {
  const sorted = values.filter((value) => value !== null).sort((a, b) => a - b);
  return sorted.length ? sorted[Math.floor(sorted.length / 2)] : null;
}

// The cell of a map under a click, in the frame of its JSROOT painter.
function cellAt(painter, event) {
  const frame = painter?.getFramePainter?.();
  const node = frame?.getFrameSvg?.().node();
  const matrix = node?.getScreenCTM?.();
  if (!matrix) return null;
  const point = new DOMPoint(event.clientX, event.clientY).matrixTransform(matrix.inverse());
  if (point.x < 0 || point.y < 0 || point.x > frame.getFrameWidth() || point.y > frame.getFrameHeight()) return null;
  const histogram = painter.getHisto();
  const x = binOf(histogram.fXaxis, frame.revertAxis('x', point.x));
  const y = binOf(histogram.fYaxis, frame.revertAxis('y', point.y));
  return x === null || y === null ? null : { x, y };
}

function spanBar(view, redraw) {
  const window = `the last ${grouped(view.tracks.recent_events)} events`;
  const choice = (span, label) => {
    const button = element('button', { type: 'button', 'data-span': span,
                                       class: state.span === span ? 'selected' : '' }, label);
    button.addEventListener('click', () => {
      state.span = span;
      redraw();
    });
    return button;
  };
  const alignment = view.tracks.staves.map((stave, s) =>
    `stave ${s}: ${stave.alignment}${stave.alignment === 'searching' ? '' :
      ` ${stave.offset_columns.toFixed(1)}, ${stave.offset_rows.toFixed(1)}`}`).join(' · ');
  const legend = STAVE_NAMES.map((name, s) => element('span', { class: `tracks-stave stave-${s}` }, name));
  const scale = element('span', { class: 'tracks-scale', title: 'efficiency of a cell; blank: fewer than 5 tracks' },
                        '0%', element('span', { class: 'tracks-palette' }), '100%');
  return element('div', { class: 'tracks-bar' }, element('span', {}, 'Efficiency over'),
                 choice('recent', window), choice('run', 'the whole run'), scale, element('span', {}, '·'), ...legend,
                 element('span', { class: 'tracks-alignment', title: 'offset in use to stave 3, columns and rows' },
                         `alignment: ${alignment}`));
}

function chipTable(chips, goTo) {
  const typical = median(chips.flat().filter((chip) => chip.total >= 100).map((chip) => chip.efficiency));
  const head = element('tr', {}, element('th', {}, 'chip'),
                       ...Array.from({ length: STAVES }, (_, s) => element('th', {}, `stave ${s}`)));
  const rows = Array.from({ length: CHIPS }, (_, chip) => element('tr', {}, element('th', {}, String(chip)),
    ...chips.map((stave, s) => {
      const { total, matched, efficiency } = stave[chip];
      const cell = element('td', { class: `tracks-chip ${efficiencyClass(efficiency, typical)}`,
                                   title: `${grouped(matched)} of ${grouped(total)} tracks; click to zoom the hit map` },
                           percent(efficiency));
      cell.addEventListener('click', () => goTo({ stave: s, rectangle: chipRectangle(chip) }));
      return cell;
    })));
  return element('table', { class: 'tracks-chips' }, element('caption', {}, 'Efficiency per chip'),
                 element('thead', {}, head), element('tbody', {}, ...rows));
}

// Shows the tracks part of `view` in `container`; `goTo(place)` zooms the
// canvas's hit map to { stave, rectangle }.
export async function showTracks(container, view, goTo) {
  cleanup(container);
  if (!view.tracks) {
    container.replaceChildren(element('p', { class: 'quality-empty' },
                                      'No tracks: tracking is off ([tracking] enabled = false in the checks\' file).'));
    state.drawn = 0;
    return 0;
  }
  const redraw = () => showTracks(container, view, goTo);
  const maps = element('div', { class: 'tracks-maps' });
  const plots = element('div', { class: 'tracks-plots' });
  container.replaceChildren(spanBar(view, redraw), maps, chipTable(chipEfficiencies(view.tracks, state.span), goTo),
                            plots);
  let drawn = 0;
  maps.append(element('div', { class: 'tracks-chip-names' },
                      ...Array.from({ length: CHIPS }, (_, chip) => element('span', {}, `chip ${chip}`))));
  for (let s = 0; s < STAVES; ++s) {
    const cell = element('div', { class: 'tracks-map', title: 'click a cell to zoom the hit map there' });
    maps.append(element('div', { class: `tracks-map-name stave-${s}` }, STAVE_NAMES[s]), cell);
    const painter = await draw(cell, efficiencyMap(view.tracks, s, state.span), 'col;gridx');
    cell.addEventListener('click', (event) => {
      const at = cellAt(painter, event);
      if (at) goTo({ stave: s, rectangle: cellRectangle(at.x, at.y) });
    });
    drawn += 1;
  }
  for (const { title, stack, option } of trackPlots(view.tracks)) {
    const cell = element('div', { class: 'tracks-plot' });
    plots.append(cell);
    if (!stack) {
      cell.append(element('p', { class: 'quality-empty' }, `${title}: no matches yet`));
      continue;
    }
    await draw(cell, stack, option);
    drawn += 1;
  }
  state.drawn = drawn;
  return drawn;
}
