# SPDX-License-Identifier: BSD-2-Clause
"""The batch form's --quiet on a terminal: no progress line and no summary, while a failed file
is still named; without --quiet the summary comes."""

import os
import pty
import subprocess

import pytest

from conftest import REPO, read_wav, write_wav


def run_on_terminal(tool, args):
    """Status and what the tool wrote to its terminal's standard error."""
    leader, follower = pty.openpty()
    try:
        proc = subprocess.Popen([str(tool.path), *map(str, args)], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=follower)
        os.close(follower)
        chunks = []
        while True:
            try:
                data = os.read(leader, 4096)
            except OSError:  # the terminal closed with the process
                break
            if not data:
                break
            chunks.append(data)
        return proc.wait(timeout=120), b"".join(chunks).decode(errors="replace")
    finally:
        os.close(leader)


@pytest.mark.parametrize("command", ["encode", "decode"])
def test_quiet_leaves_out_progress_and_summary(tool, tmp_path, command):
    speech = tmp_path / "whole.wav"  # whole frames: no warning about a partial one
    samples, _ = read_wav(REPO / "data" / "speech_sample.wav")
    write_wav(speech, samples[: samples.size // 80 * 80], 8000)
    if command == "encode":
        inputs = [speech]
    else:
        tool("encode", speech, tmp_path / "a.bit")
        inputs = [tmp_path / "a.bit"]
    status, loud = run_on_terminal(tool, [command, "--output-dir", tmp_path / "o1", *inputs])
    assert status == 0 and "of 1 files" in loud
    status, quiet = run_on_terminal(tool, [command, "--quiet", "--output-dir", tmp_path / "o2",
                                           *inputs])
    assert status == 0 and quiet == ""
    status, failed = run_on_terminal(tool, [command, "--quiet", "--output-dir", tmp_path / "o3",
                                            *inputs, tmp_path / "missing.wav"])
    assert status == 1 and "missing.wav" in failed and "files" not in failed


def test_quiet_needs_the_batch_form(tool, tmp_path):
    r = tool("encode", "--quiet", REPO / "data" / "speech_sample.wav", tmp_path / "x.bit", check=False)
    assert r.returncode == 2 and "--quiet needs --output-dir" in r.stderr
