"""DISC against pvlib's, and the split of interval-mean global radiation:
its guarantees hold exactly, after rounding."""

import contextlib

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

from quarnel.tmrt import decomposition as D
from quarnel.tmrt.decomposition import disc, extraterrestrial_normal, split_global, station_pressure

pvlib = pytest.importorskip("pvlib")

pytestmark = pytest.mark.filterwarnings("error::RuntimeWarning")


def pvlib_disc(ghi, cos_zenith, day, pressure):
    zenith = np.degrees(np.arccos(cos_zenith))
    with np.errstate(all="ignore"):   # pvlib warns below the horizon
        return pvlib.irradiance.disc(ghi, zenith, day, pressure)["dni"]


def test_disc_matches_pvlib_on_edges():
    zenith = np.concatenate([np.linspace(0.0, 84.0, 29), np.linspace(85.0, 90.0, 51),
                             [86.273, 87.0, 87.0000001, 92.0, 120.0, 180.0]])
    ghi = np.array([0.0, 0.5, 12.0, 80.0, 250.0, 480.0, 700.0, 950.0, 1150.0, 1400.0, 4000.0])
    pressure = np.array([45000.0, 80000.0, 101325.0, 108000.0])
    z, g, p = np.meshgrid(zenith, ghi, pressure, indexing="ij")
    day = (np.arange(z.size) % 366 + 1.0).reshape(z.shape)   # every day of the year
    mu = np.cos(np.radians(z))
    ours, ref = disc(g, mu, day, p), pvlib_disc(g, mu, day, p)
    # kt above 1 (cut to 1), DNI > 0 and cut to 0 all occur.
    assert (g > extraterrestrial_normal(day) * np.maximum(mu, 0.065)).any()
    assert (ours > 0).any() and (ours[z < 87] == 0).any()
    # DISC's Kn is a difference of two near numbers: a small DNI is known
    # to about 1e-11 W/m², a large one to 1e-13 relative.
    np.testing.assert_allclose(ours, ref, rtol=1e-12, atol=1e-9)


def test_disc_nan_negative_and_scalars():
    assert np.isnan(disc(np.nan, 0.5, 172, 101325.0))
    assert np.isnan(disc(np.nan, 0.01, 172, 101325.0))     # pvlib: 0 here
    assert np.isnan(disc(500.0, np.nan, 172, 101325.0))
    assert np.isnan(disc(500.0, 0.5, 172, np.nan))
    assert disc(-3.0, 0.5, 172) == 0.0
    assert disc(600.0, 0.7, 172) == pytest.approx(pvlib_disc(600.0, 0.7, 172, 101325.0),
                                                  rel=1e-12)


def test_extraterrestrial_and_pressure_match_pvlib():
    day = np.arange(1.0, 367.0)
    np.testing.assert_allclose(extraterrestrial_normal(day),
                               pvlib.irradiance.get_extra_radiation(day, 1370.0, "spencer"),
                               rtol=1e-15)
    height = np.array([-400.0, 0.0, 40.0, 1500.0, 4800.0, 12000.0])
    np.testing.assert_allclose(station_pressure(height), pvlib.atmosphere.alt2pres(height),
                               rtol=1e-15)
    assert station_pressure(50000.0) == 0.0


fraction = st.one_of(st.just(0.0), st.just(1.0), st.floats(0.0, 1.0))
cos_z = st.one_of(st.just(0.0), st.floats(0.0, 1.0), st.floats(0.04, 0.08))
flux = st.one_of(st.just(0.0), st.floats(0.0, 1500.0), st.floats(0.0, 1e-3))
day_st = st.integers(1, 366)
pressure_st = st.floats(50000.0, 106000.0)


def check_guarantees(g, mu, f, dni, dhi):
    assert dni >= 0 and dhi >= 0
    assert dni * mu <= g
    assert dhi == g - dni * mu
    if f == 0 or mu == 0:
        assert dni == 0 and dhi == g


@given(flux, cos_z, fraction, day_st, pressure_st)
def test_split_guarantees(g, mu, f, day, p):
    dni, dhi = split_global(g, mu, f, day, p)
    check_guarantees(g, mu, f, dni, dhi)
    if g == 0:
        assert (dni, dhi) == (0.0, 0.0)


