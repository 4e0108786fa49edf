"""benchmarks/job.py: its made-up reanalysis, its measuring and its floors
are what the command's figures are judged against."""

import importlib.util
import pathlib
import stat
import sys
import textwrap

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
netCDF4 = pytest.importorskip("netCDF4")
pytest.importorskip("dask")

# benchmarks/job.py by its path: the name `job` is also the job layer's test folder.
_spec = importlib.util.spec_from_file_location(
    "bench_job", pathlib.Path(__file__).resolve().parents[2] / "benchmarks" / "job.py")
job = importlib.util.module_from_spec(_spec)
sys.modules["bench_job"] = job
_spec.loader.exec_module(job)

from quarnel import tmrt  # noqa: E402


@pytest.fixture(scope="module")
def small(tmp_path_factory):
    """Two days on a 6 x 8 grid, with the optional fluxes."""
    folder = tmp_path_factory.mktemp("jobbench")
    return job.cached_input(folder, job.Grid(48, 6, 8), fluxes=True)


def test_input_is_laid_out_as_era5(small):
    with netCDF4.Dataset(small) as nc:
        assert list(nc.dimensions) == ["valid_time", "latitude", "longitude"]
        assert np.all(np.diff(nc["latitude"][:]) < 0)
        assert nc["valid_time"].units == "seconds since 1970-01-01"
        for name in ("t2m", "d2m", "tcc", "u10", "v10", "ssrd", "fdir", "strd", "ssr", "str"):
            var = nc[name]
            assert var.dtype == np.float32
            assert var.filters()["zlib"] and var.filters()["shuffle"]
            assert var.filters()["complevel"] == 1
            assert var.chunking() == [24, 6, 8]
            assert var.units and var.long_name
        assert nc["t2m"].standard_name == "air_temperature"
        assert nc["ssrd"].units == "J m**-2"


def test_weather_is_physical_and_follows_the_sun(small):
    with xr.open_dataset(small) as ds:
        ds = ds.load()
    assert float(ds.tcc.min()) >= 0 and float(ds.tcc.max()) <= 1
    assert bool((ds.d2m <= ds.t2m).all())
    assert 250 < float(ds.t2m.min()) and float(ds.t2m.max()) < 320
    # The hour before each time: dark at midnight UTC over Europe in April,
    # bright at noon, never negative, never above the sun's own flux.
    hour = ds.valid_time.dt.hour
    assert float(ds.ssrd.where(hour == 0).max()) == 0.0
    assert float(ds.ssrd.where(hour == 12).min()) > 0.0
    assert float(ds.ssrd.min()) >= 0 and float(ds.ssrd.max()) <= 3600 * job.SOLAR_CONSTANT
    assert float(ds.fdir.max()) <= float(ds.ssrd.max())
    assert float(ds["str"].max()) < 0 < float(ds.strd.min())
    # Cloud changes in space and time.
    assert float(ds.tcc.std("valid_time").mean()) > 0.05
    assert float(ds.tcc.std("longitude").mean()) > 0.05


def test_the_chain_takes_the_input(small):
    with xr.open_dataset(small) as ds:
        out = tmrt.compute(ds.load())
    t = out.mean_radiant_temperature
    assert not bool(t.isnull().any())
    assert 0.0 < float(t.max() - t.min())


def test_hand_written_chain_agrees_with_the_command(small):
    sys.path.insert(0, str(job.HERE))
    with xr.open_dataset(small) as ds:
        ds = ds.load()
        # The hand-written chain is the model without measured radiation:
        # DISC's split of the modelled global radiation and MittlStrTemp's person.
        fluxes = [v for v in ("ssrd", "fdir", "strd", "ssr", "str") if v in ds]
        expected = tmrt.compute(ds.drop_vars(fluxes),
                                projection_factor="module").mean_radiant_temperature
        utc = ds.valid_time
        b = xr.broadcast(ds.t2m, (utc.dt.hour + 0.0), utc.dt.dayofyear + 0.0, ds.latitude, ds.longitude)
        got = job.hand_chain(*(ds[v].values for v in ("t2m", "d2m", "tcc", "u10", "v10")),
                             None, *(x.values.astype(np.float64) for x in b[1:]))
    np.testing.assert_allclose(got, expected.transpose(*ds.t2m.dims).values, rtol=0, atol=1e-6)


def test_sizes_are_whole_days_of_the_same_grid():
    g = job.grid_for(job.DEFAULT_SITE_HOURS)
    assert g.site_hours >= job.DEFAULT_SITE_HOURS and g.site_hours - job.DEFAULT_SITE_HOURS < 24 * 60 * 80
    assert g.ntime % 24 == 0
    big = job.grid_for(job.SCALED_SITE_HOURS)
    assert (big.nlat, big.nlon) == (g.nlat, g.nlon) and big.ntime > 2.9 * g.ntime
    assert job.grid_for(1) == job.Grid(24, 60, 80)


def test_input_is_made_once_per_parameters(tmp_path):
    a = job.cached_input(tmp_path, job.Grid(24, 3, 4))
    made = a.stat().st_mtime_ns
    assert job.cached_input(tmp_path, job.Grid(24, 3, 4)) == a and a.stat().st_mtime_ns == made
    b = job.cached_input(tmp_path, job.Grid(24, 3, 4), fluxes=True)
    c = job.cached_input(tmp_path, job.Grid(24, 3, 4), seed=1)
    assert len({a, b, c}) == 3
    assert not list(tmp_path.glob("*.part"))


