// The simulated chip's thread: bootloaderSim's state machine (chip.wasm)
// with the pace of the serial line.  The page posts the uploader's bytes
// with the moment they entered the line; each reply goes back at once with
// the moment the chip model says its last byte has left, and the page's
// line holds it until then.  A reply's timing is the model's, not this
// thread's or the message's: neither a late timer here nor a busy page
// moves it.
import createChip from './chip.js';

const ready = createChip();
let chip = null;
let session = 0;

function text(pointer) {
  return chip.UTF8ToString(pointer);
}

function withBytes(bytes, use) {
  const at = chip._malloc(Math.max(bytes.length, 1));
  chip.HEAPU8.set(bytes, at);
  try { return use(at, bytes.length); } finally { chip._free(at); }
}

// Every reply the last bytes produced, each with its due time on the clock
// both threads share (performance.timeOrigin + performance.now()).
function sendReplies() {
  for (;;) {
    const due = chip._chipNextDue();
    if (due < 0) break;
    const count = chip._chipTake();
    const at = chip._chipTakenBytes();
    const bytes = chip.HEAPU8.slice(at, at + count);
    postMessage({ type: 'bytes', session, bytes, dueAt: performance.timeOrigin + due * 1000 }, [bytes.buffer]);
  }
}

onmessage = async (event) => {
  chip = await ready;
  const m = event.data;
  switch (m.type) {
  case 'facts':
    postMessage({ type: 'facts', facts: JSON.parse(chip.ccall('chipFacts', 'string', ['string'], [m.chip])) });
    break;
  case 'reset':
    session = m.session;
    chip._chipReset(m.bitsPerSecond, m.erase ? 1 : 0);
    break;
  case 'bytes': {
    // The bytes entered the line when the page wrote them, not when this
    // thread got round to them.
    const now = performance.now();
    const entry = Math.min(now, m.sentAt - performance.timeOrigin);
    withBytes(m.bytes, (at, n) => chip._chipFeed(at, n, entry / 1000));
    sendReplies();
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
