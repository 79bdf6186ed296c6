// Renders a canvas stored as ROOT JSON to a 1600 x 800 SVG or PNG file with JSROOT.
//   node render.mjs <canvas.json> <out.svg|out.png>
// A new or regular output file is written to a temporary file beside it and renamed
// into place, so a reader never sees a partial image; a device, pipe or symbolic link
// is written in place rather than replaced. Errors are one line on stderr, exit status 1.
import { existsSync } from 'node:fs';
import { access, constants, lstat, readFile, writeFile, rename, unlink } from 'node:fs/promises';
import { basename, dirname, extname, join } from 'node:path';
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

async function readCanvas(jsonPath, parse) {
  let text;
  try {
    text = await readFile(jsonPath, 'utf8');
  } catch (error) {
    throw new RenderError(`${jsonPath}: cannot read: ${error.message}`);
  }
  let canvas;
  try {
    canvas = parse(text);
  } catch (error) {
    throw new RenderError(`${jsonPath}: not valid ROOT JSON: ${error.message}`);
  }
  if (!canvas?._typename)
    throw new RenderError(`${jsonPath}: no ROOT object (missing _typename)`);
  return canvas;
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

async function replaceableByRename(outPath) {
  try {
    return (await lstat(outPath)).isFile();
  } catch (error) {
    return error.code === 'ENOENT';
  }
}

async function writeAtomically(outPath, data) {
  if (!(await replaceableByRename(outPath))) {
    await writeFile(outPath, data).catch((error) => {
      throw new RenderError(`${outPath}: cannot write: ${error.message}`);
    });
    return;
  }
  const temporary = join(dirname(outPath), `.${basename(outPath)}.${process.pid}.tmp`);
  try {
    await writeFile(temporary, data);
    await rename(temporary, outPath);
  } catch (error) {
    await unlink(temporary).catch(() => {});
    throw new RenderError(`${outPath}: cannot write: ${error.message}`);
  }
}

async function main([jsonPath, outPath, ...extra]) {
  if (!jsonPath || !outPath || extra.length)
    throw new RenderError('usage: node render.mjs <canvas.json> <out.svg|out.png>');
  const format = outputFormat(outPath);
  await checkWritableDirectory(outPath);
  const { parse } = await importPackage('jsroot');
  const svg = await renderSvg(await readCanvas(jsonPath, parse));
  await writeAtomically(outPath, format === 'png' ? await svgToPng(svg) : svg);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  main(process.argv.slice(2)).catch(error => {
    const message = error instanceof RenderError ? error.message : `rendering failed: ${error.stack ?? error}`;
    process.stderr.write(`render.mjs: ${message.split('\n')[0]}\n`);
    process.exit(1);
  });
}
