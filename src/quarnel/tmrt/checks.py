"""Observations checked against their physical ranges, and against each
other (vapour pressure against saturation at the air temperature; fluxes
against the sun and the air, in ``accumulation``): refused with the first
bad element and where it is, or masked as missing values.

In a dask-backed array the check runs block by block as the array is
computed, and the error comes then, placed by the block's offset.
"""

from __future__ import annotations

import functools
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel.tmrt import clock
from quarnel.tmrt.quantities import INPUTS, Quantity
from quarnel.tmrt.settings import Invalid, Spelling, as_keyword, spelled

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["ObservationError", "first_bad", "checked_numpy", "checked_xarray", "Relation",
           "related_numpy", "related_xarray", "SATURATION_TOLERANCE", "saturation_magnus",
           "humidity_checked", "series_codes", "checked_utc", "once_per_series",
           "first_out_of_order", "fraction_humidity"]

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
    spells it otherwise (the command: as its option). ``out_of_range``:
    a value outside the quantity's range (perhaps a marker of a missing
    value), rather than a series that cannot be right.
    """

    out_of_range = False
    other_unit = False      # the value is another unit's, and no marker (said in the message)

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


# Values outside a quantity's range that another common unit explains:
# (the unit expected, the quantity alone or None for all in it, lowest,
# highest, the likely unit and its conversion).
_OTHER_UNITS = (
    ("degC", None, 170.0, 373.15, "kelvin? °C is expected: subtract 273.15"),
    # 9 octas is SYNOP's code for a sky obscured, not a percentage
    ("1/8", None, 10.0, 100.0, "percent? octas are expected: multiply by 0.08"),
    ("hPa", None, 3000.0, 110000.0, "pascals? hPa is expected: divide by 100"),
    ("hPa", "air_pressure", 30.0, 110.0, "kilopascals? hPa is expected: multiply by 10"),
)


def unit_hint(quantity: str, value: float) -> str:
    """For a value outside its quantity's range: its likely unit in words,
    with the conversion, or "" where none fits."""
    expected = INPUTS[quantity].unit
    for unit, only, low, high, text in _OTHER_UNITS:
        if unit == expected and only in (None, quantity) and low <= value <= high:
            return text
    return ""


def _out_of_range(quantity: str, value: float, hint: Hint, source: str, where: str,
                  row: int | None = None) -> ObservationError:
    q = INPUTS[quantity]
    unit = {"degC": "°C", "m s-1": "m/s", "W m-2": "W/m²", "1/8": "octas"}.get(q.unit, q.unit)
    detail = f"{value:g} {unit} is outside the range of {q.long_name}, {q.low:g} to {q.high:g} {unit}"
    text, setting = hint or (unit_hint(quantity, value), None)
    error = ObservationError(detail + (f" ({text})" if text else ""), quantity, source, where,
                             row, setting)
    error.out_of_range = True
    # a whole number may still be a marker (99 octas), a fraction is not
    error.other_unit = hint is None and bool(text) and not float(value).is_integer()
    return error


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


def _aligned(a: xr.DataArray, b: xr.DataArray) -> bool:
    """Whether a lies over b's dimensions, sizes and coordinate indexes."""
    return (a.dims == b.dims and a.shape == b.shape and a.xindexes.keys() == b.xindexes.keys()
            and all(a.xindexes[k].equals(b.xindexes[k]) for k in a.xindexes))


def coordinate_label(da: xr.DataArray) -> Label:
    """An element's place in ``da`` in words: each dimension with its
    coordinate's value (or the index where it has none)."""
    dims = tuple(str(d) for d in da.dims)

    def label(index: tuple[int, ...]) -> str:
        return ", ".join(f"{d} {_coordinate_text(da[d].values[i]) if d in da.coords else i}"
                         for d, i in zip(dims, index))
    return label


def _coordinate_text(value: Any) -> str:
    if isinstance(value, np.datetime64):
        return str(value.astype("datetime64[s]"))
    return f"{value:g}" if isinstance(value, (float, np.floating)) else str(value)


# Observations against each other ----------------------------------------------

