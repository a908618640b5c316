// SPDX-License-Identifier: BSD-2-Clause
// The WebAssembly codec against the native one: the golden hashes of the C++ test suite
// (tests/test_golden.cpp) and, when the native g729 tool is there, its output bytes; the two
// forms of decoder input, lost frames, errors, memory released by free(), the scalar build
// against the SIMD128 one, and the speed (printed).
//
// Environment: G729_TOOL the native g729 tool (default ../build/bin/g729), G729_VECTORS the ITU
// vectors (default ../../shared/itu-vectors), G729_WASM_SCALAR the scalar build (default
// ../build-wasm/g729-scalar.wasm). Tests whose inputs are absent are skipped.

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { load, parseCoded, parseWav, toItu, toRaw, toWav } from '../dist/index.js';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '../..');
const tool = process.env.G729_TOOL ?? join(repo, 'build/bin/g729');
const vectors = process.env.G729_VECTORS ?? resolve(repo, '../shared/itu-vectors');
const scalarWasm = process.env.G729_WASM_SCALAR ?? join(repo, 'build-wasm/g729-scalar.wasm');
const recording = join(repo, 'data/speech_sample.wav');
const haveTool = existsSync(tool);
const work = mkdtempSync(join(tmpdir(), 'g729-js-'));
after(() => rmSync(work, { recursive: true, force: true }));

const g729 = await load();

function fnv1a64(bytes) {
  let h = 0xcbf29ce484222325n;
  for (const b of bytes) h = BigInt.asUintN(64, (h ^ BigInt(b)) * 0x100000001b3n);
  return h;
}
const le = (pcm) => new Uint8Array(pcm.buffer, pcm.byteOffset, pcm.byteLength);
const vector = (annex, name) => join(vectors, annex, name);
const decodeUnits = (codec, units) => {
  const decoder = new codec.Decoder();
  try {
    return decoder.decode(units);
  } finally {
    decoder.free();
  }
};

function readPcm(path) {
  if (path.endsWith('.wav')) {
    const wav = parseWav(readFileSync(path));
    assert.equal(wav.sampleRate, 8000);
    assert.equal(wav.channels, 1);
    return wav.samples;
  }
  const b = readFileSync(path);
  return new Int16Array(b.buffer.slice(b.byteOffset, b.byteOffset + (b.length & ~1)));
}

// The native tool's output file for these arguments (the last one names the output).
function native(...args) {
  const out = join(work, `${args.length}-${args.at(-1)}`);
  execFileSync(tool, [...args.slice(0, -1), out], { stdio: ['ignore', 'ignore', 'pipe'] });
  return new Uint8Array(readFileSync(out));
}

function assertSameBytes(actual, expected, what) {
  if (actual.length === expected.length && Buffer.compare(actual, expected) === 0) return;
  let i = 0;
  while (i < Math.min(actual.length, expected.length) && actual[i] === expected[i]) i++;
  assert.fail(`${what}: ${actual.length} bytes against ${expected.length}, first difference at byte ${i}`);
}

function encodeAll(codec, pcm, dtx) {
  const encoder = new codec.Encoder({ dtx });
  try {
    return encoder.encode(pcm);
  } finally {
    encoder.free();
  }
}

// [name, input, DTX, coded format, golden hash (0n: none recorded)]
const encodeCases = [
  ['speech.in', vector('annex-a', 'speech.in'), false, 'raw', 0x76c1f99c5d9dd7c2n],
  ['tstseq1.in with DTX', vector('annex-ab', 'tstseq1.in'), true, 'itu', 0x6c4a1d40851a7445n],
  ['tstseq2.in with DTX', vector('annex-ab', 'tstseq2.in'), true, 'itu', 0x913b3624a94ca2cfn],
  ['the project recording', recording, false, 'raw', 0xa8ddab6aa50512acn],
  ['the project recording with DTX', recording, true, 'itu', 0n],
];
for (const [name, input, dtx, format, golden] of encodeCases) {
  test(`encode ${name}: golden hash and the native tool's bytes`, { skip: !existsSync(input) && `no ${input}` }, () => {
    const units = encodeAll(g729, readPcm(input), dtx);
    const bytes = format === 'raw' ? toRaw(units) : toItu(units);
    if (golden) assert.equal(fnv1a64(bytes), golden, `hash 0x${fnv1a64(bytes).toString(16)}`);
    if (haveTool) {
      const args = ['encode', '--format', format, ...(dtx ? ['--dtx'] : []), input, `${name}.${format}`];
      assertSameBytes(bytes, native(...args), `encode ${name}`);
    }
  });
}

