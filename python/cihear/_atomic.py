"""Writing an output file so that an existing one is replaced only by a complete file."""
import errno
import os

import numpy as np

from . import _core


def write_wav16(path, samples):
    """Writes int16 `samples` (1-D) as the 16-bit mono WAV file at OUTPUT_RATE Hz that the command
    line writes (the same bytes, through the same writer): an existing file is replaced only
    once the new one is complete and on stable storage; on failure nothing is left behind."""
    data = np.asarray(samples)
    if data.dtype != np.int16:
        raise TypeError(f"samples must be int16 (see cihear.to_pcm16), not {data.dtype}")
    if data.ndim != 1:
        raise ValueError(f"samples must be 1-D (mono), not of shape {data.shape}")
    target = os.fspath(path)
    why = _core.write_wav16(target, data)
    if why:
        folder = os.path.dirname(os.path.abspath(target))
        if not os.path.isdir(folder):
            raise FileNotFoundError(errno.ENOENT, f"{why}: no folder {folder}", target)
        raise OSError(f"{why}: {target}")
