"""The model's choices: the sky view factor by the kind of input, the
ground's closed energy balance, and the modelled clear sky."""

import numpy as np
import pytest

from quarnel import tmrt

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")


def era5_night_and_day():
    """ERA5's fluxes over a June day at two grid points, as ERA5-HEAT takes them."""
    from support.sky import hourly_global, hourly_longwave
    rng = np.random.default_rng(12)
    times = pd.date_range("2023-06-21T00:00", periods=24, freq="h")
    shape = (24, 2, 2)
    dims = ("valid_time", "latitude", "longitude")
    t2m = 288 + rng.normal(0, 3, shape)
    ssrd = hourly_global(rng.uniform(0.3, 0.9, shape), times.values, [48.0, 40.0], [11.0, -3.0])
    return xr.Dataset({
        "t2m": (dims, t2m, {"units": "K"}), "d2m": (dims, t2m - 6, {"units": "K"}),
        "tcc": (dims, rng.uniform(0, 1, shape)), "u10": (dims, rng.normal(0, 3, shape)),
        "v10": (dims, rng.normal(0, 3, shape)), "ssrd": (dims, ssrd, {"units": "J m**-2"}),
        "fdir": (dims, 0.6 * ssrd, {"units": "J m**-2"}),
        "ssr": (dims, 0.8 * ssrd, {"units": "J m**-2"}),
        "strd": (dims, hourly_longwave(rng.uniform(0, 1, shape), t2m), {"units": "J m**-2"}),
        "str": (dims, -rng.uniform(20, 110, shape) * 3600, {"units": "J m**-2"})},
        coords={"valid_time": times, "latitude": [48.0, 40.0], "longitude": [11.0, -3.0]})


def test_a_grid_is_open_sky_by_default_as_era5_heat():
    thermofeel = pytest.importorskip("thermofeel")
    ds = era5_night_and_day()
    out = tmrt.compute(ds)
    mu = np.cos(np.radians(out["radiation_zenith_angle"].values))
    fluxes = [out["global_radiation"].values, ds["ssr"].values / 3600,
              out["direct_radiation"].values, ds["strd"].values / 3600,
              ds["fdir"].values / 3600, ds["str"].values / 3600]
    want = thermofeel.calculate_mean_radiant_temperature(*fluxes, np.where(mu > 0, mu, 0.0))
    np.testing.assert_allclose(out["mean_radiant_temperature"].values + 273.15, want,
                               rtol=1e-12)
    # a park's sky, asked for, is warmer at night where the sky is colder than the air
    park = tmrt.compute(ds, sky_view_factor=0.8)
    night = (out["sunlit_fraction"] == 0).values
    colder = night & (ds["strd"].values / 3600 < 5.67e-8 * ds["t2m"].values ** 4)
    assert (park["mean_radiant_temperature"].values[colder]
            > out["mean_radiant_temperature"].values[colder]).all()


def test_a_station_keeps_a_park_s_sky_by_default():
    ds = era5_night_and_day().isel(latitude=0, longitude=0).drop_vars(["latitude", "longitude"])
    for given in (ds, ds.to_dataframe(), {k: ds[k].values for k in ("t2m", "d2m")}):
        if isinstance(given, dict):       # arrays: standard names and units
            given = {"time": ds["valid_time"].values,
                     "air_temperature": ds["t2m"].values - 273.15,
                     "dew_point": ds["d2m"].values - 273.15,
                     "cloud_cover": 8 * ds["tcc"].values,
                     "wind_speed": np.hypot(ds["u10"].values, ds["v10"].values)}
        elif not isinstance(given, xr.Dataset):
            given = given.rename(columns={"t2m": "air_temperature"})[["air_temperature"]].assign(
                dew_point=ds["d2m"].values - 273.15, cloud_cover=8 * ds["tcc"].values,
                wind_speed=np.hypot(ds["u10"].values, ds["v10"].values),
                air_temperature=ds["t2m"].values - 273.15)
        default = tmrt.compute(given, latitude=48.0, longitude=11.0)
        park = tmrt.compute(given, latitude=48.0, longitude=11.0, sky_view_factor=0.8)
        np.testing.assert_array_equal(np.asarray(default["mean_radiant_temperature"]),
                                      np.asarray(park["mean_radiant_temperature"]))
