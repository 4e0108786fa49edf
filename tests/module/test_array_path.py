"""Float64 arrays evaluated natively in one pass: the same values, warnings
and errors as the transcription over NumPy, for any layout and size."""

import threading
import warnings

import numpy as np
import pytest

from support import oracle
import quarnel.Strahlwerk as S
from support.calls import ELEMENT_WISE, TYPICAL, spread
from support import assert_same_outcome, same_value

rng = np.random.default_rng(7)


def unaligned(a):
    """The values of `a` at an address that is no multiple of 8."""
    b = np.ndarray(a.shape, np.float64, buffer=np.zeros(a.nbytes + 1, np.uint8), offset=1)
    b[...] = a
    return b


def layouts(n):
    """The same values as contiguous, strided, reversed, Fortran-ordered, broadcast and
    unaligned arrays (the sanitizer build reports any misaligned read of the last)."""
    base = rng.uniform(0, 24, 2 * n)
    grid = rng.uniform(0, 24, (n // 4 + 1, 4))
    return [base[:n], base[::2], base[::-1][:n], np.asfortranarray(grid), grid.T,
            np.broadcast_to(base[:1], (n,)), unaligned(base[:n]), unaligned(base)[::2]]


@pytest.mark.parametrize("n", [2, 255, 256, 257, 9000, 70_001, 400_003])
def test_every_layout_and_size_matches_transcription(n):
    for szeit in layouts(n):
        assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, szeit, 52.5, 172)
        assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, 11.0, szeit * 7 - 80, szeit * 15)


def test_broadcast_shapes_and_failures():
    a, b = rng.uniform(0, 24, (3, 1)), rng.uniform(-60, 60, (1, 4))
    got = S.Zenitwinkel(a, b, 100)
    assert got.shape == (3, 4) and same_value(got, oracle.Zenitwinkel(a, b, 100))
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, np.zeros(3), np.zeros(4), 1)


def test_flags_fall_back_to_numpy_warnings():
    szeit = np.array([10.0, np.inf, np.nan, 12.0])
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, szeit, 50, 172)
    with np.errstate(invalid="raise"):
        with pytest.raises(FloatingPointError):
            S.Zenitwinkel(szeit, 50, 172)


@pytest.mark.parametrize("scalar", [2**60, np.float32(3.5), np.int64(7), True, None, "x"])
def test_odd_scalars_beside_arrays(scalar):
    arr = rng.uniform(0, 24, 5)
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, arr, scalar, 100)
    assert_same_outcome(S.Azimutwinkel, oracle.Azimutwinkel, 10, arr, scalar)


@pytest.mark.parametrize("arr", [np.arange(4), np.ones(3, np.float32), np.ones(3, ">f8"),
                                 np.ma.masked_array([1.0, 2.0], [0, 1]), np.ones((0,)),
                                 np.array(3.0), np.array([3.0])])
def test_other_arrays_take_the_generic_path_unchanged(arr):
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, arr, 50.0, 172)


def test_threads_agree_with_one_thread():
    args = [(rng.uniform(0, 24, 50_000), rng.uniform(-60, 60, 50_000), 172.0) for _ in range(8)]
    want = [S.Zenitwinkel(*a) for a in args]
    got = [None] * 8

    def work(i):
        for _ in range(5):
            got[i] = S.Zenitwinkel(*args[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(same_value(g, w) for g, w in zip(got, want))


def wide(n):
    """Values of every magnitude (signs mixed, a few exact multiples of 1/16
    and of pi/2), where the vectorised sine and cosine reduce, look up and
    round differently from lane to lane."""
    mags = np.exp(rng.uniform(np.log(1e-9), np.log(1e7), n)) * rng.choice([-1.0, 1.0], n)
    mags[::97] = np.round(mags[::97] * 16) / 16
    mags[::89] = np.round(mags[::89] / (np.pi / 2)) * (np.pi / 2)
    return mags


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("name", [n for n in ELEMENT_WISE if ELEMENT_WISE[n]])
@pytest.mark.parametrize("values", ["typical", "wide"])
def test_split_arrays_of_every_function_match_transcription(name, values):
    """Arrays long enough to be timed and split over the cores, in every
    element-wise position at once."""
    n = 9_001
    for typical in TYPICAL[name]:
        args = list(typical)
        for i in ELEMENT_WISE[name]:
            args[i] = spread(args[i], n) if values == "typical" else wide(n)
        assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


def test_a_flag_left_by_earlier_arithmetic_changes_nothing():
    """Python's float arithmetic leaves the processor's invalid flag set
    (inf - inf): the next calls give the same values and no warning."""
    arr = rng.uniform(0, 24, 3000)
    calls = [(S.Zenitwinkel, (11.0, 52.5, 172)), (S.DirStrMBew, (800.0, 2)), (S.Zenitwinkel, (arr, 52.5, 172))]
    want = [f(*a) for f, a in calls]
    for _ in range(3):
        for (f, a), w in zip(calls, want):
            inf = float("inf")
            assert (inf - inf) != 0.0  # NaN: the flag is raised
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                assert same_value(f(*a), w)
