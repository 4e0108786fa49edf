"""Series that cannot be right are refused, naming what is wrong and the
likely fix: a clock or longitude that the measured sunshine contradicts
(pvlib's TMY3 year), repeated and unordered times, relative humidity as a
fraction, settings of the wrong kind; and the clock itself: time zones by
name across daylight saving, and several stations in one series."""

import numpy as np
import pytest

from quarnel import tmrt
from support.station_year import UTC_OFFSET, tmy3

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")

SITE = dict(latitude=52.5, longitude=13.4)


def day(times, **extra):
    n = len(times)
    return {"time": np.array(times, dtype="datetime64[m]"),
            "air_temperature": np.linspace(5.0, 15.0, n), "relative_humidity": np.full(n, 70.0),
            "cloud_cover": np.full(n, 3.0), "wind_speed": np.full(n, 2.0), **extra}


# --- the clock against the sun -------------------------------------------------

@pytest.fixture(scope="module")
def year():
    return tmy3()


def test_a_station_year_on_its_own_clock_passes(year):
    obs, site = year
    out = tmrt.compute(obs, utc_offset=UTC_OFFSET, variables=["zenith_angle"], **site)
    # hour-ending means: sunshine an hour after the stamp's sun set, none later
    assert np.nanmax(out["global_radiation"][out["zenith_angle"] > 100]) < 50


@pytest.mark.parametrize("offset", [0.0, -8.0, 3.0])
def test_a_wrong_clock_is_refused_naming_the_offset_that_fits(year, offset):
    obs, site = year
    with pytest.raises(tmrt.ObservationError) as caught:
        tmrt.compute(obs, utc_offset=offset, **site)
    e = caught.value
    assert e.quantity == "global_radiation" and e.setting == "utc_offset"
    # hourly means ending at the stamp fit best half an hour off the clock's
    # offset; the message says which offset that is for such means
    assert e.value == "-4.5"
    assert ("the data fit utc_offset=-4.5 (-5 if each time ends an hour's mean, -4 if it "
            "starts one)") in str(e).lower()
    assert "clock_check=False" in str(e)
    below = int(str(e).split(" of ")[0].rpartition(" ")[2])
    assert below > 100                              # hundreds of hours of sunshine at night


def test_a_longitude_of_the_wrong_sign_is_named(year):
    obs, site = year
    with pytest.raises(tmrt.ObservationError, match=r"longitude=-79.95 \(east is positive\)") as e:
        tmrt.compute(obs, utc_offset=UTC_OFFSET, **{**site, "longitude": 79.95})
    assert e.value.setting == "longitude"


def test_times_with_their_own_wrong_zone_and_the_check_turned_off(year):
    obs, site = year
    frame = pd.DataFrame({k: v for k, v in obs.items() if k != "time"},
                         index=pd.DatetimeIndex(obs["time"]).tz_localize("Etc/GMT-1"))
    # on UTC+1 where they are on UTC-5: hour-ending means fit 5.5 h later
    with pytest.raises(tmrt.ObservationError, match="The data fit the times 5.5 h later: is "
                                                    "their time zone right"):
        tmrt.compute(frame, **site)
    quiet = tmrt.compute(obs, utc_offset=0.0, clock_check=False, variables=["utci"], **site)
    assert np.isfinite(quiet["utci"]).mean() > 0.9


def test_few_values_or_night_without_sunshine_are_not_judged():
    # A handful of bright values at night (a reflection, a spike) pass.
    times = np.datetime64("2023-06-01T00:00") + np.arange(24 * 10).astype("timedelta64[h]")
    obs = day(times, global_radiation=np.zeros(times.size))
    obs["global_radiation"][[2, 26, 50]] = 300.0
    tmrt.compute(obs, **SITE)
    # Random radiation without a clock that fits: refused all the same.
    obs["global_radiation"] = np.random.default_rng(1).uniform(0, 900, times.size)
    with pytest.raises(tmrt.ObservationError, match="no other clock better"):
        tmrt.compute(obs, **SITE)


# --- times each once, in order where the spacing matters --------------------------

