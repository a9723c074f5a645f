// The page through a serial port (the injected navigator.serial) to a real
// bootloaderSim on a pseudo-terminal: the examples land exactly, the log
// holds the command line's lines, faults read as on the command line, and
// Cancel ends the upload with the end command.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { EXAMPLES, assert, checkNoProblems, chooseFile, example, openPage, runAndWait, runChecks,
  startBrowser } from './browser.mjs';
import { DOUBLE, bridge, startSimulator } from './farEnd.mjs';

const SIM = process.env.BOOTLOADER_SIM;
const UPLOADER = process.env.PROGRAM_UPLOADER;
const CHIP_CHECK = process.env.CHIP_CHECK;
const { PIC_SIM, FIRMWARE } = process.env;
const COMMIT_WAIT_MS = 500;
assert(SIM && UPLOADER && CHIP_CHECK, 'BOOTLOADER_SIM, PROGRAM_UPLOADER and CHIP_CHECK name the programs');
const SPEED = '57600';
const work = mkdtempSync(join(tmpdir(), 'page-far-end-'));
let runs = 0;

// The lines a run shows, per-block progress lines aside.
const lines = (text) => text.split(/[\r\n]/).filter((l) => l !== '' && !/^ {2}programming address [0-9A-F]{4}$/.test(l));

async function simulator(faults = []) {
  const dump = join(work, `chip${++runs}.hex`);
  const sim = await startSimulator(SIM, ['--once', '--dump', dump, ...faults.flatMap((f) => ['--fault', f])]);
  sim.dump = dump;
  return sim;
}

// The command line against a simulator of its own with the same faults.
async function commandLine(file, flags, faults) {
  const sim = await simulator(faults);
  const run = spawnSync('sh', ['-c', '"$@" 2>&1', 'sh', UPLOADER, ...flags, '-s', SPEED, '-p', sim.port, file],
    { encoding: 'utf8' });
  sim.stop();
  await sim.exited;
  return run.stdout;
}

