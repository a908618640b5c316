// SPDX-License-Identifier: BSD-2-Clause
// The call report in headless Chromium. A two-way call is made from the speech sample: one
// direction plain, the other with DTX, 1.5 s later on the capture clock, swapped addresses
// and its own SSRC; packets are dropped at chosen places while the two captures are merged.
// Then `g729 report` writes the page, and in the browser: no console errors and no request
// leaves the page, every player's duration (read from the audio element) is its stream's,
// the chart's lost marks sit at the dropped packets' times, and a screenshot is saved.
//
//   node report.test.mjs --modules NODE_MODULES --out DIR --tool G729 --sample WAV --chromium PATH

import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) {
  args[process.argv[i].replace(/^--/, '')] = resolve(process.argv[i + 1]);
}
const { chromium } = await import(pathToFileURL(join(args.modules, 'playwright-core', 'index.mjs')).href);

const failures = [];
const check = (ok, what) => {
  if (!ok) failures.push(what);
};

// --- A classic pcap file (microsecond, little-endian, as libpcap writes it) -----------------
function readPcap(path) {
  const b = readFileSync(path);
  if (b.readUInt32LE(0) !== 0xa1b2c3d4) throw new Error(`${path}: not a little-endian microsecond pcap`);
  const packets = [];
  for (let at = 24; at + 16 <= b.length;) {
    const us = b.readUInt32LE(at) * 1e6 + b.readUInt32LE(at + 4);
    const length = b.readUInt32LE(at + 8);
    packets.push({ us, bytes: b.subarray(at + 16, at + 16 + length) });
    at += 16 + length;
  }
  return { header: b.subarray(0, 24), packets };
}

function writePcap(path, header, packets) {
  const parts = [header];
  for (const p of packets) {
    const h = Buffer.alloc(16);
    h.writeUInt32LE(Math.floor(p.us / 1e6), 0);
    h.writeUInt32LE(p.us % 1e6, 4);
    h.writeUInt32LE(p.bytes.length, 8);
    h.writeUInt32LE(p.bytes.length, 12);
    parts.push(h, p.bytes);
  }
  writeFileSync(path, Buffer.concat(parts));
}

// RTP of an Ethernet/IPv4/UDP packet: timestamp and payload length.
function rtpOf(bytes) {
  const ip = 14, ihl = (bytes[ip] & 0x0f) * 4, rtp = ip + ihl + 8;
  return { timestamp: bytes.readUInt32BE(rtp + 4), payload: bytes.length - rtp - 12 };
}

