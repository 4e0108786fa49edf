"""Grids out: NetCDF-4 and Zarr, with CF attributes.

NetCDF: the netCDF library lays out the file (dimensions, coordinates,
variables chunked as the blocks, deflate level 1 behind HDF5's shuffle,
as ``zlib=True, complevel=1`` makes them); then h5py writes each block's
chunks as they are, compressed beforehand on the thread or worker that
computed the block (``NetcdfChunks``): any netCDF or HDF5 reader reads them
with its standard filters, and the compressing is spread over the threads.

Zarr: xarray lays out the store (format 2, consolidated metadata); each
block is written into its region where it was computed (``ZarrRegion``),
on a cluster by the workers themselves.
"""

from __future__ import annotations

import datetime
import threading
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel.command.grid_input import HDF5_LOCK, Region
from quarnel.command.pipeline import Chunk, OutputVar
from quarnel.tmrt.quantities import described

if TYPE_CHECKING:
    import xarray as xr

try:
    # ISA-L's deflate writes the same zlib stream as zlib, ten times as fast
    # at level 1 (and lets go of the GIL as zlib does).
    from isal.isal_zlib import compress as deflate
except ImportError:
    from zlib import compress as deflate

CONVENTIONS = "CF-1.8"
LEVEL = 1
TIME_UNITS = "seconds since 1970-01-01 00:00:00"
_DROPPED = ("scale_factor", "add_offset", "missing_value", "coordinates")


def cf_attrs(name: str, attrs: Mapping[str, Any]) -> dict[str, Any]:
    """The attributes a variable keeps: its own (units, long_name, flags),
    not those of its encoding, and the CF standard name of its quantity
    where it has none and the quantity has one."""
    out = {str(k): v for k, v in attrs.items() if not str(k).startswith("_") and k not in _DROPPED}
    quantity = described(name)
    standard = None if quantity is None else quantity.attrs.get("standard_name")
    if standard and "standard_name" not in out:
        out["standard_name"] = standard
    return out


#: the site's coordinates as CF names them: name -> (standard_name, units)
SITE_COORDINATES = {"latitude": ("latitude", "degrees_north"), "lat": ("latitude", "degrees_north"),
                    "longitude": ("longitude", "degrees_east"), "lon": ("longitude", "degrees_east")}


def coordinate_attrs(name: str, attrs: Mapping[str, Any]) -> dict[str, Any]:
    """A coordinate's attributes, not those of its encoding; latitude and
    longitude with their CF standard name and units where they lack them."""
    out = {str(a): v for a, v in attrs.items() if not str(a).startswith("_")}
    if name in SITE_COORDINATES:
        standard, units = SITE_COORDINATES[name]
        out.setdefault("standard_name", standard)
        out.setdefault("units", units)
    return out


def auxiliary(coords: Mapping[str, xr.DataArray], sizes: Mapping[str, int],
              dims: Sequence[str]) -> list[str]:
    """The coordinates that are not dimensions and lie along ``dims``: a
    variable's CF ``coordinates``."""
    return [c for c, coord in coords.items()
            if c not in sizes and set(map(str, coord.dims)) <= set(dims)]


def global_attrs(attrs: Mapping[str, Any], history: str) -> dict[str, Any]:
    now = datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%dT%H:%M:%SZ")
    out = {str(k): v for k, v in attrs.items() if not str(k).startswith("_")}
    before = out.get("history")
    out["history"] = f"{now} {history}" + (f"\n{before}" if isinstance(before, str) else "")
    out["Conventions"] = CONVENTIONS
    return out


def chunk_shape(var: OutputVar, sizes: Mapping[str, int], block: Mapping[str, int]) -> tuple[int, ...]:
    return tuple(min(block[d], sizes[d]) for d in var.dims)


def _shuffled_deflate(values: npt.NDArray[Any], level: int) -> bytes:
    """What HDF5's shuffle and deflate filters make of a chunk: the k-th
    bytes of all elements together, then zlib."""
    raw = np.ascontiguousarray(values).reshape(-1)
    if raw.itemsize > 1:
        raw = np.ascontiguousarray(raw.view(np.uint8).reshape(-1, raw.itemsize).T)
    return bytes(deflate(raw.data.cast("B"), level))


