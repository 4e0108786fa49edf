"""quarnel.ufunc against the module called element by element.

Element i of a ufunc is the module's call on numpy.float64 elements,
converted to float64, bit for bit; the floating-point conditions the ufunc
reports are those the scalar calls warn about, and an element whose call
raises is NaN with the invalid-operation condition.
"""

import copy
import pickle

import numpy as np
import pytest
from hypothesis import given, strategies as st

import quarnel.Strahlwerk as S
import quarnel.ufunc as U

DIVIDE, OVER, UNDER, INVALID = 1, 2, 4, 8

# The values each input meets: realistic ranges, branch boundaries and the
# values that break arithmetic.
SPECIAL = [0.0, -0.0, np.inf, -np.inf, np.nan, 5e-324, -5e-324, 2.2e-308, 1e308, -1e308, 1e-300, 1.0, -1.0]
BOUNDS = {
    "Sonnenzeit": [[0, 24, -1, 25, 11.99], [0, 1, -12, 14], [0, 180, -180, 15.5], [1, 81, 172, 366, 0]],
    "Zenitwinkel": [[0, 12, 24, 6], [0, 90, -90, 51.5], [1, 172, 355]],
    "Azimutwinkel": [[0, 12, 24, 6, 18], [0, 90, -90, 51.5], [1, 172, 355]],
    "LinkeTruebung": [[1, 15, 172], [0, -0.0, 45, -45], [85, 100, 84.99, 94.9, 0]],
    "RelOptLuftmasse": [[0, 80, 85, 90, 91, 90.05, 90.95, 91.0001, 79.99, 89.99]],
    "MaxDirekteStrahlung": [[1, 172], [0, 40, 5000], [0, 80, 85, 90, 91, 89.9], [1, 3.5, 39.84], [1, 37.92, 999]],
    "MaxGlobalstrahlung": [[1, 172], [0, 40, 5000], [0, 85, 89.99, 90, 91], [1, 3.5, 39.84]],
    "DirStrMBew": [[0, 800], [0, 8, 4, -1, 9]],
    "AtmosGegenstr": [[-273.15, 20, -40], [0, 16], [0, 8, -1, 4]],
    "OberflTemp": [[0, 400, -100], [20, -5], [0, 3], [-0.9, 0, -0.95, -2, 0.8, -0.0]],
    "MittlStrTemp": [[0, 45, 90, 91, 89.999], [0, 100], [200, 400], [150, 300], [0, 100], [0, 800], [0, 0.3, 1]],
}
RANGES = {
    "Sonnenzeit": [(-30, 50), (-14, 14), (-200, 200), (-10, 400)],
    "Zenitwinkel": [(-5, 30), (-95, 95), (-10, 400)],
    "Azimutwinkel": [(-5, 30), (-95, 95), (-10, 400)],
    "LinkeTruebung": [(-10, 400), (-95, 95), (-10, 120)],
    "RelOptLuftmasse": [(-10, 100)],
    "MaxDirekteStrahlung": [(-10, 400), (-500, 9000), (-10, 100), (0, 45), (0, 60)],
    "MaxGlobalstrahlung": [(-10, 400), (-500, 9000), (-10, 100), (0, 45)],
    "DirStrMBew": [(-100, 1500), (-2, 10)],
    "AtmosGegenstr": [(-300, 100), (-5, 60), (-2, 10)],
    "OberflTemp": [(-300, 900), (-60, 60), (-1, 40), (-3, 5)],
    "MittlStrTemp": [(-5, 100), (-50, 600), (-50, 600), (-50, 600), (-50, 600), (-50, 1200), (-0.5, 1.5)],
}
NAMES = list(BOUNDS)


def element(name, i):
    return st.one_of(
        st.floats(*RANGES[name][i]),
        st.sampled_from([float(b) for b in BOUNDS[name][i]] + SPECIAL),
        st.floats(width=64),
    )


def scalar_call(name, args):
    """(value, flags) of the module's call on numpy.float64 arguments."""
    seen = []
    args = [np.float64(a) for a in args]
    if name == "MittlStrTemp":
        args = args[:6] + [None, args[6], None]
    with np.errstate(all="call", call=lambda kind, flag: seen.append(flag)):
        try:
            value = float(getattr(S, name)(*args))
        except (ValueError, OverflowError, IndexError):
            value, seen = np.nan, seen + [INVALID]
    flags = 0
    for f in seen:
        flags |= f
    return value, flags


def reference(name, *arrays):
    b = np.broadcast_arrays(*[np.asarray(a, dtype=np.float64) for a in arrays])
    out = np.empty(b[0].shape)
    flags = 0
    for idx in np.ndindex(out.shape):
        out[idx], f = scalar_call(name, [a[idx] for a in b])
        flags |= f
    return out, flags


