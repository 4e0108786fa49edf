"""The sun of an interval against a fine numerical integral of the
instantaneous sun of quarnel.ufunc.Zenitwinkel."""

import numpy as np
import pytest

from quarnel import ufunc as U
from quarnel.interval_sun import declination, interval_cos_zenith

# Night, polar night and NaN are expected inputs: no warnings.
pytestmark = pytest.mark.filterwarnings("error::RuntimeWarning")


def numerical(t_end, lat, day, hours, points=20001):
    """Mean cos z over the sunlit part and the sunlit fraction, from cos z
    on a fine grid, linear between grid points (so that sunrise and sunset
    fall between them, not on them)."""
    t_end, lat, day, hours = np.broadcast_arrays(*map(np.asarray, (t_end, lat, day, hours)))
    s = np.linspace(0.0, 1.0, points)
    t = t_end[..., None] - hours[..., None] * (1.0 - s)
    with np.errstate(invalid="ignore"):   # an arcsine rounded past 1
        c = np.cos(np.radians(U.Zenitwinkel(t, lat[..., None], day[..., None])))
    c0, c1 = c[..., :-1], c[..., 1:]
    dt = (hours / (points - 1))[..., None]
    both, one = (c0 > 0) & (c1 > 0), (c0 > 0) != (c1 > 0)
    part = np.where(one, np.maximum(c0, c1) / np.where(one, np.abs(c0 - c1), 1.0), 0.0)
    length = np.where(both, dt, np.where(one, dt * part, 0.0)).sum(-1)
    integral = np.where(both, dt * (c0 + c1) / 2,
                        np.where(one, dt * part * np.maximum(c0, c1) / 2, 0.0)).sum(-1)
    mu = np.where(length > 0, integral / np.where(length > 0, length, 1.0), 0.0)
    return mu, length / hours


@pytest.mark.parametrize("hours", [1.0, 3.0, 24.0])
def test_random_intervals_match_the_integral(hours):
    rng = np.random.default_rng(int(hours))
    n = 120
    t_end = rng.uniform(-12.0, 36.0, n)
    lat = rng.uniform(-89.0, 89.0, n)
    day = rng.integers(1, 367, n).astype(float)
    mu, frac = interval_cos_zenith(t_end, lat, day, hours)
    ref_mu, ref_frac = numerical(t_end, lat, day, hours)
    np.testing.assert_allclose(mu, ref_mu, rtol=0, atol=1e-6)
    np.testing.assert_allclose(frac, ref_frac, rtol=0, atol=1e-6)
    # The draw holds nights, full days and intervals with a sunrise or sunset.
    if hours < 24:
        assert (frac == 0).any() and (frac == 1).any() and ((frac > 0) & (frac < 1)).any()


@pytest.mark.parametrize("t_end,lat,day,hours", [
    (4.5, 50.0, 172, 1.0),      # sunrise inside (about 3.9 h)
    (20.5, 50.0, 172, 1.0),     # sunset inside
    (21.0, 50.0, 172, 3.0),
    (15.0, 65.0, 355, 6.0),     # a short winter day: sunrise and sunset in one interval
    (16.0, 65.0, 355, 30.0),    # more than a day: two sunsets, one sunrise
    (13.0, -45.0, 10, 49.5),    # two days and a half
    (1.0, 78.0, 172, 3.0),      # polar day, across midnight
    (1.0, -72.0, 172, 3.0),     # polar night
    (2.0, 66.0, 172, 24.0),     # midnight sun just grazing the horizon
    (12.0, 0.0, 80, 24.0),
])
def test_named_cases_match_the_integral(t_end, lat, day, hours):
    mu, frac = interval_cos_zenith(t_end, lat, day, hours)
    ref_mu, ref_frac = numerical(t_end, lat, day, hours, points=200001)
    assert mu == pytest.approx(ref_mu, abs=1e-6)
    assert frac == pytest.approx(ref_frac, abs=1e-6)


