"""quarnel.tmrt with radiation as measured or reanalysed: terms given are used
as given, global radiation is split by a published decomposition, ERA5's
accumulations are divided by their true period, the person is the published
one (checked against thermofeel's ERA5-HEAT formula), settings are checked."""

import numpy as np
import pytest

from quarnel import tmrt
from support.sky import hourly_global

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")

SITE = dict(latitude=52.2, longitude=14.1, height=100.0)


def station(g, n=8.0, hours=("2023-07-12T05:00", "2023-07-12T09:00", "2023-07-12T11:30",
                             "2023-07-12T16:00", "2023-07-12T19:30")):
    """Hours of a summer day in Lindenberg (UTC) with the global radiation g."""
    k = len(hours)
    return {"time": np.array(hours, dtype="datetime64[m]"),
            "air_temperature": np.full(k, 24.0), "relative_humidity": np.full(k, 50.0),
            "cloud_cover": np.full(k, n), "wind_speed": np.full(k, 2.0),
            "global_radiation": np.broadcast_to(np.asarray(g, dtype=float), (k,)).copy()}


def test_global_radiation_constrains_the_beam():
    # Thin high cloud: 8 octas and 700-900 W/m² measured. The beam comes from
    # the measurement, not from the octas: the sky is not all diffuse.
    g = np.array([90.0, 600.0, 850.0, 500.0, 40.0])
    out = tmrt.compute(station(g), **SITE)
    mu = np.cos(np.radians(out["radiation_zenith_angle"]))
    beam_on_horizontal = out["direct_radiation"] * mu
    assert (out["direct_radiation"] >= 0).all() and (out["diffuse_radiation"] >= 0).all()
    assert (beam_on_horizontal <= g).all()
    np.testing.assert_allclose(beam_on_horizontal + out["diffuse_radiation"], g, rtol=1e-12)
    assert out["direct_radiation"][2] > 500          # a clear beam at noon under 8 octas
    # More measured radiation at the same sun: a warmer person; shade never warmer.
    brighter = tmrt.compute(station(g + 50.0), **SITE)
    assert (brighter["mean_radiant_temperature"] > out["mean_radiant_temperature"]).all()
    assert (out["mean_radiant_temperature_shade"] <= out["mean_radiant_temperature"]).all()
    assert (out["utci_shade"] <= out["utci"]).all()

    # Random hours all year: the invariants of the split, where the sun is up or not.
    rng = np.random.default_rng(3)
    times = np.datetime64("2023-01-01") + rng.choice(365 * 24 * 60, 4000, replace=False).astype(
        "timedelta64[m]")                              # each minute once
    obs = station(0.0, hours=times)
    clear = tmrt.compute({**obs, "global_radiation": np.full(times.size, np.nan)}, **SITE)
    obs["global_radiation"] = clear["clear_sky_global_radiation"] * rng.uniform(0, 1.3, times.size)
    out = tmrt.compute(obs, **SITE)
    mu = np.cos(np.radians(out["radiation_zenith_angle"]))
    assert (out["direct_radiation"] >= 0).all() and (out["diffuse_radiation"] >= 0).all()
    assert (out["direct_radiation"] * mu <= obs["global_radiation"] * (1 + 1e-12)).all()
    assert (out["direct_radiation"][out["radiation_zenith_angle"] >= 90] == 0).all()


def test_direct_and_diffuse_given_come_out_unchanged():
    obs = station([100.0, 650.0, 800.0, 450.0, 30.0])
    obs["direct_normal_radiation"] = np.array([20.0, 500.0, 600.0, np.nan, 0.0])
    obs["diffuse_radiation"] = np.array([80.0, 200.0, 230.0, 150.0, 30.0])
    out = tmrt.compute(obs, **SITE)
    np.testing.assert_array_equal(out["direct_radiation"][[0, 1, 2, 4]], [20.0, 500.0, 600.0, 0.0])
    np.testing.assert_array_equal(out["diffuse_radiation"], obs["diffuse_radiation"])
    np.testing.assert_array_equal(out["global_radiation"], obs["global_radiation"])
    # Where the direct is missing it follows from global and diffuse.
    mu = np.cos(np.radians(out["radiation_zenith_angle"][3]))
    assert out["direct_radiation"][3] == pytest.approx((450.0 - 150.0) / mu, rel=1e-12)

    # Without a global radiation: diffuse + direct on the horizontal.
    del obs["global_radiation"]
    obs["direct_normal_radiation"][3] = 400.0
    out = tmrt.compute(obs, **SITE)
    mu = np.cos(np.radians(out["radiation_zenith_angle"]))
    np.testing.assert_allclose(out["global_radiation"], obs["diffuse_radiation"]
                               + obs["direct_normal_radiation"] * mu, rtol=1e-12)


