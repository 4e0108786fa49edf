"""The mean radiant temperature of a person outdoors, from weather observations.

One call, :func:`compute`, takes the observations at a site or on a grid and
returns them with every intermediate quantity of the chain through the
eleven functions of :mod:`quarnel.Strahlwerk` and the mean radiant
temperature, in the same kind of container it was given:

* a mapping of NumPy arrays (with a ``time`` entry of ``datetime64``
  values) gives a ``dict`` of NumPy arrays;
* a pandas ``DataFrame`` with a time index (or a ``time`` column) gives a
  ``DataFrame``;
* an xarray ``Dataset`` with a time coordinate gives a ``Dataset``, lazy
  when the input is backed by dask.

Solar time is apparent solar time from the clock: the time of day in UTC,
plus longitude / 15 hours, plus the equation of time of
``Sonnenzeit`` (see docs/reference.md). What observations do not contain
is modelled as in docs/reference.md, "Mean radiant temperature from
observations", with the assumptions as keyword arguments.

pandas and xarray are imported only when such a container is given.
"""

from __future__ import annotations

import functools
import math
import sys
from collections.abc import Hashable, Mapping
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Literal, TypeAlias, overload

import numpy as np
import numpy.typing as npt

from quarnel import ufunc as U

if TYPE_CHECKING:
    import pandas as pd
    import xarray as xr

__all__ = [
    "compute", "ObservationError", "UnitError", "INPUTS", "OUTPUTS", "Quantity",
    "saturation_vapour_pressure", "dew_point", "equation_of_time",
]

FloatArray: TypeAlias = npt.NDArray[np.float64]
Invalid: TypeAlias = Literal["raise", "mask"]

SIGMA = 5.67e-08           # Stefan–Boltzmann constant [W m⁻² K⁻⁴], as in the module
SECONDS_PER_ACCUMULATION = 3600.0   # radiation given in J m-2: accumulated over the hour before


@dataclass(frozen=True)
class Quantity:
    """A quantity of the input or output: its unit (as written in CF
    ``units`` attributes), a description, and for inputs the range of
    physically sensible values (both ends included)."""

    unit: str
    long_name: str
    low: float = -math.inf
    high: float = math.inf


# Observations, in the units the chain takes. At least one of vapour
# pressure, dew point and relative humidity must be given.
INPUTS: dict[str, Quantity] = {
    "air_temperature": Quantity("degC", "air temperature", -90.0, 60.0),
    "relative_humidity": Quantity("%", "relative humidity", 0.0, 100.0),
    "vapour_pressure": Quantity("hPa", "vapour pressure", 0.0, 200.0),
    "dew_point": Quantity("degC", "dew point temperature", -100.0, 60.0),
    "cloud_cover": Quantity("octas", "total cloud cover", 0.0, 8.0),
    "wind_speed": Quantity("m s-1", "wind speed", 0.0, 75.0),
    "global_radiation": Quantity("W m-2", "global radiation on the horizontal", 0.0, 1500.0),
}
REQUIRED = ("air_temperature", "cloud_cover", "wind_speed")
HUMIDITY = ("vapour_pressure", "dew_point", "relative_humidity")

OUTPUTS: dict[str, Quantity] = {
    "solar_time": Quantity("h", "apparent solar time"),
    "zenith_angle": Quantity("degree", "solar zenith angle"),
    "azimuth_angle": Quantity("degree", "solar azimuth angle, clockwise from north"),
    "linke_turbidity": Quantity("1", "Linke turbidity factor"),
    "relative_air_mass": Quantity("1", "relative optical air mass (missing with the sun down)"),
    "clear_sky_direct_radiation": Quantity("W m-2", "clear-sky direct radiation normal to the beam"),
    "clear_sky_global_radiation": Quantity("W m-2", "clear-sky global radiation on the horizontal"),
    "direct_radiation": Quantity("W m-2", "direct radiation under cloud, normal to the beam"),
    "global_radiation": Quantity("W m-2", "global radiation on the horizontal (measured where given)"),
    "diffuse_radiation": Quantity("W m-2", "diffuse radiation on the horizontal"),
    "reflected_radiation": Quantity("W m-2", "short-wave radiation reflected by the ground"),
    "counter_radiation": Quantity("W m-2", "long-wave counter-radiation of the sky"),
    "ground_radiation_balance": Quantity("W m-2", "radiation balance of the ground"),
    "surface_temperature": Quantity("degC", "ground surface temperature"),
    "ground_longwave_radiation": Quantity("W m-2", "long-wave radiation from the ground"),
    "mean_radiant_temperature": Quantity("degC", "mean radiant temperature"),
}

