// The page against its simulated chip at 57600 bit/s: every example
// uploads and the chip holds it exactly; a bad hex file shows the reader's
// message.
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
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
    rmSync(dir, { recursive: true, force: true });
    const notice = await page.$eval('#fileNotice .detail', (e) => e.textContent);
    assert(/^PicProgram::readHex - .*line 2/m.test(notice), `notice: ${notice}`);
    checkNoProblems(page);
  }]]);

  // With a verdict, a notice and a log on the page, so that their colours count too.
  failed += await runChecks([['every enabled control is reached with Tab, in document order', async () => {
    const controls = await page.evaluate(() => [...document.querySelectorAll(
      'a[href], button, input, select, textarea, [tabindex]:not([tabindex="-1"])')]
      .filter((e) => !e.disabled && e.getClientRects().length).map((e) => e.id));
    // Those disabled now are in the order too once enabled.
    const outOfOrder = await page.$$eval('a[href], button, input, select, textarea',
      (all) => all.filter((e) => e.tabIndex < 0).map((e) => e.id));
    assert(!outOfOrder.length, `taken out of the Tab order: ${outOfOrder}`);
    await page.focus(`#${controls[0]}`);
    const reached = [controls[0]];
    for (let i = 1; i < controls.length; i++) {
      await page.keyboard.press('Tab');
      reached.push(await page.evaluate(() => document.activeElement.id));
    }
    assert(JSON.stringify(reached) === JSON.stringify(controls), `Tab reached ${reached}\nnot ${controls}`);
  }], ['text contrasts with its background at 4.5:1 or more', async () => {
    const poor = await page.evaluate(() => {
      const rgba = (css) => {
        const [r, g, b, a = 1] = css.match(/[\d.]+/g).map(Number);
        return [r, g, b, a];
      };
      const over = (top, under) => top.slice(0, 3).map((c, i) => c * top[3] + under[i] * (1 - top[3]));
      // The background an element's text sits on: every ancestor's, painted over white.
      const background = (e) => {
        const layers = [];
        for (let at = e; at; at = at.parentElement) layers.unshift(rgba(getComputedStyle(at).backgroundColor));
        return layers.reduce((under, top) => over(top, under), [255, 255, 255]);
      };
      const luminance = (rgb) => {
        const [r, g, b] = rgb.map((c) => {
          const s = c / 255;
          return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
        });
        return 0.2126 * r + 0.7152 * g + 0.0722 * b;
      };
      const texts = [...document.querySelectorAll('body *')].filter((e) => e.getClientRects().length &&
        ([...e.childNodes].some((n) => n.nodeType === Node.TEXT_NODE && n.textContent.trim()) ||
         e.matches('select, input[type=text], input[type=number]')));
      return texts.map((e) => {
        const back = background(e);
        const [l1, l2] = [luminance(over(rgba(getComputedStyle(e).color), back)), luminance(back)];
        const ratio = (Math.max(l1, l2) + 0.05) / (Math.min(l1, l2) + 0.05);
        return { what: `${e.tagName.toLowerCase()}#${e.id}.${e.className} "${e.textContent.trim().slice(0, 30)}"`, ratio };
      }).filter((t) => t.ratio < 4.5);
    });
    assert(!poor.length, poor.map((t) => `${t.what}: ${t.ratio.toFixed(2)}:1`).join('\n'));
  }], ['at 360 px wide nothing scrolls sideways', async () => {
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

  // What a newcomer meets: each case acts on the page at a width, then checks it.
  const visible = () => document.body.innerText;
  const garbage = join(mkdtempSync(join(tmpdir(), 'page-')), 'garbage.hex');
  writeFileSync(garbage, 'euda459vOmXTwJ2y\n');
  const upload = async (name, overlap = false) => {
    if (await page.$eval('#overlap', (e) => e.checked) !== overlap) await page.click('#overlap');
    await chooseFile(page, example(name));
    return runAndWait(page, '#upload');
  };
  const cases = [
    ['a cancelled fill: the verdict says how far it arrived, in 10 lines at most', 1100, async () => {
      await chooseFile(page, example('fill'));
      const running = runAndWait(page, '#upload');
      await page.waitForFunction(() => {
        const p = document.getElementById('progress');
        return p.max > 1 && p.value >= p.max / 3;
      }, { polling: 'mutation', timeout: 120000 });
      await page.click('#cancel');
      assert(await running === 'failed', 'the cancelled upload did not fail');
      const focused = await page.evaluate(() => document.activeElement.id);
      assert(focused === 'upload', `after Cancel the focus is on "${focused}"`);
      await page.waitForFunction(() => document.body.dataset.chip === 'shown');
    }, async () => {
      const verdict = await page.$eval('#chipVerdict', (e) => e.textContent);
      const height = await page.evaluate(() => document.documentElement.scrollHeight);
      assert(verdict.split('\n').length <= 10 && / up to block .* words were not written/.test(verdict), verdict);
      assert(height < 3000, `the page is ${height} px high`);
    }],
    ['a garbage file after a good upload: nothing of the good run stays', 1100, async () => {
      assert(await upload('blink') === 'succeeded', 'blink did not upload');
      await page.waitForFunction(() => document.body.dataset.chip === 'shown');
      await chooseFile(page, garbage);
    }, async () => {
      const text = await page.evaluate(visible);
      for (const left of ['holds exactly', 'Programming complete', '100%', 'blocks']) {
        assert(!text.includes(left), `"${left}" still shows:\n${text}`);
      }
      const notice = await page.$eval('#fileNotice', (e) => e.textContent);
      assert(notice.startsWith('garbage.hex, line 1: this line holds no Intel HEX record'), notice);
      assert(await page.$eval('#chipPicture', (e) => e.children.length === 0), 'the chip\'s picture stays');
    }],
    ['words the chip lacks: one sentence, the reader\'s first messages below it', 1100, async () => {
      writeFileSync(garbage, ':020000000528D1\n:0C40100034123412341234123412341200\n:00000001FF\n');
      await chooseFile(page, garbage);
    }, async () => {
      const [sentence, detail] = await page.$eval('#fileNotice', (e) => e.innerText.split('\n'));
      assert(sentence === 'garbage.hex, line 2: the word for address 2008 has no place in the chip\'s memory, ' +
        'and is left out. So are 5 more words after it.', sentence);
      assert(detail === 'PicProgram::readHex - invalid address 2008', detail);
      assert(await page.$eval('#fileName', (e) => e.textContent) === 'garbage.hex', 'the file was not taken');
    }],
    ['the overlap file at 360 px: the reason in view, the log not cut', 360, async () => {
      assert(await upload('overlap') === 'failed', 'overlap uploaded without Overlap');
    }, async () => {
      const [top, bottom, height, text] = await page.$eval('#notice', (e) =>
        [e.getBoundingClientRect().top, e.getBoundingClientRect().bottom, window.innerHeight, e.textContent]);
      assert(text && top >= 0 && bottom <= height + 1,  // a pixel for subpixel layout
        `the notice lies at ${top}-${bottom} of ${height}: ${text}`);
      const [scroll, client] = await page.$eval('#log', (e) => [e.scrollWidth, e.clientWidth]);
      assert(scroll <= client, `the log is ${scroll} px wide in ${client}`);
    }],
    ['the chooser names the loaded file, and Upload keeps the focus', 1100, async () => {
      assert(await upload('blink') === 'succeeded', 'blink did not upload');
    }, async () => {
      const name = await page.$eval('#fileName', (e) => e.getClientRects().length && e.textContent);
      assert(name === 'blink.inhx32.hex', `the chooser says ${name}`);
      const focused = await page.evaluate(() => document.activeElement.id);
      assert(focused === 'upload', `the focus is on "${focused}"`);
    }],
  ];
  failed += await runChecks(cases.map(([name, width, act, check]) => [name, async () => {
    await page.setViewport({ width, height: 800 });
    await act();
    await check();
    checkNoProblems(page);
  }]));
  rmSync(dirname(garbage), { recursive: true, force: true });
} finally {
  await session.close();
}
process.exit(failed ? 1 : 0);
