"""The person at a place: the station's standing person, carried to every
pixel of a surface model (docs/reference.md, "The person at a place").

The person sees half of each hemisphere, as at a station
(:func:`quarnel.tmrt.chain.person.radiant_temperature`, the one formula of
both). What the place changes, after SOLWEIG's isotropic scheme (Lindberg,
Holmer & Thorsson 2008, Int J Biometeorol 52:697-713; Lindberg & Grimmond
2011, Theor Appl Climatol 105:311-323):

* the beam reaches the person only where the pixel is sunlit (a real
  shadow, :func:`quarnel.place.shadow`);
* of the upper hemisphere the sky is the pixel's sky view factor ψ, the
  rest walls: at air temperature, plus what the sunlit part of the walls
  sends beyond that (warmer, and reflecting the beam). The walls toward
  north, east, south and west fill 1 − ψ_N, ... of their half skies; each
  direction's wall is lit as far as the nearest wall facing the person
  there is (:func:`quarnel.place.sunlit_walls`);
* below, the ground: sunlit and shaded ground in the shares a small
  sphere 1.1 m above the pixel sees them (the pixels whose top lies within
  a metre of the pixel's: ground, not roofs or walls), shaded ground the
  job's ground without the beam, and reflecting the short-wave it gets.

On flat open ground (ψ = 1, all sunlit, no walls) this is the station's
person under an open sky, term by term.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Collection, Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import _place
from quarnel.place import geometry
from quarnel.place.weather import WALL_ALBEDO, Weather
from quarnel.tmrt.chain.common import black_body
from quarnel.tmrt.chain.indices import INDICES as JOB_INDICES
from quarnel.tmrt.chain.indices import Air
from quarnel.tmrt.chain.person import radiant_temperature
from quarnel.tmrt.settings import Assumptions

__all__ = ["UP", "SIDE", "facade_sky", "Weights", "weights", "air", "PERSON_HEIGHT", "GROUND_STEP", "GROUND_NEAR", "GROUND_REACH", "WALL_REACH", "INDICES",
           "Views", "views", "hour"]

FloatArray = npt.NDArray[np.floating[Any]]
Region = tuple[slice, slice]

PERSON_HEIGHT = 1.1
"""Height of a standing person's centre above the ground [m] (VDI 3787-2's
1.1 m, the height of the person's wind and radiation)."""
GROUND_STEP = 1.0
"""Pixels whose top lies within this of a pixel's [m] are the ground its
person sees below; higher steps are walls (the walls' ``min_height``)."""
GROUND_NEAR = 2.0
"""Within this [m] every pixel of the ground counts; farther, one pixel
about every GROUND_SPACING metres along rows and columns."""
GROUND_SPACING = 2.0
GROUND_REACH = 8.0
"""The ground seen below reaches this far [m]: 86 % of a sphere's view of
the ground 1.1 m below lies within it."""
WALL_REACH = 100.0
"""A person's walls stand at most this far [m]; farther, none is lit."""


UP = 0.06
"""Angular factor of a standing person's upward and downward faces [1];
SIDE, each of its four sides (Fanger 1970, as in SOLWEIG: Lindberg,
Holmer & Thorsson 2008). UP + UP + 4 SIDE = 1."""
SIDE = 0.22


def facade_sky(half: FloatArray) -> FloatArray:
    """Sky view factor [1] of a vertical surface facing the middle of a
    half sky whose (horizontal) view factor is ``half``: the half taken as
    a uniform horizon at β = arccos √half, of which the vertical surface
    sees (2/π)(π/4 − β/2 − sin 2β/4) as sky; ½ under an open sky, 0 in a
    pit."""
    beta = np.arccos(np.sqrt(np.clip(half, 0.0, 1.0)))
    out: FloatArray = np.maximum(
        (2.0 / np.pi) * (0.25 * np.pi - 0.5 * beta - 0.25 * np.sin(2.0 * beta)), 0.0)
    return out


@dataclass(frozen=True)
class Weights:
    """What a standing person at each pixel sees, as shares of its
    radiation [1] (angular factors times view factors; sky + walls =
    ground = ½): ``sky`` the sky, ``walls`` the walls, ``lit`` the walls
    toward north, east, south and west (those the sunlit share of each
    direction's nearest wall applies to)."""

    sky: FloatArray
    walls: FloatArray
    lit: tuple[FloatArray, FloatArray, FloatArray, FloatArray]