# ERA5 single-level names, used when the standard name is absent.
ERA5_NAMES = {
    "air_temperature": "t2m",
    "dew_point": "d2m",
    "cloud_cover": "tcc",
    "global_radiation": "ssrd",
}
ERA5_WIND = ("u10", "v10")


class ObservationError(ValueError):
    """An observation outside its physical range (or otherwise unusable).

    ``quantity`` is the quantity's standard name, ``source`` the column or
    variable it came from, ``row`` the position along the first axis (for
    one-dimensional observations) or None, ``where`` the position in words
    and ``detail`` the message without source and position.
    """

    def __init__(self, detail: str, quantity: str, source: str, where: str = "",
                 row: int | None = None) -> None:
        super().__init__(f"{source}: {detail}" + (f" (at {where})" if where else ""))
        self.detail = detail
        self.quantity = quantity
        self.source = source
        self.where = where
        self.row = row


class UnitError(ValueError):
    """A ``units`` attribute that cannot be converted to the quantity's unit."""


# Units ---------------------------------------------------------------------

def _norm_unit(unit: str) -> str:
    u = unit.strip().lower().replace("**", "").replace("^", "").replace(" ", "")
    return u.replace("⁻¹", "-1").replace("⁻²", "-2").replace("²", "2")


_TEMPERATURE = {
    **dict.fromkeys(["degc", "°c", "c", "celsius", "degreec", "degreesc", "deg_c",
                     "degree_celsius", "degrees_celsius"], (1.0, 0.0)),
    **dict.fromkeys(["k", "kelvin", "degk", "degrees_kelvin"], (1.0, -273.15)),
}
_FRACTION = ["1", "(0-1)", "0-1", "fraction", "dimensionless"]
_PERCENT = ["%", "percent", "pct"]
# (scale, offset): value in the chain's unit = value * scale + offset
_UNITS: dict[str, dict[str, tuple[float, float]]] = {
    "air_temperature": _TEMPERATURE,
    "dew_point": _TEMPERATURE,
    "relative_humidity": {**dict.fromkeys(_PERCENT, (1.0, 0.0)),
                          **dict.fromkeys(_FRACTION, (100.0, 0.0))},
    "vapour_pressure": {**dict.fromkeys(["hpa", "mbar", "mb"], (1.0, 0.0)),
                        "pa": (0.01, 0.0), "kpa": (10.0, 0.0)},
    "cloud_cover": {**dict.fromkeys(["octas", "octa", "oktas", "okta", "eighths", "1/8"], (1.0, 0.0)),
                    **dict.fromkeys(_FRACTION, (8.0, 0.0)),
                    **dict.fromkeys(_PERCENT, (0.08, 0.0))},
    "wind_speed": {**dict.fromkeys(["ms-1", "m/s", "mps"], (1.0, 0.0)),
                   **dict.fromkeys(["kmh-1", "km/h"], (1 / 3.6, 0.0)),
                   **dict.fromkeys(["kn", "kt", "knot", "knots"], (1852 / 3600, 0.0))},
    "global_radiation": {**dict.fromkeys(["wm-2", "w/m2"], (1.0, 0.0)),
                         **dict.fromkeys(["jm-2", "j/m2"], (1 / SECONDS_PER_ACCUMULATION, 0.0))},
}
_EXPECTED = {
    "air_temperature": "K or °C", "dew_point": "K or °C", "relative_humidity": "% or a fraction",
    "vapour_pressure": "hPa, Pa or kPa", "cloud_cover": "octas, a fraction (0 - 1) or %",
    "wind_speed": "m s-1, km h-1 or knots", "global_radiation": "W m-2, or J m-2 over the hour",
}


