"""Heat-stress indices: UTCI, PET and WBGT of the sunlit and the shaded
person, and the indices weather services publish.

Each index is a row of ``INDICES``: the outputs it gives and how, from the
chain's results (``Air``). A row is computed only when one of its outputs
is asked for (``variables``), so a run that writes the UTCI pays for no
WBGT. The wind is brought from 10 m to each index's height here, by the
method its authors use (docs/reference.md, "Heat-stress indices").
"""

from __future__ import annotations

import math
import sys
from collections.abc import Callable
from dataclasses import dataclass
from functools import cached_property
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import comfort
from quarnel._elementwise import outputs, where
from quarnel.tmrt.chain.common import fill, first, wind_at
from quarnel.tmrt.decomposition import station_pressure

__all__ = ["WIND_UTCI_LOW", "PET_HEIGHT", "WBGT_HEIGHT", "PASQUILL_EXPONENTS",
           "Air", "Index", "INDICES", "wind_at_person", "pasquill_class", "wind_at_2m",
           "air_pressure", "indices", "indices_sources"]

WIND_UTCI_LOW = 0.5        # UTCI's lowest 10 m wind speed [m/s]: calmer air is taken as this
WIND_HEIGHT = 10.0         # of the observed wind [m]
PET_HEIGHT = 1.1           # PET's wind: at the standing person's centre of gravity [m]
WBGT_HEIGHT = 2.0          # Liljegren's wind: at the instruments [m]

# Pasquill's stability classes A-F as 0-5 by the solar radiation / delta-T
# method (US EPA 2000, table 6-7), which Liljegren et al. (2008) use for the
# wind's profile. By day: the 10 m wind (rows: < 2, 2-3, 3-5, 5-6, >= 6 m/s)
# against the global radiation (columns: >= 925, 675-925, 175-675, < 175 W/m2).
_DAY = ((0, 0, 1, 3),
        (0, 1, 2, 3),
        (1, 1, 2, 3),
        (2, 2, 3, 3),
        (2, 3, 3, 3))
# By night: the wind (rows: < 2, 2-2.5, >= 2.5 m/s) against the sign of the
# temperature's rise with height, which the observations lack: a sky of at
# least 4 octas keeps the air from cooling from the ground up (lapse, column
# 0), a clearer one lets an inversion form (column 1), the cloud criterion of
# Pasquill (1961) and Turner (1964). Unknown cloud (column 2): no class
# where it matters (6).
_NIGHT = ((4, 5, 6),
          (3, 4, 6),
          (3, 3, 3))
CLOUDY_NIGHT = 4.0         # octas
#: the exponent p of u(z) = u(10 m) (z / 10 m)^p per class A-F: the EPA's
#: urban exponents (ISC3 user's guide, EPA-454/B-95-003a, 1995), as in
#: Liljegren's code for urban sites and thermofeel
PASQUILL_EXPONENTS = (0.15, 0.15, 0.20, 0.25, 0.30, 0.30)
# Both tables as one, looked up by (day, wind step, column): the wind's
# steps at 2, 2.5, 3, 5 and 6 m/s serve day and night; by day the column
# counts the radiation's steps from below (3 - the column above).
_WIND_STEPS = (2.0, 2.5, 3.0, 5.0, 6.0)
_SUN_STEPS = (175.0, 675.0, 925.0)
_DAY_ROW = (0, 1, 1, 2, 3, 4)        # of each wind step
_NIGHT_ROW = (0, 1, 2, 2, 2, 2)
_CLASSES = np.array([[[_NIGHT[_NIGHT_ROW[w]][c] if c < 3 else 6 for c in range(4)]
                      for w in range(6)],
                     [[_DAY[_DAY_ROW[w]][3 - c] for c in range(4)] for w in range(6)]],
                    dtype=np.float64).ravel()
#: u(2 m) / u(10 m) of each entry, NaN for no class
_FACTORS = np.array([(WBGT_HEIGHT / WIND_HEIGHT) ** PASQUILL_EXPONENTS[int(k)] if k < 6
                     else math.nan for k in _CLASSES])

