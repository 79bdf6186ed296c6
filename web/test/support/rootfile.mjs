// ROOT files read back by JSROOT's own reader, and their objects compared with
// those of kivo's ROOT JSON save of the same run.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { openFile, parse } from 'jsroot';
import { buildProgram } from './processes.mjs';

const consoleMethods = ['log', 'info', 'warn', 'error', 'debug', 'trace'];

// Runs `work` with every console method collecting into `messages`: JSROOT
// reports some decoding faults only there.
async function collectingConsole(messages, work) {
  const saved = consoleMethods.map((name) => console[name]);
  for (const name of consoleMethods) console[name] = (...args) => messages.push(`${name}: ${args.join(' ')}`);
  try {
    return await work();
  } finally {
    consoleMethods.forEach((name, i) => { console[name] = saved[i]; });
  }
}

// Opens `path`, lists every key and reads every object, handing each to
// `visit(key, object)`; fails on anything JSROOT prints meanwhile. Returns
// the file.
export async function visitRootFile(path, visit) {
  const messages = [];
  const file = await collectingConsole(messages, async () => {
    const opened = await openFile(path);
    for (const key of opened.fKeys) {
      const id = `${key.fName};${key.fCycle}`;
      const object = await opened.readObject(id);
      assert.ok(object, `${path}: ${id} read`);
      visit(key, object);
    }
    return opened;
  });
  assert.deepEqual(messages, [], `${path}: JSROOT printed while reading`);
  return file;
}

// As visitRootFile; returns the keys and the objects by "name;cycle".
export async function readRootFile(path) {
  const objects = new Map();
  const file = await visitRootFile(path, (key, object) => objects.set(`${key.fName};${key.fCycle}`, object));
  return { file, keys: file.fKeys, objects };
}

// The monitor objects of a ROOT file, by name (the class descriptions left out).
export function monitorObjects(read) {
  const byName = new Map();
  for (const key of read.keys) {
    if (key.fName === 'StreamerInfo') continue;
    assert.ok(!byName.has(key.fName), `one key named ${key.fName}`);
    byName.set(key.fName, read.objects.get(`${key.fName};${key.fCycle}`));
  }
  return byName;
}

export function readJsonSave(path) {
  return parse(readFileSync(path, 'utf8'));
}

// The objects of a JSON save that a ROOT file holds too: all but the canvases.
export function jsonObjects(list) {
  return new Map(list.arr.filter((object) => object._typename !== 'TCanvas').map((object) => [object.fName, object]));
}

function assertSameArray(actual, expected, what) {
  const a = actual ?? [];
  const e = expected ?? [];
  assert.equal(a.length, e.length, `${what}: length`);
  for (let i = 0; i < e.length; ++i) {
    if (a[i] !== e[i]) assert.fail(`${what}[${i}]: ${a[i]} in the ROOT file, ${e[i]} in the JSON save`);
  }
}

function assertSameMembers(actual, expected, members, what) {
  for (const member of members) assert.equal(actual[member], expected[member], `${what}.${member}`);
}

// Members stored as float in the ROOT file: the JSON save writes the same
// float in its shortest decimal form.
function assertSameFloats(actual, expected, members, what) {
  for (const member of members)
    assert.equal(Math.fround(actual[member]), Math.fround(expected[member]), `${what}.${member}`);
}

const histogramMembers = ['_typename', 'fName', 'fTitle', 'fNcells', 'fEntries', 'fTsumw', 'fTsumw2', 'fTsumwx',
  'fTsumwx2', 'fMaximum', 'fMinimum', 'fNormFactor', 'fLineColor', 'fLineWidth', 'fMarkerStyle', 'fOption'];
const twoDimensionMembers = ['fScalefactor', 'fTsumwy', 'fTsumwy2', 'fTsumwxy'];
const axisMembers = ['fName', 'fTitle', 'fNbins', 'fXmin', 'fXmax', 'fFirst', 'fLast', 'fNdivisions'];
const axisFloats = ['fLabelSize', 'fTitleOffset'];
const graphMembers = ['_typename', 'fName', 'fTitle', 'fNpoints', 'fMinimum', 'fMaximum', 'fMarkerStyle',
  'fMarkerColor', 'fLineColor'];

export function assertSameObject(fromRoot, fromJson, name) {
  if (fromJson._typename.startsWith('TH')) {
    assertSameMembers(fromRoot, fromJson, histogramMembers, name);
    if (fromJson._typename.startsWith('TH2')) assertSameMembers(fromRoot, fromJson, twoDimensionMembers, name);
    for (const axis of ['fXaxis', 'fYaxis', 'fZaxis']) {
      assertSameMembers(fromRoot[axis], fromJson[axis], axisMembers, `${name}.${axis}`);
      assertSameFloats(fromRoot[axis], fromJson[axis], axisFloats, `${name}.${axis}`);
    }
    assertSameArray(fromRoot.fArray, fromJson.fArray, `${name}.fArray`);
    assertSameArray(fromRoot.fSumw2, fromJson.fSumw2, `${name}.fSumw2`);
    return;
  }
  assertSameMembers(fromRoot, fromJson, graphMembers, name);
  for (const points of ['fX', 'fY', 'fEXlow', 'fEXhigh', 'fEYlow', 'fEYhigh'])
    assertSameArray(fromRoot[points], fromJson[points], `${name}.${points}`);
}

// Every object of the JSON save is in the ROOT file under its own name, the
// same; the ROOT file holds nothing else.
export function assertSameAsJsonSave(rootObjects, json) {
  assert.deepEqual([...rootObjects.keys()].sort(), [...json.keys()].sort(), 'the same objects');
  for (const [name, fromJson] of json) assertSameObject(rootObjects.get(name), fromJson, name);
}

// Packs the text form of events into a stream file in `dir`.
export function packStream(dir, name, text) {
  const textPath = join(dir, `${name}.txt`);
  const stream = join(dir, `${name}.kevt`);
  writeFileSync(textPath, text);
  execFileSync(buildProgram('bin', 'kivo-pack'), [textPath, stream]);
  return stream;
}
