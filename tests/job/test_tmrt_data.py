"""Data as it comes: longitudes as 0-360, vapour pressure above saturation,
what a station row's time stamp means, fluxes implausible for their
accumulation period, and gaps that stay gaps."""

import numpy as np
import pytest

from quarnel import tmrt

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")


def hourly_year(start="2023-01-01T00:30", n=8760, seed=5):
    rng = np.random.default_rng(seed)
    t = rng.uniform(-5, 30, n)
    return {"time": np.datetime64(start) + np.arange(n).astype("timedelta64[h]"),
            "air_temperature": t, "relative_humidity": rng.uniform(30, 95, n),
            "cloud_cover": rng.integers(0, 9, n).astype(float),
            "wind_speed": rng.uniform(0, 8, n)}


# Longitudes as 0-360 -----------------------------------------------------------

def test_a_longitude_beyond_180_is_the_meridian_west_of_greenwich():
    # λ = 350 read as 23 h 20 min ahead of UTC moves the local date by a day.
    obs = hourly_year()
    east = tmrt.compute(obs, latitude=50.0, longitude=350.0)
    west = tmrt.compute(obs, latitude=50.0, longitude=-10.0)
    for k in ("solar_time", "zenith_angle", "mean_radiant_temperature", "utci"):
        np.testing.assert_array_equal(east[k], west[k], err_msg=k)
    assert tmrt.clock.wrapped_longitude(180.0) == -180.0
    assert tmrt.clock.wrapped_longitude(359.75) == -0.25


def test_a_grid_on_0_to_360_longitudes_equals_the_same_grid_on_minus_180_to_180():
    times = pd.date_range("2023-06-20T00:00", periods=48, freq="h")
    rng = np.random.default_rng(8)
    shape = (48, 2, 3)
    dims = ("time", "latitude", "longitude")
    ds = xr.Dataset({
        "t2m": (dims, 288 + rng.normal(0, 3, shape), {"units": "K"}),
        "d2m": (dims, 280 + rng.normal(0, 1, shape), {"units": "K"}),
        "tcc": (dims, rng.uniform(0, 1, shape), {"units": "1"}),
        "u10": (dims, rng.normal(0, 3, shape)), "v10": (dims, rng.normal(0, 3, shape))},
        coords={"time": times, "latitude": [50.0, -30.0]})
    east = tmrt.compute(ds.assign_coords(longitude=[0.0, 190.0, 350.0]))
    west = tmrt.compute(ds.assign_coords(longitude=[0.0, -170.0, -10.0]))
    for k in ("zenith_angle", "mean_radiant_temperature", "utci"):
        np.testing.assert_array_equal(east[k].values, west[k].values, err_msg=k)
    # lazily too
    lazy = tmrt.compute(ds.assign_coords(longitude=[0.0, 190.0, 350.0]).chunk({"time": 24}))
    np.testing.assert_array_equal(lazy["zenith_angle"].values, west["zenith_angle"].values)