// [name, coded file, golden hash of the samples (16-bit little-endian)]
const decodeCases = [
  ['speech.bit', vector('annex-a', 'speech.bit'), 0x5a480389a431495fn],
  ['tstseq1.bit (speech, SID, untransmitted)', vector('annex-ab', 'tstseq1.bit'), 0xb086b57efc3b447dn],
  ['tstseq6.bit (SID, untransmitted, lost)', vector('annex-ab', 'tstseq6.bit'), 0x63d7a5dad21d3d98n],
  ['erasure.bit (60 erased frames)', vector('annex-a', 'erasure.bit'), 0xa2f348a760a3bbb3n],
  ['the stored lossy DTX stream', join(repo, 'data/noise_pause_lossy.bit'), 0x8e3ee1bb3f06862cn],
];
for (const [name, input, golden] of decodeCases) {
  test(`decode ${name}: golden hash and the native tool's samples`, { skip: !existsSync(input) && `no ${input}` }, () => {
    const pcm = g729.decodeFile(readFileSync(input), { format: 'itu' });
    assert.equal(fnv1a64(le(pcm)), golden, `hash 0x${fnv1a64(le(pcm)).toString(16)}`);
    if (haveTool) assertSameBytes(le(pcm), native('decode', input, 'out.pcm'), `decode ${name}`);
  });
}

test('the recording coded with DTX and decoded: golden hash; WAV bytes as the native tool writes them', () => {
  const pcm = decodeUnits(g729, encodeAll(g729, readPcm(recording), true));
  assert.equal(fnv1a64(le(pcm)), 0x43b75c69d5e3bce5n);
  if (haveTool) {
    const bit = join(work, 'recording-dtx.bit');
    execFileSync(tool, ['encode', '--dtx', recording, bit], { stdio: 'ignore' });
    assertSameBytes(toWav(pcm), native('decode', bit, 'recording.wav'), 'WAV of the decoded recording');
  }
});

test('lost frames (null units) decode as the native tool decodes them marked lost', { skip: !haveTool && 'no native tool' }, () => {
  const units = encodeAll(g729, readPcm(recording), true);
  // A burst of five, single losses in speech and in pauses, and the first unit.
  for (const f of [0, 40, 41, 42, 43, 44, 90, 150, 151, 260, units.length - 1]) units[f] = null;
  const itu = toItu(units);
  const bit = join(work, 'lossy.bit');
  execFileSync('sh', ['-c', 'cat > "$1"', 'sh', bit], { input: itu });
  const pcm = g729.decodeFile(itu);
  assert.equal(pcm.length, units.length * 80);
  assertSameBytes(le(pcm), native('decode', bit, 'lossy.pcm'), 'decode with lost frames');
  assert.deepEqual(parseCoded(itu, 'itu').map((u) => u === null), units.map((u) => u === null));
});

test('RTP payloads (speech frames and a trailing SID frame) decode as their units', () => {
  const units = encodeAll(g729, readPcm(recording), true);
  assert.ok(units.some((u) => u.length === 2) && units.some((u) => u.length === 0));
  const decoder = new g729.Decoder();
  const parts = [];
  // Packets of up to three frames; a SID frame ends its packet; untransmitted frames send none.
  for (let f = 0; f < units.length;) {
    if (units[f].length === 0) {
      parts.push(decoder.decode([units[f++]]));
      continue;
    }
    const packet = [];
    while (f < units.length && packet.length < 3 && units[f].length === 10) packet.push(units[f++]);
    if (f < units.length && packet.length < 3 && units[f].length === 2) packet.push(units[f++]);
    const payload = new Uint8Array(packet.reduce((n, u) => n + u.length, 0));
    packet.reduce((at, u) => (payload.set(u, at), at + u.length), 0);
    parts.push(decoder.decode(payload));
  }
  decoder.free();
  const joined = new Int16Array(units.length * 80);
  parts.reduce((at, p) => (joined.set(p, at), at + p.length), 0);
  assert.deepEqual(joined, decodeUnits(g729, units));
});

test('frames split across encode calls code as one call; flush pads the last one', () => {
  const pcm = readPcm(recording).subarray(0, 80 * 50 + 33);
  const whole = encodeAll(g729, pcm, false);
  const encoder = new g729.Encoder();
  const pieces = [];
  for (let at = 0; at < pcm.length; at += 37) pieces.push(...encoder.encode(pcm.subarray(at, at + 37)));
  assert.deepEqual(pieces, whole);
  const last = encoder.flush();
  assert.equal(last.length, 1);
  const padded = new Int16Array(80 * 51);
  padded.set(pcm);
  assert.deepEqual([...pieces, ...last], encodeAll(g729, padded, false));
  assert.deepEqual(encoder.flush(), []);
  encoder.free();
});

