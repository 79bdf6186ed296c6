// Where a hit-map bin lies on the detector, for the operator who masks pixels:
// a stave-wide column is chip x 1024 + chip column, a displayed row is 511 -
// chip row (the maps show the sensor the right way up). Bins are centred on
// whole columns and rows (edges at half-integers). Tooltip lines, the
// rectangles the "go to" box and the panel's reasons zoom to, no drawing.

export const CHIPS = 9;
export const CHIP_COLUMNS = 1024;
export const CHIP_ROWS = 512;
export const STAVE_COLUMNS = CHIPS * CHIP_COLUMNS;

// Columns and rows around a pixel that a zoom to it shows: small enough that
// every pixel gets its own bin on any screen.
const AROUND_COLUMNS = 24;
const AROUND_ROWS = 6;

export function chipOf(column) {
  return Math.floor(column / CHIP_COLUMNS);
}

export function chipPixel(column, displayedRow) {
  return { chip: chipOf(column), column: column % CHIP_COLUMNS, row: CHIP_ROWS - 1 - displayedRow };
}

// The whole columns and displayed rows of bin i, j (from 0) of a drawn map.
export function binPixels(histogram, i, j) {
  const [x1, x2] = binEdges(histogram.fXaxis, i);
  const [y1, y2] = binEdges(histogram.fYaxis, j);
  return { firstColumn: Math.round(x1 + 0.5), lastColumn: Math.round(x2 - 0.5),
           firstRow: Math.round(y1 + 0.5), lastRow: Math.round(y2 - 0.5) };
}

// The bin (from 0) of `axis` holding `value`, or null outside the axis.
export function binOf(axis, value) {
  if (axis.fXbins?.length) {
    const edges = axis.fXbins;
    if (!(value >= edges[0] && value < edges[edges.length - 1])) return null;
    let low = 0, high = edges.length - 1;
    while (high - low > 1) {
      const middle = (low + high) >> 1;
      if (value < edges[middle]) high = middle;
      else low = middle;
    }
    return low;
  }
  if (!(value >= axis.fXmin && value < axis.fXmax)) return null;
  return Math.min(axis.fNbins - 1, Math.floor(((value - axis.fXmin) / (axis.fXmax - axis.fXmin)) * axis.fNbins));
}

function binEdges(axis, bin) {
  if (axis.fXbins?.length) return [axis.fXbins[bin], axis.fXbins[bin + 1]];
  const width = (axis.fXmax - axis.fXmin) / axis.fNbins;
  return [axis.fXmin + bin * width, axis.fXmin + (bin + 1) * width];
}

const range = (first, last) => (first === last ? `${first}` : `${first}–${last}`);

function formatShare(value) {
  if (value === 0) return '0';
  return value >= 0.01 ? value.toPrecision(3) : value.toExponential(2);
}

// The tooltip of a hit-map bin of stave `stave` holding `content` hits per
// event, the canvas counting `events` events: the chip and its column and
// row, the raw hits and the hits per event; for a block of pixels, their
// ranges and the largest of them, or, on a recent map (`recent`: its window
// { events, first, last }), their hits in the window and the mean per pixel.
export function binTooltip(stave, histogram, i, j, content, events, recent = null) {
  const p = binPixels(histogram, i, j);
  const first = chipPixel(p.firstColumn, p.lastRow);
  const last = chipPixel(p.lastColumn, p.firstRow);
  const single = p.firstColumn === p.lastColumn && p.firstRow === p.lastRow;
  const chips = first.chip === last.chip ? `chip ${first.chip}` : `chips ${first.chip}–${last.chip}`;
  const columns = first.chip === last.chip ? range(first.column, last.column)
                                           : `${first.column}–${CHIP_COLUMNS - 1}, 0–${last.column}`;
  const lines = [`stave ${stave}, ${chips}`,
                 `chip column ${columns}, chip row ${range(first.row, last.row)}`];
  const hits = events > 0 ? `${Math.round(content * events)} hits` : 'hits not counted yet';
  const perEvent = `${formatShare(content)} per event`;
  if (recent) {
    const count = (p.lastColumn - p.firstColumn + 1) * (p.lastRow - p.firstRow + 1);
    const inWindow = Math.round(content * count * recent.events);
    lines.push(`events ${recent.first}–${recent.last}: ${inWindow} hits in these ${count} pixels`,
               `${formatShare(content)} per pixel and event`);
  } else if (single) {
    lines.push(`${hits}, ${perEvent}`);
  } else {
    const count = (p.lastColumn - p.firstColumn + 1) * (p.lastRow - p.firstRow + 1);
    lines.push(`most in one of these ${count} pixels: ${hits}, ${perEvent}`, 'zoom in for single pixels');
  }
  return lines;
}

