"""Simulations of examples/speech.wav one after another and in a thread pool: the wall time of
each, to show the GIL released during the simulation. Usage (from the build's package folder):
    PYTHONPATH=build/python /usr/bin/python3 python/benchmarks/threads.py [jobs] [workers]"""
import pathlib
import platform
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import soundfile

import cihear


def processor():
    for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def main():
    jobs = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    workers = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    root = pathlib.Path(__file__).resolve().parents[2]
    x, fs = soundfile.read(root / "examples" / "speech.wav", dtype="int16")
    run = lambda seed: cihear.simulate(x, fs, synchronization=0.5, seed=seed)
    run(None)  # warm up
    start = time.perf_counter()
    sequential = [run(s) for s in range(jobs)]
    one = time.perf_counter() - start
    start = time.perf_counter()
    with ThreadPoolExecutor(max_workers=workers) as pool:
        parallel = list(pool.map(run, range(jobs)))
    many = time.perf_counter() - start
    assert all((a == b).all() for a, b in zip(sequential, parallel))
    print(f"{processor()}, {len(x) / fs:.2f} s of speech x {jobs}: sequential {one:.2f} s, "
          f"{workers} threads {many:.2f} s (x{one / many:.2f})")


if __name__ == "__main__":
    main()
