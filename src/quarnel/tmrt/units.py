"""Units: a variable's ``units`` attribute converted to the chain's unit of
its quantity, or refused with a UnitError naming what is understood."""

from __future__ import annotations

from typing import TYPE_CHECKING

import numpy as np

from quarnel.tmrt.quantities import INPUTS, RADIATION

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["UnitError", "conversion", "converted", "is_accumulated"]


class UnitError(ValueError):
    """A ``units`` attribute that cannot be converted to the quantity's unit."""


def _plain(unit: str) -> str:
    u = unit.strip().lower().replace("**", "").replace("^", "").replace(" ", "")
    return u.replace("⁻¹", "-1").replace("⁻²", "-2").replace("²", "2")


_TEMPERATURE = {
    **dict.fromkeys(["degc", "°c", "c", "celsius", "degreec", "degreesc", "deg_c",
                     "degree_celsius", "degrees_celsius"], (1.0, 0.0)),
    **dict.fromkeys(["k", "kelvin", "degk", "degrees_kelvin"], (1.0, -273.15)),
}
_FRACTION = ["1", "(0-1)", "0-1", "fraction", "dimensionless"]
_PERCENT = ["%", "percent", "pct"]
# accumulated [J m-2]: divided by the accumulation's length (quarnel.tmrt.accumulation)
_ACCUMULATED = ("jm-2", "j/m2")
# (scale, offset): value in the chain's unit = value * scale + offset
_UNITS: dict[str, dict[str, tuple[float, float]]] = {
    "air_temperature": _TEMPERATURE,
    "dew_point": _TEMPERATURE,
    "surface_temperature": _TEMPERATURE,
    "globe_temperature": _TEMPERATURE,
    "relative_humidity": {**dict.fromkeys(_PERCENT, (1.0, 0.0)),
                          **dict.fromkeys(_FRACTION, (100.0, 0.0))},
    **dict.fromkeys(("vapour_pressure", "air_pressure"), {
        **dict.fromkeys(["hpa", "mbar", "mb"], (1.0, 0.0)), "pa": (0.01, 0.0),
        "kpa": (10.0, 0.0)}),
    "cloud_cover": {**dict.fromkeys(["octas", "octa", "oktas", "okta", "eighths", "1/8"], (1.0, 0.0)),
                    **dict.fromkeys(_FRACTION, (8.0, 0.0)),
                    **dict.fromkeys(_PERCENT, (0.08, 0.0))},
    "wind_speed": {**dict.fromkeys(["ms-1", "m/s", "mps"], (1.0, 0.0)),
                   **dict.fromkeys(["kmh-1", "km/h"], (1 / 3.6, 0.0)),
                   **dict.fromkeys(["kn", "kt", "knot", "knots"], (1852 / 3600, 0.0))},
    **dict.fromkeys(RADIATION, {**dict.fromkeys(["wm-2", "w/m2"], (1.0, 0.0)),
                                **dict.fromkeys(_ACCUMULATED, (1.0, 0.0))}),
}
_EXPECTED = {
    "air_temperature": "K or °C", "dew_point": "K or °C", "relative_humidity": "% or a fraction",
    "surface_temperature": "K or °C", "globe_temperature": "K or °C",
    "vapour_pressure": "hPa, Pa or kPa", "air_pressure": "hPa, Pa or kPa",
    "cloud_cover": "octas, a fraction (0 - 1) or %",
    "wind_speed": "m s-1, km h-1 or knots",
    **dict.fromkeys(RADIATION, "W m-2, or J m-2 accumulated"),
}


def conversion(quantity: str, source: str, unit: object) -> tuple[float, float]:
    """(scale, offset) from ``unit`` to the chain's unit of the quantity."""
    if not isinstance(unit, str):
        raise UnitError(f"variable '{source}': units attribute {unit!r} is not text")
    try:
        return _UNITS[quantity][_plain(unit)]
    except KeyError:
        raise UnitError(f"variable '{source}': unit '{unit}' is not understood for "
                        f"{INPUTS[quantity].long_name} (expected {_EXPECTED[quantity]})") from None


def converted(da: xr.DataArray, quantity: str, source: str) -> xr.DataArray:
    """The variable in float64 and the chain's unit of its quantity."""
    unit = da.attrs.get("units")
    scale, offset = (1.0, 0.0) if unit is None else conversion(quantity, source, unit)
    if isinstance(da.data, np.ndarray):
        # In memory: one pass from the stored type where xarray takes three,
        # the same operations (a float64 product, then the sum).
        if scale == 1.0:        # x * 1.0 is x
            values = np.add(da.data, offset, dtype=np.float64)
        else:
            values = np.multiply(da.data, scale, dtype=np.float64)
            values += offset
        scaled = da.copy(deep=False, data=values)
        scaled.encoding = {}
    else:
        scaled = da.astype(np.float64)
        if (scale, offset) != (1.0, 0.0):
            scaled = scaled * scale + offset
    return scaled.assign_attrs(units=INPUTS[quantity].unit)


def is_accumulated(da: xr.DataArray) -> bool:
    """Whether a variable's ``units`` say it is accumulated (J m-2)."""
    unit = da.attrs.get("units")
    return isinstance(unit, str) and _plain(unit) in _ACCUMULATED

