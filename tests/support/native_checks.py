"""Building and running the native check programs of the vector kernels
(tests/native/*_check.cpp) with the kernels' sources, as the module builds
them: no instruction-set flags, each kernel carries its own."""

import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Kernel tests need g++ on Linux; mark a module with it.
needs_gxx = pytest.mark.skipif(sys.platform != "linux" or not shutil.which("g++"), reason="needs g++ on Linux")


def build(out, sources, *defines):
    """Compiles `sources` (paths from the project's root) into `out`."""
    subprocess.run(["g++", "-std=c++20", "-O2", "-ffp-contract=off", *defines, "-I", os.path.join(ROOT, "cpp"),
                    *(os.path.join(ROOT, s) for s in sources), "-o", str(out), "-lm"], check=True)
    return str(out)


def run(exe, *args, what="the kernel"):
    """Runs a check program; skips where the processor runs no kernel (77)."""
    r = subprocess.run([str(exe), *args], capture_output=True, text=True)
    if r.returncode == 77:
        pytest.skip(f"this machine does not run {what} (no AVX2)")
    return r
