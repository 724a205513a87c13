// The built playground in a real browser (Debian's Chromium, headless): an example policy gives
// the tools' own outputs, a typed policy with an error is underlined where the engine failed, a
// fixed one is decided on every edit, the state survives in the address, a warning is underlined
// and the trace's rows select their statements, and the page works from the file system and from
// a static server. Screenshots go to SCREENSHOT_DIR for people to see.
//
//   PLAYGROUND_DIR=build-wasm/playground PACKAGE_DIR=build-wasm/js/package \
//   EXAMPLES_DIR=examples/policies SCREENSHOT_DIR=build-wasm/screenshots \
//   node --test playground/test/
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, resolve } from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import puppeteer from 'puppeteer-core';

const pageDir = resolve(process.env.PLAYGROUND_DIR);
const examplesDir = resolve(process.env.EXAMPLES_DIR);
const screenshots = resolve(process.env.SCREENSHOT_DIR);
const tarn = await import(pathToFileURL(join(resolve(process.env.PACKAGE_DIR), 'index.js')).href);
await tarn.init();
mkdirSync(screenshots, { recursive: true });

const profile = mkdtempSync(join(tmpdir(), 'tarn-playground-chromium-'));
let browser;
before(async () => {
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Without the networking switches Chromium's own connections fail slowly on a closed network.
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run',
           `--user-data-dir=${profile}`],
  });
});
after(async () => {
  await browser?.close();
  rmSync(profile, { recursive: true, force: true });
});

async function open(url) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.setViewport({ width: 1400, height: 1000 });
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 60000 });
  page.errors = errors;
  return page;
}

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);
const editorText = (page) =>
  page.$$eval('#editor .cm-line', (lines) => lines.map((line) => line.textContent).join('\n'));

// Waits until the panes show a render newer than `since` (the page renders 120 ms after an edit).
async function rendered(page, previousVerdict, previousDocument) {
  await page.waitForFunction(
    (verdict, document) => window.document.getElementById('verdict').textContent !== verdict ||
      window.document.getElementById('document').textContent !== document,
    { timeout: 10000 }, previousVerdict, previousDocument);
}

async function typePolicy(page, policy) {
  const before = [await text(page, '#verdict'), await text(page, '#document')];
  await page.click('#editor .cm-content');
  await page.keyboard.down('Control');
  await page.keyboard.press('a');
  await page.keyboard.up('Control');
  await page.keyboard.press('Backspace');
  await page.keyboard.type(policy);
  await rendered(page, ...before);
}

const expected = (file) => readFileSync(join(examplesDir, 'expected', file), 'utf8');

