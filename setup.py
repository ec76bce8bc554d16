"""Builds cihear._core with the project's CMake description (python/CMakeLists.txt), the same
sources and flags as the executable, and puts it into the package."""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
# Everything the build makes goes under build-python (ignored by git), the metadata included.
BUILD = "build-python"
os.makedirs(BUILD, exist_ok=True)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.run(
            ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DCIHEAR_TESTS=OFF",
             f"-DPYTHON_EXECUTABLE={sys.executable}"],
            check=True,
        )
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build, "--target", "_core", "-j", jobs], check=True)
        built = os.path.join(build, "python", "cihear", os.path.basename(self.get_ext_fullpath(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(
    ext_modules=[Extension("cihear._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD}, "egg_info": {"egg_base": BUILD}},
)
