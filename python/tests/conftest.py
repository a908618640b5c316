# SPDX-License-Identifier: BSD-2-Clause
"""Shared fixtures: the repository, the built g729 tool (G729_TOOL, else build/bin/g729 of the
repository), the project's speech recording, and WAV helpers."""

import os
import subprocess
import wave
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]


def tool_path() -> Path:
    return Path(os.environ.get("G729_TOOL", REPO / "build" / "bin" / "g729"))


@pytest.fixture(scope="session")
def tool():
    """Runs the g729 tool; returns the completed process (fails the test on a non-zero status
    unless check=False)."""
    path = tool_path()
    if not path.exists():
        pytest.skip(f"no g729 tool at {path} (set G729_TOOL)")

    def run(*args, check=True, **kwargs):
        r = subprocess.run([str(path), *map(str, args)], capture_output=True, text=True, **kwargs)
        if check and r.returncode != 0:
            raise AssertionError(f"g729 {' '.join(map(str, args))}: status {r.returncode}: {r.stderr}")
        return r

    run.path = path
    return run


def read_wav(path):
    """(samples as int16 of shape (n,) or (n, channels), rate)."""
    with wave.open(str(path), "rb") as w:
        assert w.getsampwidth() == 2
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int16)
        ch = w.getnchannels()
        return (data if ch == 1 else data.reshape(-1, ch)), w.getframerate()


def write_wav(path, samples, rate):
    a = np.asarray(samples, dtype=np.int16)
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1 if a.ndim == 1 else a.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(a.astype("<i2").tobytes())


@pytest.fixture(scope="session")
def speech():
    samples, rate = read_wav(REPO / "data" / "speech_sample.wav")
    assert rate == 8000 and samples.ndim == 1
    return samples
