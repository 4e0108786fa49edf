"""quarnel.comfort: the UTCI polynomial against the two peers that carry the
authors' Fortran coefficients (thermofeel, pythermalcomfort), its validity
domain, the assessment scale, the ufunc protocol, and the same bits at
every instruction-set level."""

import pickle
import subprocess
import sys
import warnings

import numpy as np
import pytest

from quarnel import _kernels, comfort as C
from support import child_env
from support.isa import LEVELS, processor_level
from support.kernel_inputs import inside

RTOL = ATOL = 1e-9  # ATOL [°C]: the relative bound alone is meaningless where the UTCI crosses 0


def es_hpa(ta):
    """Saturation vapour pressure [hPa] as pythermalcomfort's utci computes it."""
    tk = ta + 273.15
    g = [-2836.5744, -6028.076559, 19.54263612, -0.02737830188, 0.000016261698,
         7.0229056 * np.power(10.0, -10), -1.8680009 * np.power(10.0, -13)]
    es = 2.7150305 * np.log(tk)
    for k, c in enumerate(g):
        es = es + c * np.power(tk, k - 2)
    return np.exp(es) * 0.01


# --- against the peers -------------------------------------------------------

def test_agrees_with_thermofeel_in_celsius_and_in_kelvin():
    tf = pytest.importorskip("thermofeel")
    ta, tmrt, va, hpa = inside(200_000, 1)
    got = C.utci(ta, tmrt, va, hpa)
    # The polynomial takes °C and kPa and returns °C (whatever its docstring says).
    np.testing.assert_allclose(got, tf.calculate_utci_polynomial(ta, tmrt, va, hpa / 10), rtol=RTOL, atol=ATOL)
    kelvin = tf.calculate_utci(ta + 273.15, va, tmrt + 273.15, ehPa=hpa)
    np.testing.assert_allclose(got, kelvin - 273.15, rtol=RTOL, atol=ATOL)


def test_agrees_with_pythermalcomfort_and_its_domain():
    ptc = pytest.importorskip("pythermalcomfort.models")
    rng = np.random.default_rng(2)
    n = 100_000
    # A margin beyond each bound, so that both mark elements outside.
    ta = rng.uniform(-55, 55, n)
    tmrt = ta + rng.uniform(-35, 75, n)
    va = rng.uniform(0.3, 18, n)
    rh = rng.uniform(0, 100, n)  # its own check (0-100 %) never bites
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # its warnings about the elements outside
        want = np.asarray(ptc.utci(ta, tmrt, va, rh, limit_inputs=True, round_output=False).utci, dtype=float)
    got = C.utci(ta, tmrt, va, es_hpa(ta) * (rh / 100.0))
    np.testing.assert_array_equal(np.isnan(got), np.isnan(want))
    assert 0.1 < np.isnan(got).mean() < 0.9
    np.testing.assert_allclose(got, want, rtol=RTOL, atol=ATOL)


def test_categories_are_pythermalcomfort_s():
    bins = pytest.importorskip("pythermalcomfort.models.utci").STRESS_CATEGORIES
    assert bins.labels == C.UTCI_CATEGORIES
    assert bins.thresholds == C.UTCI_CATEGORY_BOUNDS
    values = np.concatenate([np.linspace(-60, 60, 24001), C.UTCI_CATEGORY_BOUNDS,
                             np.nextafter(C.UTCI_CATEGORY_BOUNDS, np.inf),
                             np.nextafter(C.UTCI_CATEGORY_BOUNDS, -np.inf)])
    names = np.asarray(C.UTCI_CATEGORIES, dtype=object)[C.utci_category(values)]
    assert list(names) == list(bins.map(values))


# --- the validity domain -----------------------------------------------------

# (Ta, Tmrt, va, hPa) on each bound, and the variable that moves past it.
BOUNDS = [
    ((-50.0, -40.0, 2.0, 1.0), 0, -np.inf),
    ((50.0, 60.0, 2.0, 10.0), 0, np.inf),
    ((10.0, -20.0, 2.0, 10.0), 1, -np.inf),   # Tmrt - Ta = -30
    ((10.0, 80.0, 2.0, 10.0), 1, np.inf),     # Tmrt - Ta = 70
    ((10.0, 20.0, 0.5, 10.0), 2, -np.inf),
    ((10.0, 20.0, 17.0, 10.0), 2, np.inf),
    ((10.0, 20.0, 2.0, 0.0), 3, -np.inf),
    ((30.0, 40.0, 2.0, 50.0), 3, np.inf),
]


