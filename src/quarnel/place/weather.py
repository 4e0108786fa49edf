"""The weather of a place: what the person at every pixel shares, per time.

The observations (a station's, or one grid cell of a reanalysis) go
through the job's chain, :func:`quarnel.tmrt.compute`, as at a station
under an open sky (``sky_view_factor=1``): the sun, the short-wave split,
the sky's and the ground's long-wave radiation. What the place adds per
time is here too, so that each hour of a map is arithmetic on rasters:
the sun that casts the shadows, the ground in shade, and the walls in
the sun (docs/reference.md, "The person at a place").
"""

from __future__ import annotations

import math
import sys
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import tmrt
from quarnel import ufunc as U
from quarnel.tmrt import clock
from quarnel.tmrt.accumulation import mean_interval
from quarnel.tmrt.chain.common import SIGMA, black_body, wind_at
from quarnel.tmrt.checks import checked_utc
from quarnel.tmrt.datasets import sun_interval
from quarnel.tmrt.interval_sun import sunlit_middle
from quarnel.tmrt.quantities import HUMIDITY, OUTPUTS
from quarnel.tmrt.settings import MODEL, SETTINGS, Assumptions

__all__ = ["WALL_ALBEDO", "DIRECTIONS", "Weather", "weather", "assumptions"]

FloatArray = npt.NDArray[np.float64]

WALL_ALBEDO = 0.2
"""Short-wave albedo of walls [1]: brick 0.2-0.4, concrete 0.1-0.35 (Oke,
Boundary Layer Climates, 2nd ed., 1987)."""
DRY = math.inf
"""Bowen ratio of a wall: it evaporates nothing (OberflTemp's 1 + 1/Bo = 1)."""
DIRECTIONS = (0.0, 90.0, 180.0, 270.0)
"""Where a person's walls stand [° from north]: north, east, south, west;
each faces back, 180° further."""
NEEDED = ("zenith_angle", "azimuth_angle", "radiation_zenith_angle", "sunlit_fraction",
          "direct_radiation", "global_radiation", "diffuse_radiation", "reflected_radiation",
          "counter_radiation", "ground_radiation_balance", "surface_temperature",
          "ground_longwave_radiation", "mean_radiant_temperature")


@dataclass(frozen=True)
class Weather:
    """Per time [T values each]: the terms every pixel shares.

    ``station``: the job's outputs (NEEDED) under an open sky.
    ``sun_azimuth``, ``sun_elevation`` [°]: the sun the shadows are cast
    for, the one the chain paired the radiation with: the stamp's for
    instantaneous fluxes; for fluxes over an interval (accumulated, or
    means as ``timestamps`` places them) the elevation of the interval's
    mean cos z over its sunlit part and the azimuth in the middle of that
    part.
    ``ground_shade`` [W m-2]: long-wave radiation of ground in shade.
    ``beam_share`` [1]: the beam's share of the short-wave on the
    horizontal. ``wall_longwave``, ``wall_shortwave`` [W m-2], shape
    (4, T): what a sunlit wall standing toward north, east, south and west
    sends the person beyond a shaded one (long-wave: its warming in the
    sun; short-wave: the beam it reflects).
    """

    time: npt.NDArray[Any]
    air_temperature: FloatArray
    wind_speed: FloatArray                  # at 10 m
    vapour_pressure: FloatArray
    station: Mapping[str, FloatArray]
    inputs: Mapping[str, FloatArray]        # relative_humidity, dew_point, cloud_cover, air_pressure
    height: float
    sun_azimuth: FloatArray
    sun_elevation: FloatArray
    ground_shade: FloatArray
    beam_share: FloatArray
    wall_longwave: FloatArray
    wall_shortwave: FloatArray

    def __len__(self) -> int:
        return len(self.air_temperature)


def assumptions(model: Mapping[str, Any]) -> Assumptions:
    """The checked model settings, the station's under an open sky."""
    checked = {name: tmrt.check_setting(name, model[name]) for name in MODEL
               if name != "sky_view_factor"}
    return Assumptions(sky_view_factor=1.0, **checked)