test('wrong inputs give one-line errors, never a crash', () => {
  const decoder = new g729.Decoder();
  for (const payload of [new Uint8Array(3), new Uint8Array(13), new Uint8Array(14)]) {
    assert.throws(() => decoder.decode(payload), /not N x 10 \(\+ 2\) bytes/);
  }
  assert.throws(() => decoder.decode([new Uint8Array(5)]), /unit 1 has 5 bytes/);
  assert.throws(() => decoder.decode('frames'), TypeError);
  assert.deepEqual(decoder.decode(new Uint8Array(0)), new Int16Array(0));
  decoder.free();
  decoder.free(); // a second free does nothing
  assert.throws(() => decoder.decode(new Uint8Array(10)), /was freed/);
  const encoder = new g729.Encoder();
  assert.throws(() => encoder.encode(new Float32Array(80)), TypeError);
  encoder.free();
  assert.throws(() => encoder.encode(new Int16Array(80)), /was freed/);
  const cases = [
    [[0x21, 0x6b, 80, 0, 0x7f], /frame 1 at byte offset 0: truncated frame \(needs 164 bytes, 5 left\)/],
    [[0x22, 0x6b, 0, 0], /unknown sync word 0x6B22/],
    [[0x21, 0x6b, 17, 0], /length word 17, expected 80, 16 or 0/],
    [[0x21, 0x6b, 0, 0, 0x21], /frame 2 at byte offset 4: truncated frame \(header needs 4 bytes/],
  ];
  for (const [bytes, message] of cases) assert.throws(() => g729.decodeFile(new Uint8Array(bytes), { format: 'itu' }), message);
  assert.throws(() => g729.decodeFile(new Uint8Array(25), { format: 'raw' }), /partial frame at byte offset 20 \(5 of 10 bytes\)/);
  assert.throws(() => g729.decodeFile(new Uint8Array(10), { format: 'mp3' }), /unknown format/);
  assert.throws(() => toRaw([new Uint8Array(2)]), /speech frames only/);
  assert.throws(() => parseWav(new Uint8Array(44)), /not a WAV file/);
});

test('free() releases the memory: 1,000 create/free cycles leave the heap as it was', async () => {
  // The heap's state: its size and where a 64 KB block lands.
  const heap = (w) => {
    const p = w.malloc(64 * 1024);
    w.free(p);
    return { bytes: w.memory.buffer.byteLength, block: p };
  };
  const cycles = (codec, n, release) => {
    for (let i = 0; i < n; i++) {
      const e = new codec.Encoder({ dtx: i % 2 === 1 }), d = new codec.Decoder();
      d.decode(e.encode(new Int16Array(160)));
      if (release) {
        e.free();
        d.free();
      }
    }
  };
  cycles(g729, 10, true);
  const before = heap(g729.exports);
  cycles(g729, 1000, true);
  assert.deepEqual(heap(g729.exports), before);
  // The control: without free() (in an instance of its own) the same cycles move the heap.
  const control = await load({ wasm: readFileSync(join(here, '../dist/g729.wasm')) });
  cycles(control, 10, true);
  const start = heap(control.exports);
  cycles(control, 1000, false);
  assert.notDeepEqual(heap(control.exports), start);
});

test('the scalar build gives the SIMD128 build\'s bytes', { skip: !existsSync(scalarWasm) && `no ${scalarWasm}` }, async () => {
  const scalar = await load({ wasm: readFileSync(scalarWasm) });
  for (const [input, dtx] of [[vector('annex-a', 'speech.in'), false], [recording, true], [vector('annex-ab', 'tstseq2.in'), true]]) {
    if (!existsSync(input)) continue;
    const pcm = readPcm(input);
    const a = encodeAll(g729, pcm, dtx), b = encodeAll(scalar, pcm, dtx);
    assert.deepEqual(toItu(b), toItu(a), `encode ${input}`);
    assert.deepEqual(decodeUnits(scalar, b), decodeUnits(g729, a), `decode ${input}`);
  }
});

test('speed (printed, not asserted)', () => {
  const pcm = readPcm(existsSync(vector('annex-a', 'speech.in')) ? vector('annex-a', 'speech.in') : recording);
  const seconds = Math.floor(pcm.length / 80) / 100;
  const time = (f) => {
    f(); // warm-up
    const t0 = process.hrtime.bigint();
    let runs = 0;
    do {
      f();
      runs++;
    } while (process.hrtime.bigint() - t0 < 2_000_000_000n);
    return Number(process.hrtime.bigint() - t0) / 1e9 / runs;
  };
  let units;
  const encode = time(() => { units = encodeAll(g729, pcm, false); });
  const decode = time(() => decodeUnits(g729, units));
  console.log(`# speed: ${seconds} s of speech: encode ${(encode * 1000).toFixed(1)} ms (${(seconds / encode).toFixed(0)} x real time), ` +
              `decode ${(decode * 1000).toFixed(1)} ms (${(seconds / decode).toFixed(0)} x real time), node ${process.version}`);
});
