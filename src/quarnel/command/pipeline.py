"""The blocks of a grid: read -> compute -> encode -> write, overlapped.

A block is a whole number of the input's storage chunks along each
dimension, a few MB of each variable. Worker threads (or the tasks of a
dask.distributed cluster) each read a block (under the HDF5 lock for
NetCDF and GRIB), compute it with ``tmrt.compute``, cast it to the output's
types and encode it: NetCDF chunks compressed there, on every core; a Zarr
region written there. The calling thread writes what comes back, in order,
and advances the progress bar; at most two blocks per worker are in flight,
so memory stays bounded whatever the size of the grid.

``BlockJob.halo`` leading time steps are read and computed with each block
and dropped before writing (1 to difference ERA5-Land's running totals);
what needs the whole time coordinate (an accumulation period) is worked
out once before the blocks and passed to every ``tmrt.compute``.
"""

from __future__ import annotations

import itertools
import math
import os
import sys
import time
from collections import deque
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Protocol

import numpy as np
import numpy.typing as npt

from quarnel import tmrt
from quarnel.command import grid_input
from quarnel.command.arguments import PROG
from quarnel.command.grid_input import Kind, Region

if TYPE_CHECKING:
    import xarray as xr

#: the size of a block aimed at [site-hours]: 2 MB of a float32 variable,
#: some 120 MB of the float64 intermediates while it is computed (smaller
#: blocks spend more of their time in xarray's bookkeeping)
TARGET_SITE_HOURS = 1 << 19
#: an encoded chunk: (variable, offset of the chunk, compressed bytes or, for
#: writers that compress themselves, the array)
Chunk = tuple[str, tuple[int, ...], "bytes | npt.NDArray[Any]"]


@dataclass(frozen=True)
class OutputVar:
    """A variable of the output: dimensions, type, CF attributes, fill value."""

    name: str
    dims: tuple[str, ...]
    dtype: str
    attrs: Mapping[str, Any]
    fill: float | int | None


@dataclass(frozen=True)
class BlockJob:
    """What every block needs; small, and picklable for a cluster."""

    path: str
    kind: Kind
    kwargs: Mapping[str, Any]              # for tmrt.compute
    variables: tuple[OutputVar, ...]      # of the output
    time_dim: str | None
    plotted: tuple[str, ...] = ()          # per-time sums for the plot
    halo: int = 0                          # leading time steps computed, then dropped
    stamp: tuple[int, int] | None = None   # of the input, as grid_input.stamp


@dataclass
class BlockResult:
    region: Region
    chunks: list[Chunk]
    sums: dict[str, npt.NDArray[np.float64]]
    counts: dict[str, npt.NDArray[np.int64]]
    site_hours: int


class Sink(Protocol):
    """Where a block goes, on the thread or worker that computed it."""

    def put(self, region: Region, arrays: Mapping[str, npt.NDArray[Any]]) -> list[Chunk]: ...


# Blocks ----------------------------------------------------------------------