test('an example policy gives the tools\' own outputs', async () => {
  const page = await open(pathToFileURL(join(pageDir, 'index.html')).href);
  const index = await page.$$eval('#example option', (options) =>
    options.find((option) => option.textContent.startsWith('heal-damaged.tarn')).value);
  const before = [await text(page, '#verdict'), await text(page, '#document')];
  await page.select('#example', index);
  await rendered(page, ...before);
  // The example comes with its run's damaged position, 1 (examples/policies/runs.txt).
  assert.equal(await page.$eval('#corrupt', (input) => input.value), '1');
  assert.equal(await text(page, '#decision'), 'ALLOW');
  assert.equal(await text(page, '#verdict'), expected('heal-damaged.verifier.txt'));
  assert.equal(await text(page, '#canonical'), expected('heal-damaged.tarn-check.txt'));
  assert.deepEqual(JSON.parse(await text(page, '#document')),
                   JSON.parse(expected('heal-damaged.tarn-run.json')));
  await page.screenshot({ path: join(screenshots, 'playground-example.png') });

  // An example that imports a file brings it in a tab of its own, and runs as the tools do.
  const importing = await page.$$eval('#example option', (options) =>
    options.find((option) => option.textContent.startsWith('import-shared.tarn')).value);
  const shown = [await text(page, '#verdict'), await text(page, '#document')];
  await page.select('#example', importing);
  await rendered(page, ...shown);
  assert.deepEqual(JSON.parse(await text(page, '#document')),
                   JSON.parse(expected('import-shared.tarn-run.json')));
  const textVerdict = [await text(page, '#verdict'), await text(page, '#document')];
  await page.click('#emit-json'); // its verifier run in runs.txt: --emit=json
  await rendered(page, ...textVerdict);
  assert.equal(await text(page, '#verdict'), expected('import-shared.verifier.txt'));
  await page.click('#tabs [data-file="shared/ledger.tarn"]');
  assert.equal(await editorText(page),
               readFileSync(join(examplesDir, 'shared', 'ledger.tarn'), 'utf8'));
  await page.screenshot({ path: join(screenshots, 'playground-import.png') });
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('typed policies: an underlined error, then a decision on every edit', async () => {
  const page = await open(pathToFileURL(join(pageDir, 'index.html')).href);

  const broken = 'report()\nresidual()\nfrobnicate(1)\n';
  await typePolicy(page, broken);
  await page.waitForSelector('.cm-lintRange-error');
  const underlined = await page.$$eval('.cm-lintRange-error', (marks) => marks.map((mark) => ({
    text: mark.textContent,
    line: [...mark.closest('.cm-content').children].indexOf(mark.closest('.cm-line')) + 1,
  })));
  assert.deepEqual(underlined, [{ text: 'frobnicate', line: 3 }]);
  await page.hover('.cm-lintRange-error');
  await page.waitForSelector('.cm-tooltip-lint');
  assert.match(await text(page, '.cm-tooltip-lint'), /unknown keyword `frobnicate`/);
  assert.equal(await text(page, '#decision'), 'FAILED');
  assert.equal(await text(page, '#verdict'), tarn.verify(broken));
  await page.screenshot({ path: join(screenshots, 'playground-diagnostic.png') });

  // Typed untidy, then formatted by the button.
  const policy = 'alias(0, "amount")\nassert_bounds(0, 200, "amount")\nharmony(0.001)\n';
  await typePolicy(page, 'alias(0,"amount")\nassert_bounds(0,200,  "amount")\nharmony(0.001)');
  await page.click('#format');
  assert.equal(await editorText(page), policy);
  assert.equal(await page.$('.cm-lintRange-error'), null);
  assert.equal(await text(page, '#decision'), 'ALLOW');
  assert.equal(await text(page, '#verdict'), tarn.verify(policy));

  const before = [await text(page, '#verdict'), await text(page, '#document')];
  await page.type('#corrupt', '1');
  await rendered(page, ...before);
  assert.equal(await text(page, '#decision'), 'DENY');
  assert.match(await text(page, '#because'), /^decision DENY: pass is false because \|residual\| /);
  assert.equal(await text(page, '#verdict'), tarn.verify(policy, { corruptIndex: 1 }));
  await page.screenshot({ path: join(screenshots, 'playground-decision.png') });

  // The address holds the state: a new page opened from it shows the same policy and run.
  const again = await open(page.url());
  assert.equal(await editorText(again), policy);
  assert.equal(await again.$eval('#corrupt', (input) => input.value), '1');
  assert.equal(await text(again, '#decision'), 'DENY');
  assert.deepEqual([...page.errors, ...again.errors], []);
  await again.close();
  await page.close();
});

test('a warning underlined, and the trace whose rows select their statements', async () => {
  const policy = 'alias(0, "amount")\n// corrupt values are refused by the verifier\n'
    + 'if_greater_than("amount", 100) {\n  report()\n}\nharmony(0.001)\n';
  const state = Buffer.from(JSON.stringify({ policy })).toString('base64url');
  const page = await open(`${pathToFileURL(join(pageDir, 'index.html')).href}#${state}`);
  await page.waitForSelector('.cm-lintRange-warning');
  const underlined = await page.$$eval('.cm-lintRange-warning', (marks) => marks.map((mark) => ({
    text: mark.textContent,
    line: [...mark.closest('.cm-content').children].indexOf(mark.closest('.cm-line')) + 1,
  })));
  assert.deepEqual(underlined, [{ text: 'corrupt', line: 2 }]);
  assert.equal(await page.$('.cm-lintRange-error'), null);
  assert.equal(await text(page, '#decision'), 'ALLOW');
  assert.equal(await text(page, '#because'), 'decision ALLOW: pass is true because |residual| 0.0 '
    + '< tolerance 0.001 (tolerance set at policy.tarn:6:1)');

  const rows = await page.$$eval('#trace tr', (trs) =>
    trs.map((tr) => [...tr.cells].map((cell) => cell.textContent)));
  assert.deepEqual(rows, [
    ['1', 'policy.tarn:1:1', 'Alias(0, "amount")', '1', '0', 'true'],
    ['2', 'policy.tarn:3:1', 'IfGreaterThan("amount", 100.0, [1 statement])', '2', '0', 'true'],
    ['3', 'policy.tarn:4:3', 'Report', '3', '0', 'true'],
    ['4', 'policy.tarn:6:1', 'Harmony(0.001)', '4', '0', 'true'],
  ]);
  const selected = () => page.evaluate(() => window.getSelection().toString());
  await page.click('#trace tr:nth-child(2)');
  assert.equal(await selected(), 'if_greater_than("amount", 100) {\n  report()\n}');
  await page.screenshot({ path: join(screenshots, 'playground-trace.png') });
  await page.click('#trace tr:nth-child(3)');
  assert.equal(await selected(), 'report()');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the page works from a static file server', async () => {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
  const server = createServer((request, response) => {
    const path = new URL(request.url, 'http://localhost').pathname;
    try {
      const body = readFileSync(join(pageDir, path === '/' ? 'index.html' : path.slice(1)));
      response.writeHead(200, { 'content-type': types[extname(path) || '.html'] });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolveListen) => server.listen(0, '127.0.0.1', resolveListen));
  try {
    const page = await open(`http://127.0.0.1:${server.address().port}/`);
    assert.match(await text(page, '#decision'), /^(ALLOW|DENY|ESCALATE)$/);
    assert.deepEqual(page.errors, []);
    await page.close();
  } finally {
    server.close();
  }
});
