#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Clips per second of g729.simulate_many (the many-channel engine on every core) against a
loop of g729.simulate (one clip at a time, one core), on the same clips.

    python3 bench/python_simulate.py [--clips 1000] [--seconds 3] [--rate 16000] [--loss 0.05]

The clips are stretches of the project's speech recording raised to the rate (linear
interpolation); the loop codes the first --loop-clips of them (default all). Both results are
checked equal on the clips both coded.
"""

import argparse
import os
import time
import wave
from pathlib import Path

import numpy as np

import g729

REPO = Path(__file__).resolve().parents[1]


def clips_of(count: int, seconds: float, rate: int) -> list:
    with wave.open(str(REPO / "data" / "speech_sample.wav"), "rb") as w:
        speech = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)
    n8 = int(seconds * 8000)
    n = int(seconds * rate)
    rng = np.random.default_rng(1)
    out = []
    for _ in range(count):
        start = int(rng.integers(0, speech.size - n8))
        x8 = speech[start:start + n8]
        out.append(np.interp(np.arange(n) * 8000 / rate, np.arange(n8), x8).astype(np.int16))
    return out


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--clips", type=int, default=1000)
    p.add_argument("--seconds", type=float, default=3.0)
    p.add_argument("--rate", type=int, default=16000)
    p.add_argument("--loss", type=float, default=0.05)
    p.add_argument("--loop-clips", type=int, default=None, help="clips the loop codes (default all)")
    args = p.parse_args()
    clips = clips_of(args.clips, args.seconds, args.rate)
    seeds = list(range(len(clips)))
    kw = dict(loss=args.loss, burst=2.0)

    start = time.perf_counter()
    many = g729.simulate_many(clips, args.rate, seed=seeds, **kw)
    t_many = time.perf_counter() - start

    loop_n = len(clips) if args.loop_clips is None else max(1, min(args.loop_clips, len(clips)))
    start = time.perf_counter()
    single = [g729.simulate(c, args.rate, seed=s, **kw) for c, s in zip(clips[:loop_n], seeds)]
    t_loop = time.perf_counter() - start
    assert all(np.array_equal(a, b) for a, b in zip(single, many))

    audio = len(clips) * args.seconds
    print(f"g729 {g729.__version__}, {len(clips)} clips of {args.seconds:g} s at {args.rate} Hz, "
          f"loss {args.loss:g}, {os.cpu_count()} processors")
    print(f"simulate_many: {len(clips) / t_many:8.1f} clips/s ({audio / t_many:7.0f}x real time, "
          f"{t_many:.2f} s)")
    print(f"simulate loop: {loop_n / t_loop:8.1f} clips/s ({loop_n * args.seconds / t_loop:7.0f}x "
          f"real time, {loop_n} clips in {t_loop:.2f} s)")
    print(f"ratio: {(len(clips) / t_many) / (loop_n / t_loop):.2f}")


if __name__ == "__main__":
    main()
