"""The ufuncs on xarray and dask objects, through NumPy's ufunc protocol,
and on dask.distributed worker processes."""

import numpy as np
import pytest

import quarnel.ufunc as U

xr = pytest.importorskip("xarray")
da = pytest.importorskip("dask.array")


def test_dataarrays_keep_coordinates_and_dask_stays_lazy():
    hour = xr.DataArray(np.arange(24.0), dims="hour", coords={"hour": np.arange(24.0)})
    lat = xr.DataArray([-40.0, 0.0, 60.0], dims="lat", coords={"lat": [-40.0, 0.0, 60.0]})
    eager = U.RelOptLuftmasse(U.Zenitwinkel(hour, lat, 172))
    assert isinstance(eager, xr.DataArray) and eager.dims == ("hour", "lat")
    assert list(eager.coords["lat"].values) == [-40.0, 0.0, 60.0]
    lazy = U.RelOptLuftmasse(U.Zenitwinkel(hour.chunk(5), lat, 172))
    assert isinstance(lazy.data, da.Array)
    np.testing.assert_array_equal(lazy.compute().values, eager.values)
    plain = U.RelOptLuftmasse(U.Zenitwinkel(np.arange(24.0)[:, None], lat.values, 172))
    np.testing.assert_array_equal(eager.values, plain)


def test_dask_arrays_in_every_position():
    rng = np.random.default_rng(2)
    args = [rng.uniform(0, 400, 1000), rng.uniform(0, 3000, 1000), rng.uniform(0, 100, 1000),
            rng.uniform(1, 8, 1000), rng.uniform(1, 40, 1000)]
    lazy = U.MaxDirekteStrahlung(*[da.from_array(a, chunks=128) for a in args])
    assert isinstance(lazy, da.Array)
    np.testing.assert_array_equal(lazy.compute(scheduler="threads"), U.MaxDirekteStrahlung(*args))


def test_local_cluster_runs_the_ufuncs():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        z = np.linspace(0, 100, 5000)
        got = U.MaxGlobalstrahlung(172, 40.0, da.from_array(z, chunks=1000), 3.5).compute()
    np.testing.assert_array_equal(got, U.MaxGlobalstrahlung(172, 40.0, z, 3.5))
