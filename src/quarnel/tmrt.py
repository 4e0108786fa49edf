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
from collections.abc import Callable, Collection, Hashable, Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Literal, TypeAlias, overload

import numpy as np
import numpy.typing as npt

from quarnel import comfort, era5_names
from quarnel import ufunc as U
from quarnel._elementwise import outputs as _outputs
from quarnel._elementwise import where as _where
from quarnel.decomposition import extraterrestrial_normal, split_global, station_pressure
from quarnel.interval_sun import interval_cos_zenith

if TYPE_CHECKING:
    import pandas as pd
    import xarray as xr

__all__ = [
    "compute", "ObservationError", "UnitError", "INPUTS", "OUTPUTS", "HEADLINE", "Quantity",
    "SETTINGS", "check_setting", "accumulation_hours", "is_accumulated", "sources",
    "projection_factor",
    "saturation_vapour_pressure", "dew_point", "equation_of_time",
]

FloatArray: TypeAlias = npt.NDArray[np.float64]
Invalid: TypeAlias = Literal["raise", "mask"]

SIGMA = 5.67e-08           # Stefan–Boltzmann constant [W m⁻² K⁻⁴], as in the module
PERSON_EMISSIVITY = 0.97   # long-wave emissivity of a person (VDI 3787-2), as in the module
WIND_UTCI_LOW = 0.5        # UTCI's lowest 10 m wind speed [m/s]: calmer air is taken as this


@dataclass(frozen=True)
class Quantity:
    """A quantity of the input or output: its unit (as written in CF
    ``units`` attributes), a description, for inputs the range of
    physically sensible values (both ends included), and further CF
    attributes (``standard_name``, flags)."""

    unit: str
    long_name: str
    low: float = -math.inf
    high: float = math.inf
    attrs: Mapping[str, Any] = field(default_factory=dict)


def _std(name: str) -> dict[str, str]:
    return {"standard_name": name}


# Observations, in the units the chain takes. At least one of vapour
# pressure, dew point and relative humidity must be given; the radiation
# terms are optional and used exactly where given.
INPUTS: dict[str, Quantity] = {
    "air_temperature": Quantity("degC", "air temperature", -90.0, 60.0, _std("air_temperature")),
    "relative_humidity": Quantity("%", "relative humidity", 0.0, 100.0,
                                  _std("relative_humidity")),
    "vapour_pressure": Quantity("hPa", "vapour pressure", 0.0, 200.0,
                                _std("water_vapor_partial_pressure_in_air")),
    "dew_point": Quantity("degC", "dew point temperature", -100.0, 60.0,
                          _std("dew_point_temperature")),
    "cloud_cover": Quantity("octas", "total cloud cover", 0.0, 8.0),
    "wind_speed": Quantity("m s-1", "wind speed at 10 m", 0.0, 75.0, _std("wind_speed")),
    "global_radiation": Quantity("W m-2", "global radiation on the horizontal", 0.0, 1500.0,
                                 _std("surface_downwelling_shortwave_flux_in_air")),
    "direct_normal_radiation": Quantity("W m-2", "direct radiation normal to the beam", 0.0, 1500.0),
    "diffuse_radiation": Quantity("W m-2", "diffuse radiation on the horizontal", 0.0, 1500.0,
                                  _std("surface_diffuse_downwelling_shortwave_flux_in_air")),
    "direct_horizontal_radiation": Quantity(
        "W m-2", "direct radiation on the horizontal", 0.0, 1500.0,
        _std("surface_direct_downwelling_shortwave_flux_in_air")),
    "longwave_downward_radiation": Quantity(
        "W m-2", "long-wave radiation downwards at the surface", 0.0, 800.0,
        _std("surface_downwelling_longwave_flux_in_air")),
    "net_shortwave_radiation": Quantity("W m-2", "net short-wave radiation at the surface",
                                        0.0, 1500.0, _std("surface_net_downward_shortwave_flux")),
    "net_longwave_radiation": Quantity("W m-2", "net long-wave radiation at the surface",
                                       -700.0, 300.0, _std("surface_net_downward_longwave_flux")),
}
REQUIRED = ("air_temperature", "cloud_cover", "wind_speed")
HUMIDITY = ("vapour_pressure", "dew_point", "relative_humidity")
RADIATION = ("global_radiation", "direct_normal_radiation", "diffuse_radiation",
             "direct_horizontal_radiation", "longwave_downward_radiation",
             "net_shortwave_radiation", "net_longwave_radiation")
SHORTWAVE = ("global_radiation", "direct_normal_radiation", "diffuse_radiation",
             "direct_horizontal_radiation", "net_shortwave_radiation")

_CATEGORY = {"flag_values": comfort.UTCI_FLAG_VALUES, "flag_meanings": comfort.UTCI_FLAG_MEANINGS,
             "_FillValue": np.int8(comfort.UTCI_CATEGORY_FILL)}
