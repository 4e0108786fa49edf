"""The vector arcsine and arctangent kernels of the array path (AVX2)
against the C library's asin and atan, bit for bit and flag for flag,
compiled and run as a small native program (skipped without a C++ compiler
or without AVX2); and the kernels' unrounded values against exact
arithmetic, so that their rounding test rests on a bound checked
independently of the C library."""

import math
import os
from decimal import Decimal, localcontext
from fractions import Fraction

import pytest

from support.native_checks import build, needs_gxx, run as run_check

SAMPLES = os.environ.get("QUARNEL_ASIN_ATAN_SAMPLES", "2000000")
SOURCES = ["tests/kernels/native/asin_atan_check.cpp", "cpp/machine/asin_atan_kernel.cpp",
           "cpp/machine/asin_atan_kernel_avx2.cpp", "cpp/machine/isa.cpp",
           "cpp/machine/vector_kernels.cpp"]

pytestmark = needs_gxx


@pytest.fixture(scope="module")
def exe(tmp_path_factory):
    return build(tmp_path_factory.mktemp("asin_atan") / "asin_atan_check", SOURCES)


def run(exe, *args):
    return run_check(exe, *args, what="the kernels")


def test_kernels_return_the_c_librarys_bits_and_flags(exe):
    r = run(exe, SAMPLES)
    assert r.returncode == 0, r.stdout + r.stderr
    for name in ("asin", "atan"):
        assert f"{name}: 0 differences in " in r.stdout, r.stdout
        assert "flags differ in 0 batches and 0 groups, 0 specials differ" in r.stdout, r.stdout


# Exact references from first principles, to 70 digits: the arctangent by
# halving the angle (tan t/2 = x / (1 + sqrt(1 + x^2))) until the series
# x - x^3/3 + ... converges fast, the arcsine as atan(x / sqrt(1 - x^2)).
def atan_exact(x):
    with localcontext() as ctx:
        ctx.prec = 70
        sign, x = (-1 if x < 0 else 1), abs(x)
        halvings = 0
        while x > Decimal("0.01"):
            x = x / (1 + (1 + x * x).sqrt())
            halvings += 1
        total, term, x2, k = x, x, x * x, 1
        while True:
            term *= -x2
            k += 2
            if abs(term) < abs(total) * Decimal(10) ** -72:
                break
            total += term / k
        return sign * total * 2**halvings


def asin_exact(x):
    with localcontext() as ctx:
        ctx.prec = 70
        if abs(x) == 1:
            return x * 2 * atan_exact(Decimal(1))
        return atan_exact(x / (1 - x * x).sqrt())


@pytest.mark.parametrize("name,exact", [("asin", asin_exact), ("atan", atan_exact)])
@pytest.mark.parametrize("seed", ["1", "2"])
def test_unrounded_value_against_exact_arithmetic(exe, name, exact, seed):
    r = run(exe, "dump", name, "3000", seed)
    assert r.returncode == 0, r.stderr
    worst = Fraction(0)
    for line in r.stdout.splitlines():
        x, hi, lo = (float.fromhex(t) for t in line.split())
        want = Fraction(exact(Decimal(x)))
        error = abs(Fraction(hi) + Fraction(lo) - want) / Fraction(math.ulp(hi))
        worst = max(worst, error)
        # Farther than the narrower margin (1/32) from a boundary, with room
        # for the error: then hi is the correctly rounded value. (Below a
        # power of two the ulp is half as large.)
        ulp = math.ulp(hi) / 2 if (lo < 0) == (hi > 0) and abs(hi) == 2.0 ** (math.frexp(abs(hi))[1] - 1) \
            else math.ulp(hi)
        if abs(lo) < (0.5 - 1 / 32) * ulp:
            assert hi == float(want), x
    assert worst < Fraction(1, 8000), float(worst)
