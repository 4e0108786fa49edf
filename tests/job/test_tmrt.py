"""quarnel.tmrt: the model against the eleven functions composed by hand,
the sun's position against pvlib's SPA, the containers against each other,
humidity, units and range checks."""

import math

import numpy as np
import pytest

import quarnel.Strahlwerk as S
from quarnel import tmrt
from support.ground import balance_root

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")

SIGMA = 5.67e-08
DEFAULTS = dict(ground_albedo=0.2, ground_emissivity=0.95, bowen_ratio=0.8, person_albedo=0.3,
                sky_view_factor=0.8, cloud_factor=0.75, cloud_exponent=3.4)


def by_hand(when_utc, lat, lon, height, t, rh, n, wind, p):
    """One moment through the module's scalar functions, as a reader of the
    reference would chain them: apparent solar time from UTC, longitude and
    the equation of time, then the example's model; the split of the
    modelled global radiation by pvlib's DISC, the ground's balance by
    bracketing."""
    pvlib = pytest.importorskip("pvlib")
    local = when_utc + np.timedelta64(round(lon / 15 * 3600e6), "us")
    day = int((local.astype("datetime64[D]") - local.astype("datetime64[Y]")).astype(int)) + 1
    hours = (local - local.astype("datetime64[D]")) / np.timedelta64(1, "h")
    b = 2 * math.pi * (day - 81) / 364
    eot = (9.87 * math.sin(2 * b) - 7.53 * math.cos(b) - 1.5 * math.sin(b)) / 60
    szeit = S.Sonnenzeit(hours + eot, 0, 0.0, day)
    e = rh / 100 * 6.112 * math.exp(17.62 * t / (243.12 + t))
    zenith = S.Zenitwinkel(szeit, lat, day)
    linke = S.LinkeTruebung(day, lat, 0.0)        # the seasonal turbidity, whatever the humidity
    glob = S.MaxGlobalstrahlung(day, height, zenith, linke) * (
        1 - p["cloud_factor"] * (n / 8) ** p["cloud_exponent"])
    cosz = math.cos(math.radians(zenith)) if zenith < 90 else 0.0
    # the modelled global radiation split as a measured one: DISC (pvlib's),
    # the beam at most what the global radiation allows
    direct = 0.0
    if cosz > 0:
        direct = min(float(pvlib.irradiance.disc(glob, zenith, day,
                                                 pvlib.atmosphere.alt2pres(height))["dni"]),
                     glob / cosz)
    diffuse = max(glob - direct * cosz, 0.0)
    sky = S.AtmosGegenstr(t, e, n)
    eps, alb, svf = p["ground_emissivity"], p["ground_albedo"], p["sky_view_factor"]
    balance = (1 - alb) * glob + eps * sky - eps * SIGMA * (t + 273.15) ** 4
    # the ground's closed balance (the job's own, not OberflTemp's)
    surface = balance_root((1 - alb) * glob + eps * sky, t, wind, eps, p["bowen_ratio"])
    ground = eps * SIGMA * (surface + 273.15) ** 4 + (1 - eps) * sky
    tmrt_ = S.MittlStrTemp(min(zenith, 90.0), 0.5 * (1 - svf) * SIGMA * (t + 273.15) ** 4,
                           0.5 * ground, 0.5 * svf * sky, 0.5 * svf * diffuse + 0.5 * alb * glob,
                           direct, None, p["person_albedo"], None)
    return {"solar_time": szeit, "zenith_angle": zenith, "global_radiation": glob,
            "diffuse_radiation": diffuse, "counter_radiation": sky,
            "surface_temperature": surface, "mean_radiant_temperature": tmrt_,
            "vapour_pressure": e}


VIENNA_NOVEMBER = {   # clock time UTC+1, from before sunrise to after sunset
    "time": np.array(["2023-11-05T06:30", "2023-11-05T08:00", "2023-11-05T11:45",
                      "2023-11-05T15:10", "2023-11-05T17:30", "2023-11-06T00:20"],
                     dtype="datetime64[m]"),
    "air_temperature": np.array([4.0, 6.5, 11.0, 10.0, 7.0, 5.0]),
    "relative_humidity": np.array([92.0, 83.0, 60.0, 66.0, 80.0, 90.0]),
    "cloud_cover": np.array([7.0, 3.0, 0.0, 5.0, 8.0, 2.0]),
    "wind_speed": np.array([1.0, 2.0, 3.5, 0.0, 1.5, 1.0]),
}