def ufunc_call(name, *args, **kwargs):
    seen = []
    with np.errstate(all="call", call=lambda kind, flag: seen.append(flag)):
        out = getattr(U, name)(*args, **kwargs)
    flags = 0
    for f in seen:
        flags |= f
    return out, flags


def same_bits(a, b):
    """Equal bits, signed zeros told apart; NaN equal to NaN."""
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    if a.shape != b.shape:
        return False
    nan = np.isnan(a)
    return bool(np.array_equal(nan, np.isnan(b))
                and np.array_equal(a[~nan].view(np.int64), b[~nan].view(np.int64)))


@st.composite
def arguments(draw, name):
    n = draw(st.integers(0, 24))
    args = []
    for i in range(len(RANGES[name])):
        if draw(st.integers(0, 3)) == 0:
            args.append(draw(element(name, i)))  # broadcast scalar
        else:
            args.append(np.array(draw(st.lists(element(name, i), min_size=n, max_size=n)), dtype=np.float64))
    return args


@pytest.mark.parametrize("name", NAMES)
@given(data=st.data())
def test_each_element_is_the_scalar_call(name, data):
    args = data.draw(arguments(name))
    got, got_flags = ufunc_call(name, *args)
    want, want_flags = reference(name, *args)
    assert same_bits(got, want), (args, got, want)
    assert got_flags == want_flags, (args, got_flags, want_flags)


@pytest.mark.parametrize("name", NAMES)
@given(data=st.data())
def test_blocks_with_mixed_branches(name, data):
    """Long arrays: elements of one block part ways at every branch."""
    n = data.draw(st.sampled_from([1023, 1025, 2500]))
    seed = data.draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    args = []
    for i, (lo, hi) in enumerate(RANGES[name]):
        pool = np.array(BOUNDS[name][i], dtype=float)
        x = rng.uniform(lo, hi, n)
        pick = rng.random(n) < 0.3
        x[pick] = rng.choice(pool, pick.sum())
        # Runs of equal values, as a day of year over its hours or a
        # latitude along a row, are evaluated once per run.
        run = data.draw(st.sampled_from([1, 1, 3, 24, 700]))
        args.append(np.repeat(x, run)[:n])
    got, got_flags = ufunc_call(name, *args)
    want, want_flags = reference(name, *args)
    assert same_bits(got, want)
    assert got_flags == want_flags


def test_raise_exactly_when_some_scalar_call_warns():
    z = np.array([10.0, 45.0, 95.0])
    with np.errstate(all="raise"):
        U.MittlStrTemp(z[:2], 0.0, 300.0, 300.0, 100.0, 500.0, 0.3)
        with pytest.raises(FloatingPointError, match="invalid"):
            U.MittlStrTemp(z, 0.0, 300.0, 300.0, 100.0, 500.0, 0.3)
        with pytest.raises(FloatingPointError, match="invalid"):
            U.RelOptLuftmasse(np.array([30.0, np.nan]))
        with pytest.raises(FloatingPointError, match="overflow"):
            U.RelOptLuftmasse(np.array([1e308]))
    with np.errstate(all="ignore"):
        r = U.RelOptLuftmasse(np.array([np.nan, np.inf, -np.inf, 95.0, 0.0]))
    assert np.isnan(r[:3]).all() and r[3] == 999.0 and r[4] == 1.0
    with pytest.warns(RuntimeWarning, match="invalid value encountered in RelOptLuftmasse"):
        U.RelOptLuftmasse(np.nan)


def test_markers_are_floats():
    assert U.RelOptLuftmasse(120.0) == 999.0 and type(U.RelOptLuftmasse(120.0)) is np.float64
    assert U.MaxDirekteStrahlung(172, 40.0, np.array([95.0, np.nan]), 3.0, 2.0).tolist() == [0.0, 0.0]
    assert U.MaxGlobalstrahlung(172, 40.0, 90.0, 3.0) == 0.0


def test_ufunc_surface():
    for name in NAMES:
        f = getattr(U, name)
        assert isinstance(f, np.ufunc) and f.nout == 1 and f.__name__ == name
        assert f.nin == (7 if name == "MittlStrTemp" else len(RANGES[name]))
        assert f.types == ["d" * f.nin + "->d"]
        assert pickle.loads(pickle.dumps(f)) is f and copy.deepcopy(f) is f and copy.copy(f) is f
    assert sorted(U.__all__) == sorted(NAMES) and all(hasattr(S, n) for n in U.__all__)


