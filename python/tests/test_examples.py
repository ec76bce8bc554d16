"""The examples of the README and of the docstrings that set a level run as written on the
bundled speech, and the headroom they describe holds."""
import inspect
import math
import pathlib
import textwrap

import numpy as np
import pytest
import soundfile

import cihear

ROOT = pathlib.Path(__file__).resolve().parents[2]
SPEECH = ROOT / "examples" / "speech.wav"


def code_blocks(text):
    """The runs of lines indented by 4 spaces or more that are Python, dedented."""
    blocks, run = [], []
    for line in text.splitlines() + [""]:
        if line.startswith("    ") and line.strip():
            run.append(line)
            continue
        if run:
            code = textwrap.dedent("\n".join(run))
            try:
                compile(code, "<example>", "exec")
                blocks.append(code)
            except SyntaxError:
                pass  # prose, shell or another language
            run = []
    return blocks


def documented():
    texts = [("README.md", (ROOT / "README.md").read_text())]
    for name in ("cihear", "simulate", "simulate_file", "analyze", "report", "batch"):
        thing = cihear if name == "cihear" else getattr(cihear, name)
        texts.append((name, inspect.getdoc(thing) or ""))
    return [(where, code) for where, text in texts for code in code_blocks(text)
            if "level" in code]


EXAMPLES = documented()


def test_the_examples_are_found():
    places = [where for where, _ in EXAMPLES]
    assert "README.md" in places and "cihear" in places and "simulate" in places


@pytest.mark.parametrize("where, code", EXAMPLES, ids=[w for w, _ in EXAMPLES])
def test_example_runs_as_written(where, code, tmp_path, monkeypatch):
    (tmp_path / "examples").symlink_to(SPEECH.parent)
    monkeypatch.chdir(tmp_path)
    exec(code, {"cihear": cihear, "soundfile": soundfile})  # the README's blocks share imports
    for written in tmp_path.glob("*.wav"):
        assert soundfile.info(written).samplerate == cihear.OUTPUT_RATE


def crest_db(y):
    return 20 * math.log10(np.max(np.abs(y)) / math.sqrt(np.mean(np.square(y))))


def test_the_headroom_the_texts_describe():
    x, fs = soundfile.read(SPEECH, dtype="int16")
    assert 18 < crest_db(x / 32768) < 20  # "19 dB for the speech itself"
    settings = [{}, {"n_on": 8}, {"n_on": 4}, {"synchronization": 0}, {"envelope_detection": 1},
                {"rate": 900}, {"freq_shift": True, "n_inserted_ch": 8, "n_on": 8}]
    crests = [crest_db(cihear.simulate(x, fs, **s)) for s in settings]
    assert all(20 <= c <= 27.5 for c in crests), crests  # "20 to 27 dB"
    # Matching the input's RMS clips; -30 dBFS fits at every one of these settings.
    with pytest.raises(ValueError, match="the input's RMS .* would clip"):
        cihear.simulate(x, fs, n_on=8, level="rms")
    for s in settings:
        cihear.simulate(x, fs, level=-30, **s)
