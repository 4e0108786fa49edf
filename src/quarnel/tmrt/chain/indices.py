"""Heat-stress indices of the sunlit and the shaded person."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel import comfort

__all__ = ["WIND_UTCI_LOW", "indices", "indices_sources"]

WIND_UTCI_LOW = 0.5        # UTCI's lowest 10 m wind speed [m/s]: calmer air is taken as this


def indices(air_temperature: Any, wind_speed: Any, vapour_pressure: Any, tmrt: Any,
            tmrt_shade: Any) -> dict[str, Any]:
    """UTCI [°C] (Bröde et al. 2012) in the sun and in shade, and their
    assessment classes."""
    wind = np.maximum(wind_speed, WIND_UTCI_LOW)
    utci = comfort.utci(air_temperature, tmrt, wind, vapour_pressure)
    utci_shade = comfort.utci(air_temperature, tmrt_shade, wind, vapour_pressure)
    return {"utci": utci, "utci_shade": utci_shade,
            "utci_category": comfort.utci_category(utci),
            "utci_category_shade": comfort.utci_category(utci_shade)}


def indices_sources() -> dict[str, str]:
    utci = "UTCI polynomial (Broede et al. 2012), wind below 0.5 m/s taken as 0.5"
    return {"utci": utci, "utci_shade": utci}
