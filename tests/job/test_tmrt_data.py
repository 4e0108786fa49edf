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


# What a station row's time stamp means ---------------------------------------

def tmy3_greensboro():
    """pvlib's TMY3 year of Greensboro: hourly means ending at the stamp
    (local standard time), on one calendar year."""
    pvlib = pytest.importorskip("pvlib")
    import os
    path = os.path.join(os.path.dirname(pvlib.__file__), "data", "723170TYA.CSV")
    data, meta = pvlib.iotools.read_tmy3(path, map_variables=True)
    local = pd.DatetimeIndex(data.index)
    index = pd.DatetimeIndex([t.replace(year=1990) for t in local.tz_localize(None)])
    frame = pd.DataFrame({
        "air_temperature": data["temp_air"].to_numpy(), "dew_point": data["temp_dew"].to_numpy(),
        "cloud_cover": data["TotCld (tenths)"].to_numpy() * 0.8,
        "wind_speed": data["wind_speed"].to_numpy(),
        "global_radiation": data["ghi"].to_numpy(dtype=float)},
        index=index.tz_localize(local.tz)).sort_index()
    return frame, dict(latitude=meta["latitude"], longitude=meta["longitude"],
                       height=meta["altitude"])


def test_hour_ending_means_of_a_tmy3_year_have_light_only_while_the_sun_is_up():
    frame, site = tmy3_greensboro()
    light = frame["global_radiation"] > 0

    def dark_hours_with_light(**settings):
        out = tmrt.compute(frame, **site, **settings)
        return int(((out["sunlit_fraction"] == 0) & light).sum()), out

    as_instants, instant = dark_hours_with_light()
    as_intervals, interval = dark_hours_with_light(timestamps="interval-end")
    assert as_instants > 250            # the hour in which the sun set, read at its end
    assert as_intervals <= 5
    assert "1 h interval before each time" in interval.attrs["sources"]["direct_radiation"]
    # given as the accumulation, the hour is the same as the rows' spacing
    same = tmrt.compute(frame, timestamps="interval-end", accumulation=1.0, **site)
    np.testing.assert_array_equal(same["mean_radiant_temperature"],
                                  interval["mean_radiant_temperature"])


def test_an_interval_starting_or_centred_at_the_stamp_is_the_interval_ending_later():
    obs = hourly_year("2023-06-01T00:00", n=72)
    obs["global_radiation"] = np.clip(800 * np.sin(np.pi * (np.arange(72) % 24 - 5) / 15), 0,
                                      None)
    ending = tmrt.compute(obs, latitude=45.0, longitude=7.0, timestamps="interval-end")
    for timestamps, shift in (("interval-start", 60), ("interval-middle", 30)):
        later = dict(obs, time=obs["time"] + np.timedelta64(shift, "m"))
        got = tmrt.compute(obs, latitude=45.0, longitude=7.0, timestamps=timestamps)
        want = tmrt.compute(later, latitude=45.0, longitude=7.0, timestamps="interval-end")
        for k in ("radiation_zenith_angle", "sunlit_fraction", "direct_radiation"):
            np.testing.assert_allclose(got[k], want[k], rtol=1e-9, atol=1e-9, err_msg=k)
        # the stamp's own sun stays the stamp's
        np.testing.assert_array_equal(got["zenith_angle"], ending["zenith_angle"])
    # missing rows do not make the interval longer: the most common spacing
    holes = {k: np.delete(v, [5, 6, 7, 30]) for k, v in obs.items()}
    thinned = tmrt.compute(holes, latitude=45.0, longitude=7.0, timestamps="interval-end")
    np.testing.assert_array_equal(thinned["sunlit_fraction"],
                                  np.delete(ending["sunlit_fraction"], [5, 6, 7, 30]))
    with pytest.raises(tmrt.SettingError, match=r"single time: give its length "
                       r"\(accumulation=HOURS\)"):
        tmrt.compute({k: v[:1] for k, v in obs.items()}, latitude=45.0, longitude=7.0,
                     timestamps="interval-end")


