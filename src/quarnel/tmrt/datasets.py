"""The chain on an xarray Dataset: a grid or a station, in memory or lazy.

In memory, the Dataset's values go through the NumPy path a block at a
time; dask-backed, the chain is built on the DataArrays and stays lazy.
Either way each result lies along the dimensions it varies along.
"""

from __future__ import annotations

from collections.abc import Hashable, Mapping
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel.tmrt import chain, checks, clock, sun_check
from quarnel.tmrt.accumulation import (HINT, cf_mean_interval, flux, length, paired_interval,
                                       plausible)
from quarnel.tmrt.arrays import in_blocks, read_as_given, required
from quarnel.tmrt.checks import checked_xarray, humidity_checked
from quarnel.tmrt.names import ERA5_WIND, GRAVITY, era5_quantities, orography, present
from quarnel.tmrt.quantities import INPUTS, INTEGERS, RADIATION, SHORTWAVE, described
from quarnel.tmrt.settings import (Accumulation, Assumptions, Invalid, Reading, SettingError,
                                   Timestamps, check_setting)
from quarnel.tmrt.units import UnitError, converted, is_accumulated

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["compute_dataset", "accumulated_radiation", "sun_interval"]

FloatArray = npt.NDArray[np.float64]


def compute_dataset(ds: xr.Dataset, latitude: Any, longitude: Any, height: Any,
                    utc_offset: Any, names: dict[str, str], invalid: Invalid,
                    assumptions: Assumptions, accumulation: Accumulation,
                    reading: Reading = Reading()) -> xr.Dataset:
    """compute() on a Dataset with a time coordinate."""
    import xarray as xr

    if np.ndim(utc_offset):
        raise SettingError("utc_offset must be one number for a Dataset (its times are one "
                           "coordinate)", "utc_offset")
    names = era5_quantities(ds.data_vars.variables, names)
    variables: dict[str, Any] = {}
    if "wind_speed" not in names and "wind_speed" not in ds:
        pair = next((p for p in ERA5_WIND if all(c in ds for c in p)), None)
        if pair is not None:
            u, v = (converted(ds[c], "wind_speed", c) for c in pair)
            variables["wind_speed"] = np.hypot(u, v)
    found = present(set(ds.data_vars) | set(variables), names)

    time_name = _time_name(ds, names)
    if time_name is None or time_name not in ds.coords:
        raise KeyError("no times: expected a coordinate 'time' or 'valid_time'")
    if ds[time_name].ndim != 1:
        raise ValueError(f"the time coordinate '{time_name}' must be one-dimensional")
    time_dim = ds[time_name].dims[0]
    chunks = ds.chunksizes if ds.chunks else None

    def along(values: Any, dim: Hashable) -> xr.DataArray:
        # No coordinates: the results go back as variables of ds.
        da = xr.DataArray(values, dims=(dim,))
        if chunks is not None and dim in chunks:
            da = da.chunk({dim: chunks[dim]})
        return da

    utc = checks.checked_utc(ds[time_name].values, utc_offset, reading.timezone, None, time_name)
    checks.once_per_series(utc, None, ds[time_name].values, time_name)

    def coordinate(param: Any, candidates: tuple[str, ...], what: str) -> Any:
        name = next((c for c in candidates if c in ds.coords), None)
        if name is None:
            return required(param, what)
        if param is not None:
            raise ValueError(f"the dataset has {what}s ('{name}'): no {what} may be given")
        coord = ds[name]
        try:
            check_setting(what, coord)
        except ValueError as e:
            raise ValueError(f"coordinate '{name}': {e}") from None
        return along(coord.values, coord.dims[0]) if coord.ndim == 1 else coord

    lat = coordinate(latitude, ("latitude", "lat"), "latitude")
    lon = coordinate(longitude, ("longitude", "lon"), "longitude")
    height = _orography(ds, names, height, time_dim)

    # Accumulated fluxes: their accumulation's length, and the sun of their interval.
    accumulated = accumulated_radiation(ds, {q: s for q, s in found.items() if s not in variables})
    accumulation_hours = length(accumulation, utc) if accumulated else 0.0
    # The chain pairs short-wave fluxes with the sun of their accumulation;
    # long-wave ones need no sun: without accumulated short-wave, the sun of
    # the stamp or of the interval the timestamps say the means cover, or
    # the time bounds of CF means (a setting they contradict refused before
    # any work).
    paired = sun_interval(ds, names, reading.timestamps, accumulation, utc)
    obs: dict[str, Any] = {}
    for q, s in found.items():
        if s in variables:
            da = variables[s]
        elif q in accumulated:
            da = flux(ds[s], q, s, time_dim, utc, accumulation, accumulation_hours, invalid)
        else:
            da = converted(ds[s], q, s)
        obs[q] = checked_xarray(da, q, s, invalid, HINT if q in accumulated else None)
    obs = humidity_checked(obs, found, invalid)

    def interval_sun() -> tuple[Any, Any, Any]:
        if chunks is not None or not isinstance(lon, (xr.DataArray, float, int, np.number)):
            hours, doy, ndays, nprev = (along(x, time_dim) for x in clock.calendar(utc))
            szeit, day = clock.solar_time(hours, doy, ndays, nprev, lon)
            return szeit, lat, day
        # In memory: over the times and longitudes in NumPy (xarray's
        # arithmetic costs more than the sums on a block's few thousand).
        lon_dims = lon.dims if isinstance(lon, xr.DataArray) else ()
        lon_values = np.asarray(getattr(lon, "values", lon), dtype=np.float64)
        of_day, of_year, year, year_before = (x.reshape((-1,) + (1,) * lon_values.ndim)
                                              for x in clock.calendar(utc))
        szeit, day = clock.solar_time(of_day, of_year, year, year_before,
                                      lon_values[np.newaxis])
        dims = (time_dim, *lon_dims)
        return xr.DataArray(szeit, dims=dims), lat, xr.DataArray(day, dims=dims)
    obs = plausible(obs, found, accumulated, interval_sun, accumulation_hours, invalid)
    read_as_given(obs, found, reading)
    if (reading.clock_check and "global_radiation" in obs and "global_radiation" not in accumulated
            and obs["global_radiation"].chunks is None):
        time_da = xr.DataArray(utc, dims=(time_dim,))
        g, t, la, lo = xr.broadcast(obs["global_radiation"], time_da,
                                    *(v if isinstance(v, xr.DataArray) else xr.DataArray(v)
                                      for v in (lat, lon)))
        sun_check.clock_check(g.values, t.values, la.values, lo.values, found["global_radiation"],
                           None, None if reading.timezone is not None else float(utc_offset))
    accumulation_hours, interval_end = paired
    site = {"latitude": lat, "longitude": lon, "height": height}
    if reading.sky_view_factor is not None:
        site["sky_view_factor"] = reading.sky_view_factor
    if any(getattr(v, "chunks", None) is not None for v in (*obs.values(), *site.values())):
        hours, doy, ndays, nprev = (along(x, time_dim) for x in clock.calendar(utc))
        szeit, day = clock.solar_time(hours, doy, ndays, nprev, lon)
        computed = chain.run(obs, lat, height, szeit, day, assumptions, accumulation_hours,
                             interval_end, reading.sky_view_factor)
    else:
        computed = _in_memory(ds, obs, site, utc, time_dim, assumptions, accumulation_hours,
                              interval_end)
    computed = {k: v for k, v in computed.items() if assumptions.keeps(k)}
    described_sources = chain.sources(found, accumulation_hours, assumptions.projection_factor,
                                      interval_end, globe_diameter=assumptions.globe_diameter,
                                      wind_height=reading.wind_height,
                                      fill_missing=assumptions.fill_missing)

    # Variables, not DataArrays: a DataArray copies its coordinates' indexes
    # at every turn, which costs a block of the command more than its sums.
    new: dict[str, xr.Variable] = {}
    for q, s in found.items():
        # Each quantity also under its standard name, in the chain's unit.
        quantity = INPUTS[q]
        if s != q or q not in ds or ds[q].attrs.get("units", quantity.unit) != quantity.unit:
            new[q] = _described(obs[q].variable, units=quantity.unit,
                                long_name=quantity.long_name, **quantity.attrs)
    # Results in the order of the observations' dimensions.
    first = obs["air_temperature"].dims
    dims = list(first) + [d for d in ds.dims if d not in first]
    for k, v in computed.items():
        var = (v if isinstance(v, xr.DataArray) else xr.DataArray(v)).variable
        order = [d for d in dims if d in var.dims]
        if list(var.dims)[:len(order)] != order:
            var = var.transpose(*order, ...)
        if k in INTEGERS and var.dtype != np.int8:
            var = var.astype(np.int8)
        result = described(k)
        assert result is not None
        attrs = {"units": result.unit, "long_name": result.long_name, **result.attrs}
        if k in described_sources:
            attrs["source"] = described_sources[k]
        new[k] = _described(var, **attrs)
    # As variables over the Dataset's own dimensions: nothing to align.
    return ds.assign(new)