// --- The capture ---------------------------------------------------------------------------
const dir = join(args.out, 'report-test');
mkdirSync(dir, { recursive: true });
const g729 = (...a) => {
  try {
    execFileSync(args.tool, a, { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (e) {
    console.log(`FAIL: g729 ${a.join(' ')}: ${String(e.stderr).trim()}`);
    process.exit(1);
  }
};
g729('encode', '--format', 'pcap', '--ssrc', '0xA11CE', '--src', '192.0.2.10:4000', '--dst', '198.51.100.20:6000',
     args.sample, 'a.pcap');
g729('encode', '--format', 'pcap', '--dtx', '--ssrc', '0xB0B', '--src', '198.51.100.20:6000', '--dst',
     '192.0.2.10:4000', args.sample, 'b.pcap');
const a = readPcap(join(dir, 'a.pcap')), b = readPcap(join(dir, 'b.pcap'));
const offsetS = 1.5;
const a0 = a.packets[0].us, b0 = b.packets[0].us;
for (const p of b.packets) p.us = p.us - b0 + a0 + offsetS * 1e6;

// Drops: two packets in a row and a single one in the plain direction; in the DTX direction
// one inside a talk spurt (its neighbours are whole 20 ms speech packets).
const dropA = new Set([50, 51, 300]);
const speechAt = (i) => rtpOf(b.packets[i].bytes).payload === 20;
let spurt = 150;
while (!(speechAt(spurt - 1) && speechAt(spurt) && speechAt(spurt + 1) &&
         rtpOf(b.packets[spurt + 1].bytes).timestamp - rtpOf(b.packets[spurt - 1].bytes).timestamp === 320)) ++spurt;
const dropB = new Set([spurt]);

// Expected lost runs (seconds on the call's axis, to the millisecond) of a direction.
function lostRuns(packets, drops, offset) {
  const t0 = rtpOf(packets[0].bytes).timestamp, runs = [];
  for (const i of [...drops].sort((x, y) => x - y)) {
    const start = offset + (rtpOf(packets[i].bytes).timestamp - t0) / 8000, last = runs[runs.length - 1];
    if (last && Math.abs(last.t + last.dur - start) < 1e-6) last.dur += 0.02;
    else runs.push({ t: start, dur: 0.02 });
  }
  return runs;
}
// A direction's audio: from its first timestamp to the end of its last packet.
function duration(packets) {
  const first = rtpOf(packets[0].bytes), last = rtpOf(packets[packets.length - 1].bytes);
  return (last.timestamp - first.timestamp) / 8000 + Math.ceil(last.payload / 10) * 0.01;
}
const expected = {
  '000a11ce': { offset: 0, duration: duration(a.packets), lost: lostRuns(a.packets, dropA, 0) },
  '00000b0b': { offset: offsetS, duration: duration(b.packets), lost: lostRuns(b.packets, dropB, offsetS) },
};
const mixDuration = Math.max(...Object.values(expected).map((e) => e.offset + e.duration));
const merged = [...a.packets.filter((_, i) => !dropA.has(i)), ...b.packets.filter((_, i) => !dropB.has(i))];
merged.sort((x, y) => x.us - y.us);
writePcap(join(dir, 'call.pcap'), a.header, merged);
g729('report', 'call.pcap', 'report.html');

const html = readFileSync(join(dir, 'report.html'), 'utf8');
check(!/(https?:)?\/\/[a-z0-9.-]+\.[a-z]{2,}/i.test(html.replace(/data:audio\/wav;base64,[A-Za-z0-9+/=]*/g, '')),
      'the page names a network address');

// --- The browser ---------------------------------------------------------------------------
const browser = await chromium.launch({ executablePath: args.chromium, args: ['--no-sandbox'] });
try {
  const page = await browser.newPage({ viewport: { width: 1200, height: 900 } });
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('request', (r) => {
    if (!/^(file|data):/.test(r.url())) errors.push(`request to ${r.url()}`);
  });
  await page.goto(pathToFileURL(join(dir, 'report.html')).href, { waitUntil: 'load' });

  const players = await page.evaluate(() => Promise.all([...document.querySelectorAll('audio')].map((el) =>
    new Promise((resolve) => {
      const done = () => resolve({ kind: el.dataset.kind, ssrc: el.dataset.ssrc || '', duration: el.duration,
                                   stated: Number(el.dataset.duration), error: el.error && el.error.message });
      if (el.readyState >= 1) done();
      else {
        el.addEventListener('loadedmetadata', done, { once: true });
        el.addEventListener('error', done, { once: true });
      }
    }))));
  check(players.length === 3, `3 players (two directions and the mix), found ${players.length}`);
  for (const p of players) {
    const want = p.kind === 'mix' ? mixDuration : expected[p.ssrc]?.duration;
    check(!p.error, `player ${p.kind} ${p.ssrc}: ${p.error}`);
    check(Math.abs(p.duration - p.stated) <= 0.02, `player ${p.kind} ${p.ssrc}: ${p.duration} s, data-duration ${p.stated}`);
    check(want !== undefined && Math.abs(p.duration - want) <= 0.02,
          `player ${p.kind} ${p.ssrc}: ${p.duration} s, the capture gives ${want} s`);
  }

  // The lost marks: their times, and where the chart draws them (x on the shared axis).
  const charts = await page.evaluate(() => [...document.querySelectorAll('.stream')].map((s) => {
    const svg = s.querySelector('svg.timeline'), plot = svg.querySelector('rect.plot').getBBox();
    return {
      ssrc: s.dataset.ssrc,
      plot: { x: plot.x, width: plot.width },
      lost: [...svg.querySelectorAll('rect.lost')].map((r) => ({ t: Number(r.dataset.t), dur: Number(r.dataset.dur),
                                                                  x: r.getBBox().x })),
      dtx: svg.querySelectorAll('rect.dtx').length,
      visible: svg.getBoundingClientRect().width > 600,
    };
  }));
  check(charts.length === 2, `2 charts, found ${charts.length}`);
  for (const c of charts) {
    const want = expected[c.ssrc];
    if (!want) { check(false, `chart of unknown stream ${c.ssrc}`); continue; }
    check(c.visible, `chart ${c.ssrc} is drawn at a readable width`);
    check(c.lost.length === want.lost.length, `chart ${c.ssrc}: ${c.lost.length} lost marks, ${want.lost.length} expected`);
    want.lost.forEach((w, i) => {
      const got = c.lost[i];
      if (!got) return;
      check(Math.abs(got.t - w.t) <= 0.0015 && Math.abs(got.dur - w.dur) <= 0.0015,
            `chart ${c.ssrc}: lost mark ${got.t} s for ${got.dur} s, expected ${w.t} s for ${w.dur} s`);
      const x = c.plot.x + (w.t / mixDuration) * c.plot.width;
      check(Math.abs(got.x - x) <= 1.5, `chart ${c.ssrc}: lost mark at x ${got.x}, its time puts it at ${x}`);
    });
  }
  check(charts.find((c) => c.ssrc === '00000b0b')?.dtx > 0, 'the DTX direction shows its pauses');
  check((await page.locator('.mos').count()) === 2, 'a MOS headline per direction');

  await page.screenshot({ path: join(args.out, 'report-screenshot.png'), fullPage: true });
  check(errors.length === 0, `console errors or requests: ${errors.join('; ')}`);
} finally {
  await browser.close();
}

if (failures.length) {
  for (const f of failures) console.log(`FAIL: ${f}`);
  console.log(`0 passed, ${failures.length} failed`);
  process.exit(1);
}
console.log(`report in Chromium: players, lost marks and console clean; screenshot ${join(args.out, 'report-screenshot.png')}`);
