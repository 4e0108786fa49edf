"""Geometry of a place on a digital surface model.

A digital surface model (DSM) is a 2-D array of heights [m] (ground,
roofs), row 0 to the north, column 0 to the west, square pixels
``pixel_size`` metres wide. Each pixel is taken as a flat-topped column
over its square; a point of a pixel is the centre of its top. NaN marks
missing heights: such a pixel gets NaN and hides nothing (no sky, casts
no shadow, is no wall). Beyond the raster's edges nothing rises: give the
DSM a margin around the area of interest (an obstacle H metres high at D
metres hides sin²(atan(H/D)) of the sky in its direction).

The horizon toward an azimuth is found by sweeping the raster's digital
lines of that direction, keeping the upper convex hull of the heights
passed (Dozier & Frew 1990, IEEE Trans. Geosci. Remote Sens. 28:963-969):
linear in the number of pixels for any distance, with no search radius
unless one is asked for (``max_distance``: what lies farther does not
count, so that tiles with a margin that wide give the whole raster's
answer, ``centre`` below). An obstacle's height counts from its pixel's near edge, so a wall
d metres from a pixel's centre is d metres away, as in the closed forms.

* :func:`sky_view_factor`: ψ = 1 − (1/2π) ∫ sin² β(φ) dφ over the horizon
  elevations β(φ), the cosine-weighted share of sky over a horizontal
  surface, the sky view factor of SOLWEIG (Lindberg, Holmer & Thorsson
  2008) and UMEP; :func:`sky_view` adds the four half skies.
* :func:`horizon_angles`: β per direction, from which any part of the
  sky's visibility follows (an anisotropic sky's patches).
* :func:`shadow`: sunlit or shaded pixel tops for a sun position.
* :func:`walls` and :func:`sunlit_walls`: the walls the DSM's steps make,
  their aspect, and how much of each the sun reaches.

docs/reference.md ("Places") gives the sources, the accuracy on the closed
forms and the agreement with the Rust SOLWEIG package.
"""

from __future__ import annotations

import math
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from quarnel import _place

__all__ = ["SkyView", "Walls", "horizon_angles", "shadow", "sky_view", "sky_view_factor",
           "sunlit_walls", "walls"]

FloatArray = npt.NDArray[np.floating[Any]]

DIRECTIONS = 64
"""Azimuths swept by default: (k + ½)·360°/64, k = 0 … 63."""


class SkyView(NamedTuple):
    """Sky view factors [1] of a horizontal surface at each pixel's top.

    ``total`` over the whole sky; ``north``, ``east``, ``south``, ``west``
    over the half sky centred on each direction (azimuths within 90°),
    each normalised to 1 under an open sky: ψ_N = (1/π) ∫ cos² β dφ over
    φ ∈ (−90°, 90°), and so on. ``total`` = (north + south)/2 =
    (east + west)/2.
    """

    total: FloatArray
    north: FloatArray
    east: FloatArray
    south: FloatArray
    west: FloatArray


class Walls(NamedTuple):
    """Walls found in the steps of a DSM (:func:`walls`).

    ``height`` [m]: on a pixel beside a higher neighbour (north, east,
    south or west) the largest rise to one, where it reaches the minimum
    height; 0 elsewhere (NaN where the DSM is). The wall stands at the pixel's edge toward that
    neighbour and rises from the pixel's top, so it belongs to the lower
    pixel, the street's side (as in SOLWEIG). ``aspect`` [°, from north
    through east]: the way the wall faces, away from what rises; NaN where
    there is no wall.
    """

    height: FloatArray
    aspect: FloatArray