@dataclass(frozen=True)
class Relation:
    """A condition an observation must meet together with other arrays (the
    air temperature, the sun): ``bad(value, *others)`` marks the elements
    that break it (element-wise, on NumPy arrays and DataArrays alike),
    ``detail(value, *others)`` says why for one element. ``setting``,
    ``value``: the setting the message advises, spelt as a placeholder."""

    bad: Callable[..., Any]
    detail: Callable[..., str]
    setting: str | None = None
    value: str = ""


def _related_error(relation: Relation, quantity: str, source: str, where: str, row: int | None,
                   at: Sequence[Any]) -> ObservationError:
    return ObservationError(relation.detail(*(float(a) for a in at)), quantity, source, where, row,
                            relation.setting, relation.value)


def related_numpy(values: FloatArray, others: Sequence[Any], relation: Relation, quantity: str,
                  source: str, invalid: Invalid, label: Label | None = None) -> FloatArray:
    """The values, or with invalid="mask" NaN where they break the relation
    (broadcast with the others); invalid="raise": ObservationError for the
    first element that breaks it."""
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        bad = np.asarray(relation.bad(values, *others), dtype=bool)
    if not bad.any():
        return values
    if invalid == "mask":
        masked: FloatArray = np.where(bad, np.nan, values)
        return masked
    hit = first_bad(bad, label=label)
    assert hit is not None
    index, where = hit
    at = [np.broadcast_to(a, bad.shape)[index] for a in (values, *others)]
    row = index[0] if bad.ndim == 1 else None
    raise _related_error(relation, quantity, source, where, row, at)


def related_xarray(da: xr.DataArray, others: Sequence[Any], relation: Relation, quantity: str,
                   source: str, invalid: Invalid) -> xr.DataArray:
    """related_numpy for a DataArray (the others DataArrays or numbers);
    places named by coordinates, lazily for dask-backed data."""
    import xarray as xr

    if invalid == "mask":
        return da.where(~relation.bad(da, *others))
    arrays = [o for o in others if isinstance(o, xr.DataArray)]
    if all(_aligned(o, da) for o in arrays):
        # Variables of one Dataset: already over the same coordinates (the
        # broadcast's alignment would cost more than the check).
        full, rest = da, arrays
    else:
        full, *rest = xr.broadcast(da, *arrays)
    spread = iter(rest)
    every = [next(spread) if isinstance(o, xr.DataArray) else o for o in others]
    dims = tuple(str(d) for d in full.dims)
    if full.chunks is not None:
        chunks = full.chunksizes
        lazy = [o.chunk(chunks).data if isinstance(o, xr.DataArray) else o for o in every]

        def check(block: FloatArray, *parts: Any,
                  block_info: dict[Any, Any] | None = None) -> FloatArray:
            with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
                bad = np.asarray(relation.bad(block, *parts), dtype=bool)
            hit = first_bad(bad, dims, block_info=block_info)
            if hit is not None:
                index, where = hit
                at = [np.broadcast_to(a, bad.shape)[index] for a in (block, *parts)]
                raise _related_error(relation, quantity, source, where, None, at)
            return block

        import dask.array

        checked = dask.array.map_blocks(check, full.chunk(chunks).data, *lazy, dtype=da.dtype)
        return full.copy(data=checked)

    def label(index: tuple[int, ...]) -> str:
        return ", ".join(f"{d} {_coordinate_text(full[d].values[i]) if d in full.coords else i}"
                         for d, i in zip(dims, index))
    related_numpy(np.asarray(full.values), [np.asarray(getattr(o, "values", o)) for o in every],
                  relation, quantity, source, invalid, label)
    return da


# Humidity against saturation --------------------------------------------------

#: Vapour pressure up to this share above saturation is sensor noise (a
#: relative humidity sensor's few per cent near saturation, the Magnus
#: forms' spread) and is taken as saturation; beyond, it is refused.
SATURATION_TOLERANCE = 1.03