def era5(hours=6, start="2023-06-21T04:00", step="1h", **fluxes):
    """A 2 x 2 grid of ERA5 variables; fluxes as J m-2 arrays over time."""
    time = pd.date_range(start, periods=hours, freq=step)
    shape = (hours, 2, 2)

    def var(values, units):
        data = np.broadcast_to(np.asarray(values, dtype=float).reshape(-1, 1, 1), shape).copy()
        return (("valid_time", "latitude", "longitude"), data, {"units": units})

    ds = xr.Dataset({"t2m": var(np.linspace(290, 300, hours), "K"),
                     "d2m": var(np.full(hours, 285.0), "K"),
                     "tcc": var(np.full(hours, 0.6), "(0 - 1)"),
                     "u10": var(np.full(hours, 2.0), "m s**-1"),
                     "v10": var(np.full(hours, -1.0), "m s**-1")},
                    coords={"valid_time": time, "latitude": [48.0, 47.75],
                            "longitude": [11.0, 11.25]})
    for name, values in fluxes.items():
        ds[name] = var(values, "J m**-2")
    return ds


def test_era5_fluxes_give_the_person_of_era5_heat():
    thermofeel = pytest.importorskip("thermofeel")
    w = np.array([[0, 60, 300, 550, 700, 780],         # ssrd, mean W/m² over each hour
                  [0, 20, 180, 390, 520, 600],         # fdir
                  [330, 332, 335, 340, 345, 350],      # strd
                  [0, 48, 240, 440, 560, 624],         # ssr
                  [-40, -45, -60, -80, -95, -100]])    # str
    ds = era5(start="2023-06-21T03:00", **{k: v * 3600.0 for k, v in zip(["ssrd", "fdir", "strd", "ssr", "str"], w)})
    out = tmrt.compute(ds, sky_view_factor=1.0)
    np.testing.assert_allclose(out["reflected_radiation"][:, 0, 0], w[0] - w[3], atol=1e-9)
    np.testing.assert_allclose(out["ground_longwave_radiation"][:, 0, 0], w[2] - w[4], rtol=1e-12)
    np.testing.assert_allclose(out["counter_radiation"][:, 0, 0], w[2], rtol=1e-12)
    assert "interval" in out["direct_radiation"].attrs["source"]

    mu = np.cos(np.radians(out["radiation_zenith_angle"].values))
    fluxes = [out[k].values for k in ("global_radiation",)] + [
        ds[k].values / 3600.0 for k in ("ssr",)] + [out["direct_radiation"].values] + [
        ds[k].values / 3600.0 for k in ("strd", "fdir", "str")]
    want = thermofeel.calculate_mean_radiant_temperature(*fluxes, np.where(mu > 0, mu, 0.0))
    np.testing.assert_allclose(out["mean_radiant_temperature"].values + 273.15, want, rtol=1e-12)
    # The sun of 03-04 UTC at 48° N, 11° E in June rises inside the interval.
    assert 0 < out["sunlit_fraction"][1, 0, 0] < 1
    assert out["direct_radiation"][1, 0, 0] > 0


