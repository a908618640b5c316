// SPDX-License-Identifier: BSD-2-Clause
// The G.729 Annex A/B codec in WebAssembly. Frames are 10 ms: 80 samples of 16-bit PCM at
// 8000 Hz. A unit is what one frame codes to: 10 bytes (speech), 2 (SID, with DTX) or 0
// (nothing sent, with DTX); null stands for a frame that never arrived.

/** One frame's coded unit (10, 2 or 0 bytes), or null for a lost frame. */
export type Unit = Uint8Array | null;
export type CodedFormat = 'raw' | 'itu' | 'auto';

export interface EncoderOptions {
  /** Discontinuous transmission: SID frames (2 bytes) and untransmitted frames (0 bytes) in pauses. */
  dtx?: boolean;
}

export declare class Encoder {
  constructor(options?: EncoderOptions);
  /** Codes the whole frames of the samples (a partial frame waits for the next call): one unit per frame. */
  encode(samples: Int16Array): Uint8Array[];
  /** Codes a waiting partial frame padded with zeros: zero or one unit. */
  flush(): Uint8Array[];
  /** Releases the encoder's WebAssembly memory; the encoder is unusable afterwards. */
  free(): void;
}

export declare class Decoder {
  constructor();
  /**
   * An RTP payload (N 10-byte speech frames, then at most one 2-byte SID frame), or one unit
   * per frame (0 bytes: comfort noise for an untransmitted frame; null: a lost frame,
   * concealed). Returns 80 samples per frame.
   */
  decode(payload: Uint8Array | Unit[]): Int16Array;
  /** Releases the decoder's WebAssembly memory; the decoder is unusable afterwards. */
  free(): void;
}

export interface DecodeFileOptions {
  /** raw: concatenated 10-byte frames; itu: the ITU serial format; auto (default): told apart by the first frame. */
  format?: CodedFormat;
}

export interface Wav {
  sampleRate: number;
  channels: number;
  /** Interleaved samples. */
  samples: Int16Array;
}

export interface G729 {
  Encoder: typeof Encoder;
  Decoder: typeof Decoder;
  /** Decodes a whole coded file into 8000 Hz samples. Throws a RangeError naming the first problem. */
  decodeFile(bytes: Uint8Array | ArrayBuffer, options?: DecodeFileOptions): Int16Array;
  parseCoded: typeof parseCoded;
  toWav: typeof toWav;
  parseWav: typeof parseWav;
  toItu: typeof toItu;
  toRaw: typeof toRaw;
  /** The codec library's version, "MAJOR.MINOR.PATCH". */
  version: string;
  /** The WebAssembly instance's exports (memory, malloc, free and the g729_ entry points). */
  exports: WebAssembly.Exports & { memory: WebAssembly.Memory };
}

export interface LoadOptions {
  /** A module or its bytes to use instead of the embedded one. */
  wasm?: BufferSource | WebAssembly.Module;
}

/** Instantiates the codec (once: later calls without options share the instance). */
export declare function load(options?: LoadOptions): Promise<G729>;

/** The units of a coded file, one per frame. */
export declare function parseCoded(data: Uint8Array, format?: CodedFormat): Unit[];
/** Whether the bytes start like an ITU serial file. */
export declare function looksLikeItu(data: Uint8Array): boolean;
/** The ITU serial format of the units. */
export declare function toItu(units: Unit[]): Uint8Array;
/** Raw frames: the 10-byte speech units concatenated (throws on any other unit). */
export declare function toRaw(units: Unit[]): Uint8Array;
/** A 16-bit PCM mono WAV file of the samples (8000 Hz by default). */
export declare function toWav(samples: Int16Array, sampleRate?: number): Uint8Array;
/** Reads a 16-bit PCM WAV file. */
export declare function parseWav(bytes: Uint8Array | ArrayBuffer): Wav;
