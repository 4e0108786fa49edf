"""A digital surface model as the maps take it: heights in metres on
square pixels, row 0 north, read a window at a time; its coordinates and
CRS kept for the maps.

From a NumPy array (with ``pixel_size``), an xarray DataArray (its ``x``
and ``y`` coordinates; its CRS through rioxarray) or a GeoTIFF or any
raster GDAL reads (rasterio, a window at a time: rasters larger than
memory). Refused, each with a one-line :class:`RasterError`: a
geographic CRS (degrees, not metres), pixels that are not square, a
rotated grid, an empty window and a raster with no height at all. A DSM
in feet (its CRS's unit, or its band's declared unit) is converted to
metres: pixel sizes by the CRS's unit, heights by the band's unit where
declared, else by the CRS's.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

__all__ = ["RasterError", "Raster", "from_array", "open_file", "unflip", "grid_mapping", "axis_attrs"]

FloatArray = npt.NDArray[np.floating[Any]]
Window = tuple[slice, slice]

#: unit names of feet (GDAL's and PROJ's spellings) -> metres
FEET = {"foot": 0.3048, "feet": 0.3048, "ft": 0.3048, "international foot": 0.3048,
        "us survey foot": 1200.0 / 3937.0, "us_survey_foot": 1200.0 / 3937.0,
        "foot_us": 1200.0 / 3937.0, "us-ft": 1200.0 / 3937.0, "ftus": 1200.0 / 3937.0}
METRES = ("m", "metre", "metres", "meter", "meters")


class RasterError(ValueError):
    """A surface model the maps cannot take, in one line."""


@dataclass(frozen=True)
class Raster:
    """A DSM: ``read(rows, cols)`` gives heights [m] (float32 or float64,
    NaN where missing) of a window; ``pixel`` [m]; ``x``, ``y`` the pixel
    centres in the CRS's units (None for a bare array); ``crs`` a
    ``pyproj.CRS`` or None; ``transform`` GDAL's six numbers or None."""

    shape: tuple[int, int]
    pixel: float
    read: Callable[[slice, slice], FloatArray]
    x: npt.NDArray[np.float64] | None = None
    y: npt.NDArray[np.float64] | None = None
    crs: Any = None
    transform: tuple[float, ...] | None = None
    name: str = "dsm"
    notes: tuple[str, ...] = field(default=())
    flips: tuple[bool, bool] = (False, False)     # stored south-up, east-left

    def centre(self) -> tuple[float, float] | None:
        """The raster's centre as (latitude, longitude) [°], from its CRS."""
        if self.crs is None or self.x is None or self.y is None:
            return None
        from pyproj import Transformer
        to_wgs84 = Transformer.from_crs(self.crs, "EPSG:4326", always_xy=True)
        x = 0.5 * (float(self.x[0]) + float(self.x[-1]))
        y = 0.5 * (float(self.y[0]) + float(self.y[-1]))
        lon, lat = to_wgs84.transform(x, y)
        if not (math.isfinite(lat) and math.isfinite(lon)):
            raise RasterError(f"{self.name}: its centre has no latitude and longitude in its CRS")
        return float(lat), float(lon)


def _check_pixels(name: str, dx: float, dy: float) -> None:
    if not (math.isfinite(dx) and math.isfinite(dy) and dx > 0 and dy > 0):
        raise RasterError(f"{name}: pixel size {dx:g} x {dy:g}: not a size")
    if abs(dx - dy) > 1e-6 * max(dx, dy):
        raise RasterError(f"{name}: pixels of {dx:g} x {dy:g} are not square: resample the DSM "
                          "to square pixels (gdalwarp -tr SIZE SIZE)")


def _crs_unit(name: str, crs: Any) -> float:
    """The CRS's length unit in metres; a geographic CRS refused."""
    if crs is None:
        return 1.0
    if crs.is_geographic:
        raise RasterError(f"{name}: its CRS is geographic (degrees, not metres): reproject the "
                          "DSM to a projected CRS in metres, e.g. its UTM zone "
                          "(gdalwarp -t_srs EPSG:326NN)")
    axis = crs.axis_info[0] if crs.axis_info else None
    factor = float(axis.unit_conversion_factor) if axis is not None else 1.0
    return factor if math.isfinite(factor) and factor > 0 else 1.0


def _height_unit(name: str, band_unit: str | None, horizontal: float) -> float:
    """Heights in metres per unit: the band's declared unit, else the CRS's."""
    if not band_unit:
        return horizontal
    unit = band_unit.strip().lower()
    if unit in METRES or unit.split(" ")[0] in METRES:
        return 1.0
    if unit in FEET:
        return FEET[unit]
    raise RasterError(f"{name}: heights in '{band_unit}': give them in metres or feet")