@contextlib.contextmanager
def overshooting_model():
    """DISC replaced by a model that gives far too much direct radiation."""
    original = D._disc_direct

    def overshoot(kt, cos_zenith, i0, pressure):
        dni, zenith = original(kt, cos_zenith, i0, pressure)
        return dni * 0 + 1e6, zenith
    D._disc_direct = overshoot
    try:
        yield
    finally:
        D._disc_direct = original


@given(st.floats(1e-6, 1500.0), cos_z, fraction, day_st)
def test_split_limits_a_model_that_overshoots(g, mu, f, day):
    # DISC itself stays well inside the global radiation; the limit is
    # what holds an overshooting beam to DNI·μ ≤ G, DHI ≥ 0 after rounding.
    # (The model can be swapped in the NumPy reference alone.)
    with overshooting_model():
        dni, dhi = D._split_global_numpy(g, mu, f, day)
    check_guarantees(g, mu, f, dni, dhi)
    if np.degrees(np.arccos(mu)) <= 87 and f * 1e6 * mu > 2 * g:   # the limit binds
        assert dhi <= 1e-12 * g


def test_split_of_an_interval_is_the_sunlit_split_scaled():
    rng = np.random.default_rng(3)
    n = 5000
    g = rng.uniform(0.0, 900.0, n)
    mu = rng.uniform(0.0, 1.0, n)
    f = rng.uniform(0.05, 1.0, n)
    day = rng.integers(1, 367, n).astype(float)
    dni, dhi = split_global(g, mu, f, day, 95000.0)
    # While sunlit: G/f with its sun, split by DISC.
    sunlit = np.minimum(disc(g / f, mu, day, 95000.0), g / f / np.where(mu > 0, mu, 1.0))
    np.testing.assert_allclose(dni, f * sunlit, rtol=1e-12, atol=1e-9)
    np.testing.assert_array_equal(dhi, g - dni * mu)


def test_split_night_nan_and_arrays():
    g = np.array([0.0, 300.0, 300.0, -2.0, np.nan, 300.0, 300.0, 300.0])
    mu = np.array([0.0, 0.0, 0.6, 0.6, 0.6, np.nan, 0.6, 0.6])
    f = np.array([0.0, 0.4, 0.0, 1.0, 1.0, 1.0, np.nan, 1.0])
    day = np.array([172.0] * 7 + [np.nan])
    dni, dhi = split_global(g, mu, f, day)
    np.testing.assert_array_equal(dni, [0.0, 0.0, 0.0, 0.0] + [np.nan] * 4)
    np.testing.assert_array_equal(dhi, [0.0, 300.0, 300.0, 0.0] + [np.nan] * 4)
    dni, dhi = split_global(700.0, 0.8, 1.0, 172, 101325.0)
    assert dni == pytest.approx(pvlib_disc(700.0, 0.8, 172, 101325.0), rel=1e-12)
    assert isinstance(dni, np.floating) and dhi == 700.0 - dni * 0.8


def test_xarray_keeps_dims_and_dask_stays_lazy():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask.array")
    g = xr.DataArray(np.linspace(0.0, 900.0, 12), dims="time")
    mu = xr.DataArray(np.array([0.0, 0.1, 0.5, 0.95]), dims="lat")
    dni, dhi = split_global(g, mu, 0.8, 200, station_pressure(300.0))
    assert dni.dims == dhi.dims == ("time", "lat")
    ref = split_global(g.values[:, None], mu.values, 0.8, 200, station_pressure(300.0))
    np.testing.assert_array_equal(dni.values, ref[0])

    lazy = split_global(g.chunk(time=4), mu, 0.8, 200, station_pressure(300.0))
    assert all(x.chunks is not None for x in lazy)
    np.testing.assert_array_equal(lazy[0].compute().values, ref[0])
    np.testing.assert_array_equal(lazy[1].compute().values, ref[1])
    assert disc(g.chunk(time=4), mu, 200).chunks is not None
