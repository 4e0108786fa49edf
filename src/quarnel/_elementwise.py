"""Element-wise helpers that work alike on NumPy arrays, scalars and xarray
DataArrays (dask-backed ones stay lazy).

NumPy ufuncs and operators already dispatch to xarray; ``np.where`` does
not, so formulas with branches use :func:`where`. xarray is looked up only
if it is already imported: whoever hands in a DataArray has imported it.
"""

from __future__ import annotations

import sys
from typing import Any

import numpy as np

__all__ = ["Values", "where"]

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
