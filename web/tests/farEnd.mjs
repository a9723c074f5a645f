// The test process's half of the serial test double: a real simulator
// (bootloaderSim, or picSim with the firmware) on a real pseudo-terminal,
// whose bytes are carried to and from the page's navigator.serial.
import { spawn, spawnSync } from 'node:child_process';
import { closeSync, constants, openSync, readFileSync, writeSync } from 'node:fs';
import { createInterface } from 'node:readline';
import tty from 'node:tty';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

export const DOUBLE = readFileSync(join(dirname(fileURLToPath(import.meta.url)), 'serialDouble.js'), 'utf8');

// Simulators still running when the test process exits (a failed check
// threw past its stop) are killed with it.
const running = new Set();
process.on('exit', () => running.forEach((child) => child.kill('SIGKILL')));

// Starts `binary args...`, which prints "NAME: port /dev/pts/N" first.
export async function startSimulator(binary, args) {
  const child = spawn(binary, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  running.add(child);
  child.on('exit', () => running.delete(child));
  const output = [];
  const lines = createInterface({ input: child.stdout });
  const exited = new Promise((done) => child.on('exit', (code, signal) => done({ code, signal })));
  child.stderr.on('data', (d) => output.push(d.toString()));
  const port = await new Promise((done, failed) => {
    lines.once('line', (line) => done(line.replace(/^\S+: port /, '')));
    child.once('exit', () => failed(new Error(`${binary} ended: ${output.join('')}`)));
  });
  lines.on('line', (line) => output.push(line + '\n'));
  return { child, port, output, exited, stop: () => child.kill('SIGINT') };
}

// Carries the page's port to the pseudo-terminal at `path`.  `log` records
// what went through (bytes written by the page, signals, opens and closes).
export async function bridge(page, getPath) {
  const state = { refuse: '', fd: -1, reader: null, written: 0, opens: [], signals: [], onWrite: null, pending: Promise.resolve() };
  const toPage = (fn, arg) => {
    state.pending = state.pending.then(() => page.evaluate(fn, arg)).catch(() => {});
    return state.pending;
  };
  const closeFd = () => {
    if (state.reader) state.reader.destroy();
    state.reader = null;
    if (state.fd >= 0) closeSync(state.fd);
    state.fd = -1;
  };
  state.unplug = () => { closeFd(); return toPage(() => window.__serialPort.unplug()); };
  state.readError = (name) => toPage((n) => window.__serialPort.readError(n), name);
  state.close = closeFd;
  await page.exposeFunction('__farEnd', (op, arg) => {
    switch (op) {
    case 'open': {
      state.opens.push(arg);
      if (state.refuse) return state.refuse;  // as a port another program holds
      try {
        // The speed the page asked for, on the line as the uploader sets it:
        // the simulators pace the line (and picSim's USART hears it) at it.
        const set = spawnSync('stty', ['-F', getPath(), String(arg)], { encoding: 'utf8' });
        if (set.status !== 0) return `Failed to open serial port (stty: ${set.stderr.trim()}).`;
        state.fd = openSync(getPath(), constants.O_RDWR | constants.O_NOCTTY);
      } catch (error) {
        return `Failed to open serial port (${error.code}).`;
      }
      state.reader = new tty.ReadStream(state.fd);
      state.reader.on('data', (chunk) => toPage((b) => window.__serialPort.deliver(b), Array.from(chunk)));
      // The simulator closed its side: as a pulled USB adapter.
      const gone = () => { if (state.reader) state.unplug(); };
      state.reader.on('error', gone);
      state.reader.on('end', gone);
      return '';
    }
    case 'write':
      if (state.fd < 0) return '';
      writeSync(state.fd, Buffer.from(arg));
      state.written += arg.length;
      state.last = arg;
      if (state.onWrite) state.onWrite(state.written);
      return '';
    case 'signals':
      state.signals.push(arg);
      return '';
    case 'close':
      closeFd();
      return '';
    case 'ping':
      return '';
    }
    return '';
  });
  return state;
}