@pytest.mark.parametrize("edge,var,away", BOUNDS)
def test_each_bound_is_inside_and_the_next_double_outside(edge, var, away):
    pytest.importorskip("thermofeel")
    from thermofeel import calculate_utci_polynomial as poly

    past = list(edge)
    past[var] = np.nextafter(edge[var], away)
    within = list(edge)
    within[var] = np.nextafter(edge[var], -away)
    with np.errstate(all="raise"):
        on, out, _in = C.utci(*edge), C.utci(*past), C.utci(*within)
    assert np.isnan(out)
    ta, tmrt, va, hpa = edge
    assert on == pytest.approx(poly(ta, tmrt, va, hpa / 10), rel=RTOL, abs=ATOL)
    assert np.isfinite(_in) and _in == pytest.approx(on, abs=1e-9)


def test_outside_and_nan_are_nan_without_a_warning():
    good = (20.0, 30.0, 3.0, 12.0)
    bad = [np.nan, np.inf, -np.inf, 1e308, -1e308, -1e-300, 5e-324, 1e300]
    rows = []
    for var in range(4):
        for b in bad:
            row = list(good)
            row[var] = b
            rows.append(row)
    rows += [[np.inf, np.inf, 3.0, 12.0], [1e308, -1e308, 3.0, 12.0], [-1e308, 1e308, 3.0, 12.0]]
    a = np.array(rows).T
    with warnings.catch_warnings(), np.errstate(all="raise"):
        warnings.simplefilter("error")
        got = C.utci(*a)
    with np.errstate(all="ignore"):
        inside_ = ((a[0] >= -50) & (a[0] <= 50) & (a[1] - a[0] >= -30) & (a[1] - a[0] <= 70) &
                   (a[2] >= 0.5) & (a[2] <= 17) & (a[3] >= 0) & (a[3] <= 50))
    np.testing.assert_array_equal(np.isnan(got), ~inside_)
    assert np.isnan(got).sum() >= 25  # NaN in any position gives NaN
    assert C.utci(20.0, 30.0, 3.0, -0.0) == C.utci(20.0, 30.0, 3.0, 0.0)


# --- the assessment scale ----------------------------------------------------

def test_category_codes_and_bound_sides():
    b = np.array(C.UTCI_CATEGORY_BOUNDS)
    assert list(b) == [-40, -27, -13, 0, 9, 26, 32, 38, 46]
    # On a bound: the class below; the next double up: the class above.
    np.testing.assert_array_equal(C.utci_category(b), np.arange(9))
    np.testing.assert_array_equal(C.utci_category(np.nextafter(b, np.inf)), np.arange(1, 10))
    np.testing.assert_array_equal(C.utci_category(np.nextafter(b, -np.inf)), np.arange(9))
    got = C.utci_category(np.array([-np.inf, -300, 0.5, 20, 45.9, 300, np.inf, np.nan, -0.0]))
    np.testing.assert_array_equal(got, [0, 0, 4, 5, 8, 9, 9, -1, 3])
    assert got.dtype == np.int8
    with np.errstate(all="raise"):
        assert C.utci_category(np.float32("nan")) == C.UTCI_CATEGORY_FILL == -1
    # Strided input and output.
    x = np.linspace(-50, 50, 401)
    out = np.zeros(802, dtype=np.int8)
    C.utci_category(x[::-1][::2], out=out[::4])
    np.testing.assert_array_equal(out[::4], C.utci_category(x[::-1].copy())[::2])


def test_cf_constants():
    assert len(C.UTCI_CATEGORIES) == 10 and C.UTCI_CATEGORIES[5] == "no thermal stress"
    assert C.UTCI_FLAG_VALUES.dtype == np.int8
    np.testing.assert_array_equal(C.UTCI_FLAG_VALUES, np.arange(10))
    with pytest.raises(ValueError):
        C.UTCI_FLAG_VALUES[0] = 3
    meanings = C.UTCI_FLAG_MEANINGS.split(" ")
    assert meanings[0] == "extreme_cold_stress" and meanings[9] == "extreme_heat_stress"
    assert [m.replace("_", " ") for m in meanings] == list(C.UTCI_CATEGORIES)


# --- the ufunc protocol ------------------------------------------------------