def test_a_repeated_time_is_refused_naming_the_first():
    obs = day(["2023-07-12T10:00", "2023-07-12T11:00", "2023-07-12T12:00", "2023-07-12T11:00",
               "2023-07-12T10:00"])
    with pytest.raises(tmrt.ObservationError, match=r"time: the time 2023-07-12T11:00:00 is "
                                                    r"repeated .*\(at index 3\)") as e:
        tmrt.compute(obs, **SITE)
    assert e.value.row == 3 and e.value.quantity == "time"
    frame = pd.DataFrame({k: v for k, v in obs.items() if k != "time"},
                         index=pd.DatetimeIndex(obs["time"]))
    with pytest.raises(tmrt.ObservationError, match=r"at 2023-07-12 11:00:00\)"):
        tmrt.compute(frame, **SITE)


def test_times_repeat_across_stations_not_within_one():
    obs = day(["2023-07-12T10:00", "2023-07-12T11:00"] * 2)
    obs["station"] = np.array(["a", "a", "b", "b"])
    tmrt.compute(obs, **SITE)
    obs["station"] = np.array(["a", "b", "a", "a"])
    with pytest.raises(tmrt.ObservationError, match="repeated in its station's series"):
        tmrt.compute(obs, **SITE)
    del obs["station"]               # without a station column, the sites tell
    tmrt.compute(obs, latitude=np.array([50.0, 50.0, 51.0, 51.0]), longitude=10.0)
    # by latitude and longitude together
    tmrt.compute(obs, latitude=50.0, longitude=np.array([10.0, 10.0, 11.0, 11.0]))
    with pytest.raises(tmrt.ObservationError, match="repeated in its station's series"):
        tmrt.compute(obs, latitude=np.array([50.0, 51.0, 50.0, 50.0]),
                     longitude=np.array([10.0, 10.0, 10.0, 11.0]))


def test_the_first_repeat_is_named_however_the_series_lie():
    # Series in runs or interleaved, times rising or not, missing times:
    # the first row whose time its series had before, as a search finds it.
    from quarnel.tmrt import checks
    rng = np.random.default_rng(9)
    hours = np.datetime64("2023-07-12T00", "h") + np.arange(6).astype("timedelta64[h]")
    for k in range(400):
        n = int(rng.integers(2, 14))
        codes = np.sort(rng.integers(0, 3, n)) if k % 2 else rng.integers(0, 3, n)
        utc = hours[rng.integers(0, 6, n)]
        if k % 3 == 0:
            utc = np.sort(utc)
        if k % 5 == 0:
            utc = utc.astype("datetime64[ns]")
            utc[rng.integers(0, n)] = np.datetime64("NaT", "ns")
        seen, want = set(), None
        for row, (c, t) in enumerate(zip(codes.tolist(), utc.tolist())):
            if t is not None and (c, t) in seen:
                want = row
                break
            seen.add((c, t))
        series = codes if k % 7 else None
        if series is None:
            want = next((r for r in range(n) if not np.isnat(utc[r]) and utc[r] in utc[:r]), None)
        if want is None:
            checks.once_per_series(utc, series, utc, "time")
        else:
            with pytest.raises(tmrt.ObservationError) as e:
                checks.once_per_series(utc, series, utc, "time")
            assert e.value.row == want


def test_sites_group_rows_as_unique_pairs_of_latitude_and_longitude():
    from quarnel.tmrt import checks
    rng = np.random.default_rng(8)
    values = np.array([0.0, -0.0, 1.5, -3.25, 10.0, np.inf, np.nan])
    n = 2_000
    for lat, lon in [(rng.choice(values, n), rng.choice(values, n)), (rng.choice(values, n), 7.0),
                     (rng.integers(-3, 3, n), rng.choice(values[:5], n))]:
        codes = checks.series_codes(None, lat, lon, n)
        pairs = np.stack(np.broadcast_arrays(lat, lon), axis=-1).astype(np.float64)
        want = np.unique(pairs, axis=0, return_inverse=True)[1].reshape(n)
        # the same groups (a NaN site is one of its own), numbered alike where no NaN
        assert len(set(zip(codes.tolist(), want.tolist()))) == len(set(want.tolist())) == codes.max() + 1
        finite = ~np.isnan(pairs).any(axis=1)
        np.testing.assert_array_equal(codes[finite], want[finite])


