// The README's picture of the page: blink uploaded to the simulated chip.
// Refreshed by `bash scripts/screenshot.sh`, never by hand.
import { join } from 'node:path';
import { ROOT, chooseFile, example, openPage, runAndWait, startBrowser } from './tests/browser.mjs';

const out = process.argv[2] || join(ROOT, 'web/screenshot.png');
const session = await startBrowser();
try {
  const page = await openPage(session, { width: 900 });
  await page.click('#simulated');
  await page.select('#speed', '57600');
  await chooseFile(page, example('blink'));
  const outcome = await runAndWait(page, '#upload');
  if (outcome !== 'succeeded') throw new Error(`the upload ${outcome}`);
  await page.waitForFunction(() => document.body.dataset.chip === 'shown');
  await page.screenshot({ path: out, fullPage: true });
  console.log(`wrote ${out}`);
} finally {
  await session.close();
}
