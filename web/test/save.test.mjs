// The file written by kivo's save() command, read back by JSROOT as ROOT JSON:
// one TList with the monitor's histograms, beam-position graphs and canvas.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parse } from 'jsroot';
import { buildProgram } from './support/processes.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-save-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

// Stave 0, chip 3, chip row 200, column 17 (displayed row 311, stave-wide
// column 3089), twice; and one hit on stave 3, chip 8.
const events = `run 4
event
hit 1 4 200 17
hit 1 9 10 10
event
hit 1 4 200 17
`;

function saveMonitor() {
  const text = join(workDir, 'run.txt');
  const stream = join(workDir, 'run.kevt');
  const saved = join(workDir, 'monitor.json');
  writeFileSync(text, events);
  execFileSync(buildProgram('bin', 'kivo-pack'), [text, stream]);
  execFileSync(buildProgram('bin', 'kivo'),
    ['-b', '-q', '-e', 'run();', '-e', 'OM();', '-e', `save("${saved}")`, stream],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  return parse(readFileSync(saved, 'utf8'));
}

function byName(list, name) {
  return list.arr.find((object) => object.fName === name);
}

test('save() writes one TList that JSROOT reads with every monitor object', () => {
  const list = saveMonitor();
  assert.equal(list._typename, 'TList');

  for (let stave = 0; stave < 4; ++stave) {
    assert.equal(byName(list, `h2d_chip_${stave}`)?._typename, 'TH2F', `h2d_chip_${stave}`);
    assert.equal(byName(list, `gmpos_chip_${stave}`)?._typename, 'TGraphAsymmErrors', `gmpos_chip_${stave}`);
  }
  const hitMap = byName(list, 'h2d_chip_0');
  const nx = hitMap.fXaxis.fNbins;
  assert.equal(nx, 9216);
  assert.equal(hitMap.fArray[(311 + 1) * (nx + 2) + 3089 + 1], 2);
  assert.equal(hitMap.fEntries, 2);
  assert.equal(byName(list, 'hnevent').fEntries, 2);

  const canvases = list.arr.filter((object) => object._typename === 'TCanvas');
  assert.equal(canvases.length, 1);
  assert.equal(canvases[0].fTitle, 'KIVO online monitoring');
});