def test_accumulations_are_divided_by_their_true_period():
    rng = np.random.default_rng(5)
    times = pd.date_range("2023-06-21T01:00", periods=48, freq="h").values
    # two days: what the sun of each hour allows at 48° N, 11° E
    flux = hourly_global(rng.uniform(0, 1, 48)[:, None, None], times, [48.0], [11.0])[:, 0, 0]
    flux /= 3600.0
    hourly = era5(48, "2023-06-21T01:00", ssrd=flux * 3600.0)
    want = tmrt.compute(hourly)["global_radiation"].values[:, 0, 0]
    np.testing.assert_allclose(want, flux, rtol=1e-12, atol=1e-9)

    three = era5(16, "2023-06-21T03:00", "3h", ssrd=flux.reshape(-1, 3).sum(axis=1) * 3600.0)
    got = tmrt.compute(three)
    np.testing.assert_allclose(got["global_radiation"].values[:, 0, 0],
                               flux.reshape(-1, 3).mean(axis=1), rtol=1e-12, atol=1e-9)
    assert "3 h interval" in got["direct_radiation"].attrs["source"]

    # ERA5-Land: running totals since 00 UTC; 00 UTC holds the day before's total.
    # Step i ends at 01:00 + i h; the day's totals run from 01 to 00 UTC.
    running = np.array([flux[i // 24 * 24: i + 1].sum() for i in range(48)])
    land = era5(48, "2023-06-21T01:00", ssrd=running * 3600.0)
    got = tmrt.compute(land, accumulation="since-00utc")["global_radiation"].values[:, 0, 0]
    np.testing.assert_allclose(got, flux, rtol=1e-9, atol=1e-6)

    # The same totals taken as hourly are refused (a flux over its range)...
    with pytest.raises(tmrt.ObservationError, match="accumulation period"):
        tmrt.compute(land)
    # ... and hourly accumulations taken as running totals decrease.
    with pytest.raises(tmrt.ObservationError, match="running total falls"):
        tmrt.compute(hourly, accumulation="since-00utc")
    masked = tmrt.compute(hourly, accumulation="since-00utc", invalid="mask")
    modelled = masked["global_radiation"].values[:, 0, 0] != masked["ssrd"].values[:, 0, 0] / 3600
    assert modelled[1:].any() and not modelled[0]      # decreasing steps: the model's
    lazy = tmrt.compute(hourly.chunk({"valid_time": 7}), accumulation="since-00utc")
    with pytest.raises(tmrt.ObservationError, match="running total falls"):
        lazy["global_radiation"].compute()

    with pytest.raises(ValueError, match="single time step"):
        tmrt.compute(hourly.isel(valid_time=[3]))
    with pytest.raises(ValueError, match="not evenly spaced"):
        tmrt.compute(hourly.isel(valid_time=[0, 1, 3]))
    one = tmrt.compute(hourly.isel(valid_time=[12]), accumulation=1.0)
    assert one["global_radiation"].values[0, 0, 0] == pytest.approx(flux[12])


def test_variables_chosen_are_the_same_values():
    ds = era5(start="2023-06-21T03:00", ssrd=np.array([0, 60, 300, 550, 700, 780]) * 3600.0)
    everything = tmrt.compute(ds)
    chosen = ["utci", "sunlit_fraction"]
    for some in (tmrt.compute(ds, variables=chosen), tmrt.compute(ds.chunk(valid_time=2),
                                                                variables=chosen).compute()):
        assert not (set(tmrt.OUTPUTS) - set(tmrt.INPUTS) - set(chosen)) & set(some.data_vars)
        for k in chosen:
            np.testing.assert_array_equal(some[k].values, everything[k].values, err_msg=k)
    frame = tmrt.compute(station([100.0] * 5), variables=["utci_category"], **SITE)
    assert "utci_category" in frame and "mean_radiant_temperature" not in frame
    with pytest.raises(ValueError, match="variables: no output 'tmrt'"):
        tmrt.compute(ds, variables=["tmrt"])


def test_variables_found_by_their_cf_standard_name():
    w = np.array([0, 60, 300, 550, 700, 780]) * 3600.0
    ds = era5(start="2023-06-21T03:00", ssrd=w, fdir=w / 2)
    named = ds.rename(ssrd="rsds", fdir="rsdsdiff", t2m="tas")
    named["rsds"].attrs["standard_name"] = "surface_downwelling_shortwave_flux_in_air"
    named["rsdsdiff"].attrs["standard_name"] = "surface_direct_downwelling_shortwave_flux_in_air"
    named["tas"].attrs["standard_name"] = "air_temperature"
    got, want = tmrt.compute(named), tmrt.compute(ds)
    for k in ("global_radiation", "direct_radiation", "mean_radiant_temperature"):
        np.testing.assert_array_equal(got[k].values, want[k].values, err_msg=k)


def test_the_projection_factor():
    fp = tmrt.projected_area_factor(np.array([0.0, 60.0, 90.0]))
    np.testing.assert_allclose(fp, [0.308, 0.174, 0.079], atol=1e-3)
    obs = station([100.0, 650.0, 850.0, 450.0, 30.0])
    published = tmrt.compute(obs, **SITE)
    module = tmrt.compute(obs, projection_factor="module", **SITE)
    # the same person in shade, by MittlStrTemp and by the job's kernel
    np.testing.assert_allclose(published["mean_radiant_temperature_shade"],
                               module["mean_radiant_temperature_shade"], rtol=1e-14)
    # A high sun weighs more for the published person.
    assert published["mean_radiant_temperature"][2] > module["mean_radiant_temperature"][2] + 0.5


@pytest.mark.parametrize("setting,value,message", [
    ("latitude", 151.0, "latitude must be between -90 and 90"),
    ("longitude", 400.0, "longitude must be between -180 and 360"),
    ("utc_offset", 25.0, "utc_offset must be between -14 and 14"),
    ("height", float("nan"), "height must be between"),
    ("sky_view_factor", 3.0, "sky_view_factor must be between 0 and 1"),
    ("ground_albedo", -1.0, "ground_albedo"),
    ("accumulation", 0.0, "accumulation"),
    ("accumulation", "daily", "accumulation must be"),
    ("projection_factor", "standing", "projection_factor must be"),
])
def test_settings_outside_their_ranges_are_refused(setting, value, message):
    args = {**SITE, setting: value}
    with pytest.raises(ValueError, match=message):
        tmrt.compute(station([100.0] * 5), **args)


def test_grid_coordinates_are_checked():
    ds = era5(2, ssrd=np.zeros(2)).assign_coords(latitude=[95.0, 10.0])
    with pytest.raises(ValueError, match="coordinate 'latitude': latitude must be between"):
        tmrt.compute(ds)
