// What every browser test shares: the built site on a local server,
// Debian's chromium driven headless by puppeteer-core, and a page that
// fails the test on any Content-Security-Policy violation or page error.
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../serve.mjs';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const SITE = process.env.SITE_DIR || join(ROOT, 'build/web/site');
export const EXAMPLES = ['blink', 'eeprom', 'fill', 'overlap', 'linked'];
export const example = (name) => join(ROOT, 'examples', name, `${name}.inhx32.hex`);

// Folders of the test's own under $TMPDIR, removed when the test process
// exits, however it ends.
const scratch = [];
process.on('exit', () => scratch.forEach((dir) => rmSync(dir, { recursive: true, force: true })));
export function scratchDir(prefix) {
  const dir = mkdtempSync(join(tmpdir(), prefix));
  scratch.push(dir);
  return dir;
}

const CHROMIUM = process.env.CHROMIUM || ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(existsSync);

// Exit code 77 tells CTest the test was skipped.
export const SKIP = 77;

export async function startBrowser() {
  if (!CHROMIUM) {
    console.log('SKIP: no chromium found (/usr/bin/chromium); bash scripts/setup.sh installs it');
    process.exit(SKIP);
  }
  let puppeteer;
  try {
    puppeteer = (await import('puppeteer-core')).default;
  } catch {
    console.error('FAIL: puppeteer-core is not installed: cd web && npm ci');
    process.exit(1);
  }
  const server = await serve(SITE, 0);
  const profile = scratchDir('page-profile-');
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--no-first-run', '--disable-gpu', '--disable-quic', '--disable-dev-shm-usage'],
    userDataDir: profile,  // a fresh profile each run
  });
  const url = `http://localhost:${server.address().port}/`;
  return {
    browser,
    url,
    async close() {
      await browser.close();
      server.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A page of the site with the checks every test wants.  extraScript runs
// before the page's own scripts (a test double, say).
export async function openPage(session, { width = 1000, extraScript = null, prepare = null } = {}) {
  const page = await session.browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('response', (response) => {
    if (response.status() >= 400) problems.push(`HTTP ${response.status()} for ${response.url()}`);
  });
  page.on('console', (message) => {
    if (message.type() === 'error' && !message.text().startsWith('Failed to load resource')) problems.push(`console error: ${message.text()}`);
  });
  await page.exposeFunction('__cspViolation', (text) => problems.push(`CSP violation: ${text}`));
  await page.evaluateOnNewDocument(() => {
    document.addEventListener('securitypolicyviolation', (e) =>
      window.__cspViolation(`${e.violatedDirective} ${e.blockedURI} ${e.sourceFile}:${e.lineNumber}`));
  });
  if (extraScript) await page.evaluateOnNewDocument(extraScript);
  if (prepare) await prepare(page);
  await page.setViewport({ width, height: 900 });
  await page.goto(session.url);
  await page.waitForFunction(() => document.body.dataset.ready === 'yes');
  page.problems = problems;
  return page;
}

export function checkNoProblems(page) {
  if (page.problems.length) throw new Error(page.problems.join('\n'));
}

// Chooses a hex file and waits until the core has read it.
export async function chooseFile(page, path) {
  const before = await page.$eval('body', (b) => Number(b.dataset.filesRead || 0));
  const input = await page.$('#hexFile');
  await input.uploadFile(path);
  await page.waitForFunction((n) => Number(document.body.dataset.filesRead || 0) > n, {}, before);
}

// Presses a button and waits until the run it starts has ended.
export async function runAndWait(page, button, timeout = 120000) {
  await page.$eval('body', (b) => { b.dataset.run = ''; });
  await page.click(button);
  // Checked as the page changes, not at every frame: a frame each 16 ms
  // would take time from the run it waits for.
  await page.waitForFunction(() => ['succeeded', 'failed'].includes(document.body.dataset.run),
    { timeout, polling: 'mutation' });
  return page.$eval('body', (b) => b.dataset.run);
}

// Runs the named checks in order and prints one line each.
export async function runChecks(checks) {
  let failed = 0;
  for (const [name, check] of checks) {
    const began = Date.now();
    try {
      await check();
      console.log(`ok   ${name} (${((Date.now() - began) / 1000).toFixed(1)} s)`);
    } catch (error) {
      failed++;
      console.log(`FAIL ${name}: ${error.stack || error}`);
    }
  }
  return failed;
}

export function assert(condition, message) {
  if (!condition) throw new Error(message);
}
