"""cihear.Stream against itself, against simulate(live=True), and its input checks."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import cihear
from conftest import speech_like

FS = cihear.OUTPUT_RATE


@pytest.fixture(scope="module")
def x():
    return speech_like(FS, 0.6, seed=3).astype(np.float64) / 32768 * 0.3


def whole(stream, x, sizes):
    """The stream's output for x in blocks of the given sizes (repeated), then its tail."""
    out, at, k = [], 0, 0
    while at < len(x):
        m = sizes[k % len(sizes)]
        out.append(stream.process(x[at : at + m]))
        at, k = at + m, k + 1
    out.append(stream.flush())
    return np.concatenate(out)


@pytest.mark.parametrize(
    "parameters", [{}, {"n_on": 4, "synchronization": 0.3}, {"eas": True, "envelope_detection": 1}]
)
def test_blocks_live_simulation_and_reset_agree(x, parameters):
    stream = cihear.Stream(seed=9, input_gain=1.5, output_gain=1.0, **parameters)
    one = whole(stream, x, [len(x)])
    assert len(one) == len(x) + stream.latency
    assert np.count_nonzero(one) > len(x) // 2
    stream.reset()
    assert np.array_equal(whole(stream, x, [1, 7, 441, 128]), one)
    # Any real dtype is taken as float64.
    single = x.astype(np.float32)
    stream.reset()
    a = whole(stream, single, [300])
    stream.reset()
    assert np.array_equal(a, whole(stream, single.astype(np.float64), [300]))
    default = cihear.Stream(**parameters)
    live = cihear.simulate(x, FS, live=True, **parameters)
    assert np.array_equal(live, whole(default, x, [256]))


def test_latency_and_settings():
    stream = cihear.Stream(n_chan_ci=8, n_inserted_ch=8, n_on=8)
    assert stream.latency == 251
    assert cihear.Stream(synchronization=0).latency == 0  # a noise carrier: no look-ahead
    assert stream.settings["n_inserted_ch"] == 8
    assert stream.process(np.zeros(0)).shape == (0,)
    assert stream.clipped == 0


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"n_on": 99}, ValueError),
        ({"speed": 2}, ValueError),
        ({"rate": "fast"}, TypeError),
        ({"seed": -1}, ValueError),
        ({"seed": 1.5}, TypeError),
        ({"input_gain": float("nan")}, ValueError),
        ({"output_gain": "loud"}, TypeError),
    ],
)
def test_refuses_bad_settings(kwargs, error):
    with pytest.raises(error):
        cihear.Stream(**kwargs)


@pytest.mark.parametrize(
    "block, error",
    [
        (np.array([0.1, np.nan]), ValueError),
        (np.array([np.inf]), ValueError),
        (np.zeros((4, 2)), ValueError),
        (np.array(["a"]), TypeError),
        ("abc", TypeError),
    ],
)
def test_refuses_bad_blocks(block, error):
    with pytest.raises(error):
        cihear.Stream().process(block)


def test_streams_in_threads_give_what_each_gives_alone(x):
    def run(seed):
        return whole(cihear.Stream(seed=seed, synchronization=0.5), x, [64])

    alone = [run(seed) for seed in range(4)]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(run, range(4)))
    for a, b in zip(alone, together):
        assert np.array_equal(a, b)
    assert not np.array_equal(alone[0], alone[1])
