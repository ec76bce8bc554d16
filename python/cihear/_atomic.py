"""Writing an output file so that an existing one is replaced only by a complete file."""
import os
import secrets
import stat
import struct

import numpy as np

from ._core import OUTPUT_RATE


def write_atomically(path, chunks):
    """Writes the byte strings `chunks` to `path`, replacing an existing file only once the new
    one is complete and on disk: a temporary file in the same folder, fsync, os.replace, fsync
    of the folder. On any failure the temporary file is removed and `path` is as it was.

    Like the command line: an existing file keeps its permissions (a new one gets 0666 less
    the umask), a symbolic link keeps pointing at the replaced file, and what is not a regular
    file (a device, a pipe, a link to nothing yet) is written in place."""
    target = os.fspath(path)
    try:
        mode = os.stat(target).st_mode
    except FileNotFoundError:
        mode = None
    if (mode is not None and not stat.S_ISREG(mode)) or (mode is None and os.path.islink(target)):
        with open(target, "wb") as f:
            for chunk in chunks:
                f.write(chunk)
        return
    if mode is not None:
        target = os.path.realpath(target)
    folder = os.path.dirname(target) or "."
    while True:
        temporary = f"{target}.{secrets.token_hex(4)}"
        try:
            fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            break
        except FileExistsError:
            continue
    try:
        with os.fdopen(fd, "wb") as f:
            if mode is not None:
                os.fchmod(f.fileno(), stat.S_IMODE(mode))
            for chunk in chunks:
                f.write(chunk)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(folder_fd)
    finally:
        os.close(folder_fd)


def wav16_header(count, sample_rate=OUTPUT_RATE):
    """The 44-byte header of a 16-bit mono PCM WAV file of `count` samples."""
    size = 2 * count
    if size > 0xFFFFFFFF - 36:
        raise ValueError(f"{count} samples do not fit a WAV file (at most {(0xFFFFFFFF - 36) // 2})")
    return struct.pack(
        "<4sI4s4sIHHIIHH4sI",
        b"RIFF", 36 + size, b"WAVE",
        b"fmt ", 16, 1, 1, sample_rate, 2 * sample_rate, 2, 16,
        b"data", size,
    )  # fmt: PCM, mono, rate, byte rate, block align, bits per sample


def write_wav16(path, samples, sample_rate=OUTPUT_RATE):
    """Writes int16 `samples` (1-D) as the 16-bit mono WAV file the command line writes (a
    44-byte header, then the samples little-endian), replacing `path` only when the new file is
    complete (see write_atomically)."""
    data = np.asarray(samples)
    if data.dtype != np.int16:
        raise TypeError(f"samples must be int16 (see cihear.to_pcm16), not {data.dtype}")
    if data.ndim != 1:
        raise ValueError(f"samples must be 1-D (mono), not of shape {data.shape}")
    if isinstance(sample_rate, bool) or int(sample_rate) != sample_rate or not 0 < sample_rate < 2**31:
        raise ValueError(f"sample_rate = {sample_rate} is not a whole number of Hz")
    header = wav16_header(len(data), int(sample_rate))
    write_atomically(path, [header, data.astype("<i2", copy=False).tobytes()])