def saturation_magnus(t: Any) -> Any:
    """Saturation vapour pressure over water [hPa] at t [°C] by Magnus'
    formula with the coefficients of Alduchov and Eskridge (1996), within
    0.3 % of Hardy's ITS-90 form from −40 to 50 °C: the yardstick of
    supersaturation (the chain itself uses Sonntag's coefficients, within
    0.1 % of these)."""
    return 6.1094 * np.exp(17.625 * t / (243.04 + t))


def _over_saturation(what: str, unit: str) -> Relation:
    def bad(value: Any, t: Any) -> Any:
        if what == "dew_point" and isinstance(value, np.ndarray) and not hasattr(t, "dims"):
            # A dew point at or below the air temperature is below saturation:
            # the formula only for the rest (a few elements, if any).
            dew, air = np.broadcast_arrays(value, t)
            out = dew > air
            if out.any():
                above = np.nonzero(out)
                out[above] = (saturation_magnus(dew[above])
                              > SATURATION_TOLERANCE * saturation_magnus(air[above]))
            return out
        e = value if what == "vapour_pressure" else saturation_magnus(value)
        return e > SATURATION_TOLERANCE * saturation_magnus(t)

    def detail(value: float, t: float) -> str:
        e = value if what == "vapour_pressure" else float(saturation_magnus(value))
        share = 100.0 * (e / float(saturation_magnus(t)) - 1.0)
        given = f"a vapour pressure of {value:g} hPa" if what == "vapour_pressure" else \
            f"a dew point of {value:g} °C"
        return (f"{given} is {share:.0f} % above saturation at the air temperature of {t:g} °C "
                f"(up to {100 * (SATURATION_TOLERANCE - 1):.0f} % is taken as saturation): is it "
                f"the right column, in {unit}?")
    return Relation(bad, detail)


_SATURATION = {"vapour_pressure": _over_saturation("vapour_pressure", "hPa"),
               "dew_point": _over_saturation("dew_point", "°C")}


def humidity_checked(obs: Mapping[str, Any], found: Mapping[str, str], invalid: Invalid,
                     label: Label | None = None) -> dict[str, Any]:
    """The observations with a vapour pressure or dew point more than
    SATURATION_TOLERANCE above saturation at the air temperature refused
    (naming the column), or missing with invalid="mask"; what is within it
    the chain takes as saturation. NumPy arrays or DataArrays."""
    out = dict(obs)
    t = obs["air_temperature"]
    for q, relation in _SATURATION.items():
        if q in obs:
            lazy = getattr(obs[q], "chunks", None) is not None
            if q == "dew_point" and not lazy and not np.asarray(obs[q] > t).any():
                continue                      # at most saturated: nothing to refuse
            if hasattr(obs[q], "dims"):
                out[q] = related_xarray(obs[q], [t], relation, q, found[q], invalid)
            else:
                out[q] = related_numpy(obs[q], [t], relation, q, found[q], invalid, label)
    return out
# A series' times ----------------------------------------------------------------

def series_codes(station: Any, latitude: Any, longitude: Any, n: int
                 ) -> npt.NDArray[np.intp] | None:
    """A code per row telling several stations' series apart, or None for
    one series: by the station column where there is one, else by the
    site where latitude and longitude vary per row."""
    if station is not None:
        values = np.asarray(station)
        if values.shape != (n,):
            raise ValueError(f"the station column must have one value per time ({n}), not "
                             f"shape {values.shape}")
        codes: npt.NDArray[np.intp] = np.unique(values.astype(str) if values.dtype == object
                                                else values, return_inverse=True)[1]
        return codes
    lat, lon = np.asarray(latitude), np.asarray(longitude)
    if lat.shape != (n,) and lon.shape != (n,):
        return None
    # The rank of each row's (latitude, longitude) among the distinct ones,
    # as np.unique(..., axis=0) numbers them, by a sort of the two columns
    # (unique's sort of the rows as records costs a second per 10^6 rows).
    a, b = (np.asarray(x, dtype=np.float64).reshape(-1) for x in np.broadcast_arrays(lat, lon)[:2])
    order = np.lexsort((b, a))
    a, b = a[order], b[order]
    new = np.ones(a.size, dtype=bool)
    new[1:] = (a[1:] != a[:-1]) | (b[1:] != b[:-1])
    codes = np.empty(a.size, dtype=np.intp)
    codes[order] = np.cumsum(new) - 1
    codes = codes.reshape(n)
    return codes if codes.max(initial=0) > 0 else None