def weather(observations: Any, *, latitude: float, longitude: float, height: float,
            utc_offset: Any, invalid: Any, accumulation: Any, names: Mapping[str, str] | None,
            model: Mapping[str, Any], timezone: str | None = None) -> Weather:
    """The weather's terms at the site, from observations as
    :func:`quarnel.tmrt.compute` takes them (a mapping of arrays, a
    DataFrame, or a Dataset along time only), at one place. ``model``:
    the model's settings and how the observations were made
    (``timestamps``, ``fill_missing``, ``clock_check``, ``wind_height``), as
    ``compute`` takes them."""
    names = dict(names or {})
    observations = _one_place(observations, names)
    settings = {k: v for k, v in model.items() if k != "sky_view_factor"}
    result = tmrt.compute(observations, latitude=latitude, longitude=longitude, height=height,
                          utc_offset=utc_offset, timezone=timezone, invalid=invalid,
                          accumulation=accumulation, names=names, sky_view_factor=1.0,
                          variables=NEEDED, **settings)
    times, utc = _times(observations, names, utc_offset, timezone)
    # The interval the chain paired the radiation with, as the chain decides it.
    timestamps = model.get("timestamps", SETTINGS["timestamps"].default)
    if _is_dataset(observations):
        hours, end = sun_interval(observations, names, timestamps, accumulation, utc)
    else:
        hours, end = mean_interval(timestamps, accumulation, utc)

    def value(q: str) -> FloatArray:
        # Outputs and the humidity the chain completed under their own names;
        # a mapping's or DataFrame's inputs under the caller's.
        own = q if _is_dataset(result) or q in OUTPUTS or q in HUMIDITY else names.get(q, q)
        column = result[own]
        return np.asarray(getattr(column, "values", column), dtype=np.float64).reshape(-1)

    station = {k: value(k) for k in NEEDED}
    t, e = value("air_temperature"), value("vapour_pressure")
    nan = np.full(len(t), np.nan)
    inputs = {q: value(q) if (q if _is_dataset(result) or q in HUMIDITY else names.get(q, q))
              in result else nan for q in ("relative_humidity", "dew_point", "cloud_cover",
                                           "air_pressure")}
    wind = _wind_10m(value("wind_speed"), model.get("wind_height", 10.0))
    a = assumptions(model)
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        szeit, day = clock.solar_time(*clock.calendar(utc), np.float64(longitude))
        elevation = 90.0 - station["radiation_zenith_angle"]
        azimuth = station["azimuth_angle"]
        if hours > 0:
            middle = sunlit_middle(szeit + end, np.float64(latitude), day, hours)
            azimuth = np.where(station["sunlit_fraction"] > 0.0,
                               U.Azimutwinkel(middle, latitude, day), azimuth)
        shade, share = _ground_in_shade(station, t, wind, a)
        wall_lw, wall_sw = _walls_in_sun(station["direct_radiation"], t, wind, azimuth, elevation)
    return Weather(times, t, wind, e, station, inputs, float(height), azimuth, elevation, shade,
                   share, wall_lw, wall_sw)


def _is_dataset(obj: Any) -> bool:
    xr = sys.modules.get("xarray")
    return xr is not None and isinstance(obj, xr.Dataset)


def _one_place(observations: Any, names: Mapping[str, str]) -> Any:
    """A Dataset along time alone (dimensions of length 1 dropped); its
    latitude and longitude, if any, are those of a grid cell, not the
    site's: dropped too."""
    if not _is_dataset(observations):
        return observations
    ds = observations.squeeze(drop=False)
    time_name = names.get("time") or next((c for c in ("time", "valid_time") if c in ds.coords),
                                          None)
    other = [str(d) for d in ds.dims if time_name is None or d not in ds[time_name].dims]
    if other:
        raise ValueError(f"the weather must be one place, along time only; it also has "
                         f"dimension(s) {', '.join(other)}: select one grid cell "
                         "(.sel(latitude=..., longitude=..., method='nearest'))")
    drop = [c for c in ("latitude", "longitude", "lat", "lon") if c in ds.coords]
    return ds.drop_vars(drop)


