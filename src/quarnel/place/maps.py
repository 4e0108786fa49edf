"""Maps of the mean radiant temperature and UTCI on a surface model:
:func:`compute`, and the tiles every map is made in.

A raster is cut into tiles (``tile_size`` pixels square; one tile unless
asked), each read with a halo as wide as what decides its pixels: the
longest shadow and horizon counted (``max_distance``), plus the farthest
wall a person's view takes (WALL_REACH), so that tiles mosaic to the
untiled answer exactly (the sweeps' digital lines are anchored at the
whole raster's middle). Per tile the fixed geometry once (sky view
factors, walls), then every time of the weather.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Collection, Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel.place import person
from quarnel.place.raster import Raster, axis_attrs, from_array, grid_mapping, unflip
from quarnel.place.weather import Weather, assumptions, weather
from quarnel.tmrt.chain.indices import indices_sources
from quarnel.tmrt.settings import (Accumulation, Assumptions, FillMissing, Invalid, Projection,
                                   Timestamps)

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["MAX_DISTANCE", "VARIABLES", "DEFAULT", "PER_TIME", "Tile", "halo", "plan",
           "tile_views", "tile_hours", "compute", "variable_attrs"]

FloatArray = npt.NDArray[np.floating[Any]]

MAX_DISTANCE = 500.0
"""[m] How far shadows and horizons reach by default: the shadow of a 44 m
building at 5° of elevation; a 50 m tower 500 m away hides about 1 % of
the sky in its direction."""

#: The maps' variables: (long name, units); all but the sky view factor per time.
VARIABLES: dict[str, tuple[str, str]] = {
    "mean_radiant_temperature": ("mean radiant temperature of a standing person", "degC"),
    "utci": ("universal thermal climate index", "degC"),
    "sunlit": ("sunlit (1) or shaded (0) top of the pixel: whether the direct beam reaches it",
               "1"),
    "sky_view_factor": ("sky view factor of the pixel's top", "1"),
    "pet": ("physiologically equivalent temperature", "degC"),
    "wbgt": ("wet-bulb globe temperature, the instruments in the sun or in shade as the pixel "
             "is", "degC"),
}
#: The maps made unless others are asked for (PET costs about as much as
#: the rest of an hour together).
DEFAULT = ("mean_radiant_temperature", "utci", "sunlit", "sky_view_factor")
PER_TIME = ("mean_radiant_temperature", "utci", "sunlit", "pet", "wbgt")


@dataclass(frozen=True)
class Tile:
    """A core of the raster (rows, columns) whose maps are made, and the
    window read for it."""

    core: tuple[slice, slice]
    window: tuple[slice, slice]

    @property
    def inner(self) -> tuple[slice, slice]:
        """The core in the window's pixels."""
        (r, c), (wr, wc) = self.core, self.window
        return (slice(r.start - wr.start, r.stop - wr.start),
                slice(c.start - wc.start, c.stop - wc.start))

    @property
    def pixels(self) -> int:
        r, c = self.core
        return int((r.stop - r.start) * (c.stop - c.start))


def halo(pixel: float, max_distance: float) -> int:
    """Pixels read around a tile: shadows and horizons within
    ``max_distance`` of the farthest pixel a person's view takes."""
    reach = max_distance + max(person.WALL_REACH, person.GROUND_REACH)
    return math.ceil(reach / pixel) + 2


def plan(shape: tuple[int, int], pixel: float, max_distance: float,
         tile_size: int | None) -> list[Tile]:
    """The tiles of a raster, row by row; one for ``tile_size`` None."""
    rows, cols = shape
    if tile_size is None:
        whole = (slice(0, rows), slice(0, cols))
        return [Tile(whole, whole)]
    size = int(tile_size)
    if size != tile_size or size < 1:
        raise ValueError(f"tile_size must be a whole number of pixels >= 1, got {tile_size!r}")
    if not math.isfinite(max_distance):
        raise ValueError("tiles need a finite max_distance (their halo)")
    margin = halo(pixel, max_distance)
    tiles = []
    for r0 in range(0, rows, size):
        for c0 in range(0, cols, size):
            r1, c1 = min(rows, r0 + size), min(cols, c0 + size)
            window = (slice(max(0, r0 - margin), min(rows, r1 + margin)),
                      slice(max(0, c0 - margin), min(cols, c1 + margin)))
            tiles.append(Tile((slice(r0, r1), slice(c0, c1)), window))
    return tiles


