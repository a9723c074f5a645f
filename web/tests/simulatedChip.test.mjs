// The page against its simulated chip at 57600 bit/s: every example
// uploads and the chip holds it exactly; a bad hex file shows the reader's
// message.
import { writeFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { EXAMPLES, assert, checkNoProblems, chooseFile, example, openPage, runAndWait, runChecks,
  startBrowser } from './browser.mjs';

const session = await startBrowser();
let failed = 0;
try {
  const page = await openPage(session);
  await page.click('#simulated');
  await page.select('#speed', '57600');
  failed += await runChecks(EXAMPLES.map((name) => [`${name} lands on the simulated chip`, async () => {
    // overlap runs into the bootloader's range and needs -o.
    const overlap = await page.$eval('#overlap', (e) => e.checked);
    if (overlap !== (name === 'overlap')) await page.click('#overlap');
    await chooseFile(page, example(name));
    const outcome = await runAndWait(page, '#upload');
    const log = await page.$eval('#log', (e) => e.textContent);
    assert(outcome === 'succeeded', `upload ${outcome}:\n${log}`);
    assert(log.includes('Programming complete'), `no completion in the log:\n${log}`);
    const verdict = await page.$eval('#chipVerdict', (e) => e.textContent);
    assert(verdict.includes('holds exactly'), verdict);
    checkNoProblems(page);
  }]));

  failed += await runChecks([['a bad hex file shows the reader\'s message', async () => {
    const dir = mkdtempSync(join(tmpdir(), 'page-'));
    const bad = join(dir, 'bad.hex');
    writeFileSync(bad, ':020000040000FA\n:0400000001020304F1\n:00000001FF\n');
    await chooseFile(page, bad);
    const notice = await page.$eval('#notice', (e) => e.textContent);
    assert(/^PicProgram::readHex - .*line 2/m.test(notice), `notice: ${notice}`);
    checkNoProblems(page);
  }]]);

  failed += await runChecks([['at 360 px wide nothing scrolls sideways', async () => {
    await page.setViewport({ width: 360, height: 800 });
    const [scroll, client] = await page.evaluate(() =>
      [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
    assert(scroll <= client, `scrollWidth ${scroll} > ${client}`);
  }], ['a browser without Web Serial gets a plain notice; the simulated chip still works', async () => {
    const bare = await openPage(session, { extraScript: () => { delete Navigator.prototype.serial; } });
    const notice = await bare.$eval('#notice', (e) => e.textContent);
    assert(/Chrome, Edge and Opera/.test(notice) && /programUploader/.test(notice), notice);
    assert(await bare.$eval('#connect', (e) => e.disabled), 'Connect is enabled');
    checkNoProblems(bare);
    await bare.close();
  }]]);
} finally {
  await session.close();
}
process.exit(failed ? 1 : 0);
