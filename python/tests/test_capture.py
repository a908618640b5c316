# SPDX-License-Identifier: BSD-2-Clause
"""read_capture against `g729 decode --format pcap`: the same samples and the same figures as
the tool's JSON, for clean, damaged and two-stream captures; the SSRC filter; pickling; and
errors."""

import json
import pickle

import numpy as np
import pytest

import g729
from conftest import REPO, read_wav


def make_capture(tool, tmp_path, name, ssrc, *extra):
    path = tmp_path / name
    tool("encode", "--format", "pcap", "--ssrc", f"{ssrc:x}", *extra,
         REPO / "data" / "speech_sample.wav", path)
    return path


def two_stream_capture(tool, tmp_path):
    """Two captures' packets in one classic pcap file (the second's records after the first's)."""
    a = make_capture(tool, tmp_path, "a.pcap", 0xA1, "--src", "10.0.0.1:4000", "--dst", "10.0.0.2:5000")
    b = make_capture(tool, tmp_path, "b.pcap", 0xB2, "--dtx", "--ptime", "40",
                     "--src", "10.0.0.2:5000", "--dst", "10.0.0.1:4000")
    both = tmp_path / "both.pcap"
    both.write_bytes(a.read_bytes() + b.read_bytes()[24:])
    return both


def tool_streams(tool, tmp_path, capture):
    """The tool's decoded samples and JSON figures, in stream order."""
    out = tmp_path / "tool-out.wav"
    tool("decode", "--format", "pcap", capture, out, "--json", tmp_path / "figures.json")
    figures = json.loads((tmp_path / "figures.json").read_text())
    if len(figures) == 1:
        files = [out]
    else:
        files = [tmp_path / f"tool-out-{f['ssrc']}.wav" for f in figures]
    return [read_wav(f)[0] for f in files], figures


@pytest.mark.parametrize("kind", ["clean", "damaged", "two streams"])
def test_streams_equal_the_tools(tool, tmp_path, kind):
    if kind == "two streams":
        capture = two_stream_capture(tool, tmp_path)
    else:
        capture = make_capture(tool, tmp_path, "c.pcap", 0xC0FFEE, "--dtx")
        if kind == "damaged":
            impair = tool.path.parent / "g729_capture_impair"
            if not impair.exists():
                pytest.skip("no g729_capture_impair beside the tool")
            import subprocess
            subprocess.run([str(impair), str(capture), str(tmp_path / "bad.pcap"), "--drop", "8",
                            "--reorder", "6", "--duplicate", "4", "--seed", "3"],
                           check=True, capture_output=True)
            capture = tmp_path / "bad.pcap"
    samples, figures = tool_streams(tool, tmp_path, capture)
    streams = g729.read_capture(capture)
    assert len(streams) == len(figures) == (2 if kind == "two streams" else 1)
    for stream, expected, fig in zip(streams, samples, figures):
        assert stream.rate == 8000 and stream.samples.dtype == np.int16
        np.testing.assert_array_equal(stream.samples, expected)
        assert stream.stats == fig
        assert f"{stream.ssrc:08x}" == fig["ssrc"]
        assert (stream.src, stream.dst) == (fig["src"], fig["dst"])
    if kind == "damaged":
        assert streams[0].stats["lost"] > 0 and streams[0].stats["duplicates"] > 0


def test_ssrc_picks_one_stream(tool, tmp_path):
    capture = two_stream_capture(tool, tmp_path)
    [b] = g729.read_capture(capture, ssrc=0xB2)
    assert b.ssrc == 0xB2 and b.src == "10.0.0.2:5000" and b.dst == "10.0.0.1:4000"
    np.testing.assert_array_equal(b.samples, g729.read_capture(capture)[1].samples)
    assert g729.read_capture(capture, ssrc=0x1234) == []


def test_stream_pickles(tool, tmp_path):
    [s] = g729.read_capture(make_capture(tool, tmp_path, "c.pcap", 0x5))
    t = pickle.loads(pickle.dumps(s))
    assert (t.ssrc, t.src, t.dst, t.rate, t.stats) == (s.ssrc, s.src, s.dst, s.rate, s.stats)
    np.testing.assert_array_equal(t.samples, s.samples)


def test_bad_inputs_raise(tmp_path):
    with pytest.raises(OSError):
        g729.read_capture(tmp_path / "missing.pcap")
    (tmp_path / "x.pcap").write_bytes(b"this is no capture file at all")
    with pytest.raises(ValueError):
        g729.read_capture(tmp_path / "x.pcap")
    with pytest.raises(ValueError):
        g729.read_capture(tmp_path / "x.pcap", ssrc=-1)