@pytest.mark.parametrize("assumptions", [DEFAULTS, dict(
    ground_albedo=0.12, ground_emissivity=0.9, bowen_ratio=2.5, person_albedo=0.4,
    sky_view_factor=0.35, cloud_factor=0.6, cloud_exponent=3.0)], ids=["defaults", "city"])
def test_the_model_is_the_eleven_functions_composed_by_hand(assumptions):
    site = dict(latitude=48.21, longitude=16.37, height=190.0)
    got = tmrt.compute(VIENNA_NOVEMBER, utc_offset=1.0, projection_factor="module", **site,
                       **assumptions)
    for i, clock in enumerate(VIENNA_NOVEMBER["time"]):
        want = by_hand(clock - np.timedelta64(1, "h"), site["latitude"], site["longitude"],
                       site["height"], *(VIENNA_NOVEMBER[k][i] for k in (
                           "air_temperature", "relative_humidity", "cloud_cover", "wind_speed")),
                       assumptions)
        for k, v in want.items():
            assert got[k][i] == pytest.approx(float(v), rel=1e-12, abs=1e-12), (k, clock)
    # The clock is an hour ahead of UTC and Vienna 16.37° east: at 11:45 the
    # sun is about 22 minutes short of noon... plus the equation of time.
    assert got["solar_time"][2] == pytest.approx(11.75 - 1 + 16.37 / 15 + 16.4 / 60, abs=0.01)


SITES = [(48.2, 16.4), (40.7, -74.0), (-33.9, 151.2), (-34.6, -58.4), (64.1, -21.9),
         (1.3, 103.8), (21.3, -157.9), (-41.3, 174.8)]


@pytest.mark.parametrize("lat,lon", SITES)
def test_zenith_angle_within_a_degree_of_spa(lat, lon):
    pvlib = pytest.importorskip("pvlib")
    times = pd.date_range("2023-01-01", "2024-12-31 23:59", freq="97min", tz="UTC")
    frame = pd.DataFrame({"air_temperature": 15.0, "relative_humidity": 60.0,
                          "cloud_cover": 2.0, "wind_speed": 2.0}, index=times)
    got = tmrt.compute(frame, latitude=lat, longitude=lon)
    spa = pvlib.solarposition.get_solarposition(times, lat, lon, method="nrel_numpy")
    assert np.abs(got["zenith_angle"] - spa["zenith"]).max() < 1.0
    day = spa["zenith"] < 80
    azimuth_error = (got["azimuth_angle"] - spa["azimuth"] + 180) % 360 - 180
    assert np.abs(azimuth_error[day & (spa["zenith"] > 15)]).max() < 3.0


def grid_dataset(chunks=None):
    rng = np.random.default_rng(7)
    shape = (10, 3, 4)
    time = pd.date_range("2023-12-31T18:00", periods=10, freq="90min")
    ds = xr.Dataset({
        "air_temperature": (("time", "latitude", "longitude"), rng.uniform(-5, 30, shape)),
        "dew_point": (("time", "latitude", "longitude"), rng.uniform(-15, -6, shape)),
        "cloud_cover": (("time", "latitude", "longitude"), rng.uniform(0, 8, shape)),
        "wind_speed": (("time", "latitude", "longitude"), rng.uniform(0, 9, shape)),
    }, coords={"time": time, "latitude": [-30.0, 10.0, 55.0],
               "longitude": [-120.0, -3.0, 40.0, 170.0]})
    if chunks:
        pytest.importorskip("dask")
    return ds.chunk(chunks) if chunks else ds


