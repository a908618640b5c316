// SPDX-License-Identifier: BSD-2-Clause
// The player page: decoding and encoding run in a Web Worker made from a Blob (the codec's
// classic script, wasm embedded, plus workerMain below), which works from a web server and
// from file:// alike; the page draws, plays and offers the downloads.
'use strict';

// The worker's code: messages { id, op: 'decode' | 'encode', ... } in, { id, ... } or
// { id, error } out.
function workerMain() {
  const codec = G729Library().load();
  self.onmessage = async (event) => {
    const { id, op } = event.data;
    try {
      const g729 = await codec;
      if (op === 'decode') {
        const t0 = performance.now();
        const samples = g729.decodeFile(event.data.bytes, { format: event.data.format });
        self.postMessage({ id, samples, ms: performance.now() - t0 }, [samples.buffer]);
      } else if (op === 'encode') {
        const encoder = new g729.Encoder({ dtx: event.data.dtx });
        let units;
        try {
          units = encoder.encode(event.data.samples);
        } finally {
          encoder.free();
        }
        const bytes = event.data.format === 'itu' ? g729.toItu(units) : g729.toRaw(units);
        const counts = { speech: 0, sid: 0, none: 0 };
        for (const u of units) counts[u.length === 10 ? 'speech' : u.length === 2 ? 'sid' : 'none']++;
        self.postMessage({ id, bytes, counts }, [bytes.buffer]);
      } else {
        self.postMessage({ id, ready: true, version: g729.version });
      }
    } catch (e) {
      self.postMessage({ id, error: e && e.message ? e.message : String(e) });
    }
  };
}

const $ = (id) => document.getElementById(id);
const RATE = 8000;
const worker = new Worker(URL.createObjectURL(new Blob(
  [G729.source, '\n(', workerMain.toString(), ')();\n'], { type: 'text/javascript' })));
const pending = new Map();
let nextId = 1;
worker.onmessage = (event) => {
  const done = pending.get(event.data.id);
  pending.delete(event.data.id);
  if (event.data.error) done.reject(new Error(event.data.error));
  else done.resolve(event.data);
};
worker.onerror = (event) => setStatus(`The codec worker failed: ${event.message}`, true);
function ask(message, transfer = []) {
  return new Promise((resolve, reject) => {
    const id = nextId++;
    pending.set(id, { resolve, reject });
    worker.postMessage({ id, ...message }, transfer);
  });
}

function setStatus(text, error = false) {
  $('status').textContent = text;
  $('status').classList.toggle('error', error);
}

// --- Playback -------------------------------------------------------------------------------
let audio = null; // { context, buffer, source, startedAt, offset }
let decodedUrl = null;

function stop() {
  if (audio && audio.source) {
    audio.source.onended = null;
    audio.source.stop();
    audio.offset += audio.context.currentTime - audio.startedAt;
    audio.source = null;
  }
  $('play').textContent = 'Play';
}

async function togglePlay() {
  if (!audio) return;
  if (audio.source) {
    stop();
    setStatus('Paused.');
    return;
  }
  await audio.context.resume();
  if (audio.offset >= audio.buffer.duration) audio.offset = 0;
  const source = audio.context.createBufferSource();
  source.buffer = audio.buffer;
  source.connect(audio.context.destination);
  source.onended = () => {
    audio.source = null;
    audio.offset = 0;
    $('play').textContent = 'Play';
    setStatus('Finished playing.');
  };
  source.start(0, audio.offset);
  audio.source = source;
  audio.startedAt = audio.context.currentTime;
  $('play').textContent = 'Pause';
  setStatus('Playing.');
}

function drawWave(samples) {
  const canvas = $('wave');
  const g = canvas.getContext('2d');
  const { width, height } = canvas;
  const style = getComputedStyle(document.body);
  g.clearRect(0, 0, width, height);
  g.fillStyle = style.getPropertyValue('--accent') || '#2456c7';
  const per = Math.max(1, samples.length / width);
  for (let x = 0; x < width; x++) {
    let lo = 0, hi = 0;
    const end = Math.min(samples.length, Math.floor((x + 1) * per));
    for (let i = Math.floor(x * per); i < end; i++) {
      if (samples[i] < lo) lo = samples[i];
      if (samples[i] > hi) hi = samples[i];
    }
    const top = height / 2 - (hi / 32768) * (height / 2), bottom = height / 2 - (lo / 32768) * (height / 2);
    g.fillRect(x, top, 1, Math.max(1, bottom - top));
  }
}

function baseName(name) {
  return name.replace(/\.[^.]*$/, '') || 'audio';
}

