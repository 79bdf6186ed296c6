// kivo and kivo-sim from the build tree, for the browser tests.
import { execFileSync } from 'node:child_process';
import { join } from 'node:path';
import { LineProcess, buildProgram } from './processes.mjs';

// kivo with the display on any free port and `args`; resolves once it listens.
export async function startKivo(workDir, args) {
  const kivo = new LineProcess(buildProgram('bin', 'kivo'), ['--port', '0', ...args],
                               { stream: 'stderr', env: { HOME: workDir } });
  const line = await kivo.nextLine(/display at http:/);
  return { kivo, url: line.match(/http:\/\/\S+/)[0] };
}

// A run written by kivo-sim into `workDir`; returns its path.
export function simulate(workDir, name, args) {
  const file = join(workDir, name);
  execFileSync(buildProgram('bin', 'kivo-sim'), [...args, '-o', file]);
  return file;
}

// Stops the background reading, quits at the prompt; resolves with the exit code.
export async function quitKivo(kivo) {
  kivo.send('stop()');
  kivo.send('.q');
  return (await kivo.exited).code;
}

// Resolves once kivo has said it read all its sources, also when it said so
// before the call.
export function allSourcesRead(kivo) {
  return kivo.output.includes('all sources read') ? Promise.resolve() : kivo.nextLine(/all sources read/);
}
