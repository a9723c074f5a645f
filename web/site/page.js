// The page: hands the user's choices to the uploader's core (core.wasm) and
// draws what it answers.  Every fact and message comes from the core; this
// file moves bytes, keeps the controls in step and draws.
import createCore from './core.js';
import { SimulatedLine, SerialLine } from './lines.js';
import { drawPicture } from './picture.js';
import { Console } from './console.js';

const $ = (id) => document.getElementById(id);
const ui = {};
for (const id of ['hexFile', 'drop', 'speed', 'resetLines', 'resetMs', 'connect', 'simulated', 'overlap', 'query',
  'upload', 'cancel', 'forecast', 'picture', 'log', 'progress', 'progressText', 'notice', 'portState',
  'chip', 'chipVerdict', 'chipPicture', 'chipDownload', 'console', 'consoleSpeed', 'consoleInput', 'consoleSend',
  'consoleOpen', 'consoleHex', 'consoleForm', 'consoleNote', 'consoleWhy', 'fileName', 'fileNotice']) ui[id] = $(id);

const state = {
  core: null,
  facts: null,
  file: null,        // { name, text } once the core has read it
  port: null,        // the Web Serial port the user chose
  running: false,
  consoleOpen: false,
  console: null,
  line: null,
  worker: null,
  pictureStale: false,  // the picture waits for the run to end
  chipFacts: null,
  portRange: null,   // [lower, upper] as the port's bootloader gave it
  started: 0,
  startedBy: null,   // the button that started the run, which keeps the focus
};

// The reason for a failure, or a hint, beside the run's buttons; brought
// into view when it appears, the focus left where it is.
function notice(text) {
  ui.notice.textContent = text;
  if (text && state.running) ui.notice.scrollIntoView({ block: 'nearest' });
}

// What the reader said of a file: its sentence, with its own message below.
function fileNotice(answer) {
  ui.fileNotice.replaceChildren();
  if (!answer.sentence) return;
  const detail = document.createElement('span');
  detail.className = 'detail';
  detail.textContent = answer.messages.trimEnd();
  ui.fileNotice.append(answer.sentence, detail);
}

// A new file starts afresh: nothing of the last run stays on the page.
function clearRun() {
  notice('');
  ui.log.textContent = '';
  ui.progress.value = 0;
  ui.progressText.textContent = '';
  progress.undrawn = null;
  ui.chipVerdict.textContent = '';
  ui.chipVerdict.className = '';
  ui.chipPicture.replaceChildren();
  ui.chip.textContent = '';
  ui.chipDownload.hidden = true;
  delete document.body.dataset.chip;
}

function logText(text) {
  ui.log.textContent += text;
  ui.log.scrollTop = ui.log.scrollHeight;
}

// The core's standard output and error (nothing is printed there in a run).
function printed(line) { logText(line + '\n'); }

// The progress bar is drawn a few times a second, not at every block: each
// drawing costs the page a frame, and on the simulated chip that time is
// taken from the line.  The last block, and where a run stops, are drawn.
const PROGRESS_EVERY_MS = 250;
const progress = { drawnAt: -Infinity, undrawn: null };

function drawProgress(event) {
  ui.progress.value = event.block;
  ui.progressText.textContent = event.figures;
  progress.drawnAt = performance.now();
  progress.undrawn = null;
}

// An event of the run from the core's reporter: its text goes to the log as
// the command line prints it, except the per-block lines, which move the
// progress bar instead.
function reported(event) {
  if (event.kind === 'block') {
    if (event.block === event.total || performance.now() - progress.drawnAt >= PROGRESS_EVERY_MS) drawProgress(event);
    else progress.undrawn = event;
    return;
  }
  if (progress.undrawn) drawProgress(progress.undrawn);
  switch (event.kind) {
  case 'passesBegin':
    ui.progress.max = Math.max(event.total, 1);
    ui.progress.value = 0;
    progress.drawnAt = -Infinity;
    break;
  case 'passesDone':
    break;
  case 'identified':
    logText(event.text);
    if (!ui.simulated.checked && event.range) {
      state.portRange = event.range;
      // The core is running here, not suspended in a wait, so it may be
      // called: the picture shows the range while the upload goes on.
      showPicture(event.range);
    }
    break;
  case 'prompt':
  case 'note':
  case 'hint':
    notice(event.text);
    break;
  case 'disconnected':
    logText(event.text);
    notice(event.text);
    break;
  default:
    logText(event.text);
  }
}

function call(name, types, args) {
  return state.core.ccall(name, 'string', types, args);
}

function speed() { return Number(ui.speed.value); }

// The button that started a run keeps the focus through it: it reads as
// disabled, and a press does nothing until the run ends.
function disable(button, off) {
  const keepsFocus = off && state.running && button === state.startedBy;
  button.disabled = off && !keepsFocus;
  if (keepsFocus) button.setAttribute('aria-disabled', 'true');
  else button.removeAttribute('aria-disabled');
}