// --- Files ----------------------------------------------------------------------------------
async function decodeFile(file) {
  setStatus(`Decoding ${file.name}…`);
  stop();
  const bytes = new Uint8Array(await file.arrayBuffer());
  const { samples, ms } = await ask({ op: 'decode', bytes, format: $('format').value }, [bytes.buffer]);
  const seconds = samples.length / RATE;
  $('decoded-name').textContent = file.name;
  $('duration').textContent = `${seconds.toFixed(2)} s`;
  $('duration').dataset.seconds = String(seconds);
  $('frames').textContent = String(samples.length / 80);
  $('decode-time').textContent = `${ms.toFixed(1)} ms (${ms > 0 ? Math.round((seconds * 1000) / ms) : '∞'} × real time)`;
  drawWave(samples);
  $('wave').setAttribute('aria-label', `Waveform of ${file.name}, ${seconds.toFixed(2)} seconds`);

  const context = audio ? audio.context : new AudioContext();
  const buffer = context.createBuffer(1, Math.max(1, samples.length), RATE);
  const channel = buffer.getChannelData(0);
  for (let i = 0; i < samples.length; i++) channel[i] = samples[i] / 32768;
  audio = { context, buffer, source: null, startedAt: 0, offset: 0 };

  if (decodedUrl) URL.revokeObjectURL(decodedUrl);
  decodedUrl = URL.createObjectURL(new Blob([G729.toWav(samples)], { type: 'audio/wav' }));
  $('save-wav').href = decodedUrl;
  $('save-wav').download = `${baseName(file.name)}.wav`;
  $('decoded').hidden = false;
  setStatus(`Decoded ${file.name}: ${seconds.toFixed(2)} s.`);
  $('play').focus();
}

// 8000 Hz mono 16-bit WAV files go to the encoder as they are; other audio is converted by
// the browser (its resampler, not the g729 tool's).
async function samplesOf(bytes) {
  try {
    const wav = G729.parseWav(bytes);
    if (wav.sampleRate === RATE && wav.channels === 1) return { samples: wav.samples, note: '8000 Hz mono 16-bit' };
  } catch (e) {
    // not a 16-bit PCM WAV file: let the browser read it
  }
  const decoded = await new AudioContext().decodeAudioData(bytes.slice().buffer);
  const offline = new OfflineAudioContext(1, Math.ceil(decoded.duration * RATE), RATE);
  const source = offline.createBufferSource();
  source.buffer = decoded;
  source.connect(offline.destination);
  source.start();
  const mono = (await offline.startRendering()).getChannelData(0);
  const samples = new Int16Array(mono.length);
  for (let i = 0; i < mono.length; i++) samples[i] = Math.max(-32768, Math.min(32767, Math.round(mono[i] * 32768)));
  return { samples, note: `${decoded.sampleRate} Hz, ${decoded.numberOfChannels} channel(s), converted by the browser` };
}

let codedUrl = null;
async function encodeFile(file) {
  setStatus(`Encoding ${file.name}…`);
  const { samples, note } = await samplesOf(new Uint8Array(await file.arrayBuffer()));
  const dtx = $('dtx').checked;
  const format = dtx || $('format').value === 'itu' ? 'itu' : 'raw';
  const { bytes, counts } = await ask({ op: 'encode', samples, dtx, format }, [samples.buffer]);
  const name = `${baseName(file.name)}.${format === 'itu' ? 'bit' : 'g729'}`;
  if (codedUrl) URL.revokeObjectURL(codedUrl);
  codedUrl = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  $('save-coded').href = codedUrl;
  $('save-coded').download = name;
  $('save-coded').textContent = `Download ${name}`;
  $('encoded-name').textContent = file.name;
  $('encoded-input').textContent = note;
  $('encoded-output').textContent = `${bytes.length} bytes, ${format === 'itu' ? 'ITU serial' : 'raw frames'}: ` +
    `${counts.speech} speech` + (dtx ? `, ${counts.sid} SID, ${counts.none} untransmitted frames` : ' frames');
  $('encoded').hidden = false;
  setStatus(`Encoded ${file.name}: ${name} is ready to download.`);
  $('save-coded').focus();
}

async function open(file) {
  if (!file) return;
  try {
    const head = new Uint8Array(await file.slice(0, 4).arrayBuffer());
    const riff = String.fromCharCode(...head) === 'RIFF';
    if (riff || /\.(wav|flac|ogg|mp3|m4a)$/i.test(file.name)) await encodeFile(file);
    else await decodeFile(file);
  } catch (e) {
    setStatus(`${file.name}: ${e.message}`, true);
  }
}

$('file').addEventListener('change', () => open($('file').files[0]));
$('play').addEventListener('click', togglePlay);
const drop = $('drop');
drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  open(e.dataTransfer.files[0]);
});
ask({ op: 'ready' })
  .then(({ version }) => setStatus(`Codec ${version} ready. Choose or drop a file.`))
  .catch((e) => setStatus(`The codec could not start: ${e.message}`, true));
