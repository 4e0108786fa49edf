"""Accumulated fluxes [J m-2] as mean fluxes [W m-2] over their accumulation.

The setting ``accumulation`` says how a Dataset's fluxes were accumulated:
"interval" (over the spacing of the time steps, ending at each), a number
of hours before each step, or "since-00utc" (running totals since 00 UTC,
differenced into hours). Its length in hours, :func:`length`, divides the
fluxes and is the interval whose sun the short-wave fluxes are paired with.
"""

from __future__ import annotations

from collections.abc import Hashable
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel._elementwise import where
from quarnel.tmrt.checks import ObservationError, first_bad
from quarnel.tmrt.quantities import INPUTS, RADIATION
from quarnel.tmrt.settings import SETTINGS, Accumulation, Invalid, SettingError

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["ACCUMULATION_NOISE", "HINT", "accumulation_hours", "length", "flux"]

# Packing noise and rounding let accumulated fluxes dip a little below 0:
# down to this [W m-2] they are 0, below it they are refused.
ACCUMULATION_NOISE = 1.0
_NON_NEGATIVE = tuple(q for q in RADIATION if INPUTS[q].low >= 0)
#: the hint of a range error in an accumulated flux
HINT = ("is the accumulation period right? see {setting}", "accumulation")


def accumulation_hours(times: Any) -> float:
    """The accumulation period [h] of fluxes accumulated over the interval
    between time steps: the spacing of the times, which must be even
    (else SettingError, a ValueError)."""
    t = np.asarray(times).astype("datetime64[s]")
    if t.size < 2:
        raise SettingError("the accumulation period of J/m² fluxes cannot be told from a single "
                           "time step: give it ({setting})", "accumulation", "HOURS")
    steps = np.unique(np.diff(t.ravel()))
    if steps.size != 1 or steps[0] <= np.timedelta64(0, "s"):
        raise SettingError("the time steps are not evenly spaced, so the accumulation period of "
                           "J/m² fluxes cannot be told from them: give it ({setting})",
                           "accumulation", "HOURS")
    hours = float(steps[0] / np.timedelta64(1, "s")) / 3600.0
    s = SETTINGS["accumulation"]
    if not s.low <= hours <= s.high:
        raise SettingError(f"the time steps are {hours:g} h apart: accumulations over that long "
                           "are not used (give {setting})", "accumulation", "HOURS")
    return hours


def length(accumulation: Accumulation, utc: npt.NDArray[np.datetime64]) -> float:
    """The accumulation's length [h]: running totals are differenced into hours."""
    if accumulation == "since-00utc":
        return 1.0
    if accumulation == "interval":
        return accumulation_hours(utc)
    return float(accumulation)


def flux(da: xr.DataArray, quantity: str, source: str, time_dim: Hashable,
         utc: npt.NDArray[np.datetime64], accumulation: Accumulation,
         accumulation_hours: float, invalid: Invalid) -> xr.DataArray:
    """The mean flux [W m-2] of an accumulated variable [J m-2]: the
    accumulation over its ``accumulation_hours``, or for running totals since 00 UTC the
    difference to the step before (the 01 UTC step is its own hour)."""
    import xarray as xr

    joules = da.astype(np.float64)
    if accumulation == "since-00utc":
        steps = np.diff(utc.astype("datetime64[s]"))
        if steps.size and (steps != np.timedelta64(3600, "s")).any():
            raise ValueError(f"variable '{source}': running totals since 00 UTC are differenced "
                             "into hours, but the time steps are not hourly")
        seconds = (utc.astype("datetime64[s]") - utc.astype("datetime64[D]")).astype(np.int64)
        first = xr.DataArray(seconds == 3600, dims=(time_dim,), coords={time_dim: da[time_dim]})
        joules = where(first, joules, joules - joules.shift({time_dim: 1}))
        if quantity in _NON_NEGATIVE:
            joules = _increasing(joules, source, time_dim, invalid)
    mean = joules / (accumulation_hours * 3600.0)
    if quantity in _NON_NEGATIVE:
        mean = where((mean < 0) & (mean >= -ACCUMULATION_NOISE), 0.0, mean)
    return mean.assign_attrs(units=INPUTS[quantity].unit)


def _increasing(steps: xr.DataArray, source: str, time_dim: Hashable,
                invalid: Invalid) -> xr.DataArray:
    """Running totals that decrease by more than the noise are not running
    totals since 00 UTC: refused (or, with invalid="mask", missing)."""
    limit = -ACCUMULATION_NOISE * 3600.0
    if invalid == "mask":
        return steps.where(~(steps < limit))
    dims = tuple(str(d) for d in steps.dims)

    def check(block: npt.NDArray[np.float64],
              block_info: dict[Any, Any] | None = None) -> npt.NDArray[np.float64]:
        with np.errstate(invalid="ignore"):
            bad = block < limit
        hit = first_bad(bad, dims, block_info=block_info)
        if hit is not None:
            index, place = hit
            raise ObservationError(
                f"the running total falls by {-float(block[index]):g} J m-2 from the step "
                "before: not accumulated since 00 UTC", str(time_dim), source, place)
        return block

    if steps.chunks is not None:
        return steps.copy(data=steps.data.map_blocks(check, dtype=steps.dtype))
    check(steps.values)
    return steps
