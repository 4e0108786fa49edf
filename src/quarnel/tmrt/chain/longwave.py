"""Long-wave radiation and the ground: ERA5's fluxes where given, else the
sky's counter-radiation and the ground's balance modelled."""

from __future__ import annotations

from functools import cache
from typing import Any

import numpy as np

from quarnel import ufunc as U
from quarnel.tmrt.chain.common import SIGMA, black_body, first_or
from quarnel.tmrt.settings import Assumptions

__all__ = ["longwave_and_ground", "longwave_sources"]


def longwave_and_ground(obs: dict[str, Any], vapour_pressure: Any, absorbed: Any,
                        air_radiation: Any, assumptions: Assumptions) -> dict[str, Any]:
    """The sky's counter-radiation, the ground's radiation balance, surface
    temperature and long-wave radiation, from the observations, the
    short-wave radiation the ground absorbs and the black body at the air
    temperature (``air_radiation`` [W m-2])."""
    t = obs["air_temperature"]
    eps = assumptions.ground_emissivity
    sky = first_or([obs.get("longwave_downward_radiation")],
                   lambda: U.AtmosGegenstr(t, vapour_pressure, obs["cloud_cover"]))

    # The ground's balance modelled: where the fluxes are measured, only
    # where one is missing.
    @cache
    def modelled_balance() -> Any:
        return absorbed + eps * sky - eps * air_radiation

    @cache
    def modelled_surface() -> Any:
        return U.OberflTemp(modelled_balance(), t, obs["wind_speed"], assumptions.bowen_ratio)

    @cache
    def modelled_ground() -> Any:
        return eps * black_body(modelled_surface()) + (1 - eps) * sky

    net_lw = obs.get("net_longwave_radiation")
    if net_lw is not None and "longwave_downward_radiation" in obs:
        upward = obs["longwave_downward_radiation"] - net_lw
        ground = first_or([upward], modelled_ground)
        emitted = np.maximum(upward - (1 - eps) * sky, 0.0) / (eps * SIGMA)
        surface = first_or([emitted ** 0.25 - 273.15], modelled_surface)
        balance = first_or([absorbed + net_lw], modelled_balance)
    else:
        ground, surface, balance = modelled_ground(), modelled_surface(), modelled_balance()
    return {"counter_radiation": sky, "ground_radiation_balance": balance,
            "surface_temperature": surface, "ground_longwave_radiation": ground}


def longwave_sources(has: set[str]) -> dict[str, str]:
    """Where ``longwave_and_ground`` takes each term from, given the inputs present."""
    sky = ["measured longwave_downward_radiation"] if "longwave_downward_radiation" in has else []
    sky.append("AtmosGegenstr from air temperature, vapour pressure and cloud")
    ground = ["longwave_downward_radiation - net_longwave_radiation"] if {
        "longwave_downward_radiation", "net_longwave_radiation"} <= has else []
    ground.append("surface temperature (OberflTemp) as a grey body plus reflected sky")
    return {"counter_radiation": "; else ".join(sky),
            "ground_longwave_radiation": "; else ".join(ground)}
