"""The chain on a mapping of NumPy arrays, a block of elements at a time."""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel.tmrt import chain, checks, clock, sun_check
from quarnel.tmrt.accumulation import mean_interval
from quarnel.tmrt.chain.common import wind_at
from quarnel.tmrt.checks import checked_numpy, humidity_checked
from quarnel.tmrt.names import present
from quarnel.tmrt.quantities import INTEGERS
from quarnel.tmrt.settings import Assumptions, Invalid, Reading

__all__ = ["compute_arrays", "in_blocks", "read_as_given", "required"]

FloatArray = npt.NDArray[np.float64]

# Elements computed at a time: the chain's temporaries of a block stay in
# the caches and are reused, instead of each being a fresh array of the
# whole size; the ufuncs still split a block over the cores.
BLOCK = 1 << 15


def required(value: Any, what: str) -> Any:
    """A value of the site that must be given (no grid coordinate gives it)."""
    if value is None:
        raise ValueError(f"the site's {what} is needed")
    return value


def compute_arrays(observations: Mapping[str, Any], latitude: Any, longitude: Any, height: Any,
                   utc_offset: Any, names: dict[str, str], invalid: Invalid,
                   assumptions: Assumptions,
                   labels: Callable[[tuple[int, ...]], str] | None = None,
                   reading: Reading = Reading(), aware: bool = False
                   ) -> dict[str, npt.NDArray[Any]]:
    """compute() on a mapping of arrays; ``labels`` names an element's place
    in messages (a DataFrame's index); ``aware``: the times were converted
    to UTC from their own offsets (utc_offset is not theirs); the reading's
    ``timestamps`` and ``accumulation``: the interval the fluxes are means
    over."""
    found = present(observations, names)
    time_name = names.get("time", "time")
    if time_name not in observations:
        raise KeyError(f"no times: expected an entry '{time_name}'")
    times = np.asarray(observations[time_name])
    lat = np.asarray(required(latitude, "latitude"), dtype=np.float64)
    lon = np.asarray(required(longitude, "longitude"), dtype=np.float64)
    series = None
    if times.ndim == 1:
        series = checks.series_codes(observations.get(names.get("station", "station")), lat, lon,
                                     times.size)
    utc = checks.checked_utc(times, utc_offset, reading.timezone, series, time_name, labels)
    checks.once_per_series(utc, series, times, time_name, labels)
    obs = {q: checked_numpy(np.asarray(observations[s], dtype=np.float64), q, s, invalid, labels)
           for q, s in found.items()}
    obs = humidity_checked(obs, found, invalid, labels)
    read_as_given(obs, found, reading)
    if reading.clock_check and "global_radiation" in obs:
        stated = None if aware or reading.timezone is not None or np.ndim(utc_offset) else float(
            utc_offset)
        sun_check.clock_check(obs["global_radiation"], utc, lat, lon, found["global_radiation"],
                           series, stated)
    site = {"latitude": lat, "longitude": lon, "height": np.asarray(height, dtype=np.float64)}
    if reading.sky_view_factor is not None:
        site["sky_view_factor"] = np.asarray(reading.sky_view_factor, dtype=np.float64)
    hours, end = mean_interval(reading.timestamps, reading.accumulation, utc)
    computed = in_blocks(obs, site, utc, assumptions, hours, end)
    result = dict(observations)
    result.update(computed)
    return result


def read_as_given(obs: dict[str, Any], found: Mapping[str, str], reading: Reading) -> None:
    """The observations as the chain takes them, in place: relative
    humidity refused as a fraction, the wind brought to 10 m, and cloud
    cover missing where no column gives it (it is not needed)."""
    if "relative_humidity" in obs and getattr(obs["relative_humidity"], "chunks", None) is None:
        checks.fraction_humidity(np.asarray(obs["relative_humidity"]), found["relative_humidity"])
    obs["wind_speed"] = wind_at(obs["wind_speed"], reading.wind_height)
    if "cloud_cover" not in obs:
        obs["cloud_cover"] = np.asarray(np.nan)


def in_blocks(obs: dict[str, FloatArray], site: dict[str, FloatArray],
              utc: npt.NDArray[np.datetime64], assumptions: Assumptions,
              accumulation_hours: float = 0.0, interval_end: float = 0.0
              ) -> dict[str, npt.NDArray[Any]]:
    """The chain over arrays that broadcast together, a block of rows of
    the first axis at a time (about BLOCK elements); arrays that broadcast
    along an axis are expanded a block at a time only. The fluxes are means
    over ``accumulation_hours`` ending ``interval_end`` hours after the
    stamps (0 hours: instantaneous)."""
    arrays = {**obs, **site}
    final = np.broadcast_shapes(utc.shape, *(v.shape for v in arrays.values()))
    shape = final or (1,)

    def leading(v: npt.NDArray[Any]) -> npt.NDArray[Any]:
        return v.reshape((1,) * (len(shape) - v.ndim) + v.shape) if v.ndim else v

    full = {k: leading(v) for k, v in arrays.items()}
    utc = leading(utc)
    rest = math.prod(shape[1:])
    rows = max(1, BLOCK // max(rest, 1))
    out: dict[str, npt.NDArray[Any]] = {}
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        for start in range(0, shape[0], rows):
            part = slice(start, min(start + rows, shape[0]))
            here = (part.stop - part.start,) + shape[1:]
            rows_of = {k: v[part] if v.ndim and v.shape[0] > 1 else v for k, v in full.items()}
            block: dict[str, npt.NDArray[Any]] = {
                k: np.broadcast_to(v, here).reshape(-1) if v.ndim else v
                for k, v in rows_of.items() if k != "longitude"}
            # The clock varies along the times and longitudes only (a grid's
            # first and last axes): computed there, then spread over the block.
            times = utc[part] if utc.ndim and utc.shape[0] > 1 else utc
            szeit, day = (np.broadcast_to(x, here).reshape(-1) for x in clock.solar_time(
                *clock.calendar(times), rows_of["longitude"]))
            computed = chain.run({k: block[k] for k in obs}, block["latitude"], block["height"],
                                 szeit, day, assumptions, accumulation_hours, interval_end,
                                 block.get("sky_view_factor"))
            for k, v in computed.items():
                if not assumptions.keeps(k):
                    continue
                if k not in out:
                    out[k] = np.empty(shape, dtype=np.int8 if k in INTEGERS else np.float64)
                # A result of scalar inputs alone (a constant measured flux) is one value.
                out[k][part] = np.reshape(v, here) if np.ndim(v) else v
    return {k: v.reshape(final) for k, v in out.items()}
