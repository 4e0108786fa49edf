"""What stations and reanalyses measure beyond the usual, used as given: a
globe thermometer (ISO 7726, against pythermalcomfort and the formula
written out), wind at another height (Bröde et al. 2012's log law), a
four-component radiometer and a measured surface temperature, ERA5-Land
without cloud cover, and ERA5's orography for the height."""

import math

import numpy as np
import pytest

from quarnel import tmrt

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")

SITE = dict(latitude=48.2, longitude=16.4)
SIGMA = 5.67e-8


def noon(n=6, **extra):
    times = np.datetime64("2023-07-12T09:00") + np.arange(n).astype("timedelta64[h]")
    return {"time": times, "air_temperature": np.linspace(24.0, 31.0, n),
            "relative_humidity": np.linspace(60.0, 35.0, n), "cloud_cover": np.full(n, 2.0),
            "wind_speed": np.linspace(0.2, 6.0, n), **extra}


# --- a globe thermometer ---------------------------------------------------------

def iso_7726(tg, ta, va, d, eps=0.95):
    """ISO 7726 Annex B written out: forced and natural convection, the larger."""
    forced = 6.3 * va ** 0.6 / d ** 0.4
    natural = 1.4 * (abs(tg - ta) / d) ** 0.25
    return ((tg + 273.15) ** 4 + max(forced, natural) / (eps * SIGMA) * (tg - ta)) ** 0.25 - 273.15


@pytest.mark.parametrize("diameter", [0.15, 0.05])
def test_a_globe_gives_the_tmrt_of_iso_7726(diameter):
    obs = noon(globe_temperature=np.array([38.0, 45.0, 52.0, np.nan, 41.0, 29.0]))
    out = tmrt.compute(obs, globe_diameter=diameter, **SITE)
    modelled = tmrt.compute(noon(), **SITE)
    at_globe = obs["wind_speed"] * math.log10(1.1 / 0.01) / math.log10(10 / 0.01)
    for i, tg in enumerate(obs["globe_temperature"]):
        want = (modelled["mean_radiant_temperature"][i] if np.isnan(tg)
                else iso_7726(tg, obs["air_temperature"][i], at_globe[i], diameter))
        assert out["mean_radiant_temperature"][i] == pytest.approx(want, rel=1e-12)
    # shade stays modelled; the UTCI in the sun takes the globe's Tmrt
    np.testing.assert_array_equal(out["mean_radiant_temperature_shade"],
                                  modelled["mean_radiant_temperature_shade"])
    from quarnel import comfort
    np.testing.assert_array_equal(out["utci"], comfort.utci(
        obs["air_temperature"], out["mean_radiant_temperature"],
        np.maximum(obs["wind_speed"], 0.5), out["vapour_pressure"]))
    env = pytest.importorskip("pythermalcomfort.environment")
    ref = env.mean_radiant_tmp(tg=obs["globe_temperature"], tdb=obs["air_temperature"],
                               v=at_globe, d=diameter, emissivity=0.95, standard="ISO")
    np.testing.assert_allclose(out["mean_radiant_temperature"], np.where(
        np.isnan(ref), modelled["mean_radiant_temperature"], ref), rtol=1e-12)


def test_the_globe_in_calm_air_is_warmer_than_the_air_when_it_is():
    # Natural convection where forced gives nearly nothing: Tmrt above Tg above Ta.
    obs = noon(2, globe_temperature=np.array([40.0, 40.0]))
    obs["wind_speed"] = np.array([0.0, 0.0])
    out = tmrt.compute(obs, **SITE)
    assert (out["mean_radiant_temperature"] > 40.5).all()
    assert "ISO 7726" in tmrt.sources(["globe_temperature"], globe_diameter=0.15)[
        "mean_radiant_temperature"]


# --- wind at another height --------------------------------------------------------

@pytest.mark.parametrize("height, factor", [(2.0, 3 / math.log10(200)), (1.0, 1.5), (10.0, 1.0),
                                            (30.0, 3 / math.log10(3000))])
def test_wind_is_brought_to_10_m_by_the_log_law(height, factor):
    obs = noon()
    out = tmrt.compute(obs, wind_height=height, **SITE)
    at_10 = tmrt.compute({**obs, "wind_speed": obs["wind_speed"] * factor}, **SITE)
    np.testing.assert_allclose(out["utci"], at_10["utci"], rtol=1e-12)
    np.testing.assert_array_equal(out["wind_speed"], obs["wind_speed"])    # kept as given
    # per row: stations with their anemometers at different heights
    rows = tmrt.compute(obs, wind_height=np.full(6, height), **SITE)
    np.testing.assert_allclose(rows["utci"], at_10["utci"], rtol=1e-12)


# --- a four-component radiometer and a measured surface ------------------------------

