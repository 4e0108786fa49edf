"""The vector sine and cosine of the array path against the C library,
bit for bit, compiled and run as a small native program (skipped without a
C++ compiler or without AVX-512)."""

import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.environ.get("QUARNEL_SINCOS_SAMPLES", "2000000")


@pytest.mark.skipif(sys.platform != "linux" or not shutil.which("g++"), reason="needs g++ on Linux")
def test_kernel_returns_the_c_librarys_bits(tmp_path):
    exe = tmp_path / "sincos_check"
    subprocess.run(
        ["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-I", os.path.join(ROOT, "src"),
         os.path.join(ROOT, "tests", "native", "sincos_check.cpp"),
         os.path.join(ROOT, "src", "quarnel", "values", "sincos_kernel.cpp"), "-o", str(exe), "-lm"],
        check=True)
    run = subprocess.run([str(exe), SAMPLES], capture_output=True, text=True)
    if run.returncode == 77:
        pytest.skip("this machine has no AVX-512")
    assert run.returncode == 0, run.stdout + run.stderr
