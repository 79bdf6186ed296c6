// Which hit-map pads show the hits of the recent window instead of the whole
// run, and what the page holds of those recent maps. kivo keeps, per stave,
// the hits of the last complete window of the occupancy check's shortest
// length (update.json's recent_window) and sends a stave's recent map only
// when the page asks for it (recent=STAVE:HELD), once per window, each block
// holding the hits of its pixels in the window (whole numbers, in an integer
// array); the page draws the mean hits per pixel and event of each block.
const count = (n) => Number(n).toLocaleString('en-US');

// `map` (hits of each block in a window of `events` events) as the mean hits
// per pixel and event of each block, in place. The hits come as the narrowest
// unsigned integer array that holds them: the means go into floats.
function perPixelAndEvent(map, events) {
  const pixels = ((map.fXaxis.fXmax - map.fXaxis.fXmin) / map.fXaxis.fNbins) *
                 ((map.fYaxis.fXmax - map.fYaxis.fXmin) / map.fYaxis.fNbins);
  const divisor = pixels * (events || 1);
  const means = Float32Array.from(map.fArray);
  for (let cell = 0; cell < means.length; ++cell) means[cell] /= divisor;
  map.fArray = means;
  return map;
}

export class RecentMaps {
  constructor() {
    this.pads = new Set();  // pad names showing their recent map
    this.window = null;  // { events, version, first, last } as kivo last told it
    this.maps = new Map();  // stave -> { version, map }
  }

  shows(pad) {
    return this.pads.has(pad);
  }

  // Sets the pads shown recent; true when that changed.
  show(pads) {
    const next = new Set(pads);
    if (next.size === this.pads.size && [...next].every((pad) => this.pads.has(pad))) return false;
    this.pads = next;
    return true;
  }

  toggle(pad) {
    const next = new Set(this.pads);
    if (!next.delete(pad)) next.add(pad);
    this.show(next);
  }

  // "recent=1:5,3:5" for the staves `staveOf` gives the pads shown recent, or ''.
  query(staveOf) {
    const wanted = [...this.pads].map(staveOf).filter((stave) => stave !== undefined).sort();
    return wanted.length ? `recent=${wanted.map((s) => `${s}:${this.maps.get(s)?.version ?? 0}`).join(',')}` : '';
  }

  // Takes in an update; true when a map or the window changed.
  apply(update, reset) {
    if (reset) this.maps.clear();
    const before = JSON.stringify(this.window);
    this.window = update.recent_window ?? null;
    for (const entry of update.recent ?? [])
      this.maps.set(entry.stave, { version: entry.version, map: perPixelAndEvent(entry.map, this.window?.events) });
    return (update.recent?.length ?? 0) > 0 || before !== JSON.stringify(this.window);
  }

  // The recent map of `stave` for the window kivo holds now, or null.
  current(stave) {
    const held = this.maps.get(stave);
    return held && this.window?.version > 0 && held.version === this.window.version ? held.map : null;
  }

  // What the pad's control says: { text, title, recent } (null without a recent window in kivo).
  label(pad, stave) {
    if (!this.window?.events) return null;
    const length = `last ${count(this.window.events)} events`;
    if (!this.shows(pad))
      return { text: 'whole run', recent: false, title: `the whole run; click for the ${length}` };
    if (!this.current(stave)) {
      const why = this.window.version > 0 ? 'coming' : `no window of ${count(this.window.events)} events has ended yet`;
      return { text: `${length}: ${this.window.version > 0 ? 'loading' : 'none yet'}`, recent: true,
               title: `${why}: the whole run is shown meanwhile; click for the whole run` };
    }
    return { text: length, recent: true,
             title: `events ${count(this.window.first)}–${count(this.window.last)}, the last complete window: ` +
                    'each block the mean hits per pixel and event of its pixels; click for the whole run' };
  }
}