def _pyproj(crs: Any) -> Any:
    if crs is None:
        return None
    from pyproj import CRS
    try:
        return CRS.from_user_input(crs.to_wkt() if hasattr(crs, "to_wkt") else crs)
    except Exception as e:  # noqa: BLE001 - pyproj raises its own kinds
        raise RasterError(f"unreadable CRS: {e}") from None


def _heights(values: npt.NDArray[Any], name: str) -> FloatArray:
    if values.dtype.kind not in "fiu":
        raise RasterError(f"{name} must hold heights [m] as numbers, got dtype {values.dtype}")
    dtype = np.float32 if values.dtype.itemsize <= 4 or values.dtype == np.float32 else np.float64
    out: FloatArray = np.asarray(values, dtype=dtype)
    return out


def from_array(dsm: Any, pixel_size: float | None, name: str = "dsm") -> Raster:
    """A NumPy array (``pixel_size`` needed) or an xarray DataArray (a band
    dimension of length 1 dropped; ``pixel_size`` from its CRS's transform
    or its coordinates unless given)."""
    if hasattr(dsm, "dims") and hasattr(dsm, "coords"):
        return _from_dataarray(dsm, pixel_size, name)
    z = np.asarray(dsm)
    if z.ndim != 2:
        raise RasterError(f"{name} must be a 2-D raster of heights [m], got {z.ndim} dimension(s)")
    if pixel_size is None:
        raise RasterError(f"{name}: give pixel_size [m] with a bare array")
    heights = _checked(_heights(z, name), name)
    return Raster(heights.shape, _size(pixel_size), lambda r, c: heights[r, c], name=name)


def _size(pixel_size: float) -> float:
    size = float(pixel_size)
    if not (math.isfinite(size) and size > 0.0):
        raise RasterError(f"pixel_size must be a finite length > 0 [m], got {pixel_size!r}")
    return size


def _checked(z: FloatArray, name: str) -> FloatArray:
    if z.size == 0:
        raise RasterError(f"{name} is empty (shape {z.shape}): an empty window")
    if np.isinf(z).any():
        raise RasterError(f"{name} holds infinite heights; mark missing heights with NaN")
    if np.isnan(z).all():
        raise RasterError(f"{name}: no heights, every pixel is missing")
    return z


def _from_dataarray(da: Any, pixel_size: float | None, name: str) -> Raster:
    if da.ndim == 3 and da.shape[0] == 1:
        da = da.isel({da.dims[0]: 0})
    if da.ndim != 2:
        raise RasterError(f"{name} must be a 2-D raster of heights [m], got dimensions {da.dims}")
    ydim, xdim = (str(d) for d in da.dims)
    crs = None
    try:
        import rioxarray  # noqa: F401 - registers .rio
        crs = _pyproj(da.rio.crs) if da.rio.crs is not None else None
    except ImportError:
        pass
    unit = _crs_unit(name, crs)
    x = np.asarray(da[xdim].values, dtype=np.float64) if xdim in da.coords else None
    y = np.asarray(da[ydim].values, dtype=np.float64) if ydim in da.coords else None
    flip_rows = y is not None and y.size > 1 and y[1] > y[0]
    flip_cols = x is not None and x.size > 1 and x[1] < x[0]
    if pixel_size is None:
        if x is None or y is None or x.size < 2 or y.size < 2:
            raise RasterError(f"{name}: give pixel_size [m]: no x and y coordinates to take it from")
        dx, dy = abs(float(np.diff(x).mean())), abs(float(np.diff(y).mean()))
        _check_pixels(name, dx, dy)
        pixel = dx * unit
    else:
        pixel = _size(pixel_size)
    band_unit = da.attrs.get("units")
    z = _heights(np.asarray(da.values), name) * _height_unit(name, band_unit, unit)
    z = _checked(z[::-1 if flip_rows else 1, ::-1 if flip_cols else 1], name)
    transform = None
    if x is not None and y is not None and x.size > 1 and y.size > 1:
        # As the values are stored (and the maps are written).
        dx, dy = float(x[1] - x[0]), float(y[1] - y[0])
        transform = (float(x[0]) - dx / 2, dx, 0.0, float(y[0]) - dy / 2, 0.0, dy)
    return Raster(z.shape, pixel, lambda r, c: z[r, c], x=x, y=y, crs=crs, transform=transform,
                  name=name, flips=(bool(flip_rows), bool(flip_cols)))