def test_what_numpy_offers_for_ufuncs():
    rng = np.random.default_rng(3)
    szeit = rng.uniform(0, 24, (6, 5))
    lat = rng.uniform(-60, 60, (1, 5))
    want, _ = reference("Zenitwinkel", szeit, lat, 172.0)
    # broadcasting, any order, strides and reversed views
    assert same_bits(U.Zenitwinkel(szeit, lat, 172), want)
    assert same_bits(U.Zenitwinkel(np.asfortranarray(szeit), lat, 172), want)
    assert same_bits(U.Zenitwinkel(szeit[::-1, ::2], lat[:, ::2], 172), want[::-1, ::2])
    # integer and float32 inputs are cast to float64
    days = np.arange(1, 366, 30)
    assert same_bits(U.LinkeTruebung(days, 50, 60), reference("LinkeTruebung", days, 50.0, 60.0)[0])
    f32 = np.float32([80.5, 89.25])
    assert same_bits(U.RelOptLuftmasse(f32), reference("RelOptLuftmasse", f32.astype(float))[0])
    # 0-d, empty
    assert U.RelOptLuftmasse(np.array(45.0)).shape == ()
    assert U.Zenitwinkel(np.empty((0, 3)), 1.0, 1.0).shape == (0, 3)
    # out=, where=, out aliasing an input
    z = np.array([10.0, 85.0, 90.5, 120.0])
    out = np.full(4, -1.0)
    U.RelOptLuftmasse(z, out=out, where=z < 100)
    assert same_bits(out[:3], reference("RelOptLuftmasse", z[:3])[0]) and out[3] == -1.0
    alias = z.copy()
    U.RelOptLuftmasse(alias, out=alias)
    assert same_bits(alias, reference("RelOptLuftmasse", z)[0])
    # dtype= and casting=
    assert U.DirStrMBew(np.float32(700.0), 2, dtype=np.float64).dtype == np.float64
    with pytest.raises(TypeError):
        U.DirStrMBew(np.array([700.0]), 2, out=np.empty(1, dtype=np.int64))
    # unaligned memory
    raw = np.zeros(8 * 5 + 1, dtype=np.uint8)[1:].view(np.float64)
    raw[:] = [0, 30, 60, 85, 90.5]
    assert same_bits(U.RelOptLuftmasse(raw), reference("RelOptLuftmasse", raw.copy())[0])


