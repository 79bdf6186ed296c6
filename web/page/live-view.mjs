// The page's copy of kivo's view, kept up to date from /update.json: the canvas
// layout (pads with a placeholder for each object), the objects by id, and the
// hit-map regions the page zooms into. An update carries only what changed
// since the version the page holds. No drawing here: canvas() hands the
// canvas to draw to the caller.

// Regions of more bins than this are never copied by kivo (the overview is shown).
export const MAX_REGION_BINS = 1 << 20;

const PLACEHOLDER = 'KivoRef';

export class LiveView {
  constructor() {
    this.instance = '';
    this.version = 0;
    this.layout = null;
    this.objects = new Map();  // id -> parsed ROOT object
    this.hitMaps = [];  // [{ id, stave, bins: [nx, ny] }]
    this.regions = new Map();  // regionKey -> { region, version, map }
    this.status = null;  // { run, events, published, activity }
  }

  // The query of the next request: what the page holds and the regions it wants.
  query(wanted) {
    const zoom = wanted.map((region) => `${regionKey(region)}:${this.regions.get(regionKey(region))?.version ?? 0}`);
    const parts = [`instance=${encodeURIComponent(this.instance)}`, `since=${this.version}`];
    if (zoom.length) parts.push(`zoom=${zoom.join(',')}`);
    return parts.join('&');
  }

  // Takes in a parsed update; true when what is drawn must change.
  apply(update) {
    const reset = Boolean(update.reset) || update.instance !== this.instance;
    if (reset) {
      this.objects.clear();
      this.regions.clear();
      this.layout = null;
    }
    let changed = reset || update.version !== this.version;
    this.instance = update.instance;
    this.version = update.version;
    this.status = { run: update.run, events: update.events, published: update.published, activity: update.activity };
    if (update.layout) this.layout = update.layout;
    for (const [id, object] of Object.entries(update.objects ?? {})) this.objects.set(id, object);
    if (update.hit_maps) this.hitMaps = update.hit_maps;
    for (const entry of update.regions ?? []) {
      const region = { stave: entry.stave, firstX: entry.x[0], lastX: entry.x[1], firstY: entry.y[0], lastY: entry.y[1] };
      this.regions.set(regionKey(region), { region, version: entry.version, map: entry.map });
      changed = true;
    }
    return changed;
  }

  // The canvas to draw, or null before the first one: the layout with every
  // object in its place, each hit map zoomed into a region the page holds
  // composed with that region (`zoomed`: stave -> region wanted), and the
  // maps `recent(stave)` gives (a recent map, or null) in place of the overview.
  canvas(zoomed = new Map(), recent = () => null) {
    if (!this.layout) return null;
    // Hit maps go to JSROOT as fresh objects: it keeps the first it draws
    // and changes it with later ones, and the overview must stay as received.
    const composed = new Map();
    for (const { id, stave } of this.hitMaps) {
      const wanted = zoomed.get(stave);
      const held = wanted && this.regions.get(regionKey(wanted));
      const overview = this.objects.get(id);
      const recentMap = recent(stave);
      if (recentMap) composed.set(id, axesCopy(recentMap));
      else if (overview) composed.set(id, held ? composeZoomed(overview, held.map) : axesCopy(overview));
    }
    return placeObjects(this.layout, (id) => composed.get(id) ?? this.objects.get(id));
  }
}

export function regionKey(region) {
  return [region.stave, region.firstX, region.lastX, region.firstY, region.lastY].join(':');
}

// A copy of the pad (and its sub-pads) with the placeholders replaced by objects.
function placeObjects(pad, objectFor) {
  const list = pad.fPrimitives;
  if (!list?.arr) return pad;
  const arr = list.arr.map((item) => {
    if (item?._typename === PLACEHOLDER) return objectFor(item.id) ?? emptyText();
    return item?.fPrimitives ? placeObjects(item, objectFor) : item;
  });
  return { ...pad, fPrimitives: { ...list, arr } };
}

function axesCopy(histogram) {
  return { ...histogram, fXaxis: { ...histogram.fXaxis }, fYaxis: { ...histogram.fYaxis } };
}

// Stands in for an object an update failed to bring, so that the pad still draws.
function emptyText() {
  return { _typename: 'TLatex', fName: '', fTitle: '', fX: 0, fY: 0, fTextSize: 0 };
}

