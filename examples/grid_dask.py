"""Mean radiant temperature over a gridded day, with xarray and dask.

    python examples/grid_dask.py [--step DEG] [--chunk N]
                                 [--scheduler threads|distributed|both]
                                 [--plot PATH | --no-plot]

A latitude x longitude grid over Europe (35-70 °N, 10 °W-30 °E, every 0.5°
by default) and the 24 hours of 21 June 2023 (UTC) make a lazy, chunked
Dataset of weather; quarnel.tmrt.compute turns it into a lazy Dataset of
every radiation term and the mean radiant temperature, which is computed
with dask's threaded scheduler and then on a dask.distributed LocalCluster
of two worker processes, each time under dask's progress bar, and the two
answers are compared.

The weather is made up, smooth and plausible (not a forecast): a daily
cycle of air temperature that falls with latitude, a fixed dew point per
latitude, a pattern of cloud, a breeze that freshens northwards and a
gentle relief. The model's assumptions are quarnel.tmrt's defaults. For
NetCDF files (ERA5 and the like) the command does the same block by block:
`quarnel tmrt era5.nc -o tmrt.nc`.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
import time

import numpy as np
import pandas as pd
import xarray as xr

from quarnel import tmrt

DEFAULT_PLOT = pathlib.Path("grid_dask.png")


def weather(step: float = 0.5, chunk: int | None = 20,
            lat: tuple[float, float] = (35.0, 70.0),
            lon: tuple[float, float] = (-10.0, 30.0)) -> xr.Dataset:
    """The grid and its made-up weather; dask-backed (lazy) when chunk is given."""
    lats = np.arange(lat[0], lat[1] + step / 2, step)
    lons = np.arange(lon[0], lon[1] + step / 2, step)
    times = pd.date_range("2023-06-21", periods=24, freq="h")
    la = xr.DataArray(lats, dims="latitude", coords={"latitude": lats})
    lo = xr.DataArray(lons, dims="longitude", coords={"longitude": lons})
    hour = xr.DataArray(np.arange(24.0), dims="time", coords={"time": times})

    local = hour + lo / 15.0                      # local mean solar time, roughly
    mean_t: xr.DataArray = 27.0 - 0.4 * (la - 35.0)
    air = mean_t + 6.0 * np.cos(2 * np.pi * (local - 15.0) / 24.0)
    pattern = 3.0 * np.sin(np.radians(9.0 * lo)) * np.cos(np.radians(12.0 * la))
    daily = 1.5 * np.sin(2 * np.pi * (local - 9.0) / 24.0)
    cloud = xr.DataArray(3.0 + pattern + daily).clip(0.0, 8.0)   # octas
    ds = xr.Dataset({
        "air_temperature": (air + 273.15).assign_attrs(units="K"),
        "dew_point": (mean_t - 9.0).assign_attrs(units="degC"),
        "cloud_cover": (cloud / 8).assign_attrs(units="(0 - 1)"),
        "wind_speed": (1.5 + 0.08 * (la - 35.0)).assign_attrs(units="m s-1"),
    }).transpose("time", "latitude", "longitude")
    ds["height"] = 400.0 * (1.0 + np.sin(np.radians(25.0 * lo)) * np.sin(np.radians(30.0 * la)))
    if chunk is not None:
        ds = ds.chunk({"time": -1, "latitude": chunk, "longitude": chunk})
    return ds


def mean_radiant_temperature(ds: xr.Dataset) -> xr.DataArray:
    """Lazy when ds is dask-backed. Dimensions time, latitude, longitude."""
    result: xr.DataArray = tmrt.compute(ds, height=ds["height"])["mean_radiant_temperature"]
    return result


def run_threads(tmrt_: xr.DataArray) -> xr.DataArray:
    from dask.diagnostics.progress import ProgressBar

    with ProgressBar():
        return tmrt_.compute(scheduler="threads")


def run_distributed(tmrt_: xr.DataArray, n_workers: int = 2,
                    progress: bool = True) -> tuple[xr.DataArray, list[int]]:
    """On a LocalCluster of worker processes on this machine; also gives the
    process ids of the workers."""
    from distributed import Client, LocalCluster
    from distributed.diagnostics.progressbar import progress as progress_bar

    with LocalCluster(n_workers=n_workers, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=None) as cluster, \
            Client(cluster) as client:
        future = client.compute(tmrt_)
        if progress:
            progress_bar(future)
            print()
        result: xr.DataArray = future.result()
        pids: dict[str, int] = client.run(os.getpid)
        return result, sorted(pids.values())


def summary(t: xr.DataArray) -> str:
    daily_max = t.max("time")
    noon = t.isel(time=12)
    hottest = daily_max.argmax(...)
    return "\n".join([
        f"mean radiant temperature on 21 June, {t.sizes['latitude']} x {t.sizes['longitude']} "
        f"grid points x {t.sizes['time']} hours",
        f"  at 12 UTC: {float(noon.min()):6.1f} .. {float(noon.max()):6.1f} °C",
        f"  daily maximum: {float(daily_max.min()):6.1f} .. {float(daily_max.max()):6.1f} °C, "
        f"highest at {float(t['latitude'][hottest['latitude']]):.1f} °N "
        f"{float(t['longitude'][hottest['longitude']]):.1f} °E",
        f"  night minimum: {float(t.min()):6.1f} °C",
    ])


def plot(t: xr.DataArray, path: pathlib.Path) -> None:
    """Two maps: 12 UTC and the daily maximum."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 2, figsize=(11, 4.5), constrained_layout=True)
    for ax, field, title in [(axes[0], t.isel(time=12), "12 UTC"),
                             (axes[1], t.max("time"), "daily maximum")]:
        mesh = ax.pcolormesh(field["longitude"], field["latitude"],
                             field.transpose("latitude", "longitude"), cmap="inferno",
                             shading="nearest")
        fig.colorbar(mesh, ax=ax, label="Tmrt [°C]")
        ax.set_xlabel("longitude [°E]")
        ax.set_ylabel("latitude [°N]")
        ax.set_title(f"mean radiant temperature, {title}")
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--step", type=float, default=0.5, help="grid spacing [°]")
    parser.add_argument("--chunk", type=int, default=20, help="grid points per chunk and axis")
    parser.add_argument("--scheduler", choices=["threads", "distributed", "both"], default="both")
    parser.add_argument("--plot", type=pathlib.Path, default=DEFAULT_PLOT, help="PNG to write")
    parser.add_argument("--no-plot", action="store_true")
    args = parser.parse_args(argv)

    lazy = mean_radiant_temperature(weather(args.step, args.chunk))
    print(f"{lazy.size} points in {lazy.data.npartitions} chunks, not computed yet")

    results: dict[str, xr.DataArray] = {}
    if args.scheduler in ("threads", "both"):
        start = time.perf_counter()
        results["threads"] = run_threads(lazy)
        print(f"threaded scheduler: {time.perf_counter() - start:.1f} s")
    if args.scheduler in ("distributed", "both"):
        start = time.perf_counter()
        results["distributed"], pids = run_distributed(lazy)
        print(f"LocalCluster, worker processes {', '.join(map(str, pids))}: "
              f"{time.perf_counter() - start:.1f} s (with starting the cluster)")
    if len(results) == 2:
        same = bool((results["threads"] == results["distributed"]).all())
        print(f"both schedulers give the same values: {same}")

    result = next(iter(results.values()))
    print(summary(result))
    if not args.no_plot:
        plot(result, args.plot)
        print(f"plot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
