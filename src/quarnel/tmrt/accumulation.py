"""Accumulated fluxes [J m-2] as mean fluxes [W m-2] over their accumulation.

The setting ``accumulation`` says how a Dataset's fluxes were accumulated:
"interval" (over the spacing of the time steps, ending at each), a number
of hours before each step, or "since-00utc" (running totals since 00 UTC,
differenced into hours). Its length in hours, :func:`length`, divides the
fluxes and is the interval whose sun the short-wave fluxes are paired with.

Fluxes in W m-2 are means over an interval too where the setting
``timestamps`` says so (:func:`mean_interval`): of the rows' spacing, or
of the accumulation's hours where given, placed at the stamp as it says.
A Dataset's short-wave fluxes whose CF ``cell_methods`` say "time: mean"
are means over the time coordinate's bounds (:func:`cf_mean_interval`).
:func:`paired_interval` is the one decision of the interval whose sun the
short-wave fluxes are paired with (the chain's, and the maps' shadows').

A wrong accumulation period divides every flux by the wrong number, and the
results stay inside the range checks (hourly accumulations taken every
third hour as 3-hourly ones: G 33 instead of 100 W/m², strd 117 instead
of 350). :func:`plausible` refuses accumulated fluxes the physics does not
allow: global radiation above what the interval's sun can give (Long and
Dutton 2002), long-wave radiation far from the air's black-body emission.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Collection, Hashable, Mapping
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel._elementwise import where
from quarnel.tmrt.chain.common import black_body
from quarnel.tmrt.checks import (ObservationError, Relation, coordinate_label, first_bad,
                                 first_out_of_order, related_numpy, related_xarray)
from quarnel.tmrt.decomposition import extraterrestrial_normal
from quarnel.tmrt.interval_sun import interval_cos_zenith
from quarnel.tmrt.quantities import INPUTS, RADIATION, SHORTWAVE
from quarnel.tmrt.settings import SETTINGS, Accumulation, Invalid, SettingError, Timestamps

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["ACCUMULATION_NOISE", "HINT", "accumulation_hours", "in_order", "length", "flux",
           "row_spacing", "mean_interval", "paired_interval", "means_over_time",
           "bounds_interval", "cf_mean_interval", "global_limit", "LONGWAVE_RATIO", "plausible"]

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
    in_order(t, "time")
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


def row_spacing(times: Any) -> float:
    """The most common spacing [h] between distinct times (rows of a station
    record may be missing, or several stations share the times)."""
    t = np.unique(np.asarray(times).astype("datetime64[s]").ravel())
    t = t[~np.isnat(t)]
    if t.size < 2:
        raise SettingError("the interval each time stamp's means cover cannot be told from a "
                           "single time: give its length ({setting})", "accumulation", "HOURS")
    steps, counts = np.unique(np.diff(t), return_counts=True)
    return float(steps[np.argmax(counts)] / np.timedelta64(1, "s")) / 3600.0


#: where each kind of interval ends, in its lengths after the stamp
_ENDS: dict[Timestamps, float] = {"interval-end": 0.0, "interval-start": 1.0,
                                   "interval-middle": 0.5}


def mean_interval(timestamps: Timestamps, accumulation: Accumulation,
                  utc: npt.NDArray[np.datetime64]) -> tuple[float, float]:
    """The interval fluxes in W m-2 are means over: its length [h] and its
    end after the stamp [h]; (0, 0) for instants. The length is the
    accumulation's hours where given as a number, else the rows' spacing."""
    if timestamps == "instant":
        return 0.0, 0.0
    if accumulation == "since-00utc":
        raise SettingError("running totals since 00 UTC are J/m² accumulations: fluxes in W/m² "
                           "are means over HOURS or the rows' spacing ({setting})",
                           "accumulation", "HOURS")
    hours = row_spacing(utc) if accumulation == "interval" else float(accumulation)
    s = SETTINGS["accumulation"]
    if not s.low <= hours <= s.high:
        raise SettingError(f"the rows are {hours:g} h apart: means over that long are not used "
                           "(give {setting})", "accumulation", "HOURS")
    return hours, _ENDS[timestamps] * hours


# Means by CF metadata (CF conventions 1.11, 7.1 cell boundaries, 7.3 cell methods)

_COMMENT = re.compile(r"\([^()]*\)")


def means_over_time(cell_methods: object) -> bool:
    """Whether a CF ``cell_methods`` attribute says the values are means
    over time: an entry naming ``time`` whose method is ``mean`` ("time:
    mean", "area: time: mean", "area: mean time: mean (interval: 1 hour)").
    A comment in parentheses is no part of it: its ``interval`` is the
    sampling of the data averaged, not the interval of the mean."""
    if not isinstance(cell_methods, str):
        return False
    # "name: name: method [words...]" repeated; "time:mean" spaced out
    tokens = re.sub(r"\s*:", ": ", _COMMENT.sub(" ", cell_methods)).split()
    names: list[str] = []
    method: str | None = None
    for token in tokens:
        if token.endswith(":"):
            if method is not None:
                names, method = [], None
            names.append(token[:-1])
        elif names and method is None:
            method = token
            if "time" in names and method == "mean":
                return True
    return False


#: how close [s] bounds must be to even widths and to the stamp's place:
#: times stored as floating-point days decode a few microseconds off
_BOUNDS_SLACK = 1.0


def _seconds(later: npt.NDArray[Any], earlier: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
    """later - earlier [s], NaN where either is missing; the dates of a
    model's calendar (cftime) subtracted in their calendar."""
    if later.dtype.kind == "M" and earlier.dtype.kind == "M":
        step = later.astype("datetime64[ns]") - earlier.astype("datetime64[ns]")
        out: npt.NDArray[np.float64] = step.astype(np.int64) / 1e9
        out[np.isnat(step)] = np.nan
        return out
    if later.dtype == object and earlier.dtype == object:
        step = (later - earlier).reshape(-1)
        return np.array([np.nan if d is None else d.total_seconds() for d in step],
                        dtype=np.float64).reshape(later.shape)
    raise TypeError("not times")


def bounds_interval(stamps: npt.NDArray[Any], bounds: npt.NDArray[Any],
                    source: str) -> tuple[Timestamps, float]:
    """Where the stamps lie in their bounds, the one place of them all
    (the upper bound: "interval-end", the lower: "interval-start", the
    middle: "interval-middle"), and the bounds' width [h], the same for
    all and within the range of ``accumulation``. ``bounds``: (time, 2)
    beside the stamps (time), of the same kind of dates; ``source`` names
    them in the ObservationError that refuses them otherwise."""
    try:
        low, high = (_seconds(bounds[:, i], stamps) for i in (0, 1))
    except TypeError:
        raise ObservationError(f"the time bounds are {bounds.dtype} values, not times of the "
                               "kind of the time coordinate", "time", source) from None
    missing = np.flatnonzero(np.isnan(low) | np.isnan(high))
    if missing.size:
        raise ObservationError("a time or its bounds are missing", "time", source,
                               f"time {missing[0]}", int(missing[0]))
    start, end = np.minimum(low, high), np.maximum(low, high)
    width = end - start
    outside = np.flatnonzero((start > _BOUNDS_SLACK) | (end < -_BOUNDS_SLACK))
    if outside.size:
        i = int(outside[0])
        raise ObservationError(f"the time {stamps[i]} lies outside its bounds {bounds[i, 0]} "
                               f"to {bounds[i, 1]}", "time", source, f"time {i}", i)
    s = SETTINGS["accumulation"]
    span = f"{s.low * 60:g} minute to {s.high:g} h"
    shortest, longest = float(width.min()) / 3600.0, float(width.max()) / 3600.0
    if longest - shortest > _BOUNDS_SLACK / 3600.0:
        raise ObservationError(
            f"bounds {shortest:g} to {longest:g} h wide: the sun is paired with means over "
            f"intervals of one length, {span} (not monthly means)", "time", source)
    if not s.low <= longest <= s.high:
        raise ObservationError(f"bounds {longest:g} h wide: the sun is paired with means over "
                               f"{span}, not over {longest:g} h", "time", source)
    hours = round(float(np.median(width))) / 3600.0
    # the time's place in its bounds: end - stamp is 0, half the width or all of it
    for place, share in _ENDS.items():
        if (np.abs(end - share * width) <= _BOUNDS_SLACK).all():
            return place, hours
    raise ObservationError("the times lie neither at the start, the middle nor the end of "
                           "their bounds throughout: which interval each is the mean of is "
                           "unclear", "time", source)


def cf_mean_interval(ds: xr.Dataset, sources: Mapping[str, str], time_name: Hashable,
                     timestamps: Timestamps, accumulation: Accumulation
                     ) -> tuple[Timestamps, float] | None:
    """The interval a Dataset's short-wave fluxes in W m-2 are means over
    where their CF ``cell_methods`` say "time: mean": the place of the
    stamps in the time coordinate's bounds (its ``bounds`` attribute) and
    their width [h] (:func:`bounds_interval`), whatever ``timestamps``
    says; an interval setting (``timestamps``, or ``accumulation`` in
    hours) that contradicts them is refused naming both. None where no
    flux says so, or where the means have no bounds and ``timestamps``
    gives their interval; CF means without bounds read as instants are
    refused. ``sources``: quantity -> variable."""
    means = [s for q, s in sources.items()
             if q in SHORTWAVE and means_over_time(ds[s].attrs.get("cell_methods"))]
    if not means:
        return None
    time = ds[time_name]
    name = time.attrs.get("bounds", time.encoding.get("bounds"))
    if not isinstance(name, str) or name not in ds.variables:
        if timestamps != "instant":
            return None
        raise SettingError(f"variable '{means[0]}': its cell_methods say means over time, and "
                           f"the time coordinate '{time_name}' has no bounds to tell their "
                           "interval: give {setting}", "timestamps",
                           "interval-end|interval-start|interval-middle")
    bounds = ds.variables[name]
    time_dim = time.dims[0]
    if bounds.ndim != 2 or time_dim not in bounds.dims or bounds.shape[
            1 - bounds.dims.index(time_dim)] != 2:
        raise ObservationError(f"the time bounds must lie along ({time_dim}, 2), not "
                               f"{tuple(map(str, bounds.dims))} of {bounds.shape}", "time", name)
    other = next(d for d in bounds.dims if d != time_dim)
    place, hours = bounds_interval(np.asarray(time.values),
                                   np.asarray(bounds.transpose(time_dim, other).values), name)
    if timestamps not in ("instant", place):
        raise SettingError(f"the time bounds '{name}' of the means in '{means[0]}' say "
                           f"{place}, not {{setting}}", "timestamps", timestamps)
    if not isinstance(accumulation, str) and abs(float(accumulation) - hours) * 3600.0 > \
            _BOUNDS_SLACK:
        raise SettingError(f"the time bounds '{name}' of the means in '{means[0]}' are "
                           f"{hours:g} h wide, not {{setting}}", "accumulation",
                           f"{float(accumulation):g}")
    return place, hours


def paired_interval(accumulated: bool, timestamps: Timestamps, accumulation: Accumulation,
                    utc: npt.NDArray[np.datetime64]) -> tuple[float, float]:
    """The interval whose sun the short-wave fluxes are paired with: its
    length [h] and its end after the stamp [h]; (0, 0): the stamp's sun.
    Short-wave fluxes ``accumulated`` in J m-2: their accumulation's,
    ending at the stamp (SettingError for ``timestamps`` saying otherwise);
    in W m-2: :func:`mean_interval`."""
    if not accumulated:
        return mean_interval(timestamps, accumulation, utc)
    if timestamps not in ("instant", "interval-end"):
        raise SettingError("fluxes in J/m² are accumulated over the interval ending at "
                           "their time stamp: {setting}", "timestamps", "interval-end")
    return length(accumulation, utc), 0.0


def in_order(times: npt.NDArray[np.datetime64], source: str) -> None:
    """Times each once and in order (where the spacing of the steps means
    something), else ObservationError naming the first that is not."""
    t = times.reshape(-1).astype("datetime64[s]")
    repeated = np.flatnonzero(np.diff(t) == np.timedelta64(0, "s"))
    back = first_out_of_order(t)
    if repeated.size and (back is None or repeated[0] + 1 < back):
        row = int(repeated[0]) + 1
        raise ObservationError(f"the time {t[row]} is repeated", "time", source,
                               f"{source} {row}", row)
    if back is not None:
        raise ObservationError(f"the times are out of order: {t[back]} after {t[back - 1]} (sort "
                               "them by time)", "time", source, f"{source} {back}", back)


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

    if accumulation != "since-00utc" and isinstance(da.data, np.ndarray):
        # In memory: one pass for the mean and one for the noise, where
        # xarray takes six; the same values and attributes.
        values = np.divide(da.data, accumulation_hours * 3600.0, dtype=np.float64)
        out = da.copy(deep=False, data=values)
        out.encoding = {}
        if quantity in _NON_NEGATIVE:
            values[(values < 0) & (values >= -ACCUMULATION_NOISE)] = 0.0
            out.attrs = {}
        return out.assign_attrs(units=INPUTS[quantity].unit)
    joules = da.astype(np.float64)
    if accumulation == "since-00utc":
        in_order(utc, str(time_dim))
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


# Fluxes against the physics of their period -----------------------------------

def global_limit(mu: Any, sunlit: Any, dayofyear: Any) -> Any:
    """The physically possible global radiation [W m-2] over an interval
    (Long and Dutton 2002, BSRN quality control: 1.5 S0 μ^1.2 + 100 W m-2,
    S0 the extraterrestrial irradiance of the day), with the sun of the
    interval: its sunlit share f and the mean cos z μ over that share,
    f · 1.5 S0 μ^1.2 + 100 (100 W m-2 with no sun)."""
    return _limit(mu, sunlit, extraterrestrial_normal(dayofyear))


def _limit(mu: Any, sunlit: Any, s0: Any) -> Any:
    return sunlit * 1.5 * s0 * mu ** 1.2 + 100.0


#: Long-wave radiation downwards as a share of the air's black-body emission
#: σTa⁴: Long and Dutton (2002) flag below 0.4; real skies reach about 1.3
#: over polar inversions (cloud warmer than the air at 2 m). A wrong
#: accumulation period moves nearly every element by its factor, so the
#: first beyond these wide bounds tells it.
LONGWAVE_RATIO = (0.4, 1.5)

_PERIOD = ("is the accumulation period right? see {setting}", "accumulation", "HOURS")


def _global_detail(g: float, limit: float) -> str:
    return (f"{g:g} W/m² of global radiation is more than the sun of its interval can give "
            f"(at most {limit:.0f} W/m², Long and Dutton 2002): {_PERIOD[0]}")


def _longwave_detail(value: float, t: float) -> str:
    emitted = float(black_body(t))
    low, high = LONGWAVE_RATIO
    return (f"{value:g} W/m² of long-wave radiation is {value / emitted:.2f} times the black-body "
            f"emission of the air at {t:g} °C ({emitted:.0f} W/m²), outside {low:g} to {high:g}: "
            f"{_PERIOD[0]}")


def _longwave_bad(value: Any, t: Any) -> Any:
    emitted = black_body(t)
    return (value < LONGWAVE_RATIO[0] * emitted) | (value > LONGWAVE_RATIO[1] * emitted)


_GLOBAL = Relation(lambda g, limit: g > limit, _global_detail, *_PERIOD[1:])
_LONGWAVE = Relation(_longwave_bad, _longwave_detail, *_PERIOD[1:])


def _global_checked(g: xr.DataArray, solar_time: Any, latitude: Any, day: Any, hours: float,
                    source: str, invalid: Invalid) -> xr.DataArray:
    """Global radiation against the limit of its interval's sun."""
    if g.chunks is None and invalid == "raise":
        values = np.asarray(g.values)
        over = [_over(x, g) for x in (solar_time, latitude, day)]
        inputs = [x for x in over if x is not None]
        if len(inputs) == 3:
            inputs.append(extraterrestrial_normal(inputs[2]))       # a day's, before spreading
            # The limit is 100 W/m² and the sun's part: only what exceeds
            # 100 W/m² (the day's, and not all of it) needs the sun.
            with np.errstate(invalid="ignore"):
                candidates = values > 100.0
            if candidates.any():
                at = [np.broadcast_to(x, values.shape)[candidates] for x in inputs]
                mu, sunlit = interval_cos_zenith(at[0], at[1], at[2], hours)
                limit = np.full(values.shape, np.inf)
                limit[candidates] = _limit(mu, sunlit, at[3])
                related_numpy(values, [limit], _GLOBAL, "global_radiation", source, invalid,
                              coordinate_label(g))
            return g
    mu, sunlit = interval_cos_zenith(solar_time, latitude, day, hours)
    return related_xarray(g, [global_limit(mu, sunlit, day)], _GLOBAL, "global_radiation",
                          source, invalid)


def _over(x: Any, like: xr.DataArray) -> npt.NDArray[np.float64] | None:
    """x's values over the dimensions of ``like``, length 1 where x does not
    vary (None where x has a dimension ``like`` lacks)."""
    if not hasattr(x, "dims"):
        return np.asarray(x, dtype=np.float64)
    if not set(x.dims) <= set(like.dims):
        return None
    ordered = x.transpose(*[d for d in like.dims if d in x.dims])
    return np.asarray(ordered.values, dtype=np.float64).reshape(
        [x.sizes[d] if d in x.dims else 1 for d in like.dims])


def plausible(obs: Mapping[str, xr.DataArray], found: Mapping[str, str],
              accumulated: Collection[str], interval_sun: Callable[[], tuple[Any, Any, Any]],
              hours: float, invalid: Invalid) -> dict[str, xr.DataArray]:
    """The observations with accumulated global and long-wave radiation
    checked against their period of ``hours``: refused (ObservationError
    naming the setting ``accumulation``) or missing with invalid="mask".
    ``interval_sun()`` gives what the accumulation's sun is computed from:
    the apparent solar time at each interval's end, the latitude and the
    day of the year."""
    out = dict(obs)
    if "global_radiation" in accumulated:
        out["global_radiation"] = _global_checked(
            obs["global_radiation"], *interval_sun(), hours, found["global_radiation"], invalid)
    if "longwave_downward_radiation" in accumulated:
        out["longwave_downward_radiation"] = related_xarray(
            obs["longwave_downward_radiation"], [obs["air_temperature"]], _LONGWAVE,
            "longwave_downward_radiation", found["longwave_downward_radiation"], invalid)
    return out
