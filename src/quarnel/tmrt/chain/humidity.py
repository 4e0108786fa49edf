"""Humidity: what is measured, the rest through the Magnus formula."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel._elementwise import where
from quarnel.tmrt.chain.common import fill

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
    dew point, else from the relative humidity, element by element."""
    sat = saturation_vapour_pressure(obs["air_temperature"])
    estimates = []
    if "dew_point" in obs:
        estimates.append(saturation_vapour_pressure(obs["dew_point"]))
    if "relative_humidity" in obs:
        estimates.append(obs["relative_humidity"] / 100.0 * sat)
    e = obs["vapour_pressure"] if "vapour_pressure" in obs else estimates.pop(0)
    for estimate in estimates:
        e = fill(e, estimate)
    rh = np.minimum(100.0 * e / sat, 100.0)
    if "relative_humidity" in obs:
        rh = fill(obs["relative_humidity"], rh)
    td = dew_point(where(e > 0, e, np.nan))
    if "dew_point" in obs:
        td = fill(obs["dew_point"], td)
    return {"vapour_pressure": e, "relative_humidity": rh, "dew_point": td}