def unflip(raster: Raster, values: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """Results (..., rows, cols) of a north-up computation in the raster's
    own orientation."""
    rows, cols = raster.flips
    if rows:
        values = values[..., ::-1, :]
    if cols:
        values = values[..., ::-1]
    return values


def open_file(path: str, bbox: Sequence[float] | None = None) -> Raster:
    """A raster file (band 1), read a window at a time; ``bbox`` (minx,
    miny, maxx, maxy in the raster's CRS) cuts a window of it."""
    import rasterio
    from rasterio.windows import Window, from_bounds

    name = str(path)
    try:
        src = rasterio.open(path)
    except rasterio.errors.RasterioIOError as e:
        raise RasterError(f"{name}: cannot read as a raster: {e}") from None
    t = src.transform
    if t.b != 0.0 or t.d != 0.0:
        src.close()
        raise RasterError(f"{name}: a rotated grid: warp it north-up (gdalwarp)")
    if t.e > 0:
        src.close()
        raise RasterError(f"{name}: rows run south to north: warp it north-up (gdalwarp)")
    crs = _pyproj(src.crs) if src.crs is not None else None
    unit = _crs_unit(name, crs)
    dx, dy = abs(t.a), abs(t.e)
    _check_pixels(name, dx, dy)
    full = Window(0, 0, src.width, src.height)
    window = full
    if bbox is not None:
        minx, miny, maxx, maxy = (float(v) for v in bbox)
        if not (minx < maxx and miny < maxy):
            src.close()
            raise RasterError(f"{name}: the window {minx:g},{miny:g},{maxx:g},{maxy:g} is empty")
        cut = from_bounds(minx, miny, maxx, maxy, t).round_offsets().round_lengths()
        try:
            window = cut.intersection(full)
        except rasterio.errors.WindowError:
            window = None
        if window is None or window.width < 1 or window.height < 1:
            src.close()
            raise RasterError(f"{name}: the window {minx:g},{miny:g},{maxx:g},{maxy:g} lies outside "
                              "the DSM: an empty window")
    row0, col0 = int(window.row_off), int(window.col_off)
    rows, cols = int(window.height), int(window.width)
    if rows == 0 or cols == 0:
        src.close()
        raise RasterError(f"{name}: empty (shape {rows} x {cols}): an empty window")
    band_unit = (src.units[0] if src.units else None) or None
    factor = _height_unit(name, band_unit, unit)
    notes: tuple[str, ...] = ()
    if unit != 1.0 or factor != 1.0:
        notes = (f"{name} is in {crs.axis_info[0].unit_name if crs is not None else 'feet'}: "
                 "pixel sizes and heights converted to metres",)
    dtype = np.float32 if np.dtype(src.dtypes[0]).itemsize <= 4 else np.float64

    def read(r: slice, c: slice) -> FloatArray:
        win = Window(col0 + c.start, row0 + r.start, c.stop - c.start, r.stop - r.start)
        data = src.read(1, window=win, masked=True)
        z: FloatArray = np.ma.filled(data.astype(dtype), np.nan)
        if factor != 1.0:
            z = z * dtype(factor)
        if np.isinf(z).any():
            raise RasterError(f"{name} holds infinite heights; mark missing heights as nodata")
        return z

    xs = t.c + (col0 + np.arange(cols) + 0.5) * t.a
    ys = t.f + (row0 + np.arange(rows) + 0.5) * t.e
    transform = (t.c + col0 * t.a, t.a, 0.0, t.f + row0 * t.e, 0.0, t.e)
    return Raster((rows, cols), dx * unit, read, x=xs, y=ys, crs=crs, transform=transform,
                  name=name, notes=notes)


def grid_mapping(raster: Raster) -> dict[str, Any]:
    """The CF grid-mapping attributes of the raster's CRS (as rioxarray and
    GDAL read them: ``crs_wkt``, ``spatial_ref``, ``GeoTransform``)."""
    if raster.crs is None:
        return {}
    attrs: dict[str, Any] = dict(raster.crs.to_cf())
    wkt = raster.crs.to_wkt()
    attrs["crs_wkt"] = wkt
    attrs["spatial_ref"] = wkt
    if raster.transform is not None:
        attrs["GeoTransform"] = " ".join(f"{v!r}" for v in raster.transform)
    return attrs


def axis_attrs(raster: Raster) -> tuple[dict[str, str], dict[str, str]]:
    """CF attributes of the x and y coordinates."""
    if raster.crs is None:
        return {}, {}
    unit = raster.crs.axis_info[0].unit_name if raster.crs.axis_info else "metre"
    return ({"standard_name": "projection_x_coordinate", "long_name": "x coordinate of projection",
             "units": unit, "axis": "X"},
            {"standard_name": "projection_y_coordinate", "long_name": "y coordinate of projection",
             "units": unit, "axis": "Y"})
