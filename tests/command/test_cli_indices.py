"""The indices through the command: chosen with --variables on a grid,
with their CF attributes; every one a column of a station's CSV."""

import csv

import numpy as np
import pytest

from quarnel import tmrt
from support.cli import era5, run

xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")

INDICES = ["pet", "pet_shade", "wbgt", "wbgt_shade", "globe_temperature",
           "natural_wet_bulb_temperature", "heat_index", "humidex", "apparent_temperature",
           "wind_chill"]


def test_grid_writes_the_indices_asked_for_with_cf_attributes(tmp_path, capsys):
    src, out = tmp_path / "era5.nc", tmp_path / "out.nc"
    ds = era5(src)
    status, err = run([src, "-o", out, "--variables", "utci,pet,wbgt,heat_index,wind_chill",
                       "--chunks", "valid_time=8"], capsys)
    assert status == 0, err
    want = tmrt.compute(ds)
    with xr.open_dataset(out) as got:
        assert list(got.data_vars) == ["utci", "pet", "wbgt", "heat_index", "wind_chill"]
        for k in got.data_vars:
            assert got[k].dtype == np.float32
            assert got[k].dims == ("valid_time", "latitude", "longitude")
            assert (got[k].attrs["units"], got[k].attrs["long_name"]) == (
                "degC", tmrt.OUTPUTS[k].long_name)
            np.testing.assert_array_equal(got[k].values, want[k].values.astype(np.float32), k)
        assert got["heat_index"].attrs["standard_name"] == "heat_index_of_air_temperature"
        assert got["wind_chill"].attrs["standard_name"] == "wind_chill_of_air_temperature"
        assert "standard_name" not in got["wbgt"].attrs
        assert "Liljegren" in got["wbgt"].attrs["source"]
        # Missing only where the dew point is above the air temperature by
        # more than the ufuncs take for noise.
        damp = (want["dew_point"] > want["air_temperature"] + 0.5).values
        assert damp.sum() < 3
        for k in ("pet", "wbgt"):
            assert np.isfinite(got[k].values[~damp]).all(), k


def test_station_csv_has_every_index(tmp_path, capsys):
    src, out = tmp_path / "obs.csv", tmp_path / "out.csv"
    src.write_text("time,air_temperature,relative_humidity,cloud_cover,wind_speed,air_pressure\n"
                   "2023-07-12T13:00,31.0,45,1,2.5,950\n"
                   "2023-01-12T08:00,-6.0,80,6,9.0,\n", encoding="utf-8")
    status, err = run([src, "-o", out, "--lat", "48", "--lon", "11"], capsys)
    assert status == 0, err
    with open(out, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    assert set(tmrt.OUTPUTS) <= set(rows[0])
    summer, winter = rows
    assert float(summer["wbgt"]) > float(summer["wbgt_shade"]) and summer["wind_chill"] == ""
    assert float(winter["wind_chill"]) < -6.0
    # The pressure as given, else that of the height.
    obs = {"time": np.array(["2023-07-12T13:00", "2023-01-12T08:00"], "datetime64[m]"),
           "air_temperature": [31.0, -6.0], "relative_humidity": [45.0, 80], "cloud_cover": [1.0, 6],
           "wind_speed": [2.5, 9.0], "air_pressure": [950.0, np.nan]}
    want = tmrt.compute(obs, latitude=48.0, longitude=11.0)
    for k in INDICES:
        got = [float(r[k]) if r[k] else np.nan for r in rows]
        np.testing.assert_array_equal(got, want[k], err_msg=k)