def _conversion(quantity: str, source: str, unit: object) -> tuple[float, float]:
    if not isinstance(unit, str):
        raise UnitError(f"variable '{source}': units attribute {unit!r} is not text")
    try:
        return _UNITS[quantity][_norm_unit(unit)]
    except KeyError:
        raise UnitError(f"variable '{source}': unit '{unit}' is not understood for "
                        f"{INPUTS[quantity].long_name} (expected {_EXPECTED[quantity]})") from None


# Humidity and the equation of time -----------------------------------------

def saturation_vapour_pressure(t: Any) -> Any:
    """Saturation vapour pressure over water [hPa] at t [°C]; Magnus formula
    with the coefficients of Sonntag (1990)."""
    return 6.112 * np.exp(17.62 * t / (243.12 + t))


def dew_point(e: Any) -> Any:
    """Dew point [°C] of the vapour pressure e [hPa]: the Magnus formula inverted."""
    x = np.log(e / 6.112)
    return 243.12 * x / (17.62 - x)


def equation_of_time(dayofyear: Any) -> Any:
    """Apparent minus mean solar time [h] on a day of the year: the
    approximation inside ``Sonnenzeit`` (docs/reference.md)."""
    b = 2 * np.pi * (dayofyear - 81) / 364
    return (9.87 * np.sin(2 * b) - 7.53 * np.cos(b) - 1.5 * np.sin(b)) / 60


def _calendar(utc: npt.NDArray[np.datetime64]) -> tuple[FloatArray, FloatArray, FloatArray, FloatArray]:
    """Hour of the day, day of the year, and the lengths of the year and of
    the one before, of UTC times."""
    seconds = utc.astype("datetime64[s]")
    day = seconds.astype("datetime64[D]")
    hours = (seconds - day).astype(np.float64) / 3600.0
    year = day.astype("datetime64[Y]")
    start = year.astype("datetime64[D]")
    doy = (day - start).astype(np.float64) + 1.0
    ndays = ((year + np.timedelta64(1, "Y")).astype("datetime64[D]") - start).astype(np.float64)
    nprev = (start - (year - np.timedelta64(1, "Y")).astype("datetime64[D]")).astype(np.float64)
    return hours, doy, ndays, nprev


def _solar_time(hours: Any, doy: Any, ndays: Any, nprev: Any, longitude: Any) -> tuple[Any, Any]:
    """Apparent solar time [h, in the day] and the day of the year at the
    site: UTC time of day + longitude / 15 h + the equation of time, the day
    being the local one (a day later east of Greenwich when UTC is still
    the evening before)."""
    local = hours + longitude / 15.0
    shift = np.floor(local / 24.0)
    local = local - 24.0 * shift
    day = doy + shift
    day = day - ndays * (day > ndays) + nprev * (day < 1)
    szeit = U.Sonnenzeit(local + equation_of_time(day), 0.0, 0.0, day)
    return szeit, day


# Helpers that work alike on NumPy arrays and xarray DataArrays --------------

def _is_xarray(*values: Any) -> bool:
    xr_mod = sys.modules.get("xarray")
    return xr_mod is not None and any(isinstance(v, xr_mod.DataArray) for v in values)


def _where(cond: Any, a: Any, b: Any) -> Any:
    if _is_xarray(cond, a, b):
        import xarray as xr
        return xr.where(cond, a, b)  # type: ignore[no-untyped-call]
    return np.where(cond, a, b)


def _fill(measured: Any, estimate: Any) -> Any:
    """The measured value, the estimate where the measurement is missing (NaN)."""
    return _where(np.isnan(measured), estimate, measured)


