// The runs list when kivo keeps a run registry: a bar of filters (stand,
// final verdict, the shift's certification, first-event dates, the last N
// runs) that /runs.json applies, and a column per group of summary figures
// (hits per event, beam position and width, hot pixels per stave, missing
// packets).
import { columnMenu } from './runs-columns.mjs';
import { element } from './element.mjs';

const VERDICTS = ['Good', 'Medium', 'Bad', 'Null'];
const CERTIFICATIONS = ['Good', 'Bad', 'not for analysis', 'none'];
export const DEFAULT_LAST = 200;

// How a figure group is headed and written; others by their name.
const GROUP_TITLES = {
  hits_per_event: 'Hits/event',
  beam_column: 'Beam column',
  beam_row: 'Beam row',
  beam_width_column: 'Width col',
  beam_width_row: 'Width row',
  hot_pixels: 'Hot pixels',
  missing_packet_fraction: 'Missing packets',
  efficiency: 'Efficiency',
};

function choice(name, label, values) {
  const select = element('select', { name }, element('option', { value: '' }, 'all'),
                         ...values.map((value) => element('option', { value }, value)));
  return element('label', {}, `${label} `, select);
}

// The filter bar and the columns' menu; `changed` runs whenever a filter
// changes, `refitted` runs when the columns chosen change.
export function filterBar(changed, refitted) {
  const form = element('form', { id: 'runs-filters', hidden: '' },
                       choice('stand', 'Stand', []),
                       choice('verdict', 'Verdict', VERDICTS),
                       choice('certification', 'Certified', CERTIFICATIONS),
                       element('label', {}, 'From ', element('input', { name: 'since', type: 'date' })),
                       element('label', {}, 'to ', element('input', { name: 'until', type: 'date' })),
                       element('label', {}, 'Last ', element('input', { name: 'last', type: 'number', min: '1',
                                                                         max: '10000', value: String(DEFAULT_LAST) }),
                               ' runs'),
                       columnMenu(refitted),
                       element('span', { id: 'runs-registry-note' }));
  form.addEventListener('change', changed);
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    changed();
  });
  return form;
}

// "?stand=...&verdict=..." for the filters set.
export function filterQuery() {
  const form = document.getElementById('runs-filters');
  if (!form || form.hidden) return '';
  const parameters = new URLSearchParams();
  for (const [name, value] of new FormData(form)) if (value !== '') parameters.set(name, String(value));
  const text = parameters.toString();
  return text ? `?${text}` : '';
}

// Shows the bar when the answer comes from a registry, with its stands to choose from.
export function showRegistry(registry) {
  const form = document.getElementById('runs-filters');
  form.hidden = !registry;
  const note = document.getElementById('runs-registry-note');
  note.textContent = registry && !registry.ok ? `registry unavailable (${registry.problem}): the archive's files` : '';
  if (!registry?.ok) return;
  const select = form.elements.stand;
  const known = [...select.options].slice(1).map((option) => option.value);
  if (JSON.stringify(known) === JSON.stringify(registry.stands)) return;
  const chosen = select.value;
  select.replaceChildren(element('option', { value: '' }, 'all'),
                         ...registry.stands.map((stand) => element('option', { value: stand }, stand)));
  select.value = registry.stands.includes(chosen) ? chosen : '';
}

// Where a figure is: "beam_column_2" is stave 2 of "beam_column",
// "efficiency_2_5" chip 5 of stave 2 of "efficiency".
function placeOf(name) {
  const chip = /^(.*?)_(\d+)_(\d+)$/.exec(name);
  if (chip) return { key: chip[1], stave: Number(chip[2]), chip: Number(chip[3]) };
  const stave = /^(.*?)_(\d+)$/.exec(name);
  if (stave) return { key: stave[1], stave: Number(stave[2]), chip: null };
  return { key: name, stave: null, chip: null };
}

// The groups of figures the registry holds, each with a line per stave
// (one name, or its chips' names).
export function figureGroups(names = []) {
  const groups = new Map();
  for (const name of names) {
    const { key, stave } = placeOf(name);
    if (!groups.has(key)) groups.set(key, { key, title: GROUP_TITLES[key] ?? key.replaceAll('_', ' '), lines: new Map() });
    const lines = groups.get(key).lines;
    if (!lines.has(stave)) lines.set(stave, []);
    lines.get(stave).push(name);
  }
  for (const group of groups.values()) {
    group.lines = [...group.lines.entries()].sort(([a], [b]) => (a ?? 0) - (b ?? 0))
      .map(([stave, lineNames]) => ({ stave, names: lineNames.sort((a, b) => (placeOf(a).chip ?? 0) - (placeOf(b).chip ?? 0)) }));
  }
  // The known groups in the order of GROUP_TITLES, then the others by name.
  const order = Object.keys(GROUP_TITLES);
  const rank = (key) => (order.includes(key) ? order.indexOf(key) : order.length);
  return [...groups.values()].sort((a, b) => rank(a.key) - rank(b.key) || a.key.localeCompare(b.key));
}

// "Hits/event, stave 2" for "hits_per_event_2", "Efficiency, stave 2, chip 5" for "efficiency_2_5".
export function figureLabel(name) {
  const { key, stave, chip } = placeOf(name);
  const title = GROUP_TITLES[key] ?? key.replaceAll('_', ' ');
  return title + (stave === null ? '' : `, stave ${stave}`) + (chip === null ? '' : `, chip ${chip}`);
}

export function formatFigure(name, value) {
  if (value === undefined || value === null) return '–';
  if (name === 'missing_packet_fraction') return `${(100 * value).toFixed(value < 0.001 && value > 0 ? 3 : 1)}%`;
  if (name.startsWith('efficiency_')) return `${(100 * value).toFixed(1)}%`;
  if (name.startsWith('hot_pixels')) return String(Math.round(value));
  if (Math.abs(value) >= 100) return value.toFixed(0);
  return value.toPrecision(3);
}

export function figureHeads(groups) {
  return groups.map((group) => {
    const staves = group.lines.map(({ stave }) => stave).filter((stave) => stave !== null);
    const perChip = group.lines.some(({ names }) => names.length > 1);
    const title = (perChip ? `${group.title}: the lowest chip of each stave (hover for every chip)` : group.title) +
      (staves.length > 1 ? `, staves ${staves.join(', ')}` : '');
    return element('th', { class: 'figure', 'data-group': group.key, title }, group.title);
  });
}

// A stave's line of a cell: its value, or its chips' lowest with the chip named.
function figureLine(entry, names) {
  if (names.length === 1)
    return element('span', { 'data-figure': names[0], title: names[0] }, formatFigure(names[0], entry.figures?.[names[0]]));
  const measured = names.filter((name) => Number.isFinite(entry.figures?.[name]));
  if (!measured.length) return element('span', {}, '–');
  const lowest = measured.reduce((a, b) => (entry.figures[b] < entry.figures[a] ? b : a));
  const every = measured.map((name) => `chip ${placeOf(name).chip} ${formatFigure(name, entry.figures[name])}`);
  return element('span', { 'data-figure': lowest, title: every.join(', ') },
                 `${formatFigure(lowest, entry.figures[lowest])} `, element('small', {}, `c${placeOf(lowest).chip}`));
}

// One cell per group: the staves' values one above the other.
export function figureCells(entry, groups) {
  return groups.map((group) => element('td', { class: 'figure', 'data-group': group.key },
                                        ...group.lines.map(({ names }) => figureLine(entry, names))));
}