OUTPUTS: dict[str, Quantity] = {
    "solar_time": Quantity("h", "apparent solar time"),
    "zenith_angle": Quantity("degree", "solar zenith angle", attrs=_std("solar_zenith_angle")),
    "azimuth_angle": Quantity("degree", "solar azimuth angle, clockwise from north",
                              attrs=_std("solar_azimuth_angle")),
    "radiation_zenith_angle": Quantity(
        "degree", "solar zenith angle paired with the radiation: the time stamp's, or for "
        "accumulated fluxes that of the interval's mean cos z over its sunlit part; 90 with "
        "no sun"),
    "sunlit_fraction": Quantity("1", "sunlit share of the radiation's interval"),
    "linke_turbidity": Quantity("1", "Linke turbidity factor"),
    "relative_air_mass": Quantity("1", "relative optical air mass (missing with the sun down)"),
    "clear_sky_direct_radiation": Quantity("W m-2", "clear-sky direct radiation normal to the beam"),
    "clear_sky_global_radiation": Quantity("W m-2", "clear-sky global radiation on the horizontal"),
    "direct_radiation": Quantity("W m-2", "direct radiation normal to the beam"),
    "global_radiation": Quantity("W m-2", "global radiation on the horizontal",
                                 attrs=_std("surface_downwelling_shortwave_flux_in_air")),
    "diffuse_radiation": Quantity("W m-2", "diffuse radiation on the horizontal",
                                  attrs=_std("surface_diffuse_downwelling_shortwave_flux_in_air")),
    "reflected_radiation": Quantity("W m-2", "short-wave radiation reflected by the ground",
                                    attrs=_std("surface_upwelling_shortwave_flux_in_air")),
    "counter_radiation": Quantity("W m-2", "long-wave counter-radiation of the sky",
                                  attrs=_std("surface_downwelling_longwave_flux_in_air")),
    "ground_radiation_balance": Quantity("W m-2", "radiation balance of the ground"),
    "surface_temperature": Quantity("degC", "ground surface temperature",
                                    attrs=_std("surface_temperature")),
    "ground_longwave_radiation": Quantity("W m-2", "long-wave radiation from the ground",
                                          attrs=_std("surface_upwelling_longwave_flux_in_air")),
    "mean_radiant_temperature": Quantity("degC", "mean radiant temperature of a standing person "
                                         "in the sun"),
    "mean_radiant_temperature_shade": Quantity("degC", "mean radiant temperature of a standing "
                                               "person in shade"),
    "utci": Quantity("degC", "universal thermal climate index in the sun"),
    "utci_shade": Quantity("degC", "universal thermal climate index in shade"),
    "utci_category": Quantity("1", "UTCI thermal stress category in the sun", attrs=_CATEGORY),
    "utci_category_shade": Quantity("1", "UTCI thermal stress category in shade",
                                    attrs=_CATEGORY),
}
#: What a grid's output holds unless asked for more.
HEADLINE = ("mean_radiant_temperature", "mean_radiant_temperature_shade", "utci", "utci_shade",
            "utci_category", "utci_category_shade")
#: Integer outputs (the rest are float64).
CATEGORIES = ("utci_category", "utci_category_shade")

# ERA5 names, short (CDS NetCDF and GRIB) and long (the analysis-ready Zarr
# copies), used when the standard name is absent: standard name -> names.
ERA5_NAMES: dict[str, tuple[str, ...]] = {}
for _name, _quantity in era5_names.ERA5_NAMES.items():
    if _quantity in INPUTS:
        ERA5_NAMES.setdefault(_quantity, ())
        ERA5_NAMES[_quantity] += (_name,)
ERA5_WIND = (("u10", "v10"), tuple(long for long, short in era5_names.SHORT_NAMES.items()
                                   if short in ("u10", "v10")))

Accumulation: TypeAlias = "Literal['interval', 'since-00utc'] | float"
Projection: TypeAlias = Literal["published", "module"]

