"""The vector pow kernel of the array path (AVX2) against the C library's
pow, bit for bit and flag for flag, compiled and run as a small native
program (skipped without a C++ compiler or without AVX2); and the kernel's
unrounded value against exact powers, so that its rounding test rests on a
bound checked independently of the C library."""

import math
import os
from decimal import Decimal, localcontext
from fractions import Fraction

import pytest

from support.native_checks import build as build_check, needs_gxx, run

SAMPLES = os.environ.get("QUARNEL_POW_SAMPLES", "1000000")
SOURCES = ["tests/kernels/native/pow_check.cpp", "cpp/machine/pow_kernel.cpp",
           "cpp/machine/pow_kernel_avx2.cpp", "cpp/machine/isa.cpp",
           "cpp/machine/vector_kernels.cpp"]

pytestmark = needs_gxx


def build(out, *defines):
    return build_check(out, SOURCES, *defines)


@pytest.fixture(scope="module")
def exe(tmp_path_factory):
    return build(tmp_path_factory.mktemp("pow") / "pow_check")


def test_kernel_returns_the_c_librarys_bits_and_flags(exe):
    r = run(exe, SAMPLES)
    assert r.returncode == 0, r.stdout + r.stderr
    assert " 0 differences in " in r.stdout and "flags differ in 0 batches and 0 groups" in r.stdout


def test_a_margin_too_thin_for_the_c_library_is_caught(tmp_path):
    # The margin is what keeps the C library's departures from correct
    # rounding away from the kernel: without it the check must fail.
    r = run(build(tmp_path / "pow_thin", "-DQUARNEL_POW_MARGIN=0.0"), "300000")
    assert r.returncode == 1 and " 0 differences in " not in r.stdout, r.stdout


def exact_power(x, y):
    """x ** y to 70 digits: Decimal's power of the exact binary values."""
    with localcontext() as c:
        c.prec = 70
        c.Emax, c.Emin = 10**6, -10**6
        return Fraction(Decimal(x) ** Decimal(y))


@pytest.mark.parametrize("seed", ["1", "2"])
def test_unrounded_value_against_exact_powers(exe, seed):
    r = run(exe, "dump", "2000", seed)
    assert r.returncode == 0, r.stderr
    worst = Fraction(0)
    for line in r.stdout.splitlines():
        x, y, rounded, hi, lo = (float.fromhex(t) for t in line.split())
        exact = exact_power(x, y)
        scale = Fraction(rounded) / Fraction(hi)  # 2**m
        error = abs((Fraction(hi) + Fraction(lo)) * scale - exact) / Fraction(math.ulp(rounded))
        worst = max(worst, error)
        # Rounded outside the margin: then it is the correctly rounded value.
        # (Below a power of two the ulp is half as large.)
        ulp = math.ulp(hi) / 2 if lo < 0 and hi == 2.0 ** math.frexp(hi)[1] / 2 else math.ulp(hi)
        if abs(lo) < (0.5 - 1 / 32) * ulp:
            assert rounded == float(exact), (x, y)
    assert worst < Fraction(1, 1000), float(worst)
