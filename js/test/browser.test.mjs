// SPDX-License-Identifier: BSD-2-Clause
// The player page (js/demo) in headless Chromium, opened from file:// and from a local web
// server: a coded file through the file input must show its duration and its WAV download
// must be the native tool's decoding, byte for byte; Play must start playback (a screenshot
// is taken then); a WAV file through the same input must download the native encoder's bytes,
// with and without DTX. No console error, no request leaving the machine.
//
// Environment: G729_PLAYWRIGHT (node_modules holding playwright-core), G729_CHROMIUM (default
// /usr/bin/chromium), G729_TOOL (the native g729 tool), G729_OUT (screenshots and work files).

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, extname, join, normalize, resolve } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..'); // js/: the page reaches ../dist from demo/
const repo = resolve(root, '..');
const out = resolve(process.env.G729_OUT ?? join(repo, 'build-wasm'));
const tool = process.env.G729_TOOL;
const { chromium } = await import(pathToFileURL(join(process.env.G729_PLAYWRIGHT, 'playwright-core', 'index.mjs')).href);
mkdirSync(out, { recursive: true });

const recording = join(repo, 'data/speech_sample.wav');
const g729 = (...args) => execFileSync(tool, args, { stdio: ['ignore', 'ignore', 'pipe'] });
const coded = join(out, 'player-input.bit');
g729('encode', '--dtx', recording, coded);
g729('decode', coded, join(out, 'player-native.wav'));
const nativeWav = readFileSync(join(out, 'player-native.wav'));
const seconds = (nativeWav.length - 44) / 2 / 8000;

// A static server over js/ (the page, the library), on the loopback interface.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = createServer((req, res) => {
  const path = normalize(join(root, decodeURIComponent(new URL(req.url, 'http://x').pathname)));
  if (!path.startsWith(root)) return res.writeHead(403).end();
  try {
    const body = readFileSync(path);
    res.writeHead(200, { 'content-type': types[extname(path)] ?? 'application/octet-stream' }).end(body);
  } catch {
    res.writeHead(404).end();
  }
});
await new Promise((r) => server.listen(0, '127.0.0.1', r));
const origins = {
  'file://': pathToFileURL(join(root, 'demo/index.html')).href,
  'a web server': `http://127.0.0.1:${server.address().port}/demo/index.html`,
};

let browser;
before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.G729_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required'],
  });
});
after(async () => {
  await browser?.close();
  server.close();
});

async function openPage(url) {
  const context = await browser.newContext({ acceptDownloads: true });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (m) => m.type() === 'error' && problems.push(`console: ${m.text()}`));
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('request', (r) => {
    if (!/^(file|blob|data):|^http:\/\/127\.0\.0\.1:/.test(r.url())) problems.push(`request to ${r.url()}`);
  });
  await page.goto(url);
  await page.waitForFunction(() => /ready/.test(document.getElementById('status').textContent), null, { timeout: 30000 });
  return { page, context, problems };
}

async function download(page, selector) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
  return readFileSync(await file.path());
}

for (const [where, url] of Object.entries(origins)) {
  const tag = where === 'file://' ? 'file' : 'http';

  test(`from ${where}: a coded file is decoded in the worker, shown and played`, async () => {
    const { page, context, problems } = await openPage(url);
    await page.setInputFiles('#file', coded);
    await page.waitForFunction(() => document.getElementById('duration').dataset.seconds, null, { timeout: 30000 });
    const shown = await page.$eval('#duration', (e) => Number(e.dataset.seconds));
    assert.equal(shown, seconds);
    assert.equal(await page.textContent('#duration'), `${seconds.toFixed(2)} s`);
    assert.ok(Buffer.compare(await download(page, '#save-wav'), nativeWav) === 0, 'the page\'s WAV is the native decoding');

    await page.focus('#play');
    await page.keyboard.press('Enter'); // the keyboard starts playback as a click does
    await page.waitForFunction(() => document.getElementById('status').textContent === 'Playing.', null, { timeout: 10000 });
    assert.equal(await page.textContent('#play'), 'Pause');
    const shot = join(out, `player-screenshot-${tag}.png`);
    await page.screenshot({ path: shot, fullPage: true });
    console.log(`# screenshot: ${shot}`);
    assert.deepEqual(problems, []);
    await context.close();
  });

  test(`from ${where}: a WAV file downloads the native encoder's bytes, with and without DTX`, async () => {
    const { page, context, problems } = await openPage(url);
    for (const dtx of [false, true]) {
      await page.setChecked('#dtx', dtx);
      await page.setInputFiles('#file', []);
      await page.setInputFiles('#file', recording);
      const name = dtx ? 'speech_sample.bit' : 'speech_sample.g729';
      await page.waitForFunction((n) => document.getElementById('save-coded').download === n &&
                                 !document.getElementById('encoded').hidden, name, { timeout: 30000 });
      const expected = join(out, `player-native-${dtx ? 'dtx.bit' : 'raw.g729'}`);
      g729('encode', '--format', dtx ? 'itu' : 'raw', ...(dtx ? ['--dtx'] : []), recording, expected);
      assert.ok(Buffer.compare(await download(page, '#save-coded'), readFileSync(expected)) === 0,
                `the page's ${name} is the native encoder's`);
      await page.evaluate(() => { document.getElementById('save-coded').download = ''; });
    }
    assert.deepEqual(problems, []);
    await context.close();
  });
}

test('the ES module entry loads in a page and in a module worker', async () => {
  const { page, context, problems } = await openPage(origins['a web server']);
  const lengths = await page.evaluate(async () => {
    const entry = new URL('../dist/index.js', location.href).href;
    const { load } = await import(entry);
    const inPage = (await load()).decodeFile(new Uint8Array(30), { format: 'raw' }).length;
    const code = `import { load } from '${entry}';
      const g729 = await load();
      postMessage(g729.decodeFile(new Uint8Array(20), { format: 'raw' }).length);`;
    const worker = new Worker(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })), { type: 'module' });
    const inWorker = await new Promise((resolve, reject) => {
      worker.onmessage = (e) => resolve(e.data);
      worker.onerror = (e) => reject(new Error(e.message));
    });
    return { inPage, inWorker };
  });
  assert.deepEqual(lengths, { inPage: 240, inWorker: 160 });
  assert.deepEqual(problems, []);
  await context.close();
});

test('a broken coded file shows a one-line error on the page', async () => {
  const { page, context } = await openPage(origins['file://']);
  await page.setInputFiles('#file', { name: 'broken.bit', mimeType: 'application/octet-stream',
                                      buffer: Buffer.from([0x21, 0x6b, 80, 0, 0x7f, 0]) });
  await page.waitForSelector('#status.error');
  assert.match(await page.textContent('#status'), /^broken\.bit: g729: frame 1 at byte offset 0: truncated frame/);
  await context.close();
});