# The settings of a computation and their physical ranges (both ends
# included): (low, high, unit).
SETTINGS: dict[str, tuple[float, float, str]] = {
    "latitude": (-90.0, 90.0, "°N"),
    "longitude": (-180.0, 360.0, "°E"),
    "height": (-500.0, 9000.0, "m"),
    "utc_offset": (-14.0, 14.0, "h"),
    "ground_albedo": (0.0, 1.0, ""),
    "ground_emissivity": (0.5, 1.0, ""),
    "bowen_ratio": (-0.9, 100.0, ""),
    "person_albedo": (0.0, 1.0, ""),
    "sky_view_factor": (0.0, 1.0, ""),
    "cloud_factor": (0.0, 1.0, ""),
    "cloud_exponent": (0.1, 10.0, ""),
    "accumulation": (1 / 60, 24.0, "h"),
}


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
    **dict.fromkeys(RADIATION, {**dict.fromkeys(["wm-2", "w/m2"], (1.0, 0.0)),
                                # accumulated: divided by the period in _converted
                                **dict.fromkeys(["jm-2", "j/m2"], (1.0, 0.0))}),
}
_ACCUMULATED = ("jm-2", "j/m2")
_EXPECTED = {
    "air_temperature": "K or °C", "dew_point": "K or °C", "relative_humidity": "% or a fraction",
    "vapour_pressure": "hPa, Pa or kPa", "cloud_cover": "octas, a fraction (0 - 1) or %",
    "wind_speed": "m s-1, km h-1 or knots",
    **dict.fromkeys(RADIATION, "W m-2, or J m-2 accumulated"),
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
    doy, ndays, nprev = _by_date(day, _date_terms)
    return hours, doy, ndays, nprev


def _date_terms(day: npt.NDArray[np.datetime64]) -> tuple[FloatArray, ...]:
    year = day.astype("datetime64[Y]")
    start = year.astype("datetime64[D]")
    doy = (day - start).astype(np.float64) + 1.0
    ndays = ((year + np.timedelta64(1, "Y")).astype("datetime64[D]") - start).astype(np.float64)
    nprev = (start - (year - np.timedelta64(1, "Y")).astype("datetime64[D]")).astype(np.float64)
    return doy, ndays, nprev


def _by_date(day: npt.NDArray[np.datetime64],
             terms: Callable[[npt.NDArray[np.datetime64]], tuple[FloatArray, ...]]
             ) -> tuple[FloatArray, ...]:
    """terms(day), computed once per date and looked up where the values
    span far fewer dates than they are (hours of a series): the calendar's
    conversions cost more than a look-up."""
    if day.size >= 1024 and not np.isnat(day).any():
        number = day.view(np.int64)
        first, last = int(number.min()), int(number.max())
        if last - first < day.size // 8:
            dates = np.arange(first, last + 1).astype("datetime64[D]")
            index = number - first
            return tuple(t[index] for t in terms(dates))
    return terms(day)


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
    szeit = U.Sonnenzeit(local + _equation_of_time_of_days(day), 0.0, 0.0, day)
    return szeit, day


def _equation_of_time_of_days(day: Any) -> Any:
    """equation_of_time(day), looked up for whole days 0 to 367 (those of
    the chain's NumPy path), the same values."""
    if isinstance(day, np.ndarray) and day.size >= 1024:
        whole = day.astype(np.intp)
        if ((whole == day) & (whole >= 0) & (whole <= 367)).all():
            return _EOT_OF_DAYS[whole]
    return equation_of_time(day)


_EOT_OF_DAYS = equation_of_time(np.arange(368, dtype=np.float64))


# Helpers that work alike on NumPy arrays and xarray DataArrays --------------

def _fill(measured: Any, estimate: Any) -> Any:
    """The measured value, the estimate where the measurement is missing (NaN)."""
    return _where(np.isnan(measured), estimate, measured)


def _first(*candidates: Any) -> Any:
    """Element by element, the first candidate that is not NaN (None: absent)."""
    present = [c for c in candidates if c is not None]
    out = present[-1]
    for c in reversed(present[:-1]):
        out = _fill(c, out)
    return out


def _black_body(t: Any) -> Any:
    return SIGMA * (t + 273.15) ** 4


def projection_factor(elevation: Any) -> Any:
    """Projected area factor f_p [1] of a standing person for the direct
    beam from the sun's elevation γ [°]: 0.308 cos(γ (0.998 − γ²/50000))
    (Jendritzky et al. 1990, as in VDI 3787-2, RayMan and ERA5-HEAT):
    0.308 at the horizon, 0.174 at 60°, 0.079 with the sun overhead."""
    return 0.308 * np.cos(np.radians(elevation * (0.998 - elevation * elevation / 50000.0)))


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
    projection: Projection = "published"
    outputs: frozenset[str] | None = None       # of OUTPUTS kept; None: all

    def keeps(self, name: str) -> bool:
        return self.outputs is None or name not in OUTPUTS or name in self.outputs


def _chain(obs: dict[str, Any], latitude: Any, height: Any, szeit: Any, day: Any,
           a: _Assumptions, hours: float = 0.0) -> dict[str, Any]:
    """From complete observations (standard names and units) to every
    quantity of the chain. Only ufuncs, operators and _where: lazy inputs
    stay lazy. `hours`: the length of the interval ending at each time
    stamp over which the radiation inputs are means (0: instantaneous)."""
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

    # Where the sun is at the time stamp; the clear sky, then cloud.
    zenith = U.Zenitwinkel(szeit, latitude, day)
    azimuth = U.Azimutwinkel(szeit, latitude, day)
    linke = U.LinkeTruebung(day, latitude, rh)
    airmass = U.RelOptLuftmasse(zenith)
    direct_clear = U.MaxDirekteStrahlung(day, height, zenith, linke, airmass)
    global_clear = U.MaxGlobalstrahlung(day, height, zenith, linke)

    # The sun paired with the radiation: mu, the mean cos z over the sunlit
    # part of the interval (Hogan and Hirahara 2016), and that part's share.
    if hours > 0:
        mu, sunlit = interval_cos_zenith(szeit, latitude, day, hours)
        sun_zenith = _where(mu > 0, np.degrees(np.arccos(mu)), 90.0)
    else:
        up = zenith < 90.0
        mu = _where(up, np.cos(np.radians(zenith)), 0.0)
        sunlit = _where(up, 1.0, 0.0)
        sun_zenith = np.minimum(zenith, 90.0)
    sun_zenith = _where(np.isnan(zenith), np.nan, sun_zenith)

    # Short-wave: measured terms as given; direct and diffuse split off a
    # measured global radiation (DISC); the clear sky under cloud where
    # nothing is measured.
    g = obs.get("global_radiation")
    dni = obs.get("direct_normal_radiation")
    dhi = obs.get("diffuse_radiation")
    fdir = obs.get("direct_horizontal_radiation")
    modelled_global = global_clear * (1 - a.cloud_factor * (n / 8) ** a.cloud_exponent)
    global_ = _first(g, None if dni is None or dhi is None else dhi + dni * mu, modelled_global)
    sun = mu > 0
    safe_mu = _where(sun, mu, 1.0)
    # A beam from the horizontal one, at most the interval's share of the
    # extraterrestrial beam (where reanalysis and this sun disagree at dawn).
    beam_cap: Any = None if fdir is None and dhi is None else sunlit * extraterrestrial_normal(day)
    from_horizontal = None if fdir is None else _where(
        sun, np.minimum(fdir / safe_mu, beam_cap), 0.0)
    from_diffuse = None if g is None or dhi is None else _where(
        sun, np.minimum(np.maximum(g - dhi, 0.0) / safe_mu, beam_cap), 0.0)
    split = None if g is None else split_global(g, mu, sunlit, day, station_pressure(height))[0]
    direct = _first(dni, from_horizontal, from_diffuse, split, U.DirStrMBew(direct_clear, n))
    diffuse = _first(dhi, np.maximum(global_ - direct * mu, 0.0))
    net_sw = obs.get("net_shortwave_radiation")
    reflected = _first(None if net_sw is None else np.maximum(global_ - net_sw, 0.0),
                       a.ground_albedo * global_)
    absorbed = _first(net_sw, (1 - a.ground_albedo) * global_)

    # Long-wave radiation and the ground: ERA5's fluxes where given, else
    # the sky's counter-radiation and the ground's balance modelled.
    eps = a.ground_emissivity
    sky = _first(obs.get("longwave_downward_radiation"), U.AtmosGegenstr(t, e, n))
    modelled_balance = absorbed + eps * sky - eps * _black_body(t)
    modelled_surface = U.OberflTemp(modelled_balance, t, obs["wind_speed"], a.bowen_ratio)
    modelled_ground = eps * _black_body(modelled_surface) + (1 - eps) * sky
    net_lw = obs.get("net_longwave_radiation")
    if net_lw is not None and "longwave_downward_radiation" in obs:
        upward = obs["longwave_downward_radiation"] - net_lw
        ground = _fill(upward, modelled_ground)
        emitted = np.maximum(upward - (1 - eps) * sky, 0.0) / (eps * SIGMA)
        surface = _fill(emitted ** 0.25 - 273.15, modelled_surface)
        balance = _fill(absorbed + net_lw, modelled_balance)
    else:
        ground, surface, balance = modelled_ground, modelled_surface, modelled_balance

    # A standing person: half of each hemisphere; of the upper half the sky
    # is the sky view factor, the rest trees or walls at air temperature.
    svf = a.sky_view_factor
    above = 0.5 * (1 - svf) * _black_body(t)
    below = 0.5 * ground
    from_sky = 0.5 * svf * sky
    scattered = 0.5 * svf * diffuse + 0.5 * reflected

    if a.projection == "module":
        tmrt = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, direct,
                              a.person_albedo)
        tmrt_shade = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, 0.0 * direct,
                                    a.person_albedo)
    else:
        # In the sun and in shade at once (comfort.standing_person).
        absorption = (1 - a.person_albedo) / PERSON_EMISSIVITY
        tmrt, tmrt_shade = _outputs(comfort.standing_person, sun_zenith, above + below + from_sky,
                                    scattered, direct, absorption)
    wind = np.maximum(obs["wind_speed"], WIND_UTCI_LOW)
    utci = comfort.utci(t, tmrt, wind, e)
    utci_shade = comfort.utci(t, tmrt_shade, wind, e)
    return {
        "vapour_pressure": e, "relative_humidity": rh, "dew_point": td,
        "solar_time": szeit, "zenith_angle": zenith, "azimuth_angle": azimuth,
        "radiation_zenith_angle": sun_zenith, "sunlit_fraction": sunlit,
        "linke_turbidity": linke, "relative_air_mass": _where(airmass == 999.0, np.nan, airmass),
        "clear_sky_direct_radiation": direct_clear, "clear_sky_global_radiation": global_clear,
        "direct_radiation": direct, "global_radiation": global_, "diffuse_radiation": diffuse,
        "reflected_radiation": reflected, "counter_radiation": sky,
        "ground_radiation_balance": balance, "surface_temperature": surface,
        "ground_longwave_radiation": ground, "mean_radiant_temperature": tmrt,
        "mean_radiant_temperature_shade": tmrt_shade,
        "utci": utci, "utci_shade": utci_shade,
        "utci_category": comfort.utci_category(utci),
        "utci_category_shade": comfort.utci_category(utci_shade),
    }


