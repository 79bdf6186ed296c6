// The browser view: JSROOT's own GUI over kivo's ROOT web protocol (h.json,
// ITEM/root.json), as it browses a ROOT application's THttpServer. Its
// address takes JSROOT's parameters (item=, items=, opts=, layout=,
// monitoring=, ...), so that a view is a link. Beside JSROOT's browser, a
// search box hides the items whose names do not hold what is typed.
// Progress is exposed on window.kivoBrowse for tests.
import { buildGUI } from '../jsroot/modules/gui.mjs';

const browse = { painter: null, ready: false, error: null, shown: 0 };
window.kivoBrowse = browse;

// Hides the items of `item`'s subtree that do not match `text`; true when
// any matched. A folder with matches opens.
export function markMatches(item, text) {
  let any = false;
  for (const child of item._childs ?? []) {
    const inside = child._childs ? markMatches(child, text) : false;
    const matches = !text || inside || String(child._name ?? '').toLowerCase().includes(text);
    if (matches) delete child._hidden;
    else child._hidden = true;
    if (child._childs && text && inside) child._isopen = true;
    any ||= matches;
  }
  return any;
}

function addSearch(painter) {
  const hierarchy = document.querySelector('.jsroot_browser_hierarchy');
  if (!hierarchy || document.getElementById('browse-search')) return;
  const box = document.createElement('input');
  Object.assign(box, { id: 'browse-search', type: 'search', placeholder: 'search objects', autocomplete: 'off' });
  box.setAttribute('aria-label', 'search objects');
  box.addEventListener('input', () => {
    markMatches(painter.h, box.value.trim().toLowerCase());
    browse.shown = countShown(painter.h);
    painter.refreshHtml();
  });
  hierarchy.before(box);
}

function countShown(item) {
  return (item._childs ?? []).reduce((n, child) => n + (child._hidden ? 0 : child._childs ? countShown(child) : 1), 0);
}

buildGUI('browser', 'online').then((painter) => {
  browse.painter = painter;
  addSearch(painter);
  browse.shown = countShown(painter.h ?? {});
  browse.ready = true;
}).catch((error) => { browse.error = String(error?.message ?? error); });
