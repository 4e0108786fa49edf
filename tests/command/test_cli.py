"""The command end to end: CSV and an ERA5-like NetCDF made here, bad
inputs with their messages and exit status, and no partial output."""

import csv
import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

from quarnel import cli, tmrt
from support.cli import era5, run

pd = pytest.importorskip("pandas")
xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")
ROOT = pathlib.Path(__file__).resolve().parents[2]
SHIPPED = ROOT / "examples" / "data" / "greenwich_2023-07-12.csv"
GREENWICH = ["--lat", "51.477", "--lon", "0", "--height", "40"]
HAVE_MPL = importlib.util.find_spec("matplotlib") is not None

CSV = """\
# a comment line, then the header
stamp,air_temperature,relative_humidity,cloud_cover,wind_speed,global_radiation
2023-07-12T09:00+02:00,20.5,60,2,3.0,
2023-07-12T09:00,21.0,58,3,3.5,410
2023-07-12T13:30:00Z,25.0,45,4,4.0,
"""


def read_csv(path):
    with open(path, encoding="utf-8") as f:
        return list(csv.DictReader(f))


def test_csv_in_csv_out_as_the_library_computes(tmp_path, capsys):
    src = tmp_path / "obs.csv"
    src.write_text(CSV, encoding="utf-8")
    out, png = tmp_path / "out.csv", tmp_path / "day.png"
    status, err = run([src, "-o", out, "--lat", "47.5", "--lon", "8.5", "--height", "400",
                       "--utc-offset", "1", "--column", "time=stamp", "--sky-view-factor", "0.5",
                       "--fill-missing", "model"]
                      + (["--plot", png] if HAVE_MPL else []), capsys)
    assert status == 0, err
    rows = read_csv(out)
    assert list(rows[0])[:6] == CSV.splitlines()[1].split(",")
    assert [r["stamp"] for r in rows] == ["2023-07-12T09:00+02:00", "2023-07-12T09:00",
                                          "2023-07-12T13:30:00Z"]
    utc = np.array(["2023-07-12T07:00", "2023-07-12T08:00", "2023-07-12T13:30"], "datetime64[m]")
    want = tmrt.compute({"time": utc, "air_temperature": [20.5, 21.0, 25.0],
                         "relative_humidity": [60.0, 58, 45], "cloud_cover": [2.0, 3, 4],
                         "wind_speed": [3.0, 3.5, 4.0],
                         "global_radiation": [np.nan, 410, np.nan]},
                        latitude=47.5, longitude=8.5, height=400.0, sky_view_factor=0.5,
                        fill_missing="model")
    for k in (*tmrt.OUTPUTS, tmrt.FILLED):
        got = [float(r[k]) if r[k] else np.nan for r in rows]
        np.testing.assert_array_equal(got, want[k], err_msg=k)  # every digit written
    # the empty cells: the model's global, direct, diffuse, reflected and ground radiation
    assert [int(r[tmrt.FILLED]) for r in rows] == [47, 0, 47]
    assert rows[1]["global_radiation"] == "410.0" and float(rows[0]["global_radiation"]) > 100
    # named outputs alone still carry what the model filled
    assert run([src, "-o", out, "--lat", "47.5", "--lon", "8.5", "--column", "time=stamp",
                "--utc-offset", "1", "--fill-missing", "model", "--variables", "utci"],
               capsys)[0] == 0
    assert list(read_csv(out)[0])[6:] == ["utci", tmrt.FILLED]
    if HAVE_MPL:
        assert png.stat().st_size > 10000