def weights(sky: geometry.SkyView) -> Weights:
    """The person's shares from the sky view factors: the upward face sees
    ψ of sky and in each direction (1 − ψ_d)/4 of walls; the side facing d
    sees its half sky as a vertical surface (facade_sky) and the rest of
    its upper quarter as walls."""
    psi = sky.total.astype(np.float64)
    halves = [h.astype(np.float64) for h in (sky.north, sky.east, sky.south, sky.west)]
    faces = [facade_sky(h) for h in halves]
    lit = tuple(UP * 0.25 * (1.0 - h) + SIDE * (0.5 - f) for h, f in zip(halves, faces))
    share = UP * psi + SIDE * (faces[0] + faces[1] + faces[2] + faces[3])
    walls = UP * (1.0 - psi) + SIDE * ((0.5 - faces[0]) + (0.5 - faces[1]) + (0.5 - faces[2])
                                       + (0.5 - faces[3]))
    return Weights(share, walls, (lit[0], lit[1], lit[2], lit[3]))


@dataclass(frozen=True)
class Views:
    """The fixed geometry of a window of the DSM, and of the core of it
    whose maps are made (``core``: rows and columns of the window).

    ``sky``: ψ and the half skies over the core; ``walls`` over the window.
    """

    dsm: FloatArray
    pixel: float
    max_distance: float
    centre: tuple[float, float]
    core: Region
    sky: geometry.SkyView
    walls: geometry.Walls
    weights: Weights

    @property
    def shape(self) -> tuple[int, int]:
        rows, cols = self.core
        return rows.stop - rows.start, cols.stop - cols.start


def views(dsm: FloatArray, pixel: float, max_distance: float, centre: tuple[float, float],
          core: Region) -> Views:
    """The geometry of a window (``dsm``, float32 or float64)."""
    sky = geometry.sky_view(dsm, pixel, max_distance=max_distance, centre=centre)
    cut = geometry.SkyView(*(np.ascontiguousarray(a[core]) for a in sky))
    found = geometry.walls(dsm, min_height=GROUND_STEP)
    return Views(dsm, pixel, max_distance, centre, core, cut, found, weights(cut))


def _around(core: Region, margin: int, shape: tuple[int, ...]) -> tuple[Region, Region]:
    """The core grown by ``margin`` pixels (within the window), and the core
    within that."""
    rows, cols = core
    r0, c0 = max(0, rows.start - margin), max(0, cols.start - margin)
    r1, c1 = min(shape[0], rows.stop + margin), min(shape[1], cols.stop + margin)
    return ((slice(r0, r1), slice(c0, c1)),
            (slice(rows.start - r0, rows.stop - r0), slice(cols.start - c0, cols.stop - c0)))


def _ground_share(v: Views, sunlit: FloatArray) -> FloatArray:
    """Sunlit share of the ground seen from each pixel of the core."""
    margin = math.ceil(GROUND_REACH / v.pixel)
    grown, inner = _around(v.core, margin, v.dsm.shape)
    stride = max(1, round(GROUND_SPACING / v.pixel))
    share = _place.ground(v.dsm[grown], sunlit[grown], v.pixel, PERSON_HEIGHT, GROUND_NEAR,
                          GROUND_REACH, stride, GROUND_STEP)
    return share[inner]


def _state(v: Views, w: Weather, k: int) -> tuple[FloatArray, FloatArray | None]:
    """The window's sunlit tops and, if the sun is up, the sunlit share of
    each wall."""
    elevation = float(w.sun_elevation[k])
    if not elevation > 0.0:
        dark = np.where(np.isnan(v.dsm), np.nan, 0.0).astype(v.dsm.dtype)
        return dark, None
    mask, lit = geometry._shade(v.dsm, v.pixel, float(w.sun_azimuth[k]), elevation, v.walls,
                                v.max_distance, v.centre)
    assert lit is not None
    with np.errstate(invalid="ignore", divide="ignore"):
        share = np.where(v.walls.height > 0.0, lit / v.walls.height, 0.0).astype(v.dsm.dtype)
    return mask, share


def air(w: Weather, k: int, tmrt: FloatArray) -> Air:
    """What the job's indices take (quarnel.tmrt.chain.indices), at time
    ``k`` with the person's Tmrt of each pixel."""
    def at(values: Any) -> float:
        return float(values[k])

    pressure = at(w.inputs["air_pressure"])
    zenith = at(w.station["radiation_zenith_angle"])
    mu = np.cos(np.radians(zenith)) if zenith < 90.0 else 0.0      # the chain's: 0 without sun
    return Air(temperature=at(w.air_temperature), vapour_pressure=at(w.vapour_pressure),
               relative_humidity=at(w.inputs["relative_humidity"]),
               dew_point=at(w.inputs["dew_point"]), wind_10m=at(w.wind_speed),
               cloud_cover=at(w.inputs["cloud_cover"]),
               measured_pressure=None if np.isnan(pressure) else pressure, height=w.height,
               global_radiation=at(w.station["global_radiation"]),
               direct_radiation=at(w.station["direct_radiation"]),
               cos_zenith=max(float(mu), 0.0), tmrt=tmrt, tmrt_shade=tmrt)


