# SPDX-License-Identifier: BSD-2-Clause
# Builds the extension g729._g729 with CMake (python/CMakeLists.txt) from the codec's source tree
# one folder up, or G729_SOURCE_DIR. Extra CMake arguments: CMAKE_ARGS; parallel jobs:
# CMAKE_BUILD_PARALLEL_LEVEL (default: the processor count).
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("G729_SOURCE_DIR", HERE.parent)).resolve()


def library_version() -> str:
    header = (SOURCE / "include" / "g729" / "g729.h").read_text()
    parts = [re.search(rf"^#define G729_VERSION_{p} (\d+)$", header, re.M).group(1)
             for p in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(HERE), "-B", str(build_dir),
                     "-DCMAKE_BUILD_TYPE=Release", f"-DG729_SOURCE_DIR={SOURCE}",
                     f"-DPython_EXECUTABLE={sys.executable}",
                     f"-DG729_PYTHON_OUTPUT_DIR={build_dir / 'out'}"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
                          "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        configure += os.environ.get("CMAKE_ARGS", "").split()
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_g729", "-j", jobs],
                       check=True)
        built = list((build_dir / "out").glob("_g729*.so"))
        if len(built) != 1:
            raise RuntimeError(f"expected one built module in {build_dir / 'out'}, found {built}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    version=library_version(),
    ext_modules=[Extension("g729._g729", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