# The geometry of the instruments in comfort.wbgt (Liljegren et al. 2008),
# for the shaded ones: the ground's albedo and the wick's top, D / (4 L).
WBGT_GROUND_ALBEDO = 0.45
WBGT_WICK_TOP = 0.25 * 0.007 / 0.0254
WBGT_MIN_COS_ZENITH = 0.00873    # no direct beam below (89.5°), as in comfort.wbgt


def wind_at_person(wind_10m: Any) -> Any:
    """Wind speed at 1.1 m [m/s], PET's height, from the wind at 10 m [m/s]:
    the logarithmic profile with z0 = 0.01 m, v₁.₁ = v₁₀ log₁₀(1.1/0.01) /
    log₁₀(10/0.01) = 0.680 v₁₀ (Bröde et al. 2012, Int J Biometeorol
    56:481–494), the profile ``wind_height`` brings a measurement to 10 m by."""
    return wind_at(wind_10m, WIND_HEIGHT, PET_HEIGHT)


def _steps(x: npt.NDArray[np.float64], steps: tuple[float, ...]) -> npt.NDArray[np.int8]:
    """How many of the steps x reaches (0 for NaN)."""
    count = (x >= steps[0]).view(np.int8)
    for step in steps[1:]:
        count = count + (x >= step).view(np.int8)
    return count


def _entry(wind_10m: npt.NDArray[np.float64], global_radiation: npt.NDArray[np.float64],
           cos_zenith: npt.NDArray[np.float64], cloud_cover: npt.NDArray[np.float64]
           ) -> npt.NDArray[np.int8]:
    """The entry of _CLASSES and _FACTORS of each element (comparisons and
    small integers: a few nanoseconds an element)."""
    day = cos_zenith > 0.0
    cloud = (cloud_cover < CLOUDY_NIGHT).view(np.int8) + 2 * np.isnan(cloud_cover).view(np.int8)
    column = np.where(day, _steps(global_radiation, _SUN_STEPS), cloud)
    return day.view(np.int8) * np.int8(24) + _steps(wind_10m, _WIND_STEPS) * np.int8(4) + column


def _on_arrays(fn: Callable[..., Any], *args: Any) -> Any:
    """A NumPy function of broadcasting arrays, applied element-wise;
    DataArrays (dask-backed ones lazily) through ``xarray.apply_ufunc``."""
    xr_mod = sys.modules.get("xarray")
    if xr_mod is not None and any(isinstance(a, xr_mod.DataArray) for a in args):
        return xr_mod.apply_ufunc(fn, *args, dask="parallelized", output_dtypes=[np.float64])
    arrays = np.broadcast_arrays(*(np.asarray(a, dtype=np.float64) for a in args))
    return fn(*arrays)


def pasquill_class(wind_10m: Any, global_radiation: Any, cos_zenith: Any, cloud_cover: Any) -> Any:
    """Pasquill's stability class, 0–5 for A–F (6: none, where an input it
    needs is NaN), by the solar radiation / delta-T method (US EPA 2000,
    EPA-454/R-99-005, table 6-7) as Liljegren et al. (2008) use it: by day
    (cos z > 0) from the wind at 10 m [m/s] and the global radiation
    [W/m²], by night from the wind and whether the sky holds at least 4
    octas of cloud (no inversion) or less (an inversion)."""
    def classes(u: Any, g: Any, mu: Any, n: Any) -> Any:
        unknown = np.isnan(u) | np.isnan(mu) | ((mu > 0.0) & np.isnan(g))
        return np.where(unknown, 6.0, _CLASSES.take(_entry(u, g, mu, n)))
    return _on_arrays(classes, wind_10m, global_radiation, cos_zenith, cloud_cover)


def wind_at_2m(wind_10m: Any, global_radiation: Any, cos_zenith: Any, cloud_cover: Any) -> Any:
    """Wind speed at 2 m [m/s], WBGT's height, from the wind at 10 m
    [m/s]: Liljegren et al. (2008)'s power law u₂ = u₁₀ (2/10)^p with the
    exponent p of the stability class (``pasquill_class``; the EPA's urban
    exponents, ``PASQUILL_EXPONENTS``). NaN for a NaN wind and, on a calm
    night, for unknown cloud."""
    def scaled(u: Any, g: Any, mu: Any, n: Any) -> Any:
        return u * _FACTORS.take(_entry(u, g, mu, n))
    return _on_arrays(scaled, wind_10m, global_radiation, cos_zenith, cloud_cover)