def checked_utc(times: Any, utc_offset: Any, timezone: str | None,
                series: npt.NDArray[np.intp] | None, source: str,
                label: Label | None = None) -> npt.NDArray[np.datetime64]:
    """The times as UTC: on the clock of ``utc_offset``, or local times of
    ``timezone``; a local time the clocks skipped is refused."""
    local = clock.as_datetime64(times, source)
    if timezone is None:
        return clock.utc(local, utc_offset)
    if not np.issubdtype(local.dtype, np.datetime64):
        raise ValueError(f"times must be datetime64 values, not {local.dtype}")
    flat = local.reshape(-1).astype("datetime64[ns]")
    offsets, skipped = clock.zone_offsets(flat, timezone, series if local.ndim == 1 else None)
    hit = first_bad(skipped, label=label if local.ndim == 1 else None)
    if hit is not None:
        index, where = hit
        winter = offsets[index[0]]                # the clock's before it went forward
        raise ObservationError(
            f"{flat[index[0]].astype('datetime64[s]')} does not exist in {timezone} (the "
            "clocks go forward then): do the times keep standard time all year? then "
            "{setting}", "time", source, where, index[0] if local.ndim == 1 else None,
            "utc_offset", f"{winter:g}")
    return clock.utc(flat, offsets).reshape(local.shape)


def once_per_series(utc: npt.NDArray[np.datetime64], series: npt.NDArray[np.intp] | None,
                    given: Any, source: str, label: Label | None = None) -> None:
    """Each time at most once in its series (a station's): else
    ObservationError naming the first time that repeats an earlier one."""
    if utc.ndim != 1 or utc.size < 2:
        return
    ticks = utc.astype(np.int64)
    codes = np.zeros(utc.size, dtype=np.intp) if series is None else series
    # The usual file first, without a sort: each series one run of rows, its
    # times rising (a missing time, the least int64, can only begin a run).
    new_run = codes[1:] != codes[:-1]
    if ((ticks[1:] > ticks[:-1]) | new_run).all() and (
            series is None or int(new_run.sum()) + 1 == np.count_nonzero(np.bincount(codes))):
        return
    order = np.lexsort((ticks, codes))             # stable: earlier rows first
    same = (ticks[order][1:] == ticks[order][:-1]) & (codes[order][1:] == codes[order][:-1])
    same &= ~np.isnat(utc[order][1:])
    if not same.any():
        return
    repeats = np.zeros(utc.size, dtype=bool)
    repeats[order[1:][same]] = True
    hit = first_bad(repeats, label=label)
    assert hit is not None
    (row,), where = hit
    time = np.asarray(given).reshape(-1)[row]
    text = str(time.astype("datetime64[s]")) if isinstance(time, np.datetime64) else str(time)
    advice = ("in its station's series" if series is not None else
              "(several stations in one file? a station column tells their series apart)")
    raise ObservationError(f"the time {text} is repeated {advice}", "time", source, where, row)


def first_out_of_order(utc: npt.NDArray[np.datetime64]) -> int | None:
    """The first time earlier than the one before it, or None."""
    ticks = utc.reshape(-1).astype("datetime64[ns]").astype(np.int64)
    back = np.flatnonzero(ticks[1:] < ticks[:-1])
    return int(back[0]) + 1 if back.size else None


def fraction_humidity(values: Any, source: str) -> None:
    """Relative humidity as a fraction (every value at most 1) is refused:
    it is taken in percent."""
    with np.errstate(invalid="ignore"):
        finite = np.isfinite(values)
        if finite.any() and bool((values[finite] <= 1.0).all()):
            raise ObservationError(
                "every value is at most 1: a fraction where percent (0 to 100) is meant? "
                "multiply it by 100 (in a Dataset: or give it units '1')", "relative_humidity",
                source)
