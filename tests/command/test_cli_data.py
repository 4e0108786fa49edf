"""The command on data as it comes: supersaturated humidity, the time
stamps' meaning, implausible accumulations, and gaps."""

import csv

import numpy as np
import pytest

from support.cli import run

SITE = ["--lat", "48.0", "--lon", "11.0"]


def write_csv(path, rows, header="time,air_temperature,vapour_pressure,cloud_cover,wind_speed"):
    path.write_text(header + "\n" + "\n".join(rows) + "\n", encoding="utf-8")
    return path


def read_csv(path):
    with open(path, encoding="utf-8") as f:
        return list(csv.DictReader(f))


def test_vapour_pressure_far_above_saturation_names_file_line_and_column(tmp_path, capsys):
    src = write_csv(tmp_path / "obs.csv", ["2023-07-12T11:00Z,20,14,2,2",
                                           "2023-07-12T12:00Z,20,50,2,2"])
    status, err = run([src, "-o", tmp_path / "out.csv", *SITE], capsys)
    assert status == 1
    assert f"{src}, line 3, column 'vapour_pressure': a vapour pressure of 50 hPa is 114 % " \
        "above saturation" in err
    assert not (tmp_path / "out.csv").exists()
    # a little above: saturation
    write_csv(src, ["2023-07-12T12:00Z,20,23.8,2,2"])
    status, err = run([src, "-o", tmp_path / "out.csv", *SITE], capsys)
    assert status == 0, err
    row = read_csv(tmp_path / "out.csv")[0]
    assert float(row["relative_humidity"]) == 100.0 and float(row["dew_point"]) == \
        pytest.approx(20.0, abs=1e-12)


def test_timestamps_say_what_a_row_means(tmp_path, capsys):
    from quarnel import tmrt
    rows = [f"2023-06-21T{h:02d}:00Z,{15 + h / 2:g},12,2,2,{g}"
            for h, g in zip(range(3, 9), [0, 40, 160, 320, 480, 600])]
    src = write_csv(tmp_path / "obs.csv", rows, header="time,air_temperature,vapour_pressure,"
                    "cloud_cover,wind_speed,global_radiation")
    out = tmp_path / "out.csv"
    status, err = run([src, "-o", out, *SITE, "--timestamps", "interval-end"], capsys)
    assert status == 0, err
    got = [float(r["radiation_zenith_angle"]) for r in read_csv(out)]
    obs = {"time": np.array([f"2023-06-21T{h:02d}:00" for h in range(3, 9)], "datetime64[m]"),
           "air_temperature": np.array([15 + h / 2 for h in range(3, 9)]),
           "vapour_pressure": np.full(6, 12.0), "cloud_cover": np.full(6, 2.0),
           "wind_speed": np.full(6, 2.0),
           "global_radiation": np.array([0, 40, 160, 320, 480, 600], float)}
    want = tmrt.compute(obs, latitude=48.0, longitude=11.0, timestamps="interval-end")
    np.testing.assert_array_equal(got, want["radiation_zenith_angle"])
    # --accumulation gives the hours of the means, only with intervals
    status, err = run([src, "-o", out, *SITE, "--timestamps", "interval-end",
                       "--accumulation", "1"], capsys)
    assert status == 0, err
    with pytest.raises(SystemExit) as usage:
        run([src, "-o", out, *SITE, "--accumulation", "1"], capsys)
    assert usage.value.code == 2 and "--timestamps interval-" in capsys.readouterr().err