def test_child_peak_memory_and_status_are_the_childs():
    big = job.run_child([sys.executable, "-c", "import numpy as np; a = np.ones(40_000_000); a.sum()"])
    assert big.ok and big.peak_mb > 300          # 305 MB of ones
    small = job.run_child([sys.executable, "-c", "import sys; sys.exit(3)"])
    assert small.status == 3 and not small.ok and small.peak_mb < 100
    assert job.best([big, small]).status == 3


def test_floor_writes_the_references_variables(small, tmp_path):
    reference = [
        dict(name="mean_radiant_temperature", dtype="float64",
             dims=["valid_time", "latitude", "longitude"], chunks=[24, 6, 8]),
        dict(name="solar_time", dtype="float64", dims=["valid_time", "longitude"], chunks=[24, 8]),
        dict(name="utci_category", dtype="int8", dims=["valid_time", "latitude", "longitude"], chunks=None),
    ]
    out = tmp_path / "floor.nc"
    job.floor_netcdf(dict(input=str(small), reference=reference, output=str(out), chunks=job.COMMAND_CHUNKS))
    got = {r["name"]: r for r in job.reference_variables(out)}
    assert set(got) == {r["name"] for r in reference}
    for r in reference:
        assert got[r["name"]]["dtype"] == r["dtype"] and got[r["name"]]["dims"] == r["dims"]
    assert got["mean_radiant_temperature"]["chunks"] == [24, 6, 8]
    with netCDF4.Dataset(out) as nc:
        assert nc["solar_time"].filters()["complevel"] == 1
    # Widened float32 values compress far better than computed float64 ones:
    # "full" fills their low bits, keeping the values to 1e-7.
    full = tmp_path / "full.nc"
    job.floor_netcdf(dict(input=str(small), reference=reference[:1], output=str(full),
                          chunks=job.COMMAND_CHUNKS, fill="full"))
    with xr.open_dataset(out) as a, xr.open_dataset(full) as b:
        x, y = a.mean_radiant_temperature.values, b.mean_radiant_temperature.values
        np.testing.assert_allclose(y, x, rtol=1e-7)
        assert np.mean(x.astype(np.float32) == x) == 1 and np.mean(y.astype(np.float32) == y) < 0.5


def _fake_command(tmp_path, help_text, zarr):
    """A stand-in for `quarnel tmrt`: prints help_text, and makes an output
    folder for -o x.zarr when zarr, else exits with a usage error."""
    script = tmp_path / "fake.py"
    script.write_text(textwrap.dedent(f"""
        import pathlib, sys
        if "--help" in sys.argv:
            print({help_text!r}); sys.exit(0)
        out = pathlib.Path(sys.argv[sys.argv.index("-o") + 1])
        if out.suffix == ".zarr" and not {zarr!r}:
            sys.exit(2)
        out.mkdir() if out.suffix == ".zarr" else out.write_text("")
    """))
    script.chmod(script.stat().st_mode | stat.S_IXUSR)
    return lambda *args: [sys.executable, str(script), *map(str, args)]


@pytest.mark.parametrize("help_text, zarr, expected", [
    ("--chunks DIM=N --scheduler ADDRESS", False,
     job.Support(scheduler=True)),
    ("--variables NAME,... --dtype float32|float64 --scheduler ADDRESS", True,
     job.Support(variables=True, dtype=True, scheduler=True, zarr_output=True, zarr_input=True)),
])
def test_support_is_read_from_help_and_usage_errors(tmp_path, monkeypatch, help_text, zarr, expected):
    monkeypatch.setattr(job, "command", _fake_command(tmp_path, help_text, zarr))
    tiny = tmp_path / "tiny.nc"
    xr.Dataset({"t2m": ("x", [290.0])}).to_netcdf(tiny)
    assert job.probe_support(tiny, tmp_path) == expected
    assert not (tmp_path / "probe.zarr").exists()


def test_targets_say_na_for_what_did_not_run(capsys):
    run = job.Measured(10.0, 400.0, 0)
    lines = {
        "default": job.Line("1", run, 20_000_000),
        "all64": job.Line("2", None, 20_000_000, job.NA),
        "all64z": job.Line("2z", job.Measured(3.0, 450.0, 0), 20_000_000),
        "floorz": job.Line("3z", job.Measured(4.0, 300.0, 0), 20_000_000),
        "cluster": job.Line("5", job.Measured(5.0, 350.0, 0), 20_000_000, identical=True),
    }
    job.targets(lines, None)
    out = capsys.readouterr().out
    assert "1.5 M site-hours/s: met" in out
    assert f"1.15x its floor: {job.NA}" in out
    assert "Zarr < its floor: met" in out
    assert "500 MB: met" in out
    assert "300 MB: not met (measured 350.00 MB)" in out
    assert "identical to the local run: met" in out
    assert f"utci,pet,wbgt >= 1.0 M site-hours/s: {job.NA}" in out
    lines["indices"] = job.Line("1i", job.Measured(25.0, 520.0, 0), 20_000_000)
    job.targets(lines, None)
    out = capsys.readouterr().out
    assert "utci,pet,wbgt >= 1.0 M site-hours/s: not met (measured 0.80 M/s)" in out
    assert "500 MB: not met (measured 520.00 MB)" in out

