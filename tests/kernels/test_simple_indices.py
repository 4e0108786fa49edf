"""The indices weather services publish (quarnel.comfort.heat_index, humidex,
apparent_temperature, wind_chill): against the peers that implement the same
definition (thermofeel, MetPy, xclim) and published values, with each
domain."""

import warnings

import numpy as np
import pytest

from quarnel import comfort as C

EXACT = 1e-9  # [K]


def fahrenheit(t):
    return t * 1.8 + 32


@pytest.fixture(autouse=True)
def quiet_peers():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        yield


# --- heat index -----------------------------------------------------------------

def test_heat_index_is_the_nws_procedure_as_thermofeel_computes_it():
    tf = pytest.importorskip("thermofeel")
    rng = np.random.default_rng(1)
    n = 200_000
    # Above 40 °F (thermofeel, like Anderson et al. 2013, returns T below),
    # thick where the branches and the two adjustments switch.
    ta = np.concatenate([rng.uniform(4.5, 55, n), rng.uniform(25, 45, n)])
    td = ta - np.concatenate([rng.uniform(0, 45, n), rng.uniform(15, 40, n // 2), rng.uniform(0, 2, n // 2)])
    rh = tf.calculate_relative_humidity_percent(ta + 273.15, td + 273.15)
    want = tf.calculate_heat_index_adjusted(ta + 273.15, td + 273.15) - 273.15
    got = C.heat_index(ta, rh)
    np.testing.assert_allclose(got, want, rtol=0, atol=EXACT)
    f = fahrenheit(ta)
    assert ((rh < 13) & (f >= 80) & (f <= 112)).sum() > 1000  # the dry adjustment
    assert ((rh > 85) & (f >= 80) & (f <= 87)).sum() > 1000   # the humid one
    simple = 0.5 * (f + 61 + (f - 68) * 1.2 + rh * 0.094)
    near = np.abs(0.5 * (simple + f) - 80) < 0.5
    assert near.sum() > 1000  # the switch to Rothfusz's regression


def test_heat_index_agrees_with_metpy_away_from_its_switch():
    mpcalc = pytest.importorskip("metpy.calc")
    units = pytest.importorskip("metpy.units").units
    rng = np.random.default_rng(2)
    ta = rng.uniform(4.5, 55, 100_000)
    rh = rng.uniform(0, 100, 100_000)
    want = np.asarray(mpcalc.heat_index(ta * units.degC, rh * units.percent, mask_undefined=False).m_as("degC"))
    # MetPy switches to the regression by Anderson et al.'s (2013) rule, a
    # little apart from the NWS's mean of the simple form and T.
    f = fahrenheit(ta)
    simple = 0.5 * (f + 61 + (f - 68) * 1.2 + rh * 0.094)
    away = np.abs(0.5 * (simple + f) - 80) > 2.5
    assert away.mean() > 0.8
    np.testing.assert_allclose(C.heat_index(ta, rh)[away], want[away], rtol=0, atol=EXACT)
    # Its documented example: 30 °C at 90 % (with the humid adjustment).
    assert C.heat_index(30.0, 90.0) == pytest.approx(40.774647, abs=1e-6)


def test_heat_index_domain():
    got = C.heat_index([30.0, 30.0, 30.0, 30.0, np.nan, np.inf, -30.0], [-1e-9, 100.000001, 0.0, 100.0, 50.0, 50.0, 50])
    np.testing.assert_array_equal(np.isfinite(got), [False, False, True, True, False, False, True])
    # Below the switch the simple form, for any temperature (NWS; no rule returns T).
    assert got[-1] == pytest.approx((0.5 * (-22 + 61 + (-22 - 68) * 1.2 + 50 * 0.094) - 32) / 1.8, abs=EXACT)


# --- humidex ----------------------------------------------------------------------

def test_humidex_against_xclim_s_vapour_pressure_and_environment_canada():
    xr = pytest.importorskip("xarray")
    xi = pytest.importorskip("xclim.indices")
    rng = np.random.default_rng(3)
    ta = rng.uniform(-30, 50, 50_000)
    td = ta - rng.uniform(0, 40, 50_000)
    x = xi.humidex(xr.DataArray(ta, dims="t", attrs={"units": "degC"}),
                   tdps=xr.DataArray(td + 273.15, dims="t", attrs={"units": "K"})).values
    # xclim writes 6.112 hPa and 5/9 where Masterton & Richardson and
    # Environment Canada write 6.11 and 0.5555: the same exponential.
    exponential = ((x - ta) * 9 / 5 + 10) / 6.112
    np.testing.assert_allclose(C.humidex(ta, td), ta + 0.5555 * (6.11 * exponential - 10), rtol=0, atol=1e-9)
    # Environment Canada's example: 30 °C with a dew point of 15 °C gives 34.
    assert round(float(C.humidex(30.0, 15.0))) == 34
    got = C.humidex([30.0, 30.0, np.nan, np.inf, 30.0], [-273.15, -273.0, 10.0, 10.0, 35.0])
    np.testing.assert_array_equal(np.isfinite(got), [False, True, False, False, True])


# --- apparent temperature ---------------------------------------------------------

def test_apparent_temperature_is_steadman_s_shade_form_as_thermofeel_s():
    tf = pytest.importorskip("thermofeel")
    rng = np.random.default_rng(4)
    ta = rng.uniform(-40, 50, 50_000)
    rh = rng.uniform(0, 100, 50_000)
    va = rng.uniform(0, 30, 50_000)
    # The Bureau of Meteorology's vapour pressure, which thermofeel uses.
    e = rh / 100 * 6.105 * np.exp(17.27 * ta / (237.7 + ta))
    want = tf.calculate_apparent_temperature(ta + 273.15, va, rh) - 273.15
    np.testing.assert_allclose(C.apparent_temperature(ta, e, va), want, rtol=0, atol=EXACT)
    got = C.apparent_temperature(20.0, [-1e-9, 0.0, 10.0, 10.0, np.inf], [1.0, 1.0, -1e-9, 0.0, 1.0])
    np.testing.assert_array_equal(np.isfinite(got), [False, True, False, True, False])


# --- wind chill ---------------------------------------------------------------------

def test_wind_chill_against_metpy_xclim_and_thermofeel():
    mpcalc = pytest.importorskip("metpy.calc")
    units = pytest.importorskip("metpy.units").units
    tf = pytest.importorskip("thermofeel")
    xr = pytest.importorskip("xarray")
    xi = pytest.importorskip("xclim.indices")
    rng = np.random.default_rng(5)
    ta = rng.uniform(-50, 15, 50_000)
    va = rng.uniform(0, 30, 50_000)
    got = C.wind_chill(ta, va)
    m = mpcalc.windchill(ta * units.degC, va * units("m/s"), mask_undefined=True).m_as("degC")
    m = np.ma.filled(np.ma.asarray(m, dtype=float), np.nan)
    x = xi.wind_chill_index(xr.DataArray(ta, dims="t", attrs={"units": "degC"}),
                            xr.DataArray(va, dims="t", attrs={"units": "m/s"}), method="US").values
    t = tf.calculate_wind_chill(ta + 273.15, va) - 273.15
    # MetPy and xclim mask below 3 mph (4.83 km/h), JAG/TI below 4.8 km/h.
    both = np.isfinite(got) & np.isfinite(m)
    assert both.mean() > 0.6
    for want in (m, x, t):
        np.testing.assert_allclose(got[both], want[both], rtol=0, atol=EXACT)
    assert np.isnan(got[ta > 10]).all() and np.isnan(got[va * 3.6 < 4.8]).all()
    assert np.isfinite(got[(ta <= 10) & (va * 3.6 >= 4.8)]).all()


def test_wind_chill_published_values_and_bounds():
    # Environment Canada's table at -20 °C: 5, 10 and 30 km/h; the NWS chart: 0 °F at 15 mph.
    kmh = np.array([5.0, 10.0, 30.0])
    assert list(np.round(C.wind_chill(-20.0, kmh / 3.6))) == [-24, -27, -33]
    assert round(float(fahrenheit(C.wind_chill((0 - 32) / 1.8, 15 * 0.44704)))) == -19
    edge = 4.8 / 3.6
    got = C.wind_chill([10.0, np.nextafter(10.0, 11), 0.0, 0.0, np.nan, 0.0],
                       [5.0, 5.0, edge, np.nextafter(edge, 0), 5.0, np.inf])
    np.testing.assert_array_equal(np.isfinite(got), [True, False, True, False, False, False])


# --- all four as ufuncs -------------------------------------------------------------

@pytest.mark.parametrize("fn,args", [
    (C.heat_index, (35.0, 60.0)), (C.humidex, (30.0, 20.0)),
    (C.apparent_temperature, (30.0, 20.0, 3.0)), (C.wind_chill, (-5.0, 6.0)),
])
def test_ufunc_protocol(fn, args):
    assert (fn.nin, fn.nout) == (len(args), 1)
    n = 5000
    rng = np.random.default_rng(6)
    arrays = [a + rng.uniform(-1, 1, n) for a in args]
    want = fn(*arrays)
    assert [fn(*(x[j] for x in arrays)) for j in (0, 17)] == [want[0], want[17]]
    np.testing.assert_array_equal(fn(*(a.astype(np.float32) for a in arrays)),
                                  fn(*(a.astype(np.float32).astype(float) for a in arrays)))
    out = np.empty(n)
    assert fn(*arrays, out=out) is out and (out == want).all()
    wide = np.zeros((len(args), 2 * n))
    wide[:, ::2] = arrays
    np.testing.assert_array_equal(fn(*wide[:, ::2]), want)
    assert fn(arrays[0][:, None], *(a[None, :3] for a in arrays[1:])).shape == (n, 3)
    with np.errstate(all="raise"):
        assert np.isnan(fn(*([np.nan] * len(args))))


def test_dask_stays_lazy():
    da = pytest.importorskip("dask.array")
    ta = np.linspace(-20, 45, 40)
    lazy = C.heat_index(da.from_array(ta, chunks=10), 60.0)
    assert isinstance(lazy, da.Array)
    np.testing.assert_array_equal(lazy.compute(), C.heat_index(ta, 60.0))
