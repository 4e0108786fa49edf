"""The command on gridded reanalysis, against its floors.

    python benchmarks/job.py [--quick] [--site-hours N] [--workdir DIR]
                             [--era5-fluxes] [--memory-scale] [--repeats N]
    python benchmarks/job.py --compute-only [--quick]

Makes an ERA5-like NetCDF file (hourly ``valid_time`` x descending
``latitude`` x ``longitude``, float32, zlib 1 with shuffle, chunked as CDS
files are; cached in the work folder by its parameters) and runs, each in a
child process, side by side:

1. ``quarnel tmrt IN.nc -o OUT.nc`` with its default outputs, and with
   ``--variables utci,pet,wbgt`` (the heat-stress indices a study asks for:
   PET and WBGT each from its own solver on every site-hour);
2. the same with ``--variables all --dtype float64``, to NetCDF and to Zarr;
3. the floors: the same variables (names and dtypes of 2's output, filled
   with the input's data) read and written by xarray with netCDF4 at the
   same zlib settings, or by ``xarray.to_zarr`` with zarr's default
   compressor; and the input read alone;
4. what a user writes without quarnel: xarray, the chain as NumPy
   expressions (chain.py's formulas) under ``apply_ufunc``, the mean radiant
   temperature written as float32;
5. the command with ``--scheduler`` on a ``distributed.LocalCluster`` of two
   single-threaded workers, writing Zarr, checked against 2's Zarr output.

Wall time and peak memory are the child's: ``os.wait4`` on its pid, whose
``ru_maxrss`` is the largest resident set of the child (or of a process it
waited for); the children are started by a small launcher process, as the
mark counts the image a child was forked from. MB are 2**20 bytes. Options the installed command lacks (its
``--help``, or its usage error for a Zarr output) print "n/a (not
supported by this build)".

``--compute-only`` times ``quarnel.tmrt.compute`` on a mapping of NumPy
arrays (an hourly series at 100 sites): the job layer's own cost aside, for
the model's outputs but PET and WBGT, and for ``utci,pet,wbgt``.
"""

from __future__ import annotations

import argparse
import dataclasses
import hashlib
import json
import math
import os
import pathlib
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

HERE = pathlib.Path(__file__).resolve().parent
GENERATOR_VERSION = 1          # part of the cache key: bump when the made-up weather changes
DEFAULT_SITE_HOURS = 10_000_000
QUICK_SITE_HOURS = 200_000
SCALED_SITE_HOURS = 30_000_000
START = np.datetime64("2023-04-01T00", "h")
STEP_DEG = 0.25
NORTH, WEST = 60.0, -5.0
COMMAND_CHUNKS = {"valid_time": 24, "latitude": 128, "longitude": 128}   # the command's default blocks
NA = "n/a (not supported by this build)"
INDICES = "utci,pet,wbgt"      # the indices' case
SIGMA = 5.67e-08
SOLAR_CONSTANT = 1361.0        # [W m-2]

ERA5_ATTRS: dict[str, dict[str, str]] = {
    "t2m": dict(units="K", long_name="2 metre temperature", standard_name="air_temperature"),
    "d2m": dict(units="K", long_name="2 metre dewpoint temperature",
                standard_name="dew_point_temperature"),
    "tcc": dict(units="(0 - 1)", long_name="Total cloud cover", standard_name="cloud_area_fraction"),
    "u10": dict(units="m s**-1", long_name="10 metre U wind component", standard_name="eastward_wind"),
    "v10": dict(units="m s**-1", long_name="10 metre V wind component", standard_name="northward_wind"),
    "ssrd": dict(units="J m**-2", long_name="Surface short-wave (solar) radiation downwards",
                 standard_name="surface_downwelling_shortwave_flux_in_air"),
}
FLUX_ATTRS: dict[str, dict[str, str]] = {
    "fdir": dict(units="J m**-2", long_name="Total sky direct short-wave (solar) radiation at surface"),
    "strd": dict(units="J m**-2", long_name="Surface long-wave (thermal) radiation downwards",
                 standard_name="surface_downwelling_longwave_flux_in_air"),
    "ssr": dict(units="J m**-2", long_name="Surface net short-wave (solar) radiation",
                standard_name="surface_net_downward_shortwave_flux"),
    "str": dict(units="J m**-2", long_name="Surface net long-wave (thermal) radiation",
                standard_name="surface_net_downward_longwave_flux"),
}


# The made-up reanalysis ------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Grid:
    """Hours from START x latitudes (north to south) x longitudes."""

    ntime: int
    nlat: int
    nlon: int

    @property
    def site_hours(self) -> int:
        return self.ntime * self.nlat * self.nlon

    def latitudes(self) -> FloatArray:
        return NORTH - STEP_DEG * np.arange(self.nlat, dtype=np.float64)

    def longitudes(self) -> FloatArray:
        return WEST + STEP_DEG * np.arange(self.nlon, dtype=np.float64)


def grid_for(site_hours: int, nlat: int = 60, nlon: int = 80) -> Grid:
    """Whole days on a fixed grid: larger sizes are longer series, so the
    command's blocks (and its memory) stay the same."""
    days = max(1, math.ceil(site_hours / (24 * nlat * nlon)))
    return Grid(24 * days, nlat, nlon)


def cos_zenith(hours: FloatArray, lat: FloatArray, lon: FloatArray) -> FloatArray:
    """Cosine of the solar zenith angle, roughly (declination by a sine,
    mean solar time): enough for where the sun is up. hours [h since
    START], lat, lon [°], broadcasting."""
    day = (START.astype("datetime64[D]") - START.astype("datetime64[Y]")).astype(int) + hours / 24
    decl = np.radians(23.44) * np.sin(2 * np.pi * (284 + day) / 365)
    hour_angle = np.radians(15.0 * ((hours % 24) + lon / 15.0 - 12.0))
    phi = np.radians(lat)
    return np.sin(phi) * np.sin(decl) + np.cos(phi) * np.cos(decl) * np.cos(hour_angle)  # type: ignore[no-any-return]


