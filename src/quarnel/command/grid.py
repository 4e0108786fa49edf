"""Grids: NetCDF in, NetCDF out, block by block."""

from __future__ import annotations

import argparse
import datetime
import itertools
import math
import os
import pathlib
import sys
import threading
from collections.abc import Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel import tmrt
from quarnel.command.arguments import PROG
from quarnel.command.failure import Failure
from quarnel.command.plot import PLOTTED, plot
from quarnel.command.staging import Staging

if TYPE_CHECKING:
    import xarray as xr

NETCDF_MAGIC = (b"CDF\x01", b"CDF\x02", b"CDF\x05", b"\x89HDF\r\n\x1a\n")


def is_netcdf(path: pathlib.Path) -> bool:
    try:
        with open(path, "rb") as f:
            return f.read(8).startswith(NETCDF_MAGIC)
    except OSError:
        return False


def _netcdf_modules() -> None:
    try:
        import dask  # noqa: F401
        import netCDF4  # noqa: F401
        import xarray  # noqa: F401
    except ImportError as e:
        raise Failure(f"NetCDF files need xarray, dask and netCDF4 ({e.name} is missing): "
                      "pip install 'quarnel[netcdf]'") from None


def _open(path: pathlib.Path) -> xr.Dataset:
    import xarray as xr
    try:
        return xr.open_dataset(path, engine="netcdf4", chunks=None)
    except (OSError, ValueError, RuntimeError) as e:
        raise Failure(f"{path}: cannot read as NetCDF: {e}") from None


_READ_LOCK = threading.Lock()


def netcdf_region(path: str, region: Mapping[str, tuple[int, int]], kwargs: Mapping[str, Any],
                  dims: Mapping[str, tuple[str, ...]]) -> dict[str, npt.NDArray[Any]]:
    """One block of the output: reads the block of the input, computes it.
    Runs in dask's threads or on distributed workers."""
    import xarray as xr
    # The netCDF and HDF5 libraries are not safe for threads: one reader at
    # a time in a process, the computing in parallel.
    with _READ_LOCK, xr.open_dataset(path, engine="netcdf4", chunks=None) as ds:
        block = ds.isel({d: slice(lo, hi) for d, (lo, hi) in region.items()}).load()
    out = tmrt.compute(block, **kwargs)
    return {name: out[name].transpose(*d).values for name, d in dims.items()}


def netcdf_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, float],
                staging: Staging) -> None:
    _netcdf_modules()
    import netCDF4
    from dask.base import compute
    from dask.delayed import delayed

    kwargs: dict[str, Any] = dict(latitude=args.lat, longitude=args.lon, height=args.height,
                                  utc_offset=args.utc_offset, names=names,
                                  invalid="mask" if args.out_of_range == "missing" else "raise",
                                  **model)
    path = str(args.input)
    with _open(args.input) as ds:
        sizes = {str(d): int(n) for d, n in ds.sizes.items()}
        if any(n == 0 for n in sizes.values()):
            raise Failure(f"{args.input}: empty dimension")
        probe = ds.isel({d: slice(0, 1) for d in sizes}).load()
        coords = {str(d): ds[d] for d in sizes if d in ds.coords}
        global_attrs = dict(ds.attrs)
    try:
        first = tmrt.compute(probe, **kwargs)
    except (KeyError, ValueError) as e:
        message = e.args[0] if isinstance(e, KeyError) else str(e)
        raise Failure(f"{args.input}: {message}") from None
    variables = {str(k): v for k, v in first.data_vars.items()}
    dims = {k: tuple(str(d) for d in v.dims) for k, v in variables.items()}
    chunk = {d: args.chunks.get(d, 24 if d in ("time", "valid_time") else 128) for d in sizes}
    starts = {d: range(0, sizes[d], max(1, chunk[d])) for d in sizes}
    regions = [{d: (lo, min(lo + chunk[d], sizes[d])) for d, lo in zip(sizes, combo)}
               for combo in itertools.product(*starts.values())]

    time_dim = next((d for d in ("time", "valid_time") if d in sizes), None)
    ntime = sizes[time_dim] if time_dim else 0
    sums = {k: np.zeros(ntime) for k in PLOTTED if k in variables and time_dim in dims[k]}
    counts = {k: np.zeros(ntime) for k in sums}

    tmp = staging.temporary(args.output)
    client = _client(args.scheduler) if args.scheduler else None
    try:
        with netCDF4.Dataset(tmp, "w", format="NETCDF4") as nc:
            nc.setncatts({k: v for k, v in global_attrs.items() if not k.startswith("_")})
            nc.setncattr("history", f"{_now()} quarnel tmrt {args.input.name}")
            for d, n in sizes.items():
                nc.createDimension(d, n)
            for d, coord in coords.items():
                _write_coordinate(nc, d, coord)
            for k, v in variables.items():
                var = nc.createVariable(k, v.dtype if v.dtype.kind == "f" else np.float64, dims[k],
                                        zlib=True, complevel=1, fill_value=np.nan,
                                        chunksizes=[min(chunk[d], sizes[d]) for d in dims[k]])
                var.setncatts({a: val for a, val in v.attrs.items()
                               if not a.startswith("_") and a not in ("scale_factor", "add_offset")})
            width = client_threads(client) if client else (os.cpu_count() or 1)
            progress = _Progress(len(regions), sys.stderr.isatty())
            for batch in _batched(regions, 2 * width):
                tasks = [delayed(netcdf_region, pure=True)(path, r, kwargs, dims) for r in batch]
                try:
                    if client is not None:
                        results = client.gather(client.compute(tasks))
                    else:
                        results = compute(*tasks, scheduler="threads")
                except tmrt.ObservationError as e:
                    raise Failure(f"{args.input}: {e}") from None
                for region, result in zip(batch, results):
                    for k, values in result.items():
                        nc[k][tuple(slice(*region[d]) for d in dims[k])] = values
                        if k in sums:
                            _accumulate(sums[k], counts[k], values, dims[k], time_dim,
                                        region[time_dim][0])
                progress.advance(len(batch))
            progress.done()
    finally:
        if client is not None:
            client.close()
    if args.plot is not None and time_dim is not None:
        with np.errstate(invalid="ignore", divide="ignore"):
            series = {k: sums[k] / counts[k] for k in sums}
        times = np.asarray(coords[time_dim].values) if time_dim in coords else np.arange(ntime)
        grid = math.prod(sizes.values()) > ntime
        plot(times, series, args.input.name + (", mean over the grid" if grid else ""),
              staging.temporary(args.plot))


