// The simulated chip's thread: bootloaderSim's state machine (chip.wasm)
// with the pace of the serial line.  The page posts the uploader's bytes;
// each reply is posted back when the chip model says its last byte has
// left, so the uploader sees the timing of a real line.
import createChip from './chip.js';

// Timers wake late by up to a millisecond or so; the last stretch before a
// reply is due is waited out here rather than by a timer.
const SPIN_MS = 1.5;

const ready = createChip();
let chip = null;
let timer = null;
let endedSaid = false;

function text(pointer) {
  return chip.UTF8ToString(pointer);
}

function withBytes(bytes, use) {
  const at = chip._malloc(Math.max(bytes.length, 1));
  chip.HEAPU8.set(bytes, at);
  try { return use(at, bytes.length); } finally { chip._free(at); }
}

function pump() {
  clearTimeout(timer);
  timer = null;
  for (;;) {
    const due = chip._chipNextDue() * 1000;
    if (due < 0) break;
    const wait = due - performance.now();
    if (wait > SPIN_MS) {
      timer = setTimeout(pump, wait - SPIN_MS);
      break;
    }
    while (performance.now() < due) { /* the reply's last byte is still on the line */ }
    const count = chip._chipTake();
    const at = chip._chipTakenBytes();
    const bytes = chip.HEAPU8.slice(at, at + count);
    postMessage({ type: 'bytes', bytes }, [bytes.buffer]);
  }
  if (chip._chipEnded() && !endedSaid) {
    endedSaid = true;
    postMessage({ type: 'ended' });
  }
}

onmessage = async (event) => {
  chip = await ready;
  const m = event.data;
  switch (m.type) {
  case 'facts':
    postMessage({ type: 'facts', facts: JSON.parse(text(chip._chipFacts())) });
    break;
  case 'reset':
    clearTimeout(timer);
    endedSaid = false;
    chip._chipReset(m.bitsPerSecond, m.erase ? 1 : 0);
    break;
  case 'bytes': {
    // The bytes entered the line when the page wrote them, not when this
    // thread got round to them.
    const now = performance.now();
    const entry = m.sentAt === undefined ? now : Math.min(now, m.sentAt - performance.timeOrigin);
    withBytes(m.bytes, (at, n) => chip._chipFeed(at, n, entry / 1000));
    pump();
    break;
  }
  case 'content': {
    const hex = text(chip._chipHex());
    const program = new TextEncoder().encode(m.program);
    const verdict = withBytes(program, (at, n) =>
      JSON.parse(chip.ccall('chipVerdict', 'string', ['string', 'number', 'number', 'number'],
        [m.name, at, n, m.ignoreOverlap ? 1 : 0])));
    postMessage({ type: 'content', hex, verdict });
    break;
  }
  }
};
