// Child processes for the web tests: programs from the build tree, read line by line.
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { createInterface } from 'node:readline';

export const buildDir = resolve(process.env.KIVO_BUILD_DIR ?? '../build');

export function buildProgram(...relative) {
  const path = join(buildDir, ...relative);
  if (!existsSync(path)) throw new Error(`${path} is missing: build the project first`);
  return path;
}

// A running program whose output lines can be awaited one at a time.
export class LineProcess {
  constructor(program, args, { stream = 'stdout', env } = {}) {
    this.child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'], env: { ...process.env, ...env } });
    this.waiters = [];
    this.output = '';
    this.exited = new Promise((done) => this.child.on('exit', (code, signal) => done({ code, signal })));
    for (const name of ['stdout', 'stderr']) {
      const reader = createInterface({ input: this.child[name] });
      reader.on('line', (line) => {
        this.output += `${line}\n`;
        if (name === stream) this.deliver(line);
      });
    }
  }

  deliver(line) {
    const waiter = this.waiters.findIndex(({ match }) => match(line));
    if (waiter < 0) return;
    const [{ resolve: found }] = this.waiters.splice(waiter, 1);
    found(line);
  }

  // Resolves with the next line matching the pattern.
  nextLine(pattern, timeout = 30000) {
    return new Promise((found, fail) => {
      const timer = setTimeout(() => fail(new Error(`no line matching ${pattern} within ${timeout} ms; output so far:\n${this.output}`)), timeout);
      this.waiters.push({ match: (line) => pattern.test(line), resolve: (line) => { clearTimeout(timer); found(line); } });
    });
  }

  send(line) {
    this.child.stdin.write(`${line}\n`);
  }

  async stop() {
    if (this.child.exitCode !== null || this.child.signalCode !== null) return this.exited;
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
    this.child.kill('SIGTERM');
    const result = await this.exited;
    clearTimeout(timer);
    return result;
  }
}
