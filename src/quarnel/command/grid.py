"""Grids: a NetCDF, Zarr or GRIB input computed block by block into a
NetCDF or Zarr output, on this machine's threads or a dask cluster."""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import tmrt
from quarnel.command import grid_input, pipeline
from quarnel.command.arguments import message
from quarnel.command.failure import Failure, UsageError
from quarnel.command.grid_input import Kind
from quarnel.command.grid_output import (NetcdfOutput, ZarrOutput, cf_attrs,
                                         global_attrs)
from quarnel.command.pipeline import BlockJob, BlockResult, OutputVar
from quarnel.command.plot import PLOTTED, plot
from quarnel.command.staging import Staging
from quarnel.tmrt import clock as tmrt_clock
from quarnel.tmrt.accumulation import cf_mean_interval, row_spacing
from quarnel.tmrt.names import era5_quantities

TIME_DIMS = ("time", "valid_time")


#: coordinates of these dtype kinds are kept in the output: booleans,
#: numbers, strings and times
KEPT_KINDS = "biufUOM"


def choose(available: Sequence[str], variables: Sequence[str] | None) -> list[str]:
    """The output's variables: those named (``all``: every one), else the
    headline quantities there are (``tmrt.HEADLINE``); where the model
    fills gaps, its flags too."""
    if variables is None:
        return [k for k in (*tmrt.HEADLINE, tmrt.FILLED) if k in available]
    if "all" in variables:
        return list(available)
    unknown = [k for k in variables if k not in available]
    if unknown:
        raise UsageError(f"--variables: no variable {', '.join(repr(k) for k in unknown)}; "
                         f"valid: all, {', '.join(available)}")
    # what the model filled goes with the values it filled
    return list(dict.fromkeys([*variables, *(k for k in (tmrt.FILLED,) if k in available)]))


def output_var(name: str, da: Any, dtype: str) -> OutputVar:
    """A result variable as written: floats in the chosen precision,
    integers as they are, with their fill value and flags."""
    kind = da.dtype.kind
    fill: float | int | None
    if kind == "f":
        out_dtype, fill = dtype, math.nan
    else:
        out_dtype = "int8" if kind == "b" else da.dtype.name
        raw = da.attrs.get("_FillValue", da.encoding.get("_FillValue"))
        fill = None if raw is None else int(raw)
    return OutputVar(name, tuple(str(d) for d in da.dims), out_dtype, cf_attrs(name, da.attrs), fill)


# Bytes a block may take in its variables (as computed and as written): many
# variables make smaller blocks, so that memory stays flat whatever is asked.
BLOCK_BYTES = 160 << 20


def block_target(variables: Sequence[OutputVar]) -> int:
    """Site-hours a block aims at for these variables of the output."""
    per_site_hour = 64 + sum(8 + np.dtype(v.dtype).itemsize for v in variables)
    return max(1 << 14, min(pipeline.TARGET_SITE_HOURS, BLOCK_BYTES // per_site_hour))


def grid_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, Any],
             staging: Staging, kind: Kind, out_kind: Kind) -> None:
    grid_input.check_modules(kind)
    grid_input.check_modules(out_kind)
    try:
        _grid_run(args, names, model, staging, kind, out_kind)
    finally:
        grid_input.close_all()