def air_pressure(measured: Any, height: Any) -> Any:
    """Air pressure [hPa]: as measured where given, else that of the
    standard atmosphere at the site's height [m] (``station_pressure``, the
    pressure the chain's DISC split takes)."""
    return first(measured, station_pressure(height) / 100.0)


@dataclass(frozen=True)
class Air:
    """What the indices are computed from: the observations and the
    chain's results, each element by element (floats, arrays or
    DataArrays)."""

    temperature: Any             # air temperature [°C]
    vapour_pressure: Any         # [hPa]
    relative_humidity: Any       # [%]
    dew_point: Any               # [°C]
    wind_10m: Any                # [m/s]
    cloud_cover: Any             # [octas]
    measured_pressure: Any       # [hPa], or None where not observed
    height: Any                  # of the site [m]
    global_radiation: Any        # on the horizontal [W/m²]
    direct_radiation: Any        # normal to the beam [W/m²]
    cos_zenith: Any              # of the sun paired with the radiation, 0 without sun
    tmrt: Any                    # mean radiant temperature in the sun [°C]
    tmrt_shade: Any              # and in shade [°C]
    measured_globe: Any = None   # a black globe thermometer's reading [°C], None if none

    # Shared by the rows that need them, computed once.
    @cached_property
    def utci(self) -> Any:
        return comfort.utci(self.temperature, self.tmrt, self.wind_utci, self.vapour_pressure)

    @cached_property
    def utci_shade(self) -> Any:
        return comfort.utci(self.temperature, self.tmrt_shade, self.wind_utci,
                            self.vapour_pressure)

    @cached_property
    def wind_utci(self) -> Any:
        return np.maximum(self.wind_10m, WIND_UTCI_LOW)

    @cached_property
    def wind_person(self) -> Any:
        return wind_at_person(self.wind_10m)

    @cached_property
    def wind_2m(self) -> Any:
        return wind_at_2m(self.wind_10m, self.global_radiation, self.cos_zenith, self.cloud_cover)

    @cached_property
    def pressure(self) -> Any:
        return air_pressure(self.measured_pressure, self.height)

    @cached_property
    def direct_fraction(self) -> Any:
        """The direct share of the global radiation, DNI cos z / G, at most
        1; 0 without global radiation and where comfort.wbgt takes no beam."""
        g = self.global_radiation
        share = np.minimum(self.direct_radiation * self.cos_zenith / where(g > 0, g, 1.0), 1.0)
        return where((g > 0) & (self.cos_zenith >= WBGT_MIN_COS_ZENITH), share, 0.0)


@dataclass(frozen=True)
class Index:
    """A row of the indices: its outputs (names of ``OUTPUTS``), computed
    together, and the description of its sources."""

    outputs: tuple[str, ...]
    compute: Callable[[Air], tuple[Any, ...]]
    source: str


def _wbgt(a: Air) -> tuple[Any, ...]:
    wbgt, globe, wet_bulb = outputs(comfort.wbgt, a.temperature, a.vapour_pressure, a.pressure,
                                    a.wind_2m, a.global_radiation, a.direct_fraction,
                                    a.cos_zenith)
    if a.measured_globe is None:
        return wbgt, globe, wet_bulb
    # A globe thermometer's reading is the globe's temperature, and with it
    # WBGT is ISO 7243's outdoor sum (its globe is one of 150 mm).
    from_globe = 0.7 * wet_bulb + 0.2 * a.measured_globe + 0.1 * a.temperature
    return fill(from_globe, wbgt), first(a.measured_globe, globe), wet_bulb


