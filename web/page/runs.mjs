// Archived runs in the live page: with kivo --archive DIR, a "Runs" button in
// the header opens the list of the runs archived there (number, time, data
// events, overall verdict, from /runs.json). Any of them opens, read by
// JSROOT from /archive/<file> by byte ranges, in the canvas the page shows
// (its pads, with the archived run's histograms, graphs and labels) and in a
// quality view of its final verdicts; or is overlaid on the current run as
// the reference run is. The live canvas goes on being drawn underneath; the
// view covers it until "Live" is chosen. Progress is exposed on
// window.kivoRuns for tests. With a run registry the list has filters,
// summary figures, the shift's certification and a trend across runs
// (runs-registry.mjs, runs-certify.mjs, runs-trend.mjs).
import { cleanup, draw, openFile } from 'jsroot';
import { certificationCell, certifyState } from './runs-certify.mjs';
import { figureCells, figureGroups, figureHeads, filterBar, filterQuery, showRegistry } from './runs-registry.mjs';
import { columnState, fitColumns } from './runs-columns.mjs';
import { drawTrend, offerFigures, trendPane, trendState } from './runs-trend.mjs';
import { referencePlots } from './quality-plots.mjs';
import { raiseTextSizes } from './readable-text.mjs';
import { mergeToScreenResolution } from './screen-resolution.mjs';
import { element } from './element.mjs';

const LIST_INTERVAL_MS = 10000;
const CANVAS_WIDTH = 1600;
const CANVAS_HEIGHT = 800;
const VERDICT_FACTS = new Set(['quality_overall', 'quality_verdicts', 'quality_checks']);

const runs = {
  archive: null,  // whether kivo has an archive; null until the first answer
  list: [],  // as /runs.json gives them
  registry: null,  // what /runs.json says of the registry, null without one
  figureGroups: [],  // the columns of its summary figures
  shown: null,  // { file, run, mode: 'canvas' | 'quality' | 'overlay', drawn, items, error }
  lastError: null,  // of the list
};
window.kivoRuns = runs;
Object.defineProperties(runs, { certify: { get: certifyState }, trend: { get: trendState },
                                columns: { get: columnState } });

// The view lies over the canvas, in the box that holds it.
function buildView() {
  const link = element('link', { rel: 'stylesheet', href: 'runs.css' });
  document.head.append(link);
  const drawing = document.getElementById('drawing');
  const box = drawing.parentElement;
  if (getComputedStyle(box).position === 'static') box.style.position = 'relative';
  const view = element('section', { id: 'runs-view', hidden: '' },
                       element('nav', { id: 'runs-bar' },
                               element('button', { type: 'button', 'data-action': 'live' }, 'Live'),
                               element('button', { type: 'button', 'data-action': 'list' }, 'List'),
                               element('button', { type: 'button', 'data-action': 'canvas', disabled: '' }, 'Canvas'),
                               element('button', { type: 'button', 'data-action': 'quality', disabled: '' }, 'Quality'),
                               element('button', { type: 'button', 'data-action': 'overlay', disabled: '' }, 'Overlay'),
                               element('button', { type: 'button', 'data-action': 'trend', hidden: '' }, 'Trend'),
                               element('span', { id: 'runs-title' }, 'Archived runs')),
                       element('div', { id: 'runs-list', class: 'runs-pane' },
                               filterBar(() => refreshList(), () => refitList()), element('div', { id: 'runs-table-box' })),
                       element('div', { id: 'runs-trend', class: 'runs-pane', hidden: '' }, ...trendPane(() => showTrend())),
                       element('div', { id: 'runs-canvas', class: 'runs-pane', hidden: '' }),
                       element('div', { id: 'runs-quality', class: 'runs-pane', hidden: '' }),
                       element('div', { id: 'runs-overlay', class: 'runs-pane', hidden: '' }));
  box.append(view);
  view.querySelector('#runs-bar').addEventListener('click', (event) => act(event.target?.dataset?.action));
  const opener = element('button', { id: 'runs-button', type: 'button', hidden: '' }, 'Runs');
  opener.addEventListener('click', () => act('list'));
  document.querySelector('header').append(opener);
}

