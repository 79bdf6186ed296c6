// The ROOT files kivo writes, read back by JSROOT's own reader: save("x.root")
// and the run archive (kivo --archive DIR) hold every monitor histogram and
// graph, equal to the JSON save of the same run (after an OM() for the
// archive, whose derived objects are those of the run's end); an archive
// write that fails leaves no partial file and events are processed on.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { buildProgram } from './support/processes.mjs';
import {
  assertSameAsJsonSave, assertSameObject, jsonObjects, monitorObjects, packStream, readJsonSave, readRootFile,
} from './support/rootfile.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-rootfile-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

// Run 4: three events on stave 0 (chip 3, row 200, column 17 and its
// neighbour), ended by an end-run event; run 5: two events on stave 3.
const twoRuns = `run 4
event
hit 1 4 200 17
hit 1 4 200 18
event
hit 1 4 200 17
event
hit 1 4 201 17
end 4
run 5
event
hit 1 9 10 10
event
hit 1 9 10 10
hit 1 9 11 10
`;

function kivo(args) {
  const result = spawnSync(buildProgram('bin', 'kivo'), ['-b', '-q', ...args], { encoding: 'utf8' });
  return { status: result.status, stderr: result.stderr };
}

function freshDir(name) {
  const dir = join(workDir, name);
  mkdirSync(dir);
  return dir;
}

test('save("x.root") holds every monitor histogram and graph as the JSON save does', async () => {
  const dir = freshDir('save');
  const stream = packStream(dir, 'run', twoRuns);
  const root = join(dir, 'monitor.root');
  const json = join(dir, 'monitor.json');
  const run = kivo(['-e', 'run()', '-e', 'OM()', '-e', `save("${root}")`, '-e', `save("${json}")`, stream]);
  assert.equal(run.status, 0, run.stderr);

  const read = await readRootFile(root);
  const objects = monitorObjects(read);
  assert.equal(objects.get('h2d_chip_3')._typename, 'TH2F');
  assert.equal(objects.get('gmpos_chip_0')._typename, 'TGraphAsymmErrors');
  assert.equal(objects.get('hnevent').fEntries, 2, 'the events of run 5');
  assertSameAsJsonSave(objects, jsonObjects(readJsonSave(json)));
});

test('save() refuses a file type it does not write, and writes nothing', () => {
  const dir = freshDir('refused');
  const stream = packStream(dir, 'run', twoRuns);
  const target = join(dir, 'monitor.txt');
  const run = kivo(['-e', 'run()', '-e', `save("${target}")`, stream]);
  assert.notEqual(run.status, 0);
  assert.match(run.stderr, /monitor\.txt: unknown file type '\.txt'; save\(\) writes \.json .* or \.root/);
  assert.equal(existsSync(target), false);
});

test('--archive writes each run once, when it ends, with its own contents', async () => {
  const dir = freshDir('archive');
  const archive = freshDir('archive/runs');
  const stream = packStream(dir, 'runs', twoRuns);
  const run4 = join(dir, 'run4.json');
  const run5 = join(dir, 'run5.json');
  // Five events take run 4 to its end-run event; the JSON saves after an
  // OM() see what the archive holds of each run.
  const run = kivo(['--archive', archive, '-e', 'run(5)', '-e', 'OM()', '-e', `save("${run4}")`, '-e', 'run()',
    '-e', 'OM()', '-e', `save("${run5}")`, stream]);
  assert.equal(run.status, 0, run.stderr);
  assert.deepEqual(readdirSync(archive).filter((name) => name.endsWith('.root')).sort(), ['run4.root', 'run5.root'],
                   'the end-run and begin-run write run 4 once');

  // Run 4 hits stave 0 four times; run 5 starts from empty maps and hits stave 3.
  for (const [file, json, events, stave0Hits] of [['run4.root', run4, 3, 4], ['run5.root', run5, 2, 0]]) {
    const objects = monitorObjects(await readRootFile(join(archive, file)));
    assert.equal(objects.get('hnevent').fEntries, events, `${file}: its own events`);
    assert.equal(objects.get('h2d_chip_0').fEntries, stave0Hits, `${file}: its own hits`);
    assert.equal(objects.get('run_data_events').fTitle, String(events), `${file}: its own facts`);
    for (const [name, saved] of jsonObjects(readJsonSave(json))) {
      if (name.startsWith('quality_') || name.startsWith('trend_')) continue;
      assertSameObject(objects.get(name), saved, `${file} ${name}`);
    }
  }
});