def _black_body(t: Any) -> Any:
    return SIGMA * (t + 273.15) ** 4


# The chain -----------------------------------------------------------------

@dataclass(frozen=True)
class _Assumptions:
    ground_albedo: float
    ground_emissivity: float
    bowen_ratio: float
    person_albedo: float
    sky_view_factor: float
    cloud_factor: float
    cloud_exponent: float


def _chain(obs: dict[str, Any], latitude: Any, height: Any, szeit: Any, day: Any,
           a: _Assumptions) -> dict[str, Any]:
    """From complete observations (standard names and units) to every
    quantity of the chain. Only ufuncs, operators and _where: lazy inputs
    stay lazy."""
    t = obs["air_temperature"]
    n = obs["cloud_cover"]
    sat = saturation_vapour_pressure(t)

    # Humidity: what is measured, the rest through the Magnus formula.
    # Vapour pressure: measured, else from the dew point, else from the
    # relative humidity, element by element.
    estimates = []
    if "dew_point" in obs:
        estimates.append(saturation_vapour_pressure(obs["dew_point"]))
    if "relative_humidity" in obs:
        estimates.append(obs["relative_humidity"] / 100.0 * sat)
    e = obs["vapour_pressure"] if "vapour_pressure" in obs else estimates.pop(0)
    for estimate in estimates:
        e = _fill(e, estimate)
    rh = np.minimum(100.0 * e / sat, 100.0)
    if "relative_humidity" in obs:
        rh = _fill(obs["relative_humidity"], rh)
    td = dew_point(_where(e > 0, e, np.nan))
    if "dew_point" in obs:
        td = _fill(obs["dew_point"], td)

    # Where the sun is; clear sky, then cloud.
    zenith = U.Zenitwinkel(szeit, latitude, day)
    azimuth = U.Azimutwinkel(szeit, latitude, day)
    linke = U.LinkeTruebung(day, latitude, rh)
    airmass = U.RelOptLuftmasse(zenith)
    direct_clear = U.MaxDirekteStrahlung(day, height, zenith, linke, airmass)
    global_clear = U.MaxGlobalstrahlung(day, height, zenith, linke)
    direct = U.DirStrMBew(direct_clear, n)
    global_ = global_clear * (1 - a.cloud_factor * (n / 8) ** a.cloud_exponent)
    if "global_radiation" in obs:
        global_ = _fill(obs["global_radiation"], global_)
    sun_up = np.minimum(zenith, 90.0)
    diffuse = np.maximum(global_ - direct * np.maximum(np.cos(np.radians(sun_up)), 0.0), 0.0)
    reflected = a.ground_albedo * global_

    # Long-wave radiation and the ground.
    sky = U.AtmosGegenstr(t, e, n)
    balance = ((1 - a.ground_albedo) * global_ + a.ground_emissivity * sky
               - a.ground_emissivity * _black_body(t))
    surface = U.OberflTemp(balance, t, obs["wind_speed"], a.bowen_ratio)
    ground = a.ground_emissivity * _black_body(surface) + (1 - a.ground_emissivity) * sky

    # A standing person: half of each hemisphere; of the upper half the sky
    # is the sky view factor, the rest trees or walls at air temperature.
    svf = a.sky_view_factor
    tmrt = U.MittlStrTemp(
        sun_up,
        0.5 * (1 - svf) * _black_body(t),            # EStrOben
        0.5 * ground,                                # EStrUnten
        0.5 * svf * sky,                             # AGegenstr
        0.5 * svf * diffuse + 0.5 * reflected,       # DiffStr
        direct,                                      # MaxDirStr
        a.person_albedo,
    )
    return {
        "vapour_pressure": e, "relative_humidity": rh, "dew_point": td,
        "solar_time": szeit, "zenith_angle": zenith, "azimuth_angle": azimuth,
        "linke_turbidity": linke, "relative_air_mass": _where(airmass == 999.0, np.nan, airmass),
        "clear_sky_direct_radiation": direct_clear, "clear_sky_global_radiation": global_clear,
        "direct_radiation": direct, "global_radiation": global_, "diffuse_radiation": diffuse,
        "reflected_radiation": reflected, "counter_radiation": sky,
        "ground_radiation_balance": balance, "surface_temperature": surface,
        "ground_longwave_radiation": ground, "mean_radiant_temperature": tmrt,
    }


