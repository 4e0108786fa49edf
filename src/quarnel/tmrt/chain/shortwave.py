"""Short-wave radiation: measured terms as given; direct and diffuse split
off a measured global radiation (DISC); the clear sky under cloud where
nothing is measured."""

from __future__ import annotations

from collections.abc import Callable
from functools import cached_property
from typing import Any

import numpy as np

from quarnel import ufunc as U
from quarnel._elementwise import where
from quarnel.tmrt.chain.common import first, first_or
from quarnel.tmrt.chain.sun import Sun, when
from quarnel.tmrt.decomposition import extraterrestrial_normal, split_global, station_pressure
from quarnel.tmrt.settings import Assumptions

__all__ = ["ClearSky", "CLEAR_SKY", "clear_sky", "shortwave", "shortwave_sources"]


class ClearSky:
    """The clear sky of the module's functions at the stamp's sun, each
    term computed when first used: where radiation is measured, only as
    an output asked for or where a measurement is missing."""

    def __init__(self, day: Any, latitude: Any, height: Any, zenith: Any,
                 relative_humidity: Any) -> None:
        self.day, self.latitude, self.height, self.zenith = day, latitude, height, zenith
        self.relative_humidity = relative_humidity

    @cached_property
    def linke_turbidity(self) -> Any:
        return U.LinkeTruebung(self.day, self.latitude, self.relative_humidity)

    @cached_property
    def airmass(self) -> Any:
        return U.RelOptLuftmasse(self.zenith)

    @cached_property
    def relative_air_mass(self) -> Any:
        return where(self.airmass == 999.0, np.nan, self.airmass)

    @cached_property
    def clear_sky_direct_radiation(self) -> Any:
        return U.MaxDirekteStrahlung(self.day, self.height, self.zenith, self.linke_turbidity,
                                     self.airmass)

    @cached_property
    def clear_sky_global_radiation(self) -> Any:
        return U.MaxGlobalstrahlung(self.day, self.height, self.zenith, self.linke_turbidity)

    def outputs(self, wanted: Callable[[str], bool]) -> dict[str, Any]:
        return {name: getattr(self, name) for name in CLEAR_SKY if wanted(name)}


CLEAR_SKY = ("linke_turbidity", "relative_air_mass", "clear_sky_direct_radiation",
             "clear_sky_global_radiation")


def clear_sky(day: Any, latitude: Any, height: Any, zenith: Any,
              relative_humidity: Any) -> ClearSky:
    """The clear sky of the module's functions at the stamp's sun."""
    return ClearSky(day, latitude, height, zenith, relative_humidity)


def shortwave(obs: dict[str, Any], sun: Sun, day: Any, height: Any, clear: ClearSky,
              assumptions: Assumptions) -> dict[str, Any]:
    """Global, direct (normal to the beam), diffuse and reflected radiation
    [W m-2], each from the first source that is not missing (see
    ``shortwave_sources``), and ``absorbed``, what the ground absorbs."""
    n = obs["cloud_cover"]
    mu, sunlit = sun.mu, sun.sunlit
    g = obs.get("global_radiation")
    dni = obs.get("direct_normal_radiation")
    dhi = obs.get("diffuse_radiation")
    fdir = obs.get("direct_horizontal_radiation")
    global_ = first_or([g, None if dni is None or dhi is None else dhi + dni * mu],
                       lambda: clear.clear_sky_global_radiation * (
                           1 - assumptions.cloud_factor * (n / 8) ** assumptions.cloud_exponent))
    up = mu > 0
    safe_mu = where(up, mu, 1.0)
    # A beam from the horizontal one, at most the interval's share of the
    # extraterrestrial beam (where reanalysis and this sun disagree at dawn).
    beam_cap: Any = None if fdir is None and dhi is None else sunlit * extraterrestrial_normal(day)
    from_horizontal = None if fdir is None else where(
        up, np.minimum(fdir / safe_mu, beam_cap), 0.0)
    from_diffuse = None if g is None or dhi is None else where(
        up, np.minimum(np.maximum(g - dhi, 0.0) / safe_mu, beam_cap), 0.0)
    pressure = station_pressure(height)
    if "air_pressure" in obs:
        pressure = first(100.0 * obs["air_pressure"], pressure)
    split = None if g is None else split_global(g, mu, sunlit, day, pressure)[0]
    direct = first_or([dni, from_horizontal, from_diffuse, split],
                      lambda: U.DirStrMBew(clear.clear_sky_direct_radiation, n))
    diffuse = first(dhi, np.maximum(global_ - direct * mu, 0.0))
    net_sw = obs.get("net_shortwave_radiation")
    reflected = first(None if net_sw is None else np.maximum(global_ - net_sw, 0.0),
                      assumptions.ground_albedo * global_)
    absorbed = first(net_sw, (1 - assumptions.ground_albedo) * global_)
    return {"direct_radiation": direct, "global_radiation": global_,
            "diffuse_radiation": diffuse, "reflected_radiation": reflected,
            "absorbed": absorbed}


def shortwave_sources(has: set[str], accumulation_hours: float,
                      interval_end: float = 0.0) -> dict[str, str]:
    """Where ``shortwave`` takes each term from, given the inputs present."""
    sun = when(accumulation_hours, interval_end)
    modelled_global = "clear sky (MaxGlobalstrahlung) reduced by cloud (Kasten and Czeplak 1980)"
    glob = ["measured global_radiation"] if "global_radiation" in has else []
    if {"direct_normal_radiation", "diffuse_radiation"} <= has:
        glob.append("diffuse + direct normal x cos z")
    direct = []
    if "direct_normal_radiation" in has:
        direct.append("measured direct_normal_radiation")
    if "direct_horizontal_radiation" in has:
        direct.append(f"direct_horizontal_radiation / cos z, {sun}")
    if {"global_radiation", "diffuse_radiation"} <= has:
        direct.append(f"(global - diffuse) / cos z, {sun}")
    if "global_radiation" in has:
        direct.append(f"DISC decomposition (Maxwell 1987) of global_radiation, {sun}")
    direct.append("clear sky (MaxDirekteStrahlung) under cloud (DirStrMBew)")
    diffuse = ["measured diffuse_radiation"] if "diffuse_radiation" in has else []
    diffuse.append("global - direct x cos z")
    return {
        "global_radiation": "; else ".join(glob + [modelled_global]),
        "direct_radiation": "; else ".join(direct),
        "diffuse_radiation": "; else ".join(diffuse),
        "reflected_radiation": "; else ".join(
            (["global - net_shortwave_radiation"] if "net_shortwave_radiation" in has else [])
            + ["ground albedo x global"]),
    }
