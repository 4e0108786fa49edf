"""Mean radiant temperature over a gridded day, with xarray and dask.

    python examples/grid_dask.py [--step DEG] [--chunk N]
                                 [--scheduler threads|distributed|both]
                                 [--plot PATH | --no-plot]

A latitude x longitude grid over Europe (35-70 °N, 10 °W-30 °E, every 0.5°
by default) and the 24 hours of 21 June (UTC) make a lazy, chunked
computation of the mean radiant temperature of a person outdoors. It runs
with dask's threaded scheduler and then on a dask.distributed LocalCluster
of two worker processes, each time under dask's progress bar, and the two
answers are compared.

The weather is made up, smooth and plausible (not a forecast): a daily
cycle of air temperature that falls with latitude, a fixed dew point per
latitude (giving vapour pressure and relative humidity through the Magnus
formula), a pattern of cloud, a breeze that freshens northwards and a
gentle relief. Radiation and the person follow the same assumptions as
examples/day_at_a_site.py (see its docstring): clouds reduce the global
radiation after Kasten and Czeplak, the ground is a lawn (albedo 0.2,
emissivity 0.95, Bowen ratio 0.8), the person has albedo 0.3 and the view
factors are 0.5 per hemisphere with a sky view factor of 0.8.

Two kinds of function meet here:

* Element-wise functions (Zenitwinkel, DirStrMBew, AtmosGegenstr,
  MittlStrTemp) take the xarray DataArrays directly; on dask-backed
  DataArrays they only add tasks to the graph.
* Functions with a scalar-only argument (Sonnenzeit, LinkeTruebung,
  RelOptLuftmasse, MaxDirekteStrahlung, MaxGlobalstrahlung, OberflTemp)
  branch on a value, so they go through xarray.apply_ufunc with
  vectorize=True and dask="parallelized": each chunk calls them number by
  number. The graph then holds the functions themselves; they pickle by
  reference (module and name), so worker processes import quarnel and find
  them there.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
import time
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt
import xarray as xr

import quarnel.Strahlwerk as S

DAY = 172                  # 21 June
SIGMA = 5.67e-08           # Stefan–Boltzmann constant [W m⁻² K⁻⁴]
GROUND_ALBEDO = 0.2
GROUND_EMISSIVITY = 0.95
BOWEN_RATIO = 0.8
PERSON_ALBEDO = 0.3
SKY_VIEW_FACTOR = 0.8
DEFAULT_PLOT = pathlib.Path("grid_dask.png")

# Applies a function with scalar-only arguments element by element.
Vectorize = Callable[..., Any]


def weather(step: float = 0.5, chunk: int | None = 20,
            lat: tuple[float, float] = (35.0, 70.0),
            lon: tuple[float, float] = (-10.0, 30.0)) -> xr.Dataset:
    """The grid and its made-up weather; dask-backed (lazy) when chunk is given."""
    lats = np.arange(lat[0], lat[1] + step / 2, step)
    lons = np.arange(lon[0], lon[1] + step / 2, step)
    hours = np.arange(24.0)
    la = xr.DataArray(lats, dims="lat", coords={"lat": ("lat", lats, {"units": "°N"})})
    lo = xr.DataArray(lons, dims="lon", coords={"lon": ("lon", lons, {"units": "°E"})})
    hour = xr.DataArray(hours, dims="hour", coords={"hour": ("hour", hours, {"units": "h UTC"})})
    if chunk is not None:
        la, lo = la.chunk({"lat": chunk}), lo.chunk({"lon": chunk})
        hour = hour.chunk({"hour": -1})

    # Local mean solar time; it leaves [0, 24) at the edges of the grid.
    local = hour + lo / 15.0
    mean_t = 27.0 - 0.4 * (la - 35.0)
    air = mean_t + 6.0 * np.cos(2 * np.pi * (local - 15.0) / 24.0)
    dew = mean_t - 9.0
    vapour = magnus(dew)
    rh = 100.0 * vapour / magnus(air)
    cloud = (3.0 + 3.0 * np.sin(np.radians(9.0 * lo)) * np.cos(np.radians(12.0 * la))
             + 1.5 * np.sin(2 * np.pi * (local - 9.0) / 24.0)).clip(0.0, 8.0)
    wind = 1.5 + 0.08 * (la - 35.0)
    height = 400.0 * (1.0 + np.sin(np.radians(25.0 * lo)) * np.sin(np.radians(30.0 * la)))
    return xr.Dataset({
        "local_time": local, "air": air, "vapour": vapour, "rh": rh,
        "cloud": cloud, "wind": wind, "height": height,
    })


def magnus(t: Any) -> Any:
    """Saturation vapour pressure over water [hPa] at t [°C]."""
    return 6.112 * np.exp(17.62 * t / (243.12 + t))


def black_body(t: Any) -> Any:
    return SIGMA * (t + 273.15) ** 4


def chain(v: Vectorize, lat: Any, lon: Any, local_time: Any, air: Any, vapour: Any,
          rh: Any, cloud: Any, wind: Any, height: Any) -> dict[str, Any]:
    """The chain from the weather to the mean radiant temperature, for any
    broadcastable arrays: NumPy arrays, or xarray DataArrays backed by NumPy
    or dask. Only ufuncs and operators, so nothing is computed here when the
    inputs are lazy."""
    szeit = v(S.Sonnenzeit, local_time, 0, lon, DAY)      # brought into [0, 24)
    zenith = S.Zenitwinkel(szeit, lat, DAY)
    linke = v(S.LinkeTruebung, DAY, lat, rh)
    airmass = v(S.RelOptLuftmasse, zenith)                # 999 below the horizon
    direct_clear = v(S.MaxDirekteStrahlung, DAY, height, zenith, linke, airmass)
    global_clear = v(S.MaxGlobalstrahlung, DAY, height, zenith, linke)

    direct = S.DirStrMBew(direct_clear, cloud)
    global_ = global_clear * (1 - 0.75 * (cloud / 8) ** 3.4)
    cos_zenith = np.maximum(np.cos(np.radians(np.minimum(zenith, 90.0))), 0.0)
    diffuse = np.maximum(global_ - direct * cos_zenith, 0.0)
    reflected = GROUND_ALBEDO * global_

    sky = S.AtmosGegenstr(air, vapour, cloud)
    balance = ((1 - GROUND_ALBEDO) * global_ + GROUND_EMISSIVITY * sky
               - GROUND_EMISSIVITY * black_body(air))
    surface = v(S.OberflTemp, balance, air, wind, BOWEN_RATIO)
    ground_longwave = GROUND_EMISSIVITY * black_body(surface) + (1 - GROUND_EMISSIVITY) * sky

    tmrt = S.MittlStrTemp(
        np.minimum(zenith, 90.0),
        0.5 * (1 - SKY_VIEW_FACTOR) * black_body(air),        # EStrOben
        0.5 * ground_longwave,                                 # EStrUnten
        0.5 * SKY_VIEW_FACTOR * sky,                           # AGegenstr
        0.5 * SKY_VIEW_FACTOR * diffuse + 0.5 * reflected,     # DiffStr
        direct,                                                # MaxDirStr
        None,                                                  # ReflStr (not used)
        PERSON_ALBEDO,
        None,                                                  # albedo_env (not used)
    )
    return {"zenith": zenith, "direct": direct, "sky": sky, "surface": surface, "tmrt": tmrt}


def apply_xarray(fn: Callable[..., Any], *args: Any) -> Any:
    return xr.apply_ufunc(fn, *args, vectorize=True, dask="parallelized",
                          output_dtypes=[np.float64])


def apply_numpy(fn: Callable[..., Any], *args: Any) -> npt.NDArray[np.float64]:
    result: npt.NDArray[np.float64] = np.vectorize(fn, otypes=[np.float64])(*args)
    return result


def mean_radiant_temperature(ds: xr.Dataset) -> xr.DataArray:
    """Lazy when ds is dask-backed. Dimensions hour, lat, lon."""
    fields = {name: ds[name] for name in ("local_time", "air", "vapour", "rh", "cloud",
                                          "wind", "height")}
    tmrt: xr.DataArray = chain(apply_xarray, ds["lat"], ds["lon"], **fields)["tmrt"]
    tmrt = tmrt.transpose("hour", "lat", "lon")
    tmrt.name = "tmrt"
    tmrt.attrs.update(units="degC", long_name="mean radiant temperature")
    return tmrt


def mean_radiant_temperature_numpy(ds: xr.Dataset) -> npt.NDArray[np.float64]:
    """The same on plain NumPy arrays of shape (hour, lat, lon), for checking."""
    shape = (ds.sizes["hour"], ds.sizes["lat"], ds.sizes["lon"])
    lat = np.broadcast_to(ds["lat"].values[None, :, None], shape)
    lon = np.broadcast_to(ds["lon"].values[None, None, :], shape)
    fields = {name: np.broadcast_to(ds[name].transpose(*(d for d in ("hour", "lat", "lon")
                                                         if d in ds[name].dims)).values
                                    .reshape([ds.sizes[d] if d in ds[name].dims else 1
                                              for d in ("hour", "lat", "lon")]), shape)
              for name in ("local_time", "air", "vapour", "rh", "cloud", "wind", "height")}
    tmrt: npt.NDArray[np.float64] = chain(apply_numpy, lat, lon, **fields)["tmrt"]
    return tmrt


def run_threads(tmrt: xr.DataArray) -> xr.DataArray:
    from dask.diagnostics.progress import ProgressBar

    with ProgressBar():
        return tmrt.compute(scheduler="threads")


def run_distributed(tmrt: xr.DataArray, n_workers: int = 2,
                    progress: bool = True) -> tuple[xr.DataArray, list[int]]:
    """On a LocalCluster of worker processes on this machine; also gives the
    process ids of the workers."""
    from distributed import Client, LocalCluster
    from distributed.diagnostics.progressbar import progress as progress_bar

    with LocalCluster(n_workers=n_workers, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=None) as cluster, \
            Client(cluster) as client:
        future = client.compute(tmrt)
        if progress:
            progress_bar(future)
            print()
        result: xr.DataArray = future.result()
        pids: dict[str, int] = client.run(os.getpid)
        return result, sorted(pids.values())


def summary(tmrt: xr.DataArray) -> str:
    daily_max = tmrt.max("hour")
    noon = tmrt.sel(hour=12.0)
    hottest = daily_max.argmax(...)
    lines = [
        f"mean radiant temperature on day {DAY}, {tmrt.sizes['lat']} x {tmrt.sizes['lon']} "
        f"grid points x {tmrt.sizes['hour']} hours",
        f"  at 12 UTC: {float(noon.min()):6.1f} .. {float(noon.max()):6.1f} °C",
        f"  daily maximum: {float(daily_max.min()):6.1f} .. {float(daily_max.max()):6.1f} °C, "
        f"highest at {float(tmrt['lat'][hottest['lat']]):.1f} °N "
        f"{float(tmrt['lon'][hottest['lon']]):.1f} °E",
        f"  night minimum: {float(tmrt.min()):6.1f} °C",
    ]
    return "\n".join(lines)


def plot(tmrt: xr.DataArray, path: pathlib.Path) -> bool:
    """Two maps: 12 UTC and the daily maximum. False without matplotlib."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.5), constrained_layout=True)
    for ax, field, title in [(axes[0], tmrt.sel(hour=12.0), "12 UTC"),
                             (axes[1], tmrt.max("hour"), "daily maximum")]:
        mesh = ax.pcolormesh(field["lon"], field["lat"], field.transpose("lat", "lon"),
                             cmap="inferno", shading="nearest")
        fig.colorbar(mesh, ax=ax, label="Tmrt [°C]")
        ax.set_xlabel("longitude [°E]")
        ax.set_ylabel("latitude [°N]")
        ax.set_title(f"mean radiant temperature, {title}")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--step", type=float, default=0.5, help="grid spacing [°]")
    parser.add_argument("--chunk", type=int, default=20, help="grid points per chunk and axis")
    parser.add_argument("--scheduler", choices=["threads", "distributed", "both"], default="both")
    parser.add_argument("--plot", type=pathlib.Path, default=DEFAULT_PLOT, help="PNG to write")
    parser.add_argument("--no-plot", action="store_true")
    args = parser.parse_args(argv)

    tmrt = mean_radiant_temperature(weather(args.step, args.chunk))
    print(f"{tmrt.sizes['hour'] * tmrt.sizes['lat'] * tmrt.sizes['lon']} points in "
          f"{tmrt.data.npartitions} chunks, {len(tmrt.data.dask)} tasks, not computed yet")

    results: dict[str, xr.DataArray] = {}
    if args.scheduler in ("threads", "both"):
        start = time.perf_counter()
        results["threads"] = run_threads(tmrt)
        print(f"threaded scheduler: {time.perf_counter() - start:.1f} s")
    if args.scheduler in ("distributed", "both"):
        start = time.perf_counter()
        results["distributed"], pids = run_distributed(tmrt)
        print(f"LocalCluster, worker processes {', '.join(map(str, pids))}: "
              f"{time.perf_counter() - start:.1f} s (with starting the cluster)")
    if len(results) == 2:
        same = bool((results["threads"] == results["distributed"]).all())
        print(f"both schedulers give the same values: {same}")

    result = next(iter(results.values()))
    print(summary(result))
    if not args.no_plot:
        if plot(result, args.plot):
            print(f"plot written to {args.plot}")
        else:
            print("matplotlib is not installed: no plot (pip install 'quarnel[plot]')")
    return 0


if __name__ == "__main__":
    sys.exit(main())
