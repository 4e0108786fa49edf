"""The call: :func:`compute`, its settings checked against the table,
and the container it was given handed to its adapter."""

from __future__ import annotations

import sys
from collections.abc import Collection, Mapping
from typing import TYPE_CHECKING, Any, TypedDict, Unpack, overload

import numpy.typing as npt

from quarnel.tmrt.arrays import compute_arrays
from quarnel.tmrt.datasets import compute_dataset
from quarnel.tmrt.frames import compute_frame
from quarnel.tmrt.quantities import OUTPUTS
from quarnel.tmrt.settings import (MODEL, SETTINGS, Accumulation, Assumptions, Invalid, Projection,
                                   check_setting)

if TYPE_CHECKING:
    import pandas as pd
    import xarray as xr

__all__ = ["compute", "Keywords"]


class Keywords(TypedDict, total=False):
    """The keyword arguments of :func:`compute` (``SETTINGS``, and the
    ``names`` and ``variables`` chosen), for typing."""

    latitude: Any
    longitude: Any
    height: Any
    utc_offset: float
    invalid: Invalid
    accumulation: Accumulation
    projection_factor: Projection
    ground_albedo: float
    ground_emissivity: float
    bowen_ratio: float
    person_albedo: float
    sky_view_factor: float
    cloud_factor: float
    cloud_exponent: float
    names: Mapping[str, str] | None
    variables: Collection[str] | None


@overload
def compute(observations: pd.DataFrame, **keywords: Unpack[Keywords]) -> pd.DataFrame: ...
@overload
def compute(observations: xr.Dataset, **keywords: Unpack[Keywords]) -> xr.Dataset: ...
@overload
def compute(observations: Mapping[str, npt.ArrayLike], **keywords: Unpack[Keywords]
            ) -> dict[str, npt.NDArray[Any]]: ...