@dataclass(frozen=True)
class NetcdfChunks:
    """Encodes a block for NetcdfOutput: compressed chunks (or the arrays, for
    a variable h5py cannot take raw)."""

    dims: Mapping[str, tuple[str, ...]]
    chunks: Mapping[str, tuple[int, ...]]
    fills: Mapping[str, Any]
    direct: Mapping[str, bool]
    level: int = LEVEL

    def put(self, region: Region, arrays: Mapping[str, npt.NDArray[Any]]) -> list[Chunk]:
        out: list[Chunk] = []
        for name, values in arrays.items():
            offset = tuple(region[d][0] for d in self.dims[name])
            if not self.direct[name]:
                out.append((name, offset, values))
                continue
            shape = self.chunks[name]
            if values.shape != shape:            # at the grid's edge: a whole chunk, filled
                whole = np.full(shape, self.fills[name], dtype=values.dtype)
                whole[tuple(slice(0, n) for n in values.shape)] = values
                values = whole
            out.append((name, offset, _shuffled_deflate(values, self.level)))
        return out


def _write_coordinate(nc: Any, name: str, coord: xr.DataArray) -> None:
    values = np.asarray(coord.values)
    dims = tuple(str(d) for d in coord.dims)
    attrs = coordinate_attrs(name, coord.attrs)
    calendar = _model_calendar(values)
    if np.issubdtype(values.dtype, np.datetime64):
        var = nc.createVariable(name, np.int64, dims)
        var[:] = values.astype("datetime64[s]").astype(np.int64)
        attrs.update(units=TIME_UNITS, calendar="proleptic_gregorian")
    elif calendar is not None:
        import cftime
        var = nc.createVariable(name, np.int64, dims)
        var[:] = np.asarray(cftime.date2num(values, TIME_UNITS, calendar=calendar,
                                            has_year_zero=values.flat[0].has_year_zero),
                            dtype=np.int64)
        attrs.update(units=TIME_UNITS, calendar=calendar)
    elif values.dtype.kind in "UO":
        var = nc.createVariable(name, str, dims)      # names of stations: variable-length
        var[:] = values.astype(str).astype(object)
    else:
        # by kind and size: in this machine's byte order, whatever the input's
        kind = f"{values.dtype.kind}{values.dtype.itemsize}" if values.dtype.kind in "iuf" else values.dtype
        var = nc.createVariable(name, kind, dims)
        var[:] = values
    var.setncatts(attrs)


def _model_calendar(values: npt.NDArray[Any]) -> str | None:
    """The calendar of cftime dates (a model's, as xarray reads them), or None."""
    if values.dtype != object or values.size == 0:
        return None
    calendar = getattr(values.flat[0], "calendar", None)
    return None if calendar is None else str(calendar)


def _plain_deflate(dataset: Any) -> bool:
    """Whether the variable's filters are exactly shuffle, then deflate at LEVEL."""
    import h5py
    plist = dataset.id.get_create_plist()
    filters = [plist.get_filter(i) for i in range(plist.get_nfilters())]
    return (dataset.chunks is not None
            and [f[0] for f in filters] == [h5py.h5z.FILTER_SHUFFLE, h5py.h5z.FILTER_DEFLATE]
            and tuple(filters[1][2]) == (LEVEL,))


