"""Humidity: what is measured, the rest through the Magnus formula."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel._elementwise import where
from quarnel.tmrt.chain.common import fill, first_or

__all__ = ["saturation_vapour_pressure", "dew_point", "humidity"]


def saturation_vapour_pressure(t: Any) -> Any:
    """Saturation vapour pressure over water [hPa] at t [°C]; Magnus formula
    with the coefficients of Sonntag (1990)."""
    return 6.112 * np.exp(17.62 * t / (243.12 + t))


def dew_point(e: Any) -> Any:
    """Dew point [°C] of the vapour pressure e [hPa]: the Magnus formula inverted."""
    x = np.log(e / 6.112)
    return 243.12 * x / (17.62 - x)


def humidity(obs: dict[str, Any]) -> dict[str, Any]:
    """Vapour pressure [hPa], relative humidity [%] and dew point [°C], each
    as measured where it is, else derived: the vapour pressure from the
    dew point, else from the relative humidity, element by element. Above
    saturation (a few per cent at most: ``checks.humidity_checked`` refuses
    more) each is taken as saturation: e at E(T), RH 100 %, the dew point
    the air temperature."""
    t = obs["air_temperature"]
    sat = saturation_vapour_pressure(t)
    estimates = []
    if "dew_point" in obs:
        estimates.append(saturation_vapour_pressure(obs["dew_point"]))
    if "relative_humidity" in obs:
        estimates.append(obs["relative_humidity"] / 100.0 * sat)
    e = obs["vapour_pressure"] if "vapour_pressure" in obs else estimates.pop(0)
    for estimate in estimates:
        e = fill(e, estimate)
    e = where(e > sat, sat, e)
    rh = np.minimum(100.0 * e / sat, 100.0)
    if "relative_humidity" in obs:
        rh = fill(np.minimum(obs["relative_humidity"], 100.0), rh)
    measured_td = obs.get("dew_point")
    if measured_td is not None:
        measured_td = where(measured_td > t, t, measured_td)
    td = first_or([measured_td], lambda: dew_point(where(e > 0, e, np.nan)))
    return {"vapour_pressure": e, "relative_humidity": rh, "dew_point": td}
