// The byte lines under the uploader's core (WebLine in C++): the simulated
// chip's worker and a Web Serial port.  They move bytes and keep time; the
// results they hand back are the core's LineResult values (facts.lineResults).

// How long before a held byte is due its wait stops sleeping (sleepUntil).
const SPIN_MS = 1.5;

class ByteLine {
  constructor(results) {
    this.results = results;
    this.incoming = [];
    this.waiter = null;
    this.cancelled = false;
    this.noted = false;
    this.gone = false;
    this.timer = null;
    this.hop = new MessageChannel();
    this.hop.port1.onmessage = () => this.wake();
  }

  // The page's side: bytes arrived, the port went away, the user cancelled.
  received(bytes) {
    if (bytes.length) this.incoming.push(bytes);
    this.wake();
  }
  hangUp() { this.gone = true; this.wake(); }
  cancel() { this.cancelled = true; this.wake(); }
  wake() {
    clearTimeout(this.timer);
    this.timer = null;
    const w = this.waiter;
    this.waiter = null;
    if (w) w();
  }

  // Until the run has taken note of a cancel, every wait ends at once for
  // it, as the command line's waits end for Ctrl-C.
  stopping() {
    if (this.cancelled && !this.noted) return this.results.interrupted;
    if (this.gone) return this.results.hungUp;
    return null;
  }

  // The core's side (webLine.js).
  async wait(milliseconds) {
    const end = milliseconds < 0 ? Infinity : performance.now() + milliseconds;
    for (;;) {
      const stop = this.stopping();
      if (stop !== null) return stop;
      this.release();
      if (this.incoming.length) return this.results.ok;
      if (end - performance.now() <= 0) return this.results.timeout;
      const held = this.nextRelease();
      await (held <= end ? this.sleepUntil(held, true) : this.sleepUntil(end, false));
    }
  }
  // Bytes that arrived ahead of their moment (the simulated chip's) become
  // readable then; a port's bytes are readable as they come.
  release() {}
  nextRelease() { return Infinity; }

  // Sleeps until `until` (performance.now() time) or a wake().  Timers
  // count whole milliseconds (a fraction is dropped), wake late by up to a
  // millisecond or so, and one set from a timer's own task is held to 4 ms
  // after a few rounds (the nesting clamp of HTML's timers).  So a timer's
  // end hops through a message port, a fresh task, and an exact wait sleeps
  // on one timer to about SPIN_MS before its moment and waits out the rest
  // here.
  sleepUntil(until, exact) {
    const left = until - performance.now();
    const delay = exact ? Math.round(left - SPIN_MS) : Math.ceil(left);
    if (exact && delay <= 0) {
      while (performance.now() < until) { /* the last stretch before a byte is due */ }
      return null;
    }
    return new Promise((resolve) => {
      this.waiter = resolve;
      if (left === Infinity) return;
      this.timer = setTimeout(() => this.hop.port2.postMessage(null), delay);
    });
  }
  read(size) {
    this.release();
    const taken = [];
    let room = size;
    while (room > 0 && this.incoming.length) {
      const chunk = this.incoming[0];
      if (chunk.length <= room) {
        taken.push(chunk);
        room -= chunk.length;
        this.incoming.shift();
      } else {
        taken.push(chunk.subarray(0, room));
        this.incoming[0] = chunk.subarray(room);
        room = 0;
      }
    }
    const bytes = new Uint8Array(size - room);
    let at = 0;
    for (const t of taken) { bytes.set(t, at); at += t.length; }
    if (!bytes.length && this.gone) return { result: this.results.hungUp, bytes };
    return { result: this.results.ok, bytes };
  }
  write(bytes) {
    if (this.gone) return this.results.hungUp;
    this.send(bytes);
    return this.results.ok;
  }
  async pause(milliseconds) {
    const end = performance.now() + milliseconds;
    for (;;) {
      if (this.cancelled && !this.noted) return this.results.interrupted;
      if (end - performance.now() <= 0) return this.results.ok;
      await this.sleepUntil(end, false);
    }
  }
  interruptNoted() { this.noted = true; }
}

