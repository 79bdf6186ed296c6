// Which summary-figure columns the runs list shows. The operator chooses in
// a "Columns" menu beside the filters (remembered by the browser); groups
// nobody chose are shown while the table fits its box, the least needed
// hidden first when it does not, so that the run, its verdict and its
// buttons stay in sight on a small screen. A table wider than its box
// anyway scrolls in its own box, the run number and the heads kept in place.
import { element } from './element.mjs';

const STORAGE_KEY = 'kivo.runs.columns';
// Hidden first when the table does not fit, in this order; others only by choice.
const FIT_ORDER = ['beam_width_row', 'beam_width_column', 'beam_row', 'hot_pixels'];

const state = { chosen: readChoices(), fitted: [] };  // chosen: key -> true (shown) | false (hidden)

function readChoices() {
  try {
    const stored = JSON.parse(window.localStorage?.getItem(STORAGE_KEY) ?? '{}');
    return stored && typeof stored === 'object' ? stored : {};
  } catch {
    return {};
  }
}

function storeChoices() {
  try {
    window.localStorage?.setItem(STORAGE_KEY, JSON.stringify(state.chosen));
  } catch {
    // A browser that keeps nothing still applies the choice to this page.
  }
}

function setShown(table, key, shown) {
  for (const cell of table.querySelectorAll(`[data-group="${key}"]`)) cell.hidden = !shown;
}

// Shows the chosen groups of `table` and hides, in FIT_ORDER, the unchosen
// ones until it fits `box`.
export function fitColumns(table, box, groups) {
  state.fitted = [];
  for (const { key } of groups) setShown(table, key, state.chosen[key] !== false);
  for (const key of FIT_ORDER) {
    if (box.scrollWidth <= box.clientWidth) break;
    if (state.chosen[key] !== undefined || !groups.some((group) => group.key === key)) continue;
    setShown(table, key, false);
    state.fitted.push(key);
  }
  offerColumns(groups);
}

// The menu: a box per group, ticked when shown; `changed` refits the table.
export function columnMenu(changed) {
  const menu = element('details', { id: 'runs-columns' }, element('summary', {}, 'Columns'),
                       element('div', { class: 'runs-columns-choices' }));
  // Its boxes have no name: the filters' query never carries them.
  menu.addEventListener('change', (event) => {
    event.stopPropagation();
    const key = event.target?.dataset?.group;
    if (!key) return;
    state.chosen[key] = event.target.checked;
    storeChoices();
    changed();
  });
  menu.addEventListener('click', (event) => {
    if (!event.target?.classList?.contains('runs-columns-reset')) return;
    state.chosen = {};
    storeChoices();
    changed();
  });
  return menu;
}

function offerColumns(groups) {
  const choices = document.querySelector('#runs-columns .runs-columns-choices');
  if (!choices) return;
  choices.replaceChildren(
    ...groups.map(({ key, title }) => {
      const fitted = state.fitted.includes(key);
      const box = element('input', { type: 'checkbox', 'data-group': key });
      box.checked = state.chosen[key] ?? !fitted;
      return element('label', fitted ? { title: 'hidden to fit the window; tick to show it anyway' } : {},
                     box, ` ${title}${fitted ? ' (hidden to fit)' : ''}`);
    }),
    element('button', { type: 'button', class: 'runs-columns-reset' }, 'As fits the window'));
  const hidden = groups.filter(({ key }) => state.chosen[key] === false || state.fitted.includes(key)).length;
  document.querySelector('#runs-columns summary').textContent = hidden ? `Columns (${hidden} hidden)` : 'Columns';
}

export function columnState() {
  return state;
}
