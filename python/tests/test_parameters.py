"""Parameters the strict front ends refuse or warn of: bools taken for numbers, numbers read
from text, and settings that do not do what they seem to."""
import subprocess
import sys
import warnings

import numpy as np
import pytest

import cihear
from cihear import _core

X = np.zeros(2000)
NUMBERS = [p["name"] for p in cihear.PARAMETERS if p["kind"] in ("real", "count")]
SWITCHES = [p["name"] for p in cihear.PARAMETERS if p["kind"] == "switch"]


@pytest.mark.parametrize("name", NUMBERS)
@pytest.mark.parametrize("value", [True, False, np.bool_(True)])
def test_a_bool_is_not_a_number(name, value):
    for call in (lambda: cihear.simulate(X, 20000, **{name: value}),
                 lambda: cihear.report(**{name: value}),
                 lambda: _core.describe(**{name: value})):
        with pytest.raises(TypeError, match=f"^{name} must be a number, not a bool"):
            call()


@pytest.mark.parametrize("name", SWITCHES)
def test_a_switch_takes_a_bool(name):
    for on in (True, np.bool_(True), 1, False):
        assert cihear.report(**{name: on})["parameters"][name]["value"] is bool(on)


def report_command(*args):
    return subprocess.run([sys.executable, "-m", "cihear", "report", *args],
                          capture_output=True, text=True)


@pytest.mark.parametrize("args, words", [
    (["--n_on", "1_2"], "argument --n_on: '1_2' is not a number"),
    (["--rate", "9_00.5"], "argument --rate/-r: '9_00.5' is not a number"),
    (["--rate", "\u0669\u0660\u0660"], "is not a number"),  # Arabic-Indic 900
    (["--seed", "1_2"], "argument --seed: '1_2' is not a whole number"),
    (["--seed", "3.0"], "argument --seed: '3.0' is not a whole number"),
])
def test_numbers_written_as_python_reads_them_are_refused(args, words):
    done = report_command(*args)
    assert done.returncode == 2 and words in done.stderr and done.stderr.count("\n") == 1


def test_numbers_written_for_the_program_are_read():
    done = report_command("--rate", "9e2", "--n_on", "+6", "--interact_decay", ".5", "--seed", "7",
                          "--json")
    assert done.returncode == 0, done.stderr
    assert done.stdout == report_command("--rate", "900", "--n_on", "6", "--interact_decay",
                                         "0.5", "--seed", "7", "--json").stdout


def warnings_of(**parameters):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        cihear.simulate(X, 20000, **parameters)
    assert all(w.category is cihear.CascadeWarning for w in caught)
    return [str(w.message) for w in caught]


RAISED = ("f_max raised to cutoff_freq = 2000 Hz although eas is off; set cutoff_freq to use a "
          "lower f_max")


@pytest.mark.parametrize("parameters, expected", [
    ({"f_max": 1000}, [RAISED]),
    ({"f_max": 1000, "eas": True}, ["f_max raised from 1000 to 2000 to stay above cutoff_freq"]),
    ({"f_max": 1000, "cutoff_freq": 900}, []),
    ({"n_chan_ci": 22}, ["22 electrodes, 12 inserted: set n_inserted_ch (up to 22) to simulate "
                         "more than 12 channels"]),
    ({"n_chan_ci": 22, "n_inserted_ch": 16}, []),
    ({"n_inserted_ch": 8, "n_on": 8}, []),  # a partial insertion, as intended
    ({}, []),
])
def test_warnings_of_settings_that_do_not_do_what_they_seem(parameters, expected):
    assert warnings_of(**parameters) == expected
    assert [w for w in cihear.report(**parameters)["warnings"] if w in expected] == expected
