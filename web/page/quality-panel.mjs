// The quality panel beside the canvas: where the checks last ran, the event
// rate (the header's, so that the page shows one rate), the buttons that
// choose what takes the canvas's place, a check-by-stave grid of verdicts
// whose cells show their reasons, and the rows, Bad first, then Medium, then
// the rest. A row or cell that names a place (a chip, a hot pixel) zooms
// there on a click.
import { placeOfRow } from './pixels.mjs';
import { checkLabel, orderedRows, verdictGrid, whereOf } from './quality-rows.mjs';
import { element } from './element.mjs';

const verdictClass = (verdict) => (['Good', 'Medium', 'Bad', 'Null'].includes(verdict) ? verdict : 'Other');

function goTo(row) {
  const place = placeOfRow(row);
  if (place) document.dispatchEvent(new CustomEvent('kivo:goto', { detail: place }));
}

// Builds the panel in `panel` with a button per view in `views`; `choose(name)` is told of a click.
export function buildPanel(panel, views, choose) {
  const tabs = element('nav', { id: 'quality-tabs' },
                       ...views.map((name) => element('button', { 'data-view': name, type: 'button' },
                                                      name[0].toUpperCase() + name.slice(1))));
  panel.append(element('div', { id: 'quality-where' }, 'the checks run at each canvas refresh'),
               element('div', { id: 'quality-rate' }),
               element('div', { id: 'quality-not-judging' }),
               tabs,
               element('table', { id: 'quality-grid' }),
               element('div', { id: 'quality-cell' }),
               element('div', { id: 'quality-rows' }));
  tabs.addEventListener('click', (event) => {
    const name = event.target?.dataset?.view;
    if (name) choose(name);
  });
  document.addEventListener('kivo:header', ({ detail }) => {
    document.getElementById('quality-rate').textContent = detail.rate ? `event rate: ${detail.rate}` : '';
  });
}

export function showTabs(selected) {
  for (const button of document.querySelectorAll('#quality-tabs button'))
    button.classList.toggle('selected', button.dataset.view === selected);
}

function rowLine(row) {
  const more = row.more > 0 ? ` (and ${row.more} more ${row.verdict})` : '';
  const zooms = placeOfRow(row) !== null;
  const line = element('div', { class: `quality-row verdict-${verdictClass(row.verdict)}${zooms ? ' zooms' : ''}`,
                                title: `since ${row.since}${zooms ? '; click to zoom there' : ''}` },
                       element('div', { class: 'row-head' },
                               element('span', { class: `verdict ${verdictClass(row.verdict)}` }, String(row.verdict)),
                               element('span', { class: 'check' }, checkLabel(row.check)),
                               element('span', { class: 'where' }, whereOf(row))),
                       element('div', { class: 'reason' }, String(row.reason ?? '') + more));
  if (zooms) line.addEventListener('click', () => goTo(row));
  return line;
}

function showCell(cell, check, column) {
  const box = document.getElementById('quality-cell');
  box.replaceChildren(element('div', { class: 'cell-title' },
                              `${checkLabel(check)}, ${column === 'all' ? 'all staves' : `stave ${column}`}`),
                      ...cell.rows.map(rowLine));
  const zoomable = cell.rows.find((row) => placeOfRow(row));
  if (zoomable) goTo(zoomable);
}

function showGrid(rows) {
  const { checks, columns, cells } = verdictGrid(rows);
  const head = element('tr', {}, element('th', {}, 'check'),
                       ...columns.map((column) => element('th', {}, column === 'all' ? 'all' : `stave ${column}`)));
  const body = checks.map((check) => element('tr', {}, element('th', { class: 'check' }, checkLabel(check)),
                                              ...columns.map((column) => gridCell(cells.get(`${check}|${column}`), check, column))));
  document.getElementById('quality-grid').replaceChildren(element('thead', {}, head), element('tbody', {}, ...body));
}

function gridCell(cell, check, column) {
  if (!cell) return element('td', { class: 'empty' });
  const count = cell.rows.length > 1 ? ` ×${cell.rows.length}` : '';
  const node = element('td', { class: `verdict ${verdictClass(cell.verdict)}`, title: cell.rows.map((row) => row.reason).join('\n') },
                       `${cell.verdict === 'Null' ? '–' : String(cell.verdict)[0]}${count}`);
  node.addEventListener('click', () => showCell(cell, check, column));
  return node;
}

// Shows the panel part of /quality.json's view.
export function showPanel(view) {
  document.getElementById('quality-where').textContent =
    view.judged ? `checks at run ${view.run}, event ${view.event}` : 'the checks run at each canvas refresh';
  const notJudging = Number.isFinite(view.not_judging) && view.not_judging > 0
    ? `${view.not_judging} check${view.not_judging === 1 ? '' : 's'} not judging` : '';
  document.getElementById('quality-not-judging').textContent = notJudging;
  const rows = Array.isArray(view.rows) ? view.rows : [];
  showGrid(rows);
  document.getElementById('quality-rows').replaceChildren(...orderedRows(rows).map(rowLine));
}
