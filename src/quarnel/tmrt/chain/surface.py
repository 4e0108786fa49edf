"""Measured surfaces: a four-component radiometer's upward fluxes and a
measured surface temperature, used as given; where they are missing (NaN)
the terms are missing, or with the model filling gaps, the modelled ones."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel.tmrt.chain.common import SIGMA, black_body, first
from quarnel.tmrt.settings import Assumptions

__all__ = ["measured_shortwave", "measured_longwave", "surface_sources"]


def measured_shortwave(obs: dict[str, Any], sw: dict[str, Any], filling: bool) -> dict[str, Any]:
    """The reflected radiation and what the ground absorbs, from a measured
    upward short-wave flux where there is one (its gaps the model's only
    where ``filling``)."""
    up = obs.get("shortwave_upward_radiation")
    if up is None:
        return {}
    return {"reflected_radiation": first(up, sw["reflected_radiation"] if filling else None),
            "absorbed": first(obs.get("net_shortwave_radiation"),
                              np.maximum(sw["global_radiation"] - up, 0.0),
                              sw["absorbed"] if filling else None)}


def measured_longwave(obs: dict[str, Any], lw: dict[str, Any], absorbed: Any,
                      assumptions: Assumptions, filling: bool) -> dict[str, Any]:
    """The ground's long-wave radiation, surface temperature and radiation
    balance from a measured upward long-wave flux, else from a measured
    surface temperature (a grey body of the ground's emissivity reflecting
    the sky), else (``filling``) as modelled."""
    up = obs.get("longwave_upward_radiation")
    ts = obs.get("surface_temperature")
    if up is None and ts is None:
        return {}
    eps = assumptions.ground_emissivity
    sky = lw["counter_radiation"]
    emitted = None if ts is None else eps * black_body(ts)
    from_up = None if up is None else (
        np.maximum(up - (1 - eps) * sky, 0.0) / (eps * SIGMA)) ** 0.25 - 273.15
    def model(name: str) -> Any:
        return lw[name] if filling else None
    return {
        "ground_longwave_radiation": first(up, None if ts is None else emitted + (1 - eps) * sky,
                                           model("ground_longwave_radiation")),
        "surface_temperature": first(ts, from_up, model("surface_temperature")),
        "ground_radiation_balance": first(
            None if up is None else absorbed + sky - up,
            None if ts is None else absorbed + eps * sky - emitted,
            model("ground_radiation_balance")),
    }


def surface_sources(has: set[str]) -> dict[str, list[str]]:
    """The measured sources ``measured_*`` put before the modelled ones."""
    out: dict[str, list[str]] = {}
    if "shortwave_upward_radiation" in has:
        out["reflected_radiation"] = ["measured shortwave_upward_radiation"]
    ground = (["measured longwave_upward_radiation"] if "longwave_upward_radiation" in has
              else [])
    if "surface_temperature" in has:
        ground.append("measured surface_temperature as a grey body plus reflected sky")
    if ground:
        out["ground_longwave_radiation"] = ground
    return out