def test_accumulated_fluxes_end_at_their_stamp():
    times = pd.date_range("2023-06-21T10:00", periods=3, freq="h")
    ds = xr.Dataset({"t2m": ("time", [293.0, 294.0, 295.0], {"units": "K"}),
                     "d2m": ("time", [283.0, 283.0, 283.0], {"units": "K"}),
                     "tcc": ("time", [0.2, 0.2, 0.2]), "wind_speed": ("time", [2.0, 2.0, 2.0]),
                     "ssrd": ("time", [2.0e6, 2.5e6, 2.8e6], {"units": "J m-2"})},
                    coords={"time": times})
    end = tmrt.compute(ds, timestamps="interval-end", **SITE)
    np.testing.assert_array_equal(end["utci"], tmrt.compute(ds, **SITE)["utci"])
    with pytest.raises(tmrt.SettingError, match="interval ending at their time stamp"):
        tmrt.compute(ds, timestamps="interval-start", **SITE)
    # in W/m², the same values are means over the rows' hour as timestamps say
    means = ds.assign(ssrd=(ds["ssrd"] / 3600).assign_attrs(units="W m-2"))
    np.testing.assert_array_equal(
        tmrt.compute(means, timestamps="interval-end", **SITE)["utci"], end["utci"])


# Fluxes implausible for their accumulation period ------------------------------

def era5_hours(start="2023-06-21T00:00", hours=48, lat=(48.0, 30.0), lon=(11.0, -60.0), seed=2):
    """Hourly ERA5-like accumulations a real sky could give."""
    from support.sky import hourly_global, hourly_longwave
    rng = np.random.default_rng(seed)
    times = pd.date_range(start, periods=hours, freq="h")
    shape = (hours, len(lat), len(lon))
    dims = ("valid_time", "latitude", "longitude")
    t2m = 290 + rng.normal(0, 4, shape)
    return xr.Dataset({
        "t2m": (dims, t2m, {"units": "K"}), "d2m": (dims, t2m - 6, {"units": "K"}),
        "tcc": (dims, rng.uniform(0, 1, shape), {"units": "(0 - 1)"}),
        "u10": (dims, rng.normal(0, 3, shape)), "v10": (dims, rng.normal(0, 3, shape)),
        "ssrd": (dims, hourly_global(rng.uniform(0.2, 0.9, shape), times.values, lat, lon),
                 {"units": "J m**-2"}),
        "strd": (dims, hourly_longwave(rng.uniform(0, 1, shape), t2m), {"units": "J m**-2"})},
        coords={"valid_time": times, "latitude": list(lat), "longitude": list(lon)})


def test_hourly_accumulations_downloaded_every_third_hour_are_refused_naming_the_period():
    hourly = era5_hours()
    every_third = hourly.isel(valid_time=slice(2, None, 3))
    with pytest.raises(tmrt.ObservationError, match=r"strd: .* of long-wave radiation is 0\.\d+ "
                       r"times .*is the accumulation period right\? see accumulation=HOURS"):
        tmrt.compute(every_third)
    with pytest.raises(tmrt.ObservationError, match="accumulation period"):
        tmrt.compute(every_third.chunk({"valid_time": 4})).compute()
    # said to be hourly, they are the hourly run's values
    right = tmrt.compute(every_third, accumulation=1.0)
    whole = tmrt.compute(hourly).isel(valid_time=slice(2, None, 3))
    np.testing.assert_array_equal(right["mean_radiant_temperature"].values,
                                  whole["mean_radiant_temperature"].values)
    # 3-hourly accumulations taken as hourly: three times the sun's light
    three = hourly.isel(valid_time=slice(2, None, 3))
    for name in ("ssrd", "strd"):
        summed = hourly[name].coarsen(valid_time=3).sum().values
        three[name] = three[name].copy(data=summed)
    tmrt.compute(three)                                     # the spacing: 3 h
    with pytest.raises(tmrt.ObservationError, match="accumulation period"):
        tmrt.compute(three, accumulation=1.0)
    masked = tmrt.compute(three, accumulation=1.0, invalid="mask")
    assert np.isnan(masked["longwave_downward_radiation"].values).all()