def accumulated_radiation(ds: xr.Dataset, found: Mapping[str, str]) -> list[str]:
    """The radiation quantities of ``found`` (quantity -> variable) that
    the Dataset holds accumulated, in J m-2."""
    return [q for q, s in found.items() if q in RADIATION and is_accumulated(ds[s])]


def sun_interval(ds: xr.Dataset, names: Mapping[str, str], timestamps: Timestamps,
                 accumulation: Accumulation, utc: npt.NDArray[np.datetime64]
                 ) -> tuple[float, float]:
    """The interval whose sun :func:`compute_dataset` pairs the Dataset's
    short-wave fluxes with, as it decides it: its length [h] and its end
    after the stamps [h] ((0, 0): the stamps' sun); for CF means in W m-2,
    their time bounds' (:func:`~quarnel.tmrt.accumulation.cf_mean_interval`).
    ``utc``: the times."""
    resolved = era5_quantities(ds.data_vars.variables, names)
    held = {q: resolved.get(q, q) for q in SHORTWAVE if resolved.get(q, q) in ds.data_vars}
    accumulated = bool(accumulated_radiation(ds, held))
    time_name = _time_name(ds, resolved)
    bounded = None if accumulated or time_name is None else cf_mean_interval(
        ds, held, time_name, timestamps, accumulation)
    if bounded is not None:
        timestamps, accumulation = bounded
    return paired_interval(accumulated, timestamps, accumulation, utc)