@pytest.mark.parametrize("delimiter", [";", "\t"])
def test_semicolons_tabs_and_decimal_commas_read_and_kept(tmp_path, capsys, delimiter):
    # The spreadsheet convention of comma-decimal locales: the same numbers,
    # and the output in the input's convention.
    args = ["--lat", "47.5", "--lon", "8.5", "--column", "time=stamp"]
    plain, local = tmp_path / "plain.csv", tmp_path / "local.csv"
    plain.write_text(CSV, encoding="utf-8")
    # with the empty fields a spreadsheet leaves beyond the last column
    local.write_text(CSV.replace(",", delimiter).replace(".", ",").replace("\n", delimiter * 2 + "\n"),
                     encoding="utf-8")
    assert run([plain, "-o", tmp_path / "a.csv", *args], capsys)[0] == 0
    status, err = run([local, "-o", tmp_path / "b.csv", *args], capsys)
    assert status == 0, err
    with open(tmp_path / "b.csv", encoding="utf-8") as f:
        rows = list(csv.reader(f, delimiter=delimiter))
    with open(tmp_path / "a.csv", encoding="utf-8") as f:
        assert [[c.replace(",", ".") for c in r] for r in rows] == list(csv.reader(f))
    assert rows[1][1] == "20,5" and "," in rows[2][rows[0].index("mean_radiant_temperature")]


@pytest.mark.parametrize("encoding,delimiter", [("cp1252", ";"), ("utf-16", "\t")])
def test_spreadsheet_encodings(tmp_path, capsys, encoding, delimiter):
    # Windows spreadsheets save CSV in their code page and "Unicode text" as
    # UTF-16 with tabs; a non-ASCII column name comes through into UTF-8.
    name = "Lufttemperatur – 2 m (°C)"
    text = ("# Messfeld Süd, °C\n" + CSV.split("\n", 1)[1]).replace("air_temperature", name)
    src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
    src.write_bytes(text.replace(",", delimiter).encode(encoding))
    status, err = run([src, "-o", out, *GREENWICH, "--column", "time=stamp",
                       "--column", f"air_temperature={name}"], capsys)
    assert status == 0, err
    with open(out, encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter=delimiter))
    assert [r[name] for r in rows] == ["20.5", "21.0", "25.0"]


def test_station_record_time_stamps(tmp_path, capsys):
    # A weather service's hourly record: semicolons, hour stamps without
    # offset (on the clock of --utc-offset), its own column names.
    src, out = tmp_path / "produkt.txt", tmp_path / "out.csv"
    src.write_text("STATIONS_ID;MESS_DATUM;TT_TU;RF_TU;N;FF\n"
                   "433;2023071213;25.0;45;4;4.0\n"
                   "433;202307121430;24,5;47;5;3.5\n"
                   "433;12.07.2023 15:00;24.0;50;5;3.0\n", encoding="utf-8")
    names = {"time": "MESS_DATUM", "air_temperature": "TT_TU", "relative_humidity": "RF_TU",
             "cloud_cover": "N", "wind_speed": "FF"}
    status, err = run([src, "-o", out, *GREENWICH, "--utc-offset", "1",
                       *[a for q, c in names.items() for a in ("--column", f"{q}={c}")]], capsys)
    assert status == 0, err
    want = tmrt.compute({"time": np.array(["2023-07-12T12:00", "2023-07-12T13:30", "2023-07-12T14:00"],
                                          "datetime64[m]"),
                         "air_temperature": [25.0, 24.5, 24.0], "relative_humidity": [45.0, 47, 50],
                         "cloud_cover": [4.0, 5, 5], "wind_speed": [4.0, 3.5, 3.0]},
                        latitude=51.477, longitude=0.0, height=40.0)
    with open(out, encoding="utf-8") as f:
        got = [float(r["mean_radiant_temperature"].replace(",", "."))
               for r in csv.DictReader(f, delimiter=";")]
    np.testing.assert_array_equal(got, want["mean_radiant_temperature"])


