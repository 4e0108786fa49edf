"""Maps from a surface model (``--dsm``): the weather of a station's CSV,
or of the reanalysis grid cell nearest the site, at every pixel of a DSM;
the maps made tile by tile (quarnel.place.maps) and written a day of
chunks at a time into NetCDF or Zarr, so that memory stays bounded
whatever the raster's size and the number of hours."""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import tmrt
from quarnel.command import grid_input, pipeline
from quarnel.command.arguments import PROG, message
from quarnel.command.csv_io import csv_weather, observation_failure
from quarnel.command.failure import Failure, UsageError
from quarnel.command.grid_input import HDF5_LOCK, Kind
from quarnel.command.grid_output import NetcdfOutput, ZarrOutput, global_attrs
from quarnel.command.pipeline import OutputVar
from quarnel.command.staging import Staging

__all__ = ["map_run", "nearest_cell", "CHUNK_TIME", "CHUNK_XY"]

CHUNK_TIME = 24          # [times] a day of hours per chunk, and per block computed
CHUNK_XY = 256           # [pixels] along y and x


def _modules() -> None:
    for module in ("rasterio", "pyproj"):
        try:
            __import__(module)
        except ImportError:
            raise Failure(f"maps need rasterio and pyproj ({module} is missing): "
                          "pip install 'quarnel[place]'") from None


def choose(variables: Sequence[str] | None) -> list[str]:
    """The maps written: those named (``all``: every one), else DEFAULT."""
    from quarnel.place.maps import DEFAULT, VARIABLES
    if variables is None:
        return list(DEFAULT)
    if "all" in variables:
        return list(VARIABLES)
    unknown = [k for k in variables if k not in VARIABLES]
    if unknown:
        raise UsageError(f"--variables: no map {', '.join(repr(k) for k in unknown)}; "
                         f"valid with --dsm: all, {', '.join(VARIABLES)}")
    return [k for k in VARIABLES if k in variables]


def nearest_cell(ds: Any, latitude: float, longitude: float, where: str) -> Any:
    """The grid cell nearest the site, in memory; a Dataset without
    latitude and longitude coordinates is taken as one place."""
    lat_name = next((c for c in ("latitude", "lat") if c in ds.coords), None)
    lon_name = next((c for c in ("longitude", "lon") if c in ds.coords), None)
    if lat_name is None or lon_name is None:
        cell = ds
    else:
        lats, lons = ds[lat_name], ds[lon_name]
        if lats.ndim > 1 or lons.ndim > 1:
            raise Failure(f"{where}: latitude and longitude on a curvilinear grid: select the cell "
                          "yourself (one place along time)")
        picks: dict[Any, int] = {}
        for coord, target, name in ((lats, latitude, "latitude"), (lons, longitude, "longitude")):
            values = np.asarray(coord.values, dtype=np.float64).reshape(-1)
            gap = values - target
            if name == "longitude":
                gap = (gap + 180.0) % 360.0 - 180.0          # 0-360 grids too
            i = int(np.nanargmin(np.abs(gap)))
            spacing = float(np.min(np.abs(np.diff(values)))) if values.size > 1 else math.inf
            if values.size > 1 and abs(gap[i]) > spacing:
                raise Failure(f"{where}: the site ({latitude:.4f}°N, {longitude:.4f}°E) lies "
                              f"outside the grid's {name}s ({values.min():g} to {values.max():g})")
            if coord.ndim == 1:
                picks[coord.dims[0]] = i
        cell = ds.isel(picks)
    with HDF5_LOCK:
        return cell.load()


def map_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, Any],
            staging: Staging, kind: Kind, out_kind: Kind) -> None:
    grid_input.check_modules(out_kind)
    _modules()
    try:
        _map_run(args, names, model, staging, kind, out_kind)
    finally:
        grid_input.close_all()