def _time_name(ds: xr.Dataset, names: Mapping[str, str]) -> str | None:
    """The time coordinate's name: given, else ``time`` or ``valid_time``."""
    return names.get("time") or next((c for c in ("time", "valid_time") if c in ds.coords), None)


def _described(var: xr.Variable, **attrs: Any) -> xr.Variable:
    """The variable's data with its attributes and these."""
    import xarray as xr
    return xr.Variable(var.dims, var.data, {**var.attrs, **attrs}, var.encoding)


def _orography(ds: xr.Dataset, names: dict[str, str], height: Any,
               time_dim: Hashable) -> Any:
    """The site's height: ERA5's orography (the surface's geopotential
    ``z`` [m2 s-2] / g, or a height [m]) where the Dataset has it and no
    height is given, else the height given."""
    source = orography(ds.data_vars, names)
    if source is None:
        return height
    if source not in ds:
        raise KeyError(f"no height: expected a variable '{source}'")
    if not (np.ndim(getattr(height, "values", height)) == 0 and float(height) == 0.0):
        raise SettingError(f"the dataset gives the height (its orography '{source}'): give no "
                           "{setting} too", "height")
    z = ds[source]
    if time_dim in z.dims:                  # invariant, often delivered with a time
        z = z.isel({time_dim: 0}, drop=True)
    unit = z.attrs.get("units", "m2 s-2")
    plain = str(unit).replace("**", "").replace("^", "").replace(" ", "").lower()
    if plain in ("m2s-2", "m2/s2"):
        metres = z.astype(np.float64) / GRAVITY
    elif plain in ("m", "metre", "metres", "meter", "meters"):
        metres = z.astype(np.float64)
    else:
        raise UnitError(f"variable '{source}': unit '{unit}' is not understood for the "
                        "orography (expected m2 s-2, a geopotential, or m)")
    try:
        check_setting("height", metres)
    except ValueError as e:
        raise ValueError(f"variable '{source}' (orography): {e}") from None
    return metres.drop_vars([c for c in metres.coords if c not in metres.dims])


