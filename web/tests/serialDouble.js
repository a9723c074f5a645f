// A navigator.serial of the test's own, injected before the page loads:
// Chromium offers no pseudo-terminal as a serial port.  It follows the Web
// Serial interface (requestPort, getPorts, open({baudRate}), readable,
// writable, setSignals, close, disconnect events, passing read errors);
// its bytes go through the test process (window.__farEnd, exposed by
// farEnd.mjs) to a real pseudo-terminal.  The test process calls
// __serialPort.deliver(), .readError() and .unplug().
(() => {
  const serial = new EventTarget();

  class TestPort extends EventTarget {
    constructor() {
      super();
      this.readable = null;
      this.writable = null;
      this.signals = [];  // every setSignals(), for the tests
      this.controller = null;
      // For the benchmark: from bytes delivered to the page's next write,
      // the page's own turn, summed.
      this.turns = { count: 0, ms: 0, delivered: null };
    }
    getInfo() { return { usbVendorId: 0x0403, usbProductId: 0x6001 }; }

    async open(options) {
      if (!options || !options.baudRate) throw new TypeError('baudRate is required');
      if (this.readable || this.writable) throw new DOMException('The port is already open.', 'InvalidStateError');
      const refusal = await window.__farEnd('open', options.baudRate);
      if (refusal) throw new DOMException(refusal, 'NetworkError');
      this.newReadable();
      // A write is done when handed on, as to an operating system's
      // buffer; the test process takes the calls in order.
      this.writable = new WritableStream({
        write: (chunk) => {
          const t = this.turns;
          if (t.delivered !== null) { t.count++; t.ms += performance.now() - t.delivered; t.delivered = null; }
          window.__farEnd('write', Array.from(chunk));
        },
      });
    }
    newReadable() {
      this.readable = new ReadableStream({ start: (c) => { this.controller = c; } });
    }

    deliver(bytes) {
      if (this.controller) this.controller.enqueue(new Uint8Array(bytes));
      this.turns.delivered = performance.now();
    }
    // A framing error or a break: the stream errors and a new one takes its
    // place, as Chromium does.
    readError(name) {
      if (!this.controller) return;
      this.controller.error(new DOMException(`A ${name} was detected.`, name));
      this.newReadable();
    }
    unplug() {
      if (this.controller) this.controller.error(new DOMException('The device has been lost.', 'NetworkError'));
      this.controller = null;
      this.readable = null;
      this.writable = null;
      this.dispatchEvent(new Event('disconnect'));
      serial.dispatchEvent(new Event('disconnect'));
    }

    async setSignals(signals) {
      if (!this.writable) throw new DOMException('The port is closed.', 'InvalidStateError');
      this.signals.push({ ...signals, at: performance.now() });
      await window.__farEnd('signals', signals);
    }
    async close() {
      if (!this.readable && !this.writable) throw new DOMException('The port is already closed.', 'InvalidStateError');
      if ((this.readable && this.readable.locked) || (this.writable && this.writable.locked)) {
        throw new TypeError('Cannot close a port whose streams are locked.');
      }
      this.controller = null;
      this.readable = null;
      this.writable = null;
      await window.__farEnd('close');
    }
  }

  const port = new TestPort();
  window.__serialPort = port;
  window.__portRequests = 0;
  serial.requestPort = async () => {
    window.__portRequests++;
    if (window.__refusePicker) throw new DOMException('No port selected by the user.', 'NotFoundError');
    return port;
  };
  serial.getPorts = async () => [port];
  Object.defineProperty(navigator, 'serial', { value: serial, configurable: true });
})();