def _wind_10m(wind: FloatArray, wind_height: Any) -> FloatArray:
    """The wind at 10 m [m/s] as the chain takes it, from the wind as
    measured (the result of compute holds that)."""
    out: FloatArray = np.asarray(wind_at(wind, wind_height), dtype=np.float64).reshape(-1)
    return out


def _times(observations: Any, names: Mapping[str, str], utc_offset: Any, timezone: str | None
           ) -> tuple[npt.NDArray[Any], npt.NDArray[np.datetime64]]:
    """The time stamps as given (the maps' time coordinate) and in UTC."""
    time_name = names.get("time", "time")
    pd = sys.modules.get("pandas")
    if _is_dataset(observations):
        name = names.get("time") or next(c for c in ("time", "valid_time") if c in observations.coords)
        given = np.asarray(observations[name].values)
    elif pd is not None and isinstance(observations, pd.DataFrame):
        index = observations.index if isinstance(observations.index, pd.DatetimeIndex) else \
            pd.DatetimeIndex(pd.to_datetime(observations[time_name], format="ISO8601"))
        if index.tz is not None:
            utc = index.tz_convert("UTC").tz_localize(None).to_numpy(dtype="datetime64[ns]")
            return utc, utc
        given = index.to_numpy(dtype="datetime64[ns]")
    else:
        given = np.asarray(observations[time_name])
    return given, checked_utc(given, utc_offset, timezone, None, time_name)


def _ground_in_shade(station: Mapping[str, FloatArray], t: FloatArray, wind: FloatArray,
                     a: Assumptions) -> tuple[FloatArray, FloatArray]:
    """Long-wave radiation [W m-2] of ground in shade and the beam's share
    of the short-wave on the horizontal. Shaded ground is the job's ground
    without the beam it absorbs: its radiation balance less that, its
    surface temperature moved as OberflTemp moves it (the job's ground
    model), its emission with it."""
    direct, diffuse = station["direct_radiation"], station["diffuse_radiation"]
    mu = np.maximum(np.cos(np.radians(station["radiation_zenith_angle"])), 0.0)
    horizontal = direct * mu
    total = horizontal + diffuse
    share: FloatArray = np.where(total > 0.0, horizontal / np.where(total > 0.0, total, 1.0), 0.0)
    absorbed = station["global_radiation"] - station["reflected_radiation"]
    balance = station["ground_radiation_balance"]
    bowen = a.bowen_ratio
    moved = U.OberflTemp(balance - share * absorbed, t, wind, bowen) - U.OberflTemp(balance, t, wind, bowen)
    surface = station["surface_temperature"]
    emitted = a.ground_emissivity * SIGMA * ((surface + moved + 273.15) ** 4 - (surface + 273.15) ** 4)
    shade: FloatArray = station["ground_longwave_radiation"] + emitted
    return shade, share


def _walls_in_sun(direct: FloatArray, t: FloatArray, wind: FloatArray, azimuth: FloatArray,
                  elevation: FloatArray) -> tuple[FloatArray, FloatArray]:
    """What a sunlit wall in each direction sends beyond a shaded one
    [W m-2], (4, T) each: the beam on it, I cos(elevation) cos(azimuth −
    aspect) where it faces the sun, reflected (WALL_ALBEDO), and absorbed,
    warming the wall by what OberflTemp makes of that balance on a dry
    surface: the wall as a black body at the warmer temperature."""
    up = np.where(elevation > 0.0, np.cos(np.radians(elevation)), 0.0)
    lw = np.empty((4, len(t)))
    sw = np.empty((4, len(t)))
    for k, toward in enumerate(DIRECTIONS):
        aspect = toward + 180.0
        incidence = up * np.maximum(np.cos(np.radians(azimuth - aspect)), 0.0)
        beam = np.where(incidence > 0.0, direct * incidence, 0.0)
        warmer = U.OberflTemp((1.0 - WALL_ALBEDO) * beam, t, wind, DRY)
        lw[k] = black_body(warmer) - black_body(t)
        sw[k] = WALL_ALBEDO * beam
    return lw, sw