def sources(present: Any, hours: float = 0.0, projection: Projection = "published") -> dict[str, str]:
    """Where each radiation term and the person's temperatures come from,
    given the input quantities present (standard names), in words: the
    ``source`` attribute of the outputs. Element by element the first
    source listed that is not missing is used."""
    has = set(present)
    when = (f"with the sun of the {hours:g} h interval before each time (mean cos z over its "
            "sunlit part)" if hours > 0 else "with the sun at each time")
    modelled_global = "clear sky (MaxGlobalstrahlung) reduced by cloud (Kasten and Czeplak 1980)"
    glob = ["measured global_radiation"] if "global_radiation" in has else []
    if {"direct_normal_radiation", "diffuse_radiation"} <= has:
        glob.append("diffuse + direct normal x cos z")
    direct = []
    if "direct_normal_radiation" in has:
        direct.append("measured direct_normal_radiation")
    if "direct_horizontal_radiation" in has:
        direct.append(f"direct_horizontal_radiation / cos z, {when}")
    if {"global_radiation", "diffuse_radiation"} <= has:
        direct.append(f"(global - diffuse) / cos z, {when}")
    if "global_radiation" in has:
        direct.append(f"DISC decomposition (Maxwell 1987) of global_radiation, {when}")
    direct.append("clear sky (MaxDirekteStrahlung) under cloud (DirStrMBew)")
    diffuse = ["measured diffuse_radiation"] if "diffuse_radiation" in has else []
    diffuse.append("global - direct x cos z")
    sky = ["measured longwave_downward_radiation"] if "longwave_downward_radiation" in has else []
    sky.append("AtmosGegenstr from air temperature, vapour pressure and cloud")
    ground = ["longwave_downward_radiation - net_longwave_radiation"] if {
        "longwave_downward_radiation", "net_longwave_radiation"} <= has else []
    ground.append("surface temperature (OberflTemp) as a grey body plus reflected sky")
    fp = ("projection factor of Jendritzky et al. (1990), VDI 3787-2" if projection == "published"
          else "projection factor of MittlStrTemp")
    return {
        "global_radiation": "; else ".join(glob + [modelled_global]),
        "direct_radiation": "; else ".join(direct),
        "diffuse_radiation": "; else ".join(diffuse),
        "reflected_radiation": "; else ".join(
            (["global - net_shortwave_radiation"] if "net_shortwave_radiation" in has else [])
            + ["ground albedo x global"]),
        "counter_radiation": "; else ".join(sky),
        "ground_longwave_radiation": "; else ".join(ground),
        "mean_radiant_temperature": f"standing person in the sun, {fp}",
        "mean_radiant_temperature_shade": "standing person in shade (no direct beam)",
        "utci": "UTCI polynomial (Broede et al. 2012), wind below 0.5 m/s taken as 0.5",
        "utci_shade": "UTCI polynomial (Broede et al. 2012), wind below 0.5 m/s taken as 0.5",
    }


# Range checks --------------------------------------------------------------

def _range_message(quantity: str, value: float, hint: str = "") -> str:
    q = INPUTS[quantity]
    unit = {"degC": "°C", "m s-1": "m/s", "W m-2": "W/m²"}.get(q.unit, q.unit)
    return (f"{value:g} {unit} is outside the range of {q.long_name}, {q.low:g} to {q.high:g} "
            f"{unit}" + (f" ({hint})" if hint else ""))


def _bad(values: npt.NDArray[Any], q: Quantity) -> npt.NDArray[np.bool_]:
    with np.errstate(invalid="ignore"):
        bad: npt.NDArray[np.bool_] = ~((values >= q.low) & (values <= q.high)) & ~np.isnan(values)
    return bad