def _in_memory(ds: xr.Dataset, obs: dict[str, xr.DataArray], site: dict[str, Any],
               utc: npt.NDArray[np.datetime64], time_dim: Hashable, assumptions: Assumptions,
               accumulation_hours: float, interval_end: float) -> dict[str, xr.DataArray]:
    """The chain over a Dataset's values in memory: each input as a NumPy
    array over the results' dimensions (length 1 where it does not vary),
    computed in blocks, the results as DataArrays."""
    import xarray as xr

    first = obs["air_temperature"].dims
    order = list(first) + [d for d in ds.dims if d not in first]
    used = {time_dim}.union(*(v.dims for v in (*obs.values(), *site.values())
                              if isinstance(v, xr.DataArray)))
    dims = [d for d in order if d in used]

    def aligned(value: Any) -> FloatArray:
        if not isinstance(value, xr.DataArray):
            return np.asarray(value, dtype=np.float64)
        value = value.transpose(*[d for d in dims if d in value.dims])
        shape = [value.sizes[d] if d in value.dims else 1 for d in dims]
        return np.asarray(value.values, dtype=np.float64).reshape(shape)

    times = utc.reshape([utc.size if d == time_dim else 1 for d in dims])
    computed = in_blocks({q: aligned(v) for q, v in obs.items()},
                         {k: aligned(v) for k, v in site.items()}, times, assumptions,
                         accumulation_hours, interval_end)
    # Each result over the dimensions it varies along, as the lazy path has it.
    varies = _result_dims(obs, site, time_dim, assumptions, accumulation_hours, interval_end)
    out = {}
    for k, v in computed.items():
        own = [d for d in dims if d in varies[k]]
        v = v[tuple(slice(None) if d in own else 0 for d in dims)]
        out[k] = xr.DataArray(v, dims=own)     # the Dataset's coordinates come with assign
    return out


def _result_dims(obs: dict[str, xr.DataArray], site: dict[str, Any], time_dim: Hashable,
                 assumptions: Assumptions, accumulation_hours: float, interval_end: float
                 ) -> dict[str, tuple[Hashable, ...]]:
    """The dimensions of each result of the chain: the chain run on one
    element along every dimension of its inputs (once for each way the
    inputs lie along their dimensions: the blocks of a grid all share it)."""
    def dims_of(value: Any) -> tuple[Hashable, ...] | None:
        return tuple(value.dims) if hasattr(value, "dims") else None

    key = (tuple((q, dims_of(v)) for q, v in obs.items()),
           tuple((k, dims_of(v)) for k, v in site.items()), time_dim, assumptions,
           accumulation_hours, interval_end)
    found = _RESULT_DIMS.get(key)
    if found is None:
        found = _RESULT_DIMS[key] = _probe_result_dims(obs, site, time_dim, assumptions,
                                                       accumulation_hours, interval_end)
    return found


_RESULT_DIMS: dict[Any, dict[str, tuple[Hashable, ...]]] = {}


def _probe_result_dims(obs: dict[str, xr.DataArray], site: dict[str, Any], time_dim: Hashable,
                       assumptions: Assumptions, accumulation_hours: float,
                       interval_end: float) -> dict[str, tuple[Hashable, ...]]:
    import xarray as xr

    def one(value: Any) -> Any:
        if isinstance(value, xr.DataArray):
            return value.isel({d: slice(0, 1) for d in value.dims}).drop_vars(
                list(value.coords))
        return value

    t = xr.DataArray(np.zeros(1), dims=(time_dim,))
    with np.errstate(all="ignore"):
        szeit, day = clock.solar_time(t + 12.0, t + 172.0, t + 365.0, t + 365.0,
                                      one(site["longitude"]))
        results = chain.run({q: one(v) for q, v in obs.items()}, one(site["latitude"]),
                            one(site["height"]), szeit, day, assumptions, accumulation_hours,
                            interval_end, one(site.get("sky_view_factor")))
    return {k: v.dims if isinstance(v, xr.DataArray) else () for k, v in results.items()}
