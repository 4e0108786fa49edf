"""The command on grids: the outputs chosen and their types, NetCDF and
Zarr alike, Zarr input under ERA5's long names, failures midway that leave
the old output, a cluster writing Zarr itself, integer categories."""

import functools
import pathlib
import sys

import numpy as np
import pytest

from quarnel import tmrt
from quarnel.command import grid_input, pipeline
from quarnel.era5_names import SHORT_NAMES

xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")
pytest.importorskip("h5py")
from support.cli import era5, run  # noqa: E402

ALL_F8 = ["--variables", "all", "--dtype", "float64"]


@pytest.fixture
def src(tmp_path):
    path = tmp_path / "era5.nc"
    era5(path)
    return path


def test_default_headline_in_float32_and_chosen_variables(tmp_path, src, capsys):
    want = tmrt.compute(xr.open_dataset(src).load())
    out = tmp_path / "a.nc"
    status, err = run([src, "-o", out, "--chunks", "valid_time=7"], capsys)
    assert status == 0, err
    with xr.open_dataset(out, mask_and_scale=False) as got:     # categories as stored
        assert list(got.data_vars) == list(tmrt.HEADLINE)
        for k in tmrt.HEADLINE:
            dtype = np.int8 if k in tmrt.CATEGORIES else np.float32
            assert got[k].dtype == dtype, k
            np.testing.assert_array_equal(got[k].values, want[k].values.astype(dtype))
        assert got["utci_category"].attrs["flag_meanings"].startswith("extreme_cold_stress")
    chosen = ["surface_temperature", "mean_radiant_temperature", "t2m"]
    status, err = run([src, "-o", out, "--variables", ",".join(chosen), "--dtype", "float64"],
                      capsys)
    assert status == 0, err
    with xr.open_dataset(out) as got:
        assert list(got.data_vars) == chosen
        for k in chosen:
            assert got[k].dtype == np.float64
            np.testing.assert_array_equal(got[k].values, want[k].values)


def test_unknown_variable_is_a_usage_error_listing_the_valid_ones(tmp_path, src, capsys):
    out = tmp_path / "a.nc"
    with pytest.raises(SystemExit) as stop:
        run([src, "-o", out, "--variables", "mean_radiant_temperature,tmrt"], capsys)
    err = capsys.readouterr().err
    assert stop.value.code == 2 and "'tmrt'" in err and "surface_temperature" in err
    assert not out.exists() and sorted(p.name for p in tmp_path.iterdir()) == ["era5.nc"]
    with pytest.raises(SystemExit) as stop:
        run([src, "-o", tmp_path / "a.csv"], capsys)
    assert stop.value.code == 2 and ".nc or .zarr" in capsys.readouterr().err


def test_zarr_and_netcdf_outputs_agree_in_values_and_attributes(tmp_path, src, capsys):
    pytest.importorskip("zarr")
    nc, store = tmp_path / "out.nc", tmp_path / "out.zarr"
    for out in (nc, store):
        status, err = run([src, "-o", out, *ALL_F8, "--chunks", "valid_time=8,latitude=2"], capsys)
        assert status == 0, err
    with xr.open_dataset(nc) as a, xr.open_zarr(store) as b:
        assert sorted(a.data_vars) == sorted(b.data_vars)
        assert len(a.data_vars) > len(tmrt.OUTPUTS)
        for k in a.variables:
            np.testing.assert_array_equal(a[k].values, b[k].values, err_msg=k)
            assert a[k].attrs.keys() == b[k].attrs.keys(), k
            for name, value in a[k].attrs.items():
                np.testing.assert_array_equal(value, b[k].attrs[name], err_msg=f"{k}.{name}")
        for ds in (a, b):
            assert ds.attrs["Conventions"] == "CF-1.8" and "quarnel tmrt era5.nc" in ds.attrs["history"]
            assert ds["air_temperature"].attrs["standard_name"] == "air_temperature"
            assert ds["mean_radiant_temperature"].attrs["units"] == "degC"
            assert ds["latitude"].attrs["units"] == "degrees_north"
        assert a["valid_time"].encoding["units"] == "seconds since 1970-01-01 00:00:00"


def test_zarr_input_with_era5_long_names(tmp_path, src, capsys):
    pytest.importorskip("zarr")
    store = tmp_path / "era5.zarr"
    with xr.open_dataset(src) as ds:
        long = {short: long for long, short in SHORT_NAMES.items() if short in ds}
        ds.rename(long).chunk({"valid_time": 10}).to_zarr(store, zarr_format=2)
        want = tmrt.compute(ds.load())
    out = tmp_path / "tmrt.nc"
    status, err = run([store, "-o", out, "--variables", "all"], capsys)
    assert status == 0, err
    with xr.open_dataset(out) as got:
        np.testing.assert_array_equal(got["mean_radiant_temperature"].values,
                                      want["mean_radiant_temperature"].values.astype(np.float32))
        assert "10m_u_component_of_wind" in got and "2m_temperature" in got
        assert "u10" not in got and "t2m" not in got