def test_a_logger_s_date_and_time_columns_and_times_not_read(tmp_path, capsys):
    src, out = tmp_path / "logger.csv", tmp_path / "out.csv"
    src.write_text("date,time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
                   "2023-07-12,13:00,25.0,45,4,4.0\n12.07.2023,14:30:00,24.5,47,5,3.5\n",
                   encoding="utf-8")
    assert run([src, "-o", out, *GREENWICH, "--variables", "solar_time"], capsys)[0] == 0
    rows = read_csv(out)
    assert [(r["date"], r["time"]) for r in rows] == [("2023-07-12", "13:00"),
                                                     ("12.07.2023", "14:30:00")]
    want = tmrt.compute({"time": np.array(["2023-07-12T13:00", "2023-07-12T14:30"],
                                          "datetime64[m]"),
                         "air_temperature": [25.0, 24.5], "relative_humidity": [45.0, 47],
                         "cloud_cover": [4.0, 5], "wind_speed": [4.0, 3.5]},
                        latitude=51.477, longitude=0.0, height=40.0, variables=["solar_time"])
    np.testing.assert_array_equal([float(r["solar_time"]) for r in rows], want["solar_time"])
    # a month first is refused, naming the forms that are read
    src.write_text("time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
                   "07/12/2023 13:00,25.0,45,4,4.0\n", encoding="utf-8")
    status, err = run([src, "-o", out, *GREENWICH], capsys)
    assert status == 1 and "line 2, column 'time': '07/12/2023 13:00'" in err
    assert "is not an ISO 8601 time" in err and "'date' column" in err


@pytest.mark.parametrize("edit, said, marker", [
    (("20.5,", "293.65,"), "(kelvin? °C is expected: subtract 273.15)", False),
    (("60,2,", "60,25,"), "(percent? octas are expected: multiply by 0.08)", True),
    (("20.5,", "2000.5,"), "", True),           # no unit makes sense of it
])
def test_a_value_of_another_unit_says_which_and_how_to_convert(tmp_path, capsys, edit, said,
                                                                marker):
    src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
    src.write_text(CSV.replace(*edit, 1), encoding="utf-8")
    status, err = run([src, "-o", out, *GREENWICH, "--column", "time=stamp"], capsys)
    assert status == 1 and "is outside the range" in err and said in err
    # a whole number may mark a missing value; a fraction of kelvin does not
    assert ("--missing-value" in err) == marker


def test_missing_value_markers(tmp_path, capsys):
    src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
    src.write_text(CSV.replace("3.5,410", "-999,-999").replace("45,4,", "-99.9,4,"), encoding="utf-8")
    args = [src, "-o", out, *GREENWICH, "--column", "time=stamp"]
    status, err = run(args, capsys)
    assert status == 1 and "line 5, column 'relative_humidity': -99.9 % is outside" in err
    assert err.rstrip().endswith("(if it marks a missing value: --missing-value)")
    status, err = run([*args, "--missing-value", "-999", "--missing-value", "-99.9"], capsys)
    assert status == 0, err
    rows = read_csv(out)
    assert [r["wind_speed"] for r in rows] == ["3.0", "-999", "4.0"]  # the input as it was
    assert rows[1]["mean_radiant_temperature"] == rows[2]["relative_humidity"] == ""
    # the marked global radiation is missing, and so is what depends on it
    assert rows[1]["global_radiation"] == rows[0]["mean_radiant_temperature"] == ""
    nc = tmp_path / "grid.nc"
    nc.write_bytes(b"CDF\x01" + bytes(64))
    with pytest.raises(SystemExit) as stop:
        cli.main(["tmrt", str(nc), "-o", str(tmp_path / "o.nc"), "--missing-value", "-999"])
    assert stop.value.code == 2 and "--missing-value is for CSV input" in capsys.readouterr().err


def test_the_shipped_day(tmp_path, capsys):
    out = tmp_path / "day.csv"
    assert run([SHIPPED, "-o", out, *GREENWICH], capsys)[0] == 0
    rows = read_csv(out)
    tmrt_ = np.array([float(r["mean_radiant_temperature"]) for r in rows])
    air = np.array([float(r["air_temperature"]) for r in rows])
    assert len(rows) == 24 and (tmrt_[10:15] - air[10:15]).min() > 20 and (tmrt_[:3] < air[:3]).all()


