// ROOT's web protocol as JSROOT itself speaks it: its hierarchy painter, in
// Node, opens kivo as it opens a ROOT application's THttpServer, and the
// objects it reads equal those of a save() taken at the same event count.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { HierarchyPainter, makeSVG, parse } from 'jsroot';
import { allSourcesRead, quitKivo, simulate, startKivo } from './support/kivo.mjs';
import { assertSameObject } from './support/rootfile.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-protocol-'));
const archive = join(workDir, 'archive');
mkdirSync(archive);
let kivo, url, saved;

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

before(async () => {
  const stream = simulate(workDir, 'run.kivo', ['-n', '1500', '--run', '7', '--end-run', '--seed', '3']);
  ({ kivo, url } = await startKivo(workDir, ['--archive', archive, stream]));
  await allSourcesRead(kivo);
  for (let i = 0; i < 100 && !(await (await fetch(`${url}runs.json`)).json()).runs.length; ++i) await sleep(100);
  const file = join(workDir, 'saved.json');
  kivo.send(`save("${file}")`);
  for (let i = 0; i < 100 && !existsSync(file); ++i) await sleep(100);
  saved = new Map(parse(readFileSync(file, 'utf8')).arr.map((object) => [object.fName, object]));
});

after(async () => {
  if (kivo) await quitKivo(kivo);
  rmSync(workDir, { recursive: true, force: true });
});

function childNames(item) {
  return (item?._childs ?? []).map((child) => child._name);
}

test('the hierarchy lists the hit maps, the verdicts, the canvas and the archived run', async () => {
  const painter = new HierarchyPainter('kivo', null);
  await painter.openOnline(url);
  const top = childNames(painter.h);
  for (let stave = 0; stave < 4; ++stave) assert.ok(top.includes(`h2d_chip_${stave}`), `h2d_chip_${stave} listed`);
  const quality = painter.findItem('Quality');
  assert.ok(childNames(quality).includes('quality_overall'));
  assert.ok(childNames(quality).some((name) => /^quality_occupancy_/.test(name)), 'the verdicts of each check');
  assert.equal(painter.findItem('h2d_chip_2')._kind, 'ROOT.TH2F');
  assert.equal(painter.findItem('Canvases')._childs[0]._kind, 'ROOT.TCanvas');
  const run = painter.findItem('Runs/run7.root');
  assert.equal(run?._kind, 'ROOT.TFile');
  assert.match(run._title, /^run 7, /);
  assert.ok(Number(painter.h._monitoring) > 0, 'the browser view monitors its drawings');
});

test('JSROOT reads hit maps, histograms, graphs and verdicts equal to those save() wrote', async () => {
  const painter = new HierarchyPainter('kivo', null);
  await painter.openOnline(url);
  for (const name of ['h2d_chip_2', 'hnhit_chip_1', 'gmpos_chip_0', 'h2d_chip_norm_3']) {
    const { obj } = await painter.getObject(name);
    assert.ok(obj, `${name} read`);
    assertSameObject(obj, saved.get(name), name);
  }
  const { obj: overall } = await painter.getObject('Quality/quality_overall');
  assert.equal(overall._typename, 'TNamed');
  assert.equal(overall.fTitle, saved.get('quality_overall').fTitle);
  const { obj: canvas } = await painter.getObject('Canvases/com');
  assert.equal(canvas._typename, 'TCanvas');
  // What the painter read, JSROOT draws.
  const { obj: hits } = await painter.getObject('hnhit_chip_1');
  const svg = await makeSVG({ object: hits, option: 'hist', width: 600, height: 400 });
  assert.match(svg, /^<svg[\s\S]*<path/);
});

test('an archived run is a folder of its keys, its objects read from the file', async () => {
  const response = await fetch(`${url}Runs/run7.root/h.json?compact=3`);
  assert.equal(response.status, 200);
  const folder = await response.json();
  assert.equal(folder._kind, 'ROOT.TFile');
  const names = childNames(folder);
  assert.ok(names.includes('h2d_chip_0') && names.includes('quality_overall'), names.join(' '));
  assert.ok(!names.includes('StreamerInfo'));
  const painter = new HierarchyPainter('kivo', null);
  await painter.openOnline(url);
  await painter.expandItem('Runs/run7.root');
  const { obj: map } = await painter.getObject('Runs/run7.root/h2d_chip_1');
  assertSameObject(map, saved.get('h2d_chip_1'), 'archived h2d_chip_1');
  const { obj: verdict } = await painter.getObject('Runs/run7.root/quality_overall');
  assert.equal(verdict.fTitle, saved.get('quality_overall').fTitle);
});

test('only the read-only requests are answered', async () => {
  for (const path of ['exe.json?method=Reset', 'h2d_chip_2/exe.json?method=Reset', 'cmd.json', 'h2d_chip_2/cmd.json',
                      'h.xml', 'h2d_chip_2/root.bin', 'no_such_object/root.json', 'Quality//h.json', 'h2d_chip_2/root.json?compact=x'])
    assert.ok([400, 404].includes((await fetch(url + path)).status), path);
  const posted = await fetch(`${url}h2d_chip_2/root.json`, { method: 'POST', body: '' });
  assert.equal(posted.status, 405);
  const compressed = await fetch(`${url}hnevent/root.json.gz?compact=23`);
  assert.equal(compressed.status, 200);
  assert.equal((await compressed.json())._typename, 'TH1D');
});