def ssrd(times):
    n = len(times)
    return xr.Dataset(
        {"t2m": ("time", np.full(n, 290.0), {"units": "K"}),
         "d2m": ("time", np.full(n, 280.0), {"units": "K"}),
         "tcc": ("time", np.full(n, 0.5), {"units": "1"}),
         "u10": ("time", np.ones(n)), "v10": ("time", np.ones(n)),
         "ssrd": ("time", np.full(n, 1.0e6), {"units": "J m**-2"})},
        coords={"time": np.array(times, dtype="datetime64[ns]")})


def test_unordered_steps_are_out_of_order_not_unevenly_spaced():
    ds = ssrd(["2023-07-12T10:00", "2023-07-12T12:00", "2023-07-12T11:00", "2023-07-12T13:00"])
    with pytest.raises(tmrt.ObservationError, match=r"out of order: 2023-07-12T11:00:00 after "
                                                    r"2023-07-12T12:00:00"):
        tmrt.compute(ds, **SITE)
    with pytest.raises(tmrt.ObservationError, match="out of order"):
        tmrt.accumulation_hours(ds.time.values)
    with pytest.raises(tmrt.ObservationError, match="repeated"):
        tmrt.compute(ssrd(["2023-07-12T10:00", "2023-07-12T10:00", "2023-07-12T11:00"]), **SITE)
    with pytest.raises(tmrt.SettingError, match="not evenly spaced"):
        tmrt.compute(ssrd(["2023-07-12T10:00", "2023-07-12T11:00", "2023-07-12T13:00"]), **SITE)


# --- relative humidity in percent ---------------------------------------------

def test_relative_humidity_as_a_fraction_is_refused():
    obs = day(["2023-07-12T10:00", "2023-07-12T11:00"])
    obs["relative_humidity"] = np.array([0.62, 0.55])
    with pytest.raises(tmrt.ObservationError, match="relative_humidity: every value is at most "
                                                    "1: a fraction"):
        tmrt.compute(obs, **SITE)
    obs["relative_humidity"] = np.array([0.8, 55.0])            # a dry value among others
    tmrt.compute(obs, **SITE)
    ds = xr.Dataset({k: ("time", v) for k, v in day(["2023-07-12T10:00"]).items() if k != "time"},
                    coords={"time": np.array(["2023-07-12T10:00"], "datetime64[ns]")})
    ds["relative_humidity"] = ("time", [0.6], {"units": "1"})   # said to be a fraction: taken so
    assert float(tmrt.compute(ds, **SITE)["relative_humidity"][0]) == pytest.approx(60.0)
    ds["relative_humidity"].attrs["units"] = "%"
    with pytest.raises(tmrt.ObservationError, match="relative_humidity"):
        tmrt.compute(ds, **SITE)


# --- settings of the wrong kind --------------------------------------------------

@pytest.mark.parametrize("keyword, wrong", [
    ("names", ["air_temperature"]), ("names", {"air_temperature": 5}), ("names", "ta"),
    ("variables", 5), ("variables", "utci"), ("variables", [b"utci"]), ("variables", ["utcii"]),
    ("utc_offset", "-5"), ("timezone", "UTC+1"), ("clock_check", "no")])
def test_settings_of_the_wrong_kind_name_their_parameter(keyword, wrong):
    with pytest.raises(tmrt.SettingError) as caught:
        tmrt.compute(day(["2023-07-12T10:00"]), **SITE, **{keyword: wrong})
    assert caught.value.setting == keyword and str(caught.value).startswith(keyword)


# --- time zones by name ------------------------------------------------------------