def test_polar_day_night_and_poles():
    dec = np.radians(declination(172))
    # Polar day: sunlit all day; over a day the mean is sin δ sin φ.
    mu, frac = interval_cos_zenith(17.0, 80.0, 172, 24.0)
    assert frac == 1.0
    assert mu == pytest.approx(np.sin(dec) * np.sin(np.radians(80.0)), rel=1e-13)
    assert interval_cos_zenith(3.0, 80.0, 355, 5.0) == (0.0, 0.0)
    # Polar night over noon, where the sun comes closest: not a rounding of sun.
    t_end = np.linspace(12.01, 23.99, 200)
    for lat, day in ((80.0, 355), (-80.0, 172)):
        mu, frac = interval_cos_zenith(t_end, lat, day, t_end - 11.7)
        assert not mu.any() and not frac.any()
    # At the poles the sun circles at one height.
    for hours in (0.0, 0.5, 7.0, 24.0, 100.0):
        mu, frac = interval_cos_zenith(5.0, 90.0, 172, hours)
        assert (mu, frac) == (pytest.approx(np.sin(dec), rel=1e-12), 1.0)
        assert interval_cos_zenith(5.0, -90.0, 172, hours) == (0.0, 0.0)


def test_midnight_and_whole_days_shift_nothing():
    lat, day = np.array([40.0, 69.0, -30.0]), np.array([120.0, 172.0, 300.0])
    base = interval_cos_zenith(0.5, lat, day, 3.0)
    for t_end, hours in ((24.5, 3.0), (-23.5, 3.0), (48.5, 3.0)):
        np.testing.assert_allclose(interval_cos_zenith(t_end, lat, day, hours), base,
                                   rtol=0, atol=1e-13)
    # A day and a half: one whole day plus the last half day.
    mu1, f1 = interval_cos_zenith(18.0, lat, day, 36.0)
    mu_day, f_day = interval_cos_zenith(18.0, lat, day, 24.0)
    mu_half, f_half = interval_cos_zenith(18.0, lat, day, 12.0)
    np.testing.assert_allclose(f1 * 36, f_day * 24 + f_half * 12, atol=1e-12)
    np.testing.assert_allclose(mu1 * f1 * 36, mu_day * f_day * 24 + mu_half * f_half * 12,
                               atol=1e-12)


def test_zero_hours_is_the_sun_of_the_moment():
    t = np.linspace(0.0, 24.0, 97)[:, None]
    lat = np.array([-60.0, 0.0, 51.5, 75.0])
    cos_z = np.cos(np.radians(U.Zenitwinkel(t, lat, 172)))
    mu, frac = interval_cos_zenith(t, lat, 172, 0.0)
    np.testing.assert_allclose(mu, np.maximum(cos_z, 0.0), rtol=0, atol=1e-14)
    np.testing.assert_array_equal(frac, np.where(mu > 0, 1.0, 0.0))
    # Short intervals tend to it.
    mu_short, frac_short = interval_cos_zenith(t + 1e-7, lat, 172, 2e-7)
    sunlit = np.abs(cos_z) > 1e-6
    np.testing.assert_allclose(mu_short[sunlit], mu[sunlit], rtol=0, atol=1e-9)
    np.testing.assert_array_equal(frac_short[sunlit], frac[sunlit])


def test_nan_and_invalid_inputs_give_nan():
    args = [np.array([12.0, 12.0]), np.array([50.0, 50.0]),
            np.array([172.0, 172.0]), np.array([1.0, 1.0])]
    for i, bad in enumerate((np.nan, np.nan, np.nan, np.nan)):
        a = [x.copy() for x in args]
        a[i][0] = bad
        mu, frac = interval_cos_zenith(*a)
        assert np.isnan(mu[0]) and np.isnan(frac[0])
        assert mu[1] > 0 and frac[1] == 1.0
    assert np.isnan(interval_cos_zenith(12.0, 50.0, 172, -1.0)).all()
    assert np.isnan(interval_cos_zenith(np.inf, 50.0, 172, 1.0)).all()
    assert np.isnan(interval_cos_zenith(12.0, 91.0, 172, 1.0)).all()


def test_xarray_keeps_dims_and_dask_stays_lazy():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask.array")
    t = xr.DataArray(np.arange(0.5, 24.0, 1.0), dims="time")
    lat = xr.DataArray(np.array([-40.0, 10.0, 52.0, 80.0]), dims="lat")
    mu, frac = interval_cos_zenith(t, lat, 172, 1.0)
    assert mu.dims == frac.dims == ("time", "lat")
    ref_mu, ref_frac = interval_cos_zenith(t.values[:, None], lat.values, 172, 1.0)
    np.testing.assert_array_equal(mu.values, ref_mu)

    lazy_mu, lazy_frac = interval_cos_zenith(t.chunk(time=6), lat, 172, 1.0)
    assert lazy_mu.chunks is not None and lazy_frac.chunks is not None
    np.testing.assert_array_equal(lazy_mu.compute().values, ref_mu)
    np.testing.assert_array_equal(lazy_frac.compute().values, ref_frac)