const session = await startBrowser();
let failed = 0;
let sim = null;
let far = null;
try {
  const page = await openPage(session, {
    extraScript: DOUBLE,
    prepare: async (p) => { far = await bridge(p, () => sim.port); },
  });
  await page.select('#speed', SPEED);
  await page.select('#resetLines', 'none');
  await page.click('#connect');
  await page.waitForFunction(() => !document.getElementById('upload').disabled ||
    !document.getElementById('query').disabled);

  async function upload(name, faults = [], { whileRunning = null, stop = false } = {}) {
    sim = await simulator(faults);
    const overlap = await page.$eval('#overlap', (e) => e.checked);
    if (overlap !== (name === 'overlap')) await page.click('#overlap');
    await chooseFile(page, example(name));
    const running = runAndWait(page, '#upload');
    if (whileRunning) await whileRunning();
    const outcome = await running;
    if (stop) sim.stop();
    const status = await sim.exited;
    return { outcome, status, log: await page.$eval('#log', (e) => e.textContent), dump: sim.dump,
      notice: await page.$eval('#notice', (e) => e.textContent) };
  }

  failed += await runChecks(EXAMPLES.map((name) => [`${name} lands exactly through the port`, async () => {
    const run = await upload(name);
    assert(run.outcome === 'succeeded', `upload ${run.outcome}:\n${run.log}`);
    assert(run.status.code === 0, `bootloaderSim: ${JSON.stringify(run.status)} (no end command?)`);
    const check = spawnSync(CHIP_CHECK, [...(name === 'overlap' ? ['-o'] : []), example(name), run.dump],
      { encoding: 'utf8' });
    assert(check.status === 0, check.stdout + check.stderr);
    // The picture shows the range the bootloader on the port gave.
    const legend = await page.$eval('#picture .legend', (e) => e.textContent);
    assert(legend.includes("bootloader's range"), `legend: ${legend}`);
    checkNoProblems(page);
  }]));

  for (const [name, faults] of [['blink', []], ['overlap', []], ['eeprom', []], ['blink', ['checksum@3']],
    ['blink', ['hangup@3']]]) {
    failed += await runChecks([[`${name} ${faults.join(' ')}: the log holds the command line's lines`, async () => {
      const page_ = await upload(name, faults);
      const cli = await commandLine(example(name), name === 'overlap' ? ['-o'] : [], faults);
      // The hint names each front end's own settings: the page shows its
      // own in the notice, not in the log.
      const want = lines(cli.replace(/^hint: .*(\n {6}\S.*)*\n?/m, ''));
      const got = lines(page_.log);
      assert(JSON.stringify(got) === JSON.stringify(want),
        `page:\n${got.join('\n')}\ncommand line:\n${want.join('\n')}`);
      if (faults.length) assert(/block 0004|Block 0004/.test(page_.notice), page_.notice);
      checkNoProblems(page);
    }]]);
  }

  failed += await runChecks([['Cancel mid-upload sends the end command; the chip holds a prefix', async () => {
    const run = await upload('fill', [], {
      whileRunning: () => new Promise((done) => {
        const from = far.written;
        far.onWrite = (written) => {
          if (written - from < 2000) return;
          far.onWrite = null;
          page.click('#cancel').then(done);
        };
      }),
    });
    assert(run.outcome === 'failed', `upload ${run.outcome}`);
    assert(/^ERROR: Interrupted at address [0-9A-F]{4}; the chip holds only part of the program\.$/m.test(run.log),
      run.log);
    assert(run.status.code === 0, `bootloaderSim: ${JSON.stringify(run.status)} (no end command)`);
    const words = (file) => {
      const out = new Map();
      let base = 0;
      for (const line of readFileSync(file, 'utf8').split('\n')) {
        const m = /^:([0-9A-F]{2})([0-9A-F]{4})([0-9A-F]{2})([0-9A-F]*)[0-9A-F]{2}$/i.exec(line.trim());
        if (!m) continue;
        const [count, address, type] = [parseInt(m[1], 16), parseInt(m[2], 16), parseInt(m[3], 16)];
        if (type === 4) base = parseInt(m[4], 16) << 16;
        if (type !== 0) continue;
        for (let i = 0; i < count; i += 2) out.set((base + address + i) / 2, m[4].substr(i * 2, 4).toUpperCase());
      }
      return out;
    };
    const chip = words(run.dump);
    const program = words(example('fill'));
    assert(chip.size > 0 && chip.size < program.size, `chip ${chip.size} words, program ${program.size}`);
    for (const [address, word] of chip) {
      assert(program.get(address) === word, `chip word ${address.toString(16)} ${word} not the program's`);
    }
    const highest = Math.max(...chip.keys());
    for (const [address] of program) {
      assert(address > highest || chip.has(address) || address >= 0x2000, `hole at ${address.toString(16)}`);
    }
    checkNoProblems(page);
  }]]);

  failed += await runChecks([['the reset sequence reaches setSignals: DTR released, asserted for the time chosen, released',
    async () => {
      await page.select('#resetLines', 'dtr');
      await page.$eval('#resetMs', (e) => { e.value = '120'; });
      await page.evaluate(() => { window.__serialPort.signals = []; });
      let run;
      try {
        run = await upload('blink');
      } finally {
        await page.select('#resetLines', 'none');
      }
      assert(run.outcome === 'succeeded', run.log);
      const signals = await page.evaluate(() => window.__serialPort.signals);
      const shown = JSON.stringify(signals);
      assert(signals.length === 3, shown);
      const states = signals.map((s) => [s.dataTerminalReady, s.requestToSend]);
      assert(JSON.stringify(states) === '[[false,true],[true,true],[false,true]]', shown);
      assert(signals[1].at - signals[0].at >= 49 && signals[2].at - signals[1].at >= 119, shown);
      checkNoProblems(page);
    }]]);

  failed += await runChecks([['Cancel in the greeting wait prints its own line and sends nothing more', async () => {
    const run = await upload('blink', ['late@60'], {
      whileRunning: () => new Promise((done) => {
        const from = far.written;
        far.onWrite = (written) => {
          if (written - from < 3) return;  // polls are going out
          far.onWrite = null;
          page.click('#cancel').then(done);
        };
      }),
      stop: true,
    });
    assert(run.outcome === 'failed', run.outcome);
    assert(lines(run.log).join('\n') === "Waiting for the bootloader's greeting . . .\n" +
      "ERROR: Interrupted while waiting for the bootloader's greeting; nothing was written.", run.log);
    assert(far.last.every((b) => b === 0x0d), `the last write was ${far.last}, not a poll`);
  }]]);

  failed += await runChecks([['blink through picSim running our firmware: the chip as after the command line', async () => {
    if (!PIC_SIM || !FIRMWARE) {
      console.log('(no picSim: PIC_SIM and FIRMWARE are not set)');
      return;
    }
    // Our firmware runs at 19200 bit/s; picSim until it is stopped, in real
    // time: the firmware tells bursts of polls apart by a quiet gap of
    // simulated time, which an unthrottled chip would see stretched.
    const firmwareRun = async (upload_) => {
      const dump = join(work, `picsim${++runs}.hex`);
      const chip = await startSimulator(PIC_SIM, ['--firmware', FIRMWARE, '--dump', dump]);
      const result = await upload_(chip);
      // The end command may still be on its way, and the firmware writes its
      // commit block after it: a few milliseconds of the chip's time, which
      // nothing outside the chip shows (the firmware tests wait the same).
      await new Promise((done) => setTimeout(done, COMMIT_WAIT_MS));
      chip.stop();
      const status = await chip.exited;
      assert(status.code === 0, `picSim: ${JSON.stringify(status)} ${chip.output.join('')}`);
      return { result, chip: readFileSync(dump, 'utf8') };
    };
    await page.select('#speed', '19200');
    if (await page.$eval('#overlap', (e) => e.checked)) await page.click('#overlap');
    await chooseFile(page, example('blink'));
    const viaPage = await firmwareRun(async (chip) => {
      sim = chip;
      const outcome = await runAndWait(page, '#upload');
      return { outcome, log: await page.$eval('#log', (e) => e.textContent) };
    });
    await page.select('#speed', SPEED);
    const viaCommandLine = await firmwareRun(async (chip) =>
      spawnSync(UPLOADER, ['-s', '19200', '-p', chip.port, example('blink')], { encoding: 'utf8' }).stdout);
    assert(viaPage.result.outcome === 'succeeded', viaPage.result.log);
    assert(JSON.stringify(lines(viaPage.result.log)) === JSON.stringify(lines(viaCommandLine.result)),
      `page:\n${viaPage.result.log}\ncommand line:\n${viaCommandLine.result}`);
    assert(viaPage.chip === viaCommandLine.chip, 'the chips differ after the two uploads');
    checkNoProblems(page);
  }]]);

  failed += await runChecks([['the console shows what the chip sends, takes a line, and reads on after a framing error',
    async () => {
      // bootloaderSim greets each carriage return: the console's line end.
      sim = await startSimulator(SIM, []);
      await page.select('#consoleSpeed', SPEED);
      await page.click('#consoleOpen');
      await page.waitForFunction(() => !document.getElementById('consoleSend').disabled);
      const shown = (text) => page.waitForFunction((t) =>
        document.getElementById('console').textContent.includes(t), {}, text);
      await page.type('#consoleInput', 'x');
      await page.click('#consoleSend');
      await shown('KK');  // the greeting
      await far.readError('FramingError');
      await page.type('#consoleInput', 'hi');
      await page.click('#consoleSend');
      await shown('>');  // the identification's ready byte, read after the error
      await page.click('#consoleHex');
      const hex = await page.$eval('#console', (e) => e.textContent);
      assert(/4b 4b d4 07 0f 06 .*00 1f ff 1f 3e/.test(hex), hex);
      await page.click('#consoleOpen');  // closes it
      await page.waitForFunction(() => !document.getElementById('upload').disabled);
      sim.stop();
      await sim.exited;
      checkNoProblems(page);
    }]]);

  failed += await runChecks([['a port the browser cannot open gets its reason and the advice', async () => {
    far.refuse = 'Failed to open serial port.';
    try {
      const outcome = await runAndWait(page, '#upload');
      assert(outcome === 'failed', outcome);
      const notice = await page.$eval('#notice', (e) => e.textContent);
      assert(notice.includes('Failed to open serial port.') && notice.includes('dialout') &&
        notice.includes('close that program'), notice);
    } finally {
      far.refuse = '';
    }
    checkNoProblems(page);
  }], ['a cancelled picker changes nothing; the port can be chosen again', async () => {
    const before = await page.$eval('#portState', (e) => e.textContent);
    await page.evaluate(() => { window.__refusePicker = true; document.getElementById('notice').textContent = ''; });
    const asked = await page.evaluate(() => window.__portRequests);
    await page.click('#connect');
    await page.waitForFunction((n) => window.__portRequests > n, {}, asked);
    assert(await page.$eval('#portState', (e) => e.textContent) === before, 'port state changed');
    assert(await page.$eval('#notice', (e) => e.textContent) === '', 'a notice for a cancelled picker');
    await page.evaluate(() => { window.__refusePicker = false; });
    await page.click('#connect');
    await page.waitForFunction((n) => window.__portRequests > n + 1, {}, asked);
    const run = await upload('blink');
    assert(run.outcome === 'succeeded', run.log);
    checkNoProblems(page);
  }]]);
} finally {
  if (sim) sim.stop();
  await session.close();
  rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