def test_a_grid_of_means_in_blocks_of_one_time_step_takes_the_whole_axis_spacing(tmp_path,
                                                                                 capsys):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    import pandas as pd

    from quarnel import tmrt
    times = pd.date_range("2023-06-21T03:00", periods=6, freq="h")
    g = np.array([0.0, 40, 160, 320, 480, 600])[:, None, None] * np.ones((1, 2, 2))
    dims = ("time", "latitude", "longitude")
    ds = xr.Dataset({"t2m": (dims, np.full((6, 2, 2), 290.0), {"units": "K"}),
                     "d2m": (dims, np.full((6, 2, 2), 280.0), {"units": "K"}),
                     "tcc": (dims, np.full((6, 2, 2), 0.3)),
                     "wind_speed": (dims, np.full((6, 2, 2), 2.0)),
                     "rsds": (dims, g, {"units": "W m-2", "standard_name":
                                        "surface_downwelling_shortwave_flux_in_air"})},
                    coords={"time": times, "latitude": [48.0, 40.0], "longitude": [11.0, 0.0]})
    src, out = tmp_path / "means.nc", tmp_path / "out.nc"
    ds.to_netcdf(src)
    status, err = run([src, "-o", out, "--timestamps", "interval-end", "--chunks", "time=1",
                       "--variables", "radiation_zenith_angle", "--dtype", "float64"], capsys)
    assert status == 0, err
    want = tmrt.compute(ds, timestamps="interval-end")
    with xr.open_dataset(out) as got:
        np.testing.assert_array_equal(got["radiation_zenith_angle"].values,
                                      want["radiation_zenith_angle"].values)


