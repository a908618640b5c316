#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Paired g729_channels runs for a machine whose speed drifts (a shared host).

Two runs at the same time, one on each of two processors, swapped every round, so that both
see the same host load; the figure is the median over the rounds of B's channels per CPU
second divided by A's.

  bench/paired.py engines build/bin/g729_channels            # batch-ws / single, one binary
  bench/paired.py binaries old/g729_channels new/g729_channels  # new / old, one engine
  bench/paired.py binaries A B --engine single -- --simd avx2   # after --: to both runs
"""
import argparse
import statistics
import subprocess
import sys


def per_cpu_second(output: str) -> float:
    for line in output.splitlines():
        if "channels per core" in line and "per CPU second" in line:
            return float(line.split("per CPU second")[1])
    last = output.strip().splitlines()[-1:] or ["no output"]
    raise RuntimeError("no figure from g729_channels: " + last[0])


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("mode", choices=["engines", "binaries"],
                   help="engines: batch-ws against single of one binary; binaries: B against A")
    p.add_argument("a", help="g729_channels (A)")
    p.add_argument("b", nargs="?", help="g729_channels (B), for binaries")
    p.add_argument("--engine", default="batch-ws", help="engine of both runs, for binaries")
    p.add_argument("--rounds", type=int, default=4)
    p.add_argument("--cpus", default="0,1", help="the two processors, comma-separated")
    p.add_argument("--channels", default="64")
    p.add_argument("--seconds", default="8")
    p.add_argument("--a-seconds", default=None,
                   help="seconds of audio for A (default: --seconds; in engines mode a third "
                        "of it, so that the slower single engine runs about as long as the "
                        "batched one and both see the same stretch of the host's load)")
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    o = p.parse_args(argv[:len(argv) - len(extra) - (1 if "--" in argv else 0)])
    if o.mode == "binaries" and o.b is None:
        p.error("binaries needs two programs")
    cpus = o.cpus.split(",")
    if len(cpus) != 2 or o.rounds < 1:
        p.error("--cpus takes two processors and --rounds at least one")
    a_seconds = o.a_seconds
    if a_seconds is None:
        a_seconds = f"{float(o.seconds) / 3:g}" if o.mode == "engines" else o.seconds
    if o.mode == "engines":
        runs = [(o.a, "single", a_seconds), (o.a, "batch-ws", o.seconds)]
    else:
        runs = [(o.a, o.engine, a_seconds), (o.b, o.engine, o.seconds)]
    ratios = []
    for r in range(o.rounds):
        order = cpus if r % 2 == 0 else cpus[::-1]
        procs = [subprocess.Popen(["taskset", "-c", cpu, prog, "--engine", engine,
                                   "--threads", "1", "--channels", o.channels,
                                   "--seconds", seconds] + extra,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                 for (prog, engine, seconds), cpu in zip(runs, order)]
        a, b = (per_cpu_second(proc.communicate()[0]) for proc in procs)
        ratios.append(b / a)
        print(f"round {r + 1}: A {a:.1f}  B {b:.1f}  B/A {b / a:.3f}", flush=True)
    print(f"median B/A over {o.rounds} rounds: {statistics.median(ratios):.3f}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, RuntimeError) as e:
        print(f"paired.py: {e}", file=sys.stderr)
        sys.exit(1)