def _job(name: str) -> Callable[[Air], Any]:
    """The job's index ``name`` (a row of its INDICES)."""
    row = next(r for r in JOB_INDICES if name in r.outputs)
    return lambda a: row.compute(a)[row.outputs.index(name)]


def _by_sun(sun: Callable[[Air], Any], shade: Callable[[Air], Any]
            ) -> Callable[[Air, FloatArray], FloatArray]:
    """An index of the weather alone, in the sun or in shade as each pixel
    is: in shade where a shadow keeps off a beam there is (without a beam,
    as in the open)."""
    def index(a: Air, sunlit: FloatArray) -> FloatArray:
        beam = float(a.direct_radiation) * float(a.cos_zenith) > 0.0
        if not beam:
            return np.where(np.isnan(sunlit), np.nan, float(sun(a)))
        out: FloatArray = np.where(sunlit == 1.0, float(sun(a)), float(shade(a)))
        return np.where(np.isnan(sunlit), np.nan, out)
    return index


#: The indices of the person at each pixel: name -> (the job's Air with
#: each pixel's Tmrt, the pixel's sunlit state) -> the map; the job's own
#: rows (quarnel.tmrt.chain.indices.INDICES), so that flat open ground is
#: the station's. WBGT takes no Tmrt: its instruments in the sun or in
#: shade as the pixel is. The indices of the weather alone (heat index,
#: humidex, ...) are the same over a map: the job gives them.
INDICES: dict[str, Callable[[Air, FloatArray], FloatArray]] = {
    "utci": lambda a, sunlit: np.asarray(a.utci),
    "pet": lambda a, sunlit: np.asarray(_job("pet")(a)),
    "wbgt": _by_sun(_job("wbgt"), _job("wbgt_shade")),
}


def hour(v: Views, w: Weather, k: int, a: Assumptions,
         names: Collection[str] | None = None) -> Mapping[str, FloatArray]:
    """The maps of time ``k`` over the core: ``sunlit`` [1],
    ``mean_radiant_temperature`` [°C], and the INDICES among ``names``
    (None: all)."""
    mask, wall_share = _state(v, w, k)
    sunlit = mask[v.core]
    ground = _ground_share(v, mask).astype(np.float64)
    svf = v.sky.total.astype(np.float64)
    station = w.station
    t = float(w.air_temperature[k])
    sky, diffuse = float(station["counter_radiation"][k]), float(station["diffuse_radiation"][k])
    reflected, direct = float(station["reflected_radiation"][k]), float(station["direct_radiation"][k])
    open_ground, shaded_ground = float(station["ground_longwave_radiation"][k]), float(w.ground_shade[k])
    beam = float(w.beam_share[k])

    share = v.weights
    walls_lw = 0.0 * svf
    walls_sw = 0.0 * svf
    if wall_share is not None:
        seen = _place.wall_views(wall_share, v.walls.aspect, v.pixel, min(WALL_REACH, v.max_distance))
        for d, lit in enumerate(seen):
            lw, sw = float(w.wall_longwave[d, k]), float(w.wall_shortwave[d, k])
            if lw == 0.0 and sw == 0.0:
                continue
            part = share.lit[d] * lit[v.core]
            walls_lw += part * lw
            walls_sw += part * sw
    with np.errstate(invalid="ignore", over="ignore"):
        above = share.walls * black_body(t) + walls_lw
        below = 0.5 * (ground * open_ground + (1.0 - ground) * shaded_ground)
        from_sky = share.sky * sky
        from_walls = share.walls * (WALL_ALBEDO * 0.5 * (diffuse + reflected)) + walls_sw
        lower = reflected * (ground * beam + svf * (1.0 - beam))
        scattered = share.sky * diffuse + from_walls + 0.5 * lower
        zenith = float(station["radiation_zenith_angle"][k])
        tmrt, _ = radiant_temperature(zenith, above, below, from_sky, scattered,
                                      sunlit.astype(np.float64) * direct, a)
    out = {"sunlit": sunlit, "mean_radiant_temperature": np.asarray(tmrt)}
    wanted = [n for n in INDICES if names is None or n in names]
    if wanted:
        person_air = air(w, k, out["mean_radiant_temperature"])
        with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
            for name in wanted:
                out[name] = INDICES[name](person_air, sunlit)
    return out
