"""The call: :func:`compute`, its settings checked against the table,
and the container it was given handed to its adapter."""

from __future__ import annotations

import sys
from collections.abc import Collection, Mapping
from typing import TYPE_CHECKING, Any, TypedDict, Unpack, overload

import numpy as np
import numpy.typing as npt

from quarnel.tmrt.arrays import compute_arrays
from quarnel.tmrt.datasets import compute_dataset
from quarnel.tmrt.frames import compute_frame
from quarnel.tmrt.quantities import FILLED, OUTPUTS
from quarnel.tmrt.settings import (MODEL, SETTINGS, Accumulation, Assumptions, FillMissing, Invalid,
                                   Projection, Reading, SettingError, Timestamps, check_setting)

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
    utc_offset: Any
    timezone: str | None
    invalid: Invalid
    accumulation: Accumulation
    timestamps: Timestamps
    fill_missing: FillMissing
    clock_check: bool
    wind_height: Any
    globe_diameter: float
    projection_factor: Projection
    ground_albedo: float
    ground_emissivity: float
    bowen_ratio: float
    person_albedo: float
    sky_view_factor: Any
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
            height: Any = 0.0, utc_offset: Any = 0.0, timezone: str | None = None,
            invalid: Invalid = "raise", accumulation: Accumulation = "interval",
            timestamps: Timestamps = "instant", fill_missing: FillMissing = "none",
            clock_check: bool = True, wind_height: Any = 10.0, globe_diameter: float = 0.15,
            projection_factor: Projection = "published",
            ground_albedo: float = 0.2, ground_emissivity: float = 0.95, bowen_ratio: float = 0.8,
            person_albedo: float = 0.3, sky_view_factor: Any = None,
            cloud_factor: float = 0.75, cloud_exponent: float = 3.4,
            names: Mapping[str, str] | None = None,
            variables: Collection[str] | None = None) -> Any:
    """The mean radiant temperature, UTCI and every quantity on the way.

    observations: the weather, by standard name (see ``INPUTS``; other
        names through ``names``): ``air_temperature`` [°C], ``cloud_cover``
        [octas], ``wind_speed`` [m/s, at ``wind_height``], and at least one
        of ``vapour_pressure`` [hPa], ``dew_point`` [°C] and
        ``relative_humidity`` [%, not a fraction]; optionally the radiation
        terms ``global_radiation``, ``direct_normal_radiation``,
        ``diffuse_radiation``, ``direct_horizontal_radiation``,
        ``longwave_downward_radiation``, ``net_shortwave_radiation``,
        ``net_longwave_radiation`` and, of a four-component radiometer,
        ``shortwave_upward_radiation`` and ``longwave_upward_radiation``
        [W/m²; in a Dataset also J/m² accumulated], a measured
        ``surface_temperature`` [°C] and a black globe's
        ``globe_temperature`` [°C]. Cloud cover is not needed where the
        short-wave (global, or direct and diffuse) and the long-wave
        downward radiation are given. A Dataset's ERA5 variables (``t2m``,
        ``d2m``, ``tcc``, ``u10``/``v10``, ``ssrd``, ``fdir``, ``strd``,
        ``ssr``, ``str``, or their long names) are understood, and its
        orography ``z`` (geopotential [m² s⁻²]) gives the height. Measured
        values are used where given and not NaN; the rest is derived or
        modelled (see ``sources`` and docs/reference.md).
        The times: a ``time`` entry of ``datetime64`` values (a mapping),
        the index or a ``time`` column (a DataFrame), the ``time`` or
        ``valid_time`` coordinate (a Dataset); each at most once per
        station. Several stations in one mapping or DataFrame: a
        ``station`` entry or column (or the one ``names["station"]``
        names) tells their series apart, and the site settings are arrays
        with a value per row.
    latitude, longitude: the site [°N, °E]; a number, or an array with a
        value per row (several stations). A Dataset with ``latitude`` and
        ``longitude`` (or ``lat`` and ``lon``) coordinates, 1-D along its
        dimensions or 2-D (a curvilinear grid), takes them from there.
    height: of the site above sea level [m]; a number, or an array (a
        DataArray for a Dataset) broadcasting with the observations.
    utc_offset: of the clock of timestamps that carry no time zone [h]
        (+1 for UTC+1); a number, or an array with a value per row (not
        for a Dataset). Time-zone aware timestamps are converted to UTC.
    timezone: the IANA name of the time zone of timestamps that carry
        none (``"Europe/Berlin"``), daylight saving included, in place of
        ``utc_offset``. A repeated hour when the clocks go back is read in
        order (first summer, then winter time); a time the clocks skip is
        refused.
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
        paired with the sun of their interval. A number of hours is also
        the interval fluxes in W/m² are means over (``timestamps``).
    timestamps: what the time stamp of fluxes in W/m² means: "instant"
        (a moment, paired with the sun at the stamp), or a mean over an
        interval that ends ("interval-end"), starts ("interval-start") or
        is centred ("interval-middle") at the stamp, paired with the
        interval's sun; its length is the rows' most common spacing, or
        ``accumulation`` given in hours. Hourly means ending at the stamp,
        as TMY3 years and many station records: "interval-end". A
        Dataset's short-wave fluxes whose CF ``cell_methods`` say "time:
        mean" (CMIP and CORDEX ``rsds``) are means over the time bounds
        the time coordinate's ``bounds`` attribute names, whatever this
        says: their width the length, the stamp's place in them (upper,
        lower bound, middle) the meaning; a setting they contradict is
        refused, and so are such means without bounds read as instants.
    fill_missing: a quantity supplied (a column or variable) but missing
        (NaN) at an element leaves the outputs that depend on it missing
        ("none"), or the model fills them ("model": the clear sky under
        cloud, AtmosGegenstr, the ground's balance, as where nothing is
        supplied), and ``filled_from_model`` flags, element by element, the
        radiation terms it filled (bits in the order of ``FILLED_TERMS``).
    clock_check: measured global radiation (W/m², not accumulated)
        against the sun: where far more than a handful of values above
        50 W/m² come with the sun below the horizon (allowing for the
        spacing of the times), an ObservationError names the UTC offset or
        the longitude that fits the data. False turns the check off.
    wind_height: the height of the wind measurement [m]; the wind is
        brought to UTCI's 10 m by the log law with roughness length
        0.01 m (Bröde et al. 2012): v10 = v · log10(10/0.01) /
        log10(wind_height/0.01).
    globe_diameter: of the black globe thermometer [m] giving
        ``globe_temperature``; the mean radiant temperature in the sun is
        then ISO 7726's from the globe (forced convection, the wind
        brought to 1.1 m; see docs/reference.md).
    projection_factor: the standing person's projected area factor for the
        direct beam: "published" (Jendritzky et al. 1990, VDI 3787-2) or
        "module" (``MittlStrTemp``'s own).
    ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
    sky_view_factor, cloud_factor, cloud_exponent: the model's
        assumptions (docs/reference.md gives their sources); the cloud
        reduces the clear-sky global radiation by the factor
        1 - cloud_factor (N/8)**cloud_exponent. The sky view factor's
        default depends on the input: 0.8 at a station (a park with trees
        around), 1 on a grid (a Dataset with latitude and longitude
        coordinates: reanalysis is open terrain, as in ERA5-HEAT).
        ``sky_view_factor`` may be an array with a value per row (several
        stations).
    names: standard name (or ``time``, ``station``) -> the column or
        variable holding it.
    variables: the names of ``OUTPUTS`` to return (default: all); the
        others are computed where needed on the way but not kept, which
        saves memory on large inputs.

    ``SETTINGS`` gives each setting's default, range and unit. Returns the
    observations with the derived humidity quantities and the quantities
    of ``OUTPUTS`` added, in the input's kind of container (a Dataset's
    outputs carry ``units``, ``long_name``, ``standard_name`` where CF has
    one, and ``source``). Raises KeyError for a missing quantity,
    UnitError for a units attribute it cannot convert, ObservationError
    for an observation out of range or a series that cannot be right (a
    repeated time, relative humidity as a fraction, sunshine with the sun
    down), SettingError (a ValueError) naming the parameter for a setting
    of the wrong kind or out of range, and ValueError for unusable times
    or site.
    """
    given = dict(latitude=latitude, longitude=longitude, height=height, utc_offset=utc_offset,
                 timezone=timezone, invalid=invalid, accumulation=accumulation,
                 timestamps=timestamps, fill_missing=fill_missing,
                 clock_check=clock_check, wind_height=wind_height,
                 globe_diameter=globe_diameter, projection_factor=projection_factor,
                 ground_albedo=ground_albedo, ground_emissivity=ground_emissivity,
                 bowen_ratio=bowen_ratio, person_albedo=person_albedo,
                 sky_view_factor=sky_view_factor, cloud_factor=cloud_factor,
                 cloud_exponent=cloud_exponent)
    # Each checked once, against the table; no latitude or longitude: a grid's.
    s: dict[str, Any] = {name: None if value is None and SETTINGS[name].default is None
                         else check_setting(name, value) for name, value in given.items()}
    # Defaults by the kind of input: a grid's or a station's.
    grid = _is_grid(observations)
    s.update({name: SETTINGS[name].default_for(grid) for name, value in s.items()
              if value is None and SETTINGS[name].by_input is not None})
    if s["timezone"] is not None and not _is_zero(s["utc_offset"]):
        raise SettingError("timezone and utc_offset both say the clock: give one of them",
                           "timezone")
    kept = _variables(variables, s["fill_missing"] == "model")
    svf = s["sky_view_factor"]
    per_row_svf = np.ndim(getattr(svf, "values", svf)) > 0
    model = {name: s[name] for name in MODEL} | {"sky_view_factor": None if per_row_svf
                                                 else float(svf)}
    assumptions = Assumptions(**model, fill_missing=s["fill_missing"], variables=kept,
                              globe_diameter=s["globe_diameter"])
    reading = Reading(timezone=s["timezone"], clock_check=s["clock_check"],
                      wind_height=s["wind_height"], sky_view_factor=svf if per_row_svf else None,
                      timestamps=s["timestamps"], accumulation=s["accumulation"])
    site = (s["latitude"], s["longitude"], s["height"], s["utc_offset"])
    names = _names(names)
    pd_mod, xr_mod = sys.modules.get("pandas"), sys.modules.get("xarray")
    if xr_mod is not None and isinstance(observations, xr_mod.Dataset):
        return compute_dataset(observations, *site, names, s["invalid"], assumptions,
                               s["accumulation"], reading)
    if pd_mod is not None and isinstance(observations, pd_mod.DataFrame):
        return compute_frame(observations, *site, names, s["invalid"], assumptions, reading)
    if isinstance(observations, Mapping):
        return compute_arrays(observations, *site, names, s["invalid"], assumptions,
                              reading=reading)
    raise TypeError("observations must be a mapping of arrays, a pandas DataFrame or an "
                    f"xarray Dataset, not {type(observations).__name__}")


