# SPDX-License-Identifier: BSD-2-Clause
"""examples/python/archive_to_wav.py on a local cluster of two worker processes: a dozen coded
files and captures in a folder tree come out as the tool decodes them; a second run replaces
the outputs whole and leaves the inputs alone; a damaged file fails alone."""

import subprocess
import sys

import numpy as np
import pytest

from conftest import REPO, read_wav

SCRIPT = REPO / "examples" / "python" / "archive_to_wav.py"

pytest.importorskip("distributed")


def make_archive(tool, root):
    speech = REPO / "data" / "speech_sample.wav"
    inputs = []
    for i in range(12):
        folder = root / f"day{i % 3}" / ("calls" if i % 2 else "")
        folder.mkdir(parents=True, exist_ok=True)
        kind = i % 4
        if kind == 0:
            path = folder / f"rec{i}.bit"
            tool("encode", "--dtx", speech, path)
        elif kind == 1:
            path = folder / f"rec{i}.g729"
            tool("encode", "--format", "raw", speech, path)
        elif kind == 2:
            path = folder / f"rec{i}.bit"
            tool("encode", speech, path)
        else:
            path = folder / f"call{i}.pcap"
            tool("encode", "--format", "pcap", "--ssrc", f"{i:x}", "--ptime", "30", speech, path)
        inputs.append(path)
    return inputs


def test_archive_converts_like_the_tool(tool, tmp_path):
    src, out = tmp_path / "archive", tmp_path / "wav"
    inputs = make_archive(tool, src)
    before = {p: p.read_bytes() for p in inputs}
    for run in range(2):  # the second run replaces every output
        r = subprocess.run([sys.executable, str(SCRIPT), str(src), str(out), "--workers", "2"],
                           capture_output=True, text=True, timeout=600)
        assert r.returncode == 0, r.stderr
        assert "12 of 12 files converted" in r.stderr
    for path in inputs:
        rel = path.relative_to(src).with_suffix(".wav")
        expected = tmp_path / "tool" / rel
        expected.parent.mkdir(parents=True, exist_ok=True)
        tool("decode", path, expected)
        got, rate = read_wav(out / rel)
        assert rate == 8000
        np.testing.assert_array_equal(got, read_wav(expected)[0])
        assert path.read_bytes() == before[path]
    assert sorted(p.name for p in out.rglob("*") if p.is_file()) == \
        sorted(p.with_suffix(".wav").name for p in inputs)  # no temporary files left


def test_a_damaged_file_fails_alone(tool, tmp_path):
    src, out = tmp_path / "archive", tmp_path / "wav"
    src.mkdir()
    tool("encode", REPO / "data" / "speech_sample.wav", src / "good.bit")
    (src / "bad.bit").write_bytes(b"\x21\x6b\x50\x00" + b"\x7f\x00" * 3)  # cut inside a frame
    (out).mkdir()
    (out / "bad.wav").write_bytes(b"kept")
    r = subprocess.run([sys.executable, str(SCRIPT), str(src), str(out), "--workers", "1"],
                       capture_output=True, text=True, timeout=600)
    assert r.returncode == 1
    assert "bad.bit" in r.stderr and "1 of 2 files converted" in r.stderr
    assert (out / "bad.wav").read_bytes() == b"kept"
    assert read_wav(out / "good.wav")[0].size > 0