def plan_blocks(sizes: Mapping[str, int], chunks: Mapping[str, int],
                given: Mapping[str, int] | None = None,
                target: int = TARGET_SITE_HOURS) -> dict[str, int]:
    """The block shape: whole storage chunks, grown along the last dimensions
    first (whole rows of the grid read and write in one piece) until the
    block holds about `target` site-hours; `given` sizes are kept."""
    given = given or {}
    shape = {d: min(max(1, given.get(d, chunks.get(d, 1))), n) for d, n in sizes.items()}
    for d in reversed(list(sizes)):
        if d in given:
            continue
        have = math.prod(shape.values())
        if have >= target:
            break
        whole = -(-sizes[d] // shape[d])
        factor = max(1, min(whole, target // have))
        if have * whole <= 2 * target:      # whole rows rather than a part short of them
            factor = whole
        shape[d] = min(sizes[d], shape[d] * factor)
    return shape


def regions(sizes: Mapping[str, int], block: Mapping[str, int]) -> list[dict[str, tuple[int, int]]]:
    """The blocks in C order, each as dimension -> (start, stop)."""
    out: list[dict[str, tuple[int, int]]] = [{}]
    for d, n in sizes.items():
        out = [{**r, d: (lo, min(lo + block[d], n))} for r in out for lo in range(0, n, block[d])]
    return out


# One block -------------------------------------------------------------------

def _writes(var_dims: Sequence[str], region: Region) -> bool:
    # A variable on fewer dimensions than the grid (solar time along time and
    # longitude) is written by the blocks at the start of the others only.
    return all(lo == 0 for d, (lo, _) in region.items() if d not in var_dims)


def _drop(values: npt.NDArray[Any], dims: Sequence[str], time_dim: str | None,
          halo: int) -> npt.NDArray[Any]:
    if not halo or time_dim not in dims:
        return values
    index: list[slice] = [slice(None)] * values.ndim
    index[list(dims).index(str(time_dim))] = slice(halo, None)
    return values[tuple(index)]


def compute_block(job: BlockJob, region: Region, sink: Sink) -> BlockResult:
    """Reads, computes and encodes one block; runs in a worker thread or on
    a cluster's worker."""
    ds = grid_input.opened(job.path, job.kind, job.stamp)
    read = dict(region)
    halo = 0
    if job.halo and job.time_dim in region:
        lo, hi = region[str(job.time_dim)]
        halo = min(job.halo, lo)
        read[str(job.time_dim)] = (lo - halo, hi)
    block = grid_input.read_block(ds, job.kind, read)
    # Only the quantities written or plotted are kept: the rest of the chain's
    # results would only hold memory.
    needed = {v.name for v in job.variables} | set(job.plotted)
    result = tmrt.compute(block, variables=[k for k in (*tmrt.OUTPUTS, tmrt.FILLED) if k in needed],
                          **job.kwargs)
    arrays: dict[str, npt.NDArray[Any]] = {}
    for var in job.variables:
        if _writes(var.dims, region):
            values = result[var.name].transpose(*var.dims).values
            arrays[var.name] = _drop(values, var.dims, job.time_dim, halo).astype(var.dtype,
                                                                                   copy=False)
    sums: dict[str, npt.NDArray[np.float64]] = {}
    counts: dict[str, npt.NDArray[np.int64]] = {}
    for name in job.plotted:
        da = result[name]
        dims = tuple(str(d) for d in da.dims)
        if job.time_dim in dims and _writes(dims, region):
            values = _drop(np.asarray(da.values, dtype=np.float64), dims, job.time_dim, halo)
            along = np.moveaxis(values, dims.index(str(job.time_dim)), 0)
            along = along.reshape(along.shape[0], -1)
            ok = ~np.isnan(along)
            sums[name] = np.where(ok, along, 0.0).sum(axis=1)
            counts[name] = ok.sum(axis=1)
    del result, block
    chunks = sink.put(region, arrays)
    return BlockResult(region, chunks, sums, counts, grid_input.site_hours(region))


# Running the blocks ------------------------------------------------------------

def run_local(job: BlockJob, todo: Iterable[Region], sink: Sink,
              write: Callable[[list[Chunk]], None], done: Callable[[BlockResult], None],
              workers: int | None = None) -> None:
    """The blocks on this machine's threads; `write` and `done` on this one."""
    workers = workers or os.cpu_count() or 1
    pending: deque[Future[BlockResult]] = deque()
    blocks = iter(todo)
    with ThreadPoolExecutor(workers, thread_name_prefix="quarnel-block") as pool:
        try:
            while True:
                while len(pending) < 2 * workers:
                    region = next(blocks, None)
                    if region is None:
                        break
                    pending.append(pool.submit(compute_block, job, region, sink))
                if not pending:
                    break
                result = pending.popleft().result()
                write(result.chunks)
                done(result)
        finally:
            for future in pending:
                future.cancel()


def run_cluster(client: Any, job: BlockJob, todo: Iterable[Region], sink: Sink,
                write: Callable[[list[Chunk]], None], done: Callable[[BlockResult], None]) -> None:
    """The blocks as tasks of a dask.distributed cluster, a few per worker
    thread at a time; `write` and `done` here, as they come back."""
    from distributed import as_completed

    window = 2 * client_threads(client)
    blocks: Iterator[Region] = iter(todo)
    first = [client.submit(compute_block, job, r, sink, pure=False)
             for r in itertools.islice(blocks, window)]
    running = as_completed(first)
    try:
        for future in running:
            result = future.result()
            future.release()
            write(result.chunks)
            done(result)
            region = next(blocks, None)
            if region is not None:
                running.add(client.submit(compute_block, job, region, sink, pure=False))
    finally:
        client.cancel(list(running.futures))


def client_threads(client: Any) -> int:
    return max(1, sum(int(n) for n in client.nthreads().values()))


class Progress:
    """A bar on standard error, when that is a terminal; the rate and the
    time left from the site-hours written so far."""

    def __init__(self, total: int, enabled: bool, unit: str = "site-hours") -> None:
        self.total, self.written, self.enabled, self.unit = total, 0, enabled, unit
        self.start = time.monotonic()

    def advance(self, site_hours: int) -> None:
        self.written += site_hours
        if not self.enabled:
            return
        elapsed = max(time.monotonic() - self.start, 1e-9)
        rate = self.written / elapsed
        left = (self.total - self.written) / rate if rate > 0 else math.inf
        filled = 30 * self.written // max(self.total, 1)
        sys.stderr.write(f"\r{PROG}: [{'#' * filled}{'.' * (30 - filled)}] "
                         f"{self.written / 1e6:.1f}/{self.total / 1e6:.1f} M {self.unit}, "
                         f"{rate / 1e6:.2f} M/s, {_duration(left)} left ")
        sys.stderr.flush()

    def finish(self) -> None:
        if self.enabled:
            sys.stderr.write("\n")


def _duration(seconds: float) -> str:
    if not math.isfinite(seconds):
        return "?"
    s = int(round(seconds))
    return f"{s // 3600}:{s // 60 % 60:02d}:{s % 60:02d}" if s >= 3600 else f"{s // 60}:{s % 60:02d}"
