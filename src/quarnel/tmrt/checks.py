"""Observations checked against their physical ranges: refused with the
first bad element and where it is, or masked as missing values.

In a dask-backed array the check runs block by block as the array is
computed, and the error comes then, placed by the block's offset.
"""

from __future__ import annotations

import functools
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel.tmrt.quantities import INPUTS, Quantity
from quarnel.tmrt.settings import Invalid, Spelling, as_keyword, spelled

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["ObservationError", "first_bad", "checked_numpy", "checked_xarray"]

FloatArray = npt.NDArray[np.float64]
Label = Callable[[tuple[int, ...]], str]
#: a hint added to a range error: its text, and the setting named in it as {setting}
Hint = tuple[str, str] | None


class ObservationError(ValueError):
    """An observation outside its physical range (or otherwise unusable).

    ``quantity`` is the quantity's standard name, ``source`` the column or
    variable it came from, ``row`` the position along the first axis (for
    one-dimensional observations) or None, ``where`` the position in words
    and ``detail`` the message without source and position. ``setting``:
    the parameter the message advises to check, if any; :meth:`text`
    spells it otherwise (the command: as its option).
    """

    def __init__(self, detail: str, quantity: str, source: str, where: str = "",
                 row: int | None = None, setting: str | None = None, value: str = "") -> None:
        self.template, self.setting, self.value = detail, setting, value
        self.detail = self.detail_text()
        self.quantity = quantity
        self.source = source
        self.where = where
        self.row = row
        super().__init__(self.text())

    def detail_text(self, spelling: Spelling = as_keyword) -> str:
        return spelled(self.template, self.setting, self.value, spelling)

    def text(self, spelling: Spelling = as_keyword) -> str:
        return (f"{self.source}: {self.detail_text(spelling)}"
                + (f" (at {self.where})" if self.where else ""))


def first_bad(bad: npt.NDArray[np.bool_], dims: Sequence[str] = (), *,
              block_info: dict[Any, Any] | None = None,
              label: Label | None = None) -> tuple[tuple[int, ...], str] | None:
    """The first element (in C order) where ``bad`` holds and its place in
    words, or None: by ``label``, else by the dimensions' names and
    positions (in a dask block: offset by the block's place in the array,
    from ``block_info``), else as "index i, j" ("" for a scalar)."""
    if not bad.any():
        return None
    index = tuple(int(i) for i in np.unravel_index(int(np.argmax(bad)), bad.shape))
    if label is not None:
        return index, label(index)
    if dims:
        offsets = [0] * bad.ndim
        if block_info is not None and 0 in block_info:
            offsets = [lo for lo, _ in block_info[0]["array-location"]]
        return index, ", ".join(f"{d} {i + o}" for d, i, o in zip(dims, index, offsets))
    return index, f"index {', '.join(map(str, index))}" if bad.ndim else ""


def _out_of_range(quantity: str, value: float, hint: Hint, source: str, where: str,
                  row: int | None = None) -> ObservationError:
    q = INPUTS[quantity]
    unit = {"degC": "°C", "m s-1": "m/s", "W m-2": "W/m²"}.get(q.unit, q.unit)
    detail = f"{value:g} {unit} is outside the range of {q.long_name}, {q.low:g} to {q.high:g} {unit}"
    text, setting = hint or ("", None)
    return ObservationError(detail + (f" ({text})" if text else ""), quantity, source, where, row,
                            setting)


def _outside(values: npt.NDArray[Any], q: Quantity) -> npt.NDArray[np.bool_]:
    with np.errstate(invalid="ignore"):
        bad: npt.NDArray[np.bool_] = ~((values >= q.low) & (values <= q.high)) & ~np.isnan(values)
    return bad


def _check_block(block: FloatArray, quantity: str, source: str, dims: tuple[str, ...],
                 hint: Hint = None, block_info: dict[Any, Any] | None = None) -> FloatArray:
    """A block of a dask array, checked when computed."""
    hit = first_bad(_outside(block, INPUTS[quantity]), dims, block_info=block_info)
    if hit is not None:
        index, where = hit
        raise _out_of_range(quantity, float(block[index]), hint, source, where)
    return block


def checked_numpy(values: FloatArray, quantity: str, source: str, invalid: Invalid,
                  label: Label | None = None, hint: Hint = None) -> FloatArray:
    """The values, or with invalid="mask" NaN where outside the range;
    invalid="raise": ObservationError for the first outside it."""
    bad = _outside(values, INPUTS[quantity])
    if not bad.any():
        return values
    if invalid == "mask":
        return np.where(bad, np.nan, values)
    hit = first_bad(bad, label=label)
    assert hit is not None
    index, where = hit
    row = index[0] if values.ndim == 1 else None
    raise _out_of_range(quantity, float(values[index]), hint, source, where, row)


def checked_xarray(da: xr.DataArray, quantity: str, source: str, invalid: Invalid,
                   hint: Hint = None) -> xr.DataArray:
    """checked_numpy for a DataArray; places named by coordinates, lazily
    for dask-backed data."""
    q = INPUTS[quantity]
    if invalid == "mask":
        return da.where(~((da < q.low) | (da > q.high)))
    dims = tuple(str(d) for d in da.dims)
    if da.chunks is not None:
        check = functools.partial(_check_block, quantity=quantity, source=source, dims=dims,
                                  hint=hint)
        return da.copy(data=da.data.map_blocks(check, dtype=da.dtype))

    def label(index: tuple[int, ...]) -> str:
        return ", ".join(f"{d} {_coordinate_text(da[d].values[i]) if d in da.coords else i}"
                         for d, i in zip(dims, index))
    checked_numpy(da.values, quantity, source, invalid, label, hint)
    return da


def _coordinate_text(value: Any) -> str:
    if isinstance(value, np.datetime64):
        return str(value.astype("datetime64[s]"))
    return f"{value:g}" if isinstance(value, (float, np.floating)) else str(value)