function refreshControls() {
  const busy = state.running || state.consoleOpen;
  const hasLine = ui.simulated.checked || state.port !== null;
  ui.connect.disabled = busy || ui.simulated.checked || !('serial' in navigator);
  disable(ui.query, busy || !hasLine);
  disable(ui.upload, busy || !hasLine || !state.file);
  ui.consoleWhy.textContent = ui.simulated.checked ? state.facts.consoleNeedsBoard : '';
  ui.cancel.disabled = !busy;
  for (const c of [ui.hexFile, ui.speed, ui.simulated, ui.overlap, ui.resetLines, ui.resetMs]) c.disabled = busy;
  if (state.console) state.console.refresh();
}
state.refreshControls = refreshControls;

function showForecast() {
  if (!state.file) return;
  ui.forecast.textContent = call('coreForecast', ['number'], [speed()]);
}

// The bootloader's range, once known: the simulated chip's, or what the
// bootloader on the chosen port said in the last run.
function knownRange() {
  if (ui.simulated.checked) return state.chipFacts ? [state.chipFacts.lower, state.chipFacts.upper] : null;
  return state.portRange;
}

function showPicture(range) {
  if (!state.file) return;
  const [lower, upper] = range || [1, 0];
  drawPicture(ui.picture, JSON.parse(call('corePicture', ['number', 'number'], [lower, upper])));
}

let filesRead = 0;

async function readHexFile(file) {
  if (!file) return;  // a cancelled picker changes nothing
  const text = await file.text();
  // The same file chosen again is read again.
  ui.hexFile.value = '';
  const bytes = new TextEncoder().encode(text);
  const at = state.core._malloc(bytes.length + 1);
  state.core.HEAPU8.set(bytes, at);
  let answer;
  try {
    answer = JSON.parse(call('coreReadHex', ['string', 'number', 'number'], [file.name, at, bytes.length]));
  } finally {
    state.core._free(at);
  }
  clearRun();
  fileNotice(answer);  // a refused file, or words the chip does not have, which are left out
  document.body.dataset.filesRead = String(++filesRead);
  if (!answer.ok) {
    // The file is refused as the command line refuses it: nothing to upload.
    state.file = null;
    ui.fileName.textContent = ui.fileName.dataset.none;
    ui.forecast.textContent = '';
    ui.picture.replaceChildren();
    refreshControls();
    return;
  }
  state.file = { name: file.name, text };
  ui.fileName.textContent = file.name;
  showForecast();
  showPicture(knownRange());
  refreshControls();
}

function chipWorker() {
  if (state.worker) return state.worker;
  state.worker = new Worker('chipWorker.js', { type: 'module' });
  state.worker.addEventListener('message', (event) => {
    const m = event.data;
    if (m.type === 'bytes' && state.line instanceof SimulatedLine) state.line.arrived(m.session, m.bytes, m.dueAt);
    if (m.type === 'facts') {
      state.chipFacts = m.facts;
      window.__chipFacts = m.facts;
      // A run holds the core suspended in a wait, and nothing may call into
      // it then (the run would never resume): the picture waits for its end.
      if (state.running) state.pictureStale = true;
      else showPicture([m.facts.lower, m.facts.upper]);
    }
    if (m.type === 'content') showChip(m);
  });
  state.worker.postMessage({ type: 'facts' });
  return state.worker;
}

function showChip(m) {
  ui.chip.textContent = m.hex;
  ui.chipVerdict.textContent = m.verdict.text;
  ui.chipVerdict.className = m.verdict.exact ? 'exact' : 'differs';
  const range = [state.chipFacts.lower, state.chipFacts.upper];
  const bytes = new TextEncoder().encode(m.hex);
  const at = state.core._malloc(bytes.length + 1);
  state.core.HEAPU8.set(bytes, at);
  try {
    drawPicture(ui.chipPicture, JSON.parse(call('corePictureOf', ['number', 'number', 'number', 'number'],
      [at, bytes.length, range[0], range[1]])));
  } finally {
    state.core._free(at);
  }
  if (ui.chipDownload.href) URL.revokeObjectURL(ui.chipDownload.href);
  ui.chipDownload.href = URL.createObjectURL(new Blob([m.hex], { type: 'text/plain' }));
  ui.chipDownload.hidden = false;
  document.body.dataset.chip = 'shown';
}

function chipContent() {
  return new Promise((resolve) => {
    const w = chipWorker();
    const got = (event) => {
      if (event.data.type !== 'content') return;
      w.removeEventListener('message', got);
      resolve();
    };
    w.addEventListener('message', got);
    w.postMessage({ type: 'content', name: state.file.name, program: state.file.text,
      ignoreOverlap: ui.overlap.checked });
  });
}

async function openPort() {
  try {
    await state.port.open({ baudRate: speed() });
  } catch (error) {
    notice(`The port cannot be opened: ${error.message}\n` +
      'If another program (a terminal, an IDE, another upload) has it open, close that program. ' +
      'On Linux your user must be in the dialout group: sudo usermod -aG dialout $USER, then log in again.');
    return null;
  }
  const line = new SerialLine(state.facts.lineResults, state.port);
  await line.start();
  return line;
}