test('--archive keeps an existing file of the same run and says where the run went', async () => {
  const dir = freshDir('existing');
  const archive = freshDir('existing/runs');
  writeFileSync(join(archive, 'run4.root'), 'kept');
  const stream = packStream(dir, 'run', 'run 4\nevent\nhit 1 4 200 17\n');
  const run = kivo(['--archive', archive, '-e', 'run()', '-e', 'sources()', stream]);
  assert.equal(run.status, 0, run.stderr);
  assert.equal(readFileSync(join(archive, 'run4.root'), 'utf8'), 'kept');
  assert.match(run.stderr, /run4\.root exists; run 4 written to .*run4_1\.root/);
  assert.match(run.stderr, /archive .*runs: (no run written yet|last run written to)/);
  const objects = monitorObjects(await readRootFile(join(archive, 'run4_1.root')));
  assert.equal(objects.get('hnevent').fEntries, 1);
});

test('--archive refuses a directory it cannot use before reading any event', () => {
  const dir = freshDir('unusable');
  const stream = packStream(dir, 'run', twoRuns);
  const missing = join(dir, 'missing');
  const run = kivo(['--archive', missing, '-e', 'run()', '-e', 'sources()', stream]);
  assert.equal(run.status, 2);
  assert.match(run.stderr, new RegExp(`kivo: --archive: ${missing}: No such file or directory \\(see kivo --help\\)`));
  assert.doesNotMatch(run.stderr, /events processed/);
  writeFileSync(join(dir, 'plain'), '');
  assert.match(kivo(['--archive', join(dir, 'plain'), stream]).stderr, /plain: not a directory/);
});

// kivo with its archive directory on a full disk: a tmpfs of 200 kB in a
// mount namespace of its own where that can be made, else a limit on the
// size of files it writes. Returns the result and what the directory holds
// afterwards.
function kivoOnFullDisk(archive, args) {
  const program = buildProgram('bin', 'kivo');
  const script = 'dir=$1; shift; mount -t tmpfs -o size=200k tmpfs "$dir" || exit 1; "$@"; status=$?; ' +
    'echo "left in the archive: [$(ls -A "$dir")]" >&2; exit $status';
  const tmpfs = spawnSync('unshare', ['-rm', 'sh', '-c', script, 'sh', archive, program, ...args], { encoding: 'utf8' });
  // The line is missing when no namespace or tmpfs could be made.
  const left = /left in the archive: \[(.*)\]/.exec(tmpfs.stderr ?? '')?.[1];
  if (left !== undefined) return { status: tmpfs.status, stderr: tmpfs.stderr, left: left ? left.split(/\s+/) : [] };
  const limited = spawnSync('sh', ['-c', 'trap "" XFSZ; ulimit -f 200; exec "$@"', 'sh', program, ...args],
    { encoding: 'utf8' });
  return { status: limited.status, stderr: limited.stderr, left: readdirSync(archive) };
}

test('an archive write that fails leaves no partial file and events are processed on', () => {
  const dir = freshDir('full');
  const archive = freshDir('full/runs');
  const stream = packStream(dir, 'runs', twoRuns);
  const run = kivoOnFullDisk(archive, ['-b', '-q', '--archive', archive, '-e', 'run()', '-e', 'sources()', stream]);
  assert.equal(run.status, 1, run.stderr);
  assert.match(run.stderr, /archive: run 4 not written: cannot write .*run4\.root.*(No space left on device|File too large)/);
  assert.match(run.stderr, /archive: run 5 not written/);
  assert.match(run.stderr, /8 events processed/, 'every event after the failure too');
  // The run registry beside the files records the runs without them.
  assert.deepEqual(run.left.filter((name) => !name.startsWith('registry')), [], 'no partial file');
});
