"""The command on data as it comes: one line naming the file, the column or
option and the fix where a file is wrong (a clock, repeated times, humidity
as a fraction, a file that is not what its name says), and the
conventions of station files and grids (several stations, time zones by
name, the coordinates and units of the output)."""

import csv

import numpy as np
import pytest

from quarnel import tmrt
from support.cli import run
from support.station_year import UTC_OFFSET, tmy3

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")

HEADER = "time,air_temperature,relative_humidity,cloud_cover,wind_speed"


def write_csv(path, rows, header=HEADER):
    path.write_text(header + "\n" + "\n".join(rows) + "\n", encoding="utf-8")
    return path


def read(path):
    with open(path, encoding="utf-8") as f:
        return list(csv.DictReader(f))


def test_a_station_year_on_the_wrong_clock_names_the_option(tmp_path, capsys):
    obs, site = tmy3()
    src = tmp_path / "year.csv"
    names = [k for k in obs if k != "time"]
    lines = [",".join([str(t)] + [repr(float(obs[k][i])) for k in names])
             for i, t in enumerate(obs["time"])]
    write_csv(src, lines, ",".join(["time", *names]))
    where = ["--lat", site["latitude"], "--lon", site["longitude"], "--height", site["height"]]
    status, err = run([src, "-o", tmp_path / "a.csv", *where], capsys)
    assert status == 1
    assert err.count("\n") == 1 and f"{src}: global_radiation:" in err
    assert "The data fit --utc-offset -4.5 (-5 if each time ends an hour's mean" in err
    assert "--no-clock-check" in err and "missing-value" not in err
    assert run([src, "-o", tmp_path / "b.csv", *where, "--utc-offset", UTC_OFFSET],
               capsys)[0] == 0
    assert run([src, "-o", tmp_path / "c.csv", *where, "--no-clock-check"], capsys)[0] == 0
    status, err = run([src, "-o", tmp_path / "d.csv", *where[:2], "--lon", "79.95",
                       "--utc-offset", UTC_OFFSET], capsys)
    assert status == 1 and "The data fit --lon -79.95 (east is positive)" in err


@pytest.mark.parametrize("rows, message", [
    (["2023-07-12T10:00,20,50,2,3", "2023-07-12T11:00,21,50,2,3", "2023-07-12T10:00,22,50,2,3"],
     "line 4, column 'time': the time 2023-07-12T10:00:00 is repeated"),
    (["2023-07-12T10:00,20,0.5,2,3", "2023-07-12T11:00,21,0.45,2,3"],
     ": relative_humidity: every value is at most 1: a fraction"),
])
def test_series_that_cannot_be_right(tmp_path, capsys, rows, message):
    src = write_csv(tmp_path / "obs.csv", rows)
    status, err = run([src, "-o", tmp_path / "o.csv", "--lat", "50", "--lon", "8"], capsys)
    assert status == 1 and message in err and err.count("\n") == 1, err


@pytest.mark.parametrize("name, content, message", [
    ("empty.nc", b"", "an empty file, not NetCDF"),
    ("garbage.nc", b"<html>404 Not Found</html>", "not a NetCDF file"),
    ("store.zarr", b"x", "a file, not a Zarr store"),
    ("empty.grib", b"", "an empty file, not GRIB"),
])
def test_a_file_that_is_not_what_its_name_says(tmp_path, capsys, name, content, message):
    src = tmp_path / name
    src.write_bytes(content)
    status, err = run([src, "-o", tmp_path / "out.nc"], capsys)
    assert status == 1 and message in err and "output of a CSV" not in err, err


def test_several_stations_in_one_csv_are_separate_runs(tmp_path, capsys):
    rng = np.random.default_rng(2)
    sites = {"wien": (48.2, 16.4, 190.0, 1.0), "quito": (-0.2, -78.5, 2850.0, -5.0)}
    times = [f"2023-07-12T{h:02d}:00" for h in range(24)]
    rows, alone = [], {}
    for name, (lat, lon, height, offset) in sites.items():
        own = []
        for t in times:
            cells = [t, f"{rng.uniform(5, 30):.1f}", f"{rng.uniform(30, 90):.0f}",
                     f"{rng.integers(0, 9)}", f"{rng.uniform(0, 8):.1f}"]
            own.append(",".join(cells))
            rows.append(",".join([name, *cells, str(lat), str(lon), str(height), str(offset)]))
        src = write_csv(tmp_path / f"{name}.csv", own)
        out = tmp_path / f"{name}_out.csv"
        assert run([src, "-o", out, "--lat", lat, "--lon", lon, "--height", height,
                    "--utc-offset", offset], capsys)[0] == 0
        alone[name] = read(out)
    both = write_csv(tmp_path / "both.csv", rows,
                     "site," + HEADER + ",latitude,longitude,height,utc_offset")
    out = tmp_path / "both_out.csv"
    status, err = run([both, "-o", out, "--group", "site"], capsys)
    assert status == 0, err
    got = read(out)
    for k in tmrt.OUTPUTS:
        assert [r[k] for r in got] == [r[k] for name in sites for r in alone[name]], k
    # the sites come from the columns, not from options too
    with pytest.raises(SystemExit) as stop:
        run([both, "-o", out, "--lat", "10", "--lon", "10"], capsys)
    assert stop.value.code == 2
    assert "--lat: the CSV gives latitude row by row" in capsys.readouterr().err
    # without --group, the stations' times repeat across sites only
    assert run([both, "-o", out], capsys)[0] == 0
    status, err = run([both, "-o", out, "--group", "stn"], capsys)
    assert status == 1 and "--group: no column 'stn'" in err