def test_upward_fluxes_and_surface_temperature_are_used_as_measured():
    eps = 0.95
    g = np.array([300.0, 500.0, 700.0, 800.0, 820.0, 780.0])
    up_sw = np.array([55.0, 90.0, 130.0, np.nan, 150.0, 140.0])
    up_lw = np.array([450.0, 480.0, np.nan, 520.0, 530.0, 525.0])
    down_lw = np.full(6, 350.0)
    obs = noon(global_radiation=g, shortwave_upward_radiation=up_sw,
               longwave_upward_radiation=up_lw, longwave_downward_radiation=down_lw)
    out = tmrt.compute(obs, **SITE)
    plain = tmrt.compute({k: v for k, v in obs.items() if "upward" not in k}, **SITE)
    # a measurement missing: missing, unless the model fills it
    np.testing.assert_array_equal(out["reflected_radiation"], up_sw)
    filled = tmrt.compute(obs, fill_missing="model", **SITE)
    np.testing.assert_array_equal(filled["reflected_radiation"],
                                  np.where(np.isnan(up_sw), plain["reflected_radiation"], up_sw))
    ground = out["ground_longwave_radiation"]
    assert ground[0] == 450.0 and np.isnan(ground[2])
    assert np.isfinite(filled["ground_longwave_radiation"][2])       # the modelled ground
    assert list(filled[tmrt.FILLED]) == [0, 0, 32, 8, 0, 0]
    ts = ((up_lw[0] - (1 - eps) * 350.0) / (eps * SIGMA)) ** 0.25 - 273.15
    assert out["surface_temperature"][0] == pytest.approx(ts, rel=1e-12)
    assert out["ground_radiation_balance"][0] == pytest.approx(300 - 55 + 350 - 450, rel=1e-12)
    # where the upward long-wave is missing, a measured surface temperature
    surface = np.array([np.nan, np.nan, 48.0, np.nan, np.nan, np.nan])
    out = tmrt.compute({**obs, "surface_temperature": surface}, **SITE)
    assert out["surface_temperature"][2] == 48.0
    assert out["ground_longwave_radiation"][2] == pytest.approx(
        eps * SIGMA * (48.0 + 273.15) ** 4 + (1 - eps) * 350.0, rel=1e-12)
    # a hotter measured ground: a warmer person
    assert out["mean_radiant_temperature"][2] != plain["mean_radiant_temperature"][2]
    sources = tmrt.sources(["shortwave_upward_radiation", "surface_temperature"])
    assert sources["reflected_radiation"].startswith("measured shortwave_upward_radiation")
    assert sources["ground_longwave_radiation"].startswith("measured surface_temperature")


# --- ERA5-Land: no cloud cover; ERA5's orography ------------------------------------

def era5_land(with_orography=None):
    n = 24
    hours = np.arange(1, n + 1)
    sun = np.maximum(0.0, np.sin((hours - 6) / 24 * 2 * np.pi))
    ds = xr.Dataset(
        {"t2m": ("valid_time", 288.0 + 6 * sun, {"units": "K"}),
         "d2m": ("valid_time", np.full(n, 281.0), {"units": "K"}),
         "u10": ("valid_time", np.full(n, 2.0), {"units": "m s**-1"}),
         "v10": ("valid_time", np.full(n, 1.0), {"units": "m s**-1"}),
         "ssrd": ("valid_time", np.cumsum(sun * 2.5e6), {"units": "J m**-2"}),
         "strd": ("valid_time", np.cumsum(np.full(n, 1.2e6)), {"units": "J m**-2"})},
        coords={"valid_time": pd.date_range("2023-07-12T01:00", periods=n, freq="h")})
    if with_orography is not None:
        ds["z"] = ((), with_orography * 9.80665, {"units": "m**2 s**-2"})
    return ds


def test_era5_land_needs_no_cloud_cover_and_orography_gives_the_height():
    ds = era5_land()
    out = tmrt.compute(ds, accumulation="since-00utc", **SITE)
    assert np.isfinite(out["mean_radiant_temperature"]).all()
    np.testing.assert_allclose(out["counter_radiation"], 1.2e6 / 3600, rtol=1e-12)
    high = tmrt.compute(era5_land(1500.0), accumulation="since-00utc", **SITE)
    given = tmrt.compute(ds, accumulation="since-00utc", height=1500.0, **SITE)
    np.testing.assert_allclose(high["direct_radiation"], given["direct_radiation"], rtol=1e-12)
    assert not np.allclose(high["direct_radiation"], out["direct_radiation"])
    with pytest.raises(tmrt.SettingError, match="orography 'z'.*give no the parameter height"):
        tmrt.compute(era5_land(1500.0), accumulation="since-00utc", height=200.0, **SITE)
    # what still needs the cloud asks for it
    with pytest.raises(KeyError, match="cloud cover"):
        tmrt.compute(ds.drop_vars("strd"), accumulation="since-00utc", **SITE)


def test_orography_on_a_grid_with_a_time_axis():
    ds = era5_land().expand_dims(latitude=[47.0, 48.0]).transpose("valid_time", "latitude")
    ds["z"] = (("valid_time", "latitude"), np.tile([100.0, 2000.0], (24, 1)) * 9.80665,
               {"units": "m**2 s**-2"})
    out = tmrt.compute(ds, longitude=16.0, accumulation="since-00utc")
    one = tmrt.compute(era5_land(2000.0).assign_coords(latitude=48.0), longitude=16.0,
                       accumulation="since-00utc")
    np.testing.assert_allclose(out["mean_radiant_temperature"][:, 1],
                               one["mean_radiant_temperature"], rtol=1e-12)


def test_per_element_settings_and_orography_stay_lazy_and_agree():
    ds = era5_land().expand_dims(latitude=[47.0, 48.0]).transpose("valid_time", "latitude")
    ds["z"] = ("latitude", np.array([100.0, 900.0]) * 9.80665, {"units": "m**2 s**-2"})
    svf = xr.DataArray([0.5, 1.0], dims=("latitude",))
    kw = dict(longitude=16.0, accumulation="since-00utc", sky_view_factor=svf, wind_height=2.0)
    memory = tmrt.compute(ds, **kw)
    lazy = tmrt.compute(ds.chunk({"valid_time": 6}), **kw)
    assert lazy["utci"].chunks is not None
    for k in ("mean_radiant_temperature", "mean_radiant_temperature_shade", "utci"):
        np.testing.assert_array_equal(lazy[k].values, memory[k].values)
    assert memory["mean_radiant_temperature"].dims == ("valid_time", "latitude")
    assert not np.array_equal(memory["mean_radiant_temperature_shade"][:, 0],
                              memory["mean_radiant_temperature_shade"][:, 1])