def _check_block(block: FloatArray, quantity: str, source: str, dims: tuple[str, ...],
                 hint: str = "", block_info: dict[Any, Any] | None = None) -> FloatArray:
    """Raises ObservationError for the first value of a block outside the
    range; used inside dask graphs, where the error comes when computing."""
    bad = _bad(block, INPUTS[quantity])
    if bad.any():
        index = np.unravel_index(int(np.argmax(bad)), bad.shape)
        offsets = [0] * bad.ndim
        if block_info is not None and 0 in block_info:
            offsets = [lo for lo, _ in block_info[0]["array-location"]]
        where = ", ".join(f"{d} {int(i) + o}" for d, i, o in zip(dims, index, offsets))
        raise ObservationError(_range_message(quantity, float(block[index]), hint), quantity,
                               source, where)
    return block


def _checked_numpy(values: FloatArray, quantity: str, source: str, invalid: Invalid,
                   label: Any = None, hint: str = "") -> FloatArray:
    bad = _bad(values, INPUTS[quantity])
    if not bad.any():
        return values
    if invalid == "mask":
        return np.where(bad, np.nan, values)
    index = np.unravel_index(int(np.argmax(bad)), bad.shape)
    row = int(index[0]) if values.ndim == 1 else None
    place = label(index) if label is not None else (
        f"index {', '.join(str(int(i)) for i in index)}" if values.ndim else "")
    raise ObservationError(_range_message(quantity, float(values[index]), hint), quantity, source,
                           place, row)


# Entry point ---------------------------------------------------------------

@overload
def compute(observations: pd.DataFrame, *, latitude: Any = ..., longitude: Any = ...,
            height: Any = ..., utc_offset: float = ..., names: Mapping[str, str] | None = ...,
            invalid: Invalid = ..., accumulation: Accumulation = ...,
            projection_factor: Projection = ..., outputs: Collection[str] | None = ...,
            ground_albedo: float = ...,
            ground_emissivity: float = ..., bowen_ratio: float = ..., person_albedo: float = ...,
            sky_view_factor: float = ..., cloud_factor: float = ...,
            cloud_exponent: float = ...) -> pd.DataFrame: ...
@overload
def compute(observations: xr.Dataset, *, latitude: Any = ..., longitude: Any = ...,
            height: Any = ..., utc_offset: float = ..., names: Mapping[str, str] | None = ...,
            invalid: Invalid = ..., accumulation: Accumulation = ...,
            projection_factor: Projection = ..., outputs: Collection[str] | None = ...,
            ground_albedo: float = ...,
            ground_emissivity: float = ..., bowen_ratio: float = ..., person_albedo: float = ...,
            sky_view_factor: float = ..., cloud_factor: float = ...,
            cloud_exponent: float = ...) -> xr.Dataset: ...
@overload
def compute(observations: Mapping[str, npt.ArrayLike], *, latitude: Any = ...,
            longitude: Any = ..., height: Any = ..., utc_offset: float = ...,
            names: Mapping[str, str] | None = ..., invalid: Invalid = ...,
            accumulation: Accumulation = ..., projection_factor: Projection = ...,
            outputs: Collection[str] | None = ..., ground_albedo: float = ..., ground_emissivity: float = ..., bowen_ratio: float = ...,
            person_albedo: float = ..., sky_view_factor: float = ..., cloud_factor: float = ...,
            cloud_exponent: float = ...) -> dict[str, npt.NDArray[Any]]: ...