def _grid_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, Any],
              staging: Staging, kind: Kind, out_kind: Kind) -> None:
    path = str(args.input)
    when = grid_input.stamp(path)
    ds = grid_input.opened(path, kind, when)
    sizes = block_sizes(ds)
    if not sizes or any(n == 0 for n in sizes.values()):
        raise Failure(f"{args.input}: empty dimension")
    time_dim = next((d for d in TIME_DIMS if d in sizes), None)
    kwargs: dict[str, Any] = dict(
        latitude=args.latitude, longitude=args.longitude, height=args.height,
        utc_offset=args.utc_offset, timezone=args.timezone, names=era5_quantities(ds, names),
        invalid=args.invalid, **model)
    interval, halo = _interval(args, ds, time_dim, kwargs["names"])
    kwargs.update(interval)

    probe = grid_input.read_block(ds, kind, {d: (0, 1) for d in sizes})
    try:
        first = tmrt.compute(probe, **kwargs)
    except (KeyError, ValueError) as e:
        raise Failure(f"{args.input}: {message(e)}") from None
    # along the grid's dimensions: not the input's bounds of its cells
    available = [str(k) for k, v in first.data_vars.items()
                 if set(map(str, v.dims)) <= set(sizes)]
    variables = tuple(output_var(k, first[k], args.dtype or "float32")
                      for k in choose(available, args.variables))
    plotted = tuple(k for k in PLOTTED if k in first.data_vars) if args.plot else ()

    block = pipeline.plan_blocks(sizes, grid_input.storage_chunks(ds, sizes), args.chunks,
                                 target=block_target(variables))
    todo = pipeline.regions(sizes, block)
    coords = {d: _unbounded(ds[d]) for d in sizes if d in ds.coords}
    # The other coordinates along the output's dimensions too: a station
    # dimension's or a curvilinear grid's latitude and longitude, ERA5's
    # expver (final or preliminary data) and an ensemble member's number.
    coords.update({str(c): _unbounded(ds[c]) for c in ds.coords if str(c) not in sizes
                   and set(map(str, ds[c].dims)) <= set(sizes) and ds[c].dtype.kind in KEPT_KINDS
                   and str(c) not in first.data_vars})
    attrs = global_attrs(ds.attrs, f"quarnel tmrt {args.input.name}")
    tmp = str(staging.temporary(args.output, directory=out_kind == "zarr"))
    writer: NetcdfOutput | ZarrOutput
    if out_kind == "zarr":
        writer = ZarrOutput(tmp, sizes, coords, attrs, variables, block)
    else:
        writer = NetcdfOutput(tmp, sizes, coords, attrs, variables, block)
    job = BlockJob(path, kind, kwargs, variables, time_dim, plotted, stamp=when, halo=halo)

    ntime = sizes[time_dim] if time_dim else 0
    sums = {k: np.zeros(ntime) for k in plotted}
    counts = {k: np.zeros(ntime, dtype=np.int64) for k in plotted}
    progress = pipeline.Progress(math.prod(sizes.values()), sys.stderr.isatty())

    def done(result: BlockResult) -> None:
        if time_dim is not None:
            lo, hi = result.region[time_dim]
            for k, s in result.sums.items():
                sums[k][lo:hi] += s
                counts[k][lo:hi] += result.counts[k]
        progress.advance(result.site_hours)

    try:
        if args.scheduler:
            client = _client(args.scheduler)
            try:
                pipeline.run_cluster(client, job, todo, writer.sink, writer.write, done)
            finally:
                client.close()
        else:
            pipeline.run_local(job, todo, writer.sink, writer.write, done)
    except tmrt.ObservationError as e:
        raise Failure(f"{args.input}: {message(e)}") from None
    finally:
        writer.close()
        progress.finish()

    if args.plot is not None and time_dim is not None:
        with np.errstate(invalid="ignore", divide="ignore"):
            series: Mapping[str, npt.NDArray[Any]] = {k: sums[k] / counts[k] for k in sums}
        times = (tmrt_clock.as_datetime64(coords[time_dim].values) if time_dim in coords
                 else np.arange(ntime))
        spread = math.prod(sizes.values()) > ntime
        plot(times, series, args.input.name + (", mean over the grid" if spread else ""),
             staging.temporary(args.plot))


def block_sizes(ds: Any) -> dict[str, int]:
    """The dimensions of the grid, which blocks are cut along: not those
    of cells' bounds alone (CF's ``bnds``, two bounds to a cell), which
    every block reads whole."""
    bounds = {a for v in ds.variables.values() if isinstance(a := v.attrs.get("bounds"), str)}
    used = {d for name, v in ds.variables.items() if name not in bounds for d in v.dims}
    return {str(d): int(n) for d, n in ds.sizes.items() if d in used}


def _unbounded(coord: Any) -> Any:
    """A coordinate as written: without the name of its bounds, which the
    output does not have."""
    if "bounds" not in coord.attrs:
        return coord
    out = coord.copy(deep=False)
    out.attrs = {k: v for k, v in coord.attrs.items() if k != "bounds"}
    return out


def _interval(args: argparse.Namespace, ds: Any, time_dim: str | None, names: dict[str, str]
              ) -> tuple[dict[str, Any], int]:
    """The accumulation and timestamps every block's compute takes, and the
    leading time steps a block needs: a block cannot see the spacing of
    the whole time coordinate, running totals are differenced to the step
    before the block, and CF means take the interval of the whole time
    axis' bounds (each block's bounds are held to it)."""
    settings: dict[str, Any] = {"accumulation": args.accumulation, "timestamps": args.timestamps}
    if time_dim is None:
        return settings, 0
    accumulated = any(tmrt.is_accumulated(ds[v]) for v in ds.data_vars)
    try:
        if time_dim in ds.coords and not any(
                (s := names.get(q, q)) in ds.data_vars and tmrt.is_accumulated(ds[s])
                for q in tmrt.SHORTWAVE):
            sources = {q: s for q in tmrt.INPUTS if (s := names.get(q, q)) in ds.data_vars}
            bounded = cf_mean_interval(ds, sources, time_dim, args.timestamps,
                                       args.accumulation)
            if bounded is not None:
                settings["timestamps"] = bounded[0]
                if not accumulated:
                    settings["accumulation"] = bounded[1]
                    return settings, 0
        if not (accumulated or args.timestamps != "instant"):
            return settings, 0
        if args.accumulation == "since-00utc":
            return settings, 1
        if args.accumulation == "interval":
            # W/m² means: the library's spacing of rows, over the whole time axis
            spacing = tmrt.accumulation_hours if accumulated else row_spacing
            settings["accumulation"] = spacing(tmrt_clock.as_datetime64(ds[time_dim].values,
                                                                        time_dim))
    except ValueError as e:
        raise Failure(f"{args.input}: {message(e)}") from None
    return settings, 0


def _client(address: str) -> Any:
    try:
        from distributed import Client
    except ImportError:
        raise Failure("--scheduler needs dask.distributed: pip install 'quarnel[dask]'") from None
    try:
        return Client(address, timeout="10s")
    except (OSError, TimeoutError, ValueError) as e:
        raise Failure(f"cannot reach the dask scheduler at {address}: {e}") from None
