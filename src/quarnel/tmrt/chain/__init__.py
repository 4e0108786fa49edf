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

from quarnel.tmrt.chain.humidity import humidity
from quarnel.tmrt.chain.indices import indices, indices_sources
from quarnel.tmrt.chain.longwave import longwave_and_ground, longwave_sources
from quarnel.tmrt.chain.person import person, person_sources
from quarnel.tmrt.chain.shortwave import clear_sky, shortwave, shortwave_sources
from quarnel.tmrt.chain.sun import sun
from quarnel.tmrt.quantities import OUTPUTS
from quarnel.tmrt.settings import Assumptions, Projection

__all__ = ["run", "sources"]

#: the chain's results, in this order: the humidity, then OUTPUTS
RESULTS = ("vapour_pressure", "relative_humidity", "dew_point", *OUTPUTS)


def run(obs: dict[str, Any], latitude: Any, height: Any, szeit: Any, day: Any,
        assumptions: Assumptions, accumulation_hours: float = 0.0) -> dict[str, Any]:
    """Every quantity of the chain. ``szeit``: apparent solar time [h];
    ``day``: the day of the year at the site; ``accumulation_hours``: the
    length of the interval ending at each time stamp over which the
    short-wave inputs are means (0: instantaneous)."""
    t = obs["air_temperature"]
    r = humidity(obs)
    here = sun(szeit, latitude, day, accumulation_hours)
    r.update(solar_time=szeit, **here.outputs())
    clear = clear_sky(day, latitude, height, here.zenith, r["relative_humidity"])
    r.update(clear)
    r.update(shortwave(obs, here, day, height, clear, assumptions))
    r.update(longwave_and_ground(obs, r["vapour_pressure"], r.pop("absorbed"), assumptions))
    r.update(person(t, r["counter_radiation"], r["ground_longwave_radiation"],
                    r["diffuse_radiation"], r["reflected_radiation"], r["direct_radiation"],
                    here.paired_zenith, assumptions))
    r.update(indices(t, obs["wind_speed"], r["vapour_pressure"], r["mean_radiant_temperature"],
                     r["mean_radiant_temperature_shade"]))
    return {k: r[k] for k in RESULTS}


def sources(present: Collection[str], accumulation_hours: float = 0.0,
            projection_factor: Projection = "published") -> dict[str, str]:
    """Where each radiation term and the person's temperatures come from,
    given the input quantities present (standard names), in words: the
    ``source`` attribute of the outputs. Element by element the first
    source listed that is not missing is used."""
    has = set(present)
    return {**shortwave_sources(has, accumulation_hours), **longwave_sources(has),
            **person_sources(projection_factor), **indices_sources()}