def test_a_time_zone_is_its_offsets_either_side_of_daylight_saving():
    winter = day(["2023-03-25T12:00", "2023-10-30T12:00"])
    summer = day(["2023-03-27T12:00", "2023-10-28T12:00"])
    zoned = {k: tmrt.compute(v, timezone="Europe/Berlin", **SITE) for k, v in
             (("winter", winter), ("summer", summer))}
    fixed = {"winter": tmrt.compute(winter, utc_offset=1.0, **SITE),
             "summer": tmrt.compute(summer, utc_offset=2.0, **SITE)}
    for k in zoned:
        np.testing.assert_array_equal(zoned[k]["solar_time"], fixed[k]["solar_time"])
        np.testing.assert_array_equal(zoned[k]["mean_radiant_temperature"],
                                      fixed[k]["mean_radiant_temperature"])


def test_the_hour_passed_twice_is_read_in_order_and_a_skipped_one_refused():
    from quarnel.tmrt import checks

    # 29 October 2023 in Berlin: 02:00 to 03:00 twice, two stations interleaved.
    local = np.array(["2023-10-29T01:30", "2023-10-29T01:30", "2023-10-29T02:00",
                      "2023-10-29T02:00", "2023-10-29T02:30", "2023-10-29T02:30",
                      "2023-10-29T02:00", "2023-10-29T02:00", "2023-10-29T02:30",
                      "2023-10-29T03:00"], "datetime64[m]")
    series = np.array([0, 1, 0, 1, 0, 1, 0, 1, 0, 0])
    utc = checks.checked_utc(local, 0.0, "Europe/Berlin", series, "time")
    want = np.array(["2023-10-28T23:30", "2023-10-28T23:30", "2023-10-29T00:00",
                     "2023-10-29T00:00", "2023-10-29T00:30", "2023-10-29T00:30",
                     "2023-10-29T01:00", "2023-10-29T01:00", "2023-10-29T01:30",
                     "2023-10-29T02:00"], "datetime64[ns]")
    np.testing.assert_array_equal(utc, want)
    # 26 March 2023: 02:30 does not exist; the message suggests standard time
    obs = day(["2023-03-26T01:30", "2023-03-26T02:30", "2023-03-26T03:30"])
    with pytest.raises(tmrt.ObservationError, match=r"2023-03-26T02:30:00 does not exist in "
                                                    r"Europe/Berlin.*utc_offset=1 \(at index 1\)"):
        tmrt.compute(obs, timezone="Europe/Berlin", **SITE)
    with pytest.raises(tmrt.SettingError, match="give one of them"):
        tmrt.compute(obs, timezone="Europe/Berlin", utc_offset=1.0, **SITE)


# --- several stations ----------------------------------------------------------------

def test_several_stations_in_one_series_are_separate_runs_bit_for_bit():
    rng = np.random.default_rng(5)
    n = 72
    sites = [dict(latitude=48.1, longitude=11.6, height=520.0, utc_offset=1.0,
                  sky_view_factor=0.5),
             dict(latitude=-33.9, longitude=151.2, height=30.0, utc_offset=10.0,
                  sky_view_factor=1.0),
             dict(latitude=64.1, longitude=-21.9, height=0.0, utc_offset=0.0,
                  sky_view_factor=0.8)]
    runs, parts = [], []
    for k, site in enumerate(sites):
        times = np.datetime64("2023-06-20T00:00") + np.arange(n).astype("timedelta64[h]")
        obs = day(times, air_temperature=rng.uniform(0, 30, n),
                  relative_humidity=rng.uniform(20, 95, n),
                  global_radiation=np.full(n, np.nan), wind_speed=rng.uniform(0, 8, n))
        parts.append(obs)
        runs.append(tmrt.compute(obs, **site))
    together = {k: np.concatenate([p[k] for p in parts]) for k in parts[0]}
    together["station"] = np.repeat(["munich", "sydney", "reykjavik"], n)
    per_row = {k: np.repeat([s[k] for s in sites], n) for k in sites[0]}
    out = tmrt.compute(together, **per_row)
    for k in tmrt.OUTPUTS:
        want = np.concatenate([r[k] for r in runs])
        assert want.tobytes() == np.asarray(out[k]).tobytes(), k