def test_grib_needs_cfgrib(tmp_path, capsys, monkeypatch):
    src = tmp_path / "era5.grib"
    src.write_bytes(b"GRIB" + bytes(100))
    monkeypatch.setitem(sys.modules, "cfgrib", None)       # as if not installed
    status, err = run([src, "-o", tmp_path / "o.nc"], capsys)
    assert status == 1 and "GRIB files need" in err and "cfgrib is missing" in err


def _fail_after(n, exception):
    real = pipeline.compute_block
    seen = []

    def failing(job, region, sink):
        seen.append(region)
        if len(seen) > n:
            raise exception
        return real(job, region, sink)
    return failing


@pytest.mark.parametrize("suffix", [".nc", ".zarr"])
@pytest.mark.parametrize("exception,status", [(RuntimeError("disk on fire"), 1),
                                              (KeyboardInterrupt(), 130)])
def test_a_failure_midway_leaves_the_old_output(tmp_path, src, capsys, monkeypatch, suffix,
                                                exception, status):
    if suffix == ".zarr":
        pytest.importorskip("zarr")
    out = tmp_path / ("old" + suffix)
    assert run([src, "-o", out, "--variables", "surface_temperature"], capsys)[0] == 0
    before = sorted((p.relative_to(tmp_path), p.read_bytes() if p.is_file() else None)
                    for p in [out, *out.rglob("*")])
    monkeypatch.setattr(pipeline, "compute_block", _fail_after(3, exception))
    got, err = run([src, "-o", out, "--chunks", "valid_time=4"], capsys)
    assert got == status and err.count("\n") == 1
    after = sorted((p.relative_to(tmp_path), p.read_bytes() if p.is_file() else None)
                   for p in [out, *out.rglob("*")])
    assert after == before
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["era5.nc", out.name])


def test_integer_categories_stay_integer(tmp_path, src, capsys, monkeypatch):
    real = tmrt.compute

    @functools.wraps(real)
    def with_category(observations, **kwargs):
        out = real(observations, **kwargs)
        t = out["mean_radiant_temperature"]
        category = xr.where(t.isnull(), -1, (t > 20).astype("int8") + (t > 30)).astype("int8")
        return out.assign(utci_category=category.assign_attrs(
            long_name="UTCI stress category", flag_values=np.array([0, 1, 2], "i1"),
            flag_meanings="none moderate strong", _FillValue=np.int8(-1)))

    monkeypatch.setattr(tmrt, "compute", with_category)
    want = with_category(xr.open_dataset(src).load())["utci_category"].values
    for name in ["cat.nc"] + (["cat.zarr"] if _have("zarr") else []):
        out = tmp_path / name
        status, err = run([src, "-o", out, "--variables", "mean_radiant_temperature,utci_category"],
                          capsys)
        assert status == 0, err
        with xr.open_dataset(out, mask_and_scale=False) as got:
            cat = got["utci_category"]
            assert cat.dtype == np.int8 and cat.attrs["_FillValue"] == -1
            assert list(cat.attrs["flag_values"]) == [0, 1, 2]
            assert cat.attrs["flag_meanings"] == "none moderate strong"
            np.testing.assert_array_equal(cat.values, want)


def _have(module):
    import importlib.util
    return importlib.util.find_spec(module) is not None


def test_cluster_writes_zarr_itself_as_the_local_run(tmp_path, src, capsys):
    distributed = pytest.importorskip("distributed")
    pytest.importorskip("zarr")
    local, remote = tmp_path / "local.zarr", tmp_path / "remote.zarr"
    args = ["--variables", "all", "--chunks", "valid_time=6"]
    assert run([src, "-o", local, *args], capsys)[0] == 0
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        status, err = run([src, "-o", remote, *args, "--scheduler", cluster.scheduler_address],
                          capsys)
    assert status == 0, err
    with xr.open_zarr(local) as a, xr.open_zarr(remote) as b:
        xr.testing.assert_identical(a.load().drop_attrs(deep=False), b.load().drop_attrs(deep=False))


def test_csv_variables_choose_columns_and_keep_the_input(tmp_path, capsys):
    shipped = pathlib.Path(__file__).resolve().parents[2] / "examples/data/greenwich_2023-07-12.csv"
    out = tmp_path / "day.csv"
    site = ["--lat", "51.477", "--lon", "0"]
    status, err = run([shipped, "-o", out, *site, "--variables", "mean_radiant_temperature"], capsys)
    assert status == 0, err
    header = out.read_text().splitlines()[0].split(",")
    inputs = [line for line in shipped.read_text().splitlines() if not line.startswith("#")][0]
    assert header == inputs.split(",") + ["mean_radiant_temperature"]
    with pytest.raises(SystemExit) as stop:
        run([shipped, "-o", out, *site, "--variables", "nonsense"], capsys)
    assert stop.value.code == 2 and "solar_time" in capsys.readouterr().err
    with pytest.raises(SystemExit) as stop:
        run([shipped, "-o", out, *site, "--dtype", "float32"], capsys)
    assert stop.value.code == 2


