"""cihear.simulate_file: a sound file through the simulation to a 16-bit WAV file."""
import os
import stat

from . import _core
from ._atomic import fs_path, write_wav16
from ._level import LEVEL_DOC, apply_level, level_name, saturate, target_rms
from ._simulate import _OPTIONS, run

# What a file starts with when it is a RIFF form (little- or big-endian): the program's own
# reader judges it.
_RIFF = (b"RIFF", b"RIFX")


def _kind(st):
    for test, name in (
        (stat.S_ISDIR, "a folder"),
        (stat.S_ISFIFO, "a FIFO"),
        (stat.S_ISSOCK, "a socket"),
        (stat.S_ISCHR, "a character device"),
    ):
        if test(st.st_mode):
            return name
    return "not a regular file"


def _open_checked(path):
    """The path's bytes and its first four bytes, after refusing at once (without waiting in
    open()) anything that is not a regular file or a block device."""
    target = fs_path(path)
    st = os.stat(target)
    if not (stat.S_ISREG(st.st_mode) or stat.S_ISBLK(st.st_mode)):
        raise ValueError(f"{os.fsdecode(target)}: could not open file: it is {_kind(st)}")
    with open(target, "rb") as f:
        return target, f.read(4)


def _read_other(target):
    import soundfile  # only files the program does not read need it

    with open(target, "rb") as f:
        info = soundfile.info(f)
        if info.channels not in (1, 2):
            raise ValueError(
                f"{os.fsdecode(target)}: unsupported number of channels ({info.channels}); "
                "only mono and stereo are supported"
            )
        f.seek(0)
        dtype = "int16" if info.subtype == "PCM_16" else "float64"
        return soundfile.read(f, dtype=dtype, always_2d=False)


def read_signal(path):
    """The samples of a sound file and its sample rate. A RIFF/WAVE file of 16-bit samples is
    read by the command line's own reader (the same files taken, the same refusals with its
    words), as float64 mono (v / 32768); other files and encodings by libsndfile, 16-bit PCM
    as int16, everything else as float64."""
    target, magic = _open_checked(path)
    read = _core.read_wav(target) if magic in _RIFF else None
    return read if read is not None else _read_other(target)


def simulate_file(input_path, output_path, *, level="peak", clip_ok=False, **parameters):
    target, magic = _open_checked(input_path)
    output = fs_path(output_path)
    seed = parameters.pop("seed", None)
    y = None
    if magic in _RIFF and not (isinstance(level, str) and level == "rms"):
        # The file goes to the engine's block loader as the command line's does: only the
        # converted signal is held. (The input's RMS needs its samples: read_signal below.)
        for name in parameters:
            if name in _OPTIONS:
                raise TypeError(f"unexpected keyword argument '{name}'")
        wanted = target_rms(level, None)
        y = _core.simulate_wav(target, seed=seed, stacklevel=2, **parameters)
        if y is not None:
            y = apply_level(y, wanted, clip_ok, lambda: level_name(level, wanted))
    if y is None:  # another format, or samples that are not 16-bit PCM
        try:
            signal, sample_rate = read_signal(target)
        except RuntimeError as e:  # soundfile.LibsndfileError: not a format it reads
            why = getattr(e, "error_string", "") or str(e)
            raise ValueError(f"{os.fsdecode(target)}: could not open file: {why}") from None
        y = run(signal, sample_rate, parameters, seed, level, clip_ok, stacklevel=2)
    if not (isinstance(level, str) and level == "peak"):
        y = saturate(y)
    write_wav16(output, _core.to_pcm16(y))


simulate_file.__doc__ = f"""Simulates a sound file and writes the 16-bit mono {_core.OUTPUT_RATE} Hz WAV file.

The input is anything libsndfile reads (WAV, FLAC, OGG, ...), mono or stereo. A RIFF/WAVE
file of 16-bit samples is read by the command line's own reader, a block at a time into the
conversion to {_core.OUTPUT_RATE} Hz: the same files are taken and the same ones refused with
the command line's words (a ValueError naming the file), and the output file's bytes equal
those `cihear -i input_path -o output_path` writes with the same parameters. Other formats,
16-bit PCM in them included, and other encodings are read by libsndfile (16-bit PCM as the
command line takes it, other encodings as float64). Anything but a regular file (a FIFO, a
folder) is refused at once. An existing output file is replaced only by a complete one, and
left as it was when anything fails.

Parameters
----------
input_path, output_path : str, bytes or os.PathLike
{LEVEL_DOC}
**parameters
    The simulation parameters and seed, as cihear.simulate takes them (see its help).
"""