# Range checks --------------------------------------------------------------

def _range_message(quantity: str, value: float) -> str:
    q = INPUTS[quantity]
    unit = {"degC": "°C", "m s-1": "m/s", "W m-2": "W/m²"}.get(q.unit, q.unit)
    return f"{value:g} {unit} is outside the range of {q.long_name}, {q.low:g} to {q.high:g} {unit}"


def _bad(values: npt.NDArray[Any], q: Quantity) -> npt.NDArray[np.bool_]:
    with np.errstate(invalid="ignore"):
        bad: npt.NDArray[np.bool_] = ~((values >= q.low) & (values <= q.high)) & ~np.isnan(values)
    return bad


def _check_block(block: FloatArray, quantity: str, source: str, dims: tuple[str, ...],
                 block_info: dict[Any, Any] | None = None) -> FloatArray:
    """Raises ObservationError for the first value of a block outside the
    range; used inside dask graphs, where the error comes when computing."""
    bad = _bad(block, INPUTS[quantity])
    if bad.any():
        index = np.unravel_index(int(np.argmax(bad)), bad.shape)
        offsets = [0] * bad.ndim
        if block_info is not None and 0 in block_info:
            offsets = [lo for lo, _ in block_info[0]["array-location"]]
        where = ", ".join(f"{d} {int(i) + o}" for d, i, o in zip(dims, index, offsets))
        raise ObservationError(_range_message(quantity, float(block[index])), quantity, source, where)
    return block


def _checked_numpy(values: FloatArray, quantity: str, source: str, invalid: Invalid,
                   label: Any = None) -> FloatArray:
    bad = _bad(values, INPUTS[quantity])
    if not bad.any():
        return values
    if invalid == "mask":
        return np.where(bad, np.nan, values)
    index = np.unravel_index(int(np.argmax(bad)), bad.shape)
    row = int(index[0]) if values.ndim == 1 else None
    place = label(index) if label is not None else (
        f"index {', '.join(str(int(i)) for i in index)}" if values.ndim else "")
    raise ObservationError(_range_message(quantity, float(values[index])), quantity, source, place,
                           row)


# Entry point ---------------------------------------------------------------

@overload
def compute(observations: pd.DataFrame, *, latitude: float | None = ...,
            longitude: float | None = ..., height: Any = ..., utc_offset: float = ...,
            names: Mapping[str, str] | None = ..., invalid: Invalid = ...,
            ground_albedo: float = ..., ground_emissivity: float = ..., bowen_ratio: float = ...,
            person_albedo: float = ..., sky_view_factor: float = ..., cloud_factor: float = ...,
            cloud_exponent: float = ...) -> pd.DataFrame: ...
@overload
def compute(observations: xr.Dataset, *, latitude: float | None = ...,
            longitude: float | None = ..., height: Any = ..., utc_offset: float = ...,
            names: Mapping[str, str] | None = ..., invalid: Invalid = ...,
            ground_albedo: float = ..., ground_emissivity: float = ..., bowen_ratio: float = ...,
            person_albedo: float = ..., sky_view_factor: float = ..., cloud_factor: float = ...,
            cloud_exponent: float = ...) -> xr.Dataset: ...
@overload
def compute(observations: Mapping[str, npt.ArrayLike], *, latitude: npt.ArrayLike | None = ...,
            longitude: npt.ArrayLike | None = ..., height: npt.ArrayLike = ...,
            utc_offset: float = ..., names: Mapping[str, str] | None = ...,
            invalid: Invalid = ..., ground_albedo: float = ..., ground_emissivity: float = ...,
            bowen_ratio: float = ..., person_albedo: float = ..., sky_view_factor: float = ...,
            cloud_factor: float = ..., cloud_exponent: float = ...) -> dict[str, FloatArray]: ...
