"""The gridded example, small: lazy over xarray and dask, computed on a
LocalCluster of two worker processes, equal to the same call on NumPy-backed
data."""

import importlib.util
import os
import pathlib

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
dask = pytest.importorskip("dask")
pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def grid():
    path = pathlib.Path(__file__).resolve().parents[2] / "examples" / "grid_dask.py"
    module_spec = importlib.util.spec_from_file_location("grid_dask", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def small(grid):
    """5 x 6 grid points in 2 x 2 chunks, 24 hours."""
    return grid.weather(step=5.0, chunk=3, lat=(40.0, 60.0), lon=(-10.0, 15.0))


def test_on_two_worker_processes_equals_numpy(grid, small):
    tmrt = grid.mean_radiant_temperature(small)
    assert dask.is_dask_collection(tmrt) and tmrt.data.npartitions == 4
    got, pids = grid.run_distributed(tmrt, n_workers=2, progress=False)
    assert len(set(pids)) == 2 and os.getpid() not in pids

    want = grid.mean_radiant_temperature(small.compute()).values
    assert got.dims == ("time", "latitude", "longitude") and got.shape == want.shape == (24, 5, 6)
    np.testing.assert_array_equal(got["latitude"], small["latitude"])
    np.testing.assert_array_equal(got["longitude"], small["longitude"])
    np.testing.assert_allclose(got.values, want, rtol=1e-13, atol=0)

    # Sunshine lifts the mean radiant temperature far above the air; at night
    # a clear sky leaves it below.
    air = small["air_temperature"].values - 273.15
    assert np.all(np.isfinite(want))
    assert (want - air)[12].min() > 15 and (want - air)[0].max() < 0


def test_threaded_run_prints_a_summary(grid, capsys):
    assert grid.main(["--step", "5", "--chunk", "3", "--scheduler", "threads", "--no-plot"]) == 0
    out = capsys.readouterr().out
    assert "not computed yet" in out and "threaded scheduler" in out
    assert "daily maximum" in out