def _raster(dsm: npt.ArrayLike, name: str = "dsm") -> FloatArray:
    """The DSM as a C-ordered float32 (kept) or float64 2-D array, checked."""
    z = np.asarray(dsm)
    if z.dtype.kind not in "fiu":
        raise ValueError(f"{name} must hold heights [m] as numbers, got dtype {z.dtype}")
    if z.ndim != 2:
        raise ValueError(f"{name} must be a 2-D raster of heights [m], got {z.ndim} dimension(s)")
    if z.size == 0:
        raise ValueError(f"{name} is empty (shape {z.shape})")
    dtype = np.float32 if z.dtype.kind == "f" and z.dtype.itemsize <= 4 else np.float64
    z = np.ascontiguousarray(z, dtype=dtype)
    if np.isinf(z).any():
        raise ValueError(f"{name} holds infinite heights; mark missing heights with NaN")
    return z


def _pixel(pixel_size: float) -> float:
    size = float(pixel_size)
    if not (math.isfinite(size) and size > 0.0):
        raise ValueError(f"pixel_size must be a finite length > 0 [m], got {pixel_size!r}")
    return size


def _directions(directions: int) -> int:
    n = int(directions)
    if n != directions or n < 4 or n % 4 or n > 65536:
        raise ValueError(f"directions must be a multiple of 4 from 4 to 65536, got {directions!r}")
    return n


def _distance(max_distance: float | None) -> float:
    if max_distance is None:
        return math.inf
    distance = float(max_distance)
    if not distance >= 0.0:
        raise ValueError(f"max_distance must be a length >= 0 [m] or None, got {max_distance!r}")
    return distance


def _centre(z: FloatArray, centre: tuple[float, float] | None) -> tuple[float, float]:
    if centre is None:
        return 0.5 * (z.shape[0] - 1), 0.5 * (z.shape[1] - 1)
    row, col = (float(c) for c in centre)
    if not (math.isfinite(row) and math.isfinite(col)):
        raise ValueError(f"centre must be a finite (row, column) [pixels], got {centre!r}")
    return row, col


def _sun(sun_azimuth: float, sun_elevation: float) -> tuple[float, float]:
    azimuth, elevation = float(sun_azimuth), float(sun_elevation)
    if not (math.isfinite(azimuth) and math.isfinite(elevation)):
        raise ValueError(f"the sun's azimuth and elevation must be finite [°], got "
                         f"{sun_azimuth!r}, {sun_elevation!r}")
    return azimuth, elevation


def sky_view_factor(dsm: npt.ArrayLike, pixel_size: float, *, directions: int = DIRECTIONS,
                    max_distance: float | None = None, centre: tuple[float, float] | None = None) -> FloatArray:
    """Sky view factor ψ [1] of a horizontal surface at each pixel's top.

    ψ = 1 − (1/2π) ∫ sin² β(φ) dφ, β(φ) ≥ 0 the elevation of the horizon
    toward azimuth φ seen from the centre of the pixel's top (ground or
    roof): the cosine-weighted share of the hemisphere that is sky, as
    SOLWEIG and UMEP define the sky view factor (Lindberg, Holmer &
    Thorsson 2008, Int J Biometeorol 52:697-713). 1 on open ground and on
    a roof above everything around it. The integral is the mean over
    ``directions`` azimuths (k + ½)·360°/n.

    Parameters
    ----------
    dsm
        Heights [m], 2-D, row 0 north; NaN where missing (NaN out, hides
        nothing). float32 in gives float32 out, anything else float64.
    pixel_size
        Width of a (square) pixel [m].
    directions
        Azimuths swept, a multiple of 4 (default 64).
    max_distance
        [m] Only what rises within this horizontal distance of a pixel's
        centre (to the obstacle's near edge) hides its sky; None: all.
    centre
        (row, column) [pixels of ``dsm``] on which the digital lines are
        anchored; None: the middle. A window cut from a larger raster at
        (row0, col0) passes that raster's middle, ((R − 1)/2 − row0,
        (C − 1)/2 − col0): its pixels farther than ``max_distance`` from
        its edges then get the larger raster's values exactly.

    Returns
    -------
    Array of the DSM's shape, in [0, 1].

    Accuracy: within 0.005 of the closed forms (canyon floor, beside a
    wall, the centre of a round pit) at 1 and 2 m pixels with 64
    directions; the Rust SOLWEIG package's 153 sky patches agree within
    about 0.01 on average (docs/reference.md, "Places").
    """
    z = _raster(dsm)
    total, _, _ = _place.sky(z, _pixel(pixel_size), _directions(directions), False, False,
                             _distance(max_distance), *_centre(z, centre))
    return total


