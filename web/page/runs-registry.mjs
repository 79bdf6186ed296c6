// The runs list when kivo keeps a run registry: a bar of filters (stand,
// final verdict, the shift's certification, first-event dates, the last N
// runs) that /runs.json applies, and a column per group of summary figures
// (hits per event, beam position and width, hot pixels per stave, missing
// packets).
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
};

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  node.append(...children);
  return node;
}

function choice(name, label, values) {
  const select = element('select', { name }, element('option', { value: '' }, 'all'),
                         ...values.map((value) => element('option', { value }, value)));
  return element('label', {}, `${label} `, select);
}

// The filter bar; `changed` runs whenever a filter changes.
export function filterBar(changed) {
  const form = element('form', { id: 'runs-filters', hidden: '' },
                       choice('stand', 'Stand', []),
                       choice('verdict', 'Verdict', VERDICTS),
                       choice('certification', 'Certified', CERTIFICATIONS),
                       element('label', {}, 'From ', element('input', { name: 'since', type: 'date' })),
                       element('label', {}, 'to ', element('input', { name: 'until', type: 'date' })),
                       element('label', {}, 'Last ', element('input', { name: 'last', type: 'number', min: '1',
                                                                         max: '10000', value: String(DEFAULT_LAST) }),
                               ' runs'),
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

// The groups of figures the registry holds: "beam_column_2" is stave 2 of "beam_column".
export function figureGroups(names = []) {
  const groups = new Map();
  for (const name of names) {
    const match = /^(.*?)_(\d+)$/.exec(name);
    const key = match ? match[1] : name;
    if (!groups.has(key)) groups.set(key, { key, title: GROUP_TITLES[key] ?? key.replaceAll('_', ' '), names: [] });
    groups.get(key).names.push(name);
  }
  for (const group of groups.values())
    group.names.sort((a, b) => Number(/\d+$/.exec(a)?.[0] ?? 0) - Number(/\d+$/.exec(b)?.[0] ?? 0));
  // The known groups in the order of GROUP_TITLES, then the others by name.
  const order = Object.keys(GROUP_TITLES);
  const rank = (key) => (order.includes(key) ? order.indexOf(key) : order.length);
  return [...groups.values()].sort((a, b) => rank(a.key) - rank(b.key) || a.key.localeCompare(b.key));
}

// "Hits/event, stave 2" for "hits_per_event_2".
export function figureLabel(name) {
  const match = /^(.*?)_(\d+)$/.exec(name);
  const key = match ? match[1] : name;
  const title = GROUP_TITLES[key] ?? key.replaceAll('_', ' ');
  return match ? `${title}, stave ${match[2]}` : title;
}

export function formatFigure(name, value) {
  if (value === undefined || value === null) return '–';
  if (name === 'missing_packet_fraction') return `${(100 * value).toFixed(value < 0.001 && value > 0 ? 3 : 1)}%`;
  if (name.startsWith('hot_pixels')) return String(Math.round(value));
  if (Math.abs(value) >= 100) return value.toFixed(0);
  return value.toPrecision(3);
}

export function figureHeads(groups) {
  return groups.map((group) => element('th', { class: 'figure', title: group.names.length > 1
    ? `${group.title} of staves ${group.names.map((name) => /\d+$/.exec(name)?.[0]).join(', ')}` : group.title },
  group.title));
}

// One cell per group: the staves' values one above the other.
export function figureCells(entry, groups) {
  return groups.map((group) => element('td', { class: 'figure' },
                                        ...group.names.map((name) => element('span', { 'data-figure': name,
                                                                                      title: name },
                                                                             formatFigure(name, entry.figures?.[name])))));
}
