// kivo sends its hit maps at screen resolution already, but a canvas published
// as it is (or a view beside it) may hold 2D histograms with far more bins than
// their pads have pixels, and JSROOT walks every bin several times per redraw.
// Before the page draws a canvas, each histogram with more than twice as many
// bins as pixels along an axis is merged down to at most one bin per pixel,
// keeping the largest content of the bins merged so that a single hot pixel
// still shows in its colour.

function isMergeable2D(object) {
  return /^TH2[FDIS]$/.test(object?._typename ?? '') &&
         object.fXaxis.fXbins.length === 0 && object.fYaxis.fXbins.length === 0;
}

// Smallest divisor of nbins that brings the bin count down to the pixel count.
export function mergeFactor(nbins, pixels) {
  if (pixels < 1 || nbins <= pixels) return 1;
  let factor = Math.ceil(nbins / pixels);
  while (nbins % factor !== 0) ++factor;
  return factor;
}

function mergedAxisRange(axis, factor) {
  axis.fNbins /= factor;
  if (axis.fFirst > 0) axis.fFirst = Math.floor((axis.fFirst - 1) / factor) + 1;
  if (axis.fLast > 0) axis.fLast = Math.ceil(axis.fLast / factor);
}

// Replaces the histogram's bins by the maxima over fx x fy blocks, in place.
export function mergeBinsByMaximum(histogram, fx, fy) {
  const nx = histogram.fXaxis.fNbins, ny = histogram.fYaxis.fNbins;
  const mx = nx / fx, my = ny / fy;
  const source = histogram.fArray;
  const merged = new source.constructor((mx + 2) * (my + 2)).fill(-Infinity);
  const mergedColumn = new Int32Array(nx + 1);
  for (let i = 1; i <= nx; ++i) mergedColumn[i] = Math.floor((i - 1) / fx) + 1;
  for (let j = 1; j <= ny; ++j) {
    const row = (Math.floor((j - 1) / fy) + 1) * (mx + 2);
    const sourceRow = j * (nx + 2);
    for (let i = 1; i <= nx; ++i) {
      const cell = row + mergedColumn[i];
      const content = source[sourceRow + i];
      if (content > merged[cell]) merged[cell] = content;
    }
  }
  for (let cell = 0; cell < merged.length; ++cell)
    if (merged[cell] === -Infinity) merged[cell] = 0;
  histogram.fArray = merged;
  histogram.fNcells = merged.length;
  histogram.fSumw2 = [];
  mergedAxisRange(histogram.fXaxis, fx);
  mergedAxisRange(histogram.fYaxis, fy);
}

function framePixels(pad, width, height) {
  return {
    x: Math.floor(pad.fAbsWNDC * width * (1 - pad.fLeftMargin - pad.fRightMargin)),
    y: Math.floor(pad.fAbsHNDC * height * (1 - pad.fBottomMargin - pad.fTopMargin)),
  };
}

// Walks the canvas and its pads; returns how many histograms were merged.
export function mergeToScreenResolution(pad, width, height) {
  let merged = 0;
  const pixels = framePixels(pad, width, height);
  for (const object of pad.fPrimitives?.arr ?? []) {
    if (object?._typename === 'TPad') {
      merged += mergeToScreenResolution(object, width, height);
    } else if (isMergeable2D(object)) {
      const fx = object.fXaxis.fNbins > 2 * pixels.x ? mergeFactor(object.fXaxis.fNbins, pixels.x) : 1;
      const fy = object.fYaxis.fNbins > 2 * pixels.y ? mergeFactor(object.fYaxis.fNbins, pixels.y) : 1;
      if (fx > 1 || fy > 1) {
        mergeBinsByMaximum(object, fx, fy);
        ++merged;
      }
    }
  }
  return merged;
}
