// Text on the canvas stays readable. ROOT sizes text as a share of its pad's
// smaller side, which on the flat hit-map pads gives tick labels of 6 pixels
// on a 1920-pixel screen. Before a canvas is drawn, the axis labels and
// titles and the centred pad titles that would come out smaller than the
// smallest size are raised to it: 10 pixels on a canvas 750 pixels high (a
// 1920 x 1080 window), in proportion on other canvases, never below 8 nor
// above 14. The numbers the monitor writes beside its curves keep its size:
// they are placed to just fit. The monitor's own sizes are kept beside, so
// that a larger window gets them back. Nothing else of the canvas changes.

const CENTRED = 22;

// The smallest text in pixels on a canvas `height` pixels high.
export function smallestText(height) {
  return Math.max(8, Math.min(14, (10 * height) / 750));
}

const AXES = ['fXaxis', 'fYaxis', 'fZaxis'];

// The size (a share of the pad's smaller side) that gives at least minPx
// pixels on a pad whose smaller side is `side` pixels.
function readable(size, side, minPx) {
  if (!(size > 0 && size < 1) || size * side >= minPx) return size;
  return minPx / side;
}

function raiseAxis(axis, side, minPx) {
  if (!axis) return;
  axis.$monitorLabelSize ??= axis.fLabelSize;
  axis.$monitorTitleSize ??= axis.fTitleSize;
  axis.fLabelSize = readable(axis.$monitorLabelSize, side, minPx);
  axis.fTitleSize = readable(axis.$monitorTitleSize, side, minPx);
}

function raiseObject(object, side, minPx) {
  if (!object) return;
  for (const name of AXES) raiseAxis(object[name], side, minPx);
  if (object.fHistogram) raiseObject(object.fHistogram, side, minPx);
  if ('fTextSize' in object && object.fTextAlign === CENTRED) {
    object.$monitorTextSize ??= object.fTextSize;
    object.fTextSize = readable(object.$monitorTextSize, side, minPx);
  }
}

// Raises the text sizes of `pad` (a canvas drawn `width` x `height` pixels,
// or a pad in it) and its sub-pads in place; the pad named `enlarged`, if
// any, is drawn over the whole canvas.
export function raiseTextSizes(pad, width, height, { enlarged = null, minPx = smallestText(height) } = {}) {
  const whole = pad._typename === 'TCanvas' || pad.fName === enlarged;
  const side = whole ? Math.min(width, height)
                     : Math.min(pad.fAbsWNDC * width, pad.fAbsHNDC * height);
  if (!(side > 0)) return;
  for (const object of pad.fPrimitives?.arr ?? []) {
    if (object?._typename === 'TPad') raiseTextSizes(object, width, height, { enlarged, minPx });
    else raiseObject(object, side, minPx);
  }
}
