"""The command's manners: its version, a note on columns it leaves unread,
integer categories in CSV, the site in the plot's title, and a plot that
stays readable from a day to a year of hours."""

import csv
import warnings

import numpy as np
import pytest

import quarnel
from quarnel import cli, tmrt
from quarnel.command.plot import PLOTTED, Daily, plot, site

SITE = ["--lat", "51.477", "--lon", "-0.12"]
CSV = """\
time,air_temperature,relativ_humidity,vapour_pressure,cloud_cover,wind_speed,station_id
2023-07-12T06:00Z,15.0,80,13.6,2,3.0,433
2023-07-12T12:00Z,-999,45,14.1,4,4.0,433
2023-07-12T13:00Z,34.0,30,16.0,0,1.0,433
"""


def run(args, capsys):
    status = cli.main(["tmrt", *(str(a) for a in args)])
    return status, capsys.readouterr().err


def test_version(capsys):
    with pytest.raises(SystemExit) as stop:
        cli.main(["--version"])
    assert stop.value.code == 0
    assert capsys.readouterr().out.strip() == f"quarnel {quarnel.__version__}"


class TestUnusedColumns:
    def test_named_in_one_line_with_a_near_miss_and_copied(self, tmp_path, capsys):
        src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
        src.write_text(CSV, encoding="utf-8")
        status, err = run([src, "-o", out, *SITE, "--missing-value", "-999"], capsys)
        assert status == 0, err
        notes = [line for line in err.splitlines() if "note:" in line]
        assert notes == ["quarnel: note: columns not used: "
                         "relativ_humidity (did you mean relative_humidity?), station_id"]
        with open(out, encoding="utf-8") as f:
            rows = list(csv.DictReader(f))
        assert [r["relativ_humidity"] for r in rows] == ["80", "45", "30"]
        assert [r["station_id"] for r in rows] == ["433"] * 3

    def test_silent_when_all_are_read_and_no_guess_for_a_given_quantity(self, tmp_path, capsys):
        src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
        src.write_text(CSV.replace(",station_id", "").replace(",433", ""), encoding="utf-8")
        args = [src, "-o", out, *SITE, "--missing-value", "-999"]
        status, err = run([*args, "--column", "relative_humidity=relativ_humidity"], capsys)
        assert status == 0 and "note:" not in err, err
        # relative humidity is there: the near miss is no misspelling of it
        src.write_text(CSV.replace("vapour_pressure", "relative_humidity"), encoding="utf-8")
        status, err = run(args, capsys)
        assert status == 0, err
        assert "columns not used: relativ_humidity, station_id\n" in err

    def test_a_missing_quantity_points_at_the_near_miss(self, tmp_path, capsys):
        src = tmp_path / "obs.csv"
        src.write_text(CSV.replace(",vapour_pressure", "").replace(",13.6", "")
                       .replace(",14.1", "").replace(",16.0", ""), encoding="utf-8")
        status, err = run([src, "-o", tmp_path / "out.csv", *SITE], capsys)
        assert status == 1 and len(err.splitlines()) == 1
        assert err.rstrip().endswith(
            "(did you mean 'relativ_humidity'? --column relative_humidity=relativ_humidity)")


def test_categories_written_as_integers_and_missing_as_empty(tmp_path, capsys):
    src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
    src.write_text(CSV, encoding="utf-8")
    assert run([src, "-o", out, *SITE, "--missing-value", "-999"], capsys)[0] == 0
    with open(out, encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    want = tmrt.compute({"time": np.array(["2023-07-12T06:00", "2023-07-12T12:00",
                                            "2023-07-12T13:00"], "datetime64[m]"),
                         "air_temperature": [15.0, np.nan, 34.0],
                         "vapour_pressure": [13.6, 14.1, 16.0], "cloud_cover": [2.0, 4, 0],
                         "wind_speed": [3.0, 4.0, 1.0]}, latitude=51.477, longitude=-0.12)
    for k in tmrt.CATEGORIES:
        assert want[k][1] == -1 and want[k][0] >= 0
        assert [r[k] for r in rows] == ["" if c == -1 else str(c) for c in want[k]]
    assert rows[0]["utci"] == repr(float(want["utci"][0]))  # floats keep every digit


@pytest.mark.parametrize("lat,lon,text", [
    (51.48, -0.12, "51.48° N, 0.12° W"),
    (-33.87, 151.21, "33.87° S, 151.21° E"),
    (0.0, 0.0, "0° N, 0° E"),
    (-0.0, -0.0, "0° N, 0° E"),
])
def test_site_in_words(lat, lon, text):
    assert site(lat, lon) == text


class TestPlot:
    @staticmethod
    def hours(days):
        t = np.datetime64("2023-01-01T00:00") + np.arange(24 * days) * np.timedelta64(1, "h")
        phase = np.arange(t.size) / 24 * 2 * np.pi
        series = {k: 20 + 10 * np.sin(phase + i) for i, k in enumerate(PLOTTED)}
        series["utci"][:30] = np.nan          # a day and more without a value
        return t, series

    @pytest.mark.parametrize("days", [1, 365])
    def test_writes_a_png_without_warnings(self, tmp_path, days):
        pytest.importorskip("matplotlib")
        t, series = self.hours(days)
        png = tmp_path / "plot.png"
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            plot(t, series, "obs.csv: " + site(51.477, -0.12), png)
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and png.stat().st_size > 20000

    def test_time_steps_without_dates(self, tmp_path):
        # a grid without a time coordinate plots over its step numbers
        pytest.importorskip("matplotlib")
        _, series = self.hours(2)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            plot(np.arange(48), {"air_temperature": series["air_temperature"]}, "g",
                 tmp_path / "p.png")
        assert (tmp_path / "p.png").stat().st_size > 10000

    def test_daily_mean_and_range_leave_out_gaps(self):
        t = np.array(["2023-01-02T01", "2023-01-01T05", "2023-01-02T13", "2023-01-03T00",
                      "2023-01-01T23"], "datetime64[h]")
        daily = Daily(t)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            mean, low, high = daily(np.array([4.0, 1.0, np.nan, np.nan, 3.0]))
        assert daily.noon.astype(str).tolist() == ["2023-01-01T12:00:00", "2023-01-02T12:00:00",
                                                   "2023-01-03T12:00:00"]
        np.testing.assert_array_equal(mean, [2.0, 4.0, np.nan])
        np.testing.assert_array_equal(low, [1.0, 4.0, np.nan])
        np.testing.assert_array_equal(high, [3.0, 4.0, np.nan])
