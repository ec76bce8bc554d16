"""Writing an output file so that an existing one is replaced only by a complete file."""
import errno
import os

import numpy as np

from . import _core


def fs_path(path):
    """`path` (str, bytes or os.PathLike) as the bytes the system takes: names that are not
    UTF-8 pass unchanged, and an embedded NUL is the ValueError Python's open() gives."""
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte")
    return encoded


def _too_long(target):
    """Why `target` (bytes) cannot be a file name on its file system, or None."""
    folder = os.path.dirname(os.path.abspath(target)) or b"/"
    try:
        name_max = os.pathconf(folder, "PC_NAME_MAX")
        path_max = os.pathconf(folder, "PC_PATH_MAX")
    except (OSError, ValueError):
        return None
    name = os.path.basename(target)
    if len(name) > name_max:
        return f"the name is too long ({len(name)} bytes; at most {name_max})"
    if len(os.path.abspath(target)) >= path_max:
        return f"the path is too long ({len(os.path.abspath(target))} bytes; under {path_max})"
    return None


def write_wav16(path, samples):
    """Writes int16 `samples` (1-D) as the 16-bit mono WAV file at OUTPUT_RATE Hz that the command
    line writes (the same bytes, through the same writer): an existing file is replaced only
    once the new one is complete and on stable storage; on failure nothing is left behind."""
    target = fs_path(path)
    data = np.asarray(samples)
    if data.dtype != np.int16:
        raise TypeError(f"samples must be int16 (see cihear.to_pcm16), not {data.dtype}")
    if data.ndim != 1:
        raise ValueError(f"samples must be 1-D (mono), not of shape {data.shape}")
    why = _core.write_wav16(target, data)
    if why:
        shown = os.fsdecode(target)
        folder = os.path.dirname(os.path.abspath(target))
        if not os.path.isdir(folder):
            raise FileNotFoundError(
                errno.ENOENT, f"{why}: no folder {os.fsdecode(folder)}", shown
            )
        too_long = _too_long(target)
        if too_long:
            raise OSError(errno.ENAMETOOLONG, f"{why}: {too_long}", shown)
        raise OSError(f"{why}: {shown}")