def weather(hours: FloatArray, lat: FloatArray, lon: FloatArray, rng: np.random.Generator,
            fluxes: bool = False) -> dict[str, FloatArray]:
    """ERA5 variables in ERA5 units at the broadcast of hours (T, 1, 1),
    lat (1, L, 1) and lon (1, 1, M): a seasonal and a daily cycle, cloud
    in travelling patterns, the sun from the clock, nights without it."""
    shape = np.broadcast_shapes(hours.shape, lat.shape, lon.shape)
    day = hours / 24
    local = (hours % 24 + lon / 15.0) % 24
    waves = (np.sin(2 * np.pi * (lon / 7.0 + hours / 53.0)) * np.cos(2 * np.pi * (lat / 5.0 - hours / 71.0))
             + 0.6 * np.sin(2 * np.pi * (hours / 120.0 + lat / 3.0 + lon / 11.0)))
    tcc = np.clip(0.5 + 0.45 * waves + rng.normal(0.0, 0.08, shape), 0.0, 1.0)
    mean_t = 8.0 + 10.0 * np.sin(2 * np.pi * (day - 20.0) / 365) - 0.6 * (lat - 50.0)   # °C
    daily = np.cos(2 * np.pi * (local - 15.0) / 24)
    t2m = 273.15 + mean_t + 5.0 * (1 - 0.6 * tcc) * daily + rng.normal(0.0, 0.3, shape)
    depression = 2.0 + 5.0 * (1 - tcc) * (0.5 + 0.5 * daily) + np.abs(rng.normal(0.0, 0.5, shape))
    d2m = t2m - depression
    u10 = 3.0 + 3.0 * np.sin(2 * np.pi * (lat / 10.0 + hours / 97.0)) + rng.normal(0.0, 0.7, shape)
    v10 = 1.0 + 2.5 * np.cos(2 * np.pi * (lon / 8.0 - hours / 61.0)) + rng.normal(0.0, 0.7, shape)
    # Accumulated over the hour before each time: the sun of the half hour before.
    mu = np.maximum(cos_zenith(hours - 0.5, lat, lon), 0.0)
    with np.errstate(divide="ignore", over="ignore"):
        clear = np.where(mu > 0, 1098.0 * mu * np.exp(-0.057 / mu), 0.0)    # [W m-2]
    cloudy = clear * (1 - 0.75 * tcc ** 3.4)
    out = dict(t2m=t2m, d2m=d2m, tcc=tcc, u10=u10, v10=v10, ssrd=3600.0 * cloudy)
    if fluxes:
        direct = cloudy * 0.8 * (1 - tcc)
        down_lw = SIGMA * t2m ** 4 * (0.70 + 0.25 * tcc)
        surface = t2m + 4.0 * (clear > 0) * (1 - tcc)
        out.update(fdir=3600.0 * direct, ssr=3600.0 * 0.82 * cloudy, strd=3600.0 * down_lw,
                   str=3600.0 * (down_lw - 0.97 * SIGMA * surface ** 4))
    return {k: np.broadcast_to(v, shape) for k, v in out.items()}


def input_chunks(grid: Grid) -> tuple[int, int, int]:
    """As CDS files: a day of hours, tens of points along each side."""
    return min(24, grid.ntime), min(50, grid.nlat), min(50, grid.nlon)


def write_input(path: pathlib.Path, grid: Grid, fluxes: bool = False, seed: int = 2023) -> None:
    """The file, a day at a time (memory stays at a day whatever the size)."""
    import netCDF4

    attrs = {**ERA5_ATTRS, **(FLUX_ATTRS if fluxes else {})}
    lat, lon = grid.latitudes(), grid.longitudes()
    with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
        nc.setncatts({"Conventions": "CF-1.7", "institution": "made up for benchmarks/job.py",
                      "GRIB_centre": "ecmf", "history": "ERA5-like single levels, not reanalysis"})
        for name, n in (("valid_time", grid.ntime), ("latitude", grid.nlat), ("longitude", grid.nlon)):
            nc.createDimension(name, n)
        vt = nc.createVariable("valid_time", "i8", ("valid_time",))
        vt.setncatts(dict(long_name="time", standard_name="time",
                          units="seconds since 1970-01-01", calendar="proleptic_gregorian"))
        vt[:] = (START + np.arange(grid.ntime)).astype("datetime64[s]").astype(np.int64)
        for name, values, unit in (("latitude", lat, "degrees_north"), ("longitude", lon, "degrees_east")):
            var = nc.createVariable(name, "f8", (name,))
            var.setncatts(dict(units=unit, standard_name=name, long_name=name))
            var[:] = values
        nc["latitude"].stored_direction = "decreasing"
        chunks = input_chunks(grid)
        for name, a in attrs.items():
            var = nc.createVariable(name, "f4", ("valid_time", "latitude", "longitude"), zlib=True,
                                    complevel=1, shuffle=True, chunksizes=chunks,
                                    fill_value=np.float32(np.nan))
            var.setncatts(a)
        for k, lo in enumerate(range(0, grid.ntime, 24)):
            hi = min(lo + 24, grid.ntime)
            rng = np.random.default_rng([seed, k])
            block = weather(np.arange(lo, hi, dtype=np.float64)[:, None, None], lat[None, :, None],
                            lon[None, None, :], rng, fluxes)
            for name in attrs:
                nc[name][lo:hi] = block[name].astype(np.float32)