def test_numpy_pandas_xarray_and_dask_agree():
    ds = grid_dataset()
    eager = tmrt.compute(ds, height=100.0)
    lazy = tmrt.compute(grid_dataset({"time": 4, "longitude": 2}), height=100.0)
    assert lazy["mean_radiant_temperature"].chunks is not None      # not computed yet
    lazy = lazy.compute()
    for k in tmrt.OUTPUTS:
        np.testing.assert_array_equal(eager[k].values, lazy[k].values, err_msg=k)
    assert eager["mean_radiant_temperature"].dims == ("time", "latitude", "longitude")
    assert eager["mean_radiant_temperature"].attrs["units"] == "degC"

    # One grid point as a mapping of arrays and as DataFrames, naive on a
    # UTC-5 clock or time-zone aware (stations: the grid's open sky given).
    point = ds.isel(latitude=2, longitude=0)
    columns = {k: point[k].values for k in ds.data_vars}
    clock = point["time"].values - np.timedelta64(5, "h")
    site = dict(latitude=55.0, longitude=-120.0, height=100.0, sky_view_factor=1.0)
    arrays = tmrt.compute({"time": clock, **columns}, utc_offset=-5, **site)
    aware = pd.DataFrame(columns, index=pd.DatetimeIndex(point["time"].values).tz_localize(
        "UTC").tz_convert("America/New_York"))
    frame = tmrt.compute(aware, **site)
    naive = tmrt.compute(pd.DataFrame({"time": clock, **columns}), utc_offset=-5, **site)
    want = eager.isel(latitude=2, longitude=0)
    for k in tmrt.OUTPUTS:
        np.testing.assert_array_equal(arrays[k], want[k].values, err_msg=k)
        np.testing.assert_array_equal(frame[k].to_numpy(), want[k].values, err_msg=k)
        np.testing.assert_array_equal(naive[k].to_numpy(), want[k].values, err_msg=k)
    assert list(frame.index) == list(aware.index)


def test_humidity_from_whichever_is_given_and_measurements_first():
    base = {k: VIENNA_NOVEMBER[k] for k in ("time", "air_temperature", "cloud_cover",
                                             "wind_speed")}
    site = dict(latitude=48.21, longitude=16.37)
    from_rh = tmrt.compute({**base, "relative_humidity": VIENNA_NOVEMBER["relative_humidity"]},
                           **site)
    from_e = tmrt.compute({**base, "vapour_pressure": from_rh["vapour_pressure"]}, **site)
    from_td = tmrt.compute({**base, "dew_point": from_rh["dew_point"]}, **site)
    for other in (from_e, from_td):
        for k in ("vapour_pressure", "relative_humidity", "dew_point", "mean_radiant_temperature"):
            np.testing.assert_allclose(other[k], from_rh[k], rtol=1e-12, err_msg=k)
    # Magnus at the dew point is the vapour pressure; at 20 °C saturation is 23.33 hPa.
    assert tmrt.saturation_vapour_pressure(20.0) == pytest.approx(23.33, abs=0.005)
    assert tmrt.dew_point(tmrt.saturation_vapour_pressure(-7.5)) == pytest.approx(-7.5)

    # A measured value wins; a missing one (NaN) is estimated from another
    # measurement, but a missing radiation is not the model's unless asked.
    e = np.array([5.0, np.nan, 8.0, np.nan, 9.0, 7.0])
    g = np.array([0.0, 150.0, np.nan, 80.0, 0.0, 0.0])
    obs = {**base, "relative_humidity": VIENNA_NOVEMBER["relative_humidity"],
           "vapour_pressure": e, "global_radiation": g}
    both = tmrt.compute(obs, **site)
    np.testing.assert_array_equal(both["vapour_pressure"][[0, 2, 4]], e[[0, 2, 4]])
    np.testing.assert_array_equal(both["vapour_pressure"][[1, 3]], from_rh["vapour_pressure"][[1, 3]])
    np.testing.assert_array_equal(both["relative_humidity"], VIENNA_NOVEMBER["relative_humidity"])
    assert both["global_radiation"][1] == 150.0
    assert np.isnan(both["global_radiation"][2])
    filled = tmrt.compute(obs, fill_missing="model", **site)
    assert filled["global_radiation"][2] == from_rh["global_radiation"][2] > 300


