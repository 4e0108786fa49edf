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
        "tcc": (dims, rng.uniform(0, 1, shape), {"units": "1"}),
        "u10": (dims, rng.normal(0, 3, shape)), "v10": (dims, rng.normal(0, 3, shape))},
        coords={"time": times, "latitude": [50.0, -30.0]})
    ds["d2m"] = ds["t2m"] - rng.uniform(0, 8, shape)
    east = tmrt.compute(ds.assign_coords(longitude=[0.0, 190.0, 350.0]))
    west = tmrt.compute(ds.assign_coords(longitude=[0.0, -170.0, -10.0]))
    for k in ("zenith_angle", "mean_radiant_temperature", "utci"):
        np.testing.assert_array_equal(east[k].values, west[k].values, err_msg=k)
    # lazily too
    lazy = tmrt.compute(ds.assign_coords(longitude=[0.0, 190.0, 350.0]).chunk({"time": 24}))
    np.testing.assert_array_equal(lazy["zenith_angle"].values, west["zenith_angle"].values)


# Vapour pressure above saturation ----------------------------------------------

HARDY_20C = 23.392    # saturation vapour pressure over water at 20 °C [hPa], Hardy (1998, ITS-90)


def moment(**columns):
    base = {"time": np.array(["2023-07-12T12:00"], "datetime64[m]"),
            "air_temperature": np.array([20.0]), "cloud_cover": np.array([2.0]),
            "wind_speed": np.array([2.0])}
    return {**base, **{k: np.atleast_1d(np.asarray(v, dtype=float)) for k, v in columns.items()}}


SITE = dict(latitude=48.0, longitude=11.0)


def test_vapour_pressure_a_little_above_saturation_is_saturation():
    saturated = tmrt.compute(moment(relative_humidity=100.0), **SITE)
    for given in (moment(vapour_pressure=1.02 * HARDY_20C), moment(dew_point=20.3),
                  moment(relative_humidity=102.5)):
        got = tmrt.compute(given, **SITE)
        for k in ("vapour_pressure", "relative_humidity", "dew_point", "utci"):
            assert got[k][0] == saturated[k][0], (given, k)
    assert saturated["relative_humidity"][0] == 100.0
    assert saturated["dew_point"][0] == pytest.approx(20.0, abs=1e-12)


@pytest.mark.parametrize("column, value", [("vapour_pressure", 1.04 * HARDY_20C),
                                           ("vapour_pressure", 50.0), ("dew_point", 20.6),
                                           ("relative_humidity", 104.0)])
def test_vapour_pressure_far_above_saturation_is_refused_naming_the_column(column, value):
    # 50 hPa at 20 °C went into the UTCI as 76.7 °C.
    obs = moment(**{column: value})
    obs["station_" + column] = obs.pop(column)
    with pytest.raises(tmrt.ObservationError) as caught:
        tmrt.compute(obs, names={column: "station_" + column}, **SITE)
    assert caught.value.quantity == column and caught.value.source == "station_" + column
    assert str(caught.value).startswith(f"station_{column}: ")
    masked = tmrt.compute(obs, names={column: "station_" + column}, invalid="mask", **SITE)
    assert np.isnan(masked["utci"][0]) and np.isnan(masked["vapour_pressure"][0])


def test_supersaturation_in_a_dataset_is_refused_where_it_is_lazily_too():
    times = pd.date_range("2023-07-12T10:00", periods=4, freq="h")
    ds = xr.Dataset({"t2m": (("time", "x"), np.full((4, 2), 293.15), {"units": "K"}),
                     "d2m": (("time", "x"), np.full((4, 2), 292.0), {"units": "K"}),
                     "tcc": (("time", "x"), np.zeros((4, 2))),
                     "wind_speed": (("time", "x"), np.ones((4, 2)))},
                    coords={"time": times})
    ds["d2m"][2, 1] = 296.0
    for data in (ds, ds.chunk({"time": 2})):
        with pytest.raises(tmrt.ObservationError, match=r"d2m: a dew point of 22.85 °C is 19 % "
                           r"above saturation .* \(at time (2023-07-12T12:00:00|2), x 1\)"):
            tmrt.compute(data, **SITE).compute()
