"""Element-wise helpers that work alike on NumPy arrays, scalars and xarray
DataArrays (dask-backed ones stay lazy).

NumPy ufuncs and operators already dispatch to xarray; ``np.where`` does
not, so formulas with branches use :func:`where`. dask's ufunc protocol
knows no ufunc of several outputs but NumPy's own: such ufuncs go through
:func:`outputs`. xarray and dask are looked up only if they are already
imported: whoever hands in a DataArray or a dask array has imported them.
"""

from __future__ import annotations

import sys
from typing import Any

import numpy as np

__all__ = ["Values", "where", "outputs"]

#: a float, a NumPy array or scalar, or an xarray DataArray (NumPy- or dask-backed)
Values = Any


def _is_xarray(*values: Any) -> bool:
    xr_mod = sys.modules.get("xarray")
    return xr_mod is not None and any(isinstance(v, xr_mod.DataArray) for v in values)


def where(cond: Any, a: Any, b: Any) -> Any:
    """``a`` where ``cond`` holds, else ``b``, element by element with
    broadcasting: :func:`xarray.where` if any argument is a DataArray,
    :func:`numpy.where` otherwise (a NumPy scalar where all are scalars,
    as a ufunc gives)."""
    if _is_xarray(cond, a, b):
        import xarray as xr
        return xr.where(cond, a, b)  # type: ignore[no-untyped-call]
    out = np.where(cond, a, b)
    return out[()] if out.ndim == 0 else out


def outputs(ufunc: np.ufunc, *args: Any) -> tuple[Any, ...]:
    """The outputs of a ufunc of several outputs on ``args``, element by
    element with broadcasting: DataArrays keep their dimensions and
    coordinates, dask arrays (bare or in DataArrays) stay lazy."""
    if _is_xarray(*args):
        import xarray as xr
        core: list[list[str]] = [[] for _ in range(ufunc.nout)]
        return tuple(xr.apply_ufunc(ufunc, *args, dask="parallelized", output_core_dims=core,
                                    output_dtypes=[np.float64] * ufunc.nout))
    dask_array = sys.modules.get("dask.array")
    if dask_array is not None and any(isinstance(v, dask_array.Array) for v in args):
        # apply_gufunc wants the operands in the same blocks.
        arrays = [dask_array.asarray(v) for v in args]
        ndim = max(a.ndim for a in arrays)
        pairs: list[Any] = []
        for a in arrays:
            pairs += [a, tuple(range(ndim - a.ndim, ndim))]
        arrays = list(dask_array.core.unify_chunks(*pairs)[1])
        signature = ",".join(["()"] * ufunc.nin) + "->" + ",".join(["()"] * ufunc.nout)
        return tuple(dask_array.apply_gufunc(ufunc, signature, *arrays,
                                             output_dtypes=[np.float64] * ufunc.nout))
    return tuple(ufunc(*args))