def compute(observations: Any, *, latitude: Any = None, longitude: Any = None,
            height: Any = 0.0, utc_offset: float = 0.0, names: Mapping[str, str] | None = None,
            invalid: Invalid = "raise",
            ground_albedo: float = 0.2, ground_emissivity: float = 0.95, bowen_ratio: float = 0.8,
            person_albedo: float = 0.3, sky_view_factor: float = 0.8,
            cloud_factor: float = 0.75, cloud_exponent: float = 3.4) -> Any:
    """The mean radiant temperature and every quantity on the way to it.

    observations: the weather, by standard name (see ``INPUTS``; other
        names through ``names``): ``air_temperature`` [°C], ``cloud_cover``
        [octas], ``wind_speed`` [m/s], and at least one of
        ``vapour_pressure`` [hPa], ``dew_point`` [°C] and
        ``relative_humidity`` [%]; ``global_radiation`` [W/m²] is
        optional. Measured values are used where given and not NaN; the
        rest is derived (humidity through the Magnus formula) or modelled.
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
    names: standard name -> the column or variable holding it.
    invalid: observations outside their physical range (``INPUTS``) raise
        ObservationError ("raise"; for dask-backed data when computed) or
        become missing values ("mask"). NaN is a missing value either way.
    ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
    sky_view_factor, cloud_factor, cloud_exponent: the model's
        assumptions (docs/reference.md gives their sources); the cloud
        reduces the clear-sky global radiation by the factor
        1 - cloud_factor (N/8)**cloud_exponent.

    Returns the observations with the derived humidity quantities and the
    quantities of ``OUTPUTS`` added, in the input's kind of container.
    Raises KeyError for a missing quantity, UnitError for a units
    attribute it cannot convert, ObservationError for an observation out
    of range, ValueError for unusable times or site.
    """
    if invalid not in ("raise", "mask"):
        raise ValueError(f"invalid must be 'raise' or 'mask', not {invalid!r}")
    assumptions = _Assumptions(ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
                               sky_view_factor, cloud_factor, cloud_exponent)
    names = dict(names or {})
    pd_mod, xr_mod = sys.modules.get("pandas"), sys.modules.get("xarray")
    if xr_mod is not None and isinstance(observations, xr_mod.Dataset):
        return _compute_xarray(observations, latitude, longitude, height, utc_offset, names,
                               invalid, assumptions)
    if pd_mod is not None and isinstance(observations, pd_mod.DataFrame):
        return _compute_pandas(observations, latitude, longitude, height, utc_offset, names,
                               invalid, assumptions)
    if isinstance(observations, Mapping):
        return _compute_numpy(observations, latitude, longitude, height, utc_offset, names,
                              invalid, assumptions)
    raise TypeError("observations must be a mapping of arrays, a pandas DataFrame or an "
                    f"xarray Dataset, not {type(observations).__name__}")


def _present(available: Any, names: Mapping[str, str]) -> dict[str, str]:
    """Standard name -> source name, for the quantities present."""
    found = {}
    for quantity in INPUTS:
        source = names.get(quantity, quantity)
        if source in available:
            found[quantity] = source
    missing = [q for q in REQUIRED if q not in found]
    if missing:
        q = missing[0]
        raise KeyError(f"no {INPUTS[q].long_name}: expected a column or variable "
                       f"'{names.get(q, q)}'")
    if not any(q in found for q in HUMIDITY):
        raise KeyError("no humidity: expected one of " + ", ".join(
            f"'{names.get(q, q)}'" for q in HUMIDITY))
    return found


def _site(value: Any, what: str) -> Any:
    if value is None:
        raise ValueError(f"the site's {what} is needed")
    return value