def test_netcdf_block_by_block_as_the_library_computes(tmp_path, capsys):
    src, out, png = tmp_path / "era5.nc", tmp_path / "tmrt.nc", tmp_path / "grid.png"
    ds = era5(src)
    status, err = run([src, "-o", out, "--chunks", "valid_time=12,latitude=3", "--height", "250",
                       "--variables", "all", "--dtype", "float64"]
                      + (["--plot", png] if HAVE_MPL else []), capsys)
    assert status == 0, err
    want = tmrt.compute(ds, height=250.0)
    with xr.open_dataset(out) as got:
        assert got["mean_radiant_temperature"].dims == ("valid_time", "latitude", "longitude")
        for k, q in tmrt.OUTPUTS.items():
            np.testing.assert_array_equal(got[k].values, want[k].transpose(*got[k].dims).values, k)
            assert (got[k].attrs["units"], got[k].attrs["long_name"]) == (q.unit, q.long_name)
        np.testing.assert_array_equal(got["t2m"].values, ds["t2m"].values)
        np.testing.assert_array_equal(got["valid_time"].values, ds["valid_time"].values)
        np.testing.assert_allclose(got["global_radiation"].values,
                                   ds["ssrd"].values.astype(float) / 3600, rtol=1e-12)
    if HAVE_MPL:
        assert png.stat().st_size > 10000


def test_netcdf_on_a_distributed_scheduler(tmp_path, capsys):
    distributed = pytest.importorskip("distributed")
    src, out = tmp_path / "era5.nc", tmp_path / "tmrt.nc"
    ds = era5(src)
    with distributed.LocalCluster(n_workers=1, processes=False, dashboard_address=None) as c:
        status, err = run([src, "-o", out, "--scheduler", c.scheduler_address, "--dtype", "float64"],
                          capsys)
    assert status == 0, err
    with xr.open_dataset(out) as got:
        np.testing.assert_array_equal(got["mean_radiant_temperature"].values,
                                      tmrt.compute(ds)["mean_radiant_temperature"].values)


