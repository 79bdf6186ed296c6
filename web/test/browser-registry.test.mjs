// The run registry in the live page, in headless Chromium against a real kivo
// whose display asks for a password: the runs list reads the registry (two
// stands, the other stand's files not openable), its filters, a shift's
// judgement stored under the digest user's name and shown after a reload, a
// second one kept beside the first, and the plot of hits per event across the
// twenty runs of a stand, coloured by verdict. Screenshots at three sizes are
// kept in the build tree.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { openPage } from './support/browser.mjs';
import { LineProcess, buildProgram } from './support/processes.mjs';
import { keepScreenshotsAtSizes } from './support/screenshots.mjs';

const workDir = mkdtempSync(join(tmpdir(), 'kivo-browser-registry-'));
after(() => rmSync(workDir, { recursive: true, force: true }));

const RUNS = 20;

function simulate(run, ...args) {
  const file = join(workDir, `run${run}.kevt`);
  execFileSync(buildProgram('bin', 'kivo-sim'), ['--events', '60', '--run', String(run), '--seed', String(run),
                                                 '--end-run', ...args, '-o', file]);
  return file;
}

function archive(directory, stand, streams, ...options) {
  mkdirSync(directory, { recursive: true });
  const archived = spawnSync(buildProgram('bin', 'kivo'), ['-b', '-q', '--checks', join(workDir, 'checks.toml'),
                                                           '--name', stand, '--archive', directory, ...options,
                                                           ...streams], { encoding: 'utf8' });
  assert.equal(archived.status, 0, archived.stderr);
}

function rows(page) {
  return page.$$eval('#runs-table tbody tr', (trs) => trs.map((tr) => ({
    run: tr.cells[0].textContent, verdict: tr.cells[5].textContent, stand: tr.cells[6].textContent,
    certification: tr.querySelector('.certification-cell')?.textContent ?? '',
    open: Boolean(tr.querySelector('button[data-mode="canvas"]')),
  })));
}

async function openList(page, count) {
  await page.waitForFunction((n) => window.kivoRuns?.registry?.ok && window.kivoRuns.list.length === n, count,
                             { timeout: 60000 })
    .catch(async (error) => {
      const seen = await page.evaluate(() => ({ registry: window.kivoRuns?.registry, runs: window.kivoRuns?.list.length,
                                                 error: window.kivoRuns?.lastError }));
      throw new Error(`${error.message}: ${JSON.stringify(seen)}`);
    });
  await page.click('#runs-button');
  await page.waitForSelector('#runs-table');
}

async function certify(page, id, verdict, comment, stored) {
  await page.click(`#runs-table button.certify[data-id="${id}"]`);
  await page.selectOption('#certify-box select[name="verdict"]', verdict);
  await page.fill('#certify-box input[name="comment"]', comment);
  await page.click('#certify-box button[type="submit"]');
  await page.waitForFunction((n) => window.kivoRuns.certify.stored === n, stored, { timeout: 30000 });
  await page.waitForFunction((runId) => window.kivoRuns.list.find((run) => run.id === runId)?.certifications.length,
                             id);
}