def test_units_are_converted_or_refused():
    ds = grid_dataset()
    want = tmrt.compute(ds)
    kelvin = ds.assign(
        t2m=(ds["air_temperature"] + 273.15).assign_attrs(units="K"),
        d2m=(ds["dew_point"] + 273.15).assign_attrs(units="K"),
        tcc=(ds["cloud_cover"] / 8).assign_attrs(units="(0 - 1)"),
    ).drop_vars(["air_temperature", "dew_point", "cloud_cover"])
    got = tmrt.compute(kelvin)
    np.testing.assert_allclose(got["mean_radiant_temperature"], want["mean_radiant_temperature"],
                               rtol=1e-12, atol=1e-12)
    assert got["air_temperature"].attrs["units"] == "degC"       # beside t2m, converted
    assert got["t2m"].attrs["units"] == "K"

    # ERA5 wind components and radiation accumulated over the hour.
    era5 = ds.drop_vars("wind_speed").assign(
        u10=(ds["wind_speed"] * 0.6).assign_attrs(units="m s**-1"),
        v10=(ds["wind_speed"] * -0.8).assign_attrs(units="m s**-1"),
        ssrd=xr.full_like(ds["air_temperature"], 360_000.0).assign_attrs(units="J m**-2"))
    got = tmrt.compute(era5, accumulation=1)
    np.testing.assert_allclose(got["wind_speed"], ds["wind_speed"], rtol=1e-12)
    assert (got["global_radiation"] == 100.0).all()

    bad = ds.assign(air_temperature=ds["air_temperature"].assign_attrs(units="degF"))
    with pytest.raises(tmrt.UnitError, match=r"'air_temperature': unit 'degF' .* K or °C"):
        tmrt.compute(bad)
    with pytest.raises(KeyError, match="wind speed"):
        tmrt.compute(ds.drop_vars("wind_speed"))
    with pytest.raises(ValueError, match="latitude"):
        tmrt.compute(ds, latitude=50.0)


def test_out_of_range_refused_with_its_place_or_masked():
    frame = pd.DataFrame({k: v for k, v in VIENNA_NOVEMBER.items() if k != "time"},
                         index=pd.DatetimeIndex(VIENNA_NOVEMBER["time"]))
    frame.loc[frame.index[3], "cloud_cover"] = 9.0
    site = dict(latitude=48.21, longitude=16.37)
    with pytest.raises(tmrt.ObservationError, match=r"cloud_cover: 9 octas is outside .* 0 to 8 "
                                                    r"octas \(at 2023-11-05 15:10:00\)") as e:
        tmrt.compute(frame, **site)
    assert (e.value.row, e.value.source) == (3, "cloud_cover")
    masked = tmrt.compute(frame, invalid="mask", **site)
    assert masked["mean_radiant_temperature"].isna().tolist() == [False] * 3 + [True] + [False] * 2

    ds = grid_dataset()
    ds["wind_speed"][4, 1, 2] = -1.0
    with pytest.raises(tmrt.ObservationError, match=r"at time 2024-01-01T00:00:00, latitude 10, "
                                                    r"longitude 40"):
        tmrt.compute(ds)
    pytest.importorskip("dask")
    lazy = tmrt.compute(ds.chunk({"time": 3}))          # refused when computed
    with pytest.raises(tmrt.ObservationError, match="at time 4, latitude 1, longitude 2"):
        lazy["mean_radiant_temperature"].compute()


def test_observations_given_as_one_number_broadcast():
    # A constant measured flux or dew point beside series: the results of
    # it alone are single values, spread over the series (they raised).
    times = np.array(["2023-07-01T06", "2023-07-01T12", "2023-07-01T23"], dtype="datetime64[h]")
    series = {"time": times, "air_temperature": np.array([20.0, 25, 15]),
              "relative_humidity": np.full(3, 50.0), "cloud_cover": np.full(3, 3.0),
              "wind_speed": np.full(3, 2.0)}
    constants = {"global_radiation": 500.0, "longwave_downward_radiation": 300.0,
                 "net_longwave_radiation": -50.0, "dew_point": 10.0}
    one = tmrt.compute({**series, **constants}, latitude=48.0, longitude=11.0)
    full = tmrt.compute({**series, **{k: np.full(3, v) for k, v in constants.items()}},
                        latitude=48.0, longitude=11.0)
    for k in tmrt.OUTPUTS:
        np.testing.assert_array_equal(one[k], full[k], err_msg=k)