def test_local_times_by_time_zone_across_daylight_saving(tmp_path, capsys):
    rows = ["2023-03-26T01:00,5,80,2,3", "2023-03-26T03:00,6,80,2,3",
            "2023-10-29T02:00,8,80,2,3", "2023-10-29T02:30,8,80,2,3",
            "2023-10-29T02:00,8,80,2,3", "2023-10-29T02:30,8,80,2,3"]
    src = write_csv(tmp_path / "berlin.csv", rows)
    where = ["--lat", "52.5", "--lon", "13.4"]
    status, err = run([src, "-o", tmp_path / "o.csv", *where, "--timezone", "Europe/Berlin"],
                      capsys)
    assert status == 0, err
    solar = [float(r["solar_time"]) for r in read(tmp_path / "o.csv")]
    # winter time, then summer time, the repeated hour once each: even steps of UTC
    assert solar[1] - solar[0] == pytest.approx(1.0, abs=0.01)
    assert np.diff(solar[2:]) == pytest.approx([0.5, 0.5, 0.5], abs=0.01)
    skipped = write_csv(tmp_path / "skipped.csv", ["2023-03-26T02:30,5,80,2,3"])
    status, err = run([skipped, "-o", tmp_path / "s.csv", *where, "--timezone",
                       "Europe/Berlin"], capsys)
    assert status == 1 and "line 2, column 'time'" in err and "--utc-offset 1" in err
    with pytest.raises(SystemExit) as stop:
        run([src, "-o", tmp_path / "o.csv", *where, "--timezone", "Europe/Berln"], capsys)
    assert stop.value.code == 2 and "no such time zone" in capsys.readouterr().err


def test_grid_outputs_keep_their_coordinates(tmp_path, capsys):
    rng = np.random.default_rng(4)
    times = pd.date_range("2023-03-20T06:00", periods=6, freq="h")

    def fields(shape, dims):
        return {"t2m": (dims, 285 + rng.normal(0, 3, shape), {"units": "K"}),
                "d2m": (dims, 278 + rng.normal(0, 1, shape), {"units": "K"}),
                "tcc": (dims, rng.uniform(0, 1, shape), {"units": "(0 - 1)"}),
                "u10": (dims, rng.normal(0, 3, shape)), "v10": (dims, rng.normal(0, 3, shape))}

    # with the coordinates of the CDS's ERA5: final or preliminary data, and
    # the member
    stations = xr.Dataset(fields((6, 3), ("time", "station")), coords={
        "time": times, "station": ["a", "b", "c"], "latitude": ("station", [50.0, 40.0, 60.0]),
        "longitude": ("station", [10.0, -5.0, 20.0]),
        "expver": ("time", ["0001"] * 4 + ["0005"] * 2), "number": 0})
    y, x = np.meshgrid(np.arange(3), np.arange(4), indexing="ij")
    curved = xr.Dataset(fields((6, 3, 4), ("time", "y", "x")), coords={
        "time": times, "latitude": (("y", "x"), 45.0 + y + 0.1 * x),
        "longitude": (("y", "x"), 5.0 + x + 0.2 * y)})
    for name, ds in (("stations", stations), ("curved", curved)):
        src = tmp_path / f"{name}.nc"
        ds.to_netcdf(src)
        for suffix in (".nc", ".zarr"):
            out = tmp_path / f"{name}_out{suffix}"
            assert run([src, "-o", out, "--variables", "all"], capsys)[0] == 0
            with xr.open_dataset(out, engine="zarr" if suffix == ".zarr" else None) as got:
                for c, standard in (("latitude", "latitude"), ("longitude", "longitude")):
                    assert c in got.coords
                    np.testing.assert_array_equal(got[c].values, ds[c].values)
                    assert got[c].attrs["standard_name"] == standard
                if name == "stations":
                    assert list(got["expver"].values) == list(ds["expver"].values)
                    assert int(got["number"]) == 0
                assert got["cloud_cover"].attrs["units"] == "1/8"
                assert "octas" in got["cloud_cover"].attrs["long_name"]
        want = tmrt.compute(ds)["mean_radiant_temperature"]
        with xr.open_dataset(tmp_path / f"{name}_out.nc") as got:
            np.testing.assert_allclose(got["mean_radiant_temperature"], want, rtol=1e-6)


def test_cloud_cover_units_are_known_to_udunits():
    cf_units = pytest.importorskip("cf_units")
    octas = cf_units.Unit(tmrt.INPUTS["cloud_cover"].unit)
    assert octas.convert(8.0, cf_units.Unit("1")) == pytest.approx(1.0)