// The rectangle (axis values: stave-wide columns, displayed rows) that shows
// chip `chip` whole.
export function chipRectangle(chip) {
  return { x1: chip * CHIP_COLUMNS - 0.5, x2: (chip + 1) * CHIP_COLUMNS - 0.5, y1: -0.5, y2: CHIP_ROWS - 0.5 };
}

// The rectangle around the pixel at stave-wide `column` and displayed `row`.
export function pixelRectangle(column, row) {
  const x1 = Math.min(Math.max(column - AROUND_COLUMNS, 0), STAVE_COLUMNS - 2 * AROUND_COLUMNS - 1);
  const y1 = Math.min(Math.max(row - AROUND_ROWS, 0), CHIP_ROWS - 2 * AROUND_ROWS - 1);
  return { x1: x1 - 0.5, x2: x1 + 2 * AROUND_COLUMNS + 0.5, y1: y1 - 0.5, y2: y1 + 2 * AROUND_ROWS + 0.5 };
}

// What the "go to" box holds: "CHIP" or "CHIP/COLUMN/ROW" (chip column and
// chip row). Returns { rectangle, column, row } or { problem }.
export function parsePlace(text) {
  const fields = text.trim().split(/\s*[/,\s]\s*/).filter((field) => field !== '');
  const numbers = fields.map(Number);
  if ((fields.length !== 1 && fields.length !== 3) || !numbers.every(Number.isInteger))
    return { problem: 'give a chip (0–8), or chip/column/row' };
  const [chip, column, row] = numbers;
  if (chip < 0 || chip >= CHIPS) return { problem: `no chip ${chip}: chips 0–${CHIPS - 1}` };
  if (fields.length === 1) return { rectangle: chipRectangle(chip) };
  if (column < 0 || column >= CHIP_COLUMNS) return { problem: `no column ${column}: columns 0–${CHIP_COLUMNS - 1}` };
  if (row < 0 || row >= CHIP_ROWS) return { problem: `no row ${row}: rows 0–${CHIP_ROWS - 1}` };
  const staveColumn = chip * CHIP_COLUMNS + column;
  const displayedRow = CHIP_ROWS - 1 - row;
  return { rectangle: pixelRectangle(staveColumn, displayedRow), column: staveColumn, row: displayedRow };
}

// The place a quality row names: the pixel of a reason saying "column C row R"
// (stave-wide column, displayed row, as the hot-pixel check writes them), else
// the chip of a Medium or Bad row. Null when it names none or no stave.
export function placeOfRow(row) {
  if (!Number.isInteger(row?.stave)) return null;
  const pixel = /\bcolumn (\d+),? row (\d+)\b/.exec(row.reason ?? '');
  if (pixel) {
    const [column, displayedRow] = [Number(pixel[1]), Number(pixel[2])];
    if (column < STAVE_COLUMNS && displayedRow < CHIP_ROWS)
      return { stave: row.stave, rectangle: pixelRectangle(column, displayedRow) };
  }
  const faulty = row.verdict === 'Medium' || row.verdict === 'Bad';
  if (faulty && Number.isInteger(row.chip) && row.chip >= 0 && row.chip < CHIPS)
    return { stave: row.stave, rectangle: chipRectangle(row.chip) };
  return null;
}
