// What the page adds to JSROOT's drawing of a hit map: a tooltip that names
// the chip, chip column and chip row and gives raw hits and hits per event,
// over every bin (JSROOT finds none over bins narrower than two screen
// pixels, as the overview's are on most screens, nor over empty ones);
// zooming by a drag however small (JSROOT zooms only along a side dragged
// over more than 5 screen pixels, and a hot spot of 50 x 20 pixels is 3 x 5
// screen pixels on the overview); and zooming to a rectangle from code.
import { binOf, binTooltip } from './pixels.mjs';

// A drag shorter than this along both sides is a click.
const CLICK_PX = 2;

// Makes `painter` (the hit map's TH2 painter in its pad) answer tooltips for
// stave `stave`; `events()` gives the events the drawn canvas counts,
// `recentWindow()` the recent window the map shows (null: the whole run).
export function decorateHitMap(painter, stave, events, recentWindow = () => null) {
  if (!painter || painter.$kivoDecorated) return;
  painter.$kivoDecorated = true;
  const lines = (i, j) => {
    const histogram = painter.getHisto();
    return binTooltip(stave, histogram, i, j, histogram.getBinContent(i + 1, j + 1), events(), recentWindow());
  };
  painter.getBinTooltips = lines;
  const frame = painter.getFramePainter();
  const jsrootTooltip = painter.processTooltipEvent.bind(painter);
  painter.processTooltipEvent = (point) => {
    const found = jsrootTooltip(point);
    if (found || !point || !frame) return found;
    const histogram = painter.getHisto();
    const i = binOf(histogram.fXaxis, frame.revertAxis('x', point.x));
    const j = binOf(histogram.fYaxis, frame.revertAxis('y', point.y));
    if (i === null || j === null) return null;
    return { name: histogram.fName, title: histogram.fTitle, x: point.x, y: point.y, color1: 'black', color2: 'white',
             lines: lines(i, j), exact: true };
  };
  if (frame) acceptSmallDrags(frame);
}

function framePoint(frame, evnt) {
  const node = frame.getFrameSvg().node();
  const matrix = node.getScreenCTM?.();
  if (!matrix) return null;
  const point = new DOMPoint(evnt.clientX, evnt.clientY).matrixTransform(matrix.inverse());
  return [Math.max(0, Math.min(frame.getFrameWidth(), point.x)),
          Math.max(0, Math.min(frame.getFrameHeight(), point.y))];
}

// Two ends at least CLICK_PX apart: a side dragged over less is widened.
function atLeastClick(a, b) {
  if (Math.abs(a - b) >= CLICK_PX) return [a, b];
  const middle = (a + b) / 2;
  return [middle - CLICK_PX / 2, middle + CLICK_PX / 2];
}

// After JSROOT has ended a rectangle selection, zooms along both sides
// where JSROOT found the drag too short along one of them.
function acceptSmallDrags(frame) {
  if (frame.$kivoSmallDrags) return;
  frame.$kivoSmallDrags = true;
  const endSelection = frame.endRectSel.bind(frame);
  frame.endRectSel = (evnt) => {
    const rectangle = frame.zoom_kind === 1 && frame.zoom_origin ? [...frame.zoom_origin] : null;
    const end = rectangle && framePoint(frame, evnt);
    const result = endSelection(evnt);
    if (!end) return result;
    const [dx, dy] = [Math.abs(end[0] - rectangle[0]), Math.abs(end[1] - rectangle[1])];
    if ((dx > 5 && dy > 5) || (dx < CLICK_PX && dy < CLICK_PX)) return result;
    const xs = atLeastClick(rectangle[0], end[0]).map((x) => frame.revertAxis('x', x));
    const ys = atLeastClick(rectangle[1], end[1]).map((y) => frame.revertAxis('y', y));
    return frame.zoom(Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys), undefined, undefined, true);
  };
}

// Zooms the frame of a hit-map pad to `rectangle` (axis values), as the
// operator's own zoom, which later updates keep.
export function zoomTo(frame, rectangle) {
  return frame.zoom(rectangle.x1, rectangle.x2, rectangle.y1, rectangle.y2, undefined, undefined, true);
}
