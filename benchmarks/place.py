"""Speed of quarnel.place against the Rust SOLWEIG package, side by side.

On a block city (blocks 40 m square split into 1-3 buildings 6-30 m high,
14 m streets, 1 m pixels), one process, the peer on its CPU path
(``solweig.disable_gpu()``), best of each:

* the sky view factor: quarnel.place.sky_view_factor (64 directions) and
  sky_view (with the four half skies) against
  solweig.rustalgos.skyview.calculate_svf (no vegetation; it returns the
  half skies too), on an N x N city (default 500);
* a shadow: quarnel.place.shadow against
  solweig.rustalgos.shadowing.calculate_shadows_wall_ht_25 (buildings
  only), on an M x M city (default 1000), at three sun positions;
* a whole map run: sky view factors, shadows, Tmrt (and UTCI) maps of
  H hours of a summer day, written: ``quarnel tmrt station.csv --dsm
  dsm.tif -o map.nc`` (in this process) against solweig's
  ``SurfaceData.prepare`` + ``calculate`` with the isotropic sky, writing
  its Tmrt and shadow GeoTIFFs, the same DSM and weather (its direct and
  diffuse radiation and sun position given: ours), on a K x K city
  (default 400; --map-hours, default 12); both run once before (imports,
  caches) where that is cheap: ours fully, the peer's on a small city.

The sky view factors are compared (mean difference, mean absolute
difference) and the shadows' agreement is printed before the times. Prints
the processor and the cores the process may use; the ratio is the peer's
time over quarnel's. Without solweig installed, quarnel alone.

    python benchmarks/place.py [--svf-size N] [--shadow-size M] [--map-size K]
                               [--map-hours H] [--rounds R] [--only svf,shadow,map]
"""

from __future__ import annotations

import argparse
import contextlib
import io
import logging
import os
import pathlib
import platform
import tempfile
import time
import warnings
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import place

Array = npt.NDArray[np.float32]
SUNS = ((135.0, 40.0), (200.0, 25.0), (260.0, 12.0))


def processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def usable_cores() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def block_city(n: int, seed: int = 1) -> Array:
    rng = np.random.default_rng(seed)
    dsm = np.zeros((n, n), np.float32)
    block, street = 40, 14
    for r0 in range(street // 2, n, block + street):
        for c0 in range(street // 2, n, block + street):
            cuts = sorted(int(c) for c in rng.integers(5, block - 5, int(rng.integers(0, 3))))
            for a, b in zip([0, *cuts], [*cuts, block]):
                dsm[r0:r0 + block, c0 + a:c0 + b] = rng.uniform(6, 30)
    return dsm


def best(call: Callable[[], Any], rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def summer_day(hours: int) -> Any:
    """A clear summer day at a station in Berlin (UTC+2), ``hours`` hours from 7:00."""
    import pandas as pd

    local = 7.0 + np.arange(hours, dtype=float)
    times = pd.DatetimeIndex([pd.Timestamp(2023, 7, 15) + pd.Timedelta(hours=h) for h in local])
    sun = np.clip(np.sin((local - 5.0) / 16.0 * np.pi), 0.0, None)
    return pd.DataFrame({"air_temperature": 18.0 + 12.0 * sun, "relative_humidity": 50.0,
                         "cloud_cover": 1.0, "wind_speed": 2.0,
                         "global_radiation": np.round(860.0 * sun**1.3, 1)}, index=times)


def map_run(size: int, hours: int, solweig: Any) -> None:
    import rasterio
    from rasterio.transform import from_origin

    from quarnel import cli, tmrt

    dsm = block_city(size)
    obs = summer_day(hours)
    print(f"\nwhole map run, {size} x {size} block city, 1 m pixels, {hours} hours "
          "(sky view factors, shadows, Tmrt maps, writing)")
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        with rasterio.open(folder / "dsm.tif", "w", driver="GTiff", height=size, width=size, count=1,
                           dtype="float32", crs="EPSG:32633",
                           transform=from_origin(390000.0, 5820000.0, 1.0, 1.0)) as dst:
            dst.write(dsm, 1)
        lines = ["time,air_temperature,relative_humidity,cloud_cover,wind_speed,global_radiation"]
        lines += [f"{t.isoformat()}+02:00,{r.air_temperature},{r.relative_humidity},{r.cloud_cover},"
                  f"{r.wind_speed},{r.global_radiation}" for t, r in obs.iterrows()]
        (folder / "station.csv").write_text("\n".join(lines) + "\n")
        def ours(output: str) -> int:
            with contextlib.redirect_stderr(io.StringIO()):
                return cli.main(["tmrt", str(folder / "station.csv"), "--dsm",
                                 str(folder / "dsm.tif"), "-o", str(folder / output)])

        ours("warm.nc")          # the libraries' imports (xarray, netCDF4, ...) out of the time
        start = time.perf_counter()
        status = ours("map.nc")
        t_ours = time.perf_counter() - start
        assert status == 0
        pixel_hours = size * size * hours
        line = (f"  quarnel tmrt --dsm (command)      {t_ours:8.2f} s  "
                f"({t_ours / pixel_hours * 1e6:6.2f} µs/pixel-hour)")
        if solweig is None:
            print(line)
            return
        from quarnel.place.raster import open_file
        centre = open_file(str(folder / "dsm.tif")).centre()     # the site, as the command finds it
        assert centre is not None
        lat, lon = centre
        station = tmrt.compute(obs, latitude=lat, longitude=lon, utc_offset=2.0, sky_view_factor=1.0)
        weather = [solweig.Weather(
            datetime=t.to_pydatetime(), ta=float(o.air_temperature), rh=float(o.relative_humidity),
            global_rad=float(o.global_radiation), ws=float(o.wind_speed),
            measured_direct_rad=float(s.direct_radiation), measured_diffuse_rad=float(s.diffuse_radiation),
            precomputed_sun_altitude=90.0 - float(s.zenith_angle),
            precomputed_sun_azimuth=float(s.azimuth_angle))
            for (t, o), (_, s) in zip(obs.iterrows(), station.iterrows())]
        logging.disable(logging.INFO)
        try:
            with warnings.catch_warnings(), contextlib.redirect_stderr(io.StringIO()):
                warnings.simplefilter("ignore")
                small = solweig.SurfaceData.prepare(dsm=block_city(60), pixel_size=1.0)
                solweig.calculate(small, weather[:1], solweig.Location(latitude=lat, longitude=lon,
                                                                       utc_offset=2),
                                  output_dir=folder / "warm", use_anisotropic_sky=False,
                                  outputs=["tmrt", "shadow"])
                start = time.perf_counter()
                surface = solweig.SurfaceData.prepare(dsm=dsm, pixel_size=1.0)
                t_prepare = time.perf_counter() - start
                solweig.calculate(surface, weather, solweig.Location(latitude=lat, longitude=lon,
                                                                     utc_offset=2),
                                  output_dir=folder / "solweig", use_anisotropic_sky=False,
                                  outputs=["tmrt", "shadow"])
                t_theirs = time.perf_counter() - start
        finally:
            logging.disable(logging.NOTSET)
        print(f"  solweig prepare + calculate       {t_theirs:8.2f} s  "
              f"({t_theirs / pixel_hours * 1e6:6.2f} µs/pixel-hour; prepare {t_prepare:.2f} s)")
        print(line + f"  {t_theirs / t_ours:6.1f}x")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--svf-size", type=int, default=500)
    parser.add_argument("--shadow-size", type=int, default=1000)
    parser.add_argument("--map-size", type=int, default=400)
    parser.add_argument("--map-hours", type=int, default=12)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only", default="svf,shadow,map", help="the parts to run")
    args = parser.parse_args()
    parts = set(args.only.split(","))
    try:
        import solweig
    except ImportError:
        solweig = None
    print(f"{processor()}, {usable_cores()} usable cores of {os.cpu_count()}")

    if solweig is not None:
        solweig.disable_gpu()
    if "map" in parts:
        map_run(args.map_size, args.map_hours, solweig)
    if "svf" in parts:
        sky(args, solweig)
    if "shadow" in parts:
        shadows(args, solweig)


def sky(args: argparse.Namespace, solweig: Any) -> None:
    n = args.svf_size
    dsm = block_city(n)
    zero = np.zeros_like(dsm)
    ours = place.sky_view_factor(dsm, 1.0)
    t_ours = best(lambda: place.sky_view_factor(dsm, 1.0), args.rounds)
    t_halves = best(lambda: place.sky_view(dsm, 1.0), args.rounds)
    print(f"\nsky view factor, {n} x {n} block city, 1 m pixels")
    if solweig is not None:
        solweig.disable_gpu()
        svf = solweig.rustalgos.skyview.calculate_svf

        def theirs_svf() -> Any:
            return svf(dsm, zero, zero, 1.0, False, float(dsm.max()))

        start = time.perf_counter()
        theirs = np.asarray(theirs_svf().svf)
        t_theirs = time.perf_counter() - start      # one round: it takes minutes on large cities
        d = ours - theirs
        print(f"  agreement: mean difference {d.mean():+.4f}, mean |difference| {np.abs(d).mean():.4f}")
        print(f"  solweig calculate_svf      {t_theirs:8.3f} s  ({t_theirs / dsm.size * 1e6:6.2f} µs/pixel)")
    print(f"  quarnel sky_view_factor    {t_ours:8.3f} s  ({t_ours / dsm.size * 1e6:6.2f} µs/pixel)"
          + (f"  {t_theirs / t_ours:6.1f}x" if solweig is not None else ""))
    print(f"  quarnel sky_view (halves)  {t_halves:8.3f} s  ({t_halves / dsm.size * 1e6:6.2f} µs/pixel)"
          + (f"  {t_theirs / t_halves:6.1f}x" if solweig is not None else ""))


def shadows(args: argparse.Namespace, solweig: Any) -> None:
    m = args.shadow_size
    city = block_city(m)
    print(f"\nshadow, {m} x {m} block city, 1 m pixels")
    for azimuth, elevation in SUNS:
        t_ours = best(lambda: place.shadow(city, 1.0, azimuth, elevation), 5 * args.rounds)
        line = f"  sun {azimuth:5.1f}° {elevation:4.1f}°: quarnel {t_ours * 1e3:7.1f} ms"
        if solweig is not None:
            cast = solweig.rustalgos.shadowing.calculate_shadows_wall_ht_25

            def theirs_shadow() -> Any:
                return cast(azimuth, elevation, 1.0, float(city.max()), city)

            agree = np.mean(place.shadow(city, 1.0, azimuth, elevation) == np.asarray(theirs_shadow().bldg_sh))
            t_theirs = best(theirs_shadow, args.rounds)
            line += f", solweig {t_theirs * 1e3:7.1f} ms  {t_theirs / t_ours:6.1f}x  (same state: {agree:.2%})"
        print(line)


if __name__ == "__main__":
    main()