// The simulated chip: what the core writes in one go reaches the worker in
// one message, as it would leave an operating system's output buffer.  Its
// replies come back ahead of their moment, each with the moment its last
// byte has left the chip's line, and are held until then.
let sessions = 0;

export class SimulatedLine extends ByteLine {
  constructor(results, worker) {
    super(results);
    this.worker = worker;
    this.outgoing = [];
    this.held = [];
    this.session = ++sessions;  // replies to an earlier run are not this one's
  }
  // The simulated board is reset: a new session at this speed.
  reset(bitsPerSecond, erase) {
    this.worker.postMessage({ type: 'reset', session: this.session, bitsPerSecond, erase });
  }
  // A reply of the chip, readable at dueAt (performance.timeOrigin + now).
  arrived(session, bytes, dueAt) {
    if (session !== this.session) return;
    this.held.push({ bytes, at: dueAt - performance.timeOrigin });
    this.wake();
  }
  release() {
    const now = performance.now();
    while (this.held.length && this.held[0].at <= now) this.incoming.push(this.held.shift().bytes);
  }
  nextRelease() { return this.held.length ? this.held[0].at : Infinity; }

  send(bytes) {
    if (!this.outgoing.length) {
      // The line starts with the first byte written, as a UART starts
      // shifting it out while the rest are still being written; on the
      // clock both threads share.
      this.enteredAt = performance.timeOrigin + performance.now();
      queueMicrotask(() => this.flush());
    }
    this.outgoing.push(...bytes);
  }
  flush() {
    if (!this.outgoing.length) return;
    const bytes = Uint8Array.from(this.outgoing);
    this.outgoing = [];
    this.worker.postMessage({ type: 'bytes', bytes, sentAt: this.enteredAt }, [bytes.buffer]);
  }
  discard() { this.outgoing = []; }
  async signals() { return 0; }  // a simulated chip has no modem lines
}

// Read errors after which the port stays usable: port.readable is replaced.
const PASSING_READ_ERRORS = ['BreakError', 'FramingError', 'ParityError', 'BufferOverrunError'];

// An open Web Serial port.  Its reader runs until close(); bytes go to
// whoever listens (the core's line, then the console).
export class SerialLine extends ByteLine {
  constructor(results, port) {
    super(results);
    this.port = port;
    this.outgoing = [];
    this.writing = null;
    this.listener = null;
    this.readError = null;
    this.closed = false;
  }

  async start() {
    this.reading = this.readLoop();
  }

  async readLoop() {
    while (!this.closed && this.port.readable) {
      this.reader = this.port.readable.getReader();
      try {
        for (;;) {
          const { value, done } = await this.reader.read();
          if (done) break;
          if (this.listener) this.listener(value); else this.received(value);
        }
      } catch (error) {
        if (!PASSING_READ_ERRORS.includes(error.name)) {
          this.readError = error;
          break;
        }
        if (this.onReadError) this.onReadError(error);
      } finally {
        this.reader.releaseLock();
      }
    }
    if (!this.closed) this.hangUp();
  }

  // What the core writes in one go (a frame, byte by byte) goes to the port
  // in one write: the writer starts once the core has given up the thread.
  send(bytes) {
    this.outgoing.push(...bytes);
    if (!this.writing) this.writing = Promise.resolve().then(() => this.writeLoop());
  }
  async writeLoop() {
    const writer = this.port.writable.getWriter();
    try {
      while (this.outgoing.length && !this.gone) {
        const bytes = Uint8Array.from(this.outgoing);
        this.outgoing = [];
        await writer.write(bytes);
      }
    } catch (error) {
      this.hangUp();
    } finally {
      writer.releaseLock();
      this.writing = null;
    }
  }
  discard() { this.outgoing = []; }

  async signals(dtr, rts) {
    try {
      await this.port.setSignals({ dataTerminalReady: dtr, requestToSend: rts });
      return 1;
    } catch (error) {
      return 0;
    }
  }

  async close() {
    this.closed = true;
    try { if (this.reader) await this.reader.cancel(); } catch (error) { /* already gone */ }
    try { await this.reading; } catch (error) { /* already gone */ }
    try { if (this.writing) await this.writing; } catch (error) { /* already gone */ }
    try { await this.port.close(); } catch (error) { /* already gone */ }
  }
}
