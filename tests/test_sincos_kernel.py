"""The vector sine and cosine kernels of the array path (AVX-512 and AVX2)
against the C library, bit for bit, compiled and run as a small native
program that checks every kernel the processor runs (skipped without a C++
compiler or without AVX2)."""

import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.environ.get("QUARNEL_SINCOS_SAMPLES", "2000000")
SOURCES = ["tests/native/sincos_check.cpp", "src/quarnel/machine/sincos_kernel.cpp",
           "src/quarnel/machine/sincos_kernel_avx2.cpp", "src/quarnel/machine/isa.cpp"]


@pytest.mark.skipif(sys.platform != "linux" or not shutil.which("g++"), reason="needs g++ on Linux")
def test_kernels_return_the_c_librarys_bits(tmp_path):
    exe = tmp_path / "sincos_check"
    # No instruction-set flags: each kernel carries its own, as in the module.
    subprocess.run(["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-I", os.path.join(ROOT, "src"),
                    *(os.path.join(ROOT, s) for s in SOURCES), "-o", str(exe), "-lm"], check=True)
    run = subprocess.run([str(exe), SAMPLES], capture_output=True, text=True)
    if run.returncode == 77:
        pytest.skip("this machine runs neither kernel (no AVX2)")
    assert run.returncode == 0, run.stdout + run.stderr
    # Every kernel the processor runs was checked.
    flags = open("/proc/cpuinfo").read()
    expected = [name for name, needs in (("avx512", ("avx512f", "avx512dq")), ("avx2", ("avx2", "fma")))
                if all(f" {n} " in flags or f" {n}\n" in flags for n in needs)]
    checked = [line.split(":")[0] for line in run.stdout.splitlines() if " differences in " in line]
    assert checked == expected, run.stdout
