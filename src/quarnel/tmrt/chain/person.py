"""The person: the mean radiant temperature of a standing person in the sun
and in shade (docs/reference.md, "The person")."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel import comfort
from quarnel import ufunc as U
from quarnel._elementwise import outputs
from quarnel.tmrt.chain.common import black_body
from quarnel.tmrt.settings import Assumptions, Projection

__all__ = ["PERSON_EMISSIVITY", "projected_area_factor", "person", "person_sources"]

PERSON_EMISSIVITY = 0.97   # long-wave emissivity of a person (VDI 3787-2), as in the module


def projected_area_factor(elevation: Any) -> Any:
    """Projected area factor f_p [1] of a standing person for the direct
    beam from the sun's elevation γ [°]: 0.308 cos(γ (0.998 − γ²/50000))
    (Jendritzky et al. 1990; VDI 3787-2, 2008; the factor of ERA5-HEAT,
    Di Napoli et al. 2020): 0.308 at the horizon, 0.174 at 60°, 0.079 with
    the sun overhead."""
    return 0.308 * np.cos(np.radians(elevation * (0.998 - elevation * elevation / 50000.0)))


def person(air_temperature: Any, sky: Any, ground: Any, diffuse: Any, reflected: Any,
           direct: Any, sun_zenith: Any, assumptions: Assumptions) -> dict[str, Any]:
    """Tmrt [°C] in the sun and in shade (no direct beam). The person sees
    half of each hemisphere; of the upper half the sky is the sky view
    factor, the rest trees or walls at air temperature."""
    svf = assumptions.sky_view_factor
    above = 0.5 * (1 - svf) * black_body(air_temperature)
    below = 0.5 * ground
    from_sky = 0.5 * svf * sky
    scattered = 0.5 * svf * diffuse + 0.5 * reflected
    if assumptions.projection_factor == "module":
        albedo = assumptions.person_albedo
        tmrt = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, direct, albedo)
        tmrt_shade = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, 0.0 * direct,
                                    albedo)
    else:
        # In the sun and in shade at once (comfort.standing_person).
        absorption = (1 - assumptions.person_albedo) / PERSON_EMISSIVITY
        tmrt, tmrt_shade = outputs(comfort.standing_person, sun_zenith, above + below + from_sky,
                                   scattered, direct, absorption)
    return {"mean_radiant_temperature": tmrt, "mean_radiant_temperature_shade": tmrt_shade}


def person_sources(projection_factor: Projection) -> dict[str, str]:
    fp = ("projection factor of Jendritzky et al. (1990), VDI 3787-2"
          if projection_factor == "published" else "projection factor of MittlStrTemp")
    return {"mean_radiant_temperature": f"standing person in the sun, {fp}",
            "mean_radiant_temperature_shade": "standing person in shade (no direct beam)"}