test('the runs list reads the registry: filters, a certification by the digest user, the plot across runs',
     async (t) => {
  writeFileSync(join(workDir, 'checks.toml'), '[verdicts]\nconfirm_judgements = 1\n[missing_packet]\nmin_events = 1\n');
  const north = join(workDir, 'north');
  const streams = [];
  // Every seventh run loses most of its packets: Bad.
  for (let run = 1; run <= RUNS; ++run)
    streams.push(simulate(run, '--particles', String(3 + (run % 5)), ...(run % 7 === 3 ? ['--missing-packet', '0.7'] : [])));
  archive(north, 'north', streams);
  archive(join(workDir, 'south'), 'south', streams.slice(0, 3), '--registry', join(north, 'registry.sqlite'));

  const users = join(workDir, 'users.htdigest');
  writeFileSync(users, `shifter:kivo:${createHash('md5').update('shifter:kivo:secret').digest('hex')}\n`);
  const kivo = new LineProcess(buildProgram('bin', 'kivo'), ['--port', '0', '--auth', users, '--name', 'north',
                                                             '--archive', north],
                               { stream: 'stderr', env: { HOME: workDir } });
  const url = (await kivo.nextLine(/display at http:/)).match(/http:\/\/\S+/)[0];
  const credentials = { httpCredentials: { username: 'shifter', password: 'secret' } };
  const browser = await openPage(url, { width: 1700, height: 1000 }, credentials);
  t.after(async () => {
    await browser.close();
    await kivo.stop();
  });
  const { page } = browser;
  await openList(page, RUNS + 3);
  const listed = await rows(page);
  assert.equal(listed.length, RUNS + 3);
  assert.deepEqual(listed.filter((row) => row.stand === 'south').map((row) => row.open), [false, false, false],
                   "the other stand's files are not in this archive");
  assert.ok(listed.filter((row) => row.stand === 'north').every((row) => row.open));
  const heads = await page.$$eval('#runs-table thead th', (ths) => ths.map((th) => th.textContent));
  for (const title of ['Stand', 'Certification', 'Hits/event', 'Beam column', 'Hot pixels', 'Missing packets'])
    assert.ok(heads.includes(title), `${title} in ${heads}`);
  assert.ok(listed.some((row) => row.verdict === 'Bad') && listed.some((row) => row.verdict === 'Good'),
            JSON.stringify(listed.map((row) => row.verdict)));
  // On a 1366 x 768 screen the list fits beside the side panel: the least
  // needed figure columns step aside, and come back when asked for.
  await page.setViewportSize({ width: 1366, height: 768 });
  const fits = () => page.evaluate(() => {
    const box = document.getElementById('runs-table-box');
    return box.scrollWidth <= box.clientWidth;
  });
  await page.waitForFunction(() => window.kivoRuns.columns.fitted.length > 0);
  assert.ok(await fits(), 'no column cut off at 1366 x 768');
  const fitted = await page.evaluate(() => window.kivoRuns.columns.fitted);
  assert.ok(!fitted.includes('hits_per_event') && !fitted.includes('missing_packet_fraction'), String(fitted));
  await page.click('#runs-columns summary');
  await page.check(`#runs-columns input[data-group="${fitted[0]}"]`);
  await page.waitForFunction((key) => !document.querySelector(`#runs-table th[data-group="${key}"]`).hidden, fitted[0]);
  await page.click('#runs-columns button.runs-columns-reset');
  await page.click('#runs-columns summary');
  await page.setViewportSize({ width: 1700, height: 1000 });
  await keepScreenshotsAtSizes(page, 'registry-list');

  await page.selectOption('#runs-filters select[name="stand"]', 'south');
  await page.waitForFunction(() => window.kivoRuns.list.length === 3);
  assert.deepEqual((await rows(page)).map((row) => row.stand), ['south', 'south', 'south']);
  await page.selectOption('#runs-filters select[name="stand"]', '');
  await page.selectOption('#runs-filters select[name="verdict"]', 'Bad');
  await page.waitForFunction(() => window.kivoRuns.list.length > 0 && window.kivoRuns.list.every((run) => run.overall === 'Bad'));
  await page.selectOption('#runs-filters select[name="verdict"]', '');
  await page.waitForFunction((n) => window.kivoRuns.list.length === n, RUNS + 3);

  const run5 = await page.evaluate(() => window.kivoRuns.list.find((run) => run.stand === 'north' && run.run === 5).id);
  await certify(page, run5, 'Bad', 'beam mistuned', 1);
  await keepScreenshotsAtSizes(page, 'registry-certified');
  await page.reload();
  await openList(page, RUNS + 3);
  const row5 = (await rows(page)).find((row) => row.stand === 'north' && row.run === '5');
  assert.match(row5.certification, /^Bad shifter/, 'shown after a reload with the user');
  await certify(page, run5, 'not for analysis', 'beam mistuned, rerun at 3 GeV', 1);  // the page's first since the reload
  await page.click(`#runs-table button.certify[data-id="${run5}"]`);
  await keepScreenshotsAtSizes(page, 'registry-history');
  const history = await page.evaluate(async (id) => {
    const answer = await (await fetch('runs.json?stand=north')).json();
    return answer.runs.find((run) => run.id === id).certifications;
  }, run5);
  assert.deepEqual(history.map(({ verdict, comment, user }) => [verdict, comment, user]),
                   [['Bad', 'beam mistuned', 'shifter'], ['not for analysis', 'beam mistuned, rerun at 3 GeV', 'shifter']]);
  await page.click('#certify-box .certify-cancel');

  await page.selectOption('#runs-filters select[name="stand"]', 'north');
  await page.waitForFunction((n) => window.kivoRuns.list.length === n, RUNS);
  await page.click('#runs-bar button[data-action="trend"]');
  await page.waitForFunction(() => window.kivoRuns.trend.drawn && window.kivoRuns.trend.figure === 'hits_per_event_0',
                             null, { timeout: 30000 });
  const trend = await page.evaluate(() => window.kivoRuns.trend);
  assert.equal(trend.points, RUNS);
  assert.ok(trend.byVerdict.Good > 0 && trend.byVerdict.Bad > 0, JSON.stringify(trend.byVerdict));
  const markers = await page.$$eval('#trend-plot svg path', (paths) => paths.length);
  assert.ok(markers > 0, 'JSROOT drew the graphs');
  assert.match(await page.textContent('#trend-plot'), /Hits\/event, stave 0, per run/);
  await keepScreenshotsAtSizes(page, 'registry-trend-run');
  await page.selectOption('#trend-controls select[name="axis"]', 'time');
  await page.waitForFunction(() => window.kivoRuns.trend.drawn && window.kivoRuns.trend.axis === 'time');
  await page.selectOption('#trend-controls select[name="figure"]', 'beam_column_2');
  await page.waitForFunction(() => window.kivoRuns.trend.drawn && window.kivoRuns.trend.figure === 'beam_column_2');
  assert.equal(await page.evaluate(() => window.kivoRuns.trend.points), RUNS);
  await keepScreenshotsAtSizes(page, 'registry-trend-time');

  assert.deepEqual(browser.foreignRequests, []);
  assert.deepEqual(browser.pageErrors, []);
  assert.deepEqual(browser.failedResponses.filter((line) => !line.startsWith('401 ')), []);
});