def tile_views(raster: Raster, tile: Tile, max_distance: float) -> person.Views:
    """The fixed geometry of a tile: its window read, the sweeps' lines
    anchored at the whole raster's middle."""
    rows, cols = raster.shape
    wr, wc = tile.window
    window = raster.read(wr, wc)
    centre = (0.5 * (rows - 1) - wr.start, 0.5 * (cols - 1) - wc.start)
    return person.views(window, raster.pixel, max_distance, centre, tile.inner)


def tile_hours(views: person.Views, w: Weather, a: Assumptions, times: Sequence[int],
               names: Collection[str]) -> Iterator[tuple[int, Mapping[str, FloatArray]]]:
    """The maps of a tile's core at each of ``times`` (indices into the
    weather), those of ``names`` (PER_TIME)."""
    for k in times:
        maps = person.hour(views, w, k, a, names)
        yield k, {n: maps[n] for n in names}


def variable_attrs(name: str, raster: Raster, w: Weather | None = None) -> dict[str, Any]:
    """The CF attributes of a map variable."""
    long_name, units = VARIABLES[name]
    attrs: dict[str, Any] = {"long_name": long_name, "units": units}
    if name == "mean_radiant_temperature":
        attrs["source"] = ("standing person at each pixel, after SOLWEIG's isotropic scheme "
                           "(Lindberg et al. 2008): docs/reference.md, 'The person at a place'")
    sources = indices_sources(set())
    if name in sources:
        attrs["source"] = sources[name]
    if raster.crs is not None:
        attrs["grid_mapping"] = "spatial_ref"
    return attrs


def compute(dsm: Any, pixel_size: float | None, observations: Any, *, latitude: float | None = None,
            longitude: float | None = None, height: float = 0.0, utc_offset: Any = 0.0,
            timezone: str | None = None, invalid: Invalid = "raise",
            accumulation: Accumulation = "interval", timestamps: Timestamps = "instant",
            fill_missing: FillMissing = "none", clock_check: bool = True,
            wind_height: Any = 10.0, projection_factor: Projection = "published",
            ground_albedo: float = 0.2,
            ground_emissivity: float = 0.95, bowen_ratio: float = 0.8, person_albedo: float = 0.3,
            cloud_factor: float = 0.75, cloud_exponent: float = 3.4,
            names: Mapping[str, str] | None = None, max_distance: float | None = MAX_DISTANCE,
            tile_size: int | None = None, variables: Collection[str] | None = None,
            progress: Callable[[int], None] | None = None) -> xr.Dataset:
    """Maps of the mean radiant temperature and UTCI of a standing person
    at every pixel of a surface model, at every time of the weather.

    dsm: heights [m] of ground and roofs, row 0 north: a 2-D NumPy array
        (with ``pixel_size``), or an xarray DataArray with ``y`` and ``x``
        coordinates (and a CRS through rioxarray, whose coordinates and
        CRS the maps keep). NaN: missing (NaN in the maps). Refused with a
        one-line ``RasterError`` (a ValueError): a geographic CRS, pixels
        that are not square, an empty raster. A CRS or a ``units``
        attribute in feet is converted to metres.
    pixel_size: width of a square pixel [m]; None: from the DataArray.
    observations: the weather at one place, as :func:`quarnel.tmrt.compute`
        takes it: a station's mapping of arrays or DataFrame, or a Dataset
        along time (one cell of a reanalysis grid).
    latitude, longitude: the site [°N, °E]; default: the centre of the
        DSM from its CRS.
    height, utc_offset, timezone, invalid, accumulation, timestamps,
    fill_missing, clock_check, wind_height, names, projection_factor,
    ground_albedo, ground_emissivity, bowen_ratio, person_albedo,
    cloud_factor, cloud_exponent: as for :func:`quarnel.tmrt.compute` (the
        sky view factor is each pixel's own; a globe thermometer's reading
        is not used: the maps take the radiation). The shadows are cast
        for the sun the radiation is paired with: a station's hourly means
        ending at the stamp (``timestamps="interval-end"``, TMY3's) or a
        reanalysis' accumulations, for the sun of their hour's sunlit part.
    max_distance: [m] how far shadows and horizons reach (default 500);
        None: the whole raster (no tiles then).
    tile_size: compute in tiles of this many pixels square, each with a
        halo (``halo``); the maps are the same.
    variables: of ``VARIABLES`` (default ``DEFAULT``):
        ``mean_radiant_temperature``, ``utci``, ``sunlit``, and if asked
        ``pet`` and ``wbgt`` over (time, y, x); ``sky_view_factor`` over
        (y, x).
    progress: called with the pixel-hours of each map made.

    Returns an xarray Dataset in memory, float32 maps with CF attributes
    (``grid_mapping`` with the DSM's CRS). For rasters and runs larger than
    memory, the command (``quarnel tmrt WEATHER --dsm DSM.tif -o MAP.nc``)
    makes the same maps tile by tile and writes them a day at a time
    (``plan``, ``tile_views``, ``tile_hours``). docs/reference.md ("The
    person at a place") gives the model and its sources.
    """
    import xarray as xr

    raster = from_array(dsm, pixel_size)
    chosen = _chosen(variables)
    reach = math.inf if max_distance is None else float(max_distance)
    if not reach >= 0.0:
        raise ValueError(f"max_distance must be a length >= 0 [m] or None, got {max_distance!r}")
    lat, lon = site(raster, latitude, longitude)
    model = dict(projection_factor=projection_factor, ground_albedo=ground_albedo,
                 ground_emissivity=ground_emissivity, bowen_ratio=bowen_ratio,
                 person_albedo=person_albedo, cloud_factor=cloud_factor,
                 cloud_exponent=cloud_exponent, timestamps=timestamps, fill_missing=fill_missing,
                 clock_check=clock_check, wind_height=wind_height)
    w = weather(observations, latitude=lat, longitude=lon, height=height, utc_offset=utc_offset,
                timezone=timezone, invalid=invalid, accumulation=accumulation, names=names,
                model=model)
    a = assumptions(model)
    tiles = plan(raster.shape, raster.pixel, reach, tile_size)
    per_time = [n for n in PER_TIME if n in chosen]
    out = {n: np.full((len(w), *raster.shape), np.nan, np.float32) for n in per_time}
    svf = np.full(raster.shape, np.nan, np.float32)
    for tile in tiles:
        v = tile_views(raster, tile, reach)
        svf[tile.core] = v.sky.total
        for k, maps in tile_hours(v, w, a, range(len(w)), per_time):
            for n, values in maps.items():
                out[n][(k, *tile.core)] = values
            if progress is not None:
                progress(tile.pixels)
    return dataset(raster, w, {n: unflip(raster, out[n]) for n in per_time},
                   unflip(raster, svf) if "sky_view_factor" in chosen else None)