def cached_input(workdir: pathlib.Path, grid: Grid, fluxes: bool = False, seed: int = 2023) -> pathlib.Path:
    """The input for these parameters, made once: written under a temporary
    name, so an interrupted run leaves nothing that looks finished."""
    key = json.dumps([GENERATOR_VERSION, dataclasses.astuple(grid), fluxes, seed, str(START)])
    digest = hashlib.sha256(key.encode()).hexdigest()[:10]
    path = workdir / f"era5like_{grid.ntime}x{grid.nlat}x{grid.nlon}{'_fluxes' if fluxes else ''}_{digest}.nc"
    if not path.exists():
        workdir.mkdir(parents=True, exist_ok=True)
        partial = path.with_name(path.name + f".{os.getpid()}.part")
        try:
            write_input(partial, grid, fluxes, seed)
            os.replace(partial, path)
        finally:
            partial.unlink(missing_ok=True)
    return path


# Child processes -------------------------------------------------------------

@dataclasses.dataclass
class Measured:
    """One child's run: wall time [s], peak resident set [MB], exit status."""

    seconds: float
    peak_mb: float
    status: int
    stderr: str = ""

    @property
    def ok(self) -> bool:
        return self.status == 0


# A child's ru_maxrss counts the memory of the process it was forked from:
# Linux keeps the high-water mark of the old image across exec. So children
# are forked by a small launcher (the standard library only, ~10 MB), not by
# this process, which holds xarray, dask and the LocalCluster's client.
LAUNCHER = """
import json, os, subprocess, sys, tempfile, time
for request in sys.stdin:
    argv, cwd = json.loads(request)
    with tempfile.TemporaryFile() as err:
        t0 = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=err, cwd=cwd)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - t0
        proc.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        text = err.read().decode(errors="replace")[-4000:]
    kib = usage.ru_maxrss / (1024 if sys.platform == "darwin" else 1)
    print(json.dumps([seconds, kib / 1024, proc.returncode, text]), flush=True)
"""
_launcher: subprocess.Popen[str] | None = None


