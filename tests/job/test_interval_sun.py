"""The sun of an interval, and the middle of its sunlit part, against a
fine numerical integral of the instantaneous sun of
quarnel.ufunc.Zenitwinkel, and the compiled sun
(quarnel._kernels.interval_cos_zenith) against its NumPy reference."""

import numpy as np
import pytest

from quarnel import ufunc as U
from quarnel import _kernels
from quarnel.tmrt.interval_sun import (_interval_cos_zenith_numpy, declination,
                                       interval_cos_zenith, sunlit_middle)

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
    # Also where the interval's angle rounds to nothing.
    assert interval_cos_zenith(12.0, 50.0, 172, 5e-324) == interval_cos_zenith(12.0, 50.0, 172, 0.0)
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


# --- where the sunlit part lies ------------------------------------------------

def numerical_middle(t_end, lat, day, hours, points=40001):
    """The middle of the longest run of sunlit points (cos z > 0) of a fine
    grid over the interval, the run's length [h], the second longest's;
    NaN without sun."""
    s = np.linspace(0.0, 1.0, points)
    out = []
    for t1, la, d, h in np.broadcast(t_end, lat, day, hours):
        t = t1 - h * (1.0 - s)
        with np.errstate(invalid="ignore"):   # an arcsine rounded past 1
            up = np.cos(np.radians(U.Zenitwinkel(t, la, d))) > 0
        edges = np.flatnonzero(np.diff(np.concatenate(([0], up.astype(int), [0]))))
        runs = sorted(((t[b - 1] - t[a], 0.5 * (t[a] + t[b - 1]))
                       for a, b in zip(edges[::2], edges[1::2])), reverse=True)
        runs += [(np.nan, np.nan)] * 2
        out.append((runs[0][1], runs[0][0], runs[1][0]))
    return np.array(out).T


@pytest.mark.parametrize("hours", [1.0, 3.0, 12.0, 24.0])
def test_the_sunlit_parts_middle_matches_a_fine_grid(hours):
    """Sunrise and sunset hours, short winter days inside an interval, a
    sunset and the next sunrise (the longer piece), polar day."""
    rng = np.random.default_rng(100 + int(hours))
    n = 150
    t_end = rng.uniform(-12.0, 36.0, n)
    lat = rng.uniform(-89.0, 89.0, n)
    day = rng.integers(1, 367, n).astype(float)
    got = sunlit_middle(t_end, lat, day, hours)
    middle, longest, second = numerical_middle(t_end, lat, day, hours)
    step = hours / 40000
    clear = ~np.isnan(middle) & ~(np.abs(longest - second) < 4 * step)   # no near tie
    np.testing.assert_allclose(got[clear], middle[clear], rtol=0, atol=2 * step)
    _, frac = interval_cos_zenith(t_end, lat, day, hours)
    partial = clear & (frac > 0) & (frac < 1)
    assert partial.sum() > 10 and (clear & (frac == 1)).any()
    if hours == 12.0:
        assert (second > 0).any()                 # two pieces drawn
    # Without sun: a time of the interval all the same.
    dark = np.isnan(middle)
    assert dark.any() and ((got[dark] >= t_end[dark] - hours) & (got[dark] <= t_end[dark])).all()


def test_the_sunlit_middle_of_moments_and_bad_inputs():
    t = np.array([3.0, 12.0, 22.0])
    np.testing.assert_array_equal(sunlit_middle(t, 50.0, 172, 0.0), t)
    assert sunlit_middle(1.0, 80.0, 172, 3.0) == pytest.approx(-0.5, abs=1e-12)   # polar day
    for args in ((np.nan, 50.0, 172, 1.0), (12.0, np.nan, 172, 1.0), (12.0, 50.0, np.nan, 1.0),
                 (12.0, 50.0, 172, -1.0), (np.inf, 50.0, 172, 1.0), (12.0, 91.0, 172, 1.0)):
        assert np.isnan(sunlit_middle(*args))


# --- the compiled sun against the NumPy reference ----------------------------

def sun_inputs(n, seed):
    """Solar time at the end [h], latitude [°], day [d], hours [h]: random,
    then sunrise and sunset inside, polar edges, poles, long intervals,
    hours 0, huge values and invalid inputs."""
    rng = np.random.default_rng(seed)
    t = rng.uniform(-30.0, 60.0, n)
    lat = rng.uniform(-90.0, 90.0, n)
    day = np.where(rng.random(n) < 0.7, rng.integers(1, 367, n), rng.uniform(-400, 800, n))
    h = rng.choice([0.0, 1.0, 3.0, 24.0, 1e-9], n)
    h = np.where(rng.random(n) < 0.5, h, rng.uniform(0.0, 100.0, n))
    k = n // 10
    # Latitudes where the sun just rises or just stays up: |tan φ tan δ| near 1.
    dec = np.radians(declination(day[:k]))
    edge = np.degrees(np.arctan(1.0 / np.abs(np.tan(dec))))
    lat[:k] = np.where(rng.random(k) < 0.5, 1.0, -1.0) * (edge + 10.0 ** rng.uniform(-12, 0, k))
    lat[k:k + 40] = [90.0, -90.0, 0.0, -0.0, 89.999999, -89.999999, 66.56, -66.56] * 5
    h[2 * k:2 * k + 60] = [1e6, 1e300, 48.0, 240.0, 1e-300, 5e-324] * 10
    t[2 * k + 60:2 * k + 90] = [1e300, -1e300, 24.0, 0.0, -0.0, 12.0] * 5
    bad = 3 * k + np.arange(10)
    t[bad[0]], lat[bad[1]], day[bad[2]], h[bad[3]] = np.nan, np.nan, np.nan, np.nan
    t[bad[4]], day[bad[5]], h[bad[6]] = np.inf, -np.inf, np.inf
    lat[bad[7]], lat[bad[8]], h[bad[9]] = 90.0000001, -91.0, -1e-300
    return t, lat, day, h


