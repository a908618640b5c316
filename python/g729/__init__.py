# SPDX-License-Identifier: BSD-2-Clause
"""G.729 Annex A speech codec (with Annex B DTX and comfort noise) for Python.

Encoder and Decoder code 10 ms frames of 8000 Hz 16-bit audio; simulate() and simulate_many()
send audio at any rate through a G.729A telephone channel with packet loss (for data
augmentation); read_capture() decodes the G.729 RTP streams of a packet capture. Coding runs
without the interpreter's lock, so threads code in parallel.
"""

from __future__ import annotations

import dataclasses
import json
import os
import warnings
from typing import Iterable, Optional, Sequence, Union

import numpy as np

from . import _g729

__all__ = ["Encoder", "Decoder", "Stream", "simulate", "simulate_many", "loss_pattern",
           "read_capture", "read_coded", "FRAME_SAMPLES", "__version__"]

__version__: str = _g729.version

#: Samples per frame (10 ms at 8000 Hz).
FRAME_SAMPLES: int = _g729.frame_samples

_SPEECH, _SID, _UNTRANSMITTED, _LOST = 10, 2, 0, -1
_SEED_LIMIT = 2 ** 64


def _int16_samples(samples, what: str = "samples") -> np.ndarray:
    a = np.asarray(samples)
    if a.ndim != 1:
        raise ValueError(f"{what}: expected a 1-D array of samples, got {a.ndim} dimensions")
    if a.dtype == np.int16:
        return np.ascontiguousarray(a)
    if a.dtype.kind in "iu" or (a.dtype == object and a.size == 0):
        if a.size and (a.min() < -32768 or a.max() > 32767):
            raise ValueError(f"{what}: values beyond the 16-bit range")
        return a.astype(np.int16)
    raise TypeError(f"{what}: expected int16 samples, got {a.dtype}")


class Encoder:
    """One encoder stream: 80 samples of 8000 Hz int16 audio in, one unit out per 10 ms frame.

    Units are bytes: 10 for a speech frame, and with dtx=True 2 for a SID frame or b"" for a
    frame that is not sent. The encoder's state carries over from call to call (and pickles).
    """

    def __init__(self, dtx: bool = False):
        self._impl = _g729.Encoder(bool(dtx))

    @property
    def dtx(self) -> bool:
        return self._impl.dtx

    def encode(self, samples) -> list:
        """Encodes int16 samples, a multiple of 80 of them; one unit per frame."""
        a = _int16_samples(samples)
        if a.size % FRAME_SAMPLES != 0:
            raise ValueError(f"samples: {a.size} is not a multiple of {FRAME_SAMPLES} "
                             f"(whole 10 ms frames); keep or pad the rest")
        return self._impl.encode(a)

    def __repr__(self) -> str:
        return f"g729.Encoder(dtx={self.dtx})"


def _units_of(units) -> tuple:
    """(lengths, payload) of a payload or a list of units."""
    if isinstance(units, (list, tuple)):
        lengths = np.empty(len(units), dtype=np.int32)
        parts = []
        for i, u in enumerate(units):
            if u is None:
                lengths[i] = _LOST
                continue
            if isinstance(u, str):
                raise TypeError(f"unit {i}: expected bytes or None, got str")
            try:
                b = bytes(memoryview(u))
            except TypeError:
                raise TypeError(f"unit {i}: expected bytes or None, got {type(u).__name__}") from None
            if len(b) not in (_SPEECH, _SID, 0):
                raise ValueError(f"unit {i}: {len(b)} bytes; expected 10 (speech), 2 (SID), "
                                 f"b'' (not sent) or None (lost)")
            lengths[i] = len(b) if b else _UNTRANSMITTED
            parts.append(b)
        return lengths, b"".join(parts)
    if isinstance(units, str):
        raise TypeError("units: expected a bytes-like payload or a list of units, got str")
    try:
        payload = bytes(memoryview(units).cast("B"))
    except TypeError:
        raise TypeError("units: expected a bytes-like payload or a list of units, got "
                        f"{type(units).__name__}") from None
    speech, rest = divmod(len(payload), _SPEECH)
    if rest not in (0, _SID):
        raise ValueError(f"payload of {len(payload)} bytes: expected N x 10 bytes of speech "
                         "frames and at most one trailing 2-byte SID frame")
    lengths = np.full(speech + (1 if rest else 0), _SPEECH, dtype=np.int32)
    if rest:
        lengths[-1] = _SID
    return lengths, payload


