"""Long-wave radiation and the ground: ERA5's fluxes where given, else the
sky's counter-radiation and the ground's energy balance modelled."""

from __future__ import annotations

from collections.abc import Callable
from functools import cache, partial
from typing import Any

import numpy as np

from quarnel import ufunc as U
from quarnel._elementwise import where
from quarnel.tmrt.chain.common import SIGMA, black_body, supplied, then_model
from quarnel.tmrt.settings import Assumptions

__all__ = ["HEAT_TRANSFER", "FREE_CONVECTION", "SOIL_SHARE", "surface_temperature",
           "longwave_and_ground", "longwave_sources"]

#: sensible heat transfer coefficient of the ground a + b·u [W m-2 K-1],
#: u the wind [m/s]: OberflTemp's
HEAT_TRANSFER = (6.2, 4.26)
#: free convection over a warm horizontal surface facing up, h = c·ΔT^(1/3)
#: [W m-2 K-4/3]: air, turbulent range (Holman, Heat Transfer, table 7-2)
FREE_CONVECTION = 1.52
#: share of the net radiation going into the soil, by day (net gain) and
#: by night: OberflTemp's
SOIL_SHARE = (0.19, 0.32)
# Newton steps from the balance with the emission to second order: its
# error (below a millikelvin but for the hottest, driest surfaces) squares
# with each step, to rounding within three.
_STEPS = 3
# Free convection exceeds the forced transfer only where ΔT exceeds
# (6.2 / 1.52)³ = 67.9 K: below, its branch is left out (the same values).
_FREE_FROM = (HEAT_TRANSFER[0] / FREE_CONVECTION) ** 3 - 0.5


def surface_temperature(gain: Any, air_temperature: Any, wind_speed: Any, emissivity: float,
                        bowen_ratio: float) -> Any:
    """Surface temperature [°C] of the ground from its closed energy balance.

    ``gain``: what the ground absorbs, short-wave plus ε L↓ [W m-2];
    ``air_temperature`` [°C]; ``wind_speed`` [m/s]; ``emissivity`` ε of the
    ground; ``bowen_ratio`` Bo, sensible over latent heat.

    The net radiation at the surface's own temperature Ts, Rn = gain −
    εσTs⁴, goes into the soil (a share c: 0.19 by day, 0.32 by night, as
    ``OberflTemp``) and into sensible and latent heat, H (1 + 1/Bo) with
    H = h (Ts − Ta):

        (1 − c) (gain − εσTs⁴) = h (1 + 1/Bo) (Ts − Ta)

    h = max(6.2 + 4.26 u, 1.52 (Ts − Ta)^(1/3)): ``OberflTemp``'s forced
    transfer, at least free convection over a warm surface (calm air).
    Linearised, εσTs⁴ ≈ εσTa⁴ + 4εσTa³ (Ts − Ta) (Monteith and Unsworth
    2013), it has the closed form Ts − Ta = (1 − c) Q* / (h (1 + 1/Bo) +
    (1 − c) 4εσTa³), Q* = gain − εσTa⁴; with the emission's next term,
    6εσTa² (Ts − Ta)², a quadratic, from whose root Newton's method solves
    the balance itself (to rounding). Bo = 0: the air's temperature. A
    negative Bowen ratio with no steady state (the radiative gain of the
    cooling surface outrunning the turbulent exchange): NaN.
    """
    t = air_temperature
    if bowen_ratio == 0:
        return t + 0.0 * gain
    tk = t + 273.15
    grey = emissivity * SIGMA
    square = tk * tk
    isothermal = gain - grey * (square * square)
    keep = 1.0 - where(isothermal > 0, SOIL_SHARE[0], SOIL_SHARE[1])
    turbulent = 1.0 + 1.0 / bowen_ratio
    transfer_forced = HEAT_TRANSFER[0] + HEAT_TRANSFER[1] * wind_speed
    forced = turbulent * transfer_forced
    exchange = forced + keep * 4.0 * grey * square * tk           # the linearised balance's
    steady = exchange > 0 if turbulent > 0 else exchange < 0
    curvature = keep * 6.0 * grey * square
    rest = keep * isothermal
    # a·ΔT² + b·ΔT = r, the root nearest the linear one's r/b
    root = np.sqrt(np.maximum(exchange * exchange + 4.0 * curvature * rest, 0.0))
    dt = 2.0 * rest / where(steady, exchange + np.copysign(root, exchange), np.nan)
    for _ in range(_STEPS):
        ts = tk + dt
        square = ts * ts
        emitted = grey * (square * square)
        transfer, slope = forced * dt, forced
        if not isinstance(dt, np.ndarray) or (dt > _FREE_FROM).any():
            free = FREE_CONVECTION * np.cbrt(np.maximum(dt, 0.0))
            calm = free > transfer_forced
            transfer = where(calm, turbulent * free * dt, transfer)
            slope = where(calm, turbulent * 4.0 / 3.0 * free, slope)
        balance = keep * (gain - emitted) - transfer
        dt = dt + balance / (keep * 4.0 * emitted / ts + slope)
    return t + dt


