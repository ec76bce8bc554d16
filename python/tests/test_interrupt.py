"""Ctrl-C during a long simulation stops it within a fraction of a second with KeyboardInterrupt."""
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import cihear

SECONDS = 300  # of input at 44.1 kHz: several seconds of simulation on any machine

CHILD = """
import sys, numpy as np, cihear
x = (np.sin(np.arange({n}) * 0.05) * 8000).astype(np.int16)
call = {call}
print("go", flush=True)
try:
    call()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


@pytest.mark.parametrize("surface", ["simulate", "simulate_file"])
def test_ctrl_c_stops_a_simulation_at_once(surface, tmp_path):
    n = 44100 * SECONDS
    if surface == "simulate":
        call = "lambda: cihear.simulate(x, 44100)"
    else:
        cihear.write_wav16(tmp_path / "long.wav", np.zeros(4, np.int16))  # the writer's bytes...
        with open(tmp_path / "long.wav", "r+b") as f:  # ...relabelled as a long 44.1 kHz file
            samples = (np.sin(np.arange(n) * 0.05) * 8000).astype("<i2").tobytes()
            header = bytearray(f.read(44))
            header[4:8] = (36 + len(samples)).to_bytes(4, "little")
            header[24:28] = (44100).to_bytes(4, "little")
            header[28:32] = (88200).to_bytes(4, "little")
            header[40:44] = len(samples).to_bytes(4, "little")
            f.seek(0)
            f.write(bytes(header) + samples)
        call = f"lambda: cihear.simulate_file({str(tmp_path / 'long.wav')!r}, {str(tmp_path / 'o.wav')!r})"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD.format(n=n, call=call)],
        stdout=subprocess.PIPE, text=True, env=env,
    )
    assert child.stdout.readline().strip() == "go"
    time.sleep(1.0)  # well into the simulation
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=120)
    waited = time.monotonic() - sent
    assert out.strip() == "interrupted"
    assert waited < 1.0, f"{waited:.2f} s after Ctrl-C"  # about 0.2 s on an idle machine
    assert not (tmp_path / "o.wav").exists()