class Decoder:
    """One decoder stream: units in, 80 samples of 8000 Hz int16 audio out per frame.

    decode() takes an RTP-style payload (N 10-byte speech frames and at most one trailing 2-byte
    SID frame) or a list with one item per frame: bytes of 10 or 2, b"" for a frame not sent
    (comfort noise), None for a lost frame (concealed). The state carries over (and pickles).
    """

    def __init__(self):
        self._impl = _g729.Decoder()

    def decode(self, units) -> np.ndarray:
        lengths, payload = _units_of(units)
        return self._impl.decode(lengths, payload)

    def __repr__(self) -> str:
        return "g729.Decoder()"


@dataclasses.dataclass
class Stream:
    """A G.729 RTP stream of a capture, decoded as `g729 decode --format pcap` decodes it."""

    ssrc: int
    src: str            # "addr:port"
    dst: str
    samples: np.ndarray  # int16 at 8000 Hz
    rate: int = 8000
    stats: dict = dataclasses.field(default_factory=dict)  # the tool's JSON figures

    def __repr__(self) -> str:
        return (f"g729.Stream(ssrc=0x{self.ssrc:08x}, src={self.src!r}, dst={self.dst!r}, "
                f"{self.samples.size / self.rate:.2f} s)")


def read_capture(path, ssrc: Optional[int] = None) -> list:
    """The G.729 streams (RTP payload type 18) of a pcap or pcapng file, in order of first
    appearance; only the stream(s) with this SSRC when given. Damage the capture ends in is
    reported as a warning, with the streams up to there returned."""
    if ssrc is not None and not 0 <= int(ssrc) < 2 ** 32:
        raise ValueError(f"ssrc {ssrc}: expected 0 to 2**32 - 1")
    raw, notes = _g729.read_capture(os.fspath(path), None if ssrc is None else int(ssrc))
    for note in notes:
        warnings.warn(note, RuntimeWarning, stacklevel=2)
    return [Stream(ssrc=s, src=a, dst=b, samples=x, rate=8000, stats=json.loads(j))
            for s, a, b, x, j in raw]


def read_coded(path, format: Optional[str] = None) -> list:
    """The units of a coded file as `g729 decode` reads it, ready for Decoder.decode(): bytes per
    frame (10 speech, 2 SID), b"" for a frame not sent, None for a lost frame. format: "itu"
    (ITU serial words, the default for *.bit) or "raw" (10-byte frames, any other name).
    A damaged file raises ValueError naming the first fault."""
    name = os.fspath(path)
    if format is None:
        format = "itu" if str(name).lower().endswith(".bit") else "raw"
    if format not in ("itu", "raw"):
        raise ValueError(f"format {format!r}: expected 'itu' or 'raw'")
    return _g729.read_coded(name, format == "itu")


def loss_pattern(packets: int, loss: float, burst: float = 1.0, seed: Optional[int] = None) -> np.ndarray:
    """The packet losses simulate() applies: a bool per packet sent, True lost.

    Two-state chain: a packet after a received one is lost with probability p = loss / burst,
    one after a lost one received with probability q = (1 - loss) / burst. The long-run share
    lost is `loss`; `burst` is the burst ratio (as the E-model and `g729 streams` measure it):
    the mean run of losses over the run independent loss gives, 1 / (1 - loss). burst=1 is
    independent loss."""
    if packets < 0:
        raise ValueError(f"packets {packets}: expected 0 or more")
    return _g729.loss_pattern(int(packets), float(loss), float(burst), _seed(seed))


