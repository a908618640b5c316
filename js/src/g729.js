// SPDX-License-Identifier: BSD-2-Clause
// The G.729 Annex A/B codec in WebAssembly: encoder and decoder objects over the library's C
// entry points, whole-file decoding (raw frames or the ITU serial format) and WAV helpers.
// No dependencies; runs in browsers, Web Workers and Node. The build (scripts/build-wasm.sh)
// prepends WASM_BASE64, the compiled module.

const FRAME = 80; // samples per 10 ms frame
const SPEECH_BYTES = 10;
const SID_BYTES = 2;
const ITU_SYNC = 0x6b21;
const ITU_SYNC_LOST = 0x6b20;
const ITU_ZERO = 0x007f;
const ITU_ONE = 0x0081;

let shared = null; // the promise of the default instance

/** Loads the codec. Resolves to { Encoder, Decoder, decodeFile, toWav, version }. */
export function load(options = {}) {
  if (options.wasm === undefined) {
    shared ??= instantiate(decodeBase64(WASM_BASE64));
    return shared;
  }
  return instantiate(options.wasm);
}

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

async function instantiate(source) {
  // A Module gives an Instance, bytes give { module, instance }.
  const result = await WebAssembly.instantiate(source, {});
  const instance = result instanceof WebAssembly.Instance ? result : result.instance;
  const w = instance.exports;
  if (typeof w._initialize === 'function') w._initialize();
  return makeCodec(w);
}

