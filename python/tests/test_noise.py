"""The carrier noise: the command line's sequence without a seed, another one per seed, and
simulations in threads that do not disturb each other."""
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import cihear
from conftest import speech_like, wav_samples

# synchronization below 1 blends noise into the carrier, so the seed shows in the output.
NOISY = {"synchronization": 0.2, "n_on": 6}
X = speech_like(16000, 0.4, 7)


def test_without_seed_every_call_draws_the_command_lines_sequence(run_cli):
    first = cihear.simulate(X, 16000, **NOISY)
    np.testing.assert_array_equal(cihear.simulate(X, 16000, **NOISY), first)
    np.testing.assert_array_equal(cihear.to_pcm16(first), wav_samples(run_cli(X, 16000, NOISY)))


def test_seeds_are_reproducible_and_distinct():
    unseeded = cihear.simulate(X, 16000, **NOISY)
    a = cihear.simulate(X, 16000, seed=1, **NOISY)
    np.testing.assert_array_equal(cihear.simulate(X, 16000, seed=1, **NOISY), a)
    b = cihear.simulate(X, 16000, seed=cihear.MAX_SEED, **NOISY)
    assert not np.array_equal(a, b)
    assert not np.array_equal(a, unseeded)


def test_threads_give_the_sequential_results():
    jobs = [dict(NOISY, seed=s) for s in (None, 3, 4, None)] + [{"eas": True}, {"rate": 700}]
    sequential = [cihear.simulate(X, 16000, **job) for job in jobs]
    with ThreadPoolExecutor(max_workers=4) as pool:
        parallel = list(pool.map(lambda job: cihear.simulate(X, 16000, **job), jobs * 2))
    for got, expected in zip(parallel, sequential * 2):
        np.testing.assert_array_equal(got, expected)


def test_python_runs_while_a_simulation_does():
    # With the GIL held through the simulation this thread would stand still for most of it.
    long_input = speech_like(16000, 4.0, 8)
    worker = threading.Thread(target=cihear.simulate, args=(long_input, 16000))
    start = last = time.perf_counter()
    longest_pause = 0.0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        longest_pause = max(longest_pause, now - last)
        last = now
    worker.join()
    assert longest_pause < 0.5 * (last - start)
