// The console: after an upload or a query, what the chip's program sends,
// as text or hex, at the speed the application uses, and a line to send.
import { SerialLine } from './lines.js';

const KEEP = 65536;  // bytes of history kept for redrawing

export class Console {
  constructor(state, ui) {
    this.state = state;
    this.ui = ui;
    this.line = null;
    this.bytes = new Uint8Array(0);
    this.text = new TextDecoder();
    for (const bps of state.facts.consoleSpeeds) {
      const chosen = bps === state.facts.defaultSpeed;
      ui.consoleSpeed.add(new Option(String(bps), String(bps), chosen, chosen));
    }
    ui.consoleNote.textContent = 'Web Serial cannot change an open port\'s speed, so a new speed reopens the port. ' +
      'Reopening toggles DTR and RTS, which resets a board with an auto-reset circuit, and bytes sent while ' +
      'it reopens are lost.';
    ui.consoleOpen.addEventListener('click', () => (this.line ? this.close() : this.open()));
    ui.consoleSpeed.addEventListener('change', () => { if (this.line) this.reopen(); });
    ui.consoleHex.addEventListener('change', () => this.redraw());
    ui.consoleForm.addEventListener('submit', (event) => {
      event.preventDefault();
      this.send();
    });
  }

  refresh() {
    const usable = !this.state.running && !this.ui.simulated.checked && this.state.port !== null;
    this.ui.consoleOpen.disabled = !usable && !this.line;
    this.ui.consoleOpen.textContent = this.line ? 'Close console' : 'Open console';
    this.ui.consoleSend.disabled = !this.line;
    this.ui.consoleInput.disabled = !this.line;
  }

  async open() {
    const port = this.state.port;
    try {
      await port.open({ baudRate: Number(this.ui.consoleSpeed.value) });
    } catch (error) {
      this.ui.notice.textContent = `The port cannot be opened: ${error.message}`;
      return;
    }
    const line = new SerialLine(this.state.facts.lineResults, port);
    line.listener = (bytes) => this.received(bytes);
    line.onReadError = (error) => this.received(new TextEncoder().encode(`\n[${error.name}]\n`));
    line.hangUp = () => { this.close(); };
    this.line = line;
    this.state.consoleOpen = true;
    // Keep the board out of reset: the chosen reset lines released.
    const lines = this.ui.resetLines.value;
    if (lines !== 'none') {
      await line.signals(false, false);
    }
    await line.start();
    this.refresh();
    this.state.refreshControls();
  }

  async close() {
    const line = this.line;
    if (!line) return;
    this.line = null;
    await line.close();
    this.state.consoleOpen = false;
    this.refresh();
    this.state.refreshControls();
  }

  async reopen() {
    await this.close();
    await this.open();
  }

  received(bytes) {
    const joined = new Uint8Array(Math.min(KEEP, this.bytes.length + bytes.length));
    const all = new Uint8Array(this.bytes.length + bytes.length);
    all.set(this.bytes);
    all.set(bytes, this.bytes.length);
    joined.set(all.subarray(all.length - joined.length));
    this.bytes = joined;
    if (this.ui.consoleHex.checked) {
      this.ui.console.textContent += Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join(' ') + ' ';
    } else {
      this.ui.console.textContent += this.text.decode(bytes, { stream: true });
    }
    this.ui.console.scrollTop = this.ui.console.scrollHeight;
  }

  redraw() {
    this.ui.console.textContent = this.ui.consoleHex.checked
      ? Array.from(this.bytes, (b) => b.toString(16).padStart(2, '0')).join(' ') + ' '
      : new TextDecoder().decode(this.bytes);
  }

  send() {
    if (!this.line) return;
    const text = this.ui.consoleInput.value + '\r\n';
    this.line.send(new TextEncoder().encode(text));
    this.ui.consoleInput.value = '';
  }
}
