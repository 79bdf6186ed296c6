// The data-quality side of the live page: a panel beside the canvas with the
// overall verdict as a coloured badge, the event rate and one row per check
// and stave with its reason, kept up to date from kivo's /quality.json; and
// two views that take the canvas's place when chosen: the trends and the
// reference run against this one. The canvas itself is left as it is (it goes
// on being drawn underneath). A change to Bad shows in the page title and
// the badge. Progress is exposed on window.kivoQuality for tests.
import { cleanup, draw } from 'jsroot';
import { pageTitle, referencePlots, trendPlots } from './quality-plots.mjs';

const POLL_INTERVAL_MS = 1000;
const VIEWS = ['canvas', 'trends', 'reference'];
const TITLE = document.title;

const quality = {
  version: 0,  // of the view shown
  overall: null,
  rows: [],
  view: 'canvas',
  trendsDrawn: 0,  // plots drawn in the trends view at its last drawing
  referenceDrawn: 0,
  alarm: false,  // the overall verdict turned Bad and still is
  lastError: null,
};
window.kivoQuality = quality;

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  node.append(...children);
  return node;
}

// The views stacked where the canvas is, and the panel beside them.
function buildLayout() {
  const drawing = document.getElementById('drawing');
  const views = element('div', { id: 'quality-views' });
  const layout = element('div', { id: 'quality-layout' }, views);
  drawing.replaceWith(layout);
  views.append(drawing, element('div', { id: 'quality-trends', class: 'quality-view', hidden: '' }),
               element('div', { id: 'quality-reference', class: 'quality-view', hidden: '' }));
  const tabs = element('nav', { id: 'quality-tabs' },
                       ...VIEWS.map((name) => element('button', { 'data-view': name, type: 'button' },
                                                      name[0].toUpperCase() + name.slice(1))));
  const panel = element('aside', { id: 'quality-panel' },
                        element('div', { id: 'quality-badge', class: 'verdict Null' }, 'no verdict yet'),
                        element('div', { id: 'quality-where' }),
                        element('div', { id: 'quality-rate' }),
                        tabs,
                        element('table', { id: 'quality-rows' }, element('tbody')));
  layout.append(panel);
  tabs.addEventListener('click', (event) => {
    const name = event.target?.dataset?.view;
    if (name) choose(name);
  });
  showTabs();
}

function showTabs() {
  for (const button of document.querySelectorAll('#quality-tabs button'))
    button.classList.toggle('selected', button.dataset.view === quality.view);
}

function choose(name) {
  quality.view = name;
  document.getElementById('quality-trends').hidden = name !== 'trends';
  document.getElementById('quality-reference').hidden = name !== 'reference';
  showTabs();
  quality.version = 0;  // the view needs parts not fetched so far
  poll();
}

function showRows(rows) {
  const body = element('tbody');
  for (const row of rows) {
    const where = row.stave === null ? 'all' : `stave ${row.stave}` +
                  (row.chip !== null && (row.verdict === 'Medium' || row.verdict === 'Bad') ? `, chip ${row.chip}` : '');
    const more = row.more > 0 ? ` (and ${row.more} more ${row.verdict})` : '';
    const line = element('tr', { class: `verdict-${row.verdict}`, title: `since ${row.since}` },
                         element('td', { class: 'check' }, row.check.replaceAll('_', ' '), element('br'),
                                 element('span', { class: 'where' }, where)),
                         element('td', { class: `verdict ${row.verdict}` }, row.verdict),
                         element('td', { class: 'reason' }, row.reason + more));
    body.append(line);
  }
  document.querySelector('#quality-rows tbody').replaceWith(body);
}

function showPanel(view) {
  const badge = document.getElementById('quality-badge');
  const wasBad = quality.overall === 'Bad';
  quality.overall = view.judged ? view.overall : null;
  quality.rows = view.rows;
  badge.textContent = view.judged ? view.overall : 'no verdict yet';
  badge.className = `verdict ${view.judged ? view.overall : 'Null'}`;
  // A change to Bad is signalled until the verdict leaves Bad.
  if (quality.overall === 'Bad' && !wasBad) quality.alarm = true;
  if (quality.overall !== 'Bad') quality.alarm = false;
  badge.classList.toggle('alarm', quality.alarm);
  document.title = pageTitle(TITLE, quality.overall);
  document.getElementById('quality-where').textContent =
    view.judged ? `run ${view.run}, event ${view.event}` : 'the checks run at each canvas refresh';
  document.getElementById('quality-rate').textContent =
    view.rate === null ? 'event rate: not measured yet' : `event rate: ${Math.round(view.rate)} events/s`;
  showRows(view.rows);
}

// Draws `plots` ({ title, object, option }) into `container`, one cell each.
async function drawPlots(container, plots, empty) {
  cleanup(container);
  container.replaceChildren();
  let drawn = 0;
  for (const { title, object, option } of plots) {
    const cell = element('div', { class: 'quality-plot' });
    container.append(cell);
    if (!object) {
      cell.append(element('p', { class: 'quality-empty' }, `${title}: ${empty}`));
      continue;
    }
    await draw(cell, object, option);
    drawn += 1;
  }
  return drawn;
}

async function showTrends(view) {
  const plots = trendPlots(view.trends ?? []).map(({ title, multigraph }) => ({ title, object: multigraph, option: 'A' }));
  quality.trendsDrawn = await drawPlots(document.getElementById('quality-trends'), plots, 'no points yet');
}

async function showReference(view) {
  const container = document.getElementById('quality-reference');
  if (!view.reference) {
    cleanup(container);
    container.replaceChildren(element('p', { class: 'quality-empty' },
                                      'No reference run loaded: start kivo with --reference FILE or type ' +
                                      'reference("FILE") at its prompt.'));
    quality.referenceDrawn = 0;
    return;
  }
  const plots = referencePlots(view.reference).map(({ title, stack, option }) => ({ title, object: stack, option }));
  quality.referenceDrawn = await drawPlots(container, plots, '');
}

let polling = null;

async function fetchView() {
  const parts = quality.view === 'canvas' ? '' : quality.view;
  const response = await fetch(`quality.json?since=${quality.version}&parts=${parts}`, { cache: 'no-store' });
  if (!response.ok) throw new Error(`quality.json: HTTP ${response.status}`);
  const answer = await response.json();
  if (!answer.view) return;
  const shown = quality.view;
  showPanel(answer.view);
  if (shown === 'trends') await showTrends(answer.view);
  if (shown === 'reference') await showReference(answer.view);
  if (shown === quality.view) quality.version = answer.version;
}

// One poll at a time: a view chosen during a poll is fetched by the next.
async function poll() {
  if (polling) return;
  clearTimeout(poll.timer);
  polling = fetchView().then(() => { quality.lastError = null; })
    .catch((error) => { quality.lastError = String(error?.message ?? error); })
    .finally(() => {
      polling = null;
      poll.timer = setTimeout(poll, POLL_INTERVAL_MS);
    });
}

buildLayout();
poll();