def _utc(times: Any, utc_offset: float) -> npt.NDArray[np.datetime64]:
    times = np.asarray(times)
    if not np.issubdtype(times.dtype, np.datetime64):
        raise ValueError(f"times must be datetime64 values, not {times.dtype}")
    offset = np.timedelta64(round(utc_offset * 3600e9), "ns")
    utc: npt.NDArray[np.datetime64] = times.astype("datetime64[ns]") - offset
    return utc


def _compute_numpy(observations: Mapping[str, Any], latitude: Any, longitude: Any, height: Any,
                   utc_offset: float, names: dict[str, str], invalid: Invalid,
                   a: _Assumptions, labels: Any = None) -> dict[str, FloatArray]:
    found = _present(observations, names)
    time_name = names.get("time", "time")
    if time_name not in observations:
        raise KeyError(f"no times: expected an entry '{time_name}'")
    utc = _utc(observations[time_name], utc_offset)
    obs = {q: _checked_numpy(np.asarray(observations[s], dtype=np.float64), q, s, invalid, labels)
           for q, s in found.items()}
    lat = np.asarray(_site(latitude, "latitude"), dtype=np.float64)
    lon = np.asarray(_site(longitude, "longitude"), dtype=np.float64)
    szeit, day = _solar_time(*_calendar(utc), lon)
    with np.errstate(invalid="ignore", divide="ignore"):
        computed = _chain(obs, lat, np.asarray(height, dtype=np.float64), szeit, day, a)
    result = dict(observations)
    result.update((k, np.asarray(v, dtype=np.float64)) for k, v in computed.items())
    return result


def _compute_pandas(df: pd.DataFrame, latitude: Any, longitude: Any, height: Any,
                    utc_offset: float, names: dict[str, str], invalid: Invalid,
                    a: _Assumptions) -> pd.DataFrame:
    import pandas as pd

    time_name = names.get("time", "time")
    if isinstance(df.index, pd.DatetimeIndex):
        index = df.index
    elif time_name in df.columns:
        index = pd.DatetimeIndex(pd.to_datetime(df[time_name], format="ISO8601"))
    else:
        raise KeyError(f"no times: expected a time index or a column '{time_name}'")
    if index.tz is not None:
        index, utc_offset = index.tz_convert("UTC").tz_localize(None), 0.0
    wanted = set(names.values()) | set(INPUTS)
    columns: dict[str, Any] = {str(c): df[c].to_numpy(dtype=np.float64, na_value=np.nan)
                               for c in df.columns if c in wanted and c != time_name}
    columns[time_name] = index.to_numpy(dtype="datetime64[ns]")
    result = _compute_numpy(columns, latitude, longitude, height, utc_offset, names, invalid, a,
                            labels=lambda i: f"{df.index[i[0]]}")
    out = df.copy()
    for k, v in result.items():
        if k != time_name and (k not in columns or k in OUTPUTS or k in HUMIDITY):
            out[k] = v
    return out


