// A canvas laid out like the monitoring canvas (nine named pads, four of them hit maps
// drawn "colz", and a run / event-count label on the canvas) in ROOT's JSON, for tests
// that need a drawable canvas without the monitor.
const padNames = ['phitrate', 'pnhit', 'pmean', 'pdiffcol', 'pdiffrow',
                  'p2d_0', 'p2d_1', 'p2d_2', 'p2d_3'];

function axis(name, nbins, min, max) {
  return {
    _typename: 'TAxis', fUniqueID: 0, fBits: 0, fName: name, fTitle: '',
    fNdivisions: 510, fAxisColor: 1, fLabelColor: 1, fLabelFont: 42, fLabelOffset: 0.005,
    fLabelSize: 0.035, fTickLength: 0.03, fTitleOffset: 1, fTitleSize: 0.035, fTitleColor: 1,
    fTitleFont: 42, fNbins: nbins, fXmin: min, fXmax: max, fXbins: [], fFirst: 0, fLast: 0,
    fBits2: 0, fTimeDisplay: false, fTimeFormat: '', fLabels: null, fModLabs: null,
  };
}

function histogram(name, title, contents) {
  const cells = [0, ...contents, 0];
  return {
    _typename: 'TH1F', fUniqueID: 0, fBits: 520, fName: name, fTitle: title,
    fLineColor: 602, fLineStyle: 1, fLineWidth: 1, fFillColor: 0, fFillStyle: 1001,
    fMarkerColor: 1, fMarkerStyle: 1, fMarkerSize: 1, fNcells: cells.length,
    fXaxis: axis('xaxis', contents.length, 0, contents.length),
    fYaxis: axis('yaxis', 1, 0, 1), fZaxis: axis('zaxis', 1, 0, 1),
    fBarOffset: 0, fBarWidth: 1000, fEntries: contents.reduce((a, b) => a + b, 0),
    fTsumw: 0, fTsumw2: 0, fTsumwx: 0, fTsumwx2: 0,
    fMaximum: -1111, fMinimum: -1111, fNormFactor: 0, fContour: [], fSumw2: [], fOption: '',
    fFunctions: { _typename: 'TList', name: 'TList', arr: [], opt: [] },
    fBufferSize: 0, fBuffer: [], fBinStatErrOpt: 0, fStatOverflows: 2, fArray: cells,
  };
}

// A stave hit map as the monitor books it (9216 x 512 bins), sent in JSROOT's
// compressed array form: a square beam spot whose size follows the event count.
function hitMap(name, events) {
  const nx = 9216, ny = 512, spot = 5 + (events % 20);
  const segments = {};
  for (let row = 0; row < spot; ++row) {
    const suffix = row === 0 ? '' : String(row);
    segments[`p${suffix}`] = (ny / 2 + row) * (nx + 2) + nx / 2;
    segments[`v${suffix}`] = Array.from({ length: spot }, (_, col) => 0.01 * (1 + ((row + col) % 7)));
  }
  return {
    ...histogram(name, '', []),
    _typename: 'TH2F', fBits: 520, fNcells: (nx + 2) * (ny + 2),
    fXaxis: axis('xaxis', nx, -0.5, nx - 0.5), fYaxis: axis('yaxis', ny, -0.5, ny - 0.5),
    fMinimum: 1e-6, fMaximum: 1, fScalefactor: 1, fTsumwy: 0, fTsumwy2: 0, fTsumwxy: 0,
    fArray: { $arr: 'Float32', len: (nx + 2) * (ny + 2), ...segments },
  };
}

function latex(text, x, y, size) {
  return {
    _typename: 'TLatex', fUniqueID: 0, fBits: 16384, fName: 'label', fTitle: text,
    fTextAngle: 0, fTextSize: size, fTextAlign: 12, fTextColor: 1, fTextFont: 42,
    fX: x, fY: y, fLineColor: 1, fLineStyle: 1, fLineWidth: 2, fLimitFactorSize: 3,
    fOriginSize: size,
  };
}

function pad(name, x, y, w, h, primitives) {
  return {
    _typename: 'TPad', fUniqueID: 0, fBits: 0, fName: name, fTitle: name,
    fLineColor: 1, fLineStyle: 1, fLineWidth: 1, fFillColor: 0, fFillStyle: 1001,
    fLeftMargin: 0.12, fRightMargin: 0.05, fBottomMargin: 0.12, fTopMargin: 0.1,
    fX1: 0, fY1: 0, fX2: 1, fY2: 1, fUxmin: 0, fUymin: 0, fUxmax: 0, fUymax: 0,
    fXlowNDC: x, fYlowNDC: y, fXUpNDC: x + w, fYUpNDC: y + h, fWNDC: w, fHNDC: h,
    fAbsXlowNDC: x, fAbsYlowNDC: y, fAbsWNDC: w, fAbsHNDC: h,
    fTickx: 0, fTicky: 0, fLogx: 0, fLogy: 0, fLogz: 0, fGridx: false, fGridy: false,
    fBorderSize: 2, fBorderMode: 0, fNumber: 0, fEditable: true,
    fPrimitives: { _typename: 'TList', name: 'TList', arr: primitives, opt: primitives.map(() => '') },
  };
}

// Pad corners: two columns of small pads on the left half, four hit-map pads stacked
// on the right half, all below a strip for the label.
function padCorner(index) {
  if (index < 5) {
    const column = index < 3 ? 0 : 1;
    const rows = column === 0 ? 3 : 2;
    const row = column === 0 ? index : index - 3;
    const h = 0.95 / rows;
    return [column * 0.25, 0.95 - (row + 1) * h, 0.25, h];
  }
  const h = 0.95 / 4;
  return [0.5, 0.95 - (index - 4) * h, 0.5, h];
}

export function ninePadCanvas({ run, events }) {
  const pads = padNames.map((name, index) => {
    const [x, y, w, h] = padCorner(index);
    if (name.startsWith('p2d_')) {
      const mapPad = pad(name, x, y, w, h, [hitMap(`h2d_${name}`, events)]);
      mapPad.fPrimitives.opt = ['colz'];
      mapPad.fLogz = 1;
      return mapPad;
    }
    const contents = Array.from({ length: 20 }, (_, bin) => ((bin * 7 + index + events) % 13) + 1);
    return pad(name, x, y, w, h, [histogram(`h_${name}`, name, contents)]);
  });
  const label = latex(`Run ${run}, ${events} events`, 0.02, 0.975, 0.03);
  const canvas = pad('com', 0, 0, 1, 1, [...pads, label]);
  Object.assign(canvas, { _typename: 'TCanvas', fName: 'com', fTitle: 'KIVO online monitoring', fCw: 1600, fCh: 800 });
  return JSON.stringify(canvas);
}

export { padNames };
