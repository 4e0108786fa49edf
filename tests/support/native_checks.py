"""Building and running the native check programs of the vector kernels
(tests/native/*_check.cpp) with the kernels' sources, as the module builds
them: no instruction-set flags, each kernel carries its own."""

import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The compiler: g++, or the one QUARNEL_CHECK_CXX names (scripts/clang-check.sh
# sets clang++). Kernel tests need it on Linux; mark a module with it.
CXX = os.environ.get("QUARNEL_CHECK_CXX", "g++")
needs_gxx = pytest.mark.skipif(sys.platform != "linux" or not shutil.which(CXX), reason=f"needs {CXX} on Linux")


def build(out, sources, *defines):
    """Compiles `sources` (paths from the project's root) into `out`."""
    # clang's flags as CMake gives them (CMakeLists.txt).
    clang = ["-ffp-exception-behavior=maytrap"] if "clang" in os.path.basename(CXX) else []
    subprocess.run([CXX, "-std=c++20", "-O2", "-ffp-contract=off", *clang, *defines, "-I", os.path.join(ROOT, "cpp"),
                    *(os.path.join(ROOT, s) for s in sources), "-o", str(out), "-lm"], check=True)
    return str(out)


def run(exe, *args, what="the kernel"):
    """Runs a check program; skips where the processor runs no kernel (77)."""
    r = subprocess.run([str(exe), *args], capture_output=True, text=True)
    if r.returncode == 77:
        pytest.skip(f"this machine does not run {what} (no AVX2)")
    return r
