"""ERA5 single-level variable names and the quantity each holds.

Short names are those of the GRIB and NetCDF files ERA5 is delivered in;
long names those of the analysis-ready Zarr stores. Each maps to the
standard name of the quantity in quarnel.tmrt (``air_temperature``, ...);
the wind components to the CF names ``eastward_wind`` and ``northward_wind``.
Units are ERA5's: K, 0 - 1, m s-1, and J m-2 accumulated for the fluxes.
"""

from __future__ import annotations

__all__ = ["ERA5_NAMES", "SHORT_NAMES", "standard_name"]

#: ERA5 short name -> ERA5 long name -> standard quantity name
_TABLE: tuple[tuple[str, str, str], ...] = (
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
)

#: every ERA5 name, short and long -> the standard name of its quantity
ERA5_NAMES: dict[str, str] = {
    **{short: standard for short, _, standard in _TABLE},
    **{long: standard for _, long, standard in _TABLE},
}

#: ERA5 long name -> short name
SHORT_NAMES: dict[str, str] = {long: short for short, long, _ in _TABLE}


def standard_name(name: str) -> str | None:
    """The standard quantity name of an ERA5 variable name, or None."""
    return ERA5_NAMES.get(name)