def _is_grid(observations: Any) -> bool:
    """A Dataset whose latitude and longitude are coordinates."""
    xr_mod = sys.modules.get("xarray")
    if xr_mod is None or not isinstance(observations, xr_mod.Dataset):
        return False
    coords = observations.coords
    return (any(c in coords for c in ("latitude", "lat"))
            and any(c in coords for c in ("longitude", "lon")))
def _is_zero(value: Any) -> bool:
    return np.ndim(getattr(value, "values", value)) == 0 and float(value) == 0


def _variables(variables: Any, filling: bool) -> frozenset[str] | None:
    """The outputs asked for, checked: a collection of names of OUTPUTS (and
    of FILLED where the model fills gaps). Filled values always come with
    their record: where the model fills, FILLED is kept too."""
    if variables is None:
        return None
    if isinstance(variables, (str, bytes)) or not isinstance(variables, Collection) or not all(
            isinstance(v, str) for v in variables):
        raise SettingError("variables must be a collection of output names (e.g. "
                           f"['utci']), not {variables!r}", "variables")
    valid = [*OUTPUTS, FILLED] if filling else list(OUTPUTS)
    unknown = sorted(set(variables) - set(valid))
    if unknown:
        named = ", ".join(map(repr, unknown))
        raise SettingError(f"variables: no output {named}; valid: {', '.join(valid)}"
                           + (f" ({FILLED} with fill_missing='model')" if FILLED in unknown
                              else ""), "variables")
    return frozenset(variables) | ({FILLED} if filling else frozenset())


def _names(names: Any) -> dict[str, str]:
    """The names given, checked: quantity -> the column or variable's name."""
    if names is None:
        return {}
    if not isinstance(names, Mapping) or not all(
            isinstance(k, str) and isinstance(v, str) for k, v in names.items()):
        raise SettingError("names must be a mapping of standard names to column or variable "
                           f"names (e.g. {{'air_temperature': 'T2'}}), not {names!r}", "names")
    return dict(names)