def longwave_and_ground(obs: dict[str, Any], vapour_pressure: Any, absorbed: Any,
                        assumptions: Assumptions, filling: bool) -> dict[str, Any]:
    """The sky's counter-radiation, the ground's radiation balance, surface
    temperature and long-wave radiation, from the observations and the
    short-wave radiation the ground absorbs; gaps in what was supplied
    stay gaps unless ``filling``."""
    t = obs["air_temperature"]
    eps = assumptions.ground_emissivity
    given_sky = obs.get("longwave_downward_radiation")
    sky = supplied(given_sky, lambda: U.AtmosGegenstr(t, vapour_pressure, obs["cloud_cover"]),
                   filling)

    # The ground's balance modelled: where the fluxes are measured, only
    # where one is missing and the model fills it.
    @cache
    def modelled() -> dict[str, Any]:
        gain = absorbed + eps * sky
        surface = surface_temperature(gain, t, obs["wind_speed"], eps, assumptions.bowen_ratio)
        emitted = eps * black_body(surface)
        return {"surface": surface, "balance": gain - emitted,
                "ground": emitted + (1 - eps) * sky}

    net_lw = obs.get("net_longwave_radiation")
    if net_lw is not None and given_sky is not None:
        upward = given_sky - net_lw
        emission = np.maximum(upward - (1 - eps) * sky, 0.0) / (eps * SIGMA)
        given = {"ground": upward, "surface": emission ** 0.25 - 273.15,
                 "balance": absorbed + net_lw}
        terms = {k: supplied(v, partial(_term, modelled, k), filling) for k, v in given.items()}
    else:
        terms = modelled()
    return {"counter_radiation": sky, "ground_radiation_balance": terms["balance"],
            "surface_temperature": terms["surface"], "ground_longwave_radiation": terms["ground"]}


def _term(terms: Callable[[], dict[str, Any]], name: str) -> Any:
    return terms()[name]


def longwave_sources(has: set[str], filling: bool = False) -> dict[str, str]:
    """Where ``longwave_and_ground`` takes each term from, given the inputs
    present: what was supplied, then the model where nothing was or
    ``filling``."""
    sky = ["measured longwave_downward_radiation"] if "longwave_downward_radiation" in has else []
    ground = ["longwave_downward_radiation - net_longwave_radiation"] if {
        "longwave_downward_radiation", "net_longwave_radiation"} <= has else []
    return {"counter_radiation": then_model(
                sky, "AtmosGegenstr from air temperature, vapour pressure and cloud", filling),
            "ground_longwave_radiation": then_model(
                ground, "surface temperature from the ground's closed energy balance (Monteith "
                "and Unsworth 2013, OberflTemp's transfer and soil share, free convection in "
                "calm air) as a grey body plus reflected sky", filling)}
