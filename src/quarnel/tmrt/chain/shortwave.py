"""Short-wave radiation: measured terms as given; direct and diffuse split
off a measured global radiation (DISC); where nothing is measured, the
clear sky under cloud, split the same way."""

from __future__ import annotations

from collections.abc import Callable
from functools import cached_property
from typing import Any

import numpy as np

from quarnel import ufunc as U
from quarnel._elementwise import where
from quarnel.tmrt.chain.common import first, given, supplied, then_model
from quarnel.tmrt.chain.sun import Sun, when
from quarnel.tmrt.decomposition import extraterrestrial_normal, split_global, station_pressure
from quarnel.tmrt.settings import Assumptions

__all__ = ["ClearSky", "CLEAR_SKY", "clear_sky", "shortwave", "shortwave_sources"]


#: LinkeTruebung's relative humidity below 85 %: its seasonal cycle alone
DRY = 0.0


class ClearSky:
    """The clear sky of the module's functions (MaxGlobalstrahlung,
    MaxDirekteStrahlung) with a climatological Linke turbidity, the
    seasonal cycle of LinkeTruebung at every humidity, and the sun paired
    with the radiation: the stamp's, or over an interval the sun of its mean
    cos z over the sunlit part, the fluxes scaled by that part (interval
    means). Each term computed when first used: where radiation is
    measured, only as an output asked for or where the model fills."""

    def __init__(self, day: Any, latitude: Any, height: Any, sun: Sun,
                 over_interval: bool) -> None:
        self.day, self.latitude, self.height = day, latitude, height
        self.sun, self.over_interval = sun, over_interval

    @cached_property
    def zenith(self) -> Any:
        return where(self.sun.sunlit > 0, self.sun.paired_zenith, self.sun.zenith)

    def _mean(self, flux: Any) -> Any:
        return self.sun.sunlit * flux if self.over_interval else flux

    @cached_property
    def linke_turbidity(self) -> Any:
        return U.LinkeTruebung(self.day, self.latitude, DRY)

    @cached_property
    def airmass(self) -> Any:
        return U.RelOptLuftmasse(self.zenith)

    @cached_property
    def relative_air_mass(self) -> Any:
        return where(self.airmass == 999.0, np.nan, self.airmass)

    @cached_property
    def clear_sky_direct_radiation(self) -> Any:
        return self._mean(U.MaxDirekteStrahlung(self.day, self.height, self.zenith,
                                                self.linke_turbidity, self.airmass))

    @cached_property
    def clear_sky_global_radiation(self) -> Any:
        return self._mean(U.MaxGlobalstrahlung(self.day, self.height, self.zenith,
                                               self.linke_turbidity))

    def outputs(self, wanted: Callable[[str], bool]) -> dict[str, Any]:
        return {name: getattr(self, name) for name in CLEAR_SKY if wanted(name)}


CLEAR_SKY = ("linke_turbidity", "relative_air_mass", "clear_sky_direct_radiation",
             "clear_sky_global_radiation")


def clear_sky(day: Any, latitude: Any, height: Any, sun: Sun, over_interval: bool) -> ClearSky:
    """The clear sky of the module's functions with the sun paired with the
    radiation (``ClearSky``)."""
    return ClearSky(day, latitude, height, sun, over_interval)


def shortwave(obs: dict[str, Any], sun: Sun, day: Any, height: Any, clear: ClearSky,
              assumptions: Assumptions, filling: bool) -> dict[str, Any]:
    """Global, direct (normal to the beam), diffuse and reflected radiation
    [W m-2], each from the first source that is not missing (see
    ``shortwave_sources``), and ``absorbed``, what the ground absorbs. The
    model stands in where nothing was supplied for a term; where something
    was, its gaps stay gaps unless ``filling``."""
    n = obs["cloud_cover"]
    mu, sunlit = sun.mu, sun.sunlit
    g = obs.get("global_radiation")
    dni = obs.get("direct_normal_radiation")
    dhi = obs.get("diffuse_radiation")
    fdir = obs.get("direct_horizontal_radiation")
    measured_global = given(g, None if dni is None or dhi is None else dhi + dni * mu)
    global_ = supplied(measured_global, lambda: clear.clear_sky_global_radiation * (
        1 - assumptions.cloud_factor * (n / 8) ** assumptions.cloud_exponent), filling)
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
    # The model's beam: the same split of the (modelled) global radiation,
    # so that it never exceeds what that allows.
    direct = supplied(given(dni, from_horizontal, from_diffuse, split),
                      lambda: split_global(global_, mu, sunlit, day, pressure)[0], filling)
    derived_diffuse = np.maximum(global_ - direct * mu, 0.0)
    if dhi is not None and measured_global is None:
        # nothing supplied for the global radiation: the rest is the model's
        diffuse = supplied(dhi, lambda: derived_diffuse, filling)
    else:
        diffuse = given(dhi, derived_diffuse)
    net_sw = obs.get("net_shortwave_radiation")
    reflected = supplied(None if net_sw is None else np.maximum(global_ - net_sw, 0.0),
                         lambda: assumptions.ground_albedo * global_, filling)
    absorbed = supplied(net_sw, lambda: (1 - assumptions.ground_albedo) * global_, filling)
    return {"direct_radiation": direct, "global_radiation": global_,
            "diffuse_radiation": diffuse, "reflected_radiation": reflected,
            "absorbed": absorbed}


def shortwave_sources(has: set[str], accumulation_hours: float, interval_end: float = 0.0,
                      filling: bool = False) -> dict[str, str]:
    """Where ``shortwave`` takes each term from, given the inputs present:
    what was supplied, then the model where nothing was or ``filling``."""
    sun = when(accumulation_hours, interval_end)
    modelled_global = ("clear sky (MaxGlobalstrahlung, seasonal Linke turbidity) reduced by cloud "
                       f"(Kasten and Czeplak 1980), {sun}")
    glob = ["measured global_radiation"] if "global_radiation" in has else []
    if {"direct_normal_radiation", "diffuse_radiation"} <= has:
        glob.append("diffuse + direct normal x cos z")
    direct: list[str] = []
    if "direct_normal_radiation" in has:
        direct.append("measured direct_normal_radiation")
    if "direct_horizontal_radiation" in has:
        direct.append(f"direct_horizontal_radiation / cos z, {sun}")
    if {"global_radiation", "diffuse_radiation"} <= has:
        direct.append(f"(global - diffuse) / cos z, {sun}")
    if "global_radiation" in has:
        direct.append(f"DISC decomposition (Maxwell 1987) of global_radiation, {sun}")
    measured_diffuse = ["measured diffuse_radiation"] if "diffuse_radiation" in has else []
    derived = "global - direct x cos z"
    reflected = ["global - net_shortwave_radiation"] if "net_shortwave_radiation" in has else []
    return {
        "global_radiation": then_model(glob, modelled_global, filling),
        "direct_radiation": then_model(direct, "DISC decomposition (Maxwell 1987) of the "
                                               "modelled global radiation", filling),
        # with nothing supplied for the global radiation the derived diffuse is the model's
        "diffuse_radiation": then_model(measured_diffuse, derived, filling) if not glob
        else "; else ".join(measured_diffuse + [derived]),
        "reflected_radiation": then_model(reflected, "ground albedo x global", filling),
    }