def spa_interval_sun(end, hours, latitude, longitude):
    """The sunlit share of the interval and the mean cos z over it, from
    pvlib's SPA sampled every 15 s."""
    pvlib = pytest.importorskip("pvlib")
    times = pd.date_range(end=pd.Timestamp(end, tz="UTC"), periods=int(hours * 240) + 1,
                          freq="15s")[1:]
    cosz = np.cos(np.radians(pvlib.solarposition.get_solarposition(
        times, latitude, longitude, method="nrel_numpy")["zenith"].to_numpy()))
    up = cosz > 0
    return up.mean(), cosz[up].mean() if up.any() else 0.0


@pytest.mark.parametrize("end, hours", [("2023-06-21T06:00", 1.0), ("2023-06-21T03:00", 1.0),
                                        ("2023-12-21T09:00", 3.0)])
def test_global_radiation_above_the_physically_possible_is_refused_on_both_sides(end, hours):
    pvlib = pytest.importorskip("pvlib")
    lat, lon = 48.0, 11.0
    f, mu = spa_interval_sun(end, hours, lat, lon)
    s0 = pvlib.irradiance.get_extra_radiation(pd.Timestamp(end).day_of_year, 1370.0, "spencer")
    limit = f * 1.5 * s0 * mu ** 1.2 + 100.0          # Long and Dutton (2002)
    times = pd.DatetimeIndex([pd.Timestamp(end) - pd.Timedelta(hours=hours), pd.Timestamp(end)])

    def grid(g):
        return xr.Dataset({"t2m": ("valid_time", [290.0, 290.0], {"units": "K"}),
                           "d2m": ("valid_time", [280.0, 280.0], {"units": "K"}),
                           "tcc": ("valid_time", [0.1, 0.1]), "u10": ("valid_time", [1.0, 1.0]),
                           "v10": ("valid_time", [0.0, 0.0]),
                           "ssrd": ("valid_time", [0.0, g * hours * 3600],
                                    {"units": "J m**-2"})}, coords={"valid_time": times})

    tmrt.compute(grid(0.97 * limit), latitude=lat, longitude=lon)
    with pytest.raises(tmrt.ObservationError, match=r"global radiation is more than the sun of "
                       r"its interval can give \(at most \d+ W/m², Long and Dutton 2002\)"):
        tmrt.compute(grid(1.03 * limit), latitude=lat, longitude=lon)


def test_long_wave_radiation_far_from_the_air_s_emission_is_refused_on_both_sides():
    emitted = 5.670374e-08 * 293.15 ** 4                   # σTa⁴ at 20 °C: 418.7 W/m²

    def grid(strd):
        return xr.Dataset({"t2m": ("valid_time", [293.15, 293.15], {"units": "K"}),
                           "d2m": ("valid_time", [283.0, 283.0], {"units": "K"}),
                           "tcc": ("valid_time", [0.5, 0.5]), "u10": ("valid_time", [1.0, 1.0]),
                           "v10": ("valid_time", [0.0, 0.0]),
                           "strd": ("valid_time", [strd * 3600] * 2, {"units": "J m**-2"})},
                          coords={"valid_time": pd.date_range("2023-06-21", periods=2,
                                                              freq="h")})
    for ratio in (0.41, 1.49):
        tmrt.compute(grid(ratio * emitted), **SITE)
    for ratio in (0.39, 1.51):
        with pytest.raises(tmrt.ObservationError, match=f"is {ratio:.2f} times the black-body"):
            tmrt.compute(grid(ratio * emitted), **SITE)


# Gaps stay gaps ------------------------------------------------------------------

RADIATION_OUT = ("global_radiation", "direct_radiation", "diffuse_radiation",
                 "reflected_radiation", "surface_temperature", "ground_longwave_radiation",
                 "mean_radiant_temperature", "mean_radiant_temperature_shade", "utci")


def day_with(**measured):
    obs = hourly_year("2023-06-21T04:00", n=6, seed=9)
    obs["global_radiation"] = np.array([20.0, 150.0, 380.0, 560.0, 700.0, 790.0])
    obs.update(measured)
    return obs


