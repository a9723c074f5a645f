// The console: after an upload or a query, what the chip sends, at a speed
// of the user's choosing, and a line to send.
export class Console {
  constructor(state, ui) {
    this.state = state;
    this.ui = ui;
  }
}