def test_broadcasting_casting_strides_and_out():
    ta, tmrt, va, hpa = inside(5_000, 3)
    want = C.utci(ta, tmrt, va, hpa)
    # float32 and integer inputs are cast to float64 first.
    f = [x.astype(np.float32) for x in (ta, tmrt, va, hpa)]
    got = C.utci(*f)
    assert got.dtype == np.float64
    np.testing.assert_array_equal(got, C.utci(*[x.astype(np.float64) for x in f]))
    assert C.utci(20, 25, 2, 10) == C.utci(20.0, 25.0, 2.0, 10.0)
    # Broadcasting, against the element-by-element values.
    grid = C.utci(ta[:7, None], tmrt[:7, None], va[None, :5], 12.0)
    assert grid.shape == (7, 5)
    for i in range(7):
        for j in range(5):
            assert grid[i, j] == C.utci(ta[i], tmrt[i], va[j], 12.0)
    # Strided, unaligned and in-place arrays give the same bits.
    raw = np.zeros(len(ta) * 8 + 1, dtype=np.uint8)[1:].view(np.float64)
    raw[:] = hpa
    out = np.full(2 * len(ta), -1.0)
    C.utci(ta[::-1][::-1], np.repeat(tmrt, 2)[::2], va, raw, out=out[::2])
    np.testing.assert_array_equal(out[::2], want)
    assert (out[1::2] == -1.0).all()
    inplace = ta.copy()
    C.utci(inplace, tmrt, va, hpa, out=inplace)
    np.testing.assert_array_equal(inplace, want)


def test_large_arrays_split_over_the_cores_give_the_same_bits():
    ta, tmrt, va, hpa = inside(1_000_003, 4)
    whole = C.utci(ta, tmrt, va, hpa)
    pieces = np.concatenate([C.utci(ta[k:k + 777], tmrt[k:k + 777], va[k:k + 777], hpa[k:k + 777])
                             for k in range(0, len(ta), 777)])
    np.testing.assert_array_equal(whole, pieces)


def test_pickles_by_reference():
    assert pickle.loads(pickle.dumps(C.utci)) is C.utci
    assert pickle.loads(pickle.dumps(C.utci_category)) is C.utci_category


def test_xarray_and_dask():
    xr = pytest.importorskip("xarray")
    da = pytest.importorskip("dask.array")
    ta, tmrt, va, hpa = (x.reshape(40, 25) for x in inside(1000, 5))
    coords = {"y": np.arange(40), "x": np.arange(25)}
    arrays = [xr.DataArray(v, dims=("y", "x"), coords=coords) for v in (ta, tmrt, va, hpa)]
    want = C.utci(ta, tmrt, va, hpa)
    eager = C.utci(*arrays)
    assert isinstance(eager, xr.DataArray) and eager.dims == ("y", "x")
    np.testing.assert_array_equal(eager.coords["x"].values, coords["x"])
    np.testing.assert_array_equal(eager.values, want)
    lazy = C.utci(*(a.chunk({"y": 16}) for a in arrays))
    assert isinstance(lazy.data, da.Array)
    cat = C.utci_category(lazy)
    assert isinstance(cat.data, da.Array) and cat.dtype == np.int8
    np.testing.assert_array_equal(cat.compute().values, C.utci_category(want))
    plain = C.utci(da.from_array(ta, chunks=10), tmrt, va, 10.0)
    assert isinstance(plain, da.Array)
    np.testing.assert_array_equal(plain.compute(), C.utci(ta, tmrt, va, 10.0))


# --- instruction-set levels --------------------------------------------------

CHILD = """
import sys, numpy as np
from quarnel import _kernels, comfort
from support.kernel_inputs import inside
print(_kernels.isa)
args = inside(100_003, 6)
sys.stdout.flush()
np.save(sys.argv[1], comfort.utci(*args))
"""


@pytest.mark.parametrize("level", LEVELS)
def test_every_level_gives_the_same_bits(level, tmp_path):
    if LEVELS.index(level) > LEVELS.index(processor_level()):
        pytest.skip(f"the processor's own level is {processor_level()}")
    env = child_env()
    env["QUARNEL_ISA"] = level
    path = tmp_path / "u.npy"
    run = subprocess.run([sys.executable, "-c", CHILD, str(path)], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split()[0] == level
    want = C.utci(*inside(100_003, 6))
    np.testing.assert_array_equal(np.load(path).view(np.uint64), want.view(np.uint64))


def test_a_setting_naming_no_level_is_ignored_with_a_warning():
    env = child_env()
    env["QUARNEL_ISA"] = "avx-2"
    run = subprocess.run([sys.executable, "-W", "always", "-c", "from quarnel import _kernels; print(_kernels.isa)"],
                         env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == processor_level()
    assert "QUARNEL_ISA='avx-2' names no instruction set" in run.stderr
