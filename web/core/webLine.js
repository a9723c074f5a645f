// The JavaScript side of WebLine: every call goes to Module.line, the
// transport the page sets before a run (the browser's port or the simulated
// chip).  Results are LineResult values, which the transport hands back.
mergeInto(LibraryManager.library, {
  webLineWait: function (milliseconds) {
    return Asyncify.handleAsync(() => Module.line.wait(milliseconds));
  },
  webLineRead: function (buffer, size, got) {
    const taken = Module.line.read(size);
    HEAPU8.set(taken.bytes, buffer);
    HEAP32[got >> 2] = taken.bytes.length;
    return taken.result;
  },
  webLineWrite: function (data, size) {
    return Module.line.write(HEAPU8.slice(data, data + size));
  },
  webLineDiscard: function () {
    Module.line.discard();
  },
  webLineSignals: function (dtr, rts) {
    return Asyncify.handleAsync(() => Module.line.signals(dtr !== 0, rts !== 0));
  },
  webLinePause: function (milliseconds) {
    return Asyncify.handleAsync(() => Module.line.pause(milliseconds));
  },
  webLineInterruptNoted: function () {
    Module.line.interruptNoted();
  },
});