function showPane(name) {
  document.getElementById('runs-view').hidden = name === null;
  for (const pane of ['list', 'canvas', 'quality', 'overlay', 'trend'])
    document.getElementById(`runs-${pane}`).hidden = pane !== name;
  for (const button of document.querySelectorAll('#runs-bar button'))
    button.classList.toggle('selected', button.dataset.action === name);
}

function act(action) {
  if (!action) return;
  if (action === 'live') {
    showPane(null);
    return;
  }
  if (action === 'list') {
    showPane('list');
    refitList();
    return;
  }
  if (action === 'trend') {
    showPane('trend');
    showTrend();
    return;
  }
  if (runs.shown) show(runs.shown.file, action);
}

// "2026-12-09 13:58:08" in local time, 24-hour as the header's clock.
export function localTime(iso) {
  const time = iso ? new Date(iso) : null;
  if (!time || Number.isNaN(time.getTime())) return '?';
  const two = (n) => String(n).padStart(2, '0');
  return `${time.getFullYear()}-${two(time.getMonth() + 1)}-${two(time.getDate())} ` +
         `${two(time.getHours())}:${two(time.getMinutes())}:${two(time.getSeconds())}`;
}

// The last event's time alone when it is on the first event's day.
function lastEventCell(entry) {
  const first = localTime(entry.first_event), last = localTime(entry.last_event);
  const sameDay = first !== '?' && last !== '?' && first.slice(0, 10) === last.slice(0, 10);
  return element('td', { class: 'time', title: last }, sameDay ? last.slice(11) : last);
}

function runRow(entry) {
  const open = element('button', { type: 'button', 'data-file': entry.file, 'data-mode': 'canvas' }, 'Open');
  const overlay = element('button', { type: 'button', 'data-file': entry.file, 'data-mode': 'overlay' }, 'Overlay');
  const reference = element('button', { type: 'button', 'data-reference': entry.file,
                                         title: 'how to make this run the reference of the checks' }, 'Use as reference');
  // A run whose every check was Null was not judged: said so, with why in its title.
  const verdict = entry.overall === 'Null' && entry.overall_reason ? 'Null: not judged'
    : entry.overall ?? (entry.problem ? 'unreadable' : '?');
  const registry = runs.registry?.ok;
  // A registry's run of another stand or archive has its file elsewhere.
  const openable = !entry.problem && (!registry || entry.openable);
  // A run archived without its end-of-run event (kivo ended, or the run was cut off).
  const cutShort = entry.cut_short
    ? [' ', element('span', { class: 'cut-short', title: 'no end-of-run event: the run was cut short' }, 'cut short')] : [];
  const cells = [
    element('td', {}, String(entry.run ?? '?'), ...cutShort),
    element('td', { title: entry.path ?? entry.file }, entry.file),
    element('td', { class: 'time' }, localTime(entry.first_event)),
    lastEventCell(entry),
    element('td', { class: 'number' }, entry.data_events === null ? '?' : String(entry.data_events)),
    element('td', { class: `verdict ${entry.overall ?? 'Null'}`, title: entry.overall_reason ?? entry.problem ?? '' }, verdict),
    ...(registry ? [element('td', {}, entry.stand), certificationCell(entry, refreshList),
                    ...figureCells(entry, runs.figureGroups)] : []),
    element('td', {}, ...(openable ? [open, overlay, reference] : [])),
  ];
  return element('tr', { 'data-run': String(entry.run ?? ''), class: entry.cut_short ? 'cut-short-run' : '' }, ...cells);
}