def compute(observations: Any, *, latitude: Any = None, longitude: Any = None,
            height: Any = 0.0, utc_offset: float = 0.0, invalid: Invalid = "raise",
            accumulation: Accumulation = "interval", projection_factor: Projection = "published",
            ground_albedo: float = 0.2, ground_emissivity: float = 0.95, bowen_ratio: float = 0.8,
            person_albedo: float = 0.3, sky_view_factor: float = 0.8,
            cloud_factor: float = 0.75, cloud_exponent: float = 3.4,
            names: Mapping[str, str] | None = None,
            variables: Collection[str] | None = None) -> Any:
    """The mean radiant temperature, UTCI and every quantity on the way.

    observations: the weather, by standard name (see ``INPUTS``; other
        names through ``names``): ``air_temperature`` [°C], ``cloud_cover``
        [octas], ``wind_speed`` [m/s at 10 m], and at least one of
        ``vapour_pressure`` [hPa], ``dew_point`` [°C] and
        ``relative_humidity`` [%]; optionally the radiation terms
        ``global_radiation``, ``direct_normal_radiation``,
        ``diffuse_radiation``, ``direct_horizontal_radiation``,
        ``longwave_downward_radiation``, ``net_shortwave_radiation`` and
        ``net_longwave_radiation`` [W/m²; in a Dataset also J/m²
        accumulated]. A Dataset's ERA5 variables (``t2m``, ``d2m``,
        ``tcc``, ``u10``/``v10``, ``ssrd``, ``fdir``, ``strd``, ``ssr``,
        ``str``, or their long names) are understood. Measured values are
        used where given and not NaN; the rest is derived or modelled (see
        ``sources`` and docs/reference.md).
        The times: a ``time`` entry of ``datetime64`` values (a mapping),
        the index or a ``time`` column (a DataFrame), the ``time`` or
        ``valid_time`` coordinate (a Dataset).
    latitude, longitude: the site [°N, °E]. A Dataset with ``latitude`` and
        ``longitude`` (or ``lat`` and ``lon``) coordinates is a grid and
        takes them from there.
    height: of the site above sea level [m]; a number, or an array (a
        DataArray for a Dataset) broadcasting with the observations.
    utc_offset: of the clock of timestamps that carry no time zone [h]
        (+1 for UTC+1). Time-zone aware timestamps are converted to UTC.
    invalid: observations outside their physical range (``INPUTS``) raise
        ObservationError ("raise"; for dask-backed data when computed) or
        become missing values ("mask"). NaN is a missing value either way.
    accumulation: how fluxes in J/m² (a Dataset's) were accumulated:
        "interval" (over the interval between time steps, ending at each
        step: the spacing of the time coordinate, as ERA5's hourly
        reanalysis and 3-hourly ensemble), a number of hours (over that
        many hours before each step), or "since-00utc" (running totals
        since 00 UTC, as ERA5-Land: differenced into hourly fluxes; the
        first step is missing unless at 01 UTC). Accumulated fluxes are
        paired with the sun of their interval.
    projection_factor: the standing person's projected area factor for the
        direct beam: "published" (Jendritzky et al. 1990, VDI 3787-2) or
        "module" (``MittlStrTemp``'s own).
    ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
    sky_view_factor, cloud_factor, cloud_exponent: the model's
        assumptions (docs/reference.md gives their sources); the cloud
        reduces the clear-sky global radiation by the factor
        1 - cloud_factor (N/8)**cloud_exponent.
    names: standard name -> the column or variable holding it.
    variables: the names of ``OUTPUTS`` to return (default: all); the
        others are computed where needed on the way but not kept, which
        saves memory on large inputs.

    ``SETTINGS`` gives each setting's default, range and unit. Returns the
    observations with the derived humidity quantities and the quantities
    of ``OUTPUTS`` added, in the input's kind of container (a Dataset's
    outputs carry ``units``, ``long_name``, ``standard_name`` where CF has
    one, and ``source``). Raises KeyError for a missing quantity,
    UnitError for a units attribute it cannot convert, ObservationError
    for an observation out of range, SettingError (a ValueError) naming
    the parameter for a setting of the wrong kind or out of range, and
    ValueError for unusable times or site.
    """
    given = dict(latitude=latitude, longitude=longitude, height=height, utc_offset=utc_offset,
                 invalid=invalid, accumulation=accumulation,
                 projection_factor=projection_factor, ground_albedo=ground_albedo,
                 ground_emissivity=ground_emissivity, bowen_ratio=bowen_ratio,
                 person_albedo=person_albedo, sky_view_factor=sky_view_factor,
                 cloud_factor=cloud_factor, cloud_exponent=cloud_exponent)
    # Each checked once, against the table; no latitude or longitude: a grid's.
    s: dict[str, Any] = {name: None if value is None and SETTINGS[name].default is None
                         else check_setting(name, value) for name, value in given.items()}
    if variables is not None:
        unknown = sorted(set(variables) - set(OUTPUTS))
        if unknown or isinstance(variables, str):
            named = ", ".join(map(repr, unknown or [str(variables)]))
            raise ValueError(f"variables: no output {named}; valid: {', '.join(OUTPUTS)}")
    assumptions = Assumptions(**{name: s[name] for name in MODEL},
                              variables=None if variables is None else frozenset(variables))
    site = (s["latitude"], s["longitude"], s["height"], s["utc_offset"])
    names = dict(names or {})
    pd_mod, xr_mod = sys.modules.get("pandas"), sys.modules.get("xarray")
    if xr_mod is not None and isinstance(observations, xr_mod.Dataset):
        return compute_dataset(observations, *site, names, s["invalid"], assumptions,
                               s["accumulation"])
    if pd_mod is not None and isinstance(observations, pd_mod.DataFrame):
        return compute_frame(observations, *site, names, s["invalid"], assumptions)
    if isinstance(observations, Mapping):
        return compute_arrays(observations, *site, names, s["invalid"], assumptions)
    raise TypeError("observations must be a mapping of arrays, a pandas DataFrame or an "
                    f"xarray Dataset, not {type(observations).__name__}")
