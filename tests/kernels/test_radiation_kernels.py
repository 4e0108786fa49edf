"""The compiled split of global radiation (quarnel._kernels.split_global)
against its NumPy reference, and the standing person
(quarnel.comfort.standing_person) against the NumPy expression and
thermofeel: the ufunc protocol, quiet flags, the cores and the
instruction-set levels."""

import subprocess
import sys

import numpy as np
import pytest

from quarnel import _kernels, comfort
from quarnel.tmrt import decomposition as D
from support import child_env
from support.isa import LEVELS, processor_level
from support.kernel_inputs import person_inputs, split_inputs

SIGMA = 5.67e-08

# DISC's Kn is a difference of terms of about 1 times the extraterrestrial
# irradiance I0 (~1400 W/m²): the C library's exp, pow, acos, sin and cos,
# an ulp away from NumPy's, move DNI by a few ulps of f·I0, whatever its
# own size. DHI = G − DNI·μ inherits that.
DISC_ULPS = 8


def reference(g, mu, f, day, p):
    with np.errstate(all="ignore"):
        return D._split_global_numpy(g, mu, f, day, p)


# --- the split of global radiation -------------------------------------------

def test_split_matches_the_numpy_reference():
    g, mu, f, day, p = split_inputs(200_000, 1)
    dni, dhi = _kernels.split_global(g, mu, f, day, p)
    ref_dni, ref_dhi = reference(g, mu, f, day, p)
    np.testing.assert_array_equal(np.isnan(dni), np.isnan(ref_dni))
    np.testing.assert_array_equal(np.isnan(dhi), np.isnan(ref_dhi))
    # Where the branch of DISC or the 87° cut-off flips on the last bit of
    # kt or of the zenith angle the two may take different sides: those
    # are a handful of elements, each within 1e-12 of the edge.
    with np.errstate(all="ignore"):
        i0 = D.extraterrestrial_normal(day)
        m = np.where((f > 0) & (mu > 0), np.minimum(mu, 1.0), 1.0)
        kt = g / (f * i0 * np.maximum(m, 0.065))
        zenith = np.degrees(np.arccos(m))
    edge = (np.abs(kt - 0.6) < 1e-12) | (np.abs(zenith - 87.0) < 1e-12)
    assert edge.sum() < 20
    tol = DISC_ULPS * np.spacing(np.where(np.isnan(f), 1.0, f) * 1450.0)
    for got, ref in ((dni, ref_dni), (dhi, ref_dhi)):
        off = np.abs(got - ref) > tol
        assert not (off & ~edge).any(), np.flatnonzero(off & ~edge)[:5]
    # Most elements agree to the bit; night and a low sun always.
    assert (dni == ref_dni).mean() > 0.5
    night = ~((f > 0) & (mu > 0)) & ~np.isnan(g + mu + f + day + p)
    np.testing.assert_array_equal(dni[night], 0.0)
    np.testing.assert_array_equal(dhi[night], np.maximum(g[night], 0.0))


def test_split_guarantees_hold_exactly_and_quietly():
    g, mu, f, day, p = split_inputs(100_000, 2)
    with np.errstate(all="raise"):
        dni, dhi = _kernels.split_global(g, mu, f, day, p)
        # Infinities too: NaN or a value, never a trap.
        _kernels.split_global([np.inf, 500.0, 500.0], [0.5, np.inf, 0.5], [1.0, 1.0, np.inf], 100.0, 9e4)
    ok = ~np.isnan(dni)
    gp = np.maximum(g, 0.0)[ok]
    assert (dni[ok] >= 0).all() and (dhi[ok] >= 0).all()
    assert (dni[ok] * mu[ok] <= gp).all()
    np.testing.assert_array_equal(dhi[ok], gp - dni[ok] * mu[ok])


