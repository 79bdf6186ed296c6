// Renders a canvas stored as ROOT JSON to a 1600 x 800 SVG or PNG file with JSROOT.
//   node render.mjs [--stdout] <canvas.json|-> <out.svg|out.png>
//   node render.mjs --serve
// "-" reads the canvas from standard input. With --stdout the image goes to standard
// output; OUT then only picks the format and names the image in messages (kivo runs
// it so, with standard output on a temporary file of its own).
// Otherwise a new or regular output file is written to a temporary file beside it,
// "<file>.partial-<pid>-<six characters>" as kivo names its own, and renamed into
// place, so a reader never sees a partial image; a symbolic link is followed and the
// file it leads to replaced; a device or pipe is written in place. Temporaries of
// the same file left by a renderer that is gone are removed first; SIGINT, SIGTERM
// and SIGHUP remove the one being written. Errors are one line on stderr, exit status 1.
// With --serve it renders one canvas after another for a program that keeps it
// running, JSROOT loaded and drawn once beforehand: each request on standard input
// is a line "<svg|png> <bytes>" and that many bytes of ROOT JSON, each answer on
// standard output a line "ok <bytes>" and the image, or "error <reason>".
import {
  closeSync, existsSync, lstatSync, openSync, readFileSync, readdirSync, readlinkSync,
  realpathSync, renameSync, unlinkSync, writeSync,
} from 'node:fs';
import { access, constants, readFile } from 'node:fs/promises';
import { randomBytes } from 'node:crypto';
import { basename, dirname, extname, isAbsolute, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const WIDTH = 1600;
const HEIGHT = 800;
const here = dirname(fileURLToPath(import.meta.url));

class RenderError extends Error {}

function outputFormat(outPath) {
  const extension = extname(outPath).toLowerCase();
  if (extension !== '.svg' && extension !== '.png')
    throw new RenderError(`${outPath}: the file name must end in .png or .svg`);
  return extension.slice(1);
}

async function importPackage(name) {
  try {
    return await import(name);
  } catch (error) {
    if (error.code === 'ERR_MODULE_NOT_FOUND')
      throw new RenderError(`npm package ${name} is not installed in ${here} (run: cd web && npm install --ignore-scripts)`);
    throw error;
  }
}

function parseCanvas(text, parse) {
  let canvas;
  try {
    canvas = parse(text);
  } catch (error) {
    throw new RenderError(`not valid ROOT JSON: ${error.message}`);
  }
  if (!canvas?._typename)
    throw new RenderError('no ROOT object (missing _typename)');
  return canvas;
}

async function readCanvas(jsonPath, parse) {
  let text;
  try {
    text = jsonPath === '-' ? readFileSync(0, 'utf8') : await readFile(jsonPath, 'utf8');
  } catch (error) {
    throw new RenderError(`${jsonPath}: cannot read: ${error.message}`);
  }
  try {
    return parseCanvas(text, parse);
  } catch (error) {
    throw new RenderError(`${jsonPath}: ${error.message}`);
  }
}

// The image of `canvas` as 'svg' (text) or 'png' (bytes).
async function drawImage(canvas, format) {
  const svg = await renderSvg(canvas);
  return format === 'png' ? svgToPng(svg) : svg;
}

export async function renderSvg(canvas) {
  const { makeSVG } = await importPackage('jsroot');
  return makeSVG({ object: canvas, option: '', width: WIDTH, height: HEIGHT });
}

// JSROOT names Arial, Times New Roman and Courier New. The Liberation fonts share their
// metrics; DejaVu (always present with fontconfig) stands in when they are missing.
const FONT_DIR = '/usr/share/fonts/truetype';
const FAMILIES = {
  sans: [['Liberation Sans', 'liberation/LiberationSans-Regular.ttf'], ['DejaVu Sans', 'dejavu/DejaVuSans.ttf']],
  serif: [['Liberation Serif', 'liberation/LiberationSerif-Regular.ttf'], ['DejaVu Serif', 'dejavu/DejaVuSerif.ttf']],
  mono: [['Liberation Mono', 'liberation/LiberationMono-Regular.ttf'], ['DejaVu Sans Mono', 'dejavu/DejaVuSansMono.ttf']],
};

function installedFamily(candidates) {
  return (candidates.find(([, file]) => existsSync(join(FONT_DIR, file))) ?? candidates[0])[0];
}

export async function svgToPng(svg) {
  const { Resvg } = await importPackage('@resvg/resvg-js');
  const sans = installedFamily(FAMILIES.sans);
  const resvg = new Resvg(svg, {
    background: 'white',
    font: {
      loadSystemFonts: true,
      fontFiles: [join(here, 'node_modules/jsroot/fonts/symbol.ttf')],
      defaultFontFamily: sans,
      sansSerifFamily: sans,
      serifFamily: installedFamily(FAMILIES.serif),
      monospaceFamily: installedFamily(FAMILIES.mono),
    },
  });
  return resvg.render().asPng();
}

async function checkWritableDirectory(outPath) {
  try {
    await access(dirname(outPath), constants.W_OK);
  } catch {
    throw new RenderError(`${outPath}: cannot write: ${dirname(outPath)} is missing or not writable`);
  }
}

// The file OUT stands for: the one a symbolic link leads to (also one not there yet).
function fileBehind(outPath) {
  try {
    if (!lstatSync(outPath).isSymbolicLink()) return outPath;
  } catch {
    return outPath;
  }
  try {
    return realpathSync(outPath);
  } catch {
    const target = readlinkSync(outPath);
    return isAbsolute(target) ? target : join(dirname(outPath), target);
  }
}

function replaceableByRename(file) {
  try {
    return lstatSync(file).isFile();
  } catch (error) {
    return error.code === 'ENOENT';
  }
}

const TEMPORARY = /^(.+)\.partial-(\d+)-[A-Za-z0-9]{6}$/;

function processRuns(pid) {
  if (pid === process.pid) return true;
  try {
    process.kill(pid, 0);
    return true;
  } catch (error) {
    return error.code === 'EPERM';
  }
}

function removeStaleTemporaries(file) {
  const directory = dirname(file);
  let names = [];
  try {
    names = readdirSync(directory);
  } catch {
    return;
  }
  for (const name of names) {
    const match = TEMPORARY.exec(name);
    if (!match || match[1] !== basename(file) || processRuns(Number(match[2]))) continue;
    try {
      if (lstatSync(join(directory, name)).isFile()) unlinkSync(join(directory, name));
    } catch {
      // gone already
    }
  }
}

function temporaryName(file) {
  const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789';
  const suffix = [...randomBytes(6)].map((byte) => alphabet[byte % alphabet.length]).join('');
  return `${file}.partial-${process.pid}-${suffix}`;
}

// The temporary being written, removed when a signal ends the renderer.
let pendingTemporary = null;

function removePendingTemporary() {
  if (pendingTemporary === null) return;
  try {
    unlinkSync(pendingTemporary);
  } catch {
    // never created, or already renamed
  }
  pendingTemporary = null;
}

function removeTemporaryOnSignals() {
  for (const [signal, number] of [['SIGINT', 2], ['SIGTERM', 15], ['SIGHUP', 1]]) {
    process.on(signal, () => {
      removePendingTemporary();
      process.exit(128 + number);
    });
  }
}

function writeAll(fd, data) {
  const bytes = typeof data === 'string' ? Buffer.from(data) : data;
  for (let done = 0; done < bytes.length;) done += writeSync(fd, bytes, done, bytes.length - done);
}

function writeToFile(path, data, flags) {
  const fd = openSync(path, flags, 0o644);
  try {
    writeAll(fd, data);
  } finally {
    closeSync(fd);
  }
}

// Synchronous from the temporary's creation to its rename: signal handlers run
// between two steps of the event loop, so they find it either to remove or gone.
function writeAtomically(outPath, data) {
  const file = fileBehind(outPath);
  try {
    if (!replaceableByRename(file)) {
      writeToFile(file, data, 'w');
      return;
    }
    removeStaleTemporaries(file);
    pendingTemporary = temporaryName(file);
    writeToFile(pendingTemporary, data, 'wx');
    renameSync(pendingTemporary, file);
    pendingTemporary = null;
  } catch (error) {
    removePendingTemporary();
    throw new RenderError(`${outPath}: cannot write: ${error.message}`);
  }
}

function writeToStandardOutput(outPath, data) {
  try {
    writeAll(1, data);
  } catch (error) {
    throw new RenderError(`${outPath}: cannot write: ${error.message}`);
  }
}

async function main(args) {
  const toStandardOutput = args[0] === '--stdout';
  const [jsonPath, outPath, ...extra] = toStandardOutput ? args.slice(1) : args;
  if (!jsonPath || !outPath || extra.length)
    throw new RenderError('usage: node render.mjs [--stdout] <canvas.json|-> <out.svg|out.png>');
  const format = outputFormat(outPath);
  // JSROOT logs to standard output (a slow drawing's time); the image owns it.
  if (toStandardOutput) console.log = console.info = console.debug = console.error;
  else await checkWritableDirectory(outPath);
  const { parse } = await importPackage('jsroot');
  const image = await drawImage(await readCanvas(jsonPath, parse), format);
  if (toStandardOutput) writeToStandardOutput(outPath, image);
  else writeAtomically(outPath, image);
}

// The answer to one request of --serve.
async function answer(format, text, parse) {
  try {
    if (format !== 'svg' && format !== 'png') throw new RenderError(`unknown image format ${format}`);
    const image = Buffer.from(await drawImage(parseCanvas(text, parse), format));
    return Buffer.concat([Buffer.from(`ok ${image.length}\n`), image]);
  } catch (error) {
    const message = error instanceof RenderError ? error.message : `rendering failed: ${error.message ?? error}`;
    return Buffer.from(`error ${message.split('\n')[0]}\n`);
  }
}

function send(data) {
  return new Promise((resolve, reject) => process.stdout.write(data, (error) => (error ? reject(error) : resolve())));
}

// Loads JSROOT and the PNG converter and draws a small histogram, so that the
// first request finds all of it ready.
async function warmUp(jsroot) {
  const histogram = jsroot.createHistogram('TH1F', 10);
  await svgToPng(await jsroot.makeSVG({ object: histogram, option: '', width: 200, height: 100 }));
}

async function serve() {
  console.log = console.info = console.debug = console.error;
  const jsroot = await importPackage('jsroot');
  await warmUp(jsroot);
  let pending = Buffer.alloc(0);
  for await (const chunk of process.stdin) {
    pending = pending.length ? Buffer.concat([pending, chunk]) : chunk;
    for (let newline = pending.indexOf(10); newline >= 0; newline = pending.indexOf(10)) {
      const [format, length, ...rest] = pending.subarray(0, newline).toString().split(' ');
      const size = Number(length);
      if (rest.length || !Number.isSafeInteger(size) || size < 0) throw new RenderError('malformed request');
      if (pending.length < newline + 1 + size) break;
      const text = pending.subarray(newline + 1, newline + 1 + size).toString('utf8');
      pending = pending.subarray(newline + 1 + size);
      await send(await answer(format, text, jsroot.parse));
    }
  }
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  removeTemporaryOnSignals();
  const run = process.argv[2] === '--serve' && process.argv.length === 3 ? serve() : main(process.argv.slice(2));
  run.catch(error => {
    const message = error instanceof RenderError ? error.message : `rendering failed: ${error.stack ?? error}`;
    process.stderr.write(`render.mjs: ${message.split('\n')[0]}\n`);
    process.exit(1);
  });
}