@pytest.mark.parametrize("sizes,chunks,given,want", [
    # whole rows of the grid first, then along time, in whole chunks
    ({"t": 2160, "y": 60, "x": 80}, {"t": 24, "y": 60, "x": 80}, {}, {"t": 96, "y": 60, "x": 80}),
    ({"t": 2160, "y": 60, "x": 80}, {"t": 1, "y": 30, "x": 40}, {}, {"t": 109, "y": 60, "x": 80}),
    ({"t": 10, "y": 5, "x": 4}, {"t": 1, "y": 5, "x": 4}, {}, {"t": 10, "y": 5, "x": 4}),
    ({"t": 100, "y": 50, "x": 40}, {"t": 1, "y": 50, "x": 40}, {"t": 3}, {"t": 3, "y": 50, "x": 40}),
])
def test_blocks_are_whole_chunks(sizes, chunks, given, want):
    got = pipeline.plan_blocks(sizes, chunks, given)
    assert got == want
    assert all(got[d] % chunks[d] == 0 or got[d] == sizes[d] for d in sizes if d not in given)
    blocks = pipeline.regions(sizes, got)
    assert sum(grid_input.site_hours(r) for r in blocks) == np.prod(list(sizes.values()))


class Arrays:
    def put(self, region, arrays):
        return [(name, tuple(lo for lo, _ in region.values()), values)
                for name, values in arrays.items()]


def test_a_halo_is_computed_and_dropped(src):
    # Leading steps read with each block (for running totals) must not shift
    # or widen what the block writes; the pointwise chain gives the same values.
    out = pipeline.OutputVar("mean_radiant_temperature", ("valid_time", "latitude", "longitude"),
                             "float64", {}, np.nan)
    region = {"valid_time": (10, 20), "latitude": (0, 5), "longitude": (0, 4)}
    try:
        got = {}
        for halo in (0, 3):
            job = pipeline.BlockJob(str(src), "netcdf", {}, (out,), "valid_time",
                                    ("mean_radiant_temperature",), halo=halo)
            result = pipeline.compute_block(job, region, Arrays())
            got[halo] = result
        (_, _, a), = got[0].chunks
        (_, _, b), = got[3].chunks
        assert a.shape == b.shape == (10, 5, 4)
        np.testing.assert_array_equal(a, b)
        np.testing.assert_array_equal(got[0].sums["mean_radiant_temperature"],
                                      got[3].sums["mean_radiant_temperature"])
        assert got[3].site_hours == 200
    finally:
        grid_input.close_all()


def test_grib_input_as_era5_delivers_it(tmp_path, capsys):
    pytest.importorskip("cfgrib")
    pytest.importorskip("eccodes")
    from support.grib_writer import write_grib

    pd = pytest.importorskip("pandas")
    times = pd.date_range("2023-07-01T04:00", periods=6, freq="h")
    lat, lon = np.array([52.0, 51.75, 51.5]), np.array([-0.25, 0.0, 0.25, 0.5])
    rng = np.random.default_rng(4)
    shape = (6, 3, 4)
    fields = {"2t": 290 + rng.normal(0, 2, shape), "2d": 283 + rng.normal(0, 1, shape),
              "tcc": rng.uniform(0, 1, shape), "10u": rng.normal(0, 3, shape),
              "10v": rng.normal(0, 3, shape)}
    src = tmp_path / "era5.grib"
    write_grib(src, fields, times, lat, lon)
    out = tmp_path / "tmrt.nc"
    status, err = run([src, "-o", out], capsys)
    assert status == 0, err
    want = tmrt.compute(xr.open_dataset(src, engine="cfgrib",
                                        backend_kwargs={"indexpath": ""}).load())
    with xr.open_dataset(out) as got:
        assert got["mean_radiant_temperature"].dims == ("time", "latitude", "longitude")
        np.testing.assert_array_equal(
            got["mean_radiant_temperature"].values,
            want["mean_radiant_temperature"].values.astype(np.float32))



def test_a_climate_model_s_calendar(tmp_path, src, capsys):
    # A 365-day year's dates are the real year's, and stay in their calendar;
    # a 360-day year's are refused with the conversion that places them.
    pytest.importorskip("cftime")
    ds = xr.open_dataset(src).load()
    want = tmrt.compute(ds)["utci"].values.astype(np.float32)
    coder = xr.coders.CFDatetimeCoder(use_cftime=True)
    for calendar in ("noleap", "360_day"):
        model = ds.convert_calendar(calendar, dim="valid_time", use_cftime=True,
                                    align_on="year" if calendar == "360_day" else None)
        path = tmp_path / f"{calendar}.nc"
        model.to_netcdf(path)
        for suffix in (".nc", ".zarr"):
            out = tmp_path / f"{calendar}_out{suffix}"
            status, err = run([path, "-o", out], capsys)
            if calendar == "360_day":
                assert status == 1 and "'360_day' calendar" in err and "convert_calendar" in err
                continue
            assert status == 0, err
            with xr.open_dataset(out, decode_times=coder) as got:
                assert got["valid_time"].dt.calendar == "noleap"
                assert list(got["valid_time"].values) == list(model["valid_time"].values)
                np.testing.assert_array_equal(got["utci"].values, want)