def test_split_broadcasting_strides_out_and_scalars():
    g, mu, f, day, p = split_inputs(3_001, 3)
    want = _kernels.split_global(g, mu, f, day, p)
    dni, dhi = np.full(2 * g.size, -1.0), np.full(g.size * 8 + 1, 0, np.uint8)[1:].view(np.float64)
    raw = np.zeros(g.size * 8 + 1, np.uint8)[1:].view(np.float64)
    raw[:] = mu
    _kernels.split_global(g[::-1][::-1], raw, np.repeat(f, 2)[::2], day, p, out=(dni[::2], dhi))
    np.testing.assert_array_equal(dni[::2], want[0])
    np.testing.assert_array_equal(dhi, want[1])
    assert (dni[1::2] == -1.0).all()
    inplace = g.copy(), mu.copy()
    _kernels.split_global(inplace[0], inplace[1], f, day, p, out=inplace)
    np.testing.assert_array_equal(inplace[0], want[0])
    np.testing.assert_array_equal(inplace[1], want[1])
    grid = _kernels.split_global(g[:6, None], mu[None, :4], 0.7, 100, 95000)
    assert grid[0].shape == (6, 4)
    assert grid[1][2, 3] == _kernels.split_global(g[2], mu[3], 0.7, 100.0, 95000.0)[1]
    assert isinstance(D.split_global(600.0, 0.5, 1.0, 172)[0], np.float64)


def test_split_of_a_bare_dask_array_stays_lazy():
    da = pytest.importorskip("dask.array")
    g, mu, f, day, p = split_inputs(1000, 4)
    lazy = D.split_global(da.from_array(g, chunks=300), mu, f, day, p)
    assert all(isinstance(x, da.Array) for x in lazy)
    for got, want in zip(lazy, _kernels.split_global(g, mu, f, day, p)):
        np.testing.assert_array_equal(got.compute(), want)


# --- the standing person -----------------------------------------------------

def person_numpy(zenith, longwave, scattered, beam, absorption):
    """The expression the job layer evaluated in NumPy."""
    with np.errstate(all="ignore"):
        gamma = 90.0 - zenith
        fp = 0.308 * np.cos(np.radians(gamma * (0.998 - gamma * gamma / 50000.0)))
        def tmrt(b):
            return ((longwave + absorption * (scattered + fp * b)) / SIGMA) ** 0.25 - 273.15
        return tmrt(beam), tmrt(0.0 * beam)


def ulps_off(got, want):
    """Distance in ulps of the temperature in kelvin, where the root is taken."""
    return np.abs(got - want) / np.spacing(want + 273.15)


def test_person_matches_the_numpy_expression():
    args = person_inputs(100_000, 5)
    sun, shade = comfort.standing_person(*args)
    ref_sun, ref_shade = person_numpy(*args)
    # sqrt(sqrt(x)) against pow(x, 0.25): each within about an ulp.
    assert ulps_off(sun, ref_sun).max() <= 2
    assert ulps_off(shade, ref_shade).max() <= 2
    assert (sun >= shade).all()
    no_beam = args[3] == 0
    np.testing.assert_array_equal(sun[no_beam], shade[no_beam])


def test_person_nan_where_numpy_is_nan_and_quiet():
    zenith = np.array([np.nan, 30.0, 30.0, 30.0, 30.0, 30.0, 30.0, 30.0])
    longwave = np.array([300.0, np.nan, 300.0, 300.0, 300.0, -900.0, 300.0, 300.0])
    scattered = np.array([50.0, 50.0, np.nan, 50.0, 50.0, 50.0, 50.0, -1e4])
    beam = np.array([500.0, 500.0, 500.0, np.nan, 500.0, 500.0, np.inf, 500.0])
    absorption = np.array([0.7, 0.7, 0.7, 0.7, np.nan, 0.7, 0.7, 0.7])
    with np.errstate(all="raise"):
        sun, shade = comfort.standing_person(zenith, longwave, scattered, beam, absorption)
    ref = person_numpy(zenith, longwave, scattered, beam, absorption)
    np.testing.assert_array_equal(np.isnan(sun), np.isnan(ref[0]))
    np.testing.assert_array_equal(np.isnan(shade), np.isnan(ref[1]))
    assert np.isnan(sun[:6]).all() and np.isnan(shade[:6]).all()   # NaN input or a negative sum
    assert sun[6] == np.inf and np.isnan(shade[6])                # an infinite beam: 0·∞ in shade
    assert np.isnan(sun[7]) and np.isnan(shade[7])