function makeCodec(w) {
  const u8 = (ptr, n) => new Uint8Array(w.memory.buffer, ptr, n);
  const i16 = (ptr, n) => new Int16Array(w.memory.buffer, ptr, n);
  const i32 = (ptr, n) => new Int32Array(w.memory.buffer, ptr, n);
  const alloc = (n) => {
    const p = w.malloc(n);
    if (!p) throw new Error('g729: out of WebAssembly memory');
    return p;
  };
  // A forgotten free() is caught up with when the object is collected.
  const registry = typeof FinalizationRegistry === 'function'
    ? new FinalizationRegistry((release) => release())
    : null;
  const version = readString(w.memory.buffer, w.g729_version_string());

  class Encoder {
    #state;
    #io; // 160 bytes of samples, 10 bytes of frame, then the byte count (int32)
    #pending = new Int16Array(0);

    constructor(options = {}) {
      const state = w.g729_encoder_create(options.dtx ? 1 : 0);
      if (!state) throw new Error('g729: out of WebAssembly memory');
      const io = w.malloc(2 * FRAME + 16);
      if (!io) {
        w.g729_encoder_destroy(state);
        throw new Error('g729: out of WebAssembly memory');
      }
      this.#state = state;
      this.#io = io;
      registry?.register(this, () => { w.g729_encoder_destroy(state); w.free(io); }, this);
    }

    /** Codes whole 10 ms frames; a trailing partial frame waits for the next call (or flush). */
    encode(samples) {
      this.#check();
      if (!(samples instanceof Int16Array)) throw new TypeError('g729: encode takes an Int16Array');
      let input = samples;
      if (this.#pending.length) {
        input = new Int16Array(this.#pending.length + samples.length);
        input.set(this.#pending);
        input.set(samples, this.#pending.length);
      }
      const whole = input.length - (input.length % FRAME);
      const units = [];
      const io = this.#io, out = io + 2 * FRAME, count = io + 2 * FRAME + 12;
      for (let at = 0; at < whole; at += FRAME) {
        i16(io, FRAME).set(input.subarray(at, at + FRAME));
        if (w.g729_encode_frame(this.#state, io, out, count) !== 0) throw new Error('g729: encoding failed');
        units.push(u8(out, i32(count, 1)[0]).slice());
      }
      this.#pending = input.slice(whole);
      return units;
    }

    /** Codes a waiting partial frame padded with zeros: zero or one unit. */
    flush() {
      if (!this.#pending.length) return [];
      const last = new Int16Array(FRAME);
      last.set(this.#pending);
      this.#pending = new Int16Array(0);
      return this.encode(last);
    }

    free() {
      if (!this.#state) return;
      registry?.unregister(this);
      w.g729_encoder_destroy(this.#state);
      w.free(this.#io);
      this.#state = 0;
      this.#io = 0;
    }

    #check() {
      if (!this.#state) throw new Error('g729: the encoder was freed');
    }
  }

  class Decoder {
    #state;
    #io; // 160 bytes of samples, then 10 bytes of frame (later: unit lengths)

    constructor() {
      const state = w.g729_decoder_create();
      if (!state) throw new Error('g729: out of WebAssembly memory');
      const io = w.malloc(2 * FRAME + 16);
      if (!io) {
        w.g729_decoder_destroy(state);
        throw new Error('g729: out of WebAssembly memory');
      }
      this.#state = state;
      this.#io = io;
      registry?.register(this, () => { w.g729_decoder_destroy(state); w.free(io); }, this);
    }

    /**
     * Decodes an RTP payload (speech frames, then at most one SID frame, concatenated), or a
     * list of units, one per frame: 10 bytes speech, 2 SID, 0 untransmitted (comfort noise),
     * null lost (concealed). Returns 80 samples a frame.
     */
    decode(payload) {
      if (!this.#state) throw new Error('g729: the decoder was freed');
      const units = payload instanceof Uint8Array ? splitPayload(payload) : payload;
      if (!Array.isArray(units)) throw new TypeError('g729: decode takes a Uint8Array or an array of units');
      const pcm = new Int16Array(units.length * FRAME);
      const io = this.#io, bytes = io + 2 * FRAME;
      for (let f = 0; f < units.length; f++) {
        const unit = units[f];
        let rc;
        if (unit === null || unit === undefined) {
          rc = w.g729_decode_lost_frame(this.#state, io);
        } else if (!(unit instanceof Uint8Array)) {
          throw new TypeError(`g729: unit ${f + 1} is not a Uint8Array or null`);
        } else if (unit.length === 0) {
          rc = w.g729_decode_untransmitted_frame(this.#state, io);
        } else if (unit.length === SPEECH_BYTES || unit.length === SID_BYTES) {
          u8(bytes, unit.length).set(unit);
          rc = w.g729_decode_frame(this.#state, io, bytes, unit.length);
        } else {
          throw new RangeError(`g729: unit ${f + 1} has ${unit.length} bytes (expected 10, 2 or 0)`);
        }
        if (rc !== 0) throw new Error(`g729: decoding unit ${f + 1} failed`);
        pcm.set(i16(io, FRAME), f * FRAME);
      }
      return pcm;
    }

    free() {
      if (!this.#state) return;
      registry?.unregister(this);
      w.g729_decoder_destroy(this.#state);
      w.free(this.#io);
      this.#state = 0;
      this.#io = 0;
    }
  }

  // The units of an RTP payload: N 10-byte speech frames and at most one trailing SID frame.
  function splitPayload(payload) {
    const n = payload.length;
    if (n % SPEECH_BYTES !== 0 && n % SPEECH_BYTES !== SID_BYTES) {
      throw new RangeError(`g729: a payload of ${n} bytes is not N x 10 (+ 2) bytes`);
    }
    const units = [];
    let at = 0;
    for (; at + SPEECH_BYTES <= n; at += SPEECH_BYTES) units.push(payload.subarray(at, at + SPEECH_BYTES));
    if (at < n) units.push(payload.subarray(at));
    return units;
  }

  /** Decodes a whole coded file: raw 10-byte frames or the ITU serial format ("auto" tells them apart). */
  function decodeFile(bytes, options = {}) {
    const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
    const units = parseCoded(data, options.format ?? 'auto');
    const decoder = new Decoder();
    try {
      return decoder.decode(units);
    } finally {
      decoder.free();
    }
  }

  return { Encoder, Decoder, decodeFile, parseCoded, toWav, parseWav, toItu, toRaw, version, exports: w };
}

function readString(buffer, ptr) {
  const bytes = new Uint8Array(buffer, ptr);
  let end = 0;
  while (bytes[end] !== 0) end++;
  return new TextDecoder().decode(bytes.subarray(0, end));
}

const word = (data, at) => data[at] | (data[at + 1] << 8);
const hex4 = (v) => '0x' + v.toString(16).toUpperCase().padStart(4, '0');

/** Whether bytes start like an ITU serial file: a sync word and a valid length word. */
export function looksLikeItu(data) {
  if (data.length < 4) return false;
  const sync = word(data, 0), length = word(data, 2);
  return (sync === ITU_SYNC || sync === ITU_SYNC_LOST) && (length === 80 || length === 16 || length === 0);
}

/**
 * The units of a coded file, one per frame (10 bytes speech, 2 SID, 0 untransmitted, null
 * lost). format: "raw" (concatenated 10-byte frames), "itu" (16-bit words: sync 0x6B21, or
 * 0x6B20 lost; a length of 80, 16 or 0; a word per bit, 0x007F zero, 0x0081 one, 0x0000
 * erased) or "auto".
 */
export function parseCoded(data, format = 'auto') {
  if (format === 'auto') format = looksLikeItu(data) ? 'itu' : 'raw';
  if (format === 'raw') {
    if (data.length % SPEECH_BYTES !== 0) {
      const at = data.length - (data.length % SPEECH_BYTES);
      throw new RangeError(`g729: partial frame at byte offset ${at} (${data.length - at} of 10 bytes)`);
    }
    const units = [];
    for (let at = 0; at < data.length; at += SPEECH_BYTES) units.push(data.slice(at, at + SPEECH_BYTES));
    return units;
  }
  if (format !== 'itu') throw new RangeError(`g729: unknown format "${format}" (raw, itu or auto)`);
  const units = [];
  for (let at = 0; at < data.length;) {
    const where = `g729: frame ${units.length + 1} at byte offset ${at}: `;
    if (at + 4 > data.length) throw new RangeError(where + `truncated frame (header needs 4 bytes, ${data.length - at} left)`);
    const sync = word(data, at), length = word(data, at + 2);
    if (sync !== ITU_SYNC && sync !== ITU_SYNC_LOST) throw new RangeError(where + `unknown sync word ${hex4(sync)} (expected 0x6B21 or 0x6B20)`);
    if (length !== 80 && length !== 16 && length !== 0) throw new RangeError(where + `length word ${length}, expected 80, 16 or 0`);
    if (at + 4 + 2 * length > data.length) {
      throw new RangeError(where + `truncated frame (needs ${4 + 2 * length} bytes, ${data.length - at} left)`);
    }
    const bytes = new Uint8Array(length === 80 ? SPEECH_BYTES : length === 16 ? SID_BYTES : 0);
    let erased = 0;
    for (let k = 0; k < length; k++) {
      const v = word(data, at + 4 + 2 * k);
      if (v === ITU_ONE) {
        if (k < 15 || length === 80) bytes[k >> 3] |= 0x80 >> (k & 7); // a SID frame's 16th bit is padding
      } else if (v === 0) {
        erased++;
      } else if (v !== ITU_ZERO) {
        throw new RangeError(`g729: frame ${units.length + 1} at byte offset ${at + 4 + 2 * k}: unknown bit word ${hex4(v)} (expected 0x007F or 0x0081)`);
      }
    }
    if (erased !== 0 && erased !== length) throw new RangeError(where + 'mixes erased (0x0000) and valid bit words');
    units.push(sync === ITU_SYNC_LOST || (length !== 0 && erased === length) ? null : bytes);
    at += 4 + 2 * length;
  }
  return units;
}

/** The ITU serial format of a list of units (10, 2 or 0 bytes, or null for a lost frame). */
export function toItu(units) {
  let size = 0;
  for (const u of units) size += 4 + 2 * (u === null ? 80 : u.length === SPEECH_BYTES ? 80 : u.length === SID_BYTES ? 16 : 0);
  const out = new Uint8Array(size);
  const view = new DataView(out.buffer);
  let at = 0;
  const put = (v) => { view.setUint16(at, v, true); at += 2; };
  for (const u of units) {
    if (u === null) {
      put(ITU_SYNC_LOST);
      put(80);
      at += 160; // erased bit words: 0x0000
      continue;
    }
    if (u.length !== SPEECH_BYTES && u.length !== SID_BYTES && u.length !== 0) {
      throw new RangeError(`g729: a unit of ${u.length} bytes (expected 10, 2 or 0)`);
    }
    const bits = u.length === SPEECH_BYTES ? 80 : u.length === SID_BYTES ? 16 : 0;
    put(ITU_SYNC);
    put(bits);
    for (let k = 0; k < bits; k++) {
      const one = (k < 15 || bits === 80) && ((u[k >> 3] >> (7 - (k & 7))) & 1);
      put(one ? ITU_ONE : ITU_ZERO);
    }
  }
  return out;
}

/** Raw frames: the 10-byte speech units concatenated (DTX units have no raw form). */
export function toRaw(units) {
  const out = new Uint8Array(units.length * SPEECH_BYTES);
  units.forEach((u, f) => {
    if (!u || u.length !== SPEECH_BYTES) {
      throw new RangeError(`g729: frame ${f + 1} is not a speech frame; the raw format carries speech frames only`);
    }
    out.set(u, f * SPEECH_BYTES);
  });
  return out;
}

/** A 16-bit PCM WAV file of the samples (mono, 8000 Hz unless stated). */
export function toWav(samples, sampleRate = 8000) {
  const data = samples.length * 2;
  const out = new Uint8Array(44 + data);
  const v = new DataView(out.buffer);
  const tag = (at, s) => { for (let i = 0; i < 4; i++) out[at + i] = s.charCodeAt(i); };
  tag(0, 'RIFF');
  v.setUint32(4, 36 + data, true);
  tag(8, 'WAVE');
  tag(12, 'fmt ');
  v.setUint32(16, 16, true);
  v.setUint16(20, 1, true); // PCM
  v.setUint16(22, 1, true); // mono
  v.setUint32(24, sampleRate, true);
  v.setUint32(28, sampleRate * 2, true);
  v.setUint16(32, 2, true);
  v.setUint16(34, 16, true);
  tag(36, 'data');
  v.setUint32(40, data, true);
  for (let i = 0; i < samples.length; i++) v.setInt16(44 + 2 * i, samples[i], true);
  return out;
}

/** Reads a 16-bit PCM WAV file: { sampleRate, channels, samples } (samples interleaved). */
export function parseWav(bytes) {
  const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
  const v = new DataView(data.buffer, data.byteOffset, data.byteLength);
  const tag = (at) => String.fromCharCode(...data.subarray(at, at + 4));
  if (data.length < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') throw new RangeError('g729: not a WAV file');
  let format = null;
  for (let at = 12; at + 8 <= data.length;) {
    const id = tag(at), size = v.getUint32(at + 4, true), body = at + 8;
    if (id === 'fmt ' && size >= 16) {
      format = { code: v.getUint16(body, true), channels: v.getUint16(body + 2, true),
                 sampleRate: v.getUint32(body + 4, true), bits: v.getUint16(body + 14, true) };
      if (format.code === 0xfffe && size >= 40) format.code = v.getUint16(body + 24, true);
    } else if (id === 'data') {
      if (!format) throw new RangeError('g729: WAV data before its format chunk');
      if (format.code !== 1 || format.bits !== 16) throw new RangeError('g729: only 16-bit PCM WAV files are read');
      const n = Math.floor(Math.min(size, data.length - body) / 2);
      const samples = new Int16Array(n);
      for (let i = 0; i < n; i++) samples[i] = v.getInt16(body + 2 * i, true);
      return { sampleRate: format.sampleRate, channels: format.channels, samples };
    }
    at = body + size + (size & 1);
  }
  throw new RangeError('g729: WAV file without a data chunk');
}