def _chosen(variables: Collection[str] | None) -> list[str]:
    if variables is None:
        return list(DEFAULT)
    if isinstance(variables, str):
        variables = [variables]
    unknown = [v for v in variables if v not in VARIABLES]
    if unknown:
        raise ValueError(f"variables: no map {', '.join(map(repr, unknown))}; "
                         f"valid: {', '.join(VARIABLES)}")
    return [v for v in VARIABLES if v in variables]


def site(raster: Raster, latitude: float | None, longitude: float | None) -> tuple[float, float]:
    """The site: given, else the DSM's centre from its CRS."""
    if (latitude is None) != (longitude is None):
        raise ValueError("give both latitude and longitude, or neither (the DSM's centre)")
    if latitude is not None and longitude is not None:
        return float(latitude), float(longitude)
    centre = raster.centre()
    if centre is None:
        raise ValueError(f"{raster.name} has no CRS: give the site's latitude and longitude")
    return centre


def coordinates(raster: Raster) -> dict[str, Any]:
    """The maps' coordinates: x and y as the DSM has them, the CRS as a
    ``spatial_ref`` grid mapping."""
    import xarray as xr

    coords: dict[str, Any] = {}
    x_attrs, y_attrs = axis_attrs(raster)
    if raster.x is not None:
        coords["x"] = xr.Variable("x", raster.x, x_attrs)
    if raster.y is not None:
        coords["y"] = xr.Variable("y", raster.y, y_attrs)
    mapping = grid_mapping(raster)
    if mapping:
        coords["spatial_ref"] = xr.Variable((), np.int32(0), mapping)
    return coords


def dataset(raster: Raster, w: Weather, per_time: Mapping[str, npt.NDArray[Any]],
            svf: npt.NDArray[Any] | None) -> xr.Dataset:
    import xarray as xr

    coords = coordinates(raster)
    coords["time"] = xr.Variable("time", w.time)
    data = {n: xr.Variable(("time", "y", "x"), v, variable_attrs(n, raster, w))
            for n, v in per_time.items()}
    if svf is not None:
        data["sky_view_factor"] = xr.Variable(("y", "x"), svf,
                                              variable_attrs("sky_view_factor", raster))
    return xr.Dataset(data, coords=coords,
                      attrs={"Conventions": "CF-1.8",
                             "title": "mean radiant temperature and UTCI maps (quarnel.place)"})