function showList() {
  const pane = document.getElementById('runs-table-box');
  if (!runs.list.length) {
    pane.replaceChildren(element('p', { class: 'runs-empty' },
                                 filterQuery() ? 'No run matches the filters.' : 'No run archived yet.'));
    return;
  }
  const registry = runs.registry?.ok;
  const titles = ['Run', 'File', 'First event', 'Last event', 'Data events', 'Verdict',
                  ...(registry ? ['Stand', 'Certification'] : [])];
  const head = element('tr', {}, ...titles.map((title) => element('th', {}, title)),
                       ...(registry ? figureHeads(runs.figureGroups) : []), element('th', {}, ''));
  const table = element('table', { id: 'runs-table' }, element('thead', {}, head),
                        element('tbody', {}, ...[...runs.list].reverse().map(runRow)));
  table.addEventListener('click', (event) => {
    const { file, mode, reference } = event.target?.dataset ?? {};
    if (file) show(file, mode);
    if (reference) explainReference(reference);
  });
  pane.replaceChildren(element('p', { id: 'runs-reference-note', hidden: '' }), table);
  refitList();
}

// The figure columns as chosen, fitted to the list's box as it is now.
function refitList() {
  const table = document.getElementById('runs-table');
  if (table && runs.registry?.ok) fitColumns(table, document.getElementById('runs-table-box'), runs.figureGroups);
}

let refitTimer = null;
window.addEventListener('resize', () => {
  clearTimeout(refitTimer);
  refitTimer = setTimeout(refitList, 150);
});

// The display is read-only: the run becomes the reference at kivo's prompt
// or command line. The command is shown, and copied where the browser allows.
export function referenceCommand(file) {
  return `reference("ARCHIVE/${file}")`;
}

function explainReference(file) {
  const command = referenceCommand(file);
  const note = document.getElementById('runs-reference-note');
  note.hidden = false;
  note.replaceChildren(`To compare with ${file}, type `, element('code', {}, command),
                       ` at kivo's prompt (ARCHIVE: kivo's --archive directory), or start kivo with `,
                       element('code', {}, `--reference ARCHIVE/${file}`), '. The page itself changes nothing in kivo.');
  navigator.clipboard?.writeText(command).catch(() => {});
  runs.referenceShown = file;
}

async function fetchList() {
  const response = await fetch(`runs.json${filterQuery()}`, { cache: 'no-store' });
  if (!response.ok) throw new Error(`runs.json: HTTP ${response.status}`);
  const answer = await response.json();
  runs.archive = Boolean(answer.archive);
  const changed = JSON.stringify(answer.runs) !== JSON.stringify(runs.list) ||
    JSON.stringify(answer.registry ?? null) !== JSON.stringify(runs.registry);
  runs.list = answer.runs ?? [];
  runs.registry = answer.registry ?? null;
  runs.figureGroups = figureGroups(runs.registry?.figures);
  showRegistry(runs.registry);
  offerFigures(runs.registry?.figures);
  document.querySelector('#runs-bar button[data-action="trend"]').hidden = !runs.registry?.ok;
  document.getElementById('runs-button').hidden = !runs.archive;
  document.getElementById('runs-button').textContent = `Runs (${runs.list.length})`;
  if (changed) showList();
  return changed;
}

// Reads the list again, at once after a filter changed or a judgement was
// stored; the trend, when shown, follows a list that changed.
async function refreshList() {
  try {
    const changed = await fetchList();
    runs.lastError = null;
    if (changed && !document.getElementById('runs-trend').hidden) showTrend();
  } catch (error) {
    runs.lastError = String(error?.message ?? error);
  }
}

async function showTrend() {
  try {
    await drawTrend(runs.list);
  } catch (error) {
    trendState().error = String(error?.message ?? error);
  }
}

async function pollList() {
  await refreshList();
  setTimeout(pollList, LIST_INTERVAL_MS);
}

// An archived run file opened once, its objects read when first wanted.
class ArchivedRun {
  constructor(file) {
    this.opened = openFile(`archive/${encodeURIComponent(file)}`);
    this.objects = new Map();  // name -> promise of the object
  }