def test_large_arrays_split_over_threads_agree_with_small_pieces():
    rng = np.random.default_rng(11)
    n = 300_000
    z = rng.uniform(-5, 100, n)
    rh = rng.uniform(0, 110, n)
    day = np.repeat(np.arange(1.0, n // 24 + 2), 24)[:n]
    big = U.MaxDirekteStrahlung(day, 40.0, z, U.LinkeTruebung(day, 1.0, rh), U.RelOptLuftmasse(z))
    pieces = [U.MaxDirekteStrahlung(day[k:k + 700], 40.0, z[k:k + 700],
                                    U.LinkeTruebung(day[k:k + 700], 1.0, rh[k:k + 700]),
                                    U.RelOptLuftmasse(z[k:k + 700])) for k in range(0, n, 700)]
    assert same_bits(big, np.concatenate(pieces))


def test_flags_from_every_part_of_a_split_array():
    n = 400_000
    z = np.full(n, 45.0)
    z[-1] = 95.0  # the last part, which another thread computes
    with pytest.raises(FloatingPointError):
        with np.errstate(invalid="raise"):
            U.MittlStrTemp(z, 0.0, 300.0, 300.0, 100.0, 500.0, 0.3)


def test_element_wise_functions_match_the_module_arrays():
    rng = np.random.default_rng(5)
    n = 5000
    t = rng.uniform(0, 24, n)
    assert same_bits(U.Zenitwinkel(t, 51.5, 172), S.Zenitwinkel(t, 51.5, 172))
    a, e, c = rng.uniform(-20, 40, n), rng.uniform(0, 30, n), rng.uniform(0, 8, n)
    assert same_bits(U.AtmosGegenstr(a, e, c), S.AtmosGegenstr(a, e, c))
    assert same_bits(U.DirStrMBew(a, c), S.DirStrMBew(a, c))


def test_reduce_accumulate_outer_and_at_follow_the_elements():
    """An element that reads an earlier element's result (reduce,
    accumulate) waits for it; outer and at are element-wise."""
    def chained(x):
        acc, out = x[0], [x[0]]
        for v in x[1:]:
            acc, _ = scalar_call("DirStrMBew", [acc, v])
            out.append(acc)
        return np.array(out)

    rng = np.random.default_rng(8)
    x = np.concatenate([[800.0], rng.uniform(0, 9, 3000)])
    assert same_bits(U.DirStrMBew.accumulate(x), chained(x))
    assert same_bits(U.DirStrMBew.reduce(x), chained(x)[-1])
    m = rng.uniform(0, 9, (40, 30))
    assert same_bits(U.DirStrMBew.reduce(m, axis=0), [chained(m[:, j])[-1] for j in range(30)])
    assert same_bits(U.DirStrMBew.reduce(m, axis=1), [chained(m[i])[-1] for i in range(40)])
    a, b = rng.uniform(0, 900, 7), rng.uniform(0, 8, 5)
    assert same_bits(U.DirStrMBew.outer(a, b), reference("DirStrMBew", a[:, None], b[None, :])[0])
    y = a.copy()
    U.DirStrMBew.at(y, [0, 2, 2], 4.0)
    want = a.copy()
    for i in (0, 2, 2):
        want[i] = scalar_call("DirStrMBew", [want[i], 4.0])[0]
    assert same_bits(y, want)
    with pytest.raises(ValueError):
        U.Zenitwinkel.reduce(x)  # three inputs: no reduction


def _blocks(*parts):
    """Blocks of 1024 elements, one per part, each part repeated to fill it."""
    return np.concatenate([np.resize(np.asarray(p, dtype=float), 1024) for p in parts])


# Blocks in which the elements differ at a branch: where neither side
# raises anything, the ufunc takes both sides for all elements and chooses
# per element; where a side raises a condition or cannot be evaluated (a
# table index out of range), it takes that back and parts the elements. The
# order of the blocks matters: how a branch went in one block decides how it
# is tried in later ones.
BOTH_WAYS = {
    # Both wraps of the day, both sides clean.
    "Sonnenzeit": lambda: (_blocks(np.arange(24.0), [23.5, 0.5, 12.0]), 0.0,
                           _blocks([-170.0], [175.0, -175.0]), _blocks([1.0] * 24 + [2.0] * 24, [365.0])),
    # Night and day in one block (the Kasten-Young side is NaN at night):
    # taken back, parted; then blocks of day only, taken both ways within.
    "RelOptLuftmasse": lambda: (_blocks([10.0, 95.0, 85.0, 150.0, 89.0, 90.5],
                                        [10.0, 85.0, 79.9, 80.0, 89.99],
                                        [95.0, 120.0, 91.0, 90.0],
                                        [10.0, 85.0, 90.2, 95.0, np.nan, 180.0],
                                        # Sides within sides, the innermost taken back.
                                        [80.0, 90.0, -5e-324]),),
    # A sun just below the horizon overflows the exponent of one side.
    "MaxGlobalstrahlung": lambda: (172.0, 100.0,
                                   _blocks([30.0, 100.0], [30.0, 90.000001, 100.0], [45.0, 120.0]), 3.5),
    "MaxDirekteStrahlung": lambda: (172.0, 100.0, _blocks([30.0, 100.0], [85.0, 95.0]), 3.5,
                                    _blocks([1.15, 999.0], [11.5, 999.0])),
    # Dry air (its humidity factor underflows) beside humid: parted; then
    # humid only, taken both ways at 100 %.
    "LinkeTruebung": lambda: (172.0, _blocks([45.0, -45.0], [45.0], [-45.0]),
                              _blocks([20.0, 90.0, 100.0, 84.0], [86.0, 100.0, 99.0], [30.0, 70.0])),
    # Taken both ways at the sign of Q, then parted where Bowen is 0.
    "OberflTemp": lambda: (_blocks([-100.0, 200.0, 0.0], [50.0, -50.0]), 15.0, 2.0,
                           _blocks([0.8, 0.0, -0.0, -2.0], [0.5])),
    # Sun at the meridian (Gegenkathete 0: the ratio divides by zero) and off it.
    "Azimutwinkel": lambda: (_blocks([12.0, 11.0, 13.0, 0.0], [6.0, 18.0, 9.5]), _blocks([51.5, -30.0], [10.0]),
                             _blocks([172.0, 355.0], [1.0])),
}


@pytest.mark.parametrize("name", list(BOTH_WAYS))
@pytest.mark.parametrize("threads", [False, True])
def test_branches_taken_both_ways_or_parted(name, threads):
    args = BOTH_WAYS[name]()
    if threads:  # long enough to be split over threads, each part learning alone
        args = tuple(np.tile(a, 40) if np.ndim(a) else a for a in args)
    got, got_flags = ufunc_call(name, *args)
    want, want_flags = reference(name, *args)
    assert same_bits(got, want)
    assert got_flags == want_flags
