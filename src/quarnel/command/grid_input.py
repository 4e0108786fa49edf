"""Grids in: NetCDF files, Zarr stores and GRIB files (through cfgrib),
opened lazily, read one block at a time.

The netCDF and HDF5 libraries are not safe for threads: every call into
them (reading NetCDF or GRIB here, writing NetCDF in grid_output) holds
HDF5_LOCK. Zarr stores are read without it.
"""

from __future__ import annotations

import math
import os
import pathlib
import threading
from collections.abc import Mapping
from typing import TYPE_CHECKING, Literal, TypeAlias

from quarnel.command.failure import Failure

if TYPE_CHECKING:
    import xarray as xr

Kind: TypeAlias = Literal["csv", "netcdf", "zarr", "grib"]
Region: TypeAlias = Mapping[str, tuple[int, int]]

HDF5_LOCK = threading.RLock()
NETCDF_MAGIC = (b"CDF\x01", b"CDF\x02", b"CDF\x05", b"\x89HDF\r\n\x1a\n")
GRIB_SUFFIXES = (".grib", ".grib2", ".grb", ".grb2")
ZARR_MARKS = (".zgroup", ".zmetadata", "zarr.json")
NETCDF_SUFFIXES = (".nc", ".nc4", ".netcdf")
CHUNK_CACHE = 4 << 20           # [bytes] per variable of a NetCDF input


def input_kind(path: pathlib.Path) -> Kind:
    """What the input is, from its content (a Zarr store: from its metadata)."""
    if path.is_dir():
        if path.suffix.lower() == ".zarr" or any((path / m).exists() for m in ZARR_MARKS):
            return "zarr"
        raise Failure(f"{path}: a directory, and no Zarr store")
    try:
        with open(path, "rb") as f:
            head = f.read(8)
    except OSError as e:
        raise Failure(f"{path}: {e.strerror}") from None
    suffix = path.suffix.lower()
    if head.startswith(NETCDF_MAGIC):
        return "netcdf"
    if head.startswith(b"GRIB"):
        return "grib"
    # Named as a grid, but not one: say what is wrong with the input.
    what = ("NetCDF" if suffix in NETCDF_SUFFIXES else "GRIB" if suffix in GRIB_SUFFIXES
            else "Zarr" if suffix == ".zarr" else None)
    if what is not None and not head:
        raise Failure(f"{path}: an empty file, not {what}")
    if what == "Zarr":
        raise Failure(f"{path}: a file, not a Zarr store (a directory)")
    if what == "NetCDF":
        raise Failure(f"{path}: not a NetCDF file (it begins neither as netCDF-3 nor as "
                      "NetCDF-4/HDF5 does); a damaged or partial download?")
    if what == "GRIB":
        return "grib"                   # messages may follow a header: cfgrib tells
    return "csv"


def output_kind(path: pathlib.Path) -> Kind | None:
    suffix = path.suffix.lower()
    if suffix == ".csv":
        return "csv"
    if suffix in NETCDF_SUFFIXES:
        return "netcdf"
    if suffix == ".zarr":
        return "zarr"
    return None


def check_modules(kind: Kind) -> None:
    """A clear message, not an ImportError, when an optional library is missing."""
    needed = {"netcdf": ("xarray", "dask", "netCDF4", "h5py"), "zarr": ("xarray", "dask", "zarr"),
              "grib": ("xarray", "dask", "cfgrib"), "csv": ()}[kind]
    extra = {"netcdf": "netcdf", "zarr": "netcdf", "grib": "grib", "csv": ""}[kind]
    for module in needed:
        try:
            __import__(module)
        except ImportError:
            what = {"netcdf": "NetCDF files", "zarr": "Zarr stores", "grib": "GRIB files"}[kind]
            raise Failure(f"{what} need {', '.join(needed)} ({module} is missing): "
                          f"pip install 'quarnel[{extra}]'") from None


_OPEN: dict[tuple[str, Kind, tuple[int, int]], xr.Dataset] = {}
_OPEN_LOCK = threading.Lock()


def stamp(path: str) -> tuple[int, int]:
    """Modification time [ns] and size [bytes]: a file replaced between two
    runs is opened anew by a cluster's long-lived workers."""
    st = os.stat(path)
    return st.st_mtime_ns, st.st_size


def opened(path: str, kind: Kind, when: tuple[int, int] | None = None) -> xr.Dataset:
    """The input, lazily (NumPy-backed when loaded), opened once per
    process and version of the file: local threads and the tasks of a
    cluster worker share it."""
    key = (path, kind, when if when is not None else stamp(path))
    with _OPEN_LOCK:
        ds = _OPEN.get(key)
        if ds is None:
            ds = _OPEN[key] = _open(path, kind)
        return ds


def _open(path: str, kind: Kind) -> xr.Dataset:
    import xarray as xr
    try:
        if kind == "zarr":
            ds: xr.Dataset = xr.open_zarr(path, chunks=None, decode_timedelta=False)
            return ds
        with HDF5_LOCK:
            if kind == "grib":
                return xr.open_dataset(path, engine="cfgrib", chunks=None, decode_timedelta=False,
                                       backend_kwargs={"indexpath": ""})
            # Blocks are whole chunks, read once: the library's cache of 64 MB
            # a variable would only hold memory.
            import netCDF4
            netCDF4.set_chunk_cache(CHUNK_CACHE)
            return xr.open_dataset(path, engine="netcdf4", chunks=None, decode_timedelta=False)
    except (OSError, ValueError, RuntimeError, KeyError) as e:
        what = {"zarr": "Zarr", "grib": "GRIB"}.get(kind, "NetCDF")
        raise Failure(f"{path}: cannot read as {what}: {e}") from None


def close_all() -> None:
    with _OPEN_LOCK, HDF5_LOCK:
        for ds in _OPEN.values():
            ds.close()
        _OPEN.clear()


def storage_chunks(ds: xr.Dataset, sizes: Mapping[str, int]) -> dict[str, int]:
    """The input's chunk size per dimension of ``sizes`` (largest over the
    variables along no others: cells' bounds are read whole); a variable
    stored without chunks counts as one step of its first dimension by the
    whole of the others."""
    chunks: dict[str, int] = {}
    for var in ds.data_vars.values():
        dims = [str(d) for d in var.dims]
        if len(dims) < 2 or not set(dims) <= set(sizes):
            continue
        preferred = var.encoding.get("preferred_chunks") or {}
        sizes_ = var.encoding.get("chunksizes") or var.encoding.get("chunks")
        for i, d in enumerate(dims):
            if d in preferred:
                n = int(preferred[d])
            elif sizes_ is not None and len(sizes_) == len(dims):
                n = int(sizes_[i])
            else:
                n = 1 if i == 0 else sizes[d]
            chunks[d] = max(chunks.get(d, 1), min(n, sizes[d]))
    return {d: chunks.get(d, 1) for d in sizes}


def read_block(ds: xr.Dataset, kind: Kind, region: Region) -> xr.Dataset:
    """The region of the input, in memory (NumPy-backed)."""
    sel = ds.isel({d: slice(lo, hi) for d, (lo, hi) in region.items()})
    if kind == "zarr":
        return sel.load()
    with HDF5_LOCK:
        return sel.load()


def site_hours(region: Region) -> int:
    return math.prod(hi - lo for lo, hi in region.values())