  // The objects named `names` that the file holds (the last cycle of each), by name.
  async read(names) {
    const opened = await this.opened;
    const held = new Set(opened.fKeys.map((key) => key.fName));
    const found = new Map();
    // One read at a time: JSROOT reads a file's blocks in order.
    for (const name of new Set(names)) {
      if (!held.has(name)) continue;
      if (!this.objects.has(name)) this.objects.set(name, opened.readObject(name));
      found.set(name, await this.objects.get(name));
    }
    return found;
  }

  async names(predicate) {
    return (await this.opened).fKeys.map((key) => key.fName).filter(predicate);
  }
}

const opened = new Map();  // file -> ArchivedRun

function archivedRun(file) {
  if (!opened.has(file)) {
    const run = new ArchivedRun(file);
    run.opened.catch(() => opened.delete(file));  // tried again at the next opening
    opened.set(file, run);
  }
  return opened.get(file);
}

// The names of the objects a canvas draws.
function drawnNames(pad, names = []) {
  for (const item of pad?.fPrimitives?.arr ?? []) {
    if (item?._typename === 'TPad') drawnNames(item, names);
    else if (item?.fName) names.push(item.fName);
  }
  return names;
}

// The mean of a histogram's in-range bins, as ROOT gives it for a histogram
// filled bin by bin.
function meanOf(histogram) {
  const axis = histogram.fXaxis, width = (axis.fXmax - axis.fXmin) / axis.fNbins;
  let sum = 0, weighted = 0;
  for (let b = 1; b <= axis.fNbins; ++b) {
    const content = histogram.fArray[b];
    sum += content;
    weighted += content * (axis.fXmin + (b - 0.5) * width);
  }
  return sum > 0 ? weighted / sum : 0;
}

// The centre of the highest bin (the first among equals), null when empty.
function peakOf(histogram) {
  const axis = histogram.fXaxis, width = (axis.fXmax - axis.fXmin) / axis.fNbins;
  let best = 0, sum = 0;
  for (let b = 1; b <= axis.fNbins; ++b) {
    sum += histogram.fArray[b];
    if (histogram.fArray[b] > (best ? histogram.fArray[best] : -Infinity)) best = b;
  }
  return sum > 0 ? axis.fXmin + (best - 0.5) * width : null;
}

function signed(value, digits) {
  return `${value >= 0 ? '+' : ''}${value.toFixed(digits)}`;
}

// A label of the canvas as the monitor writes it for the archived run.
function relabel(text, padName, objects) {
  const header = /^Run \d+, Number of Events: /;
  if (header.test(text)) {
    const events = objects.get('hnevent')?.fArray?.[1] ?? 0;
    return `Run ${objects.get('run_number')?.fTitle ?? '?'}, Number of Events: ${Math.round(events)}`;
  }
  const stave = /^chip (\d) = /.exec(text)?.[1];
  if (stave === undefined) return text;
  if (padName === 'pnhit') {
    const histogram = objects.get(`hnhit_chip_norm_${stave}`);
    return histogram ? `chip ${stave} = ${meanOf(histogram).toFixed(2)}` : text;
  }
  const kind = { pdiffcol: 'hdiffcol', pdiffrow: 'hdiffrow' }[padName];
  const histogram = kind && objects.get(`${kind}_chip_norm_${stave}`);
  if (!histogram) return text;
  const peak = peakOf(histogram);
  return peak === null ? '' : `chip ${stave} = ${signed(peak, 0)}`;
}

// A copy of the live canvas with the archived run's objects in place of the
// monitor's, by name, and its labels rewritten for that run.
function archivedCanvas(pad, objects) {
  const arr = (pad.fPrimitives?.arr ?? []).map((item) => {
    if (item?._typename === 'TPad') return archivedCanvas(item, objects);
    if (item?._typename === 'TLatex') return { ...item, fTitle: relabel(item.fTitle, pad.fName, objects) };
    const archived = item?.fName && objects.get(item.fName);
    if (!archived || archived._typename !== item._typename) return item;
    // Maps are merged to screen resolution, which replaces their bins and
    // changes their axes: the object kept for the next opening stays whole.
    if (!archived._typename.startsWith('TH2')) return archived;
    return { ...archived, fXaxis: { ...archived.fXaxis }, fYaxis: { ...archived.fYaxis } };
  });
  return { ...pad, fPrimitives: { ...pad.fPrimitives, arr } };
}