def sunrise_conditioning(lat, day):
    """sqrt(1 − (tan φ tan δ)²), 0 where the sun neither rises nor sets: the
    sunrise hour angle arccos(a/b) moves by an ulp of a/b over this."""
    with np.errstate(all="ignore"):
        dec, phi = np.radians(declination(day)), np.radians(lat)
        r = np.abs(np.sin(dec) * np.sin(phi) / (np.cos(phi) * np.cos(dec)))
        return np.sqrt(np.maximum(1.0 - np.minimum(r, 1.0) ** 2, 0.0))


def test_compiled_matches_the_numpy_reference():
    t, lat, day, h = sun_inputs(300_000, 11)
    mu, frac = _kernels.interval_cos_zenith(t, lat, day, h)
    with np.errstate(all="ignore"):
        ref_mu, ref_frac = _interval_cos_zenith_numpy(t, lat, day, h)
    np.testing.assert_array_equal(np.isnan(mu), np.isnan(ref_mu))
    np.testing.assert_array_equal(np.isnan(frac), np.isnan(mu))
    np.testing.assert_array_equal(np.isnan(ref_frac), np.isnan(ref_mu))
    assert np.isnan(mu[3 * 30_000:3 * 30_000 + 10]).all()
    ok = ~np.isnan(ref_mu)
    # The C library's sin, cos, asin and acos against NumPy's: a few ulps
    # of the terms, within 2e-15 on μ.
    np.testing.assert_allclose(mu[ok], ref_mu[ok], rtol=0, atol=4e-15)
    # The sunlit length [rad] moves with the sunrise hour angle, by a few
    # ulps of 2π away from the polar edge, by more near it (an arccos near
    # ±1), and once for every whole day; the fraction is that over the
    # interval's length.
    whole = h[ok] * np.pi / 12
    length_off = np.abs(frac[ok] - ref_frac[ok]) * whole
    bound = 1e-14 * (1.0 + 1.0 / np.maximum(sunrise_conditioning(lat[ok], day[ok]), 1e-8))
    bound *= 1.0 + np.floor(h[ok] / 24.0)
    assert (length_off <= bound).all(), np.flatnonzero(length_off > bound)[:5]
    assert (np.abs(frac[ok] - ref_frac[ok])[h[ok] >= 1.0] < 1e-10).all()
    # Nights and the sun of the moment agree to the bit; so do most elements.
    night = ok & (ref_frac == 0)
    np.testing.assert_array_equal(mu[night], 0.0)
    np.testing.assert_array_equal(frac[night], 0.0)
    moment = ok & (h == 0)
    np.testing.assert_array_equal(frac[moment], ref_frac[moment])
    assert (mu == ref_mu).mean() > 0.9 and (frac == ref_frac).mean() > 0.9
    assert ((frac >= 0) & (frac <= 1) & (mu >= 0) & (mu <= 1))[ok].all()


def test_compiled_is_quiet():
    t, lat, day, h = sun_inputs(50_000, 12)
    with np.errstate(all="raise"):
        _kernels.interval_cos_zenith(t, lat, day, h)
        assert np.isnan(interval_cos_zenith(np.inf, np.nan, -np.inf, -1.0)).all()
        assert interval_cos_zenith(1e300, 0.0, 1e300, 1e300)[1] <= 1.0


def test_compiled_broadcasting_strides_out_and_the_cores():
    t, lat, day, h = sun_inputs(400_003, 13)
    whole = _kernels.interval_cos_zenith(t, lat, day, h)
    pieces = [_kernels.interval_cos_zenith(t[k:k + 997], lat[k:k + 997], day[k:k + 997], h[k:k + 997])
              for k in range(0, t.size, 997)]
    for i in range(2):
        np.testing.assert_array_equal(whole[i], np.concatenate([p[i] for p in pieces]))
    n = 3_001
    want = _kernels.interval_cos_zenith(t[:n], lat[:n], day[:n], h[:n])
    mu = np.full(2 * n, -1.0)
    frac = np.zeros(n * 8 + 1, np.uint8)[1:].view(np.float64)
    raw = np.zeros(n * 8 + 1, np.uint8)[1:].view(np.float64)
    raw[:] = lat[:n]
    _kernels.interval_cos_zenith(t[:n][::-1][::-1], raw, np.repeat(day[:n], 2)[::2], h[:n],
                                 out=(mu[::2], frac))
    np.testing.assert_array_equal(mu[::2], want[0])
    np.testing.assert_array_equal(frac, want[1])
    assert (mu[1::2] == -1.0).all()
    grid = _kernels.interval_cos_zenith(np.arange(0.5, 24.0)[:, None], lat[None, :7], 172, 1.0)
    assert grid[0].shape == (24, 7)
    assert grid[1][5, 3] == _kernels.interval_cos_zenith(5.5, lat[3], 172.0, 1.0)[1]
    assert isinstance(interval_cos_zenith(12.0, 50.0, 172, 1.0)[0], np.float64)


def test_a_bare_dask_array_stays_lazy():
    da = pytest.importorskip("dask.array")
    t, lat, day, h = sun_inputs(1000, 14)
    lazy = interval_cos_zenith(da.from_array(t, chunks=300), lat, day, h)
    assert all(isinstance(x, da.Array) for x in lazy)
    for got, want in zip(lazy, _kernels.interval_cos_zenith(t, lat, day, h)):
        np.testing.assert_array_equal(got.compute(), want)