// The bins of a map of `bins` = [nx, ny] full-resolution bins, drawn on axes
// `xAxis` and `yAxis`, that a frame zoomed to [x1, x2] x [y1, y2] shows;
// null when the frame is not zoomed or the region is too large to fetch.
export function regionForZoom(stave, bins, xAxis, yAxis, zoom) {
  if (!zoom || (zoom.x1 === zoom.x2 && zoom.y1 === zoom.y2)) return null;
  const [firstX, lastX] = binRange(bins[0], xAxis, zoom.x1, zoom.x2);
  const [firstY, lastY] = binRange(bins[1], yAxis, zoom.y1, zoom.y2);
  const region = { stave, firstX, lastX, firstY, lastY };
  const count = (lastX - firstX + 1) * (lastY - firstY + 1);
  if (count > MAX_REGION_BINS || count >= bins[0] * bins[1]) return null;
  return region;
}

// Bins 1..nbins of [axis.fXmin, axis.fXmax] that [low, high] touches; the
// whole axis when it is not zoomed (low === high).
function binRange(nbins, axis, low, high) {
  if (low === high) return [1, nbins];
  const width = (axis.fXmax - axis.fXmin) / nbins;
  const bin = (x) => Math.min(nbins, Math.max(1, Math.floor((x - axis.fXmin) / width) + 1));
  // The upper end of a range is exclusive: a zoom ending on an edge stops there.
  return [bin(low), bin(high - width * 1e-6)];
}

// A histogram like `overview` whose bins are the region's inside it and the
// overview's elsewhere (variable bin edges), so that the frame keeps the
// whole map's axes while the zoomed part shows every bin of the region.
export function composeZoomed(overview, region) {
  const x = mergedEdges(overview.fXaxis, region.fXaxis);
  const y = mergedEdges(overview.fYaxis, region.fYaxis);
  const nx = x.edges.length - 1, ny = y.edges.length - 1;
  const cells = new Float32Array((nx + 2) * (ny + 2));
  const overviewStride = overview.fXaxis.fNbins + 2, regionStride = region.fXaxis.fNbins + 2;
  for (let j = 1; j <= ny; ++j) {
    const [ySource, yBin] = y.sources[j - 1];
    for (let i = 1; i <= nx; ++i) {
      const [xSource, xBin] = x.sources[i - 1];
      cells[j * (nx + 2) + i] = xSource === 'region' && ySource === 'region'
        ? region.fArray[yBin * regionStride + xBin]
        : overview.fArray[y.overviewBin[j - 1] * overviewStride + x.overviewBin[i - 1]];
    }
  }
  return {
    ...overview,
    fXaxis: { ...overview.fXaxis, fNbins: nx, fXbins: x.edges, fFirst: 0, fLast: 0 },
    fYaxis: { ...overview.fYaxis, fNbins: ny, fXbins: y.edges, fFirst: 0, fLast: 0 },
    fArray: cells,
    fNcells: cells.length,
    fSumw2: [],
  };
}

// Bin edges along one axis: the overview's outside the region, the region's
// inside it (clipped to the overview's range). For each resulting bin, where
// its content comes from ('region' or 'overview', and the bin there) and
// the overview bin it lies in.
function mergedEdges(outer, inner) {
  const outerWidth = (outer.fXmax - outer.fXmin) / outer.fNbins;
  const innerWidth = (inner.fXmax - inner.fXmin) / inner.fNbins;
  const low = Math.max(inner.fXmin, outer.fXmin), high = Math.min(inner.fXmax, outer.fXmax);
  const edges = [], sources = [];
  const add = (edge, source) => {
    if (edges.length && edge <= edges[edges.length - 1]) return;
    if (edges.length) sources.push(source);
    edges.push(edge);
  };
  let k = 0;
  for (; k <= outer.fNbins && outer.fXmin + k * outerWidth <= low; ++k) add(outer.fXmin + k * outerWidth, ['overview', k]);
  add(low, ['overview', k]);
  for (let j = 1; j <= inner.fNbins; ++j) add(Math.min(inner.fXmin + j * innerWidth, high), ['region', j]);
  for (k = 0; k <= outer.fNbins; ++k) add(outer.fXmin + k * outerWidth, ['overview', k]);
  const overviewBin = sources.map((_, i) => {
    const centre = (edges[i] + edges[i + 1]) / 2;
    return Math.min(outer.fNbins, Math.max(1, Math.floor((centre - outer.fXmin) / outerWidth) + 1));
  });
  return { edges, sources, overviewBin };
}
