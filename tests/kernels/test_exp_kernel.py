"""The vector exp kernel of the array path (AVX2) against the C library's
exp, bit for bit and flag for flag, compiled and run as a small native
program (skipped without a C++ compiler or without AVX2); and the kernel's
unrounded value against an exact exponential, so that its rounding test
rests on a bound checked independently of the C library."""

import math
import os
from decimal import Decimal, getcontext
from fractions import Fraction

import pytest

from support.native_checks import build, needs_gxx, run

SAMPLES = os.environ.get("QUARNEL_EXP_SAMPLES", "2000000")
SOURCES = ["tests/kernels/native/exp_check.cpp", "cpp/machine/exp_kernel.cpp",
           "cpp/machine/exp_kernel_avx2.cpp", "cpp/machine/isa.cpp",
           "cpp/machine/vector_kernels.cpp"]

pytestmark = needs_gxx


@pytest.fixture(scope="module")
def exe(tmp_path_factory):
    return build(tmp_path_factory.mktemp("exp") / "exp_check", SOURCES)


def test_kernel_returns_the_c_librarys_bits_and_flags(exe):
    r = run(exe, SAMPLES)
    assert r.returncode == 0, r.stdout + r.stderr
    assert " 0 differences in " in r.stdout and "flags differ in 0 batches and 0 groups" in r.stdout


@pytest.mark.parametrize("seed", ["1", "2"])
def test_unrounded_value_against_exact_exponentials(exe, seed):
    getcontext().prec = 60
    r = run(exe, "dump", "3000", seed)
    assert r.returncode == 0, r.stderr
    worst = Fraction(0)
    for line in r.stdout.splitlines():
        x, rounded, hi, lo = (float.fromhex(t) for t in line.split())
        exact = Fraction(Decimal(x).exp())
        scale = Fraction(rounded) / Fraction(hi)  # 2**m
        error = abs((Fraction(hi) + Fraction(lo)) * scale - exact) / Fraction(math.ulp(rounded))
        worst = max(worst, error)
        # Rounded outside the margin: then it is the correctly rounded value.
        # (Below a power of two the ulp is half as large.)
        ulp = math.ulp(hi) / 2 if lo < 0 and hi == 2.0 ** math.frexp(hi)[1] / 2 else math.ulp(hi)
        if abs(lo) < (0.5 - 1 / 32) * ulp:
            assert rounded == float(exact), x
    assert worst < Fraction(1, 1000), float(worst)