def test_person_matches_thermofeel():
    thermofeel = pytest.importorskip("thermofeel")
    rng = np.random.default_rng(6)
    n = 20_000
    cossza = rng.uniform(0.0, 1.0, n)
    ssrd = rng.uniform(0.0, 1000.0, n)
    fdir = ssrd * rng.uniform(0.0, 0.9, n)
    ssr = ssrd * rng.uniform(0.6, 0.9, n)
    dsrp = fdir / np.maximum(cossza, 0.05)
    strd = rng.uniform(200.0, 450.0, n)
    strr = -rng.uniform(0.0, 150.0, n)
    want = thermofeel.calculate_mean_radiant_temperature(ssrd, ssr, dsrp, strd, fdir, strr, cossza)
    zenith = np.degrees(np.arccos(cossza))
    longwave = 0.5 * strd + 0.5 * (strd - strr)
    scattered = 0.5 * (ssrd - fdir) + 0.5 * (ssrd - ssr)
    sun, _ = comfort.standing_person(zenith, longwave, scattered, dsrp, 0.7 / 0.97)
    # thermofeel's elevation comes from arcsin, ours from 90° − arccos.
    np.testing.assert_allclose(sun + 273.15, want, rtol=1e-13)


def test_person_broadcasting_strides_and_xarray_with_dask():
    args = person_inputs(2_000, 7)
    want = comfort.standing_person(*args)
    sun, shade = np.full(4_000, -1.0), np.empty(2_000)
    comfort.standing_person(args[0][::-1][::-1], np.repeat(args[1], 2)[::2], *args[2:4], 0.5,
                            out=(sun[::2], shade))
    again = comfort.standing_person(*args[:4], 0.5)
    np.testing.assert_array_equal(sun[::2], again[0])
    np.testing.assert_array_equal(shade, again[1])
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask.array")
    from quarnel._elementwise import outputs
    arrays = [xr.DataArray(a.reshape(40, 50), dims=("y", "x")).chunk(y=16) for a in args]
    lazy = outputs(comfort.standing_person, *arrays)
    assert all(x.chunks is not None and x.dims == ("y", "x") for x in lazy)
    for got, ref in zip(lazy, want):
        np.testing.assert_array_equal(got.compute().values.ravel(), ref)


# --- the cores and the instruction-set levels ------------------------------

def test_large_arrays_split_over_the_cores_give_the_same_bits():
    for ufunc, args in ((_kernels.split_global, split_inputs(400_003, 8)),
                        (comfort.standing_person, person_inputs(400_003, 8))):
        whole = ufunc(*args)
        pieces = [ufunc(*(a[k:k + 999] for a in args)) for k in range(0, 400_003, 999)]
        for i in range(2):
            np.testing.assert_array_equal(whole[i], np.concatenate([p[i] for p in pieces]))


CHILD = """
import sys, numpy as np
from quarnel import _kernels, comfort
from support.kernel_inputs import person_inputs, split_inputs
print(_kernels.isa)
sys.stdout.flush()
np.save(sys.argv[1], np.stack(_kernels.split_global(*split_inputs(50_003, 9))
                              + comfort.standing_person(*person_inputs(50_003, 9))))
"""


@pytest.mark.parametrize("level", LEVELS)
def test_every_level_gives_the_same_bits(level, tmp_path):
    if LEVELS.index(level) > LEVELS.index(processor_level()):
        pytest.skip(f"the processor's own level is {processor_level()}")
    env = child_env()
    env["QUARNEL_ISA"] = level
    path = tmp_path / "r.npy"
    run = subprocess.run([sys.executable, "-c", CHILD, str(path)], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split()[0] == level
    want = np.stack(_kernels.split_global(*split_inputs(50_003, 9))
                    + comfort.standing_person(*person_inputs(50_003, 9)))
    np.testing.assert_array_equal(np.load(path).view(np.uint64), want.view(np.uint64))
