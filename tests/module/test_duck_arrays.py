"""xarray DataArrays and dask arrays through the element-wise arguments: they
are not NumPy arrays, so they take the generic path, where every operation
is their own operator or ufunc. Results keep xarray's coordinates, stay lazy
on dask until computed, and equal the NumPy computation."""

import numpy as np
import pytest

import quarnel.Strahlwerk as S

xr = pytest.importorskip("xarray")
dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")


class Dim:
    """An array argument along a dimension of its own."""

    def __init__(self, name, values):
        self.name, self.values = name, np.asarray(values, dtype=np.float64)


HOUR = Dim("hour", np.arange(24.0))
LAT = Dim("lat", [-62.5, -20.0, 0.0, 33.3, 51.5, 78.0])
DAY = Dim("day", [1, 80, 172, 266, 355])
HEIGHT = Dim("height", [0.0, 450.0, 2100.0])
LINKE = Dim("linke", [1.8, 3.2, 6.5])
AIRMASS = Dim("airmass", [1.0, 1.6, 5.6, 30.0])
TEMP = Dim("temp", [-12.0, 0.0, 18.5, 35.0])
VAPOUR = Dim("vapour", [2.0, 11.0, 27.0])
CLOUD = Dim("cloud", [0.0, 2.5, 6.0, 8.0])
FLUX = Dim("flux", [0.0, 310.0, 820.0])
WIND = Dim("wind", [0.0, 3.5, 12.0])
ZENITH = Dim("zenith", [0.0, 23.4, 61.0, 85.0, 90.0])

CASES = [
    (S.Zenitwinkel, (HOUR, LAT, DAY)),
    (S.Azimutwinkel, (9.5, LAT, 172)),
    (S.LinkeTruebung, (DAY, 48.0, 60.0)),
    (S.MaxDirekteStrahlung, (DAY, HEIGHT, 41.0, LINKE, AIRMASS)),
    (S.MaxDirekteStrahlung, (DAY, HEIGHT, 87.5, LINKE, AIRMASS)),
    (S.MaxGlobalstrahlung, (DAY, HEIGHT, 41.0, LINKE)),
    (S.DirStrMBew, (FLUX, CLOUD)),
    (S.AtmosGegenstr, (TEMP, VAPOUR, CLOUD)),
    (S.OberflTemp, (420.0, TEMP, WIND, 0.8)),
    (S.OberflTemp, (-60.0, TEMP, WIND, -1.5)),
    (S.MittlStrTemp, (ZENITH, 150.0, FLUX, 300.0, 95.0, FLUX, None, 0.3, None)),
]
IDS = [f"{fn.__name__}-{i}" for i, (fn, _) in enumerate(CASES)]


def dims_of(args):
    names = []
    for a in args:
        if isinstance(a, Dim) and a.name not in names:
            names.append(a.name)
    return names


def as_numpy(a, order):
    """A Dim as a NumPy array that broadcasts over the dimensions in order."""
    shape = [1] * len(order)
    shape[order.index(a.name)] = a.values.size
    return a.values.reshape(shape)


def as_duck(kind, a, order):
    if kind == "dask":
        return da.from_array(as_numpy(a, order), chunks=2)
    arr = xr.DataArray(a.values, dims=a.name, coords={a.name: a.values * 1.0})
    return arr.chunk({a.name: 2}) if kind == "xarray+dask" else arr


def refuse(*args, **kwargs):
    raise AssertionError("computed before .compute()")


# Last-bit differences between NumPy's loops for differently laid-out
# inputs are allowed; anything a formula could get wrong is far larger.
def assert_equal_values(got, want):
    np.testing.assert_allclose(got, want, rtol=1e-13, atol=0, equal_nan=True)


@pytest.mark.parametrize("kind", ["xarray", "dask", "xarray+dask"])
@pytest.mark.parametrize("fn,args", CASES, ids=IDS)
def test_element_wise_arguments_take_duck_arrays(fn, args, kind):
    order = dims_of(args)
    want = fn(*[as_numpy(a, order) if isinstance(a, Dim) else a for a in args])
    duck = [as_duck(kind, a, order) if isinstance(a, Dim) else a for a in args]
    if kind == "xarray":
        got = fn(*duck)
    else:
        with dask.config.set(scheduler=refuse):
            lazy = fn(*duck)
        assert dask.is_dask_collection(lazy)
        got = lazy.compute(scheduler="threads")

    if kind == "dask":
        assert isinstance(got, np.ndarray)
        assert_equal_values(got, want)
        return
    assert isinstance(got, xr.DataArray) and sorted(got.dims) == sorted(order)
    for a in args:
        if isinstance(a, Dim):
            np.testing.assert_array_equal(got.coords[a.name].values, a.values)
    assert_equal_values(got.transpose(*order).values, want)


def test_scalar_only_arguments_refuse_a_grid():
    # A branch needs one truth value: a grid of them goes through
    # xarray.apply_ufunc(..., vectorize=True) instead (examples/grid_dask.py).
    zenith = S.Zenitwinkel(as_duck("xarray", HOUR, ["hour"]), 50.0, 172)
    with pytest.raises(ValueError, match="truth value"):
        S.MaxGlobalstrahlung(172, 0.0, zenith, 3.0)
    vectorized = xr.apply_ufunc(S.MaxGlobalstrahlung, 172, 0.0, zenith.chunk({"hour": 6}), 3.0,
                                vectorize=True, dask="parallelized", output_dtypes=[np.float64])
    want = [S.MaxGlobalstrahlung(172, 0.0, z, 3.0) for z in zenith.values]
    assert 0 in want and max(want) > 800
    np.testing.assert_array_equal(vectorized.compute().values, want)