def compute(observations: Any, *, latitude: Any = None, longitude: Any = None,
            height: Any = 0.0, utc_offset: float = 0.0, names: Mapping[str, str] | None = None,
            invalid: Invalid = "raise", accumulation: Accumulation = "interval",
            projection_factor: Projection = "published", outputs: Collection[str] | None = None,
            ground_albedo: float = 0.2, ground_emissivity: float = 0.95, bowen_ratio: float = 0.8,
            person_albedo: float = 0.3, sky_view_factor: float = 0.8,
            cloud_factor: float = 0.75, cloud_exponent: float = 3.4) -> Any:
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
    names: standard name -> the column or variable holding it.
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
    outputs: the names of ``OUTPUTS`` to return (default: all); the others
        are computed where needed on the way but not kept, which saves
        memory on large inputs.
    ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
    sky_view_factor, cloud_factor, cloud_exponent: the model's
        assumptions (docs/reference.md gives their sources and
        ``SETTINGS`` their ranges); the cloud reduces the clear-sky global
        radiation by the factor 1 - cloud_factor (N/8)**cloud_exponent.

    Returns the observations with the derived humidity quantities and the
    quantities of ``OUTPUTS`` added, in the input's kind of container
    (a Dataset's outputs carry ``units``, ``long_name`` and ``source``).
    Raises KeyError for a missing quantity, UnitError for a units
    attribute it cannot convert, ObservationError for an observation out
    of range, ValueError for unusable times, site or settings.
    """
    if invalid not in ("raise", "mask"):
        raise ValueError(f"invalid must be 'raise' or 'mask', not {invalid!r}")
    if projection_factor not in ("published", "module"):
        raise ValueError(f"projection_factor must be 'published' or 'module', not "
                         f"{projection_factor!r}")
    if not (isinstance(accumulation, str) and accumulation in ("interval", "since-00utc")):
        if isinstance(accumulation, str) or not isinstance(accumulation, (int, float)):
            raise ValueError("accumulation must be 'interval', 'since-00utc' or a number of "
                             f"hours, not {accumulation!r}")
        check_setting("accumulation", accumulation)
    if outputs is not None:
        unknown = sorted(set(outputs) - set(OUTPUTS))
        if unknown or isinstance(outputs, str):
            named = ", ".join(map(repr, unknown or [str(outputs)]))
            raise ValueError(f"outputs: no output {named}; valid: {', '.join(OUTPUTS)}")
    for name, value in (("utc_offset", utc_offset), ("ground_albedo", ground_albedo),
                        ("ground_emissivity", ground_emissivity), ("bowen_ratio", bowen_ratio),
                        ("person_albedo", person_albedo), ("sky_view_factor", sky_view_factor),
                        ("cloud_factor", cloud_factor), ("cloud_exponent", cloud_exponent)):
        check_setting(name, value)
    for name, value in (("latitude", latitude), ("longitude", longitude), ("height", height)):
        if value is not None:
            check_setting(name, value)
    assumptions = _Assumptions(ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
                               sky_view_factor, cloud_factor, cloud_exponent, projection_factor,
                               None if outputs is None else frozenset(outputs))
    names = dict(names or {})
    pd_mod, xr_mod = sys.modules.get("pandas"), sys.modules.get("xarray")
    if xr_mod is not None and isinstance(observations, xr_mod.Dataset):
        return _compute_xarray(observations, latitude, longitude, height, utc_offset, names,
                               invalid, assumptions, accumulation)
    if pd_mod is not None and isinstance(observations, pd_mod.DataFrame):
        return _compute_pandas(observations, latitude, longitude, height, utc_offset, names,
                               invalid, assumptions)
    if isinstance(observations, Mapping):
        return _compute_numpy(observations, latitude, longitude, height, utc_offset, names,
                              invalid, assumptions)
    raise TypeError("observations must be a mapping of arrays, a pandas DataFrame or an "
                    f"xarray Dataset, not {type(observations).__name__}")


def check_setting(name: str, value: Any) -> None:
    """Raises ValueError naming the setting when a value (or any element of
    an array) is NaN or outside its range in ``SETTINGS``."""
    low, high, unit = SETTINGS[name]
    data = getattr(value, "values", value)          # a DataArray's values
    try:
        values = np.asarray(data, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number, not {value!r}") from None
    with np.errstate(invalid="ignore"):
        bad = ~((values >= low) & (values <= high))
    if bad.any():
        worst = values[bad].flat[0]
        text = f"{worst:g}" if values.ndim == 0 else f"{worst:g} (of {values.size} values)"
        raise ValueError(f"{name} must be between {low:g} and {high:g}"
                         f"{' ' + unit if unit else ''}, not {text}")


def accumulation_hours(times: Any) -> float:
    """The accumulation period [h] of fluxes accumulated over the interval
    between time steps: the spacing of the times, which must be even."""
    t = np.asarray(times).astype("datetime64[s]")
    if t.size < 2:
        raise ValueError("the accumulation period of J/m² fluxes cannot be told from a single "
                         "time step: give it (accumulation=HOURS, --accumulation HOURS)")
    steps = np.unique(np.diff(t.ravel()))
    if steps.size != 1 or steps[0] <= np.timedelta64(0, "s"):
        raise ValueError("the time steps are not evenly spaced, so the accumulation period of "
                         "J/m² fluxes cannot be told from them: give it (accumulation=HOURS, "
                         "--accumulation HOURS)")
    hours = float(steps[0] / np.timedelta64(1, "s")) / 3600.0
    low, high, _ = SETTINGS["accumulation"]
    if not low <= hours <= high:
        raise ValueError(f"the time steps are {hours:g} h apart: accumulations over that long "
                         "are not used (give accumulation=HOURS)")
    return hours


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


def _as_output(name: str, values: Any) -> npt.NDArray[Any]:
    return np.asarray(values, dtype=np.int8 if name in CATEGORIES else np.float64)


def _compute_numpy(observations: Mapping[str, Any], latitude: Any, longitude: Any, height: Any,
                   utc_offset: float, names: dict[str, str], invalid: Invalid,
                   a: _Assumptions, labels: Any = None) -> dict[str, npt.NDArray[Any]]:
    found = _present(observations, names)
    time_name = names.get("time", "time")
    if time_name not in observations:
        raise KeyError(f"no times: expected an entry '{time_name}'")
    utc = _utc(observations[time_name], utc_offset)
    obs = {q: _checked_numpy(np.asarray(observations[s], dtype=np.float64), q, s, invalid, labels)
           for q, s in found.items()}
    lat = np.asarray(_site(latitude, "latitude"), dtype=np.float64)
    lon = np.asarray(_site(longitude, "longitude"), dtype=np.float64)
    site = {"latitude": lat, "longitude": lon, "height": np.asarray(height, dtype=np.float64)}
    computed = _in_blocks(obs, site, utc, a)
    result = dict(observations)
    result.update(computed)
    return result


# Elements computed at a time by the NumPy path: the chain's temporaries of
# a block stay in the caches and are reused, instead of each being a fresh
# array of the whole size; the ufuncs still split a block over the cores.
BLOCK = 1 << 15


def _in_blocks(obs: dict[str, FloatArray], site: dict[str, FloatArray],
               utc: npt.NDArray[np.datetime64], a: _Assumptions,
               hours: float = 0.0) -> dict[str, npt.NDArray[Any]]:
    """The chain over arrays that broadcast together, a block of rows of
    the first axis at a time (about BLOCK elements); arrays that broadcast
    along an axis are expanded a block at a time only."""
    arrays = {**obs, **site, "time": utc}
    shape = np.broadcast_shapes(*(v.shape for v in arrays.values()))
    if not shape:
        shape = (1,)
    full = {k: v.reshape((1,) * (len(shape) - v.ndim) + v.shape) if v.ndim else v
            for k, v in arrays.items()}
    rest = math.prod(shape[1:])
    rows = max(1, BLOCK // max(rest, 1))
    out: dict[str, npt.NDArray[Any]] = {}
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        for start in range(0, shape[0], rows):
            part = slice(start, min(start + rows, shape[0]))
            here = (part.stop - part.start,) + shape[1:]
            block: dict[str, npt.NDArray[Any]] = {
                k: np.broadcast_to(v[part] if v.shape[0] > 1 else v, here).reshape(-1)
                if v.ndim else v for k, v in full.items()}
            szeit, day = _solar_time(*_calendar(block["time"]), block["longitude"])
            computed = _chain({k: block[k] for k in obs}, block["latitude"], block["height"],
                              szeit, day, a, hours)
            for k, v in computed.items():
                if not a.keeps(k):
                    continue
                if k not in out:
                    out[k] = np.empty(shape, dtype=np.int8 if k in CATEGORIES else np.float64)
                out[k][part] = np.reshape(v, here)
    final = np.broadcast_shapes(*(v.shape for v in arrays.values()))
    return {k: v.reshape(final) for k, v in out.items()}


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
    out.attrs["sources"] = sources(_present(columns, names), 0.0, a.projection)
    return out


def _era5_names(ds: xr.Dataset, names: dict[str, str]) -> dict[str, str]:
    """Standard name -> variable for the quantities named neither by
    ``names`` nor by their standard name: ERA5's short or long name, else
    the one variable whose CF ``standard_name`` attribute is the quantity's."""
    names = dict(names)
    taken = set(names.values())
    for q, candidates in ERA5_NAMES.items():
        if q not in names and q not in ds:
            found = next((c for c in candidates if c in ds), None)
            if found is not None:
                names[q] = found
                taken.add(found)
    for q, quantity in INPUTS.items():
        cf = quantity.attrs.get("standard_name")
        if cf is None or q in names or q in ds:
            continue
        matches = [str(v) for v, da in ds.data_vars.items()
                   if da.attrs.get("standard_name") == cf and str(v) not in taken]
        if len(matches) == 1:
            names[q] = matches[0]
            taken.add(matches[0])
    return names


def _compute_xarray(ds: xr.Dataset, latitude: Any, longitude: Any, height: Any,
                    utc_offset: float, names: dict[str, str], invalid: Invalid,
                    a: _Assumptions, accumulation: Accumulation) -> xr.Dataset:
    import xarray as xr

    names = _era5_names(ds, names)
    variables: dict[str, Any] = {}
    if "wind_speed" not in names and "wind_speed" not in ds:
        pair = next((p for p in ERA5_WIND if all(c in ds for c in p)), None)
        if pair is not None:
            u, v = (_converted(ds[c], "wind_speed", c) for c in pair)
            variables["wind_speed"] = np.hypot(u, v)
    found = _present(set(ds.data_vars) | set(variables), names)

    time_name = names.get("time") or next((c for c in ("time", "valid_time") if c in ds.coords), None)
    if time_name is None or time_name not in ds.coords:
        raise KeyError("no times: expected a coordinate 'time' or 'valid_time'")
    if ds[time_name].ndim != 1:
        raise ValueError(f"the time coordinate '{time_name}' must be one-dimensional")
    time_dim = ds[time_name].dims[0]
    chunks = ds.chunksizes if ds.chunks else None

    def along(values: Any, dim: Hashable) -> xr.DataArray:
        da = xr.DataArray(values, dims=(dim,), coords={dim: ds[dim]})
        if chunks is not None and dim in chunks:
            da = da.chunk({dim: chunks[dim]})
        return da

    utc = _utc(ds[time_name].values, utc_offset)
    hours, doy, ndays, nprev = (along(x, time_dim) for x in _calendar(utc))

    def coordinate(param: Any, candidates: tuple[str, ...], what: str) -> Any:
        name = next((c for c in candidates if c in ds.coords), None)
        if name is None:
            return _site(param, what)
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

    # Accumulated fluxes: their period, and the sun of their interval.
    accumulated = [q for q, s in found.items() if q in RADIATION and s not in variables
                   and is_accumulated(ds[s])]
    period = 0.0
    if accumulated:
        if accumulation == "since-00utc":
            period = 1.0
        elif accumulation == "interval":
            period = accumulation_hours(utc)
        else:
            period = float(accumulation)
    obs: dict[str, Any] = {}
    for q, s in found.items():
        if s in variables:
            da = variables[s]
        elif q in accumulated:
            da = _flux(ds[s], q, s, time_dim, utc, accumulation, period, invalid)
        else:
            da = _converted(ds[s], q, s)
        hint = "is the accumulation period right? see --accumulation" if q in accumulated else ""
        obs[q] = _checked_xarray(da, q, s, invalid, hint)
    sun_hours = period if any(q in SHORTWAVE for q in accumulated) else 0.0
    if any(getattr(v, "chunks", None) is not None for v in (*obs.values(), lat, lon, height)):
        szeit, day = _solar_time(hours, doy, ndays, nprev, lon)
        computed = _chain(obs, lat, height, szeit, day, a, sun_hours)
    else:       # in memory: NumPy's path, a block at a time
        computed = _eager(ds, obs, {"latitude": lat, "longitude": lon, "height": height}, utc,
                          time_dim, a, sun_hours)
    computed = {k: v for k, v in computed.items() if a.keeps(k)}
    described_sources = sources(found, sun_hours, a.projection)

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
        order = [d for d in dims if d in da.dims]
        if list(da.dims)[:len(order)] != order:
            da = da.transpose(*order, ...)
        if k in CATEGORIES and da.dtype != np.int8:
            da = da.astype(np.int8)
        described = OUTPUTS.get(k) or INPUTS[k]
        attrs = {"units": described.unit, "long_name": described.long_name, **described.attrs}
        if k in described_sources:
            attrs["source"] = described_sources[k]
        new[k] = da.assign_attrs(attrs)
    # As variables over the Dataset's own dimensions: nothing to align.
    return ds.assign({k: v.variable for k, v in new.items()})


def _eager(ds: xr.Dataset, obs: dict[str, xr.DataArray], site: dict[str, Any],
           utc: npt.NDArray[np.datetime64], time_dim: Hashable, a: _Assumptions,
           hours: float) -> dict[str, xr.DataArray]:
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
    computed = _in_blocks({q: aligned(v) for q, v in obs.items()},
                          {k: aligned(v) for k, v in site.items()}, times, a, hours)
    # Each result over the dimensions it varies along, as the lazy path has it.
    varies = _result_dims(obs, site, time_dim, a, hours)
    coords = {d: ds[d].variable for d in dims if d in ds.coords}
    out = {}
    for k, v in computed.items():
        own = [d for d in dims if d in varies[k]]
        v = v[tuple(slice(None) if d in own else 0 for d in dims)]
        out[k] = xr.DataArray(v, dims=own, coords={d: coords[d] for d in own if d in coords})
    return out


def _result_dims(obs: dict[str, xr.DataArray], site: dict[str, Any], time_dim: Hashable,
                 a: _Assumptions, hours: float) -> dict[str, tuple[Hashable, ...]]:
    """The dimensions of each result of the chain: the chain run on one
    element along every dimension of its inputs (once for each way the
    inputs lie along their dimensions: the blocks of a grid all share it)."""
    def dims_of(value: Any) -> tuple[Hashable, ...] | None:
        return tuple(value.dims) if hasattr(value, "dims") else None

    key = (tuple((q, dims_of(v)) for q, v in obs.items()),
           tuple((k, dims_of(v)) for k, v in site.items()), time_dim, a, hours)
    found = _RESULT_DIMS.get(key)
    if found is None:
        found = _RESULT_DIMS[key] = _probe_result_dims(obs, site, time_dim, a, hours)
    return found


_RESULT_DIMS: dict[Any, dict[str, tuple[Hashable, ...]]] = {}


def _probe_result_dims(obs: dict[str, xr.DataArray], site: dict[str, Any], time_dim: Hashable,
                       a: _Assumptions, hours: float) -> dict[str, tuple[Hashable, ...]]:
    import xarray as xr

    def one(value: Any) -> Any:
        if isinstance(value, xr.DataArray):
            return value.isel({d: slice(0, 1) for d in value.dims}).drop_vars(
                list(value.coords))
        return value

    t = xr.DataArray(np.zeros(1), dims=(time_dim,))
    with np.errstate(all="ignore"):
        szeit, day = _solar_time(t + 12.0, t + 172.0, t + 365.0, t + 365.0,
                                 one(site["longitude"]))
        results = _chain({q: one(v) for q, v in obs.items()}, one(site["latitude"]),
                         one(site["height"]), szeit, day, a, hours)
    return {k: v.dims if isinstance(v, xr.DataArray) else () for k, v in results.items()}


def is_accumulated(da: xr.DataArray) -> bool:
    """Whether a variable's ``units`` say it is accumulated (J m-2)."""
    unit = da.attrs.get("units")
    return isinstance(unit, str) and _norm_unit(unit) in _ACCUMULATED


def _converted(da: xr.DataArray, quantity: str, source: str) -> xr.DataArray:
    unit = da.attrs.get("units")
    scaled = da.astype(np.float64)
    if unit is not None:
        scale, offset = _conversion(quantity, source, unit)
        if (scale, offset) != (1.0, 0.0):
            scaled = scaled * scale + offset
    return scaled.assign_attrs(units=INPUTS[quantity].unit)


# Packing noise and rounding let accumulated fluxes dip a little below 0:
# down to this [W m-2] they are 0, below it they are refused.
ACCUMULATION_NOISE = 1.0
_NON_NEGATIVE = tuple(q for q in RADIATION if INPUTS[q].low >= 0)


def _flux(da: xr.DataArray, quantity: str, source: str, time_dim: Hashable,
          utc: npt.NDArray[np.datetime64], accumulation: Accumulation, period: float,
          invalid: Invalid) -> xr.DataArray:
    """The mean flux [W m-2] of an accumulated variable [J m-2]: the
    accumulation over its period, or for running totals since 00 UTC the
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
        joules = _where(first, joules, joules - joules.shift({time_dim: 1}))
        if quantity in _NON_NEGATIVE:
            joules = _increasing(joules, source, time_dim, invalid)
    flux = joules / (period * 3600.0)
    if quantity in _NON_NEGATIVE:
        flux = _where((flux < 0) & (flux >= -ACCUMULATION_NOISE), 0.0, flux)
    return flux.assign_attrs(units=INPUTS[quantity].unit)


def _increasing(steps: xr.DataArray, source: str, time_dim: Hashable,
                invalid: Invalid) -> xr.DataArray:
    """Running totals that decrease by more than the noise are not running
    totals since 00 UTC: refused (or, with invalid="mask", missing)."""
    limit = -ACCUMULATION_NOISE * 3600.0
    if invalid == "mask":
        return steps.where(~(steps < limit))
    dims = tuple(str(d) for d in steps.dims)

    def check(block: FloatArray, block_info: dict[Any, Any] | None = None) -> FloatArray:
        with np.errstate(invalid="ignore"):
            bad = block < limit
        if bad.any():
            index = np.unravel_index(int(np.argmax(bad)), bad.shape)
            offsets = [0] * bad.ndim
            if block_info is not None and 0 in block_info:
                offsets = [lo for lo, _ in block_info[0]["array-location"]]
            where = ", ".join(f"{d} {int(i) + o}" for d, i, o in zip(dims, index, offsets))
            raise ObservationError(
                f"the running total falls by {-float(block[index]):g} J m-2 from the step "
                "before: not accumulated since 00 UTC", str(time_dim), source, where)
        return block

    if steps.chunks is not None:
        return steps.copy(data=steps.data.map_blocks(check, dtype=steps.dtype))
    check(steps.values)
    return steps


def _checked_xarray(da: xr.DataArray, quantity: str, source: str, invalid: Invalid,
                    hint: str = "") -> xr.DataArray:
    q = INPUTS[quantity]
    if invalid == "mask":
        return da.where(~((da < q.low) | (da > q.high)))
    dims = tuple(str(d) for d in da.dims)
    if da.chunks is not None:
        check = functools.partial(_check_block, quantity=quantity, source=source, dims=dims,
                                  hint=hint)
        return da.copy(data=da.data.map_blocks(check, dtype=da.dtype))

    def label(index: tuple[Any, ...]) -> str:
        return ", ".join(f"{d} {_coordinate_text(da[d].values[i]) if d in da.coords else i}"
                         for d, i in zip(dims, index))
    _checked_numpy(da.values, quantity, source, invalid, label, hint)
    return da


def _coordinate_text(value: Any) -> str:
    if isinstance(value, np.datetime64):
        return str(value.astype("datetime64[s]"))
    return f"{value:g}" if isinstance(value, (float, np.floating)) else str(value)