def _wbgt_shade(a: Air) -> tuple[Any, ...]:
    # Shaded instruments absorb the sky's diffuse radiation, (1 - f) G, and
    # what the sunlit ground reflects of all of G, as the shaded person does.
    # In comfort.wbgt's geometry that is G' with a share f' from a sun
    # overhead: the globe takes G'/2 (1 + a - f'/2), the wick G' (1 + k + a - f').
    f, k, albedo = a.direct_fraction, WBGT_WICK_TOP, WBGT_GROUND_ALBEDO
    diffuse_part = (1.0 - f) * (1.0 - k) + albedo
    g = a.global_radiation * diffuse_part / (1.0 + albedo - k)
    share = 2.0 * k * albedo * f / diffuse_part
    return outputs(comfort.wbgt, a.temperature, a.vapour_pressure, a.pressure, a.wind_2m, g,
                   share, 1.0)[:1]


_UTCI_SOURCE = "UTCI polynomial (Broede et al. 2012), wind below 0.5 m/s taken as 0.5"
_PET_SOURCE = ("PET of the VDI 3787 program (Hoeppe 1999; VDI 3787-2) for its standard person; "
               "wind at 1.1 m by the log law, z0 = 0.01 m (Broede et al. 2012)")
_WBGT_SOURCE = ("Liljegren et al. (2008); wind at 2 m by the power law of the Pasquill class "
                "(EPA solar radiation / delta-T method, urban exponents, cloud for the night); the "
                "sun paired with the radiation, direct share = direct x cos z / global; {pressure}")
_MEASURED_GLOBE = ("measured globe_temperature (WBGT = 0.7 natural wet bulb + 0.2 globe + 0.1 air, "
                   "ISO 7243); else ")

#: Every index the chain computes, by rows of outputs computed together.
INDICES: tuple[Index, ...] = (
    Index(("utci",), lambda a: (a.utci,), _UTCI_SOURCE),
    Index(("utci_shade",), lambda a: (a.utci_shade,), _UTCI_SOURCE),
    Index(("utci_category",), lambda a: (comfort.utci_category(a.utci),), ""),
    Index(("utci_category_shade",), lambda a: (comfort.utci_category(a.utci_shade),), ""),
    Index(("pet",), lambda a: (comfort.pet(a.temperature, a.tmrt, a.wind_person,
                                           a.vapour_pressure),), _PET_SOURCE),
    Index(("pet_shade",), lambda a: (comfort.pet(a.temperature, a.tmrt_shade, a.wind_person,
                                                 a.vapour_pressure),), _PET_SOURCE),
    Index(("wbgt", "globe_temperature", "natural_wet_bulb_temperature"), _wbgt, _WBGT_SOURCE),
    Index(("wbgt_shade",), _wbgt_shade, _WBGT_SOURCE + "; without the direct beam on the "
          "instruments (the sky's diffuse and the ground's reflection of all of the global "
          "radiation)"),
    Index(("heat_index",), lambda a: (comfort.heat_index(a.temperature, a.relative_humidity),),
          "US National Weather Service (Rothfusz 1990) from air temperature and relative "
          "humidity"),
    Index(("humidex",), lambda a: (comfort.humidex(a.temperature, a.dew_point),),
          "Masterton and Richardson (1979) from air temperature and dew point"),
    Index(("apparent_temperature",),
          lambda a: (comfort.apparent_temperature(a.temperature, a.vapour_pressure,
                                                  a.wind_10m),),
          "Steadman (1994) in shade, from air temperature, vapour pressure and the wind at 10 m"),
    Index(("wind_chill",), lambda a: (comfort.wind_chill(a.temperature, a.wind_10m),),
          "JAG/TI (2001) from air temperature and the wind at 10 m"),
)


def indices(air: Air, wanted: Callable[[str], bool]) -> dict[str, Any]:
    """The outputs of every row of ``INDICES`` of which an output is wanted."""
    out: dict[str, Any] = {}
    for row in INDICES:
        if any(wanted(name) for name in row.outputs):
            out.update(zip(row.outputs, row.compute(air)))
    return out


def indices_sources(has: set[str]) -> dict[str, str]:
    """Where each index comes from, given the inputs present."""
    pressure = ("air pressure as measured, else of the standard atmosphere at the height"
                if "air_pressure" in has else "air pressure of the standard atmosphere at the "
                "height")
    out = {name: row.source.replace("{pressure}", pressure)
           for row in INDICES for name in row.outputs if row.source}
    if "globe_temperature" in has:
        for name in ("wbgt", "globe_temperature"):
            out[name] = _MEASURED_GLOBE + out[name]
    return out