async function drawCanvas(run) {
  const live = window.kivoDisplay?.view?.canvas();
  if (!live) throw new Error('the live canvas is not drawn yet: its pads are the archived run\'s frame');
  const objects = await run.read([...drawnNames(live), 'hnevent', 'run_number']);
  const canvas = archivedCanvas(live, objects);
  mergeToScreenResolution(canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
  const pane = document.getElementById('runs-canvas');
  // Its text as readable as the live canvas's, for the size it is drawn at.
  const width = pane.clientWidth || CANVAS_WIDTH;
  raiseTextSizes(canvas, width, Math.min(pane.clientHeight || width / 2, width / 2));
  cleanup(pane);
  await draw(pane, canvas, '');
}

// "quality_dead_chip_2_5" -> { check: "dead_chip", stave: 2, chip: 5 }.
function whereOf(name) {
  const parts = name.slice('quality_'.length).split('_');
  const numbers = [];
  while (parts.length > 1 && /^\d+$/.test(parts[parts.length - 1]) && numbers.length < 2) numbers.unshift(Number(parts.pop()));
  return { check: parts.join('_'), stave: numbers[0] ?? null, chip: numbers[1] ?? null };
}

// One row per check and stave, as the live panel has them: the most severe
// result of the stave's chips, and how many others share a Medium or Bad.
function groupedRows(results) {
  const order = { Bad: 0, Medium: 1, Null: 2, Good: 3 };
  const groups = new Map();
  for (const result of results) {
    const key = `${result.check}/${result.stave}`;
    const group = groups.get(key) ?? { shown: result, more: 0 };
    if (order[result.verdict] < order[group.shown.verdict]) group.shown = result;
    groups.set(key, group);
  }
  for (const group of groups.values())
    group.more = results.filter((result) => `${result.check}/${result.stave}` === `${group.shown.check}/${group.shown.stave}` &&
                                           result !== group.shown && result.verdict === group.shown.verdict &&
                                           (result.verdict === 'Medium' || result.verdict === 'Bad')).length;
  return [...groups.values()].sort((a, b) => order[a.shown.verdict] - order[b.shown.verdict]);
}

async function showQuality(run, entry) {
  const objects = await run.read(await run.names((name) => name.startsWith('quality_')));
  const results = [];
  for (const [name, object] of objects) {
    if (!name.startsWith('quality_') || VERDICT_FACTS.has(name) || object._typename !== 'TNamed') continue;
    const colon = object.fTitle.indexOf(': ');
    results.push({ ...whereOf(name), verdict: object.fTitle.slice(0, colon), reason: object.fTitle.slice(colon + 2) });
  }
  const rows = groupedRows(results);
  const overall = objects.get('quality_overall')?.fTitle ?? '?';
  const where = ({ stave, chip, verdict }) =>
    stave === null ? 'all' : `stave ${stave}${chip !== null && (verdict === 'Medium' || verdict === 'Bad') ? `, chip ${chip}` : ''}`;
  const body = element('tbody', {}, ...rows.map(({ shown, more }) => element('tr', { class: `verdict-${shown.verdict}` },
    element('td', {}, shown.check.replaceAll('_', ' ')),
    element('td', {}, where(shown)),
    element('td', { class: `verdict ${shown.verdict}` }, shown.verdict),
    element('td', { class: 'reason' }, shown.reason + (more ? ` (and ${more} more ${shown.verdict})` : '')))));
  const verdict = overall.split(':')[0];
  document.getElementById('runs-quality').replaceChildren(
    element('div', { id: 'runs-badge', class: `verdict ${verdict}` },
            `Run ${entry.run}: ${verdict === 'Null' ? overall : verdict}`),
    element('p', {}, `Final verdicts, ${entry.data_events ?? '?'} data events, ${localTime(entry.first_event)} to ` +
                     `${localTime(entry.last_event)}; kivo ${entry.version ?? '?'}`),
    element('table', { id: 'runs-verdicts' }, body));
  return rows.length;
}

// The distributions the reference view overlays, this run's from the live
// canvas, the archived run's dashed in black.
function overlayDistributions(objects) {
  const live = new Map();
  const collect = (pad) => {
    for (const item of pad?.fPrimitives?.arr ?? []) {
      if (item?._typename === 'TPad') collect(item);
      else if (item?.fName) live.set(item.fName, item);
    }
  };
  collect(window.kivoDisplay?.view?.canvas());
  const distributions = [];
  const add = (name, title, stave, colour) => {
    const archived = objects.get(name);
    if (!archived) return;
    distributions.push({ name, title, xmin: archived.fXaxis.fXmin, colour,
                         current: Array.from(live.get(name)?.fArray ?? []), reference: Array.from(archived.fArray) });
  };
  const colours = [600, 632, 418, 618];
  for (let s = 0; s < 4; ++s) add(`hnhit_chip_norm_${s}`, `Pixels per event, stave ${s};N pixels / event;events`, s, colours[s]);
  for (const [kind, label] of [['col', 'Column'], ['row', 'Row']])
    for (let s = 0; s < 3; ++s)
      add(`hdiff${kind}_chip_norm_${s}`, `${label} difference to stave 3, stave ${s};${kind} index diff;events`, s, colours[s]);
  return distributions;
}

async function drawOverlay(run) {
  const names = [0, 1, 2, 3].map((s) => `hnhit_chip_norm_${s}`)
    .concat([0, 1, 2].flatMap((s) => [`hdiffcol_chip_norm_${s}`, `hdiffrow_chip_norm_${s}`]));
  const objects = await run.read(names);
  const pane = document.getElementById('runs-overlay');
  cleanup(pane);
  pane.replaceChildren();
  let drawn = 0;
  for (const { name, title, stack } of referencePlots({ distributions: overlayDistributions(objects) })) {
    const cell = element('div', { class: 'runs-plot', title });
    pane.append(cell);
    // The difference distributions, sharp peaks over long tails, on a logarithmic scale as on the canvas.
    await draw(cell, stack, name.startsWith('hdiff') ? 'nostack hist logy' : 'nostack hist');
    drawn += 1;
  }
  return drawn;
}

async function show(file, mode = 'canvas') {
  const entry = runs.list.find((candidate) => candidate.file === file) ?? { file, run: '?' };
  runs.shown = { file, run: entry.run, mode, drawn: false, items: 0, error: null };
  for (const button of document.querySelectorAll('#runs-bar button[disabled]')) button.removeAttribute('disabled');
  document.getElementById('runs-title').textContent = mode === 'overlay'
    ? `Run ${entry.run} (archived, ${file}) dashed in black over run ${window.kivoDisplay?.run ?? '?'} (live)`
    : `Run ${entry.run} (archived, ${file})`;
  showPane(mode);
  try {
    const run = archivedRun(file);
    let items = 0;
    if (mode === 'canvas') await drawCanvas(run);
    if (mode === 'quality') items = await showQuality(run, entry);
    if (mode === 'overlay') items = await drawOverlay(run);
    if (runs.shown.file !== file || runs.shown.mode !== mode) return;
    runs.shown.items = items;
    runs.shown.drawn = true;
  } catch (error) {
    runs.shown.error = String(error?.message ?? error);
    document.getElementById(`runs-${mode}`).replaceChildren(element('p', { class: 'runs-empty' },
                                                                    `Run file ${file} cannot be shown: ${runs.shown.error}`));
  }
}

runs.show = show;  // the view in the address opens a run (view-address.mjs)
buildView();
pollList();
