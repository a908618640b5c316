# SPDX-License-Identifier: BSD-2-Clause
"""The telephone-channel simulation: shape, dtype and alignment at any rate, the loss pattern
it applies (rebuilt here from Encoder, Decoder and loss_pattern), repeatability, the loss
chain's statistics, simulate_many against simulate, and the tool's simulate command."""

import pickle

import numpy as np
import pytest

import g729
from conftest import read_wav, write_wav


def upsample(x8: np.ndarray, rate: int) -> np.ndarray:
    """Speech at `rate` by linear interpolation (a test signal, not a resampler)."""
    n = int(round(x8.size * rate / 8000))
    return np.interp(np.arange(n) * 8000 / rate, np.arange(x8.size), x8.astype(np.float64))


def peak_lag(x: np.ndarray, y: np.ndarray, reach: int) -> int:
    x = x.astype(np.float64)
    y = y.astype(np.float64)
    n = x.size
    values = [np.dot(x[max(0, -k):n - max(0, k)], y[max(0, k):n - max(0, -k)])
              for k in range(-reach, reach + 1)]
    return int(np.argmax(values)) - reach


@pytest.mark.parametrize("rate", [8000, 16000, 22050, 48000])
@pytest.mark.parametrize("dtx", [False, True])
def test_output_has_the_inputs_shape_and_lines_up(speech, rate, dtx):
    x = (upsample(speech, rate) / 32768.0).astype(np.float32)[:-29]  # a partial last frame
    y = g729.simulate(x, rate, dtx=dtx, seed=1)
    assert y.shape == x.shape and y.dtype == np.float32
    # Lag 0 at 8000 Hz; at higher rates within half a sample of 8000 Hz (speech leaves the codec
    # a fraction of a sample early, by a fraction that varies a little with the signal).
    assert abs(peak_lag(x, y, rate // 400)) <= int(0.5 * rate / 8000)
    # Sound to the end: the trailing partial frame is coded, not dropped.
    tail = slice(x.size - rate // 100, x.size)
    assert np.sum(y[tail].astype(float) ** 2) > 0.05 * np.sum(x[tail].astype(float) ** 2)


@pytest.mark.parametrize("dtype", [np.int16, np.float32, np.float64])
@pytest.mark.parametrize("channels", [None, 1, 2, 3])
def test_dtype_and_channels_come_back(speech, dtype, channels):
    mono = upsample(speech[:8000], 11025)
    x = mono if dtype == np.int16 else mono / 32768.0
    if channels is not None:
        x = np.stack([x * (c + 1) / channels for c in range(channels)], axis=1)
    x = np.asarray(x).astype(dtype)
    y = g729.simulate(x, 11025, seed=3)
    assert y.shape == x.shape and y.dtype == x.dtype
    if channels:
        for c in range(1, channels):  # the mono result on every channel
            np.testing.assert_array_equal(y[:, c], y[:, 0])


@pytest.mark.parametrize("ptime_ms", [10, 20, 60])
@pytest.mark.parametrize("loss, burst", [(0.2, 1.0), (0.3, 2.5)])
def test_lost_packets_are_those_of_loss_pattern(speech, ptime_ms, loss, burst):
    x = speech[:8000 + 37]
    n = x.size
    frames = -(-(n + 40) // 80)  # the decoder's output lags by 40 samples
    padded = np.zeros(frames * 80, np.int16)
    padded[:n] = x
    units = g729.Encoder().encode(padded)
    per_packet = ptime_ms // 10
    packets = -(-frames // per_packet)
    lost = g729.loss_pattern(packets, loss, burst, seed=9)
    assert lost.any() and not lost.all()
    for p in np.flatnonzero(lost):
        for f in range(p * per_packet, min(frames, (p + 1) * per_packet)):
            units[f] = None
    expected = g729.Decoder().decode(units)[40:40 + n]
    got = g729.simulate(x, 8000, loss=loss, burst=burst, seed=9, ptime_ms=ptime_ms)
    np.testing.assert_array_equal(got, expected)


def test_same_seed_same_result_and_other_seeds_differ(speech):
    x = upsample(speech, 16000).astype(np.int16)
    a = g729.simulate(x, 16000, loss=0.2, burst=2, seed=42)
    np.testing.assert_array_equal(a, g729.simulate(x, 16000, loss=0.2, burst=2, seed=42))
    assert not np.array_equal(a, g729.simulate(x, 16000, loss=0.2, burst=2, seed=43))
    assert not np.array_equal(g729.simulate(x, 16000, loss=0.2),
                              g729.simulate(x, 16000, loss=0.2))  # seed=None draws one


@pytest.mark.parametrize("loss, burst", [(0.01, 1), (0.05, 1), (0.1, 2), (0.2, 4), (0.4, 1.5),
                                         (0.7, 5)])
def test_loss_pattern_has_the_asked_rate_and_burst_length(loss, burst):
    lost = g729.loss_pattern(100_000, loss, burst, seed=5)
    assert lost.dtype == bool and lost.size == 100_000
    assert abs(lost.mean() - loss) < 0.02
    starts = np.count_nonzero(lost[1:] & ~lost[:-1]) + int(lost[0])
    mean_run = burst / (1 - loss)  # the independent-loss run times the burst ratio
    assert abs(lost.sum() / starts - mean_run) < 0.1 * mean_run
    np.testing.assert_array_equal(lost, g729.loss_pattern(100_000, loss, burst, seed=5))


@pytest.mark.parametrize("seed", range(4))
def test_a_long_clips_losses_are_near_the_asked_share_and_burst(speech, seed):
    # Two minutes in 20 ms packets: the packets simulate() loses are loss_pattern's (above).
    x = np.tile(speech, 10)
    packets = -(-(-(-(x.size + 40) // 80)) // 2)
    assert packets > 5000
    lost = g729.loss_pattern(packets, 0.1, 2.0, seed)
    assert abs(lost.mean() - 0.1) < 0.03
    starts = np.count_nonzero(lost[1:] & ~lost[:-1]) + int(lost[0])
    assert abs(lost.sum() / starts - 2.0 / 0.9) < 0.4


@pytest.mark.parametrize("kwargs, error", [
    ({"loss": -0.1}, ValueError), ({"loss": 1.5}, ValueError), ({"burst": 0.5}, ValueError),
    ({"ptime_ms": 25}, ValueError),
    ({"seed": -1}, ValueError), ({"seed": 1.5}, TypeError),
])
def test_bad_settings_are_refused(kwargs, error):
    with pytest.raises(error):
        g729.simulate(np.zeros(800, np.int16), 8000, **kwargs)


def test_bad_audio_is_refused():
    with pytest.raises(TypeError):
        g729.simulate(np.zeros(800, np.int32), 8000)
    with pytest.raises(ValueError):
        g729.simulate(np.zeros((2, 2, 2), np.float32), 8000)
    with pytest.raises(ValueError):
        g729.simulate(np.zeros(800, np.float32), 0)


def test_simulate_many_equals_simulate_clip_by_clip(speech):
    rng = np.random.default_rng(7)
    clips, seeds = [], []
    for i in range(19):  # more than one group of clips; mixed lengths, dtypes and layouts
        n = int(rng.integers(1000, 30000))
        start = int(rng.integers(0, speech.size - n // 2))
        x = upsample(speech[start:start + n // 2], 16000)[:n]
        if i % 3 == 1:
            x = (x / 32768.0).astype(np.float32)
        elif i % 3 == 2:
            x = np.stack([x, x / 2], axis=1).astype(np.int16)
        else:
            x = x.astype(np.int16)
        clips.append(x)
        seeds.append(None if i == 4 else i * 1000)
    many = g729.simulate_many(clips, 16000, loss=0.1, burst=2, dtx=True, seed=seeds, ptime_ms=30)
    for i, (clip, got) in enumerate(zip(clips, many)):
        if seeds[i] is None:
            assert got.shape == clip.shape
            continue
        np.testing.assert_array_equal(got, g729.simulate(clip, 16000, loss=0.1, burst=2, dtx=True,
                                                         seed=seeds[i], ptime_ms=30))
    one_seed = g729.simulate_many(clips[:3], 16000, loss=0.3, seed=5, threads=2)
    for clip, got in zip(clips[:3], one_seed):
        np.testing.assert_array_equal(got, g729.simulate(clip, 16000, loss=0.3, seed=5))
    with pytest.raises(ValueError):
        g729.simulate_many(clips[:3], 16000, seed=[1, 2])
    assert g729.simulate_many([], 16000) == []


def test_results_pickle(speech):
    y = g729.simulate(speech[:4000], 8000, loss=0.1, seed=2)
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(y)), y)


@pytest.mark.parametrize("channels", [1, 2])
def test_tool_simulate_gives_the_same_samples(tool, speech, tmp_path, channels):
    x = upsample(speech[:12000], 16000).astype(np.int16)
    if channels == 2:
        x = np.stack([x, (x // 3).astype(np.int16)], axis=1)
    write_wav(tmp_path / "in.wav", x, 16000)
    tool("simulate", tmp_path / "in.wav", tmp_path / "out.wav", "--loss", "0.1", "--burst", "2",
         "--dtx", "--seed", "77", "--ptime", "40")
    got, rate = read_wav(tmp_path / "out.wav")
    assert rate == 16000
    np.testing.assert_array_equal(got, g729.simulate(x, 16000, loss=0.1, burst=2, dtx=True, seed=77,
                                                     ptime_ms=40))


def test_tool_simulate_refuses_and_keeps_files(tool, tmp_path):
    write_wav(tmp_path / "in.wav", np.zeros(800, np.int16), 8000)
    (tmp_path / "keep.wav").write_bytes(b"precious")
    for args, status in [(["--loss", "2"], 2), (["--ptime", "15"], 2), (["--seed", "x"], 2)]:
        r = tool("simulate", tmp_path / "in.wav", tmp_path / "keep.wav", *args, check=False)
        assert r.returncode == status and r.stderr.count("\n") == 1, r.stderr
    r = tool("simulate", tmp_path / "in.wav", tmp_path / "in.wav", check=False)
    assert r.returncode == 1
    (tmp_path / "bad.wav").write_bytes(b"not audio at all")
    r = tool("simulate", tmp_path / "bad.wav", tmp_path / "keep.wav", check=False)
    assert r.returncode == 1 and r.stderr.startswith("g729: ")
    assert (tmp_path / "keep.wav").read_bytes() == b"precious"
    assert len(read_wav(tmp_path / "in.wav")[0]) == 800