def _map_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, Any],
             staging: Staging, kind: Kind, out_kind: Kind) -> None:
    import xarray as xr

    from quarnel.place import maps
    from quarnel.place.raster import RasterError, axis_attrs, grid_mapping, open_file
    from quarnel.place.weather import assumptions, weather

    chosen = choose(args.variables)
    try:
        raster = open_file(str(args.dsm), args.bbox)
    except RasterError as e:
        raise Failure(str(e)) from None
    for note in raster.notes:
        print(f"{PROG}: note: {note}", file=sys.stderr)
    try:
        latitude, longitude = maps.site(raster, args.latitude, args.longitude)
    except ValueError:
        raise UsageError(f"{args.dsm} has no CRS: give the site with --lat and --lon") from None

    settings = {k: v for k, v in model.items() if k not in ("sky_view_factor", "globe_diameter")}
    table = None
    if kind == "csv":
        table, observations, reading = csv_weather(args, names)
    else:
        grid_input.check_modules(kind)
        observations = nearest_cell(grid_input.opened(str(args.input), kind), latitude, longitude,
                                    str(args.input))
        reading = {"utc_offset": args.utc_offset, "timezone": args.timezone}
    try:
        w = weather(observations, latitude=latitude, longitude=longitude, height=args.height,
                    invalid=args.invalid, accumulation=args.accumulation, names=names,
                    model=settings, **reading)
    except tmrt.ObservationError as e:
        if table is not None:
            raise observation_failure(args, table, e) from None
        raise Failure(f"{args.input}: {message(e)}") from None
    except (KeyError, ValueError) as e:
        raise Failure(f"{args.input}: {message(e)}") from None
    a = assumptions(settings)

    rows, cols = raster.shape
    ntime = len(w)
    sizes = {"time": ntime, "y": rows, "x": cols}
    chunk = math.gcd(args.tile, CHUNK_XY)
    block = {"time": min(CHUNK_TIME, ntime), "y": chunk, "x": chunk}
    x_attrs, y_attrs = axis_attrs(raster)
    assert raster.x is not None and raster.y is not None
    coords = {"time": xr.DataArray(w.time, dims="time"),
              "y": xr.DataArray(raster.y, dims="y", attrs=y_attrs),
              "x": xr.DataArray(raster.x, dims="x", attrs=x_attrs)}
    mapping = grid_mapping(raster)
    scalars = {"spatial_ref": mapping} if mapping else {}
    dtype = args.dtype or "float32"
    variables = tuple(OutputVar(n, ("y", "x") if n == "sky_view_factor" else ("time", "y", "x"),
                                dtype, maps.variable_attrs(n, raster), math.nan) for n in chosen)
    attrs = global_attrs({"title": "mean radiant temperature and UTCI maps (quarnel.place)",
                          "site_latitude": latitude, "site_longitude": longitude},
                         f"quarnel tmrt {args.input.name} --dsm {args.dsm.name}")
    tmp = str(staging.temporary(args.output, directory=out_kind == "zarr"))
    writer: NetcdfOutput | ZarrOutput
    if out_kind == "zarr":
        writer = ZarrOutput(tmp, sizes, coords, attrs, variables, block, scalars)
    else:
        writer = NetcdfOutput(tmp, sizes, coords, attrs, variables, block, scalars)
    per_time = [n for n in maps.PER_TIME if n in chosen]
    progress = pipeline.Progress(ntime * rows * cols, sys.stderr.isatty(), "pixel-hours")
    heights = False
    try:
        for tile in maps.plan(raster.shape, raster.pixel, args.max_distance, args.tile):
            try:
                views = maps.tile_views(raster, tile, args.max_distance)
            except RasterError as e:
                raise Failure(str(e)) from None
            heights = heights or not np.isnan(views.dsm[tile.inner]).all()
            core_rows, core_cols = tile.core
            if "sky_view_factor" in chosen:
                _write(writer, {"y": (core_rows.start, core_rows.stop),
                                "x": (core_cols.start, core_cols.stop)},
                       {"sky_view_factor": views.sky.total.astype(dtype)}, chunk, ("y", "x"))
            for t0 in range(0, ntime, block["time"]):
                t1 = min(ntime, t0 + block["time"])
                made = {n: np.empty((t1 - t0, *views.shape), dtype) for n in per_time}
                for k, hour in maps.tile_hours(views, w, a, range(t0, t1), per_time):
                    for n, values in hour.items():
                        made[n][k - t0] = values
                    progress.advance(tile.pixels)
                if made:
                    _write(writer, {"time": (t0, t1), "y": (core_rows.start, core_rows.stop),
                                    "x": (core_cols.start, core_cols.stop)}, made, chunk,
                           ("time", "y", "x"))
    finally:
        writer.close()
        progress.finish()
    if not heights:
        raise Failure(f"{args.dsm}: no heights, every pixel is nodata")


def _write(writer: NetcdfOutput | ZarrOutput, region: dict[str, tuple[int, int]],
           arrays: dict[str, npt.NDArray[Any]], chunk: int, dims: tuple[str, ...]) -> None:
    """A block of the maps, chunk by chunk along y and x (a NetCDF writer
    takes whole chunks)."""
    (y0, y1), (x0, x1) = region["y"], region["x"]
    for ya in range(y0, y1, chunk):
        for xa in range(x0, x1, chunk):
            yb, xb = min(y1, ya + chunk), min(x1, xa + chunk)
            part = {**region, "y": (ya, yb), "x": (xa, xb)}
            cut = {n: np.ascontiguousarray(v[..., ya - y0:yb - y0, xa - x0:xb - x0])
                   for n, v in arrays.items()}
            writer.write(writer.sink.put({d: part[d] for d in dims}, cut))