def sky_view(dsm: npt.ArrayLike, pixel_size: float, *, directions: int = DIRECTIONS,
             max_distance: float | None = None, centre: tuple[float, float] | None = None) -> SkyView:
    """The sky view factor of :func:`sky_view_factor` and the four half skies.

    See :class:`SkyView`; the same sweep, a little more memory and time.
    """
    z = _raster(dsm)
    total, half, _ = _place.sky(z, _pixel(pixel_size), _directions(directions), True, False,
                                _distance(max_distance), *_centre(z, centre))
    assert half is not None
    return SkyView(total, *half)


def horizon_angles(dsm: npt.ArrayLike, pixel_size: float, *, directions: int = DIRECTIONS,
                   max_distance: float | None = None,
                   centre: tuple[float, float] | None = None) -> tuple[npt.NDArray[np.float64], FloatArray]:
    """Elevation of the horizon [°] toward each of ``directions`` azimuths.

    Returns ``(azimuths, angles)``: the azimuths [°, from north through
    east], (k + ½)·360°/n, and the angles, shape (n, rows, cols), ≥ 0 (0
    where nothing rises above the pixel's top toward that azimuth), NaN
    where the DSM is NaN. A sky patch at azimuth φ and elevation e is
    visible from a pixel where e > β(φ). Takes n times the DSM's memory.
    ``max_distance`` and ``centre`` as for :func:`sky_view_factor`.
    """
    z = _raster(dsm)
    n = _directions(directions)
    _, _, angles = _place.sky(z, _pixel(pixel_size), n, False, True, _distance(max_distance), *_centre(z, centre))
    assert angles is not None
    quarter = n // 4
    k = np.arange(n)
    azimuths: npt.NDArray[np.float64] = 90.0 * (k // quarter) + (k % quarter + 0.5) * (360.0 / n)
    return azimuths, angles


def shadow(dsm: npt.ArrayLike, pixel_size: float, sun_azimuth: float, sun_elevation: float, *,
           max_distance: float | None = None, centre: tuple[float, float] | None = None) -> FloatArray:
    """Sunlit (1) or shaded (0) top of each pixel for a sun position.

    A pixel is shaded where a pixel toward the sun at horizontal distance
    s (from its near edge) rises above its own top by more than
    s·tan(elevation): on a box H metres high, the footprint swept
    H/tan(elevation) away from the sun. Taken along the raster's digital
    line toward the sun, so that a shadow's side edges may stray by half a
    pixel on a sun off the raster's axes.

    Parameters
    ----------
    dsm
        Heights [m], 2-D, row 0 north; NaN where missing (NaN out, casts
        no shadow).
    pixel_size
        Width of a (square) pixel [m].
    sun_azimuth
        [°], from north through east (any finite value, taken modulo 360).
    sun_elevation
        [°] above the horizon. At or below 0 every top is shaded (no beam
        reaches a horizontal surface), at 90 or more every top is sunlit.
    max_distance
        [m] Only what rises within this horizontal distance casts a
        shadow (to the obstacle's near edge); None: all. A shadow is never
        longer than the DSM's height range over tan(elevation).
    centre
        As for :func:`sky_view_factor`.

    Returns
    -------
    Array of the DSM's shape (float32 for float32 in, else float64).
    """
    mask, _ = _shade(dsm, pixel_size, sun_azimuth, sun_elevation, None, max_distance, centre)
    return mask


def _shade(dsm: npt.ArrayLike, pixel_size: float, sun_azimuth: float, sun_elevation: float,
           found: Walls | None, max_distance: float | None,
           centre: tuple[float, float] | None) -> tuple[FloatArray, FloatArray | None]:
    """The shadow mask and, given walls, their sunlit heights, in one sweep."""
    z = _raster(dsm)
    azimuth, elevation = _sun(sun_azimuth, sun_elevation)
    height = aspect = None
    if found is not None:
        height = np.asarray(found.height)
        aspect = np.asarray(found.aspect)
        if height.shape != z.shape or aspect.shape != z.shape:
            raise ValueError(f"walls must have the DSM's shape {z.shape}, got {height.shape} and {aspect.shape}")
    mask, lit = _place.shadow(z, _pixel(pixel_size), azimuth, elevation, height, aspect, _distance(max_distance),
                              *_centre(z, centre))
    return mask, lit


def walls(dsm: npt.ArrayLike, *, min_height: float = 1.0) -> Walls:
    """Wall heights [m] and aspects [°] from the steps of a DSM.

    A pixel with a neighbour (north, east, south or west) higher by at
    least ``min_height`` [m] carries a wall as high as the largest such
    rise (the wall of SOLWEIG's wall scheme, on the lower pixel; Lindberg
    & Grimmond 2011, Theor Appl Climatol 105:311-323). Its aspect, the way
    is the mean of the ways its faces look (away from each neighbour that
    rises by ``min_height`` or more), weighted by their heights: a pixel of
    a staircase along a slanted facade has two faces and looks along the
    slant. Where the faces cancel (a lane between two equal walls) it
    looks away from the highest neighbour. See :class:`Walls`.
    """
    z = _raster(dsm)
    limit = float(min_height)
    if not (math.isfinite(limit) and limit >= 0.0):
        raise ValueError(f"min_height must be a finite height >= 0 [m], got {min_height!r}")
    p = np.pad(z.astype(np.float64), 1, mode="edge")
    centre = p[1:-1, 1:-1]
    rows, cols = z.shape
    # Rises to the north, east, south and west neighbours; NaN where either is missing.
    with np.errstate(invalid="ignore"):
        rises = np.stack([p[:-2, 1:-1], p[1:-1, 2:], p[2:, 1:-1], p[1:-1, :-2]]) - centre
        faces = np.where(rises >= limit, rises, 0.0)       # NaN compares false: no face
    height = faces.max(axis=0)
    is_wall = height > 0.0
    # Each face looks away from its neighbour: north rise -> faces south, and so on.
    east = faces[3] - faces[1]
    north = faces[2] - faces[0]
    aspect = np.degrees(np.arctan2(east, north)) % 360.0
    away = np.array([180.0, 270.0, 0.0, 90.0])[np.argmax(faces, axis=0)]
    aspect = np.where((east == 0.0) & (north == 0.0), away, aspect)
    aspect = np.where(is_wall, aspect, np.nan)
    missing = np.isnan(centre)
    height[missing] = np.nan
    aspect[missing] = np.nan
    return Walls(height.astype(z.dtype), aspect.astype(z.dtype))


def sunlit_walls(dsm: npt.ArrayLike, pixel_size: float, found: Walls, sun_azimuth: float,
                 sun_elevation: float, *, max_distance: float | None = None,
                 centre: tuple[float, float] | None = None) -> FloatArray:
    """Sunlit height [m] of each wall of :func:`walls` for a sun position.

    A wall facing the sun (its aspect within 90° of the sun's azimuth) is
    sunlit above the top of the shadow that the DSM toward the sun casts
    on it (:func:`shadow`'s geometry, at the wall's foot); 0 for a wall
    facing away, for no wall and for a sun at or below the horizon or
    overhead; NaN where the DSM or the wall height is NaN. ``max_distance``
    and ``centre`` as for :func:`shadow`.
    """
    _, lit = _shade(dsm, pixel_size, sun_azimuth, sun_elevation, found, max_distance, centre)
    assert lit is not None
    return lit
