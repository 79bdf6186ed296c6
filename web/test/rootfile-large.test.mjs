// Large ROOT files read back by JSROOT's own reader: the four hit maps nearly
// full after a long noisy run (payloads of several compressed blocks), and a
// file past 2 GB in the 64-bit form.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, statfsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { buildProgram } from './support/processes.mjs';
import {
  assertSameAsJsonSave, jsonObjects, monitorObjects, readJsonSave, readRootFile, visitRootFile,
} from './support/rootfile.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-rootfile-large-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

const kBigFile = 2.3e9;

test('the four hit maps of a long noisy run survive the ROOT file whole', async () => {
  const stream = join(workDir, 'noisy.kevt');
  const root = join(workDir, 'noisy.root');
  const json = join(workDir, 'noisy.json');
  // 2500 noise hits per stave and event: some 5 million hits per map.
  execFileSync(buildProgram('bin', 'kivo-sim'), ['--events', '2000', '--noise', '2500', '-o', stream]);
  execFileSync(buildProgram('bin', 'kivo'),
    ['-b', '-q', '-e', 'run()', '-e', 'OM()', '-e', `save("${root}")`, '-e', `save("${json}")`, stream],
    { stdio: ['ignore', 'ignore', 'pipe'] });

  const objects = monitorObjects(await readRootFile(root));
  for (let stave = 0; stave < 4; ++stave) {
    const map = objects.get(`h2d_chip_${stave}`);
    const hit = map.fArray.reduce((count, value) => count + (value > 0 ? 1 : 0), 0);
    assert.ok(hit > 0.6 * 9216 * 512, `h2d_chip_${stave}: ${hit} pixels hit`);
  }
  assertSameAsJsonSave(objects, jsonObjects(readJsonSave(json)));
});

test('a ROOT file past 2 GB takes the 64-bit form and reads back whole', async (t) => {
  const { bavail, bsize } = statfsSync(workDir);
  if (bavail * bsize < kBigFile + 1e9) {
    t.skip(`skipped: ${workDir} has ${(bavail * bsize / 1e9).toFixed(1)} GB free, the file needs 2.2 GB`);
    return;
  }
  const path = join(workDir, 'big.root');
  execFileSync(buildProgram('bin', 'rootcompat-big-file-sample'), [path]);

  const seen = new Map();
  const file = await visitRootFile(path, (key, object) => {
    seen.set(key.fName, { seek: key.fSeekKey, object: key.fName.startsWith('filler') ? null : object });
  });
  assert.ok(file.fVersion >= 1000000, `version ${file.fVersion} marks the 64-bit form`);
  assert.ok(file.fEND > 2 ** 31);
  assert.equal([...seen.keys()].filter((name) => name.startsWith('filler')).length, 22);

  const histogram = seen.get('after');
  assert.ok(histogram.seek > 2 ** 31, `after lies at ${histogram.seek}`);
  assert.equal(histogram.object.fTitle, 'written past 2 GB');
  assert.deepEqual(Array.from(histogram.object.fArray), [0, 1, 4, 9, 16, 25, 36, 49, 64, 81, 100, 0]);
  const graph = seen.get('graph_after');
  assert.ok(graph.seek > 2 ** 31);
  assert.deepEqual(Array.from(graph.object.fY), [0, 10, 20]);
  assert.deepEqual(Array.from(graph.object.fEYhigh), [2, 2, 2]);
});
