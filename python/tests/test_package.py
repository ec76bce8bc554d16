"""The package's description of itself, the inspection for other tools, the subcommand
dispatcher, and the installed C++ library used from another CMake project."""
import inspect
import pydoc
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import cihear
from cihear import _core
from conftest import tone

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_version_is_the_repositorys():
    assert cihear.__version__ == (ROOT / "VERSION").read_text().strip()


def test_signature_and_help_follow_the_parameter_table():
    signature = inspect.signature(cihear.simulate).parameters
    doc = cihear.simulate.__doc__
    for p in cihear.PARAMETERS:
        assert signature[p["name"]].default == p["default"], p["name"]
        assert signature[p["name"]].kind is inspect.Parameter.KEYWORD_ONLY
        assert f"\n{p['name']} : " in doc and p["summary"][1:] in doc
        if p["unit"]:
            assert f"({p['unit']})" in doc
    assert signature["sample_rate"].default is inspect.Parameter.empty
    assert "2147483643" in doc


def test_simulate_refuses_what_its_signature_does_not_name():
    x = np.zeros(200)
    with pytest.raises(TypeError, match=r"simulate\(\) got an unexpected keyword argument 'bogus'"):
        cihear.simulate(x, 20000, bogus=1)
    with pytest.raises(TypeError, match="positional"):
        cihear.simulate(x, 20000, 1800.0)
    assert "n_on: int = 12" in pydoc.render_doc(cihear.simulate)


def test_describe_and_inspection():
    with pytest.warns(cihear.CascadeWarning, match="n_on changed to n_chan_ci = 8"):
        design = _core.describe(n_chan_ci=8, eas=True, cutoff_freq=1000)
    assert design["settings"]["n_on"] == 8 and design["settings"]["eas"] is True
    bands = design["bands"]
    assert len(bands["low"]) == 8 and bands["low"][0] == pytest.approx(1000)
    np.testing.assert_allclose(bands["high"][:-1], bands["low"][1:])
    assert len(design["analysis_filters"]) == 8 and len(design["acoustic_low_pass"]["a"]) == 3
    x = tone(16000, 0.2)
    plain = cihear.simulate(x, 16000, n_on=4)
    y, seen = _core.simulate(x, 16000, n_on=4, inspect=True, envelopes=True)
    np.testing.assert_array_equal(y, plain)  # looking does not change the output
    channels, frames = seen["electrodogram"].shape
    assert channels == 12 and seen["selected"].dtype == bool
    assert np.all(seen["selected"].sum(axis=0) <= 4)
    assert not np.any(seen["electrodogram"][~seen["selected"]])
    assert seen["frame_starts"].dtype == np.int64 and len(seen["frame_lengths"]) == frames
    assert seen["envelopes"].shape == (12, len(y))
    assert _core.simulate(x, 16000, inspect=True)[1]["envelopes"] is None


def test_subcommand_dispatcher():
    done = subprocess.run([sys.executable, "-m", "cihear", "no_such_thing"],
                          capture_output=True, text=True)
    assert done.returncode == 2 and "unknown subcommand 'no_such_thing'" in done.stderr
    assert done.stderr.count("\n") == 1


CONSUMER = """
#include <cihear/cihear.h>
#include <cmath>
#include <cstdio>
#include <vector>
int main() {
    std::vector<double> x(3200);
    for (size_t i = 0; i < x.size(); i++) x[i] = 0.3 * std::sin(0.2 * i);
    cihear::Result r = cihear::Simulate(x.data(), x.size(), 16000, cihear::ApplyStrict({{"n_on", 5}}).settings);
    long sum = 0;
    for (double v : r.output) sum += cihear::ToPcm16(v);
    std::printf("%s %zu %ld\\n", cihear::Version(), r.output.size(), sum);
}
"""


@pytest.mark.skipif(not shutil.which("cmake") or "CIHEAR_BUILD_DIR" not in os.environ,
                    reason="needs cmake and CIHEAR_BUILD_DIR (the build tree to install)")
def test_installed_library_links_with_find_package(tmp_path):
    prefix = tmp_path / "prefix"
    run = lambda *cmd: subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    run("cmake", "--install", os.environ["CIHEAR_BUILD_DIR"], "--prefix", str(prefix))
    assert (prefix / "bin" / "cihear").exists()
    project = tmp_path / "consumer"
    project.mkdir()
    (project / "main.cpp").write_text(CONSUMER)
    (project / "CMakeLists.txt").write_text(textwrap.dedent("""
        cmake_minimum_required(VERSION 3.18)
        project(consumer CXX)
        find_package(cihear REQUIRED)
        add_executable(consumer main.cpp)
        target_link_libraries(consumer PRIVATE cihear::cihear)
    """))
    run("cmake", "-S", str(project), "-B", str(project / "build"), f"-DCMAKE_PREFIX_PATH={prefix}")
    run("cmake", "--build", str(project / "build"))
    version, count, total = run(str(project / "build" / "consumer")).split()
    x = 0.3 * np.sin(0.2 * np.arange(3200))
    expected = cihear.to_pcm16(cihear.simulate(x, 16000, n_on=5)).astype(np.int64)
    assert (version, int(count), int(total)) == (cihear.__version__, len(expected), expected.sum())
