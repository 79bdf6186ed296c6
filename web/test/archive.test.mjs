// The run archive read back by JSROOT's own reader: with the refresh off,
// each run's file holds the derived objects that OM() computes for that run
// processed alone, names its run, times, events and version in objects found
// by name, keeps the no-statistics bit the page draws with, and holds the
// final verdicts as a check-by-stave histogram with labelled bins.
import { test, after, before } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { buildProgram } from './support/processes.mjs';
import { openFile } from 'jsroot';
import { assertSameObject, jsonObjects, readJsonSave } from './support/rootfile.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-archive-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

// Three runs of other beams and sizes: 11 ends with an end-run event, 12 by
// the begin-run of 13, and 13 when kivo exits.
const RUNS = [
  { run: 11, args: ['-n', '400', '--seed', '1', '--beam-col', '3000', '--end-run'] },
  { run: 12, args: ['-n', '300', '--seed', '2', '--beam-col', '6000', '--beam-row', '100'] },
  { run: 13, args: ['-n', '200', '--seed', '3', '--beam-col', '8000', '--noise', '4'] },
];
const DERIVED = /^(hhitrate_chip|hwarnrate_chip|herrrate_chip|hnhit_chip_norm_\d|h2d_chip_norm_\d|hdiff(row|col)_chip_norm_\d|gmpos_chip_\d)$/;
const NO_STATS = 512;

let archive;
const aloneSaves = new Map();
const archived = new Map();  // run -> { file, objects } as JSROOT reads them

function kivo(args) {
  const result = spawnSync(buildProgram('bin', 'kivo'), ['-b', '-q', ...args], { encoding: 'utf8' });
  assert.equal(result.status, 0, result.stderr);
  return result;
}

before(() => {
  const streams = RUNS.map(({ run, args }) => {
    const file = join(workDir, `run${run}.kevt`);
    execFileSync(buildProgram('bin', 'kivo-sim'), ['--run', String(run), ...args, '-o', file]);
    return file;
  });
  const all = join(workDir, 'all.kevt');
  writeFileSync(all, Buffer.concat(streams.map((file) => readFileSync(file))));
  archive = join(workDir, 'runs');
  mkdirSync(archive);
  kivo(['--archive', archive, all]);
  RUNS.forEach(({ run }, i) => {
    const saved = join(workDir, `alone${run}.json`);
    kivo(['-e', 'run()', '-e', 'OM()', '-e', `save("${saved}")`, streams[i]]);
    aloneSaves.set(run, jsonObjects(readJsonSave(saved)));
  });
});

// What the tests look at: the derived objects, the raw ones they come from
// (the hit map of one stave stands for the others), and the small objects.
function looked(key) {
  return !/^(h2d_chip_[123]|hhittime_chip_\d|trend_.*|StreamerInfo)$/.test(key.fName);
}

async function readRun(run) {
  if (!archived.has(run)) {
    const file = await openFile(join(archive, `run${run}.root`));
    const objects = new Map();
    for (const key of file.fKeys.filter(looked)) objects.set(key.fName, await file.readObject(key.fName));
    archived.set(run, { file, objects });
  }
  return archived.get(run);
}

test('with the refresh off each run file holds its run alone: raw and derived objects as OM() makes them', async () => {
  for (const { run } of RUNS) {
    const { objects } = await readRun(run);
    const alone = aloneSaves.get(run);
    let derived = 0;
    for (const [name, expected] of alone) {
      // The checks judge other moments; the hit-time histograms go on across runs.
      if (name.startsWith('quality_') || !looked({ fName: name })) continue;
      assert.ok(objects.has(name), `run${run}.root holds ${name}`);
      assertSameObject(objects.get(name), expected, `run${run}.root ${name}`);
      if (DERIVED.test(name)) derived += 1;
    }
    assert.equal(derived, 3 + 4 * 5, `run ${run}: every derived object compared`);
    assert.equal(objects.get('gmpos_chip_0').fNpoints, 1, `run ${run}: a fitted beam`);
  }
});

test('each file names its run, times, events, streams and version, and titles itself', async () => {
  for (const { run, args } of RUNS) {
    const { file, objects } = await readRun(run);
    const fact = (name) => objects.get(name)?.fTitle;
    assert.equal(file.fTitle, `KIVO run ${run}`);
    assert.equal(fact('run_number'), String(run));
    assert.equal(fact('run_data_events'), args[1]);
    assert.match(fact('run_first_event'), /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    assert.ok(fact('run_last_event') >= fact('run_first_event'));
    assert.equal(fact('run_begin_seen'), 'yes');
    assert.equal(fact('run_end_seen'), run === 11 ? 'yes' : 'no');
    assert.equal(fact('run_streams'), join(workDir, 'all.kevt'));
    const version = spawnSync(buildProgram('bin', 'kivo'), ['--version'], { encoding: 'utf8' }).stdout;
    assert.equal(version, `kivo (KIVO) ${fact('kivo_version')}\n`);
    assert.match(fact('quality_checks'), /^# data-quality checks in force, from built-in defaults\n/);
    assert.equal(objects.get('masklist_testbench1')?._typename, 'TNamed');
  }
});

test('histograms keep the no-statistics bit; the verdicts are numbers by check and stave', async () => {
  const { objects } = await readRun(11);
  for (const [name, object] of objects)
    if (object._typename.startsWith('TH')) assert.equal(object.fBits & NO_STATS, NO_STATS, `${name} draws without statistics`);

  const verdicts = objects.get('quality_verdicts');
  assert.equal(verdicts._typename, 'TH2F');
  const label = (axis, bin) => axis.fLabels.arr.find((entry) => entry.fUniqueID === bin)?.fString;
  const checks = Array.from({ length: verdicts.fXaxis.fNbins }, (_, i) => label(verdicts.fXaxis, i + 1));
  assert.ok(checks.includes('occupancy') && checks.includes('hot_pixels'), checks.join(', '));
  assert.equal(label(verdicts.fYaxis, 1), 'detector');
  assert.equal(label(verdicts.fYaxis, 2), 'stave 0');
  const nx = verdicts.fXaxis.fNbins + 2;
  const code = (check, row) => verdicts.fArray[(row + 1) * nx + checks.indexOf(check) + 1];
  const verdictOf = (name) => objects.get(name).fTitle.split(':')[0];
  const codes = { Null: 0, Good: 1, Medium: 2, Bad: 3 };
  assert.equal(code('hot_pixels', 1), codes[verdictOf('quality_hot_pixels_0')], 'hot pixels on stave 0');
  assert.equal(code('missing_packet', 0), codes[verdictOf('quality_missing_packet')], 'the whole detector');
  assert.ok(objects.get('quality_overall').fTitle.length > 0);
});
