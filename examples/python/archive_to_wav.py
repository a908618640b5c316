#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Converts a folder tree of G.729 recordings to WAV on a dask.distributed cluster.

    archive_to_wav.py SOURCE_DIR OUTPUT_DIR [--scheduler ADDRESS] [--workers N]

Every coded file (.bit: ITU serial format; .g729: raw 10-byte frames; as `g729 decode` reads
them) becomes OUTPUT_DIR/<same relative path>.wav, 8000 Hz 16-bit mono, and every capture
(.pcap, .pcapng) one WAV per G.729 stream: NAME.wav for a single stream, NAME-<ssrc>.wav for
several (as `g729 decode` names them). Each file is one task. Without --scheduler a local
cluster of worker processes is started on this machine.

Outputs are written as the g729 tool writes them: to a temporary file in the output's folder,
renamed onto the final name only when complete, and never onto an input. A file that fails is
named on stderr and the others go on; the exit status is then 1.
"""

import argparse
import os
import sys
import tempfile
import wave
from pathlib import Path

import numpy as np

CODED = {".bit": "itu", ".g729": "raw"}
CAPTURES = {".pcap", ".pcapng"}


def write_wav_safely(path: Path, samples: np.ndarray, inputs) -> None:
    """Writes 8000 Hz 16-bit mono WAV through a temporary file beside `path`, renamed onto it
    when complete; refuses to replace any of `inputs`."""
    for i in inputs:
        if path.exists() and os.path.samefile(path, i):
            raise OSError(f"{path}: is an input; not overwritten")
    path.parent.mkdir(parents=True, exist_ok=True)
    fd, temp = tempfile.mkstemp(prefix=f".{path.name}.", suffix=".part", dir=path.parent)
    try:
        with os.fdopen(fd, "wb") as f:
            with wave.open(f, "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(8000)
                w.writeframes(np.asarray(samples, dtype="<i2").tobytes())
            f.flush()
            os.fsync(f.fileno())
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except FileNotFoundError:
            pass
        raise


def stream_names(base: Path, ssrcs) -> list:
    """base itself for one stream, else base-SSRC (8 hex digits), numbered -1, -2 ... for
    streams that share an SSRC."""
    if len(ssrcs) == 1:
        return [base]
    uses, numbered, names = {}, {}, []
    for s in ssrcs:
        uses[s] = uses.get(s, 0) + 1
    for s in ssrcs:
        name = f"{base.stem}-{s:08x}"
        if uses[s] > 1:
            numbered[s] = numbered.get(s, 0) + 1
            name += f"-{numbered[s]}"
        names.append(base.with_name(name + base.suffix))
    return names


def convert(source: str, output: str) -> list:
    """One task: decodes `source` to `output` (a .wav path; for a capture of several streams,
    one file per stream beside it). Returns the files written."""
    import g729  # imported on the worker

    src, out = Path(source), Path(output)
    if src.suffix.lower() in CAPTURES:
        streams = g729.read_capture(src)
        if not streams:
            raise ValueError(f"{src}: no G.729 RTP stream")
        names = stream_names(out, [s.ssrc for s in streams])
        for stream, name in zip(streams, names):
            write_wav_safely(name, stream.samples, [src])
        return [str(n) for n in names]
    units = g729.read_coded(src, CODED[src.suffix.lower()])
    write_wav_safely(out, g729.Decoder().decode(units), [src])
    return [str(out)]


def plan(source_dir: Path, output_dir: Path) -> list:
    """(input, output) pairs of every recording under source_dir, in name order."""
    jobs = []
    for path in sorted(source_dir.rglob("*")):
        if path.is_file() and path.suffix.lower() in CODED.keys() | CAPTURES:
            jobs.append((path, output_dir / path.relative_to(source_dir).with_suffix(".wav")))
    return jobs


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source_dir", type=Path)
    parser.add_argument("output_dir", type=Path)
    parser.add_argument("--scheduler", help="address of a running dask scheduler "
                                            "(default: start a local cluster)")
    parser.add_argument("--workers", type=int, default=None,
                        help="local cluster: worker processes (default: one per processor)")
    args = parser.parse_args(argv)
    if not args.source_dir.is_dir():
        print(f"archive_to_wav: {args.source_dir}: not a folder", file=sys.stderr)
        return 2
    if args.workers is not None and args.workers < 1:
        print("archive_to_wav: --workers: expected 1 or more", file=sys.stderr)
        return 2

    jobs = plan(args.source_dir, args.output_dir)
    seen, skipped, failed = {}, 0, 0
    for src, out in jobs:
        if out in seen:
            print(f"archive_to_wav: {src}: its output {out} is also {seen[out]}'s; skipped",
                  file=sys.stderr)
            skipped += 1
        else:
            seen[out] = src
    jobs = [(s, o) for o, s in seen.items()]

    from dask.distributed import Client, LocalCluster, as_completed

    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = {client.submit(convert, str(s), str(o), pure=False): s for s, o in jobs}
        written = 0
        for future in as_completed(futures):
            try:
                written += len(future.result())
            except Exception as e:  # one file's failure; the others go on
                print(f"archive_to_wav: {futures[future]}: {e}", file=sys.stderr)
                failed += 1
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"archive_to_wav: {len(jobs) - failed} of {len(jobs) + skipped} files converted, "
          f"{written} WAV files written", file=sys.stderr)
    return 1 if failed or skipped else 0


if __name__ == "__main__":
    sys.exit(main())
