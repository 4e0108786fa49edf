"""Which variable holds which quantity: the one lookup of names.

A quantity is found under the name ``names`` gives it, else under its own
(standard) name, else under an ERA5 name (short, as in the GRIB and
NetCDF files ERA5 is delivered in, or long, as in the analysis-ready Zarr
stores), else as the one variable whose CF ``standard_name`` attribute is
the quantity's. ERA5's units are K, 0 - 1, m s-1, and J m-2 accumulated
for the fluxes; the wind comes as its components ``eastward_wind`` and
``northward_wind`` (CF names).
"""

from __future__ import annotations

from collections.abc import Collection, Mapping
from typing import Any

from quarnel.tmrt.quantities import HUMIDITY, INPUTS, REQUIRED

__all__ = ["ERA5_NAMES", "SHORT_NAMES", "ERA5_WIND", "OROGRAPHY", "GRAVITY", "standard_name",
           "era5_quantities", "orography", "needed", "present"]

#: ERA5 short name, long name, and the standard name of the quantity
_ERA5: tuple[tuple[str, str, str], ...] = (
    ("t2m", "2m_temperature", "air_temperature"),
    ("d2m", "2m_dewpoint_temperature", "dew_point"),
    ("tcc", "total_cloud_cover", "cloud_cover"),
    ("u10", "10m_u_component_of_wind", "eastward_wind"),
    ("v10", "10m_v_component_of_wind", "northward_wind"),
    ("ssrd", "surface_solar_radiation_downwards", "global_radiation"),
    ("fdir", "total_sky_direct_solar_radiation_at_surface", "direct_horizontal_radiation"),
    ("strd", "surface_thermal_radiation_downwards", "longwave_downward_radiation"),
    ("ssr", "surface_net_solar_radiation", "net_shortwave_radiation"),
    ("str", "surface_net_thermal_radiation", "net_longwave_radiation"),
    ("sp", "surface_pressure", "air_pressure"),
)

#: every ERA5 name, short and long -> the standard name of its quantity
ERA5_NAMES: dict[str, str] = {
    **{short: standard for short, _, standard in _ERA5},
    **{long: standard for _, long, standard in _ERA5},
}

#: ERA5 long name -> short name
SHORT_NAMES: dict[str, str] = {long: short for short, long, _ in _ERA5}

#: the wind's components: the short names, then the long ones
ERA5_WIND = (("u10", "v10"), ("10m_u_component_of_wind", "10m_v_component_of_wind"))

# quantity -> its ERA5 names, short first
_CANDIDATES: dict[str, tuple[str, ...]] = {}
for _short, _long, _quantity in _ERA5:
    if _quantity in INPUTS:
        _CANDIDATES[_quantity] = (_short, _long)


def standard_name(name: str) -> str | None:
    """The standard quantity name of an ERA5 variable name, or None."""
    return ERA5_NAMES.get(name)


def era5_quantities(variables: Mapping[Any, Any], names: Mapping[str, str]) -> dict[str, str]:
    """``names`` completed: quantity -> variable, for the quantities that
    neither ``names`` nor a variable of their own name give, by ERA5 name,
    else by the CF ``standard_name`` attribute of exactly one variable not
    taken otherwise. ``variables`` maps names to objects with ``attrs``
    (a Dataset's ``data_vars``)."""
    found = dict(names)
    taken = set(found.values())
    for q, candidates in _CANDIDATES.items():
        if q not in found and q not in variables:
            hit = next((c for c in candidates if c in variables), None)
            if hit is not None:
                found[q] = hit
                taken.add(hit)
    for q, quantity in INPUTS.items():
        cf = quantity.attrs.get("standard_name")
        if cf is None or q in found or q in variables:
            continue
        matches = [str(v) for v, da in variables.items()
                   if getattr(da, "attrs", {}).get("standard_name") == cf and str(v) not in taken]
        if len(matches) == 1:
            found[q] = matches[0]
            taken.add(matches[0])
    return found


#: ERA5's orography, the surface's geopotential [m2 s-2]: short name, long names
OROGRAPHY = ("z", "geopotential_at_surface", "geopotential")
#: the standard acceleration of gravity [m s-2] (ERA5's orography / g = height)
GRAVITY = 9.80665


def orography(variables: Mapping[Any, Any], names: Mapping[str, str]) -> str | None:
    """The variable holding the surface's geopotential (or ``names["height"]``),
    else the one variable whose CF ``standard_name`` says so, or None."""
    if "height" in names:
        return names["height"]
    hit = next((v for v in OROGRAPHY if v in variables), None)
    if hit is not None:
        return hit
    matches = [str(v) for v, da in variables.items() if getattr(da, "attrs", {}).get(
        "standard_name") in ("surface_geopotential", "surface_altitude")]
    return matches[0] if len(matches) == 1 else None


def needed(found: Collection[str]) -> tuple[str, ...]:
    """The quantities that must be given, with those found: cloud cover
    only where radiation is modelled from it (no short-wave, global or
    direct and diffuse, or no long-wave downwards given)."""
    shortwave = "global_radiation" in found or {"direct_normal_radiation",
                                                "diffuse_radiation"} <= set(found)
    if shortwave and "longwave_downward_radiation" in found:
        return tuple(q for q in REQUIRED if q != "cloud_cover")
    return REQUIRED


def present(available: Collection[Any], names: Mapping[str, str]) -> dict[str, str]:
    """Quantity -> the column or variable holding it, for the quantities
    present; KeyError naming what is missing of what is needed."""
    found = {}
    for quantity in INPUTS:
        source = names.get(quantity, quantity)
        if source in available:
            found[quantity] = source
    missing = [q for q in needed(found) if q not in found]
    if missing:
        q = missing[0]
        raise KeyError(f"no {INPUTS[q].long_name}: expected a column or variable "
                       f"'{names.get(q, q)}'")
    if not any(q in found for q in HUMIDITY):
        raise KeyError("no humidity: expected one of " + ", ".join(
            f"'{names.get(q, q)}'" for q in HUMIDITY))
    return found