async function run(queryOnly) {
  if (state.running) return;  // the starting button, pressed again
  state.running = true;
  state.startedBy = queryOnly ? ui.query : ui.upload;
  refreshControls();
  notice('');
  ui.log.textContent = '';
  ui.progress.value = 0;
  ui.progressText.textContent = '';
  document.body.dataset.run = 'running';
  let result = 0;
  try {
    if (ui.simulated.checked) {
      // The simulated board is reset as the run starts; an upload starts
      // from an erased chip.
      state.line = new SimulatedLine(state.facts.lineResults, chipWorker());
      state.line.reset(speed(), !queryOnly);
    } else {
      state.line = await openPort();
      if (!state.line) return;
    }
    state.core.line = state.line;
    state.started = performance.now();
    const simulated = ui.simulated.checked;
    result = await state.core.ccall('coreUpload', 'number',
      ['number', 'number', 'number', 'string', 'number', 'number'],
      [speed(), ui.overlap.checked ? 1 : 0, queryOnly ? 1 : 0, simulated ? 'none' : ui.resetLines.value,
        Number(ui.resetMs.value), simulated ? 1 : 0], { async: true });
    document.body.dataset.runMs = (performance.now() - state.started).toFixed(1);
    if (ui.simulated.checked && !queryOnly) await chipContent();
  } finally {
    if (progress.undrawn) drawProgress(progress.undrawn);
    if (state.line instanceof SerialLine) await state.line.close();
    state.line = null;
    state.running = false;
    // Cancel is disabled as the run ends: its focus goes back to the button
    // that started the run, not to the page.
    const startedBy = state.startedBy;
    const cancelFocused = document.activeElement === ui.cancel;
    state.startedBy = null;
    if (state.pictureStale) {
      state.pictureStale = false;
      showPicture(knownRange());
    }
    refreshControls();
    if (cancelFocused) startedBy.focus();
    document.body.dataset.run = result === 1 ? 'succeeded' : 'failed';
  }
}

const watched = new WeakSet();

async function connect() {
  try {
    state.port = await navigator.serial.requestPort();
  } catch (error) {
    if (error.name !== 'NotFoundError') notice(`No port: ${error.message}`);
    return;  // a cancelled chooser changes nothing
  }
  if (!watched.has(state.port)) {
    watched.add(state.port);
    const port = state.port;
    // The port was unplugged: the run's waits end as on a hung-up line.
    port.addEventListener('disconnect', () => { if (state.line && state.line.port === port) state.line.hangUp(); });
  }
  // Another port may have another bootloader.
  state.portRange = null;
  showPicture(knownRange());
  const info = state.port.getInfo();
  ui.portState.textContent = info.usbVendorId !== undefined
    ? `Port chosen (USB ${info.usbVendorId.toString(16).padStart(4, '0')}:${(info.usbProductId || 0).toString(16).padStart(4, '0')}).`
    : 'Port chosen.';
  refreshControls();
}

async function start() {
  state.core = await createCore({ print: printed, printErr: printed, onReport: reported });
  state.facts = JSON.parse(call('coreFacts', [], []));
  for (const bps of state.facts.speeds) {
    ui.speed.add(new Option(String(bps), String(bps), bps === state.facts.defaultSpeed, bps === state.facts.defaultSpeed));
  }
  for (const lines of state.facts.resetLines) {
    const chosen = lines === state.facts.defaultResetLines;
    ui.resetLines.add(new Option(lines, lines, chosen, chosen));
  }
  ui.resetMs.value = state.facts.resetDefaultMs;
  ui.resetMs.max = state.facts.resetMaxMs;

  if (!('serial' in navigator)) {
    notice('This browser has no Web Serial. Chrome, Edge and Opera on a desktop have it; ' +
      'the command-line uploader, programUploader, works from any shell. The simulated chip works here too.');
  }

  ui.hexFile.addEventListener('change', () => readHexFile(ui.hexFile.files[0]));
  ui.drop.addEventListener('dragover', (e) => { e.preventDefault(); ui.drop.classList.add('over'); });
  ui.drop.addEventListener('dragleave', () => ui.drop.classList.remove('over'));
  ui.drop.addEventListener('drop', (e) => {
    e.preventDefault();
    ui.drop.classList.remove('over');
    if (state.running) return;  // as the disabled picker: the core is busy with the run
    readHexFile(e.dataTransfer.files[0]);
  });
  ui.speed.addEventListener('change', showForecast);
  ui.simulated.addEventListener('change', () => {
    if (ui.simulated.checked) chipWorker();
    showPicture(knownRange());
    refreshControls();
  });
  ui.connect.addEventListener('click', connect);
  ui.query.addEventListener('click', () => run(true));
  ui.upload.addEventListener('click', () => run(false));
  ui.cancel.addEventListener('click', () => { if (state.line) state.line.cancel(); });
  state.console = new Console(state, ui);
  refreshControls();
  // For the benchmark and the tests: the core and the simulated chip's facts.
  window.__core = state.core;
  document.body.dataset.ready = 'yes';
}

start();
