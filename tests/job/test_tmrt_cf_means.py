"""A climate model's fluxes as CF describes them: means over the time
bounds ("time: mean" in cell_methods), paired with the sun of those bounds
whatever the timestamps setting says; refused where nothing tells their
interval or the bounds are not one the interval's sun takes."""

import numpy as np
import pytest

from quarnel import tmrt
from support.cmip import as_instants, cmip

xr = pytest.importorskip("xarray")

PLACES = {"middle": "interval-middle", "start": "interval-start", "end": "interval-end"}


def assert_same(got, want):
    for k in tmrt.OUTPUTS:
        np.testing.assert_array_equal(got[k].values, want[k].values, err_msg=k)


@pytest.mark.parametrize("hours", [1, 3])
def test_means_are_paired_with_the_sun_of_their_time_bounds(hours):
    ds = cmip(hours=hours, steps=48 // hours)
    got = tmrt.compute(ds)
    # the same values as the same data with their interval given
    assert_same(got, tmrt.compute(as_instants(ds), timestamps="interval-middle"))
    # an interval setting the bounds agree with changes nothing; lazily the same
    assert_same(tmrt.compute(ds, timestamps="interval-middle", accumulation=float(hours)), got)
    assert_same(tmrt.compute(ds.chunk({"time": 5})).compute(), got)
    assert f"{hours} h interval around each time" in got["direct_radiation"].attrs["source"]
    # read as instants they are wrong where the sun rose or set in the interval
    instants = tmrt.compute(as_instants(ds))
    dawn = (got["sunlit_fraction"] > 0) & (got["sunlit_fraction"] < 1)
    off = abs(got["mean_radiant_temperature"] - instants["mean_radiant_temperature"])
    assert float(off.where(dawn).max()) > 5.0
    assert float(off.where(got["sunlit_fraction"] == 0).max()) == 0.0


@pytest.mark.parametrize("place", ["start", "end"])
def test_the_stamps_place_in_its_bounds_says_which_interval(place):
    ds = cmip(hours=3, steps=16, place=place)
    assert_same(tmrt.compute(ds), tmrt.compute(as_instants(ds), timestamps=PLACES[place]))


def test_bounds_of_a_model_calendar_are_read_in_that_calendar():
    # hourly noleap means over the end of February 2020: no 29th between the
    # 28th's last hour and 1 March's first, which a real date would put there
    pytest.importorskip("cftime")
    ds = cmip(hours=1, steps=4, start="2020-02-28T22:00")
    day = xr.date_range("2020-02-28T22:00", periods=5, freq="h", calendar="noleap",
                        use_cftime=True).values
    ds = ds.assign_coords(time=("time", day[:-1] + (day[1] - day[0]) / 2, ds["time"].attrs))
    ds["time_bnds"] = (("time", "bnds"), np.stack([day[:-1], day[1:]], axis=1))
    got = tmrt.compute(ds)
    want = tmrt.compute(as_instants(ds), timestamps="interval-middle")
    np.testing.assert_array_equal(got["mean_radiant_temperature"].values,
                                  want["mean_radiant_temperature"].values)


def test_an_interval_setting_the_bounds_contradict_is_refused_naming_both():
    ds = cmip(hours=3, steps=8)
    with pytest.raises(tmrt.SettingError, match=r"the time bounds 'time_bnds' of the means in "
                       r"'rsds' say interval-middle, not timestamps=interval-end"):
        tmrt.compute(ds, timestamps="interval-end")
    with pytest.raises(tmrt.SettingError, match=r"'time_bnds' of the means in 'rsds' are 3 h "
                       r"wide, not accumulation=1"):
        tmrt.compute(ds, accumulation=1.0, timestamps="interval-middle")


@pytest.mark.parametrize("cell_methods, means", [
    ("time: mean", True),
    ("area: time: mean", True),
    ("area: mean time: mean (interval: 1 hour)", True),
    ("time:mean", True),
    ("area: mean where land time: mean", True),
    ("time: point", False),
    ("area: mean", False),
    ("time: maximum", False),
    ("area: mean (comment: time: mean of the driving model)", False),
])
def test_means_without_bounds_read_as_instants_are_refused(cell_methods, means):
    ds = as_instants(cmip(hours=3, steps=8))
    ds["rsds"].attrs["cell_methods"] = cell_methods
    if not means:       # as ever: instants
        assert_same(tmrt.compute(ds), tmrt.compute(as_instants(cmip(hours=3, steps=8))))
        return
    with pytest.raises(tmrt.SettingError) as refused:
        tmrt.compute(ds)
    assert str(refused.value) == (
        "variable 'rsds': its cell_methods say means over time, and the time coordinate 'time' "
        "has no bounds to tell their interval: give "
        "timestamps=interval-end|interval-start|interval-middle")
    # given, the interval is the rows' spacing
    assert_same(tmrt.compute(ds, timestamps="interval-middle"),
                tmrt.compute(as_instants(ds), timestamps="interval-middle"))


def test_bounds_the_sun_of_one_interval_cannot_take_are_refused():
    def means(stamps, lower, upper):
        ds = cmip(hours=1, steps=len(stamps))
        t = np.array(stamps, dtype="datetime64[ns]")
        ds = ds.assign_coords(time=("time", t, ds["time"].attrs))
        ds["time_bnds"] = (("time", "bnds"), np.array([lower, upper], "datetime64[ns]").T)
        return ds

    monthly = means(["2021-01-16T12", "2021-02-15", "2021-03-16T12"],
                    ["2021-01-01", "2021-02-01", "2021-03-01"],
                    ["2021-02-01", "2021-03-01", "2021-04-01"])
    with pytest.raises(tmrt.ObservationError, match=r"^time_bnds: bounds 672 to 744 h wide: the "
                       r"sun is paired with means over intervals of one length, 1 minute to "
                       r"24 h \(not monthly means\)$"):
        tmrt.compute(monthly)
    pentads = means(["2021-06-03T12", "2021-06-08T12"], ["2021-06-01", "2021-06-06"],
                    ["2021-06-06", "2021-06-11"])
    with pytest.raises(tmrt.ObservationError, match=r"bounds 120 h wide: the sun is paired "
                       r"with means over 1 minute to 24 h, not over 120 h"):
        tmrt.compute(pentads, timestamps="interval-middle")
    askew = means(["2021-06-01T00:10", "2021-06-01T01:10"], ["2021-06-01T00", "2021-06-01T01"],
                  ["2021-06-01T01", "2021-06-01T02"])
    with pytest.raises(tmrt.ObservationError, match="neither at the start, the middle nor the end"):
        tmrt.compute(askew)
    outside = means(["2021-06-01T00:30", "2021-06-01T03:30"], ["2021-06-01T00", "2021-06-01T01"],
                    ["2021-06-01T01", "2021-06-01T02"])
    with pytest.raises(tmrt.ObservationError, match=r"2021-06-01T03:30:00.000000000 lies outside "
                       r"its bounds .* \(at time 1\)"):
        tmrt.compute(outside)