class NetcdfOutput:
    """A NetCDF-4 file: laid out by netCDF4, its chunks written by h5py."""

    def __init__(self, path: str, sizes: Mapping[str, int], coords: Mapping[str, xr.DataArray],
                 attrs: Mapping[str, Any], variables: Sequence[OutputVar],
                 block: Mapping[str, int], scalars: Mapping[str, Mapping[str, Any]] | None = None
                 ) -> None:
        import h5py
        import netCDF4
        chunks = {v.name: chunk_shape(v, sizes, block) for v in variables}
        with HDF5_LOCK:
            with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
                nc.setncatts(dict(attrs))
                for d, n in sizes.items():
                    nc.createDimension(d, n)
                for d, coord in coords.items():
                    _write_coordinate(nc, d, coord)
                for name, scalar_attrs in (scalars or {}).items():
                    # A grid mapping and the like: attributes on a scalar.
                    var = nc.createVariable(name, np.int32, ())
                    var.setncatts(dict(scalar_attrs))
                for v in variables:
                    var = nc.createVariable(v.name, v.dtype, v.dims, zlib=True,
                                            complevel=1, shuffle=True, fill_value=v.fill,
                                            chunksizes=chunks[v.name] if v.dims else None)
                    along = auxiliary(coords, sizes, v.dims)
                    var.setncatts(dict(v.attrs) | ({"coordinates": " ".join(along)}
                                                   if along else {}))
            self.file = h5py.File(path, "r+")
            self.datasets = {v.name: self.file[v.name] for v in variables}
            direct = {v.name: bool(v.dims) and _plain_deflate(self.datasets[v.name])
                      for v in variables}
        self.sink = NetcdfChunks({v.name: v.dims for v in variables}, chunks,
                                 {v.name: v.fill for v in variables}, direct)

    def write(self, chunks: list[Chunk]) -> None:
        with HDF5_LOCK:
            for name, offset, data in chunks:
                dataset = self.datasets[name]
                if isinstance(data, bytes):
                    dataset.id.write_direct_chunk(offset, data)
                else:
                    dataset[tuple(slice(o, o + n) for o, n in zip(offset, data.shape))] = data

    def close(self) -> None:
        with HDF5_LOCK:
            self.file.close()


# Zarr ----------------------------------------------------------------------------

_GROUPS: dict[str, Any] = {}
_GROUPS_LOCK = threading.Lock()


def _group(path: str) -> Any:
    import zarr
    with _GROUPS_LOCK:
        if path not in _GROUPS:
            _GROUPS[path] = zarr.open_group(path, mode="r+")
        return _GROUPS[path]


@dataclass(frozen=True)
class ZarrRegion:
    """Writes a block into its region of the store, where it was computed."""

    path: str
    dims: Mapping[str, tuple[str, ...]]

    def put(self, region: Region, arrays: Mapping[str, npt.NDArray[Any]]) -> list[Chunk]:
        group = _group(self.path)
        for name, values in arrays.items():
            lows = [region[d][0] for d in self.dims[name]]
            group[name][tuple(slice(lo, lo + n) for lo, n in zip(lows, values.shape))] = values
        return []


class ZarrOutput:
    """A Zarr store (format 2, consolidated metadata) laid out by xarray."""

    def __init__(self, path: str, sizes: Mapping[str, int], coords: Mapping[str, xr.DataArray],
                 attrs: Mapping[str, Any], variables: Sequence[OutputVar],
                 block: Mapping[str, int], scalars: Mapping[str, Mapping[str, Any]] | None = None
                 ) -> None:
        import dask.array as da
        import xarray as xr
        encoding: dict[str, dict[str, Any]] = {}
        laid: dict[str, xr.Variable] = {}
        for d, coord in coords.items():
            values = np.asarray(coord.values)
            laid[d] = xr.Variable(coord.dims, values, coordinate_attrs(d, coord.attrs))
            if np.issubdtype(values.dtype, np.datetime64):
                encoding[d] = {"units": TIME_UNITS, "calendar": "proleptic_gregorian",
                               "dtype": "int64"}
        for v in variables:
            shape = chunk_shape(v, sizes, block)
            empty = da.empty(tuple(sizes[d] for d in v.dims), chunks=shape, dtype=v.dtype)
            laid[v.name] = xr.Variable(v.dims, empty, dict(v.attrs))
            encoding[v.name] = {"chunks": shape, "_FillValue": v.fill}
        for name, scalar_attrs in (scalars or {}).items():
            laid[name] = xr.Variable((), np.int32(0), dict(scalar_attrs))
        template = xr.Dataset({k: x for k, x in laid.items() if k not in coords and k not in (scalars or {})},
                              coords={k: laid[k] for k in (*coords, *(scalars or {}))},
                              attrs=dict(attrs))
        template.to_zarr(path, mode="w", compute=False, zarr_format=2, consolidated=True,
                         encoding=encoding)
        self.path = path
        self.sink = ZarrRegion(path, {v.name: v.dims for v in variables})

    def write(self, chunks: list[Chunk]) -> None:
        pass                                    # the blocks wrote themselves

    def close(self) -> None:
        with _GROUPS_LOCK:
            _GROUPS.pop(self.path, None)