def test_a_missing_measurement_leaves_what_depends_on_it_missing():
    whole = tmrt.compute(day_with(), **SITE)
    g = np.array([20.0, 150.0, np.nan, 560.0, 700.0, 790.0])
    gap = tmrt.compute(day_with(global_radiation=g), **SITE)
    for k in RADIATION_OUT:
        assert np.isnan(gap[k][2]), k
        np.testing.assert_array_equal(np.delete(gap[k], 2), np.delete(whole[k], 2), err_msg=k)
    assert not np.isnan(gap["counter_radiation"]).any()     # the sky needs no sun
    # the long-wave sky likewise
    sky = tmrt.compute(day_with(longwave_downward_radiation=np.array([330.0, np.nan, 335, 340,
                                                                      345, 350])), **SITE)
    for k in ("counter_radiation", "ground_longwave_radiation", "mean_radiant_temperature"):
        assert np.isnan(sky[k][1]) and not np.isnan(np.delete(sky[k], 1)).any(), k


def test_filling_from_the_model_is_asked_for_and_flagged_element_by_element():
    g = np.array([20.0, 150.0, np.nan, 560.0, 700.0, 790.0])
    filled = tmrt.compute(day_with(global_radiation=g), fill_missing="model", **SITE)
    modelled = tmrt.compute({k: v for k, v in day_with().items() if k != "global_radiation"},
                            **SITE)
    whole = tmrt.compute(day_with(), **SITE)
    for k in RADIATION_OUT:
        assert filled[k][2] == modelled[k][2], k
        np.testing.assert_array_equal(np.delete(filled[k], 2), np.delete(whole[k], 2), err_msg=k)
    flags = filled[tmrt.FILLED]
    assert flags.dtype == np.int8 and list(flags) == [0, 0, 47, 0, 0, 0]
    filled_terms = [t for i, t in enumerate(tmrt.FILLED_TERMS) if flags[2] >> i & 1]
    assert filled_terms == ["global_radiation", "direct_radiation", "diffuse_radiation",
                            "reflected_radiation", "ground_longwave_radiation"]
    assert tmrt.FILLED not in tmrt.compute(day_with(global_radiation=g), **SITE)
    named = tmrt.compute(day_with(global_radiation=g), fill_missing="model", variables=["utci"],
                         **SITE)
    np.testing.assert_array_equal(named[tmrt.FILLED], flags)
    with pytest.raises(ValueError, match="fill_missing='model'"):
        tmrt.compute(day_with(), variables=[tmrt.FILLED], **SITE)
    # the sources say where the model comes in
    frame = pd.DataFrame({k: v for k, v in day_with(global_radiation=g).items() if k != "time"},
                         index=day_with()["time"])
    assert "clear sky" not in tmrt.compute(frame, **SITE).attrs["sources"]["global_radiation"]
    assert "else clear sky" in tmrt.compute(frame, fill_missing="model",
                                            **SITE).attrs["sources"]["global_radiation"]