BAD_CSV = [
    ("missing column", "time,air_temperature,relative_humidity,wind_speed\n2023-01-01T00:00,1,50,2\n",
     r"bad.csv, line 1: no column 'cloud_cover'"),
    ("text in a number", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023-01-01T00:00,1,50,2,2\n2023-01-01T01:00,1,5O,2,2\n",
     r"bad.csv, line 3, column 'relative_humidity': '5O' is not a number"),
    ("unparseable time", "# x\ntime,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023-01-01 25:00,1,50,2,2\n", r"bad.csv, line 3, column 'time': '2023-01-01 25:00' is not an ISO"),
    ("no such hour stamp", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023013124,1,50,2,2\n", r"bad.csv, line 2, column 'time': '2023013124' is not an ISO"),
    ("month-first date", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "07/12/2023 14:00,1,50,2,2\n", r"bad.csv, line 2, column 'time': '07/12/2023 14:00' is not an ISO"),
    ("out of range", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023-01-01T00:00,1,50,2,2\n2023-01-01T01:00,1,50,11,2\n",
     r"bad.csv, line 3, column 'cloud_cover': 11 octas is outside"),
    ("ragged row", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023-01-01T00:00,1,50,2\n", r"bad.csv, line 2: 4 fields where the header has 5"),
    ("decimal comma beside commas", "time,air_temperature,relative_humidity,cloud_cover,wind_speed\n"
     "2023-01-01T00:00,1,5,50,2,2\n", r"bad.csv, line 2: 6 fields where the header has 5"),
    ("two commas in a number", "time;air_temperature;relative_humidity;cloud_cover;wind_speed\n"
     "2023-01-01T00:00;1,000,5;50;2;2\n",
     r"bad.csv, line 2, column 'air_temperature': '1,000,5' is not a number"),
]


@pytest.mark.parametrize("content,message", [c[1:] for c in BAD_CSV], ids=[c[0] for c in BAD_CSV])
def test_bad_csv_refused_and_the_old_output_kept(tmp_path, capsys, content, message):
    src, out = tmp_path / "bad.csv", tmp_path / "out.csv"
    src.write_text(content, encoding="utf-8")
    out.write_text("earlier results\n")
    status, err = run([src, "-o", out, *GREENWICH], capsys)
    assert status == 1 and err.count("\n") == 1
    assert err.startswith("quarnel: error: ") and re.search(message, err), err
    assert out.read_text() == "earlier results\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.csv", "out.csv"]


def test_bad_value_in_a_late_netcdf_block_leaves_nothing(tmp_path, capsys):
    src, out = tmp_path / "era5.nc", tmp_path / "tmrt.nc"
    era5(src, bad_at=(27, 4, 3))
    status, err = run([src, "-o", out, "--chunks", "valid_time=6"], capsys)
    assert status == 1
    assert "era5.nc: t2m: 126.85 °C is outside the range of air temperature" in err
    assert "valid_time 2023-03-21T15:00:00, latitude 40, longitude 20" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["era5.nc"]


def test_binary_input_refused(tmp_path, capsys):
    src = tmp_path / "obs.xlsx"
    src.write_bytes(b"PK\x03\x04\x14\x00\x06\x00" + bytes(range(256)))
    status, err = run([src, "-o", tmp_path / "out.csv", *GREENWICH], capsys)
    assert status == 1 and err == f"quarnel: error: {src}: neither CSV text nor NetCDF\n"


def test_missing_files_and_unwritable_places(tmp_path, capsys):
    status, err = run([tmp_path / "nowhere.csv", "-o", tmp_path / "o.csv", *GREENWICH], capsys)
    assert status == 1 and "nowhere.csv: no such file" in err
    status, err = run([SHIPPED, "-o", tmp_path / "no" / "dir" / "o.csv", *GREENWICH], capsys)
    assert status == 1 and "o.csv: cannot write in" in err
    if os.geteuid() != 0:                      # root writes anywhere
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o500)
        status, err = run([SHIPPED, "-o", locked / "o.csv", *GREENWICH], capsys)
        assert status == 1 and "Permission denied" in err
    src = tmp_path / "fake.nc"
    src.write_bytes(b"\x89HDF\r\n\x1a\nnot really")
    status, err = run([src, "-o", tmp_path / "o.nc"], capsys)
    assert status == 1 and "fake.nc: cannot read as NetCDF" in err


def command(*args):
    return subprocess.run([sys.executable, "-m", "quarnel", *map(str, args)], capture_output=True,
                          text=True, timeout=120, env={**os.environ, "PYTHONPATH": os.pathsep.join(
                              [str(pathlib.Path(cli.__file__).parent.parent),
                               os.environ.get("PYTHONPATH", "")])})


def test_python_m_quarnel_usage_and_errors(tmp_path):
    helped = command("tmrt", "--help")
    assert helped.returncode == 0
    for option in ["--lat", "--lon", "--height", "--utc-offset", "--plot", "--column",
                   "--scheduler", "--chunks", "--ground-albedo", "[m]", "[h]", "octas", "ssrd"]:
        assert option in helped.stdout, option
    usage = command("tmrt", SHIPPED, "-o", tmp_path / "o.csv")        # no site
    assert usage.returncode == 2 and "--lat and --lon" in usage.stderr
    assert command("tmrt", SHIPPED, "-o", tmp_path / "o.csv", "--column", "x=y").returncode == 2
    bad = command("tmrt", tmp_path / "missing.csv", "-o", tmp_path / "o.csv", *GREENWICH)
    assert bad.returncode == 1 and "Traceback" not in bad.stderr
    assert bad.stderr.strip().splitlines() == [f"quarnel: error: {tmp_path / 'missing.csv'}: no such file"]
