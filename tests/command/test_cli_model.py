"""The command's settings: refused by name when out of range, the model's
choices passed through, ERA5-Land running totals differenced across blocks."""

import numpy as np
import pytest

from quarnel import tmrt

xr = pytest.importorskip("xarray")
pd = pytest.importorskip("pandas")
pytest.importorskip("netCDF4")
from support.cli import era5, run  # noqa: E402

CSV = "examples/data/greenwich_2023-07-12.csv"


@pytest.mark.parametrize("option,value,message", [
    ("--lat", "151", "argument --lat: latitude must be between -90 and 90"),
    ("--lon", "-200", "argument --lon: longitude must be between -180 and 360"),
    ("--utc-offset", "25", "argument --utc-offset: utc_offset must be between -14 and 14"),
    ("--height", "nan", "argument --height: height must be between"),
    ("--sky-view-factor", "3", "argument --sky-view-factor: sky_view_factor must be between 0"),
    ("--ground-albedo", "-1", "argument --ground-albedo: ground_albedo"),
    ("--accumulation", "weekly", "argument --accumulation: 'weekly' is neither"),
    ("--accumulation", "0", "argument --accumulation: '0' is neither"),
])
def test_settings_out_of_range_are_usage_errors_naming_the_option(tmp_path, capsys, option,
                                                                  value, message):
    args = [CSV, "-o", tmp_path / "out.csv", "--lat", "51.5", "--lon", "0"]
    with pytest.raises(SystemExit) as stop:
        run(args + [option, value], capsys)
    assert stop.value.code == 2
    assert message in capsys.readouterr().err
    assert not (tmp_path / "out.csv").exists()


def test_projection_factor_and_accumulation_reach_the_model(tmp_path, capsys):
    out = tmp_path / "module.csv"
    status, err = run([CSV, "-o", out, "--lat", "51.477", "--lon", "0", "--height", "40",
                       "--projection-factor", "module"], capsys)
    assert status == 0, err
    got = pd.read_csv(out)
    obs = pd.read_csv(CSV, comment="#", index_col="time", parse_dates=["time"])
    want = tmrt.compute(obs, latitude=51.477, longitude=0.0, height=40.0,
                        projection_factor="module")
    np.testing.assert_array_equal(got["mean_radiant_temperature"],
                                  want["mean_radiant_temperature"].to_numpy())
    with pytest.raises(SystemExit) as stop:       # a CSV's fluxes are W/m²
        run([CSV, "-o", out, "--lat", "51", "--lon", "0", "--accumulation", "3"], capsys)
    assert stop.value.code == 2 and "--accumulation is for a grid" in capsys.readouterr().err


def test_running_totals_are_differenced_across_blocks(tmp_path, capsys):
    src = tmp_path / "land.nc"
    ds = era5(src)                              # 30 hourly steps from 2023-03-20 12:00
    hourly = ds["ssrd"].values.astype(np.float64)
    hours = ds["valid_time"].dt.hour.values
    running = np.empty_like(hourly)
    for i in range(len(hours)):                 # totals since 00 UTC; 00 UTC: the day's
        start = i
        while start > 0 and hours[start] != 1:
            start -= 1
        running[i] = hourly[start:i + 1].sum(axis=0)
    land = ds.assign(ssrd=(ds["ssrd"].dims, running.astype(np.float32), ds["ssrd"].attrs))
    land.to_netcdf(tmp_path / "running.nc")
    out = tmp_path / "out.nc"
    status, err = run([tmp_path / "running.nc", "-o", out, "--accumulation", "since-00utc",
                       "--chunks", "valid_time=4", "--variables", "global_radiation",
                       "--dtype", "float64"], capsys)
    assert status == 0, err
    want = tmrt.compute(land.load(), accumulation="since-00utc")["global_radiation"]
    with xr.open_dataset(out) as got:
        np.testing.assert_array_equal(got["global_radiation"].values, want.values)
    # The first step (12 UTC) has no step before it: the model's, not a difference.
    flux = want.values[1:]
    np.testing.assert_allclose(flux, hourly[1:] / 3600.0, rtol=1e-5, atol=0.05)

    # Hourly accumulations taken as running totals fall: refused with their place.
    status, err = run([src, "-o", out, "--accumulation", "since-00utc", "--chunks",
                       "valid_time=4"], capsys)
    assert status == 1 and "running total falls" in err