def _compute_xarray(ds: xr.Dataset, latitude: Any, longitude: Any, height: Any,
                    utc_offset: float, names: dict[str, str], invalid: Invalid,
                    a: _Assumptions) -> xr.Dataset:
    import xarray as xr

    names = dict(names)
    for q, era5 in ERA5_NAMES.items():
        if q not in names and q not in ds and era5 in ds:
            names[q] = era5
    variables: dict[str, Any] = {}
    if "wind_speed" not in names and "wind_speed" not in ds and all(c in ds for c in ERA5_WIND):
        u, v = (_converted(ds[c], "wind_speed", c) for c in ERA5_WIND)
        variables["wind_speed"] = np.hypot(u, v)
    found = _present(set(ds.data_vars) | set(variables), names)

    time_name = names.get("time") or next((c for c in ("time", "valid_time") if c in ds.coords), None)
    if time_name is None or time_name not in ds.coords:
        raise KeyError("no times: expected a coordinate 'time' or 'valid_time'")
    chunks = ds.chunksizes if ds.chunks else None

    def along(values: Any, dim: Hashable) -> xr.DataArray:
        da = xr.DataArray(values, dims=(dim,), coords={dim: ds[dim]})
        if chunks is not None and dim in chunks:
            da = da.chunk({dim: chunks[dim]})
        return da

    utc = _utc(ds[time_name].values, utc_offset)
    if ds[time_name].ndim != 1:
        raise ValueError(f"the time coordinate '{time_name}' must be one-dimensional")
    hours, doy, ndays, nprev = (along(x, ds[time_name].dims[0]) for x in _calendar(utc))

    def coordinate(param: Any, candidates: tuple[str, ...], what: str) -> Any:
        name = next((c for c in candidates if c in ds.coords), None)
        if name is None:
            return _site(param, what)
        if param is not None:
            raise ValueError(f"the dataset has {what}s ('{name}'): no {what} may be given")
        coord = ds[name]
        return along(coord.values, coord.dims[0]) if coord.ndim == 1 else coord

    lat = coordinate(latitude, ("latitude", "lat"), "latitude")
    lon = coordinate(longitude, ("longitude", "lon"), "longitude")
    obs: dict[str, Any] = {}
    for q, s in found.items():
        da = variables[q] if s in variables else _converted(ds[s], q, s)
        obs[q] = _checked_xarray(da, q, s, invalid)
    szeit, day = _solar_time(hours, doy, ndays, nprev, lon)
    computed = _chain(obs, lat, height, szeit, day, a)

    new: dict[str, xr.DataArray] = {}
    for q, s in found.items():
        # Each quantity also under its standard name, in the chain's unit.
        if s != q or q not in ds or ds[q].attrs.get("units", INPUTS[q].unit) != INPUTS[q].unit:
            new[q] = obs[q].assign_attrs(units=INPUTS[q].unit, long_name=INPUTS[q].long_name)
    # Results in the order of the observations' dimensions.
    first = obs["air_temperature"].dims
    dims = list(first) + [d for d in ds.dims if d not in first]
    for k, v in computed.items():
        da = v if isinstance(v, xr.DataArray) else xr.DataArray(v)
        da = da.transpose(*[d for d in dims if d in da.dims], ...)
        described = OUTPUTS.get(k) or INPUTS[k]
        new[k] = da.assign_attrs(units=described.unit, long_name=described.long_name)
    return ds.assign(new)


def _converted(da: xr.DataArray, quantity: str, source: str) -> xr.DataArray:
    unit = da.attrs.get("units")
    scaled = da.astype(np.float64)
    if unit is not None:
        scale, offset = _conversion(quantity, source, unit)
        if (scale, offset) != (1.0, 0.0):
            scaled = scaled * scale + offset
        if quantity == "global_radiation" and scale != 1.0:
            scaled = scaled.clip(min=0.0)         # accumulations packed a little below 0
    return scaled.assign_attrs(units=INPUTS[quantity].unit)


def _checked_xarray(da: xr.DataArray, quantity: str, source: str, invalid: Invalid) -> xr.DataArray:
    q = INPUTS[quantity]
    if invalid == "mask":
        return da.where(~((da < q.low) | (da > q.high)))
    dims = tuple(str(d) for d in da.dims)
    if da.chunks is not None:
        check = functools.partial(_check_block, quantity=quantity, source=source, dims=dims)
        return da.copy(data=da.data.map_blocks(check, dtype=da.dtype))

    def label(index: tuple[Any, ...]) -> str:
        return ", ".join(f"{d} {_coordinate_text(da[d].values[i]) if d in da.coords else i}"
                         for d, i in zip(dims, index))
    _checked_numpy(da.values, quantity, source, invalid, label)
    return da


def _coordinate_text(value: Any) -> str:
    if isinstance(value, np.datetime64):
        return str(value.astype("datetime64[s]"))
    return f"{value:g}" if isinstance(value, (float, np.floating)) else str(value)