def run_child(argv: Sequence[str], cwd: pathlib.Path | None = None) -> Measured:
    """Runs argv from the launcher, which reaps it with os.wait4: wall time
    and the child's own ru_maxrss (its largest resident set, and that of any
    process it waited for)."""
    global _launcher
    if _launcher is None or _launcher.poll() is not None:
        _launcher = subprocess.Popen([sys.executable, "-I", "-S", "-c", LAUNCHER], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
    assert _launcher.stdin is not None and _launcher.stdout is not None
    _launcher.stdin.write(json.dumps([list(map(str, argv)), str(cwd) if cwd else None]) + "\n")
    _launcher.stdin.flush()
    seconds, peak_mb, status, text = json.loads(_launcher.stdout.readline())
    return Measured(seconds, peak_mb, status, text)


def best(runs: Sequence[Measured]) -> Measured:
    """Fastest time, highest peak of the repeats; a failure if any failed."""
    failed = [r for r in runs if not r.ok]
    if failed:
        return failed[0]
    return Measured(min(r.seconds for r in runs), max(r.peak_mb for r in runs), 0)


def repeat(argv: Sequence[str], times: int, before: Callable[[], None] = lambda: None) -> Measured:
    runs = []
    for _ in range(times):
        before()
        runs.append(run_child(argv))
        if not runs[-1].ok:
            break
    return best(runs)


def command(*args: str | os.PathLike[str]) -> list[str]:
    return [sys.executable, "-m", "quarnel", "tmrt", *map(str, args)]


def child(kind: str, **params: Any) -> list[str]:
    return [sys.executable, str(pathlib.Path(__file__).resolve()), "--child", kind, json.dumps(params)]


def remove(path: pathlib.Path) -> None:
    if path.is_dir():
        shutil.rmtree(path)
    else:
        path.unlink(missing_ok=True)


def size_mb(path: pathlib.Path) -> float:
    if path.is_dir():
        return sum(p.stat().st_size for p in path.rglob("*") if p.is_file()) / 2**20
    return path.stat().st_size / 2**20 if path.exists() else math.nan


# What the installed command supports ---------------------------------------------

@dataclasses.dataclass
class Support:
    variables: bool = False
    dtype: bool = False
    scheduler: bool = False
    zarr_output: bool = False
    zarr_input: bool = False
    indices: bool = False

    def describe(self) -> str:
        return ", ".join(f"{k.replace('_', ' ')} {'yes' if v else 'no'}"
                         for k, v in dataclasses.asdict(self).items())


def probe_support(tiny: pathlib.Path, scratch: pathlib.Path) -> Support:
    """Options from --help; Zarr by trying: a usage error (status 2) or a
    refusal means this build lacks it."""
    text = subprocess.run(command("--help"), capture_output=True, text=True).stdout
    s = Support(variables="--variables" in text, dtype="--dtype" in text, scheduler="--scheduler" in text,
                indices=all(f" {k}," in text or f" {k};" in text for k in INDICES.split(",")))
    out = scratch / "probe.zarr"
    s.zarr_output = run_child(command(tiny, "-o", out)).ok and out.is_dir()
    if s.zarr_output:
        store, again = scratch / "probe-input.zarr", scratch / "probe-again.zarr"
        import xarray as xr

        with xr.open_dataset(tiny) as ds:
            ds.to_zarr(store, mode="w", zarr_format=2)
        s.zarr_input = run_child(command(store, "-o", again)).ok and again.is_dir()
        remove(again)
        remove(store)
    remove(out)
    return s


# The floors and the hand-written script, run as children -----------------------------

def reference_variables(path: pathlib.Path) -> list[dict[str, Any]]:
    """Name, dtype, dimensions and chunks of each data variable of an output."""
    import xarray as xr

    zarr = path.is_dir()
    with (xr.open_zarr(path) if zarr else xr.open_dataset(path, engine="netcdf4", chunks={})) as ds:
        out = []
        for name, da in ds.data_vars.items():
            enc = da.encoding
            chunks = enc.get("chunks") if zarr else enc.get("chunksizes")
            out.append(dict(name=str(name), dtype=str(enc.get("dtype", da.dtype)),
                            dims=[str(d) for d in da.dims],
                            chunks=list(chunks) if chunks is not None else None))
    return out


def _open_input(path: str, chunks: Mapping[str, int]) -> Any:
    import xarray as xr

    ds = xr.open_dataset(path, engine="netcdf4", chunks={})
    return ds.chunk({d: c for d, c in chunks.items() if d in ds.dims})


def _floor_dataset(params: Mapping[str, Any]) -> Any:
    """The reference's variables, filled with the input's variables in turn."""
    import xarray as xr

    ds = _open_input(params["input"], params["chunks"])
    sources = [ds[v] for v in ds.data_vars]
    out = {}
    for k, ref in enumerate(params["reference"]):
        dtype = np.dtype(ref["dtype"])
        source = sources[k % len(sources)]
        if set(ref["dims"]) <= set(source.dims):
            # Fewer dimensions (solar time has no latitude): a slice of it.
            source = source.isel({d: 0 for d in source.dims if d not in ref["dims"]})
            da = source.transpose(*ref["dims"]).astype(dtype)
            if params.get("fill") == "full" and dtype == np.float64:
                # float32 values widened leave 29 zero bits that compress away;
                # computed values have none: fill them (one multiply).
                da = da * (1.0 + 2.0 ** -26)
        else:
            raise ValueError(f"{ref['name']}: dimensions {ref['dims']} not in the input")
        if ref["chunks"] and tuple(ref["dims"]) == da.dims:
            da = da.chunk(dict(zip(ref["dims"], ref["chunks"])))
        out[ref["name"]] = da.drop_encoding()
    return xr.Dataset(out, attrs=ds.attrs)


def floor_netcdf(params: Mapping[str, Any]) -> None:
    out = _floor_dataset(params)
    encoding = {}
    for ref in params["reference"]:
        enc: dict[str, Any] = dict(zlib=True, complevel=1, shuffle=True)
        if np.dtype(ref["dtype"]).kind == "f":
            enc["_FillValue"] = np.nan
        if ref["chunks"]:
            enc["chunksizes"] = ref["chunks"]
        encoding[ref["name"]] = enc
    out.to_netcdf(params["output"], engine="netcdf4", format="NETCDF4", encoding=encoding)


def floor_zarr(params: Mapping[str, Any]) -> None:
    _floor_dataset(params).to_zarr(params["output"], mode="w")


def read_alone(params: Mapping[str, Any]) -> None:
    from dask.base import compute

    ds = _open_input(params["input"], params["chunks"])
    compute(*(ds[v].data.max() for v in ds.data_vars))   # a max: reading, next to no computing


def hand_chain(t2m: FloatArray, d2m: FloatArray, tcc: FloatArray, u10: FloatArray, v10: FloatArray,
               ssrd: FloatArray | None, hour: FloatArray, doy: FloatArray, lat: FloatArray,
               lon: FloatArray, albedo: float = 0.2, emissivity: float = 0.95, bowen: float = 0.8,
               person_albedo: float = 0.3, svf: float = 1.0) -> FloatArray:
    """The command's chain in NumPy expressions, chain.py's formulas for the
    module's functions, DISC's NumPy form (quarnel.decomposition.disc) and
    the ground's balance written out: ERA5 units in, mean radiant
    temperature [°C] out."""
    import importlib

    from quarnel.decomposition import disc, station_pressure
    c: Any = importlib.import_module("chain")    # untyped: its formulas stay as chain.py has them

    t = t2m.astype(np.float64) - 273.15
    td = d2m.astype(np.float64) - 273.15
    n = 8.0 * tcc.astype(np.float64)
    wind = np.hypot(u10.astype(np.float64), v10.astype(np.float64))
    e, sat = _magnus(td), _magnus(t)
    rh = np.minimum(100.0 * e / sat, 100.0)
    local = hour + lon / 15.0
    shift = np.floor(local / 24.0)
    day = doy + shift
    szeit = c.np_sonnenzeit(local - 24.0 * shift + c._ers(day), 0.0, 0.0, day)
    zen = c.np_zenitwinkel(szeit, lat, day)
    linke = c.np_linke(day, lat, 0.0)             # the seasonal turbidity
    glob = c.np_maxglobal(day, 0.0, zen, linke) * (1 - 0.75 * (n / 8) ** 3.4)
    if ssrd is not None:
        glob = np.maximum(ssrd.astype(np.float64), 0.0) / 3600.0
    up = np.minimum(zen, 90.0)
    cosz = np.maximum(np.cos(np.radians(up)), 0.0)
    with np.errstate(divide="ignore", invalid="ignore"):
        direct = np.where(cosz > 0, np.minimum(disc(glob, cosz, day, station_pressure(0.0)),
                                               glob / np.where(cosz > 0, cosz, 1.0)), 0.0)
    diffuse = np.maximum(glob - direct * cosz, 0.0)
    sky = c.np_gegenstr(t, e, n)
    ground = emissivity * _black(_surface(albedo, emissivity, bowen, glob, sky, t, wind)) \
        + (1 - emissivity) * sky
    tmrt: FloatArray = c.np_mittl(up, 0.5 * (1 - svf) * _black(t), 0.5 * ground, 0.5 * svf * sky,
                                  0.5 * svf * diffuse + 0.5 * albedo * glob, direct, person_albedo)
    return tmrt


def _surface(albedo: float, emissivity: float, bowen: float, glob: FloatArray, sky: FloatArray,
             t: FloatArray, wind: FloatArray) -> FloatArray:
    """The ground's closed balance: linearised, then Newton's steps, the
    transfer at least free convection."""
    gain = (1 - albedo) * glob + emissivity * sky
    tk = t + 273.15
    q = gain - emissivity * SIGMA * tk ** 4
    keep = 1 - np.where(q > 0, 0.19, 0.32)
    k = 1 + 1 / bowen
    forced = 6.2 + 4.26 * wind
    dt = keep * q / (k * forced + keep * 4 * emissivity * SIGMA * tk ** 3)
    for _ in range(5):
        free = 1.52 * np.cbrt(np.maximum(dt, 0.0))
        h, dh = np.where(free > forced, free, forced), np.where(free > forced, 4 / 3 * free, forced)
        emitted = emissivity * SIGMA * (tk + dt) ** 4
        dt = dt - (keep * (gain - emitted) - k * h * dt) / (-keep * 4 * emitted / (tk + dt) - k * dh)
    out: FloatArray = t + dt
    return out


def _magnus(t: FloatArray) -> FloatArray:
    """Saturation vapour pressure [hPa] at t [°C] (Magnus, Sonntag 1990)."""
    return 6.112 * np.exp(17.62 * t / (243.12 + t))


def _black(t: FloatArray) -> FloatArray:
    return SIGMA * (t + 273.15) ** 4


def hand_script(params: Mapping[str, Any]) -> None:
    """What a user writes: open, apply_ufunc over dask blocks, to_netcdf."""
    import xarray as xr

    sys.path.insert(0, str(HERE))
    ds = _open_input(params["input"], params["chunks"])
    utc = ds["valid_time"]
    hour = utc.dt.hour + utc.dt.minute / 60.0
    doy = utc.dt.dayofyear.astype(np.float64)
    args = [ds[v] for v in ("t2m", "d2m", "tcc", "u10", "v10")]
    has_ssrd = "ssrd" in ds

    def block(*a: FloatArray) -> npt.NDArray[np.float32]:
        t2m, d2m, tcc, u10, v10 = a[:5]
        ssrd = a[5] if has_ssrd else None
        hour, doy, lat, lon = a[-4:]
        with np.errstate(all="ignore"):
            return hand_chain(t2m, d2m, tcc, u10, v10, ssrd, hour, doy, lat, lon).astype(np.float32)

    inputs = [*args, *([ds["ssrd"]] if has_ssrd else []), hour.astype(np.float64), doy,
              ds["latitude"], ds["longitude"]]
    tmrt = xr.apply_ufunc(block, *inputs, dask="parallelized", output_dtypes=[np.float32])
    tmrt = tmrt.transpose(*ds["t2m"].dims).assign_attrs(units="degC", long_name="mean radiant temperature")
    chunks = [min(params["chunks"].get(d, n), n) for d, n in zip(tmrt.dims, tmrt.shape)]
    tmrt.to_dataset(name="mean_radiant_temperature").to_netcdf(
        params["output"], engine="netcdf4", encoding={"mean_radiant_temperature": dict(
            zlib=True, complevel=1, shuffle=True, chunksizes=chunks, _FillValue=np.float32(np.nan))})


CHILDREN: dict[str, Callable[[Mapping[str, Any]], None]] = {
    "floor-netcdf": floor_netcdf, "floor-zarr": floor_zarr, "read": read_alone, "hand": hand_script,
}


# Comparing outputs ---------------------------------------------------------------

def max_difference(a: pathlib.Path, b: pathlib.Path, name: str) -> float:
    """Largest |a - b| of a variable in two outputs (NaN where they disagree on missing)."""
    import xarray as xr

    def open_(p: pathlib.Path) -> Any:
        return xr.open_zarr(p) if p.is_dir() else xr.open_dataset(p, engine="netcdf4", chunks={})

    with open_(a) as x, open_(b) as y:
        u, v = x[name].astype(np.float64), y[name].astype(np.float64).transpose(*x[name].dims)
        both = np.isnan(u) & np.isnan(v)
        diff = abs(u - v).where(~both, 0.0)
        return float(diff.max().compute())


def identical(a: pathlib.Path, b: pathlib.Path) -> tuple[bool, str]:
    """Every data variable the same, value for value (missing where missing)."""
    import xarray as xr

    def open_(p: pathlib.Path) -> Any:
        return xr.open_zarr(p) if p.is_dir() else xr.open_dataset(p, engine="netcdf4", chunks={})

    with open_(a) as x, open_(b) as y:
        if set(x.data_vars) != set(y.data_vars):
            return False, f"variables differ: {sorted(set(x.data_vars) ^ set(y.data_vars))}"
        for name in x.data_vars:
            u, v = x[name], y[name]
            if u.dtype != v.dtype or u.shape != v.shape:
                return False, f"{name}: {u.dtype}{u.shape} against {v.dtype}{v.shape}"
            same = ((u == v) | (np.isnan(u) & np.isnan(v))) if u.dtype.kind == "f" else (u == v)
            if not bool(same.all().compute()):
                return False, f"{name} differs"
    return True, "identical"


# The report -----------------------------------------------------------------------

def processor() -> str:
    name = ""
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        name = next((line.split(":", 1)[1].strip() for line in out.splitlines()
                     if line.startswith("Model name")), "")
    except OSError:
        pass
    name = name or platform.processor() or platform.machine()
    try:
        import quarnel
        isa = str(getattr(quarnel, "_isa"))
    except (ImportError, AttributeError):
        isa = "unknown"
    return f"{name}, instruction set {isa}, {usable_cores()} usable cores of {os.cpu_count()}"


def usable_cores() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:   # not on Linux
        return os.cpu_count() or 1


def versions() -> str:
    from importlib import metadata

    parts = [f"Python {sys.version.split()[0]}"]
    for dist in ("quarnel", "numpy", "xarray", "netCDF4", "zarr", "dask", "distributed"):
        try:
            parts.append(f"{dist} {metadata.version(dist)}")
        except metadata.PackageNotFoundError:
            parts.append(f"{dist} missing")
    return ", ".join(parts)


def has_module(name: str) -> bool:
    import importlib.util
    return importlib.util.find_spec(name) is not None


@dataclasses.dataclass
class Line:
    label: str
    run: Measured | None          # None: not run (reason in note)
    site_hours: int
    note: str = ""
    output: pathlib.Path | None = None
    identical: bool | None = None      # 5 only: judged against the local Zarr output

    def text(self) -> str:
        if self.run is None:
            return f"  {self.label:<52} {self.note}"
        if not self.run.ok:
            last = (self.run.stderr.strip().splitlines() or ["?"])[-1]
            return f"  {self.label:<52} failed (status {self.run.status}): {last[:120]}"
        rate = self.site_hours / self.run.seconds / 1e6
        size = f"{size_mb(self.output):8.1f}" if self.output is not None else f"{'':8}"
        return (f"  {self.label:<52}{self.run.seconds:8.2f}{rate:9.2f}{self.run.peak_mb:9.0f}{size}"
                + (f"  {self.note}" if self.note else ""))


def header() -> str:
    return f"  {'':<52}{'s':>8}{'M s-h/s':>9}{'peak MB':>9}{'out MB':>8}"


def measured(line: Line) -> Measured | None:
    return line.run if line.run is not None and line.run.ok else None


def verdict(value: float | None, met: Callable[[float], bool], unit: str) -> str:
    """ "met", "not met (measured X)" or n/a for a value not measured."""
    if value is None:
        return NA
    return "met" if met(value) else f"not met (measured {value:.2f}{unit})"


# Running it all ---------------------------------------------------------------------

def tiny_input(workdir: pathlib.Path) -> pathlib.Path:
    return cached_input(workdir, Grid(24, 3, 4))


@dataclasses.dataclass
class Options:
    site_hours: int
    workdir: pathlib.Path
    fluxes: bool
    memory_scale: bool
    repeats: int
    keep: bool
    floor_fill: str = "inputs"


def bench(opts: Options) -> None:
    grid = grid_for(opts.site_hours)
    print(f"processor: {processor()}")
    print(f"versions: {versions()}")
    t0 = time.perf_counter()
    src = cached_input(opts.workdir, grid, opts.fluxes)
    made = time.perf_counter() - t0
    print(f"input: {src} ({grid.ntime} h x {grid.nlat} x {grid.nlon} = {grid.site_hours:,} site-hours, "
          f"{size_mb(src):.1f} MB{'; made in %.1f s' % made if made > 1 else ', cached'})")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="jobbench-", dir=opts.workdir))
    try:
        support = probe_support(tiny_input(opts.workdir), scratch)
        print(f"this build: {support.describe()}")
        zarr_ok = has_module("zarr")
        report(opts, grid, src, scratch, support, zarr_ok)
    finally:
        if opts.keep:
            print(f"outputs kept in {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)


def report(opts: Options, grid: Grid, src: pathlib.Path, scratch: pathlib.Path, support: Support,
           zarr_ok: bool) -> None:
    n, reps = grid.site_hours, opts.repeats
    lines: dict[str, Line] = {}

    def cmd_line(key: str, label: str, out: pathlib.Path, *extra: str) -> Line:
        run = repeat(command(src, "-o", out, *extra), reps, lambda: remove(out))
        lines[key] = Line(label, run, n, output=out if run.ok else None)
        return lines[key]

    out1 = scratch / "default.nc"
    first = cmd_line("default", "1 command, default outputs -> NetCDF", out1)
    if first.run is not None and first.run.ok:
        refs = reference_variables(out1)
        kinds = sorted({r["dtype"] for r in refs})
        first.note = f"{len(refs)} variables, {'/'.join(kinds)}"

    outi = scratch / "indices.nc"
    if support.variables and support.indices:
        cmd_line("indices", f"1 command, --variables {INDICES} -> NetCDF", outi, "--variables",
                 INDICES)
    else:
        lines["indices"] = Line(f"1 command, --variables {INDICES} -> NetCDF", None, n, NA)
    remove(outi)

    all64 = support.variables and support.dtype
    out2, out2z = scratch / "all64.nc", scratch / "all64.zarr"
    if all64:
        cmd_line("all64", "2 command, all float64 -> NetCDF", out2, "--variables", "all", "--dtype", "float64")
    else:
        lines["all64"] = Line("2 command, all float64 -> NetCDF", None, n, NA)
    if all64 and support.zarr_output:
        cmd_line("all64z", "2 command, all float64 -> Zarr", out2z, "--variables", "all",
                 "--dtype", "float64")
    else:
        lines["all64z"] = Line("2 command, all float64 -> Zarr", None, n, NA)

    # The floors write what 2 wrote; where 2 could not run, what 1 wrote.
    ref_path = out2 if measured(lines["all64"]) else out1
    ref_from = "2" if measured(lines["all64"]) else "1"
    refs = reference_variables(ref_path) if ref_path.exists() else []
    chunks = dict(COMMAND_CHUNKS)
    if refs:
        fout = scratch / "floor.nc"
        run = repeat(child("floor-netcdf", input=str(src), reference=refs, output=str(fout), chunks=chunks,
                           fill=opts.floor_fill),
                     reps, lambda: remove(fout))
        lines["floor"] = Line(f"3 floor: read + write {len(refs)} vars of {ref_from} -> NetCDF", run, n,
                              output=fout if run.ok else None)
        zref = reference_variables(out2z) if out2z.exists() else refs
        if zarr_ok:
            zout = scratch / "floor.zarr"
            run = repeat(child("floor-zarr", input=str(src), reference=zref, output=str(zout), chunks=chunks,
                               fill=opts.floor_fill),
                         reps, lambda: remove(zout))
            lines["floorz"] = Line(f"3 floor: read + write {len(zref)} vars of {ref_from} -> Zarr", run, n,
                                   output=zout if run.ok else None)
        else:
            lines["floorz"] = Line("3 floor: read + write -> Zarr", None, n, "n/a (zarr not installed)")
        m1, mf = measured(first), measured(lines["floor"])
        if ref_from == "1" and m1 and mf:
            lines["floor"].note = f"1 takes {m1.seconds / mf.seconds:.2f}x this"
    lines["read"] = Line("3 floor: read alone", repeat(child("read", input=str(src), chunks=chunks), reps),
                         n)

    hout = scratch / "hand.nc"
    run = repeat(child("hand", input=str(src), output=str(hout), chunks=chunks), reps, lambda: remove(hout))
    lines["hand"] = Line("4 xarray + NumPy by hand -> NetCDF (Tmrt f32)", run, n,
                         output=hout if run.ok else None)
    if run.ok and first.run is not None and first.run.ok:
        lines["hand"].note = (f"the model before radiation was used as measured; max |diff| to 1: "
                              f"{max_difference(hout, out1, 'mean_radiant_temperature'):.2g} K")

    cluster = cluster_line(src, scratch, support, out2z if measured(lines["all64z"]) else out1, n)
    lines["cluster"] = cluster

    scaled: Line | None = None
    if opts.memory_scale:
        big = grid_for(SCALED_SITE_HOURS, grid.nlat, grid.nlon)
        bsrc = cached_input(opts.workdir, big, opts.fluxes)
        bout = scratch / "scaled.nc"
        run = repeat(command(bsrc, "-o", bout), 1, lambda: remove(bout))
        scaled = Line(f"1 at {big.site_hours:,} site-hours", run, big.site_hours, output=bout if run.ok else None)
        lines["scaled"] = scaled

    print(f"\nThe command and its floors ({n:,} site-hours; best of {reps}; floors filled with "
          f"{opts.floor_fill}; M s-h/s = million site-hours per s)")
    print(header())
    for line in lines.values():
        print(line.text())
    targets(lines, scaled)


def cluster_line(src: pathlib.Path, scratch: pathlib.Path, support: Support, local: pathlib.Path,
                 n: int) -> Line:
    """5: the command as the client of a LocalCluster. Without Zarr output,
    to NetCDF, checked against 1 (shown, but no target is judged on it)."""
    if not support.scheduler or not has_module("distributed"):
        return Line("5 command --scheduler LocalCluster(2 x 1)", None, n, NA)
    from distributed import Client, LocalCluster

    zarr = support.zarr_output
    out = scratch / ("cluster.zarr" if zarr else "cluster.nc")
    extra = ["--variables", "all", "--dtype", "float64"] if zarr and support.variables and support.dtype else []
    label = "5 command --scheduler LocalCluster(2x1) -> " + ("Zarr" if zarr else "NetCDF")
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as lc, Client(lc) as client:
        run = run_child(command(src, "-o", out, "--scheduler", lc.scheduler_address, *extra))
        workers = client.run(_own_peak_mb)
    line = Line(label, run, n, output=out if run.ok else None)
    if run.ok:
        same, why = identical(out, local)
        line.note = (f"{why} to {'2 (Zarr)' if zarr else '1'}; workers' peak "
                     f"{max(workers.values()):.0f} MB" + ("" if zarr else "; Zarr output " + NA))
        line.identical = same if zarr else None
    return line


def _own_peak_mb() -> float:
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def targets(lines: Mapping[str, Line], scaled: Line | None) -> None:
    def rate(key: str) -> float | None:
        m = measured(lines[key]) if key in lines else None
        return lines[key].site_hours / m.seconds if m else None

    def ratio(a: str, b: str) -> float | None:
        if a not in lines or b not in lines:
            return None
        x, y = measured(lines[a]), measured(lines[b])
        return x.seconds / y.seconds if x and y else None

    print("\nTargets")
    r1 = rate("default")
    print(f"  default outputs >= 1.5 M site-hours/s: "
          f"{verdict(None if r1 is None else r1 / 1e6, lambda r: r >= 1.5, ' M/s')}")
    x = ratio("all64", "floor")
    print(f"  all float64 to NetCDF <= 1.15x its floor: {verdict(x, lambda r: r <= 1.15, 'x')}")
    x = ratio("all64z", "floorz")
    print(f"  all float64 to Zarr < its floor: {verdict(x, lambda r: r < 1.0, 'x')}")
    ri = rate("indices")
    print(f"  --variables {INDICES} >= 1.0 M site-hours/s: "
          f"{verdict(None if ri is None else ri / 1e6, lambda r: r >= 1.0, ' M/s')}")
    peaks = [m.peak_mb for k in ("default", "indices", "all64", "all64z")
             if k in lines and (m := measured(lines[k]))]
    print(f"  peak memory <= 500 MB: {verdict(max(peaks) if peaks else None, lambda p: p <= 500, ' MB')}")
    if scaled is not None:
        a, b = measured(lines["default"]), measured(scaled)
        grow = 100 * (b.peak_mb / a.peak_mb - 1) if a and b else None
        print(f"  peak memory at {scaled.site_hours:,} within 10 % of {lines['default'].site_hours:,}: "
              f"{verdict(grow, lambda g: abs(g) <= 10, ' %')}")
    c = lines["cluster"]
    m = measured(c)
    if m is None or c.identical is None:
        print(f"  LocalCluster client peak <= 300 MB: {NA}")
        print(f"  LocalCluster values identical to the local run: {NA}")
    else:
        print(f"  LocalCluster client peak <= 300 MB: {verdict(m.peak_mb, lambda p: p <= 300, ' MB')}")
        print(f"  LocalCluster values identical to the local run: {'met' if c.identical else 'not met'}")


# Only compute ---------------------------------------------------------------------

def sites_series(n: int, with_radiation: bool, seed: int = 11) -> tuple[dict[str, Any], FloatArray, FloatArray]:
    """An hourly series at 100 sites, site after site, as compute takes it."""
    rng = np.random.default_rng(seed)
    sites = 100
    per = n // sites
    site = np.repeat(np.arange(sites), per)
    hours = np.tile(np.arange(per, dtype=np.float64), sites)
    lat = rng.uniform(35.0, 65.0, sites)[site]
    lon = rng.uniform(-10.0, 30.0, sites)[site]
    w = weather(hours, lat, lon, rng)
    obs: dict[str, Any] = {
        "time": START + hours.astype("timedelta64[h]"),
        "air_temperature": w["t2m"] - 273.15, "dew_point": w["d2m"] - 273.15,
        "cloud_cover": 8.0 * w["tcc"], "wind_speed": np.hypot(w["u10"], w["v10"]),
    }
    if with_radiation:
        obs["global_radiation"] = w["ssrd"] / 3600.0
    return obs, lat, lon


def compute_only(n: int, repeats: int) -> None:
    from quarnel import tmrt

    print(f"processor: {processor()}")
    print(f"versions: {versions()}")
    print(f"\nquarnel.tmrt.compute on a mapping of NumPy arrays, {n:,} site-hours (100 sites) "
          f"[ns per site-hour, best of {repeats}]")
    # The model's outputs without the indices that solve a body or an
    # instrument (what compute gave before them), and the indices' case.
    solved = {"pet", "pet_shade", "wbgt", "wbgt_shade", "globe_temperature",
              "natural_wet_bulb_temperature"}
    choices = {"": [k for k in tmrt.OUTPUTS if k not in solved], ", " + INDICES: INDICES.split(",")}
    for with_radiation in (False, True):
        obs, lat, lon = sites_series(n, with_radiation)
        for label, variables in choices.items():
            tmrt.compute(obs, latitude=lat, longitude=lon, variables=variables)   # warm the pools
            t = math.inf
            for _ in range(repeats):
                t0 = time.perf_counter()
                tmrt.compute(obs, latitude=lat, longitude=lon, variables=variables)
                t = min(t, time.perf_counter() - t0)
            what = ("with" if with_radiation else "without") + " global_radiation" + label
            print(f"  {what:<44}{t / n * 1e9:8.1f} ns  ({n / t / 1e6:.2f} M site-hours/s)")


# Entry point ------------------------------------------------------------------------

def default_workdir() -> pathlib.Path:
    return pathlib.Path(tempfile.gettempdir()) / "quarnel-jobbench"


def parse(argv: Sequence[str] | None = None) -> argparse.Namespace:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0] if __doc__ else None)
    p.add_argument("--quick", action="store_true", help=f"a smoke run of about {QUICK_SITE_HOURS:,} site-hours")
    p.add_argument("--site-hours", type=int, metavar="N",
                   help=f"size of the input (default {DEFAULT_SITE_HOURS:,}; whole days of 60 x 80 points)")
    p.add_argument("--workdir", type=pathlib.Path, default=default_workdir(), metavar="DIR",
                   help="where inputs are cached and outputs written (default %(default)s)")
    p.add_argument("--era5-fluxes", action="store_true", help="also fdir, strd, ssr and str in the input")
    p.add_argument("--memory-scale", action="store_true",
                   help=f"also run the default command at {SCALED_SITE_HOURS:,} site-hours")
    p.add_argument("--repeats", type=int, default=1, metavar="N", help="runs of each variant (best time)")
    p.add_argument("--keep", action="store_true", help="keep the outputs")
    p.add_argument("--floor-fill", choices=["inputs", "full"], default="inputs",
                   help="the floors' float64 values: the input's widened (default), or with their "
                        "low bits filled, to compress about as computed values do")
    p.add_argument("--compute-only", action="store_true",
                   help="time quarnel.tmrt.compute on NumPy arrays of 10^6 site-hours")
    return p.parse_args(argv)


def main(argv: Sequence[str] | None = None) -> None:
    args = list(sys.argv[1:] if argv is None else argv)
    if args[:1] == ["--child"]:
        CHILDREN[args[1]](json.loads(args[2]))
        return
    opts = parse(args)
    if opts.compute_only:
        compute_only(100_000 if opts.quick else 1_000_000, 3 if opts.quick else 7)
        return
    n = opts.site_hours or (QUICK_SITE_HOURS if opts.quick else DEFAULT_SITE_HOURS)
    bench(Options(n, opts.workdir, opts.era5_fluxes, opts.memory_scale, max(1, opts.repeats), opts.keep,
                  opts.floor_fill))


if __name__ == "__main__":
    main()