def client_threads(client: Any) -> int:
    return max(1, sum(int(n) for n in client.nthreads().values()))


def _client(address: str) -> Any:
    try:
        from distributed import Client
    except ImportError:
        raise Failure("--scheduler needs dask.distributed: pip install 'quarnel[dask]'") from None
    try:
        return Client(address, timeout="10s")
    except (OSError, TimeoutError, ValueError) as e:
        raise Failure(f"cannot reach the dask scheduler at {address}: {e}") from None


def _accumulate(total: npt.NDArray[np.float64], count: npt.NDArray[np.float64],
                values: npt.NDArray[Any], dims: tuple[str, ...], time_dim: str | None,
                start: int) -> None:
    axis = dims.index(str(time_dim))
    moved = np.moveaxis(np.asarray(values, dtype=np.float64), axis, 0).reshape(values.shape[axis], -1)
    ok = ~np.isnan(moved)
    total[start:start + moved.shape[0]] += np.where(ok, moved, 0.0).sum(axis=1)
    count[start:start + moved.shape[0]] += ok.sum(axis=1)


def _write_coordinate(nc: Any, dim: str, coord: xr.DataArray) -> None:
    values = np.asarray(coord.values)
    attrs = {a: v for a, v in coord.attrs.items() if not a.startswith("_")}
    if np.issubdtype(values.dtype, np.datetime64):
        var = nc.createVariable(dim, np.int64, (dim,))
        var[:] = values.astype("datetime64[s]").astype(np.int64)
        attrs.update(units="seconds since 1970-01-01 00:00:00", calendar="proleptic_gregorian")
    else:
        var = nc.createVariable(dim, values.dtype, (dim,))
        var[:] = values
    var.setncatts(attrs)


def _batched(items: Sequence[Any], n: int) -> Iterator[Sequence[Any]]:
    for i in range(0, len(items), n):
        yield items[i:i + n]


def _now() -> str:
    return datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%dT%H:%M:%SZ")


class _Progress:
    """A bar on standard error, when that is a terminal."""

    def __init__(self, total: int, enabled: bool) -> None:
        self.total, self.done_, self.enabled = total, 0, enabled

    def advance(self, n: int) -> None:
        self.done_ += n
        if self.enabled:
            filled = 30 * self.done_ // max(self.total, 1)
            sys.stderr.write(f"\r{PROG}: [{'#' * filled}{'.' * (30 - filled)}] "
                             f"{self.done_}/{self.total} blocks")
            sys.stderr.flush()

    def done(self) -> None:
        if self.enabled:
            sys.stderr.write("\n")