def _seed(seed) -> int:
    if seed is None:
        return int.from_bytes(os.urandom(8), "little")
    if isinstance(seed, (bool, float)) or not isinstance(seed, (int, np.integer)):
        raise TypeError(f"seed: expected an int or None, got {type(seed).__name__}")
    if not 0 <= int(seed) < _SEED_LIMIT:
        raise ValueError(f"seed {seed}: expected 0 to 2**64 - 1")
    return int(seed)


def _mono(audio, index: Optional[int]) -> tuple:
    """(mono float32 at full scale 1.0, dtype, channels or None) of one clip."""
    where = "audio" if index is None else f"clip {index}"
    a = np.asarray(audio)
    if a.dtype == np.int16:
        x = a.astype(np.float64) / 32768.0
    elif a.dtype.kind == "f":
        x = a.astype(np.float64)
    else:
        raise TypeError(f"{where}: expected int16 or float samples, got {a.dtype}")
    if a.ndim == 1:
        return x.astype(np.float32), a.dtype, None
    if a.ndim == 2:
        channels = a.shape[1]
        if channels == 0:
            raise ValueError(f"{where}: no channels")
        return (x.sum(axis=1) / channels).astype(np.float32), a.dtype, channels
    raise ValueError(f"{where}: expected (samples,) or (samples, channels), got shape {a.shape}")


def _restore(y: np.ndarray, dtype, channels) -> np.ndarray:
    if dtype == np.int16:
        out = np.clip(np.rint(y.astype(np.float64) * 32768.0), -32768, 32767).astype(np.int16)
    else:
        out = y.astype(dtype)
    if channels is not None:
        out = np.repeat(out[:, None], channels, axis=1)
    return out


def _check_rate(rate) -> float:
    r = float(rate)
    if not (r > 0 and np.isfinite(r)):
        raise ValueError(f"rate {rate}: expected a positive sample rate")
    return r


def simulate(audio, rate, *, loss: float = 0.0, burst: float = 1.0, dtx: bool = False,
             seed: Optional[int] = None, ptime_ms: int = 20) -> np.ndarray:
    """The audio as a G.729A telephone call leaves it.

    audio: int16 or float (full scale 1.0) samples at `rate` Hz, shape (samples,) or
    (samples, channels) (mixed to mono). It is resampled to 8000 Hz, encoded (dtx: with SID
    frames and pauses), sent in packets of ptime_ms, packets lost (loss: long-run share lost,
    burst: the burst ratio, 1 for independent loss; see loss_pattern), decoded with concealment and comfort
    noise, and resampled back. The result has the input's shape, dtype and rate (the mono
    result on every channel) and lines up with it in time. The same seed gives the same result;
    seed=None draws one."""
    return simulate_many([audio], rate, loss=loss, burst=burst, dtx=dtx, seed=[seed],
                         ptime_ms=ptime_ms, threads=1)[0]


def simulate_many(clips: Iterable, rate, *, loss: float = 0.0, burst: float = 1.0,
                  dtx: bool = False, seed: Union[None, int, Sequence[Optional[int]]] = None,
                  ptime_ms: int = 20, threads: Optional[int] = None) -> list:
    """simulate() for many clips at once, coded side by side on every processor (threads:
    how many; default one per processor). Clip i comes out exactly as simulate(clips[i], ...)
    with the same seed gives it. seed: None (a fresh one per clip), an int (that seed for
    every clip), or a sequence with one int or None per clip."""
    clips = list(clips)
    prepared = [_mono(c, i) for i, c in enumerate(clips)]
    if seed is None or isinstance(seed, (int, np.integer)) and not isinstance(seed, bool):
        seeds = [_seed(seed) for _ in clips]
    else:
        seed = list(seed)
        if len(seed) != len(clips):
            raise ValueError(f"seed: {len(seed)} seeds for {len(clips)} clips")
        seeds = [_seed(s) for s in seed]
    if threads is None:
        threads = 0
    elif int(threads) < 1:
        raise ValueError(f"threads {threads}: expected 1 or more")
    out = _g729.simulate([p[0] for p in prepared], _check_rate(rate), float(loss), float(burst),
                         bool(dtx), seeds, int(ptime_ms), int(threads))
    return [_restore(y, dtype, ch) for y, (_, dtype, ch) in zip(out, prepared)]