def test_the_undefined_first_step_of_era5_land_stays_missing():
    from support.sky import hourly_global, hourly_longwave
    times = pd.date_range("2023-06-21T00:00", periods=30, freq="h")
    rng = np.random.default_rng(7)
    hourly_g = hourly_global(rng.uniform(0.3, 0.9, (30, 1, 1)), times.values, [48.0], [11.0])
    t2m = 290 + rng.normal(0, 2, (30, 1, 1))
    hourly_l = hourly_longwave(rng.uniform(0, 1, (30, 1, 1)), t2m)

    def running(hourly):       # since 00 UTC; the 00 UTC step holds the day before's total
        out = np.empty_like(hourly)
        for k, t in enumerate(times):
            start = k - ((t.hour - 1) % 24)
            out[k] = hourly[max(start, 0):k + 1].sum(axis=0)
        return out
    dims = ("valid_time", "latitude", "longitude")
    ds = xr.Dataset({"t2m": (dims, t2m, {"units": "K"}), "d2m": (dims, t2m - 8, {"units": "K"}),
                     "tcc": (dims, np.full(t2m.shape, 0.4)), "u10": (dims, np.ones(t2m.shape)),
                     "v10": (dims, np.ones(t2m.shape)),
                     "ssrd": (dims, running(hourly_g), {"units": "J m**-2"}),
                     "strd": (dims, running(hourly_l), {"units": "J m**-2"})},
                    coords={"valid_time": times, "latitude": [48.0], "longitude": [11.0]})
    out = tmrt.compute(ds, accumulation="since-00utc")
    for k in ("counter_radiation", "global_radiation", "mean_radiant_temperature", "utci"):
        values = out[k].values[:, 0, 0]
        assert np.isnan(values[0]) and not np.isnan(values[1:]).any(), k
    np.testing.assert_allclose(out["counter_radiation"].values[1:, 0, 0],
                               hourly_l[1:, 0, 0] / 3600, rtol=1e-12)
    filled = tmrt.compute(ds, accumulation="since-00utc", fill_missing="model")
    assert filled[tmrt.FILLED].values[0, 0, 0] == 1 | 2 | 4 | 8 | 16 | 32
    assert (filled[tmrt.FILLED].values[1:] == 0).all()
    assert filled[tmrt.FILLED].attrs["flag_meanings"].split() == list(tmrt.FILLED_TERMS)
    assert "else AtmosGegenstr" in filled["counter_radiation"].attrs["source"]
    lazy = tmrt.compute(ds.chunk({"valid_time": 7}), accumulation="since-00utc",
                        fill_missing="model").compute()
    for k in ("mean_radiant_temperature", tmrt.FILLED):
        np.testing.assert_array_equal(lazy[k].values, filled[k].values, err_msg=k)


def test_too_much_sun_is_named_alike_in_memory_and_lazily():
    # In memory only the global radiation above 100 W/m² meets the sun of its
    # interval; the first element refused, and the words, are the lazy check's.
    hourly = era5_hours()
    ssrd = hourly["ssrd"].values.copy()
    ssrd[29, 1, 1] = 4.0e6          # 01:00 local time at 60 W: 1111 W/m² at night
    ssrd[30, 1, 0] = ssrd[30, 1, 0] * 1.1 + 2.5e6         # the afternoon, too bright
    ssrd[40, 0, 1] = 3.0e5          # night, 83 W/m²: within the limit's 100 W/m²
    bright = hourly.assign(ssrd=hourly["ssrd"].copy(data=ssrd))
    messages = []
    for ds in (bright, bright.chunk({"valid_time": 7})):
        with pytest.raises(tmrt.ObservationError) as caught:
            tmrt.compute(ds).compute()
        messages.append(str(caught.value))
    # the same element, by its coordinates in memory, by its place lazily
    assert messages[0].endswith("(at valid_time 2023-06-22T05:00:00, latitude 30, longitude -60)")
    assert messages[1].endswith("(at valid_time 29, latitude 1, longitude 1)")
    assert messages[0].rsplit(" (at ", 1)[0] == messages[1].rsplit(" (at ", 1)[0]
    # masked, the two are missing, or modelled (the clear sky under the cloud) where asked
    masked = tmrt.compute(bright, invalid="mask")["global_radiation"].values
    assert np.isnan(masked).sum() == 2 and np.isnan(masked[[29, 30], 1, [1, 0]]).all()
    masked = tmrt.compute(bright, invalid="mask", fill_missing="model")["global_radiation"].values
    assert (masked != ssrd / 3600).sum() == 2 and masked[29, 1, 1] == 0 and masked[30, 1, 0] < 700
    fine = ssrd.copy()
    fine[29, 1, 1] = fine[30, 1, 0] = 0.0
    tmrt.compute(hourly.assign(ssrd=hourly["ssrd"].copy(data=fine)))


def test_dew_points_above_the_air_are_checked_where_they_are():
    obs = hourly_year(n=48)
    obs.pop("relative_humidity")
    obs["dew_point"] = obs["air_temperature"] - 3.0
    obs["dew_point"][[5, 17]] = obs["air_temperature"][[5, 17]] + [0.3, 2.0]   # 2 %, 15 %
    with pytest.raises(tmrt.ObservationError, match="a dew point of .* is 1[45] % above"):
        tmrt.compute(obs, **SITE)
    obs["dew_point"][17] = np.nan
    got = tmrt.compute(obs, **SITE)
    assert got["relative_humidity"][5] == 100.0