@pytest.mark.parametrize("hours", [1, 3])
def test_a_climate_models_means_are_read_from_the_time_bounds_of_the_whole_file(tmp_path, capsys,
                                                                               hours):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    from quarnel import tmrt
    from support.cmip import as_instants, cmip, to_netcdf

    src = to_netcdf(cmip(hours=hours, steps=48 // hours), tmp_path / "rsds.nc")
    out = tmp_path / "out.nc"
    # blocks of one time step, each with its bounds whole (never cut along bnds)
    status, err = run([src, "-o", out, "--chunks", "time=1,bnds=1", "--dtype", "float64",
                       "--variables", "all"], capsys)
    assert status == 0, err
    with xr.open_dataset(src) as ds:
        want = tmrt.compute(as_instants(ds.load()), timestamps="interval-middle")
        instants = tmrt.compute(as_instants(ds))
    with xr.open_dataset(out) as got:
        for k in ("mean_radiant_temperature", "utci", "sunlit_fraction"):
            np.testing.assert_array_equal(got[k].values, want[k].values, err_msg=k)
        assert not np.array_equal(got["mean_radiant_temperature"].values,
                                  instants["mean_radiant_temperature"].values)
        # no bounds written, none named
        assert "bnds" not in got.dims and "time_bnds" not in got
        assert "bounds" not in got["time"].attrs and "bounds" not in got["lat"].attrs


def test_a_grid_of_means_its_bounds_cannot_place_is_refused_naming_the_option(tmp_path, capsys):
    pytest.importorskip("netCDF4")
    from support.cmip import cmip, to_netcdf

    ds = cmip(hours=3, steps=8)
    src, out = to_netcdf(ds, tmp_path / "rsds.nc"), tmp_path / "out.nc"
    status, err = run([src, "-o", out, "--timestamps", "interval-end"], capsys)
    assert status == 1 and not out.exists()
    assert "say interval-middle, not --timestamps interval-end" in err
    bare = to_netcdf(ds.drop_vars("time_bnds"), tmp_path / "bare.nc")
    status, err = run([bare, "-o", out], capsys)
    assert status == 1
    assert err.strip().endswith("variable 'rsds': its cell_methods say means over time, and the "
                                "time coordinate 'time' has no bounds to tell their interval: "
                                "give --timestamps interval-end|interval-start|interval-middle")
    status, err = run([bare, "-o", out, "--timestamps", "interval-middle"], capsys)
    assert status == 0, err
    # a block alone has even bounds; the whole file has not
    bounds = ds["time_bnds"].values.copy()
    bounds[-1, 1] += np.timedelta64(3, "h")
    middle = bounds[:, 0] + (bounds[:, 1] - bounds[:, 0]) / 2
    uneven = ds.assign(time_bnds=(("time", "bnds"), bounds)).assign_coords(
        time=("time", middle, ds["time"].attrs))
    src = to_netcdf(uneven, tmp_path / "uneven.nc")
    status, err = run([src, "-o", out, "--chunks", "time=1"], capsys)
    assert status == 1 and "time_bnds: bounds 3 to 6 h wide" in err


def test_hourly_accumulations_every_third_hour_name_the_option(tmp_path, capsys):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    import pandas as pd

    from support.sky import hourly_global, hourly_longwave
    times = pd.date_range("2023-06-21T00:00", periods=24, freq="h")
    rng = np.random.default_rng(4)
    dims = ("valid_time", "latitude", "longitude")
    t2m = 290 + rng.normal(0, 3, (24, 2, 2))
    ds = xr.Dataset({
        "t2m": (dims, t2m, {"units": "K"}), "d2m": (dims, t2m - 5, {"units": "K"}),
        "tcc": (dims, rng.uniform(0, 1, t2m.shape)), "u10": (dims, np.ones(t2m.shape)),
        "v10": (dims, np.ones(t2m.shape)),
        "ssrd": (dims, hourly_global(rng.uniform(0, 1, t2m.shape), times.values, [48.0, 40.0],
                                     [11.0, 0.0]), {"units": "J m**-2"}),
        "strd": (dims, hourly_longwave(rng.uniform(0, 1, t2m.shape), t2m), {"units": "J m**-2"})},
        coords={"valid_time": times, "latitude": [48.0, 40.0], "longitude": [11.0, 0.0]})
    src = tmp_path / "every_third.nc"
    ds.isel(valid_time=slice(2, None, 3)).to_netcdf(src)
    status, err = run([src, "-o", tmp_path / "out.nc"], capsys)
    assert status == 1
    assert "strd: " in err and "is the accumulation period right? see --accumulation HOURS" in err
    assert not (tmp_path / "out.nc").exists()
    status, err = run([src, "-o", tmp_path / "out.nc", "--accumulation", "1"], capsys)
    assert status == 0, err


def test_gaps_in_a_grid_stay_gaps_unless_the_model_fills_them(tmp_path, capsys):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    import pandas as pd

    from support.sky import hourly_global
    times = pd.date_range("2023-06-21T06:00", periods=4, freq="h")
    dims = ("valid_time", "latitude", "longitude")
    shape = (4, 2, 2)
    ssrd = hourly_global(np.full(shape, 0.7), times.values, [48.0, 40.0], [11.0, 0.0])
    ssrd[2, 1, 0] = np.nan
    ds = xr.Dataset({"t2m": (dims, np.full(shape, 293.0), {"units": "K"}),
                     "d2m": (dims, np.full(shape, 283.0), {"units": "K"}),
                     "tcc": (dims, np.full(shape, 0.3)), "u10": (dims, np.ones(shape)),
                     "v10": (dims, np.ones(shape)),
                     "ssrd": (dims, ssrd, {"units": "J m**-2"})},
                    coords={"valid_time": times, "latitude": [48.0, 40.0],
                            "longitude": [11.0, 0.0]})
    src, out = tmp_path / "gap.nc", tmp_path / "out.nc"
    ds.to_netcdf(src)
    assert run([src, "-o", out], capsys)[0] == 0
    with xr.open_dataset(out) as got:
        tmrt_ = got["mean_radiant_temperature"].values
        assert np.isnan(tmrt_[2, 1, 0]) and np.isfinite(np.delete(tmrt_.ravel(), 10)).all()
        assert "filled_from_model" not in got
    status, err = run([src, "-o", out, "--fill-missing", "model"], capsys)
    assert status == 0, err
    with xr.open_dataset(out) as got:
        assert np.isfinite(got["mean_radiant_temperature"].values).all()
        flags = got["filled_from_model"]
        assert flags.dtype == np.int8 and flags.values[2, 1, 0] == 47
        assert int(flags.sum()) == 47
        assert flags.attrs["flag_meanings"].startswith("global_radiation direct_radiation")
    # the record goes with the filled values even where only others are named
    assert run([src, "-o", out, "--fill-missing", "model", "--variables", "utci"], capsys)[0] == 0
    with xr.open_dataset(out) as got:
        assert set(got.data_vars) == {"utci", "filled_from_model"}
