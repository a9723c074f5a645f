// The page's figures (bash bench/page.sh):
//  1. examples/fill at 19200 bit/s on the page's simulated chip: the run's
//     wall time against what the line allows (wire time + write time).
//  2. The same file through the injected port to bootloaderSim, beside the
//     command line against the same simulator, and the bridge's round trip,
//     so that the page's own cost per block can be told from the harness's.
import { spawnSync } from 'node:child_process';
import { loadavg } from 'node:os';
import { chooseFile, example, openPage, runAndWait, startBrowser } from '../web/tests/browser.mjs';
import { DOUBLE, bridge, startSimulator } from '../web/tests/farEnd.mjs';

const SPEED = Number(process.env.SPEED || 19200);
const FILE = example(process.env.EXAMPLE || 'fill');
const { BOOTLOADER_SIM: SIM, PROGRAM_UPLOADER: UPLOADER } = process.env;

const session = await startBrowser();
try {
  const page = await openPage(session);
  await page.click('#simulated');
  await page.select('#speed', String(SPEED));
  await chooseFile(page, FILE);
  const outcome = await runAndWait(page, '#upload', 600000);
  const ms = Number(await page.$eval('body', (b) => b.dataset.runMs));
  const [limit, blocks] = await page.evaluate((bps) => {
    const core = window.__core;
    const facts = window.__chipFacts;
    const seconds = core.ccall('coreLineSeconds', 'number', ['number', 'number', 'number', 'number', 'number'],
      [bps, facts.lower, facts.upper, facts.programWriteMs, facts.eepromWriteMs]);
    return [seconds, Number(document.getElementById('progress').max)];
  }, SPEED);
  // The machine may be shared: each figure says the load it was taken at.
  const load = () => `load ${loadavg().map((l) => l.toFixed(2)).join(' ')}`;
  console.log(`simulated chip, ${blocks} blocks at ${SPEED} bit/s: ${outcome}, ${(ms / 1000).toFixed(2)} s ` +
    `against the line's ${limit.toFixed(2)} s: ${(ms / 1000 / limit).toFixed(3)} x (${load()})`);
  await page.close();

  if (SIM && UPLOADER) {
    let sim = null;
    let far = null;
    const ported = await openPage(session, {
      extraScript: DOUBLE,
      prepare: async (p) => { far = await bridge(p, () => sim.port); },
    });
    await ported.select('#speed', String(SPEED));
    await ported.select('#resetLines', 'none');
    await ported.click('#connect');
    await chooseFile(ported, FILE);
    sim = await startSimulator(SIM, ['--once']);
    const portOutcome = await runAndWait(ported, '#upload', 600000);
    const portMs = Number(await ported.$eval('body', (b) => b.dataset.runMs));
    const turn = await ported.evaluate(() => window.__serialPort.turns);
    await sim.exited;
    // The bridge's round trip: a byte from the page to the test process and
    // an answer back, as each frame and each response takes it.
    const trips = 200;
    const tripMs = await ported.evaluate(async (n) => {
      const began = performance.now();
      for (let i = 0; i < n; i++) await window.__farEnd('ping');
      return (performance.now() - began) / n;
    }, trips);

    sim = await startSimulator(SIM, ['--once']);
    const began = process.hrtime.bigint();
    spawnSync(UPLOADER, ['-s', String(SPEED), '-p', sim.port, FILE], { stdio: 'ignore' });
    const cliMs = Number(process.hrtime.bigint() - began) / 1e6;
    await sim.exited;
    const perBlock = (portMs - cliMs) / blocks;
    // The command line against the line's limit tells how much the machine
    // itself adds at this load.
    console.log(`injected port to bootloaderSim: ${portOutcome}, ${(portMs / 1000).toFixed(2)} s; ` +
      `command line: ${(cliMs / 1000).toFixed(2)} s (${(cliMs / 1000 / limit).toFixed(3)} x the line's limit); ` +
      `bridge round trip ${tripMs.toFixed(2)} ms; page and bridge cost ${perBlock.toFixed(2)} ms a block ` +
      `(each block crosses the bridge twice: the frame out, the answer back), of which the page's own turn ` +
      `(answer delivered to the next frame written) ${(turn.ms / turn.count).toFixed(2)} ms (${load()})`);
    void far;
  }
} finally {
  await session.close();
}
