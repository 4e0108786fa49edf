"""The physical chain: from complete observations (standard names, the
chain's units) to every quantity of ``OUTPUTS``, in steps:

humidity -> the sun -> short-wave -> long-wave and the ground -> the
person -> indices.

Each step is a function of its own room with, beside it, the description
of the sources it takes its terms from (the ``source`` attribute of the
outputs). Only ufuncs, operators and ``where``: lazy inputs stay lazy.
"""

from __future__ import annotations

from collections.abc import Collection
from typing import Any

import numpy as np

from quarnel._elementwise import where
from quarnel.tmrt.chain.common import black_body, first, wind_at
from quarnel.tmrt.chain.humidity import humidity
from quarnel.tmrt.chain.indices import Air, indices, indices_sources
from quarnel.tmrt.chain.longwave import longwave_and_ground, longwave_sources
from quarnel.tmrt.chain.person import (GLOBE_HEIGHT, globe_mean_radiant_temperature, person,
                                       person_sources)
from quarnel.tmrt.chain.shortwave import clear_sky, shortwave, shortwave_sources
from quarnel.tmrt.chain.sun import sun
from quarnel.tmrt.chain.surface import measured_longwave, measured_shortwave, surface_sources
from quarnel.tmrt.quantities import FILLED, FILLED_TERMS, OUTPUTS
from quarnel.tmrt.settings import Assumptions, FillMissing, Projection

__all__ = ["run", "sources"]

#: the chain's results, in this order: the humidity, then OUTPUTS (the
#: indices only where asked for)
RESULTS = ("vapour_pressure", "relative_humidity", "dew_point", *OUTPUTS)


def run(obs: dict[str, Any], latitude: Any, height: Any, szeit: Any, day: Any,
        assumptions: Assumptions, accumulation_hours: float = 0.0,
        interval_end: float = 0.0, sky_view_factor: Any = None) -> dict[str, Any]:
    """Every quantity of the chain (of the indices, those ``assumptions``
    keep). ``szeit``: apparent solar time [h];
    ``day``: the day of the year at the site; ``accumulation_hours``: the
    length of the interval over which the short-wave inputs are means (0:
    instantaneous), ending ``interval_end`` hours after each time stamp;
    ``sky_view_factor``: per element, else the assumptions'."""
    t = obs["air_temperature"]
    r = humidity(obs)
    here = sun(szeit, latitude, day, accumulation_hours, interval_end,
               assumptions.keeps("azimuth_angle"))
    r.update(solar_time=szeit, **here.outputs())
    clear = clear_sky(day, latitude, height, here, accumulation_hours > 0)
    filling = assumptions.fill_missing == "model"
    air_radiation = black_body(t)

    def radiation(filling: bool) -> dict[str, Any]:
        rad = shortwave(obs, here, day, height, clear, assumptions, filling)
        rad.update(measured_shortwave(obs, rad, filling))
        absorbed = rad.pop("absorbed")
        rad.update(longwave_and_ground(obs, r["vapour_pressure"], absorbed, assumptions,
                                       filling))
        rad.update(measured_longwave(obs, rad, absorbed, assumptions, filling))
        return rad

    r.update(radiation(filling))
    r.update(clear.outputs(assumptions.keeps))
    if filling:
        # The terms the model filled: missing without it, there with it.
        bare = radiation(False)
        flags: Any = np.int8(0)
        for bit, term in enumerate(FILLED_TERMS):
            filled = np.isnan(bare[term]) & ~np.isnan(r[term])
            flags = flags + where(filled, np.int8(1 << bit), np.int8(0))
        r[FILLED] = flags
    r.update(person(air_radiation, r["counter_radiation"], r["ground_longwave_radiation"],
                    r["diffuse_radiation"], r["reflected_radiation"], r["direct_radiation"],
                    here.paired_zenith, assumptions, sky_view_factor))
    if "globe_temperature" in obs:
        at_globe = wind_at(obs["wind_speed"], 10.0, GLOBE_HEIGHT)
        r["mean_radiant_temperature"] = first(globe_mean_radiant_temperature(
            obs["globe_temperature"], t, at_globe, assumptions.globe_diameter),
            r["mean_radiant_temperature"])
    r.update(indices(Air(t, r["vapour_pressure"], r["relative_humidity"], r["dew_point"],
                         obs["wind_speed"], obs["cloud_cover"], obs.get("air_pressure"), height,
                         r["global_radiation"], r["direct_radiation"], here.mu,
                         r["mean_radiant_temperature"], r["mean_radiant_temperature_shade"],
                         obs.get("globe_temperature")),
                     assumptions.keeps))
    return {k: r[k] for k in (*RESULTS, FILLED) if k in r}


def sources(present: Collection[str], accumulation_hours: float = 0.0,
            projection_factor: Projection = "published", interval_end: float = 0.0, *,
            globe_diameter: float = 0.15, wind_height: Any = 10.0,
            fill_missing: FillMissing = "none") -> dict[str, str]:
    """Where each radiation term and the person's temperatures come from,
    given the input quantities present (standard names), in words: the
    ``source`` attribute of the outputs. Element by element the first
    source listed that is not missing is used; the model's only where
    nothing was supplied for a term, or with fill_missing="model"."""
    has = set(present)
    filling = fill_missing == "model"
    out = {**shortwave_sources(has, accumulation_hours, interval_end, filling),
           **longwave_sources(has, filling),
           **person_sources(projection_factor,
                            globe_diameter if "globe_temperature" in has else None),
           **indices_sources(has)}
    for k, measured in surface_sources(has).items():
        # the measured surface first; the rest only where the model fills
        out[k] = "; else ".join([*measured, out[k]] if filling else measured)
    if np.ndim(wind_height) or float(wind_height) != 10.0:
        for k in ("utci", "utci_shade"):
            out[k] += ("; the wind brought to 10 m from the height measured by the log law, "
                       "z0 = 0.01 m (Broede et al. 2012)")
    return out
