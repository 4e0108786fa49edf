"""The person: the mean radiant temperature of a standing person in the sun
and in shade (docs/reference.md, "The person")."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel import comfort
from quarnel import ufunc as U
from quarnel._elementwise import outputs, where
from quarnel.tmrt.chain.common import SIGMA, black_body
from quarnel.tmrt.settings import Assumptions, Projection

__all__ = ["PERSON_EMISSIVITY", "GLOBE_EMISSIVITY", "GLOBE_HEIGHT", "projected_area_factor",
           "person", "radiant_temperature", "globe_mean_radiant_temperature", "person_sources"]

PERSON_EMISSIVITY = 0.97   # long-wave emissivity of a person (VDI 3787-2), as in the module


def projected_area_factor(elevation: Any) -> Any:
    """Projected area factor f_p [1] of a standing person for the direct
    beam from the sun's elevation γ [°]: 0.308 cos(γ (0.998 − γ²/50000))
    (Jendritzky et al. 1990; VDI 3787-2, 2008; the factor of ERA5-HEAT,
    Di Napoli et al. 2020): 0.308 at the horizon, 0.174 at 60°, 0.079 with
    the sun overhead."""
    return 0.308 * np.cos(np.radians(elevation * (0.998 - elevation * elevation / 50000.0)))


def person(air_radiation: Any, sky: Any, ground: Any, diffuse: Any, reflected: Any,
           direct: Any, sun_zenith: Any, assumptions: Assumptions,
           sky_view_factor: Any = None) -> dict[str, Any]:
    """Tmrt [°C] in the sun and in shade (no direct beam). The person sees
    half of each hemisphere; of the upper half the sky is the sky view
    factor (``sky_view_factor`` per element, else the assumptions'), the
    rest trees or walls at air temperature (``air_radiation``, their black
    body [W m-2])."""
    svf: Any = assumptions.sky_view_factor if sky_view_factor is None else sky_view_factor
    above = 0.5 * (1 - svf) * air_radiation
    below = 0.5 * ground
    from_sky = 0.5 * svf * sky
    scattered = 0.5 * svf * diffuse + 0.5 * reflected
    tmrt, tmrt_shade = radiant_temperature(sun_zenith, above, below, from_sky, scattered, direct,
                                           assumptions)
    return {"mean_radiant_temperature": tmrt, "mean_radiant_temperature_shade": tmrt_shade}


def radiant_temperature(sun_zenith: Any, above: Any, below: Any, from_sky: Any, scattered: Any,
                        direct: Any, assumptions: Assumptions) -> tuple[Any, Any]:
    """Tmrt [°C] of a standing person with the beam ``direct`` [W m-2,
    normal] and without it, from what the person receives, already weighted
    by the view factors [W m-2]: long-wave from above other than the sky's
    (``above``), from below, from the sky, and scattered short-wave. The
    one person of stations and places (quarnel.place)."""
    if assumptions.projection_factor == "module":
        albedo = assumptions.person_albedo
        tmrt = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, direct, albedo)
        tmrt_shade = U.MittlStrTemp(sun_zenith, above, below, from_sky, scattered, 0.0 * direct,
                                    albedo)
        return tmrt, tmrt_shade
    # In the sun and in shade at once (comfort.standing_person).
    absorption = (1 - assumptions.person_albedo) / PERSON_EMISSIVITY
    tmrt, tmrt_shade = outputs(comfort.standing_person, sun_zenith, above + below + from_sky,
                               scattered, direct, absorption)
    return tmrt, tmrt_shade


#: ISO 7726 (1998), Annex B: the globe's emissivity, and the height of a
#: standing person's middle where its air speed is taken [m]
GLOBE_EMISSIVITY = 0.95
GLOBE_HEIGHT = 1.1


def globe_mean_radiant_temperature(globe: Any, air_temperature: Any, air_speed: Any,
                                   diameter: float) -> Any:
    """The mean radiant temperature [°C] a black globe thermometer gives
    (ISO 7726, 1998, Annex B): Tmrt⁴ = Tg⁴ + h / (ε σ) (Tg − Ta) in
    kelvin, with the globe's convective coefficient h [W m-2 K-1] the
    larger of forced convection, 6.3 va^0.6 / D^0.4 (in ISO's form for the
    standard globe, 1.1·10⁸ va^0.6 / (ε D^0.4) with 1.1·10⁸ ≈ 6.3/σ), and
    natural convection, 1.4 (|Tg − Ta| / D)^¼ (calm air); ε = 0.95.
    ``globe``, ``air_temperature`` [°C], ``air_speed`` at the globe [m/s],
    ``diameter`` [m]."""
    difference = globe - air_temperature
    forced = 6.3 * np.maximum(air_speed, 0.0) ** 0.6 / diameter ** 0.4
    natural = 1.4 * (np.abs(difference) / diameter) ** 0.25
    fourth = ((globe + 273.15) ** 4
              + np.maximum(forced, natural) / (GLOBE_EMISSIVITY * SIGMA) * difference)
    return where(fourth > 0, fourth, np.nan) ** 0.25 - 273.15


def person_sources(projection_factor: Projection, globe_diameter: float | None = None
                   ) -> dict[str, str]:
    fp = ("projection factor of Jendritzky et al. (1990), VDI 3787-2"
          if projection_factor == "published" else "projection factor of MittlStrTemp")
    sun = f"standing person in the sun, {fp}"
    if globe_diameter is not None:
        sun = (f"ISO 7726 from globe_temperature (a {globe_diameter:g} m globe, the wind "
               f"brought to {GLOBE_HEIGHT:g} m); else {sun}")
    return {"mean_radiant_temperature": sun,
            "mean_radiant_temperature_shade": "standing person in shade (no direct beam)"}
