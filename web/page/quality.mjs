// The data-quality side of the live page, kept up to date from kivo's
// /quality.json: the verdict banner (verdict-banner.mjs), the panel beside the
// canvas (quality-panel.mjs), and the views that take the canvas's place when
// chosen: the trends, the reference run against this one, and the tracks
// (tracks.mjs). The canvas
// itself is left as it is (it goes on being drawn underneath). Progress is
// exposed on window.kivoQuality for tests.
import { cleanup, draw } from 'jsroot';
import { Connection } from './connection.mjs';
import { element } from './element.mjs';
import { buildPanel, showPanel, showTabs } from './quality-panel.mjs';
import { referencePlots, trendPlots } from './quality-plots.mjs';
import { showTracks } from './tracks.mjs';
import { VerdictBanner } from './verdict-banner.mjs';

const POLL_INTERVAL_MS = 1000;
// The trends of a long run take a while to serialise and send.
const REQUEST_TIMEOUT_MS = 10000;
const VIEWS = ['canvas', 'trends', 'reference', 'tracks'];

const quality = {
  version: 0,  // of the view shown
  overall: null,
  rows: [],
  view: 'canvas',
  trendsDrawn: 0,  // plots drawn in the trends view at its last drawing
  referenceDrawn: 0,
  tracksDrawn: 0,
  alarm: false,  // a row turned Bad and the operator has not acknowledged it yet
  badSignals: 0,  // how many times rows turned Bad
  newBad: [],  // the rows of the last signal
  soundsPlayed: 0,
  lastError: null,
};
window.kivoQuality = quality;

const connection = new Connection();
const banner = new VerdictBanner(quality);

function choose(name) {
  quality.view = name;
  document.getElementById('quality-trends').hidden = name !== 'trends';
  document.getElementById('quality-reference').hidden = name !== 'reference';
  document.getElementById('quality-tracks').hidden = name !== 'tracks';
  showTabs(name);
  quality.version = 0;  // the view needs parts not fetched so far
  poll();
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

// Back to the canvas, its hit map zoomed to `place` ({ stave, rectangle }).
function zoomCanvas(place) {
  choose('canvas');
  document.dispatchEvent(new CustomEvent('kivo:goto', { detail: place }));
}

function show(view) {
  quality.overall = view.judged ? view.overall : null;
  quality.rows = Array.isArray(view.rows) ? view.rows : [];
  banner.show(view);
  showPanel(view);
}

async function fetchView() {
  const parts = quality.view === 'canvas' ? '' : quality.view;
  const answer = JSON.parse(await connection.text(`quality.json?since=${quality.version}&parts=${parts}`,
                                                  REQUEST_TIMEOUT_MS));
  if (!answer.view) return;
  const shown = quality.view;
  show(answer.view);
  if (shown === 'trends') await showTrends(answer.view);
  if (shown === 'reference') await showReference(answer.view);
  if (shown === 'tracks') quality.tracksDrawn = await showTracks(document.getElementById('quality-tracks'), answer.view, zoomCanvas);
  if (shown === quality.view) quality.version = answer.version;
}

let polling = null;

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

buildPanel(document.getElementById('quality-panel'), VIEWS, choose);
showTabs(quality.view);
poll();
